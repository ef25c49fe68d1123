// Asks the service control manager for the agent service's state.
#pragma once

#include <windows.h>

enum class service_query { not_installed, unknown, ok };

// state receives the SERVICE_* state when the result is ok.
service_query query_agent_service(DWORD& state);
