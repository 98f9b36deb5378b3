#pragma once
/*
 * Test channel of the stand-in WebBrowser control, tally_webbrowser_standin.dll.
 *
 * The stand-in is registered as CLSID_WebBrowser in the test prefix only. It keeps a record of
 * what the code under test did to it, reachable in two ways:
 *
 * In the same process: load the DLL (LoadLibraryW on its path, which does not create any
 * object) and look up the functions below with GetProcAddress by their plain names. The
 * typedefs give their types. Strings come back as BSTRs that the caller frees with
 * SysFreeString; NULL means "no value" (no such page, _search never defined).
 *
 * From another process: set the environment variable TALLY_WEBBROWSER_RECORD to a file path
 * before the process that hosts the control starts. Once the stand-in has made its first object
 * in that process, it rewrites that file after every closed page, every destroyed object, every
 * counted change of the browser's state and at unload (a process that only loads the DLL to
 * read the file never writes it). The file is UTF-8, one "key=value" per line, with backslash, CR and LF in values
 * written as \\, \r and \n; it is replaced whole (written beside it, then moved over it), so a
 * reader never sees half of it. Keys: the counter names below without their prefix, in
 * lowerCamelCase (liveObjects, references, pages, writes, draws, scriptErrors, navigations,
 * quits, silent, statusBar, toolBar, documentMode) and, for the last closed page, the field names
 * (page, resultText, resultColor, queryText, queryColor, search, scriptError), a field without a
 * value being left out. WbStandinReadRecordFile reads one value back.
 *
 * Environment variable TALLY_WEBBROWSER_DOCUMENT_MODE, read when the DLL loads, gives the
 * initial document mode (a number, see WbStandinSetDocumentMode).
 *
 * The record keeps every closed page in a heap of its own; WbStandinResetRecord frees it
 * whole (and zeroes the page, write, draw, error, navigation and quit counters), so a test that
 * measures the process's memory resets the record first.
 *
 * Memory per page, besides the record: a closed page keeps nothing of the stand-in's. What
 * remains is Wine's JScript's own, about 0.1 KiB for every engine (one per closed page that has
 * a script), measured as committed private memory (VirtualQuery; PrivateUsage is 0 under Wine)
 * over 1000 pages of BuildCalculatorPage, each drawn once: +64 to +128 KiB. The stand-in used to
 * read _search by parsing its literal with SCRIPTTEXT_ISEXPRESSION, which Wine's JScript answers
 * by keeping about 1.4 KiB until the process ends (the same page with an empty load handler
 * showed it; without the expression it is gone); it reads the value through a global now.
 */
#include <windows.h>
#include <oleauto.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Counters and states for WbStandinGetCount. */
enum {
    WBSTANDIN_LIVE_OBJECTS = 0,  /* COM objects of the stand-in alive now (browser, document, elements, styles, factory excluded) */
    WBSTANDIN_REFERENCES = 1,    /* sum of their reference counts */
    WBSTANDIN_PAGES = 2,         /* documents completed by IHTMLDocument2::close */
    WBSTANDIN_WRITES = 3,        /* IHTMLDocument2::write and writeln calls that were accepted */
    WBSTANDIN_DRAWS = 4,         /* IViewObject::Draw calls that painted */
    WBSTANDIN_SCRIPT_ERRORS = 5, /* errors the script engine reported (parse and run time), all pages */
    WBSTANDIN_NAVIGATIONS = 6,   /* accepted Navigate2 calls */
    WBSTANDIN_QUITS = 7,         /* IWebBrowser2::Quit calls */
    WBSTANDIN_SILENT = 8,        /* last put_Silent value of the last browser: -1 never set, else 0 or 1 */
    WBSTANDIN_STATUS_BAR = 9,    /* last put_StatusBar value: -1 never set, else 0 or 1 */
    WBSTANDIN_TOOL_BAR = 10,     /* last put_ToolBar value: -1 never set, else the value */
    WBSTANDIN_DOCUMENT_MODE = 11 /* current document mode */
};

/* Fields of a closed page for WbStandinCopyPageField. */
enum {
    WBSTANDIN_FIELD_PAGE = 0,         /* the whole text written for the page */
    WBSTANDIN_FIELD_RESULT_TEXT = 1,  /* the text the element "_result" holds after the load handler ran */
    WBSTANDIN_FIELD_RESULT_COLOR = 2, /* its style.color, as the script set it ("" when unset) */
    WBSTANDIN_FIELD_QUERY_TEXT = 3,   /* the text of the element "_query" */
    WBSTANDIN_FIELD_QUERY_COLOR = 4,  /* its style.color */
    WBSTANDIN_FIELD_SEARCH = 5,       /* the engine's value of the literal assigned to _search; NULL when the script did not parse */
    WBSTANDIN_FIELD_SCRIPT_ERROR = 6  /* description of the first script error of the page; NULL when none */
};

/* What get_Document does. */
enum {
    WBSTANDIN_DOCUMENT_NORMAL = 0,       /* the browser's document */
    WBSTANDIN_DOCUMENT_FAILS = 1,        /* E_FAIL, out pointer NULL */
    WBSTANDIN_DOCUMENT_NULL = 2,         /* S_OK, out pointer NULL */
    WBSTANDIN_DOCUMENT_NOT_HTML = 3      /* an IDispatch object that refuses IHTMLDocument2 */
};

LONG __cdecl WbStandinGetCount(int which);
/* page: 0-based in closing order, or -1 for the last one. */
BSTR __cdecl WbStandinCopyPageField(int page, int field);
void __cdecl WbStandinSetDocumentMode(int mode);
void __cdecl WbStandinResetRecord(void);
/* Reads `key` from a record file written by another process; NULL when absent. */
BSTR __cdecl WbStandinReadRecordFile(PCWSTR path, PCWSTR key);

typedef LONG(__cdecl* PFN_WbStandinGetCount)(int);
typedef BSTR(__cdecl* PFN_WbStandinCopyPageField)(int, int);
typedef void(__cdecl* PFN_WbStandinSetDocumentMode)(int);
typedef void(__cdecl* PFN_WbStandinResetRecord)(void);
typedef BSTR(__cdecl* PFN_WbStandinReadRecordFile)(PCWSTR, PCWSTR);

#ifdef __cplusplus
}
#endif
