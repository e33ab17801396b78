"""Batches of image files: on local threads and on a two-worker Dask cluster (loopback), against
a plain serial loop; unreadable files, and a worker killed in the middle of a batch."""
import os
import signal
import threading
import time

import pytest

import vcflexalign as vf
from vcflexalign import batch, samples

SAMPLE = samples.FlexSample()
COUNT = 100
# Raised inside distributed's use of tornado, not by this module.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")


def run_settings():
    piece = vf.GeofindRunParams()
    piece.accept_threshold = 0.6
    piece.xy_uncertainty, piece.angle = (6, 6), (-4, 4)
    params = vf.RunParams(piece)
    params.run_strategy = vf.RunStrategy.LOCALLY_FIXTURED
    params.xy_uncertainty, params.angle, params.scale = (40, 40), (-15, 15), (0.9, 1.1)
    return {"start_pose": SAMPLE.part_pose(), "params": params}


@pytest.fixture(scope="module")
def part(tmp_path_factory):
    """The trained sample part, COUNT image files of it and the records of a serial loop."""
    folder = tmp_path_factory.mktemp("images")
    paths = []
    for k in range(COUNT):
        pose = SAMPLE.part_pose(k % 21 - 10, 1 + 0.004 * (k % 11 - 5), k % 13 - 6, k % 7 - 3)
        image, _ = SAMPLE.render(pose, seed=100 + k, occlude=4 if k % 10 == 3 else -1)
        paths.append(str(folder / f"image{k:03d}.{'png' if k % 2 else 'pgm'}"))
        vf.write_image(paths[-1], image)
    pattern = vf.Pattern()
    pattern.train(SAMPLE.arrangement, SAMPLE.train_params())
    settings = run_settings()
    serial = []
    for p in paths:
        image = vf.read_image(p)
        serial.append(batch.record(p, image, pattern.run(image, **settings)))
    return pattern, paths, settings, serial


def timeless(records):
    return [{k: v for k, v in r.items() if k != "time_ms"} for r in records]


def test_local_threads_give_the_serial_records_in_order_with_one_per_bad_file(part, capsys):
    pattern, paths, settings, serial = part
    folder = os.path.dirname(paths[0])
    broken = os.path.join(folder, "broken.png")
    with open(broken, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n not really")
    missing = os.path.join(folder, "missing.png")
    mixed = paths[:10] + [missing] + paths[10:20] + [broken]
    asked = settings["params"].threads
    records = batch.run_images(pattern, mixed, threads=2, progress=True, **settings)
    assert settings["params"].threads == asked  # the one-thread runs are copies
    assert [r["image"] for r in records] == mixed
    assert timeless(records[:10] + records[11:21]) == timeless(serial[:20])
    for r, name in [(records[10], missing), (records[21], broken)]:
        assert r["error"].startswith(name + ": ") and not r["found"] and r["results"] == []
    assert "22/22" in capsys.readouterr().err
    # The records say what the run said: the hidden piece of image 3 is reported missing.
    a = SAMPLE.arrangement
    hidden = serial[3]["results"][0]["instances"][4]
    assert hidden["name"] == pattern.instance_names[4] == a.sub_models[a.indices[4]].name + " 2"
    assert not hidden["found"] and hidden["status"]["reason"] != "found"
    assert sum(r["found"] for r in serial) == COUNT
    with pytest.raises(TypeError, match="start_pos"):
        batch.run_images(pattern, paths[:1], start_pos=SAMPLE.part_pose())


@pytest.fixture(scope="module")
def client():
    distributed = pytest.importorskip("distributed", reason="dask.distributed is not installed")
    try:
        cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                           host="127.0.0.1", dashboard_address=None)
        c = distributed.Client(cluster, timeout=60)
        c.wait_for_workers(2, timeout=60)
    except Exception as e:  # noqa: BLE001 - whatever stops the cluster, the tests cannot run
        pytest.skip(f"dask.distributed could not start a local cluster on 127.0.0.1: {e!r}")
    yield c
    c.close()
    cluster.close()


def test_a_cluster_gives_the_serial_records(part, client, capsys):
    pattern, paths, settings, serial = part
    records = batch.run_images(pattern, paths, client=client, progress=True, **settings)
    assert timeless(records) == timeless(serial)
    assert f"{COUNT}/{COUNT}" in capsys.readouterr().err
    # Once the batch is done, no worker keeps its pattern or records.
    deadline = time.monotonic() + 10
    while any(client.has_what().values()) and time.monotonic() < deadline:
        time.sleep(0.05)
    assert not any(client.has_what().values())


def test_every_image_gets_its_record_when_a_worker_is_killed_mid_batch(part, client):
    pattern, paths, settings, serial = part
    pids = client.run(os.getpid)
    killed = []

    def progress(dask_scheduler):
        """Images done so far, and the workers that hold the batch's shared pattern."""
        tasks = dask_scheduler.tasks.values()
        done = sum(ts.state == "memory" and str(ts.key).startswith("run_chunk") for ts in tasks)
        holders = [ws.address for ts in tasks if str(ts.key).startswith("_Job")
                   for ws in ts.who_has]
        return done, holders

    def kill_a_pattern_holder_when_some_are_done():
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            done, holders = client.run_on_scheduler(progress)
            if done >= 3 and holders:
                os.kill(pids[holders[0]], signal.SIGKILL)
                killed.append(done)
                return
            time.sleep(0.02)

    killer = threading.Thread(target=kill_a_pattern_holder_when_some_are_done)
    killer.start()
    # Tasks of 4 images: 25 of them, so the kill lands in the middle of the batch.
    records = batch.run_images(pattern, paths, client=client, chunk_size=4, **settings)
    killer.join()
    assert killed and killed[0] < COUNT // 4, killed
    assert timeless(records) == timeless(serial)


def test_a_pattern_subclass_runs_on_a_cluster_as_a_plain_pattern(part, client):
    # Its class, defined here, could not be rebuilt on a worker ("metaclass conflict").
    pattern, paths, settings, serial = part

    class Mine(vf.Pattern):
        def __init__(self):
            super().__init__()
            self.note = lambda: 0

    mine = Mine()
    mine.train(SAMPLE.arrangement, SAMPLE.train_params())
    assert timeless(batch.run_images(mine, paths[:4], client=client, **settings)) == \
        timeless(serial[:4])
