#include <gtest/gtest.h>

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>

#include <string>
#include <vector>

#include "hookstate.h"
#include "page.h"
#include "panel.h"
#include "paneltest.h"
#include "standin_record.h"
#include "testcontrol.h"

namespace {

const RECT kLaidOut = {0, 0, 350, 100};

std::wstring Wide(const CString& text)
{
    return std::wstring(text.GetString(), text.GetLength());
}

RECT UpdateRectOf(HWND hWnd)
{
    RECT update = {};
    GetUpdateRect(hWnd, &update, FALSE);
    return update;
}

bool IsInvalidated(HWND hWnd)
{
    const RECT update = UpdateRectOf(hWnd);
    return !IsRectEmpty(&update);
}

// The panel as the controller uses it: created on the results view (here a plain visible
// window), shown and laid out to the width of the result list. Torn down as the controller
// does it: Quit, release, destroy the window.
class PanelTest : public ::testing::Test {
protected:
    explicit PanelTest(EBrowser browser = EBrowser::StandIn) : m_browserKind(browser), m_browserClass(browser) {}

    void SetUp() override
    {
        ASSERT_TRUE(m_standIn.IsLoaded());
        if (m_browserKind != EBrowser::None) {
            ASSERT_TRUE(m_browserClass.IsRegistered());
        }
        m_standIn.SetDocumentMode(WBSTANDIN_DOCUMENT_NORMAL);
        m_standIn.Reset();
        m_liveBefore = m_standIn.Count(WBSTANDIN_LIVE_OBJECTS);
        m_referencesBefore = m_standIn.Count(WBSTANDIN_REFERENCES);
    }

    void TearDown() override
    {
        Teardown();
        m_standIn.SetDocumentMode(WBSTANDIN_DOCUMENT_NORMAL);
    }

    void Create()
    {
        m_panel.CreatePanel(m_parent.m_hWnd);
        ASSERT_TRUE(IsWindow(Panel()));
        ShowWindow(Panel(), SW_SHOW);
        SetWindowPos(Panel(), nullptr, 0, 0, kLaidOut.right, kLaidOut.bottom, SWP_NOZORDER | SWP_NOMOVE);
        KillTimer(Panel(), 1);  // repaints come when the test asks for them
        UpdateWindow(Panel());
    }

    void Teardown()
    {
        if (m_panel.m_browser) {
            m_panel.m_browser->Quit();
            m_panel.m_browser.Release();
        }
        if (IsWindow(Panel()))
            DestroyWindow(Panel());
    }

    HWND Panel() const { return m_panel.m_host.m_hWnd; }
    LONG Pages() const { return m_standIn.Count(WBSTANDIN_PAGES); }
    LONG Writes() const { return m_standIn.Count(WBSTANDIN_WRITES); }
    std::wstring LastField(int field, bool* present = nullptr) const { return m_standIn.Field(-1, field, present); }

