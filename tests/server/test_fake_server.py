"""Self-test of the loopback fake server.

Run from the repository root: python3 -m unittest tests/server/test_fake_server.py
"""

import errno
import http.client
import json
import os
import signal
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fake_server  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
WL = fake_server.WHITELIST_PATH
CUSTOMERS = {"tokens": ["files-tok"], "customers": [
    {"id": 7, "name": "BIRCH LLC", "files": [
        {"id": 11, "original_name": "a.txt", "content": "hello\n"},
        {"id": 12, "file_name": "b.bin", "content_b64": "AAEC/w=="}]}]}


class FakeServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.cert, cls.key = fake_server.make_cert(cls.tmp.name)
        cls.srv = fake_server.FakeServer(0, 0, cls.cert, cls.key,
                                         customers=CUSTOMERS).start()
        # Verifies the generated certificate for real, including its address.
        cls.tls = ssl.create_default_context(cafile=cls.cert)

    @classmethod
    def tearDownClass(cls):
        cls.srv.stop()
        cls.tmp.cleanup()

    def setUp(self):
        self.srv.clear_scripts()
        self.srv.clear_requests()
        self.srv.set_tokens(["tok-a", "tok-b"])
        self.srv.set_allowlist({})
        self.srv.set_ip(fake_server.DEFAULT_IP)

    def call(self, method, path, body=None, headers=None, https=False, timeout=5):
        if https:
            conn = http.client.HTTPSConnection("127.0.0.1", self.srv.https_port,
                                               timeout=timeout, context=self.tls)
        else:
            conn = http.client.HTTPConnection("127.0.0.1", self.srv.http_port,
                                              timeout=timeout)
        try:
            if isinstance(body, (dict, list)):
                body = json.dumps(body, separators=(",", ":"))
            conn.request(method, path, body=body, headers=headers or {})
            resp = conn.getresponse()
            return resp.status, resp.read()
        finally:
            conn.close()

    def allow(self, method, token, ip):
        raw = '{"token":"%s","ip":"%s"}' % (token, ip)
        return self.call(method, WL, raw.encode("utf-8"),
                         {"Content-Type": "application/json"})

    def test_allowlist_keeps_addresses_per_token(self):
        for tok, ip in [("tok-a", "1.1.1.1"), ("tok-a", "2.2.2.2"), ("tok-b", "1.1.1.1")]:
            status, body = self.allow("POST", tok, ip)
            self.assertEqual((status, json.loads(body)["ok"]), (200, True))
        self.assertFalse(json.loads(self.allow("POST", "tok-a", "2.2.2.2")[1])["changed"])
        self.assertEqual(self.allow("DELETE", "tok-a", "1.1.1.1")[0], 200)
        status, body = self.allow("POST", "nope", "9.9.9.9")
        self.assertEqual(status, 403)
        self.assertIn(b'"ok":false', body)
        self.assertEqual(self.srv.get_allowlist(),
                         {"tok-a": ["2.2.2.2"], "tok-b": ["1.1.1.1"]})
        # The programs escape only quotes and backslashes; control bytes come raw.
        self.srv.set_tokens(None)
        self.assertEqual(self.allow("POST", 'q\\"\x01', "3.3.3.3")[0], 200)
        self.assertEqual(self.srv.get_allowlist()['q"\x01'], ["3.3.3.3"])

    def test_control_channel_over_http(self):
        ctl = fake_server.ControlClient(self.srv.url())
        ctl.set_ip("198.51.100.9", echo_ip="192.0.2.5")
        ctl.set_allowlist({"t": ["10.0.0.2", "10.0.0.1"]})
        self.assertEqual(ctl.get_allowlist(), {"t": ["10.0.0.1", "10.0.0.2"]})
        self.assertEqual(self.call("GET", "/api/client-ip"), (200, b'{"ip":"198.51.100.9"}'))
        self.assertEqual(self.call("GET", "/", https=True), (200, b"192.0.2.5\n"))
        reqs = ctl.get_requests()
        self.assertEqual([(r["listener"], r["method"], r["path"]) for r in reqs],
                         [("http", "GET", "/api/client-ip"), ("https", "GET", "/")])
        self.assertEqual(self.call("POST", "/_control/bogus", {})[0], 404)
        status, body = self.call("POST", "/_control/set_script",
                                 {"path": "/", "responses": [{"action": "explode"}]})
        self.assertEqual(status, 400)
        self.assertIn(b"explode", body)

    def test_script_queue_then_normal(self):
        self.srv.set_script("POST", WL, [
            {"status": 500, "body": "<html>boom</html>", "content_type": "text/html", "times": 2},
            {"json": {"ok": False, "error": "rule disabled"}},
            {"action": "normal", "delay": 0.3}])
        self.assertEqual(self.allow("POST", "tok-a", "1.1.1.1"), (500, b"<html>boom</html>"))
        self.assertEqual(self.allow("POST", "tok-a", "1.1.1.1"), (500, b"<html>boom</html>"))
        self.assertEqual(self.allow("POST", "tok-a", "1.1.1.1"),
                         (200, b'{"ok":false,"error":"rule disabled"}'))
        self.assertEqual(self.srv.get_allowlist(), {})
        start = time.monotonic()
        self.assertEqual(self.allow("POST", "tok-a", "1.1.1.1")[0], 200)
        self.assertGreaterEqual(time.monotonic() - start, 0.3)
        self.assertEqual(self.srv.get_allowlist(), {"tok-a": ["1.1.1.1"]})
        # A DELETE is not matched by the POST script and the queue is used up.
        self.assertEqual(self.allow("DELETE", "tok-a", "1.1.1.1")[0], 200)
        self.assertEqual(len(self.srv.get_requests()), 5)

    def test_faults_drop_reset_always(self):
        # Set first, so only the longest-prefix rule lets "/api/auth" win.
        self.srv.set_script("*", "/", [{"status": 418, "always": True}])
        self.srv.set_script("GET", "/api/auth", [
            {"action": "drop", "oversize": 20000, "drop_after": 8192},
            {"action": "reset"},
            {"status": 503, "always": True}])
        with self.assertRaises(http.client.IncompleteRead) as cm:
            self.call("GET", "/api/auth/customers/7/files/11/download")
        self.assertEqual(cm.exception.partial, fake_server.fill_pattern(20000)[:8192])
        with self.assertRaises(ConnectionResetError) as cm:
            self.call("GET", "/api/auth/customers/name/x")
        self.assertEqual(cm.exception.errno, errno.ECONNRESET)
        for _ in range(3):
            self.assertEqual(self.call("GET", "/api/auth/customers/7/files")[0], 503)
        self.assertEqual(self.call("GET", "/api/client-ip")[0], 418)
        self.srv.clear_scripts()
        self.assertEqual(self.call("GET", "/api/auth/customers/7/files")[0], 401)

    def test_hang_does_not_block_other_requests(self):
        self.srv.set_script("GET", "/api/client-ip", [{"action": "hang"}])
        outcome = []

        def hung():
            try:
                outcome.append(self.call("GET", "/api/client-ip", timeout=10))
            except (ConnectionError, http.client.HTTPException) as exc:
                outcome.append(exc)
        t = threading.Thread(target=hung)
        t.start()
        while len(self.srv.get_requests()) < 1:
            time.sleep(0.01)
        self.assertEqual(self.call("GET", "/", https=True)[0], 200)
        self.assertTrue(t.is_alive())
        self.srv.clear_scripts()
        t.join(5)
        self.assertFalse(t.is_alive())
        self.assertIsInstance(outcome[0], http.client.RemoteDisconnected)

    def test_customer_endpoints(self):
        auth = {"Authorization": "Bearer files-tok"}
        self.assertEqual(self.call("GET", "/api/auth/customers/name/BIRCH%20LLC", headers=auth),
                         (200, b'{"id":7,"name":"BIRCH LLC"}'))
        self.assertEqual(self.call("GET", "/api/auth/customers/7/files",
                                   headers=auth, https=True),
                         (200, b'[{"id":11,"original_name":"a.txt"},'
                               b'{"id":12,"file_name":"b.bin"}]'))
        self.assertEqual(self.call("GET", "/api/auth/customers/7/files/12/download", headers=auth),
                         (200, b"\x00\x01\x02\xff"))
        self.assertEqual(self.call("GET", "/api/auth/customers/name/NOBODY", headers=auth)[0], 404)
        for bad in ({}, {"Authorization": "Bearer other"}, {"Authorization": "files-tok"}):
            self.assertEqual(self.call("GET", "/api/auth/customers/7/files", headers=bad)[0], 401)
        headers = dict(self.srv.get_requests()[0]["headers"])
        self.assertEqual(headers["Authorization"], "Bearer files-tok")


