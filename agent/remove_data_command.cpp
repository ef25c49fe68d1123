// "remove-data": run by the elevated uninstallers when the administrator asks
// for the settings to go. Users may fill the data folder and could have
// turned it into a link to any folder: it is held first and refused when it
// is one, and only the known state files are deleted, by name, through it.
// The uninstaller then removes the folder itself only when it is empty.
#include <windows.h>

#include "agent_constants.h"
#include "commands.h"
#include "console.h"
#include "data_folder.h"
#include "file_io.h"
#include "folder_security.h"

namespace {
// service.lock, the guard's anchor, goes last.
constexpr const wchar_t* DATA_FILE_NAMES[] = {
    CONFIG_FILE_NAME,     LAST_IP_FILE_NAME, LAST_CONFIRMED_FILE_NAME, PENDING_FILE_NAME,
    LAST_ERROR_FILE_NAME, LOG_FILE_NAME,     LOG_HISTORY_FILE_NAME};

void print_refused(const wchar_t* path, const char* why) {
  console_print(L"Refused %s: %S.\n", path, why);
}
}  // namespace

int remove_data_command(int argc, wchar_t**) {
  if (argc != 2) {
    console_print(L"Usage: whitelist remove-data\n");
    return EXIT_FAILED;
  }
  wchar_t data[PATH_CAPACITY];
  if (!data_folder_path(data, PATH_CAPACITY)) {
    console_print(L"Data folder path is too long.\n");
    return EXIT_FAILED;
  }
  file_handle folder = open_folder_unfollowed(data, HELD_FOLDER_ACCESS);
  if (!folder) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      console_print(L"No data to remove: %s does not exist.\n", data);
      return EXIT_OK;
    }
    console_print(L"Failed to open %s (error %lu); nothing was removed.\n", data, error);
    return EXIT_FAILED;
  }
  if (folder_problem problem = plain_folder_problem(folder.get(), data)) {
    console_print(L"Refused to remove the data in %s: %S. Nothing was removed.\n", data, problem.reason);
    return EXIT_FAILED;
  }
  if (const char* why = guard_state_files(std::move(folder), print_refused, true)) {
    console_print(L"Refused to remove the data in %s: %S. Nothing was removed.\n", data, why);
    return EXIT_FAILED;
  }
  bool ok = true;
  auto deleted = [&](const wchar_t* name, bool gone) {
    if (!gone) console_print(L"Failed to delete %s\\%s (error %lu).\n", data, name, GetLastError());
    ok = ok && gone;
  };
  for (const wchar_t* name : DATA_FILE_NAMES) deleted(name, delete_data_file(name));
  deleted(FOLDER_ANCHOR_FILE_NAME, delete_data_folder_anchor());
  if (ok) console_print(L"Removed the settings, last IP and log from %s\n", data);
  return ok ? EXIT_OK : EXIT_FAILED;
}
