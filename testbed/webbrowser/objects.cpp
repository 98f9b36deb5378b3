#include "objects.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "script.h"
#include "support/hresult.h"

namespace {

const wchar_t kWindowClass[] = L"TallyWebBrowserStandinWindow";
HINSTANCE g_windowClassInstance = nullptr;

template <class T>
HRESULT ReturnInterface(T* object, void** ppv)
{
    *ppv = object;
    object->AddRef();
    return S_OK;
}

// ECMAScript's Number::toString(10): the shortest digits that read back as the same number.
std::wstring NumberToScriptString(double value)
{
    if (std::isnan(value))
        return L"NaN";
    if (value == 0)
        return L"0";
    if (std::isinf(value))
        return value < 0 ? L"-Infinity" : L"Infinity";
    if (value < 0)
        return L"-" + NumberToScriptString(-value);
    char buffer[64];
    int precision = 1;
    for (; precision <= 17; ++precision) {
        snprintf(buffer, sizeof buffer, "%.*e", precision - 1, value);
        if (strtod(buffer, nullptr) == value)
            break;
    }
    // buffer: d.ddddde[+-]xx
    std::string digits;
    const char* p = buffer;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += *p;
    const int exponent = *p == 'e' ? atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const int k = static_cast<int>(digits.size());
    const int n = exponent + 1;
    std::string out;
    if (k <= n && n <= 21) {
        out = digits + std::string(n - k, '0');
    } else if (0 < n && n <= 21) {
        out = digits.substr(0, n) + "." + digits.substr(n);
    } else if (-6 < n && n <= 0) {
        out = "0." + std::string(-n, '0') + digits;
    } else {
        const int e = n - 1;
        out = digits.substr(0, 1);
        if (k > 1)
            out += "." + digits.substr(1);
        out += e < 0 ? "e-" : "e+";
        out += std::to_string(e < 0 ? -e : e);
    }
    return std::wstring(out.begin(), out.end());
}

bool IsPropertyPut(WORD flags)
{
    return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
}

}  // namespace

HRESULT VariantToScriptString(const VARIANT& input, std::wstring& text)
{
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = VariantCopyInd(&value, const_cast<VARIANT*>(&input));
    if (FAILED(hr))
        return hr;
    hr = S_OK;
    switch (V_VT(&value)) {
    case VT_EMPTY: text = L"undefined"; break;
    case VT_NULL: text = L"null"; break;
    case VT_BOOL: text = V_BOOL(&value) ? L"true" : L"false"; break;
    case VT_BSTR: text.assign(V_BSTR(&value) ? V_BSTR(&value) : L"", SysStringLen(V_BSTR(&value))); break;
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT:
    case VT_R4: case VT_R8: {
        VARIANT number;
        VariantInit(&number);
        hr = VariantChangeType(&number, &value, 0, VT_R8);
        if (SUCCEEDED(hr))
            text = NumberToScriptString(V_R8(&number));
        break;
    }
    case VT_DISPATCH: {
        IDispatch* object = V_DISPATCH(&value);
        if (!object) {
            text = L"null";
            break;
        }
        VARIANT primitive;
        VariantInit(&primitive);
        DISPPARAMS none = {};
        hr = object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &primitive,
                            nullptr, nullptr);
        if (SUCCEEDED(hr))
            hr = V_VT(&primitive) == VT_DISPATCH ? E_FAIL : VariantToScriptString(primitive, text);
        VariantClear(&primitive);
        break;
    }
    default: {
        VARIANT converted;
        VariantInit(&converted);
        hr = VariantChangeType(&converted, &value, 0, VT_BSTR);
        if (SUCCEEDED(hr))
            text.assign(V_BSTR(&converted), SysStringLen(V_BSTR(&converted)));
        VariantClear(&converted);
        break;
    }
    }
    VariantClear(&value);
    return hr;
}

// ---- CDispatchObject ----

STDMETHODIMP CDispatchObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch)
        return ReturnInterface(static_cast<IDispatch*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP CDispatchObject::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CDispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP CDispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!names || !ids || count == 0)
        return E_INVALIDARG;
    UINT known = 0;
    const wchar_t* const* members = MemberNames(known);
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    for (UINT m = 0; m < known; ++m) {
        if (names[0] && _wcsicmp(names[0], members[m]) == 0) {
            ids[0] = static_cast<DISPID>(m + 1);
            break;
        }
    }
    if (ids[0] == DISPID_UNKNOWN || count > 1)
        hr = DISP_E_UNKNOWNNAME;  // no named arguments on these members
    return hr;
}

