"""quindelle-sweep --slurm against a real single-node Slurm: the same files
as a local sweep, restarts that run only what did not end, signals that
cancel the array, the throttle, and the errors of a cluster that is not
there."""
import csv
import itertools
import json
import os
import re
import signal
import subprocess
import sys
import time

import pytest

A1, B1, FORMULA = ["1", "1.5"], ["0.5", "1", "2"], ["E", "DUDI"]
GRID = ["--vary", "A1=" + ",".join(A1), "--vary", "B1=" + ",".join(B1), "--vary", "formula=" + ",".join(FORMULA),
        "--walls", "10"]
WORDS = ["A1=%s B1=%s formula=%s" % w for w in itertools.product(A1, B1, FORMULA)]
# Long enough for a task to be caught running, short enough for a quick test.
STEPS = "40000"


def eventually(done, seconds=120, what="the condition"):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = done()
        if value:
            return value
        time.sleep(0.05)
    pytest.fail("%s did not come within %d s" % (what, seconds))


def summary(out):
    with open(os.path.join(out, "summary.csv"), newline="") as f:
        return list(csv.DictReader(f))


def runs(out):
    folder = os.path.join(out, "runs")
    return {name: open(os.path.join(folder, name), "rb").read() for name in os.listdir(folder)}


def tasks(out):
    folder = os.path.join(out, "tasks")
    found = {}
    for name in os.listdir(folder) if os.path.isdir(folder) else []:
        if name.endswith(".json") and not name.startswith("."):
            with open(os.path.join(folder, name)) as f:
                found[int(name[:-5])] = json.load(f)
    return found


def array_of(out):
    with open(os.path.join(out, "slurm.json")) as f:
        return json.load(f)["array"]


def alive(cluster, array):
    r = cluster.squeue("--array", "--jobs", array, "--format", "%K %T")
    return [] if "Invalid job id" in r.stderr else r.stdout.split("\n")[:-1]


def runs_of(out):
    """PIDs of the quindelle-run processes that write into `out`."""
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                argv = f.read().split(b"\0")
        except OSError:
            continue
        if argv[0].endswith(b"quindelle-run") and any(a.startswith(os.fsencode(out) + b"/runs/") for a in argv):
            pids.append(int(pid))
    return pids


def same_results(out, r, reference):
    """The runs byte for byte, the rows but for where they were written and
    on which machine, and the same jobs failed."""
    reference, status, failed = reference
    assert (r.returncode, failures(r.stderr)) == (status, failed), r.stderr
    assert runs(out) == runs(reference)
    mine, theirs = summary(out), summary(reference)
    assert [r["job"] for r in mine] == [str(k) for k in range(1, len(WORDS) + 1)]
    for row in mine + theirs:
        row["output"] = os.path.basename(row["output"])
        del row["host"]
    assert mine == theirs


@pytest.fixture(scope="module")
def reference(tmp_path_factory, programs):
    """The grid swept on this machine through GNU parallel."""
    program, _, base = programs
    out = str(tmp_path_factory.mktemp("local") / "sweep")
    config = str(tmp_path_factory.mktemp("config"))
    r = subprocess.run([program, base, "--steps", STEPS] + GRID + ["--out", out, "--jobs", "2"],
                       env=dict(os.environ, XDG_CONFIG_HOME=config), capture_output=True, text=True, timeout=600)
    # Some runs of the grid fault: the fault column is compared too.
    assert r.returncode in (0, 1), r.stderr
    return out, r.returncode, failures(r.stderr)


def failures(said):
    """The sweep's list of failed jobs, without the folder's name."""
    return [line.split(" (see ")[0] for line in said.splitlines() if "runs failed" in line]


