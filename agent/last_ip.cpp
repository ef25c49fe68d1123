#include "last_ip.h"

#include <mutex>

#include "config_store.h"
#include "data_folder.h"
#include "pending_queue.h"
#include "text.h"

namespace {
std::mutex last_ip_lock;
}  // namespace

void last_ip_copy(wchar_t* out) {
  std::lock_guard lock(last_ip_lock);
  copy_bounded(out, IP_CAPACITY, agent.last_ip);
}

void last_ip_reload(wchar_t* out) {
  std::lock_guard lock(last_ip_lock);
  load_last_ip();
  copy_bounded(out, IP_CAPACITY, agent.last_ip);
}

void record_registered_ip(const wchar_t* old_ip, const wchar_t* ip) {
  // Machine-wide first, then this process's guard: reading the file and
  // replacing it must not interleave with another process doing the same.
  pending_queue_lock machine_wide;
  wchar_t on_file[IP_CAPACITY] = {};
  if (read_last_ip_file(on_file) && on_file[0] && !same_ip(on_file, old_ip) && !same_ip(on_file, ip))
    pending_add(on_file);  // a full queue leaves it, as for a failed removal
  std::lock_guard lock(last_ip_lock);
  copy_bounded(agent.last_ip, IP_CAPACITY, ip);
  write_last_ip_file();  // not reported: the registration itself succeeded
}

int config_load_guarded() {
  std::lock_guard lock(last_ip_lock);
  return config_load();
}
