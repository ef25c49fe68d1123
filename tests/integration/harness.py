"""Runs the real Windows programs under Wine through the launcher (Wine
forces ProgramData for processes started from Linux), each test with a data
folder of its own. `harness.py --wine=W --launcher=L PROGRAM ARGS...` runs
a test program for CTest."""
import base64
import errno
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import types
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "server"))
from fake_server import FakeServer, make_cert  # noqa: E402

BIN_DIR = pathlib.Path(os.environ.get("WHITELIST_BIN_DIR", ""))
WINE = os.environ.get("WHITELIST_WINE")
LAUNCHER = os.environ.get("WHITELIST_LAUNCHER")
DATA_FOLDER_NAME = "QOR Whitelist IP Updater"
CONFIG_KEY_HEX = b"Rw8TqLm2VbN5xZc7".hex()
ECHO_PORT = int(os.environ.get("WHITELIST_ECHO_PORT", "0"))
LAUNCH_ATTEMPTS = 3


SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]
WM_USER = 0x400


def product_constants(*headers):
    """The whole-number constants and enumerators of the product's headers (paths from the source root), by
    name, so that a test follows the product's ids instead of copying them."""
    found = {}
    for header in headers:
        for name, user, value in re.findall(r"\b([A-Z][A-Z0-9_]*)\s*=\s*(WM_USER\s*\+\s*)?(0x[0-9A-Fa-f]+|\d+)\b",
                                            (SOURCE_DIR / header).read_text()):
            found[name] = int(value, 0) + (WM_USER if user else 0)
    return types.SimpleNamespace(**found)


def start_server_with_echo(ip, echo_ip=None, **options):
    """The loopback server, started, with https on the test builds' fixed echo
    port, which another build tree's run may hold for a while."""
    deadline = time.monotonic() + 180
    with tempfile.TemporaryDirectory(prefix="wl-cert-") as cert_dir:
        cert, key = make_cert(cert_dir)
        while True:
            try:
                # The listener loads the files now: the folder can go at once.
                return FakeServer(https_port=ECHO_PORT, cert=cert, key=key, ip=ip, echo_ip=echo_ip, **options).start()
            except OSError as e:
                if e.errno != errno.EADDRINUSE or time.monotonic() > deadline:
                    raise
                time.sleep(1)


def wait_until(condition, what, bound=60):
    deadline = time.monotonic() + bound
    while not (value := condition()):
        if time.monotonic() > deadline:
            raise AssertionError(f"waited {bound} s for {what}")
        time.sleep(0.2)
    return value


def allowlist_wire(server):
    """"METHOD ip token" of the allowlist requests the server saw, in order."""
    sent = [(r["method"], json.loads(r["body"])) for r in server.get_requests() if r["path"] == "/api/public/whitelist"]
    return [f'{method} {body["ip"]} {body["token"]}' for method, body in sent]


def win_path(path):
    return "Z:" + str(path).replace("/", "\\")


def crlf(*lines):
    """Console output: the C runtime's text mode turns each "\\n" into CR LF."""
    return b"".join(line.encode() + b"\r\n" for line in lines)


class Result:
    def __init__(self, code, out, err):
        self.code, self.out, self.err = code, out, err

    def __repr__(self):
        return f"exit {self.code}, stdout {self.out!r}, stderr {self.err[-400:]!r}"


def launch_command(program, args=(), program_data=None, desktop=None, show=None, env=()):
    """The command that starts program (a Unix path, or a Windows one such as
    SC) through the launcher, and the stamp file the launcher creates first."""
    stamp = pathlib.Path(tempfile.mkdtemp(prefix="wl-launch-")) / "started"
    chosen = (("--desktop=", desktop), ("--show=", show), ("ProgramData=", program_data))
    options = [f"--stamp={win_path(stamp)}"] + [f"{name}{value}" for name, value in chosen if value is not None]
    options += [f"{name}={value}" for name, value in env]
    program = program if isinstance(program, str) and ":" in program else win_path(program)
    return [WINE, LAUNCHER, *options, "--", program, *map(str, args)], stamp


