"""The real tray.exe under Xvfb and Wine, in a virtual desktop of its own with a taskbar, worked through
Win32 messages by tray_driver.exe. Screenshots go to TRAY_SCREENSHOT_DIR. CTest runs this suite alone:
the tray's mutex and the service it shows are machine-wide in the Wine prefix."""
import json
import os
import pathlib
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import (BIN_DIR, WINE, FakeServer, decrypt_config, encrypt_config, launch_command, product_constants,
                     run, wait_until, win_path, wine_tool)

DRIVER = pathlib.Path(os.environ["WHITELIST_TRAY_DRIVER"])
STAND_IN_AGENT = pathlib.Path(os.environ["WHITELIST_STAND_IN_AGENT"])
SHOT_DIR = pathlib.Path(os.environ["TRAY_SCREENSHOT_DIR"])
TITLE = DATA_FOLDER_NAME = "QOR Whitelist IP Updater"
SERVER_IP = "198.51.100.20"
WAIT = 90  # seconds: a bound for hangs, not a measured expectation
WM_CLOSE, WM_COMMAND, WM_LBUTTONDBLCLK = 0x10, 0x111, 0x203
# The tray's private messages, menu commands and control ids, as its headers define them.
T = product_constants("tray/ui/tray_messages.h", "tray/ui/status_panel.h", "tray/ui/config_window.h")
IDOK, IDCANCEL, ES_PASSWORD, VK_TAB, VK_RETURN, VK_ESCAPE = 1, 2, 0x20, 0x09, 0x0D, 0x1B
SW_HIDE, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED = 0, 2, 3
FILE_NAME_FIELDS = (0x47C, 0x480)  # the file dialog's name: combo box, or edit in the old layout
TOKEN_TOO_LONG = "The rule token is too long (at most 255 characters)."

desktop = explorer = holder = server = xvfb = None


def wait_for(what, probe):
    return wait_until(probe, what, WAIT)


def driver(*args):
    r = run(DRIVER, ["--desktop", desktop, *args])
    return r.code, r.out.decode("utf-8", "replace")


def read(target):
    """status, config or dialog=TITLE as the driver reads it, with its controls by id; None when absent."""
    code, out = driver(target, "read")
    window, *controls = map(json.loads, out.splitlines()) if code == 0 else [None]
    return window and window | {c["id"]: c for c in controls}


