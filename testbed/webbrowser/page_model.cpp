#include "page_model.h"

#include <cwctype>

namespace {

bool IsHtmlSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f';
}

bool IsAsciiAlpha(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool IsVoidElement(const std::wstring& tag)
{
    static const wchar_t* const kVoid[] = {L"area", L"base", L"br", L"col", L"embed", L"hr", L"img",
                                           L"input", L"link", L"meta", L"param", L"source", L"wbr"};
    for (const wchar_t* name : kVoid)
        if (tag == name)
            return true;
    return false;
}

bool IsRawTextElement(const std::wstring& tag)
{
    return tag == L"script" || tag == L"style";
}

void AppendCodePoint(std::wstring& out, unsigned long code)
{
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        out += L'\xFFFD';
    } else if (code >= 0x10000) {
        code -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (code >> 10));
        out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
        out += static_cast<wchar_t>(code);
    }
}

// Character references: the numeric forms and the few names a page like ours uses.
std::wstring DecodeReferences(const std::wstring& text)
{
    static const struct { const wchar_t* name; wchar_t value; } kNamed[] = {
        {L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"apos", L'\''},
        {L"nbsp", L'\xA0'}, {L"copy", L'\xA9'}, {L"pi", L'\x3C0'}};
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'&') {
            out += text[i];
            continue;
        }
        const size_t semicolon = text.find(L';', i + 1);
        if (semicolon == std::wstring::npos || semicolon - i > 10) {
            out += text[i];
            continue;
        }
        const std::wstring name = text.substr(i + 1, semicolon - i - 1);
        bool decoded = false;
        if (name.size() > 1 && name[0] == L'#') {
            wchar_t* end = nullptr;
            const bool hex = name[1] == L'x' || name[1] == L'X';
            const std::wstring digits = name.substr(hex ? 2 : 1);
            const unsigned long code = wcstoul(digits.c_str(), &end, hex ? 16 : 10);
            if (!digits.empty() && end && *end == 0) {
                AppendCodePoint(out, code);
                decoded = true;
            }
        } else {
            for (const auto& entry : kNamed) {
                if (name == entry.name) {
                    out += entry.value;
                    decoded = true;
                    break;
                }
            }
        }
        if (decoded)
            i = semicolon;
        else
            out += text[i];
    }
    return out;
}

std::wstring EscapeText(const std::wstring& text, bool attribute)
{
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"':
            if (attribute) {
                out += L"&quot;";
                break;
            }
            out += c;
            break;
        default: out += c; break;
        }
    }
    return out;
}

// One pass over the markup, building the tree with a stack of open elements.
class CHtmlParser {
public:
    explicit CHtmlParser(const std::wstring& markup) : m_in(markup) {}

    void ParseInto(const CNodePtr& root)
    {
        m_open.assign(1, root);
        std::wstring text;
        while (m_pos < m_in.size()) {
            const wchar_t c = m_in[m_pos];
            if (c == L'<' && StartsMarkup()) {
                FlushText(text);
                ParseMarkup();
            } else {
                text += c;
                ++m_pos;
            }
        }
        FlushText(text);
    }

private:
    bool StartsMarkup() const
    {
        if (m_pos + 1 >= m_in.size())
            return false;
        const wchar_t next = m_in[m_pos + 1];
        return IsAsciiAlpha(next) || next == L'!' || next == L'?' ||
               (next == L'/' && m_pos + 2 < m_in.size() && IsAsciiAlpha(m_in[m_pos + 2]));
    }

    void FlushText(std::wstring& text)
    {
        if (text.empty())
            return;
        m_open.back()->children.push_back(CNode::MakeText(DecodeReferences(text)));
        text.clear();
    }

    void ParseMarkup()
    {
        const wchar_t next = m_in[m_pos + 1];
        if (next == L'!' || next == L'?') {
            SkipComment();
        } else if (next == L'/') {
            m_pos += 2;
            const std::wstring name = ReadName();
            SkipTo(L'>');
            CloseElement(name);
        } else {
            ++m_pos;
            ParseStartTag();
        }
    }

