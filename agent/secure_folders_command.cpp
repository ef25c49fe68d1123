// "secure-folders <install folder>": run by the elevated installers before
// the first program is copied, from a copy of this program in a folder users
// can't write. Gives the data folder, the install folder's "files" and an
// install folder outside Program Files their security; an existing install
// folder that users could have prepared is refused, and nothing is changed.
#include <windows.h>

#include <cwchar>

#include "agent_constants.h"
#include "commands.h"
#include "console.h"
#include "data_folder.h"
#include "file_io.h"
#include "folder_security.h"
#include "text.h"

namespace {
bool secured(const wchar_t* folder, folder_problem problem) {
  if (problem.error) {
    console_print(L"Failed to secure %s: %S (error %lu).\n", folder, problem.reason, problem.error);
    return false;
  }
  if (problem) {
    console_print(L"Failed to secure %s: %S.\n", folder, problem.reason);
    return false;
  }
  console_print(L"Secured %s\n", folder);
  return true;
}

}  // namespace

int secure_folders_command(int argc, wchar_t** argv) {
  if (argc != 3 || !argv[2][0]) {
    console_print(L"Usage: whitelist secure-folders \"<install folder>\"\n");
    return EXIT_FAILED;
  }
  wchar_t install[PATH_CAPACITY];
  DWORD len = GetFullPathNameW(argv[2], PATH_CAPACITY, install, nullptr);
  wchar_t files[PATH_CAPACITY];
  if (len == 0 || len >= PATH_CAPACITY ||
      !format_bounded(files, PATH_CAPACITY, L"%s\\%s", install, FILES_FOLDER_NAME)) {
    console_print(L"Install folder path is too long: %s\n", argv[2]);
    return EXIT_FAILED;
  }
  wchar_t data[PATH_CAPACITY];
  if (!data_folder_path(data, PATH_CAPACITY)) {
    console_print(L"Data folder path is too long.\n");
    return EXIT_FAILED;
  }

  const bool custom = !is_under_program_files(install);
  if (folder_problem problem = custom ? existing_install_folder_problem(install) : folder_problem()) {
    console_print(L"Refused the install folder %s: %S. Choose another folder.\n", install, problem.reason);
    return EXIT_FAILED;
  }
  // Program Files gives a new folder the right security by inheritance.
  if (!custom) CreateDirectoryW(install, nullptr);

  // Taken like every elevated writer's guard, and kept for the process's life.
  // Files an older version left get the folder's entries one by one.
  folder_problem problem = guard_data_folder(nullptr, true);
  if (DWORD error = problem ? ERROR_SUCCESS : secure_files_in(guarded_folder(), SHARED_FILE_SDDL))
    problem = {"a file in it can't be secured", error};
  bool ok = secured(data, problem);
  file_handle held;
  // The install folder first, then the programs in it one by one (the
  // folder's descriptor reaches none of them). "files" is closed to users
  // now; an upgrade keeps what an older version let them put there, apart
  // from links and second names of files elsewhere.
  if (custom) {
    problem = secure_folder(install, PROGRAM_FOLDER_SDDL, held);
    if (DWORD error = problem ? ERROR_SUCCESS : secure_files_in(held.get(), PROGRAM_FILE_SDDL))
      problem = {"a program in it can't be secured", error};
    ok = secured(install, problem) && ok;
  }
  problem = secure_folder(files, PROGRAM_FOLDER_SDDL, held);
  auto removed = [&](const wchar_t* name, const char* why) {
    console_print(L"Removed %s\\%s: %S.\n", files, name, why);
  };
  if (DWORD error = problem ? ERROR_SUCCESS : secure_files_in(held.get(), PROGRAM_FILE_SDDL, removed))
    problem = {"a file in it can't be secured", error};
  ok = secured(files, problem) && ok;
  return ok ? EXIT_OK : EXIT_FAILED;
}
