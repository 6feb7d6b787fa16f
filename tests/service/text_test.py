#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""matrixd's plain-text protocol as a control processor uses it: real matrixd
and matrix-sim, clients on TCP from their own 127.0.26.x addresses, and a
panel on a pseudo-terminal pair made with socat. Everything stays on
127.0.26.x and on ptys."""
import collections
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Matrixd, Sim, hall_matrix, matrices_ready, wait_until  # noqa: E402

HOST, SIM_HOST, DARK_SIM = "127.0.26.20", "127.0.26.21", "127.0.26.29"  # nothing listens on DARK_SIM
TEXT_PORT, DARK_PORT, HUB_PORT = 4001, 4002, 9990
PATH = "/api/v1/matrices/hall"


def route_frame(output, input_):
    frame = bytes([0xA5, 0x5B, 2, 3, input_, 0, output, 0, 0, 0, 0, 0])
    return (frame + bytes([(0x100 - sum(frame)) % 0x100])).hex().upper()


class TextClient:
    """One connection, read as CRLF lines; `source` is the client's own 127.x address."""

    def __init__(self, source="127.0.26.30", port=TEXT_PORT):
        self.sock = socket.create_connection((HOST, port), timeout=5, source_address=(source, 0))
        self.buffer = b""

    def close(self):
        self.sock.close()

    def send(self, data):
        self.sock.sendall(data if isinstance(data, bytes) else data.encode())

    def line(self, timeout=5.0):
        deadline = time.monotonic() + timeout
        while b"\r\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no line; have %r" % self.buffer[:200])
            self.sock.settimeout(left)
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("closed; have %r" % self.buffer[:200])
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line.decode()

    def reply(self, timeout=10.0):
        """The next line that is not an EVENT."""
        while True:
            line = self.line(timeout)
            if not line.startswith("EVENT "):
                return line

    def event(self, prefix="EVENT ", timeout=5.0):
        """The next EVENT line starting with `prefix` (others are skipped)."""
        deadline = time.monotonic() + timeout
        while True:
            line = self.line(max(0.01, deadline - time.monotonic()))
            if line.startswith(prefix):
                return line

    def ask(self, request, timeout=10.0):
        self.send(request if request.endswith("\n") else request + "\r\n")
        return self.reply(timeout)

    def closed_at_once(self):
        self.sock.settimeout(2)
        try:
            return self.sock.recv(100) == b""
        except ConnectionResetError:
            return True


