// Start Menu simulator: stands in for the Windows 7 shell (explorer.exe) as far as Tallyhook.dll
// meets it, so that the hook, discovery and the panel can be driven across processes under Wine.
//
// What it stands in for:
// - The Start Menu's window tree, with the shell's class names: a top-level "DV2ControlHost"
//   whose children are "Desktop Search Open View" (holding a "SHELLDLL_DefView" result list that
//   fills it) and "Desktop OpenBox Host" > "Search Box" > "SearchEditBoxWrapperClass" >
//   "DirectUIHWND". Each class has its own window procedure, as the shell's windows do.
// - The search edit ("DirectUIHWND"): it takes the keyboard focus, keeps and draws the typed
//   text (WM_CHAR with backspace; Escape clears), takes WM_SETTEXT, answers WM_GETTEXT and
//   WM_GETTEXTLENGTH, and after every change of its text repaints itself by sending itself
//   WM_PRINTCLIENT, as the shell's edit is repainted.
// - The results view: hidden while the search text is empty and shown (WM_SHOWWINDOW) when it
//   becomes non-empty, before the edit repaints, as the shell swaps its program list for the
//   results; its list shows canned results that contain the typed text.
// - The shell's thread: an ordinary GetMessageW loop that is sent messages all the time (a
//   WM_NULL every 50 ms from a timer), since a WH_CALLWNDPROC hook runs only on sent messages.
// - The Start Menu's look: roughly the Windows 7 left pane (results above, search box at the
//   bottom) beside the right pane's links, so that screenshots read naturally.
//
// What it leaves out: the taskbar and the Start button, opening and closing the menu, real
// searching, DirectUI's accessibility (UI Automation sees these as ordinary windows), themes and
// glass, keyboard navigation of the results, and every other window of the shell.
//
// Options (command line), for the cases a test needs:
//   --omit=ROLE[,ROLE...]   leave windows out of the tree (their children go with them)
//   --case=ROLE[,ROLE...]   register the role's class name in lower case
//   --second-list           a second "SHELLDLL_DefView" after the first in the results view
//   --nest-list             the list(s) one level deeper, inside a "DUIViewWndClassName" child
//   --results-shown         the results view is visible from the start, whatever the text
//   --hidden                the Start Menu is not shown
//   --thread                the Start Menu lives on a second UI thread from the start
//   --text=TEXT             the search text at start
// Roles: startmenu results listholder list list2 openbox searchbox wrapper edit.
//
// Control channel (protocol.h): requests to the hidden "TallyStartMenuControl" window, answered
// on its UI thread without ever waiting for the test. Requests:
//   ping                      pid, threads and the current Start Menu window
//   windows                   one line per window of this process: role, class, thread,
//                             visibility, rectangles, window and class procedure and whether
//                             either lies inside Tallyhook.dll, whether it is still our own
//   modules                   whether Tallyhook.dll (with its range) and uxtheme.dll are loaded
//   shared                    the installed flag and hook handle in Tallyhook.dll's ".SHARED"
//   broadcasts                WM_NULL broadcasts seen by the control window, with the
//                             installed flag as it stood at each
//   com                       whether COM is initialised on the Start Menu thread
//   uncom                     CoUninitialize on the Start Menu thread
//   counters                  WM_PRINTCLIENT received by the edit, WM_NULL sent by the timer
//   text                      the edit's text (the reply is the text itself)
//   settext TEXT              WM_SETTEXT to the edit
//   type TEXT                 posts WM_CHAR to the edit for each UTF-16 unit (U+0008 erases)
//   show ROLE 0|1, enable ROLE 0|1, focus ROLE, move ROLE X Y W H
//   send ROLE MSG WPARAM LPARAM   SendMessageW on the Start Menu thread (numbers in C syntax)
//   destroy, create, recreate     the Start Menu on its current thread
//   recreate-thread           destroy it and build it anew on a new UI thread
//   quit                      ends the simulator with exit code 0
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cwchar>
#include <cwctype>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "moduleprobe.h"
#include "protocol.h"

