#include "core/dynamics/energy.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "core/dynamics/force.h"
#include "core/dynamics/pair_laws.h"

namespace qd {

Extended KineticEnergy(const RunState& s) {
  Extended sum = 0;
  const int n = LastSlot(s);
  for (int k = 1; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    sum += s.UX[k] * s.UX[k] + s.UY[k] * s.UY[k] + s.UZ[k] * s.UZ[k];
  }
  return sum / 2;
}

Extended PairPotential(Formula f, const ForceOptions& o, Extended sigma, Extended r, Extended A, Extended B,
                       Extended C, Extended D, Extended F) {
  return WithLaw(f, [&](auto law) {
    using L = decltype(law);
    return L::Scaled(sigma, A, L::PotFactor(o, r, B, C, D, F));
  });
}

namespace {

// One pair's share from its potential factors for the first kind's
// parameters and the second's: a pair of two slots of one kind takes that
// kind's potential, a pair of two kinds the mean of both. Only the factors
// of the pair's own kinds are read.
Extended PairShare(Formula f, Extended sigma, bool loSecond, bool hiSecond, Extended A1, Extended A2,
                   Extended pot1, Extended pot2) {
  return WithLaw(f, [&](auto law) {
    using L = decltype(law);
    if (loSecond == hiSecond) return loSecond ? L::Scaled(sigma, A2, pot2) : L::Scaled(sigma, A1, pot1);
    return (L::Scaled(sigma, A1, pot1) + L::Scaled(sigma, A2, pot2)) / 2;
  });
}

// One pair's share of the potential energy, as the sum adds it.
Extended PairTerm(const RunState& s, const ForceOptions& o, int n, int split, int k, int j) {
  const Extended dx = s.X[k] - s.X[j], dy = s.Y[k] - s.Y[j], dz = s.Z[k] - s.Z[j];
  const Extended r = sqrtl(dz * dz + (dy * dy + dx * dx));
  const Extended sigma = PairSign(k, j, o.sign) * ScopeSign(o.sign);
  const bool kSecond = k > n - split, jSecond = j > n - split;
  return WithLaw(o.formula, [&](auto law) {
    using L = decltype(law);
    const Extended pot1 = kSecond && jSecond ? 0 : L::PotFactor(o, r, s.B1, s.C1, s.D1, s.F1);
    const Extended pot2 = kSecond || jSecond ? L::PotFactor(o, r, s.B2, s.C2, s.D2, s.F2) : 0;
    return PairShare(o.formula, sigma, kSecond, jSecond, s.A1, s.A2, pot1, pot2);
  });
}

}  // namespace

Extended PotentialEnergy(const RunState& s, const ForceOptions& o, WorkerPool* pool, int threads) {
  const int n = LastSlot(s);
  const int split = KindSplitFor(o.formula, 0, o.secondKindCount);
  Extended sum = 0;
  if (threads <= 1 || pool == nullptr) {
    for (int k = 1; k <= n; ++k) {
      if (s.Present[k] == 0) continue;
      for (int j = k + 1; j <= n; ++j) {
        if (s.Present[j] == 0) continue;
        sum += PairTerm(s, o, n, split, k, j);
      }
    }
    return sum;
  }
  // The terms row by row on the threads, then added in the one-thread order,
  // so that the sum is the same to the last bit. Row k starts at first[k].
  std::vector<int> first(std::size_t(n) + 2, 0);
  for (int k = 1; k <= n; ++k) first[std::size_t(k) + 1] = first[std::size_t(k)] + (n - k);
  std::vector<Extended> terms(static_cast<std::size_t>(first[std::size_t(n) + 1]));
  std::atomic<int> nextRow{1};
  pool->Run(std::min(threads, kMaxStepThreads), [&](int) {
    for (int k = nextRow.fetch_add(1); k <= n; k = nextRow.fetch_add(1)) {
      if (s.Present[k] == 0) continue;
      for (int j = k + 1; j <= n; ++j)
        if (s.Present[j] != 0)
          terms[std::size_t(first[std::size_t(k)] + (j - k - 1))] = PairTerm(s, o, n, split, k, j);
    }
  });
  for (int k = 1; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    for (int j = k + 1; j <= n; ++j)
      if (s.Present[j] != 0) sum += terms[std::size_t(first[std::size_t(k)] + (j - k - 1))];
  }
  return sum;
}

}  // namespace qd
