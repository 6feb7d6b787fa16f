#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""matrixd speaking TLS only, with a self-signed certificate made for the run
by Debian's openssl (no key is ever shipped): a real TLS client reads, routes
and follows the event stream; garbage and plain HTTP on the port are closed
and the server goes on; a certificate that cannot be used stops the start."""
import functools
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import MATRIXD, ROUTE_3_TO_B, Matrixd, hall_on_sim  # noqa: E402

HOST = "127.0.23.11"
SIM = "127.0.23.12"
TOKEN = "tls-test-token"


def make_certificate(folder):
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-keyout", key, "-out", cert, "-days", "1", "-subj", "/CN=" + HOST,
                    "-addext", "subjectAltName=IP:" + HOST],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


class HttpsMatrixd(Matrixd):
    """The harness's daemon, asked over TLS that trusts exactly the run's certificate."""

    def __init__(self, cert, key, *args, **kwargs):
        self.ssl_context = ssl.create_default_context(cafile=cert)
        tls = 'tls_cert_file = "%s"\ntls_key_file = "%s"\nheader_timeout_seconds = 1' % (cert, key)
        super().__init__(*args, extra_http=tls, **kwargs)


class HttpsTest(unittest.TestCase):
    def test_api_events_and_faults_over_tls(self):
        cert, key = make_certificate(tempfile.mkdtemp(prefix="matrixd-tls-"))
        with hall_on_sim(HOST, SIM, functools.partial(HttpsMatrixd, cert, key), token=TOKEN) as (d, sim):
            sim.frames()
            stream = d.ssl_context.wrap_socket(socket.create_connection((HOST, 8480)), server_hostname=HOST)
            stream.sendall(b"GET /api/v1/events?token=" + TOKEN.encode() + b" HTTP/1.1\r\nHost: 127.0.23.11:8480\r\n\r\n")
            stream.settimeout(5)
            received = b""
            while b": matrixd events\n\n" not in received:
                received += stream.recv(4096)
            self.assertEqual(d.request("PUT", "/api/v1/matrices/hall/outputs/B", {"input": 3})[0], 200)
            self.assertIn(ROUTE_3_TO_B, sim.frames())
            while b'"type":"routing"' not in received:
                received += stream.recv(4096)
            self.assertTrue(received.startswith(b"HTTP/1.1 200"), received[:200])
            self.assertIn(b'data: {"input":3,"matrix":"hall","output":2,"type":"routing"}\n\n', received)

            for name, payload in [("no TLS record at all", b"\x00" * 600),
                                  ("a handshake record of garbage", b"\x16\x03\x01\x00\x08" + b"\xff" * 8),
                                  ("half a handshake record, then silence", b"\x16\x03\x01\x40\x00" + b"\x01" * 10),
                                  ("plain HTTP", b"GET /api/v1/matrices HTTP/1.1\r\nHost: 127.0.23.11:8480\r\n\r\n")]:
                raw = socket.create_connection((HOST, 8480))
                raw.sendall(payload)
                raw.settimeout(3)
                started = time.monotonic()
                try:
                    answer = raw.recv(4096)
                    while answer and not answer.startswith(b"\x15"):  # a TLS alert may come before the close
                        answer = raw.recv(4096)
                except OSError:
                    pass
                self.assertLess(time.monotonic() - started, 2.5, name)  # the head's deadline at most
                raw.close()
                self.assertEqual(d.request("GET", "/api/v1/matrices/hall")[0], 200, name)
            # The web page comes over the same listener.
            status, page, response = d.request("GET", "/")
            self.assertEqual((status, response.getheader("Content-Type").split(";")[0]), (200, "text/html"))
            self.assertIn(b"<html", page.lower())
            stream.close()

    def test_unusable_certificate_stops_the_start_with_status_2(self):
        tmp = tempfile.mkdtemp(prefix="matrixd-badtls-")
        cert, key = make_certificate(tmp)
        other_cert, other_key = make_certificate(tempfile.mkdtemp(dir=tmp))
        broken = os.path.join(tmp, "broken.pem")
        with open(broken, "w") as f:
            f.write("-----BEGIN CERTIFICATE-----\nnot base64 at all\n-----END CERTIFICATE-----\n")
        cases = [
            # cert, key, what the error line says
            (os.path.join(tmp, "missing.pem"), key, "tls_cert_file '%s' cannot be read"),
            (cert, os.path.join(tmp, "missing.pem"), "tls_key_file '%s' cannot be read"),
            (broken, key, "make no usable certificate and key"),
            (cert, other_key, "make no usable certificate and key"),
            (key, cert, "holds no PEM certificate"),
        ]
        try:
            for cert_file, key_file, error in cases:
                config = os.path.join(tmp, "matrixd.toml")
                with open(config, "w") as f:
                    f.write('[http]\nlisten = "%s:8480"\ntls_cert_file = "%s"\ntls_key_file = "%s"\n'
                            '[state]\ndir = "%s"\n[[matrix]]\nid = "hall"\ntcp = "%s"\n'
                            % (HOST, cert_file, key_file, tmp, SIM))
                run = subprocess.run([MATRIXD, "--config", config], capture_output=True, text=True, timeout=10)
                self.assertEqual(run.returncode, 2, (cert_file, key_file, run.stderr))
                expected = error % (cert_file if "cert_file" in error else key_file) if "%s" in error else error
                self.assertIn(expected, run.stderr)
                self.assertTrue(run.stderr.startswith(config + ":"), run.stderr)
        finally:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
