#include "autostart.h"
#include "unique_handle.h"
#include "windows64_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tolvane;
using tolvane::test::OtherRegistryView;

namespace {

struct SavedValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

struct SavedKey {
    bool existed = false;
    std::vector<SavedValue> values;
};

std::string WindowsDir() {
    char buffer[MAX_PATH];
    return std::string(buffer, ::GetWindowsDirectoryA(buffer, sizeof buffer)) + "\\";
}

std::string SystemDir() {
    char buffer[MAX_PATH];
    return std::string(buffer, ::GetSystemDirectoryA(buffer, sizeof buffer)) + "\\";
}

// Run and RunServices of the test prefix, in both registry views where there are two,
// emptied for each test and given back their values afterwards, whatever the test did.
class AutostartKeys : public ::testing::Test {
protected:
    void SetUp() override {
        for (int v = 0; v < 2; ++v)
            for (int i = 0; i < 2; ++i) saved_[v][i] = Save(kKeys[i], Views()[v]);
        for (REGSAM view : Views())
            for (const char* key : kKeys) Clear(key, view);
    }
    void TearDown() override {
        for (int v = 1; v >= 0; --v)
            for (int i = 0; i < 2; ++i) Restore(kKeys[i], saved_[v][i], Views()[v]);
    }

    // The program's own view, then the other one (the own view again on 32-bit Windows).
    static std::vector<REGSAM> Views() { return {0, OtherRegistryView()}; }

    static void Set(const char* key, const std::string& name, const std::string& data, DWORD type = REG_SZ,
                    REGSAM view = 0) {
        unique_hkey k;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS | view,
                                                   nullptr, k.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(k.get(), name.empty() ? nullptr : name.c_str(), 0, type,
                                                  reinterpret_cast<const BYTE*>(data.c_str()),
                                                  static_cast<DWORD>(data.size() + 1)));
    }

    static std::vector<std::string> List(const char* key, REGSAM view = 0) {
        std::vector<std::string> commands{"stale"};
        EXPECT_EQ(ERROR_SUCCESS, ListAutostartCommands(HKEY_LOCAL_MACHINE, key, commands, view));
        return commands;
    }
    static void DeleteKey(const char* key, REGSAM view) {
        if (view) ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key, view, 0);
        else ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    }

    static const char* const kKeys[2];

private:
    static SavedKey Save(const char* path, REGSAM view) {
        SavedKey saved;
        unique_hkey key;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return saved;
        saved.existed = true;
        for (DWORD i = 0;; ++i) {
            char name[16384];
            DWORD nameLength = sizeof name, type = 0, bytes = 0;
            if (::RegEnumValueA(key.get(), i, name, &nameLength, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
                break;
            SavedValue value{std::string(name, nameLength), type, std::vector<BYTE>(bytes)};
            ::RegQueryValueExA(key.get(), value.name.c_str(), nullptr, nullptr, value.data.data(), &bytes);
            saved.values.push_back(std::move(value));
        }
        return saved;
    }
    static void Clear(const char* path, REGSAM view) {
        unique_hkey key;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS | view, key.put()) != ERROR_SUCCESS) return;
        char name[16384];
        for (;;) {
            DWORD nameLength = sizeof name;
            if (::RegEnumValueA(key.get(), 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (::RegDeleteValueA(key.get(), name) != ERROR_SUCCESS) break;
        }
    }
    static void Restore(const char* path, const SavedKey& saved, REGSAM view) {
        Clear(path, view);
        if (!saved.existed) {
            DeleteKey(path, view);
            return;
        }
        unique_hkey key;
        if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(),
                              nullptr) != ERROR_SUCCESS)
            return;
        for (const SavedValue& v : saved.values)
            ::RegSetValueExA(key.get(), v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
    }

    SavedKey saved_[2][2];
};

const char* const AutostartKeys::kKeys[2] = {kRunKey, kRunServicesKey};

}  // namespace

TEST_F(AutostartKeys, BareNamesResolveAgainstTheWindowsOrSystemDirectory) {
    Set(kRunKey, "a", "a.exe");
    Set(kRunKey, "b", "b.exe");
    Set(kRunKey, "full", "C:\\Tools\\c.exe /nomsg");
    Set(kRunServicesKey, "svc", "trojan.exe");
    EXPECT_EQ((std::vector<std::string>{WindowsDir() + "a.exe", WindowsDir() + "b.exe", "C:\\Tools\\c.exe /nomsg"}),
              List(kRunKey));
    EXPECT_EQ(std::vector<std::string>{SystemDir() + "trojan.exe"}, List(kRunServicesKey));
}

TEST_F(AutostartKeys, ListKeepsDefaultValueAndSkipsOnlyFullyEmptyOnes) {
    Set(kRunKey, "", "default.exe");
    Set(kRunKey, "empty", "");
    Set(kRunKey, "binary", "bin.exe", REG_BINARY);
    auto commands = List(kRunKey);
    EXPECT_EQ((std::vector<std::string>{WindowsDir() + "default.exe", WindowsDir() + "bin.exe", WindowsDir()}),
              commands);
}

