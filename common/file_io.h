// Whole-file reads and replacements shared by every state file.
#pragma once

#include <windows.h>

#include <cstddef>

#include "handles.h"

// Another process may hold a state file open for a moment (the tray reading,
// the agent replacing); such a clash is retried for about this long.
inline constexpr DWORD SHARING_RETRY_TOTAL_MS = 200;
inline constexpr DWORD SHARING_RETRY_STEP_MS = 20;

// The service, and every elevated or SYSTEM run, works in a folder users can
// fill. From guard_state_files() on, this process uses the data folder only
// through the held folder handle: every open, create, rename and delete of a
// file in it is relative to that handle, never follows a link, and refuses a
// file that is a link, a folder or has more than one hard link. A writer also
// holds service.lock (made anew when it is not a plain file of its own), so
// the folder can't be emptied and turned into a mount point; without it the
// process writes, renames and deletes nothing there. report (may be null)
// hears of each refused file.
using refusal_report = void (*)(const wchar_t* path, const char* why);
// nullptr, or why the folder can't be used (for a writer: why nothing will be
// written). folder may be empty: the guard then refuses everything. A reader
// may be made a writer by a second call, before any other thread runs.
const char* guard_state_files(file_handle folder, refusal_report report, bool writer);
bool state_files_guarded();
// A guarded reader whose data folder does not exist: its files read as missing.
bool state_folder_absent();
// The held data folder (INVALID_HANDLE_VALUE when there is none).
HANDLE guarded_folder();
// When guarded: nullptr while files may be written in the data folder, else
// why not. Unguarded: nullptr.
const char* state_folder_problem();
// When guarded: nullptr for an open state file that may be used, else why
// not. Unguarded: always nullptr.
const char* state_file_problem(HANDLE file);

// nullptr for an open file that is itself a plain file with one name, else
// why not (a link, a folder, more than one hard link).
const char* plain_file_problem(HANDLE file);

// A data-folder file by its name: relative to the held folder in a guarded
// process, by path otherwise. delete_data_file is true also when there was
// no such file.
[[nodiscard]] bool delete_data_file(const wchar_t* name);
[[nodiscard]] bool rename_data_file(const wchar_t* from, const wchar_t* to);  // replaces `to`
// A guarded writer's last step when the data goes: lets go of its anchor and
// deletes service.lock relative to the held folder, which may then be
// emptied. Nothing is written there after it. True when the file is gone.
[[nodiscard]] bool delete_data_folder_anchor();
// Opens or creates a data-folder file by its name, checked like every state
// file (share and access as for CreateFileW).
file_handle open_data_file(const wchar_t* name, DWORD access, DWORD share, bool create);

// Opens an existing file for reading (a data-folder path through the guard),
// retrying sharing clashes.
file_handle open_for_reading(const wchar_t* path, DWORD share_mode);

// Reads up to max_bytes from the start of an open file into buf, their count
// into got; false when a read fails.
[[nodiscard]] bool read_up_to(HANDLE file, char* buf, size_t max_bytes, size_t& got);

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
  // Writes a named stream of the new content (the volume must support them);
  // it moves with the file on commit().
  bool add_stream(const wchar_t* stream, const void* data, size_t size);
  bool commit();

 private:
  file_handle folder_;  // the folder when opened for this file, not the held one
  HANDLE root_ = INVALID_HANDLE_VALUE;
  bool guarded_ = false;
  wchar_t name_[MAX_PATH + 1] = {};
  file_handle temp_;
  bool committed_ = false;
};

// Replaces path with exactly these bytes: they go to a temporary file beside it first and
// are moved over the old file only when completely written, so a failure at
// any step leaves the old file intact and never a cut one.
[[nodiscard]] bool replace_file(const wchar_t* path, const void* data, size_t size);

// Copies source over destination through a file_replacement: the old
// destination stays intact unless the whole copy succeeded. Copying a file
// onto itself works too. On failure error (optional) receives the Windows
// error of the step that failed.
[[nodiscard]] bool copy_file_replacing(const wchar_t* source, const wchar_t* destination,
                                       unsigned long* error = nullptr);

// This process's program path into out; name then points at its file name
// within out (out itself when the path has no backslash). false when the
// path is unavailable or does not fit.
bool program_path(wchar_t* out, size_t cap, wchar_t** name);
