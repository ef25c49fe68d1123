#include "command_line.h"

#include <cwchar>

void append_quoted_argument(std::wstring& command_line, const wchar_t* arg, bool always_quote) {
  if (!command_line.empty()) command_line += L' ';
  if (!always_quote && *arg && !std::wcspbrk(arg, L" \t\n\v\"")) {
    command_line += arg;
    return;
  }
  command_line += L'"';
  for (const wchar_t* p = arg;; ++p) {
    size_t backslashes = 0;
    while (*p == L'\\') {
      ++p;
      ++backslashes;
    }
    if (!*p) {
      // Backslashes before the closing quote must not escape it.
      command_line.append(backslashes * 2, L'\\');
      break;
    }
    if (*p == L'"') {
      command_line.append(backslashes * 2 + 1, L'\\');
    } else {
      command_line.append(backslashes, L'\\');
    }
    command_line += *p;
  }
  command_line += L'"';
}
