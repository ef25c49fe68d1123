// The service's stop as seen by the code that commands share with it: lock
// waits, retry passes and exchanges end early once it is requested. In a
// command nothing ever requests it.
#pragma once

#include <windows.h>

// Creates the manual-reset event; false when it can't be.
bool stop_request_init() noexcept;
// The event, or null when there is none.
HANDLE stop_request_event() noexcept;
// Sets the event and cancels every exchange in progress. Any thread.
void request_stop() noexcept;
bool stop_requested() noexcept;
