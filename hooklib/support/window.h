#pragma once
#include <windows.h>

// A window whose messages reach one C++ object. Each object gets its own window procedure: a
// small machine-code stub that puts the object in place of the window handle and jumps to the
// shared procedure, which hands the message to the object's message map. All objects share one
// private window class, registered on the first creation under a generated name.
class CWindowImpl {
public:
    CWindowImpl() noexcept = default;
    CWindowImpl(const CWindowImpl&) = delete;
    CWindowImpl& operator=(const CWindowImpl&) = delete;
    // Frees the stub. A window that outlives its object is handed to DefWindowProcW first, so
    // that no message ever reaches code or an object that is gone.
    virtual ~CWindowImpl();

    // NULL when the window cannot be created or this object already has a live window.
    HWND Create(HWND parent, const RECT& rect, PCWSTR windowName, DWORD style, DWORD exStyle = 0,
                HMENU menuOrId = nullptr, LPVOID createParam = nullptr);

    HWND m_hWnd = nullptr;

    // The registered class's name and atom (0 before the first creation).
    static PCWSTR ClassName() noexcept;
    static ATOM ClassAtom() noexcept;
    // Gives the class back; for library unload. Fails while windows of the class exist.
    static void UnregisterClass() noexcept;

protected:
    // The message map: TRUE when the message was handled, with its result in `result`.
    // Unhandled messages go to DefWindowProcW.
    virtual BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      LRESULT& result) = 0;
    // Called after the window's last message (WM_NCDESTROY), when m_hWnd is already NULL.
    virtual void OnFinalMessage(HWND hWnd) {}

private:
    struct CThunk;

    static LRESULT CALLBACK StartWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ObjectWindowProc(HWND self, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    bool MakeThunk() noexcept;

    CThunk* m_thunk = nullptr;
};
