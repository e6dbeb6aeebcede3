#include "core/dynamics/fast_force.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "core/common/fp_guard.h"
#include "core/dynamics/fast_pair_law.h"
#include "core/dynamics/force.h"
#include "core/dynamics/pair_shares.h"
#include "core/dynamics/shared_pairs.h"
#include "core/dynamics/worker_pool.h"

namespace qd {

// ---------------------------------------------------------------------------
// The fast law computes the very same operations as the literal one, in the
// same order for every sum, but computes each of them once:
//  - a pair's geometry and scalar factor serve all three components;
//  - the pair (j, k) reuses the term of (k, j), negated, when both directions
//    use the same parameter values (r and the factor are bitwise symmetric,
//    and rounding to nearest is symmetric in sign);
//  - ln u and u^20 are shared between H and Q, and PowerOf(0.1 q, -1) is
//    computed once per step.
// On one thread everything is computed lazily, at the first slot and
// component whose literal force would compute it, so a fault surfaces at
// the same slot and component as in the literal step. The flags are read
// once per component (reading them costs as much as the arithmetic of a
// pair); when one is set, the literal pass of that component is run to
// report the first fault.
//
// On several threads everything but the integration is shared among them
// (the forces depend only on the committed positions): the factors and terms
// of every pair, then each slot's sums, which add the same terms in the same
// order as the serial pass; the calling thread integrates the slots in
// ascending order. Each thread reads its own flags; when any is set, the
// shared work is thrown away and the step is computed on one thread, which
// reports the fault exactly.
// ---------------------------------------------------------------------------
using namespace fast;

namespace {

// The serial pass: the forces slot by slot and component by component.
class SerialPass {
 public:
  // It computes every factor as it goes, at the first slot and component
  // whose literal force would compute it.
  // With `potential`, it keeps each pair's potential factors, from which
  // the step sums the potential energy once the forces are done.
  SerialPass(const RunState& s, const ForceOptions& o, int first, FastPairLaw& law, Workspace& w,
             MathCallCounts& calls, bool potential)
      : s_(s),
        o_(o),
        law_(law),
        w_(w),
        calls_(calls),
        n_(LastSlot(s)),
        first_(first),
        potential_(potential),
        subtracts_(WithLaw(o.formula, [](auto l) { return decltype(l)::kSubtracts; })) {}

  // Component c of the force on present slot k; for each slot the three
  // components in order, the slots in ascending order.
  Extended Force(int k, int c) {
    if (c == 0) {
      if (!reciprocalsReady_) {
        CheckFpFlags(law_.PrepareReciprocals());
        reciprocalsReady_ = true;
      }
      for (int j = 1; j <= n_; ++j) {
        w_.scalars[j].set = -1;
        w_.geometry[j] = false;
      }
    }
    const Extended S = Component(k, c);
    if (FpFlagsRaised(S)) {
      // Rare: find the first fault pair by pair, as the literal pass does
      // (the same operations raise the same flags). It throws.
      CheckFpFlags(LiteralForce(s_, k, o_, c, &calls_));
    }
    CheckFpResult(S);
    return S;
  }

 private:
  int SetOf(int j, int c) const { return law_.SetOf(j, c, n_); }

  // The force on k from j (j < k) was already computed as the negated force
  // on j from k when j was handled and both directions use the same values.
  bool Reused(int k, int j, int c) const { return j >= first_ && SetOf(j, c) == SetOf(k, c); }

  void Factors(Scalars& e, int k, int j, int set) {
    const int lo = k < j ? k : j, hi = k < j ? j : k;
    e.set = set;
    law_.Compute(calls_, e.v, w_.r[j], set, w_.powers[lo][hi], w_.gen);
    if (potential_) w_.potOf[hi][lo][set] = e.v.pot;
  }

