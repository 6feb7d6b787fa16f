#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""matrixd holding many connections, on loopback with four simulated
matrices: keep-alive GET throughput with wrk (-t2 -c32), then with 1000
event streams and 500 connections that sent half a request head open, the
GET time (p99 of 500), the time one routing change takes to reach every
stream (p99 of 20, from before the request to the last stream's event, so
it holds the matrix's round trip too), peak memory (VmHWM) and the time from
SIGTERM to exit. Prints "RESULT key value". Bounded: it stops by itself.

Usage: matrixd_load_bench.py MATRIXD MATRIX_SIM"""
import json
import os
import resource
import selectors
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from matrixd_rig import matrixd_on_sims, peak_memory_mb  # noqa: E402

HOST = "127.0.24.1"
SIMS = ["127.0.24.2", "127.0.24.3", "127.0.24.4", "127.0.24.5"]
STREAMS = 1000
HALF_OPEN = 500
GETS = 500
ROUTE_CHANGES = 20


def percentile(values, share):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * share))]


def open_streams(count):
    streams = []
    for _ in range(count):
        s = socket.create_connection((HOST, 8480))
        s.sendall(("GET /api/v1/events HTTP/1.1\r\nHost: %s:8480\r\n\r\n" % HOST).encode())
        streams.append(s)
    for s in streams:
        s.settimeout(10)
        data = b""
        while b": matrixd events\n\n" not in data:
            chunk = s.recv(4096)
            if not chunk:
                raise SystemExit("an event stream closed at its start")
            data += chunk
        s.setblocking(False)
    return streams


def wait_for_routing_everywhere(streams, seen, wanted, deadline):
    """Reads every stream until each has carried `wanted` routing events; the time of the last one."""
    selector = selectors.DefaultSelector()
    for index, s in enumerate(streams):
        if seen[index] < wanted:
            selector.register(s, selectors.EVENT_READ, index)
    last = None
    while selector.get_map() and time.monotonic() < deadline:
        for key, _ in selector.select(timeout=0.5):
            chunk = key.fileobj.recv(65536)
            seen[key.data] += chunk.count(b'"type":"routing"')
            if seen[key.data] >= wanted:
                last = time.perf_counter()
                selector.unregister(key.fileobj)
    if selector.get_map():
        raise SystemExit("%d streams never got routing event %d" % (len(selector.get_map()), wanted))
    selector.close()
    return last


def main():
    # 1500 sockets here and as many in matrixd: for this process and its children only.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 8192), hard))
    limits = ("max_connections = 4000\nmax_connections_per_address = 4000\n"
              "max_event_streams = %d\nheader_timeout_seconds = 120\n" % STREAMS)
    streams, half_open = [], []
    with matrixd_on_sims(HOST, SIMS, "matrixd-load-bench-", limits, poll_seconds=0) as (daemon, _, conn):
        try:
            def get(path):
                conn.request("GET", path)
                response = conn.getresponse()
                return response.status, response.read()

            wrk = subprocess.run(["wrk", "-t2", "-c32", "-d3s", "http://%s:8480/api/v1/matrices/m1" % HOST],
                                 capture_output=True, text=True, timeout=30)
            rate = next(float(line.split()[1]) for line in wrk.stdout.splitlines() if line.startswith("Requests/sec:"))
            print("wrk -t2 -c32 GET /api/v1/matrices/m1: %.0f requests/s" % rate)
            print("RESULT wrk_get_per_s %.1f" % rate)

            streams = open_streams(STREAMS)
            for _ in range(HALF_OPEN):
                s = socket.create_connection((HOST, 8480))
                s.sendall(("GET /api/v1/matrices/m1 HTTP/1.1\r\nHost: %s:8480\r\n" % HOST).encode())
                half_open.append(s)
            time.sleep(0.3)

            times = []
            for _ in range(GETS):
                started = time.perf_counter()
                status, _ = get("/api/v1/matrices/m2")
                times.append((time.perf_counter() - started) * 1000)
                if status != 200:
                    raise SystemExit("GET answered %d" % status)
            p99 = percentile(times, 0.99)
            print("GET with %d streams and %d half-open heads: median %.3f ms, p99 %.3f ms"
                  % (STREAMS, HALF_OPEN, percentile(times, 0.5), p99))
            print("RESULT loaded_get_p99_ms %.4f" % p99)

            seen = [0] * STREAMS
            fan_out = []
            for change in range(ROUTE_CHANGES):
                body = json.dumps({"input": 2 + change % 2})  # never the input it starts on
                started = time.perf_counter()
                conn.request("PUT", "/api/v1/matrices/m1/outputs/A", body=body)
                last = wait_for_routing_everywhere(streams, seen, change + 1, time.monotonic() + 10)
                response = conn.getresponse()
                response.read()
                if response.status != 200:
                    raise SystemExit("route answered %d" % response.status)
                fan_out.append((last - started) * 1000)
            p99 = percentile(fan_out, 0.99)
            print("one routing change to %d streams: median %.3f ms, p99 %.3f ms"
                  % (STREAMS, percentile(fan_out, 0.5), p99))
            print("RESULT fan_out_p99_ms %.4f" % p99)

            peak_mb = peak_memory_mb(daemon.pid)
            print("matrixd peak memory, %d matrices and %d streams: %.1f MB" % (len(SIMS), STREAMS, peak_mb))
            print("RESULT streams_peak_mb %.2f" % peak_mb)

            started = time.perf_counter()
            daemon.send_signal(signal.SIGTERM)
            daemon.wait(10)
            stop_ms = (time.perf_counter() - started) * 1000
            print("SIGTERM to exit with %d streams: %.1f ms" % (STREAMS, stop_ms))
            print("RESULT sigterm_ms %.2f" % stop_ms)
        finally:
            for s in streams + half_open:
                s.close()

if __name__ == "__main__":
    main()
