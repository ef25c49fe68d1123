"""The x64 installers through one chain of silent installs and uninstalls under Wine; the 32-bit packages,
which cannot run here, by their contents."""
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import FakeServer, allowlist_wire, decrypt_config, run, wait_until, win_path, wine_tool
from service_harness import PREFIX, PUBLIC, SERVICE, SERVICE_DATA, remove_service, service_state

INSTALLER = pathlib.Path(os.environ["WHITELIST_INSTALLER"])
MSI = win_path(os.environ["WHITELIST_MSI"])
UPGRADE_MSI = pathlib.Path(os.environ["WHITELIST_UPGRADE_MSI"])
MSIEXEC = r"C:\windows\system32\msiexec.exe"
INSTALL_DIR, CUSTOM_DIR = r"C:\Program Files\QOR Whitelist IP Updater", r"C:\QORCustom"
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
EVENT_SOURCE_KEY = rf"HKLM\System\CurrentControlSet\Services\EventLog\Application\{SERVICE}"
PROGRAMS = ["sync.exe", "tray.exe", "whitelist.exe"]
IP = "198.51.100.77"


def unix(folder):
    return PREFIX / "drive_c" / folder[3:].replace("\\", "/")


def reg(key, *args):
    code, out = wine_tool("reg", "query", key, *args)
    return out if code == 0 else ""


def settings():
    """(token, server URL) of the saved configuration."""
    text = decrypt_config(SERVICE_DATA / "whitelist.config").decode()
    return tuple(re.search(rf"^{name}=(.*)$", text, re.M).group(1) for name in ("token", "server_url"))


def install(program, *args):
    # With the service's ProgramData (Wine gives programs another), as on Windows, where both are one.
    return run(program, args, PUBLIC, timeout=300).code


def output(*command):
    return subprocess.run(command, capture_output=True, check=True).stdout.decode()


def holds(path, needles, since):
    try:
        return path.is_file() and path.stat().st_mtime >= since and any(n in path.read_bytes() for n in needles)
    except OSError:
        return False


def remove_everything():
    for package in (MSI, win_path(UPGRADE_MSI)):
        wine_tool("msiexec", "/x", package, "/qn", timeout=300)
    remove_service()
    for folder in (unix(INSTALL_DIR), unix(CUSTOM_DIR)):
        shutil.rmtree(folder, ignore_errors=True)


