#include "record.h"

#include <new>
#include <string>
#include <vector>

namespace {

// Pages live in a heap of the record's own, so that a reset gives their memory back whole.
HANDLE g_recordHeap = nullptr;

template <class T>
struct CRecordAllocator {
    using value_type = T;
    CRecordAllocator() noexcept = default;
    template <class U>
    CRecordAllocator(const CRecordAllocator<U>&) noexcept {}
    T* allocate(size_t n)
    {
        void* p = g_recordHeap ? HeapAlloc(g_recordHeap, 0, n * sizeof(T)) : nullptr;
        if (!p)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) noexcept { HeapFree(g_recordHeap, 0, p); }
    template <class U>
    bool operator==(const CRecordAllocator<U>&) const noexcept { return true; }
    template <class U>
    bool operator!=(const CRecordAllocator<U>&) const noexcept { return false; }
};

using CRecordString = std::basic_string<wchar_t, std::char_traits<wchar_t>, CRecordAllocator<wchar_t>>;

struct CStoredPage {
    CRecordString fields[7];
    bool present[7] = {};
};

using CPageList = std::vector<CStoredPage, CRecordAllocator<CStoredPage>>;

CPageList* g_pages = nullptr;  // lives in the record heap too
volatile LONG g_counts[12] = {};
volatile LONG g_documentMode = WBSTANDIN_DOCUMENT_NORMAL;
std::wstring g_recordPath;  // empty: no file
// Only a process that has hosted an object writes the file: a test process that loads the DLL
// just to read another process's record must not overwrite it.
bool g_hostedObjects = false;

const wchar_t* const kCountKeys[12] = {L"liveObjects", L"references", L"pages",  L"writes",
                                       L"draws",       L"scriptErrors", L"navigations", L"quits",
                                       L"silent",      L"statusBar",  L"toolBar", L"documentMode"};
const wchar_t* const kFieldKeys[7] = {L"page",       L"resultText", L"resultColor", L"queryText",
                                      L"queryColor", L"search",     L"scriptError"};

void CreateRecordHeap()
{
    g_recordHeap = HeapCreate(0, 0, 0);
    if (!g_recordHeap)
        return;
    void* memory = HeapAlloc(g_recordHeap, 0, sizeof(CPageList));
    g_pages = memory ? new (memory) CPageList() : nullptr;
}

void DestroyRecordHeap()
{
    // The list's elements and buffers go back to the heap before the heap itself goes.
    if (g_pages) {
        CPageList* pages = g_pages;
        g_pages = nullptr;
        pages->~CPageList();
    }
    if (g_recordHeap) {
        HANDLE heap = g_recordHeap;
        g_recordHeap = nullptr;
        HeapDestroy(heap);
    }
}

void AppendEscapedUtf8(std::string& out, const std::wstring& value)
{
    std::wstring escaped;
    for (wchar_t c : value) {
        if (c == L'\\')
            escaped += L"\\\\";
        else if (c == L'\n')
            escaped += L"\\n";
        else if (c == L'\r')
            escaped += L"\\r";
        else
            escaped += c;
    }
    if (escaped.empty())
        return;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, escaped.c_str(), static_cast<int>(escaped.size()), nullptr, 0,
                                          nullptr, nullptr);
    const size_t start = out.size();
    out.resize(start + bytes);
    WideCharToMultiByte(CP_UTF8, 0, escaped.c_str(), static_cast<int>(escaped.size()), &out[start], bytes, nullptr,
                        nullptr);
}

void AppendLine(std::string& out, const wchar_t* key, const std::wstring& value)
{
    AppendEscapedUtf8(out, key);
    out += '=';
    AppendEscapedUtf8(out, value);
    out += '\n';
}

void WriteRecordFile() noexcept
{
    if (g_recordPath.empty() || !g_hostedObjects)
        return;
    try {
        std::string content;
        for (int i = 0; i < 12; ++i)
            AppendLine(content, kCountKeys[i], std::to_wstring(g_counts[i]));
        if (g_pages && !g_pages->empty()) {
            const CStoredPage& last = g_pages->back();
            for (int f = 0; f < 7; ++f)
                if (last.present[f])
                    AppendLine(content, kFieldKeys[f], std::wstring(last.fields[f].c_str(), last.fields[f].size()));
        }
        const std::wstring temporary = g_recordPath + L".new";
        HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        const BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(file);
        if (!ok)
            return;
        // A reader may hold the old file open for a moment; try again briefly.
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (MoveFileExW(temporary.c_str(), g_recordPath.c_str(), MOVEFILE_REPLACE_EXISTING))
                return;
            Sleep(5);
        }
    } catch (...) {
        // Out of memory: the file keeps its earlier content.
    }
}

std::wstring GetEnvironment(const wchar_t* name)
{
    WCHAR buffer[MAX_PATH * 2];
    const DWORD length = GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
    return length && length < ARRAYSIZE(buffer) ? std::wstring(buffer, length) : std::wstring();
}

BSTR CopyToBstr(const wchar_t* text, size_t length)
{
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

}  // namespace

