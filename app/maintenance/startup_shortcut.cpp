#include "startup_shortcut.h"

#include "resource.h"
#include "settings/install_directory.h"
#include "ui/message_box.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <vector>

using Microsoft::WRL::ComPtr;

namespace tolvane {

namespace {

const char kShortcutName[] = "\\Tolvane.lnk";

// The folder's item list is freed through the shell allocator, as the shell asks.
void FreeItemList(LPITEMIDLIST items) {
    ComPtr<IMalloc> allocator;
    if (items && SUCCEEDED(::SHGetMalloc(&allocator))) allocator->Free(items);
}

// On failure, the code to show: the lookup's HRESULT, or 0 when the conversion failed.
bool FindStartupFolder(std::string& folder, HRESULT& code) {
    LPITEMIDLIST items = nullptr;
    code = ::SHGetSpecialFolderLocation(nullptr, CSIDL_STARTUP, &items);
    if (FAILED(code)) {
        FreeItemList(items);
        return false;
    }
    char path[MAX_PATH] = {};
    bool converted = ::SHGetPathFromIDListA(items, path) != FALSE;
    FreeItemList(items);
    code = 0;
    folder = path;
    return converted;
}

std::wstring Wide(const std::string& text) {
    int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(length > 0 ? length : 1);
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    return wide.data();
}

bool CreateShortcut(const std::string& linkPath) {
    ComPtr<IShellLinkA> link;
    ComPtr<IPersistFile> file;
    return SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                        reinterpret_cast<void**>(link.GetAddressOf()))) &&
           SUCCEEDED(link->SetPath(RunningExecutable().c_str())) &&
           SUCCEEDED(link->SetWorkingDirectory(InstallDirectory().c_str())) && SUCCEEDED(link.As(&file)) &&
           SUCCEEDED(file->Save(Wide(linkPath).c_str(), TRUE));
}

bool DeleteShortcut(const std::string& linkPath) {
    if (::DeleteFileA(linkPath.c_str())) return true;
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

std::string StartupShortcutPath() {
    std::string folder;
    HRESULT code = S_OK;
    return FindStartupFolder(folder, code) ? folder + kShortcutName : std::string();
}

bool StartupShortcut(std::int32_t loadOnStartup) {
    std::string folder;
    HRESULT code = S_OK;
    if (!FindStartupFolder(folder, code)) {
        ShowMessage(IDS_STARTUP_SHORTCUT_FAILED, static_cast<unsigned long>(code));
        return false;
    }
    std::string linkPath = folder + kShortcutName;
    return loadOnStartup ? CreateShortcut(linkPath) : DeleteShortcut(linkPath);
}

}  // namespace tolvane
