// The files command's walk over a file-list answer and its name checks.
#include "file_list.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
  return 0;
}
