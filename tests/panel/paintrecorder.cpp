// Recording stand-in for uxtheme.dll's buffered painting; see paintrecorder.h.
#include "paintrecorder.h"


#include <vector>

namespace {

struct CBuffer {
    HDC target;
    RECT rect;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    DWORD* bits;
};

std::vector<CPaintCall> g_calls;
std::vector<DWORD> g_lastPixels;
int g_lastWidth = 0;
int g_lastHeight = 0;
int g_openBuffers = 0;

CPaintCall NewCall(int kind, void* buffer)
{
    CPaintCall call = {};
    call.kind = kind;
    call.buffer = buffer;
    return call;
}

}  // namespace

extern "C" {

// Declared here with plain types: uxtheme.h would declare them as imports.
__declspec(dllexport) HANDLE WINAPI BeginBufferedPaint(HDC target, const RECT* targetRect, int format,
                                                       const void* params, HDC* paintDC)
{
    CPaintCall call = NewCall(PAINT_CALL_BEGIN, nullptr);
    call.format = format;
    call.paramsGiven = params != nullptr;
    if (targetRect) {
        call.rect = *targetRect;
        call.rectGiven = TRUE;
    }
    if (paintDC)
        *paintDC = nullptr;
    CBuffer* buffer = nullptr;
    const int width = targetRect ? targetRect->right - targetRect->left : 0;
    const int height = targetRect ? targetRect->bottom - targetRect->top : 0;
    if (target && paintDC && width > 0 && height > 0) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(target, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HDC dc = bitmap ? CreateCompatibleDC(target) : nullptr;
        if (dc) {
            buffer = new CBuffer{target, *targetRect, dc, bitmap, SelectObject(dc, bitmap),
                                 static_cast<DWORD*>(bits)};
            // The buffer answers to the target's coordinates, as uxtheme's does.
            SetViewportOrgEx(dc, -targetRect->left, -targetRect->top, nullptr);
            *paintDC = dc;
            ++g_openBuffers;
        } else if (bitmap) {
            DeleteObject(bitmap);
        }
    }
    call.buffer = buffer;
    call.paintDC = buffer ? buffer->dc : nullptr;
    g_calls.push_back(call);
    return reinterpret_cast<HANDLE>(buffer);
}

__declspec(dllexport) HRESULT WINAPI BufferedPaintSetAlpha(HANDLE handle, const RECT* rect, BYTE alpha)
{
    CBuffer* buffer = reinterpret_cast<CBuffer*>(handle);
    CPaintCall call = NewCall(PAINT_CALL_SET_ALPHA, buffer);
    call.alpha = alpha;
    if (rect) {
        call.rect = *rect;
        call.rectGiven = TRUE;
    }
    g_calls.push_back(call);
    if (!buffer)
        return E_INVALIDARG;
    RECT area = buffer->rect;
    if (rect && !IntersectRect(&area, &buffer->rect, rect))
        return S_OK;
    const int width = buffer->rect.right - buffer->rect.left;
    GdiFlush();
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            DWORD& pixel = buffer->bits[(y - buffer->rect.top) * width + (x - buffer->rect.left)];
            pixel = (pixel & 0x00FFFFFF) | (static_cast<DWORD>(alpha) << 24);
        }
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI EndBufferedPaint(HANDLE handle, BOOL updateTarget)
{
    CBuffer* buffer = reinterpret_cast<CBuffer*>(handle);
    CPaintCall call = NewCall(PAINT_CALL_END, buffer);
    call.updateTarget = updateTarget;
    g_calls.push_back(call);
    if (!buffer)
        return E_INVALIDARG;
    GdiFlush();
    g_lastWidth = buffer->rect.right - buffer->rect.left;
    g_lastHeight = buffer->rect.bottom - buffer->rect.top;
    g_lastPixels.assign(buffer->bits, buffer->bits + g_lastWidth * g_lastHeight);
    if (updateTarget)
        BitBlt(buffer->target, buffer->rect.left, buffer->rect.top, g_lastWidth, g_lastHeight, buffer->dc,
               buffer->rect.left, buffer->rect.top, SRCCOPY);
    SelectObject(buffer->dc, buffer->oldBitmap);
    DeleteDC(buffer->dc);
    DeleteObject(buffer->bitmap);
    delete buffer;
    --g_openBuffers;
    return S_OK;
}

__declspec(dllexport) void RecorderReset()
{
    g_calls.clear();
    g_lastPixels.clear();
    g_lastWidth = g_lastHeight = 0;
}

__declspec(dllexport) int RecorderCallCount()
{
    return static_cast<int>(g_calls.size());
}

__declspec(dllexport) BOOL RecorderGetCall(int index, CPaintCall* call)
{
    if (index < 0 || index >= static_cast<int>(g_calls.size()) || !call)
        return FALSE;
    *call = g_calls[index];
    return TRUE;
}

__declspec(dllexport) void RecorderMark(int tag)
{
    CPaintCall call = NewCall(PAINT_CALL_MARK, nullptr);
    call.mark = tag;
    g_calls.push_back(call);
}

__declspec(dllexport) int RecorderLastBuffer(DWORD* pixels, int capacity, int* width, int* height)
{
    if (width)
        *width = g_lastWidth;
    if (height)
        *height = g_lastHeight;
    const int count = static_cast<int>(g_lastPixels.size()) < capacity ? static_cast<int>(g_lastPixels.size()) : capacity;
    for (int i = 0; i < count; ++i)
        pixels[i] = g_lastPixels[i];
    return count;
}

__declspec(dllexport) int RecorderOpenBuffers()
{
    return g_openBuffers;
}

}  // extern "C"
