#pragma once
#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <ole2.h>

#include <string>
#include <utility>
#include <vector>

#include "page_model.h"
#include "record.h"
#include "renderer.h"
#include "support/com.h"

extern HINSTANCE g_standinModule;  // this DLL

// Reference counting shared by every object of the stand-in, with the counts that leak tests
// read. An object starts with the one reference its creator holds.
class CCountedObject {
public:
    CCountedObject(const CCountedObject&) = delete;
    CCountedObject& operator=(const CCountedObject&) = delete;

protected:
    CCountedObject()
    {
        Record::ObjectCreated();
        Record::AddReferences(1);
    }
    virtual ~CCountedObject() { Record::ObjectDestroyed(); }

    ULONG AddRefObject()
    {
        Record::AddReferences(1);
        return static_cast<ULONG>(InterlockedIncrement(&m_refs));
    }
    ULONG ReleaseObject()
    {
        Record::AddReferences(-1);
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return static_cast<ULONG>(refs);
    }

private:
    volatile LONG m_refs = 1;
};

// Script-visible objects answer IDispatch only (the engine asks for IDispatchEx first and must
// be refused), with case-insensitive names as Automation's contract has it.
class CDispatchObject : public IDispatch, public CCountedObject {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT* argError) override;

protected:
    // Names this object knows, by DISPID (index + 1).
    virtual const wchar_t* const* MemberNames(UINT& count) const = 0;
    virtual HRESULT GetMember(DISPID id, VARIANT* result) = 0;
    virtual HRESULT PutMember(DISPID id, const VARIANT& value) = 0;
    virtual HRESULT CallMember(DISPID id, DISPPARAMS* params, VARIANT* result) { return DISP_E_MEMBERNOTFOUND; }
};

// What a browser's script engine makes of a value stored into a string property: the
// ECMAScript ToString of numbers (shortest round-trip form), booleans, undefined and null,
// and an object's default value.
HRESULT VariantToScriptString(const VARIANT& value, std::wstring& text);

class CStyleObject;

// An element of the page, seen by the script: id, innerHTML, innerText and style.
class CElementObject : public CDispatchObject {
public:
    explicit CElementObject(CNodePtr node) : m_node(std::move(node)) {}
    const CNodePtr& Node() const { return m_node; }

protected:
    ~CElementObject() override;
    const wchar_t* const* MemberNames(UINT& count) const override;
    HRESULT GetMember(DISPID id, VARIANT* result) override;
    HRESULT PutMember(DISPID id, const VARIANT& value) override;

private:
    CNodePtr m_node;
    CComPtr<IDispatch> m_style;  // made on first use, kept for the element's identity
};

// An element's inline style: color.
class CStyleObject : public CDispatchObject {
public:
    explicit CStyleObject(CNodePtr node) : m_node(std::move(node)) {}

protected:
    const wchar_t* const* MemberNames(UINT& count) const override;
    HRESULT GetMember(DISPID id, VARIANT* result) override;
    HRESULT PutMember(DISPID id, const VARIANT& value) override;

private:
    CNodePtr m_node;
};

// The "document without IHTMLDocument2" of the switch: a dispatch object with no members.
class CPlainDispatchObject : public CDispatchObject {
protected:
    const wchar_t* const* MemberNames(UINT& count) const override
    {
        count = 0;
        return nullptr;
    }
    HRESULT GetMember(DISPID, VARIANT*) override { return DISP_E_MEMBERNOTFOUND; }
    HRESULT PutMember(DISPID, const VARIANT&) override { return DISP_E_MEMBERNOTFOUND; }
};

// The HTML document of the browser. Only what writing a page and running its script needs:
// write, writeln and close on IHTMLDocument2, and getElementById through IDispatch.
class CDocumentObject : public IHTMLDocument2, public CCountedObject {
public:
    CDocumentObject();

    void SetSilent(bool silent) { m_silent = silent; }
    void Render(HDC dc, const RECT& bounds);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }
    // IDispatch: the script's view of the document.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT* argError) override;
    // IHTMLDocument2: the three methods the page writer uses.
    STDMETHODIMP write(SAFEARRAY* psarray) override;
    STDMETHODIMP writeln(SAFEARRAY* psarray) override;
    STDMETHODIMP close() override;