    void SkipComment()
    {
        if (m_in.compare(m_pos, 4, L"<!--") == 0) {
            const size_t end = m_in.find(L"-->", m_pos + 4);
            m_pos = end == std::wstring::npos ? m_in.size() : end + 3;
        } else {
            SkipTo(L'>');  // doctype, processing instruction
        }
    }

    void SkipTo(wchar_t c)
    {
        const size_t end = m_in.find(c, m_pos);
        m_pos = end == std::wstring::npos ? m_in.size() : end + 1;
    }

    std::wstring ReadName()
    {
        std::wstring name;
        while (m_pos < m_in.size() && !IsHtmlSpace(m_in[m_pos]) && m_in[m_pos] != L'>' &&
               m_in[m_pos] != L'/' && m_in[m_pos] != L'=')
            name += static_cast<wchar_t>(towlower(m_in[m_pos++]));
        return name;
    }

    void SkipSpace()
    {
        while (m_pos < m_in.size() && IsHtmlSpace(m_in[m_pos]))
            ++m_pos;
    }

    std::wstring ReadAttributeValue()
    {
        SkipSpace();
        if (m_pos >= m_in.size())
            return std::wstring();
        const wchar_t quote = m_in[m_pos];
        std::wstring value;
        if (quote == L'\'' || quote == L'"') {
            const size_t end = m_in.find(quote, m_pos + 1);
            const size_t stop = end == std::wstring::npos ? m_in.size() : end;
            value = m_in.substr(m_pos + 1, stop - m_pos - 1);
            m_pos = end == std::wstring::npos ? m_in.size() : end + 1;
        } else {
            while (m_pos < m_in.size() && !IsHtmlSpace(m_in[m_pos]) && m_in[m_pos] != L'>')
                value += m_in[m_pos++];
        }
        return DecodeReferences(value);
    }

    void ParseStartTag()
    {
        CNodePtr element = CNode::MakeElement(ReadName());
        bool selfClosing = false;
        while (m_pos < m_in.size()) {
            SkipSpace();
            if (m_pos >= m_in.size())
                break;
            if (m_in[m_pos] == L'>') {
                ++m_pos;
                break;
            }
            if (m_in[m_pos] == L'/') {
                selfClosing = true;
                ++m_pos;
                continue;
            }
            std::wstring name = ReadName();
            if (name.empty()) {
                ++m_pos;  // a stray character: skip it rather than loop
                continue;
            }
            SkipSpace();
            std::wstring value;
            if (m_pos < m_in.size() && m_in[m_pos] == L'=') {
                ++m_pos;
                value = ReadAttributeValue();
            }
            element->attributes.emplace(name, value);  // the first of duplicates wins
        }
        m_open.back()->children.push_back(element);
        if (IsRawTextElement(element->tag)) {
            ReadRawText(*element);
        } else if (!selfClosing && !IsVoidElement(element->tag)) {
            m_open.push_back(element);
        }
    }

    // Script and style text runs to the first "</script" (or "</style") followed by white
    // space, "/" or ">", whatever lies between: quotes and comments in the script do not count.
    void ReadRawText(CNode& element)
    {
        const std::wstring closer = L"</" + element.tag;
        size_t search = m_pos;
        for (;;) {
            size_t found = std::wstring::npos;
            for (size_t i = search; i + closer.size() <= m_in.size(); ++i) {
                if (_wcsnicmp(m_in.c_str() + i, closer.c_str(), closer.size()) == 0) {
                    found = i;
                    break;
                }
            }
            if (found == std::wstring::npos) {
                element.text = m_in.substr(m_pos);
                m_pos = m_in.size();
                return;
            }
            const size_t after = found + closer.size();
            if (after >= m_in.size() || IsHtmlSpace(m_in[after]) || m_in[after] == L'/' || m_in[after] == L'>') {
                element.text = m_in.substr(m_pos, found - m_pos);
                m_pos = after;
                SkipTo(L'>');
                return;
            }
            search = found + 1;
        }
    }

