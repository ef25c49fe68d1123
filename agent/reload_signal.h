// Tells a running service that last_ip.txt changed behind its back.
#pragma once

// The reload event when it can be opened, control code 128 otherwise. Silent:
// a command succeeds whether or not a service heard it.
void signal_service_reload();
