#pragma once
#include <windows.h>

extern "C" {
// 1 on success, -1 on failure. Only the low byte of `install` counts: nonzero installs the hook
// on the Start Menu's thread, zero removes it.
int InstallHook(int install);
// 1 when the hook sits in the process that owns the current Start Menu, otherwise -1.
int CheckHook();
LRESULT CALLBACK MyHookProc(int code, WPARAM wParam, LPARAM lParam);
}
