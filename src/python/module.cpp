// The Python module `quindelle`: a run of the program driven from Python,
// with the program's own arithmetic and files.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "core/batch/batch_run.h"
#include "core/common/errors.h"
#include "core/editing/number_text.h"
#include "core/persistence/file_io.h"
#include "core/persistence/run_archive.h"
#include "python/simulation.h"
#include "python/values.h"

namespace py = pybind11;

namespace {

using qd::Extended;
using qd::kSlotCount;
using qd::python::BadValue;
using qd::python::FileProblem;
using qd::python::GetExtended;
using qd::python::PutExtended;
using qd::python::ToExtended;

// quindelle.FloatingPointFault, made at import and kept for the process.
PyObject* g_faultType = nullptr;

[[noreturn]] void RaiseFault(const qd::Fault& f) {
  py::object exc =
      py::reinterpret_borrow<py::object>(g_faultType)("step " + std::to_string(f.step) + ": " + f.message);
  exc.attr("step") = f.step;
  exc.attr("message") = f.message;
  PyErr_SetObject(g_faultType, exc.ptr());
  throw py::error_already_set();
}

// ---- values between Extended and numpy ------------------------------------

// A numpy.longdouble scalar.
py::object LongDouble(const Extended& v) {
  py::array_t<long double> a(std::vector<py::ssize_t>{});
  PutExtended(a.mutable_data(), v);
  return a[py::tuple()];
}

using ExtendedArray = py::array_t<long double, py::array::c_style | py::array::forcecast>;

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) text += (i ? ", " : "") + std::to_string(a.shape(i));
  return text + (a.ndim() == 1 ? ",)" : ")");
}

// ---- the Python objects ----------------------------------------------------

// A simulation as Python holds it. While `run` or `step` works without the
// interpreter lock, another Python thread could reach the same state: every
// access checks `busy` first.
struct PySimulation {
  std::unique_ptr<qd::python::Simulation> sim = std::make_unique<qd::python::Simulation>();
  bool busy = false;

  qd::python::Simulation& Use() {
    if (busy) throw std::runtime_error("the simulation is running in another thread");
    return *sim;
  }
};

// Marks the simulation busy for a call that lets go of the interpreter lock.
class Busy {
 public:
  explicit Busy(PySimulation& s) : s_(s) {
    s_.Use();
    s_.busy = true;
  }
  ~Busy() { s_.busy = false; }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  PySimulation& s_;
};

struct PyParameters {
  PySimulation* owner;
};

struct PyHistory {
  PySimulation* owner;
};

// A snapshot taken out of the history: it stays as it was whatever the
// simulation does afterwards.
struct PySnapshot {
  std::shared_ptr<const qd::Snapshot> snap;
};

// ---- arrays of the state ---------------------------------------------------

enum class Triple { Positions, Velocities };

// The arrays handed out are copies of the state: writing into one would
// change nothing and say nothing, so they are read-only and the mistake
// raises. A changed copy (a.copy()) is installed by assignment.
template <class T>
py::array_t<T> ReadOnly(py::array_t<T> a) {
  py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return a;
}

py::array_t<long double> GetTriples(const qd::RunState& s, Triple which) {
  const bool pos = which == Triple::Positions;
  const qd::SlotArray<Extended>* cols[3] = {pos ? &s.X : &s.UX, pos ? &s.Y : &s.UY, pos ? &s.Z : &s.UZ};
  py::array_t<long double> a({kSlotCount, 3});
  long double* p = a.mutable_data();
  for (int k = 1; k <= kSlotCount; ++k)
    for (int c = 0; c < 3; ++c) PutExtended(p + (k - 1) * 3 + c, (*cols[c])[k]);
  return ReadOnly(std::move(a));
}

void SetTriples(qd::python::Simulation& sim, py::handle value, Triple which) {
  const char* name = which == Triple::Positions ? "positions" : "velocities";
  qd::python::RefuseComplex(value, name);
  auto a = ExtendedArray::ensure(value);
  if (!a) {
    PyErr_Clear();
    throw py::type_error(std::string(name) + " needs an array of numbers of shape (60, 3)");
  }
  if (a.ndim() != 2 || a.shape(0) != kSlotCount || a.shape(1) != 3)
    throw BadValue(std::string(name) + " must have shape (60, 3), not " + ShapeText(a));
  qd::RunState& s = sim.State();
  const bool pos = which == Triple::Positions;
  qd::SlotArray<Extended>* cols[3] = {pos ? &s.X : &s.UX, pos ? &s.Y : &s.UY, pos ? &s.Z : &s.UZ};
  const long double* p = a.data();
  for (int k = 1; k <= kSlotCount; ++k)
    for (int c = 0; c < 3; ++c) (*cols[c])[k] = GetExtended(p + (k - 1) * 3 + c);
  sim.Installed();
}

