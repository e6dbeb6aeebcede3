#include "core/persistence/extended_bytes.h"

#include <cstring>

namespace qd {

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
