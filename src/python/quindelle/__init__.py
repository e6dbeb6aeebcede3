"""The package's face: the compiled part's classes under their public names,
and what is written in Python on top of them."""
from collections.abc import Iterator

from . import _quindelle
from ._quindelle import (FORMULAS, PARAMETERS, Archive, FloatingPointFault, History, Parameters, Simulation,
                         Snapshot, __version__)
from ._signatures import load

__doc__ = (_quindelle.__doc__ or "") + """
The package carries type stubs (PEP 561) for mypy and editors.
"""

__all__ = ["Archive", "FORMULAS", "FloatingPointFault", "History", "PARAMETERS", "Parameters", "Simulation",
           "Snapshot", "__version__", "load"]

def _iterate(self: History | Archive) -> Iterator[Snapshot | Simulation]:
    for i in range(len(self)):
        yield self[i]


# Both iterate by index as sequences do; an __iter__ of their own makes them
# Iterable to isinstance() and to type checkers alike.
setattr(History, "__iter__", _iterate)
setattr(Archive, "__iter__", _iterate)
