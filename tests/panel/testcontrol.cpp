#include "testcontrol.h"

namespace {

const WCHAR CONTROL_WINDOW_CLASS[] = L"TallyTestControlWindow";

void RegisterControlWindowClass(WNDPROC procedure)
{
    static ATOM atom = 0;
    if (atom)
        return;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = CONTROL_WINDOW_CLASS;
    atom = RegisterClassW(&wc);
}

}  // namespace

CTestControl::CTestControl() : m_ole(this), m_view(this), m_inPlace(this), m_runnable(this) {}

void CTestControl::Logged(const std::string& entry)
{
    m_log.push_back(entry);
    if (m_onCall)
        m_onCall(entry);
}

STDMETHODIMP CTestControl::CRunnablePart::LockRunning(BOOL lock, BOOL lastUnlockCloses)
{
    m_owner->Logged(std::string("LockRunning:") + (lock ? "1" : "0") + (lastUnlockCloses ? "1" : "0"));
    return m_owner->m_lockRunningResult;
}

STDMETHODIMP CTestControl::CRunnablePart::SetContainedObject(BOOL contained)
{
    m_owner->m_log.push_back(std::string("SetContainedObject:") + (contained ? "1" : "0"));
    return S_OK;
}

CTestControl::~CTestControl()
{
    if (m_window && IsWindow(m_window))
        DestroyWindow(m_window);
    IOleClientSite* site = m_site;
    m_site = nullptr;
    if (site)
        site->Release();
}

HRESULT CTestControl::Query(REFIID iid, void** object)
{
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleObject))
        *object = static_cast<IOleObject*>(&m_ole);
    else if (IsEqualIID(iid, IID_IViewObject) && m_offersViewObject)
        *object = static_cast<IViewObject*>(&m_view);
    else if (IsEqualIID(iid, IID_IOleInPlaceObject) || IsEqualIID(iid, IID_IOleWindow))
        *object = static_cast<IOleInPlaceObject*>(&m_inPlace);
    else if (IsEqualIID(iid, IID_IRunnableObject))
        *object = static_cast<IRunnableObject*>(&m_runnable);
    else
        return E_NOINTERFACE;
    static_cast<IUnknown*>(*object)->AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CTestControl::COlePart::AddRef()
{
    ++m_owner->m_oleRefs;
    return ++m_owner->m_refs;
}

STDMETHODIMP_(ULONG) CTestControl::COlePart::Release()
{
    m_owner->m_log.push_back("release:ole");
    --m_owner->m_oleRefs;
    return --m_owner->m_refs;
}

STDMETHODIMP CTestControl::COlePart::SetClientSite(IOleClientSite* site)
{
    m_owner->Logged(site ? "SetClientSite" : "SetClientSite:null");
    if (site)
        site->AddRef();
    IOleClientSite* previous = m_owner->m_site;
    m_owner->m_site = site;
    if (previous)
        previous->Release();
    return S_OK;
}

STDMETHODIMP CTestControl::COlePart::Close(DWORD saveOption)
{
    m_owner->Logged("Close:" + std::to_string(saveOption));
    return S_OK;
}

STDMETHODIMP CTestControl::COlePart::GetClientSite(IOleClientSite** site)
{
    *site = m_owner->m_site;
    if (*site)
        (*site)->AddRef();
    return S_OK;
}

STDMETHODIMP CTestControl::COlePart::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG index,
                                            HWND parent, LPCRECT posRect)
{
    m_owner->m_log.push_back("DoVerb");
    m_owner->m_doVerbVerb = verb;
    m_owner->m_doVerbIndex = index;
    m_owner->m_doVerbParent = parent;
    if (posRect)
        m_owner->m_doVerbRect = *posRect;
    if (verb == OLEIVERB_INPLACEACTIVATE && m_owner->m_activatesInPlace)
        m_owner->Activate(activeSite);
    return S_OK;
}

void CTestControl::Activate(IOleClientSite* activeSite)
{
    if (!activeSite)
        return;
    IOleInPlaceSite* site = nullptr;
    if (FAILED(activeSite->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))) || !site)
        return;
    m_canActivateResult = site->CanInPlaceActivate();
    m_log.push_back("CanInPlaceActivate");
    m_onActivateResult = site->OnInPlaceActivate();
    m_log.push_back("OnInPlaceActivate");
    m_inPlaceActive = true;
    site->GetWindow(&m_siteWindow);

    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(1);
    m_frameInfo = {};
    m_frameInfo.cb = sizeof(m_frameInfo);
    m_frameInfo.haccel = reinterpret_cast<HACCEL>(1);
    m_frameInfo.cAccelEntries = 99;
    m_contextResult = site->GetWindowContext(&frame, &document, &m_contextPos, &m_contextClip, &m_frameInfo);
    m_log.push_back("GetWindowContext");
    m_frameGiven = frame != nullptr;
    m_documentGiven = document != nullptr;
    if (frame)
        frame->Release();

    RegisterControlWindowClass(&WindowProc);
    m_window = CreateWindowExW(0, CONTROL_WINDOW_CLASS, L"", WS_CHILD | WS_VISIBLE, m_contextPos.left,
                               m_contextPos.top, m_contextPos.right - m_contextPos.left,
                               m_contextPos.bottom - m_contextPos.top, m_siteWindow, nullptr,
                               GetModuleHandleW(nullptr), this);
    site->Release();
}

