// The service's log: timestamped lines in service.log, each message also sent
// to the debugger output.
#pragma once

#include <cstddef>

// Where the messages of a sync or retry pass go: the service's log, the sync
// command's console, configure mode's console.
enum class pass_mode { log, console, configure };

// Formats "<ProgramData>\QOR Whitelist IP Updater\service.log" into buf;
// returns its length, or -1 when the path was cut.
int log_path(wchar_t* buf, size_t cap);
// 8-bit format (Microsoft meaning: "%S" takes a UTF-16 text). Never fails
// towards the caller: a line that can't be written is lost.
void service_log(const char* format, ...);
// For the state-file guard: a line naming a file the service refused.
void log_refused_file(const wchar_t* path, const char* why);
