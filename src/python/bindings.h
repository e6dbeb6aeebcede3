#pragma once
// What the module's files share: the objects Python holds, the state's
// arrays and values, the calls that run steps, and the bindings of each
// class.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/common/errors.h"
#include "core/history/run_history.h"
#include "core/persistence/run_archive.h"
#include "core/run/run.h"
#include "python/simulation.h"

namespace qd::python {

namespace py = pybind11;

// A simulation as Python holds it. While `run` or `step` works without the
// interpreter lock, another Python thread could reach the same state: every
// access checks `busy` first.
struct PySimulation {
  // What other threads may touch while a run works without the lock.
  struct Live {
    std::atomic<bool> stop{false};      // stop() asks the run to end
    std::atomic<std::int32_t> step{0};  // the step last done
  };
  std::unique_ptr<Simulation> sim = std::make_unique<Simulation>();
  std::unique_ptr<Live> live = std::make_unique<Live>();
  bool busy = false;
  // The run has handed the simulation to its callback, to be read.
  bool inCallback = false;
  // The potential of the state as it is: as dear as half a step of some
  // formulas, so read once until the state or the choices change.
  std::optional<Extended> potential;

  Simulation& Use() {
    if (busy && !inCallback) throw std::runtime_error("the simulation is running in another thread");
    return *sim;
  }
  // For what changes the simulation or runs it: not from a run's callback,
  // whose run goes on from the state it handed over.
  Simulation& Change() {
    if (inCallback)
      throw std::runtime_error("a run's callback may read the simulation, not change or run it");
    Simulation& s = Use();
    potential.reset();
    return s;
  }
};

// Marks the simulation busy for a call that lets go of the interpreter lock.
class Busy {
 public:
  explicit Busy(PySimulation& s) : s_(s) {
    s_.Change();
    s_.busy = true;
  }
  ~Busy() {
    s_.busy = false;
    s_.potential.reset();
  }
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
  std::shared_ptr<const Snapshot> snap;
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
      throw FileProblem(0, e.what(), path);
    }
  }

  PySimulation At(std::size_t i) const {
    const qd::archive::Entry e = Read([&] { return reader->At(i); });
    PySimulation s;
    s.sim = Simulation::FromSnapshot(e.state, e.options, path);
    return s;
  }
};

// ---- values and arrays (values.cpp) ----------------------------------------

// A numpy.longdouble scalar.
py::object LongDouble(const Extended& v);
std::string ShapeText(const py::array& a);
// A path as os.fsdecode gives it (str, bytes or os.PathLike).
std::string PathText(py::handle path);

enum class Triple { Positions, Velocities };
py::array_t<long double> GetTriples(const RunState& s, Triple which);
void SetTriples(Simulation& sim, py::handle value, Triple which);
py::array_t<bool> GetPresent(const RunState& s);
void SetPresent(Simulation& sim, py::handle value);
py::dict ParameterDict(const RunState& s);
int ParameterIndexOrKeyError(py::handle key);

// ---- runs (running.cpp) ------------------------------------------------------

// quindelle.FloatingPointFault, made at import and kept for the process.
extern PyObject* g_faultType;
[[noreturn]] void RaiseFault(const Fault& f);
// The files a run writes as quindelle-run would: empty names write none.
struct RunFiles {
  std::string archive, xyz, csv;
  long long archiveEvery = 0;  // 0: as quindelle-run chooses
  bool resume = false;         // append to `archive`, where the simulation stands
  bool Any() const { return !archive.empty() || !xyz.empty() || !csv.empty(); }
};
// Runs `steps` steps; every `every` steps calls `callback` (when not None)
// with `self`, the simulation's Python object, readable meanwhile, and
// writes the table and the trajectory. The run ends early at stop(),
// Ctrl+C, a callback's False or its exception; `progress` shows a tqdm bar.
void Run(PySimulation& self, long long steps, long long every, const py::object& callback,
         const py::object& self_object, const RunFiles& files = {}, bool progress = false);
void Step(PySimulation& self);
// The potential energy, kept until the state changes.
Extended Potential(PySimulation& self);

// ---- pickling (pickling.cpp) -------------------------------------------------

// A simulation as bytes a run archive would hold (its state and choices,
// and each snapshot of its history, every field checked when read back),
// with what the archive does not keep: the record's unused bytes, the
// threads, the recording switches and the source.
py::tuple PickleSimulation(PySimulation& self);
PySimulation UnpickleSimulation(const py::tuple& t);
py::tuple PickleSnapshot(const PySnapshot& s);
PySnapshot UnpickleSnapshot(const py::tuple& t);

// ---- the classes -------------------------------------------------------------

void BindRecords(py::module_& m);     // Snapshot, History, Parameters (records.cpp)
void BindSimulation(py::module_& m);  // simulation_bindings.cpp
void BindArchive(py::module_& m);     // archive_bindings.cpp

}  // namespace qd::python
