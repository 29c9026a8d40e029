#include "update_server_support.h"

#include "test_support.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace tolvane::test {

LoopbackUpdateServer::LoopbackUpdateServer() {
    const char* folder = std::getenv("TOLVANE_UPDATE_SERVER");
    if (!folder) return;
    // The server is a Unix process; Wine shows the root of Unix as drive Z:.
    folder_ = std::string("Z:") + folder;
    std::replace(folder_.begin(), folder_.end(), '/', '\\');
    int port = FileExists(folder_ + "\\port") ? std::atoi(ReadText(folder_ + "\\port").c_str()) : 0;
    if (port > 0) url_ = "http://127.0.0.1:" + std::to_string(port);
}

bool LoopbackUpdateServer::Clear() {
    RemoveTree(folder_ + "\\www\\Updates");
    ::DeleteFileA((folder_ + "\\requests").c_str());
    return !url_.empty() && ::CreateDirectoryA((folder_ + "\\www\\Updates").c_str(), nullptr);
}

bool LoopbackUpdateServer::Serve(const std::string& name, const std::vector<std::uint8_t>& bytes, const char* mode) {
    std::string path = folder_ + "\\www\\Updates\\" + name;
    // "x64/kwreng32.dl_": the folders on the way first.
    for (std::size_t at = name.find_first_of("\\/"); at != std::string::npos; at = name.find_first_of("\\/", at + 1))
        ::CreateDirectoryA((folder_ + "\\www\\Updates\\" + name.substr(0, at)).c_str(), nullptr);
    return WriteBytes(path, bytes) && (!mode || WriteText(path + ".mode", mode));
}

bool LoopbackUpdateServer::ServeVersion(const std::string& defs, int major, int minor, int build) {
    return WriteText(folder_ + "\\www\\Updates\\tsigs.ini",
                     "[files]\r\ndefs=" + defs + "\r\nENGINE_VERSION_MAJ=" + std::to_string(major) +
                         "\r\nENGINE_VERSION_MIN=" + std::to_string(minor) +
                         "\r\nENGINE_VERSION_BLD=" + std::to_string(build) + "\r\n");
}

std::vector<std::string> LoopbackUpdateServer::Requested() const {
    std::vector<std::string> names;
    std::string log = FileExists(folder_ + "\\requests") ? ReadText(folder_ + "\\requests") : "";
    for (std::size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string name = log.substr(at, end - at);
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    return names;
}

}  // namespace tolvane::test