class Installers(unittest.TestCase):
    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="wl-inst-"))  # outside drive_c: no token search there
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def assertInstalledAndRunning(self, token, folder=INSTALL_DIR, image_quote='"'):
        self.assertEqual(sorted(p.name for p in unix(folder).glob("*.exe") if p.name != "uninstall.exe"), PROGRAMS)
        self.assertTrue((unix(folder) / "files").is_dir(), "the agent secured the install folder's files")
        wait_until(lambda: service_state() == "RUNNING", "the service to run")
        image = re.escape(f"{image_quote}{folder}\\whitelist.exe{image_quote}")
        self.assertRegex(reg(rf"HKLM\System\CurrentControlSet\Services\{SERVICE}"), rf"ImagePath\s+REG_SZ\s+{image}\n")
        self.assertIn(f'"{folder}\\tray.exe"', reg(RUN_KEY, "/v", "QOR Whitelist IP Updater Tray"))
        self.assertRegex(reg(EVENT_SOURCE_KEY), rf"EventMessageFile\s+REG_SZ\s+{re.escape(folder)}\\whitelist.exe\n")
        self.assertEqual(settings(), (token, self.url))
        wait_until(lambda: self.server.get_allowlist() == {token: [IP]}, "the address on the allowlist")

    def assertUninstalledKeepingData(self, token, folder=INSTALL_DIR):
        # The NSIS uninstaller runs on from a copy of itself.
        wait_until(lambda: service_state() is None and not unix(folder).exists(), "the uninstall to finish")
        self.assertNotIn("QOR Whitelist IP Updater", reg(RUN_KEY) + reg(UNINSTALL_KEY, "/s"))
        self.assertEqual(reg(EVENT_SOURCE_KEY), "", "the event source goes with the program")
        self.assertEqual(settings(), (token, self.url), "uninstall keeps the settings")

    def assertTokensNowhere(self, *tokens):
        """No file written since the chain began and no uninstall entry holds a token in plain text."""
        needles = [t.encode(encoding) for t in tokens for encoding in ("utf-8", "utf-16-le")]
        self.assertEqual([p for p in (PREFIX / "drive_c").rglob("*") if holds(p, needles, self.started)], [])
        self.assertFalse([t for t in tokens if t in reg(UNINSTALL_KEY, "/s")])

    def test_nsis_then_msi_installs_reconfigurations_upgrade_uninstalls(self):
        remove_everything()
        self.addCleanup(remove_everything)
        self.server = FakeServer(http_port=0, ip=IP).start()
        self.addCleanup(self.server.stop)
        self.url, self.started = self.server.url("http"), time.time() - 2
        token, msi_token, new_token = "nsis-token-4c1f9e", "msi-token-7d20b3", "msi-token-rotated-52ae01"

        # A folder outside Program Files: the installer's folder-securing step
        # must succeed there too, or it stops the install.
        self.assertEqual(install(INSTALLER, "/S", f"/TOKEN={token}", f"/SERVER_URL={self.url}/", f"/D={CUSTOM_DIR}"), 0)
        self.assertInstalledAndRunning(token, CUSTOM_DIR)
        self.assertTokensNowhere(token)
        # A token the agent refuses fails the install (into the same folder)
        # and keeps the settings; the service runs on with them.
        self.assertEqual(install(INSTALLER, "/S", "/TOKEN=" + "x" * 300, f"/SERVER_URL={self.url}"), 2)
        self.assertEqual((settings(), unix(INSTALL_DIR).exists()), ((token, self.url), False))
        wait_until(lambda: service_state() == "RUNNING", "the service to run again")
        # So does an upgrade whose folder-securing step fails ("files" is no folder).
        files = unix(CUSTOM_DIR) / "files"
        files.rmdir()
        files.write_bytes(b"")
        self.assertEqual(install(INSTALLER, "/S"), 2)
        wait_until(lambda: service_state() == "RUNNING", "the service to run after the failed upgrade")
        files.unlink()
        self.assertEqual(install(unix(CUSTOM_DIR) / "uninstall.exe", "/S"), 0)
        self.assertUninstalledKeepingData(token, CUSTOM_DIR)

        # The package with a token the agent refuses fails, is rolled back and
        # loses nothing.
        self.assertNotEqual(install(MSIEXEC, "/i", MSI, "/qn", "TOKEN=" + "x" * 300, f"SERVER_URL={self.url}"), 0)
        self.assertEqual((service_state(), unix(INSTALL_DIR).exists(), settings()), (None, False, (token, self.url)))

        log = self.tmp / "install.log"
        self.server.set_allowlist({})
        self.assertEqual(install(MSIEXEC, "/i", MSI, "/qn", f"TOKEN={msi_token}", f"SERVER_URL={self.url}", "/l*v",
                                 win_path(log)), 0)
        # Windows Installer writes the service's path unquoted under Wine.
        self.assertInstalledAndRunning(msi_token, image_quote="")
        # Wine's closing list of properties ignores MsiHiddenProperties
        # (Windows writes asterisks there); nothing else may show it.
        self.assertEqual([line for line in log.read_bytes().decode("latin-1").splitlines() if msi_token in line],
                         [f"Property(S): TOKEN = {msi_token}"])

        # The same package again with a new token: the service runs with it.
        self.server.set_allowlist({})
        self.server.clear_requests()
        self.assertEqual(install(MSIEXEC, "/i", MSI, "/qn", f"TOKEN={new_token}", f"SERVER_URL={self.url}"), 0)
        wait_until(lambda: allowlist_wire(self.server) == [f"POST {IP} {new_token}"] * 2,
                   "the agent's and the service's registration")
        self.assertTokensNowhere(token, msi_token, new_token)

        # A newer version replaces this one and keeps the settings.
        self.server.set_allowlist({})
        self.assertEqual(install(MSIEXEC, "/i", win_path(UPGRADE_MSI), "/qn"), 0)
        products = reg(UNINSTALL_KEY, "/s")
        self.assertEqual(products.count("DisplayName    REG_SZ    QOR Whitelist IP Updater"), 1, products)
        self.assertRegex(products, r"DisplayVersion\s+REG_SZ\s+" + re.escape(UPGRADE_MSI.name.split("-")[-2]) + "\n")
        self.assertInstalledAndRunning(new_token, image_quote="")
        self.assertEqual(install(MSIEXEC, "/x", win_path(UPGRADE_MSI), "/qn"), 0)
        self.assertUninstalledKeepingData(new_token)

    def test_32_bit_packages_hold_32_bit_programs(self):
        installer, msi = os.environ["WHITELIST_INSTALLER32"], os.environ["WHITELIST_MSI32"]
        output("7z", "x", "-y", f"-o{self.tmp / 'nsis'}", installer, *PROGRAMS)
        output("msiextract", "-C", str(self.tmp / "msi"), msi)
        packaged = [self.tmp / "nsis" / name for name in PROGRAMS] + sorted((self.tmp / "msi").rglob("*.exe"))
        self.assertEqual([p.name for p in packaged], PROGRAMS * 2)
        for program in packaged:
            self.assertIn("pei-i386", output("x86_64-w64-mingw32-objdump", "-f", str(program)), program)
            # Without a manifest, 32-bit Windows virtualizes a denied write.
            manifest = output("7z", "x", "-so", str(program), ".rsrc/MANIFEST/1")
            self.assertIn('requestedExecutionLevel level="asInvoker"', manifest, program)

        def table(name):
            return [line.split("\t") for line in output("msiinfo", "export", msi, name).splitlines()[3:]]

        # What Wine does not enforce and the build sets after wixl: the token stays out of the log (hidden;
        # its action hides its command line, 0x2000) and reaches a managed install's elevated part (secure);
        # the actions that change the machine run deferred (0x400) as LocalSystem (0x800); the components
        # are 32-bit; the old version goes before anything is installed.
        properties = dict(row[:2] for row in table("Property"))
        for listed in ("MsiHiddenProperties", "SecureCustomProperties"):
            self.assertLessEqual({"TOKEN", "SERVER_URL"}, set(properties[listed].split(";")), listed)
        actions = {row[0]: int(row[1]) for row in table("CustomAction")}
        self.assertEqual([actions[a] & 0xC00 for a in ("Configure", "SecureFolders", "ServiceRecovery")], [0xC00] * 3)
        self.assertTrue(actions["Configure"] & 0x2000)
        self.assertTrue(all(int(row[3]) & 256 == 0 for row in table("Component")))
        sequence = {row[0]: int(row[2]) for row in table("InstallExecuteSequence")}
        order = ["InstallValidate", "RemoveExistingProducts", "InstallInitialize", "InstallFiles", "SecureFolders",
                 "Configure", "StartServices"]
        self.assertEqual(sorted(order, key=sequence.get), order)


if __name__ == "__main__":
    unittest.main()
