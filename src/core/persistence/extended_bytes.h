#pragma once
// Extended <-> the 10 bytes of the x87 layout, bit for bit.
#include <array>
#include <cstdint>

#include "core/common/extended.h"

namespace qd {

using ExtendedBytes = std::array<std::uint8_t, 10>;

ExtendedBytes ExtendedToBytes(Extended v);
Extended BytesToExtended(const std::uint8_t* bytes);
void StoreExtended(Extended v, std::uint8_t* out);

}  // namespace qd
