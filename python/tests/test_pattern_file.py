# The pattern file is one format for the module and the flexalign command: what Python saves
# the command runs, and what the command trains Python loads.
import os
import subprocess

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
