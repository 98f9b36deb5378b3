#pragma once
#include <windows.h>

// The host's binding to Tallyhook.dll: loaded by file name when first needed and never unloaded;
// its exports are looked up anew at every call.
class CHookLibrary {
public:
    constexpr CHookLibrary() noexcept = default;

    // Loads the library if need be and installs the hook; true when InstallHook(1) answered > 0.
    bool TryInstallHook() noexcept;
    // True when the library is loaded, a Start Menu exists and CheckHook() answers > 0. Never loads.
    bool IsHookCurrent() const noexcept;
    // Loads the library if need be (removal must reach a hook set by another copy) and calls
    // InstallHook(0).
    void RemoveHook() noexcept;

private:
    using InstallHookProc = int(__cdecl*)(int install);
    using CheckHookProc = int(__cdecl*)();

    bool EnsureLoaded() noexcept;
    InstallHookProc FindInstallHook() const noexcept;

    HMODULE m_module = nullptr;
};

extern CHookLibrary g_hookLibrary;
