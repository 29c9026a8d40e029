// "Tolvane.lnk" in the Startup folder follows LoadOnStartup every time the settings are
// saved, and starts the running program in the installation directory.
#include "app_test_support.h"
#include "maintenance/startup_shortcut.h"
#include "registry_support.h"
#include "resource.h"
#include "settings/install_directory.h"
#include "settings/settings_store.h"
#include "test_support.h"
#include "ui/message_box.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace tolvane;
using namespace tolvane::test;

namespace {

const std::string kInstallKey = std::string(kProductKey) + "\\3.5";

struct Shortcut {
    std::string target;
    std::string workingDirectory;
};

Shortcut ReadShortcut(const std::string& path) {
    Shortcut shortcut;
    ComPtr<IShellLinkA> link;
    ComPtr<IPersistFile> file;
    std::wstring widePath(path.begin(), path.end());
    char text[MAX_PATH] = {};
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(link.GetAddressOf()))) ||
        FAILED(link.As(&file)) || FAILED(file->Load(widePath.c_str(), STGM_READ)))
        return {"<unreadable>", "<unreadable>"};
    if (SUCCEEDED(link->GetPath(text, sizeof text, nullptr, 0))) shortcut.target = text;
    if (SUCCEEDED(link->GetWorkingDirectory(text, sizeof text))) shortcut.workingDirectory = text;
    return shortcut;
}

class StartupShortcutTest : public ::testing::Test {
protected:
    void SetUp() override {
        link_ = StartupShortcutPath();
        ASSERT_FALSE(link_.empty()) << "no Startup folder";
        ::DeleteFileA(link_.c_str());
    }
    void TearDown() override { ::DeleteFileA(link_.c_str()); }

    void Save(std::int32_t loadOnStartup) {
        SCOPED_TRACE(loadOnStartup);
        AppSettings settings = DefaultAppSettings();
        settings.LoadOnStartup = loadOnStartup;
        EXPECT_TRUE(SaveSettings(settings));
        EXPECT_TRUE(messages_.shown().empty()) << messages_.shown().front().text;
    }

    ScopedProductKey productKey_;
    CaughtMessages messages_;
    std::string link_;
};

TEST_F(StartupShortcutTest, LoadOnStartupWritesTheShortcutEveryTimeSettingsAreSaved) {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kInstallKey, "Path", "C:\\Apps\\T\\Tolvane.exe"));
    Save(1);
    ASSERT_TRUE(FileExists(link_)) << link_;
    Shortcut shortcut = ReadShortcut(link_);
    EXPECT_TRUE(SamePath(RunningExecutable(), shortcut.target)) << shortcut.target;
    EXPECT_EQ("C:\\Apps\\T", shortcut.workingDirectory);

    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kInstallKey, "Path", "C:\\Other\\Tolvane.exe"));
    Save(1);
    EXPECT_EQ("C:\\Other", ReadShortcut(link_).workingDirectory) << "the second save overwrites the first";

    DeleteTree(HKEY_LOCAL_MACHINE, kInstallKey);
    Save(1);
    EXPECT_TRUE(SamePath(ModuleDirectory(), ReadShortcut(link_).workingDirectory))
        << "without an installation path, the program's own folder";
}

TEST_F(StartupShortcutTest, LoadOnStartupOffDeletesTheShortcutAndIsSilentWithoutOne) {
    Save(1);
    ASSERT_TRUE(FileExists(link_));
    Save(0);
    EXPECT_FALSE(FileExists(link_));
    Save(0);
    EXPECT_TRUE(StartupShortcut(0));
}

TEST(Messages, ComeFromTheStringTableWithTheirCodeInHex) {
    CaughtMessages messages;
    ShowMessage(IDS_STARTUP_SHORTCUT_FAILED, 0x80070005UL);
    ASSERT_EQ(1u, messages.shown().size());
    EXPECT_EQ("Error 80070005: Tolvane could not create a shortcut in your startup folder. Please make sure the "
              "folder exists and is not read-only.",
              messages.shown()[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), messages.shown()[0].type);
    EXPECT_EQ("", LoadMessage(1)) << "an id with no entry";
}

}  // namespace
