// The console scanner as a user runs it: a process of its own, talking to the
// registered engine through COM, judged by its exit status and what it prints.
#include "registry_support.h"
#include "test_support.h"
#include "unique_handle.h"

#include <gtest/gtest.h>

#include <string>

using namespace tolvane;
using namespace tolvane::test;

namespace {

struct RunResult {
    DWORD exitCode = 0xDEADBEEF;
    std::string output;  // stdout and stderr together
};

RunResult RunScanner(const std::string& arguments, const std::string& directory) {
    RunResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    std::string outputPath = directory + "\\scanner-output.txt";
    unique_file output(::CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                     CREATE_ALWAYS, 0, nullptr));
    if (!output) return result;
    STARTUPINFOA startup{sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION process{};
    std::string command = "\"" + ModuleDirectory() + "\\tolvane-scan.exe\" " + arguments;
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          directory.c_str(), &startup, &process))
        return result;
    unique_handle processHandle(process.hProcess), thread(process.hThread);
    if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 99);
        ::WaitForSingleObject(process.hProcess, 5000);
    }
    ::GetExitCodeProcess(process.hProcess, &result.exitCode);
    output.reset();
    result.output = ReadText(outputPath);
    return result;
}

class ConsoleScanner : public ::testing::Test {
protected:
    void SetUp() override {
        module_.reset(::LoadLibraryA((ModuleDirectory() + "\\kwreng32.dll").c_str()));
        ASSERT_TRUE(module_);
        ASSERT_EQ(S_OK, Call("DllRegisterServer"));
        ::CreateDirectoryA((dir_ / "work").c_str(), nullptr);
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\3.5", "Path", dir_ / "Tolvane.exe"));
    }
    void TearDown() override { Call("DllUnregisterServer"); }

    HRESULT Call(const char* name) {
        using ComCall = HRESULT(STDAPICALLTYPE*)();
        return reinterpret_cast<ComCall>(::GetProcAddress(module_.get(), name))();
    }
    RunResult Run(const std::string& arguments = "") { return RunScanner(arguments, dir_ / "work"); }

    ScopedProductKey productKey_;
    TempDir dir_;
    unique_hmodule module_;
};

}  // namespace

TEST_F(ConsoleScanner, CleanSystemExitsZero) {
    ASSERT_TRUE(WriteBytes(dir_ / "tsigs.kws", SignatureFileBytes({{1, 0x12345678}})));
    RunResult run = Run();
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("No trojans found.")) << run.output;
    EXPECT_NE(std::string::npos, ReadText(dir_ / "work\\Tolvane.log").find("No Trojans detected"))
        << "the run is logged in the current directory";
}

TEST_F(ConsoleScanner, SignatureProblemsExitTwoWithTheMessageText) {
    RunResult missing = Run();
    EXPECT_EQ(2u, missing.exitCode) << missing.output;
    EXPECT_NE(std::string::npos, missing.output.find("(57362)")) << missing.output;
    EXPECT_NE(std::string::npos, missing.output.find("Tolvane could not load the signature files.")) << missing.output;

    auto bytes = SignatureFileBytes({});
    bytes[0] = 'X';
    ASSERT_TRUE(WriteBytes(dir_ / "tsigs.kws", bytes));
    RunResult tampered = Run();
    EXPECT_EQ(2u, tampered.exitCode);
    EXPECT_NE(std::string::npos, tampered.output.find("Self check failed.")) << tampered.output;
}

TEST_F(ConsoleScanner, NamedFilesAreScannedInsteadOfTheSystem) {
    ASSERT_TRUE(WriteBytes(dir_ / "tsigs.kws", SignatureFileBytes({})));
    ASSERT_TRUE(WriteBytes(dir_ / "plain.exe", std::vector<std::uint8_t>(600, 0x90)));
    RunResult run = Run("\"" + (dir_ / "plain.exe") + "\" \"" + (dir_ / "absent.exe") + "\"");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    std::string log = ReadText(dir_ / "work\\Tolvane.log");
    EXPECT_NE(std::string::npos, log.find("Error trying to open the file " + (dir_ / "absent.exe"))) << log;
    EXPECT_EQ(std::string::npos, log.find("No Trojans detected")) << "no detection pass for named files";
}

TEST_F(ConsoleScanner, UnregisteredEngineAndBadArgumentsExitTwo) {
    RunResult usage = Run("--frobnicate");
    EXPECT_EQ(2u, usage.exitCode);
    EXPECT_NE(std::string::npos, usage.output.find("usage:")) << usage.output;

    ASSERT_EQ(S_OK, Call("DllUnregisterServer"));
    RunResult run = Run();
    EXPECT_EQ(2u, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find("not installed")) << run.output;
}
