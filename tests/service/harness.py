# SPDX-License-Identifier: Apache-2.0
"""matrixd and matrix-sim as processes, and the HTTP and event-stream
clients the service tests drive them with. Everything stays on 127.x."""
import atexit
import contextlib
import http.client
import json
import os
import queue
import shutil
import signal
import subprocess
import tempfile
import threading
import time

MATRIXD = os.environ.get("MATRIXD", "matrixd")
MATRIX_SIM = os.environ.get("MATRIX_SIM", "matrix-sim")
WEB_ROOT = os.environ.get("MATRIX_WEB_ROOT", "")

# Every temporary folder a test run makes (configs, state dirs, COM links)
# goes under one folder that is removed when the run ends, so that repeated
# runs leave nothing behind in /tmp.
tempfile.tempdir = tempfile.mkdtemp(prefix="matrix-service-tests-")
atexit.register(shutil.rmtree, tempfile.tempdir, True)


# The route frame for input 3 to output B, byte for byte.
ROUTE_3_TO_B = "A55B02030300020000000000F6"


def hall_matrix(sim_address):
    """The lecture hall's matrix with its named inputs and outputs, reached at sim_address."""
    return dict(id="hall", name="Main hall", tcp=sim_address, poll_seconds=1,
                inputs=["Laptop", "Apple TV", "Camera", "PC"],
                outputs=["Projector", "Left TV", "Right TV", "Recorder"])


def wait_until(predicate, timeout=5.0, step=0.02):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def first_taken(items, accept, timeout):
    """The first item put on the queue `items` within `timeout` seconds that
    `accept` takes (the ones before it are dropped), or None."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            item = items.get(timeout=max(0.01, end - time.monotonic()))
        except queue.Empty:
            break
        if accept(item):
            return item
    return None


class Sim:
    """One matrix-sim steered through its control input."""

    def __init__(self, tcp=None, com_dir=None, com=None):
        args = [MATRIX_SIM, "--control-stdin"]
        args += ["--tcp", tcp] if tcp else ["--no-tcp"]
        if com:
            args += ["--com-dir", com_dir, "--com", str(com)]
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.wait_line("serial " if com else "listening tcp")

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))

    def wait_line(self, prefix, timeout=5.0):
        line = first_taken(self.lines, lambda line: line.startswith(prefix), timeout)
        if line is None:
            raise AssertionError("matrix-sim never said %r" % (prefix,))
        return line

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.wait_line(("ok ", "error "), 3.0)
        assert answer.startswith("ok "), answer
        return answer

    def frames(self):
        """Frames received since the last call, as upper-case hex texts."""
        answer = self.command("frames")
        text = answer[len("ok frames"):].strip()
        return [f for f in text.split(",") if f]

    def stop(self):
        for stream in (self.proc.stdin,):
            try:
                stream.close()
            except OSError:
                pass
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Matrixd:
    """matrixd with a config written for the test; stopped (and killed if need be) at the end."""

    ssl_context = None  # set: requests go over TLS with it

    def __init__(self, host, matrices, state_dir, token=None, extra_http="", verbose=False, web_root=None,
                 port=8480, wait=True, no_web_root=False, run_as=()):
        self.host, self.port, self.token = host, port, token
        self.dir = tempfile.mkdtemp(prefix="matrixd-test-")
        self.config = os.path.join(self.dir, "matrixd.toml")
        lines = ["[http]", 'listen = "%s:%d"' % (host, port)]
        if token:
            lines.append('token = "%s"' % token)
        if not no_web_root:
            lines.append('web_root = "%s"' % (web_root or WEB_ROOT or self.dir))
        lines += [extra_http, "[state]", 'dir = "%s"' % state_dir]
        for m in matrices:
            lines.append("[[matrix]]")
            for key, value in m.items():
                lines.append("%s = %s" % (key, json.dumps(value)))
        with open(self.config, "w") as f:
            f.write("\n".join(lines) + "\n")
        self.log = open(os.path.join(self.dir, "stderr.log"), "w+")
        if run_as:  # another user (run_as is the command that switches) must read the config
            for folder in (tempfile.tempdir, self.dir):
                os.chmod(folder, 0o755)
        args = list(run_as) + [MATRIXD, "--config", self.config] + (["--verbose"] if verbose else [])
        self.proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=self.log)
        if wait and not wait_until(self.healthy, 5.0):
            self.stop()
            raise AssertionError("matrixd did not come up:\n" + self.stderr())

    def healthy(self):
        try:
            return self.request("GET", "/healthz")[0] == 200
        except OSError:
            return False

    def request(self, method, path, body=None, headers=None, raw=None, token=True, timeout=10):
        if self.ssl_context:
            conn = http.client.HTTPSConnection(self.host, self.port, timeout=timeout, context=self.ssl_context)
        else:
            conn = http.client.HTTPConnection(self.host, self.port, timeout=timeout)
        try:
            h = dict(headers or {})
            if token and self.token:
                h.setdefault("Authorization", "Bearer " + self.token)
            data = raw if raw is not None else (json.dumps(body) if body is not None else None)
            conn.request(method, path, body=data, headers=h)
            response = conn.getresponse()
            content = response.read()
            try:
                parsed = json.loads(content) if content else None
            except ValueError:
                parsed = content
            return response.status, parsed, response
        finally:
            conn.close()

    def stderr(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode

    def close(self):
        self.stop()
        self.log.close()


@contextlib.contextmanager
def hall_on_sim(host, sim_address, daemon=Matrixd, **options):
    """matrix-sim at sim_address, and matrixd at host with the one matrix "hall" on it (not polled,
    its state in a fresh folder) once the link is up and read. Yields (matrixd, sim); both are
    stopped at the end. `daemon` makes matrixd from Matrixd's arguments and `options`."""
    state = tempfile.mkdtemp(prefix="matrixd-state-")
    sim = Sim(tcp=sim_address)
    d = None
    try:
        d = daemon(host, [dict(id="hall", tcp=sim_address, poll_seconds=0)], state, **options)
        assert wait_until(lambda: matrices_ready(d), 8), "the link to hall did not come up:\n" + d.stderr()
        yield d, sim
    finally:
        if d is not None:
            d.close()
        sim.stop()
        shutil.rmtree(state, ignore_errors=True)