    CStandIn& m_standIn = StandIn();
    CParentWindow& m_parent = SharedParent();
    EBrowser m_browserKind;
    CBrowserClass m_browserClass;
    LONG m_liveBefore = 0;
    LONG m_referencesBefore = 0;
    CCalculatorPanel m_panel;
};

// --- CreatePanel ---------------------------------------------------------------------------------

TEST_F(PanelTest, CreatePanelMakesAHiddenChildAndASilentBlankBrowserInIt)
{
    m_panel.CreatePanel(m_parent.m_hWnd);
    HWND panel = Panel();
    ASSERT_TRUE(IsWindow(panel));
    EXPECT_EQ(m_parent.m_hWnd, GetParent(panel));
    EXPECT_EQ(static_cast<LONG>(WS_CHILD), GetWindowLongW(panel, GWL_STYLE));
    EXPECT_EQ(0, GetWindowLongW(panel, GWL_EXSTYLE));
    EXPECT_EQ(0, GetWindowTextLengthW(panel));
    EXPECT_EQ(0, GetWindowLongPtrW(panel, GWLP_ID));
    RECT rect = {};
    GetWindowRect(panel, &rect);
    MapWindowPoints(nullptr, m_parent.m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(0, rect.left);
    EXPECT_EQ(0, rect.top);
    EXPECT_EQ(100, rect.right);
    EXPECT_EQ(100, rect.bottom);

    ASSERT_TRUE(m_panel.m_browser);
    ASSERT_TRUE(m_panel.m_host.m_oleObject);
    ASSERT_TRUE(m_panel.m_host.m_viewObject);
    ASSERT_TRUE(m_panel.m_host.m_inPlaceObject);
    HWND browserWindow = nullptr;
    ASSERT_EQ(S_OK, m_panel.m_host.m_inPlaceObject->GetWindow(&browserWindow));
    EXPECT_EQ(panel, GetParent(browserWindow));
    EXPECT_FALSE(IsWindowVisible(browserWindow));
    EXPECT_TRUE(KillTimer(panel, 1));

    EXPECT_EQ(1, m_standIn.Count(WBSTANDIN_SILENT));
    EXPECT_EQ(1, m_standIn.Count(WBSTANDIN_NAVIGATIONS));
    EXPECT_EQ(0, m_standIn.Count(WBSTANDIN_STATUS_BAR));
    EXPECT_EQ(0, m_standIn.Count(WBSTANDIN_TOOL_BAR));
    EXPECT_EQ(0, Pages());

    // Only the fields hold references now: m_browser and the host's three interfaces. They all
    // go with the teardown, and the browser with them.
    m_panel.m_browser.Release();
    m_panel.m_host.m_inPlaceObject.Release();
    m_panel.m_host.m_viewObject.Release();
    m_panel.m_host.m_oleObject.Release();
    EXPECT_EQ(m_liveBefore, m_standIn.Count(WBSTANDIN_LIVE_OBJECTS));
    EXPECT_EQ(m_referencesBefore, m_standIn.Count(WBSTANDIN_REFERENCES));
    EXPECT_EQ(0, m_panel.m_host.m_refCount);
}

TEST_F(PanelTest, CreatePanelAgainReleasesTheEarlierBrowserFirst)
{
    Create();
    Teardown();
    IWebBrowser2* first = nullptr;
    m_panel.CreatePanel(m_parent.m_hWnd);
    first = m_panel.m_browser.Get();
    ASSERT_TRUE(first);
    // The controller destroys the stale window, then creates again.
    DestroyWindow(Panel());
    m_panel.CreatePanel(m_parent.m_hWnd);
    ASSERT_TRUE(m_panel.m_browser);
    EXPECT_NE(first, m_panel.m_browser.Get());
    Teardown();
    m_panel.m_host.m_inPlaceObject.Release();
    m_panel.m_host.m_viewObject.Release();
    m_panel.m_host.m_oleObject.Release();
    EXPECT_EQ(m_liveBefore, m_standIn.Count(WBSTANDIN_LIVE_OBJECTS));
}

// The controller re-creates the panel on every colour change of the Start Menu: each browser
// must leave its panel holding nothing of the site, and no browser may pile up.
TEST_F(PanelTest, PanelRecreatedAgainAndAgainLeavesNoBrowserBehind)
{
    // One round first, so that what the host holds between rounds is there to compare with.
    Create();
    m_panel.UpdateQuery(CString(L"0"));
    Teardown();
    const int windows = CountProcessWindows();
    const LONG live = m_standIn.Count(WBSTANDIN_LIVE_OBJECTS);
    const LONG references = m_standIn.Count(WBSTANDIN_REFERENCES);
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        Create();
        m_panel.UpdateQuery(CString((std::to_wstring(i) + L"+1").c_str()));
        ASSERT_TRUE(m_panel.m_host.m_oleObject);
        IOleObject* browser = m_panel.m_host.m_oleObject.Get();
        EXPECT_EQ(3, m_panel.m_host.m_refCount);  // client site, in-place site, frame
        Teardown();
        // The host still holds the browser, the browser nothing of the host.
        EXPECT_EQ(browser, m_panel.m_host.m_oleObject.Get());
        IOleClientSite* site = reinterpret_cast<IOleClientSite*>(0x77);
        EXPECT_EQ(S_OK, browser->GetClientSite(&site));
        EXPECT_EQ(nullptr, site);
        EXPECT_EQ(0, m_panel.m_host.m_refCount);
        EXPECT_EQ(windows, CountProcessWindows());
        EXPECT_EQ(live, m_standIn.Count(WBSTANDIN_LIVE_OBJECTS));
        EXPECT_EQ(references, m_standIn.Count(WBSTANDIN_REFERENCES));
    }
    m_panel.m_host.m_inPlaceObject.Release();
    m_panel.m_host.m_viewObject.Release();
    m_panel.m_host.m_oleObject.Release();
    EXPECT_EQ(m_liveBefore, m_standIn.Count(WBSTANDIN_LIVE_OBJECTS));
    EXPECT_EQ(m_referencesBefore, m_standIn.Count(WBSTANDIN_REFERENCES));
}

// --- UpdateQuery with the stand-in ---------------------------------------------------------------

TEST_F(PanelTest, QueryWrittenOnceShowsItsResultInTheRecordAndInThePanelsPixels)
{
    HMODULE uxTheme = LoadLibraryW(L"uxtheme.dll");
    ASSERT_TRUE(uxTheme);
    CUxThemeSwap swap(uxTheme);
    Create();
    ValidateRect(Panel(), nullptr);

    m_panel.UpdateQuery(CString(L"2^10"));

    EXPECT_EQ(L"2^10", Wide(m_panel.m_pageQuery));
    EXPECT_EQ(1, Writes());
    ASSERT_EQ(1, Pages());
    EXPECT_EQ(Wide(BuildCalculatorPage(CString(L"2^10"))), LastField(WBSTANDIN_FIELD_PAGE));
    EXPECT_EQ(L"2^10", LastField(WBSTANDIN_FIELD_SEARCH));
    EXPECT_EQ(L"1024", LastField(WBSTANDIN_FIELD_RESULT_TEXT));
    // The query line ends with a space of its own.
    EXPECT_EQ(L"pow(2,10) ", LastField(WBSTANDIN_FIELD_QUERY_TEXT));
    bool scriptError = true;
    LastField(WBSTANDIN_FIELD_SCRIPT_ERROR, &scriptError);
    EXPECT_FALSE(scriptError);
    EXPECT_TRUE(SameRect(kLaidOut, UpdateRectOf(Panel())));

    // The panel shows exactly what the control draws of that page, over white.
    UpdateWindow(Panel());
    const CPixels shown = ReadClientPixels(Panel());
    ASSERT_EQ(350, shown.width);
    CPixels drawn;
    {
        HDC screen = GetDC(nullptr);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = 350;
        info.bmiHeader.biHeight = -100;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HDC memoryDC = CreateCompatibleDC(screen);
        HGDIOBJ old = SelectObject(memoryDC, bitmap);
        PatBlt(memoryDC, 0, 0, 350, 100, WHITENESS);
        const RECTL bounds = {0, 0, 350, 100};
        EXPECT_EQ(S_OK, m_panel.m_host.m_viewObject->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, memoryDC,
                                                         &bounds, nullptr, nullptr, 0));
        GdiFlush();
        drawn.width = 350;
        drawn.height = 100;
        for (int i = 0; i < 350 * 100; ++i)
            drawn.rgb.push_back(static_cast<DWORD*>(bits)[i] & 0xFFFFFF);
        SelectObject(memoryDC, old);
        DeleteDC(memoryDC);
        DeleteObject(bitmap);
        ReleaseDC(nullptr, screen);
    }
    EXPECT_TRUE(shown.rgb == drawn.rgb);
    // And that is the page of 2^10: the header in its blue, the result line in its colour.
    auto has = [&](DWORD rgb, int top, int bottom) {
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < shown.width; ++x)
                if (shown.At(x, y) == rgb)
                    return true;
        return false;
    };
    EXPECT_TRUE(has(0x1E3287, 0, 20));
    EXPECT_TRUE(has(0x333333, 20, 100));
    EXPECT_TRUE(has(0x777777, 20, 100));

    // Another result draws other pixels.
    m_panel.UpdateQuery(CString(L"2^11"));
    EXPECT_EQ(L"2048", LastField(WBSTANDIN_FIELD_RESULT_TEXT));
    UpdateWindow(Panel());
    EXPECT_FALSE(ReadClientPixels(Panel()).rgb == shown.rgb);
    FreeLibrary(uxTheme);
}

