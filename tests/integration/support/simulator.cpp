#include "support/simulator.h"

#include <cstdlib>

#include "protocol.h"
#include "support/paths.h"

namespace {

constexpr DWORD START_TIMEOUT_MS = 15000;
constexpr DWORD REQUEST_TIMEOUT_MS = 5000;

bool OmitsStartMenu(const std::wstring& options)
{
    const size_t omit = options.find(L"--omit=");
    if (omit == std::wstring::npos)
        return false;
    const std::wstring roles = L"," + options.substr(omit + 7, options.find(L' ', omit) - omit - 7) + L",";
    return roles.find(L",startmenu,") != std::wstring::npos;
}

}  // namespace

CFields ParseFields(const std::wstring& line)
{
    CFields fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\n'))
            ++i;
        const size_t equals = line.find(L'=', i);
        if (equals == std::wstring::npos)
            break;
        const std::wstring key = line.substr(i, equals - i);
        std::wstring value;
        i = equals + 1;
        if (i < line.size() && line[i] == L'"') {
            const size_t close = line.find(L'"', i + 1);
            value = line.substr(i + 1, close == std::wstring::npos ? std::wstring::npos : close - i - 1);
            i = close == std::wstring::npos ? line.size() : close + 1;
        } else {
            size_t end = i;
            while (end < line.size() && line[end] != L' ' && line[end] != L'\n')
                ++end;
            value = line.substr(i, end - i);
            i = end;
        }
        fields[key] = value;
    }
    return fields;
}

HWND HandleField(const CFields& fields, const std::wstring& key)
{
    auto found = fields.find(key);
    if (found == fields.end())
        return nullptr;
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(wcstoull(found->second.c_str(), nullptr, 0)));
}

long long NumberField(const CFields& fields, const std::wstring& key, long long fallback)
{
    auto found = fields.find(key);
    if (found == fields.end() || found->second.empty())
        return fallback;
    return wcstoll(found->second.c_str(), nullptr, 0);
}

CStartMenuSimulator::~CStartMenuSimulator()
{
    Kill();
}

bool CStartMenuSimulator::Start(const std::wstring& options)
{
    Kill();
    if (!m_process.Start(WindowsPath(TALLY_STARTMENU_EXE), options))
        return false;
    if (!WaitUntil([this] { return Connect(); }, START_TIMEOUT_MS))
        return false;
    if (OmitsStartMenu(options))
        return true;
    // The control window is created after the Start Menu, so one ping tells.
    if (!StartMenuWindow())
        return false;
    m_windowSeenTick = GetTickCount64();
    return true;
}

bool CStartMenuSimulator::Connect()
{
    if (!m_process.IsRunning())
        return false;
    if (!m_control)
        m_control = FindProcessWindow(m_process.Id(), TALLY_SM_CONTROL_CLASS);
    if (!m_control)
        return false;
    if (!m_view) {
        WCHAR name[64];
        FormatSmReplyMappingName(m_process.Id(), name, 64);
        m_mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
        if (!m_mapping)
            return false;
        m_view = static_cast<const BYTE*>(MapViewOfFile(m_mapping, FILE_MAP_READ, 0, 0, TALLY_SM_REPLY_BYTES));
        if (!m_view)
            return false;
    }
    return IsAnswering();
}

void CStartMenuSimulator::Kill()
{
    m_process.Terminate();
    if (m_view)
        UnmapViewOfFile(m_view);
    m_view = nullptr;
    if (m_mapping)
        CloseHandle(m_mapping);
    m_mapping = nullptr;
    m_control = nullptr;
    m_windowSeenTick = 0;
}

std::wstring CStartMenuSimulator::Request(const std::wstring& request, bool* answered)
{
    if (answered)
        *answered = false;
    if (!m_control || !m_view)
        return L"";
    const DWORD serial = ++m_serial;
    COPYDATASTRUCT data = {};
    data.dwData = serial;
    data.cbData = static_cast<DWORD>(request.size() * sizeof(WCHAR));
    data.lpData = const_cast<WCHAR*>(request.c_str());
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(m_control, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL,
                             REQUEST_TIMEOUT_MS, &result) ||
        result != 1)
        return L"";
    const CSmReplyHeader* header = reinterpret_cast<const CSmReplyHeader*>(m_view);
    if (header->serial != serial)
        return L"";
    MemoryBarrier();
    if (answered)
        *answered = true;
    return std::wstring(reinterpret_cast<const WCHAR*>(header + 1), header->length);
}

CFields CStartMenuSimulator::RequestFields(const std::wstring& request)
{
    return ParseFields(Request(request));
}

bool CStartMenuSimulator::IsAnswering()
{
    return Request(L"ping").compare(0, 4, L"pong") == 0;
}

std::vector<CFields> CStartMenuSimulator::Windows()
{
    std::vector<CFields> windows;
    const std::wstring reply = Request(L"windows");
    size_t start = 0;
    while (start < reply.size()) {
        size_t end = reply.find(L'\n', start);
        if (end == std::wstring::npos)
            end = reply.size();
        if (end > start)
            windows.push_back(ParseFields(reply.substr(start, end - start)));
        start = end + 1;
    }
    return windows;
}

HWND CStartMenuSimulator::RoleWindow(const std::wstring& role)
{
    for (const CFields& window : Windows())
        if (window.count(L"role") && window.at(L"role") == role)
            return HandleField(window, L"hwnd");
    return nullptr;
}

HWND CStartMenuSimulator::StartMenuWindow()
{
    return HandleField(RequestFields(L"ping"), L"startmenu");
}

bool CStartMenuSimulator::HasTallyhook()
{
    return NumberField(RequestFields(L"modules"), L"tallyhook") == 1;
}

bool CStartMenuSimulator::HasUxTheme()
{
    return NumberField(RequestFields(L"modules"), L"uxtheme") == 1;
}

CSharedHookState CStartMenuSimulator::SharedState()
{
    const CFields fields = RequestFields(L"shared");
    CSharedHookState state;
    state.found = NumberField(fields, L"found") == 1;
    state.installed = static_cast<BYTE>(NumberField(fields, L"installed", 0));
    state.handle = reinterpret_cast<HHOOK>(HandleField(fields, L"handle"));
    return state;
}

int CStartMenuSimulator::ComInitialised()
{
    return static_cast<int>(NumberField(RequestFields(L"com"), L"com"));
}

std::vector<int> CStartMenuSimulator::BroadcastFlags()
{
    const CFields fields = RequestFields(L"broadcasts");
    std::vector<int> flags;
    auto found = fields.find(L"flags");
    if (found == fields.end())
        return flags;
    const std::wstring& list = found->second;
    size_t start = 0;
    while (start < list.size()) {
        size_t comma = list.find(L',', start);
        if (comma == std::wstring::npos)
            comma = list.size();
        flags.push_back(_wtoi(list.substr(start, comma - start).c_str()));
        start = comma + 1;
    }
    return flags;
}
