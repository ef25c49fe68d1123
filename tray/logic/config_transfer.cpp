#include "config_transfer.h"

#include <windows.h>

#include <cwctype>

#include "data_folder.h"
#include "file_io.h"
#include "folder_security.h"
#include "text.h"

namespace {
constexpr size_t SYSTEM_TEXT_CAPACITY = 256;

transfer_result copy_result(const wchar_t* source, const wchar_t* destination) {
  unsigned long error = 0;
  if (copy_file_replacing(source, destination, &error)) return {};
  return {transfer_status::failed, error};
}

// The system's text for error, without its line end; false when it has none.
bool system_error_text(unsigned long error, wchar_t* out, size_t cap) {
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                out, static_cast<DWORD>(cap), nullptr);
  while (length > 0 && std::iswspace(out[length - 1])) out[--length] = L'\0';
  return length > 0;
}
}  // namespace

transfer_result export_config_file(const wchar_t* destination) {
  if (!destination || !*destination) return {transfer_status::failed, ERROR_INVALID_PARAMETER};
  wchar_t source[PATH_CAPACITY];
  data_file_path(CONFIG_FILE_NAME, source, PATH_CAPACITY);
  if (GetFileAttributesW(source) == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return {transfer_status::no_config, error};
  }
  return copy_result(source, destination);
}

transfer_result import_config_file(const wchar_t* source) {
  if (!source || !*source) return {transfer_status::failed, ERROR_INVALID_PARAMETER};
  if (GetFileAttributesW(source) == INVALID_FILE_ATTRIBUTES) return {transfer_status::failed, GetLastError()};
  wchar_t destination[PATH_CAPACITY];
  data_file_path(CONFIG_FILE_NAME, destination, PATH_CAPACITY);
  ensure_data_folder(destination);
  return copy_result(source, destination);
}

void export_failure_text(transfer_result result, wchar_t* out, size_t cap) {
  wchar_t reason[SYSTEM_TEXT_CAPACITY];
  if (result.status == transfer_status::no_config)
    copy_bounded(out, cap, TEXT_NO_CONFIG_TO_EXPORT);
  else if (result.error == ERROR_SUCCESS)
    copy_bounded(out, cap, TEXT_EXPORT_FAILED);
  else if (system_error_text(result.error, reason, SYSTEM_TEXT_CAPACITY))
    format_bounded(out, cap, FORMAT_EXPORT_FAILED, result.error, reason);
  else
    format_bounded(out, cap, FORMAT_EXPORT_FAILED_BARE, result.error);
}
