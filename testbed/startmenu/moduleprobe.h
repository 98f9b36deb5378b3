#pragma once
// Facts about a loaded module read from its image in memory: its address range and the state
// that Tallyhook.dll keeps in its ".SHARED" section (the installed flag, then the hook handle).
// Shared by the Start Menu simulator and the tests; header-only, no dependencies.
#include <windows.h>

#include <cstring>

struct CModuleRange {
    const BYTE* base = nullptr;
    DWORD size = 0;

    bool Contains(const void* address) const
    {
        const BYTE* p = static_cast<const BYTE*>(address);
        return base && p >= base && p < base + size;
    }
};

inline const IMAGE_NT_HEADERS* ModuleNtHeaders(HMODULE module)
{
    if (!module)
        return nullptr;
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return nullptr;
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->Signature == IMAGE_NT_SIGNATURE ? nt : nullptr;
}

inline CModuleRange ModuleRangeOf(HMODULE module)
{
    CModuleRange range;
    if (const IMAGE_NT_HEADERS* nt = ModuleNtHeaders(module)) {
        range.base = reinterpret_cast<const BYTE*>(module);
        range.size = nt->OptionalHeader.SizeOfImage;
    }
    return range;
}

// The section's address in the loaded image, or NULL.
inline const BYTE* FindModuleSection(HMODULE module, const char* name, DWORD* size)
{
    const IMAGE_NT_HEADERS* nt = ModuleNtHeaders(module);
    if (!nt)
        return nullptr;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        char sectionName[IMAGE_SIZEOF_SHORT_NAME + 1] = {};
        memcpy(sectionName, section->Name, IMAGE_SIZEOF_SHORT_NAME);
        if (strcmp(sectionName, name) == 0) {
            if (size)
                *size = section->Misc.VirtualSize;
            return reinterpret_cast<const BYTE*>(module) + section->VirtualAddress;
        }
    }
    return nullptr;
}

struct CSharedHookState {
    bool found = false;      // the module and its ".SHARED" section are there
    BYTE installed = 0;      // g_hookInstalled, one byte at the section's start
    HHOOK handle = nullptr;  // g_hookHandle, the next pointer-aligned field
};

inline CSharedHookState ReadSharedHookState(HMODULE tallyhook)
{
    CSharedHookState state;
    DWORD size = 0;
    const BYTE* shared = FindModuleSection(tallyhook, ".SHARED", &size);
    if (!shared || size < sizeof(void*) + sizeof(HHOOK))
        return state;
    state.found = true;
    state.installed = *reinterpret_cast<const volatile BYTE*>(shared);
    state.handle = *reinterpret_cast<HHOOK const volatile*>(shared + sizeof(void*));
    return state;
}
