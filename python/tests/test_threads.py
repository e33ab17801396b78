"""Objects shared between threads while one thread changes them: no Python program may crash the
interpreter. Each scene runs in a child interpreter, so a crash fails the test instead of pytest."""
import os
import subprocess
import sys
import textwrap

# Each pair of threads works on one shared object for SECONDS: one thread trains or runs with
# it, the other keeps changing it. Before runs copied their parameters, the first pair ended in
# SIGSEGV ("pure virtual method called") within 3 to 5 seconds.
SCENES = textwrap.dedent("""
    import sys, threading, time
    import numpy as np
    import vcflexalign as vf
    from vcflexalign import samples

    SECONDS = float(sys.argv[1])
    s = samples.FlexSample()
    image = s.render(s.part_pose(5, 1.02, 10, -8), seed=3)[0]
    piece = vf.GeofindRunParams()
    piece.xy_uncertainty, piece.angle = (6, 6), (-4, 4)
    rp = vf.RunParams(piece)
    rp.xy_uncertainty, rp.angle = (40, 40), (-15, 15)
    tp = s.train_params()
    arrangement = s.arrangement
    pattern = vf.Pattern()
    pattern.train(arrangement, tp)
    finder = vf.GeofindFinder()
    target = samples.asymmetric_image(samples.pose(80, 80), width=160, height=160)
    finder.train(target)
    stop = threading.Event()
    counts = {}

    def loop(name, step):
        n = 0
        while not stop.is_set():
            step(n)
            n += 1
        counts[name] = n

    def run(n):
        pattern.run(image, start_pose=s.part_pose(), params=rp)

    def change_run_params(n):
        q = vf.GeofindRunParams()
        q.xy_uncertainty, q.angle = (6 + n % 3, 6), (-4, 4)
        for i in range(8):
            rp.set_custom(i, q)
        for i in range(0, 8, 2):
            rp.restore_standard(i)
        rp.run_order = [[i] for i in range(8)] if n % 2 else []
        rp.set_standard(q)
        rp.xy_uncertainty = (40 + n % 5, 40)
        rp.angle = (-15 + n % 3, 15)

    def train(n):
        vf.Pattern().train(arrangement, tp)

    def change_training(n):
        for i in range(8):
            tp.set_custom(i, vf.GeofindTrainParams())
        for i in range(8):
            tp.restore_standard(i)
        arrangement.origin = samples.pose(n % 7, 0)

    def render(n):
        s.render(s.part_pose(n % 5), seed=n)

    def change_sample(n):
        s.arrangement.origin = samples.pose(0, n % 3)

    def find(n):
        finder.find(target, angle=(-10, 10))

    def retrain(n):
        finder.train(target, origin=(80 + n % 3, 80))

    pairs = [run, change_run_params, train, change_training, render, change_sample, find, retrain]
    threads = [threading.Thread(target=loop, args=(f.__name__, f)) for f in pairs]
    for t in threads:
        t.start()
    time.sleep(SECONDS)
    stop.set()
    for t in threads:
        t.join()
    print(" ".join(f"{k}={v}" for k, v in sorted(counts.items())))
""")


def test_changing_shared_objects_while_other_threads_use_them_does_not_crash(tmp_path):
    script = tmp_path / "scenes.py"
    script.write_text(SCENES)
    done = subprocess.run([sys.executable, "-X", "faulthandler", str(script), "6"],
                          capture_output=True, text=True, timeout=180, env=os.environ.copy())
    assert done.returncode == 0, done.stderr[-3000:]
    counts = dict(kv.split("=") for kv in done.stdout.split())
    # Every thread got through its loop many times: the scenes really overlapped.
    assert len(counts) == 8 and all(int(n) > 5 for n in counts.values()), counts