def matrices_ready(daemon):
    """Every matrix's link is up and its link-up reads (model, routing, beep, EDID) are in."""
    try:
        status, listed, _ = daemon.request("GET", "/api/v1/matrices")
        if status != 200:
            return False
        for m in listed:
            detail = daemon.request("GET", "/api/v1/matrices/" + m["id"])[1]
            if detail["link"] != "up" or detail["model"] is None or detail["beep"] is None or \
                    any(o["input"] is None for o in detail["outputs"]) or \
                    any(e["code"] is None for e in detail["edid"]):
                return False
        return True
    except OSError:
        return False


class Events:
    """A reader of GET /api/v1/events on its own thread."""

    def __init__(self, daemon):
        self.conn = http.client.HTTPConnection(daemon.host, daemon.port, timeout=30)
        headers = {"Authorization": "Bearer " + daemon.token} if daemon.token else {}
        self.conn.connect()
        self.sock = self.conn.sock
        self.conn.request("GET", "/api/v1/events", headers=headers)
        self.response = self.conn.getresponse()
        self.status = self.response.status
        self.content_type = self.response.getheader("Content-Type")
        self.events = queue.Queue()
        self.first_line = self.response.fp.readline()  # the stream's opening comment
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        try:
            for line in self.response.fp:
                line = line.decode().rstrip("\n")
                if line.startswith("data: "):
                    self.events.put(json.loads(line[6:]))
        except (OSError, ValueError):
            pass

    def wait_for(self, match, timeout=5.0):
        """The first event (from now on) whose fields include all of `match`."""
        event = first_taken(self.events, lambda event: all(event.get(k) == v for k, v in match.items()), timeout)
        if event is None:
            raise AssertionError("no event like %r" % (match,))
        return event

    def close(self):
        try:
            self.sock.shutdown(2)
        except OSError:
            pass
        self.conn.close()
