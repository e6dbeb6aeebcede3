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

template <class Use>
void ForEachFastForce(const SimState& s, const ForceOptions& o, int first, int threads, Use&& use) {
  using U = std::remove_reference_t<Use>;
  ComputeFastForces(
      s, o, first, threads,
      [](void* c, int k, int component, Extended f) { (*static_cast<U*>(c))(k, component, f); },
      const_cast<void*>(static_cast<const void*>(&use)));
}

}  // namespace qd
