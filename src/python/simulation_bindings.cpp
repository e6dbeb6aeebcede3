// quindelle.Simulation: one run, its state, its choices and its calls.
#include <pybind11/stl.h>

#include <cstring>
#include <string>

#include "core/batch/batch_run.h"
#include "python/bindings.h"
#include "python/values.h"

namespace qd::python {

namespace {

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

// A keyword's True or False; None and other objects are no answer.
bool OnOff(py::handle v, const char* name) {
  if (!py::isinstance<py::bool_>(v) && !py::isinstance<py::int_>(v))
    throw py::type_error(std::string(name) + " needs True or False");
  return v.cast<bool>();
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
      [set](PySimulation& self, py::handle v) { set(self.Change(), v); }, doc);
}

// Whether two simulations would go on alike (history and source aside).
bool SameSimulation(const Simulation& a, const Simulation& b) {
  return SameRun(a.State(), a.GetRun().Options(), b.State(), b.GetRun().Options());
}

}  // namespace

void BindSimulation(py::module_& m) {
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
      "run",
      [](py::object self_object, py::handle steps, py::handle every, py::object callback, py::handle archive,
         py::handle archiveEvery, py::handle xyz, py::handle csv, py::handle resume, py::handle progress) {
        PySimulation& self = self_object.cast<PySimulation&>();
        const long long n = StepCount(steps, "run");
        const long long k = every.is_none() ? 1 : StepCount(every, "every");
        if (k < 1) throw BadValue("every needs a number of steps of at least 1, not " + std::to_string(k));
        if (!callback.is_none() && PyCallable_Check(callback.ptr()) == 0)
          throw py::type_error("callback needs a function of the simulation");
        RunFiles files;
        auto path = [](py::handle p) { return p.is_none() ? std::string() : PathText(p); };
        files.archive = path(archive);
        files.xyz = path(xyz);
        files.csv = path(csv);
        if (!archiveEvery.is_none()) {
          files.archiveEvery = StepCount(archiveEvery, "archive_every");
          if (files.archiveEvery < 1)
            throw BadValue("archive_every needs a number of steps of at least 1, not " +
                           std::to_string(files.archiveEvery));
        }
        files.resume = OnOff(resume, "resume");
        Run(self, n, k, callback, self_object, files, OnOff(progress, "progress"));
      },
      py::arg("steps"), py::kw_only(), py::arg("every") = py::none(), py::arg("callback") = py::none(),
      py::arg("archive") = py::none(), py::arg("archive_every") = py::none(), py::arg("xyz") = py::none(),
      py::arg("csv") = py::none(), py::arg("resume") = false, py::arg("progress") = false,
      "Runs `steps` time steps (0 or more), as quindelle-run --steps does.\n"
      "Other Python threads go on meanwhile, and may read step_count and\n"
      "running, or call stop(). With `callback`, calls callback(sim) on the\n"
      "running thread every `every` steps (default 1), the state readable\n"
      "but not to be changed; a callback that returns False ends the run, one\n"
      "that raises ends it and its exception comes out of run(). Ctrl+C\n"
      "(SIGINT) stops the run after the step in hand and raises\n"
      "KeyboardInterrupt, with the state that of the last step done; it stops\n"
      "the runs of other threads too, each with KeyboardInterrupt. Raises\n"
      "FloatingPointFault when a step faults; the steps before it are kept.\n\n"
      "`csv`, `xyz` and `archive` write what quindelle-run --csv, --xyz and\n"
      "--archive write, byte for byte: the table and the trajectory at the\n"
      "start, every `every` steps and after the last step, put in place\n"
      "only when the run is done (after a fault, up to the last good step);\n"
      "the archive a snapshot every `archive_every` steps (by default as\n"
      "quindelle-run chooses), a new file that may not exist yet. With\n"
      "resume=True the archive exists and the simulation is where its run\n"
      "ended (load('run.qra') gives that): the snapshots go on in it, as\n"
      "--resume does. No file may be the one the simulation came from, or\n"
      "another of them. A run ended by an exception (Ctrl+C, the callback's)\n"
      "writes no table and no trajectory; the archive keeps its steps.\n"
      "stop() and a callback's False end a run as if it had been asked for\n"
      "the steps it took. progress=True shows a tqdm bar (python3-tqdm).");
  sim.def(
      "stop", [](PySimulation& self) { self.live->stop.store(true); },
      "Ends the run in progress after the step in hand; run() then returns\n"
      "normally. Safe from any thread; does nothing when no run is going on.");
  sim.def_property_readonly(
      "running", [](PySimulation& self) { return self.busy && !self.inCallback; },
      "Whether a run or a step is going on (in another thread); readable\n"
      "from any thread.");
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
        auto& run = self.Change().GetRun();
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
  sim.def(
      "__eq__",
      [](PySimulation& self, py::handle other) -> py::object {
        if (!py::isinstance<PySimulation>(other))
          return py::reinterpret_borrow<py::object>(Py_NotImplemented);
        return py::bool_(SameSimulation(self.Use(), other.cast<PySimulation&>().Use()));
      },
      py::arg("other"),
      "Equal when both would go on alike: the state, presence, parameters and\n"
      "step count bit for bit, and the same formula, sign, kinds, walls and\n"
      "switches (threads and history aside).");
  sim.def(py::pickle([](PySimulation& self) { return PickleSimulation(self); },
                     [](const py::tuple& t) { return UnpickleSimulation(t); }));
  // A simulation changes: it has no hash.
  sim.attr("__hash__") = py::none();

  sim.def_property_readonly(
      "step_count",
      [](PySimulation& self) {
        if (self.busy && !self.inCallback) return self.live->step.load(std::memory_order_relaxed);
        return self.Use().State().StepCount;
      },
      "The steps done since the configuration was loaded; during a run, read\n"
      "from another thread, the last step done.");
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
      "potential", [](PySimulation& self) { return LongDouble(Potential(self)); },
      "The sum over pairs of the formula's pair potential (numpy.longdouble),\n"
      "as quindelle-run --csv computes it.");
  sim.def_property_readonly(
      "total", [](PySimulation& self) { return LongDouble(self.Use().GetRun().Kinetic() + Potential(self)); },
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
      sim, "record_every",
      [](auto& s) -> py::object {
        const std::int32_t k = s.GetRun().History().FixedInterval();
        return k == 0 ? py::object(py::none()) : py::object(py::int_(k));
      },
      [](auto& s, py::handle v) {
        long long k = 0;
        if (!v.is_none()) {
          k = StepCount(v, "record_every");
          if (k < 1 || k > 0x7fffffff)
            throw BadValue("record_every needs a number of steps from 1 to 2147483647, or None");
        }
        s.GetRun().History().SetFixedInterval(static_cast<std::int32_t>(k));
      },
      "The steps between two snapshots of the history, fixed: a snapshot at\n"
      "every multiple of it, whatever the machine's speed and however a run is\n"
      "split into run() calls. None (the default): chosen so that recording\n"
      "costs about 1.5% of a run. The last step of every run is recorded too.");
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
        [flag, &sw](auto& s, py::handle v) { flag(s) = OnOff(v, sw.name); }, sw.doc);
  }
}

}  // namespace qd::python
