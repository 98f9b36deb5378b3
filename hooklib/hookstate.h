#pragma once
#include <windows.h>

// State of the library. The first two live in the shared section, one copy for every process
// that has loaded the library; the rest exist once per process.
extern volatile bool g_hookInstalled;
extern HHOOK volatile g_hookHandle;

extern HMODULE g_hModule;          // this library, recorded by DllMain
extern DWORD g_shellProcessId;     // in the host: the process that was hooked
extern HWND g_startMenuWnd;        // in the shell: the Start Menu found by discovery
extern bool g_shellInitDone;       // in the shell: the one-time set-up has run
extern HMODULE g_hUxTheme;         // in the shell: uxtheme.dll, for buffered painting

// The Start Menu's top-level window class.
extern const WCHAR START_MENU_CLASS[];
