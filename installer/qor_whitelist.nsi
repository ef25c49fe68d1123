; Installer of the whitelist agent, its service and the tray application.
; makensis -DVERSION=x.y.z -DARCH=x86|x64 -DBIN_DIR=<folder with the three programs> -DOUT_FILE=<installer>
Unicode true
!if "${ARCH}" == "x64"
  Target amd64-unicode
!endif

!define PRODUCT "QOR Whitelist IP Updater"
!define SERVICE "QORWhitelistIPUpdater"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${SERVICE}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "QOR Whitelist IP Updater Tray"
!define SERVICE_DESCRIPTION "Keeps the proxy service's IP allowlist in step with this PC's public address."

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!if "${ARCH}" == "x64"
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "LegalCopyright" ""

; The classic pages: they need no plugin.
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
ShowInstDetails show

; Registry views and the data folder must be the machine's, not the user's
; ($APPDATA is then the ProgramData folder).
!macro MACHINE_CONTEXT
  SetShellVarContext all
  !if "${ARCH}" == "x64"
    SetRegView 64
  !endif
!macroend

; "net stop" waits until the service has stopped, so its files can be replaced.
!macro STOP_SERVICE_AND_TRAY
  ExecWait '"$SYSDIR\net.exe" stop ${SERVICE}'
  ExecWait '"$SYSDIR\taskkill.exe" /F /IM tray.exe'
!macroend

Function .onInit
  !insertmacro MACHINE_CONTEXT
FunctionEnd

; Offered at the end; a silent install never starts the tray itself. The
; shell starts it as the logged-on user, not with the installer's elevation,
; so that the files it writes first are not an administrator's.
Function .onInstSuccess
  IfSilent done
  MessageBox MB_YESNO|MB_ICONQUESTION "${PRODUCT} is installed. Start the tray application now?" IDNO done
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\tray.exe"'
  done:
FunctionEnd

Function un.onInit
  !insertmacro MACHINE_CONTEXT
FunctionEnd

Section "Install"
  !insertmacro STOP_SERVICE_AND_TRAY
  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${BIN_DIR}\tray.exe"
  File "${BIN_DIR}\whitelist.exe"
  File "${BIN_DIR}\sync.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The program itself secures the data folder, "files" and a custom install
  ; folder: the service re-asserts the same descriptor at its start.
  nsExec::ExecToLog '"$INSTDIR\whitelist.exe" secure-folders "$INSTDIR"'
  Pop $0
  StrCmp $0 "0" secured
    MessageBox MB_OK|MB_ICONSTOP "Could not secure the program and data folders (exit code $0)." /SD IDOK
    Abort
  secured:

  ; A new service is created; an existing one (an upgrade) is pointed at
  ; this folder again and keeps its registration.
  ExecWait `"$SYSDIR\sc.exe" create ${SERVICE} binPath= "\"$INSTDIR\whitelist.exe\"" start= auto DisplayName= "${PRODUCT}"`
  ExecWait `"$SYSDIR\sc.exe" config ${SERVICE} binPath= "\"$INSTDIR\whitelist.exe\"" start= auto`
  ExecWait `"$SYSDIR\sc.exe" description ${SERVICE} "${SERVICE_DESCRIPTION}"`
  ExecWait '"$SYSDIR\sc.exe" failure ${SERVICE} reset= 86400 actions= restart/60000/restart/60000/restart/300000'
  ExecWait '"$SYSDIR\sc.exe" start ${SERVICE}'

  WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\tray.exe"'

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\tray.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  !insertmacro STOP_SERVICE_AND_TRAY
  ExecWait '"$SYSDIR\sc.exe" delete ${SERVICE}'
  DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\tray.exe"
  Delete "$INSTDIR\whitelist.exe"
  Delete "$INSTDIR\sync.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; Downloaded customer files stay: the folders go only when they are empty.
  RMDir "$INSTDIR\files"
  RMDir "$INSTDIR"

  ; The settings stay unless the user asks to remove them (silent: kept).
  MessageBox MB_YESNO|MB_ICONQUESTION "Also remove your settings (rule token, server URL, last IP and log) from $APPDATA\${PRODUCT}?" /SD IDNO IDNO keep_data
    RMDir /r "$APPDATA\${PRODUCT}"
  keep_data:
SectionEnd
