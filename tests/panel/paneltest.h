#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "paintrecorder.h"

// Helpers shared by the control host and panel tests.

::testing::AssertionResult SameRect(const RECT& expected, const RECT& actual);

// A visible top-level window that stands where the results view would: the panel's parent. It
// records the messages that reach it (DefWindowProcW passes some on to the parent).
// Tests share one (SharedParent): under Xvfb without a window manager Wine waits two seconds for
// every top-level window that goes away.
class CParentWindow {
public:
    CParentWindow(int width = 400, int height = 200);
    ~CParentWindow();
    HWND m_hWnd = nullptr;
    std::vector<UINT> m_messages;
    bool Received(UINT message) const;

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};
CParentWindow& SharedParent();

// Dispatches this thread's messages for `milliseconds`.
void PumpMessages(DWORD milliseconds);
// Dispatches what is already queued, without waiting.
void PumpPending();

// The client area as 0x00RRGGBB values, row by row, read back from the window's DC.
struct CPixels {
    int width = 0;
    int height = 0;
    std::vector<DWORD> rgb;
    DWORD At(int x, int y) const { return rgb[y * width + x]; }
};
CPixels ReadClientPixels(HWND hWnd);
constexpr DWORD Rgb(COLORREF color)
{
    return (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
}
// Every pixel of `rect` has `rgb`.
bool AreaIs(const CPixels& pixels, const RECT& rect, DWORD rgb);

// All windows of this process: top-level ones and every descendant.
int CountProcessWindows();
// Private bytes of this process.
SIZE_T PrivateBytes();

// Puts a module in g_hUxTheme for the life of the object and puts the old one back.
class CUxThemeSwap {
public:
    explicit CUxThemeSwap(HMODULE module);
    ~CUxThemeSwap();

private:
    HMODULE m_previous;
};

// The recording buffered-paint module of the tests, loaded once.
class CPaintRecorder {
public:
    CPaintRecorder();
    HMODULE m_module = nullptr;
    void Reset();
    std::vector<CPaintCall> Calls();
    // The last buffer handed to EndBufferedPaint, BGRA.
    std::vector<DWORD> LastBuffer(int& width, int& height);
    int OpenBuffers();
    // For a test control's draw hook.
    RecorderMarkFn m_mark = nullptr;

private:
    RecorderResetFn m_reset = nullptr;
    RecorderCallCountFn m_count = nullptr;
    RecorderGetCallFn m_get = nullptr;
    RecorderLastBufferFn m_lastBuffer = nullptr;
    RecorderOpenBuffersFn m_openBuffers = nullptr;
};
CPaintRecorder& PaintRecorder();

// Replaces one function that this program imports by name from `dll`, for as long as the object
// lives, so that a test can make an OLE Automation allocation fail.
class CImportPatch {
public:
    CImportPatch(const char* dll, const char* function, void* replacement);
    ~CImportPatch();
    bool IsActive() const { return m_slot != nullptr; }
    void* Original() const { return m_original; }

private:
    void** m_slot = nullptr;
    void* m_original = nullptr;
};

// The stand-in WebBrowser's record, through the functions its DLL exports.
class CStandIn {
public:
    CStandIn();
    HMODULE m_module = nullptr;
    LONG Count(int which) const;
    // `present` is false when the field has no value (no such page, _search never defined).
    std::wstring Field(int page, int field, bool* present = nullptr) const;
    void SetDocumentMode(int mode) const;
    void Reset() const;
    bool IsLoaded() const { return m_getCount && m_copyField && m_setMode && m_reset; }

private:
    LONG(__cdecl* m_getCount)(int) = nullptr;
    BSTR(__cdecl* m_copyField)(int, int) = nullptr;
    void(__cdecl* m_setMode)(int) = nullptr;
    void(__cdecl* m_reset)() = nullptr;
};
CStandIn& StandIn();

// Decides, for as long as it lives, what CoCreateInstance(CLSID_WebBrowser) gives on this
// thread, by registering a class object in the process ahead of the registry.
enum class EBrowser {
    StandIn,      // the test bed's stand-in
    Wine,         // Wine's own WebBrowser, ieframe.dll
    Unavailable,  // creation fails
    None          // nothing registered here: the test registers its own
};
class CBrowserClass {
public:
    explicit CBrowserClass(EBrowser browser);
    ~CBrowserClass();
    CBrowserClass(const CBrowserClass&) = delete;
    CBrowserClass& operator=(const CBrowserClass&) = delete;
    bool IsRegistered() const { return m_cookie != 0; }
    // Registers `factory` instead.
    explicit CBrowserClass(IClassFactory* factory);

private:
    void Register(IClassFactory* factory);
    DWORD m_cookie = 0;
};
