#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "page.h"
#include "standin_fixture.h"

namespace {

const wchar_t kLines[] = L"var r = document.getElementById('_result'); var q = document.getElementById('_query');";

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

class DocumentTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CStandinLibrary::Instance().Loaded());
        CStandinLibrary::Instance().SetDocumentMode(WBSTANDIN_DOCUMENT_NORMAL);
        ASSERT_TRUE(CreateBlankBrowser(m_browser));
        ASSERT_TRUE(GetHtmlDocument(m_browser.Get(), m_document));
        ASSERT_EQ(S_OK, m_browser->put_Silent(VARIANT_TRUE));
    }

    void TearDown() override { CStandinLibrary::Instance().SetDocumentMode(WBSTANDIN_DOCUMENT_NORMAL); }

    // Writes a page, closes it and checks that exactly one page was recorded.
    void WriteAndClose(const std::wstring& page)
    {
        const LONG pages = Library().Count(WBSTANDIN_PAGES);
        ASSERT_EQ(S_OK, WritePage(m_document.Get(), page));
        ASSERT_EQ(pages + 1, Library().Count(WBSTANDIN_PAGES));
    }

    static CStandinLibrary& Library() { return CStandinLibrary::Instance(); }
    static std::wstring Last(int field, bool* present = nullptr) { return Library().PageField(-1, field, present); }

    CComPtr<IWebBrowser2> m_browser;
    CComPtr<IHTMLDocument2> m_document;
};

struct CLineCase {
    const wchar_t* script;  // after kLines, inside update()
    const wchar_t* resultText;
    const wchar_t* resultColor;
    const wchar_t* queryText;
    const wchar_t* queryColor;
};

TEST_F(DocumentTest, CloseRunsTheScriptAndTheLoadHandler)
{
    const CLineCase cases[] = {
        {L"r.innerHTML = 1024; r.style.color = '#333333'; q.innerHTML = 'pow(2,10)' + ' '; "
         L"q.style.color = '#777777';",
         L"1024", L"#333333", L"pow(2,10) ", L"#777777"},
        // Numbers reach the element in the engine's own text form.
        {L"r.innerHTML = 2*Math.PI; q.innerHTML = 1/3;", L"6.283185307179586", L"", L"0.3333333333333333", L""},
        {L"r.innerHTML = 1e21; q.innerHTML = -1e-7;", L"1e+21", L"", L"-1e-7", L""},
        {L"r.innerHTML = eval(''); q.innerHTML = 0/0;", L"undefined", L"", L"NaN", L""},
        {L"r.innerHTML = 0.5; q.innerHTML = true;", L"0.5", L"", L"true", L""},
        // innerText is text, innerHTML markup: the line holds the text either way.
        {L"r.innerText = 'a<b'; q.innerHTML = '<b>x</b> &amp; y';", L"a<b", L"", L"x & y", L""},
        {L"r.innerText = 'a<b'; q.innerText = r.innerHTML + '|' + r.innerText;", L"a<b", L"", L"a&lt;b|a<b", L""},
        // Property reads, and a missing element is null.
        {L"r.innerHTML = 'abc'; r.style.color = 'red'; q.innerHTML = r.innerHTML + r.style.color + r.id + "
         L"(document.getElementById('nothing') === null);",
         L"abc", L"red", L"abcred_resulttrue", L""},
        // The script's own error handling, with Math in scope as the calculator page has it.
        {L"with (Math) { try { r.innerHTML = eval('sqrt(16) + PI - PI'); r.style.color = '#333333'; } "
         L"catch (err) { r.innerHTML = 'failed'; } }",
         L"4", L"#333333", L"", L""},
        {L"with (Math) { try { r.innerHTML = eval('x + 1'); } catch (err) { r.innerHTML = 'caught'; "
         L"r.style.color = '#777777'; q.innerHTML = typeof err.toString(); } }",
         L"caught", L"#777777", L"string", L""},
    };
    for (const CLineCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "script: " << std::string(c.script, c.script + wcslen(c.script)));
        const std::wstring page = MakeTestPage(std::wstring(kLines) + c.script);
        WriteAndClose(page);
        EXPECT_EQ(page, Last(WBSTANDIN_FIELD_PAGE));
        EXPECT_EQ(c.resultText, Last(WBSTANDIN_FIELD_RESULT_TEXT));
        EXPECT_EQ(c.resultColor, Last(WBSTANDIN_FIELD_RESULT_COLOR));
        EXPECT_EQ(c.queryText, Last(WBSTANDIN_FIELD_QUERY_TEXT));
        EXPECT_EQ(c.queryColor, Last(WBSTANDIN_FIELD_QUERY_COLOR));
        bool hasError = true;
        Last(WBSTANDIN_FIELD_SCRIPT_ERROR, &hasError);
        EXPECT_FALSE(hasError);
    }
}

