#include "support/tallyhook.h"

#include "support/paths.h"
#include "support/process.h"

CTallyhookLibrary::~CTallyhookLibrary()
{
    if (m_module)
        FreeLibrary(m_module);
}

bool CTallyhookLibrary::Load()
{
    if (!m_module)
        m_module = LoadLibraryW(WindowsPath(TALLY_TALLYHOOK_DLL).c_str());
    if (!m_module)
        return false;
    m_installHook = reinterpret_cast<InstallHookProc>(GetProcAddress(m_module, "InstallHook"));
    m_checkHook = reinterpret_cast<CheckHookProc>(GetProcAddress(m_module, "CheckHook"));
    return m_installHook && m_checkHook;
}

int CTallyhookLibrary::InstallHook(int install) const
{
    return m_installHook ? m_installHook(install) : 0;
}

int CTallyhookLibrary::CheckHook() const
{
    return m_checkHook ? m_checkHook() : 0;
}

CSharedHookState CTallyhookLibrary::SharedState() const
{
    return ReadSharedHookState(m_module);
}

void CTallyhookLibrary::RemoveLeftoverHook() const
{
    if (m_module && SharedState().installed)
        InstallHook(0);
}
