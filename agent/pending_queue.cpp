#include "pending_queue.h"

#include <windows.h>

#include "agent_state.h"
#include "file_io.h"
#include "folder_security.h"

namespace {
// Addresses whose queueing failed to write: kept until a pass queues them.
pending_list unsaved;

int add_to_file(const wchar_t* ip) {
  pending_queue_lock lock;
  pending_list queue;
  if (read_pending_file(agent.pending_path, queue) == read_result::unreadable) return PENDING_WRITE_FAILED;
  if (pending_find(queue, ip) >= 0) return 0;
  if (!pending_append(queue, ip)) return -1;
  return pending_save(queue) == 0 ? 0 : PENDING_WRITE_FAILED;
}
}  // namespace

int pending_load(pending_list& out, int max) {
  read_pending_file(agent.pending_path, out, max);
  return 0;
}

int pending_save(const pending_list& list) {
  if (!agent.pending_path[0]) return -1;
  ensure_data_folder(agent.config_path);
  if (list.count <= 0) {
    return delete_data_file(PENDING_FILE_NAME) ? 0 : -1;
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

void pending_requeue_unsaved() {
  pending_list kept;
  for (int i = 0; i < unsaved.count; ++i)
    if (add_to_file(unsaved.entries[i]) == PENDING_WRITE_FAILED) pending_append(kept, unsaved.entries[i]);
  unsaved = kept;
}

int pending_drop(const pending_list& gone) {
  pending_queue_lock lock;
  pending_list queue;
  if (read_pending_file(agent.pending_path, queue) == read_result::unreadable) return -1;
  pending_drop_all(queue, gone);
  return pending_save(queue);  // also leaves out lines that are no address
}

int pending_remove(const wchar_t* ip) {
  if (!ip || !*ip) return 0;
  pending_list gone;
  pending_append(gone, ip);
  return pending_drop(gone);
}
