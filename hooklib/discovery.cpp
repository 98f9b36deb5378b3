#include "discovery.h"

#include "hookstate.h"

namespace {

HWND FindChild(HWND parent, PCWSTR className)
{
    return parent ? FindWindowExW(parent, nullptr, className, nullptr) : nullptr;
}

// The search edit: Start Menu > "Desktop OpenBox Host" > "Search Box" >
// "SearchEditBoxWrapperClass" > "DirectUIHWND", each the first child of that class.
HWND FindSearchEdit(HWND startMenu)
{
    HWND openBoxHost = FindChild(startMenu, L"Desktop OpenBox Host");
    HWND searchBox = FindChild(openBoxHost, L"Search Box");
    HWND editWrapper = FindChild(searchBox, L"SearchEditBoxWrapperClass");
    return FindChild(editWrapper, L"DirectUIHWND");
}

}  // namespace

void DiscoverStartMenu()
{
    g_startMenuWnd = FindWindowW(START_MENU_CLASS, nullptr);
    if (!g_startMenuWnd)
        return;
    HWND resultsView = FindChild(g_startMenuWnd, L"Desktop Search Open View");
    HWND searchEdit = FindSearchEdit(g_startMenuWnd);
    if (!resultsView || !searchEdit) {
        g_startMenuWnd = nullptr;
        return;
    }
    // The results view and the search edit are attached here once their subclass objects exist.
}

void DetachShellObjects()
{
    // Nothing is attached to the shell's windows yet.
}
