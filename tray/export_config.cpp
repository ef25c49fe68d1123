#include "export_config.h"

#include <windows.h>

#include <vector>

#include "data_folder.h"
#include "file_io.h"

namespace {
// Far above any configuration the programs write; a bigger file is not ours.
constexpr LONGLONG EXPORT_MAX_BYTES = 1 << 20;
}  // namespace

int export_config_file(const wchar_t* destination) {
  if (!destination || !*destination) return -1;
  wchar_t source[PATH_CAPACITY];
  data_file_path(CONFIG_FILE_NAME, source, PATH_CAPACITY);
  std::vector<char> bytes;
  {
    file_handle file = open_for_reading(source, FILE_SHARE_READ);
    if (!file) return -1;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > EXPORT_MAX_BYTES) return -1;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    long got = read_up_to(file.get(), bytes.data(), bytes.size());
    if (got != static_cast<long>(bytes.size())) return -1;
  }
  return replace_file(destination, bytes.data(), bytes.size());
}
