"""The x64 NSIS installer and Windows Installer package, each through one
chain of silent installs and an uninstall, checked through the service
manager, the registry, the data folder and the server; the 32-bit packages
(which cannot run here) by their contents."""
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import FakeServer, allowlist_wire, decrypt_config, run, wait_until, win_path, wine_tool

PREFIX = pathlib.Path(os.environ["WHITELIST_WINEPREFIX"])
INSTALLER = pathlib.Path(os.environ["WHITELIST_INSTALLER"])
INSTALLER32 = os.environ["WHITELIST_INSTALLER32"]
MSI = pathlib.Path(os.environ["WHITELIST_MSI"])
UPGRADE_MSI = pathlib.Path(os.environ["WHITELIST_UPGRADE_MSI"])
MSI32 = os.environ["WHITELIST_MSI32"]
SERVICE = "QORWhitelistIPUpdater"
INSTALL_DIR = PREFIX / "drive_c" / "Program Files" / "QOR Whitelist IP Updater"
SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\QORWhitelistIPUpdater"
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
RUN_VALUE = "QOR Whitelist IP Updater Tray"
# Wine gives services C:\users\Public as ProgramData, programs C:\ProgramData:
# the installers run with the service's, as on Windows, where both are one.
PUBLIC = "C:\\users\\Public"
DATA = PREFIX / "drive_c" / "users" / "Public" / "QOR Whitelist IP Updater"
PROGRAMS = ["sync.exe", "tray.exe", "whitelist.exe"]
IP = "198.51.100.77"
CUSTOM_DIR = PREFIX / "drive_c" / "QORCustom"


def service_state():
    """The STATE line's name, or None when the service does not exist."""
    code, out = wine_tool("sc", "query", SERVICE)
    m = re.search(r"STATE\s*:\s*\d+\s+(\w+)", out)
    return m.group(1) if m else None


def reg(key, *args):
    code, out = wine_tool("reg", "query", key, *args)
    return out if code == 0 else ""


def settings():
    """(token, server URL) of the saved configuration."""
    text = decrypt_config(DATA / "whitelist.config").decode()
    return (re.search(r"^token=(.*)$", text, re.M).group(1),
            re.search(r"^server_url=(.*)$", text, re.M).group(1))


def manifest_of(exe):
    """The application manifest in a program's resources."""
    return subprocess.run(["7z", "x", "-so", str(exe), ".rsrc/MANIFEST/1"], capture_output=True,
                          check=True).stdout.decode()


def service_starts():
    """How often the service has registered at its start."""
    log = DATA / "service.log"
    return log.read_bytes().count(b"Startup whitelist sync OK") if log.exists() else 0


def files_holding(secret, since):
    """Files under C:\\ written since `since` holding the secret in UTF-8 or UTF-16."""
    needles = [secret.encode(), secret.encode("utf-16-le")]
    found = []
    for path in (PREFIX / "drive_c").rglob("*"):
        try:
            if path.is_file() and path.stat().st_mtime >= since:
                data = path.read_bytes()
                if any(n in data for n in needles):
                    found.append(str(path))
        except OSError:
            continue
    return found


