#include "setup_command.h"

#include <cwchar>

#include "text.h"

namespace {
constexpr wchar_t PROGRAM_WORD[] = L"whitelist";
constexpr size_t PROGRAM_WORD_LENGTH = 9;

bool starts_with_program_word(const wchar_t* p) {
  for (size_t i = 0; i < PROGRAM_WORD_LENGTH; ++i) {
    if (ascii_lower(p[i]) != PROGRAM_WORD[i]) return false;
  }
  return true;
}

bool is_option(const wchar_t* word, const wchar_t* long_name, const wchar_t* short_name) {
  return equals_ignore_case(word, long_name) || equals_ignore_case(word, short_name);
}
}  // namespace

int next_setup_token(const wchar_t** cursor, wchar_t* out, size_t cap) {
  if (!cursor || !*cursor || !out || cap == 0) return -1;
  out[0] = L'\0';
  const wchar_t* p = skip_blanks(*cursor, LINE_BLANKS);
  *cursor = p;
  if (!*p) return -1;
  size_t n = 0;
  bool cut = false;
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"' && n < cap - 1) out[n++] = *p++;
    cut = *p && *p != L'"';
    if (*p == L'"') ++p;
  } else {
    while (*p && !is_blank(*p, LINE_BLANKS) && n < cap - 1) out[n++] = *p++;
    cut = *p && !is_blank(*p, LINE_BLANKS);
  }
  out[n] = L'\0';
  *cursor = p;
  if (n == 0) return -1;
  return cut ? 1 : 0;
}

int parse_setup_command(const wchar_t* text, wchar_t* token, size_t token_cap, wchar_t* server_url,
                        size_t server_url_cap) {
  if (!token || token_cap == 0 || !server_url || server_url_cap == 0) return -1;
  token[0] = server_url[0] = L'\0';
  if (!text || !*text) return -1;

  const wchar_t* p = skip_blanks(text, LINE_BLANKS);
  if (starts_with_program_word(p)) {
    p += PROGRAM_WORD_LENGTH;
    p = skip_blanks(p, SPACE_TAB);
  }

  int refusal = 0;
  wchar_t word[SETUP_WORD_CAPACITY];
  while (*p) {
    const wchar_t* before = p;
    if (next_setup_token(&p, word, SETUP_WORD_CAPACITY) != 0) {
      // An empty quoted word is passed over like any ignored word.
      if (p == before) break;
      continue;
    }
    // The value of an option is the next word, whatever it looks like.
    if (is_option(word, L"--token", L"-t")) {
      int r = next_setup_token(&p, token, token_cap);
      if (r != 0) refusal = r > 0 ? SETUP_TOKEN_TOO_LONG : SETUP_INCOMPLETE;
    } else if (is_option(word, L"--server-url", L"-s")) {
      int r = next_setup_token(&p, server_url, server_url_cap);
      if (r != 0) refusal = r > 0 ? SETUP_URL_TOO_LONG : SETUP_INCOMPLETE;
    }
    if (refusal != 0) break;
  }
  if (refusal == 0 && (!token[0] || !server_url[0])) refusal = SETUP_INCOMPLETE;
  if (refusal == 0) {
    strip_one_trailing_slash(server_url);
    // A URL of a single slash is left empty here and refused when saved.
    return 0;
  }
  token[0] = server_url[0] = L'\0';
  return refusal;
}
