#pragma once
// The fast step's shared pieces: the workspace its passes keep from one slot
// to the next, and a pair law with the values of one step that do not depend
// on which slot is handled. Private to the fast step.
#include <cstdint>
#include <cstring>

#include "core/common/extended.h"
#include "core/dynamics/force.h"
#include "core/dynamics/options.h"
#include "core/dynamics/pair_laws.h"
#include "core/state/sim_state.h"

namespace qd::fast {

struct Scalars {
  int set = -1;
  PairScalars v;
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
  PairTask tasks[kRows * kRows / 2];
  // What the threads compute for the pair (lo, hi): terms[hi][lo][c], what
  // lo adds to component c of the force on hi, and back[hi][lo][c], what hi
  // adds to the force on lo. Both indexed by the higher slot first, so that
  // a thread's run of pairs writes memory of its own and not lines that the
  // other threads' pairs write too.
  Extended terms[kRows][kRows][3];
  Extended back[kRows][kRows][3];
  // Each pair's share of the potential energy, [hi][lo], when the threads
  // computed it, and the potential factors the serial pass found for it,
  // [hi][lo][set].
  Extended share[kRows][kRows];
  Extended potOf[kRows][kRows][2];
  // The sums of a step whose every term was computed by the threads.
  Extended force[kRows][3];
  std::uint8_t summed[kRows];  // the slots whose forces are summed, ascending

  void NextGeneration() {
    if (++gen == 0) {
      for (auto& row : powers)
        for (auto& p : row) p.gen = 0;
      gen = 1;
    }
  }
};

inline bool SameBits(Extended a, Extended b) {
  // The ten bytes of the x87 format; the rest is padding.
  return std::memcmp(&a, &b, 10) == 0;
}

// The parameter sets of one step and the factors of the law computed from
// them: everything that does not depend on which slot is being handled. The
// law's own arithmetic is in pair_laws.h; this holds what it shares.
class FastPairLaw {
 public:
  FastPairLaw(const RunState& s, const ForceOptions& o) : s_(s), o_(o) {
    equalSets = SameBits(s.A1, s.A2) && SameBits(s.B1, s.B2) && SameBits(s.C1, s.C2) &&
                SameBits(s.D1, s.D2) && SameBits(s.F1, s.F2);
    for (int c = 0; c < 3; ++c) split[c] = KindSplitFor(o.formula, c, o.secondKindCount);
  }

  int SetOf(int j, int c, int n) const { return equalSets ? 0 : (j > n - split[c] ? 1 : 0); }
  const ForceOptions& Options() const { return o_; }
  const RunState& State() const { return s_; }

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
  Extended PrepareInverses(MathCallCounts& m, int sets) {
    const auto [from, to] = WithLaw(o_.formula, [&](auto law) { return decltype(law)::Inverses(o_); });
    Extended last = 0;
    for (int set = 0; set < 2; ++set)
      if (sets & (1 << set))
        for (int i = from; i <= to; ++i) last = InvTenthQ(m, set, i);
    return last;
  }

  void Compute(MathCallCounts& m, PairScalars& e, Extended r, int set, PairPowers& pw, std::uint32_t gen) {
    WithLaw(o_.formula,
            [&](auto law) { decltype(law)::Factors(*this, m, sets_[set], set, r, e, pw, gen); });
  }

  // The pair's contribution as the literal sum adds it (for PE, the amount
  // it subtracts).
  Extended Term(const Scalars& e, Extended sigma, Extended dc, Extended r) const {
    return WithLaw(o_.formula,
                   [&](auto law) { return decltype(law)::Term(e.v, sets_[e.set], sigma, dc, r); });
  }

  static void Powers(MathCallCounts& m, PairPowers& pw, std::uint32_t gen, Extended r) {
    if (pw.gen == gen) return;
    pw.lnr = m.Ln(r);
    pw.rm2 = m.Exp(-2 * pw.lnr);
    pw.gen = gen;
  }

  // H(q) and Q(q) together, sharing ln u and u^20.
  void HQ(MathCallCounts& m, int set, int i, Extended r, Extended rm2, Extended& h, Extended& q) {
    const Extended qq = sets_[set].q[i];
    const Extended u = qq * r;
    const Extended lnu = m.Ln(u);
    const Extended u20 = m.Exp(20 * lnu);
    const Extended e = m.Exp(-1 * m.Ln(kTenth * qq * r)) * (2.5L - u20);
    h = m.Exp(e * lnu);
    q = (1 - lnu) * ((2.5L - u20) * (rm2 * InvTenthQ(m, set, i))) - lnu * (m.Exp(18 * lnu) * (qq * 200));
  }

  bool equalSets = false;
  int split[3] = {30, 30, 30};

 private:
  // PowerOf(0.1 * q, -1), once per step and only once some pair needs it.
  Extended InvTenthQ(MathCallCounts& m, int set, int i) {
    if (!invReady_[set][i]) {
      inv_[set][i] = m.Exp(-1 * m.Ln(kTenth * sets_[set].q[i]));
      invReady_[set][i] = true;
    }
    return inv_[set][i];
  }

  const RunState& s_;
  const ForceOptions& o_;
  ParamSet sets_[2]{};
  bool invReady_[2][4] = {};
  Extended inv_[2][4] = {};
};

}  // namespace qd::fast
