#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The control page as an operator uses it: Debian's chromium (headless,
through chromedriver) on the page that matrixd serves, with matrix-sim behind
it. Everything stays on 127.x; the browser resolves no host names."""
import base64
import os
import shutil
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "service"))
from harness import ROUTE_3_TO_B, Matrixd, Sim, hall_matrix, wait_until  # noqa: E402

CHROMIUM = os.environ.get("CHROMIUM", "/usr/bin/chromium")
CHROMEDRIVER = os.environ.get("CHROMEDRIVER", "/usr/bin/chromedriver")
SKIP = 77  # CTest's SKIP_RETURN_CODE for this test

try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    webdriver = None

HOST = "127.0.0.91"
SIM = "127.0.0.92"
TOKEN = "lectern-7f3a"  # an old single [http] token: short, so only a warning
VIEWER = "lobby-tablet-5b1e0c77"
HALL = hall_matrix(SIM)
# A second matrix that nothing answers for: the picker shows, its link stays down.
BOOTH = dict(id="booth", name="Booth", tcp="127.0.0.93", poll_seconds=1)
SCENE = "Vortrag über Ton"  # a space and a non-ASCII letter travel percent-encoded
SHOTS = os.environ.get("MATRIX_WEB_SHOTS", os.path.join(tempfile.gettempdir(), "matrix-web-shots"))


# Lists texts under 4.5:1 contrast and controls without an accessible name.
CONTRAST_AND_NAMES = """
const rgb = (c) => (c.match(/[\\d.]+/g) || []).map(Number);
const lum = ([r, g, b]) => [r, g, b].map((v) => { v /= 255; return v <= 0.03928 ? v / 12.92
  : Math.pow((v + 0.055) / 1.055, 2.4); }).reduce((s, v, i) => s + v * [0.2126, 0.7152, 0.0722][i], 0);
const behind = (e) => { for (; e; e = e.parentElement) { const c = rgb(getComputedStyle(e).backgroundColor);
  if (c.length < 4 || c[3] > 0.5) return c; } return [255, 255, 255]; };
