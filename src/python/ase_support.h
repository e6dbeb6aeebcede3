#pragma once
// What the package's ASE bridge (quindelle/_ase.py) reads of the core.
#include <pybind11/pybind11.h>

namespace qd::python {

// _KIND_SPECIES, _WALL_HALF_WIDTHS and _slot_kinds(sim) in the compiled module.
void BindAseSupport(pybind11::module_& m);

}  // namespace qd::python
