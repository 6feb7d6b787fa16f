#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""What someone trying matrixd from the build tree meets first: the page with
no web_root set, the log saying where it comes from, a note instead of a bare
error when there is no page, and --check counting right. No matrix answers
here (the link stays down); everything listens on 127.0.25.x."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import MATRIXD, Matrixd, wait_until  # noqa: E402

HOST = "127.0.25.1"
NOBODY = "127.0.25.2"  # no simulator: the link stays down, which changes nothing here
SOURCE_WEB = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "web"))


def matrix(id_):
    return dict(id=id_, tcp=NOBODY, poll_seconds=0)


class Newcomer(unittest.TestCase):
    def daemon(self, **options):
        state = tempfile.mkdtemp()
        d = Matrixd(HOST, [matrix("hall")], state, **options)
        self.addCleanup(d.close)
        return d

    def test_without_web_root_the_source_trees_page_is_served_and_logged(self):
        d = self.daemon(no_web_root=True)
        status, body, response = d.request("GET", "/")
        self.assertEqual((status, response.getheader("Content-Type")), (200, "text/html; charset=utf-8"))
        with open(os.path.join(SOURCE_WEB, "index.html"), "rb") as page:
            self.assertEqual(body, page.read())
        self.assertIn("matrixd: web page from " + os.path.realpath(SOURCE_WEB), d.stderr())

    def test_no_page_gets_a_note_naming_web_root(self):
        empty = tempfile.mkdtemp()
        d = self.daemon(web_root=empty)
        status, body, response = d.request("GET", "/")
        self.assertEqual((status, response.getheader("Content-Type")), (404, "text/html; charset=utf-8"))
        self.assertIn(b"web_root", body)
        self.assertIn(empty.encode(), body)
        self.assertEqual(d.request("GET", "/app.js")[:2], (404, {"error": "not found"}))
        self.assertIn("matrixd: no web page in " + empty, d.stderr())

    def test_check_counts_matrices_in_words(self):
        for ids, said in [(["hall"], "1 matrix"), (["hall", "booth"], "2 matrices")]:
            with tempfile.TemporaryDirectory() as tmp:
                config = os.path.join(tmp, "m.toml")
                with open(config, "w") as f:
                    f.write('[state]\ndir = "%s"\n' % tmp)
                    for id_ in ids:
                        f.write('[[matrix]]\nid = "%s"\ntcp = "%s"\n' % (id_, NOBODY))
                out = subprocess.run([MATRIXD, "--config", config, "--check"], capture_output=True, text=True,
                                     timeout=10)
                self.assertEqual((out.returncode, out.stdout), (0, "%s: ok, %s\n" % (config, said)))


if __name__ == "__main__":
    unittest.main(verbosity=2)
