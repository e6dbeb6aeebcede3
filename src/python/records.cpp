// The history's snapshots and the parameters, as Python sees them.
#include <pybind11/stl.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/batch/batch_run.h"
#include "python/bindings.h"
#include "python/values.h"

namespace qd::python {

void BindRecords(py::module_& m) {
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
      .def(py::pickle([](const PySnapshot& s) { return PickleSnapshot(s); },
                      [](const py::tuple& t) { return UnpickleSnapshot(t); }))
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
            auto& sim = p.owner->Change();
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
            auto& sim = p.owner->Change();
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
      .def(
          "__eq__",
          [](PyParameters& p, py::handle other) -> py::object {
            const auto& mine = p.owner->Use();
            if (py::isinstance<PyParameters>(other)) {
              // Two simulations' parameters: bit for bit.
              const auto& theirs = other.cast<PyParameters&>().owner->Use();
              for (int i = 0; i < 11; ++i) {
                const Extended a = mine.Parameter(i), b = theirs.Parameter(i);
                if (!SameBits(a, b)) return py::bool_(false);
              }
              return py::bool_(true);
            }
            // Anything else that is a mapping: as a dict of the values.
            if (!py::isinstance(other, py::module_::import("collections.abc").attr("Mapping")))
              return py::reinterpret_borrow<py::object>(Py_NotImplemented);
            return py::bool_(
                ParameterDict(mine.State()).equal(py::dict(py::reinterpret_borrow<py::object>(other))));
          },
          py::arg("other"))
      .def("__reduce__",
           [](PyParameters& p) {
             // A view of its simulation: pickled, it is the dict of its values.
             return py::make_tuple(py::module_::import("builtins").attr("dict"),
                                   py::make_tuple(ParameterDict(p.owner->Use().State())));
           })
      .def("__repr__", [](PyParameters& p) {
        std::string text = "{";
        const auto& sim = p.owner->Use();
        for (int i = 0; i < 11; ++i)
          text += std::string(i ? ", '" : "'") + qd::batch::kParameterNames[i] +
                  "': " + qd::batch::LosslessText(sim.Parameter(i));
        return text + "}";
      });
  py::module_::import("collections.abc").attr("MutableMapping").attr("register")(m.attr("Parameters"));
  m.attr("Parameters").attr("__hash__") = py::none();
}

}  // namespace qd::python
