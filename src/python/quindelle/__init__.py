"""The package's face: the compiled part's classes under their public names,
and what is written in Python on top of them (the ASE bridge and the notebook
helpers)."""
from collections.abc import Iterator

from . import _quindelle
from ._ase import from_ase, to_ase
from ._notebook import plot_energies, repr_html
from ._quindelle import (FORMULAS, PARAMETERS, Archive, FloatingPointFault, History, Parameters, Simulation,
                         Snapshot, __version__)
from ._signatures import load

__doc__ = (_quindelle.__doc__ or "") + """
Beyond the run itself: sim.to_ase() and quindelle.from_ase(atoms) go to and
from ASE's Atoms; in a notebook a simulation shows itself as a table, and
quindelle.plot_energies(sim.history) draws its energies with matplotlib. The
package carries type stubs (PEP 561) for mypy and editors.
"""

__all__ = ["Archive", "FORMULAS", "FloatingPointFault", "History", "PARAMETERS", "Parameters", "Simulation",
           "Snapshot", "__version__", "from_ase", "load", "plot_energies"]

# What is written in Python is the package's too, for help() and pickles.
for _call, _name in [(from_ase, "from_ase"), (plot_energies, "plot_energies"), (to_ase, "Simulation.to_ase"),
                     (repr_html, "Simulation._repr_html_")]:
    _call.__module__, _call.__qualname__ = "quindelle", _name
setattr(Simulation, "to_ase", to_ase)
setattr(Simulation, "_repr_html_", repr_html)


def _iterate(self: History | Archive) -> Iterator[Snapshot | Simulation]:
    for i in range(len(self)):
        yield self[i]


# Both iterate by index as sequences do; an __iter__ of their own makes them
# Iterable to isinstance() and to type checkers alike.
setattr(History, "__iter__", _iterate)
setattr(Archive, "__iter__", _iterate)
