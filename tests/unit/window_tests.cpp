#include <gtest/gtest.h>

#include <vector>

#include "support/window.h"

namespace {

constexpr UINT WM_TEST_THROW = WM_APP + 1;
constexpr UINT WM_TEST_ECHO = WM_APP + 2;

class CRecordingWindow : public CWindowImpl {
public:
    explicit CRecordingWindow(LRESULT echoBase) : m_echoBase(echoBase) {}

    std::vector<UINT> m_messages;
    HWND m_finalWindow = nullptr;

protected:
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override
    {
        EXPECT_EQ(m_hWnd, hWnd);
        m_messages.push_back(message);
        switch (message) {
        case WM_TEST_ECHO:
            result = m_echoBase + static_cast<LRESULT>(wParam);
            return TRUE;
        case WM_TEST_THROW:
            throw 42;
        default:
            return FALSE;
        }
    }

    void OnFinalMessage(HWND hWnd) override { m_finalWindow = hWnd; }

private:
    LRESULT m_echoBase;
};

const RECT kRect = {10, 20, 110, 70};

TEST(WindowImplTest, EachWindowReachesItsOwnObject)
{
    CRecordingWindow first(1000), second(2000);
    ASSERT_TRUE(first.Create(nullptr, kRect, L"first", WS_POPUP));
    ASSERT_TRUE(second.Create(nullptr, kRect, L"second", WS_POPUP));
    EXPECT_NE(first.m_hWnd, second.m_hWnd);

    EXPECT_EQ(1007, SendMessageW(first.m_hWnd, WM_TEST_ECHO, 7, 0));
    EXPECT_EQ(2009, SendMessageW(second.m_hWnd, WM_TEST_ECHO, 9, 0));
    // Messages before CreateWindowExW returned reached the object as well.
    EXPECT_NE(std::find(first.m_messages.begin(), first.m_messages.end(), WM_CREATE), first.m_messages.end());

    // Unhandled messages go to DefWindowProcW: the title is the window's own.
    WCHAR title[32] = L"";
    GetWindowTextW(second.m_hWnd, title, 32);
    EXPECT_STREQ(L"second", title);

    const HWND firstWindow = first.m_hWnd;
    EXPECT_TRUE(DestroyWindow(firstWindow));
    EXPECT_EQ(nullptr, first.m_hWnd);
    EXPECT_EQ(firstWindow, first.m_finalWindow);
    EXPECT_EQ(2001, SendMessageW(second.m_hWnd, WM_TEST_ECHO, 1, 0));
    DestroyWindow(second.m_hWnd);
}

TEST(WindowImplTest, ClassHasThePanelStylesCursorAndBrush)
{
    CRecordingWindow window(0);
    ASSERT_TRUE(window.Create(nullptr, kRect, L"", WS_POPUP));
    WNDCLASSEXW wc = {sizeof(wc)};
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), CWindowImpl::ClassName(), &wc));
    EXPECT_EQ(static_cast<UINT>(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS), wc.style);
    EXPECT_EQ(LoadCursorW(nullptr, IDC_ARROW), wc.hCursor);
    EXPECT_EQ(reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), wc.hbrBackground);
    EXPECT_EQ(0, wc.cbClsExtra);
    EXPECT_EQ(0, wc.cbWndExtra);
    WCHAR className[64] = L"";
    GetClassNameW(window.m_hWnd, className, 64);
    EXPECT_STREQ(CWindowImpl::ClassName(), className);
    DestroyWindow(window.m_hWnd);
}

TEST(WindowImplTest, SecondCreateWhileAliveFails)
{
    CRecordingWindow window(0);
    ASSERT_TRUE(window.Create(nullptr, kRect, L"", WS_POPUP));
    const HWND hWnd = window.m_hWnd;
    EXPECT_EQ(nullptr, window.Create(nullptr, kRect, L"", WS_POPUP));
    EXPECT_EQ(hWnd, window.m_hWnd);
    DestroyWindow(hWnd);
    // The object can have a window again once the first is gone.
    ASSERT_TRUE(window.Create(nullptr, kRect, L"", WS_POPUP));
    DestroyWindow(window.m_hWnd);
}

TEST(WindowImplTest, ExceptionInAHandlerDoesNotCrossIntoWindows)
{
    CRecordingWindow window(0);
    ASSERT_TRUE(window.Create(nullptr, kRect, L"", WS_POPUP));
    // A sent message and a dispatched one both go through user32's frames.
    EXPECT_EQ(0, SendMessageW(window.m_hWnd, WM_TEST_THROW, 0, 0));
    PostMessageW(window.m_hWnd, WM_TEST_THROW, 0, 0);
    MSG msg;
    while (PeekMessageW(&msg, window.m_hWnd, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    EXPECT_EQ(2, std::count(window.m_messages.begin(), window.m_messages.end(), WM_TEST_THROW));
    EXPECT_EQ(5, SendMessageW(window.m_hWnd, WM_TEST_ECHO, 5, 0));
    DestroyWindow(window.m_hWnd);
}

TEST(WindowImplTest, WindowOutlivingItsObjectFallsBackToDefWindowProc)
{
    HWND orphan = nullptr;
    {
        CRecordingWindow window(100);
        ASSERT_TRUE(window.Create(nullptr, kRect, L"orphan", WS_POPUP));
        orphan = window.m_hWnd;
    }
    ASSERT_TRUE(IsWindow(orphan));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&DefWindowProcW), GetWindowLongPtrW(orphan, GWLP_WNDPROC));
    EXPECT_EQ(0, SendMessageW(orphan, WM_TEST_ECHO, 1, 0));
    EXPECT_TRUE(DestroyWindow(orphan));
}

}  // namespace
