#pragma once
// Masses of the chemical elements, for files that give particles' momenta
// rather than their velocities.
#include <optional>
#include <string_view>

#include "core/common/extended.h"

namespace qd {

// The standard atomic mass of the element with this symbol ("Cl": 35.45),
// as other tools assign it; none for a text that is no element's symbol.
std::optional<Extended> StandardAtomicMass(std::string_view symbol);

}  // namespace qd
