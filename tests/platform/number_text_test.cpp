// Number text: the formats written are byte for byte those printf writes in
// the C locale (checked against printf itself on many values), the reader
// takes what strtod takes in the C locale, and under a locale with a decimal
// comma the Variant conversions, JSON numbers and filter literals still use
// the point.
#include "platform/number_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>

#include "decimal_comma_locale.h"
#include "platform/error.h"
#include "platform/json.h"
#include "platform/recordset.h"
#include "platform/variant.h"

namespace kevra {
namespace {

using number_text::ParseResult;

std::string Printf(const char* format, int precision, double value) {
    char buf[400];
    std::snprintf(buf, sizeof buf, format, precision, value);
    return buf;
}

// Doubles of every kind: random bit patterns (subnormals, NaNs and
// infinities among them), whole numbers around 1e15, halves, and values
// whose %.15g rounds up to the next power of ten.
std::vector<double> Samples() {
    std::vector<double> values = {0.0,
                                  -0.0,
                                  0.5,
                                  -2.5,
                                  2527.5,
                                  0.1,
                                  1.0 / 3,
                                  1e15,
                                  1e15 - 1,
                                  1e15 + 0.5,
                                  1e300,
                                  1e-300,
                                  5e-324,
                                  9.9999999999999995e22,
                                  999999999999999.9,
                                  1e21,
                                  123456789012345678.0,
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    std::mt19937_64 random(17);
    for (int i = 0; i < 20000; ++i) values.push_back(std::bit_cast<double>(random()));
    std::uniform_real_distribution<double> moderate(-1e6, 1e6);
    for (int i = 0; i < 20000; ++i) values.push_back(moderate(random));
    for (int i = 0; i < 2000; ++i) values.push_back(std::round(moderate(random) * 4) / 4);
    return values;
}

TEST(NumberTextTest, FormatsAsPrintfDoesInTheCLocale) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    for (double d : Samples()) {
        for (int precision : {1, 6, 15, 17})
            ASSERT_EQ(number_text::General(d, precision), Printf("%.*g", precision, d))
                << precision << " " << std::bit_cast<uint64_t>(d);
        for (int decimals : {0, 2})
            ASSERT_EQ(number_text::Fixed(d, decimals), Printf("%.*f", decimals, d))
                << decimals << " " << std::bit_cast<uint64_t>(d);
    }
}

TEST(NumberTextTest, ShortestIsTheFirstPrecisionThatReadsBack) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    for (double d : Samples()) {
        if (!std::isfinite(d)) continue;
        std::string want;
        for (int precision = 1; precision <= 17; ++precision) {
            want = Printf("%.*g", precision, d);
            if (std::strtod(want.c_str(), nullptr) == d) break;
        }
        ASSERT_EQ(number_text::Shortest(d), want) << std::bit_cast<uint64_t>(d);
    }
    EXPECT_EQ(number_text::Shortest(0.1), "0.1");
    EXPECT_EQ(number_text::Shortest(1e300), "1e+300");
}

TEST(NumberTextTest, ParseDoubleReadsWhatStrtodReadsAndNothingMore) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    for (const char* text : {"0", "-0", "+5", "2.5", "-2.5", ".5", "5.", "+.5e3", "1E5", "1e-5",
                             "007", "0.1", "2527.5", "1e308", "4.9406564584124654e-324",
                             "123456789012345678901234567890", "1.7976931348623157e308"}) {
        double got = -7;
        EXPECT_EQ(number_text::ParseDouble(text, got), ParseResult::Ok) << text;
        const double want = std::strtod(text, nullptr);
        EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(want)) << text;
    }
    for (const char* text : {"", "-", "+", ".", "e5", ".e5", "1e", "1e+", "1.2.3", " 1", "1 ",
                             "1,5", "0x10", "inf", "nan", "--1", "+-1", "1e5.5", "1f"}) {
        double got = -7;
        EXPECT_EQ(number_text::ParseDouble(text, got), ParseResult::NotANumber) << text;
        EXPECT_EQ(got, -7) << text;
    }
}

TEST(NumberTextTest, ParseDoubleOutOfRangeGivesInfinityOrZeroOfItsSign) {
    const std::pair<const char*, double> cases[] = {{"1e400", HUGE_VAL},
                                                    {"-1e400", -HUGE_VAL},
                                                    {"1e999999999999999999999", HUGE_VAL},
                                                    {"0.000000000000000000001e330", HUGE_VAL},
                                                    {"1e-400", 0.0},
                                                    {"-1e-400", -0.0},
                                                    {"123456e-330", 0.0},
                                                    {"1e-99999999999999999999", 0.0},
                                                    {"2.4703282292062327e-324", 0.0}};
    for (auto [text, want] : cases) {
        double got = -7;
        EXPECT_EQ(number_text::ParseDouble(text, got), ParseResult::OutOfRange) << text;
        EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(want)) << text;
    }
    double got = 0;
    EXPECT_EQ(number_text::ParseDouble(std::string(400, '9'), got), ParseResult::OutOfRange);
    EXPECT_EQ(got, HUGE_VAL);
}

