// The tray's short words for the last error text.
#include <cwchar>

#include "fuzz_support.h"
#include "status_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text = as_wide_text(data, size, 2047);
  wchar_t out[512];
  classify_last_error(text.c_str(), out, 512);
  FUZZ_CHECK(std::wcsncmp(out, L"Error: ", 7) == 0 && std::wcslen(out) < 512);
  wchar_t small[10];
  classify_last_error(text.c_str(), small, 10);
  FUZZ_CHECK(std::wcslen(small) < 10);
  contains_nocase(text.c_str(), L"token");
  return 0;
}
