#include "core/editing/number_text.h"

#include <locale.h>

#include <cfenv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/common/errors.h"

namespace qd {
namespace {

// printf and strtold follow LC_NUMERIC; the conversions below switch the
// calling thread to the C locale so that their results never depend on the
// user's locale. The separator is then put in by hand.
locale_t CLocale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

class CLocaleScope {
 public:
  CLocaleScope() : previous_(uselocale(CLocale())) {}
  ~CLocaleScope() { uselocale(previous_); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t previous_;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// 15 significant digits of |v|, correctly rounded, as printf's %.14Le gives
// them: the digits and the decimal exponent of the first.
void PrintfFifteenDigits(Extended v, std::string& digits, int& exponent) {
  char buf[64];
  {
    CLocaleScope c_locale;
    std::snprintf(buf, sizeof buf, "%.14Le", v);
  }
  const char* p = buf;
  if (*p == '-') ++p;
  digits.clear();
  for (; *p != '\0' && *p != 'e'; ++p)
    if (IsDigit(*p)) digits += *p;
  exponent = std::atoi(p + 1);
}

// The same digits in integer arithmetic, for the numbers a listing is full
// of: printf's exact conversion costs several times more. False when |v| is
// outside [1E-13, 1E15) or the rounding mode is not to nearest; printf then
// decides. The value is m * 2^e2 with a 64-bit m (integer bit set), so
// |v| * 10^p = m * 5^p * 2^(e2 + p), which for p <= 27 fits in 128 bits and
// is rounded to an integer (ties to even) exactly.
bool FifteenDigits(std::uint64_t m, unsigned biasedExp, std::string& digits, int& exponent) {
  using U128 = unsigned __int128;
  constexpr std::uint64_t kLow = 100000000000000;  // 10^14
  constexpr std::uint64_t kHigh = 10 * kLow;
  if (biasedExp == 0 || (m >> 63) == 0 || std::fegetround() != FE_TONEAREST) return false;
  const int e2 = int(biasedExp) - 16383 - 63;
  const int b = e2 + 63;  // 2^b <= |v| < 2^(b + 1)
  // The decimal exponent, give or take one: corrected below.
  int x = b >= 0 ? (b * 78913) >> 18 : -((-b * 78913 + (1 << 18) - 1) >> 18);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int p = 14 - x;
    if (p < 0 || p > 27) return false;
    U128 scaled = m;
    for (int i = 0; i < p; ++i) scaled *= 5;
    const int shift = -(e2 + p);
    if (shift <= 0 || shift >= 128) return false;
    U128 n = scaled >> shift;
    if (n < kLow) {
      --x;
      continue;
    }
    if (n >= kHigh) {
      ++x;
      continue;
    }
    const U128 rest = scaled & ((U128{1} << shift) - 1);
    const U128 half = U128{1} << (shift - 1);
    if (rest > half || (rest == half && (n & 1) != 0)) ++n;
    if (n == kHigh) {
      n = kLow;
      ++x;
    }
    char buf[16];
    std::uint64_t k = std::uint64_t(n);
    for (int i = 14; i >= 0; --i, k /= 10) buf[i] = char('0' + k % 10);
    digits.assign(buf, 15);
    exponent = x;
    return true;
  }
  return false;
}

[[noreturn]] void ThrowNotFloat(const std::string& text) {
  throw ConvertError("'" + text + "' is not a valid floating point value");
}

[[noreturn]] void ThrowNotInteger(const std::string& text) {
  throw ConvertError("'" + text + "' is not a valid integer value");
}

}  // namespace

char LocaleDecimalSeparator() {
  const std::lconv* conv = std::localeconv();
  if (conv == nullptr || conv->decimal_point == nullptr) return '.';
  const char* dp = conv->decimal_point;
  // A separator of more than one byte (or a non-ASCII one) cannot be typed
  // through the key filter; fall back to the full stop.
  if (dp[0] == '\0' || dp[1] != '\0' || static_cast<unsigned char>(dp[0]) >= 0x80) return '.';
  return dp[0];
}

namespace {

std::string FormatFloat(Extended v, char separator, bool ownDigits) {
  // Classified from the bits, so that a signalling NaN or an unnormal read
  // from a file raises no floating-point flag on its way to the screen.
  unsigned char bytes[sizeof(Extended)];
  std::memcpy(bytes, &v, sizeof bytes);
  std::uint64_t significand;
  std::memcpy(&significand, bytes, 8);
  const unsigned signExp = bytes[8] | (unsigned{bytes[9]} << 8);
  const unsigned biasedExp = signExp & 0x7FFF;
  const bool negativeBit = (signExp & 0x8000) != 0;
  const bool integerBit = (significand >> 63) != 0;
  if (biasedExp == 0x7FFF) {
    if ((significand << 1) == 0 && integerBit) return negativeBit ? "-INF" : "INF";
    return "NAN";
  }
  // An unnormal (exponent set, integer bit clear) is no number to the FPU.
  if (biasedExp != 0 && !integerBit) return "NAN";
  if (significand == 0) return "0";

  const bool negative = negativeBit;
  std::string digits;
  int exponent = 0;
  if (!ownDigits || !FifteenDigits(significand, biasedExp, digits, exponent))
    PrintfFifteenDigits(v, digits, exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  // The notation is chosen from the rounded value, so 999999999999999.7
  // (which rounds to 1E15) is written in scientific notation.
  if (exponent >= -4 && exponent < 15) {
    if (exponent < 0) {
      out += '0';
      out += separator;
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
    } else {
      const std::size_t whole = static_cast<std::size_t>(exponent) + 1;
      if (digits.size() <= whole) {
        out += digits;
        out.append(whole - digits.size(), '0');
      } else {
        out += digits.substr(0, whole);
        out += separator;
        out += digits.substr(whole);
      }
    }
  } else {
    out += digits[0];
    if (digits.size() > 1) {
      out += separator;
      out += digits.substr(1);
    }
    out += 'E';
    out += std::to_string(exponent);
  }
  return out;
}

}  // namespace

std::string FloatToText(Extended v, char separator) { return FormatFloat(v, separator, true); }

std::string FloatToTextByPrintf(Extended v, char separator) { return FormatFloat(v, separator, false); }

Extended TextToFloat(const std::string& text, char separator) {
  // Our own grammar check first: strtold accepts far more ("inf", "0x1p3",
  // "nan(...)", a prefix of the text) than a number field may hold.
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && IsBlank(text[i])) ++i;
  std::string normal;
  if (i < n && (text[i] == '+' || text[i] == '-')) normal += text[i++];
  std::size_t mantissaDigits = 0;
  while (i < n && IsDigit(text[i])) {
    normal += text[i++];
    ++mantissaDigits;
  }
  if (i < n && text[i] == separator) {
    normal += '.';
    ++i;
    while (i < n && IsDigit(text[i])) {
      normal += text[i++];
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) ThrowNotFloat(text);
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    normal += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) normal += text[i++];
    std::size_t exponentDigits = 0;
    while (i < n && IsDigit(text[i])) {
      normal += text[i++];
      ++exponentDigits;
    }
    if (exponentDigits == 0) ThrowNotFloat(text);
  }
  while (i < n && IsBlank(text[i])) ++i;
  if (i != n) ThrowNotFloat(text);

  Extended value;
  {
    CLocaleScope c_locale;
    value = std::strtold(normal.c_str(), nullptr);
  }
  // A number beyond the Extended range is not a value the program can hold.
  if (std::isinf(value)) ThrowNotFloat(text);
  return value;
}

std::int32_t TextToInteger(const std::string& text) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t magnitude = 0;
  std::size_t digits = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  while (i < n && IsDigit(text[i])) {
    magnitude = magnitude * 10 + (text[i++] - '0');
    if (magnitude > kLimit) ThrowNotInteger(text);
    ++digits;
  }
  while (i < n && IsBlank(text[i])) ++i;
  if (digits == 0 || i != n) ThrowNotInteger(text);
  if (!negative && magnitude == kLimit) ThrowNotInteger(text);
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

bool KeyAccepted(char32_t c) {
  return (c >= U'0' && c <= U'9') || c == U',' || c == U'-' || c == U'.' || c == 8;
}

}  // namespace qd