struct CSearchCase {
    const wchar_t* query;     // spliced verbatim between the quotes
    bool parses;
    const wchar_t* search;    // the engine's value when it parses
};

TEST_F(DocumentTest, SearchIsTheEnginesValueOfTheSplicedLiteral)
{
    const CSearchCase cases[] = {
        {L"2^10", true, L"2^10"},
        {L"", true, L""},
        {L"a\\nb", true, L"a\nb"},        // backslash and n: the script reads a line break
        {L"c:\\\\x", true, L"c:\\x"},      // a doubled backslash is one
        {L"\"quoted\"", true, L"\"quoted\""},
        {L"it's", false, nullptr},         // the apostrophe ends the literal early
        {L"</script>", false, nullptr},    // the script element ends inside the literal
        {L"\\", false, nullptr},           // escapes the closing quote
    };
    for (const CSearchCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "query: " << std::string(c.query, c.query + wcslen(c.query)));
        const std::wstring script = std::wstring(L"var _search = '") + c.query + L"'; " + kLines +
                                    L" r.innerHTML = 'ran'; q.innerHTML = _search;";
        WriteAndClose(MakeTestPage(script));
        bool hasSearch = false, hasError = false;
        const std::wstring search = Last(WBSTANDIN_FIELD_SEARCH, &hasSearch);
        Last(WBSTANDIN_FIELD_SCRIPT_ERROR, &hasError);
        EXPECT_EQ(c.parses, hasSearch);
        EXPECT_EQ(!c.parses, hasError);
        if (c.parses) {
            EXPECT_EQ(c.search, search);
            EXPECT_EQ(L"ran", Last(WBSTANDIN_FIELD_RESULT_TEXT));
        } else {
            // A script that does not parse leaves both lines as the template has them: empty.
            EXPECT_EQ(L"", Last(WBSTANDIN_FIELD_RESULT_TEXT));
            EXPECT_EQ(L"", Last(WBSTANDIN_FIELD_QUERY_TEXT));
        }
    }
}

TEST_F(DocumentTest, AScriptThatDoesNotParseRaisesNoDialog)
{
    std::vector<HWND> before;
    EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&before));
    const LONG errors = Library().Count(WBSTANDIN_SCRIPT_ERRORS);
    // Also with silent mode off: the stand-in never has a window to show a dialog in.
    ASSERT_EQ(S_OK, m_browser->put_Silent(VARIANT_FALSE));
    WriteAndClose(MakeTestPage(std::wstring(kLines) + L" r.innerHTML = 'no'; var = ;"));
    EXPECT_EQ(L"", Last(WBSTANDIN_FIELD_RESULT_TEXT));
    EXPECT_EQ(L"", Last(WBSTANDIN_FIELD_QUERY_TEXT));
    // The parse error, then the load handler's call of an update that does not exist.
    EXPECT_EQ(errors + 2, Library().Count(WBSTANDIN_SCRIPT_ERRORS));
    bool hasError = false;
    EXPECT_FALSE(Last(WBSTANDIN_FIELD_SCRIPT_ERROR, &hasError).empty());
    EXPECT_TRUE(hasError);

    std::vector<HWND> after;
    EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&after));
    EXPECT_EQ(before, after);
}

