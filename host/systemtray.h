#pragma once
#include <windows.h>
#include <shellapi.h>

// The program's one notification-area icon: adds it, turns the shell's mouse notifications into
// the context menu or the default command, puts it back when the shell's notification area is
// re-created, and deletes it at process exit.
class CSystemTray {
public:
    static constexpr UINT ICON_ID = 109;                   // also the context menu's resource id
    static constexpr UINT CALLBACK_MESSAGE = WM_APP + 10;  // 0x800A
    static constexpr UINT ICON_FLAGS = NIF_MESSAGE | NIF_ICON | NIF_TIP;

    CSystemTray() noexcept;
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;
    virtual ~CSystemTray();

    // Adds the icon; `target` receives the menu's WM_COMMAND. FALSE when the icon was not added.
    BOOL Setup(HWND target, HINSTANCE instance, HICON icon) noexcept;
    // The icon's callback message (version-0 protocol: wParam the icon id, LOWORD(lParam) the
    // mouse message). 0 when it is not for this icon or nothing could be done, else 1.
    virtual LRESULT HandleCallback(WPARAM wParam, LPARAM lParam) noexcept;
    // Called with the context menu's popup just before it is shown.
    virtual void PrepareMenu(HMENU popup) noexcept {}

    // The shell re-created its notification area: put the icon back if it had been shown.
    void OnTaskbarCreated() noexcept;

    static UINT TaskbarCreatedMessage() noexcept { return s_taskbarCreatedMessage; }

    bool IsHidden() const noexcept { return m_hidden != FALSE; }
    bool IsRemoved() const noexcept { return m_removed != FALSE; }
    bool WillReAdd() const noexcept { return m_reAdd != FALSE; }
    HWND HiddenWindow() const noexcept { return m_hiddenWnd; }
    const NOTIFYICONDATAW& IconRecord() const noexcept { return m_iconData; }

private:
    static LRESULT CALLBACK TrayWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT HandleTrayMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    HWND WindowToActOn() const noexcept;
    void ShowContextMenu(HWND owner, HMENU popup) noexcept;
    UINT DefaultCommand() noexcept;
    // NIM_ADD of the record; when the shell still has our icon, that counts as present.
    bool AddIcon() noexcept;

    NOTIFYICONDATAW m_iconData;
    HINSTANCE m_instance = nullptr;
    HWND m_hiddenWnd = nullptr;
    HWND m_targetWnd = nullptr;
    BOOL m_enabled = FALSE;
    BOOL m_hidden = TRUE;
    BOOL m_removed = TRUE;
    BOOL m_reAdd = FALSE;  // the icon belongs in the notification area: re-add it after a restart
    UINT m_defaultItem = 0;
    BOOL m_defaultByPosition = TRUE;
    UINT m_creationFlags = 0;

    static CSystemTray* s_instance;
    static const UINT s_taskbarCreatedMessage;
};

extern CSystemTray g_systemTray;
