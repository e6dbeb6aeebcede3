"""Values keep every bit between numpy, the state and the files; bad input
raises an ordinary Python exception and changes nothing."""
import decimal
import fractions
import gc
import os

import numpy as np
import pytest

import quindelle as qd
from conftest import cloud, significant_bytes


def random_bits(seed, shape):
    """longdouble values of random bit patterns: NaNs, infinities, denormals
    and unnormals among them."""
    raw = np.zeros(shape + (16,), np.uint8)
    raw[..., :10] = np.random.default_rng(seed).integers(0, 256, shape + (10,), dtype=np.uint8)
    return raw.view(np.longdouble).reshape(shape)


def test_arrays_are_longdouble_of_the_slots():
    sim = cloud(particles=7)
    for name in ("positions", "velocities"):
        values = getattr(sim, name)
        assert values.dtype == np.longdouble and values.shape == (60, 3)
        assert np.finfo(values.dtype).nmant == 63  # the 80-bit format
    assert sim.present.dtype == np.bool_ and sim.present.shape == (60,)
    assert sim.present.sum() == 7
    assert isinstance(sim.params["Dt"], np.longdouble)
    # The arrays are copies, read-only so that writing into one raises
    # rather than silently changing nothing; a changed copy is assigned.
    sim.step()
    snap = sim.history[-1]
    for values in (sim.positions, sim.velocities, sim.present, snap.positions, snap.velocities, snap.present):
        with pytest.raises(ValueError, match="read-only"):
            values[0] = values[1]
    moved = sim.positions.copy()
    moved[0, 0] = 99
    sim.positions = moved
    assert sim.positions[0, 0] == 99


def test_every_bit_survives_numpy_the_state_and_a_file(tmp_path):
    sim = qd.Simulation()
    positions, velocities = random_bits(1, (60, 3)), random_bits(2, (60, 3))
    sim.positions, sim.velocities = positions, velocities
    sim.present = np.ones(60, bool)
    params = random_bits(3, (11,))
    for name, value in zip(qd.PARAMETERS, params):
        sim.params[name] = value
    for copy in (sim, sim.copy()):
        assert (significant_bytes(copy.positions) == significant_bytes(positions)).all()
        assert (significant_bytes(copy.velocities) == significant_bytes(velocities)).all()
        assert (significant_bytes(list(copy.params.values())) == significant_bytes(params)).all()

    sim.save(tmp_path / "bits.pln")
    back = qd.load(tmp_path / "bits.pln")
    assert (significant_bytes(back.positions) == significant_bytes(positions)).all()
    assert (significant_bytes(back.velocities) == significant_bytes(velocities)).all()
    back.save(tmp_path / "again.pln")
    assert (tmp_path / "again.pln").read_bytes() == (tmp_path / "bits.pln").read_bytes()


@pytest.mark.parametrize("dtype", [np.float16, np.float32, np.float64, np.int64, np.longdouble])
def test_any_number_dtype_is_taken_exactly(dtype):
    values = (np.arange(180).reshape(60, 3) - 90).astype(dtype) / dtype(8) if dtype != np.int64 \
        else np.arange(180, dtype=dtype).reshape(60, 3) - 90
    sim = qd.Simulation()
    sim.velocities = values
    np.testing.assert_array_equal(sim.velocities, values.astype(np.longdouble))
    sim.positions = values.tolist()  # nested lists too
    np.testing.assert_array_equal(sim.positions, values.astype(np.longdouble))


def test_parameter_text_is_read_as_the_command_line_reads_it():
    sim = qd.Simulation()
    sim.params["A1"] = "0.1"
    sim.params["B1"] = 0.1
    assert sim.params["A1"] == np.longdouble("0.1") != sim.params["B1"]
    assert sim.params["B1"] == np.longdouble(0.1)
    sim.dt = "1e-3"
    assert sim.dt == sim.params["Dt"] == np.longdouble("0.001")
    assert "A1" in sim.params and "G1" not in sim.params and len(sim.params) == 11
    assert list(sim.params) == list(qd.PARAMETERS) == sim.params.keys()
    assert sim.params.get("G1", "none") == "none"
    sim.params.update({"C1": "0.5"}, D1=2, F2="0.1")
    assert (sim.params["C1"], sim.params["D1"], sim.params["F2"]) == (0.5, 2, np.longdouble("0.1"))
    with pytest.raises(KeyError):
        sim.params.update(C1=1, G7=2)
    assert sim.params["C1"] == 0.5
    # The views keep their simulation alive.
    params, history = qd.Simulation().params, cloud().history
    gc.collect()
    params["A1"] = 3
    assert params["A1"] == 3 and len(history) == 0


