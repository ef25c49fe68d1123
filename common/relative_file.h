// Files named by one name inside an open folder, through ntdll: the folder is
// the handle, never its path, so a folder swapped for a link or mount point
// after it was opened changes nothing here.
#pragma once

#include <windows.h>

#include "handles.h"

// ntdll's create dispositions, the only ones used here.
enum class relative_disposition : ULONG { open = 1, create_new = 2, open_always = 3 };

// Opens (or creates) name, a single name without backslash, colon or slash,
// in folder. With follow false a link is opened as itself, and the system is
// asked not to follow any reparse point where it supports that. Empty, with
// the Win32 error as last error, on failure.
// security: the descriptor a created file gets (else it inherits);
// backup_intent: the open may use the enabled backup and restore privileges.
struct relative_extras {
  PSECURITY_DESCRIPTOR security = nullptr;
  bool backup_intent = false;
};
file_handle open_relative(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                          relative_disposition disposition, bool follow, const relative_extras& extras = {});

// Creates the named stream `stream` (a single name) of an open file, relative
// to the file's handle: never through a path that could have changed.
file_handle open_new_stream(HANDLE file, const wchar_t* stream);

// Gives file (opened with DELETE) the name `name` in folder, replacing a file
// of that name (only the name, never what a link leads to). false with the
// Win32 error as last error.
bool rename_relative(HANDLE file, HANDLE folder, const wchar_t* name);

// Removes the name of file (opened with DELETE): at once where the system
// supports it, else when its last handle closes.
bool delete_by_handle(HANDLE file);
