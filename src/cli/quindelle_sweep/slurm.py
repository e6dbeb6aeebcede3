"""The runs as one Slurm job array. Task k runs job k of DIR/jobs.json and
records how it ended in DIR/tasks/k.json, its row in DIR/rows/k.csv: Slurm
without accounting keeps no history, so those files and squeue are all the
sweep knows."""

import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import time

from .common import Usage, collect, fail, named, note, say, write_atomically

# Options of sbatch that the sweep gives itself.
OWN_OPTIONS = ["--array", "-a", "--wrap", "--test-only", "--wait", "-W", "--chdir", "-D"]
# What sbatch and squeue say when no controller answers: a matter of the
# cluster, not of the options.
UNREACHABLE = re.compile(r"Unable to contact|configuration source|connect failure|Connection refused|"
                         r"timed out|Zero Bytes|Communication connection failure|Unable to establish")
# Slurm's states of a task that is not over.
RUNNING = {"RUNNING", "COMPLETING", "CONFIGURING", "STAGE_OUT", "SIGNALING", "RESIZING"}
# How long squeue may fail while the sweep waits before the sweep gives up
# waiting (the array goes on without it).
PATIENCE = 120
STATE = "slurm.json"
# How often the sweep looks at the tasks' records while it waits.
WATCH = 0.25
SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


def ranges(jobs):
    """1,2,3,5,7,8 -> "1-3,5,7-8", as sbatch's --array takes them."""
    parts, jobs = [], sorted(jobs)
    i = 0
    while i < len(jobs):
        j = i
        while j + 1 < len(jobs) and jobs[j + 1] == jobs[j] + 1:
            j += 1
        parts.append(str(jobs[i]) if i == j else "%d-%d" % (jobs[i], jobs[j]))
        i = j + 1
    return ",".join(parts)


def task_ids(text):
    """squeue's %K: "3", or a pending rest such as "4-9%2" or "4,6-8"."""
    ids = set()
    for part in text.split("%")[0].split(","):
        m = re.fullmatch(r"([0-9]+)(?:-([0-9]+))?", part.strip())
        if m:
            ids.update(range(int(m.group(1)), int(m.group(2) or m.group(1)) + 1))
    return ids


def read_state(out):
    try:
        with open(os.path.join(out, STATE)) as f:
            state = json.loads(f.read(65536))
        return state if isinstance(state, dict) and re.fullmatch(r"[0-9]+", str(state.get("array"))) else None
    except (OSError, ValueError):
        return None


def squeue(array, cluster=""):
    """Task -> state of the array's tasks that are not over; None when Slurm
    does not answer (with its words in the second value)."""
    if shutil.which("squeue") is None:
        return None, "squeue is not on the path"
    cmd = ["squeue", "--noheader", "--array", "--jobs", str(array), "--format", "%K %T"]
    if cluster:
        cmd += ["--clusters", cluster]
    try:
        r = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    except subprocess.TimeoutExpired:
        return None, "squeue did not answer within 120 seconds"
    if r.returncode != 0:
        # A job long over is one squeue no longer knows.
        if "Invalid job id" in r.stderr:
            return {}, ""
        return None, (r.stderr.strip() or "squeue: exit status %d" % r.returncode)
    tasks = {}
    for line in r.stdout.splitlines():
        if line.startswith("CLUSTER:"):
            continue
        ids, _, state = line.partition(" ")
        for k in task_ids(ids):
            tasks[k] = state.strip()
    return tasks, ""


def live_array(out):
    """The array of DIR while any of its tasks is queued or running, else None."""
    state = read_state(out)
    if state is None:
        return None
    tasks, _ = squeue(state["array"], state.get("cluster", ""))
    return state["array"] if tasks else None


def endings(out, count):
    """Job -> how its last task ended, from DIR/tasks/k.json; a file that
    does not make sense counts as no ending."""
    found = {}
    folder = os.path.join(out, "tasks")
    for k in range(1, count + 1):
        try:
            with open(os.path.join(folder, "%d.json" % k)) as f:
                status = json.loads(f.read(65536))
        except (OSError, ValueError):
            continue
        if (isinstance(status, dict) and status.get("job") == k
                and all(isinstance(status.get(key), int) for key in ("exit", "signal"))
                and all(isinstance(status.get(key), (int, float)) for key in ("start", "end"))
                and isinstance(status.get("host"), str)):
            found[k] = status
    return found


def ended(status):
    """Done, or a floating-point fault recorded: what a restart keeps."""
    return status["exit"] in (0, 3) and status["signal"] == 0


def fresh(tasks, status, before):
    """True when every task has written a record since squeue first named it."""
    return all(k in status and status[k]["end"] != before.get(k) for k in tasks)


class Stopped(Exception):
    pass


