#pragma once
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <functional>
#include <string>
#include <vector>

// A small windowed OLE control for the control host's tests. It activates in place the way a
// windowed control does (CanInPlaceActivate, OnInPlaceActivate, GetWindow, GetWindowContext,
// then a child window of its own), deactivates the way one does (its window goes, then the
// site hears OnInPlaceDeactivate), draws a solid rectangle through IViewObject, and records
// what the site tells it and what reaches its window. The three interfaces are separate parts
// with their own AddRef/Release so that the order in which a container lets go is visible.
class CTestControl {
public:
    struct CMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    CTestControl();
    ~CTestControl();
    CTestControl(const CTestControl&) = delete;
    CTestControl& operator=(const CTestControl&) = delete;

    IOleObject* OleObject() { return &m_ole; }
    IViewObject* ViewObject() { return &m_view; }
    IOleInPlaceObject* InPlaceObject() { return &m_inPlace; }

    // What the test can change before attaching.
    bool m_offersViewObject = true;
    bool m_activatesInPlace = true;
    COLORREF m_color = RGB(200, 30, 30);
    // Draw fills this fraction of the bounds' width from the left; the rest is left alone.
    int m_drawPercent = 50;
    // Called at the start of Draw, for ordering against other recorders.
    void (*m_onDraw)(int tag) = nullptr;
    // InPlaceDeactivate takes the control's window down itself, as a real control does; when
    // false the window is left to the container.
    bool m_destroysWindowOnDeactivate = true;
    // What LockRunning answers.
    HRESULT m_lockRunningResult = S_OK;
    // Called with the log entry of InPlaceDeactivate, Close, SetClientSite and LockRunning right
    // after it was logged, so that a test can call back into the container from inside them.
    std::function<void(const std::string& entry)> m_onCall;

    // References held on all three parts together, and per part.
    LONG m_refs = 0;
    LONG m_oleRefs = 0;
    LONG m_viewRefs = 0;
    LONG m_inPlaceRefs = 0;
    // "release:ole", "release:view", "release:inplace", "SetClientSite", "DoVerb", ... in order;
    // "window:destroyed" when the control's window receives WM_NCDESTROY.
    std::vector<std::string> m_log;

    // In-place activation.
    IOleClientSite* m_site = nullptr;  // held with a reference
    bool m_inPlaceActive = false;      // from OnInPlaceActivate until InPlaceDeactivate
    HWND m_siteWindow = nullptr;
    HWND m_window = nullptr;
    HRESULT m_canActivateResult = E_FAIL;
    HRESULT m_onActivateResult = E_FAIL;
    HRESULT m_contextResult = E_FAIL;
    bool m_frameGiven = false;
    bool m_documentGiven = true;
    RECT m_contextPos = {};
    RECT m_contextClip = {};
    OLEINPLACEFRAMEINFO m_frameInfo = {};
    RECT m_doVerbRect = {};
    HWND m_doVerbParent = reinterpret_cast<HWND>(-1);
    LONG m_doVerbVerb = 0;
    LONG m_doVerbIndex = 0;

    // Sizing and drawing.
    SIZEL m_extent = {};
    DWORD m_extentAspect = 0;
    RECT m_objectPos = {};
    RECT m_objectClip = {};
    int m_setObjectRectsCalls = 0;
    int m_drawCalls = 0;
    HDC m_drawDC = nullptr;
    RECTL m_drawBounds = {};
    RECTL m_drawWindowBounds = {};
    bool m_drawWindowBoundsGiven = false;
    DWORD m_drawAspect = 0;
    LONG m_drawIndex = 0;

    // What reached the control's window; each message answers 0x5000 + its value.
    std::vector<CMessage> m_messages;
    static LRESULT AnswerFor(UINT message) { return 0x5000 + message; }

private:
    struct COlePart : IOleObject {
        CTestControl* m_owner;
        explicit COlePart(CTestControl* owner) : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return m_owner->Query(iid, object); }
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP SetClientSite(IOleClientSite* site) override;
        STDMETHODIMP GetClientSite(IOleClientSite** site) override;
        STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
        STDMETHODIMP Close(DWORD saveOption) override;
        STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
        STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
        STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
        STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
        STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG index, HWND parent,
                            LPCRECT posRect) override;
        STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
        STDMETHODIMP Update() override { return S_OK; }
        STDMETHODIMP IsUpToDate() override { return S_OK; }
        STDMETHODIMP GetUserClassID(CLSID*) override { return E_NOTIMPL; }
        STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
        STDMETHODIMP SetExtent(DWORD aspect, SIZEL* extent) override;
        STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
        STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
        STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
        STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
        STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override;
        STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }
    };

    struct CViewPart : IViewObject {
        CTestControl* m_owner;
        explicit CViewPart(CTestControl* owner) : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return m_owner->Query(iid, object); }
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP Draw(DWORD aspect, LONG index, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                          LPCRECTL windowBounds, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override;
        STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override
        {
            return E_NOTIMPL;
        }
        STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
        STDMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
        STDMETHODIMP SetAdvise(DWORD, DWORD, IAdviseSink*) override { return E_NOTIMPL; }
        STDMETHODIMP GetAdvise(DWORD*, DWORD*, IAdviseSink**) override { return E_NOTIMPL; }
    };

    struct CInPlacePart : IOleInPlaceObject {
        CTestControl* m_owner;
        explicit CInPlacePart(CTestControl* owner) : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return m_owner->Query(iid, object); }
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP GetWindow(HWND* window) override;
        STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
        STDMETHODIMP InPlaceDeactivate() override;
        STDMETHODIMP UIDeactivate() override { return S_OK; }
        STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) override;
        STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
    };

    // OleSetContainedObject and OleLockRunning reach a control through this; it only records
    // and takes no external lock of its own.
    struct CRunnablePart : IRunnableObject {
        CTestControl* m_owner;
        explicit CRunnablePart(CTestControl* owner) : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return m_owner->Query(iid, object); }
        STDMETHODIMP_(ULONG) AddRef() override { return ++m_owner->m_refs; }
        STDMETHODIMP_(ULONG) Release() override { return --m_owner->m_refs; }
        STDMETHODIMP GetRunningClass(CLSID*) override { return E_NOTIMPL; }
        STDMETHODIMP Run(LPBINDCTX) override { return S_OK; }
        STDMETHODIMP_(BOOL) IsRunning() override { return TRUE; }
        STDMETHODIMP LockRunning(BOOL lock, BOOL lastUnlockCloses) override;
        STDMETHODIMP SetContainedObject(BOOL contained) override;
    };

    HRESULT Query(REFIID iid, void** object);
    void Activate(IOleClientSite* activeSite);
    void Deactivate();
    void Logged(const std::string& entry);
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    COlePart m_ole;
    CViewPart m_view;
    CInPlacePart m_inPlace;
    CRunnablePart m_runnable;
};
