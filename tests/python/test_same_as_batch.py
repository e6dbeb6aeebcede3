"""A run driven from Python saves the very file quindelle-run saves for the
same start and options, however it is driven."""
import csv

import numpy as np
import pytest

import quindelle as qd

# (formula, threads, Python settings, the same as quindelle-run options)
CASES = [
    ("E", 1, {}, []),
    ("PE", 2, {"sign": "taoscope", "kinds": 15}, ["--sign", "taoscope", "--kinds", "15"]),
    ("PES", 2, {"drop_b": True, "walls": "10"}, ["--drop-b", "--walls", "10"]),
    ("PES", 1, {"drop_cdf": True, "blockade": True}, ["--drop-cdf", "--blockade"]),
    ("DUDI", 2, {"cooler": True, "walls": 1.5, "kinds": "10"}, ["--cooler", "--walls", "1.5", "--kinds", "10"]),
    ("EPESminus", 2, {"heater": True, "walls": 100}, ["--heater", "--walls", "100"]),
]
STEPS = 12


@pytest.mark.parametrize("formula,threads,settings,options", CASES)
def test_run_saves_what_quindelle_run_saves(tmp_path, start_file, quindelle_run, formula, threads, settings,
                                            options):
    start = start_file(formula=formula, seed=len(options) + threads)
    quindelle_run(start, "--steps", STEPS, "--formula", formula, "--threads", threads, *options,
                  "--set", "A1=1.1", "--dt", "0.0009", "--out", tmp_path / "batch.pln")

    sim = qd.load(start)
    sim.formula = formula
    sim.threads = threads
    for name, value in settings.items():
        setattr(sim, name, value)
    sim.params["A1"] = "1.1"
    sim.dt = "0.0009"
    sim.run(STEPS)
    assert sim.step_count == STEPS
    sim.save(tmp_path / "python.pln")
    batch = (tmp_path / "batch.pln").read_bytes()
    assert (tmp_path / "python.pln").read_bytes() == batch
    assert batch != start.read_bytes()

    # Steps one by one, runs in pieces and a copy made half-way are the same run.
    pieces = qd.load(start)
    pieces.formula = formula
    pieces.threads = 1 if threads == 2 else 2
    for name, value in settings.items():
        setattr(pieces, name, value)
    pieces.params.update({"A1": "1.1", "Dt": "0.0009"})
    pieces.step()
    pieces.run(4)
    branch = pieces.copy()
    for _ in range(STEPS - 5):
        pieces.step()
    branch.run(STEPS - 5)
    for sim_ in (pieces, branch):
        sim_.save(tmp_path / "pieces.pln")
        assert (tmp_path / "pieces.pln").read_bytes() == batch


def test_energies_are_those_of_the_summary(tmp_path, start_file, quindelle_run):
    start = start_file(formula="PES")
    quindelle_run(start, "--steps", 5, "--formula", "PES", "--summary", tmp_path / "summary.csv")
    with open(tmp_path / "summary.csv", newline="") as f:
        row = next(csv.DictReader(f))
    sim = qd.load(start)
    sim.formula = "PES"
    sim.run(5)
    for name in ("kinetic", "potential", "total"):
        value = getattr(sim, name)
        assert isinstance(value, np.longdouble)
        assert value == np.longdouble(row[name]), name
    for name in qd.PARAMETERS:
        assert sim.params[name] == np.longdouble(row[name]), name


def test_history_replays_the_run(start_file):
    sim = qd.load(start_file(formula="E"))
    sim.formula = "E"
    for _ in range(3):
        sim.run(10)  # every run records its start
    snaps = list(sim.history)
    assert len(snaps) == len(sim.history) >= 3
    assert snaps[0].step == 0 and {10, 20} <= {s.step for s in snaps} and snaps[-1].step <= 30
    assert [s.step for s in snaps] == sorted(s.step for s in snaps)
    assert sim.history[-1].step == snaps[-1].step
    assert [x.step for x in sim.history[1::2]] == [x.step for x in snaps[1::2]]
    assert [x.step for x in sim.history[::-1]] == [x.step for x in reversed(snaps)] and sim.history[5:2] == []
    assert sim.time == sim.step_count * sim.dt and sim.particle_count == int(sim.present.sum())
    assert sim.history.csv().startswith("step,slot,x,y,z,ux,uy,uz")

    # A snapshot holds the state and the energies of its step.
    later = snaps[-1]
    end = sim.positions
    sim.continue_from(len(snaps) - 1)
    assert sim.step_count == later.step
    assert len(sim.history) == len(snaps)
    np.testing.assert_array_equal(sim.positions, later.positions)
    assert (sim.kinetic, sim.potential, sim.total) == (later.kinetic, later.potential, later.total)
    assert later.params["Dt"] == sim.params["Dt"]

    # Continued from the start, the run reaches the same end.
    sim.continue_from(0)
    assert sim.step_count == 0 and len(sim.history) == 1
    sim.run(30)
    assert (sim.positions.tobytes(), sim.step_count) == (end.tobytes(), 30)


def test_single_steps_from_a_load_record_their_start(start_file):
    sim = qd.load(start_file(formula="E"))
    start = sim.positions
    for _ in range(4):
        sim.step()
    assert sim.history[0].step == 0
    np.testing.assert_array_equal(sim.history[0].positions, start)
    # Negative indices count from the end; the first snapshot goes back to the load.
    sim.continue_from(-len(sim.history))
    assert sim.step_count == 0 and len(sim.history) == 1
    np.testing.assert_array_equal(sim.positions, start)


def test_copy_is_independent(start_file):
    sim = qd.load(start_file())
    sim.formula = "DUDI"
    sim.run(3)
    twin = sim.copy()
    before, snapshots = twin.positions, len(twin.history)
    sim.run(2)
    sim.params["A1"] = 7
    sim.formula = "PE"
    sim.positions = np.zeros((60, 3))
    assert twin.step_count == 3 and len(twin.history) == snapshots
    assert twin.positions.tobytes() == before.tobytes()
    assert (twin.params["A1"], twin.formula, twin.source) == (1, "DUDI", sim.source)
