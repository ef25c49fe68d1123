// "sync files": downloads the customer's files into "files" next to the
// program. Offered only when the program runs as sync.exe.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "build_settings.h"
#include "commands.h"
#include "console.h"
#include "customer_api.h"
#include "file_io.h"
#include "file_list.h"
#include "server_url.h"
#include "text.h"

namespace {
constexpr size_t FILES_FIELD_CAPACITY = 256;
constexpr size_t FILES_SERVER_URL_CAPACITY = 512;
constexpr size_t FILES_PATH_CAPACITY = 260;
constexpr size_t FILE_NAME_WIDE_CAPACITY = 264;
constexpr size_t REQUEST_PATH_CAPACITY = 1024;
constexpr wchar_t FILES_FOLDER_NAME[] = L"files";

struct files_options {
  wchar_t name[FILES_FIELD_CAPACITY] = L"";
  wchar_t token[FILES_FIELD_CAPACITY] = L"";
  wchar_t server_url[FILES_SERVER_URL_CAPACITY] = L"";
};

int print_usage() {
  console_print(L"Usage: sync files --name <customer> --token <token> [--server-url <url>]\n");
  console_print(L"Example: sync files --name BIRCH_LLC --token 7D3A91C4-5E2B-4F80-A6D9-1B4C8E2F7A05\n");
  return EXIT_FAILED;
}

// false when a value does not fit its field: a cut name or token would ask
// the server for somebody else.
bool read_options(int argc, wchar_t** argv, files_options& o) {
  copy_bounded(o.server_url, FILES_SERVER_URL_CAPACITY, build_settings::FILES_SERVER_URL);
  const command_option options[] = {
      {L"--name", L"-n", o.name, FILES_FIELD_CAPACITY},
      {L"--token", L"-t", o.token, FILES_FIELD_CAPACITY},
      {L"--server-url", L"-s", o.server_url, FILES_SERVER_URL_CAPACITY},
  };
  return !read_command_options(argc, argv, 2, options);
}

enum class folder_result { ok, no_module_path, no_backslash, create_failed };

folder_result prepare_files_folder(wchar_t* folder) {
  wchar_t module[FILES_PATH_CAPACITY];
  wchar_t* name;
  if (!program_path(module, FILES_PATH_CAPACITY, &name)) return folder_result::no_module_path;
  if (name == module) return folder_result::no_backslash;
  *name = L'\0';
  if (!format_bounded(folder, FILES_PATH_CAPACITY, L"%s%s", module, FILES_FOLDER_NAME))
    return folder_result::no_module_path;
  if (CreateDirectoryW(folder, nullptr)) return folder_result::ok;
  // What is already there must be a folder: a file of that name is not.
  DWORD attributes = GetFileAttributesW(folder);
  bool is_folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  return is_folder ? folder_result::ok : folder_result::create_failed;
}
}  // namespace

int files_command(int argc, wchar_t** argv) {
  files_options o;
  if (!read_options(argc, argv, o) || !o.name[0] || !o.token[0]) return print_usage();
  strip_one_trailing_slash(o.server_url);

  wchar_t folder[FILES_PATH_CAPACITY];
  switch (prepare_files_folder(folder)) {
    case folder_result::ok: break;
    case folder_result::no_module_path: console_print(L"Failed to get install path.\n"); return EXIT_FAILED;
    case folder_result::no_backslash: console_print(L"Invalid exe path.\n"); return EXIT_FAILED;
    case folder_result::create_failed: console_print(L"Failed to create files directory.\n"); return EXIT_FAILED;
  }

  static char response[FILES_RESPONSE_CAPACITY];
  std::memset(response, 0, sizeof response);
  std::wstring encoded_name = utf8_to_wstring(percent_encode(wstring_to_utf8(o.name)).c_str());
  wchar_t request[REQUEST_PATH_CAPACITY];
  // A cut path would ask the server for somebody else.
  if (!format_bounded(request, REQUEST_PATH_CAPACITY, L"/api/auth/customers/name/%s", encoded_name.c_str())) {
    console_print(L"Customer name is too long.\n");
    return EXIT_FAILED;
  }
  if (customer_api_get(o.server_url, request, o.token, response, sizeof response) != 0) {
    console_print(L"Failed to fetch customer (check name and token).\n");
    return EXIT_FAILED;
  }
  long customer_id = find_first_id(response);
  if (customer_id < 1) {
    console_print(L"Customer not found or invalid response.\n");
    return EXIT_FAILED;
  }

  response[0] = '\0';
  format_bounded(request, REQUEST_PATH_CAPACITY, L"/api/auth/customers/%d/files", static_cast<int>(customer_id));
  if (customer_api_get(o.server_url, request, o.token, response, sizeof response) != 0) {
    console_print(L"Failed to fetch file list.\n");
    return EXIT_FAILED;
  }

  unsigned downloaded = 0, refused = 0;
  file_list_walker walker(response);
  for (file_entry entry; walker.next(entry);) {
    std::string raw(entry.name);
    wchar_t name[FILE_NAME_WIDE_CAPACITY];
    utf8_to_wide(raw.c_str(), -1, name, FILE_NAME_WIDE_CAPACITY);
    wchar_t target[FILES_PATH_CAPACITY];
    // Nothing may land outside the files folder, nor under a cut name.
    if (!is_plain_file_name(entry.name) || !name[0] ||
        !format_bounded(target, FILES_PATH_CAPACITY, L"%s\\%s", folder, name)) {
      console_print(L"Refused unsafe file name: %s\n", name[0] ? name : L"?");
      ++refused;
      continue;
    }
    format_bounded(request, REQUEST_PATH_CAPACITY, L"/api/auth/customers/%d/files/%d/download",
                   static_cast<int>(customer_id), static_cast<int>(entry.id));
    if (customer_api_download(o.server_url, request, o.token, target) != 0) {
      console_print(L"Failed to download %s\n", name);
      return EXIT_FAILED;
    }
    console_print(L"Downloaded: %s\n", name);
    ++downloaded;
  }

  if (downloaded > 0) {
    console_print(L"Files downloaded to %s\n", folder);
    ShellExecuteW(nullptr, L"open", folder, nullptr, nullptr, SW_SHOWNORMAL);
  } else if (refused == 0) {
    console_print(is_empty_file_list(response) ? L"No files for this customer.\n" : L"No files found.\n");
  }
  // A refused file is a failure the tray must not report as success.
  return refused > 0 ? EXIT_FAILED : EXIT_OK;
}