TEST_F(PanelTest, PaintOfAWrittenPageIsOpaqueThroughTheBuffer)
{
    CPaintRecorder& recorder = PaintRecorder();
    ASSERT_TRUE(recorder.m_module);
    CUxThemeSwap swap(recorder.m_module);
    Create();
    m_panel.UpdateQuery(CString(L"2^10"));
    recorder.Reset();
    UpdateWindow(Panel());
    int width = 0, height = 0;
    const std::vector<DWORD> pixels = recorder.LastBuffer(width, height);
    ASSERT_EQ(350, width);
    ASSERT_EQ(100, height);
    int translucent = 0, coloured = 0;
    for (DWORD pixel : pixels) {
        translucent += (pixel >> 24) != 0xFF;
        coloured += (pixel & 0xFFFFFF) == 0x333333;
    }
    EXPECT_EQ(0, translucent);
    EXPECT_GT(coloured, 0);
}

TEST_F(PanelTest, SameTextTwiceWritesAndInvalidatesNothing)
{
    Create();
    m_panel.UpdateQuery(CString(L"1+1"));
    ASSERT_EQ(1, Pages());
    ValidateRect(Panel(), nullptr);

    // An equal text in a buffer of its own: the comparison is by content.
    CString again(L"1+1");
    ASSERT_FALSE(again.SharesBufferWith(m_panel.m_pageQuery));
    m_panel.UpdateQuery(again);
    EXPECT_EQ(1, Pages());
    EXPECT_EQ(1, Writes());
    EXPECT_FALSE(IsInvalidated(Panel()));

    // The empty text at creation, while the stored one is empty too, writes nothing either.
    Teardown();
    CCalculatorPanel fresh;
    fresh.CreatePanel(m_parent.m_hWnd);
    const LONG pages = Pages();
    fresh.UpdateQuery(CString());
    EXPECT_EQ(pages, Pages());
    fresh.m_browser.Release();
    DestroyWindow(fresh.m_host.m_hWnd);
}

