#include "status_snapshot.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "status_sources.h"
#include "text.h"
#include "tray_files.h"

namespace {
bool load_token_and_server(wchar_t* token, wchar_t* server_url) {
  return tray_config_load(token, TOKEN_CAPACITY, server_url, SERVER_URL_CAPACITY, nullptr, 0, nullptr, 0);
}
}  // namespace

bool config_present() {
  wchar_t token[TOKEN_CAPACITY] = {};
  wchar_t server_url[SERVER_URL_CAPACITY] = {};
  return load_token_and_server(token, server_url) && token[0] && server_url[0];
}

void free_status_snapshot(status_snapshot* snapshot) noexcept {
  std::free(snapshot);
}

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
  s->configured = token[0] && server_url[0];
  machine_status_sources sources(s->configured, server_url);

  sources.service_state(s->service_state, std::size(s->service_state));
  wchar_t detected[SHORT_FIELD_CAPACITY] = {};
  bool have_ip = sources.detect_public_ip(detected, SHORT_FIELD_CAPACITY);
  if (have_ip) copy_bounded(s->public_ip, std::size(s->public_ip), detected);

  compute_allowlist_status(s->allowlist_status, std::size(s->allowlist_status), have_ip ? detected : nullptr,
                           s->last_ip, sources);
  // The balloons' error is this same reading; one that needs more than
  // their 512 units counts as none, as a read into 512 units would.
  wchar_t error[LAST_ERROR_TEXT_CAPACITY] = {};
  s->has_last_error =
      sources.last_error(error, LAST_ERROR_TEXT_CAPACITY) && std::wcslen(error) < std::size(s->last_error);
  if (s->has_last_error) copy_bounded(s->last_error, std::size(s->last_error), error);

  if (s->last_ip[0]) copy_bounded(s->last_whitelisted, std::size(s->last_whitelisted), s->last_ip);
  if (loaded) {
    if (token[0]) shorten_token(token, s->token_display, std::size(s->token_display));
    copy_bounded(s->server, std::size(s->server), server_url[0] ? server_url : TEXT_NOT_SET);
  }

  int pending = 0;
  if (count_pending_deletes(&pending) && pending > 0)
    format_bounded(s->pending_cleanup, std::size(s->pending_cleanup), FORMAT_PENDING, pending);
  else
    copy_bounded(s->pending_cleanup, std::size(s->pending_cleanup), TEXT_NO_PENDING);
  return s;
}
