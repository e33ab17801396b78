"""Result.rectify on the flexible sample part: the run image undone into the training image's
layout, the field against the fitted pose, outlines, pickles and argument checks."""
import os
import pickle
import re

import numpy as np
import pytest

import vcflexalign as vf
from vcflexalign import samples

SAMPLE = samples.FlexSample()


@pytest.fixture(scope="module")
def found():
    pattern = vf.Pattern()
    pattern.train(SAMPLE.arrangement, SAMPLE.train_params())
    piece = vf.GeofindRunParams()
    piece.xy_uncertainty, piece.angle = (6, 6), (-4, 4)
    params = vf.RunParams(piece)
    params.run_strategy = vf.RunStrategy.LOCALLY_FIXTURED
    params.xy_uncertainty, params.angle, params.scale = (40, 40), (-15, 15), (0.9, 1.1)
    # The training image's blur, so that the noise (sigma 5) is what differs.
    image, truth = SAMPLE.render(SAMPLE.part_pose(angle=7, dx=9, dy=-6), seed=6, blur=0.8)
    result = pattern.run(image, start_pose=SAMPLE.part_pose(), params=params)[0]
    assert result.found
    return image, truth, result


def trained(r):
    x, y, w, h = r.region
    return SAMPLE.train_image[y:y + h, x:x + w].astype(int)


def test_flexed_part_comes_back_as_trained_where_its_rigid_pose_leaves_edges_apart(found):
    image, truth, result = found
    flex, rigid = result.rectify(image), result.rectify(image, pose_only=True)
    assert flex.region == (28, 28, 342, 251) and flex.image.shape == (251, 342)
    assert flex.field_x.dtype == np.float32 and flex.mask.all()
    t = trained(flex)
    edges = np.hypot(*np.gradient(t.astype(float))) > 30
    diff = np.abs(flex.image - t)
    rigid_diff = np.abs(rigid.image - t)
    assert diff.mean() <= 3.5 and diff[edges].mean() <= 5
    assert rigid_diff[edges].mean() > 3 * diff[edges].mean()
    assert not rigid.field_x.any() and not rigid.field_y.any()
    # The field at each piece's centre: where it truly lies minus where the fitted pose puts it.
    a = SAMPLE.arrangement
    origin = np.vstack([a.origin, [0, 0, 1]])
    part = result.pose @ np.linalg.inv(origin)  # arrangement to image
    x0, y0 = flex.region[:2]
    for k in range(7):
        cx, cy = a.placements[k][:, 2]
        moved = truth[k][:, 2] - part @ [cx, cy, 1]
        field = flex.field_x[int(cy) - y0, int(cx) - x0], flex.field_y[int(cy) - y0, int(cx) - x0]
        assert np.hypot(*(field - moved)) < 0.1, SAMPLE.instance_names[k]
        assert flex.largest_displacement[k] >= np.hypot(*field) - 1e-6
        assert flex.outlines[k].shape == (4, 2)
    assert flex.outlines[7].shape == (0, 2)  # the blank label


def test_region_fill_and_pickles(found):
    image, _, result = found
    r = result.rectify(image, region=(-100, -50, 600, 400), fill=9, grid_step=16)
    assert r.region == (-100, -50, 600, 400) and r.image.shape == (400, 600)
    outside = r.mask == 0
    assert outside.any() and (r.image[outside] == 9).all()
    back = pickle.loads(pickle.dumps(result)).rectify(image, region=(-100, -50, 600, 400), fill=9,
                                                      grid_step=16)
    assert (back.image == r.image).all() and (back.field_y == r.field_y).all()
    old = vf.Result.__new__(vf.Result)  # as pickled before results could rectify
    old.__setstate__(result.__getstate__()[:7])
    with pytest.raises(ValueError, match="pickled before"):
        old.rectify(image)


def test_bad_arguments_are_refused(found):
    image, _, result = found
    for kwargs, words in [({"region": (0, 0, 0, 5)}, "region"), ({"grid_step": 0}, "grid_step"),
                          ({"margin": -1.0}, "margin"), ({"reach": float("nan")}, "reach"),
                          ({"fill": 256}, "fill"), ({"region": (0, 0, 100000, 100000)}, "region")]:
        with pytest.raises(vf.ParamsError, match=words):
            result.rectify(image, **kwargs)
    with pytest.raises(TypeError):
        result.rectify(image.astype(np.float32))


def test_the_readme_inspection_example_finds_the_scratch_alone(tmp_path):
    from test_readme import readme_section, run_python

    section = readme_section("Inspecting a found part: undoing the flex")
    blocks = re.findall(r"(?:^(?: {4}.*)?\n)+", section, flags=re.M)
    found = [re.sub(r"^ {4}", "", b, flags=re.M).strip() for b in blocks if "import vcflex" in b]
    assert len(found) == 1
    done = run_python(found[0], tmp_path, os.path.dirname(os.path.dirname(vf.__file__)))
    assert done.returncode == 0, done.stderr
    flex, rigid = done.stdout.splitlines()[-2:]
    # Every large difference lies on the scratch, from (60, 120) to (105, 185) in training pixels.
    count, x0, y0, x1, y1 = map(int, re.findall(r"\d+", flex))
    assert flex.startswith("False ") and count > 100
    assert 57 <= x0 and 117 <= y0 and x1 <= 108 and y1 <= 188
    assert rigid.startswith("True ") and int(rigid.split()[1]) > 10 * count
