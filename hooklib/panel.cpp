#include "panel.h"

#include <mshtml.h>

#include "page.h"
#include "support/hresult.h"

namespace {

const RECT PANEL_RECT = {0, 0, 100, 100};

// Owns a SAFEARRAY: destroying it frees the elements with it.
class CSafeArray {
public:
    explicit CSafeArray(SAFEARRAY* array) noexcept : m_array(array) {}
    CSafeArray(const CSafeArray&) = delete;
    CSafeArray& operator=(const CSafeArray&) = delete;
    ~CSafeArray()
    {
        SAFEARRAY* array = m_array;
        m_array = nullptr;
        if (array)
            SafeArrayDestroy(array);
    }
    SAFEARRAY* Get() const noexcept { return m_array; }

private:
    SAFEARRAY* m_array;
};

// Moves `text` into the one element of `array`; false (text still owned by the caller) when
// the array's data cannot be reached.
bool PutOnlyElement(SAFEARRAY* array, CBstr& text) noexcept
{
    VARIANT* element = nullptr;
    if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&element))) || !element)
        return false;
    V_VT(element) = VT_BSTR;
    V_BSTR(element) = text.Detach();
    SafeArrayUnaccessData(array);
    return true;
}

}  // namespace

CCalculatorPanel::~CCalculatorPanel()
{
    // The browser first: it may still call its site, which the host is, while it lets go.
    // No Quit here: at unload the controller has already shut it down if it could.
    m_browser.Release();
    // Then, as members, m_host (the control's interfaces; the window is the controller's to
    // destroy) and last m_pageQuery, which nothing above uses.
}

void CCalculatorPanel::CreatePanel(HWND parent)
{
    // Not tested: without a window the browser is still created and attached to the host.
    m_host.Create(parent, PANEL_RECT, L"", WS_CHILD, 0, nullptr, nullptr);

    // Declared in the order of release at the end: URL, local IOleObject, created object.
    CComPtr<IUnknown> object;
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                IID_IUnknown, object.ReceiveVoid())) ||
        !object)
        return;
    m_browser.Release();
    if (FAILED(object->QueryInterface(IID_IWebBrowser2, m_browser.ReceiveVoid())) || !m_browser)
        return;

    CComPtr<IOleObject> oleObject;
    m_browser->QueryInterface(IID_IOleObject, oleObject.ReceiveVoid());
    if (oleObject)
        m_host.AttachControl(oleObject.Get());

    // Script errors of the page must never raise a dialog in the shell.
    m_browser->put_Silent(VARIANT_TRUE);
    CVariant url;
    V_BSTR(url.Get()) = SysAllocString(L"about:blank");
    if (!V_BSTR(url.Get()))
        ThrowHResult(E_OUTOFMEMORY);
    V_VT(url.Get()) = VT_BSTR;
    m_browser->Navigate2(url.Get(), nullptr, nullptr, nullptr, nullptr);
    m_browser->put_StatusBar(VARIANT_FALSE);
    m_browser->put_ToolBar(0);
}

void CCalculatorPanel::UpdateQuery(CString query)
{
    // An unchanged text costs one comparison: no page, no write, no repaint.
    if (query == m_pageQuery)
        return;
    // Recorded before the write: a text that cannot be written still counts as shown.
    m_pageQuery = query;
    const CString page = BuildCalculatorPage(m_pageQuery);
    if (m_browser)
        WritePage(page);
    if (IsWindow(m_host.m_hWnd))
        ::InvalidateRect(m_host.m_hWnd, nullptr, TRUE);
}

void CCalculatorPanel::WritePage(const CString& page)
{
    // Declared so that they go in this order: the text, the HTML document, the document object.
    CComPtr<IDispatch> document;
    if (FAILED(m_browser->get_Document(document.Receive())) || !document)
        return;
    CComPtr<IHTMLDocument2> htmlDocument;
    document->QueryInterface(IID_IHTMLDocument2, htmlDocument.ReceiveVoid());
    if (!htmlDocument)
        return;

    CBstr text;
    text.Attach(SysAllocStringLen(page.GetString(), static_cast<UINT>(page.GetLength())));
    if (!text.Get())
        ThrowHResult(E_OUTOFMEMORY);
    // Without the array the page cannot be handed over: the write is skipped and the text freed.
    CSafeArray array(SafeArrayCreateVector(VT_VARIANT, 0, 1));
    if (!array.Get() || !PutOnlyElement(array.Get(), text))
        return;
    // The current document is complete, so this write starts a new one that replaces it; the
    // close ends it, and its load event runs the page's script.
    htmlDocument->write(array.Get());
    htmlDocument->close();
}
