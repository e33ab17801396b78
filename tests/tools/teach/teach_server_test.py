"""The teach server as a browser (or another program on the machine) meets it: it listens on
127.0.0.1 only, answers only with the session's token and for its own host name, serves
nothing outside its folders (however the name is spelt), refuses an oversized upload with a
clear status and message, refuses a bad description with the command's own words, and saves
what `flexalign train` reads."""
import json
import math
import os
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import teach_support as ts  # noqa: E402

PLATE_REGION = list(ts.PLATE)


def description(**changes):
    d = {"trainImage": "train.png", "origin": [120, 80],
         "subModels": [{"name": "plate", "kind": "image", "engine": "geofind", "region": PLATE_REGION}],
         "instances": [{"subModel": "plate"}], "run": {"xyUncertainty": [40, 40]}}
    d.update(changes)
    return json.dumps(d)


class TeachServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        root = cls.tmp.name
        cls.dir = os.path.join(root, "part")
        os.mkdir(cls.dir)
        ts.png(os.path.join(cls.dir, "train.png"), ts.scene())
        # Outside the served folder: a file, and links to it from inside.
        cls.secret = os.path.join(root, "secret.png")
        ts.png(cls.secret, [[7] * 8] * 8)
        os.symlink(cls.secret, os.path.join(cls.dir, "link.png"))
        os.symlink(root, os.path.join(cls.dir, "up"))
        cls.teach = ts.Teach(["train.png", "part.json"], cls.dir)

    @classmethod
    def tearDownClass(cls):
        cls.teach.close()
        cls.tmp.cleanup()

    def test_files_outside_the_folder_are_refused(self):
        status, body, headers = self.teach.request("/api/image?name=train.png")
        self.assertEqual((status, headers["Content-Type"], body[:4]), (200, "image/png", b"\x89PNG"))
        for name in ["../secret.png", "..%2Fsecret.png", "%2e%2e%2fsecret.png", "..%2f..%2f..%2fetc%2fpasswd",
                     self.secret.replace("/", "%2F"), "link.png", "up/secret.png", "up%2Fsecret.png",
                     "./../part/../secret.png"]:
            status, body, _ = self.teach.request("/api/image?name=" + name)
            self.assertEqual(status, 403, name)
            self.assertIn("outside the folders this teach session serves", json.loads(body)["error"], name)
        self.assertEqual(self.teach.request("/api/image?name=missing.png")[0], 404)
        # A description naming a file outside is refused alike: the server reads nothing there.
        masked = [{"name": "plate", "kind": "masked", "region": PLATE_REGION, "mask": "../secret.png"}]
        status, body, _ = self.teach.post("/api/pieces", description(subModels=masked))
        self.assertEqual(status, 403)
        # Only the page's own files are served besides the API, whatever the path says.
        with socket.create_connection(("127.0.0.1", self.teach.port)) as s:
            s.sendall(b"GET /../../etc/passwd HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nConnection: close\r\n\r\n"
                      % self.teach.port)
            answer = b"".join(iter(lambda: s.recv(65536), b""))
        self.assertNotIn(b"root:", answer)
        self.assertRegex(answer.split(b"\r\n")[0], rb" (400|404) ")

    def test_oversized_upload_is_refused_with_a_reason(self):
        big = b"x" * (64 * 1024 * 1024 + 1)
        status, body, _ = self.teach.request("/api/try", big, {"Content-Type": "application/octet-stream"})
        self.assertEqual(status, 413)
        self.assertIn("is 67108865 bytes, more than the 67108864 bytes the teach server takes",
                      json.loads(body)["error"])

    def test_bad_description_gives_the_command_s_words(self):
        bad = [description(subModels=[{"name": "plate", "kind": "image", "region": [30, 40, 6, 60]}]),
               description(run={"scale": [1.1, 1.3]}),
               description(instances=[{"subModel": "plate", "colour": "red"}]),
               description(instances=[{"subModel": "nut"}])]
        path = os.path.join(self.dir, "part.json")
        for text in bad:
            status, body, _ = self.teach.post("/api/save", text)
            self.assertEqual(status, 422)
            self.assertFalse(os.path.exists(path), "a refused description was written")
            with open(path, "w") as f:
                f.write(text)
            cmd = subprocess.run([ts.FLEXALIGN, "train", "part.json", "-o", "p.fxp"], cwd=self.dir,
                                 capture_output=True, text=True)
            os.remove(path)
            self.assertEqual(cmd.returncode, 2)
            self.assertEqual(cmd.stderr, "flexalign: %s\n" % json.loads(body)["error"])

    def test_saves_what_train_reads_with_a_painted_mask(self):
        x, y, w, h = PLATE_REGION
        mask_png = os.path.join(self.tmp.name, "painted.png")
        ts.png(mask_png, [[0 if i < 10 else 255 for i in range(w)] for _ in range(h)])
        masked = [{"name": "plate", "kind": "masked", "region": PLATE_REGION, "mask": "plate-mask.png"}]
        with open(mask_png, "rb") as f:
            masks = {"plate-mask.png": f.read()}
        status, body, _ = self.teach.post("/api/pieces", description(subModels=masked), masks)
        self.assertEqual(status, 200, body)
        plate = json.loads(body)["pieces"][0]
        self.assertEqual(plate["kind"], "masked")
        # The points lie in the piece's coordinates, inside its region and not where it is masked.
        xs = plate["points"][0::2]
        self.assertGreater(plate["edges"]["fine"], 32)
        self.assertGreaterEqual(min(xs), -w / 2 + 10 - 1.5)
        self.assertLessEqual(max(xs), w / 2 + 0.5)
        # A mask may not be written over what the description reads, nor under a path.
        for name in ["train.png", "../plate-mask.png"]:
            sub = [dict(masked[0], mask=name)]
            self.assertEqual(self.teach.post("/api/save", description(subModels=sub), {name: masks["plate-mask.png"]})[0], 422)
        status, body, _ = self.teach.post("/api/save", description(subModels=masked), masks)
        self.assertEqual(status, 200, body)
        self.assertEqual(sorted(os.listdir(self.dir)), ["link.png", "part.json", "plate-mask.png", "train.png", "up"])
        cmd = subprocess.run([ts.FLEXALIGN, "train", "part.json", "-o", "p.fxp"], cwd=self.dir,
                             capture_output=True, text=True)
        self.assertEqual(cmd.returncode, 0, cmd.stderr)
        for f in ["part.json", "plate-mask.png", "p.fxp"]:
            os.remove(os.path.join(self.dir, f))

    def test_pieces_carry_the_training_warnings(self):
        coin = [[40 * math.cos(math.pi * i / 24), 40 * math.sin(math.pi * i / 24)] for i in range(48)]
        pieces = [{"name": "plate", "kind": "image", "engine": "geofind", "region": PLATE_REGION},
                  {"name": "coin", "kind": "wireframe", "engine": "geofind",
                   "shapes": [{"closed": True, "points": coin}]}]
        instances = [{"subModel": "plate"}, {"subModel": "coin", "pose": {"x": 190, "y": 110}}]
        status, body, _ = self.teach.post("/api/pieces", description(subModels=pieces, instances=instances))
        self.assertEqual(status, 200, body)
        coin = json.loads(body)["pieces"][1]
        self.assertEqual(coin["warnings"], ["it is round: its edges fix no angle (a part takes it from its other pieces; searched alone, search it at one angle)"])

    def test_listens_on_loopback_only_and_needs_its_token(self):
        port = self.teach.port
        with open("/proc/net/tcp") as f:
            listening = [l.split()[1] for l in f.readlines()[1:] if l.split()[3] == "0A"]
        self.assertIn("0100007F:%04X" % port, listening)
        self.assertNotIn("00000000:%04X" % port, listening)
        # 127.0.0.2 reaches this machine too, but not a socket bound to 127.0.0.1 alone.
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.2", port), timeout=5).close()
        self.assertEqual(self.teach.request("/api/session", token=False)[0], 403)
        self.assertEqual(self.teach.request("/api/session", headers={"Host": "attacker.example:%d" % port})[0], 403)
        status, body, _ = self.teach.request("/api/session")
        self.assertEqual((status, json.loads(body)["trainImage"]), (200, "train.png"))
        # The page's cookie opens the API, and only this session's: two sessions in one
        # browser share the host, and cookies do not tell ports apart.
        cookie = self.teach.request("/?token=" + self.teach.token, token=False)[2]["Set-Cookie"].split(";")[0]
        self.assertEqual(self.teach.request("/api/session", headers={"Cookie": cookie}, token=False)[0], 200)
        other = "flexalign-teach-1=" + cookie.split("=")[1]
        self.assertEqual(self.teach.request("/api/session", headers={"Cookie": other}, token=False)[0], 403)


if __name__ == "__main__":
    unittest.main(verbosity=2)
