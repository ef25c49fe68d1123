// Reading the data folder's small state files.
#pragma once

#include <cstddef>

#include "data_folder.h"
#include "pending_text.h"

// missing: no such file (or folder); unreadable: it exists but could not be
// opened or read.
enum class read_result { ok, missing, unreadable };
// Reads at most max bytes from the start of a state file into buf (max + 1
// bytes) and terminates them.
read_result read_state_file(const wchar_t* path, char* buf, size_t max);
// The one reader of last_ip.txt: its first line into out (at most
// IP_CAPACITY units) when it is a plain address, else an empty text; out is
// untouched unless the result is ok.
read_result read_last_ip(const wchar_t* path, wchar_t* out, size_t cap);

// The one reader of pending_delete_ips.txt: the addresses it holds, read as
// parse_pending_text reads them.
read_result read_pending_file(const wchar_t* path, pending_list& out, int max = PENDING_MAX);
