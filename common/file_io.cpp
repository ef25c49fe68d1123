#include "file_io.h"

#include "text.h"

namespace {

bool is_sharing_clash(DWORD error) {
  // Replacing a file that a reader holds without delete sharing reports
  // access denied rather than a sharing violation.
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

template <typename Attempt>
bool retry_sharing_clashes(Attempt attempt) {
  for (DWORD waited = 0;; waited += SHARING_RETRY_STEP_MS) {
    if (attempt()) return true;
    if (!is_sharing_clash(GetLastError()) || waited >= SHARING_RETRY_TOTAL_MS) return false;
    Sleep(SHARING_RETRY_STEP_MS);
  }
}

bool write_all(HANDLE file, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}
}  // namespace

file_handle open_for_reading(const wchar_t* path, DWORD share_mode) {
  file_handle file;
  if (!path || !*path) return file;
  retry_sharing_clashes([&] {
    file.reset(CreateFileW(path, GENERIC_READ, share_mode, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
  });
  return file;
}

long read_up_to(HANDLE file, char* buf, size_t max_bytes) {
  size_t total = 0;
  while (total < max_bytes) {
    DWORD got = 0;
    if (!ReadFile(file, buf + total, static_cast<DWORD>(max_bytes - total), &got, nullptr)) return -1;
    if (got == 0) break;
    total += got;
  }
  return static_cast<long>(total);
}

int replace_file(const wchar_t* path, const void* data, size_t size) {
  // A name of this writer's own, so two writers never share a temporary file.
  wchar_t temp_path[MAX_PATH + 32];
  if (!path || !*path ||
      !format_bounded(temp_path, std::size(temp_path), L"%s.%lu-%lu.tmp", path,
                      GetCurrentProcessId(), GetCurrentThreadId()))
    return -1;

  {
    file_handle temp;
    bool opened = retry_sharing_clashes([&] {
      temp.reset(CreateFileW(temp_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
      return static_cast<bool>(temp);
    });
    if (!opened) return -1;
    if (!write_all(temp.get(), data, size) || !FlushFileBuffers(temp.get())) {
      temp.reset();
      DeleteFileW(temp_path);
      return -1;
    }
  }

  bool moved = retry_sharing_clashes([&] {
    return MoveFileExW(temp_path, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  });
  if (!moved) {
    DeleteFileW(temp_path);
    return -1;
  }
  return 0;
}
