// The Start Menu simulator keeps the contract of the shell's windows that the library meets:
// the tree with its class names, the search edit's text and its repaint, and the options.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/simulator.h"

namespace {

std::map<std::wstring, CFields> WindowsByRole(CStartMenuSimulator& simulator)
{
    std::map<std::wstring, CFields> byRole;
    for (const CFields& window : simulator.Windows())
        byRole.emplace(window.at(L"role"), window);
    return byRole;
}

std::wstring Text(HWND edit)
{
    WCHAR buffer[256] = L"";
    SendMessageTimeoutW(edit, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 5000, nullptr);
    return buffer;
}

class StartMenuSimulatorTest : public ::testing::Test {
protected:
    void TearDown() override { m_simulator.Kill(); }

    long long PrintClients() { return NumberField(m_simulator.RequestFields(L"counters"), L"printclient"); }

    bool TypeAndWait(const std::wstring& keys, const std::wstring& expected)
    {
        return m_simulator.Request(L"type " + keys).compare(0, 7, L"posted=") == 0 &&
               WaitUntil([&] { return m_simulator.Request(L"text") == expected; }, 5000);
    }

    CStartMenuSimulator m_simulator;
};

TEST_F(StartMenuSimulatorTest, BuildsTheStartMenuTreeWithTheShellsClassNames)
{
    ASSERT_TRUE(m_simulator.Start());
    auto windows = WindowsByRole(m_simulator);
    struct CExpected {
        const wchar_t* role;
        const wchar_t* className;
        const wchar_t* parent;
    };
    const CExpected tree[] = {
        {L"results", L"Desktop Search Open View", L"startmenu"},
        {L"list", L"SHELLDLL_DefView", L"results"},
        {L"openbox", L"Desktop OpenBox Host", L"startmenu"},
        {L"searchbox", L"Search Box", L"openbox"},
        {L"wrapper", L"SearchEditBoxWrapperClass", L"searchbox"},
        {L"edit", L"DirectUIHWND", L"wrapper"},
    };
    ASSERT_TRUE(windows.count(L"startmenu"));
    EXPECT_EQ(L"DV2ControlHost", windows[L"startmenu"].at(L"class"));
    EXPECT_EQ(FindWindowW(L"DV2ControlHost", nullptr), HandleField(windows[L"startmenu"], L"hwnd"));
    for (const CExpected& expected : tree) {
        SCOPED_TRACE(expected.role);
        ASSERT_TRUE(windows.count(expected.role));
        EXPECT_EQ(expected.className, windows[expected.role].at(L"class"));
        EXPECT_EQ(HandleField(windows[expected.parent], L"hwnd"), HandleField(windows[expected.role], L"parent"));
    }
    // Each class has its own procedure, as the shell's windows do.
    std::map<std::wstring, std::wstring> procedures;
    for (auto& entry : windows)
        if (entry.first != L"foreign")
            procedures[entry.second.at(L"wndproc")] = entry.first;
    EXPECT_GE(procedures.size(), 9u);

    // The shell's lookups from another process find the edit, which has the keyboard focus.
    HWND edit = FindWindowExW(
        FindWindowExW(FindWindowExW(FindWindowExW(FindWindowW(L"DV2ControlHost", nullptr), nullptr,
                                                  L"Desktop OpenBox Host", nullptr),
                                    nullptr, L"Search Box", nullptr),
                      nullptr, L"SearchEditBoxWrapperClass", nullptr),
        nullptr, L"DirectUIHWND", nullptr);
    EXPECT_EQ(HandleField(windows[L"edit"], L"hwnd"), edit);
    EXPECT_EQ(edit, HandleField(m_simulator.RequestFields(L"ping"), L"focus"));

    // The list fills the results view; the view waits hidden for a search.
    const CFields& results = windows[L"results"];
    const CFields& list = windows[L"list"];
    EXPECT_EQ(L"0,0," + results.at(L"client"), list.at(L"pos"));
    EXPECT_NE(0, NumberField(list, L"style") & WS_VISIBLE);
    EXPECT_EQ(0, NumberField(results, L"visible"));
}

TEST_F(StartMenuSimulatorTest, SearchEditKeepsItsTextAndRepaintsThroughPrintClientOnEveryChange)
{
    ASSERT_TRUE(m_simulator.Start());
    HWND edit = m_simulator.RoleWindow(L"edit");
    ASSERT_NE(nullptr, edit);
    const long long start = PrintClients();

    ASSERT_TRUE(TypeAndWait(L"2+3", L"2+3"));
    EXPECT_EQ(start + 3, PrintClients()) << "one repaint per keystroke";
    EXPECT_EQ(L"2+3", Text(edit));
    DWORD_PTR length = 0;
    SendMessageTimeoutW(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &length);
    EXPECT_EQ(3u, length);
    WCHAR small[3] = L"??";
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(edit, WM_GETTEXT, 3, reinterpret_cast<LPARAM>(small), SMTO_NORMAL, 5000, &copied);
    EXPECT_EQ(2u, copied);
    EXPECT_STREQ(L"2+", small);
    // A search shows the results view.
    EXPECT_EQ(1, NumberField(WindowsByRole(m_simulator)[L"results"], L"visible"));

    ASSERT_TRUE(TypeAndWait(L"\b", L"2+"));
    EXPECT_EQ(start + 4, PrintClients());
    DWORD_PTR set = 0;
    SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"7*6"), SMTO_NORMAL, 5000, &set);
    EXPECT_EQ(TRUE, static_cast<BOOL>(set));
    EXPECT_EQ(L"7*6", m_simulator.Request(L"text"));
    EXPECT_EQ(start + 5, PrintClients());
    // The same text again is no change, and no repaint.
    SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"7*6"), SMTO_NORMAL, 5000, nullptr);
    EXPECT_EQ(start + 5, PrintClients());

    // A surrogate pair goes with one backspace; Escape clears and hides the results again.
    ASSERT_TRUE(TypeAndWait(L"\xD83D\xDE00", L"7*6\xD83D\xDE00"));
    ASSERT_TRUE(TypeAndWait(L"\b", L"7*6"));
    ASSERT_TRUE(TypeAndWait(L"\x1B", L""));
    EXPECT_EQ(0, NumberField(WindowsByRole(m_simulator)[L"results"], L"visible"));
    const long long cleared = PrintClients();
    ASSERT_TRUE(TypeAndWait(L"\b", L""));
    ASSERT_TRUE(TypeAndWait(L"1", L"1"));
    EXPECT_EQ(cleared + 1, PrintClients()) << "a backspace in an empty box changed something";
}

