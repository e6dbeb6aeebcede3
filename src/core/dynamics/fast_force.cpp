#include "core/dynamics/fast_force.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "core/common/fp_guard.h"
#include "core/dynamics/force.h"
#include "core/dynamics/worker_pool.h"

namespace qd {

ParallelThreshold gMinParallelParticles;
thread_local FastStepCounts gFastStepCounts;

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
// On several threads the scalar factors of every pair the serial pass will
// need (they depend only on the committed positions) are computed first,
// shared among the threads; the serial pass then runs as above, reading them
// instead of computing them, so every sum still adds the same terms in the
// same order. Each thread reads its own flags; when any is set, the shared
// work is thrown away and the step is computed on one thread, which reports
// the fault exactly.
// ---------------------------------------------------------------------------
namespace {

struct ParamSet {
  Extended A, B, q[4];  // q for B, C, D, F
};

// A pair's factors for one parameter set. E: f0 = r^-2, f1 = exp(B/r).
// PE: f0 = r^-2, f1 = r^(B/r), f2 = 1 - ln r. PES, DUDI, EPESminus: f0 is
// the whole bracket that multiplies sigma*dc/r*A.
struct PairScalars {
  Extended f0 = 0, f1 = 0, f2 = 0;
};

struct Scalars {
  int set = -1;
  PairScalars v;
};

// r^-2 and ln r of a pair, whatever the parameter set; valid when gen is
// the current generation.
struct PairPowers {
  std::uint32_t gen = 0;
  Extended rm2 = 0, lnr = 0;
};

constexpr int kRows = kSlotCount + 1;

// One pair whose factors the serial pass will need, for the sets in `sets`
// (bit 0: first set, bit 1: second set).
struct PairTask {
  std::uint8_t lo, hi, sets;
};

struct Workspace {
  std::uint32_t gen = 0;
  PairPowers powers[kRows][kRows] = {};
  // reverse[c][k][j], j < k: the term slot j computed towards k, negated,
  // waiting to be added into the force on k.
  Extended reverse[3][kRows][kRows] = {};
  // The current slot's view of each partner.
  Extended dx[kRows], dy[kRows], dz[kRows], r[kRows];
  Scalars scalars[kRows];
  bool geometry[kRows];
  // The factors computed by the threads, [lo][hi][set].
  PairScalars shared[kRows][kRows][2];
  PairTask tasks[kRows * kRows / 2];

  void NextGeneration() {
    if (++gen == 0) {
      for (auto& row : powers)
        for (auto& p : row) p.gen = 0;
      gen = 1;
    }
  }
};

bool SameBits(Extended a, Extended b) {
  // The ten bytes of the x87 format; the rest is padding.
  return std::memcmp(&a, &b, 10) == 0;
}

// The parameter sets of one step and the factors of the law computed from
// them: everything that does not depend on which slot is being handled.
class PairLaw {
 public:
  PairLaw(const SimState& s, const ForceOptions& o) : s_(s), o_(o) {
    equalSets = SameBits(s.A1, s.A2) && SameBits(s.B1, s.B2) && SameBits(s.C1, s.C2) &&
                SameBits(s.D1, s.D2) && SameBits(s.F1, s.F2);
    for (int c = 0; c < 3; ++c) split[c] = KindSplitFor(o.formula, c, o.secondKindCount);
  }

  int SetOf(int j, int c, int n) const { return equalSets ? 0 : (j > n - split[c] ? 1 : 0); }

  // All eight reciprocals, whatever the formula, as every literal evaluation
  // does. Returns the last one, for the flag check.
  Extended PrepareReciprocals() {
    const Extended* p1[4] = {&s_.B1, &s_.C1, &s_.D1, &s_.F1};
    const Extended* p2[4] = {&s_.B2, &s_.C2, &s_.D2, &s_.F2};
    sets_[0].A = s_.A1;
    sets_[0].B = s_.B1;
    sets_[1].A = s_.A2;
    sets_[1].B = s_.B2;
    for (int i = 0; i < 4; ++i) sets_[0].q[i] = kReciprocalNumerator / *p1[i];
    for (int i = 0; i < 4; ++i) sets_[1].q[i] = kReciprocalNumerator / *p2[i];
    return sets_[1].q[3];
  }

