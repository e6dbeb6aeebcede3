"""quindelle-run's extended XYZ as another tool reads it, other tools' frames
(velocities or momenta, with or without masses) read back with --from,
damaged files refused, and quindelle.load of a frame to the last bit."""
import csv
import os
import re
import subprocess

import ase.io as ase_io
import numpy as np
import pytest
from ase import Atoms

import quindelle as qd
from conftest import significant_bytes

# (options, steps, every, the frames' steps)
RUNS = [
    (["--formula", "DUDI"], 9, 4, [0, 4, 8, 9]),
    (["--formula", "PES", "--walls", "10", "--kinds", "15"], 6, 3, [0, 3, 6]),
    (["--formula", "E", "--walls", "1.5", "--kinds", "10", "--cooler"], 2, 1, [0, 1, 2]),
]


def table(path):
    """The CSV rows by step and slot, as floats: what the table's own writer put there."""
    rows = {}
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            rows[(int(row["step"]), int(row["slot"]))] = row
    return rows


@pytest.mark.parametrize("options,steps,every,frames", RUNS)
def test_ase_reads_every_frame_as_the_table_has_it(tmp_path, start_file, quindelle_run, options, steps, every,
                                                   frames):
    start = start_file(particles=25, formula=options[1])
    quindelle_run(start, "--steps", steps, "--every", every, *options, "--xyz", tmp_path / "run.xyz",
                  "--csv", tmp_path / "run.csv")
    rows = table(tmp_path / "run.csv")
    read = ase_io.read(tmp_path / "run.xyz", index=":")
    assert [a.info["step"] for a in read] == frames
    kinds = {"15": 15, "10": 10}.get(options[options.index("--kinds") + 1] if "--kinds" in options else "", 30)
    for atoms in read:
        step = atoms.info["step"]
        slots = atoms.arrays["slot"].ravel()
        assert len(atoms) == 25
        first = rows[(step, int(slots.min()))]
        assert atoms.info["kinetic_energy"] == float(first["kinetic"])
        assert atoms.info["total_energy"] == float(first["total"])
        for i, slot in enumerate(slots):
            row = rows[(step, int(slot))]
            assert atoms.positions[i].tolist() == [float(row[c]) for c in ("x", "y", "z")]
            assert atoms.arrays["velo"][i].tolist() == [float(row[c]) for c in ("ux", "uy", "uz")]
            kind = 2 if slot > 60 - kinds else 1
            assert atoms.arrays["kind"][i] == kind
            assert atoms.get_chemical_symbols()[i] == ("S" if kind == 2 else "Cl")
        walls = options[options.index("--walls") + 1] if "--walls" in options else None
        assert not atoms.pbc.any()
        if walls:
            side = 2 * float(walls)
            assert np.array_equal(atoms.cell.array, side * np.eye(3))
            assert atoms.info["Origin"].tolist() == [-side / 2] * 3


def test_frames_ase_writes_start_a_run(tmp_path, start_file, quindelle_run):
    atoms = Atoms("Cl2S", positions=[[0, 0, 0], [1.25, 0, 0], [0, 2.5, 0.125]])
    atoms.set_velocities([[0.5, 0, 0], [0, 0, 0], [0, 0, -0.25]])
    ase_io.write(tmp_path / "ase.xyz", [atoms, atoms], format="extxyz")
    quindelle_run(start_file(), "--steps", 0, "--from", f"{tmp_path / 'ase.xyz'}@1", "--out", tmp_path / "o.pln")
    sim = qd.load(tmp_path / "o.pln")
    # Without a slot column the S particle goes to the second kind's first slot.
    slots = [0, 1, 30]
    assert np.flatnonzero(sim.present).tolist() == slots
    written = [line.split() for line in (tmp_path / "ase.xyz").read_text().splitlines()[2:5]]
    assert np.array_equal(sim.positions[slots], np.array([[np.longdouble(v) for v in w[1:4]] for w in written]))
    # ASE writes momenta: mass times velocity, the masses its own.
    assert np.allclose(sim.velocities[slots].astype(float), atoms.get_velocities(), rtol=0, atol=1e-9)


