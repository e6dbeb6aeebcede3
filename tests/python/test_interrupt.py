"""run() lets go of the interpreter lock, and Ctrl+C stops it after the step
in hand with a state that goes on as if the run had been asked for those
steps."""
import json
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import quindelle as qd
from conftest import cloud

CHILD = r"""
import json, os, signal, sys, time
import quindelle as qd
sim = qd.load(sys.argv[1])
sim.formula = "DUDI"
sim.threads = int(sys.argv[3])
start = time.monotonic()
sim.run(10)
step_time = (time.monotonic() - start) / 10
print("running", flush=True)
result = {"stopped": False}
try:
    sim.run(2_000_000_000)
except KeyboardInterrupt:
    result = {"stopped": True, "caught": time.monotonic(), "steps": sim.step_count, "step_time": step_time}
    sim.save(sys.argv[2])
    sim.run(2)
    result["after"] = sim.step_count
# Afterwards Ctrl+C is Python's own again.
try:
    os.kill(os.getpid(), signal.SIGINT)
    time.sleep(5)
    result["restored"] = False
except KeyboardInterrupt:
    result["restored"] = True
print(json.dumps(result), flush=True)
"""


def interrupted(script, *args):
    """Runs `script` in a child Python, sends it SIGINT a moment after it
    says "running", and returns the JSON it prints last and when the signal
    went."""
    child = subprocess.Popen([sys.executable, "-c", script, *map(str, args)], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "running"
        time.sleep(0.3)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=60)
    finally:
        child.kill()
    return json.loads(out), sent

@pytest.mark.parametrize("threads", [1, 2])
def test_ctrl_c_stops_a_long_run_after_the_step_in_hand(tmp_path, quindelle_run, threads):
    start = tmp_path / "start.pln"
    cloud(particles=40, formula="DUDI").save(start)
    result, sent = interrupted(CHILD, start, tmp_path / "stopped.pln", threads)
    assert result["stopped"] and result["restored"]
    # Stopped promptly: the step in hand, and room for a loaded machine.
    assert result["caught"] - sent < 3 * result["step_time"] + 0.5
    assert result["steps"] > 10 and result["after"] == result["steps"] + 2

    # The state is that of a run of exactly those steps.
    quindelle_run(start, "--steps", result["steps"], "--formula", "DUDI", "--out", tmp_path / "batch.pln")
    assert (tmp_path / "stopped.pln").read_bytes() == (tmp_path / "batch.pln").read_bytes()


def test_a_signal_handler_that_does_not_raise_lets_the_run_go_on():
    sim = cloud(particles=40, formula="DUDI")
    sim.formula = "DUDI"
    sim.threads = 1
    called = []
    previous = signal.signal(signal.SIGINT, lambda *args: called.append(1))
    try:
        threading.Timer(0.05, os.kill, (os.getpid(), signal.SIGINT)).start()
        sim.run(60)
    finally:
        signal.signal(signal.SIGINT, previous)
    assert sim.step_count == 60 and called == [1]


def test_run_lets_other_threads_work():
    sim = cloud(particles=40, formula="DUDI")
    sim.formula = "DUDI"
    sim.threads = 1
    worker = threading.Thread(target=sim.run, args=(150,))
    worker.start()
    time.sleep(0.05)
    counted = 0
    try:
        with pytest.raises(RuntimeError, match="running in another thread"):
            sim.positions = sim.positions
        while worker.is_alive():
            counted += 1
    finally:
        worker.join()
    assert counted > 1000
    assert sim.step_count == 150


SWEEP = r"""
import concurrent.futures, json, sys, time
import quindelle as qd
ended = {}

def work(i):
    sim = qd.load(sys.argv[1])
    sim.formula = "DUDI"
    sim.threads = 1
    try:
        sim.run(2_000_000_000)
    finally:
        ended[i] = (time.monotonic(), sim.step_count)

result = {}
pool = concurrent.futures.ThreadPoolExecutor(3)
futures = [pool.submit(work, i) for i in range(3)]
try:
    time.sleep(0.2)
    print("running", flush=True)
    concurrent.futures.wait(futures)
    result["caught"] = None
except KeyboardInterrupt:
    result["caught"] = time.monotonic()
pool.shutdown(wait=True)
result["ended"] = [ended[i][0] for i in range(3)]
result["steps"] = [ended[i][1] for i in range(3)]
result["errors"] = [type(f.exception()).__name__ for f in futures]
print(json.dumps(result), flush=True)
"""


def test_ctrl_c_ends_every_run_of_a_thread_sweep(tmp_path):
    start = tmp_path / "start.pln"
    cloud(particles=30, formula="DUDI").save(start)
    result, sent = interrupted(SWEEP, start)
    assert result["caught"] is not None and result["caught"] - sent < 0.5
    assert result["errors"] == ["KeyboardInterrupt"] * 3
    assert all(end - sent < 0.5 for end in result["ended"]) and min(result["steps"]) > 0
