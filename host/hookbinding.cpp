#include "hookbinding.h"

#include "product.h"

// Constant-initialised: the slot is empty before any other static object of the program exists.
CHookLibrary g_hookLibrary;

bool CHookLibrary::EnsureLoaded() noexcept
{
    // The bare name: the standard search order finds the library beside the program.
    if (!m_module)
        m_module = LoadLibraryW(L"Tallyhook.dll");
    return m_module != nullptr;
}

CHookLibrary::InstallHookProc CHookLibrary::FindInstallHook() const noexcept
{
    return m_module ? reinterpret_cast<InstallHookProc>(GetProcAddress(m_module, "InstallHook")) : nullptr;
}

bool CHookLibrary::TryInstallHook() noexcept
{
    if (!EnsureLoaded())
        return false;
    InstallHookProc installHook = FindInstallHook();
    return installHook && installHook(1) > 0;
}

bool CHookLibrary::IsHookCurrent() const noexcept
{
    if (!m_module)
        return false;
    auto checkHook = reinterpret_cast<CheckHookProc>(GetProcAddress(m_module, "CheckHook"));
    if (!checkHook || !FindWindowW(START_MENU_CLASS, nullptr))
        return false;
    return checkHook() > 0;
}

void CHookLibrary::RemoveHook() noexcept
{
    if (!EnsureLoaded())
        return;
    if (InstallHookProc installHook = FindInstallHook())
        installHook(0);
}