// As a windowed control deactivates: its window goes, and the site hears of it last. On the
// way it asks the site for its window and has it repainted, as a control may.
void CTestControl::Deactivate()
{
    if (!m_inPlaceActive)
        return;
    m_inPlaceActive = false;
    if (m_destroysWindowOnDeactivate && m_window && IsWindow(m_window))
        DestroyWindow(m_window);
    if (!m_site)
        return;
    IOleInPlaceSiteWindowless* site = nullptr;
    if (FAILED(m_site->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&site))) || !site)
        return;
    HWND siteWindow = nullptr;
    site->GetWindow(&siteWindow);
    site->InvalidateRect(nullptr, FALSE);
    site->OnInPlaceDeactivate();
    m_log.push_back("OnInPlaceDeactivate");
    site->Release();
}

STDMETHODIMP CTestControl::CInPlacePart::InPlaceDeactivate()
{
    m_owner->Logged("InPlaceDeactivate");
    m_owner->Deactivate();
    return S_OK;
}

STDMETHODIMP CTestControl::COlePart::SetExtent(DWORD aspect, SIZEL* extent)
{
    m_owner->m_log.push_back("SetExtent");
    m_owner->m_extentAspect = aspect;
    if (extent)
        m_owner->m_extent = *extent;
    return S_OK;
}

STDMETHODIMP CTestControl::COlePart::GetMiscStatus(DWORD, DWORD* status)
{
    *status = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE;
    return S_OK;
}

STDMETHODIMP_(ULONG) CTestControl::CViewPart::AddRef()
{
    ++m_owner->m_viewRefs;
    return ++m_owner->m_refs;
}

STDMETHODIMP_(ULONG) CTestControl::CViewPart::Release()
{
    m_owner->m_log.push_back("release:view");
    --m_owner->m_viewRefs;
    return --m_owner->m_refs;
}

STDMETHODIMP CTestControl::CViewPart::Draw(DWORD aspect, LONG index, void*, DVTARGETDEVICE*, HDC, HDC dc,
                                           LPCRECTL bounds, LPCRECTL windowBounds,
                                           BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR)
{
    CTestControl& owner = *m_owner;
    if (owner.m_onDraw)
        owner.m_onDraw(owner.m_drawCalls);
    ++owner.m_drawCalls;
    owner.m_drawAspect = aspect;
    owner.m_drawIndex = index;
    owner.m_drawDC = dc;
    owner.m_drawWindowBoundsGiven = windowBounds != nullptr;
    if (windowBounds)
        owner.m_drawWindowBounds = *windowBounds;
    if (!bounds)
        return E_INVALIDARG;
    owner.m_drawBounds = *bounds;
    RECT area = {bounds->left, bounds->top, bounds->left + (bounds->right - bounds->left) * owner.m_drawPercent / 100,
                 bounds->bottom};
    HBRUSH brush = CreateSolidBrush(owner.m_color);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
    return S_OK;
}

STDMETHODIMP_(ULONG) CTestControl::CInPlacePart::AddRef()
{
    ++m_owner->m_inPlaceRefs;
    return ++m_owner->m_refs;
}

STDMETHODIMP_(ULONG) CTestControl::CInPlacePart::Release()
{
    m_owner->m_log.push_back("release:inplace");
    --m_owner->m_inPlaceRefs;
    return --m_owner->m_refs;
}

STDMETHODIMP CTestControl::CInPlacePart::GetWindow(HWND* window)
{
    *window = m_owner->m_window;
    return m_owner->m_window ? S_OK : E_FAIL;
}

STDMETHODIMP CTestControl::CInPlacePart::SetObjectRects(LPCRECT pos, LPCRECT clip)
{
    m_owner->m_log.push_back("SetObjectRects");
    ++m_owner->m_setObjectRectsCalls;
    m_owner->m_objectPos = *pos;
    m_owner->m_objectClip = *clip;
    if (m_owner->m_window)
        MoveWindow(m_owner->m_window, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, FALSE);
    return S_OK;
}

LRESULT CALLBACK CTestControl::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<CTestControl*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    const bool input = (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
                       (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) || message == WM_CANCELMODE ||
                       message == WM_HELP || (message >= WM_IME_SETCONTEXT && message <= WM_IME_KEYUP) ||
                       message >= WM_USER;
    if (self && input) {
        self->m_messages.push_back({message, wParam, lParam});
        return AnswerFor(message);
    }
    if (self && message == WM_NCDESTROY && self->m_window == hWnd) {
        self->m_window = nullptr;
        self->m_log.push_back("window:destroyed");
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}
