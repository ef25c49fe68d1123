"""Fault-injection soak: the real service driven through cycles while the server answers at random with
refusals, garbage, cut bodies, resets and delays, the address changes and command-line syncs run alongside;
then, without faults, allowlist, queue, log cap, handles and memory must be sound and the service must stop.
WHITELIST_SOAK_SECONDS: the faulty phase (150); WHITELIST_SOAK_SEED replays a run."""
import base64
import os
import random
import statistics
import threading
import time
import unittest

from harness import allowlist_wire, run
from service_harness import PUBLIC, SERVICE_DATA, WHITELIST, ServiceTestCase, linux_pid, process_sample, stop_service

SOAK_SECONDS = float(os.environ.get("WHITELIST_SOAK_SECONDS", "150"))
SEED = int(os.environ.get("WHITELIST_SOAK_SEED", str(random.SystemRandom().randrange(1 << 32))))
# Few addresses, so the queue (32 entries) can never overflow and lose one.
ADDRESSES = [f"198.51.100.{n}" for n in (11, 12, 13, 14, 15, 16)]
LOG_CAP = 524288


def error_item(rng, status):
    text = rng.choice(["rate limited", "database unavailable", "token revoked \\\"x\\\"", "x" * 3000])
    return {"status": status, "json": {"ok": False, "error": text}}


def garbage(rng, most):
    return base64.b64encode(rng.randbytes(rng.randrange(1, most))).decode()


def answer(rng, delays, faults):
    weighted = [(6, {"action": "normal"}), (2, {"action": "normal", "delay": rng.choice(delays)}),
                (2, {"action": "reset"})] + faults
    return rng.choices([item for _, item in weighted], [weight for weight, _ in weighted])[0]


def whitelist_item(rng):
    """An answer to an addition or removal; no fault claims success (no client could tell that lie)."""
    status = rng.choice([400, 401, 403, 404, 409, 429, 500, 502, 503, 504])
    error = error_item(rng, status)
    return answer(rng, [0.5, 1.5, 3, 6, 12], [(3, error), (1, error_item(rng, 200)),
                                             (1, {"status": status, "body_b64": garbage(rng, 4000)}),
                                             (1, dict(error, action="drop", drop_after=rng.randrange(0, 40)))])


def client_ip_item(rng, address):
    """An answer to the address question; the unfaulted echo service covers for it."""
    cut = {"action": "drop", "json": {"ip": address}, "drop_after": rng.randrange(0, len(address) + 9)}
    return answer(rng, [0.5, 2, 5], [(2, error_item(rng, rng.choice([404, 500, 503]))),
                                     (1, {"body_b64": garbage(rng, 600)}), (2, cut)])


class Soak(ServiceTestCase):
    ip = ADDRESSES[0]

    def test_faults_leave_allowlist_queue_log_and_resources_sound(self):
        rng = random.Random(SEED)
        print(f"\nsoak seed {SEED} (WHITELIST_SOAK_SEED={SEED} replays it), {SOAK_SECONDS:.0f} s", flush=True)
        self.configure()
        # A log just below its cap, so the soak crosses the cap early.
        filler = b"2000-01-01 00:00:00 filler\r\n"
        (SERVICE_DATA / "service.log").write_bytes(filler * ((LOG_CAP - 1024) // len(filler)))
        self.start()
        self.wait_for(lambda: any(m.startswith("Startup whitelist sync OK") for m in self.log()), "the start-up sync")
        pid = self.wait_for(lambda: linux_pid(self.whitelist), "the service's process")

        def cycle():
            # A cycle adds a few lines: the size after each is near the largest before a restart.
            self.poke("cycles", "1")
            return (SERVICE_DATA / "service.log").stat().st_size

        samples, largest, cli, current = [], 0, None, self.ip
        start = next_sample = time.monotonic()
        while time.monotonic() - start < SOAK_SECONDS:
            if rng.random() < 0.25:
                current = rng.choice(ADDRESSES)
                self.server.set_ip(current)
            self.server.set_script("*", WHITELIST, [whitelist_item(rng) for _ in range(rng.randrange(5))])
            self.server.set_script("GET", "/api/client-ip",
                                   [client_ip_item(rng, current) for _ in range(rng.randrange(4))])
            if rng.random() < 0.15 and (cli is None or not cli.is_alive()):
                # In the service's data folder, bounded above a cycle's worst case.
                cli = threading.Thread(target=run, args=(self.whitelist, ["sync"], PUBLIC, 300))
                cli.start()
            largest = max(largest, cycle())
            if time.monotonic() >= next_sample:
                samples.append(process_sample(pid))  # its /proc entry goes with the process
                next_sample += 5

        # Settle without faults or a concurrent sync: a poke returns once the cycle before it ended.
        if cli is not None:
            cli.join(300)
        self.server.clear_scripts()
        for _ in range(3):
            largest = max(largest, cycle())
        samples.append(process_sample(pid))

        queue = SERVICE_DATA / "pending_delete_ips.txt"
        registered = {change.split()[1] for change in allowlist_wire(self.server) if change.startswith("POST")}
        self.assertLessEqual(registered, set(ADDRESSES), "an address the server never reported was registered")
        self.assertEqual(queue.read_text().split() if queue.exists() else [], [], "the queue after fault-free cycles")
        self.assertEqual(self.server.get_allowlist(), {"tok": [current]})
        self.assertEqual((SERVICE_DATA / "last_ip.txt").read_text(), current)
        # The log restarted at its cap (the filler went), never much beyond it.
        self.assertNotIn(filler.strip().decode()[20:], self.log())
        self.assertGreater((SERVICE_DATA / "service.log.1").stat().st_size, LOG_CAP, "the log at its cap is kept")
        self.assertLessEqual(largest, LOG_CAP + 640)  # a line (640 bytes at most) beyond it

        # Resources, early window (after warm-up) against the late one.
        quarter = max(1, len(samples) // 4)
        early, late = samples[1:1 + quarter] or samples[:1], samples[-quarter:]
        handles = [max(s["handles"] for s in window) for window in (early, late)]
        rss = [statistics.median(s["rss_kib"] for s in window) for window in (early, late)]
        self.assertLessEqual(handles[1], handles[0] + 24, samples)  # a warmed-up service may still open some for good
        self.assertLessEqual(rss[1], rss[0] * 1.5, samples)

        # Stop is still answered, and the process ends.
        stop_service()
        self.wait_for(lambda: linux_pid(self.whitelist) is None, "the service's process to end")


if __name__ == "__main__":
    unittest.main()
