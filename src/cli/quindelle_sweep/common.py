"""What every sweep shares, wherever its runs go: the command line, the grid,
the job list, quindelle-run's judgement of the values and the summary."""

import csv
import json
import os
import re
import subprocess
import sys
import tempfile

USAGE = """\
usage: quindelle-sweep BASE.pln --steps N --vary NAME=V1,V2,... [--vary ...]
         --out DIR [--jobs N] [--sshloginfile FILE] [quindelle-run options]
       quindelle-sweep BASE.pln --steps N --vary ... --out DIR --slurm
         [--sbatch "OPTIONS"] [--jobs N] [--no-wait] [quindelle-run options]
       quindelle-sweep -h|--help | -v|--version

Runs BASE once for every combination of the --vary values (job 1 first, the
last --vary changing fastest) through GNU parallel, or as one Slurm job
array. Run k writes DIR/runs/k.pln and one summary row; once every run is
done, DIR/summary.csv holds one row per job. An interrupted sweep, started
again with the same arguments, runs only the jobs that are missing.
  --vary NAME=V1,...  NAME: a parameter (Dt, A1..F1, A2..F2) with numbers
                      written with a full stop; formula, sign, kinds, walls
                      with the values quindelle-run takes for them; cooler,
                      heater, blockade, drop-b, drop-cdf with on and off
  --jobs N            runs at the same time (default: one per core here; no
                      limit on Slurm); with more than one, every run gets
                      --threads 1 unless the options give --threads
  --sshloginfile FILE GNU parallel's list of machines; DIR and BASE must be
                      at the same paths there; a machine that does not answer
                      within 10 seconds is left out
  --slurm             submit the runs as one job array with sbatch; DIR and
                      BASE must be on a folder the nodes share, and
                      quindelle-run on the nodes' PATH; a run gets --threads
                      of SLURM_CPUS_PER_TASK (1 when unset)
  --sbatch "OPTIONS"  options for sbatch (partition, account, time, memory)
  --no-wait           print the array's job id and return; the same command
                      later waits for the array or gathers its results
Other options (--formula, --dt, --set, --cooler, ...) go to every run.
Exit status: 0 when every run is done, 1 when a run failed (see DIR/joblog
and the fault column of DIR/summary.csv), 2 wrong usage or options that sbatch
refuses, 4 a file error, no machine to run on or no Slurm to reach, 128+S
stopped by signal S.
"""

PARAMETERS = ["Dt", "A1", "B1", "C1", "D1", "F1", "A2", "B2", "C2", "D2", "F2"]
CHOICES = ["formula", "sign", "kinds", "walls"]
SWITCHES = ["cooler", "heater", "blockade", "drop-b", "drop-cdf"]
# quindelle-run's options that every run may share, and whether they take a value.
SHARED = {"--formula": True, "--sign": True, "--kinds": True, "--walls": True, "--dt": True,
          "--set": True, "--threads": True, "--drop-b": False, "--drop-cdf": False,
          "--cooler": False, "--heater": False, "--blockade": False}
# The sweep names these files itself, one per run.
OWN_FILES = ["--csv", "--every", "--summary", "--list", "--progress"]


# The folder of the quindelle-sweep that runs, set by it.
HERE = os.path.dirname(os.path.realpath(sys.argv[0]))


class Usage(Exception):
    pass


def fail(message, status=2, usage=True):
    sys.stderr.write("quindelle-sweep: " + message + "\n")
    if usage:
        sys.stderr.write("\n" + USAGE)
    sys.exit(status)


def note(message):
    sys.stderr.write("quindelle-sweep: " + message + "\n")
    sys.stderr.flush()


def say(text, status=0):
    """Prints `text`; an output that cannot take it is a file error, as for
    quindelle-run. Ends the sweep with `status` unless that is None."""
    try:
        sys.stdout.write(text)
        sys.stdout.flush()
    except OSError as e:
        sys.stderr.write("quindelle-sweep: standard output: %s\n" % (e.strerror or e))
        # Nothing more is to go there, not even at the interpreter's exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(4)
    if status is not None:
        sys.exit(status)


def runner():
    """quindelle-run beside the sweep (installed or in the build tree), else on the path."""
    if os.environ.get("QUINDELLE_RUN"):
        return os.environ["QUINDELLE_RUN"]
    beside = os.path.join(HERE, "quindelle-run")
    return beside if os.access(beside, os.X_OK) else "quindelle-run"


