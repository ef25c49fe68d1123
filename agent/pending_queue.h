// The pending-delete queue: old addresses whose removal failed, kept in
// pending_delete_ips.txt and retried until removed.
#pragma once

#include "agent_constants.h"
#include "agent_state.h"
#include "pending_text.h"
#include "shared_objects.h"

// Every agent process holds this around a read-modify-write of the queue
// file or of last_ip.txt, never during a request.
class pending_queue_lock : public machine_lock {
 public:
  pending_queue_lock() noexcept : machine_lock(PENDING_MUTEX_NAME, PENDING_MUTEX_WAIT_MS) {}
};

// A missing or unreadable file is an empty queue.
void pending_load(const agent_state& agent, pending_list& out, int max = PENDING_MAX);
// Replaces the file with the list, or deletes it for an empty list.
[[nodiscard]] bool pending_save(const agent_state& agent, const pending_list& list);
enum class [[nodiscard]] queue_add{
    queued,    // added, or already there
    refused,   // an empty ip or a full queue
    unwritten  // the file can't be read or written: the address is kept in this process and queued again by
               // the next retry pass, so that a service never drops it
};
queue_add pending_add(agent_state& agent, const wchar_t* ip);
// Rewrites the file as it is now without the addresses of gone; false for a
// file that can't be read (left as it is), else the save's result.
[[nodiscard]] bool pending_drop(const agent_state& agent, const pending_list& gone);
// Removes ip if queued, as pending_drop.
[[nodiscard]] bool pending_remove(const agent_state& agent, const wchar_t* ip);
// Queues the addresses whose pending_add could not write the file.
void pending_requeue_unsaved(agent_state& agent);
