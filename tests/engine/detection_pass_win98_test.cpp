// The detection pass as Windows 98 runs it (Wine reports Windows 98 to this program):
// the process list comes from Toolhelp32 and the autostart keys are not examined.
#include "specimen_fixture.h"

using namespace tolvane;
using namespace tolvane::test;

using DetectionPass98Test = SpecimenEngineTest;

TEST_F(DetectionPass98Test, ProgramNamedOnlyInRunIsNotExamined) {
    ASSERT_NE(0u, ::GetVersion() & 0x80000000u) << "this program must see Windows 9x";
    std::string deep = Place("deepthroat_100000.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32", deep));
    long found = 0x5A5A;
    ASSERT_EQ(S_OK, engine_->DetectOrx(&found));
    EXPECT_EQ(0, found);
    EXPECT_TRUE(Rows().empty());

    // The same file handed over directly is still recognised.
    EXPECT_EQ(1u, Scan(deep));
    EXPECT_EQ(1u, Rows().size());
}
