// The application object: one running copy, the diagnostic switch, the first-run
// defaults, the settings, the hidden main frame and, at the end, the saved settings and
// the staged engine modules put in place.
#pragma once

#include "main_frame.h"
#include "unique_handle.h"

#include <memory>
#include <string>
#include <vector>

namespace tolvane {

extern const char kInstanceMutexName[];

// The command-line argument asks for the diagnostic file: "D" in any case, alone or
// behind one "/" or "-".
bool IsDiagnosticArgument(const std::string& argument);

class CTolvaneApp {
public:
    CTolvaneApp();
    ~CTolvaneApp();
    CTolvaneApp(const CTolvaneApp&) = delete;
    CTolvaneApp& operator=(const CTolvaneApp&) = delete;

    // False ends the program without a message loop.
    bool InitInstance(const std::vector<std::string>& arguments);
    int Run();
    // Saves the settings; runs once, at the end or when Windows asks to end the session,
    // and leaves everything usable. Staged engine modules go in place only at the end,
    // once the engines are released.
    void Cleanup();

    CMainFrame* MainFrame() const { return frame_.get(); }

    std::string installDir;
    std::string infectedFilesDir;
    bool EnginesDownloaded = false;  // set by the update client

private:
    bool OpenProductKey();

    unique_handle instanceMutex;
    std::unique_ptr<CMainFrame> frame_;
    bool settingsLoaded_ = false;
    bool cleanedUp_ = false;
};

// The running program's application object.
CTolvaneApp& TheApp();

}  // namespace tolvane
