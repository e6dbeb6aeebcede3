"""What a notebook shows of a simulation: a table of its state and choices
in place of its one-line repr, and its energies drawn with matplotlib."""
from __future__ import annotations

import html
from collections.abc import Iterable
from typing import TYPE_CHECKING, Union

import numpy as np

from ._quindelle import Archive, FloatingPointFault, History, Simulation, Snapshot, _slot_kinds

if TYPE_CHECKING:
    from matplotlib.axes import Axes

Energies = Union[History, Archive, Simulation, Iterable[Union[Snapshot, Simulation]]]

SWITCHES = ("cooler", "heater", "blockade", "drop_b", "drop_cdf")


def _rows(sim: Simulation) -> list[tuple[str, str]]:
    kinds = _slot_kinds(sim)[sim.present]
    first, second = int(np.count_nonzero(kinds == 1)), int(np.count_nonzero(kinds == 2))
    switches = [name for name in SWITCHES if getattr(sim, name)]
    rows = [("step", f"{sim.step_count} (time {sim.time})"),
            ("particles", f"{first + second}: {first} of the first kind, {second} of the second"),
            ("formula", sim.formula),
            ("sign", sim.sign),
            ("second kind", f"the last {sim.kinds} slots"),
            ("walls", sim.walls),
            ("switches", ", ".join(switches) or "none"),
            ("kinetic", str(sim.kinetic))]
    try:
        potential = sim.potential
    except FloatingPointFault as fault:
        rows += [("potential", f"fault: {fault.message}"), ("total", "-")]
    else:
        rows += [("potential", str(potential)), ("total", str(sim.kinetic + potential))]
    if sim.source is not None:
        rows.append(("source", sim.source))
    return rows


def repr_html(self: Simulation) -> str | None:
    """The simulation as a small HTML table: the step, the particles, the
    formula and the other choices, and the energies with every digit.
    While it runs in another thread there is nothing to read: None, so that
    the notebook shows the plain repr."""
    try:
        rows = _rows(self)
    except RuntimeError:
        return None
    cell = 'style="text-align: left"'
    body = "".join(f"<tr><th {cell}>{html.escape(name)}</th><td {cell}>{html.escape(value)}</td></tr>"
                   for name, value in rows)
    return f'<table class="quindelle-simulation"><caption {cell}>quindelle.Simulation</caption>{body}</table>'


def plot_energies(history: Energies, ax: Axes | None = None) -> Axes:
    """Draws the kinetic, potential and total energy against the step, one
    line each, into `ax` (by default matplotlib's current axes), and returns
    the axes. `history` is sim.history, an Archive, or any sequence of
    snapshots or simulations (a simulation alone stands for its history).
    The 80-bit values are drawn as doubles, matplotlib's precision. Raises
    ImportError without matplotlib, ValueError when there is nothing to draw."""
    if isinstance(history, Simulation):
        history = history.history
    steps, energies = [], []
    for item in history:
        if isinstance(item, Snapshot):
            steps.append(item.step)
        elif isinstance(item, Simulation):
            steps.append(item.step_count)
        else:
            raise TypeError(f"plot_energies needs snapshots or simulations, not {type(item).__name__}")
        energies.append((item.kinetic, item.potential, item.total))
    if not steps:
        raise ValueError("plot_energies: no snapshots to draw (a history fills as the simulation runs)")
    if ax is None:
        try:
            import matplotlib.pyplot as plt
        except ImportError as e:
            raise ImportError("plot_energies needs matplotlib (Debian: python3-matplotlib; pip: matplotlib)") from e
        ax = plt.gca()
    values = np.array(energies, dtype=np.longdouble).astype(np.float64)
    for column, name in enumerate(("kinetic", "potential", "total")):
        ax.plot(steps, values[:, column], label=name)
    ax.set_xlabel("step")
    ax.set_ylabel("energy")
    ax.legend()
    return ax
