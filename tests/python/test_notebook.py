"""What a notebook shows: a simulation's table, and its energies drawn with
matplotlib from a history, a list of snapshots or simulations, or an archive."""
import html
import os
import pathlib
import re
import subprocess
import sys
import threading

import matplotlib
import numpy as np
import pytest

import quindelle as qd
from conftest import cloud, faulting_potential

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def table(sim):
    """The rows of a simulation's HTML table, unescaped."""
    text = sim._repr_html_()
    assert text.startswith('<table class="quindelle-simulation">') and text.endswith("</table>")
    return {html.unescape(k): html.unescape(v)
            for k, v in re.findall(r"<tr><th [^>]*>(.*?)</th><td [^>]*>(.*?)</td></tr>", text)}


def test_the_table_shows_the_state_choices_and_energies(tmp_path, monkeypatch):
    sim = cloud(particles=9, formula="PES")
    sim.formula, sim.kinds, sim.walls, sim.cooler, sim.drop_b = "PES", 15, "10", True, True
    path = tmp_path / "a&b <c>.pln"
    sim.save(path)
    sim = qd.load(path)
    sim.formula, sim.kinds, sim.walls, sim.cooler, sim.drop_b = "PES", 15, "10", True, True
    sim.run(12)
    rows = table(sim)
    second = int(np.count_nonzero(sim.present[45:]))
    assert rows == {
        "step": f"12 (time {sim.time})",
        "particles": f"9: {9 - second} of the first kind, {second} of the second",
        "formula": "PES", "sign": "gravoscope", "second kind": "the last 15 slots", "walls": "10",
        "switches": "cooler, drop_b",
        # Every digit of the 80-bit values.
        "kinetic": str(sim.kinetic), "potential": str(sim.potential), "total": str(sim.total),
        "source": str(path)}
    # The file name is text, not markup.
    assert "a&amp;b &lt;c&gt;.pln" in sim._repr_html_()
    # A potential that faults is told, and the rest still shows.
    faulting_potential(monkeypatch)
    rows = table(sim)
    assert (rows["potential"], rows["total"], rows["step"]) == ("fault: Floating point overflow", "-", rows["step"])


def test_a_running_simulation_shows_its_plain_repr():
    sim = cloud(particles=40, formula="DUDI")
    sim.formula, sim.threads = "DUDI", 1
    worker = threading.Thread(target=sim.run, args=(10_000_000,))
    worker.start()
    try:
        while not sim.running:
            pass
        assert sim._repr_html_() is None and "running" in repr(sim)
    finally:
        sim.stop()
        worker.join()
    assert sim._repr_html_() is not None


def curves(ax):
    return {line.get_label(): (line.get_xdata().tolist(), line.get_ydata().tolist()) for line in ax.get_lines()}


def expected(items, step):
    return {name: ([step(i) for i in items], [float(getattr(i, name)) for i in items])
            for name in ("kinetic", "potential", "total")}


def test_plot_energies_draws_each_kind_of_history(tmp_path, start_file, quindelle_run):
    sim = cloud(particles=12)
    sim.formula, sim.record_every = "DUDI", 5
    sim.run(30)
    snapshots = list(sim.history)
    quindelle_run(start_file(particles=12), "--steps", 30, "--formula", "DUDI", "--archive", tmp_path / "run.qra",
                  "--archive-every", 10)
    archive = qd.Archive(tmp_path / "run.qra")
    assert archive.steps == [0, 10, 20, 30]
    for history, items, step in [
            (sim.history, snapshots, lambda s: s.step),
            (sim, snapshots, lambda s: s.step),
            (snapshots[::2], snapshots[::2], lambda s: s.step),
            (archive, list(archive), lambda s: s.step_count),
            (archive[1:], archive[1:], lambda s: s.step_count)]:
        fig, ax = plt.subplots()
        assert qd.plot_energies(history, ax=ax) is ax
        assert curves(ax) == expected(items, step)
        assert (ax.get_xlabel(), ax.get_ylabel()) == ("step", "energy")
        assert [t.get_text() for t in ax.get_legend().get_texts()] == ["kinetic", "potential", "total"]
        plt.close(fig)
    # Without axes, matplotlib's current ones.
    plt.figure()
    assert qd.plot_energies(sim) is plt.gca()
    plt.close("all")


def test_plot_energies_refuses_what_it_cannot_draw():
    with pytest.raises(ValueError, match="no snapshots to draw"):
        qd.plot_energies(qd.Simulation())
    with pytest.raises(TypeError, match="needs snapshots or simulations, not float"):
        qd.plot_energies([1.5])


def test_plot_energies_without_matplotlib_says_what_to_install():
    code = ("import sys; sys.modules['matplotlib'] = None\n"
            "import quindelle as qd\nfrom conftest import cloud\n"
            "sim = cloud(particles=3); sim.run(2)\n"
            "try:\n    qd.plot_energies(sim)\nexcept ImportError as e:\n    print(e)\n")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60,
                          cwd=pathlib.Path(__file__).parent,
                          env=dict(os.environ, PYTHONPATH=str(pathlib.Path(qd.__file__).resolve().parents[1])))
    assert done.returncode == 0, done.stderr
    assert "plot_energies needs matplotlib (Debian: python3-matplotlib" in done.stdout
