#include <gtest/gtest.h>

#include <ole2.h>

// The panel lives on an OLE apartment thread, as on the Start Menu's thread.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    OleInitialize(nullptr);
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
