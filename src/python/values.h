#pragma once
// Values between Python and the module: 80-bit numbers in and out of numpy,
// and one number from whatever a user gives for a parameter.
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "core/common/extended.h"

namespace qd::python {

// The significant bytes of an Extended; numpy's longdouble pads them to 16.
inline constexpr std::size_t kExtendedBytes = 10;
// Equal to the last bit, signs of zeros and NaN payloads included.
inline bool SameBits(const Extended& a, const Extended& b) {
  return std::memcmp(&a, &b, kExtendedBytes) == 0;
}

// Every bit pattern a file may hold comes through unchanged: the values are
// copied as bytes, never through the FPU.
void PutExtended(long double* to, const Extended& v);
Extended GetExtended(const long double* from);

// One number for `name`: text read as quindelle-run reads --set (with a
// full stop), an integer, a Decimal (by its text) or a Fraction (numerator
// over denominator, rounded once), each to the nearest 80-bit value, or any
// other Python or numpy number as numpy converts it. Throws BadValue or
// TypeError naming `name`.
Extended ToExtended(pybind11::handle value, const std::string& name);

// A number of steps for `call`: a whole number (numpy's included), not a
// truth value, which Python would otherwise count as 1. Throws TypeError, or
// BadValue beyond 64 bits.
long long StepCount(pybind11::handle value, const char* call);

// The text of a choice such as the formula; anything else is a TypeError,
// None included.
std::string Text(pybind11::handle value, const char* name);

// Throws TypeError when `value` holds complex numbers, whose imaginary parts
// numpy's conversion to real numbers would drop.
void RefuseComplex(pybind11::handle value, const char* name);

// The words of an OSError about `path`: the program's own text, except
// where it would mislead in Python, which names the file: a folder is not
// "denied", and a file in a missing folder is not itself the missing part.
std::string FileProblemText(int err, const std::string& text, const std::string& path);

}  // namespace qd::python
