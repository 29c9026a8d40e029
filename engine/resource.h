// Resource ids of kwreng32.
#pragma once

#define IDS_TEST_MESSAGE 101
#define IDS_PLUGIN_NAME 102

#define IDR_SCANENGINE 102
#define IDR_EMAIL 104
#define IDR_PRIVACYENGINE_LEGACY 105

#define IDD_WAIT 202
#define IDI_ENGINE 206
