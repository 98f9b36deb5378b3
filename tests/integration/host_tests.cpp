// Tallyglass.exe from the release folder against the Start Menu simulator: the keeper, the ways
// out, the program without its library, a second copy, and the icon's callbacks.
#include <gtest/gtest.h>

#include <memory>

#include "product.h"
#include "support/host.h"
#include "support/process.h"
#include "support/simulator.h"
#include "support/tallyhook.h"

namespace {

constexpr DWORD ONE_TICK_MS = KEEPER_TICK_MS + KEEPER_MARGIN_MS;
// The first tick comes one period after the main window's creation; timers may fire a little
// early, never a whole period.
constexpr DWORD FIRST_TICK_EARLIEST_MS = KEEPER_TICK_MS - 250;
constexpr DWORD EXIT_TIMEOUT_MS = 10000;
constexpr DWORD BROWSER_START_MS = 10000;

void SleepUntil(ULONGLONG tick)
{
    const ULONGLONG now = GetTickCount64();
    if (tick > now)
        Sleep(static_cast<DWORD>(tick - now));
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CUrlLog::RegisterRecorder()) << "About would start a real browser";
        ASSERT_TRUE(m_library.Load());
        m_library.RemoveLeftoverHook();
        ASSERT_EQ(nullptr, FindWindowW(L"TALLYKEEPER", nullptr)) << "a Tallyglass outlived its test";
        ASSERT_EQ(nullptr, FindWindowW(L"DV2ControlHost", nullptr)) << "a Start Menu outlived its test";
    }

    void TearDown() override
    {
        for (auto& host : m_hosts)
            host->Process().Terminate();
        m_library.RemoveLeftoverHook();
        m_simulator.Kill();
    }

    CTallyglassProcess* StartHost(const std::wstring& exe = ReleaseTallyglassPath())
    {
        m_hosts.push_back(std::make_unique<CTallyglassProcess>());
        CTallyglassProcess* host = m_hosts.back().get();
        return host->Start(exe) ? host : nullptr;
    }

    // Waits until the simulator carries a hook other than `previous`: Tallyhook.dll loaded there
    // and the shared flag up. Leaves in *when the moment it saw that.
    bool WaitForHook(ULONGLONG deadline, HHOOK previous = nullptr, ULONGLONG* when = nullptr)
    {
        const ULONGLONG now = GetTickCount64();
        const bool arrived = WaitUntil(
            [&] {
                const CSharedHookState shared = m_library.SharedState();
                return shared.installed == 1 && shared.handle && shared.handle != previous &&
                       m_simulator.HasTallyhook();
            },
            deadline > now ? static_cast<DWORD>(deadline - now) : 0);
        if (when)
            *when = GetTickCount64();
        return arrived;
    }

    // The simulator saw the removal: two broadcasts after `before`, each with the flag down.
    void ExpectRemovalBroadcasts(size_t before)
    {
        const std::vector<int> flags = m_simulator.BroadcastFlags();
        ASSERT_GE(flags.size(), before + 2) << "the removal did not broadcast twice";
        EXPECT_EQ(0, flags[before]);
        EXPECT_EQ(0, flags[before + 1]);
    }

    CUrlLog m_urls;
    CTallyhookLibrary m_library;
    CStartMenuSimulator m_simulator;
    std::vector<std::unique_ptr<CTallyglassProcess>> m_hosts;
};

using KeeperTest = HostTest;

TEST_F(KeeperTest, InstallsWithinOneTickOfTheStartMenuAndLeavesACurrentHookAlone)
{
    CTallyglassProcess* host = StartHost();
    ASSERT_TRUE(host);
    EXPECT_TRUE(WaitUntil([&] { return host->IconShown(); }, 5000));

    // Ticks without a Start Menu do nothing, and do not even load the library.
    SleepUntil(host->WindowSeenTick() + ONE_TICK_MS);
    EXPECT_FALSE(host->HasLoadedTallyhook());
    EXPECT_EQ(0, m_library.SharedState().installed);

    ASSERT_TRUE(m_simulator.Start());
    ASSERT_TRUE(WaitForHook(m_simulator.WindowSeenTick() + ONE_TICK_MS)) << "no hook within one tick";
    EXPECT_TRUE(host->HasLoadedTallyhook());
    EXPECT_EQ(1, m_simulator.ComInitialised());
    EXPECT_TRUE(host->VisibleWindows().empty()) << "the program showed a window";

    // Later ticks find the hook current and leave it alone.
    const HHOOK hook = m_library.SharedState().handle;
    const size_t broadcasts = m_simulator.BroadcastFlags().size();
    Sleep(KEEPER_TICK_MS + 300);
    EXPECT_EQ(hook, m_library.SharedState().handle);
    EXPECT_EQ(broadcasts, m_simulator.BroadcastFlags().size());
    EXPECT_TRUE(host->Process().IsRunning());
}

