#pragma once
// Each pair's share of the potential energy, from the factors the fast
// step's force law computes anyway: how the shares are scaled and summed in
// the order PotentialEnergy adds them. Private to the fast step.
#include "core/common/extended.h"
#include "core/dynamics/fast_pair_law.h"
#include "core/dynamics/pair_laws.h"
#include "core/state/sim_state.h"

namespace qd::fast {

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

}  // namespace qd::fast
