"""The sync command and configure mode's registration against the loopback
server: exit codes, console bytes, last_error.txt, the queue and the wire."""
import json
import socket
import unittest

from harness import ECHO_PORT, AgentTestCase, allowlist_wire, crlf, encrypt_config, start_server_with_echo

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

    def test_failed_addition_still_exits_0(self):
        server.set_script("POST", "/", [{"status": 403, "json": {"ok": False, "error": "rule disabled"}}])
        r = self.configure()
        self.assertEqual((r.code, r.out), (0, self.saved() + crlf("rule disabled" + LONG_HINT)), r)
        self.assertEqual(self.last_error(), ("rule disabled" + LONG_HINT).encode())
        self.assertFalse(self.data_file("last_ip.txt").exists())


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Exchanges(SyncTestCase):
    """What goes over the wire, the refusal and failure texts and the address
    detection, seen in what sync prints and leaves in last_error.txt."""

    def sync_with(self, url, token="tok"):
        encrypt_config(self.data_file("whitelist.config"), f"token={token}\nserver_url={url}\n".encode())
        return self.agent("sync")

    def script(self, path, *responses, method="*"):
        server.set_script(method, path, list(responses))

    def assertFails(self, r, text, ip=IP_A):
        self.assertEqual((r.code, r.out), (1, crlf(f"Current public IP: {ip}", text)), r)
        self.assertEqual(self.last_error(), text.encode())

    def test_wire_form_over_https(self):
        token = 'q"b\\s \u00e9'
        self.write_state("last_ip.txt", IP_B.encode())
        r = self.sync_with(f"https://127.0.0.1:{ECHO_PORT}/base/ignored?x=1", token)
        self.assertEqual(r.code, 0, r)
        sent = [q for q in server.get_requests() if q["path"].startswith("/api/public")]
        self.assertEqual([(q["method"], q["listener"], q["path"]) for q in sent],
                         [("DELETE", "https", "/api/public/whitelist"), ("POST", "https", "/api/public/whitelist")])
        for q in sent:
            headers = {k.lower(): v for k, v in q["headers"]}
            self.assertEqual(headers["content-type"], "application/json")
            self.assertEqual(headers["user-agent"], "QOR Whitelist IP Updater/2.4")
            self.assertNotIn("authorization", headers)
        self.assertEqual([json.loads(q["body"]) for q in sent], [{"token": token, "ip": IP_B}, {"token": token, "ip": IP_A}])

    def test_refusal_texts(self):
        html = "<html>\r\n<body>\tOops\x01</body>\n</html>"
        for status, body, text in [
                (204, "", None),
                (200, '{"ok" :false}', None),
                (200, '{"ok":false,"error":"rule disabled"}', "rule disabled"),
                (200, '{"ok": false}', 'HTTP 200: {"ok": false}'),
                (401, '{"error":"Unauthorized"}', "Unauthorized" + LONG_HINT),
                (403, '{"error": "token was rotated"}', "token was rotated Check your rule token in Settings."),
                (500, '{"error":"key rotated"}', "key rotated"),
                (500, html, "HTTP 500: <html>  <body> Oops</body> </html>"),
                (502, "", "HTTP 502 (empty response body)"),
                (404, '{"error":"invalid ip"}', "invalid ip" + LONG_HINT),
                (400, '{"error":\n "bad\\nthing \\"q\\" \\\\"}', 'badnthing "q" \\'),
                (409, '{"error": 5}', 'HTTP 409: {"error": 5}'),
                (500, "x" * 9000, "HTTP 500: " + "x" * 400)]:
            with self.subTest(status=status, body=body[:40]):
                self.script("/api/public/whitelist", {"status": status, "body": body, "content_type": "application/json"})
                r = self.sync_with(self.url)
                if text is None:
                    self.assertEqual((r.code, r.out), (0, crlf(f"Current public IP: {IP_A}",
                                                               f"IP {IP_A} whitelisted successfully.")), r)
                else:
                    self.assertFails(r, text)

    def test_network_failures_name_the_step_and_code(self):
        port = closed_port()
        for url, pattern in [
                (f"http://127.0.0.1:{port}", rf"WinHttp\w+ failed .*127\.0\.0\.1.*{port}.*error 12029 - cannot connect "
                                             r"\(server down, port closed or blocked by a firewall\)"),
                ("https://no-such-host.invalid", r"(?=.*no-such-host\.invalid)WinHttp\w+ failed .*error 12007 - "
                                                 r"ERROR_WINHTTP_NAME_NOT_RESOLVED \(DNS:"),
                # TLS spoken to a plain-http port.
                (f"https://127.0.0.1:{server.http_port}", r"WinHttp(SendRequest|ReceiveResponse) failed .*error 121(57|75|52|30)"),
                (self.url, r"WinHttp(SendRequest|ReceiveResponse) failed \(.*\): error \d+")]:
            with self.subTest(url=url):
                self.script("/api/public/whitelist", {"action": "reset"})
                r = self.sync_with(url)
                lines = r.out.decode().split("\r\n")
                self.assertEqual((r.code, len(lines)), (1, 3), r)
                self.assertRegex(lines[1], "^" + pattern)
                self.assertEqual(self.last_error(), lines[1].encode())

    def test_detection_by_the_server_then_the_echo(self):
        body = '{"ip":"198.51.100.17"}'
        for item, expected in [
                ({"body": '{"ip":"198.51.100.2","ipv4":"198.51.100.1"}'}, "198.51.100.1"),
                ({"body": '{"ip": "2001:db8::1"}'}, "2001:db8::1"),
                ({"body": '{"ipv4":\n"198.51.100.5"}'}, ECHO_IP),
                ({"status": 404, "body": "<html>Not found</html>"}, ECHO_IP),
                # Cut inside the address, the rest still reads as one.
                ({"body": body, "action": "drop", "drop_after": body.index("7")}, ECHO_IP)]:
            with self.subTest(item=item):
                self.script("/api/client-ip", dict(item, content_type="application/json"))
                r = self.sync_with(self.url)
                self.assertEqual(r.out.split(b"\r\n")[0], f"Current public IP: {expected}".encode(), r)

    def test_echo_answers(self):
        dead_server = f"http://127.0.0.1:{closed_port()}"
        for item, ip in [
                ({"body": "203.0.113.77\n"}, "203.0.113.77"),
                ({"body": "  \t203.0.113.78 \r\n"}, "203.0.113.78"),
                ({"body": "<html>error</html>"}, None),
                ({"body": ""}, None),
                ({"action": "drop", "body": "203.0.113.17", "drop_after": 11}, None)]:
            with self.subTest(item=item):
                self.script("/", dict(item, content_type="text/plain"), method="GET")
                r = self.sync_with(dead_server)
                if ip is None:
                    self.assertEqual((r.code, r.out), (1, crlf("Failed to get public IP.")), r)
                else:
                    self.assertEqual(r.out.split(b"\r\n")[0], f"Current public IP: {ip}".encode(), r)


if __name__ == "__main__":
    unittest.main()
