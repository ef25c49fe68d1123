; Installer of the whitelist agent, its service and the tray application.
; makensis -DVERSION=x.y.z -DARCH=x86|x64 -DBIN_DIR=<folder with the three programs>
;          -DGENERATED_DIR=<folder with product.nsh> -DOUT_FILE=<installer> [-DSIGN_SCRIPT=<sign.sh>]
; setup.exe [/S] [/TOKEN=<rule token> /SERVER_URL=<url>] configures the PC too.
; uninstall.exe [/S [/REMOVE_DATA]]: /REMOVE_DATA removes the settings silently.
Unicode true
!if "${ARCH}" == "x64"
  Target amd64-unicode
!endif

!include "${GENERATED_DIR}\product.nsh"
!include "FileFunc.nsh"
!include "StrFunc.nsh"
${StrStr}
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${SERVICE}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The service's event log source bears its name; whitelist.exe holds the sentences.
!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\${SERVICE}"

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
!ifdef SIGN_SCRIPT
  !uninstfinalize '"${SIGN_SCRIPT}" "%1"'
!endif
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!if "${ARCH}" == "x64"
  !define PROGRAM_FILES "$PROGRAMFILES64"
!else
  !define PROGRAM_FILES "$PROGRAMFILES"
!endif
InstallDir "${PROGRAM_FILES}\${PRODUCT}"
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
  ExecWait '"$SYSDIR\taskkill.exe" /F /IM ${TRAY_PROGRAM}'
!macroend

; The agent secures the install folder before any program is copied into
; it. It runs from a new folder under Program Files, which only
; administrators can write: never from the install folder itself, nor from
; a temporary folder users may add files (DLLs) to.
Function secure_folders_first
  GetTempFileName $0 "${PROGRAM_FILES}"
  Delete $0
  CreateDirectory $0
  File "/oname=$0\${SERVICE_PROGRAM}" "${BIN_DIR}\${SERVICE_PROGRAM}"
  nsExec::ExecToLog '"$0\${SERVICE_PROGRAM}" secure-folders "$INSTDIR"'
  ; Its exit code stays on the stack for the caller.
  Delete "$0\${SERVICE_PROGRAM}"
  RMDir $0
FunctionEnd

Var configure  ; not empty when /TOKEN or /SERVER_URL was given
Var token
Var server_url
Var configure_exit
Var configure_output

; Pops an option name ("/TOKEN="), pushes its value from the command line
; and sets the error flag when the option is absent. FileFunc's GetOptions
; ends a value at the next "/", which cuts every URL: here a value ends at the
; next " /" (neither a token nor a URL holds a blank) and may be quoted.
Function command_line_option
  Exch $R1
  Push $R0
  Push $R2
  Push $R3
  Push $R4
  ${GetParameters} $R0
  StrCpy $R0 " $R0"
  StrCpy $R1 " $R1"
  StrLen $R2 $R1
  StrCpy $R3 0
  ClearErrors
  find:
    StrCpy $R4 $R0 $R2 $R3
    StrCmp $R4 "" absent
    StrCmp $R4 $R1 found  ; StrCmp ignores case
    IntOp $R3 $R3 + 1
    Goto find
  found:
    IntOp $R3 $R3 + $R2
    StrCpy $R0 $R0 "" $R3
    StrCpy $R3 0
  value_end:
    StrCpy $R4 $R0 2 $R3
    StrCmp $R4 "" cut
    StrCmp $R4 " /" cut
    IntOp $R3 $R3 + 1
    Goto value_end
  cut:
    StrCpy $R1 $R0 $R3
    StrCpy $R4 $R1 1
    StrCmp $R4 '"' 0 done
    StrCpy $R4 $R1 1 -1
    StrCmp $R4 '"' 0 done
    StrCpy $R1 $R1 -1 1
    Goto done
  absent:
    StrCpy $R1 ""
    SetErrors
  done:
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R0
  Exch $R1
FunctionEnd

Function .onInit
  !insertmacro MACHINE_CONTEXT
  ; Either option asks for a configuration; an empty value is then refused by
  ; the agent like an empty one in configure mode.
  Push "/TOKEN="
  Call command_line_option
  Pop $token
  IfErrors +2
    StrCpy $configure 1
  Push "/SERVER_URL="
  Call command_line_option
  Pop $server_url
  IfErrors +2
    StrCpy $configure 1
FunctionEnd

; Offered at the end; a silent install never starts the tray itself. The
; shell starts it as the logged-on user, not with the installer's elevation,
; so that the files it writes first are not an administrator's.
Function .onInstSuccess
  IfSilent done
  MessageBox MB_YESNO|MB_ICONQUESTION "${PRODUCT} is installed. Start the tray application now?" IDNO done
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\${TRAY_PROGRAM}"'
  done:
FunctionEnd

Function un.onInit
  !insertmacro MACHINE_CONTEXT
FunctionEnd

