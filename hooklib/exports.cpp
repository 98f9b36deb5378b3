// The library's exports, its entry point and the state that spans processes.
#include <windows.h>
#include <objbase.h>

#include "discovery.h"
#include "hookstate.h"
#include "support/hresult.h"
#include "support/window.h"

#include "exports.h"

// One copy for every process that loads the library: the host writes, the shell reads.
#ifdef _MSC_VER
#pragma data_seg(".SHARED")
volatile bool g_hookInstalled = false;
HHOOK volatile g_hookHandle = nullptr;
#pragma data_seg()
#pragma comment(linker, "/SECTION:.SHARED,RWS")
#else
// In this order: -fno-toplevel-reorder on this file keeps it.
__attribute__((section(".SHARED"), shared)) volatile bool g_hookInstalled = false;
__attribute__((section(".SHARED"), shared)) HHOOK volatile g_hookHandle = nullptr;
#endif

namespace {

// Released after every other object of the library, at unload: static objects go in the
// reverse order of their construction, so the library's objects are defined after this one.
class CModuleResources {
public:
    ~CModuleResources()
    {
        CWindowImpl::UnregisterClass();
        HMODULE uxTheme = g_hUxTheme;
        g_hUxTheme = nullptr;
        if (uxTheme && !m_processExiting)
            FreeLibrary(uxTheme);
    }

    // At process exit other modules may already be gone: leave them alone.
    bool m_processExiting = false;
};

CModuleResources g_moduleResources;

DWORD ProcessOfWindow(HWND hWnd)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(hWnd, &processId);
    return processId;
}

bool IsHookedInCurrentStartMenu()
{
    if (!g_hookInstalled)
        return false;
    HWND startMenu = FindWindowW(START_MENU_CLASS, nullptr);
    return startMenu && ProcessOfWindow(startMenu) == g_shellProcessId;
}

void BroadcastNull()
{
    // The Start Menu is a top-level window: the broadcast passes the hook in the shell.
    SendMessageTimeoutW(HWND_BROADCAST, WM_NULL, 0, 0, SMTO_NORMAL, 1000, nullptr);
}

int Install()
{
    if (IsHookedInCurrentStartMenu())
        return 1;
    HWND startMenu = FindWindowW(START_MENU_CLASS, nullptr);
    if (!startMenu)
        return -1;
    DWORD processId = 0;
    const DWORD threadId = GetWindowThreadProcessId(startMenu, &processId);
    const HOOKPROC hookProc = reinterpret_cast<HOOKPROC>(GetProcAddress(g_hModule, "MyHookProc"));
    if (!hookProc)
        return -1;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, hookProc, g_hModule, threadId);
    // The handle must be in place before the shell can see the flag.
    g_hookHandle = hook;
    MemoryBarrier();
    g_hookInstalled = hook != nullptr;
    if (!hook)
        return -1;
    g_shellProcessId = processId;
    return 1;
}

int Remove()
{
    if (!g_hookInstalled)
        return -1;
    // Cleared before the broadcast, which is what carries the change to the shell's thread:
    // the hook procedure there sees the flag down and detaches.
    g_hookInstalled = false;
    MemoryBarrier();
    BroadcastNull();
    DetachShellObjects();
    if (!UnhookWindowsHookEx(g_hookHandle))
        return -1;
    BroadcastNull();
    g_hookInstalled = false;
    g_shellProcessId = 0;
    return 1;
}

// Once per shell process, on the Start Menu thread; never retried.
void RunShellSetUp()
{
    g_shellInitDone = true;
    CoInitialize(nullptr);
    if (!g_hUxTheme) {
        g_hUxTheme = LoadLibraryW(L"uxtheme.dll");
        if (g_hUxTheme) {
            using BufferedPaintInitProc = HRESULT(WINAPI*)();
            auto bufferedPaintInit =
                reinterpret_cast<BufferedPaintInitProc>(GetProcAddress(g_hUxTheme, "BufferedPaintInit"));
            if (bufferedPaintInit)
                bufferedPaintInit();
        }
    }
}

bool IsSysColorChangeOfStartMenu(LPARAM lParam)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    return sent && g_startMenuWnd == sent->hwnd && sent->message == WM_SYSCOLORCHANGE;
}

template <class TBody>
void RunGuarded(TBody&& body) noexcept
{
    CallGuarded(0, [&] {
        body();
        return 0;
    });
}

}  // namespace

extern "C" int InstallHook(int install)
{
    // Only the low byte is the argument.
    return CallGuarded(-1, [&] { return (install & 0xFF) ? Install() : Remove(); });
}

extern "C" int CheckHook()
{
    return CallGuarded(-1, [] { return IsHookedInCurrentStartMenu() ? 1 : -1; });
}

extern "C" LRESULT CALLBACK MyHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    // Whatever happens here, the rest of the chain sees the message exactly once.
    if (!g_hookInstalled) {
        RunGuarded(DetachShellObjects);
        return CallNextHookEx(g_hookHandle, code, wParam, lParam);
    }
    if (code != HC_ACTION)
        return CallNextHookEx(g_hookHandle, code, wParam, lParam);
    if (!g_shellInitDone)
        RunGuarded(RunShellSetUp);
    if (IsSysColorChangeOfStartMenu(lParam)) {
        // The rest of the chain sees the colour change before discovery rebuilds on it.
        const LRESULT result = CallNextHookEx(g_hookHandle, 0, wParam, lParam);
        RunGuarded(DiscoverStartMenu);
        return result;
    }
    if (!g_startMenuWnd || !IsWindow(g_startMenuWnd))
        RunGuarded(DiscoverStartMenu);
    return CallNextHookEx(g_hookHandle, code, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    g_hModule = instance;
    if (reason == DLL_PROCESS_DETACH)
        g_moduleResources.m_processExiting = reserved != nullptr;
    return TRUE;
}
