// The Windows service's side facing the control manager: registration of the
// handler, status reports, the controls. The worker is service_worker.h.
#pragma once

#include <windows.h>

void WINAPI service_main(DWORD argc, LPWSTR* argv) noexcept;
