// The run archive reader over any bytes: the archive is opened, every
// snapshot read, and each one used as a continued run uses it (its energy,
// its frame, a step from the last). Each input is read twice: as it is, and
// with every checksum recomputed, as an attacker would send it, so that
// the fuzzer gets past the checksums to the fields they guard.
#include <cstdint>
#include <string>
#include <vector>

#include "core/common/errors.h"
#include "core/dynamics/energy.h"
#include "core/dynamics/step.h"
#include "core/persistence/run_archive.h"
#include "core/persistence/xyz.h"
#include "fuzz_support.h"

namespace {

using qd::archive::Crc32;

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The header's and every whole snapshot's checksum made to fit its bytes.
std::vector<std::uint8_t> WithChecksums(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> b(data, data + size);
  const std::size_t header = qd::archive::HeaderSize(), record = qd::archive::RecordSize();
  if (b.size() >= header) PutU32(b.data() + header - 4, Crc32(b.data(), header - 4));
  for (std::size_t at = header; at + record <= b.size(); at += record)
    PutU32(b.data() + at + record - 4, Crc32(b.data() + at, record - 4));
  return b;
}

// A fault text reaches terminals and Python strings: printable (no C0 or C1
// control code), and UTF-8
// as Python decodes it (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool Printable(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return false;
    std::size_t more = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c < 0x80)
      more = 0;
    else if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
      lo = c == 0xC2 ? 0xA0 : 0x80;  // U+0080..U+009F are control codes too
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
      lo = c == 0xE0 ? 0xA0 : 0x80;
      hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
      lo = c == 0xF0 ? 0x90 : 0x80;
      hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (more > 0 && i + more >= text.size()) return false;
    for (std::size_t k = 1; k <= more; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) return false;
    }
    i += 1 + more;
  }
  return true;
}

void Use(const qd::archive::Entry& e, bool last) {
  static qd::StepEngine engine;
  qd::RunState s = e.state;
  qd::StepOptions o = e.options;
  o.threads = 1;
  try {
    const qd::Extended kinetic = qd::KineticEnergy(s);
    std::string frame;
    qd::AppendXyzFrame(frame, s, o, kinetic, 0);
    if (last) engine.Advance(s, o, static_cast<std::int32_t>(s.StepCount + 1u));
  } catch (const qd::FpFault&) {
  }
}

void ReadArchive(qd::fuzz::ScratchFile& file, const std::uint8_t* data, std::size_t size) {
  using namespace qd::archive;
  file.Write(data, size);
  try {
    const Reader r(file.Path());
    QD_FUZZ_CHECK(r.Steps().size() == r.Count(), "");
    // A fault snapshot that repeats its state's step is read as one with it,
    // so the frames may outnumber the snapshots by one.
    const std::uint64_t frames = (r.WholeSize() - HeaderSize()) / RecordSize();
    QD_FUZZ_CHECK(r.WholeSize() == HeaderSize() + frames * RecordSize(), "");
    QD_FUZZ_CHECK(frames == r.Count() || frames == r.Count() + 1, "");
    QD_FUZZ_CHECK(r.WholeSize() + r.TornBytes() == size, "bytes neither read nor reported torn");
    for (std::size_t i = 0; i < r.Count(); ++i) {
      const Entry e = r.At(i);
      const std::string which = "in snapshot " + std::to_string(i + 1);
      QD_FUZZ_CHECK(e.step == r.Steps()[i], which);
      QD_FUZZ_CHECK(e.step >= 0, which);
      QD_FUZZ_CHECK(e.state.TaonCount >= 0 && e.state.TaonCount <= qd::kSlotCount, which);
      QD_FUZZ_CHECK(e.fault.size() <= kMaxFaultText, which);
      QD_FUZZ_CHECK(Printable(e.fault), which);
      // Every step once, in increasing order.
      if (i > 0) QD_FUZZ_CHECK(e.step > r.Steps()[i - 1], which);
      Use(e, i + 1 == r.Count());
    }
  } catch (const qd::FileError&) {
    // A refusal with a reason is the sound answer to a damaged archive.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qd::fuzz::ScratchFile file("fuzz.qra");
  ReadArchive(file, data, size);
  const std::vector<std::uint8_t> fixed = WithChecksums(data, size);
  if (!std::equal(fixed.begin(), fixed.end(), data)) ReadArchive(file, fixed.data(), fixed.size());
  return 0;
}
