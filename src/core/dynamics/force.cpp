#include "core/dynamics/force.h"

#include <stdexcept>

namespace qd {

Extended PowerOf(Extended, Extended) { throw std::logic_error("PowerOf: not built yet"); }
int ScopeSign(SignMode mode) { return mode == SignMode::Taoscope ? 1 : -1; }
int PairSign(int k, int j, SignMode mode) { return (k - j) % 2 == 0 ? 1 : -ScopeSign(mode); }
Extended ForceX(const SimState&, int, const ForceOptions&) { throw std::logic_error("ForceX: not built yet"); }
Extended ForceY(const SimState&, int, const ForceOptions&) { throw std::logic_error("ForceY: not built yet"); }
Extended ForceZ(const SimState&, int, const ForceOptions&) { throw std::logic_error("ForceZ: not built yet"); }

}  // namespace qd
