"""Images per second of vcflexalign.batch on a local Dask cluster of 1 and 2 worker processes
(one thread each), and on local threads, over generated images of the sample part.

    PYTHONPATH=build/python /usr/bin/python3 python/examples/batch_throughput.py [IMAGES] [ROUNDS]

Prints the best of ROUNDS batches for each setting; the cluster's start-up is not counted.
"""
import os
import sys
import tempfile
import time

import distributed

import vcflexalign as vf
from vcflexalign import batch, samples


def main(count=200, rounds=3):
    sample = samples.FlexSample()
    pattern = vf.Pattern()
    pattern.train(sample.arrangement, sample.train_params())
    piece = vf.GeofindRunParams()
    piece.accept_threshold = 0.6
    piece.xy_uncertainty, piece.angle = (6, 6), (-4, 4)
    params = vf.RunParams(piece)
    params.run_strategy = vf.RunStrategy.LOCALLY_FIXTURED
    params.xy_uncertainty, params.angle, params.scale = (40, 40), (-15, 15), (0.9, 1.1)
    settings = {"start_pose": sample.part_pose(), "params": params}
    with tempfile.TemporaryDirectory() as folder:
        paths = []
        for k in range(count):
            pose = sample.part_pose(k % 21 - 10, 1 + 0.004 * (k % 11 - 5), k % 13 - 6, k % 7 - 3)
            paths.append(os.path.join(folder, f"image{k:04d}.png"))
            vf.write_image(paths[-1], sample.render(pose, seed=k)[0])

        def best(run):
            times = []
            for _ in range(rounds):
                t0 = time.perf_counter()
                records = run()
                times.append(time.perf_counter() - t0)
                assert len(records) == count and all(r["found"] for r in records)
            return count / min(times)

        for threads in (1, 2):
            rate = best(lambda: batch.run_images(pattern, paths, threads=threads, **settings))
            print(f"local, {threads} thread(s): {rate:.1f} images/s")
        for workers in (1, 2):
            with distributed.LocalCluster(n_workers=workers, threads_per_worker=1,
                                          host="127.0.0.1", dashboard_address=None) as cluster, \
                    distributed.Client(cluster) as client:
                rate = best(lambda: batch.run_images(pattern, paths, client=client, **settings))
            print(f"Dask, {workers} worker process(es): {rate:.1f} images/s")


if __name__ == "__main__":
    args = [int(a) for a in sys.argv[1:3]]
    main(*args)
