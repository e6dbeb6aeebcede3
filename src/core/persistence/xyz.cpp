#include "core/persistence/xyz.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/dynamics/step.h"
#include "core/history/run_history.h"

namespace qd {

int SlotKind(const RunState& s, int secondKindCount, int slot) {
  return slot > s.TaonCount - secondKindCount ? 2 : 1;
}

const char* KindSpecies(int kind) { return kind == 2 ? "S" : "Cl"; }

namespace {

using u128 = unsigned __int128;

constexpr u128 kTen20 = static_cast<u128>(100000000000000000000.0L);
constexpr u128 kTen21 = kTen20 * 10;

// The 21 significant digits of x = m 2^e, correctly rounded (to even at a
// tie), when x 10^k with k = 20 - d falls in 64 + 63 bits: the digits as
// a whole number D in [10^20, 10^21) and d, the decimal exponent of x's
// first digit. False outside that range.
bool ShortDigits(std::uint64_t m, int e, int& d, u128& digits) {
  for (int tries = 0; tries < 3; ++tries) {
    const int k = 20 - d;
    if (k < 0 || k > 27) return false;
    std::uint64_t five = 1;
    for (int i = 0; i < k; ++i) five *= 5;
    const u128 p = u128{m} * five;  // < 2^64 5^27 < 2^127
    const int shift = -(k + e);     // x 10^k = p 2^-shift
    if (shift <= 0 || shift >= 127) return false;
    u128 q = p >> shift;
    const u128 rest = p & ((u128{1} << shift) - 1), half = u128{1} << (shift - 1);
    if (q >= kTen21) {
      ++d;
      continue;
    }
    if (rest > half || (rest == half && (q & 1) != 0)) ++q;
    if (q < kTen20) {
      --d;
      continue;
    }
    if (q == kTen21) {  // 99...9.5 rounded up to the next power of ten
      q = kTen20;
      ++d;
    }
    digits = q;
    return true;
  }
  return false;
}

// "00" to "99", one after the other.
constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

}  // namespace

char* LosslessChars(char* first, Extended v) {
  // The common magnitudes by integer arithmetic, several times faster than
  // the general conversion, with the very same text; the rest by to_chars.
  // The significand and the biased exponent straight from the 80 bits.
  std::uint64_t m;
  std::uint16_t top;
  std::memcpy(&m, &v, 8);
  std::memcpy(&top, reinterpret_cast<const char*>(&v) + 8, 2);
  const int biased = top & 0x7fff;
  if (biased != 0 && biased != 0x7fff && m >> 63 != 0) {
    const int exp2 = biased - 16383;  // |v| = m 2^(exp2 - 63), m in [2^63, 2^64)
    // floor(log10 |v|), or one less: 78913 / 2^18 is log10(2) from below.
    int d = (exp2 * 78913) >> 18;
    u128 digits = 0;
    if (ShortDigits(m, exp2 - 63, d, digits)) {
      // One division of the wide number, the rest in 64 bits.
      char text[21];
      // 10^19 = 2^19 5^19 and D < 2^70, so D / 10^19 = (D / 2^19) / 5^19
      // in 64 bits.
      constexpr std::uint64_t kFive19 = 19073486328125ULL, kTen19 = 10000000000000000000ULL;
      std::uint64_t high = static_cast<std::uint64_t>(digits >> 19) / kFive19;
      std::uint64_t low = static_cast<std::uint64_t>(digits - u128{high} * kTen19);
      // Two digits at a time, in two independent runs: the low ten digits
      // and the nine above them.
      constexpr std::uint64_t kTen10 = 10000000000ULL;
      std::uint64_t ten = low % kTen10;
      auto nine = static_cast<std::uint32_t>(low / kTen10);
      for (int i = 19; i >= 11; i -= 2, ten /= 100) std::memcpy(text + i, kPairs + 2 * (ten % 100), 2);
      for (int i = 9; i >= 3; i -= 2, nine /= 100) std::memcpy(text + i, kPairs + 2 * (nine % 100), 2);
      text[2] = static_cast<char>('0' + nine);
      std::memcpy(text, kPairs + 2 * high, 2);
      int n = 21;
      while (n > 1 && text[n - 1] == '0') --n;
      char* out = first;
      if (v < 0) *out++ = '-';
      if (d < -4) {  // as printf's %g: scientific below 1e-4
        *out++ = text[0];
        if (n > 1) {
          *out++ = '.';
          out = std::copy(text + 1, text + n, out);
        }
        *out++ = 'e';
        *out++ = '-';
        if (-d < 10) *out++ = '0';
        return std::to_chars(out, out + 4, -d).ptr;
      }
      if (d < 0) {
        *out++ = '0';
        *out++ = '.';
        out = std::fill_n(out, -d - 1, '0');
        return std::copy(text, text + n, out);
      }
      out = std::copy(text, text + d + 1, out);
      if (n > d + 1) {
        *out++ = '.';
        out = std::copy(text + d + 1, text + n, out);
      }
      return out;
    }
  }
  return std::to_chars(first, first + 48, v, std::chars_format::general, 21).ptr;
}

namespace {

void AppendNumber(std::string& out, Extended v) {
  char buf[48];
  out.append(buf, LosslessChars(buf, v));
}

void AppendInt(std::string& out, long v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

}  // namespace

namespace {

// The lines of the present slots from `first` to `last`. A line is written
// into a buffer of its own: a frame is mostly numbers, and the string's
// bookkeeping per piece would cost as much as writing them.
void AppendLines(std::string& out, const RunState& s, const StepOptions& o, int first, int last) {
  char line[2 + 6 * 49 + 2 * 12 + 1];
  for (int k = first; k <= last; ++k) {
    if (s.Present[k] == 0) continue;
    const int kind = SlotKind(s, o.force.secondKindCount, k);
    const char* species = KindSpecies(kind);
    char* at = std::copy(species, species + std::strlen(species), line);
    for (const Extended v : {s.X[k], s.Y[k], s.Z[k], s.UX[k], s.UY[k], s.UZ[k]}) {
      *at++ = ' ';
      at = LosslessChars(at, v);
    }
    *at++ = ' ';
    at = std::to_chars(at, at + 11, k).ptr;
    *at++ = ' ';
    at = std::to_chars(at, at + 11, kind).ptr;
    *at++ = '\n';
    out.append(line, at);
  }
}

}  // namespace

void AppendXyzFrame(std::string& out, const RunState& s, const StepOptions& o, Extended kinetic,
                    Extended potential, WorkerPool* pool, int threads) {
  const int last = LastSlot(s);
  int count = 0;
  for (int k = 1; k <= last; ++k) count += s.Present[k] != 0;
  AppendInt(out, count);
  out += "\nProperties=species:S:1:pos:R:3:velo:R:3:slot:I:1:kind:I:1 step=";
  AppendInt(out, s.StepCount);
  out += " kinetic_energy=";
  AppendNumber(out, kinetic);
  out += " potential_energy=";
  AppendNumber(out, potential);
  out += " total_energy=";
  AppendNumber(out, kinetic + potential);
  if (const Extended l = WallHalfWidth(o.walls); l > 0) {
    // The walls stand at -l and l in x and z; y, which they hold still,
    // gets the same width so that viewers draw a cube around the cloud.
    std::string side, corner;
    AppendNumber(side, 2 * l);
    AppendNumber(corner, -l);
    out += " Lattice=\"" + side + " 0 0 0 " + side + " 0 0 0 " + side + "\" Origin=\"" + corner + ' ' +
           corner + ' ' + corner + "\" pbc=\"F F F\"";
  }
  out += '\n';
  // The particles' lines, a run of slots at a time, each run on whichever
  // of the threads takes it and put in place in slot order.
  constexpr int kRun = 8;
  const int runs = (last + kRun - 1) / kRun;
  std::string text[(kSlotCount + kRun - 1) / kRun];
  std::atomic<int> next{0};
  auto part = [&](int) {
    for (int r = next.fetch_add(1); r < runs; r = next.fetch_add(1))
      AppendLines(text[r], s, o, r * kRun + 1, std::min(last, (r + 1) * kRun));
  };
  if (pool != nullptr && threads > 1)
    pool->Run(std::min(threads, kMaxStepThreads), part);
  else
    part(0);
  for (int r = 0; r < runs; ++r) out += text[r];
}

std::string HistoryXyz(const RunHistory& h, Walls walls) {
  std::string text;
  for (std::size_t i = 0; i < h.Size(); ++i) {
    const Snapshot& n = h.At(i);
    StepOptions o;
    o.force = n.Force;
    o.walls = walls;
    AppendXyzFrame(text, n.State, o, n.Kinetic, n.Potential);
  }
  return text;
}

}  // namespace qd
