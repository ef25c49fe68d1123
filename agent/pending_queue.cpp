#include "pending_queue.h"

#include <windows.h>

#include "allowlist_api.h"
#include "config_store.h"
#include "console.h"
#include "file_io.h"
#include "handles.h"
#include "ip_detect.h"
#include "last_ip.h"
#include "shared_objects.h"
#include "stop_request.h"

namespace {
enum class queue_file { read, missing, unreadable };

// A file that exists but can't be read is not an empty queue for a writer:
// saving over it would lose its entries.
queue_file read_queue_file(pending_list& out, int max) {
  out.count = 0;
  file_handle file = open_for_reading(agent.pending_path, FILE_SHARE_READ);
  if (!file) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? queue_file::missing
                                                                          : queue_file::unreadable;
  }
  char text[PENDING_READ_MAX + 1];
  long got = read_up_to(file.get(), text, PENDING_READ_MAX);
  if (got < 0) return queue_file::unreadable;
  text[got] = '\0';
  parse_pending_text(text, out, max);
  return queue_file::read;
}

// Addresses whose queueing failed to write: kept until a pass queues them.
pending_list unsaved;

int add_to_file(const wchar_t* ip) {
  pending_queue_lock lock;
  pending_list queue;
  if (read_queue_file(queue, PENDING_MAX) == queue_file::unreadable) return PENDING_WRITE_FAILED;
  if (pending_find(queue, ip) >= 0) return 0;
  if (!pending_append(queue, ip)) return -1;
  return pending_save(queue) == 0 ? 0 : PENDING_WRITE_FAILED;
}

void retry_report(pass_mode mode, const wchar_t* console_format, const char* log_format, const wchar_t* ip) {
  if (mode == pass_mode::console)
    console_print(console_format, ip);
  else
    service_log(log_format, ip);
}
}  // namespace

int pending_load(pending_list& out, int max) {
  read_queue_file(out, max);
  return 0;
}

int pending_save(const pending_list& list) {
  if (!agent.pending_path[0]) return -1;
  ensure_data_folder(agent.config_path);
  if (list.count <= 0) {
    DeleteFileW(agent.pending_path);
    return 0;
  }
  std::string text = format_pending_text(list);
  return replace_file(agent.pending_path, text.data(), text.size());
}

int pending_add(const wchar_t* ip) {
  if (!ip || !*ip) return -1;
  int result = add_to_file(ip);
  if (result == PENDING_WRITE_FAILED && pending_find(unsaved, ip) < 0) pending_append(unsaved, ip);
  return result;
}

int pending_remove(const wchar_t* ip) {
  if (!ip || !*ip) return 0;
  pending_queue_lock lock;
  pending_list queue;
  if (read_queue_file(queue, PENDING_MAX) == queue_file::unreadable) return -1;
  pending_list gone;
  pending_append(gone, ip);
  int before = queue.count;
  pending_drop_all(queue, gone);
  if (queue.count == before) return 0;
  return pending_save(queue);
}

void pending_retry_pass(pass_mode mode) {
  const config_record& c = agent_config;
  if (!c.token[0] || !c.server_url[0] || !agent.pending_path[0]) return;
  pending_list kept;
  for (int i = 0; i < unsaved.count; ++i)
    if (add_to_file(unsaved.entries[i]) == PENDING_WRITE_FAILED) pending_append(kept, unsaved.entries[i]);
  unsaved = kept;
  pending_list queue;
  pending_load(queue);
  if (queue.count == 0) return;

  wchar_t current[IP_CAPACITY] = {};
  bool detected = detect_public_ip(current, IP_CAPACITY, c.server_url) == 0;
  wchar_t registered[IP_CAPACITY];
  bool recorded = last_ip_copy(registered);
  pending_list done;  // removed or dropped; everything else stays queued
  for (int i = 0; i < queue.count && !stop_requested(); ++i) {
    const wchar_t* ip = queue.entries[i];
    if (detected && same_ip(ip, current)) {
      // The address in use is not removed. It leaves the queue only once it
      // is the registered one and recorded so: should the address change
      // again before last_ip.txt names it, nothing else would track it.
      if (!same_ip(ip, registered) || !recorded) continue;
      retry_report(mode, L"Dropped pending delete (matches current public IP): %s\n",
                   "Pending delete dropped (same as current public IP): %S", ip);
      pending_append(done, ip);
    } else if (allowlist_request(METHOD_REMOVE, c.server_url, ALLOWLIST_PATH, c.token, ip) == 0) {
      retry_report(mode, L"Removed pending straggler IP from whitelist: %s\n",
                   "Pending delete OK (straggler removed): %S", ip);
      pending_append(done, ip);
    } else if (mode == pass_mode::console) {
      console_print(L"Pending delete failed for %s\n", ip);
      console_print_failure(L"");
    } else {
      service_log("Pending delete failed for %S: %s", ip, last_api_error[0] ? last_api_error : "(unknown)");
    }
  }

  // The requests took time; another process may have queued or removed
  // addresses meanwhile. Apply this pass's outcome to the file as it is now;
  // a file that can't be read now is left for the next pass to retry.
  pending_queue_lock lock;
  pending_list now;
  if (read_queue_file(now, PENDING_MAX) == queue_file::unreadable) return;
  pending_drop_all(now, done);
  pending_save(now);
}
