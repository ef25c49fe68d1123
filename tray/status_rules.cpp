#include "status_rules.h"

#include <cwchar>

#include "text.h"

namespace {
struct classification {
  const wchar_t* needles[4];
  bool ignore_case;
  const wchar_t* result;
};

// The first matching row decides, so the order is part of the meaning: a
// text naming both an "internet connection" and a failed connection is about
// the public IP. Row 5 looks for the real secure-channel codes; 12029 is a
// plain failure to connect and belongs to row 6.
constexpr classification CLASSIFICATION[] = {
    {{L"invalid token", L"unauthorized", L"forbidden", L"rotated"}, true, L"Error: invalid token"},
    {{L"not configured", L"no configuration"}, true, L"Error: not configured"},
    {{L"public ip", L"internet connection"}, true, L"Error: no public IP"},
    {{L"12007", L"name_not_resolved", L"dns"}, true, L"Error: server not found (DNS)"},
    {{L"12175", L"12157", L"tls", L"certificate"}, true, L"Error: TLS/certificate problem"},
    {{L"winhttp", L"cannot reach", L"connection"}, true, L"Error: cannot reach server"},
    {{L"502"}, false, L"Error: server unreachable (502)"},
    {{L"bad gateway"}, true, L"Error: server unreachable (502)"},
    {{L"401"}, false, L"Error: unauthorized (401)"},
    {{L"403"}, false, L"Error: forbidden (403)"},
    {{L"proxy requires authentication"}, true, L"Error: proxy needs sign-in"},
};
constexpr wchar_t HTTP_MARK[] = L"HTTP ";
constexpr wchar_t FORMAT_HTTP_ERROR[] = L"Error: %s";
constexpr wchar_t SYNC_FAILED[] = L"Error: sync failed";

bool row_matches(const classification& row, const wchar_t* text) {
  for (const wchar_t* needle : row.needles) {
    if (!needle) break;
    if (row.ignore_case ? contains_nocase(text, needle) : std::wcsstr(text, needle) != nullptr) return true;
  }
  return false;
}

bool starts_with(const wchar_t* text, const wchar_t* prefix) {
  return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

struct status_look {
  const wchar_t* prefix;
  uint32_t color;
};
constexpr status_look STATUS_LOOKS[] = {
    {L"Error:", COLOR_RED},        {L"Up to date", COLOR_GREEN},     {L"Out of sync", COLOR_AMBER},
    {L"Awaiting", COLOR_AMBER},    {L"Syncing", COLOR_NEUTRAL},      {L"Not configured", COLOR_AMBER},
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
}  // namespace

int contains_nocase(const wchar_t* text, const wchar_t* needle) {
  if (!text || !needle || !*needle) return 0;
  wchar_t haystack[NOCASE_TEXT_CAPACITY];
  wchar_t wanted[NOCASE_NEEDLE_CAPACITY];
  copy_bounded(haystack, NOCASE_TEXT_CAPACITY, text);
  copy_bounded(wanted, NOCASE_NEEDLE_CAPACITY, needle);
  lower_in_place(haystack, std::wcslen(haystack));
  lower_in_place(wanted, std::wcslen(wanted));
  return std::wcsstr(haystack, wanted) ? 1 : 0;
}

void classify_last_error(const wchar_t* text, wchar_t* out, size_t cap) {
  if (!out || cap == 0) return;
  if (!text || !*text) {
    copy_bounded(out, cap, SYNC_FAILED);
    return;
  }
  for (const classification& row : CLASSIFICATION) {
    if (row_matches(row, text)) {
      copy_bounded(out, cap, row.result);
      return;
    }
  }
  if (const wchar_t* http = std::wcsstr(text, HTTP_MARK)) {
    // The status code and what follows, up to the first full stop.
    wchar_t excerpt[HTTP_EXCERPT_MAX + 1];
    copy_bounded(excerpt, std::size(excerpt), http);
    if (wchar_t* stop = std::wcschr(excerpt, L'.')) *stop = L'\0';
    format_bounded(out, cap, FORMAT_HTTP_ERROR, excerpt);
    return;
  }
  copy_bounded(out, cap, SYNC_FAILED);
}

void service_state_text(service_answer answer, unsigned long state, wchar_t* out, size_t cap) {
  switch (answer) {
    case service_answer::not_installed: copy_bounded(out, cap, STATE_NOT_INSTALLED); return;
    case service_answer::query_failed: copy_bounded(out, cap, STATE_UNKNOWN); return;
    case service_answer::state: break;
  }
  // SERVICE_STOPPED .. SERVICE_RUNNING are 1 .. 4.
  switch (state) {
    case 1: copy_bounded(out, cap, STATE_STOPPED); return;
    case 2: copy_bounded(out, cap, STATE_STARTING); return;
    case 3: copy_bounded(out, cap, STATE_STOPPING); return;
    case 4: copy_bounded(out, cap, STATE_RUNNING); return;
    default: format_bounded(out, cap, FORMAT_STATE_OTHER, static_cast<unsigned>(state)); return;
  }
}

bool is_running_text(const wchar_t* state_text) { return equals_ignore_case(state_text, STATE_RUNNING); }

int compute_allowlist_status(wchar_t* out, size_t cap, const wchar_t* public_ip, const wchar_t* cached_last_ip,
                             status_sources& sources) {
  if (!out || cap == 0) return -1;
  if (!sources.configured()) {
    copy_bounded(out, cap, STATUS_NOT_CONFIGURED);
    return 0;
  }
  wchar_t error[LAST_ERROR_TEXT_CAPACITY] = {};
  if (sources.last_error(error, LAST_ERROR_TEXT_CAPACITY) && error[0]) {
    classify_last_error(error, out, cap);
    return 0;
  }
  wchar_t state[SERVICE_STATE_CAPACITY] = {};
  sources.service_state(state, SERVICE_STATE_CAPACITY);
  if (!is_running_text(state)) {
    format_bounded(out, cap, FORMAT_SERVICE_INACTIVE, state);
    return 0;
  }
  // A second detection serves this decision only; the caller's field stays.
  wchar_t detected[SHORT_FIELD_CAPACITY] = {};
  if (!public_ip || !*public_ip) {
    if (sources.detect_public_ip(detected, SHORT_FIELD_CAPACITY)) public_ip = detected;
  }
  const wchar_t* last_ip = cached_last_ip ? cached_last_ip : L"";
  if (!public_ip || !*public_ip)
    copy_bounded(out, cap, STATUS_NO_PUBLIC_IP);
  else if (!*last_ip)
    copy_bounded(out, cap, STATUS_AWAITING);
  else if (equals_ignore_case(public_ip, last_ip))
    copy_bounded(out, cap, STATUS_UP_TO_DATE);
  else
    copy_bounded(out, cap, STATUS_OUT_OF_SYNC);
  return 0;
}

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

void shorten_token(const wchar_t* token, wchar_t* out, size_t cap) {
  wchar_t preview[TOKEN_PREVIEW_CHARS + 1];
  copy_bounded(preview, std::size(preview), token);
  format_bounded(out, cap, L"%s...", preview);
}
