#include "core/editing/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "comma_locale.h"
#include "core/common/errors.h"
#include "test_files.h"

namespace qd {
namespace {

// Both separators, as users under comma and full-stop locales see them.
class NumberTextBothSeparators : public ::testing::TestWithParam<char> {
 protected:
  char sep() const { return GetParam(); }
  std::string S(const char* withDot) const {
    std::string t(withDot);
    for (char& c : t)
      if (c == '.') c = sep();
    return t;
  }
};

INSTANTIATE_TEST_SUITE_P(Separators, NumberTextBothSeparators, ::testing::Values('.', ','),
                         [](const auto& info) { return info.param == '.' ? "FullStop" : "Comma"; });

TEST_P(NumberTextBothSeparators, FixedNotationBetweenOneTenThousandthAndFifteenDigits) {
  EXPECT_EQ(FloatToText(0, sep()), "0");
  EXPECT_EQ(FloatToText(0.01L, sep()), S("0.01"));
  EXPECT_EQ(FloatToText(0.0001L, sep()), S("0.0001"));
  EXPECT_EQ(FloatToText(-0.00012345L, sep()), S("-0.00012345"));
  EXPECT_EQ(FloatToText(1, sep()), "1");
  EXPECT_EQ(FloatToText(-2, sep()), "-2");
  EXPECT_EQ(FloatToText(2.718L, sep()), S("2.718"));
  EXPECT_EQ(FloatToText(0.001L, sep()), S("0.001"));
  EXPECT_EQ(FloatToText(123456789012345.0L, sep()), "123456789012345");
  EXPECT_EQ(FloatToText(100000000000000.0L, sep()), "100000000000000");
  EXPECT_EQ(FloatToText(1.0L / 3, sep()), S("0.333333333333333"));
  EXPECT_EQ(FloatToText(-2.0L / 3, sep()), S("-0.666666666666667"));
  EXPECT_EQ(FloatToText(1234.5L, sep()), S("1234.5"));
}

TEST_P(NumberTextBothSeparators, ScientificNotationOutsideTheFixedRange) {
  EXPECT_EQ(FloatToText(0.00001L, sep()), "1E-5");
  EXPECT_EQ(FloatToText(0.000001L, sep()), "1E-6");
  EXPECT_EQ(FloatToText(1E15L, sep()), "1E15");
  EXPECT_EQ(FloatToText(1E20L, sep()), "1E20");
  EXPECT_EQ(FloatToText(-2.5E-7L, sep()), S("-2.5E-7"));
  EXPECT_EQ(FloatToText(1.23456789012345E20L, sep()), S("1.23456789012345E20"));
  EXPECT_EQ(FloatToText(1234567890123456.0L, sep()), S("1.23456789012346E15"));
  EXPECT_EQ(FloatToText(1E-300L, sep()), "1E-300");
  EXPECT_EQ(FloatToText(1E4000L, sep()), "1E4000");
}

TEST_P(NumberTextBothSeparators, NotationIsChosenAfterRoundingToFifteenDigits) {
  // Rounds up to 10.0000000000000: the carry makes a new leading digit.
  EXPECT_EQ(FloatToText(9.9999999999999999L, sep()), "10");
  EXPECT_EQ(FloatToText(-9.9999999999999999L, sep()), "-10");
  // 999999999999999.7 has 15 whole digits but rounds to 1E15.
  EXPECT_EQ(FloatToText(999999999999999.7L, sep()), "1E15");
  // Just below 1E-4, it rounds to exactly 1E-4 and so is written fixed.
  EXPECT_EQ(FloatToText(0.0000999999999999999999L, sep()), S("0.0001"));
  EXPECT_EQ(FloatToText(0.0000999999999999999L, sep()), S("9.99999999999999E-5"));
}

// The listing's own digit arithmetic must give printf's digits, ties to even
// and carries into a new leading digit included.
TEST(NumberText, OwnDigitsAreTheDigitsOfPrintf) {
  std::vector<Extended> values = {100000000000000.5L,
                                  100000000000001.5L,
                                  123456789012344.5L,
                                  0.125L,
                                  1E-13L,
                                  9.99999999999995E-14L,
                                  0.1L,
                                  1E14L,
                                  999999999999999.5L};
  for (int k = -16; k <= 16; ++k) {
    const Extended ten = std::pow(10.0L, Extended(k));
    for (Extended v : {ten, std::nextafter(ten, Extended(0)), std::nextafter(ten, Extended(1E30L))})
      values.push_back(v);
  }
  std::srand(16);
  for (int i = 0; i < 5000; ++i) {
    std::uint64_t m = 0;
    for (int j = 0; j < 4; ++j) m = (m << 16) ^ std::uint64_t(std::rand() & 0xFFFF);
    const int e = std::rand() % 120 - 110;  // 2^-47 .. 2^73 with the integer bit set
    values.push_back(std::ldexp(Extended(m | (std::uint64_t{1} << 63)), e));
  }
  for (Extended v : values)
    for (Extended w : {v, -v}) ASSERT_EQ(FloatToText(w, ','), FloatToTextByPrintf(w, ',')) << double(w);
}

TEST(NumberText, SpecialValuesHaveReadableTexts) {
  EXPECT_EQ(FloatToText(std::numeric_limits<Extended>::quiet_NaN(), '.'), "NAN");
  EXPECT_EQ(FloatToText(std::numeric_limits<Extended>::signaling_NaN(), '.'), "NAN");
  EXPECT_EQ(FloatToText(std::numeric_limits<Extended>::infinity(), '.'), "INF");
  EXPECT_EQ(FloatToText(-std::numeric_limits<Extended>::infinity(), '.'), "-INF");
  EXPECT_EQ(FloatToText(-0.0L, '.'), "0");
  // An unnormal pattern (exponent set, integer bit clear) from a file.
  Extended unnormal = 0;
  const unsigned char bytes[10] = {0, 0, 0, 0, 0, 0, 0, 0x40, 0xFF, 0x3F};
  std::memcpy(&unnormal, bytes, 10);
  EXPECT_EQ(FloatToText(unnormal, '.'), "NAN");
  EXPECT_EQ(FloatToText(std::numeric_limits<Extended>::denorm_min(), '.'), "3.64519953188247E-4951");
}

TEST_P(NumberTextBothSeparators, ParsesSignsBlanksAndExponents) {
  EXPECT_EQ(TextToFloat(S("0.01"), sep()), 0.01L);
  EXPECT_EQ(TextToFloat(S("  -1.5  "), sep()), -1.5L);
  EXPECT_EQ(TextToFloat("+7", sep()), 7.0L);
  EXPECT_EQ(TextToFloat(S("2.5E-7"), sep()), 2.5E-7L);
  EXPECT_EQ(TextToFloat(S("2.5e+3"), sep()), 2500.0L);
  EXPECT_EQ(TextToFloat(S("-.5"), sep()), -0.5L);
  EXPECT_EQ(TextToFloat(S("5."), sep()), 5.0L);
  EXPECT_EQ(TextToFloat("1E-5000", sep()), 0.0L);
  EXPECT_TRUE(std::signbit(TextToFloat("-0", sep())));
}

TEST_P(NumberTextBothSeparators, RejectsWhatIsNoNumber) {
  for (const char* bad : {"", "   ", "1.2.3", "1e", "e5", "--1", "+", "-", ".", "1 2", "1e5.5", "0x10", "inf",
                          "nan", "1,5e", "12a", "1e+", "E", "1e99999"}) {
    const std::string text = S(bad);
    EXPECT_THROW(TextToFloat(text, sep()), ConvertError) << "'" << text << "'";
  }
  // The other locale's separator is not a separator here.
  EXPECT_THROW(TextToFloat(sep() == '.' ? "1,5" : "1.5", sep()), ConvertError);
}

TEST(NumberText, FailureTextsAreExact) {
  using qd::testing::ErrorOf;
  EXPECT_EQ(ErrorOf<ConvertError>([] { TextToFloat("1,2,3", ','); }),
            "'1,2,3' is not a valid floating point value");
  EXPECT_EQ(ErrorOf<ConvertError>([] { TextToFloat("0.002", ','); }),
            "'0.002' is not a valid floating point value");
  EXPECT_EQ(ErrorOf<ConvertError>([] { TextToInteger("abc"); }), "'abc' is not a valid integer value");
}

TEST(NumberText, ParsingIsCorrectlyRoundedToExtended) {
  EXPECT_EQ(TextToFloat("0.1", '.'), 0.1L);
  EXPECT_EQ(TextToFloat("2.718", '.'), 2.718L);
  EXPECT_EQ(TextToFloat("1.18973149535723176502e+4932", '.'), std::numeric_limits<Extended>::max());
  // Exactly halfway between 1 and the next Extended (1 + 2^-63) rounds to
  // even; a hair above it rounds up.
  const Extended next = 1.0L + 0x1p-63L;
  EXPECT_EQ(TextToFloat("1.0000000000000000000542101086242752217003726400434970855712890625", '.'), 1.0L);
  EXPECT_EQ(TextToFloat("1.00000000000000000005421010862427522170037264004349708557128906251", '.'), next);
  // A long run of digits still converts in one rounding.
  const std::string many = "0." + std::string(5000, '3');
  EXPECT_EQ(TextToFloat(many, '.'), 1.0L / 3);
}

TEST(NumberText, FifteenDigitTextsReadBackToTheSameText) {
  for (Extended v : {0.01L, 1.0L / 3, -2.5E-7L, 123456789012345.0L, 1E20L, 6.02214076E23L, 9.80665L}) {
    for (char sep : {'.', ','}) {
      const std::string text = FloatToText(v, sep);
      EXPECT_EQ(FloatToText(TextToFloat(text, sep), sep), text);
    }
  }
}

TEST(NumberText, ConversionsIgnoreTheProcessLocale) {
  {
    qd::testing::CommaNumericLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no locale with a decimal comma can be had here";
    // A comma in LC_NUMERIC must not leak into the conversions themselves.
    EXPECT_EQ(FloatToText(0.01L, '.'), "0.01");
    EXPECT_EQ(FloatToText(0.01L, ','), "0,01");
    EXPECT_EQ(FloatToText(-2.5E-7L, '.'), "-2.5E-7");
    EXPECT_EQ(TextToFloat("0.5", '.'), 0.5L);
    EXPECT_EQ(TextToFloat("0,5", ','), 0.5L);
    EXPECT_THROW(TextToFloat("0,5", '.'), ConvertError);
  }
  EXPECT_EQ(LocaleDecimalSeparator(), '.');
}

TEST(NumberText, IntegersAreSignedThirtyTwoBit) {
  EXPECT_EQ(TextToInteger("0"), 0);
  EXPECT_EQ(TextToInteger("42"), 42);
  EXPECT_EQ(TextToInteger(" -17 "), -17);
  EXPECT_EQ(TextToInteger("+5"), 5);
  EXPECT_EQ(TextToInteger("2147483647"), 2147483647);
  EXPECT_EQ(TextToInteger("-2147483648"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(TextToInteger("000000000000000000000012"), 12);
  for (const char* bad : {"", " ", "2147483648", "-2147483649", "99999999999999999999", "1.5", "1e3", "--1",
                          "+", "12a", "1 2", "0x10"})
    EXPECT_THROW(TextToInteger(bad), ConvertError) << "'" << bad << "'";
}

TEST(NumberText, KeyFilterLetsThroughDigitsSeparatorsMinusAndBackspace) {
  for (char32_t c = U'0'; c <= U'9'; ++c) EXPECT_TRUE(KeyAccepted(c));
  for (char32_t c : {U',', U'-', U'.', char32_t{8}}) EXPECT_TRUE(KeyAccepted(c));
  for (char32_t c : {U'a', U'E', U'e', U'+', U' ', U'\r', U'\n', char32_t{3}, char32_t{22}, char32_t{24},
                     U'\u00B7', U'\uFF10'})
    EXPECT_FALSE(KeyAccepted(c)) << static_cast<unsigned>(c);
}

}  // namespace
}  // namespace qd
