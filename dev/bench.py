"""./run bench: what the shipped programs cost, as ratios.

  sync      (sync wall time - a do-nothing program's wall time) / (exchanges x
            delay) with the loopback server delaying every request: 1.0 would
            be a sync that costs nothing beyond waiting for the network
  service   server requests per hour at rest (address questions and
            re-assertions of the unchanged address) relative to one question a
            minute before re-assertion; CPU time and wake-ups (context switches
            of all threads) per idle minute, over one re-assertion period; RSS
            and handles after 40 cycles relative to after 10 (reloads
            start at most one cycle per 5 s); server requests and log lines
            per 100 reload sets in a burst; time from a stop request to
            STOPPED while the server holds a request open, relative to a stop
            at rest
  wake      time from a change of the public address to the new address on
            the server's allowlist with the service running, relative to the
            60 s poll; under Wine no address notice or resume reaches the
            service, so the changes are placed at spread points of the poll
            interval and found by the poll
  tray      round trip of WM_NULL to the status window while a refresh waits
            on a slow server, relative to the round trip at rest
  sizes     whitelist.exe and tray.exe for x86 and x64, and the x86/x64 ratio

Run by ./run bench with the release programs in WHITELIST_BIN_DIR and the test
tools of the win64 tree; `bench.py [NAME...]` runs only the named ones."""
import contextlib
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "integration"))
from harness import BIN_DIR, FakeServer, launch_command, run, win_path  # noqa: E402
from service_harness import (PUBLIC, SERVICE, SERVICE_DATA, control, linux_pid,  # noqa: E402
                             process_sample, remove_service, sc, wait_until)

TOOLS = pathlib.Path(os.environ["WHITELIST_LAUNCHER"]).parent
ADDRESS = "198.51.100.77"
REPEATS = int(os.environ.get("BENCH_REPEATS", "7"))
# One re-assertion period of the release build, from half-way between two polls.
IDLE_SECONDS = float(os.environ.get("BENCH_IDLE_SECONDS", "300"))
POLLS_PER_HOUR = 60
CYCLES = 40


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


@contextlib.contextmanager
def serving(**options):
    server = FakeServer(**options).start()
    try:
        yield server
    finally:
        server.stop()


def say(text):
    print(text, flush=True)


def timed(exe, args, program_data):
    start = time.monotonic()
    r = run(exe, args, program_data, timeout=300)
    return time.monotonic() - start, r


def bench_sync():
    tmp = pathlib.Path(tempfile.mkdtemp(prefix="wl-bench-"))
    try:
        data = win_path(tmp)
        with serving(http_port=0, ip=ADDRESS) as server:
            r = run(BIN_DIR / "whitelist.exe", ["--token", "tok", "--server-url", server.url()], data)
            assert r.code == 0, r
            for delay in (0.2, 1.0):
                server.set_script("*", "/", [{"action": "normal", "delay": delay, "always": True}])
                timed(TOOLS / "do_nothing.exe", [], data)  # warm the file cache
                nothing = [timed(TOOLS / "do_nothing.exe", [], data)[0] for _ in range(REPEATS)]
                syncs, exchanges = [], set()
                for _ in range(REPEATS):
                    server.clear_requests()
                    took, r = timed(BIN_DIR / "whitelist.exe", ["sync"], data)
                    assert r.code == 0, r
                    syncs.append(took)
                    exchanges.add(len(server.get_requests()))
                assert len(exchanges) == 1, f"the number of exchanges varied: {exchanges}"
                n = exchanges.pop()
                floor = n * delay
                above = statistics.median(syncs) - statistics.median(nothing)
                say(f"sync: delay {delay:.1f} s x {n} exchanges = {floor:.2f} s; median sync "
                    f"{statistics.median(syncs):.3f} s, do-nothing program {statistics.median(nothing):.3f} s "
                    f"-> ratio {above / floor:.3f} ({(above - floor) / n * 1000:.0f} ms per exchange above "
                    f"the delay)")
            server.clear_scripts()
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


@contextlib.contextmanager
def running_service():
    """A copy of the release program installed as the service, configured for
    a loopback server and started: yields (exe, server); removed after."""
    tmp = pathlib.Path(tempfile.mkdtemp(prefix="wl-bench-"))
    exe = tmp / "whitelist.exe"
    shutil.copyfile(BIN_DIR / "whitelist.exe", exe)
    with serving(http_port=0, ip=ADDRESS) as server:
        try:
            remove_service()
            shutil.rmtree(SERVICE_DATA, ignore_errors=True)
            code, out = sc("create", SERVICE, "binPath=", win_path(exe))
            assert code == 0, out
            r = run(exe, ["--token", "tok", "--server-url", server.url()], PUBLIC)
            assert r.code == 0, r
            code, out = sc("start", SERVICE)
            assert code == 0, out
            wait_until(lambda: b"Startup whitelist sync OK" in log_bytes(), "the start-up sync")
            yield exe, server
        except BaseException:
            # What the service did is the first thing a failed measurement needs.
            say("service.log:\n" + log_bytes().decode(errors="replace").replace("\r", "").rstrip())
            say("server requests (last 30):\n" + "\n".join(
                f"{time.strftime('%H:%M:%S', time.localtime(r['at']))} {r['method']} {r['path']} {r['body']}"
                for r in server.get_requests()[-30:]))
            raise
        finally:
            remove_service()
            shutil.rmtree(SERVICE_DATA, ignore_errors=True)
            shutil.rmtree(tmp, ignore_errors=True)


