// hyseng32: the privacy engine module and what it tells the plug-in manager.
#include "com_module.h"
#include "hyseng32.h"
#include "privacy_engine.h"
#include "resource.h"

namespace tolvane {

namespace {
const ComClassEntry kClasses[] = {
    {&CLSID_PrivacyEngine, &PrivacyEngine::Create, IDR_PRIVACYENGINE},
};
}  // namespace

const PluginDescription& ThisPlugin() {
    // Not critical: the program runs without a privacy page when this module is gone.
    static const PluginDescription plugin{kClasses, static_cast<int>(std::size(kClasses)),
                                          &CLSID_PrivacyEngine, IDS_PLUGIN_NAME, 0};
    return plugin;
}

}  // namespace tolvane
