"""The README's Python programs as a new user runs them: from the build tree, and from an
install of the package into a fresh prefix."""
import os
import re
import subprocess
import sys
import sysconfig

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("VCFLEX_SOURCE_DIR", os.path.dirname(os.path.dirname(HERE)))
BUILD = os.environ.get("VCFLEX_BUILD_DIR")


def readme_section(title):
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
        text = f.read()
    return text.split(f"\n## {title}\n", 1)[1].split("\n## ", 1)[0]


def programs(section):
    """Indented code blocks that begin with an import of the package."""
    blocks = re.findall(r"(?:^(?: {4}.*)?\n)+", section, flags=re.M)
    code = [re.sub(r"^ {4}", "", b, flags=re.M).strip() for b in blocks]
    return [c for c in code if c.startswith("import vcflexalign")]


def run_python(code, cwd, pythonpath):
    env = dict(os.environ, PYTHONPATH=pythonpath)
    return subprocess.run([sys.executable, "-c", code], cwd=cwd, env=env, capture_output=True,
                          text=True, timeout=120)


def test_the_first_program_runs_from_the_build_tree(tmp_path):
    found = programs(readme_section("Python"))
    assert len(found) == 2
    build_python = os.path.join(BUILD, "python") if BUILD else os.environ["PYTHONPATH"]
    done = run_python(found[0], tmp_path, build_python)
    assert done.returncode == 0, done.stderr
    # The finder's line, then the part: found, with all eight instances found.
    lines = done.stdout.splitlines()
    assert lines[-1].startswith("True ") and lines[-1].endswith("[True, True, True, True, "
                                                                "True, True, True, True]")
    assert (tmp_path / "part.fxp").exists()


@pytest.mark.skipif(not BUILD, reason="needs VCFLEX_BUILD_DIR (ctest sets it) for the command")
def test_the_pattern_file_program_finds_the_part_with_no_settings_passed(tmp_path):
    # The pattern file as the README makes it: the demo's example, trained by the command.
    flexalign = os.path.join(BUILD, "flexalign")
    for args in (["demo", "--write-example", "ex"], ["train", "ex/part.json", "-o", "part.fxp"]):
        subprocess.run([flexalign, *args], cwd=tmp_path, check=True, capture_output=True)
    program = programs(readme_section("Python"))[1]
    assert "pattern.run(vf.read_image(" in program and "params" not in program.split("run(")[-1]
    done = run_python(program, tmp_path, os.path.join(BUILD, "python"))
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == [
        "[320. 240.] RunStrategy.LOCALLY_FIXTURED", "1 True 0.999 found, score 0.999",
        "4 False 0.968 the required key 2 is missing"]


@pytest.mark.skipif(not BUILD, reason="needs VCFLEX_BUILD_DIR (ctest sets it) to install from")
def test_cmake_install_puts_the_package_into_the_prefix_site_packages(tmp_path):
    prefix = tmp_path / "prefix"
    done = subprocess.run(["cmake", "--install", BUILD, "--prefix", str(prefix), "--component",
                           "python"], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    site = sysconfig.get_path("platlib", "posix_prefix",
                              vars={"platbase": str(prefix), "base": str(prefix)})
    code = ("import pickle, vcflexalign as vf\nfrom vcflexalign import batch, samples\n"
            "print(vf.__file__)\n"
            "p = vf.Pattern(); p.train(samples.FlexSample().arrangement)\n"
            "assert pickle.loads(pickle.dumps(p)) == p")
    done = run_python(code, tmp_path, site)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip().startswith(str(prefix))
