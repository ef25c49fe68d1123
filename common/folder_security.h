// Who may do what in the folders that the LocalSystem service, the elevated
// installer and standard users share. The one definition of each folder's
// security: the installer (through "whitelist.exe secure-folders") and the
// service at its start apply the same descriptors.
#pragma once

#include <windows.h>

#include <accctrl.h>

#include <cstddef>
#include <functional>

#include "file_io.h"
#include "handles.h"

// The folder users fill (the data folder):
// SYSTEM and Administrators full control; Users list the folder and add
// files (no subfolders), read, write, replace and delete the files in it,
// but can't delete, rename or re-secure the folder itself. The owner-rights
// entry keeps a file's creator from changing the file's security.
#define SHARED_FOLDER_DACL \
  L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;0x13019f;;;BU)(A;OIIO;0x13019f;;;OW)"
// An install folder outside Program Files gets what Program Files has:
// Users read and execute only.
#define PROGRAM_FOLDER_DACL L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
// Applied folders are owned by Administrators.
#define FOLDER_OWNER L"O:BA"

inline constexpr wchar_t SHARED_FOLDER_SDDL[] = FOLDER_OWNER SHARED_FOLDER_DACL;
inline constexpr wchar_t PROGRAM_FOLDER_SDDL[] = FOLDER_OWNER PROGRAM_FOLDER_DACL;

// Why a folder was refused or could not be secured: reason is null when it is
// fine; error is the Windows error of the call that failed, 0 when a rule
// refused the folder (a link, another owner).
struct [[nodiscard]] folder_problem {
  const char* reason = nullptr;
  DWORD error = 0;
  folder_problem() = default;
  // Implicit: a rule's refusal is written as its text.
  folder_problem(const char* why, DWORD code = 0) : reason(why), error(code) {}
  explicit operator bool() const { return reason != nullptr; }
};

// A self-relative descriptor built from SDDL text; empty when the text is bad.
local_memory descriptor_from_sddl(const wchar_t* sddl);

// What a held folder's handle may do: list and name files relative to it.
inline constexpr DWORD HELD_FOLDER_ACCESS =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

// Opens a folder itself, never what a link or mount point leads to, sharing
// reading and writing (renames in it go on) but not deletion (it can be
// neither deleted nor renamed while the handle is open).
file_handle open_folder_unfollowed(const wchar_t* path, DWORD access);

// nullptr for a plain folder (no link, no mount point) at path, else why not.
folder_problem plain_folder_problem(HANDLE folder, const wchar_t* path);

// Creates path when it is missing with the DACL of sddl (the owner stays the
// creator: a standard user can't name another owner), then opens it
// unfollowed, checks it is a plain folder and applies sddl's owner and
// protected DACL through that handle. held receives the handle on success,
// and also when only the apply failed but SYSTEM, Administrators or this
// process owns the folder (the problem is returned all the same).
folder_problem secure_folder(const wchar_t* path, const wchar_t* sddl, file_handle& held);

// True when the owner of an object (a file or kernel object handle opened
// with READ_CONTROL) is SYSTEM, Administrators, this process's own user or
// the owner this process gives what it creates.
bool owned_by_trusted(HANDLE object, SE_OBJECT_TYPE type);

// nullptr when an existing folder may become an install folder (or there is
// none yet), else why not: it is a link, another account owns it (a handle
// it opened before would outlive any re-securing), or its parent lets users
// delete or rename it.
folder_problem existing_install_folder_problem(const wchar_t* path);

// True when path lies inside one of the Program Files folders.
bool is_under_program_files(const wchar_t* path);

// What a file inherits in a shared folder (its creator stays its owner), and
// in a program folder.
inline constexpr wchar_t SHARED_FILE_SDDL[] =
    L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x13019f;;;BU)(A;ID;0x13019f;;;OW)";
inline constexpr wchar_t PROGRAM_FILE_SDDL[] =
    FOLDER_OWNER L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";

// Setting a folder's descriptor reaches none of the files in it. This gives
// every plain file directly in folder (held with FILE_LIST_DIRECTORY) the
// owner (when sddl names one) and DACL of sddl, each through its own handle
// opened relative to the folder. Links and files with a second name stay as
// they are, or lose their name here when remove is given (which hears of
// each). ERROR_SUCCESS, or the Windows error of the first file that could not
// be secured.
using second_name_report = std::function<void(const wchar_t* name, const char* why)>;
[[nodiscard]] DWORD secure_files_in(HANDLE folder, const wchar_t* sddl,
                                    const second_name_report& remove = nullptr);

// Creates the data folder when missing, or takes it as it is, and gives it
// owner Administrators and the shared folders' protected DACL.
folder_problem secure_data_folder(file_handle& held);
// A guarded process's start (see guard_state_files): a writer secures the
// data folder, a reader only opens it; either keeps it open (so it can be
// neither deleted, renamed nor swapped) and guards every state file from then
// on. nullptr, or why the folder could not be secured or used (see
// state_folder_problem() for whether anything may be written).
folder_problem guard_data_folder(refusal_report report, bool writer);
// True for a process that must take that guard before it uses the data
// folder: an elevated one, or SYSTEM. A standard user's process can only harm
// what its user can reach anyway. Test builds take the standard user's path
// when WHITELIST_TEST_STANDARD_USER is set (Wine reports every process as
// elevated).
bool takes_folder_guard();

// Creates the last folder level of path (an existing folder is the normal
// case) with the shared folders' DACL; nothing once the service guards it.
void ensure_data_folder(const wchar_t* path);
