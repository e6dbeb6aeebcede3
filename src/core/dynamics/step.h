#pragma once
// One time step of the simulation and the zero-velocity operation.
#include <cstdint>

#include "core/dynamics/fast_force.h"
#include "core/dynamics/options.h"
#include "core/dynamics/worker_pool.h"
#include "core/state/sim_state.h"

namespace qd {

// What the steps of one run share: the worker threads and the fast step's
// memory, with its settings and counters. Not for use from two threads at
// once.
class StepEngine {
 public:
  StepEngine() : forces_(pool_) {}
  StepEngine(const StepEngine&) = delete;
  StepEngine& operator=(const StepEngine&) = delete;

  // Advances the state by one step of Dt: integration of the present slots
  // (from slot 5 on under blockade), commit, walls, and StepCount :=
  // stepNumber. Throws FpFault; then the working arrays keep the updates
  // made before the fault, while the committed arrays and StepCount keep the
  // previous step. The results are the same, bit for bit, for every
  // o.threads.
  void Advance(RunState& s, const StepOptions& o, std::int32_t stepNumber);

  // Lets the workers start on the next Advance from s under o while the
  // calling thread does other work (draws, handles events). That step uses
  // their work when s and o are still the same in every value it depends
  // on, and computes afresh otherwise: results are the same either way.
  void Prepare(const RunState& s, const StepOptions& o);

  // Stops and throws away a prepared step, if any (the caller's run ends).
  void Discard() { forces_.Discard(); }

  // The potential energy of s, its pair terms shared among `threads`.
  Extended Potential(const RunState& s, const ForceOptions& o, int threads);

  WorkerPool& Pool() { return pool_; }
  FastForceEngine& Forces() { return forces_; }

 private:
  WorkerPool pool_;
  FastForceEngine forces_;
};

// The same step computed literally, component by component with no sharing.
// Kept as the reference the fast step is checked against. With `calls`, its
// exp and ln evaluations are added there.
void AdvanceStepLiteral(RunState& s, const StepOptions& o, std::int32_t stepNumber,
                        MathCallCounts* calls = nullptr);

// Half the side of the box the walls keep the particles in: they stand at
// -w and w in x and z. 0 without walls.
Extended WallHalfWidth(Walls w);

// Sets the committed and working velocities of all 60 slots to 0.
void ZeroVelocities(RunState& s);

}  // namespace qd
