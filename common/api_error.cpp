#include "api_error.h"

#include <cstdarg>

#include "text.h"

char last_api_error[LAST_API_ERROR_CAPACITY];

void set_api_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vformat_bounded(last_api_error, LAST_API_ERROR_CAPACITY, format, args);
  va_end(args);
  last_api_error[LAST_API_ERROR_CAPACITY - 1] = '\0';
}
