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

from harness import BIN_DIR, FakeServer, allowlist_wire, decrypt_config, run, wait_until, win_path, wine_tool
from service_harness import PREFIX, PUBLIC, SERVICE, SERVICE_DATA, remove_service, service_state

INSTALLER = pathlib.Path(os.environ["WHITELIST_INSTALLER"])
MSI = win_path(os.environ["WHITELIST_MSI"])
UPGRADE_MSI = pathlib.Path(os.environ["WHITELIST_UPGRADE_MSI"])
MSIEXEC = r"C:\windows\system32\msiexec.exe"
INSTALL_DIR, CUSTOM_DIR = r"C:\Program Files\QOR Whitelist IP Updater", r"C:\QORCustom"
LINKED_DIR, OPEN_DIR = r"C:\QORLinked", r"C:\QOROpen"  # users could have prepared these
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
EVENT_SOURCE_KEY = rf"HKLM\System\CurrentControlSet\Services\EventLog\Application\{SERVICE}"
PROGRAMS = ["sync.exe", "tray.exe", "whitelist.exe"]
# Windows Installer's own bits of CustomAction.Type (its kind; CONTINUE: a failure is ignored) and Component.Attributes.
KIND, SET_PROPERTY, RUN_PROPERTY_EXE = 0x3F, 51, 50
CONTINUE, DEFERRED, AS_SYSTEM, HIDE_TARGET, COMPONENT_64BIT = 0x40, 0x400, 0x800, 0x2000, 0x100
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


def shortcuts():
    """The Start-menu entries (Wine's msiexec puts a per-machine package's into the user's menu)."""
    menus = ("ProgramData", "users/*/AppData/Roaming")
    return [p for menu in menus for p in PREFIX.glob(f"drive_c/{menu}/Microsoft/Windows/Start Menu/Programs/QOR*")]


def signed(path, cert):
    """Whether osslsigncode finds a valid signature by the certificate on the file."""
    return subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", path], capture_output=True).returncode == 0


