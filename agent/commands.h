// The agent's commands; each returns the process exit code.
#pragma once

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;

int status_command(int argc, wchar_t** argv);
int configure_command(int argc, wchar_t** argv);
int files_command(int argc, wchar_t** argv);
int sync_command(int argc, wchar_t** argv);
int secure_folders_command(int argc, wchar_t** argv);
// The second half of configure mode, after the new settings were saved.
int register_configuration();

// Hands the process to the service control manager; a console start gets
// the usage (with the files command when running as sync.exe).
int service_dispatch(bool sync_program);
