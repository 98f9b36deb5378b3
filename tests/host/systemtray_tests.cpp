#include <gtest/gtest.h>

#include <vector>

#include "resource.h"
#include "systemtray.h"

namespace {

// Whether the shell's notification area holds the icon (window, id): only an existing icon can
// be modified.
bool ShellHasIcon(HWND hWnd, UINT id)
{
    NOTIFYICONDATAW probe = {};
    probe.cbSize = sizeof(probe);
    probe.hWnd = hWnd;
    probe.uID = id;
    return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

// What the shell does to the icons of a process when it restarts: they are simply gone.
void ShellForgetsIcon(HWND hWnd, UINT id)
{
    NOTIFYICONDATAW record = {};
    record.cbSize = sizeof(record);
    record.hWnd = hWnd;
    record.uID = id;
    Shell_NotifyIconW(NIM_DELETE, &record);
}

std::vector<MSG> DrainMessages(HWND hWnd)
{
    std::vector<MSG> messages;
    MSG msg;
    while (PeekMessageW(&msg, hWnd, 0, 0, PM_REMOVE))
        messages.push_back(msg);
    return messages;
}

void CALLBACK CloseMenu(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    EndMenu();
}

class CRecordingTray : public CSystemTray {
public:
    void PrepareMenu(HMENU popup) noexcept override
    {
        m_defaultItem = GetMenuDefaultItem(popup, TRUE, 0);
        for (int i = 0; i < GetMenuItemCount(popup); ++i)
            m_items.push_back(GetMenuItemID(popup, i));
        // Closes the menu's modal loop as soon as it runs.
        SetTimer(nullptr, 0, 10, CloseMenu);
    }

    UINT m_defaultItem = static_cast<UINT>(-2);
    std::vector<UINT> m_items;
};

class SystemTrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_target = CreateWindowExW(0, L"STATIC", L"target", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(m_target);
        m_icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TALLYGLASS));
        ASSERT_TRUE(m_icon);
    }

    void TearDown() override
    {
        ShellForgetsIcon(m_target, CSystemTray::ICON_ID);
        DestroyWindow(m_target);
    }

    HWND m_target = nullptr;
    HICON m_icon = nullptr;
};

TEST_F(SystemTrayTest, SetupAddsTheIconWithItsRecord)
{
    CSystemTray tray;
    ASSERT_TRUE(tray.Setup(m_target, GetModuleHandleW(nullptr), m_icon));
    const NOTIFYICONDATAW& record = tray.IconRecord();
    EXPECT_EQ(956u, record.cbSize);
    EXPECT_EQ(m_target, record.hWnd);
    EXPECT_EQ(109u, record.uID);
    EXPECT_EQ(7u, record.uFlags);
    EXPECT_EQ(0x800Au, record.uCallbackMessage);
    EXPECT_EQ(m_icon, record.hIcon);
    EXPECT_STREQ(L"Tallyglass", record.szTip);
    EXPECT_EQ(0u, record.uVersion);
    EXPECT_FALSE(tray.IsHidden());
    EXPECT_FALSE(tray.IsRemoved());
    EXPECT_TRUE(tray.WillReAdd());
    EXPECT_TRUE(ShellHasIcon(m_target, 109));

    // The hidden window is top-level (broadcasts reach it) and never shown.
    HWND hidden = tray.HiddenWindow();
    ASSERT_TRUE(IsWindow(hidden));
    EXPECT_EQ(nullptr, GetParent(hidden));
    EXPECT_FALSE(IsWindowVisible(hidden));
    WCHAR className[32] = L"";
    GetClassNameW(hidden, className, 32);
    EXPECT_STREQ(L"TrayIconClass", className);
}

TEST_F(SystemTrayTest, DestructionDeletesTheIconAndTheHiddenWindow)
{
    HWND hidden = nullptr;
    {
        CSystemTray tray;
        ASSERT_TRUE(tray.Setup(m_target, GetModuleHandleW(nullptr), m_icon));
        hidden = tray.HiddenWindow();
    }
    EXPECT_FALSE(ShellHasIcon(m_target, 109));
    EXPECT_FALSE(IsWindow(hidden));
}

