#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""matrixd as users reach it: a process with two matrix-sim (one over TCP,
one over a pseudo-terminal), driven by real HTTP clients on loopback."""
import http.client
import json
import os
import shutil
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import ROUTE_3_TO_B, Events, Matrixd, Sim, hall_matrix, matrices_ready, wait_until  # noqa: E402

HOST = "127.0.0.71"
HALL_SIM = "127.0.0.72"
HALL = hall_matrix(HALL_SIM)


def route_frames(frames):
    return [f for f in frames if f.startswith("A55B0203")]


class ApiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="matrixd-api-")
        cls.state = os.path.join(cls.tmp, "state")
        cls.com_dir = os.path.join(cls.tmp, "com")
        os.makedirs(cls.com_dir)
        cls.web = os.path.join(cls.tmp, "web")
        os.makedirs(os.path.join(cls.web, "css"))
        with open(os.path.join(cls.web, "index.html"), "w") as f:
            f.write("<!doctype html><title>matrix</title>")
        with open(os.path.join(cls.web, "css", "page.css"), "w") as f:
            f.write("body{}")
        with open(os.path.join(cls.tmp, "secret.txt"), "w") as f:
            f.write("not for the web")
        os.symlink(os.path.join(cls.tmp, "secret.txt"), os.path.join(cls.web, "escape.txt"))
        cls.hall = Sim(tcp=HALL_SIM)
        cls.booth = Sim(com_dir=cls.com_dir, com=3)
        cls.matrices = [HALL, dict(id="booth", serial=os.path.join(cls.com_dir, "COM3"), poll_seconds=1)]
        cls.d = Matrixd(HOST, cls.matrices, cls.state, web_root=cls.web)
        if not wait_until(lambda: matrices_ready(cls.d), 8):
            raise AssertionError("links not up:\n" + cls.d.stderr())

    @classmethod
    def tearDownClass(cls):
        cls.d.close()
        cls.hall.stop()
        cls.booth.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def get(self, path):
        status, body, _ = self.d.request("GET", path)
        self.assertEqual(status, 200, body)
        return body

    def test_1_reads_names_letters_cables_and_routing(self):
        self.assertEqual(self.d.request("GET", "/healthz")[:2], (200, {"status": "ok"}))
        listed = self.get("/api/v1/matrices")
        self.assertEqual([(m["id"], m["name"], m["link"]) for m in listed],
                         [("hall", "Main hall", "up"), ("booth", "booth", "up")])
        hall = self.get("/api/v1/matrices/hall")
        self.assertEqual((hall["model"], hall["version"], hall["beep"]), ("HDMI MATRIX", "1.0", True))
        self.assertEqual([(i["number"], i["name"], i["cable"]) for i in hall["inputs"]],
                         [(1, "Laptop", True), (2, "Apple TV", False), (3, "Camera", True), (4, "PC", False)])
        self.assertEqual([(o["letter"], o["name"], o["cable"]) for o in hall["outputs"]],
                         [("A", "Projector", True), ("B", "Left TV", True), ("C", "Right TV", False),
                          ("D", "Recorder", True)])
        self.assertEqual(self.get("/api/v1/matrices/booth")["outputs"][3]["name"], "Output D")

    def test_2_route_sends_the_frame_and_tells_everyone(self):
        events = Events(self.d)
        self.assertEqual((events.status, events.content_type), (200, "text/event-stream"))
        self.hall.frames()
        # Output and input by number, letter (any case) or name; all answer after the acknowledgement.
        cases = [("B", 3), ("left tv", "Camera"), ("2", "camera")]
        for output, input_ in cases:
            status, body, _ = self.d.request("PUT", "/api/v1/matrices/hall/outputs/" + output.replace(" ", "%20"),
                                             {"input": input_})
            self.assertEqual((status, body["letter"], body["input"]), (200, "B", 3), body)
        self.assertEqual(route_frames(self.hall.frames()), [ROUTE_3_TO_B] * 3)
        status, routing, _ = self.d.request("PUT", "/api/v1/matrices/hall/routing", {"A": "PC", "D": 2})
        self.assertEqual((status, routing["A"], routing["B"], routing["D"]), (200, 4, 3, 2))
        events.wait_for({"type": "routing", "matrix": "hall", "output": 1, "input": 4})
        events.wait_for({"type": "routing", "matrix": "hall", "output": 4, "input": 2})
        # The serial matrix too, and a change at the front panel arrives within a poll.
        self.assertEqual(self.d.request("PUT", "/api/v1/matrices/booth/outputs/C", {"input": 1})[0], 200)
        events.wait_for({"type": "routing", "matrix": "booth", "output": 3, "input": 1})
        self.booth.command("route 1 2")
        self.booth.command("cable in 2 on")
        events.wait_for({"type": "routing", "matrix": "booth", "output": 1, "input": 2}, timeout=3)
        events.wait_for({"type": "cable", "matrix": "booth", "port": "input", "number": 2, "cable": True},
                        timeout=3)
        self.assertEqual(self.get("/api/v1/matrices/booth/routing")["A"], 2)
        events.close()

    def test_3_scenes_and_schedules_are_kept_across_a_restart(self):
        d = self.d
        self.assertEqual(d.request("PUT", "/api/v1/matrices/hall/routing", {"A": 1, "B": 1, "C": 1, "D": 1})[0], 200)
        self.assertEqual(d.request("PUT", "/api/v1/matrices/hall/scenes/all-laptop", {"from": "current"})[0], 200)
        status, body, _ = d.request("PUT", "/api/v1/matrices/hall/scenes/talk", {"routing": {"A": "Camera", "C": 2}})
        self.assertEqual((status, body), (200, {"name": "talk", "routing": {"A": 3, "C": 2}}))
        morning = {"scene": "all-laptop", "at": "07:30", "days": ["sat", "sun"]}
        self.assertEqual(d.request("PUT", "/api/v1/matrices/hall/schedules/morning", morning)[0], 200)
        self.assertEqual(d.stop(), 0)  # SIGTERM ends cleanly
        d.close()
        type(self).d = d = Matrixd(HOST, self.matrices, self.state, web_root=self.web)
        self.assertTrue(wait_until(lambda: matrices_ready(d), 8))
        self.assertEqual([s["name"] for s in self.get("/api/v1/matrices/hall/scenes")], ["all-laptop", "talk"])
        [kept] = self.get("/api/v1/matrices/hall/schedules")
        self.assertEqual({k: kept[k] for k in morning}, morning)
        self.assertRegex(kept["next_run"], r"^\d{4}-\d\d-\d\dT07:30:00[+-]\d\d:\d\d$")
        status, body, _ = d.request("DELETE", "/api/v1/matrices/hall/scenes/all-laptop")
        self.assertEqual((status, body), (409, {"error": "scene 'all-laptop' is recalled by schedule 'morning'"}))
        self.assertEqual(d.request("DELETE", "/api/v1/matrices/hall/schedules/morning")[0], 200)
        self.hall.frames()
        status, routing, _ = d.request("POST", "/api/v1/matrices/hall/scenes/talk/recall")
        self.assertEqual((status, routing), (200, {"A": 3, "B": 1, "C": 2, "D": 1}))
        self.assertEqual(route_frames(self.hall.frames()), ["A55B02030300010000000000F7",
                                                            "A55B02030200030000000000F6"])
        self.assertEqual(d.request("DELETE", "/api/v1/matrices/hall/scenes/talk")[0], 200)
        self.assertEqual(d.request("POST", "/api/v1/matrices/hall/scenes/talk/recall")[0], 404)

    def test_4_beep_and_names(self):
        status, body, _ = self.d.request("PUT", "/api/v1/matrices/hall/beep", {"on": False})
        self.assertEqual((status, body), (200, {"on": False}))
        self.assertFalse(self.get("/api/v1/matrices/hall")["beep"])
        self.assertEqual(self.d.request("PUT", "/api/v1/matrices/booth/inputs/1/name", {"name": "Podium"})[0], 200)
        self.assertEqual(self.d.request("PUT", "/api/v1/matrices/booth/outputs/A", {"input": "Podium"})[1]["input"],
                         1)
        self.assertEqual(self.d.request("PUT", "/api/v1/matrices/booth/inputs/2/name", {"name": "Podium"})[0], 409)
        events = Events(self.d)
        self.booth.command("standby")
        events.wait_for({"type": "standby", "matrix": "booth"})
        events.close()

    def test_5a_silent_matrix_delays_nobody_else(self):
        self.hall.command("silent on")
        result = {}
        slow = threading.Thread(target=lambda: result.update(
            answer=self.d.request("PUT", "/api/v1/matrices/hall/outputs/A", {"input": 2}, timeout=30)[:2]))
        slow.start()
        time.sleep(0.2)
        started = time.monotonic()
        self.assertEqual(self.d.request("GET", "/healthz")[0], 200)
        self.assertEqual(self.d.request("PUT", "/api/v1/matrices/booth/outputs/B", {"input": 1})[0], 200)
        self.assertEqual(self.d.request("GET", "/api/v1/matrices/hall")[0], 200)
        self.assertLess(time.monotonic() - started, 2.0)
        slow.join(30)
        self.hall.command("silent off")
        self.assertEqual(result["answer"], (504, {"error": "Time out!"}))

    def test_5_link_loss_and_recovery(self):
        events = Events(self.d)
        self.hall.stop()
        events.wait_for({"type": "link", "matrix": "hall", "link": "down"})
        started = time.monotonic()
        status, body, _ = self.d.request("PUT", "/api/v1/matrices/hall/outputs/A", {"input": 2})
        self.assertEqual(status, 503, body)
        self.assertLess(time.monotonic() - started, 1.0)
        # The other matrix and /healthz carry on.
        self.assertEqual(self.d.request("PUT", "/api/v1/matrices/booth/outputs/D", {"input": 4})[0], 200)
        type(self).hall = Sim(tcp=HALL_SIM)
        self.hall.command("route 3 4")
        events.wait_for({"type": "link", "matrix": "hall", "link": "up"}, timeout=8)
        self.assertTrue(wait_until(lambda: self.get("/api/v1/matrices/hall/routing")["C"] == 4, 3))
        # The serial side pulled and back.
        self.booth.command("unplug")
        events.wait_for({"type": "link", "matrix": "booth", "link": "down"})
        events.wait_for({"type": "link", "matrix": "booth", "link": "up"}, timeout=10)
        events.close()

    def test_7_edid(self):
        events = Events(self.d)
        edid = bytearray([0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00] + [0x11] * 118 + [0, 0])
        edid[127] = (-sum(edid)) % 256
        cases = [({"mode": 3}, "application/json", 200), ({"copy_from": "A"}, "application/json", 200),
                 (bytes(edid), "application/octet-stream", 200),
                 (bytes(edid[:100]), "application/octet-stream", 400),
                 (bytes([0x42] * 128), "application/octet-stream", 400),
                 ({"mode": 16}, "application/json", 400), ({"mode": 1, "copy_from": 2}, "application/json", 400)]
        for body, content_type, expected in cases:
            raw = body if isinstance(body, bytes) else json.dumps(body)
            status, answer, _ = self.d.request("PUT", "/api/v1/matrices/hall/inputs/2/edid", raw=raw,
                                               headers={"Content-Type": content_type})
            self.assertEqual(status, expected, (raw[:20], answer))
            if status == 200:
                self.assertEqual([row["input"] for row in answer["edid"]], [1, 2, 3, 4])
        self.assertEqual(self.d.request("PUT", "/api/v1/matrices/hall/inputs/2/edid", {"mode": 4})[1]["edid"][1]["code"],
                         self.get("/api/v1/matrices/hall")["edid"][1]["code"])
        edid_rows = self.get("/api/v1/matrices/hall")["edid"]
        self.assertEqual([(r["input"], isinstance(r["code"], int), isinstance(r["text"], str)) for r in edid_rows],
                         [(n, True, True) for n in range(1, 5)])
        events.close()

    def test_8_firmware_upload_reports_progress_and_holds_the_matrix(self):
        image = bytes([0xA5, 0x5A] + [(i * 31 + 7) & 0xFF for i in range(1000)])
        key = (len(image) & 0xFF) ^ 0x3C
        container = bytes(b ^ key for b in image)
        events = Events(self.d)
        path = "/api/v1/matrices/hall/firmware"
        octet = {"Content-Type": "application/octet-stream"}
        self.assertEqual(self.d.request("POST", path, raw=container, headers=octet)[0], 202)
        self.assertEqual(self.d.request("POST", path, raw=container, headers=octet)[0], 409)
        self.assertEqual(self.d.request("PUT", "/api/v1/matrices/hall/outputs/A", {"input": 1})[0], 409)
        progress = events.wait_for({"type": "firmware", "matrix": "hall"})
        self.assertGreater(progress["total"], 0)
        last = events.wait_for({"type": "firmware", "matrix": "hall", "state": "done"}, timeout=15)
        # The page says how far it got from the last event alone.
        self.assertEqual((last["done"], last["total"]), (progress["total"], progress["total"]))
        self.assertEqual(self.d.request("PUT", "/api/v1/matrices/hall/outputs/A", {"input": 1})[0], 200)
        events.close()

    def test_6_static_files(self):
        cases = [("/", 200, "text/html; charset=utf-8"), ("/css/page.css", 200, "text/css; charset=utf-8"),
                 ("/css/", 404, None), ("/css", 404, None), ("/escape.txt", 404, None),
                 ("/../secret.txt", 404, None), ("/%2e%2e/secret.txt", 404, None), ("/missing.js", 404, None)]
        for path, expected, content_type in cases:
            status, body, response = self.d.request("GET", path)
            self.assertEqual(status, expected, path)
            if content_type:
                self.assertEqual(response.getheader("Content-Type"), content_type)
            self.assertNotIn(b"not for the web", body if isinstance(body, bytes) else b"")
            if status == 200:  # no other site may frame the page, and nothing inline runs in it
                self.assertIn("frame-ancestors 'none'", response.getheader("Content-Security-Policy", ""), path)
                self.assertIn("script-src 'self';", response.getheader("Content-Security-Policy", ""), path)
                self.assertEqual(response.getheader("X-Frame-Options"), "DENY", path)
                self.assertEqual(response.getheader("Referrer-Policy"), "no-referrer", path)


class StartTest(unittest.TestCase):
    def test_token_guards_everything_but_healthz(self):
        tmp = tempfile.mkdtemp(prefix="matrixd-token-")
        d = Matrixd("127.0.0.79", [dict(id="x", tcp="127.0.0.80")], tmp, token="s3cret")
        try:
            self.assertEqual(d.request("GET", "/healthz", token=False)[0], 200)
            for headers in [{}, {"Authorization": "Bearer wrong"}, {"Authorization": "Bearer s3cret2"},
                            {"Authorization": "Basic s3cret"}]:
                status, body, _ = d.request("GET", "/api/v1/matrices", headers=headers, token=False)
                self.assertEqual((status, "error" in body), (401, True), headers)
            self.assertEqual(d.request("GET", "/api/v1/matrices")[0], 200)
            self.assertEqual(d.request("GET", "/api/v1/events?token=nope", token=False)[0], 401)
            # A browser's EventSource cannot send the header: the stream takes ?token= too.
            stream = http.client.HTTPConnection(d.host, d.port, timeout=5)
            stream.request("GET", "/api/v1/events?token=s3cret")
            self.assertEqual(stream.getresponse().status, 200)
            stream.close()
        finally:
            d.close()
            shutil.rmtree(tmp, ignore_errors=True)

    def test_open_address_without_token_refuses_to_start(self):
        tmp = tempfile.mkdtemp(prefix="matrixd-open-")
        d = Matrixd("0.0.0.0", [dict(id="x", tcp="127.0.0.80")], tmp, wait=False, port=18480)
        try:
            self.assertEqual(d.proc.wait(5), 2)
            self.assertIn("needs a token", d.stderr())
        finally:
            d.close()
            shutil.rmtree(tmp, ignore_errors=True)


    def test_corrupt_state_file_stops_the_start_and_is_kept(self):
        tmp = tempfile.mkdtemp(prefix="matrixd-corrupt-")
        corrupt = '{"matrices": {"hall": {"scenes": '
        with open(os.path.join(tmp, "state.json"), "w") as f:
            f.write(corrupt)
        d = Matrixd("127.0.0.79", [dict(id="x", tcp="127.0.0.80")], tmp, wait=False)
        try:
            self.assertEqual(d.proc.wait(5), 1)
            self.assertIn("corrupt state file", d.stderr())
            with open(os.path.join(tmp, "state.json")) as f:
                self.assertEqual(f.read(), corrupt)
        finally:
            d.close()
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
