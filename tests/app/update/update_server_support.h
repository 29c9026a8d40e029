// The loopback update server that CTest starts (update_server.py), as the program's tests
// see it from inside Wine: the files it serves under "/Updates/" and the requests it saw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::test {

class LoopbackUpdateServer {
public:
    // Reads the server's folder from TOLVANE_UPDATE_SERVER; Url() is empty when there is
    // none or it has no port.
    LoopbackUpdateServer();
    // "http://127.0.0.1:PORT", the value for UpdateOptions\FTPServer.
    const std::string& Url() const { return url_; }
    // The server's folder as Wine shows it; it serves www\Updates under "/Updates/".
    const std::string& Folder() const { return folder_; }

    // Empties "/Updates/" and forgets the requests.
    bool Clear();
    // NAME with a NAME.mode beside it when `mode` is given (see update_server.py); a NAME
    // such as "x64/kwreng32.dl_" is served in that folder, made as needed.
    bool Serve(const std::string& name, const std::vector<std::uint8_t>& bytes, const char* mode = nullptr);
    bool ServeVersion(const std::string& defs, int major, int minor, int build);
    // The paths asked for, each once, in the order first asked.
    std::vector<std::string> Requested() const;

private:
    std::string folder_;
    std::string url_;
};

}  // namespace tolvane::test