def test_the_array_writes_what_the_local_sweep_writes_and_both_logs_name_the_values(
        cluster, reference, programs, sweep, tmp_path):
    out = str(tmp_path / "slurm")
    r = sweep([programs[2], "--steps", STEPS] + GRID + ["--out", out, "--slurm"], cluster)
    assert re.search(r"job [0-9]+: 12 done, 0 running, 0 pending, 0 failed", r.stderr), r.stderr
    same_results(out, r, reference)
    # Every command line was in the folder before the array ran.
    with open(os.path.join(out, "jobs.json")) as f:
        assert [json.loads(line)[0] for line in f] == ["quindelle-run"] * 12
    # Each job log names a job's values, not just its number.
    for folder, line in ((reference[0], "{k} {words}"), (out, "job {k}: {words}")):
        with open(os.path.join(folder, "joblog")) as f:
            commands = {int(row[0]): row[8].replace("'", "") for row in csv.reader(f, delimiter="\t")
                        if row[0].isdigit()}
        assert sorted(commands) == list(range(1, 13))
        for k, words in enumerate(WORDS, start=1):
            assert commands[k].endswith(line.format(k=k, words=words)), commands[k]


def test_a_cancelled_array_runs_again_only_what_did_not_end(cluster, reference, programs, sweep, tmp_path):
    out = str(tmp_path / "slurm")
    args = [programs[2], "--steps", STEPS] + GRID + ["--out", out, "--slurm", "--jobs", "2"]
    waiting = sweep(args, cluster, wait=False)
    eventually(lambda: len(tasks(out)) >= 4, what="four tasks")
    subprocess.run(["scancel", array_of(out)], env=cluster.env, check=True)
    _, err = waiting.communicate(timeout=120)
    assert waiting.returncode == 1, err
    assert "have not run" in err
    assert not os.path.exists(os.path.join(out, "summary.csv"))
    first = {k: t for k, t in tasks(out).items() if t["exit"] in (0, 3)}
    assert 4 <= len(first) < 12
    first_array = array_of(out)

    r = sweep(args, cluster)
    assert "submitted %d runs" % (12 - len(first)) in r.stderr
    again = tasks(out)
    for k in range(1, 13):
        # What had ended kept its record; all else ran in the new array.
        assert again[k] == first[k] if k in first else again[k]["array"] not in ("", first_array)
    same_results(out, r, reference)


def test_a_killed_run_runs_again_and_a_running_array_is_waited_for_not_joined(cluster, programs, sweep,
                                                                              tmp_path):
    out = str(tmp_path / "slurm")
    args = [programs[2], "--steps", "400000", "--vary", "A1=1,2", "--out", out, "--slurm", "--jobs", "1"]
    r = sweep(args + ["--no-wait"], cluster)
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == array_of(out)
    # Another sweep may not take the folder while the array lives.
    other = sweep([programs[2], "--steps", "5", "--vary", "A1=1,2", "--out", out, "--slurm"], cluster)
    assert other.returncode == 2
    assert "still queued or running" in other.stderr
    pid = eventually(lambda: runs_of(out), what="job 1's quindelle-run")[0]
    os.kill(pid, signal.SIGKILL)

    r = sweep(args, cluster)
    assert r.returncode == 0, r.stderr
    assert "waiting for it" in r.stderr
    assert "submitted 1 run as" in r.stderr
    assert [row["job"] for row in summary(out)] == ["1", "2"]
    status = tasks(out)
    assert status[1]["array"] != status[2]["array"]


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM, signal.SIGHUP])
def test_a_signal_while_waiting_cancels_the_array(cluster, programs, sweep, tmp_path, sig):
    out = str(tmp_path / "slurm")
    waiting = sweep([programs[2], "--steps", "100000000", "--vary", "A1=1,2,3", "--out", out, "--slurm"],
                    cluster, wait=False)
    eventually(lambda: os.path.exists(os.path.join(out, "slurm.json")) and
               any(line.endswith("RUNNING") for line in alive(cluster, array_of(out))), what="a running task")
    waiting.send_signal(sig)
    _, err = waiting.communicate(timeout=120)
    assert waiting.returncode == 128 + sig, err
    assert "cancelled" in err
    assert alive(cluster, array_of(out)) == []
    eventually(lambda: not runs_of(out), seconds=30, what="the end of every run")


