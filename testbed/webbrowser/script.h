#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>

#include "page_model.h"

// Runs a page's script the way a browser does once the document is complete: every script
// element in document order in one JScript engine (the platform's, by its ProgID), with the
// document as the named item "document", then the body's load handler. Errors go to the
// engine's site and are only counted: no dialog is ever shown, as in a browser in silent mode.
struct CScriptOutcome {
    int errors = 0;
    std::wstring firstError;
    // The engine's own value of the string literal assigned to _search, read when the script
    // element holding it parsed; the page stores the query there.
    bool hasSearch = false;
    std::wstring search;
};

void RunPageScripts(IDispatch* document, const CNodePtr& tree, CScriptOutcome& outcome);
