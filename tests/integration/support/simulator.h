#pragma once
// The test's side of the Start Menu simulator (testbed/startmenu): starts it, waits for its
// windows, asks it for the facts that only its own process can see, and always ends it.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "moduleprobe.h"
#include "support/process.h"

using CFields = std::map<std::wstring, std::wstring>;

// "key=value key2="quoted value"" into a map.
CFields ParseFields(const std::wstring& line);
HWND HandleField(const CFields& fields, const std::wstring& key);
long long NumberField(const CFields& fields, const std::wstring& key, long long fallback = -1);

class CStartMenuSimulator {
public:
    CStartMenuSimulator() = default;
    CStartMenuSimulator(const CStartMenuSimulator&) = delete;
    CStartMenuSimulator& operator=(const CStartMenuSimulator&) = delete;
    ~CStartMenuSimulator();

    // Starts the simulator with the options (see startmenu.cpp) and waits until its control
    // window answers and, unless the options leave it out, its Start Menu window exists.
    bool Start(const std::wstring& options = L"");
    void Kill();
    bool IsRunning() const { return m_process.IsRunning(); }
    DWORD ProcessId() const { return m_process.Id(); }
    CChildProcess& Process() { return m_process; }
    // When the test first saw the Start Menu window (GetTickCount64).
    ULONGLONG WindowSeenTick() const { return m_windowSeenTick; }

    // The reply, or an empty text with `answered` false when the simulator did not answer.
    std::wstring Request(const std::wstring& request, bool* answered = nullptr);
    CFields RequestFields(const std::wstring& request);
    bool IsAnswering();

    std::vector<CFields> Windows();
    // The first window of that role ("startmenu", "results", "list", "edit", ...), or NULL.
    HWND RoleWindow(const std::wstring& role);
    HWND StartMenuWindow();

    bool HasTallyhook();
    bool HasUxTheme();
    // The installed flag and hook handle as the simulator's copy of Tallyhook.dll holds them.
    CSharedHookState SharedState();
    // 1 when COM is initialised on the Start Menu's thread, 0 when not, -1 on no answer.
    int ComInitialised();
    // The WM_NULL broadcasts that reached the simulator, each with the installed flag as it
    // stood then (-1 when the library was not loaded).
    std::vector<int> BroadcastFlags();

private:
    bool Connect();

    CChildProcess m_process;
    HWND m_control = nullptr;
    HANDLE m_mapping = nullptr;
    const BYTE* m_view = nullptr;
    DWORD m_serial = 0;
    ULONGLONG m_windowSeenTick = 0;
};
