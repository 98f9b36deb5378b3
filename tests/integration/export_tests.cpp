// Tallyhook.dll's exports driven from the test process against the Start Menu simulator: what
// InstallHook and CheckHook promise, and what the hook does inside the simulated shell.
#include <gtest/gtest.h>

#include "support/process.h"
#include "support/simulator.h"
#include "support/tallyhook.h"

namespace {

constexpr DWORD HOOK_ARRIVAL_MS = 5000;

class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_library.Load()) << "Tallyhook.dll or its exports are missing from the release folder";
        m_library.RemoveLeftoverHook();
        ASSERT_EQ(0, m_library.SharedState().installed);
        ASSERT_EQ(nullptr, FindWindowW(L"DV2ControlHost", nullptr)) << "a Start Menu window outlived its test";
    }

    void TearDown() override
    {
        // While the simulator still runs, so that the removal's broadcasts find it.
        m_library.RemoveLeftoverHook();
        m_simulator.Kill();
    }

    // The library shows up in the simulator: Windows loaded it there to call the hook.
    bool WaitForHookInSimulator(CStartMenuSimulator& simulator)
    {
        return WaitUntil([&] { return simulator.HasTallyhook(); }, HOOK_ARRIVAL_MS);
    }

    // No window of the simulator runs a procedure of the library, directly or through its class.
    static void ExpectNoLibraryProcedure(CStartMenuSimulator& simulator)
    {
        const std::vector<CFields> windows = simulator.Windows();
        ASSERT_FALSE(windows.empty());
        for (const CFields& window : windows) {
            EXPECT_EQ(0, NumberField(window, L"indll")) << window.at(L"role") << " " << window.at(L"class");
            EXPECT_EQ(0, NumberField(window, L"classindll")) << window.at(L"role") << " " << window.at(L"class");
            if (window.at(L"role") != L"foreign") {
                EXPECT_EQ(1, NumberField(window, L"own")) << window.at(L"role") << " lost its own procedure";
            }
        }
    }

    // Whether the hook behind the handle still exists: only a live hook can be unhooked. Used
    // only on handles whose hook must be gone already.
    static bool HookStillExists(HHOOK hook) { return hook && UnhookWindowsHookEx(hook); }

    CTallyhookLibrary m_library;
    CStartMenuSimulator m_simulator;
};

TEST_F(ExportsTest, InstallWithoutStartMenuFailsAndLeavesTheSharedStateAlone)
{
    // Flag down: nothing to find, nothing changes.
    const CSharedHookState before = m_library.SharedState();
    ASSERT_TRUE(before.found);
    EXPECT_EQ(-1, m_library.InstallHook(1));
    EXPECT_EQ(0, m_library.SharedState().installed);
    EXPECT_EQ(before.handle, m_library.SharedState().handle);

    // A shell process without its Start Menu window is no Start Menu either.
    ASSERT_TRUE(m_simulator.Start(L"--omit=startmenu"));
    EXPECT_EQ(-1, m_library.InstallHook(1));
    EXPECT_EQ(0, m_library.SharedState().installed);

    // Flag up (the shell went away after an install): the failed attempt keeps flag and handle.
    ASSERT_TRUE(m_simulator.Start());
    ASSERT_EQ(1, m_library.InstallHook(1));
    const CSharedHookState installed = m_library.SharedState();
    ASSERT_EQ(1, installed.installed);
    m_simulator.Kill();
    ASSERT_EQ(nullptr, FindWindowW(L"DV2ControlHost", nullptr));
    EXPECT_EQ(-1, m_library.InstallHook(1));
    EXPECT_EQ(1, m_library.SharedState().installed);
    EXPECT_EQ(installed.handle, m_library.SharedState().handle);
}

