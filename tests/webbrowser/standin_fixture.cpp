#include "standin_fixture.h"

#include <cstdio>

CStandinLibrary& CStandinLibrary::Instance()
{
    static CStandinLibrary library;
    return library;
}

std::wstring CStandinLibrary::DllPath()
{
    WCHAR path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    folder.resize(folder.find_last_of(L"\\/") + 1);
    return folder + L"tally_webbrowser_standin.dll";
}

CStandinLibrary::CStandinLibrary()
{
    // Kept loaded for the whole run, so that the record outlives COM's unloading of unused servers.
    m_module = LoadLibraryW(DllPath().c_str());
    if (!m_module)
        return;
    m_getCount = reinterpret_cast<PFN_WbStandinGetCount>(GetProcAddress(m_module, "WbStandinGetCount"));
    m_copyPageField = reinterpret_cast<PFN_WbStandinCopyPageField>(GetProcAddress(m_module, "WbStandinCopyPageField"));
    m_setDocumentMode =
        reinterpret_cast<PFN_WbStandinSetDocumentMode>(GetProcAddress(m_module, "WbStandinSetDocumentMode"));
    m_resetRecord = reinterpret_cast<PFN_WbStandinResetRecord>(GetProcAddress(m_module, "WbStandinResetRecord"));
    m_readRecordFile =
        reinterpret_cast<PFN_WbStandinReadRecordFile>(GetProcAddress(m_module, "WbStandinReadRecordFile"));
    if (!m_getCount || !m_copyPageField || !m_setDocumentMode || !m_resetRecord || !m_readRecordFile)
        m_module = nullptr;
}

std::wstring TakeBstr(BSTR text, bool* present)
{
    if (present)
        *present = text != nullptr;
    std::wstring value(text ? text : L"", SysStringLen(text));
    SysFreeString(text);
    return value;
}

std::wstring CStandinLibrary::PageField(int page, int field, bool* present) const
{
    return TakeBstr(m_copyPageField ? m_copyPageField(page, field) : nullptr, present);
}

void CStandinLibrary::SetDocumentMode(int mode) const
{
    if (m_setDocumentMode)
        m_setDocumentMode(mode);
}

void CStandinLibrary::ResetRecord() const
{
    if (m_resetRecord)
        m_resetRecord();
}

std::wstring CStandinLibrary::ReadRecordFile(const std::wstring& path, const wchar_t* key, bool* present) const
{
    return TakeBstr(m_readRecordFile ? m_readRecordFile(path.c_str(), key) : nullptr, present);
}

bool CreateBlankBrowser(CComPtr<IWebBrowser2>& browser)
{
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                IID_IWebBrowser2, browser.ReceiveVoid())) ||
        !browser)
        return false;
    CVariant url;
    V_VT(url.Get()) = VT_BSTR;
    V_BSTR(url.Get()) = SysAllocString(L"about:blank");
    return SUCCEEDED(browser->Navigate2(url.Get(), nullptr, nullptr, nullptr, nullptr));
}

bool GetHtmlDocument(IWebBrowser2* browser, CComPtr<IHTMLDocument2>& document)
{
    CComPtr<IDispatch> dispatch;
    if (FAILED(browser->get_Document(dispatch.Receive())) || !dispatch)
        return false;
    return SUCCEEDED(dispatch->QueryInterface(IID_IHTMLDocument2, document.ReceiveVoid())) && document;
}

HRESULT WritePage(IHTMLDocument2* document, const std::wstring& page, bool close)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    if (!array)
        return E_OUTOFMEMORY;
    VARIANT* items = nullptr;
    SafeArrayAccessData(array, reinterpret_cast<void**>(&items));
    V_VT(&items[0]) = VT_BSTR;
    V_BSTR(&items[0]) = SysAllocStringLen(page.c_str(), static_cast<UINT>(page.size()));
    SafeArrayUnaccessData(array);
    HRESULT hr = document->write(array);
    SafeArrayDestroy(array);
    if (SUCCEEDED(hr) && close)
        hr = document->close();
    return hr;
}

std::wstring MakeTestPage(const std::wstring& scriptBody, const std::wstring& iconDataUri,
                          const std::wstring& resultAreaPadding)
{
    std::wstring background = L"#FFFFFF";
    if (!iconDataUri.empty())
        background += L" url(" + iconDataUri + L") no-repeat 18px 15px";
    return L"<html style='border:none;'><head><title>Tallyglass</title></head>"
           L"<body onload='update();' style='overflow-y:hidden;font-family: Segoe UI, Arial; font-size:12px; "
           L"margin: 0px; padding: 0px;'>"
           L"<div style='float: left; font-size:16px;color:#1e3287;background: #FFFFFF; margin: 0px 4px 0px 7px;'>"
           L"Calculator (1)</div>"
           L"<div style='width: 100%;height:13px;border-bottom: 1px solid #e5e5e5; margin: 0px 7px 0px 5px;"
           L"font-size:1px;'></div>"
           L"<div style='margin: 0px;padding: " + resultAreaPadding + L";background: " + background + L";'>"
           L"<p id='_result' style='clear: both;margin: 0px;font-weight:bold;'></p>"
           L"<p id='_query' style='clear: both;margin: 0px;'></p></div>"
           L"<script type='text/javascript' language='javascript'>function update() {" + scriptBody +
           L"}</script></body></html>";
}

CPixelCanvas::CPixelCanvas(int width, int height, COLORREF fill) : m_width(width), m_height(height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_dc = CreateCompatibleDC(nullptr);
    m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_bits = static_cast<DWORD*>(bits);
    m_oldBitmap = SelectObject(m_dc, m_bitmap);
    const RECT all = {0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(fill);
    FillRect(m_dc, &all, brush);
    DeleteObject(brush);
}

CPixelCanvas::~CPixelCanvas()
{
    SelectObject(m_dc, m_oldBitmap);
    DeleteObject(m_bitmap);
    DeleteDC(m_dc);
}

COLORREF CPixelCanvas::Pixel(int x, int y) const
{
    if (!m_bits || x < 0 || y < 0 || x >= m_width || y >= m_height)
        return CLR_INVALID;
    GdiFlush();
    const DWORD bgra = m_bits[y * m_width + x];
    return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
}

int CPixelCanvas::CountColor(COLORREF color, int left, int top, int right, int bottom) const
{
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            count += Pixel(x, y) == color;
    return count;
}

int CPixelCanvas::FirstInkColumn(COLORREF ground, int left, int top, int right, int bottom) const
{
    for (int x = left; x < right; ++x)
        for (int y = top; y < bottom; ++y)
            if (Pixel(x, y) != ground)
                return x;
    return -1;
}

int CPixelCanvas::FirstInkRow(COLORREF ground, int left, int top, int right, int bottom) const
{
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            if (Pixel(x, y) != ground)
                return y;
    return -1;
}

bool CPixelCanvas::SaveBitmap(const std::wstring& path) const
{
    GdiFlush();
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = m_width;
    info.biHeight = -m_height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    info.biCompression = BI_RGB;
    const DWORD pixelBytes = static_cast<DWORD>(m_width * m_height * 4);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + pixelBytes;
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out)
        return false;
    fwrite(&file, sizeof file, 1, out);
    fwrite(&info, sizeof info, 1, out);
    fwrite(m_bits, pixelBytes, 1, out);
    fclose(out);
    return true;
}
