#pragma once
// Processes, paths and waiting, for the tests that work across processes.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A build path as the test process sees it: CMake hands over host paths, Wine maps "/" to Z:.
std::wstring WindowsPath(const char* path);
std::wstring DirectoryOf(const std::wstring& path);
std::wstring FileNameOf(const std::wstring& path);

// Polls `condition` every `stepMs` until it holds or `timeoutMs` has passed; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs = 20);

// A process that this test started. Whatever happens, it does not outlive the object.
class CChildProcess {
public:
    CChildProcess() = default;
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    ~CChildProcess();

    bool Start(const std::wstring& exe, const std::wstring& arguments = L"", const std::wstring& directory = L"");
    bool IsStarted() const { return m_process != nullptr; }
    bool IsRunning() const;
    DWORD Id() const { return m_processId; }
    HANDLE Handle() const { return m_process; }
    // GetTickCount64 just before CreateProcessW.
    ULONGLONG StartTick() const { return m_startTick; }
    bool WaitForExit(DWORD timeoutMs) const;
    // STILL_ACTIVE while it runs.
    DWORD ExitCode() const;
    // Ends the process if it still runs, waits for it and lets go of it.
    void Terminate();

private:
    HANDLE m_process = nullptr;
    DWORD m_processId = 0;
    ULONGLONG m_startTick = 0;
};

// The first top-level window of class `className` that belongs to `processId`.
HWND FindProcessWindow(DWORD processId, PCWSTR className);
// Every top-level window of the process.
std::vector<HWND> TopLevelWindowsOf(DWORD processId);
std::wstring ClassNameOf(HWND hWnd);
// Whether a module of that file name is loaded in the process.
bool ProcessHasModule(HANDLE process, PCWSTR fileName);

// A folder of its own under the temporary folder, removed with everything in it at the end.
class CTempFolder {
public:
    CTempFolder();
    ~CTempFolder();
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};
