#include "pending_queue.h"

#include <windows.h>

#include "agent_state.h"
#include "file_io.h"
#include "folder_security.h"

namespace {
queue_add add_to_file(const agent_state& agent, const wchar_t* ip) {
  pending_queue_lock lock;
  pending_list queue;
  if (read_pending_file(agent.pending_path, queue) == read_result::unreadable) return queue_add::unwritten;
  if (pending_find(queue, ip) >= 0) return queue_add::queued;
  if (!pending_append(queue, ip)) return queue_add::refused;
  return pending_save(agent, queue) ? queue_add::queued : queue_add::unwritten;
}
}  // namespace

void pending_load(const agent_state& agent, pending_list& out, int max) {
  read_pending_file(agent.pending_path, out, max);
}

bool pending_save(const agent_state& agent, const pending_list& list) {
  if (!agent.pending_path[0]) return false;
  ensure_data_folder(agent.config_path);
  if (list.count <= 0) {
    return delete_data_file(PENDING_FILE_NAME);
  }
  std::string text = format_pending_text(list);
  return replace_file(agent.pending_path, text.data(), text.size());
}

queue_add pending_add(agent_state& agent, const wchar_t* ip) {
  if (!ip || !*ip) return queue_add::refused;
  queue_add result = add_to_file(agent, ip);
  if (result == queue_add::unwritten && pending_find(agent.unsaved, ip) < 0)
    pending_append(agent.unsaved, ip);
  return result;
}

void pending_requeue_unsaved(agent_state& agent) {
  pending_list kept;
  for (int i = 0; i < agent.unsaved.count; ++i)
    if (add_to_file(agent, agent.unsaved.entries[i]) == queue_add::unwritten)
      pending_append(kept, agent.unsaved.entries[i]);
  agent.unsaved = kept;
}

bool pending_drop(const agent_state& agent, const pending_list& gone) {
  pending_queue_lock lock;
  pending_list queue;
  if (read_pending_file(agent.pending_path, queue) == read_result::unreadable) return false;
  pending_drop_all(queue, gone);
  return pending_save(agent, queue);  // also leaves out lines that are no address
}

bool pending_remove(const agent_state& agent, const wchar_t* ip) {
  if (!ip || !*ip) return true;
  pending_list gone;
  pending_append(gone, ip);
  return pending_drop(agent, gone);
}