class Panel:
    """The far end of the serial cable: a raw pty that socat joins to matrixd's."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        termios.tcflush(self.fd, termios.TCIOFLUSH)
        self.buffer = b""

    def send(self, text):
        os.write(self.fd, text.encode())

    def line(self, prefix, timeout=5.0):
        deadline = time.monotonic() + timeout
        while True:
            while b"\r\n" in self.buffer:
                line, self.buffer = self.buffer.split(b"\r\n", 1)
                if line.decode().startswith(prefix):
                    return line.decode()
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                raise TimeoutError("no %r on the serial line; have %r" % (prefix, self.buffer))
            self.buffer += os.read(self.fd, 4096)

    def close(self):
        os.close(self.fd)


class TextProtocolAgainstMatrixd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="text-")
        if not shutil.which("socat"):
            raise AssertionError("socat is needed for the serial side (scripts/install-deps)")
        cls.matrixd_tty = os.path.join(cls.tmp, "ttyMATRIXD")
        cls.panel_tty = os.path.join(cls.tmp, "ttyPANEL")
        cls.socat = subprocess.Popen(["socat", "pty,rawer,link=" + cls.matrixd_tty, "pty,rawer,link=" + cls.panel_tty],
                                     stderr=subprocess.DEVNULL)
        assert wait_until(lambda: os.path.exists(cls.matrixd_tty) and os.path.exists(cls.panel_tty), 5)
        cls.sim = Sim(tcp=SIM_HOST)
        hall = dict(hall_matrix(SIM_HOST), text_port=TEXT_PORT, text_listen=HOST, text_serial=cls.matrixd_tty,
                    text_baud=19200, videohub_port=HUB_PORT, videohub_listen=HOST)
        dark = dict(id="dark", tcp=DARK_SIM, text_port=DARK_PORT, text_listen=HOST,
                    text_allow=["127.0.26.48/30", "127.0.26.60"])
        cls.d = Matrixd(HOST, [hall, dark], os.path.join(cls.tmp, "state"))
        if not wait_until(lambda: cls.api("GET")[1].get("link") == "up" and cls.api("GET")[1]["beep"] is not None, 8):
            raise AssertionError("link not up:\n" + cls.d.stderr())
        cls.panel = Panel(cls.panel_tty)
        assert cls.api("PUT", "/scenes/Lecture", {"routing": {"A": 2, "B": 2, "C": 4, "D": 1}})[0] == 200
        assert cls.api("PUT", "/scenes/Movie night", {"routing": {"A": 3}})[0] == 200

    @classmethod
    def tearDownClass(cls):
        cls.panel.close()
        cls.d.close()
        cls.sim.stop()
        cls.socat.terminate()
        cls.socat.wait(5)
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def api(cls, method, path="", body=None):
        return cls.d.request(method, PATH + path.replace(" ", "%20"), body)[:2]

    def route_frames(self):
        return [f for f in self.sim.frames() if f.startswith("A55B0203")]

    def client(self, source="127.0.26.30", port=TEXT_PORT):
        c = TextClient(source, port)
        self.addCleanup(c.close)
        return c

    def setUp(self):
        self.assertEqual(self.api("PUT", "/routing", {"A": 1, "B": 2, "C": 3, "D": 4})[0], 200)
        self.assertEqual(self.api("PUT", "/beep", {"on": True})[0], 200)
        self.route_frames()

    def test_each_request_gets_its_reply_and_only_changes_reach_the_matrix(self):
        c = self.client()
        cases = [  # request bytes, reply, route frames at the matrix
            (b"PING\r\n", "OK PONG", []),
            (b"ping\n", "OK PONG", []),
            (b"\xff\xfb\x01\xff\xfd\x03PiNg\r", "OK PONG", []),  # telnet's WILL ECHO, DO SGA first
            (b"\r\n\n  \r\nLINK?\r\n", "OK LINK UP", []),
            (b"ROUTE B 3\r\n", "OK ROUTE B 3", [route_frame(2, 3)]),
            (b"route c 1\n", "OK ROUTE C 1", [route_frame(3, 1)]),
            (b'ROUTE "Right TV" "Apple TV"\r\n', "OK ROUTE C 2", [route_frame(3, 2)]),
            (b"ROUTE 4 4\r", "OK ROUTE D 4", [route_frame(4, 4)]),
            (b"ROUTE B?\r\n", "OK ROUTE B 3", []),
            (b'ROUTE "Projector"?\r\n', "OK ROUTE A 1", []),
            (b"ROUTING?\r\n", "OK ROUTING A 1 B 3 C 2 D 4", []),
            # Staged routes go out only with TAKE, in output order.
            (b"PREVIEW D 2\r\n", "OK PREVIEW D 2", []),
            (b'preview "Left TV" Laptop\r\n', "OK PREVIEW B 1", []),
            (b"PREVIEW?\r\n", "OK PREVIEW B 1 D 2", []),
            (b"TAKE\r\n", "OK TAKE", [route_frame(2, 1), route_frame(4, 2)]),
            (b"PREVIEW?\r\n", "OK PREVIEW", []),
            (b"PREVIEW C 4\r\n", "OK PREVIEW C 4", []),
            (b"CLEAR\r\n", "OK CLEAR", []),
            (b"PREVIEW?\r\n", "OK PREVIEW", []),
            (b"ALL 3\r\n", "OK ALL 3", [route_frame(o, 3) for o in (1, 2, 3, 4)]),
            (b'RECALL "Lecture"\r\n', 'OK RECALL "Lecture"', [route_frame(1, 2), route_frame(2, 2),
                                                               route_frame(3, 4), route_frame(4, 1)]),
            (b"SCENES?\r\n", 'OK SCENES "Lecture" "Movie night"', []),
            (b"BEEP OFF\r\n", "OK BEEP OFF", []),
            (b"beep?\r\n", "OK BEEP OFF", []),
            (b"CABLES?\r\n", "OK CABLES IN %s OUT %s" % (self.cables("inputs"), self.cables("outputs")), []),
            (b"NAMES?\r\n", 'OK NAMES IN "Laptop" "Apple TV" "Camera" "PC" '
                            'OUT "Projector" "Left TV" "Right TV" "Recorder"', []),
            (b"NOTIFY?\r\n", "OK NOTIFY ON", []),
            (b"HELP\r\n", None, []),
            (b"FROB\r\n", "ERR 400 unknown command", []),
            (b"\x00\x01\x9c\xfe\x80garbage\x07\r\n", "ERR 400 unknown command", []),
            (b"x" * 3000 + b"\r\n", "ERR 400 line too long", []),
            (b"ROUTE B\r\n", "ERR 400 usage: ROUTE <out> <in> or ROUTE <out>?", []),
            (b"ROUTE E 1\r\n", "ERR 404 no such output", []),
            (b"ROUTE B 5\r\n", "ERR 404 no such input", []),
            (b'ROUTE "Balcony" 1\r\n', "ERR 404 no such output", []),
            (b'RECALL "Party"\r\n', "ERR 404 no such scene", []),
        ]
        for request, reply, frames in cases:
            c.send(request)
            got = c.reply()
            if reply is None:
                self.assertTrue(got.startswith("OK HELP ROUTE <out> <in>"), got)
            else:
                self.assertEqual(got, reply, request)
            self.assertEqual(self.route_frames(), frames, request)

    def cables(self, side):
        return " ".join("1" if p["cable"] else "0" for p in self.api("GET")[1][side])

    def test_matrix_failures_are_err_lines(self):
        dark = self.client("127.0.26.49", DARK_PORT)
        self.assertEqual(dark.ask("ROUTE B 2"), "ERR 503 Link to the matrix is down")
        self.assertEqual(dark.ask("ROUTING?"), "ERR 503 Link to the matrix is down")
        self.assertEqual(dark.ask("LINK?"), "OK LINK DOWN")

        c = self.client()
        self.sim.command("silent on")
        try:
            self.assertEqual(c.ask("ROUTE A 2", timeout=30), "ERR 504 Time out!")
        finally:
            self.sim.command("silent off")
        self.assertTrue(wait_until(lambda: self.api("GET")[1]["link"] == "up", 10))
        self.sim.command("silent on")
        try:
            c.send("ROUTE A 3\r\n")
            time.sleep(0.3)
            self.sim.command("standby")  # the matrix answers the route in flight with its standby frame
            self.assertEqual(c.reply(), "ERR 409 Matrix is in standby mode!")
        finally:
            self.sim.command("silent off")
        self.assertTrue(wait_until(lambda: self.api("GET")[1]["link"] == "up", 10))
        self.assertEqual(c.ask("PING"), "OK PONG")

    def test_changes_from_http_and_the_panel_arrive_as_events(self):
        c = self.client()
        self.assertEqual(self.api("PUT", "/outputs/B", {"input": 4})[0], 200)
        self.assertEqual(c.event("EVENT ROUTE"), "EVENT ROUTE B 4")
        self.sim.command("route 3 1")  # the matrix's own front panel
        self.assertEqual(c.event("EVENT ROUTE", timeout=5), "EVENT ROUTE C 1")
        self.assertEqual(self.api("POST", "/scenes/Movie night/recall")[0], 200)
        self.assertEqual(c.event("EVENT SCENE"), 'EVENT SCENE "Movie night"')  # the scene now live
        self.sim.command("route 1 1")
        self.assertEqual(c.event("EVENT SCENE", timeout=5), "EVENT SCENE NONE")
        self.assertEqual(self.api("PUT", "/outputs/B/name", {"name": "Side TV"})[0], 200)
        self.assertEqual(c.event("EVENT NAME"), 'EVENT NAME OUT B "Side TV"')
        self.assertEqual(self.api("PUT", "/outputs/B/name", {"name": "Left TV"})[0], 200)
        self.assertEqual(c.event("EVENT NAME"), 'EVENT NAME OUT B "Left TV"')
        self.sim.command("cable in 2 on")
        self.assertEqual(c.event("EVENT CABLE IN 2", timeout=5), "EVENT CABLE IN 2 ON")
        self.sim.command("cable in 2 off")
        self.assertEqual(c.event("EVENT CABLE IN 2", timeout=5), "EVENT CABLE IN 2 OFF")

    def test_notify_off_silences_one_connection_only(self):
        quiet, loud = self.client(), self.client()
        self.assertEqual(quiet.ask("NOTIFY OFF"), "OK NOTIFY OFF")
        self.assertEqual(self.api("PUT", "/outputs/A", {"input": 3})[0], 200)
        self.assertEqual(loud.event(), "EVENT ROUTE A 3")
        self.assertEqual(quiet.ask("PING"), "OK PONG")
        self.assertEqual(quiet.buffer, b"", "no EVENT line before or after the reply")
        self.assertEqual(quiet.ask("NOTIFY ON"), "OK NOTIFY ON")
        self.assertEqual(self.api("PUT", "/outputs/A", {"input": 4})[0], 200)
        self.assertEqual(quiet.line(), "EVENT ROUTE A 4")

    def test_videohub_locks_refuse_with_423_and_send_nothing(self):
        hub = socket.create_connection((HOST, HUB_PORT), timeout=5)
        self.addCleanup(hub.close)
        hub.sendall(b"VIDEO OUTPUT LOCKS:\n1 O\n\n")
        c = self.client()
        self.assertTrue(wait_until(lambda: self.api("GET")[1]["outputs"][1]["locked"], 5))
        for request in ["ROUTE B 1", 'ROUTE "Left TV" 3', "ALL 2", 'RECALL "Lecture"']:
            self.assertEqual(c.ask(request), "ERR 423 Output is locked", request)
        self.assertEqual(c.ask("ROUTE A 2"), "OK ROUTE A 2", "other outputs stay free")
        self.assertEqual(self.route_frames(), [route_frame(1, 2)])
        peer = "hall: text 127.0.26.30:%d: " % c.sock.getsockname()[1]  # the audit names who asked
        self.assertIn(peer + "route 1 to Left TV: ERR 423 Output is locked", self.d.stderr())
        self.assertIn(peer + "route 2 to Projector: ok", self.d.stderr())
        hub.close()
        self.assertTrue(wait_until(lambda: not self.api("GET")[1]["outputs"][1]["locked"], 5))
        self.assertEqual(c.ask("ROUTE B 1"), "OK ROUTE B 1")

    def test_allow_list_and_connection_caps(self):
        for source, admitted in [("127.0.26.49", True), ("127.0.26.51", True), ("127.0.26.60", True),
                                 ("127.0.26.52", False), ("127.0.26.30", False)]:
            c = self.client(source, DARK_PORT)
            if admitted:
                self.assertEqual(c.ask("PING"), "OK PONG", source)
            else:
                self.assertTrue(c.closed_at_once(), source)
        self.assertIn("text 127.0.26.52:", self.d.stderr())

        self.assertTrue(wait_until(lambda: self.open_clients() == 0, 5), "earlier clients still held")
        four = [self.client("127.0.26.31") for _ in range(4)]
        for c in four:
            self.assertEqual(c.ask("PING"), "OK PONG")
        self.assertTrue(self.client("127.0.26.31").closed_at_once(), "a fifth from one address")
        rest = [self.client("127.0.26.%d" % (32 + i // 4)) for i in range(12)]
        for c in rest:
            self.assertEqual(c.ask("PING"), "OK PONG")
        self.assertTrue(self.client("127.0.26.40").closed_at_once(), "a seventeenth")
        self.assertEqual(self.api("GET")[0], 200, "HTTP is not disturbed")
        for c in four + rest:
            c.close()

    def test_floods_and_readers_that_stop_are_closed(self):
        c = self.client()
        self.assertEqual(c.ask("x" * 5000), "ERR 400 line too long")
        self.assertEqual(c.ask("PING"), "OK PONG", "the connection stays usable")
        c.send(b"y" * 70000)
        with self.assertRaises((ConnectionError, OSError)):
            c.line()
        browser = self.client()  # a web page's text/plain POST, sent by the operator's browser
        browser.send(b"POST / HTTP/1.1\r\nHost: %s:%d\r\nContent-Type: text/plain\r\n\r\nROUTE B 1\r\n"
                     % (HOST.encode(), TEXT_PORT))
        self.assertTrue(browser.closed_at_once())
        self.assertEqual(self.route_frames(), [])

        stalled = socket.socket()
        self.addCleanup(stalled.close)
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stalled.bind(("127.0.26.30", 0))
        stalled.settimeout(10)
        stalled.connect((HOST, TEXT_PORT))
        try:
            stalled.sendall(b"HELP\r\n" * 40000)  # about 7 MB of replies that nobody reads
        except OSError:
            pass  # dropped before all of it was sent
        self.assertTrue(wait_until(lambda: "does not read what it is sent" in self.d.stderr(), 10))
        self.assertEqual(self.client().ask("PING"), "OK PONG")

    def open_clients(self):
        """Connections matrixd holds on the hall's port, from its log."""
        log = self.d.stderr()
        return len(re.findall(r"^hall: text 127[.\d]+:\d+ connected$", log, re.M)) - \
            len(re.findall(r"^hall: text 127[.\d]+:\d+ closed$", log, re.M))

    def test_sixteen_clients_fifty_routes_each_nothing_lost_or_doubled(self):
        self.assertTrue(wait_until(lambda: self.open_clients() == 0, 5), "earlier clients still held")
        def plan(i):
            return [((i + j) % 4 + 1, (i * 3 + j) % 4 + 1) for j in range(50)]
        clients = [self.client("127.0.26.%d" % (100 + i)) for i in range(16)]
        replies = [[] for _ in clients]

        def run(i):
            for output, input_ in plan(i):
                replies[i].append(clients[i].ask("ROUTE %d %d" % (output, input_), timeout=30))
        threads = [threading.Thread(target=run, args=(i,)) for i in range(16)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        for i in range(16):
            self.assertEqual(replies[i], ["OK ROUTE %s %d" % ("ABCD"[o - 1], n) for o, n in plan(i)])
        wanted = collections.Counter(route_frame(o, n) for i in range(16) for o, n in plan(i))
        self.assertEqual(collections.Counter(self.route_frames()), wanted)

    def test_serial_panel_routes_and_hears_events(self):
        self.panel.send("ROUTE A 2\r\nPING\r")
        self.assertEqual(self.panel.line("OK "), "OK ROUTE A 2")
        self.assertEqual(self.panel.line("OK "), "OK PONG")
        self.assertEqual(self.route_frames(), [route_frame(1, 2)])
        self.assertIn("hall: text %s: route 2 to Projector: ok" % self.matrixd_tty, self.d.stderr())
        self.assertEqual(self.api("PUT", "/outputs/D", {"input": 3})[0], 200)
        self.assertEqual(self.panel.line("EVENT ROUTE D"), "EVENT ROUTE D 3")

    def test_serial_panel_that_goes_away_is_opened_again(self):
        cls = type(self)
        cls.panel.close()
        cls.socat.terminate()
        cls.socat.wait(5)
        self.assertTrue(wait_until(lambda: "text %s lost" % self.matrixd_tty in self.d.stderr(), 5))
        cls.socat = subprocess.Popen(["socat", "pty,rawer,link=" + cls.matrixd_tty,
                                      "pty,rawer,link=" + cls.panel_tty], stderr=subprocess.DEVNULL)
        self.assertTrue(wait_until(lambda: self.d.stderr().count("text %s open" % self.matrixd_tty) == 2, 8))
        cls.panel = Panel(cls.panel_tty)
        self.panel.send("PING\r\n")
        self.assertEqual(self.panel.line("OK "), "OK PONG")

if __name__ == "__main__":
    unittest.main(verbosity=2)