    void CloseElement(const std::wstring& name)
    {
        for (size_t i = m_open.size(); i-- > 1;) {
            if (m_open[i]->tag == name) {
                m_open.resize(i);
                return;
            }
        }
        // An end tag with no open element of that name is ignored, as browsers do.
    }

    const std::wstring& m_in;
    size_t m_pos = 0;
    std::vector<CNodePtr> m_open;
};

bool IsIdentifierChar(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
           c == L'$';
}

void SerializeChildren(const CNode& node, std::wstring& out)
{
    for (const CNodePtr& child : node.children) {
        if (child->kind == CNode::Kind::Text) {
            out += EscapeText(child->text, false);
            continue;
        }
        out += L'<';
        out += child->tag;
        for (const auto& attribute : child->attributes) {
            out += L' ';
            out += attribute.first;
            out += L"=\"";
            out += EscapeText(attribute.second, true);
            out += L'"';
        }
        out += L'>';
        if (IsVoidElement(child->tag))
            continue;
        if (IsRawTextElement(child->tag))
            out += child->text;
        else
            SerializeChildren(*child, out);
        out += L"</";
        out += child->tag;
        out += L'>';
    }
}

}  // namespace

CNodePtr CNode::MakeElement(const std::wstring& tag)
{
    CNodePtr node = std::make_shared<CNode>();
    node->kind = Kind::Element;
    node->tag = tag;
    return node;
}

CNodePtr CNode::MakeText(const std::wstring& text)
{
    CNodePtr node = std::make_shared<CNode>();
    node->kind = Kind::Text;
    node->text = text;
    return node;
}

std::wstring CNode::Attribute(const std::wstring& name) const
{
    const auto found = attributes.find(name);
    return found == attributes.end() ? std::wstring() : found->second;
}

std::wstring CNode::StyleValue(const std::wstring& property) const
{
    std::wstring value;
    for (const auto& declaration : ParseStyleDeclarations(Attribute(L"style")))
        if (declaration.first == property)
            value = declaration.second;  // the last declaration wins
    return value;
}

void CNode::SetStyleValue(const std::wstring& property, const std::wstring& value)
{
    std::wstring style;
    for (const auto& declaration : ParseStyleDeclarations(Attribute(L"style"))) {
        if (declaration.first == property)
            continue;
        style += declaration.first + L": " + declaration.second + L"; ";
    }
    if (!Trim(value).empty())
        style += property + L": " + Trim(value) + L";";
    attributes[L"style"] = Trim(style);
}

std::wstring CNode::TextContent() const
{
    if (kind == Kind::Text)
        return text;
    std::wstring out = text;
    for (const CNodePtr& child : children)
        out += child->TextContent();
    return out;
}

std::wstring CNode::InnerHtml() const
{
    if (IsRawTextElement(tag))
        return text;
    std::wstring out;
    SerializeChildren(*this, out);
    return out;
}

void CNode::SetInnerHtml(const std::wstring& markup)
{
    children.clear();
    text.clear();
    CHtmlParser parser(markup);
    CNodePtr holder = MakeElement(L"#fragment");
    parser.ParseInto(holder);
    children = std::move(holder->children);
}

void CNode::SetInnerText(const std::wstring& value)
{
    children.clear();
    text.clear();
    if (!value.empty())
        children.push_back(MakeText(value));
}

CNodePtr ParseHtmlDocument(const std::wstring& markup)
{
    CNodePtr root = CNode::MakeElement(L"#document");
    CHtmlParser parser(markup);
    parser.ParseInto(root);
    return root;
}

