#include "core/persistence/extended_bytes.h"

#include <cstring>

namespace qd {

// Only the 10 bytes of the x87 format are copied (a long double occupies 16,
// the rest is padding). Loading and storing an 80-bit value never converts
// it, so NaN payloads, denormals and unnormal patterns come through unchanged.
void StoreExtended(Extended v, std::uint8_t* out) { std::memcpy(out, &v, 10); }

ExtendedBytes ExtendedToBytes(Extended v) {
  ExtendedBytes b{};
  StoreExtended(v, b.data());
  return b;
}

Extended BytesToExtended(const std::uint8_t* bytes) {
  Extended v = 0;
  std::memcpy(&v, bytes, 10);
  return v;
}

}  // namespace qd
