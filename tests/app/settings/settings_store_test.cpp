// The settings in HKLM\SOFTWARE\Ostrimark\Tolvane: what a first run writes, and which
// stored values loading takes or leaves alone.
#include "app_test_support.h"
#include "registry_support.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace tolvane;
using namespace tolvane::test;

namespace {

const std::string kMain = kProductKey;
const std::string kAdminAlert = kMain + "\\AdminAlert";
const std::string kEngine = kMain + "\\Engine";
const std::string kUpdateOptions = kMain + "\\UpdateOptions";

std::vector<unsigned char> Bytes(std::uint32_t number) {
    const auto* p = reinterpret_cast<const unsigned char*>(&number);
    return {p, p + 4};
}

std::vector<unsigned char> Text(const std::string& text) { return {text.begin(), text.end() + 1}; }

class SettingsStore : public ::testing::Test {
protected:
    ScopedProductKey productKey_;
    CaughtMessages messages_;
};

TEST_F(SettingsStore, FirstRunSaveWritesEveryValueWithItsType) {
    ASSERT_TRUE(SaveSettings(DefaultAppSettings()));
    ASSERT_TRUE(SaveEngineVersion(DefaultEngineVersion()));
    struct Expected {
        const std::string& key;
        const char* name;
        DWORD type;
        std::vector<unsigned char> data;
    } expected[] = {
        {kMain, "AutoScan", REG_BINARY, Bytes(1)},
        {kMain, "LoadOnStartup", REG_BINARY, Bytes(0)},
        {kMain, "LoggingEnabled", REG_BINARY, Bytes(1)},
        {kMain, "SilentMode", REG_BINARY, Bytes(0)},
        {kMain, "TimedScanning", REG_BINARY, Bytes(0)},
        {kMain, "ScanInterval", REG_DWORD, Bytes(3)},
        {kMain, "ShowUIOnTrojan", REG_BINARY, Bytes(1)},
        {kAdminAlert, "AdminAlert", REG_BINARY, Bytes(0)},
        {kAdminAlert, "MailServer", REG_SZ, Text("mail.example.com")},
        {kAdminAlert, "AlertSubject", REG_SZ, Text("A trojan horse was found!")},
        {kAdminAlert, "MailTo", REG_SZ, Text("admin@example.com")},
        {kAdminAlert, "MailServerPort", REG_DWORD, Bytes(25)},
        {kEngine, "EngMaj", REG_DWORD, Bytes(3)},
        {kEngine, "EngMin", REG_DWORD, Bytes(0)},
        {kEngine, "EngBld", REG_DWORD, Bytes(2)},
    };
    for (const Expected& value : expected) {
        DWORD type = 0;
        std::vector<unsigned char> data;
        ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, value.key, value.name, type, data)) << value.name;
        EXPECT_EQ(value.type, type) << value.name;
        EXPECT_EQ(value.data, data) << value.name;
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUpdateOptions)) << "the update options are never written";
    EXPECT_TRUE(messages_.shown().empty());

    AppSettings loaded{};
    ASSERT_TRUE(LoadSettings(loaded));
    AppSettings defaults = DefaultAppSettings();
    EXPECT_EQ(0, std::memcmp(&defaults, &loaded, offsetof(AppSettings, UpdateOptions)));
    EngineVersion version{};
    ASSERT_TRUE(LoadEngineVersion(version));
    EXPECT_EQ(3, version.major);
    EXPECT_EQ(0, version.minor);
    EXPECT_EQ(2, version.build);
}

TEST_F(SettingsStore, BooleansAreTakenWhateverTheirTypeButOnlyAsZeroOrOne) {
    ASSERT_TRUE(SetDword(kMain, "AutoScan", 0));
    ASSERT_TRUE(SetDword(kMain, "ShowUIOnTrojan", 2));
    ASSERT_TRUE(SetDword(kMain, "SilentMode", 1, REG_BINARY));
    const unsigned char eight[8] = {1};
    ASSERT_TRUE(SetRawValue(kMain, "LoggingEnabled", REG_BINARY, eight, sizeof eight));
    ASSERT_TRUE(SetDword(kMain, "ScanInterval", 600000, REG_BINARY));
    ASSERT_TRUE(SetDword(kAdminAlert, "MailServerPort", 2525));
    ASSERT_TRUE(SetDword(kAdminAlert, "AdminAlert", 1, REG_DWORD));

    AppSettings settings = DefaultAppSettings();
    settings.LoggingEnabled = 0;
    ASSERT_TRUE(LoadSettings(settings));
    EXPECT_EQ(0, settings.AutoScan) << "REG_DWORD 0";
    EXPECT_EQ(1, settings.ShowUIOnTrojan) << "2 is no boolean";
    EXPECT_EQ(1, settings.SilentMode);
    EXPECT_EQ(0, settings.LoggingEnabled) << "an 8-byte value does not fit the 4-byte read";
    EXPECT_EQ(3, settings.ScanInterval) << "numbers only as REG_DWORD";
    EXPECT_EQ(2525, settings.MailServerPort);
    EXPECT_EQ(1, settings.AdminAlert);
}

