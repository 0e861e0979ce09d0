#!/usr/bin/env python3
"""Checks of the benchmark's own judgement: that the generated site gives every tool the same job,
and that the table's request counts and byte-for-byte verdicts are right. Run with
python3 -m unittest bench/test_bench.py (not part of the product's test suite)."""

import os
import shutil
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import gensite  # noqa: E402
import run  # noqa: E402


def write(root, path, data):
    full = os.path.join(root, *path.split("/"))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data.encode("cp932") if isinstance(data, str) else data)


class SiteComparability(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.root)

    def manifest(self, pages, images):
        return {"start": "g/index.html", "pages": pages, "images": images}

    def test_a_site_where_both_crawls_agree_passes(self):
        write(self.root, "g/index.html", '<img src="a.jpg"><a href="sub/p.html">p</a><a href="../top.html">up</a>')
        write(self.root, "g/sub/p.html", '<a href="full.jpg">big</a><IMG SRC="/g/sub/full.jpg"><a href="../index.html">')
        write(self.root, "top.html", '<img src="g/never.jpg">')
        gensite.check_site(self.root, self.manifest(["g/index.html", "g/sub/p.html"], ["g/a.jpg", "g/sub/full.jpg"]))

    def test_sites_that_give_the_tools_different_jobs_are_refused(self):
        cases = {
            "a linked picture that no page embeds": ('<img src="a.jpg"><a href="only-linked.jpg">x</a>', ["g/a.jpg"]),
            "a sibling page that only the link crawl reaches": ('<img src="a.jpg"><a href="s/p.html">', ["g/a.jpg"]),
            "an embedded picture above the start folder": ('<img src="a.jpg"><img src="../up.jpg">', ["g/a.jpg"]),
        }
        write(self.root, "g/s/p.html", '<a href="../t/q.html">')
        write(self.root, "g/t/q.html", '<img src="q.jpg">')
        for name, (html, images) in cases.items():
            with self.subTest(name):
                pages = ["g/index.html"] + (["g/s/p.html"] if "s/p.html" in html else [])
                write(self.root, "g/index.html", html)
                with self.assertRaises(SystemExit):
                    gensite.check_site(self.root, self.manifest(pages, images))

    def test_the_generated_model_names_every_image_uniquely_and_links_stay_relative(self):
        site = gensite.build_model("small", 1)
        result = gensite.manifest(site, 1)
        self.assertEqual(len(result["pages"]), 51)
        self.assertGreater(len(result["images"]), 450)
        self.assertGreater(result["list_entries"], len(result["images"]))  # banner and covers repeat
        cases = [
            ("g/a/b/page.html", "g/a/b/x.jpg", "x.jpg"),
            ("g/a/b/notes/index.html", "g/a/b/extra/x.jpeg", "../extra/x.jpeg"),
            ("g/a/index.html", "g/a/b/index.html", "b/index.html"),
            ("g/a/b/index.html", "index.html", "../../../index.html"),
        ]
        for page, target, expected in cases:
            with self.subTest(f"{page} to {target}"):
                self.assertEqual(gensite.relative(page, target), expected)
                self.assertEqual(gensite.resolve(page, expected), target)

    def test_pictures_are_jpeg_from_first_to_last_byte(self):
        import random
        data = gensite.jpeg_bytes(50_000, random.Random(3))
        self.assertEqual(len(data), 50_000)
        self.assertEqual(data[:4], b"\xff\xd8\xff\xe0")
        self.assertEqual(data[6:11], b"JFIF\x00")
        self.assertEqual(data[-2:], b"\xff\xd9")


