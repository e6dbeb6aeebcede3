"""A floating-point fault raises quindelle.FloatingPointFault with the step and
the program's message, and leaves the state as quindelle-run leaves it."""
import numpy as np
import pytest

import quindelle as qd


def meeting(formula):
    """Two free particles (A1 = 0) that meet exactly at the end of step 4, so
    that step 5 divides by their distance of zero."""
    sim = qd.Simulation()
    pos, vel = np.zeros((60, 3)), np.zeros((60, 3))
    pos[0, 0], pos[1, 0] = 0.5, -0.5
    vel[0, 0], vel[1, 0] = -1, 1
    sim.positions, sim.velocities = pos, vel
    sim.present = np.arange(60) < 2
    sim.params.update({"Dt": 0.125, "A1": 0, "B1": 1, "C1": 1, "D1": 1, "F1": 1,
                       "A2": 1, "B2": 1, "C2": 1, "D2": 1, "F2": 1})
    sim.formula = formula
    return sim


@pytest.mark.parametrize("formula,threads", [("E", 1), ("PE", 2), ("PES", 1), ("DUDI", 2), ("EPESminus", 1)])
def test_fault_as_quindelle_run_reports_it(tmp_path, quindelle_run, formula, threads):
    start = tmp_path / "start.pln"
    meeting(formula).save(start)
    done = quindelle_run(start, "--steps", 10, "--formula", formula, check=False)
    assert done.returncode == 3
    assert done.stderr.strip().endswith("step 5: Floating point division by zero")
    quindelle_run(start, "--steps", 4, "--formula", formula, "--out", tmp_path / "before.pln")

    sim = qd.load(start)
    sim.formula = formula
    sim.threads = threads
    with pytest.raises(qd.FloatingPointFault) as fault:
        sim.run(10)
    assert isinstance(fault.value, FloatingPointError)
    assert (fault.value.step, fault.value.message) == (5, "Floating point division by zero")
    assert str(fault.value) == "step 5: Floating point division by zero"
    # The committed state is that of the last good step.
    assert sim.step_count == 4
    sim.save(tmp_path / "after.pln")
    assert (tmp_path / "after.pln").read_bytes() == (tmp_path / "before.pln").read_bytes()

    # Stepping on meets the same fault at the same step, and the history
    # holds only good steps.
    with pytest.raises(qd.FloatingPointFault, match="^step 5: Floating point division by zero$"):
        sim.step()
    assert sim.step_count == 4
    assert all(s.step <= 4 for s in sim.history)


def test_fault_of_a_single_step():
    sim = meeting("DUDI")
    for _ in range(4):
        sim.step()
    with pytest.raises(qd.FloatingPointFault) as fault:
        sim.step()
    assert fault.value.step == 5
    assert sim.step_count == 4
    assert sim.kinetic == 1  # two unit velocities, untouched by the fault
