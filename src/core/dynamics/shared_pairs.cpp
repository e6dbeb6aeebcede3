#include "core/dynamics/shared_pairs.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "core/common/fp_guard.h"

namespace qd::fast {

namespace {

// Busy-waiting rounds before a waiting thread starts to yield.
constexpr int kPauseRounds = 2000;

inline void CpuPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

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

}  // namespace

void SharedPairs::List(const RunState& s, const FastPairLaw& law, int first, Workspace& w) {
  Layout now{};  // every member is set below
  for (int k = 0; k <= kSlotCount; ++k) now.present[k] = s.Present[k] != 0;
  now.n = LastSlot(s);
  now.first = first;
  for (int c = 0; c < 3; ++c) now.split[c] = law.split[c];
  now.equalSets = law.equalSets;
  if (listed_ && *listed_ == now && listedIn_ == &w) return;
  const int count = ListPairTasks(s, law, first, w, setsUsed_);
  // The pairs go out a row at a time, the pairs of one higher slot, the
  // longest rows first so that the last ones taken are short.
  rows_ = 0;
  for (int i = count; i > 0; ++rows_) {
    rowTo_[rows_] = i;
    const int hi = w.tasks[i - 1].hi;
    while (i > 0 && w.tasks[i - 1].hi == hi) --i;
    rowFrom_[rows_] = i;
  }
  // A slot with no row (no lower partner) is summed by the calling thread,
  // which always takes part.
  slots_ = 0;
  for (int k = first; k <= now.n; ++k) {
    if (s.Present[k] == 0) continue;
    w.summed[slots_++] = static_cast<std::uint8_t>(k);
    int rows = 0;
    while (rows < rows_ && w.tasks[rowFrom_[rows]].hi >= k) ++rows;
    need_[k] = rows;
  }
  listed_ = now;
  listedIn_ = &w;
}

bool SharedPairs::Set(const RunState& s, FastPairLaw& law, int first, int threads, Workspace& w,
                      MathCallCounts& calls, bool potential) {
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
  ++job_;
  next_.store(0);
  cancelled_.store(false);
  for (int i = 0; i < threads; ++i) {
    own_[i].raised = false;
    own_[i].calls = {};
  }
  List(s, law, first, w);
  for (int i = 0; i < slots_; ++i) owner_[w.summed[i]] = 0;
  law.PrepareReciprocals();
  return !FpFlagsRaised(law.PrepareInverses(calls, setsUsed_));
}

bool SharedPairs::Collect(MathCallCounts& calls) const {
  bool any = false;
  for (int i = 0; i < threads_; ++i) {
    any = any || own_[i].raised;
    calls += own_[i].calls;
  }
  return !any;
}

void SharedPairs::Part(int part) {
  ClearFpFlags();
  Extended last = Pairs(part);
  if (!cancelled_.load()) last = last + Sums(part);
  own_[part].raised = FpFlagsRaised(last);
  ClearFpFlags();
}

Extended SharedPairs::Pairs(int part) {
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
      if (potential_)
        w.share[t.hi][t.lo] = scales_->Of(t.lo, t.hi, [&](int set) { return factors[set].pot; });
    }
    owner_[w.tasks[from].hi] = part;
    rowDone_[row].store(job_, std::memory_order_release);
  }
  return last;
}

// Each thread sums the slots whose row it computed: half of what a sum
// reads is then in its own cache, and the other threads do not take away
// the lines it writes again in the next step. The highest slots first: they
// read only the rows handed out first, so a thread starts on them while
// the others finish their last rows.
Extended SharedPairs::Sums(int part) {
  const RunState& s = *s_;
  Workspace& w = *w_;
  Extended last = 0;
  int ready = 0;  // the rows, from the first handed out, known to be done
  for (int i = slots_ - 1; i >= 0; --i) {
    const int k = w.summed[i];
    // A row's owner is written before the row is marked done: only a done
    // row's owner is read.
    for (int round = 0; ready < need_[k]; ++round) {
      if (rowDone_[ready].load(std::memory_order_acquire) == job_) {
        ++ready;
        round = 0;
        continue;
      }
      if (cancelled_.load()) return last;
      // A row taken is finished by the thread that took it without waiting
      // for anyone, so this wait always ends. On a machine with no core to
      // spare the thread being waited for needs this one's.
      if (round < kPauseRounds)
        CpuPause();
      else
        std::this_thread::yield();
    }
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

}  // namespace qd::fast
