// Names of the agent's Windows service, shared by the agent and the tray.
#pragma once

inline constexpr wchar_t SERVICE_NAME[] = L"QORWhitelistIPUpdater";
