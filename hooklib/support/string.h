#pragma once
#include <windows.h>

#include <cstddef>

#include "hresult.h"

// A counted UTF-16 string whose copies share one reference-counted buffer; a change to a shared
// buffer copies it first. Allocation failures raise E_OUTOFMEMORY, unusable arguments E_INVALIDARG.
class CString {
public:
    CString() noexcept = default;
    CString(PCWSTR text);              // NULL gives the empty string
    CString(PCWSTR text, int length);  // exactly `length` code units, NULs included
    CString(const CString& other) noexcept;
    CString(CString&& other) noexcept;
    ~CString();

    CString& operator=(const CString& other) noexcept;
    CString& operator=(CString&& other) noexcept;
    CString& operator=(PCWSTR text);

    void Append(PCWSTR text, int length);
    CString& operator+=(const CString& other);
    CString& operator+=(PCWSTR text);

    // Makes room for `capacity` code units so that the appends that follow do not reallocate.
    void Preallocate(int capacity);
    void Empty() noexcept;

    int GetLength() const noexcept;
    bool IsEmpty() const noexcept { return GetLength() == 0; }
    // Never NULL; always NUL-terminated (an embedded NUL ends the C view, not the string).
    PCWSTR GetString() const noexcept;
    operator PCWSTR() const noexcept { return GetString(); }

    // Exact, code unit by code unit, over the whole counted length: no case folding, no trimming.
    bool operator==(const CString& other) const noexcept;
    bool operator!=(const CString& other) const noexcept { return !(*this == other); }

    bool SharesBufferWith(const CString& other) const noexcept { return m_data && m_data == other.m_data; }

    // Tests put an allocator here that fails on demand; NULL restores the default. It must hand
    // out blocks of the process heap (HeapAlloc), since buffers go back with HeapFree.
    using Allocator = void* (*)(size_t bytes);
    static void SetAllocatorForTesting(Allocator allocate) noexcept;
    // Buffers alive in this process: lets tests see that nothing leaks.
    static long LiveBufferCount() noexcept;

private:
    struct CData {
        LONG refs;
        int length;
        int capacity;  // code units, terminator not counted
        WCHAR text[1];
    };

    static CData* Allocate(int capacity);
    static void ReleaseData(CData* data) noexcept;
    void Assign(PCWSTR text, int length);
    // Makes the buffer unshared with room for `capacity` code units, keeping the text.
    void PrepareToWrite(int capacity);

    CData* m_data = nullptr;  // NULL is the empty string
};