def setUpModule():
    global desktop, explorer, holder, server, xvfb
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=[write_end], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        os.environ["DISPLAY"] = ":" + numbers.readline().strip()  # for every Wine program the suite starts
    desktop = f"traytest{os.getpid()}"
    # A taskbar with a notification area in this virtual desktop.
    wine_tool("reg", "add", rf"HKCU\Software\Wine\Explorer\Desktops\{desktop}", "/v", "EnableShell", "/t",
              "REG_DWORD", "/d", "1", "/f")
    # The desktop lives while a program runs in it: a stand-in agent held until its release file exists.
    holder = pathlib.Path(tempfile.mkdtemp(prefix="wl-desktop-")) / "holder.exe"
    shutil.copyfile(STAND_IN_AGENT, holder)
    holder.with_suffix(".exe.script").write_text("hold\n")
    explorer = subprocess.Popen([WINE, "explorer", f"/desktop={desktop},1024x768", win_path(holder)],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for("the virtual desktop", lambda: driver("status", "read")[0] == 1)  # joined, no tray yet
    server = FakeServer(http_port=0, ip=SERVER_IP).start()
    SHOT_DIR.mkdir(parents=True, exist_ok=True)


def tearDownModule():
    server.stop()
    holder.with_suffix(".exe.release").write_text("")
    explorer.wait(timeout=WAIT)
    shutil.rmtree(holder.parent, ignore_errors=True)
    wine_tool("reg", "delete", rf"HKCU\Software\Wine\Explorer\Desktops\{desktop}", "/f")
    xvfb.terminate()
    xvfb.wait()


class Tray(unittest.TestCase):
    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="wl-tray-"))
        self.base = self.tmp / "ProgramData"
        self.data = self.base / DATA_FOLDER_NAME
        self.data.mkdir(parents=True)
        self.app = self.tmp / "app"
        self.app.mkdir()
        shutil.copyfile(BIN_DIR / "tray.exe", self.app / "tray.exe")
        for name in ("whitelist.exe", "sync.exe"):
            shutil.copyfile(STAND_IN_AGENT, self.app / name)
        self.tray = None

    def tearDown(self):
        for name in ("whitelist.exe", "sync.exe"):
            self.release(name)  # a held stand-in would outlive the tray
        if self.tray and self.tray.poll() is None:  # the test ended before its exit
            wine_tool("taskkill", "/im", "tray.exe", "/f")
            self.tray.wait(timeout=WAIT)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start(self, show, tray=None):
        command, stamp = launch_command(tray or self.app / "tray.exe", program_data=win_path(self.base),
                                        desktop=desktop, show=show)
        self.tray = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.addCleanup(shutil.rmtree, stamp.parent, ignore_errors=True)
        return wait_for("the status window", lambda: read("status"))

    def ok(self, *args):
        self.assertEqual(driver(*args)[0], 0, args)

    def shows(self, target, texts):
        wait_for(f"{target} showing {texts}",
                 lambda: (lambda w: w and all(w[i]["text"] == t for i, t in texts.items()))(read(target)))

    def answer(self, title, path=None):
        """Waits for the dialog with this caption, names path in a file dialog, presses OK; its texts."""
        dialog = wait_for(f"the dialog {title!r}", lambda: read(f"dialog={title}"))
        if path:
            self.ok(f"dialog={title}", "set", next(f for f in FILE_NAME_FIELDS if f in dialog), win_path(path))
        self.ok(f"dialog={title}", "post", WM_COMMAND, IDOK, 0)
        wait_for(f"the dialog {title!r} to close", lambda: read(f"dialog={title}") is None)
        return [c["text"].strip() for i, c in dialog.items() if isinstance(i, int)]

    def form(self, title):
        return wait_for(f"the {title} form", lambda: (lambda w: w and w["title"] == title and w)(read("config")))

    def form_closed(self):
        wait_for("the configuration window to close", lambda: read("config") is None)
        wait_for("the status window enabled again", lambda: read("status")["enabled"])

    def focus(self):
        return read("status")["focus"]

    def tab_order(self, count):
        """The focused control, then where each of count Tabs moves it."""
        order = [wait_for("a focused control", self.focus)]
        for _ in range(count):
            self.ok("status", "key", VK_TAB)
            order.append(wait_for("the focus to move", lambda: (f := self.focus()) not in (0, order[-1]) and f))
        return order

    def screenshot(self, name):
        time.sleep(1)  # let the window and the taskbar finish painting
        subprocess.run(["import", "-window", "root", str(SHOT_DIR / f"{name}.png")], check=True)

    def exit_tray(self):
        self.ok("status", "post", WM_COMMAND, T.ID_MENU_EXIT, 0)
        self.assertEqual(self.tray.wait(timeout=WAIT), 0)

    def script(self, program, *lines):
        (self.app / f"{program}.script").write_text("".join(line + "\n" for line in lines))

    def release(self, program):
        (self.app / f"{program}.release").write_text("")

    def runs(self, program):
        log = self.app / f"{program}.log"
        return [json.loads(line) for line in log.read_text().splitlines()] if log.exists() else []

    def test_configured_rows_sync_now_and_export(self):
        encrypt_config(self.data / "whitelist.config", f"token=tok\nserver_url={server.url()}\n".encode())
        (self.data / "last_ip.txt").write_text(SERVER_IP + "\r\n")
        self.start(SW_SHOWMINIMIZED)
        self.shows("status", {T.ID_SERVICE_VALUE: "Not installed", T.ID_PUBLIC_IP_VALUE: SERVER_IP,
                              T.ID_LAST_IP_VALUE: SERVER_IP})
        self.ok("status", "post", T.WM_TRAY_CALLBACK, 0, WM_LBUTTONDBLCLK)
        wait_for("the window to show", lambda: read("status")["visible"])
        buttons = [T.ID_SYNC_BUTTON, T.ID_CONFIG_BUTTON, T.ID_REFRESH_BUTTON, T.ID_EXPORT_BUTTON]
        self.assertEqual(self.tab_order(4), buttons + buttons[:1], "the buttons from left to right, round")
        self.ok("status", "click", T.ID_EXPORT_BUTTON)
        self.answer("Export encrypted config", self.tmp / "exported.config")
        self.assertEqual((self.tmp / "exported.config").read_bytes(), (self.data / "whitelist.config").read_bytes())

        # A second "Sync now" while one runs starts no second child; the folder is read again after it.
        self.script("whitelist.exe", "hold", "exit 0")
        self.ok("status", "click", T.ID_SYNC_BUTTON)
        wait_for("whitelist.exe to start", lambda: self.runs("whitelist.exe"))
        self.assertFalse(read("status")[T.ID_SYNC_BUTTON]["enabled"])
        self.ok("status", "post", WM_COMMAND, T.ID_MENU_SYNC, 0)
        (self.data / "last_ip.txt").write_text("198.51.100.99")  # what the agent records
        (self.data / "pending_delete_ips.txt").write_text("192.0.2.1\r\n \t\r\n192.0.2.2\r\n")
        self.release("whitelist.exe")
        self.shows("status", {T.ID_LAST_IP_VALUE: "198.51.100.99", T.ID_PENDING_VALUE: "2 old IP(s) waiting to remove"})
        self.assertIsNone(read("dialog=Whitelist sync failed"), "no message on success")
        runs = self.runs("whitelist.exe")
        self.assertEqual([r["command_line"] for r in runs], [f'"{win_path(self.app / "whitelist.exe")}" sync'])
        self.assertEqual(runs[0]["program_data"], win_path(self.base), "the child shares the data folder")

        # A failure with the window shown: a box with the agent's last error; hidden: a balloon instead.
        self.script("whitelist.exe", "exit 1")
        (self.data / "last_error.txt").write_text("Error: forbidden (403)")  # as the agent leaves it
        self.ok("status", "click", T.ID_SYNC_BUTTON)
        self.assertIn("Error: forbidden (403)", self.answer("Whitelist sync failed"))
        self.ok("status", "post", WM_CLOSE, 0, 0)  # closing only hides
        wait_for("hidden", lambda: not read("status")["visible"])
        self.ok("status", "post", WM_COMMAND, T.ID_MENU_SYNC, 0)
        wait_for("the balloon", lambda: driver("balloons")[1])
        self.screenshot("sync_failed_balloon")
        self.assertIsNone(read("dialog=Whitelist sync failed"))
        self.ok("status", "post", WM_COMMAND, T.ID_MENU_OPEN, 0)
        wait_for("shown by Open", lambda: read("status")["visible"])
        self.exit_tray()

    def test_first_start_with_the_real_agent(self):
        """The installed layout: tray.exe beside the real whitelist.exe, against the loopback server."""
        server.clear_requests()
        self.assertEqual(self.start(SW_SHOWMAXIMIZED, BIN_DIR / "tray.exe")["visible"], 0,
                         "starts hidden even when asked to show")
        # The window exists a moment before it is sized.
        wait_for("the client area of 480x388", lambda: read("status")["client"] == "480x388")
        # Nothing configured: the Setup form opens by itself; the status window stays hidden and disabled.
        self.assertEqual(self.form("Setup")["visible"], 1)
        self.shows("status", {T.ID_STATUS_VALUE: "Not configured"})
        status = read("status")
        self.assertEqual((status["visible"], status["enabled"], status[T.ID_EXPORT_BUTTON]["visible"]), (0, 0, 0),
                         "hidden, disabled while the form is open, no Export without a configuration")
        self.screenshot("setup_form")
        # Explorer restarts: its new taskbar knows no icon until the tray adds it again.
        self.assertEqual(driver("taskbar-created")[1].split(), ["1", "0", "1"], "registered, forgotten, back")

        order = [T.ID_SETUP_COMMAND_EDIT, T.ID_IMPORT_BUTTON, T.ID_SAVE_BUTTON, T.ID_CANCEL_BUTTON]
        self.assertEqual(self.tab_order(4), order + order[:1], "from the field, in visual order, round")
        # Without a server URL, or with an over-long value: a warning, nothing saved, the form and input stay.
        for command, warning in (("whitelist --token abc", "Paste a full setup command from the plugin dashboard:\n\n"
                                                           "whitelist --token <token> --server-url <url>"),
                                 (f"whitelist --token {'k' * 256} --server-url h", TOKEN_TOO_LONG),
                                 (f"whitelist --token t --server-url https://{'h' * 504}",
                                  "The server URL is too long (at most 511 characters).")):
            self.ok("config", "set", T.ID_SETUP_COMMAND_EDIT, command)
            self.ok("status", "key", VK_RETURN)  # Enter in the multiline field presses Save
            self.assertIn(warning, self.answer(TITLE))
        self.assertEqual(self.form("Setup")[T.ID_SETUP_COMMAND_EDIT]["text"], command)
        self.assertFalse((self.data / "whitelist.config").exists())
        # Short options in capitals, URL first, a quoted token with a blank, the URL's trailing slash.
        self.ok("config", "set", T.ID_SETUP_COMMAND_EDIT, f'WHITELIST -S {server.url()}/ -T "tok en"')
        self.assertEqual(self.focus(), T.ID_SAVE_BUTTON, "the field's Enter moved to Save; the box gave the focus back")
        self.ok("status", "key", VK_RETURN)
        self.form_closed()
        self.assertEqual([json.loads(r["body"])["ip"] for r in server.get_requests()
                          if r["path"] == "/api/public/whitelist" and r["method"] == "POST"], [SERVER_IP])
        self.assertEqual(decrypt_config(self.data / "whitelist.config").decode(),
                         f"token=tok en\nserver_url={server.url()}\nfiles_name=\nfiles_token=\n")

        # A second start hands over to the running instance and ends.
        second = run(BIN_DIR / "tray.exe", (), win_path(self.base), desktop=desktop, timeout=WAIT)
        self.assertEqual(second.code, 0)
        self.assertEqual(read("status")["visible"], 1, "the first instance's window is shown")
        self.exit_tray()

    def test_configuration_form_at_144_dpi(self):
        # Wine takes the DPI from this value when a program starts.
        key = r"HKCU\Control Panel\Desktop"
        wine_tool("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f")
        self.addCleanup(wine_tool, "reg", "delete", key, "/v", "LogPixels", "/f")
        encrypt_config(self.data / "whitelist.config", b"token=old\nserver_url=http://old.example\n")
        chosen = self.tmp / "chosen.config"
        chosen_plain = b"token=tok\nserver_url=http://h.example\nfiles_name=BIRCH LLC\nfiles_token=ft\n"
        encrypt_config(chosen, chosen_plain)
        self.start(SW_HIDE)
        wait_for("the client area of 720x582", lambda: read("status")["client"] == "720x582")
        # Import, from the Setup form asked for: the chosen file whole, then a sync.
        self.ok("status", "send", T.WM_OPEN_SETUP, 0, 0)
        self.form("Setup")
        self.ok("config", "click", T.ID_IMPORT_BUTTON)
        self.answer("Import encrypted config", chosen)
        self.form_closed()
        self.assertEqual((self.data / "whitelist.config").read_bytes(), chosen.read_bytes())
        wait_for("the sync after the import", lambda: self.runs("whitelist.exe"))

        self.ok("status", "post", WM_COMMAND, T.ID_CONFIG_BUTTON, 0)
        c = self.form("Configuration")
        fields = [T.ID_TOKEN_EDIT, T.ID_SERVER_URL_EDIT, T.ID_FILES_NAME_EDIT, T.ID_FILES_TOKEN_EDIT]
        self.assertEqual([(c[i]["text"], bool(c[i]["style"] & ES_PASSWORD)) for i in fields],
                         [("tok", True), ("http://h.example", False), ("BIRCH LLC", False), ("ft", True)],
                         "the stored values; both tokens masked")
        self.assertEqual(c["client"], "660x540", "the form sized to its design at 144 DPI")
        self.screenshot("configuration_144_dpi")
        buttons = [T.ID_DOWNLOAD_BUTTON, T.ID_SAVE_BUTTON, T.ID_CANCEL_BUTTON]
        self.assertEqual(self.tab_order(7), fields + buttons + fields[:1])
        # Asking again, even for the other form, brings back the same window.
        self.ok("status", "send", T.WM_OPEN_SETUP, 0, 0)
        self.assertEqual(read("config")["title"], "Configuration")
        # An over-long value is refused, never cut.
        self.ok("config", "set", T.ID_TOKEN_EDIT, "k" * 256)
        self.ok("config", "click", T.ID_SAVE_BUTTON)
        self.assertIn(TOKEN_TOO_LONG, self.answer(TITLE))
        self.assertEqual(decrypt_config(self.data / "whitelist.config"), chosen_plain, "nothing saved")

        # A slow sync after the save: the windows keep answering, the form is disabled and stays open until the
        # sync ends; it fails: its reason is shown, the values stay saved and in the form.
        self.script("whitelist.exe", "hold", "exit 1")
        (self.data / "last_error.txt").write_text("Error: unauthorized (401) - check the token")
        self.ok("config", "set", T.ID_TOKEN_EDIT, "tok2")
        self.ok("config", "click", T.ID_SAVE_BUTTON)
        wait_for("the sync to start", lambda: len(self.runs("whitelist.exe")) == 2)
        c = read("config")
        disabled = (T.ID_TOKEN_EDIT, T.ID_SAVE_BUTTON, T.ID_CANCEL_BUTTON, T.ID_DOWNLOAD_BUTTON)
        self.assertEqual([c[i]["enabled"] for i in disabled], [0] * 4, "the form is disabled")
        self.ok("config", "send", WM_COMMAND, IDCANCEL, 0)  # Escape, answered during the save
        self.ok("config", "send", WM_CLOSE, 0, 0)
        self.assertIsNotNone(read("config"), "stays open until the sync ends")
        self.release("whitelist.exe")
        self.assertIn("Error: unauthorized (401) - check the token", self.answer(TITLE))
        self.assertEqual(read("config")[T.ID_TOKEN_EDIT]["text"], "tok2")
        self.assertIn("token=tok2\n", decrypt_config(self.data / "whitelist.config").decode())

        # An over-long field is refused, never cut: nothing runs (see the one sync.exe run below).
        self.ok("config", "set", T.ID_FILES_NAME_EDIT, "n" * 256)
        self.ok("config", "click", T.ID_DOWNLOAD_BUTTON)
        self.assertIn("The files customer name is too long (at most 255 characters).", self.answer(TITLE))
        # Download: busy while it runs, nothing more starts, also from a new window after this one closed; no
        # box once its window is gone; the fields reach sync.exe unsaved.
        self.ok("config", "set", T.ID_FILES_NAME_EDIT, "n")
        self.script("sync.exe", "hold", "exit 0")
        self.ok("config", "click", T.ID_DOWNLOAD_BUTTON)
        wait_for("sync.exe to start", lambda: self.runs("sync.exe"))
        self.assertEqual((lambda b: (b["text"], b["enabled"]))(read("config")[T.ID_DOWNLOAD_BUTTON]),
                         ("Downloading...", 0))
        self.ok("config", "click", T.ID_CANCEL_BUTTON)
        self.form_closed()
        self.ok("status", "post", WM_COMMAND, T.ID_CONFIG_BUTTON, 0)
        self.form("Configuration")
        self.ok("config", "send", WM_COMMAND, T.ID_DOWNLOAD_BUTTON, 0)  # the running download holds: nothing starts
        self.release("sync.exe")
        wait_for("the focus in the first field", lambda: self.focus() == T.ID_TOKEN_EDIT)
        self.ok("status", "key", VK_ESCAPE)  # closes the form as its close box does
        self.form_closed()
        self.assertIsNone(read(f"dialog={TITLE}"))
        self.assertEqual([r["argv"][1:] for r in self.runs("sync.exe")], [["files", "--name", "n", "--token", "ft"]])
        self.assertIn("files_name=BIRCH LLC\n", decrypt_config(self.data / "whitelist.config").decode())
        self.exit_tray()


if __name__ == "__main__":
    unittest.main()
