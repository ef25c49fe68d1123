#!/usr/bin/env python3
"""The tests' loopback server as a program of its own, for the demo.

  demo_server.py [--http-port P] [--https-port Q] [--make-cert DIR] [--ip A]
                 [--echo-ip B] [--port-file F]
      Port 0 picks a free port; --make-cert writes (or reuses) DIR/cert.pem
      and DIR/key.pem for https. --port-file gets {"http": P, "https": Q,
      "pid": n}, written whole. Stops on SIGTERM or SIGINT.
  demo_server.py print-allowlist --control-url http://127.0.0.1:P
      Prints "token address" lines, sorted.

Control: POST a JSON object to /_control/<method> on either listener calls
that method of the server with the object's members as arguments (set_ip,
get_allowlist, set_script, ...) and answers its result as JSON."""
import argparse
import json
import os
import pathlib
import signal
import sys
import threading
import urllib.request

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "server"))
from fake_server import FakeServer, _compact, make_cert  # noqa: E402

CONTROL_PREFIX = "/_control/"


class DemoServer(FakeServer):
    @property
    def https_port(self):
        return self._listeners[1].server_address[1] if len(self._listeners) > 1 else None

    def _answer(self, method, raw_path, body, listener):
        if not raw_path.startswith(CONTROL_PREFIX):
            return super()._answer(method, raw_path, body, listener)
        name = raw_path[len(CONTROL_PREFIX):].split("?", 1)[0].strip("/")
        if name.startswith("_") or not hasattr(self, name):
            return self._error(404, "unknown control command: " + name)
        try:
            result = getattr(self, name)(**(json.loads(body) if body.strip() else {}))
        except (TypeError, ValueError, KeyError) as exc:
            return self._error(400, f"bad request: {exc}")
        return 200, "application/json", _compact({"ok": True} if result is None else result)


class ControlClient:
    """Drives a server in another process through /_control/."""

    def __init__(self, base_url, timeout=10):
        self.base_url = base_url.rstrip("/")
        self.timeout = timeout

    def control(self, name, **payload):
        req = urllib.request.Request(self.base_url + CONTROL_PREFIX + name, data=_compact(payload),
                                     method="POST", headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(req, timeout=self.timeout) as resp:
            return json.loads(resp.read().decode("utf-8"))

    def set_ip(self, ip, echo_ip=None):
        return self.control("set_ip", ip=ip, echo_ip=echo_ip)

    def get_allowlist(self):
        return self.control("get_allowlist")


def main(argv):
    if argv[:1] == ["print-allowlist"]:
        ap = argparse.ArgumentParser(prog="demo_server.py print-allowlist")
        ap.add_argument("--control-url", required=True)
        args = ap.parse_args(argv[1:])
        for token, ips in sorted(ControlClient(args.control_url).get_allowlist().items()):
            for ip in ips:
                print(f"{token} {ip}")
        return 0
    ap = argparse.ArgumentParser(description="Loopback allowlist server and IP echo service.")
    ap.add_argument("--http-port", type=int, default=0)
    ap.add_argument("--https-port", type=int)
    ap.add_argument("--make-cert", metavar="DIR")
    ap.add_argument("--ip", default="203.0.113.7")
    ap.add_argument("--echo-ip")
    ap.add_argument("--port-file")
    args = ap.parse_args(argv)
    cert, key = make_cert(args.make_cert) if args.make_cert else (None, None)
    try:
        server = DemoServer(args.http_port, args.https_port, cert, key, args.ip, args.echo_ip)
    except (OSError, ValueError) as exc:
        sys.stderr.write(f"demo_server: {exc}\n")
        return 2
    stop_now = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stop_now.set())
    server.start()
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump({"http": server.http_port, "https": server.https_port, "pid": os.getpid()}, f)
        os.replace(tmp, args.port_file)  # readers never see a half-written file
    print(f"demo_server http={server.http_port} https={server.https_port or 'none'}", flush=True)
    stop_now.wait()
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
