; TolvaneSetup.exe (32-bit edition) and TolvaneSetup-x64.exe (64-bit edition): install,
; upgrade and uninstall Tolvane.
;
; makensis /DBINDIR=<folder with Tolvane.exe, tolvane-scan.exe, kwreng32.dll, hyseng32.dll>
;          /DTSIGS=<tsigs.kws> /DPSIGS=<psigs.kws> /DOUTFILE=<TolvaneSetup.exe>
;          [/DEDITION=32|64] [/DVERSION=3.5]
;          [/DUPDATEKEY=<maker's public key, installed as updates.pub>]
;          [/DCOMPRESSOR=zlib]
;          installer/tolvane.nsi
; EDITION is the edition of the binaries in BINDIR (default 32). The setup is built for the
; same architecture: it loads the engines to let them register themselves, and Windows
; loads a DLL only into a process of its own kind. A 64-bit setup also writes its registry
; values and installs into the 64-bit views of the machine, where the 64-bit program and
; COM look for them, not into the WOW64 ones a 32-bit process is redirected to.
;
; Silent use: TolvaneSetup.exe /S [/D=C:\Some Folder]  (/D= last, unquoted)
; Exit status: 0 installed, 1 cancelled by the user, 2 a step failed (nothing claims success).

!ifndef EDITION
  !define EDITION 32
!endif
!if ${EDITION} == 64
  Target amd64-unicode
  !define PROGRAM_FILES_DIR "$PROGRAMFILES64"
  ; UnRegisterTypeLib finds a registration by the type library's SYSKIND: SYS_WIN64.
  !define TYPELIB_SYSKIND 3
!else if ${EDITION} == 32
  Unicode true
  !define PROGRAM_FILES_DIR "$PROGRAMFILES"
  !define TYPELIB_SYSKIND 1 ; SYS_WIN32
!else
  !error "EDITION is ${EDITION}: it must be 32 or 64"
!endif
!ifndef COMPRESSOR
  !define COMPRESSOR "/SOLID lzma"
!endif
SetCompressor ${COMPRESSOR}
RequestExecutionLevel admin

!ifndef BINDIR | TSIGS | PSIGS | OUTFILE
  !error "makensis /DBINDIR=... /DTSIGS=... /DPSIGS=... /DOUTFILE=... tolvane.nsi"
!endif
!ifndef VERSION
  !define VERSION "3.5"
!endif

!define PRODUCT "Tolvane"
!define PUBLISHER "Ostrimark"
!define PRODUCT_KEY "SOFTWARE\Ostrimark\Tolvane"
!define UNINSTALL_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tolvane"
!define MUTEX_NAME "{E5ADC861-A40C-11d2-8CE4-444553540000}"
!define FRAME_CLASS "TolvaneMainFrame"
!define SCAN_ENGINE_TYPELIB "{80951144-3F67-11D2-96E1-444553540000}"
!define PRIVACY_ENGINE_TYPELIB "{20FD62C1-8942-11D3-8CE4-0080C6F9B0FF}"
; How long a running copy gets to save its settings and end before the user is asked.
!define EXIT_WAIT_MS 20000

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "${PROGRAM_FILES_DIR}\Tolvane"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
; A file that cannot be written is a failed installation, never a skipped file.
AllowSkipFiles off

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WinMessages.nsh"
!include "StrFunc.nsh"
${StrStr}

; The program's own icon, so that the setup and the uninstaller look like what they install.
!define MUI_ICON "${__FILEDIR__}/../app/res/tolvane.ico"
!define MUI_UNICON "${__FILEDIR__}/../app/res/tolvane.ico"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start Tolvane now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Var Failed
Var RequestedDir

; --- shared by the setup and the uninstaller -------------------------------------------

!macro SHARED_FUNCTIONS UN
; Records a failed step: shown to the user (not in silent mode), kept in the details, and
; the exit status becomes 2. The caller aborts.
Function ${UN}FailStep
  Exch $0
  DetailPrint "Failed: $0"
  StrCpy $Failed 1
  SetErrorLevel 2
  MessageBox MB_OK|MB_ICONSTOP "$0" /SD IDOK
  Pop $0
FunctionEnd

; Posts WM_CLOSE to the enabled, visible top-level windows of process $2: the main
; window, and a message box or dialog it has open. A window below a modal one is disabled
; and waits for the next round.
Function ${UN}CloseProgramWindows
  Push $5
  Push $6
  Push $7
  StrCpy $5 0
  next:
  System::Call 'user32::FindWindowExW(p 0, p r5, p 0, p 0) p .r5'
  ${If} $5 = 0
    Goto done
  ${EndIf}
  System::Call 'user32::GetWindowThreadProcessId(p r5, *i .r6)'
  ${If} $6 = $2
    System::Call 'user32::IsWindowVisible(p r5) i .r6'
    System::Call 'user32::IsWindowEnabled(p r5) i .r7'
    ${If} $6 <> 0
    ${AndIf} $7 <> 0
      System::Call 'user32::PostMessageW(p r5, i ${WM_CLOSE}, p 0, p 0)'
    ${EndIf}
  ${EndIf}
  Goto next
  done:
  Pop $7
  Pop $6
  Pop $5
FunctionEnd

; A running Tolvane.exe holds the engines and its own files open, and saves its settings
; when it ends: ask it to exit as its tray menu's Exit does, and wait until it has.
; Leaves "" on the stack when no copy runs any more, else an error text.
Function ${UN}ExitRunningProgram
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  retry:
  FindWindow $0 "${FRAME_CLASS}"
  ${If} $0 = 0
    ; A copy still starting has its mutex before its frame.
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${MUTEX_NAME}") p .r1'
    ${If} $1 = 0
      StrCpy $0 ""
      Goto done
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r1)'
    Sleep 1000
    FindWindow $0 "${FRAME_CLASS}"
    ${If} $0 = 0
      Goto still_running
    ${EndIf}
  ${EndIf}
  DetailPrint "Asking the running Tolvane to exit"
  System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r2)'
  System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r2) p .r3'
  ${If} $3 = 0
    Goto still_running
  ${EndIf}
  ; While a scan's message box or the main window is open the frame only notes the
  ; request; it ends once they are closed, as their OK or Cancel would.
  System::Call 'user32::PostMessageW(p r0, i ${WM_CLOSE}, p 0, p 0)'
  StrCpy $4 0
  wait:
  System::Call 'kernel32::WaitForSingleObject(p r3, i 500) i .r1'
  ${If} $1 = 0
    System::Call 'kernel32::CloseHandle(p r3)'
    Goto retry
  ${EndIf}
  Call ${UN}CloseProgramWindows
  IntOp $4 $4 + 500
  ${If} $4 < ${EXIT_WAIT_MS}
    Goto wait
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p r3)'
  still_running:
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Tolvane is still running and did not exit when asked.$\r$\nClose its windows, choose Exit in its tray menu, and click Retry." /SD IDCANCEL IDRETRY retry
  StrCpy $0 "Tolvane is still running; its files cannot be replaced or removed."
  done:
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Calls an engine module's own registration export (DllRegisterServer or
; DllUnregisterServer). Stack in: module path, export name. Out: "" or an error text.
Function ${UN}CallEngineExport
  Exch $1 ; export
  Exch
  Exch $0 ; module
  Push $2
  Push $3
  Push $4
  System::Call 'kernel32::LoadLibraryW(w r0) p .r2 ?e'
  Pop $4
  ${If} $2 = 0
    StrCpy $0 "$0 could not be loaded (system error $4)."
    Goto done
  ${EndIf}
  System::Call 'kernel32::GetProcAddress(p r2, m r1) p .r3'
  ${If} $3 = 0
    StrCpy $0 "$0 has no $1 export: it is not a Tolvane engine module."
  ${Else}
    System::Call '::$3() i .r4'
    ${If} $4 = 0
      StrCpy $0 ""
    ${Else}
      IntFmt $4 "0x%08X" $4
      StrCpy $0 "$1 of $0 failed with $4."
    ${EndIf}
  ${EndIf}
  System::Call 'kernel32::FreeLibrary(p r2)'
  done:
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro SHARED_FUNCTIONS ""
!insertmacro SHARED_FUNCTIONS "un."