TEST_F(StartMenuSimulatorTest, BuildsTheStartMenuAnewOnCommand)
{
    ASSERT_TRUE(m_simulator.Start(L"--text=12"));
    EXPECT_EQ(L"12", m_simulator.Request(L"text"));
    const CFields first = m_simulator.RequestFields(L"ping");
    HWND firstMenu = HandleField(first, L"startmenu");

    ASSERT_EQ(L"ok", m_simulator.Request(L"recreate"));
    HWND second = m_simulator.StartMenuWindow();
    EXPECT_NE(nullptr, second);
    EXPECT_NE(firstMenu, second);
    EXPECT_FALSE(IsWindow(firstMenu));
    EXPECT_EQ(first.at(L"uithread"), m_simulator.RequestFields(L"ping").at(L"uithread"));

    ASSERT_EQ(0u, m_simulator.Request(L"recreate-thread").find(L"ok"));
    const CFields moved = m_simulator.RequestFields(L"ping");
    EXPECT_NE(first.at(L"uithread"), moved.at(L"uithread"));
    HWND third = HandleField(moved, L"startmenu");
    EXPECT_EQ(std::stoul(moved.at(L"uithread")), GetWindowThreadProcessId(third, nullptr));
    EXPECT_EQ(0, m_simulator.ComInitialised()) << "the new thread does not answer";

    ASSERT_EQ(L"ok", m_simulator.Request(L"destroy"));
    EXPECT_EQ(nullptr, FindWindowW(L"DV2ControlHost", nullptr));
    ASSERT_EQ(L"ok", m_simulator.Request(L"create"));
    EXPECT_NE(nullptr, FindWindowW(L"DV2ControlHost", nullptr));
    EXPECT_TRUE(m_simulator.IsAnswering());
}

