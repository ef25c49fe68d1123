#include "config_file_dialog.h"

#include <commdlg.h>


bool ask_config_file_path(HWND owner, config_file_dialog kind, wchar_t* path, size_t cap) {
  bool exporting = kind == config_file_dialog::export_to;
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = CONFIG_FILE_FILTER;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path;
  dialog.nMaxFile = static_cast<DWORD>(cap);
  if (exporting) {
    dialog.lpstrTitle = EXPORT_DIALOG_TITLE;
    dialog.lpstrDefExt = EXPORT_DEFAULT_EXTENSION;
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    return GetSaveFileNameW(&dialog) != FALSE;
  }
  dialog.lpstrTitle = IMPORT_DIALOG_TITLE;
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  return GetOpenFileNameW(&dialog) != FALSE;
}
