#include "notify_rules.h"

#include <cwchar>

#include "status_look.h"
#include "text.h"
#include "tray_app.h"

namespace {
constexpr wchar_t ELLIPSIS[] = L"...";
constexpr wchar_t ERROR_PREFIX[] = L"Error:";
}  // namespace

void cut_balloon_text(const wchar_t* text, wchar_t* out, size_t cap) {
  if (!out || cap == 0) return;
  wchar_t copy[BALLOON_TEXT_CAPACITY];
  copy_bounded(copy, BALLOON_TEXT_CAPACITY, text);
  size_t len = std::wcslen(copy);
  if (len > BALLOON_TEXT_SHOWN_MAX) {
    std::wmemcpy(copy + BALLOON_TEXT_SHOWN_MAX - 3, ELLIPSIS, 3);
    copy[BALLOON_TEXT_SHOWN_MAX] = L'\0';
  }
  copy_bounded(out, cap, copy);
}

notify_plan plan_notifications(notify_memory& memory, const wchar_t* last_whitelisted,
                               const wchar_t* allowlist_status, const wchar_t* last_error,
                               bool window_hidden) {
  notify_plan plan;
  const wchar_t* ip = last_whitelisted ? last_whitelisted : L"";
  const wchar_t* error = last_error ? last_error : L"";

  if (!memory.primed) {
    // The picture at start is what the user already knows.
    copy_bounded(memory.ip, std::size(memory.ip), ip);
    copy_bounded(memory.error, std::size(memory.error), error);
    memory.primed = true;
    return plan;
  }

  if (*ip && std::wcscmp(ip, TEXT_NONE) != 0 && std::wcscmp(ip, memory.ip) != 0) {
    balloon& b = plan.shown[plan.count++];
    b.kind = balloon_kind::info;
    b.title = APP_TITLE;
    format_bounded(b.text, std::size(b.text), FORMAT_BALLOON_UPDATED, ip);
    copy_bounded(memory.ip, std::size(memory.ip), ip);
  }

  if (*error) {
    if (std::wcscmp(error, memory.error) != 0) {
      // An error that arose while the window was shown is only remembered.
      if (window_hidden) {
        const wchar_t* status = allowlist_status ? allowlist_status : L"";
        bool classified = std::wcsncmp(status, ERROR_PREFIX, std::wcslen(ERROR_PREFIX)) == 0;
        balloon& b = plan.shown[plan.count++];
        b.kind = balloon_kind::error;
        b.title = BALLOON_FAILED_TITLE;
        cut_balloon_text(classified ? status : error, b.text, std::size(b.text));
      }
      copy_bounded(memory.error, std::size(memory.error), error);
    }
  } else {
    memory.error[0] = L'\0';
  }
  return plan;
}
