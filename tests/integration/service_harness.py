"""The agent installed as a real service under Wine's service control manager, where a service sees
ProgramData=C:\\users\\Public: command-line runs and installers that share its data folder are given it."""
import os
import pathlib
import re
import shutil

from harness import AgentTestCase, DATA_FOLDER_NAME, run, start_server_with_echo, wait_until, win_path, wine_tool

SERVICE = "QORWhitelistIPUpdater"
PUBLIC = "C:\\users\\Public"
PREFIX = pathlib.Path(os.environ["WHITELIST_WINEPREFIX"])
SERVICE_DATA = PREFIX / "drive_c" / "users" / "Public" / DATA_FOLDER_NAME
WHITELIST = "/api/public/whitelist"


def control(*args):
    r = run(os.environ["WHITELIST_SERVICE_CONTROL"], args, timeout=300)
    return r.code, r.out.decode("utf-8", "replace").replace("\r", ""), r.err.decode("utf-8", "replace")


def sc(*args):
    return wine_tool("sc", *args)


def service_state():
    """The STATE line's name, or None when the service does not exist."""
    m = re.search(r"STATE\s*:\s*\d+\s+(\w+)", sc("query", SERVICE)[1])
    return m.group(1) if m else None


def stop_service():
    sc("stop", SERVICE)
    # Bounded well below the 60 s poll: a stop waits neither for it nor for a request.
    wait_until(lambda: service_state() == "STOPPED", "the service to stop", 30)


def remove_service():
    """The service stopped and deleted, and its data folder gone."""
    if service_state():
        stop_service()
        sc("delete", SERVICE)
    shutil.rmtree(SERVICE_DATA, ignore_errors=True)


def set_reassert(seconds):
    key = rf"HKLM\System\CurrentControlSet\Services\{SERVICE}\Parameters"
    assert wine_tool("reg", "add", key, "/v", "ReassertSeconds", "/t", "REG_DWORD", "/d", str(seconds), "/f")[0] == 0


def linux_pid(program):
    """The Linux process running program (a Unix path) alone, by its command line: other trees run the same names."""
    wanted = win_path(program).lower().encode()
    for cmdline in pathlib.Path("/proc").glob("[0-9]*/cmdline"):
        try:
            if cmdline.read_bytes().rstrip(b"\0").lower() == wanted:
                return int(cmdline.parent.name)
        except OSError:
            pass
    return None


def process_sample(pid):
    rss = int(re.search(r"VmRSS:\s+(\d+)", pathlib.Path(f"/proc/{pid}/status").read_text()).group(1))
    code, out, err = control("stats")
    found = re.search(r"handles=(\d+)", out)
    assert code == 0 and found, f"service_control stats: {code} {out}{err}"
    return {"handles": int(found.group(1)), "rss_kib": rss}


class ServiceTestCase(AgentTestCase):
    """The service installed from the test's whitelist.exe on a fresh data folder; `server` starts each at `ip`."""
    reassert_seconds = 0  # ReassertSeconds, read at start and each reload. Never: a wire holds what a test caused

    @classmethod
    def setUpClass(cls):
        cls.server = start_server_with_echo(cls.ip)
        cls.addClassCleanup(cls.server.stop)

    def setUp(self):
        super().setUp()
        self.server.clear_scripts()
        self.server.clear_requests()
        self.server.set_allowlist({})
        self.server.set_ip(self.ip)
        self.url = self.server.url("http")
        remove_service()
        code, out = sc("create", SERVICE, "binPath=", win_path(self.whitelist))
        self.assertEqual(code, 0, out)
        set_reassert(self.reassert_seconds)

    def tearDown(self):
        remove_service()
        super().tearDown()

    def wait_for(self, condition, what, bound=60):
        try:
            return wait_until(condition, what, bound)
        except AssertionError as e:
            self.fail(f"{e}; log: {self.log()[-40:]}")

    def cli(self, *args):
        return self.agent(*args, program_data=PUBLIC)

    def configure(self, token="tok"):
        r = self.cli("--token", token, "--server-url", self.url)
        self.assertEqual(r.code, 0, r)

    def start(self):
        code, out = sc("start", SERVICE)
        self.assertEqual(code, 0, out)
        self.wait_for(lambda: service_state() == "RUNNING", "the service to run")

    def log(self):
        """The messages of service.log without their time stamps."""
        path = SERVICE_DATA / "service.log"
        text = path.read_bytes().decode("utf-8", "replace") if path.exists() else ""
        return [line[20:] for line in text.split("\r\n") if line]

    def wait_log(self, message, bound=60):
        self.wait_for(lambda: message in self.log(), repr(message), bound)

    def poke(self, *args):
        code, out, err = control(*args)
        self.assertEqual(code, 0, f"service_control {args}: exit {code} {out}{err}; service: {service_state()}")
        return out
