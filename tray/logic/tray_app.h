// The tray's names as the system and the user see them.
#pragma once

inline constexpr wchar_t APP_TITLE[] = L"QOR Whitelist IP Updater";
inline constexpr wchar_t STATUS_CLASS[] = L"QORWhitelistIPUpdaterTray";
inline constexpr wchar_t SETTINGS_CLASS[] = L"QORWhitelistSettings";
