"""FlexAlign on the flexible sample part: runs against the generator's truth, archives, errors
and runs on threads."""
import copy
import pickle
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import vcflexalign as vf
from vcflexalign import samples

SAMPLE = samples.FlexSample()


def run_params(strategy=vf.RunStrategy.LOCALLY_FIXTURED):
    piece = vf.GeofindRunParams()
    piece.accept_threshold = 0.6
    piece.xy_uncertainty = (6, 6)
    piece.angle = (-4, 4)
    rp = vf.RunParams(piece)
    rp.run_strategy = strategy
    rp.xy_uncertainty = (40, 40)
    rp.angle = (-15, 15)
    rp.scale = (0.9, 1.1)
    return rp


@pytest.fixture(scope="module")
def pattern():
    p = vf.Pattern()
    p.train(SAMPLE.arrangement, SAMPLE.train_params())
    return p


def drawn_instances():
    a = SAMPLE.arrangement
    return [k for k in range(a.num_instances) if a.sub_models[a.indices[k]].kind != "blank"]


def summary(result_set):
    """Everything a result reports, for exact comparisons."""
    return [
        (r.found, r.score, r.pose.tobytes(),
         [(i.found, i.score, i.pose.tobytes()) for i in r.instances])
        for r in result_set.results
    ]


@pytest.mark.parametrize("strategy", [vf.RunStrategy.INDEPENDENT, vf.RunStrategy.LOCALLY_FIXTURED])
def test_every_piece_is_found_where_the_generator_drew_it(pattern, strategy):
    image, truth = SAMPLE.render(SAMPLE.part_pose(8.0, 1.05, 12, -9), seed=3)
    rs = pattern.run(image, SAMPLE.part_pose(), run_params(strategy))
    assert len(rs) == 1 and rs[0].found
    instances = rs[0].instances
    a = SAMPLE.arrangement
    # Named as the pattern file names them: a sub-model placed more than once is numbered.
    assert [i.name for i in instances] == pattern.instance_names
    assert pattern.instance_names[3:6] == ["key 1", "key 2", "key 3"]
    assert [n.split(" ")[0] for n in pattern.instance_names] == [
        a.sub_models[s].name for s in a.indices]
    for k in drawn_instances():
        i = instances[k]
        assert i.found, i
        # Sub-model coordinates are centred on their piece: compare where both put the centre.
        assert np.hypot(i.x - truth[k][0, 2], i.y - truth[k][1, 2]) < 0.1, i
        true_angle = np.degrees(np.arctan2(truth[k][1, 0], truth[k][0, 0]))
        assert abs(i.angle - true_angle) < 0.5
    assert rs[0].angle == pytest.approx(8.0, abs=0.5)
    assert rs[0].scale == pytest.approx(1.05, abs=0.01)


def test_a_hidden_piece_is_reported_missing_at_its_predicted_place(pattern):
    hidden = 4  # the second key
    image, truth = SAMPLE.render(SAMPLE.part_pose(-6.0), occlude=hidden)
    r = pattern.run(image, SAMPLE.part_pose(), run_params())[0]
    i = r.instances[hidden]
    assert not i.found and i.score == 0
    # Placed by the fitted part pose: near the drawn place, within the pieces' own shifts.
    assert np.hypot(i.x - truth[hidden][0, 2], i.y - truth[hidden][1, 2]) < 8


@pytest.mark.parametrize("train, run", [(vf.GeofindTrainParams, vf.GeofindRunParams),
                                        (vf.CorrelationTrainParams, vf.CorrelationRunParams)])
def test_an_arrangement_built_from_crops_finds_its_move_with_each_engine(train, run):
    image = samples.asymmetric_image(samples.pose(160, 120), width=320, height=240)
    # Two pieces cut from the image, each placed at its corner in image coordinates.
    pieces = [vf.SubModel.from_image(image[56:120, 96:160], "upper left"),
              vf.SubModel.from_image(image[120:184, 160:224], "lower right")]
    part = vf.Arrangement(pieces, [0, 1], [samples.pose(96, 56), samples.pose(160, 120)])
    pattern = vf.Pattern()
    pattern.train(part, vf.TrainParams(train()))
    params = vf.RunParams(run())
    params.xy_uncertainty = (20, 20)
    dx, dy = 10.5, -6.75
    moved = samples.asymmetric_image(samples.pose(160 + dx, 120 + dy), width=320, height=240)
    # The arrangement's coordinates are this image's: the start pose is the identity, and a
    # pattern trained here does not guess it.
    with pytest.raises(vf.ParamsError, match="no start pose"):
        pattern.run(moved, params=params)
    pattern.start_pose = samples.pose(0, 0)
    r = pattern.run(moved, params=params)[0]
    assert r.found
    assert r.pose[:, 2] == pytest.approx([dx, dy], abs=0.1)
    for i, (x, y) in zip(r.instances, [(96, 56), (160, 120)]):
        assert i.found and (i.x, i.y) == pytest.approx((x + dx, y + dy), abs=0.1)


def test_archives_and_pickles_give_identical_results(pattern, tmp_path):
    image, _ = SAMPLE.render(SAMPLE.part_pose(3.0, 0.97, -20, 15), seed=5)
    expected = summary(pattern.run(image, SAMPLE.part_pose(), run_params()))
    path = tmp_path / "part.fxp"
    pattern.save(str(path))
    for other in [pickle.loads(pickle.dumps(pattern)), vf.Pattern.from_bytes(pattern.to_bytes()),
                  vf.Pattern.load(str(path)), copy.deepcopy(pattern)]:
        assert other == pattern
        assert summary(other.run(image, SAMPLE.part_pose(), run_params())) == expected


