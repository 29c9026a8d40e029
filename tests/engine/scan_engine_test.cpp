// The ScanEngine object driven through IScanEngine as the program drives it, loaded
// from kwreng32.dll, with its signature file, registry values and log on disk.
#include "engine_codes.h"
#include "kwreng32.h"
#include "log_texts.h"
#include "registry_support.h"
#include "test_support.h"
#include "unique_handle.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <atomic>
#include <thread>

using Microsoft::WRL::ComPtr;
using namespace tolvane;
using namespace tolvane::test;

namespace {

const std::string kEngineKey = std::string(kProductKey) + "\\Engine";
const std::string kVersionKey = std::string(kProductKey) + "\\3.5";

class ScanEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_.reset(::LoadLibraryA((ModuleDirectory() + "\\kwreng32.dll").c_str()));
        ASSERT_TRUE(module_);
        previousDirectory_ = CurrentDirectory();
        // The program runs in its install folder; the log goes there too.
        ::CreateDirectoryA((dir_ / "work").c_str(), nullptr);
        ::SetCurrentDirectoryA((dir_ / "work").c_str());
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kVersionKey, "Path", dir_ / "Tolvane.exe"));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kEngineKey, "Placeholder", ""));
        engine_ = NewEngine();
        ASSERT_TRUE(engine_);
    }
    void TearDown() override {
        engine_.Reset();
        ::SetCurrentDirectoryA(previousDirectory_.c_str());
    }

    ComPtr<IScanEngineShellExtHelper> NewEngine() {
        using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        auto get = reinterpret_cast<GetClassObject>(::GetProcAddress(module_.get(), "DllGetClassObject"));
        ComPtr<IClassFactory> factory;
        ComPtr<IScanEngineShellExtHelper> engine;
        if (SUCCEEDED(get(CLSID_ScanEngine, IID_PPV_ARGS(&factory))))
            factory->CreateInstance(nullptr, IID_PPV_ARGS(&engine));
        return engine;
    }

    void PutSignatures(const std::vector<std::uint8_t>& bytes) {
        ASSERT_TRUE(WriteBytes(dir_ / "tsigs.kws", bytes));
    }
    unsigned long LastError() {
        unsigned long code = 0xDEADBEEF;
        EXPECT_EQ(S_OK, engine_->get_LastError(&code));
        return code;
    }
    std::string Log() { return ReadText(dir_ / "work\\Tolvane.log"); }
    std::string DefsDateBytes(const std::string& key) {
        DWORD type = 0;
        std::vector<unsigned char> data;
        if (!ReadValue(HKEY_LOCAL_MACHINE, key, "VirusDefsDate", type, data)) return "<missing>";
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        return std::string(data.begin(), data.end());
    }

    ScopedProductKey productKey_;
    TempDir dir_;
    unique_hmodule module_;
    std::string previousDirectory_;
    ComPtr<IScanEngineShellExtHelper> engine_;
};

}  // namespace

TEST_F(ScanEngineTest, InitReportsMissingSignaturesUntilTheFileArrives) {
    EXPECT_EQ(E_FAIL, engine_->Init(1, 1));
    EXPECT_EQ(kCodeSignatureMissing, LastError());
    PutSignatures(SignatureFileBytes({{1, 0x1234}}));
    EXPECT_EQ(S_OK, engine_->Init(1, 1)) << "retry after new signature files, without Close";
    EXPECT_EQ(1u, LastError());
}

TEST_F(ScanEngineTest, InitReportsUnreadableAndTamperedSignatureFiles) {
    auto bytes = SignatureFileBytes({{1, 0x10}, {2, 0x20}});
    bytes.resize(bytes.size() - 1);
    PutSignatures(bytes);
    EXPECT_EQ(E_FAIL, engine_->Init(0, 1));
    EXPECT_EQ(kCodeSignatureRead, LastError());

    bytes = SignatureFileBytes({{1, 0x10}});
    bytes[3] = 'X';
    PutSignatures(bytes);
    EXPECT_EQ(E_FAIL, engine_->Init(0, 1));
    EXPECT_EQ(kCodeSignatureMagic, LastError());
    EXPECT_EQ("<missing>", DefsDateBytes(kEngineKey)) << "no date from a file that failed";
}

