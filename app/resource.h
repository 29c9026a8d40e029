// Resource identifiers of Tolvane.exe. Messages keep the numbers the engines and the
// help texts refer to (57344 and up).
#pragma once

#define IDS_DEFAULT_UPDATE_SERVER 57363
#define IDS_DEFAULT_UPDATE_USERNAME 57364
#define IDS_DEFAULT_UPDATE_PASSWORD 57365
#define IDS_STARTUP_SHORTCUT_FAILED 57386
#define IDS_DEFAULT_UPDATE_PATH 57395
#define IDS_DIAGNOSTIC_FILE_FAILED 57397

// The Options page's links to the maker.
#define IDS_SUPPORT_MAIL_LINK 57408
#define IDS_WEB_LINK 57409
