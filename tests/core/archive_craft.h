#pragma once
// Archives as an attacker makes them: a field of a snapshot rewritten and
// its checksum computed again, so that only the reader's own checks of the
// fields stand between the bytes and the program.
#include <cstdint>
#include <cstring>
#include <string>

#include "core/persistence/run_archive.h"

namespace qd::testing_support {

// `value`'s bytes, little-endian, as the archive holds numbers.
template <class T>
std::string LittleEndian(T value) {
  std::string b(sizeof value, '\0');
  for (std::size_t i = 0; i < sizeof value; ++i)
    b[i] = char(static_cast<std::uint64_t>(value) >> (8 * i) & 0xFF);
  return b;
}

// The archive `bytes` with `field` written at byte `offset` of snapshot
// `frame` (from 0) and that snapshot's checksum made right again.
inline std::string Crafted(std::string bytes, std::size_t frame, std::size_t offset,
                           const std::string& field) {
  const std::size_t at = archive::HeaderSize() + frame * archive::RecordSize();
  bytes.replace(at + offset, field.size(), field);
  const std::size_t crcAt = at + archive::RecordSize() - 4;
  bytes.replace(crcAt, 4, LittleEndian(archive::Crc32(bytes.data() + at, archive::RecordSize() - 4)));
  return bytes;
}

// A fault text put into snapshot `frame`: its length byte, the text, and
// zeros after it.
inline std::string WithFault(const std::string& bytes, std::size_t frame, const std::string& text) {
  std::string field(1 + archive::kMaxFaultText, '\0');
  field[0] = char(text.size());
  field.replace(1, std::min(text.size(), archive::kMaxFaultText), text.substr(0, archive::kMaxFaultText));
  return Crafted(bytes, frame, archive::kFaultAt, field);
}

}  // namespace qd::testing_support
