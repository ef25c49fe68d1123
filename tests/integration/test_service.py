"""The agent as a real service under Wine's service control manager."""
import pathlib
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

from harness import WINE, FakeServer, allowlist_wire, decrypt_config, run
from service_harness import CONTROL, PUBLIC, SERVICE_DATA, ServiceTestCase, stop_service

IP_A, IP_B, IP_C, QUEUED = "198.51.100.10", "198.51.100.20", "198.51.100.30", "203.0.113.99"
NO_CONFIG = "No config - service will do nothing until whitelist --token X --server-url Y is run"
WHITELIST = "/api/public/whitelist"
TIMED_OUT = "error 12002 - timeout or cancelled"
# Reloads are taken together and at most one network cycle per 5 s follows
# them; a burst shorter than the second that a reload waits for the rest of
# it is one reload, and any burst within one window at most two.
BURST_CYCLES_BOUND = 2

server = None


def setUpModule():
    global server
    server = ServiceTestCase.server = FakeServer(http_port=0, ip=IP_A).start()


def tearDownModule():
    server.stop()


def reloaded(ip):
    return f"Last IP reloaded from file after external sync: {ip}"


def changed(old, new):
    return [f"IP changed from {old} to {new} - removing old IP", f"IP updated: {new}"]


class Service(ServiceTestCase):
    def setUp(self):
        super().setUp()
        server.set_ip(IP_A)

    def detections(self):
        return sum(r["path"] == "/api/client-ip" for r in server.get_requests())

    def timed_stop(self):
        started = time.monotonic()
        stop_service()
        return time.monotonic() - started

    def test_configured_it_polls_reloads_meets_the_deadline_and_stops_during_a_held_request(self):
        self.configure()
        server.clear_requests()
        self.start()
        self.wait_log(f"Startup whitelist sync OK: {IP_A}")
        self.assertEqual(allowlist_wire(server), [f"POST {IP_A} tok"], "one addition at start, even of the known one")

        # Nothing asks again before the poll: no cycle right after the start,
        # and no address notice or resume, which Wine never delivers.
        server.set_ip(IP_B)
        started = time.monotonic()
        self.wait_log(f"IP updated: {IP_B}", bound=150)
        self.assertGreater(time.monotonic() - started, 30, f"noticed by the timed poll, not an earlier cycle; "
                                                           f"requests: {server.get_requests()}")
        # A quiet network's cycles log nothing; only the change is told.
        self.assertEqual(self.log()[-3:], [f"Startup whitelist sync OK: {IP_A}"] + changed(IP_A, IP_B))

        # The reload event wakes the worker for a cycle at once.
        server.set_ip(IP_C)
        self.poke("event")
        self.wait_log(f"IP updated: {IP_C}")
        self.assertEqual(self.log()[-3:], [reloaded(IP_B)] + changed(IP_B, IP_C))
        self.assertEqual(allowlist_wire(server)[-2:], [f"DELETE {IP_B} tok", f"POST {IP_C} tok"])
        self.assertEqual(server.get_allowlist(), {"tok": [IP_C]})
        self.assertEqual((SERVICE_DATA / "last_ip.txt").read_bytes(), IP_C.encode())

        # A command-line sync reloads the service: the command registers, the
        # service's cycle after the reload only asks for the address.
        server.set_ip(IP_A)
        server.clear_requests()
        r = self.cli("sync")
        self.assertEqual(r.code, 0, r)
        self.wait_log(reloaded(IP_A))
        self.wait_for(lambda: self.detections() >= 2, "the cycle after the reload")
        self.assertEqual(allowlist_wire(server), [f"DELETE {IP_C} tok", f"POST {IP_A} tok"])

        # Any account may set the event: 200 sets in a burst.
        server.clear_requests()
        lines = len(self.log())
        self.poke("event", "200")
        self.wait_log(reloaded(IP_A), count=2)
        time.sleep(12)  # past two coalescing windows: every cycle the burst caused has run
        cycles, added = self.detections(), self.log()[lines:]
        print(f"200 reload sets: {cycles} cycles, {len(added)} log lines", flush=True)
        self.assertIn(cycles, range(1, BURST_CYCLES_BOUND + 1), added)
        self.assertLessEqual(len(added), BURST_CYCLES_BOUND, added)
        self.assertEqual(allowlist_wire(server), [])

        # Control code 128 reloads as the event does; other codes do nothing.
        updated = self.log().count(f"IP updated: {IP_A}")
        (SERVICE_DATA / "last_ip.txt").write_bytes(QUEUED.encode())
        self.poke("control", "200")
        self.poke("control", "128")
        self.wait_log(f"IP updated: {IP_A}", count=updated + 1)
        self.assertEqual(self.log()[-3:], [reloaded(QUEUED)] + changed(QUEUED, IP_A))
        self.assertEqual(self.cli("status").out.splitlines()[0], b"Service: Running")

        # The command's addition and the service's queued removal (no
        # registration lock between them) both meet one byte a second.
        (SERVICE_DATA / "pending_delete_ips.txt").write_bytes(QUEUED.encode() + b"\n")
        server.set_script("*", WHITELIST, [{"action": "trickle", "always": True}])
        started = time.monotonic()
        command = {}
        thread = threading.Thread(target=lambda: command.update(r=run(self.whitelist, ["sync"], PUBLIC, 200),
                                                                took=time.monotonic() - started))
        thread.start()
        self.poke("event")
        self.wait_log(f"Pending delete failed for {QUEUED}: WinHttpReceiveResponse failed "
                      f"(no HTTP response from 127.0.0.1:{server.http_port}): {TIMED_OUT}", bound=150)
        cycle_took = time.monotonic() - started
        thread.join(150)
        server.clear_scripts()
        print(f"deadline: command ended after {command['took']:.0f} s, cycle after {cycle_took:.0f} s "
              f"(a 1000-byte answer at one byte a second)", flush=True)
        self.assertEqual(command["r"].code, 1, command["r"])
        self.assertIn(TIMED_OUT.encode(), command["r"].out)
        self.assertEqual((SERVICE_DATA / "pending_delete_ips.txt").read_bytes(), QUEUED.encode() + b"\n")

        # A stop while the server holds the addition is answered at once.
        server.set_script("POST", WHITELIST, [{"action": "hang", "always": True}])
        server.set_ip(IP_B)
        (SERVICE_DATA / "last_error.txt").unlink(missing_ok=True)
        self.poke("event")
        self.wait_for(lambda: any(r["method"] == "POST" and IP_B in r["body"] for r in server.get_requests()),
                      "the held POST")
        print(f"stop to STOPPED: {self.timed_stop():.1f} s with the POST held", flush=True)
        self.assertFalse((SERVICE_DATA / "last_error.txt").exists(), "a stop is no error to show")

    def test_started_unconfigured_it_follows_the_configuration_and_waits_for_a_held_lock(self):
        SERVICE_DATA.mkdir(parents=True)
        (SERVICE_DATA / "service.log").write_bytes(b"x" * 524289)
        self.start()
        self.wait_log(NO_CONFIG)
        self.assertEqual(self.log(), [NO_CONFIG], "the log restarted")
        self.assertEqual(server.get_requests(), [])

        # Configure mode registers and signals: the service takes the
        # settings at once and follows the next change without a restart.
        self.configure("token-A")
        self.wait_log(f"Settings changed - using server {self.url}")
        server.set_ip(IP_B)
        server.set_script("POST", WHITELIST, [{"status": 502, "json": {"ok": False, "error": "bad gateway"}}])
        server.clear_requests()
        self.poke("event")
        self.wait_for(lambda: (SERVICE_DATA / "last_error.txt").exists(), "the failed cycle's error")
        self.poke("event")
        self.wait_log(f"IP updated: {IP_B}")
        self.assertFalse((SERVICE_DATA / "last_error.txt").exists(), "the next success clears it")
        # The old address went with the failed cycle; the next one sends its
        # removal again, as last_ip.txt still names it.
        self.assertEqual(allowlist_wire(server), [f"DELETE {IP_A} token-A", f"POST {IP_B} token-A"] * 2)

        # A token rotated while it runs is the one sent from then on; the
        # service never writes its older settings back.
        self.configure("token-B")
        self.wait_log(f"Settings changed - using server {self.url}", count=2)
        server.set_ip(IP_C)
        server.clear_requests()
        self.poke("event")
        self.wait_log(f"IP updated: {IP_C}")
        self.assertEqual(allowlist_wire(server), [f"DELETE {IP_B} token-B", f"POST {IP_C} token-B"])
        self.assertIn(b"token=token-B\n", decrypt_config(SERVICE_DATA / "whitelist.config"))
        self.assertEqual(server.get_allowlist().get("token-B"), [IP_C])

        # A cycle whose registration waits for another process's: the lock is
        # the service's own (it keeps it from its start), held meanwhile by a
        # command-line run. The stop is answered all the same.
        holder = subprocess.Popen([WINE, CONTROL, "hold", "30"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        try:
            self.assertEqual(holder.stdout.readline().strip(), b"held")
            server.set_ip(IP_A)
            server.clear_requests()
            self.poke("event")
            self.wait_for(lambda: self.detections() > 0, "the cycle's detection")
            time.sleep(2)  # the cycle is waiting for the lock by now
            self.assertEqual(allowlist_wire(server), [])
            print(f"stop to STOPPED: {self.timed_stop():.1f} s waiting for the lock", flush=True)
        finally:
            holder.kill()
            holder.wait()
            holder.stdout.close()
        self.assertEqual(allowlist_wire(server), [], "nothing registered after the stop")

    def test_links_are_never_followed_and_the_event_is_secured(self):
        # Wine shows a Unix link to a folder as a reparse point (by its path)
        # and counts hard links: both are real objects here.
        elsewhere = pathlib.Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, elsewhere, True)
        SERVICE_DATA.parent.mkdir(parents=True, exist_ok=True)
        SERVICE_DATA.symlink_to(elsewhere, target_is_directory=True)
        try:
            self.start()
            self.poke("cycles", "1")  # the worker has logged a line meanwhile
            self.assertEqual(list(elsewhere.iterdir()), [], "the service wrote through a linked data folder")
            # Users may wait on and signal the event, never re-secure it.
            self.assertEqual(self.poke("security").strip().split("D:")[1],
                             "P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100003;;;AU)(A;;0x100003;;;OW)")
        finally:
            stop_service()
            SERVICE_DATA.unlink()

        victim = elsewhere / "victim.txt"
        victim.write_bytes(b"not the log")
        SERVICE_DATA.mkdir()
        (SERVICE_DATA / "service.log").hardlink_to(victim)
        self.start()
        self.poke("cycles", "1")
        self.assertEqual(victim.read_bytes(), b"not the log", "the service appended to a hard-linked log")
        self.assertEqual(sorted(p.name for p in SERVICE_DATA.iterdir()), ["service.lock", "service.log"],
                         "no temporary left; the anchor is held")


if __name__ == "__main__":
    unittest.main()
