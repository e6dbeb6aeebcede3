"""quindelle-run timed as a user runs it: the whole process, for every
formula at 60 particles, at one thread and at every thread count up to the
machine's cores, against the machine's own ceiling for that many cores (the
same single-thread run started k times at once: k times one run's time over
their time together). Repetitions alternate so that a change in the
machine's state touches every variant alike; each variant's best time
counts. The outputs of every thread count must be equal, byte for byte.

usage: run_speed.py --runner quindelle-run [--reps N] [--seconds S]"""
import argparse
import os
import random
import resource
import subprocess
import sys
import tempfile
import time

FORMULAS = ["E", "PE", "PES", "DUDI", "EPESminus"]


def cloud(path, formula):
    """60 moving particles over a cube of half-width 6, so that the bumps of
    the poly-exponential formulas (near r = 5, 10 and 20) act on many pairs;
    the kinds' parameter sets differ, and E and PE get a bounded B."""
    import numpy
    import quindelle

    rng = random.Random(2024)
    sim = quindelle.Simulation()
    sim.present = [True] * 60
    sim.positions = numpy.array([[rng.uniform(-6, 6) for _ in range(3)] for _ in range(60)])
    sim.velocities = numpy.array([[rng.uniform(-0.05, 0.05) for _ in range(3)] for _ in range(60)])
    bounded = formula in ("E", "PE")
    for name, value in (("Dt", "0.001"), ("A1", "1"), ("B1", "-0.5" if bounded else "2.718"), ("C1", "5"),
                        ("D1", "10"), ("F1", "20"), ("A2", "0.75"), ("B2", "-1.9" if bounded else "1.9"),
                        ("C2", "3.5"), ("D2", "7.25"), ("F2", "12")):
        sim.params[name] = value
    sim.save(path)


class Runner:
    def __init__(self, runner, folder):
        self.runner, self.folder = runner, folder

    def command(self, config, formula, steps, threads, out):
        return [self.runner, config, "--steps", str(steps), "--formula", formula, "--threads", str(threads),
                "--out", out]

    def timed(self, commands):
        """Wall and user seconds of the commands started at once."""
        before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_utime
        began = time.monotonic()
        children = [subprocess.Popen(c, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL) for c in commands]
        codes = [c.wait() for c in children]
        wall = time.monotonic() - began
        if any(codes):
            sys.exit("run_speed: %s failed (%s)" % (" ".join(commands[0]), codes))
        return wall, resource.getrusage(resource.RUSAGE_CHILDREN).ru_utime - before


def machine():
    try:
        r = subprocess.run(["lscpu"], capture_output=True, text=True, env=dict(os.environ, LC_ALL="C"))
        for line in r.stdout.splitlines():
            if line.startswith("Model name:"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown processor"


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--runner", required=True, help="the quindelle-run to time")
    p.add_argument("--reps", type=int, default=5, help="repetitions of each variant (default 5)")
    p.add_argument("--seconds", type=float, default=4.0, help="one single-thread run's length (default 4)")
    p.add_argument("--formulas", default=",".join(FORMULAS), help="the formulas, with commas (default all)")
    a = p.parse_args()
    cores = os.cpu_count() or 1
    counts = list(range(2, max(2, cores) + 1))
    runner = os.path.abspath(a.runner)
    print("quindelle-run, whole process, 60 particles, best of %d alternating; %s, %d cores" % (
        a.reps, machine(), cores))
    print("%-10s %7s %8s %8s %8s %8s %8s %10s" % ("formula", "steps", "threads", "1 thr s", "k thr s", "speed-up",
                                                  "ceiling", "efficiency"))
    with tempfile.TemporaryDirectory(prefix="qd-speed-") as folder:
        run = Runner(runner, folder)
        for formula in a.formulas.split(","):
            config = os.path.join(folder, formula + ".pln")
            cloud(config, formula)
            probe = 200
            wall, _ = run.timed([run.command(config, formula, probe, 1, os.path.join(folder, "probe.pln"))])
            steps = max(probe, int(probe * a.seconds / max(wall, 1e-3)))
            outs = {t: os.path.join(folder, "%s-%d.pln" % (formula, t)) for t in [1] + counts}
            best = {}

            def keep(key, value):
                best[key] = min(best.get(key, (float("inf"), 0.0)), value)

            for _ in range(a.reps):
                keep(("threads", 1), run.timed([run.command(config, formula, steps, 1, outs[1])]))
                for k in counts:
                    keep(("threads", k), run.timed([run.command(config, formula, steps, k, outs[k])]))
                    keep(("together", k), run.timed([run.command(config, formula, steps, 1, os.path.join(
                        folder, "%s-alone-%d.pln" % (formula, i))) for i in range(k)]))
            with open(outs[1], "rb") as f:
                one = f.read()
            for k in counts:
                with open(outs[k], "rb") as f:
                    if f.read() != one:
                        sys.exit("run_speed: %s at %d threads differs from one thread" % (formula, k))
            alone, user1 = best[("threads", 1)]
            for k in counts:
                wall, user = best[("threads", k)]
                speedup = alone / wall
                ceiling = k * alone / best[("together", k)][0]
                print("%-10s %7d %8d %8.3f %8.3f %7.2fx %7.2fx %10.2f   (user %.2f s vs %.2f s)" % (
                    formula, steps, k, alone, wall, speedup, ceiling, speedup / ceiling, user, user1))
            sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