  // Computes now every PowerOf(0.1 q, -1) that pairs of the sets in `sets`
  // will ask for, so that threads only read them. Returns the last one.
  Extended PrepareInverses(int sets) {
    int from = 4, to = 0;
    if (o_.formula == Formula::DUDI || o_.formula == Formula::EPESminus) {
      from = 1;
      to = 3;
    } else if (o_.formula == Formula::PES && !(o_.dropB && o_.dropCDF)) {
      from = o_.dropB ? 1 : 0;
      to = o_.dropCDF ? 0 : 3;
    }
    Extended last = 0;
    for (int set = 0; set < 2; ++set)
      if (sets & (1 << set))
        for (int i = from; i <= to; ++i) last = InvTenthQ(set, i);
    return last;
  }

  void Compute(PairScalars& e, Extended r, int set, PairPowers& pw, std::uint32_t gen) {
    const ParamSet& p = sets_[set];
    switch (o_.formula) {
      case Formula::E:
        Powers(pw, gen, r);
        e.f0 = pw.rm2;
        e.f1 = CountedExp(p.B / r);
        break;
      case Formula::PE:
        Powers(pw, gen, r);
        e.f0 = pw.rm2;
        e.f1 = CountedExp(p.B / r * pw.lnr);
        e.f2 = 1 - pw.lnr;
        break;
      case Formula::PES: {
        if (o_.dropB && o_.dropCDF) {
          e.f0 = (Extended(0) + 0) + 0;
          break;
        }
        Powers(pw, gen, r);
        Extended h, q;
        Extended t2 = 0, t3 = 0;
        if (!o_.dropB) {
          HQ(set, 0, r, pw.rm2, h, q);
          t2 = h * (-q);
        }
        if (!o_.dropCDF) {
          Extended g[3];
          for (int i = 1; i <= 3; ++i) {
            HQ(set, i, r, pw.rm2, h, q);
            g[i - 1] = h * (-q);
          }
          t3 = (g[0] + g[1]) + g[2];
        }
        e.f0 = (Extended(0) + t2) + t3;
        break;
      }
      case Formula::DUDI:
      case Formula::EPESminus: {
        Powers(pw, gen, r);
        const Extended e0 = CountedExp(-p.B / r) * (pw.rm2 * p.B);
        Extended h[3], q[3];
        for (int i = 1; i <= 3; ++i) HQ(set, i, r, pw.rm2, h[i - 1], q[i - 1]);
        const Extended w = o_.formula == Formula::DUDI
                               ? (h[0] * (q[0] * 10) - h[1] * (q[1] * 2)) - h[2] * q[2]
                               : (h[0] * (q[0] * 10) + h[1] * (q[1] * 2)) + h[2] * q[2];
        e.f0 = e0 + w;
        break;
      }
    }
  }

  // The pair's contribution as the literal sum adds it (for PE, the amount
  // it subtracts).
  Extended Term(const Scalars& e, Extended sigma, Extended dc, Extended r) const {
    const ParamSet& p = sets_[e.set];
    switch (o_.formula) {
      case Formula::E:
        return e.v.f1 * (sigma * dc / r * e.v.f0 * p.A * p.B);
      case Formula::PE:
        return e.v.f2 * (e.v.f1 * (sigma * dc / r * e.v.f0 * p.A * p.B));
      case Formula::PES:
      case Formula::DUDI:
      case Formula::EPESminus:
        break;
    }
    return sigma * dc / r * p.A * e.v.f0;
  }

  bool equalSets = false;
  int split[3] = {30, 30, 30};

