"""The shared library's HTTP operations through real WinHTTP under Wine,
against the loopback server: what goes over the wire, the error texts, the
address detection and the customer API."""
import json
import os
import pathlib
import socket
import tempfile
import unittest

from harness import ECHO_PORT, AgentTestCase, run, start_server_with_echo, win_path

PROBE = pathlib.Path(os.environ["WHITELIST_NET_PROBE"])
SERVER_IP = "198.51.100.20"
ECHO_IP = "192.0.2.55"
LONG_HINT = " The rule token may be wrong or was rotated on the server - open Settings and enter the new token."
CANNOT_CONNECT = " - cannot connect (server down, port closed or blocked by a firewall)"

server = None


def setUpModule():
    global server
    server = start_server_with_echo(SERVER_IP, ECHO_IP)


def tearDownModule():
    server.stop()


def probe(*args, program_data=None):
    r = run(PROBE, list(args), program_data)
    head, _, rest = r.out.partition(b"\n")
    if not head.strip().lstrip(b"-").isdigit():
        raise AssertionError(f"net_probe gave no result: {r}")
    return int(head), rest


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class NetworkTestCase(unittest.TestCase):
    def setUp(self):
        server.clear_scripts()
        server.clear_requests()
        server.set_allowlist({})
        server.set_ip(SERVER_IP, ECHO_IP)
        self.http = f"http://127.0.0.1:{server.http_port}"
        self.https = f"https://127.0.0.1:{ECHO_PORT}"

    def script(self, path, *responses, method="*"):
        server.set_script(method, path, list(responses))

    def requests(self, path_prefix="/"):
        return [r for r in server.get_requests() if r["path"].startswith(path_prefix)]


class Allowlist(NetworkTestCase):
    def allowlist(self, method, url, token="tok", ip="203.0.113.9"):
        code, text = probe("allowlist", method, url, token, ip)
        return code, text.decode("utf-8")

    def test_add_and_remove_over_http_and_https(self):
        for url in (self.http, self.https + "/"):
            with self.subTest(url=url):
                self.assertEqual(self.allowlist("POST", url), (0, ""))
                self.assertEqual(server.get_allowlist(), {"tok": ["203.0.113.9"]})
                self.assertEqual(self.allowlist("DELETE", url), (0, ""))
                self.assertEqual(server.get_allowlist().get("tok", []), [])
        sent = self.requests("/api/public/whitelist")
        self.assertEqual([r["method"] for r in sent], ["POST", "DELETE", "POST", "DELETE"])
        self.assertEqual([r["listener"] for r in sent], ["http", "http", "https", "https"])
        for r in sent:
            self.assertEqual(r["body"], '{"token":"tok","ip":"203.0.113.9"}')
            headers = {k.lower(): v for k, v in r["headers"]}
            self.assertEqual(headers["content-type"], "application/json")
            self.assertEqual(headers["user-agent"], "QOR Whitelist IP Updater/2.4")
            self.assertNotIn("authorization", headers)

    def test_body_is_valid_json_whatever_the_token_holds(self):
        token = 'q"b\\s\x01\u00e9'
        self.assertEqual(self.allowlist("POST", self.http + "/base/ignored?x=1", token=token)[0], 0)
        (r,) = self.requests("/api/public")
        self.assertEqual(r["path"], "/api/public/whitelist", "the URL's own path is dropped")
        self.assertEqual(r["body"], '{"token":"q\\"b\\\\s\\u0001\u00e9","ip":"203.0.113.9"}')
        self.assertEqual(json.loads(r["body"])["token"], token)

    def test_refusal_texts(self):
        html = "<html>\r\n<body>\tOops\x01</body>\n</html>"
        cases = [
            (204, "", 0, ""),
            (200, '{"ok" :false}', 0, ""),
            (200, '{"ok":false,"error":"rule disabled"}', -1, "rule disabled"),
            (200, '{"ok": false}', -1, 'HTTP 200: {"ok": false}'),
            (401, '{"error":"Unauthorized"}', -1, "Unauthorized" + LONG_HINT),
            (403, '{"error": "token was rotated"}', -1, "token was rotated Check your rule token in Settings."),
            (500, '{"error":"key rotated"}', -1, "key rotated"),
            (500, html, -1, "HTTP 500: <html>  <body> Oops</body> </html>"),
            (502, "", -1, "HTTP 502 (empty response body)"),
            (404, '{"error":"invalid ip"}', -1, "invalid ip" + LONG_HINT),
            (400, '{"error":\n "bad\\nthing \\"q\\" \\\\"}', -1, 'badnthing "q" \\'),
            (409, '{"error": 5}', -1, 'HTTP 409: {"error": 5}'),
            (500, "x" * 9000, -1, "HTTP 500: " + "x" * 400),
        ]
        for status, body, code, text in cases:
            with self.subTest(status=status, body=body[:40]):
                self.script("/api/public/whitelist", {"status": status, "body": body, "content_type": "application/json"})
                self.assertEqual(self.allowlist("POST", self.http), (code, text))

    def test_network_failures_name_the_step_and_code(self):
        port = closed_port()
        code, text = self.allowlist("POST", f"http://127.0.0.1:{port}")
        self.assertEqual(code, -1)
        self.assertRegex(text, rf"^WinHttp\w+ failed .*127\.0\.0\.1.*{port}.*error 12029" + CANNOT_CONNECT.replace("(", r"\(").replace(")", r"\)") + "$")

        code, text = self.allowlist("DELETE", "https://no-such-host.invalid")
        self.assertEqual(code, -1)
        self.assertIn("error 12007 - ERROR_WINHTTP_NAME_NOT_RESOLVED (DNS:", text)
        self.assertIn("no-such-host.invalid", text)

        # TLS spoken to a plain-http port.
        code, text = self.allowlist("POST", f"https://127.0.0.1:{server.http_port}")
        self.assertEqual(code, -1)
        self.assertRegex(text, r"^WinHttp(SendRequest|ReceiveResponse) failed .*error 121(57|75|52|30)")

        self.script("/api/public/whitelist", {"action": "reset"})
        code, text = self.allowlist("POST", self.http)
        self.assertEqual(code, -1)
        self.assertRegex(text, r"^WinHttp(SendRequest|ReceiveResponse) failed \(.*\): error \d+")

    def test_unusable_ports_are_refused_before_connecting(self):
        for url in ("http://127.0.0.1:70000", "http://127.0.0.1:65536/x", "https://h:abc", "http://h:0"):
            with self.subTest(url=url):
                code, text = self.allowlist("POST", url)
                self.assertEqual(code, -1)
                self.assertRegex(text, r"^Invalid port in server URL \(host=(127\.0\.0\.1|h)\)")
        self.assertEqual(self.requests(), [])


