// How much a download may still write on its volume.
#pragma once

#include <windows.h>

// A download stops before it would leave less than this free on its volume.
inline constexpr unsigned long long DOWNLOAD_MIN_FREE_BYTES = 1ull << 30;
// Others use the volume too: the reading is renewed after this many bytes.
inline constexpr unsigned long long FREE_SPACE_RECHECK_BYTES = 4ull << 20;
// Test hook: a decimal byte count here caps the free-space reading. It can
// only lower the reading, so it can only make a download stop earlier.
inline constexpr wchar_t FREE_BYTES_TEST_VARIABLE[] = L"WHITELIST_TEST_FREE_BYTES";

// Tracks the room left on the volume of one file being written.
class disk_room {
 public:
  explicit disk_room(const wchar_t* file_path);
  // True when more bytes still fit above the minimum; nothing is recorded.
  bool allows(unsigned long long more);
  // As allows(), and counts the bytes as written when they fit.
  bool take(unsigned long long more);

 private:
  bool read_free();
  wchar_t folder_[MAX_PATH + 1] = {};
  unsigned long long free_ = 0;
  unsigned long long written_since_reading_ = 0;
  bool known_ = false;
};
