#include "hookstate.h"

// Per-process state, zero at load. Its own file so that tests can link the pieces that read it
// without the library's entry point.
HMODULE g_hModule = nullptr;
DWORD g_shellProcessId = 0;
HWND g_startMenuWnd = nullptr;
bool g_shellInitDone = false;
HMODULE g_hUxTheme = nullptr;

const WCHAR START_MENU_CLASS[] = L"DV2ControlHost";