def slots_by_kind(symbols, second=30):
    """The slot (0 the first) of each particle of a file without a slot column:
    S in the second kind's slots, the rest in the first kind's, in order."""
    split = 60 - second
    # A kind with more particles than slots fills the other's from the top down.
    first = iter(list(range(split)) + list(range(59, split - 1, -1)))
    last = iter(list(range(split, 60)) + list(range(split - 1, -1, -1)))
    return [next(last) if s == "S" else next(first) for s in symbols]


def ase_cloud(seed, symbols, velocities, masses):
    rng = np.random.default_rng(seed)
    atoms = Atoms(symbols, positions=rng.uniform(-3, 3, (len(symbols), 3)))
    if masses:
        atoms.set_masses(rng.uniform(0.5, 5, len(symbols)))
    if velocities:
        atoms.set_velocities(rng.uniform(-0.2, 0.2, (len(symbols), 3)))
    return atoms


@pytest.mark.parametrize("velocities", [True, False])
@pytest.mark.parametrize("masses", [True, False])
def test_ase_files_give_its_velocities_and_each_kind_its_slots(tmp_path, start_file, quindelle_run, velocities,
                                                               masses):
    symbols = ["Cl", "S", "S", "Cl", "Cl", "S"] * 2 + ["Cl"] * 5
    atoms = ase_cloud(3, symbols, velocities, masses)
    ase_io.write(tmp_path / "ase.xyz", atoms, format="extxyz")
    header = (tmp_path / "ase.xyz").read_text().splitlines()[1]
    assert ("momenta:R:3" in header) == velocities and ("masses:R:1" in header) == masses
    start = start_file()
    for kinds in (30, 15, 10):
        quindelle_run(start, "--steps", 0, "--kinds", kinds, "--from", tmp_path / "ase.xyz", "--out",
                      tmp_path / f"o{kinds}.pln")
    for kinds, sim in [(30, qd.load(tmp_path / "ase.xyz"))] + [
            (k, qd.load(tmp_path / f"o{k}.pln")) for k in (30, 15, 10)]:
        slots = slots_by_kind(symbols, kinds)
        assert sorted(np.flatnonzero(sim.present)) == sorted(slots), kinds
        # ASE writes eight decimals: that is its precision.
        assert np.allclose(sim.positions[slots].astype(float), atoms.positions, rtol=0, atol=6e-9)
        want = atoms.get_velocities() if velocities else np.zeros((len(symbols), 3))
        assert np.allclose(sim.velocities[slots].astype(float), want, rtol=0, atol=6e-9 / 0.5), kinds


def test_every_species_gets_the_mass_ase_gives_it(tmp_path):
    from ase.data import chemical_symbols
    for first in range(0, len(chemical_symbols), 60):
        symbols = chemical_symbols[first:first + 60]
        atoms = ase_cloud(first, symbols, True, False)
        ase_io.write(tmp_path / "all.xyz", atoms, format="extxyz")
        sim = qd.load(tmp_path / "all.xyz")
        slots = slots_by_kind(symbols)
        got = sim.velocities[slots].astype(float)
        assert np.allclose(got, atoms.get_velocities(), rtol=0, atol=6e-9), [
            s for s, g, w in zip(symbols, got, atoms.get_velocities()) if not np.allclose(g, w, atol=6e-9)]


def test_a_trip_through_ase_keeps_the_kinetic_energy(tmp_path, start_file, quindelle_run):
    start = start_file(particles=25)
    # Standard output on a pipe takes the frames as a FIFO would.
    done = subprocess.run(f"'{os.environ['QUINDELLE_RUN']}' '{start}' --steps 3 --kinds 15 --xyz /dev/stdout | cat",
                          shell=True, capture_output=True, text=True, timeout=120, check=True)
    (tmp_path / "run.xyz").write_text(done.stdout)
    ours = qd.load(f"{tmp_path / 'run.xyz'}@-1")
    theirs = ase_io.read(tmp_path / "run.xyz", index=-1)
    # What a user of ASE makes of it: the particles anew, without the slot column.
    again = Atoms(theirs.get_chemical_symbols(), positions=theirs.positions, velocities=theirs.arrays["velo"])
    ase_io.write(tmp_path / "again.xyz", again, format="extxyz")
    back = qd.load(tmp_path / "again.xyz")
    assert back.kinetic == pytest.approx(ours.kinetic, rel=1e-7)
    second = theirs.get_chemical_symbols().count("S")
    assert second == np.count_nonzero(theirs.arrays["kind"] == 2) > 0
    assert np.count_nonzero(back.present[30:]) == second