TEST_F(SettingsStore, TextsAreCutToTheirFieldAndNeverWrittenPastIt) {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kAdminAlert, "MailTo", std::string(200, 't')));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kAdminAlert, "MailServer", std::string(259, 's')));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kAdminAlert, "AlertSubject", std::string(300, 'a')));

    AppSettings settings = DefaultAppSettings();
    std::memset(settings.AlertSubject, 0x5A, sizeof settings.AlertSubject);
    settings.MailServerPort = 0x5A5A5A5A;
    ASSERT_TRUE(LoadSettings(settings));
    EXPECT_EQ(std::string(127, 't'), std::string(settings.MailTo));
    EXPECT_EQ(std::string(127, 's'), std::string(settings.MailServer));
    EXPECT_EQ(0x5A5A5A5A, settings.MailServerPort) << "the field after MailServer";
    EXPECT_EQ(0x5A, static_cast<unsigned char>(settings.AlertSubject[0]))
        << "the field after MailTo; a value too long for the read buffer is not taken";
    EXPECT_EQ(0x5A, static_cast<unsigned char>(settings.AlertSubject[1023]));
}

// Windows may hand back a REG_SZ that fills the buffer without its NUL (Wine always adds one).
TEST(FieldCopy, StopsAtTheDataOrTheFieldWhicheverComesFirst) {
    char bytes[300];
    std::memset(bytes, 0x5A, sizeof bytes);
    const std::string unterminated(260, 'u');
    CopyToField(bytes, 128, unterminated.data(), unterminated.size());
    EXPECT_EQ(std::string(127, 'u'), std::string(bytes));
    EXPECT_EQ(0x5A, bytes[128]);

    const char shortText[4] = {'a', 'b', 'c', 'd'};
    CopyToField(bytes, 128, shortText, 3);
    EXPECT_EQ(std::string("abc") + std::string(125, '\0'), std::string(bytes, 128));
}

TEST_F(SettingsStore, MissingKeysStopLoadingWhereTheyAre) {
    AppSettings settings = DefaultAppSettings();
    settings.AutoScan = 0x5A5A5A5A;
    AppSettings before = settings;
    EXPECT_FALSE(LoadSettings(settings));
    EXPECT_EQ(0, std::memcmp(&before, &settings, sizeof settings)) << "no main key: nothing changes";

    ASSERT_TRUE(SetDword(kMain, "AutoScan", 0, REG_BINARY));
    ASSERT_TRUE(SetDword(kUpdateOptions, "Port", 80));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kUpdateOptions, "FTPServer", "http://127.0.0.1"));
    EXPECT_FALSE(LoadSettings(settings)) << "no AdminAlert key";
    EXPECT_EQ(0, settings.AutoScan);
    EXPECT_STREQ("admin@example.com", settings.MailTo);
    EXPECT_STREQ("", settings.UpdateOptions.FTPServer) << "update options are not read";

    EngineVersion version{7, 7, 7};
    EXPECT_FALSE(LoadEngineVersion(version));
    EXPECT_EQ(7, version.major);
}

TEST_F(SettingsStore, UpdateOptionsTakeTheMakersDefaultsOnlyWithoutTheirKey) {
    AppSettings settings = DefaultAppSettings();
    LoadUpdateOptions(settings);
    EXPECT_STREQ("http://www.example.com", settings.UpdateOptions.FTPServer);
    EXPECT_STREQ("/Updates/", settings.UpdateOptions.Path);
    EXPECT_STREQ("anonymous", settings.UpdateOptions.Username);
    EXPECT_STREQ("support@example.com", settings.UpdateOptions.Password);

    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kUpdateOptions, "FTPServer", "http://127.0.0.1:8080"));
    const char expandable[] = "%TEMP%";
    ASSERT_TRUE(SetRawValue(kUpdateOptions, "Path", REG_EXPAND_SZ, expandable, sizeof expandable));
    AppSettings fresh = DefaultAppSettings();
    SetField(fresh.UpdateOptions.Path, "/kept/");
    LoadUpdateOptions(fresh);
    EXPECT_STREQ("http://127.0.0.1:8080", fresh.UpdateOptions.FTPServer);
    EXPECT_STREQ("/kept/", fresh.UpdateOptions.Path) << "only REG_SZ is taken";
    EXPECT_STREQ("", fresh.UpdateOptions.Username) << "a missing value takes no default";
}

TEST_F(SettingsStore, EngineNumbersAreTakenOnlyAsDwords) {
    ASSERT_TRUE(SaveEngineVersion(EngineVersion{4, 1, 7}));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kEngine, "EngBld", "9"));
    EngineVersion version = DefaultEngineVersion();
    ASSERT_TRUE(LoadEngineVersion(version));
    EXPECT_EQ(4, version.major);
    EXPECT_EQ(1, version.minor);
    EXPECT_EQ(2, version.build);
}

}  // namespace
