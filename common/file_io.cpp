#include "file_io.h"

#include <bcrypt.h>
#include <sddl.h>

#include <cwchar>

#include "data_folder.h"
#include "relative_file.h"
#include "text.h"

namespace {
constexpr size_t COPY_CHUNK_BYTES = 16384;
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr wchar_t ANCHOR_SDDL[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// Set once at the process's start, before its threads, then only read.
struct state_file_guard {
  bool on = false;
  bool writer = false;
  bool absent = false;  // a reader's data folder that does not exist yet
  file_handle folder;
  file_handle anchor;
  refusal_report report = nullptr;
  wchar_t folder_path[PATH_CAPACITY] = {};
} guard;

// A refusal reads as access denied, never as a missing file.
const char* refused(const wchar_t* name, const char* why) {
  if (!why) return nullptr;
  if (guard.report) guard.report(name, why);
  SetLastError(ERROR_ACCESS_DENIED);
  return why;
}

// Whether the held folder may still be read from.
const char* folder_read_problem() {
  if (!guard.on) return nullptr;
  FILE_ATTRIBUTE_TAG_INFO folder{};
  if (!guard.folder) return "the data folder is not in use";
  if (!GetFileInformationByHandleEx(guard.folder.get(), FileAttributeTagInfo, &folder, sizeof folder) ||
      (folder.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return "the data folder has become a link";
  return nullptr;
}

// Where a file is used: the folder's handle and its one name in it. The
// guarded data folder is the held handle; any other folder (and the data
// folder of an unguarded process) is opened by its path for this use.
struct place {
  file_handle opened;
  HANDLE folder = INVALID_HANDLE_VALUE;
  const wchar_t* name = nullptr;
  bool guarded = false;
};

bool open_folder_of(const wchar_t* path, size_t folder_len, place& where) {
  wchar_t folder[PATH_CAPACITY];
  if (folder_len == 2 && path[1] == L':') ++folder_len;  // "C:\", not C:'s current folder
  if (folder_len == 0 || folder_len >= PATH_CAPACITY) {
    SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  std::wmemcpy(folder, path, folder_len);
  folder[folder_len] = L'\0';
  where.opened.reset(CreateFileW(folder, FILE_TRAVERSE | SYNCHRONIZE, SHARE_ALL, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  where.folder = where.opened.get();
  return static_cast<bool>(where.opened);
}

bool locate_name(const wchar_t* name, place& where) {
  where.name = name;
  where.guarded = guard.on;
  if (guard.on) {
    where.folder = guard.folder.get();
    return true;
  }
  wchar_t folder[PATH_CAPACITY];
  return data_folder_path(folder, PATH_CAPACITY) && open_folder_of(folder, std::wcslen(folder), where);
}

bool locate(const wchar_t* path, place& where) {
  const wchar_t* slash = path ? std::wcsrchr(path, L'\\') : nullptr;
  if (!slash || !slash[1]) {
    SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  size_t folder_len = static_cast<size_t>(slash - path);
  if (guard.on && folder_len == std::wcslen(guard.folder_path) &&
      _wcsnicmp(path, guard.folder_path, folder_len) == 0)
    return locate_name(slash + 1, where);
  where.name = slash + 1;
  return open_folder_of(path, folder_len, where);
}

// An existing file of that name that may not be replaced; nullptr also when
// there is none.
const char* existing_file_problem(HANDLE folder, const wchar_t* name) {
  file_handle file =
      open_relative(folder, name, FILE_READ_ATTRIBUTES, SHARE_ALL, relative_disposition::open, false);
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
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

template <typename Attempt>
bool retry_sharing_clashes(Attempt attempt) {
  for (DWORD waited = 0;; waited += SHARING_RETRY_STEP_MS) {
    if (attempt()) return true;
    if (!is_sharing_clash(GetLastError()) || waited >= SHARING_RETRY_TOTAL_MS) return false;
    Sleep(SHARING_RETRY_STEP_MS);
  }
}

// Opens name in where's folder, retrying sharing clashes; in the guarded
// folder only a plain file of its own passes.
file_handle open_checked(const place& where, ACCESS_MASK access, DWORD share,
                         relative_disposition disposition) {
  file_handle file;
  retry_sharing_clashes([&] {
    file = open_relative(where.folder, where.name, access, share, disposition, !where.guarded);
    return static_cast<bool>(file);
  });
  if (file && where.guarded && refused(where.name, state_file_problem(file.get()))) file.reset();
  return file;
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

// The anchor: service.lock, held without delete sharing. One that is a link,
// a folder, has a second link or can't be held loses its name (only the name:
// nothing it leads to is opened) and a new file is created in its place.
file_handle hold_anchor(HANDLE folder) {
  // Users get no entry on an anchor this process creates: they can neither
  // open it to hold it nor give it a second name.
  local_memory own;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(ANCHOR_SDDL, SDDL_REVISION_1, own.put(), nullptr);
  auto open_anchor = [&](const wchar_t* name, ACCESS_MASK extra, relative_disposition disposition) {
    // Read access, not only attributes: an open without data access takes no
    // part in sharing checks, so it would not keep anyone from deleting.
    file_handle anchor = open_relative(folder, name, GENERIC_READ | WRITE_DAC | extra, FILE_SHARE_READ,
                                       disposition, false, {own.get(), false});
    if (anchor && state_file_problem(anchor.get())) anchor.reset();
    // One an older version made inherited the Users entry.
    if (anchor && own) SetKernelObjectSecurity(anchor.get(), DACL_SECURITY_INFORMATION, own.get());
    return anchor;
  };
  if (file_handle anchor = open_anchor(FOLDER_ANCHOR_FILE_NAME, 0, relative_disposition::open_always))
    return anchor;
  if (file_handle old = open_relative(folder, FOLDER_ANCHOR_FILE_NAME, DELETE, SHARE_ALL,
                                      relative_disposition::open, false))
    delete_by_handle(old.get());
  if (file_handle anchor = open_anchor(FOLDER_ANCHOR_FILE_NAME, 0, relative_disposition::create_new))
    return anchor;
  // The name is held by another process (a second name a user made while the
  // service held it): any file of ours held in the folder keeps it from being
  // emptied. This one goes when its last handle closes.
  wchar_t suffix[17];
  wchar_t name[40];
  if (!random_hex(suffix, 16) || !format_bounded(name, std::size(name), L"service.%s.lock", suffix))
    return {};
  file_handle anchor = open_anchor(name, DELETE, relative_disposition::create_new);
  FILE_DISPOSITION_INFO on_close{TRUE};
  if (anchor && !SetFileInformationByHandle(anchor.get(), FileDispositionInfo, &on_close, sizeof on_close)) {
    delete_by_handle(anchor.get());
    return {};
  }
  return anchor;
}
}  // namespace

const char* guard_state_files(file_handle folder, refusal_report report, bool writer) {
  guard.folder = std::move(folder);
  guard.report = report;
  guard.writer = writer;
  if (!data_folder_path(guard.folder_path, PATH_CAPACITY)) guard.folder.reset();
  guard.on = true;
  guard.anchor.reset();
  if (!writer && !guard.folder && guard.folder_path[0]) {
    DWORD attributes = GetFileAttributesW(guard.folder_path);
    DWORD error = GetLastError();
    guard.absent = attributes == INVALID_FILE_ATTRIBUTES &&
                   (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
  }
  if (const char* problem = folder_read_problem()) return problem;
  if (!writer) return nullptr;
  guard.anchor = hold_anchor(guard.folder.get());
  return state_folder_problem();
}

bool delete_data_folder_anchor() {
  if (!guard.on || !guard.anchor || refused(FOLDER_ANCHOR_FILE_NAME, folder_read_problem())) return false;
  guard.anchor.reset();  // from here on this process writes nothing in the folder
  file_handle anchor = open_relative(guard.folder.get(), FOLDER_ANCHOR_FILE_NAME, DELETE, SHARE_ALL,
                                     relative_disposition::open, false);
  if (!anchor) return GetLastError() == ERROR_FILE_NOT_FOUND;
  return delete_by_handle(anchor.get());
}

bool state_files_guarded() {
  return guard.on;
}

bool state_folder_absent() {
  return guard.on && guard.absent;
}

HANDLE guarded_folder() {
  return guard.folder.get();
}

const char* state_folder_problem() {
  if (const char* problem = folder_read_problem()) return problem;
  if (guard.on && !guard.anchor)
    return guard.writer ? "its anchor file can't be held" : "it is open for reading only";
  return nullptr;
}

const char* state_file_problem(HANDLE file) {
  if (!guard.on) return nullptr;
  if (const char* problem = folder_read_problem()) return problem;
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

bool delete_data_file(const wchar_t* name) {
  auto missing = [] {
    return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  };
  place where;
  if (!locate_name(name, where)) return missing();
  if (where.guarded && refused(name, state_folder_problem())) return false;
  file_handle file = open_checked(where, DELETE, SHARE_ALL, relative_disposition::open);
  if (!file) return missing();
  return delete_by_handle(file.get());
}

bool rename_data_file(const wchar_t* from, const wchar_t* to) {
  place where;
  if (!locate_name(from, where)) return false;
  if (where.guarded &&
      (refused(from, state_folder_problem()) || refused(to, existing_file_problem(where.folder, to))))
    return false;
  file_handle file = open_checked(where, DELETE, SHARE_ALL, relative_disposition::open);
  return file && retry_sharing_clashes([&] { return rename_relative(file.get(), where.folder, to); });
}

file_handle open_data_file(const wchar_t* name, DWORD access, DWORD share, bool create) {
  place where;
  if (!locate_name(name, where)) return {};
  if (where.guarded && refused(name, state_folder_problem())) return {};
  return open_checked(where, access, share,
                      create ? relative_disposition::open_always : relative_disposition::open);
}

file_handle open_for_reading(const wchar_t* path, DWORD share_mode) {
  place where;
  if (!locate(path, where)) return {};
  if (where.guarded && guard.absent) {
    SetLastError(ERROR_PATH_NOT_FOUND);  // nothing to read yet: missing, not refused
    return {};
  }
  if (where.guarded && refused(where.name, folder_read_problem())) return {};
  return open_checked(where, GENERIC_READ, share_mode, relative_disposition::open);
}

bool read_up_to(HANDLE file, char* buf, size_t max_bytes, size_t& got) {
  got = 0;
  while (got < max_bytes) {
    DWORD part = 0;
    if (!ReadFile(file, buf + got, static_cast<DWORD>(max_bytes - got), &part, nullptr)) return false;
    if (part == 0) break;
    got += part;
  }
  return true;
}

file_replacement::file_replacement(const wchar_t* path) {
  place where;
  if (!locate(path, where) || !copy_bounded(name_, std::size(name_), where.name)) return;
  folder_ = std::move(where.opened);
  root_ = where.folder;
  guarded_ = where.guarded;
  // A name nobody can guess and that this writer creates itself: no other
  // writer shares it and nobody can plant a file or link under it first.
  wchar_t suffix[17];
  wchar_t temp_name[MAX_PATH + 40];
  if (!random_hex(suffix, 16) ||
      !format_bounded(temp_name, std::size(temp_name), L"%s.%s.tmp", name_, suffix))
    return;
  if (guarded_ &&
      (refused(name_, state_folder_problem()) || refused(name_, existing_file_problem(root_, name_))))
    return;
  temp_ = open_relative(root_, temp_name, GENERIC_WRITE | DELETE, 0, relative_disposition::create_new, false);
  if (temp_ && guarded_ && refused(name_, state_file_problem(temp_.get()))) {
    delete_by_handle(temp_.get());
    temp_.reset();
  }
}

file_replacement::~file_replacement() {
  // Removed through the handle this writer created, not by name.
  if (!committed_ && temp_) delete_by_handle(temp_.get());
}

bool file_replacement::write(const void* data, size_t size) {
  return temp_ && write_all(temp_.get(), data, size);
}

bool file_replacement::add_stream(const wchar_t* stream, const void* data, size_t size) {
  file_handle out = temp_ ? open_new_stream(temp_.get(), stream) : file_handle{};
  return out && write_all(out.get(), data, size);
}

bool file_replacement::commit() {
  if (!temp_ || !FlushFileBuffers(temp_.get())) return false;
  if (guarded_ &&
      (refused(name_, state_folder_problem()) || refused(name_, existing_file_problem(root_, name_))))
    return false;
  committed_ = retry_sharing_clashes([&] { return rename_relative(temp_.get(), root_, name_); });
  if (committed_) temp_.reset();
  return committed_;
}

bool replace_file(const wchar_t* path, const void* data, size_t size) {
  file_replacement file(path);
  return file.write(data, size) && file.commit();
}

bool copy_file_replacing(const wchar_t* source, const wchar_t* destination, unsigned long* error) {
  // Taken where a step fails: the cleanup on the way out may change it.
  auto fail = [error] {
    if (error) *error = GetLastError();
    return false;
  };
  // A refusal by a rule sets no error: none then, rather than an earlier call's.
  SetLastError(ERROR_SUCCESS);
  file_replacement out(destination);
  if (!out.is_open()) return fail();
  {
    // Closed before the move, so that a file copied onto itself can be replaced.
    file_handle in = open_for_reading(source, FILE_SHARE_READ);
    if (!in) return fail();
    char chunk[COPY_CHUNK_BYTES];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(in.get(), chunk, sizeof chunk, &got, nullptr)) return fail();
      if (got == 0) break;
      if (!out.write(chunk, got)) return fail();
    }
  }
  if (!out.commit()) return fail();
  return true;
}

bool program_path(wchar_t* out, size_t cap, wchar_t** name) {
  DWORD len = GetModuleFileNameW(nullptr, out, static_cast<DWORD>(cap));
  if (len == 0 || len >= cap) return false;
  wchar_t* slash = std::wcsrchr(out, L'\\');
  *name = slash ? slash + 1 : out;
  return true;
}
