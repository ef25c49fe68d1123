#include "console.h"

#include <cstdarg>
#include <cstdio>

#include "api_error.h"
#include "text.h"

namespace {
void write_text(FILE* stream, const wchar_t* format, va_list args) {
  std::wstring text = vformat_text(format, args);
  fputws(text.c_str(), stream);
  fflush(stream);
}
}  // namespace

void console_print(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  write_text(stdout, format, args);
  va_end(args);
}

void console_print_error(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  write_text(stderr, format, args);
  va_end(args);
}

void console_print_failure(const wchar_t* fallback) {
  wchar_t message[LAST_API_ERROR_CAPACITY];
  bool have_error =
      last_api_error[0] && utf8_to_wide(last_api_error, -1, message, LAST_API_ERROR_CAPACITY) && message[0];
  console_print(L"%s\n", have_error ? message : fallback);
}
