#include "console.h"

#include <cstdarg>
#include <cstdio>

#include "api_error.h"
#include "text.h"

void console_print(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = vformat_text(format, args);
  va_end(args);
  fputws(text.c_str(), stdout);
  fflush(stdout);
}

void console_print_failure(const wchar_t* fallback) {
  wchar_t message[LAST_API_ERROR_CAPACITY];
  bool have_error = last_api_error[0] && utf8_to_wide(last_api_error, -1, message, LAST_API_ERROR_CAPACITY) &&
                    message[0];
  console_print(L"%s\n", have_error ? message : fallback);
}
