// Test tool, not a stand-in: writes the calculator page that the library builds for a query, so
// that the browser and script-engine tests load the very page the panel would write.
//
// Usage: pagedump QUERY_FILE PAGE_FILE [QUERY_FILE PAGE_FILE ...]
// A query file holds the query as UTF-16LE, with or without a byte order mark, so that any text
// can be passed (line breaks, NULs, unpaired surrogates). The page is written as UTF-16LE with a
// byte order mark. Exit code 0 when every page was written, 1 otherwise.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "page.h"

namespace {

class CFileHandle {
public:
    explicit CFileHandle(HANDLE handle) noexcept : m_handle(handle) {}
    ~CFileHandle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    HANDLE Get() const noexcept { return m_handle; }
    bool IsValid() const noexcept { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

bool ReadQuery(PCWSTR path, CString& query)
{
    CFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid())
        return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart % 2 != 0 || size.QuadPart > 64 * 1024 * 1024)
        return false;
    const DWORD bytes = static_cast<DWORD>(size.QuadPart);
    CString text;
    if (bytes > 0) {
        HANDLE heap = GetProcessHeap();
        BYTE* buffer = static_cast<BYTE*>(HeapAlloc(heap, 0, bytes));
        if (!buffer)
            return false;
        DWORD read = 0;
        const BOOL ok = ReadFile(file.Get(), buffer, bytes, &read, nullptr) && read == bytes;
        if (ok) {
            const WCHAR* units = reinterpret_cast<const WCHAR*>(buffer);
            int count = static_cast<int>(bytes / 2);
            if (count > 0 && units[0] == 0xFEFF) {
                ++units;
                --count;
            }
            try {
                text = CString(units, count);
            } catch (const CHResultException&) {
                HeapFree(heap, 0, buffer);
                return false;
            }
        }
        HeapFree(heap, 0, buffer);
        if (!ok)
            return false;
    }
    query = text;
    return true;
}

bool WritePage(PCWSTR path, const CString& page)
{
    CFileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file.IsValid())
        return false;
    const WCHAR bom = 0xFEFF;
    DWORD written = 0;
    if (!WriteFile(file.Get(), &bom, sizeof(bom), &written, nullptr) || written != sizeof(bom))
        return false;
    const DWORD bytes = static_cast<DWORD>(page.GetLength()) * sizeof(WCHAR);
    return WriteFile(file.Get(), page.GetString(), bytes, &written, nullptr) && written == bytes;
}

bool DumpOne(PCWSTR queryPath, PCWSTR pagePath)
{
    CString query;
    if (!ReadQuery(queryPath, query)) {
        fwprintf(stderr, L"pagedump: cannot read %ls\n", queryPath);
        return false;
    }
    try {
        if (WritePage(pagePath, BuildCalculatorPage(query)))
            return true;
    } catch (const CHResultException& e) {
        fwprintf(stderr, L"pagedump: error 0x%08lX for %ls\n", static_cast<unsigned long>(e.Error()), queryPath);
        return false;
    }
    fwprintf(stderr, L"pagedump: cannot write %ls\n", pagePath);
    return false;
}

}  // namespace

int main()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return 1;
    int status = 0;
    if (argc < 3 || (argc - 1) % 2 != 0) {
        fwprintf(stderr, L"usage: pagedump QUERY_FILE PAGE_FILE [QUERY_FILE PAGE_FILE ...]\n");
        status = 1;
    }
    for (int i = 1; status == 0 && i + 1 < argc; i += 2) {
        if (!DumpOne(argv[i], argv[i + 1]))
            status = 1;
    }
    LocalFree(argv);
    return status;
}
