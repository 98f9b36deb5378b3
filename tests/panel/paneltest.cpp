#include "paneltest.h"

#include <exdisp.h>

#include <cstring>

#include "hookstate.h"

namespace {

const WCHAR PARENT_CLASS[] = L"TallyTestPanelParent";

BOOL CALLBACK CountChild(HWND, LPARAM count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND hWnd, LPARAM count)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(hWnd, &processId);
    if (processId != GetCurrentProcessId())
        return TRUE;
    ++*reinterpret_cast<int*>(count);
    EnumChildWindows(hWnd, &CountChild, count);
    return TRUE;
}

}  // namespace

::testing::AssertionResult SameRect(const RECT& expected, const RECT& actual)
{
    if (EqualRect(&expected, &actual))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected (" << expected.left << "," << expected.top << ","
                                         << expected.right << "," << expected.bottom << ") but got ("
                                         << actual.left << "," << actual.top << "," << actual.right << ","
                                         << actual.bottom << ")";
}

CParentWindow::CParentWindow(int width, int height)
{
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = PARENT_CLASS;
        atom = RegisterClassW(&wc);
    }
    m_hWnd = CreateWindowExW(WS_EX_TOPMOST, PARENT_CLASS, L"panel test", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN,
                             40, 40, width, height, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    UpdateWindow(m_hWnd);
}

CParentWindow::~CParentWindow()
{
    if (m_hWnd)
        DestroyWindow(m_hWnd);
}

bool CParentWindow::Received(UINT message) const
{
    for (UINT m : m_messages)
        if (m == message)
            return true;
    return false;
}

LRESULT CALLBACK CParentWindow::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(hWnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<CParentWindow*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (self) {
        self->m_messages.push_back(message);
        // Answered here, so that the test sees it arrived and nothing beeps or opens a menu.
        if (message == WM_SYSCHAR || message == WM_MOUSEWHEEL || message == WM_SYSCOMMAND)
            return 0;
        if (message == WM_NCDESTROY)
            self->m_hWnd = nullptr;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

CParentWindow& SharedParent()
{
    static CParentWindow* parent = new CParentWindow();  // lives until the process ends
    parent->m_messages.clear();
    return *parent;
}

void PumpPending()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void PumpMessages(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        PumpPending();
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    }
}

CPixels ReadClientPixels(HWND hWnd)
{
    CPixels pixels;
    RECT client = {};
    GetClientRect(hWnd, &client);
    pixels.width = client.right;
    pixels.height = client.bottom;
    if (pixels.width <= 0 || pixels.height <= 0)
        return pixels;
    HDC windowDC = GetDC(hWnd);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = pixels.width;
    info.bmiHeader.biHeight = -pixels.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(windowDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memoryDC = CreateCompatibleDC(windowDC);
    HGDIOBJ old = SelectObject(memoryDC, bitmap);
    BitBlt(memoryDC, 0, 0, pixels.width, pixels.height, windowDC, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD* source = static_cast<const DWORD*>(bits);
    pixels.rgb.resize(pixels.width * pixels.height);
    for (size_t i = 0; i < pixels.rgb.size(); ++i)
        pixels.rgb[i] = source[i] & 0x00FFFFFF;
    SelectObject(memoryDC, old);
    DeleteDC(memoryDC);
    DeleteObject(bitmap);
    ReleaseDC(hWnd, windowDC);
    return pixels;
}

bool AreaIs(const CPixels& pixels, const RECT& rect, DWORD rgb)
{
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
            if (pixels.At(x, y) != rgb)
                return false;
    return true;
}

int CountProcessWindows()
{
    int count = 0;
    EnumWindows(&CountTopLevel, reinterpret_cast<LPARAM>(&count));
    return count;
}

SIZE_T PrivateBytes()
{
    // Committed private memory, region by region: Wine leaves PrivateUsage of the memory
    // counters at zero.
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region = {};
    for (const BYTE* address = nullptr;
         VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
         address = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
        if (static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize < address)
            break;
    }
    return total;
}

CUxThemeSwap::CUxThemeSwap(HMODULE module) : m_previous(g_hUxTheme)
{
    g_hUxTheme = module;
}

CUxThemeSwap::~CUxThemeSwap()
{
    g_hUxTheme = m_previous;
}

CPaintRecorder::CPaintRecorder()
{
    m_module = LoadLibraryW(L"tally_paint_recorder.dll");
    if (!m_module)
        return;
    m_reset = reinterpret_cast<RecorderResetFn>(GetProcAddress(m_module, "RecorderReset"));
    m_count = reinterpret_cast<RecorderCallCountFn>(GetProcAddress(m_module, "RecorderCallCount"));
    m_get = reinterpret_cast<RecorderGetCallFn>(GetProcAddress(m_module, "RecorderGetCall"));
    m_mark = reinterpret_cast<RecorderMarkFn>(GetProcAddress(m_module, "RecorderMark"));
    m_lastBuffer = reinterpret_cast<RecorderLastBufferFn>(GetProcAddress(m_module, "RecorderLastBuffer"));
    m_openBuffers = reinterpret_cast<RecorderOpenBuffersFn>(GetProcAddress(m_module, "RecorderOpenBuffers"));
}

void CPaintRecorder::Reset()
{
    if (m_reset)
        m_reset();
}

std::vector<CPaintCall> CPaintRecorder::Calls()
{
    std::vector<CPaintCall> calls;
    if (!m_count || !m_get)
        return calls;
    calls.resize(m_count());
    for (size_t i = 0; i < calls.size(); ++i)
        m_get(static_cast<int>(i), &calls[i]);
    return calls;
}

std::vector<DWORD> CPaintRecorder::LastBuffer(int& width, int& height)
{
    width = height = 0;
    std::vector<DWORD> pixels;
    if (!m_lastBuffer)
        return pixels;
    m_lastBuffer(nullptr, 0, &width, &height);
    pixels.resize(width * height);
    if (!pixels.empty())
        m_lastBuffer(pixels.data(), static_cast<int>(pixels.size()), &width, &height);
    return pixels;
}

int CPaintRecorder::OpenBuffers()
{
    return m_openBuffers ? m_openBuffers() : -1;
}

CPaintRecorder& PaintRecorder()
{
    static CPaintRecorder recorder;
    return recorder;
}

CImportPatch::CImportPatch(const char* dll, const char* function, void* replacement)
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress)
        return;
    for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); import->Name;
         ++import) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + import->Name), dll) != 0 || !import->OriginalFirstThunk)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            void** slot = reinterpret_cast<void**>(&slots->u1.Function);
            DWORD oldProtection = 0;
            if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &oldProtection))
                return;
            m_original = *slot;
            *slot = replacement;
            VirtualProtect(slot, sizeof(*slot), oldProtection, &oldProtection);
            m_slot = slot;
            return;
        }
    }
}