class Detection(NetworkTestCase):
    def detect(self, *url):
        code, text = probe("detect", *url)
        return code, text.decode("utf-8")

    def client_ip_answers(self, body, status=200):
        self.script("/api/client-ip", {"status": status, "body": body, "content_type": "application/json"})

    def test_server_answer_and_its_precedence(self):
        cases = [
            ('{"ip":"198.51.100.2","ipv4":"198.51.100.1"}', "198.51.100.1"),
            ('{"ip": "2001:db8::1"}', "2001:db8::1"),
            ('{"ipv4":\t "198.51.100.3"}', "198.51.100.3"),
            ('{"ipv4":null,"ip":"198.51.100.4"}', ECHO_IP),
            ('{"ipv4":\n"198.51.100.5"}', ECHO_IP),
            ('{"ip":"not an address"}', ECHO_IP),
            ('{"ip":"198.51.100.6:8080"}', ECHO_IP),
            ('{"ip":"' + "1" * 70 + '"}', ECHO_IP),
            ('{"ip":""}', ECHO_IP),
        ]
        for body, expected in cases:
            with self.subTest(body=body):
                self.client_ip_answers(body)
                self.assertEqual(self.detect(self.http), (0, expected))
        self.client_ip_answers("<html>Not found</html>", status=404)
        self.assertEqual(self.detect(self.http + "/"), (0, ECHO_IP))
        self.assertEqual(self.detect(self.http), (0, SERVER_IP), "unscripted server answers itself")

    def test_an_answer_cut_short_is_no_answer(self):
        # Cut inside "198.51.100.17" the rest still reads as an address.
        body = '{"ip":"198.51.100.17"}'
        self.script("/api/client-ip", {"body": body, "content_type": "application/json", "action": "drop",
                                       "drop_after": body.index("7")})
        self.assertEqual(self.detect(self.http), (0, ECHO_IP))

    def test_without_server_only_the_echo_service_is_asked(self):
        self.assertEqual(self.detect(), (0, ECHO_IP))
        self.assertEqual(self.detect(""), (0, ECHO_IP))
        self.assertEqual([(r["listener"], r["path"]) for r in self.requests()], [("https", "/"), ("https", "/")])
        headers = {k.lower(): v for k, v in self.requests()[0]["headers"]}
        self.assertEqual(headers["user-agent"], "QOR Whitelist IP Updater/2.4")

    def test_echo_answers(self):
        dead_server = f"http://127.0.0.1:{closed_port()}"
        cases = [
            ("203.0.113.77\n", 0, "203.0.113.77"),
            ("  \t203.0.113.78 \r\n", 0, "203.0.113.78"),
            ("2001:db8::7", 0, "2001:db8::7"),
            (" \r\n ", -1, ""),
            ("<html>error</html>", -1, ""),
            ("1" * 64, -1, ""),
            ("", -1, ""),
        ]
        for body, code, ip in cases:
            with self.subTest(body=body):
                self.script("/", {"body": body, "content_type": "text/plain"}, method="GET")
                self.assertEqual(self.detect(dead_server), (code, ip))
        # Cut inside the address, the rest still reads as one.
        self.script("/", {"action": "drop", "body": "203.0.113.17", "drop_after": 11}, method="GET")
        self.assertEqual(self.detect(dead_server), (-1, ""))
        server.set_script("GET", "/", [])

    def test_tray_form_reads_the_server_from_the_configuration(self):
        case = AgentTestCase("run")
        case.setUp()
        try:
            self.assertEqual(case.agent("-t", "tok", "-s", self.http + "/").code, 0)
            code, text = probe("tray-detect", program_data=win_path(case.base))
            self.assertEqual((code, text), (0, SERVER_IP.encode()))
            code, text = probe("tray-detect", program_data=win_path(case.tmp))
            self.assertEqual((code, text), (0, ECHO_IP.encode()), "no configuration: echo service only")
        finally:
            case.tearDown()


