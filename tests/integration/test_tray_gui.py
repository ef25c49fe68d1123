"""The real tray.exe under Xvfb and Wine, in a virtual desktop of its own with a taskbar, worked through
Win32 messages by tray_driver.exe. Screenshots go to TRAY_SCREENSHOT_DIR. CTest runs this suite alone:
the tray's mutex and the service are machine-wide in the Wine prefix."""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from harness import LAUNCH_ATTEMPTS, decrypt_config, encrypt_config, run, wait_until, win_path

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "server"))
from fake_server import FakeServer  # noqa: E402

BIN_DIR = pathlib.Path(os.environ["WHITELIST_BIN_DIR"])
WINE = os.environ["WHITELIST_WINE"]
DRIVER = pathlib.Path(os.environ["WHITELIST_TRAY_DRIVER"])
STAND_IN_SERVICE = pathlib.Path(os.environ["WHITELIST_STAND_IN_SERVICE"])
STAND_IN_AGENT = pathlib.Path(os.environ["WHITELIST_STAND_IN_AGENT"])
SHOT_DIR = pathlib.Path(os.environ["TRAY_SCREENSHOT_DIR"])
TRAY = BIN_DIR / "tray.exe"
TITLE = DATA_FOLDER_NAME = "QOR Whitelist IP Updater"
SERVICE_NAME = "QORWhitelistIPUpdater"
SERVER_IP = "198.51.100.20"
TOKEN = "0123456789abcdefXYZ"
WAIT = 90  # seconds: a bound for hangs, not a measured expectation
WM_NULL, WM_CLOSE, WM_COMMAND, WM_SYSCOMMAND, SC_MINIMIZE = 0x0, 0x10, 0x111, 0x112, 0xF020
WM_TRAY_CALLBACK, WM_OPEN_SETUP, WM_LBUTTONUP, WM_LBUTTONDBLCLK = 0x464, 0x467, 0x202, 0x203
MENU_OPEN, MENU_SYNC, MENU_CONFIG, MENU_EXIT = 1001, 1002, 1003, 1004
IDOK, IDCANCEL, ES_PASSWORD = 1, 2, 0x20
VK_TAB, VK_RETURN, VK_ESCAPE = 0x09, 0x0D, 0x1B
SW_HIDE, SW_SHOWNORMAL, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED = 0, 1, 2, 3
FILE_NAME_FIELDS = (0x47C, 0x480)  # the file dialog's name: combo box, or edit in the old layout
PASTE_WARNING = "Paste a full setup command from the plugin dashboard:  whitelist --token <token> --server-url <url>"
TOKEN_TOO_LONG = "The rule token is too long (at most 255 characters)."

display = desktop = explorer = server = xvfb = wine_env = None


def wait_for(what, probe):
    return wait_until(probe, what, WAIT)


def wine(*args, check=False, timeout=60):
    done = subprocess.run([WINE, *map(str, args)], env=wine_env, capture_output=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)
    if check and done.returncode != 0:
        raise AssertionError(f"wine {args} failed: {done.returncode} {done.stdout!r} {done.stderr!r}")
    return done


def driver(*args):
    """A failed run without the driver's "tray_driver:" line was never started by Wine: repeated."""
    for attempt in range(LAUNCH_ATTEMPTS):
        done = wine(DRIVER, "--desktop", desktop, *args)
        if done.returncode == 0 or b"tray_driver:" in done.stderr:
            break
        print(f"tray_driver {args} not started by Wine (exit {done.returncode}); again", flush=True)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def info(target):
    """status, config or dialog=TITLE: its visibility, state, client size, pid and title; None when absent."""
    code, out = driver(target, "window")
    return dict(field.split("=", 1) for field in out.strip().split("\t")) if code == 0 else None


def controls(target):
    code, out = driver(target, "controls")
    if code != 0:
        return None
    found = {}
    for line in out.splitlines():
        i, cls, visible, enabled, style, text = line.split("\t", 5)
        found[int(i)] = {"class": cls, "visible": visible == "1", "enabled": enabled == "1", "style": int(style, 16),
                         "text": text}
    return found


def start_xvfb():
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=[write_end], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        return proc, ":" + numbers.readline().strip()  # empty when Xvfb did not start: setUpModule then fails


