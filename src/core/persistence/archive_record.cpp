#include "core/persistence/archive_record.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/common/errors.h"
#include "core/persistence/extended_bytes.h"

namespace qd::archive {
namespace {

// A field added to the run state must be added to the snapshot's bytes too
// (and the format version raised), or a continued run would lose it.
struct ExpectedRunState {
  SlotArray<Extended> arrays[15];
  SlotArray<std::uint8_t> present;
  Extended params[11];
  std::int32_t taon, step;
};
static_assert(sizeof(RunState) == sizeof(ExpectedRunState), "the archive must keep every field of RunState");

// Each snapshot's frame starts with this tag.
constexpr std::uint8_t kRecordTag[4] = {'S', 'N', 'A', 'P'};
constexpr std::size_t kOptionsBytes = 9;
constexpr std::size_t kStateBytes = 4 + 4 + 11 * 10 + 15 * (kSlotCount + 1) * 10 + (kSlotCount + 1);
constexpr std::size_t kPayloadBytes = 8 + kOptionsBytes + 1 + kMaxFaultText + kStateBytes;
constexpr std::size_t kRecordBytes = 4 + 4 + kPayloadBytes + 4;
constexpr std::size_t kHeaderBytes = 8 + 4 + 4 + kOptionsBytes + 4;

using Arrays = SlotArray<Extended> RunState::*;
constexpr Arrays kArrays[15] = {&RunState::X,     &RunState::Y,     &RunState::Z,     &RunState::UX,
                                &RunState::UY,    &RunState::UZ,    &RunState::XNew,  &RunState::YNew,
                                &RunState::ZNew,  &RunState::UXNew, &RunState::UYNew, &RunState::UZNew,
                                &RunState::ViewX, &RunState::ViewY, &RunState::ViewZ};

// Eight tables, so that the CRC takes eight bytes a round (slicing by 8):
// a snapshot's checksum then costs a few microseconds.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

const CrcTables& CrcTable() {
  static const CrcTables tables = [] {
    CrcTables t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][n] = c;
    }
    for (std::uint32_t n = 0; n < 256; ++n)
      for (int k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
  }();
  return tables;
}

// Little-endian whatever the machine, as the format says; into a buffer
// sized beforehand, as a snapshot is written every so many steps of a run.
class Out {
 public:
  Out(std::vector<std::uint8_t>& b, std::size_t size) : b_(b) {
    b_.resize(size);
    p_ = b_.data();
  }
  void U8(std::uint8_t v) { *p_++ = v; }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) *p_++ = static_cast<std::uint8_t>(v >> (8 * i));
  }
  void I64(std::int64_t v) {
    const auto u = static_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i) *p_++ = static_cast<std::uint8_t>(u >> (8 * i));
  }
  void Ext(Extended v) {
    StoreExtended(v, p_);
    p_ += 10;
  }
  void Bytes(const void* p, std::size_t n) {
    if (n > 0) std::memcpy(p_, p, n);
    p_ += n;
  }
  void Zeros(std::size_t n) {
    std::memset(p_, 0, n);
    p_ += n;
  }
  std::size_t Done() const { return static_cast<std::size_t>(p_ - b_.data()); }

 private:
  std::vector<std::uint8_t>& b_;
  std::uint8_t* p_;
};

class In {
 public:
  In(const std::uint8_t* p, std::size_t n) : p_(p), end_(p + n) {}
  std::uint8_t U8() { return *p_++; }
  std::uint32_t U32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{p_[i]} << (8 * i);
    p_ += 4;
    return v;
  }
  std::int64_t I64() {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= std::uint64_t{p_[i]} << (8 * i);
    p_ += 8;
    return static_cast<std::int64_t>(v);
  }
  Extended Ext() {
    const Extended v = BytesToExtended(p_);
    p_ += 10;
    return v;
  }
  const std::uint8_t* Skip(std::size_t n) {
    const std::uint8_t* at = p_;
    p_ += n;
    return at;
  }
  std::size_t Left() const { return static_cast<std::size_t>(end_ - p_); }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

