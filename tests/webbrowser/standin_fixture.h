#pragma once
#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "standin_record.h"
#include "support/com.h"

// The stand-in DLL as the tests see it: loaded beside the test program, its record functions
// looked up by name, as any test that drives the control from outside does.
class CStandinLibrary {
public:
    static CStandinLibrary& Instance();

    bool Loaded() const { return m_module != nullptr; }
    LONG Count(int which) const { return m_getCount ? m_getCount(which) : -999; }
    // The field as text; `present` tells a NULL (no value) from an empty one.
    std::wstring PageField(int page, int field, bool* present = nullptr) const;
    void SetDocumentMode(int mode) const;
    void ResetRecord() const;
    std::wstring ReadRecordFile(const std::wstring& path, const wchar_t* key, bool* present = nullptr) const;

    static std::wstring DllPath();

private:
    CStandinLibrary();

    HMODULE m_module = nullptr;
    PFN_WbStandinGetCount m_getCount = nullptr;
    PFN_WbStandinCopyPageField m_copyPageField = nullptr;
    PFN_WbStandinSetDocumentMode m_setDocumentMode = nullptr;
    PFN_WbStandinResetRecord m_resetRecord = nullptr;
    PFN_WbStandinReadRecordFile m_readRecordFile = nullptr;
};

// Takes a BSTR's text and frees it.
std::wstring TakeBstr(BSTR text, bool* present = nullptr);

// A browser made through COM by its class id, as the product makes it (the prefix maps the
// class id to the stand-in), navigated to about:blank.
bool CreateBlankBrowser(CComPtr<IWebBrowser2>& browser);
bool GetHtmlDocument(IWebBrowser2* browser, CComPtr<IHTMLDocument2>& document);
// One write of the whole page as a one-element SAFEARRAY of VT_BSTR, then close.
HRESULT WritePage(IHTMLDocument2* document, const std::wstring& page, bool close = true);

// A page shaped like the calculator page: header, separator, result area with the icon and the
// two lines, and a script with `scriptBody` inside update(), which the body's load handler calls.
std::wstring MakeTestPage(const std::wstring& scriptBody, const std::wstring& iconDataUri = L"",
                          const std::wstring& resultAreaPadding = L"16px 0px 0px 38px");

// A 32-bit top-down DIB section to draw into, with its pixels readable.
class CPixelCanvas {
public:
    CPixelCanvas(int width, int height, COLORREF fill);
    ~CPixelCanvas();
    CPixelCanvas(const CPixelCanvas&) = delete;
    CPixelCanvas& operator=(const CPixelCanvas&) = delete;

    HDC Dc() const { return m_dc; }
    COLORREF Pixel(int x, int y) const;
    // Pixels of exactly `color` inside [left, right) x [top, bottom).
    int CountColor(COLORREF color, int left, int top, int right, int bottom) const;
    // Leftmost and topmost column/row in the rectangle holding a pixel other than `ground`; -1 if none.
    int FirstInkColumn(COLORREF ground, int left, int top, int right, int bottom) const;
    int FirstInkRow(COLORREF ground, int left, int top, int right, int bottom) const;
    // A 32-bit BMP of the canvas, for looking at a failure.
    bool SaveBitmap(const std::wstring& path) const;

private:
    int m_width, m_height;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_oldBitmap = nullptr;
    DWORD* m_bits = nullptr;
};