TEST_F(AutostartKeys, MissingKeyReportsTheOpenErrorAndLeavesTheListAlone) {
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRunServicesKey);
    std::vector<std::string> commands{"kept"};
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ListAutostartCommands(HKEY_LOCAL_MACHINE, kRunServicesKey, commands));
    EXPECT_EQ(std::vector<std::string>{"kept"}, commands);
}

TEST_F(AutostartKeys, ALongValueNoLongerHidesTheValuesAfterIt) {
    // Value names come back in name order; this one is first.
    std::string longCommand = "C:\\WINDOWS\\long.exe " + std::string(300, 'x');
    Set(kRunKey, "!first", longCommand);
    Set(kRunKey, std::string(300, 'n'), "longname.exe");
    Set(kRunKey, "later", "C:\\WINDOWS\\SYSTEM\\later.exe");
    Set(kRunKey, "toolong", std::string(MAX_PATH, 'b'));
    auto commands = List(kRunKey);
    EXPECT_EQ((std::vector<std::string>{"C:\\WINDOWS\\SYSTEM\\later.exe", WindowsDir() + "longname.exe"}), commands);

    std::string name, key;
    EXPECT_TRUE(FindAutostartEntry("c:\\windows\\system\\later.exe", name, key));
    EXPECT_EQ("later", name);
    // The long command is read whole, so a trojan cannot pad its value out of sight.
    name.clear();
    key.clear();
    EXPECT_TRUE(FindAutostartEntry("C:\\windows\\LONG.EXE", name, key));
    EXPECT_EQ("!first", name);
}

TEST_F(AutostartKeys, ScanChecksRunServicesThenRunAndStopsAtAFailure) {
    Set(kRunServicesKey, "svc", "service.exe");
    Set(kRunKey, "a", "a.exe");
    Set(kRunKey, "b", "C:\\b.exe");
    std::vector<std::string> checked;
    auto record = [&](const char* path) {
        checked.push_back(path);
        return S_OK;
    };
    EXPECT_EQ(S_OK, ScanAutostartEntries(record));
    EXPECT_EQ((std::vector<std::string>{SystemDir() + "service.exe", WindowsDir() + "a.exe", "C:\\b.exe"}), checked);

    checked.clear();
    EXPECT_EQ(E_OUTOFMEMORY, ScanAutostartEntries([&](const char* path) {
                  checked.push_back(path);
                  return E_OUTOFMEMORY;
              }));
    EXPECT_EQ(std::vector<std::string>{SystemDir() + "service.exe"}, checked) << "Run was scanned after a failure";

    checked.clear();
    EXPECT_EQ(E_FAIL, ScanAutostartEntries([&](const char* path) {
                  checked.push_back(path);
                  return checked.size() == 2 ? E_FAIL : S_OK;
              }));
    EXPECT_EQ(2u, checked.size());

    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRunServicesKey);
    checked.clear();
    EXPECT_EQ(S_OK, ScanAutostartEntries(record));
    EXPECT_EQ((std::vector<std::string>{WindowsDir() + "a.exe", "C:\\b.exe"}), checked);
}

TEST_F(AutostartKeys, LookupCutsOptionsAndNeedsTheWholePathAsPrefix) {
    Set(kRunKey, "Patch", "C:\\WINDOWS\\SYSTEM\\PATCH.EXE /nomsg");
    Set(kRunKey, "Other", "C:\\WINDOWS\\patch.exe");
    std::string name = "", key = "";
    EXPECT_TRUE(FindAutostartEntry("c:\\windows\\system\\patch.exe", name, key));
    EXPECT_EQ("Patch", name);
    EXPECT_EQ(kRunKey, key);

    name.clear();
    key.clear();
    EXPECT_FALSE(FindAutostartEntry("C:\\WINDOWS\\patch.exe.bak", name, key));
    EXPECT_EQ("", name);
    EXPECT_EQ("", key) << "outputs are written only on a match";

    // "-" inside the path cuts it short, so such a command never matches.
    Set(kRunKey, "Dash", "C:\\my-tools\\dash.exe");
    EXPECT_FALSE(FindAutostartEntry("C:\\my-tools\\dash.exe", name, key));
    EXPECT_FALSE(FindAutostartEntry("", name, key));
}

TEST_F(AutostartKeys, LookupResolvesBareNamesByTheSystemRuleAndSearchesRunServicesSecond) {
    Set(kRunKey, "bare", "sysbare.exe");
    Set(kRunServicesKey, "service", "svchelper.exe -quiet");
    Set(kRunServicesKey, "winbare", "winbare.exe");
    std::string name, key;
    EXPECT_TRUE(FindAutostartEntry((SystemDir() + "sysbare.exe").c_str(), name, key));
    EXPECT_EQ("bare", name);
    EXPECT_EQ(kRunKey, key);
    // The same data is read by the scan against the Windows directory.
    EXPECT_EQ(std::vector<std::string>{WindowsDir() + "sysbare.exe"}, List(kRunKey));

    name.clear();
    key.clear();
    EXPECT_TRUE(FindAutostartEntry((SystemDir() + "SVCHELPER.EXE").c_str(), name, key));
    EXPECT_EQ("service", name);
    EXPECT_EQ(kRunServicesKey, key);

    // A path without "SYSTEM" resolves bare names against the Windows directory, even
    // in RunServices.
    name.clear();
    key.clear();
    EXPECT_TRUE(FindAutostartEntry((WindowsDir() + "winbare.exe").c_str(), name, key));
    EXPECT_EQ("winbare", name);
}

