"""The examples run as a user runs them: the scan as a script, with or
without matplotlib; and they, with the package, pass mypy --strict."""
import os
import pathlib
import subprocess
import sys

import quindelle as qd

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "parameter_scan.py"
# The folder that holds the package, wherever the working folder is.
PACKAGE_PATH = str(pathlib.Path(qd.__file__).resolve().parents[1])


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


def test_the_examples_and_the_package_pass_mypy_strict(tmp_path):
    files = [str(EXAMPLE)] + sorted(str(p) for p in tmp_path.glob("*.py"))
    # On MYPYPATH the package is checked as strictly as the examples, not
    # passed over as an installed one would be.
    done = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--config-file", str(ROOT / "mypy.ini"),
                           "--cache-dir", str(tmp_path / "cache"), *files, str(pathlib.Path(qd.__file__).parent)],
                          capture_output=True, text=True, timeout=300,
                          env=dict(os.environ, MYPYPATH=PACKAGE_PATH), cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
