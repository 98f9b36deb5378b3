#include "support/process.h"

#include <psapi.h>
#include <shellapi.h>

std::wstring WindowsPath(const char* path)
{
    std::wstring wide;
    const int length = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (length > 1) {
        wide.resize(length - 1);
        MultiByteToWideChar(CP_UTF8, 0, path, -1, &wide[0], length);
    }
    for (auto& c : wide)
        if (c == L'/')
            c = L'\\';
    if (!wide.empty() && wide[0] == L'\\')
        wide = L"Z:" + wide;
    return wide;
}

std::wstring DirectoryOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring FileNameOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(stepMs);
    }
}

CChildProcess::~CChildProcess()
{
    Terminate();
}

bool CChildProcess::Start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& directory)
{
    Terminate();
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    m_startTick = GetTickCount64();
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        return false;
    CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_processId = info.dwProcessId;
    return true;
}

bool CChildProcess::IsRunning() const
{
    return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

bool CChildProcess::WaitForExit(DWORD timeoutMs) const
{
    return m_process && WaitForSingleObject(m_process, timeoutMs) == WAIT_OBJECT_0;
}

DWORD CChildProcess::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    if (m_process)
        GetExitCodeProcess(m_process, &code);
    return code;
}

void CChildProcess::Terminate()
{
    if (!m_process)
        return;
    HANDLE process = m_process;
    m_process = nullptr;
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process, 0xDEAD);
        WaitForSingleObject(process, 10000);
    }
    CloseHandle(process);
}

namespace {

struct CWindowSearch {
    DWORD processId;
    PCWSTR className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND hWnd, LPARAM lParam)
{
    CWindowSearch* search = reinterpret_cast<CWindowSearch*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(hWnd, &processId);
    if (processId == search->processId && (!search->className || ClassNameOf(hWnd) == search->className))
        search->found.push_back(hWnd);
    return TRUE;
}

}  // namespace

HWND FindProcessWindow(DWORD processId, PCWSTR className)
{
    CWindowSearch search = {processId, className, {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

std::vector<HWND> TopLevelWindowsOf(DWORD processId)
{
    CWindowSearch search = {processId, nullptr, {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring ClassNameOf(HWND hWnd)
{
    WCHAR name[260] = L"";
    GetClassNameW(hWnd, name, 260);
    return name;
}

bool ProcessHasModule(HANDLE process, PCWSTR fileName)
{
    HMODULE modules[512];
    DWORD needed = 0;
    if (!EnumProcessModules(process, modules, sizeof(modules), &needed))
        return false;
    const DWORD count = needed / sizeof(HMODULE) < 512 ? needed / sizeof(HMODULE) : 512;
    for (DWORD i = 0; i < count; ++i) {
        WCHAR path[MAX_PATH] = L"";
        if (GetModuleFileNameExW(process, modules[i], path, MAX_PATH) &&
            lstrcmpiW(FileNameOf(path).c_str(), fileName) == 0)
            return true;
    }
    return false;
}

CTempFolder::CTempFolder()
{
    WCHAR base[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, base);
    for (unsigned attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
        std::wstring candidate = std::wstring(base) + L"tally-it-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(GetTickCount64() + attempt);
        if (CreateDirectoryW(candidate.c_str(), nullptr))
            m_path = candidate;
    }
}

CTempFolder::~CTempFolder()
{
    if (m_path.empty())
        return;
    // SHFileOperationW wants a double-terminated list.
    std::wstring from = m_path + L'\0';
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationW(&operation);
}