; Aborts with `text` unless the error flag is clear.
!macro CHECK_STEP text
  ${If} ${Errors}
    Push "${text}"
    Call FailStep
    Abort
  ${EndIf}
!macroend
!define CheckStep "!insertmacro CHECK_STEP"

!macro INSTALL_FILE source target
  ClearErrors
  File "/oname=${target}" "${source}"
  ${CheckStep} "Could not write $OUTDIR\${target}."
!macroend
!define InstallFile "!insertmacro INSTALL_FILE"

!macro WRITE_VALUE kind key name value
  ClearErrors
  WriteReg${kind} HKLM "${key}" "${name}" "${value}"
  ${CheckStep} "Could not write the registry value HKEY_LOCAL_MACHINE\${key}\${name}."
!macroend
!define WriteValue "!insertmacro WRITE_VALUE"

!macro ENGINE_EXPORT prefix module export
  Push "${module}"
  Push "${export}"
  Call ${prefix}CallEngineExport
  Pop $0
!macroend

; --- setup ------------------------------------------------------------------------------

!macro SET_REGISTRY_VIEW
!if ${EDITION} == 64
  SetRegView 64
!endif
!macroend

Function .onInit
  SetShellVarContext all
  !insertmacro SET_REGISTRY_VIEW
  System::Call 'ole32::OleInitialize(p 0)'
  ; Given a folder it cannot use, the setup would go quietly to the default one: keep
  ; what /D= asked for (it is gone from $CMDLINE by now) to refuse that in silent mode.
  System::Call 'kernel32::GetCommandLineW() w .r0'
  ${StrStr} $RequestedDir $0 " /D="
  StrCpy $RequestedDir $RequestedDir "" 4
  StrCpy $0 $RequestedDir 1 -1
  ${If} $0 == "\"
    StrCpy $RequestedDir $RequestedDir -1
  ${EndIf}
