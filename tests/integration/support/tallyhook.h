#pragma once
// Tallyhook.dll from the release folder, loaded into the test process, with its exports.
#include <windows.h>

#include "moduleprobe.h"

class CTallyhookLibrary {
public:
    CTallyhookLibrary() = default;
    CTallyhookLibrary(const CTallyhookLibrary&) = delete;
    CTallyhookLibrary& operator=(const CTallyhookLibrary&) = delete;
    ~CTallyhookLibrary();

    bool Load();
    HMODULE Module() const { return m_module; }
    int InstallHook(int install) const;
    int CheckHook() const;
    // The library's ".SHARED" section, as every process that loaded the file sees it.
    CSharedHookState SharedState() const;
    // Removes a hook left installed by a failed test, so that the next one starts clean.
    void RemoveLeftoverHook() const;

private:
    using InstallHookProc = int(__cdecl*)(int);
    using CheckHookProc = int(__cdecl*)();

    HMODULE m_module = nullptr;
    InstallHookProc m_installHook = nullptr;
    CheckHookProc m_checkHook = nullptr;
};
