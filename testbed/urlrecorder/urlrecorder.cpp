// URL recorder: stands in for the user's default browser in the tests. Registered as the "open"
// command of a URL scheme ("recorder.exe" "%1"), it appends the arguments it was started with,
// one line per start in UTF-8, to the file named by TALLY_URL_LOG (or urls.log beside itself),
// and ends at once. It leaves out everything a browser does.
#include <windows.h>

#include <string>

namespace {

std::wstring LogPath()
{
    WCHAR path[MAX_PATH * 2] = L"";
    const DWORD length = GetEnvironmentVariableW(L"TALLY_URL_LOG", path, MAX_PATH * 2);
    if (length > 0 && length < MAX_PATH * 2)
        return path;
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring own = path;
    return own.substr(0, own.find_last_of(L'\\') + 1) + L"urls.log";
}

// The command line without the program's own name.
std::wstring Arguments()
{
    const WCHAR* p = GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"')
            ++p;
        if (*p)
            ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const std::wstring line = Arguments() + L"\n";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string utf8(bytes > 0 ? bytes : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &utf8[0], bytes, nullptr, nullptr);

    // Several starts may race: append under a short retry while another one holds the file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        HANDLE file = CreateFileW(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
            CloseHandle(file);
            return 0;
        }
        Sleep(20);
    }
    return 1;
}
