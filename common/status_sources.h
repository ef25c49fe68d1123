// What the status decision reads on this machine: last_error.txt, the
// service control manager, the queue file and the network. Shared by the
// tray's snapshot and the agent's `status --json`.
#pragma once

#include <cstddef>

#include "status_rules.h"

// The state text; false when the service control manager can't be opened
// (the text is then "Not installed").
[[nodiscard]] bool query_service_state(wchar_t* out, size_t cap);
// last_error.txt read as UTF-8 (or the ANSI code page when that fails):
// its text, or false when it is missing, unreadable or only blanks.
[[nodiscard]] bool read_last_error_text(wchar_t* out, size_t cap);
// The addresses the agent would retry (its own reading of the queue file):
// the count (0 when there is no file), or false when the file can't be read.
[[nodiscard]] bool count_pending_deletes(int* count);

// Each source is read at most once, so that everything one picture shows
// (rows, status, JSON keys) agrees.
class machine_status_sources final : public status_sources {
 public:
  // server_url: what the caller loaded, for the detection; it must outlive this.
  machine_status_sources(bool configured, const wchar_t* server_url)
      : configured_(configured), server_url_(server_url) {}
  bool configured() override { return configured_; }
  bool last_error(wchar_t* out, size_t cap) override;
  void service_state(wchar_t* out, size_t cap) override;
  bool detect_public_ip(wchar_t* out, size_t cap) override;
  // The same reading of the service as service_state, as a stable word.
  const char* service_word();

 private:
  bool configured_;
  const wchar_t* server_url_;
  wchar_t state_[SERVICE_STATE_CAPACITY] = {};
  const char* state_word_ = nullptr;
  wchar_t ip_[SHORT_FIELD_CAPACITY] = {};
  wchar_t error_[LAST_ERROR_TEXT_CAPACITY] = {};
  bool ip_detected_ = false, have_ip_ = false, error_read_ = false, have_error_ = false;
};
