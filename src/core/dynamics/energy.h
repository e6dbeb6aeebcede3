#pragma once
// Energies of the committed state, for checking runs (the force law is minus
// the derivative of these pair potentials).
#include "core/common/extended.h"
#include "core/dynamics/options.h"
#include "core/dynamics/worker_pool.h"
#include "core/state/sim_state.h"

namespace qd {

// Half the sum of the squared committed velocities of the present slots
// (every particle has unit mass).
Extended KineticEnergy(const RunState& s);

// The pair potential of one formula for one parameter set, at distance r,
// with the pair sign sigma (+1 or -1).
Extended PairPotential(Formula f, const ForceOptions& o, Extended sigma, Extended r, Extended A, Extended B,
                       Extended C, Extended D, Extended F);

// The sum over all pairs of present slots of the formula's pair potential.
// A pair of two kinds whose parameter sets differ gets the mean of the two
// kinds' potentials. The kinds are those of the x and y forces. With a pool
// and more than one thread, the pairs' terms are shared among them; the sum
// is the same to the last bit.
Extended PotentialEnergy(const RunState& s, const ForceOptions& o, WorkerPool* pool = nullptr, int threads = 1);

}  // namespace qd
