// "sync files": downloads the customer's files into "files" next to the
// program, or into the user's own downloads when the user can't write there.
// Offered only when the program runs as sync.exe.
#include <windows.h>

#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>

#include "agent_constants.h"
#include "build_settings.h"
#include "commands.h"
#include "console.h"
#include "customer_api.h"
#include "file_io.h"
#include "file_list.h"
#include "handles.h"
#include "server_url.h"
#include "text.h"

namespace {
constexpr size_t FILES_FIELD_CAPACITY = 256;
constexpr size_t FILES_SERVER_URL_CAPACITY = 512;
constexpr size_t FILES_PATH_CAPACITY = 260;
constexpr size_t FILE_NAME_WIDE_CAPACITY = 264;
constexpr size_t REQUEST_PATH_CAPACITY = 1024;
// Under the user's Downloads folder, wherever that is redirected.
constexpr wchar_t USER_FILES_FOLDER_NAME[] = L"QOR Whitelist IP Updater";
constexpr wchar_t WRITE_PROBE_FORMAT[] = L"%s\\~write-probe-%lu.tmp";
// Marks each download as coming from the internet, as browsers do.
constexpr char ZONE_TEXT_FORMAT[] = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=%s\r\n";
constexpr size_t ZONE_TEXT_CAPACITY = 1024;

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

// A plain folder: a link or junction of that name (which a user could have
// made in a folder an administrator runs this from) is not used.
bool is_folder(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Trying is the one test that sees every kind of refusal: access lists,
// read-only media, a folder locked by its file system.
bool can_add_files(const wchar_t* folder) {
  wchar_t probe[FILES_PATH_CAPACITY];
  if (!format_bounded(probe, FILES_PATH_CAPACITY, WRITE_PROBE_FORMAT, folder, GetCurrentProcessId()))
    return false;
  return static_cast<bool>(
      file_handle(CreateFileW(probe, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr)));
}

// "QOR Whitelist IP Updater" in the user's Downloads folder, created when missing.
bool prepare_user_folder(wchar_t* folder) {
  co_task_string downloads;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_Downloads, KF_FLAG_CREATE, nullptr, downloads.put())) ||
      !format_bounded(folder, FILES_PATH_CAPACITY, L"%s\\%s", downloads.get(), USER_FILES_FOLDER_NAME))
    return false;
  return CreateDirectoryW(folder, nullptr) || is_folder(folder);
}

// "files" next to the program when this user can create it or add files to
// it (a portable copy); otherwise the user's own folder. Under Program Files
// only administrators may write, and what they put there runs as trusted.
folder_result prepare_files_folder(wchar_t* folder) {
  wchar_t module[FILES_PATH_CAPACITY];
  wchar_t* name;
  if (!program_path(module, FILES_PATH_CAPACITY, &name)) return folder_result::no_module_path;
  if (name == module) return folder_result::no_backslash;
  *name = L'\0';
  if (format_bounded(folder, FILES_PATH_CAPACITY, L"%s%s", module, FILES_FOLDER_NAME) &&
      (CreateDirectoryW(folder, nullptr) || (is_folder(folder) && can_add_files(folder))))
    return folder_result::ok;
  return prepare_user_folder(folder) ? folder_result::ok : folder_result::create_failed;
}

// Whether the folder's volume keeps named streams (NTFS does, FAT does not):
// elsewhere "name:stream" would be taken as a file name.
bool has_named_streams(const wchar_t* folder) {
  file_handle handle(CreateFileW(folder, FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  DWORD flags = 0;
  return handle &&
         GetVolumeInformationByHandleW(handle.get(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & FILE_NAMED_STREAMS);
}

// The stream's text, with the server URL cut before any control character
// so that it can't add lines of its own.
void zone_text(const wchar_t* server_url, char* out) {
  std::string url = wstring_to_utf8(server_url);
  url.resize(
      std::find_if(url.begin(), url.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }) -
      url.begin());
  format_bounded(out, ZONE_TEXT_CAPACITY, ZONE_TEXT_FORMAT, url.c_str());
}

// The failure's line on stdout, then its reason on stderr.
int failed(const wchar_t* line_format, const customer_result& result, const wchar_t* name = nullptr) {
  console_print(line_format, name);
  console_print_error(L"%s\n", customer_failure_text(result).c_str());
  return EXIT_FAILED;
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
    case folder_result::create_failed:
      console_print(L"Failed to create files directory.\n");
      return EXIT_FAILED;
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
  if (customer_result got = customer_api_get(o.server_url, request, o.token, response, sizeof response);
      !got.ok())
    return failed(L"Failed to fetch customer (check name and token).\n", got);
  long customer_id = find_first_id(response);
  if (customer_id < 1) {
    console_print(L"Customer not found or invalid response.\n");
    return EXIT_FAILED;
  }

  response[0] = '\0';
  format_bounded(request, REQUEST_PATH_CAPACITY, L"/api/auth/customers/%d/files",
                 static_cast<int>(customer_id));
  if (customer_result got = customer_api_get(o.server_url, request, o.token, response, sizeof response);
      !got.ok())
    return failed(L"Failed to fetch file list.\n", got);

  char zone[ZONE_TEXT_CAPACITY];
  zone_text(o.server_url, zone);
  const char* mark = has_named_streams(folder) ? zone : nullptr;
  unsigned downloaded = 0, refused = 0, skipped = 0;
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
    if (is_shortcut_name(entry.name)) {
      console_print(L"Skipped %s: shortcut files are not downloaded.\n", name);
      ++skipped;
      continue;
    }
    format_bounded(request, REQUEST_PATH_CAPACITY, L"/api/auth/customers/%d/files/%d/download",
                   static_cast<int>(customer_id), static_cast<int>(entry.id));
    customer_result result = customer_api_download(o.server_url, request, o.token, target, mark);
    if (result.step == customer_step::disk_room) {
      console_print(L"Not enough disk space for %s.\n", name);
      return EXIT_FAILED;
    }
    if (!result.ok()) return failed(L"Failed to download %s\n", result, name);
    console_print(L"Downloaded: %s\n", name);
    ++downloaded;
  }

  if (downloaded > 0) {
    console_print(L"Files downloaded to %s\n", folder);
    ShellExecuteW(nullptr, L"open", folder, nullptr, nullptr, SW_SHOWNORMAL);
  } else if (refused == 0 && skipped == 0) {
    console_print(is_empty_file_list(response) ? L"No files for this customer.\n" : L"No files found.\n");
  }
  // A refused file is a failure the tray must not report as success.
  return refused > 0 ? EXIT_FAILED : EXIT_OK;
}
