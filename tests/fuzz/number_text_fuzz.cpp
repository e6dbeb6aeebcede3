// The number-text parser over any text (as a field, the calculator and
// --set give it), and the number writer over any 80-bit pattern (as a file
// gives it): what is accepted is a finite number whose text reads back as
// the same text, and a refusal names the text.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/common/errors.h"
#include "core/editing/number_text.h"
#include "fuzz_support.h"

namespace {

void CheckShown(qd::Extended v, char sep) {
  const std::string shown = qd::FloatToText(v, sep);
  QD_FUZZ_CHECK(shown == qd::FloatToTextByPrintf(v, sep), shown);
  if (!std::isfinite(v) || shown == "NAN") return;
  try {
    QD_FUZZ_CHECK(qd::FloatToText(qd::TextToFloat(shown, sep), sep) == shown, shown);
  } catch (const qd::ConvertError& e) {
    qd::fuzz::Fail("the program's own text is refused:", e.what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qd;
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char sep : {'.', ','}) {
    try {
      const Extended v = TextToFloat(text, sep);
      QD_FUZZ_CHECK(std::isfinite(v), text);
      CheckShown(v, sep);
    } catch (const ConvertError& e) {
      // what() is a C string: a NUL in the text ends the message there.
      const std::string expected = "'" + text + "' is not a valid floating point value";
      QD_FUZZ_CHECK(std::strcmp(e.what(), expected.c_str()) == 0, e.what());
    }
  }
  try {
    const std::int32_t n = TextToInteger(text);
    QD_FUZZ_CHECK(TextToInteger(std::to_string(n)) == n, text);
  } catch (const ConvertError&) {
  }
  if (size >= 10) {
    Extended v = 0;
    std::memcpy(&v, data, 10);
    CheckShown(v, '.');
    CheckShown(v, ',');
  }
  return 0;
}