def version():
    """The version of the quindelle-run this sweep runs: they come together."""
    try:
        r = subprocess.run([runner(), "--version"], capture_output=True, text=True)
        return r.stdout.split()[-1] if r.returncode == 0 and r.stdout.split() else "unknown"
    except OSError:
        return "unknown"


def whole(text, option, least):
    if not re.fullmatch(r"[0-9]+", text or "") or not least <= int(text) <= 2147483647:
        raise Usage("%s needs a whole number of at least %d, not '%s'" % (option, least, text))
    return text


def parse(argv):
    a = {"base": None, "steps": None, "vary": [], "out": None, "jobs": None, "sshloginfile": None,
         "shared": [], "slurm": False, "sbatch": [], "no-wait": False}
    i = 0
    inline = None

    def value():
        # --name=value reads as --name value, as quindelle-run takes it; a
        # value is never read as options itself (--sbatch "--time=1:00").
        nonlocal i, inline
        if inline is not None:
            text, inline = inline, None
            return text
        if i + 1 >= len(argv):
            raise Usage(argv[i] + " needs a value")
        i += 1
        return argv[i]

    while i < len(argv):
        arg = argv[i]
        if arg.startswith("--") and "=" in arg:
            arg, inline = arg.split("=", 1)
        if arg in ("--help", "-h"):
            say(USAGE)
        elif arg in ("--version", "-v"):
            say("quindelle-sweep %s\n" % version())
        elif arg in ("--steps", "--out", "--jobs", "--sshloginfile"):
            key = arg[2:]
            if a[key] is not None:
                raise Usage(arg + " is given twice")
            a[key] = value()
        elif arg == "--vary":
            a["vary"].append(value())
        elif arg in ("--slurm", "--no-wait"):
            a[arg[2:]] = True
        elif arg == "--sbatch":
            a["sbatch"].append(value())
        elif arg in SHARED:
            a["shared"].append(arg)
            if SHARED[arg]:
                a["shared"].append(value())
        elif arg in OWN_FILES:
            raise Usage(arg + " is not for a sweep: every run writes DIR/runs/k.pln and a summary row")
        elif arg.startswith("-") and len(arg) > 1:
            raise Usage("unknown option '%s'" % arg)
        elif a["base"] is None:
            a["base"] = arg
        else:
            raise Usage("only one configuration, please ('%s' and '%s')" % (a["base"], arg))
        if inline is not None:
            raise Usage("%s takes no value" % arg)
        i += 1
    if a["base"] is None:
        raise Usage("no configuration to sweep")
    if a["steps"] is None:
        raise Usage("--steps is required")
    whole(a["steps"], "--steps", 0)
    if not a["out"]:
        raise Usage("--out needs a folder")
    if a["jobs"] is not None:
        whole(a["jobs"], "--jobs", 1)
    if not a["slurm"] and (a["sbatch"] or a["no-wait"]):
        raise Usage("%s goes with --slurm" % ("--sbatch" if a["sbatch"] else "--no-wait"))
    if a["slurm"] and a["sshloginfile"] is not None:
        raise Usage("--slurm and --sshloginfile do not go together: Slurm chooses the machines")
    if a["sshloginfile"] is not None and not os.path.isfile(a["sshloginfile"]):
        raise Usage("--sshloginfile: no file '%s'" % a["sshloginfile"])
    return a


def grid(varies):
    """The axes of the grid: for every --vary, its name, its values and the
    run arguments of each value."""
    axes, names = [], []
    for vary in varies:
        name, eq, values = vary.partition("=")
        if name not in PARAMETERS + CHOICES + SWITCHES:
            raise Usage("--vary: unknown name '%s' (%s)" % (name, ", ".join(PARAMETERS + CHOICES + SWITCHES)))
        if name in names:
            raise Usage("--vary: %s is varied twice" % name)
        names.append(name)
        items = values.split(",")
        if not eq or not values or "" in items:
            raise Usage("--vary %s: an empty value in '%s'" % (name, values))
        axis = []
        for v in items:
            if name in PARAMETERS:
                axis.append(["--set", "%s=%s" % (name, v)])
            elif name in CHOICES:
                axis.append(["--" + name, v])
            elif v in ("on", "off"):
                axis.append(["--" + name] if v == "on" else [])
            else:
                raise Usage("--vary %s takes on and off, not '%s'" % (name, v))
        axes.append((name, items, axis))
    return axes