namespace {

enum Role {
    ROLE_STARTMENU,
    ROLE_RESULTS,
    ROLE_LISTHOLDER,
    ROLE_LIST,
    ROLE_LIST2,
    ROLE_OPENBOX,
    ROLE_SEARCHBOX,
    ROLE_WRAPPER,
    ROLE_EDIT,
    ROLE_COUNT
};

struct CRoleInfo {
    PCWSTR name;
    PCWSTR className;
};

const CRoleInfo ROLES[ROLE_COUNT] = {
    {L"startmenu", L"DV2ControlHost"},
    {L"results", L"Desktop Search Open View"},
    {L"listholder", L"DUIViewWndClassName"},
    {L"list", L"SHELLDLL_DefView"},
    {L"list2", L"SHELLDLL_DefView"},
    {L"openbox", L"Desktop OpenBox Host"},
    {L"searchbox", L"Search Box"},
    {L"wrapper", L"SearchEditBoxWrapperClass"},
    {L"edit", L"DirectUIHWND"},
};

constexpr WCHAR THREAD_WINDOW_CLASS[] = L"TallyStartMenuThread";
constexpr UINT WM_SM_RUN = WM_APP + 1;          // lParam: std::function<void()>*, run on that thread
constexpr UINT_PTR BUSY_TIMER_ID = 1;
constexpr UINT BUSY_PERIOD_MS = 50;
constexpr UINT UI_CALL_TIMEOUT_MS = 5000;

// Geometry, in the Start Menu's client coordinates (the Windows 7 menu is about this size).
constexpr int MENU_WIDTH = 420;
constexpr int MENU_HEIGHT = 535;
const RECT LEFT_PANE = {6, 6, 266, 486};
const RECT OPENBOX_RECT = {6, 492, 266, 529};
const RECT RIGHT_PANE = {272, 6, 414, 486};

struct COptions {
    bool omit[ROLE_COUNT] = {};
    bool lowerCase[ROLE_COUNT] = {};
    bool secondList = false;
    bool nestList = false;
    bool resultsShown = false;
    bool hidden = false;
    bool onSecondThread = false;
    std::wstring initialText;
};

COptions g_options;
HINSTANCE g_instance = nullptr;
HFONT g_font = nullptr;
HFONT g_boldFont = nullptr;
HFONT g_italicFont = nullptr;

// ---------------------------------------------------------------------------------------------
// The windows this process made, readable from any of its threads.

struct COwnWindow {
    int role;            // a Role, or -1 for the simulator's helper windows
    PCWSTR name;
    LONG_PTR originalProc;
};

CRITICAL_SECTION g_ownLock;
std::map<HWND, COwnWindow> g_ownWindows;

void RememberWindow(HWND hWnd, int role, PCWSTR name)
{
    EnterCriticalSection(&g_ownLock);
    g_ownWindows[hWnd] = COwnWindow{role, name, GetWindowLongPtrW(hWnd, GWLP_WNDPROC)};
    LeaveCriticalSection(&g_ownLock);
}

void ForgetWindow(HWND hWnd)
{
    EnterCriticalSection(&g_ownLock);
    g_ownWindows.erase(hWnd);
    LeaveCriticalSection(&g_ownLock);
}

bool LookUpOwnWindow(HWND hWnd, COwnWindow& window)
{
    EnterCriticalSection(&g_ownLock);
    auto found = g_ownWindows.find(hWnd);
    const bool known = found != g_ownWindows.end();
    if (known)
        window = found->second;
    LeaveCriticalSection(&g_ownLock);
    return known;
}

// ---------------------------------------------------------------------------------------------
// One Start Menu; it belongs to the UI thread that built it.

struct CStartMenu {
    HWND wnd[ROLE_COUNT] = {};
    std::wstring text;
    bool resultsVisible = false;
    LONG printClientCount = 0;
};

struct CUiThread {
    DWORD threadId = 0;
    HWND threadWnd = nullptr;   // message-only; runs requests and keeps the thread busy
    CStartMenu* startMenu = nullptr;
    LONG busyNulls = 0;
};

thread_local CUiThread* t_ui = nullptr;

// Owned by the main thread: the thread that hosts (or last hosted) the Start Menu.
CUiThread g_mainUi;
CUiThread* g_currentUi = &g_mainUi;
std::vector<CUiThread*> g_secondaryUis;

CStartMenu* CurrentMenu()
{
    return t_ui ? t_ui->startMenu : nullptr;
}

HWND MenuWindow(int role)
{
    CStartMenu* menu = CurrentMenu();
    return menu ? menu->wnd[role] : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Painting.

struct CResultItem {
    PCWSTR group;
    PCWSTR name;
};

const CResultItem RESULT_ITEMS[] = {
    {L"Programs", L"Calculator"},
    {L"Programs", L"Character Map"},
    {L"Programs", L"Command Prompt"},
    {L"Programs", L"Math Input Panel"},
    {L"Programs", L"Notepad"},
    {L"Programs", L"Paint"},
    {L"Programs", L"WordPad"},
    {L"Programs", L"Windows Media Player"},
    {L"Control Panel", L"Date and Time"},
    {L"Control Panel", L"Display"},
    {L"Control Panel", L"Region and Language"},
    {L"Control Panel", L"Sound"},
    {L"Control Panel", L"System"},
    {L"Files", L"Notes.txt"},
    {L"Files", L"Tax calculation 2010.xls"},
    {L"Files", L"Budget.xlsx"},
};

const PCWSTR PROGRAMS[] = {L"Getting Started", L"Windows Media Center", L"Calculator",
                           L"Sticky Notes",    L"Snipping Tool",        L"Paint",
                           L"Remote Desktop Connection", L"Magnifier", L"Solitaire"};

const PCWSTR PLACES[] = {L"Tally",        L"Documents",   L"Pictures",
                         L"Music",        L"Games",       L"Computer",
                         L"Control Panel", L"Devices and Printers", L"Default Programs",
                         L"Help and Support"};

void Fill(HDC dc, const RECT& rect, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

void Frame(HDC dc, const RECT& rect, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    FrameRect(dc, &rect, brush);
    DeleteObject(brush);
}

void DrawLine(HDC dc, int x, int y, PCWSTR text, HFONT font, COLORREF colour)
{
    HGDIOBJ previous = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    TextOutW(dc, x, y, text, static_cast<int>(wcslen(text)));
    SelectObject(dc, previous);
}

void DrawProgramIcon(HDC dc, int x, int y, int size, int seed)
{
    const COLORREF colours[] = {RGB(66, 133, 200), RGB(230, 140, 40), RGB(80, 160, 90), RGB(170, 80, 160)};
    RECT icon = {x, y, x + size, y + size};
    Fill(dc, icon, colours[seed % 4]);
    Frame(dc, icon, RGB(60, 60, 60));
}

void DrawGlassGradient(HDC dc, const RECT& rect)
{
    const int height = rect.bottom - rect.top;
    for (int y = 0; y < height; ++y) {
        const int t = height > 1 ? y * 255 / (height - 1) : 0;
        const COLORREF colour = RGB(44 - t * 20 / 255, 86 - t * 36 / 255, 132 - t * 44 / 255);
        RECT line = {rect.left, rect.top + y, rect.right, rect.top + y + 1};
        Fill(dc, line, colour);
    }
}

// The Start Menu's own surface: frame, program list (while no search runs) and right pane.
void PaintStartMenu(HWND hWnd, HDC dc)
{
    RECT client;
    GetClientRect(hWnd, &client);
    DrawGlassGradient(dc, client);
    Frame(dc, client, RGB(20, 30, 50));

    Fill(dc, LEFT_PANE, RGB(255, 255, 255));
    Frame(dc, LEFT_PANE, RGB(120, 140, 170));
    CStartMenu* menu = CurrentMenu();
    if (!menu || !menu->resultsVisible) {
        int y = LEFT_PANE.top + 8;
        for (size_t i = 0; i < sizeof(PROGRAMS) / sizeof(PROGRAMS[0]); ++i, y += 34) {
            DrawProgramIcon(dc, LEFT_PANE.left + 8, y, 24, static_cast<int>(i));
            DrawLine(dc, LEFT_PANE.left + 40, y + 5, PROGRAMS[i], g_font, RGB(0, 0, 0));
        }
        RECT separator = {LEFT_PANE.left + 8, LEFT_PANE.bottom - 40, LEFT_PANE.right - 8, LEFT_PANE.bottom - 39};
        Fill(dc, separator, RGB(214, 223, 235));
        DrawLine(dc, LEFT_PANE.left + 14, LEFT_PANE.bottom - 30, L"\x25B6  All Programs", g_font, RGB(0, 0, 0));
    }

    int y = RIGHT_PANE.top + 10;
    for (size_t i = 0; i < sizeof(PLACES) / sizeof(PLACES[0]); ++i, y += (i == 1 || i == 5 || i == 8) ? 38 : 30)
        DrawLine(dc, RIGHT_PANE.left + 8, y, PLACES[i], g_font, RGB(255, 255, 255));
    RECT shutDown = {RIGHT_PANE.left + 8, OPENBOX_RECT.top + 6, RIGHT_PANE.left + 86, OPENBOX_RECT.bottom - 6};
    Fill(dc, shutDown, RGB(60, 100, 150));
    Frame(dc, shutDown, RGB(200, 210, 230));
    DrawLine(dc, shutDown.left + 8, shutDown.top + 5, L"Shut down", g_font, RGB(255, 255, 255));
}

void DrawMagnifier(HDC dc, int cx, int cy)
{
    HPEN pen = CreatePen(PS_SOLID, 2, RGB(90, 100, 120));
    HGDIOBJ previousPen = SelectObject(dc, pen);
    HGDIOBJ previousBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Ellipse(dc, cx - 5, cy - 5, cx + 4, cy + 4);
    MoveToEx(dc, cx + 3, cy + 3, nullptr);
    LineTo(dc, cx + 7, cy + 7);
    SelectObject(dc, previousBrush);
    SelectObject(dc, previousPen);
    DeleteObject(pen);
}

bool ContainsNoCase(PCWSTR haystack, const std::wstring& needle)
{
    std::wstring a = haystack, b = needle;
    for (auto& c : a)
        c = towlower(c);
    for (auto& c : b)
        c = towlower(c);
    return a.find(b) != std::wstring::npos;
}

void PaintResultList(HWND hWnd, HDC dc, bool second)
{
    RECT client;
    GetClientRect(hWnd, &client);
    Fill(dc, client, RGB(255, 255, 255));
    CStartMenu* menu = CurrentMenu();
    const std::wstring query = menu ? menu->text : std::wstring();

    int y = 6;
    int shown = 0;
    PCWSTR group = nullptr;
    for (const CResultItem& item : RESULT_ITEMS) {
        if (second == (wcscmp(item.group, L"Files") != 0) || query.empty() || !ContainsNoCase(item.name, query))
            continue;
        if (!group || wcscmp(group, item.group) != 0) {
            group = item.group;
            DrawLine(dc, 10, y, group, g_boldFont, RGB(30, 57, 91));
            RECT rule = {10, y + 18, client.right - 10, y + 19};
            Fill(dc, rule, RGB(214, 223, 235));
            y += 24;
        }
        DrawProgramIcon(dc, 20, y + 1, 16, shown);
        DrawLine(dc, 44, y + 2, item.name, g_font, RGB(0, 0, 0));
        y += 22;
        ++shown;
    }
    if (!shown)
        DrawLine(dc, 10, y, L"No items match your search.", g_italicFont, RGB(110, 110, 110));
    if (!second) {
        RECT rule = {10, client.bottom - 30, client.right - 10, client.bottom - 29};
        Fill(dc, rule, RGB(214, 223, 235));
        DrawMagnifier(dc, 20, client.bottom - 16);
        DrawLine(dc, 34, client.bottom - 24, L"See more results", g_font, RGB(0, 0, 0));
    }
}

void PaintSearchBox(HWND hWnd, HDC dc)
{
    RECT client;
    GetClientRect(hWnd, &client);
    Fill(dc, client, RGB(255, 255, 255));
    Frame(dc, client, RGB(140, 155, 180));
    DrawMagnifier(dc, client.right - 13, client.bottom / 2 - 1);
}

int TextOffset(HDC dc, const std::wstring& text, int width, int* textWidth)
{
    HGDIOBJ previous = SelectObject(dc, g_font);
    SIZE extent = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, previous);
    *textWidth = extent.cx;
    // Keep the end of a long text in view, as an edit does.
    const int offset = width - 8 - extent.cx;
    return offset < 0 ? offset : 0;
}

void PaintSearchEdit(HWND hWnd, HDC dc)
{
    RECT client;
    GetClientRect(hWnd, &client);
    Fill(dc, client, RGB(255, 255, 255));
    CStartMenu* menu = CurrentMenu();
    const std::wstring text = menu ? menu->text : std::wstring();
    if (text.empty()) {
        DrawLine(dc, 3, 2, L"Search programs and files", g_italicFont, RGB(128, 128, 128));
        return;
    }
    int textWidth = 0;
    const int offset = TextOffset(dc, text, client.right, &textWidth);
    HGDIOBJ previous = SelectObject(dc, g_font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutW(dc, 3 + offset, 2, text.c_str(), static_cast<int>(text.size()));
    SelectObject(dc, previous);
}

void PlaceCaret(HWND edit)
{
    if (GetFocus() != edit)
        return;
    CStartMenu* menu = CurrentMenu();
    HDC dc = GetDC(edit);
    RECT client;
    GetClientRect(edit, &client);
    int textWidth = 0;
    const int offset = TextOffset(dc, menu ? menu->text : std::wstring(), client.right, &textWidth);
    ReleaseDC(edit, dc);
    SetCaretPos(3 + offset + textWidth, 2);
}

// ---------------------------------------------------------------------------------------------
// The search edit's text.

void RepaintThroughPrintClient(HWND edit)
{
    HDC dc = GetDC(edit);
    if (!dc)
        return;
    SendMessageW(edit, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    ReleaseDC(edit, dc);
}

void ChangeSearchText(CStartMenu& menu, const std::wstring& text)
{
    if (menu.text == text)
        return;
    menu.text = text;
    // The shell swaps the program list for the results as soon as there is a search.
    const bool showResults = g_options.resultsShown || !text.empty();
    if (menu.wnd[ROLE_RESULTS] && showResults != menu.resultsVisible) {
        menu.resultsVisible = showResults;
        ShowWindow(menu.wnd[ROLE_RESULTS], showResults ? SW_SHOWNA : SW_HIDE);
    }
    if (menu.wnd[ROLE_STARTMENU])
        InvalidateRect(menu.wnd[ROLE_STARTMENU], nullptr, FALSE);
    for (int role : {ROLE_LIST, ROLE_LIST2})
        if (menu.wnd[role])
            InvalidateRect(menu.wnd[role], nullptr, FALSE);
    if (HWND edit = menu.wnd[ROLE_EDIT]) {
        PlaceCaret(edit);
        RepaintThroughPrintClient(edit);
    }
}

void EraseLastCharacter(std::wstring& text)
{
    if (text.empty())
        return;
    text.pop_back();
    if (!text.empty() && IS_HIGH_SURROGATE(text.back()))
        text.pop_back();
}

LRESULT HandleSearchEditMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, bool& handled)
{
    CStartMenu* menu = CurrentMenu();
    handled = true;
    switch (message) {
    case WM_CHAR: {
        if (!menu)
            return 0;
        std::wstring text = menu->text;
        const WCHAR ch = static_cast<WCHAR>(wParam);
        if (ch == L'\b')
            EraseLastCharacter(text);
        else if (ch == 0x1B)
            text.clear();
        else if (ch >= 0x20 && ch != 0x7F)
            text += ch;
        ChangeSearchText(*menu, text);
        return 0;
    }
    case WM_SETTEXT:
        if (menu)
            ChangeSearchText(*menu, lParam ? reinterpret_cast<PCWSTR>(lParam) : L"");
        return TRUE;
    case WM_GETTEXT: {
        if (!menu || wParam == 0 || !lParam)
            return 0;
        PWSTR buffer = reinterpret_cast<PWSTR>(lParam);
        const size_t count = menu->text.size() < wParam - 1 ? menu->text.size() : wParam - 1;
        wmemcpy(buffer, menu->text.c_str(), count);
        buffer[count] = L'\0';
        return static_cast<LRESULT>(count);
    }
    case WM_GETTEXTLENGTH:
        return menu ? static_cast<LRESULT>(menu->text.size()) : 0;
    case WM_PRINTCLIENT:
        if (menu)
            ++menu->printClientCount;
        PaintSearchEdit(hWnd, reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS;
    case WM_LBUTTONDOWN:
        SetFocus(hWnd);
        return 0;
    case WM_SETFOCUS: {
        RECT client;
        GetClientRect(hWnd, &client);
        CreateCaret(hWnd, nullptr, 1, client.bottom - 4 > 1 ? client.bottom - 4 : 1);
        PlaceCaret(hWnd);
        ShowCaret(hWnd);
        return 0;
    }
    case WM_KILLFOCUS:
        DestroyCaret();
        return 0;
    }
    handled = false;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Window procedures: one per role, as each of the shell's classes has its own.

void ForgetMenuWindow(HWND hWnd)
{
    ForgetWindow(hWnd);
    if (CStartMenu* menu = CurrentMenu())
        for (HWND& wnd : menu->wnd)
            if (wnd == hWnd)
                wnd = nullptr;
}

LRESULT HandleRoleMessage(int role, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCDESTROY)
        ForgetMenuWindow(hWnd);
    if (role == ROLE_EDIT) {
        bool handled = false;
        const LRESULT result = HandleSearchEditMessage(hWnd, message, wParam, lParam, handled);
        if (handled)
            return result;
    }
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hWnd, &ps);
        switch (role) {
        case ROLE_STARTMENU:
            PaintStartMenu(hWnd, dc);
            break;
        case ROLE_LIST:
        case ROLE_LIST2:
            // Two lists may share one class: the window tells which one this is.
            PaintResultList(hWnd, dc, hWnd == MenuWindow(ROLE_LIST2));
            break;
        case ROLE_OPENBOX: {
            RECT client;
            GetClientRect(hWnd, &client);
            RECT inMenu = client;
            MapWindowPoints(hWnd, GetAncestor(hWnd, GA_ROOT), reinterpret_cast<POINT*>(&inMenu), 2);
            RECT menuClient = {0, 0, MENU_WIDTH, MENU_HEIGHT};
            // The strip continues the menu's gradient behind the search box.
            SetViewportOrgEx(dc, -inMenu.left, -inMenu.top, nullptr);
            DrawGlassGradient(dc, menuClient);
            SetViewportOrgEx(dc, 0, 0, nullptr);
            break;
        }
        case ROLE_SEARCHBOX:
            PaintSearchBox(hWnd, dc);
            break;
        case ROLE_EDIT:
            PaintSearchEdit(hWnd, dc);
            break;
        default: {
            RECT client;
            GetClientRect(hWnd, &client);
            Fill(dc, client, RGB(255, 255, 255));
        }
        }
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_ACTIVATE:
        if (role == ROLE_STARTMENU && LOWORD(wParam) != WA_INACTIVE) {
            if (HWND edit = MenuWindow(ROLE_EDIT)) {
                SetFocus(edit);
                return 0;
            }
        }
        break;
    case WM_CLOSE:
        // The Start Menu is not closed by its user; only the simulator destroys it.
        if (role == ROLE_STARTMENU)
            return 0;
        break;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

template <int R>
LRESULT CALLBACK RoleWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HandleRoleMessage(R, hWnd, message, wParam, lParam);
}

using RoleProcTable = WNDPROC[ROLE_COUNT];
const RoleProcTable ROLE_PROCS = {
    RoleWindowProc<ROLE_STARTMENU>, RoleWindowProc<ROLE_RESULTS>, RoleWindowProc<ROLE_LISTHOLDER>,
    RoleWindowProc<ROLE_LIST>,      RoleWindowProc<ROLE_LIST2>,   RoleWindowProc<ROLE_OPENBOX>,
    RoleWindowProc<ROLE_SEARCHBOX>, RoleWindowProc<ROLE_WRAPPER>, RoleWindowProc<ROLE_EDIT>,
};

// ---------------------------------------------------------------------------------------------
// Classes. Names are case-insensitive to Windows, so a name that differs from another only in
// case (a lower-case list beside a proper one) is registered under a second instance handle.

struct CRoleClass {
    std::wstring name;
    HINSTANCE instance = nullptr;
};

CRoleClass g_roleClasses[ROLE_COUNT];

std::wstring RoleClassName(int role)
{
    std::wstring name = ROLES[role].className;
    if (g_options.lowerCase[role])
        for (auto& c : name)
            c = towlower(c);
    return name;
}

bool RegisterRoleClass(int role)
{
    const std::wstring name = RoleClassName(role);
    for (int other = 0; other < role; ++other) {
        if (g_roleClasses[other].instance && g_roleClasses[other].name == name) {
            g_roleClasses[role] = g_roleClasses[other];
            return true;
        }
    }
    const HINSTANCE candidates[] = {g_instance, GetModuleHandleW(L"kernel32.dll"), GetModuleHandleW(L"ntdll.dll")};
    for (HINSTANCE instance : candidates) {
        WNDCLASSEXW wc = {sizeof(wc)};
        wc.style = CS_HREDRAW | CS_VREDRAW | (role == ROLE_STARTMENU ? CS_DROPSHADOW : 0);
        wc.lpfnWndProc = ROLE_PROCS[role];
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, role == ROLE_EDIT ? IDC_IBEAM : IDC_ARROW);
        wc.lpszClassName = name.c_str();
        if (RegisterClassExW(&wc)) {
            g_roleClasses[role].name = name;
            g_roleClasses[role].instance = instance;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Building and tearing down the Start Menu, always on the UI thread that owns it.

HWND CreateRoleWindow(CStartMenu& menu, int role, HWND parent, const RECT& rect, DWORD style, DWORD exStyle = 0)
{
    if (g_options.omit[role] || (parent == nullptr && role != ROLE_STARTMENU))
        return nullptr;
    const CRoleClass& roleClass = g_roleClasses[role];
    if (!roleClass.instance)
        return nullptr;
    HWND hWnd = CreateWindowExW(exStyle, roleClass.name.c_str(), L"", style, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                                roleClass.instance, nullptr);
    if (hWnd) {
        RememberWindow(hWnd, role, ROLES[role].name);
        menu.wnd[role] = hWnd;
    }
    return hWnd;
}

RECT Sized(int width, int height)
{
    return RECT{0, 0, width, height};
}

void CreateStartMenu()
{
    if (!t_ui || t_ui->startMenu)
        return;
    CStartMenu* menu = new CStartMenu;
    t_ui->startMenu = menu;
    menu->text = g_options.initialText;
    menu->resultsVisible = g_options.resultsShown || !menu->text.empty();

    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const int y = screenHeight > MENU_HEIGHT + 40 ? screenHeight - MENU_HEIGHT - 40 : 0;
    RECT frame = {0, 0, MENU_WIDTH, MENU_HEIGHT};
    AdjustWindowRectEx(&frame, WS_POPUP, FALSE, WS_EX_TOOLWINDOW);
    const RECT menuRect = {0, y, frame.right - frame.left, y + frame.bottom - frame.top};
    HWND startMenu = CreateRoleWindow(*menu, ROLE_STARTMENU, nullptr, menuRect,
                                      WS_POPUP | WS_CLIPCHILDREN, WS_EX_TOOLWINDOW | WS_EX_TOPMOST);

    const DWORD child = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    const int paneWidth = LEFT_PANE.right - LEFT_PANE.left, paneHeight = LEFT_PANE.bottom - LEFT_PANE.top;
    HWND results = CreateRoleWindow(*menu, ROLE_RESULTS, startMenu, LEFT_PANE,
                                    (child & ~WS_VISIBLE) | (menu->resultsVisible ? WS_VISIBLE : 0));
    HWND listParent = results;
    if (g_options.nestList)
        listParent = CreateRoleWindow(*menu, ROLE_LISTHOLDER, results, Sized(paneWidth, paneHeight), child);
    CreateRoleWindow(*menu, ROLE_LIST, listParent, Sized(paneWidth, paneHeight), child);
    if (g_options.secondList)
        CreateRoleWindow(*menu, ROLE_LIST2, listParent, Sized(paneWidth, paneHeight), child);

    const int boxWidth = OPENBOX_RECT.right - OPENBOX_RECT.left, boxHeight = OPENBOX_RECT.bottom - OPENBOX_RECT.top;
    HWND openBox = CreateRoleWindow(*menu, ROLE_OPENBOX, startMenu, OPENBOX_RECT, child);
    const RECT searchBoxRect = {6, 6, boxWidth - 6, boxHeight - 6};
    HWND searchBox = CreateRoleWindow(*menu, ROLE_SEARCHBOX, openBox, searchBoxRect, child);
    const int searchWidth = searchBoxRect.right - searchBoxRect.left, searchHeight = searchBoxRect.bottom - searchBoxRect.top;
    const RECT wrapperRect = {2, 2, searchWidth - 24, searchHeight - 2};
    HWND wrapper = CreateRoleWindow(*menu, ROLE_WRAPPER, searchBox, wrapperRect, child);
    HWND edit = CreateRoleWindow(*menu, ROLE_EDIT, wrapper,
                                 Sized(wrapperRect.right - wrapperRect.left, wrapperRect.bottom - wrapperRect.top),
                                 child | WS_TABSTOP);

    if (startMenu && !g_options.hidden) {
        // Shown first and activated after: under Wine a window that is active when it is mapped
        // counts as managed by a window manager, and hiding or destroying it then waits two
        // seconds for one that does not exist on the test display.
        ShowWindow(startMenu, SW_SHOWNA);
        SetForegroundWindow(startMenu);
        UpdateWindow(startMenu);
    }
    if (edit)
        SetFocus(edit);
}

void DestroyStartMenu()
{
    if (!t_ui || !t_ui->startMenu)
        return;
    CStartMenu* menu = t_ui->startMenu;
    if (menu->wnd[ROLE_STARTMENU])
        DestroyWindow(menu->wnd[ROLE_STARTMENU]);
    // Children of an omitted top-level window do not exist, so nothing else is left.
    t_ui->startMenu = nullptr;
    delete menu;
}

// ---------------------------------------------------------------------------------------------
// UI threads.

LRESULT CALLBACK ThreadWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == BUSY_TIMER_ID && t_ui) {
            // The shell's thread is sent messages all the time; a WH_CALLWNDPROC hook sees only
            // those, so keep a steady trickle going to the Start Menu (or to this window).
            HWND startMenu = MenuWindow(ROLE_STARTMENU);
            ++t_ui->busyNulls;
            SendMessageW(startMenu && IsWindow(startMenu) ? startMenu : hWnd, WM_NULL, 0, 0);
        }
        return 0;
    case WM_SM_RUN:
        (*reinterpret_cast<std::function<void()>*>(lParam))();
        return 1;
    case WM_NCDESTROY:
        ForgetWindow(hWnd);
        break;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

bool StartUiOnThisThread(CUiThread& ui)
{
    t_ui = &ui;
    ui.threadId = GetCurrentThreadId();
    ui.threadWnd = CreateWindowExW(0, THREAD_WINDOW_CLASS, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   g_instance, nullptr);
    if (!ui.threadWnd)
        return false;
    RememberWindow(ui.threadWnd, -1, L"thread");
    SetTimer(ui.threadWnd, BUSY_TIMER_ID, BUSY_PERIOD_MS, nullptr);
    return true;
}

void StopUiOnThisThread(CUiThread& ui)
{
    DestroyStartMenu();
    if (ui.threadWnd)
        DestroyWindow(ui.threadWnd);
    ui.threadWnd = nullptr;
}

void RunMessageLoop()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

struct CSecondaryStart {
    CUiThread* ui;
    HANDLE ready;
};

DWORD WINAPI SecondaryUiThread(LPVOID parameter)
{
    CSecondaryStart* start = static_cast<CSecondaryStart*>(parameter);
    CUiThread& ui = *start->ui;
    if (StartUiOnThisThread(ui))
        CreateStartMenu();
    SetEvent(start->ready);
    RunMessageLoop();
    StopUiOnThisThread(ui);
    return 0;
}

// Waits for the handle while still taking the messages sent to this thread.
bool WaitPumpingSentMessages(HANDLE handle, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return false;
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, timeoutMs - elapsed, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result != WAIT_OBJECT_0 + 1)
            return false;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// Runs `body` on the thread that hosts the Start Menu; false when that thread does not answer.
bool RunOnUiThread(const std::function<void()>& body)
{
    CUiThread* ui = g_currentUi;
    if (ui->threadId == GetCurrentThreadId()) {
        body();
        return true;
    }
    std::function<void()> copy = body;
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(ui->threadWnd, WM_SM_RUN, 0, reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL,
                               UI_CALL_TIMEOUT_MS, &result) && result == 1;
}

bool MoveStartMenuToNewThread()
{
    CUiThread* old = g_currentUi;
    if (!RunOnUiThread(DestroyStartMenu))
        return false;
    CUiThread* ui = new CUiThread;
    CSecondaryStart start = {ui, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, SecondaryUiThread, &start, 0, nullptr);
    const bool ready = thread && WaitPumpingSentMessages(start.ready, UI_CALL_TIMEOUT_MS);
    CloseHandle(start.ready);
    if (thread)
        CloseHandle(thread);
    if (!ready)
        return false;
    g_secondaryUis.push_back(ui);
    g_currentUi = ui;
    // A secondary thread that no longer hosts the Start Menu ends.
    if (old != &g_mainUi)
        PostThreadMessageW(old->threadId, WM_QUIT, 0, 0);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Facts for the control channel.

std::wstring Hex(const void* value)
{
    WCHAR buffer[32];
    swprintf(buffer, 32, L"0x%08lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(value)));
    return buffer;
}

std::wstring Dec(long long value)
{
    return std::to_wstring(value);
}

HMODULE TallyhookModule()
{
    return GetModuleHandleW(L"Tallyhook.dll");
}

BOOL CALLBACK AppendWindow(HWND hWnd, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
    return TRUE;
}

BOOL CALLBACK AppendWindowOfThisProcess(HWND hWnd, LPARAM lParam)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(hWnd, &processId);
    if (processId == GetCurrentProcessId())
        AppendWindow(hWnd, lParam);
    return TRUE;
}

void CollectWindowTree(HWND hWnd, std::vector<HWND>& windows)
{
    windows.push_back(hWnd);
    EnumChildWindows(hWnd, AppendWindow, reinterpret_cast<LPARAM>(&windows));
}

// Every window of this process: top-level ones, message-only ones and all their descendants.
std::vector<HWND> ProcessWindows()
{
    const DWORD self = GetCurrentProcessId();
    std::vector<HWND> tops;
    EnumWindows(AppendWindowOfThisProcess, reinterpret_cast<LPARAM>(&tops));
    for (HWND hWnd = nullptr; (hWnd = FindWindowExW(HWND_MESSAGE, hWnd, nullptr, nullptr)) != nullptr;) {
        DWORD processId = 0;
        GetWindowThreadProcessId(hWnd, &processId);
        if (processId == self)
            tops.push_back(hWnd);
    }
    std::vector<HWND> windows;
    for (HWND top : tops)
        CollectWindowTree(top, windows);
    return windows;
}

std::wstring DescribeWindow(HWND hWnd, const CModuleRange& tallyhook)
{
    WCHAR className[260] = L"";
    GetClassNameW(hWnd, className, 260);
    COwnWindow own = {-1, L"foreign", 0};
    const bool known = LookUpOwnWindow(hWnd, own);
    const LONG_PTR wndProc = GetWindowLongPtrW(hWnd, GWLP_WNDPROC);
    const ULONG_PTR classProc = GetClassLongPtrW(hWnd, GCLP_WNDPROC);
    HWND parent = GetAncestor(hWnd, GA_PARENT);
    if (parent == GetDesktopWindow())
        parent = nullptr;
    RECT rect = {}, client = {};
    GetWindowRect(hWnd, &rect);
    GetClientRect(hWnd, &client);
    RECT pos = rect;
    if (parent && (GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD))
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&pos), 2);

    std::wstring line = L"role=" + std::wstring(known ? own.name : L"foreign");
    line += L" hwnd=" + Hex(hWnd) + L" parent=" + Hex(parent);
    line += L" class=\"" + std::wstring(className) + L"\"";
    line += L" thread=" + Dec(GetWindowThreadProcessId(hWnd, nullptr));
    line += L" style=" + Hex(reinterpret_cast<void*>(static_cast<ULONG_PTR>(GetWindowLongW(hWnd, GWL_STYLE))));
    line += L" visible=" + Dec(IsWindowVisible(hWnd) ? 1 : 0);
    line += L" enabled=" + Dec(IsWindowEnabled(hWnd) ? 1 : 0);
    line += L" rect=" + Dec(rect.left) + L"," + Dec(rect.top) + L"," + Dec(rect.right) + L"," + Dec(rect.bottom);
    line += L" pos=" + Dec(pos.left) + L"," + Dec(pos.top) + L"," + Dec(pos.right - pos.left) + L"," +
            Dec(pos.bottom - pos.top);
    line += L" client=" + Dec(client.right) + L"," + Dec(client.bottom);
    line += L" wndproc=" + Hex(reinterpret_cast<void*>(wndProc));
    line += L" classproc=" + Hex(reinterpret_cast<void*>(classProc));
    line += L" indll=" + Dec(tallyhook.Contains(reinterpret_cast<void*>(wndProc)) ? 1 : 0);
    line += L" classindll=" + Dec(tallyhook.Contains(reinterpret_cast<void*>(classProc)) ? 1 : 0);
    line += L" own=" + Dec(known && own.originalProc == wndProc ? 1 : 0);
    return line;
}

std::wstring DescribeWindows()
{
    const CModuleRange tallyhook = ModuleRangeOf(TallyhookModule());
    std::wstring reply;
    for (HWND hWnd : ProcessWindows())
        reply += DescribeWindow(hWnd, tallyhook) + L"\n";
    return reply;
}

std::wstring DescribeModules()
{
    HMODULE tallyhook = TallyhookModule();
    const CModuleRange range = ModuleRangeOf(tallyhook);
    std::wstring reply = L"tallyhook=" + Dec(tallyhook ? 1 : 0);
    reply += L" base=" + Hex(range.base) + L" size=" + Dec(range.size);
    reply += L" uxtheme=" + Dec(GetModuleHandleW(L"uxtheme.dll") ? 1 : 0);
    return reply;
}

std::wstring DescribeSharedState()
{
    const CSharedHookState state = ReadSharedHookState(TallyhookModule());
    return L"found=" + Dec(state.found ? 1 : 0) + L" installed=" + Dec(state.installed) + L" handle=" +
           Hex(state.handle);
}

// WM_NULL broadcasts seen by the control window, with the installed flag at each (-1: the
// library is not loaded here).
std::vector<int> g_broadcastFlags;

void RecordBroadcast()
{
    const CSharedHookState state = ReadSharedHookState(TallyhookModule());
    g_broadcastFlags.push_back(state.found ? state.installed : -1);
}

std::wstring DescribeBroadcasts()
{
    std::wstring flags;
    for (int flag : g_broadcastFlags)
        flags += (flags.empty() ? L"" : L",") + Dec(flag);
    return L"count=" + Dec(static_cast<long long>(g_broadcastFlags.size())) + L" flags=" + flags;
}

// CoInitialize answers S_FALSE when the thread already has an apartment, S_OK when it had none;
// either way the probe's own initialisation is balanced at once.
std::wstring ProbeCom()
{
    const HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr))
        CoUninitialize();
    const bool initialised = hr == S_FALSE || hr == RPC_E_CHANGED_MODE;
    return L"com=" + Dec(initialised ? 1 : 0) + L" hr=" + Hex(reinterpret_cast<void*>(static_cast<ULONG_PTR>(hr)));
}

int RoleByName(const std::wstring& name)
{
    for (int role = 0; role < ROLE_COUNT; ++role)
        if (name == ROLES[role].name)
            return role;
    return -1;
}

std::vector<std::wstring> SplitWords(const std::wstring& text)
{
    std::vector<std::wstring> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == L' ')
            ++i;
        size_t end = i;
        while (end < text.size() && text[end] != L' ')
            ++end;
        if (end > i)
            words.push_back(text.substr(i, end - i));
        i = end;
    }
    return words;
}