 private:
  // PowerOf(0.1 * q, -1), once per step and only once some pair needs it.
  Extended InvTenthQ(int set, int i) {
    if (!invReady_[set][i]) {
      inv_[set][i] = CountedExp(-1 * CountedLn(kTenth * sets_[set].q[i]));
      invReady_[set][i] = true;
    }
    return inv_[set][i];
  }

  static void Powers(PairPowers& pw, std::uint32_t gen, Extended r) {
    if (pw.gen == gen) return;
    pw.lnr = CountedLn(r);
    pw.rm2 = CountedExp(-2 * pw.lnr);
    pw.gen = gen;
  }

  // H(q) and Q(q) together, sharing ln u and u^20.
  void HQ(int set, int i, Extended r, Extended rm2, Extended& h, Extended& q) {
    const Extended qq = sets_[set].q[i];
    const Extended u = qq * r;
    const Extended lnu = CountedLn(u);
    const Extended u20 = CountedExp(20 * lnu);
    const Extended e = CountedExp(-1 * CountedLn(kTenth * qq * r)) * (2.5L - u20);
    h = CountedExp(e * lnu);
    q = (1 - lnu) * ((2.5L - u20) * (rm2 * InvTenthQ(set, i))) - lnu * (CountedExp(18 * lnu) * (qq * 200));
  }

  const SimState& s_;
  const ForceOptions& o_;
  ParamSet sets_[2]{};
  bool invReady_[2][4] = {};
  Extended inv_[2][4] = {};
};

// The serial pass: the forces slot by slot and component by component.
class FastForces {
 public:
  // With `shared`, the factors of every pair it needs are in w.shared and
  // `law` has its reciprocals; otherwise it computes them as it goes.
  FastForces(const SimState& s, const ForceOptions& o, int first, PairLaw& law, Workspace& w, bool shared)
      : s_(s), o_(o), law_(law), w_(w), n_(LastSlot(s)), first_(first), shared_(shared) {
    reciprocalsReady_ = shared;
  }

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
      const Extended again = c == 0 ? ForceX(s_, k, o_) : c == 1 ? ForceY(s_, k, o_) : ForceZ(s_, k, o_);
      CheckFpFlags(again);
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
    if (shared_)
      e.v = w_.shared[lo][hi][set];
    else
      law_.Compute(e.v, w_.r[j], set, w_.powers[lo][hi], w_.gen);
  }

  Extended Component(int k, int c) {
    const Extended* d = c == 0 ? w_.dx : c == 1 ? w_.dy : w_.dz;
    const bool subtract = o_.formula == Formula::PE;
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
      S = subtract ? S - t : S + t;
    }
    return S;
  }

  const SimState& s_;
  const ForceOptions& o_;
  PairLaw& law_;
  Workspace& w_;
  const int n_;
  const int first_;
  const bool shared_;
  bool reciprocalsReady_ = false;
};

