"""The agent's command line: dispatch, status and configure mode, by stdout's
bytes, exit codes and the data folder's files."""
import unittest
from concurrent.futures import ThreadPoolExecutor

from harness import AgentTestCase, crlf, decrypt_config

NOT_CONFIGURED = "Config: Not configured. Run: whitelist --token X --server-url Y"
USAGE = "Usage: whitelist --token <token> --server-url <url>"
DISPATCH_FAILED = "StartServiceCtrlDispatcher failed: 1063"
# Configure mode goes on to register; these servers don't exist and the echo
# port is free (the suite holds its lock), so no address is found.
NO_PUBLIC_IP = crlf("Warning: could not get public IP.")


class Dispatch(AgentTestCase):
    def test_console_start_is_refused_by_the_service_manager_and_explains_the_commands(self):
        # Wine takes about 10 s to refuse each one, so they run side by side.
        cases = [(self.whitelist, []), (self.whitelist, ["--help"]), (self.whitelist, ["files"]),
                 (self.sync, ["/?"])]
        with ThreadPoolExecutor(len(cases)) as pool:
            results = list(pool.map(lambda c: self.agent(*c[1], exe=c[0]), cases))
        for (exe, args), r in zip(cases, results):
            with self.subTest(exe=exe.name, args=args):
                lines = r.out.decode().split("\r\n")
                self.assertEqual((r.code, lines[:2]), (1, [DISPATCH_FAILED, "Usage:"]), r)
                for command in ("whitelist --token <token> --server-url <url>", "whitelist status", "whitelist sync"):
                    self.assertTrue(any(line.strip().startswith(command) for line in lines), (command, r))
                self.assertEqual(any(line.strip().startswith("sync files --name") for line in lines),
                                 exe == self.sync, r)

    def test_status_on_a_fresh_data_folder_and_an_unreadable_configuration(self):
        for exe, word in [(None, "STATUS"), (self.sync, "Status")]:
            with self.subTest(exe=exe, word=word):
                r = self.agent(word, exe=exe)
                self.assertEqual((r.code, r.out), (0, crlf("Service: Not installed", NOT_CONFIGURED)), r)
        self.assertFalse(self.data.exists(), "status must not create the data folder")
        self.data.mkdir()
        self.data_file("whitelist.config").write_bytes(b"not base64 at all")
        r = self.agent("status")
        self.assertEqual((r.code, r.out), (0, crlf("Service: Not installed", NOT_CONFIGURED)), r)


class Configure(AgentTestCase):
    def configure(self, *args):
        return self.agent(*args)

    def saved_line(self):
        return crlf(f"Config saved to {self.win_data_file('whitelist.config')}") + NO_PUBLIC_IP

    def test_saves_and_status_shows_it(self):
        r = self.configure("-t", "abc", "-s", "https://example.test/")
        self.assertEqual((r.code, r.out), (0, self.saved_line()), r)
        self.assertEqual(decrypt_config(self.data_file("whitelist.config")),
                         b"token=abc\nserver_url=https://example.test\nfiles_name=\nfiles_token=\n")
        r = self.agent("status")
        self.assertEqual(r.out, crlf(
            "Service: Not installed",
            f"Config:  {self.win_data_file('whitelist.config')}",
            "Server:  https://example.test",
            f"Last IP file: {self.win_data_file('last_ip.txt')}",
            "Token:   abc..."), r)

    def test_missing_value_gives_usage_and_saves_nothing(self):
        for args in [("--token", "abc"), ("-s", "https://a"), ("-t",), ("-t", "abc", "-s")]:
            with self.subTest(args=args):
                r = self.configure(*args)
                self.assertEqual((r.code, r.out), (1, crlf(USAGE)), r)
        self.assertFalse(self.data_file("whitelist.config").exists())

    def test_stored_values_are_defaults_and_later_options_win(self):
        self.configure("--TOKEN", "first", "-s", "https://one.example")
        r = self.configure("-s", "https://two.example", "ignored-word", "--Server-Url", "https://three.example//")
        self.assertEqual(r.code, 0, r)
        self.assertEqual(decrypt_config(self.data_file("whitelist.config")),
                         b"token=first\nserver_url=https://three.example/\nfiles_name=\nfiles_token=\n")

    def test_over_long_values_are_refused_and_the_old_file_kept(self):
        self.configure("-t", "keep", "-s", "https://a")
        before = self.data_file("whitelist.config").read_bytes()
        r = self.configure("-t", "x" * 256, "-s", "https://b")
        self.assertEqual((r.code, r.out), (1, crlf("The rule token is too long (at most 255 characters).")), r)
        r = self.configure("-s", "https://" + "u" * 504)
        self.assertEqual((r.code, r.out), (1, crlf("The server URL is too long (at most 511 characters).")), r)
        self.assertEqual(self.data_file("whitelist.config").read_bytes(), before)

        r = self.configure("-t", "y" * 255, "-s", "https://" + "u" * 503)
        self.assertEqual(r.code, 0, r)
        plain = decrypt_config(self.data_file("whitelist.config"))
        self.assertIn(b"token=" + b"y" * 255 + b"\n", plain)
        self.assertIn(b"server_url=https://" + b"u" * 503 + b"\n", plain)

    def test_clears_last_error_and_keeps_last_ip(self):
        self.data.mkdir()
        self.data_file("last_error.txt").write_bytes(b"Failed to add IP to whitelist.")
        self.data_file("last_ip.txt").write_bytes(b"203.0.113.7")
        r = self.configure("-t", "abcde", "-s", "https://a")
        self.assertEqual(r.code, 0, r)
        self.assertFalse(self.data_file("last_error.txt").exists())
        self.assertEqual(self.data_file("last_ip.txt").read_bytes(), b"203.0.113.7")
        self.assertEqual(sorted(p.name for p in self.data.iterdir()),
                         ["last_ip.txt", "whitelist.config"], "no temporary files left")
        r = self.agent("status")
        self.assertIn(b"Last IP: 203.0.113.7\r\n", r.out)
        self.assertTrue(r.out.endswith(b"Token:   abcde...\r\n"), r)

    def test_save_failure_is_reported(self):
        missing_base = "Z:\\nonexistent\\base"
        r = self.agent("-t", "a", "-s", "https://a", program_data=missing_base)
        self.assertEqual((r.code, r.out), (1, crlf("Failed to save config.")), r)
        # A state file's path that would not fit is refused, never cut into another name.
        r = self.agent("-t", "a", "-s", "https://a", program_data="C:\\" + "p" * 220)
        self.assertEqual((r.code, r.out), (1, crlf("Data folder path is too long.")), r)


class Status(AgentTestCase):
    def test_last_ip_without_configuration(self):
        self.data.mkdir()
        self.data_file("last_ip.txt").write_bytes(b"198.51.100.4\r\nrest")
        r = self.agent("status")
        self.assertEqual((r.code, r.out), (0, crlf(
            "Service: Not installed",
            f"Config:  {self.win_data_file('whitelist.config')}",
            "Last IP: 198.51.100.4",
            f"Last IP file: {self.win_data_file('last_ip.txt')}")), r)

    def test_empty_program_data_means_the_default_folder(self):
        # Writes into the test prefix's own C:\ProgramData, which nothing else reads.
        r = self.agent("-t", "a", "-s", "https://a", program_data="")
        self.assertEqual(r.out, crlf(
            "Config saved to C:\\ProgramData\\QOR Whitelist IP Updater\\whitelist.config") + NO_PUBLIC_IP, r)


if __name__ == "__main__":
    unittest.main()
