#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin_fixture.h"

namespace {

// A minimal in-place container: a client site that is also an in-place site, and a separate
// frame. It counts its references for real, so a control that keeps one too many shows.
class CTestFrame : public IOleInPlaceFrame {
public:
    LONG m_refs = 1;
    HWND m_window = nullptr;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleWindow || riid == IID_IOleInPlaceUIWindow ||
            riid == IID_IOleInPlaceFrame) {
            *ppv = static_cast<IOleInPlaceFrame*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }
    STDMETHODIMP GetWindow(HWND* phwnd) override
    {
        *phwnd = m_window;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetBorder(LPRECT) override { return E_NOTIMPL; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return E_NOTIMPL; }
};

class CTestSite : public IOleClientSite, public IOleInPlaceSite {
public:
    LONG m_refs = 1;
    HWND m_window = nullptr;
    RECT m_posRect = {};
    bool m_offerInPlaceSite = true;
    HRESULT m_canActivate = S_OK;
    CTestFrame m_frame;
    std::vector<std::string> m_log;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IOleInPlaceSite)
            m_log.push_back("QueryInterface(IOleInPlaceSite)");
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *ppv = static_cast<IOleClientSite*>(this);
        else if (m_offerInPlaceSite && (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite))
            *ppv = static_cast<IOleInPlaceSite*>(this);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** ppmk) override
    {
        *ppmk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override
    {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override
    {
        m_log.push_back("ShowObject");
        return S_OK;
    }
    STDMETHODIMP OnShowWindow(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* phwnd) override
    {
        m_log.push_back("GetWindow");
        *phwnd = m_window;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override
    {
        m_log.push_back("CanInPlaceActivate");
        return m_canActivate;
    }
    STDMETHODIMP OnInPlaceActivate() override
    {
        m_log.push_back("OnInPlaceActivate");
        return S_OK;
    }
    STDMETHODIMP OnUIActivate() override
    {
        m_log.push_back("OnUIActivate");
        return S_OK;
    }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override
    {
        m_log.push_back("GetWindowContext");
        m_frame.m_window = m_window;
        *frame = &m_frame;
        m_frame.AddRef();
        *doc = nullptr;
        *pos = m_posRect;
        *clip = m_posRect;
        info->fMDIApp = FALSE;
        info->hwndFrame = m_window;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override
    {
        m_log.push_back("OnUIDeactivate");
        return S_OK;
    }
    STDMETHODIMP OnInPlaceDeactivate() override
    {
        m_log.push_back("OnInPlaceDeactivate");
        return S_OK;
    }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }
};

RECT ChildRect(HWND child)
{
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void ExpectRect(const RECT& expected, const RECT& actual)
{
    EXPECT_EQ(expected.left, actual.left);
    EXPECT_EQ(expected.top, actual.top);
    EXPECT_EQ(expected.right, actual.right);
    EXPECT_EQ(expected.bottom, actual.bottom);
}

class ActivationTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CStandinLibrary::Instance().Loaded());
        m_objectsBefore = CStandinLibrary::Instance().Count(WBSTANDIN_LIVE_OBJECTS);
        m_parent = CreateWindowExW(0, L"STATIC", L"container", WS_POPUP, 0, 0, 400, 200, nullptr, nullptr, nullptr,
                                   nullptr);
        ASSERT_TRUE(m_parent);
        m_site.m_window = m_parent;
        m_site.m_posRect = {10, 20, 360, 120};
        ASSERT_TRUE(CreateBlankBrowser(m_browser));
        ASSERT_HRESULT_SUCCEEDED(m_browser->QueryInterface(IID_IOleObject, m_oleObject.ReceiveVoid()));
        ASSERT_HRESULT_SUCCEEDED(m_browser->QueryInterface(IID_IOleInPlaceObject, m_inPlace.ReceiveVoid()));
    }

    void TearDown() override
    {
        m_inPlace.Release();
        m_oleObject.Release();
        m_browser.Release();
        // Whatever the control held of the container, it gave back.
        EXPECT_EQ(1, m_site.m_refs);
        EXPECT_EQ(1, m_site.m_frame.m_refs);
        EXPECT_EQ(m_objectsBefore, CStandinLibrary::Instance().Count(WBSTANDIN_LIVE_OBJECTS));
        DestroyWindow(m_parent);
    }

    HRESULT Activate()
    {
        return m_oleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &m_site, -1, nullptr, &m_site.m_posRect);
    }

    HWND ControlWindow()
    {
        HWND window = nullptr;
        return SUCCEEDED(m_inPlace->GetWindow(&window)) ? window : nullptr;
    }

    LONG m_objectsBefore = 0;
    HWND m_parent = nullptr;
    CTestSite m_site;
    CComPtr<IWebBrowser2> m_browser;
    CComPtr<IOleObject> m_oleObject;
    CComPtr<IOleInPlaceObject> m_inPlace;
};

