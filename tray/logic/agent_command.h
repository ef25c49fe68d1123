// Command lines of the agent's runs and the texts of their outcomes: plain
// text logic, free of <windows.h>.
#pragma once

#include <cstddef>

inline constexpr wchar_t TEXT_SYNC_FAILED_SHORT[] = L"Whitelist sync failed.";

// "<program>" sync. False when the line does not fit (nothing is started then).
bool sync_command_line(const wchar_t* program_path, wchar_t* out, size_t cap);
// "<program>" files --name "<name>" --token "<token>", each value quoted the
// way the C runtime splits arguments, so quotes and trailing backslashes in a
// value reach sync.exe unchanged. False when the line does not fit.
bool files_command_line(const wchar_t* program_path, const wchar_t* name, const wchar_t* token, wchar_t* out,
                        size_t cap);

// The balloon of a failed sync: the worker's text, else the last error (may
// be null), else "Whitelist sync failed.", cut like every balloon text.
void sync_failure_balloon_text(const wchar_t* result_text, const wchar_t* last_error, wchar_t* out,
                               size_t cap);
