#include <gtest/gtest.h>

#include <windows.h>
#include <uxtheme.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <exdisp.h>

#include "controlhost.h"
#include "standin_record.h"
#include "hookstate.h"
#include "paneltest.h"
#include "testcontrol.h"

namespace {

const RECT kPanelRect = {0, 0, 350, 100};

RECT ToRect(const RECTL& r)
{
    return {r.left, r.top, r.right, r.bottom};
}

// The calls a control saw, without the releases of passing references.
std::vector<std::string> CallsIn(const std::vector<std::string>& log)
{
    std::vector<std::string> calls;
    for (const std::string& entry : log)
        if (entry.rfind("release:", 0) != 0)
            calls.push_back(entry);
    return calls;
}

RECT UpdateRectOf(HWND hWnd)
{
    RECT update = {};
    GetUpdateRect(hWnd, &update, FALSE);
    return update;
}

// A panel window over a visible parent, as the controller places it, with a test control ready.
// The members are declared so that the host goes first, then the windows, then the control.
class ControlHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_parent.m_hWnd);
        ASSERT_TRUE(m_host.Create(m_parent.m_hWnd, kPanelRect, L"", WS_CHILD | WS_VISIBLE));
    }

    void TearDown() override
    {
        if (m_host.m_hWnd)
            DestroyWindow(m_host.m_hWnd);
        // The control gives back its reference on the site while the site still exists.
        m_control.OleObject()->SetClientSite(nullptr);
    }

    void Attach() { m_host.AttachControl(m_control.OleObject()); }

    // Paints what is pending, then invalidates `rect` (the whole panel for NULL) and paints it.
    void Repaint(const RECT* rect)
    {
        UpdateWindow(m_host.m_hWnd);
        InvalidateRect(m_host.m_hWnd, rect, TRUE);
        UpdateWindow(m_host.m_hWnd);
    }

    CTestControl m_control;
    CParentWindow& m_parent = SharedParent();
    CControlHostWnd m_host;
};

// --- The site's COM identity -------------------------------------------------------------------

TEST_F(ControlHostTest, QueryInterfaceAnswersItsTableThroughEveryInterface)
{
    IUnknown* const clientSite = static_cast<IOleClientSite*>(&m_host);
    IUnknown* const inPlaceSite = static_cast<IOleInPlaceSiteWindowless*>(&m_host);
    IUnknown* const frame = static_cast<IOleInPlaceFrame*>(&m_host);
    IUnknown* const storage = static_cast<IStorage*>(&m_host);

    IID nearlyInPlaceSite = IID_IOleInPlaceSite;
    nearlyInPlaceSite.Data4[7] ^= 1;
    struct CRow {
        const char* name;
        IID iid;
        IUnknown* expected;  // NULL: refused
    } const rows[] = {
        {"IUnknown", IID_IUnknown, clientSite},
        {"IOleClientSite", IID_IOleClientSite, clientSite},
        {"IOleInPlaceSite", IID_IOleInPlaceSite, inPlaceSite},
        {"IOleInPlaceSiteEx", IID_IOleInPlaceSiteEx, inPlaceSite},
        {"IOleInPlaceSiteWindowless", IID_IOleInPlaceSiteWindowless, inPlaceSite},
        {"IOleInPlaceFrame", IID_IOleInPlaceFrame, frame},
        {"IStorage", IID_IStorage, storage},
        {"IDispatch", IID_IDispatch, nullptr},
        {"IOleWindow", IID_IOleWindow, nullptr},
        {"IOleInPlaceUIWindow", IID_IOleInPlaceUIWindow, nullptr},
        {"IOleContainer", IID_IOleContainer, nullptr},
        {"IOleControlSite", IID_IOleControlSite, nullptr},
        {"IViewObject", IID_IViewObject, nullptr},
        {"IOleInPlaceSite with one bit changed", nearlyInPlaceSite, nullptr},
    };
    IUnknown* const askers[] = {clientSite, inPlaceSite, frame, storage};
    for (IUnknown* asker : askers) {
        for (const CRow& row : rows) {
            SCOPED_TRACE(row.name);
            const LONG before = m_host.m_refCount;
            void* answer = reinterpret_cast<void*>(0x1234);
            const HRESULT hr = asker->QueryInterface(row.iid, &answer);
            if (row.expected) {
                EXPECT_EQ(S_OK, hr);
                EXPECT_EQ(static_cast<void*>(row.expected), answer);
                EXPECT_EQ(before + 1, m_host.m_refCount);
            } else {
                EXPECT_EQ(E_NOINTERFACE, hr);
                EXPECT_EQ(nullptr, answer);
                EXPECT_EQ(before, m_host.m_refCount);
            }
        }
    }
}

TEST_F(ControlHostTest, AddRefAndReleaseOnlyCountAndReleasePastZeroGoesNegative)
{
    IUnknown* const interfaces[] = {static_cast<IOleClientSite*>(&m_host),
                                    static_cast<IOleInPlaceSiteWindowless*>(&m_host),
                                    static_cast<IOleInPlaceFrame*>(&m_host), static_cast<IStorage*>(&m_host)};
    ULONG expected = 0;
    for (IUnknown* unknown : interfaces)
        EXPECT_EQ(++expected, unknown->AddRef());
    for (IUnknown* unknown : interfaces)
        EXPECT_EQ(--expected, unknown->Release());
    EXPECT_EQ(0, m_host.m_refCount);

    EXPECT_EQ(static_cast<ULONG>(-1), interfaces[1]->Release());
    EXPECT_EQ(static_cast<ULONG>(-2), interfaces[3]->Release());
    EXPECT_EQ(-2, m_host.m_refCount);
    // Still alive and answering.
    HWND window = nullptr;
    EXPECT_EQ(S_OK, static_cast<IOleInPlaceFrame*>(&m_host)->GetWindow(&window));
    EXPECT_EQ(m_host.m_hWnd, window);
    EXPECT_TRUE(IsWindow(m_host.m_hWnd));
}

// --- The site's answers --------------------------------------------------------------------------

