#include "controlhost.h"

#include <uxtheme.h>

#include "hookstate.h"

namespace {

constexpr UINT_PTR REPAINT_TIMER_ID = 1;
constexpr UINT REPAINT_INTERVAL_MS = 50;
constexpr int HIMETRIC_PER_INCH = 2540;

// The buffered-paint functions of uxtheme.dll, resolved by name at each use: the module is
// loaded at run time, and Windows without them must still work (nothing is drawn then).
using BeginBufferedPaintFn = HPAINTBUFFER(WINAPI*)(HDC, const RECT*, BP_BUFFERFORMAT, BP_PAINTPARAMS*, HDC*);
using BufferedPaintSetAlphaFn = HRESULT(WINAPI*)(HPAINTBUFFER, const RECT*, BYTE);
using EndBufferedPaintFn = HRESULT(WINAPI*)(HPAINTBUFFER, BOOL);

template <class TFunction>
TFunction UxThemeFunction(const char* name) noexcept
{
    if (!g_hUxTheme)
        return nullptr;
    return reinterpret_cast<TFunction>(GetProcAddress(g_hUxTheme, name));
}

void SetBufferAlpha(HPAINTBUFFER buffer, const RECT& rect, BYTE alpha) noexcept
{
    if (auto setAlpha = UxThemeFunction<BufferedPaintSetAlphaFn>("BufferedPaintSetAlpha"))
        setAlpha(buffer, &rect, alpha);
}

bool IsForwardedToControl(UINT message) noexcept
{
    // WM_SYSCHAR and WM_MOUSEWHEEL lie just outside these ranges on purpose: the shell keeps them.
    return message == WM_CANCELMODE || message == WM_HELP ||
           (message >= WM_KEYDOWN && message <= WM_SYSKEYUP) || message == WM_SYSDEADCHAR ||
           (message >= WM_MOUSEMOVE && message <= WM_MBUTTONDBLCLK) ||
           (message >= WM_IME_SETCONTEXT && message <= WM_IME_KEYUP);
}

}  // namespace

CControlHostWnd::~CControlHostWnd()
{
    // Normally WM_DESTROY has ended the session already. When the window never existed or
    // outlives this object, the control must still let go of a site that is about to vanish.
    EndControlSession();
    ReleaseControl();
    // The base class then frees the window procedure stub.
}

void CControlHostWnd::ReleaseControl() noexcept
{
    // The in-place object and the view object belong to the control: let go of them before the
    // control itself, so that the control's last reference goes last.
    m_inPlaceObject.Release();
    m_viewObject.Release();
    m_oleObject.Release();
}

void CControlHostWnd::AttachControl(IOleObject* control) noexcept
{
    if (!control)
        return;
    m_posRect = {};
    ::GetClientRect(m_hWnd, &m_posRect);
    // Our own reference first: the caller's control may be the one held now.
    control->AddRef();
    // Nothing of an earlier control may stay behind: it would keep this site and its running
    // lock, its in-place object would be placed and hidden, and its view object drawn, as if it
    // belonged to the new one.
    EndControlSession();
    ReleaseControl();
    m_oleObject.Attach(control);
    // From here on the control holds this site, so its session has to be ended.
    m_sessionOpen = true;
    m_oleObject->SetClientSite(ClientSite());
    OleSetContainedObject(m_oleObject.Get(), TRUE);
    m_oleObject->QueryInterface(IID_IViewObject, m_viewObject.ReceiveVoid());
    // The control calls back into the site while this runs; OnInPlaceActivate takes its
    // in-place object.
    m_oleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, ClientSite(), -1, nullptr, &m_posRect);
    if (m_inPlaceObject) {
        m_inPlaceObject->SetObjectRects(&m_posRect, &m_posRect);
        if (HWND controlWindow = ControlWindow())
            ::ShowWindow(controlWindow, SW_HIDE);
    }
    // Without a window SetTimer would make a thread timer that nothing ever kills.
    if (m_hWnd)
        ::SetTimer(m_hWnd, REPAINT_TIMER_ID, REPAINT_INTERVAL_MS, nullptr);
}

