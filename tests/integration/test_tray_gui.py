"""The real tray.exe under Xvfb and Wine, worked through Win32 messages by
tray_driver.exe: start-up and the single instance, the rows after a refresh in
the states that matter, the buttons, export and exit, the configuration
window in both forms with every message box, and the agent runs ("Sync now",
Save, Import, "Download files") against a stand-in agent that records how it
was started. Screenshots are kept under the build tree (TRAY_SCREENSHOT_DIR).

The tray runs in a Wine virtual desktop of its own with a taskbar, so that the
notification icon has a shell to live in. Its single-instance mutex is
machine-wide inside the Wine prefix: each test ends its tray before the next
one starts, and CTest runs this suite alone with the service control manager
and the echo port (RESOURCE_LOCK)."""
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
DATA_FOLDER_NAME = "QOR Whitelist IP Updater"
TITLE = "QOR Whitelist IP Updater"
SERVICE_NAME = "QORWhitelistIPUpdater"
SERVER_IP = "198.51.100.20"
TOKEN = "0123456789abcdefXYZ"
WAIT = 90  # seconds: a bound for hangs, not a measured expectation

WM_NULL, WM_COMMAND, WM_CLOSE, WM_SYSCOMMAND = 0x0, 0x111, 0x10, 0x112
WM_OPEN_SETUP = 0x467
ES_MULTILINE, ES_PASSWORD, ES_AUTOHSCROLL, WS_VSCROLL, WS_TABSTOP = 0x4, 0x20, 0x80, 0x200000, 0x10000
BS_DEFPUSHBUTTON = 0x1
WS_EX_TOPMOST, WS_EX_DLGMODALFRAME = 0x8, 0x1
PASTE_WARNING = "Paste a full setup command from the plugin dashboard:  whitelist --token <token> --server-url <url>"
SC_MINIMIZE = 0xF020
WM_TRAY_CALLBACK, WM_LBUTTONDBLCLK, WM_LBUTTONUP = 0x464, 0x203, 0x202
IDOK, IDCANCEL = 1, 2
VK_TAB, VK_RETURN, VK_ESCAPE = 0x09, 0x0D, 0x1B
SW_SHOWNORMAL, SW_SHOWMAXIMIZED, SW_SHOWMINIMIZED, SW_HIDE = 1, 3, 2, 0
FILE_NAME_FIELDS = (0x47C, 0x480)  # the save dialog's file name: combo box, or edit in the old layout

display = desktop = explorer = server = xvfb = None
wine_env = None


def wait_for(what, probe, timeout=WAIT):
    """Polls probe() until it returns something true; fails after timeout."""
    return wait_until(probe, what, timeout)


def wine(*args, check=False, timeout=60):
    done = subprocess.run([WINE, *map(str, args)], env=wine_env, capture_output=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)
    if check and done.returncode != 0:
        raise AssertionError(f"wine {args} failed: {done.returncode} {done.stdout!r} {done.stderr!r}")
    return done


def driver(*args):
    """The driver names each of its failures on stderr; a failed run without
    that line was never started by Wine and is repeated (the driver's failed
    commands do nothing, so a repetition is safe)."""
    for attempt in range(LAUNCH_ATTEMPTS):
        done = wine(DRIVER, "--desktop", desktop, *args)
        if done.returncode == 0 or b"tray_driver:" in done.stderr:
            break
        print(f"tray_driver {args} not started by Wine (exit {done.returncode}); again", flush=True)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def start_xvfb():
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=[write_end], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            raise AssertionError("Xvfb did not start")
        number += chunk
    os.close(read_end)
    return proc, ":" + number.decode().strip()


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
    wait_for("the virtual desktop", lambda: driver("window")[0] == 1)  # joined, no tray yet
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


def parse_controls(text):
    controls = {}
    for line in text.splitlines():
        fields = line.split("\t")
        if len(fields) >= 10 and fields[0].lstrip("-").isdigit():
            controls.setdefault(int(fields[0]), []).append({
                "class": fields[1], "visible": fields[2] == "1", "enabled": fields[3] == "1",
                "rect": tuple(int(v) for v in fields[4:8]), "style": int(fields[8], 16),
                "text": "\t".join(fields[9:])})
    # Labels share id 0; everything else has one control per id.
    return {i: (c if i == 0 else c[0]) for i, c in controls.items()}