STDMETHODIMP CDispatchObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT* argError)
{
    return CallGuarded<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
        UINT known = 0;
        MemberNames(known);
        if (id < 1 || static_cast<UINT>(id) > known)
            return DISP_E_MEMBERNOTFOUND;
        if (IsPropertyPut(flags)) {
            if (!params || params->cArgs < 1)
                return DISP_E_BADPARAMCOUNT;
            return PutMember(id, params->rgvarg[0]);
        }
        if (flags & DISPATCH_METHOD) {
            const HRESULT hr = CallMember(id, params, result);
            if (hr != DISP_E_MEMBERNOTFOUND || !(flags & DISPATCH_PROPERTYGET))
                return hr;
        }
        if (flags & DISPATCH_PROPERTYGET) {
            if (!result)
                return E_INVALIDARG;
            VariantInit(result);
            return GetMember(id, result);
        }
        return DISP_E_MEMBERNOTFOUND;
    });
}

// ---- CElementObject ----

namespace {
enum ElementMember { kElementId = 1, kElementInnerHtml, kElementInnerText, kElementStyle };
const wchar_t* const kElementMembers[] = {L"id", L"innerHTML", L"innerText", L"style"};

HRESULT ReturnString(const std::wstring& text, VARIANT* result)
{
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    if (!V_BSTR(result)) {
        V_VT(result) = VT_EMPTY;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
}  // namespace

CElementObject::~CElementObject() = default;

const wchar_t* const* CElementObject::MemberNames(UINT& count) const
{
    count = ARRAYSIZE(kElementMembers);
    return kElementMembers;
}

HRESULT CElementObject::GetMember(DISPID id, VARIANT* result)
{
    switch (id) {
    case kElementId: return ReturnString(m_node->Attribute(L"id"), result);
    case kElementInnerHtml: return ReturnString(m_node->InnerHtml(), result);
    case kElementInnerText: return ReturnString(m_node->TextContent(), result);
    case kElementStyle:
        if (!m_style)
            m_style.Attach(new CStyleObject(m_node));
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = m_style.Get();
        m_style->AddRef();
        return S_OK;
    default: return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT CElementObject::PutMember(DISPID id, const VARIANT& value)
{
    std::wstring text;
    const HRESULT hr = VariantToScriptString(value, text);
    if (FAILED(hr))
        return DISP_E_TYPEMISMATCH;
    switch (id) {
    case kElementId: m_node->attributes[L"id"] = text; return S_OK;
    case kElementInnerHtml: m_node->SetInnerHtml(text); return S_OK;
    case kElementInnerText: m_node->SetInnerText(text); return S_OK;
    default: return DISP_E_MEMBERNOTFOUND;  // style is read-only
    }
}

// ---- CStyleObject ----

namespace {
const wchar_t* const kStyleMembers[] = {L"color"};
}

const wchar_t* const* CStyleObject::MemberNames(UINT& count) const
{
    count = ARRAYSIZE(kStyleMembers);
    return kStyleMembers;
}

HRESULT CStyleObject::GetMember(DISPID, VARIANT* result)
{
    return ReturnString(m_node->StyleValue(L"color"), result);
}

HRESULT CStyleObject::PutMember(DISPID, const VARIANT& value)
{
    std::wstring text;
    if (FAILED(VariantToScriptString(value, text)))
        return DISP_E_TYPEMISMATCH;
    m_node->SetStyleValue(L"color", text);
    return S_OK;
}

// ---- CDocumentObject ----

namespace {
const DISPID kDispidGetElementById = 1;
const wchar_t kBlankPage[] = L"<html><head></head><body></body></html>";
}

CDocumentObject::CDocumentObject() : m_tree(ParseHtmlDocument(kBlankPage)) {}

CDocumentObject::~CDocumentObject()
{
    ReleaseElements();
}

void CDocumentObject::ReleaseElements()
{
    std::vector<std::pair<CNode*, IDispatch*>> elements;
    elements.swap(m_elements);
    // Released after the field no longer lists them.
    for (auto& entry : elements)
        entry.second->Release();
}

STDMETHODIMP CDocumentObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IHTMLDocument || riid == IID_IHTMLDocument2)
        return ReturnInterface(static_cast<IHTMLDocument2*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP CDocumentObject::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CDocumentObject::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP CDocumentObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!names || !ids || count == 0)
        return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    if (count == 1 && names[0] && _wcsicmp(names[0], L"getElementById") == 0) {
        ids[0] = kDispidGetElementById;
        return S_OK;
    }
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP CDocumentObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*)
{
    if (id != kDispidGetElementById)
        return DISP_E_MEMBERNOTFOUND;
    if (!(flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    return CallGuarded<HRESULT>(E_OUTOFMEMORY, [&] { return GetElementById(params, result); });
}

HRESULT CDocumentObject::GetElementById(DISPPARAMS* params, VARIANT* result)
{
    if (!params || params->cArgs != 1)
        return DISP_E_BADPARAMCOUNT;
    std::wstring id;
    if (FAILED(VariantToScriptString(params->rgvarg[0], id)))
        return DISP_E_TYPEMISMATCH;
    if (!result)
        return S_OK;
    VariantInit(result);
    const CNodePtr node = FindElementById(m_tree, id);
    if (!node) {
        V_VT(result) = VT_NULL;
        return S_OK;
    }
    IDispatch* element = nullptr;
    for (const auto& entry : m_elements)
        if (entry.first == node.get())
            element = entry.second;
    if (!element) {
        m_elements.reserve(m_elements.size() + 1);  // may throw; nothing is made before it
        element = new CElementObject(node);
        m_elements.emplace_back(node.get(), element);
    }
    element->AddRef();
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = element;
    return S_OK;
}

void CDocumentObject::Open()
{
    // A write to a complete document opens a new one: the old content and its elements go.
    ReleaseElements();
    m_images.Clear();
    m_tree = ParseHtmlDocument(L"");
    m_buffer.clear();
    m_open = true;
}

HRESULT CDocumentObject::Append(SAFEARRAY* psarray, const wchar_t* suffix)
{
    if (!psarray || SafeArrayGetDim(psarray) != 1)
        return E_INVALIDARG;
    VARTYPE type = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(psarray, &type)) || type != VT_VARIANT)
        return E_INVALIDARG;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(psarray, 1, &lower);
    SafeArrayGetUBound(psarray, 1, &upper);
    VARIANT* items = nullptr;
    if (FAILED(SafeArrayAccessData(psarray, reinterpret_cast<void**>(&items))))
        return E_INVALIDARG;
    std::wstring text;
    HRESULT hr = S_OK;
    for (LONG i = 0; i <= upper - lower && SUCCEEDED(hr); ++i) {
        std::wstring piece;
        hr = VariantToScriptString(items[i], piece);
        text += piece;
    }
    SafeArrayUnaccessData(psarray);
    if (FAILED(hr))
        return hr;
    if (!m_open)
        Open();
    m_buffer += text;
    m_buffer += suffix;
    Record::Count(WBSTANDIN_WRITES);
    return S_OK;
}

STDMETHODIMP CDocumentObject::write(SAFEARRAY* psarray)
{
    return CallGuarded<HRESULT>(E_OUTOFMEMORY, [&] { return Append(psarray, L""); });
}

STDMETHODIMP CDocumentObject::writeln(SAFEARRAY* psarray)
{
    return CallGuarded<HRESULT>(E_OUTOFMEMORY, [&] { return Append(psarray, L"\r\n"); });
}

STDMETHODIMP CDocumentObject::close()
{
    return CallGuarded<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
        if (!m_open)
            return S_OK;  // closing a complete document changes nothing
        m_open = false;
        m_tree = ParseHtmlDocument(m_buffer);

        CScriptOutcome outcome;
        RunPageScripts(static_cast<IHTMLDocument2*>(this), m_tree, outcome);

        CPageRecord page;
        page.page.swap(m_buffer);
        if (const CNodePtr result = FindElementById(m_tree, L"_result")) {
            page.resultText = result->TextContent();
            page.resultColor = result->StyleValue(L"color");
        }
        if (const CNodePtr query = FindElementById(m_tree, L"_query")) {
            page.queryText = query->TextContent();
            page.queryColor = query->StyleValue(L"color");
        }
        page.hasSearch = outcome.hasSearch;
        page.search = outcome.search;
        page.hasScriptError = outcome.errors > 0;
        page.scriptError = outcome.firstError;
        Record::PageClosed(page);
        return S_OK;
    });
}

