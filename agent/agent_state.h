// The agent's process state: the paths of its state files, the address it
// registered, its configuration record and what it keeps of last_ip.txt and
// the queue between writes. One object, made at the start of a run and
// passed to everything that uses it.
#pragma once

#include <mutex>

#include "config_store.h"
#include "data_folder.h"
#include "state_files.h"

struct agent_state {
  wchar_t config_path[PATH_CAPACITY] = {};
  wchar_t last_ip_path[PATH_CAPACITY] = {};
  wchar_t pending_path[PATH_CAPACITY] = {};
  wchar_t last_error_path[PATH_CAPACITY] = {};
  wchar_t last_confirmed_path[PATH_CAPACITY] = {};
  wchar_t last_ip[IP_CAPACITY] = {};  // what the allowlist holds for this PC, empty when unknown
  config_record config{};

  // last_ip and the two below, for the functions of last_ip.h.
  std::mutex last_ip_lock;
  // True while last_ip names a registration that last_ip.txt does not: the
  // file still names stale_on_file, and memory is the truth.
  bool last_ip_unwritten = false;
  wchar_t stale_on_file[IP_CAPACITY] = {};
  // Addresses whose queueing failed to write: kept until a pass queues them.
  pending_list unsaved;
};

// Fills the paths once, at the very start; false when one does not fit.
[[nodiscard]] bool init_paths(agent_state& agent);
// Leaves last_ip unchanged when the file can't be read.
void load_last_ip(agent_state& agent);
// The same rule into out (IP_CAPACITY units); false, out untouched, when the
// file can't be read.
bool read_last_ip_file(const agent_state& agent, wchar_t* out);
// Replaces last_ip.txt with last_ip; nothing (true) when last_ip is empty.
[[nodiscard]] bool write_last_ip_file(const agent_state& agent);
// Replaces last_error.txt with text; nothing for an empty text. Best effort:
// it is itself the report of a failure, with no one left to tell.
void write_last_error(const agent_state& agent, const char* text);
void delete_last_error();
// Replaces last_confirmed.txt with the current UTC time ("2026-12-07T14:05:09Z").
[[nodiscard]] bool write_last_confirmed(const agent_state& agent);

// Fills config from its file and reloads last_ip; false without a readable configuration.
[[nodiscard]] bool config_load(agent_state& agent);
// Writes config, then last_ip.txt. The caller makes sure the token and
// server URL are set. True once the configuration itself is saved.
[[nodiscard]] bool config_save(const agent_state& agent);
