// The configuration reader over any bytes: the 3776-byte record is read from
// a file, installed into the state and stepped, as a load and a run do.
// Bytes after the record (which the reader ignores) pick the run's choices,
// so that every force law and wall meets what a hostile file holds.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "core/common/errors.h"
#include "core/dynamics/energy.h"
#include "core/dynamics/step.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "fuzz_support.h"

namespace {

qd::StepOptions ChoicesFrom(const std::uint8_t* extra, std::size_t size) {
  qd::StepOptions o;
  o.threads = 1;
  if (size < 5) return o;
  constexpr int kKinds[3] = {30, 15, 10};
  o.force.formula = static_cast<qd::Formula>(extra[0] % 5);
  o.force.sign = static_cast<qd::SignMode>(extra[1] % 2);
  o.force.secondKindCount = kKinds[extra[2] % 3];
  o.force.dropB = (extra[3] & 1) != 0;
  o.force.dropCDF = (extra[3] & 2) != 0;
  o.blockade = (extra[3] & 4) != 0;
  o.cooler = (extra[3] & 8) != 0;
  o.heater = (extra[3] & 16) != 0;
  o.walls = static_cast<qd::Walls>(extra[4] % 4);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qd;
  static fuzz::ScratchFile file("fuzz.pln");
  static StepEngine engine;
  file.Write(data, size);

  auto s = std::make_unique<SimState>();
  s->TaonCount = kSlotCount;
  try {
    ReadConfigFile(*s, file.Path());
  } catch (const FileError& e) {
    QD_FUZZ_CHECK(size < kConfigRecordSize, e.what());
    QD_FUZZ_CHECK(std::strcmp(e.what(), kReadBeyondEnd) == 0, e.what());
    return 0;
  }
  QD_FUZZ_CHECK(size >= kConfigRecordSize, "a short file was read");
  QD_FUZZ_CHECK(std::equal(s->ConfigRecord.begin(), s->ConfigRecord.end(), data),
                "the record is not the file's");

  // What the record fills in gives back the record bit for bit.
  ApplyConfigRecord(*s);
  const ConfigRecordBuffer loaded = s->ConfigRecord;
  FillConfigRecord(*s);
  QD_FUZZ_CHECK(s->ConfigRecord == loaded, "the record changed on its way through the state");

  const StepOptions o = ChoicesFrom(data + kConfigRecordSize, size - kConfigRecordSize);
  RunState& run = *s;
  try {
    (void)KineticEnergy(run);
    (void)engine.Potential(run, o.force, 1);
    engine.Advance(run, o, 1);
    engine.Advance(run, o, 2);
  } catch (const FpFault&) {
    // A fault is the program's answer to such numbers, not a failure.
  }
  return 0;
}
