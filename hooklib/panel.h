#pragma once
#include <windows.h>
#include <exdisp.h>

#include "controlhost.h"
#include "support/com.h"
#include "support/string.h"

// The calculator panel at the bottom of the search results: the panel window with the WebBrowser
// control it hosts, and the query that the page in it shows. Each new query is written into the
// browser as a whole new calculator page, whose own script evaluates it.
class CCalculatorPanel {
public:
    CCalculatorPanel() noexcept = default;
    CCalculatorPanel(const CCalculatorPanel&) = delete;
    CCalculatorPanel& operator=(const CCalculatorPanel&) = delete;
    ~CCalculatorPanel();

    // Creates the panel window (hidden, 100 x 100 at the parent's origin) and the browser in it.
    // A failing step leaves the panel without a browser; only a failed allocation raises.
    void CreatePanel(HWND parent);
    // Writes the page for `query` when it differs from the one shown, then has the panel
    // repainted. A failed allocation raises E_OUTOFMEMORY; the text then counts as shown.
    void UpdateQuery(CString query);

    // The query the page holds: the last text accepted by UpdateQuery.
    CString m_pageQuery;
    // The panel window and the browser's site; its window may not exist.
    CControlHostWnd m_host;
    // The browser in the panel; null before CreatePanel, after teardown and when creating it failed.
    CComPtr<IWebBrowser2> m_browser;

private:
    void WritePage(const CString& page);
};