// Lists the pairs, and for each the sets, whose factors the serial pass will
// ask for: exactly those the literal step computes, less the reused ones.
// A pair of two slots below `first` (held under blockade) is never needed.
int ListPairTasks(const SimState& s, const PairLaw& law, int first, Workspace& w, int& setsUsed) {
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

// Pairs taken by a thread at a time: few enough to balance the load, enough
// that the threads rarely meet on the shared counter.
constexpr int kTaskChunk = 8;

// The factors of every needed pair, computed by several threads that take
// pairs from a common supply, into w.shared.
class SharedPairs {
 public:
  SharedPairs() : part_([this](int part) { Part(part); }) {}
  SharedPairs(const SharedPairs&) = delete;
  SharedPairs& operator=(const SharedPairs&) = delete;

  // Lists the pairs and computes the law's values that all threads read.
  // False when that raised a flag: nothing is to be computed then.
  bool Set(const SimState& s, PairLaw& law, int first, int threads, Workspace& w) {
    s_ = &s;
    law_ = &law;
    w_ = &w;
    threads_ = threads;
    next_.store(0);
    for (int i = 0; i < threads; ++i) {
      raised_[i] = false;
      calls_[i] = {};
    }
    int setsUsed = 0;
    count_ = ListPairTasks(s, law, first, w, setsUsed);
    law.PrepareReciprocals();
    return !FpFlagsRaised(law.PrepareInverses(setsUsed));
  }

  const std::function<void(int)>& Job() const { return part_; }
  int Threads() const { return threads_; }

  // The pairs not yet taken are left alone.
  void Cancel() { next_.store(count_); }

  // After the job: true when no thread raised a flag. The threads' calls of
  // exp and ln are counted on the calling thread, where the step was asked for.
  bool Collect() const {
    bool any = false;
    for (int i = 0; i < threads_; ++i) {
      any = any || raised_[i];
      gForceMathCalls.exp += calls_[i].exp;
      gForceMathCalls.ln += calls_[i].ln;
    }
    return !any;
  }

 private:
  void Part(int part) {
    const SimState& s = *s_;
    Workspace& w = *w_;
    const MathCallCounts before = gForceMathCalls;
    ClearFpFlags();
    Extended last = 0;
    for (;;) {
      const int from = next_.fetch_add(kTaskChunk, std::memory_order_relaxed);
      if (from >= count_) break;
      const int to = std::min(from + kTaskChunk, count_);
      for (int i = from; i < to; ++i) {
        const PairTask& t = w.tasks[i];
        const Extended dx = s.X[t.hi] - s.X[t.lo];
        const Extended dy = s.Y[t.hi] - s.Y[t.lo];
        const Extended dz = s.Z[t.hi] - s.Z[t.lo];
        const Extended r = sqrtl(dz * dz + (dy * dy + dx * dx));
        PairPowers powers;
        for (int set = 0; set < 2; ++set)
          if (t.sets & (1 << set)) {
            PairScalars& e = w.shared[t.lo][t.hi][set];
            law_->Compute(e, r, set, powers, 1);
            last = e.f0;
          }
      }
    }
    raised_[part] = FpFlagsRaised(last);
    ClearFpFlags();
    calls_[part].exp = gForceMathCalls.exp - before.exp;
    calls_[part].ln = gForceMathCalls.ln - before.ln;
    gForceMathCalls = before;
  }

  const std::function<void(int)> part_;
  const SimState* s_ = nullptr;
  PairLaw* law_ = nullptr;
  Workspace* w_ = nullptr;
  int threads_ = 1;
  int count_ = 0;
  std::atomic<int> next_{0};
  bool raised_[kMaxStepThreads] = {};
  MathCallCounts calls_[kMaxStepThreads] = {};
};

// A step's shared factors started ahead (PrepareFastForces): the values of
// the committed state and the options they are computed from, copied, since
// the caller may change its own state while the workers read.
struct PreparedStep {
  bool pending = false;
  SimState input{};
  ForceOptions options;
  int first = 1;
  std::optional<PairLaw> law;
};

// What the thread's own steps keep between calls.
struct StepMemory {
  Workspace w;
  SharedPairs job;  // the prepared one's, or the step's own
  PreparedStep prepared;

  ~StepMemory() { Settle(false); }

  // Ends a prepared job: the calling thread joins in (or, when it is not to
  // be used, takes nothing more). True when it was prepared and used.
  bool Settle(bool use) {
    if (!prepared.pending) return false;
    prepared.pending = false;
    if (!use) job.Cancel();
    // The calling thread's share clears the flags it raises; the caller's
    // own flags are left as they were.
    fexcept_t callers;
    fegetexceptflag(&callers, FE_ALL_EXCEPT);
    FinishParts(job.Job());
    fesetexceptflag(&callers, FE_ALL_EXCEPT);
    return use;
  }
};

StepMemory& TheStepMemory() {
  thread_local std::unique_ptr<StepMemory> m = std::make_unique<StepMemory>();
  return *m;
}

// Whether the factors computed from `p` are those of a step from s under o,
// starting at `first`: every value they are computed from is the same, bit
// for bit.
bool SameInput(const PreparedStep& p, const SimState& s, const ForceOptions& o, int first) {
  const ForceOptions& q = p.options;
  if (p.first != first || q.formula != o.formula || q.dropB != o.dropB || q.dropCDF != o.dropCDF ||
      q.secondKindCount != o.secondKindCount || q.sign != o.sign)
    return false;
  const SimState& in = p.input;
  if (in.TaonCount != s.TaonCount) return false;
  for (int i = 1; i < 11; ++i)
    if (!SameBits(in.*kParameterBlock[i], s.*kParameterBlock[i])) return false;
  for (int k = 0; k <= kSlotCount; ++k)
    if (in.Present[k] != s.Present[k] || !SameBits(in.X[k], s.X[k]) || !SameBits(in.Y[k], s.Y[k]) ||
        !SameBits(in.Z[k], s.Z[k]))
      return false;
  return true;
}

// Whether a step shares its pair factors among threads at all.
bool SharesPairs(const SimState& s, const ForceOptions& o, int threads) {
  if (threads <= 1) return false;
  // PES without either bracket has no dear term to share.
  if (o.formula == Formula::PES && o.dropB && o.dropCDF) return false;
  const bool costly = o.formula != Formula::E && o.formula != Formula::PE;
  const int threshold = costly ? gMinParallelParticles.costlyLaws : gMinParallelParticles.cheapLaws;
  const int n = LastSlot(s);
  int present = 0;
  for (int k = 1; k <= n; ++k) present += s.Present[k] != 0;
  return present >= threshold;
}

}  // namespace

