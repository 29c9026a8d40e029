// "c:\kwrinfo.bin" as a support contact reads it: settings, engine version and which of
// the three COM classes can be created, at their fixed offsets.
#include "maintenance/diagnostic_dump.h"
#include "plugin_module.h"
#include "registry_support.h"
#include "settings/settings_store.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace tolvane;
using namespace tolvane::test;

namespace {

const std::string kTemporary = std::string(kDiagnosticFile) + ".tmp";

std::int32_t At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::int32_t value = 0x5A5A5A5A;
    if (offset + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

class DiagnosticFile : public ::testing::Test {
protected:
    void SetUp() override {
        if (FileExists(kDiagnosticFile)) previous_ = ReadBytes(kDiagnosticFile);
        ASSERT_TRUE(scanModule_.Loaded() && privacyModule_.Loaded());
        ASSERT_EQ(S_OK, scanModule_.Call("DllRegisterServer"));
        ASSERT_EQ(S_OK, privacyModule_.Call("DllUnregisterServer"));
    }
    void TearDown() override {
        scanModule_.Call("DllUnregisterServer");
        privacyModule_.Call("DllUnregisterServer");
        ::DeleteFileA(kDiagnosticFile);
        if (!previous_.empty()) WriteBytes(kDiagnosticFile, previous_);
    }

    std::vector<std::uint8_t> Dump() {
        EXPECT_TRUE(DiagnosticDump()) << "GetLastError " << ::GetLastError();
        EXPECT_FALSE(FileExists(kTemporary));
        return ReadBytes(kDiagnosticFile);
    }

    ScopedProductKey productKey_;
    PluginModule scanModule_{"kwreng32.dll"};
    PluginModule privacyModule_{"hyseng32.dll"};
    std::vector<std::uint8_t> previous_;
};

TEST_F(DiagnosticFile, RecordsWhichEnginesCanBeCreated) {
    std::vector<std::uint8_t> bytes = Dump();
    ASSERT_EQ(2776u, bytes.size());
    EXPECT_EQ(1, At(bytes, 2752)) << "ScanEngine";
    EXPECT_EQ(1, At(bytes, 2756)) << "Email";
    EXPECT_EQ(0, At(bytes, 2760)) << "PrivacyEngine, not registered";
    EXPECT_EQ(S_OK, At(bytes, 2764));
    EXPECT_EQ(S_OK, At(bytes, 2768));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, At(bytes, 2772)) << std::hex << At(bytes, 2772);

    ASSERT_EQ(S_OK, privacyModule_.Call("DllRegisterServer"));
    bytes = Dump();
    EXPECT_EQ(1, At(bytes, 2760));
    EXPECT_EQ(S_OK, At(bytes, 2772));
}

TEST_F(DiagnosticFile, CarriesTheStoredSettingsAndZerosWhereNoneAreStored) {
    std::vector<std::uint8_t> bytes = Dump();
    ASSERT_EQ(2776u, bytes.size());
    EXPECT_EQ(std::vector<std::uint8_t>(2752, 0), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 2752));

    AppSettings settings = DefaultAppSettings();
    SetField(settings.MailTo, "ops@example.org");
    settings.ScanInterval = 120000;
    SaveSettings(settings);
    SaveEngineVersion(EngineVersion{4, 1, 7});
    bytes = Dump();
    ASSERT_EQ(2776u, bytes.size());
    EXPECT_EQ(1, At(bytes, 0)) << "AutoScan";
    EXPECT_STREQ("ops@example.org", reinterpret_cast<const char*>(bytes.data() + 28));
    EXPECT_EQ(120000, At(bytes, 1312));
    EXPECT_STREQ("http://www.example.com", reinterpret_cast<const char*>(bytes.data() + 1320));
    EXPECT_EQ(4, At(bytes, 2224));
    EXPECT_EQ(1, At(bytes, 2228));
    EXPECT_EQ(7, At(bytes, 2232));
    EXPECT_EQ(std::vector<std::uint8_t>(516, 0), std::vector<std::uint8_t>(bytes.begin() + 2236, bytes.begin() + 2752));
    // The same file from either edition: nothing in it depends on the width of a pointer.
    ExpectSameAsEditionFixture("kwrinfo.bin", bytes);
}

TEST_F(DiagnosticFile, FailsWithoutLeavingAPartialFile) {
    ::DeleteFileA(kDiagnosticFile);
    ASSERT_TRUE(::CreateDirectoryA(kDiagnosticFile, nullptr));
    EXPECT_FALSE(DiagnosticDump());
    ::RemoveDirectoryA(kDiagnosticFile);
    EXPECT_FALSE(FileExists(kTemporary));
    EXPECT_FALSE(FileExists(kDiagnosticFile));
}

}  // namespace
