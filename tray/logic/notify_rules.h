// Which balloons a refresh raises: pure decisions over what was already
// reported, so a change is announced once and the first picture never is.
#pragma once

#include <cstddef>

#include "status_rules.h"

inline constexpr size_t BALLOON_TEXT_CAPACITY = 256;   // the record's field
inline constexpr size_t BALLOON_TEXT_SHOWN_MAX = 240;  // longer texts end in "..."
inline constexpr size_t NOTIFIED_ERROR_CAPACITY = 512;
inline constexpr wchar_t FORMAT_BALLOON_UPDATED[] = L"Allowlist updated to %s.";
inline constexpr wchar_t BALLOON_FAILED_TITLE[] = L"Allowlist update failed";

enum class balloon_kind { info, error };

struct balloon {
  balloon_kind kind = balloon_kind::info;
  const wchar_t* title = nullptr;
  wchar_t text[BALLOON_TEXT_CAPACITY] = {};
};

// What the balloons have reported so far; lives with the status window.
struct notify_memory {
  wchar_t ip[SHORT_FIELD_CAPACITY] = {};
  wchar_t error[NOTIFIED_ERROR_CAPACITY] = {};
  bool primed = false;
};

struct notify_plan {
  balloon shown[2];
  int count = 0;
};

// last_error is the current text of last_error.txt read into 512 units, or
// null when there is none. window_hidden: the status window exists and is hidden.
notify_plan plan_notifications(notify_memory& memory, const wchar_t* last_whitelisted,
                               const wchar_t* allowlist_status, const wchar_t* last_error,
                               bool window_hidden);

// Copies text cut at 255 units; longer than 240 units: the first 237 and "...".
void cut_balloon_text(const wchar_t* text, wchar_t* out, size_t cap);
