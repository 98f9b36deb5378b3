#include <gtest/gtest.h>

#include <string>

#include "standin_fixture.h"
#include "test_images.h"

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kHeader = RGB(0x1e, 0x32, 0x87);
const COLORREF kSeparator = RGB(0xe5, 0xe5, 0xe5);
const COLORREF kDark = RGB(0x33, 0x33, 0x33);
const COLORREF kLight = RGB(0x77, 0x77, 0x77);
const COLORREF kOrange = RGB(255, 128, 0);

const wchar_t kLines[] = L"var r = document.getElementById('_result'); var q = document.getElementById('_query');";
const wchar_t kShows1024[] = L"r.innerHTML = 1024; r.style.color = '#333333'; q.innerHTML = 'pow(2,10) '; "
                             L"q.style.color = '#777777';";

std::wstring OrangeIcon()
{
    return L"data:image/png;base64," + std::wstring(kPngOrange, kPngOrange + sizeof kPngOrange - 1);
}

// Writes the page into a fresh browser and draws it at `bounds` into a canvas filled black
// beforehand, so that anything the control leaves unpainted shows.
class DrawTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CStandinLibrary::Instance().Loaded());
        ASSERT_TRUE(CreateBlankBrowser(m_browser));
        m_browser->put_Silent(VARIANT_TRUE);
        ASSERT_HRESULT_SUCCEEDED(m_browser->QueryInterface(IID_IViewObject, m_view.ReceiveVoid()));
    }

    void Show(const std::wstring& page)
    {
        CComPtr<IHTMLDocument2> document;
        ASSERT_TRUE(GetHtmlDocument(m_browser.Get(), document));
        ASSERT_EQ(S_OK, WritePage(document.Get(), page));
    }

    HRESULT Draw(CPixelCanvas& canvas, const RECTL& bounds)
    {
        return m_view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.Dc(), &bounds, &bounds, nullptr,
                            0);
    }

    CComPtr<IWebBrowser2> m_browser;
    CComPtr<IViewObject> m_view;
};

TEST_F(DrawTest, ThePagePaintsWhatItSays)
{
    Show(MakeTestPage(std::wstring(kLines) + kShows1024, OrangeIcon()));
    CPixelCanvas canvas(350, 100, kBlack);
    const LONG draws = CStandinLibrary::Instance().Count(WBSTANDIN_DRAWS);
    ASSERT_EQ(S_OK, Draw(canvas, {0, 0, 350, 100}));
    EXPECT_EQ(draws + 1, CStandinLibrary::Instance().Count(WBSTANDIN_DRAWS));
    canvas.SaveBitmap(L"webbrowser_draw.bmp");

    // White ground everywhere the page has no ink: nothing is left black.
    EXPECT_EQ(0, canvas.CountColor(kBlack, 0, 0, 350, 100));
    EXPECT_EQ(kWhite, canvas.Pixel(349, 99));
    EXPECT_EQ(kWhite, canvas.Pixel(300, 5));

    // The header in its colour, at the top left, and nowhere else.
    EXPECT_GT(canvas.CountColor(kHeader, 7, 0, 160, 24), 20);
    EXPECT_EQ(0, canvas.CountColor(kHeader, 0, 24, 350, 100));
    const int headerLeft = canvas.FirstInkColumn(kWhite, 0, 0, 160, 12);
    EXPECT_GE(headerLeft, 7);
    EXPECT_LE(headerLeft, 9);

    // The separator: one light-grey row 13 px from the top, right of the header only.
    EXPECT_EQ(200, canvas.CountColor(kSeparator, 150, 13, 350, 14));
    EXPECT_EQ(0, canvas.CountColor(kSeparator, 150, 12, 350, 13));
    EXPECT_EQ(0, canvas.CountColor(kSeparator, 150, 14, 350, 15));
    EXPECT_EQ(0, canvas.CountColor(kSeparator, 7, 13, 60, 14));  // the header's white covers it

    // The icon at 18,15 of the result area (which starts below the separator, at 14).
    EXPECT_EQ(kOrange, canvas.Pixel(18 + 8, 29 + 8));
    EXPECT_EQ(kOrange, canvas.Pixel(18 + 15, 29 + 15));
    EXPECT_EQ(kOrange, canvas.Pixel(18 + 4, 29));
    EXPECT_EQ(kWhite, canvas.Pixel(18 + 1, 29 + 1));  // its transparent corner shows the ground
    EXPECT_EQ(kWhite, canvas.Pixel(17, 29 + 8));
    EXPECT_EQ(kWhite, canvas.Pixel(18 + 16, 29 + 8));
    EXPECT_EQ(kWhite, canvas.Pixel(18 + 8, 28));

    // The result line in dark grey from 38 px, 16 px below the area's top; the query line in
    // light grey under it.
    EXPECT_GT(canvas.CountColor(kDark, 38, 30, 350, 46), 20);
    EXPECT_EQ(0, canvas.CountColor(kDark, 0, 0, 38, 100));
    const int resultLeft = canvas.FirstInkColumn(kWhite, 36, 30, 350, 44);
    EXPECT_GE(resultLeft, 38);
    EXPECT_LE(resultLeft, 41);
    const int resultTop = canvas.FirstInkRow(kWhite, 38, 28, 350, 44);
    EXPECT_GE(resultTop, 30);
    EXPECT_LE(resultTop, 35);
    EXPECT_GT(canvas.CountColor(kLight, 38, 44, 350, 64), 20);
    EXPECT_EQ(0, canvas.CountColor(kLight, 0, 0, 350, 42));
}

