// The console scanner as a user runs it: a process of its own, talking to the
// registered engine through COM, judged by its exit status and what it prints.
#include "registry_support.h"
#include "scan_report.h"
#include "test_support.h"
#include "unique_handle.h"

#include <gtest/gtest.h>

#include <string>

using namespace tolvane;
using namespace tolvane::test;

namespace {

struct RunResult {
    DWORD exitCode = 0xDEADBEEF;
    std::string out;
    std::string err;
    std::string output;  // both
};

RunResult RunScanner(const std::string& arguments, const std::string& directory) {
    RunResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    std::string outPath = directory + "\\scanner-stdout.txt", errPath = directory + "\\scanner-stderr.txt";
    unique_file out(::CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
    unique_file err(::CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
    if (!out || !err) return result;
    STARTUPINFOA startup{sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
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
    out.reset();
    err.reset();
    result.out = ReadText(outPath);
    result.err = ReadText(errPath);
    result.output = result.out + result.err;
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
    static std::string Quoted(const std::string& path) { return "\"" + path + "\""; }
    // The harmless NetBus specimen and the signature file that lists it.
    void UseSpecimens() {
        std::string specimens = ModuleDirectory() + "\\specimens\\";
        ASSERT_TRUE(::CopyFileA((specimens + "tsigs.kws").c_str(), (dir_ / "tsigs.kws").c_str(), FALSE));
        specimen_ = dir_ / "netbus.exe";
        ASSERT_TRUE(::CopyFileA((specimens + "netbus_350000.exe").c_str(), specimen_.c_str(), FALSE));
    }

    ScopedProductKey productKey_;
    TempDir dir_;
    std::string specimen_;
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
    RunResult run = Run(Quoted(dir_ / "plain.exe"));
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ("", run.err);
    std::string log = ReadText(dir_ / "work\\Tolvane.log");
    EXPECT_EQ(std::string::npos, log.find("No Trojans detected")) << "no detection pass for named files";
}

TEST_F(ConsoleScanner, NamedFileThatCannotBeOpenedIsAnErrorAndTheOthersAreStillScanned) {
    UseSpecimens();
    RunResult run = Run(Quoted(dir_ / "absent.exe") + " " + Quoted(dir_ / "work") + " " + Quoted(specimen_));
    EXPECT_EQ(2u, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.err.find(dir_ / "absent.exe")) << run.err;
    std::size_t reason = run.err.find((dir_ / "absent.exe") + ": ");
    ASSERT_NE(std::string::npos, reason) << run.err;
    EXPECT_GT(run.err.find_first_of("\r\n", reason), reason + (dir_ / "absent.exe").size() + 3)
        << "a reason follows the name: " << run.err;
    EXPECT_NE(std::string::npos, run.err.find((dir_ / "work") + ": is a folder")) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("FOUND NetBus")) << "the file after them was scanned: " << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("No trojans found.")) << run.out;
    std::string log = ReadText(dir_ / "work\\Tolvane.log");
    EXPECT_NE(std::string::npos, log.find("Error trying to open the file " + (dir_ / "absent.exe"))) << log;
}

TEST_F(ConsoleScanner, CsvAndJsonGiveOneRecordPerFinding) {
    UseSpecimens();
    RunResult csv = Run("--csv " + Quoted(specimen_));
    EXPECT_EQ(1u, csv.exitCode) << csv.output;
    // A file named on the command line has no autostart entry of its own.
    EXPECT_EQ(OnDisk("type,file,registry\nNetBus," + specimen_ + ",\n"), csv.out);

    RunResult json = Run("--json --no-log " + Quoted(specimen_));
    EXPECT_EQ(1u, json.exitCode) << json.output;
    EXPECT_EQ(OnDisk("[\n  {\"type\": \"NetBus\", \"file\": " + JsonString(specimen_) +
                     ", \"registry\": \"\"}\n]\n"),
              json.out);

    ASSERT_TRUE(WriteBytes(dir_ / "plain.exe", std::vector<std::uint8_t>(600, 0x90)));
    RunResult clean = Run("--json " + Quoted(dir_ / "plain.exe"));
    EXPECT_EQ(0u, clean.exitCode) << clean.output;
    EXPECT_EQ(OnDisk("[]\n"), clean.out);
}

TEST_F(ConsoleScanner, RemovalReportsWhetherItFinished) {
    UseSpecimens();
    // The engine stops a trojan's process before it moves the file; a specimen that does
    // not run cannot be stopped, and the removal stops there.
    RunResult stopped = Run("--remove --csv " + Quoted(specimen_));
    EXPECT_EQ(2u, stopped.exitCode) << stopped.output;
    EXPECT_EQ(OnDisk("type,file,registry,removed\nNetBus," + specimen_ + ",,no\n"), stopped.out);
    EXPECT_NE(std::string::npos, stopped.err.find("errors during removal")) << stopped.err;
    EXPECT_TRUE(FileExists(specimen_));

    STARTUPINFOA startup{sizeof startup};
    PROCESS_INFORMATION process{};
    std::string command = Quoted(specimen_);
    ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process));
    unique_handle running(process.hProcess), thread(process.hThread);
    auto end = scope_exit([&] { ::TerminateProcess(running.get(), 0); });
    RunResult removed = Run("--remove --json " + Quoted(specimen_));
    EXPECT_EQ(1u, removed.exitCode) << removed.output;
    EXPECT_NE(std::string::npos, removed.out.find("\"removed\": true")) << removed.out;
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(running.get(), 5000)) << "its process was stopped";
    EXPECT_FALSE(FileExists(specimen_));
    EXPECT_TRUE(FileExists(dir_ / "work\\Infected Files\\netbus.exe.KWR"));
}

