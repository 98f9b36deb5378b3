#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <cstring>

#include "standin_fixture.h"

// The child half of the cross-process record test: with TALLY_WEBBROWSER_RECORD set by the
// parent, host a browser, write one page and exit.
int RunRecordChild();

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--record-child") == 0)
        return RunRecordChild();
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(OleInitialize(nullptr)))
        return 2;
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