TEST_F(PanelTest, TextsThatDifferOnlyInCaseAreWrittenAgain)
{
    Create();
    m_panel.UpdateQuery(CString(L"2pi"));
    m_panel.UpdateQuery(CString(L"2PI"));
    EXPECT_EQ(2, Pages());
    EXPECT_EQ(L"2pi", m_standIn.Field(0, WBSTANDIN_FIELD_SEARCH));
    EXPECT_EQ(L"2PI", m_standIn.Field(1, WBSTANDIN_FIELD_SEARCH));
    // And back to the empty text: a page with an empty query.
    m_panel.UpdateQuery(CString());
    EXPECT_EQ(3, Pages());
    EXPECT_EQ(L"", LastField(WBSTANDIN_FIELD_SEARCH));
}

TEST_F(PanelTest, QueryCharactersReachTheScriptUnchanged)
{
    Create();
    const wchar_t* const queries[] = {
        L"it's",
        L"1\\n2",
        L"\\",
        L"2\\'+1",
        L"</script>",
        L"1+1</script><script>_search='hacked';</script>",
        L"</SCRIPT >x",
        L"\"quoted\"",
        L"a\r\nb",
        L"<!--",
        L"x\x2028y\x2029z",
    };
    for (const wchar_t* query : queries) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(query)));
        const LONG pages = Pages();
        m_panel.UpdateQuery(CString(query));
        ASSERT_EQ(pages + 1, Pages());
        bool present = false;
        EXPECT_EQ(query, LastField(WBSTANDIN_FIELD_SEARCH, &present));
        EXPECT_TRUE(present);
    }
}

TEST_F(PanelTest, VeryLongQueryIsWrittenWhole)
{
    Create();
    std::wstring query;
    for (int i = 0; i < 4000; ++i)
        query += L"1+";
    query += L"1";
    m_panel.UpdateQuery(CString(query.c_str()));
    ASSERT_EQ(1, Pages());
    EXPECT_EQ(query, LastField(WBSTANDIN_FIELD_SEARCH));
    EXPECT_EQ(Wide(BuildCalculatorPage(CString(query.c_str()))), LastField(WBSTANDIN_FIELD_PAGE));
    EXPECT_EQ(L"4001", LastField(WBSTANDIN_FIELD_RESULT_TEXT));
}

// --- No browser, no document ---------------------------------------------------------------------