TEST_F(DocumentTest, WritesCollectUntilCloseAndAWriteAfterCloseStartsOver)
{
    const std::wstring first = MakeTestPage(std::wstring(kLines) + L"r.innerHTML = 'first';");
    const size_t half = first.size() / 2;
    const LONG writes = Library().Count(WBSTANDIN_WRITES);
    const LONG pages = Library().Count(WBSTANDIN_PAGES);
    ASSERT_EQ(S_OK, WritePage(m_document.Get(), first.substr(0, half), false));
    ASSERT_EQ(S_OK, WritePage(m_document.Get(), first.substr(half), false));
    EXPECT_EQ(pages, Library().Count(WBSTANDIN_PAGES));  // nothing complete before close
    ASSERT_EQ(S_OK, m_document->close());
    EXPECT_EQ(writes + 2, Library().Count(WBSTANDIN_WRITES));
    EXPECT_EQ(first, Last(WBSTANDIN_FIELD_PAGE));
    EXPECT_EQ(L"first", Last(WBSTANDIN_FIELD_RESULT_TEXT));

    // A close of a complete document changes nothing.
    ASSERT_EQ(S_OK, m_document->close());
    EXPECT_EQ(pages + 1, Library().Count(WBSTANDIN_PAGES));

    const std::wstring second = MakeTestPage(std::wstring(kLines) + L"q.innerHTML = 'second';");
    WriteAndClose(second);
    EXPECT_EQ(second, Last(WBSTANDIN_FIELD_PAGE));
    EXPECT_EQ(L"", Last(WBSTANDIN_FIELD_RESULT_TEXT));  // nothing of the first page survives
    EXPECT_EQ(L"second", Last(WBSTANDIN_FIELD_QUERY_TEXT));
    EXPECT_EQ(first, Library().PageField(Library().Count(WBSTANDIN_PAGES) - 2, WBSTANDIN_FIELD_PAGE));

    EXPECT_EQ(E_INVALIDARG, m_document->write(nullptr));
    SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 1);
    EXPECT_EQ(E_INVALIDARG, m_document->write(strings));
    SafeArrayDestroy(strings);
}

TEST_F(DocumentTest, AVeryLongPageIsTakenWhole)
{
    const std::wstring query(20000, L'9');
    const std::wstring page = MakeTestPage(L"var _search = '" + query + L"'; " + kLines + L" r.innerHTML = _search.length;");
    WriteAndClose(page);
    EXPECT_EQ(page, Last(WBSTANDIN_FIELD_PAGE));
    EXPECT_EQ(L"20000", Last(WBSTANDIN_FIELD_RESULT_TEXT));
    EXPECT_EQ(query, Last(WBSTANDIN_FIELD_SEARCH));
}

TEST_F(DocumentTest, TheDocumentSwitchCoversEachWayOfHavingNone)
{
    struct {
        int mode;
        HRESULT hr;
        bool object;
        bool html;
    } const cases[] = {
        {WBSTANDIN_DOCUMENT_FAILS, E_FAIL, false, false},
        {WBSTANDIN_DOCUMENT_NULL, S_OK, false, false},
        {WBSTANDIN_DOCUMENT_NOT_HTML, S_OK, true, false},
        {WBSTANDIN_DOCUMENT_NORMAL, S_OK, true, true},
    };
    const LONG objects = Library().Count(WBSTANDIN_LIVE_OBJECTS);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        Library().SetDocumentMode(c.mode);
        EXPECT_EQ(c.mode, Library().Count(WBSTANDIN_DOCUMENT_MODE));
        CComPtr<IDispatch> dispatch;
        EXPECT_EQ(c.hr, m_browser->get_Document(dispatch.Receive()));
        EXPECT_EQ(c.object, dispatch.Get() != nullptr);
        if (dispatch) {
            CComPtr<IHTMLDocument2> document;
            dispatch->QueryInterface(IID_IHTMLDocument2, document.ReceiveVoid());
            EXPECT_EQ(c.html, document.Get() != nullptr);
        }
    }
    EXPECT_EQ(objects, Library().Count(WBSTANDIN_LIVE_OBJECTS));
}

// Committed private memory of the process, region by region. (GetProcessMemoryInfo's
// PrivateUsage is 0 under Wine 8.0.)
SIZE_T CommittedPrivateBytes()
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    const BYTE* address = nullptr;
    while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return total;
}

// Pages of the product's builder, each drawn once, as the panel does for every query.
void ShowCalculatorPages(int first, int count)
{
    CComPtr<IWebBrowser2> browser;
    ASSERT_TRUE(CreateBlankBrowser(browser));
    browser->put_Silent(VARIANT_TRUE);
    CComPtr<IViewObject> view;
    ASSERT_HRESULT_SUCCEEDED(browser->QueryInterface(IID_IViewObject, view.ReceiveVoid()));
    CPixelCanvas canvas(350, 100, RGB(0, 0, 0));
    const RECTL bounds = {0, 0, 350, 100};
    for (int i = first; i < first + count; ++i) {
        CComPtr<IHTMLDocument2> document;
        ASSERT_TRUE(GetHtmlDocument(browser.Get(), document));
        const CString page = BuildCalculatorPage(CString((std::to_wstring(i) + L"^2").c_str()));
        ASSERT_EQ(S_OK, WritePage(document.Get(), std::wstring(page.GetString(), page.GetLength())));
        ASSERT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.Dc(), &bounds, &bounds,
                                   nullptr, 0));
    }
    // The last page's script ran for real.
    const int last = first + count - 1;
    EXPECT_EQ(std::to_wstring(last * last), CStandinLibrary::Instance().PageField(-1, WBSTANDIN_FIELD_RESULT_TEXT));
}

