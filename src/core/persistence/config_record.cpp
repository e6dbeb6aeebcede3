#include "core/persistence/config_record.h"

#include <cstring>

#include "core/persistence/file_io.h"

namespace qd {
namespace {

constexpr std::size_t kValueSize = 10;

// Where slot `slot` of the array at `base` lies in the record.
constexpr std::size_t SlotOffset(std::size_t base, int slot) {
  return base + kValueSize * static_cast<std::size_t>(slot - 1);
}

// Values move between the state and the record as raw bytes, never through
// the FPU, so NaN payloads and unnormal patterns survive unchanged.
void Put(ConfigRecordBuffer& rec, std::size_t offset, const Extended& v) {
  std::memcpy(rec.data() + offset, &v, kValueSize);
}

void Get(const ConfigRecordBuffer& rec, std::size_t offset, Extended& v) {
  std::memcpy(&v, rec.data() + offset, kValueSize);
}

// The run's arrays that the record holds, with where each begins. The
// working and display copies are not stored: a load installs them from the
// committed arrays.
struct RecordArray {
  SlotArray<Extended> RunState::*member;
  std::size_t offset;
};
constexpr RecordArray kRecordArrays[] = {{&RunState::X, record::kX},   {&RunState::Y, record::kY},
                                         {&RunState::Z, record::kZ},   {&RunState::UX, record::kUX},
                                         {&RunState::UY, record::kUY}, {&RunState::UZ, record::kUZ}};

constexpr std::size_t ParamOffset(int p) { return record::kParams + kValueSize * static_cast<std::size_t>(p); }

}  // namespace

void FillConfigRecord(SimState& s) {
  ConfigRecordBuffer& rec = s.ConfigRecord;
  for (int p = 0; p < 11; ++p) Put(rec, ParamOffset(p), s.*kParameterBlock[p]);
  const int count = LastSlot(s);
  for (int slot = 1; slot <= count; ++slot) {
    for (const RecordArray& a : kRecordArrays) Put(rec, SlotOffset(a.offset, slot), (s.*a.member)[slot]);
    rec[record::kPresent + static_cast<std::size_t>(slot - 1)] = s.Present[slot];
  }
}

void ApplyConfigRecord(SimState& s) {
  const ConfigRecordBuffer& rec = s.ConfigRecord;
  for (int p = 0; p < 11; ++p) Get(rec, ParamOffset(p), s.*kParameterBlock[p]);
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    for (const RecordArray& a : kRecordArrays) Get(rec, SlotOffset(a.offset, slot), (s.*a.member)[slot]);
    s.Present[slot] = rec[record::kPresent + static_cast<std::size_t>(slot - 1)];
  }
  InstallAll(s);
}

bool CanLoadConfiguration(const std::string& path) { return RegularFileAccessError(path) == 0; }

void ReadConfigFile(SimState& s, const std::string& path) {
  // Read-only: a configuration the user may not change still loads. The
  // buffer is only touched once the whole record has arrived.
  const std::vector<std::uint8_t> data = ReadFilePrefix(path, kConfigRecordSize);
  std::copy(data.begin(), data.end(), s.ConfigRecord.begin());
}

void WriteConfigFile(const SimState& s, const std::string& path) {
  WriteFileSafely(path, s.ConfigRecord.data(), s.ConfigRecord.size());
}

}  // namespace qd
