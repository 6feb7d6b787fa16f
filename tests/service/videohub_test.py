#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""matrixd's Videohub front-end against matrix-sim, driven by a Videohub client
written here from the protocol: what a router controller sees and what reaches
the matrix. Everything listens on 127.0.16.x only."""
import os
import shutil
import socket
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Matrixd, Sim, hall_matrix, wait_until  # noqa: E402

SIM_HOST, HOST, HUB_PORT = "127.0.16.21", "127.0.16.20", 9990
# Videohub listens on loopback 127.0.0.1 unless told otherwise: this test has its own address.
# Clients connect from .22 (the others from .23-.25); only .22, .24 and .25 are allowed.
CLIENT, REFUSED, CROWD, OTHER = "127.0.16.22", "127.0.16.23", "127.0.16.24", "127.0.16.25"
MATRIX = dict(hall_matrix(SIM_HOST), videohub_port=HUB_PORT, videohub_listen=HOST,
              videohub_allow=[CLIENT, "127.0.16.24/31"])
PATH = "/api/v1/matrices/hall"


def route_frame(output, input_):
    frame = bytes([0xA5, 0x5B, 2, 3, input_, 0, output, 0, 0, 0, 0, 0])
    return (frame + bytes([(0x100 - sum(frame)) % 0x100])).hex().upper()


class VideohubClient:
    """Reads the server's text as blocks: (header, [lines])."""

    def __init__(self, source=CLIENT):
        self.sock = socket.create_connection((HOST, HUB_PORT), timeout=5, source_address=(source, 0))
        self.buffer = b""

    def close(self):
        self.sock.close()

    def send(self, text):
        self.sock.sendall(text.encode())

    def block(self, timeout=5.0):
        deadline = time.monotonic() + timeout
        while True:
            text = self.buffer.replace(b"\r\n", b"\n").lstrip(b"\n")
            end = text.find(b"\n\n")
            if end >= 0:
                self.buffer = text[end + 2:]
                lines = text[:end].decode().split("\n")
                return lines[0], lines[1:]
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError(f"no block; have {self.buffer!r}")
            self.sock.settimeout(left)
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("server closed the connection")
            self.buffer += chunk

    def wait_for(self, header, timeout=5.0):
        """Skips other blocks up to the next one with this header."""
        deadline = time.monotonic() + timeout
        while True:
            got, lines = self.block(max(0.01, deadline - time.monotonic()))
            if got == header:
                return lines

    def dump(self):
        blocks = {}
        while True:
            header, lines = self.block()
            blocks[header] = lines
            if header == "END PRELUDE:":
                return blocks


