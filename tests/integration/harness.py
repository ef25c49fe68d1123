"""Runs the real Windows programs under Wine, each test with a data folder of
its own (ProgramData is set through the launcher, since Wine forces it for
processes started from Linux)."""
import errno
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "server"))
from fake_server import FakeServer, make_cert  # noqa: E402

BIN_DIR = pathlib.Path(os.environ["WHITELIST_BIN_DIR"])
WINE = os.environ["WHITELIST_WINE"]
LAUNCHER = os.environ["WHITELIST_LAUNCHER"]
DATA_FOLDER_NAME = "QOR Whitelist IP Updater"
CONFIG_KEY_HEX = b"Rw8TqLm2VbN5xZc7".hex()
ECHO_PORT = int(os.environ.get("WHITELIST_ECHO_PORT", "0"))
LAUNCH_ATTEMPTS = 3


def start_server_with_echo(ip, echo_ip=None, port_wait=180):
    """The loopback server over http, also answering as the echo service on
    the fixed https port the test builds ask; started. The port is
    machine-wide: a run of another build tree may hold it for a while."""
    deadline = time.monotonic() + port_wait
    with tempfile.TemporaryDirectory(prefix="wl-cert-") as cert_dir:
        cert, key = make_cert(cert_dir)
        while True:
            try:
                # The listener loads the files now: the folder can go at once.
                return FakeServer(http_port=0, https_port=ECHO_PORT, cert=cert, key=key, ip=ip,
                                  echo_ip=echo_ip).start()
            except OSError as e:
                if e.errno != errno.EADDRINUSE or time.monotonic() > deadline:
                    raise
                time.sleep(1)


def wait_until(condition, what, bound=60):
    """Polls condition() until it returns something true, which it returns;
    the bound is against hangs, not a measured expectation."""
    deadline = time.monotonic() + bound
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"waited {bound} s for {what}")
        time.sleep(0.2)


def allowlist_wire(server):
    """"METHOD ip token" of the allowlist requests the server saw, in order."""
    out = []
    for r in server.get_requests():
        if r["path"] == "/api/public/whitelist":
            body = json.loads(r["body"])
            out.append(f'{r["method"]} {body["ip"]} {body["token"]}')
    return out


def win_path(path):
    """The Wine name of a Unix path."""
    return "Z:" + str(path).replace("/", "\\")


def crlf(*lines):
    """Console output: the C runtime's text mode turns each "\\n" into CR LF."""
    return b"".join(line.encode() + b"\r\n" for line in lines)


class Result:
    def __init__(self, code, out, err):
        self.code, self.out, self.err = code, out, err

    def __repr__(self):
        return f"exit {self.code}, stdout {self.out!r}, stderr {self.err[-400:]!r}"


def run(exe, args, program_data, timeout=60):
    """Runs exe (a Unix path) with args; program_data is the base folder's
    Windows path, or None to leave ProgramData as Wine sets it."""
    env_args = [] if program_data is None else [f"ProgramData={program_data}"]
    with tempfile.TemporaryDirectory(prefix="wl-launch-") as folder:
        stamp = pathlib.Path(folder) / "started"
        command = [WINE, LAUNCHER, f"--stamp={win_path(stamp)}", *env_args, "--", win_path(exe), *args]
        # Wine on a loaded machine now and then fails to start a program; the
        # launcher's stamp tells such a run from the program's own failure.
        for attempt in range(LAUNCH_ATTEMPTS):
            result = run_once(command, timeout)
            if stamp.exists():
                return result
            print(f"launcher not started by Wine ({result!r}); again", file=sys.stderr, flush=True)
        return result


def run_once(command, timeout):
    # stderr goes to a file: a process that the program leaves behind (the
    # shell's folder window) keeps it open, and a pipe would never end.
    with tempfile.TemporaryFile() as err:
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=err, timeout=timeout,
                              stdin=subprocess.DEVNULL)
        err.seek(0)
        return Result(done.returncode, done.stdout, err.read())


def decrypt_config(path):
    """Decrypts a configuration file with the openssl CLI (independent of our code)."""
    import base64
    raw = base64.b64decode(pathlib.Path(path).read_bytes(), validate=True)
    done = subprocess.run(
        ["openssl", "enc", "-d", "-aes-128-cfb", "-K", CONFIG_KEY_HEX, "-iv", raw[:16].hex()],
        input=raw[16:], capture_output=True, check=True)
    return done.stdout


def encrypt_config(path, plain):
    """Writes a configuration file with the openssl CLI, for settings that
    configure mode would refuse (a token without a server URL)."""
    import base64
    iv = os.urandom(16)
    done = subprocess.run(
        ["openssl", "enc", "-aes-128-cfb", "-K", CONFIG_KEY_HEX, "-iv", iv.hex()],
        input=plain, capture_output=True, check=True)
    pathlib.Path(path).parent.mkdir(parents=True, exist_ok=True)
    pathlib.Path(path).write_bytes(base64.b64encode(iv + done.stdout))


class AgentTestCase(unittest.TestCase):
    """A private ProgramData base, and whitelist.exe/sync.exe copied into a
    folder of the test's own."""

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

    def agent(self, *args, exe=None, program_data=...):
        if program_data is ...:
            program_data = win_path(self.base)
        return run(exe or self.whitelist, list(args), program_data)

    def data_file(self, name):
        return self.data / name

    def win_data_file(self, name):
        return win_path(self.data / name)