long long Number(const std::wstring& word)
{
    return static_cast<long long>(wcstoll(word.c_str(), nullptr, 0));
}

// Requests that act on one window of the Start Menu: show, enable, focus, move, send.
std::wstring HandleWindowRequest(const std::wstring& verb, const std::vector<std::wstring>& words)
{
    const int role = words.empty() ? -1 : RoleByName(words[0]);
    if (role < 0)
        return L"error=unknown-role";
    std::wstring reply = L"error=no-window";
    const bool ran = RunOnUiThread([&] {
        HWND hWnd = MenuWindow(role);
        if (!hWnd)
            return;
        if (verb == L"show" && words.size() == 2) {
            const bool show = Number(words[1]) != 0;
            if (role == ROLE_RESULTS && CurrentMenu())
                CurrentMenu()->resultsVisible = show;
            ShowWindow(hWnd, show ? SW_SHOWNA : SW_HIDE);
            reply = L"ok";
        } else if (verb == L"enable" && words.size() == 2) {
            EnableWindow(hWnd, Number(words[1]) != 0);
            reply = L"ok";
        } else if (verb == L"focus") {
            SetFocus(hWnd);
            reply = L"ok";
        } else if (verb == L"move" && words.size() == 5) {
            SetWindowPos(hWnd, nullptr, static_cast<int>(Number(words[1])), static_cast<int>(Number(words[2])),
                         static_cast<int>(Number(words[3])), static_cast<int>(Number(words[4])),
                         SWP_NOZORDER | SWP_NOACTIVATE);
            reply = L"ok";
        } else if (verb == L"send" && words.size() == 4) {
            const LRESULT result = SendMessageW(hWnd, static_cast<UINT>(Number(words[1])),
                                                static_cast<WPARAM>(Number(words[2])),
                                                static_cast<LPARAM>(Number(words[3])));
            reply = L"result=" + Dec(result);
        } else {
            reply = L"error=bad-arguments";
        }
    });
    return ran ? reply : L"error=ui-thread-not-answering";
}