TEST_F(ControlHostTest, SiteAnswersEveryMethodAsItsTablesSay)
{
    IOleClientSite* client = &m_host;
    IOleInPlaceSiteWindowless* site = &m_host;
    IOleInPlaceFrame* frame = &m_host;
    IStorage* storage = &m_host;
    RECT rect = {1, 2, 3, 4};
    SIZE scroll = {1, 1};
    MSG msg = {};
    BORDERWIDTHS widths = {};
    OLEMENUGROUPWIDTHS menuWidths = {};
    FILETIME time = {};
    STATSTG stat = {};
    IStream* stream = reinterpret_cast<IStream*>(0x77);
    IStorage* subStorage = reinterpret_cast<IStorage*>(0x77);
    IEnumSTATSTG* elements = reinterpret_cast<IEnumSTATSTG*>(0x77);
    IMoniker* moniker = reinterpret_cast<IMoniker*>(0x77);

    struct CRow {
        const char* name;
        std::function<HRESULT()> call;
        HRESULT expected;
    } const rows[] = {
        {"SaveObject", [&] { return client->SaveObject(); }, E_NOTIMPL},
        {"GetMoniker", [&] { return client->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, &moniker); },
         E_NOTIMPL},
        {"ShowObject", [&] { return client->ShowObject(); }, S_OK},
        {"OnShowWindow", [&] { return client->OnShowWindow(TRUE); }, E_NOTIMPL},
        {"RequestNewObjectLayout", [&] { return client->RequestNewObjectLayout(); }, E_NOTIMPL},
        {"site ContextSensitiveHelp", [&] { return site->ContextSensitiveHelp(TRUE); }, E_NOTIMPL},
        {"CanInPlaceActivate", [&] { return site->CanInPlaceActivate(); }, S_OK},
        {"OnUIActivate", [&] { return site->OnUIActivate(); }, S_OK},
        {"Scroll", [&] { return site->Scroll(scroll); }, E_NOTIMPL},
        {"OnUIDeactivate", [&] { return site->OnUIDeactivate(FALSE); }, S_OK},
        {"OnInPlaceDeactivate", [&] { return site->OnInPlaceDeactivate(); }, S_OK},
        {"DiscardUndoState", [&] { return site->DiscardUndoState(); }, E_NOTIMPL},
        {"DeactivateAndUndo", [&] { return site->DeactivateAndUndo(); }, E_NOTIMPL},
        {"OnPosRectChange", [&] { return site->OnPosRectChange(&rect); }, S_OK},
        {"OnInPlaceDeactivateEx", [&] { return site->OnInPlaceDeactivateEx(TRUE); }, S_FALSE},
        {"RequestUIActivate", [&] { return site->RequestUIActivate(); }, S_FALSE},
        {"CanWindowlessActivate", [&] { return site->CanWindowlessActivate(); }, S_OK},
        {"GetCapture", [&] { return site->GetCapture(); }, S_FALSE},
        {"SetCapture", [&] { return site->SetCapture(TRUE); }, S_FALSE},
        {"GetFocus", [&] { return site->GetFocus(); }, S_OK},
        {"SetFocus", [&] { return site->SetFocus(TRUE); }, S_OK},
        {"ReleaseDC", [&] { return site->ReleaseDC(nullptr); }, S_FALSE},
        {"ScrollRect", [&] { return site->ScrollRect(1, 1, &rect, &rect); }, S_FALSE},
        {"AdjustRect", [&] { return site->AdjustRect(&rect); }, S_FALSE},
        {"frame ContextSensitiveHelp", [&] { return frame->ContextSensitiveHelp(TRUE); }, E_NOTIMPL},
        {"GetBorder", [&] { return frame->GetBorder(&rect); }, E_NOTIMPL},
        {"RequestBorderSpace", [&] { return frame->RequestBorderSpace(&widths); }, E_NOTIMPL},
        {"SetBorderSpace", [&] { return frame->SetBorderSpace(&widths); }, E_NOTIMPL},
        {"SetActiveObject", [&] { return frame->SetActiveObject(nullptr, L"x"); }, S_OK},
        {"InsertMenus", [&] { return frame->InsertMenus(nullptr, &menuWidths); }, E_NOTIMPL},
        {"SetMenu", [&] { return frame->SetMenu(nullptr, nullptr, nullptr); }, S_OK},
        {"RemoveMenus", [&] { return frame->RemoveMenus(nullptr); }, E_NOTIMPL},
        {"SetStatusText", [&] { return frame->SetStatusText(L"status"); }, S_OK},
        {"EnableModeless", [&] { return frame->EnableModeless(TRUE); }, S_OK},
        {"TranslateAccelerator", [&] { return frame->TranslateAccelerator(&msg, 0); }, E_NOTIMPL},
        {"CreateStream", [&] { return storage->CreateStream(L"s", 0, 0, 0, &stream); }, E_NOTIMPL},
        {"OpenStream", [&] { return storage->OpenStream(L"s", nullptr, 0, 0, &stream); }, E_NOTIMPL},
        {"CreateStorage", [&] { return storage->CreateStorage(L"s", 0, 0, 0, &subStorage); }, E_NOTIMPL},
        {"OpenStorage", [&] { return storage->OpenStorage(L"s", nullptr, 0, nullptr, 0, &subStorage); }, E_NOTIMPL},
        {"CopyTo", [&] { return storage->CopyTo(0, nullptr, nullptr, storage); }, E_NOTIMPL},
        {"MoveElementTo", [&] { return storage->MoveElementTo(L"s", storage, L"t", 0); }, E_NOTIMPL},
        {"Commit", [&] { return storage->Commit(0); }, E_NOTIMPL},
        {"Revert", [&] { return storage->Revert(); }, E_NOTIMPL},
        {"EnumElements", [&] { return storage->EnumElements(0, nullptr, 0, &elements); }, E_NOTIMPL},
        {"DestroyElement", [&] { return storage->DestroyElement(L"s"); }, E_NOTIMPL},
        {"RenameElement", [&] { return storage->RenameElement(L"s", L"t"); }, E_NOTIMPL},
        {"SetElementTimes", [&] { return storage->SetElementTimes(L"s", &time, &time, &time); }, E_NOTIMPL},
        {"SetClass", [&] { return storage->SetClass(CLSID_NULL); }, S_OK},
        {"SetStateBits", [&] { return storage->SetStateBits(0, 0); }, E_NOTIMPL},
        {"Stat", [&] { return storage->Stat(&stat, 0); }, E_NOTIMPL},
    };
    for (const CRow& row : rows)
        EXPECT_EQ(row.expected, row.call()) << row.name;
    // No out value is written by the refusals.
    EXPECT_EQ(reinterpret_cast<IStream*>(0x77), stream);
    EXPECT_EQ(reinterpret_cast<IStorage*>(0x77), subStorage);
    EXPECT_EQ(reinterpret_cast<IEnumSTATSTG*>(0x77), elements);
    EXPECT_EQ(0, m_host.m_refCount);
}

