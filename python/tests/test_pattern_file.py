# The pattern file is one format for the module and the flexalign command: what Python saves
# the command runs, and what the command trains Python loads.
import os
import pickle
import subprocess

import numpy as np
import pytest
import vcflexalign as vf
from vcflexalign import samples

BUILD = os.environ.get("VCFLEX_BUILD_DIR", os.path.join(os.path.dirname(vf.__file__), "..", ".."))
FLEXALIGN = os.path.join(BUILD, "flexalign")


@pytest.mark.skipif(not os.path.exists(FLEXALIGN), reason="the flexalign command is not built")
def test_python_and_the_command_read_each_others_pattern_files(tmp_path):
    part = samples.FlexSample()
    pattern = vf.Pattern()
    pattern.train(part.arrangement, part.train_params())
    saved = tmp_path / "python.fxp"
    pattern.save(str(saved))
    assert vf.Pattern.load(str(saved)) == pattern
    info = subprocess.run([FLEXALIGN, "info", str(saved)], capture_output=True, text=True)
    assert info.returncode == 0, info.stderr
    assert "8 instances" in info.stdout and "key 3" in info.stdout

    subprocess.run([FLEXALIGN, "demo", "--write-example", str(tmp_path / "ex")], check=True,
                   capture_output=True)
    trained = tmp_path / "command.fxp"
    subprocess.run([FLEXALIGN, "train", str(tmp_path / "ex" / "part.json"), "-o", str(trained)],
                   check=True, capture_output=True)
    loaded = vf.Pattern.load(str(trained))
    assert loaded.trained and len(loaded.arrangement.sub_models) == 6


def test_a_pickle_written_by_an_earlier_version_loads_and_finds_its_recorded_part():
    # Written when archives named classes by g++'s mangled type names: the example part's
    # pattern, its run settings, a piece's run settings and its results on the first image.
    data = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(
        __file__)))), "tests", "data")
    with open(os.path.join(data, "example_part.pickle"), "rb") as f:
        old = pickle.load(f)
    pattern, recorded = old["pattern"], old["results"]
    assert old["run_params"] == pattern.run_params
    assert old["piece"].xy_uncertainty == (6, 6) and old["piece"].angle == (-4, 4)
    assert len(recorded) == 1 and recorded.found

    results = pattern.run(vf.read_image(os.path.join(data, "example_image-1.png")))
    assert len(results) == 1 and results.found
    got, want = results[0], recorded[0]
    assert got.score == pytest.approx(want.score, abs=1e-3)
    assert np.abs(got.pose - want.pose).max() < 0.02
    assert [i.found for i in got.instances] == [i.found for i in want.instances]

    # Pickled again (with fixed class names), everything loads back equal.
    again = pickle.loads(pickle.dumps(old))
    assert again["pattern"] == pattern and again["piece"] == old["piece"]
    assert again["results"][0].to_dict() == want.to_dict()
