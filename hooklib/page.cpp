#include "page.h"

#include <climits>
#include <cwchar>

#include "page_text.h"

namespace {

// Characters that stand for themselves inside a single-quoted script literal inside an HTML
// script element. The rest are written as \uXXXX: the quote and the backslash would end or bend
// the literal, "<" and ">" could end or alter the script element ("</script>", "<!--"), "&" and
// the double quote are escaped for good measure, and everything outside printable ASCII
// (line breaks, U+2028 and U+2029, control characters, surrogates, any other text) so that the
// page stays ASCII and needs no character set.
bool StandsForItself(WCHAR c)
{
    if (c < 0x20 || c > 0x7E)
        return false;
    switch (c) {
    case L'\'':
    case L'"':
    case L'\\':
    case L'<':
    case L'>':
    case L'&':
        return false;
    default:
        return true;
    }
}

const int kEscapeLength = 6;  // \uXXXX

void AppendEscape(CString& page, WCHAR c)
{
    static const WCHAR kHex[] = L"0123456789ABCDEF";
    const WCHAR escape[kEscapeLength] = {
        L'\\', L'u', kHex[(c >> 12) & 0xF], kHex[(c >> 8) & 0xF], kHex[(c >> 4) & 0xF], kHex[c & 0xF],
    };
    page.Append(escape, kEscapeLength);
}

}  // namespace

CString BuildCalculatorPage(const CString& query)
{
    static_assert(sizeof(PAGE_TAIL) / sizeof(PAGE_TAIL[0]) == PAGE_TAIL_LENGTH + 1,
                  "PAGE_TAIL_LENGTH must be the tail's length");
    const PCWSTR text = query.GetString();
    const int length = query.GetLength();
    const int headLength = static_cast<int>(wcslen(PAGE_HEAD));

    // The exact size first, so that the page is allocated once.
    long long pageLength = static_cast<long long>(headLength) + PAGE_TAIL_LENGTH;
    for (int i = 0; i < length; ++i)
        pageLength += StandsForItself(text[i]) ? 1 : kEscapeLength;
    if (pageLength > INT_MAX)
        ThrowHResult(E_OUTOFMEMORY);

    CString page;
    page.Preallocate(static_cast<int>(pageLength));
    page.Append(PAGE_HEAD, headLength);
    int run = 0;  // start of the characters not yet appended
    for (int i = 0; i < length; ++i) {
        if (StandsForItself(text[i]))
            continue;
        page.Append(text + run, i - run);
        AppendEscape(page, text[i]);
        run = i + 1;
    }
    page.Append(text + run, length - run);
    page.Append(PAGE_TAIL, PAGE_TAIL_LENGTH);
    return page;
}