TEST_F(ScanEngineTest, DefinitionsDateGoesToTheEngineKeyAsTwelveBytes) {
    PutSignatures(SignatureFileBytes({}, 6, 21, 2000));
    ASSERT_EQ(S_OK, engine_->Init(0, 1));
    EXPECT_EQ(std::string("6/21/2000\0\0\0", 12), DefsDateBytes(kEngineKey));
    EXPECT_EQ("<missing>", DefsDateBytes(kProductKey));
}

TEST_F(ScanEngineTest, DefinitionsDateFallsBackToTheProductKey) {
    DeleteTree(HKEY_LOCAL_MACHINE, kEngineKey);
    PutSignatures(SignatureFileBytes({}, 12, 31, 1999));
    ASSERT_EQ(S_OK, engine_->Init(0, 1));
    EXPECT_EQ(std::string("12/31/1999\0\0", 12), DefsDateBytes(kProductKey));
}

TEST_F(ScanEngineTest, OversizedDateIsCutToItsTwelveBytes) {
    PutSignatures(SignatureFileBytes({}, 65535, 65535, 65535));
    ASSERT_EQ(S_OK, engine_->Init(0, 1));
    EXPECT_EQ(std::string("65535/65535\0", 12), DefsDateBytes(kEngineKey));
}

TEST_F(ScanEngineTest, UnwritableDateReports57390WithSignaturesLoaded) {
    PutSignatures(SignatureFileBytes({}));
    // The program's path stays readable from a key of its own; the product key goes.
    DeleteTree(HKEY_LOCAL_MACHINE, kProductKey);
    EXPECT_EQ(E_FAIL, engine_->Init(0, 1));
    EXPECT_EQ(kCodeUnspecified, LastError());
    EXPECT_TRUE(SetString(HKEY_LOCAL_MACHINE, kEngineKey, "Placeholder", ""));
    PutSignatures({});  // an unreadable file now: proves the loaded table is not reread
    EXPECT_EQ(S_OK, engine_->Init(0, 1));
}

TEST_F(ScanEngineTest, CloseThenInitKeepsTheLoadedTableAndLoadNewDefsRereads) {
    PutSignatures(SignatureFileBytes({{1, 0x10}}));
    ASSERT_EQ(S_OK, engine_->Init(0, 1));
    ASSERT_EQ(S_OK, engine_->Close());
    auto bad = SignatureFileBytes({{1, 0x10}});
    bad[0] = 'X';
    PutSignatures(bad);
    EXPECT_EQ(S_OK, engine_->Init(0, 1)) << "the changed file is not read again";
    EXPECT_EQ(E_FAIL, engine_->LoadNewDefs());
    EXPECT_EQ(kCodeSignatureMagic, LastError());
    PutSignatures(SignatureFileBytes({{2, 0x20}}));
    EXPECT_EQ(S_OK, engine_->LoadNewDefs());
    EXPECT_EQ(1u, LastError());
}

TEST_F(ScanEngineTest, InstallFolderFallsBackToTheParentOfTheCurrentDirectory) {
    DeleteTree(HKEY_LOCAL_MACHINE, kVersionKey);
    PutSignatures(SignatureFileBytes({}));  // in dir_, the parent of dir_\work
    EXPECT_EQ(S_OK, NewEngine()->Init(0, 1));
}

TEST_F(ScanEngineTest, ProgramPathFillingTheWholeBufferIsStillTheInstallFolder) {
    PutSignatures(SignatureFileBytes({}));
    std::string program = dir_ / "";
    program += std::string(MAX_PATH - 1 - 4 - program.size(), 'T') + ".exe";
    ASSERT_EQ(static_cast<std::size_t>(MAX_PATH - 1), program.size());
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kVersionKey, "Path", program));
    // A fallback to the current directory would look in dir_\elsewhere, which has no file.
    ::CreateDirectoryA((dir_ / "elsewhere").c_str(), nullptr);
    ::CreateDirectoryA((dir_ / "elsewhere\\deeper").c_str(), nullptr);
    ASSERT_TRUE(::SetCurrentDirectoryA((dir_ / "elsewhere\\deeper").c_str()));
    auto engine = NewEngine();
    EXPECT_EQ(S_OK, engine->Init(0, 1));
    unsigned long code = 0;
    engine->get_LastError(&code);
    EXPECT_EQ(1u, code);
    engine->Close();
}

