#include "config_file_dialog.h"

#include <cderr.h>
#include <commdlg.h>

#include "tray_app.h"

bool ask_config_file_path(HWND owner, config_file_dialog kind, wchar_t* path, size_t cap) {
  bool exporting = kind == config_file_dialog::export_to;
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = CONFIG_FILE_FILTER;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path;
  dialog.nMaxFile = static_cast<DWORD>(cap);
  dialog.lpstrTitle = exporting ? EXPORT_DIALOG_TITLE : IMPORT_DIALOG_TITLE;
  if (exporting) {
    dialog.lpstrDefExt = EXPORT_DEFAULT_EXTENSION;
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
  } else {
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  }
  if (exporting ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog)) return true;
  // A path longer than the buffer ends the dialog as a cancel would.
  if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
    MessageBoxW(owner, TEXT_PATH_TOO_LONG, APP_TITLE, MB_OK | MB_ICONWARNING);
  return false;
}