def test_a_throttle_of_one_runs_one_task_at_a_time_with_the_cpus_it_gave(cluster, programs, sweep,
                                                                         tmp_path):
    out = str(tmp_path / "slurm")
    cpus = min(2, os.cpu_count() or 1)
    r = sweep([programs[2], "--steps", "20000", "--vary", "A1=1,2,3,4", "--out", out, "--slurm", "--jobs", "1",
               "--sbatch", "--cpus-per-task=%d --job-name=throttled" % cpus], cluster)
    assert r.returncode == 0, r.stderr
    spans = sorted((t["start"], t["end"]) for t in tasks(out).values())
    assert len(spans) == 4
    assert all(later[0] >= earlier[1] for earlier, later in zip(spans, spans[1:])), spans
    logs = [open(os.path.join(out, "logs", name)).read() for name in os.listdir(os.path.join(out, "logs"))]
    assert len(logs) == 4 and all('"--threads", "%d"]' % cpus in log for log in logs), logs


def slurm_free_path(tmp_path, *commands):
    """A path with python3 and the given commands only."""
    folder = tmp_path / "bin"
    folder.mkdir(exist_ok=True)
    os.symlink(os.path.realpath(sys.executable), folder / "python3")
    for command in commands:
        os.symlink("/usr/bin/" + command, folder / command)
    return str(folder)


@pytest.mark.parametrize("options, says", [
    (["--sbatch", "--partition=nowhere"], "invalid partition"),
    (["--sbatch", "--time=whenever"], "sbatch refuses the options"),
    (["--sbatch", "--array=1-3"], "--array is the sweep's own"),
    (["--sbatch", "'unclosed"], "--sbatch"),
    (["--sshloginfile", "/dev/null"], "do not go together"),
])
def test_options_that_sbatch_or_the_sweep_refuse_write_nothing(cluster, programs, sweep, tmp_path, options,
                                                               says):
    out = tmp_path / "slurm"
    r = sweep([programs[2], "--steps", "5", "--vary", "A1=1,2", "--out", out, "--slurm"] + options, cluster)
    assert r.returncode == 2, r.stderr
    assert says in r.stderr
    assert not out.exists()


def test_without_sbatch_nothing_is_written(programs, sweep, tmp_path):
    out = tmp_path / "slurm"
    r = sweep([programs[2], "--steps", "5", "--vary", "A1=1,2", "--out", out, "--slurm"],
              path=slurm_free_path(tmp_path))
    assert r.returncode == 4, r.stderr
    assert "cannot find sbatch" in r.stderr
    assert not out.exists()


def test_a_stopped_controller_is_no_cluster_to_reach(lone_cluster, programs, sweep, tmp_path):
    lone_cluster.stop_daemon("slurmctld")
    out = tmp_path / "slurm"
    r = sweep([programs[2], "--steps", "5", "--vary", "A1=1,2", "--out", out, "--slurm"], lone_cluster)
    assert r.returncode == 4, r.stderr
    assert "Slurm cannot be reached" in r.stderr and "Unable to contact" in r.stderr, r.stderr
    assert not out.exists()


def test_a_node_without_quindelle_run_says_so_in_the_rows(cluster, programs, sweep, tmp_path):
    out = str(tmp_path / "slurm")
    r = sweep([programs[2], "--steps", "5", "--vary", "A1=1,2", "--out", out, "--slurm"], cluster,
              path=slurm_free_path(tmp_path, "sbatch", "squeue", "scancel"))
    assert r.returncode == 1, r.stderr
    assert "2 of 2 runs failed: job 1 (A1=1), 2 (A1=2)" in r.stderr
    rows = summary(out)
    assert [row["job"] for row in rows] == ["1", "2"]
    assert all(row["fault"].startswith("cannot run quindelle-run on ") for row in rows), rows
