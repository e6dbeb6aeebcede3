// The extended XYZ reader. Files come from other people and other tools:
// every line is bounded before it is kept, the comment line is scanned for
// the few keys the program uses and nothing else is kept of it, and a
// message quotes at most a short piece of the text it refuses.
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/common/errors.h"
#include "core/persistence/atomic_masses.h"
#include "core/persistence/file_io.h"
#include "core/persistence/xyz.h"

namespace qd {
namespace {

[[noreturn]] void Damaged(std::size_t line, const std::string& what) {
  throw FileError("XYZ line " + std::to_string(line) + ": " + what);
}

// Reads lines from a text in memory or from a file, a piece at a time, so
// that a file of any length needs no more than its longest line. A final
// line break ends the last line rather than starting an empty one; a
// carriage return before a break is dropped.
class LineSource {
 public:
  explicit LineSource(std::string_view text) : data_(text) {}
  explicit LineSource(int fd) : fd_(fd) {}

  // The next line, valid until the next call; false at the end.
  bool Next(std::string_view& line) {
    for (;;) {
      const std::size_t nl = data_.find('\n', scanned_);
      if (nl != std::string_view::npos) {
        Give(line, nl, nl + 1);
        return true;
      }
      scanned_ = data_.size();
      if (data_.size() - pos_ > kXyzMaxLineBytes) Damaged(lineNo_ + 1, LongLine());
      if (!Fill()) {
        if (pos_ >= data_.size()) return false;
        Give(line, data_.size(), data_.size());
        return true;
      }
    }
  }

  // The number of the line Next gave last (1 the first).
  std::size_t LineNo() const { return lineNo_; }

 private:
  static std::string LongLine() {
    return "the line is longer than " + std::to_string(kXyzMaxLineBytes >> 20) +
           " MiB, more than any frame needs";
  }

  void Give(std::string_view& line, std::size_t end, std::size_t next) {
    line = data_.substr(pos_, end - pos_);
    pos_ = scanned_ = next;
    ++lineNo_;
    if (line.size() > kXyzMaxLineBytes) Damaged(lineNo_, LongLine());
    if (line.find('\0') != std::string_view::npos) throw FileError("not an XYZ file (it holds binary data)");
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  }

  // More of the file behind what is at hand; false at its end.
  bool Fill() {
    if (fd_ < 0) return false;
    // The lines already given go; the piece of a line not yet ended stays.
    buffer_.erase(0, pos_);
    scanned_ -= pos_;
    pos_ = 0;
    constexpr std::size_t kPiece = 1 << 16;
    const std::size_t had = buffer_.size();
    buffer_.resize(had + kPiece);
    ssize_t n;
    do n = ::read(fd_, buffer_.data() + had, kPiece);
    while (n < 0 && errno == EINTR);
    if (n < 0) ThrowFileError(errno);
    buffer_.resize(had + static_cast<std::size_t>(n));
    data_ = buffer_;
    return n > 0;
  }

  int fd_ = -1;
  std::string buffer_;     // a file's bytes at hand
  std::string_view data_;  // the text, or buffer_
  std::size_t pos_ = 0;    // where the next line starts
  std::size_t scanned_ = 0;
  std::size_t lineNo_ = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The number of blank-separated fields of a line; the first `most` of them
// go to `fields` (a line with more is wrong whatever they are).
std::size_t Fields(std::string_view line, std::size_t most, std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t i = 0, count = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i == start) continue;
    if (count++ < most) fields.push_back(line.substr(start, i - start));
  }
  return count;
}

bool Trimmed(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return IsBlank(c); });
}

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
  if (!whole) Damaged(line, XyzQuote(t) + " is not a number");
  if (!std::isfinite(v)) Damaged(line, XyzQuote(t) + " is too large");
  if (errno == ERANGE && v == 0) {
    const std::string mantissa = text.substr(0, text.find_first_of("eE"));
    if (mantissa.find_first_of("123456789") != std::string::npos)
      Damaged(line, XyzQuote(t) + " is too small");
  }
  return v;
}

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// What the program takes from a comment line. The line is scanned pair by
// pair and only these are kept: a line of a million pairs costs no more
// than the line itself.
struct Comment {
  std::optional<std::string> properties;
  std::optional<std::int32_t> step;
};

