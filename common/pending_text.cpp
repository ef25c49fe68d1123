#include "pending_text.h"

#include <cstring>

#include "ip_text.h"
#include "text.h"

bool same_ip(const wchar_t* a, const wchar_t* b) {
  return equals_ignore_case(a, b);
}

int pending_find(const pending_list& list, const wchar_t* ip) {
  for (int i = 0; i < list.count; ++i)
    if (same_ip(list.entries[i], ip)) return i;
  return -1;
}

bool pending_append(pending_list& list, const wchar_t* ip, int max) {
  if (list.count >= max || list.count >= PENDING_MAX) return false;
  copy_bounded(list.entries[list.count++], IP_CAPACITY, ip);
  return true;
}

void pending_drop_all(pending_list& list, const pending_list& dropped) {
  int kept = 0;
  for (int i = 0; i < list.count; ++i) {
    if (pending_find(dropped, list.entries[i]) >= 0) continue;
    if (kept != i) copy_bounded(list.entries[kept], IP_CAPACITY, list.entries[i]);
    ++kept;
  }
  list.count = kept;
}

void parse_pending_text(const char* text, pending_list& out, int max) {
  out.count = 0;
  const char* p = text;
  while (*p && out.count < max) {
    size_t len = std::strcspn(p, "\r\n");
    const char* next = p + len;
    next += std::strspn(next, "\r\n");
    wchar_t ip[IP_CAPACITY];
    bool address = address_line(p, len, ip);
    p = next;
    if (!address || pending_find(out, ip) >= 0) continue;
    pending_append(out, ip, max);
  }
}

bool address_line(const char* line, size_t len, wchar_t* ip) {
  std::string_view kept = trim_view(std::string_view(line, len), SPACE_TAB);
  // Anyone may write the state files and the service sends a DELETE with the
  // rule token for an address it reads there: only a plain address is one.
  if (kept.empty() || kept.size() > IP_TEXT_MAX_BYTES) return false;
  char text_ip[IP_TEXT_MAX_BYTES + 1];
  std::memcpy(text_ip, kept.data(), kept.size());
  text_ip[kept.size()] = '\0';
  return is_ip_address_text(text_ip) && utf8_to_wide(text_ip, -1, ip, IP_CAPACITY);
}

std::string format_pending_text(const pending_list& list) {
  std::string text;
  for (int i = 0; i < list.count; ++i) {
    text += wstring_to_utf8(list.entries[i]);
    text += '\n';
  }
  return text;
}
