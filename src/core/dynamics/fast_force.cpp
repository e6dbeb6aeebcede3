#include "core/dynamics/fast_force.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "core/common/fp_guard.h"
#include "core/dynamics/fast_pair_law.h"
#include "core/dynamics/force.h"
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

// The potential energy of the state the forces were computed from, as
// PotentialEnergy adds it up, from the shares `share(lo, hi)` of the pairs.
// Every pair is there: no slot is held.
template <class Share>
Extended SumShares(const RunState& s, Share&& share) {
  const int n = LastSlot(s);
  Extended sum = 0;
  for (int lo = 1; lo <= n; ++lo) {
    if (s.Present[lo] == 0) continue;
    for (int hi = lo + 1; hi <= n; ++hi)
      if (s.Present[hi] != 0) sum += share(lo, hi);
  }
  return sum;
}

// What turns a pair's potential factors into its share of the potential,
// worked out once per step: the share of two slots of one kind is
// scale[kind][odd] * pot, with odd whether the slots' distance is odd, the
// very product the law's Scaled computes (sigma * A is exact, sigma being
// 1 or -1); a pair of two kinds takes the mean. The kinds are those of the
// x force, as the potential energy counts them.
class ShareScales {
 public:
  ShareScales(const FastPairLaw& law, int n) : set2_(law.equalSets ? 0 : 1) {
    const RunState& s = law.State();
    const ForceOptions& o = law.Options();
    for (int k = 1; k <= n; ++k) second_[k] = k > n - law.split[0];
    const Extended sigma[2] = {static_cast<Extended>(ScopeSign(o.sign)), -1};
    WithLaw(o.formula, [&](auto l) {
      for (int odd = 0; odd < 2; ++odd) {
        scale_[0][odd] = decltype(l)::Scaled(sigma[odd], s.A1, 1);
        scale_[1][odd] = decltype(l)::Scaled(sigma[odd], s.A2, 1);
      }
    });
  }

  // pot(set): the pair's factor for parameter set `set`; only the sets of
  // the two slots' kinds are asked for.
  template <class Pot>
  Extended Of(int lo, int hi, Pot&& pot) const {
    const int odd = (hi - lo) & 1;
    const bool loSecond = second_[lo], hiSecond = second_[hi];
    if (loSecond == hiSecond) return loSecond ? scale_[1][odd] * pot(set2_) : scale_[0][odd] * pot(0);
    return (scale_[0][odd] * pot(0) + scale_[1][odd] * pot(set2_)) / 2;
  }

 private:
  int set2_;
  bool second_[kRows] = {};
  Extended scale_[2][2];
};

// Lists the pairs, and for each the sets, whose factors the serial pass will
// ask for: exactly those the literal step computes, less the reused ones.
// A pair of two slots below `first` (held under blockade) is never needed.
int ListPairTasks(const RunState& s, const FastPairLaw& law, int first, Workspace& w, int& setsUsed) {
  const int n = LastSlot(s);
  int count = 0;
  setsUsed = 0;
  for (int hi = std::max(first, 2); hi <= n; ++hi) {
    if (s.Present[hi] == 0) continue;
    for (int lo = 1; lo < hi; ++lo) {
      if (s.Present[lo] == 0) continue;
      int sets = 0;
      for (int c = 0; c < 3; ++c) {
        const int setLo = law.SetOf(lo, c, n), setHi = law.SetOf(hi, c, n);
        // From hi towards lo, unless the term of lo towards hi is reused.
        if (lo < first || setLo != setHi) sets |= 1 << setLo;
        // From lo towards hi, when lo is integrated at all.
        if (lo >= first) sets |= 1 << setHi;
      }
      w.tasks[count++] = {static_cast<std::uint8_t>(lo), static_cast<std::uint8_t>(hi),
                          static_cast<std::uint8_t>(sets)};
      setsUsed |= sets;
    }
  }
  return count;
}

// Busy-waiting rounds before a waiting thread starts to yield.
constexpr int kPauseRounds = 2000;