void CDocumentObject::Render(HDC dc, const RECT& bounds)
{
    RenderPage(m_tree, dc, bounds, m_images);
}

// ---- CBrowserObject ----

void CBrowserObject::RegisterWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW wc = {sizeof wc};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    if (RegisterClassExW(&wc))
        g_windowClassInstance = instance;
}

void CBrowserObject::UnregisterWindowClass(HINSTANCE instance)
{
    if (g_windowClassInstance)
        UnregisterClassW(kWindowClass, instance);
    g_windowClassInstance = nullptr;
}

CBrowserObject::~CBrowserObject()
{
    // Released without calling back into a site that may be half gone: a container that wants
    // the OLE shutdown sequence calls Close and SetClientSite(NULL) first.
    DestroyOwnWindow();
    m_document.Release();
    m_uiWindow.Release();
    m_frame.Release();
    m_inPlaceSite.Release();
    m_clientSite.Release();
}

STDMETHODIMP CBrowserObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IWebBrowser || riid == IID_IWebBrowserApp ||
        riid == IID_IWebBrowser2)
        return ReturnInterface(static_cast<IWebBrowser2*>(this), ppv);
    if (riid == IID_IOleObject)
        return ReturnInterface(static_cast<IOleObject*>(this), ppv);
    if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
        return ReturnInterface(static_cast<IOleInPlaceObject*>(this), ppv);
    if (riid == IID_IViewObject)
        return ReturnInterface(static_cast<IViewObject*>(this), ppv);
    return E_NOINTERFACE;
}

