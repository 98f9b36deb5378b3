// Tallyglass: keeps the Start Menu extension hooked into the shell for as long as it runs.
#include <windows.h>
#include <shellapi.h>

#include "hookbinding.h"
#include "product.h"
#include "resource.h"
#include "support/hresult.h"
#include "systemtray.h"

namespace {

constexpr UINT_PTR KEEPER_TIMER_ID = 1;
constexpr UINT KEEPER_PERIOD_MS = 2500;
constexpr int BUFFER_CHARS = 100;

WCHAR g_title[BUFFER_CHARS];
WCHAR g_className[BUFFER_CHARS];

// Puts the hook back when the shell no longer carries it (first start, shell restart).
void RunKeeper() noexcept
{
    if (g_hookLibrary.IsHookCurrent())
        return;
    if (FindWindowW(START_MENU_CLASS, nullptr))
        g_hookLibrary.TryInstallHook();
}

void OpenHomePage() noexcept
{
    ShellExecuteW(nullptr, L"open", PRODUCT_HOME_PAGE, nullptr, nullptr, SW_SHOWNORMAL);
}

void Quit() noexcept
{
    g_hookLibrary.RemoveHook();
    PostQuitMessage(0);
}

LRESULT HandleMainMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    switch (message) {
    case WM_CREATE:
        SetTimer(hWnd, KEEPER_TIMER_ID, KEEPER_PERIOD_MS, nullptr);
        return 0;
    case WM_DESTROY:
        Quit();
        return 0;
    case WM_ENDSESSION:
        // Also when the session goes on after all: the shell must not keep our hook.
        Quit();
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hWnd, &ps);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_TIMER:
        RunKeeper();
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_ABOUT:
            OpenHomePage();
            return 0;
        case IDM_EXIT:
            DestroyWindow(hWnd);
            return 0;
        }
        break;
    case CSystemTray::CALLBACK_MESSAGE:
        return g_systemTray.HandleCallback(wParam, lParam);
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

LRESULT CALLBACK MainWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallGuarded<LRESULT>(0, [&] { return HandleMainMessage(hWnd, message, wParam, lParam); });
}

void RegisterMainClass(HINSTANCE instance) noexcept
{
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_TALLYGLASS));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEW(IDC_TALLYKEEPER);
    wc.lpszClassName = g_className;
    wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    RegisterClassExW(&wc);
}

int RunMessageLoop(HINSTANCE instance) noexcept
{
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_TALLYKEEPER));
    MSG msg = {};
    BOOL got;
    // -1 is an error, not a message: looping on it would spin for ever.
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) {
        if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return got == 0 ? static_cast<int>(msg.wParam) : 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    LoadStringW(instance, IDS_APP_TITLE, g_title, BUFFER_CHARS);
    LoadStringW(instance, IDC_TALLYKEEPER, g_className, BUFFER_CHARS);
    RegisterMainClass(instance);

    // Never shown, but an ordinary top-level window: it must receive WM_ENDSESSION.
    HWND mainWnd = CreateWindowExW(0, g_className, g_title, 0, 0, 0, 10, 10, nullptr, nullptr, instance,
                                   nullptr);
    if (!mainWnd)
        return 0;
    if (!g_systemTray.Setup(mainWnd, instance, LoadIconW(instance, MAKEINTRESOURCEW(IDI_TALLYGLASS))))
        return 0;
    UpdateWindow(mainWnd);

    const int exitCode = RunMessageLoop(instance);
    g_hookLibrary.RemoveHook();
    return exitCode;
}
