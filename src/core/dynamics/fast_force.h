#pragma once
// The force law of the fast step: the same operations as the literal law of
// force.cpp, in the same order for every sum, but each computed only once,
// and the expensive pair terms optionally shared among several threads.
#include <cstdint>
#include <memory>
#include <type_traits>

#include "core/common/extended.h"
#include "core/dynamics/options.h"
#include "core/dynamics/pair_laws.h"
#include "core/dynamics/worker_pool.h"
#include "core/state/sim_state.h"

namespace qd {

// Below this many present particles the pair terms of a step are computed on
// the calling thread alone: handing out the work costs more than the second
// thread saves. Measured on 2 cores: E and PE break even at 10 particles and
// gain from 12 on; the poly-exponential laws, ten times dearer per pair, gain
// from 6 on.
struct ParallelThreshold {
  int cheapLaws = 12;  // E, PE
  int costlyLaws = 6;  // PES, DUDI, EPESminus
};

// How an engine's steps computed their pair terms.
struct FastStepCounts {
  std::uint64_t parallel = 0;  // steps whose pair terms were shared among threads
  std::uint64_t reruns = 0;    // of those, steps redone on one thread after a flag was raised
  std::uint64_t prepared = 0;  // of those, steps that used pair terms prepared ahead
};

using ForceSink = void (*)(void* context, int k, int component, Extended force);

// The fast step's forces, with the memory its steps keep from one to the
// next (a workspace of about a megabyte, and a step prepared ahead) and the
// pool whose workers share the pair terms. One per run; not for use from
// two threads at once.
class FastForceEngine {
 public:
  explicit FastForceEngine(WorkerPool& pool);
  ~FastForceEngine();
  FastForceEngine(const FastForceEngine&) = delete;
  FastForceEngine& operator=(const FastForceEngine&) = delete;

  // Computes the x, y and z forces on every present slot from `first` to
  // the last one, in that order, from the committed positions, handing each
  // to `sink` as soon as it is complete, so that the caller can integrate
  // and check it before the next one is computed. `threads` (at least 1)
  // threads compute the pair terms. Throws FpFault at the same slot and
  // component, with the same message, as the literal law would.
  void Compute(const RunState& s, const ForceOptions& o, int first, int threads, ForceSink sink, void* context);

  template <class Use>
  void ForEach(const RunState& s, const ForceOptions& o, int first, int threads, Use&& use) {
    using U = std::remove_reference_t<Use>;
    Compute(
        s, o, first, threads,
        [](void* c, int k, int component, Extended f) { (*static_cast<U*>(c))(k, component, f); },
        const_cast<void*>(static_cast<const void*>(&use)));
  }

  // Starts the pair terms of a step from s under o (as Compute would compute
  // them) on the pool's workers and returns at once, so that they work while
  // the calling thread does something else. The next Compute uses them when
  // its state and options are the same, bit for bit, in every value they
  // depend on, and throws them away otherwise; its results are the same
  // either way. Does nothing when such a step would not share its pair terms.
  void Prepare(const RunState& s, const ForceOptions& o, int first, int threads);

  // Stops and throws away what Prepare started, if anything.
  void Discard();

  // Whether a step from s under o on `threads` threads shares its pair terms.
  bool SharesPairs(const RunState& s, const ForceOptions& o, int threads) const;

  ParallelThreshold threshold;
  FastStepCounts counts;
  MathCallCounts calls;  // every exp and ln of the engine's steps, workers' included

 private:
  struct Memory;
  // Ends a prepared job: the calling thread joins in (or, when it is not to
  // be used, takes nothing more). True when it was prepared and used.
  bool Settle(bool use);

  WorkerPool& pool_;
  std::unique_ptr<Memory> m_;
};

}  // namespace qd