FunctionEnd

Function StartProgram
  ; The program works in its install folder, as its shortcuts start it.
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\Tolvane.exe"'
FunctionEnd

; Adds the size of one installed file to $1 (bytes).
!macro ADD_FILE_SIZE path
  ClearErrors
  FileOpen $2 "${path}" r
  ${IfNot} ${Errors}
    FileSeek $2 0 END $3
    FileClose $2
    IntOp $1 $1 + $3
  ${EndIf}
!macroend

Section "Tolvane" SectionProgram
  SectionIn RO
  StrCpy $Failed 0

  Call ExitRunningProgram
  Pop $0
  ${If} $0 != ""
    Push $0
    Call FailStep
    Abort
  ${EndIf}

  ${If} ${Silent}
  ${AndIf} $RequestedDir != ""
  ${AndIf} $INSTDIR != $RequestedDir
    Push "The folder $RequestedDir cannot be used for Tolvane."
    Call FailStep
    Abort
  ${EndIf}
  ClearErrors
  CreateDirectory "$INSTDIR\Plugins"
  ${CheckStep} "Could not create the folder $INSTDIR."
  ; Settings live in the registry; the log and "Infected Files" beside the program are the
  ; user's and stay as they are over an upgrade.
  SetOverwrite on
  SetOutPath "$INSTDIR"
  ${InstallFile} "${BINDIR}/Tolvane.exe" "Tolvane.exe"
  ${InstallFile} "${BINDIR}/tolvane-scan.exe" "tolvane-scan.exe"
  ${InstallFile} "${TSIGS}" "tsigs.kws"
  ${InstallFile} "${PSIGS}" "psigs.kws"
!ifdef UPDATEKEY
  ${InstallFile} "${UPDATEKEY}" "updates.pub"