HWND CControlHostWnd::ControlWindow() noexcept
{
    HWND controlWindow = nullptr;
    if (!m_inPlaceObject || FAILED(m_inPlaceObject->GetWindow(&controlWindow)))
        return nullptr;
    return controlWindow;
}

LRESULT CControlHostWnd::ForwardToControl(UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    // The control's window lies exactly under the panel, so mouse coordinates need no change.
    HWND controlWindow = ControlWindow();
    if (!controlWindow)
        return 0;
    return ::SendMessageW(controlWindow, message, wParam, lParam);
}

BOOL CControlHostWnd::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                           LRESULT& result)
{
    switch (message) {
    case WM_DESTROY:
        OnDestroy();
        result = 0;
        return TRUE;
    case WM_SIZE:
        OnSize(lParam);
        return FALSE;
    case WM_PAINT:
        result = OnPaint();
        return TRUE;
    case WM_ERASEBKGND:
        // The control paints every pixel; erasing would only make it flicker. Without one,
        // the class brush erases.
        if (!m_viewObject)
            return FALSE;
        result = 1;
        return TRUE;
    case WM_TIMER:
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
        result = 0;
        return TRUE;
    default:
        if (!IsForwardedToControl(message))
            return FALSE;
        result = ForwardToControl(message, wParam, lParam);
        return TRUE;
    }
}

void CControlHostWnd::OnDestroy() noexcept
{
    // The panel is re-created whenever the Start Menu's colours change, so each control has to
    // end with its panel: one left running would stay in the shell for good, still able to call
    // a site whose code leaves with the library. The interfaces stay held until the next
    // control or the end of this object.
    EndControlSession();
}

// Takes the control out of this site in the order OLE prescribes for a container. Every step
// is one a control accepts after it already took it itself, or after its window was destroyed
// by someone else: only its object, which our references keep, is called.
void CControlHostWnd::EndControlSession() noexcept
{
    // Cleared before anything is called: the control calls back into the site while it shuts
    // down, and a WM_DESTROY or AttachControl reached from there must find nothing left to end.
    if (!m_sessionOpen)
        return;
    m_sessionOpen = false;
    // Our own references for the duration: a call re-entered from the control may replace the
    // fields, and the object must not go while it is being shut down.
    CComPtr<IOleObject> control;
    control.Assign(m_oleObject.Get());
    CComPtr<IOleInPlaceObject> inPlace;
    inPlace.Assign(m_inPlaceObject.Get());

    // Asked for first: once deactivated, the control no longer names its window.
    const HWND controlWindow = ControlWindow();
    // Deactivation while the panel still exists: the control takes its window down and calls
    // OnInPlaceDeactivate, which may also invalidate or ask for the panel window.
    if (inPlace)
        inPlace->InPlaceDeactivate();
    // A control that kept its window loses it here. Only while the handle is still one of the
    // panel's windows: once freed it may already name a window of someone else.
    if (controlWindow && ::IsWindow(controlWindow) && ::IsChild(m_hWnd, controlWindow))
        ::DestroyWindow(controlWindow);
    if (control) {
        // Back to the loaded state; nothing of the page is worth saving.
        control->Close(OLECLOSE_NOSAVE);
        // The control lets go of the site: nothing may call into it after the library unloads.
        control->SetClientSite(nullptr);
    }
    // Last, the lock of OnInPlaceActivate: it alone would keep the control running after every
    // other reference is gone. Our own references keep the object alive through the call.
    if (m_lockedRunning) {
        m_lockedRunning = false;
        if (control)
            OleLockRunning(control.Get(), FALSE, FALSE);
    }
}

