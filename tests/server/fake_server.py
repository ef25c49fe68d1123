#!/usr/bin/env python3
"""Loopback stand-in for the allowlist server and the public IP echo service.

Integration tests and the demo point the agent and the tray at this process.
It listens on 127.0.0.1 only, over http and optionally https at the same time
(both listeners share one state), and never contacts another host.

Endpoints
  POST/DELETE /api/public/whitelist   body {"token":"..","ip":".."}; keeps one
                                      set of addresses per token.
                                      200 {"ok":true,"token":T,"ip":A,"changed":bool}
                                      (changed: newly added / was present)
                                      400 bad body or no ip, 401 no token,
                                      403 token not in --tokens, 405 other
                                      methods: {"ok":false,"error":"..."}
  GET /api/client-ip                  200 {"ip":"<address>"}
  GET /                               200 text/plain "<echo address>\\n"
  GET /api/auth/customers/name/<name>             customer record (name is
                                                  percent-decoded)
  GET /api/auth/customers/<id>/files              JSON array of file records
  GET /api/auth/customers/<id>/files/<fid>/download   the file's bytes
      all three need "Authorization: Bearer <token>", else 401.

Customers (--customers FILE, or control set_customers), JSON:
  {"tokens": ["T1", ...],            # valid bearer tokens; empty/missing = any
   "customers": [{"id": 7, "name": "BIRCH_LLC",
                  "files": [{"id": 11, "original_name": "a.txt",
                             "content": "text"},        # or "content_b64"
                            ...]}]}
  Records are served with their keys in the given order, compact (no blanks),
  UTF-8 unescaped; "files", "content" and "content_b64" are left out.  Odd
  shapes (quoted ids, name before id) can be written straight into the file.

Control: POST JSON to /_control/<command> on either listener (not recorded).
  set_ip          {"ip": A, "echo_ip": B?}  echo_ip defaults to ip   -> {"ok":true}
  set_tokens      {"tokens": [..] | null}   null = any token          -> {"ok":true}
  set_script      {"method": "POST"|"*", "path": prefix, "responses": [item..]}
                  replaces the script of that method+path; [] removes it
  clear_scripts   {}  also releases hung requests                     -> {"ok":true}
  get_requests    {}  -> [record, ...] oldest first
  clear_requests  {}                                                  -> {"ok":true}
  get_allowlist   {}  -> {token: [sorted addresses], ...}
  set_allowlist   {token: [addresses], ...}  replaces the whole list  -> {"ok":true}
  set_customers   same shape as the --customers file                  -> {"ok":true}
  shutdown        {}  answers {"ok":true}, then stops the server
  Errors: 400/404 {"ok":false,"error":"..."}.

Request record:
  {"seq": n, "time": unix, "listener": "http"|"https", "client": "ip:port",
   "method": M, "path": raw target, "version": "HTTP/1.1",
   "headers": [[name, value], ...] in received order,
   "body": text (undecodable bytes replaced), "body_b64": raw bytes}

Script items are used in order; each serves "times" requests (default 1) or,
with "always": true, every request from then on.  When the list is used up,
normal behaviour returns.  When several scripts match a request, the longest
path prefix wins, then an exact method over "*".  Item fields, all optional:
  status (200), body | body_b64 | json, content_type, headers {name: value}
  (a Content-Length or Content-Type given here replaces ours), delay (seconds,
  before anything else), oversize N (body padded to N bytes with
  fill_pattern), drop_after N (with action drop; default half the body),
  action: "respond" (default) | "normal" (answer as usual, after the delay) |
  "drop" (headers, part of the body, then close) | "hang" (no answer until
  clear_scripts or stop, then close) | "reset" (close with TCP RST, no answer)
  | "trickle" (headers, then the body one byte a second; stops like "hang")

Command line
  fake_server.py [--http-port P] [--https-port Q [--cert C --key K]]
                 [--make-cert DIR] [--ip A] [--echo-ip B] [--tokens a,b]
                 [--customers FILE] [--port-file F] [--verbose]
      Port 0 picks a free port.  --make-cert writes DIR/cert.pem and
      DIR/key.pem (self-signed for 127.0.0.1) unless present and uses them
      when --cert/--key are not given; with no port option it only makes the
      files.  --port-file gets {"http": P, "https": Q|null, "pid": n}.  Prints
      one line "fake_server http=P https=Q|none" on stdout; stops on SIGTERM,
      SIGINT or /_control/shutdown.
  fake_server.py print-allowlist --control-url http://127.0.0.1:P
      Prints "token address" lines, sorted by token then address; tokens
      without addresses print nothing.

Python use
  FakeServer(http_port=0, https_port=None, cert=None, key=None, ip=...,
             echo_ip=None, tokens=None, customers=None).start() / .stop(),
  also a context manager; .http_port, .https_port, .url("http"|"https").
  ControlClient(base_url) drives a server in another process.  Both offer
  the control commands as methods (set_ip, set_script(method, path,
  responses), get_requests, ...) and control(name, payload).
  make_cert(dir) -> (cert, key); fill_pattern(n) -> the oversize padding.
"""