TEST_F(SystemTrayTest, ShellRestartBringsTheIconBack)
{
    CSystemTray tray;
    ASSERT_TRUE(tray.Setup(m_target, GetModuleHandleW(nullptr), m_icon));
    ShellForgetsIcon(m_target, 109);
    ASSERT_FALSE(ShellHasIcon(m_target, 109));

    EXPECT_EQ(0, SendMessageW(tray.HiddenWindow(), CSystemTray::TaskbarCreatedMessage(), 0, 0));
    EXPECT_TRUE(ShellHasIcon(m_target, 109));
    EXPECT_EQ(7u, tray.IconRecord().uFlags);
    EXPECT_FALSE(tray.IsHidden());
    EXPECT_FALSE(tray.IsRemoved());
    EXPECT_TRUE(tray.WillReAdd());

    // And again after a second restart.
    ShellForgetsIcon(m_target, 109);
    SendMessageW(tray.HiddenWindow(), CSystemTray::TaskbarCreatedMessage(), 0, 0);
    EXPECT_TRUE(ShellHasIcon(m_target, 109));
}

TEST_F(SystemTrayTest, BroadcastWithoutRestartKeepsOneIconThatIsDeletedAtExit)
{
    {
        CSystemTray tray;
        ASSERT_TRUE(tray.Setup(m_target, GetModuleHandleW(nullptr), m_icon));
        SendMessageW(tray.HiddenWindow(), CSystemTray::TaskbarCreatedMessage(), 0, 0);
        EXPECT_TRUE(ShellHasIcon(m_target, 109));
        EXPECT_FALSE(tray.IsRemoved());
    }
    EXPECT_FALSE(ShellHasIcon(m_target, 109));
}

TEST_F(SystemTrayTest, FailedFirstAddIsNeitherReAddedNorDeleted)
{
    // An icon of the same window and id is already there, so the add fails.
    NOTIFYICONDATAW other = {};
    other.cbSize = sizeof(other);
    other.hWnd = m_target;
    other.uID = 109;
    other.uFlags = NIF_ICON;
    other.hIcon = m_icon;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &other));
    {
        CSystemTray tray;
        EXPECT_FALSE(tray.Setup(m_target, GetModuleHandleW(nullptr), m_icon));
        EXPECT_TRUE(tray.IsHidden());
        EXPECT_TRUE(tray.IsRemoved());
        EXPECT_FALSE(tray.WillReAdd());
        ShellForgetsIcon(m_target, 109);
        SendMessageW(tray.HiddenWindow(), CSystemTray::TaskbarCreatedMessage(), 0, 0);
        EXPECT_FALSE(ShellHasIcon(m_target, 109));
        ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &other));
    }
    // Destruction sent nothing: the other icon is still there.
    EXPECT_TRUE(ShellHasIcon(m_target, 109));
}

TEST_F(SystemTrayTest, CallbacksAreAnsweredByMouseMessage)
{
    CSystemTray tray;
    ASSERT_TRUE(tray.Setup(m_target, GetModuleHandleW(nullptr), m_icon));
    DrainMessages(m_target);

    struct Case {
        WPARAM id;
        UINT mouseMessage;
        LRESULT expected;
        UINT postedCommand;  // 0: nothing posted
    } cases[] = {
        {109, WM_LBUTTONDBLCLK, 1, IDM_ABOUT},
        {109, WM_LBUTTONDOWN, 1, 0},
        {109, WM_LBUTTONUP, 1, 0},
        {109, WM_MOUSEMOVE, 1, 0},
        {110, WM_LBUTTONDBLCLK, 0, 0},
        {110, WM_RBUTTONUP, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, tray.HandleCallback(c.id, MAKELPARAM(c.mouseMessage, 0)))
            << "id " << c.id << " message " << c.mouseMessage;
        std::vector<MSG> posted = DrainMessages(m_target);
        if (c.postedCommand) {
            ASSERT_EQ(1u, posted.size());
            EXPECT_EQ(static_cast<UINT>(WM_COMMAND), posted[0].message);
            EXPECT_EQ(c.postedCommand, posted[0].wParam);
            EXPECT_EQ(0, posted[0].lParam);
        } else {
            EXPECT_TRUE(posted.empty()) << "id " << c.id << " message " << c.mouseMessage;
        }
    }
}