!endif
  SetOutPath "$INSTDIR\Plugins"
  ${InstallFile} "${BINDIR}/kwreng32.dll" "kwreng32.dll"
  ${InstallFile} "${BINDIR}/hyseng32.dll" "hyseng32.dll"
  SetOutPath "$INSTDIR"
  ClearErrors
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${CheckStep} "Could not write $INSTDIR\uninstall.exe."

  ; The engines write their own registrations, pointing at where they now lie.
  !insertmacro ENGINE_EXPORT "" "$INSTDIR\Plugins\kwreng32.dll" "DllRegisterServer"
  ${If} $0 != ""
    Push "The scan engine could not be registered: $0"
    Call FailStep
    Abort
  ${EndIf}
  !insertmacro ENGINE_EXPORT "" "$INSTDIR\Plugins\hyseng32.dll" "DllRegisterServer"
  ${If} $0 != ""
    Push "The privacy engine could not be registered: $0"
    Call FailStep
    Abort
  ${EndIf}
  DetailPrint "Engines registered"

  ${WriteValue} Str "${PRODUCT_KEY}\3.5" "Path" "$INSTDIR\Tolvane.exe"
  ${WriteValue} Str "${PRODUCT_KEY}" "PluginsDir" "$INSTDIR\Plugins"

  ClearErrors
  CreateDirectory "$SMPROGRAMS\Tolvane"
  CreateShortCut "$SMPROGRAMS\Tolvane\Tolvane.lnk" "$INSTDIR\Tolvane.exe"
  CreateShortCut "$SMPROGRAMS\Tolvane\Tolvane Log.lnk" "$INSTDIR\Tolvane.log"
  CreateShortCut "$SMPROGRAMS\Tolvane\Uninstall Tolvane.lnk" "$INSTDIR\uninstall.exe"
  ${CheckStep} "Could not create the Start menu shortcuts in $SMPROGRAMS\Tolvane."

  StrCpy $1 0
  !insertmacro ADD_FILE_SIZE "$INSTDIR\Tolvane.exe"
  !insertmacro ADD_FILE_SIZE "$INSTDIR\tolvane-scan.exe"
  !insertmacro ADD_FILE_SIZE "$INSTDIR\tsigs.kws"
  !insertmacro ADD_FILE_SIZE "$INSTDIR\psigs.kws"
  !insertmacro ADD_FILE_SIZE "$INSTDIR\updates.pub"
  !insertmacro ADD_FILE_SIZE "$INSTDIR\uninstall.exe"
  !insertmacro ADD_FILE_SIZE "$INSTDIR\Plugins\kwreng32.dll"
  !insertmacro ADD_FILE_SIZE "$INSTDIR\Plugins\hyseng32.dll"
  IntOp $1 $1 + 1023
  IntOp $1 $1 / 1024
  ${WriteValue} Str "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  ${WriteValue} Str "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  ${WriteValue} Str "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  ${WriteValue} Str "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Tolvane.exe"
  ${WriteValue} Str "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ${WriteValue} Str "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\uninstall.exe$\""
  ${WriteValue} Str "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\uninstall.exe$\" /S"
  ${WriteValue} DWORD "${UNINSTALL_KEY}" "EstimatedSize" $1
  ${WriteValue} DWORD "${UNINSTALL_KEY}" "NoModify" 1
  ${WriteValue} DWORD "${UNINSTALL_KEY}" "NoRepair" 1
  DetailPrint "Tolvane ${VERSION} is installed in $INSTDIR"
SectionEnd

; --- uninstaller ------------------------------------------------------------------------

Function un.onInit
  SetShellVarContext all
  !insertmacro SET_REGISTRY_VIEW
  System::Call 'ole32::OleInitialize(p 0)'
FunctionEnd

!macro UN_REMOVE_FILE path
  ${If} ${FileExists} "${path}"
    ClearErrors
    Delete "${path}"
    ${If} ${Errors}
      Push "Could not remove ${path}."
      Call un.FailStep
    ${EndIf}
  ${EndIf}
!macroend
!define UnRemoveFile "!insertmacro UN_REMOVE_FILE"