TEST_F(DrawTest, TheResultLineIsBold)
{
    // The same text in the same colour on both lines: the bold one has more ink.
    Show(MakeTestPage(std::wstring(kLines) + L"r.innerHTML = 'WMW 1024'; r.style.color = '#333333'; "
                                             L"q.innerHTML = 'WMW 1024'; q.style.color = '#333333';"));
    CPixelCanvas canvas(350, 100, kBlack);
    ASSERT_EQ(S_OK, Draw(canvas, {0, 0, 350, 100}));
    const int boldInk = canvas.CountColor(kDark, 38, 28, 350, 44);
    const int plainInk = canvas.CountColor(kDark, 38, 44, 350, 64);
    EXPECT_GT(plainInk, 20);
    EXPECT_GT(boldInk, plainInk + plainInk / 5) << "bold " << boldInk << ", regular " << plainInk;
}

TEST_F(DrawTest, PositionsAndColoursComeFromThePage)
{
    struct {
        const wchar_t* padding;
        int left;
        int top;
        const wchar_t* color;
        COLORREF expected;
    } const cases[] = {
        {L"16px 0px 0px 38px", 38, 30, L"#ff0000", RGB(255, 0, 0)},
        {L"16px 0px 0px 60px", 60, 30, L"#00a000", RGB(0, 0xa0, 0)},
        {L"40px 0px 0px 38px", 38, 54, L"rgb(0, 0, 255)", RGB(0, 0, 255)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "padding " << c.left << "," << c.top);
        Show(MakeTestPage(std::wstring(kLines) + L"r.innerHTML = '88'; r.style.color = '" + c.color + L"';", L"",
                          c.padding));
        CPixelCanvas canvas(350, 100, kBlack);
        ASSERT_EQ(S_OK, Draw(canvas, {0, 0, 350, 100}));
        EXPECT_GT(canvas.CountColor(c.expected, c.left, c.top, 350, c.top + 16), 10);
        EXPECT_EQ(0, canvas.CountColor(kDark, 0, 0, 350, 100));
        const int left = canvas.FirstInkColumn(kWhite, 0, c.top, 350, c.top + 16);
        EXPECT_GE(left, c.left);
        EXPECT_LE(left, c.left + 3);
        const int top = canvas.FirstInkRow(kWhite, c.left, 20, 350, 100);
        EXPECT_GE(top, c.top);
        EXPECT_LE(top, c.top + 5);
    }
}

TEST_F(DrawTest, DrawingStaysInsideTheBounds)
{
    Show(MakeTestPage(std::wstring(kLines) + kShows1024, OrangeIcon()));
    CPixelCanvas canvas(400, 140, kBlack);
    ASSERT_EQ(S_OK, Draw(canvas, {20, 10, 370, 110}));
    EXPECT_EQ(0, canvas.CountColor(kBlack, 20, 10, 370, 110));
    EXPECT_EQ(400 * 140 - 350 * 100, canvas.CountColor(kBlack, 0, 0, 400, 140));
    EXPECT_EQ(kOrange, canvas.Pixel(20 + 18 + 8, 10 + 29 + 8));
    EXPECT_GT(canvas.CountColor(kDark, 20 + 38, 10 + 30, 370, 10 + 46), 20);

    // Only the content aspect of a real rectangle is drawn.
    const RECTL bounds = {0, 0, 10, 10};
    EXPECT_EQ(DV_E_DVASPECT, m_view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, canvas.Dc(), &bounds,
                                          &bounds, nullptr, 0));
    EXPECT_EQ(E_INVALIDARG, m_view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.Dc(), nullptr,
                                         nullptr, nullptr, 0));
}

TEST_F(DrawTest, APageWhoseScriptFailsShowsHeaderAndIconWithEmptyLines)
{
    // A query with "</script>" ends the script early: it does not parse, and the rest of the
    // script is page text that a browser shows under the result area.
    const std::wstring page = MakeTestPage(L"var _search = '</script>'; " + std::wstring(kLines) + kShows1024,
                                           OrangeIcon());
    Show(page);
    CPixelCanvas canvas(350, 100, kBlack);
    ASSERT_EQ(S_OK, Draw(canvas, {0, 0, 350, 100}));
    canvas.SaveBitmap(L"webbrowser_draw_failed_script.bmp");
    EXPECT_GT(canvas.CountColor(kHeader, 7, 0, 160, 24), 20);
    // With both lines empty the result area is only its 16 px of padding high, and its
    // background, the icon, is clipped to it: one row of the icon shows.
    EXPECT_EQ(kOrange, canvas.Pixel(18 + 8, 29));
    EXPECT_EQ(0, canvas.CountColor(kOrange, 0, 30, 350, 100));
    EXPECT_EQ(0, canvas.CountColor(kDark, 0, 0, 350, 100));
    EXPECT_EQ(0, canvas.CountColor(kLight, 0, 0, 350, 100));
    // The stray script text, in the page's default black, below the empty lines.
    EXPECT_GT(canvas.CountColor(kBlack, 0, 30, 350, 100), 50);
    EXPECT_EQ(0, canvas.CountColor(kBlack, 0, 0, 350, 29));
}

TEST_F(DrawTest, TheBlankPageIsWhite)
{
    CPixelCanvas canvas(120, 60, kBlack);
    ASSERT_EQ(S_OK, Draw(canvas, {0, 0, 120, 60}));
    EXPECT_EQ(120 * 60, canvas.CountColor(kWhite, 0, 0, 120, 60));
}

}  // namespace
