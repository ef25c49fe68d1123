// Judging an allowlist answer and building the user's error text from it.
#include <cstring>

#include "allowlist_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  unsigned long status = 100 + (data[0] | data[1] << 8) % 500;
  std::string body = as_text(data + 2, size - 2, ALLOWLIST_RESPONSE_CAPACITY - 1);
  allowlist_answer_accepted(status, body.c_str());
  char out[2048];
  allowlist_refusal_text(status, body.c_str(), out, sizeof out);
  FUZZ_CHECK(std::strlen(out) < sizeof out && out[0] != '\0');
  char escaped[64];
  json_escape(body.c_str(), escaped, sizeof escaped);
  FUZZ_CHECK(std::strlen(escaped) < sizeof escaped);
  return 0;
}