TEST(NumberTextTest, ParseIntegerTakesSignAndDigitsOnly) {
    int64_t v = 0;
    EXPECT_EQ(number_text::ParseInteger("9223372036854775807", v), ParseResult::Ok);
    EXPECT_EQ(v, INT64_MAX);
    EXPECT_EQ(number_text::ParseInteger("-9223372036854775808", v), ParseResult::Ok);
    EXPECT_EQ(v, INT64_MIN);
    EXPECT_EQ(number_text::ParseInteger("+42", v), ParseResult::Ok);
    EXPECT_EQ(v, 42);
    EXPECT_EQ(number_text::ParseInteger("9223372036854775808", v), ParseResult::OutOfRange);
    EXPECT_EQ(number_text::ParseInteger("-99999999999999999999", v), ParseResult::OutOfRange);
    EXPECT_EQ(v, 42) << "left as it was";
    for (const char* text : {"", "-", "+", "+-1", "-+1", "1.0", "1e3", " 1", "1 ", "0x1", "١"})
        EXPECT_EQ(number_text::ParseInteger(text, v), ParseResult::NotANumber) << text;
}

// Under a German desktop's locale, the C library writes and reads 2,5; the
// control must not follow it.
class DecimalCommaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!locale_.ok()) GTEST_SKIP() << locale_.why();
        char buf[16];
        std::snprintf(buf, sizeof buf, "%g", 2.5);
        ASSERT_STREQ(buf, "2,5") << "the locale " << locale_.name() << " writes no comma";
    }
    locale_test::ScopedDecimalCommaLocale locale_;
};

TEST_F(DecimalCommaTest, VariantWritesAndReadsThePoint) {
    EXPECT_EQ(Variant(2.5).ToString(), "2.5");
    EXPECT_EQ(Variant(-0.125).ToString(), "-0.125");
    EXPECT_EQ(Variant(1.0 / 3).ToString(), "0.333333333333333");
    EXPECT_EQ(Variant(2527.0).ToString(), "2527");
    EXPECT_EQ(Variant(2.5).Describe(), "2.5");
    EXPECT_EQ(Variant("3.5").ToDouble(), 3.5);
    EXPECT_EQ(Variant(" -1.25e2 ").ToDouble(), -125);
    EXPECT_EQ(Variant("3.5").ToInt32(), 4) << "halves to even, as under C";
    EXPECT_EQ(Variant("2.5").ToInt64(), 2);
    EXPECT_EQ(Variant("9007199254740993").ToInt64(), 9007199254740993);
    int32_t error = 0;
    try {
        Variant("3,5").ToDouble();
    } catch (const RuntimeError& e) {
        error = e.Number();
    }
    EXPECT_EQ(error, err::kTypeMismatch) << "the desktop's comma is not a decimal point here";
}

TEST_F(DecimalCommaTest, JsonNumbersKeepThePoint) {
    EXPECT_EQ(json::Number(2527.5), "2527.5");
    EXPECT_EQ(json::Number(0.1), "0.1");
    EXPECT_EQ(json::Number(-60.5), "-60.5");
    EXPECT_EQ(json::Number(1e300), "1e+300");
}

TEST_F(DecimalCommaTest, FilterLiteralsReadThePoint) {
    TableBuilder b({"Id", "N"});
    b.AddRow({1, 2.5});
    b.AddRow({2, 3});
    b.AddRow({3, 2});
    auto rs = Recordset::Open(b.Build());
    rs->Filter("N = 2.5 OR N > 2.75");
    std::vector<int32_t> ids;
    for (; !rs->Eof(); rs->MoveNext()) ids.push_back(rs->Fields("Id").Value().ToInt32());
    EXPECT_EQ(ids, (std::vector<int32_t>{1, 2}));
}

TEST_F(DecimalCommaTest, NumberTextIgnoresTheLocale) {
    EXPECT_EQ(number_text::General(2.5, 15), "2.5");
    EXPECT_EQ(number_text::Fixed(2.5, 2), "2.50");
    double d = 0;
    EXPECT_EQ(number_text::ParseDouble("2.5", d), ParseResult::Ok);
    EXPECT_EQ(d, 2.5);
    EXPECT_EQ(number_text::ParseDouble("2,5", d), ParseResult::NotANumber);
}

}  // namespace
}  // namespace kevra
