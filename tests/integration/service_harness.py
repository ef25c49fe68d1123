"""The agent installed as a real service under Wine's service control manager.
Under Wine a service sees ProgramData=C:\\users\\Public, so the command-line
runs that share its data folder are given that folder."""
import os
import pathlib
import re
import shutil
import subprocess
import time

from harness import LAUNCH_ATTEMPTS, WINE, AgentTestCase, DATA_FOLDER_NAME, allowlist_wire, wait_until, win_path

SERVICE = "QORWhitelistIPUpdater"
PUBLIC = "C:\\users\\Public"
SERVICE_DATA = pathlib.Path(os.environ["WHITELIST_WINEPREFIX"]) / "drive_c" / "users" / "Public" / DATA_FOLDER_NAME
CONTROL = os.environ["WHITELIST_SERVICE_CONTROL"]
WAIT = 60  # generous bound for anything the service does at once


def wine(*args):
    done = subprocess.run([WINE, *args], capture_output=True, timeout=120, stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout.decode("utf-8", "replace").replace("\r", "")


def control(*args):
    """Runs service_control: (exit code, stdout, stderr). The tool reports
    each of its failures on stderr; a failure without that report means Wine
    did not run it at all (seen now and then on a loaded machine), and that
    run is repeated a few times."""
    for attempt in range(3):
        done = subprocess.run([WINE, CONTROL, *args], capture_output=True, timeout=300, stdin=subprocess.DEVNULL)
        err = done.stderr.decode("utf-8", "replace")
        if done.returncode == 0 or "service_control:" in err:
            break
        print(f"service_control {args} did not run (exit {done.returncode}: {err.strip()}); again", flush=True)
        time.sleep(1)
    return done.returncode, done.stdout.decode("utf-8", "replace").replace("\r", ""), err


def sc(*args):
    return wine("sc", *args)


def sc_until(*args, done):
    """Wine's sc prints nothing when it fails, just as when Wine did not
    start it at all: a failed call is repeated while done() says that its
    work has not happened."""
    for attempt in range(LAUNCH_ATTEMPTS):
        code, out = sc(*args)
        if code == 0 or done():
            break
        print(f"sc {args} failed (exit {code}); again", flush=True)
    return code, out


def installed():
    return sc("query", SERVICE)[0] == 0


def remove_service():
    """Stops and deletes the agent's service if it is installed."""
    if not installed() and not installed():  # a second look: see sc_until
        return
    sc("stop", SERVICE)
    wait_until(lambda: "STOPPED" in sc("query", SERVICE)[1], "the service to stop")
    sc("delete", SERVICE)


def linux_pid(program):
    """The Linux process that runs program (a Unix path) with no arguments:
    Wine shows a program's Windows path as its command line. Other build
    trees may run programs of the same name at the same time."""
    wanted = win_path(program).lower()
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            args = (entry / "cmdline").read_bytes().split(b"\0")
        except OSError:
            continue
        if args[0].decode("utf-8", "replace").lower() == wanted and not any(args[1:]):
            return int(entry.name)
    return None


def process_sample(pid):
    """The running service from outside: handles as Wine counts them, its
    working set, and the Linux process's RSS and open descriptors."""
    status = pathlib.Path(f"/proc/{pid}/status").read_text()
    rss = int(re.search(r"VmRSS:\s+(\d+)", status).group(1))
    fds = len(list(pathlib.Path(f"/proc/{pid}/fd").iterdir()))
    code, out, err = control("stats")
    found = re.search(r"handles=(\d+) working_set=(\d+)", out)
    if code != 0 or not found:
        raise AssertionError(f"service_control stats: {code} {out}{err}")
    return {"handles": int(found.group(1)), "working_set": int(found.group(2)), "rss_kib": rss, "fds": fds}


def cpu_and_switches(pid):
    """CPU seconds (user + system) and context switches of all threads."""
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    switches = 0
    for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
        try:
            text = (task / "status").read_text()
        except OSError:
            continue  # a thread that ended meanwhile
        switches += sum(int(n) for n in re.findall(r"ctxt_switches:\s+(\d+)", text))
    return cpu, switches


class ServiceTestCase(AgentTestCase):
    """Installs the service from the test's own copy of whitelist.exe on a
    fresh service data folder; `server` is the suite's loopback server."""

    server = None

    def setUp(self):
        super().setUp()
        self.server.clear_scripts()
        self.server.clear_requests()
        self.server.set_allowlist({})
        self.url = self.server.url("http")
        remove_service()
        shutil.rmtree(SERVICE_DATA, ignore_errors=True)
        code, out = sc_until("create", SERVICE, "binPath=", win_path(self.whitelist), done=installed)
        self.assertEqual(code, 0, out)

    def tearDown(self):
        remove_service()
        shutil.rmtree(SERVICE_DATA, ignore_errors=True)
        super().tearDown()

    def wait_for(self, condition, what, bound=WAIT):
        try:
            return wait_until(condition, what, bound)
        except AssertionError as e:
            self.fail(f"{e}; log: {self.log()[-40:]}")

    def cli(self, *args, exe=None):
        return self.agent(*args, exe=exe, program_data=PUBLIC)

    def configure(self, token="tok"):
        r = self.cli("--token", token, "--server-url", self.url)
        self.assertEqual(r.code, 0, r)
        return r

    def start(self):
        code, out = sc_until("start", SERVICE, done=lambda: "STOPPED" not in sc("query", SERVICE)[1])
        self.assertEqual(code, 0, out)
        self.wait_for(lambda: "RUNNING" in sc("query", SERVICE)[1], "the service to run")
        return out

    def log(self):
        """The messages of service.log without their time stamps."""
        path = SERVICE_DATA / "service.log"
        if not path.exists():
            return []
        return [line[20:] for line in path.read_bytes().decode("utf-8", "replace").split("\r\n") if line]

    def wait_log(self, message, count=1, bound=WAIT):
        self.wait_for(lambda: self.log().count(message) >= count, repr(message), bound)

    def poke(self, *args):
        code, out, err = control(*args)
        self.assertEqual(code, 0, f"service_control {args}: exit {code} {out}{err}; "
                                  f"service: {sc('query', SERVICE)[1]}")
        return out

    def wire(self):
        return allowlist_wire(self.server)
