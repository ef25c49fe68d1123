#include "disk_space.h"

#include <cwchar>
#include <cwctype>

#include "build_settings.h"
#include "text.h"

namespace {
constexpr size_t TEST_VARIABLE_CAPACITY = 32;

// The test hook's cap, or no cap when the variable is unset or not a number.
unsigned long long free_bytes_cap() {
  if (!build_settings::TEST_HOOKS) return ~0ull;
  wchar_t text[TEST_VARIABLE_CAPACITY];
  DWORD len = GetEnvironmentVariableW(FREE_BYTES_TEST_VARIABLE, text, TEST_VARIABLE_CAPACITY);
  if (len == 0 || len >= TEST_VARIABLE_CAPACITY || !std::iswdigit(text[0])) return ~0ull;
  return std::wcstoull(text, nullptr, 10);
}
}  // namespace

disk_room::disk_room(const wchar_t* file_path) {
  if (!file_path || !copy_bounded(folder_, std::size(folder_), file_path)) return;
  wchar_t* slash = std::wcsrchr(folder_, L'\\');
  if (slash) slash[1] = L'\0';
}

bool disk_room::read_free() {
  ULARGE_INTEGER available{};
  // A reading that fails counts as no room: nothing is written blind.
  known_ = folder_[0] && GetDiskFreeSpaceExW(folder_, &available, nullptr, nullptr);
  unsigned long long cap = free_bytes_cap();
  free_ = known_ ? (available.QuadPart < cap ? available.QuadPart : cap) : 0;
  written_since_reading_ = 0;
  return known_;
}

bool disk_room::allows(unsigned long long more) {
  // Between readings, the bytes written since the last one count against it.
  if (!known_ || written_since_reading_ + more > FREE_SPACE_RECHECK_BYTES) read_free();
  unsigned long long needed = written_since_reading_ + more;
  return known_ && needed <= free_ && free_ - needed >= DOWNLOAD_MIN_FREE_BYTES;
}

bool disk_room::take(unsigned long long more) {
  if (!allows(more)) return false;
  written_since_reading_ += more;
  return true;
}
