"""Signatures with real types for the compiled calls whose parameters take
more than one type: pybind11 can only call those "handle" or "object", which
is what help(), inspect.signature and a notebook's `sim.run?` would show.
Each call keeps its compiled body; what the caller passes goes through as
given. A number of steps shows as an int, though any integer type with
__index__ (numpy's) is taken, as the stubs say."""
import functools
import os
from collections.abc import Callable, Mapping
from typing import Any, SupportsFloat, TypeVar

from . import _quindelle
from ._quindelle import Archive, Parameters, Simulation

# A path as os.fsdecode takes it.
StrPath = str | bytes | os.PathLike[str] | os.PathLike[bytes]
# A value for a parameter: text with a full stop (read as --set reads it) or
# any real number.
Number = SupportsFloat | str

_Call = TypeVar("_Call", bound=Callable[..., Any])


def _body(compiled: Any) -> str:
    """The compiled call's documentation without pybind11's signature line."""
    doc: str = compiled.__doc__ or ""
    return doc.split("\n\n", 1)[1] if "\n\n" in doc else ""


def _typed(owner: Any) -> Callable[[_Call], _Call]:
    """Puts the prototype's signature on the compiled method of its name."""
    def install(prototype: _Call) -> _Call:
        compiled = getattr(owner, prototype.__name__)

        @functools.wraps(prototype)
        def call(*args: Any, **kwargs: Any) -> Any:
            return compiled(*args, **kwargs)
        call.__doc__ = _body(compiled)
        call.__module__, call.__qualname__ = "quindelle", f"{owner.__name__}.{prototype.__name__}"
        setattr(owner, prototype.__name__, call)
        return prototype
    return install


def load(path: StrPath) -> Simulation:
    return _quindelle.load(path)


load.__doc__, load.__module__ = _body(_quindelle.load), "quindelle"


@_typed(Simulation)
def run(self: Simulation, steps: int, *, every: int | None = None,
        callback: Callable[[Simulation], object] | None = None, archive: StrPath | None = None,
        archive_every: int | None = None, xyz: StrPath | None = None, csv: StrPath | None = None,
        resume: bool = False, progress: bool = False) -> None: ...


@_typed(Simulation)
def save(self: Simulation, path: StrPath) -> None: ...


@_typed(Archive)
def __init__(self: Archive, path: StrPath) -> None: ...


@_typed(Parameters)
def get(self: Parameters, name: str, default: Any = None) -> Any: ...


@_typed(Parameters)
def update(self: Parameters, values: Mapping[str, Number] | None = None, /, **named: Number) -> None: ...
