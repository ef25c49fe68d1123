"""The sync command and configure mode's registration against the loopback
server: exit codes, console bytes, last_error.txt, the queue and the wire."""
import concurrent.futures
import json
import socket
import unittest

from harness import (ECHO_PORT, AgentTestCase, allowlist_wire, crlf, encrypt_config, start_server_with_echo, wait_until,
                     win_path)

IP_A, IP_B, IP_C = "198.51.100.10", "198.51.100.20", "198.51.100.30"
ECHO_IP = "192.0.2.200"
LONG_HINT = " The rule token may be wrong or was rotated on the server - open Settings and enter the new token."

server = None


def setUpModule():
    global server
    server = start_server_with_echo(IP_A, ECHO_IP)


def tearDownModule():
    server.stop()


class Sync(AgentTestCase):
    def setUp(self):
        super().setUp()
        server.clear_scripts()
        server.clear_requests()
        server.set_ip(IP_A, ECHO_IP)

    def configure(self, token="tok"):
        return self.agent("--token", token, "--server-url", server.url())

    def sync_with(self, url, token="tok"):
        encrypt_config(self.data / "whitelist.config", f"token={token}\nserver_url={url}\n".encode())
        return self.agent("sync")

    def saved(self):
        return crlf(f"Config saved to {win_path(self.data / 'whitelist.config')}")

    def state(self, name):
        path = self.data / name
        return path.read_bytes() if path.exists() else None

    def write_state(self, name, data):
        self.data.mkdir(exist_ok=True)
        (self.data / name).write_bytes(data)

    def test_failures_before_any_registration(self):
        self.write_state("last_error.txt", b"older failure")
        r = self.agent("sync")
        self.assertEqual((r.code, r.out), (1, crlf("No config. Run: whitelist --token X --server-url Y")), r)
        self.assertEqual(self.state("last_error.txt"),
                         b"No configuration found. Open Settings and enter your rule token and server URL.")

        # Neither the server's client-ip answer nor the echo service give an address.
        server.set_script("GET", "/", [{"body": "", "always": True}])
        r = self.sync_with(server.url())
        self.assertEqual((r.code, r.out), (1, crlf("Failed to get public IP.")), r)
        self.assertEqual(self.state("last_error.txt"), b"Failed to detect public IP (check internet connection).")
        self.assertEqual(allowlist_wire(server), [])

        server.clear_scripts()
        server.set_script("POST", "/", [{"status": 403, "json": {"ok": False, "error": "rule disabled"}}])
        r = self.configure()
        self.assertEqual((r.code, r.out), (0, self.saved() + crlf("rule disabled" + LONG_HINT)), r)
        self.assertEqual(self.state("last_error.txt"), ("rule disabled" + LONG_HINT).encode())
        self.assertIsNone(self.state("last_ip.txt"))

        r = self.sync_with("")  # the echo service still finds the address
        self.assertEqual((r.code, r.out),
                         (1, crlf(f"Current public IP: {ECHO_IP}", "Failed to add IP to whitelist.")), r)
        self.assertEqual(self.state("last_error.txt"), b"Failed to add IP to whitelist.")

    def test_registers_then_repeats_then_follows_a_change(self):
        token = 'q"b\\s \u00e9'
        self.write_state("last_error.txt", b"older failure")
        self.write_state("last_ip.txt", b"a.example/x")  # no address: no DELETE carries the token for it
        r = self.sync_with(f"https://127.0.0.1:{ECHO_PORT}/base/ignored?x=1", token)
        self.assertEqual((r.code, r.out), (0, crlf(f"Current public IP: {IP_A}",
                                                   f"IP {IP_A} whitelisted successfully.")), r)
        self.assertIsNone(self.state("last_error.txt"), "success removes the old failure")
        sent = [q for q in server.get_requests() if q["path"].startswith("/api/public")]
        self.assertEqual([(q["method"], q["listener"], q["path"], json.loads(q["body"])) for q in sent],
                         [("POST", "https", "/api/public/whitelist", {"token": token, "ip": IP_A})])
        headers = sent[0]["headers"]
        self.assertEqual((headers["content-type"], headers["user-agent"], headers.get("authorization")),
                         ("application/json", "QOR Whitelist IP Updater/2.4", None))

        server.clear_requests()
        r = self.agent("sync")
        self.assertEqual(r.code, 0, r)
        self.assertEqual(allowlist_wire(server), [f"POST {IP_A} {token}"], "an unchanged address is added again")
        server.clear_requests()
        server.set_ip(IP_B)
        r = self.agent("sync")
        self.assertEqual((r.code, r.out), (0, crlf(f"Current public IP: {IP_B}",
                                                   f"IP changed from {IP_A}. Removing old IP...",
                                                   f"IP {IP_B} whitelisted successfully.")), r)
        self.assertEqual(allowlist_wire(server), [f"DELETE {IP_A} {token}", f"POST {IP_B} {token}"])

        server.set_ip(IP_C)
        server.clear_requests()
        r = self.configure("token-B")
        self.assertEqual((r.code, r.out), (0, self.saved() + crlf(f"IP {IP_C} whitelisted successfully.")), r)
        self.assertEqual(allowlist_wire(server), [f"DELETE {IP_B} token-B", f"POST {IP_C} token-B"])
        self.assertEqual(self.state("last_ip.txt"), IP_C.encode())

    def test_failed_removals_are_queued_until_the_queue_is_full(self):
        server.set_script("DELETE", "/", [{"status": 500, "always": True}])
        self.write_state("last_ip.txt", IP_C.encode())
        r = self.configure()
        self.assertEqual((r.code, r.out), (0, self.saved() + crlf(
            "Warning: failed to remove old IP; queued for retry.", f"Pending delete failed for {IP_C}",
            "HTTP 500 (empty response body)", f"IP {IP_A} whitelisted successfully.")), r)
        self.assertEqual(self.state("pending_delete_ips.txt"), f"{IP_C}\n".encode())

        full = "".join(f"10.0.0.{i}\n" for i in range(1, 33)).encode()
        self.write_state("pending_delete_ips.txt", full)
        server.set_ip(IP_B)
        server.set_script("DELETE", "/api/public/whitelist",
                          [{"status": 500, "json": {"ok": False, "error": "try later"}, "always": True}])
        self.write_state("last_ip.txt", IP_C.encode())
        server.clear_requests()
        r = self.agent("sync")
        self.assertEqual(r.code, 0, r)
        self.assertTrue(r.out.startswith(crlf(
            f"Current public IP: {IP_B}", f"IP changed from {IP_C}. Removing old IP...",
            "Warning: failed to remove old IP (may not exist); queued for retry.",
            "Warning: pending delete queue full; straggler may remain until manual remove.")), r)
        self.assertIn(crlf("Pending delete failed for 10.0.0.32", "try later"), r.out)
        self.assertTrue(r.out.endswith(crlf(f"IP {IP_B} whitelisted successfully.")), r)
        self.assertEqual(self.state("pending_delete_ips.txt"), full, "the queue keeps its 32 entries and no 33rd")
        self.assertEqual(len(allowlist_wire(server)), 1 + 32 + 1)

    def test_refusal_texts(self):
        html = "<html>\r\n<body>\tOops\x01</body>\n</html>"
        for status, body, text in [
                (204, "", None),
                (200, '{"ok":false,"error":"rule disabled"}', "rule disabled"),
                (200, '{"ok" :\n false}', 'HTTP 200: {"ok" :  false}'),
                (401, '{"error":"Unauthorized"}', "Unauthorized" + LONG_HINT),
                (403, '{"error": "token was rotated"}', "token was rotated Check your rule token in Settings."),
                (500, '{"error":"key rotated"}', "key rotated"),
                (500, html, "HTTP 500: <html>  <body> Oops</body> </html>"),
                (500, '{"error":"bad\r\nthing\x1b[2J\x7f\u0085"}', "bad  thing [2J  "),
                (400, '{"error":\n "bad\\nthing \\"q\\" \\\\"}', 'badnthing "q" \\'),
                (409, '{"error": 5}', 'HTTP 409: {"error": 5}'),
                (500, "x" * 9000, "HTTP 500: " + "x" * 400),
                # Never followed: the token would go elsewhere.
                (307, "moved", "HTTP 307: moved")]:
            with self.subTest(status=status, body=body[:40]):
                server.set_script("*", "/api/public/whitelist", [{"status": status, "body": body, "content_type":
                                                                  "application/json", "headers": {"Location": "/x"}}])
                r = self.sync_with(server.url())
                last = f"IP {IP_A} whitelisted successfully." if text is None else text
                self.assertEqual((r.code, r.out), (int(text is not None), crlf(f"Current public IP: {IP_A}", last)), r)
                self.assertEqual(self.state("last_error.txt"), text and text.encode())
        self.assertNotIn("/x", [q["path"] for q in server.get_requests()])

    def test_a_data_folder_swapped_for_a_link_during_the_exchange_is_not_followed(self):
        # An elevated run holds the folder: after the swap it writes into the original (Windows) or, where the
        # held folder reads as a link by its path (Wine), nowhere; never through the link.
        elsewhere, original = self.tmp / "elsewhere", self.tmp / "original"
        elsewhere.mkdir()
        (elsewhere / "last_error.txt").write_bytes(b"the user's")
        server.set_script("POST", "/api/public/whitelist", [{"action": "normal", "delay": 3}])
        with concurrent.futures.ThreadPoolExecutor() as pool:
            running = pool.submit(self.configure)
            wait_until(lambda: allowlist_wire(server), "the held addition")
            self.data.rename(original)
            self.data.symlink_to(elsewhere, target_is_directory=True)
            r = running.result(60)
        self.assertEqual(r.code, 0, r)
        self.assertTrue(r.out.endswith(crlf(f"IP {IP_A} whitelisted successfully.")), r)
        self.assertEqual([(p.name, p.read_bytes()) for p in elsewhere.iterdir()], [("last_error.txt", b"the user's")])

    def test_network_failures_name_the_step_and_code(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        for url, pattern in [
                (f"http://127.0.0.1:{port}", rf"WinHttp\w+ failed .*127\.0\.0\.1.*{port}.*error 12029 - cannot connect "
                                             r"\(server down, port closed or blocked by a firewall\)"),
                ("https://no-such-host.invalid", r"(?=.*no-such-host\.invalid)WinHttp\w+ failed .*error 12007 - "
                                                 r"ERROR_WINHTTP_NAME_NOT_RESOLVED \(DNS:"),
                # TLS spoken to a plain-http port.
                (f"https://127.0.0.1:{server.http_port}",
                 r"WinHttp(SendRequest|ReceiveResponse) failed .*error 121(57|75|52|30)"),
                (server.url(), r"WinHttp(SendRequest|ReceiveResponse) failed \(.*\): error \d+")]:
            with self.subTest(url=url):
                server.set_script("*", "/api/public/whitelist", [{"action": "reset"}])
                r = self.sync_with(url)
                lines = r.out.decode().split("\r\n")
                self.assertEqual((r.code, len(lines)), (1, 3), r)
                self.assertRegex(lines[1], "^" + pattern)
                self.assertEqual(self.state("last_error.txt"), lines[1].encode())

    def test_detection_by_the_server_then_the_echo(self):
        cut = '{"ip":"198.51.100.17"}'
        not_found = {"status": 404, "body": "<html>Not found</html>"}
        for client_ip, echo, expected in [
                ({"body": '{"ip":"198.51.100.2","ipv4":"198.51.100.1"}'}, None, "198.51.100.1"),
                ({"body": '{"ip": "2001:db8::1"}'}, None, "2001:db8::1"),
                # Cut inside the address, the rest still reads as one.
                ({"body": cut, "action": "drop", "drop_after": cut.index("7")}, None, ECHO_IP),
                (not_found, {"body": "  \t203.0.113.78 \r\n"}, "203.0.113.78"),
                (not_found, {"body": "198.51.100.256"}, None),
                (not_found, {"action": "drop", "body": "203.0.113.17", "drop_after": 11}, None)]:
            with self.subTest(client_ip=client_ip, echo=echo):
                server.clear_scripts()
                server.set_script("GET", "/api/client-ip", [dict(client_ip, content_type="application/json")])
                if echo:
                    server.set_script("GET", "/", [dict(echo, content_type="text/plain")])
                r = self.sync_with(server.url())
                if expected is None:
                    self.assertEqual((r.code, r.out), (1, crlf("Failed to get public IP.")), r)
                else:
                    self.assertEqual(r.out.split(b"\r\n")[0], f"Current public IP: {expected}".encode(), r)


if __name__ == "__main__":
    unittest.main()