Comment ScanComment(std::string_view line, std::size_t lineNo) {
  Comment c;
  std::size_t i = 0;
  // A key or a value; a quoted one may hold blanks and backslash escapes,
  // which `decode` undoes (only the values kept need it).
  auto token = [&](bool decode, std::string* out) {
    if (i < line.size() && (line[i] == '"' || line[i] == '\'')) {
      const char quote = line[i++];
      while (i < line.size() && line[i] != quote) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        if (decode) *out += line[i];
        ++i;
      }
      if (i >= line.size()) Damaged(lineNo, "a quotation mark is not closed");
      ++i;
      return;
    }
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i]) && line[i] != '=') ++i;
    if (decode) out->assign(line.substr(start, i - start));
  };
  std::string key, value;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    key.clear();
    token(true, &key);
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size() || line[i] != '=') continue;  // a flag: nothing the program reads
    ++i;
    while (i < line.size() && IsBlank(line[i])) ++i;
    const bool properties = SameWord(key, "Properties"), step = key == "step";
    value.clear();
    token(properties || step, &value);
    if (properties) {
      if (c.properties) Damaged(lineNo, "the comment line gives Properties twice");
      c.properties = value;
    } else if (step) {
      if (const auto n = WholeNumber(value)) c.step = static_cast<std::int32_t>(*n);
    }
  }
  return c;
}

// Where the columns the program reads begin on a particle line; -1: absent.
struct Columns {
  std::int64_t count = 0;  // fields per line
  std::int64_t species = -1, pos = -1, velo = -1, momenta = -1, masses = -1, slot = -1;
};

Columns ReadProperties(std::string_view properties, std::size_t lineNo) {
  Columns c;
  std::size_t at = 0;
  // The next part up to a colon; none past the end.
  auto part = [&]() -> std::optional<std::string_view> {
    if (at > properties.size()) return std::nullopt;
    const std::size_t colon = std::min(properties.find(':', at), properties.size());
    const std::string_view p = properties.substr(at, colon - at);
    at = colon + 1;
    return p;
  };
  for (int triples = 0; at <= properties.size(); ++triples) {
    const auto name = part(), type = part(), width = part();
    if (!width) Damaged(lineNo, "Properties needs name:type:columns triples, not " + XyzQuote(properties));
    if (triples == kXyzMaxProperties)
      Damaged(lineNo, "Properties names more than " + std::to_string(kXyzMaxProperties) + " columns");
    const std::string what = std::string(*name) + ":" + std::string(*type) + ":" + std::string(*width);
    const auto n = WholeNumber(*width);
    if (!n || *n < 1 || *n > kXyzMaxColumnWidth || type->size() != 1 ||
        std::string_view("SRIL").find((*type)[0]) == std::string_view::npos)
      Damaged(lineNo, "Properties has a column " + XyzQuote(what) + " it cannot read");
    auto want = [&](std::int64_t& column, long columns, char kind) {
      if (column >= 0) Damaged(lineNo, "Properties names " + XyzQuote(*name) + " twice");
      if (*n != columns || (*type)[0] != kind)
        Damaged(lineNo,
                "Properties needs " + std::string(*name) + ":" + kind + ":" + std::to_string(columns));
      column = c.count;
    };
    if (*name == "pos")
      want(c.pos, 3, 'R');
    else if (*name == "velo" || *name == "velocities")
      want(c.velo, 3, 'R');
    else if (*name == "momenta")
      want(c.momenta, 3, 'R');
    else if (*name == "masses")
      want(c.masses, 1, 'R');
    else if (*name == "slot")
      want(c.slot, 1, 'I');
    else if (*name == "species" && *type == "S" && *n == 1 && c.species < 0)
      c.species = c.count;
    c.count += *n;  // at most 64 x 1000
  }
  if (c.pos < 0) Damaged(lineNo, "Properties has no pos:R:3 column");
  return c;
}