void CControlHostWnd::OnSize(LPARAM lParam) noexcept
{
    const int width = static_cast<short>(LOWORD(lParam));
    const int height = static_cast<short>(HIWORD(lParam));
    m_posRect.right = m_posRect.left + width;
    m_posRect.bottom = m_posRect.top + height;
    m_extentPixels.cx = m_posRect.right - m_posRect.left;
    m_extentPixels.cy = m_posRect.bottom - m_posRect.top;

    HDC screen = ::GetDC(nullptr);
    const int dpiX = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    const int dpiY = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen)
        ::ReleaseDC(nullptr, screen);
    // MulDiv answers -1 for a zero divisor, which SetExtent then refuses.
    m_extentHimetric.cx = MulDiv(HIMETRIC_PER_INCH, m_extentPixels.cx, dpiX);
    m_extentHimetric.cy = MulDiv(HIMETRIC_PER_INCH, m_extentPixels.cy, dpiY);

    if (m_oleObject)
        m_oleObject->SetExtent(DVASPECT_CONTENT, &m_extentHimetric);
    if (m_inPlaceObject)
        m_inPlaceObject->SetObjectRects(&m_posRect, &m_posRect);
    InvalidateRect(nullptr, TRUE);
}

LRESULT CControlHostWnd::OnPaint() noexcept
{
    PAINTSTRUCT paint = {};
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    if (!m_viewObject) {
        if (!dc)
            return 0;
        RECT client = {};
        ::GetClientRect(m_hWnd, &client);
        if (HBRUSH black = ::CreateSolidBrush(RGB(0, 0, 0))) {
            ::FillRect(dc, &client, black);
            ::DeleteObject(black);
        }
        ::EndPaint(m_hWnd, &paint);
        return 1;
    }
    if (dc)
        PaintControl(dc, paint.rcPaint);
    ::EndPaint(m_hWnd, &paint);
    return 1;
}

void CControlHostWnd::PaintControl(HDC target, const RECT& updateRect) noexcept
{
    auto beginBufferedPaint = UxThemeFunction<BeginBufferedPaintFn>("BeginBufferedPaint");
    if (!beginBufferedPaint)
        return;
    HDC paintDC = nullptr;
    HPAINTBUFFER buffer = beginBufferedPaint(target, &updateRect, BPBF_TOPDOWNDIB, nullptr, &paintDC);
    if (!paintDC)
        return;

    // The buffer covers only the update rectangle, so naming the whole panel touches just that.
    RECT window = {};
    ::GetWindowRect(m_hWnd, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const RECT panel = {0, 0, width, height};

    ::PatBlt(paintDC, 0, 0, width, height, BLACKNESS);
    SetBufferAlpha(buffer, panel, 0);
    ::PatBlt(paintDC, 0, 0, width, height, WHITENESS);
    m_viewObject->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, paintDC,
                       reinterpret_cast<LPCRECTL>(&m_posRect), reinterpret_cast<LPCRECTL>(&m_posRect), nullptr, 0);
    // Whatever the control left transparent would let the glass through: every pixel opaque.
    SetBufferAlpha(buffer, updateRect, 255);
    if (auto endBufferedPaint = UxThemeFunction<EndBufferedPaintFn>("EndBufferedPaint"))
        endBufferedPaint(buffer, TRUE);
}

// IUnknown

STDMETHODIMP CControlHostWnd::QueryInterface(REFIID iid, void** object) noexcept
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
        *object = static_cast<IOleClientSite*>(this);
    else if (IsEqualIID(iid, IID_IOleInPlaceSite) || IsEqualIID(iid, IID_IOleInPlaceSiteEx) ||
             IsEqualIID(iid, IID_IOleInPlaceSiteWindowless))
        *object = static_cast<IOleInPlaceSiteWindowless*>(this);
    else if (IsEqualIID(iid, IID_IOleInPlaceFrame))
        *object = static_cast<IOleInPlaceFrame*>(this);
    else if (IsEqualIID(iid, IID_IStorage))
        *object = static_cast<IStorage*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ++m_refCount;
    return S_OK;
}

