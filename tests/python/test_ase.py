"""sim.to_ase() gives the Atoms that ASE reads from quindelle-run's own XYZ
frame of the same state, and quindelle.from_ase() takes them back: to the
bit in memory, to ASE's decimals through its files, and with the slots,
kinds and walls of the simulation."""
import ase.io as ase_io
import numpy as np
import pytest
from ase import Atoms

import quindelle as qd
from conftest import cloud, faulting_potential

# (formula, kinds, walls, particles, steps)
STATES = [
    ("DUDI", 30, "none", 25, 7),
    ("PES", 15, "10", 40, 5),
    ("E", 10, "1.5", 12, 3),
    ("DUDI", 15, "100", 60, 2),
]


def running(formula, kinds, walls, particles, steps, seed=4):
    sim = cloud(seed=seed, particles=particles, formula=formula)
    sim.formula, sim.kinds, sim.walls = formula, kinds, walls
    sim.run(steps)
    return sim


def within_an_ulp(got, want):
    got, want = np.asarray(got, np.float64), np.asarray(want, np.float64)
    return bool(np.all(np.abs(got - want) <= np.spacing(np.abs(want))))


def slots_of(sim):
    return np.flatnonzero(sim.present) + 1


@pytest.mark.parametrize("state", STATES, ids=[f"{s[0]}-kinds{s[1]}-walls{s[2]}" for s in STATES])
def test_to_ase_is_what_ase_reads_of_quindelle_runs_frame(tmp_path, quindelle_run, state):
    formula, kinds, walls, particles, steps = state
    sim = running(*state)
    start = tmp_path / "start.pln"
    cloud(seed=4, particles=particles, formula=formula).save(start)
    quindelle_run(start, "--steps", steps, "--every", steps, "--formula", formula, "--kinds", kinds, "--walls", walls,
                  "--xyz", tmp_path / "run.xyz")
    frame = ase_io.read(tmp_path / "run.xyz", index=-1)
    atoms = sim.to_ase()
    assert atoms.get_chemical_symbols() == frame.get_chemical_symbols()
    for name in ("slot", "kind"):
        assert atoms.arrays[name].tolist() == frame.arrays[name].ravel().tolist(), name
    assert np.array_equal(atoms.cell.array, frame.cell.array) and not atoms.pbc.any()
    assert ("Origin" in atoms.info) == (walls != "none") == ("Origin" in frame.info)
    if walls != "none":
        assert atoms.info["Origin"].tolist() == frame.info["Origin"].tolist()
    assert atoms.info["step"] == frame.info["step"] == steps
    for name in ("kinetic_energy", "potential_energy", "total_energy"):
        assert atoms.info[name] == pytest.approx(frame.info[name], rel=1e-15), name
    # The writer's 21 digits, read by ASE, are the float64 values but for a
    # value exactly halfway between two, which its decimals may tip.
    assert within_an_ulp(atoms.positions, frame.positions)
    assert within_an_ulp(atoms.get_velocities(), frame.arrays["velo"])
    assert atoms.get_kinetic_energy() == pytest.approx(float(sim.kinetic), rel=1e-14)

    # Either way back gives the simulation's particles, slots and choices.
    for back in (qd.from_ase(atoms), qd.from_ase(frame)):
        assert np.array_equal(back.present, sim.present)
        assert (back.kinds, back.walls, back.step_count) == (kinds, walls, 0)
        assert all(v == 0 for v in back.params.values())
        rows = sim.present
        assert within_an_ulp(back.positions[rows], sim.positions[rows].astype(np.float64))
        assert within_an_ulp(back.velocities[rows], sim.velocities[rows].astype(np.float64))


@pytest.mark.parametrize("state", STATES, ids=[f"{s[0]}-kinds{s[1]}-walls{s[2]}" for s in STATES])
def test_a_trip_through_ase_keeps_the_particles(tmp_path, state):
    sim = running(*state)
    # In memory: float64 to the bit.
    back = qd.from_ase(sim.to_ase())
    assert np.array_equal(back.present, sim.present) and (back.kinds, back.walls) == (sim.kinds, sim.walls)
    for name in ("positions", "velocities"):
        want = getattr(sim, name).astype(np.float64) * sim.present[:, None]
        assert np.array_equal(getattr(back, name), want.astype(np.longdouble)), name
    # Through ASE's trajectory file: float64 to the bit, the slots as tags.
    ase_io.write(tmp_path / "sim.traj", sim.to_ase())
    whole = qd.from_ase(ase_io.read(tmp_path / "sim.traj"))
    assert np.array_equal(whole.present, sim.present) and (whole.kinds, whole.walls) == (sim.kinds, sim.walls)
    for name in ("positions", "velocities"):
        want = getattr(sim, name).astype(np.float64) * sim.present[:, None]
        assert np.array_equal(getattr(whole, name), want.astype(np.longdouble)), name
    # Through ASE's own extended XYZ: the eight decimals it writes.
    ase_io.write(tmp_path / "sim.xyz", sim.to_ase(), format="extxyz")
    read = ase_io.read(tmp_path / "sim.xyz")
    again = qd.from_ase(read)
    assert np.array_equal(again.present, sim.present) and (again.kinds, again.walls) == (sim.kinds, sim.walls)
    assert read.info["step"] == sim.step_count and read.get_masses().tolist() == [1.0] * len(read)
    for name in ("positions", "velocities"):
        assert np.allclose(getattr(again, name)[sim.present].astype(float),
                           getattr(sim, name)[sim.present].astype(float), rtol=0, atol=5.1e-9), name


