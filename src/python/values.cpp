#include "python/values.h"

#include <pybind11/numpy.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/batch/batch_run.h"
#include "core/common/errors.h"
#include "core/editing/number_text.h"
#include "python/bindings.h"
#include "python/simulation.h"

namespace py = pybind11;

namespace qd::python {

namespace {

// The largest finite 80-bit value is below 2^16384.
constexpr long long kMaxIntegerBits = 16384;
// A text quoted in a message is cut to this many characters.
constexpr std::size_t kQuoted = 40;

using ExtendedArray = py::array_t<long double, py::array::c_style | py::array::forcecast>;

std::string Quoted(std::string text) {
  if (text.size() > kQuoted) text = text.substr(0, kQuoted) + "…";
  return text;
}

Extended FromText(const std::string& text, const std::string& name) {
  try {
    return qd::TextToFloat(text, '.');
  } catch (const qd::ConvertError&) {
    const bool comma = text.find(',') != std::string::npos;
    throw BadValue(name + ": '" + Quoted(text) + "' is not a valid floating point value" +
                   (comma ? " (numbers take a full stop here)" : ""));
  }
}

// The Extended nearest to a Python integer, ties to even, computed from its
// top 64 bits and what lies below them. False when it is beyond the format.
bool IntegerToExtended(py::handle value, Extended& out) {
  const py::int_ n = py::reinterpret_borrow<py::int_>(value);
  const bool negative = PyObject_RichCompareBool(n.ptr(), py::int_(0).ptr(), Py_LT) == 1;
  const py::object magnitude = py::reinterpret_steal<py::object>(PyNumber_Absolute(n.ptr()));
  if (!magnitude) throw py::error_already_set();
  const long long bits = magnitude.attr("bit_length")().cast<long long>();
  if (bits > kMaxIntegerBits) return false;
  const long long shift = bits > 64 ? bits - 64 : 0;
  const py::int_ s(shift);
  std::uint64_t top = (magnitude.attr("__rshift__")(s)).cast<std::uint64_t>();
  if (shift > 0) {
    const py::object one = py::int_(1);
    const py::object rest = magnitude.attr("__and__")(one.attr("__lshift__")(s).attr("__sub__")(one));
    const py::object half = one.attr("__lshift__")(py::int_(shift - 1));
    const int above = PyObject_RichCompareBool(rest.ptr(), half.ptr(), Py_GT);
    const int tie = PyObject_RichCompareBool(rest.ptr(), half.ptr(), Py_EQ);
    if (above == 1 || (tie == 1 && (top & 1) != 0)) {
      if (++top == 0) {
        // 2^64: one bit more.
        top = std::uint64_t{1} << 63;
        if (bits - 63 > kMaxIntegerBits) return false;
        out = std::ldexp(static_cast<Extended>(top), static_cast<int>(shift + 1));
        if (std::isinf(out)) return false;
        if (negative) out = -out;
        return true;
      }
    }
  }
  // Both steps are exact: 64 bits fit the significand, and the scaling
  // only moves the exponent.
  out = std::ldexp(static_cast<Extended>(top), static_cast<int>(shift));
  if (std::isinf(out)) return false;
  if (negative) out = -out;
  return true;
}

bool IsInstance(py::handle value, const char* module, const char* type) {
  return py::isinstance(value, py::module_::import(module).attr(type));
}

}  // namespace

void PutExtended(long double* to, const Extended& v) {
  std::memset(static_cast<void*>(to), 0, sizeof(long double));
  std::memcpy(static_cast<void*>(to), &v, kExtendedBytes);
}

Extended GetExtended(const long double* from) {
  Extended v = 0;
  std::memcpy(&v, static_cast<const void*>(from), kExtendedBytes);
  return v;
}

Extended ToExtended(py::handle value, const std::string& name) {
  if (py::isinstance<py::str>(value)) return FromText(value.cast<std::string>(), name);
  // Through numpy, an integer, a Decimal or a Fraction would pass through a
  // double: 0.1 would come out as 0.10000000000000000555.
  if (py::isinstance<py::int_>(value) && !py::isinstance<py::bool_>(value)) {
    Extended v = 0;
    if (!IntegerToExtended(value, v))
      throw BadValue(name + ": the integer is too large for an 80-bit number (about 1.19e4932 at most)");
    return v;
  }
  if (IsInstance(value, "decimal", "Decimal")) {
    if (!value.attr("is_finite")().cast<bool>())
      throw BadValue(name + ": " + std::string(py::str(value)) + " is not a finite number");
    return FromText(std::string(py::str(value)), name);
  }
  if (IsInstance(value, "numbers", "Rational")) {
    Extended num = 0, den = 0;
    if (!IntegerToExtended(value.attr("numerator"), num) ||
        !IntegerToExtended(value.attr("denominator"), den) || std::fabs(num) >= 0x1p64L || den >= 0x1p64L)
      throw BadValue(name +
                     ": a fraction of more than 64 bits above or below cannot be rounded exactly; "
                     "give its decimal text");
    // Both are exact, so the quotient is rounded once.
    return num / den;
  }
  // None would pass numpy's conversion as a NaN.
  if (PyNumber_Check(value.ptr()) != 0) {
    auto a = ExtendedArray::ensure(value);
    if (a && a.ndim() == 0) return GetExtended(a.data());
    PyErr_Clear();
  }
  throw py::type_error(name + " needs a number or its text, not " +
                       std::string(py::str(py::type::handle_of(value).attr("__name__"))));
}

long long StepCount(py::handle value, const char* call) {
  const std::string type = py::str(py::type::handle_of(value).attr("__name__"));
  if (py::isinstance<py::bool_>(value) || PyIndex_Check(value.ptr()) == 0)
    throw py::type_error(std::string(call) + " needs a whole number of steps, not " +
                         (py::isinstance<py::bool_>(value) ? std::string("a truth value") : type));
  const py::object n = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!n) throw py::error_already_set();
  int overflow = 0;
  const long long steps = PyLong_AsLongLongAndOverflow(n.ptr(), &overflow);
  if (overflow != 0) throw BadValue(std::string(call) + " needs a number of steps below 2**63");
  return steps;
}

