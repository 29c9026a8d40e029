// Whole update runs against the loopback HTTP server that CTest starts (update_server.py):
// what is fetched, where it lands, what the user is told, and what a failed, cut,
// stalled or cancelled download leaves behind.
#include "app_test_support.h"
#include "pe_format.h"
#include "resource.h"
#include "signature_file.h"
#include "test_support.h"
#include "ui/message_box.h"
#include "unique_handle.h"
#include "update/update_client.h"
#include "update/update_file_check.h"
#include "update/update_version_file.h"
#include "update_server_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <thread>

using namespace tolvane;
using namespace tolvane::test;

namespace {

std::vector<std::uint8_t> Content(std::size_t size, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(first + i * 7);
    return bytes;
}

// A signature file of `count` entries, the first `first`, each fingerprint its own.
std::vector<std::uint8_t> Signatures(std::size_t count, std::uint32_t first) {
    std::vector<SignatureEntry> entries;
    for (std::uint32_t i = 0; i < count; ++i) entries.push_back({i % 12, first + i * 0x01000193u});
    return SignatureFileBytes(entries);
}

// A file of the tree tools/publish wrote before the tests (CTest's update_publish), signed
// with the maker's key; `tree` "update_tree_other" holds the same files signed with another.
std::vector<std::uint8_t> Published(const std::string& name, const char* tree = "update_tree") {
    return ReadBytes(ModuleDirectory() + "\\" + tree + "\\Updates\\" + name);
}
std::string KeyFile(const char* name) { return ModuleDirectory() + "\\update_keys\\" + name; }

// Where this edition's engine modules lie on the server ("x64/" under the update path in
// the 64-bit edition, its top in the 32-bit one), and the other edition's kind and place.
const std::string kOwnModules = EngineModuleFolder(kNativeMachine);
constexpr std::uint16_t kOtherMachine = kNativeMachine == kMachineAmd64 ? kMachineI386 : kMachineAmd64;
const std::string kOtherModules = EngineModuleFolder(kOtherMachine);

// What this edition's client fetches of a published tree.
const std::vector<std::string> kPublishedFiles = {"tsigs.ini", "tsigs.kws", "psigs.kws", kOwnModules + "kwreng32.dl_",
                                                  kOwnModules + "hyseng32.dl_"};

// An engine module as built (without debugging data), to serve as a ".dl_".
std::vector<std::uint8_t> Module(const char* name) {
    return ReadBytes(ModuleDirectory() + "\\update_modules\\" + name);
}
// A plug-in-shaped DLL of the other edition's kind, with all seven exports.
std::vector<std::uint8_t> OtherKindModule(const char* name) { return ReadBytes(PluginImagePath(kOtherMachine, name)); }

class UpdateClient : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(server_.Url().empty()) << "TOLVANE_UPDATE_SERVER names the loopback server's folder";
        ASSERT_TRUE(server_.Clear());
        SetField(options_.FTPServer, server_.Url().c_str());
        SetField(options_.Path, "/Updates/");
        previousDirectory_ = CurrentDirectory();
        ASSERT_TRUE(::SetCurrentDirectoryA(work_.path().c_str()));
    }
    void TearDown() override {
        ::SetCurrentDirectoryA(previousDirectory_.c_str());
        server_.Clear();
    }

    void Serve(const std::string& name, const std::vector<std::uint8_t>& bytes, const char* mode = nullptr) {
        ASSERT_TRUE(server_.Serve(name, bytes, mode));
    }
    void ServeVersion(const std::string& defs, int major, int minor, int build) {
        ASSERT_TRUE(server_.ServeVersion(defs, major, minor, build));
    }
    std::vector<std::string> Requested() { return server_.Requested(); }
    // What the run left in the current directory, scratch files included.
    std::set<std::string> LocalFiles() {
        std::set<std::string> names;
        WIN32_FIND_DATAA data;
        unique_find find(::FindFirstFileA((work_ / "*").c_str(), &data));
        if (find) {
            do {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(data.cFileName);
            } while (::FindNextFileA(find.get(), &data));
        }
        return names;
    }
    std::vector<std::string> Shown() {
        std::vector<std::string> texts;
        for (const ShownMessage& m : messages_.shown()) texts.push_back(m.text);
        return texts;
    }
    // `keyFile` empty: an installation without the maker's key.
    int Run(const char* date, HWND owner = nullptr, const std::string& keyFile = "") {
        return RunUpdate(date, UpdateTarget{owner, options_, engine_, enginesDownloaded_, 2000, keyFile});
    }

    LoopbackUpdateServer server_;
    std::string previousDirectory_;
    TempDir work_;
    CaughtMessages messages_;
    UpdateOptionsRecord options_{};
    EngineVersion engine_{3, 0, 2};
    bool enginesDownloaded_ = false;
    const std::vector<std::uint8_t> oldTrojanSigs_ = Content(700, 1);
    const std::vector<std::uint8_t> oldPrivacySigs_ = Content(300, 2);
};

