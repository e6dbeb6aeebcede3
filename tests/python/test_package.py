"""The package as its users and their tools see it: every public name under
`quindelle` (pickles too), real types in the signatures that help() and
inspect show, and stubs that say what the module does."""
import inspect
import os
import pathlib
import pickle
import pickletools
import subprocess
import sys
import types

import quindelle as qd
from conftest import cloud

PACKAGE = pathlib.Path(qd.__file__).resolve().parent
CLASSES = ["Archive", "FloatingPointFault", "History", "Parameters", "Simulation", "Snapshot"]
FUNCTIONS = ["from_ase", "load", "plot_energies"]


def globals_of(data):
    """The module.name of every class or function a pickle refers to."""
    return {arg.replace(" ", ".") for op, arg, _ in pickletools.genops(data) if op.name == "GLOBAL"}


def test_every_public_name_is_the_packages(tmp_path, start_file, quindelle_run):
    assert sorted(qd.__all__) == sorted(CLASSES + FUNCTIONS + ["FORMULAS", "PARAMETERS", "__version__"])
    for name in CLASSES + FUNCTIONS:
        assert getattr(qd, name).__module__ == "quindelle", name
    assert issubclass(qd.FloatingPointFault, FloatingPointError)
    assert {p.name for p in PACKAGE.iterdir()} >= {"__init__.py", "_quindelle.pyi", "py.typed"}
    # Pickles name the public path, which stays wherever the compiled part is kept.
    sim = cloud(particles=4)
    sim.run(2)
    quindelle_run(start_file(), "--steps", 2, "--archive", tmp_path / "run.qra")
    for thing, named in [(sim, "quindelle.Simulation"), (sim.history[0], "quindelle.Snapshot"),
                         (qd.Archive(tmp_path / "run.qra"), "quindelle.Archive")]:
        data = pickle.dumps(thing, protocol=2)
        assert named in globals_of(data) and not any("_quindelle" in g for g in globals_of(data))
        assert type(pickle.loads(data)) is type(thing)


def public_callables():
    for name in FUNCTIONS:
        yield name, getattr(qd, name)
    for cls in CLASSES:
        for name, member in vars(getattr(qd, cls)).items():
            # A slot wrapper's __init__ is that of a class with no constructor.
            if callable(member) and not isinstance(member, types.WrapperDescriptorType) and (
                    not name.startswith("_") or name == "__init__"):
                yield f"{cls}.{name}", member


def compiled_parameters(doc):
    """The parameters of pybind11's signature line: (name, type) pairs, "*"
    for the start of the keyword-only ones."""
    inner = doc.split("\n", 1)[0].split("(", 1)[1].rsplit(") ->", 1)[0]
    parts, depth, start = [], 0, 0
    for i, c in enumerate(inner + ","):
        depth += c in "[(" and 1 or (c in "])" and -1 or 0)
        if c == "," and depth == 0:
            parts.append(inner[start:i].strip())
            start = i + 1
    return [tuple(p.split("=")[0].split(": ")) if ": " in p else (p, "") for p in parts if p]


def test_the_calls_show_real_types():
    untyped = []
    for name, call in public_callables():
        try:
            signature = inspect.signature(call)
        except ValueError:
            # A compiled call: pybind11's signature line, whose "handle" and
            # "object" say nothing.
            params = compiled_parameters(call.__doc__)
            untyped += [f"{name}({p})" for p, t in params if p not in ("self", "*") and t.strip() in
                        ("handle", "object")]
            continue
        untyped += [f"{name}({p.name})" for p in signature.parameters.values()
                    if p.annotation is inspect.Parameter.empty and p.name != "self"]
        if signature.return_annotation is inspect.Signature.empty and not name.endswith("__init__"):
            untyped.append(f"{name} -> ?")
        # The documentation stays with the call it describes.
        if not name.endswith("__init__") and not inspect.getdoc(call):
            untyped.append(f"{name}: no documentation")
    assert untyped == []


def compiled_kinds(doc):
    """(name, kind) of each parameter of pybind11's signature line."""
    out, keyword = [], False
    for name, _ in compiled_parameters(doc):
        if name == "*":
            keyword = True
        elif name != "/":
            out.append(("**", "var") if name.startswith("**") else (name, "keyword" if keyword else "positional"))
    return out


def shown_kinds(signature):
    kinds = {inspect.Parameter.KEYWORD_ONLY: "keyword", inspect.Parameter.VAR_KEYWORD: "var"}
    return [("**" if p.kind == p.VAR_KEYWORD else p.name, kinds.get(p.kind, "positional"))
            for p in signature.parameters.values()]


def test_the_typed_calls_take_what_their_compiled_bodies_take():
    checked = 0
    for name, call in public_callables():
        compiled = inspect.getclosurevars(call).nonlocals.get("compiled") if inspect.isfunction(call) else None
        if compiled is None:
            continue
        checked += 1
        ours, theirs = shown_kinds(inspect.signature(call)), compiled_kinds(compiled.__doc__)
        # Every parameter of the body is shown, in its order and kind...
        assert [p for p in ours if p in theirs] == theirs, name
        # ...and none is shown that the body would refuse.
        assert [p for p in ours if p not in theirs] == [], name
    assert checked >= 4


# Where the stubs and the compiled classes differ by design.
ALLOWED = """
# pybind11's classes have its metaclass, which the stubs leave out.
quindelle(\\._quindelle)?\\.(Archive|History|Parameters|Simulation|Snapshot)
# Snapshots, histories and parameters come from a simulation, never from a
# constructor of their own.
quindelle(\\._quindelle)?\\.(History|Parameters|Snapshot)\\.__init__
# The parts written in Python are checked where the package exports them.
quindelle\\._(ase|notebook|signatures)\\..*
"""


def test_the_stubs_say_what_the_module_has(tmp_path):
    (tmp_path / "allowed.txt").write_text(ALLOWED)
    path = str(PACKAGE.parent)
    done = subprocess.run([sys.executable, "-m", "mypy.stubtest", "quindelle", "--allowlist",
                           str(tmp_path / "allowed.txt"), "--mypy-config-file",
                           str(pathlib.Path(__file__).resolve().parents[2] / "mypy.ini")],
                          capture_output=True, text=True, timeout=300, cwd=tmp_path,
                          env=dict(os.environ, PYTHONPATH=path, MYPYPATH=path))
    assert done.returncode == 0, done.stdout + done.stderr