inline void CpuPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// The whole force computation of a step shared among threads, in two
// phases. First the pairs: each thread takes pairs from a common supply and
// computes their factors and their terms in both directions (the term of
// one direction is the other's negated, bit for bit, when both use the same
// parameters). Then, once every pair is done, the slots: each thread takes
// slots and adds up each component's terms in the order the serial pass
// adds them. What is left to the caller is integrating the slots in order.
class SharedPairs {
 public:
  SharedPairs() : part_([this](int part) { Part(part); }) {}
  SharedPairs(const SharedPairs&) = delete;
  SharedPairs& operator=(const SharedPairs&) = delete;

  // Lists the pairs and the slots and computes the law's values that all
  // threads read. False when that raised a flag: nothing is to be computed
  // then.
  bool Set(const RunState& s, FastPairLaw& law, int first, int threads, Workspace& w, MathCallCounts& calls,
           bool potential = false) {
    s_ = &s;
    potential_ = potential;
    if (potential) scales_.emplace(law, LastSlot(s));
    law_ = &law;
    w_ = &w;
    threads_ = threads;
    first_ = first;
    n_ = LastSlot(s);
    subtracts_ = WithLaw(law.Options().formula, [](auto l) { return decltype(l)::kSubtracts; });
    scope_ = ScopeSign(law.Options().sign);
    next_.store(0);
    pairsDone_.store(0);
    cancelled_.store(false);
    for (int i = 0; i < threads; ++i) {
      own_[i].raised = false;
      own_[i].calls = {};
    }
    int setsUsed = 0;
    count_ = ListPairTasks(s, law, first, w, setsUsed);
    // The pairs go out a row at a time, the pairs of one higher slot, the
    // longest rows first so that the last ones taken are short.
    rows_ = 0;
    for (int i = count_; i > 0; ++rows_) {
      rowTo_[rows_] = i;
      const int hi = w.tasks[i - 1].hi;
      while (i > 0 && w.tasks[i - 1].hi == hi) --i;
      rowFrom_[rows_] = i;
    }
    // A slot with no row (no lower partner) is summed by the calling
    // thread, which always takes part.
    slots_ = 0;
    for (int k = first; k <= n_; ++k) {
      owner_[k] = 0;
      if (s.Present[k] != 0) w.summed[slots_++] = static_cast<std::uint8_t>(k);
    }
    law.PrepareReciprocals();
    return !FpFlagsRaised(law.PrepareInverses(calls, setsUsed));
  }

  const std::function<void(int)>& Job() const { return part_; }
  int Threads() const { return threads_; }

  // The pairs and slots not yet taken are left alone.
  void Cancel() {
    cancelled_.store(true);
    next_.store(rows_);
  }

  // After the job: true when no thread raised a flag, and every force is
  // then in w.force. The threads' calls of exp and ln are added to `calls`.
  bool Collect(MathCallCounts& calls) const {
    bool any = false;
    for (int i = 0; i < threads_; ++i) {
      any = any || own_[i].raised;
      calls += own_[i].calls;
    }
    return !any;
  }

 private:
  void Part(int part) {
    ClearFpFlags();
    Extended last = Pairs(part);
    // The sums need every pair. A pair taken is finished by the thread that
    // took it without waiting for anyone, so this wait always ends.
    for (int i = 0; pairsDone_.load(std::memory_order_acquire) < count_ && !cancelled_.load(); ++i) {
      // On a machine with no core to spare the thread being waited for needs this one's.
      if (i < kPauseRounds)
        CpuPause();
      else
        std::this_thread::yield();
    }
    if (!cancelled_.load()) last = last + Sums(part);
    own_[part].raised = FpFlagsRaised(last);
    ClearFpFlags();
  }

