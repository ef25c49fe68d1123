"""The agent's command line: dispatch, status, configure mode and the files command,
by stdout's bytes, exit codes and the files they leave."""
import base64
import os
import shutil
import subprocess
import unittest
import unittest.mock
from concurrent.futures import ThreadPoolExecutor

from harness import AgentTestCase, FakeServer, crlf, decrypt_config, win_path, wine_tool

NOT_CONFIGURED = "Config: Not configured. Run: whitelist --token X --server-url Y"
# Configure mode goes on to register; these servers don't exist and the echo
# port is free (the suite holds its lock), so no address is found.
NO_PUBLIC_IP = "Warning: could not get public IP."
NAME_PATH = "/api/auth/customers/name/"
LIST_PATH = "/api/auth/customers/7/files"
BINARY = bytes(range(256)) * 64
SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
DOWNLOADS_ID = "{374DE290-123F-4565-9164-39C4925E467B}"

server = None


def setUpModule():
    global server
    server = FakeServer().start()


def tearDownModule():
    server.stop()


def answer(path, **item):
    server.set_script("GET", path, [dict(item, always=True)])


class CommandLine(AgentTestCase):
    def test_console_start_is_refused_by_the_service_manager_and_explains_the_commands(self):
        # Wine takes about 10 s to refuse each one, so they run side by side.
        exes = [self.whitelist, self.sync]
        with ThreadPoolExecutor(2) as pool:
            runs = list(pool.map(lambda exe: self.agent(*(["/?"] if exe == self.sync else []), exe=exe), exes))
        for exe, r in zip(exes, runs):
            lines = [line.strip() for line in r.out.decode().split("\r\n")]
            self.assertEqual((r.code, lines[:2]), (1, ["StartServiceCtrlDispatcher failed: 1063", "Usage:"]), r)
            self.assertTrue(any(line.startswith("whitelist --token <token> --server-url <url>") for line in lines), r)
            self.assertEqual(any(line.startswith("sync files --name") for line in lines), exe == self.sync, r)

    def test_status_and_configure_with_stored_values_as_defaults(self):
        r = self.agent("STATUS")
        self.assertEqual((r.code, r.out), (0, crlf("Service: Not installed", NOT_CONFIGURED)), r)
        self.assertEqual(self.status_json(), (1, {
            "service": "not_installed", "configured": False, "server": None, "public_ip": None, "last_ip": None,
            "last_confirmed": None, "status": "not_configured", "error": None, "pending_removals": 0}))
        self.assertFalse(self.data.exists(), "status must not create the data folder")
        self.data.mkdir()
        (self.data / "whitelist.config").write_bytes(b"not base64 at all")
        (self.data / "last_ip.txt").write_bytes(b"203.0.113.7\r\nrest")
        r = self.agent("Status", exe=self.sync)
        self.assertEqual((r.code, r.out), (0, crlf(
            "Service: Not installed", f"Config:  {win_path(self.data / 'whitelist.config')}",
            "Last IP: 203.0.113.7", f"Last IP file: {win_path(self.data / 'last_ip.txt')}")), r)

        (self.data / "last_error.txt").write_bytes(b"Failed to add IP to whitelist.")
        r = self.agent("--TOKEN", "first", "-s", "https://one.example")
        self.assertEqual((r.code, r.out), (0, crlf(f"Config saved to {win_path(self.data / 'whitelist.config')}",
                                                   NO_PUBLIC_IP)), r)
        self.assertEqual(sorted(p.name for p in self.data.iterdir()),
                         ["last_ip.txt", "service.lock", "whitelist.config"],
                         "the old failure is gone, the address kept, no temporary file left, the anchor made")
        # Later options win; one trailing slash goes.
        r = self.agent("-s", "https://two.example", "ignored-word", "--Server-Url", "https://three.example//")
        self.assertEqual(r.code, 0, r)
        self.assertEqual(decrypt_config(self.data / "whitelist.config"),
                         b"token=first\nserver_url=https://three.example/\nfiles_name=\nfiles_token=\n")
        r = self.agent("status")
        self.assertEqual(r.out, crlf(
            "Service: Not installed", f"Config:  {win_path(self.data / 'whitelist.config')}",
            "Server:  https://three.example", "Last IP: 203.0.113.7",
            f"Last IP file: {win_path(self.data / 'last_ip.txt')}", "Token:   first..."), r)
        # A recorded error comes first, whatever the service; its text reaches a script whole.
        (self.data / "last_error.txt").write_bytes('HTTP 500: "caf\u00e9"\t\\ gone. More.\r\n'.encode())
        (self.data / "pending_delete_ips.txt").write_bytes(b"192.0.2.1\n192.0.2.2\n")
        (self.data / "last_confirmed.txt").write_bytes(b"2026-12-07 14:05:09\n")  # not the agreed form
        self.assertEqual(self.status_json(), (1, {
            "service": "not_installed", "configured": True, "server": "https://three.example", "public_ip": None,
            "last_ip": "203.0.113.7", "last_confirmed": None, "status": "error", "pending_removals": 2,
            "error": {"text": 'HTTP 500: "caf\u00e9"\t\\ gone. More.', "reason": 'HTTP 500: "caf\u00e9"\t\\ gone'}}))

    def test_bad_input_and_where_it_saves(self):
        for args in [("--token", "abc"), ("-t", "abc", "-s")]:
            with self.subTest(args=args):
                r = self.agent(*args)
                self.assertEqual((r.code, r.out), (1, crlf("Usage: whitelist --token <token> --server-url <url>")), r)
        self.assertFalse(self.data.exists())

        self.agent("-t", "keep", "-s", "https://a")
        before = (self.data / "whitelist.config").read_bytes()
        r = self.agent("-t", "x" * 256, "-s", "https://b")
        self.assertEqual((r.code, r.out), (1, crlf("The rule token is too long (at most 255 characters).")), r)
        r = self.agent("-s", "https://" + "u" * 504)
        self.assertEqual((r.code, r.out), (1, crlf("The server URL is too long (at most 511 characters).")), r)
        self.assertEqual((self.data / "whitelist.config").read_bytes(), before)

        r = self.agent("-t", "y" * 255, "-s", "https://" + "u" * 503)
        self.assertEqual(r.code, 0, r)
        plain = decrypt_config(self.data / "whitelist.config")
        self.assertIn(b"token=" + b"y" * 255 + b"\nserver_url=https://" + b"u" * 503 + b"\n", plain)

        r = self.agent("-t", "a", "-s", "https://a", program_data="Z:\\nonexistent\\base")
        self.assertEqual((r.code, r.out), (1, crlf("Data folder is not safe to use: it can't be opened.")), r)
        with unittest.mock.patch.dict(os.environ, {"WHITELIST_TEST_STANDARD_USER": "1"}):  # unguarded, as ever
            r = self.agent("-t", "a", "-s", "https://a", program_data="Z:\\nonexistent\\base")
        self.assertEqual((r.code, r.out), (1, crlf("Failed to save config.")), r)
        # A state file's path that would not fit is refused, never cut into another name.
        r = self.agent("-t", "a", "-s", "https://a", program_data="C:\\" + "p" * 220)
        self.assertEqual((r.code, r.out), (1, crlf("Data folder path is too long.")), r)
        # An empty ProgramData means the default folder: the test prefix's own, which nothing else reads.
        r = self.agent("-t", "a", "-s", "https://a", program_data="")
        self.assertEqual(r.out, crlf("Config saved to C:\\ProgramData\\QOR Whitelist IP Updater\\whitelist.config",
                                     NO_PUBLIC_IP), r)



