"""Training says what a piece's edges cannot fix, in Python as the command says it: a bar slides
along its length, a coin has no angle; the asymmetric sample fixes everything."""
import json
import math
import os
import subprocess

import numpy as np
import pytest

import vcflexalign as vf
from vcflexalign import samples

BUILD = os.environ.get("VCFLEX_BUILD_DIR", os.path.join(os.path.dirname(vf.__file__), "..", ".."))
FLEXALIGN = os.path.join(BUILD, "flexalign")
ROUND = "it is round: its edges fix no angle (a part takes it from its other pieces; searched alone, search it at one angle)"


def test_a_finder_knows_what_its_edges_fix():
    bar = np.full((160, 160), 40, np.uint8)
    bar[75:85, 10:150] = 200  # 140 x 10, along the x axis
    finder = vf.GeofindFinder()
    finder.train(bar)
    c = finder.constraints
    assert min(c["weak_direction"], 180 - c["weak_direction"]) < 2
    assert c["weak_share"] < 0.1 and c["symmetry"] == 2
    assert c["weak_sigma"] > 3 * c["strong_sigma"]
    assert any("can slide" in w and "along 0 degrees" in w for w in finder.training_warnings)
    finder.train(samples.asymmetric_image(samples.pose(80, 80), width=160, height=160))
    assert finder.constraints["symmetry"] == 1 and finder.training_warnings == []
    with pytest.raises(ValueError, match="not trained"):
        vf.GeofindFinder().constraints


@pytest.mark.skipif(not os.path.exists(FLEXALIGN), reason="the flexalign command is not built")
def test_a_pattern_names_its_warned_pieces_as_the_command_does(tmp_path):
    subprocess.run([FLEXALIGN, "demo", "--write-example", str(tmp_path / "ex")], check=True,
                   capture_output=True)
    d = json.loads((tmp_path / "ex" / "part.json").read_text())
    coin = [[40 * math.cos(math.pi * i / 24), 40 * math.sin(math.pi * i / 24)] for i in range(48)]
    d["subModels"].append({"name": "coin", "kind": "wireframe", "engine": "geofind",
                           "shapes": [{"closed": True, "points": coin}]})
    d["instances"].append({"subModel": "coin", "pose": {"x": 560, "y": 400}})
    (tmp_path / "ex" / "coin.json").write_text(json.dumps(d))
    pattern = vf.Pattern()
    pattern.train(vf.Description.load(str(tmp_path / "ex" / "coin.json")))
    assert pattern.training_warnings == {"coin": [ROUND]}
    pattern.save(str(tmp_path / "coin.fxp"))
    assert vf.Pattern.load(str(tmp_path / "coin.fxp")).training_warnings == {"coin": [ROUND]}
    plain = vf.Pattern()
    plain.train(vf.Description.load(str(tmp_path / "ex" / "part.json")))
    assert plain.training_warnings == {}