import argparse
import base64
import email.utils
import http
import http.server
import json
import os
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import threading
import time
import urllib.parse
import urllib.request

LOOPBACK = "127.0.0.1"
DEFAULT_IP = "203.0.113.7"
WHITELIST_PATH = "/api/public/whitelist"
CLIENT_IP_PATH = "/api/client-ip"
CUSTOMERS_PREFIX = "/api/auth/customers/"
CONTROL_PREFIX = "/_control/"
MAX_BODY = 64 * 1024 * 1024
FILL = b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
ACTIONS = ("respond", "normal", "drop", "hang", "reset", "trickle")


def fill_pattern(size):
    """The bytes an "oversize" item pads with; tests rebuild it to compare."""
    reps = size // len(FILL) + 1
    return (FILL * reps)[:size]


def make_cert(directory):
    """Create a self-signed cert.pem/key.pem for 127.0.0.1 in directory unless
    both exist; return their paths."""
    os.makedirs(directory, exist_ok=True)
    cert = os.path.join(directory, "cert.pem")
    key = os.path.join(directory, "key.pem")
    if os.path.exists(cert) and os.path.exists(key):
        return cert, key
    cmd = ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
           "-subj", "/CN=127.0.0.1", "-days", "2",
           "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
           "-keyout", key, "-out", cert]
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError("openssl failed: " + done.stderr.strip())
    return cert, key


def _compact(obj):
    # Compact and unescaped: the programs scan for `"id":` byte for byte.
    return json.dumps(obj, separators=(",", ":"), ensure_ascii=False).encode("utf-8")