TEST_F(ControlHostTest, SiteMethodsWithEffects)
{
    IOleInPlaceSiteWindowless* site = &m_host;

    IOleContainer* container = reinterpret_cast<IOleContainer*>(0x77);
    EXPECT_EQ(E_NOINTERFACE, static_cast<IOleClientSite*>(&m_host)->GetContainer(&container));
    EXPECT_EQ(nullptr, container);

    HWND window = nullptr;
    EXPECT_EQ(S_OK, site->GetWindow(&window));
    EXPECT_EQ(m_host.m_hWnd, window);

    BOOL noRedraw = FALSE;
    EXPECT_EQ(S_OK, site->OnInPlaceActivateEx(&noRedraw, 0));
    EXPECT_TRUE(noRedraw);
    EXPECT_EQ(S_OK, site->OnInPlaceActivateEx(nullptr, 0));
    EXPECT_FALSE(m_host.m_inPlaceObject);

    HDC dc = reinterpret_cast<HDC>(0x77);
    EXPECT_EQ(S_FALSE, site->GetDC(nullptr, 0, &dc));
    EXPECT_EQ(reinterpret_cast<HDC>(0x77), dc);
    LRESULT result = 0x77;
    EXPECT_EQ(S_FALSE, site->OnDefWindowMessage(WM_KEYDOWN, 0, 0, &result));
    EXPECT_EQ(0x77, result);

    // Invalidation always covers the whole panel, whatever part the control names.
    UpdateWindow(m_host.m_hWnd);
    const RECT part = {10, 10, 20, 20};
    EXPECT_EQ(S_OK, site->InvalidateRect(&part, FALSE));
    EXPECT_TRUE(SameRect(kPanelRect, UpdateRectOf(m_host.m_hWnd)));
    UpdateWindow(m_host.m_hWnd);
    HRGN region = CreateRectRgn(10, 10, 20, 20);
    EXPECT_EQ(S_OK, site->InvalidateRgn(region, TRUE));
    DeleteObject(region);
    EXPECT_TRUE(SameRect(kPanelRect, UpdateRectOf(m_host.m_hWnd)));
}

// --- Attaching a control -------------------------------------------------------------------------

TEST_F(ControlHostTest, AttachControlActivatesInPlaceAndHidesTheControlWindow)
{
    Attach();

    const std::vector<std::string> expectedStart = {"SetClientSite", "SetContainedObject:1", "DoVerb",
                                                    "CanInPlaceActivate", "LockRunning:10", "OnInPlaceActivate",
                                                    "GetWindowContext", "SetObjectRects"};
    // Releases of passing references are left out: only the calls and their order count here.
    std::vector<std::string> log;
    for (const std::string& entry : m_control.m_log)
        if (entry.rfind("release:", 0) != 0)
            log.push_back(entry);
    EXPECT_EQ(expectedStart, log);

    EXPECT_EQ(OLEIVERB_INPLACEACTIVATE, m_control.m_doVerbVerb);
    EXPECT_EQ(-1, m_control.m_doVerbIndex);
    EXPECT_EQ(nullptr, m_control.m_doVerbParent);
    EXPECT_TRUE(SameRect(kPanelRect, m_control.m_doVerbRect));
    EXPECT_TRUE(SameRect(kPanelRect, m_host.m_posRect));

    // What the site told the control while it activated.
    EXPECT_EQ(S_OK, m_control.m_canActivateResult);
    EXPECT_EQ(S_OK, m_control.m_onActivateResult);
    EXPECT_EQ(S_OK, m_control.m_contextResult);
    EXPECT_EQ(m_host.m_hWnd, m_control.m_siteWindow);
    EXPECT_TRUE(m_control.m_frameGiven);
    EXPECT_FALSE(m_control.m_documentGiven);
    EXPECT_TRUE(SameRect(kPanelRect, m_control.m_contextPos));
    EXPECT_TRUE(SameRect(kPanelRect, m_control.m_contextClip));
    EXPECT_EQ(sizeof(OLEINPLACEFRAMEINFO), m_control.m_frameInfo.cb);
    EXPECT_FALSE(m_control.m_frameInfo.fMDIApp);
    EXPECT_EQ(m_host.m_hWnd, m_control.m_frameInfo.hwndFrame);
    EXPECT_EQ(nullptr, m_control.m_frameInfo.haccel);
    EXPECT_EQ(0u, m_control.m_frameInfo.cAccelEntries);

    // The host keeps one reference on each interface; the control keeps one on the site.
    EXPECT_EQ(1, m_control.m_oleRefs);
    EXPECT_EQ(1, m_control.m_viewRefs);
    EXPECT_EQ(1, m_control.m_inPlaceRefs);
    EXPECT_EQ(1, m_host.m_refCount);

    // The control's window is placed under the panel and hidden.
    ASSERT_TRUE(m_control.m_window);
    EXPECT_EQ(m_host.m_hWnd, GetParent(m_control.m_window));
    EXPECT_FALSE(IsWindowVisible(m_control.m_window));
    EXPECT_TRUE(SameRect(kPanelRect, m_control.m_objectPos));
    EXPECT_TRUE(SameRect(kPanelRect, m_control.m_objectClip));
    RECT placed = {};
    GetWindowRect(m_control.m_window, &placed);
    MapWindowPoints(nullptr, m_host.m_hWnd, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_TRUE(SameRect(kPanelRect, placed));

    // The repaint timer runs under id 1.
    EXPECT_TRUE(KillTimer(m_host.m_hWnd, 1));
}

TEST_F(ControlHostTest, RepaintTimerPaintsAboutTwentyTimesASecond)
{
    CPaintRecorder& recorder = PaintRecorder();
    ASSERT_TRUE(recorder.m_module);
    CUxThemeSwap swap(recorder.m_module);
    Attach();
    UpdateWindow(m_host.m_hWnd);
    recorder.Reset();
    PumpMessages(600);
    int begins = 0;
    for (const CPaintCall& call : recorder.Calls())
        begins += call.kind == PAINT_CALL_BEGIN;
    // Twelve at exactly 50 ms; the machine may be busy, but not by a factor of two.
    EXPECT_GE(begins, 6);
    EXPECT_LE(begins, 14);
    EXPECT_EQ(0, recorder.OpenBuffers());
}

TEST_F(ControlHostTest, ControlThatDoesNotActivateIsNeitherPlacedNorForwardedTo)
{
    m_control.m_activatesInPlace = false;
    Attach();
    EXPECT_FALSE(m_host.m_inPlaceObject);
    EXPECT_EQ(0, m_control.m_setObjectRectsCalls);
    EXPECT_EQ(0, SendMessageW(m_host.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5)));
    EXPECT_EQ(0, m_host.ForwardToControl(WM_KEYDOWN, 'A', 0));
    EXPECT_TRUE(KillTimer(m_host.m_hWnd, 1));
}

TEST_F(ControlHostTest, AttachingANewControlLetsGoOfEverythingOfTheOldOne)
{
    Attach();
    CTestControl second;
    second.m_activatesInPlace = false;
    second.m_offersViewObject = false;
    const int firstPlacements = m_control.m_setObjectRectsCalls;
    m_host.AttachControl(second.OleObject());

    EXPECT_EQ(0, m_control.m_oleRefs);
    EXPECT_EQ(0, m_control.m_viewRefs);
    EXPECT_EQ(0, m_control.m_inPlaceRefs);
    // The old control's in-place object is not taken for the new control's.
    EXPECT_FALSE(m_host.m_inPlaceObject);
    EXPECT_FALSE(m_host.m_viewObject);
    EXPECT_EQ(firstPlacements, m_control.m_setObjectRectsCalls);
    EXPECT_EQ(1, second.m_oleRefs);

    // Attaching the control that is already held keeps it alive.
    m_host.AttachControl(second.OleObject());
    EXPECT_EQ(1, second.m_oleRefs);
    m_host.m_oleObject.Release();
    second.OleObject()->SetClientSite(nullptr);
}