TEST_F(UpdateClient, NewerDefinitionsReplaceBothSignatureFilesInPlace) {
    ASSERT_TRUE(WriteBytes(work_ / "tsigs.kws", oldTrojanSigs_));
    ServeVersion("1/1/2001", 3, 0, 2);
    // "404" in the first block is data like any other when the server answers 200.
    std::vector<std::uint8_t> trojanSigs = Signatures(600, 0x00343034);
    ASSERT_NE(trojanSigs.end(), std::search(trojanSigs.begin(), trojanSigs.begin() + 512, "404", "404" + 3));
    Serve("tsigs.kws", trojanSigs);
    Serve("psigs.kws", Signatures(150, 4));
    EXPECT_EQ(kNewerDefs, Run("12/31/2000"));
    EXPECT_EQ(trojanSigs, ReadBytes(work_ / "tsigs.kws"));
    EXPECT_EQ(Signatures(150, 4), ReadBytes(work_ / "psigs.kws"));
    EXPECT_EQ((std::set<std::string>{"psigs.kws", "tsigs.kws"}), LocalFiles());
    EXPECT_EQ((std::vector<std::string>{"/Updates/tsigs.ini", "/Updates/tsigs.kws", "/Updates/psigs.kws"}),
              Requested());
    EXPECT_EQ(std::vector<std::string>{LoadMessage(IDS_UPDATE_DOWNLOADED)}, Shown());
    EXPECT_FALSE(enginesDownloaded_);
    char windows[MAX_PATH];
    ::GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_FALSE(FileExists(std::string(windows) + "\\tsigs.ini")) << "the version file's local copy stays";
}

TEST_F(UpdateClient, EqualOrOlderVersionsFetchNothingButTheVersionFile) {
    ServeVersion("6/21/2000", 3, 0, 1);
    Serve("tsigs.kws", Content(600, 5));
    EXPECT_EQ(kNothingNewer, Run("6/21/2000"));
    EXPECT_EQ(kNothingNewer, Run("7/1/2000"));
    EXPECT_EQ(std::vector<std::string>{"/Updates/tsigs.ini"}, Requested());
    EXPECT_TRUE(LocalFiles().empty());
    EXPECT_EQ(std::vector<std::string>(2, LoadMessage(IDS_UPDATE_NOT_NEEDED)), Shown());
}

// Both editions' modules on the server, each where its clients read them ("x64/" for the
// 64-bit edition): this edition's client asks for its own only.
TEST_F(UpdateClient, NewerEngineIsStagedOnceAndTakesTheServersVersion) {
    ServeVersion("6/21/2000", 3, 1, 0);
    Serve(kOwnModules + "kwreng32.dl_", Module("kwreng32.dll"));
    Serve(kOwnModules + "hyseng32.dl_", Module("hyseng32.dll"));
    Serve(kOtherModules + "kwreng32.dl_", OtherKindModule("kwreng32.dll"));
    Serve(kOtherModules + "hyseng32.dl_", OtherKindModule("hyseng32.dll"));
    EXPECT_EQ(kNewerEngines, Run("6/21/2000"));
    EXPECT_EQ(Module("kwreng32.dll"), ReadBytes(work_ / "kwreng32.tmp"));
    EXPECT_EQ(Module("hyseng32.dll"), ReadBytes(work_ / "hyseng32.tmp"));
    EXPECT_TRUE(enginesDownloaded_);
    EXPECT_EQ(3, engine_.major);
    EXPECT_EQ(1, engine_.minor);
    EXPECT_EQ(0, engine_.build);
    EXPECT_EQ(kNothingNewer, Run("6/21/2000")) << "a second run finds the staged version current";
    const std::string place = sizeof(void*) == 8 ? "/Updates/x64/" : "/Updates/";
    EXPECT_EQ((std::vector<std::string>{"/Updates/tsigs.ini", place + "kwreng32.dl_", place + "hyseng32.dl_"}),
              Requested());
    EXPECT_EQ((std::vector<std::string>{LoadMessage(IDS_UPDATE_DOWNLOADED), LoadMessage(IDS_UPDATE_NOT_NEEDED)}),
              Shown());
}

