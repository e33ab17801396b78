"""The teach page end to end in a real browser (headless Chromium through WebDriver), as a
user meets it: draw two pieces with the mouse on the training image, name them, see what they
will match, try the description on a moved image, save; then `flexalign train` trains the
saved file and `flexalign run` finds the part where it moved. Skipped (exit status 77) only
where chromium, chromedriver or selenium cannot be found."""
import json
import os
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


def main():
    d, profile = browser()
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait

    tmp = tempfile.mkdtemp(prefix="teach-e2e-")
    teach = None
    try:
        ts.png(os.path.join(tmp, "train.png"), ts.scene())
        os.mkdir(os.path.join(tmp, "images"))
        ts.png(os.path.join(tmp, "images", "moved.png"), ts.scene(*SHIFT))
        teach = ts.Teach(["train.png", "part.json", "--images", "images"], tmp)
        wait = WebDriverWait(d, 30)
        d.get(teach.url)
        wait.until(lambda d: d.execute_script("return !!window.teach"))
        canvas = d.find_element(By.ID, "canvas")

        def screen(p):  # image pixel -> offset from the canvas centre, as WebDriver moves
            s = d.execute_script("return teach.view.toScreen(arguments[0])", p)
            return s[0] - canvas.rect["width"] / 2, s[1] - canvas.rect["height"] / 2

        def drag(a, b):
            (ax, ay), (bx, by) = screen(a), screen(b)
            ActionChains(d).move_to_element_with_offset(canvas, ax, ay).click_and_hold() \
                .move_by_offset((bx - ax) / 2, (by - ay) / 2).move_by_offset((bx - ax) / 2, (by - ay) / 2) \
                .release().perform()

        d.find_element(By.CSS_SELECTOR, "[data-tool=rect]").click()
        for name, (x, y, w, h) in [("plate", ts.PLATE), ("bracket", ts.BRACKET)]:
            drag((x - 4, y - 4), (x + w + 3, y + h + 3))
            field = wait.until(lambda d: d.find_element(By.ID, "piece-name"))
            field.send_keys(Keys.CONTROL, "a")
            field.send_keys(name, Keys.ENTER)
        names = d.execute_script("return teach.part.pieces.map(p => [p.name, p.region])")
        assert [n for n, _ in names] == ["plate", "bracket"], names
        # Where the mouse went, to the pixel (WebDriver moves by whole screen pixels).
        for (_, region), (x, y, w, h) in zip(names, [ts.PLATE, ts.BRACKET]):
            assert max(abs(a - b) for a, b in zip(region, [x - 4, y - 4, w + 8, h + 8])) <= 1, region
        # The selected piece shows what Geofind will match.
        wait.until(lambda d: "edge points" in d.find_element(By.ID, "trained").text)

        Select(d.find_element(By.ID, "try-image")).select_by_value("images/moved.png")
        d.find_element(By.ID, "try-one").click()
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#try-results li"))
        rows = d.find_elements(By.CSS_SELECTOR, "#try-table tr.found")
        assert [r.text.split()[0] for r in rows] == ["plate", "bracket"], d.find_element(By.ID, "try-table").text

        d.find_element(By.ID, "save").click()
        wait.until(lambda d: d.find_element(By.ID, "status").text.startswith("saved"))
        errors = [l for l in d.get_log("browser") if l["level"] == "SEVERE"]
        assert not errors, errors
    finally:
        d.quit()
        shutil.rmtree(profile, ignore_errors=True)
        if teach:
            teach.close()

    def flexalign(*args):
        r = subprocess.run([ts.FLEXALIGN] + list(args), cwd=tmp, capture_output=True, text=True)
        assert r.returncode == 0, (args, r.stdout, r.stderr)
        return r.stdout

    flexalign("train", "part.json", "-o", "part.fxp")
    found = json.loads(flexalign("run", "part.fxp", "images/moved.png", "--json"))
    shutil.rmtree(tmp)
    part = found["results"][0]
    # A new description puts the origin at the image's centre.
    expected = (ts.SIZE[0] // 2 + SHIFT[0], ts.SIZE[1] // 2 + SHIFT[1])
    assert part["found"] and [i["found"] for i in part["instances"]] == [True, True], part
    assert abs(part["x"] - expected[0]) < 0.5 and abs(part["y"] - expected[1]) < 0.5, (part["x"], part["y"])
    print("found the part at (%.2f, %.2f), expected (%d, %d)" % (part["x"], part["y"], *expected))


if __name__ == "__main__":
    main()
