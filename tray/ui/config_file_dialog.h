// The system's file dialogs for exporting and importing the configuration file.
#pragma once

#include <windows.h>

#include <cstddef>

inline constexpr wchar_t EXPORT_DIALOG_TITLE[] = L"Export encrypted config";
inline constexpr wchar_t EXPORT_DEFAULT_EXTENSION[] = L"config";
// Pairs of display text and pattern, ended by an empty pair.
inline constexpr wchar_t CONFIG_FILE_FILTER[] = L"Config files (*.config)\0*.config\0All files (*.*)\0*.*\0";
inline constexpr wchar_t IMPORT_DIALOG_TITLE[] = L"Import encrypted config";
inline constexpr wchar_t TEXT_PATH_TOO_LONG[] = L"The chosen path is too long (at most 259 characters).";

enum class config_file_dialog { export_to, import_from };

// Shows the dialog owned by owner; path holds the initial name and receives
// the choice. False when the user cancelled, or after a warning when the
// chosen path does not fit.
bool ask_config_file_path(HWND owner, config_file_dialog kind, wchar_t* path, size_t cap);