// The other edition's modules served in this edition's place (the 32-bit engines in x64/,
// or 64-bit ones at the top): staged, they would replace modules that load with ones that
// never load here. Whole plug-in DLLs, refused for their kind alone.
TEST_F(UpdateClient, ModulesOfTheOtherEditionInItsPlaceAreRefused) {
    ServeVersion("6/21/2000", 3, 1, 0);
    Serve(kOwnModules + "kwreng32.dl_", OtherKindModule("kwreng32.dll"));
    Serve(kOwnModules + "hyseng32.dl_", OtherKindModule("hyseng32.dll"));
    const std::vector<std::uint8_t> other = OtherKindModule("kwreng32.dll");
    ASSERT_TRUE(IsPluginModuleImage(other.data(), other.size(), kOtherMachine)) << "a module, of the other kind";
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000"));
    EXPECT_TRUE(LocalFiles().empty()) << "nothing staged, no scratch left";
    EXPECT_FALSE(enginesDownloaded_);
    EXPECT_EQ(2, engine_.build);
    std::vector<std::string> expected;
    for (const char* name : {"kwreng32.dl_", "hyseng32.dl_"})
        expected.push_back("The file /Updates/" + kOwnModules + name +
                           " sent by the update server is damaged or is not the file Tolvane expects. "
                           "It was not installed.");
    expected.push_back(LoadMessage(IDS_UPDATE_FAILED));
    EXPECT_EQ(expected, Shown());
}

TEST(TransferList, NamesTheEditionsOwnModules) {
    UpdateOptionsRecord options{};
    SetField(options.FTPServer, "http://127.0.0.1:1");
    SetField(options.Path, "/Updates/");
    std::array<std::string, kTransferCount> list = BuildTransferList(options, "C:\\WINDOWS");
    const std::string place = sizeof(void*) == 8 ? "/Updates/x64/" : "/Updates/";
    EXPECT_EQ(place + "kwreng32.dl_", list[kRemoteScanEngine]);
    EXPECT_EQ(place + "hyseng32.dl_", list[kRemotePrivacyEngine]);
    EXPECT_EQ("kwreng32.tmp", list[kStagedScanEngine]);
    EXPECT_EQ("hyseng32.tmp", list[kStagedPrivacyEngine]);
    EXPECT_EQ("/Updates/tsigs.ini", list[kRemoteVersionFile]) << "one version file for both editions";
    EXPECT_EQ("/Updates/tsigs.kws", list[kRemoteTrojanSigs]);
    EXPECT_EQ("/Updates/psigs.kws", list[kRemotePrivacySigs]);
}

TEST_F(UpdateClient, NoStoredDateFetchesBothSignatureFilesButOnlyNewerEngines) {
    ServeVersion("6/21/2000", 3, 0, 2);
    Serve("tsigs.kws", Signatures(40, 20));
    Serve("psigs.kws", Signatures(5, 21));
    Serve(kOwnModules + "kwreng32.dl_", Module("kwreng32.dll"));
    EXPECT_EQ(kNewerDefs, Run(""));
    EXPECT_EQ(Signatures(40, 20), ReadBytes(work_ / "tsigs.kws"));
    EXPECT_EQ(Signatures(5, 21), ReadBytes(work_ / "psigs.kws"));
    EXPECT_EQ((std::vector<std::string>{"/Updates/tsigs.ini", "/Updates/tsigs.kws", "/Updates/psigs.kws"}),
              Requested());
    EXPECT_EQ(std::vector<std::string>{LoadMessage(IDS_UPDATE_DOWNLOADED)}, Shown());
    EXPECT_FALSE(enginesDownloaded_);
}

