#include "shared_objects.h"

bool everyone_access::init() noexcept {
  if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE))
    return false;
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
  return true;
}

machine_lock::machine_lock(const wchar_t* name, DWORD wait_ms) noexcept {
  everyone_access access;
  mutex_.reset(CreateMutexW(access.init() ? access.attributes() : nullptr, FALSE, name));
  if (!mutex_) return;
  DWORD waited = WaitForSingleObject(mutex_.get(), wait_ms);
  owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

machine_lock::~machine_lock() {
  if (owned_) ReleaseMutex(mutex_.get());
}