// -- IWebBrowser2 --

STDMETHODIMP CBrowserObject::get_Document(IDispatch** ppDisp)
{
    if (!ppDisp)
        return E_POINTER;
    *ppDisp = nullptr;
    switch (Record::DocumentMode()) {
    case WBSTANDIN_DOCUMENT_FAILS: return E_FAIL;
    case WBSTANDIN_DOCUMENT_NULL: return S_OK;
    case WBSTANDIN_DOCUMENT_NOT_HTML: *ppDisp = new CPlainDispatchObject(); return S_OK;
    default: break;
    }
    if (!m_document)
        return S_OK;  // nothing navigated yet: no document object
    *ppDisp = static_cast<IHTMLDocument2*>(m_document.Get());
    (*ppDisp)->AddRef();
    return S_OK;
}

STDMETHODIMP CBrowserObject::Quit()
{
    // The documented contract: the WebBrowser control ignores Quit (only the Internet Explorer
    // application closes). Counted so that tests can see it was called.
    Record::Count(WBSTANDIN_QUITS);
    return S_OK;
}

STDMETHODIMP CBrowserObject::put_StatusBar(VARIANT_BOOL Value)
{
    Record::SetState(WBSTANDIN_STATUS_BAR, Value ? 1 : 0);
    return S_OK;
}

STDMETHODIMP CBrowserObject::put_ToolBar(int Value)
{
    Record::SetState(WBSTANDIN_TOOL_BAR, Value);
    return S_OK;
}

STDMETHODIMP CBrowserObject::put_Silent(VARIANT_BOOL bSilent)
{
    m_silent = bSilent != VARIANT_FALSE;
    if (m_document)
        m_document->SetSilent(m_silent);
    Record::SetState(WBSTANDIN_SILENT, m_silent ? 1 : 0);
    return S_OK;
}

STDMETHODIMP CBrowserObject::Navigate2(VARIANT* URL, VARIANT*, VARIANT*, VARIANT*, VARIANT*)
{
    if (!URL)
        return E_INVALIDARG;
    const VARIANT* url = URL;
    if (V_VT(url) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(url))
        url = V_VARIANTREF(url);
    BSTR text = nullptr;
    if (V_VT(url) == VT_BSTR)
        text = V_BSTR(url);
    else if (V_VT(url) == (VT_BYREF | VT_BSTR) && V_BSTRREF(url))
        text = *V_BSTRREF(url);
    else
        return E_INVALIDARG;
    // The stand-in loads nothing: only the blank page, which it has built in.
    if (!text || _wcsicmp(text, L"about:blank") != 0)
        return E_NOTIMPL;
    return CallGuarded<HRESULT>(E_OUTOFMEMORY, [&] {
        CComPtr<CDocumentObject> blank;
        blank.Attach(new CDocumentObject());
        blank->SetSilent(m_silent);
        m_document.Assign(blank.Get());
        Record::Count(WBSTANDIN_NAVIGATIONS);
        if (m_hwnd)
            InvalidateRect(m_hwnd, nullptr, TRUE);
        return S_OK;
    });
}

// -- IOleObject --

STDMETHODIMP CBrowserObject::SetClientSite(IOleClientSite* pClientSite)
{
    if (!pClientSite)
        InPlaceDeactivate();  // a control without a site cannot stay active in it
    m_clientSite.Assign(pClientSite);
    return S_OK;
}

