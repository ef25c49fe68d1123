// The configuration window in its two forms: Setup (paste the setup command
// from the plugin dashboard, or import a configuration file) and
// Configuration (the four saved values, and the customer's files). One at a
// time; it keeps its own state and tells its owner only by posting.
#pragma once

#include <windows.h>

#include "painting.h"

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
// Client areas at 96 DPI: the panel holds the fields, the buttons stand
// below it, as in the status window.
inline constexpr int FORM_CLIENT_WIDTH = 440;
inline constexpr int FIELD_LEFT = PANEL_MARGIN + PANEL_PADDING;
inline constexpr int FIELD_WIDTH = FORM_CLIENT_WIDTH - 2 * FIELD_LEFT;
inline constexpr int FORM_BUTTON_GAP = 16;  // from the panel to the buttons
inline constexpr int SETUP_PANEL_BOTTOM = 206, SETUP_BUTTON_TOP = SETUP_PANEL_BOTTOM + FORM_BUTTON_GAP;
inline constexpr int CONFIG_PANEL_BOTTOM = 294, CONFIG_BUTTON_TOP = CONFIG_PANEL_BOTTOM + FORM_BUTTON_GAP;
inline constexpr int FORM_BUTTON_HEIGHT = 30;
inline constexpr int SETUP_CLIENT_HEIGHT = SETUP_BUTTON_TOP + FORM_BUTTON_HEIGHT + PANEL_MARGIN;
inline constexpr int CONFIG_CLIENT_HEIGHT = CONFIG_BUTTON_TOP + FORM_BUTTON_HEIGHT + PANEL_MARGIN;
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

// What the window did, posted to its owner as WM_CONFIG_CLOSED's wParam.
enum class config_window_outcome : WPARAM { cancelled, saved, imported };

// setup_form: the paste-a-setup-command form opened at start when nothing is
// configured. The owner is disabled while the window is open. Null when the
// window could not be made.
HWND open_config_window(HWND owner, bool setup_form);
LRESULT CALLBACK config_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
