#include "core/dynamics/step.h"

#include <stdexcept>

namespace qd {

void AdvanceStep(SimState&, const StepOptions&, std::int32_t) { throw std::logic_error("AdvanceStep: not built yet"); }
void AdvanceStepLiteral(SimState&, const StepOptions&, std::int32_t) { throw std::logic_error("AdvanceStepLiteral: not built yet"); }
void ZeroVelocities(SimState& s) {
  for (int k = 1; k <= kSlotCount; ++k) s.UX[k] = s.UY[k] = s.UZ[k] = s.UXNew[k] = s.UYNew[k] = s.UZNew[k] = 0;
}

}  // namespace qd
