#include "core/view/projection.h"

#include <stdexcept>

namespace qd {

void BuildStepMatrix(SimState&) { throw std::logic_error("BuildStepMatrix: not built yet"); }
void BuildViewMatrix(SimState&) { throw std::logic_error("BuildViewMatrix: not built yet"); }
std::int32_t PixelRound(Extended) { throw std::logic_error("PixelRound: not built yet"); }
void ProjectPoint(const SimState&, Extended, Extended, std::int32_t&, std::int32_t&) { throw std::logic_error("ProjectPoint: not built yet"); }
void ProjectParticles(SimState&) { throw std::logic_error("ProjectParticles: not built yet"); }
void RotateFigurePoints(SimState&, int) { throw std::logic_error("RotateFigurePoints: not built yet"); }
void UpdateCenter(SimState&, int, int) { throw std::logic_error("UpdateCenter: not built yet"); }

}  // namespace qd