TEST_F(ScanEngineTest, OperationsNeedAnOpenRun) {
    long found = 0x5A5A;
    unsigned long code = 0xDEADBEEF;
    VARIANT list;
    unique_bstr path(::SysAllocString(L"C:\\windows\\notepad.exe"));
    EXPECT_EQ(E_FAIL, engine_->DetectOrx(&found));
    EXPECT_EQ(E_FAIL, engine_->RemoveOrx(&found));
    EXPECT_EQ(E_FAIL, engine_->ScanFile(path.get(), &code));
    EXPECT_EQ(E_FAIL, engine_->LoadNewDefs());
    EXPECT_EQ(E_FAIL, engine_->get_ProcessList(&list));
    EXPECT_EQ(0x5A5A, found);
    EXPECT_EQ(0xDEADBEEFu, code);

    PutSignatures(SignatureFileBytes({}));
    ASSERT_EQ(S_OK, engine_->Init(0, 1));
    ASSERT_EQ(S_OK, engine_->Close());
    EXPECT_EQ(E_FAIL, engine_->RemoveOrx(&found)) << "after Close as before Init";
    EXPECT_EQ(S_OK, engine_->ScanSelection(nullptr, nullptr, &code)) << "needs no run";
    EXPECT_EQ(1u, code);
}

TEST_F(ScanEngineTest, EmptyDetectorListGivesAnEmptyBstrArrayAndAQuietRemoval) {
    PutSignatures(SignatureFileBytes({}));
    ASSERT_EQ(S_OK, engine_->Init(1, 1));
    VARIANT list;
    V_VT(&list) = VT_I4;
    ASSERT_EQ(S_OK, engine_->get_ProcessList(&list));
    ASSERT_EQ(VT_ARRAY | VT_BSTR, V_VT(&list));
    EXPECT_EQ(1u, ::SafeArrayGetDim(V_ARRAY(&list)));
    LONG lower = -1, upper = 5;
    ::SafeArrayGetLBound(V_ARRAY(&list), 1, &lower);
    ::SafeArrayGetUBound(V_ARRAY(&list), 1, &upper);
    EXPECT_EQ(0, lower);
    EXPECT_EQ(-1, upper);
    ::VariantClear(&list);

    long removed = 0;
    EXPECT_EQ(S_OK, engine_->RemoveOrx(&removed));
    EXPECT_EQ(1, removed);
    EXPECT_EQ(S_OK, engine_->Close());
    std::string expectedTail = OnDisk(std::string(log_text::kRemovalBanner) + log_text::kRemoved1 +
                                      log_text::kRemoved2 + log_text::kRemoved3 + log_text::kEndLine);
    std::string log = Log();
    ASSERT_GE(log.size(), expectedTail.size());
    EXPECT_EQ(expectedTail, log.substr(log.size() - expectedTail.size()));
}

TEST_F(ScanEngineTest, LogOfARunHasItsStartAndEndOnDisk) {
    PutSignatures(SignatureFileBytes({}));
    ASSERT_EQ(S_OK, engine_->Init(1, 1));
    ASSERT_EQ(S_OK, engine_->Close());
    std::string log = Log();
    std::string lead = "\r\n" + std::string(log_text::kStartLead) + " ";
    ASSERT_EQ(lead, log.substr(0, lead.size())) << log;
    std::string tail = "  " + std::string(16, '*') + "\r\r\n" + OnDisk(log_text::kEndLine);
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(tail, log.substr(log.size() - tail.size())) << log;
    EXPECT_NE(std::string::npos, log.find(" at ")) << "the date sits between the runs of asterisks";
}

TEST_F(ScanEngineTest, LoggingSwitchesOutputMidRun) {
    PutSignatures(SignatureFileBytes({}));
    unique_bstr missing(::SysAllocString(L"C:\\missing\\trojan.exe"));
    unsigned long code = 0;

    // Off from Init: one line end per run, nothing else; on later: texts without a start line.
    ASSERT_EQ(S_OK, engine_->Init(0, 1));
    ASSERT_EQ(S_OK, engine_->ScanFile(missing.get(), &code));
    ASSERT_EQ(S_OK, engine_->put_Logging(1));
    ASSERT_EQ(S_OK, engine_->ScanFile(missing.get(), &code));
    ASSERT_EQ(S_OK, engine_->Close());
    std::string fileError = OnDisk(std::string(log_text::kFileErrorLead) + "C:\\missing\\trojan.exe" +
                                   log_text::kFileErrorTail);
    EXPECT_EQ("\r\n" + fileError + OnDisk(log_text::kEndLine), Log());

    // On from Init, off mid-run: no end line.
    ASSERT_TRUE(WriteText(dir_ / "work\\Tolvane.log", ""));
    ASSERT_EQ(S_OK, engine_->Init(1, 1));
    ASSERT_EQ(S_OK, engine_->put_Logging(0));
    ASSERT_EQ(S_OK, engine_->ScanFile(missing.get(), &code));
    ASSERT_EQ(S_OK, engine_->Close());
    std::string log = Log();
    EXPECT_EQ(std::string::npos, log.find("Scan completed"));
    EXPECT_EQ(std::string::npos, log.find("FILE SCAN PHASE"));
    EXPECT_NE(std::string::npos, log.find("Scan started on"));
}

