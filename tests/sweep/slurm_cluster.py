"""A single-node Slurm of its own in a scratch folder: munged with its own
key and socket, slurmctld and slurmd on free loopback ports, everything
stopped by its PID afterwards. The sweep's tests and its efficiency
measurement run their sweeps on it."""
import atexit
import os
import pwd
import shutil
import signal
import socket
import subprocess
import time

DAEMONS = ["munged", "slurmctld", "slurmd"]
# Clusters still running: stopped at the interpreter's exit too, so that a
# test run that is cut short leaves no daemon behind.
LIVE = []


class Unavailable(Exception):
    """The cluster could not start here; the message says why."""


def program(name):
    for folder in (os.environ.get("PATH", "") + ":/usr/sbin:/usr/bin").split(":"):
        path = os.path.join(folder or ".", name)
        if os.access(path, os.X_OK) and os.path.isfile(path):
            return path
    return None


def free_ports(count):
    """Ports nobody listens on now; held together so that they differ."""
    held = []
    try:
        for _ in range(count):
            s = socket.socket()
            s.bind(("127.0.0.1", 0))
            held.append(s)
        return [s.getsockname()[1] for s in held]
    finally:
        for s in held:
            s.close()


class Cluster:
    def __init__(self, root):
        self.root = os.path.abspath(root)
        self.host = socket.gethostname().split(".")[0]
        self.cpus = os.cpu_count() or 1
        self.conf = os.path.join(self.root, "slurm.conf")
        self.env = dict(os.environ, SLURM_CONF=self.conf)
        self.pids = {}

    def path(self, *names):
        return os.path.join(self.root, *names)

    def start(self, timeout=60):
        """Starts the three daemons and waits for the node to be idle; on
        any failure stops what started and raises Unavailable."""
        LIVE.append(self)
        try:
            self._start(timeout)
        except BaseException:
            self.stop()
            raise

    def _start(self, timeout):
        for name in DAEMONS + ["sbatch", "squeue", "scancel", "sinfo", "munge"]:
            if program(name) is None:
                raise Unavailable("%s is not installed (Debian packages slurm-wlm and munge)" % name)
        for sub in ("munge", "state", "spool"):
            os.makedirs(self.path(sub), mode=0o700, exist_ok=True)
        key = self.path("munge", "munge.key")
        with open(key, "wb") as f:
            f.write(os.urandom(1024))
        os.chmod(key, 0o400)
        socket_path = self.path("munge", "socket")
        self._daemon("munged", [program("munged"), "--force", "--key-file", key, "--socket", socket_path,
                                "--pid-file", self.path("munge", "munged.pid"),
                                "--log-file", self.path("munge", "munged.log"),
                                "--seed-file", self.path("munge", "munged.seed")],
                     self.path("munge", "munged.pid"), self.path("munge", "munged.log"))
        ctld, slurmd = free_ports(2)
        user = pwd.getpwuid(os.getuid()).pw_name
        # The daemons listen on loopback only (NoInAddrAny with loopback
        # addresses), and nothing here needs cgroups or accounting.
        lines = [
            "ClusterName=qtest",
            "SlurmctldHost=%s(127.0.0.1)" % self.host,
            "SlurmctldPort=%d" % ctld,
            "SlurmdPort=%d" % slurmd,
            "CommunicationParameters=NoInAddrAny",
            "AuthType=auth/munge",
            "AuthInfo=socket=%s" % socket_path,
            "CredType=cred/munge",
            "ProctrackType=proctrack/linuxproc",
            "TaskPlugin=task/none",
            "SchedulerType=sched/backfill",
            # A task that ends makes room for the next at once, not at the
            # next scheduling pass seconds later.
            "SchedulerParameters=batch_sched_delay=0",
            "SelectType=select/cons_tres",
            "SelectTypeParameters=CR_Core",
            "ReturnToService=2",
            "StateSaveLocation=" + self.path("state"),
            "SlurmdSpoolDir=" + self.path("spool"),
            "SlurmctldPidFile=" + self.path("slurmctld.pid"),
            "SlurmdPidFile=" + self.path("slurmd.pid"),
            "SlurmctldLogFile=" + self.path("slurmctld.log"),
            "SlurmdLogFile=" + self.path("slurmd.log"),
            "SlurmUser=" + user,
            "SlurmdUser=" + user,
            "JobCompType=jobcomp/none",
            "AccountingStorageType=accounting_storage/none",
            "MpiDefault=none",
            "KillWait=5",
            "NodeName=%s NodeAddr=127.0.0.1 CPUs=%d State=UNKNOWN" % (self.host, self.cpus),
            "PartitionName=debug Nodes=ALL Default=YES MaxTime=INFINITE State=UP",
        ]
        with open(self.conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        self._daemon("slurmctld", [program("slurmctld"), "-f", self.conf],
                     self.path("slurmctld.pid"), self.path("slurmctld.log"))
        self._daemon("slurmd", [program("slurmd"), "-f", self.conf],
                     self.path("slurmd.pid"), self.path("slurmd.log"))
        deadline = time.monotonic() + timeout
        state = ""
        while time.monotonic() < deadline:
            r = subprocess.run(["sinfo", "-h", "-n", self.host, "-o", "%t"], env=self.env,
                               capture_output=True, text=True)
            state = (r.stdout.strip() or r.stderr.strip())
            if state == "idle":
                return
            time.sleep(0.5)
        raise Unavailable("the node is not idle after %d s (sinfo: %s)\n%s" % (
            timeout, state, self.tail(self.path("slurmd.log")) + self.tail(self.path("slurmctld.log"))))

    @staticmethod
    def tail(path, lines=15):
        try:
            with open(path, errors="replace") as f:
                return "".join(f.readlines()[-lines:])
        except OSError:
            return ""

    def _daemon(self, name, command, pid_file, log):
        r = subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           timeout=60)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            try:
                with open(pid_file) as f:
                    pid = int(f.read().split()[0])
                os.kill(pid, 0)
                self.pids[name] = pid
                return
            except (OSError, ValueError, IndexError):
                if r.returncode != 0:
                    break
                time.sleep(0.1)
        raise Unavailable("%s cannot start (exit status %d): %s\n%s" % (
            name, r.returncode, (r.stderr or r.stdout).strip(), self.tail(log)))

    def stop_daemon(self, name):
        """Stops one daemon by its PID and waits for it to go."""
        pid = self.pids.pop(name, None)
        if pid is None:
            return
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        for i in range(200):
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                return
            if i == 150:
                os.kill(pid, signal.SIGKILL)
            time.sleep(0.05)

    def stop(self):
        """Cancels what is left of the jobs, so that no task outlives its
        node, and stops the daemons."""
        if "slurmctld" in self.pids and "slurmd" in self.pids:
            subprocess.run(["scancel", "--user", pwd.getpwuid(os.getuid()).pw_name], env=self.env,
                           capture_output=True)
            for _ in range(100):
                if not self.squeue("--format", "%i").stdout.strip():
                    break
                time.sleep(0.1)
        for name in reversed(DAEMONS):
            self.stop_daemon(name)
        if self in LIVE:
            LIVE.remove(self)

    def squeue(self, *args):
        return subprocess.run(["squeue", "-h"] + list(args), env=self.env, capture_output=True, text=True)


@atexit.register
def stop_all():
    for cluster in list(LIVE):
        cluster.stop()


def remove(root):
    shutil.rmtree(root, ignore_errors=True)
