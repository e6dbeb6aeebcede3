"""quindelle-run's extended XYZ as another tool reads it, other tools' frames
read back with --from, damaged files refused, and quindelle.load of a frame
to the last bit."""
import csv
import os

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
    assert sim.present.tolist() == [True] * 3 + [False] * 57
    written = [line.split() for line in (tmp_path / "ase.xyz").read_text().splitlines()[2:5]]
    assert np.array_equal(sim.positions[:3], np.array([[np.longdouble(v) for v in w[1:4]] for w in written]))
    # ASE writes momenta; the program's particles have unit mass.
    momenta = np.array([[np.longdouble(v) for v in w[4:7]] for w in written])
    assert np.array_equal(sim.velocities[:3], momenta)


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