std::wstring HandleRequest(const std::wstring& request)
{
    const size_t space = request.find(L' ');
    const std::wstring verb = request.substr(0, space);
    const std::wstring argument = space == std::wstring::npos ? L"" : request.substr(space + 1);
    const std::wstring notAnswering = L"error=ui-thread-not-answering";

    if (verb == L"ping") {
        std::wstring reply = L"pong pid=" + Dec(GetCurrentProcessId()) + L" mainthread=" + Dec(g_mainUi.threadId);
        reply += L" uithread=" + Dec(g_currentUi->threadId);
        HWND startMenu = nullptr, focus = nullptr;
        RunOnUiThread([&] {
            startMenu = MenuWindow(ROLE_STARTMENU);
            focus = GetFocus();
        });
        return reply + L" startmenu=" + Hex(startMenu) + L" focus=" + Hex(focus) + L" foreground=" +
               Hex(GetForegroundWindow());
    }
    if (verb == L"windows")
        return DescribeWindows();
    if (verb == L"modules")
        return DescribeModules();
    if (verb == L"shared")
        return DescribeSharedState();
    if (verb == L"broadcasts")
        return DescribeBroadcasts();
    if (verb == L"com") {
        std::wstring reply;
        return RunOnUiThread([&] { reply = ProbeCom(); }) ? reply : notAnswering;
    }
    if (verb == L"uncom")
        return RunOnUiThread([] { CoUninitialize(); }) ? L"ok" : notAnswering;
    if (verb == L"counters") {
        std::wstring reply;
        const bool ran = RunOnUiThread([&] {
            CStartMenu* menu = CurrentMenu();
            reply = L"printclient=" + Dec(menu ? menu->printClientCount : 0) + L" nulls=" + Dec(t_ui->busyNulls);
        });
        return ran ? reply : notAnswering;
    }
    if (verb == L"text") {
        std::wstring reply;
        return RunOnUiThread([&] { reply = CurrentMenu() ? CurrentMenu()->text : L""; }) ? reply : notAnswering;
    }
    if (verb == L"settext") {
        std::wstring reply = L"error=no-window";
        const bool ran = RunOnUiThread([&] {
            if (HWND edit = MenuWindow(ROLE_EDIT)) {
                SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argument.c_str()));
                reply = L"ok";
            }
        });
        return ran ? reply : notAnswering;
    }
    if (verb == L"type") {
        HWND edit = nullptr;
        if (!RunOnUiThread([&] { edit = MenuWindow(ROLE_EDIT); }))
            return notAnswering;
        if (!edit)
            return L"error=no-window";
        for (WCHAR ch : argument)
            PostMessageW(edit, WM_CHAR, ch, 1);
        return L"posted=" + Dec(static_cast<long long>(argument.size()));
    }
    if (verb == L"show" || verb == L"enable" || verb == L"focus" || verb == L"move" || verb == L"send")
        return HandleWindowRequest(verb, SplitWords(argument));
    if (verb == L"destroy")
        return RunOnUiThread(DestroyStartMenu) ? L"ok" : notAnswering;
    if (verb == L"create")
        return RunOnUiThread(CreateStartMenu) ? L"ok" : notAnswering;
    if (verb == L"recreate")
        return RunOnUiThread([] {
                   DestroyStartMenu();
                   CreateStartMenu();
               })
                   ? L"ok"
                   : notAnswering;
    if (verb == L"recreate-thread")
        return MoveStartMenuToNewThread() ? L"ok uithread=" + Dec(g_currentUi->threadId) : L"error=thread-failed";
    if (verb == L"quit") {
        PostQuitMessage(0);
        return L"ok";
    }
    return L"error=unknown-request";
}