def box_texts(box):
    return [c["text"] for i, c in box.items() if i != 0]


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
                self.dismiss_dialog(caption)
            driver("post", WM_COMMAND, 1004, 0)
            try:
                self.tray.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                w = self.window()
                if w:
                    wine("taskkill", "/pid", w["pid"], "/f")
                self.tray.wait(timeout=WAIT)
        shutil.rmtree(self.tmp, ignore_errors=True)

    # --- set-up of the data folder -------------------------------------
    def configure(self, url=None):
        r = run(BIN_DIR / "whitelist.exe", ["--token", TOKEN, "--server-url", url or server.url("http")],
                win_path(self.base))
        self.assertEqual(r.code, 0, r)

    def write(self, name, text):
        (self.data / name).write_bytes(text.encode())

    # --- the tray --------------------------------------------------------
    def start_tray(self, show=SW_SHOWNORMAL, tray=TRAY):
        self.tray = subprocess.Popen(
            [WINE, DRIVER, "--desktop", desktop, "run", "--show", str(show), f"ProgramData={win_path(self.base)}",
             "--", win_path(tray)], env=wine_env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        return wait_for("the status window", self.window)

    def window(self):
        code, out = driver("window")
        if code != 0:
            return None
        return dict(field.split("=", 1) for field in out.strip().split("\t"))

    def controls(self):
        code, out = driver("controls")
        self.assertEqual(code, 0, "status window gone")
        return parse_controls(out)

    def texts(self):
        return {i: c["text"] for i, c in self.controls().items()}

    def refreshed(self):
        """Rows once a refresh has been shown (Refresh enabled again, no placeholder)."""
        def done():
            c = self.controls()
            if c[213]["enabled"] and c[204]["text"] not in ("", "Refreshing...") and c[202]["text"]:
                return {i: v["text"] for i, v in c.items()}
            return None
        return wait_for("a refresh", done)

    def dialog(self, title):
        code, out = driver("dialog", title)
        return parse_controls(out) if code == 0 else None

    def box(self, title, text):
        """Waits for a message box with this caption and returns its texts, which must hold text."""
        texts = box_texts(wait_for(f"the box {title!r}", lambda: self.dialog(title)))
        self.assertIn(text, texts)
        return texts

    def close_box(self, title, text):
        self.box(title, text)
        self.dismiss_dialog(title)

    # --- the configuration window ----------------------------------------
    def config_window(self):
        code, out = driver("config")
        if code != 0:
            return None
        head, title = out.rstrip("\r\n").split("\ttitle=", 1)
        info = dict(field.split("=", 1) for field in head.split("\t"))
        info["title"] = title
        return info

    def wait_config(self, title):
        return wait_for(f"the {title} form", lambda: (lambda w: w if w and w["title"] == title else None)(
            self.config_window()))

    def config_controls(self):
        code, out = driver("config-controls")
        self.assertEqual(code, 0, "configuration window gone")
        return parse_controls(out)

    def config_set(self, control, text):
        self.assertEqual(driver("config-set", control, text)[0], 0)

    def config_click(self, control):
        self.assertEqual(driver("config-click", control)[0], 0)

    def wait_config_closed(self):
        wait_for("the configuration window to close", lambda: self.config_window() is None)
        wait_for("the status window enabled again", lambda: self.window()["enabled"] == "1")

    def dismiss_dialog(self, title):
        if self.dialog(title) is not None:
            driver("dialog-post", title, WM_COMMAND, IDOK, 0)
            wait_for("the dialog to close", lambda: self.dialog(title) is None)

    def focus(self):
        code, out = driver("focus")
        return int(out.split("\t")[0]) if code == 0 else None

    def key(self, vk):
        self.assertEqual(driver("key", vk)[0], 0, "no control has the focus")

    def tab_order(self, count):
        """The focused control, then where each of count Tabs moves it."""
        order = [wait_for("a focused control", self.focus)]
        for _ in range(count):
            before = order[-1]
            self.key(VK_TAB)
            order.append(wait_for("the focus to move", lambda: (lambda f: f if f not in (None, before) else None)(
                self.focus())))
        return order

    def show(self):
        driver("post", WM_TRAY_CALLBACK, 0, WM_LBUTTONDBLCLK)
        wait_for("the window to show", lambda: self.window()["visible"] == "1")

    def screenshot(self, name):
        time.sleep(1)  # let the window and the taskbar finish painting
        path = SHOT_DIR / f"{name}.png"
        subprocess.run(["import", "-display", display, "-window", "root", str(path)], check=True)
        self.assertGreater(path.stat().st_size, 0)

    def exit_tray(self):
        self.assertEqual(driver("post", WM_COMMAND, 1004, 0)[0], 0)
        self.assertEqual(self.tray.wait(timeout=WAIT), 0)
        self.assertIsNone(self.window(), "the status window is gone")


class StartAndExit(TrayTestCase):
    def test_not_configured_start_then_a_second_start_then_exit(self):
        w = self.start_tray(SW_SHOWMAXIMIZED)
        self.assertEqual(w["visible"], "0", "starts hidden even when asked to show maximized")
        # The window exists a moment before it is sized.
        wait_for("the client area of 480x388", lambda: self.window()["client"] == "480x388")
        # Nothing configured: the Setup form opens by itself, the status window stays hidden and disabled.
        form = self.wait_config("Setup")
        self.assertEqual((form["visible"], form["x"], form["y"], form["outer"]), ("1", "0", "0", "448x300"))
        self.assertEqual(int(form["exstyle"], 16) & (WS_EX_TOPMOST | WS_EX_DLGMODALFRAME),
                         WS_EX_TOPMOST | WS_EX_DLGMODALFRAME)
        self.assertEqual(self.window()["enabled"], "0", "the owner is disabled while the form is open")
        rows = self.refreshed()
        self.assertEqual(rows[216], "Not configured")
        self.assertEqual(rows[208], "(not configured)")
        self.assertEqual(rows[210], "(not configured)")
        self.assertEqual(rows[206], "(none)")
        self.assertEqual(rows[204], "(unavailable)")
        self.assertEqual(rows[218], "None")
        self.assertEqual(self.window()["visible"], "0", "the status window stays hidden")
        self.screenshot("setup_form")
        self.config_click(304)  # Cancel
        self.wait_config_closed()
        export = self.controls()[220]
        self.assertEqual((export["visible"], export["enabled"]), (False, False))
        code, out = driver("icon")
        self.assertEqual((code, out.strip()), (0, "1"), "the notification icon is registered")
        # Explorer restarts: its new taskbar knows no icon until the tray adds it again.
        code, out = driver("taskbar-created")
        self.assertEqual((code, out.strip()), (0, "0"), "the shell had forgotten the icon")
        wait_for("the icon back after TaskbarCreated", lambda: driver("icon")[1].strip() == "1")

        # A second start hands over to the running instance and ends.
        second = wine(DRIVER, "--desktop", desktop, "run", f"ProgramData={win_path(self.base)}", "--",
                      win_path(TRAY), timeout=WAIT)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(self.window()["visible"], "1", "the first instance's window is shown")
        self.screenshot("not_configured")

        # Closing and minimizing only hide; "Open" shows again.
        driver("post", WM_CLOSE, 0, 0)
        wait_for("hidden after close", lambda: self.window()["visible"] == "0")
        self.assertIsNone(self.tray.poll())
        driver("post", WM_COMMAND, 1001, 0)
        wait_for("shown by Open", lambda: self.window()["visible"] == "1")
        driver("post", WM_SYSCOMMAND, SC_MINIMIZE, 0)
        wait_for("hidden after minimize", lambda: self.window()["visible"] == "0")
        driver("post", WM_TRAY_CALLBACK, 0, WM_LBUTTONUP)  # a single click means nothing
        driver("post", WM_COMMAND, 1001, 0)
        wait_for("shown by Open", lambda: self.window()["visible"] == "1")

        self.exit_tray()

class Rows(TrayTestCase):
    def test_up_to_date_with_a_running_service_and_export(self):
        set_service("running")
        self.configure()
        self.write("last_ip.txt", SERVER_IP.upper() + "\r\n")
        self.start_tray(SW_SHOWMINIMIZED)
        rows = self.refreshed()
        self.assertEqual(rows[202], "Running")
        self.assertEqual(rows[216], "Up to date")
        self.assertEqual(rows[204], SERVER_IP)
        self.assertEqual(rows[206], SERVER_IP)
        self.assertEqual(rows[208], server.url("http"))
        self.assertEqual(rows[210], "01234567...")
        self.assertEqual(rows[218], "None")
        c = self.controls()
        self.assertEqual((c[220]["visible"], c[220]["enabled"]), (True, True), "Export shown when configured")
        self.assertEqual([c[i]["text"] for i in (211, 212, 213, 220)], ["Sync now", "Config", "Refresh", "Export"])
        self.assertEqual(c[211]["rect"], (20, 294, 104, 32))
        self.assertEqual(c[216]["rect"], (168, 108, 280, 22))
        self.assertEqual(c[219]["rect"], (20, 336, 440, 36))
        self.assertEqual(self.window()["client"], "480x388")
        self.show()
        self.screenshot("up_to_date")
        self.assertEqual(self.tab_order(4), [211, 212, 213, 220, 211], "the buttons from left to right, round")

        # Export through the save dialog: the stored file, byte for byte.
        target = self.tmp / "exported.config"
        driver("click", 220)
        wait_for("the save dialog", lambda: self.dialog("Export encrypted config"))
        field = next(f for f in FILE_NAME_FIELDS if f in self.dialog("Export encrypted config"))
        driver("dialog-set", "Export encrypted config", field, win_path(target))
        driver("dialog-post", "Export encrypted config", WM_COMMAND, IDOK, 0)
        wait_for("the exported file", lambda: target.exists() and target.read_bytes())
        self.assertEqual(target.read_bytes(), (self.data / "whitelist.config").read_bytes())

        # Without a configuration file the same button warns.
        (self.data / "whitelist.config").unlink()
        driver("click", 220)
        wait_for("the save dialog", lambda: self.dialog("Export encrypted config"))
        driver("dialog-set", "Export encrypted config", field, win_path(self.tmp / "second.config"))
        driver("dialog-post", "Export encrypted config", WM_COMMAND, IDOK, 0)
        box = wait_for("the warning", lambda: self.dialog(TITLE))
        self.assertIn("No saved config found to export.", [c["text"] for c in box.values()])
        self.assertFalse((self.tmp / "second.config").exists())
        self.dismiss_dialog(TITLE)
        self.exit_tray()

    def test_out_of_sync_pending_entries_and_refresh_rereads_the_last_ip(self):
        set_service("running")
        self.configure()
        self.write("last_ip.txt", "198.51.100.99")
        self.write("pending_delete_ips.txt", "192.0.2.1\r\n \t\r\n192.0.2.2\r\n")
        self.start_tray()
        rows = self.refreshed()
        self.assertEqual(rows[216], "Out of sync - sync needed")
        self.assertEqual(rows[206], "198.51.100.99")
        self.assertEqual(rows[218], "2 old IP(s) waiting to remove")
        self.show()
        self.screenshot("out_of_sync")
        self.write("last_ip.txt", SERVER_IP)
        driver("click", 213)
        rows = wait_for("the reloaded last IP", lambda: (lambda r: r if r[206] == SERVER_IP else None)(
            self.refreshed()))
        self.assertEqual(rows[216], "Up to date")
        self.exit_tray()

    def test_at_144_dpi_the_windows_are_half_again_as_large(self):
        # Wine takes the DPI from this value when a program starts.
        key = r"HKCU\Control Panel\Desktop"
        wine("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f", check=True)
        self.addCleanup(wine, "reg", "delete", key, "/v", "LogPixels", "/f")
        self.configure()
        self.start_tray()
        wait_for("the client area of 720x582", lambda: self.window()["client"] == "720x582")
        self.refreshed()
        c = self.controls()
        self.assertEqual([c[i]["rect"] for i in (215, 216, 211, 220, 219)],
                         [(48, 162, 198, 33), (252, 162, 420, 33), (30, 441, 156, 48), (534, 441, 156, 48),
                          (30, 504, 660, 54)])
        self.show()
        self.screenshot("status_144_dpi")
        driver("post", WM_COMMAND, 212, 0)
        form = self.wait_config("Configuration")
        self.assertEqual(form["outer"], "672x546")
        c = self.config_controls()
        self.assertEqual([c[i]["rect"] for i in (301, 303)], [(30, 138, 600, 39), (366, 432, 120, 45)])
        self.assertEqual([l["rect"] for l in c[0]][0], (30, 108, 180, 27))
        self.screenshot("configuration_144_dpi")
        self.config_click(304)
        self.wait_config_closed()
        self.exit_tray()

    def test_stopped_service(self):
        set_service("stopped")
        self.configure()
        self.write("last_ip.txt", SERVER_IP)
        self.start_tray()
        rows = self.refreshed()
        self.assertEqual(rows[202], "Stopped")
        self.assertEqual(rows[216], "Service Stopped - sync inactive")
        self.show()
        self.screenshot("service_stopped")
        self.exit_tray()

    def test_a_recorded_error_is_classified(self):
        set_service("absent")
        self.configure()
        self.write("last_error.txt", "WinHttpSendRequest failed (POST body to 127.0.0.1:9): error 12029 - cannot "
                                     "connect (server down, port closed or blocked by a firewall)\n")
        self.start_tray()
        rows = self.refreshed()
        self.assertEqual(rows[202], "Not installed")
        self.assertEqual(rows[216], "Error: cannot reach server")
        self.show()
        self.screenshot("error_classified")
        self.exit_tray()


SETUP_LAYOUT = {  # id: (class, text, x, y, w, h)
    307: ("Edit", "", 20, 92, 400, 56),
    306: ("Button", "Import config", 20, 196, 110, 28),
    303: ("Button", "Save", 244, 196, 80, 30),
    304: ("Button", "Cancel", 340, 196, 80, 30),
}
SETUP_LABELS = [("Setup command", (20, 72, 400, 18)),
                ("Paste from the plugin dashboard, e.g. whitelist --token <token> --server-url <url>",
                 (20, 154, 400, 32))]
CONFIG_LAYOUT = {
    301: ("Edit", 20, 92, 400, 26),
    302: ("Edit", 20, 144, 400, 26),
    308: ("Edit", 20, 196, 400, 26),
    309: ("Edit", 20, 248, 400, 26),
    310: ("Button", 20, 288, 120, 30),
    303: ("Button", 244, 288, 80, 30),
    304: ("Button", 340, 288, 80, 30),
}
CONFIG_LABELS = [("Rule token", (20, 72, 120, 18)), ("Server URL", (20, 124, 120, 18)),
                 ("Files customer name", (20, 176, 160, 18)), ("Files token", (20, 228, 120, 18))]


class AgentRuns(TrayTestCase):
    """The tray copied into a folder of its own beside a stand-in agent under
    both of the agent's names: each start of the agent is logged with its
    exact command line, and its script decides how it ends."""

    def setUp(self):
        super().setUp()
        self.app = self.tmp / "app"
        self.app.mkdir()
        shutil.copyfile(TRAY, self.app / "tray.exe")
        for name in ("whitelist.exe", "sync.exe"):
            shutil.copyfile(STAND_IN_AGENT, self.app / name)

    def tearDown(self):
        # A held stand-in would outlive the tray.
        for name in ("whitelist.exe", "sync.exe"):
            self.release(name)
        super().tearDown()

    def start(self, show=SW_HIDE):
        return self.start_tray(show, tray=self.app / "tray.exe")

    def script(self, program, *lines):
        (self.app / f"{program}.script").write_text("".join(line + "\n" for line in lines))

    def runs(self, program):
        log = self.app / f"{program}.log"
        return [json.loads(line) for line in log.read_text().splitlines()] if log.exists() else []

    def release(self, program):
        (self.app / f"{program}.release").write_text("")

    def saved(self):
        text = decrypt_config(self.data / "whitelist.config").decode()
        return dict(line.split("=", 1) for line in text.splitlines())

    def write_config(self, **values):
        text = "".join(f"{k}={values.get(k, '')}\n" for k in ("token", "server_url", "files_name", "files_token"))
        encrypt_config(self.data / "whitelist.config", text.encode())

    def sync_line(self):
        return f'"{win_path(self.app / "whitelist.exe")}" sync'

    def test_setup_form_layout_warning_and_save(self):
        self.start()
        self.wait_config("Setup")
        c = self.config_controls()
        for i, (cls, text, *rect) in SETUP_LAYOUT.items():
            self.assertEqual((c[i]["class"], c[i]["text"], c[i]["rect"], c[i]["visible"]),
                             (cls, text, tuple(rect), True), i)
            self.assertTrue(c[i]["style"] & WS_TABSTOP, i)
        self.assertEqual([(l["text"], l["rect"]) for l in c[0]], SETUP_LABELS)
        self.assertEqual(c[307]["style"] & (ES_MULTILINE | ES_AUTOHSCROLL | WS_VSCROLL),
                         ES_MULTILINE | ES_AUTOHSCROLL | WS_VSCROLL)
        self.assertTrue(c[303]["style"] & BS_DEFPUSHBUTTON)
        self.assertEqual(self.tab_order(4), [307, 306, 303, 304, 307], "from the field, in visual order, round")

        # A command without a server URL: the warning, nothing saved, nothing run.
        self.config_set(307, "whitelist --token abc")
        self.key(VK_RETURN)  # Enter in the field presses Save
        self.close_box(TITLE, PASTE_WARNING)
        self.assertEqual(self.config_window()["title"], "Setup", "the form stays open")
        self.assertEqual(self.config_controls()[307]["text"], "whitelist --token abc", "the input stays")
        # Over-long values are refused, not cut.
        for command, warning in ((f"whitelist --token {'k' * 256} --server-url https://host",
                                  "The rule token is too long (at most 255 characters)."),
                                 (f"whitelist --token t --server-url https://{'h' * 504}",
                                  "The server URL is too long (at most 511 characters).")):
            self.config_set(307, command)
            self.key(VK_RETURN)
            self.close_box(TITLE, warning)
        self.assertFalse((self.data / "whitelist.config").exists())
        self.assertEqual(self.runs("whitelist.exe"), [])

        # Short options in capitals, URL first, a quoted token with a blank, two trailing slashes.
        self.config_set(307, 'WHITELIST -S https://host// -T "tok en"')
        self.assertEqual(self.focus(), 303, "the field's Enter moved to Save; the boxes gave the focus back")
        self.key(VK_RETURN)
        self.wait_config_closed()
        self.assertEqual(self.saved(), {"token": "tok en", "server_url": "https://host/",
                                        "files_name": "", "files_token": ""}, "one slash removed, not two")
        runs = self.runs("whitelist.exe")
        self.assertEqual([r["command_line"] for r in runs], [self.sync_line()])
        self.assertEqual(runs[0]["program_data"], win_path(self.base), "the child shares the data folder")
        self.assertEqual(self.runs("sync.exe"), [])
        self.exit_tray()

    def test_configuration_form_prefilled_save_and_its_messages(self):
        self.write_config(token="tok", server_url="http://h.example", files_name="BIRCH LLC", files_token="ft")
        self.start()
        self.refreshed()
        driver("post", WM_COMMAND, 212, 0)
        first = self.wait_config("Configuration")
        self.assertEqual((first["x"], first["y"], first["outer"]), ("0", "0", "448x364"))
        c = self.config_controls()
        for i, (cls, *rect) in CONFIG_LAYOUT.items():
            self.assertEqual((c[i]["class"], c[i]["rect"]), (cls, tuple(rect)), i)
        self.assertEqual([(l["text"], l["rect"]) for l in c[0]], CONFIG_LABELS)
        self.assertEqual([c[i]["text"] for i in (301, 302, 308, 309, 310, 303, 304)],
                         ["tok", "http://h.example", "BIRCH LLC", "ft", "Download files", "Save", "Cancel"])
        self.assertEqual([bool(c[i]["style"] & ES_PASSWORD) for i in (301, 302, 308, 309)],
                         [True, False, False, True], "both tokens are masked")
        self.screenshot("configuration_form")
        self.assertEqual(self.tab_order(7), [301, 302, 308, 309, 310, 303, 304, 301])

        # Asking again, even for the other form, brings back the same window.
        self.assertEqual(driver("send", WM_OPEN_SETUP, 0, 0)[0], 0)
        self.assertEqual(driver("send", WM_COMMAND, 1003, 0)[0], 0)
        self.assertEqual(self.config_window()["title"], "Configuration")
        # Import exists only in the Setup form: nothing opens (a dialog would hold the send).
        self.assertEqual(driver("config-send", WM_COMMAND, 306, 0)[0], 0)
        self.assertIsNone(self.dialog("Import encrypted config"))

        self.config_set(302, "")
        self.config_click(303)
        self.close_box(TITLE, "Please enter both rule token and server URL.")
        self.config_set(302, "/")
        self.config_click(303)
        self.close_box(TITLE, "Rule token and server URL are required.")
        self.assertEqual(self.runs("whitelist.exe"), [])

        # The sync fails after the save: its reason is shown, the values stay saved and in the form.
        self.script("whitelist.exe", "last-error Error: unauthorized (401) - check the token", "exit 1")
        self.config_set(302, "http://other.example//")
        self.config_click(303)
        self.close_box(TITLE, "Error: unauthorized (401) - check the token")
        self.assertEqual(self.saved()["server_url"], "http://other.example/", "one slash removed")
        self.assertEqual(self.saved()["files_name"], "BIRCH LLC")
        self.assertEqual(self.config_controls()[302]["text"], "http://other.example//")
        self.assertEqual(len(self.runs("whitelist.exe")), 1)

        # A slow sync: the window keeps answering, the form is disabled until it ends.
        self.config_set(301, "k" * 256)
        self.config_click(303)
        self.close_box(TITLE, "The rule token is too long (at most 255 characters).")
        self.assertEqual(self.saved()["token"], "tok", "nothing saved")
        self.config_set(301, "tok")
        self.script("whitelist.exe", "hold", "exit 0")
        self.config_click(303)
        wait_for("the second sync to start", lambda: len(self.runs("whitelist.exe")) == 2)
        trips = driver("ping", 3)[1].split()
        self.assertEqual(len(trips), 3)
        self.assertNotIn("timeout", trips, "the windows answer WM_NULL during the save")
        c = self.config_controls()
        self.assertEqual([c[i]["enabled"] for i in (301, 303, 304, 310)], [False] * 4, "the form is disabled")
        driver("config-post", WM_COMMAND, IDCANCEL, 0)  # Escape
        driver("config-post", WM_CLOSE, 0, 0)
        self.assertEqual(driver("config-send", WM_NULL, 0, 0)[0], 0, "answers while the sync runs")
        self.assertIsNotNone(self.config_window(), "stays open until the sync ends")
        self.release("whitelist.exe")
        self.wait_config_closed()
        self.assertEqual([r["command_line"] for r in self.runs("whitelist.exe")], [self.sync_line()] * 2)

        # Escape closes the form as its close box does.
        driver("post", WM_COMMAND, 212, 0)
        self.wait_config("Configuration")
        wait_for("the focus in the first field", lambda: self.focus() == 301)
        self.key(VK_ESCAPE)
        self.wait_config_closed()
        self.exit_tray()

    def test_download_files(self):
        self.write_config(token="tok", server_url="http://h.example")
        self.start()
        driver("post", WM_COMMAND, 212, 0)
        self.wait_config("Configuration")
        self.config_click(310)
        self.close_box(TITLE, "Please enter files customer name and files token.")
        self.assertEqual(self.runs("sync.exe"), [])

        # Values that need quoting reach sync.exe as typed, unsaved; no server URL is passed.
        name, token = 'BIRCH "LLC" \\', "7D3A 91C4\\"
        self.config_set(308, name)
        self.config_set(309, token)
        self.script("sync.exe", "hold", "exit 0")
        self.config_click(310)
        wait_for("sync.exe to start", lambda: self.runs("sync.exe"))
        button = self.config_controls()[310]
        self.assertEqual((button["text"], button["enabled"]), ("Downloading...", False))
        self.assertEqual(driver("config-send", WM_COMMAND, 310, 0)[0], 0)  # busy: nothing more starts
        self.release("sync.exe")
        self.close_box(TITLE, "Files downloaded successfully.")
        button = self.config_controls()[310]
        self.assertEqual((button["text"], button["enabled"]), ("Download files", True))
        runs = self.runs("sync.exe")
        self.assertEqual([r["argv"][1:] for r in runs], [["files", "--name", name, "--token", token]])
        self.assertEqual(self.saved()["files_name"], "", "the fields are not saved")

        self.script("sync.exe", "exit 1")
        self.config_click(310)
        self.close_box("File download failed", "File download failed. Check files customer name and token.")

        # Closing the window while a download runs: no box later, and a new window waits for it.
        (self.app / "sync.exe.release").unlink()
        self.script("sync.exe", "hold", "exit 0")
        self.config_click(310)
        wait_for("the third download", lambda: len(self.runs("sync.exe")) == 3)
        self.config_click(304)
        self.wait_config_closed()
        driver("post", WM_COMMAND, 212, 0)
        self.wait_config("Configuration")
        self.config_set(308, "n")
        self.config_set(309, "t")
        self.assertEqual(driver("config-send", WM_COMMAND, 310, 0)[0], 0)
        self.assertEqual(self.config_controls()[310]["text"], "Download files", "the running download holds")
        self.release("sync.exe")
        self.config_click(304)
        self.wait_config_closed()
        self.assertIsNone(self.dialog(TITLE))
        self.assertEqual(len(self.runs("sync.exe")), 3)
        self.exit_tray()

    def test_sync_now_success_failure_and_one_child_at_a_time(self):
        set_service("running")
        self.configure()
        self.write("last_ip.txt", "198.51.100.99")
        self.start()
        self.assertEqual(self.refreshed()[206], "198.51.100.99")
        self.show()

        # A second "Sync now" while one runs starts no second child.
        self.script("whitelist.exe", "hold", "exit 0")
        driver("click", 211)
        wait_for("whitelist.exe to start", lambda: self.runs("whitelist.exe"))
        rows = self.controls()
        self.assertEqual((rows[211]["enabled"], rows[204]["text"], rows[216]["text"]),
                         (False, "Syncing...", "Syncing with server..."))
        driver("post", WM_COMMAND, 1002, 0)
        self.write("last_ip.txt", SERVER_IP)  # what the agent records
        self.release("whitelist.exe")
        rows = wait_for("the reloaded last IP", lambda: (lambda r: r if r[206] == SERVER_IP else None)(
            self.refreshed()))
        self.assertEqual(rows[216], "Up to date")
        self.assertTrue(self.controls()[211]["enabled"])
        self.assertIsNone(self.dialog("Whitelist sync failed"), "no message on success")
        self.assertEqual([r["command_line"] for r in self.runs("whitelist.exe")], [self.sync_line()])

        # Failure with the window shown: a message box with the agent's last error.
        self.script("whitelist.exe", "last-error Error: forbidden (403)", "exit 1")
        driver("click", 211)
        self.box("Whitelist sync failed", "Error: forbidden (403)")
        self.screenshot("sync_failed_box")
        self.dismiss_dialog("Whitelist sync failed")

        # Hidden: a balloon instead, no box.
        (self.data / "last_error.txt").unlink()
        self.script("whitelist.exe", "exit 1")
        driver("post", WM_CLOSE, 0, 0)
        wait_for("hidden", lambda: self.window()["visible"] == "0")
        driver("post", WM_COMMAND, 1002, 0)
        wait_for("the third run", lambda: len(self.runs("whitelist.exe")) == 3)
        wait_for("Sync now enabled again", lambda: self.controls()[211]["enabled"])
        wait_for("the balloon", lambda: driver("balloons")[1].strip())
        self.screenshot("sync_failed_balloon")
        self.assertIsNone(self.dialog("Whitelist sync failed"))
        self.exit_tray()

    def test_whitelist_missing_and_import(self):
        (self.app / "whitelist.exe").unlink()
        self.start()
        self.wait_config("Setup")
        self.config_set(307, "whitelist --token t --server-url http://h.example")
        self.config_click(303)
        self.close_box(TITLE, "Could not find whitelist.exe in the install folder.")
        self.assertEqual(self.config_window()["title"], "Setup", "the form stays open")
        self.assertEqual(self.saved()["token"], "t", "the configuration stays saved")
        shutil.copyfile(STAND_IN_AGENT, self.app / "whitelist.exe")

        chosen = self.tmp / "chosen.config"
        encrypt_config(chosen, b"token=imported\nserver_url=http://i.example\n")
        # A folder in place of the configuration file: the import fails and says so.
        (self.data / "whitelist.config").unlink()
        (self.data / "whitelist.config").mkdir()
        self.import_file(chosen)
        self.close_box(TITLE, "Could not import config file.")
        (self.data / "whitelist.config").rmdir()

        self.import_file(chosen)
        self.wait_config_closed()
        self.assertEqual((self.data / "whitelist.config").read_bytes(), chosen.read_bytes())
        wait_for("the sync after the import", lambda: self.runs("whitelist.exe"))
        self.assertEqual([r["command_line"] for r in self.runs("whitelist.exe")], [self.sync_line()])
        self.exit_tray()

    def import_file(self, path):
        self.config_click(306)
        dialog = wait_for("the open dialog", lambda: self.dialog("Import encrypted config"))
        field = next(f for f in FILE_NAME_FIELDS if f in dialog)
        driver("dialog-set", "Import encrypted config", field, win_path(path))
        driver("dialog-post", "Import encrypted config", WM_COMMAND, IDOK, 0)
        wait_for("the open dialog to close", lambda: self.dialog("Import encrypted config") is None)


class RealAgent(TrayTestCase):
    """The installed layout: tray.exe beside the real whitelist.exe, against
    the loopback server."""

    def setUp(self):
        super().setUp()
        server.clear_scripts()
        server.clear_requests()

    def additions(self):
        return [json.loads(r["body"])["ip"] for r in server.get_requests()
                if r["path"] == "/api/public/whitelist" and r["method"] == "POST"]

    def test_first_start_paste_save_then_up_to_date_and_a_refused_sync(self):
        set_service("running")
        self.start_tray(SW_HIDE)
        self.wait_config("Setup")
        self.config_set(307, f"whitelist --token {TOKEN} --server-url {server.url('http')}/")
        self.config_click(303)
        self.wait_config_closed()
        self.assertEqual(self.additions(), [SERVER_IP], "the server received the addition")
        self.assertEqual(decrypt_config(self.data / "whitelist.config").decode(),
                         f"token={TOKEN}\nserver_url={server.url('http')}\nfiles_name=\nfiles_token=\n")
        self.show()
        rows = wait_for("Up to date", lambda: (lambda r: r if r[216] == "Up to date" else None)(self.refreshed()))
        self.assertEqual(rows[206], SERVER_IP)
        self.screenshot("set_up_and_up_to_date")

        # The server refuses: the agent's own reason, as it left it in last_error.txt.
        server.set_script("POST", "/api/public/whitelist",
                          [{"status": 401, "json": {"ok": False, "error": "Unauthorized"}}])
        driver("click", 211)
        texts = box_texts(wait_for("the failure box", lambda: self.dialog("Whitelist sync failed")))
        reason = (self.data / "last_error.txt").read_text()
        self.assertTrue(reason.startswith("Unauthorized"), reason)
        self.assertIn(reason.replace("\n", " ").replace("\r", " ").strip(), [t.strip() for t in texts])
        self.dismiss_dialog("Whitelist sync failed")
        self.exit_tray()


if __name__ == "__main__":
    unittest.main()
