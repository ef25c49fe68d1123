// The Windows service side of the agent.
#pragma once

#include <windows.h>

void WINAPI service_main(DWORD argc, LPWSTR* argv) noexcept;
