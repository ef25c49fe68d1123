// The service's log: timestamped lines in service.log, each message also sent
// to the debugger output.
#pragma once

#include <cstddef>

// Where the messages of a sync or retry pass go: the service's log, the sync
// command's console, configure mode's console.
enum class pass_mode { log, console, configure };

// 8-bit format (Microsoft meaning: "%S" takes a UTF-16 text). Never fails
// towards the caller: a line that can't be written is lost. At the cap the
// log becomes service.log.1 and a new one starts; when it can't be renamed
// (a reader holds it without delete sharing) it starts again empty.
void service_log(const char* format, ...);
// For the state-file guard: a line naming a file the service refused.
void log_refused_file(const wchar_t* path, const char* why);