TEST_F(AutostartKeys, MatchOnTheDefaultValueWritesTheKeyButReportsNoEntry) {
    Set(kRunKey, "", "C:\\WINDOWS\\deftrojan.exe");
    std::string name = "", key = "";
    EXPECT_FALSE(FindAutostartEntry("C:\\WINDOWS\\deftrojan.exe", name, key));
    EXPECT_EQ("", name);
    EXPECT_EQ(kRunKey, key);
}

TEST_F(AutostartKeys, LookupWithoutARunKeyFindsNothingEvenInRunServices) {
    Set(kRunServicesKey, "svc", "C:\\svc.exe");
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRunKey);
    std::string name, key;
    EXPECT_FALSE(FindAutostartEntry("C:\\svc.exe", name, key));
    EXPECT_EQ("", name);
}

// 64-bit Windows: each program sees its own view of the keys unless it names the other,
// and a trojan of the other kind writes its value there.
TEST_F(AutostartKeys, OtherViewsRunAndRunServicesAreScannedAfterTheOwnOnes) {
    TOLVANE_NEEDS_WINDOWS64();
    const REGSAM other = OtherRegistryView();
    Set(kRunServicesKey, "svc", "C:\\own_service.exe");
    Set(kRunServicesKey, "svc", "C:\\other_service.exe", REG_SZ, other);
    Set(kRunKey, "a", "C:\\own.exe");
    Set(kRunKey, "b", "C:\\other.exe", REG_SZ, other);
    // The two views are apart: the own one does not show the other one's value.
    EXPECT_EQ(std::vector<std::string>{"C:\\own.exe"}, List(kRunKey));
    EXPECT_EQ(std::vector<std::string>{"C:\\other.exe"}, List(kRunKey, other));

    std::vector<std::string> checked;
    EXPECT_EQ(S_OK, ScanAutostartEntries([&](const char* path) {
                  checked.push_back(path);
                  return S_OK;
              }));
    EXPECT_EQ((std::vector<std::string>{"C:\\own_service.exe", "C:\\other_service.exe", "C:\\own.exe",
                                        "C:\\other.exe"}),
              checked);

    checked.clear();
    EXPECT_EQ(E_FAIL, ScanAutostartEntries([&](const char* path) {
                  checked.push_back(path);
                  return checked.size() == 2 ? E_FAIL : S_OK;
              }));
    EXPECT_EQ((std::vector<std::string>{"C:\\own_service.exe", "C:\\other_service.exe"}), checked)
        << "the scan went on after a failure in the other view";
}

TEST_F(AutostartKeys, OtherViewsValueIsFoundInItsViewAndAValueInBothViewsIsAnEntryPerView) {
    TOLVANE_NEEDS_WINDOWS64();
    const REGSAM other = OtherRegistryView();
    const REGSAM own = other == KEY_WOW64_32KEY ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    Set(kRunKey, "Tv32", "C:\\Tools\\only_other.exe /quiet", REG_SZ, other);
    Set(kRunKey, "Tv32", "C:\\Tools\\harmless.exe");  // same name, own view, another program
    std::string name, key;
    EXPECT_FALSE(FindAutostartEntry("C:\\Tools\\only_other.exe", name, key)) << "found in the own view";
    EXPECT_TRUE(FindAutostartEntry("C:\\Tools\\only_other.exe", name, key, other));
    EXPECT_EQ("Tv32", name);
    EXPECT_EQ(kRunKey, key);

    auto found = FindAutostartEntries("C:\\Tools\\only_other.exe");
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ("Tv32", found[0].valueName);
    EXPECT_EQ(kRunKey, found[0].keyPath);
    EXPECT_EQ(other, found[0].view);

    // A program named in both views, by values of different keys and names.
    Set(kRunServicesKey, "Both", "C:\\Tools\\both.exe", REG_SZ, other);
    Set(kRunKey, "BothRun", "C:\\Tools\\both.exe");
    found = FindAutostartEntries("c:\\tools\\BOTH.EXE");
    ASSERT_EQ(2u, found.size());
    EXPECT_EQ("BothRun", found[0].valueName);
    EXPECT_EQ(kRunKey, found[0].keyPath);
    EXPECT_EQ(own, found[0].view) << "the own view comes first, named by its flag";
    EXPECT_EQ("Both", found[1].valueName);
    EXPECT_EQ(kRunServicesKey, found[1].keyPath);
    EXPECT_EQ(other, found[1].view);

    EXPECT_TRUE(FindAutostartEntries("C:\\Tools\\nowhere.exe").empty());
}
