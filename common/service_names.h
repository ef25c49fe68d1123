// Names of the agent's Windows service and program, shared by the agent and the tray.
#pragma once

inline constexpr wchar_t SERVICE_NAME[] = L"QORWhitelistIPUpdater";
// The agent's second file name, under which it also offers the files command.
inline constexpr wchar_t SYNC_PROGRAM_NAME[] = L"sync.exe";
// Optional settings an administrator may give the service (HKLM).
inline constexpr wchar_t SERVICE_PARAMETERS_KEY[] =
    L"SYSTEM\\CurrentControlSet\\Services\\QORWhitelistIPUpdater\\Parameters";
// REG_DWORD: seconds after which an unchanged address is sent again; 0: never.
inline constexpr wchar_t REASSERT_SECONDS_VALUE[] = L"ReassertSeconds";
// The service's source in the Application event log bears its name (the
// installers register it so).
inline constexpr const wchar_t* EVENT_SOURCE_NAME = SERVICE_NAME;

// The reload notification: a command-line registration asks the running
// service to re-read last_ip.txt, through this event or, when the event
// can't be opened, through this user-defined control code.
inline constexpr wchar_t RELOAD_EVENT_NAME[] = L"Global\\QORWhitelistIPUpdaterReloadLastIp";
inline constexpr unsigned long SERVICE_CONTROL_RELOAD_LAST_IP = 128;
