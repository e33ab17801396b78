"""The teach page's Try as a user meets it: Try and Try all offer the images of the --images
folders only (not the training image's folder with its screenshots, nor the command's own
overlays), and a try shows the record `flexalign run --json` prints for the same image."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import teach_support as ts  # noqa: E402

DESCRIPTION = {"trainImage": "train.png", "origin": [120, 80],
               "subModels": [{"name": "plate", "kind": "image", "region": list(ts.PLATE)},
                             {"name": "bracket", "kind": "image", "region": list(ts.BRACKET)}],
               "instances": [{"subModel": "plate"}, {"subModel": "bracket"}],
               "run": {"xyUncertainty": [40, 40]}}


class TeachTryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.part = os.path.join(cls.tmp.name, "part")
        runs = os.path.join(cls.tmp.name, "runs")
        os.mkdir(cls.part)
        os.mkdir(runs)
        ts.png(os.path.join(cls.part, "train.png"), ts.scene())
        ts.png(os.path.join(cls.part, "screenshot.png"), [[90] * 64] * 48)
        ts.png(os.path.join(runs, "moved.png"), ts.scene(7, -4))
        ts.png(os.path.join(runs, "still.png"), ts.scene())
        ts.png(os.path.join(runs, "moved-overlay.png"), ts.scene(7, -4))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def images(self, args):
        teach = ts.Teach(args, self.part)
        try:
            status, body, _ = teach.request("/api/session")
            self.assertEqual(status, 200)
            return json.loads(body)["images"], teach
        except BaseException:
            teach.close()
            raise

    def test_try_offers_the_images_folders_and_shows_the_commands_record(self):
        images, teach = self.images(["train.png", "part.json", "--images", "../runs"])
        try:
            self.assertEqual(images, ["../runs/moved.png", "../runs/still.png"])
            status, body, _ = teach.post("/api/try", json.dumps(DESCRIPTION),
                                         fields={"image": "../runs/moved.png"})
            self.assertEqual(status, 200, body)
            shown = json.loads(body)["run"]
        finally:
            teach.close()
        with open(os.path.join(self.part, "try.json"), "w") as f:
            json.dump(DESCRIPTION, f)
        for args in (["train", "try.json", "-o", "try.fxp"],
                     ["run", "try.fxp", "../runs/moved.png", "--json"]):
            done = subprocess.run([ts.FLEXALIGN] + args, cwd=self.part, capture_output=True,
                                  text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
        ran = json.loads(done.stdout)
        self.assertTrue(ran["found"])
        for record in (shown, ran):
            del record["time_ms"]
        self.assertEqual(shown, ran)

    def test_without_images_folders_only_the_training_image_is_offered(self):
        images, teach = self.images(["train.png", "part.json"])
        teach.close()
        self.assertEqual(images, ["train.png"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
