#pragma once
// One time step of the simulation and the zero-velocity operation.
#include <cstdint>

#include "core/dynamics/options.h"
#include "core/state/sim_state.h"

namespace qd {

// Advances the state by one step of Dt: integration of the present slots
// (from slot 5 on under blockade), commit, walls, and StepCount := stepNumber.
// Throws FpFault; then the working arrays keep the updates made before the
// fault, while the committed arrays and StepCount keep the previous step.
// The results are the same, bit for bit, for every o.threads.
void AdvanceStep(SimState& s, const StepOptions& o, std::int32_t stepNumber);

// Lets the pool's workers start on the next AdvanceStep from s under o while
// the calling thread does other work (draws, handles events). That step uses
// their work when s and o are still the same in every value it depends on,
// and computes afresh otherwise: results are the same either way.
void PrepareStep(const SimState& s, const StepOptions& o);

// Stops and throws away a prepared step, if any (the caller's run ends).
void DiscardPreparedStep();

// The same step computed literally, component by component with no sharing.
// Kept as the reference the fast step is checked against.
void AdvanceStepLiteral(SimState& s, const StepOptions& o, std::int32_t stepNumber);

// Sets the committed and working velocities of all 60 slots to 0.
void ZeroVelocities(SimState& s);

}  // namespace qd