TEST(ControlHostLifetimeTest, DestructionReleasesInPlaceThenViewThenControl)
{
    CTestControl control;
    CParentWindow& parent = SharedParent();
    {
        CControlHostWnd host;
        ASSERT_TRUE(host.Create(parent.m_hWnd, kPanelRect, L"", WS_CHILD | WS_VISIBLE));
        host.AttachControl(control.OleObject());
        DestroyWindow(host.m_hWnd);
        control.OleObject()->SetClientSite(nullptr);
        control.m_log.clear();
    }
    const std::vector<std::string> expected = {"release:inplace", "release:view", "release:ole"};
    EXPECT_EQ(expected, control.m_log);
    EXPECT_EQ(0, control.m_oleRefs);
    EXPECT_EQ(0, control.m_viewRefs);
    EXPECT_EQ(0, control.m_inPlaceRefs);
}

TEST(ControlHostLifetimeTest, WindowThatOutlivesTheHostIsLeftToDefWindowProc)
{
    CTestControl control;
    CParentWindow& parent = SharedParent();
    HWND panel = nullptr;
    {
        CControlHostWnd host;
        ASSERT_TRUE(host.Create(parent.m_hWnd, kPanelRect, L"", WS_CHILD | WS_VISIBLE));
        host.AttachControl(control.OleObject());
        control.OleObject()->SetClientSite(nullptr);
        panel = host.m_hWnd;
    }
    ASSERT_TRUE(IsWindow(panel));
    // Nothing reaches the object that is gone.
    PumpMessages(120);
    InvalidateRect(panel, nullptr, TRUE);
    UpdateWindow(panel);
    SendMessageW(panel, WM_LBUTTONDOWN, 0, 0);
    EXPECT_TRUE(control.m_messages.empty());
    DestroyWindow(panel);
}

TEST(ControlHostLifetimeTest, NoTimerWithoutAWindow)
{
    CTestControl control;
    {
        CControlHostWnd host;
        host.AttachControl(control.OleObject());
        // A timer without a window would be a thread timer that nobody kills.
        PumpMessages(0);
        Sleep(120);
        MSG msg;
        bool threadTimer = false;
        while (PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE))
            threadTimer = threadTimer || !msg.hwnd;
        EXPECT_FALSE(threadTimer);
        control.OleObject()->SetClientSite(nullptr);
    }
}

TEST(ControlHostLifetimeTest, InvalidationWithoutAWindowRepaintsNoOtherWindow)
{
    // A window of someone else's, fully painted.
    HWND bystander = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(bystander);
    UpdateWindow(bystander);
    RECT update = {};
    ASSERT_FALSE(GetUpdateRect(bystander, &update, FALSE));

    CControlHostWnd host;
    IOleInPlaceSiteWindowless* site = &host;
    EXPECT_EQ(S_OK, site->InvalidateRect(nullptr, TRUE));
    HRGN region = CreateRectRgn(0, 0, 10, 10);
    EXPECT_EQ(S_OK, site->InvalidateRgn(region, TRUE));
    DeleteObject(region);
    EXPECT_FALSE(GetUpdateRect(bystander, &update, FALSE));
    DestroyWindow(bystander);
}

// --- Sizing ---------------------------------------------------------------------------------------

TEST_F(ControlHostTest, SizeOf350By100At96DpiGivesPixelsAndHimetric)
{
    HDC screen = GetDC(nullptr);
    const int dpiX = GetDeviceCaps(screen, LOGPIXELSX);
    const int dpiY = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(96, dpiX);
    ASSERT_EQ(96, dpiY);

    Attach();
    MoveWindow(m_host.m_hWnd, 0, 0, 120, 40, TRUE);
    EXPECT_EQ(120, m_host.m_extentPixels.cx);
    UpdateWindow(m_host.m_hWnd);
    SetWindowPos(m_host.m_hWnd, nullptr, 0, 0, 350, 100, SWP_NOZORDER | SWP_NOMOVE | SWP_NOREDRAW);
    ValidateRect(m_host.m_hWnd, nullptr);
    m_control.m_log.clear();

    SendMessageW(m_host.m_hWnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(350, 100));

    EXPECT_TRUE(SameRect(kPanelRect, m_host.m_posRect));
    EXPECT_EQ(350, m_host.m_extentPixels.cx);
    EXPECT_EQ(100, m_host.m_extentPixels.cy);
    EXPECT_EQ(9260, m_host.m_extentHimetric.cx);
    EXPECT_EQ(2646, m_host.m_extentHimetric.cy);
    const std::vector<std::string> expected = {"SetExtent", "SetObjectRects"};
    EXPECT_EQ(expected, m_control.m_log);
    EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), m_control.m_extentAspect);
    EXPECT_EQ(9260, m_control.m_extent.cx);
    EXPECT_EQ(2646, m_control.m_extent.cy);
    EXPECT_TRUE(SameRect(kPanelRect, m_control.m_objectPos));
    EXPECT_TRUE(SameRect(kPanelRect, m_control.m_objectClip));
    EXPECT_TRUE(SameRect(kPanelRect, UpdateRectOf(m_host.m_hWnd)));
}

TEST_F(ControlHostTest, SizeWithoutAControlOnlyRecordsTheSize)
{
    SendMessageW(m_host.m_hWnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(200, 60));
    EXPECT_EQ(200, m_host.m_posRect.right);
    EXPECT_EQ(60, m_host.m_posRect.bottom);
    EXPECT_EQ(MulDiv(2540, 200, 96), m_host.m_extentHimetric.cx);
    EXPECT_TRUE(m_control.m_log.empty());
}

// --- Timer and input --------------------------------------------------------------------------------

TEST_F(ControlHostTest, TimerOfAnyIdInvalidatesTheWholePanel)
{
    Attach();
    for (WPARAM id : {WPARAM(1), WPARAM(2), WPARAM(0xBEEF)}) {
        SCOPED_TRACE(id);
        ValidateRect(m_host.m_hWnd, nullptr);
        EXPECT_EQ(0, SendMessageW(m_host.m_hWnd, WM_TIMER, id, 0));
        EXPECT_TRUE(SameRect(kPanelRect, UpdateRectOf(m_host.m_hWnd)));
    }
}

