#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Requests matrixd must refuse: each gets its status and a JSON error, and
nothing reaches the matrix. A client that stalls half-way blocks nobody."""
import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import hall_on_sim  # noqa: E402

HOST = "127.0.0.73"
SIM = "127.0.0.74"
OUT = "/api/v1/matrices/hall/outputs/B"

CASES = [
    # method, path, body (raw text), expected status
    ("PUT", OUT, '{"input": 2', 400),
    ("PUT", OUT, "[2]", 400),
    ("PUT", OUT, '{"input": true}', 400),
    ("PUT", OUT, '{"input": [1]}', 400),
    ("PUT", OUT, '{"input": 2.5}', 400),
    ("PUT", OUT, '{}', 400),
    ("PUT", OUT, '{"input": 7}', 404),
    ("PUT", OUT, '{"input": "Nobody"}', 404),
    ("PUT", "/api/v1/matrices/hall/outputs/E", '{"input": 1}', 404),
    ("PUT", "/api/v1/matrices/nowhere/outputs/B", '{"input": 1}', 404),
    ("PUT", "/api/v1/matrices/hall/routing", '{"A": 1, "Z": 2}', 404),
    ("PUT", "/api/v1/matrices/hall/routing", '{"A": 1, "a": 2}', 400),
    ("PUT", "/api/v1/matrices/hall/routing", '{"A": null}', 400),
    ("PUT", "/api/v1/matrices/hall/beep", '{"on": "yes"}', 400),
    ("PUT", "/api/v1/matrices/hall/scenes/x", '{"routing": {"A": 9}}', 404),
    ("PUT", "/api/v1/matrices/hall/scenes/x", '{"from": "yesterday"}', 400),
    ("POST", "/api/v1/matrices/hall/scenes/nope/recall", "", 404),
    ("DELETE", "/api/v1/matrices/hall/scenes/nope", "", 404),
    ("POST", OUT, '{"input": 1}', 405),
    ("DELETE", "/api/v1/matrices/hall", "", 405),
    ("GET", "/api/v1/matrices/hall/factory-reset", "", 405),
    ("GET", "/api/v2/matrices", "", 404),
    ("OPTIONS", OUT, "", 405),  # no CORS preflight: other origins get nothing
    ("GET", "/api/v1/matrices/hall/teapot", "", 404),
    ("PUT", OUT, '{"input": 1, "pad": "' + "x" * 300000 + '"}', 413),
]


class BadInputTest(unittest.TestCase):
    def test_refused_requests_send_nothing(self):
        with hall_on_sim(HOST, SIM, verbose=True) as (d, sim):
            sim.frames()
            for method, path, body, expected in CASES:
                status, answer, response = d.request(method, path, raw=body or None,
                                                     headers={"Content-Type": "application/json"})
                self.assertEqual(status, expected, (method, path, body[:60], answer))
                self.assertIsInstance(answer.get("error"), str, (method, path))
                self.assertEqual(response.getheader("Content-Type"), "application/json")
                self.assertIsNone(response.getheader("Access-Control-Allow-Origin"))
            self.assertEqual(sim.frames(), [])

            # Half a request, then silence: the others are answered meanwhile.
            stalled = socket.create_connection((HOST, 8480))
            stalled.sendall(b"PUT " + OUT.encode() + b" HTTP/1.1\r\nHost: 127.0.0.73:8480\r\nContent-Length: 40\r\n\r\n{\"in")
            started = time.monotonic()
            for _ in range(5):
                self.assertEqual(d.request("GET", "/api/v1/matrices/hall")[0], 200)
                self.assertEqual(d.request("PUT", OUT, {"input": 4})[0], 200)
            self.assertLess(time.monotonic() - started, 2.0)
            stalled.close()
            self.assertEqual([f for f in sim.frames() if f.startswith("A55B0203")],
                             ["A55B02030400020000000000F5"] * 5)
            # --verbose: the frames sent and received, one line each, the matrix id first.
            log = d.stderr()
            self.assertEqual(log.count("hall: > A5 5B 02 03 04 00 02 00 00 00 00 00 F5\n"), 5, log[-2000:])
            self.assertIn("hall: < A5 5B 02 03", log)


if __name__ == "__main__":
    unittest.main(verbosity=2)
