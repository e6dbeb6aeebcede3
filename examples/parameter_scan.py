#!/usr/bin/env python3
# %% [markdown]
# # A small parameter scan with the quindelle module
#
# One starting cloud, run under a few values of A1 (the strength of the
# first kind's interaction); the total energy is followed along each run and
# plotted when matplotlib is installed. The cells (`# %%`) run one by one in
# an editor that knows them, or all at once as a script:
#
#     python3 examples/parameter_scan.py [START.pln] [--steps N] [--plot FILE.png]

# %%
import argparse

import numpy as np

import quindelle as qd

parser = argparse.ArgumentParser(description="Runs a cloud under several values of A1 and follows its energy.")
parser.add_argument("start", nargs="?", help="a configuration file; without one, a random cloud")
parser.add_argument("--steps", type=int, default=400, help="steps of each run (default 400)")
parser.add_argument("--every", type=int, default=20, help="steps between two energy readings (default 20)")
parser.add_argument("--values", default="0.5,1,1.5,2", help="the values of A1, with full stops")
parser.add_argument("--plot", default="parameter_scan.png", help="where the plot goes (default parameter_scan.png)")
args, _ = parser.parse_known_args()  # a notebook passes arguments of its own

# %% [markdown]
# The start: a file, or 30 particles spread over a cube with small random
# velocities.

# %%
if args.start:
    start = qd.load(args.start)
else:
    rng = np.random.default_rng(1)
    start = qd.Simulation()
    start.positions = 4 * rng.uniform(-1, 1, (60, 3))
    start.velocities = rng.uniform(-0.05, 0.05, (60, 3))
    start.present = np.arange(60) < 30
    start.params.update({"Dt": "0.001", "A1": 1, "B1": "2.718", "C1": 5, "D1": 10, "F1": 20,
                         "A2": "0.75", "B2": "1.9", "C2": "3.5", "D2": "7.25", "F2": 12})
start.formula = "DUDI"
start.walls = "10"
print(start)

# %% [markdown]
# Each value gets its own copy of the start. Values are given as text, so
# that "0.1" means the 80-bit number nearest to 0.1, as
# `quindelle-run --set A1=0.1` takes it.

# %%
curves = {}
for value in args.values.split(","):
    sim = start.copy()
    sim.params["A1"] = value
    steps, totals = [sim.step_count], [sim.total]
    try:
        while sim.step_count < args.steps:
            sim.run(min(args.every, args.steps - sim.step_count))
            steps.append(sim.step_count)
            totals.append(sim.total)
    except qd.FloatingPointFault as fault:
        print(f"A1={value}: {fault}")
    curves[value] = (np.array(steps), np.array(totals, dtype=np.longdouble))
    drift = (totals[-1] - totals[0]) / abs(totals[0]) if totals[0] != 0 else np.longdouble("nan")
    print(f"A1={value:>5}: total energy {totals[0]:.12g} -> {totals[-1]:.12g} "
          f"after {sim.step_count} steps (relative change {drift:.3g})")

# %% [markdown]
# The plot, when matplotlib is there (matplotlib draws in double precision;
# the values above keep every bit).

# %%
try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    print("matplotlib is not installed: no plot")
else:
    fig, ax = plt.subplots(figsize=(7, 4))
    for value, (curve_steps, curve_totals) in curves.items():
        ax.plot(curve_steps, curve_totals.astype(float), label=f"A1 = {value}")
    ax.set_xlabel("step")
    ax.set_ylabel("total energy")
    ax.legend()
    fig.tight_layout()
    fig.savefig(args.plot)
    print(f"plot written to {args.plot}")
