// kwreng32: the scan engine module and what it tells the plug-in manager.
#include "com_module.h"
#include "email.h"
#include "kwreng32.h"
#include "resource.h"
#include "scan_engine.h"

namespace tolvane {

namespace {
const ComClassEntry kClasses[] = {
    {&CLSID_ScanEngine, &ScanEngine::Create, IDR_SCANENGINE},
    {&CLSID_Email, &Email::Create, IDR_EMAIL},
};
}  // namespace

const PluginDescription& ThisPlugin() {
    static const PluginDescription plugin{kClasses, static_cast<int>(std::size(kClasses)),
                                          &CLSID_ScanEngine, IDS_PLUGIN_NAME, 1};
    return plugin;
}

}  // namespace tolvane
