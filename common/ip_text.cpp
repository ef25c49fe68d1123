#include "ip_text.h"

#include <cstring>

#include "text.h"

namespace {
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_hex(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Parses a dotted quad from p up to end; true when exactly that range is one.
bool is_ipv4(const char* p, const char* end) {
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (p == end || *p != '.') return false;
      ++p;
    }
    int digits = 0, value = 0;
    while (p != end && is_digit(*p) && digits < 4) {
      value = value * 10 + (*p++ - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
  }
  return p == end;
}

bool is_ipv6(const char* p, const char* end) {
  int groups = 0;
  bool compressed = false;
  if (end - p >= 2 && p[0] == ':' && p[1] == ':') {
    compressed = true;
    p += 2;
    if (p == end) return true;
  } else if (p != end && *p == ':') {
    return false;
  }
  while (p != end) {
    const char* start = p;
    while (p != end && is_hex(*p) && p - start < 5) ++p;
    size_t len = static_cast<size_t>(p - start);
    if (p != end && *p == '.') {
      // An IPv4 tail takes the room of two groups.
      if (!is_ipv4(start, end)) return false;
      groups += 2;
      p = end;
      break;
    }
    if (len == 0 || len > 4) return false;
    ++groups;
    if (p == end) break;
    if (*p != ':') return false;
    ++p;
    if (p != end && *p == ':') {
      if (compressed) return false;
      compressed = true;
      ++p;
    } else if (p == end) {
      return false;  // a single trailing colon
    }
  }
  return compressed ? groups < 8 : groups == 8;
}
}  // namespace

bool is_ip_address_text(const char* text) {
  if (!text || !*text) return false;
  const char* end = text + std::strlen(text);
  return is_ipv4(text, end) || (std::strchr(text, ':') && is_ipv6(text, end));
}

bool scan_client_ip_answer(const char* answer, char* out, size_t cap) {
  if (!out || cap == 0) return false;
  out[0] = '\0';
  const char* name = std::strstr(answer, "\"ipv4\"");
  if (!name) name = std::strstr(answer, "\"ip\"");
  if (!name) return false;
  const char* colon = std::strchr(name, ':');
  if (!colon) return false;
  const char* p = colon + 1;
  p = skip_blanks(p, SPACE_TAB);  // line ends are not skipped
  if (*p != '"') return false;
  ++p;
  size_t len = std::strcspn(p, "\"");
  size_t max = IP_TEXT_MAX_BYTES < cap - 1 ? IP_TEXT_MAX_BYTES : cap - 1;
  if (len > max) len = max;
  std::memcpy(out, p, len);
  out[len] = '\0';
  return len > 0;
}

char* trim_blanks(char* text) {
  std::string_view kept = trim_view(text, LINE_BLANKS);
  char* start = text + (kept.data() - text);
  start[kept.size()] = '\0';
  return start;
}
