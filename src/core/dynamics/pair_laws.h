#pragma once
// The five pair laws, each written once: what a pair adds to a force in the
// literal step, the factors the fast step computes once per pair and the
// term it builds from them, which parameters of which slots a component
// uses, and the pair potential. Every other file reaches a law through
// WithLaw, the one place that chooses by formula.
//
// The expressions are grouped exactly as the older program groups them, and
// every power goes through exp(b ln a): the fast step's factors are the very
// operations of the literal law, in the same order, so that both give the
// same bits.
#include <cmath>
#include <cstdint>
#include <utility>

#include "core/common/extended.h"
#include "core/dynamics/options.h"

namespace qd {

// The two Extended constants of the force law, the nearest Extended values
// to the decimals 1.029 and 0.1.
inline constexpr Extended kReciprocalNumerator = 1.029L;
inline constexpr Extended kTenth = 0.1L;
static_assert(kReciprocalNumerator * 0x1p63L == static_cast<Extended>(0x83B645A1CAC08312ULL),
              "1.029 must be 3FFF 83B645A1CAC08312");
static_assert(kTenth * 0x1p67L == static_cast<Extended>(0xCCCCCCCCCCCCCCCDULL),
              "0.1 must be 3FFB CCCCCCCCCCCCCCCD");

// The exp and ln evaluations of the force law, counted: a machine-independent
// measure of how much work the fast step shares. Each thread counts into its
// own, and the step adds them up.
struct MathCallCounts {
  std::uint64_t exp = 0;
  std::uint64_t ln = 0;

  Extended Exp(Extended x) {
    ++exp;
    return expl(x);
  }
  Extended Ln(Extended x) {
    ++ln;
    return logl(x);
  }
  MathCallCounts& operator+=(const MathCallCounts& o) {
    exp += o.exp;
    ln += o.ln;
    return *this;
  }
};

// a^b as exp(b * ln a); every power of the force law goes through it.
inline Extended PowerOf(MathCallCounts& m, Extended a, Extended b) { return m.Exp(b * m.Ln(a)); }

// One kind's parameters with their reciprocals q = 1.029 / P, as the
// literal law uses them.
struct KindSet {
  Extended A, B, C, D, F;
  Extended qB, qC, qD, qF;
};

// The fast step's view of one kind's parameters: q for B, C, D, F.
struct ParamSet {
  Extended A, B, q[4];
};

// A pair's factors for one parameter set, computed once per step. E: f0 =
// r^-2, f1 = exp(B/r). PE: f0 = r^-2, f1 = r^(B/r), f2 = 1 - ln r. PES,
// DUDI, EPESminus: f0 is the whole bracket that multiplies sigma*dc/r*A.
// pot: the pair potential without its sign and A, from the same values.
struct PairScalars {
  Extended f0 = 0, f1 = 0, f2 = 0, pot = 0;
};

// r^-2 and ln r of a pair, whatever the parameter set; valid when gen is the
// current generation.
struct PairPowers {
  std::uint32_t gen = 0;
  Extended rm2 = 0, lnr = 0;
};

namespace laws {

// The poly-exponential bump H(q) and its derivative factor Q(q), as the
// literal law writes them.
inline Extended H(MathCallCounts& m, Extended q, Extended r) {
  const Extended u = q * r;
  return PowerOf(m, u, PowerOf(m, kTenth * q * r, -1) * (2.5L - PowerOf(m, u, 20)));
}

inline Extended Q(MathCallCounts& m, Extended q, Extended r) {
  const Extended u = q * r;
  return (1 - m.Ln(u)) * ((2.5L - PowerOf(m, u, 20)) * (PowerOf(m, r, -2) * PowerOf(m, kTenth * q, -1))) -
         m.Ln(u) * (PowerOf(m, u, 18) * (q * 200));
}

inline Extended G(MathCallCounts& m, Extended q, Extended r) { return H(m, q, r) * (-Q(m, q, r)); }

// H of parameter P for the potential: the force law's own H, so that the
// step that computes the forces has the potential's values too.
inline Extended Bump(Extended P, Extended r) {
  MathCallCounts m;
  return H(m, kReciprocalNumerator / P, r);
}

// The fast step's helpers a law's factors are built with (FastPairLaw in
// fast_force.cpp): Powers fills r^-2 and ln r once per pair, HQ gives H and
// Q of parameter i (0 B, 1 C, 2 D, 3 F) sharing ln u and u^20.
//   void Powers(MathCallCounts&, PairPowers&, std::uint32_t gen, Extended r);
//   void HQ(MathCallCounts&, int set, int i, Extended r, Extended rm2, Extended& h, Extended& q);

struct E {
  static constexpr Formula kFormula = Formula::E;
  // The terms are subtracted from the force rather than added.
  static constexpr bool kSubtracts = false;
  // Ten times cheaper per pair than the poly-exponential laws.
  static constexpr bool kCostly = false;
  // T of the component: slot j is of the second kind when j > TaonCount - T.
  static int KindSplit(int, int secondKindCount) { return secondKindCount; }
  // The indices of the parameters whose PowerOf(0.1 q, -1) the fast step
  // needs; from > to: none.
  static std::pair<int, int> Inverses(const ForceOptions&) { return {4, 0}; }
  static bool HasDearTerms(const ForceOptions&) { return true; }

