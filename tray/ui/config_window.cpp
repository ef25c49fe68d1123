#include "config_window.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "config_file_dialog.h"
#include "config_transfer.h"
#include "controls.h"
#include "dialog_keys.h"
#include "dpi.h"
#include "setup_command.h"
#include "text.h"
#include "tray_app.h"
#include "tray_files.h"
#include "tray_messages.h"
#include "workers.h"

namespace {
constexpr DWORD WINDOW_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD WINDOW_EX_STYLE = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME;
constexpr DWORD LINE_EDIT = ES_AUTOHSCROLL | WS_TABSTOP;
constexpr DWORD PUSH = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD DEFAULT_PUSH = BS_DEFPUSHBUTTON | WS_TABSTOP;

struct control {
  const wchar_t* cls;
  const wchar_t* text;
  int id;  // 0: a label
  int x, y, w, h;
  DWORD style;
};

constexpr int SAVE_LEFT = 244, CANCEL_LEFT = 340, SAVE_WIDTH = 80;

constexpr control SETUP_CONTROLS[] = {
    {L"STATIC", L"Setup command", 0, FIELD_LEFT, 80, FIELD_WIDTH, 18, 0},
    {L"EDIT", L"", ID_SETUP_COMMAND_EDIT, FIELD_LEFT, 100, FIELD_WIDTH, 56,
     ES_MULTILINE | ES_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP},
    {L"STATIC", L"Paste from the plugin dashboard, e.g. whitelist --token <token> --server-url <url>", 0,
     FIELD_LEFT, 162, FIELD_WIDTH, 32, 0},
    {L"BUTTON", L"Import config", ID_IMPORT_BUTTON, PANEL_MARGIN, SETUP_BUTTON_TOP, 110, FORM_BUTTON_HEIGHT,
     PUSH},
    {L"BUTTON", L"Save", ID_SAVE_BUTTON, SAVE_LEFT, SETUP_BUTTON_TOP, SAVE_WIDTH, FORM_BUTTON_HEIGHT,
     DEFAULT_PUSH},
    {L"BUTTON", L"Cancel", ID_CANCEL_BUTTON, CANCEL_LEFT, SETUP_BUTTON_TOP, SAVE_WIDTH, FORM_BUTTON_HEIGHT,
     PUSH},
};

constexpr control CONFIG_CONTROLS[] = {
    {L"STATIC", L"Rule token", 0, FIELD_LEFT, 80, 120, 18, 0},
    {L"EDIT", L"", ID_TOKEN_EDIT, FIELD_LEFT, 100, FIELD_WIDTH, 26, ES_PASSWORD | LINE_EDIT},
    {L"STATIC", L"Server URL", 0, FIELD_LEFT, 132, 120, 18, 0},
    {L"EDIT", L"", ID_SERVER_URL_EDIT, FIELD_LEFT, 152, FIELD_WIDTH, 26, LINE_EDIT},
    {L"STATIC", L"Files customer name", 0, FIELD_LEFT, 184, 160, 18, 0},
    {L"EDIT", L"", ID_FILES_NAME_EDIT, FIELD_LEFT, 204, FIELD_WIDTH, 26, LINE_EDIT},
    {L"STATIC", L"Files token", 0, FIELD_LEFT, 236, 120, 18, 0},
    {L"EDIT", L"", ID_FILES_TOKEN_EDIT, FIELD_LEFT, 256, FIELD_WIDTH, 26, ES_PASSWORD | LINE_EDIT},
    {L"BUTTON", TEXT_DOWNLOAD_FILES, ID_DOWNLOAD_BUTTON, PANEL_MARGIN, CONFIG_BUTTON_TOP, 120,
     FORM_BUTTON_HEIGHT, PUSH},
    {L"BUTTON", L"Save", ID_SAVE_BUTTON, SAVE_LEFT, CONFIG_BUTTON_TOP, SAVE_WIDTH, FORM_BUTTON_HEIGHT,
     DEFAULT_PUSH},
    {L"BUTTON", L"Cancel", ID_CANCEL_BUTTON, CANCEL_LEFT, CONFIG_BUTTON_TOP, SAVE_WIDTH, FORM_BUTTON_HEIGHT,
     PUSH},
};

// The window's own state, one window at a time; GWLP_USERDATA points here
// from WM_NCCREATE on.
struct config_window_state {
  bool setup_form = false;
  bool saving = false;  // while Save's sync runs, with the controls it disabled
  config_window_outcome outcome = config_window_outcome::cancelled;
  std::vector<HWND> disabled_by_save;
  HWND focused_control = nullptr;
};
config_window_state the_form;
// A download may outlive its window: the next window finds it still running.
busy_flag download_in_progress;

config_window_state& form_of(HWND window) {
  return window_state<config_window_state>(window);
}
bool is_setup_form(HWND window) {
  return form_of(window).setup_form;
}
HWND owner_of(HWND window) {
  return GetWindow(window, GW_OWNER);
}

void warn(HWND window, const wchar_t* text) {
  MessageBoxW(window, text, APP_TITLE, MB_OK | MB_ICONWARNING);
}
void fail(HWND window, const wchar_t* text, const wchar_t* caption = APP_TITLE) {
  MessageBoxW(window, text, caption, MB_OK | MB_ICONERROR);
}

template <size_t N>
void create_controls(HWND window, const control (&controls)[N]) {
  for (size_t i = 0; i < N; ++i) {
    const control& c = controls[i];
    DWORD ex_style = c.id != 0 && c.cls[0] == L'E' ? WS_EX_CLIENTEDGE : 0;
    // Created in visual order, which is the order of the Tab key. Labels
    // share id 0, so each control keeps its row of the table for the layout.
    HWND child =
        create_child(window, c.cls, c.text, WS_VISIBLE | c.style, 0, 0, 0, 0, c.id, nullptr, ex_style);
    if (child) SetWindowLongPtrW(child, GWLP_USERDATA, static_cast<LONG_PTR>(i + 1));
  }
}

struct layout_pass {
  const control* controls;
  size_t count;
  UINT dpi;
  HFONT font;
};

BOOL CALLBACK place_control(HWND child, LPARAM parameter) noexcept {
  const auto* pass = reinterpret_cast<const layout_pass*>(parameter);
  LONG_PTR row = GetWindowLongPtrW(child, GWLP_USERDATA);
  if (row < 1 || static_cast<size_t>(row) > pass->count) return TRUE;
  const control& c = pass->controls[row - 1];
  place_child(child, {c.x, c.y, c.w, c.h}, pass->dpi, pass->font);
  return TRUE;
}

// Places every control at the window's DPI with the body font of that DPI.
void layout_controls(HWND window) {
  UINT dpi = window_dpi(window);
  layout_pass pass = is_setup_form(window)
                         ? layout_pass{SETUP_CONTROLS, std::size(SETUP_CONTROLS), dpi, nullptr}
                         : layout_pass{CONFIG_CONTROLS, std::size(CONFIG_CONTROLS), dpi, nullptr};
  pass.font = fonts_for(dpi).body_font;
  EnumChildWindows(window, place_control, reinterpret_cast<LPARAM>(&pass));
}

void fill_saved_values(HWND window) {
  wchar_t token[TOKEN_CAPACITY] = {}, server_url[SERVER_URL_CAPACITY] = {}, name[FILES_NAME_CAPACITY] = {},
          files_token[FILES_TOKEN_CAPACITY] = {};
  // A missing or unreadable configuration leaves the fields empty.
  if (!tray_config_load(token, TOKEN_CAPACITY, server_url, SERVER_URL_CAPACITY, name, FILES_NAME_CAPACITY,
                        files_token, FILES_TOKEN_CAPACITY))
    token[0] = server_url[0] = name[0] = files_token[0] = L'\0';
  SetDlgItemTextW(window, ID_TOKEN_EDIT, token);
  SetDlgItemTextW(window, ID_SERVER_URL_EDIT, server_url);
  SetDlgItemTextW(window, ID_FILES_NAME_EDIT, name);
  SetDlgItemTextW(window, ID_FILES_TOKEN_EDIT, files_token);
}

void on_create(HWND window) {
  if (is_setup_form(window)) {
    create_controls(window, SETUP_CONTROLS);
  } else {
    create_controls(window, CONFIG_CONTROLS);
    fill_saved_values(window);
  }
  layout_controls(window);
}

void on_destroy(HWND window) {
  // A download's result already posted here would go with the window, and the
  // download's flag with it: taken now, the next window can download again.
  MSG posted;
  while (PeekMessageW(&posted, window, WM_DOWNLOAD_DONE, WM_DOWNLOAD_DONE, PM_REMOVE)) {
    std::unique_ptr<agent_run_result> result(reinterpret_cast<agent_run_result*>(posted.lParam));
    download_in_progress.release();
  }
  HWND owner = owner_of(window);
  EnableWindow(owner, TRUE);
  PostMessageW(owner, WM_CONFIG_CLOSED, static_cast<WPARAM>(form_of(window).outcome),
               reinterpret_cast<LPARAM>(window));
}

// The form while Save's sync runs: every control disabled, the busy cursor;
// the close box and Escape wait for the outcome.
void set_saving(HWND window, bool busy) {
  config_window_state& form = form_of(window);
  std::vector<HWND>& disabled_by_save = form.disabled_by_save;
  form.saving = busy;
  if (busy) {
    keep_dialog_focus(window, WA_INACTIVE, form.focused_control);  // a disabled control loses it
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      if (!IsWindowEnabled(child)) continue;
      EnableWindow(child, FALSE);
      disabled_by_save.push_back(child);
    }
  } else {
    for (HWND child : disabled_by_save) EnableWindow(child, TRUE);
    disabled_by_save.clear();
    if (GetActiveWindow() == window) keep_dialog_focus(window, WA_ACTIVE, form.focused_control);
  }
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

// Saves the values here, then runs the sync on a worker; the window closes
// once it succeeded (on_save_sync_done).
void save_values(HWND window, const wchar_t* token, const wchar_t* server_url, const wchar_t* name,
                 const wchar_t* files_token) {
  wchar_t message[CONFIG_MESSAGE_CAPACITY] = {};
  if (!tray_config_save(token, server_url, name, files_token, message, CONFIG_MESSAGE_CAPACITY)) {
    fail(window, message);
    return;
  }
  set_saving(window, true);
  if (start_save_sync_worker(window)) return;
  set_saving(window, false);
  fail(window, TEXT_SYNC_NOT_STARTED);
}

void on_save_sync_done(HWND window, LPARAM parameter) {
  std::unique_ptr<agent_run_result> result(reinterpret_cast<agent_run_result*>(parameter));
  set_saving(window, false);
  if (!result || !result->ok) {
    fail(window, result ? result->text : TEXT_SYNC_FAILED);
    return;
  }
  form_of(window).outcome = config_window_outcome::saved;
  DestroyWindow(window);
}

// The whole text of a control, however long: a value is checked, never cut.
std::wstring field_text(HWND window, int id) {
  HWND field = GetDlgItem(window, id);
  int length = field ? GetWindowTextLengthW(field) : 0;
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int got = length > 0 ? GetWindowTextW(field, text.data(), length + 1) : 0;
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

void save_setup_form(HWND window) {
  std::wstring command = field_text(window, ID_SETUP_COMMAND_EDIT);
  wchar_t token[TOKEN_CAPACITY], server_url[SERVER_URL_CAPACITY];
  switch (parse_setup_command(command.c_str(), token, TOKEN_CAPACITY, server_url, SERVER_URL_CAPACITY)) {
    case 0: break;
    case SETUP_TOKEN_TOO_LONG: warn(window, TEXT_TOKEN_TOO_LONG); return;
    case SETUP_URL_TOO_LONG: warn(window, TEXT_SERVER_URL_TOO_LONG); return;
    default: warn(window, TEXT_PASTE_SETUP_COMMAND); return;
  }
  // The parse removed the URL's trailing slash already. The setup command
  // carries no files values: they are saved empty.
  save_values(window, token, server_url, L"", L"");
}

// A field of the Configuration form and what it may hold (with the terminator).
struct field_limit {
  int id;
  size_t capacity;
  const wchar_t* too_long;
};
constexpr field_limit TOKEN_FIELD{ID_TOKEN_EDIT, TOKEN_CAPACITY, TEXT_TOKEN_TOO_LONG};
constexpr field_limit SERVER_URL_FIELD{ID_SERVER_URL_EDIT, SERVER_URL_CAPACITY, TEXT_SERVER_URL_TOO_LONG};
constexpr field_limit FILES_NAME_FIELD{ID_FILES_NAME_EDIT, FILES_NAME_CAPACITY, TEXT_FILES_NAME_TOO_LONG};
constexpr field_limit FILES_TOKEN_FIELD{ID_FILES_TOKEN_EDIT, FILES_TOKEN_CAPACITY, TEXT_FILES_TOKEN_TOO_LONG};

// False after a warning when the field does not fit: a cut name or token
// would reach somebody else.
bool read_field(HWND window, const field_limit& field, std::wstring& out) {
  out = field_text(window, field.id);
  if (out.size() < field.capacity) return true;
  warn(window, field.too_long);
  return false;
}

void save_config_form(HWND window) {
  std::wstring token, server_url, name, files_token;
  if (!read_field(window, TOKEN_FIELD, token) || !read_field(window, SERVER_URL_FIELD, server_url) ||
      !read_field(window, FILES_NAME_FIELD, name) || !read_field(window, FILES_TOKEN_FIELD, files_token))
    return;
  if (token.empty() || server_url.empty()) {
    warn(window, TEXT_TOKEN_AND_URL_NEEDED);
    return;
  }
  strip_one_trailing_slash(server_url.data());
  save_values(window, token.c_str(), server_url.c_str(), name.c_str(), files_token.c_str());
}

void import_command(HWND window) {
  wchar_t path[IMPORT_PATH_CAPACITY] = {};
  if (!ask_config_file_path(window, config_file_dialog::import_from, path, IMPORT_PATH_CAPACITY)) return;
  if (import_config_file(path).status != transfer_status::done) {
    fail(window, TEXT_IMPORT_FAILED);
    return;
  }
  form_of(window).outcome = config_window_outcome::imported;  // the owner reads it and syncs
  DestroyWindow(window);
}

void set_download_button(HWND window, bool busy) {
  HWND button = GetDlgItem(window, ID_DOWNLOAD_BUTTON);
  EnableWindow(button, busy ? FALSE : TRUE);
  SetWindowTextW(button, busy ? TEXT_DOWNLOADING : TEXT_DOWNLOAD_FILES);
}

void on_download_done(HWND window, LPARAM parameter) {
  std::unique_ptr<agent_run_result> result(reinterpret_cast<agent_run_result*>(parameter));
  set_download_button(window, false);
  download_in_progress.release();
  if (!result) return;
  if (result->ok)
    MessageBoxW(window, TEXT_DOWNLOAD_DONE, APP_TITLE, MB_OK | MB_ICONINFORMATION);
  else
    fail(window, result->text, DOWNLOAD_FAILED_CAPTION);
}

// "Download files": starts the download worker with the two fields as they stand.
void start_files_download(HWND window) {
  std::wstring name, token;
  if (!read_field(window, FILES_NAME_FIELD, name) || !read_field(window, FILES_TOKEN_FIELD, token)) return;
  if (name.empty() || token.empty()) {
    warn(window, TEXT_FILES_FIELDS_NEEDED);
    return;
  }
  if (!download_in_progress.claim()) return;
  std::unique_ptr<download_request> request(new (std::nothrow) download_request{});
  if (!request) {
    download_in_progress.release();
    fail(window, TEXT_DOWNLOAD_NOT_STARTED);
    return;
  }
  request->window = window;
  request->in_progress = &download_in_progress;
  copy_bounded(request->name, FILES_NAME_CAPACITY, name.c_str());
  copy_bounded(request->token, FILES_TOKEN_CAPACITY, token.c_str());
  set_download_button(window, true);
  if (start_download_worker(request.get())) {
    request.release();  // the worker frees it
    return;
  }
  download_in_progress.release();
  set_download_button(window, false);
  fail(window, TEXT_DOWNLOAD_NOT_STARTED);
}

bool on_command(HWND window, int id) {
  switch (id) {
    case ID_SAVE_BUTTON:
      if (is_setup_form(window))
        save_setup_form(window);
      else
        save_config_form(window);
      return true;
    case ID_CANCEL_BUTTON:
    case IDCANCEL:  // Escape, as the close box
      if (!form_of(window).saving) DestroyWindow(window);
      return true;
    case ID_IMPORT_BUTTON:
      if (is_setup_form(window)) import_command(window);
      return true;
    case ID_DOWNLOAD_BUTTON:
      if (!is_setup_form(window)) start_files_download(window);
      return true;
    default: return false;
  }
}
}  // namespace

HWND open_config_window(HWND owner, bool setup_form) {
  EnableWindow(owner, FALSE);
  the_form = {};
  the_form.setup_form = setup_form;
  // Opens on the owner's monitor; the frame is added once the window exists.
  int dpi = static_cast<int>(window_dpi(owner));
  int height = setup_form ? SETUP_CLIENT_HEIGHT : CONFIG_CLIENT_HEIGHT;
  HWND window = CreateWindowExW(
      WINDOW_EX_STYLE, SETTINGS_CLASS, setup_form ? SETUP_TITLE : CONFIG_TITLE, WINDOW_STYLE, CW_USEDEFAULT,
      CW_USEDEFAULT, scale_for_dpi(FORM_CLIENT_WIDTH, dpi), scale_for_dpi(height, dpi), owner, nullptr,
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE)), &the_form);
  if (!window) {
    EnableWindow(owner, TRUE);
    return nullptr;
  }
  // At the DPI of the monitor it opened on; WM_DPICHANGED follows a move.
  size_client_area(window, FORM_CLIENT_WIDTH, height);
  ShowWindow(window, SW_SHOW);
  // The first field has the focus, as in a dialog.
  focus_first_control(window);
  return window;
}