EXACT_NUMBERS = [
    (decimal.Decimal("0.1"), "0.1"),
    (decimal.Decimal("-2.5E+3"), "-2500"),
    (fractions.Fraction(1, 10), "0.1"),
    (fractions.Fraction(-7, 3), None),
    (10**30, "1e30"),
    (-(10**30), "-1e30"),
    (2**64 + 1, "18446744073709551617"),  # a tie: to the even neighbour below
    (2**64 + 3, "18446744073709551619"),  # a tie: to the even neighbour above
    (2**64 - 1, "18446744073709551615"),  # exact
    (2**16383, None),
]


@pytest.mark.parametrize("value,text", EXACT_NUMBERS, ids=[type(v).__name__ + ":" + (t or "computed") for v, t in EXACT_NUMBERS])
def test_integers_decimals_and_fractions_round_once_to_80_bits(value, text):
    sim = qd.Simulation()
    sim.params["A1"] = value
    if text is not None:
        expected = np.longdouble(text)
    elif isinstance(value, fractions.Fraction):
        expected = np.longdouble(value.numerator) / np.longdouble(value.denominator)
    else:
        expected = np.longdouble(2) ** 16383
    assert sim.params["A1"].tobytes() == expected.tobytes()


REFUSED_NUMBERS = [
    (10**5000, "too large for an 80-bit number"),
    (decimal.Decimal("NaN"), "not a finite number"),
    (decimal.Decimal("1E+5000"), "not a valid floating point value"),
    (fractions.Fraction(1, 3**50), "give its decimal text"),
    ("1" * 100000 + "x", "not a valid floating point value"),
]


@pytest.mark.parametrize("value,message", REFUSED_NUMBERS, ids=[m for _, m in REFUSED_NUMBERS])
def test_numbers_beyond_the_format_are_refused_in_short_words(value, message):
    sim = qd.Simulation()
    with pytest.raises(ValueError, match=message) as e:
        sim.params["A1"] = value
    assert str(e.value).startswith("A1: ") and len(str(e.value)) < 200
    assert sim.params["A1"] == 0


def fingerprint(sim):
    return (sim.positions.tobytes(), sim.velocities.tobytes(), sim.present.tobytes(),
            [p.tobytes() for p in sim.params.values()], sim.formula, sim.sign, sim.kinds, sim.walls,
            sim.threads, sim.cooler, sim.step_count, len(sim.history))


BAD_SETTINGS = [
    ("formula", "DUDU", ValueError, "unknown formula 'DUDU'"),
    ("sign", "up", ValueError, "unknown sign mode"),
    ("kinds", 20, ValueError, "kinds takes 30, 15 or 10"),
    ("kinds", 1.5, TypeError, "kinds needs"),
    ("walls", "5", ValueError, "walls takes none, 1.5, 10 or 100"),
    ("walls", True, ValueError, "walls takes"),
    ("threads", 0, ValueError, "threads needs a whole number from 1"),
    ("threads", "2", TypeError, "threads needs a whole number"),
    ("cooler", "yes", TypeError, "cooler needs True or False"),
    ("positions", np.zeros((59, 3)), ValueError, r"shape \(60, 3\), not \(59, 3\)"),
    ("velocities", [[1, 2]], ValueError, r"shape \(60, 3\), not \(1, 2\)"),
    ("positions", "many", TypeError, "positions needs an array"),
    ("present", np.ones(61), ValueError, r"shape \(60,\), not \(61,\)"),
    ("dt", "1,5", ValueError, "'1,5' is not a valid floating point value.*full stop"),
    ("dt", None, TypeError, "Dt needs a number"),
    ("formula", None, TypeError, "formula needs a text, not NoneType"),
    ("sign", 1, TypeError, "sign needs a text, not int"),
    ("positions", np.zeros((60, 3), complex), TypeError, "positions needs real numbers, not complex"),
    ("velocities", [[1j, 0, 0]] * 60, TypeError, "velocities needs real numbers"),
]