Section "Uninstall"
  StrCpy $Failed 0
  Call un.ExitRunningProgram
  Pop $0
  ${If} $0 != ""
    Push $0
    Call un.FailStep
    Abort
  ${EndIf}

  ; Unregistration leaves the type libraries registered, and a module that is gone
  ; cannot unregister itself: the uninstaller removes both kinds of leftovers.
  ${If} ${FileExists} "$INSTDIR\Plugins\kwreng32.dll"
    !insertmacro ENGINE_EXPORT "un." "$INSTDIR\Plugins\kwreng32.dll" "DllUnregisterServer"
    ${If} $0 != ""
      Push "The scan engine could not be unregistered: $0"
      Call un.FailStep
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\Plugins\hyseng32.dll"
    !insertmacro ENGINE_EXPORT "un." "$INSTDIR\Plugins\hyseng32.dll" "DllUnregisterServer"
    ${If} $0 != ""
      Push "The privacy engine could not be unregistered: $0"
      Call un.FailStep
    ${EndIf}
  ${EndIf}
  ; Version 1.0, LCID 0. It also removes the interfaces' keys, which the TypeLib key
  ; deletion below would leave behind.
  System::Call 'oleaut32::UnRegisterTypeLib(g "${SCAN_ENGINE_TYPELIB}", i 1, i 0, i 0, i ${TYPELIB_SYSKIND})'
  System::Call 'oleaut32::UnRegisterTypeLib(g "${PRIVACY_ENGINE_TYPELIB}", i 1, i 0, i 0, i ${TYPELIB_SYSKIND})'
  DeleteRegKey HKCR "TypeLib\${SCAN_ENGINE_TYPELIB}"
  DeleteRegKey HKCR "TypeLib\${PRIVACY_ENGINE_TYPELIB}"

  ${UnRemoveFile} "$INSTDIR\Plugins\kwreng32.dll"
  ${UnRemoveFile} "$INSTDIR\Plugins\hyseng32.dll"
  RMDir "$INSTDIR\Plugins"
  ${UnRemoveFile} "$INSTDIR\Tolvane.exe"
  ${UnRemoveFile} "$INSTDIR\tolvane-scan.exe"
  ${UnRemoveFile} "$INSTDIR\tsigs.kws"
  ${UnRemoveFile} "$INSTDIR\psigs.kws"
  ${UnRemoveFile} "$INSTDIR\updates.pub"
  ; Engine modules an update staged for the next exit, and the update's version file.
  ${UnRemoveFile} "$INSTDIR\kwreng32.tmp"
  ${UnRemoveFile} "$INSTDIR\hyseng32.tmp"
  ${UnRemoveFile} "$WINDIR\tsigs.ini"
  ; Run in place (uninstall.exe /S _?=folder) the uninstaller cannot delete itself now.
  ${If} $EXEPATH == "$INSTDIR\uninstall.exe"
    Delete /REBOOTOK "$INSTDIR\uninstall.exe"
    DetailPrint "$INSTDIR\uninstall.exe goes at the next restart"
  ${Else}
    ${UnRemoveFile} "$INSTDIR\uninstall.exe"
  ${EndIf}

  ${UnRemoveFile} "$SMPROGRAMS\Tolvane\Tolvane.lnk"
  ${UnRemoveFile} "$SMPROGRAMS\Tolvane\Tolvane Log.lnk"
  ${UnRemoveFile} "$SMPROGRAMS\Tolvane\Uninstall Tolvane.lnk"
  RMDir "$SMPROGRAMS\Tolvane"
  ; The program keeps its start-up shortcut in the Startup folder of the user who turned
  ; "Load on startup" on.
  SetShellVarContext current
  ${UnRemoveFile} "$SMSTARTUP\Tolvane.lnk"
  SetShellVarContext all
  ${UnRemoveFile} "$SMSTARTUP\Tolvane.lnk"

  ; The quarantine holds the files Tolvane removed, and the log says what it did: they are
  ; the user's, so they go only when the user says so, never in silent mode.
  ${If} ${FileExists} "$INSTDIR\Infected Files\*.*"
  ${OrIf} ${FileExists} "$INSTDIR\Tolvane.log"
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Also delete the quarantine folder $\"Infected Files$\" (the files Tolvane removed, which could still be restored) and the log file Tolvane.log?$\r$\n$\r$\nChoose No to keep them in $INSTDIR." /SD IDNO IDNO keep_user_data
    ClearErrors
    RMDir /r "$INSTDIR\Infected Files"
    Delete "$INSTDIR\Tolvane.log"
    ${If} ${Errors}
      Push "Could not remove the quarantine folder or the log in $INSTDIR."
      Call un.FailStep
    ${EndIf}
    keep_user_data:
  ${EndIf}
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Ostrimark"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ${If} $Failed = 1
    Abort "Tolvane was not removed completely."
  ${EndIf}
  DetailPrint "Tolvane is removed"
SectionEnd
