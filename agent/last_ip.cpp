#include "last_ip.h"

#include <mutex>

#include "config_store.h"
#include "data_folder.h"
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

void record_registered_ip(const wchar_t* ip) {
  std::lock_guard lock(last_ip_lock);
  copy_bounded(agent.last_ip, IP_CAPACITY, ip);
  write_last_ip_file();  // not reported: the registration itself succeeded
}

int config_load_guarded() {
  std::lock_guard lock(last_ip_lock);
  return config_load();
}
