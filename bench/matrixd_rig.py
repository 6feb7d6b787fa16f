# SPDX-License-Identifier: Apache-2.0
"""What the matrixd benchmarks share: simulated matrices on loopback, a
config for them, and waiting until matrixd has every link up."""
import http.client
import json
import os
import subprocess
import time


def start_sims(matrix_sim, addresses, procs):
    """One matrix-sim per address, appended to `procs` so the caller stops them."""
    for address in addresses:
        sim = subprocess.Popen([matrix_sim, "--tcp", address, "--control-stdin"], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, text=True)
        procs.append(sim)
        if not sim.stdout.readline().startswith("listening tcp"):
            raise SystemExit("matrix-sim did not start on " + address)


def write_config(folder, host, addresses, http_extra="", poll_seconds=5, first_matrix_extra=""):
    config = os.path.join(folder, "matrixd.toml")
    with open(config, "w") as f:
        f.write('[http]\nlisten = "%s:8480"\n%s[state]\ndir = "%s"\n' % (host, http_extra, folder))
        for i, address in enumerate(addresses):
            f.write('[[matrix]]\nid = "m%d"\ntcp = "%s"\npoll_seconds = %d\n' % (i + 1, address, poll_seconds))
            if i == 0:
                f.write(first_matrix_extra)
    return config


def wait_links_up(host):
    """A keep-alive connection to matrixd once every matrix's link is up and read."""
    conn = http.client.HTTPConnection(host, 8480, timeout=10)
    end = time.monotonic() + 10
    while True:
        try:
            conn.request("GET", "/api/v1/matrices")
            response = conn.getresponse()
            body = response.read()
            if response.status == 200 and all(m["link"] == "up" for m in json.loads(body)):
                break
        except OSError:
            conn = http.client.HTTPConnection(host, 8480, timeout=10)
        if time.monotonic() > end:
            raise SystemExit("matrixd did not bring the links up")
        time.sleep(0.05)
    time.sleep(0.5)  # the link-up reads
    return conn