TEST_F(KeeperTest, TimerWithAnotherIdRunsTheKeeperRule)
{
    ASSERT_TRUE(m_simulator.Start());
    CTallyglassProcess* host = StartHost();
    ASSERT_TRUE(host);
    ASSERT_TRUE(host->Post(WM_TIMER, 77, 0));
    // Well before the keeper's own first tick.
    EXPECT_TRUE(WaitForHook(host->WindowSeenTick() + KEEPER_TICK_MS - 700));
}

TEST_F(KeeperTest, ShellRestartIsFollowedWithinOneTickOfTheNewStartMenu)
{
    ASSERT_TRUE(m_simulator.Start());
    CTallyglassProcess* host = StartHost();
    ASSERT_TRUE(host);
    ULONGLONG installedAt = 0;
    ASSERT_TRUE(WaitForHook(host->WindowSeenTick() + ONE_TICK_MS, nullptr, &installedAt));
    EXPECT_GE(installedAt - host->Process().StartTick(), FIRST_TICK_EARLIEST_MS) << "installed before the first tick";
    const HHOOK first = m_library.SharedState().handle;

    m_simulator.Kill();
    ASSERT_TRUE(m_simulator.Start());
    EXPECT_TRUE(WaitForHook(m_simulator.WindowSeenTick() + ONE_TICK_MS, first)) << "the new shell was not hooked";
    EXPECT_EQ(1, m_simulator.ComInitialised());
    EXPECT_TRUE(host->IconShown());
    EXPECT_TRUE(host->Process().IsRunning());
}

enum class CShutdown { ExitCommand, EndSessionFalse, QuitMessage };

struct CShutdownCase {
    const char* name;
    CShutdown how;
    DWORD exitCode;
};

class ShutdownTest : public HostTest, public ::testing::WithParamInterface<CShutdownCase> {};

TEST_P(ShutdownTest, RemovesTheHookOnceAndEnds)
{
    ASSERT_TRUE(m_simulator.Start());
    CTallyglassProcess* host = StartHost();
    ASSERT_TRUE(host);
    ASSERT_TRUE(WaitForHook(host->WindowSeenTick() + ONE_TICK_MS));
    EXPECT_TRUE(host->IconShown());
    const size_t broadcasts = m_simulator.BroadcastFlags().size();

    switch (GetParam().how) {
    case CShutdown::ExitCommand:
        ASSERT_TRUE(host->Post(WM_COMMAND, COMMAND_EXIT, 0));
        break;
    case CShutdown::EndSessionFalse: {
        // The session goes on after all; the program still takes its hook away and quits.
        DWORD_PTR result = 1;
        ASSERT_TRUE(SendMessageTimeoutW(host->MainWindow(), WM_ENDSESSION, FALSE, 0, SMTO_NORMAL, 5000, &result));
        EXPECT_EQ(0u, result);
        break;
    }
    case CShutdown::QuitMessage:
        ASSERT_TRUE(host->Post(WM_QUIT, GetParam().exitCode, 0));
        break;
    }
    ASSERT_TRUE(host->Process().WaitForExit(EXIT_TIMEOUT_MS));
    EXPECT_EQ(GetParam().exitCode, host->Process().ExitCode());

    EXPECT_EQ(0, m_library.SharedState().installed);
    EXPECT_EQ(0, m_simulator.SharedState().installed);
    ExpectRemovalBroadcasts(broadcasts);
    // The second removal on the way out found nothing to do: no more broadcasts.
    EXPECT_EQ(broadcasts + 2, m_simulator.BroadcastFlags().size());
    EXPECT_FALSE(host->IconShown()) << "the icon outlived the program";
    EXPECT_TRUE(m_simulator.IsAnswering());
    for (const CFields& window : m_simulator.Windows())
        EXPECT_EQ(0, NumberField(window, L"indll") + NumberField(window, L"classindll")) << window.at(L"class");
}

INSTANTIATE_TEST_SUITE_P(Ways, ShutdownTest,
                         ::testing::Values(CShutdownCase{"ExitCommand", CShutdown::ExitCommand, 0},
                                           CShutdownCase{"EndSessionFalse", CShutdown::EndSessionFalse, 0},
                                           CShutdownCase{"QuitMessage", CShutdown::QuitMessage, 3}),
                         [](const ::testing::TestParamInfo<CShutdownCase>& info) {
                             return std::string(info.param.name);
                         });

class NoLibraryTest : public HostTest {
protected:
    CTempFolder m_folder;
};

