"""Simulations, snapshots, parameters and archives pickle, so that process
pools can send and return them: a simulation comes back whole, bit for bit,
and goes on as the original does."""
import concurrent.futures
import copy
import multiprocessing
import pickle

import numpy as np
import pytest

import quindelle as qd
from conftest import cloud

A1_VALUES = ["0.75", "0.8", "0.9", "1", "1.1", "1.2", "1.25", "1.5"]


def advance(sim, steps):
    """What a pool's worker does: run a simulation it was sent and send it back."""
    sim.run(steps)
    return sim


def history_bytes(sim):
    return [s.positions.tobytes() + s.velocities.tobytes() + s.total.tobytes() for s in sim.history]


def test_a_simulation_comes_back_whole_and_goes_on_alike(tmp_path):
    sim = cloud(particles=10)
    sim.formula, sim.walls, sim.cooler, sim.threads = "PES", "10", True, 2
    sim.record_every = 25
    sim.run(130)
    back = pickle.loads(pickle.dumps(sim))
    assert back == sim and back is not sim
    assert (back.threads, back.recording, back.record_every, back.source) == (2, True, 25, sim.source)
    assert [s.step for s in back.history] == [s.step for s in sim.history] == [0, 25, 50, 75, 100, 125, 130]
    assert history_bytes(back) == history_bytes(sim)
    # Both go on alike, and save the same bytes.
    sim.run(70)
    back.run(70)
    assert back == sim and history_bytes(back) == history_bytes(sim)
    sim.save(tmp_path / "a.pln")
    back.save(tmp_path / "b.pln")
    assert (tmp_path / "a.pln").read_bytes() == (tmp_path / "b.pln").read_bytes()
    # The other objects: a snapshot whole, the parameters as a dict.
    snap = pickle.loads(pickle.dumps(sim.history[3]))
    assert (snap.step, snap.positions.tobytes(), snap.total) == (
        sim.history[3].step, sim.history[3].positions.tobytes(), sim.history[3].total)
    params = pickle.loads(pickle.dumps(sim.params))
    assert type(params) is dict and params == sim.params


def test_damaged_pickles_are_refused():
    state = cloud(particles=3).__getstate__()
    frame = bytearray(state[1])
    frame[40] ^= 1
    for broken in [(2,) + state[1:], state[:1] + (bytes(frame),) + state[2:], state[:2] + (b"x",) + state[3:],
                   state[:3] + ([(state[1], b"short", b"")],) + state[4:]]:
        with pytest.raises(ValueError, match="not a pickled"):
            qd.Simulation.__new__(qd.Simulation).__setstate__(broken)


def test_an_archive_pickles_and_copies_by_its_file(tmp_path, start_file, quindelle_run):
    quindelle_run(start_file(), "--steps", 6, "--archive", tmp_path / "run.qra", "--archive-every", 3)
    archive = qd.Archive(tmp_path / "run.qra")
    for again in (pickle.loads(pickle.dumps(archive)), copy.deepcopy(archive), copy.copy(archive)):
        assert again.steps == archive.steps == [0, 3, 6]
        assert again[-1] == archive[-1]


@pytest.mark.parametrize("method", ["fork", "spawn"])
def test_process_pools_send_and_return_simulations(tmp_path, start_file, quindelle_run, method):
    start = start_file(particles=12)
    sims = []
    for a1 in A1_VALUES:
        sim = qd.load(start)
        sim.formula = "DUDI"
        sim.params["A1"] = a1
        sims.append(sim)
    context = multiprocessing.get_context(method)
    with concurrent.futures.ProcessPoolExecutor(max_workers=2, mp_context=context) as pool:
        results = list(pool.map(advance, sims, [40] * len(sims)))
    for a1, sim in zip(A1_VALUES, results):
        assert sim.step_count == 40 and sim.params["A1"] == np.longdouble(a1)
        sim.save(tmp_path / "pool.pln")
        quindelle_run(start, "--steps", 40, "--formula", "DUDI", "--set", "A1=" + a1, "--out", tmp_path / "run.pln")
        assert (tmp_path / "pool.pln").read_bytes() == (tmp_path / "run.pln").read_bytes(), a1
