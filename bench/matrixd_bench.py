#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""matrixd over HTTP on loopback, with four simulated matrices: the time of a
route request (median and 99th percentile of 1000, one keep-alive
connection) with the simulator answering at once and answering after
DELAY_MS like a matrix's UART at 19200 baud (and the same routes over
the text protocol), GET throughput (several
keep-alive clients for a few seconds), and matrixd's peak memory (VmHWM)
after all that. Prints "RESULT key value".

Usage: matrixd_bench.py MATRIXD MATRIX_SIM"""
import http.client
import json
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from matrixd_rig import matrixd_on_sims, peak_memory_mb  # noqa: E402

HOST = "127.0.0.90"
SIMS = ["127.0.0.86", "127.0.0.87", "127.0.0.88", "127.0.0.89"]
ROUTES = 1000
GET_CLIENTS = 4
GET_SECONDS = 3.0
DELAY_MS = 7
TEXT_PORT = 4001


def main():
    text_listener = 'text_port = %d\ntext_listen = "%s"\n' % (TEXT_PORT, HOST)
    with matrixd_on_sims(HOST, SIMS, "matrixd-bench-", first_matrix_extra=text_listener) as (daemon, sims, conn):

        def get(conn, path):
            conn.request("GET", path)
            response = conn.getresponse()
            return response.status, response.read()

        def routes(suffix):
            times = []
            for i in range(ROUTES):
                body = json.dumps({"input": 1 + (i // 4) % 4})
                started = time.perf_counter()
                conn.request("PUT", "/api/v1/matrices/m1/outputs/%d" % (1 + i % 4), body=body)
                response = conn.getresponse()
                response.read()
                times.append((time.perf_counter() - started) * 1000)
                if response.status != 200:
                    raise SystemExit("route %d answered %d" % (i, response.status))
            times.sort()
            median, p99 = times[len(times) // 2], times[min(len(times) - 1, len(times) * 99 // 100)]
            print("route over HTTP%s: %d requests, median %.3f ms, p99 %.3f ms" % (suffix, ROUTES, median, p99))
            print("RESULT http_route_median_ms%s %.4f" % (suffix, median))
            print("RESULT http_route_p99_ms%s %.4f" % (suffix, p99))

        def text_routes():
            # The same routes as a control processor sends them: one line, one reply.
            sock = socket.create_connection((HOST, TEXT_PORT), timeout=10)
            reader = sock.makefile("rb")
            times = []
            for i in range(ROUTES):
                line = "ROUTE %d %d\r\n" % (1 + i % 4, 1 + (i // 4) % 4)
                started = time.perf_counter()
                sock.sendall(line.encode())
                while True:
                    reply = reader.readline()
                    if not reply.startswith(b"EVENT "):
                        break
                times.append((time.perf_counter() - started) * 1000)
                if not reply.startswith(b"OK ROUTE"):
                    raise SystemExit("text route %d answered %r" % (i, reply))
            sock.close()
            times.sort()
            median = times[len(times) // 2]
            print("route over the text protocol, replies after %d ms: %d requests, median %.3f ms" % (DELAY_MS, ROUTES, median))
            print("RESULT text_route_median_ms_delayed %.4f" % median)

        routes("")
        sims[0].stdin.write("delay %d\n" % DELAY_MS)
        sims[0].stdin.flush()
        sims[0].stdout.readline()
        routes("_delayed")
        text_routes()

        counts = [0] * GET_CLIENTS
        stop_at = time.monotonic() + GET_SECONDS

        def getter(index):
            c = http.client.HTTPConnection(HOST, 8480, timeout=10)
            path = "/api/v1/matrices/m%d" % (1 + index % len(SIMS))
            while time.monotonic() < stop_at:
                if get(c, path)[0] == 200:
                    counts[index] += 1
            c.close()

        threads = [threading.Thread(target=getter, args=(i,)) for i in range(GET_CLIENTS)]
        started = time.monotonic()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        rate = sum(counts) / (time.monotonic() - started)
        print("GET /api/v1/matrices/{id}: %d clients, %.0f requests/s" % (GET_CLIENTS, rate))
        print("RESULT http_get_per_s %.1f" % rate)

        peak_mb = peak_memory_mb(daemon.pid)
        print("matrixd peak memory with %d matrices: %.1f MB" % (len(SIMS), peak_mb))
        print("RESULT matrixd_peak_mb %.2f" % peak_mb)


if __name__ == "__main__":
    main()