TEST(StandinBalanceTest, ObjectsReferencesAndMemoryComeBack)
{
    CStandinLibrary& library = CStandinLibrary::Instance();
    ASSERT_TRUE(library.Loaded());
    const LONG objects = library.Count(WBSTANDIN_LIVE_OBJECTS);
    const LONG references = library.Count(WBSTANDIN_REFERENCES);
    ShowCalculatorPages(0, 50);  // warms the engine and the heaps
    EXPECT_EQ(objects, library.Count(WBSTANDIN_LIVE_OBJECTS));
    EXPECT_EQ(references, library.Count(WBSTANDIN_REFERENCES));

    // What is left after 500 pages is Wine's JScript's own (about 0.1 KiB per engine); the
    // stand-in's objects, trees, images and script runs give back what they took.
    library.ResetRecord();
    const SIZE_T before = CommittedPrivateBytes();
    ShowCalculatorPages(50, 500);
    library.ResetRecord();
    const SIZE_T after = CommittedPrivateBytes();
    EXPECT_EQ(objects, library.Count(WBSTANDIN_LIVE_OBJECTS));
    EXPECT_EQ(references, library.Count(WBSTANDIN_REFERENCES));
    EXPECT_LT(after, before + 320 * 1024) << "committed before " << before << ", after " << after;
}

}  // namespace

// ---- the record seen from another process ----

int RunRecordChild()
{
    if (FAILED(OleInitialize(nullptr)))
        return 2;
    int result = 1;
    {
        CComPtr<IWebBrowser2> browser;
        CComPtr<IHTMLDocument2> document;
        if (CreateBlankBrowser(browser) && GetHtmlDocument(browser.Get(), document) &&
            SUCCEEDED(browser->put_Silent(VARIANT_TRUE))) {
            const std::wstring script = std::wstring(L"var _search = 'x\\ty'; ") + kLines +
                                        L" r.innerHTML = 42; r.style.color = '#333333'; q.innerHTML = 'a\\\\b\\nc';";
            if (SUCCEEDED(WritePage(document.Get(), MakeTestPage(script))))
                result = 0;
        }
    }
    OleUninitialize();
    return result;
}

namespace {

TEST(StandinRecordFileTest, AnotherProcessCanReadTheRecord)
{
    CStandinLibrary& library = CStandinLibrary::Instance();
    ASSERT_TRUE(library.Loaded());
    WCHAR folder[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"wbr", 0, path);
    DeleteFileW(path);

    WCHAR program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\" --record-child";
    SetEnvironmentVariableW(L"TALLY_WEBBROWSER_RECORD", path);
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(program, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &process);
    SetEnvironmentVariableW(L"TALLY_WEBBROWSER_RECORD", nullptr);
    ASSERT_TRUE(started);
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 99;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_EQ(0u, exitCode);

    EXPECT_EQ(L"1", library.ReadRecordFile(path, L"pages"));
    EXPECT_EQ(L"42", library.ReadRecordFile(path, L"resultText"));
    EXPECT_EQ(L"#333333", library.ReadRecordFile(path, L"resultColor"));
    EXPECT_EQ(L"a\\b\nc", library.ReadRecordFile(path, L"queryText"));  // escapes survive the file
    EXPECT_EQ(L"x\ty", library.ReadRecordFile(path, L"search"));
    EXPECT_EQ(L"1", library.ReadRecordFile(path, L"silent"));
    // Written at unload, after the child let go of everything.
    EXPECT_EQ(L"0", library.ReadRecordFile(path, L"liveObjects"));
    EXPECT_EQ(L"0", library.ReadRecordFile(path, L"references"));
    bool present = true;
    library.ReadRecordFile(path, L"scriptError", &present);
    EXPECT_FALSE(present);
    EXPECT_TRUE(library.ReadRecordFile(path, L"page").find(L"Calculator (1)") != std::wstring::npos);
    DeleteFileW(path);
}

}  // namespace
