# SPDX-License-Identifier: Apache-2.0
"""What the matrixd benchmarks share: simulated matrices on loopback, a
config for them, matrixd on it with every link up, and its peak memory."""
import contextlib
import http.client
import json
import os
import shutil
import subprocess
import sys
import tempfile
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


@contextlib.contextmanager
def matrixd_on_sims(host, sims, prefix, http_extra="", poll_seconds=5, first_matrix_extra=""):
    """matrixd (argv[1]) at host over one matrix-sim (argv[2]) per address of sims, in a fresh folder.
    Yields (matrixd, the sims, a keep-alive connection once every link is up); at the end every
    process is stopped and the folder removed."""
    matrixd, matrix_sim = sys.argv[1], sys.argv[2]
    tmp = tempfile.mkdtemp(prefix=prefix)
    procs = []
    try:
        start_sims(matrix_sim, sims, procs)
        config = write_config(tmp, host, sims, http_extra, poll_seconds, first_matrix_extra)
        with open(os.path.join(tmp, "matrixd.log"), "w") as log:
            daemon = subprocess.Popen([matrixd, "--config", config], stderr=log)
        procs.append(daemon)
        yield daemon, procs[:-1], wait_links_up(host)
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
        shutil.rmtree(tmp, ignore_errors=True)


def peak_memory_mb(pid):
    """The process's peak resident memory (VmHWM) so far."""
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:")) / 1024
