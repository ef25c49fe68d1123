#include "relative_file.h"

#include <winternl.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {
constexpr NTSTATUS STATUS_INVALID_PARAMETER_VALUE = static_cast<NTSTATUS>(0xC000000DL);
constexpr NTSTATUS STATUS_REPARSE_POINT_MET = static_cast<NTSTATUS>(0xC000050BL);  // ..._ENCOUNTERED
// FileDispositionInfoEx (Windows 10 1607 on), not declared for the Windows 7 target.
constexpr auto FILE_DISPOSITION_INFO_EX_CLASS = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD DISPOSITION_DELETE_POSIX = 0x1 | 0x2;
// Older systems reject OBJ_DONT_REPARSE as an invalid parameter; once seen,
// opens go on without it (the final name is still never followed).
std::atomic<bool> dont_reparse_supported{true};

bool is_single_name(const wchar_t* name) {
  return name && *name && !std::wcspbrk(name, L"\\/:") && std::wcscmp(name, L".") != 0 &&
         std::wcscmp(name, L"..") != 0;
}

UNICODE_STRING counted(const wchar_t* name) {
  USHORT bytes = static_cast<USHORT>(std::wcslen(name) * sizeof(wchar_t));
  return UNICODE_STRING{bytes, bytes, const_cast<PWSTR>(name)};
}

bool failed(NTSTATUS status) {
  if (NT_SUCCESS(status)) return false;
  SetLastError(RtlNtStatusToDosError(status));
  return true;
}
}  // namespace

file_handle open_relative(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                          relative_disposition disposition, bool follow, const relative_extras& extras) {
  if (!folder || folder == INVALID_HANDLE_VALUE || !is_single_name(name) || std::wcslen(name) > 255) {
    SetLastError(ERROR_INVALID_NAME);
    return {};
  }
  UNICODE_STRING object_name = counted(name);
  ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | (follow ? 0 : FILE_OPEN_REPARSE_POINT) |
                  (extras.backup_intent ? FILE_OPEN_FOR_BACKUP_INTENT : 0);
  // The name is one component below a held handle, so FILE_OPEN_REPARSE_POINT
  // alone already keeps a link from being followed; a system that reports the
  // link itself as a reparse point met is asked once more without the flag,
  // and the link is then opened as itself.
  bool dont_reparse = !follow && dont_reparse_supported.load();
  for (;;) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &object_name,
                               OBJ_CASE_INSENSITIVE | (dont_reparse ? OBJ_DONT_REPARSE : 0), folder,
                               extras.security);
    HANDLE opened = INVALID_HANDLE_VALUE;
    IO_STATUS_BLOCK io{};
    NTSTATUS status =
        NtCreateFile(&opened, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io, nullptr,
                     FILE_ATTRIBUTE_NORMAL, share, static_cast<ULONG>(disposition), options, nullptr, 0);
    if (dont_reparse && (status == STATUS_INVALID_PARAMETER_VALUE || status == STATUS_REPARSE_POINT_MET)) {
      if (status == STATUS_INVALID_PARAMETER_VALUE) dont_reparse_supported = false;
      dont_reparse = false;
      continue;
    }
    if (failed(status)) return {};
    return file_handle(opened);
  }
}

file_handle open_new_stream(HANDLE file, const wchar_t* stream) {
  wchar_t name[258] = L":";
  if (!is_single_name(stream) || std::wcslen(stream) > 255) {
    SetLastError(ERROR_INVALID_NAME);
    return {};
  }
  std::wcscat(name, stream);
  UNICODE_STRING object_name = counted(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, file, nullptr);
  HANDLE opened = INVALID_HANDLE_VALUE;
  IO_STATUS_BLOCK io{};
  if (failed(NtCreateFile(&opened, GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, nullptr,
                          FILE_ATTRIBUTE_NORMAL, 0, static_cast<ULONG>(relative_disposition::create_new),
                          FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0)))
    return {};
  return file_handle(opened);
}

bool rename_relative(HANDLE file, HANDLE folder, const wchar_t* name) {
  if (!is_single_name(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  size_t bytes = std::wcslen(name) * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFORMATION) + bytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = folder;
  info->FileNameLength = static_cast<ULONG>(bytes);
  std::memcpy(info->FileName, name, bytes);
  IO_STATUS_BLOCK io{};
  return !failed(
      NtSetInformationFile(file, &io, info, static_cast<ULONG>(buffer.size()), FileRenameInformation));
}

bool delete_by_handle(HANDLE file) {
  // The name goes at once even while others hold the file, so a fresh file
  // can take it straight away; older systems only know delete-on-close.
  DWORD posix = DISPOSITION_DELETE_POSIX;
  if (SetFileInformationByHandle(file, FILE_DISPOSITION_INFO_EX_CLASS, &posix, sizeof posix)) return true;
  FILE_DISPOSITION_INFO dispose{TRUE};
  return SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose) != FALSE;
}
