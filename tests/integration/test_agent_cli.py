"""The agent's command line: dispatch, status and configure mode, by stdout's
bytes, exit codes and the data folder's files."""
import unittest
from concurrent.futures import ThreadPoolExecutor

from harness import AgentTestCase, crlf, decrypt_config, win_path

NOT_CONFIGURED = "Config: Not configured. Run: whitelist --token X --server-url Y"
# Configure mode goes on to register; these servers don't exist and the echo
# port is free (the suite holds its lock), so no address is found.
NO_PUBLIC_IP = "Warning: could not get public IP."


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
        self.assertEqual(sorted(p.name for p in self.data.iterdir()), ["last_ip.txt", "whitelist.config"],
                         "the old failure is gone, the address kept, no temporary file left")
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
        self.assertEqual((r.code, r.out), (1, crlf("Failed to save config.")), r)
        # A state file's path that would not fit is refused, never cut into another name.
        r = self.agent("-t", "a", "-s", "https://a", program_data="C:\\" + "p" * 220)
        self.assertEqual((r.code, r.out), (1, crlf("Data folder path is too long.")), r)
        # An empty ProgramData means the default folder: the test prefix's own, which nothing else reads.
        r = self.agent("-t", "a", "-s", "https://a", program_data="")
        self.assertEqual(r.out, crlf("Config saved to C:\\ProgramData\\QOR Whitelist IP Updater\\whitelist.config",
                                     NO_PUBLIC_IP), r)


if __name__ == "__main__":
    unittest.main()
