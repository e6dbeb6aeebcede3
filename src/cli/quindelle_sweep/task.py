"""One task of a sweep's Slurm job array: runs job SLURM_ARRAY_TASK_ID of
DIR/jobs.json with the quindelle-run on the node's path and records how it
ended in DIR/tasks/K.json. The sweep copies this file into DIR/task.py and
submits it; it needs nothing but Python's own library, the shared folder and
quindelle-run.
usage: task.py DIR"""

import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time


def record(path, status):
    fd, temp = tempfile.mkstemp(dir=os.path.dirname(path), prefix="." + os.path.basename(path) + ".")
    try:
        with os.fdopen(fd, "w") as f:
            json.dump(status, f)
            f.write("\n")
            f.flush()
            os.fsync(f.fileno())
        os.replace(temp, path)
    except BaseException:
        if os.path.exists(temp):
            os.unlink(temp)
        raise


def main(argv):
    task = os.environ.get("SLURM_ARRAY_TASK_ID", "")
    if len(argv) != 2 or not task.isdigit():
        sys.stderr.write("task.py: to be run by Slurm as a task of a sweep's job array: task.py DIR\n")
        return 2
    out, k = argv[1], int(task)
    with open(os.path.join(out, "jobs.json")) as f:
        lines = f.read().splitlines()
    if not 1 <= k <= len(lines):
        sys.stderr.write("task.py: %s holds no job %d\n" % (os.path.join(out, "jobs.json"), k))
        return 2
    command = json.loads(lines[k - 1])
    if "--threads" not in command:
        command += ["--threads", os.environ.get("SLURM_CPUS_PER_TASK") or "1"]
    # A task run again starts clean: neither its last ending nor a row of a
    # run that did not end may count for this one.
    done = os.path.join(out, "tasks", "%d.json" % k)
    for stale in (done, os.path.join(out, "rows", "%d.csv" % k)):
        try:
            os.unlink(stale)
        except FileNotFoundError:
            pass
    status = {"job": k, "array": os.environ.get("SLURM_ARRAY_JOB_ID", ""), "host": socket.gethostname(),
              "start": time.time()}
    sys.stderr.write("job %d on %s: %s\n" % (k, status["host"], json.dumps(command)))
    sys.stderr.flush()
    try:
        child = subprocess.Popen(command, stdin=subprocess.DEVNULL)
        # scancel, a time limit or a preemption signals this task: the run
        # must hear it too, or it would go on without a task to answer for it.
        def forward(sig, _frame):
            child.send_signal(sig)
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(sig, forward)
        code = child.wait()
    except OSError as e:
        code = 127
        status["error"] = "cannot run %s on %s: %s (PATH=%s)" % (
            command[0], status["host"], e.strerror or e, os.environ.get("PATH", ""))
        sys.stderr.write(status["error"] + "\n")
    # A run cut off by a signal (a kill, a node going down) has not ended:
    # the sweep runs it again.
    status.update({"exit": code if code >= 0 else 128 - code, "signal": -code if code < 0 else 0,
                   "end": time.time()})
    record(done, status)
    return status["exit"]


if __name__ == "__main__":
    sys.exit(main(sys.argv))