CImportPatch::~CImportPatch()
{
    if (!m_slot)
        return;
    DWORD oldProtection = 0;
    VirtualProtect(m_slot, sizeof(*m_slot), PAGE_READWRITE, &oldProtection);
    *m_slot = m_original;
    VirtualProtect(m_slot, sizeof(*m_slot), oldProtection, &oldProtection);
}

CStandIn::CStandIn()
{
    m_module = LoadLibraryW(L"tally_webbrowser_standin.dll");
    if (!m_module)
        return;
    m_getCount = reinterpret_cast<decltype(m_getCount)>(GetProcAddress(m_module, "WbStandinGetCount"));
    m_copyField = reinterpret_cast<decltype(m_copyField)>(GetProcAddress(m_module, "WbStandinCopyPageField"));
    m_setMode = reinterpret_cast<decltype(m_setMode)>(GetProcAddress(m_module, "WbStandinSetDocumentMode"));
    m_reset = reinterpret_cast<decltype(m_reset)>(GetProcAddress(m_module, "WbStandinResetRecord"));
}

LONG CStandIn::Count(int which) const
{
    return m_getCount ? m_getCount(which) : -1;
}

std::wstring CStandIn::Field(int page, int field, bool* present) const
{
    BSTR value = m_copyField ? m_copyField(page, field) : nullptr;
    if (present)
        *present = value != nullptr;
    std::wstring text(value ? value : L"", value ? SysStringLen(value) : 0);
    SysFreeString(value);
    return text;
}

void CStandIn::SetDocumentMode(int mode) const
{
    if (m_setMode)
        m_setMode(mode);
}

void CStandIn::Reset() const
{
    if (m_reset)
        m_reset();
}

CStandIn& StandIn()
{
    static CStandIn standIn;
    return standIn;
}

namespace {

// Answers every creation with a failure, as when no WebBrowser can be made.
class CUnavailableFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** object) override
    {
        *object = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

CUnavailableFactory g_unavailableFactory;

IClassFactory* FactoryFrom(const wchar_t* dll)
{
    HMODULE module = LoadLibraryW(dll);  // kept loaded: classes may be registered again
    if (!module)
        return nullptr;
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(module, "DllGetClassObject"));
    IClassFactory* factory = nullptr;
    if (!getClassObject ||
        FAILED(getClassObject(CLSID_WebBrowser, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    return factory;
}

}  // namespace

CBrowserClass::CBrowserClass(EBrowser browser)
{
    IClassFactory* factory = nullptr;
    switch (browser) {
    case EBrowser::StandIn: factory = FactoryFrom(L"tally_webbrowser_standin.dll"); break;
    case EBrowser::Wine: factory = FactoryFrom(L"ieframe.dll"); break;
    case EBrowser::Unavailable:
        factory = &g_unavailableFactory;
        factory->AddRef();
        break;
    case EBrowser::None: break;
    }
    if (factory) {
        Register(factory);
        factory->Release();
    }
}

CBrowserClass::CBrowserClass(IClassFactory* factory)
{
    Register(factory);
}

void CBrowserClass::Register(IClassFactory* factory)
{
    if (FAILED(CoRegisterClassObject(CLSID_WebBrowser, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                     &m_cookie)))
        m_cookie = 0;
}

CBrowserClass::~CBrowserClass()
{
    if (m_cookie)
        CoRevokeClassObject(m_cookie);
}
