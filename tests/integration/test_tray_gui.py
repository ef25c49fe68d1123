"""The real tray.exe under Xvfb and Wine, worked through Win32 messages by
tray_driver.exe: start-up and the single instance, the rows after a refresh in
the states that matter, the buttons, export and exit. Screenshots of the
status window are kept under the build tree (TRAY_SCREENSHOT_DIR).

The tray runs in a Wine virtual desktop of its own with a taskbar, so that the
notification icon has a shell to live in. Its single-instance mutex is
machine-wide inside the Wine prefix: each test ends its tray before the next
one starts, and CTest runs this suite alone with the service control manager
and the echo port (RESOURCE_LOCK)."""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from harness import run, wait_until, win_path

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "server"))
from fake_server import FakeServer  # noqa: E402

BIN_DIR = pathlib.Path(os.environ["WHITELIST_BIN_DIR"])
WINE = os.environ["WHITELIST_WINE"]
DRIVER = pathlib.Path(os.environ["WHITELIST_TRAY_DRIVER"])
STAND_IN_SERVICE = pathlib.Path(os.environ["WHITELIST_STAND_IN_SERVICE"])
SHOT_DIR = pathlib.Path(os.environ["TRAY_SCREENSHOT_DIR"])
TRAY = BIN_DIR / "tray.exe"
DATA_FOLDER_NAME = "QOR Whitelist IP Updater"
TITLE = "QOR Whitelist IP Updater"
SERVICE_NAME = "QORWhitelistIPUpdater"
SERVER_IP = "198.51.100.20"
TOKEN = "0123456789abcdefXYZ"
WAIT = 90  # seconds: a bound for hangs, not a measured expectation

WM_COMMAND, WM_CLOSE, WM_SYSCOMMAND = 0x111, 0x10, 0x112
SC_MINIMIZE = 0xF020
WM_TRAY_CALLBACK, WM_LBUTTONDBLCLK, WM_LBUTTONUP = 0x464, 0x203, 0x202
IDOK = 1
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
    done = wine(DRIVER, "--desktop", desktop, *args)
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
    explorer = subprocess.Popen([WINE, "explorer", f"/desktop={desktop},800x600", win_path(DRIVER), "--desktop",
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
        if len(fields) >= 9 and fields[0].lstrip("-").isdigit():
            controls[int(fields[0])] = {
                "class": fields[1], "visible": fields[2] == "1", "enabled": fields[3] == "1",
                "rect": tuple(int(v) for v in fields[4:8]), "text": "\t".join(fields[8:])}
    return controls


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
            self.dismiss_dialog(TITLE)
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
    def start_tray(self, show=SW_SHOWNORMAL):
        self.tray = subprocess.Popen(
            [WINE, DRIVER, "--desktop", desktop, "run", "--show", str(show), f"ProgramData={win_path(self.base)}",
             "--", win_path(TRAY)], env=wine_env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
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

    def dismiss_dialog(self, title):
        if self.dialog(title) is not None:
            driver("dialog-post", title, WM_COMMAND, IDOK, 0)
            wait_for("the dialog to close", lambda: self.dialog(title) is None)

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
        self.assertEqual(w["client"], "480x388")
        # Nothing configured: the setup hand-over opens by itself.
        box = wait_for("the setup message", lambda: self.dialog(TITLE))
        self.assertTrue(any(c["text"].startswith("Setup from the tray arrives with a later version.")
                            for c in box.values()), box)
        rows = self.refreshed()
        self.assertEqual(rows[216], "Not configured")
        self.assertEqual(rows[208], "(not configured)")
        self.assertEqual(rows[210], "(not configured)")
        self.assertEqual(rows[206], "(none)")
        self.assertEqual(rows[204], "(unavailable)")
        self.assertEqual(rows[218], "None")
        self.assertEqual(self.window()["visible"], "0", "the status window stays hidden")
        self.screenshot("not_configured_setup_message")
        self.dismiss_dialog(TITLE)
        export = self.controls()[220]
        self.assertEqual((export["visible"], export["enabled"]), (False, False))
        code, out = driver("icon")
        self.assertEqual((code, out.strip()), (0, "1"), "the notification icon is registered")

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

    def test_sync_now_and_config_say_they_arrive_later(self):
        self.configure()
        self.start_tray(SW_HIDE)
        self.refreshed()
        for command, words in [(1002, "Sync now arrives with a later version"),
                               (1003, "The configuration window arrives with a later version")]:
            with self.subTest(command=command):
                driver("post", WM_COMMAND, command, 0)
                box = wait_for("the message", lambda: self.dialog(TITLE))
                self.assertTrue(any(c["text"].startswith(words) for c in box.values()), box)
                self.assertEqual(self.window()["visible"], "0", "the window stays hidden")
                self.dismiss_dialog(TITLE)
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


if __name__ == "__main__":
    unittest.main()