TEST_F(ScanEngineTest, SecondInitStartsANewLogEntryWithoutEndingTheFirst) {
    PutSignatures(SignatureFileBytes({}));
    ASSERT_EQ(S_OK, engine_->Init(1, 1));
    ASSERT_EQ(S_OK, engine_->Init(1, 1));
    ASSERT_EQ(S_OK, engine_->Close());
    std::string log = Log();
    std::size_t first = log.find("Scan started on");
    ASSERT_NE(std::string::npos, first);
    EXPECT_NE(std::string::npos, log.find("Scan started on", first + 1));
    std::size_t end = log.find("Scan completed");
    ASSERT_NE(std::string::npos, end);
    EXPECT_EQ(std::string::npos, log.find("Scan completed", end + 1));
}

TEST_F(ScanEngineTest, ScanFileTreatsMissingAndShortFilesAsClean) {
    PutSignatures(SignatureFileBytes({{1, 0x0283B97A}}));  // 500 zero bytes
    ASSERT_EQ(S_OK, engine_->Init(1, 1));
    ASSERT_TRUE(WriteBytes(dir_ / "short.exe", std::vector<std::uint8_t>(499, 0)));
    std::string shortPath = dir_ / "short.exe";
    unique_bstr shortFile(::SysAllocString(std::wstring(shortPath.begin(), shortPath.end()).c_str()));
    unsigned long code = 0xDEADBEEF;
    EXPECT_EQ(S_OK, engine_->ScanFile(shortFile.get(), &code));
    EXPECT_EQ(1u, code);
    unique_bstr missing(::SysAllocString(L"C:\\does\\not\\exist.exe"));
    code = 0xDEADBEEF;
    EXPECT_EQ(S_OK, engine_->ScanFile(missing.get(), &code));
    EXPECT_EQ(1u, code);
    ASSERT_EQ(S_OK, engine_->Close());
    std::string log = Log();
    EXPECT_NE(std::string::npos,
              log.find("\r\nFILE SCAN PHASE: Error trying to open the file C:\\does\\not\\exist.exe for "
                       "scanning.  File skipped."));
    EXPECT_EQ(std::string::npos, log.find("short.exe"));
}

// A named pipe whose server connects and then says nothing for a while: a read from
// it waits until the server lets go.
TEST_F(ScanEngineTest, PathNamingAPipeIsCleanAndDoesNotWaitForData) {
    PutSignatures(SignatureFileBytes({}));
    ASSERT_EQ(S_OK, engine_->Init(0, 1));
    const char kPipe[] = "\\\\.\\pipe\\tolvane-scan-engine-test";
    unique_handle pipe(::CreateNamedPipeA(kPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                          4096, 4096, 0, nullptr));
    ASSERT_TRUE(pipe) << "GetLastError " << ::GetLastError();
    unique_handle release(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> letGo{false};
    std::thread server([&] {
        ::ConnectNamedPipe(pipe.get(), nullptr);
        ::WaitForSingleObject(release.get(), 5000);
        letGo = true;
        ::DisconnectNamedPipe(pipe.get());
    });
    unique_bstr path(::SysAllocString(L"\\\\.\\pipe\\tolvane-scan-engine-test"));
    unsigned long code = 0xDEADBEEF;
    EXPECT_EQ(S_OK, engine_->ScanFile(path.get(), &code));
    EXPECT_FALSE(letGo) << "the check waited for the pipe's server";
    EXPECT_EQ(1u, code);
    ::SetEvent(release.get());
    server.join();
}

TEST_F(ScanEngineTest, ShellExtensionRunOpensNoLogAndStillChecksFiles) {
    PutSignatures(SignatureFileBytes({}, 1, 2, 2003));
    unsigned long code = 0xDEADBEEF;
    ASSERT_EQ(S_OK, engine_->InitShellExtension(&code));
    EXPECT_EQ(0xDEADBEEFu, code) << "not written on success";
    EXPECT_EQ(std::string("1/2/2003\0\0\0\0", 12), DefsDateBytes(kEngineKey));
    unique_bstr missing(::SysAllocString(L"C:\\does\\not\\exist.exe"));
    EXPECT_EQ(S_OK, engine_->ScanFile(missing.get(), &code));
    EXPECT_EQ(1u, code);
    EXPECT_FALSE(FileExists(dir_ / "work\\Tolvane.log"));

    auto other = NewEngine();
    DeleteTree(HKEY_LOCAL_MACHINE, kProductKey);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kVersionKey, "Path", dir_ / "Tolvane.exe"));
    ::DeleteFileA((dir_ / "tsigs.kws").c_str());
    code = 0xDEADBEEF;
    EXPECT_EQ(E_FAIL, other->InitShellExtension(&code));
    EXPECT_EQ(kCodeSignatureMissing, code);
}

