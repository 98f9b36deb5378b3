#include "support/host.h"

#include <shellapi.h>

#include "support/paths.h"

namespace {

constexpr WCHAR MAIN_WINDOW_CLASS[] = L"TALLYKEEPER";
constexpr WCHAR MENU_CLASS[] = L"#32768";
constexpr WCHAR URL_LOG_VARIABLE[] = L"TALLY_URL_LOG";

}  // namespace

std::wstring ReleaseTallyglassPath()
{
    return WindowsPath(TALLY_TALLYGLASS_EXE);
}

bool CTallyglassProcess::Start(const std::wstring& exe, const std::wstring& directory)
{
    m_mainWindow = nullptr;
    if (!m_process.Start(exe, L"", directory.empty() ? DirectoryOf(exe) : directory))
        return false;
    if (!WaitUntil([this] { return (m_mainWindow = FindProcessWindow(m_process.Id(), MAIN_WINDOW_CLASS)) != nullptr; },
                   15000, 10))
        return false;
    m_windowSeenTick = GetTickCount64();
    return true;
}

bool CTallyglassProcess::Post(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return m_mainWindow && PostMessageW(m_mainWindow, message, wParam, lParam);
}

bool CTallyglassProcess::HasLoadedTallyhook() const
{
    return m_process.IsRunning() && ProcessHasModule(m_process.Handle(), L"Tallyhook.dll");
}

bool CTallyglassProcess::IconShown() const
{
    // Only an icon that is there can be modified; no flags: nothing about it changes.
    NOTIFYICONDATAW probe = {};
    probe.cbSize = sizeof(probe);
    probe.hWnd = m_mainWindow;
    probe.uID = ICON_ID;
    return m_mainWindow && Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

HWND CTallyglassProcess::OpenMenu() const
{
    for (HWND hWnd : TopLevelWindowsOf(m_process.Id()))
        if (ClassNameOf(hWnd) == MENU_CLASS && IsWindowVisible(hWnd))
            return hWnd;
    return nullptr;
}

std::vector<HWND> CTallyglassProcess::VisibleWindows() const
{
    std::vector<HWND> visible;
    for (HWND hWnd : TopLevelWindowsOf(m_process.Id()))
        if (IsWindowVisible(hWnd))
            visible.push_back(hWnd);
    return visible;
}

bool CTallyglassProcess::Exit(DWORD timeoutMs)
{
    return Post(WM_COMMAND, COMMAND_EXIT, 0) && m_process.WaitForExit(timeoutMs);
}

CUrlLog::CUrlLog()
{
    WCHAR folder[MAX_PATH] = L"", file[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"url", 0, file);
    m_path = file;
    // Inherited by every program this test starts, and by what they start in turn.
    SetEnvironmentVariableW(URL_LOG_VARIABLE, m_path.c_str());
}

CUrlLog::~CUrlLog()
{
    SetEnvironmentVariableW(URL_LOG_VARIABLE, nullptr);
    DeleteFileW(m_path.c_str());
}

bool CUrlLog::RegisterRecorder()
{
    const std::wstring command = L"\"" + WindowsPath(TALLY_URLRECORDER_EXE) + L"\" \"%1\"";
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, L"https\\shell\\open\\command", 0, nullptr, 0, KEY_READ | KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    WCHAR current[1024] = L"";
    DWORD size = sizeof(current) - sizeof(WCHAR);
    DWORD type = 0;
    bool ok = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(current), &size) ==
                  ERROR_SUCCESS &&
              type == REG_SZ && lstrcmpiW(current, command.c_str()) == 0;
    if (!ok)
        ok = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                            static_cast<DWORD>((command.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

std::vector<std::wstring> CUrlLog::Addresses() const
{
    std::vector<std::wstring> lines;
    HANDLE file = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);

    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
            line = line.substr(1, line.size() - 2);
        std::wstring wide(line.size(), L'\0');
        const int length = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &wide[0],
                                               static_cast<int>(wide.size()));
        wide.resize(length > 0 ? length : 0);
        lines.push_back(wide);
    }
    return lines;
}
