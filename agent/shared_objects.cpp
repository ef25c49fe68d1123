#include "shared_objects.h"

#include "stop_request.h"

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
  // A stopping service does not wait for another process's registration.
  const HANDLE waits[] = {mutex_.get(), stop_request_event()};
  DWORD waited = WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, wait_ms);
  owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED_0;
}

machine_lock::~machine_lock() {
  if (owned_) ReleaseMutex(mutex_.get());
}
