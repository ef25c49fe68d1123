// The configuration plaintext parser, with fields of every size.
#include <cwchar>

#include "config_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = as_text(data, size, CONFIG_TEXT_CAPACITY - 1);
  // The callers empty the outputs; the parser only ever sets them.
  wchar_t token[TOKEN_CAPACITY] = L"", url[SERVER_URL_CAPACITY] = L"", name[3] = L"", files_token[1] = L"";
  parse_config_text(text.c_str(), {{token, TOKEN_CAPACITY}, {url, SERVER_URL_CAPACITY}, {name, 3},
                                   {files_token, 1}});
  FUZZ_CHECK(std::wcslen(token) < TOKEN_CAPACITY && std::wcslen(name) < 3 && files_token[0] == L'\0');
  parse_config_text(text.c_str(), {{nullptr, 0}, {url, SERVER_URL_CAPACITY}, {}, {}});
  return 0;
}