// ---------------------------------------------------------------------------------------------
// The control window and its reply mapping.

HANDLE g_replyMapping = nullptr;
BYTE* g_replyView = nullptr;

void WriteReply(DWORD serial, const std::wstring& reply)
{
    CSmReplyHeader* header = reinterpret_cast<CSmReplyHeader*>(g_replyView);
    const DWORD length = reply.size() < TALLY_SM_REPLY_CHARS ? static_cast<DWORD>(reply.size()) : TALLY_SM_REPLY_CHARS;
    wmemcpy(reinterpret_cast<WCHAR*>(header + 1), reply.c_str(), length);
    header->length = length;
    // The serial last: a reader that sees it sees the text that goes with it.
    MemoryBarrier();
    header->serial = serial;
}

LRESULT CALLBACK ControlWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NULL:
        RecordBroadcast();
        return 0;
    case WM_COPYDATA: {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!data || !g_replyView || (data->cbData % sizeof(WCHAR)) != 0)
            return 0;
        std::wstring request(static_cast<const WCHAR*>(data->lpData), data->cbData / sizeof(WCHAR));
        while (!request.empty() && request.back() == L'\0')
            request.pop_back();
        WriteReply(static_cast<DWORD>(data->dwData), HandleRequest(request));
        return 1;
    }
    case WM_NCDESTROY:
        ForgetWindow(hWnd);
        break;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

