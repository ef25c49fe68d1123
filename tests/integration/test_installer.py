"""The x64 installer under Wine: silent install, reinstall and uninstall,
checked through the service control manager, the registry and the files.
The 32-bit installer cannot run here; its contents are listed instead."""
import os
import pathlib
import re
import subprocess
import time
import unittest

WINE = os.environ["WHITELIST_WINE"]
PREFIX = pathlib.Path(os.environ["WHITELIST_WINEPREFIX"])
INSTALLER = pathlib.Path(os.environ["WHITELIST_INSTALLER"])
INSTALLER32 = os.environ["WHITELIST_INSTALLER32"]
SERVICE = "QORWhitelistIPUpdater"
INSTALL_DIR = PREFIX / "drive_c" / "Program Files" / "QOR Whitelist IP Updater"
SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\QORWhitelistIPUpdater"
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
RUN_VALUE = "QOR Whitelist IP Updater Tray"
# Wine gives services C:\users\Public as ProgramData, programs C:\ProgramData.
DATA_FOLDERS = [PREFIX / "drive_c" / "ProgramData" / "QOR Whitelist IP Updater",
                PREFIX / "drive_c" / "users" / "Public" / "QOR Whitelist IP Updater"]
PROGRAMS = ["sync.exe", "tray.exe", "whitelist.exe"]
CUSTOM_DIR_WINE = r"C:\QORCustom"
CUSTOM_DIR = PREFIX / "drive_c" / "QORCustom"


def wine(*args, timeout=120):
    done = subprocess.run([WINE, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=timeout)
    return done.returncode, done.stdout.decode("latin-1").replace("\r", "")


def service_state():
    """The STATE line's name, or None when the service does not exist."""
    code, out = wine("sc", "query", SERVICE)
    m = re.search(r"STATE\s*:\s*\d+\s+(\w+)", out)
    return m.group(1) if m else None


def wait_for(predicate, what, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.5)
    raise AssertionError(f"timed out waiting for {what}")


def manifest_of(exe):
    """The application manifest in a program's resources."""
    return subprocess.run(["7z", "x", "-so", str(exe), ".rsrc/MANIFEST/1"], capture_output=True,
                          check=True).stdout.decode()


def run_key_value():
    code, out = wine("reg", "query", RUN_KEY, "/v", RUN_VALUE)
    return out if code == 0 and RUN_VALUE in out else None


class Installer(unittest.TestCase):
    def tearDown(self):
        # Leave the prefix without the service whatever happened.
        if service_state() is not None:
            wine("net", "stop", SERVICE)
            wine("sc", "delete", SERVICE)

    def install(self):
        code, _ = wine(str(INSTALLER), "/S", timeout=300)
        self.assertEqual(code, 0, "silent install")

    def test_install_reinstall_uninstall(self):
        self.install()
        self.assertEqual(sorted(p.name for p in INSTALL_DIR.iterdir()),
                         sorted(PROGRAMS + ["files", "uninstall.exe"]))
        wait_for(lambda: service_state() == "RUNNING", "the service to run")
        self.assertIn("tray.exe", run_key_value() or "")
        # Wine's sc has no "qc": the registration is read from the registry.
        _, key = wine("reg", "query", SERVICE_KEY)
        self.assertRegex(key, r"Start\s+REG_DWORD\s+0x2\n")
        self.assertRegex(key, r'ImagePath\s+REG_SZ\s+"C:\\Program Files\\QOR Whitelist IP Updater\\whitelist\.exe"\n')
        self.assertRegex(key, r"Description\s+REG_SZ\s+Keeps the proxy service's IP allowlist")

        for folder in DATA_FOLDERS:
            folder.mkdir(parents=True, exist_ok=True)
            (folder / "last_ip.txt").write_bytes(b"203.0.113.7")

        self.install()  # an upgrade over itself
        wait_for(lambda: service_state() == "RUNNING", "the service to run again")
        for folder in DATA_FOLDERS:
            self.assertEqual((folder / "last_ip.txt").read_bytes(), b"203.0.113.7", "reinstall keeps the data")

        code, _ = wine(str(INSTALL_DIR / "uninstall.exe"), "/S")
        self.assertEqual(code, 0)
        # The uninstaller runs on from a copy of itself.
        wait_for(lambda: service_state() is None and not INSTALL_DIR.exists(), "the uninstall to finish")
        self.assertIsNone(run_key_value())
        for folder in DATA_FOLDERS:
            self.assertEqual((folder / "last_ip.txt").read_bytes(), b"203.0.113.7", "uninstall keeps the data")

        # A folder outside Program Files: the installer's folder-securing step
        # must succeed there too, or it stops the install.
        code, _ = wine(str(INSTALLER), "/S", "/D=" + CUSTOM_DIR_WINE, timeout=300)
        self.assertEqual(code, 0, "silent install into a custom folder")
        self.assertTrue((CUSTOM_DIR / "files").is_dir())
        wait_for(lambda: service_state() == "RUNNING", "the service to run from the custom folder")
        wine(str(CUSTOM_DIR / "uninstall.exe"), "/S")
        wait_for(lambda: service_state() is None and not CUSTOM_DIR.exists(), "the custom uninstall to finish")

    def test_32_bit_installer_holds_32_bit_programs(self):
        listing = subprocess.run(["7z", "l", INSTALLER32], capture_output=True, text=True, check=True).stdout
        for name in PROGRAMS:
            self.assertRegex(listing, rf"\s{re.escape(name)}\n")
        out = pathlib.Path(os.environ.get("TMPDIR", "/tmp")) / f"wl-inst32-{os.getpid()}"
        subprocess.run(["7z", "x", "-y", f"-o{out}", INSTALLER32] + PROGRAMS, capture_output=True, check=True)
        for name in PROGRAMS:
            header = subprocess.run(["i686-w64-mingw32-objdump", "-f", str(out / name)], capture_output=True,
                                    text=True, check=True).stdout
            self.assertIn("pei-i386", header, name)
            # Without a manifest, 32-bit Windows virtualizes a denied write.
            for exe in (out / name, INSTALLER.parent.parent / "bin" / name):
                manifest = manifest_of(exe)
                self.assertIn('requestedExecutionLevel level="asInvoker"', manifest, exe)
                self.assertEqual(manifest.count("<supportedOS "), 4, exe)
                self.assertIn("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", manifest, exe)  # Windows 10 and 11
        subprocess.run(["rm", "-rf", str(out)], check=True)


if __name__ == "__main__":
    unittest.main()