class VideohubAgainstMatrixd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.state = tempfile.mkdtemp(prefix="videohub-state-")
        cls.sim = Sim(tcp=SIM_HOST)
        cls.daemon = None
        cls.start_daemon()

    @classmethod
    def tearDownClass(cls):
        if cls.daemon:
            cls.daemon.close()
        cls.sim.stop()
        shutil.rmtree(cls.state, ignore_errors=True)

    @classmethod
    def start_daemon(cls):
        if cls.daemon:
            cls.daemon.close()
        cls.daemon = Matrixd(HOST, [MATRIX], cls.state)
        assert wait_until(lambda: cls.api("GET")[1].get("link") == "up", 10), cls.daemon.stderr()
        # The link is up before the routing is read again; a client that came in between would get
        # a second, whole dump later. Wait for the matrix to be present to a controller.
        probe = VideohubClient(CLIENT)
        try:
            while probe.dump()["VIDEOHUB DEVICE:"][0] != "Device present: true":
                pass
        finally:
            probe.close()

    @classmethod
    def api(cls, method, path="", body=None):
        return cls.daemon.request(method, PATH + path, body)[:2]

    def route_frames(self):
        """Route frames (command 2, 3) the simulator received since the last ask; polls left out."""
        return [f for f in self.sim.frames() if f.startswith("A55B0203")]

    def client(self, source=CLIENT):
        c = VideohubClient(source)
        self.addCleanup(c.close)
        return c

    def dumped_clients(self, count):
        """`count` clients, connected together, each past the dump that opens its session."""
        clients = [self.client() for _ in range(count)]
        for c in clients:
            c.dump()
        return clients

    def send_acked(self, client, text):
        client.send(text)
        self.assertEqual(client.block(), ("ACK", []))

    def setUp(self):
        self.assertEqual(self.api("PUT", "/routing", {"A": 1, "B": 2, "C": 3, "D": 4})[0], 200)
        self.route_frames()

    def test_dump_on_connect(self):
        blocks = self.client().dump()
        self.assertEqual(list(blocks), ["PROTOCOL PREAMBLE:", "VIDEOHUB DEVICE:", "INPUT LABELS:", "OUTPUT LABELS:",
                                        "VIDEO OUTPUT LOCKS:", "VIDEO OUTPUT ROUTING:", "END PRELUDE:"])
        self.assertEqual(blocks["PROTOCOL PREAMBLE:"], ["Version: 2.3"])
        device = dict(line.split(": ", 1) for line in blocks["VIDEOHUB DEVICE:"])
        self.assertEqual((device["Device present"], device["Video inputs"], device["Video outputs"]),
                         ("true", "4", "4"))
        self.assertEqual(blocks["INPUT LABELS:"], ["0 Laptop", "1 Apple TV", "2 Camera", "3 PC"])
        self.assertEqual(blocks["OUTPUT LABELS:"], ["0 Projector", "1 Left TV", "2 Right TV", "3 Recorder"])
        self.assertEqual(blocks["VIDEO OUTPUT LOCKS:"], ["0 U", "1 U", "2 U", "3 U"])
        self.assertEqual(blocks["VIDEO OUTPUT ROUTING:"], ["0 0", "1 1", "2 2", "3 3"])

    def test_route_reaches_matrix_and_every_client(self):
        a, b = self.dumped_clients(2)
        self.send_acked(a, "VIDEO OUTPUT ROUTING:\n1 2\n\n")
        self.assertEqual(a.wait_for("VIDEO OUTPUT ROUTING:"), ["1 2"])
        self.assertEqual(b.wait_for("VIDEO OUTPUT ROUTING:"), ["1 2"])
        self.assertEqual(self.route_frames(), [route_frame(2, 3)])
        self.assertEqual(self.api("GET")[1]["outputs"][1]["input"], 3)

    def test_changes_from_elsewhere_reach_the_clients(self):
        a = self.dumped_clients(1)[0]
        self.sim.command("route 3 1")  # the matrix's own panel: output C gets input 1
        self.assertEqual(a.wait_for("VIDEO OUTPUT ROUTING:", timeout=4), ["2 0"])
        self.assertEqual(self.api("PUT", "/outputs/D", {"input": 2})[0], 200)
        self.assertEqual(a.wait_for("VIDEO OUTPUT ROUTING:"), ["3 1"])

    def test_locks_between_clients_and_http(self):
        a, b = self.dumped_clients(2)
        self.send_acked(a, "VIDEO OUTPUT LOCKS:\n1 O\n\n")
        self.assertEqual(a.wait_for("VIDEO OUTPUT LOCKS:"), ["1 O"])
        self.assertEqual(b.wait_for("VIDEO OUTPUT LOCKS:"), ["1 L"])

        b.send("VIDEO OUTPUT ROUTING:\n1 3\n\n")  # someone else's lock: refused, nothing sent
        self.assertEqual(b.block(), ("NAK", []))
        self.assertEqual(self.api("PUT", "/outputs/B", {"input": 4}), (423, {"error": "Output is locked"}))
        self.assertEqual(self.route_frames(), [])

        a.close()  # its lock goes with it
        self.assertEqual(b.wait_for("VIDEO OUTPUT LOCKS:"), ["1 U"])
        self.assertEqual(self.api("PUT", "/outputs/B", {"input": 4})[0], 200)
        self.assertEqual(self.route_frames(), [route_frame(2, 4)])

    def test_malformed_requests_get_nak_and_send_nothing_and_a_flood_is_dropped(self):
        a = self.dumped_clients(1)[0]
        for request in ["VIDEO OUTPUT ROUTING:\n1 4\n\n", "VIDEO OUTPUT ROUTING:\n0 1\n9 0\n\n",
                        "VIDEO OUTPUT ROUTING:\nB 2\n\n", "OUTPUT LABELS:\n5 Far\n\n", "VIDEO OUTPUT LOCKS:\n0 X\n\n"]:
            a.send(request)
            self.assertEqual(a.block(), ("NAK", []), request)
        a.send("SOMETHING NEW:\nwhatever\n\nPING\n\n")  # one answer per block, unknown ones too
        self.assertEqual([a.block(), a.block()], [("NAK", []), ("ACK", [])])
        self.assertEqual(self.route_frames(), [])
        with self.assertRaises(ConnectionError):  # 64 KiB without a blank line: dropped
            a.send("x" * 70000)
            a.block()

    def test_ids_are_stable_across_a_restart(self):
        device = dict(line.split(": ", 1) for line in self.client().dump()["VIDEOHUB DEVICE:"])
        self.assertRegex(device["Unique ID"], r"^[0-9A-F]{12}$")
        self.assertEqual(device["Friendly name"], "Main hall")
        type(self).start_daemon()
        again = dict(line.split(": ", 1) for line in self.client().dump()["VIDEOHUB DEVICE:"])
        self.assertEqual((again["Unique ID"], again["Friendly name"]), (device["Unique ID"], "Main hall"))

    def test_outage_dump_ends_its_prelude_and_the_return_shows_the_routing_read_after_it(self):
        present = self.dumped_clients(1)[0]
        type(self).sim.stop()
        self.assertEqual(present.wait_for("VIDEOHUB DEVICE:", timeout=8)[0], "Device present: false")
        # A client that connects meanwhile gets a whole prelude: the last known state.
        away = self.client()
        blocks = away.dump()
        device = dict(line.split(": ", 1) for line in blocks["VIDEOHUB DEVICE:"])
        self.assertEqual(device["Device present"], "false")
        self.assertRegex(device["Unique ID"], r"^[0-9A-F]{12}$")
        self.assertEqual(blocks["VIDEO OUTPUT ROUTING:"], ["0 0", "1 1", "2 2", "3 3"])
        away.send("VIDEO OUTPUT ROUTING:\n1 2\n\n")  # cannot be carried out now
        self.assertEqual(away.block(), ("NAK", []))
        # The matrix comes back routed otherwise (its own panel, meanwhile).
        type(self).sim = Sim(tcp=SIM_HOST)
        self.sim.command("route 2 4")
        for c in (present, away):
            back = {}
            while "END PRELUDE:" not in back:
                header, lines = c.block(timeout=10)
                back[header] = lines
            self.assertEqual(back["VIDEOHUB DEVICE:"][0], "Device present: true")
            self.assertEqual(back["VIDEO OUTPUT ROUTING:"], ["0 0", "1 3", "2 2", "3 3"])
    def test_allow_list_and_eight_connections_per_address(self):
        for source, count in [(REFUSED, 0), (CROWD, 8)]:
            clients = [self.client(source) for _ in range(count + 1)]
            for c in clients[:count]:
                c.dump()
            with self.assertRaises(ConnectionError, msg=source):  # closed at once, before the dump
                clients[count].block()
        self.client(OTHER).dump()
        log = self.daemon.stderr()
        self.assertIn("videohub client %s:" % REFUSED, log)
        self.assertIn("refused: not in videohub_allow", log)
        self.assertIn("refused: 8 clients connected from that address", log)

    def test_labels_persist_across_restart(self):
        a, b = self.dumped_clients(2)
        a.send("INPUT LABELS:\n2 Stage camera\n\nOUTPUT LABELS:\n0 Beamer\n\n")
        self.assertEqual(b.wait_for("INPUT LABELS:"), ["2 Stage camera"])
        self.assertEqual(b.wait_for("OUTPUT LABELS:"), ["0 Beamer"])
        a.close(), b.close()
        type(self).start_daemon()
        state = self.api("GET")[1]
        self.assertEqual(state["inputs"][2]["name"], "Stage camera")
        self.assertEqual(state["outputs"][0]["name"], "Beamer")
        c = self.client()
        self.assertEqual(c.dump()["INPUT LABELS:"][2], "2 Stage camera")
        c.send("INPUT LABELS:\n2 Camera\n\nOUTPUT LABELS:\n0 Projector\n\n")  # as the other tests expect
        self.assertEqual(c.wait_for("OUTPUT LABELS:"), ["0 Projector"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
