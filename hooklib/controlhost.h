#pragma once
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include "support/com.h"
#include "support/window.h"

// The panel window: a child window that hosts one OLE control as its container. The control is
// activated in place, its own window is hidden, and the panel paints the control itself through
// the control's view object into a buffered 32-bit bitmap whose pixels are made opaque, so the
// panel shows correctly inside the Start Menu's glass. Input that reaches the panel goes on to
// the control's hidden window.
//
// The object is embedded in the calculator panel and lives as long as it does: AddRef and
// Release only count, they never destroy.
class CControlHostWnd : public CWindowImpl,
                        public IOleClientSite,
                        public IOleInPlaceSiteWindowless,
                        public IOleInPlaceFrame,
                        public IStorage {
public:
    CControlHostWnd() noexcept = default;
    // Ends a control session that is still open, then releases the control's interfaces. The
    // window must already be gone (the controller destroys it when it detaches); if it is not,
    // the base class takes its procedure away.
    ~CControlHostWnd() override;

    // Sets up the site for `control`, activates it in place, hides its own window and starts
    // the repaint timer. Called once per control, after the window has been created. An earlier
    // control's session is ended first.
    void AttachControl(IOleObject* control) noexcept;

    // Sends a message on to the control's window; 0 when there is none.
    LRESULT ForwardToControl(UINT message, WPARAM wParam, LPARAM lParam) noexcept;

    // IUnknown, shared by the four interfaces.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;

    // IOleClientSite
    STDMETHODIMP SaveObject() noexcept override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD whichMoniker, IMoniker** moniker) noexcept override;
    STDMETHODIMP GetContainer(IOleContainer** container) noexcept override;
    STDMETHODIMP ShowObject() noexcept override;
    STDMETHODIMP OnShowWindow(BOOL show) noexcept override;
    STDMETHODIMP RequestNewObjectLayout() noexcept override;

    // IOleWindow (for both the site and the frame)
    STDMETHODIMP GetWindow(HWND* window) noexcept override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) noexcept override;

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() noexcept override;
    STDMETHODIMP OnInPlaceActivate() noexcept override;
    STDMETHODIMP OnUIActivate() noexcept override;
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT posRect,
                                  LPRECT clipRect, LPOLEINPLACEFRAMEINFO frameInfo) noexcept override;
    STDMETHODIMP Scroll(SIZE scrollExtent) noexcept override;
    STDMETHODIMP OnUIDeactivate(BOOL undoable) noexcept override;
    STDMETHODIMP OnInPlaceDeactivate() noexcept override;
    STDMETHODIMP DiscardUndoState() noexcept override;
    STDMETHODIMP DeactivateAndUndo() noexcept override;
    STDMETHODIMP OnPosRectChange(LPCRECT posRect) noexcept override;

    // IOleInPlaceSiteEx
    STDMETHODIMP OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) noexcept override;
    STDMETHODIMP OnInPlaceDeactivateEx(BOOL noRedraw) noexcept override;
    STDMETHODIMP RequestUIActivate() noexcept override;

    // IOleInPlaceSiteWindowless
    STDMETHODIMP CanWindowlessActivate() noexcept override;
    STDMETHODIMP GetCapture() noexcept override;
    STDMETHODIMP SetCapture(BOOL capture) noexcept override;
    STDMETHODIMP GetFocus() noexcept override;
    STDMETHODIMP SetFocus(BOOL focus) noexcept override;
    STDMETHODIMP GetDC(LPCRECT rect, DWORD flags, HDC* dc) noexcept override;
    STDMETHODIMP ReleaseDC(HDC dc) noexcept override;
    STDMETHODIMP InvalidateRect(LPCRECT rect, BOOL erase) noexcept override;
    STDMETHODIMP InvalidateRgn(HRGN region, BOOL erase) noexcept override;
    STDMETHODIMP ScrollRect(INT dx, INT dy, LPCRECT scrollRect, LPCRECT clipRect) noexcept override;
    STDMETHODIMP AdjustRect(LPRECT rect) noexcept override;
    STDMETHODIMP OnDefWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) noexcept override;

    // IOleInPlaceUIWindow
    STDMETHODIMP GetBorder(LPRECT border) noexcept override;
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS widths) noexcept override;
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) noexcept override;
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* activeObject, LPCOLESTR objectName) noexcept override;

    // IOleInPlaceFrame
    STDMETHODIMP InsertMenus(HMENU sharedMenu, LPOLEMENUGROUPWIDTHS menuWidths) noexcept override;
    STDMETHODIMP SetMenu(HMENU sharedMenu, HOLEMENU oleMenu, HWND activeObjectWindow) noexcept override;
    STDMETHODIMP RemoveMenus(HMENU sharedMenu) noexcept override;
    STDMETHODIMP SetStatusText(LPCOLESTR statusText) noexcept override;
    STDMETHODIMP EnableModeless(BOOL enable) noexcept override;
    STDMETHODIMP TranslateAccelerator(LPMSG message, WORD id) noexcept override;

    // IStorage: the control may ask for one; only SetClass succeeds.
    STDMETHODIMP CreateStream(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                              IStream** stream) noexcept override;
    STDMETHODIMP OpenStream(const OLECHAR* name, void* reserved1, DWORD mode, DWORD reserved2,
                            IStream** stream) noexcept override;
    STDMETHODIMP CreateStorage(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                               IStorage** storage) noexcept override;
    STDMETHODIMP OpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD reserved,
                             IStorage** storage) noexcept override;
    STDMETHODIMP CopyTo(DWORD excludeCount, const IID* excludeIids, SNB exclude,
                        IStorage* destination) noexcept override;
    STDMETHODIMP MoveElementTo(const OLECHAR* name, IStorage* destination, const OLECHAR* newName,
                               DWORD flags) noexcept override;
    STDMETHODIMP Commit(DWORD commitFlags) noexcept override;
    STDMETHODIMP Revert() noexcept override;
    STDMETHODIMP EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3,
                              IEnumSTATSTG** elements) noexcept override;
    STDMETHODIMP DestroyElement(const OLECHAR* name) noexcept override;
    STDMETHODIMP RenameElement(const OLECHAR* oldName, const OLECHAR* newName) noexcept override;
    STDMETHODIMP SetElementTimes(const OLECHAR* name, const FILETIME* created, const FILETIME* accessed,
                                 const FILETIME* modified) noexcept override;
    STDMETHODIMP SetClass(REFCLSID clsid) noexcept override;
    STDMETHODIMP SetStateBits(DWORD stateBits, DWORD mask) noexcept override;
    STDMETHODIMP Stat(STATSTG* statStg, DWORD statFlag) noexcept override;

    // Counter shared by the four interfaces; it may go negative, nothing is freed.
    LONG m_refCount = 0;
    // The control's position in panel client pixels.
    RECT m_posRect = {};
    // The control's size from the last WM_SIZE, in pixels and in HIMETRIC for SetExtent.
    SIZE m_extentPixels = {};
    SIZEL m_extentHimetric = {};
    // The hosted control; a view object switches painting from black fill to the control.
    CComPtr<IOleObject> m_oleObject;
    CComPtr<IViewObject> m_viewObject;
    // Set when the control activates in place; it gives the control's own window.
    CComPtr<IOleInPlaceObject> m_inPlaceObject;
    // True from AttachControl until the control's session with this site has been ended (on
    // WM_DESTROY, at the next AttachControl or at destruction, whichever comes first).
    bool m_sessionOpen = false;
    // True while the lock taken by OnInPlaceActivate is held; the end of the session gives it back.
    bool m_lockedRunning = false;

protected:
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT& result) override;

private:
    void OnDestroy() noexcept;
    void OnSize(LPARAM lParam) noexcept;
    LRESULT OnPaint() noexcept;
    void PaintControl(HDC target, const RECT& updateRect) noexcept;
    HWND ControlWindow() noexcept;
    void InvalidatePanel(BOOL erase) noexcept;
    void EndControlSession() noexcept;
    void ReleaseControl() noexcept;

    IOleClientSite* ClientSite() noexcept { return static_cast<IOleClientSite*>(this); }
};
