"""The agent as a real service under Wine's service control manager, against
the loopback server."""
import pathlib
import shutil
import tempfile
import time
import unittest

from harness import FakeServer, decrypt_config
from service_harness import SERVICE, SERVICE_DATA, ServiceTestCase, sc

IP_A, IP_B, IP_C = "198.51.100.10", "198.51.100.20", "198.51.100.30"
NO_CONFIG = "No config - service will do nothing until whitelist --token X --server-url Y is run"


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

    def assertStatusReport(self, sc_output, pending_state, checkpoint, wait_hint):
        """sc prints the status right after its request; the service may be
        past the pending state by then, which then has checkpoint and hint 0."""
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

    def test_command_line_sync_reloads_the_service_instead_of_a_second_addition(self):
        self.configure()
        self.start()
        self.wait_log(f"Startup whitelist sync OK: {IP_A}")
        server.set_ip(IP_C)
        server.clear_requests()
        r = self.cli("sync")
        self.assertEqual(r.code, 0, r)
        self.wait_log(f"Last IP reloaded from file after external sync: {IP_C}")
        # A second reload is logged only after the cycle that followed the
        # first one has finished.
        self.poke("event")
        self.wait_log(f"Last IP reloaded from file after external sync: {IP_C}", count=2)
        self.assertEqual(self.wire(), [f"DELETE {IP_A} tok", f"POST {IP_C} tok"], "the command's requests only")

    def test_control_code_128_reloads_and_other_codes_do_nothing(self):
        self.configure()
        self.start()
        self.wait_log(f"Startup whitelist sync OK: {IP_A}")
        (SERVICE_DATA / "last_ip.txt").write_bytes(b"203.0.113.99")
        self.poke("control", "200")
        self.poke("control", "128")
        self.wait_log("Last IP reloaded from file after external sync: 203.0.113.99")
        self.assertEqual(self.log()[-2:], [f"Startup whitelist sync OK: {IP_A}",
                                           "Last IP reloaded from file after external sync: 203.0.113.99"])
        self.assertEqual(self.cli("status").out.splitlines()[0], b"Service: Running")

    def test_registration_keeps_settings_saved_since_the_service_started(self):
        self.configure("token-A")
        self.start()
        self.wait_log(f"Startup whitelist sync OK: {IP_A}")
        self.configure("token-B")
        self.wait_log(f"Last IP reloaded from file after external sync: {IP_A}")
        server.set_ip(IP_B)
        server.clear_requests()
        self.poke("event")
        self.wait_log(f"IP updated: {IP_B}")
        self.assertEqual(self.wire(), [f"DELETE {IP_A} token-A", f"POST {IP_B} token-A"],
                         "a running service keeps the token it started with")
        self.assertIn(b"token=token-B\n", decrypt_config(SERVICE_DATA / "whitelist.config"))
        self.assertEqual((SERVICE_DATA / "last_ip.txt").read_bytes(), IP_B.encode())

    def test_without_configuration_and_with_an_oversized_log(self):
        SERVICE_DATA.mkdir(parents=True)
        (SERVICE_DATA / "service.log").write_bytes(b"x" * 524289)
        self.start()
        self.wait_log(NO_CONFIG)
        self.poke("event")
        self.wait_log("Last IP reloaded from file after external sync: (none)")
        self.assertEqual(self.log(), [NO_CONFIG, "Last IP reloaded from file after external sync: (none)"],
                         "the log restarted and nothing else happened")
        self.assertEqual(server.get_requests(), [])

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
        # A poll cycle follows the start-up sync at once; the change must come
        # after its detection to be left to the timed one.
        self.wait_for(lambda: sum(r["path"] == "/api/client-ip" for r in server.get_requests()) >= 2,
                      "the first poll cycle's detection")
        server.set_ip(IP_B)
        started = time.monotonic()
        self.wait_log(f"IP updated: {IP_B}", bound=150)
        self.assertGreater(time.monotonic() - started, 30,
                           f"noticed by the timed poll, not an earlier cycle; log: {self.log()}; "
                           f"requests: {[(r['method'], r['path']) for r in server.get_requests()]}")


if __name__ == "__main__":
    unittest.main()
