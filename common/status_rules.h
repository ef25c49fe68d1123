// The status decisions shared by the tray and `status --json`, as plain text
// logic: error classification, service states, the allowlist status. No
// window and no file is touched here.
#pragma once

#include <cstddef>

inline constexpr size_t SERVICE_STATE_CAPACITY = 64;
inline constexpr size_t SHORT_FIELD_CAPACITY = 64;
inline constexpr size_t STATUS_TEXT_CAPACITY = 512;
inline constexpr size_t NOCASE_TEXT_CAPACITY = 2048;
inline constexpr size_t NOCASE_NEEDLE_CAPACITY = 256;
inline constexpr size_t HTTP_EXCERPT_MAX = 79;
inline constexpr size_t LAST_ERROR_TEXT_CAPACITY = 2048;
inline constexpr size_t TOKEN_PREVIEW_CHARS = 8;
inline constexpr size_t TOKEN_DISPLAY_CAPACITY = 32;

// Service states.
inline constexpr wchar_t STATE_NOT_INSTALLED[] = L"Not installed";
inline constexpr wchar_t STATE_UNKNOWN[] = L"Unknown";
inline constexpr wchar_t STATE_STOPPED[] = L"Stopped";
inline constexpr wchar_t STATE_STARTING[] = L"Starting";
inline constexpr wchar_t STATE_STOPPING[] = L"Stopping";
inline constexpr wchar_t STATE_RUNNING[] = L"Running";
inline constexpr wchar_t FORMAT_STATE_OTHER[] = L"State %u";

// Allowlist statuses.
inline constexpr wchar_t STATUS_NOT_CONFIGURED[] = L"Not configured";
inline constexpr wchar_t FORMAT_SERVICE_INACTIVE[] = L"Service %s - sync inactive";
inline constexpr wchar_t STATUS_NO_PUBLIC_IP[] = L"Could not detect public IP";
inline constexpr wchar_t STATUS_AWAITING[] = L"Awaiting first sync";
inline constexpr wchar_t STATUS_UP_TO_DATE[] = L"Up to date";
inline constexpr wchar_t STATUS_OUT_OF_SYNC[] = L"Out of sync - sync needed";
// Every classified error starts so; what follows is its short reason.
inline constexpr wchar_t ERROR_STATUS_PREFIX[] = L"Error: ";

// The allowlist status as a stable word for scripts (its text may change).
enum class allowlist_state {
  not_configured,
  error,
  service_stopped,
  no_public_ip,
  awaiting_first_sync,
  up_to_date,
  out_of_sync
};
const char* allowlist_state_word(allowlist_state state);

// Whether needle occurs in text ignoring case (the system's lowering); false
// when either is null or the needle is empty. Inputs longer than 2047 / 255
// units are cut before the search.
[[nodiscard]] bool contains_nocase(const wchar_t* text, const wchar_t* needle);
// Lowers len units in place with the system's character lowering (the one
// Windows-specific piece, in status_rules_win.cpp).
void lower_in_place(wchar_t* text, size_t len);

// How a token is shown: its first TOKEN_PREVIEW_CHARS characters and "...".
void shorten_token(const wchar_t* token, wchar_t* out, size_t cap);

// The short text of a last error: always one of the classification results.
void classify_last_error(const wchar_t* text, wchar_t* out, size_t cap);

// What the service control manager answered.
enum class service_answer { not_installed, query_failed, state };
// "Running", "Stopped", ... or "State %u"; the state number matters only for
// service_answer::state.
void service_state_text(service_answer answer, unsigned long state, wchar_t* out, size_t cap);
// The same answer as a stable lowercase word ("running", "not_installed", ...).
const char* service_state_word(service_answer answer, unsigned long state);
bool is_running_text(const wchar_t* state_text);

// Where compute_allowlist_status gets what it needs, asked lazily and in the
// order of the rules, so that a decided status costs no further lookups.
class status_sources {
 public:
  virtual ~status_sources() = default;
  // Token and server URL both present in a readable configuration.
  virtual bool configured() = 0;
  // True with a text when a last error is recorded.
  virtual bool last_error(wchar_t* out, size_t cap) = 0;
  virtual void service_state(wchar_t* out, size_t cap) = 0;
  virtual bool detect_public_ip(wchar_t* out, size_t cap) = 0;
};

// The allowlist status; public_ip may be null (not detected), and so may
// state when only the text is wanted. Nothing when out is null or cap is 0.
void compute_allowlist_status(wchar_t* out, size_t cap, const wchar_t* public_ip,
                              const wchar_t* cached_last_ip, status_sources& sources,
                              allowlist_state* state = nullptr);