namespace Record {

void Start()
{
    g_counts[WBSTANDIN_SILENT] = g_counts[WBSTANDIN_STATUS_BAR] = g_counts[WBSTANDIN_TOOL_BAR] = -1;
    CreateRecordHeap();
    g_recordPath = GetEnvironment(L"TALLY_WEBBROWSER_RECORD");
    const std::wstring mode = GetEnvironment(L"TALLY_WEBBROWSER_DOCUMENT_MODE");
    if (!mode.empty())
        g_documentMode = _wtoi(mode.c_str());
    g_counts[WBSTANDIN_DOCUMENT_MODE] = g_documentMode;
    WriteRecordFile();
}

void Stop()
{
    WriteRecordFile();
    DestroyRecordHeap();
}

void ObjectCreated()
{
    g_hostedObjects = true;
    InterlockedIncrement(&g_counts[WBSTANDIN_LIVE_OBJECTS]);
}

void ObjectDestroyed()
{
    InterlockedDecrement(&g_counts[WBSTANDIN_LIVE_OBJECTS]);
    WriteRecordFile();
}

void AddReferences(LONG delta)
{
    InterlockedExchangeAdd(&g_counts[WBSTANDIN_REFERENCES], delta);
}

void Count(int which)
{
    InterlockedIncrement(&g_counts[which]);
    if (which == WBSTANDIN_NAVIGATIONS || which == WBSTANDIN_QUITS)
        WriteRecordFile();
}

void SetState(int which, LONG value)
{
    InterlockedExchange(&g_counts[which], value);
    WriteRecordFile();
}

void PageClosed(const CPageRecord& page)
{
    InterlockedIncrement(&g_counts[WBSTANDIN_PAGES]);
    if (g_pages) {
        try {
            CStoredPage stored;
            const std::wstring* values[7] = {&page.page,       &page.resultText, &page.resultColor, &page.queryText,
                                             &page.queryColor, &page.search,     &page.scriptError};
            for (int f = 0; f < 7; ++f) {
                stored.fields[f].assign(values[f]->c_str(), values[f]->size());
                stored.present[f] = true;
            }
            stored.present[WBSTANDIN_FIELD_SEARCH] = page.hasSearch;
            stored.present[WBSTANDIN_FIELD_SCRIPT_ERROR] = page.hasScriptError;
            g_pages->push_back(std::move(stored));
        } catch (...) {
            // The record heap is full: the page is counted but not kept.
        }
    }
    WriteRecordFile();
}

int DocumentMode()
{
    return g_documentMode;
}

void SetDocumentMode(int mode)
{
    g_documentMode = mode;
    SetState(WBSTANDIN_DOCUMENT_MODE, mode);
}

}  // namespace Record

extern "C" {

LONG __cdecl WbStandinGetCount(int which)
{
    if (which < 0 || which >= 12)
        return 0;
    return g_counts[which];
}

BSTR __cdecl WbStandinCopyPageField(int page, int field)
{
    if (!g_pages || g_pages->empty() || field < 0 || field >= 7)
        return nullptr;
    const size_t index = page < 0 ? g_pages->size() - 1 : static_cast<size_t>(page);
    if (index >= g_pages->size() || !(*g_pages)[index].present[field])
        return nullptr;
    const CRecordString& value = (*g_pages)[index].fields[field];
    return CopyToBstr(value.c_str(), value.size());
}

void __cdecl WbStandinSetDocumentMode(int mode)
{
    Record::SetDocumentMode(mode);
}

void __cdecl WbStandinResetRecord(void)
{
    DestroyRecordHeap();
    CreateRecordHeap();
    for (int which : {WBSTANDIN_PAGES, WBSTANDIN_WRITES, WBSTANDIN_DRAWS, WBSTANDIN_SCRIPT_ERRORS,
                      WBSTANDIN_NAVIGATIONS, WBSTANDIN_QUITS})
        InterlockedExchange(&g_counts[which], 0);
    WriteRecordFile();
}

BSTR __cdecl WbStandinReadRecordFile(PCWSTR path, PCWSTR key)
{
    if (!path || !key)
        return nullptr;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    std::string content;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        content.append(chunk, read);
    CloseHandle(file);
    const int length = MultiByteToWideChar(CP_UTF8, 0, content.data(), static_cast<int>(content.size()), nullptr, 0);
    std::wstring text(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, content.data(), static_cast<int>(content.size()), &text[0], length);

    const std::wstring prefix = std::wstring(key) + L"=";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        if (text.compare(start, prefix.size(), prefix) == 0) {
            std::wstring value;
            for (size_t i = start + prefix.size(); i < end; ++i) {
                if (text[i] == L'\\' && i + 1 < end) {
                    const wchar_t next = text[++i];
                    value += next == L'n' ? L'\n' : next == L'r' ? L'\r' : next;
                } else {
                    value += text[i];
                }
            }
            return CopyToBstr(value.c_str(), value.size());
        }
        start = end + 1;
    }
    return nullptr;
}

}  // extern "C"