Section "Install"
  !insertmacro STOP_SERVICE_AND_TRAY
  ; The program secures the data folder, "files" and a custom install folder
  ; (the service re-asserts the same descriptor at its start), and refuses an
  ; install folder users could have prepared. When this fails, nothing is
  ; copied, and during an upgrade the service stopped above runs again, as
  ; after a refused configuration below.
  Call secure_folders_first
  Pop $0
  StrCmp $0 "0" secured
    ExecWait '"$SYSDIR\sc.exe" start ${SERVICE}'
    MessageBox MB_OK|MB_ICONSTOP "Could not secure the program and data folders (exit code $0); see the details. The installation was stopped and nothing was copied; an installed service was started again." /SD IDOK
    SetErrorLevel 2
    Abort "Could not secure the program and data folders."
  secured:
  SetOutPath "$INSTDIR"
  SetOverwrite on
  !insertmacro INSTALL_PROGRAMS
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${TRAY_PROGRAM}"

  ; A new service is created; an existing one (an upgrade) is pointed at
  ; this folder again and keeps its registration.
  ExecWait `"$SYSDIR\sc.exe" create ${SERVICE} binPath= "\"$INSTDIR\${SERVICE_PROGRAM}\"" start= auto DisplayName= "${PRODUCT}"`
  ExecWait `"$SYSDIR\sc.exe" config ${SERVICE} binPath= "\"$INSTDIR\${SERVICE_PROGRAM}\"" start= auto`
  ExecWait `"$SYSDIR\sc.exe" description ${SERVICE} "${SERVICE_DESCRIPTION}"`
  ExecWait '"$SYSDIR\sc.exe" failure ${SERVICE} reset= 86400 actions= restart/60000/restart/60000/restart/300000'

  WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${TRAY_PROGRAM}"'
  WriteRegStr HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile" "$INSTDIR\${SERVICE_PROGRAM}"
  WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" 7

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${TRAY_PROGRAM}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  ; _?= runs the uninstaller in place, not from a copy it leaves running:
  ; the command ends when the uninstall has.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; /TOKEN and /SERVER_URL go through the agent's configure mode before the
  ; service starts, so it starts with them. nsExec keeps the command line
  ; (the token) out of the details list. A failed save fails the install,
  ; after the service has started with the settings it had; a failed
  ; registration is reported and left to the service's retries.
  StrCmp $configure "" start_service
    DetailPrint "Saving the rule token and server URL"
    nsExec::ExecToStack '"$INSTDIR\${SERVICE_PROGRAM}" --token "$token" --server-url "$server_url"'
    Pop $configure_exit
    Pop $configure_output
    StrCpy $token ""
    DetailPrint "$configure_output"
  start_service:
  ExecWait '"$SYSDIR\sc.exe" start ${SERVICE}'
  StrCmp $configure "" configured
  StrCmp $configure_exit 0 0 configure_failed
    ; The agent prints "Warning: ..." when the address is not registered yet.
    ${StrStr} $0 $configure_output "Warning:"
    StrCmp $0 "" configured
    MessageBox MB_ICONEXCLAMATION "The settings are saved, but the address is not registered yet; the service keeps trying.$\r$\n$\r$\n$configure_output" /SD IDOK
    Goto configured
  configure_failed:
    MessageBox MB_ICONSTOP "The settings could not be saved:$\r$\n$\r$\n$configure_output" /SD IDOK
    SetErrorLevel 2
    Abort "The settings could not be saved."
  configured:
SectionEnd

Var remove_data  ; not empty when the settings go too

Section "Uninstall"
  ; Asked first: the agent that removes the settings goes with the programs.
  ; Silent, the settings stay unless /REMOVE_DATA is given.
  IfSilent 0 ask_remove_data
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/REMOVE_DATA" $R1
    IfErrors remove_programs
    StrCpy $remove_data 1
    Goto remove_programs
  ask_remove_data:
  MessageBox MB_YESNO|MB_ICONQUESTION "Also remove your settings (rule token, server URL, last IP and log) from $APPDATA\${PRODUCT}?" IDNO remove_programs
    StrCpy $remove_data 1
  remove_programs:
  !insertmacro STOP_SERVICE_AND_TRAY
  ExecWait '"$SYSDIR\sc.exe" delete ${SERVICE}'
  DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  ; Users may write in the data folder and could have made it a link to any
  ; folder: the agent deletes its own files through the held folder and
  ; refuses a link, and the folder goes only when that left it empty.
  StrCmp $remove_data "" data_done
    nsExec::ExecToLog '"$INSTDIR\${SERVICE_PROGRAM}" remove-data'
    Pop $0
    StrCmp $0 "0" 0 data_refused
    RMDir "$APPDATA\${PRODUCT}"
    Goto data_done
  data_refused:
    MessageBox MB_ICONEXCLAMATION "Your settings could not be removed (exit code $0); see the details." /SD IDOK
    SetErrorLevel 2
  data_done:

  !insertmacro DELETE_PROGRAMS
  ; Run in place (_?=), the uninstaller can't delete itself until it ends.
  Delete /REBOOTOK "$INSTDIR\uninstall.exe"
  ; Downloaded customer files stay: the folders go only when they are empty.
  RMDir "$INSTDIR\files"
  RMDir /REBOOTOK "$INSTDIR"
SectionEnd
