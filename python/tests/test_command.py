"""Python and the flexalign command agree: a pattern file the command trained runs in Python with
its own settings and gives the record `flexalign run --json` prints, field for field; so do a
description trained in Python, a batch, a dropped combination and a colour image."""
import json
import os
import pickle
import subprocess

import numpy as np
import pytest

import vcflexalign as vf
from vcflexalign import batch

BUILD = os.environ.get("VCFLEX_BUILD_DIR", os.path.join(os.path.dirname(vf.__file__), "..", ".."))
FLEXALIGN = os.path.join(BUILD, "flexalign")
pytestmark = pytest.mark.skipif(not os.path.exists(FLEXALIGN),
                                reason="the flexalign command is not built")


def command(*args):
    done = subprocess.run([FLEXALIGN, *args], capture_output=True, text=True, timeout=300)
    assert done.returncode in (0, 1), done.stderr
    return done.stdout


def records(*args):
    """The command's records of a run, without the run times (they differ run to run)."""
    return [timeless(json.loads(line)) for line in command("run", *args, "--json").splitlines()]


def timeless(record):
    return {k: v for k, v in record.items() if k != "time_ms"}


@pytest.fixture(scope="module")
def example(tmp_path_factory):
    folder = tmp_path_factory.mktemp("command")
    command("demo", "--write-example", str(folder / "ex"))
    command("train", str(folder / "ex" / "part.json"), "-o", str(folder / "part.fxp"))
    images = sorted(str(p) for p in (folder / "ex" / "images").iterdir())
    return folder, images


def test_a_pattern_file_runs_with_its_own_settings_and_gives_the_commands_records(example):
    folder, images = example
    pattern = vf.Pattern.load(str(folder / "part.fxp"))
    # What the file holds, as `flexalign info` prints it.
    assert pattern.start_pose == pytest.approx(np.array([[1, 0, 320], [0, 1, 240]]))
    assert pattern.run_params.run_strategy == vf.RunStrategy.LOCALLY_FIXTURED
    assert pattern.run_params.xy_uncertainty == (320, 240)
    assert pattern.instance_names[3:6] == ["key 1", "key 2", "key 3"]
    want = records(str(folder / "part.fxp"), *images)
    got = [timeless(pattern.run(vf.read_image(p)).to_dict(p)) for p in images]
    assert got == want
    assert [r["found"] for r in got] == [True, True, True, False, True]
    # A batch runs with them too, and gives the same records; so does a pickled copy (what a
    # cluster's workers get) and one saved again.
    assert [timeless(r) for r in batch.run_images(pattern, images, threads=2)] == want
    pattern.save(str(folder / "again.fxp"))
    for other in (pickle.loads(pickle.dumps(pattern)), vf.Pattern.load(str(folder / "again.fxp"))):
        assert other.instance_names == pattern.instance_names
        assert timeless(other.run(vf.read_image(images[1])).to_dict(images[1])) == want[1]
    # The result objects say what the records say.
    four = pattern.run(vf.read_image(images[3]))
    assert four[0].to_dict() == want[3]["results"][0]
    assert four[0].status.reason == "requiredMissing" and four[0].status.other == "key 2"
    assert four[0].instances[4].status.text == want[3]["results"][0]["instances"][4]["status"]["text"]
    # Given settings still win over the file's: twice the size is out of the file's scale range.
    assert not pattern.run(vf.read_image(images[0]), start_pose=vf.samples.pose(320, 240, 0, 2)).found


def test_a_description_trains_in_python_as_the_command_trains_it(example):
    folder, images = example
    description = vf.Description.load(str(folder / "ex" / "part.json"))
    assert description.instance_names[3] == "key 1"
    assert description.train_image.shape == (300, 400)
    pattern = vf.Pattern()
    pattern.train(description)
    assert pattern.start_pose == pytest.approx(vf.Pattern.load(str(folder / "part.fxp")).start_pose)
    got = [timeless(pattern.run(vf.read_image(p)).to_dict(p)) for p in images[:2]]
    assert got == records(str(folder / "part.fxp"), *images[:2])
    # A bad field is named by its path, as the command names it.
    bad = json.loads((folder / "ex" / "part.json").read_text())
    bad["subModels"][0]["region"] = [0, 0, 40]
    (folder / "ex" / "bad.json").write_text(json.dumps(bad))
    with pytest.raises(vf.ParamsError, match=r"bad.json: at /subModels/0/region: expected 4"):
        vf.Description.load(str(folder / "ex" / "bad.json"))
    with pytest.raises(OSError, match="missing.json: cannot open"):
        vf.Description.load(str(folder / "ex" / "missing.json"))


def test_a_part_dropped_under_its_threshold_is_in_rejected_with_its_shares(example):
    folder, images = example
    strict = json.loads((folder / "ex" / "part.json").read_text())
    strict["run"]["acceptThreshold"] = 0.97
    (folder / "ex" / "strict.json").write_text(json.dumps(strict))
    command("train", str(folder / "ex" / "strict.json"), "-o", str(folder / "strict.fxp"))
    rs = vf.Pattern.load(str(folder / "strict.fxp")).run(vf.read_image(images[3]))
    assert len(rs) == 0 and not rs.found and len(rs.rejected) == 1
    dropped = rs.rejected[0]
    assert dropped.status.reason == "belowThreshold" and "pulled down most by key 2" in \
        dropped.status.text
    assert sum(i.share for i in dropped.instances) == pytest.approx(dropped.score, abs=1e-5)
    assert timeless(rs.to_dict(images[3])) == records(str(folder / "strict.fxp"), images[3])[0]


def test_colour_arrays_are_made_grey_as_the_command_reads_a_colour_file(example, tmp_path):
    folder, images = example
    grey = vf.read_image(images[0]).astype(int)
    # A colour version of the image: each channel a different function of the grey.
    rgb = np.stack([np.clip(grey * 1.2, 0, 255), grey, np.clip(grey * 0.7 + 30, 0, 255)],
                   axis=-1).astype(np.uint8)
    ppm = tmp_path / "colour.ppm"
    ppm.write_bytes(b"P6\n640 480\n255\n" + rgb.tobytes())
    pattern = vf.Pattern.load(str(folder / "part.fxp"))
    want = records(str(folder / "part.fxp"), str(ppm))[0]
    assert want["found"]
    assert timeless(pattern.run(rgb, channels="RGB").to_dict(str(ppm))) == want
    bgr = np.ascontiguousarray(rgb[:, :, ::-1])
    assert timeless(pattern.run(bgr, channels="BGR").to_dict(str(ppm))) == want
    rgba = np.concatenate([rgb, np.full((480, 640, 1), 7, np.uint8)], axis=-1)
    assert np.array_equal(vf.grey(rgba, channels="RGBA"), vf.read_image(str(ppm)))
    with pytest.raises(ValueError, match="channels='RGB' or 'BGR'"):
        pattern.run(rgb)
    with pytest.raises(ValueError, match=r"must be \(height, width, 4\) for channels='BGRA'"):
        pattern.run(rgb, channels="BGRA")
