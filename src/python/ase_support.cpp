// The facts of the extended XYZ writer that an ASE frame of a simulation must
// share with it, taken from the core rather than restated in Python: the
// species of each kind, each slot's kind, and the box of each kind of walls.
#include "python/ase_support.h"

#include <pybind11/numpy.h>

#include <cstdint>

#include "core/batch/batch_run.h"
#include "core/dynamics/step.h"
#include "core/persistence/xyz.h"
#include "python/bindings.h"

namespace qd::python {

void BindAseSupport(py::module_& m) {
  m.attr("_KIND_SPECIES") = py::make_tuple(qd::KindSpecies(1), qd::KindSpecies(2));
  py::dict widths;
  for (const auto& [name, walls] : qd::batch::kWallNames)
    widths[name] = static_cast<double>(qd::WallHalfWidth(walls));
  m.attr("_WALL_HALF_WIDTHS") = widths;
  m.def(
      "_slot_kinds",
      [](PySimulation& self) {
        const Simulation& sim = self.Use();
        // The slot count of an archived state may be below 60, which moves
        // the second kind's slots down with it.
        const int second = sim.GetRun().Options().force.secondKindCount;
        py::array_t<std::int8_t> kinds(kSlotCount);
        std::int8_t* k = kinds.mutable_data();
        for (int slot = 1; slot <= kSlotCount; ++slot)
          k[slot - 1] = static_cast<std::int8_t>(qd::SlotKind(sim.State(), second, slot));
        return kinds;
      },
      py::arg("simulation"), "The kind (1 or 2) of each of the 60 slots, as the XYZ writer gives it.");
}

}  // namespace qd::python