def bench_service():
    with running_service() as (exe, server):
        pid = wait_until(lambda: linux_pid(exe), "the service's process")

        time.sleep(30)
        server.clear_requests()
        cpu0, sw0 = cpu_and_switches(pid)
        time.sleep(IDLE_SECONDS)
        cpu1, sw1 = cpu_and_switches(pid)
        asked = [r["method"] for r in server.get_requests()]
        per_minute, per_hour = 60 / IDLE_SECONDS, len(asked) * 3600 / IDLE_SECONDS
        say(f"service at rest: {per_hour:.0f} server requests per hour ({asked.count('GET')} address questions, "
            f"{asked.count('POST')} re-assertions, {len(asked)} in all over {IDLE_SECONDS:.0f} s); before "
            f"re-assertion {POLLS_PER_HOUR} (one address question a minute) -> ratio {per_hour / POLLS_PER_HOUR:.2f}")
        say(f"service at rest: {(cpu1 - cpu0) * per_minute * 1000:.0f} ms CPU and "
            f"{(sw1 - sw0) * per_minute:.0f} wake-ups (context switches) per idle minute "
            f"(measured over {IDLE_SECONDS:.0f} s)")

        cycles(10)
        after10 = process_sample(pid)
        server.clear_requests()
        start = time.monotonic()
        cycles(CYCLES - 10)
        took = time.monotonic() - start
        after = process_sample(pid)
        asked = len(server.get_requests())
        say(f"service cycles: {CYCLES - 10} in {took:.1f} s ({took / (CYCLES - 10):.1f} s each, {asked} "
            f"address questions answered); after {CYCLES} cycles / after 10: RSS "
            f"{after['rss_kib'] / after10['rss_kib']:.3f}, handles {after10['handles']} -> "
            f"{after['handles']}")

        time.sleep(6)  # past the last cycle's coalescing window
        server.clear_requests()
        lines = log_bytes().count(b"\r\n")
        code, out, err = control("event", "100")
        assert code == 0, f"service_control event 100: {code} {out}{err}"
        time.sleep(12)  # two coalescing windows: every cycle the burst started has run
        logged = log_bytes().count(b"\r\n") - lines
        say(f"service reloads: 100 sets in a burst -> {len(server.get_requests())} server requests, "
            f"{logged} log lines (one cycle per set: 100 and 100)")

        sc("stop", SERVICE)
        wait_until(lambda: "STOPPED" in sc("query", SERVICE)[1], "the service to stop", 120)
        bench_stop(server)


WAKE_PHASES = (10, 30, 50)  # seconds into the poll interval


def bench_wake():
    with running_service() as (exe, server):
        times = []
        for n, phase in enumerate(WAKE_PHASES):
            # The poll's cycle asks for the address first: the interval is timed from there.
            server.clear_requests()
            wait_until(lambda: any(r["path"] == "/api/client-ip" for r in server.get_requests()),
                       "a poll cycle", 120)
            time.sleep(phase)
            address = f"198.51.100.{100 + n}"
            server.set_ip(address)
            start = time.monotonic()
            wait_until(lambda: address in server.get_allowlist().get("tok", []), "the new address", 120)
            times.append(time.monotonic() - start)
        median = statistics.median(times)
        woke = [line for line in log_bytes().decode(errors="replace").splitlines() if "checking public IP" in line]
        say(f"wake: median {median:.1f} s after the change (poll backstop 60 s) -> {median / 60:.2f}; "
            f"changes at {', '.join(str(p) for p in WAKE_PHASES)} s into the poll took "
            f"{', '.join(f'{t:.1f}' for t in times)} s; {len(woke)} notice-woken cycles "
            f"(Wine delivers no address notice or resume: found by the poll)")
        sc("stop", SERVICE)
        wait_until(lambda: "STOPPED" in sc("query", SERVICE)[1], "the service to stop", 120)


def bench_stop(server):
    """The installed, stopped service: stop to STOPPED at rest and while the
    server holds the start-up addition open."""
    rest = [stop_after(lambda: None, server) for _ in range(3)]
    server.set_script("POST", "/api/public/whitelist", [{"action": "hang", "always": True}])
    hung = [stop_after(lambda: wait_until(lambda: any(r["method"] == "POST" for r in server.get_requests()),
                                          "the held addition"), server) for _ in range(3)]
    server.clear_scripts()
    say(f"service stop to STOPPED while the server holds the addition open: median "
        f"{statistics.median(hung):.2f} s, at rest {statistics.median(rest):.2f} s -> ratio "
        f"{statistics.median(hung) / statistics.median(rest):.2f}")


