// main() for test programs that talk COM: the test thread is a single-threaded
// apartment, as the program's user-interface thread is.
#include <gtest/gtest.h>

#include <objbase.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::CoInitialize(nullptr);
    int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}
