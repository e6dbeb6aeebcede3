"""The runs on this machine, or on machines reached over ssh, through GNU
parallel: its job log is the record of which jobs ended."""

import csv
import os
import re
import signal
import subprocess
import sys
import time

from .common import collect, fail, named, write_atomically

# How long a machine of --sshloginfile may take to answer before it is left out.
PROBE_SECONDS = 10

# What every job runs: its line of the job list, as quindelle-run's
# arguments. On this machine it is DIR/job.py, run in DIR, so that no path
# reaches GNU parallel at all; on other machines the path of the list comes in
# hexadecimal, so that nothing in it (braces or newlines included) means
# anything to GNU parallel or a shell. The job's values follow its number
# only for the job log's reader.
JOB = """\
import json, os, sys
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "jobs.json")) as f:
    argv = json.loads(f.read().splitlines()[int(sys.argv[1]) - 1])
os.execvp(argv[0], argv)
"""
REMOTE_JOB = ("import json, os, sys; "
              "argv = json.loads(open(bytes.fromhex(sys.argv[1])).read().splitlines()[int(sys.argv[2]) - 1]); "
              "os.execvp(argv[0], argv)")


def finished_jobs(joblog):
    """Job number -> (exit value, signal) of its last recorded run."""
    done = {}
    if not os.path.exists(joblog):
        return done
    with open(joblog, newline="") as f:
        for row in csv.reader(f, delimiter="\t"):
            if len(row) >= 8 and row[0].isdigit():
                done[int(row[0])] = (row[6], row[7])
    return done


def forget_unfinished(joblog):
    """Drops from the job log every job that did not end: one that ended is
    done (exit 0) or recorded its floating-point fault (exit 3); one cut off
    by a signal, lost with its machine (255) or failed otherwise runs again
    when the sweep is started again."""
    if not os.path.exists(joblog):
        return
    with open(joblog, newline="") as f:
        lines = f.read().splitlines(keepends=True)
    kept = [line for line in lines
            if not line.split("\t", 1)[0].isdigit()
            or (lambda row: len(row) >= 8 and row[6] in ("0", "3") and row[7] == "0")(line.split("\t"))]
    if kept != lines:
        write_atomically(joblog, "".join(kept))


def machines_up(loginfile, out):
    """Tries every machine of GNU parallel's list once, all at the same time,
    each for a few seconds at most; writes the list of those that answered to
    DIR/machines and returns its path. A machine that cannot be reached
    would otherwise hold the sweep for minutes."""
    try:
        with open(loginfile) as f:
            lines = f.read().splitlines()
    except OSError as e:
        fail("%s: %s" % (loginfile, e.strerror or e), 4, False)
    ssh = (os.environ.get("PARALLEL_SSH") or "ssh").split()
    probes = []
    for line in lines:
        login = re.sub(r"^[0-9]+/", "", line.strip())
        if not login or login.startswith("#") or login == ":":
            probes.append((line, None))
            continue
        # A login may name its own ssh command: "/usr/bin/ssh -p 2222 host".
        words = login.split()
        command = (words[:-1] if len(words) > 1 else ssh) + [
            "-o", "ConnectTimeout=%d" % PROBE_SECONDS, "-o", "BatchMode=yes", words[-1], "true"]
        try:
            probes.append((line, subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                                  start_new_session=True)))
        except OSError as e:
            sys.stderr.write("quindelle-sweep: %s: %s\n" % (words[-1], e.strerror or e))
            probes.append((line, False))
    deadline = time.monotonic() + PROBE_SECONDS + 2
    kept = []
    for line, probe in probes:
        if probe is None:
            kept.append(line)
            continue
        reason = "cannot start ssh"
        if probe:
            try:
                _, err = probe.communicate(timeout=max(0.1, deadline - time.monotonic()))
                reason = (err.decode(errors="replace").strip().splitlines() or
                          ["exit status %d" % probe.returncode])[-1]
            except subprocess.TimeoutExpired:
                os.killpg(probe.pid, signal.SIGKILL)
                probe.wait()
                reason = "no answer within %d seconds" % PROBE_SECONDS
        if probe and probe.returncode == 0:
            kept.append(line)
        else:
            sys.stderr.write("quindelle-sweep: machine %s is left out: %s\n" % (line.strip(), reason))
    if not any(l.strip() and not l.strip().startswith("#") for l in kept):
        fail("no machine of %s can be reached" % loginfile, 4, False)
    path = os.path.join(out, "machines")
    write_atomically(path, "".join(l + "\n" for l in kept))
    return path


def sweep(a, out, words):
    """Runs the jobs of DIR/jobs.json that have not ended; returns the exit status."""
    count = len(words)
    joblog = os.path.join(out, "joblog")
    forget_unfinished(joblog)
    # GNU parallel is handed job numbers and values only, and one fixed
    # command that looks its job up: no path or value ever reaches a shell as
    # a command (a newline in a path would otherwise start a command of its
    # own). The values, one input source per --vary linked to the numbers,
    # make the job log's command name them.
    axes = len(words[0])
    cmd = ["parallel", "--will-cite", "-q", "--joblog", joblog, "--resume"]
    if a["jobs"] is not None:
        cmd += ["--jobs", a["jobs"]]
    if a["sshloginfile"] is not None:
        cmd += ["--sshloginfile", machines_up(a["sshloginfile"], out),
                "python3", "-c", REMOTE_JOB, os.fsencode(os.path.join(out, "jobs.json")).hex()]
    else:
        write_atomically(os.path.join(out, "job.py"), JOB)
        cmd += ["python3", "job.py"]
    cmd += ["{%d}" % (i + 1) for i in range(axes + 1)] + [":::"] + [str(k) for k in range(1, count + 1)]
    for i in range(axes):
        cmd += [":::+"] + [w[i] for w in words]
    stopped = []

    def stop(sig, _frame):
        # GNU parallel waits for its running jobs at the first TERM and ends
        # them at the second. It stays in the sweep's process group, so that
        # a signal to the whole group (a closed terminal, a killed job of a
        # scheduler) reaches it and its jobs as well.
        stopped.append(sig)
        for _ in range(2):
            try:
                os.kill(worker.pid, signal.SIGTERM)
            except ProcessLookupError:
                break
            time.sleep(0.2)

    worker = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, cwd=out)
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, stop)
    worker.wait()
    if stopped:
        fail("stopped by %s; start the sweep again to run what is missing" % signal.Signals(stopped[0]).name,
             128 + stopped[0], False)

    done = finished_jobs(joblog)
    missing = [k for k in range(1, count + 1) if k not in done]
    if missing:
        fail("%d of %d runs have not run: job %s; start the sweep again to run them" % (
            len(missing), count, named(missing, words)), 1, False)
    rows = collect(out, count, [os.path.join(out, "rows.csv")])
    failed = [k for k, (exitval, sig) in sorted(done.items())
              if k <= count and (exitval != "0" or sig != "0" or k not in rows)]
    if failed:
        fail("%d of %d runs failed: job %s (see %s and %s)" % (
            len(failed), count, named(failed, words), joblog, os.path.join(out, "summary.csv")), 1, False)
    return 0
