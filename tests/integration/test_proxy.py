"""whitelist sync and the tray's refresh through WinHTTP's machine proxy (what netsh sets), and a proxy that
wants a sign-in. The setting lives in the prefix: CTest runs this suite alone, and it is put back at the end."""
import os
import unittest

import test_tray_gui as tray
from fake_server import FakeProxy
from harness import ECHO_PORT, AgentTestCase, crlf, encrypt_config, run, start_server_with_echo

IP, ECHO_IP = "198.51.100.40", "192.0.2.40"
SIGN_IN = "The proxy requires authentication (HTTP 407)."
server = proxy = None


def machine_proxy(address):
    """Sets the machine proxy ("" for none); the one set before."""
    r = run(os.environ["WHITELIST_MACHINE_PROXY"], [address])
    if r.code != 0:
        raise AssertionError(f"machine_proxy {address!r}: {r!r}")
    return r.out.decode().strip()


def setUpModule():
    global server, proxy
    server, proxy = start_server_with_echo(IP, ECHO_IP), FakeProxy()
    unittest.addModuleCleanup(server.stop)
    unittest.addModuleCleanup(proxy.stop)
    unittest.addModuleCleanup(machine_proxy, machine_proxy(proxy.address()))


class Sync(AgentTestCase):
    def sync_now(self):
        proxy.requests.clear()
        encrypt_config(self.data / "whitelist.config", f"token=tok\nserver_url={server.url()}\n".encode())
        return self.agent("sync")

    def test_server_and_echo_through_the_proxy(self):
        # No address from the server: the echo service is asked, over https through a tunnel.
        server.set_script("GET", "/api/client-ip", [{"status": 404}])
        r = self.sync_now()
        self.assertEqual((r.code, r.out), (0, crlf(f"Current public IP: {ECHO_IP}",
                                                   f"IP {ECHO_IP} whitelisted successfully.")), r)
        self.assertEqual(proxy.seen(), [f"GET {server.url()}/api/client-ip", f"CONNECT 127.0.0.1:{ECHO_PORT}",
                                        f"POST {server.url()}/api/public/whitelist"])

    def test_sign_in_refused(self):
        # Negotiate is offered this account's logon once; Basic has nothing to give.
        for challenge, tries in ((["Negotiate", "NTLM"], 2), (['Basic realm="corp"'], 1)):
            with self.subTest(challenge=challenge):
                proxy.challenge = challenge
                self.addCleanup(setattr, proxy, "challenge", None)
                r = self.sync_now()
                self.assertEqual((r.code, r.out), (1, crlf(SIGN_IN)), r)
                self.assertEqual((self.data / "last_error.txt").read_text(), SIGN_IN)
                self.assertEqual(proxy.seen().count(f"GET {server.url()}/api/client-ip"), tries)


class TrayRefresh(unittest.TestCase):
    def test_refresh_through_the_proxy(self):
        tray.setUpModule()
        self.addCleanup(tray.tearDownModule)
        window = tray.Tray("start")  # its helpers, not its tests
        window.setUp()
        self.addCleanup(window.doCleanups)
        self.addCleanup(window.tearDown)
        encrypt_config(window.data / "whitelist.config", f"token=t\nserver_url={tray.server.url()}\n".encode())
        (window.data / "last_error.txt").write_text(SIGN_IN)
        window.start(tray.SW_HIDE)
        window.shows("status", {204: tray.SERVER_IP, 216: "Error: proxy needs sign-in"})
        self.assertIn(f"GET {tray.server.url()}/api/client-ip", proxy.seen())
        window.exit_tray()


if __name__ == "__main__":
    unittest.main()