void PrepareFastForces(const SimState& s, const ForceOptions& o, int first, int threads) {
  StepMemory& m = TheStepMemory();
  m.Settle(false);
  threads = std::min(threads, kMaxStepThreads);
  if (!SharesPairs(s, o, threads)) return;
  PreparedStep& p = m.prepared;
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
  const bool ready = m.job.Set(p.input, *p.law, first, threads, m.w);
  fesetexceptflag(&callers, FE_ALL_EXCEPT);
  p.pending = ready && StartParts(threads, m.job.Job());
}

void DiscardPreparedForces() { TheStepMemory().Settle(false); }

void ComputeFastForces(const SimState& s, const ForceOptions& o, int first, int threads, ForceSink sink,
                       void* context) {
  StepMemory& m = TheStepMemory();
  Workspace& w = m.w;
  const bool prepared = m.Settle(m.prepared.pending && SameInput(m.prepared, s, o, first));
  w.NextGeneration();
  const int n = LastSlot(s);

  PairLaw law(s, o);
  PairLaw* sharedLaw = &law;
  bool shared = false;
  if (prepared || SharesPairs(s, o, std::min(threads, kMaxStepThreads))) {
    ++gFastStepCounts.parallel;
    if (prepared) {
      ++gFastStepCounts.prepared;
      // Computed from the same values, bit for bit, as `law` would be.
      sharedLaw = &*m.prepared.law;
      shared = m.job.Collect();
    } else {
      shared = m.job.Set(s, law, first, std::min(threads, kMaxStepThreads), w);
      if (shared) {
        RunParts(m.job.Threads(), m.job.Job());
        shared = m.job.Collect();
      }
    }
    if (!shared) {
      // Each thread's share of the work is thrown away; one thread computes
      // the step again and reports the first fault exactly.
      ++gFastStepCounts.reruns;
      ClearFpFlags();
    }
  }
  PairLaw serialLaw(s, o);
  FastForces forces(s, o, first, shared ? *sharedLaw : serialLaw, w, shared);
  for (int k = first; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    for (int c = 0; c < 3; ++c) sink(context, k, c, forces.Force(k, c));
  }
}

}  // namespace qd
