#include "config_transfer.h"

#include <windows.h>

#include "data_folder.h"
#include "file_io.h"
#include "folder_security.h"

int export_config_file(const wchar_t* destination) {
  if (!destination || !*destination) return -1;
  wchar_t source[PATH_CAPACITY];
  data_file_path(CONFIG_FILE_NAME, source, PATH_CAPACITY);
  return copy_file_replacing(source, destination);
}

int import_config_file(const wchar_t* source) {
  if (!source || !*source || GetFileAttributesW(source) == INVALID_FILE_ATTRIBUTES) return -1;
  wchar_t destination[PATH_CAPACITY];
  data_file_path(CONFIG_FILE_NAME, destination, PATH_CAPACITY);
  ensure_data_folder(destination);
  return copy_file_replacing(source, destination);
}
