#include "folder_security.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
#include <string>

#include "build_settings.h"
#include "data_folder.h"
#include "relative_file.h"
#include "text.h"

namespace {
// Room for a TOKEN_USER or TOKEN_OWNER with its SID (a SID takes at most 68 bytes).
constexpr DWORD TOKEN_SID_BYTES = 256;

// Taking ownership of a folder someone else created first needs these. They
// are on only while a descriptor is applied; a process that doesn't hold them
// goes on without (its apply then fails).
class privileges_on {
 public:
  privileges_on() {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put())) return;
    struct {
      DWORD count;
      LUID_AND_ATTRIBUTES privileges[2];
    } wanted{2, {{{0, 0}, SE_PRIVILEGE_ENABLED}, {{0, 0}, SE_PRIVILEGE_ENABLED}}};
    if (!LookupPrivilegeValueW(nullptr, SE_TAKE_OWNERSHIP_NAME, &wanted.privileges[0].Luid) ||
        !LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &wanted.privileges[1].Luid))
      return;
    DWORD size = sizeof before_;
    adjusted_ = AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted), size,
                                      reinterpret_cast<TOKEN_PRIVILEGES*>(&before_), &size);
  }
  ~privileges_on() {
    if (adjusted_)
      AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&before_), 0, nullptr,
                            nullptr);
  }
  privileges_on(const privileges_on&) = delete;
  privileges_on& operator=(const privileges_on&) = delete;

 private:
  kernel_handle token_;
  struct {
    DWORD count;
    LUID_AND_ATTRIBUTES privileges[2];
  } before_{};
  bool adjusted_ = false;
};

bool is_link_attribute(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Set on the handle itself: the system stores the descriptor on this folder
// only and, unlike SetSecurityInfo, pushes none of its inheritable entries
// onto the files already in it (one of which may be a link to a file
// elsewhere).
// ERROR_SUCCESS or the failed call's error, read before the privileges are
// turned off again.
DWORD apply_descriptor(HANDLE folder, const wchar_t* sddl) {
  local_memory descriptor = descriptor_from_sddl(sddl);
  if (!descriptor) return GetLastError();
  privileges_on privileges;
  return SetKernelObjectSecurity(folder, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 descriptor.get())
             ? ERROR_SUCCESS
             : GetLastError();
}

// This process's user, or the owner it gives the objects it creates.
bool is_own_sid(PSID sid) {
  kernel_handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  alignas(void*) char buffer[TOKEN_SID_BYTES];
  DWORD needed = 0;
  if (GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &needed) &&
      EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid))
    return true;
  return GetTokenInformation(token.get(), TokenOwner, buffer, sizeof buffer, &needed) &&
         EqualSid(sid, reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner);
}

bool is_inside(const wchar_t* path, const wchar_t* folder) {
  size_t len = std::wcslen(folder);
  while (len > 0 && folder[len - 1] == L'\\') --len;
  return len > 0 && _wcsnicmp(path, folder, len) == 0 && (path[len] == L'\\' || path[len] == L'\0');
}
}  // namespace

local_memory descriptor_from_sddl(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr);
  return local_memory(descriptor);
}

