// Named kernel objects that the service (LocalSystem) creates and commands run
// by any user must use: SYSTEM and Administrators have full control; signed-in
// users, and whoever created an object first, may only wait on it and signal
// it, never change its security or owner.
#pragma once

#include <windows.h>

#include "handles.h"

inline constexpr wchar_t SHARED_OBJECT_SDDL[] =
    L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100003;;;AU)(A;;0x100003;;;OW)";

// Whether an object that already existed may be used whoever created it
// (commands run as the user), or only when SYSTEM, Administrators or this
// process owns it (the service, which must not adopt an object a user
// created first and so controls).
enum class foreign_objects { adopt, refuse };

// Creates the named manual-reset event or mutex with SHARED_OBJECT_SDDL, or
// opens the existing one asking only for waiting and signalling. Empty when
// it can't be had or is refused.
kernel_handle create_shared_event(const wchar_t* name, foreign_objects rule);
kernel_handle create_shared_mutex(const wchar_t* name, foreign_objects rule);

// The service creates both machine-wide locks at its start and keeps them for
// its life: a lock that a user's process had created first would be one the
// service refuses, and it would then register without it. False when one of
// them is refused (another account created it before the service).
bool keep_service_locks();

// A named mutex held for the object's lifetime; the owning thread may take it
// again. When it can't be had within wait_ms (no rights, a holder that hangs,
// an object the service refuses) the work goes on without it: nothing may
// stop working for a lock's sake. A service stop ends the wait at once.
class machine_lock {
 public:
  machine_lock(const wchar_t* name, DWORD wait_ms) noexcept;
  ~machine_lock();
  machine_lock(const machine_lock&) = delete;
  machine_lock& operator=(const machine_lock&) = delete;

 private:
  kernel_handle mutex_;
  bool owned_ = false;
};