void PutOptions(Out& o, const StepOptions& so) {
  o.U8(static_cast<std::uint8_t>(so.force.formula));
  o.U8(static_cast<std::uint8_t>(so.force.sign));
  o.U8(static_cast<std::uint8_t>(so.force.secondKindCount));
  o.U8(so.force.dropB);
  o.U8(so.force.dropCDF);
  o.U8(so.blockade);
  o.U8(so.cooler);
  o.U8(so.heater);
  o.U8(static_cast<std::uint8_t>(so.walls));
}

// False when a byte holds no value the program knows.
bool GetOptions(In& in, StepOptions& so) {
  const std::uint8_t f = in.U8(), sign = in.U8(), kinds = in.U8();
  std::uint8_t flags[5];
  for (auto& b : flags) b = in.U8();
  const std::uint8_t walls = in.U8();
  if (f > std::uint8_t(Formula::EPESminus) || sign > std::uint8_t(SignMode::Taoscope) ||
      walls > std::uint8_t(Walls::ThermosNXN) || (kinds != 30 && kinds != 15 && kinds != 10))
    return false;
  for (const auto b : flags)
    if (b > 1) return false;
  so.force.formula = Formula(f);
  so.force.sign = SignMode(sign);
  so.force.secondKindCount = kinds;
  so.force.dropB = flags[0] != 0;
  so.force.dropCDF = flags[1] != 0;
  so.blockade = flags[2] != 0;
  so.cooler = flags[3] != 0;
  so.heater = flags[4] != 0;
  so.walls = Walls(walls);
  return true;
}

static_assert(kFaultAt == 8 + 8 + kOptionsBytes && kTaonAt == kFaultAt + 1 + kMaxFaultText &&
                  kStepCountAt == kTaonAt + 4 &&
                  kPresentAt == kStepCountAt + 4 + 11 * 10 + 15 * (kSlotCount + 1) * 10 &&
                  kPresentAt + kSlotCount + 1 + 4 == kRecordBytes,
              "the field offsets of docs/run-archive.md");

std::int32_t I32At(const std::uint8_t* p) {
  In in(p, 4);
  return static_cast<std::int32_t>(in.U32());
}

// The longest start of `text`, at most `n` bytes, that does not end inside
// a character.
std::size_t CharacterCut(const std::string& text, std::size_t n) {
  if (text.size() <= n) return text.size();
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

bool PrintableUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned c = *p;
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7F) return false;
      ++p;
      continue;
    }
    // The sequence's length and the least code point it may hold, so that
    // a long form of a short character (a hidden control) is refused.
    const int more = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (more < 0 || end - p <= more) return false;
    std::uint32_t cp = c & (0x3Fu >> more);
    for (int i = 1; i <= more; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = cp << 6 | (p[i] & 0x3Fu);
    }
    constexpr std::uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0x80 && cp <= 0x9F))
      return false;
    p += more + 1;
  }
  return true;
}

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc) {
  const CrcTables& t = CrcTable();
  const auto* p = static_cast<const std::uint8_t*>(data);
  crc = ~crc;
  for (; size >= 8; size -= 8, p += 8) {
    const std::uint32_t lo = crc ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                    std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][p[4]] ^
          t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; size > 0; --size, ++p) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::size_t RecordSize() { return kRecordBytes; }
std::size_t HeaderSize() { return kHeaderBytes; }

std::vector<std::uint8_t> EncodeHeader(const StepOptions& so) {
  std::vector<std::uint8_t> b;
  Out o(b, kHeaderBytes);
  o.Bytes(kMagic, sizeof kMagic);
  o.U32(kFormatVersion);
  o.U32(kOptionsBytes);
  PutOptions(o, so);
  o.U32(Crc32(b.data(), o.Done()));
  return b;
}

