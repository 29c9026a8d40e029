// Resource identifiers of Tolvane.exe. Messages keep the numbers the engines and the
// help texts refer to (57344 and up).
#pragma once

#define IDS_DEFAULT_UPDATE_SERVER 57363
#define IDS_DEFAULT_UPDATE_USERNAME 57364
#define IDS_DEFAULT_UPDATE_PASSWORD 57365
#define IDS_STARTUP_SHORTCUT_FAILED 57386
#define IDS_DEFAULT_UPDATE_PATH 57395
#define IDS_DIAGNOSTIC_FILE_FAILED 57397

// The quarantine manager's questions and reports.
#define IDS_CONFIRM_RESTORE 57368
#define IDS_CONFIRM_DELETE 57369
#define IDS_FILES_RESTORED 57370
#define IDS_FILES_DELETED 57371
#define IDS_RESTORE_FAILED 57375

// The Options page's links to the maker.
#define IDS_SUPPORT_MAIL_LINK 57408
#define IDS_WEB_LINK 57409
