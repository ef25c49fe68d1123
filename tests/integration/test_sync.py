"""The sync command and the registration that ends configure mode, run as the
real program against the loopback server: exit codes, console bytes,
last_error.txt, the queue file and what went over the wire."""
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

from harness import AgentTestCase, allowlist_wire, crlf, encrypt_config, start_server_with_echo

IP_A, IP_B, IP_C = "198.51.100.10", "198.51.100.20", "198.51.100.30"
ECHO_IP = "192.0.2.200"
LONG_HINT = " The rule token may be wrong or was rotated on the server - open Settings and enter the new token."
NO_CONFIG_TEXT = b"No configuration found. Open Settings and enter your rule token and server URL."
NO_IP_TEXT = b"Failed to detect public IP (check internet connection)."
ADD_FAILED_TEXT = b"Failed to add IP to whitelist."

server = None


def setUpModule():
    global server
    server = start_server_with_echo(IP_A, ECHO_IP)


def tearDownModule():
    server.stop()


class SyncTestCase(AgentTestCase):
    def setUp(self):
        super().setUp()
        server.clear_scripts()
        server.clear_requests()
        server.set_allowlist({})
        server.set_tokens(None)
        server.set_ip(IP_A, ECHO_IP)
        self.url = server.url("http")

    def wire(self):
        return allowlist_wire(server)

    def no_network(self):
        # Neither the server's client-ip answer nor the echo service give an address.
        server.set_script("GET", "/", [{"body": "", "always": True}])

    def configure(self, token="tok", url=None):
        return self.agent("--token", token, "--server-url", url or self.url)

    def saved(self):
        return crlf(f"Config saved to {self.win_data_file('whitelist.config')}")

    def last_error(self):
        path = self.data_file("last_error.txt")
        return path.read_bytes() if path.exists() else None

    def queue(self):
        path = self.data_file("pending_delete_ips.txt")
        return path.read_bytes() if path.exists() else None

    def write_state(self, name, data):
        self.data.mkdir(exist_ok=True)
        self.data_file(name).write_bytes(data)


class SyncCommand(SyncTestCase):
    def test_without_configuration(self):
        self.write_state("last_error.txt", b"older failure")
        r = self.agent("sync")
        self.assertEqual((r.code, r.out), (1, crlf("No config. Run: whitelist --token X --server-url Y")), r)
        self.assertEqual(self.last_error(), NO_CONFIG_TEXT)
        self.assertEqual(self.wire(), [])

    def test_without_network_configure_warns_and_sync_fails(self):
        self.no_network()
        r = self.configure()
        self.assertEqual((r.code, r.out), (0, self.saved() + crlf("Warning: could not get public IP.")), r)
        self.assertIsNone(self.last_error())
        r = self.agent("sync")
        self.assertEqual((r.code, r.out), (1, crlf("Failed to get public IP.")), r)
        self.assertEqual(self.last_error(), NO_IP_TEXT)
        self.assertEqual(self.wire(), [])

    def test_registers_then_repeats_then_follows_a_change(self):
        self.configure()
        server.clear_requests()
        self.write_state("last_error.txt", b"older failure")
        r = self.agent("sync")
        self.assertEqual((r.code, r.out), (0, crlf(f"Current public IP: {IP_A}",
                                                   f"IP {IP_A} whitelisted successfully.")), r)
        self.assertIsNone(self.last_error(), "success removes the old failure")
        self.assertEqual(self.wire(), [f"POST {IP_A} tok"], "an unchanged address is added again, never removed")

        server.clear_requests()
        server.set_ip(IP_B)
        r = self.agent("sync")
        self.assertEqual((r.code, r.out), (0, crlf(f"Current public IP: {IP_B}",
                                                   f"IP changed from {IP_A}. Removing old IP...",
                                                   f"IP {IP_B} whitelisted successfully.")), r)
        self.assertEqual(self.wire(), [f"DELETE {IP_A} tok", f"POST {IP_B} tok"])
        self.assertEqual(server.get_allowlist(), {"tok": [IP_B]})
        self.assertEqual(self.data_file("last_ip.txt").read_bytes(), IP_B.encode())

    def test_refused_addition(self):
        self.configure()
        server.set_script("POST", "/api/public/whitelist",
                          [{"status": 401, "json": {"ok": False, "error": "Unauthorized"}}])
        r = self.agent("sync")
        self.assertEqual((r.code, r.out), (1, crlf(f"Current public IP: {IP_A}", "Unauthorized" + LONG_HINT)), r)
        self.assertEqual(self.last_error(), ("Unauthorized" + LONG_HINT).encode())

    def test_redirect_is_a_failure_and_is_never_followed(self):
        self.configure()
        server.set_ip(IP_B, ECHO_IP)
        server.clear_requests()
        server.set_script("POST", "/api/public/whitelist",
                          [{"status": 307, "headers": {"Location": "/elsewhere"}, "body": "moved"}])
        r = self.agent("sync")
        self.assertEqual(r.code, 1, r)
        self.assertIn(b"HTTP 307: moved", r.out)
        self.assertNotIn("/elsewhere", [q["path"] for q in server.get_requests()], "the token went elsewhere")
        self.assertEqual(self.data_file("last_ip.txt").read_bytes(), IP_A.encode(), "nothing is recorded")

    def test_configuration_without_server_url_uses_the_echo_and_fails(self):
        encrypt_config(self.data_file("whitelist.config"), b"token=tok\nserver_url=\n")
        r = self.agent("sync")
        self.assertEqual((r.code, r.out), (1, crlf(f"Current public IP: {ECHO_IP}", "Failed to add IP to whitelist.")), r)
        self.assertEqual(self.last_error(), ADD_FAILED_TEXT)

    def test_failed_removal_with_full_queue_and_retry_output(self):
        self.configure()
        server.clear_requests()
        full = "".join(f"10.0.0.{i}\n" for i in range(1, 33)).encode()
        self.write_state("pending_delete_ips.txt", full)
        self.write_state("last_ip.txt", IP_C.encode())
        server.set_script("DELETE", "/api/public/whitelist",
                          [{"status": 500, "json": {"ok": False, "error": "try later"}, "always": True}])
        r = self.agent("sync")
        self.assertEqual(r.code, 0, r)
        expected_head = crlf(f"Current public IP: {IP_A}",
                             f"IP changed from {IP_C}. Removing old IP...",
                             "Warning: failed to remove old IP (may not exist); queued for retry.",
                             "Warning: pending delete queue full; straggler may remain until manual remove.")
        self.assertTrue(r.out.startswith(expected_head), r)
        self.assertIn(crlf("Pending delete failed for 10.0.0.32", "try later"), r.out)
        self.assertTrue(r.out.endswith(crlf(f"IP {IP_A} whitelisted successfully.")), r)
        self.assertEqual(self.queue(), full, "the queue keeps its 32 entries and no 33rd")
        self.assertEqual(len(self.wire()), 1 + 1 + 32)

    def test_retry_pass_drops_the_current_address_and_removes_the_rest(self):
        self.configure()
        # Lines that are no address never leave the PC (anyone may write the file).
        self.write_state("pending_delete_ips.txt", f"{IP_B}\r\nexample.com\r\n../x\r\n{IP_A.upper()}\r\n".encode())
        server.clear_requests()
        r = self.agent("sync")
        self.assertEqual((r.code, r.out), (0, crlf(
            f"Current public IP: {IP_A}",
            f"Removed pending straggler IP from whitelist: {IP_B}",
            f"Dropped pending delete (matches current public IP): {IP_A.upper()}",
            f"IP {IP_A} whitelisted successfully.")), r)
        self.assertIsNone(self.queue(), "an empty queue is no file")
        self.assertEqual(self.wire(), [f"POST {IP_A} tok", f"DELETE {IP_B} tok"])