def set_service(state):
    """'absent', 'stopped' or 'running', by Wine's service control manager."""
    wine("sc", "stop", SERVICE_NAME)
    wait_for("the stand-in service to stop", lambda: b"RUNNING" not in wine("sc", "query", SERVICE_NAME).stdout)
    wine("sc", "delete", SERVICE_NAME)
    if state == "absent":
        return
    wine("sc", "create", SERVICE_NAME, "binPath=", win_path(STAND_IN_SERVICE), check=True)
    if state == "running":
        wine("sc", "start", SERVICE_NAME, check=True)
        wait_for("the stand-in service to run", lambda: b"RUNNING" in wine("sc", "query", SERVICE_NAME).stdout)


def setUpModule():
    global display, desktop, explorer, server, xvfb, wine_env
    xvfb, display = start_xvfb()
    wine_env = dict(os.environ, DISPLAY=display)
    desktop = f"traytest{os.getpid()}"
    # A taskbar with a notification area in this virtual desktop.
    wine("reg", "add", rf"HKCU\Software\Wine\Explorer\Desktops\{desktop}", "/v", "EnableShell", "/t", "REG_DWORD",
         "/d", "1", "/f", check=True)
    # The desktop lives while a program runs in it: the driver holds it open.
    explorer = subprocess.Popen([WINE, "explorer", f"/desktop={desktop},1024x768", win_path(DRIVER), "--desktop",
                                 desktop, "hold"], env=wine_env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for("the virtual desktop", lambda: driver("status", "window")[0] == 1)  # joined, no tray yet
    set_service("absent")  # whatever an interrupted run left behind
    server = FakeServer(http_port=0, ip=SERVER_IP)
    server.start()
    SHOT_DIR.mkdir(parents=True, exist_ok=True)


def tearDownModule():
    if server:
        server.stop()
    set_service("absent")
    driver("release")
    try:
        explorer.wait(timeout=30)
    except subprocess.TimeoutExpired:
        explorer.kill()
    wine("reg", "delete", rf"HKCU\Software\Wine\Explorer\Desktops\{desktop}", "/f")
    xvfb.terminate()
    xvfb.wait()


class TrayTestCase(unittest.TestCase):
    """A private data folder; the tray started in it with a show command."""

    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="wl-tray-"))
        self.base = self.tmp / "ProgramData"
        self.data = self.base / DATA_FOLDER_NAME
        self.data.mkdir(parents=True)
        self.tray = None

    def tearDown(self):
        if self.tray and self.tray.poll() is None:
            for caption in (TITLE, "Whitelist sync failed", "File download failed"):
                self.dismiss(caption)
            driver("status", "post", WM_COMMAND, MENU_EXIT, 0)
            try:
                self.tray.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                if info("status"):
                    wine("taskkill", "/pid", info("status")["pid"], "/f")
                self.tray.wait(timeout=WAIT)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def configure(self):
        r = run(BIN_DIR / "whitelist.exe", ["--token", TOKEN, "--server-url", server.url("http")], win_path(self.base))
        self.assertEqual(r.code, 0, r)

    def write(self, name, text):
        (self.data / name).write_bytes(text.encode())

    def start_tray(self, show=SW_SHOWNORMAL, tray=TRAY):
        self.tray = subprocess.Popen(
            [WINE, DRIVER, "--desktop", desktop, "run", "--show", str(show), f"ProgramData={win_path(self.base)}",
             "--", win_path(tray)], env=wine_env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        return wait_for("the status window", lambda: info("status"))

    def ok(self, *args):
        self.assertEqual(driver(*args)[0], 0, args)

    def refreshed(self, row=None, value=None):
        """Rows once a refresh has been shown (Refresh enabled again, no placeholder), and row holds value."""
        def done():
            c = controls("status")
            shown = c[213]["enabled"] and c[204]["text"] not in ("", "Refreshing...") and c[202]["text"]
            return {i: v["text"] for i, v in c.items()} if shown and (row is None or c[row]["text"] == value) else None
        return wait_for(f"a refresh showing {value!r}", done)

    def close_box(self, title, text, shot=None):
        """Waits for a message box with this caption holding text, then presses its OK."""
        box = wait_for(f"the box {title!r}", lambda: controls(f"dialog={title}"))
        self.assertIn(text, [c["text"] for i, c in box.items() if i != 0])
        if shot:
            self.screenshot(shot)
        self.dismiss(title)

    def dismiss(self, title):
        if info(f"dialog={title}") is not None:
            driver(f"dialog={title}", "post", WM_COMMAND, IDOK, 0)
            wait_for("the dialog to close", lambda: info(f"dialog={title}") is None)

    def pick_file(self, title, path):
        wait_for(f"the dialog {title!r}", lambda: info(f"dialog={title}"))
        field = next(f for f in FILE_NAME_FIELDS if f in controls(f"dialog={title}"))
        self.ok(f"dialog={title}", "set", field, win_path(path))
        self.ok(f"dialog={title}", "post", WM_COMMAND, IDOK, 0)
        wait_for("the file dialog to close", lambda: info(f"dialog={title}") is None)

    def wait_config(self, title):
        return wait_for(f"the {title} form", lambda: (lambda w: w if w and w["title"] == title else None)(info("config")))

    def wait_config_closed(self):
        wait_for("the configuration window to close", lambda: info("config") is None)
        wait_for("the status window enabled again", lambda: info("status")["enabled"] == "1")

    def focus(self):
        code, out = driver("status", "focus")
        return int(out.split("\t")[0]) if code == 0 else None

    def key(self, vk):
        self.ok("status", "key", vk)

    def tab_order(self, count):
        """The focused control, then where each of count Tabs moves it."""
        order = [wait_for("a focused control", self.focus)]
        for _ in range(count):
            self.key(VK_TAB)
            order.append(wait_for("the focus to move", lambda: (lambda f: f if f not in (None, order[-1]) else None)(
                self.focus())))
        return order

    def show(self):
        driver("status", "post", WM_TRAY_CALLBACK, 0, WM_LBUTTONDBLCLK)
        wait_for("the window to show", lambda: info("status")["visible"] == "1")

    def screenshot(self, name):
        time.sleep(1)  # let the window and the taskbar finish painting
        path = SHOT_DIR / f"{name}.png"
        subprocess.run(["import", "-display", display, "-window", "root", str(path)], check=True)
        self.assertGreater(path.stat().st_size, 0)

    def exit_tray(self):
        self.ok("status", "post", WM_COMMAND, MENU_EXIT, 0)
        self.assertEqual(self.tray.wait(timeout=WAIT), 0)
        self.assertIsNone(info("status"), "the status window is gone")


class StartAndExit(TrayTestCase):
    def test_not_configured_start_then_a_second_start_then_exit(self):
        self.assertEqual(self.start_tray(SW_SHOWMAXIMIZED)["visible"], "0", "starts hidden even when asked to show")
        # The window exists a moment before it is sized.
        wait_for("the client area of 480x388", lambda: info("status")["client"] == "480x388")
        # Nothing configured: the Setup form opens by itself; the status window stays hidden and disabled.
        self.assertEqual(self.wait_config("Setup")["visible"], "1")
        self.assertEqual(info("status")["enabled"], "0", "the owner is disabled while the form is open")
        rows = self.refreshed()
        self.assertEqual([rows[i] for i in (216, 208, 210, 206, 204, 218)],
                         ["Not configured", "(not configured)", "(not configured)", "(none)", "(unavailable)", "None"])
        self.assertEqual(info("status")["visible"], "0", "the status window stays hidden")
        self.screenshot("setup_form")
        self.ok("config", "click", 304)  # Cancel
        self.wait_config_closed()
        self.assertFalse(controls("status")[220]["visible"], "no Export without a configuration")
        self.assertEqual(driver("icon")[1].strip(), "1", "the notification icon is registered")
        # Explorer restarts: its new taskbar knows no icon until the tray adds it again.
        self.assertEqual(driver("taskbar-created")[1].strip(), "0", "the shell had forgotten the icon")
        wait_for("the icon back after TaskbarCreated", lambda: driver("icon")[1].strip() == "1")

        # A second start hands over to the running instance and ends.
        second = wine(DRIVER, "--desktop", desktop, "run", f"ProgramData={win_path(self.base)}", "--",
                      win_path(TRAY), timeout=WAIT)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(info("status")["visible"], "1", "the first instance's window is shown")
        self.screenshot("not_configured")

        # Closing and minimizing only hide; "Open" shows again; a single click means nothing.
        for message, wparam, lparam in ((WM_CLOSE, 0, 0), (WM_SYSCOMMAND, SC_MINIMIZE, 0)):
            self.ok("status", "post", message, wparam, lparam)
            wait_for("hidden", lambda: info("status")["visible"] == "0")
            self.ok("status", "post", WM_TRAY_CALLBACK, 0, WM_LBUTTONUP)
            self.ok("status", "post", WM_COMMAND, MENU_OPEN, 0)
            wait_for("shown by Open", lambda: info("status")["visible"] == "1")
        self.assertIsNone(self.tray.poll())
        self.exit_tray()


class Rows(TrayTestCase):
    def test_rows_follow_the_data_folder(self):
        set_service("running")
        self.configure()
        self.write("last_ip.txt", SERVER_IP.upper() + "\r\n")
        self.start_tray(SW_SHOWMINIMIZED)
        rows = self.refreshed()
        self.assertEqual([rows[i] for i in (202, 216, 204, 206, 208, 210, 218, 211, 212, 213, 220)],
                         ["Running", "Up to date", SERVER_IP, SERVER_IP, server.url("http"), "01234567...", "None",
                          "Sync now", "Config", "Refresh", "Export"])
        self.show()
        self.screenshot("up_to_date")
        self.assertEqual(self.tab_order(4), [211, 212, 213, 220, 211], "the buttons from left to right, round")
        # Export: the stored file, byte for byte.
        target = self.tmp / "exported.config"
        self.ok("status", "click", 220)
        self.pick_file("Export encrypted config", target)
        self.assertEqual(target.read_bytes(), (self.data / "whitelist.config").read_bytes())

        # Refresh reads the folder again; each state in the order the rules rank them.
        self.write("last_ip.txt", "198.51.100.99")
        self.write("pending_delete_ips.txt", "192.0.2.1\r\n \t\r\n192.0.2.2\r\n")
        self.ok("status", "click", 213)
        rows = self.refreshed(206, "198.51.100.99")
        self.assertEqual((rows[216], rows[218]), ("Out of sync - sync needed", "2 old IP(s) waiting to remove"))
        self.screenshot("out_of_sync")
        set_service("stopped")
        self.ok("status", "click", 213)
        self.assertEqual(self.refreshed(216, "Service Stopped - sync inactive")[202], "Stopped")
        self.screenshot("service_stopped")
        self.write("last_error.txt", "WinHttpSendRequest failed (POST body to 127.0.0.1:9): error 12029 - cannot "
                                     "connect (server down, port closed or blocked by a firewall)\n")
        self.ok("status", "click", 213)
        self.refreshed(216, "Error: cannot reach server")
        self.screenshot("error_classified")

        # Without a configuration file Export warns and writes nothing.
        (self.data / "whitelist.config").unlink()
        self.ok("status", "click", 220)
        self.pick_file("Export encrypted config", self.tmp / "second.config")
        self.close_box(TITLE, "No saved config found to export.")
        self.assertFalse((self.tmp / "second.config").exists())
        self.exit_tray()


class AgentRuns(TrayTestCase):
    """The tray copied into a folder of its own beside a stand-in agent under
    both of the agent's names: each start is logged with its command line,
    and its script decides how it ends."""

    def setUp(self):
        super().setUp()
        self.app = self.tmp / "app"
        self.app.mkdir()
        shutil.copyfile(TRAY, self.app / "tray.exe")
        for name in ("whitelist.exe", "sync.exe"):
            shutil.copyfile(STAND_IN_AGENT, self.app / name)

    def tearDown(self):
        for name in ("whitelist.exe", "sync.exe"):
            self.release(name)  # a held stand-in would outlive the tray
        super().tearDown()

    def start(self):
        return self.start_tray(SW_HIDE, tray=self.app / "tray.exe")

    def script(self, program, *lines):
        (self.app / f"{program}.script").write_text("".join(line + "\n" for line in lines))

    def runs(self, program):
        log = self.app / f"{program}.log"
        return [json.loads(line) for line in log.read_text().splitlines()] if log.exists() else []

    def release(self, program):
        (self.app / f"{program}.release").write_text("")

    def saved(self):
        return dict(line.split("=", 1) for line in decrypt_config(self.data / "whitelist.config").decode().splitlines())

    def sync_lines(self, count):
        return [f'"{win_path(self.app / "whitelist.exe")}" sync'] * count

    def test_setup_form_warnings_save_and_import(self):
        self.start()
        self.wait_config("Setup")
        self.assertEqual(self.tab_order(4), [307, 306, 303, 304, 307], "from the field, in visual order, round")
        # A command without a server URL, or with an over-long value: a warning, nothing saved, nothing run.
        for command, warning in (("whitelist --token abc", PASTE_WARNING),
                                 (f"whitelist --token {'k' * 256} --server-url https://host", TOKEN_TOO_LONG),
                                 (f"whitelist --token t --server-url https://{'h' * 504}",
                                  "The server URL is too long (at most 511 characters).")):
            self.ok("config", "set", 307, command)
            self.key(VK_RETURN)  # Enter in the multiline field presses Save
            self.close_box(TITLE, warning)
        self.assertEqual((info("config")["title"], controls("config")[307]["text"]), ("Setup", command), "the form and input stay")
        self.assertFalse((self.data / "whitelist.config").exists())
        self.assertEqual(self.runs("whitelist.exe"), [])

        # Short options in capitals, URL first, a quoted token with a blank, two trailing slashes.
        self.ok("config", "set", 307, 'WHITELIST -S https://host// -T "tok en"')
        self.assertEqual(self.focus(), 303, "the field's Enter moved to Save; the boxes gave the focus back")
        self.key(VK_RETURN)
        self.wait_config_closed()
        self.assertEqual(self.saved(), {"token": "tok en", "server_url": "https://host/", "files_name": "",
                                        "files_token": ""}, "one slash removed, not two")
        runs = self.runs("whitelist.exe")
        self.assertEqual([r["command_line"] for r in runs], self.sync_lines(1))
        self.assertEqual(runs[0]["program_data"], win_path(self.base), "the child shares the data folder")

        # Import, from the Setup form asked for again: the chosen file whole, then a sync.
        chosen = self.tmp / "chosen.config"
        encrypt_config(chosen, b"token=imported\nserver_url=http://i.example\n")
        self.ok("status", "send", WM_OPEN_SETUP, 0, 0)
        self.wait_config("Setup")
        self.ok("config", "click", 306)
        self.pick_file("Import encrypted config", chosen)
        self.wait_config_closed()
        self.assertEqual((self.data / "whitelist.config").read_bytes(), chosen.read_bytes())
        wait_for("the sync after the import", lambda: len(self.runs("whitelist.exe")) == 2)
        self.assertEqual(self.runs("sync.exe"), [])
        self.exit_tray()

    def test_configuration_form_at_144_dpi_save_and_download(self):
        # Wine takes the DPI from this value when a program starts.
        key = r"HKCU\Control Panel\Desktop"
        wine("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f", check=True)
        self.addCleanup(wine, "reg", "delete", key, "/v", "LogPixels", "/f")
        encrypt_config(self.data / "whitelist.config",
                       b"token=tok\nserver_url=http://h.example\nfiles_name=BIRCH LLC\nfiles_token=ft\n")
        self.start()
        wait_for("the client area of 720x582", lambda: info("status")["client"] == "720x582")
        self.ok("status", "post", WM_COMMAND, 212, 0)
        self.wait_config("Configuration")
        c = controls("config")
        self.assertEqual([c[i]["text"] for i in (301, 302, 308, 309, 310, 303, 304)],
                         ["tok", "http://h.example", "BIRCH LLC", "ft", "Download files", "Save", "Cancel"])
        self.assertEqual([bool(c[i]["style"] & ES_PASSWORD) for i in (301, 302, 308, 309)],
                         [True, False, False, True], "both tokens are masked")
        self.screenshot("configuration_144_dpi")
        self.assertEqual(self.tab_order(7), [301, 302, 308, 309, 310, 303, 304, 301])
        # Asking again, even for the other form, brings back the same window; Import is the Setup form's only.
        self.ok("status", "send", WM_OPEN_SETUP, 0, 0)
        self.ok("status", "send", WM_COMMAND, MENU_CONFIG, 0)
        self.ok("config", "send", WM_COMMAND, 306, 0)
        self.assertEqual(info("config")["title"], "Configuration")
        self.assertIsNone(info("dialog=Import encrypted config"))

        self.ok("config", "set", 301, "k" * 256)
        self.ok("config", "click", 303)
        self.close_box(TITLE, TOKEN_TOO_LONG)
        self.assertEqual(self.runs("whitelist.exe"), [])
        self.assertEqual(self.saved()["token"], "tok", "nothing saved")

        # The sync fails after the save: its reason is shown, the values stay saved and in the form.
        self.script("whitelist.exe", "last-error Error: unauthorized (401) - check the token", "exit 1")
        self.ok("config", "set", 301, "tok2")
        self.ok("config", "set", 302, "http://other.example")
        self.ok("config", "click", 303)
        self.close_box(TITLE, "Error: unauthorized (401) - check the token")
        self.assertEqual((self.saved()["server_url"], self.saved()["files_name"]), ("http://other.example", "BIRCH LLC"))
        self.assertEqual(controls("config")[302]["text"], "http://other.example")

        # An over-long field is refused, never cut (nothing runs: see the one sync.exe run below).
        self.ok("config", "set", 308, "n" * 256)
        self.ok("config", "click", 310)
        self.close_box(TITLE, "The files customer name is too long (at most 255 characters).")
        # Download: busy while it runs, nothing more starts; the fields reach sync.exe unsaved.
        self.ok("config", "set", 308, "n")
        self.ok("config", "set", 309, "t")
        self.script("sync.exe", "hold", "exit 0")
        self.ok("config", "click", 310)
        wait_for("sync.exe to start", lambda: self.runs("sync.exe"))
        button = controls("config")[310]
        self.assertEqual((button["text"], button["enabled"]), ("Downloading...", False))
        self.ok("config", "send", WM_COMMAND, 310, 0)
        self.release("sync.exe")
        self.close_box(TITLE, "Files downloaded successfully.")
        self.assertEqual([r["argv"][1:] for r in self.runs("sync.exe")], [["files", "--name", "n", "--token", "t"]])
        self.assertEqual(self.saved()["files_name"], "BIRCH LLC", "the fields are not saved")

        # A slow sync: the windows keep answering, the form is disabled and stays open until it ends.
        self.script("whitelist.exe", "hold", "exit 0")
        self.ok("config", "click", 303)
        wait_for("the second sync to start", lambda: len(self.runs("whitelist.exe")) == 2)
        trips = driver("status", "ping", 3)[1].split()
        self.assertEqual(len(trips), 3)
        self.assertNotIn("timeout", trips, "the windows answer WM_NULL during the save")
        c = controls("config")
        self.assertEqual([c[i]["enabled"] for i in (301, 303, 304, 310)], [False] * 4, "the form is disabled")
        driver("config", "post", WM_COMMAND, IDCANCEL, 0)  # Escape
        driver("config", "post", WM_CLOSE, 0, 0)
        self.ok("config", "send", WM_NULL, 0, 0)
        self.assertIsNotNone(info("config"), "stays open until the sync ends")
        self.release("whitelist.exe")
        self.wait_config_closed()
        self.assertEqual([r["command_line"] for r in self.runs("whitelist.exe")], self.sync_lines(2))

        # Closing the window while a download runs: no box later, and a new window waits for it.
        (self.app / "sync.exe.release").unlink()
        self.script("sync.exe", "hold", "exit 0")
        self.ok("status", "post", WM_COMMAND, 212, 0)
        self.wait_config("Configuration")
        self.ok("config", "click", 310)
        wait_for("the second download", lambda: len(self.runs("sync.exe")) == 2)
        self.ok("config", "click", 304)
        self.wait_config_closed()
        self.ok("status", "post", WM_COMMAND, 212, 0)
        self.wait_config("Configuration")
        self.ok("config", "send", WM_COMMAND, 310, 0)
        self.assertEqual(controls("config")[310]["text"], "Download files", "the running download holds")
        self.release("sync.exe")
        wait_for("the focus in the first field", lambda: self.focus() == 301)
        self.key(VK_ESCAPE)  # closes the form as its close box does
        self.wait_config_closed()
        self.assertIsNone(info(f"dialog={TITLE}"))
        self.assertEqual(len(self.runs("sync.exe")), 2)
        self.exit_tray()

    def test_sync_now_success_failure_and_one_child_at_a_time(self):
        set_service("running")
        self.configure()
        self.write("last_ip.txt", "198.51.100.99")
        self.start()
        self.refreshed(206, "198.51.100.99")
        self.show()
        # A second "Sync now" while one runs starts no second child.
        self.script("whitelist.exe", "hold", "exit 0")
        self.ok("status", "click", 211)
        wait_for("whitelist.exe to start", lambda: self.runs("whitelist.exe"))
        rows = controls("status")
        self.assertEqual((rows[211]["enabled"], rows[204]["text"], rows[216]["text"]),
                         (False, "Syncing...", "Syncing with server..."))
        self.ok("status", "post", WM_COMMAND, MENU_SYNC, 0)
        self.write("last_ip.txt", SERVER_IP)  # what the agent records
        self.release("whitelist.exe")
        self.assertEqual(self.refreshed(206, SERVER_IP)[216], "Up to date")
        self.assertTrue(controls("status")[211]["enabled"])
        self.assertIsNone(info("dialog=Whitelist sync failed"), "no message on success")
        self.assertEqual([r["command_line"] for r in self.runs("whitelist.exe")], self.sync_lines(1))

        # Failure with the window shown: a message box with the agent's last error.
        self.script("whitelist.exe", "last-error Error: forbidden (403)", "exit 1")
        self.ok("status", "click", 211)
        self.close_box("Whitelist sync failed", "Error: forbidden (403)", shot="sync_failed_box")
        # Hidden: a balloon instead, no box.
        (self.data / "last_error.txt").unlink()
        self.script("whitelist.exe", "exit 1")
        self.ok("status", "post", WM_CLOSE, 0, 0)
        wait_for("hidden", lambda: info("status")["visible"] == "0")
        self.ok("status", "post", WM_COMMAND, MENU_SYNC, 0)
        wait_for("the third run", lambda: len(self.runs("whitelist.exe")) == 3)
        wait_for("Sync now enabled again", lambda: controls("status")[211]["enabled"])
        wait_for("the balloon", lambda: driver("balloons")[1].strip())
        self.screenshot("sync_failed_balloon")
        self.assertIsNone(info("dialog=Whitelist sync failed"))
        self.exit_tray()


class RealAgent(TrayTestCase):
    """The installed layout: tray.exe beside the real whitelist.exe, against the loopback server."""

    def test_first_start_paste_save_then_up_to_date_and_a_refused_sync(self):
        server.clear_scripts()
        server.clear_requests()
        set_service("running")
        self.start_tray(SW_HIDE)
        self.wait_config("Setup")
        self.ok("config", "set", 307, f"whitelist --token {TOKEN} --server-url {server.url('http')}/")
        self.ok("config", "click", 303)
        self.wait_config_closed()
        self.assertEqual([json.loads(r["body"])["ip"] for r in server.get_requests()
                          if r["path"] == "/api/public/whitelist" and r["method"] == "POST"], [SERVER_IP])
        self.assertEqual(decrypt_config(self.data / "whitelist.config").decode(),
                         f"token={TOKEN}\nserver_url={server.url('http')}\nfiles_name=\nfiles_token=\n")
        self.show()
        self.assertEqual(self.refreshed(216, "Up to date")[206], SERVER_IP)
        self.screenshot("set_up_and_up_to_date")

        # The server refuses: the agent's own reason, as it left it in last_error.txt.
        server.set_script("POST", "/api/public/whitelist",
                          [{"status": 401, "json": {"ok": False, "error": "Unauthorized"}}])
        self.ok("status", "click", 211)
        box = wait_for("the failure box", lambda: controls("dialog=Whitelist sync failed"))
        reason = (self.data / "last_error.txt").read_text()
        self.assertTrue(reason.startswith("Unauthorized"), reason)
        self.assertIn(reason.replace("\n", " ").replace("\r", " ").strip(), [c["text"].strip() for c in box.values()])
        self.dismiss("Whitelist sync failed")
        self.exit_tray()


if __name__ == "__main__":
    unittest.main()
