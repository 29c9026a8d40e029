// The plug-in manager against copies of the two engine modules in a plug-in folder of
// their own: what it lists, what it removes and installs, and what it refuses.
#include "app_test_support.h"
#include "maintenance/plugin_manager.h"
#include "pages/plugin_manager_dialog.h"
#include "pe_format.h"
#include "registry_support.h"
#include "resource.h"
#include "test_support.h"
#include "ui/message_box.h"
#include "unique_handle.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

using namespace tolvane;
using namespace tolvane::test;

namespace {

int CallExport(const std::string& path, const char* name) {
    unique_hmodule module(::LoadLibraryA(path.c_str()));
    if (!module) return -1;
    auto call = reinterpret_cast<int(WINAPI*)()>(::GetProcAddress(module.get(), name));
    return call ? call() : -1;
}

std::vector<std::string> ListItems(HWND list) {
    std::vector<std::string> items;
    int count = static_cast<int>(::SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[300] = {};
        ::SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

class PluginManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"kwreng32.dll", "hyseng32.dll"})
            ASSERT_TRUE(::CopyFileA((ModuleDirectory() + "\\" + name).c_str(), (plugins_ / name).c_str(), FALSE))
                << name;
        ASSERT_TRUE(WriteText(plugins_ / "broken.dll", "not a program"));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "PluginsDir", plugins_.path()));
        ASSERT_EQ(S_OK, CallExport(scan_, "DllRegisterServer"));
        ASSERT_EQ(S_OK, CallExport(privacy_, "DllRegisterServer"));
    }
    void TearDown() override {
        CallExport(scan_, "DllUnregisterServer");
        CallExport(privacy_, "DllUnregisterServer");
        // COM keeps the copies it loaded for IsPluginRegistered until told to let go, and
        // a loaded module cannot be deleted with the folder.
        ::CoFreeUnusedLibrariesEx(0, 0);
    }

    // Opens the manager modally on this thread while `script` drives it; returns how it ended.
    INT_PTR WithManager(const std::function<void(HWND)>& script) {
        DWORD uiThread = ::GetCurrentThreadId();
        std::thread driver([&] {
            HWND dialog = WaitForThreadWindow(uiThread, "Tolvane Plugin Manager");
            if (!dialog) return ADD_FAILURE() << "the plug-in manager did not open";
            script(dialog);
        });
        PluginManagerDialog manager;
        INT_PTR result = manager.DoModal(nullptr);
        driver.join();
        return result;
    }
    static std::vector<std::string> Available(HWND dialog) {
        return ListItems(::GetDlgItem(dialog, IDC_AVAILABLE_PLUGINS));
    }
    static std::vector<std::string> Installed(HWND dialog) {
        return ListItems(::GetDlgItem(dialog, IDC_INSTALLED_PLUGINS));
    }
    static void SelectAll(HWND dialog, int list) { ::SendDlgItemMessageA(dialog, list, LB_SETSEL, TRUE, -1); }
    static void Press(HWND dialog, int id, bool post = false) {
        WPARAM command = MAKEWPARAM(id, BN_CLICKED);
        LPARAM button = reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id));
        if (post) ::PostMessageA(dialog, WM_COMMAND, command, button);
        else ClickButton(dialog, id);
    }

    ScopedProductKey key_;
    TempDir plugins_;
    std::string scan_ = plugins_ / "kwreng32.dll";
    std::string privacy_ = plugins_ / "hyseng32.dll";
};

TEST_F(PluginManagerTest, RemovesAndInstallsTheMovedEnginesButNeverTheCriticalOne) {
    CaughtMessages caught;
    const std::vector<std::string> both{"Tolvane Privacy Engine", "Tolvane Scan Engine"};
    EXPECT_EQ(IDOK, WithManager([&](HWND dialog) {
        EXPECT_TRUE(Available(dialog).empty());
        EXPECT_EQ(both, Installed(dialog)) << "the unloadable broken.dll is not listed";
        SelectAll(dialog, IDC_INSTALLED_PLUGINS);
        Press(dialog, IDC_REMOVE_PLUGIN);
        EXPECT_EQ(std::vector<std::string>{"Tolvane Privacy Engine"}, Available(dialog));
        EXPECT_EQ(std::vector<std::string>{"Tolvane Scan Engine"}, Installed(dialog)) << "the scan engine is critical";
        Press(dialog, IDOK, true);
    }));
    EXPECT_EQ(std::vector<std::string>{LoadMessage(IDS_PLUGIN_CHANGES_LATER)}, ShownTexts(caught));
    EXPECT_EQ(0, CallExport(privacy_, "IsPluginRegistered"));
    EXPECT_EQ(1, CallExport(scan_, "IsPluginRegistered"));

    // Moved and cancelled: nothing changes.
    EXPECT_EQ(IDCANCEL, WithManager([&](HWND dialog) {
        EXPECT_EQ(std::vector<std::string>{"Tolvane Privacy Engine"}, Available(dialog));
        SelectAll(dialog, IDC_AVAILABLE_PLUGINS);
        Press(dialog, IDC_INSTALL_PLUGIN);
        EXPECT_EQ(both, Installed(dialog));
        Press(dialog, IDCANCEL, true);
    }));
    EXPECT_EQ(0, CallExport(privacy_, "IsPluginRegistered"));

    EXPECT_EQ(IDOK, WithManager([&](HWND dialog) {
        SelectAll(dialog, IDC_AVAILABLE_PLUGINS);
        Press(dialog, IDC_INSTALL_PLUGIN);
        EXPECT_TRUE(Available(dialog).empty());
        Press(dialog, IDOK, true);
    }));
    EXPECT_EQ(1, CallExport(privacy_, "IsPluginRegistered"));
    EXPECT_EQ(1, CallExport(scan_, "IsPluginRegistered"));
}