  Extended Pairs(int part) {
    MathCallCounts& calls = own_[part].calls;
    const RunState& s = *s_;
    Workspace& w = *w_;
    FastPairLaw& law = *law_;
    Extended last = 0;
    for (;;) {
      const int row = next_.fetch_add(1, std::memory_order_relaxed);
      if (row >= rows_) break;
      const int from = rowFrom_[row], to = rowTo_[row];
      for (int i = from; i < to; ++i) {
        const PairTask& t = w.tasks[i];
        const Extended d[3] = {s.X[t.hi] - s.X[t.lo], s.Y[t.hi] - s.Y[t.lo], s.Z[t.hi] - s.Z[t.lo]};
        const Extended r = sqrtl(d[2] * d[2] + (d[1] * d[1] + d[0] * d[0]));
        PairPowers powers;
        PairScalars factors[2];
        for (int set = 0; set < 2; ++set)
          if (t.sets & (1 << set)) law.Compute(calls, factors[set], r, set, powers, 1);
        // PairSign * ScopeSign: the scope sign for an even distance, else -1.
        const Extended sigma = ((t.hi - t.lo) % 2 == 0) ? scope_ : -1;
        for (int c = 0; c < 3; ++c) {
          const int setLo = law.SetOf(t.lo, c, n_), setHi = law.SetOf(t.hi, c, n_);
          const Extended towardLo = law.Term({setLo, factors[setLo]}, sigma, d[c], r);
          w.terms[t.hi][t.lo][c] = towardLo;
          if (t.lo >= first_)
            w.back[t.hi][t.lo][c] =
                setLo == setHi ? -towardLo : law.Term({setHi, factors[setHi]}, sigma, -d[c], r);
          last = towardLo;
        }
        if (potential_) w.share[t.hi][t.lo] = scales_->Of(t.lo, t.hi, [&](int set) { return factors[set].pot; });
      }
      owner_[w.tasks[from].hi] = part;
      pairsDone_.fetch_add(to - from, std::memory_order_release);
    }
    return last;
  }

  // Each thread sums the slots whose row it computed: half of what a sum
  // reads is then in its own cache, and the other threads do not take away
  // the lines it writes again in the next step.
  Extended Sums(int part) {
    const RunState& s = *s_;
    Workspace& w = *w_;
    Extended last = 0;
    for (int i = 0; i < slots_; ++i) {
      const int k = w.summed[i];
      if (owner_[k] != part) continue;
      for (int c = 0; c < 3; ++c) {
        Extended S = 0;
        for (int j = 1; j <= n_; ++j) {
          if (s.Present[j] == 0 || j == k) continue;
          const Extended t = j < k ? w.terms[k][j][c] : w.back[j][k][c];
          S = subtracts_ ? S - t : S + t;
        }
        w.force[k][c] = S;
        last = S;
      }
    }
    return last;
  }

  const std::function<void(int)> part_;
  const RunState* s_ = nullptr;
  FastPairLaw* law_ = nullptr;
  Workspace* w_ = nullptr;
  int threads_ = 1;
  int first_ = 1;
  int n_ = 0;
  bool potential_ = false;
  std::optional<ShareScales> scales_;
  bool subtracts_ = false;
  int scope_ = -1;
  int count_ = 0;
  int rows_ = 0;
  int rowFrom_[kRows] = {}, rowTo_[kRows] = {};
  int slots_ = 0;
  int owner_[kRows] = {};  // which thread sums each slot
  // Each counter that the threads move on its own cache line, away from
  // what they only read.
  alignas(64) std::atomic<int> next_{0};
  alignas(64) std::atomic<int> pairsDone_{0};
  alignas(64) std::atomic<bool> cancelled_{false};
  // What each thread writes as it goes: every exp and ln counts a call, so
  // two threads' counters on one cache line would pass it to and fro.
  struct alignas(64) Own {
    bool raised = false;
    MathCallCounts calls;
  };
  Own own_[kMaxStepThreads];
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
    potential_ = SumShares(s, [&](int lo, int hi) {
      return scales.Of(lo, hi, [&](int set) { return w.potOf[hi][lo][set]; });
    });
  }
}

std::optional<Extended> FastForceEngine::TakePotential() { return std::exchange(potential_, std::nullopt); }

}  // namespace qd