TEST_F(ControlHostTest, InputReachesTheControlWindowExactlyForTheListedMessages)
{
    Attach();
    std::vector<UINT> forwarded = {WM_CANCELMODE, WM_HELP, WM_SYSDEADCHAR};
    for (UINT m = WM_KEYDOWN; m <= WM_SYSKEYUP; ++m)
        forwarded.push_back(m);
    for (UINT m = WM_MOUSEMOVE; m <= WM_MBUTTONDBLCLK; ++m)
        forwarded.push_back(m);
    for (UINT m = WM_IME_SETCONTEXT; m <= WM_IME_KEYUP; ++m)
        forwarded.push_back(m);
    for (UINT message : forwarded) {
        SCOPED_TRACE(message);
        m_control.m_messages.clear();
        const WPARAM wParam = 0x10 + message;
        const LPARAM lParam = MAKELPARAM(12, 34);
        EXPECT_EQ(CTestControl::AnswerFor(message), SendMessageW(m_host.m_hWnd, message, wParam, lParam));
        ASSERT_EQ(1u, m_control.m_messages.size());
        EXPECT_EQ(message, m_control.m_messages[0].message);
        EXPECT_EQ(wParam, m_control.m_messages[0].wParam);
        EXPECT_EQ(lParam, m_control.m_messages[0].lParam);
    }

    // Just outside the ranges: the control never sees them.
    const UINT kept[] = {WM_SYSCHAR, WM_MOUSEWHEEL, WM_MOUSEHWHEEL, WM_XBUTTONDOWN, WM_UNICHAR,
                         WM_IME_STARTCOMPOSITION, WM_IME_SETCONTEXT - 1, WM_IME_KEYUP + 1, WM_USER + 1};
    m_control.m_messages.clear();
    for (UINT message : kept)
        SendMessageW(m_host.m_hWnd, message, 0, 0);
    EXPECT_TRUE(m_control.m_messages.empty());

    // DefWindowProcW passes these two up to the parent, which shows that they went there.
    m_parent.m_messages.clear();
    SendMessageW(m_host.m_hWnd, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(60, 60));
    EXPECT_TRUE(m_parent.Received(WM_MOUSEWHEEL));
    SendMessageW(m_host.m_hWnd, WM_SYSCHAR, VK_SPACE, static_cast<LPARAM>(KF_ALTDOWN) << 16);
    EXPECT_TRUE(m_parent.Received(WM_SYSCHAR));
    EXPECT_TRUE(m_control.m_messages.empty());
}

TEST_F(ControlHostTest, DestroyDestroysTheControlWindow)
{
    Attach();
    HWND controlWindow = m_control.m_window;
    ASSERT_TRUE(IsWindow(controlWindow));
    EXPECT_EQ(0, SendMessageW(m_host.m_hWnd, WM_DESTROY, 0, 0));
    EXPECT_FALSE(IsWindow(controlWindow));
    EXPECT_TRUE(IsWindow(m_host.m_hWnd));
    // The interfaces stay held until the next control or the end of the host.
    EXPECT_TRUE(m_host.m_inPlaceObject);
    EXPECT_EQ(1, m_control.m_inPlaceRefs);
}

// --- Ending the control's session ---------------------------------------------------------------

// The whole OLE shutdown of a windowed control when its panel goes: deactivated while the panel
// still exists, its window gone, closed, the site taken back, the running lock given back.
const std::vector<std::string> kSessionEnd = {"InPlaceDeactivate", "window:destroyed", "OnInPlaceDeactivate",
                                              "Close:1", "SetClientSite:null", "LockRunning:00"};

TEST_F(ControlHostTest, PanelDestructionEndsTheControlsSessionOnceInOleOrder)
{
    struct CRow {
        const char* name;
        bool destroysWindow;
        bool activates;
        HRESULT lockResult;
        std::vector<std::string> expected;
    } const rows[] = {
        {"control destroys its window", true, true, S_OK, kSessionEnd},
        {"control keeps its window: the host destroys it before Close", false, true, S_OK,
         {"InPlaceDeactivate", "OnInPlaceDeactivate", "window:destroyed", "Close:1", "SetClientSite:null",
          "LockRunning:00"}},
        {"lock refused: nothing to give back", true, true, E_FAIL,
         {"InPlaceDeactivate", "window:destroyed", "OnInPlaceDeactivate", "Close:1", "SetClientSite:null"}},
        {"never activated: only closed and the site taken back", true, false, S_OK,
         {"Close:1", "SetClientSite:null"}},
    };
    for (const CRow& row : rows) {
        SCOPED_TRACE(row.name);
        CTestControl control;
        control.m_destroysWindowOnDeactivate = row.destroysWindow;
        control.m_activatesInPlace = row.activates;
        control.m_lockRunningResult = row.lockResult;
        CTestControl next;  // outlives the host, which ends its session
        next.m_activatesInPlace = false;
        CControlHostWnd host;
        ASSERT_TRUE(host.Create(m_parent.m_hWnd, kPanelRect, L"", WS_CHILD | WS_VISIBLE));
        const LONG siteRefsBefore = host.m_refCount;
        host.AttachControl(control.OleObject());
        ASSERT_EQ(row.activates, control.m_window != nullptr);
        EXPECT_GT(host.m_refCount, siteRefsBefore);
        control.m_log.clear();

        DestroyWindow(host.m_hWnd);
        EXPECT_EQ(row.expected, CallsIn(control.m_log));
        EXPECT_EQ(nullptr, control.m_window);
        // The control holds nothing of the site any more; the host still holds the control.
        EXPECT_EQ(nullptr, control.m_site);
        EXPECT_EQ(siteRefsBefore, host.m_refCount);
        EXPECT_EQ(1, control.m_oleRefs);
        EXPECT_EQ(1, control.m_viewRefs);
        EXPECT_EQ(row.activates ? 1 : 0, control.m_inPlaceRefs);

        // Neither the next control nor the host's end does any of it again.
        control.m_log.clear();
        host.AttachControl(next.OleObject());
        EXPECT_EQ(std::vector<std::string>{}, CallsIn(control.m_log));
        EXPECT_EQ(0, control.m_oleRefs + control.m_viewRefs + control.m_inPlaceRefs);
    }
}

TEST_F(ControlHostTest, DestroyMessageTwiceEndsTheSessionOnce)
{
    const LONG siteRefsBefore = m_host.m_refCount;
    Attach();
    m_control.m_log.clear();
    EXPECT_EQ(0, SendMessageW(m_host.m_hWnd, WM_DESTROY, 0, 0));
    EXPECT_EQ(kSessionEnd, CallsIn(m_control.m_log));
    EXPECT_EQ(siteRefsBefore, m_host.m_refCount);
    m_control.m_log.clear();
    DestroyWindow(m_host.m_hWnd);
    EXPECT_EQ(std::vector<std::string>{}, CallsIn(m_control.m_log));
    EXPECT_EQ(siteRefsBefore, m_host.m_refCount);
}