def run(program, args=(), program_data=None, timeout=60, desktop=None, show=None, capture=True, env=()):
    """Runs program to its end; program_data None leaves ProgramData as Wine
    sets it. A run without its stamp never ran (Wine on a loaded machine now
    and then fails a start) and is made again."""
    for attempt in range(LAUNCH_ATTEMPTS):
        command, stamp = launch_command(program, args, program_data, desktop, show, env)
        if not capture:
            result = Result(subprocess.run(command, timeout=timeout, stdin=subprocess.DEVNULL).returncode, b"", b"")
        else:
            # stderr goes to a file: a process the program leaves behind (the
            # shell's folder window) keeps it open, and a pipe would never end.
            with tempfile.TemporaryFile() as err:
                done = subprocess.run(command, stdout=subprocess.PIPE, stderr=err, timeout=timeout,
                                      stdin=subprocess.DEVNULL)
                err.seek(0)
                result = Result(done.returncode, done.stdout, err.read())
        started = stamp.exists()
        shutil.rmtree(stamp.parent, ignore_errors=True)
        if started:
            break
        print(f"{program} {list(args)[:3]} ({result!r}): not started by Wine; again", file=sys.stderr, flush=True)
    return result


def wine_tool(name, *args, timeout=120):
    r = run(rf"C:\windows\system32\{name}.exe", args, timeout=timeout)
    return r.code, r.out.decode("latin-1").replace("\r", "")


def _openssl_cfb(iv, data, *decrypt):
    return subprocess.run(["openssl", "enc", *decrypt, "-aes-128-cfb", "-K", CONFIG_KEY_HEX, "-iv", iv.hex()],
                          input=data, capture_output=True, check=True).stdout


def decrypt_config(path):
    """The openssl CLI's reading of a configuration file (not our code's)."""
    raw = base64.b64decode(pathlib.Path(path).read_bytes(), validate=True)
    return _openssl_cfb(raw[:16], raw[16:], "-d")


def encrypt_config(path, plain):
    iv = os.urandom(16)
    pathlib.Path(path).parent.mkdir(parents=True, exist_ok=True)
    pathlib.Path(path).write_bytes(base64.b64encode(iv + _openssl_cfb(iv, plain)))


class AgentTestCase(unittest.TestCase):
    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="wl-it-"))
        self.base = self.tmp / "ProgramData"
        self.base.mkdir()
        self.data = self.base / DATA_FOLDER_NAME
        self.program_dir = self.tmp / "app"
        self.program_dir.mkdir()
        self.whitelist = self.program_dir / "whitelist.exe"
        self.sync = self.program_dir / "sync.exe"
        shutil.copyfile(BIN_DIR / "whitelist.exe", self.whitelist)
        shutil.copyfile(BIN_DIR / "sync.exe", self.sync)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def agent(self, *args, exe=None, program_data=..., env=()):
        return run(exe or self.whitelist, args, win_path(self.base) if program_data is ... else program_data, env=env)

    def status_json(self, **options):
        """`status --json`: its exit code and its one ASCII line, parsed, with the version checked and left out."""
        r = self.agent("status", "--JSON", **options)
        self.assertTrue(r.out.isascii() and r.out.endswith(b"}\r\n") and r.out.count(b"\n") == 1, r)
        status = json.loads(r.out)
        self.assertRegex(status.pop("version"), r"^\d+\.\d+\.\d+$")
        return r.code, status


if __name__ == "__main__":
    options = dict(a[2:].split("=", 1) for a in sys.argv[1:3])
    WINE, LAUNCHER = options["wine"], options["launcher"]
    sys.exit(run(sys.argv[3], sys.argv[4:], timeout=None, capture=False).code)
