#!/usr/bin/env python3
"""Speed of the Python module against quindelle-run, measured in one sitting
with the contenders taking turns, so that a machine's changing pace falls
on both alike.

- sim.run(N) against quindelle-run --steps N on the same start and options:
  the ratio of their step rates (quindelle-run's start-up, measured with
  --steps 0, is taken off its time);
  at 60 particles and at 8, where a step is cheap and what the module does
  between steps shows most;
- sim.run(N, every=100, callback=f) against sim.run(N): what a callback
  every 100 steps costs, as a share of the run;
- a Python loop of sim.step() against sim.run(N): what one call costs on
  top of the step itself, in microseconds.

With one thread per step (the default here) the times are processor times
(of this process, and of the quindelle-run children), which other programs
on a busy machine do not inflate; with more, they are wall-clock times. The
Python runs record their history, as they do unless switched off; the rate
without recording is shown beside.

Usage: python_speed.py --runner BUILD/quindelle-run [--rounds R] [--steps N]
(with the built module on PYTHONPATH; `make bench` runs it so).
"""
import argparse
import os
import resource
import statistics
import subprocess
import tempfile
import time

import numpy as np

import quindelle as qd


def cloud(particles, formula, path):
    """A configuration of `particles` particles spread over a cube."""
    rng = np.random.default_rng(5)
    sim = qd.Simulation()
    sim.positions = 6 * rng.uniform(-1, 1, (60, 3))
    sim.velocities = rng.uniform(-0.05, 0.05, (60, 3))
    present = np.zeros(60, bool)
    present[:particles] = True
    sim.present = present
    sim.params.update({"Dt": "0.001", "A1": 1, "B1": "2.718", "C1": 5, "D1": 10, "F1": 20,
                       "A2": "0.75", "B2": "1.9", "C2": "3.5", "D2": "7.25", "F2": 12})
    if formula in ("E", "PE"):
        sim.params.update({"B1": "-0.5", "B2": "-1.9"})
    sim.save(path)


def children_seconds():
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def batch_seconds(runner, start, steps, formula, threads):
    cpu = threads == 1
    t = children_seconds() if cpu else time.perf_counter()
    subprocess.run([runner, start, "--steps", str(steps), "--formula", formula, "--threads", str(threads)],
                   check=True, stdout=subprocess.DEVNULL)
    return (children_seconds() if cpu else time.perf_counter()) - t


def clock(threads):
    return time.process_time if threads == 1 else time.perf_counter


def loaded(start, formula, threads):
    sim = qd.load(start)
    sim.formula = formula
    sim.threads = threads
    return sim


def python_seconds(start, steps, formula, threads, recording=True, **run):
    sim = loaded(start, formula, threads)
    sim.recording = recording
    now = clock(threads)
    t = now()
    sim.run(steps, **run)
    return now() - t


def callback_share(start, steps, formula, rounds):
    """The time a callback every 100 steps adds to a run, as a share of it."""
    plain, called = [], []
    for _ in range(rounds):
        plain.append(python_seconds(start, steps, formula, 1))
        called.append(python_seconds(start, steps, formula, 1, every=100, callback=lambda s: None))
    return min(called) / min(plain) - 1


def rate_ratios(runner, start, steps, formula, threads, rounds):
    """The step rates of sim.run (with and without recording) over
    quindelle-run's, and the three rates."""
    batch, python, bare = [], [], []
    for _ in range(rounds):
        batch.append(batch_seconds(runner, start, steps, formula, threads)
                     - batch_seconds(runner, start, 0, formula, threads))
        python.append(python_seconds(start, steps, formula, threads))
        bare.append(python_seconds(start, steps, formula, threads, recording=False))
    # The best of each: a busy neighbour only ever slows a run down.
    b, p, n = (min(x) for x in (batch, python, bare))
    return b / p, b / n, steps / p, steps / n, steps / b


def call_overhead(start, steps, rounds):
    """Microseconds a sim.step() call adds to the step, from the median of
    each way's time per step."""
    loop, whole = [], []
    for _ in range(rounds):
        sim = loaded(start, "E", 1)
        step = sim.step
        t = time.process_time()
        for _ in range(steps):
            step()
        loop.append((time.process_time() - t) / steps)
        whole.append(python_seconds(start, steps, "E", 1) / steps)
    return (statistics.median(loop) - statistics.median(whole)) * 1e6, statistics.median(whole) * 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runner", required=True, help="the quindelle-run to compare with")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--steps", type=int, default=300)
    parser.add_argument("--formula", default="DUDI")
    parser.add_argument("--threads", type=int, default=1)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        big, eight, small = (os.path.join(folder, name) for name in ("big.pln", "eight.pln", "small.pln"))
        cloud(60, args.formula, big)
        cloud(8, args.formula, eight)
        cloud(2, "E", small)
        # Steps of 8 particles are about 50 times cheaper: as many more of
        # them make a run of about the same length.
        for particles, path, steps, wanted in ((60, big, args.steps, 0.98), (8, eight, 50 * args.steps, 0.95)):
            ratio, bare_ratio, py_rate, bare_rate, batch_rate = rate_ratios(
                args.runner, path, steps, args.formula, args.threads, args.rounds)
            print(f"python_speed: sim.run({steps}) / quindelle-run step rate, {args.formula}, {particles} "
                  f"particles, {args.threads} thread(s): {ratio:.3f} ({py_rate:.1f} against {batch_rate:.1f} "
                  f"steps/s; wanted >= {wanted}); without recording {bare_ratio:.3f} ({bare_rate:.1f} steps/s)")
        share = callback_share(eight, 50 * args.steps, args.formula, args.rounds)
        print(f"python_speed: a callback every 100 steps, {args.formula}, 8 particles: {100 * share:+.2f}% "
              f"of the run (wanted <= 2%)")
        overhead, step_us = call_overhead(small, 20000, args.rounds)
        print(f"python_speed: sim.step() call over the step: {overhead:.2f} us per call "
              f"(the step itself {step_us:.2f} us; wanted <= 3)")


if __name__ == "__main__":
    main()
