"""One pattern over many image files: on a local thread pool, or spread over a Dask cluster.

    from vcflexalign import batch
    records = batch.run_images(pattern, paths, start_pose=pose, params=params)
    records = batch.run_images(pattern, paths, client=distributed.Client("tcp://host:8786"))

Each record is the plain dict that ``flexalign run --json`` prints for an image (see
``record``); an image that cannot be read or run gives an error record instead of an exception.
A pattern runs with its own run settings and start pose (``pattern.run_params``,
``pattern.start_pose``) unless ``params=`` or ``start_pose=`` are given. With
``inspect=golden_model`` every image is inspected instead, and its record is the one
``flexalign inspect run --json`` prints.
"""
import copy
import os
import threading
import weakref
from concurrent.futures import ThreadPoolExecutor, as_completed

from . import _vcflexalign as _vf

_RUN_SETTINGS = ("start_pose", "params", "mask", "fixtures")


def record(image_name, image, result_set):
    """One image's run as the plain dict ``flexalign run --json`` prints: ``result_set.to_dict``,
    made by the same code as the command's (``image`` is the array that was run)."""
    # The name is set here: one that is not UTF-8 (surrogate escapes, as os.listdir gives it)
    # has no std::string for the record's builder.
    out = result_set.to_dict("")
    out["image"] = image_name
    return out


def error_record(image_name, error):
    """What an image that could not be read or run gives: its name and the one-line reason."""
    return {"image": image_name, "error": str(error), "found": False, "results": []}


class _Job:
    """What every image of a batch shares; sent to each worker once."""

    def __init__(self, pattern, settings, golden=None, side_by_side=False):
        self.pattern = pattern
        self.settings = settings
        self.golden = golden
        # Images run side by side: each run then keeps to one thread, as runs spread over every
        # core on each of several threads only take turns for the cores.
        self.side_by_side = side_by_side


_local = threading.local()


def _own_pattern(pattern):
    # Runs of one pattern take turns, so every thread runs its own copy, made once per thread.
    source = getattr(_local, "source", None)
    if source is None or source() is not pattern:
        _local.pattern = copy.copy(pattern)
        _local.source = weakref.ref(pattern)
    return _local.pattern


def _own_golden(golden):
    # A golden model runs its pattern, which takes one run at a time: each thread has a copy.
    if getattr(_local, "golden_source", None) is not golden:
        _local.golden = copy.copy(golden)
        _local.golden_source = golden
    return _local.golden


def _run_settings(job):
    # A run whose parameters leave its thread count to the machine (0) gets a copy set to one
    # thread when images run side by side; made once per thread and job. The caller's
    # parameters are not touched, and a count they set stays.
    if not job.side_by_side:
        return job.settings
    cached = getattr(_local, "settings", None)
    if cached is not None and cached[0]() is job:
        return cached[1]
    settings = dict(job.settings)
    params = settings.get("params")
    if params is None:
        params = job.pattern.run_params
    if params.threads == 0:
        params = copy.copy(params)
        params.threads = 1
        settings["params"] = params
    _local.settings = (weakref.ref(job), settings)
    return settings


def run_image(job, path):
    """Reads and runs (or inspects) one image; an image that cannot be read or run (a file that
    is not there, a mask of another size, a name with a NUL byte) gives an error record."""
    # A name that is not UTF-8 comes from os.listdir as a str with surrogate escapes; its
    # bytes name the file.
    name = os.fsdecode(path)
    try:
        image = _vf.read_image(os.fsencode(name))
        if job.golden is not None:
            out = _own_golden(job.golden).inspect(image).to_dict("")
            out["image"] = name  # set here for the reason record() gives
            return out
        return record(name, image, _own_pattern(job.pattern).run(image, **_run_settings(job)))
    except Exception as e:  # noqa: BLE001 -- one image's failure is that image's record
        return error_record(name, e)


def run_chunk(job, paths):
    """The records of a few images: one cluster task, so that its overhead is shared."""
    return [run_image(job, p) for p in paths]


def _progress_bar(total, wanted):
    if not wanted:
        return None
    from tqdm import tqdm

    return tqdm(total=total, unit="image")


