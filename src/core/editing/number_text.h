#pragma once
// Numbers as the user reads and types them.
#include <cstdint>
#include <string>

#include "core/common/extended.h"

namespace qd {

// The decimal separator of the user's locale (LC_NUMERIC).
char LocaleDecimalSeparator();

// General format, 15 significant digits: fixed notation for 1E-4 <= |v| < 1E15,
// otherwise mantissa, "E", exponent. "0" for zero.
std::string FloatToText(Extended v, char separator);
// The same text with every digit from the C library's printf, which
// FloatToText leaves out where its own exact arithmetic reaches.
std::string FloatToTextByPrintf(Extended v, char separator);

// Blanks around, optional sign, digits with at most one separator, optional
// exponent. Correctly rounded to Extended. Throws ConvertError with
// "'%s' is not a valid floating point value".
Extended TextToFloat(const std::string& text, char separator);

// An optionally signed whole number. Throws ConvertError with
// "'%s' is not a valid integer value".
std::int32_t TextToInteger(const std::string& text);

// The key filter of the numeric fields: digits, ',', '-', '.', backspace.
bool KeyAccepted(char32_t c);

}  // namespace qd