CNodePtr FindElementById(const CNodePtr& root, const std::wstring& id)
{
    for (const CNodePtr& child : root->children) {
        if (child->kind != CNode::Kind::Element)
            continue;
        const auto found = child->attributes.find(L"id");
        if (found != child->attributes.end() && found->second == id)
            return child;
        if (CNodePtr inner = FindElementById(child, id))
            return inner;
    }
    return nullptr;
}

CNodePtr FindFirstElement(const CNodePtr& root, const wchar_t* tag)
{
    for (const CNodePtr& child : root->children) {
        if (child->IsElement(tag))
            return child;
        if (child->kind == CNode::Kind::Element)
            if (CNodePtr inner = FindFirstElement(child, tag))
                return inner;
    }
    return nullptr;
}

void CollectElements(const CNodePtr& root, const wchar_t* tag, std::vector<CNodePtr>& found)
{
    for (const CNodePtr& child : root->children) {
        if (child->IsElement(tag))
            found.push_back(child);
        if (child->kind == CNode::Kind::Element)
            CollectElements(child, tag, found);
    }
}

std::wstring Trim(const std::wstring& text)
{
    size_t start = 0, end = text.size();
    while (start < end && iswspace(text[start]))
        ++start;
    while (end > start && iswspace(text[end - 1]))
        --end;
    return text.substr(start, end - start);
}

std::wstring ToLower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

std::wstring CollapseWhiteSpace(const std::wstring& text)
{
    std::wstring out;
    bool pendingSpace = false;
    for (wchar_t c : text) {
        if (IsHtmlSpace(c)) {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace)
            out += L' ';
        pendingSpace = false;
        out += c;
    }
    return out;
}

std::vector<std::pair<std::wstring, std::wstring>> ParseStyleDeclarations(const std::wstring& style)
{
    std::vector<std::pair<std::wstring, std::wstring>> declarations;
    std::wstring current;
    int depth = 0;
    wchar_t quote = 0;
    auto flush = [&]() {
        const size_t colon = current.find(L':');
        if (colon != std::wstring::npos) {
            const std::wstring name = ToLower(Trim(current.substr(0, colon)));
            const std::wstring value = Trim(current.substr(colon + 1));
            if (!name.empty())
                declarations.emplace_back(name, value);
        }
        current.clear();
    };
    for (wchar_t c : style) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == L'\'' || c == L'"') {
            quote = c;
        } else if (c == L'(') {
            ++depth;
        } else if (c == L')') {
            if (depth > 0)
                --depth;
        } else if (c == L';' && depth == 0) {
            flush();
            continue;
        }
        current += c;
    }
    flush();
    return declarations;
}

std::vector<std::wstring> SplitCssValue(const std::wstring& value)
{
    std::vector<std::wstring> tokens;
    std::wstring current;
    int depth = 0;
    auto flush = [&]() {
        if (!current.empty())
            tokens.push_back(current);
        current.clear();
    };
    for (wchar_t c : value) {
        if (depth == 0 && iswspace(c)) {
            flush();
            continue;
        }
        if (depth == 0 && c == L',') {
            flush();
            tokens.push_back(L",");
            continue;
        }
        if (c == L'(')
            ++depth;
        else if (c == L')' && depth > 0)
            --depth;
        current += c;
    }
    flush();
    return tokens;
}

bool ParseCssLength(const std::wstring& token, int percentBase, int emBase, int& pixels)
{
    const std::wstring t = ToLower(Trim(token));
    if (t.empty())
        return false;
    wchar_t* end = nullptr;
    const double number = wcstod(t.c_str(), &end);
    if (end == t.c_str())
        return false;
    const std::wstring unit = end;
    double result;
    if (unit == L"px")
        result = number;
    else if (unit == L"%")
        result = number * percentBase / 100.0;
    else if (unit == L"em")
        result = number * emBase;
    else if (unit == L"pt")
        result = number * 96.0 / 72.0;
    else if (unit.empty() && number == 0)
        result = 0;
    else
        return false;
    pixels = static_cast<int>(result < 0 ? result - 0.5 : result + 0.5);
    return true;
}