TEST_F(NoLibraryTest, IconAboutAndExitWorkAndNothingIsShown)
{
    ASSERT_FALSE(m_folder.Path().empty());
    const std::wstring lonely = m_folder.Path() + L"\\Tallyglass.exe";
    ASSERT_TRUE(CopyFileW(ReleaseTallyglassPath().c_str(), lonely.c_str(), TRUE));
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((m_folder.Path() + L"\\Tallyhook.dll").c_str()));

    ASSERT_TRUE(m_simulator.Start());
    CTallyglassProcess* host = StartHost(lonely);
    ASSERT_TRUE(host);
    EXPECT_TRUE(WaitUntil([&] { return host->IconShown(); }, 5000));

    // A tick with a Start Menu tried to load the library, and nothing came of it.
    SleepUntil(host->WindowSeenTick() + ONE_TICK_MS);
    ASSERT_TRUE(host->Process().IsRunning());
    EXPECT_FALSE(host->HasLoadedTallyhook());
    EXPECT_FALSE(m_simulator.HasTallyhook());
    EXPECT_EQ(0, m_library.SharedState().installed);
    EXPECT_TRUE(host->VisibleWindows().empty()) << "the program showed a window";

    ASSERT_TRUE(host->Post(WM_COMMAND, COMMAND_ABOUT, 0));
    ASSERT_TRUE(WaitUntil([&] { return !m_urls.Addresses().empty(); }, BROWSER_START_MS)) << "About opened nothing";
    EXPECT_EQ(std::wstring(PRODUCT_HOME_PAGE), m_urls.Addresses().front());
    EXPECT_TRUE(host->VisibleWindows().empty()) << "the program showed a window";

    ASSERT_TRUE(host->Exit(EXIT_TIMEOUT_MS));
    EXPECT_EQ(0u, host->Process().ExitCode());
}

using SecondCopyTest = HostTest;

TEST_F(SecondCopyTest, EitherCopyExitingLeavesTheOtherToReinstall)
{
    ASSERT_TRUE(m_simulator.Start());
    CTallyglassProcess* first = StartHost();
    ASSERT_TRUE(first);
    ASSERT_TRUE(WaitForHook(first->WindowSeenTick() + ONE_TICK_MS));
    CTallyglassProcess* second = StartHost();
    ASSERT_TRUE(second);
    // No single-instance check: the second copy runs its own keeper and its own icon.
    ASSERT_TRUE(WaitUntil([&] { return second->HasLoadedTallyhook(); }, ONE_TICK_MS)) << "its keeper never ran";
    EXPECT_TRUE(first->IconShown());
    EXPECT_TRUE(second->IconShown());
    EXPECT_EQ(1, m_library.SharedState().installed);

    // `leaving` exits and removes the hook; `staying` puts it back at its next tick. The exit is
    // placed between two of the staying copy's ticks, so that no tick can fall into the removal.
    auto exitAndExpectReinstall = [&](CTallyglassProcess* leaving, CTallyglassProcess* staying) {
        const ULONGLONG phase = (GetTickCount64() - staying->WindowSeenTick()) % KEEPER_TICK_MS;
        SleepUntil(GetTickCount64() + (KEEPER_TICK_MS + 1000 - phase) % KEEPER_TICK_MS);
        const HHOOK hook = m_library.SharedState().handle;
        const size_t broadcasts = m_simulator.BroadcastFlags().size();
        ASSERT_TRUE(leaving->Exit(EXIT_TIMEOUT_MS));
        EXPECT_EQ(0u, leaving->Process().ExitCode());
        ExpectRemovalBroadcasts(broadcasts);
        EXPECT_TRUE(WaitForHook(GetTickCount64() + ONE_TICK_MS, hook)) << "the other copy did not reinstall";
        EXPECT_TRUE(staying->Process().IsRunning());
    };

    // The older copy leaves first.
    exitAndExpectReinstall(first, second);
    // Then a newer one joins and leaves again.
    CTallyglassProcess* third = StartHost();
    ASSERT_TRUE(third);
    ASSERT_TRUE(WaitUntil([&] { return third->HasLoadedTallyhook(); }, ONE_TICK_MS));
    exitAndExpectReinstall(third, second);

    // The last copy leaves: the hook is gone for good.
    ASSERT_TRUE(second->Exit(EXIT_TIMEOUT_MS));
    EXPECT_EQ(0u, second->Process().ExitCode());
    EXPECT_EQ(0, m_library.SharedState().installed);
}

enum class CReaction { About, Menu, Nothing };

struct CCallbackCase {
    const char* name;
    WPARAM iconId;
    LPARAM mouseMessage;
    CReaction reaction;
};