bool CreateReplyMapping()
{
    WCHAR name[64];
    FormatSmReplyMappingName(GetCurrentProcessId(), name, 64);
    g_replyMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, TALLY_SM_REPLY_BYTES, name);
    if (!g_replyMapping)
        return false;
    g_replyView = static_cast<BYTE*>(MapViewOfFile(g_replyMapping, FILE_MAP_WRITE, 0, 0, TALLY_SM_REPLY_BYTES));
    return g_replyView != nullptr;
}

bool RegisterHelperClasses()
{
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = ThreadWindowProc;
    wc.hInstance = g_instance;
    wc.lpszClassName = THREAD_WINDOW_CLASS;
    if (!RegisterClassExW(&wc))
        return false;
    wc.lpfnWndProc = ControlWindowProc;
    wc.lpszClassName = TALLY_SM_CONTROL_CLASS;
    return RegisterClassExW(&wc) != 0;
}

// ---------------------------------------------------------------------------------------------
// Command line.

void MarkRoles(const std::wstring& list, bool* flags)
{
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(L',', start);
        const std::wstring name = list.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        const int role = RoleByName(name);
        if (role >= 0)
            flags[role] = true;
        if (comma == std::wstring::npos)
            break;
        start = comma + 1;
    }
}

void ParseOptions()
{
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args)
        return;
    for (int i = 1; i < count; ++i) {
        const std::wstring arg = args[i];
        auto value = [&](PCWSTR prefix) -> const WCHAR* {
            const size_t length = wcslen(prefix);
            return arg.compare(0, length, prefix) == 0 ? arg.c_str() + length : nullptr;
        };
        if (const WCHAR* roles = value(L"--omit="))
            MarkRoles(roles, g_options.omit);
        else if (const WCHAR* roles = value(L"--case="))
            MarkRoles(roles, g_options.lowerCase);
        else if (const WCHAR* text = value(L"--text="))
            g_options.initialText = text;
        else if (arg == L"--second-list")
            g_options.secondList = true;
        else if (arg == L"--nest-list")
            g_options.nestList = true;
        else if (arg == L"--results-shown")
            g_options.resultsShown = true;
        else if (arg == L"--hidden")
            g_options.hidden = true;
        else if (arg == L"--thread")
            g_options.onSecondThread = true;
    }
    LocalFree(args);
}