class CommandLineTest(unittest.TestCase):
    def start(self, tmp, *extra):
        ports = os.path.join(tmp, "ports.json")
        proc = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "fake_server.py"), "--http-port", "0",
             "--https-port", "0", "--make-cert", tmp, "--tokens", "a",
             "--port-file", ports, *extra],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(proc.stderr.close)
        self.addCleanup(proc.stdout.close)
        self.addCleanup(proc.kill)
        line = proc.stdout.readline()
        with open(ports, encoding="utf-8") as f:
            p = json.load(f)
        self.assertEqual(line, "fake_server http=%d https=%d\n" % (p["http"], p["https"]))
        return proc, p

    def test_print_allowlist_and_both_ways_to_stop(self):
        with tempfile.TemporaryDirectory() as tmp:
            proc, p = self.start(tmp)
            ctl = fake_server.ControlClient("http://127.0.0.1:%d" % p["http"])
            ctl.set_allowlist({"a": ["5.5.5.5", "4.4.4.4"], "b": []})
            out = subprocess.run([sys.executable, os.path.join(HERE, "fake_server.py"),
                                  "print-allowlist", "--control-url", ctl.base_url],
                                 capture_output=True, text=True, timeout=10)
            self.assertEqual(out.stdout, "a 4.4.4.4\na 5.5.5.5\n")
            self.assertEqual(ctl.shutdown(), {"ok": True})
            self.assertEqual(proc.wait(5), 0)
            self.assertEqual(proc.stderr.read(), "")

            proc, p = self.start(tmp)
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(5), 0)


if __name__ == "__main__":
    unittest.main()