// What a server may send with "200 OK" in place of the file: an error page, a signature
// file shorter than its header says, a module cut short, a DLL that is no engine module.
TEST_F(UpdateClient, DownloadsThatFailTheirCheckReplaceNothing) {
    const std::vector<std::uint8_t> liveTrojanSigs = Signatures(30, 1), livePrivacySigs = Signatures(3, 2);
    ASSERT_TRUE(WriteBytes(work_ / "tsigs.kws", liveTrojanSigs));
    ASSERT_TRUE(WriteBytes(work_ / "psigs.kws", livePrivacySigs));
    ServeVersion("1/1/2001", 3, 0, 3);
    std::string page = "<html><head><title>Error</title></head><body>Service unavailable</body></html>";
    Serve("tsigs.kws", std::vector<std::uint8_t>(page.begin(), page.end()));
    std::vector<std::uint8_t> noRecords = Signatures(3, 22);
    noRecords[offsetof(SignatureFileHeader, registryRecordCount)] = 2;
    Serve("psigs.kws", noRecords);
    std::vector<std::uint8_t> cutModule = Module("kwreng32.dll");
    cutModule.resize(cutModule.size() / 2);
    Serve(kOwnModules + "kwreng32.dl_", cutModule);
    Serve(kOwnModules + "hyseng32.dl_", ReadBytes(ModuleDirectory() + "\\specimens\\plugins_probe.dll"));
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000"));
    EXPECT_EQ(liveTrojanSigs, ReadBytes(work_ / "tsigs.kws"));
    EXPECT_EQ(livePrivacySigs, ReadBytes(work_ / "psigs.kws"));
    EXPECT_EQ((std::set<std::string>{"psigs.kws", "tsigs.kws"}), LocalFiles()) << "nothing staged, no scratch left";
    EXPECT_FALSE(enginesDownloaded_);
    EXPECT_EQ(2, engine_.build);
    std::vector<std::string> expected;
    for (const std::string& name :
         std::vector<std::string>{"tsigs.kws", "psigs.kws", kOwnModules + "kwreng32.dl_", kOwnModules + "hyseng32.dl_"})
        expected.push_back("The file /Updates/" + name +
                           " sent by the update server is damaged or is not the file Tolvane expects. "
                           "It was not installed.");
    expected.push_back(LoadMessage(IDS_UPDATE_FAILED));
    EXPECT_EQ(expected, Shown());
}

TEST(PluginModuleImage, IsADllOfTheExpectedKindWithTheSevenPluginExports) {
    for (const char* name : {"kwreng32.dll", "hyseng32.dll"}) {
        SCOPED_TRACE(name);
        const std::vector<std::uint8_t> module = Module(name);
        ASSERT_TRUE(IsPluginModuleImage(module.data(), module.size(), kNativeMachine));
        EXPECT_FALSE(IsPluginModuleImage(module.data(), module.size(), kOtherMachine)) << "asked for the other kind";
        std::optional<PeLayout> layout = ReadPeLayout(module.data(), module.size());
        ASSERT_TRUE(layout);
        std::uint32_t fileHeader = 0;
        std::memcpy(&fileHeader, module.data() + offsetof(DosHeader, ntHeaderOffset), 4);
        fileHeader += 4;

        // The other machine in the file header, the optional header still of this kind.
        std::vector<std::uint8_t> other = module;
        std::memcpy(&other[fileHeader + offsetof(FileHeader, machine)], &kOtherMachine, 2);
        EXPECT_FALSE(IsPluginModuleImage(other.data(), other.size(), kNativeMachine)) << "other machine";
        EXPECT_FALSE(IsPluginModuleImage(other.data(), other.size(), kOtherMachine)) << "machine and header disagree";
        other = module;
        other[fileHeader + offsetof(FileHeader, characteristics) + 1] &= ~(kFileIsDll >> 8);
        EXPECT_FALSE(IsPluginModuleImage(other.data(), other.size(), kNativeMachine)) << "a program, not a DLL";
        other = module;
        auto at = std::search(other.begin(), other.end(), "IsCriticalPlugin", "IsCriticalPlugin" + 16);
        ASSERT_NE(other.end(), at);
        *at = 'X';
        EXPECT_FALSE(IsPluginModuleImage(other.data(), other.size(), kNativeMachine)) << "one export missing";
        std::size_t end = 0;
        for (const SectionHeader& section : layout->sections)
            end = std::max<std::size_t>(end, section.pointerToRawData + section.sizeOfRawData);
        EXPECT_FALSE(IsPluginModuleImage(module.data(), end - 1, kNativeMachine)) << "cut by one byte of its sections";
    }
    // A module of either kind is told by its bytes, whichever edition asks.
    for (std::uint16_t machine : {kMachineI386, kMachineAmd64}) {
        const std::vector<std::uint8_t> image = ReadBytes(PluginImagePath(machine, "kwreng32.dll"));
        std::optional<PeLayout> layout = ReadPeLayout(image.data(), image.size());
        ASSERT_TRUE(layout);
        EXPECT_EQ(machine == kMachineAmd64, layout->IsPe32Plus());
        EXPECT_TRUE(IsPluginModuleImage(image.data(), image.size(), machine)) << machine;
        EXPECT_FALSE(IsPluginModuleImage(image.data(), image.size(), machine == kMachineAmd64 ? kMachineI386 : kMachineAmd64))
            << machine;
    }
    EXPECT_FALSE(IsPluginModuleImage(nullptr, 0, kNativeMachine));
}

