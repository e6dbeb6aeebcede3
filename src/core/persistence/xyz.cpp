#include "core/persistence/xyz.h"

#include <locale.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "core/common/errors.h"
#include "core/dynamics/step.h"
#include "core/history/run_history.h"
#include "core/persistence/file_io.h"

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
    const int shift = -(k + e);          // x 10^k = p 2^-shift
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
    out += " Lattice=\"" + side + " 0 0 0 " + side + " 0 0 0 " + side + "\" Origin=\"" + corner + ' ' + corner +
           ' ' + corner + "\" pbc=\"F F F\"";
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

namespace {

[[noreturn]] void Damaged(std::size_t line, const std::string& what) {
  throw FileError("XYZ line " + std::to_string(line) + ": " + what);
}

// The text split into lines; a final line break ends the last line rather
// than starting an empty one. A carriage return before the break is dropped.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

bool Trimmed(std::string_view line) { return Fields(line).empty(); }

// A whole number of at most nine digits; none when the text is anything else.
std::optional<long> WholeNumber(std::string_view t) {
  if (t.empty() || t.size() > 9 || t.find_first_not_of("0123456789") != std::string_view::npos) return {};
  long v = 0;
  std::from_chars(t.data(), t.data() + t.size(), v);
  return v;
}

// A finite number in the C locale's notation, correctly rounded to Extended.
// Subnormal values are numbers too, though strtold calls them out of range.
Extended Number(std::string_view t, std::size_t line) {
  static const locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
  const std::string text(t);
  const bool digits = text.find_first_of("0123456789") != std::string::npos;
  const bool letters = std::any_of(text.begin(), text.end(), [](char ch) {
    return std::isalpha(static_cast<unsigned char>(ch)) && ch != 'e' && ch != 'E';
  });
  char* end = nullptr;
  errno = 0;
  const Extended v = strtold_l(text.c_str(), &end, c);
  const bool whole = digits && !letters && end == text.c_str() + text.size();
  if (!whole) Damaged(line, "'" + text + "' is not a number");
  if (!std::isfinite(v)) Damaged(line, "'" + text + "' is too large");
  if (errno == ERANGE && v == 0) {
    const std::string mantissa = text.substr(0, text.find_first_of("eE"));
    if (mantissa.find_first_of("123456789") != std::string::npos) Damaged(line, "'" + text + "' is too small");
  }
  return v;
}

// The key=value pairs of a comment line; a value may be quoted and then
// hold blanks. A key without a value is a flag and maps to "T".
std::vector<std::pair<std::string, std::string>> KeyValues(std::string_view line, std::size_t lineNo) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t i = 0;
  auto token = [&]() {
    std::string t;
    if (i < line.size() && (line[i] == '"' || line[i] == '\'')) {
      const char quote = line[i++];
      while (i < line.size() && line[i] != quote) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        t += line[i++];
      }
      if (i >= line.size()) Damaged(lineNo, "a quotation mark is not closed");
      ++i;
      return t;
    }
    while (i < line.size() && !IsBlank(line[i]) && line[i] != '=') t += line[i++];
    return t;
  };
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string key = token();
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i < line.size() && line[i] == '=') {
      ++i;
      while (i < line.size() && IsBlank(line[i])) ++i;
      pairs.emplace_back(std::move(key), token());
    } else {
      pairs.emplace_back(std::move(key), "T");
    }
  }
  return pairs;
}

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Where the columns the program reads begin on a particle line; -1: absent.
struct Columns {
  int count = 0;  // fields per line
  int pos = -1, velocity = -1, slot = -1;
};

Columns ReadProperties(const std::string& properties, std::size_t lineNo) {
  Columns c;
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = properties.find(':', start);
    parts.push_back(properties.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() % 3 != 0) Damaged(lineNo, "Properties needs name:type:columns triples, not '" + properties + "'");
  for (std::size_t p = 0; p < parts.size(); p += 3) {
    const std::string& name = parts[p];
    const std::string& type = parts[p + 1];
    const auto n = WholeNumber(parts[p + 2]);
    if (!n || *n < 1 || *n > 1000 || type.size() != 1 || std::string_view("SRIL").find(type[0]) == std::string::npos)
      Damaged(lineNo, "Properties has a column '" + name + ":" + type + ":" + parts[p + 2] + "' it cannot read");
    auto want = [&](int& at, int columns, char kind) {
      if (at >= 0) Damaged(lineNo, "Properties names '" + name + "' twice");
      if (*n != columns || type[0] != kind)
        Damaged(lineNo, "Properties needs " + name + ":" + kind + ":" + std::to_string(columns));
      at = c.count;
    };
    if (name == "pos")
      want(c.pos, 3, 'R');
    else if (name == "velo" || name == "velocities")
      want(c.velocity, 3, 'R');
    else if (name == "momenta" && c.velocity < 0)
      // Every particle of the program has unit mass: momenta are velocities.
      want(c.velocity, 3, 'R');
    else if (name == "slot")
      want(c.slot, 1, 'I');
    c.count += static_cast<int>(*n);
  }
  if (c.pos < 0) Damaged(lineNo, "Properties has no pos:R:3 column");
  return c;
}

}  // namespace

