// The setup command pasted by the user, and its word reader at small sizes.
#include <cwchar>

#include "fuzz_support.h"
#include "setup_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text = as_wide_text(data, size, 1023);
  wchar_t token[256], url[512];
  int rc = parse_setup_command(text.c_str(), token, 256, url, 512);
  FUZZ_CHECK(std::wcslen(token) < 256 && std::wcslen(url) < 512);
  // A URL of a single "/" passes and is empty after its slash goes; the save
  // that follows refuses it with its own message.
  if (rc == 0) FUZZ_CHECK(token[0] != L'\0');
  const wchar_t* cursor = text.c_str();
  wchar_t word[4];
  for (int words = 0; next_setup_token(&cursor, word, 4) >= 0; ++words) {
    FUZZ_CHECK(word[0] != L'\0' && std::wcslen(word) < 4);
    FUZZ_CHECK(cursor >= text.c_str() && cursor <= text.c_str() + text.size());
    FUZZ_CHECK(words <= static_cast<int>(text.size()));
  }
  return 0;
}