TEST_F(ControlHostTest, ControlCallingBackWhileItShutsDownChangesNothing)
{
    const LONG siteRefsBefore = m_host.m_refCount;
    Attach();
    m_control.m_log.clear();
    const HWND panel = m_host.m_hWnd;
    int callbacks = 0;
    // At every step the control re-enters: the panel's destruction once more, and a
    // re-activation that must not take a second lock nobody would give back.
    m_control.m_onCall = [&](const std::string&) {
        ++callbacks;
        SendMessageW(panel, WM_DESTROY, 0, 0);
        static_cast<IOleInPlaceSite*>(&m_host)->OnInPlaceActivate();
        HWND window = nullptr;
        static_cast<IOleInPlaceSite*>(&m_host)->GetWindow(&window);
        static_cast<IOleInPlaceSiteWindowless*>(&m_host)->InvalidateRect(nullptr, TRUE);
    };
    DestroyWindow(panel);
    m_control.m_onCall = nullptr;
    EXPECT_EQ(kSessionEnd, CallsIn(m_control.m_log));
    EXPECT_EQ(4, callbacks);  // InPlaceDeactivate, Close, SetClientSite, LockRunning
    EXPECT_EQ(nullptr, m_control.m_site);
    EXPECT_EQ(siteRefsBefore, m_host.m_refCount);
    EXPECT_FALSE(IsWindow(panel));
}

TEST_F(ControlHostTest, ControlWindowDestroyedBeforeThePanelIsNotDestroyedAgain)
{
    Attach();
    ASSERT_TRUE(m_control.m_window);
    DestroyWindow(m_control.m_window);
    ASSERT_EQ(nullptr, m_control.m_window);
    m_control.m_log.clear();
    DestroyWindow(m_host.m_hWnd);
    const std::vector<std::string> expected = {"InPlaceDeactivate", "OnInPlaceDeactivate", "Close:1",
                                               "SetClientSite:null", "LockRunning:00"};
    EXPECT_EQ(expected, CallsIn(m_control.m_log));
    EXPECT_EQ(0, m_host.m_refCount);
}

TEST(ControlHostLifetimeTest, SessionStillOpenIsEndedByTheNextControlOrByTheHostsEnd)
{
    CParentWindow& parent = SharedParent();
    struct CRow {
        const char* name;
        bool withWindow;
        // Ends the session some other way than through WM_DESTROY; may destroy the host.
        std::function<void(std::unique_ptr<CControlHostWnd>&, CTestControl& next)> end;
        std::vector<std::string> expected;
    } const rows[] = {
        {"next control attached", true,
         [](std::unique_ptr<CControlHostWnd>& host, CTestControl& next) {
             host->AttachControl(next.OleObject());
             EXPECT_EQ(next.OleObject(), host->m_oleObject.Get());
             EXPECT_TRUE(next.m_site);
         },
         kSessionEnd},
        {"host destroyed before its window", true,
         [](std::unique_ptr<CControlHostWnd>& host, CTestControl&) {
             const HWND panel = host->m_hWnd;
             host.reset();
             DestroyWindow(panel);
         },
         kSessionEnd},
        {"host destroyed, never had a window", false,
         [](std::unique_ptr<CControlHostWnd>& host, CTestControl&) { host.reset(); },
         {"InPlaceDeactivate", "OnInPlaceDeactivate", "Close:1", "SetClientSite:null", "LockRunning:00"}},
    };
    for (const CRow& row : rows) {
        SCOPED_TRACE(row.name);
        CTestControl control;
        CTestControl next;  // declared before the host, which ends its session in the end
        next.m_activatesInPlace = false;
        auto host = std::make_unique<CControlHostWnd>();
        if (row.withWindow) {
            ASSERT_TRUE(host->Create(parent.m_hWnd, kPanelRect, L"", WS_CHILD | WS_VISIBLE));
        }
        host->AttachControl(control.OleObject());
        ASSERT_TRUE(control.m_site);
        control.m_log.clear();
        row.end(host, next);
        EXPECT_EQ(row.expected, CallsIn(control.m_log));
        EXPECT_EQ(nullptr, control.m_site);
        EXPECT_EQ(0, control.m_oleRefs + control.m_viewRefs + control.m_inPlaceRefs);
        if (host && host->m_hWnd)
            DestroyWindow(host->m_hWnd);
        host.reset();
        // The next control's session ended with the host as well.
        EXPECT_EQ(nullptr, next.m_site);
    }
}

// --- Painting ---------------------------------------------------------------------------------------

TEST_F(ControlHostTest, PaintDrawsTheControlOverWhiteIntoAnOpaqueBufferOfTheUpdateRectangle)
{
    CPaintRecorder& recorder = PaintRecorder();
    ASSERT_TRUE(recorder.m_module);
    CUxThemeSwap swap(recorder.m_module);
    Attach();
    KillTimer(m_host.m_hWnd, 1);
    m_control.m_onDraw = recorder.m_mark;
    UpdateWindow(m_host.m_hWnd);
    recorder.Reset();
    m_control.m_drawCalls = 0;

    const RECT update = {100, 20, 250, 70};
    InvalidateRect(m_host.m_hWnd, &update, TRUE);
    UpdateWindow(m_host.m_hWnd);

    const std::vector<CPaintCall> calls = recorder.Calls();
    ASSERT_EQ(5u, calls.size());
    EXPECT_EQ(PAINT_CALL_BEGIN, calls[0].kind);
    EXPECT_TRUE(SameRect(update, calls[0].rect));
    EXPECT_EQ(BPBF_TOPDOWNDIB, calls[0].format);
    EXPECT_FALSE(calls[0].paramsGiven);
    ASSERT_TRUE(calls[0].buffer);
    void* const buffer = calls[0].buffer;

    EXPECT_EQ(PAINT_CALL_SET_ALPHA, calls[1].kind);
    EXPECT_EQ(buffer, calls[1].buffer);
    EXPECT_TRUE(SameRect(kPanelRect, calls[1].rect));
    EXPECT_EQ(0, calls[1].alpha);

    EXPECT_EQ(PAINT_CALL_MARK, calls[2].kind);  // the control's Draw

    EXPECT_EQ(PAINT_CALL_SET_ALPHA, calls[3].kind);
    EXPECT_EQ(buffer, calls[3].buffer);
    EXPECT_TRUE(SameRect(update, calls[3].rect));
    EXPECT_EQ(255, calls[3].alpha);

    EXPECT_EQ(PAINT_CALL_END, calls[4].kind);
    EXPECT_EQ(buffer, calls[4].buffer);
    EXPECT_TRUE(calls[4].updateTarget);
    EXPECT_EQ(0, recorder.OpenBuffers());

    // The control drew once, into the buffer, over the whole panel.
    EXPECT_EQ(1, m_control.m_drawCalls);
    EXPECT_EQ(calls[0].paintDC, m_control.m_drawDC);
    EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), m_control.m_drawAspect);
    EXPECT_EQ(-1, m_control.m_drawIndex);
    EXPECT_TRUE(SameRect(kPanelRect, ToRect(m_control.m_drawBounds)));
    ASSERT_TRUE(m_control.m_drawWindowBoundsGiven);
    EXPECT_TRUE(SameRect(kPanelRect, ToRect(m_control.m_drawWindowBounds)));

    // The buffer as it went to the screen: the control's half in its colour, white beside it,
    // every pixel at alpha 255.
    int width = 0, height = 0;
    const std::vector<DWORD> pixels = recorder.LastBuffer(width, height);
    ASSERT_EQ(150, width);
    ASSERT_EQ(50, height);
    const DWORD controlColour = 0xFF000000 | Rgb(m_control.m_color);
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const DWORD expected = update.left + x < 175 ? controlColour : 0xFFFFFFFF;
            wrong += pixels[y * width + x] != expected;
        }
    EXPECT_EQ(0, wrong);
}