DAMAGED = {
    "sixty_one.xyz": "61\n\n" + "Cl 0 0 0\n" * 61,
    "short.xyz": "3\n\nCl 0 0 0\n",
    "columns.xyz": "1\n\nCl 0 0\n",
    "nan.xyz": "1\n\nCl 0 nan 0\n",
    "word.xyz": "1\n\nCl 0 zero 0\n",
    "twice.xyz": "2\nProperties=species:S:1:pos:R:3:slot:I:1\nCl 0 0 0 3\nCl 1 1 1 3\n",
    "empty.xyz": "",
}


@pytest.mark.parametrize("name", sorted(DAMAGED) + ["fifo.xyz", "missing.xyz", "run.xyz@4"])
def test_damaged_start_files_exit_with_four(tmp_path, start_file, quindelle_run, name):
    start = start_file()
    for file, text in DAMAGED.items():
        (tmp_path / file).write_text(text)
    os.mkfifo(tmp_path / "fifo.xyz")
    (tmp_path / "run.xyz").write_text("1\n\nCl 0 0 0\n")
    done = quindelle_run(start, "--steps", 3, "--from", tmp_path / name, "--out", tmp_path / "o.pln",
                         "--xyz", tmp_path / "o.xyz", check=False)
    assert done.returncode == 4, done.stderr
    assert done.stderr.startswith(str(tmp_path / name.split("@")[0]) + ": ")
    assert not (tmp_path / "o.pln").exists() and not (tmp_path / "o.xyz").exists()


def test_load_takes_a_frame_as_quindelle_run_does(tmp_path, start_file, quindelle_run):
    start = start_file(particles=30)
    quindelle_run(start, "--steps", 4, "--xyz", tmp_path / "run.xyz", "--every", 2, "--out", tmp_path / "end.pln")
    end = qd.load(tmp_path / "end.pln")
    for path in (tmp_path / "run.xyz", f"{tmp_path / 'run.xyz'}@-1", f"{tmp_path / 'run.xyz'}@2"):
        sim = qd.load(path)
        assert sim.step_count == 0
        assert all(value == 0 for value in sim.params.values())
        assert np.array_equal(sim.present, end.present)
        for name in ("positions", "velocities"):
            assert np.array_equal(significant_bytes(getattr(sim, name)[end.present]),
                                  significant_bytes(getattr(end, name)[end.present])), (name, path)
    first = qd.load(f"{tmp_path / 'run.xyz'}@0")
    assert np.array_equal(significant_bytes(first.positions), significant_bytes(qd.load(start).positions)
                          * first.present[:, None, None])
    (tmp_path / "bad.xyz").write_text("2\n\nCl 0 0 0\n")
    with pytest.raises(ValueError, match="bad.xyz: XYZ line 3"):
        qd.load(tmp_path / "bad.xyz")
    with pytest.raises(ValueError, match="no frame 3"):
        qd.load(f"{tmp_path / 'run.xyz'}@3")
    with pytest.raises(FileNotFoundError):
        qd.load(tmp_path / "missing.xyz")


@pytest.mark.parametrize("selector", ["abc", "", "+1", "1.5"])
def test_a_frame_number_that_is_not_whole_is_refused(tmp_path, start_file, quindelle_run, selector):
    (tmp_path / "run.xyz").write_text("1\n\nCl 0 0 0\n")
    with pytest.raises(ValueError, match=f"frame '{re.escape(selector)}' is not a whole number"):
        qd.load(f"{tmp_path / 'run.xyz'}@{selector}")
    done = quindelle_run(start_file(), "--steps", 1, "--from", f"{tmp_path / 'run.xyz'}@{selector}", check=False)
    assert done.returncode == 2
    assert f"frame '{selector}' is not a whole number" in done.stderr


def test_a_file_named_with_an_at_is_read_whole(tmp_path):
    (tmp_path / "e.xyz@1").write_text("1\n\nCl 0.5 0 0\n")
    assert qd.load(tmp_path / "e.xyz@1").positions[0, 0] == np.longdouble("0.5")
