// The pending-delete queue file reader: what it keeps must survive being
// written back and read again unchanged.
#include <cwchar>

#include "fuzz_support.h"
#include "pending_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = as_text(data, size, 4095);
  pending_list list;
  parse_pending_text(text.c_str(), list);
  FUZZ_CHECK(list.count >= 0 && list.count <= PENDING_MAX);
  for (int i = 0; i < list.count; ++i) FUZZ_CHECK(list.entries[i][0] != L'\0' && std::wcslen(list.entries[i]) < IP_CAPACITY);
  pending_list again;
  parse_pending_text(format_pending_text(list).c_str(), again);
  FUZZ_CHECK(again.count == list.count);
  for (int i = 0; i < list.count; ++i) FUZZ_CHECK(std::wcscmp(again.entries[i], list.entries[i]) == 0);
  return 0;
}
