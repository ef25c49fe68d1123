"""Loopback allowlist server and IP echo service (GET /), over http and
optionally https; records every request. Script items (set_script(method or
"*", path prefix, [item...]); longest prefix, then exact method wins) answer
one request each, or all with "always": status, body | body_b64 | json,
content_type, headers, delay, drop_after, action: "respond" | "normal" (as if
unscripted) | "drop" | "hang" | "trickle" (a byte a second) | "reset". With proxy=True, a
forward proxy too (absolute URLs for http, CONNECT tunnels for https): proxied lists "METHOD target" of
what it saw; while proxy_challenge holds Proxy-Authenticate values, it answers 407."""
import base64
import http
import http.server
import json
import os
import select
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import threading
import time

LOOPBACK = "127.0.0.1"
WHITELIST_PATH = "/api/public/whitelist"
REASONS = {s.value: s.phrase for s in http.HTTPStatus}


def make_cert(directory):
    os.makedirs(directory, exist_ok=True)
    cert, key = os.path.join(directory, "cert.pem"), os.path.join(directory, "key.pem")
    if not (os.path.exists(cert) and os.path.exists(key)):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
                        "-days", "2", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                        "-keyout", key, "-out", cert], capture_output=True, check=True)
    return cert, key


def _compact(obj):
    # Compact and unescaped: the programs scan for `"id":` byte for byte.
    return json.dumps(obj, separators=(",", ":"), ensure_ascii=False).encode("utf-8")


