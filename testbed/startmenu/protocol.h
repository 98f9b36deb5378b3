#pragma once
// The Start Menu simulator's control channel, shared by the simulator and the tests.
//
// A test finds the simulator's hidden top-level window of class TALLY_SM_CONTROL_CLASS (one per
// simulator process) and sends it WM_COPYDATA: dwData is a serial number chosen by the test,
// lpData the request as UTF-16 text ("verb argument", no terminator needed). The simulator
// answers on its UI thread, writes the reply into its own named file mapping and returns 1
// (0 for a malformed message). The mapping starts with CSmReplyHeader (the serial of the request
// answered, the reply's length in UTF-16 units) followed by the text. The simulator never waits
// for the test: a test that gave up (SendMessageTimeoutW) sees a stale serial and ignores it.
#include <windows.h>

#include <cwchar>

constexpr WCHAR TALLY_SM_CONTROL_CLASS[] = L"TallyStartMenuControl";
constexpr DWORD TALLY_SM_REPLY_BYTES = 256 * 1024;

struct CSmReplyHeader {
    DWORD serial;
    DWORD length;
};

constexpr DWORD TALLY_SM_REPLY_CHARS = (TALLY_SM_REPLY_BYTES - sizeof(CSmReplyHeader)) / sizeof(WCHAR);

inline void FormatSmReplyMappingName(DWORD processId, WCHAR* buffer, size_t capacity)
{
    swprintf(buffer, capacity, L"TallyStartMenuReply.%lu", static_cast<unsigned long>(processId));
}