class ControlError(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


class _Item:
    """One scripted answer, checked when it is set so mistakes show at once."""

    def __init__(self, fields):
        if not isinstance(fields, dict):
            raise ControlError(400, "script item must be an object")
        self.action = fields.get("action", "respond")
        if self.action not in ACTIONS:
            raise ControlError(400, "unknown action: %r" % (self.action,))
        self.status = int(fields.get("status", 200))
        self.delay = float(fields.get("delay", 0))
        self.headers = dict(fields.get("headers", {}))
        self.content_type = fields.get("content_type")
        if "body_b64" in fields:
            self.body = base64.b64decode(fields["body_b64"])
        elif "json" in fields:
            self.body = _compact(fields["json"])
            self.content_type = self.content_type or "application/json"
        else:
            self.body = str(fields.get("body", "")).encode("utf-8")
        if "oversize" in fields:
            size = int(fields["oversize"])
            self.body = (self.body + fill_pattern(size))[:max(size, 0)]
        self.content_type = self.content_type or "text/plain; charset=utf-8"
        self.drop_after = int(fields.get("drop_after", len(self.body) // 2))
        self.always = bool(fields.get("always", False))
        self.left = int(fields.get("times", 1))
        if self.left < 1 and not self.always:
            raise ControlError(400, "times must be at least 1")


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "fake-server/1"
    sys_version = ""

    # --- connection plumbing ---

    def setup(self):
        ctx = self.server.ssl_context
        if ctx is not None:
            # Handshake here, in the connection's own thread, so a silent
            # client cannot stall the accept loop.
            self.request = ctx.wrap_socket(self.request, server_side=True)
        self.server.owner._track(self.request, True)
        super().setup()

    def finish(self):
        try:
            super().finish()
        except OSError:
            pass
        self.server.owner._track(self.request, False)
        if self.server.ssl_context is not None:
            # socketserver closes only the plain socket it accepted, which the
            # TLS wrapper took over; the wrapper has to be closed here.
            self.request.close()

    def log_message(self, fmt, *args):
        if self.server.owner.verbose:
            sys.stderr.write("%s %s\n" % (self.server.listener, fmt % args))

    def _read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            parts = []
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return b"".join(parts)
                parts.append(self.rfile.read(size))
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(min(max(length, 0), MAX_BODY))

    def _send(self, status, body=b"", content_type="application/json",
              headers=None, drop_after=None):
        """Write status line, headers and body in one send where possible, so
        a reader that asks once for available bytes sees the whole body."""
        try:
            reason = http.HTTPStatus(status).phrase
        except ValueError:
            reason = "Status"
        extra = dict(headers or {})
        names = {k.lower() for k in extra}
        lines = ["HTTP/1.1 %d %s" % (status, reason),
                 "Server: " + self.server_version,
                 "Date: " + email.utils.formatdate(usegmt=True)]
        if "content-type" not in names and (body or status != 204):
            lines.append("Content-Type: " + content_type)
        if "content-length" not in names and status != 204 and status >= 200:
            lines.append("Content-Length: %d" % len(body))
        lines += ["%s: %s" % kv for kv in extra.items()]
        if self.close_connection:
            lines.append("Connection: close")
        head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
        if self.command == "HEAD":
            body = b""
        if drop_after is None:
            self.wfile.write(head + body)
            return
        self.wfile.write(head + body[:max(0, min(drop_after, len(body)))])
        self.close_connection = True
        socket.socket.shutdown(self.connection, socket.SHUT_RDWR)

    def _trickle(self, item, released):
        """Headers at once, then one byte of the body a second."""
        body = item.body or fill_pattern(1000)
        self.close_connection = True
        head = ("HTTP/1.1 %d OK\r\nContent-Type: %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                % (item.status, item.content_type, len(body))).encode("latin-1")
        try:
            self.wfile.write(head)
            self.wfile.flush()
            for i in range(len(body)):
                if released.wait(1):
                    return
                self.wfile.write(body[i:i + 1])
                self.wfile.flush()
        except OSError:
            pass  # the client gave up

    def _send_json(self, status, obj):
        self._send(status, _compact(obj))

    def _reset(self):
        # Linger 0 turns the close into a TCP RST rather than an orderly FIN.
        self.close_connection = True
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                   struct.pack("ii", 1, 0))
        self.rfile.close()
        self.connection.close()

    # --- dispatch ---

    def _dispatch(self):
        owner = self.server.owner
        body = self._read_body()
        if self.path.startswith(CONTROL_PREFIX):
            return self._control(body)
        owner._record(self, body)
        item = owner._take_script(self.command, self.path.split("?", 1)[0])
        if item is not None:
            if item.delay > 0 and owner._stopping.wait(item.delay):
                return self._reset()
            if item.action == "reset":
                return self._reset()
            if item.action == "hang":
                owner._hang_event().wait()
                self.close_connection = True
                return
            if item.action == "trickle":
                return self._trickle(item, owner._hang_event())
            if item.action != "normal":
                return self._send(item.status, item.body, item.content_type,
                                  item.headers,
                                  item.drop_after if item.action == "drop" else None)
        status, ctype, out = owner._answer(self.command, self.path,
                                           self.headers, body,
                                           self.client_address[0])
        self._send(status, out, ctype)

    def _control(self, body):
        owner = self.server.owner
        name = self.path[len(CONTROL_PREFIX):].split("?", 1)[0].strip("/")
        try:
            payload = json.loads(body.decode("utf-8")) if body.strip() else {}
        except ValueError as exc:
            return self._send_json(400, {"ok": False, "error": "bad JSON: %s" % exc})
        try:
            result = owner.control(name, payload)
        except ControlError as exc:
            return self._send_json(exc.status, {"ok": False, "error": str(exc)})
        except (TypeError, ValueError, KeyError, AttributeError) as exc:
            return self._send_json(400, {"ok": False, "error": "bad request: %s" % exc})
        self.close_connection = name == "shutdown"
        self._send_json(200, result)
        if name == "shutdown":
            threading.Thread(target=owner.stop, daemon=True).start()

    do_GET = do_POST = do_DELETE = do_PUT = do_PATCH = do_HEAD = do_OPTIONS = _dispatch


class _Listener(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    block_on_close = False  # a hung handler must not hold up stop()

    def __init__(self, owner, port, listener, ssl_context):
        self.owner = owner
        self.listener = listener
        self.ssl_context = ssl_context
        super().__init__((LOOPBACK, port), _Handler)

    def server_bind(self):
        # Skip HTTPServer's reverse lookup of the address; it can stall on
        # machines without working DNS.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    def handle_error(self, request, client_address):
        exc = sys.exc_info()[1]
        if self.owner._stopping.is_set() or isinstance(
                exc, (ConnectionError, ssl.SSLError, TimeoutError, BrokenPipeError)):
            return  # clients going away mid-exchange is what the faults provoke
        sys.stderr.write("fake_server %s: %s: %r\n" % (self.listener, client_address, exc))


class _ControlMethods:
    """Named wrappers shared by the in-process server and the HTTP client."""

    def set_ip(self, ip, echo_ip=None):
        return self.control("set_ip", {"ip": ip, "echo_ip": echo_ip})

    def set_tokens(self, tokens):
        return self.control("set_tokens", {"tokens": tokens})

    def set_script(self, method, path, responses):
        return self.control("set_script", {"method": method, "path": path,
                                           "responses": responses})

    def clear_scripts(self):
        return self.control("clear_scripts", {})

    def get_requests(self):
        return self.control("get_requests", {})

    def clear_requests(self):
        return self.control("clear_requests", {})

    def get_allowlist(self):
        return self.control("get_allowlist", {})

    def set_allowlist(self, allowlist):
        return self.control("set_allowlist", allowlist)

    def set_customers(self, config):
        return self.control("set_customers", config)

    def shutdown(self):
        return self.control("shutdown", {})


class ControlClient(_ControlMethods):
    """Drives a server running in another process through /_control/."""

    def __init__(self, base_url, timeout=10):
        self.base_url = base_url.rstrip("/")
        self.timeout = timeout

    def control(self, name, payload):
        req = urllib.request.Request(self.base_url + CONTROL_PREFIX + name,
                                     data=_compact(payload), method="POST",
                                     headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(req, timeout=self.timeout) as resp:
            return json.loads(resp.read().decode("utf-8"))


class FakeServer(_ControlMethods):
    """The server, for use in-process: FakeServer(...).start() ... stop()."""

    def __init__(self, http_port=0, https_port=None, cert=None, key=None,
                 ip=DEFAULT_IP, echo_ip=None, tokens=None, customers=None,
                 verbose=False):
        self.verbose = verbose
        self._lock = threading.Lock()
        self._ip, self._echo_ip = ip, echo_ip
        self._tokens = None if tokens is None else set(tokens)
        self._allowlist = {t: set() for t in (tokens or [])}
        self._customers = {}
        self._set_customers(customers or {})
        self._scripts = {}
        self._requests = []
        self._hang = threading.Event()
        self._stopping = threading.Event()
        self._stopped = threading.Event()
        self._conns = set()
        self._threads = []
        self._listeners = [_Listener(self, http_port, "http", None)]
        if https_port is not None:
            if not (cert and key):
                raise ValueError("https needs cert and key")
            try:
                ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                ctx.load_cert_chain(cert, key)
                self._listeners.append(_Listener(self, https_port, "https", ctx))
            except BaseException:
                self._listeners[0].server_close()  # a port in use must not leak the other
                raise

    # --- life cycle ---

    @property
    def http_port(self):
        return self._listeners[0].server_port

    @property
    def https_port(self):
        return self._listeners[1].server_port if len(self._listeners) > 1 else None

    def url(self, scheme="http"):
        port = self.http_port if scheme == "http" else self.https_port
        return "%s://%s:%d" % (scheme, LOOPBACK, port)

    def start(self):
        for lst in self._listeners:
            t = threading.Thread(target=lst.serve_forever, kwargs={"poll_interval": 0.2},
                                 name="fake-" + lst.listener, daemon=True)
            t.start()
            self._threads.append(t)
        return self

    def stop(self):
        with self._lock:
            if self._stopping.is_set():
                first = False
            else:
                first = True
                self._stopping.set()
                self._hang.set()
        if not first:
            self._stopped.wait()
            return
        for lst in self._listeners:
            if self._threads:
                lst.shutdown()
            lst.server_close()
        with self._lock:
            conns = list(self._conns)
        for conn in conns:  # idle keep-alive and hung connections
            try:
                socket.socket.shutdown(conn, socket.SHUT_RDWR)
            except OSError:
                pass
        for t in self._threads:
            t.join(5)
        self._stopped.set()

    def wait(self, timeout=None):
        return self._stopped.wait(timeout)

    def shutdown(self):
        self.stop()
        return {"ok": True}

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def _track(self, conn, add):
        with self._lock:
            (self._conns.add if add else self._conns.discard)(conn)

    def _hang_event(self):
        with self._lock:
            return self._hang

    # --- state ---

    def _set_customers(self, config):
        tokens = config.get("tokens") or []
        customers = list(config.get("customers") or [])
        for c in customers:
            if "id" not in c or "name" not in c:
                raise ControlError(400, "each customer needs id and name")
        with self._lock:
            self._customers = {"tokens": set(tokens), "customers": customers}

    def _record(self, handler, body):
        with self._lock:
            self._requests.append({
                "seq": len(self._requests) + 1,
                "time": time.time(),
                "listener": handler.server.listener,
                "client": "%s:%d" % handler.client_address[:2],
                "method": handler.command,
                "path": handler.path,
                "version": handler.request_version,
                "headers": [[k, v] for k, v in handler.headers.items()],
                "body": body.decode("utf-8", errors="replace"),
                "body_b64": base64.b64encode(body).decode("ascii"),
            })

    def _take_script(self, method, path):
        with self._lock:
            best = None
            for (m, prefix), items in self._scripts.items():
                if items and path.startswith(prefix) and m in ("*", method):
                    rank = (len(prefix), m != "*")
                    if best is None or rank > best[0]:
                        best = (rank, items)
            if best is None:
                return None
            items = best[1]
            item = items[0]
            if not item.always:
                item.left -= 1
                if item.left <= 0:
                    items.pop(0)
            return item

    def control(self, name, p):
        """Run one control command (same names and shapes as /_control/)."""
        if not isinstance(p, dict):
            raise ControlError(400, "body must be a JSON object")
        if name == "set_ip":
            with self._lock:
                self._ip, self._echo_ip = str(p["ip"]), p.get("echo_ip")
        elif name == "set_tokens":
            tokens = p.get("tokens")
            with self._lock:
                self._tokens = None if tokens is None else set(map(str, tokens))
        elif name == "set_script":
            method = str(p.get("method") or "*").upper()
            items = [_Item(s) for s in p.get("responses", [])]
            with self._lock:
                self._scripts[(method, str(p["path"]))] = items
        elif name == "clear_scripts":
            with self._lock:
                self._scripts.clear()
                self._hang.set()
                self._hang = threading.Event()
        elif name == "get_requests":
            with self._lock:
                return [dict(r) for r in self._requests]
        elif name == "clear_requests":
            with self._lock:
                self._requests.clear()
        elif name == "get_allowlist":
            with self._lock:
                return {t: sorted(ips) for t, ips in sorted(self._allowlist.items())}
        elif name == "set_allowlist":
            with self._lock:
                self._allowlist = {str(t): set(map(str, ips)) for t, ips in p.items()}
        elif name == "set_customers":
            self._set_customers(p)
        elif name == "shutdown":
            pass  # the HTTP handler stops the server after answering
        else:
            raise ControlError(404, "unknown control command: " + name)
        return {"ok": True}

    # --- normal answers: (status, content type, body) ---

    def _answer(self, method, raw_path, headers, body, peer):
        path = raw_path.split("?", 1)[0]
        if path == WHITELIST_PATH:
            if method not in ("POST", "DELETE"):
                return self._error(405, "method not allowed")
            return self._allowlist_change(method, body)
        if path == CLIENT_IP_PATH and method == "GET":
            with self._lock:
                return 200, "application/json", _compact({"ip": self._ip})
        if path == "/" and method == "GET":
            with self._lock:
                echo = self._echo_ip if self._echo_ip is not None else self._ip
            return 200, "text/plain", (echo + "\n").encode("utf-8")
        if path.startswith(CUSTOMERS_PREFIX) and method == "GET":
            return self._customer_get(path[len(CUSTOMERS_PREFIX):], headers)
        return self._error(404, "not found")

    @staticmethod
    def _error(status, text):
        return status, "application/json", _compact({"ok": False, "error": text})

    def _allowlist_change(self, method, body):
        try:
            # strict=False: the programs escape only quotes and backslashes,
            # so control characters arrive raw inside the strings.
            data = json.loads(body.decode("utf-8", errors="replace"), strict=False)
        except ValueError:
            return self._error(400, "body is not valid JSON")
        if not isinstance(data, dict):
            return self._error(400, "body must be a JSON object")
        token, ip = data.get("token"), data.get("ip")
        if not isinstance(token, str) or not token:
            return self._error(401, "missing rule token")
        if not isinstance(ip, str) or not ip:
            return self._error(400, "missing ip")
        with self._lock:
            if self._tokens is not None and token not in self._tokens:
                return self._error(403, "unknown rule token")
            ips = self._allowlist.setdefault(token, set())
            changed = (ip not in ips) if method == "POST" else (ip in ips)
            (ips.add if method == "POST" else ips.discard)(ip)
        return 200, "application/json", _compact(
            {"ok": True, "token": token, "ip": ip, "changed": changed})

    def _customer_get(self, rest, headers):
        auth = headers.get("Authorization", "")
        bearer = auth[7:].strip() if auth[:7].lower() == "bearer " else ""
        with self._lock:
            tokens = self._customers["tokens"]
            customers = self._customers["customers"]
        if not bearer or (tokens and bearer not in tokens):
            return 401, "application/json", _compact({"error": "Unauthorized"})
        parts = rest.split("/")
        if len(parts) == 2 and parts[0] == "name":
            name = urllib.parse.unquote(parts[1])
            found = [c for c in customers if c["name"] == name]
            if not found:
                return 404, "application/json", _compact({"error": "Customer not found"})
            rec = {k: v for k, v in found[0].items() if k != "files"}
            return 200, "application/json", _compact(rec)
        found = [c for c in customers if str(c["id"]) == parts[0]]
        if not found:
            return 404, "application/json", _compact({"error": "Customer not found"})
        files = found[0].get("files") or []
        if len(parts) == 2 and parts[1] == "files":
            hidden = ("content", "content_b64")
            return 200, "application/json", _compact(
                [{k: v for k, v in f.items() if k not in hidden} for f in files])
        if len(parts) == 4 and parts[1] == "files" and parts[3] == "download":
            for f in files:
                if str(f.get("id")) == parts[2]:
                    if "content_b64" in f:
                        data = base64.b64decode(f["content_b64"])
                    else:
                        data = str(f.get("content", "")).encode("utf-8")
                    return 200, "application/octet-stream", data
            return 404, "application/json", _compact({"error": "File not found"})
        return 404, "application/json", _compact({"error": "not found"})


def _print_allowlist(argv):
    ap = argparse.ArgumentParser(prog="fake_server.py print-allowlist")
    ap.add_argument("--control-url", required=True)
    args = ap.parse_args(argv)
    for token, ips in sorted(ControlClient(args.control_url).get_allowlist().items()):
        for ip in ips:
            print("%s %s" % (token, ip))
    return 0


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv[:1] == ["print-allowlist"]:
        return _print_allowlist(argv[1:])
    ap = argparse.ArgumentParser(description="Loopback fake of the allowlist "
                                 "server and the IP echo service.")
    ap.add_argument("--http-port", type=int)
    ap.add_argument("--https-port", type=int)
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--make-cert", metavar="DIR")
    ap.add_argument("--ip", default=DEFAULT_IP)
    ap.add_argument("--echo-ip")
    ap.add_argument("--tokens", help="comma-separated valid rule tokens")
    ap.add_argument("--customers", metavar="FILE")
    ap.add_argument("--port-file")
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args(argv)

    if args.make_cert:
        cert, key = make_cert(args.make_cert)
        if args.http_port is None and args.https_port is None:
            return 0
        args.cert, args.key = args.cert or cert, args.key or key
    customers = None
    if args.customers:
        with open(args.customers, encoding="utf-8") as f:
            customers = json.load(f)
    tokens = [t for t in args.tokens.split(",") if t] if args.tokens else None
    try:
        server = FakeServer(args.http_port or 0, args.https_port, args.cert,
                            args.key, args.ip, args.echo_ip, tokens, customers,
                            args.verbose)
    except (OSError, ValueError, ssl.SSLError, ControlError) as exc:
        sys.stderr.write("fake_server: %s\n" % exc)
        return 2

    stop_now = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stop_now.set())
    server.start()
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump({"http": server.http_port, "https": server.https_port,
                       "pid": os.getpid()}, f)
        os.replace(tmp, args.port_file)  # readers never see a half-written file
    print("fake_server http=%d https=%s"
          % (server.http_port, server.https_port or "none"), flush=True)
    while not stop_now.is_set() and not server.wait(0.2):
        pass
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