namespace {

DWORD g_uiThread = 0;
std::vector<std::string> g_uiMessages;

// A failure deep inside the worker: its first message throws.
int ThrowOnWorker(const std::string& text, UINT, HWND) {
    if (::GetCurrentThreadId() != g_uiThread) throw std::runtime_error("message on the worker");
    g_uiMessages.push_back(text);
    return IDOK;
}

}  // namespace

TEST_F(UpdateClient, ExceptionOnTheWorkerEndsTheRunAsFailed) {
    ServeVersion("1/1/2001", 3, 0, 2);  // no tsigs.kws: its "not found" message throws
    g_uiThread = ::GetCurrentThreadId();
    g_uiMessages.clear();
    MessageSink previous = SetMessageSink(ThrowOnWorker);
    int result = Run("6/21/2000");
    SetMessageSink(previous);
    EXPECT_EQ(kUpdateFailed, result);
    EXPECT_EQ(std::vector<std::string>{LoadMessage(IDS_UPDATE_FAILED)}, g_uiMessages);
    EXPECT_EQ((std::vector<std::string>{"/Updates/tsigs.ini", "/Updates/tsigs.kws"}), Requested())
        << "the run ends at the exception";
}

TEST_F(UpdateClient, PublishedTreeIsTakenWithTheMakersKeyAndUnsignedWithoutAKey) {
    for (const std::string& name : kPublishedFiles) {
        Serve(name, Published(name));
        Serve(name + ".sig", Published(name + ".sig"));
    }
    EXPECT_EQ(kNewerDefs | kNewerEngines, Run("6/21/2000", nullptr, KeyFile("maker.pub")));
    EXPECT_EQ(Published("tsigs.kws"), ReadBytes(work_ / "tsigs.kws"));
    EXPECT_EQ(Published("psigs.kws"), ReadBytes(work_ / "psigs.kws"));
    EXPECT_EQ(Published(kOwnModules + "kwreng32.dl_"), ReadBytes(work_ / "kwreng32.tmp"));
    EXPECT_EQ(Published(kOwnModules + "hyseng32.dl_"), ReadBytes(work_ / "hyseng32.tmp"));
    EXPECT_EQ(Module("kwreng32.dll"), ReadBytes(work_ / "kwreng32.tmp")) << "this build's own engine";
    EXPECT_TRUE(enginesDownloaded_);
    EXPECT_EQ(3, engine_.build);
    EXPECT_EQ(10u, Requested().size()) << "each file and its signature";

    // No key installed: the same tree without its signatures, as before signing existed.
    ASSERT_TRUE(server_.Clear());
    for (const std::string& name : kPublishedFiles) Serve(name, Published(name));
    engine_ = EngineVersion{3, 0, 2};
    EXPECT_EQ(kNewerDefs | kNewerEngines, Run("6/21/2000"));
    EXPECT_EQ((std::vector<std::string>{"/Updates/tsigs.ini", "/Updates/tsigs.kws", "/Updates/psigs.kws",
                                        "/Updates/" + kOwnModules + "kwreng32.dl_",
                                        "/Updates/" + kOwnModules + "hyseng32.dl_"}),
              Requested())
        << "no signature asked for";

    // A key change under way: the installation carries both keys, the tree is signed with
    // the new one.
    ASSERT_TRUE(server_.Clear());
    for (const std::string& name : kPublishedFiles) {
        Serve(name, Published(name, "update_tree_other"));
        Serve(name + ".sig", Published(name + ".sig", "update_tree_other"));
    }
    const std::string bothKeys = work_ / "both.pub";
    ASSERT_TRUE(WriteText(bothKeys, ReadText(KeyFile("maker.pub")) + ReadText(KeyFile("other.pub"))));
    engine_ = EngineVersion{3, 0, 2};
    EXPECT_EQ(kNewerDefs | kNewerEngines, Run("6/21/2000", nullptr, bothKeys));
    EXPECT_EQ(std::vector<std::string>(3, LoadMessage(IDS_UPDATE_DOWNLOADED)), Shown());
}

