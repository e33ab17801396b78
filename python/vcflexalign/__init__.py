"""Flexible pattern alignment: find a part made of rigid pieces that may have moved, turned or
scaled slightly against each other.

The compiled bindings live in ``vcflexalign._vcflexalign``; everything is re-exported here.
``vcflexalign.samples`` makes synthetic images with known poses, ``vcflexalign.batch`` runs a
pattern over many image files, locally or on a Dask cluster.
"""
import sys as _sys

from . import _vcflexalign
from ._vcflexalign import *  # noqa: F401,F403
from ._vcflexalign import __version__, samples  # noqa: F401


def _rename(module, name):
    # Classes report (and pickle under) the package's names rather than the compiled module's,
    # so pickles stay valid however the bindings are laid out.
    for obj in vars(module).values():
        if isinstance(obj, type) and obj.__module__.startswith(_vcflexalign.__name__):
            obj.__module__ = name


_rename(_vcflexalign, __name__)
_rename(samples, __name__ + ".samples")
samples.__name__ = __name__ + ".samples"
_sys.modules[samples.__name__] = samples
