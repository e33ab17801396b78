"""What a careless or hostile caller does to the module: pickles of every protocol, paths with a
NUL byte or a name that is not UTF-8, a batch with one bad entry among good ones, rectify's
farthest region and its largest (peak memory measured in a fresh interpreter)."""
import os
import pickle
import subprocess
import sys

import numpy as np
import pytest

import vcflexalign as vf
from vcflexalign import batch, samples

SAMPLE = samples.FlexSample()


def settings():
    piece = vf.GeofindRunParams()
    piece.xy_uncertainty, piece.angle = (6, 6), (-4, 4)
    params = vf.RunParams(piece)
    params.run_strategy = vf.RunStrategy.LOCALLY_FIXTURED
    params.xy_uncertainty, params.angle, params.scale = (40, 40), (-15, 15), (0.9, 1.1)
    return {"start_pose": SAMPLE.part_pose(), "params": params}


@pytest.fixture(scope="module")
def found():
    pattern = vf.Pattern()
    pattern.train(SAMPLE.arrangement, SAMPLE.train_params())
    image, _ = SAMPLE.render(SAMPLE.part_pose(angle=3, dx=5), seed=1)
    results = pattern.run(image, **settings())
    assert results[0].found
    return pattern, image, results


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_every_picklable_class_pickles_with_every_protocol(found, protocol):
    # Protocols 0 and 1 ended the interpreter (SIGABRT) for each of these.
    pattern, _, results = found
    for obj in [settings()["params"], vf.GeofindRunParams(), vf.CorrelationRunParams(), pattern,
                results, results[0], results[0].instances[0]]:
        back = pickle.loads(pickle.dumps(obj, protocol))
        assert type(back) is type(obj)
        assert pickle.dumps(back, 4) == pickle.dumps(obj, 4), type(obj).__name__
    assert pickle.loads(pickle.dumps(pattern, protocol)) == pattern


def test_one_bad_entry_gives_its_own_record_and_the_rest_run(found, tmp_path):
    pattern, image, _ = found
    good, small = str(tmp_path / "good.png"), str(tmp_path / "small.png")
    vf.write_image(good, image)
    vf.write_image(small, image[:100, :100])
    with open(os.path.join(os.fsencode(tmp_path), b"bad-\xff.png"), "wb") as f:
        f.write(open(good, "rb").read())
    listed = [str(tmp_path / n) for n in os.listdir(tmp_path) if n.startswith("bad-")]
    assert listed and "\udcff" in listed[0]  # as os.listdir gives a name that is not UTF-8
    paths = [good, small, listed[0], good + "\0.png", good]
    records = batch.run_images(pattern, paths, threads=2, mask=np.full(image.shape, 255, np.uint8),
                               **settings())
    assert [r["image"] for r in records] == paths
    assert [r["found"] for r in records] == [True, False, True, False, True]
    assert "mask must have the image's shape" in records[1]["error"]
    assert "embedded null byte" in records[3]["error"]
    with pytest.raises(TypeError, match="not one path"):
        batch.run_images(pattern, good)  # it gave one record per character
    for size in (0, -1):
        with pytest.raises(ValueError, match="chunk_size"):
            batch.run_images(pattern, [good], chunk_size=size)


def test_paths_with_a_nul_byte_are_refused_as_open_refuses_them(found, tmp_path):
    pattern, image, _ = found
    good = str(tmp_path / "good.png")
    vf.write_image(good, image)
    for call in [lambda: vf.read_image(good + "\0.txt"),
                 lambda: vf.write_image(str(tmp_path / "w.png\0.pgm"), image),
                 lambda: pattern.save(str(tmp_path / "p.fxp\0x")),
                 lambda: vf.Pattern.load(good + "\0x")]:
        with pytest.raises(ValueError, match="embedded null byte"):
            call()
    assert sorted(os.listdir(tmp_path)) == ["good.png"]  # nothing written under the cut name


def test_rectify_regions_far_off_are_refused_however_far(found):
    _, image, results = found
    # std::labs(-2**63) is undefined: that one passed both checks.
    for x in (-2 ** 63, -2 ** 63 + 1, -10 ** 9 - 1, 10 ** 9 + 1):
        with pytest.raises(vf.ParamsError, match="within 1000000000"):
            results[0].rectify(image, region=(x, 0, 10, 10))
    assert results[0].rectify(image, region=(-10 ** 9, 0, 10, 10)).mask.max() == 0


def test_rectify_of_the_largest_region_at_grid_step_1_stays_within_its_documented_memory():
    # A fresh interpreter, so the peak is rectify's own: 3.75 GB when the whole grid was held.
    script = """
import resource, vcflexalign as vf
from vcflexalign import samples
part = samples.FlexSample()
p = vf.Pattern()
p.train(part.arrangement, part.train_params())
img, _ = part.render(part.part_pose())
r = p.run(img, start_pose=part.part_pose())[0]
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
out = r.rectify(img, region=(-4000, -4000, 8192, 8192), grid_step=1)
print(out.image.shape, (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) // 1024)
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=300, env=dict(os.environ, PYTHONPATH=os.path.dirname(
                              os.path.dirname(vf.__file__))))
    assert done.returncode == 0, done.stderr
    shape, growth = done.stdout.rsplit(")", 1)
    assert shape == "(8192, 8192"
    assert int(growth) < 720  # MiB: 10 bytes a pixel (image, mask, two float fields)
