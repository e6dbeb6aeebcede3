"""Run archives read from Python: every snapshot a Simulation that goes on
bit for bit as the archived run did, and damaged files refused."""
import os
import zlib

import numpy as np
import pytest

import quindelle as qd
from conftest import significant_bytes

# (options, steps, snapshot cadence, the snapshots' steps)
RUNS = [
    (["--formula", "DUDI"], 12, 5, [0, 5, 10, 12]),
    (["--formula", "PES", "--walls", "10", "--cooler"], 9, 3, [0, 3, 6, 9]),
]


def same_state(a, b):
    for name in ("positions", "velocities"):
        assert np.array_equal(significant_bytes(getattr(a, name)), significant_bytes(getattr(b, name))), name
    assert np.array_equal(a.present, b.present)


@pytest.mark.parametrize("options,steps,every,snapshots", RUNS)
def test_each_snapshot_goes_on_as_the_run_did(tmp_path, start_file, quindelle_run, options, steps, every,
                                              snapshots):
    start = start_file(particles=20, formula=options[1])
    quindelle_run(start, "--steps", steps, *options, "--archive", tmp_path / "run.qra", "--archive-every", every,
                  "--out", tmp_path / "end.pln")
    archive = qd.Archive(tmp_path / "run.qra")
    assert len(archive) == len(snapshots) and archive.steps == snapshots
    assert [s.step_count for s in archive[1:]] == snapshots[1:]
    assert [s.step_count for s in archive[::-2]] == snapshots[::-2]
    assert not archive.torn_tail and archive.faults == [None] * len(snapshots)
    end = qd.load(tmp_path / "end.pln")
    same_state(archive[-1], end)
    # load() opens an archive as the window does: its last snapshot, whole.
    whole = qd.load(tmp_path / "run.qra")
    same_state(whole, end)
    assert (whole.formula, whole.walls, whole.cooler, whole.step_count) == (
        archive[-1].formula, archive[-1].walls, archive[-1].cooler, steps)
    for i, step in enumerate(snapshots):
        sim = archive.at_step(step)
        assert sim.formula == options[1]
        assert sim.walls == (options[options.index("--walls") + 1] if "--walls" in options else "none")
        same_state(sim, archive[i])
        sim.run(steps - step)
        same_state(sim, end)


def test_damaged_and_missing_archives(tmp_path, start_file, quindelle_run):
    quindelle_run(start_file(), "--steps", 4, "--archive", tmp_path / "run.qra", "--archive-every", 2)
    whole = (tmp_path / "run.qra").read_bytes()
    with pytest.raises(ValueError, match="nearest are steps 2 and 4"):
        qd.Archive(tmp_path / "run.qra").at_step(3)
    with pytest.raises(IndexError):
        qd.Archive(tmp_path / "run.qra")[3]

    # A snapshot cut short at the end is left out and told.
    (tmp_path / "torn.qra").write_bytes(whole[:-7])
    torn = qd.Archive(tmp_path / "torn.qra")
    assert torn.torn_tail and torn.steps == [0, 2]

    for name, data in [("header.qra", whole[:20]), ("empty.qra", b""), ("start.pln", None),
                       ("flipped.qra", whole[:len(whole) // 2] + bytes([whole[len(whole) // 2] ^ 1])
                        + whole[len(whole) // 2 + 1:])]:
        if data is not None:
            (tmp_path / name).write_bytes(data)
        with pytest.raises(ValueError):
            qd.Archive(tmp_path / name)[0]
    with pytest.raises(FileNotFoundError):
        qd.Archive(tmp_path / "missing.qra")
    with pytest.raises(IsADirectoryError):
        qd.Archive(tmp_path)


HEADER, FRAME = 29, 9486
TAON_AT, FAULT_AT = 153, 25


def crafted(data, frame, offset, field):
    """The archive's bytes with `field` written into snapshot `frame` (from 0)
    at `offset`, and that snapshot's checksum made right again."""
    at = HEADER + frame * FRAME
    data = bytearray(data)
    data[at + offset:at + offset + len(field)] = field
    data[at + FRAME - 4:at + FRAME] = zlib.crc32(bytes(data[at:at + FRAME - 4])).to_bytes(4, "little")
    return bytes(data)


def with_fault(data, frame, text):
    return crafted(data, frame, FAULT_AT, bytes([len(text)]) + text + bytes(127 - len(text)))


def test_crafted_fields_name_the_file_and_the_snapshot(tmp_path, start_file, quindelle_run):
    quindelle_run(start_file(), "--steps", 4, "--archive", tmp_path / "run.qra", "--archive-every", 2)
    whole = (tmp_path / "run.qra").read_bytes()
    for name, data, says in [
            ("slots.qra", crafted(whole, 1, TAON_AT, (-7).to_bytes(4, "little", signed=True)),
             "snapshot 2 is damaged (slot count -7 outside 0..60 at byte 9515)"),
            ("escape.qra", with_fault(whole, 2, b"\x1b[2J"), "snapshot 3 is damaged (fault text that is not"),
            ("utf8.qra", with_fault(whole, 2, b"\xff\xfe"), "snapshot 3 is damaged (fault text that is not"),
            ("steps.qra", crafted(crafted(whole, 2, 8, (1).to_bytes(8, "little")), 2, 157, (1).to_bytes(4, "little")),
             "snapshot 3 is damaged (step 1 after step 2")]:
        (tmp_path / name).write_bytes(data)
        with pytest.raises(ValueError) as caught:
            qd.Archive(tmp_path / name).faults
        assert str(caught.value).startswith(f"{tmp_path / name}: {says}")
        assert not isinstance(caught.value, UnicodeError)

    # A fault right after a snapshot, written as a snapshot of that step
    # again, is marked on it: every step once.
    pair = with_fault(whole + whole[-FRAME:], 3, b"Floating point overflow")
    (tmp_path / "pair.qra").write_bytes(pair)
    archive = qd.Archive(tmp_path / "pair.qra")
    assert archive.steps == [0, 2, 4] and len(archive) == 3
    assert archive.faults == [None, None, "Floating point overflow"]
