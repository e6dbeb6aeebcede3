// The compiled part of the Python package `quindelle`: a run of the program
// driven from Python, with the program's own arithmetic and files.
#include <pybind11/pybind11.h>

#include <iterator>
#include <string>

#include "core/batch/batch_run.h"
#include "core/persistence/run_archive.h"
#include "python/ase_support.h"
#include "python/bindings.h"
#include "python/values.h"

namespace py = pybind11;

using qd::python::BadValue;
using qd::python::FileProblem;
using qd::python::PathText;
using qd::python::PySimulation;

PYBIND11_MODULE(_quindelle, m) {
  // The classes and functions are the package's: defined while the module
  // bears its name, they carry it in their __module__, their signatures and
  // their pickles (quindelle.Simulation), which stay valid wherever the
  // package keeps its compiled part.
  m.attr("__name__") = "quindelle";
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

  qd::python::g_faultType =
      PyErr_NewExceptionWithDoc("quindelle.FloatingPointFault",
                                "A floating-point fault (invalid operation, division by zero or overflow)\n"
                                "ended a step. `step` is the number the step would have had and `message`\n"
                                "the program's text for the fault. The state is left as the program\n"
                                "leaves it: the committed positions, velocities and step count are those\n"
                                "of the last good step.",
                                PyExc_FloatingPointError, nullptr);
  if (qd::python::g_faultType == nullptr) throw py::error_already_set();
  m.attr("FloatingPointFault") = py::handle(qd::python::g_faultType);

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

  qd::python::BindRecords(m);
  qd::python::BindSimulation(m);
  qd::python::BindArchive(m);
  qd::python::BindAseSupport(m);

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
  m.attr("__name__") = "quindelle._quindelle";
}