#include "document_stubs.inc"

protected:
    ~CDocumentObject() override;

private:
    HRESULT Append(SAFEARRAY* psarray, const wchar_t* suffix);
    void Open();
    HRESULT GetElementById(DISPPARAMS* params, VARIANT* result);
    void ReleaseElements();

    bool m_silent = false;
    bool m_open = false;          // a document is being written and not yet closed
    std::wstring m_buffer;        // what was written since it opened
    CNodePtr m_tree;              // the complete document that is shown
    CImageCache m_images;
    // Elements handed to script, by node, one reference each (released by ReleaseElements), so
    // that each element keeps its identity for as long as its page is shown.
    std::vector<std::pair<CNode*, IDispatch*>> m_elements;
};

// The WebBrowser control.
class CBrowserObject : public IWebBrowser2,
                       public IOleObject,
                       public IOleInPlaceObject,
                       public IViewObject,
                       public CCountedObject {
public:
    CBrowserObject() = default;

    static void RegisterWindowClass(HINSTANCE instance);
    static void UnregisterWindowClass(HINSTANCE instance);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    // IDispatch of IWebBrowser2: not needed by callers that bind through the vtable.
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    // IWebBrowser2: what hosting a page needs.
    STDMETHODIMP get_Document(IDispatch** ppDisp) override;
    STDMETHODIMP Quit() override;
    STDMETHODIMP put_StatusBar(VARIANT_BOOL Value) override;
    STDMETHODIMP put_ToolBar(int Value) override;
    STDMETHODIMP Navigate2(VARIANT* URL, VARIANT* Flags, VARIANT* TargetFrameName, VARIANT* PostData,
                           VARIANT* Headers) override;
    STDMETHODIMP put_Silent(VARIANT_BOOL bSilent) override;
#include "browser_stubs.inc"

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* pClientSite) override;
    STDMETHODIMP GetClientSite(IOleClientSite** ppClientSite) override;
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD dwSaveOption) override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** ppmk) override;
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** ppDataObject) override;
    STDMETHODIMP DoVerb(LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex, HWND hwndParent,
                        LPCRECT lprcPosRect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) override;
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* pClsid) override;
    STDMETHODIMP GetUserType(DWORD, LPOLESTR* pszUserType) override;
    STDMETHODIMP SetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    STDMETHODIMP GetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    STDMETHODIMP Advise(IAdviseSink*, DWORD* pdwConnection) override;
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** ppenumAdvise) override;
    STDMETHODIMP GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow / IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) override;
    STDMETHODIMP ReactivateAndUndo() override { return INPLACE_E_NOTUNDOABLE; }

    // IViewObject
    STDMETHODIMP Draw(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd, HDC hdcTargetDev,
                      HDC hdcDraw, LPCRECTL lprcBounds, LPCRECTL lprcWBounds,
                      BOOL(STDMETHODCALLTYPE* pfnContinue)(ULONG_PTR dwContinue), ULONG_PTR dwContinue) override;
    STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** ppColorSet) override;
    STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP SetAdvise(DWORD, DWORD, IAdviseSink*) override { return E_NOTIMPL; }
    STDMETHODIMP GetAdvise(DWORD*, DWORD*, IAdviseSink**) override { return E_NOTIMPL; }

protected:
    ~CBrowserObject() override;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HRESULT ActivateInPlace(IOleClientSite* site);
    void DestroyOwnWindow();
    void PaintOwnWindow();

    CComPtr<IOleClientSite> m_clientSite;
    CComPtr<IOleInPlaceSite> m_inPlaceSite;  // held while in-place active
    CComPtr<IOleInPlaceFrame> m_frame;
    CComPtr<IOleInPlaceUIWindow> m_uiWindow;
    HWND m_hwnd = nullptr;
    RECT m_posRect = {};
    RECT m_clipRect = {};
    SIZEL m_extent = {};
    bool m_silent = false;
    CComPtr<CDocumentObject> m_document;  // null until the first navigation
};
