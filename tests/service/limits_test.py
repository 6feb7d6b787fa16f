#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Clients that hold connections or stall: each is closed at its deadline or
refused past its limit, the refusals are logged once per address, and a
normal client is answered quickly all the while. Everything on 127.0.23.x."""
import contextlib
import os
import signal
import socket
import ssl
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import MATRIXD, Events, hall_on_sim  # noqa: E402

HOST = "127.0.23.1"
SIM = "127.0.23.2"
GREEDY = "127.0.23.3"  # the address that takes its whole share
OTHER = "127.0.23.4"
PER_ADDRESS = 8
STREAMS = 3
LIMITS = """header_timeout_seconds = 1
body_timeout_seconds = 1
max_connections_per_address = %d
max_event_streams = %d""" % (PER_ADDRESS, STREAMS)

HEAD = b"GET /api/v1/matrices/hall HTTP/1.1\r\nHost: 127.0.23.1:8480\r\n"
# Clients that never finish: what they send first, then one byte per step.
STALLS = [
    ("half a head, then silence", HEAD, b""),
    ("a head trickled a byte at a time", HEAD, b"X"),
    ("a body trickled a byte at a time",
     b"PUT /api/v1/matrices/hall/outputs/B HTTP/1.1\r\nHost: 127.0.23.1:8480\r\nContent-Length: 40\r\n\r\n{", b" "),
]


def closed_within(sock, seconds, trickle=b""):
    """Whether the server closes `sock` within `seconds` while it trickles."""
    end = time.monotonic() + seconds
    sock.settimeout(0.2)
    while time.monotonic() < end:
        try:
            if trickle:
                sock.sendall(trickle)
            if sock.recv(4096) == b"":
                return True
        except socket.timeout:
            continue
        except OSError:
            return True
    return False


def timed_get(daemon):
    started = time.monotonic()
    status = daemon.request("GET", "/api/v1/matrices/hall")[0]
    return status, time.monotonic() - started


class LimitsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.running = contextlib.ExitStack()
        cls.d, cls.sim = cls.running.enter_context(hall_on_sim(HOST, SIM, extra_http=LIMITS))

    @classmethod
    def tearDownClass(cls):
        cls.running.close()

    def test_stalled_clients_are_closed_at_their_deadline(self):
        for name, first, trickle in STALLS:
            sock = socket.create_connection((HOST, 8480))
            sock.sendall(first)
            status, seconds = timed_get(self.d)
            self.assertEqual((status, seconds < 0.5), (200, True), name)
            self.assertTrue(closed_within(sock, 2.5, trickle), name)
            sock.close()

    def test_head_over_16_kib_gets_431(self):
        for pad_bytes, expected in [(15 * 1024, 200), (17 * 1024, 431), (40 * 1024, 431)]:
            status = self.d.request("GET", "/api/v1/matrices/hall", headers={"X-Pad": "p" * pad_bytes})[0]
            self.assertEqual(status, expected, pad_bytes)

    def test_one_address_cannot_take_more_than_its_share(self):
        held = [socket.create_connection((HOST, 8480), source_address=(GREEDY, 0)) for _ in range(PER_ADDRESS)]
        try:
            time.sleep(0.2)
            for _ in range(3):
                extra = socket.create_connection((HOST, 8480), source_address=(GREEDY, 0))
                self.assertTrue(closed_within(extra, 1.0))
                extra.close()
            other = socket.create_connection((HOST, 8480), source_address=(OTHER, 0))
            other.sendall(HEAD + b"\r\n")
            other.settimeout(2)
            self.assertTrue(other.recv(100).startswith(b"HTTP/1.1 200"))
            other.close()
        finally:
            for sock in held:
                sock.close()
        log = self.d.stderr()
        self.assertEqual(log.count(GREEDY + " connection refused: max_connections_per_address (8)"), 1, log[-2000:])

    def test_streams_past_the_limit_get_503(self):
        streams = [Events(self.d) for _ in range(STREAMS)]
        try:
            self.assertEqual([s.status for s in streams], [200] * STREAMS)
            status, answer, _ = self.d.request("GET", "/api/v1/events")
            self.assertEqual((status, answer), (503, {"error": "too many event streams"}))
            self.assertEqual(self.d.request("PUT", "/api/v1/matrices/hall/outputs/A", {"input": 2})[0], 200)
            for s in streams:
                s.wait_for({"type": "routing", "output": 1, "input": 2})
        finally:
            for s in streams:
                s.close()

    def test_a_second_daemon_on_the_same_address_fails_instead_of_sharing_the_port(self):
        run = subprocess.run([MATRIXD, "--config", self.d.config], capture_output=True, text=True, timeout=10)
        # The last line says why; the lines before it say what was set up.
        self.assertEqual((run.returncode, run.stderr.splitlines()[-1]), (1, "matrixd: cannot listen on %s:8480" % HOST))

    def test_tls_to_the_plain_port_is_refused_not_left_hanging(self):
        raw = socket.create_connection((HOST, 8480))
        client = ssl.create_default_context()
        client.check_hostname = False
        client.verify_mode = ssl.CERT_NONE
        raw.settimeout(3)
        started = time.monotonic()
        with self.assertRaises((ssl.SSLError, OSError)):
            client.wrap_socket(raw).do_handshake()
        self.assertLess(time.monotonic() - started, 2.0)
        raw.close()

    def test_405_names_the_methods_the_route_table_has_for_the_path(self):
        m = "/api/v1/matrices/hall"
        for method, path, allow in [("OPTIONS", m + "/outputs/B", "GET, PUT"), ("GET", m + "/factory-reset", "POST"),
                                    ("PATCH", m + "/scenes/x/", "GET, PUT, DELETE"), ("POST", m, "GET")]:
            status, _, response = self.d.request(method, path, raw="{}")
            self.assertEqual((status, response.getheader("Allow")), (405, allow), (method, path))

    def test_quiet_log_for_reads_one_line_per_change(self):
        before = self.d.stderr().count("\n")
        for _ in range(20):
            self.assertEqual(self.d.request("GET", "/api/v1/matrices/hall")[0], 200)
        self.assertEqual(self.d.request("PUT", "/api/v1/matrices/hall/outputs/C", {"input": 3})[0], 200)
        self.assertEqual(self.d.request("PUT", "/api/v1/matrices/hall/outputs/Z", {"input": 3})[0], 404)
        lines = self.d.stderr().splitlines()[before:]
        http_lines = [line for line in lines if line.startswith("http: ")]
        self.assertEqual(len(http_lines), 2, lines)
        self.assertRegex(http_lines[0], r"^http: 127\.[0-9.]+ PUT /api/v1/matrices/hall/outputs/C 200 \d+ms$")
        self.assertRegex(http_lines[1], r" PUT /api/v1/matrices/hall/outputs/Z 404 ")


class StopTest(unittest.TestCase):
    def test_sigterm_ends_the_streams_and_exits_within_300_ms(self):
        with hall_on_sim("127.0.23.5", "127.0.23.6", extra_http="max_connections_per_address = 200") as (d, _):
            streams = [Events(d) for _ in range(100)]
            started = time.monotonic()
            d.proc.send_signal(signal.SIGTERM)
            d.proc.wait(5)
            self.assertLess(time.monotonic() - started, 0.3)
            self.assertEqual(d.proc.returncode, 0)
            for s in streams:
                s.sock.settimeout(1)
                self.assertEqual(s.response.fp.read(), b"")  # the end of the stream, not a time-out
                s.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
