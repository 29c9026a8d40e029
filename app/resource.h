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

// The update client's progress window (update.rc) and messages.
#define IDD_DOWNLOAD_PROGRESS 7100
#define IDC_UPDATE_STATUS 7101
#define IDC_UPDATE_PERCENT 7102
#define IDC_UPDATE_PROGRESS 7103
#define IDS_UPDATE_DOWNLOADED 57380
#define IDS_UPDATE_NOT_NEEDED 57381
#define IDS_UPDATE_CANCELED 57382
#define IDS_UPDATE_FAILED 57383
#define IDS_UPDATE_SERVER_UNREACHABLE 57411