class ConfigureRegistration(SyncTestCase):
    def test_new_token_removes_the_old_address_first(self):
        self.configure("token-A")
        server.set_ip(IP_B)
        server.clear_requests()
        r = self.configure("token-B")
        self.assertEqual((r.code, r.out), (0, self.saved() + crlf(f"IP {IP_B} whitelisted successfully.")), r)
        self.assertEqual(self.wire(), [f"DELETE {IP_A} token-B", f"POST {IP_B} token-B"])
        self.assertEqual(self.data_file("last_ip.txt").read_bytes(), IP_B.encode())

    def test_failed_removal_is_queued_with_the_short_warnings(self):
        self.write_state("last_ip.txt", IP_C.encode())
        server.set_script("DELETE", "/", [{"status": 500, "always": True}])
        r = self.configure()
        self.assertEqual((r.code, r.out), (0, self.saved() + crlf(
            "Warning: failed to remove old IP; queued for retry.",
            f"Pending delete failed for {IP_C}",
            "HTTP 500 (empty response body)",
            f"IP {IP_A} whitelisted successfully.")), r)
        self.assertEqual(self.queue(), f"{IP_C}\n".encode())

        self.write_state("pending_delete_ips.txt", "".join(f"10.0.0.{i}\n" for i in range(1, 33)).encode())
        server.set_ip(IP_B)
        r = self.configure()
        self.assertIn(crlf("Warning: failed to remove old IP; queued for retry.",
                           "Warning: pending delete queue full."), r.out)
        self.assertNotIn(IP_A.encode(), self.queue())

    def test_failed_addition_still_exits_0(self):
        server.set_script("POST", "/", [{"status": 403, "json": {"ok": False, "error": "rule disabled"}}])
        r = self.configure()
        self.assertEqual((r.code, r.out), (0, self.saved() + crlf("rule disabled" + LONG_HINT)), r)
        self.assertEqual(self.last_error(), ("rule disabled" + LONG_HINT).encode())
        self.assertFalse(self.data_file("last_ip.txt").exists())


class QueueBetweenProcesses(SyncTestCase):
    def test_entry_queued_while_another_run_retries_is_kept(self):
        # Run 1 retries a queued address; the server holds that removal open.
        # Meanwhile run 2 fails to remove its old address and queues it. When
        # run 1 saves the queue afterwards, run 2's entry must still be there.
        encrypt_config(self.data_file("whitelist.config"), f"token=tok\nserver_url={self.url}\n".encode())
        self.write_state("last_ip.txt", IP_A.encode())
        self.write_state("pending_delete_ips.txt", b"192.0.2.1\n")
        server.set_script("DELETE", "/api/public/whitelist", [
            {"action": "hang"},
            {"status": 500, "json": {"ok": False, "error": "try later"}, "always": True}])
        with ThreadPoolExecutor(1) as pool:
            first = pool.submit(self.agent, "sync")
            deadline = time.monotonic() + 60
            while "DELETE 192.0.2.1 tok" not in self.wire():
                self.assertLess(time.monotonic(), deadline, "run 1 never sent its retry")
                time.sleep(0.1)
            server.set_ip(IP_B)
            second = self.agent("sync")
            self.assertEqual(second.code, 0, second)
            self.assertEqual(self.queue(), f"192.0.2.1\n{IP_A}\n".encode())
            server.clear_scripts()  # lets run 1's removal fail now
            first = first.result(timeout=120)
        self.assertEqual(first.code, 0, first)
        self.assertEqual(self.queue(), f"192.0.2.1\n{IP_A}\n".encode())


if __name__ == "__main__":
    unittest.main()