STDMETHODIMP_(ULONG) CControlHostWnd::AddRef() noexcept
{
    return static_cast<ULONG>(++m_refCount);
}

STDMETHODIMP_(ULONG) CControlHostWnd::Release() noexcept
{
    return static_cast<ULONG>(--m_refCount);
}

// IOleClientSite

STDMETHODIMP CControlHostWnd::SaveObject() noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::GetMoniker(DWORD, DWORD, IMoniker**) noexcept { return E_NOTIMPL; }

STDMETHODIMP CControlHostWnd::GetContainer(IOleContainer** container) noexcept
{
    if (container)
        *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CControlHostWnd::ShowObject() noexcept { return S_OK; }
STDMETHODIMP CControlHostWnd::OnShowWindow(BOOL) noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::RequestNewObjectLayout() noexcept { return E_NOTIMPL; }

// IOleWindow

STDMETHODIMP CControlHostWnd::GetWindow(HWND* window) noexcept
{
    if (!window)
        return E_POINTER;
    *window = m_hWnd;
    return S_OK;
}

STDMETHODIMP CControlHostWnd::ContextSensitiveHelp(BOOL) noexcept { return E_NOTIMPL; }

// IOleInPlaceSite

STDMETHODIMP CControlHostWnd::CanInPlaceActivate() noexcept { return S_OK; }

STDMETHODIMP CControlHostWnd::OnInPlaceActivate() noexcept
{
    if (!m_oleObject)
        return S_OK;
    // One lock per session, taken only while the session is open and kept track of, because
    // its end gives back exactly one; a failed lock is not given back.
    if (m_sessionOpen && !m_lockedRunning)
        m_lockedRunning = SUCCEEDED(OleLockRunning(m_oleObject.Get(), TRUE, FALSE));
    m_oleObject->QueryInterface(IID_IOleInPlaceObject, m_inPlaceObject.ReceiveVoid());
    return S_OK;
}

STDMETHODIMP CControlHostWnd::OnUIActivate() noexcept { return S_OK; }

STDMETHODIMP CControlHostWnd::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                               LPRECT posRect, LPRECT clipRect,
                                               LPOLEINPLACEFRAMEINFO frameInfo) noexcept
{
    if (frame) {
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
    }
    if (document)
        *document = nullptr;
    if (posRect)
        ::GetClientRect(m_hWnd, posRect);
    if (clipRect)
        ::GetClientRect(m_hWnd, clipRect);
    if (frameInfo) {
        // cb stays as the caller set it.
        frameInfo->fMDIApp = FALSE;
        frameInfo->hwndFrame = m_hWnd;
        frameInfo->haccel = nullptr;
        frameInfo->cAccelEntries = 0;
    }
    return S_OK;
}

STDMETHODIMP CControlHostWnd::Scroll(SIZE) noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::OnUIDeactivate(BOOL) noexcept { return S_OK; }
STDMETHODIMP CControlHostWnd::OnInPlaceDeactivate() noexcept { return S_OK; }
STDMETHODIMP CControlHostWnd::DiscardUndoState() noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::DeactivateAndUndo() noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::OnPosRectChange(LPCRECT) noexcept { return S_OK; }

// IOleInPlaceSiteEx

STDMETHODIMP CControlHostWnd::OnInPlaceActivateEx(BOOL* noRedraw, DWORD) noexcept
{
    if (noRedraw)
        *noRedraw = TRUE;
    return S_OK;
}

STDMETHODIMP CControlHostWnd::OnInPlaceDeactivateEx(BOOL) noexcept { return S_FALSE; }
STDMETHODIMP CControlHostWnd::RequestUIActivate() noexcept { return S_FALSE; }

// IOleInPlaceSiteWindowless

