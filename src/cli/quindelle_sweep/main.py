"""The sweep from its command line to its exit status."""

import fcntl
import os
import shutil

from . import local, slurm
from .common import Usage, check, combinations, fail, grid, job_lines, parse, runner, write_atomically


def own_folder(out):
    """Makes DIR and holds it for the sweep's whole life: one sweep at a time
    in a folder."""
    try:
        os.makedirs(os.path.join(out, "runs"), exist_ok=True)
        lock = os.open(os.path.join(out, ".lock"), os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o666)
    except OSError as e:
        fail("%s: %s" % (out, e.strerror or e), 4, False)
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        fail("%s: another sweep is running in this folder" % out, 2, False)
    return lock


def same_sweep(out, job_text):
    """Writes DIR/jobs.json, or refuses a folder that holds another sweep.
    The list is written before any job starts: every command line is in DIR."""
    job_list = os.path.join(out, "jobs.json")
    if os.path.exists(job_list):
        with open(job_list) as f:
            if f.read() != job_text:
                busy = slurm.live_array(out)
                fail("%s holds a different sweep%s; give a new --out folder" % (
                    out, ", whose Slurm job %s is still queued or running" % busy if busy else ""), 2, False)
    else:
        write_atomically(job_list, job_text)


def main(argv):
    try:
        a = parse(argv)
        axes = grid(a["vary"])
        cluster = slurm.Submission(a) if a["slurm"] else None
    except Usage as e:
        fail(str(e))
    if cluster is None and shutil.which("parallel") is None:
        fail("GNU parallel is needed (Debian package parallel)", 2, False)
    run = runner()
    if shutil.which(run) is None:
        fail("cannot find quindelle-run (beside this script or on the path)", 2, False)
    base = os.path.abspath(a["base"])
    out = os.path.abspath(a["out"])
    shared = list(a["shared"])
    header = check(run, base, shared, axes)
    combos = combinations(axes)
    words = [w for _, w in combos]

    if cluster is not None:
        # Nothing is written before Slurm has answered and taken the options.
        cluster.probe(len(combos))
        # A task runs the quindelle-run on its node's path, with the threads
        # Slurm gave it, and writes a row file of its own: a shared folder
        # need not lock well.
        job_text = job_lines("quindelle-run", base, a["steps"], out, shared, combos,
                             lambda k: os.path.join(out, "rows", "%d.csv" % k))
        lock = own_folder(out)
        same_sweep(out, job_text)
        status = cluster.sweep(out, base, words, header)
    else:
        if a["jobs"] != "1" and "--threads" not in shared:
            shared += ["--threads", "1"]  # the jobs already fill the cores
        # Other machines run the quindelle-run on their own path.
        program = "quindelle-run" if a["sshloginfile"] is not None else run
        job_text = job_lines(program, base, a["steps"], out, shared, combos,
                             lambda k: os.path.join(out, "rows.csv"))
        lock = own_folder(out)
        same_sweep(out, job_text)
        status = local.sweep(a, out, words)
    os.close(lock)
    return status
