// A stand-in for the WebBrowser control (CLSID_WebBrowser, shdocvw/ieframe) for the test bed.
// Wine's own control cannot load or draw a document in the test prefix, so this in-process
// server takes its place there; it is never shipped.
//
// Toward its container it keeps the control's documented contract for what a host of a written
// page uses: IWebBrowser2 (Navigate2 to about:blank, get_Document, put_Silent, put_StatusBar,
// put_ToolBar, Quit, which the control ignores), IOleObject with in-place activation the way a
// windowed control does it, IOleInPlaceObject, IViewObject::Draw, and a document whose
// IHTMLDocument2::write and close take a page whose script runs in the platform's JScript.
//
// Left out: loading anything but about:blank (navigation is synchronous), every other member
// of those interfaces (E_NOTIMPL), type information and IDispatch on the browser, UI
// activation, focus, keyboard and mouse handling, events and connection points, ambient
// properties, persistence, IViewObject2 and advise sinks, IOleControl, IOleInPlaceActiveObject,
// and of the browser engine everything but a small block layout (see renderer.h) and the DOM
// members the page script uses (see objects.h). Text is drawn without smoothing. Scripts run
// when the document is closed, not while it is parsed.
#include <windows.h>
#include <exdisp.h>

#include "objects.h"
#include "record.h"

HINSTANCE g_standinModule = nullptr;

namespace {

volatile LONG g_serverLocks = 0;

class CBrowserFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    // One static factory: it counts as a server lock while referenced.
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&g_serverLocks)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&g_serverLocks)); }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        CBrowserObject* browser = new (std::nothrow) CBrowserObject();
        if (!browser)
            return E_OUTOFMEMORY;
        const HRESULT hr = browser->QueryInterface(riid, ppv);
        browser->Release();  // the creator's reference: the caller now holds what QueryInterface gave
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            InterlockedIncrement(&g_serverLocks);
        else
            InterlockedDecrement(&g_serverLocks);
        return S_OK;
    }
};

CBrowserFactory g_factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_standinModule = instance;
        DisableThreadLibraryCalls(instance);
        Record::Start();
        break;
    case DLL_PROCESS_DETACH:
        if (!reserved)  // unloaded, not the process ending: the window class goes too
            CBrowserObject::UnregisterWindowClass(instance);
        Record::Stop();
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_WebBrowser)
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return WbStandinGetCount(WBSTANDIN_LIVE_OBJECTS) == 0 && g_serverLocks == 0 ? S_OK : S_FALSE;
}