def test_a_state_that_tells_the_kinds_apart_keeps_them():
    # Slots 31 to 45 are of the first kind under kinds 15 and of the second
    # under 30: a particle there decides, one outside does not.
    for slots, kinds, found in [([1, 40, 50], 15, 15), ([1, 50, 55], 15, 30), ([1, 48, 52], 10, 10),
                                ([1, 45, 52], 10, 15)]:
        sim = qd.Simulation()
        present = np.zeros(60, bool)
        present[np.array(slots) - 1] = True
        sim.present, sim.kinds = present, kinds
        atoms = sim.to_ase()
        assert qd.from_ase(atoms).kinds == found, (slots, kinds)
        # The kinds alike move every particle alike.
        assert atoms.arrays["kind"].tolist() == qd.from_ase(atoms).to_ase().arrays["kind"].tolist()


@pytest.mark.parametrize("symbols", [
    ["Cl", "S", "S", "Cl", "Cl", "S"] * 3,
    ["S"] * 35 + ["Cl"] * 5,    # the second kind spills into the first kind's slots
    ["Cl"] * 40 + ["S"] * 12,   # and the first into the second's
    ["H", "S", "O", "Cl"] * 5,  # species of neither kind are of the first
], ids=["mixed", "many S", "many Cl", "other species"])
def test_atoms_without_slots_take_those_quindelle_run_gives(tmp_path, symbols):
    rng = np.random.default_rng(len(symbols))
    atoms = Atoms(symbols, positions=rng.uniform(-3, 3, (len(symbols), 3)))
    atoms.set_velocities(rng.uniform(-0.2, 0.2, (len(symbols), 3)))
    ase_io.write(tmp_path / "ase.xyz", atoms, format="extxyz")
    ours, loaded = qd.from_ase(atoms), qd.load(tmp_path / "ase.xyz")
    assert np.array_equal(ours.present, loaded.present)
    assert np.allclose(ours.positions.astype(float), loaded.positions.astype(float), rtol=0, atol=5.1e-9)
    rows = np.flatnonzero(ours.present)
    # In the file's order within each kind, so each atom is found again.
    placed = {tuple(np.round(p, 6)) for p in ours.positions[rows].astype(float)}
    assert placed == {tuple(np.round(p, 6)) for p in atoms.positions}
    assert np.allclose(ours.velocities.astype(float)[rows], loaded.velocities.astype(float)[rows], atol=1e-7)


def test_slots_come_from_the_argument_before_the_array():
    sim = running("DUDI", 30, "none", 6, 2)
    atoms = sim.to_ase()
    mine = [60, 1, 2, 3, 4, 5]
    moved = qd.from_ase(atoms, slots=mine)
    assert (slots_of(moved) == sorted(mine)).all()
    assert moved.positions[59].astype(float).tolist() == atoms.positions[0].tolist()
    del atoms.arrays["slot"]
    assert (slots_of(qd.from_ase(atoms, slots=np.array(mine))) == sorted(mine)).all()


def with_slots(*slots):
    return lambda a: a.arrays.update(slot=np.array(slots))


@pytest.mark.parametrize("change,slots,message", [
    (with_slots(1, 2, 2), None, "slot 2 comes twice"),
    (with_slots(0, 1, 2), None, "slot 0 is not one of 1 to 60"),
    (with_slots(1, 2, 61), None, "slot 61 is not one of 1 to 60"),
    (lambda a: a.positions.__setitem__((1, 2), np.nan), None, r"atom 1 \(slot 2\): its position is not finite"),
    (lambda a: a.set_velocities([[0, 0, 0], [0, 0, 0], [np.inf, 0, 0]]), None, "its velocity is not finite"),
    (None, [1, 2], "slots gives 2 slots for 3 atoms"),
    (None, [1, 2, 2.5], "whole numbers"),
    (None, ["a", "b", "c"], "whole numbers"),
    (lambda a: a.extend(Atoms("Cl58", positions=np.zeros((58, 3)))), None, "61 atoms; at most 60 fit"),
], ids=["twice", "zero", "beyond", "nan", "infinite", "too few", "fraction", "text", "too many"])
def test_wrong_atoms_are_refused(change, slots, message):
    atoms = Atoms("Cl2S", positions=np.zeros((3, 3)))
    atoms.arrays["slot"] = np.array([1, 2, 31])
    if change:
        change(atoms)
    with pytest.raises(ValueError, match=message):
        qd.from_ase(atoms, slots=slots)


def test_velocities_come_from_momenta_then_a_velo_column():
    positions = [[0, 0, 0], [1, 0, 0]]
    heavy = Atoms("ClS", positions=positions, masses=[2.0, 4.0])
    heavy.set_velocities([[0.5, 0, 0], [0, 0.25, 0]])
    read_back = Atoms("ClS", positions=positions)
    read_back.arrays["velo"] = np.array([[0.5, 0, 0], [0, 0.25, 0]])
    for atoms in (heavy, read_back):
        assert qd.from_ase(atoms).velocities[[0, 30]].astype(float).tolist() == [[0.5, 0, 0], [0, 0.25, 0]]
    assert not qd.from_ase(Atoms("ClS", positions=positions)).velocities.any()


def test_the_empty_and_the_faulting_state(monkeypatch):
    empty = qd.Simulation().to_ase()
    assert len(empty) == 0 and not empty.cell.any()
    assert qd.from_ase(empty).particle_count == 0
    # A potential that faults leaves the energies out, not the particles.
    faulting_potential(monkeypatch)
    sim = running("DUDI", 30, "none", 5, 1)
    atoms = sim.to_ase()
    assert len(atoms) == 5 and "kinetic_energy" in atoms.info
    assert "potential_energy" not in atoms.info and "total_energy" not in atoms.info