def run_images(pattern, paths, client=None, progress=False, threads=None, chunk_size=None,
               inspect=None, **run_settings):
    """Runs ``pattern`` on every image file of ``paths``; returns one record per path, in order.

    run_settings go to ``Pattern.run`` for every image: start_pose, params, mask, fixtures
    (start_pose and params default to the pattern's own).
    With a ``distributed.Client`` the pattern and settings are scattered to every worker once,
    each worker reads its images itself (so the paths must be readable there) and only the
    records come back. Without one, images run on ``threads`` local threads (default: one per
    processor), each with its own copy of the pattern. Images running side by side (more than
    one thread, or a cluster), each run keeps to one thread unless its parameters set a count.
    ``progress=True`` shows a tqdm bar.
    ``inspect``: a ``GoldenModel``; each image is inspected with it (it runs the pattern and
    settings it was trained with, so ``pattern`` may be None and run settings are refused) and
    its record is ``Inspection.to_dict``: image, found, verdict, reason, defects.
    """
    unknown = set(run_settings) - set(_RUN_SETTINGS)
    if unknown:
        raise TypeError(f"run_images: unknown run settings {sorted(unknown)}; "
                        f"Pattern.run takes {', '.join(_RUN_SETTINGS)}")
    if inspect is not None:
        if not isinstance(inspect, _vf.GoldenModel):
            raise TypeError(f"run_images: inspect must be a GoldenModel, not {type(inspect).__name__}")
        if run_settings:
            raise TypeError("run_images: an inspection runs the golden model's own pattern and "
                            f"settings; leave out {sorted(run_settings)}")
    elif pattern is None or not pattern.trained:
        raise _vf.FlexAlignError("run_images: the pattern is not trained")
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("run_images: paths must be a list of paths, not one path "
                        f"({type(paths).__name__}); use [path]")
    if chunk_size is not None and (not isinstance(chunk_size, int) or chunk_size < 1):
        raise ValueError("run_images: chunk_size must be a whole number of at least 1, "
                         f"not {chunk_size!r}")
    if inspect is None and run_settings.get("start_pose") is None and pattern.start_pose is None:
        raise _vf.ParamsError("run_images: no start pose: pass start_pose=, or set "
                              "pattern.start_pose (a pattern trained here holds none)")
    paths = [os.fspath(p) for p in paths]
    workers = threads or len(os.sched_getaffinity(0))
    job = _Job(pattern, run_settings, inspect, side_by_side=client is not None or workers > 1)
    bar = _progress_bar(len(paths), progress)
    try:
        if client is None:
            return _run_local(job, paths, threads, bar)
        return _run_on_cluster(client, job, paths, chunk_size, bar)
    finally:
        if bar is not None:
            bar.close()


def _run_local(job, paths, threads, bar):
    workers = threads or len(os.sched_getaffinity(0))
    with ThreadPoolExecutor(max_workers=workers) as pool:
        futures = [pool.submit(run_image, job, p) for p in paths]
        if bar is not None:
            for _ in as_completed(futures):
                bar.update()
        return [f.result() for f in futures]


def _run_on_cluster(client, job, paths, chunk_size, bar):
    import distributed

    if chunk_size is None:
        workers = max(1, len(client.scheduler_info()["workers"]))
        chunk_size = max(1, min(16, len(paths) // (4 * workers)))
    chunks = [paths[i:i + chunk_size] for i in range(0, len(paths), chunk_size)]
    # The workers rebuild the pattern from its archive; a subclass of Pattern (with its own
    # attributes, or defined where the workers cannot import it) travels as a plain one.
    if job.pattern is not None and type(job.pattern) is not _vf.Pattern:
        job = _Job(_vf.Pattern.from_bytes(job.pattern.to_bytes()), job.settings, job.golden,
                   job.side_by_side)
    # Scattered to every worker once; each task then names it instead of carrying the pattern.
    shared = client.scatter(job, broadcast=True, hash=False)
    futures = client.map(run_chunk, [shared] * len(chunks), chunks, pure=False)
    try:
        if bar is not None:
            sizes = {f.key: len(c) for f, c in zip(futures, chunks)}
            for future in distributed.as_completed(futures):
                bar.update(sizes[future.key])
        return [r for records in client.gather(futures) for r in records]
    except BaseException:
        # Interrupted or failed: stop what is still queued. (When all went well, dropping the
        # futures releases them; cancel would wait for the scheduler a second.)
        client.cancel(futures + [shared])
        raise
