"""The examples run as a user runs them: the scan as a script, with or
without matplotlib, the notebook headless in a kernel of its own, the guide's
sweeps as scripts; and all of them, with the package, pass mypy --strict."""
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

import nbclient
import nbformat
import pytest

import quindelle as qd

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "parameter_scan.py"
NOTEBOOK = ROOT / "examples" / "sweep.ipynb"
GUIDE = ROOT / "docs" / "python.md"
# The folder that holds the package, wherever the working folder is.
PACKAGE_PATH = str(pathlib.Path(qd.__file__).resolve().parents[1])


def guide_blocks(section):
    """The Python code blocks of one section of the guide."""
    text = GUIDE.read_text()
    start = text.index(f"\n## {section}\n")
    end = text.find("\n## ", start + 1)
    return re.findall(r"```python\n(.*?)```", text[start:end if end > 0 else None], re.S)


def test_example_scan_runs(tmp_path):
    env = dict(os.environ, PYTHONPATH=PACKAGE_PATH)
    done = subprocess.run([sys.executable, str(EXAMPLE), "--steps", "20", "--every", "10", "--values", "1,2"],
                          cwd=tmp_path, capture_output=True, text=True, timeout=120, env=env)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert any(line.startswith("A1=    1: total energy") and "after 20 steps" in line for line in lines)
    assert any(line.startswith("A1=    2:") for line in lines)
    plotted = (tmp_path / "parameter_scan.png").exists()
    assert plotted == ("plot written to parameter_scan.png" in lines)


SPAWN = "import multiprocessing\nmultiprocessing.set_start_method('spawn', force=True)\n"


@pytest.mark.parametrize("block,first", [(0, ""), (0, SPAWN), (1, "")], ids=["processes", "spawned", "threads"])
def test_the_guides_sweeps_run_as_scripts(tmp_path, block, first):
    code = guide_blocks("Sweeps on all cores")[block]
    (tmp_path / "sweep.py").write_text(first + code)
    shutil.copy(ROOT / "tests" / "package" / "square.pln", tmp_path / "start.pln")
    done = subprocess.run([sys.executable, "sweep.py"], cwd=tmp_path, capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, PYTHONPATH=PACKAGE_PATH))
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert len(lines) == 4 and all(" 2000" in line for line in lines), lines
    # Each value ran a simulation of its own.
    assert len({line.split()[-1] for line in lines}) == 4


def test_the_notebook_runs_headless(tmp_path):
    # A kernel of the test's own: this interpreter, the build's package,
    # matplotlib without a screen, and Jupyter's and IPython's files kept here.
    kernel = tmp_path / "jupyter" / "kernels" / "quindelle-test"
    kernel.mkdir(parents=True)
    (kernel / "kernel.json").write_text(json.dumps({
        "argv": [sys.executable, "-Xfrozen_modules=off", "-m", "ipykernel_launcher", "-f", "{connection_file}"],
        "display_name": "quindelle test", "language": "python",
        "env": {"PYTHONPATH": PACKAGE_PATH, "MPLBACKEND": "Agg"}}))
    work = tmp_path / "work"
    work.mkdir()
    shutil.copy(ROOT / "dist" / "examples" / "two-squares.pln", work)
    notebook = nbformat.read(NOTEBOOK, as_version=4)
    env = {"JUPYTER_PATH": str(tmp_path / "jupyter"), "JUPYTER_RUNTIME_DIR": str(tmp_path / "runtime"),
           "JUPYTER_CONFIG_DIR": str(tmp_path / "config"), "IPYTHONDIR": str(tmp_path / "ipython")}
    saved = {name: os.environ.get(name) for name in env}
    os.environ.update(env)
    try:
        nbclient.NotebookClient(notebook, timeout=120, kernel_name="quindelle-test",
                                resources={"metadata": {"path": str(work)}}).execute()
    finally:
        for name, value in saved.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value
    outputs = [o for cell in notebook.cells if cell.cell_type == "code" for o in cell.outputs]
    assert not [o for o in outputs if o.output_type == "error"]
    tables = [o.data["text/html"] for o in outputs if "text/html" in o.get("data", {})]
    # The start and the read-back export show themselves as tables.
    assert len(tables) == 2 and all('class="quindelle-simulation"' in t for t in tables)
    printed = "".join(o.get("text", "") for o in outputs if o.output_type == "stream" and o.name == "stdout")
    assert printed.count("step 4000") == 4
    assert "slot" in printed and (work / "steadiest.xyz").exists()


def test_the_examples_and_the_package_pass_mypy_strict(tmp_path):
    # The guide's sweeps are example code too.
    for i, code in enumerate(guide_blocks("Sweeps on all cores")):
        (tmp_path / f"guide_sweep_{i}.py").write_text(code)
    notebook = nbformat.read(NOTEBOOK, as_version=4)
    (tmp_path / "notebook.py").write_text("\n\n".join(c.source for c in notebook.cells if c.cell_type == "code"))
    files = [str(EXAMPLE)] + sorted(str(p) for p in tmp_path.glob("*.py"))
    # On MYPYPATH the package is checked as strictly as the examples, not
    # passed over as an installed one would be.
    done = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--config-file", str(ROOT / "mypy.ini"),
                           "--cache-dir", str(tmp_path / "cache"), *files, str(pathlib.Path(qd.__file__).parent)],
                          capture_output=True, text=True, timeout=300,
                          env=dict(os.environ, MYPYPATH=PACKAGE_PATH), cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