  static Extended Literal(MathCallCounts& m, const KindSet& p, const ForceOptions&, Extended sigma, Extended dc,
                          Extended r) {
    return m.Exp(p.B / r) * (sigma * dc / r * PowerOf(m, r, -2) * p.A * p.B);
  }
  template <class Fast>
  static void Factors(Fast& f, MathCallCounts& m, const ParamSet& p, int, Extended r, PairScalars& e,
                      PairPowers& pw, std::uint32_t gen) {
    f.Powers(m, pw, gen, r);
    e.f0 = pw.rm2;
    e.f1 = m.Exp(p.B / r);
    e.pot = e.f1;
  }
  static Extended Term(const PairScalars& v, const ParamSet& p, Extended sigma, Extended dc, Extended r) {
    return v.f1 * (sigma * dc / r * v.f0 * p.A * p.B);
  }
  // The pair potential is Scaled(sigma, A, PotFactor(...)); PotFactor is
  // the factors' pot for the same parameters.
  static Extended PotFactor(const ForceOptions&, Extended r, Extended B, Extended, Extended, Extended) {
    return expl(B / r);
  }
  static Extended Scaled(Extended sigma, Extended A, Extended pot) { return sigma * A * pot; }
};

struct PE {
  static constexpr Formula kFormula = Formula::PE;
  static constexpr bool kSubtracts = true;
  static constexpr bool kCostly = false;
  static int KindSplit(int component, int secondKindCount) { return component == 2 ? secondKindCount : 30; }
  static std::pair<int, int> Inverses(const ForceOptions&) { return {4, 0}; }
  static bool HasDearTerms(const ForceOptions&) { return true; }

  static Extended Literal(MathCallCounts& m, const KindSet& p, const ForceOptions&, Extended sigma, Extended dc,
                          Extended r) {
    return (1 - m.Ln(r)) * (PowerOf(m, r, p.B / r) * (sigma * dc / r * PowerOf(m, r, -2) * p.A * p.B));
  }
  template <class Fast>
  static void Factors(Fast& f, MathCallCounts& m, const ParamSet& p, int, Extended r, PairScalars& e,
                      PairPowers& pw, std::uint32_t gen) {
    f.Powers(m, pw, gen, r);
    e.f0 = pw.rm2;
    e.f1 = m.Exp(p.B / r * pw.lnr);
    e.f2 = 1 - pw.lnr;
    e.pot = e.f1;
  }
  static Extended Term(const PairScalars& v, const ParamSet& p, Extended sigma, Extended dc, Extended r) {
    return v.f2 * (v.f1 * (sigma * dc / r * v.f0 * p.A * p.B));
  }
  static Extended PotFactor(const ForceOptions&, Extended r, Extended B, Extended, Extended, Extended) {
    MathCallCounts m;
    return PowerOf(m, r, B / r);
  }
  static Extended Scaled(Extended sigma, Extended A, Extended pot) { return sigma * A * pot; }
};

// The bracket laws share how their term is built from the bracket.
struct BracketTerm {
  static constexpr bool kSubtracts = false;
  static constexpr bool kCostly = true;
  static Extended Term(const PairScalars& v, const ParamSet& p, Extended sigma, Extended dc, Extended r) {
    return sigma * dc / r * p.A * v.f0;
  }
};

struct PES : BracketTerm {
  static constexpr Formula kFormula = Formula::PES;
  static int KindSplit(int component, int secondKindCount) { return component == 2 ? secondKindCount : 30; }
  static std::pair<int, int> Inverses(const ForceOptions& o) {
    if (o.dropB && o.dropCDF) return {4, 0};
    return {o.dropB ? 1 : 0, o.dropCDF ? 0 : 3};
  }
  // Without either bracket there is nothing dear to share among threads.
  static bool HasDearTerms(const ForceOptions& o) { return !(o.dropB && o.dropCDF); }