// tools/publish wrote both editions' modules, each of its kind and each signed with the
// maker's key: this build's engines in this edition's place, the other kind's in the other's.
TEST(PublishedTree, HoldsBothEditionsModulesEachOfItsKindAndSigned) {
    std::optional<UpdateKey> key = UpdateKey::Load(KeyFile("maker.pub"));
    ASSERT_TRUE(key);
    for (std::uint16_t machine : {kMachineI386, kMachineAmd64}) {
        for (const char* module : {"kwreng32.dl_", "hyseng32.dl_"}) {
            const std::string name = EngineModuleFolder(machine) + std::string(module);
            SCOPED_TRACE(name);
            const std::string path = ModuleDirectory() + "\\update_tree\\Updates\\" + name;
            EXPECT_TRUE(IsUsableDownload(path, DownloadKind::EngineModule, machine));
            EXPECT_FALSE(IsUsableDownload(path, DownloadKind::EngineModule,
                                          machine == kMachineAmd64 ? kMachineI386 : kMachineAmd64));
            EXPECT_TRUE(key->Verifies(path, Published(name + ".sig")));
        }
    }
    EXPECT_EQ(Module("kwreng32.dll"), Published(kOwnModules + "kwreng32.dl_"));
    EXPECT_EQ(Module("hyseng32.dll"), Published(kOwnModules + "hyseng32.dl_"));
    EXPECT_EQ(OtherKindModule("kwreng32.dll"), Published(kOtherModules + "kwreng32.dl_"));
    EXPECT_EQ(OtherKindModule("hyseng32.dll"), Published(kOtherModules + "hyseng32.dl_"));
}

// A tree of 32-bit modules only (tools/publish --no-x64) serves the 32-bit edition as it
// always did; the 64-bit client takes its definitions from it but finds no modules of its
// own, and stages nothing.
TEST_F(UpdateClient, TreeWithoutX64ModulesServesThe32BitEditionOnly) {
    const char* tree = "update_tree_32";
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES,
              ::GetFileAttributesA((ModuleDirectory() + "\\" + tree + "\\Updates\\x64").c_str()));
    for (std::string name : {"tsigs.ini", "tsigs.kws", "psigs.kws", "kwreng32.dl_", "hyseng32.dl_"}) {
        Serve(name, Published(name, tree));
        Serve(name + ".sig", Published(name + ".sig", tree));
    }
    int result = Run("6/21/2000", nullptr, KeyFile("maker.pub"));
    EXPECT_EQ(Published("tsigs.kws", tree), ReadBytes(work_ / "tsigs.kws"));
    EXPECT_EQ(Published("psigs.kws", tree), ReadBytes(work_ / "psigs.kws"));
    if (kNativeMachine == kMachineI386) {
        EXPECT_EQ(kNewerDefs | kNewerEngines, result);
        EXPECT_EQ(Published("kwreng32.dl_", tree), ReadBytes(work_ / "kwreng32.tmp"));
        EXPECT_EQ(Published("hyseng32.dl_", tree), ReadBytes(work_ / "hyseng32.tmp"));
        EXPECT_TRUE(enginesDownloaded_);
        EXPECT_EQ(std::vector<std::string>{LoadMessage(IDS_UPDATE_DOWNLOADED)}, Shown());
    } else {
        EXPECT_EQ(kUpdateFailed, result);
        EXPECT_EQ((std::set<std::string>{"psigs.kws", "tsigs.kws"}), LocalFiles()) << "no 32-bit module staged";
        EXPECT_FALSE(enginesDownloaded_);
        EXPECT_EQ(2, engine_.build);
        EXPECT_EQ((std::vector<std::string>{"File not found on Server: /Updates/x64/kwreng32.dl_",
                                            "File not found on Server: /Updates/x64/hyseng32.dl_",
                                            LoadMessage(IDS_UPDATE_FAILED)}),
                  Shown());
    }
}

