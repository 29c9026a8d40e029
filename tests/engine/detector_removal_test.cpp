// Each trojan family found and removed through the ScanEngine object of kwreng32.dll,
// with the harmless specimens as the trojans: the file check and CreateDetector decide,
// the running specimen is stopped, its files quarantined and its autostart entries
// (Run, RunServices, the exefile open command, WIN.INI and system.ini) undone.
#include "specimen_fixture.h"

using namespace tolvane;
using namespace tolvane::test;

using DetectorRemovalTest = SpecimenEngineTest;


TEST_F(DetectorRemovalTest, BackOrificeBlockAt124888NamesInstallFileAndRunServicesValue) {
    std::string path = Place("bo_config_124888.exe");
    PlaceOutside(SystemDir() + "\\tvbo_inst.exe");
    PlaceOutside(SystemDir() + "\\windll.dll");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "TvBoConfigured", path));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "Other", "C:\\other.exe"));
    Start(path);
    EXPECT_EQ(1u, Scan(path));
    ASSERT_EQ(std::vector<std::string>{Row("Back Orifice", path, "TvBoConfigured")}, Rows());
    RemoveAll();
    EXPECT_TRUE(Ended(0));
    ExpectQuarantined("bo_config_124888.exe.KWR", path);
    ExpectQuarantined("tvbo_inst.exe.KWR", SystemDir() + "\\tvbo_inst.exe");
    ExpectQuarantined("windll.dll.KWR", SystemDir() + "\\windll.dll");
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "TvBoConfigured"));
    EXPECT_EQ("C:\\other.exe", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "Other"));
}

TEST_F(DetectorRemovalTest, BackOrificeBlockAt77436WithADriveInTheInstallName) {
    std::string path = Place("bo_config_77436.exe");
    PlaceOutside("C:\\tvbo_drive.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "C:\\tvbo_drive.exe", "C:\\tvbo_drive.exe"));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("Back Orifice", path, "C:\\tvbo_drive.exe")}, Rows());
    RemoveAll();
    ExpectQuarantined("bo_config_77436.exe.KWR", path);
    ExpectQuarantined("tvbo_drive.exe.KWR", "C:\\tvbo_drive.exe");
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "C:\\tvbo_drive.exe"));
}

TEST_F(DetectorRemovalTest, BackOrificeWithBuiltInSettingsAndASpaceNameUsesTheDefaultValue) {
    std::string path = Place(" .exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, nullptr, path));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("Back Orifice", path, "<Default>")}, Rows());
    RemoveAll();
    ExpectQuarantined("BACKORIFICE.KWR", path);
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, nullptr));
}

TEST_F(DetectorRemovalTest, BackOrificeNeedsSixtyThousandBytesAndAProcessToRemove) {
    std::string shortOne = Place("bo_59999.exe");
    EXPECT_EQ(1u, Scan(shortOne));
    EXPECT_TRUE(Rows().empty()) << "59999 bytes is clean";
    std::string path = Place("bo_60000.exe");
    EXPECT_EQ(1u, Scan(path));
    ASSERT_EQ(std::vector<std::string>{Row("Back Orifice", path, "<Default>")}, Rows());

    long removed = 0x5A5A;
    EXPECT_EQ(S_FALSE, engine_->RemoveOrx(&removed)) << "no process to stop";
    EXPECT_EQ(0, removed);
    EXPECT_TRUE(FileExists(path));
}

TEST_F(DetectorRemovalTest, FilesShorterThanTheFingerprintAreNeverReported) {
    auto bytes = ReadBytes(ModuleDirectory() + "\\specimens\\bo2k.exe");
    bytes.resize(499);
    std::string path = folder_ + "\\short.exe";
    ASSERT_TRUE(WriteBytes(path, bytes));
    EXPECT_EQ(1u, Scan(path));
    EXPECT_TRUE(Rows().empty());
}