py::array_t<bool> GetPresent(const qd::RunState& s) {
  py::array_t<bool> a(kSlotCount);
  bool* p = a.mutable_data();
  for (int k = 1; k <= kSlotCount; ++k) p[k - 1] = s.Present[k] != 0;
  return ReadOnly(std::move(a));
}

void SetPresent(qd::python::Simulation& sim, py::handle value) {
  auto a = py::array_t<bool, py::array::c_style | py::array::forcecast>::ensure(value);
  if (!a) {
    PyErr_Clear();
    throw py::type_error("present needs an array of 60 truth values");
  }
  if (a.ndim() != 1 || a.shape(0) != kSlotCount)
    throw BadValue("present must have shape (60,), not " + ShapeText(a));
  qd::RunState& s = sim.State();
  const bool* p = a.data();
  // A slot that stays present keeps its byte, so that a file read and
  // written back is the same file.
  for (int k = 1; k <= kSlotCount; ++k) s.Present[k] = p[k - 1] ? (s.Present[k] != 0 ? s.Present[k] : 1) : 0;
  sim.Installed();
}

py::dict ParameterDict(const qd::RunState& s) {
  py::dict d;
  for (int i = 0; i < 11; ++i) d[qd::batch::kParameterNames[i]] = LongDouble(s.*qd::kParameterBlock[i]);
  return d;
}

int ParameterIndexOrKeyError(py::handle key) {
  const int i =
      py::isinstance<py::str>(key) ? qd::python::Simulation::ParameterIndex(key.cast<std::string>()) : -1;
  if (i < 0)
    throw py::key_error("no parameter " + std::string(py::repr(key)) +
                        "; the parameters are Dt, A1, B1, C1, D1, F1, A2, B2, C2, D2, F2");
  return i;
}

// ---- Ctrl+C during a run ---------------------------------------------------

// A run lets go of the interpreter lock, so Python's own handler can only
// note a signal. During a run on the main thread, SIGINT also passes through
// this handler, which raises a flag the run looks at after every step; only
// then does the run take the lock back to let Python act on the signal.
std::atomic<bool> g_interrupted{false};
struct sigaction g_chained {};

extern "C" void OnInterrupt(int sig, siginfo_t* info, void* context) {
  g_interrupted.store(true, std::memory_order_relaxed);
  if ((g_chained.sa_flags & SA_SIGINFO) != 0) {
    if (g_chained.sa_sigaction != nullptr) g_chained.sa_sigaction(sig, info, context);
  } else if (g_chained.sa_handler != SIG_DFL && g_chained.sa_handler != SIG_IGN) {
    g_chained.sa_handler(sig);
  }
}

bool IsOurs(const struct sigaction& a) {
  return (a.sa_flags & SA_SIGINFO) != 0 && a.sa_sigaction == &OnInterrupt;
}

// Watches for signals during one run: SIGINT after every step, and any
// other signal Python handles a few times a second.
class SignalWatch {
 public:
  SignalWatch() {
    py::module_ threading = py::module_::import("threading");
    const py::object mainIdent = threading.attr("main_thread")().attr("ident");
    main_ = mainIdent.equal(threading.attr("get_ident")());
    if (!main_) return;
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    // A default or ignored SIGINT (signal.SIG_DFL, SIG_IGN) is left as the
    // user chose it; a nested run finds the handler already in place.
    const bool plain =
        (now.sa_flags & SA_SIGINFO) == 0 && (now.sa_handler == SIG_DFL || now.sa_handler == SIG_IGN);
    if (plain || IsOurs(now)) return;
    g_chained = now;
    g_interrupted.store(false);
    struct sigaction ours {};
    ours.sa_sigaction = &OnInterrupt;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&ours.sa_mask);
    installed_ = sigaction(SIGINT, &ours, nullptr) == 0;
  }
  ~SignalWatch() {
    if (!installed_) return;
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    // A handler Python installed meanwhile stays.
    if (IsOurs(now)) sigaction(SIGINT, &g_chained, nullptr);
  }
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // Between two steps, without the interpreter lock: true when Python's
  // handler of a signal raised an exception (KeyboardInterrupt), which then
  // waits in the thread's error indicator.
  bool Stop() {
    if (!main_) return false;
    const bool interrupted = g_interrupted.exchange(false, std::memory_order_relaxed);
    const auto now = std::chrono::steady_clock::now();
    if (!interrupted && now < nextLook_) return false;
    nextLook_ = now + std::chrono::milliseconds(100);
    py::gil_scoped_acquire gil;
    return PyErr_CheckSignals() != 0;
  }

 private:
  bool main_ = false;
  bool installed_ = false;
  std::chrono::steady_clock::time_point nextLook_ = std::chrono::steady_clock::now();
};

// A run archive opened for reading; each snapshot becomes a Simulation.
struct PyArchive {
  std::string path;
  std::shared_ptr<const qd::archive::Reader> reader;

