"""The sweep's tests on a Slurm of their own: one cluster for the module,
skipped aloud where it cannot start (ctest then counts the tests as
skipped, not passed)."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import slurm_cluster  # noqa: E402

SKIPPED = 77
unavailable = []


def ended_by(sig, _frame):
    # A timeout's SIGTERM still stops the daemons (at exit).
    sys.exit(128 + sig)


for _sig in (signal.SIGTERM, signal.SIGHUP):
    signal.signal(_sig, ended_by)


def pytest_sessionfinish(session, exitstatus):
    if exitstatus == 0 and unavailable:
        sys.stderr.write("\nSlurm tests skipped: %s\n" % unavailable[0])
        session.exitstatus = SKIPPED


def start_cluster():
    """A running cluster in a short scratch path (munge's socket path is
    bounded), or a skip that says why not."""
    if unavailable:
        pytest.skip("no Slurm can start here: %s" % unavailable[0])
    root = tempfile.mkdtemp(prefix="qd-slurm-", dir="/tmp")
    cluster = slurm_cluster.Cluster(root)
    try:
        cluster.start()
    except slurm_cluster.Unavailable as e:
        slurm_cluster.remove(root)
        unavailable.append(str(e))
        pytest.skip("no Slurm can start here: %s" % e)
    return cluster


@pytest.fixture(scope="module")
def cluster():
    c = start_cluster()
    try:
        yield c
    finally:
        c.stop()
        slurm_cluster.remove(c.root)


@pytest.fixture
def lone_cluster():
    """A cluster for one test that may stop its daemons."""
    c = start_cluster()
    try:
        yield c
    finally:
        c.stop()
        slurm_cluster.remove(c.root)


@pytest.fixture(scope="module")
def programs(tmp_path_factory):
    """quindelle-sweep and quindelle-run under test, and a configuration."""
    sweep, run = os.environ.get("QUINDELLE_SWEEP"), os.environ.get("QUINDELLE_RUN")
    assert sweep and run, "QUINDELLE_SWEEP and QUINDELLE_RUN must name the programs under test"
    base = str(tmp_path_factory.mktemp("base") / "square.pln")
    shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "package", "square.pln"), base)
    return sweep, run, base


@pytest.fixture
def sweep(programs, tmp_path):
    """Runs quindelle-sweep; with a cluster, its commands reach that
    cluster and its tasks find quindelle-run on the path."""
    program, run, _ = programs
    config = tmp_path / "config"
    config.mkdir()

    def call(args, cluster=None, path=None, wait=True, **kwargs):
        env = dict(cluster.env if cluster else os.environ, XDG_CONFIG_HOME=str(config))
        env["PATH"] = path if path is not None else os.path.dirname(run) + ":" + env.get("PATH", "/usr/bin:/bin")
        command = [program] + [str(a) for a in args]
        if not wait:
            return subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                    **kwargs)
        return subprocess.run(command, env=env, capture_output=True, text=True, timeout=600, **kwargs)
    return call
