#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "page_model.h"
#include "png.h"
#include "page_model.h"
#include "test_images.h"

namespace {

std::vector<BYTE> Base64Bytes(const char* text)
{
    std::vector<BYTE> bytes;
    EXPECT_TRUE(DecodeBase64(std::wstring(text, text + strlen(text)), bytes));
    return bytes;
}

TEST(PngDecoderTest, DecodesEveryBlockTypeAndFilter)
{
    const char* const files[] = {kPngStored, kPngFixed, kPngDynamic};
    for (const char* file : files) {
        CRgbaImage image;
        ASSERT_TRUE(DecodePng(Base64Bytes(file), image));
        ASSERT_EQ(16, image.width);
        ASSERT_EQ(16, image.height);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const BYTE* px = &image.rgba[(y * 16 + x) * 4];
                BYTE expected[4] = {BYTE(x * 16), BYTE(y * 16), BYTE((x * y) & 255), 255};
                if (x == 0 && y == 0)
                    expected[0] = expected[1] = expected[2] = expected[3] = 0;
                if (x == 1 && y == 0)
                    expected[0] = 255, expected[1] = 0, expected[2] = 0, expected[3] = 128;
                ASSERT_EQ(0, memcmp(expected, px, 4)) << "pixel " << x << "," << y;
            }
        }
    }
}

TEST(PngDecoderTest, RefusesDamagedFilesWithoutReadingPastThem)
{
    const std::vector<BYTE> good = Base64Bytes(kPngDynamic);
    // Every truncation, and a flipped byte at every place, fails cleanly or decodes to 16x16.
    for (size_t length = 0; length < good.size(); ++length) {
        CRgbaImage image;
        const std::vector<BYTE> cut(good.begin(), good.begin() + length);
        EXPECT_FALSE(DecodePng(cut, image)) << "length " << length;
    }
    for (size_t i = 8; i < good.size(); ++i) {
        std::vector<BYTE> damaged = good;
        damaged[i] ^= 0x5A;
        CRgbaImage image;
        if (DecodePng(damaged, image)) {
            EXPECT_EQ(16u * 16u * 4u, image.rgba.size());
        }
    }
    CRgbaImage image;
    EXPECT_FALSE(DecodePngDataUri(L"data:image/gif;base64,R0lGOD", image));
    EXPECT_FALSE(DecodePngDataUri(L"data:image/png;base64,***", image));
    EXPECT_TRUE(DecodePngDataUri(L"DATA:image/PNG;BASE64," + std::wstring(kPngFixed, kPngFixed + strlen(kPngFixed)),
                                 image));
}

TEST(PageModelTest, ScriptTextEndsAtTheFirstClosingTag)
{
    const CNodePtr doc = ParseHtmlDocument(
        L"<html><body onload='update();'><script type='text/javascript'>var a = '<b>'; if (1 < 2) {}"
        L" var s = '</script>'; tail();</script><p id='x'>A &amp; B &lt;3&gt; &#x3C0;</p></body></html>");
    std::vector<CNodePtr> scripts;
    CollectElements(doc, L"script", scripts);
    ASSERT_EQ(1u, scripts.size());
    EXPECT_EQ(L"var a = '<b>'; if (1 < 2) {} var s = '", scripts[0]->text);
    EXPECT_EQ(L"update();", FindFirstElement(doc, L"body")->Attribute(L"onload"));
    // What followed the early end is page text of the body, not script.
    const CNodePtr body = FindFirstElement(doc, L"body");
    ASSERT_GE(body->children.size(), 2u);
    EXPECT_EQ(CNode::Kind::Text, body->children[1]->kind);
    EXPECT_EQ(L"'; tail();", body->children[1]->text);
    const CNodePtr p = FindElementById(doc, L"x");
    ASSERT_TRUE(p);
    EXPECT_EQ(L"A & B <3> \x3C0", p->TextContent());
    EXPECT_EQ(L"A &amp; B &lt;3&gt; \x3C0", p->InnerHtml());
}

TEST(PageModelTest, StyleDeclarationsKeepDataUrisWhole)
{
    const auto declarations = ParseStyleDeclarations(
        L"margin: 0px;padding: 16px 0px 0px 38px;background: #FFFFFF url(data:image/png;base64,AB==) no-repeat "
        L"18px 15px;");
    ASSERT_EQ(3u, declarations.size());
    EXPECT_EQ(L"background", declarations[2].first);
    EXPECT_EQ(L"#FFFFFF url(data:image/png;base64,AB==) no-repeat 18px 15px", declarations[2].second);
    const std::vector<std::wstring> tokens = SplitCssValue(declarations[2].second);
    ASSERT_EQ(5u, tokens.size());
    EXPECT_EQ(L"url(data:image/png;base64,AB==)", tokens[1]);

    CNodePtr node = CNode::MakeElement(L"p");
    node->attributes[L"style"] = L"clear: both;margin: 0px;font-weight:bold;";
    node->SetStyleValue(L"color", L"#333333");
    EXPECT_EQ(L"#333333", node->StyleValue(L"color"));
    EXPECT_EQ(L"bold", node->StyleValue(L"font-weight"));
    node->SetStyleValue(L"color", L"#777777");
    EXPECT_EQ(L"#777777", node->StyleValue(L"color"));
}

TEST(PageModelTest, CssValues)
{
    COLORREF color = 0;
    EXPECT_TRUE(ParseCssColor(L"#1e3287", color));
    EXPECT_EQ(RGB(0x1e, 0x32, 0x87), color);
    EXPECT_TRUE(ParseCssColor(L"#FFF", color));
    EXPECT_EQ(RGB(255, 255, 255), color);
    EXPECT_TRUE(ParseCssColor(L"rgb(1, 2, 3)", color));
    EXPECT_EQ(RGB(1, 2, 3), color);
    EXPECT_FALSE(ParseCssColor(L"#12345", color));
    int px = 0;
    EXPECT_TRUE(ParseCssLength(L"16px", 0, 12, px));
    EXPECT_EQ(16, px);
    EXPECT_TRUE(ParseCssLength(L"100%", 350, 12, px));
    EXPECT_EQ(350, px);
    EXPECT_TRUE(ParseCssLength(L"1em", 0, 12, px));
    EXPECT_EQ(12, px);
    EXPECT_TRUE(ParseCssLength(L"0", 0, 12, px));
    EXPECT_EQ(0, px);
    EXPECT_FALSE(ParseCssLength(L"auto", 0, 12, px));
}

TEST(SearchLiteralTest, ReadsTheLiteralByTheLanguagesRules)
{
    struct {
        const wchar_t* script;
        const wchar_t* literal;
    } const cases[] = {
        {L"var e = E, _search = '2^10', x;", L"'2^10'"},
        {L"var _search='a\\'b';", L"'a\\'b'"},
        {L"var _search = \"it's\";", L"\"it's\""},
        {L"var _search = 'it's';", L"'it'"},
        {L"var _search = 'open", L""},
        {L"var _search = 'line\nbreak';", L""},
        {L"if (_search == 'x') {} var _search = 'y';", L"'y'"},
        {L"var my_search = 'no'; var _search = 'yes';", L"'yes'"},
        {L"var nothing = 1;", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.literal, FindSearchLiteral(c.script));
}

}  // namespace
