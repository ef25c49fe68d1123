// One replacement of the registered address by the current one.
#pragma once

#include "service_log.h"

// -1: no token or server URL, nothing sent. 0: ip added and recorded as
// last_ip. 1: the addition failed (reason in last_api_error).
int sync_pass(const wchar_t* ip, pass_mode mode);

enum class old_ip_removal { removed, queued, queue_full };
// Sends the removal of an address that is no longer this PC's; a failed
// removal is queued for retry, a successful one leaves the queue.
old_ip_removal remove_old_ip(const wchar_t* old_ip);
