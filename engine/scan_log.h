// The log of one engine run, appended to Tolvane.log in the current directory.
#pragma once

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

namespace tolvane {

// "***************** Scan started on  <date>  ****************\r\n" for a local time.
std::string FormatLogStartLine(const std::tm& local);

class ScanLog {
public:
    // Opens (or creates) the file and writes the run's start; a file that cannot be
    // opened leaves a log that writes nothing.
    explicit ScanLog(bool enabled);
    ScanLog(const std::string& path, bool enabled);
    ScanLog(const ScanLog&) = delete;
    ScanLog& operator=(const ScanLog&) = delete;

    void Write(const char* text);
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    // Writes the end line and closes the file.
    void Finish();

    static std::string DefaultPath();

private:
    struct CloseFile {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };

    bool enabled_ = false;
    bool failed_ = false;  // a write failed: nothing more this run, whatever Logging says
    std::unique_ptr<std::FILE, CloseFile> file_;
    std::time_t start_ = 0;
};

}  // namespace tolvane
