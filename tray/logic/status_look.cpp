#include "status_look.h"

#include <cwchar>

#include "text.h"

namespace {
struct status_look {
  const wchar_t* prefix;
  uint32_t color;
};
constexpr status_look STATUS_LOOKS[] = {
    {L"Error:", COLOR_RED},      {L"Up to date", COLOR_GREEN}, {L"Out of sync", COLOR_AMBER},
    {L"Awaiting", COLOR_AMBER},  {L"Syncing", COLOR_NEUTRAL},  {L"Not configured", COLOR_AMBER},
    {L"Could not", COLOR_AMBER},
};

struct status_detail {
  const wchar_t* status;
  const wchar_t* tooltip;
};
constexpr status_detail STATUS_DETAILS[] = {
    {STATUS_UP_TO_DATE, L"Your current public IP is registered on the server allowlist."},
    {STATUS_OUT_OF_SYNC,
     L"Your public IP changed since the last successful registration. Click Sync now to update the server "
     L"allowlist."},
    {STATUS_AWAITING, L"No IP has been registered yet. Click Sync now or wait for the background service."},
    {STATUS_NOT_CONFIGURED, L"Open Configuration and enter your rule token and server URL."},
};

bool starts_with(const wchar_t* text, const wchar_t* prefix) {
  return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}
}  // namespace

uint32_t status_color_for(const wchar_t* status) {
  if (!status || !*status) return COLOR_NEUTRAL;
  for (const status_look& look : STATUS_LOOKS) {
    if (starts_with(status, look.prefix)) return look.color;
  }
  if (std::wcsstr(status, L"inactive")) return COLOR_AMBER;
  return COLOR_NEUTRAL;
}

const wchar_t* status_tooltip_for(const wchar_t* status) {
  if (!status) return L"";
  for (const status_detail& detail : STATUS_DETAILS) {
    if (std::wcscmp(status, detail.status) == 0) return detail.tooltip;
  }
  return status;
}
