"""The agent as a real service under Wine's service control manager."""
import pathlib
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

from harness import WINE, FakeServer, decrypt_config, run
from service_harness import CONTROL, PUBLIC, SERVICE, SERVICE_DATA, ServiceTestCase, sc

IP_A, IP_B, IP_C = "198.51.100.10", "198.51.100.20", "198.51.100.30"
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


class Service(ServiceTestCase):
    def setUp(self):
        super().setUp()
        server.set_ip(IP_A)

    def service_detections(self):
        return sum(r["path"] == "/api/client-ip" for r in server.get_requests())

    def assertStatusReport(self, sc_output, pending_state, checkpoint, wait_hint):
        """sc prints the status right after its request: past the pending state, checkpoint and hint are 0."""
        if pending_state in sc_output:
            expected = [f"CHECKPOINT         : {checkpoint}", f"WAIT_HINT          : {wait_hint}"]
        else:
            expected = ["CHECKPOINT         : 0x0", "WAIT_HINT          : 0x0"]
        for line in expected:
            self.assertIn(line, sc_output)

    def test_registers_at_start_follows_a_change_and_stops_promptly(self):
        self.configure()
        server.clear_requests()
        self.assertStatusReport(self.start(), "START_PENDING", "0x1", "0x7d0")
        self.wait_log(f"Startup whitelist sync OK: {IP_A}")
        self.assertEqual(self.wire(), [f"POST {IP_A} tok"], "one addition at start, even of the known address")

        # The reload event wakes the worker for a cycle at once.
        server.set_ip(IP_B)
        self.poke("event")
        self.wait_log(f"IP updated: {IP_B}")
        self.assertEqual(self.log()[-3:], [
            f"Last IP reloaded from file after external sync: {IP_A}",
            f"IP changed from {IP_A} to {IP_B} - removing old IP",
            f"IP updated: {IP_B}"])
        self.assertEqual(self.wire(), [f"POST {IP_A} tok", f"DELETE {IP_A} tok", f"POST {IP_B} tok"])
        self.assertEqual(server.get_allowlist(), {"tok": [IP_B]})
        self.assertEqual((SERVICE_DATA / "last_ip.txt").read_bytes(), IP_B.encode())
        # Still alive and waiting after that cycle: the next reload is heard.
        self.poke("event")
        self.wait_log(f"Last IP reloaded from file after external sync: {IP_B}")

        # Stop during the 60 s wait: bounded well below one poll interval.
        self.assertStatusReport(sc("stop", SERVICE)[1], "STOP_PENDING", "0x2", "0x1388")
        self.wait_for(lambda: "STOPPED" in sc("query", SERVICE)[1], "a prompt stop", bound=40)
        self.assertEqual(self.cli("status").out.splitlines()[0], b"Service: Stopped")

    def test_command_line_sync_and_control_128_reload_the_service_and_a_burst_of_reloads_is_one(self):
        self.configure()
        self.start()
        self.wait_log(f"Startup whitelist sync OK: {IP_A}")
        server.set_ip(IP_C)
        server.clear_requests()
        r = self.cli("sync")
        self.assertEqual(r.code, 0, r)
        self.wait_log(f"Last IP reloaded from file after external sync: {IP_C}")
        # The command asked once; the service's cycle after the reload, once.
        self.wait_for(lambda: self.service_detections() >= 2, "the cycle after the reload")
        self.assertEqual(self.wire(), [f"DELETE {IP_A} tok", f"POST {IP_C} tok"], "the command's requests only")

        # Any account may set the event: 200 sets in a burst.
        server.clear_requests()
        lines = len(self.log())
        self.poke("event", "200")
        self.wait_log(f"Last IP reloaded from file after external sync: {IP_C}", count=2)
        time.sleep(12)  # past two coalescing windows: every cycle the burst caused has run
        cycles, added = self.service_detections(), self.log()[lines:]
        print(f"200 reload sets: {cycles} cycles, {len(added)} log lines", flush=True)
        self.assertGreaterEqual(cycles, 1)
        self.assertLessEqual(cycles, BURST_CYCLES_BOUND, added)
        self.assertLessEqual(len(added), BURST_CYCLES_BOUND, added)
        self.assertEqual(self.wire(), [])

        # Control code 128 reloads as the event does; other codes do nothing.
        updated = self.log().count(f"IP updated: {IP_C}")
        (SERVICE_DATA / "last_ip.txt").write_bytes(b"203.0.113.99")
        self.poke("control", "200")
        self.poke("control", "128")
        self.wait_log(f"IP updated: {IP_C}", count=updated + 1)
        self.assertEqual(self.log()[-3:], ["Last IP reloaded from file after external sync: 203.0.113.99",
                                           f"IP changed from 203.0.113.99 to {IP_C} - removing old IP",
                                           f"IP updated: {IP_C}"])
        self.assertEqual(self.cli("status").out.splitlines()[0], b"Service: Running")

    def test_started_unconfigured_it_follows_the_configuration_and_clears_its_own_error(self):
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
        self.assertEqual(self.wire(), [f"DELETE {IP_A} token-A", f"POST {IP_B} token-A",
                                       f"DELETE {IP_A} token-A", f"POST {IP_B} token-A"])

        # A token rotated while it runs is the one sent from then on; the
        # service never writes its older settings back.
        self.configure("token-B")
        self.wait_log(f"Settings changed - using server {self.url}", count=2)
        server.set_ip(IP_C)
        server.clear_requests()
        self.poke("event")
        self.wait_log(f"IP updated: {IP_C}")
        self.assertEqual(self.wire(), [f"DELETE {IP_B} token-B", f"POST {IP_C} token-B"])
        self.assertIn(b"token=token-B\n", decrypt_config(SERVICE_DATA / "whitelist.config"))
        self.assertEqual(server.get_allowlist().get("token-B"), [IP_C])

    def test_stop_is_answered_while_the_server_or_another_registration_holds_the_worker(self):
        self.configure()
        self.start()
        self.wait_log(f"Startup whitelist sync OK: {IP_A}")
        server.set_script("POST", WHITELIST, [{"action": "hang", "always": True}])
        server.set_ip(IP_B)
        self.poke("event")
        self.wait_for(lambda: any(r["method"] == "POST" and IP_B in r["body"] for r in server.get_requests()),
                      "the held POST")
        took = self.stop_and_time()
        server.clear_scripts()

        # A cycle whose registration waits for another process's: the lock
        # is the service's own (it keeps it from its start), held meanwhile
        # by a command-line run.
        server.set_ip(IP_C)
        self.start()
        self.wait_log(f"Startup whitelist sync OK: {IP_C}")
        holder = subprocess.Popen([WINE, CONTROL, "hold", "30"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        try:
            self.assertEqual(holder.stdout.readline().strip(), b"held")
            server.set_ip(IP_B)
            server.clear_requests()
            self.poke("event")
            self.wait_for(lambda: self.service_detections() > 0, "the cycle's detection")
            time.sleep(2)  # the cycle is waiting for the lock by now
            self.assertEqual(self.wire(), [])
            took_locked = self.stop_and_time()
        finally:
            holder.kill()
            holder.wait()
            holder.stdout.close()
        print(f"stop to STOPPED: {took:.1f} s with the POST held, {took_locked:.1f} s waiting for the mutex",
              flush=True)
        self.assertEqual(self.wire(), [], "nothing registered after the stop")
        self.assertFalse((SERVICE_DATA / "last_error.txt").exists(), "a stop is no error to show")

    def stop_and_time(self):
        started = time.monotonic()
        sc("stop", SERVICE)
        self.wait_for(lambda: "STOPPED" in sc("query", SERVICE)[1], "a prompt stop", bound=30)
        return time.monotonic() - started

    def test_a_trickling_server_holds_neither_the_command_nor_the_cycle_past_the_deadline(self):
        self.configure()
        self.start()
        self.wait_log(f"Startup whitelist sync OK: {IP_A}")
        # The command's addition and the service's queued removal (no
        # registration lock between them) both meet one byte a second.
        (SERVICE_DATA / "pending_delete_ips.txt").write_bytes(b"203.0.113.99\n")
        server.set_script("*", WHITELIST, [{"action": "trickle", "always": True}])
        started = time.monotonic()
        command = {}
        thread = threading.Thread(target=lambda: command.update(r=run(self.whitelist, ["sync"], PUBLIC, 200),
                                                                took=time.monotonic() - started))
        thread.start()
        self.poke("event")
        self.wait_log(f"Pending delete failed for 203.0.113.99: WinHttpReceiveResponse failed "
                      f"(no HTTP response from 127.0.0.1:{server.http_port}): {TIMED_OUT}", bound=150)
        cycle_took = time.monotonic() - started
        thread.join(150)
        server.clear_scripts()
        r = command["r"]
        print(f"deadline: command ended after {command['took']:.0f} s, cycle after {cycle_took:.0f} s "
              f"(a 1000-byte answer at one byte a second)", flush=True)
        self.assertEqual(r.code, 1, r)
        self.assertIn(TIMED_OUT.encode(), r.out)
        self.assertEqual((SERVICE_DATA / "pending_delete_ips.txt").read_bytes(), b"203.0.113.99\n")

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
            sc("stop", SERVICE)
            self.wait_for(lambda: "STOPPED" in sc("query", SERVICE)[1], "the service to stop")
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

    def test_change_is_noticed_by_the_timed_poll(self):
        # The one test that waits for a real poll interval.
        self.configure()
        server.clear_requests()
        self.start()
        self.wait_log(f"Startup whitelist sync OK: {IP_A}")
        # Nothing asks again before the poll: no cycle right after the start,
        # and no address notice or resume, which Wine never delivers.
        server.set_ip(IP_B)
        started = time.monotonic()
        self.wait_log(f"IP updated: {IP_B}", bound=150)
        self.assertGreater(time.monotonic() - started, 30,
                           f"noticed by the timed poll, not an earlier cycle; log: {self.log()}; "
                           f"requests: {[(r['method'], r['path']) for r in server.get_requests()]}")
        # A quiet network's cycles log nothing; only the change is told.
        self.assertEqual(self.log()[-3:], [f"Startup whitelist sync OK: {IP_A}",
                                           f"IP changed from {IP_A} to {IP_B} - removing old IP",
                                           f"IP updated: {IP_B}"])


if __name__ == "__main__":
    unittest.main()
