"""How much of the machine a 16-job sweep uses, on a single-node Slurm of its
own and through GNU parallel on this machine: the ideal time (the 16 runs one
after the other, divided by the CPUs) over the sweep's wall time.

usage: sweep_efficiency.py --build DIR [--seconds S]"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "sweep"))
import slurm_cluster  # noqa: E402

GRID = ["--vary", "A1=1,1.25,1.5,1.75", "--vary", "B1=0.5,1,1.5,2", "--formula", "DUDI"]
BASE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "package", "square.pln")


def single_runs(run, steps, scratch):
    """The 16 runs of the grid one after the other; their total time."""
    total = 0.0
    for a1 in ("1", "1.25", "1.5", "1.75"):
        for b1 in ("0.5", "1", "1.5", "2"):
            began = time.monotonic()
            subprocess.run([run, BASE, "--steps", str(steps), "--formula", "DUDI", "--set", "A1=" + a1,
                            "--set", "B1=" + b1, "--threads", "1", "--out", os.path.join(scratch, "one.pln")],
                           check=True)
            total += time.monotonic() - began
    return total


def busy(out):
    """The runs' own times in the sweep's job log, added up: what the CPUs
    spent on runs rather than waiting between them (or on other work)."""
    with open(os.path.join(out, "joblog")) as f:
        return sum(float(line.split("\t")[3]) for line in f if line.split("\t")[0].isdigit())


def timed_sweep(sweep, steps, out, env, extra):
    began = time.monotonic()
    r = subprocess.run([sweep, BASE, "--steps", str(steps)] + GRID + ["--out", out] + extra, env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.monotonic() - began
    if r.returncode != 0:
        sys.exit("sweep_efficiency: the sweep failed (%d): %s" % (r.returncode, r.stderr))
    return wall, busy(out)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--build", required=True, help="the build folder with quindelle-run and quindelle-sweep")
    # Slurm starts pending tasks on a one-second cycle of its controller, so
    # each wave of a sweep of runs a few seconds long would mostly measure
    # that cycle; a cluster's runs are minutes long.
    p.add_argument("--seconds", type=float, default=20.0, help="the length of one run (default 20)")
    a = p.parse_args()
    run = os.path.abspath(os.path.join(a.build, "quindelle-run"))
    sweep = os.path.abspath(os.path.join(a.build, "quindelle-sweep"))
    cpus = os.cpu_count() or 1
    with tempfile.TemporaryDirectory(prefix="qd-bench-", dir="/tmp") as scratch:
        # Runs of about the asked length on this machine as it is now.
        began = time.monotonic()
        subprocess.run([run, BASE, "--steps", "100000", "--formula", "DUDI", "--threads", "1", "--out",
                        os.path.join(scratch, "one.pln")], check=True)
        steps = max(1000, int(100000 * a.seconds / max(1e-3, time.monotonic() - began)))
        total = single_runs(run, steps, scratch)
        ideal = total / cpus
        print("16 runs of %d steps: %.1f s one after the other, ideal on %d CPUs %.1f s" % (steps, total, cpus,
                                                                                            ideal))
        env = dict(os.environ, XDG_CONFIG_HOME=scratch, PATH=os.path.dirname(run) + ":" + os.environ["PATH"])
        wall, spent = timed_sweep(sweep, steps, os.path.join(scratch, "local"), env, [])
        print("GNU parallel on this machine: %.1f s, ideal / wall %.2f (wall / ideal %.2f); runs %.1f s in all" % (
            wall, ideal / wall, wall / ideal, spent))
        cluster = slurm_cluster.Cluster(os.path.join(scratch, "slurm"))
        os.makedirs(cluster.root)
        try:
            cluster.start()
        except slurm_cluster.Unavailable as e:
            print("Slurm: not measured, no Slurm can start here: %s" % e)
            return 0
        try:
            env.update(SLURM_CONF=cluster.conf)
            # A controller just started holds its first scheduling pass back
            # for a second or two; a cluster a user submits to has long been
            # running, so one job goes through it before the clock starts.
            subprocess.run(["sbatch", "--wait", "--quiet", "--output=/dev/null", "--wrap=true"], env=env,
                           check=True, stdout=subprocess.DEVNULL)
            wall, spent = timed_sweep(sweep, steps, os.path.join(scratch, "array"), env, ["--slurm"])
        finally:
            cluster.stop()
        print("one Slurm job array on a single-node Slurm: %.1f s, ideal / wall %.2f (wall / ideal %.2f); "
              "runs %.1f s in all" % (wall, ideal / wall, wall / ideal, spent))
    return 0


if __name__ == "__main__":
    sys.exit(main())
