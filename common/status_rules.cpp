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

// SERVICE_STOPPED .. SERVICE_PAUSED are 1 .. 7; the last three have no text
// of their own (the service accepts no pause) and show their number.
struct service_state_name {
  const wchar_t* text;
  const char* word;
};
constexpr service_state_name SERVICE_STATE_NAMES[] = {
    {STATE_STOPPED, "stopped"}, {STATE_STARTING, "starting"}, {STATE_STOPPING, "stopping"},
    {STATE_RUNNING, "running"}, {nullptr, "continuing"},      {nullptr, "pausing"},
    {nullptr, "paused"},
};

const service_state_name* named_state(unsigned long state) {
  return state >= 1 && state <= std::size(SERVICE_STATE_NAMES) ? &SERVICE_STATE_NAMES[state - 1] : nullptr;
}

bool row_matches(const classification& row, const wchar_t* text) {
  for (const wchar_t* needle : row.needles) {
    if (!needle) break;
    if (row.ignore_case ? contains_nocase(text, needle) : std::wcsstr(text, needle) != nullptr) return true;
  }
  return false;
}

// The rules in order; the first that applies decides.
allowlist_state decide_status(wchar_t* out, size_t cap, const wchar_t* public_ip,
                              const wchar_t* cached_last_ip, status_sources& sources) {
  auto decided = [&](allowlist_state state, const wchar_t* text) {
    copy_bounded(out, cap, text);
    return state;
  };
  if (!sources.configured()) return decided(allowlist_state::not_configured, STATUS_NOT_CONFIGURED);
  wchar_t error[LAST_ERROR_TEXT_CAPACITY] = {};
  if (sources.last_error(error, LAST_ERROR_TEXT_CAPACITY) && error[0]) {
    classify_last_error(error, out, cap);
    return allowlist_state::error;
  }
  wchar_t state[SERVICE_STATE_CAPACITY] = {};
  sources.service_state(state, SERVICE_STATE_CAPACITY);
  if (!is_running_text(state)) {
    format_bounded(out, cap, FORMAT_SERVICE_INACTIVE, state);
    return allowlist_state::service_stopped;
  }
  // A second detection serves this decision only; the caller's field stays.
  wchar_t detected[SHORT_FIELD_CAPACITY] = {};
  if (!public_ip || !*public_ip) {
    if (sources.detect_public_ip(detected, SHORT_FIELD_CAPACITY)) public_ip = detected;
  }
  const wchar_t* last_ip = cached_last_ip ? cached_last_ip : L"";
  if (!public_ip || !*public_ip) return decided(allowlist_state::no_public_ip, STATUS_NO_PUBLIC_IP);
  if (!*last_ip) return decided(allowlist_state::awaiting_first_sync, STATUS_AWAITING);
  if (equals_ignore_case(public_ip, last_ip)) return decided(allowlist_state::up_to_date, STATUS_UP_TO_DATE);
  return decided(allowlist_state::out_of_sync, STATUS_OUT_OF_SYNC);
}
}  // namespace

bool contains_nocase(const wchar_t* text, const wchar_t* needle) {
  if (!text || !needle || !*needle) return false;
  wchar_t haystack[NOCASE_TEXT_CAPACITY];
  wchar_t wanted[NOCASE_NEEDLE_CAPACITY];
  copy_bounded(haystack, NOCASE_TEXT_CAPACITY, text);
  copy_bounded(wanted, NOCASE_NEEDLE_CAPACITY, needle);
  lower_in_place(haystack, std::wcslen(haystack));
  lower_in_place(wanted, std::wcslen(wanted));
  return std::wcsstr(haystack, wanted) != nullptr;
}

void shorten_token(const wchar_t* token, wchar_t* out, size_t cap) {
  wchar_t preview[TOKEN_PREVIEW_CHARS + 1];
  copy_bounded(preview, std::size(preview), token);
  format_bounded(out, cap, L"%s...", preview);
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
  if (const service_state_name* name = named_state(state); name && name->text)
    copy_bounded(out, cap, name->text);
  else
    format_bounded(out, cap, FORMAT_STATE_OTHER, static_cast<unsigned>(state));
}

const char* service_state_word(service_answer answer, unsigned long state) {
  switch (answer) {
    case service_answer::not_installed: return "not_installed";
    case service_answer::query_failed: return "unknown";
    case service_answer::state: break;
  }
  const service_state_name* name = named_state(state);
  return name ? name->word : "unknown";
}

const char* allowlist_state_word(allowlist_state state) {
  switch (state) {
    case allowlist_state::not_configured: return "not_configured";
    case allowlist_state::error: return "error";
    case allowlist_state::service_stopped: return "service_stopped";
    case allowlist_state::no_public_ip: return "no_public_ip";
    case allowlist_state::awaiting_first_sync: return "awaiting_first_sync";
    case allowlist_state::up_to_date: return "up_to_date";
    case allowlist_state::out_of_sync: return "out_of_sync";
  }
  return "error";
}

bool is_running_text(const wchar_t* state_text) {
  return equals_ignore_case(state_text, STATE_RUNNING);
}

void compute_allowlist_status(wchar_t* out, size_t cap, const wchar_t* public_ip,
                              const wchar_t* cached_last_ip, status_sources& sources,
                              allowlist_state* state) {
  if (!out || cap == 0) return;
  allowlist_state decided = decide_status(out, cap, public_ip, cached_last_ip, sources);
  if (state) *state = decided;
}
