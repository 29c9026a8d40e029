// Resource ids of hyseng32.
#pragma once

#define IDS_PLUGIN_NAME 101

#define IDR_PRIVACYENGINE 102