std::vector<std::uint8_t> EncodeRecord(const Entry& e) {
  std::vector<std::uint8_t> b;
  Out o(b, kRecordBytes);
  o.Bytes(kRecordTag, 4);
  o.U32(kPayloadBytes);
  o.I64(e.step);
  PutOptions(o, e.options);
  const std::size_t faultLength = CharacterCut(e.fault, kMaxFaultText);
  o.U8(static_cast<std::uint8_t>(faultLength));
  o.Bytes(e.fault.data(), faultLength);
  o.Zeros(kMaxFaultText - faultLength);
  const RunState& s = e.state;
  o.U32(static_cast<std::uint32_t>(s.TaonCount));
  o.U32(static_cast<std::uint32_t>(s.StepCount));
  for (const auto param : kParameterBlock) o.Ext(s.*param);
  for (const Arrays a : kArrays)
    for (const Extended v : s.*a) o.Ext(v);
  o.Bytes(s.Present.data(), s.Present.size());
  o.U32(Crc32(b.data(), o.Done()));
  // What is written is what a reader takes back: a snapshot the reader
  // would call damaged is refused here, before it reaches a file.
  if (const std::string wrong = DecodeRecord(b.data(), nullptr); !wrong.empty())
    throw FileError("the snapshot of step " + std::to_string(e.step) + " cannot be archived (" + wrong + ")");
  return b;
}

bool DecodeOptions(const std::uint8_t* nine, StepOptions& options) {
  In in(nine, kOptionsBytes);
  return GetOptions(in, options);
}

std::string CheckFrame(const std::uint8_t* p) {
  if (std::memcmp(p, kRecordTag, 4) != 0) return "no snapshot mark";
  In in(p + 4, 4);
  if (in.U32() != kPayloadBytes) return "wrong snapshot length";
  In tail(p + kRecordBytes - 4, 4);
  if (tail.U32() != Crc32(p, kRecordBytes - 4)) return "checksum mismatch";
  return {};
}

std::string DecodeRecord(const std::uint8_t* p, Entry* e) {
  In in(p + kStepAt, kRecordBytes - kStepAt);
  const std::int64_t step = in.I64();
  if (step < 0 || step > kLastStep)
    return "step " + std::to_string(step) + " outside 0.." + std::to_string(kLastStep);
  StepOptions options;
  if (!GetOptions(in, options)) return "unknown option value";
  const std::size_t faultLength = in.U8();
  if (faultLength > kMaxFaultText) return "fault text of " + std::to_string(faultLength) + " bytes";
  const auto* text = reinterpret_cast<const char*>(in.Skip(kMaxFaultText));
  if (!PrintableUtf8({text, faultLength})) return "fault text that is not printable UTF-8";
  if (std::any_of(text + faultLength, text + kMaxFaultText, [](char c) { return c != 0; }))
    return "bytes after the fault text";
  const std::int32_t taon = I32At(p + kTaonAt), counter = I32At(p + kStepCountAt);
  if (taon < 0 || taon > kSlotCount)
    return "slot count " + std::to_string(taon) + " outside 0.." + std::to_string(kSlotCount);
  if (counter != step)
    return "step counter " + std::to_string(counter) + " differs from step " + std::to_string(step);
  // Any byte but 0 marks a particle, as in a configuration file, whose
  // bytes a run keeps; slot 0 is never used.
  const std::uint8_t* present = p + kPresentAt;
  if (present[0] != 0) return "slot 0 marked present";
  for (int k = taon + 1; k <= kSlotCount; ++k)
    if (present[k] != 0)
      return "slot " + std::to_string(k) + " present beyond the slot count " + std::to_string(taon);
  if (e == nullptr) return {};
  e->step = step;
  e->options = options;
  e->fault.assign(text, faultLength);
  RunState& s = e->state;
  s.TaonCount = taon;
  s.StepCount = counter;
  In values(p + kStepCountAt + 4, kPresentAt - kStepCountAt - 4);
  for (const auto param : kParameterBlock) s.*param = values.Ext();
  for (const Arrays a : kArrays)
    for (Extended& v : s.*a) v = values.Ext();
  std::memcpy(s.Present.data(), present, s.Present.size());
  return {};
}

}  // namespace qd::archive