class TableVerdicts(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.root)

    def test_files_are_judged_byte_for_byte(self):
        site = os.path.join(self.root, "site")
        out = os.path.join(self.root, "out")
        for name in ("same", "short", "flipped", "missing"):
            write(site, f"g/d/{name}.jpg", b"\xff\xd8" + name.encode() * 1000)
        write(out, "host/g/d/same.jpg", b"\xff\xd8" + b"same" * 1000)
        write(out, "host/g/d/short.jpg", b"\xff\xd8" + b"short" * 999)
        write(out, "host/g/d/flipped.jpg", b"\xff\xd8" + b"flipped" * 999 + b"flippeX")
        write(out, "host/g/d/stranger.jpg", b"\xff\xd8")
        write(out, "host/g/index.html", "<html>")
        job = run.Job({"images": [f"g/d/{n}.jpg" for n in ("same", "short", "flipped", "missing")]},
                      site, "", "", out, "")
        result = run.RunResult("x", True, 0)
        run.verify_files(job, result)
        self.assertEqual((result.jpg_files, result.html_files), (4, 1))
        self.assertEqual((result.missing, result.extra, result.differ), (1, 1, 2))

    def test_requests_are_counted_by_kind_and_repeats_show(self):
        lines = [
            '7 1 200 1234 "/g/index.html"',
            '7 2 404 153 "/robots.txt"',
            '7 3 200 50000 "/g/a.jpg"',
            '8 1 200 1234 "/g/index.html"',
            '8 2 200 40000 "/g/b.JPEG"',
            '8 3 200 900 "/g/p.htm?x=1"',
        ]
        result = run.RunResult("x", True, 0)
        run.classify([run.parse_log_line(line) for line in lines], result)
        self.assertEqual((result.pages, result.unique_pages), (3, 2))
        self.assertEqual((result.images, result.unique_images), (2, 2))
        self.assertEqual((result.other, result.not_ok_status, result.connections), (1, 1, 2))
        self.assertEqual(result.bytes, 1234 + 153 + 50000 + 1234 + 40000 + 900)

    def test_medians_and_ratios_come_from_completed_runs_only(self):
        manifest = {"size": "small", "pages": ["p"], "images": ["i.jpg"], "image_bytes": 1,
                    "list_entries": 1}
        tools = run.tools_for("/nonexistent/pixhound_run")[:2]
        results = [run.RunResult("pixhound", True, w, driver={"run_s": w, "rows": {}}) for w in (3.0, 1.0, 2.0)]
        results.append(run.RunResult("pixhound", False, 0.1, note="exit 1: crashed"))
        results += [run.RunResult("wget", True, 4.0), run.RunResult("wget", True, 8.0)]
        table = run.summarise(manifest, tools, results, 3)
        self.assertIn("| Pixhound | 2.00 | 1.00-3.00 |", table)
        self.assertIn("| wget | 6.00 | 4.00-8.00 |", table)
        self.assertIn("Pixhound/wget = 0.33", table)
        self.assertIn("failed run of pixhound: exit 1: crashed", table)

    def test_targets_are_judged_from_the_medians_and_every_completed_run(self):
        manifest = {"size": "large", "pages": ["a", "b"], "images": ["i.jpg"]}
        driver = {"idle_rss_kb": 100 * 1024, "peak_rss_kb": 150 * 1024}

        def px(pages=2, images=1, differ=0, peak_mb=150):
            return run.RunResult("pixhound", True, 1, pages=pages, images=images, differ=differ,
                                 driver=dict(driver, peak_rss_kb=peak_mb * 1024))
        # (name, size, rtt, medians, runs, expected line fragments)
        cases = [
            ("all met on the large site", "large", 0, {"pixhound": 8.0, "wget2": 10.0}, [px()],
             ["wget2 wall time 0.80, target ≤ 0.9: MET", "idle window 50.0 MB, target ≤ 64 MB: MET",
              "page requests 2, target = pages (2): MET", "image requests 1, target = images (1): MET",
              "byte-equal to the site's: MET"]),
            ("slower than wget2, pages twice, a file differs", "large", 0,
             {"pixhound": 9.5, "wget2": 10.0}, [px(pages=4, differ=1, peak_mb=200)],
             ["0.95, target ≤ 0.9: NOT MET", "100.0 MB, target ≤ 64 MB: NOT MET",
              "page requests 4, target = pages (2): NOT MET", "site's: NOT MET"]),
            ("small site judged only with latency", "small", 50, {"pixhound": 5.0, "wget2": 5.0},
             [px()], ["1.00, target ≤ 0.85: NOT MET"]),
            ("no wget2 run", "small", 50, {"pixhound": 5.0}, [px()], ["not measured"]),
            ("runs that disagree show both counts", "chain", 0, {"pixhound": 5.0},
             [px(images=1), px(images=3)], ["image requests 1/3, target = images (1): NOT MET",
                                             "target ≤ 100 MB: MET"]),
        ]
        for name, size, rtt, medians, runs, expected in cases:
            with self.subTest(name):
                text = "\n".join(run.target_lines(dict(manifest, size=size), medians, runs, rtt))
                for fragment in expected:
                    self.assertIn(fragment, text)
                if size in ("small", "chain") and not rtt:
                    self.assertNotIn("wget2 wall time", text)


