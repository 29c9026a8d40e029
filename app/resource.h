// Resource identifiers of Tolvane.exe. Messages keep the numbers the engines and the
// help texts refer to (57344 and up).
#pragma once

// The main frame's title, menu, icon and accelerators share one number.
#define IDR_MAINFRAME 128
#define IDD_DETECT_PAGE 129
#define IDI_HIDE_WINDOW 156
#define IDI_QUIT 157
#define IDI_TRAY 174
#define IDI_DETECT 197
#define IDI_REMOVE 198
#define IDB_LOGO 200
#define IDI_TRAY_ALERT 203

// Controls of the Detect/Remove page.
#define IDC_SCAN_GROUP 1000
#define IDC_DETECT 1001
#define IDC_REMOVE 1002
#define IDC_FOUND_LABEL 1003
#define IDC_RESULT_LIST 1004
#define IDC_LOGO_HOLDER 1005

// Commands of the frame's menu (no handlers) and the tray's "Open".
#define ID_OPERATION_DETECT 32771
#define ID_OPERATION_OPTIONS 32772
#define ID_APP_ABOUT 32773
#define ID_OPEN 32774
#define ID_ACCEL_REMOVE 32775

#define IDS_REMOVAL_SUCCEEDED 57345
#define IDS_REMOVAL_ERRORS 57346
#define IDS_NO_TROJANS 57347
#define IDS_SCAN_ENGINE_LOAD_FAILED 57348
#define IDS_CAPTION 57349
#define IDS_FIND_PROC_FAILED 57358
#define IDS_MEM_ALLOC_FAILED 57359
#define IDS_SIGNATURE_READ 57360
#define IDS_SIGNATURE_MAGIC 57361
#define IDS_SIGNATURE_MISSING 57362
#define IDS_DEFAULT_UPDATE_SERVER 57363
#define IDS_DEFAULT_UPDATE_USERNAME 57364
#define IDS_DEFAULT_UPDATE_PASSWORD 57365
#define IDS_REGISTRY_KEY_FAILED 57372
#define IDS_STARTUP_SHORTCUT_FAILED 57386
#define IDS_UNSPECIFIED_ERROR 57390
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

// The tray: its menu (which shares the icon's number), the framework's exit command,
// the timers' messages and the alert mail's text.
#define IDR_TRAY_MENU 140
#define ID_APP_EXIT 57665
#define IDS_ALERT_TEXT 57354
#define IDS_TIMER_UNAVAILABLE 57373
#define IDS_TIMER_KILL_FAILED 57374
