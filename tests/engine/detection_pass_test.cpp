// Detection and removal passes end to end: running specimens and Run values in the
// prefix, found by DetectOrx, listed by ProcessList, removed by RemoveOrx, and the log
// of the run byte for byte.
#include "log_texts.h"
#include "specimen_fixture.h"

#include <cstring>

using namespace tolvane;
using namespace tolvane::test;

namespace {

std::string ReportRow(const std::string& type, const std::string& entry, const std::string& path) {
    return std::string(log_text::kRowPrefix) + "\r\n" + type + "\t\t" + entry + "\t\t" + path;
}

class DetectionPassTest : public SpecimenEngineTest {
protected:
    // A run with logging on, its log starting empty.
    void OpenLoggedRun() {
        ASSERT_EQ(S_OK, engine_->Close());
        ASSERT_TRUE(WriteText(LogPath(), ""));
        ASSERT_EQ(S_OK, engine_->Init(1, 1));
    }
    std::string LogPath() const { return folder_ + "\\work\\Tolvane.log"; }
    // The log of the run after its start line.
    std::string LogAfterStart() {
        std::string log = ReadText(LogPath());
        const std::string tail = OnDisk(log_text::kStartTail);
        std::size_t start = log.find(tail);
        if (start == std::string::npos) return "<no start line>" + log;
        return log.substr(start + tail.size());
    }
    long Detect() {
        long found = 0x5A5A;
        EXPECT_EQ(S_OK, engine_->DetectOrx(&found));
        return found;
    }
    DWORD ExitCode(std::size_t index) {
        ::WaitForSingleObject(processes_.at(index).hProcess, 5000);
        DWORD code = 0;
        ::GetExitCodeProcess(processes_.at(index).hProcess, &code);
        return code;
    }
};

}  // namespace

TEST_F(DetectionPassTest, RunningSpecimenNamedInRunIsFoundListedRemovedAndLogged) {
    std::string path = Place("netbus_350000.exe");
    auto original = ReadBytes(path);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvNetBus", path + " /nomsg"));
    Start(path);
    OpenLoggedRun();

    EXPECT_EQ(1, Detect());
    ASSERT_EQ(std::vector<std::string>{Row("NetBus", path, "TvNetBus")}, Rows());
    EXPECT_EQ(Rows(), Rows()) << "reading the list changes nothing";

    long removed = 0;
    ASSERT_EQ(S_OK, engine_->RemoveOrx(&removed));
    EXPECT_EQ(1, removed);
    EXPECT_EQ(0xFFFFFFFFu, ExitCode(0)) << "ended through ExitProcess(0xFFFFFFFF)";
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvNetBus"));

    auto quarantine = ReadBytes(Quarantined("netbus_350000.exe.KWR"));
    ASSERT_EQ(260 + original.size(), quarantine.size());
    EXPECT_EQ(path, std::string(reinterpret_cast<const char*>(quarantine.data())));
    bool scrambled = true;
    for (std::size_t i = 0; i < original.size(); ++i) scrambled &= quarantine[260 + i] == (original[i] ^ 0x5B);
    EXPECT_TRUE(scrambled) << "content is stored XOR 0x5B";

    ASSERT_EQ(S_OK, engine_->Close());
    std::string expected =
        OnDisk(std::string(log_text::kDetectionBanner) + log_text::kFound + log_text::kColumnHeads +
               ReportRow("NetBus", "TvNetBus", path) + log_text::kRemovalBanner + log_text::kRemoved1 +
               log_text::kRemoved2 + log_text::kRemoved3 + log_text::kEndLine);
    EXPECT_EQ(expected, LogAfterStart());
}

TEST_F(DetectionPassTest, TwoFindingsAreReportedNewestFirstAndProcessesOfOneFileCountOnce) {
    std::string netbus = Place("netbus_350000.exe");
    std::string deep = Place("deepthroat_100000.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvNetBus", netbus));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32", deep));
    Start(netbus);
    Start(netbus, false);
    Start(deep);
    OpenLoggedRun();
    std::vector<std::string> listed;
    ASSERT_TRUE(ProcessInspector().ListProcessPaths(listed));
    auto position = [&listed](const std::string& path) {
        for (std::size_t i = 0; i < listed.size(); ++i)
            if (::lstrcmpiA(listed[i].c_str(), path.c_str()) == 0) return i;
        return std::string::npos;
    };
    const std::size_t netbusAt = position(netbus), deepAt = position(deep);
    ASSERT_NE(std::string::npos, netbusAt);
    ASSERT_NE(std::string::npos, deepAt);
    EXPECT_EQ(1, Detect());
    auto rows = Rows();
    ASSERT_EQ(2u, rows.size()) << "two processes of one file make one finding";
    EXPECT_EQ(1, Detect()) << "a second pass keeps the findings";
    EXPECT_EQ(rows, Rows());
    ASSERT_EQ(S_OK, engine_->Close());

    // Whichever the system listed first is the older detection, so it comes second, in
    // the list and in the report.
    auto type = [](const std::string& row) { return row.substr(0, row.find(kSep)); };
    EXPECT_EQ(netbusAt < deepAt ? "DeepThroat" : "NetBus", type(rows[0]));
    std::string report = LogAfterStart();
    std::size_t first = report.find("\r\r\n" + type(rows[0]) + "\t\t");
    std::size_t second = report.find("\r\r\n" + type(rows[1]) + "\t\t");
    ASSERT_NE(std::string::npos, first) << report;
    ASSERT_NE(std::string::npos, second) << report;
    EXPECT_LT(first, second) << report;
}