// Slots for particles that come without a slot column: those of the second
// kind's species in the second kind's slots (the last `second`), the rest
// in the first kind's, each in the order of the file. A kind with more
// particles than slots puts the rest in the other kind's free slots, from
// the top down.
class SlotPlacer {
 public:
  explicit SlotPlacer(int second)
      : split_(kSlotCount - std::clamp(second, 0, kSlotCount)),
        first_(1),
        secondUp_(split_ + 1),
        firstDown_(kSlotCount),
        secondDown_(split_) {}

  int Next(int kind) {
    if (kind == 2) return secondUp_ <= kSlotCount ? secondUp_++ : secondDown_--;
    return first_ <= split_ ? first_++ : firstDown_--;
  }

 private:
  int split_, first_, secondUp_, firstDown_, secondDown_;
};

// Reads the frames of a source one after the other.
class FrameReader {
 public:
  FrameReader(LineSource& in, int secondKindCount) : in_(in), second_(secondKindCount) {}

  // The next frame into `f`; false when only blank lines are left.
  bool Next(XyzFrame& f);

 private:
  LineSource& in_;
  int second_;
  std::vector<std::string_view> fields_;
};

bool FrameReader::Next(XyzFrame& f) {
  std::string_view line;
  do
    if (!in_.Next(line)) return false;
  while (Trimmed(line));  // blank lines between or after frames
  const std::size_t countLine = in_.LineNo();
  const auto n = Fields(line, 1, fields_) == 1 ? WholeNumber(fields_[0]) : std::nullopt;
  if (!n) Damaged(countLine, "a frame must start with its number of particles, not " + XyzQuote(line));
  if (*n > kSlotCount)
    Damaged(countLine, std::to_string(*n) + " particles; at most " + std::to_string(kSlotCount) + " fit");
  if (!in_.Next(line)) Damaged(countLine, "the frame ends before its comment line");
  const std::size_t commentLine = in_.LineNo();
  const Comment comment = ScanComment(line, commentLine);
  Columns c;
  c.count = 4;
  c.species = 0;
  c.pos = 1;
  if (comment.properties) c = ReadProperties(*comment.properties, commentLine);
  f = XyzFrame{};
  f.step = comment.step;
  f.count = static_cast<int>(*n);
  // Velocities as they are, or momenta divided by each particle's mass.
  const bool momenta = c.velo < 0 && c.momenta >= 0;
  f.hasVelocities = c.velo >= 0 || momenta;
  SlotPlacer placer(second_);
  for (int p = 0; p < f.count; ++p) {
    if (!in_.Next(line))
      Damaged(in_.LineNo(), "the file ends after " + std::to_string(p) + " of the " +
                                std::to_string(f.count) + " particles the frame announces");
    const std::size_t lineNo = in_.LineNo();
    const std::size_t columns = Fields(line, static_cast<std::size_t>(c.count), fields_);
    if (columns != static_cast<std::size_t>(c.count))
      Damaged(lineNo, std::to_string(columns) + " columns where the frame has " + std::to_string(c.count));
    const std::string_view species = c.species >= 0 ? fields_[c.species] : std::string_view();
    int slot;
    if (c.slot >= 0) {
      const auto k = WholeNumber(fields_[c.slot]);
      if (!k || *k < 1 || *k > kSlotCount)
        Damaged(lineNo, "slot " + XyzQuote(fields_[c.slot]) + " is not one of 1 to 60");
      slot = static_cast<int>(*k);
      if (f.Present[slot] != 0) Damaged(lineNo, "slot " + std::to_string(slot) + " comes twice");
    } else {
      slot = placer.Next(species == KindSpecies(2) ? 2 : 1);
    }
    f.Present[slot] = 1;
    f.X[slot] = Number(fields_[c.pos], lineNo);
    f.Y[slot] = Number(fields_[c.pos + 1], lineNo);
    f.Z[slot] = Number(fields_[c.pos + 2], lineNo);
    if (!f.hasVelocities) continue;
    const std::int64_t v = momenta ? c.momenta : c.velo;
    f.UX[slot] = Number(fields_[v], lineNo);
    f.UY[slot] = Number(fields_[v + 1], lineNo);
    f.UZ[slot] = Number(fields_[v + 2], lineNo);
    if (!momenta) continue;
    Extended mass;
    if (c.masses >= 0) {
      mass = Number(fields_[c.masses], lineNo);
      if (!(mass > 0)) Damaged(lineNo, "mass " + XyzQuote(fields_[c.masses]) + " is not above 0");
    } else if (const auto standard = StandardAtomicMass(species)) {
      mass = *standard;
    } else {
      Damaged(lineNo, "momenta without a masses column need element symbols; " +
                          (c.species < 0 ? std::string("the frame has no species column")
                                         : XyzQuote(species) + " is none"));
    }
    for (Extended* u : {&f.UX[slot], &f.UY[slot], &f.UZ[slot]}) {
      *u /= mass;
      if (!std::isfinite(*u)) Damaged(lineNo, "a momentum over its mass is too large");
    }
  }
  return true;
}

}  // namespace

