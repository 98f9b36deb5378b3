#include "window.h"

#include <cstdio>

#include "hresult.h"

// mov dword ptr [esp+4], this ; jmp ObjectWindowProc
#pragma pack(push, 1)
struct CWindowImpl::CThunk {
    DWORD movStackArg;  // C7 44 24 04
    DWORD object;
    BYTE jmp;           // E9
    DWORD jmpOffset;
};
#pragma pack(pop)

namespace {

ATOM g_classAtom = 0;
WCHAR g_className[64] = L"";

// The object whose window is being created on this thread; its first message picks it up.
CWindowImpl* g_creatingObject = nullptr;
DWORD g_creatingThread = 0;

HINSTANCE ThisModule() noexcept
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

PCWSTR CWindowImpl::ClassName() noexcept
{
    return g_className;
}

ATOM CWindowImpl::ClassAtom() noexcept
{
    return g_classAtom;
}

void CWindowImpl::UnregisterClass() noexcept
{
    if (g_classAtom && ::UnregisterClassW(MAKEINTATOM(g_classAtom), ThisModule()))
        g_classAtom = 0;
}

bool CWindowImpl::MakeThunk() noexcept
{
    if (m_thunk)
        return true;
    void* code = VirtualAlloc(nullptr, sizeof(CThunk), MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (!code)
        return false;
    CThunk* thunk = static_cast<CThunk*>(code);
    thunk->movStackArg = 0x042444C7;
    thunk->object = reinterpret_cast<DWORD>(this);
    thunk->jmp = 0xE9;
    thunk->jmpOffset = reinterpret_cast<DWORD>(&ObjectWindowProc) - (reinterpret_cast<DWORD>(thunk) + sizeof(CThunk));
    FlushInstructionCache(GetCurrentProcess(), thunk, sizeof(CThunk));
    m_thunk = thunk;
    return true;
}

CWindowImpl::~CWindowImpl()
{
    if (m_hWnd && IsWindow(m_hWnd))
        SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
    m_hWnd = nullptr;
    CThunk* thunk = m_thunk;
    m_thunk = nullptr;
    if (thunk)
        VirtualFree(thunk, 0, MEM_RELEASE);
}

HWND CWindowImpl::Create(HWND parent, const RECT& rect, PCWSTR windowName, DWORD style, DWORD exStyle,
                         HMENU menuOrId, LPVOID createParam)
{
    if (m_hWnd && IsWindow(m_hWnd))
        return nullptr;
    m_hWnd = nullptr;
    if (!MakeThunk())
        return nullptr;

    const HINSTANCE module = ThisModule();
    if (!g_classAtom) {
        swprintf(g_className, sizeof(g_className) / sizeof(g_className[0]), L"Tally:%p",
                 reinterpret_cast<void*>(&StartWindowProc));
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
        wc.lpfnWndProc = &StartWindowProc;
        wc.hInstance = module;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = g_className;
        g_classAtom = RegisterClassExW(&wc);
        if (!g_classAtom)
            return nullptr;
    }

    g_creatingObject = this;
    g_creatingThread = GetCurrentThreadId();
    HWND hWnd = CreateWindowExW(exStyle, MAKEINTATOM(g_classAtom), windowName, style, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent, menuOrId, module,
                                createParam);
    g_creatingObject = nullptr;
    return hWnd;
}

LRESULT CALLBACK CWindowImpl::StartWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWindowImpl* self = g_creatingThread == GetCurrentThreadId() ? g_creatingObject : nullptr;
    if (!self)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    g_creatingObject = nullptr;
    self->m_hWnd = hWnd;
    SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->m_thunk));
    return self->Dispatch(message, wParam, lParam);
}

LRESULT CALLBACK CWindowImpl::ObjectWindowProc(HWND self, UINT message, WPARAM wParam, LPARAM lParam)
{
    return reinterpret_cast<CWindowImpl*>(self)->Dispatch(message, wParam, lParam);
}

LRESULT CWindowImpl::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    const HWND hWnd = m_hWnd;
    LRESULT result = 0;
    const BOOL handled = CallGuarded(FALSE, [&] {
        return ProcessWindowMessage(hWnd, message, wParam, lParam, result);
    });
    if (!handled)
        result = DefWindowProcW(hWnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        m_hWnd = nullptr;
        CallGuarded(0, [&] {
            OnFinalMessage(hWnd);
            return 0;
        });
    }
    return result;
}
