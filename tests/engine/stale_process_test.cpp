// A detector's removal with a process id that no longer belongs to the trojan. Apart from
// the other removal tests: the family classes' names would clash with the fixture's there.
#include "detectors/family_detectors.h"
#include "specimen_fixture.h"

using namespace tolvane;

using StaleProcessTest = test::SpecimenEngineTest;

TEST_F(StaleProcessTest, RemovalLeavesAProgramThatTookOverTheTrojansProcessId) {
    std::string bystander = Place("attackftp.exe", "", "bystander.exe");
    std::string trojan = Place("deepthroat_100000.exe");
    Start(bystander);
    // The trojan's process ended after the scan and the system gave its id to another program.
    DeepThroatDetector detector(trojan.c_str(), processes_.at(0).dwProcessId, 4);
    EXPECT_FALSE(detector.Remove());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), detector.GetErrorCode());
    EXPECT_FALSE(Ended(0)) << "an unrelated program was stopped";
    EXPECT_TRUE(test::FileExists(trojan));
}
