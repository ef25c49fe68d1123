// Named kernel objects that the service (LocalSystem) creates and commands run
// by any user must open: they get a security descriptor with a NULL DACL.
#pragma once

#include <windows.h>

#include "handles.h"

class everyone_access {
 public:
  // False when the descriptor can't be built.
  bool init() noexcept;
  SECURITY_ATTRIBUTES* attributes() noexcept { return &attributes_; }

 private:
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

// A named mutex held for the object's lifetime; the owning thread may take it
// again. When it can't be had within wait_ms (no rights, a holder that hangs)
// the work goes on without it: nothing may stop working for a lock's sake.
// A service stop ends the wait at once.
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