TEST_F(SystemTrayTest, CallbackReachingTheHiddenWindowIsHandledToo)
{
    CSystemTray tray;
    ASSERT_TRUE(tray.Setup(m_target, GetModuleHandleW(nullptr), m_icon));
    DrainMessages(m_target);
    EXPECT_EQ(1, SendMessageW(tray.HiddenWindow(), 0x800A, 109, WM_LBUTTONDBLCLK));
    std::vector<MSG> posted = DrainMessages(m_target);
    ASSERT_EQ(1u, posted.size());
    EXPECT_EQ(static_cast<WPARAM>(IDM_ABOUT), posted[0].wParam);
    // Menu commands are not the hidden window's business: they go to DefWindowProcW.
    EXPECT_EQ(0, SendMessageW(tray.HiddenWindow(), WM_COMMAND, IDM_EXIT, 0));
    EXPECT_TRUE(IsWindow(tray.HiddenWindow()));
}

TEST_F(SystemTrayTest, RightButtonShowsTheMenuWithAboutAsDefault)
{
    CRecordingTray tray;
    ASSERT_TRUE(tray.Setup(m_target, GetModuleHandleW(nullptr), m_icon));
    DrainMessages(m_target);
    EXPECT_EQ(1, tray.HandleCallback(109, WM_RBUTTONUP));
    EXPECT_EQ(0u, tray.m_defaultItem);  // "About", drawn in bold
    EXPECT_EQ((std::vector<UINT>{IDM_ABOUT, 0, IDM_EXIT}), tray.m_items);
    // After the menu closed, the owner got WM_NULL so that the next click works.
    std::vector<MSG> posted = DrainMessages(m_target);
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(static_cast<UINT>(WM_NULL), posted.back().message);
}

TEST_F(SystemTrayTest, MenuThatCannotBeLoadedShowsNothing)
{
    CSystemTray tray;
    // A module without the menu resource.
    ASSERT_TRUE(tray.Setup(m_target, GetModuleHandleW(L"kernel32.dll"), m_icon));
    DrainMessages(m_target);
    EXPECT_EQ(0, tray.HandleCallback(109, WM_RBUTTONUP));
    EXPECT_EQ(0, tray.HandleCallback(109, WM_LBUTTONDBLCLK));
    EXPECT_TRUE(DrainMessages(m_target).empty());
}

std::vector<WPARAM> g_commands;

LRESULT CALLBACK CommandRecorderProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
        g_commands.push_back(wParam);
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

TEST(ResourcesTest, AcceleratorsGiveAboutForAltWithQuestionMarkOrSlash)
{
    HACCEL accelerators = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDC_TALLYKEEPER));
    ASSERT_TRUE(accelerators);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CommandRecorderProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"CommandRecorder";
    RegisterClassW(&wc);
    HWND target = CreateWindowExW(0, L"CommandRecorder", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(target);
    const LPARAM altDown = 1 << 29;
    struct Case {
        UINT message;
        WCHAR character;
        bool alt;
        bool translated;
    } cases[] = {
        {WM_SYSCHAR, L'?', true, true},
        {WM_SYSCHAR, L'/', true, true},
        {WM_CHAR, L'?', false, false},
        {WM_CHAR, L'/', false, false},
        {WM_SYSCHAR, L'x', true, false},
    };
    for (const Case& c : cases) {
        g_commands.clear();
        // The keystroke as the thread sees it: the Alt key held down or not.
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_MENU] = keys[VK_LMENU] = c.alt ? 0x80 : 0;
        SetKeyboardState(keys);
        MSG msg = {target, c.message, c.character, c.alt ? altDown : 0};
        EXPECT_EQ(c.translated, TranslateAcceleratorW(target, accelerators, &msg) != 0)
            << static_cast<char>(c.character);
        // An accelerator sends WM_COMMAND with 1 in the high word and the command in the low.
        const std::vector<WPARAM> expected =
            c.translated ? std::vector<WPARAM>{MAKEWPARAM(IDM_ABOUT, 1)} : std::vector<WPARAM>{};
        EXPECT_EQ(expected, g_commands) << static_cast<char>(c.character);
    }
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_MENU] = keys[VK_LMENU] = 0;
    SetKeyboardState(keys);
    DestroyWindow(target);
}

}  // namespace