def remove_everything():
    for package in (MSI, win_path(UPGRADE_MSI)):
        wine_tool("msiexec", "/x", package, "/qn", timeout=300)
    remove_service()
    for folder in (unix(INSTALL_DIR), unix(CUSTOM_DIR), unix(OPEN_DIR)):
        shutil.rmtree(folder, ignore_errors=True)
    for link in (unix(LINKED_DIR), SERVICE_DATA):
        if link.is_symlink():
            link.unlink()


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
        self.assertEqual([p.name for p in shortcuts()], ["QOR Whitelist IP Updater.lnk"])
        self.assertEqual(settings(), (token, self.url))
        wait_until(lambda: self.server.get_allowlist() == {token: [IP]}, "the address on the allowlist")

    def assertUninstalled(self, folder=INSTALL_DIR):
        """Checked as soon as the uninstall command has returned."""
        left = [name for name in PROGRAMS if (unix(folder) / name).exists()]
        self.assertEqual((service_state(), left, shortcuts()), (None, [], []))
        self.assertNotIn("QOR Whitelist IP Updater", reg(RUN_KEY) + reg(UNINSTALL_KEY, "/s"))
        self.assertEqual(reg(EVENT_SOURCE_KEY), "", "the event source goes with the program")

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

        # An install folder users could have prepared is refused before anything is copied: a link, or one whose
        # parent lets users rename it (Wine shows a world-writable folder so).
        elsewhere = self.tmp / "elsewhere"
        elsewhere.mkdir()
        unix(LINKED_DIR).symlink_to(elsewhere)
        (unix(OPEN_DIR) / "app").mkdir(parents=True)
        unix(OPEN_DIR).chmod(0o777)
        self.assertEqual([install(INSTALLER, "/S", f"/D={d}") for d in (LINKED_DIR, OPEN_DIR + r"\app")], [2, 2])
        self.assertEqual((list(elsewhere.iterdir()), list(unix(OPEN_DIR).rglob("*.exe")), service_state()),
                         ([], [], None))
        # A folder outside Program Files: the installer's folder-securing step
        # must succeed there too, or it stops the install.
        code = install(INSTALLER, "/S", f"/TOKEN={token}", f"/SERVER_URL={self.url}/", f"/D={CUSTOM_DIR}")
        self.assertEqual(code, 0, code and self.why_stopped(CUSTOM_DIR))
        self.assertInstalledAndRunning(token, CUSTOM_DIR)
        cert = os.environ["WHITELIST_SIGN_CERT"]
        installed = [unix(CUSTOM_DIR) / name for name in PROGRAMS + ["uninstall.exe"]] + [INSTALLER, UPGRADE_MSI]
        self.assertEqual([p.name for p in installed if not signed(p, cert)], [])
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
        # The quiet uninstall with the settings' removal, the data folder turned into a link meanwhile: the
        # removal is refused and the link's target loses nothing; the rest is done when the command returns.
        SERVICE_DATA.rename(self.tmp / "data")
        (self.tmp / "target/tree").mkdir(parents=True)
        for name in ("whitelist.config", "tree/kept"):
            (self.tmp / "target" / name).write_bytes(b"")
        SERVICE_DATA.symlink_to(self.tmp / "target")
        quiet = re.search(r"QuietUninstallString\s+REG_SZ\s+\"(.+)\" (.+)\n", reg(UNINSTALL_KEY, "/s"))
        *options, in_place = quiet[2].split()
        # Not capturing: a pipe would wait for every process that inherited it, a copy left running too.
        uninstall = run(quiet[1], [*options, "/REMOVE_DATA", in_place], PUBLIC, timeout=300, capture=False)
        self.assertEqual(uninstall.code, 2)
        self.assertUninstalled(CUSTOM_DIR)
        self.assertEqual(sorted(p.name for p in (self.tmp / "target").rglob("*")), ["kept", "tree", "whitelist.config"])
        SERVICE_DATA.unlink()
        (self.tmp / "data").rename(SERVICE_DATA)

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
        text = log.read_bytes().decode("latin-1")
        self.assertEqual([line for line in text.splitlines() if msi_token in line],
                         [f"Property(S): TOKEN = {msi_token}"])
        # Wine logs no custom-action targets (the table test reads them), only the order the actions ran in.
        ran = re.findall(r"^Action start [\d:]+: (\w+)\.", text, re.M)
        order = ["SetScPath", "InstallInitialize", "SecureFolders", "InstallFiles", "Configure", "ServiceRecovery"]
        self.assertEqual(sorted(order, key=ran.index), order)

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
        # The upgrade kept the settings; an uninstall removes them only when asked.
        self.assertEqual(install(MSIEXEC, "/x", win_path(UPGRADE_MSI), "/qn", "REMOVE_DATA=1"), 0)
        self.assertUninstalled()
        self.assertEqual(list(SERVICE_DATA.iterdir()), [])

    def why_stopped(self, folder):
        """A silent install keeps no details: the folder-securing step again, the data folder and the processes."""
        again = run(BIN_DIR / "whitelist.exe", ["secure-folders", folder], PUBLIC)
        return (f"secure-folders: {again.code} {again.out.decode(errors='replace')}\n"
                f"data: {sorted(p.name for p in SERVICE_DATA.glob('*'))}\nprocesses: {output('ps', '-eo', 'args')}")

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
        # Signed by the win32 build's throwaway certificate, the programs as packed too.
        cert = os.environ["WHITELIST_SIGN_CERT32"]
        self.assertEqual([p for p in packaged + [installer, msi] if not signed(p, cert)], [])

        def table(name):
            return [line.split("\t") for line in output("msiinfo", "export", msi, name).splitlines()[3:]]

        # What Wine does not enforce and the build sets after wixl: the token stays out of the log and reaches a
        # managed install's elevated part; the machine's changes run deferred as LocalSystem and their failure
        # fails the install; the components are 32-bit; the old version goes before anything is installed.
        properties = dict(row[:2] for row in table("Property"))
        for listed in ("MsiHiddenProperties", "SecureCustomProperties"):
            self.assertLessEqual({"TOKEN", "SERVER_URL"}, set(properties[listed].split(";")), listed)
        actions = {row[0]: (int(row[1]), row[2]) for row in table("CustomAction")}
        checked = ("Configure", "SecureFolders", "ServiceRecovery", "RemoveData")
        self.assertEqual([actions[a][0] & (DEFERRED | AS_SYSTEM | CONTINUE) for a in checked],
                         [DEFERRED | AS_SYSTEM] * 4)
        self.assertTrue(actions["Configure"][0] & HIDE_TARGET)
        self.assertTrue(all(int(row[3]) & COMPONENT_64BIT == 0 for row in table("Component")))
        sequence = {row[0]: (int(row[2]), row[1]) for row in table("InstallExecuteSequence")}
        order = ["InstallValidate", "RemoveExistingProducts", "InstallInitialize", "StopServices", "RemoveData",
                 "RemoveFiles", "SecureFolders", "CreateFolders", "InstallFiles", "Configure", "StartServices"]
        self.assertEqual(sorted(order, key=sequence.get), order)
        # A deferred action's program property is read when the script is written, at its place in the sequence.
        setters = {src: action for action, (kind, src) in actions.items() if kind & KIND == SET_PROPERTY}
        late = [a for a, (kind, src) in actions.items() if kind & (DEFERRED | KIND) == DEFERRED | RUN_PROPERTY_EXE and
                sequence[setters[src]][0] >= sequence["InstallInitialize"][0]]
        self.assertEqual(late, [])
        # A repair, which any user may start, runs nothing with values of the user's choosing.
        self.assertEqual([a for a in ("SecureFolders", "Configure") if "AdminUser AND NOT REINSTALL" not in
                          sequence[a][1]], [])
        # The install folder is secured before the first file, the Start menu leads to the tray.
        locks = [(row[1], row[2], row[3].startswith("O:BAD:P")) for row in table("MsiLockPermissionsEx")]
        self.assertEqual(locks, [("INSTALLDIR", "CreateFolder", True)])
        self.assertIn(["ProgramMenuFolder", "[INSTALLDIR]tray.exe"], [row[1:5:3] for row in table("Shortcut")])

if __name__ == "__main__":
    unittest.main()
