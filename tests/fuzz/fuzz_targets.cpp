// The fuzz targets, one for each text scanner: each executable is this file
// built with FUZZ_TARGET naming its function (see CMakeLists.txt).
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

#include "allowlist_text.h"
#include "config_text.h"
#include "file_list.h"
#include "ip_text.h"
#include "pending_text.h"
#include "server_url.h"
#include "setup_command.h"
#include "status_rules.h"

#define FUZZ_CHECK(condition) ((condition) ? void() : __builtin_trap())

namespace targets {
// The input as a NUL-terminated text: .c_str() stops at the first zero byte, as the programs' buffers do.
std::string as_text(const uint8_t* data, size_t size, size_t max) {
  return std::string(reinterpret_cast<const char*>(data), size < max ? size : max);
}

std::wstring as_wide_text(const uint8_t* data, size_t size, size_t max_units) {
  std::wstring text;
  for (size_t i = 0; i + 1 < size && text.size() < max_units && (data[i] || data[i + 1]); i += 2)
    text += static_cast<wchar_t>(data[i] | data[i + 1] << 8);
  return text;
}

// The configuration plaintext parser, with fields of every size.
void config_text(const uint8_t* data, size_t size) {
  std::string text = as_text(data, size, CONFIG_TEXT_CAPACITY - 1);
  // The callers empty the outputs; the parser only ever sets them.
  wchar_t token[TOKEN_CAPACITY] = L"", url[SERVER_URL_CAPACITY] = L"", name[3] = L"", files_token[1] = L"";
  parse_config_text(text.c_str(),
                    {{token, TOKEN_CAPACITY}, {url, SERVER_URL_CAPACITY}, {name, 3}, {files_token, 1}});
  FUZZ_CHECK(std::wcslen(token) < TOKEN_CAPACITY && std::wcslen(name) < 3 && files_token[0] == L'\0');
  parse_config_text(text.c_str(), {{nullptr, 0}, {url, SERVER_URL_CAPACITY}, {}, {}});
}

void allowlist_answer(const uint8_t* data, size_t size) {
  if (size < 2) return;
  unsigned long status = 100 + (data[0] | data[1] << 8) % 500;
  std::string body = as_text(data + 2, size - 2, ALLOWLIST_RESPONSE_CAPACITY - 1);
  allowlist_answer_accepted(status, body.c_str());
  char out[2048];
  allowlist_refusal_text(status, body.c_str(), out, sizeof out);
  FUZZ_CHECK(std::strlen(out) < sizeof out && out[0] != '\0');
  char escaped[64];
  json_escape(body.c_str(), escaped, sizeof escaped);  // the sanitizer checks its bounds
}

void client_ip(const uint8_t* data, size_t size) {
  std::string answer = as_text(data, size, 511);
  char ip[IP_TEXT_MAX_BYTES + 1];
  if (scan_client_ip_answer(answer.c_str(), ip, sizeof ip)) FUZZ_CHECK(std::strlen(ip) <= IP_TEXT_MAX_BYTES);
  is_ip_address_text(answer.c_str());
  std::string copy = answer;
  char* trimmed = trim_blanks(copy.data());
  FUZZ_CHECK(trimmed >= copy.data() && trimmed <= copy.data() + copy.size());
}

void file_list(const uint8_t* data, size_t size) {
  std::string body = as_text(data, size, FILES_RESPONSE_CAPACITY - 1);
  find_first_id(body.c_str());
  is_empty_file_list(body.c_str());
  file_list_walker walker(body.c_str());
  int count = 0;
  for (file_entry e; walker.next(e); ++count) {
    FUZZ_CHECK(e.id >= 1 && e.name.size() <= FILE_NAME_MAX_BYTES);
    FUZZ_CHECK(e.name.data() >= body.c_str() && e.name.data() + e.name.size() <= body.c_str() + body.size());
    if (is_plain_file_name(e.name)) FUZZ_CHECK(e.name.find_first_of("/\\:") == std::string_view::npos);
    percent_encode(e.name);
  }
  FUZZ_CHECK(count <= static_cast<int>(body.size()));
}

void server_url(const uint8_t* data, size_t size) {
  std::wstring url = as_wide_text(data, size, 600);
  wchar_t host[HOST_CAPACITY];
  int port = 0, secure = 0;
  bool usable = split_server_url(url.c_str(), host, HOST_CAPACITY, &port, &secure);
  FUZZ_CHECK(std::wcslen(host) < HOST_CAPACITY);
  if (usable) FUZZ_CHECK(port >= 1 && port <= MAX_PORT);
}

// The pending-delete queue file reader: what it keeps must survive being
// written back and read again unchanged.
void pending_text(const uint8_t* data, size_t size) {
  std::string text = as_text(data, size, 4095);
  pending_list list;
  parse_pending_text(text.c_str(), list);
  FUZZ_CHECK(list.count >= 0 && list.count <= PENDING_MAX);
  for (int i = 0; i < list.count; ++i)
    FUZZ_CHECK(list.entries[i][0] != L'\0' && std::wcslen(list.entries[i]) < IP_CAPACITY);
  pending_list again;
  parse_pending_text(format_pending_text(list).c_str(), again);
  FUZZ_CHECK(again.count == list.count);
  for (int i = 0; i < list.count; ++i) FUZZ_CHECK(std::wcscmp(again.entries[i], list.entries[i]) == 0);
}

// The setup command pasted by the user, and its word reader at small sizes.
void setup_command(const uint8_t* data, size_t size) {
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
}

void classification(const uint8_t* data, size_t size) {
  std::wstring text = as_wide_text(data, size, 2047);
  wchar_t out[512];
  classify_last_error(text.c_str(), out, 512);
  FUZZ_CHECK(std::wcsncmp(out, L"Error: ", 7) == 0 && std::wcslen(out) < 512);
  wchar_t small[10];
  classify_last_error(text.c_str(), small, 10);
  FUZZ_CHECK(std::wcslen(small) < 10);
}
}  // namespace targets

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  targets::FUZZ_TARGET(data, size);
  return 0;
}
