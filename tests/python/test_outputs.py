"""run() writes the table, the trajectory and the archive quindelle-run
writes for the same options, byte for byte, with its refusals, and goes on
with an archive as --resume does."""
import threading

import pytest

import quindelle as qd
from conftest import cloud

# formula, steps, every, archive_every, particles
CASES = [
    ("DUDI", 40, 7, 10, 20),
    ("E", 25, 1, None, 12),
    ("PES", 30, 30, 4, 8),
]


def outputs(folder):
    return {name: (folder / name).read_bytes() for name in ("run.csv", "run.xyz", "run.qra")}


@pytest.mark.parametrize("formula,steps,every,archive_every,particles", CASES)
def test_outputs_equal_quindelle_runs(tmp_path, quindelle_run, formula, steps, every, archive_every, particles):
    start = tmp_path / "start.pln"
    cloud(particles=particles, formula=formula).save(start)
    (tmp_path / "py").mkdir()
    (tmp_path / "cli").mkdir()
    sim = qd.load(start)
    sim.formula = formula
    sim.walls = "10"
    sim.run(steps, every=every, archive_every=archive_every, csv=tmp_path / "py/run.csv",
            xyz=str(tmp_path / "py/run.xyz"), archive=bytes(tmp_path / "py/run.qra"))
    extra = [] if archive_every is None else ["--archive-every", archive_every]
    quindelle_run(start, "--steps", steps, "--formula", formula, "--walls", "10", "--every", every,
                  "--csv", tmp_path / "cli/run.csv", "--xyz", tmp_path / "cli/run.xyz",
                  "--archive", tmp_path / "cli/run.qra", *extra)
    assert outputs(tmp_path / "py") == outputs(tmp_path / "cli")
    # The table and the history agree on where the run stands.
    assert sim.step_count == steps and sim.history[-1].step == steps


def test_an_archive_goes_on_as_resume_does(tmp_path, quindelle_run):
    start = tmp_path / "start.pln"
    cloud(particles=16).save(start)
    py_archive, cli_archive = tmp_path / "py.qra", tmp_path / "cli.qra"
    sim = qd.load(start)
    sim.formula = "DUDI"
    sim.run(30, archive=py_archive, archive_every=10)
    # The simulation that ran goes on, and so does one loaded from the archive.
    sim.run(20, archive=py_archive, resume=True)
    again = qd.load(py_archive)
    again.run(15, archive=py_archive, resume=True, csv=tmp_path / "py.csv", every=5)
    quindelle_run(start, "--steps", 30, "--formula", "DUDI", "--archive", cli_archive, "--archive-every", 10)
    quindelle_run("--archive", cli_archive, "--resume", "--steps", 20)
    quindelle_run("--archive", cli_archive, "--resume", "--steps", 15, "--csv", tmp_path / "cli.csv",
                  "--every", 5)
    assert py_archive.read_bytes() == cli_archive.read_bytes()
    assert (tmp_path / "py.csv").read_bytes() == (tmp_path / "cli.csv").read_bytes()
    assert [s.step_count for s in qd.Archive(py_archive)] == [0, 10, 20, 30, 40, 50, 60, 65]


def test_refusals_leave_every_file_as_it_was(tmp_path):
    start = tmp_path / "start.pln"
    cloud(particles=8).save(start)
    sim = qd.load(start)
    archive = tmp_path / "run.qra"
    sim.run(3, archive=archive)
    kept = archive.read_bytes(), start.read_bytes()
    other = qd.load(start)
    cases = [
        (dict(archive=archive), OSError, "File exists"),
        (dict(csv=start), ValueError, "the input and csv are the same file"),
        (dict(csv=tmp_path / "a", xyz=tmp_path / "a"), ValueError, "csv and xyz are the same file"),
        (dict(archive=archive, resume=True), ValueError, "not where the archive's run ended (step 3)"),
        (dict(archive_every=5), ValueError, "archive_every only goes with archive"),
        (dict(resume=True), ValueError, "resume=True needs the archive"),
        (dict(archive=tmp_path / "none.qra", resume=True), OSError, "none.qra"),
        (dict(csv=tmp_path / "no/such/run.csv"), OSError, "run.csv"),
        (dict(resume=None, archive=archive), TypeError, "resume needs True or False"),
    ]
    for kwargs, error, words in cases:
        with pytest.raises(error, match=words.replace("(", r"\(").replace(")", r"\)")):
            other.run(5, **kwargs)
        assert other.step_count == 0, kwargs
    assert (archive.read_bytes(), start.read_bytes()) == kept
    assert sorted(p.name for p in tmp_path.iterdir()) == ["run.qra", "start.pln"]
    with pytest.raises(ValueError, match="at most 2147483647 steps"):
        other.run(2**31, csv=tmp_path / "big.csv")


def test_a_run_ended_early_writes_what_a_run_of_its_steps_writes(tmp_path, quindelle_run):
    start = tmp_path / "start.pln"
    cloud(particles=8).save(start)
    sim = qd.load(start)
    sim.formula = "DUDI"
    # stop() from another thread ends the run at a step off the table's grid.
    threading.Timer(0.3, sim.stop).start()
    sim.run(10**8, csv=tmp_path / "py.csv", xyz=tmp_path / "py.xyz", every=7)
    steps = sim.step_count
    assert 0 < steps < 10**8
    quindelle_run(start, "--steps", steps, "--formula", "DUDI", "--every", 7, "--csv", tmp_path / "cli.csv",
                  "--xyz", tmp_path / "cli.xyz")
    for name in ("csv", "xyz"):
        assert (tmp_path / f"py.{name}").read_bytes() == (tmp_path / f"cli.{name}").read_bytes()


def test_a_run_ended_by_an_exception_keeps_only_the_archive(tmp_path, quindelle_run):
    start = tmp_path / "start.pln"
    cloud(particles=8).save(start)
    sim = qd.load(start)

    def fail(s):
        if s.step_count == 20:
            raise RuntimeError("enough")

    with pytest.raises(RuntimeError, match="enough") as caught:
        sim.run(100, every=10, callback=fail, csv=tmp_path / "run.csv", archive=tmp_path / "run.qra",
                archive_every=10)
    assert "no output written but the archive" in "".join(caught.value.__notes__)
    assert not (tmp_path / "run.csv").exists()
    quindelle_run(start, "--steps", 20, "--archive", tmp_path / "cli.qra", "--archive-every", 10)
    assert (tmp_path / "run.qra").read_bytes() == (tmp_path / "cli.qra").read_bytes()


def test_energies_kept_between_reads_follow_every_change():
    sim = cloud(particles=40, formula="PES")
    sim.formula = "PES"
    assert sim.potential == sim.potential == sim.copy().potential
    seen = []

    def note(s):
        seen.append((s.potential, s.copy().potential, s.total - s.kinetic))

    sim.run(6, every=2, callback=note)
    assert len(seen) == 3 and len({p for p, _, _ in seen}) == 3
    assert all(p == fresh == t for p, fresh, t in seen)
    assert sim.potential == sim.copy().potential
    for change in (lambda s: s.params.update(A1=2), lambda s: setattr(s, "formula", "DUDI"),
                   lambda s: setattr(s, "positions", s.positions * 1.01), lambda s: s.step()):
        before = sim.potential
        change(sim)
        assert sim.potential != before and sim.potential == sim.copy().potential


def test_progress_shows_a_bar_to_the_last_step(capsys):
    sim = cloud(particles=8)
    sim.run(50, progress=True)
    err = capsys.readouterr().err
    assert "50/50" in err and sim.step_count == 50
