"""whitelist sync and the tray's refresh through WinHTTP's machine proxy (what netsh sets), which CTest runs
alone: the setting lives in the prefix, and is put back at the end."""
import os
import unittest

import test_tray_gui as tray
from harness import ECHO_PORT, AgentTestCase, crlf, encrypt_config, run, start_server_with_echo, wine_tool

IP, ECHO_IP = "198.51.100.40", "192.0.2.40"
SIGN_IN = "The proxy requires authentication (HTTP 407)."
server = None


def machine_proxy(address):
    r = run(os.environ["WHITELIST_MACHINE_PROXY"], [address])
    assert r.code == 0, r
    return r.out.decode().strip()  # the one set before


def setUpModule():
    global server
    # Windows 10 to the programs, not the prefix's 7: their sessions take the automatic proxy mode unless told.
    for program in ("whitelist.exe", "tray.exe"):
        key = rf"HKCU\Software\Wine\AppDefaults\{program}"
        wine_tool("reg", "add", key, "/v", "Version", "/d", "win10", "/f")
        unittest.addModuleCleanup(wine_tool, "reg", "delete", key, "/f")
    server = start_server_with_echo(IP, ECHO_IP, proxy=True)
    unittest.addModuleCleanup(server.stop)
    before = machine_proxy(server.proxy_address())
    # One left by a killed run of this suite is not put back.
    unittest.addModuleCleanup(machine_proxy, "" if before.startswith("127.0.0.2:") else before)


class Proxy(AgentTestCase):
    def test_sync_through_the_proxy_and_a_sign_in_it_refuses(self):
        encrypt_config(self.data / "whitelist.config", f"token=t\nserver_url={server.url()}\n".encode())
        # No address from the server: the echo service is asked, over https through a tunnel.
        server.set_script("GET", "/api/client-ip", [{"status": 404}])
        server.proxied.clear()
        r = self.agent("sync")
        self.assertEqual((r.code, r.out), (0, crlf(f"Current public IP: {ECHO_IP}",
                                                   f"IP {ECHO_IP} whitelisted successfully.")), r)
        ask_ip = f"GET {server.url()}/api/client-ip"
        self.assertEqual(server.proxied, [ask_ip, f"CONNECT 127.0.0.1:{ECHO_PORT}",
                                          f"POST {server.url()}/api/public/whitelist"])
        # Negotiate is offered this account's logon once, Basic nothing; the echo service is not asked then.
        self.addCleanup(setattr, server, "proxy_challenge", None)
        for server.proxy_challenge, asked in ((["Negotiate", "NTLM"], [ask_ip] * 2), (['Basic realm="c"'], [ask_ip])):
            server.proxied.clear()
            r = self.agent("sync")
            self.assertEqual((r.code, r.out, server.proxied), (1, crlf(SIGN_IN), asked), r)
            self.assertEqual((self.data / "last_error.txt").read_text(), SIGN_IN)
        # None set: the automatic mode, which Wine accepts and takes for direct.
        server.proxy_challenge = None
        machine_proxy("")
        self.addCleanup(machine_proxy, server.proxy_address())
        server.proxied.clear()
        self.assertEqual((self.agent("sync").code, server.proxied), (0, []))

    def test_tray_refresh_through_the_proxy(self):
        tray.setUpModule()
        self.addCleanup(tray.tearDownModule)
        window = tray.Tray("start")  # its helpers, not its tests
        window.setUp()
        self.addCleanup(window.doCleanups)
        self.addCleanup(window.tearDown)
        encrypt_config(window.data / "whitelist.config", f"token=t\nserver_url={server.url()}\n".encode())
        (window.data / "last_error.txt").write_text(SIGN_IN)
        server.proxied.clear()
        window.start(tray.SW_HIDE)
        window.shows("status", {tray.T.ID_PUBLIC_IP_VALUE: IP, tray.T.ID_STATUS_VALUE: "Error: proxy needs sign-in"})
        self.assertIn(f"GET {server.url()}/api/client-ip", server.proxied)
        window.exit_tray()


if __name__ == "__main__":
    unittest.main()