class ServerAndRuns(unittest.TestCase):
    """Against the real server: what the table counts is what nginx served."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp()
        write(cls.root, "site/g/index.html", "<html>")
        write(cls.root, "site/g/a.jpg", b"\xff\xd8" + b"a" * 5000)
        cls.server = run.Nginx(os.path.join(cls.root, "site")).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.cleanup()
        shutil.rmtree(cls.root)

    def test_every_request_is_logged_with_its_kept_alive_connection(self):
        import http.client
        offset = self.server.log_offset()
        connection = http.client.HTTPConnection("127.0.0.1", self.server.port)
        for path in ("/g/index.html", "/g/a.jpg", "/g/missing.jpg"):
            connection.request("GET", path)
            connection.getresponse().read()
        connection.close()
        requests = self.server.requests_since(offset)
        self.assertEqual([(r.uri, r.status) for r in requests],
                         [("/g/index.html", 200), ("/g/a.jpg", 200), ("/g/missing.jpg", 404)])
        self.assertEqual(len({r.connection for r in requests}), 1)
        self.assertEqual(requests[1].bytes, 5002)

    def test_the_relay_holds_back_every_answer_on_a_kept_alive_connection(self):
        import http.client
        import time
        relay = run.Relay(self.server.port, 150).start()
        self.addCleanup(relay.stop)
        offset = self.server.log_offset()
        connection = http.client.HTTPConnection("127.0.0.1", relay.port)
        for path in ("/g/index.html", "/g/a.jpg"):
            started = time.monotonic()
            connection.request("GET", path)
            body = connection.getresponse().read()
            self.assertGreaterEqual(time.monotonic() - started, 0.15, path)
        connection.close()
        self.assertEqual(len(body), 5002)
        requests = self.server.requests_since(offset)
        self.assertEqual([r.uri for r in requests], ["/g/index.html", "/g/a.jpg"])
        self.assertEqual(len({r.connection for r in requests}), 1)

    def test_a_tool_that_fails_is_marked_failed_with_its_exit_status_and_memory(self):
        job = run.Job({"images": ["g/a.jpg"]}, os.path.join(self.root, "site"), "", "",
                      os.path.join(self.root, "out"), os.path.join(self.root, "scratch"))
        tool = run.Tool("x", "x", "", lambda job: ["sh", "-c", "echo broken >&2; exit 3"])
        result = run.run_once(tool, job, self.server)
        self.assertFalse(result.ok)
        self.assertIn("exit 3", result.note)
        self.assertIn("broken", result.note)
        self.assertEqual(result.missing, 1)
        if os.path.exists(run.TIME_BIN):
            self.assertGreater(result.rss_kb, 0)
        self.assertFalse(os.path.exists(job.out_dir), "a run's files are removed after it is judged")


if __name__ == "__main__":
    unittest.main()
