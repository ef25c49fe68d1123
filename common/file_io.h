// Whole-file reads and replacements shared by every state file.
#pragma once

#include <windows.h>

#include <cstddef>

#include "handles.h"

// Another process may hold a state file open for a moment (the tray reading,
// the agent replacing); such a clash is retried for about this long.
inline constexpr DWORD SHARING_RETRY_TOTAL_MS = 200;
inline constexpr DWORD SHARING_RETRY_STEP_MS = 20;

// CreateFileW for an existing file, retrying sharing clashes.
file_handle open_for_reading(const wchar_t* path, DWORD share_mode);

// Reads up to max_bytes from the start of an open file into buf; returns the
// count, or -1 when a read fails.
long read_up_to(HANDLE file, char* buf, size_t max_bytes);

// Replaces path with exactly these bytes: they go to a temporary file beside it first and
// are moved over the old file only when completely written, so a failure at
// any step leaves the old file intact and never a cut one. 0 or -1.
int replace_file(const wchar_t* path, const void* data, size_t size);
