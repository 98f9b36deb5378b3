#include <gtest/gtest.h>

#include <string>

#include "page.h"
#include "standin_fixture.h"

// The product's own calculator page in the stand-in: what the panel will show.
namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kHeader = RGB(0x1e, 0x32, 0x87);
const COLORREF kSeparator = RGB(0xe5, 0xe5, 0xe5);
const COLORREF kDark = RGB(0x33, 0x33, 0x33);
const COLORREF kLight = RGB(0x77, 0x77, 0x77);

class RealPageTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CStandinLibrary::Instance().Loaded());
        ASSERT_TRUE(CreateBlankBrowser(m_browser));
        ASSERT_EQ(S_OK, m_browser->put_Silent(VARIANT_TRUE));
    }

    void Show(const wchar_t* query)
    {
        const CString page = BuildCalculatorPage(CString(query));
        CComPtr<IHTMLDocument2> document;
        ASSERT_TRUE(GetHtmlDocument(m_browser.Get(), document));
        ASSERT_EQ(S_OK, WritePage(document.Get(), std::wstring(page.GetString(), page.GetLength())));
    }

    static std::wstring Last(int field, bool* present = nullptr)
    {
        return CStandinLibrary::Instance().PageField(-1, field, present);
    }

    CComPtr<IWebBrowser2> m_browser;
};

TEST_F(RealPageTest, TwoToTheTenthShows1024)
{
    Show(L"2^10");
    EXPECT_EQ(L"1024", Last(WBSTANDIN_FIELD_RESULT_TEXT));
    EXPECT_EQ(L"#333333", Last(WBSTANDIN_FIELD_RESULT_COLOR));
    EXPECT_EQ(L"pow(2,10) ", Last(WBSTANDIN_FIELD_QUERY_TEXT));
    EXPECT_EQ(L"#777777", Last(WBSTANDIN_FIELD_QUERY_COLOR));
    EXPECT_EQ(L"2^10", Last(WBSTANDIN_FIELD_SEARCH));
    bool hasError = true;
    Last(WBSTANDIN_FIELD_SCRIPT_ERROR, &hasError);
    EXPECT_FALSE(hasError);

    CComPtr<IViewObject> view;
    ASSERT_HRESULT_SUCCEEDED(m_browser->QueryInterface(IID_IViewObject, view.ReceiveVoid()));
    CPixelCanvas canvas(350, 100, RGB(0, 0, 0));
    const RECTL bounds = {0, 0, 350, 100};
    ASSERT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.Dc(), &bounds, &bounds,
                               nullptr, 0));
    canvas.SaveBitmap(L"webbrowser_real_page.bmp");
    EXPECT_EQ(0, canvas.CountColor(RGB(0, 0, 0), 0, 0, 350, 100));
    EXPECT_GT(canvas.CountColor(kHeader, 7, 0, 160, 24), 20);
    EXPECT_EQ(150, canvas.CountColor(kSeparator, 200, 13, 350, 14));
    EXPECT_GT(canvas.CountColor(kDark, 38, 30, 350, 46), 20);
    EXPECT_GT(canvas.CountColor(kLight, 38, 44, 350, 64), 20);
    // The badge: drawn, and nothing but white outside its 16 x 16 square left of the text.
    EXPECT_GT(16 * 16 - canvas.CountColor(kWhite, 18, 29, 34, 45), 100);
    EXPECT_EQ(0, (18 * 36) - canvas.CountColor(kWhite, 0, 28, 18, 64));
}

TEST_F(RealPageTest, QueriesReachTheScriptAsTyped)
{
    struct {
        const wchar_t* query;
        const wchar_t* resultPrefix;
        const wchar_t* resultColor;
    } const cases[] = {
        {L"2pi", L"6.28318", L"#333333"},
        {L"(1+2)^2", L"9", L"#333333"},
        {L"it's", L"", L"#777777"},          // an error, shown in the light colour
        {L"a\\nb", L"", L"#777777"},
        {L"</script>", L"", L"#777777"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "query " << std::string(c.query, c.query + wcslen(c.query)));
        Show(c.query);
        EXPECT_EQ(c.query, Last(WBSTANDIN_FIELD_SEARCH));
        const std::wstring result = Last(WBSTANDIN_FIELD_RESULT_TEXT);
        EXPECT_EQ(0u, result.find(c.resultPrefix)) << std::string(result.begin(), result.end());
        EXPECT_FALSE(result.empty());
        EXPECT_EQ(c.resultColor, Last(WBSTANDIN_FIELD_RESULT_COLOR));
    }
}

}  // namespace
