#include "core/dynamics/step.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "core/common/errors.h"
#include "core/common/fp_guard.h"
#include "core/dynamics/force.h"

namespace qd {

namespace {

constexpr Extended kCoolerFactor = 0.999L;
constexpr Extended kHeaterFactor = 1.001L;
static_assert(kCoolerFactor * 0x1p64L == static_cast<Extended>(0xFFBE76C8B4395810ULL),
              "0.999 must be 3FFE FFBE76C8B4395810");
static_assert(kHeaterFactor * 0x1p63L == static_cast<Extended>(0x8020C49BA5E353F8ULL),
              "1.001 must be 3FFF 8020C49BA5E353F8");

Extended VelocityFactor(const StepOptions& o) {
  return (o.cooler ? kCoolerFactor : 1) * (o.heater ? kHeaterFactor : 1);
}

Extended WallHalfWidth(Walls w) {
  switch (w) {
    case Walls::Thermos3X3:
      return 1.5L;
    case Walls::Thermos20X20:
      return 10;
    case Walls::ThermosNXN:
      return 100;
    case Walls::None:
      break;
  }
  return 0;
}

// Velocity, then position, of one component of slot k, each checked before
// it is stored so that a fault never leaves an infinity or NaN behind.
void Integrate(Extended force, Extended factor, Extended dt, Extended& u, Extended& x) {
  const Extended a = force * dt;
  const Extended un = factor * u + a;
  CheckFpResult(un);
  u = un;
  const Extended xn = x + u * dt;
  CheckFpResult(xn);
  x = xn;
}

// The walls compare every slot's working position, present or not. An
// ordered comparison with a NaN is an invalid operation; it is detected
// before the commit, so a fault there leaves the committed state at the
// previous step like every other fault of the step.
void CheckWallInputs(const SimState& s, const StepOptions& o) {
  if (o.walls == Walls::None) return;
  const int n = LastSlot(s);
  for (int k = 1; k <= n; ++k) {
    if (std::isnan(s.XNew[k]) || std::isnan(s.YNew[k]) || std::isnan(s.ZNew[k])) {
      ClearFpFlags();
      throw FpFault(kInvalidOpText);
    }
  }
}

void CommitAndApplyWalls(SimState& s, const StepOptions& o, int first, std::int32_t stepNumber) {
  CheckWallInputs(s, o);
  const int n = LastSlot(s);
  for (int k = first; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    s.X[k] = s.XNew[k];
    s.UX[k] = s.UXNew[k];
    s.Y[k] = s.YNew[k];
    s.UY[k] = s.UYNew[k];
    s.Z[k] = s.ZNew[k];
    s.UZ[k] = s.UZNew[k];
    s.ViewX[k] = s.XNew[k];
    s.ViewY[k] = s.YNew[k];
    s.ViewZ[k] = s.ZNew[k];
  }
  if (o.walls != Walls::None) {
    const Extended l = WallHalfWidth(o.walls);
    for (int k = 1; k <= n; ++k) {
      if (s.XNew[k] > l) s.UXNew[k] = -s.UXNew[k];
      if (s.XNew[k] < -l) s.UXNew[k] = -s.UXNew[k];
      if (s.YNew[k] > 0) s.UYNew[k] = 0;
      if (s.YNew[k] < 0) s.UYNew[k] = 0;
      if (s.ZNew[k] > l) s.UZNew[k] = -s.UZNew[k];
      if (s.ZNew[k] < -l) s.UZNew[k] = -s.UZNew[k];
    }
  }
  s.StepCount = stepNumber;
}

}  // namespace

void AdvanceStepLiteral(SimState& s, const StepOptions& o, std::int32_t stepNumber) {
  ClearFpFlags();
  const int first = o.blockade ? 5 : 1;
  const int n = LastSlot(s);
  const Extended factor = VelocityFactor(o);
  for (int k = first; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    Integrate(ForceX(s, k, o.force), factor, s.Dt, s.UXNew[k], s.XNew[k]);
    Integrate(ForceY(s, k, o.force), factor, s.Dt, s.UYNew[k], s.YNew[k]);
    Integrate(ForceZ(s, k, o.force), factor, s.Dt, s.UZNew[k], s.ZNew[k]);
  }
  CommitAndApplyWalls(s, o, first, stepNumber);
}

// ---------------------------------------------------------------------------
// The fast step. It computes the very same operations as the literal one, in
// the same order for every sum, but computes each of them once:
//  - a pair's geometry and scalar factor serve all three components;
//  - the pair (j, k) reuses the term of (k, j), negated, when both directions
//    use the same parameter values (r and the factor are bitwise symmetric,
//    and rounding to nearest is symmetric in sign);
//  - ln u and u^20 are shared between H and Q, and PowerOf(0.1 q, -1) is
//    computed once per step.
// Everything is computed lazily, at the first slot and component whose
// literal force would compute it, so a fault surfaces at the same slot and
// component as in the literal step. The flags are read once per component
// (reading them costs as much as the arithmetic of a pair); when one is
// set, the literal pass of that component is run to report the first fault.
// ---------------------------------------------------------------------------
namespace {

struct ParamSet {
  Extended A, B, q[4];  // q for B, C, D, F
};

// A pair's factors for one parameter set. E: f0 = r^-2, f1 = exp(B/r).
// PE: f0 = r^-2, f1 = r^(B/r), f2 = 1 - ln r. PES, DUDI, EPESminus: f0 is
// the whole bracket that multiplies sigma*dc/r*A.
struct Scalars {
  int set = -1;
  Extended f0 = 0, f1 = 0, f2 = 0;
};

constexpr int kRows = kSlotCount + 1;

struct Workspace {
  std::uint32_t gen = 0;
  // Set-independent powers of r, per pair [lo][hi]: r^-2 and ln r.
  std::uint32_t powGen[kRows][kRows] = {};
  Extended rm2[kRows][kRows] = {};
  Extended lnr[kRows][kRows] = {};
  // reverse[c][k][j], j < k: the term slot j computed towards k, negated,
  // waiting to be added into the force on k.
  Extended reverse[3][kRows][kRows] = {};
  // The current slot's view of each partner.
  Extended dx[kRows], dy[kRows], dz[kRows], r[kRows];
  Scalars scalars[kRows];
  bool geometry[kRows];

