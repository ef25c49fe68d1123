// The registration engine: one replacement of the registered address by the
// current one, and the retry of queued removals.
#pragma once

#include "service_log.h"

// -1: no token or server URL, nothing sent. 0: ip added and recorded as
// last_ip. 1: the addition failed (reason in last_api_error), or a stop
// ended the pass. 2: ip added, but last_ip.txt could not be written: the
// failure is reported, and ip stays tracked (memory, queue).
int sync_pass(const wchar_t* ip, pass_mode mode);
// Sends the removal of every queued address again; drops an entry equal to
// the current public address without a request once it is recorded as the
// registered one. Ends early when a stop is requested.
void pending_retry_pass(pass_mode mode);
