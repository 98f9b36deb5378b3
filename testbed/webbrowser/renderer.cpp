#include "renderer.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

enum { kTop = 0, kRight = 1, kBottom = 2, kLeft = 3 };

enum class Display { None, Block, Inline };

struct CComputedStyle {
    // Inherited.
    COLORREF color = RGB(0, 0, 0);
    std::wstring fontFamily = L"Times New Roman";
    int fontSize = 16;
    bool bold = false;
    // Not inherited.
    Display display = Display::Inline;
    int margin[4] = {};
    int padding[4] = {};
    int borderWidth[4] = {};
    COLORREF borderColor[4] = {};
    bool hasBackground = false;
    COLORREF background = RGB(255, 255, 255);
    std::wstring backgroundImage;
    bool backgroundRepeatX = true;
    bool backgroundRepeatY = true;
    std::wstring backgroundPosition[2] = {L"0%", L"0%"};
    int width = -1;   // -1: auto
    int height = -1;
    int floatSide = 0;  // 0 none, kLeft or kRight
    bool clearLeft = false;
    bool clearRight = false;
};

Display DefaultDisplay(const CNode& node)
{
    static const wchar_t* const kNone[] = {L"head", L"title", L"script", L"style", L"meta", L"link", L"#comment"};
    static const wchar_t* const kBlock[] = {L"#document", L"html", L"body", L"div", L"p", L"h1", L"h2", L"h3",
                                            L"h4", L"h5", L"h6", L"ul", L"ol", L"li", L"form", L"center",
                                            L"pre", L"blockquote", L"hr", L"table", L"tr"};
    for (const wchar_t* tag : kNone)
        if (node.tag == tag)
            return Display::None;
    for (const wchar_t* tag : kBlock)
        if (node.tag == tag)
            return Display::Block;
    return Display::Inline;
}

// Fills 1 to 4 values in CSS order (top, right, bottom, left).
void ApplyBoxShorthand(const std::vector<std::wstring>& tokens, int percentBase, int emBase, int (&out)[4])
{
    int values[4];
    int count = 0;
    for (const std::wstring& token : tokens) {
        if (count == 4)
            break;
        int px;
        if (!ParseCssLength(token, percentBase, emBase, px))
            px = 0;  // "auto" and what is not understood count as 0
        values[count++] = px;
    }
    switch (count) {
    case 1: out[0] = out[1] = out[2] = out[3] = values[0]; break;
    case 2: out[0] = out[2] = values[0]; out[1] = out[3] = values[1]; break;
    case 3: out[0] = values[0]; out[1] = out[3] = values[1]; out[2] = values[2]; break;
    case 4: for (int i = 0; i < 4; ++i) out[i] = values[i]; break;
    default: break;
    }
}

void ApplyBorder(const std::vector<std::wstring>& tokens, int side, CComputedStyle& style)
{
    int width = 3;  // "medium"
    bool visible = false;
    COLORREF color = style.color;
    for (const std::wstring& token : tokens) {
        const std::wstring t = ToLower(token);
        int px;
        COLORREF c;
        if (t == L"none" || t == L"hidden")
            visible = false, width = 0;
        else if (t == L"solid" || t == L"dashed" || t == L"dotted" || t == L"double" || t == L"groove" ||
                 t == L"ridge" || t == L"inset" || t == L"outset")
            visible = true;
        else if (t == L"thin")
            width = 1;
        else if (t == L"medium")
            width = 3;
        else if (t == L"thick")
            width = 5;
        else if (ParseCssLength(t, 0, style.fontSize, px))
            width = px;
        else if (ParseCssColor(t, c))
            color = c;
    }
    for (int s = 0; s < 4; ++s) {
        if (side >= 0 && s != side)
            continue;
        style.borderWidth[s] = visible ? width : 0;
        style.borderColor[s] = color;
    }
}

