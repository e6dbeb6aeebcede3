"""Simulations to and from ASE's Atoms, with the conventions of the program's
extended XYZ files: the species of each kind, the slot and kind columns, and
the walls' box as the cell, so that a frame ASE reads from quindelle-run
--xyz and the Atoms of sim.to_ase() look alike."""
from __future__ import annotations

from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from ._quindelle import _KIND_SPECIES, _WALL_HALF_WIDTHS, FloatingPointFault, Simulation, _slot_kinds

if TYPE_CHECKING:
    from ase import Atoms

SLOTS = 60
KINDS = (30, 15, 10)


def _ase() -> Any:
    try:
        import ase
    except ImportError as e:
        raise ImportError("quindelle's ASE bridge needs ASE, the Atomic Simulation Environment "
                          "(Debian: python3-ase; pip: ase)") from e
    return ase


def to_ase(self: Simulation) -> Atoms:
    """The present particles as an ase.Atoms, in slot order: positions and
    velocities rounded to float64, the species as quindelle-run --xyz writes
    them (Cl for the first kind, S for the second), the arrays "slot" (1 to
    60, also as the tags) and "kind" (1 or 2), every mass 1 (the program's particles have unit
    mass, so that get_kinetic_energy() is sim.kinetic), and with walls their
    box as the cell, with its corner in info["Origin"]. info also holds the
    step and the energies; a potential that faults is left out."""
    ase = _ase()
    present = self.present
    slots = np.flatnonzero(present) + 1
    kinds = _slot_kinds(self)[present].astype(int)
    atoms = ase.Atoms([_KIND_SPECIES[k - 1] for k in kinds], positions=self.positions[present].astype(np.float64),
                      masses=np.ones(len(slots)))
    # With unit masses the momenta ASE keeps are the velocities to the bit.
    atoms.set_velocities(self.velocities[present].astype(np.float64))
    atoms.arrays["slot"] = slots
    atoms.arrays["kind"] = kinds
    # ASE's own files (.traj, .json) keep tags but no arrays of their own:
    # the slots go there too, so that a trip through them loses nothing.
    atoms.set_tags(slots)
    half = _WALL_HALF_WIDTHS[self.walls]
    if half > 0:
        atoms.cell = np.eye(3) * 2 * half
        atoms.info["Origin"] = np.full(3, -half)
    atoms.info["step"] = self.step_count
    kinetic = self.kinetic
    atoms.info["kinetic_energy"] = float(kinetic)
    try:
        potential = self.potential
    except FloatingPointFault:
        pass
    else:
        atoms.info["potential_energy"] = float(potential)
        atoms.info["total_energy"] = float(kinetic + potential)
    return atoms


def _placed(kinds: Sequence[int], second: int) -> list[int]:
    """Slots for particles that come without any: as quindelle-run --from
    places them, each kind in its own slots in order, and a kind with more
    particles than slots in the other's free ones from the top down."""
    split = SLOTS - second
    first, second_up, first_down, second_down = 1, split + 1, SLOTS, split
    slots = []
    for kind in kinds:
        if kind == 2:
            if second_up <= SLOTS:
                slots.append(second_up)
                second_up += 1
            else:
                slots.append(second_down)
                second_down -= 1
        elif first <= split:
            slots.append(first)
            first += 1
        else:
            slots.append(first_down)
            first_down -= 1
    return slots


def _given_slots(slots: Any, count: int) -> list[int]:
    given = np.asarray(slots).ravel()
    if len(given) != count:
        raise ValueError(f"slots gives {len(given)} slots for {count} atoms")
    if given.dtype.kind not in "iu" and not (given.dtype.kind == "f" and np.all(given == np.round(given))):
        raise ValueError("slots needs whole numbers from 1 to 60")
    out = [int(s) for s in given]
    wrong = [s for s in out if not 1 <= s <= SLOTS]
    if wrong:
        raise ValueError(f"slot {wrong[0]} is not one of 1 to 60")
    twice = sorted({s for s in out if out.count(s) > 1})
    if twice:
        raise ValueError(f"slot {twice[0]} comes twice")
    return out