STDMETHODIMP CBrowserObject::GetClientSite(IOleClientSite** ppClientSite)
{
    if (!ppClientSite)
        return E_POINTER;
    *ppClientSite = m_clientSite.Get();
    if (*ppClientSite)
        (*ppClientSite)->AddRef();
    return S_OK;
}

STDMETHODIMP CBrowserObject::Close(DWORD)
{
    // Back to the loaded state: out of the site's window; the client site stays set.
    InPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP CBrowserObject::GetMoniker(DWORD, DWORD, IMoniker** ppmk)
{
    if (ppmk)
        *ppmk = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CBrowserObject::GetClipboardData(DWORD, IDataObject** ppDataObject)
{
    if (ppDataObject)
        *ppDataObject = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CBrowserObject::DoVerb(LONG iVerb, LPMSG, IOleClientSite* pActiveSite, LONG, HWND, LPCRECT)
{
    switch (iVerb) {
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_SHOW:
    case OLEIVERB_PRIMARY:
    case OLEIVERB_UIACTIVATE:
        // No UI activation: the stand-in has no menus, tool bars or focus handling.
        return ActivateInPlace(pActiveSite ? pActiveSite : m_clientSite.Get());
    case OLEIVERB_HIDE:
        if (m_hwnd)
            ShowWindow(m_hwnd, SW_HIDE);
        return S_OK;
    default:
        return iVerb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
}

// The order in which a windowed control activates in place: ask the site whether it may, tell
// it that it does, learn the parent window and the frame's context, then create the control's
// window in the parent at the position rectangle.
HRESULT CBrowserObject::ActivateInPlace(IOleClientSite* site)
{
    if (m_inPlaceSite)
        return S_OK;
    if (!site)
        return E_INVALIDARG;
    CComPtr<IOleInPlaceSite> inPlaceSite;
    HRESULT hr = site->QueryInterface(IID_IOleInPlaceSite, inPlaceSite.ReceiveVoid());
    if (FAILED(hr) || !inPlaceSite)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = inPlaceSite->CanInPlaceActivate();
    if (hr != S_OK)
        return E_FAIL;
    hr = inPlaceSite->OnInPlaceActivate();
    if (FAILED(hr))
        return hr;
    HWND parent = nullptr;
    hr = inPlaceSite->GetWindow(&parent);
    if (FAILED(hr) || !parent) {
        inPlaceSite->OnInPlaceDeactivate();
        return FAILED(hr) ? hr : E_FAIL;
    }
    CComPtr<IOleInPlaceFrame> frame;
    CComPtr<IOleInPlaceUIWindow> uiWindow;
    RECT pos = {}, clip = {};
    OLEINPLACEFRAMEINFO frameInfo = {};
    frameInfo.cb = sizeof frameInfo;
    hr = inPlaceSite->GetWindowContext(frame.Receive(), uiWindow.Receive(), &pos, &clip, &frameInfo);
    if (FAILED(hr)) {
        inPlaceSite->OnInPlaceDeactivate();
        return hr;
    }
    if (!g_windowClassInstance)
        RegisterWindowClass(g_standinModule);
    if (!g_windowClassInstance) {
        inPlaceSite->OnInPlaceDeactivate();
        return E_UNEXPECTED;
    }
    HWND window = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top, parent, nullptr,
                                  g_windowClassInstance, this);
    if (!window) {
        inPlaceSite->OnInPlaceDeactivate();
        return E_FAIL;
    }
    m_hwnd = window;
    m_posRect = pos;
    m_clipRect = clip;
    m_inPlaceSite.Assign(inPlaceSite.Get());
    m_frame.Assign(frame.Get());
    m_uiWindow.Assign(uiWindow.Get());
    return S_OK;
}

STDMETHODIMP CBrowserObject::EnumVerbs(IEnumOLEVERB** ppEnumOleVerb)
{
    if (ppEnumOleVerb)
        *ppEnumOleVerb = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CBrowserObject::GetUserClassID(CLSID* pClsid)
{
    if (!pClsid)
        return E_POINTER;
    *pClsid = CLSID_WebBrowser;
    return S_OK;
}

STDMETHODIMP CBrowserObject::GetUserType(DWORD, LPOLESTR* pszUserType)
{
    if (pszUserType)
        *pszUserType = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CBrowserObject::SetExtent(DWORD dwDrawAspect, SIZEL* psizel)
{
    if (dwDrawAspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!psizel)
        return E_INVALIDARG;
    m_extent = *psizel;
    return S_OK;
}

STDMETHODIMP CBrowserObject::GetExtent(DWORD dwDrawAspect, SIZEL* psizel)
{
    if (dwDrawAspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!psizel)
        return E_INVALIDARG;
    *psizel = m_extent;
    return S_OK;
}

STDMETHODIMP CBrowserObject::Advise(IAdviseSink*, DWORD* pdwConnection)
{
    if (pdwConnection)
        *pdwConnection = 0;
    return E_NOTIMPL;
}

STDMETHODIMP CBrowserObject::EnumAdvise(IEnumSTATDATA** ppenumAdvise)
{
    if (ppenumAdvise)
        *ppenumAdvise = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CBrowserObject::GetMiscStatus(DWORD, DWORD* pdwStatus)
{
    if (!pdwStatus)
        return E_POINTER;
    *pdwStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
                 OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;
    return S_OK;
}

// -- IOleInPlaceObject --

STDMETHODIMP CBrowserObject::GetWindow(HWND* phwnd)
{
    if (!phwnd)
        return E_POINTER;
    *phwnd = m_hwnd;
    return m_hwnd ? S_OK : E_FAIL;
}

STDMETHODIMP CBrowserObject::InPlaceDeactivate()
{
    if (!m_inPlaceSite)
        return S_OK;
    DestroyOwnWindow();
    // The site hears of it last, and is let go only after that call returned.
    CComPtr<IOleInPlaceSite> site;
    site.Assign(m_inPlaceSite.Get());
    m_inPlaceSite.Release();
    m_uiWindow.Release();
    m_frame.Release();
    site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP CBrowserObject::SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect)
{
    if (!lprcPosRect || !lprcClipRect)
        return E_INVALIDARG;
    m_posRect = *lprcPosRect;
    m_clipRect = *lprcClipRect;
    if (m_hwnd)
        SetWindowPos(m_hwnd, nullptr, m_posRect.left, m_posRect.top, m_posRect.right - m_posRect.left,
                     m_posRect.bottom - m_posRect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

// -- IViewObject --

STDMETHODIMP CBrowserObject::Draw(DWORD dwDrawAspect, LONG lindex, void*, DVTARGETDEVICE*, HDC, HDC hdcDraw,
                                  LPCRECTL lprcBounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR)
{
    if (dwDrawAspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (lindex != -1)
        return DV_E_LINDEX;
    if (!hdcDraw || !lprcBounds)
        return E_INVALIDARG;
    return CallGuarded<HRESULT>(E_OUTOFMEMORY, [&] {
        const RECT bounds = {lprcBounds->left, lprcBounds->top, lprcBounds->right, lprcBounds->bottom};
        if (m_document) {
            m_document->Render(hdcDraw, bounds);
        } else {
            HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
            FillRect(hdcDraw, &bounds, white);
            DeleteObject(white);
        }
        Record::Count(WBSTANDIN_DRAWS);
        return S_OK;
    });
}

STDMETHODIMP CBrowserObject::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** ppColorSet)
{
    if (!ppColorSet)
        return E_INVALIDARG;
    *ppColorSet = nullptr;
    return S_FALSE;  // no palette to offer
}

// -- the control's own window --

void CBrowserObject::DestroyOwnWindow()
{
    HWND window = m_hwnd;
    m_hwnd = nullptr;
    if (window && IsWindow(window)) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
    }
}

void CBrowserObject::PaintOwnWindow()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hwnd, &ps);
    if (dc) {
        RECT client;
        GetClientRect(m_hwnd, &client);
        if (m_document) {
            CallGuarded<bool>(false, [&] {
                m_document->Render(dc, client);
                return true;
            });
        } else {
            FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        }
    }
    EndPaint(m_hwnd, &ps);
}

LRESULT CALLBACK CBrowserObject::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    CBrowserObject* browser = reinterpret_cast<CBrowserObject*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (browser) {
        switch (message) {
        case WM_PAINT:
            if (browser->m_hwnd == hwnd) {
                browser->PaintOwnWindow();
                return 0;
            }
            break;
        case WM_ERASEBKGND:
            return 1;  // the page paints every pixel
        case WM_NCDESTROY:
            // Destroyed from outside (the container destroys its children): forget the window.
            if (browser->m_hwnd == hwnd)
                browser->m_hwnd = nullptr;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            break;
        default:
            break;
        }
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}