void ApplyBackground(const std::vector<std::wstring>& tokens, CComputedStyle& style)
{
    style.hasBackground = false;
    style.backgroundImage.clear();
    style.backgroundRepeatX = style.backgroundRepeatY = true;
    std::vector<std::wstring> position;
    for (const std::wstring& token : tokens) {
        const std::wstring t = ToLower(token);
        COLORREF c;
        if (t.compare(0, 4, L"url(") == 0 && token.back() == L')') {
            std::wstring url = Trim(token.substr(4, token.size() - 5));
            if (url.size() >= 2 && (url[0] == L'\'' || url[0] == L'"') && url.back() == url[0])
                url = url.substr(1, url.size() - 2);
            style.backgroundImage = url;
        } else if (t == L"no-repeat") {
            style.backgroundRepeatX = style.backgroundRepeatY = false;
        } else if (t == L"repeat-x") {
            style.backgroundRepeatY = false;
        } else if (t == L"repeat-y") {
            style.backgroundRepeatX = false;
        } else if (t == L"repeat" || t == L"none" || t == L"transparent" || t == L"scroll" || t == L"fixed") {
            // the defaults
        } else if (ParseCssColor(t, c)) {
            style.hasBackground = true;
            style.background = c;
        } else {
            position.push_back(t);
        }
    }
    if (!position.empty()) {
        style.backgroundPosition[0] = position[0];
        style.backgroundPosition[1] = position.size() > 1 ? position[1] : L"center";
        if (position[0] == L"top" || position[0] == L"bottom")
            std::swap(style.backgroundPosition[0], style.backgroundPosition[1]);
    }
}

bool IsBoldWeight(const std::wstring& value)
{
    const std::wstring t = ToLower(value);
    if (t == L"bold" || t == L"bolder")
        return true;
    return _wtoi(t.c_str()) >= 600;
}

CComputedStyle ComputeStyle(const CNode& node, const CComputedStyle& parent, int containingWidth)
{
    CComputedStyle style;
    style.color = parent.color;
    style.fontFamily = parent.fontFamily;
    style.fontSize = parent.fontSize;
    style.bold = parent.bold;
    style.display = DefaultDisplay(node);
    if (node.tag == L"b" || node.tag == L"strong" || (node.tag.size() == 2 && node.tag[0] == L'h'))
        style.bold = true;

    const auto declarations = ParseStyleDeclarations(node.Attribute(L"style"));
    // Font size first: em lengths in the other properties refer to it.
    for (const auto& d : declarations) {
        int px;
        if (d.first == L"font-size" && ParseCssLength(d.second, parent.fontSize, parent.fontSize, px) && px > 0)
            style.fontSize = px;
    }
    if (node.tag == L"body") {
        for (int& m : style.margin)
            m = 8;
    } else if (node.tag == L"p") {
        style.margin[kTop] = style.margin[kBottom] = style.fontSize;
    }

    for (const auto& d : declarations) {
        const std::wstring& name = d.first;
        const std::wstring value = ToLower(d.second);
        const std::vector<std::wstring> tokens = SplitCssValue(d.second);
        int px;
        COLORREF c;
        if (name == L"color") {
            if (ParseCssColor(value, c))
                style.color = c;
        } else if (name == L"font-family") {
            style.fontFamily = d.second;
        } else if (name == L"font-weight") {
            style.bold = IsBoldWeight(value);
        } else if (name == L"display") {
            style.display = value == L"none" ? Display::None : value == L"inline" ? Display::Inline : Display::Block;
        } else if (name == L"margin") {
            ApplyBoxShorthand(tokens, containingWidth, style.fontSize, style.margin);
        } else if (name == L"padding") {
            ApplyBoxShorthand(tokens, containingWidth, style.fontSize, style.padding);
        } else if (name.compare(0, 7, L"margin-") == 0 || name.compare(0, 8, L"padding-") == 0) {
            const bool isMargin = name[0] == L'm';
            const std::wstring side = name.substr(isMargin ? 7 : 8);
            const int index = side == L"top" ? kTop : side == L"right" ? kRight : side == L"bottom" ? kBottom
                            : side == L"left" ? kLeft : -1;
            if (index >= 0 && ParseCssLength(value, containingWidth, style.fontSize, px))
                (isMargin ? style.margin : style.padding)[index] = px;
        } else if (name == L"border") {
            ApplyBorder(tokens, -1, style);
        } else if (name == L"border-top" || name == L"border-right" || name == L"border-bottom" || name == L"border-left") {
            const std::wstring side = name.substr(7);
            ApplyBorder(tokens, side == L"top" ? kTop : side == L"right" ? kRight : side == L"bottom" ? kBottom : kLeft,
                        style);
        } else if (name == L"background") {
            ApplyBackground(tokens, style);
        } else if (name == L"background-color") {
            style.hasBackground = ParseCssColor(value, c);
            if (style.hasBackground)
                style.background = c;
        } else if (name == L"background-image") {
            CComputedStyle scratch;
            ApplyBackground(tokens, scratch);
            style.backgroundImage = scratch.backgroundImage;
        } else if (name == L"background-repeat") {
            style.backgroundRepeatX = value == L"repeat" || value == L"repeat-x";
            style.backgroundRepeatY = value == L"repeat" || value == L"repeat-y";
        } else if (name == L"background-position") {
            CComputedStyle scratch;
            ApplyBackground(tokens, scratch);
            style.backgroundPosition[0] = scratch.backgroundPosition[0];
            style.backgroundPosition[1] = scratch.backgroundPosition[1];
        } else if (name == L"width") {
            style.width = ParseCssLength(value, containingWidth, style.fontSize, px) ? px : -1;
        } else if (name == L"height") {
            style.height = ParseCssLength(value, 0, style.fontSize, px) ? px : -1;
        } else if (name == L"float") {
            style.floatSide = value == L"left" ? kLeft : value == L"right" ? kRight : 0;
        } else if (name == L"clear") {
            style.clearLeft = value == L"left" || value == L"both";
            style.clearRight = value == L"right" || value == L"both";
        }
    }
    if (style.floatSide && style.display != Display::None)
        style.display = Display::Block;
    return style;
}