STDMETHODIMP CControlHostWnd::CanWindowlessActivate() noexcept { return S_OK; }
STDMETHODIMP CControlHostWnd::GetCapture() noexcept { return S_FALSE; }
STDMETHODIMP CControlHostWnd::SetCapture(BOOL) noexcept { return S_FALSE; }
STDMETHODIMP CControlHostWnd::GetFocus() noexcept { return S_OK; }
STDMETHODIMP CControlHostWnd::SetFocus(BOOL) noexcept { return S_OK; }
STDMETHODIMP CControlHostWnd::GetDC(LPCRECT, DWORD, HDC*) noexcept { return S_FALSE; }
STDMETHODIMP CControlHostWnd::ReleaseDC(HDC) noexcept { return S_FALSE; }

void CControlHostWnd::InvalidatePanel(BOOL erase) noexcept
{
    // Without a panel there is nothing to repaint: InvalidateRect of no window would repaint
    // every window of the desktop.
    if (m_hWnd)
        ::InvalidateRect(m_hWnd, nullptr, erase);
}

STDMETHODIMP CControlHostWnd::InvalidateRect(LPCRECT, BOOL erase) noexcept
{
    InvalidatePanel(erase);
    return S_OK;
}

STDMETHODIMP CControlHostWnd::InvalidateRgn(HRGN, BOOL erase) noexcept
{
    InvalidatePanel(erase);
    return S_OK;
}

STDMETHODIMP CControlHostWnd::ScrollRect(INT, INT, LPCRECT, LPCRECT) noexcept { return S_FALSE; }
STDMETHODIMP CControlHostWnd::AdjustRect(LPRECT) noexcept { return S_FALSE; }
STDMETHODIMP CControlHostWnd::OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) noexcept { return S_FALSE; }

// IOleInPlaceUIWindow

STDMETHODIMP CControlHostWnd::GetBorder(LPRECT) noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::RequestBorderSpace(LPCBORDERWIDTHS) noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::SetBorderSpace(LPCBORDERWIDTHS) noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) noexcept { return S_OK; }

// IOleInPlaceFrame

STDMETHODIMP CControlHostWnd::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::SetMenu(HMENU, HOLEMENU, HWND) noexcept { return S_OK; }
STDMETHODIMP CControlHostWnd::RemoveMenus(HMENU) noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::SetStatusText(LPCOLESTR) noexcept { return S_OK; }
STDMETHODIMP CControlHostWnd::EnableModeless(BOOL) noexcept { return S_OK; }
STDMETHODIMP CControlHostWnd::TranslateAccelerator(LPMSG, WORD) noexcept { return E_NOTIMPL; }

// IStorage

STDMETHODIMP CControlHostWnd::CreateStream(const OLECHAR*, DWORD, DWORD, DWORD, IStream**) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP CControlHostWnd::OpenStream(const OLECHAR*, void*, DWORD, DWORD, IStream**) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP CControlHostWnd::CreateStorage(const OLECHAR*, DWORD, DWORD, DWORD, IStorage**) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP CControlHostWnd::OpenStorage(const OLECHAR*, IStorage*, DWORD, SNB, DWORD, IStorage**) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP CControlHostWnd::CopyTo(DWORD, const IID*, SNB, IStorage*) noexcept { return E_NOTIMPL; }

STDMETHODIMP CControlHostWnd::MoveElementTo(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP CControlHostWnd::Commit(DWORD) noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::Revert() noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::EnumElements(DWORD, void*, DWORD, IEnumSTATSTG**) noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::DestroyElement(const OLECHAR*) noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::RenameElement(const OLECHAR*, const OLECHAR*) noexcept { return E_NOTIMPL; }

STDMETHODIMP CControlHostWnd::SetElementTimes(const OLECHAR*, const FILETIME*, const FILETIME*,
                                              const FILETIME*) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP CControlHostWnd::SetClass(REFCLSID) noexcept { return S_OK; }
STDMETHODIMP CControlHostWnd::SetStateBits(DWORD, DWORD) noexcept { return E_NOTIMPL; }
STDMETHODIMP CControlHostWnd::Stat(STATSTG*, DWORD) noexcept { return E_NOTIMPL; }