class Submission:
    def __init__(self, a):
        self.a = a
        self.options = []
        for text in a["sbatch"]:
            try:
                self.options += shlex.split(text)
            except ValueError as e:
                raise Usage("--sbatch '%s': %s" % (text, e))
        for option in self.options:
            name = option.split("=", 1)[0]
            if name in OWN_OPTIONS or (len(name) > 2 and name[:2] in ("-a", "-W", "-D") and name[1] != "-"):
                raise Usage("--sbatch: %s is the sweep's own (see --jobs and --out)" % name)

    def throttled(self, indices):
        return indices + ("%" + self.a["jobs"] if self.a["jobs"] else "")

    def classify(self, r, what):
        said = (r.stderr.strip() or r.stdout.strip() or "exit status %d" % r.returncode)
        if UNREACHABLE.search(said):
            fail("Slurm cannot be reached: " + said, 4, False)
        fail("sbatch refuses %s: %s" % (what, said), 2, False)

    def probe(self, count):
        """Fails unless sbatch, squeue and scancel are there, a controller
        answers and sbatch would take the array with the options."""
        for command in ("sbatch", "squeue", "scancel"):
            if shutil.which(command) is None:
                fail("cannot find %s: --slurm needs Slurm's commands on the path (Debian package "
                     "slurm-client)" % command, 4, False)
        try:
            r = subprocess.run(["squeue", "--noheader", "--me", "--format", "%i"], stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=120)
            if r.returncode != 0:
                fail("Slurm cannot be reached: " + (r.stderr.strip() or "squeue: exit status %d" % r.returncode),
                     4, False)
            r = subprocess.run(["sbatch", "--test-only", "--array=" + self.throttled("1-%d" % count)] +
                               self.options, input="#!/bin/sh\ntrue\n", capture_output=True, text=True,
                               timeout=120)
        except subprocess.TimeoutExpired as e:
            fail("Slurm cannot be reached: %s did not answer within 120 seconds" % e.cmd[0], 4, False)
        if r.returncode != 0:
            self.classify(r, "the options")

    def submit(self, out, jobs):
        """Submits the jobs as one array; returns its job id."""
        task = os.path.join(out, "task.py")
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "task.py")) as f:
            write_atomically(task, "#!/usr/bin/env python3\n" + f.read())
        os.chmod(task, 0o755)
        # Paths go relative to DIR, where the task starts: sbatch would
        # read a % in DIR's name as one of its patterns.
        cmd = ["sbatch", "--parsable", "--array=" + self.throttled(ranges(jobs)), "--chdir=" + out,
               "--job-name=quindelle-sweep", "--output=logs/%A_%a.out"] + self.options + [task, out]
        try:
            r = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        except subprocess.TimeoutExpired:
            fail("Slurm cannot be reached: sbatch did not answer within 120 seconds", 4, False)
        if r.returncode != 0:
            self.classify(r, "the array")
        array, _, cluster = r.stdout.strip().partition(";")
        if not re.fullmatch(r"[0-9]+", array):
            fail("sbatch answered '%s', not a job id" % r.stdout.strip(), 4, False)
        write_atomically(os.path.join(out, STATE), json.dumps({"array": array, "cluster": cluster,
                                                               "jobs": ranges(jobs)}) + "\n")
        note("submitted %d run%s as Slurm job %s" % (len(jobs), "" if len(jobs) == 1 else "s", array))
        return array, cluster

    def wait(self, out, array, cluster, count, words):
        """Waits for every task of the array to be over, saying how far it is.
        squeue is asked seldom on a long sweep, so as not to burden the
        controller; between its answers the tasks' own records are watched
        (a folder's modification time, cheap even on a shared folder), and
        once every task squeue last named has written its record, squeue is
        asked again at once: the end of a wave is seen within a moment, not
        at the next slow poll."""
        self.array = (array, cluster)
        folder = os.path.join(out, "tasks")
        began, said, lost, asked = time.monotonic(), None, None, 0.0
        tasks, before, stamp, status = {}, {}, None, endings(out, count)
        while True:
            now = time.monotonic()
            if now >= asked:
                answer, why = squeue(array, cluster)
                if answer is None:
                    lost = lost or now
                    if now - lost > PATIENCE:
                        fail("Slurm does not answer (%s); job %s goes on, and the same command later waits "
                             "for it" % (why, array), 4, False)
                    asked = now + 5
                    continue
                lost, tasks = None, answer
                status = endings(out, count)
                if not tasks:
                    self.progress(array, tasks, status, count, said)
                    break
                # What each task had recorded when squeue first named it, so
                # that its new record (a rerun's included) is told from an
                # old one.
                for k in tasks:
                    if k not in before:
                        before[k] = status[k]["end"] if k in status else None
                asked = now + min(30.0, 1.0 + (now - began) / 20)
                if "COMPLETING" in tasks.values() or fresh(tasks, status, before):
                    asked = now + WATCH
            said = self.progress(array, tasks, status, count, said)
            time.sleep(WATCH)
            try:
                seen = os.stat(folder).st_mtime_ns
            except OSError:
                seen = None
            if seen != stamp:
                stamp, status = seen, endings(out, count)
                if fresh(tasks, status, before):
                    asked = min(asked, time.monotonic())
        self.array = None

    @staticmethod
    def progress(array, tasks, status, count, said):
        done = sum(1 for s in status.values() if ended(s))
        running = sum(1 for s in tasks.values() if s in RUNNING)
        text = "job %s: %d done, %d running, %d pending, %d failed (of %d)" % (
            array, done, running, len(tasks) - running, len(status) - done, count)
        if text != said:
            note(text)
        return text

    def cancel(self, out, count, words, sig):
        array, cluster = self.array
        cmd = ["scancel"] + (["--clusters", cluster] if cluster else []) + [array]
        r = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        if r.returncode != 0:
            note("scancel %s: %s" % (array, r.stderr.strip()))
        # Over only once squeue no longer shows it: a task that is ending
        # may still write.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            tasks, _ = squeue(array, cluster)
            if tasks == {}:
                break
            time.sleep(0.5)
        joblog(out, count, words)
        fail("stopped by %s; Slurm job %s is cancelled; start the sweep again to run what is missing" % (
            signal.Signals(sig).name, array), 128 + sig, False)

    def sweep(self, out, base, words, header):
        """Submits what has not ended, waits and gathers; a signal while the
        sweep waits (or submits) cancels the array."""
        def stop(sig, _frame):
            raise Stopped(sig)

        self.array = None
        for sig in SIGNALS:
            signal.signal(sig, stop)
        try:
            status = self.submit_and_wait(out, words)
        except Stopped as e:
            for sig in SIGNALS:
                signal.signal(sig, signal.SIG_IGN)
            if self.array is not None:
                self.cancel(out, len(words), words, e.args[0])
            fail("stopped by %s; start the sweep again to run what is missing" % signal.Signals(e.args[0]).name,
                 128 + e.args[0], False)
        for sig in SIGNALS:
            signal.signal(sig, signal.SIG_DFL)
        return status if status is not None else gather(out, base, len(words), words, header)

    def submit_and_wait(self, out, words):
        """None once every task is over, else the exit status."""
        count = len(words)
        try:
            for sub in ("tasks", "rows", "logs"):
                os.makedirs(os.path.join(out, sub), exist_ok=True)
        except OSError as e:
            fail("%s: %s" % (out, e.strerror or e), 4, False)
        state = read_state(out)
        if state is not None:
            tasks, why = squeue(state["array"], state.get("cluster", ""))
            if tasks is None:
                fail("Slurm cannot be reached: " + why, 4, False)
            if tasks:
                if self.a["no-wait"]:
                    say(state["array"] + "\n", None)
                    return 0
                note("Slurm job %s of this sweep is still queued or running: waiting for it" % state["array"])
                self.wait(out, state["array"], state.get("cluster", ""), count, words)
        status = endings(out, count)
        missing = [k for k in range(1, count + 1) if k not in status or not ended(status[k])]
        if missing:
            # A signal waits until the array is known, so that it can cancel it.
            signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)
            try:
                array, cluster = self.submit(out, missing)
                self.array = (array, cluster)
            finally:
                signal.pthread_sigmask(signal.SIG_UNBLOCK, SIGNALS)
            if self.a["no-wait"]:
                say(array + "\n", None)
                return 0
            self.wait(out, array, cluster, count, words)
            settle(out, count, missing)
        return None