// ---- fonts ----

int CALLBACK FontExistsProc(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FontInstalled(HDC dc, const std::wstring& face)
{
    if (face.empty() || face.size() >= LF_FACESIZE)
        return false;
    LOGFONTW query = {};
    query.lfCharSet = DEFAULT_CHARSET;
    wcscpy_s(query.lfFaceName, face.c_str());
    bool found = false;
    EnumFontFamiliesExW(dc, &query, FontExistsProc, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

// The first family of the list that is installed; generic families map to Windows' usual faces.
// When none is installed, a face that Wine and Windows both have, rather than GDI's own pick,
// which may be a bitmap font without a bold weight.
std::wstring ResolveFontFamily(HDC dc, const std::wstring& families)
{
    std::vector<std::wstring> names;
    std::wstring current;
    wchar_t quote = 0;
    for (wchar_t c : families + L",") {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                current += c;
        } else if (c == L'\'' || c == L'"') {
            quote = c;
        } else if (c == L',') {
            const std::wstring name = CollapseWhiteSpace(current);
            if (!name.empty())
                names.push_back(name);
            current.clear();
        } else {
            current += c;
        }
    }
    for (std::wstring name : names) {
        const std::wstring lower = ToLower(name);
        if (lower == L"sans-serif")
            name = L"Arial";
        else if (lower == L"serif")
            name = L"Times New Roman";
        else if (lower == L"monospace")
            name = L"Courier New";
        if (FontInstalled(dc, name))
            return name;
    }
    for (const wchar_t* fallback : {L"Tahoma", L"Liberation Sans", L"DejaVu Sans"})
        if (FontInstalled(dc, fallback))
            return fallback;
    return names.empty() ? std::wstring(L"Tahoma") : names.front();
}

class CFontSet {
public:
    explicit CFontSet(HDC dc) : m_dc(dc) {}
    CFontSet(const CFontSet&) = delete;
    CFontSet& operator=(const CFontSet&) = delete;
    ~CFontSet()
    {
        for (auto& entry : m_fonts)
            DeleteObject(entry.second.font);
    }

    struct CFont {
        HFONT font = nullptr;
        int lineHeight = 0;
        int ascentOffset = 0;  // half-leading: from the line's top to the glyph cell's top
    };

    const CFont& Get(const CComputedStyle& style)
    {
        const std::wstring key = style.fontFamily + L"|" + std::to_wstring(style.fontSize) + (style.bold ? L"b" : L"");
        auto found = m_fonts.find(key);
        if (found != m_fonts.end())
            return found->second;
        CFont font;
        const std::wstring face = ResolveFontFamily(m_dc, style.fontFamily);
        LOGFONTW lf = {};
        lf.lfHeight = -style.fontSize;  // CSS font size is the em height
        lf.lfWeight = style.bold ? FW_BOLD : FW_NORMAL;
        lf.lfCharSet = DEFAULT_CHARSET;
        // Crisp glyphs: every ink pixel in the text colour, which makes pictures checkable.
        lf.lfQuality = NONANTIALIASED_QUALITY;
        wcsncpy_s(lf.lfFaceName, face.c_str(), _TRUNCATE);
        font.font = CreateFontIndirectW(&lf);
        TEXTMETRICW tm = {};
        HGDIOBJ old = SelectObject(m_dc, font.font);
        GetTextMetricsW(m_dc, &tm);
        SelectObject(m_dc, old);
        font.lineHeight = tm.tmHeight + tm.tmExternalLeading;
        font.ascentOffset = tm.tmExternalLeading / 2;
        return m_fonts.emplace(key, font).first->second;
    }

    int TextWidth(const CFont& font, const std::wstring& text)
    {
        if (text.empty())
            return 0;
        HGDIOBJ old = SelectObject(m_dc, font.font);
        SIZE size = {};
        GetTextExtentPoint32W(m_dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(m_dc, old);
        return size.cx;
    }

private:
    HDC m_dc;
    std::map<std::wstring, CFont> m_fonts;
};

// ---- layout into a display list, painted in CSS order afterwards ----

enum class Layer { Blocks = 0, Floats = 1, Text = 2 };

struct CPaintOp {
    Layer layer = Layer::Blocks;
    std::function<void(HDC)> paint;
};

struct CFloatBox {
    RECT marginBox;
    int side;
};

void FillRectColor(HDC dc, const RECT& rect, COLORREF color)
{
    if (rect.right <= rect.left || rect.bottom <= rect.top)
        return;
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

int ResolvePosition(const std::wstring& token, int room)
{
    if (token == L"left" || token == L"top")
        return 0;
    if (token == L"center")
        return room / 2;
    if (token == L"right" || token == L"bottom")
        return room;
    int px = 0;
    ParseCssLength(token, room, 16, px);
    return px;
}

void DrawImage(HDC dc, const CRgbaImage& image, int x, int y)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap)
        return;
    BYTE* out = static_cast<BYTE*>(bits);
    for (size_t i = 0; i < size_t(image.width) * image.height; ++i) {
        const BYTE* in = &image.rgba[i * 4];
        const unsigned alpha = in[3];
        out[i * 4 + 0] = static_cast<BYTE>(in[2] * alpha / 255);  // premultiplied BGRA
        out[i * 4 + 1] = static_cast<BYTE>(in[1] * alpha / 255);
        out[i * 4 + 2] = static_cast<BYTE>(in[0] * alpha / 255);
        out[i * 4 + 3] = static_cast<BYTE>(alpha);
    }
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, x, y, image.width, image.height, memory, 0, 0, image.width, image.height, blend);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
}

class CLayout {
public:
    CLayout(HDC dc, CImageCache& images, int viewportWidth)
        : m_dc(dc), m_images(images), m_fonts(dc), m_viewportWidth(viewportWidth)
    {
    }

    void LayoutDocument(const CNodePtr& document)
    {
        CComputedStyle root;
        root.display = Display::Block;
        LayoutChildren(*document, root, 0, 0, m_viewportWidth);
    }

    // In CSS's order: in-flow block backgrounds and borders, then floats, then in-flow text.
    void Paint()
    {
        for (Layer layer : {Layer::Blocks, Layer::Floats, Layer::Text})
            for (const CPaintOp& op : m_ops)
                if (op.layer == layer && op.paint)
                    op.paint(m_dc);
    }

    void Offset(int dx, int dy)
    {
        m_dx = dx;
        m_dy = dy;
    }

private:
    // Lays out the children of a block's content box starting at (x, y); returns the y after
    // the last in-flow box.
    int LayoutChildren(const CNode& node, const CComputedStyle& style, int x, int y, int width)
    {
        std::wstring inlineText;
        auto flushInline = [&]() {
            y = LayoutText(CollapseWhiteSpace(inlineText), style, x, y, width, Layer::Text);
            inlineText.clear();
        };
        for (const CNodePtr& child : node.children) {
            if (child->kind == CNode::Kind::Text) {
                inlineText += child->text;
                continue;
            }
            const CComputedStyle childStyle = ComputeStyle(*child, style, width);
            if (childStyle.display == Display::None)
                continue;
            if (childStyle.display == Display::Inline) {
                inlineText += child->TextContent();
                continue;
            }
            flushInline();
            if (childStyle.floatSide)
                LayoutFloat(*child, childStyle, x, y, width);
            else
                y = LayoutBlock(*child, childStyle, x, y, width);
        }
        flushInline();
        return y;
    }

    int FloatBottom(bool left, bool right) const
    {
        int bottom = 0;
        for (const CFloatBox& box : m_floats)
            if ((box.side == kLeft && left) || (box.side == kRight && right))
                bottom = std::max(bottom, static_cast<int>(box.marginBox.bottom));
        return bottom;
    }

    // The horizontal room of a line at [top, top + height) next to the floats.
    void LineRoom(int top, int height, int x, int width, int& left, int& right) const
    {
        left = x;
        right = x + width;
        for (const CFloatBox& box : m_floats) {
            if (box.marginBox.bottom <= top || box.marginBox.top >= top + height)
                continue;
            if (box.side == kLeft)
                left = std::max(left, static_cast<int>(box.marginBox.right));
            else
                right = std::min(right, static_cast<int>(box.marginBox.left));
        }
    }

    int LayoutBlock(const CNode& node, const CComputedStyle& style, int x, int y, int containingWidth)
    {
        int top = y + style.margin[kTop];
        if (style.clearLeft || style.clearRight)
            top = std::max(top, FloatBottom(style.clearLeft, style.clearRight));
        const int horizontalExtras = style.padding[kLeft] + style.padding[kRight] + style.borderWidth[kLeft] +
                                     style.borderWidth[kRight];
        const int contentWidth = style.width >= 0
                                     ? style.width
                                     : std::max(0, containingWidth - style.margin[kLeft] - style.margin[kRight] -
                                                       horizontalExtras);
        const int left = x + style.margin[kLeft];
        const int contentLeft = left + style.borderWidth[kLeft] + style.padding[kLeft];
        const int contentTop = top + style.borderWidth[kTop] + style.padding[kTop];

        const size_t backgroundSlot = m_ops.size();
        m_ops.emplace_back();
        int contentBottom = LayoutChildren(node, style, contentLeft, contentTop, contentWidth);
        if (style.height >= 0)
            contentBottom = contentTop + style.height;
        const RECT borderBox = {left, top, contentLeft + contentWidth + style.padding[kRight] + style.borderWidth[kRight],
                                contentBottom + style.padding[kBottom] + style.borderWidth[kBottom]};
        m_ops[backgroundSlot] = BoxPaint(style, borderBox, Layer::Blocks);
        return borderBox.bottom + style.margin[kBottom];
    }

    void LayoutFloat(const CNode& node, const CComputedStyle& style, int x, int y, int containingWidth)
    {
        const std::wstring text = CollapseWhiteSpace(node.TextContent());
        const CFontSet::CFont& font = m_fonts.Get(style);
        const int horizontalExtras = style.padding[kLeft] + style.padding[kRight] + style.borderWidth[kLeft] +
                                     style.borderWidth[kRight];
        const int available = std::max(0, containingWidth - style.margin[kLeft] - style.margin[kRight] - horizontalExtras);
        const int contentWidth = style.width >= 0 ? style.width : std::min(available, m_fonts.TextWidth(font, text));
        const int outerWidth = contentWidth + horizontalExtras + style.margin[kLeft] + style.margin[kRight];

        int top = y;
        int roomLeft, roomRight;
        LineRoom(top, 1, x, containingWidth, roomLeft, roomRight);
        const int marginLeft = style.floatSide == kLeft ? roomLeft : roomRight - outerWidth;
        const int left = marginLeft + style.margin[kLeft];
        const int contentLeft = left + style.borderWidth[kLeft] + style.padding[kLeft];
        const int borderTop = top + style.margin[kTop];
        const int contentTop = borderTop + style.borderWidth[kTop] + style.padding[kTop];

        const size_t backgroundSlot = m_ops.size();
        m_ops.emplace_back();
        int contentBottom = LayoutText(text, style, contentLeft, contentTop, contentWidth, Layer::Floats);
        if (style.height >= 0)
            contentBottom = contentTop + style.height;
        const RECT borderBox = {left, borderTop, contentLeft + contentWidth + style.padding[kRight] + style.borderWidth[kRight],
                                contentBottom + style.padding[kBottom] + style.borderWidth[kBottom]};
        m_ops[backgroundSlot] = BoxPaint(style, borderBox, Layer::Floats);
        const RECT marginBox = {marginLeft, top, marginLeft + outerWidth, borderBox.bottom + style.margin[kBottom]};
        m_floats.push_back({marginBox, style.floatSide});
    }

    // Word-wrapped lines of one font; returns the y below the last line.
    int LayoutText(const std::wstring& text, const CComputedStyle& style, int x, int y, int width, Layer layer)
    {
        if (text.empty())
            return y;
        const CFontSet::CFont& font = m_fonts.Get(style);
        const int lineHeight = std::max(1, font.lineHeight);
        size_t pos = 0;
        while (pos < text.size()) {
            int left, right;
            LineRoom(y, lineHeight, x, width, left, right);
            // Take words while they fit; a word wider than the line stays whole and overflows.
            size_t end = pos;
            std::wstring line;
            while (end < text.size()) {
                size_t wordEnd = text.find(L' ', end + 1);
                if (wordEnd == std::wstring::npos)
                    wordEnd = text.size();
                const std::wstring candidate = text.substr(pos, wordEnd - pos);
                if (!line.empty() && m_fonts.TextWidth(font, candidate) > right - left)
                    break;
                line = candidate;
                end = wordEnd;
            }
            const HFONT hfont = font.font;
            const COLORREF color = style.color;
            const int textX = left + m_dx, textY = y + font.ascentOffset + m_dy;
            const std::wstring shown = line;
            m_ops.push_back({layer, [hfont, color, textX, textY, shown](HDC dc) {
                                 HGDIOBJ old = SelectObject(dc, hfont);
                                 SetTextColor(dc, color);
                                 SetBkMode(dc, TRANSPARENT);
                                 SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
                                 ExtTextOutW(dc, textX, textY, 0, nullptr, shown.c_str(),
                                             static_cast<UINT>(shown.size()), nullptr);
                                 SelectObject(dc, old);
                             }});
            y += lineHeight;
            pos = end;
            while (pos < text.size() && text[pos] == L' ')
                ++pos;
        }
        return y;
    }

    CPaintOp BoxPaint(const CComputedStyle& style, RECT box, Layer layer)
    {
        OffsetRect(&box, m_dx, m_dy);
        const CRgbaImage* image = style.backgroundImage.empty() ? nullptr : m_images.Find(style.backgroundImage);
        CComputedStyle s = style;
        CPaintOp op;
        op.layer = layer;
        op.paint = [s, box, image](HDC dc) {
            if (s.hasBackground)
                FillRectColor(dc, box, s.background);
            const RECT padding = {box.left + s.borderWidth[kLeft], box.top + s.borderWidth[kTop],
                                  box.right - s.borderWidth[kRight], box.bottom - s.borderWidth[kBottom]};
            if (image && image->width > 0 && box.right > box.left && box.bottom > box.top) {
                const int saved = SaveDC(dc);
                IntersectClipRect(dc, box.left, box.top, box.right, box.bottom);
                const int startX = padding.left + ResolvePosition(s.backgroundPosition[0],
                                                                  (padding.right - padding.left) - image->width);
                const int startY = padding.top + ResolvePosition(s.backgroundPosition[1],
                                                                 (padding.bottom - padding.top) - image->height);
                int x0 = startX, y0 = startY;
                if (s.backgroundRepeatX)
                    while (x0 > box.left) x0 -= image->width;
                if (s.backgroundRepeatY)
                    while (y0 > box.top) y0 -= image->height;
                for (int y = y0; y < box.bottom; y += image->height) {
                    for (int x = x0; x < box.right; x += image->width) {
                        DrawImage(dc, *image, x, y);
                        if (!s.backgroundRepeatX)
                            break;
                    }
                    if (!s.backgroundRepeatY)
                        break;
                }
                RestoreDC(dc, saved);
            }
            FillRectColor(dc, {box.left, box.top, box.right, box.top + s.borderWidth[kTop]}, s.borderColor[kTop]);
            FillRectColor(dc, {box.left, box.bottom - s.borderWidth[kBottom], box.right, box.bottom}, s.borderColor[kBottom]);
            FillRectColor(dc, {box.left, box.top, box.left + s.borderWidth[kLeft], box.bottom}, s.borderColor[kLeft]);
            FillRectColor(dc, {box.right - s.borderWidth[kRight], box.top, box.right, box.bottom}, s.borderColor[kRight]);
        };
        return op;
    }

    HDC m_dc;
    CImageCache& m_images;
    CFontSet m_fonts;
    int m_viewportWidth;
    int m_dx = 0, m_dy = 0;
    std::vector<CPaintOp> m_ops;
    std::vector<CFloatBox> m_floats;
};

// The canvas takes the root's background, or the body's when the root has none (CSS 2.1, 14.2).
COLORREF CanvasColor(const CNodePtr& document, int viewportWidth)
{
    CComputedStyle base;
    const CNodePtr html = FindFirstElement(document, L"html");
    const CNodePtr body = FindFirstElement(document, L"body");
    if (html) {
        const CComputedStyle style = ComputeStyle(*html, base, viewportWidth);
        if (style.hasBackground)
            return style.background;
    }
    if (body) {
        const CComputedStyle style = ComputeStyle(*body, base, viewportWidth);
        if (style.hasBackground)
            return style.background;
    }
    return RGB(255, 255, 255);
}

}  // namespace

const CRgbaImage* CImageCache::Find(const std::wstring& url)
{
    auto found = m_images.find(url);
    if (found == m_images.end()) {
        CEntry entry;
        entry.decoded = DecodePngDataUri(url, entry.image);
        found = m_images.emplace(url, std::move(entry)).first;
    }
    return found->second.decoded ? &found->second.image : nullptr;
}

void RenderPage(const CNodePtr& document, HDC dc, const RECT& bounds, CImageCache& images)
{
    const int width = bounds.right - bounds.left;
    const int height = bounds.bottom - bounds.top;
    if (width <= 0 || height <= 0)
        return;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    FillRectColor(dc, bounds, document ? CanvasColor(document, width) : RGB(255, 255, 255));
    if (document) {
        CLayout layout(dc, images, width);
        layout.Offset(bounds.left, bounds.top);
        layout.LayoutDocument(document);
        layout.Paint();
    }
    RestoreDC(dc, saved);
}
