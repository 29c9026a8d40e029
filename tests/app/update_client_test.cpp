// Whole update runs against the loopback HTTP server that CTest starts (update_server.py):
// what is fetched, where it lands, what the user is told, and what a failed, cut,
// stalled or cancelled download leaves behind.
#include "app_test_support.h"
#include "message_box.h"
#include "resource.h"
#include "test_support.h"
#include "unique_handle.h"
#include "update_client.h"
#include "update_version_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

using namespace tolvane;
using namespace tolvane::test;

namespace {

std::vector<std::uint8_t> Content(std::size_t size, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(first + i * 7);
    return bytes;
}

class UpdateClient : public ::testing::Test {
protected:
    void SetUp() override {
        const char* folder = std::getenv("TOLVANE_UPDATE_SERVER");
        ASSERT_NE(nullptr, folder) << "TOLVANE_UPDATE_SERVER names the loopback server's folder";
        // The server is a Unix process; Wine shows the root of Unix as drive Z:.
        server_ = std::string("Z:") + folder;
        std::replace(server_.begin(), server_.end(), '/', '\\');
        int port = std::atoi(ReadText(server_ + "\\port").c_str());
        ASSERT_GT(port, 0) << "no port in " << server_;
        RemoveTree(server_ + "\\www\\Updates");
        ASSERT_TRUE(::CreateDirectoryA((server_ + "\\www\\Updates").c_str(), nullptr));
        ::DeleteFileA((server_ + "\\requests").c_str());
        SetField(options_.FTPServer, ("http://127.0.0.1:" + std::to_string(port)).c_str());
        SetField(options_.Path, "/Updates/");
        previousDirectory_ = CurrentDirectory();
        ASSERT_TRUE(::SetCurrentDirectoryA(work_.path().c_str()));
    }
    void TearDown() override {
        ::SetCurrentDirectoryA(previousDirectory_.c_str());
        RemoveTree(server_ + "\\www\\Updates");
    }

    void Serve(const std::string& name, const std::vector<std::uint8_t>& bytes, const char* mode = nullptr) {
        ASSERT_TRUE(WriteBytes(server_ + "\\www\\Updates\\" + name, bytes));
        if (mode) {
            ASSERT_TRUE(WriteText(server_ + "\\www\\Updates\\" + name + ".mode", mode));
        }
    }
    void ServeVersion(const std::string& defs, int major, int minor, int build) {
        ASSERT_TRUE(WriteText(server_ + "\\www\\Updates\\tsigs.ini",
                              "[files]\r\ndefs=" + defs + "\r\nENGINE_VERSION_MAJ=" + std::to_string(major) +
                                  "\r\nENGINE_VERSION_MIN=" + std::to_string(minor) +
                                  "\r\nENGINE_VERSION_BLD=" + std::to_string(build) + "\r\n"));
    }
    // The files asked for, each once, in the order first asked.
    std::vector<std::string> Requested() {
        std::vector<std::string> names;
        std::string log = FileExists(server_ + "\\requests") ? ReadText(server_ + "\\requests") : "";
        for (std::size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
            std::string name = log.substr(at, end - at);
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
        return names;
    }
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
    int Run(const char* date, HWND owner = nullptr) {
        return RunUpdate(date, UpdateTarget{owner, options_, engine_, enginesDownloaded_, 2000});
    }

    std::string server_;
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
    std::vector<std::uint8_t> trojanSigs = Content(5000, 3);
    std::copy_n("404", 3, trojanSigs.begin() + 10);
    Serve("tsigs.kws", trojanSigs);
    Serve("psigs.kws", Content(1500, 4));
    EXPECT_EQ(kNewerDefs, Run("12/31/2000"));
    EXPECT_EQ(trojanSigs, ReadBytes(work_ / "tsigs.kws"));
    EXPECT_EQ(Content(1500, 4), ReadBytes(work_ / "psigs.kws"));
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

TEST_F(UpdateClient, NewerEngineIsStagedOnceAndTakesTheServersVersion) {
    ServeVersion("6/21/2000", 3, 1, 0);
    Serve("kwreng32.dl_", Content(9000, 6));
    Serve("hyseng32.dl_", Content(4000, 7));
    EXPECT_EQ(kNewerEngines, Run("6/21/2000"));
    EXPECT_EQ(Content(9000, 6), ReadBytes(work_ / "kwreng32.tmp"));
    EXPECT_EQ(Content(4000, 7), ReadBytes(work_ / "hyseng32.tmp"));
    EXPECT_TRUE(enginesDownloaded_);
    EXPECT_EQ(3, engine_.major);
    EXPECT_EQ(1, engine_.minor);
    EXPECT_EQ(0, engine_.build);
    EXPECT_EQ(kNothingNewer, Run("6/21/2000")) << "a second run finds the staged version current";
    EXPECT_EQ((std::vector<std::string>{"/Updates/tsigs.ini", "/Updates/kwreng32.dl_", "/Updates/hyseng32.dl_"}),
              Requested());
    EXPECT_EQ((std::vector<std::string>{LoadMessage(IDS_UPDATE_DOWNLOADED), LoadMessage(IDS_UPDATE_NOT_NEEDED)}),
              Shown());
}

TEST_F(UpdateClient, MissingOrCutFilesLeaveTheOldOnesAndNoEngineStaged) {
    ASSERT_TRUE(WriteBytes(work_ / "tsigs.kws", oldTrojanSigs_));
    ASSERT_TRUE(WriteBytes(work_ / "psigs.kws", oldPrivacySigs_));
    ServeVersion("1/1/2001", 3, 0, 3);
    Serve("psigs.kws", Content(3000, 8), "cut");
    Serve("kwreng32.dl_", Content(3000, 9));
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000")) << "tsigs.kws is missing, psigs.kws is cut";
    EXPECT_EQ(oldTrojanSigs_, ReadBytes(work_ / "tsigs.kws"));
    EXPECT_EQ(oldPrivacySigs_, ReadBytes(work_ / "psigs.kws"));
    ServeVersion("6/21/2000", 3, 0, 3);
    EXPECT_EQ(kUpdateFailed, Run("6/21/2000")) << "hyseng32.dl_ is missing";
    EXPECT_EQ((std::set<std::string>{"kwreng32.tmp", "psigs.kws", "tsigs.kws"}), LocalFiles());
    EXPECT_FALSE(enginesDownloaded_);
    EXPECT_EQ(2, engine_.build) << "the version stays until both modules are staged";
    EXPECT_EQ((std::vector<std::string>{"File not found on Server: /Updates/tsigs.kws", LoadMessage(IDS_UPDATE_FAILED),
                                        "File not found on Server: /Updates/hyseng32.dl_",
                                        LoadMessage(IDS_UPDATE_FAILED)}),
              Shown());
}

TEST_F(UpdateClient, StalledServerTimesOutAndLeavesTheOldFile) {
    ASSERT_TRUE(WriteBytes(work_ / "tsigs.kws", oldTrojanSigs_));
    ServeVersion("1/1/2001", 3, 0, 2);
    Serve("tsigs.kws", Content(4000, 10), "stall");
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
    Serve("tsigs.kws", Content(40000, 11), "slow");
    Serve("psigs.kws", Content(500, 12));
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
    EXPECT_TRUE(Requested().empty()) << "nothing to compare with, so nothing asked";
    ASSERT_TRUE(WriteText(server_ + "\\www\\Updates\\tsigs.ini",
                          "[files]\r\nENGINE_VERSION_MAJ=" + std::string(3000, '9') + "\r\n"));
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
