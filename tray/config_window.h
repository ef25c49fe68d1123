// The configuration window in its two forms: Setup (paste the setup command
// from the plugin dashboard, or import a configuration file) and
// Configuration (the four saved values, and the customer's files).
#pragma once

#include <windows.h>

inline constexpr UINT WM_DOWNLOAD_DONE = WM_USER + 104;
inline constexpr UINT WM_SAVE_SYNC_DONE = WM_USER + 105;

enum config_control_id : int {
  ID_TOKEN_EDIT = 301,
  ID_SERVER_URL_EDIT = 302,
  ID_SAVE_BUTTON = 303,
  ID_CANCEL_BUTTON = 304,
  ID_IMPORT_BUTTON = 306,
  ID_SETUP_COMMAND_EDIT = 307,
  ID_FILES_NAME_EDIT = 308,
  ID_FILES_TOKEN_EDIT = 309,
  ID_DOWNLOAD_BUTTON = 310,
};
// Outer sizes at 96 DPI, and the capacities of what is read from the window.
inline constexpr int CONFIG_WINDOW_WIDTH = 448;
inline constexpr int SETUP_WINDOW_HEIGHT = 300;
inline constexpr int CONFIG_WINDOW_HEIGHT = 364;
inline constexpr size_t CONFIG_MESSAGE_CAPACITY = 512;
inline constexpr size_t IMPORT_PATH_CAPACITY = 260;
inline constexpr wchar_t SETUP_TITLE[] = L"Setup";
inline constexpr wchar_t CONFIG_TITLE[] = L"Configuration";
inline constexpr wchar_t TEXT_DOWNLOAD_FILES[] = L"Download files";
inline constexpr wchar_t TEXT_DOWNLOADING[] = L"Downloading...";
inline constexpr wchar_t TEXT_PASTE_SETUP_COMMAND[] =
    L"Paste a full setup command from the plugin dashboard:\n\nwhitelist --token <token> --server-url <url>";
inline constexpr wchar_t TEXT_FILES_NAME_TOO_LONG[] =
    L"The files customer name is too long (at most 255 characters).";
inline constexpr wchar_t TEXT_FILES_TOKEN_TOO_LONG[] =
    L"The files token is too long (at most 255 characters).";
inline constexpr wchar_t TEXT_TOKEN_AND_URL_NEEDED[] = L"Please enter both rule token and server URL.";
inline constexpr wchar_t TEXT_IMPORT_FAILED[] = L"Could not import config file.";
inline constexpr wchar_t TEXT_FILES_FIELDS_NEEDED[] = L"Please enter files customer name and files token.";
inline constexpr wchar_t TEXT_DOWNLOAD_NOT_STARTED[] = L"Could not start file download.";
inline constexpr wchar_t TEXT_DOWNLOAD_DONE[] = L"Files downloaded successfully.";
inline constexpr wchar_t DOWNLOAD_FAILED_CAPTION[] = L"File download failed";

// setup_form: the paste-a-setup-command form opened at start when nothing is
// configured. With a window already open, that one is brought to the front.
void open_config_window(HWND owner, bool setup_form);
LRESULT CALLBACK config_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
// "Download files": starts the download worker with the two fields as they stand.
void start_files_download(HWND window);