def _walls(atoms: Any) -> str:
    """The walls whose box the frame carries as its cell, with the corner
    that to_ase and quindelle-run --xyz give it; otherwise none, since a
    cell alone is any box ASE's user may have drawn."""
    origin = atoms.info.get("Origin")
    if origin is None or atoms.pbc.any():
        return "none"
    for name, half in _WALL_HALF_WIDTHS.items():
        if half > 0 and np.array_equal(atoms.cell.array, np.eye(3) * 2 * half) and np.array_equal(
                np.asarray(origin, dtype=float).ravel(), np.full(3, -half)):
            return name
    return "none"


def from_ase(atoms: Atoms, slots: npt.ArrayLike | None = None) -> Simulation:
    """A new simulation of the atoms' particles: every parameter 0 and step 0,
    as quindelle.load of an XYZ frame gives. Each atom goes to the slot that
    `slots` names, else that of its "slot" array, else its tag (to_ase
    puts the slot there too, for ASE's .traj files; atoms with a tag 0 take
    none), else one given as
    quindelle-run --from gives it (the second kind's species, S, in the last
    30 slots, the rest in the first 30, in order). The velocities are ASE's
    (get_velocities()) when the atoms have momenta, else those of a "velo"
    or "velocities" array, as ASE reads them from quindelle-run --xyz, else
    0. The kinds are the first of 30, 15 and 10 under which every atom's
    slot has its kind (its "kind" array, else its species), and the walls
    those whose box the cell is, as to_ase gives them. Raises ValueError for
    more than 60 atoms, wrong or repeated slots, or a position or velocity
    that is not finite."""
    count = len(atoms)
    if count > SLOTS:
        raise ValueError(f"{count} atoms; at most {SLOTS} fit")
    # Placed by species alone, as --from places them; the kind column, where
    # there is one, tells the kinds apart for the choice of `kinds`.
    by_species = [2 if s == _KIND_SPECIES[1] else 1 for s in atoms.get_chemical_symbols()]
    kinds = [int(k) for k in np.asarray(atoms.arrays["kind"]).ravel()] if "kind" in atoms.arrays else by_species
    if slots is not None:
        where = _given_slots(slots, count)
    elif "slot" in atoms.arrays:
        where = _given_slots(atoms.arrays["slot"], count)
    elif count and atoms.get_tags().all():
        where = _given_slots(atoms.get_tags(), count)
    else:
        where = _placed(by_species, KINDS[0])
    if atoms.has("momenta"):
        velocities = atoms.get_velocities()
    else:
        column = next((atoms.arrays[n] for n in ("velo", "velocities") if n in atoms.arrays), None)
        velocities = np.zeros((count, 3)) if column is None else np.asarray(column, dtype=np.float64)
    positions = atoms.get_positions()
    for name, values in (("position", positions), ("velocity", velocities)):
        bad = np.flatnonzero(~np.isfinite(values).all(axis=1))
        if len(bad):
            raise ValueError(f"atom {bad[0]} (slot {where[bad[0]]}): its {name} is not finite")

    sim = Simulation()
    rows = np.array(where, dtype=int) - 1
    present = np.zeros(SLOTS, bool)
    present[rows] = True
    # float64 to longdouble is exact: the particles are ASE's to the bit.
    full = np.zeros((SLOTS, 3), np.longdouble)
    full[rows] = positions
    sim.positions = full
    full = np.zeros((SLOTS, 3), np.longdouble)
    full[rows] = velocities
    sim.velocities = full
    sim.present = present
    sim.kinds = next((k for k in KINDS if all((s > SLOTS - k) == (kind == 2) for s, kind in zip(where, kinds))),
                     KINDS[0])
    sim.walls = _walls(atoms)
    return sim