class CustomerApi(NetworkTestCase):
    def setUp(self):
        super().setUp()
        self.content = bytes(range(256)) * 400  # 102 400 bytes, every byte value
        server.set_customers({"tokens": ["ctok"], "customers": [
            {"id": 7, "name": "BIRCH LLC", "files": [
                {"id": 11, "original_name": "big.bin", "content_b64": __import__("base64").b64encode(self.content).decode()},
                {"id": 12, "original_name": "empty.txt", "content": ""},
            ]}]})
        self.tmp = tempfile.TemporaryDirectory(prefix="wl-dl-")
        self.target = pathlib.Path(self.tmp.name) / "out.bin"

    def tearDown(self):
        self.tmp.cleanup()

    def get(self, path, token="ctok", cap=32768):
        return probe("get", self.http + "/base", path, token, str(cap))

    def download(self, path, token="ctok"):
        code, _ = probe("download", self.https, path, token, win_path(self.target))
        return code

    def test_get_cuts_at_the_capacity_and_sends_the_bearer_token(self):
        code, body = self.get("/api/auth/customers/7/files/11/download", cap=32768)
        self.assertEqual((code, body), (0, self.content[:32767].split(b"\0")[0]))
        (r,) = self.requests("/api/auth")
        self.assertEqual(r["path"], "/api/auth/customers/7/files/11/download")
        self.assertIn(["Authorization", "Bearer ctok"], r["headers"])
        code, body = self.get("/api/auth/customers/name/BIRCH%20LLC")
        self.assertEqual((code, json.loads(body)), (0, {"id": 7, "name": "BIRCH LLC"}))

    def test_refused_requests_leave_buffer_and_files_alone(self):
        for path, token in [("/api/auth/customers/7/files", "wrong"), ("/api/auth/customers/99/files", "ctok")]:
            with self.subTest(path=path, token=token):
                code, body = self.get(path, token=token, cap=16)
                self.assertEqual((code, body), (-1, b"#" * 16), "buffer untouched")
                self.assertEqual(self.download(path + "/11/download", token=token), -1)
                self.assertFalse(self.target.exists())
        self.script("/api/auth/customers/7/files", {"status": 403, "body": "{}"})
        self.assertEqual(self.get("/api/auth/customers/7/files")[0], -1)

    def test_download_streams_replaces_and_never_leaves_a_cut_file(self):
        self.target.write_bytes(b"previous")
        self.assertEqual(self.download("/api/auth/customers/7/files/11/download"), 0)
        self.assertEqual(self.target.read_bytes(), self.content)
        self.assertEqual(self.download("/api/auth/customers/7/files/12/download"), 0)
        self.assertEqual(self.target.read_bytes(), b"", "an empty body gives an empty file")

        self.target.write_bytes(b"previous")
        self.script("/api/auth/customers/7/files/11/download",
                    {"action": "drop", "body_b64": __import__("base64").b64encode(self.content).decode(),
                     "drop_after": 50000})
        self.assertEqual(self.download("/api/auth/customers/7/files/11/download"), -1)
        self.assertEqual(self.target.read_bytes(), b"previous")
        self.assertEqual(sorted(p.name for p in self.target.parent.iterdir()), ["out.bin"], "no temporary file left")


if __name__ == "__main__":
    unittest.main()