// The same partial repaint through the buffer and through Wine's own uxtheme: the update rectangle
// shows the new content, the rest of the panel keeps what it showed before.
void ExpectPartialRepaintKeepsTheRest(CTestControl& control, CControlHostWnd& host)
{
    const COLORREF before = RGB(200, 30, 30), after = RGB(20, 40, 220);
    control.m_color = before;
    UpdateWindow(host.m_hWnd);
    InvalidateRect(host.m_hWnd, nullptr, TRUE);
    UpdateWindow(host.m_hWnd);
    const CPixels first = ReadClientPixels(host.m_hWnd);
    ASSERT_EQ(350, first.width);
    EXPECT_TRUE(AreaIs(first, {0, 0, 175, 100}, Rgb(before)));
    EXPECT_TRUE(AreaIs(first, {175, 0, 350, 100}, 0xFFFFFF));

    control.m_color = after;
    const RECT update = {100, 20, 250, 70};
    InvalidateRect(host.m_hWnd, &update, TRUE);
    UpdateWindow(host.m_hWnd);
    const CPixels second = ReadClientPixels(host.m_hWnd);
    EXPECT_TRUE(AreaIs(second, {100, 20, 175, 70}, Rgb(after)));
    EXPECT_TRUE(AreaIs(second, {175, 20, 250, 70}, 0xFFFFFF));
    EXPECT_TRUE(AreaIs(second, {0, 0, 100, 100}, Rgb(before)));
    EXPECT_TRUE(AreaIs(second, {100, 0, 175, 20}, Rgb(before)));
    EXPECT_TRUE(AreaIs(second, {100, 70, 175, 100}, Rgb(before)));
    EXPECT_TRUE(AreaIs(second, {250, 0, 350, 100}, 0xFFFFFF));
}

TEST_F(ControlHostTest, PartialRepaintThroughTheRecordingBufferKeepsTheRest)
{
    CPaintRecorder& recorder = PaintRecorder();
    ASSERT_TRUE(recorder.m_module);
    CUxThemeSwap swap(recorder.m_module);
    Attach();
    KillTimer(m_host.m_hWnd, 1);
    ExpectPartialRepaintKeepsTheRest(m_control, m_host);
}

TEST_F(ControlHostTest, PartialRepaintThroughWinesUxThemeKeepsTheRest)
{
    HMODULE uxTheme = LoadLibraryW(L"uxtheme.dll");
    ASSERT_TRUE(uxTheme);
    CUxThemeSwap swap(uxTheme);
    Attach();
    KillTimer(m_host.m_hWnd, 1);
    ExpectPartialRepaintKeepsTheRest(m_control, m_host);
    FreeLibrary(uxTheme);
}

TEST_F(ControlHostTest, WithoutAViewObjectThePanelIsBlackAndErasedByTheClassBrush)
{
    CPaintRecorder& recorder = PaintRecorder();
    CUxThemeSwap swap(recorder.m_module);
    m_control.m_offersViewObject = false;
    for (bool attached : {false, true}) {
        SCOPED_TRACE(attached);
        if (attached)
            Attach();
        recorder.Reset();
        Repaint(nullptr);
        EXPECT_TRUE(AreaIs(ReadClientPixels(m_host.m_hWnd), kPanelRect, 0x000000));
        EXPECT_TRUE(recorder.Calls().empty());
        EXPECT_EQ(0, m_control.m_drawCalls);

        // Erasing falls to the class brush, COLOR_WINDOW.
        CPixels erased;
        HDC screen = GetDC(nullptr);
        HDC memoryDC = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, 350, 100);
        HGDIOBJ old = SelectObject(memoryDC, bitmap);
        PatBlt(memoryDC, 0, 0, 350, 100, BLACKNESS);
        EXPECT_NE(0, SendMessageW(m_host.m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memoryDC), 0));
        EXPECT_EQ(GetSysColor(COLOR_WINDOW), GetPixel(memoryDC, 200, 50));
        SelectObject(memoryDC, old);
        DeleteObject(bitmap);
        DeleteDC(memoryDC);
        ReleaseDC(nullptr, screen);
    }
}

TEST_F(ControlHostTest, WithAViewObjectErasingTouchesNothing)
{
    Attach();
    HDC screen = GetDC(nullptr);
    HDC memoryDC = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 350, 100);
    HGDIOBJ old = SelectObject(memoryDC, bitmap);
    PatBlt(memoryDC, 0, 0, 350, 100, BLACKNESS);
    EXPECT_EQ(1, SendMessageW(m_host.m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memoryDC), 0));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(memoryDC, 200, 50));
    SelectObject(memoryDC, old);
    DeleteObject(bitmap);
    DeleteDC(memoryDC);
    ReleaseDC(nullptr, screen);
}

TEST_F(ControlHostTest, WithoutBufferedPaintNothingIsDrawnAndThePaintStillEnds)
{
    // No uxtheme module at all, and a module without the three functions.
    for (HMODULE module : {HMODULE(nullptr), GetModuleHandleW(nullptr)}) {
        SCOPED_TRACE(module ? "module without the functions" : "no module");
        CUxThemeSwap swap(module);
        if (!m_host.m_oleObject) {
            Attach();
            KillTimer(m_host.m_hWnd, 1);
        }
        UpdateWindow(m_host.m_hWnd);
        m_control.m_drawCalls = 0;
        InvalidateRect(m_host.m_hWnd, nullptr, TRUE);
        UpdateWindow(m_host.m_hWnd);
        EXPECT_EQ(0, m_control.m_drawCalls);
        const RECT pending = UpdateRectOf(m_host.m_hWnd);
        EXPECT_TRUE(IsRectEmpty(&pending));
    }
}

// --- The stand-in WebBrowser in the host ------------------------------------------------------------

