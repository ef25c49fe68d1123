"""sync.exe's files command against the loopback server: outcome lines, exit
codes, the list scan on real answers, names that try to leave the folder."""
import base64
import shutil
import unittest

from harness import AgentTestCase, FakeServer, crlf, win_path

USAGE = ("Usage: sync files --name <customer> --token <token> [--server-url <url>]",
         "Example: sync files --name BIRCH_LLC --token 7D3A91C4-5E2B-4F80-A6D9-1B4C8E2F7A05")
LIST_PATH = "/api/auth/customers/7/files"

server = None


def setUpModule():
    global server
    server = FakeServer(http_port=0)
    server.start()


def tearDownModule():
    server.stop()


class Files(AgentTestCase):
    def setUp(self):
        super().setUp()
        server.clear_scripts()
        server.clear_requests()
        self.url = f"http://127.0.0.1:{server.http_port}"
        self.files = self.program_dir / "files"
        self.customers([("a.txt", b"alpha"), ("b.bin", bytes(range(256)) * 64)])

    def customers(self, files, name="BIRCH LLC"):
        server.set_customers({"tokens": ["ctok"], "customers": [{"id": 7, "name": name, "files": [
            {"id": 11 + i, "original_name": n, "content_b64": base64.b64encode(c).decode()}
            for i, (n, c) in enumerate(files)]}]})

    def list_answers(self, body):
        server.set_script("GET", LIST_PATH, [{"body": body, "content_type": "application/json", "always": True}])
        # The downloads below the list's path stay the server's own.
        server.set_script("GET", LIST_PATH + "/", [{"action": "normal", "always": True}])

    def files_command(self, *args, exe=None):
        return self.agent("files", *args, exe=exe or self.sync)

    def fetch(self, *extra, name="BIRCH LLC", token="ctok"):
        return self.files_command("-n", name, "-t", token, "-s", self.url + "/", *extra)

    def folder_line(self):
        return f"Files downloaded to {win_path(self.files)}"

    def test_downloads_every_file_and_reports_the_folder(self):
        self.files.mkdir()
        (self.files / "a.txt").write_bytes(b"old content")
        upper = self.program_dir / "SYNC.EXE"
        shutil.copyfile(self.sync, upper)
        self.sync.unlink()
        r = self.agent("FILES", "--NAME", "BIRCH LLC", "--Token", "ctok", "-S", self.url + "//", exe=upper)
        self.assertEqual((r.code, r.out), (0, crlf("Downloaded: a.txt", "Downloaded: b.bin", self.folder_line())), r)
        self.assertEqual((self.files / "a.txt").read_bytes(), b"alpha", "an existing file is replaced")
        self.assertEqual((self.files / "b.bin").read_bytes(), bytes(range(256)) * 64)
        paths = [q["path"] for q in server.get_requests()]
        self.assertEqual(paths, ["/api/auth/customers/name/BIRCH%20LLC", LIST_PATH, LIST_PATH + "/11/download",
                                 LIST_PATH + "/12/download"])

    def test_usage_lines(self):
        for args in [("-n", "x"), ("-t", "ctok"), ("-t", "ctok", "-n"), ("-n", "x" * 256, "-t", "ctok"),
                     ("-n", "x", "-t", "ctok", "-s", "https://" + "h" * 504)]:
            with self.subTest(args=[a[:20] for a in args]):
                r = self.files_command(*args)
                self.assertEqual((r.code, r.out), (1, crlf(*USAGE)), r)
        self.assertEqual(server.get_requests(), [])

    def test_failure_rows(self):
        # Fits its field, but not the request path once encoded: never sent cut.
        r = self.fetch(name="\u00e9" * 255)
        self.assertEqual((r.code, r.out), (1, crlf("Customer name is too long.")), r)
        self.assertEqual(server.get_requests(), [])

        r = self.fetch(token="wrong")
        self.assertEqual((r.code, r.out), (1, crlf("Failed to fetch customer (check name and token).")), r)
        self.assertTrue(self.files.is_dir(), "the folder is made before the lookup")

        for body in ('{"name":"BIRCH LLC"}', '{"id":"7"}', '{"id":0}'):
            with self.subTest(customer=body):
                server.set_script("GET", "/api/auth/customers/name/", [{"body": body}])
                r = self.fetch()
                self.assertEqual((r.code, r.out), (1, crlf("Customer not found or invalid response.")), r)

        server.set_script("GET", LIST_PATH, [{"status": 500, "body": "{}"}])
        r = self.fetch()
        self.assertEqual((r.code, r.out), (1, crlf("Failed to fetch file list.")), r)

        server.set_script("GET", LIST_PATH + "/12/download", [{"status": 404, "body": "gone"}])
        r = self.fetch()
        self.assertEqual((r.code, r.out), (1, crlf("Downloaded: a.txt", "Failed to download b.bin")), r)
        self.assertTrue((self.files / "a.txt").exists())
        self.assertFalse((self.files / "b.bin").exists())

        shutil.rmtree(self.files)
        self.files.write_bytes(b"a file in the way")
        r = self.fetch()
        self.assertEqual((r.code, r.out), (1, crlf("Failed to create files directory.")), r)

    def test_nothing_to_download(self):
        for body, line in [("[]", "No files for this customer."),
                           ('[{"id":"11","original_name":"a.txt"}]', "No files found."),
                           ("garbage", "No files found.")]:
            with self.subTest(body=body):
                self.list_answers(body)
                r = self.fetch()
                self.assertEqual((r.code, r.out), (0, crlf(line)), r)
        self.assertEqual(list(self.files.iterdir()), [])

    def test_each_file_under_its_own_name_whatever_the_key_order(self):
        self.customers([("a", b"alpha"), ("b", b"beta"), ("c", b"gamma")])
        self.list_answers('[{"file_name":"one.txt","id":11},{"id":99},{"size":4,"id":12,"original_name":"two.bin"},'
                          '{"original_name":"three.txt","id":13}]')
        r = self.fetch()
        self.assertEqual((r.code, r.out), (0, crlf("Downloaded: one.txt", "Downloaded: two.bin",
                                                   "Downloaded: three.txt", self.folder_line())), r)
        self.assertEqual({p.name: p.read_bytes() for p in self.files.iterdir()},
                         {"one.txt": b"alpha", "two.bin": b"beta", "three.txt": b"gamma"})

    def test_only_the_first_32767_bytes_of_the_list_count(self):
        filler = '{"pad":"' + "p" * 32720 + '"},'
        self.list_answers('[{"id":11,"original_name":"first.txt"},' + filler +
                          '{"id":12,"original_name":"beyond.txt"}]')
        r = self.fetch()
        self.assertEqual((r.code, r.out), (0, crlf("Downloaded: first.txt", self.folder_line())), r)

    def test_cut_download_keeps_the_old_file(self):
        self.files.mkdir()
        (self.files / "b.bin").write_bytes(b"previous")
        body = base64.b64encode(bytes(range(256)) * 64).decode()
        server.set_script("GET", LIST_PATH + "/12/download", [{"action": "drop", "body_b64": body, "drop_after": 9000}])
        r = self.fetch()
        self.assertEqual((r.code, r.out), (1, crlf("Downloaded: a.txt", "Failed to download b.bin")), r)
        self.assertEqual((self.files / "b.bin").read_bytes(), b"previous")
        self.assertEqual(sorted(p.name for p in self.files.iterdir()), ["a.txt", "b.bin"])

    def test_hostile_names_never_leave_the_folder(self):
        hostile = ["..\\\\evil.txt", "C:\\\\x", "a/b", "..", "CON", "..\\\\..\\\\..\\\\Windows\\\\x.dll"]
        records = [f'{{"id":11,"original_name":"{n}"}}' for n in hostile]
        records.append('{"id":12,"original_name":"fine.txt"}')
        self.list_answers("[" + ",".join(records) + "]")
        r = self.fetch()
        refused = [f"Refused unsafe file name: {n}" for n in hostile]
        self.assertEqual((r.code, r.out), (1, crlf(*refused, "Downloaded: fine.txt", self.folder_line())), r)
        self.assertEqual(sorted(p.name for p in self.files.iterdir()), ["fine.txt"])
        self.assertEqual(sorted(p.name for p in self.program_dir.iterdir()), ["files", "sync.exe", "whitelist.exe"])
        self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), ["ProgramData", "app"])

    def test_redirect_is_a_failure_and_is_never_followed(self):
        server.set_script("GET", "/api/auth/customers/name/", [{"status": 302, "headers": {"Location": "/elsewhere"}}])
        r = self.fetch()
        self.assertEqual((r.code, r.out), (1, crlf("Failed to fetch customer (check name and token).")), r)
        self.assertNotIn("/elsewhere", [q["path"] for q in server.get_requests()], "the token went elsewhere")


if __name__ == "__main__":
    unittest.main()
