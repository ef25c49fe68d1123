// One replacement of the registered address by the current one.
#pragma once

#include "service_log.h"

// -1: no token or server URL, nothing sent. 0: ip added and recorded as
// last_ip. 1: the addition failed (reason in last_api_error), or a stop
// ended the pass. 2: ip added, but last_ip.txt could not be written: the
// failure is reported, and ip stays tracked (memory, queue).
int sync_pass(const wchar_t* ip, pass_mode mode);

enum class old_ip_removal { removed, queued, queue_full, queue_unwritten };
// Sends the removal of an address that is no longer this PC's; a failed
// removal is queued for retry, a successful one leaves the queue.
old_ip_removal remove_old_ip(const wchar_t* old_ip);
// The warnings for a removal that did not happen, in mode's place.
void report_removal(old_ip_removal removal, const wchar_t* old_ip, pass_mode mode);
// The report of a registration that last_ip.txt could not record.
void report_unrecorded(const wchar_t* ip, pass_mode mode);
