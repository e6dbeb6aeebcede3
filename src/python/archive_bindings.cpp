// quindelle.Archive: a run archive read snapshot by snapshot.
#include <pybind11/stl.h>

#include <algorithm>
#include <string>

#include "core/common/errors.h"
#include "core/persistence/file_io.h"
#include "python/bindings.h"

namespace qd::python {

void BindArchive(py::module_& m) {
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
      .def("__reduce__",
           [m](const PyArchive& a) {
             // Pickled and copied by its file, which is read again.
             return py::make_tuple(m.attr("Archive"), py::make_tuple(a.path));
           })
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
}

}  // namespace qd::python