class Files(AgentTestCase):
    def setUp(self):
        super().setUp()
        server.clear_scripts()
        server.clear_requests()
        self.files = self.program_dir / "files"
        self.downloads = self.tmp / "Downloads" / "QOR Whitelist IP Updater"

    def serve(self, listing='[{"id":11,"original_name":"a.txt"},{"id":12,"original_name":"b.bin"}]'):
        answer(NAME_PATH, json={"id": 7, "name": "BIRCH LLC"})
        answer(LIST_PATH, body=listing, content_type="application/json")
        answer(LIST_PATH + "/11/download", body="alpha")
        answer(LIST_PATH + "/12/download", body_b64=base64.b64encode(BINARY).decode())

    def fetch(self, name="BIRCH LLC", *env):
        return self.agent("files", "-n", name, "-t", "ctok", "-s", server.url(), exe=self.sync, env=env)

    def test_downloads_every_file_and_no_name_leaves_the_folder(self):
        hostile = ["..\\\\..\\\\..\\\\Windows\\\\x.dll", "C:\\\\x", "a/b", "CON"]
        shortcuts = ["x.LNK", "y.url", "z.scf", "l.library-ms", "s.searchConnector-MS"]
        self.serve("[" + "".join(f'{{"id":13,"original_name":"{n}"}},' for n in hostile + shortcuts) +
                   '{"id":11,"original_name":"a.txt"},{"original_name":"b.bin","id":12}]')
        self.files.mkdir()
        (self.files / "a.txt").write_bytes(b"old content")
        upper = self.program_dir / "SYNC.EXE"
        shutil.move(self.sync, upper)
        r = self.agent("FILES", "--NAME", "BIRCH LLC", "--Token", "ctok", "-S", server.url(), exe=upper)
        self.assertEqual((r.code, r.out), (1, crlf(*[f"Refused unsafe file name: {n}" for n in hostile],
                                                   *[f"Skipped {n}: shortcut files are not downloaded." for n in
                                                     shortcuts], "Downloaded: a.txt", "Downloaded: b.bin",
                                                   f"Files downloaded to {win_path(self.files)}")), r)
        self.assertEqual({p.name: p.read_bytes() for p in self.files.iterdir()}, {"a.txt": b"alpha", "b.bin": BINARY})
        self.assertEqual(sorted(p.name for p in self.program_dir.iterdir()), ["SYNC.EXE", "files", "whitelist.exe"])
        self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), ["ProgramData", "app"])
        self.assertEqual([(q["path"], q["headers"]["authorization"]) for q in server.get_requests()],
                         [(path, "Bearer ctok") for path in [NAME_PATH + "BIRCH%20LLC", LIST_PATH,
                                                             LIST_PATH + "/11/download", LIST_PATH + "/12/download"]])

    def test_usage_lines(self):
        for args in [("-n", "x"), ("-t", "ctok", "-n"), ("-n", "x" * 256, "-t", "ctok"),
                     ("-n", "x", "-t", "ctok", "-s", "https://" + "h" * 504)]:
            with self.subTest(args=[a[:20] for a in args]):
                r = self.agent("files", *args, exe=self.sync)
                self.assertEqual((r.code, r.out), (1, crlf(
                    "Usage: sync files --name <customer> --token <token> [--server-url <url>]",
                    "Example: sync files --name BIRCH_LLC --token 7D3A91C4-5E2B-4F80-A6D9-1B4C8E2F7A05")), r)
        # Fits its field, but not the request path once encoded: never sent cut.
        r = self.fetch("\u00e9" * 255)
        self.assertEqual((r.code, r.out), (1, crlf("Customer name is too long.")), r)
        self.assertEqual(server.get_requests(), [])

    def test_failures_keep_what_was_there(self):
        self.files.mkdir()
        (self.files / "b.bin").write_bytes(b"previous")
        cut = {"action": "drop", "body_b64": base64.b64encode(BINARY).decode(), "drop_after": 9000}
        # The test hook caps the free-space reading: a.txt fits above 1 GiB, b.bin does not.
        low = ("WHITELIST_TEST_FREE_BYTES", 2**30 + 9000)
        for path, item, code, lines, *env in [
                (NAME_PATH, {"status": 401, "json": {"error": "Unauthorized"}}, 1,
                 ["Failed to fetch customer (check name and token)."]),
                (NAME_PATH, {"json": {"name": "BIRCH LLC"}}, 1, ["Customer not found or invalid response."]),
                (LIST_PATH, {"status": 500, "body": "{}"}, 1, ["Failed to fetch file list."]),
                (LIST_PATH, {"body": "[]"}, 0, ["No files for this customer."]),
                (LIST_PATH, {"body": '[{"id":"11","original_name":"a.txt"}]'}, 0, ["No files found."]),
                (LIST_PATH + "/12/download", cut, 1, ["Downloaded: a.txt", "Failed to download b.bin"]),
                (LIST_PATH, {"body": '[{"id":12,"original_name":"b.bin"},{"id":11,"original_name":"a.txt"}]'}, 1,
                 ["Not enough disk space for b.bin."], low)]:
            with self.subTest(path=path, item=item):
                self.serve()
                answer(path, **item)
                r = self.fetch("BIRCH LLC", *env)
                self.assertEqual((r.code, r.out), (code, crlf(*lines)), r)
                self.assertEqual((self.files / "b.bin").read_bytes(), b"previous")
        self.assertEqual(sorted(p.name for p in self.files.iterdir()), ["a.txt", "b.bin"], "no temporary file left")
        # The reason follows on stderr: the server's status, or the connection's WinHTTP error.
        answer(NAME_PATH, status=401, json={"error": "Unauthorized"})
        for url, reason in [(server.url(), "the server answered HTTP 401."),
                            ("http://127.0.0.1:1", "sending the request failed with WinHTTP error 12029 - cannot "
                                                   "connect (server down, port closed or blocked by a firewall).")]:
            r = self.agent("files", "-n", "x", "-t", "ctok", "-s", url, exe=self.sync)
            self.assertEqual((r.code, r.out, r.err), (1, crlf("Failed to fetch customer (check name and token)."),
                                                      crlf("Reason: " + reason)), r)

    def test_a_program_folder_the_user_cannot_write_sends_the_files_to_their_downloads(self):
        self.serve('[{"id":11,"original_name":"a.txt"}]')
        # Redirected as Windows allows. Wine's own is the Unix home, and Wine
        # makes a missing one a link to it.
        self.downloads.parent.mkdir()
        self.assertEqual(wine_tool("reg", "add", SHELL_FOLDERS, "/v", DOWNLOADS_ID, "/t", "REG_EXPAND_SZ", "/f", "/d",
                                   win_path(self.downloads.parent))[0], 0)
        self.addCleanup(wine_tool, "reg", "add", SHELL_FOLDERS, "/v", DOWNLOADS_ID, "/t", "REG_EXPAND_SZ", "/f", "/d",
                        "%USERPROFILE%\\Downloads")
        subprocess.run(["chattr", "+i", self.program_dir], check=True)  # stops root too, unlike chmod
        try:
            r = self.fetch()
        finally:
            subprocess.run(["chattr", "-i", self.program_dir], check=True)
        self.assertEqual((r.code, r.out), (0, crlf("Downloaded: a.txt", f"Files downloaded to {win_path(self.downloads)}")), r)
        self.assertEqual([(p.name, p.read_bytes()) for p in self.downloads.iterdir()], [("a.txt", b"alpha")])
        self.assertFalse(self.files.exists())

    def test_an_upgrade_closes_files_and_keeps_what_it_holds(self):
        self.files.mkdir()
        (self.files / "a.txt").write_bytes(b"kept")
        victim = self.tmp / "victim.txt"
        victim.write_bytes(b"elsewhere")
        os.link(victim, self.files / "h.txt")
        r = self.agent("secure-folders", win_path(self.program_dir))
        self.assertEqual((r.code, r.out), (0, crlf(*[f"Secured {win_path(p)}" for p in (self.data, self.program_dir)],
                                                   f"Removed {win_path(self.files / 'h.txt')}: it has more than one hard link.",
                                                   f"Secured {win_path(self.files)}")), r)
        self.assertEqual(([p.name for p in self.files.iterdir()], victim.read_bytes()), (["a.txt"], b"elsewhere"))
        # A "files" that is no folder is refused by a rule: no Windows error of another call follows the reason.
        shutil.rmtree(self.files)
        self.files.write_bytes(b"")
        r = self.agent("secure-folders", win_path(self.program_dir))
        self.assertEqual((r.code, r.out.splitlines()[-1]),
                         (1, f"Failed to secure {win_path(self.files)}: it is not a folder.".encode()), r)


if __name__ == "__main__":
    unittest.main()
