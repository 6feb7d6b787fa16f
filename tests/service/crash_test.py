#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""kill -9 during a stream of scene writes, 100 times: the state file always
parses, holds a prefix of the writes, and keeps every acknowledged one."""
import http.client
import json
import os
import random
import shutil
import signal
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Matrixd  # noqa: E402

HOST = "127.0.0.81"
KILLS = 100


class CrashTest(unittest.TestCase):
    def test_kill_during_scene_writes(self):
        seed = random.randrange(1 << 30)
        rng = random.Random(seed)
        tmp = tempfile.mkdtemp(prefix="matrixd-crash-")
        state = os.path.join(tmp, "state.json")
        written = 0  # scenes s0 .. s(written-1) were sent; each acknowledged one is kept
        acknowledged = 0
        # No simulator: scenes need no link, and the address answers nobody.
        matrices = [dict(id="hall", tcp="127.0.0.82", poll_seconds=0)]
        try:
            for kill in range(KILLS):
                d = Matrixd(HOST, matrices, tmp)
                stop = threading.Event()

                def writer():
                    nonlocal written, acknowledged
                    conn = http.client.HTTPConnection(HOST, 8480, timeout=5)
                    while not stop.is_set():
                        n = written
                        written += 1
                        try:
                            conn.request("PUT", "/api/v1/matrices/hall/scenes/s%d" % n,
                                         body=json.dumps({"routing": {"A": 1 + n % 4}}))
                            if conn.getresponse().status == 200:
                                acknowledged = n + 1
                            else:
                                break
                        except (OSError, http.client.HTTPException):
                            break

                thread = threading.Thread(target=writer)
                thread.start()
                time.sleep(rng.uniform(0.0, 0.03))
                d.proc.send_signal(signal.SIGKILL)
                d.proc.wait()
                stop.set()
                thread.join(5)
                d.close()
                scenes = {}
                if os.path.exists(state):  # a kill before the first write leaves none
                    with open(state) as f:
                        scenes = json.load(f)["matrices"]["hall"]["scenes"]
                names = sorted(scenes, key=lambda s: int(s[1:]))
                context = "seed %d, kill %d" % (seed, kill)
                self.assertEqual(names, ["s%d" % i for i in range(len(names))], context)
                self.assertGreaterEqual(len(names), acknowledged, context)
                self.assertLessEqual(len(names), written, context)
                if names:
                    self.assertEqual(scenes["s0"], [1, 0, 0, 0], context)
                # The next run goes on from what the file holds.
                written = acknowledged = len(names)
        finally:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
