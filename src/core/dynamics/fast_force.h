#pragma once
// The force law of the fast step: the same operations as the literal law of
// force.cpp, in the same order for every sum, but each computed only once,
// and the expensive pair terms optionally shared among several threads.
#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>

#include "core/common/extended.h"
#include "core/dynamics/options.h"
#include "core/dynamics/pair_laws.h"
#include "core/dynamics/worker_pool.h"
#include "core/state/sim_state.h"

namespace qd {

// Below this many present particles the pair terms of a step are computed on
// the calling thread alone: handing out the work costs more than the second
// thread saves. Measured on 2 cores with the workers awake, as during a run:
// E and PE gain from 8 particles on (1.5 times at 8, slower at 6); the
// poly-exponential laws, ten times dearer per pair, from 5 on (1.2 to 1.3
// times at 5, break-even at 4).
struct ParallelThreshold {
  int cheapLaws = 8;   // E, PE
  int costlyLaws = 5;  // PES, DUDI, EPESminus
};

// How an engine's steps computed their pair terms.
struct FastStepCounts {
  std::uint64_t parallel = 0;  // steps whose pair terms were shared among threads
  std::uint64_t reruns = 0;    // of those, steps redone on one thread after a flag was raised
  std::uint64_t prepared = 0;  // of those, steps that used pair terms prepared ahead
};

// Where the forces of a step go. `one` takes them one at a time, in order,
// as soon as each is complete, so that the caller can integrate and check
// it before the next one is computed. When the threads computed every force
// ahead with no flag raised, `all` takes the whole table at once instead
// (force[k][c] for every present slot from the first integrated one on; a
// value may still be a quiet NaN that raised no flag), so that the caller
// can read the flags once for the whole step rather than once per value.
struct ForceSink {
  void (*one)(void* context, int k, int component, Extended force);
  void (*all)(void* context, const Extended (*force)[3]);
  void* context;
};

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
  // the last one, in that order, from the committed positions, and hands
  // them to `sink`. `threads` (at least 1) threads compute the pair terms.
  // Throws FpFault at the same slot and component, with the same message,
  // as the literal law would.
  void Compute(const RunState& s, const ForceOptions& o, int first, int threads, const ForceSink& sink);

  template <class One, class All>
  void ForEach(const RunState& s, const ForceOptions& o, int first, int threads, One&& one, All&& all) {
    using O = std::remove_reference_t<One>;
    using A = std::remove_reference_t<All>;
    struct Both {
      O* one;
      A* all;
    } both{&one, &all};
    Compute(s, o, first, threads,
            {[](void* c, int k, int component, Extended f) { (*static_cast<Both*>(c)->one)(k, component, f); },
             [](void* c, const Extended (*force)[3]) { (*static_cast<Both*>(c)->all)(force); }, &both});
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

  // Asks the next Compute for the potential energy of the state it starts
  // from as well, taken from the very values its forces are computed from
  // (the force law's and the potential's powers are the same operations),
  // the same to the last bit as PotentialEnergy and nearly free.
  void WantPotential() { wantPotential_ = true; }
  // That potential, once. Empty when the last Compute could not give it:
  // slots held under blockade (their pairs are not computed), a step
  // prepared ahead, a fault.
  std::optional<Extended> TakePotential();

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
  bool wantPotential_ = false;
  std::optional<Extended> potential_;
};

}  // namespace qd