  // The reader's FileError as the module's file problem: an OSError with its
  // errno where the file itself failed, a ValueError where it is no archive.
  template <class Fn>
  auto Read(Fn fn) const {
    try {
      return fn();
    } catch (const qd::FileError& e) {
      throw qd::python::FileProblem(0, e.what(), path);
    }
  }

  PySimulation At(std::size_t i) const {
    const qd::archive::Entry e = Read([&] { return reader->At(i); });
    PySimulation s;
    s.sim = qd::python::Simulation::FromSnapshot(e.state, e.options, path);
    return s;
  }
};

// ---- the calls -------------------------------------------------------------

std::string PathText(py::handle path) {
  return py::module_::import("os").attr("fsdecode")(path).cast<std::string>();
}

void Run(PySimulation& self, std::int64_t steps) {
  if (steps < 0) throw BadValue("run needs a number of steps of at least 0, not " + std::to_string(steps));
  qd::Run& run = self.Use().GetRun();
  SignalWatch watch;
  bool stopped = false;
  qd::RunOutcome outcome;
  {
    Busy busy(self);
    py::gil_scoped_release release;
    outcome = run.Go(steps, [&](std::int64_t) {
      stopped = watch.Stop();
      return !stopped;
    });
  }
  if (stopped) throw py::error_already_set();
  if (outcome.fault) RaiseFault(*outcome.fault);
}

void Step(PySimulation& self) {
  qd::Run& run = self.Use().GetRun();
  std::optional<qd::Fault> fault;
  {
    Busy busy(self);
    py::gil_scoped_release release;
    fault = run.Step();
  }
  if (fault) RaiseFault(*fault);
}

Extended Potential(qd::Run& run) {
  try {
    return run.Potential();
  } catch (const qd::FpFault& e) {
    RaiseFault(qd::Fault{run.State().StepCount, e.what()});
  }
}

std::string WallsText(py::handle value) {
  if (value.is_none()) return "none";
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  if (py::isinstance<py::bool_>(value)) throw BadValue("walls takes none, 1.5, 10 or 100, not a truth value");
  if (py::isinstance<py::int_>(value)) return std::string(py::str(value));
  if (py::isinstance<py::float_>(value)) {
    const double d = value.cast<double>();
    if (d == 1.5) return "1.5";
    if (d == 10) return "10";
    if (d == 100) return "100";
    return std::string(py::repr(value));
  }
  throw py::type_error("walls needs a text such as '10', or a number");
}

std::string KindsText(py::handle value) {
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  if (py::isinstance<py::int_>(value) && !py::isinstance<py::bool_>(value))
    return std::string(py::str(value));
  throw py::type_error("kinds needs 30, 15 or 10");
}

std::string Repr(PySimulation& self) {
  if (self.busy) return "<quindelle.Simulation (running)>";
  const auto& sim = *self.sim;
  const int n = qd::CountPresent(sim.State());
  return "<quindelle.Simulation step " + std::to_string(sim.State().StepCount) + ", " + std::to_string(n) +
         (n == 1 ? " particle" : " particles") + ", formula " + sim.Formula() + ">";
}

// A property of the simulation that reads and writes through Use().
template <class Get, class Set>
void Property(py::class_<PySimulation>& c, const char* name, Get get, Set set, const char* doc) {
  c.def_property(
      name, [get](PySimulation& self) { return get(self.Use()); },
      [set](PySimulation& self, py::handle v) { set(self.Use(), v); }, doc);
}

}  // namespace