  Extended Component(int k, int c) {
    const Extended* d = c == 0 ? w_.dx : c == 1 ? w_.dy : w_.dz;
    const int scope = ScopeSign(o_.sign);
    const int setK = SetOf(k, c);
    Extended S = 0;
    for (int j = 1; j <= n_; ++j) {
      if (s_.Present[j] == 0 || j == k) continue;
      const int set = SetOf(j, c);
      Extended t;
      if (j < k && Reused(k, j, c)) {
        t = w_.reverse[c][k][j];
      } else {
        if (!w_.geometry[j]) {
          // The geometry serves all three components. A reused term needs
          // none: its pair's geometry was computed, with the same bits and
          // flags, when the other slot was handled.
          w_.dx[j] = s_.X[k] - s_.X[j];
          w_.dy[j] = s_.Y[k] - s_.Y[j];
          w_.dz[j] = s_.Z[k] - s_.Z[j];
          w_.r[j] = sqrtl(w_.dz[j] * w_.dz[j] + (w_.dy[j] * w_.dy[j] + w_.dx[j] * w_.dx[j]));
          w_.geometry[j] = true;
        }
        Scalars& e = w_.scalars[j];
        if (e.set != set) Factors(e, k, j, set);
        // PairSign(k, j) * ScopeSign(): the scope sign for an even distance, else -1.
        const Extended sigma = ((k - j) % 2 == 0) ? scope : -1;
        t = law_.Term(e, sigma, d[j], w_.r[j]);
        if (j > k && set == setK && k >= first_) w_.reverse[c][j][k] = -t;
      }
      S = subtracts_ ? S - t : S + t;
    }
    return S;
  }