TEST_F(UpdateClient, WithTheKeyATamperedUnsignedOrForeignSignedFileReplacesNothing) {
    const std::vector<std::uint8_t> liveTrojanSigs = Signatures(30, 1), livePrivacySigs = Signatures(3, 2);
    ASSERT_TRUE(WriteBytes(work_ / "tsigs.kws", liveTrojanSigs));
    ASSERT_TRUE(WriteBytes(work_ / "psigs.kws", livePrivacySigs));
    for (const std::string& name : kPublishedFiles) {
        Serve(name, Published(name));
        Serve(name + ".sig", Published(name + ".sig"));
    }
    Serve("tsigs.kws.sig", Published("tsigs.kws.sig", "update_tree_other"));
    ASSERT_EQ(Published("tsigs.kws"), Published("tsigs.kws", "update_tree_other")) << "the same file";
    ASSERT_TRUE(::DeleteFileA((server_.Folder() + "\\www\\Updates\\psigs.kws.sig").c_str()));
    std::vector<std::uint8_t> tampered = Published(kOwnModules + "kwreng32.dl_");
    ASSERT_TRUE(IsPluginModuleImage(tampered.data(), tampered.size(), kNativeMachine));
    tampered[tampered.size() / 2] ^= 0x01;  // one bit of the code, still a module
    ASSERT_TRUE(IsPluginModuleImage(tampered.data(), tampered.size(), kNativeMachine));
    Serve(kOwnModules + "kwreng32.dl_", tampered);

    EXPECT_EQ(kUpdateFailed, Run("6/21/2000", nullptr, KeyFile("maker.pub")));
    EXPECT_EQ(liveTrojanSigs, ReadBytes(work_ / "tsigs.kws"));
    EXPECT_EQ(livePrivacySigs, ReadBytes(work_ / "psigs.kws"));
    EXPECT_EQ((std::set<std::string>{"hyseng32.tmp", "psigs.kws", "tsigs.kws"}), LocalFiles())
        << "only the module with a good signature is staged";
    EXPECT_FALSE(enginesDownloaded_);
    const std::string forged = "does not match the maker's key: the file is not the one the maker published. "
                               "It was not installed.";
    EXPECT_EQ((std::vector<std::string>{
                  "The signature of the file /Updates/tsigs.kws " + forged,
                  "The file /Updates/psigs.kws sent by the update server has no signature of the maker (.sig). "
                  "It was not installed.",
                  "The signature of the file /Updates/" + kOwnModules + "kwreng32.dl_ " + forged,
                  LoadMessage(IDS_UPDATE_FAILED)}),
              Shown());
}

TEST_F(UpdateClient, WithTheKeyAnUnsignedVersionFileOrAnUnreadableKeyEndsTheRun) {
    ServeVersion("1/1/2031", 3, 0, 3);
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000", nullptr, KeyFile("maker.pub")));
    EXPECT_EQ((std::vector<std::string>{"/Updates/tsigs.ini", "/Updates/tsigs.ini.sig"}), Requested());
    ASSERT_TRUE(WriteText(work_ / "updates.pub", "-----BEGIN PUBLIC KEY-----\nnot a key\n-----END PUBLIC KEY-----\n"));
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000", nullptr, work_ / "updates.pub"));
    EXPECT_EQ(2u, Requested().size()) << "nothing asked without a usable key";
    EXPECT_EQ((std::vector<std::string>{
                  "The file /Updates/tsigs.ini sent by the update server has no signature of the maker (.sig). "
                  "It was not installed.",
                  LoadMessage(IDS_UPDATE_FAILED),
                  "Tolvane cannot read the update key " + (work_ / "updates.pub") +
                      ". No update is installed without it; please reinstall Tolvane.",
                  LoadMessage(IDS_UPDATE_FAILED)}),
              Shown());
    EXPECT_EQ(std::set<std::string>{"updates.pub"}, LocalFiles());
}

TEST_F(UpdateClient, MissingOrCutFilesLeaveTheOldOnesAndNoEngineStaged) {
    ASSERT_TRUE(WriteBytes(work_ / "tsigs.kws", oldTrojanSigs_));
    ASSERT_TRUE(WriteBytes(work_ / "psigs.kws", oldPrivacySigs_));
    ServeVersion("1/1/2001", 3, 0, 3);
    Serve("psigs.kws", Signatures(400, 8), "cut");
    Serve(kOwnModules + "kwreng32.dl_", Module("kwreng32.dll"));
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000")) << "tsigs.kws is missing, psigs.kws is cut";
    EXPECT_EQ(oldTrojanSigs_, ReadBytes(work_ / "tsigs.kws"));
    EXPECT_EQ(oldPrivacySigs_, ReadBytes(work_ / "psigs.kws"));
    ServeVersion("6/21/2000", 3, 0, 3);
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000")) << "hyseng32.dl_ is missing";
    EXPECT_EQ((std::set<std::string>{"kwreng32.tmp", "psigs.kws", "tsigs.kws"}), LocalFiles());
    EXPECT_FALSE(enginesDownloaded_);
    EXPECT_EQ(2, engine_.build) << "the version stays until both modules are staged";
    EXPECT_EQ((std::vector<std::string>{"File not found on Server: /Updates/tsigs.kws", LoadMessage(IDS_UPDATE_FAILED),
                                        "File not found on Server: /Updates/" + kOwnModules + "hyseng32.dl_",
                                        LoadMessage(IDS_UPDATE_FAILED)}),
              Shown());
}