PYBIND11_MODULE(quindelle, m) {
  m.doc() =
      "Quindelle's simulation driven from Python.\n\n"
      "A Simulation holds one run: the 60 slots' positions, velocities and\n"
      "presence, the eleven parameters, the choices of quindelle-run (formula,\n"
      "sign, kinds, walls, cooler, heater, blockade, drop_b, drop_cdf,\n"
      "threads) and the history of snapshots. Its steps are the program's\n"
      "own, bit for bit; its values are numpy.longdouble, the program's\n"
      "80-bit extended numbers, so that no bit is lost on the way.\n\n"
      "    import quindelle as qd\n"
      "    sim = qd.load('start.pln')\n"
      "    sim.formula = 'DUDI'\n"
      "    sim.run(10_000)\n"
      "    sim.save('end.pln')\n";
  m.attr("__version__") = QUINDELLE_VERSION;

  g_faultType =
      PyErr_NewExceptionWithDoc("quindelle.FloatingPointFault",
                                "A floating-point fault (invalid operation, division by zero or overflow)\n"
                                "ended a step. `step` is the number the step would have had and `message`\n"
                                "the program's text for the fault. The state is left as the program\n"
                                "leaves it: the committed positions, velocities and step count are those\n"
                                "of the last good step.",
                                PyExc_FloatingPointError, nullptr);
  if (g_faultType == nullptr) throw py::error_already_set();
  m.attr("FloatingPointFault") = py::handle(g_faultType);

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const FileProblem& e) {
      if (e.Errno() == 0) {
        PyErr_SetString(PyExc_ValueError, (e.Path() + ": " + e.what()).c_str());
        return;
      }
      // OSError(errno, ...) gives FileNotFoundError, PermissionError,
      // IsADirectoryError and their kin.
      py::object exc = py::reinterpret_borrow<py::object>(PyExc_OSError)(
          e.Errno(), qd::python::FileProblemText(e.Errno(), e.what(), e.Path()), e.Path());
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
    } catch (const BadValue& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });

  py::tuple formulas(std::size(qd::batch::kFormulaNames));
  for (std::size_t i = 0; i < std::size(qd::batch::kFormulaNames); ++i)
    formulas[i] = qd::batch::kFormulaNames[i].first;
  m.attr("FORMULAS") = formulas;
  py::tuple names(11);
  for (std::size_t i = 0; i < 11; ++i) names[i] = qd::batch::kParameterNames[i];
  m.attr("PARAMETERS") = names;

  // ---- Snapshot
  py::class_<PySnapshot>(m, "Snapshot",
                         "One snapshot of the history: the state at a step, with its energies\n"
                         "under the formula of that step. It does not change afterwards.")
      .def_property_readonly(
          "step", [](const PySnapshot& s) { return s.snap->State.StepCount; }, "The step number.")
      .def_property_readonly(
          "kinetic", [](const PySnapshot& s) { return LongDouble(s.snap->Kinetic); },
          "Half the sum of the squared velocities (numpy.longdouble).")
      .def_property_readonly(
          "potential", [](const PySnapshot& s) { return LongDouble(s.snap->Potential); },
          "The sum over pairs of the formula's pair potential (numpy.longdouble).")
      .def_property_readonly(
          "total", [](const PySnapshot& s) { return LongDouble(s.snap->Kinetic + s.snap->Potential); },
          "kinetic + potential (numpy.longdouble).")
      .def_property_readonly(
          "positions", [](const PySnapshot& s) { return GetTriples(s.snap->State, Triple::Positions); },
          "The positions, a (60, 3) numpy.longdouble array; row k-1 is slot k.")
      .def_property_readonly(
          "velocities", [](const PySnapshot& s) { return GetTriples(s.snap->State, Triple::Velocities); },
          "The velocities, a (60, 3) numpy.longdouble array; row k-1 is slot k.")
      .def_property_readonly(
          "present", [](const PySnapshot& s) { return GetPresent(s.snap->State); },
          "Which slots hold a particle, a numpy bool array of 60.")
      .def_property_readonly(
          "params", [](const PySnapshot& s) { return ParameterDict(s.snap->State); },
          "The eleven parameters, a dict from name to numpy.longdouble.")
      .def("__repr__", [](const PySnapshot& s) {
        return "<quindelle.Snapshot step " + std::to_string(s.snap->State.StepCount) + ", total " +
               qd::batch::LosslessText(s.snap->Kinetic + s.snap->Potential) + ">";
      });

  // ---- History
  py::class_<PyHistory>(m, "History",
                        "The snapshots the simulation recorded, oldest first: one when a run\n"
                        "starts, then one every K steps, with K chosen so that recording costs\n"
                        "at most a few per cent of the run. A list-like view: len(), indexing\n"
                        "(negative too) and iteration give Snapshot objects.")
      .def("__len__", [](PyHistory& h) { return h.owner->Use().GetRun().History().Size(); })
      .def(
          "__getitem__",
          [](PyHistory& h, py::ssize_t i) {
            const qd::RunHistory& hist = h.owner->Use().GetRun().History();
            const auto n = static_cast<py::ssize_t>(hist.Size());
            if (i < 0) i += n;
            if (i < 0 || i >= n) throw py::index_error("history index out of range");
            return PySnapshot{std::make_shared<const qd::Snapshot>(hist.At(static_cast<std::size_t>(i)))};
          },
          py::arg("index"))
      .def(
          "__getitem__",
          [](PyHistory& h, const py::slice& range) {
            const qd::RunHistory& hist = h.owner->Use().GetRun().History();
            py::ssize_t start = 0, stop = 0, step = 0, length = 0;
            if (!range.compute(static_cast<py::ssize_t>(hist.Size()), &start, &stop, &step, &length))
              throw py::error_already_set();
            py::list out;
            for (py::ssize_t i = 0; i < length; ++i, start += step)
              out.append(
                  PySnapshot{std::make_shared<const qd::Snapshot>(hist.At(static_cast<std::size_t>(start)))});
            return out;
          },
          py::arg("range"), "A slice gives a list of snapshots.")
      .def_property_readonly(
          "interval", [](PyHistory& h) { return h.owner->Use().GetRun().History().Interval(); },
          "K, the steps between two snapshots as recording goes now.")
      .def(
          "csv", [](PyHistory& h) { return qd::HistoryCsv(h.owner->Use().GetRun().History()); },
          "The snapshots as text in the columns of quindelle-run --csv.")
      .def("__repr__", [](PyHistory& h) {
        return "<quindelle.History of " + std::to_string(h.owner->Use().GetRun().History().Size()) +
               " snapshots>";
      });

  // ---- Parameters
  py::class_<PyParameters>(m, "Parameters",
                           "The eleven parameters by name (Dt, A1 ... F1, A2 ... F2), as\n"
                           "quindelle-run --set names them: a mutable mapping whose values are\n"
                           "numpy.longdouble. A value may be given as a number or as text with a\n"
                           "full stop; text gives the nearest 80-bit value to a decimal such as\n"
                           "'0.1', as --set does, where a Python float is only a double.")
      .def(
          "__getitem__",
          [](PyParameters& p, py::handle key) {
            return LongDouble(p.owner->Use().Parameter(ParameterIndexOrKeyError(key)));
          },
          py::arg("name"))
      .def(
          "__setitem__",
          [](PyParameters& p, py::handle key, py::handle value) {
            auto& sim = p.owner->Use();
            const int i = ParameterIndexOrKeyError(key);
            sim.Parameter(i) = ToExtended(value, qd::batch::kParameterNames[i]);
          },
          py::arg("name"), py::arg("value"))
      .def("__delitem__",
           [](PyParameters&, py::handle) { throw py::type_error("the parameters cannot be removed"); })
      .def("__len__", [](PyParameters&) { return 11; })
      .def("__contains__",
           [](PyParameters&, py::handle key) {
             return py::isinstance<py::str>(key) &&
                    qd::python::Simulation::ParameterIndex(key.cast<std::string>()) >= 0;
           })
      .def("__iter__",
           [](PyParameters&) { return py::iter(py::module_::import("quindelle").attr("PARAMETERS")); })
      .def(
          "keys", [](PyParameters&) { return py::list(py::module_::import("quindelle").attr("PARAMETERS")); },
          "The names, in file order.")
      .def(
          "values", [](PyParameters& p) { return ParameterDict(p.owner->Use().State()).attr("values")(); },
          "The values, in file order.")
      .def(
          "items", [](PyParameters& p) { return ParameterDict(p.owner->Use().State()).attr("items")(); },
          "(name, value) pairs, in file order.")
      .def(
          "get",
          [](PyParameters& p, py::handle key, py::object fallback) -> py::object {
            if (!py::isinstance<py::str>(key)) return fallback;
            const int i = qd::python::Simulation::ParameterIndex(key.cast<std::string>());
            return i < 0 ? fallback : LongDouble(p.owner->Use().Parameter(i));
          },
          py::arg("name"), py::arg("default") = py::none(),
          "The value of `name`, or `default` for no such name.")
      .def(
          "update",
          [](PyParameters& p, py::object values, py::kwargs named) {
            // All or nothing: every name and value is checked first.
            auto& sim = p.owner->Use();
            std::vector<std::pair<int, Extended>> changes;
            const auto take = [&](py::handle key, py::handle value) {
              const int i = ParameterIndexOrKeyError(key);
              changes.emplace_back(i, ToExtended(value, qd::batch::kParameterNames[i]));
            };
            if (!values.is_none())
              for (auto [key, value] : py::dict(values)) take(key, value);
            for (auto [key, value] : named) take(key, value);
            for (const auto& [i, v] : changes) sim.Parameter(i) = v;
          },
          py::arg("values") = py::none(),
          "Sets several parameters, from a mapping and as keywords (update(A1=2));\n"
          "none is set if one is wrong.")
      .def("__repr__", [](PyParameters& p) {
        std::string text = "{";
        const auto& sim = p.owner->Use();
        for (int i = 0; i < 11; ++i)
          text += std::string(i ? ", '" : "'") + qd::batch::kParameterNames[i] +
                  "': " + qd::batch::LosslessText(sim.Parameter(i));
        return text + "}";
      });
  py::module_::import("collections.abc").attr("MutableMapping").attr("register")(m.attr("Parameters"));

  // ---- Simulation
  py::class_<PySimulation> sim(m, "Simulation",
                               "One run of the simulation. Simulation() is empty (no particle, every\n"
                               "parameter 0, the choices quindelle-run starts with); quindelle.load()\n"
                               "reads a configuration file.");
  sim.def(py::init<>());
  sim.def("step", &Step,
          "Advances the state by one time step, exactly as the program's Go\n"
          "button does. Raises FloatingPointFault when the step faults.");
  sim.def(
      "run", [](PySimulation& self, py::handle steps) { Run(self, qd::python::StepCount(steps, "run")); },
      py::arg("steps"),
      "Runs `steps` time steps (0 or more), as quindelle-run --steps does.\n"
      "Other Python threads go on meanwhile. Ctrl+C (SIGINT) stops the run\n"
      "after the step in hand and raises KeyboardInterrupt, with the state\n"
      "that of the last step done. Raises FloatingPointFault when a step\n"
      "faults; the steps before it are kept.");
  sim.def(
      "save", [](PySimulation& self, py::handle path) { self.Use().Save(PathText(path)); }, py::arg("path"),
      "Writes the configuration to `path` as quindelle-run --out does: into a\n"
      "temporary file beside it, then renamed over it, so an older file there is\n"
      "only ever replaced by a complete one. The file this simulation was loaded\n"
      "from is refused (ValueError). The configuration record holds the state\n"
      "and the parameters only: the formula, sign, kinds, walls, switches and\n"
      "the step count are not in it, and load() gives quindelle-run's defaults\n"
      "for them. A run archive (run(..., archive=...) or quindelle-run\n"
      "--archive) keeps a simulation whole: load('run.qra') gives it back.");
  sim.def(
      "copy",
      [](PySimulation& self) {
        PySimulation copy;
        copy.sim = self.Use().Copy();
        return copy;
      },
      "An independent copy, history included, to branch a run.");
  sim.def("__copy__", [](PySimulation& self) {
    PySimulation copy;
    copy.sim = self.Use().Copy();
    return copy;
  });
  sim.def(
      "__deepcopy__",
      [](PySimulation& self, py::handle) {
        PySimulation copy;
        copy.sim = self.Use().Copy();
        return copy;
      },
      py::arg("memo"));
  sim.def(
      "continue_from",
      [](PySimulation& self, py::ssize_t i) {
        auto& run = self.Use().GetRun();
        // Negative indices count from the end, as in a list; the run itself
        // says whether there is such a snapshot.
        if (i < 0) i += static_cast<py::ssize_t>(run.History().Size());
        if (i < 0 || !run.ContinueFrom(static_cast<std::size_t>(i)))
          throw py::index_error("history index out of range");
      },
      py::arg("index"),
      "Installs snapshot `index` of the history as the state and drops the\n"
      "later snapshots; the next run goes on as the original run did.");
  sim.def("__repr__", &Repr);

  sim.def_property_readonly(
      "step_count", [](PySimulation& self) { return self.Use().State().StepCount; },
      "The steps done since the configuration was loaded.");
  sim.def_property_readonly(
      "time",
      [](PySimulation& self) {
        const qd::RunState& s = self.Use().State();
        return LongDouble(static_cast<Extended>(s.StepCount) * s.Dt);
      },
      "The simulated time: step_count times Dt (numpy.longdouble).");
  sim.def_property_readonly(
      "particle_count",
      [](PySimulation& self) {
        const qd::RunState& s = self.Use().State();
        int n = 0;
        for (int k = 1; k <= kSlotCount; ++k) n += s.Present[k] != 0;
        return n;
      },
      "How many slots hold a particle.");
  sim.def_property_readonly(
      "kinetic", [](PySimulation& self) { return LongDouble(self.Use().GetRun().Kinetic()); },
      "Half the sum of the squared velocities (numpy.longdouble).");
  sim.def_property_readonly(
      "potential", [](PySimulation& self) { return LongDouble(Potential(self.Use().GetRun())); },
      "The sum over pairs of the formula's pair potential (numpy.longdouble),\n"
      "as quindelle-run --csv computes it.");
  sim.def_property_readonly(
      "total",
      [](PySimulation& self) {
        qd::Run& run = self.Use().GetRun();
        return LongDouble(run.Kinetic() + Potential(run));
      },
      "kinetic + potential (numpy.longdouble).");
  sim.def_property_readonly("params",
                            // The view keeps its simulation alive; keep_alive only acts when
                            // built into the getter itself.
                            py::cpp_function(
                                [](PySimulation& self) {
                                  self.Use();
                                  return PyParameters{&self};
                                },
                                py::keep_alive<0, 1>()),
                            "The eleven parameters by name: sim.params['A1'] = 1.5, as --set A1=1.5.");
  sim.def_property_readonly("history",
                            py::cpp_function(
                                [](PySimulation& self) {
                                  self.Use();
                                  return PyHistory{&self};
                                },
                                py::keep_alive<0, 1>()),
                            "The recorder's snapshots (a History).");
  sim.def_property_readonly(
      "source",
      [](PySimulation& self) -> py::object {
        const std::string& s = self.Use().Source();
        return s.empty() ? py::object(py::none()) : py::object(py::str(s));
      },
      "The file the configuration was loaded from, or None.");

  Property(
      sim, "positions", [](auto& s) { return GetTriples(s.State(), Triple::Positions); },
      [](auto& s, py::handle v) { SetTriples(s, v, Triple::Positions); },
      "The positions, a read-only (60, 3) numpy.longdouble array (a copy); row k-1 is\n"
      "slot k. Assign an array of that shape, of any float dtype, to install\n"
      "new positions as a load would; the history starts anew.");
  Property(
      sim, "velocities", [](auto& s) { return GetTriples(s.State(), Triple::Velocities); },
      [](auto& s, py::handle v) { SetTriples(s, v, Triple::Velocities); },
      "The velocities, a read-only (60, 3) numpy.longdouble array (a copy); row k-1 is\n"
      "slot k. Assign an array of that shape to install new velocities.");
  Property(
      sim, "present", [](auto& s) { return GetPresent(s.State()); },
      [](auto& s, py::handle v) { SetPresent(s, v); },
      "Which slots hold a particle: a read-only numpy bool array of 60 (a copy);\n"
      "element k-1 is slot k. Assign 60 truth values to change it.");
  Property(
      sim, "dt", [](auto& s) { return LongDouble(s.State().Dt); },
      [](auto& s, py::handle v) { s.State().Dt = ToExtended(v, "Dt"); },
      "The time step, as params['Dt'] (--dt).");
  Property(
      sim, "formula", [](auto& s) { return s.Formula(); },
      [](auto& s, py::handle v) { s.SetFormula(qd::python::Text(v, "formula")); },
      "The interaction formula: 'E', 'PE', 'PES', 'DUDI' or 'EPESminus'.");
  Property(
      sim, "sign", [](auto& s) { return s.Sign(); },
      [](auto& s, py::handle v) { s.SetSign(qd::python::Text(v, "sign")); },
      "The sign mode: 'gravoscope' or 'taoscope'.");
  Property(
      sim, "kinds", [](auto& s) { return std::stoi(s.Kinds()); },
      [](auto& s, py::handle v) { s.SetKinds(KindsText(v)); },
      "How many slots (the last ones) are of the second kind: 30, 15 or 10.");
  Property(
      sim, "walls", [](auto& s) { return s.Walls(); },
      [](auto& s, py::handle v) { s.SetWalls(WallsText(v)); },
      "The walls: 'none', '1.5', '10' or '100' (None and the numbers are\n"
      "taken too).");
  Property(
      sim, "threads",
      [](auto& s) -> py::object {
        const int t = s.GetRun().Options().threads;
        return t == 0 ? py::object(py::none()) : py::object(py::int_(t));
      },
      [](auto& s, py::handle v) {
        if (v.is_none()) {
          s.GetRun().Options().threads = 0;
          return;
        }
        if (!py::isinstance<py::int_>(v) || py::isinstance<py::bool_>(v))
          throw py::type_error("threads needs a whole number, or None for one per core");
        const long long t = v.cast<long long>();
        if (t < 1 || t > 1024)
          throw BadValue("threads needs a whole number from 1 to 1024, not " + std::to_string(t));
        s.GetRun().Options().threads = static_cast<int>(t);
      },
      "The worker threads of a step (None: one per core). The results are the\n"
      "same, bit for bit, for any number.");
  Property(
      sim, "recording", [](auto& s) { return s.GetRun().History().Enabled(); },
      [](auto& s, py::handle v) { s.GetRun().History().SetEnabled(v.cast<bool>()); },
      "Whether runs add snapshots to the history (default True).");

  // The switches of quindelle-run, each a bool.
  struct Switch {
    const char* name;
    bool qd::StepOptions::*member;
    bool qd::ForceOptions::*forceMember;
    const char* doc;
  };
  static const Switch kSwitches[] = {
      {"cooler", &qd::StepOptions::cooler, nullptr, "Damping (--cooler)."},
      {"heater", &qd::StepOptions::heater, nullptr, "Heating (--heater)."},
      {"blockade", &qd::StepOptions::blockade, nullptr, "Slots 1 to 4 held in place (--blockade)."},
      {"drop_b", nullptr, &qd::ForceOptions::dropB, "PES without its B term (--drop-b)."},
      {"drop_cdf", nullptr, &qd::ForceOptions::dropCDF, "PES without its C, D and F terms (--drop-cdf)."}};
  for (const Switch& sw : kSwitches) {
    auto flag = [&sw](qd::python::Simulation& s) -> bool& {
      auto& o = s.GetRun().Options();
      return sw.member != nullptr ? o.*sw.member : o.force.*sw.forceMember;
    };
    Property(
        sim, sw.name, [flag](auto& s) { return flag(s); },
        [flag, &sw](auto& s, py::handle v) {
          if (!py::isinstance<py::bool_>(v) && !py::isinstance<py::int_>(v))
            throw py::type_error(std::string(sw.name) + " needs True or False");
          flag(s) = v.cast<bool>();
        },
        sw.doc);
  }

  // ---- Archive
  py::class_<PyArchive>(m, "Archive",
                        "A run archive (.qra, from quindelle-run --archive or the window's\n"
                        "Save History): len(), indexing (negative too) and iteration give each\n"
                        "snapshot as a Simulation with the state and the choices of that step,\n"
                        "which runs on bit for bit as the archived run did. A snapshot cut short\n"
                        "at the end (a run that was killed) is left out and told by torn_tail.\n"
                        "Raises FileNotFoundError and the like, and ValueError for a file that\n"
                        "is no archive or is damaged.")
      .def(py::init([](py::handle path) {
             PyArchive a;
             a.path = PathText(path);
             if (const int err = qd::RegularFileAccessError(a.path))
               throw qd::python::FileProblem(err, qd::FileErrorText(err), a.path);
             a.reader = a.Read([&] { return std::make_shared<const qd::archive::Reader>(a.path); });
             return a;
           }),
           py::arg("path"))
      .def("__len__", [](const PyArchive& a) { return a.reader->Count(); })
      .def(
          "__getitem__",
          [](const PyArchive& a, py::ssize_t i) {
            const auto n = static_cast<py::ssize_t>(a.reader->Count());
            if (i < 0) i += n;
            if (i < 0 || i >= n) throw py::index_error("archive index out of range");
            return a.At(static_cast<std::size_t>(i));
          },
          py::arg("index"))
      .def(
          "__getitem__",
          [](const PyArchive& a, const py::slice& range) {
            py::ssize_t start = 0, stop = 0, step = 0, length = 0;
            if (!range.compute(static_cast<py::ssize_t>(a.reader->Count()), &start, &stop, &step, &length))
              throw py::error_already_set();
            py::list out;
            for (py::ssize_t i = 0; i < length; ++i, start += step)
              out.append(a.At(static_cast<std::size_t>(start)));
            return out;
          },
          py::arg("range"), "A slice gives a list of simulations.")
      .def(
          "at_step",
          [](const PyArchive& a, std::int64_t step) {
            const auto& steps = a.reader->Steps();
            const auto at = std::find(steps.begin(), steps.end(), step);
            if (at == steps.end()) {
              std::string near;
              const auto after = std::lower_bound(steps.begin(), steps.end(), step);
              if (after != steps.begin()) near = std::to_string(*(after - 1));
              if (after != steps.end()) near += (near.empty() ? "" : " and ") + std::to_string(*after);
              throw BadValue(a.path + ": no snapshot of step " + std::to_string(step) +
                             (near.empty() ? std::string() : "; the nearest are steps " + near));
            }
            return a.At(static_cast<std::size_t>(at - steps.begin()));
          },
          py::arg("step"),
          "The snapshot of that step as a Simulation; ValueError naming the nearest if none.")
      .def_property_readonly(
          "steps", [](const PyArchive& a) { return a.reader->Steps(); },
          "The step of each snapshot, in order.")
      .def_property_readonly(
          "faults",
          [](const PyArchive& a) {
            py::list faults;
            for (std::size_t i = 0; i < a.reader->Count(); ++i) {
              const std::string fault = a.Read([&] { return a.reader->At(i).fault; });
              if (fault.empty())
                faults.append(py::none());
              else
                faults.append(fault);
            }
            return faults;
          },
          "For each snapshot the floating-point fault of the step after it, or None.")
      .def_property_readonly(
          "torn_tail", [](const PyArchive& a) { return a.reader->TornTail(); },
          "True when the file ends in a snapshot cut short, which is left out.")
      .def("__repr__", [](const PyArchive& a) {
        return "<quindelle.Archive " + a.path + ": " + std::to_string(a.reader->Count()) + " snapshots" +
               (a.reader->TornTail() ? ", torn tail>" : ">");
      });

  m.def(
      "load",
      [m](py::handle path) -> py::object {
        // A run archive opens as the window opens it: its last snapshot,
        // with the choices of that run.
        if (qd::archive::LooksLikeArchive(PathText(path))) {
          py::object archive = m.attr("Archive")(path);
          if (py::len(archive) == 0) throw BadValue(PathText(path) + ": the archive holds no whole snapshot");
          return archive.attr("__getitem__")(-1);
        }
        PySimulation s;
        s.sim = qd::python::Simulation::Load(PathText(path));
        return py::cast(std::move(s));
      },
      py::arg("path"),
      "Reads a configuration file (*.pln) as quindelle-run does, with step\n"
      "count 0 and the choices quindelle-run starts with. A run archive (.qra)\n"
      "gives its last snapshot with the choices and the step count of its run,\n"
      "as Archive(path)[-1] does. An extended XYZ file\n"
      "('run.xyz', or 'run.xyz@N' for frame N: 0 the first, -1 the last, by\n"
      "default the last) gives the frame's positions, velocities and slots to a\n"
      "simulation whose parameters are all 0, as quindelle-run --from reads it.\n"
      "Raises FileNotFoundError, PermissionError, IsADirectoryError and the like,\n"
      "and ValueError for a file too short to be a configuration or a damaged\n"
      "XYZ file.");
}
