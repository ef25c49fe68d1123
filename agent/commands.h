// The agent's commands; each returns the process exit code.
#pragma once

#include <cstddef>
#include <span>

#include "agent_network.h"
#include "agent_state.h"

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;

int status_command(agent_state& agent, int argc, wchar_t** argv);
// "status --json"; exit 0 only when the allowlist holds the current address.
int status_json_command(agent_state& agent);
int configure_command(agent_state& agent, int argc, wchar_t** argv);
int files_command(int argc, wchar_t** argv);
int sync_command(agent_state& agent, int argc, wchar_t** argv);
// The sync command's work, through network.
int sync_command(agent_state& agent, agent_network& network);
int secure_folders_command(int argc, wchar_t** argv);
int remove_data_command(int argc, wchar_t** argv);
// A value option, by its long or short name (any case).
struct command_option {
  const wchar_t* long_name;
  const wchar_t* short_name;
  wchar_t* field;
  size_t capacity;
};
// Copies the value after each option's name into its field, from argv[first]
// on. Returns the first option whose value does not fit (a cut token, URL or
// name would reach somebody else), or nullptr.
const command_option* read_command_options(int argc, wchar_t** argv, int first,
                                           std::span<const command_option> options);

// In an elevated or SYSTEM run, takes the data folder's guard for reading or
// writing (kept for the process's life); false, with the reason on the
// console, when the folder is not safe to use. Always true otherwise.
bool take_folder_guard(bool writer);

// The second half of configure mode, after the new settings were saved.
int register_configuration(agent_state& agent, agent_network& network);

// Hands the process to the service control manager; a console start gets
// the usage (with the files command when running as sync.exe).
int service_dispatch(agent_state& agent, bool sync_program);