file_handle open_folder_unfollowed(const wchar_t* path, DWORD access) {
  return file_handle(CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

folder_problem plain_folder_problem(HANDLE folder, const wchar_t* path) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &tag, sizeof tag))
    return {"its attributes can't be read", GetLastError()};
  // The path is asked too: Wine shows a Unix link to a folder only there.
  if (is_link_attribute(tag.FileAttributes) || (path && is_link_attribute(GetFileAttributesW(path))))
    return "it is a link or mount point";
  if (!(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return "it is not a folder";
  return {};
}

folder_problem secure_folder(const wchar_t* path, const wchar_t* sddl, file_handle& held) {
  local_memory descriptor = descriptor_from_sddl(sddl);
  if (!descriptor) return {"its security descriptor can't be built", GetLastError()};
  if (!is_link_attribute(GetFileAttributesW(path))) {
    // Created without an owner of our choosing: only the DACL part counts here.
    const wchar_t* dacl_only = std::wcsstr(sddl, L"D:");
    local_memory creation = descriptor_from_sddl(dacl_only ? dacl_only : sddl);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, creation.get(), FALSE};
    CreateDirectoryW(path, &attributes);
  }
  file_handle folder = open_folder_unfollowed(path, HELD_FOLDER_ACCESS | WRITE_DAC | WRITE_OWNER);
  if (!folder) return {"it can't be opened", GetLastError()};
  if (folder_problem problem = plain_folder_problem(folder.get(), path)) return problem;
  folder_problem problem;
  if (DWORD error = apply_descriptor(folder.get(), sddl)) {
    problem = {"its security can't be set", error};
    // Still usable as it is when nobody else owns it.
    if (!owned_by_trusted(folder.get(), SE_FILE_OBJECT)) return problem;
  }
  held = std::move(folder);
  return problem;
}

namespace {
// One entry, through its own handle that is never what a link leads to. A
// plain file gets the descriptor; a link or a second name of a file
// elsewhere loses its name when remove is given, else stays as it is.
// ERROR_SUCCESS or the failed call's error.
DWORD secure_file_in(HANDLE folder, const wchar_t* name, PSECURITY_DESCRIPTOR descriptor,
                     SECURITY_INFORMATION parts, const second_name_report& remove) {
  // DELETE only where a name may go: the data folder's anchor is held without delete sharing.
  // Backup intent: the restore privilege, on here, then reaches a file whose
  // creator gave SYSTEM and Administrators no entry.
  file_handle file = open_relative(folder, name, WRITE_DAC | WRITE_OWNER | (remove ? DELETE : 0),
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   relative_disposition::open, false, {nullptr, true});
  if (!file) return GetLastError();
  const char* problem = plain_file_problem(file.get());
  if (!problem)
    return SetKernelObjectSecurity(file.get(), parts, descriptor) ? ERROR_SUCCESS : GetLastError();
  if (!remove) return ERROR_SUCCESS;
  // Wine may follow a link to a folder even here: only a handle to the link
  // itself, or to a plain file's extra name, may remove anything.
  BY_HANDLE_FILE_INFORMATION info{};
  bool itself = GetFileInformationByHandle(file.get(), &info) &&
                ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                 !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
  if (!itself) return ERROR_CANT_ACCESS_FILE;  // the handle is not the entry's own: nothing of it may go
  if (!delete_by_handle(file.get())) return GetLastError();
  remove(name, problem);
  return ERROR_SUCCESS;
}
}  // namespace

DWORD secure_files_in(HANDLE folder, const wchar_t* sddl, const second_name_report& remove) {
  local_memory descriptor = descriptor_from_sddl(sddl);
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!descriptor || !GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted)) return GetLastError();
  const SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION | (owner ? OWNER_SECURITY_INFORMATION : 0);
  privileges_on privileges;
  DWORD first_error = ERROR_SUCCESS;
  alignas(LONGLONG) unsigned char buffer[16384];
  for (auto kind = FileFullDirectoryRestartInfo;
       GetFileInformationByHandleEx(folder, kind, buffer, sizeof buffer); kind = FileFullDirectoryInfo) {
    for (size_t at = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer + at);
      std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      bool link = entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
      if (!(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || link) {
        DWORD error = secure_file_in(folder, name.c_str(), descriptor.get(), parts, remove);
        if (!first_error) first_error = error;
      }
      if (!entry->NextEntryOffset) break;
      at += entry->NextEntryOffset;
    }
  }
  DWORD listing = GetLastError();
  if (first_error) return first_error;
  return listing == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : listing;
}

bool owned_by_trusted(HANDLE object, SE_OBJECT_TYPE type) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &raw) !=
      ERROR_SUCCESS)
    return false;
  local_memory descriptor(raw);
  if (!owner) return false;
  return IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
         is_own_sid(owner);
}

