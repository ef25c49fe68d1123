#include "stop_request.h"

#include "handles.h"
#include "http_transport.h"

namespace {
// Process-wide, not part of agent_state: the service control handler sets it,
// and Windows calls that handler with no context of ours. Created once by
// service_main and kept until the process ends: a worker that outlives a stop
// may still wait on it.
kernel_handle stop_event;
}  // namespace

bool stop_request_init() noexcept {
  if (!stop_event) stop_event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return static_cast<bool>(stop_event);
}

HANDLE stop_request_event() noexcept {
  return stop_event.get();
}

void request_stop() noexcept {
  if (stop_event) SetEvent(stop_event.get());
  http_cancel_all();
}

bool stop_requested() noexcept {
  return stop_event && WaitForSingleObject(stop_event.get(), 0) == WAIT_OBJECT_0;
}