TEST_F(DetectorRemovalTest, NetBusTakesItsWindowsCopyKeyHookAndTheValueFound) {
    EXPECT_EQ(1u, Scan(Place("netbus_349999.exe")));
    EXPECT_TRUE(Rows().empty()) << "349999 bytes is clean";
    std::string path = Place("netbus_350000.exe");
    std::string copy = WindowsDir() + "\\netbus_350000.exe";
    PlaceOutside(copy);
    PlaceOutside(WindowsDir() + "\\KeyHook.dll");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvNetBus", path + " /nomsg"));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("NetBus", path, "TvNetBus")}, Rows());
    RemoveAll();
    EXPECT_FALSE(FileExists(path));
    ExpectQuarantined("netbus_350000.exe.KWR", copy);  // the later of the two of that name
    ExpectQuarantined("KeyHook.dll.KWR", WindowsDir() + "\\KeyHook.dll");
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvNetBus"));
}

TEST_F(DetectorRemovalTest, DeepThroatDeletesSystemDll32AndQuarantinesSystemio) {
    EXPECT_EQ(1u, Scan(Place("deepthroat_99999.exe")));
    EXPECT_TRUE(Rows().empty()) << "99999 bytes is clean";
    std::string path = Place("deepthroat_100000.exe");
    PlaceOutside(SystemDir() + "\\systemio.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32", path));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("DeepThroat", path, "SystemDLL32")}, Rows());
    RemoveAll();
    ExpectQuarantined("deepthroat_100000.exe.KWR", path);
    ExpectQuarantined("systemio.exe.KWR", SystemDir() + "\\systemio.exe");
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32"));
}

TEST_F(DetectorRemovalTest, DeepThroatPosingAsTheTrayGivesTheTrayValueBack) {
    std::string path = Place("deepthroat_systray.exe", "SysTray");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "Systemtray", path));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("DeepThroat", path, "Systemtray")}, Rows());
    RemoveAll();
    ExpectQuarantined("deepthroat_systray.exe.KWR", path);
    EXPECT_EQ(SystemDir() + "\\systray.exe", ReadString(HKEY_LOCAL_MACHINE, kRun, "Systemtray"));
}

TEST_F(DetectorRemovalTest, SkSilencerAndHackAttackLoseTheValuesTheLookupFound) {
    std::string silencer = Place("sksilencer.exe");
    std::string hack = Place("hackattack.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvSilencer", silencer));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "TvHack", hack));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "Keep", "C:\\keep.exe"));
    Start(silencer);
    Start(hack);
    Scan(silencer);
    Scan(hack);
    ASSERT_EQ((std::vector<std::string>{Row("HackAttack", hack, "TvHack"), Row("SkSilencer", silencer, "TvSilencer")}),
              Rows())
        << "newest first";
    RemoveAll();
    EXPECT_TRUE(Ended(0));
    EXPECT_TRUE(Ended(1));
    ExpectQuarantined("sksilencer.exe.KWR", silencer);
    ExpectQuarantined("hackattack.exe.KWR", hack);
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvSilencer"));
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "TvHack"));
    EXPECT_EQ("C:\\keep.exe", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "Keep"));
}

TEST_F(DetectorRemovalTest, PrettyParkResetsTheOpenCommandOfPrograms) {
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr, "C:\\pp.exe \"%1\" %*"));
    std::string path = Place("prettypark.exe");
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("PrettyPark", path, "exefile\\shell\\open\\command")}, Rows());
    RemoveAll();
    ExpectQuarantined("prettypark.exe.KWR", path);
    EXPECT_EQ("\"%1\" %*", ReadString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr));
}

TEST_F(DetectorRemovalTest, SubSevenWithoutAValueCleansTheIniLinesAndTheOpenCommand) {
    load_.Write("subseven.exe notepad.exe");
    runLine_.Write("SUBSEVEN.EXE,x");
    shell_.Write("Explorer.exe subseven.exe");
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr, "C:\\s7.exe %1"));
    std::string path = Place("subseven.exe");
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("SubSeven", path, "None")}, Rows());
    RemoveAll();
    ExpectQuarantined("subseven.exe.KWR", path);
    EXPECT_EQ("notepad.exe", load_.Trimmed());
    EXPECT_EQ("", runLine_.Read());
    EXPECT_EQ("Explorer.exe", shell_.Trimmed());
    EXPECT_EQ("\"%1\" %*", ReadString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr));
}

TEST_F(DetectorRemovalTest, SubSevenResetsAnOpenCommandPaddedPastTheReadBuffer) {
    std::string hijack = "C:\\s7.exe" + std::string(300, ' ') + "\"%1\" %*";
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr, hijack));
    std::string path = Place("subseven.exe");
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("SubSeven", path, "None")}, Rows());
    RemoveAll();
    EXPECT_EQ("\"%1\" %*", ReadString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr));
}

