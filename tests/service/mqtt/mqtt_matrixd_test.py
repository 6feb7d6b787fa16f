#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""matrixd's MQTT front-end against a real mosquitto broker and matrix-sim, seen
the way Home Assistant or a script sees it (mosquitto_sub / mosquitto_pub).
The broker, matrixd and the simulator listen on 127.0.21.x only."""
import json
import os
import re
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

MATRIXD = os.environ["MATRIXD"]
MATRIX_SIM = os.environ["MATRIX_SIM"]
MOSQUITTO = os.environ.get("MOSQUITTO", "/usr/sbin/mosquitto")
HOST, SIM_HOST, BROKER_PORT, HTTP_PORT = "127.0.21.1", "127.0.21.2", 18830, 18480
SENTINEL = "test/sentinel"
API = f"http://{HOST}:{HTTP_PORT}/api/v1/matrices/hall"
INPUTS = ["Laptop", "Apple TV", "Camera", "PC"]
CONFIG = f"""
[http]
listen = "{HOST}:{HTTP_PORT}"
[state]
dir = "{{state}}"
[mqtt]
host = "{HOST}"
port = {BROKER_PORT}
client_id = "matrixd-test"
[[matrix]]
id = "hall"
name = "Main hall"
tcp = "{SIM_HOST}"
poll_seconds = 1
inputs  = {json.dumps(INPUTS)}
outputs = ["Projector", "Left TV", "Right TV", "Recorder"]
"""


def route_frame(output, input_):
    frame = bytes([0xA5, 0x5B, 2, 3, input_, 0, output, 0, 0, 0, 0, 0])
    return (frame + bytes([(0x100 - sum(frame)) % 0x100])).hex().upper()


def publish(topic, payload, retain=False):
    subprocess.run(["mosquitto_pub", "-h", HOST, "-p", str(BROKER_PORT), "-t", topic, "-m", payload, "-q", "1"]
                   + (["-r"] if retain else []), check=True, timeout=5)


def retained(topic_filter):
    """What a client subscribing now gets as retained: {topic: payload}. The
    broker sends a new subscription's retained messages before anything
    published later, so the first live message marks their end."""
    sub = subprocess.Popen(["mosquitto_sub", "-h", HOST, "-p", str(BROKER_PORT), "-t", topic_filter, "-t", SENTINEL,
                            "--retained-only", "-F", "%t %p"], stdout=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 10
    try:
        while not wait_exit(sub, 0.2):
            if time.monotonic() > deadline:
                raise TimeoutError(f"no retained messages for {topic_filter}")
            publish(SENTINEL, "x")  # lost until the subscription stands; then it ends the reading
        lines = sub.stdout.read().splitlines()
    finally:
        sub.kill()
        sub.wait()
        sub.stdout.close()
    return dict(line.split(" ", 1) if " " in line else (line, "") for line in lines
                if not line.startswith(SENTINEL))


def wait_exit(proc, seconds):
    try:
        proc.wait(seconds)
        return True
    except subprocess.TimeoutExpired:
        return False


def wait_for(predicate, timeout=6.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return predicate()


class Watcher:
    """A live subscriber: every message as (retain flag, topic, payload)."""

    def __init__(self, topic_filter):
        self.proc = subprocess.Popen(["mosquitto_sub", "-h", HOST, "-p", str(BROKER_PORT), "-t", topic_filter,
                                      "-t", SENTINEL, "-F", "%r %t %p"], stdout=subprocess.PIPE, text=True)
        self.lines = []
        threading.Thread(target=self._read, daemon=True).start()
        # Subscribed before the test acts: its own sentinel came through.
        for _ in range(50):
            publish(SENTINEL, "x")
            if wait_for(lambda: any(t == SENTINEL for _, t, _ in self.lines), 0.2):
                break

    def _read(self):
        for line in self.proc.stdout:
            flag, topic, payload = (line.rstrip("\n").split(" ", 2) + ["", ""])[:3]
            self.lines.append((flag == "1", topic, payload))

    def close(self):
        self.proc.terminate()
        self.proc.wait(5)
        self.proc.stdout.close()


class MqttAgainstMatrixd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # tearDownClass is not called when this fails: stop what did start.
        cls.daemon = cls.sim = cls.broker = cls.log = cls.broker_log = None
        try:
            cls.start_all()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def start_all(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.broker_conf = os.path.join(cls.tmp.name, "mosquitto.conf")
        with open(cls.broker_conf, "w") as f:
            f.write(f"listener {BROKER_PORT} {HOST}\nallow_anonymous true\npersistence false\n")
        cls.broker_log = open(os.path.join(cls.tmp.name, "mosquitto.log"), "w")
        cls.start_broker()
        # A matrix announced by an earlier run that is no longer configured.
        publish("matrix/bridge/matrices/matrixd-test", '["hall","gone"]', retain=True)
        publish("homeassistant/select/matrix_gone/output_1/config", '{"name":"stale"}', retain=True)
        publish("matrix/gone/availability", "online", retain=True)

        cls.config = os.path.join(cls.tmp.name, "matrixd.toml")
        with open(cls.config, "w") as f:
            f.write(CONFIG.replace("{state}", cls.tmp.name))
        cls.sim = subprocess.Popen([MATRIX_SIM, "--tcp", SIM_HOST, "--control-stdin"], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, text=True)
        cls.sim.stdout.readline()  # "listening ..."
        cls.log = open(os.path.join(cls.tmp.name, "matrixd.log"), "w+")
        cls.daemon = subprocess.Popen([MATRIXD, "--config", cls.config], stderr=cls.log)
        if not wait_for(lambda: retained("matrix/hall/output/4/state"), 10):
            raise RuntimeError("matrixd published no state")

    @classmethod
    def tearDownClass(cls):
        for proc in (cls.daemon, cls.sim, cls.broker):
            if proc and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
        for stream in (cls.log, cls.broker_log) + ((cls.sim.stdin, cls.sim.stdout) if cls.sim else ()):
            if stream:
                stream.close()
        cls.tmp.cleanup()

    @classmethod
    def start_broker(cls):
        cls.broker = subprocess.Popen([MOSQUITTO, "-c", cls.broker_conf], stderr=cls.broker_log)
        if not wait_for(lambda: subprocess.run(["mosquitto_pub", "-h", HOST, "-p", str(BROKER_PORT), "-t", "ping",
                                                "-m", "x"], capture_output=True).returncode == 0, 5):
            raise RuntimeError("mosquitto did not start")

    def sim_command(self, line):
        self.sim.stdin.write(line + "\n")
        self.sim.stdin.flush()
        while True:
            answer = self.sim.stdout.readline().strip()
            if answer.startswith(("ok", "error")):
                return answer

    def frames(self):
        return re.split(r"[ ,]+", self.sim_command("frames"))[2:]

    def log_text(self):
        self.log.seek(0)
        return self.log.read()

    def test_a_discovery_configs_parse_with_home_assistant_fields(self):
        configs = {t: json.loads(p) for t, p in retained("homeassistant/+/matrix_hall/+/config").items()}
        self.assertEqual(len(configs), 15)  # 4 outputs, 8 cables, beep, reset, firmware; no scenes yet
        bridge = json.loads(retained("homeassistant/binary_sensor/+/connection/config").popitem()[1])
        for topic, config in configs.items():
            with self.subTest(topic=topic):
                component = topic.split("/")[1]
                device = config["device"]
                for key in ("identifiers", "name", "manufacturer", "model", "sw_version"):
                    self.assertTrue(device[key], key)
                self.assertEqual(device["via_device"], bridge["device"]["identifiers"][0])
                self.assertEqual(config["origin"]["name"], "matrixd")
                self.assertEqual([a["topic"] for a in config["availability"]],
                                 ["matrix/bridge/availability", "matrix/hall/availability"])
                self.assertEqual(config["availability_mode"], "all")
                self.assertTrue(config["default_entity_id"].startswith(component + "."))
                self.assertNotIn("object_id", config)
        self.assertEqual(len({c["unique_id"] for c in configs.values()}), len(configs))
        select = configs["homeassistant/select/matrix_hall/output_2/config"]
        self.assertEqual(select["options"], INPUTS)
        self.assertEqual((select["state_topic"], select["command_topic"]),
                         ("matrix/hall/output/2/state", "matrix/hall/output/2/set"))
        button = configs["homeassistant/button/matrix_hall/factory_reset/config"]
        self.assertEqual((button["entity_category"], button["enabled_by_default"]), ("config", False))
        state = retained("matrix/#")
        self.assertEqual(state["matrix/bridge/availability"], "online")
        self.assertEqual(state["matrix/hall/availability"], "online")
        self.assertEqual(state["matrix/hall/version"], configs[next(iter(configs))]["device"]["sw_version"])
        # The matrix that left the configuration is gone from the broker.
        self.assertEqual(retained("homeassistant/+/matrix_gone/+/config"), {})
        self.assertNotIn("matrix/gone/availability", state)
        self.assertEqual(state["matrix/bridge/matrices/matrixd-test"], '["hall"]')

    def test_b_route_command_sends_the_route_frame_and_updates_state(self):
        self.frames()
        publish("matrix/hall/output/2/set", "Camera")
        self.assertTrue(wait_for(lambda: retained("matrix/hall/output/2/state").get(
            "matrix/hall/output/2/state") == "Camera"))
        self.assertEqual(self.frames().count(route_frame(2, 3)), 1)
        publish("matrix/hall/output/2/set", "1")
        self.assertTrue(wait_for(lambda: retained("matrix/hall/output/2/state").get(
            "matrix/hall/output/2/state") == "Laptop"))
        self.assertEqual(self.frames().count(route_frame(2, 1)), 1)

    def test_c_change_at_the_panel_updates_retained_state_and_sends_an_event(self):
        events = Watcher("matrix/hall/event")
        try:
            self.assertTrue(self.sim_command("route 4 1").startswith("ok"))
            self.assertTrue(wait_for(lambda: retained("matrix/hall/output/4/state").get(
                "matrix/hall/output/4/state") == "Laptop"))
            expected = {"type": "routing", "matrix": "hall", "output": 4, "input": 1}
            seen = lambda: [(r, json.loads(p)) for r, t, p in events.lines if t == "matrix/hall/event"]
            self.assertTrue(wait_for(lambda: (False, expected) in seen()))
            self.assertFalse(any(retain for retain, _ in seen()))
        finally:
            events.close()

    def test_d_malformed_or_unknown_commands_change_nothing(self):
        before = retained("matrix/#")
        self.frames()
        time.sleep(1.5)  # what the polls alone send
        polls = {f[:8] for f in self.frames()}
        for topic, payload in [("matrix/hall/output/2/set", "Toaster"), ("matrix/hall/output/2/set", "9"),
                               ("matrix/hall/output/7/set", "1"), ("matrix/hall/beep/set", "maybe"),
                               ("matrix/hall/scene/set", "nope"), ("matrix/hall/factory_reset/press", "now"),
                               ("matrix/nowhere/output/1/set", "1"), ("matrix/hall/output/1/set", "2" * 5000)]:
            publish(topic, payload)
        # A good command after them: once its frame is through, so is anything they sent.
        carried = INPUTS.index(before["matrix/hall/output/3/state"]) + 1
        publish("matrix/hall/output/3/set", str(carried))
        seen = []
        self.assertTrue(wait_for(lambda: seen.extend(self.frames()) or route_frame(3, carried) in seen))
        self.assertEqual([f for f in seen if f[:8] not in polls], [route_frame(3, carried)])
        after = retained("matrix/#")
        self.assertEqual({t: after.get(t) for t in before}, before)
        self.assertGreaterEqual(self.log_text().count("ignored"), 8)

    def test_c2_a_scene_saved_over_http_becomes_selectable_and_recalls(self):
        body = json.dumps({"routing": {"A": 2, "B": 2, "C": 2, "D": 2}}).encode()
        request = urllib.request.Request(API + "/scenes/Movie", data=body, method="PUT",
                                         headers={"Content-Type": "application/json"})
        urllib.request.urlopen(request, timeout=5).close()
        topic = "homeassistant/select/matrix_hall/scene/config"
        self.assertTrue(wait_for(lambda: retained(topic)))
        self.assertEqual(json.loads(retained(topic)[topic])["options"], ["Movie"])
        self.assertEqual(retained("matrix/hall/scene/state")["matrix/hall/scene/state"], '["Movie"]')
        self.assertEqual(json.loads(retained(topic)[topic])["state_topic"], "matrix/hall/scene/active")
        active = lambda: retained("matrix/hall/scene/active").get("matrix/hall/scene/active")
        events = Watcher("matrix/hall/event")
        try:
            publish("matrix/hall/scene/set", "Movie")
            self.assertTrue(wait_for(lambda: set(retained("matrix/hall/output/+/state").values()) == {"Apple TV"}))
            self.assertTrue(wait_for(lambda: active() == "Movie"))
            # A change at the panel ends it (Home Assistant reads "None" as no option); undone, it is live again.
            for panel, expected in [("route 4 1", "None"), ("route 4 2", "Movie")]:
                self.assertTrue(self.sim_command(panel).startswith("ok"))
                self.assertTrue(wait_for(lambda: active() == expected), (panel, active()))
            scene_events = [json.loads(p) for _, t, p in events.lines if t == "matrix/hall/event"
                            and json.loads(p)["type"] == "scene"]
            self.assertEqual([e["active"] for e in scene_events], ["Movie", None, "Movie"])
        finally:
            events.close()

    def test_c3_a_rename_reaches_home_assistant_config_first_and_the_name_rule_holds(self):
        def rename(name):
            body = json.dumps({"name": name}).encode()
            request = urllib.request.Request(API + "/inputs/2/name", data=body, method="PUT",
                                             headers={"Content-Type": "application/json"})
            try:
                with urllib.request.urlopen(request, timeout=5) as reply:
                    return reply.status
            except urllib.error.HTTPError as error:
                return error.code

        self.assertTrue(wait_for(lambda: retained("matrix/hall/output/1/state").get(
            "matrix/hall/output/1/state") == "Apple TV"))  # the scene above routed input 2 everywhere
        watcher = Watcher("#")
        try:
            self.assertEqual(rename("Stage camera"), 200)
            config_topic, state_topic = "homeassistant/select/matrix_hall/output_1/config", "matrix/hall/output/1/state"
            seen = lambda: [(t, p) for _, t, p in watcher.lines if t in (config_topic, state_topic)]
            self.assertTrue(wait_for(lambda: (state_topic, "Stage camera") in seen()))
            order = seen()
            first_config = next(i for i, (t, p) in enumerate(order)
                                if t == config_topic and "Stage camera" in json.loads(p)["options"])
            self.assertLess(first_config, order.index((state_topic, "Stage camera")), order)
        finally:
            watcher.close()
        # Refused as by every front-end, and never offered: Home Assistant would send it back as a port.
        for bad in ["2", " Stage", "none"]:
            self.assertEqual(rename(bad), 400, bad)
        self.frames()
        publish("matrix/hall/output/3/set", "stage camera")  # options match exactly, not ignoring case
        publish("matrix/hall/output/3/set", "Stage camera")
        sent = []
        self.assertTrue(wait_for(lambda: sent.extend(self.frames()) or route_frame(3, 2) in sent))
        self.assertEqual(sent.count(route_frame(3, 2)), 1)
        self.assertEqual(rename("Apple TV"), 200)

    def test_e_broker_restart_reconnects_and_publishes_everything_again(self):
        configs = retained("homeassistant/+/matrix_hall/+/config")
        type(self).broker.terminate()
        type(self).broker.wait(5)
        # The HTTP side keeps working while the broker is away.
        with urllib.request.urlopen(API, timeout=5) as reply:
            self.assertEqual(json.loads(reply.read())["link"], "up")
        self.start_broker()  # no persistence: it comes back empty
        self.assertTrue(wait_for(lambda: retained("homeassistant/+/matrix_hall/+/config") == configs, 10))
        state = retained("matrix/#")
        self.assertEqual(state.get("matrix/bridge/availability"), "online")
        self.assertEqual(state.get("matrix/hall/output/4/state"), "Laptop")
        self.assertIn("mqtt: connected", self.log_text().split("lost")[-1])


if __name__ == "__main__":
    unittest.main(verbosity=2)