def test_a_run_on_threads_gives_the_one_thread_results(pattern):
    image, _ = SAMPLE.render(SAMPLE.part_pose(2.0, 1.01, 8, -5), seed=11)
    runs = []
    for strategy in (vf.RunStrategy.LOCALLY_FIXTURED, vf.RunStrategy.INDEPENDENT):
        for threads in (1, 3):
            rp = run_params(strategy)
            rp.threads = threads
            runs.append(summary(pattern.run(image, SAMPLE.part_pose(), rp)))
        assert runs[-1] == runs[-2]
    with pytest.raises(vf.FlexAlignError, match="threads must be"):
        run_params().threads = -1


def test_library_errors_become_python_exceptions_of_their_family(pattern):
    image, _ = SAMPLE.render(SAMPLE.part_pose())
    with pytest.raises(vf.FlexAlignError, match="^the pattern is not trained$") as e:
        vf.Pattern().run(image)
    assert e.value.kind == "vcFlexAlignDefs::NotTrained" and e.value.error_number == 0x10005D08
    with pytest.raises(vf.FlexAlignError, match="between 0 and 1") as e:
        vf.RunParams().accept_threshold = 2
    assert e.value.kind == "vcFlexAlignDefs::BadParams"
    data = pattern.to_bytes()
    with pytest.raises(vf.ArchiveError):
        vf.Pattern.from_bytes(data[: len(data) // 2])
    with pytest.raises(vf.ModelError):
        vf.Arrangement([vf.SubModel.blank("a")], [3], [np.eye(2, 3)])
    for family in [vf.FlexAlignError, vf.ArchiveError, vf.ModelError, vf.GeofindError]:
        assert issubclass(family, vf.Error)
    assert issubclass(vf.ParamsError, vf.Error) and issubclass(vf.ParamsError, ValueError)


def test_results_pickle_with_every_field(pattern):
    image, _ = SAMPLE.render(SAMPLE.part_pose(4.0, 1.02, 6, -3), seed=8, occlude=4)
    rs = pattern.run(image, SAMPLE.part_pose(), run_params())
    back = pickle.loads(pickle.dumps(rs))
    assert back.time == rs.time and summary(back) == summary(rs)
    r, b = rs[0], pickle.loads(pickle.dumps(rs[0]))
    assert (b.x, b.y, b.x_scale, b.y_scale, b.info) == (r.x, r.y, r.x_scale, r.y_scale, r.info)
    fields = [(i.index, i.name, i.offset, i.turn, i.sigma_major, i.sigma_minor, i.sigma_direction,
               i.angle_sigma, i.angle_symmetry) for i in r.instances]
    assert [(i.index, i.name, i.offset, i.turn, i.sigma_major, i.sigma_minor, i.sigma_direction,
             i.angle_sigma, i.angle_symmetry) for i in b.instances] == fields
    assert pickle.loads(pickle.dumps(r.instances[0])).name == r.instances[0].name
    # The angle's symmetry travels in the state's last place; an older state has none.
    state = r.instances[0].__getstate__()
    four_fold = vf.InstanceResult.__new__(vf.InstanceResult)
    four_fold.__setstate__(state[:-1] + (4,))
    older = vf.InstanceResult.__new__(vf.InstanceResult)
    older.__setstate__(state[:-1])
    assert (four_fold.angle_symmetry, older.angle_symmetry) == (4, 1)
    assert older.angle_sigma == r.instances[0].angle_sigma
    # Pieces are drawn up to 4 px and 3 degrees off their layout; the hidden one reports none.
    found = [i for i in r.instances if i.found and i.offset > 0]
    assert found and all(i.offset < 6 and abs(i.turn) < 4 for i in found)
    assert not r.instances[4].found and r.instances[4].offset == 0
    # A found piece's 1-sigma ellipse and angle come from its fit: small, and not zero for a
    # searched one (a blank piece has none).
    sigmas = [(i.sigma_minor, i.sigma_major, i.angle_sigma) for i in r.instances if i.found]
    assert all(0 <= lo <= hi < 0.5 and 0 <= a < 1 for lo, hi, a in sigmas), sigmas
    assert sum(lo > 0 and a > 0 for lo, _, a in sigmas) >= 5, sigmas
    assert r.instances[4].sigma_major == 0


def test_two_threads_run_faster_than_one_with_identical_results(pattern):
    images = [SAMPLE.render(SAMPLE.part_pose(a, 1.0, a, -a), seed=10 + n)[0]
              for n, a in enumerate(np.linspace(-10, 10, 20))]
    rp = run_params()

    def run_all(p, imgs):
        return [summary(p.run(img, SAMPLE.part_pose(), rp)) for img in imgs]

    t0 = time.perf_counter()
    serial = run_all(pattern, images)
    t1 = time.perf_counter()
    # Each thread its own copy: runs of one pattern take turns.
    copies = [copy.copy(pattern), copy.copy(pattern)]
    t2 = time.perf_counter()
    with ThreadPoolExecutor(2) as pool:
        halves = list(pool.map(run_all, copies, [images[0::2], images[1::2]]))
    t3 = time.perf_counter()
    parallel = [None] * len(images)
    parallel[0::2], parallel[1::2] = halves
    print(f"\n20 runs: serial {t1 - t0:.3f} s, 2 threads {t3 - t2:.3f} s, "
          f"ratio {(t1 - t0) / (t3 - t2):.2f}")
    assert parallel == serial
