"""The Inspect panel on the flexible sample (the demo's example description), flexed as the
benchmarks flex it: ten good images train the golden model through the server; a scratch on the
body and a blob on the connector are shown where they were drawn; the saved model is what
`flexalign inspect run` reads; the command's limits hold; in a browser the panel trains and
outlines a defect. Exit status 77 where the Python module that renders the sample is missing."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import teach_support as ts  # noqa: E402

try:
    import numpy as np
    from vcflexalign import samples, write_image
except ImportError as e:
    print("SKIPPED: the vcflexalign module or NumPy cannot be imported (%s)" % e)
    sys.exit(ts.SKIP)

GOOD = ["../good/good-%d.png" % s for s in range(10, 20)]
DEFECTS = "../try/defects.png"


def flexed(part, seed):  # pieces moved up to 4 px, turned up to 3 degrees; noise 5, blur 1
    return part.render(part.part_pose(angle=seed % 7 - 3, dx=seed % 5, dy=-3), seed=seed, blur=1)


def defective(part, seed):
    """A scratch 3 px wide across the body and a 10 x 10 blob 20 grey levels up on the
    connector (poses in each piece's frame), and their middles in the image."""
    image, truth = flexed(part, seed)
    for t in np.linspace(0, 1, 200):
        x, y = np.asarray(truth[0]) @ [-60 + 45 * t, 10 + 65 * t, 1]
        image[round(y) - 1:round(y) + 2, round(x) - 1:round(x) + 2] = 90
    x, y = np.round(np.asarray(truth[2]) @ [-12, -12, 1]).astype(int)
    image[y - 5:y + 5, x - 5:x + 5] = np.minimum(image[y - 5:y + 5, x - 5:x + 5].astype(int) + 20, 255)
    return image, {"body": np.asarray(truth[0]) @ [-37.5, 42.5, 1], "connector": (x - 0.5, y - 0.5)}


class TeachInspectTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        root = cls.tmp.name
        subprocess.run([ts.FLEXALIGN, "demo", "--write-example", "ex"], cwd=root, check=True,
                       capture_output=True)
        cls.ex = os.path.join(root, "ex")
        with open(os.path.join(cls.ex, "part.json")) as f:
            cls.description = f.read()
        for d in ("good", "try", "other"):
            os.mkdir(os.path.join(root, d))
        part = samples.FlexSample()
        for name, seed in zip(GOOD, range(10, 20)):
            write_image(os.path.join(cls.ex, name), flexed(part, seed)[0])
        image, cls.truth = defective(part, 200)
        write_image(os.path.join(cls.ex, DEFECTS), image)
        write_image(os.path.join(root, "try", "good.png"), flexed(part, 201)[0])
        ts.png(os.path.join(root, "other", "small.png"), [[90] * 64] * 48)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def session(self):
        folders = sum((["--images", "../" + d] for d in ("good", "try", "other")), [])
        s = ts.Teach(["train.png", "part.json"] + folders, self.ex)
        self.addCleanup(s.close)
        self.train = lambda names, doc=self.description: self.ask(
            s.post("/api/golden", doc, fields=[("good", n) for n in names]))
        self.inspect = lambda name: self.ask(s.post("/api/inspect", "", fields={"image": name}))
        self.save = lambda: self.ask(s.request("/api/golden/save", b""))  # the page sends no body
        return s

    def ask(self, answer):
        return answer[0], json.loads(answer[1])

    def test_trains_finds_the_drawn_defects_and_saves_what_the_command_reads(self):
        s = self.session()
        status, model = self.train(GOOD)
        self.assertEqual((status, model["used"], model["given"], model["left"]), (200, 10, 10, []), model)
        self.assertGreater(model["coverage"], 0.95)
        status, shown = self.inspect(DEFECTS)
        record = shown["inspection"]
        self.assertEqual((status, record["verdict"], shown["width"], shown["height"]), (200, "fail", 640, 480))
        self.assertEqual(sorted(d["piece"] for d in record["defects"]), ["body", "connector"], record)
        for d in record["defects"]:
            truth = self.truth[d["piece"]]
            self.assertLess(np.hypot(d["x"] - truth[0], d["y"] - truth[1]), 3, d)
            x, y, w, h = d["bbox"]
            self.assertTrue(x <= d["x"] < x + w and y <= d["y"] < y + h, d)
        with open(os.path.join(self.ex, DEFECTS), "rb") as f:  # the same image dropped on the page
            body = b'--%s\r\nContent-Disposition: form-data; name="upload"; filename="d.png"\r\n\r\n%s\r\n--%s--\r\n'
            status, dropped = self.ask(s.request("/api/inspect", body % (b"b0und", f.read(), b"b0und"),
                                                 {"Content-Type": "multipart/form-data; boundary=b0und"}))
        self.assertEqual((status, dropped["inspection"]["defects"]), (200, record["defects"]))
        self.assertTrue(dropped["picture"].startswith("data:image/png;base64,"))
        status, clean = self.inspect("../try/good.png")
        self.assertEqual((status, clean["inspection"]["verdict"], clean["inspection"]["defects"]),
                         (200, "pass", []))
        self.assertEqual(self.save(), (200, {"saved": "part.fxg"}))
        ran = subprocess.run([ts.FLEXALIGN, "inspect", "run", "part.fxg", DEFECTS, "--json"], cwd=self.ex,
                             capture_output=True, text=True)
        self.assertEqual((ran.returncode, json.loads(ran.stdout)), (1, record), ran.stderr)

    def test_refuses_what_the_command_refuses_and_writes_over_nothing(self):
        self.session()
        self.assertEqual(self.inspect(DEFECTS),
                         (422, {"error": "no golden model yet: pick good images and train one first"}))
        for names, want, text in [
                (GOOD[:4], 422, "a golden model needs at least 5 good images; 4 picked"),
                (GOOD[:5] + ["../other/small.png"], 422,
                 "../other/small.png: 64 x 48, ../good/good-10.png is 640 x 480; the good images must be one size"),
                (GOOD[:5] + [GOOD[0]], 422, GOOD[0] + ": picked twice"),
                (GOOD * 11, 422, "110 good images picked, more than the 100"),
                (GOOD[:5] + ["../../../etc/passwd"], 403, "outside the folders this teach session serves"),
                (GOOD[:5] + ["../good/none.png"], 404, "../good/none.png: no such file")]:
            status, body = self.train(names)
            self.assertEqual(status, want, body)
            self.assertIn(text, body["error"])
        self.assertEqual(self.train(GOOD, '{"trainImage": "train.png"}'),
                         (422, {"error": "part.json: at /subModels: missing"}))
        self.assertEqual(self.save()[0], 422)  # nothing kept from a refused training
        self.assertEqual(self.train(GOOD[:5])[0], 200)
        status, body = self.inspect("../other/small.png")
        self.assertIn("64 x 48; the golden model was trained on images of 640 x 480", body["error"])
        # A file of another kind where the model would go is left alone.
        target = os.path.join(self.ex, "part.fxg")
        with open(target, "w") as f:
            f.write("precious\n")
        status, body = self.save()
        self.assertIn("is not a golden model file", body["error"])
        with open(target) as f:
            self.assertEqual(f.read(), "precious\n")
        os.remove(target)

    def test_in_a_browser_the_panel_trains_and_outlines_a_defect(self):
        import teach_browser_test as tb
        try:
            from selenium.webdriver.support.ui import Select
        except ImportError:
            self.skipTest("selenium is not installed")
        if not all(os.path.exists(p) for p in (tb.CHROMIUM, tb.DRIVER)):
            self.skipTest("chromium or chromedriver is not installed")
        d, profile = tb.browser()
        try:
            page = tb.Page(d, self.session())
            for name in GOOD:
                d.find_element("css selector", '#golden-images input[value="%s"]' % name).click()
            page.find("golden-train").click()
            page.wait.until(lambda _: page.find("golden-state").text.startswith("10 of 10 images used"))
            Select(page.find("inspect-image")).select_by_value(DEFECTS)
            page.find("inspect-one").click()
            page.wait.until(lambda _: "FAIL, 2 defect(s)" in page.find("inspect-verdict").text)
            # The canvas turns red on the first defect's outline (the picture is grey).
            page.wait.until(lambda _: d.execute_script("""
                const v = teach.view, [x, y, w, h] = teach.inspectPanel.current.result.inspection.defects[0].bbox;
                const s = v.toScreen([x - 0.5 - v.px(3), y + h / 2]), k = window.devicePixelRatio || 1;
                const p = v.ctx.getImageData(Math.round(s[0] * k), Math.round(s[1] * k), 1, 1).data;
                return p[0] > 200 && p[1] < 120;"""))
            self.assertEqual([l for l in d.get_log("browser") if l["level"] == "SEVERE"], [])
        finally:
            d.quit()
            shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