std::vector<XyzFrame> ParseXyz(const std::string& text) {
  const std::vector<std::string_view> lines = Lines(text);
  std::vector<XyzFrame> frames;
  std::size_t i = 0;
  while (i < lines.size()) {
    if (Trimmed(lines[i])) {  // blank lines between or after frames
      ++i;
      continue;
    }
    const std::size_t countLine = i + 1;
    const std::vector<std::string_view> head = Fields(lines[i]);
    const auto n = head.size() == 1 ? WholeNumber(head[0]) : std::nullopt;
    if (!n)
      Damaged(countLine, "a frame must start with its number of particles, not '" + std::string(lines[i]) + "'");
    if (*n > kSlotCount)
      Damaged(countLine, std::to_string(*n) + " particles; at most " + std::to_string(kSlotCount) + " fit");
    if (i + 1 >= lines.size()) Damaged(countLine, "the frame ends before its comment line");
    Columns c;
    c.count = 4;
    c.pos = 1;
    XyzFrame f;
    for (const auto& [key, value] : KeyValues(lines[i + 1], i + 2)) {
      if (SameWord(key, "Properties")) c = ReadProperties(value, i + 2);
      if (key == "step")
        if (const auto step = WholeNumber(value)) f.step = static_cast<std::int32_t>(*step);
    }
    f.hasVelocities = c.velocity >= 0;
    f.count = static_cast<int>(*n);
    const std::size_t first = i + 2;
    if (first + f.count > lines.size())
      Damaged(lines.size(), "the file ends after " + std::to_string(lines.size() - first) + " of the " +
                                std::to_string(f.count) + " particles the frame announces");
    for (int p = 0; p < f.count; ++p) {
      const std::size_t lineNo = first + p + 1;
      const std::vector<std::string_view> fields = Fields(lines[first + p]);
      if (fields.size() != static_cast<std::size_t>(c.count))
        Damaged(lineNo, std::to_string(fields.size()) + " columns where the frame has " + std::to_string(c.count));
      int slot = p + 1;
      if (c.slot >= 0) {
        const auto k = WholeNumber(fields[c.slot]);
        if (!k || *k < 1 || *k > kSlotCount)
          Damaged(lineNo, "slot '" + std::string(fields[c.slot]) + "' is not one of 1 to 60");
        slot = static_cast<int>(*k);
        if (f.Present[slot] != 0) Damaged(lineNo, "slot " + std::to_string(slot) + " comes twice");
      }
      f.Present[slot] = 1;
      f.X[slot] = Number(fields[c.pos], lineNo);
      f.Y[slot] = Number(fields[c.pos + 1], lineNo);
      f.Z[slot] = Number(fields[c.pos + 2], lineNo);
      if (c.velocity >= 0) {
        f.UX[slot] = Number(fields[c.velocity], lineNo);
        f.UY[slot] = Number(fields[c.velocity + 1], lineNo);
        f.UZ[slot] = Number(fields[c.velocity + 2], lineNo);
      }
    }
    frames.push_back(f);
    i = first + f.count;
  }
  return frames;
}

XyzFrame ReadXyzFrame(const std::string& path, std::optional<long> index) {
  // A pipe or a device in the file's place is refused before it is read.
  if (const int e = RegularFileAccessError(path)) ThrowFileError(e);
  const std::vector<std::uint8_t> data = ReadWholeFile(path);
  if (std::find(data.begin(), data.end(), std::uint8_t{0}) != data.end())
    throw FileError("not an XYZ file (it holds binary data)");
  std::vector<XyzFrame> frames = ParseXyz(std::string(data.begin(), data.end()));
  if (frames.empty()) throw FileError("no XYZ frame in the file");
  const long size = static_cast<long>(frames.size());
  const long at = !index ? size - 1 : *index < 0 ? size + *index : *index;
  if (at < 0 || at >= size)
    throw FileError("no frame " + std::to_string(*index) + " (the file has " + std::to_string(size) +
                    (size == 1 ? " frame, 0)" : " frames, 0 to " + std::to_string(size - 1) + ")"));
  return std::move(frames[static_cast<std::size_t>(at)]);
}

void InstallXyzFrame(RunState& s, const XyzFrame& f) {
  s.X = f.X;
  s.Y = f.Y;
  s.Z = f.Z;
  s.UX = f.UX;
  s.UY = f.UY;
  s.UZ = f.UZ;
  s.Present = f.Present;
  InstallAll(s);
}

bool IsXyzName(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  const std::string_view ext = std::string_view(path).substr(dot);
  return SameWord(ext, ".xyz") || SameWord(ext, ".extxyz");
}

}  // namespace qd