@pytest.mark.parametrize("name,value,error,message", BAD_SETTINGS)
def test_bad_setting_is_refused_and_changes_nothing(name, value, error, message):
    sim = cloud()
    sim.run(1)
    before = fingerprint(sim)
    with pytest.raises(error, match=message):
        setattr(sim, name, value)
    assert fingerprint(sim) == before


def test_bad_calls_are_refused_and_change_nothing(tmp_path):
    sim = cloud()
    sim.save(tmp_path / "start.pln")
    sim = qd.load(tmp_path / "start.pln")
    sim.run(1)
    before = fingerprint(sim)
    calls = [
        (lambda: sim.params.__setitem__("G1", 1), KeyError, "no parameter 'G1'"),
        (lambda: sim.params["g1"], KeyError, "Dt, A1"),
        (lambda: sim.params.update({"A1": 2, "B1": "x"}), ValueError, "B1: 'x' is not a valid"),
        (lambda: sim.run(-1), ValueError, "at least 0"),
        (lambda: sim.run("5"), TypeError, "run needs a whole number of steps, not str"),
        (lambda: sim.run(True), TypeError, "not a truth value"),
        (lambda: sim.run(2.0), TypeError, "not float"),
        (lambda: sim.run(2**70), ValueError, "below 2"),
        (lambda: sim.continue_from(5), IndexError, "history index"),
        (lambda: sim.continue_from(len(sim.history)), IndexError, "history index"),
        (lambda: sim.continue_from(-len(sim.history) - 1), IndexError, "history index"),
        (lambda: sim.history[-5], IndexError, "history index"),
        (lambda: sim.save(tmp_path / "start.pln"), ValueError, "loaded from; save to another file"),
        (lambda: sim.save(tmp_path / "no" / "such.pln"), FileNotFoundError, "No such folder: .*/no'"),
    ]
    for call, error, message in calls:
        with pytest.raises(error, match=message):
            call()
        assert fingerprint(sim) == before
    assert sorted(os.listdir(tmp_path)) == ["start.pln"]
    sim.run(np.int64(2))  # numpy's whole numbers count as steps
    assert sim.step_count == 3


def test_files_that_cannot_be_loaded(tmp_path):
    (tmp_path / "short.pln").write_bytes(bytes(3775))
    cases = [
        (tmp_path / "missing.pln", FileNotFoundError, "File not found"),
        (tmp_path, IsADirectoryError, "Is a folder, not a file"),
        (tmp_path / "short.pln", ValueError, "short.pln: Read beyond end of file"),
    ]
    for path, error, message in cases:
        with pytest.raises(error, match=message):
            qd.load(path)
    with pytest.raises(TypeError):
        qd.load(5)


def test_save_replaces_a_file_whole(tmp_path):
    target = tmp_path / "out.pln"
    target.write_bytes(b"old")
    sim = cloud()
    sim.save(str(target))
    assert target.stat().st_size == 3776
    assert os.listdir(tmp_path) == ["out.pln"]
    assert qd.load(target).positions.tobytes() == sim.positions.tobytes()


CHANGES = [
    # (what is changed, whether the copy still equals the original)
    ("nothing", lambda s: None, True),
    ("threads", lambda s: setattr(s, "threads", 3), True),
    ("recording", lambda s: setattr(s, "recording", False), True),
    ("a step", lambda s: s.step(), False),
    ("formula", lambda s: setattr(s, "formula", "PES"), False),
    ("walls", lambda s: setattr(s, "walls", "10"), False),
    ("cooler", lambda s: setattr(s, "cooler", True), False),
    ("kinds", lambda s: setattr(s, "kinds", 10), False),
    ("a parameter by its sign only", lambda s: s.params.__setitem__("A2", "-0"), False),
    ("a slot", lambda s: setattr(s, "present", np.arange(60) < 3), False),
]


@pytest.mark.parametrize("name,change,equal", CHANGES, ids=[c[0] for c in CHANGES])
def test_equality_is_of_state_and_choices_bit_for_bit(name, change, equal):
    sim = cloud(particles=6)
    sim.formula = "DUDI"
    sim.params["A2"] = 0
    other = sim.copy()
    change(other)
    assert (sim == other) is equal and (sim != other) is not equal
    assert (sim.params == other.params) is (name != "a parameter by its sign only")
    assert sim != "a simulation" and sim.params == dict(sim.params.items())
    with pytest.raises(TypeError):
        hash(sim)