std::string XyzQuote(std::string_view text) {
  // Printable characters as they are, control characters and bytes that are
  // not UTF-8 as '?': a message must not steer the terminal it is shown on.
  std::string out = "'";
  std::size_t i = 0;
  for (int shown = 0; i < text.size() && shown < kXyzQuoteChars; ++shown) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t len = c < 0x80             ? 1
                      : (c & 0xE0) == 0xC0 ? 2
                      : (c & 0xF0) == 0xE0 ? 3
                      : (c & 0xF8) == 0xF0 ? 4
                                           : 0;
    bool ok = len > 0 && i + len <= text.size() && !(len == 2 && c < 0xC2) && !(len == 4 && c > 0xF4);
    for (std::size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (!ok || (len == 1 && (c < 0x20 || c == 0x7F))) {
      out += '?';
      ++i;
      continue;
    }
    out.append(text.substr(i, len));
    i += len;
  }
  if (i < text.size()) out += "\u2026";
  return out + "'";
}

std::vector<XyzFrame> ParseXyz(const std::string& text, int secondKindCount) {
  LineSource in{std::string_view(text)};
  FrameReader reader(in, secondKindCount);
  std::vector<XyzFrame> frames;
  for (XyzFrame f; reader.Next(f);) frames.push_back(f);
  return frames;
}

XyzFrame ReadXyzFrame(const std::string& path, std::optional<long> index, int secondKindCount) {
  // A pipe or a device in the file's place is refused before it is read.
  const int fd = OpenRegularFileForReading(path);
  if (fd < 0) ThrowFileError(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  // Every frame is read, so that a damaged one anywhere is found; only the
  // one asked for (or the last) is kept. A frame counted from the end other
  // than the last is fetched by a second reading.
  XyzFrame kept, f;
  long size = 0;
  {
    LineSource in(fd);
    FrameReader reader(in, secondKindCount);
    for (; reader.Next(f); ++size)
      if (!index || *index < 0 || *index == size) kept = f;
  }
  if (size == 0) throw FileError("no XYZ frame in the file");
  const long at = !index ? size - 1 : *index < 0 ? size + *index : *index;
  if (at < 0 || at >= size)
    throw FileError("no frame " + std::to_string(*index) + " (the file has " + std::to_string(size) +
                    (size == 1 ? " frame, 0)" : " frames, 0 to " + std::to_string(size - 1) + ")"));
  if (index && *index < -1) {
    if (::lseek(fd, 0, SEEK_SET) != 0) ThrowFileError(errno);
    LineSource in(fd);
    FrameReader reader(in, secondKindCount);
    for (long k = 0; k <= at; ++k)
      if (!reader.Next(kept)) throw FileError("the file changed while it was read");
  }
  return kept;
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