HFONT MakeFont(int weight, bool italic)
{
    return CreateFontW(-12, 0, 0, 0, weight, italic, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    g_instance = instance;
    InitializeCriticalSection(&g_ownLock);
    ParseOptions();
    g_font = MakeFont(FW_NORMAL, false);
    g_boldFont = MakeFont(FW_BOLD, false);
    g_italicFont = MakeFont(FW_NORMAL, true);

    if (!CreateReplyMapping() || !RegisterHelperClasses())
        return 1;
    for (int role = 0; role < ROLE_COUNT; ++role)
        RegisterRoleClass(role);
    if (!StartUiOnThisThread(g_mainUi))
        return 1;

    // The Start Menu first: a test that finds the control window finds the menu built.
    if (g_options.onSecondThread) {
        if (!MoveStartMenuToNewThread())
            return 1;
    } else {
        CreateStartMenu();
    }
    HWND control = CreateWindowExW(WS_EX_TOOLWINDOW, TALLY_SM_CONTROL_CLASS, L"Tally Start Menu control", WS_POPUP,
                                   0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
    if (!control)
        return 1;
    RememberWindow(control, -1, L"control");

    RunMessageLoop();

    for (CUiThread* ui : g_secondaryUis)
        PostThreadMessageW(ui->threadId, WM_QUIT, 0, 0);
    if (control)
        DestroyWindow(control);
    StopUiOnThisThread(g_mainUi);
    return 0;
}
