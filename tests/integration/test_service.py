"""The agent as a real service under Wine's service control manager."""
import concurrent.futures
import time
import unittest

from harness import allowlist_wire, decrypt_config, run
from service_harness import PUBLIC, SERVICE_DATA, WHITELIST, ServiceTestCase, set_reassert, stop_service

IP_A, IP_B, IP_C, QUEUED = "198.51.100.10", "198.51.100.20", "198.51.100.30", "203.0.113.99"
NO_CONFIG = "No config - service will do nothing until whitelist --token X --server-url Y is run"
TIMED_OUT = "error 12002 - timeout or cancelled"
RELOADED = "Last IP reloaded from file after external sync: "


class Service(ServiceTestCase):
    ip = IP_A

    def detections(self):
        return sum(r["path"] == "/api/client-ip" for r in self.server.get_requests())

    def test_configured_it_polls_reloads_meets_the_deadline_and_stops_during_a_held_request(self):
        self.configure()
        self.server.clear_requests()
        self.start()
        self.wait_log(f"Startup whitelist sync OK: {IP_A}")
        self.assertEqual(allowlist_wire(self.server), [f"POST {IP_A} tok"], "one addition at start, even if known")
        # What a monitoring script reads: up to date is the one exit code 0.
        code, status = self.status_json(program_data=PUBLIC)
        status.pop("last_confirmed")  # the service's own
        self.assertEqual((code, status), (0, {
            "service": "running", "configured": True, "server": self.url, "public_ip": IP_A, "last_ip": IP_A,
            "status": "up_to_date", "error": None, "pending_removals": 0}))

        # Only the poll asks again: no cycle right after the start, and Wine delivers no address notice or resume.
        self.server.set_ip(IP_B)
        started = time.monotonic()
        self.wait_log(f"IP updated: {IP_B}", bound=150)
        self.assertGreater(time.monotonic() - started, 30, f"noticed before the poll: {self.server.get_requests()}")

        # Any account may set the event. A reload waits a second for the rest of its burst, and one network
        # cycle per 5 s follows reloads: 200 sets are one or two cycles.
        self.server.clear_requests()
        lines = len(self.log())
        self.poke("event", "200")
        self.poke("cycles", "0")  # none pending now; the last has ended once each reload has its detection
        added = self.wait_for(lambda: (a := self.log()[lines:]) and len(a) == self.detections() and a,
                              "the burst's last cycle to end")
        self.assertIn(added, ([RELOADED + IP_B], [RELOADED + IP_B] * 2))

        # Control code 128 reloads as the event does; other codes do nothing.
        self.server.set_ip(IP_C)
        (SERVICE_DATA / "last_ip.txt").write_bytes(QUEUED.encode())
        self.poke("control", "200")
        self.poke("control", "128")
        cycle = [RELOADED + QUEUED, f"IP changed from {QUEUED} to {IP_C} - removing old IP", f"IP updated: {IP_C}"]
        self.wait_for(lambda: self.log()[-3:] == cycle, "the cycle control 128 starts")
        self.assertEqual(self.cli("status").out.splitlines()[0], b"Service: Running")

        # The command's addition and the service's queued removal (no
        # registration lock between them) both meet one byte a second.
        (SERVICE_DATA / "pending_delete_ips.txt").write_bytes(QUEUED.encode() + b"\n")
        self.server.set_script("*", WHITELIST, [{"action": "trickle", "always": True}])
        with concurrent.futures.ThreadPoolExecutor() as pool:
            command = pool.submit(run, self.whitelist, ["sync"], PUBLIC, 200)
            self.poke("event")
            self.wait_log(f"Pending delete failed for {QUEUED}: WinHttpReceiveResponse failed "
                          f"(no HTTP response from 127.0.0.1:{self.server.http_port}): {TIMED_OUT}", bound=150)
            r = command.result(150)
        self.server.clear_scripts()
        self.assertEqual(r.code, 1, r)
        self.assertIn(TIMED_OUT.encode(), r.out)
        self.assertEqual((SERVICE_DATA / "pending_delete_ips.txt").read_bytes(), QUEUED.encode() + b"\n")

        # A token rotated while it runs is sent from then on, and never overwritten with the older one;
        # a stop while the server holds the addition is answered at once.
        self.configure("token-B")
        self.wait_log(f"Settings changed - using server {self.url}")
        self.server.set_script("POST", WHITELIST, [{"action": "hang", "always": True}])
        self.server.set_ip(IP_B)
        self.poke("event")
        self.wait_for(lambda: f"POST {IP_B} token-B" in allowlist_wire(self.server), "the held POST")
        stop_service()
        self.assertFalse((SERVICE_DATA / "last_error.txt").exists(), "a stop is no error to show")
        self.assertIn(b"token=token-B\n", decrypt_config(SERVICE_DATA / "whitelist.config"))
        (SERVICE_DATA / "last_confirmed.txt").write_bytes(b"2026-12-07T14:05:09Z\r\n")
        code, status = self.status_json(program_data=PUBLIC)
        self.assertEqual((code, status["service"], status["status"], status["last_confirmed"]),
                         (1, "stopped", "service_stopped", "2026-12-07T14:05:09Z"))

    def test_started_unconfigured_it_follows_the_configuration_and_waits_for_a_held_lock(self):
        self.start()
        self.wait_for(lambda: self.log() == [NO_CONFIG], "the one notice")
        self.assertEqual(self.server.get_requests(), [])

        # Configure mode signals the service: it takes the settings at once and follows the next change.
        self.configure("token-A")
        self.wait_log(f"Settings changed - using server {self.url}")
        self.server.set_ip(IP_B)
        # A server's control characters reach neither the log's lines nor last_error.txt.
        refusal = '{"ok":false,"error":"bad\r\ngateway\x07"}'
        self.server.set_script("POST", WHITELIST, [{"status": 502, "body": refusal}])
        self.server.clear_requests()
        self.poke("event")
        self.wait_for(lambda: (SERVICE_DATA / "last_error.txt").exists(), "the failed cycle's error")
        self.assertEqual((SERVICE_DATA / "last_error.txt").read_bytes(), b"bad  gateway ")
        self.assertIn("bad  gateway ", self.log())
        self.poke("event")
        self.wait_log(f"IP updated: {IP_B}")
        self.assertFalse((SERVICE_DATA / "last_error.txt").exists(), "the next success clears it")
        # last_ip.txt still names the old address after the failed cycle: its removal is sent again.
        self.assertEqual(allowlist_wire(self.server), [f"DELETE {IP_A} token-A", f"POST {IP_B} token-A"] * 2)

        # A command-line run holds the registration lock (the service's own, kept from its start) while the
        # server holds its addition: the service's cycle waits for it, and a stop is answered all the same.
        self.server.set_ip(IP_A)
        self.server.set_script("POST", WHITELIST, [{"action": "hang"}])
        with concurrent.futures.ThreadPoolExecutor() as pool:
            command = pool.submit(self.cli, "sync")
            self.wait_for(lambda: f"POST {IP_A} token-A" in allowlist_wire(self.server), "the command's held POST")
            self.server.clear_requests()
            self.poke("event")
            self.wait_for(lambda: self.detections() > 0, "the cycle's detection")
            stop_service()  # the cycle, its address changed, waits for the lock (it writes nothing meanwhile)
            self.server.clear_scripts()  # the command's addition fails
            self.assertEqual(command.result(60).code, 1)
        self.assertEqual(allowlist_wire(self.server), [], "the service registered nothing")

    def test_a_pc_puts_back_its_address_that_another_pc_sharing_its_token_removed(self):
        # This service is PC B; PC A, in a data folder of its own, asks the https listener, which B never sees.
        self.server.set_ip(IP_A, listener="https")
        set_reassert(30)
        self.configure()
        self.assertEqual(self.agent("--token", "tok", "--server-url", self.server.url("https")).code, 0)
        self.start()
        self.wait_log(f"Startup whitelist sync OK: {IP_A}")
        self.assertRegex(confirmed := (SERVICE_DATA / "last_confirmed.txt").read_text(), r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")

        # A moves and syncs; its reload of B finds B's address unchanged and sends nothing, the period does.
        self.server.set_ip(IP_B, listener="https")
        self.server.clear_requests()
        self.assertEqual(self.agent("sync").code, 0)
        self.wait_log(RELOADED + IP_A)
        self.poke("cycles", "1")  # taken once the reload's cycle has ended
        self.assertEqual(self.server.get_allowlist(), {"tok": [IP_B]}, "put back by the reload, not the period")
        self.wait_for(lambda: IP_A in self.server.get_allowlist()["tok"], "B to put its address back", 60)
        self.assertEqual(allowlist_wire(self.server), [f"DELETE {IP_A} tok", f"POST {IP_B} tok", f"POST {IP_A} tok"])
        self.wait_for(lambda: (SERVICE_DATA / "last_confirmed.txt").read_text() > confirmed,
                      "last_confirmed.txt to move forward")  # written once the server's answer is in
        self.assertTrue((self.data / "last_confirmed.txt").exists(), "A's sync dated its registration")
        self.assertEqual(self.log()[-1], RELOADED + IP_A, "a re-assertion writes no line")

    def test_links_are_never_followed_and_the_event_is_secured(self):
        # Wine shows a Unix link to a folder as a reparse point (by its path)
        # and counts hard links: both are real objects here.
        elsewhere = self.tmp / "elsewhere"
        elsewhere.mkdir()
        SERVICE_DATA.symlink_to(elsewhere, target_is_directory=True)
        self.addCleanup(SERVICE_DATA.unlink, missing_ok=True)  # after tearDown, which leaves a link
        self.start()
        self.poke("cycles", "1")  # the worker has logged a line meanwhile
        self.assertEqual(list(elsewhere.iterdir()), [], "the service wrote through a linked data folder")
        # Users may wait on and signal the event, never re-secure it.
        self.assertEqual(self.poke("security").strip().split("D:")[1],
                         "P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100003;;;AU)(A;;0x100003;;;OW)")
        stop_service()
        SERVICE_DATA.unlink()

        victim = elsewhere / "victim.txt"
        victim.write_bytes(b"not the log")
        SERVICE_DATA.mkdir()
        (SERVICE_DATA / "service.log").hardlink_to(victim)
        # A second link of the anchor, planted for its next start: only the anchor's own name goes.
        planted = elsewhere / "planted"
        planted.write_bytes(b"the user's")
        (SERVICE_DATA / "service.lock").hardlink_to(planted)
        self.start()
        self.poke("cycles", "1")
        self.assertEqual(victim.read_bytes(), b"not the log", "the service appended to a hard-linked log")
        anchor = SERVICE_DATA / "service.lock"
        self.assertEqual((planted.read_bytes(), planted.stat().st_nlink, anchor.stat().st_nlink),
                         (b"the user's", 1, 1), "a fresh anchor is made and held")
        self.assertEqual(sorted(p.name for p in SERVICE_DATA.iterdir()), ["service.lock", "service.log"],
                         "no temporary left; the anchor is held")


if __name__ == "__main__":
    unittest.main()
