// The detection pass as Windows 98 runs it (Wine reports Windows 98 to this program):
// the process list comes from Toolhelp32 and the autostart keys are not examined.
#include "specimen_fixture.h"
#include "text_compare.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

constexpr char kNetBus[] = "netbus_350000.exe";

// The Toolhelp entry of a running `name`, once the system lists it: Windows 98 gives
// the full path, Wine the file name alone.
std::string ListedEntry(const std::string& name) {
    ProcessInspector inspector;
    for (int i = 0; i < 200; ++i) {
        std::vector<std::string> listed;
        inspector.ListProcessPaths(listed);
        for (const auto& entry : listed) {
            std::size_t cut = entry.find_last_of('\\');
            if (EqualIgnoringCase(cut == std::string::npos ? entry : entry.substr(cut + 1), name)) return entry;
        }
        ::Sleep(50);
    }
    return "<not listed>";
}

}  // namespace

using DetectionPass98Test = SpecimenEngineTest;

TEST_F(DetectionPass98Test, RunningSpecimenIsFoundButProgramNamedOnlyInRunIsNot) {
    ASSERT_NE(0u, ::GetVersion() & 0x80000000u) << "this program must see Windows 9x";
    // The engine opens each file as the list names it, so where the list holds only a
    // file name the specimen runs from the engine's current folder.
    std::string netbus = Place(kNetBus, "work");
    std::string deep = Place("deepthroat_100000.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32", deep));
    Start(netbus, false);
    const std::string listed = ListedEntry(kNetBus);

    long found = 0x5A5A;
    ASSERT_EQ(S_OK, engine_->DetectOrx(&found));
    EXPECT_EQ(1, found);
    auto rows = Rows();
    ASSERT_EQ(1u, rows.size()) << "the running one only";
    EXPECT_TRUE(StartsWithIgnoringCase(rows[0], Row("NetBus", listed, ""))) << rows[0];
    EXPECT_EQ(nullptr, ::GetModuleHandleA("psapi.dll")) << "the Windows NT process list was used";

    // The file named in Run, handed over directly, is still recognised.
    EXPECT_EQ(1u, Scan(deep));
    EXPECT_EQ(2u, Rows().size());
}
