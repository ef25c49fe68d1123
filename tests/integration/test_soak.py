"""Fault-injection soak: the real service driven through cycles while the
server answers at random with refusals, garbage, cut bodies, resets and
delays, the address changes and command-line syncs run alongside. Then,
without faults, allowlist and queue must agree, the log must have kept its
cap, the service must stop, and its handles and memory must not have grown.
WHITELIST_SOAK_SECONDS: the faulty phase (150); WHITELIST_SOAK_SEED replays a run."""
import base64
import json
import os
import pathlib
import random
import statistics
import threading
import time
import unittest

from harness import run, start_server_with_echo
from service_harness import (PUBLIC, SERVICE, SERVICE_DATA, ServiceTestCase, linux_pid, process_sample,
                             sc)

SOAK_SECONDS = float(os.environ.get("WHITELIST_SOAK_SECONDS", "150"))
SEED = int(os.environ.get("WHITELIST_SOAK_SEED", str(random.SystemRandom().randrange(1 << 32))))
# Few addresses, so the queue (32 entries) can never overflow and lose one.
ADDRESSES = [f"198.51.100.{n}" for n in (11, 12, 13, 14, 15, 16)]
WHITELIST = "/api/public/whitelist"
CLIENT_IP = "/api/client-ip"
LOG_CAP = 524288
LOG_LINE_MAX = 640
CYCLE_BOUND = 240  # a cycle meets at most a few delays below the client's time-outs
STOP_BOUND = 60
LEAK_HANDLES = 24  # handles a warmed-up service may still open for good
LEAK_RSS = 1.5

server = None


def setUpModule():
    global server
    server = ServiceTestCase.server = start_server_with_echo(ADDRESSES[0])


def tearDownModule():
    server.stop()


def error_item(rng, status):
    text = rng.choice(["rate limited", "database unavailable", "token revoked \\\"x\\\"", "x" * 3000])
    return {"status": status, "json": {"ok": False, "error": text}}


def garbage(rng, n):
    return base64.b64encode(bytes(rng.randrange(256) for _ in range(n))).decode()


def whitelist_item(rng):
    """An answer to an addition or removal; no fault is a 2xx (no client could tell that lie)."""
    kind = rng.choices(["ok", "slow", "json", "plain", "ok-false", "garbage", "cut", "reset"],
                       [6, 2, 3, 2, 1, 1, 1, 2])[0]
    status = rng.choice([400, 401, 403, 404, 409, 429, 500, 502, 503, 504])
    if kind == "ok":
        return {"action": "normal"}
    if kind == "slow":
        return {"action": "normal", "delay": rng.choice([0.5, 1.5, 3, 6, 12])}
    if kind == "json":
        return error_item(rng, status)
    if kind == "plain":
        return {"status": status, "body": "<html><body>Bad Gateway</body></html>", "content_type": "text/html"}
    if kind == "ok-false":
        return error_item(rng, 200)
    if kind == "garbage":
        return {"status": status, "body_b64": garbage(rng, rng.randrange(1, 4000))}
    if kind == "cut":
        item = error_item(rng, status)
        return dict(item, action="drop", drop_after=rng.randrange(0, 40))
    return {"action": "reset"}


def client_ip_item(rng, address):
    """An answer to the address question; the unfaulted echo service covers for it."""
    kind = rng.choices(["ok", "slow", "error", "garbage", "cut", "reset"], [6, 2, 2, 1, 2, 1])[0]
    if kind == "ok":
        return {"action": "normal"}
    if kind == "slow":
        return {"action": "normal", "delay": rng.choice([0.5, 2, 5])}
    if kind == "error":
        return error_item(rng, rng.choice([404, 500, 503]))
    if kind == "garbage":
        return {"body_b64": garbage(rng, rng.randrange(1, 600))}
    body = '{"ip":"%s"}' % address
    return {"action": "drop", "json": {"ip": address}, "drop_after": rng.randrange(0, len(body))} \
        if kind == "cut" else {"action": "reset"}


class LogWatch:
    """service.log's restarts and largest size."""

    def __init__(self, path):
        self.path, self.size, self.largest, self.restarts = path, 0, 0, 0

    def poll(self):
        try:
            size = self.path.stat().st_size
        except FileNotFoundError:
            return
        self.largest = max(self.largest, size)
        if size < self.size:
            self.restarts += 1
        self.size = size