TEST_F(ActivationTest, ActivatesInPlaceLikeAWindowedControl)
{
    ASSERT_HRESULT_SUCCEEDED(m_oleObject->SetClientSite(&m_site));
    m_site.m_log.clear();
    ASSERT_EQ(S_OK, Activate());

    const std::vector<std::string> expected = {"QueryInterface(IOleInPlaceSite)", "CanInPlaceActivate",
                                               "OnInPlaceActivate", "GetWindow", "GetWindowContext"};
    EXPECT_EQ(expected, m_site.m_log);

    // Its own child window of the site's window, at the position rectangle.
    const HWND window = ControlWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(m_parent, GetParent(window));
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_CHILD);
    EXPECT_TRUE(style & WS_VISIBLE);
    ExpectRect(m_site.m_posRect, ChildRect(window));

    // A second activation of an active control asks the site nothing.
    m_site.m_log.clear();
    EXPECT_EQ(S_OK, Activate());
    EXPECT_TRUE(m_site.m_log.empty());
    EXPECT_EQ(window, ControlWindow());

    // Deactivation destroys the window and tells the site, which the control then lets go.
    const LONG refsWhileActive = m_site.m_refs;
    EXPECT_EQ(S_OK, m_inPlace->InPlaceDeactivate());
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(std::vector<std::string>{"OnInPlaceDeactivate"}, m_site.m_log);
    EXPECT_EQ(refsWhileActive - 1, m_site.m_refs);  // the in-place site; the client site stays
    EXPECT_EQ(1, m_site.m_frame.m_refs);
    HWND none = reinterpret_cast<HWND>(1);
    EXPECT_EQ(E_FAIL, m_inPlace->GetWindow(&none));
    EXPECT_EQ(nullptr, none);

    IOleClientSite* held = nullptr;
    ASSERT_HRESULT_SUCCEEDED(m_oleObject->GetClientSite(&held));
    EXPECT_EQ(static_cast<IOleClientSite*>(&m_site), held);
    held->Release();
    EXPECT_HRESULT_SUCCEEDED(m_oleObject->SetClientSite(nullptr));
}

TEST_F(ActivationTest, SetObjectRectsMovesTheWindow)
{
    ASSERT_HRESULT_SUCCEEDED(m_oleObject->SetClientSite(&m_site));
    ASSERT_EQ(S_OK, Activate());
    const HWND window = ControlWindow();
    ASSERT_TRUE(window);

    const RECT cases[] = {{0, 0, 350, 100}, {5, 7, 105, 57}, {0, 0, 1, 1}};
    for (const RECT& rect : cases) {
        EXPECT_EQ(S_OK, m_inPlace->SetObjectRects(&rect, &rect));
        ExpectRect(rect, ChildRect(window));
    }
    EXPECT_EQ(E_INVALIDARG, m_inPlace->SetObjectRects(nullptr, &cases[0]));

    // Close takes the control out of the site's window; the client site stays until cleared.
    EXPECT_EQ(S_OK, m_oleObject->Close(OLECLOSE_NOSAVE));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_HRESULT_SUCCEEDED(m_oleObject->SetClientSite(nullptr));
}

