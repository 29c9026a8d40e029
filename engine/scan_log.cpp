#include "scan_log.h"

#include "log_texts.h"

#include <windows.h>

namespace tolvane {

std::string FormatLogStartLine(const std::tm& local) {
    char date[128];
    if (std::strftime(date, sizeof date, log_text::kDateFormat, &local) == 0) date[0] = 0;
    std::string line = log_text::kStartLead;
    line += ' ';
    line += date;
    line += ' ';
    line += log_text::kStartTail;
    return line;
}

std::string ScanLog::DefaultPath() {
    char directory[MAX_PATH];
    DWORD n = ::GetCurrentDirectoryA(sizeof directory, directory);
    if (n == 0 || n >= sizeof directory) n = 0;
    return std::string(directory, n) + "\\Tolvane.log";
}

ScanLog::ScanLog(bool enabled) : ScanLog(DefaultPath(), enabled) {}

ScanLog::ScanLog(const std::string& path, bool enabled) {
    start_ = std::time(nullptr);
    file_.reset(std::fopen(path.c_str(), "a+t"));
    if (!file_) return;
    // Each run starts on a line of its own, even with logging off.
    std::fputs("\n", file_.get());
    enabled_ = enabled;
    std::tm local{};
    if (const std::tm* t = std::localtime(&start_)) local = *t;
    Write(FormatLogStartLine(local).c_str());
}

void ScanLog::Write(const char* text) {
    if (!enabled_ || failed_ || !file_) return;
    if (std::fputs(text, file_.get()) == EOF) failed_ = true;
}

void ScanLog::Finish() {
    Write(log_text::kEndLine);
    file_.reset();
}

}  // namespace tolvane