class Soak(ServiceTestCase):
    def setUp(self):
        super().setUp()
        server.set_ip(ADDRESSES[0])
        self.rng = random.Random(SEED)
        print(f"\nsoak seed {SEED} (WHITELIST_SOAK_SEED={SEED} replays it), {SOAK_SECONDS:.0f} s", flush=True)

    def cycle(self, watch):
        """A cycle, waited for by the event's reset, which comes only after the
        cycle before it (a reload line may go with the log at its cap)."""
        self.poke("cycles", "1", str(CYCLE_BOUND))
        watch.poll()  # a cycle adds a few lines: a restart is always seen

    def test_faults_leave_allowlist_queue_log_and_resources_sound(self):
        self.configure()
        # A log just below its cap, so the soak crosses the cap early.
        filler = b"2000-01-01 00:00:00 filler\r\n"
        (SERVICE_DATA / "service.log").write_bytes(filler * ((LOG_CAP - 1024) // len(filler)))
        self.start()
        self.wait_for(lambda: any(m.startswith("Startup whitelist sync OK") for m in self.log()), "the start-up sync")
        pid = linux_pid(self.whitelist)
        self.assertIsNotNone(pid, "the service's process")
        watch = LogWatch(SERVICE_DATA / "service.log")

        syncs = {"runs": 0, "ok": 0}
        cli = None

        def cli_sync():  # in the service's data folder, bounded above a cycle's worst case
            r = run(self.whitelist, ["sync"], PUBLIC, timeout=300)
            syncs["runs"] += 1
            syncs["ok"] += r.code == 0

        samples = []
        start = time.monotonic()
        next_sample = start
        cycles = changes = 0
        current = ADDRESSES[0]
        while time.monotonic() - start < SOAK_SECONDS:
            if self.rng.random() < 0.25:
                address = self.rng.choice(ADDRESSES)
                changes += address != current
                current = address
                server.set_ip(current)
            server.set_script("*", WHITELIST, [whitelist_item(self.rng) for _ in range(self.rng.randrange(5))])
            server.set_script("GET", CLIENT_IP,
                              [client_ip_item(self.rng, current) for _ in range(self.rng.randrange(4))])
            if self.rng.random() < 0.15 and (cli is None or not cli.is_alive()):
                cli = threading.Thread(target=cli_sync)
                cli.start()
            self.cycle(watch)
            cycles += 1
            if time.monotonic() >= next_sample:
                self.assertEqual(linux_pid(self.whitelist), pid, "the service's process is gone")
                samples.append((time.monotonic() - start, process_sample(pid)))
                next_sample += 5

        # Settle: no faults, no concurrent sync; the second reload proves the
        # first fault-free cycle finished, the third one another.
        if cli is not None:
            cli.join(300)
        server.clear_scripts()
        for _ in range(3):
            self.cycle(watch)
        samples.append((time.monotonic() - start, process_sample(pid)))

        requests = server.get_requests()
        allowlist = set(server.get_allowlist().get("tok", []))
        queue_file = SERVICE_DATA / "pending_delete_ips.txt"
        queue = set(queue_file.read_text().split()) if queue_file.exists() else set()
        registered = {json.loads(r["body"])["ip"] for r in requests
                      if r["path"] == WHITELIST and r["method"] == "POST"}
        print(f"soak: {cycles} cycles, {changes} address changes, {syncs['runs']} command-line syncs "
              f"({syncs['ok']} succeeded), {len(requests)} requests, {len(registered)} distinct additions, "
              f"log restarted {watch.restarts}x, largest {watch.largest} bytes", flush=True)
        print(f"soak end: address {current}, allowlist {sorted(allowlist)}, queue {sorted(queue)}", flush=True)

        self.assertLessEqual(registered, set(ADDRESSES), "an address the server never reported was registered")
        self.assertEqual(queue, set(), "fault-free cycles emptied the queue")
        self.assertEqual(allowlist, {current})
        self.assertEqual((SERVICE_DATA / "last_ip.txt").read_text(), current)

        # The log: restarted at its cap, never much beyond it.
        self.assertGreaterEqual(watch.restarts, 1, "the log crossed its cap during the soak")
        self.assertLessEqual(watch.largest, LOG_CAP + LOG_LINE_MAX)
        self.assertNotIn(filler.strip().decode()[20:], self.log())

        # Resources, early window (after warm-up) against the late one.
        quarter = max(1, len(samples) // 4)
        early = [s for _, s in samples[1:1 + quarter]] or [samples[0][1]]
        late = [s for _, s in samples[-quarter:]]
        early_rss = statistics.median(s["rss_kib"] for s in early)
        late_rss = statistics.median(s["rss_kib"] for s in late)
        print(f"soak resources: handles {max(s['handles'] for s in early)} -> {max(s['handles'] for s in late)}, "
              f"fds {max(s['fds'] for s in early)} -> {max(s['fds'] for s in late)}, "
              f"RSS {early_rss:.0f} -> {late_rss:.0f} KiB ({late_rss / early_rss:.2f}x)", flush=True)
        self.assertLessEqual(max(s["handles"] for s in late), max(s["handles"] for s in early) + LEAK_HANDLES)
        self.assertLessEqual(max(s["fds"] for s in late), max(s["fds"] for s in early) + LEAK_HANDLES)
        self.assertLessEqual(late_rss, early_rss * LEAK_RSS)

        # Stop is still answered.
        sc("stop", SERVICE)
        self.wait_for(lambda: "STOPPED" in sc("query", SERVICE)[1], "the service to stop", STOP_BOUND)
        self.wait_for(lambda: not pathlib.Path(f"/proc/{pid}").exists(), "the service's process to end", STOP_BOUND)


if __name__ == "__main__":
    unittest.main()
