#include "file_io.h"

#include <bcrypt.h>

#include <cwchar>

#include "text.h"

namespace {
constexpr size_t COPY_CHUNK_BYTES = 16384;

// Set once at the service's start, before its threads, then only read.
struct state_file_guard {
  bool on = false;
  file_handle folder;
  refusal_report report = nullptr;
} guard;

// A refusal reads as access denied, never as a missing file.
const char* refused(const wchar_t* path, const char* why) {
  if (!why) return nullptr;
  if (guard.report) guard.report(path, why);
  SetLastError(ERROR_ACCESS_DENIED);
  return why;
}

// An existing state file at path that may not be replaced; nullptr also
// when there is none.
const char* existing_file_problem(const wchar_t* path) {
  if (!guard.on) return nullptr;
  file_handle file(CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                               nullptr));
  return file ? state_file_problem(file.get()) : nullptr;
}

bool random_hex(wchar_t* out, size_t digits) {
  unsigned char bytes[16];
  if (digits > 2 * sizeof bytes ||
      BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(digits / 2), BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
    return false;
  static const wchar_t hex[] = L"0123456789abcdef";
  for (size_t i = 0; i < digits / 2; ++i) {
    out[2 * i] = hex[bytes[i] >> 4];
    out[2 * i + 1] = hex[bytes[i] & 15];
  }
  out[digits] = L'\0';
  return true;
}

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

void guard_state_files(file_handle data_folder, refusal_report report) {
  guard.folder = std::move(data_folder);
  guard.report = report;
  guard.on = true;
}

bool state_files_guarded() { return guard.on; }

DWORD state_file_flags() { return guard.on ? FILE_FLAG_OPEN_REPARSE_POINT : 0; }

const char* state_folder_problem() {
  if (!guard.on) return nullptr;
  FILE_ATTRIBUTE_TAG_INFO folder{};
  if (!guard.folder) return "the data folder is not in use";
  if (!GetFileInformationByHandleEx(guard.folder.get(), FileAttributeTagInfo, &folder, sizeof folder) ||
      (folder.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return "the data folder has become a link";
  return nullptr;
}

const char* state_file_problem(HANDLE file) {
  if (!guard.on) return nullptr;
  if (const char* problem = state_folder_problem()) return problem;
  return plain_file_problem(file);
}

const char* plain_file_problem(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return "its attributes can't be read";
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "it is a link";
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
  if (info.nNumberOfLinks > 1) return "it has more than one hard link";
  return nullptr;
}

file_handle open_for_reading(const wchar_t* path, DWORD share_mode) {
  file_handle file;
  if (!path || !*path || refused(path, state_folder_problem())) return file;
  retry_sharing_clashes([&] {
    file.reset(CreateFileW(path, GENERIC_READ, share_mode, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | state_file_flags(), nullptr));
    return static_cast<bool>(file);
  });
  if (file && refused(path, state_file_problem(file.get()))) {
    file.reset();
    SetLastError(ERROR_ACCESS_DENIED);
  }
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
  // A name nobody can guess and that this writer creates itself: no other
  // writer shares it and nobody can plant a file or link under it first.
  wchar_t suffix[17];
  if (!path || !*path || !copy_bounded(path_, std::size(path_), path) || !random_hex(suffix, 16) ||
      !format_bounded(temp_path_, std::size(temp_path_), L"%s.%s.tmp", path, suffix))
    return;
  if (refused(path, state_folder_problem()) || refused(path, existing_file_problem(path))) return;
  temp_.reset(CreateFileW(temp_path_, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | state_file_flags(), nullptr));
  if (temp_ && refused(path, state_file_problem(temp_.get()))) temp_.reset();
}

file_replacement::~file_replacement() {
  if (committed_ || !temp_) return;
  // Removed through the handle this writer created, not by name.
  FILE_DISPOSITION_INFO dispose{TRUE};
  SetFileInformationByHandle(temp_.get(), FileDispositionInfo, &dispose, sizeof dispose);
}

bool file_replacement::write(const void* data, size_t size) { return temp_ && write_all(temp_.get(), data, size); }

bool file_replacement::add_stream(const wchar_t* stream, const void* data, size_t size) {
  wchar_t stream_path[MAX_PATH + 80];
  if (!temp_ || !format_bounded(stream_path, std::size(stream_path), L"%s:%s", temp_path_, stream)) return false;
  file_handle out(CreateFileW(stream_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return out && write_all(out.get(), data, size);
}

bool file_replacement::commit() {
  if (!temp_ || !FlushFileBuffers(temp_.get())) return false;
  if (refused(path_, existing_file_problem(path_))) return false;
  temp_.reset();
  committed_ = retry_sharing_clashes([&] {
    return MoveFileExW(temp_path_, path_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  });
  if (!committed_) DeleteFileW(temp_path_);
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

bool program_path(wchar_t* out, size_t cap, wchar_t** name) {
  DWORD len = GetModuleFileNameW(nullptr, out, static_cast<DWORD>(cap));
  if (len == 0 || len >= cap) return false;
  wchar_t* slash = std::wcsrchr(out, L'\\');
  *name = slash ? slash + 1 : out;
  return true;
}
