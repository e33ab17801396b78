"""The teach page end to end in a real browser (headless Chromium through WebDriver), as a
user meets it: draw two pieces with the mouse on the training image, name them, see what they
will match, try the description on a moved image, save; then `flexalign train` trains the
saved file and `flexalign run` finds the part where it moved. Skipped (exit status 77) only
where chromium, chromedriver or selenium cannot be found."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import teach_support as ts  # noqa: E402

CHROMIUM, DRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
SHIFT = (13, 9)  # how far the part moved in the run image


def skip(why):
    print("SKIPPED: %s (scripts/setup installs chromium, chromium-driver and python3-selenium)" % why)
    sys.exit(ts.SKIP)


def browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        skip("selenium is not installed for %s" % sys.executable)
    for path in (CHROMIUM, DRIVER):
        if not os.path.exists(path):
            skip(path + " is not installed")
    o = webdriver.ChromeOptions()
    o.binary_location = CHROMIUM
    profile = tempfile.mkdtemp(prefix="teach-chromium-")
    for a in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
              "--disable-component-update", "--disable-sync", "--no-first-run",
              "--user-data-dir=" + profile, "--window-size=1400,900"]:
        o.add_argument(a)
    o.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(DRIVER), options=o), profile


class Page:
    """The teach page of a running `flexalign teach`, driven with the mouse and keyboard."""

    def __init__(self, d, teach):
        from selenium.webdriver.support.ui import WebDriverWait
        self.d, self.wait = d, WebDriverWait(d, 30)
        d.get(teach.url)
        self.wait.until(lambda d: d.execute_script("return !!window.teach"))
        self.canvas = self.find("canvas")

    def find(self, id):
        return self.d.find_element("id", id)

    def screen(self, p):  # image pixel -> offset from the canvas centre, as WebDriver moves
        s = self.d.execute_script("return teach.view.toScreen(arguments[0])", p)
        return s[0] - self.canvas.rect["width"] / 2, s[1] - self.canvas.rect["height"] / 2

    def actions(self):
        from selenium.webdriver.common.action_chains import ActionChains
        return ActionChains(self.d)

    def drag(self, a, b):
        (ax, ay), (bx, by) = self.screen(a), self.screen(b)
        self.actions().move_to_element_with_offset(self.canvas, ax, ay).click_and_hold() \
            .move_by_offset((bx - ax) / 2, (by - ay) / 2).move_by_offset((bx - ax) / 2, (by - ay) / 2) \
            .release().perform()

    def click(self, p):
        x, y = self.screen(p)
        self.actions().move_to_element_with_offset(self.canvas, x, y).click().perform()

    def tool(self, name):
        self.d.find_element("css selector", "[data-tool=%s]" % name).click()

    def save(self):
        self.find("save").click()
        self.wait.until(lambda d: self.find("status").text.startswith("saved"))
        errors = [l for l in self.d.get_log("browser") if l["level"] == "SEVERE"]
        assert not errors, errors


def run(tmp, *args):
    r = subprocess.run([ts.FLEXALIGN] + list(args), cwd=tmp, capture_output=True, text=True)
    assert r.returncode in (0, 1), (args, r.stdout, r.stderr)
    return r.stdout


def draw_two_pieces(d, tmp):
    """A new description drawn on a scene of two pieces, tried and saved; the saved file trains
    and finds the part where it moved."""
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select
    ts.png(os.path.join(tmp, "train.png"), ts.scene())
    os.mkdir(os.path.join(tmp, "images"))
    ts.png(os.path.join(tmp, "images", "moved.png"), ts.scene(*SHIFT))
    # --images first: one folder per --images, the positionals left alone.
    teach = ts.Teach(["--images", "images", "train.png", "part.json"], tmp)
    try:
        page = Page(d, teach)
        page.tool("rect")
        for name, (x, y, w, h) in [("plate", ts.PLATE), ("bracket", ts.BRACKET)]:
            page.drag((x - 4, y - 4), (x + w + 3, y + h + 3))
            field = page.wait.until(lambda d: page.find("piece-name"))
            field.send_keys(Keys.CONTROL, "a")
            field.send_keys(name, Keys.ENTER)
        pieces = d.execute_script("return teach.part.pieces.map(p => [p.name, p.region])")
        assert [n for n, _ in pieces] == ["plate", "bracket"], pieces
        # Where the mouse went, to the pixel (WebDriver moves by whole screen pixels).
        for (_, region), (x, y, w, h) in zip(pieces, [ts.PLATE, ts.BRACKET]):
            assert max(abs(a - b) for a, b in zip(region, [x - 4, y - 4, w + 8, h + 8])) <= 1, region
        # The bracket keeps only its L: a polygon round it, closed on its first corner.
        bx, by, bw, bh = ts.BRACKET
        page.tool("polygon")
        corners = [(bx - 3, by - 3), (bx + 25, by - 3), (bx + 25, by + bh - 23), (bx + bw + 3, by + bh - 23),
                   (bx + bw + 3, by + bh + 3), (bx - 3, by + bh + 3), (bx - 3, by - 3)]
        for c in corners:
            page.click(c)
        left_out = page.wait.until(lambda d: re.search(r"(\d+) % of the region left out", page.find("mask-state").text))
        assert 30 <= int(left_out.group(1)) <= 42, left_out.group(0)
        # The selected piece shows what Geofind will match.
        page.wait.until(lambda d: "edge points" in page.find("trained").text)

        Select(page.find("try-image")).select_by_value("images/moved.png")
        page.find("try-one").click()
        page.wait.until(lambda d: d.find_elements("css selector", "#try-results li"))
        rows = d.find_elements("css selector", "#try-table tr.found")
        assert [r.text.split()[0] for r in rows] == ["plate", "bracket"], page.find("try-table").text
        page.save()
    finally:
        teach.close()
    with open(os.path.join(tmp, "part.json")) as f:
        saved = json.load(f)
    assert [s["kind"] for s in saved["subModels"]] == ["image", "masked"], saved
    assert os.path.exists(os.path.join(tmp, saved["subModels"][1]["mask"]))
    run(tmp, "train", "part.json", "-o", "part.fxp")
    part = json.loads(run(tmp, "run", "part.fxp", "images/moved.png", "--json"))["results"][0]
    # A new description puts the origin at the image's centre.
    expected = (ts.SIZE[0] // 2 + SHIFT[0], ts.SIZE[1] // 2 + SHIFT[1])
    assert part["found"] and [i["found"] for i in part["instances"]] == [True, True], part
    assert abs(part["x"] - expected[0]) < 0.5 and abs(part["y"] - expected[1]) < 0.5, (part["x"], part["y"])
    print("drawn, saved, trained: found the part at (%.2f, %.2f), expected (%d, %d)" % (part["x"], part["y"], *expected))


def reopen_unchanged(d, tmp):
    """The demo's example description (wireframes, a blank, a mask, one piece placed three
    times), opened and saved unchanged, finds what the original finds on every example image."""
    run(tmp, "demo", "--write-example", "ex")
    ex = os.path.join(tmp, "ex")
    shutil.copy(os.path.join(ex, "part.json"), os.path.join(ex, "original.json"))
    teach = ts.Teach(["train.png", "part.json"], ex)
    try:
        Page(d, teach).save()
    finally:
        teach.close()

    def results(description):
        run(ex, "train", description, "-o", description + ".fxp")
        lines = [json.loads(l) for l in run(ex, "run", description + ".fxp", "images", "--json").splitlines()]
        for l in lines:
            del l["time_ms"]
        return lines

    original, saved = results("original.json"), results("part.json")
    assert original == saved, "the reopened description finds something else"
    print("reopened and saved: the same results on %d images" % len(saved))


def main():
    d, profile = browser()
    tmp = tempfile.mkdtemp(prefix="teach-e2e-")
    try:
        draw_two_pieces(d, tmp)
        reopen_unchanged(d, tmp)
    finally:
        d.quit()
        shutil.rmtree(profile, ignore_errors=True)
    shutil.rmtree(tmp)


if __name__ == "__main__":
    main()
