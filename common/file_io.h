// Whole-file reads and replacements shared by every state file.
#pragma once

#include <windows.h>

#include <cstddef>

#include "handles.h"

// Another process may hold a state file open for a moment (the tray reading,
// the agent replacing); such a clash is retried for about this long.
inline constexpr DWORD SHARING_RETRY_TOTAL_MS = 200;
inline constexpr DWORD SHARING_RETRY_STEP_MS = 20;

// The LocalSystem service works in a folder users can fill. From
// guard_state_files() on, this process opens state files without following
// links and refuses one that is a link, a folder or has more than one hard
// link, and writes nothing while the held data folder is missing or has
// become a link. report (may be null) hears of each refused file.
using refusal_report = void (*)(const wchar_t* path, const char* why);
void guard_state_files(file_handle data_folder, refusal_report report);
bool state_files_guarded();
// Extra CreateFileW flags for a state file: FILE_FLAG_OPEN_REPARSE_POINT when guarded.
DWORD state_file_flags();
// When guarded: nullptr while the data folder may be used (asked before
// anything is opened or created in it), else why not. Unguarded: nullptr.
const char* state_folder_problem();
// When guarded: nullptr for an open state file that may be used (the folder
// included), else why not. Unguarded: always nullptr.
const char* state_file_problem(HANDLE file);

// Deletes the state file name of the data folder, never what a link leads
// to; true when it is gone (or was never there).
[[nodiscard]] bool delete_data_file(const wchar_t* name);

// CreateFileW for an existing file, retrying sharing clashes.
file_handle open_for_reading(const wchar_t* path, DWORD share_mode);

// Reads up to max_bytes from the start of an open file into buf; returns the
// count, or -1 when a read fails.
long read_up_to(HANDLE file, char* buf, size_t max_bytes);

// Builds the new content of a file beside it, under a new unpredictable name
// that it creates itself, and moves it over the old file only on commit();
// dropped without commit, it removes what it wrote and the old file stays as
// it was.
class file_replacement {
 public:
  explicit file_replacement(const wchar_t* path);
  ~file_replacement();
  file_replacement(const file_replacement&) = delete;
  file_replacement& operator=(const file_replacement&) = delete;

  bool is_open() const { return static_cast<bool>(temp_); }
  bool write(const void* data, size_t size);
  bool commit();

 private:
  wchar_t path_[MAX_PATH + 1] = {};
  wchar_t temp_path_[MAX_PATH + 40] = {};
  file_handle temp_;
  bool committed_ = false;
};

// Replaces path with exactly these bytes: they go to a temporary file beside it first and
// are moved over the old file only when completely written, so a failure at
// any step leaves the old file intact and never a cut one. 0 or -1.
int replace_file(const wchar_t* path, const void* data, size_t size);

// Copies source over destination through a file_replacement: the old
// destination stays intact unless the whole copy succeeded. Copying a file
// onto itself works too. 0 or -1.
int copy_file_replacing(const wchar_t* source, const wchar_t* destination);

// This process's program path into out; name then points at its file name
// within out (out itself when the path has no backslash). false when the
// path is unavailable or does not fit.
bool program_path(wchar_t* out, size_t cap, wchar_t** name);