const faults = [];
for (const e of document.querySelectorAll('body *')) {
  const own = [...e.childNodes].some((n) => n.nodeType === 3 && n.textContent.trim());
  if (!own || !e.getClientRects().length) continue;
  const [a, b] = [lum(rgb(getComputedStyle(e).color)), lum(behind(e))];
  const ratio = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
  if (ratio < 4.5) faults.push('contrast ' + ratio.toFixed(2) + ': ' + e.textContent.trim());
}
for (const e of document.querySelectorAll('button, select, input')) {
  const named = e.getAttribute('aria-label') || (e.labels && e.labels.length) || e.textContent.trim();
  if (!named) faults.push('unnamed ' + e.outerHTML.slice(0, 60));
}
return faults;
"""


def route_frames(frames):
    return [f for f in frames if f.startswith("A55B0203")]


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-extensions", "--disable-default-apps",
                 "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE " + HOST, "--user-data-dir=" + profile):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


class WebPageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="matrix-web-")
        cls.state = os.path.join(cls.tmp, "state")
        cls.sim = Sim(tcp=SIM)
        cls.d = None
        cls.browser = None
        try:
            cls.start_daemon()
            cls.browser = start_browser(os.path.join(cls.tmp, "profile"))
            cls.browser.set_window_size(1280, 900)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def start_daemon(cls):
        viewer = '[[token]]\nname = "lobby"\nrole = "viewer"\nsecret = "%s"' % VIEWER
        cls.d = Matrixd(HOST, [HALL, BOOTH], cls.state, token=TOKEN, extra_http=viewer,
                        web_root=os.path.join(HERE, "..", "..", "web"))
        up = lambda: cls.d.request("GET", "/api/v1/matrices")[1][0]["link"] == "up"
        if not wait_until(up, 8):
            raise AssertionError("link not up:\n" + cls.d.stderr())

    @classmethod
    def stop_daemon(cls):
        cls.d.close()
        shutil.rmtree(cls.d.dir, ignore_errors=True)

    @classmethod
    def tearDownClass(cls):
        try:
            if cls.browser:
                cls.browser.quit()
        finally:
            if cls.d:
                cls.stop_daemon()
            cls.sim.stop()
            shutil.rmtree(cls.tmp, ignore_errors=True)

    # ---- helpers ----

    def wait(self, predicate, timeout=10.0, what="condition"):
        try:
            return WebDriverWait(self.browser, timeout, poll_frequency=0.05).until(lambda _: predicate())
        except TimeoutException:
            os.makedirs(SHOTS, exist_ok=True)
            shot = os.path.join(SHOTS, "failed-%s.png" % self.id().rsplit(".", 1)[-1])
            self.browser.save_screenshot(shot)
            said = self.browser.execute_script(
                "return [...document.querySelectorAll('.route-status, .notice, .status')]"
                ".filter((e) => e.getClientRects().length && e.textContent).map((e) => e.id + ': ' + e.textContent)")
            self.fail("timed out waiting for %s; the page says %r (%s)" % (what, said, shot))

    def button(self, output, input):
        return self.browser.find_element(
            By.CSS_SELECTOR, 'button.route[data-matrix="hall"][data-output="%d"][data-input="%d"]' % (output, input))

    def pressed(self, output):
        """The inputs shown pressed for an output (exactly one when the page is right)."""
        return [int(b.get_attribute("data-input")) for b in self.browser.find_elements(
            By.CSS_SELECTOR, 'button.route[data-output="%d"][aria-pressed="true"]' % output)]

    def text(self, element_id):
        return self.browser.find_element(By.ID, element_id).text

    def open_page(self):
        """The page with its grid; signs in first when this browser has no token yet."""
        self.browser.get("http://%s:8480/" % HOST)
        dialog = self.browser.find_element(By.ID, "token-dialog")
        self.wait(lambda: dialog.is_displayed() or self.browser.find_elements(By.CSS_SELECTOR, "button.route"),
                  what="the grid or the token prompt")
        if dialog.is_displayed():
            self.browser.find_element(By.ID, "token-input").send_keys(TOKEN + "\n")
        self.wait(lambda: self.browser.find_elements(By.CSS_SELECTOR, "button.route"), what="the grid")

    def whole_shots(self, label):
        """The whole page at phone and desktop width, for people to look at."""
        os.makedirs(SHOTS, exist_ok=True)
        for width, height, name in ((390, 844, "phone"), (1280, 800, "desktop")):
            self.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 800})
            time.sleep(0.3)
            whole = self.browser.execute_cdp_cmd("Page.captureScreenshot", {"captureBeyondViewport": True})
            with open(os.path.join(SHOTS, "web-%s-%s-%dx%d-whole.png" % (label, name, width, height)), "wb") as f:
                f.write(base64.b64decode(whole["data"]))
        self.browser.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

    def matrix_routing(self):
        return [o["input"] for o in self.d.request("GET", "/api/v1/matrices/hall")[1]["outputs"]]

    # ---- tests, in the order an operator meets them ----

    def test_1_token_prompt_says_a_wrong_token_and_keeps_the_right_one(self):
        self.browser.get("http://%s:8480/" % HOST)
        dialog = self.browser.find_element(By.ID, "token-dialog")
        self.wait(dialog.is_displayed, what="the token prompt")
        self.assertIn("needs an access token", self.text("token-message"))
        field = self.browser.find_element(By.ID, "token-input")
        for given, expected in (("guess", "Wrong token"), (TOKEN, None)):
            field.clear()
            field.send_keys(given + "\n")
            if expected:
                self.wait(lambda: expected in self.text("token-message"), what=expected)
                self.assertTrue(dialog.is_displayed())
        self.wait(lambda: not dialog.is_displayed(), what="the prompt to close")
        self.wait(lambda: self.pressed(1) == [self.matrix_routing()[0]], what="the grid")
        # Kept in the browser: a reload asks no more.
        self.open_page()
        time.sleep(0.3)
        self.assertFalse(self.browser.find_element(By.ID, "token-dialog").is_displayed())
        self.assertEqual(self.browser.execute_script("return localStorage.getItem('matrixd.token')"), TOKEN)

    def test_2_tap_or_key_sends_the_exact_route_frame_and_marks_the_button(self):
        self.open_page()
        if self.matrix_routing()[1] == 3:
            self.d.request("PUT", "/api/v1/matrices/hall/outputs/B", {"input": 1})
            self.wait(lambda: self.pressed(2) == [1], what="B on 1")
        # A tap, then the keyboard alone (the button has the focus, Space presses it).
        for how, input, frame, press in (
                ("tap", 3, ROUTE_3_TO_B, lambda b: b.click()),
                ("keyboard", 4, "A55B02030400020000000000F5", lambda b: b.send_keys(Keys.SPACE))):
            with self.subTest(how):
                self.sim.frames()
                press(self.button(2, input))
                self.wait(lambda: self.pressed(2) == [input], what="B on %d" % input)
                self.assertEqual(route_frames(self.sim.frames()), [frame])
                self.assertEqual([b.get_attribute("aria-pressed") for b in self.browser.find_elements(
                    By.CSS_SELECTOR, 'button.route[data-output="2"]')], ["true" if i == input else "false"
                                                                         for i in range(1, 5)])

    def test_3_changes_elsewhere_appear_without_reload(self):
        self.open_page()
        self.browser.execute_script("window.notReloaded = true")
        cases = (
            ("panel", lambda: self.sim.command("route 1 4"), 1, 4),
            ("api", lambda: self.d.request("PUT", "/api/v1/matrices/hall/outputs/C", {"input": 2}), 3, 2),
            ("cable", lambda: self.sim.command("cable out 4 off"), None, None),
        )
        for name, act, output, input in cases:
            with self.subTest(name):
                act()
                if output:
                    self.wait(lambda: self.pressed(output) == [input], timeout=8, what=name)
                else:
                    self.wait(lambda: "no cable" in self.text("cable-outputs").splitlines()[-1], timeout=8,
                              what=name)
        self.assertTrue(self.browser.execute_script("return window.notReloaded === true"))

    def test_4_scene_save_recall_and_delete_with_confirmation(self):
        self.open_page()
        self.d.request("PUT", "/api/v1/matrices/hall/routing", {"A": 2, "B": 2, "C": 4, "D": 1})
        self.wait(lambda: [self.pressed(o) for o in range(1, 5)] == [[2], [2], [4], [1]], what="the routing")
        field = self.browser.find_element(By.ID, "scene-name")
        field.send_keys("A/B\n")  # a slash cannot be in a path segment: refused before it is sent
        self.wait(lambda: "cannot contain" in self.text("scene-status"), what="the refusal")
        field.clear()
        field.send_keys(SCENE + "\n")
        recall = 'button.scene-recall[data-scene="%s"]' % SCENE
        self.wait(lambda: self.browser.find_elements(By.CSS_SELECTOR, recall), what="the scene")
        self.d.request("PUT", "/api/v1/matrices/hall/routing", {"A": 1, "B": 1, "C": 1, "D": 1})
        self.wait(lambda: [self.pressed(o) for o in range(1, 5)] == [[1]] * 4, what="all on 1")
        self.sim.frames()
        self.browser.find_element(By.CSS_SELECTOR, recall).click()
        self.wait(lambda: [self.pressed(o) for o in range(1, 5)] == [[2], [2], [4], [1]], what="the recall")
        self.assertEqual(route_frames(self.sim.frames()),
                         ["A55B02030200010000000000F8", "A55B02030200020000000000F7",
                          "A55B02030400030000000000F4", "A55B02030100040000000000F6"])
        # Delete asks first; Cancel keeps the scene, OK removes it.
        for answer, kept in (("confirm-cancel", True), ("confirm-ok", False)):
            self.browser.find_element(By.CSS_SELECTOR, 'button.scene-delete[data-scene="%s"]' % SCENE).click()
            self.wait(self.browser.find_element(By.ID, "confirm-dialog").is_displayed, what="the confirmation")
            self.browser.find_element(By.ID, answer).click()
            self.wait(lambda: bool(self.browser.find_elements(By.CSS_SELECTOR, recall)) == kept, what=answer)
            scenes = [s["name"] for s in self.d.request("GET", "/api/v1/matrices/hall/scenes")[1]]
            self.assertEqual(SCENE in scenes, kept)

    def test_5_screenshots_at_phone_and_desktop_sizes(self):
        os.makedirs(SHOTS, exist_ok=True)
        self.d.request("PUT", "/api/v1/matrices/hall/scenes/Lecture", {"routing": {"A": 2, "B": 2, "C": 4, "D": 1}})
        self.open_page()
        self.wait(lambda: self.browser.find_elements(By.CSS_SELECTOR, "button.scene-recall"), what="a scene")
        # Readable in a bright room and usable without sight: every text at
        # 4.5:1 or better against what is behind it, every control named.
        faults = self.browser.execute_script(CONTRAST_AND_NAMES)
        self.assertEqual(faults, [])
        for width, height, name in ((390, 844, "phone"), (360, 640, "small-phone"), (1280, 800, "desktop")):
            self.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 800})
            time.sleep(0.3)
            # Nothing sideways to scroll, and every control big enough for a finger on a phone.
            layout = self.browser.execute_script("""
                const small = [];
                for (const e of document.querySelectorAll('button, select, input:not([type=file]), label.button')) {
                  const r = e.getBoundingClientRect();
                  if (r.width && (r.height < 44 || r.width < 44)) small.push(e.id || e.textContent.trim());
                }
                return [document.documentElement.scrollWidth, small];""")
            self.assertLessEqual(layout[0], width, name)
            self.assertEqual(layout[1], [], name)
            self.browser.save_screenshot(os.path.join(SHOTS, "web-%s-%dx%d.png" % (name, width, height)))
            whole = self.browser.execute_cdp_cmd("Page.captureScreenshot", {"captureBeyondViewport": True})
            with open(os.path.join(SHOTS, "web-%s-%dx%d-whole.png" % (name, width, height)), "wb") as f:
                f.write(base64.b64decode(whole["data"]))
        self.browser.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

    def test_6_a_failing_route_shows_the_error_and_the_real_state(self):
        self.open_page()
        # The matrix stays silent; once the route frame has reached it, either
        # nothing more comes or it says it is in standby (which silence lets through).
        for name, in_flight, text in (("silent", None, "Time out!"),
                                      ("standby", "standby", "Matrix is in standby mode!")):
            with self.subTest(name):
                before = self.matrix_routing()[3]
                wanted = before % 4 + 1
                frame = "A55B0203%02X0004" % wanted
                self.sim.frames()
                self.sim.command("silent on")
                try:
                    self.button(4, wanted).click()
                    self.wait(lambda: self.button(4, wanted).get_attribute("aria-busy") == "true",
                              what="the route in flight")
                    self.assertTrue(wait_until(lambda: any(f.startswith(frame) for f in self.sim.frames()), 15),
                                    "the route frame reached the matrix")
                    if in_flight:
                        self.sim.command(in_flight)
                    self.wait(lambda: text in self.text("out-4-status"), timeout=15, what=text)
                    self.wait(lambda: self.pressed(4) == [before], what="the real state")
                    self.assertIsNone(self.button(4, wanted).get_attribute("aria-busy"))
                    os.makedirs(SHOTS, exist_ok=True)
                    self.browser.save_screenshot(os.path.join(SHOTS, "web-route-%s.png" % name))
                finally:
                    self.sim.command("silent off")
                up = lambda: self.d.request("GET", "/api/v1/matrices")[1][0]["link"] == "up"
                self.assertTrue(wait_until(up, 10), "link back up")

    def test_7_says_when_the_link_or_the_service_is_down_and_recovers_by_itself(self):
        self.open_page()
        cls = type(self)
        cases = (
            ("link", "link-down", lambda: cls.sim.stop(), lambda: setattr(cls, "sim", Sim(tcp=SIM))),
            ("service", "service-down", cls.stop_daemon, cls.start_daemon),
        )
        for name, notice_id, stop, start in cases:
            with self.subTest(name):
                notice = self.browser.find_element(By.ID, notice_id)
                self.assertFalse(notice.is_displayed())
                stop()
                self.wait(notice.is_displayed, timeout=8, what="the %s-down notice" % name)
                self.assertIn("down" if name == "link" else "not reachable", notice.text)
                if name == "link":  # a tap is refused at once, with the reason under the output
                    self.button(1, 3).click()
                    self.wait(lambda: "down" in self.text("out-1-status"), what="the refusal")
                start()
                self.wait(lambda: not notice.is_displayed(), timeout=15, what="the %s back" % name)
        self.sim.command("route 2 4")
        self.wait(lambda: self.pressed(2) == [4], timeout=8, what="live updates again")

    def test_8_picker_switches_matrix(self):
        self.open_page()
        picker = self.browser.find_element(By.ID, "matrix-select")
        self.assertTrue(picker.is_displayed())
        self.assertEqual([o.text for o in picker.find_elements(By.TAG_NAME, "option")],
                         ["Main hall", "Booth (link down)"])
        Select(picker).select_by_value("booth")
        self.wait(lambda: self.text("title") == "Booth", what="the booth")
        self.assertTrue(self.browser.find_element(By.ID, "link-down").is_displayed())
        self.assertEqual({b.get_attribute("data-matrix") for b in
                          self.browser.find_elements(By.CSS_SELECTOR, "button.route")}, {"booth"})
        self.assertTrue(self.browser.current_url.endswith("#booth"))

    def test_9_firmware_notice_says_how_far_it_got_and_how_it_ended(self):
        self.open_page()
        image = bytes([0xA5, 0x5A] + [(i * 31 + 7) & 0xFF for i in range(1000)])
        key = (len(image) & 0xFF) ^ 0x3C
        container = bytes(b ^ key for b in image)
        status = self.d.request("POST", "/api/v1/matrices/hall/firmware", raw=container,
                                headers={"Content-Type": "application/octet-stream"})[0]
        self.assertEqual(status, 202)
        self.wait(lambda: self.text("firmware").startswith("Firmware update finished"), timeout=20,
                  what="the end of the upgrade")
        self.assertRegex(self.text("firmware"), r"^Firmware update finished \((\d+) of \1 blocks sent\)\.$")
        self.assertNotIn("undefined", self.text("firmware"))

    def test_9b_a_viewer_token_gets_a_read_only_page_and_a_refusal_says_so(self):
        self.open_page()
        self.browser.execute_script("localStorage.setItem('matrixd.token', arguments[0])", VIEWER)
        try:
            self.browser.refresh()
            self.wait(lambda: self.browser.find_element(By.ID, "read-only").is_displayed(), what="read-only")
            controls = self.browser.find_elements(
                By.CSS_SELECTOR, "button.route, .scene-recall, .scene-delete, #scene-form button, #beep, "
                                 "#factory-reset, #edid-list select, #edid-list button, #preview, #schedule-form button")
            self.assertGreater(len(controls), 16)
            self.assertEqual([c.get_attribute("id") or c.text for c in controls if c.is_enabled()], [])
            # What reaches the service anyway is refused there, and the page says so in its words.
            wanted = self.matrix_routing()[1] % 4 + 1
            self.sim.frames()
            self.browser.execute_script("arguments[0].disabled = false; arguments[0].click()", self.button(2, wanted))
            self.wait(lambda: self.text("out-2-status") == "Not allowed for this token", what="the refusal")
            self.assertEqual(route_frames(self.sim.frames()), [])
        finally:
            self.browser.execute_script("localStorage.setItem('matrixd.token', arguments[0])", TOKEN)

    def test_9c_preview_stages_for_every_browser_take_switches_and_schedules_are_kept(self):
        self.d.request("PUT", "/api/v1/matrices/hall/routing", {"A": 1, "B": 2, "C": 3, "D": 4})
        self.d.request("PUT", "/api/v1/matrices/hall/scenes/Signage", {"routing": {"B": 3, "D": 1}})
        self.open_page()
        first = self.browser
        second = start_browser(os.path.join(self.tmp, "profile-2"))
        try:
            self.browser = second
            second.set_window_size(1280, 900)
            self.open_page()
            self.browser = first
            staged = lambda browser: sorted((int(b.get_attribute("data-output")), int(b.get_attribute("data-input")))
                                            for b in browser.find_elements(By.CSS_SELECTOR, "button.route.staged"))
            self.sim.frames()
            first.find_element(By.ID, "preview").click()
            self.button(2, 3).click()
            self.button(4, 1).click()
            for browser in (first, second):
                self.wait(lambda: staged(browser) == [(2, 3), (4, 1)], what="the staged routes in both browsers")
            self.assertEqual(route_frames(self.sim.frames()), [], "staging switched something")
            self.assertEqual([self.pressed(o) for o in range(1, 5)], [[1], [2], [3], [4]])
            self.whole_shots("staged")

            # The other browser takes: both routes go out in output order, and the scene they make is live.
            second.find_element(By.ID, "take").click()
            self.wait(lambda: [self.pressed(o) for o in range(1, 5)] == [[1], [3], [3], [1]], what="the take")
            self.assertEqual(route_frames(self.sim.frames()),
                             ["A55B02030300020000000000F6", "A55B02030100040000000000F6"])
            live = 'button.scene-recall.live[data-scene="Signage"]'
            for browser in (first, second):
                self.wait(lambda: not staged(browser) and browser.find_elements(By.CSS_SELECTOR, live),
                          what="nothing staged and the live scene marked")

            # A schedule added in one browser shows in the other; its scene cannot go while it is named.
            first.find_element(By.ID, "schedule-name").send_keys("Lobby morning")
            Select(first.find_element(By.ID, "schedule-scene")).select_by_value("Signage")
            first.find_element(By.CSS_SELECTOR, "#schedule-form button[type=submit]").click()
            row = 'li[data-schedule="Lobby morning"]'
            for browser in (first, second):
                self.wait(lambda: browser.find_elements(By.CSS_SELECTOR, row), what="the schedule in both")
            self.assertIn("\u201cSignage\u201d at 07:30, Mon\u2013Fri", first.find_element(By.CSS_SELECTOR, row).text)
            self.whole_shots("live-scene-and-schedule")
            kept = self.d.request("GET", "/api/v1/matrices/hall/schedules/Lobby morning".replace(" ", "%20"))[1]
            self.assertEqual((kept["scene"], kept["at"], kept["days"]),
                             ("Signage", "07:30", ["mon", "tue", "wed", "thu", "fri"]))
            first.find_element(By.CSS_SELECTOR, 'button.scene-delete[data-scene="Signage"]').click()
            first.find_element(By.ID, "confirm-ok").click()
            self.wait(lambda: "schedule 'Lobby morning'" in self.text("scene-status"), what="the refusal")
            first.find_element(By.CSS_SELECTOR, 'button.schedule-delete[data-schedule="Lobby morning"]').click()
            first.find_element(By.ID, "confirm-ok").click()
            for browser in (first, second):
                self.wait(lambda: not browser.find_elements(By.CSS_SELECTOR, row), what="the schedule gone")
        finally:
            self.browser = first
            second.quit()
            if first.find_element(By.ID, "preview").get_attribute("aria-checked") == "true":
                first.find_element(By.ID, "preview").click()
            self.d.request("DELETE", "/api/v1/matrices/hall/scenes/Signage")


if __name__ == "__main__":
    missing = [p for p in (CHROMIUM, CHROMEDRIVER) if not os.access(p, os.X_OK)]
    if webdriver is None:
        missing.append("python3-selenium")
    if missing:
        print("SKIP: browser test needs " + ", ".join(missing))
        sys.exit(SKIP)
    unittest.main(verbosity=2)