TEST_F(PanelTest, DocumentThatCannotBeHadLeavesTheTextRecordedAndWritesNothing)
{
    Create();
    const int modes[] = {WBSTANDIN_DOCUMENT_FAILS, WBSTANDIN_DOCUMENT_NULL, WBSTANDIN_DOCUMENT_NOT_HTML};
    const LONG live = m_standIn.Count(WBSTANDIN_LIVE_OBJECTS);
    const LONG references = m_standIn.Count(WBSTANDIN_REFERENCES);
    int n = 0;
    for (int mode : modes) {
        SCOPED_TRACE(mode);
        m_standIn.SetDocumentMode(mode);
        ValidateRect(Panel(), nullptr);
        const CString query(std::to_wstring(++n).c_str());
        m_panel.UpdateQuery(query);
        EXPECT_EQ(query, m_panel.m_pageQuery);
        EXPECT_EQ(0, Writes());
        EXPECT_EQ(0, Pages());
        EXPECT_TRUE(IsInvalidated(Panel()));
        // Whatever was handed out instead of a document has been let go.
        EXPECT_EQ(live, m_standIn.Count(WBSTANDIN_LIVE_OBJECTS));
        EXPECT_EQ(references, m_standIn.Count(WBSTANDIN_REFERENCES));
        // The same text later, with a document, is not tried again.
        m_standIn.SetDocumentMode(WBSTANDIN_DOCUMENT_NORMAL);
        m_panel.UpdateQuery(query);
        EXPECT_EQ(0, Pages());
    }
}

class UnavailableBrowserPanelTest : public PanelTest {
protected:
    UnavailableBrowserPanelTest() : PanelTest(EBrowser::Unavailable) {}
};

TEST_F(UnavailableBrowserPanelTest, BrowserThatCannotBeCreatedLeavesABlackPanelThatRecordsTheText)
{
    Create();
    EXPECT_FALSE(m_panel.m_browser);
    EXPECT_FALSE(m_panel.m_host.m_oleObject);
    ValidateRect(Panel(), nullptr);
    m_panel.UpdateQuery(CString(L"1+1"));
    EXPECT_EQ(L"1+1", Wide(m_panel.m_pageQuery));
    EXPECT_TRUE(IsInvalidated(Panel()));
    UpdateWindow(Panel());
    EXPECT_TRUE(AreaIs(ReadClientPixels(Panel()), kLaidOut, 0x000000));
}

class OwnFactoryPanelTest : public PanelTest {
protected:
    OwnFactoryPanelTest() : PanelTest(EBrowser::None) {}
};