def stop_after(ready, server):
    """Starts the service, waits for ready(), and times a stop request to
    STOPPED as sc query shows it."""
    server.clear_requests()
    code, out = sc("start", SERVICE)
    assert code == 0, out
    wait_until(lambda: "RUNNING" in sc("query", SERVICE)[1], "the service to run")
    wait_until(lambda: server.get_requests(), "the service's first request")
    ready()
    time.sleep(1)
    start = time.monotonic()
    sc("stop", SERVICE)
    wait_until(lambda: "STOPPED" in sc("query", SERVICE)[1], "the service to stop", 120)
    return time.monotonic() - start


def log_bytes():
    path = SERVICE_DATA / "service.log"
    return path.read_bytes() if path.exists() else b""


def cycles(n):
    code, out, err = control("cycles", str(n))
    assert code == 0, f"service_control cycles {n}: {code} {out}{err}"


def bench_tray():
    import test_tray_gui as gui  # starts nothing until its set-up runs
    gui.setUpModule()
    tmp = pathlib.Path(tempfile.mkdtemp(prefix="wl-bench-"))
    tray = None
    try:
        base = tmp / "ProgramData"
        (base / gui.DATA_FOLDER_NAME).mkdir(parents=True)
        r = run(BIN_DIR / "whitelist.exe", ["--token", "tok", "--server-url", gui.server.url()], win_path(base))
        assert r.code == 0, r
        command, _ = launch_command(BIN_DIR / "tray.exe", program_data=win_path(base), desktop=gui.desktop, show=1)
        tray = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: refresh_state() == "idle", "a refresh at rest")
        rest = ping()
        delay = 8
        gui.server.set_script("GET", "/api/client-ip", [{"action": "normal", "delay": delay, "always": True}])
        gui.driver("status", "click", str(gui.T.ID_REFRESH_BUTTON))
        wait_until(lambda: refresh_state() == "busy", "the refresh to start", 5)
        started = time.monotonic()
        busy = ping()
        still_busy = refresh_state() == "busy"
        elapsed = time.monotonic() - started
        assert still_busy, "the refresh ended before the round trips did: no measurement"
        gui.server.clear_scripts()
        say(f"tray: WM_NULL round trip at rest median {statistics.median(rest):.0f} us (max {max(rest):.0f}); "
            f"while a refresh waits {delay} s on the server median {statistics.median(busy):.0f} us "
            f"(max {max(busy):.0f}, {elapsed:.1f} s into the wait) -> ratio "
            f"{statistics.median(busy) / statistics.median(rest):.2f}")
    finally:
        gui.server.clear_scripts()
        if tray is not None:
            gui.driver("status", "post", str(gui.WM_COMMAND), str(gui.T.ID_MENU_EXIT), "0")
            try:
                tray.wait(timeout=60)
            except subprocess.TimeoutExpired:
                tray.kill()
        gui.tearDownModule()
        shutil.rmtree(tmp, ignore_errors=True)


def refresh_state():
    """'busy' while a refresh runs (Refresh disabled), 'idle' once one has
    been shown, None before the window is there."""
    import test_tray_gui as gui
    controls = gui.read("status")
    if not controls or 213 not in controls:
        return None
    if not controls[213]["enabled"]:
        return "busy"
    return "idle" if controls[204]["text"] not in ("", "Refreshing...") and controls[202]["text"] else None


def ping(count=200):
    import test_tray_gui as gui
    code, out = gui.driver("status", "send", "0", "0", "0", str(count))
    trips = [int(line) for line in out.split() if line.isdigit()]
    assert code == 0 and "timeout" not in out and len(trips) == count, f"ping: {code} {out[-200:]}"
    return trips


def bench_sizes():
    sizes = {}
    for arch, preset in (("x86", "win32-release"), ("x64", "win64-release")):
        for name in ("whitelist.exe", "tray.exe"):
            sizes[arch, name] = (ROOT / "build" / preset / "bin" / name).stat().st_size
    for name in ("whitelist.exe", "tray.exe"):
        say(f"size: {name} x86 {sizes['x86', name]:,} bytes, x64 {sizes['x64', name]:,} bytes -> x86/x64 "
            f"{sizes['x86', name] / sizes['x64', name]:.3f}")
    total = {arch: sizes[arch, "whitelist.exe"] + sizes[arch, "tray.exe"] for arch in ("x86", "x64")}
    say(f"size: both programs x86 {total['x86']:,} bytes, x64 {total['x64']:,} bytes -> x86/x64 "
        f"{total['x86'] / total['x64']:.3f}")


BENCHMARKS = {"sizes": bench_sizes, "sync": bench_sync, "service": bench_service, "wake": bench_wake,
              "tray": bench_tray}

if __name__ == "__main__":
    names = sys.argv[1:] or list(BENCHMARKS)
    unknown = [n for n in names if n not in BENCHMARKS]
    if unknown:
        sys.exit(f"unknown benchmark: {' '.join(unknown)} (choose from {' '.join(BENCHMARKS)})")
    say(f"bench: {time.strftime('%Y-%m-%d')}, {os.uname().machine}, {os.cpu_count()} CPUs, "
        f"{subprocess.run(['wine', '--version'], capture_output=True, text=True).stdout.strip()}")
    for name in names:
        BENCHMARKS[name]()
