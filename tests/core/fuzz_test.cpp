// Random input must never crash, hang or be half-accepted.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <regex>

#include "core/common/errors.h"
#include "core/editing/number_text.h"
#include "core/persistence/config_record.h"

namespace qd {
namespace {

// An independent statement of what a number field may hold, to judge the
// hand-written grammar check against.
std::regex Grammar(const std::string& sep) {
  return std::regex("[ \\t]*[+-]?([0-9]+(" + sep + "[0-9]*)?|" + sep + "[0-9]+)([eE][+-]?[0-9]+)?[ \\t]*");
}

bool LooksLikeNumber(const std::string& text, char sep) {
  static const std::regex fullStop = Grammar("\\.");
  static const std::regex comma = Grammar(",");
  return std::regex_match(text, sep == '.' ? fullStop : comma);
}

TEST(Fuzz, RandomTextsEitherConvertOrFailCleanly) {
  std::mt19937 rng(20261208);
  // Mostly characters a number is made of, so that many texts get far into
  // the grammar; now and then any byte at all.
  const std::string alphabet = "0123456789.,eE+- \t";
  int accepted = 0;
  for (int i = 0; i < 10000; ++i) {
    const char sep = (i % 2) ? ',' : '.';
    std::string text;
    const int length = static_cast<int>(rng() % 24);
    for (int k = 0; k < length; ++k) {
      if (rng() % 8 == 0)
        text += static_cast<char>(rng() % 256);
      else
        text += alphabet[rng() % alphabet.size()];
    }
    bool ok = false;
    Extended v = 0;
    try {
      v = TextToFloat(text, sep);
      ok = true;
    } catch (const ConvertError& e) {
      // what() is a C string: a NUL in the text ends the message there.
      const std::string expected = "'" + text + "' is not a valid floating point value";
      ASSERT_STREQ(e.what(), expected.c_str());
    }
    if (ok) {
      ++accepted;
      ASSERT_TRUE(LooksLikeNumber(text, sep)) << "accepted '" << text << "'";
      ASSERT_TRUE(std::isfinite(v)) << text;
      const std::string shown = FloatToText(v, sep);
      ASSERT_EQ(FloatToText(TextToFloat(shown, sep), sep), shown) << text;
    } else if (LooksLikeNumber(text, sep)) {
      // Only a value beyond the Extended range may fail a well-formed text.
      ASSERT_NE(text.find_first_of("eE"), std::string::npos) << "rejected '" << text << "'";
    }
  }
  EXPECT_GT(accepted, 100);
}

TEST(Fuzz, RandomRecordsRoundTripBitForBit) {
  std::mt19937_64 rng(3776);
  for (int i = 0; i < 1000; ++i) {
    SimState s{};
    for (auto& b : s.ConfigRecord) b = static_cast<std::uint8_t>(rng());
    const ConfigRecordBuffer original = s.ConfigRecord;
    ApplyConfigRecord(s);
    // Whatever the bits mean, they can be shown without a crash.
    for (int k = 1; k <= kSlotCount; k += 7) {
      const std::string shown = FloatToText(s.X[k], ',');
      ASSERT_FALSE(shown.empty());
      if (shown != "NAN" && shown != "INF" && shown != "-INF") TextToFloat(shown, ',');
    }
    s.ConfigRecord.fill(0);
    for (std::size_t p : {110u, 111u, 3772u, 3773u, 3774u, 3775u}) s.ConfigRecord[p] = original[p];
    s.TaonCount = kSlotCount;
    FillConfigRecord(s);
    ASSERT_EQ(s.ConfigRecord, original) << "record " << i;
  }
}

}  // namespace
}  // namespace qd