TEST_F(OwnFactoryPanelTest, ObjectWithoutIWebBrowser2IsReleasedAndNotHosted)
{
    // A class object that makes something that is no browser: the test control.
    static CTestControl notABrowser;
    struct CFactory : IClassFactory {
        STDMETHODIMP QueryInterface(REFIID, void** object) override
        {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return 2; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
        STDMETHODIMP CreateInstance(IUnknown*, REFIID iid, void** object) override
        {
            return notABrowser.OleObject()->QueryInterface(iid, object);
        }
        STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    } factory;
    CBrowserClass override(&factory);
    ASSERT_TRUE(override.IsRegistered());
    Create();
    EXPECT_FALSE(m_panel.m_browser);
    EXPECT_FALSE(m_panel.m_host.m_oleObject);
    EXPECT_EQ(0, notABrowser.m_refs);
    m_panel.UpdateQuery(CString(L"1+1"));
    EXPECT_EQ(L"1+1", Wide(m_panel.m_pageQuery));
}

class WineBrowserPanelTest : public PanelTest {
protected:
    WineBrowserPanelTest() : PanelTest(EBrowser::Wine) {}
};

TEST_F(WineBrowserPanelTest, WinesOwnBrowserWithoutADocumentLeavesTheTextRecordedAndNothingBroken)
{
    Create();
    ASSERT_TRUE(m_panel.m_browser);
    // Wine's own control, not the stand-in: it has no document to write into here.
    EXPECT_EQ(0, m_standIn.Count(WBSTANDIN_NAVIGATIONS));
    CComPtr<IDispatch> document;
    m_panel.m_browser->get_Document(document.Receive());
    CComPtr<IHTMLDocument2> html;
    if (document)
        document->QueryInterface(IID_IHTMLDocument2, html.ReceiveVoid());
    ASSERT_FALSE(html) << "Wine's WebBrowser has a document here: this test no longer shows the case";

    ValidateRect(Panel(), nullptr);
    m_panel.UpdateQuery(CString(L"2^10"));
    EXPECT_EQ(L"2^10", Wide(m_panel.m_pageQuery));
    EXPECT_TRUE(IsInvalidated(Panel()));
    HMODULE uxTheme = LoadLibraryW(L"uxtheme.dll");
    {
        CUxThemeSwap swap(uxTheme);
        UpdateWindow(Panel());
        PumpMessages(100);
    }
    FreeLibrary(uxTheme);
    EXPECT_TRUE(IsWindow(Panel()));
    EXPECT_EQ(0, Pages());
}

// --- Failed allocations --------------------------------------------------------------------------

struct CAllocationLog {
    int failuresLeft = 0;
    std::vector<BSTR> made;
    std::vector<BSTR> freed;
    int arraysRefused = 0;
};
CAllocationLog g_allocations;
CImportPatch* g_sysAllocStringLen = nullptr;
CImportPatch* g_sysAllocString = nullptr;
CImportPatch* g_sysFreeString = nullptr;

BSTR WINAPI FailingSysAllocStringLen(const OLECHAR* text, UINT length)
{
    if (g_allocations.failuresLeft > 0) {
        --g_allocations.failuresLeft;
        return nullptr;
    }
    auto original = reinterpret_cast<BSTR(WINAPI*)(const OLECHAR*, UINT)>(g_sysAllocStringLen->Original());
    BSTR made = original(text, length);
    g_allocations.made.push_back(made);
    return made;
}

BSTR WINAPI FailingSysAllocString(const OLECHAR* text)
{
    if (g_allocations.failuresLeft > 0) {
        --g_allocations.failuresLeft;
        return nullptr;
    }
    return reinterpret_cast<BSTR(WINAPI*)(const OLECHAR*)>(g_sysAllocString->Original())(text);
}

void WINAPI RecordingSysFreeString(BSTR text)
{
    if (text)
        g_allocations.freed.push_back(text);
    reinterpret_cast<void(WINAPI*)(BSTR)>(g_sysFreeString->Original())(text);
}

SAFEARRAY* WINAPI RefusingSafeArrayCreateVector(VARTYPE, LONG, ULONG)
{
    ++g_allocations.arraysRefused;
    return nullptr;
}

class PanelAllocationTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        g_allocations = CAllocationLog();
        m_allocLen = new CImportPatch("oleaut32.dll", "SysAllocStringLen",
                                      reinterpret_cast<void*>(&FailingSysAllocStringLen));
        m_alloc = new CImportPatch("oleaut32.dll", "SysAllocString", reinterpret_cast<void*>(&FailingSysAllocString));
        m_free = new CImportPatch("oleaut32.dll", "SysFreeString", reinterpret_cast<void*>(&RecordingSysFreeString));
        g_sysAllocStringLen = m_allocLen;
        g_sysAllocString = m_alloc;
        g_sysFreeString = m_free;
        ASSERT_TRUE(m_allocLen->IsActive());
        ASSERT_TRUE(m_alloc->IsActive());
        ASSERT_TRUE(m_free->IsActive());
    }

    void TearDown() override
    {
        delete m_free;
        delete m_alloc;
        delete m_allocLen;
        g_sysAllocStringLen = g_sysAllocString = g_sysFreeString = nullptr;
        CString::SetAllocatorForTesting(nullptr);
        PanelTest::TearDown();
    }

    CImportPatch* m_allocLen = nullptr;
    CImportPatch* m_alloc = nullptr;
    CImportPatch* m_free = nullptr;
};

TEST_F(PanelAllocationTest, WithoutTheArrayTheWriteIsSkippedAndTheTextFreed)
{
    Create();
    CImportPatch refuse("oleaut32.dll", "SafeArrayCreateVector", reinterpret_cast<void*>(&RefusingSafeArrayCreateVector));
    ASSERT_TRUE(refuse.IsActive());
    ValidateRect(Panel(), nullptr);
    g_allocations.made.clear();
    g_allocations.freed.clear();

    m_panel.UpdateQuery(CString(L"1+1"));

    EXPECT_EQ(1, g_allocations.arraysRefused);
    EXPECT_EQ(0, Writes());
    ASSERT_EQ(1u, g_allocations.made.size());
    EXPECT_EQ(g_allocations.made, g_allocations.freed);
    EXPECT_EQ(L"1+1", Wide(m_panel.m_pageQuery));
    EXPECT_TRUE(IsInvalidated(Panel()));
}

