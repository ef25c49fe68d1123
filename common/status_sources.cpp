#include "status_sources.h"

#include <windows.h>

#include <cstring>

#include "data_folder.h"
#include "handles.h"
#include "ip_detect.h"
#include "service_query.h"
#include "state_files.h"
#include "text.h"

namespace {
// The service's state as text and word from one query; false when the service
// control manager can't be opened.
bool read_service(wchar_t* text, size_t cap, const char** word) {
  DWORD state = 0;
  service_answer answer = service_answer::state;
  bool result = true;
  switch (query_agent_service(state)) {
    case service_query::not_installed: {
      answer = service_answer::not_installed;
      // Same text either way; the result tells an unreachable manager apart.
      service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
      if (!manager) result = false;
      break;
    }
    case service_query::unknown: answer = service_answer::query_failed; break;
    case service_query::ok: break;
  }
  service_state_text(answer, state, text, cap);
  if (word) *word = service_state_word(answer, state);
  return result;
}
}  // namespace

bool query_service_state(wchar_t* out, size_t cap) {
  return read_service(out, cap, nullptr);
}

bool read_last_error_text(wchar_t* out, size_t cap) {
  if (!out || cap == 0) return false;
  out[0] = L'\0';
  wchar_t path[PATH_CAPACITY];
  char text[LAST_ERROR_CAPACITY];
  data_file_path(LAST_ERROR_FILE_NAME, path, PATH_CAPACITY);
  if (read_state_file(path, text, LAST_ERROR_CAPACITY - 1) != read_result::ok) return false;
  const char* start = skip_blanks(text, LINE_BLANKS);
  if (!*start) return false;  // only blanks: no error
  if (utf8_to_wide(start, -1, out, cap) && out[0]) return true;
  if (ansi_to_wide(start, -1, out, cap) && out[0]) return true;
  out[0] = L'\0';
  return false;
}

bool count_pending_deletes(int* count) {
  if (count) *count = 0;
  wchar_t path[PATH_CAPACITY];
  data_file_path(PENDING_FILE_NAME, path, PATH_CAPACITY);
  pending_list queue;  // what the agent would retry, not every line
  if (read_pending_file(path, queue) == read_result::unreadable) return false;
  if (count) *count = queue.count;
  return true;
}

bool machine_status_sources::last_error(wchar_t* out, size_t cap) {
  if (!error_read_) have_error_ = read_last_error_text(error_, LAST_ERROR_TEXT_CAPACITY);
  error_read_ = true;
  if (have_error_) copy_bounded(out, cap, error_);
  return have_error_;
}

void machine_status_sources::service_state(wchar_t* out, size_t cap) {
  if (!state_word_) read_service(state_, SERVICE_STATE_CAPACITY, &state_word_);
  copy_bounded(out, cap, state_);
}

const char* machine_status_sources::service_word() {
  wchar_t unused[SERVICE_STATE_CAPACITY];
  service_state(unused, SERVICE_STATE_CAPACITY);
  return state_word_;
}

bool machine_status_sources::detect_public_ip(wchar_t* out, size_t cap) {
  if (!ip_detected_) have_ip_ = ::detect_public_ip(ip_, SHORT_FIELD_CAPACITY, server_url_);
  ip_detected_ = true;
  if (have_ip_) copy_bounded(out, cap, ip_);
  return have_ip_;
}
