// The system's file dialogs for exporting and importing the configuration file.
#pragma once

#include <windows.h>

#include <cstddef>

enum class config_file_dialog { export_to, import_from };

// Shows the dialog owned by owner; path holds the initial name and receives
// the choice. False when the user cancelled.
bool ask_config_file_path(HWND owner, config_file_dialog kind, wchar_t* path, size_t cap);
