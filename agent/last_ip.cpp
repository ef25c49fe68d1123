#include "last_ip.h"

#include "agent_constants.h"
#include "agent_state.h"
#include "pending_queue.h"
#include "stop_request.h"
#include "text.h"

namespace {
// Caller holds agent.last_ip_lock.
bool write_with_retries(const agent_state& agent) {
  for (int attempt = 1;; ++attempt) {
    if (write_last_ip_file(agent)) return true;
    if (attempt >= LAST_IP_WRITE_ATTEMPTS) return false;
    HANDLE stop = stop_request_event();
    if (stop ? WaitForSingleObject(stop, LAST_IP_WRITE_RETRY_MS) == WAIT_OBJECT_0
             : (Sleep(LAST_IP_WRITE_RETRY_MS), false))
      return false;
  }
}

// Caller holds the queue lock, then agent.last_ip_lock. Writes the address
// that memory holds, unless another process recorded its own registration
// since: then the file is the truth again (ours was queued when its write
// failed).
void catch_up(agent_state& agent) {
  if (!agent.last_ip_unwritten) return;
  wchar_t on_file[IP_CAPACITY] = {};
  read_last_ip_file(agent, on_file);
  if (!same_ip(on_file, agent.stale_on_file)) {
    agent.last_ip_unwritten = false;
    load_last_ip(agent);
  } else if (write_last_ip_file(agent)) {
    agent.last_ip_unwritten = false;
  }
}
}  // namespace

bool last_ip_copy(agent_state& agent, wchar_t* out) {
  std::lock_guard lock(agent.last_ip_lock);
  copy_bounded(out, IP_CAPACITY, agent.last_ip);
  return !agent.last_ip_unwritten;
}

void last_ip_reload(agent_state& agent, wchar_t* out) {
  pending_queue_lock machine_wide;
  std::lock_guard lock(agent.last_ip_lock);
  catch_up(agent);
  if (!agent.last_ip_unwritten) load_last_ip(agent);
  copy_bounded(out, IP_CAPACITY, agent.last_ip);
}

bool record_registered_ip(agent_state& agent, const wchar_t* old_ip, const wchar_t* ip) {
  // Machine-wide first, then this process's guard: reading the file and
  // replacing it must not interleave with another process doing the same.
  pending_queue_lock machine_wide;
  std::lock_guard lock(agent.last_ip_lock);
  wchar_t on_file[IP_CAPACITY] = {};
  bool own_stale = false;  // the file still names what our unwritten record replaced
  if (read_last_ip_file(agent, on_file) && on_file[0] && !same_ip(on_file, old_ip) && !same_ip(on_file, ip) &&
      !(own_stale = agent.last_ip_unwritten && same_ip(on_file, agent.stale_on_file)))
    (void)pending_add(agent, on_file);  // a full queue leaves it, as for a failed removal
  copy_bounded(agent.last_ip, IP_CAPACITY, ip);
  agent.last_ip_unwritten = !write_with_retries(agent);
  if (!agent.last_ip_unwritten) {
    // Not reported: it only dates the acceptance that last_ip.txt now names.
    (void)write_last_confirmed(agent);
    return true;
  }
  if (!own_stale) {
    read_last_ip_file(agent, on_file);
    copy_bounded(agent.stale_on_file, IP_CAPACITY, on_file);
  }
  (void)pending_add(agent, ip);  // unwritten, it is kept for the next retry pass
  return false;
}

bool config_load_guarded(agent_state& agent) {
  pending_queue_lock machine_wide;
  std::lock_guard lock(agent.last_ip_lock);
  wchar_t kept[IP_CAPACITY];
  copy_bounded(kept, IP_CAPACITY, agent.last_ip);
  bool loaded = config_load(agent);
  if (agent.last_ip_unwritten) {
    copy_bounded(agent.last_ip, IP_CAPACITY, kept);
    catch_up(agent);
  }
  return loaded;
}