LRESULT CALLBACK config_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_NCCREATE:  // the form's state, from open_config_window
      keep_window_state(window, lparam);
      break;
    case WM_CREATE: on_create(window); return 0;
    case WM_DESTROY: on_destroy(window); return 0;
    case WM_DPICHANGED:
      take_suggested_rect(window, wparam, lparam);
      layout_controls(window);
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_NEXTDLGCTL: move_dialog_focus(window, wparam, lparam); return 0;
    case DM_GETDEFID: return default_button_answer(ID_SAVE_BUTTON);
    case WM_ACTIVATE: keep_dialog_focus(window, wparam, form_of(window).focused_control); return 0;
    case WM_SETCURSOR:
      if (!form_of(window).saving) break;
      SetCursor(LoadCursorW(nullptr, IDC_WAIT));
      return TRUE;
    case WM_SAVE_SYNC_DONE: on_save_sync_done(window, lparam); return 0;
    case WM_ERASEBKGND:
      paint_window_background(
          window, reinterpret_cast<HDC>(wparam),
          panel_box(FORM_CLIENT_WIDTH, is_setup_form(window) ? SETUP_PANEL_BOTTOM : CONFIG_PANEL_BOTTOM));
      return 1;
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(
          color_label(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam)));
    case WM_CLOSE:
      if (!form_of(window).saving) DestroyWindow(window);
      return 0;
    case WM_COMMAND:
      if (on_command(window, LOWORD(wparam))) return 0;
      break;
    case WM_DOWNLOAD_DONE: on_download_done(window, lparam); return 0;
    default: break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}