std::string Text(py::handle value, const char* name) {
  if (!py::isinstance<py::str>(value))
    throw py::type_error(std::string(name) + " needs a text, not " +
                         std::string(py::str(py::type::handle_of(value).attr("__name__"))));
  return value.cast<std::string>();
}

void RefuseComplex(py::handle value, const char* name) {
  py::object kind;
  try {
    kind = py::module_::import("numpy").attr("asarray")(value).attr("dtype").attr("kind");
  } catch (const py::error_already_set&) {
    return;  // not an array at all: the conversion that follows says so
  }
  if (kind.cast<std::string>() == "c")
    throw py::type_error(std::string(name) + " needs real numbers, not complex ones");
}

std::string FileProblemText(int err, const std::string& text, const std::string& path) {
  if (err == EISDIR) return "Is a folder, not a file";
  if (err == ENOENT) {
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
      const std::string folder = path.substr(0, slash);
      struct stat st;
      if (::stat(folder.c_str(), &st) != 0) return "No such folder: '" + folder + "'";
    }
  }
  return text;
}

// ---- the state's arrays ----------------------------------------------------

py::object LongDouble(const Extended& v) {
  py::array_t<long double> a(std::vector<py::ssize_t>{});
  PutExtended(a.mutable_data(), v);
  return a[py::tuple()];
}

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) text += (i ? ", " : "") + std::to_string(a.shape(i));
  return text + (a.ndim() == 1 ? ",)" : ")");
}

std::string PathText(py::handle path) {
  return py::module_::import("os").attr("fsdecode")(path).cast<std::string>();
}

// The arrays handed out are copies of the state: writing into one would
// change nothing and say nothing, so they are read-only and the mistake
// raises. A changed copy (a.copy()) is installed by assignment.
template <class T>
py::array_t<T> ReadOnly(py::array_t<T> a) {
  py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return a;
}

py::array_t<long double> GetTriples(const RunState& s, Triple which) {
  const bool pos = which == Triple::Positions;
  const qd::SlotArray<Extended>* cols[3] = {pos ? &s.X : &s.UX, pos ? &s.Y : &s.UY, pos ? &s.Z : &s.UZ};
  py::array_t<long double> a({kSlotCount, 3});
  long double* p = a.mutable_data();
  for (int k = 1; k <= kSlotCount; ++k)
    for (int c = 0; c < 3; ++c) PutExtended(p + (k - 1) * 3 + c, (*cols[c])[k]);
  return ReadOnly(std::move(a));
}

void SetTriples(Simulation& sim, py::handle value, Triple which) {
  const char* name = which == Triple::Positions ? "positions" : "velocities";
  qd::python::RefuseComplex(value, name);
  auto a = ExtendedArray::ensure(value);
  if (!a) {
    PyErr_Clear();
    throw py::type_error(std::string(name) + " needs an array of numbers of shape (60, 3)");
  }
  if (a.ndim() != 2 || a.shape(0) != kSlotCount || a.shape(1) != 3)
    throw BadValue(std::string(name) + " must have shape (60, 3), not " + ShapeText(a));
  RunState& s = sim.State();
  const bool pos = which == Triple::Positions;
  qd::SlotArray<Extended>* cols[3] = {pos ? &s.X : &s.UX, pos ? &s.Y : &s.UY, pos ? &s.Z : &s.UZ};
  const long double* p = a.data();
  for (int k = 1; k <= kSlotCount; ++k)
    for (int c = 0; c < 3; ++c) (*cols[c])[k] = GetExtended(p + (k - 1) * 3 + c);
  sim.Installed();
}

py::array_t<bool> GetPresent(const RunState& s) {
  py::array_t<bool> a(kSlotCount);
  bool* p = a.mutable_data();
  for (int k = 1; k <= kSlotCount; ++k) p[k - 1] = s.Present[k] != 0;
  return ReadOnly(std::move(a));
}

void SetPresent(Simulation& sim, py::handle value) {
  auto a = py::array_t<bool, py::array::c_style | py::array::forcecast>::ensure(value);
  if (!a) {
    PyErr_Clear();
    throw py::type_error("present needs an array of 60 truth values");
  }
  if (a.ndim() != 1 || a.shape(0) != kSlotCount)
    throw BadValue("present must have shape (60,), not " + ShapeText(a));
  RunState& s = sim.State();
  const bool* p = a.data();
  // A slot that stays present keeps its byte, so that a file read and
  // written back is the same file.
  for (int k = 1; k <= kSlotCount; ++k) s.Present[k] = p[k - 1] ? (s.Present[k] != 0 ? s.Present[k] : 1) : 0;
  sim.Installed();
}

py::dict ParameterDict(const RunState& s) {
  py::dict d;
  for (int i = 0; i < 11; ++i) d[qd::batch::kParameterNames[i]] = LongDouble(s.*qd::kParameterBlock[i]);
  return d;
}

int ParameterIndexOrKeyError(py::handle key) {
  const int i = py::isinstance<py::str>(key) ? Simulation::ParameterIndex(key.cast<std::string>()) : -1;
  if (i < 0)
    throw py::key_error("no parameter " + std::string(py::repr(key)) +
                        "; the parameters are Dt, A1, B1, C1, D1, F1, A2, B2, C2, D2, F2");
  return i;
}

}  // namespace qd::python