// Version-0 callbacks: wParam the icon id, the low word of lParam the mouse message.
const CCallbackCase CALLBACK_CASES[] = {
    {"double click", ICON_ID, WM_LBUTTONDBLCLK, CReaction::About},
    {"double click, high word set", ICON_ID, MAKELPARAM(WM_LBUTTONDBLCLK, 0x1234), CReaction::About},
    {"right button up", ICON_ID, WM_RBUTTONUP, CReaction::Menu},
    {"left button up", ICON_ID, WM_LBUTTONUP, CReaction::Nothing},
    {"mouse move", ICON_ID, WM_MOUSEMOVE, CReaction::Nothing},
    {"other id, double click", ICON_ID + 1, WM_LBUTTONDBLCLK, CReaction::Nothing},
    {"other id, right button up", 7, WM_RBUTTONUP, CReaction::Nothing},
};

using IconTest = HostTest;

TEST_F(IconTest, CallbacksOpenTheMenuOrAboutOrNothing)
{
    CTallyglassProcess* host = StartHost();
    ASSERT_TRUE(host);
    ASSERT_TRUE(WaitUntil([&] { return host->IconShown(); }, 5000));

    for (const CCallbackCase& test : CALLBACK_CASES) {
        if (test.reaction == CReaction::Nothing)
            continue;
        SCOPED_TRACE(test.name);
        const size_t opened = m_urls.Addresses().size();
        ASSERT_TRUE(host->Post(ICON_CALLBACK_MESSAGE, test.iconId, test.mouseMessage));
        if (test.reaction == CReaction::About) {
            ASSERT_TRUE(WaitUntil([&] { return m_urls.Addresses().size() == opened + 1; }, BROWSER_START_MS));
            EXPECT_EQ(std::wstring(PRODUCT_HOME_PAGE), m_urls.Addresses().back());
            EXPECT_EQ(nullptr, host->OpenMenu());
        } else {
            HWND menu = nullptr;
            ASSERT_TRUE(WaitUntil([&] { return (menu = host->OpenMenu()) != nullptr; }, 5000)) << "no menu";
            PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
            EXPECT_TRUE(WaitUntil([&] { return host->OpenMenu() == nullptr; }, 5000)) << "the menu stays open";
            EXPECT_EQ(opened, m_urls.Addresses().size());
        }
    }

    // The rest must do nothing: send them all, then one double click as a marker behind them in
    // the queue. Only the marker may open the page, and no menu may be left open.
    const size_t opened = m_urls.Addresses().size();
    for (const CCallbackCase& test : CALLBACK_CASES) {
        if (test.reaction == CReaction::Nothing) {
            ASSERT_TRUE(host->Post(ICON_CALLBACK_MESSAGE, test.iconId, test.mouseMessage)) << test.name;
        }
    }
    ASSERT_TRUE(host->Post(ICON_CALLBACK_MESSAGE, ICON_ID, WM_LBUTTONDBLCLK));
    ASSERT_TRUE(WaitUntil([&] { return m_urls.Addresses().size() >= opened + 1; }, BROWSER_START_MS));
    EXPECT_FALSE(WaitUntil([&] { return m_urls.Addresses().size() > opened + 1; }, 1500))
        << "a callback that should do nothing opened the page";
    EXPECT_EQ(nullptr, host->OpenMenu());
    EXPECT_TRUE(host->Process().IsRunning());
}

TEST_F(IconTest, MenuChoicesReachTheMainWindow)
{
    CTallyglassProcess* host = StartHost();
    ASSERT_TRUE(host);
    ASSERT_TRUE(WaitUntil([&] { return host->IconShown(); }, 5000));
    HWND menu = nullptr;
    auto openMenu = [&] {
        menu = nullptr;
        return host->Post(ICON_CALLBACK_MESSAGE, ICON_ID, WM_RBUTTONUP) &&
               WaitUntil([&] { return (menu = host->OpenMenu()) != nullptr; }, 5000);
    };

    // The first item is About.
    ASSERT_TRUE(openMenu());
    PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(WaitUntil([&] { return m_urls.Addresses().size() == 1; }, BROWSER_START_MS)) << "About did not open";
    EXPECT_EQ(std::wstring(PRODUCT_HOME_PAGE), m_urls.Addresses().front());
    EXPECT_TRUE(WaitUntil([&] { return host->OpenMenu() == nullptr; }, 5000));

    // E&xit, by its mnemonic.
    ASSERT_TRUE(openMenu());
    PostMessageW(menu, WM_CHAR, L'x', 0);
    ASSERT_TRUE(host->Process().WaitForExit(EXIT_TIMEOUT_MS)) << "Exit did not end the program";
    EXPECT_EQ(0u, host->Process().ExitCode());
}

}  // namespace