TEST_F(DetectorRemovalTest, SubSevenWithAValueLeavesTheIniLines) {
    load_.Write("subseven.exe");
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr, "\"%1\" %* tail"));
    std::string path = Place("subseven.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvSub7", path));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("SubSeven", path, "TvSub7")}, Rows());
    RemoveAll();
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvSub7"));
    EXPECT_EQ("subseven.exe", load_.Read());
    EXPECT_EQ("\"%1\" %* tail", ReadString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr))
        << "a command that begins right is left alone";
}

TEST_F(DetectorRemovalTest, AttackFtpRemovesReminderAndItsDropperAndThenShowsTheDropper) {
    std::string path = Place("attackftp.exe");
    std::string dropper = SystemDir() + "\\wscan.exe";
    PlaceOutside(dropper);
    PlaceOutside(WindowsDir() + "\\wver.dll");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "Reminder", "C:\\whatever.exe"));
    load_.Write("wscan.exe");
    shell_.Write("Explorer.exe WSCAN.EXE attackftp.exe");
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("AttackFTP", path, "Reminder")}, Rows());
    RemoveAll();
    ExpectQuarantined("attackftp.exe.KWR", path);
    ExpectQuarantined("wscan.exe.KWR", dropper);
    ExpectQuarantined("wver.dll.KWR", WindowsDir() + "\\wver.dll");
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "Reminder"));
    EXPECT_EQ("", load_.Read());
    EXPECT_EQ("Explorer.exe attackftp.exe", shell_.Trimmed()) << "only the dropper's tokens go";
    EXPECT_EQ(std::vector<std::string>{Row("AttackFTP", dropper, "Reminder")}, Rows());
}

TEST_F(DetectorRemovalTest, Bo2kStandInsAreReportedOnlyWithAPluginsSection) {
    for (const char* clean : {"setupdm_plain.exe", "sockets_plain.exe"}) EXPECT_EQ(1u, Scan(Place(clean)));
    EXPECT_TRUE(Rows().empty()) << "types 3 and 5 without .plugins are clean";
    std::string masters = Place("masters_plugins.exe");
    std::string unlisted = Place("unlisted_plugins.exe");
    std::string setup = Place("setupdm_plugins.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "TvSetup", setup));
    Start(setup);
    for (const auto& path : {masters, unlisted, setup}) EXPECT_EQ(1u, Scan(path));
    ASSERT_EQ((std::vector<std::string>{Row("Bo2k", setup, "TvSetup"), Row("Bo2k", unlisted, "None"),
                                        Row("Bo2k", masters, "None")}),
              Rows());
    // The running one first; the others have no process and end with the file-in-use note.
    MessageBoxCatcher catcher;
    RemoveAll();
    EXPECT_EQ(2u, catcher.Texts().size());
    ExpectQuarantined("setupdm_plugins.exe.KWR", setup);
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "TvSetup"));
    EXPECT_TRUE(FileExists(masters)) << "a file without a process stays";
}

TEST_F(DetectorRemovalTest, PluginsSectionIsReadWithoutLoadingTheModule) {
    ::SetEnvironmentVariableA("TOLVANE_SPECIMEN_LOADED", nullptr);
    std::string probe = Place("plugins_probe.dll");
    EXPECT_EQ(1u, Scan(probe));
    EXPECT_EQ(std::vector<std::string>{Row("Bo2k", probe, "None")}, Rows()) << "no signature entry, a .plugins section";
    char loaded[8] = "";
    EXPECT_EQ(0u, ::GetEnvironmentVariableA("TOLVANE_SPECIMEN_LOADED", loaded, sizeof loaded))
        << "the module's entry point ran: " << loaded;

    // The probe itself reports when it is loaded, so the test above can fail.
    unique_hmodule module(::LoadLibraryA(probe.c_str()));
    ASSERT_TRUE(module);
    EXPECT_NE(0u, ::GetEnvironmentVariableA("TOLVANE_SPECIMEN_LOADED", loaded, sizeof loaded));
    ::SetEnvironmentVariableA("TOLVANE_SPECIMEN_LOADED", nullptr);
}