TEST_F(UpdateClient, StalledServerTimesOutAndLeavesTheOldFile) {
    ASSERT_TRUE(WriteBytes(work_ / "tsigs.kws", oldTrojanSigs_));
    ServeVersion("1/1/2001", 3, 0, 2);
    Serve("tsigs.kws", Signatures(500, 10), "stall");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(oldTrojanSigs_, ReadBytes(work_ / "tsigs.kws"));
    EXPECT_EQ(std::set<std::string>{"tsigs.kws"}, LocalFiles());
    EXPECT_EQ(std::vector<std::string>{LoadMessage(IDS_UPDATE_FAILED)}, Shown());
}

struct WindowSearch {
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    char text[64] = {};
    ::GetWindowTextA(window, text, sizeof text);
    if (std::string(text) == search->caption) search->found = window;
    return TRUE;
}

HWND FindProgressWindow(DWORD thread, const char* caption) {
    WindowSearch search{caption, nullptr};
    ::EnumThreadWindows(thread, MatchCaption, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

TEST_F(UpdateClient, CancelDuringADownloadKeepsTheOldFileAndFetchesNoMore) {
    ASSERT_TRUE(WriteBytes(work_ / "tsigs.kws", oldTrojanSigs_));
    ServeVersion("1/1/2001", 3, 0, 2);
    Serve("tsigs.kws", Signatures(5000, 11), "slow");
    Serve("psigs.kws", Signatures(60, 12));
    unique_hwnd owner(::CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr,
                                      nullptr, nullptr));
    std::atomic<bool> pressed{false}, ownerDisabled{false};
    DWORD uiThread = ::GetCurrentThreadId();
    std::thread user([&] {
        for (int i = 0; i < 400 && !pressed; ++i) {
            if (HWND progress = FindProgressWindow(uiThread, "Downloading tsigs.kws")) {
                ownerDisabled = !::IsWindowEnabled(owner.get());
                ::PostMessageA(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                               reinterpret_cast<LPARAM>(::GetDlgItem(progress, IDCANCEL)));
                pressed = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    });
    int result = Run("6/21/2000", owner.get());
    user.join();
    ASSERT_TRUE(pressed) << "the progress window never fetched tsigs.kws";
    EXPECT_EQ(kUpdateCanceled, result);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(::IsWindowEnabled(owner.get()));
    EXPECT_EQ(oldTrojanSigs_, ReadBytes(work_ / "tsigs.kws"));
    EXPECT_EQ(std::set<std::string>{"tsigs.kws"}, LocalFiles());
    EXPECT_EQ((std::vector<std::string>{"/Updates/tsigs.ini", "/Updates/tsigs.kws"}), Requested());
    EXPECT_EQ(std::vector<std::string>{LoadMessage(IDS_UPDATE_CANCELED)}, Shown());
}

TEST_F(UpdateClient, UnusableDatesOrVersionFileFailTheRun) {
    EXPECT_EQ(kUpdateFailed, Run("<Unknown>"));
    EXPECT_TRUE(Requested().empty()) << "a stored date that does not split: nothing to compare with";
    std::string noDefs = "[files]\r\nENGINE_VERSION_MAJ=" + std::string(3000, '9') + "\r\n";
    Serve("tsigs.ini", std::vector<std::uint8_t>(noDefs.begin(), noDefs.end()));
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000")) << "no defs";
    Serve("tsigs.ini", std::vector<std::uint8_t>(100, 0));
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000")) << "binary junk";
    ServeVersion("1/1/2001", 3, 0, 2);
    Serve("tsigs.ini.mode", {'n', 'o', 'l', 'e', 'n', 'g', 't', 'h'});
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000")) << "no Content-Length";
    EXPECT_EQ((std::vector<std::string>{LoadMessage(IDS_UPDATE_FAILED), LoadMessage(IDS_UPDATE_FAILED),
                                        LoadMessage(IDS_UPDATE_FAILED), LoadMessage(IDS_UPDATE_SERVER_UNREACHABLE),
                                        LoadMessage(IDS_UPDATE_FAILED)}),
              Shown());
    EXPECT_TRUE(LocalFiles().empty());
}

}  // namespace
