#include "status_snapshot.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "tray_files.h"
#include "handles.h"
#include "pending_text.h"
#include "service_query.h"
#include "status_rules.h"
#include "text.h"

namespace {
bool load_token_and_server(wchar_t* token, wchar_t* server_url) {
  return tray_config_load(token, TOKEN_CAPACITY, server_url, SERVER_URL_CAPACITY, nullptr, 0, nullptr, 0) == 0;
}

// Each source of one refresh is read at most once, so the rows and the
// status come from one picture.
class snapshot_sources final : public status_sources {
 public:
  explicit snapshot_sources(const wchar_t* server_url) : server_url_(server_url) {}
  bool configured_value = false;
  bool configured() override { return configured_value; }
  bool last_error(wchar_t* out, size_t cap) override {
    if (!error_read_) have_error_ = tray_read_last_error(error_, LAST_ERROR_TEXT_CAPACITY) == 0;
    error_read_ = true;
    if (have_error_) copy_bounded(out, cap, error_);
    return have_error_;
  }
  void service_state(wchar_t* out, size_t cap) override {
    if (!state_read_) query_service_state(state_, SERVICE_STATE_CAPACITY);
    state_read_ = true;
    copy_bounded(out, cap, state_);
  }
  bool detect_public_ip(wchar_t* out, size_t cap) override {
    if (!ip_detected_) have_ip_ = tray_detect_public_ip(server_url_, ip_, SHORT_FIELD_CAPACITY) == 0;
    ip_detected_ = true;
    if (have_ip_) copy_bounded(out, cap, ip_);
    return have_ip_;
  }

 private:
  const wchar_t* server_url_;
  wchar_t state_[SERVICE_STATE_CAPACITY] = {};
  wchar_t ip_[SHORT_FIELD_CAPACITY] = {};
  wchar_t error_[LAST_ERROR_TEXT_CAPACITY] = {};
  bool state_read_ = false, ip_detected_ = false, have_ip_ = false, error_read_ = false, have_error_ = false;
};
}  // namespace

int query_service_state(wchar_t* out, size_t cap) {
  DWORD state = 0;
  service_answer answer = service_answer::state;
  int result = 0;
  switch (query_agent_service(state)) {
    case service_query::not_installed: {
      answer = service_answer::not_installed;
      // Same text either way; the result tells an unreachable manager apart.
      service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
      if (!manager) result = -1;
      break;
    }
    case service_query::unknown: answer = service_answer::query_failed; break;
    case service_query::ok: break;
  }
  service_state_text(answer, state, out, cap);
  return result;
}

int config_present() {
  wchar_t token[TOKEN_CAPACITY] = {};
  wchar_t server_url[SERVER_URL_CAPACITY] = {};
  return load_token_and_server(token, server_url) && token[0] && server_url[0] ? 1 : 0;
}

int count_pending_deletes(int* count) {
  if (count) *count = 0;
  wchar_t path[PATH_CAPACITY];
  data_file_path(PENDING_FILE_NAME, path, PATH_CAPACITY);
  pending_list queue;  // what the agent would retry, not every line
  if (read_pending_file(path, queue) == read_result::unreadable) return -1;
  if (count) *count = queue.count;
  return 0;
}

void free_status_snapshot(status_snapshot* snapshot) noexcept { std::free(snapshot); }

status_snapshot* build_status_snapshot(const wchar_t* last_ip, bool reload_last_ip) noexcept {
  auto* s = static_cast<status_snapshot*>(std::calloc(1, sizeof(status_snapshot)));
  if (!s) return nullptr;

  // A file that can't be read now keeps the address known before.
  copy_bounded(s->last_ip, std::size(s->last_ip), last_ip);
  if (reload_last_ip) tray_read_last_ip(s->last_ip, std::size(s->last_ip));

  copy_bounded(s->public_ip, std::size(s->public_ip), TEXT_UNAVAILABLE);
  copy_bounded(s->last_whitelisted, std::size(s->last_whitelisted), TEXT_NONE);
  copy_bounded(s->server, std::size(s->server), TEXT_NOT_CONFIGURED_VALUE);
  copy_bounded(s->token_display, std::size(s->token_display), TEXT_NOT_CONFIGURED_VALUE);

  wchar_t token[TOKEN_CAPACITY] = {};
  wchar_t server_url[SERVER_URL_CAPACITY] = {};
  bool loaded = load_token_and_server(token, server_url);
  if (!loaded) token[0] = server_url[0] = L'\0';
  snapshot_sources sources(server_url);
  sources.configured_value = token[0] && server_url[0];
  s->configured = sources.configured_value;

  sources.service_state(s->service_state, std::size(s->service_state));
  wchar_t detected[SHORT_FIELD_CAPACITY] = {};
  bool have_ip = sources.detect_public_ip(detected, SHORT_FIELD_CAPACITY);
  if (have_ip) copy_bounded(s->public_ip, std::size(s->public_ip), detected);

  compute_allowlist_status(s->allowlist_status, std::size(s->allowlist_status), have_ip ? detected : nullptr,
                           s->last_ip, sources);
  // The balloons' error is this same reading; one that needs more than
  // their 512 units counts as none, as a read into 512 units would.
  wchar_t error[LAST_ERROR_TEXT_CAPACITY] = {};
  s->has_last_error = sources.last_error(error, LAST_ERROR_TEXT_CAPACITY) && std::wcslen(error) < std::size(s->last_error);
  if (s->has_last_error) copy_bounded(s->last_error, std::size(s->last_error), error);

  if (s->last_ip[0]) copy_bounded(s->last_whitelisted, std::size(s->last_whitelisted), s->last_ip);
  if (loaded) {
    if (token[0]) shorten_token(token, s->token_display, std::size(s->token_display));
    copy_bounded(s->server, std::size(s->server), server_url[0] ? server_url : TEXT_NOT_SET);
  }

  int pending = 0;
  if (count_pending_deletes(&pending) == 0 && pending > 0)
    format_bounded(s->pending_cleanup, std::size(s->pending_cleanup), FORMAT_PENDING, pending);
  else
    copy_bounded(s->pending_cleanup, std::size(s->pending_cleanup), TEXT_NO_PENDING);
  return s;
}