TEST_F(DetectorRemovalTest, Bo2kWithoutProcessShowsTheShortPathAndStillRemovesTheValue) {
    std::string path = Place("bo2k.exe", "Long Folder Name");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "TvBo2k", path));
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("Bo2k", path, "TvBo2k")}, Rows());
    char shortPath[MAX_PATH];
    ASSERT_GT(::GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath), 0u);
    ASSERT_NE(path, shortPath);
    MessageBoxCatcher catcher;
    RemoveAll();
    EXPECT_EQ(std::vector<std::string>{FileInUseMessage(shortPath)}, catcher.Texts());
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "TvBo2k"));
    EXPECT_TRUE(FileExists(path));
}

// 64-bit Windows: a trojan's value may sit in the registry view that is not the engine's
// own (a 32-bit trojan's for the 64-bit edition, a 64-bit one's under WOW64). It is found
// and removed there, and only there.
TEST_F(DetectorRemovalTest, OtherViewsRunValueIsRemovedThereAndSameNamedValuesOfOtherProgramsStay) {
    TOLVANE_NEEDS_WINDOWS64();
    const REGSAM other = OtherRegistryView();
    std::string silencer = Place("sksilencer.exe");
    std::string hack = Place("hackattack.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvSilencer", silencer, other));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvSilencer", "C:\\keep_own.exe"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvHack", hack));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvHack", "C:\\keep_other.exe", other));
    Start(silencer);
    Start(hack);
    Scan(silencer);
    Scan(hack);
    ASSERT_EQ((std::vector<std::string>{Row("HackAttack", hack, "TvHack"), Row("SkSilencer", silencer, "TvSilencer")}),
              Rows());
    RemoveAll();
    EXPECT_TRUE(Ended(0));
    EXPECT_TRUE(Ended(1));
    ExpectQuarantined("sksilencer.exe.KWR", silencer);
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvSilencer", other));
    EXPECT_EQ("C:\\keep_own.exe", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvSilencer"));
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvHack"));
    EXPECT_EQ("C:\\keep_other.exe", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvHack", other));
}

TEST_F(DetectorRemovalTest, OtherViewAndOwnViewValuesOfOneTrojanAreEachRemovedInTheirView) {
    TOLVANE_NEEDS_WINDOWS64();
    const REGSAM other = OtherRegistryView();
    std::string path = Place("subseven.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvSub7", path));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "TvSub7Service", path + " -hidden", other));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "Keep", "C:\\keep.exe", other));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("SubSeven", path, "TvSub7")}, Rows()) << "the own view's value is shown";
    RemoveAll();
    EXPECT_TRUE(Ended(0));
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvSub7"));
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "TvSub7Service", other));
    EXPECT_EQ("C:\\keep.exe", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "Keep", other));
}

// A value the family writes under a fixed name goes from every view: a 32-bit DeepThroat
// on 64-bit Windows writes SystemDLL32 into the 32-bit view, and the 64-bit edition, which
// found the trojan as a running process, must still clean it.
TEST_F(DetectorRemovalTest, FixedNameValueIsDeletedInTheOtherViewToo) {
    TOLVANE_NEEDS_WINDOWS64();
    const REGSAM other = OtherRegistryView();
    std::string path = Place("deepthroat_100000.exe");
    PlaceOutside(SystemDir() + "\\systemio.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32", path, other));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "Keep", "C:\\keep.exe", other));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("DeepThroat", path, "SystemDLL32")}, Rows());
    RemoveAll();
    EXPECT_TRUE(Ended(0));
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32", other));
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32"));
    EXPECT_EQ("C:\\keep.exe", ReadString(HKEY_LOCAL_MACHINE, kRun, "Keep", other));
}

TEST_F(DetectorRemovalTest, OtherViewsRunIsReadByTheAutostartScan) {
    TOLVANE_NEEDS_WINDOWS64();
    std::string silencer = Place("sksilencer.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvSilencer", silencer, OtherRegistryView()));
    long found = 0x5A5A;
    ASSERT_EQ(S_OK, engine_->DetectOrx(&found));
    EXPECT_EQ(1, found) << "the program named only in the other view was not found";
    EXPECT_EQ(std::vector<std::string>{Row("SkSilencer", silencer, "TvSilencer")}, Rows());
}