  void NextGeneration() {
    if (++gen == 0) {
      for (auto& row : powGen)
        for (auto& g : row) g = 0;
      gen = 1;
    }
  }
};

Workspace& TheWorkspace() {
  thread_local std::unique_ptr<Workspace> w = std::make_unique<Workspace>();
  return *w;
}

bool SameBits(Extended a, Extended b) {
  // The ten bytes of the x87 format; the rest is padding.
  return std::memcmp(&a, &b, 10) == 0;
}

class FastForces {
 public:
  FastForces(const SimState& s, const ForceOptions& o, int first, Workspace& w)
      : s_(s), o_(o), w_(w), n_(LastSlot(s)), first_(first) {
    equalSets_ = SameBits(s.A1, s.A2) && SameBits(s.B1, s.B2) && SameBits(s.C1, s.C2) &&
                 SameBits(s.D1, s.D2) && SameBits(s.F1, s.F2);
    for (int c = 0; c < 3; ++c) split_[c] = KindSplitFor(o.formula, c, o.secondKindCount);
  }

  // The x, y and z forces on slot k, each handed to `use` as soon as it is
  // complete (so that the caller integrates and checks it before the next
  // component is computed).
  template <class Use>
  void ForSlot(int k, Use&& use) {
    PrepareReciprocals();
    for (int j = 1; j <= n_; ++j) w_.scalars[j].set = -1;
    for (int c = 0; c < 3; ++c) {
      const Extended S = Component(k, c);
      if (FpFlagsRaised(S)) {
        // Rare: find the first fault pair by pair, as the literal pass does
        // (the same operations raise the same flags). It throws.
        const Extended again = c == 0 ? ForceX(s_, k, o_) : c == 1 ? ForceY(s_, k, o_) : ForceZ(s_, k, o_);
        CheckFpFlags(again);
      }
      CheckFpResult(S);
      use(c, S);
    }
  }

 private:
  int SetOf(int j, int c) const { return equalSets_ ? 0 : (j > n_ - split_[c] ? 1 : 0); }

  // The force on k from j (j < k) was already computed as the negated force
  // on j from k when j was handled and both directions use the same values.
  bool Reused(int k, int j, int c) const { return j >= first_ && SetOf(j, c) == SetOf(k, c); }

  void PrepareReciprocals() {
    if (reciprocalsReady_) return;
    // All eight, whatever the formula, as every literal evaluation does.
    const Extended* p1[4] = {&s_.B1, &s_.C1, &s_.D1, &s_.F1};
    const Extended* p2[4] = {&s_.B2, &s_.C2, &s_.D2, &s_.F2};
    sets_[0].A = s_.A1;
    sets_[0].B = s_.B1;
    sets_[1].A = s_.A2;
    sets_[1].B = s_.B2;
    for (int i = 0; i < 4; ++i) sets_[0].q[i] = kReciprocalNumerator / *p1[i];
    for (int i = 0; i < 4; ++i) sets_[1].q[i] = kReciprocalNumerator / *p2[i];
    CheckFpFlags(sets_[1].q[3]);
    reciprocalsReady_ = true;
  }

  // PowerOf(0.1 * q, -1), once per step and only once some pair needs it.
  Extended InvTenthQ(int set, int i) {
    if (!invReady_[set][i]) {
      inv_[set][i] = CountedExp(-1 * CountedLn(kTenth * sets_[set].q[i]));
      invReady_[set][i] = true;
    }
    return inv_[set][i];
  }

