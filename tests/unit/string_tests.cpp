#include <gtest/gtest.h>

#include <climits>

#include "support/string.h"

namespace {

HRESULT ErrorOf(void (*action)())
{
    try {
        action();
    } catch (const CHResultException& e) {
        return e.Error();
    }
    return S_OK;
}

int g_allocationsBeforeFailure = -1;

void* FailingAllocator(size_t bytes)
{
    if (g_allocationsBeforeFailure == 0)
        return nullptr;
    if (g_allocationsBeforeFailure > 0)
        --g_allocationsBeforeFailure;
    return HeapAlloc(GetProcessHeap(), 0, bytes);
}

class StringTest : public ::testing::Test {
protected:
    void SetUp() override { m_liveBefore = CString::LiveBufferCount(); }
    void TearDown() override
    {
        CString::SetAllocatorForTesting(nullptr);
        g_allocationsBeforeFailure = -1;
        EXPECT_EQ(m_liveBefore, CString::LiveBufferCount()) << "a buffer leaked";
    }
    long m_liveBefore = 0;
};

TEST_F(StringTest, CopiesShareOneBufferUntilOneOfThemChanges)
{
    CString a(L"2^10");
    CString b(a);
    CString c;
    c = b;
    EXPECT_TRUE(a.SharesBufferWith(b));
    EXPECT_TRUE(a.SharesBufferWith(c));
    EXPECT_EQ(a.GetString(), c.GetString());

    b += L"+1";
    EXPECT_FALSE(a.SharesBufferWith(b));
    EXPECT_STREQ(L"2^10", a.GetString());
    EXPECT_STREQ(L"2^10", c.GetString());
    EXPECT_STREQ(L"2^10+1", b.GetString());
    EXPECT_EQ(6, b.GetLength());
}

TEST_F(StringTest, SelfAssignmentAndSelfAppendKeepTheText)
{
    CString a(L"pi");
    CString& alias = a;
    a = alias;
    EXPECT_STREQ(L"pi", a.GetString());
    a = a.GetString();  // from its own buffer
    EXPECT_STREQ(L"pi", a.GetString());
    a += alias;
    EXPECT_STREQ(L"pipi", a.GetString());
    a.Append(a.GetString() + 1, 2);  // part of its own buffer, which must grow
    EXPECT_STREQ(L"pipiip", a.GetString());
    a = std::move(alias);
    EXPECT_STREQ(L"pipiip", a.GetString());
}

TEST_F(StringTest, EmptyStringsAreEmptyEverywhere)
{
    const CString fromNothing;
    const CString fromNull(static_cast<PCWSTR>(nullptr));
    const CString fromEmpty(L"");
    for (const CString* s : {&fromNothing, &fromNull, &fromEmpty}) {
        EXPECT_TRUE(s->IsEmpty());
        EXPECT_EQ(0, s->GetLength());
        EXPECT_STREQ(L"", s->GetString());
        EXPECT_TRUE(*s == fromNothing);
    }
    CString emptied(L"x");
    emptied.Empty();
    EXPECT_TRUE(emptied.IsEmpty());
    EXPECT_STREQ(L"", emptied.GetString());
}

TEST_F(StringTest, ComparisonIsExactOverTheWholeLength)
{
    struct Case {
        CString left, right;
        bool equal;
    } cases[] = {
        {L"2pi", L"2pi", true},
        {L"2pi", L"2PI", false},
        {L"2pi", L"2pi ", false},
        {L"", L"", true},
        {L"", L" ", false},
        {CString(L"a\0b", 3), CString(L"a\0c", 3), false},
        {CString(L"a\0b", 3), L"a", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.equal, c.left == c.right) << "'" << c.left.GetString() << "'";
        EXPECT_EQ(!c.equal, c.left != c.right);
    }
}

TEST_F(StringTest, CountedConstructionKeepsEmbeddedNuls)
{
    const CString s(L"1\0" L"2", 3);
    EXPECT_EQ(3, s.GetLength());
    EXPECT_EQ(L'2', s.GetString()[2]);
    EXPECT_EQ(L'\0', s.GetString()[3]);
}

TEST_F(StringTest, ManyAppendsBuildTheWholeText)
{
    CString s;
    std::wstring expected;
    for (int i = 0; i < 5000; ++i) {
        const wchar_t piece[] = {static_cast<wchar_t>(L'a' + i % 26), L'\0'};
        s += piece;
        expected += piece;
    }
    EXPECT_EQ(static_cast<int>(expected.size()), s.GetLength());
    EXPECT_EQ(expected, s.GetString());
}

TEST_F(StringTest, InvalidArgumentsRaiseInvalidArg)
{
    EXPECT_EQ(E_INVALIDARG, ErrorOf([] { CString s(L"x", -1); }));
    EXPECT_EQ(E_INVALIDARG, ErrorOf([] { CString s(nullptr, 3); }));
    EXPECT_EQ(E_INVALIDARG, ErrorOf([] {
        CString s(L"x");
        s.Append(nullptr, 1);
    }));
    EXPECT_EQ(S_OK, ErrorOf([] {
        CString s(L"x");
        s.Append(nullptr, 0);
    }));
}

TEST_F(StringTest, FailedAllocationsRaiseOutOfMemoryAndKeepTheOldText)
{
    CString kept(L"1+1");
    CString shared(kept);
    CString::SetAllocatorForTesting(FailingAllocator);
    g_allocationsBeforeFailure = 0;
    try {
        shared += L"+1";  // must unshare first, and that allocation fails
        FAIL() << "no exception";
    } catch (const CHResultException& e) {
        EXPECT_EQ(E_OUTOFMEMORY, e.Error());
    }
    EXPECT_STREQ(L"1+1", shared.GetString());
    EXPECT_TRUE(shared.SharesBufferWith(kept));
    EXPECT_EQ(E_OUTOFMEMORY, ErrorOf([] { CString s(L"new text"); }));

    CString::SetAllocatorForTesting(nullptr);
    EXPECT_EQ(E_OUTOFMEMORY, ErrorOf([] {
        CString s(L"x");
        s.Append(L"y", INT_MAX);  // more than any buffer can hold
    }));
}

}  // namespace