TEST_F(PanelAllocationTest, PageTextThatCannotBeAllocatedRaisesOutOfMemoryAndLeaksNothing)
{
    Create();
    const LONG live = m_standIn.Count(WBSTANDIN_LIVE_OBJECTS);
    const LONG references = m_standIn.Count(WBSTANDIN_REFERENCES);
    const CString query(L"2^10");
    const long buffers = CString::LiveBufferCount();
    g_allocations.failuresLeft = 1;
    HRESULT raised = S_OK;
    try {
        m_panel.UpdateQuery(query);
    } catch (const CHResultException& e) {
        raised = e.Error();
    }
    EXPECT_EQ(E_OUTOFMEMORY, raised);
    EXPECT_EQ(0, Writes());
    // The text counts as shown; the page string went with the unwinding, and so did the
    // document's references.
    EXPECT_EQ(query, m_panel.m_pageQuery);
    EXPECT_EQ(buffers, CString::LiveBufferCount());
    EXPECT_EQ(live, m_standIn.Count(WBSTANDIN_LIVE_OBJECTS));
    EXPECT_EQ(references, m_standIn.Count(WBSTANDIN_REFERENCES));
}

void* FailingAllocation(size_t)
{
    return nullptr;
}

TEST_F(PanelAllocationTest, PageThatCannotGrowRaisesOutOfMemoryAndLeaksNothing)
{
    Create();
    const LONG references = m_standIn.Count(WBSTANDIN_REFERENCES);
    const CString query(L"1+2");
    const long buffers = CString::LiveBufferCount();
    CString::SetAllocatorForTesting(&FailingAllocation);
    HRESULT raised = S_OK;
    try {
        m_panel.UpdateQuery(query);
    } catch (const CHResultException& e) {
        raised = e.Error();
    }
    CString::SetAllocatorForTesting(nullptr);
    EXPECT_EQ(E_OUTOFMEMORY, raised);
    EXPECT_EQ(0, Writes());
    EXPECT_EQ(query, m_panel.m_pageQuery);
    EXPECT_EQ(buffers, CString::LiveBufferCount());
    EXPECT_EQ(references, m_standIn.Count(WBSTANDIN_REFERENCES));
}

TEST_F(PanelAllocationTest, UrlThatCannotBeAllocatedRaisesOutOfMemoryAndLeaksNoReference)
{
    g_allocations.failuresLeft = 1;
    HRESULT raised = S_OK;
    try {
        m_panel.CreatePanel(m_parent.m_hWnd);
    } catch (const CHResultException& e) {
        raised = e.Error();
    }
    EXPECT_EQ(E_OUTOFMEMORY, raised);
    EXPECT_EQ(0, m_standIn.Count(WBSTANDIN_NAVIGATIONS));
    EXPECT_EQ(1, m_standIn.Count(WBSTANDIN_SILENT));
    // What the fields hold is theirs; once they let go, nothing of the browser is left.
    Teardown();
    m_panel.m_host.m_inPlaceObject.Release();
    m_panel.m_host.m_viewObject.Release();
    m_panel.m_host.m_oleObject.Release();
    EXPECT_EQ(m_liveBefore, m_standIn.Count(WBSTANDIN_LIVE_OBJECTS));
    EXPECT_EQ(m_referencesBefore, m_standIn.Count(WBSTANDIN_REFERENCES));
}

// --- Resource balance ----------------------------------------------------------------------------

LONG g_arraysMade = 0;
LONG g_arraysDestroyed = 0;
CImportPatch* g_createVector = nullptr;
CImportPatch* g_destroyArray = nullptr;

SAFEARRAY* WINAPI CountingSafeArrayCreateVector(VARTYPE type, LONG lower, ULONG count)
{
    SAFEARRAY* array =
        reinterpret_cast<SAFEARRAY*(WINAPI*)(VARTYPE, LONG, ULONG)>(g_createVector->Original())(type, lower, count);
    g_arraysMade += array != nullptr;
    return array;
}

