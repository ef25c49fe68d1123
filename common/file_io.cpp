#include "file_io.h"

#include "text.h"

namespace {
constexpr size_t COPY_CHUNK_BYTES = 16384;

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

file_replacement::file_replacement(const wchar_t* path) {
  // A temporary name of this writer's own, so two writers never share one.
  if (!path || !*path || !copy_bounded(path_, std::size(path_), path) ||
      !format_bounded(temp_path_, std::size(temp_path_), L"%s.%lu-%lu.tmp", path, GetCurrentProcessId(),
                      GetCurrentThreadId()))
    return;
  retry_sharing_clashes([&] {
    temp_.reset(CreateFileW(temp_path_, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    return static_cast<bool>(temp_);
  });
}

file_replacement::~file_replacement() {
  if (committed_ || !temp_path_[0]) return;
  temp_.reset();
  DeleteFileW(temp_path_);
}

bool file_replacement::write(const void* data, size_t size) { return temp_ && write_all(temp_.get(), data, size); }

bool file_replacement::commit() {
  if (!temp_ || !FlushFileBuffers(temp_.get())) return false;
  temp_.reset();
  committed_ = retry_sharing_clashes([&] {
    return MoveFileExW(temp_path_, path_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  });
  return committed_;
}

int replace_file(const wchar_t* path, const void* data, size_t size) {
  file_replacement file(path);
  return file.write(data, size) && file.commit() ? 0 : -1;
}

int copy_file_replacing(const wchar_t* source, const wchar_t* destination) {
  file_replacement out(destination);
  {
    // Closed before the move, so that a file copied onto itself can be replaced.
    file_handle in = open_for_reading(source, FILE_SHARE_READ);
    if (!in || !out.is_open()) return -1;
    char chunk[COPY_CHUNK_BYTES];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(in.get(), chunk, sizeof chunk, &got, nullptr)) return -1;
      if (got == 0) break;
      if (!out.write(chunk, got)) return -1;
    }
  }
  return out.commit() ? 0 : -1;
}
