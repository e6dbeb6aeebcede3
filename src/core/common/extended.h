#pragma once
// The one floating-point type of the simulation: the x87 80-bit extended format.
#include <bit>
#include <cstdint>
#include <limits>

namespace qd {

using Extended = long double;

static_assert(std::numeric_limits<Extended>::digits == 64,
              "Extended must be the x87 80-bit format with a 64-bit significand");
static_assert(std::numeric_limits<Extended>::max_exponent == 16384, "Extended must have a 15-bit exponent");
static_assert(std::endian::native == std::endian::little,
              "configuration records are little-endian and copied byte for byte");

}  // namespace qd
