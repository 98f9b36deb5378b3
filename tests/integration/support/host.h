#pragma once
// The real Tallyglass.exe, started by a test, and the recorder that stands in for the browser.
#include <windows.h>

#include <string>
#include <vector>

#include "support/process.h"

constexpr UINT ICON_CALLBACK_MESSAGE = 0x800A;
constexpr UINT ICON_ID = 109;
constexpr WORD COMMAND_ABOUT = 104;
constexpr WORD COMMAND_EXIT = 105;
constexpr DWORD KEEPER_TICK_MS = 2500;
// What a keeper tick may take beyond its period under Wine on a busy machine: the tick itself,
// the next message sent on the Start Menu thread (every 50 ms) and the test's polling.
constexpr DWORD KEEPER_MARGIN_MS = 1000;

std::wstring ReleaseTallyglassPath();

class CTallyglassProcess {
public:
    // Starts the program and waits for its hidden main window (class "TALLYKEEPER").
    bool Start(const std::wstring& exe = ReleaseTallyglassPath(), const std::wstring& directory = L"");
    CChildProcess& Process() { return m_process; }
    HWND MainWindow() const { return m_mainWindow; }
    // When the test first saw the main window, whose creation starts the keeper timer.
    ULONGLONG WindowSeenTick() const { return m_windowSeenTick; }
    bool Post(UINT message, WPARAM wParam, LPARAM lParam) const;
    bool HasLoadedTallyhook() const;
    // Whether the notification area holds the program's icon (main window, id 109).
    bool IconShown() const;
    // The program's open context menu window (class "#32768"), or NULL.
    HWND OpenMenu() const;
    std::vector<HWND> VisibleWindows() const;
    // Exits cleanly through the Exit command and waits for the process to end.
    bool Exit(DWORD timeoutMs = 10000);

private:
    CChildProcess m_process;
    HWND m_mainWindow = nullptr;
    ULONGLONG m_windowSeenTick = 0;
};

// The test bed's URL recorder as the prefix's https handler, writing to a log of its own.
class CUrlLog {
public:
    CUrlLog();
    ~CUrlLog();
    // Points HKCR\https\shell\open\command at the recorder (a no-op when it already is).
    static bool RegisterRecorder();
    // The argument of every recorder start so far, quotes removed.
    std::vector<std::wstring> Addresses() const;

private:
    std::wstring m_path;
};