class _Item:
    def __init__(self, fields):
        self.action, self.status = fields.get("action", "respond"), fields.get("status", 200)
        self.delay, self.headers, self.always = fields.get("delay", 0), fields.get("headers", {}), fields.get("always")
        self.content_type = fields.get("content_type", "application/json" if "json" in fields else "text/plain")
        self.body = (base64.b64decode(fields["body_b64"]) if "body_b64" in fields else
                     _compact(fields["json"]) if "json" in fields else fields.get("body", "").encode())
        self.drop_after = fields.get("drop_after", len(self.body) // 2)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        if self.server.ssl_context is not None:
            # Handshake in the connection's own thread: a silent client cannot stall accepting.
            self.request = self.server.ssl_context.wrap_socket(self.request, server_side=True)
        super().setup()

    def finish(self):
        try:
            super().finish()
        except OSError:
            pass
        if self.server.ssl_context is not None:
            self.request.close()  # socketserver closes only the plain socket the wrapper took over

    def log_message(self, fmt, *args):
        pass

    @staticmethod
    def _head(status, content_type, length, headers=None):
        lines = [f"HTTP/1.1 {status} {REASONS.get(status, 'Status')}"]
        if status != 204:
            lines += ["Content-Type: " + content_type, f"Content-Length: {length}"]
        lines += [f"{k}: {v}" for k, v in (headers or {}).items()]
        return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")

    def _send(self, status, body, content_type, headers=None, drop_after=None):
        # One write, so a reader that asks once for the available bytes sees the whole body.
        self.wfile.write(self._head(status, content_type, len(body), headers) + body[:drop_after])
        if drop_after is not None:
            self.close_connection = True
            socket.socket.shutdown(self.connection, socket.SHUT_RDWR)

    def _trickle(self, item, released):
        body = item.body or b"0" * 1000
        self.close_connection = True
        try:
            self.wfile.write(self._head(item.status, item.content_type, len(body), {"Connection": "close"}))
            for i in range(len(body)):
                if released.wait(1):
                    return
                self.wfile.write(body[i:i + 1])
        except OSError:
            pass  # the client gave up

    def _reset(self):
        # Linger 0 turns the close into a TCP RST rather than an orderly FIN.
        self.close_connection = True
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.rfile.close()
        self.connection.close()

    def _proxy_refused(self):
        owner = self.server.owner
        with owner._lock:
            owner.proxied.append(f"{self.command} {self.path}")
            challenge = owner.proxy_challenge
        if challenge is not None:
            self.rfile.read(int(self.headers.get("Content-Length") or 0))
            auth = "".join(f"Proxy-Authenticate: {c}\r\n" for c in challenge).encode()
            self.wfile.write(self._head(407, "text/plain", 0)[:-2] + auth + b"\r\n")
        return challenge is not None

    def do_CONNECT(self):
        # Closed after a refusal: the TLS hello WinHTTP under Wine sends regardless would wait for an answer.
        self.close_connection = True
        if self._proxy_refused():
            return
        with socket.create_connection(tuple(self.path.rsplit(":", 1))) as upstream:
            self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
            ends = [self.connection, upstream]
            while (ready := select.select(ends, [], [], 60)[0]):
                for end in ready:
                    if not (data := end.recv(65536)):
                        return
                    (upstream if end is self.connection else self.connection).sendall(data)

    def _dispatch(self):
        if self.server.listener == "proxy" and self._proxy_refused():
            return
        if "://" in self.path:  # the absolute form: to a proxy, and from WinHTTP under Wine even in a tunnel
            self.path = "/" + (self.path.split("/", 3)[3:] or [""])[0]
        owner = self.server.owner
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        owner._record(self, body)
        item = owner._take_script(self.command, self.path.split("?", 1)[0])
        if item is not None:
            if item.delay > 0 and owner._stopping.wait(item.delay) or item.action == "reset":
                return self._reset()
            if item.action == "hang":
                owner._hang.wait()
                self.close_connection = True
                return
            if item.action == "trickle":
                return self._trickle(item, owner._hang)
            if item.action != "normal":
                return self._send(item.status, item.body, item.content_type, item.headers,
                                  item.drop_after if item.action == "drop" else None)
        status, ctype, out = owner._answer(self.command, self.path, body, self.server.listener)
        self._send(status, out, ctype)

    do_GET = do_POST = do_DELETE = _dispatch


# Plain TCP: HTTPServer would add a reverse lookup, which stalls where DNS does not work.
class _Listener(socketserver.ThreadingTCPServer):
    allow_reuse_address = daemon_threads = True
    block_on_close = False  # a hung handler must not hold up stop()

    def __init__(self, owner, port, listener, ssl_context, host=LOOPBACK):
        self.owner, self.listener, self.ssl_context = owner, listener, ssl_context
        super().__init__((host, port), _Handler)

    def handle_error(self, request, client_address):
        exc = sys.exc_info()[1]
        if self.owner._stopping.is_set() or isinstance(exc, (ConnectionError, ssl.SSLError, TimeoutError)):
            return  # clients going away mid-exchange is what the faults provoke
        sys.stderr.write(f"fake_server {self.listener}: {client_address}: {exc!r}\n")


class FakeServer:
    def __init__(self, http_port=0, https_port=None, cert=None, key=None, ip="203.0.113.7", echo_ip=None, proxy=False):
        self._lock = threading.Lock()
        # Client-ip answers by listener ("http", "https": another PC sharing the allowlist); None: the others.
        self._ips, self._echo_ip = {None: ip}, echo_ip
        self.proxied, self.proxy_challenge = [], None
        self._allowlist = {}
        self._scripts = {}
        self._requests = []
        self._hang = threading.Event()
        self._stopping = threading.Event()
        self._started = False
        self._listeners = [_Listener(self, http_port, "http", None)]
        if https_port is not None:
            try:
                ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                ctx.load_cert_chain(cert, key)
                self._listeners.append(_Listener(self, https_port, "https", ctx))
            except BaseException:
                self._listeners[0].server_close()  # a port in use must not leak the other
                raise
        if proxy:  # not on the servers' address: WinHTTP under Wine takes a proxy on the target's host for none
            self._listeners.append(_Listener(self, 0, "proxy", None, "127.0.0.2"))

    @property
    def http_port(self):
        return self._listeners[0].server_address[1]

    def url(self, scheme="http"):
        return f"{scheme}://{LOOPBACK}:{self._listeners[scheme == 'https'].server_address[1]}"

    def proxy_address(self):
        return "%s:%d" % self._listeners[-1].server_address

    def start(self):
        self._started = True
        for lst in self._listeners:
            threading.Thread(target=lst.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()
        return self

    def stop(self):
        if self._stopping.is_set():
            return
        self._stopping.set()
        self._hang.set()
        for lst in self._listeners:
            if self._started:
                lst.shutdown()  # returns once its loop has ended
            lst.server_close()

    def _record(self, handler, body):
        with self._lock:
            self._requests.append({
                "listener": handler.server.listener, "method": handler.command, "path": handler.path, "at": time.time(),
                "headers": {k.lower(): v for k, v in handler.headers.items()},
                "body": body.decode("utf-8", errors="replace")})

    def _take_script(self, method, path):
        with self._lock:
            found = [((len(prefix), m != "*"), items) for (m, prefix), items in self._scripts.items()
                     if items and path.startswith(prefix) and m in ("*", method)]
            if not found:
                return None
            items = max(found, key=lambda f: f[0])[1]
            return items[0] if items[0].always else items.pop(0)

    def set_ip(self, ip, echo_ip=None, listener=None):
        with self._lock:
            if listener is None:
                self._ips, self._echo_ip = {}, echo_ip
            self._ips[listener] = ip

    def set_script(self, method, path, responses):
        items = [_Item(r) for r in responses]
        with self._lock:
            self._scripts[(method.upper(), path)] = items

    def clear_scripts(self):
        """Also releases hung and trickling requests."""
        with self._lock:
            self._scripts.clear()
            self._hang.set()
            self._hang = threading.Event()

    def get_requests(self):
        with self._lock:
            return [dict(r) for r in self._requests]

    def clear_requests(self):
        with self._lock:
            self._requests.clear()

    def get_allowlist(self):
        with self._lock:
            return {t: sorted(ips) for t, ips in sorted(self._allowlist.items())}

    def set_allowlist(self, allowlist):
        with self._lock:
            self._allowlist = {t: set(ips) for t, ips in allowlist.items()}

    def _answer(self, method, raw_path, body, listener):
        path = raw_path.split("?", 1)[0]
        if path == WHITELIST_PATH and method in ("POST", "DELETE"):
            return self._allowlist_change(method, body)
        if path == "/api/client-ip" and method == "GET":
            with self._lock:
                return 200, "application/json", _compact({"ip": self._ips.get(listener, self._ips[None])})
        if path == "/" and method == "GET":
            with self._lock:
                return 200, "text/plain", ((self._echo_ip or self._ips[None]) + "\n").encode()
        return self._error(404, "not found")

    @staticmethod
    def _error(status, text):
        return status, "application/json", _compact({"ok": False, "error": text})

    def _allowlist_change(self, method, body):
        try:
            # strict: the programs escape only quotes and backslashes.
            data = json.loads(body.decode("utf-8", errors="replace"), strict=False)
            token, ip = str(data["token"]), str(data["ip"])
        except (ValueError, KeyError, TypeError):
            return self._error(400, "not a JSON object with a token and an ip")
        with self._lock:
            ips = self._allowlist.setdefault(token, set())
            changed = (ip not in ips) if method == "POST" else (ip in ips)
            (ips.add if method == "POST" else ips.discard)(ip)
        return 200, "application/json", _compact({"ok": True, "token": token, "ip": ip, "changed": changed})

