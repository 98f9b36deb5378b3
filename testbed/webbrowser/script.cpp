#include "script.h"

#include <activscp.h>

#include <vector>

#include "objects.h"
#include "support/com.h"

namespace {

// The 32-bit IActiveScriptParse; MinGW's import library does not carry its IID.
const IID kIID_IActiveScriptParse32 = {0xBB1A2AE2, 0xA4F9, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};

const wchar_t kDocumentItem[] = L"document";

void ClearExcepInfo(EXCEPINFO& info)
{
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    info = EXCEPINFO();
}

// The engine's host: it offers the document by name and takes the engine's error reports. It
// has no window to offer (no IActiveScriptSiteWindow), so the engine can never raise a dialog.
class CScriptSite : public IActiveScriptSite, public CCountedObject {
public:
    CScriptSite(IDispatch* document, CScriptOutcome& outcome) : m_outcome(outcome) { m_document.Assign(document); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IActiveScriptSite) {
            *ppv = static_cast<IActiveScriptSite*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }  // the engine uses the user's locale
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** typeInfo) override
    {
        if (mask & SCRIPTINFO_IUNKNOWN) {
            if (!item)
                return E_INVALIDARG;
            *item = nullptr;
        }
        if (mask & SCRIPTINFO_ITYPEINFO) {
            if (!typeInfo)
                return E_INVALIDARG;
            *typeInfo = nullptr;
        }
        if (!name || wcscmp(name, kDocumentItem) != 0 || !m_document)
            return TYPE_E_ELEMENTNOTFOUND;
        if (mask & SCRIPTINFO_ITYPEINFO)
            return TYPE_E_ELEMENTNOTFOUND;  // no type information to give
        if (mask & SCRIPTINFO_IUNKNOWN) {
            *item = m_document.Get();
            (*item)->AddRef();
        }
        return S_OK;
    }
    STDMETHODIMP GetDocVersionString(BSTR* version) override
    {
        if (version)
            *version = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override
    {
        ++m_outcome.errors;
        Record::Count(WBSTANDIN_SCRIPT_ERRORS);
        if (error && m_outcome.errors == 1) {
            EXCEPINFO info = {};
            if (SUCCEEDED(error->GetExceptionInfo(&info))) {
                if (info.pfnDeferredFillIn)
                    info.pfnDeferredFillIn(&info);
                if (info.bstrDescription)
                    m_outcome.firstError.assign(info.bstrDescription, SysStringLen(info.bstrDescription));
            }
            ClearExcepInfo(info);
        }
        return S_OK;  // as a silent browser does: note it and go on
    }
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

    // The engine keeps its site until Close; the document goes with the site.
    void DropDocument() { m_document.Release(); }

private:
    CComPtr<IDispatch> m_document;
    CScriptOutcome& m_outcome;
};

bool IsScriptElement(const CNode& script)
{
    const std::wstring type = ToLower(Trim(script.Attribute(L"type")));
    const std::wstring language = ToLower(Trim(script.Attribute(L"language")));
    if (!type.empty())
        return type == L"text/javascript" || type == L"application/javascript" || type == L"text/jscript" ||
               type == L"text/ecmascript";
    return language.empty() || language.compare(0, 10, L"javascript") == 0 || language == L"jscript" ||
           language == L"ecmascript";
}

HRESULT ParseText(IActiveScriptParse* parse, const std::wstring& text, DWORD flags, VARIANT* result)
{
    EXCEPINFO info = {};
    const HRESULT hr = parse->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 0, flags, result, &info);
    ClearExcepInfo(info);
    return hr;
}

// The engine's value of the literal, through a global of the stand-in's own read back through
// the script's dispatch object. (Wine's JScript keeps about 1.4 KiB for every text parsed with
// SCRIPTTEXT_ISEXPRESSION until the process ends, so the expression form is avoided.)
void ReadSearchLiteral(IActiveScript* engine, IActiveScriptParse* parse, const std::wstring& literal,
                       CScriptOutcome& outcome)
{
    static const wchar_t kName[] = L"_wbStandinSearch";
    if (FAILED(ParseText(parse, std::wstring(L"var ") + kName + L" = " + literal + L";", 0, nullptr)))
        return;
    CComPtr<IDispatch> global;
    if (FAILED(engine->GetScriptDispatch(nullptr, global.Receive())) || !global)
        return;
    LPOLESTR name = const_cast<LPOLESTR>(kName);
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(global->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)))
        return;
    VARIANT value;
    VariantInit(&value);
    DISPPARAMS none = {};
    if (SUCCEEDED(global->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                                 nullptr)) &&
        V_VT(&value) == VT_BSTR) {
        outcome.hasSearch = true;
        outcome.search.assign(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
    }
    VariantClear(&value);
}

}  // namespace

void RunPageScripts(IDispatch* document, const CNodePtr& tree, CScriptOutcome& outcome)
{
    std::vector<CNodePtr> scripts;
    CollectElements(tree, L"script", scripts);
    const CNodePtr body = FindFirstElement(tree, L"body");
    const std::wstring onload = body ? body->Attribute(L"onload") : std::wstring();
    bool anyScript = false;
    for (const CNodePtr& script : scripts)
        anyScript = anyScript || IsScriptElement(*script);
    if (!anyScript && Trim(onload).empty())
        return;

    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"JScript", &clsid)))
        return;
    CComPtr<IActiveScript> engine;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript, engine.ReceiveVoid())))
        return;
    CComPtr<IActiveScriptParse> parse;
    if (FAILED(engine->QueryInterface(kIID_IActiveScriptParse32, parse.ReceiveVoid())) || !parse)
        return;
    CComPtr<CScriptSite> site;
    site.Attach(new CScriptSite(document, outcome));

    if (SUCCEEDED(parse->InitNew()) && SUCCEEDED(engine->SetScriptSite(site.Get())) &&
        SUCCEEDED(engine->AddNamedItem(kDocumentItem, SCRIPTITEM_ISVISIBLE)) &&
        SUCCEEDED(engine->SetScriptState(SCRIPTSTATE_STARTED))) {
        std::wstring searchLiteral;
        for (const CNodePtr& script : scripts) {
            if (!IsScriptElement(*script))
                continue;
            const int errorsBefore = outcome.errors;
            const HRESULT hr = ParseText(parse.Get(), script->text, SCRIPTTEXT_ISVISIBLE, nullptr);
            const std::wstring literal = FindSearchLiteral(script->text);
            if (searchLiteral.empty() && !literal.empty() && SUCCEEDED(hr) && outcome.errors == errorsBefore)
                searchLiteral = literal;
        }
        // The load event, after the document and its scripts are complete.
        if (!Trim(onload).empty())
            ParseText(parse.Get(), onload, SCRIPTTEXT_ISVISIBLE, nullptr);
        if (!searchLiteral.empty())
            ReadSearchLiteral(engine.Get(), parse.Get(), searchLiteral, outcome);
    }
    // Close lets go of the site and the named items; the engine goes after it.
    engine->Close();
    site->DropDocument();
}