TEST_F(ConsoleScanner, QuietPrintsNothingButTheStatusTells) {
    UseSpecimens();
    RunResult found = Run("--quiet " + Quoted(specimen_));
    EXPECT_EQ(1u, found.exitCode) << found.output;
    EXPECT_EQ("", found.output);
    RunResult absent = Run("--quiet " + Quoted(dir_ / "absent.exe"));
    EXPECT_EQ(2u, absent.exitCode);
    EXPECT_EQ("", absent.out);
    EXPECT_NE(std::string::npos, absent.err.find("absent.exe")) << "errors still show";
}

TEST_F(ConsoleScanner, HelpExplainsEveryOptionAndTheExitStatuses) {
    RunResult help = Run("--help");
    EXPECT_EQ(0u, help.exitCode);
    for (const char* text : {"--remove", "--no-log", "--csv", "--json", "--quiet", "--help", "Exit status",
                             "  0  nothing", "  1  something", "  2  an error"})
        EXPECT_NE(std::string::npos, help.out.find(text)) << text;
    EXPECT_EQ("", help.err);
}

TEST(ScanReport, RowsSplitIntoTheirFields) {
    Finding row = ParseFindingRow("NetBus**KWR**C:\\a,b\\x.exe**KWR**Run \"x\"");
    EXPECT_EQ("NetBus", row.type);
    EXPECT_EQ("C:\\a,b\\x.exe", row.file);
    EXPECT_EQ("Run \"x\"", row.registry);
    EXPECT_EQ("\"C:\\a,b\\x.exe\"", CsvField(row.file));
    EXPECT_EQ("\"Run \"\"x\"\"\"", CsvField(row.registry));
    EXPECT_EQ("\"C:\\\\a,b\\\\x.exe\"", JsonString(row.file));
    EXPECT_EQ("\"a\\u0001\\n\"", JsonString("a\x01\n"));

    // Sockets d'Troy's type record has no separator of its own.
    Finding troy = ParseFindingRow("Sockets d'TroyC:\\WINDOWS\\x.exe**KWR**None");
    EXPECT_EQ("Sockets d'Troy", troy.type);
    EXPECT_EQ("C:\\WINDOWS\\x.exe", troy.file);
    EXPECT_EQ("None", troy.registry);
}

TEST_F(ConsoleScanner, UnregisteredEngineAndBadArgumentsExitTwo) {
    RunResult usage = Run("--frobnicate");
    EXPECT_EQ(2u, usage.exitCode);
    EXPECT_NE(std::string::npos, usage.err.find("unknown option --frobnicate")) << usage.output;
    EXPECT_NE(std::string::npos, usage.err.find("usage:")) << usage.output;
    RunResult both = Run("--csv --json");
    EXPECT_EQ(2u, both.exitCode);
    EXPECT_NE(std::string::npos, both.err.find("exclude each other")) << both.output;

    ASSERT_EQ(S_OK, Call("DllUnregisterServer"));
    RunResult run = Run();
    EXPECT_EQ(2u, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find("not installed")) << run.output;
}
