// Ways a test program can end before its tests are done. The harness must report each
// as a failure; CTest runs each case alone and expects exactly that. Outside that run
// (no TOLVANE_HARNESS_CHECK) every case is skipped.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <thread>

namespace {

void RequireHarnessRun() {
    if (!std::getenv("TOLVANE_HARNESS_CHECK")) GTEST_SKIP() << "only run by the harness check";
}

void WriteThroughNull() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

TEST(HarnessCheck, CrashOnTestThread) {
    RequireHarnessRun();
    WriteThroughNull();
}

TEST(HarnessCheck, CrashOnWorkerThread) {
    RequireHarnessRun();
    std::thread worker(WriteThroughNull);
    worker.join();
}

TEST(HarnessCheck, ExitBeforeTheEnd) {
    RequireHarnessRun();
    ::ExitProcess(0);
}

}  // namespace
