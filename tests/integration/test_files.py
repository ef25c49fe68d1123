"""sync.exe's files command against the loopback server: outcome lines, exit
codes, what it asks for, names that try to leave the folder."""
import base64
import shutil
import unittest

from harness import AgentTestCase, FakeServer, crlf, win_path

NAME_PATH = "/api/auth/customers/name/"
LIST_PATH = "/api/auth/customers/7/files"
BINARY = bytes(range(256)) * 64

server = None


def setUpModule():
    global server
    server = FakeServer().start()


def tearDownModule():
    server.stop()


def answer(path, **item):
    server.set_script("GET", path, [dict(item, always=True)])


class Files(AgentTestCase):
    def setUp(self):
        super().setUp()
        server.clear_scripts()
        server.clear_requests()
        self.files = self.program_dir / "files"

    def serve(self, listing='[{"id":11,"original_name":"a.txt"},{"id":12,"original_name":"b.bin"}]'):
        answer(NAME_PATH, json={"id": 7, "name": "BIRCH LLC"})
        answer(LIST_PATH, body=listing, content_type="application/json")
        answer(LIST_PATH + "/11/download", body="alpha")
        answer(LIST_PATH + "/12/download", body_b64=base64.b64encode(BINARY).decode())

    def fetch(self, name="BIRCH LLC"):
        return self.agent("files", "-n", name, "-t", "ctok", "-s", server.url(), exe=self.sync)

    def test_downloads_every_file_and_no_name_leaves_the_folder(self):
        hostile = ["..\\\\..\\\\..\\\\Windows\\\\x.dll", "C:\\\\x", "a/b", "CON"]
        self.serve("[" + "".join(f'{{"id":13,"original_name":"{n}"}},' for n in hostile) +
                   '{"id":11,"original_name":"a.txt"},{"original_name":"b.bin","id":12}]')
        self.files.mkdir()
        (self.files / "a.txt").write_bytes(b"old content")
        upper = self.program_dir / "SYNC.EXE"
        shutil.move(self.sync, upper)
        r = self.agent("FILES", "--NAME", "BIRCH LLC", "--Token", "ctok", "-S", server.url(), exe=upper)
        self.assertEqual((r.code, r.out), (1, crlf(*[f"Refused unsafe file name: {n}" for n in hostile],
                                                   "Downloaded: a.txt", "Downloaded: b.bin",
                                                   f"Files downloaded to {win_path(self.files)}")), r)
        self.assertEqual({p.name: p.read_bytes() for p in self.files.iterdir()}, {"a.txt": b"alpha", "b.bin": BINARY})
        self.assertEqual(sorted(p.name for p in self.program_dir.iterdir()), ["SYNC.EXE", "files", "whitelist.exe"])
        self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), ["ProgramData", "app"])
        self.assertEqual([(q["path"], q["headers"]["authorization"]) for q in server.get_requests()],
                         [(path, "Bearer ctok") for path in [NAME_PATH + "BIRCH%20LLC", LIST_PATH,
                                                             LIST_PATH + "/11/download", LIST_PATH + "/12/download"]])

    def test_usage_lines(self):
        for args in [("-n", "x"), ("-t", "ctok", "-n"), ("-n", "x" * 256, "-t", "ctok"),
                     ("-n", "x", "-t", "ctok", "-s", "https://" + "h" * 504)]:
            with self.subTest(args=[a[:20] for a in args]):
                r = self.agent("files", *args, exe=self.sync)
                self.assertEqual((r.code, r.out), (1, crlf(
                    "Usage: sync files --name <customer> --token <token> [--server-url <url>]",
                    "Example: sync files --name BIRCH_LLC --token 7D3A91C4-5E2B-4F80-A6D9-1B4C8E2F7A05")), r)
        # Fits its field, but not the request path once encoded: never sent cut.
        r = self.fetch("\u00e9" * 255)
        self.assertEqual((r.code, r.out), (1, crlf("Customer name is too long.")), r)
        self.assertEqual(server.get_requests(), [])

    def test_failures_keep_what_was_there(self):
        self.files.mkdir()
        (self.files / "b.bin").write_bytes(b"previous")
        cut = {"action": "drop", "body_b64": base64.b64encode(BINARY).decode(), "drop_after": 9000}
        for path, item, code, lines in [
                (NAME_PATH, {"status": 401, "json": {"error": "Unauthorized"}}, 1,
                 ["Failed to fetch customer (check name and token)."]),
                (NAME_PATH, {"json": {"name": "BIRCH LLC"}}, 1, ["Customer not found or invalid response."]),
                (LIST_PATH, {"status": 500, "body": "{}"}, 1, ["Failed to fetch file list."]),
                (LIST_PATH, {"body": "[]"}, 0, ["No files for this customer."]),
                (LIST_PATH, {"body": '[{"id":"11","original_name":"a.txt"}]'}, 0, ["No files found."]),
                (LIST_PATH + "/12/download", cut, 1, ["Downloaded: a.txt", "Failed to download b.bin"])]:
            with self.subTest(path=path, item=item):
                self.serve()
                answer(path, **item)
                r = self.fetch()
                self.assertEqual((r.code, r.out), (code, crlf(*lines)), r)
                self.assertEqual((self.files / "b.bin").read_bytes(), b"previous")
        self.assertEqual(sorted(p.name for p in self.files.iterdir()), ["a.txt", "b.bin"], "no temporary file left")

        shutil.rmtree(self.files)
        self.files.write_bytes(b"a file in the way")
        r = self.fetch()
        self.assertEqual((r.code, r.out), (1, crlf("Failed to create files directory.")), r)


if __name__ == "__main__":
    unittest.main()
