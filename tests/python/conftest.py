"""Shared set-ups of the module's tests: configurations made through the
module itself, and quindelle-run beside it to compare with."""
import os
import subprocess

import numpy as np
import pytest

import quindelle as qd

# Parameters under which every formula acts on a spread-out cloud; E and PE
# get an attracting B that stays gentle at short range.
CLOUD_PARAMS = {"Dt": "0.001", "A1": 1, "B1": "2.718", "C1": 5, "D1": 10, "F1": 20,
                "A2": "0.75", "B2": "1.9", "C2": "3.5", "D2": "7.25", "F2": 12}
GENTLE_B = {"B1": "-0.5", "B2": "-1.9"}


def cloud(seed=1, particles=20, side=4.0, formula="DUDI"):
    """A simulation of `particles` particles spread over a cube, with small
    random velocities and some slots left empty."""
    rng = np.random.default_rng(seed)
    sim = qd.Simulation()
    sim.positions = side * rng.uniform(-1, 1, (60, 3))
    sim.velocities = rng.uniform(-0.05, 0.05, (60, 3))
    present = np.zeros(60, bool)
    present[rng.permutation(60)[:particles]] = True
    sim.present = present
    sim.params.update(CLOUD_PARAMS)
    if formula in ("E", "PE"):
        sim.params.update(GENTLE_B)
    return sim


def faulting_potential(monkeypatch):
    """Makes every simulation's potential fault, as the program's arithmetic
    may, until the test ends."""
    def fault(self):
        error = qd.FloatingPointFault(f"step {self.step_count}: Floating point overflow")
        error.step, error.message = self.step_count, "Floating point overflow"
        raise error
    monkeypatch.setattr(qd.Simulation, "potential", property(fault))


@pytest.fixture
def quindelle_run():
    """Runs quindelle-run with the given arguments; returns the finished process."""
    program = os.environ.get("QUINDELLE_RUN")
    assert program, "QUINDELLE_RUN must name the quindelle-run to compare with"

    def run(*args, check=True):
        done = subprocess.run([program, *map(str, args)], capture_output=True, text=True, timeout=120)
        if check:
            assert done.returncode == 0, done.stderr
        return done
    return run


@pytest.fixture
def start_file(tmp_path):
    """Writes a cloud's configuration; returns its path."""
    def write(name="start.pln", **kwargs):
        path = tmp_path / name
        cloud(**kwargs).save(path)
        return path
    return write


def significant_bytes(values):
    """The ten bytes of each 80-bit value in a longdouble array, which
    numpy pads to sixteen."""
    values = np.ascontiguousarray(values, dtype=np.longdouble)
    return values.view(np.uint8).reshape(values.shape + (16,))[..., :10]