TEST(ControlHostStandInTest, StandInActivatesInPlaceHiddenAndIsPaintedThroughItsViewObject)
{
    CStandIn& standIn = StandIn();
    ASSERT_TRUE(standIn.IsLoaded());
    CPaintRecorder& recorder = PaintRecorder();
    ASSERT_TRUE(recorder.m_module);
    CBrowserClass browserClass(EBrowser::StandIn);
    ASSERT_TRUE(browserClass.IsRegistered());
    const LONG liveBefore = standIn.Count(WBSTANDIN_LIVE_OBJECTS);
    LONG drawsBefore = 0;
    CParentWindow& parent = SharedParent();
    {
        CControlHostWnd host;
        ASSERT_TRUE(host.Create(parent.m_hWnd, kPanelRect, L"", WS_CHILD | WS_VISIBLE));
        {
            CComPtr<IOleObject> browser;
            ASSERT_EQ(S_OK, CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                             browser.ReceiveVoid()));
            host.AttachControl(browser.Get());
        }
        KillTimer(host.m_hWnd, 1);
        ASSERT_TRUE(host.m_inPlaceObject);
        ASSERT_TRUE(host.m_viewObject);
        HWND browserWindow = nullptr;
        ASSERT_EQ(S_OK, host.m_inPlaceObject->GetWindow(&browserWindow));
        EXPECT_EQ(host.m_hWnd, GetParent(browserWindow));
        EXPECT_FALSE(IsWindowVisible(browserWindow));
        RECT placed = {};
        GetWindowRect(browserWindow, &placed);
        MapWindowPoints(nullptr, host.m_hWnd, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_TRUE(SameRect(kPanelRect, placed));

        // Sizing reaches the control: its extent in HIMETRIC and its window's place.
        MoveWindow(host.m_hWnd, 0, 0, 200, 60, FALSE);
        SIZEL extent = {};
        ASSERT_TRUE(host.m_oleObject);
        EXPECT_EQ(S_OK, host.m_oleObject->GetExtent(DVASPECT_CONTENT, &extent));
        EXPECT_EQ(5292, extent.cx);
        EXPECT_EQ(1588, extent.cy);
        GetWindowRect(browserWindow, &placed);
        MapWindowPoints(nullptr, host.m_hWnd, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_TRUE(SameRect({0, 0, 200, 60}, placed));
        MoveWindow(host.m_hWnd, 0, 0, 350, 100, FALSE);
        EXPECT_EQ(S_OK, host.m_oleObject->GetExtent(DVASPECT_CONTENT, &extent));
        EXPECT_EQ(9260, extent.cx);
        EXPECT_EQ(2646, extent.cy);
        EXPECT_FALSE(IsWindowVisible(browserWindow));

        // Its blank page, painted by the host: white, every pixel opaque.
        {
            CUxThemeSwap swap(recorder.m_module);
            UpdateWindow(host.m_hWnd);
            recorder.Reset();
            drawsBefore = standIn.Count(WBSTANDIN_DRAWS);
            InvalidateRect(host.m_hWnd, nullptr, TRUE);
            UpdateWindow(host.m_hWnd);
        }
        EXPECT_EQ(drawsBefore + 1, standIn.Count(WBSTANDIN_DRAWS));
        const std::vector<CPaintCall> calls = recorder.Calls();
        ASSERT_EQ(4u, calls.size());
        EXPECT_EQ(PAINT_CALL_BEGIN, calls[0].kind);
        EXPECT_TRUE(SameRect(kPanelRect, calls[0].rect));
        EXPECT_EQ(PAINT_CALL_SET_ALPHA, calls[1].kind);
        EXPECT_EQ(PAINT_CALL_SET_ALPHA, calls[2].kind);
        EXPECT_EQ(255, calls[2].alpha);
        EXPECT_EQ(PAINT_CALL_END, calls[3].kind);
        int width = 0, height = 0;
        const std::vector<DWORD> pixels = recorder.LastBuffer(width, height);
        ASSERT_EQ(350 * 100, static_cast<int>(pixels.size()));
        EXPECT_EQ(pixels.size(), static_cast<size_t>(std::count(pixels.begin(), pixels.end(), 0xFFFFFFFF)));

        // The panel's end destroys the browser's window.
        DestroyWindow(host.m_hWnd);
        EXPECT_FALSE(IsWindow(browserWindow));
    }
    // With the host's references gone the control goes, and with it its references on the site.
    EXPECT_EQ(liveBefore, standIn.Count(WBSTANDIN_LIVE_OBJECTS));
}

TEST(ControlHostStandInTest, BrowserThatOutlivesItsPanelHoldsNothingOfTheSite)
{
    CStandIn& standIn = StandIn();
    ASSERT_TRUE(standIn.IsLoaded());
    CBrowserClass browserClass(EBrowser::StandIn);
    ASSERT_TRUE(browserClass.IsRegistered());
    const LONG liveBefore = standIn.Count(WBSTANDIN_LIVE_OBJECTS);
    const LONG referencesBefore = standIn.Count(WBSTANDIN_REFERENCES);
    CParentWindow& parent = SharedParent();
    // Another holder of the browser, as the running lock is on Windows: the browser outlives
    // the host's references and must not keep the site's.
    CComPtr<IOleObject> browser;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                     browser.ReceiveVoid()));
    {
        CControlHostWnd host;
        ASSERT_TRUE(host.Create(parent.m_hWnd, kPanelRect, L"", WS_CHILD | WS_VISIBLE));
        const LONG siteRefsBefore = host.m_refCount;
        host.AttachControl(browser.Get());
        HWND browserWindow = nullptr;
        ASSERT_TRUE(host.m_inPlaceObject);
        ASSERT_EQ(S_OK, host.m_inPlaceObject->GetWindow(&browserWindow));
        // Client site, in-place site and frame.
        EXPECT_EQ(siteRefsBefore + 3, host.m_refCount);

        DestroyWindow(host.m_hWnd);
        EXPECT_FALSE(IsWindow(browserWindow));
        EXPECT_EQ(siteRefsBefore, host.m_refCount);
        IOleClientSite* site = reinterpret_cast<IOleClientSite*>(0x77);
        EXPECT_EQ(S_OK, browser->GetClientSite(&site));
        EXPECT_EQ(nullptr, site);
        // Out of place: it names no window any more.
        HWND window = reinterpret_cast<HWND>(0x77);
        EXPECT_NE(S_OK, host.m_inPlaceObject->GetWindow(&window));
    }
    // The host is gone; the browser lives on without a site, and goes with its last reference.
    EXPECT_GT(standIn.Count(WBSTANDIN_LIVE_OBJECTS), liveBefore);
    IOleClientSite* site = reinterpret_cast<IOleClientSite*>(0x77);
    EXPECT_EQ(S_OK, browser->GetClientSite(&site));
    EXPECT_EQ(nullptr, site);
    browser.Release();
    EXPECT_EQ(liveBefore, standIn.Count(WBSTANDIN_LIVE_OBJECTS));
    EXPECT_EQ(referencesBefore, standIn.Count(WBSTANDIN_REFERENCES));
}

}  // namespace
