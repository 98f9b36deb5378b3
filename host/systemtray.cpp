#include "systemtray.h"

#include <cwchar>

#include "product.h"
#include "support/hresult.h"

CSystemTray* CSystemTray::s_instance = nullptr;

// In this order: the object exists before the message is registered.
CSystemTray g_systemTray;
const UINT CSystemTray::s_taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");

namespace {

constexpr WCHAR TRAY_WINDOW_CLASS[] = L"TrayIconClass";

// The context menu's popup, or NULL (with nothing left loaded) when it cannot be had.
HMENU LoadPopup(HINSTANCE instance, UINT menuId, HMENU* menu) noexcept
{
    *menu = LoadMenuW(instance, MAKEINTRESOURCEW(LOWORD(menuId)));
    if (!*menu)
        return nullptr;
    HMENU popup = GetSubMenu(*menu, 0);
    if (!popup) {
        DestroyMenu(*menu);
        *menu = nullptr;
    }
    return popup;
}

}  // namespace

CSystemTray::CSystemTray() noexcept : m_iconData{}
{
    s_instance = this;
}

CSystemTray::~CSystemTray()
{
    // No re-add from here on, whatever the shell broadcasts while we go.
    m_reAdd = FALSE;
    if (m_enabled && !m_removed) {
        m_iconData.uFlags = 0;
        if (Shell_NotifyIconW(NIM_DELETE, &m_iconData)) {
            m_hidden = TRUE;
            m_removed = TRUE;
        }
    }
    HWND hiddenWnd = m_hiddenWnd;
    m_hiddenWnd = nullptr;
    if (hiddenWnd)
        DestroyWindow(hiddenWnd);
    if (s_instance == this)
        s_instance = nullptr;
}

BOOL CSystemTray::Setup(HWND target, HINSTANCE instance, HICON icon) noexcept
{
    m_enabled = LOBYTE(LOWORD(GetVersion())) >= 4;
    if (!m_enabled)
        return FALSE;
    m_instance = instance;

    WNDCLASSEXW wc = {sizeof(wc)};
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = TrayWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = TRAY_WINDOW_CLASS;
    RegisterClassExW(&wc);
    // Top-level, so that the shell's broadcasts reach it; never shown.
    m_hiddenWnd = CreateWindowExW(0, TRAY_WINDOW_CLASS, L"", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);

    m_iconData.cbSize = sizeof(m_iconData);
    m_iconData.hWnd = target ? target : m_hiddenWnd;
    m_iconData.uID = ICON_ID;
    m_iconData.uFlags = ICON_FLAGS;
    m_iconData.uCallbackMessage = CALLBACK_MESSAGE;
    m_iconData.hIcon = icon;
    wcsncpy(m_iconData.szTip, PRODUCT_NAME, ARRAYSIZE(m_iconData.szTip) - 1);

    m_hidden = FALSE;
    m_targetWnd = m_iconData.hWnd;
    m_creationFlags = m_iconData.uFlags;

    const BOOL added = Shell_NotifyIconW(NIM_ADD, &m_iconData);
    m_hidden = !added;
    m_removed = !added;
    m_reAdd = added;
    return added;
}

bool CSystemTray::AddIcon() noexcept
{
    if (Shell_NotifyIconW(NIM_ADD, &m_iconData))
        return true;
    // A broadcast without a real restart finds our icon still there: then it is shown, and must
    // still be deleted at exit.
    return Shell_NotifyIconW(NIM_MODIFY, &m_iconData) != FALSE;
}

void CSystemTray::OnTaskbarCreated() noexcept
{
    // The new notification area is empty. The icon goes back if it was shown and not deleted;
    // the wish stays while the add fails, so that a later broadcast tries again.
    if (!m_enabled || !m_reAdd)
        return;
    m_iconData.uFlags = m_creationFlags;
    const bool added = AddIcon();
    m_hidden = !added;
    m_removed = !added;
}

HWND CSystemTray::WindowToActOn() const noexcept
{
    return m_targetWnd ? m_targetWnd : m_iconData.hWnd;
}

LRESULT CSystemTray::HandleCallback(WPARAM wParam, LPARAM lParam) noexcept
{
    if (wParam != m_iconData.uID)
        return 0;
    HWND window = WindowToActOn();
    if (!window)
        return 0;

    switch (LOWORD(lParam)) {
    case WM_RBUTTONUP: {
        HMENU menu = nullptr;
        HMENU popup = LoadPopup(m_instance, m_iconData.uID, &menu);
        if (!popup)
            return 0;
        ShowContextMenu(window, popup);
        DestroyMenu(menu);
        return 1;
    }
    case WM_LBUTTONDBLCLK: {
        SetForegroundWindow(m_iconData.hWnd);
        const UINT command = DefaultCommand();
        if (command == 0)
            return 0;
        PostMessageW(window, WM_COMMAND, command, 0);
        return 1;
    }
    default:
        return 1;
    }
}

void CSystemTray::ShowContextMenu(HWND owner, HMENU popup) noexcept
{
    SetMenuDefaultItem(popup, m_defaultItem, m_defaultByPosition);
    PrepareMenu(popup);
    POINT cursor = {};
    GetCursorPos(&cursor);
    // Foreground first and WM_NULL after: otherwise a click outside the menu does not close it.
    SetForegroundWindow(m_iconData.hWnd);
    TrackPopupMenu(popup, 0, cursor.x, cursor.y, 0, owner, nullptr);
    PostMessageW(m_iconData.hWnd, WM_NULL, 0, 0);
}

// 0 when the menu cannot be had.
UINT CSystemTray::DefaultCommand() noexcept
{
    if (!m_defaultByPosition)
        return m_defaultItem;
    HMENU menu = nullptr;
    HMENU popup = LoadPopup(m_instance, m_iconData.uID, &menu);
    if (!popup)
        return 0;
    const UINT command = GetMenuItemID(popup, static_cast<int>(m_defaultItem));
    DestroyMenu(menu);
    return command;
}

LRESULT CALLBACK CSystemTray::TrayWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallGuarded<LRESULT>(0, [&] { return HandleTrayMessage(hWnd, message, wParam, lParam); });
}

LRESULT CSystemTray::HandleTrayMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    // Messages that arrive while the window is being created, before its handle is stored, and
    // those of any other window, go to the default procedure.
    CSystemTray* tray = s_instance;
    if (!tray || hWnd != tray->m_hiddenWnd)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    if (message == s_taskbarCreatedMessage) {
        tray->OnTaskbarCreated();
        return 0;
    }
    if (message == tray->m_iconData.uCallbackMessage)
        return tray->HandleCallback(wParam, lParam);
    return DefWindowProcW(hWnd, message, wParam, lParam);
}
