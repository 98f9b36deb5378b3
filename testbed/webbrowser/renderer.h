#pragma once
#include <windows.h>

#include <map>
#include <string>

#include "page_model.h"
#include "png.h"

// Decoded background images of one page, by URL, so that a page repainted twenty times a second
// is decoded once. A URL that cannot be decoded is remembered as such.
class CImageCache {
public:
    const CRgbaImage* Find(const std::wstring& url);
    void Clear() { m_images.clear(); }

private:
    struct CEntry {
        bool decoded = false;
        CRgbaImage image;
    };
    std::map<std::wstring, CEntry> m_images;
};

// Paints the document into `dc`, the page's top left corner at the top left of `bounds`, the
// viewport as wide and high as `bounds` and clipped to it. A small subset of CSS 2 block layout:
// block and inline boxes, left and right floats with clear, margins (not collapsed), padding,
// borders, width and height, background colours and images (one decoded PNG data URI, with
// repeat and position), colour, font family, size and weight, and word-wrapped text in single
// font runs. No tables, positioning, scroll bars or inline formatting beyond plain text runs.
void RenderPage(const CNodePtr& document, HDC dc, const RECT& bounds, CImageCache& images);