def settle(out, count, jobs):
    """Gives the files of tasks that squeue says are over a moment to show:
    a folder shared over the network may show a new file late."""
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and any(k not in endings(out, count) for k in jobs):
        time.sleep(0.5)


def joblog(out, count, words):
    """DIR/joblog in GNU parallel's columns, from the tasks' own records, the
    command named by the job's values."""
    status = endings(out, count)
    lines = ["Seq\tHost\tStarttime\tJobRuntime\tSend\tReceive\tExitval\tSignal\tCommand\n"]
    for k in sorted(status):
        s = status[k]
        what = " ".join(words[k - 1])
        lines.append("%d\t%s\t%.3f\t%10.3f\t0\t0\t%d\t%d\tjob %d%s\n" % (
            k, re.sub(r"\s", " ", s["host"]), s["start"], s["end"] - s["start"], s["exit"], s["signal"], k,
            ": " + what if what else ""))
    write_atomically(os.path.join(out, "joblog"), "".join(lines))
    return status


def gather(out, base, count, words, header):
    """Writes DIR/joblog and DIR/summary.csv; returns the exit status."""
    status = joblog(out, count, words)
    missing = [k for k in range(1, count + 1) if k not in status]
    if missing:
        fail("%d of %d runs have not run: job %s; start the sweep again to run them" % (
            len(missing), count, named(missing, words)), 1, False)
    # A task that could not start its run says why in the run's row.
    unstarted = {k: {"header": header.split(","), "input": base, "output": os.path.join(out, "runs", "%d.pln" % k),
                     "fault": s["error"], "host": s["host"]}
                 for k, s in status.items() if isinstance(s.get("error"), str)}
    rows = collect(out, count, [os.path.join(out, "rows", "%d.csv" % k) for k in range(1, count + 1)], unstarted)
    failed = [k for k in range(1, count + 1)
              if status[k]["exit"] != 0 or status[k]["signal"] != 0 or k not in rows]
    if failed:
        fail("%d of %d runs failed: job %s (see %s and %s)" % (
            len(failed), count, named(failed, words), os.path.join(out, "joblog"),
            os.path.join(out, "summary.csv")), 1, False)
    return 0