TEST_F(ActivationTest, AContainerThatDestroysTheWindowIsNoticed)
{
    ASSERT_HRESULT_SUCCEEDED(m_oleObject->SetClientSite(&m_site));
    ASSERT_EQ(S_OK, Activate());
    const HWND window = ControlWindow();
    ASSERT_TRUE(window);
    DestroyWindow(window);  // what a container does to its children when it goes
    EXPECT_EQ(nullptr, ControlWindow());
    const RECT rect = {0, 0, 50, 50};
    EXPECT_EQ(S_OK, m_inPlace->SetObjectRects(&rect, &rect));
    EXPECT_EQ(S_OK, m_inPlace->InPlaceDeactivate());
    EXPECT_HRESULT_SUCCEEDED(m_oleObject->SetClientSite(nullptr));
}

struct CRefusalCase {
    const char* name;
    bool offerInPlaceSite;
    HRESULT canActivate;
    std::vector<std::string> expectedLog;
};

TEST_F(ActivationTest, ASiteThatRefusesGetsNoWindow)
{
    const CRefusalCase cases[] = {
        {"no in-place site", false, S_OK, {"QueryInterface(IOleInPlaceSite)"}},
        {"CanInPlaceActivate says no", true, S_FALSE, {"QueryInterface(IOleInPlaceSite)", "CanInPlaceActivate"}},
        {"CanInPlaceActivate fails", true, E_FAIL, {"QueryInterface(IOleInPlaceSite)", "CanInPlaceActivate"}},
    };
    for (const CRefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_site.m_offerInPlaceSite = c.offerInPlaceSite;
        m_site.m_canActivate = c.canActivate;
        m_site.m_log.clear();
        EXPECT_TRUE(FAILED(Activate()));
        EXPECT_EQ(c.expectedLog, m_site.m_log);
        EXPECT_EQ(nullptr, ControlWindow());
        EXPECT_EQ(1, m_site.m_refs);
    }
}

TEST_F(ActivationTest, ExtentAndTheBrowserCallsAHostMakes)
{
    SIZEL extent = {9260, 2646};
    EXPECT_EQ(S_OK, m_oleObject->SetExtent(DVASPECT_CONTENT, &extent));
    SIZEL read = {};
    EXPECT_EQ(S_OK, m_oleObject->GetExtent(DVASPECT_CONTENT, &read));
    EXPECT_EQ(9260, read.cx);
    EXPECT_EQ(2646, read.cy);
    EXPECT_EQ(DV_E_DVASPECT, m_oleObject->SetExtent(DVASPECT_ICON, &extent));

    CStandinLibrary& library = CStandinLibrary::Instance();
    EXPECT_EQ(S_OK, m_browser->put_Silent(VARIANT_TRUE));
    EXPECT_EQ(1, library.Count(WBSTANDIN_SILENT));
    EXPECT_EQ(S_OK, m_browser->put_StatusBar(VARIANT_FALSE));
    EXPECT_EQ(0, library.Count(WBSTANDIN_STATUS_BAR));
    EXPECT_EQ(S_OK, m_browser->put_ToolBar(0));
    EXPECT_EQ(0, library.Count(WBSTANDIN_TOOL_BAR));

    // Quit is ignored by the control: the document stays usable.
    const LONG quits = library.Count(WBSTANDIN_QUITS);
    EXPECT_EQ(S_OK, m_browser->Quit());
    EXPECT_EQ(quits + 1, library.Count(WBSTANDIN_QUITS));
    CComPtr<IHTMLDocument2> document;
    EXPECT_TRUE(GetHtmlDocument(m_browser.Get(), document));

    // What the stand-in cannot do, it says so.
    EXPECT_EQ(E_NOTIMPL, m_browser->GoBack());
    BSTR location = nullptr;
    EXPECT_EQ(E_NOTIMPL, m_browser->get_LocationURL(&location));
    CVariant url;
    V_VT(url.Get()) = VT_BSTR;
    V_BSTR(url.Get()) = SysAllocString(L"http://127.0.0.1/");
    EXPECT_EQ(E_NOTIMPL, m_browser->Navigate2(url.Get(), nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(E_INVALIDARG, m_browser->Navigate2(nullptr, nullptr, nullptr, nullptr, nullptr));
}

}  // namespace
