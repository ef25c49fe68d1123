// The agent's fixed sizes, intervals and names in one place (free of
// <windows.h>, so the pure text logic can use it too).
#pragma once

#include <cstddef>

// Service
inline constexpr unsigned long POLL_INTERVAL_MS = 60000;
inline constexpr unsigned long START_WAIT_HINT_MS = 2000;
inline constexpr unsigned long STOP_WAIT_HINT_MS = 5000;
// A stop cancels the worker's exchange and wakes its waits; a worker still
// busy after this (a call its cancellation did not end) is not waited for.
inline constexpr unsigned long STOP_GRACE_MS = 1500;
inline constexpr unsigned long STOP_CHECKPOINT_MS = 250;
// Reloads are taken at most this often by the network part of a cycle (any
// account may set the reload event); the sets meanwhile are taken together.
inline constexpr unsigned long RELOAD_CYCLE_GAP_MS = 5000;
// A reload waits this long for the rest of its burst.
inline constexpr unsigned long RELOAD_SETTLE_MS = 1000;
// An address or interface change, or a resume, is checked once the network
// has been quiet this long (a burst of changes, routes coming up).
inline constexpr unsigned long CHANGE_SETTLE_MS = 2000;
// A change-driven cycle that reaches no network tries again after these
// waits, then leaves it to the poll.
inline constexpr unsigned long CHANGE_RETRY_MS[] = {5000, 10000, 20000};
// A last_ip.txt that another process holds open is tried again this often.
inline constexpr int LAST_IP_WRITE_ATTEMPTS = 6;
inline constexpr unsigned long LAST_IP_WRITE_RETRY_MS = 200;

// Service log
inline constexpr wchar_t LOG_FILE_NAME[] = L"service.log";
// The log that reached the cap last, replaced at each cap.
inline constexpr wchar_t LOG_HISTORY_FILE_NAME[] = L"service.log.1";
inline constexpr unsigned long LOG_MAX_BYTES = 524288;
inline constexpr size_t LOG_MESSAGE_CAPACITY = 512;
inline constexpr size_t LOG_LINE_CAPACITY = 640;

// Files download
// The download folder beside the programs, which secure-folders secures.
inline constexpr wchar_t FILES_FOLDER_NAME[] = L"files";

// Pending-delete queue
// Held around every read-modify-write of the queue file, by every agent
// process, so that an entry added by one process is never lost by another's
// save. Only file work happens under it, never a request.
inline constexpr wchar_t PENDING_MUTEX_NAME[] = L"Global\\QORWhitelistIPUpdaterPendingQueue";
inline constexpr unsigned long PENDING_MUTEX_WAIT_MS = 10000;
// Held across a whole registration (removal, addition, record), so that two
// agent processes never replace the registered address at the same time.
// A holder stuck on a dead server longer than this is not waited for.
inline constexpr wchar_t REGISTRATION_MUTEX_NAME[] = L"Global\\QORWhitelistIPUpdaterRegistration";
inline constexpr unsigned long REGISTRATION_MUTEX_WAIT_MS = 60000;