TEST_F(ExportsTest, InstallHooksTheStartMenuThreadAndRunsTheShellSetUpOnce)
{
    ASSERT_TRUE(m_simulator.Start());
    ASSERT_FALSE(m_simulator.HasTallyhook());
    ASSERT_EQ(0, m_simulator.ComInitialised());

    ASSERT_EQ(1, m_library.InstallHook(1));
    const CSharedHookState shared = m_library.SharedState();
    EXPECT_EQ(1, shared.installed);
    ASSERT_NE(nullptr, shared.handle);
    EXPECT_EQ(1, m_library.CheckHook());

    ASSERT_TRUE(WaitForHookInSimulator(m_simulator));
    // One shared section for every process that loaded the file.
    const CSharedHookState seen = m_simulator.SharedState();
    EXPECT_TRUE(seen.found);
    EXPECT_EQ(1, seen.installed);
    EXPECT_EQ(shared.handle, seen.handle);

    // The shell set-up ran on the Start Menu's thread. (Wine's user32 loads uxtheme.dll into
    // every GUI process, so there only COM shows that the set-up ran.)
    EXPECT_EQ(1, m_simulator.ComInitialised());
    EXPECT_TRUE(m_simulator.HasUxTheme());

    // Once: undo its CoInitialize; however many messages pass the hook later, nobody redoes it.
    ASSERT_EQ(L"ok", m_simulator.Request(L"uncom"));
    ASSERT_EQ(0, m_simulator.ComInitialised());
    HWND startMenu = m_simulator.StartMenuWindow();
    ASSERT_NE(nullptr, startMenu);
    for (int i = 0; i < 100; ++i)
        SendMessageTimeoutW(startMenu, WM_NULL, 0, 0, SMTO_NORMAL, 1000, nullptr);
    const long long nullsBefore = NumberField(m_simulator.RequestFields(L"counters"), L"nulls");
    ASSERT_TRUE(WaitUntil(
        [&] { return NumberField(m_simulator.RequestFields(L"counters"), L"nulls") >= nullsBefore + 5; }, 3000));
    EXPECT_EQ(0, m_simulator.ComInitialised());
    EXPECT_TRUE(m_simulator.IsAnswering());
}

TEST_F(ExportsTest, SecondInstallIntoTheSameStartMenuChangesNothing)
{
    ASSERT_TRUE(m_simulator.Start());
    ASSERT_EQ(1, m_library.InstallHook(1));
    ASSERT_TRUE(WaitForHookInSimulator(m_simulator));
    const HHOOK first = m_library.SharedState().handle;
    const size_t broadcasts = m_simulator.BroadcastFlags().size();

    // Only the low byte counts: every one of these asks for an install.
    for (int argument : {1, 0x101, 0xFF, 0x7FFFFF01}) {
        SCOPED_TRACE(argument);
        EXPECT_EQ(1, m_library.InstallHook(argument));
        EXPECT_EQ(1, m_library.SharedState().installed);
        EXPECT_EQ(first, m_library.SharedState().handle) << "a second hook was set";
    }
    EXPECT_EQ(broadcasts, m_simulator.BroadcastFlags().size());
    EXPECT_EQ(1, m_library.CheckHook());
}

TEST_F(ExportsTest, CheckHookFollowsTheProcessThatOwnsTheStartMenu)
{
    ASSERT_TRUE(m_simulator.Start());
    EXPECT_EQ(-1, m_library.CheckHook()) << "not installed yet";
    ASSERT_EQ(1, m_library.InstallHook(1));
    EXPECT_EQ(1, m_library.CheckHook());
    const HHOOK first = m_library.SharedState().handle;

    // The shell restarts: the new Start Menu belongs to another process.
    m_simulator.Kill();
    EXPECT_EQ(-1, m_library.CheckHook()) << "no Start Menu at all";
    ASSERT_TRUE(m_simulator.Start());
    EXPECT_EQ(1, m_library.SharedState().installed) << "the flag survives the shell";
    EXPECT_EQ(-1, m_library.CheckHook());

    // Installing again hooks the new Start Menu thread.
    ASSERT_EQ(1, m_library.InstallHook(1));
    EXPECT_EQ(1, m_library.CheckHook());
    EXPECT_NE(first, m_library.SharedState().handle);
    ASSERT_TRUE(WaitForHookInSimulator(m_simulator));

    // A Start Menu built anew in the same process counts, on the same thread or another one.
    ASSERT_EQ(L"ok", m_simulator.Request(L"recreate"));
    EXPECT_EQ(1, m_library.CheckHook());
    const CFields before = m_simulator.RequestFields(L"ping");
    ASSERT_EQ(0u, m_simulator.Request(L"recreate-thread").find(L"ok"));
    const CFields after = m_simulator.RequestFields(L"ping");
    ASSERT_NE(before.at(L"uithread"), after.at(L"uithread"));
    ASSERT_NE(nullptr, HandleField(after, L"startmenu"));
    EXPECT_EQ(1, m_library.CheckHook());
    EXPECT_TRUE(m_simulator.IsAnswering());

    // Flag down: -1 although a Start Menu of the hooked process exists.
    ASSERT_EQ(1, m_library.InstallHook(0));
    EXPECT_EQ(-1, m_library.CheckHook());
}