TEST_F(DetectionPassTest, ProgramNamedOnlyInRunIsFoundButCannotBeRemoved) {
    std::string deep = Place("deepthroat_100000.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32", deep));
    OpenLoggedRun();
    EXPECT_EQ(1, Detect()) << "found through the autostart scan";
    ASSERT_EQ(std::vector<std::string>{Row("DeepThroat", deep, "SystemDLL32")}, Rows());

    long removed = 0x5A5A;
    EXPECT_EQ(S_FALSE, engine_->RemoveOrx(&removed)) << "no process to stop";
    EXPECT_EQ(0, removed);
    EXPECT_TRUE(FileExists(deep));
    ASSERT_EQ(S_OK, engine_->Close());
    std::string report = LogAfterStart();
    std::string tail = OnDisk(std::string(log_text::kRemovalBanner) + log_text::kEndLine);
    ASSERT_GE(report.size(), tail.size());
    EXPECT_EQ(tail, report.substr(report.size() - tail.size())) << "nothing after the banner";
}

TEST_F(DetectionPassTest, RemovalStopsAtTheFirstDetectorThatFails) {
    std::string first = Place("netbus_350000.exe");       // scanned first: oldest, removed last
    std::string middle = Place("deepthroat_100000.exe");  // not running: cannot be removed
    std::string last = Place("subseven.exe");             // newest: removed first
    Start(first);
    Start(last);
    Scan(first);
    Scan(middle);
    Scan(last);
    ASSERT_EQ(3u, Rows().size());
    long removed = 0x5A5A;
    EXPECT_EQ(S_FALSE, engine_->RemoveOrx(&removed));
    EXPECT_EQ(0, removed);
    EXPECT_TRUE(Ended(1)) << "the newest was removed";
    EXPECT_FALSE(FileExists(last));
    EXPECT_FALSE(Ended(0)) << "the oldest was never reached";
    EXPECT_TRUE(FileExists(first));
    EXPECT_EQ(3u, Rows().size()) << "detectors stay listed after a removal pass";
}

TEST_F(DetectionPassTest, ScanFileOfAListedFileInOtherCaseAddsNothing) {
    std::string path = Place("netbus_350000.exe");
    EXPECT_EQ(1u, Scan(path));
    ASSERT_EQ(1u, Rows().size());
    std::string upper = path;
    for (auto& c : upper) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
    unique_bstr name(::SysAllocString(std::wstring(upper.begin(), upper.end()).c_str()));
    unsigned long code = 0xDEADBEEF;
    EXPECT_EQ(S_OK, engine_->ScanFile(name.get(), &code));
    EXPECT_EQ(0xDEADBEEFu, code) << "not written for a file already reported";
    EXPECT_EQ(1u, Rows().size());
}

TEST_F(DetectionPassTest, LongPathIsCutInTheRowButWholeInTheReport) {
    std::string folder;
    for (int i = 0; i < 6; ++i) {
        folder += (i ? "\\" : "") + std::string(24, static_cast<char>('a' + i));
        ::CreateDirectoryA((folder_ + "\\" + folder).c_str(), nullptr);
    }
    std::string path = Place("netbus_350000.exe", folder);
    ASSERT_GE(path.size(), 180u);
    OpenLoggedRun();
    Scan(path);
    // NetBus names no entry when no autostart value starts it.
    ASSERT_EQ(std::vector<std::string>{Row("NetBus", path.substr(0, 130), "")}, Rows());
    long found = 0;
    ASSERT_EQ(S_OK, engine_->DetectOrx(&found));
    ASSERT_EQ(S_OK, engine_->Close());
    EXPECT_NE(std::string::npos, LogAfterStart().find(OnDisk(ReportRow("NetBus", "", path))));
}

TEST_F(DetectionPassTest, ShellExtensionModeFindsNothing) {
    std::string path = Place("netbus_350000.exe");
    Start(path);
    unsigned long code = 0xDEADBEEF;
    ASSERT_EQ(S_OK, engine_->InitShellExtension(&code));
    EXPECT_EQ(1u, Scan(path));
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(0, Detect()) << "the mode holds for the passes too";
}