def combinations(axes):
    """Job k (from 1) -> its run arguments and its values in words, such as
    ["A1=1.5", "formula=E"], in the order of the grid."""
    jobs = [([], [])]
    for name, items, axis in axes:
        jobs = [(args + extra, words + ["%s=%s" % (name, v)])
                for args, words in jobs for v, extra in zip(items, axis)]
    return jobs


def job_lines(program, base, steps, out, shared, combos, summary):
    """The job list: one JSON array of quindelle-run's arguments a line;
    `summary(k)` names the file of run k's row."""
    return "".join(json.dumps([program, base, "--steps", steps, "--out", os.path.join(out, "runs", "%d.pln" % k),
                               "--summary", summary(k)] + shared + args) + "\n"
                   for k, (args, _) in enumerate(combos, start=1))


def check(run, base, shared, axes):
    """Lets quindelle-run itself judge every value once, so the grid is refused
    with quindelle-run's own words before any job starts. Returns the header
    of quindelle-run's summary."""
    # Each trial says which --vary value it stands for: the user never typed
    # the --set that quindelle-run would name.
    trials = [("", [])] + [("--vary %s=%s: " % (name, v), args)
                           for name, items, axis in axes for v, args in zip(items, axis)]
    header = ""
    with tempfile.TemporaryDirectory(prefix="quindelle-sweep-") as scratch:
        for said, args in trials:
            cmd = [run, base, "--steps", "0"] + shared + args
            if not said:
                cmd += ["--summary", os.path.join(scratch, "row.csv")]
            r = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            if r.returncode != 0:
                first = (r.stderr.splitlines() or ["exit status %d" % r.returncode])[0]
                first = first.replace("quindelle-run: ", "")
                if said and args[:1] == ["--set"]:
                    first = re.sub(r"^--set \w+: ", "", first)
                fail("refused before any run: " + said + first, 2, False)
            if not said:
                with open(os.path.join(scratch, "row.csv"), newline="") as f:
                    header = f.readline().rstrip("\r\n")
    return header


def write_atomically(path, text):
    fd, temp = tempfile.mkstemp(dir=os.path.dirname(path), prefix="." + os.path.basename(path) + ".")
    try:
        with os.fdopen(fd, "w", newline="") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temp, path)
    except BaseException:
        if os.path.exists(temp):
            os.unlink(temp)
        raise


def collect(out, count, row_files, extra=None):
    """Writes DIR/summary.csv from the runs' rows in `row_files`, then the
    rows of `extra` (job -> {column: text}) for jobs without one; the last
    row of a job wins, as a job started again after an interruption may
    have written twice. Returns the jobs that have a row."""
    header, by_job = None, {}
    for path in row_files:
        if not os.path.exists(path):
            continue
        with open(path, newline="") as f:
            reader = csv.reader(f)
            first = next(reader, None)
            if not first or "output" not in first or (header is not None and first != header):
                continue
            header = first
            for row in reader:
                if len(row) == len(header):
                    m = re.fullmatch(r"([0-9]+)\.pln", os.path.basename(row[header.index("output")]))
                    if m and 1 <= int(m.group(1)) <= count:
                        by_job[int(m.group(1))] = row
    for k, cells in sorted((extra or {}).items()):
        if k in by_job:
            continue
        if header is None:
            header = cells["header"]
        by_job[k] = [cells.get(column, "") for column in header]
    if header is None:
        return set()
    lines = [["job"] + header] + [[str(k)] + by_job[k] for k in sorted(by_job)]
    text = "".join(",".join(csv_field(c) for c in line) + "\n" for line in lines)
    write_atomically(os.path.join(out, "summary.csv"), text)
    return set(by_job)


def csv_field(text):
    return '"' + text.replace('"', '""') + '"' if re.search(r'[,"\r\n]', text) else text


def named(jobs, words):
    """Jobs by number and by their values: "3 (A1=2 formula=E)"."""
    return ", ".join("%d (%s)" % (k, " ".join(words[k - 1])) if words[k - 1] else str(k) for k in jobs)
