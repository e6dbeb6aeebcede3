"""A run followed and ended from outside: stop() from another thread,
step_count and running read meanwhile, and a callback every K steps that
reads the state and may end the run."""
import threading
import time

import pytest

import quindelle as qd
from conftest import cloud


def same_state(a, b):
    return (a.positions.tobytes(), a.velocities.tobytes(), a.step_count) == (
        b.positions.tobytes(), b.velocities.tobytes(), b.step_count)


def test_stop_from_another_thread_ends_a_long_run_after_the_step_in_hand():
    sim = cloud(particles=12)
    fresh = sim.copy()
    # A daemon, so that a run that does not stop cannot keep the tests from ending.
    worker = threading.Thread(target=sim.run, args=(10**9,), daemon=True)
    worker.start()
    seen = []
    deadline = time.monotonic() + 30
    while len(seen) < 3 or seen[-1] < 200:
        assert time.monotonic() < deadline and worker.is_alive()
        assert sim.running
        seen.append(sim.step_count)
        time.sleep(0.01)
    asked = time.monotonic()
    sim.stop()
    worker.join(5)
    took = time.monotonic() - asked
    assert not worker.is_alive() and not sim.running
    assert took < 0.2, took
    assert seen == sorted(seen) and sim.step_count >= seen[-1]
    # The state is that of a run of exactly the steps done.
    fresh.run(sim.step_count)
    assert same_state(sim, fresh)
    # A stop asked between runs does not carry over to the next one.
    sim.stop()
    sim.run(5)
    assert sim.step_count == fresh.step_count + 5


CALLBACK_ENDINGS = [
    # (what the callback does at its third call, the steps done, the error)
    ("goes on", 1000, None),
    ("returns False", 300, None),
    ("raises", 300, ZeroDivisionError),
    ("changes the formula", 300, RuntimeError),
    ("runs the simulation", 300, RuntimeError),
]


@pytest.mark.parametrize("action,steps,error", CALLBACK_ENDINGS, ids=[a for a, _, _ in CALLBACK_ENDINGS])
def test_callback_every_k_steps_reads_the_state_and_may_end_the_run(action, steps, error):
    sim = cloud(particles=8)
    sim.formula = "DUDI"
    reference = sim.copy()
    calls = []

    def follow(s):
        assert s is sim and not s.running
        calls.append((s.step_count, s.positions.tobytes(), s.total))
        if len(calls) < 3 or action == "goes on":
            return None
        if action == "returns False":
            return False
        if action == "raises":
            return 1 / 0
        if action == "changes the formula":
            s.formula = "PES"
        if action == "runs the simulation":
            s.run(1)
        return True

    if error is None:
        sim.run(1000, every=100, callback=follow)
    else:
        with pytest.raises(error):
            sim.run(1000, every=100, callback=follow)
    assert sim.step_count == steps and sim.formula == "DUDI"
    assert [c[0] for c in calls] == list(range(100, steps + 1, 100))
    # What the callback saw is the state of those steps, and the run ended
    # where it was told to, as if asked for that many steps.
    for step, positions, total in calls:
        reference.run(step - reference.step_count)
        assert (reference.positions.tobytes(), reference.total) == (positions, total)
    assert same_state(sim, reference)


@pytest.mark.parametrize("kwargs,error,message", [
    ({"every": 0, "callback": print}, ValueError, "every needs a number of steps of at least 1"),
    ({"every": 2.5, "callback": print}, TypeError, "every needs a whole number of steps"),
    ({"callback": 5}, TypeError, "callback needs a function"),
])
def test_bad_run_options_are_refused(kwargs, error, message):
    sim = cloud(particles=4)
    with pytest.raises(error, match=message):
        sim.run(10, **kwargs)
    assert sim.step_count == 0


@pytest.mark.parametrize("splits", [[1000], [150, 350, 500], [999, 1], [1] * 10 + [990]])
def test_a_fixed_record_interval_gives_the_same_history_however_a_run_is_split(splits):
    unbroken = cloud(particles=8)
    unbroken.record_every = 100
    unbroken.run(1000)
    sim = cloud(particles=8)
    sim.record_every = 100
    assert sim.record_every == 100
    for n in splits:
        sim.run(n)
        # Each run's last step is in the history.
        assert sim.history[-1].step == sim.step_count
    assert [s.step for s in sim.history] == list(range(0, 1001, 100))
    assert [s.positions.tobytes() + s.total.tobytes() for s in sim.history] == [
        s.positions.tobytes() + s.total.tobytes() for s in unbroken.history]


def test_the_chosen_record_interval_records_each_run_end_too():
    sim = cloud(particles=8)
    assert sim.record_every is None
    sim.run(777)
    assert sim.history[0].step == 0 and sim.history[-1].step == 777
    for value, error in [(0, ValueError), (2.5, TypeError), (True, TypeError)]:
        with pytest.raises(error, match="record_every"):
            sim.record_every = value
    sim.record_every = 10
    sim.record_every = None
    assert sim.record_every is None
