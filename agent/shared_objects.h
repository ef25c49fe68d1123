// Named kernel objects that the service (LocalSystem) creates and commands run
// by any user must open: they get a security descriptor with a NULL DACL.
#pragma once

#include <windows.h>

class everyone_access {
 public:
  // False when the descriptor can't be built.
  bool init() noexcept;
  SECURITY_ATTRIBUTES* attributes() noexcept { return &attributes_; }

 private:
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};
