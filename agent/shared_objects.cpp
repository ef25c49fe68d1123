#include "shared_objects.h"

#include "agent_constants.h"
#include "file_io.h"
#include "folder_security.h"
#include "stop_request.h"

namespace {
template <typename Create>
kernel_handle create_shared(foreign_objects rule, DWORD use, Create create) {
  local_memory descriptor = descriptor_from_sddl(SHARED_OBJECT_SDDL);
  if (!descriptor) return {};
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  // The owner can only be read with READ_CONTROL, which only the service asks for.
  DWORD access = use | (rule == foreign_objects::refuse ? READ_CONTROL : 0);
  kernel_handle object(create(&attributes, access));
  if (object && GetLastError() == ERROR_ALREADY_EXISTS && rule == foreign_objects::refuse &&
      !owned_by_trusted(object.get(), SE_KERNEL_OBJECT))
    object.reset();
  return object;
}
}  // namespace

kernel_handle create_shared_event(const wchar_t* name, foreign_objects rule) {
  return create_shared(rule, SYNCHRONIZE | EVENT_MODIFY_STATE,
                       [&](SECURITY_ATTRIBUTES* attributes, DWORD access) {
                         return CreateEventExW(attributes, name, CREATE_EVENT_MANUAL_RESET, access);
                       });
}

kernel_handle create_shared_mutex(const wchar_t* name, foreign_objects rule) {
  return create_shared(rule, SYNCHRONIZE | MUTEX_MODIFY_STATE,
                       [&](SECURITY_ATTRIBUTES* attributes, DWORD access) {
                         return CreateMutexExW(attributes, name, 0, access);
                       });
}

bool keep_service_locks() {
  static kernel_handle registration = create_shared_mutex(REGISTRATION_MUTEX_NAME, foreign_objects::refuse);
  static kernel_handle queue = create_shared_mutex(PENDING_MUTEX_NAME, foreign_objects::refuse);
  return registration && queue;
}

machine_lock::machine_lock(const wchar_t* name, DWORD wait_ms) noexcept {
  // Only the service guards its state files: it is the one that refuses.
  mutex_ =
      create_shared_mutex(name, state_files_guarded() ? foreign_objects::refuse : foreign_objects::adopt);
  if (!mutex_) return;
  // A stopping service does not wait for another process's registration.
  const HANDLE waits[] = {mutex_.get(), stop_request_event()};
  DWORD waited = WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, wait_ms);
  owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED_0;
}

machine_lock::~machine_lock() {
  if (owned_) ReleaseMutex(mutex_.get());
}
