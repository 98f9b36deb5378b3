#pragma once
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

// The document tree of a written page: just enough HTML parsing for what a small page uses
// (elements, attributes, text, character references, raw-text script and style elements,
// comments). No error recovery beyond closing elements at their end tags.

class CNode;
using CNodePtr = std::shared_ptr<CNode>;

class CNode {
public:
    enum class Kind { Element, Text };

    static CNodePtr MakeElement(const std::wstring& tag);
    static CNodePtr MakeText(const std::wstring& text);

    Kind kind = Kind::Text;
    std::wstring tag;                              // lower case; empty for text
    std::map<std::wstring, std::wstring> attributes;  // names lower case, values decoded
    std::wstring text;                             // text nodes; raw text of script/style
    std::vector<CNodePtr> children;

    bool IsElement(const wchar_t* name) const { return kind == Kind::Element && tag == name; }
    std::wstring Attribute(const std::wstring& name) const;

    // Inline style of the element, as property name (lower case) to value; kept in sync with
    // the "style" attribute, which script changes go through as well.
    std::wstring StyleValue(const std::wstring& property) const;
    void SetStyleValue(const std::wstring& property, const std::wstring& value);

    std::wstring TextContent() const;
    std::wstring InnerHtml() const;
    void SetInnerHtml(const std::wstring& markup);
    void SetInnerText(const std::wstring& text);
};

// The whole document: its root holds the top-level nodes.
CNodePtr ParseHtmlDocument(const std::wstring& markup);

// Depth-first, document order.
CNodePtr FindElementById(const CNodePtr& root, const std::wstring& id);
CNodePtr FindFirstElement(const CNodePtr& root, const wchar_t* tag);
void CollectElements(const CNodePtr& root, const wchar_t* tag, std::vector<CNodePtr>& found);

// ---- CSS values ----

// "a: b; c: d" to ordered pairs; semicolons inside parentheses or quotes do not split.
std::vector<std::pair<std::wstring, std::wstring>> ParseStyleDeclarations(const std::wstring& style);
// Splits a property value at white space and commas outside parentheses (commas kept as tokens).
std::vector<std::wstring> SplitCssValue(const std::wstring& value);
// "12px", "0", "50%" (of `percentBase`), "1em" (of `emBase`). False for anything else.
bool ParseCssLength(const std::wstring& token, int percentBase, int emBase, int& pixels);
// "#rgb", "#rrggbb", "rgb(r,g,b)" or a basic colour keyword.
bool ParseCssColor(const std::wstring& token, COLORREF& color);

std::wstring Trim(const std::wstring& text);
std::wstring ToLower(std::wstring text);
// Runs of white space become one space; leading and trailing white space goes.
std::wstring CollapseWhiteSpace(const std::wstring& text);

// The JavaScript string literal that follows "_search =" in a script, quotes included, read by
// the language's rules (a backslash takes the next character along); empty when there is none
// or it is not terminated on its line. The calculator page stores its query there.
std::wstring FindSearchLiteral(const std::wstring& script);