namespace {

// Watches the dialogs this thread creates and destroys while a pass runs.
struct DialogWatch {
    static DialogWatch* current;
    HHOOK hook = nullptr;
    int created = 0;
    int destroyed = 0;
    LONG style = 0;
    std::string texts;
    HWND owner = nullptr;

    DialogWatch() {
        current = this;
        hook = ::SetWindowsHookExA(WH_CBT, Proc, nullptr, ::GetCurrentThreadId());
    }
    ~DialogWatch() {
        ::UnhookWindowsHookEx(hook);
        current = nullptr;
    }
    static BOOL CALLBACK CollectText(HWND child, LPARAM self) {
        char text[256] = {};
        ::GetWindowTextA(child, text, sizeof text);
        reinterpret_cast<DialogWatch*>(self)->texts += std::string(text) + "|";
        return TRUE;
    }
    static LRESULT CALLBACK Proc(int code, WPARAM wParam, LPARAM lParam) {
        char className[64] = {};
        if (code == HCBT_CREATEWND || code == HCBT_DESTROYWND)
            ::GetClassNameA(reinterpret_cast<HWND>(wParam), className, sizeof className);
        if (std::string(className) == "#32770") {
            HWND window = reinterpret_cast<HWND>(wParam);
            if (code == HCBT_CREATEWND) {
                ++current->created;
                auto create = reinterpret_cast<CBT_CREATEWNDA*>(lParam);
                current->style = create->lpcs->style;
                current->owner = create->lpcs->hwndParent;
            } else {
                ++current->destroyed;
                ::EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(current));
            }
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }
};
DialogWatch* DialogWatch::current = nullptr;

}  // namespace

TEST_F(ScanEngineTest, NonSilentPassShowsTheWaitWindowAndTakesItDown) {
    PutSignatures(SignatureFileBytes({}));
    ASSERT_EQ(S_OK, engine_->Init(0, 0));
    long found = -1;
    {
        DialogWatch watch;
        ASSERT_EQ(S_OK, engine_->DetectOrx(&found));
        EXPECT_EQ(1, watch.created);
        EXPECT_EQ(1, watch.destroyed) << "gone before DetectOrx returns";
        EXPECT_TRUE(watch.style & WS_POPUP);
        EXPECT_FALSE((watch.style & WS_CAPTION) == WS_CAPTION) << "no title bar";
        EXPECT_EQ(::GetDesktopWindow(), watch.owner);
        EXPECT_NE(std::string::npos, watch.texts.find("Please wait while Tolvane scans your system."))
            << watch.texts;
    }
    EXPECT_EQ(0, found);
    ASSERT_EQ(S_OK, engine_->put_Silent(1));
    DialogWatch quiet;
    ASSERT_EQ(S_OK, engine_->DetectOrx(&found));
    EXPECT_EQ(0, quiet.created);
}

TEST_F(ScanEngineTest, CleanSystemLogsTheNoneFoundTextOnly) {
    PutSignatures(SignatureFileBytes({}));
    ASSERT_EQ(S_OK, engine_->Init(1, 1));
    long found = -1;
    ASSERT_EQ(S_OK, engine_->DetectOrx(&found));
    EXPECT_EQ(0, found);
    ASSERT_EQ(S_OK, engine_->Close());
    std::string log = Log();
    std::string expected = OnDisk(std::string(log_text::kNoneFound) + log_text::kEndLine);
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(expected, log.substr(log.size() - expected.size())) << log;
    EXPECT_EQ(std::string::npos, log.find("Detection Phase")) << log;
}