  static Extended Literal(MathCallCounts& m, const KindSet& p, const ForceOptions& o, Extended sigma,
                          Extended dc, Extended r) {
    const Extended t1 = 0;
    const Extended t2 = o.dropB ? 0 : G(m, p.qB, r);
    const Extended t3 = o.dropCDF ? 0 : (G(m, p.qC, r) + G(m, p.qD, r)) + G(m, p.qF, r);
    return sigma * dc / r * p.A * ((t1 + t2) + t3);
  }
  template <class Fast>
  static void Factors(Fast& f, MathCallCounts& m, const ParamSet&, int set, Extended r, PairScalars& e,
                      PairPowers& pw, std::uint32_t gen) {
    const ForceOptions& o = f.Options();
    e.pot = 0;
    if (o.dropB && o.dropCDF) {
      e.f0 = (Extended(0) + 0) + 0;
      return;
    }
    f.Powers(m, pw, gen, r);
    Extended h, q;
    Extended t2 = 0, t3 = 0;
    if (!o.dropB) {
      f.HQ(m, set, 0, r, pw.rm2, h, q);
      t2 = h * (-q);
      e.pot += h;
    }
    if (!o.dropCDF) {
      Extended g[3], hs[3];
      for (int i = 1; i <= 3; ++i) {
        f.HQ(m, set, i, r, pw.rm2, h, q);
        g[i - 1] = h * (-q);
        hs[i - 1] = h;
      }
      t3 = (g[0] + g[1]) + g[2];
      e.pot += (hs[0] + hs[1]) + hs[2];
    }
    e.f0 = (Extended(0) + t2) + t3;
  }
  static Extended PotFactor(const ForceOptions& o, Extended r, Extended B, Extended C, Extended D, Extended F) {
    Extended h = 0;
    if (!o.dropB) h += Bump(B, r);
    if (!o.dropCDF) h += Bump(C, r) + Bump(D, r) + Bump(F, r);
    return h;
  }
  static Extended Scaled(Extended sigma, Extended A, Extended pot) { return sigma * A * pot; }
};

// DUDI and EPESminus: e^(-B/r) and three bumps, the D and F bumps subtracted
// (DUDI) or added (EPESminus).
template <Formula F, bool kMinus>
struct ExpBumps : BracketTerm {
  static constexpr Formula kFormula = F;
  static int KindSplit(int, int) { return 30; }
  static std::pair<int, int> Inverses(const ForceOptions&) { return {1, 3}; }
  static bool HasDearTerms(const ForceOptions&) { return true; }

  static Extended Literal(MathCallCounts& m, const KindSet& p, const ForceOptions&, Extended sigma, Extended dc,
                          Extended r) {
    const Extended e0 = m.Exp(-p.B / r) * (PowerOf(m, r, -2) * p.B);
    const Extended w =
        kMinus ? (H(m, p.qC, r) * (Q(m, p.qC, r) * 10) - H(m, p.qD, r) * (Q(m, p.qD, r) * 2)) -
                     H(m, p.qF, r) * Q(m, p.qF, r)
               : (H(m, p.qC, r) * (Q(m, p.qC, r) * 10) + H(m, p.qD, r) * (Q(m, p.qD, r) * 2)) +
                     H(m, p.qF, r) * Q(m, p.qF, r);
    return sigma * dc / r * p.A * (e0 + w);
  }
  template <class Fast>
  static void Factors(Fast& f, MathCallCounts& m, const ParamSet& p, int set, Extended r, PairScalars& e,
                      PairPowers& pw, std::uint32_t gen) {
    f.Powers(m, pw, gen, r);
    const Extended x = m.Exp(-p.B / r);
    const Extended e0 = x * (pw.rm2 * p.B);
    Extended h[3], q[3];
    for (int i = 1; i <= 3; ++i) f.HQ(m, set, i, r, pw.rm2, h[i - 1], q[i - 1]);
    const Extended w = kMinus ? (h[0] * (q[0] * 10) - h[1] * (q[1] * 2)) - h[2] * q[2]
                              : (h[0] * (q[0] * 10) + h[1] * (q[1] * 2)) + h[2] * q[2];
    e.f0 = e0 + w;
    e.pot = Bracket(x, h[0], h[1], h[2]);
  }
  static Extended PotFactor(const ForceOptions&, Extended r, Extended B, Extended C, Extended D, Extended F_) {
    return Bracket(expl(-B / r), Bump(C, r), Bump(D, r), Bump(F_, r));
  }
  static Extended Bracket(Extended x, Extended hC, Extended hD, Extended hF) {
    return kMinus ? x + 10 * hC - 2 * hD - hF : x + 10 * hC + 2 * hD + hF;
  }
  static Extended Scaled(Extended sigma, Extended A, Extended pot) { return -sigma * A * pot; }
};

using DUDI = ExpBumps<Formula::DUDI, true>;
using EPESminus = ExpBumps<Formula::EPESminus, false>;

}  // namespace laws

// Calls fn with the law of formula f (an empty object of its type) and
// returns what fn returns.
template <class Fn>
decltype(auto) WithLaw(Formula f, Fn&& fn) {
  switch (f) {
    case Formula::E:
      return fn(laws::E{});
    case Formula::PE:
      return fn(laws::PE{});
    case Formula::PES:
      return fn(laws::PES{});
    case Formula::DUDI:
      return fn(laws::DUDI{});
    case Formula::EPESminus:
      break;
  }
  return fn(laws::EPESminus{});
}

}  // namespace qd
