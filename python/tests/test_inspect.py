"""GoldenModel on the flexible sample part: trained from good flexed images, a scratch reported
where it lies, the difference image, files and pickles, refused input, and batch.run_images
with inspect=."""
import os
import pickle
import re

import numpy as np
import pytest

import vcflexalign as vf
from vcflexalign import batch, samples

SAMPLE = samples.FlexSample()


def run_params():
    piece = vf.GeofindRunParams()
    piece.xy_uncertainty, piece.angle = (6, 6), (-4, 4)
    params = vf.RunParams(piece)
    params.run_strategy = vf.RunStrategy.LOCALLY_FIXTURED
    params.xy_uncertainty, params.angle, params.scale = (40, 40), (-15, 15), (0.9, 1.1)
    return params


def flexed(seed, scratch=False):
    image, truth = SAMPLE.render(SAMPLE.part_pose(angle=seed % 7 - 3, dx=seed % 5, dy=-3),
                                 seed=seed, blur=1.0)
    if scratch:  # a dark line 3 px wide across the body's leg, drawn in the body's frame
        for t in np.linspace(0, 1, 200):
            x, y = truth[0] @ [-60 + 45 * t, 10 + 65 * t, 1]
            image[round(y) - 1:round(y) + 2, round(x) - 1:round(x) + 2] = 90
    return image, truth


@pytest.fixture(scope="module")
def model():
    pattern = vf.Pattern()
    pattern.train(SAMPLE.arrangement, SAMPLE.train_params())
    good = [flexed(seed)[0] for seed in range(10, 20)]
    return vf.GoldenModel.train(pattern, good, start_pose=SAMPLE.part_pose(), params=run_params())


def test_good_parts_pass_and_a_scratch_is_found_on_the_body(model):
    assert model.image_count == 10 and model.used == [True] * 10
    assert model.region == (28, 28, 342, 251) and model.coverage > 0.99
    for seed in (30, 31, 32):
        r = model.inspect(flexed(seed)[0])
        assert (r.verdict, r.found, r.defects, r.reason) == ("pass", True, [], None)
    image, truth = flexed(33, scratch=True)
    r = model.inspect(image, difference=True)
    assert r.verdict == "fail" and len(r.defects) == 1
    d = r.defects[0]
    centre = truth[0] @ [-37.5, 42.5, 1]  # the scratch's middle
    assert np.hypot(d["x"] - centre[0], d["y"] - centre[1]) < 3
    assert d["piece"] == "body" and d["area"] > 100 and d["excess"] > 0
    x, y, w, h = d["bbox"]
    assert x <= centre[0] <= x + w and y <= centre[1] <= y + h
    assert r.difference.shape == (251, 342) and r.difference.dtype == np.float32
    assert r.difference.min() < -60  # the dark scratch against the body
    assert r.to_dict("a.png") == {"image": "a.png", "found": True, "verdict": "fail",
                                  "defects": r.defects}


def test_files_and_pickles_keep_the_model(model, tmp_path):
    image = flexed(33, scratch=True)[0]
    want = model.inspect(image).to_dict()
    model.save(str(tmp_path / "m.fxg"))
    assert vf.GoldenModel.load(str(tmp_path / "m.fxg")).inspect(image).to_dict() == want
    assert pickle.loads(pickle.dumps(model)).inspect(image).to_dict() == want


def test_refuses_bad_input(model, tmp_path):
    pattern = vf.Pattern()
    pattern.train(SAMPLE.arrangement, SAMPLE.train_params())
    few = [flexed(seed)[0] for seed in range(10, 13)]
    with pytest.raises(vf.FlexAlignError, match="at least 5 good images"):
        vf.GoldenModel.train(pattern, few, start_pose=SAMPLE.part_pose(), params=run_params())
    with pytest.raises(vf.FlexAlignError, match="trained on 640 x 480 images"):
        model.inspect(np.zeros((240, 320), np.uint8))
    (tmp_path / "x.fxg").write_bytes(b"not a model")
    with pytest.raises(vf.ParamsError, match="not a flexalign golden model file"):
        vf.GoldenModel.load(str(tmp_path / "x.fxg"))
    blank = np.full((480, 640), 40, np.uint8)
    r = model.inspect(blank)
    assert (r.verdict, r.found, r.defects) == ("notFound", False, []) and r.reason


def test_batch_inspects_a_folder(model, tmp_path):
    paths = []
    for seed, scratch in ((40, False), (41, True)):
        paths.append(str(tmp_path / f"{seed}.png"))
        vf.write_image(paths[-1], flexed(seed, scratch)[0])
    records = batch.run_images(None, paths + [str(tmp_path / "missing.png")], inspect=model,
                               threads=2)
    assert [r.get("verdict") for r in records] == ["pass", "fail", None]
    assert records[1]["defects"][0]["piece"] == "body" and "error" in records[2]
    with pytest.raises(TypeError, match="leave out"):
        batch.run_images(None, paths, inspect=model, params=run_params())


def test_the_readme_program_prints_its_figures(tmp_path):
    from test_readme import readme_section, run_python

    section = readme_section("Inspecting against good parts")
    blocks = re.findall(r"(?:^(?: {4}.*)?\n)+", section, flags=re.M)
    code = [re.sub(r"^ {4}", "", b, flags=re.M).strip() for b in blocks]
    found = [c for c in code if "import vcflexalign as vf" in c]
    assert len(found) == 1
    done = run_python(found[0], tmp_path, os.environ.get("PYTHONPATH", ""))
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == [
        "False 0 0", "True 48 268",
        "{'defects': [{'area': 427, 'bbox': [178, 203, 47, 71], 'excess': 113.0, 'piece': "
        "'body', 'x': 200.971, 'y': 238.069}], 'found': True, 'image': 'scratched', "
        "'verdict': 'fail'}",
        "[200.9 238. ]"]
    assert (tmp_path / "part.fxg").exists()