TEST_F(ExportsTest, RemoveWhenNotInstalledFailsAndSendsNothing)
{
    ASSERT_TRUE(m_simulator.Start());
    const size_t broadcasts = m_simulator.BroadcastFlags().size();
    for (int argument : {0, 0x100}) {
        SCOPED_TRACE(argument);
        EXPECT_EQ(-1, m_library.InstallHook(argument));
        EXPECT_EQ(0, m_library.SharedState().installed);
    }
    EXPECT_EQ(broadcasts, m_simulator.BroadcastFlags().size()) << "a removal with nothing installed broadcast";
}

class RemovalTest : public ExportsTest, public ::testing::WithParamInterface<int> {};

TEST_P(RemovalTest, RemovalClearsTheFlagBeforeItsBroadcastsAndTakesTheHookAway)
{
    ASSERT_TRUE(m_simulator.Start());
    ASSERT_EQ(1, m_library.InstallHook(1));
    ASSERT_TRUE(WaitForHookInSimulator(m_simulator));
    const HHOOK hook = m_library.SharedState().handle;
    const std::vector<int> before = m_simulator.BroadcastFlags();

    EXPECT_EQ(1, m_library.InstallHook(GetParam()));
    EXPECT_EQ(0, m_library.SharedState().installed);
    EXPECT_EQ(0, m_simulator.SharedState().installed);
    EXPECT_EQ(-1, m_library.CheckHook());

    // Two broadcasts, both after the flag went down: the shell's hook sees the removal.
    std::vector<int> after = m_simulator.BroadcastFlags();
    ASSERT_EQ(before.size() + 2, after.size());
    EXPECT_EQ(0, after[before.size()]);
    EXPECT_EQ(0, after[before.size() + 1]);

    EXPECT_FALSE(HookStillExists(hook)) << "InstallHook(0) left the hook in place";
    ExpectNoLibraryProcedure(m_simulator);

    // A second removal finds nothing to do and says so, without a broadcast.
    EXPECT_EQ(-1, m_library.InstallHook(0));
    EXPECT_EQ(after.size(), m_simulator.BroadcastFlags().size());
    EXPECT_TRUE(m_simulator.IsAnswering());
}

// Only the low byte of the argument counts: all of these remove.
INSTANTIATE_TEST_SUITE_P(LowByteZero, RemovalTest, ::testing::Values(0, 0x100, 0xFF00, 0x7FFFFF00));

struct CShellShape {
    const char* name;
    const wchar_t* options;
};

class ShellShapeTest : public ExportsTest, public ::testing::WithParamInterface<CShellShape> {};

// However the Start Menu is built, the hook installs, lives in the shell without harm and goes.
TEST_P(ShellShapeTest, HookLivesInTheShellAndGoesAgain)
{
    ASSERT_TRUE(m_simulator.Start(GetParam().options));
    ASSERT_EQ(1, m_library.InstallHook(1));
    ASSERT_TRUE(WaitForHookInSimulator(m_simulator));
    // Messages keep passing the hook (the busy timer, and these).
    HWND startMenu = m_simulator.StartMenuWindow();
    ASSERT_NE(nullptr, startMenu);
    for (int i = 0; i < 20; ++i)
        SendMessageTimeoutW(startMenu, WM_NULL, 0, 0, SMTO_NORMAL, 1000, nullptr);
    // A colour change sent to the Start Menu takes the hook's re-discovery path.
    EXPECT_EQ(L"result=0", m_simulator.Request(L"send startmenu 0x15 0 0"));
    EXPECT_TRUE(m_simulator.IsAnswering());
    EXPECT_EQ(1, m_library.CheckHook());

    EXPECT_EQ(1, m_library.InstallHook(0));
    ExpectNoLibraryProcedure(m_simulator);
    EXPECT_TRUE(m_simulator.IsAnswering());
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ShellShapeTest,
    ::testing::Values(CShellShape{"Complete", L""}, CShellShape{"NoSearchBox", L"--omit=openbox"},
                      CShellShape{"NoResultsView", L"--omit=results"},
                      CShellShape{"NoEditWrapper", L"--omit=wrapper"},
                      CShellShape{"LowerCaseStartMenuClass", L"--case=startmenu"},
                      CShellShape{"StartMenuOnSecondThread", L"--thread --second-list --nest-list"}),
    [](const ::testing::TestParamInfo<CShellShape>& info) { return std::string(info.param.name); });

}  // namespace
