// main() of every test program. The test thread is a single-threaded apartment, as the
// program's user-interface thread is. A program that dies of an exception nobody
// handled must not look like one that passed: the crash may be on a thread GoogleTest
// never sees, and Wine's own report of it can end the process with status 0.
#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>

#include <cstdio>

namespace {

// Not 0, and not a code a test program returns for failed tests (1).
constexpr UINT kCrashExitCode = 70;

void WriteToStderr(const char* text, int length) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
}

// Written straight to the handle and the process ended without running any clean-up:
// whatever crashed may hold the C library's or the heap's lock.
LONG WINAPI EndOnUnhandledException(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    char text[512];
    int length = std::snprintf(text, sizeof text,
                               "\nUnhandled exception 0x%08lX at %p on thread %lu during %s.%s\n",
                               record->ExceptionCode, record->ExceptionAddress, ::GetCurrentThreadId(),
                               test ? test->test_suite_name() : "(no test)", test ? test->name() : "");
    if (length > 0) WriteToStderr(text, length < static_cast<int>(sizeof text) ? length : sizeof text - 1);
    ::TerminateProcess(::GetCurrentProcess(), kCrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
    ::SetUnhandledExceptionFilter(EndOnUnhandledException);
    ::testing::InitGoogleTest(&argc, argv);
    ::CoInitialize(nullptr);
    int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}