  const RunState& s_;
  const ForceOptions& o_;
  FastPairLaw& law_;
  Workspace& w_;
  MathCallCounts& calls_;
  const int n_;
  const int first_;
  const bool potential_;
  const bool subtracts_;
  bool reciprocalsReady_ = false;
};

// A step's shared factors started ahead (Prepare): the values of the
// committed state and the options they are computed from, copied, since the
// caller may change its own state while the workers read.
struct PreparedStep {
  bool pending = false;
  RunState input{};
  ForceOptions options;
  int first = 1;
  std::optional<FastPairLaw> law;
};

// Whether the factors computed from `p` are those of a step from s under o,
// starting at `first`: every value they are computed from is the same, bit
// for bit.
bool SameInput(const PreparedStep& p, const RunState& s, const ForceOptions& o, int first) {
  const ForceOptions& q = p.options;
  if (p.first != first || q.formula != o.formula || q.dropB != o.dropB || q.dropCDF != o.dropCDF ||
      q.secondKindCount != o.secondKindCount || q.sign != o.sign)
    return false;
  const RunState& in = p.input;
  if (in.TaonCount != s.TaonCount) return false;
  for (int i = 1; i < 11; ++i)
    if (!SameBits(in.*kParameterBlock[i], s.*kParameterBlock[i])) return false;
  for (int k = 0; k <= kSlotCount; ++k)
    if (in.Present[k] != s.Present[k] || !SameBits(in.X[k], s.X[k]) || !SameBits(in.Y[k], s.Y[k]) ||
        !SameBits(in.Z[k], s.Z[k]))
      return false;
  return true;
}

}  // namespace

// What the steps of one engine keep between calls.
struct FastForceEngine::Memory {
  Workspace w;
  SharedPairs job;  // the prepared one's, or the step's own
  PreparedStep prepared;
};

FastForceEngine::FastForceEngine(WorkerPool& pool) : pool_(pool), m_(std::make_unique<Memory>()) {}

FastForceEngine::~FastForceEngine() { Settle(false); }

bool FastForceEngine::Settle(bool use) {
  PreparedStep& prepared = m_->prepared;
  if (!prepared.pending) return false;
  prepared.pending = false;
  if (!use) m_->job.Cancel();
  // The calling thread's share clears the flags it raises; the caller's own
  // flags are left as they were.
  fexcept_t callers;
  fegetexceptflag(&callers, FE_ALL_EXCEPT);
  pool_.Finish(m_->job.Job());
  fesetexceptflag(&callers, FE_ALL_EXCEPT);
  return use;
}

bool FastForceEngine::SharesPairs(const RunState& s, const ForceOptions& o, int threads) const {
  if (threads <= 1) return false;
  const auto [dear, costly] = WithLaw(o.formula, [&](auto law) {
    using L = decltype(law);
    return std::pair<bool, bool>{L::HasDearTerms(o), L::kCostly};
  });
  if (!dear) return false;
  const int least = costly ? threshold.costlyLaws : threshold.cheapLaws;
  const int n = LastSlot(s);
  int present = 0;
  for (int k = 1; k <= n; ++k) present += s.Present[k] != 0;
  return present >= least;
}

void FastForceEngine::Prepare(const RunState& s, const ForceOptions& o, int first, int threads) {
  Settle(false);
  threads = std::min(threads, kMaxStepThreads);
  if (!SharesPairs(s, o, threads)) return;
  PreparedStep& p = m_->prepared;
  // Only what the factors are computed from: the rest of the state is large.
  p.input.X = s.X;
  p.input.Y = s.Y;
  p.input.Z = s.Z;
  p.input.Present = s.Present;
  p.input.TaonCount = s.TaonCount;
  for (int i = 1; i < 11; ++i) p.input.*kParameterBlock[i] = s.*kParameterBlock[i];
  p.options = o;
  p.first = first;
  p.law.emplace(p.input, p.options);
  // The caller's flags are its own business: they are as they were after this.
  fexcept_t callers;
  fegetexceptflag(&callers, FE_ALL_EXCEPT);
  ClearFpFlags();
  const bool ready = m_->job.Set(p.input, *p.law, first, threads, m_->w, calls);
  fesetexceptflag(&callers, FE_ALL_EXCEPT);
  p.pending = ready && pool_.Start(threads, m_->job.Job());
}

void FastForceEngine::Discard() { Settle(false); }

void FastForceEngine::Compute(const RunState& s, const ForceOptions& o, int first, int threads,
                              const ForceSink& sink) {
  Memory& m = *m_;
  Workspace& w = m.w;
  // Every pair's factors are at hand only when no slot is held.
  const bool potential = std::exchange(wantPotential_, false) && first == 1;
  potential_.reset();
  const bool prepared = Settle(m.prepared.pending && SameInput(m.prepared, s, o, first));
  w.NextGeneration();
  const int n = LastSlot(s);

  FastPairLaw law(s, o);
  bool shared = false;
  if (prepared || SharesPairs(s, o, std::min(threads, kMaxStepThreads))) {
    ++counts.parallel;
    if (prepared) {
      ++counts.prepared;
      shared = m.job.Collect(calls);
    } else {
      shared = m.job.Set(s, law, first, std::min(threads, kMaxStepThreads), w, calls, potential);
      if (shared) {
        pool_.Run(m.job.Threads(), m.job.Job());
        shared = m.job.Collect(calls);
      }
    }
    if (!shared) {
      // Each thread's share of the work is thrown away; one thread computes
      // the step again and reports the first fault exactly.
      ++counts.reruns;
      ClearFpFlags();
    }
  }
  if (shared) {
    // Every force is summed; integrating them in order is all that is left.
    sink.all(sink.context, w.force);
    // A prepared step was started without the potential.
    if (potential && !prepared) potential_ = SumShares(s, [&](int lo, int hi) { return w.share[hi][lo]; });
    return;
  }
  FastPairLaw serialLaw(s, o);
  SerialPass forces(s, o, first, serialLaw, w, calls, potential);
  for (int k = first; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    for (int c = 0; c < 3; ++c) sink.one(sink.context, k, c, forces.Force(k, c));
  }
  if (potential) {
    const ShareScales scales(serialLaw, n);
    potential_ = SumShares(
        s, [&](int lo, int hi) { return scales.Of(lo, hi, [&](int set) { return w.potOf[hi][lo][set]; }); });
  }
}

std::optional<Extended> FastForceEngine::TakePotential() { return std::exchange(potential_, std::nullopt); }

}  // namespace qd
