#include "string.h"

#include <climits>
#include <cstring>

namespace {

void* HeapAllocate(size_t bytes)
{
    return HeapAlloc(GetProcessHeap(), 0, bytes);
}

CString::Allocator g_allocate = HeapAllocate;
LONG g_liveBuffers = 0;

}  // namespace

void ThrowHResult(HRESULT hr)
{
    throw CHResultException(hr);
}

void CString::SetAllocatorForTesting(Allocator allocate) noexcept
{
    g_allocate = allocate ? allocate : HeapAllocate;
}

long CString::LiveBufferCount() noexcept
{
    return g_liveBuffers;
}

CString::CData* CString::Allocate(int capacity)
{
    if (capacity < 0)
        ThrowHResult(E_INVALIDARG);
    const size_t maxCapacity = (INT_MAX - sizeof(CData)) / sizeof(WCHAR);
    if (static_cast<size_t>(capacity) > maxCapacity)
        ThrowHResult(E_OUTOFMEMORY);
    void* block = g_allocate(sizeof(CData) + static_cast<size_t>(capacity) * sizeof(WCHAR));
    if (!block)
        ThrowHResult(E_OUTOFMEMORY);
    CData* data = static_cast<CData*>(block);
    data->refs = 1;
    data->length = 0;
    data->capacity = capacity;
    data->text[0] = L'\0';
    InterlockedIncrement(&g_liveBuffers);
    return data;
}

void CString::ReleaseData(CData* data) noexcept
{
    if (data && InterlockedDecrement(&data->refs) == 0) {
        HeapFree(GetProcessHeap(), 0, data);
        InterlockedDecrement(&g_liveBuffers);
    }
}

CString::CString(PCWSTR text)
{
    if (text)
        Assign(text, static_cast<int>(wcslen(text)));
}

CString::CString(PCWSTR text, int length)
{
    Assign(text, length);
}

CString::CString(const CString& other) noexcept : m_data(other.m_data)
{
    if (m_data)
        InterlockedIncrement(&m_data->refs);
}

CString::CString(CString&& other) noexcept : m_data(other.m_data)
{
    other.m_data = nullptr;
}

CString::~CString()
{
    ReleaseData(m_data);
}

CString& CString::operator=(const CString& other) noexcept
{
    // Taking the new reference first keeps self-assignment safe.
    if (other.m_data)
        InterlockedIncrement(&other.m_data->refs);
    CData* old = m_data;
    m_data = other.m_data;
    ReleaseData(old);
    return *this;
}

CString& CString::operator=(CString&& other) noexcept
{
    if (this != &other) {
        CData* old = m_data;
        m_data = other.m_data;
        other.m_data = nullptr;
        ReleaseData(old);
    }
    return *this;
}

CString& CString::operator=(PCWSTR text)
{
    Assign(text, text ? static_cast<int>(wcslen(text)) : 0);
    return *this;
}

void CString::Assign(PCWSTR text, int length)
{
    if (length < 0 || (!text && length > 0))
        ThrowHResult(E_INVALIDARG);
    if (length == 0) {
        Empty();
        return;
    }
    // The source may lie inside our own buffer, so it is copied before the old buffer goes.
    CData* data = Allocate(length);
    memcpy(data->text, text, static_cast<size_t>(length) * sizeof(WCHAR));
    data->text[length] = L'\0';
    data->length = length;
    CData* old = m_data;
    m_data = data;
    ReleaseData(old);
}

void CString::PrepareToWrite(int capacity)
{
    if (m_data && m_data->refs == 1 && m_data->capacity >= capacity)
        return;
    CData* data = Allocate(capacity);
    if (m_data) {
        memcpy(data->text, m_data->text, static_cast<size_t>(m_data->length + 1) * sizeof(WCHAR));
        data->length = m_data->length;
    }
    CData* old = m_data;
    m_data = data;
    ReleaseData(old);
}

void CString::Append(PCWSTR text, int length)
{
    if (length < 0 || (!text && length > 0))
        ThrowHResult(E_INVALIDARG);
    if (length == 0)
        return;
    const int current = GetLength();
    if (length > INT_MAX - current)
        ThrowHResult(E_OUTOFMEMORY);
    const int needed = current + length;
    if (!m_data || m_data->refs != 1 || m_data->capacity < needed) {
        // Grow geometrically so that a string built by many appends costs linear time. The source
        // may be our own text, so it is kept alive until it has been copied.
        int capacity = needed;
        if (m_data && needed <= INT_MAX / 2 && m_data->capacity * 2 > needed)
            capacity = m_data->capacity * 2;
        CData* source = nullptr;
        if (m_data && text >= m_data->text && text <= m_data->text + m_data->length) {
            source = m_data;
            InterlockedIncrement(&source->refs);
        }
        try {
            PrepareToWrite(capacity);
        } catch (...) {
            ReleaseData(source);
            throw;
        }
        memcpy(m_data->text + current, text, static_cast<size_t>(length) * sizeof(WCHAR));
        ReleaseData(source);
    } else {
        memmove(m_data->text + current, text, static_cast<size_t>(length) * sizeof(WCHAR));
    }
    m_data->length = needed;
    m_data->text[needed] = L'\0';
}

CString& CString::operator+=(const CString& other)
{
    // A copy keeps the buffer alive when `other` is this very string.
    CString keep(other);
    Append(keep.GetString(), keep.GetLength());
    return *this;
}

CString& CString::operator+=(PCWSTR text)
{
    Append(text, text ? static_cast<int>(wcslen(text)) : 0);
    return *this;
}

void CString::Preallocate(int capacity)
{
    if (capacity > GetLength())
        PrepareToWrite(capacity);
}

void CString::Empty() noexcept
{
    CData* old = m_data;
    m_data = nullptr;
    ReleaseData(old);
}

int CString::GetLength() const noexcept
{
    return m_data ? m_data->length : 0;
}

PCWSTR CString::GetString() const noexcept
{
    return m_data ? m_data->text : L"";
}

bool CString::operator==(const CString& other) const noexcept
{
    const int length = GetLength();
    if (length != other.GetLength())
        return false;
    return m_data == other.m_data ||
           memcmp(GetString(), other.GetString(), static_cast<size_t>(length) * sizeof(WCHAR)) == 0;
}
