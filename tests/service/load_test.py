#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""50 clients x 20 route requests over two matrices: every request answered,
none lost or doubled on the wire, and the final routing is the last one
each matrix acknowledged."""
import http.client
import json
import os
import random
import shutil
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Matrixd, Sim, wait_until  # noqa: E402

HOST = "127.0.0.75"
SIMS = {"hall": "127.0.0.76", "stage": "127.0.0.77"}
CLIENTS = 50
REQUESTS = 20


class LoadTest(unittest.TestCase):
    def test_concurrent_routes(self):
        seed = random.randrange(1 << 30)
        print("seed", seed)
        tmp = tempfile.mkdtemp(prefix="matrixd-load-")
        sims = {name: Sim(tcp=address) for name, address in SIMS.items()}
        d = Matrixd(HOST, [dict(id=name, tcp=address, poll_seconds=1) for name, address in SIMS.items()], tmp)
        try:
            up = lambda: all(m["link"] == "up" for m in d.request("GET", "/api/v1/matrices")[1])
            self.assertTrue(wait_until(up, 8))
            for sim in sims.values():
                sim.frames()
            sent = {name: 0 for name in SIMS}
            failures = []
            lock = threading.Lock()

            def client(index):
                rng = random.Random(seed + index)
                conn = http.client.HTTPConnection(HOST, 8480, timeout=60)
                for j in range(REQUESTS):
                    name = "hall" if (index + j) % 2 else "stage"
                    output, input_ = rng.randint(1, 4), rng.randint(1, 4)
                    try:
                        conn.request("PUT", "/api/v1/matrices/%s/outputs/%d" % (name, output),
                                     body=json.dumps({"input": input_}))
                        response = conn.getresponse()
                        body = json.loads(response.read())
                        ok = response.status == 200 and body["input"] == input_ and body["number"] == output
                    except (OSError, ValueError, http.client.HTTPException) as error:
                        ok, body = False, repr(error)
                    with lock:
                        sent[name] += 1
                        if not ok:
                            failures.append((name, output, input_, body))
                conn.close()

            threads = [threading.Thread(target=client, args=(i,)) for i in range(CLIENTS)]
            for t in threads:
                t.start()
            for t in threads:
                t.join(120)
            self.assertEqual(failures, [], "seed %d" % seed)
            self.assertEqual(sum(sent.values()), CLIENTS * REQUESTS)
            for name, sim in sims.items():
                routes = [f for f in sim.frames() if f.startswith("A55B0203")]
                self.assertEqual(len(routes), sent[name], "seed %d: %s" % (seed, name))
                last = {}
                for frame in routes:  # A5 5B 02 03 input 00 output ...
                    last[int(frame[12:14], 16)] = int(frame[8:10], 16)
                routing = d.request("GET", "/api/v1/matrices/%s/routing" % name)[1]
                self.assertEqual({o + 1: routing[chr(ord("A") + o)] for o in range(4) if o + 1 in last}, last)
        finally:
            d.close()
            for sim in sims.values():
                sim.stop()
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
