// Variant conversions: the error numbers a dispatch conversion raises, the
// rounding of halves, what counts as True, and trimming.
#include "platform/variant.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace kevra {
namespace {

template <typename F>
int32_t ErrorOf(F&& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.Number();
    }
    return 0;
}

TEST(VariantTest, ToInt32RaisesOverflowMismatchAndNull) {
    EXPECT_EQ(Variant("2147483647").ToInt32(), 2147483647);
    EXPECT_EQ(Variant(" -2147483648 ").ToInt32(), -2147483647 - 1);
    EXPECT_EQ(ErrorOf([] { Variant("2147483648").ToInt32(); }), err::kOverflow);
    EXPECT_EQ(ErrorOf([] { Variant("-99999999999999999999").ToInt32(); }), err::kOverflow);
    EXPECT_EQ(ErrorOf([] { Variant(int64_t{1} << 31).ToInt32(); }), err::kOverflow);
    EXPECT_EQ(ErrorOf([] { Variant(2147483647.5).ToInt32(); }), err::kOverflow)
        << "rounds to the even 2147483648";
    EXPECT_EQ(ErrorOf([] { Variant(1e300).ToInt32(); }), err::kOverflow);
    EXPECT_EQ(ErrorOf([] { Variant("12abc").ToInt32(); }), err::kTypeMismatch);
    EXPECT_EQ(ErrorOf([] { Variant("").ToInt32(); }), err::kTypeMismatch);
    EXPECT_EQ(ErrorOf([] { Variant("0x10").ToInt32(); }), err::kTypeMismatch);
    EXPECT_EQ(ErrorOf([] { Variant::Null().ToInt32(); }), err::kInvalidUseOfNull);
    EXPECT_EQ(ErrorOf([] { Variant::Null().ToString(); }), err::kInvalidUseOfNull);
    EXPECT_EQ(Variant().ToInt32(), 0);
    EXPECT_EQ(Variant::Boolean(true).ToInt32(), -1);
}

TEST(VariantTest, HalvesRoundToEven) {
    const std::pair<double, int32_t> cases[] = {{0.5, 0},  {1.5, 2},   {2.5, 2},   {3.5, 4},
                                                {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {2.4999, 2}};
    for (auto [d, want] : cases) {
        EXPECT_EQ(Variant(d).ToInt32(), want) << d;
        EXPECT_EQ(Variant(std::to_string(d)).ToInt32(), want) << d;
    }
    EXPECT_EQ(Variant("-2147483648.5").ToInt32(), -2147483647 - 1);
    EXPECT_EQ(Variant(2.5).ToInt64(), 2);
}

TEST(VariantTest, ToInt64KeepsEveryDigitOfText) {
    EXPECT_EQ(Variant("9007199254740993").ToInt64(), 9007199254740993);
    EXPECT_EQ(Variant("9223372036854775807").ToInt64(), INT64_MAX);
    EXPECT_EQ(Variant(" -9223372036854775808").ToInt64(), INT64_MIN);
    EXPECT_EQ(ErrorOf([] { Variant("9223372036854775808").ToInt64(); }), err::kOverflow);
    EXPECT_EQ(Variant("2.5").ToInt64(), 2);
    EXPECT_EQ(ErrorOf([] { Variant("x").ToInt64(); }), err::kTypeMismatch);
}

TEST(VariantTest, OnlyMinusOneAndBooleanTrueEqualTrue) {
    EXPECT_TRUE(Variant::Boolean(true).EqualsTrue());
    EXPECT_TRUE(Variant(-1).EqualsTrue());
    EXPECT_TRUE(Variant(int64_t{-1}).EqualsTrue());
    EXPECT_TRUE(Variant(-1.0).EqualsTrue());
    EXPECT_FALSE(Variant(1).EqualsTrue());
    EXPECT_FALSE(Variant::Boolean(false).EqualsTrue());
    EXPECT_FALSE(Variant("True").EqualsTrue());
    EXPECT_FALSE(Variant("-1").EqualsTrue());
    EXPECT_FALSE(Variant::Null().EqualsTrue());
    EXPECT_FALSE(Variant().EqualsTrue());
}

TEST(VariantTest, TrimRemovesSpacesOnly) {
    EXPECT_EQ(Trim("  a b  "), "a b");
    EXPECT_EQ(Trim("\ta\t"), "\ta\t");
    EXPECT_EQ(Trim(" \n x \n "), "\n x \n");
    EXPECT_EQ(Trim("    "), "");
}

}  // namespace
}  // namespace kevra
