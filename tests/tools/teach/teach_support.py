"""What the teach tests share: a scene of two pieces drawn as PNG files, the command started
as a user starts it (its address read from what it prints), and requests to it."""
import os
import re
import struct
import subprocess
import urllib.error
import urllib.request
import uuid
import zlib

FLEXALIGN = os.environ.get("FLEXALIGN", "flexalign")
SKIP = 77  # CTest's SKIP_RETURN_CODE for these tests


def png(path, pixels):
    """An 8-bit grey PNG of rows of values 0..255."""
    h, w = len(pixels), len(pixels[0])
    raw = b"".join(b"\0" + bytes(row) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


# The scene: a plate with a round hole (left) and an L-shaped bracket (right) on a dark
# ground, softened by a 3 x 3 mean so the edges are not aliased steps.
SIZE = (240, 160)
PLATE = (30, 40, 70, 60)  # x, y, w, h of the plate
BRACKET = (140, 50, 60, 70)  # of the bracket's bounding box


def scene(dx=0, dy=0):
    w, h = SIZE
    img = [[40] * w for _ in range(h)]
    for y in range(h):
        for x in range(w):
            u, v = x - dx, y - dy
            px, py, pw, ph = PLATE
            if px <= u < px + pw and py <= v < py + ph and (u - px - 22) ** 2 + (v - py - 30) ** 2 > 121:
                img[y][x] = 200
            bx, by, bw, bh = BRACKET
            if bx <= u < bx + bw and by <= v < by + bh and (u < bx + 22 or v >= by + bh - 20):
                img[y][x] = 170
    return [[sum(img[min(max(y + j, 0), h - 1)][min(max(x + i, 0), w - 1)]
                 for i in (-1, 0, 1) for j in (-1, 0, 1)) // 9 for x in range(w)] for y in range(h)]


class Teach:
    """`flexalign teach ARGS` in `cwd`; stopped (SIGTERM) on close."""

    def __init__(self, args, cwd):
        self.proc = subprocess.Popen([FLEXALIGN, "teach"] + args, cwd=cwd, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        m = re.search(r"open (http://127\.0\.0\.1:(\d+)/\?token=(\w+))", line)
        if not m:
            self.proc.kill()
            raise AssertionError("flexalign teach printed %r, stderr %r" % (line, self.proc.stderr.read()))
        self.url, self.port, self.token = m.group(1), int(m.group(2)), m.group(3)
        self.proc.stdout.readline()  # "listening on ..."

    def close(self):
        self.proc.terminate()
        assert self.proc.wait(timeout=20) == 0, "flexalign teach did not stop cleanly on SIGTERM"

    def request(self, path, data=None, headers=None, token=True):
        """(status, body bytes, headers) of a request to the server."""
        h = {"X-Teach-Token": self.token} if token else {}
        h.update(headers or {})
        req = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path), data=data, headers=h)
        try:
            with urllib.request.urlopen(req, timeout=60) as r:
                return r.status, r.read(), r.headers
        except urllib.error.HTTPError as e:
            return e.code, e.read(), e.headers

    def post(self, path, description, masks=None, fields=None):
        """A multipart request as the page sends it: the description text, mask files, fields
        (a dict, or (name, value) pairs for a name repeated)."""
        boundary = uuid.uuid4().hex
        parts = [("description", None, description.encode())]
        parts += [("mask", name, data) for name, data in (masks or {}).items()]
        fields = fields or {}
        parts += [(k, None, v.encode()) for k, v in (fields.items() if isinstance(fields, dict) else fields)]
        body = b""
        for name, filename, data in parts:
            disp = 'form-data; name="%s"' % name + ('; filename="%s"' % filename if filename else "")
            body += b"--%s\r\nContent-Disposition: %s\r\n\r\n%s\r\n" % (boundary.encode(), disp.encode(), data)
        body += b"--%s--\r\n" % boundary.encode()
        return self.request(path, body, {"Content-Type": "multipart/form-data; boundary=" + boundary})
