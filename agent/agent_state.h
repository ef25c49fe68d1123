// The agent's own state: the paths of its state files, the address it
// registered, its configuration record.
#pragma once

#include "config_store.h"
#include "data_folder.h"

struct agent_state {
  wchar_t config_path[PATH_CAPACITY];
  wchar_t last_ip_path[PATH_CAPACITY];
  wchar_t pending_path[PATH_CAPACITY];
  wchar_t last_error_path[PATH_CAPACITY];
  wchar_t last_confirmed_path[PATH_CAPACITY];
  wchar_t last_ip[IP_CAPACITY];  // what the allowlist holds for this PC, empty when unknown
};
extern agent_state agent;
extern config_record agent_config;

// Fills the paths once, at the very start; false when one does not fit.
bool init_paths();
// Leaves last_ip unchanged when the file can't be read.
void load_last_ip();
// The same rule into out (IP_CAPACITY units); false, out untouched, when the
// file can't be read.
bool read_last_ip_file(wchar_t* out);
// Replaces last_ip.txt with last_ip; nothing when last_ip is empty. 0 or -1.
int write_last_ip_file();
// Replaces last_error.txt with text; nothing for an empty text. 0 or -1.
int write_last_error(const char* text);
void delete_last_error();
// Replaces last_confirmed.txt with the current UTC time ("2026-12-07T14:05:09Z"). 0 or -1.
int write_last_confirmed();

// Fills agent_config from its file and reloads last_ip.
int config_load();
// Writes agent_config, then last_ip.txt. The caller makes sure the token and
// server URL are set.
int config_save();