namespace {
// Everyone, Authenticated Users, Users and Interactive: any standard user.
bool is_users_sid(PSID sid) {
  for (WELL_KNOWN_SID_TYPE type :
       {WinWorldSid, WinAuthenticatedUserSid, WinBuiltinUsersSid, WinInteractiveSid})
    if (IsWellKnownSid(sid, type)) return true;
  return false;
}

// Whether the folder's DACL lets standard users delete its children.
bool users_may_delete_children(const wchar_t* folder) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &raw) != ERROR_SUCCESS)
    return true;
  local_memory descriptor(raw);
  if (!dacl) return true;  // no DACL: everyone may do everything
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
        (header->AceFlags & INHERIT_ONLY_ACE))
      continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if ((ace->Mask & (FILE_DELETE_CHILD | GENERIC_ALL)) && is_users_sid(&ace->SidStart)) return true;
  }
  return false;
}
}  // namespace

folder_problem existing_install_folder_problem(const wchar_t* path) {
  file_handle folder = open_folder_unfollowed(path, READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE);
  if (!folder) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    return {"it can't be opened", error};
  }
  if (folder_problem problem = plain_folder_problem(folder.get(), path)) return problem;
  if (!owned_by_trusted(folder.get(), SE_FILE_OBJECT)) return "another account owns it";
  wchar_t parent[PATH_CAPACITY];
  copy_bounded(parent, PATH_CAPACITY, path);
  wchar_t* last = std::wcsrchr(parent, L'\\');
  if (!last) return "it has no parent folder";
  last[last == parent + 2 ? 1 : 0] = L'\0';  // "C:\" stays a root
  if (users_may_delete_children(parent)) return "its parent folder lets users delete or rename it";
  return {};
}

bool is_under_program_files(const wchar_t* path) {
  // A 32-bit process sees the x86 folder as ProgramFiles; ProgramW6432 names
  // the 64-bit one.
  for (const wchar_t* name : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
    const wchar_t* folder = _wgetenv(name);
    if (folder && *folder && is_inside(path, folder)) return true;
  }
  return false;
}

folder_problem secure_data_folder(file_handle& held) {
  wchar_t folder[PATH_CAPACITY];
  if (!data_folder_path(folder, PATH_CAPACITY)) return "its path is too long";
  return secure_folder(folder, SHARED_FOLDER_SDDL, held);
}

void ensure_data_folder(const wchar_t* path) {
  if (state_files_guarded()) return;
  wchar_t folder[PATH_CAPACITY];
  copy_bounded(folder, PATH_CAPACITY, path);
  wchar_t* last = std::wcsrchr(folder, L'\\');
  if (!last) return;
  *last = L'\0';
  local_memory descriptor = descriptor_from_sddl(SHARED_FOLDER_DACL);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  CreateDirectoryW(folder, &attributes);
}

folder_problem guard_data_folder(refusal_report report, bool writer) {
  file_handle held;
  folder_problem problem;
  wchar_t path[PATH_CAPACITY] = L"";
  if (writer) {
    problem = secure_data_folder(held);
  } else if (!data_folder_path(path, PATH_CAPACITY)) {
    problem = "its path is too long";
  } else if ((held = open_folder_unfollowed(path, HELD_FOLDER_ACCESS)) &&
             (problem = plain_folder_problem(held.get(), path))) {
    held.reset();
  }
  const char* unusable = guard_state_files(std::move(held), report, writer);
  // Nothing to read in a folder that isn't there yet.
  if (!writer && !problem && unusable && state_folder_absent()) return {};
  return problem ? problem : folder_problem(unusable);
}

bool takes_folder_guard() {
  if (build_settings::TEST_HOOKS && _wgetenv(L"WHITELIST_TEST_STANDARD_USER")) return false;
  kernel_handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return true;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) return true;
  if (elevation.TokenIsElevated) return true;
  alignas(void*) char buffer[TOKEN_SID_BYTES];
  return !GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size) ||
         IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid);
}