// A module built for the other edition (a 32-bit engine in the 64-bit edition's plug-in
// folder, or the reverse) never loads here. It is not listed; and when one has taken the
// place of a listed plug-in by the time of OK, each pass refuses it as a module that
// failed to load, naming it, without loading it or calling anything of it.
TEST_F(PluginManagerTest, AModuleOfTheOtherKindIsNeitherListedNorLoadedNorRegistered) {
    constexpr std::uint16_t otherMachine = kNativeMachine == kMachineAmd64 ? kMachineI386 : kMachineAmd64;
    const std::string other = PluginImagePath(otherMachine, "hyseng32.dll");
    ASSERT_TRUE(::CopyFileA(other.c_str(), (plugins_ / "other.dll").c_str(), FALSE));
    EXPECT_TRUE(IsModuleOfOtherKind(plugins_ / "other.dll"));
    EXPECT_FALSE(IsModuleOfOtherKind(scan_));
    EXPECT_FALSE(IsModuleOfOtherKind(plugins_ / "broken.dll")) << "no image at all: the loader judges it";
    EXPECT_FALSE(IsModuleOfOtherKind(plugins_ / "missing.dll"));
    PluginEntry entry;
    EXPECT_FALSE(QueryPlugin(plugins_ / "other.dll", entry));

    // The privacy engine not installed, moved in, and replaced by the other kind before OK.
    ASSERT_EQ(S_OK, CallExport(privacy_, "DllUnregisterServer"));
    const std::string classKey = "CLSID\\{00520B23-8942-11D3-8CE4-0080C6F9B0FF}\\InprocServer32";
    CaughtMessages caught;
    EXPECT_EQ(IDOK, WithManager([&](HWND dialog) {
        EXPECT_EQ(std::vector<std::string>{"Tolvane Privacy Engine"}, Available(dialog)) << "other.dll is not listed";
        EXPECT_EQ(std::vector<std::string>{"Tolvane Scan Engine"}, Installed(dialog));
        SelectAll(dialog, IDC_AVAILABLE_PLUGINS);
        Press(dialog, IDC_INSTALL_PLUGIN);
        EXPECT_TRUE(::CopyFileA(other.c_str(), privacy_.c_str(), FALSE));
        Press(dialog, IDOK, true);
    }));
    EXPECT_EQ((std::vector<std::string>{
                  "Unable to install Tolvane Privacy Engine.  LoadLibrary failed on:\n\n" + privacy_ + ".",
                  LoadMessage(IDS_PLUGIN_CHANGES_LATER)}),
              ShownTexts(caught));
    unique_hkey registered;
    EXPECT_NE(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_CLASSES_ROOT, classKey.c_str(), 0, KEY_READ, registered.put()))
        << "nothing registered";

    // The removal pass refuses it the same way.
    CaughtMessages removal;
    EXPECT_FALSE(ChangePluginRegistration(PluginEntry{"Tolvane Privacy Engine", 1, privacy_, 0}, false));
    EXPECT_EQ(std::vector<std::string>{"Unable to remove Tolvane Privacy Engine.  LoadLibrary failed on:\n\n" +
                                       privacy_ + "."},
              ShownTexts(removal));
}

TEST_F(PluginManagerTest, WithoutAPluginFolderSettingTheListsStayEmpty) {
    DeleteTree(HKEY_LOCAL_MACHINE, kProductKey);
    CaughtMessages caught;
    EXPECT_EQ(IDOK, WithManager([&](HWND dialog) {
        EXPECT_TRUE(Available(dialog).empty());
        EXPECT_TRUE(Installed(dialog).empty());
        Press(dialog, IDOK, true);
    }));
    EXPECT_EQ(std::vector<std::string>{LoadMessage(IDS_PLUGIN_CHANGES_LATER)}, ShownTexts(caught))
        << "said after every OK";
}

TEST(PluginRegistration, FailuresNameThePluginAndWhereItFailed) {
    CaughtMessages caught;
    PluginEntry missing{"Gone", 0, "C:\\nowhere\\gone.dll", 0};
    EXPECT_FALSE(ChangePluginRegistration(missing, true));
    char system[MAX_PATH];
    ::GetSystemDirectoryA(system, sizeof system);
    PluginEntry noExport{"Kernel", 1, std::string(system) + "\\kernel32.dll", 0};
    EXPECT_FALSE(ChangePluginRegistration(noExport, false));
    EXPECT_EQ((std::vector<std::string>{
                  "Unable to install Gone.  LoadLibrary failed on:\n\nC:\\nowhere\\gone.dll.",
                  "Unable to remove Kernel.  GetProcAddress failed on:\n\n" + noExport.path + ".",
              }),
              [&] {
                  std::vector<std::string> texts;
                  for (const auto& shown : caught.shown()) texts.push_back(shown.text);
                  return texts;
              }());
}

TEST(PluginName, StopsAtTheZeroOrAtTheLongestNameTheListsTake) {
    char buffer[260];
    std::memset(buffer, 'n', sizeof buffer);
    EXPECT_EQ(std::string(255, 'n'), PluginNameFromBuffer(buffer, sizeof buffer)) << "no zero in the buffer";
    std::strcpy(buffer, "Tolvane Scan Engine");
    EXPECT_EQ("Tolvane Scan Engine", PluginNameFromBuffer(buffer, sizeof buffer));
}

}  // namespace
