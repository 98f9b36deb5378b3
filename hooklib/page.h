#pragma once
#include "support/string.h"

// The calculator page for one query: the page's head, the query written into the script string
// literal of _search, and the page's tail. The query is escaped, so that the page's script sees
// exactly the typed text in _search, whatever it holds: quotes, backslashes, line breaks,
// markup, control characters, unpaired surrogates. Raises the string layer's exceptions when an
// allocation fails.
CString BuildCalculatorPage(const CString& query);
