// Entry point: one program that is a command-line tool, the Windows service
// and, installed as sync.exe, the file download command.
#include <windows.h>

#include <span>

#include "agent_state.h"
#include "commands.h"
#include "console.h"
#include "file_io.h"
#include "service_names.h"
#include "text.h"

namespace {
// How a command uses the data folder: an elevated or SYSTEM run takes the
// folder guard before it starts (see takes_folder_guard). Configure mode
// reads first and takes the writer's guard once its input is whole.
enum class folder_use { none, reads, writes };

struct command {
  const wchar_t* word;
  int (*run)(agent_state& agent, int argc, wchar_t** argv);
  folder_use use;
};

// The commands that keep no agent state.
template <int (*run)(int, wchar_t**)>
int stateless(agent_state&, int argc, wchar_t** argv) {
  return run(argc, argv);
}

// Commands under any program name. secure-folders and remove-data take the
// guard themselves.
constexpr command COMMANDS[] = {
    {L"status", status_command, folder_use::reads},
    {L"sync", sync_command, folder_use::writes},
    {L"--token", configure_command, folder_use::reads},
    {L"-t", configure_command, folder_use::reads},
    {L"--server-url", configure_command, folder_use::reads},
    {L"-s", configure_command, folder_use::reads},
    {L"secure-folders", stateless<secure_folders_command>, folder_use::none},
    {L"remove-data", stateless<remove_data_command>, folder_use::none},
};

// Commands only offered when the program runs as sync.exe.
constexpr command SYNC_PROGRAM_COMMANDS[] = {
    {L"files", stateless<files_command>, folder_use::none},
};

bool running_as_sync_program() {
  wchar_t path[MAX_PATH + 1];
  wchar_t* name;
  return program_path(path, MAX_PATH, &name) && equals_ignore_case(name, SYNC_PROGRAM_NAME);
}

const command* find_command(std::span<const command> table, const wchar_t* word) {
  for (const command& c : table)
    if (equals_ignore_case(word, c.word)) return &c;
  return nullptr;
}

int run_command(agent_state& agent, const command& c, int argc, wchar_t** argv) {
  if (c.use != folder_use::none && !take_folder_guard(c.use == folder_use::writes)) return EXIT_FAILED;
  return c.run(agent, argc, argv);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  // The one state of this run, passed to whatever uses it; static for its size.
  static agent_state agent;
  const bool sync_program = running_as_sync_program();
  if (sync_program && argc >= 2) {
    if (const command* c = find_command(SYNC_PROGRAM_COMMANDS, argv[1]))
      return run_command(agent, *c, argc, argv);
  }
  // Everything else works in the data folder: a cut path would name another file.
  if (!init_paths(agent)) {
    console_print(L"Data folder path is too long.\n");
    return EXIT_FAILED;
  }
  if (argc < 2) return service_dispatch(agent, sync_program);
  if (const command* c = find_command(COMMANDS, argv[1])) return run_command(agent, *c, argc, argv);
  return service_dispatch(agent, sync_program);
}
