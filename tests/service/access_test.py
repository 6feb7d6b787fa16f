#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The attacks on matrixd, replayed against the real daemon and matrix-sim:
for each, the answer, and that the matrix received no frame. Everything
listens on 127.0.24.x."""
import http.client
import json
import os
import shutil
import socket
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Matrixd, Sim, hall_matrix, wait_until  # noqa: E402

HOST = "127.0.24.1"
SIM = "127.0.24.2"
GUESSER = "127.0.24.3"  # its wrong tokens must not slow down anyone else
PROXY = "127.0.24.4"    # a reverse proxy: its clients are told apart by X-Forwarded-For / Forwarded
VIDEOHUB = 9990
SECRETS = {"viewer": "lobby-viewer-0123456789", "operator": "desk-operator-0123456789",
           "admin": "tech-admin-0123456789abc"}
# A same-origin page's request, and what other sites' pages send.
OWN_ORIGIN = "http://%s:8480" % HOST
CROSS_SITE = [{"Origin": "http://evil.example"}, {"Origin": "null"}, {"Sec-Fetch-Site": "cross-site"},
              {"Sec-Fetch-Site": "same-site"}, {"Origin": "http://evil.example", "Sec-Fetch-Site": "cross-site"}]
# matrixd runs as nobody when the tests run as root: root writes into a read-only directory.
NOBODY = 65534
RUN_AS = ("setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups") if os.geteuid() == 0 else ()


def firmware_container():
    image = bytes([0xA5, 0x5A] + [(i * 31 + 7) & 0xFF for i in range(1000)])
    key = (len(image) & 0xFF) ^ 0x3C
    return bytes(b ^ key for b in image)


def own(path):
    if RUN_AS:
        os.chown(path, NOBODY, NOBODY)


class AccessAttacks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="matrixd-access-")
        cls.state = os.path.join(cls.tmp, "state")
        os.chmod(cls.tmp, 0o755)  # matrixd may run as another user
        os.mkdir(cls.state, 0o700)
        own(cls.state)
        cls.sim = Sim(tcp=SIM)
        tokens = "".join('[[token]]\nname = "%s-token"\nrole = "%s"\nsecret = "%s"\n' % (role, role, secret)
                         for role, secret in SECRETS.items())
        # No polling: every frame the matrix receives was asked for by a request.
        matrix = dict(hall_matrix(SIM), poll_seconds=0, videohub_port=VIDEOHUB, videohub_listen=HOST)
        try:
            cls.d = Matrixd(HOST, [matrix], cls.state, extra_http='server_names = ["matrix.lan"]\ntrusted_proxies = ["%s"]\n' % PROXY + tokens,
                            run_as=RUN_AS)
        except BaseException:
            cls.sim.stop()
            raise
        def ready():
            d = cls.call("GET", "/api/v1/matrices/hall", role="admin")[1]
            return d.get("link") == "up" and d.get("model") is not None and d.get("beep") is not None and \
                all(e["code"] is not None for e in d["edid"]) and all(o["input"] is not None for o in d["outputs"])
        if not wait_until(ready, 10):
            raise AssertionError("link not up:\n" + cls.d.stderr())
        assert cls.call("PUT", "/api/v1/matrices/hall/scenes/s1", {"routing": {"A": 2, "B": 3}}, role="admin")[0] == 200
        cls.settle()

    @classmethod
    def settle(cls):
        """Drops the frames of what was asked so far, once the matrix has been quiet for a while."""
        quiet_since = time.monotonic()
        end = quiet_since + 5
        while time.monotonic() < end and time.monotonic() - quiet_since < 0.3:
            if cls.sim.frames():
                quiet_since = time.monotonic()
            time.sleep(0.05)

    @classmethod
    def tearDownClass(cls):
        cls.d.close()
        cls.sim.stop()
        shutil.rmtree(cls.d.dir, ignore_errors=True)
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def call(cls, method, path, body=None, role=None, headers=None, raw=None, source=HOST, token=None):
        """One request from `source`, with the token of `role` (or `token`)."""
        conn = http.client.HTTPConnection(HOST, 8480, timeout=10, source_address=(source, 0))
        try:
            h = {"Content-Type": "application/json"} if body is not None else {}
            h.update(headers or {})
            secret = token or SECRETS.get(role)
            if secret:
                h["Authorization"] = "Bearer " + secret
            conn.request(method, path, body=raw if raw is not None else json.dumps(body) if body is not None else None,
                         headers=h)
            response = conn.getresponse()
            content = response.read()
            try:
                parsed = json.loads(content) if content else {}
            except ValueError:
                parsed = {}
            return response.status, parsed, response
        finally:
            conn.close()

    def names(self):
        detail = self.call("GET", "/api/v1/matrices/hall", role="viewer")[1]
        return [i["name"] for i in detail["inputs"]], [o["name"] for o in detail["outputs"]]

    def assertNoFrame(self, what):
        self.assertEqual(self.sim.frames(), [], what)

    def test_cross_site_requests_are_refused_with_or_without_a_token(self):
        requests = [("POST", "/api/v1/matrices/hall/scenes/s1/recall", b"x"),
                    ("POST", "/api/v1/matrices/hall/factory-reset", b""),
                    ("PUT", "/api/v1/matrices/hall/outputs/B", b'{"input": 1}'),
                    ("DELETE", "/api/v1/matrices/hall/scenes/s1", None)]
        types = ["text/plain", "application/x-www-form-urlencoded", "multipart/form-data; boundary=x", None]
        for method, path, raw in requests:
            for content_type in types:
                for site in CROSS_SITE:
                    for role in (None, "admin"):
                        headers = dict(site, **({"Content-Type": content_type} if content_type else {}))
                        status = self.call(method, path, role=role, headers=headers, raw=raw)[0]
                        self.assertEqual(status, 403, (method, path, content_type, site, role))
        self.assertNoFrame("cross-site requests")
        self.assertIn("s1", [s["name"] for s in self.call("GET", "/api/v1/matrices/hall/scenes", role="admin")[1]])
        # The page itself is same-origin and keeps working.
        status = self.call("PUT", "/api/v1/matrices/hall/outputs/B", {"input": 4}, role="operator",
                           headers={"Origin": OWN_ORIGIN, "Sec-Fetch-Site": "same-origin"})[0]
        self.assertEqual(status, 200)
        self.assertEqual(len(self.sim.frames()), 1)
        self.settle()

    def test_a_foreign_host_gets_421_and_nothing_is_done(self):
        requests = [("GET", "/api/v1/matrices/hall", None), ("PUT", "/api/v1/matrices/hall/outputs/B", {"input": 2}),
                    ("PUT", "/api/v1/matrices/hall/inputs/1/name", {"name": "Rebound"}),
                    ("PUT", "/api/v1/matrices/hall/beep", {"on": True}), ("GET", "/", None)]
        for host in ("evil.example:8480", "evil.example", "127.0.24.99:8480"):
            for method, path, body in requests:
                status = self.call(method, path, body, role="admin", headers={"Host": host})[0]
                self.assertEqual(status, 421, (host, method, path))
        self.assertNoFrame("foreign Host")
        self.assertEqual(self.names()[0][0], "Laptop")
        for host in (HOST + ":8480", "matrix.lan", "MATRIX.LAN:443"):
            self.assertEqual(self.call("GET", "/api/v1/matrices/hall", role="viewer", headers={"Host": host})[0], 200)

    def test_http_request_lines_on_the_videohub_port_are_dropped_before_any_block(self):
        body = "VIDEO OUTPUT ROUTING:\n0 3\n1 3\n\nINPUT LABELS:\n0 Evil\n\n"
        for line in ("POST / HTTP/1.1", "GET / HTTP/1.1", "PUT /x HTTP/1.1", "OPTIONS * HTTP/1.1"):
            with socket.create_connection((HOST, VIDEOHUB), timeout=3) as conn:
                received = b""
                while b"END PRELUDE:" not in received:
                    received += conn.recv(4096)
                conn.sendall(("%s\r\nHost: %s:%d\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n%s"
                              % (line, HOST, VIDEOHUB, len(body), body)).encode())
                answer = b""
                while True:
                    chunk = conn.recv(4096)
                    if not chunk:
                        break
                    answer += chunk
                self.assertNotIn(b"ACK", answer, line)
        self.assertNoFrame("Videohub blocks behind HTTP request lines")
        self.assertEqual(self.names()[0][0], "Laptop")
        self.assertIn("sent an HTTP request", self.d.stderr())

    def test_guessing_gets_429_with_retry_after_for_that_address_only(self):
        for attempt in range(11):
            self.assertEqual(self.call("GET", "/api/v1/matrices", token="guess-%02d-xxxxxxxxxx" % attempt,
                                       source=GUESSER)[0], 401, attempt)
        status, _, response = self.call("PUT", "/api/v1/matrices/hall/outputs/A", {"input": 3}, role="admin",
                                        source=GUESSER)
        self.assertEqual(status, 429)
        self.assertGreater(int(response.getheader("Retry-After")), 0)
        self.assertNoFrame("a guesser with the right token")
        self.assertEqual(self.call("GET", "/api/v1/matrices", role="viewer")[0], 200)
        # Behind the proxy the guesser is its client, not the proxy; anyone else may claim
        # any address, so from a peer that is no proxy the header changes nothing.
        for headers, source, status in [({"X-Forwarded-For": "10.9.8.7"}, PROXY, 429),
                                        ({"Forwarded": "for=10.9.8.5"}, PROXY, 429),
                                        ({"X-Forwarded-For": "10.9.8.6"}, PROXY, 200),
                                        ({"X-Forwarded-For": "10.9.8.7"}, HOST, 200)]:
            if status == 429:
                for attempt in range(11):
                    self.call("GET", "/api/v1/matrices", token="guess-%02d-xxxxxxxxxx" % attempt, source=source,
                              headers=headers)
            self.assertEqual(self.call("GET", "/api/v1/matrices", role="viewer", source=source, headers=headers)[0],
                             status, (headers, source))
        self.assertNoFrame("guessers behind a proxy")
        self.assertIn("http: %s (for 10.9.8.7) GET /api/v1/matrices 429" % PROXY, self.d.stderr())

    def test_failed_saves_answer_500_or_nak_and_change_nothing(self):
        before = self.names()
        os.chmod(self.state, 0o500)
        try:
            saves = [("PUT", "/api/v1/matrices/hall/inputs/1/name", {"name": "Lost"}),
                     ("PUT", "/api/v1/matrices/hall/outputs/A/name", {"name": "Lost"}),
                     ("PUT", "/api/v1/matrices/hall/scenes/s2", {"routing": {"A": 1}}),
                     ("DELETE", "/api/v1/matrices/hall/scenes/s1", None)]
            for method, path, body in saves:
                self.assertEqual(self.call(method, path, body, role="admin")[0], 500, path)
            with socket.create_connection((HOST, VIDEOHUB), timeout=3) as conn:
                received = b""
                while b"END PRELUDE:" not in received:
                    received += conn.recv(4096)
                conn.sendall(b"INPUT LABELS:\n1 Lost\n\n")
                self.assertTrue(wait_until(lambda: conn.recv(64).startswith(b"NAK"), 3), "Videohub label NAK")
        finally:
            os.chmod(self.state, 0o700)
        self.assertEqual(self.names(), before)
        scenes = [s["name"] for s in self.call("GET", "/api/v1/matrices/hall/scenes", role="admin")[1]]
        self.assertIn("s1", scenes)
        self.assertNotIn("s2", scenes)
        self.assertNoFrame("failed saves")

    def test_a_planted_symlink_at_the_temporary_file_is_not_followed(self):
        victim = os.path.join(self.tmp, "victim")
        with open(victim, "w") as f:
            f.write("precious\n")
        own(victim)
        link = os.path.join(self.state, "state.json.tmp")
        os.symlink(victim, link)
        self.assertEqual(self.call("PUT", "/api/v1/matrices/hall/outputs/D/name", {"name": "Archive"},
                                   role="admin")[0], 200)
        with open(victim) as f:
            self.assertEqual(f.read(), "precious\n")
        saved = os.path.join(self.state, "state.json")
        self.assertFalse(os.path.islink(saved))
        self.assertFalse(os.path.lexists(link))
        with open(saved) as f:
            self.assertIn("Archive", f.read())
        self.assertEqual(os.stat(self.state).st_mode & 0o777, 0o700)

    def test_a_forged_log_line_stays_inside_its_own_line(self):
        forged = "http: 10.0.0.1 POST /api/v1/matrices/hall/factory-reset 200 1ms"
        path = "/api/v1/matrices/hall%0a" + forged.replace(" ", "%20") + "%1b[31m"
        self.assertEqual(self.call("GET", path, role="admin")[0], 404)
        # A change names who made it; a name a client chose is escaped.
        self.assertEqual(self.call("PUT", "/api/v1/matrices/hall/outputs/C", {"input": 1}, role="operator")[0], 200)
        self.settle()
        log = self.d.stderr()
        self.assertNotIn("\x1b", log)
        self.assertFalse([line for line in log.splitlines() if line.startswith(forged)])
        self.assertIn("hall: route C<-1 by operator-token (http) from %s" % HOST, log)

    def test_z_each_role_against_each_operation(self):
        hall = "/api/v1/matrices/hall"
        octet = {"Content-Type": "application/octet-stream"}
        # (operation, request, the least role that may) -- firmware last: it holds the matrix.
        operations = [
            ("read", ("GET", hall, None, None, None), "viewer"),
            ("route", ("PUT", hall + "/outputs/A", {"input": 2}, None, None), "operator"),
            ("routing", ("PUT", hall + "/routing", {"C": 2, "D": 3}, None, None), "operator"),
            ("recall", ("POST", hall + "/scenes/s1/recall", None, None, None), "operator"),
            ("beep", ("PUT", hall + "/beep", {"on": False}, None, None), "operator"),
            ("rename", ("PUT", hall + "/inputs/2/name", {"name": "Player"}, None, None), "admin"),
            ("scene save", ("PUT", hall + "/scenes/s3", {"routing": {"A": 1}}, None, None), "admin"),
            ("scene delete", ("DELETE", hall + "/scenes/s3", None, None, None), "admin"),
            ("edid", ("PUT", hall + "/inputs/1/edid", {"mode": 4}, None, None), "admin"),
            ("factory reset", ("POST", hall + "/factory-reset", None, None, None), "admin"),
            ("firmware", ("POST", hall + "/firmware", None, octet, firmware_container()), "admin"),
        ]
        rank = {"viewer": 0, "operator": 1, "admin": 2}
        for name, (method, path, body, headers, raw), least in operations:
            for role in ("viewer", "operator", "admin"):
                status, answer, _ = self.call(method, path, body, role=role, headers=headers, raw=raw)
                if rank[role] < rank[least]:
                    self.assertEqual((status, answer.get("error")), (403, "Not allowed for this token"), (name, role))
                    self.assertNoFrame((name, role))
                else:
                    self.assertIn(status, (200, 202), (name, role, answer))
                    if method != "GET" and name not in ("rename", "scene save", "scene delete"):
                        self.assertTrue(wait_until(self.sim.frames, 3), (name, role, "sent something"))
                    self.settle()  # and what the change reads back afterwards


if __name__ == "__main__":
    unittest.main(verbosity=2)