class Installers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = FakeServer(http_port=0, ip=IP).start()
        cls.url = cls.server.url("http")

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.remove_everything()
        self.server.set_allowlist({})
        self.started = time.time() - 2

    def tearDown(self):
        self.remove_everything()

    def remove_everything(self):
        if service_state() is not None:
            wine_tool("net", "stop", SERVICE)
            wine_tool("sc", "delete", SERVICE)
        for package in (MSI, UPGRADE_MSI):
            wine_tool("msiexec", "/x", win_path(package), "/qn", timeout=300)
        shutil.rmtree(INSTALL_DIR, ignore_errors=True)
        shutil.rmtree(CUSTOM_DIR, ignore_errors=True)
        shutil.rmtree(DATA, ignore_errors=True)

    def run_installer(self, program, *args):
        return run(program, args, PUBLIC, timeout=300).code

    def msiexec(self, *args):
        return self.run_installer(PREFIX / "drive_c" / "windows" / "system32" / "msiexec.exe", *args)

    def assertInstalledAndRunning(self, token, image_path):
        self.assertEqual(sorted(p.name for p in INSTALL_DIR.iterdir() if p.suffix == ".exe" and
                                p.name != "uninstall.exe"), PROGRAMS)
        wait_until(lambda: service_state() == "RUNNING", "the service to run")
        key = reg(SERVICE_KEY)
        self.assertRegex(key, r"Start\s+REG_DWORD\s+0x2\n")
        self.assertRegex(key, r"ImagePath\s+REG_SZ\s+" + re.escape(image_path) + "\n")
        self.assertRegex(key, r"Description\s+REG_SZ\s+Keeps the proxy service's IP allowlist")
        self.assertIn(r'"C:\Program Files\QOR Whitelist IP Updater\tray.exe"', reg(RUN_KEY, "/v", RUN_VALUE))
        self.assertTrue((INSTALL_DIR / "files").is_dir(), "the agent secured the install folder's files")
        self.assertEqual(settings(), (token, self.url))
        wait_until(lambda: self.server.get_allowlist() == {token: [IP]}, "the address on the allowlist")

    def assertUninstalledKeepingData(self, token):
        # The NSIS uninstaller runs on from a copy of itself.
        wait_until(lambda: service_state() is None and not INSTALL_DIR.exists(), "the uninstall to finish")
        self.assertNotIn(RUN_VALUE, reg(RUN_KEY))
        self.assertNotIn("QOR Whitelist IP Updater", reg(UNINSTALL_KEY, "/s"))
        self.assertEqual(settings(), (token, self.url), "uninstall keeps the settings")

    def assertTokenNowhere(self, token):
        self.assertEqual(files_holding(token, self.started), [])
        self.assertNotIn(token, reg(UNINSTALL_KEY, "/s"))

    def test_nsis_configured_install_failed_reconfiguration_uninstall(self):
        token = "nsis-token-4c1f9e"
        code = self.run_installer(INSTALLER, "/S", f"/TOKEN={token}", f"/SERVER_URL={self.url}/")
        self.assertEqual(code, 0, "silent configured install")
        self.assertInstalledAndRunning(token, r'"C:\Program Files\QOR Whitelist IP Updater\whitelist.exe"')
        self.assertTrue((INSTALL_DIR / "uninstall.exe").exists())
        self.assertTokenNowhere(token)

        # A token the agent refuses fails the install and keeps the settings;
        # the service runs on with them.
        code = self.run_installer(INSTALLER, "/S", "/TOKEN=" + "x" * 300, f"/SERVER_URL={self.url}")
        self.assertEqual(code, 2, "an over-long token fails the install")
        self.assertEqual(settings(), (token, self.url))
        wait_until(lambda: service_state() == "RUNNING", "the service to run again")
        # So does an upgrade whose folder-securing step fails ("files" is no folder).
        (INSTALL_DIR / "files").rmdir()
        (INSTALL_DIR / "files").write_bytes(b"")
        self.assertEqual(self.run_installer(INSTALLER, "/S"), 2)
        wait_until(lambda: service_state() == "RUNNING", "the service to run after the failed upgrade")
        (INSTALL_DIR / "files").unlink()

        code = self.run_installer(INSTALL_DIR / "uninstall.exe", "/S")
        self.assertEqual(code, 0)
        self.assertUninstalledKeepingData(token)

        # A folder outside Program Files: the installer's folder-securing step
        # must succeed there too, or it stops the install.
        code = self.run_installer(INSTALLER, "/S", "/D=C:\\QORCustom")
        self.assertEqual(code, 0, "silent install into a custom folder")
        self.assertTrue((CUSTOM_DIR / "files").is_dir())
        wait_until(lambda: service_state() == "RUNNING", "the service to run from the custom folder")
        self.assertEqual(self.run_installer(CUSTOM_DIR / "uninstall.exe", "/S"), 0)
        wait_until(lambda: service_state() is None and not CUSTOM_DIR.exists(), "the custom uninstall to finish")

    def test_msi_refused_install_configured_install_rotation_upgrade_uninstall(self):
        token, new_token = "msi-token-7d20b3", "msi-token-rotated-52ae01"
        # A token the agent refuses fails the install, which is rolled back.
        code = self.msiexec("/i", win_path(MSI), "/qn", "TOKEN=" + "x" * 300, f"SERVER_URL={self.url}")
        self.assertNotEqual(code, 0, "an over-long token fails the install")
        self.assertIsNone(service_state())
        self.assertFalse((INSTALL_DIR / "whitelist.exe").exists())
        self.assertFalse((DATA / "whitelist.config").exists())

        log = pathlib.Path(tempfile.mkdtemp(prefix="wl-msi-")) / "install.log"
        try:
            code = self.msiexec("/i", win_path(MSI), "/qn", f"TOKEN={token}", f"SERVER_URL={self.url}",
                                "/l*v", win_path(log))
            self.assertEqual(code, 0, "silent configured install")
            # Windows Installer writes the service's path unquoted under Wine.
            self.assertInstalledAndRunning(token, r"C:\Program Files\QOR Whitelist IP Updater\whitelist.exe")
            text = log.read_bytes().decode("latin-1")
            self.assertIn("Configure", text, "the log holds the actions")
            # Wine's closing list of properties ignores MsiHiddenProperties
            # (Windows writes asterisks there); nothing else may show it.
            self.assertEqual([line for line in text.splitlines() if token in line],
                             [f"Property(S): TOKEN = {token}"])
            self.assertTokenNowhere(token)
        finally:
            shutil.rmtree(log.parent, ignore_errors=True)

        # The same package again with a new token: the service restarts with it.
        self.server.set_allowlist({})
        self.server.clear_requests()
        code = self.msiexec("/i", win_path(MSI), "/qn", f"TOKEN={new_token}", f"SERVER_URL={self.url}")
        self.assertEqual(code, 0, "token rotation")
        self.assertEqual(settings(), (new_token, self.url))
        wait_until(lambda: service_starts() == 2, "the service to start again")
        wait_until(lambda: allowlist_wire(self.server) == [f"POST {IP} {new_token}"] * 2,
                   "the agent's and the restarted service's registration")
        self.assertTokenNowhere(new_token)

        # A newer version replaces this one and keeps the settings.
        self.server.set_allowlist({})
        code = self.msiexec("/i", win_path(UPGRADE_MSI), "/qn")
        self.assertEqual(code, 0, "major upgrade")
        products = reg(UNINSTALL_KEY, "/s")
        self.assertEqual(products.count("DisplayName    REG_SZ    QOR Whitelist IP Updater"), 1, products)
        self.assertRegex(products, r"DisplayVersion\s+REG_SZ\s+" + re.escape(UPGRADE_MSI.name.split("-")[-2]) + "\n")
        self.assertInstalledAndRunning(new_token, r"C:\Program Files\QOR Whitelist IP Updater\whitelist.exe")

        code = self.msiexec("/x", win_path(UPGRADE_MSI), "/qn")
        self.assertEqual(code, 0)
        self.assertUninstalledKeepingData(new_token)

    def test_32_bit_packages_hold_32_bit_programs(self):
        out = pathlib.Path(tempfile.mkdtemp(prefix="wl-inst32-"))
        try:
            listing = subprocess.run(["7z", "l", INSTALLER32], capture_output=True, text=True, check=True).stdout
            for name in PROGRAMS:
                self.assertRegex(listing, rf"\s{re.escape(name)}\n")
            subprocess.run(["7z", "x", "-y", f"-o{out / 'nsis'}", INSTALLER32] + PROGRAMS,
                           capture_output=True, check=True)
            subprocess.run(["msiextract", "-C", str(out / "msi"), MSI32], capture_output=True, check=True)
            msi_programs = sorted((out / "msi").rglob("*.exe"))
            self.assertEqual(sorted(p.name for p in msi_programs), PROGRAMS)
            self.assertIn("Program Files/QOR Whitelist IP Updater", str(msi_programs[0]))
            for program in [out / "nsis" / name for name in PROGRAMS] + msi_programs:
                header = subprocess.run(["i686-w64-mingw32-objdump", "-f", str(program)], capture_output=True,
                                        text=True, check=True).stdout
                self.assertIn("pei-i386", header, program)
                # Without a manifest, 32-bit Windows virtualizes a denied write.
                for exe in (program, INSTALLER.parent.parent / "bin" / program.name):
                    manifest = manifest_of(exe)
                    self.assertIn('requestedExecutionLevel level="asInvoker"', manifest, exe)
                    self.assertEqual(manifest.count("<supportedOS "), 4, exe)
                    self.assertIn("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", manifest, exe)  # Windows 10 and 11
        finally:
            shutil.rmtree(out, ignore_errors=True)

        def table(name):
            text = subprocess.run(["msiinfo", "export", MSI32, name], capture_output=True, text=True,
                                  check=True).stdout
            return [line.split("\t") for line in text.splitlines()[3:]]

        # The token stays out of the log: a hidden property, and the action
        # that passes it on hides its command line (0x2000); it reaches a
        # managed install's elevated part (secure). The actions that change
        # the machine run deferred (0x400) as LocalSystem (0x800).
        properties = dict(row[:2] for row in table("Property"))
        for listed in ("MsiHiddenProperties", "SecureCustomProperties"):
            self.assertLessEqual({"TOKEN", "SERVER_URL"}, set(properties[listed].split(";")), listed)
        actions = {row[0]: (int(row[1]), row[3]) for row in table("CustomAction")}
        for action, hidden in [("Configure", True), ("SecureFolders", False), ("ServiceRecovery", False)]:
            kind, command = actions[action]
            self.assertEqual(kind & 0xC00, 0xC00, action)
            self.assertEqual(bool(kind & 0x2000), hidden, action)
        self.assertIn("--token \"[TOKEN]\"", actions["Configure"][1])
        # 32-bit components, in the 32-bit Program Files.
        self.assertTrue(all(int(row[3]) & 256 == 0 for row in table("Component")))
        sequence = {row[0]: int(row[2]) for row in table("InstallExecuteSequence")}
        self.assertLess(sequence["InstallValidate"], sequence["RemoveExistingProducts"])
        self.assertLess(sequence["RemoveExistingProducts"], sequence["InstallInitialize"])
        self.assertLess(sequence["InstallFiles"], sequence["SecureFolders"])
        self.assertLess(sequence["SecureFolders"], sequence["Configure"])
        self.assertLess(sequence["Configure"], sequence["StartServices"])


if __name__ == "__main__":
    unittest.main()
