"""The example scan runs as a script, with or without matplotlib."""
import os
import pathlib
import subprocess
import sys

import quindelle as qd

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "parameter_scan.py"


def test_example_scan_runs(tmp_path):
    # The module this test imports, wherever the working folder is.
    env = dict(os.environ, PYTHONPATH=os.path.dirname(qd.__file__))
    done = subprocess.run([sys.executable, str(EXAMPLE), "--steps", "20", "--every", "10", "--values", "1,2"],
                          cwd=tmp_path, capture_output=True, text=True, timeout=120, env=env)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert any(line.startswith("A1=    1: total energy") and "after 20 steps" in line for line in lines)
    assert any(line.startswith("A1=    2:") for line in lines)
    plotted = (tmp_path / "parameter_scan.png").exists()
    assert plotted == ("plot written to parameter_scan.png" in lines)
