#include "allowlist_text.h"

#include <cstring>

#include "text.h"

namespace {
constexpr char HINT_CHECK_TOKEN[] = " Check your rule token in Settings.";
constexpr char HINT_TOKEN_MAY_BE_WRONG[] =
    " The rule token may be wrong or was rotated on the server - open Settings and enter the new token.";

bool contains_ignore_case(const char* text, const char* word) {
  size_t n = std::strlen(word);
  for (; *text; ++text) {
    size_t i = 0;
    while (i < n && text[i] && ascii_lower(text[i]) == word[i]) ++i;
    if (i == n) return true;
  }
  return false;
}

void append_bounded(char* out, size_t cap, const char* tail) {
  size_t len = std::strlen(out);
  if (len + 1 < cap) copy_bounded(out + len, cap - len, tail);
}

// "ok" : false with any JSON spacing: serializers differ in where they put blanks.
bool says_not_ok(const char* body) {
  for (const char* key = std::strstr(body, "\"ok\""); key; key = std::strstr(key + 1, "\"ok\"")) {
    const char* p = skip_blanks(key + 4, LINE_BLANKS);
    if (*p == ':' && std::strncmp(skip_blanks(p + 1, LINE_BLANKS), "false", 5) == 0) return true;
  }
  return false;
}
}  // namespace

void json_escape(const char* source, char* destination, size_t capacity) {
  if (!destination || capacity == 0) return;
  static const char hex[] = "0123456789abcdef";
  size_t n = 0;
  for (const char* p = source ? source : ""; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    char escaped[7];
    size_t len = 0;
    if (c == '\\' || c == '"') {
      escaped[len++] = '\\';
      escaped[len++] = static_cast<char>(c);
    } else if (c < 0x20) {
      const char u[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
      std::memcpy(escaped, u, sizeof u);
      len = sizeof u;
    } else {
      escaped[len++] = static_cast<char>(c);
    }
    if (n + len > capacity - 1) break;  // never half an escape
    std::memcpy(destination + n, escaped, len);
    n += len;
  }
  destination[n] = '\0';
}

bool allowlist_answer_accepted(unsigned long status, const char* body) {
  return status >= 200 && status <= 299 && !says_not_ok(body);
}

void extract_error_string(const char* body, char* out, size_t cap) {
  out[0] = '\0';
  const char* name = std::strstr(body, "\"error\"");
  if (!name) return;
  const char* p = std::strchr(name, ':');
  if (!p) return;
  p = skip_blanks(p + 1, LINE_BLANKS);
  if (*p != '"') return;
  ++p;
  size_t n = 0;
  for (; *p && *p != '"' && n + 1 < cap; ++p) {
    if (*p == '\\' && p[1]) ++p;  // the escaped character stands for itself
    unsigned char c = static_cast<unsigned char>(*p);
    // A server's control characters (C1 ones too) become spaces: the text
    // reaches log lines, last_error.txt, the console and the tray.
    if (c == 0xc2 && static_cast<unsigned char>(p[1]) >= 0x80 && static_cast<unsigned char>(p[1]) <= 0x9f) {
      ++p;
      c = ' ';
    }
    out[n++] = c < 0x20 || c == 0x7f ? ' ' : static_cast<char>(c);
  }
  out[n] = '\0';
}

void make_body_excerpt(const char* body, char* out, size_t cap) {
  size_t n = 0;
  for (size_t i = 0; body[i] && i < ERROR_EXCERPT_SOURCE_BYTES && n + 1 < cap; ++i) {
    unsigned char c = static_cast<unsigned char>(body[i]);
    if (c >= 0x20 && c <= 0x7e)
      out[n++] = static_cast<char>(c);
    else if (c == '\t' || c == '\n' || c == '\r')
      out[n++] = ' ';
  }
  out[n] = '\0';
}

void allowlist_refusal_text(unsigned long status, const char* body, char* out, size_t cap) {
  extract_error_string(body, out, cap);
  if (!out[0]) {
    char excerpt[ERROR_EXCERPT_CAPACITY];
    make_body_excerpt(body, excerpt, sizeof excerpt);
    if (excerpt[0])
      format_bounded(out, cap, "HTTP %lu: %s", status, excerpt);
    else
      format_bounded(out, cap, "HTTP %lu (empty response body)", status);
  }
  bool auth_status = status == 401 || status == 403;
  if (contains_ignore_case(out, "rotated")) {
    if (auth_status) append_bounded(out, cap, HINT_CHECK_TOKEN);
  } else if (auth_status || contains_ignore_case(out, "token") || contains_ignore_case(out, "unauthorized") ||
             contains_ignore_case(out, "forbidden") || contains_ignore_case(out, "invalid")) {
    append_bounded(out, cap, HINT_TOKEN_MAY_BE_WRONG);
  }
}