HRESULT WINAPI CountingSafeArrayDestroy(SAFEARRAY* array)
{
    const HRESULT hr = reinterpret_cast<HRESULT(WINAPI*)(SAFEARRAY*)>(g_destroyArray->Original())(array);
    g_arraysDestroyed += array && SUCCEEDED(hr);
    return hr;
}

TEST_F(PanelTest, ThousandQueriesAndPaintsLeaveWindowsObjectsAndMemoryWhereTheyWere)
{
    HMODULE uxTheme = LoadLibraryW(L"uxtheme.dll");
    ASSERT_TRUE(uxTheme);
    CUxThemeSwap swap(uxTheme);
    Create();
    auto query = [](int i) { return CString((std::to_wstring(i) + L"*2^3").c_str()); };
    auto throughThePanel = [&](int first, int count) {
        for (int i = first; i < first + count; ++i) {
            m_panel.UpdateQuery(query(i));
            UpdateWindow(Panel());
        }
        PumpPending();
    };
    // Warm up: heaps, caches and the script engine settle first.
    throughThePanel(0, 100);
    m_standIn.Reset();

    const int windows = CountProcessWindows();
    const LONG live = m_standIn.Count(WBSTANDIN_LIVE_OBJECTS);
    const LONG references = m_standIn.Count(WBSTANDIN_REFERENCES);
    const long buffers = CString::LiveBufferCount();
    const SIZE_T memory = PrivateBytes();
    ASSERT_GT(memory, 0u);
    {
        CImportPatch createVector("oleaut32.dll", "SafeArrayCreateVector",
                                  reinterpret_cast<void*>(&CountingSafeArrayCreateVector));
        CImportPatch destroyArray("oleaut32.dll", "SafeArrayDestroy", reinterpret_cast<void*>(&CountingSafeArrayDestroy));
        g_createVector = &createVector;
        g_destroyArray = &destroyArray;
        g_arraysMade = g_arraysDestroyed = 0;
        throughThePanel(2000, 1000);
        g_createVector = g_destroyArray = nullptr;
    }

    EXPECT_EQ(1000, Pages());
    EXPECT_GE(m_standIn.Count(WBSTANDIN_DRAWS), 1000);
    EXPECT_EQ(L"2999*2^3", LastField(WBSTANDIN_FIELD_SEARCH));
    EXPECT_EQ(L"23992", LastField(WBSTANDIN_FIELD_RESULT_TEXT));
    // Every array went, and the page text with it.
    EXPECT_EQ(1000, g_arraysMade);
    EXPECT_EQ(1000, g_arraysDestroyed);
    m_standIn.Reset();
    EXPECT_EQ(windows, CountProcessWindows());
    EXPECT_EQ(live, m_standIn.Count(WBSTANDIN_LIVE_OBJECTS));
    EXPECT_EQ(references, m_standIn.Count(WBSTANDIN_REFERENCES));
    EXPECT_EQ(buffers, CString::LiveBufferCount());
    // A page is about 15 KB as a string: a thousand lost ones would be 15 MB. Wine's script
    // engine keeps a few hundred bytes per page it ran, which the margin covers.
    const SIZE_T after = PrivateBytes();
    EXPECT_LT(after, memory + 1024 * 1024) << "grew by " << (after - memory) / 1024 << " KiB";

    // And the teardown gives back the panel's windows and the browser, which lets go of the
    // site while the host still holds it.
    const int panelWindows = 1 + 1;  // the panel and the browser's own
    Teardown();
    EXPECT_EQ(0, m_panel.m_host.m_refCount);
    m_panel.m_host.m_inPlaceObject.Release();
    m_panel.m_host.m_viewObject.Release();
    m_panel.m_host.m_oleObject.Release();
    EXPECT_EQ(windows - panelWindows, CountProcessWindows());
    EXPECT_EQ(m_liveBefore, m_standIn.Count(WBSTANDIN_LIVE_OBJECTS));
    EXPECT_EQ(m_referencesBefore, m_standIn.Count(WBSTANDIN_REFERENCES));
}

}  // namespace