bool ParseCssColor(const std::wstring& token, COLORREF& color)
{
    const std::wstring t = ToLower(Trim(token));
    auto hex = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9') return c - L'0';
        if (c >= L'a' && c <= L'f') return c - L'a' + 10;
        return -1;
    };
    if (!t.empty() && t[0] == L'#') {
        int v[6];
        const size_t n = t.size() - 1;
        if (n != 3 && n != 6)
            return false;
        for (size_t i = 0; i < n; ++i)
            if ((v[i] = hex(t[i + 1])) < 0)
                return false;
        if (n == 3)
            color = RGB(v[0] * 17, v[1] * 17, v[2] * 17);
        else
            color = RGB(v[0] * 16 + v[1], v[2] * 16 + v[3], v[4] * 16 + v[5]);
        return true;
    }
    if (t.compare(0, 4, L"rgb(") == 0 && t.back() == L')') {
        int r, g, b;
        if (swscanf(t.c_str(), L"rgb(%d ,%d ,%d )", &r, &g, &b) != 3)
            return false;
        auto clamp = [](int x) { return x < 0 ? 0 : x > 255 ? 255 : x; };
        color = RGB(clamp(r), clamp(g), clamp(b));
        return true;
    }
    static const struct { const wchar_t* name; COLORREF value; } kNamed[] = {
        {L"black", RGB(0, 0, 0)},       {L"white", RGB(255, 255, 255)}, {L"red", RGB(255, 0, 0)},
        {L"green", RGB(0, 128, 0)},     {L"blue", RGB(0, 0, 255)},      {L"gray", RGB(128, 128, 128)},
        {L"grey", RGB(128, 128, 128)},  {L"silver", RGB(192, 192, 192)}, {L"navy", RGB(0, 0, 128)},
        {L"yellow", RGB(255, 255, 0)},  {L"orange", RGB(255, 165, 0)},  {L"maroon", RGB(128, 0, 0)},
        {L"purple", RGB(128, 0, 128)},  {L"lime", RGB(0, 255, 0)},      {L"aqua", RGB(0, 255, 255)},
        {L"fuchsia", RGB(255, 0, 255)}, {L"olive", RGB(128, 128, 0)},   {L"teal", RGB(0, 128, 128)}};
    for (const auto& entry : kNamed) {
        if (t == entry.name) {
            color = entry.value;
            return true;
        }
    }
    return false;
}

std::wstring FindSearchLiteral(const std::wstring& script)
{
    static const std::wstring kName = L"_search";
    for (size_t at = script.find(kName); at != std::wstring::npos; at = script.find(kName, at + 1)) {
        if (at > 0 && IsIdentifierChar(script[at - 1]))
            continue;
        size_t i = at + kName.size();
        if (i < script.size() && IsIdentifierChar(script[i]))
            continue;
        while (i < script.size() && iswspace(script[i]))
            ++i;
        if (i >= script.size() || script[i] != L'=' || (i + 1 < script.size() && script[i + 1] == L'='))
            continue;
        ++i;
        while (i < script.size() && iswspace(script[i]))
            ++i;
        if (i >= script.size() || (script[i] != L'\'' && script[i] != L'"'))
            continue;
        const wchar_t quote = script[i];
        const size_t start = i++;
        while (i < script.size()) {
            const wchar_t c = script[i];
            if (c == quote)
                return script.substr(start, i - start + 1);
            if (c == L'\n' || c == L'\r' || c == L'\x2028' || c == L'\x2029')
                return std::wstring();  // unterminated on its line
            if (c == L'\\') {
                // An escape takes the next character, and CR LF as one line continuation.
                if (i + 2 < script.size() && script[i + 1] == L'\r' && script[i + 2] == L'\n')
                    ++i;
                i += 2;
                continue;
            }
            ++i;
        }
        return std::wstring();
    }
    return std::wstring();
}
