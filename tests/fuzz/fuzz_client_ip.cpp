// The client-ip member scan and the address check.
#include <cstring>

#include "fuzz_support.h"
#include "ip_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string answer = as_text(data, size, 511);
  char ip[IP_TEXT_MAX_BYTES + 1];
  if (scan_client_ip_answer(answer.c_str(), ip, sizeof ip)) FUZZ_CHECK(std::strlen(ip) <= IP_TEXT_MAX_BYTES);
  is_ip_address_text(answer.c_str());
  std::string copy = answer;
  char* trimmed = trim_blanks(copy.data());
  FUZZ_CHECK(trimmed >= copy.data() && trimmed <= copy.data() + copy.size());
  return 0;
}