  // r^-2 (and ln r) of the pair, whatever the parameter set.
  void Powers(int k, int j, bool wantLn, Extended& rm2, Extended& lnr) {
    const int lo = k < j ? k : j, hi = k < j ? j : k;
    if (w_.powGen[lo][hi] != w_.gen) {
      w_.lnr[lo][hi] = CountedLn(w_.r[j]);
      w_.rm2[lo][hi] = CountedExp(-2 * w_.lnr[lo][hi]);
      w_.powGen[lo][hi] = w_.gen;
    }
    rm2 = w_.rm2[lo][hi];
    if (wantLn) lnr = w_.lnr[lo][hi];
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

  void ComputeScalars(Scalars& e, int k, int j, int set) {
    const ParamSet& p = sets_[set];
    const Extended r = w_.r[j];
    Extended rm2 = 0, lnr = 0;
    e.set = set;
    switch (o_.formula) {
      case Formula::E:
        Powers(k, j, false, rm2, lnr);
        e.f0 = rm2;
        e.f1 = CountedExp(p.B / r);
        break;
      case Formula::PE:
        Powers(k, j, true, rm2, lnr);
        e.f0 = rm2;
        e.f1 = CountedExp(p.B / r * lnr);
        e.f2 = 1 - lnr;
        break;
      case Formula::PES: {
        if (o_.dropB && o_.dropCDF) {
          e.f0 = (Extended(0) + 0) + 0;
          break;
        }
        Powers(k, j, false, rm2, lnr);
        Extended h, q;
        Extended t2 = 0, t3 = 0;
        if (!o_.dropB) {
          HQ(set, 0, r, rm2, h, q);
          t2 = h * (-q);
        }
        if (!o_.dropCDF) {
          Extended g[3];
          for (int i = 1; i <= 3; ++i) {
            HQ(set, i, r, rm2, h, q);
            g[i - 1] = h * (-q);
          }
          t3 = (g[0] + g[1]) + g[2];
        }
        e.f0 = (Extended(0) + t2) + t3;
        break;
      }
      case Formula::DUDI:
      case Formula::EPESminus: {
        Powers(k, j, false, rm2, lnr);
        const Extended e0 = CountedExp(-p.B / r) * (rm2 * p.B);
        Extended h[3], q[3];
        for (int i = 1; i <= 3; ++i) HQ(set, i, r, rm2, h[i - 1], q[i - 1]);
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
        return e.f1 * (sigma * dc / r * e.f0 * p.A * p.B);
      case Formula::PE:
        return e.f2 * (e.f1 * (sigma * dc / r * e.f0 * p.A * p.B));
      case Formula::PES:
      case Formula::DUDI:
      case Formula::EPESminus:
        break;
    }
    return sigma * dc / r * p.A * e.f0;
  }

  Extended Component(int k, int c) {
    const Extended* d = c == 0 ? w_.dx : c == 1 ? w_.dy : w_.dz;
    if (c == 0)
      for (int j = 1; j <= n_; ++j) w_.geometry[j] = false;
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
        if (e.set != set) ComputeScalars(e, k, j, set);
        // PairSign(k, j) * ScopeSign(): the scope sign for an even distance, else -1.
        const Extended sigma = ((k - j) % 2 == 0) ? scope : -1;
        t = Term(e, sigma, d[j], w_.r[j]);
        if (j > k && set == setK && k >= first_) w_.reverse[c][j][k] = -t;
      }
      S = subtract ? S - t : S + t;
    }
    return S;
  }

  const SimState& s_;
  const ForceOptions& o_;
  Workspace& w_;
  const int n_;
  const int first_;
  int split_[3] = {30, 30, 30};
  bool equalSets_ = false;
  bool reciprocalsReady_ = false;
  ParamSet sets_[2]{};
  bool invReady_[2][4] = {};
  Extended inv_[2][4] = {};
};

}  // namespace

void AdvanceStep(SimState& s, const StepOptions& o, std::int32_t stepNumber) {
  ClearFpFlags();
  Workspace& w = TheWorkspace();
  w.NextGeneration();
  const int first = o.blockade ? 5 : 1;
  FastForces forces(s, o.force, first, w);
  const int n = LastSlot(s);
  const Extended factor = VelocityFactor(o);
  for (int k = first; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    forces.ForSlot(k, [&](int c, Extended f) {
      if (c == 0)
        Integrate(f, factor, s.Dt, s.UXNew[k], s.XNew[k]);
      else if (c == 1)
        Integrate(f, factor, s.Dt, s.UYNew[k], s.YNew[k]);
      else
        Integrate(f, factor, s.Dt, s.UZNew[k], s.ZNew[k]);
    });
  }
  CommitAndApplyWalls(s, o, first, stepNumber);
}

void ZeroVelocities(SimState& s) {
  for (int k = 1; k <= kSlotCount; ++k)
    s.UX[k] = s.UY[k] = s.UZ[k] = s.UXNew[k] = s.UYNew[k] = s.UZNew[k] = 0;
}

}  // namespace qd
