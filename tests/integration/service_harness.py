"""The agent installed as a real service under Wine's service control manager.
Under Wine a service sees ProgramData=C:\\users\\Public, so the command-line
runs that share its data folder are given that folder."""
import os
import pathlib
import re
import shutil
import time

from harness import AgentTestCase, DATA_FOLDER_NAME, run, wait_until, win_path, wine_tool

SERVICE = "QORWhitelistIPUpdater"
PUBLIC = "C:\\users\\Public"
SERVICE_DATA = pathlib.Path(os.environ["WHITELIST_WINEPREFIX"]) / "drive_c" / "users" / "Public" / DATA_FOLDER_NAME


def control(*args):
    """service_control's (exit code, stdout, stderr)."""
    r = run(os.environ["WHITELIST_SERVICE_CONTROL"], args, timeout=300)
    return r.code, r.out.decode("utf-8", "replace").replace("\r", ""), r.err.decode("utf-8", "replace")


def sc(*args):
    return wine_tool("sc", *args)


def stop_service():
    """Seconds from the stop request to STOPPED."""
    started = time.monotonic()
    sc("stop", SERVICE)
    # Bounded well below the 60 s poll: a stop waits neither for it nor for a request.
    wait_until(lambda: "STOPPED" in sc("query", SERVICE)[1], "the service to stop", 30)
    return time.monotonic() - started


def remove_service():
    if sc("query", SERVICE)[0] == 0:
        stop_service()
        sc("delete", SERVICE)


def linux_pid(program):
    """The Linux process that runs program (a Unix path) with no arguments, by
    its command line: other build trees run programs of the same name."""
    wanted = win_path(program).lower().encode()
    for cmdline in pathlib.Path("/proc").glob("[0-9]*/cmdline"):
        try:
            if cmdline.read_bytes().rstrip(b"\0").lower() == wanted:
                return int(cmdline.parent.name)
        except OSError:
            pass
    return None


def process_sample(pid):
    """Handles of the running service and its Linux RSS."""
    rss = int(re.search(r"VmRSS:\s+(\d+)", pathlib.Path(f"/proc/{pid}/status").read_text()).group(1))
    code, out, err = control("stats")
    found = re.search(r"handles=(\d+)", out)
    if code != 0 or not found:
        raise AssertionError(f"service_control stats: {code} {out}{err}")
    return {"handles": int(found.group(1)), "rss_kib": rss}


class ServiceTestCase(AgentTestCase):
    """The service installed from the test's copy of whitelist.exe, on a fresh
    data folder; `server` is the suite's loopback server."""

    def setUp(self):
        super().setUp()
        self.server.clear_scripts()
        self.server.clear_requests()
        self.server.set_allowlist({})
        self.url = self.server.url("http")
        remove_service()
        shutil.rmtree(SERVICE_DATA, ignore_errors=True)
        code, out = sc("create", SERVICE, "binPath=", win_path(self.whitelist))
        self.assertEqual(code, 0, out)

    def tearDown(self):
        remove_service()
        shutil.rmtree(SERVICE_DATA, ignore_errors=True)
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
        self.wait_for(lambda: "RUNNING" in sc("query", SERVICE)[1], "the service to run")

    def log(self):
        """The messages of service.log without their time stamps."""
        path = SERVICE_DATA / "service.log"
        text = path.read_bytes().decode("utf-8", "replace") if path.exists() else ""
        return [line[20:] for line in text.split("\r\n") if line]

    def wait_log(self, message, count=1, bound=60):
        self.wait_for(lambda: self.log().count(message) >= count, repr(message), bound)

    def poke(self, *args):
        code, out, err = control(*args)
        self.assertEqual(code, 0, f"service_control {args}: exit {code} {out}{err}; "
                                  f"service: {sc('query', SERVICE)[1]}")
        return out
