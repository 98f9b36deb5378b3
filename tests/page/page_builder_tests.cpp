// The page builder: head, escaped query, tail. What the page's script makes of the escaped text in
// real engines is tested by the Node.js, JScript and Chromium tests beside this file; these tests
// pin the builder's own contract on every UTF-16 code unit.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "page.h"
#include "page_text.h"

namespace {

const std::wstring kHead = PAGE_HEAD;
const std::wstring kTail(PAGE_TAIL, PAGE_TAIL_LENGTH);

std::wstring ToWide(const CString& s)
{
    return std::wstring(s.GetString(), s.GetLength());
}

// The literal between head and tail, checked for the shape the builder promises.
std::wstring LiteralOf(const CString& page)
{
    const std::wstring text = ToWide(page);
    EXPECT_GE(text.size(), kHead.size() + kTail.size());
    EXPECT_EQ(kHead, text.substr(0, kHead.size()));
    EXPECT_EQ(kTail, text.substr(text.size() - kTail.size()));
    return text.substr(kHead.size(), text.size() - kHead.size() - kTail.size());
}

// Reads a script string literal's body the way a script engine does, for the two forms the
// builder may write: a plain character, or \uXXXX. Any other escape fails the test.
std::wstring DecodeLiteral(const std::wstring& literal)
{
    std::wstring value;
    for (size_t i = 0; i < literal.size(); ++i) {
        const wchar_t c = literal[i];
        if (c != L'\\') {
            value += c;
            continue;
        }
        if (i + 5 >= literal.size()) {
            ADD_FAILURE() << "escape cut short at " << i;
            return value;
        }
        EXPECT_EQ(L'u', literal[i + 1]) << "unexpected escape at " << i;
        value += static_cast<wchar_t>(std::stoul(literal.substr(i + 2, 4), nullptr, 16));
        i += 5;
    }
    return value;
}

TEST(PageTemplateTest, SplitsInsideTheLiteralOfSearch)
{
    const std::wstring splice = L"var _search = '";
    ASSERT_GT(kHead.size(), splice.size());
    EXPECT_EQ(splice, kHead.substr(kHead.size() - splice.size()));
    EXPECT_EQ(L"';", kTail.substr(0, 2));
    const std::wstring end = L"</script></body></html>";
    EXPECT_EQ(end, kTail.substr(kTail.size() - end.size()));
    EXPECT_EQ(static_cast<size_t>(PAGE_TAIL_LENGTH), wcslen(PAGE_TAIL));
    EXPECT_EQ(0u, kHead.find(L"<html style='border:none;'><head><title>Tallyglass</title></head>"));
    // The head holds the markup and the start of the script; the tail ends the script.
    EXPECT_NE(std::wstring::npos, kHead.find(L"<script type='text/javascript' language='javascript'>"));
    EXPECT_NE(std::wstring::npos, kHead.find(L"function _hatToPow(str)"));
    EXPECT_EQ(std::wstring::npos, kTail.find(L"<script"));
}

TEST(PageBuilderTest, EmptyQueryGivesHeadAndTail)
{
    const CString page = BuildCalculatorPage(CString());
    EXPECT_EQ(kHead + kTail, ToWide(page));
}

TEST(PageBuilderTest, ArithmeticGoesInAsItStands)
{
    const wchar_t* queries[] = {L"2^10", L"sin(pi/2)^2 + 3(4+5)", L"max(1,2^3) % 7 - 0x10 * 1.5e-3", L"2 ^ 3"};
    for (const wchar_t* query : queries) {
        const CString page = BuildCalculatorPage(CString(query));
        EXPECT_EQ(std::wstring(query), LiteralOf(page)) << query;
        EXPECT_EQ(kHead.size() + wcslen(query) + kTail.size(), static_cast<size_t>(page.GetLength()));
    }
}

TEST(PageBuilderTest, EscapesWhatWouldEndOrBendTheLiteralOrTheScriptElement)
{
    struct Case {
        const wchar_t* query;
        const wchar_t* literal;
    } cases[] = {
        {L"it's", L"it\\u0027s"},
        {L"a\\nb", L"a\\u005Cnb"},
        {L"\"q\"", L"\\u0022q\\u0022"},
        {L"</script>", L"\\u003C/script\\u003E"},
        {L"<!--", L"\\u003C!--"},
        {L"&amp;", L"\\u0026amp;"},
        {L"1\r\n2", L"1\\u000D\\u000A2"},
        {L"\x2028\x2029", L"\\u2028\\u2029"},
        {L"\xD800x\xDC00", L"\\uD800x\\uDC00"},
        {L"\x7F\x80\xFEFF", L"\\u007F\\u0080\\uFEFF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::wstring(c.literal), LiteralOf(BuildCalculatorPage(CString(c.query)))) << c.literal;
}

TEST(PageBuilderTest, EveryCodeUnitComesBackAndThePageStaysPrintableAscii)
{
    std::wstring all;
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit)
        all += static_cast<wchar_t>(unit);
    const CString query(all.data(), static_cast<int>(all.size()));
    const CString page = BuildCalculatorPage(query);
    const std::wstring literal = LiteralOf(page);

    EXPECT_EQ(all, DecodeLiteral(literal));
    for (size_t i = 0; i < literal.size(); ++i) {
        const wchar_t c = literal[i];
        ASSERT_TRUE(c >= 0x20 && c <= 0x7E) << "code unit " << static_cast<unsigned>(c) << " at " << i;
        ASSERT_EQ(std::wstring::npos, std::wstring(L"'\"<>&").find(c)) << "raw " << static_cast<char>(c) << " at " << i;
    }
    // One script element, still whole: nothing in the query can open or close one.
    const std::wstring text = ToWide(page);
    EXPECT_EQ(text.find(L"<script"), text.rfind(L"<script"));
    EXPECT_EQ(text.find(L"</script>"), text.size() - std::wstring(L"</script></body></html>").size());
}

int g_allocations = 0;
int g_failAtAllocation = -1;

void* CountingAllocator(size_t bytes)
{
    if (g_allocations++ == g_failAtAllocation)
        return nullptr;
    return HeapAlloc(GetProcessHeap(), 0, bytes);
}

class PageAllocationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_liveBefore = CString::LiveBufferCount();
        g_allocations = 0;
        g_failAtAllocation = -1;
    }
    void TearDown() override
    {
        CString::SetAllocatorForTesting(nullptr);
        EXPECT_EQ(m_liveBefore, CString::LiveBufferCount()) << "a buffer leaked";
    }
    long m_liveBefore = 0;
};

TEST_F(PageAllocationTest, BuildsThePageInOneAllocation)
{
    const CString query(L"it's 1\\2 </script> \x2028 and more");
    CString::SetAllocatorForTesting(CountingAllocator);
    const CString page = BuildCalculatorPage(query);
    EXPECT_EQ(1, g_allocations);
    CString::SetAllocatorForTesting(nullptr);
    EXPECT_EQ(DecodeLiteral(LiteralOf(page)), ToWide(query));
}

TEST_F(PageAllocationTest, FailedAllocationRaisesOutOfMemoryAndLeaksNothing)
{
    const CString query(L"1+1");
    CString::SetAllocatorForTesting(CountingAllocator);
    g_failAtAllocation = 0;
    HRESULT error = S_OK;
    try {
        BuildCalculatorPage(query);
    } catch (const CHResultException& e) {
        error = e.Error();
    }
    EXPECT_EQ(E_OUTOFMEMORY, error);
    EXPECT_STREQ(L"1+1", query.GetString());
}

}  // namespace