struct CShape {
    const char* name;
    const wchar_t* options;
    std::vector<const wchar_t*> missing;
    // role, class, parent role
    std::vector<std::vector<const wchar_t*>> present;
};

class SimulatorShapeTest : public StartMenuSimulatorTest, public ::testing::WithParamInterface<CShape> {};

TEST_P(SimulatorShapeTest, OptionsShapeTheTree)
{
    ASSERT_TRUE(m_simulator.Start(GetParam().options));
    auto windows = WindowsByRole(m_simulator);
    for (const wchar_t* role : GetParam().missing)
        EXPECT_FALSE(windows.count(role)) << role;
    for (const auto& present : GetParam().present) {
        SCOPED_TRACE(present[0]);
        ASSERT_TRUE(windows.count(present[0]));
        EXPECT_EQ(present[1], windows[present[0]].at(L"class"));
        EXPECT_EQ(HandleField(windows[present[2]], L"hwnd"), HandleField(windows[present[0]], L"parent"));
    }
    // Windows are enumerated in creation order: a second list comes after the first.
    if (windows.count(L"list") && windows.count(L"list2")) {
        std::vector<std::wstring> order;
        for (const CFields& window : m_simulator.Windows())
            order.push_back(window.at(L"role"));
        EXPECT_LT(std::find(order.begin(), order.end(), L"list"), std::find(order.begin(), order.end(), L"list2"));
    }
    EXPECT_TRUE(m_simulator.IsAnswering());
}

const CShape SHAPES[] = {
    {"NoOpenBoxHost", L"--omit=openbox", {L"openbox", L"searchbox", L"wrapper", L"edit"},
     {{L"results", L"Desktop Search Open View", L"startmenu"}}},
    {"NoResultsView", L"--omit=results", {L"results", L"list"},
     {{L"edit", L"DirectUIHWND", L"wrapper"}}},
    {"NoEditWrapper", L"--omit=wrapper", {L"wrapper", L"edit"},
     {{L"searchbox", L"Search Box", L"openbox"}}},
    {"NoList", L"--omit=list", {L"list"}, {{L"results", L"Desktop Search Open View", L"startmenu"}}},
    {"SecondList", L"--second-list", {},
     {{L"list", L"SHELLDLL_DefView", L"results"}, {L"list2", L"SHELLDLL_DefView", L"results"}}},
    {"NestedList", L"--nest-list", {},
     {{L"listholder", L"DUIViewWndClassName", L"results"}, {L"list", L"SHELLDLL_DefView", L"listholder"}}},
    {"LowerCaseListBesideProperOne", L"--case=list --second-list", {},
     {{L"list", L"shelldll_defview", L"results"}, {L"list2", L"SHELLDLL_DefView", L"results"}}},
    {"LowerCaseStartMenu", L"--case=startmenu", {}, {{L"results", L"Desktop Search Open View", L"startmenu"}}},
    {"OnSecondThread", L"--thread --hidden", {}, {{L"edit", L"DirectUIHWND", L"wrapper"}}},
};

INSTANTIATE_TEST_SUITE_P(Options, SimulatorShapeTest, ::testing::ValuesIn(SHAPES),
                         [](const ::testing::TestParamInfo<CShape>& info) { return std::string(info.param.name); });

TEST_F(StartMenuSimulatorTest, ThreadOptionPutsTheStartMenuOnItsOwnThread)
{
    ASSERT_TRUE(m_simulator.Start(L"--thread"));
    const CFields ping = m_simulator.RequestFields(L"ping");
    EXPECT_NE(ping.at(L"mainthread"), ping.at(L"uithread"));
    EXPECT_EQ(std::stoul(ping.at(L"uithread")), GetWindowThreadProcessId(HandleField(ping, L"startmenu"), nullptr));
}

}  // namespace
