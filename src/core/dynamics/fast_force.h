#pragma once
// The force law of the fast step: the same operations as the literal law of
// force.cpp, in the same order for every sum, but each computed only once,
// and the expensive pair terms optionally shared among several threads.
#include <cstdint>
#include <type_traits>

#include "core/common/extended.h"
#include "core/dynamics/options.h"
#include "core/state/sim_state.h"

namespace qd {

// Below this many present particles the pair terms of a step are computed on
// the calling thread alone: handing out the work costs more than the second
// thread saves. Measured on 2 cores: E and PE break even at 10 particles and
// gain from 12 on; the poly-exponential laws, ten times dearer per pair, gain
// from 6 on. Variable only so that the benchmark can measure both sides.
struct ParallelThreshold {
  int cheapLaws = 12;  // E, PE
  int costlyLaws = 6;  // PES, DUDI, EPESminus
};
extern ParallelThreshold gMinParallelParticles;

// How the steps of the calling thread computed their pair terms.
struct FastStepCounts {
  std::uint64_t parallel = 0;  // steps whose pair terms were shared among threads
  std::uint64_t reruns = 0;    // of those, steps redone on one thread after a flag was raised
  std::uint64_t prepared = 0;  // of those, steps that used pair terms prepared ahead
};
extern thread_local FastStepCounts gFastStepCounts;

using ForceSink = void (*)(void* context, int k, int component, Extended force);

// Computes the x, y and z forces on every present slot from `first` to the
// last one, in that order, from the committed positions, handing each to
// `sink` as soon as it is complete, so that the caller can integrate and
// check it before the next one is computed. `threads` (at least 1) threads
// compute the pair terms. Throws FpFault at the same slot and component, with
// the same message, as the literal law would.
void ComputeFastForces(const SimState& s, const ForceOptions& o, int first, int threads, ForceSink sink,
                       void* context);

// Starts the pair terms of a step from s under o (as ComputeFastForces would
// compute them) on the pool's workers and returns at once, so that they work
// while the calling thread does something else. The next ComputeFastForces on
// this thread uses them when its state and options are the same, bit for bit,
// in every value they depend on, and throws them away otherwise; its results
// are the same either way. Does nothing when such a step would not share its
// pair terms.
void PrepareFastForces(const SimState& s, const ForceOptions& o, int first, int threads);

// Stops and throws away what PrepareFastForces started, if anything.
void DiscardPreparedForces();

template <class Use>
void ForEachFastForce(const SimState& s, const ForceOptions& o, int first, int threads, Use&& use) {
  using U = std::remove_reference_t<Use>;
  ComputeFastForces(
      s, o, first, threads,
      [](void* c, int k, int component, Extended f) { (*static_cast<U*>(c))(k, component, f); },
      const_cast<void*>(static_cast<const void*>(&use)));
}

}  // namespace qd
