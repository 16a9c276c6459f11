// Base price arithmetic and its text.
#include <gtest/gtest.h>

#include "services/posting_values.h"

namespace qz::services {
namespace {

Variant money(const char* text) {
  Currency c;
  EXPECT_TRUE(Currency::parse(text, &c)) << text;
  return Variant(c);
}

TEST(BasePriceTest, CurrencyStaysCurrencyRoundedHalfToEven) {
  EXPECT_EQ(formatBasePrice(money("30"), 12), "2.5");
  EXPECT_EQ(formatBasePrice(money("10"), 3), "3.3333");
  EXPECT_EQ(formatBasePrice(money("20"), 3), "6.6667");
  EXPECT_EQ(formatBasePrice(money("0.0001"), 2), "0");       // 0.00005 -> even 0
  EXPECT_EQ(formatBasePrice(money("0.0003"), 2), "0.0002");  // 0.00015 -> even 0.0002
  EXPECT_EQ(formatBasePrice(money("36"), 12), "3");
  EXPECT_EQ(formatBasePrice(money("12.5"), -5), "-2.5");
}

TEST(BasePriceTest, OtherNumbersGiveDoublesWithFifteenDigitsAndNoExponent) {
  EXPECT_EQ(formatBasePrice(Variant(30.0), 12), "2.5");
  EXPECT_EQ(formatBasePrice(Variant(int32_t{30}), 12), "2.5");
  EXPECT_EQ(formatBasePrice(Variant(1.0), 3), "0.333333333333333");
  EXPECT_EQ(formatBasePrice(Variant(2.0), 3), "0.666666666666667");
  EXPECT_EQ(formatBasePrice(Variant(1e-7), 1), "0.0000001");
  EXPECT_EQ(formatBasePrice(Variant(1e20), 1), "100000000000000000000");
  EXPECT_EQ(formatBasePrice(Variant(123456.789), 1), "123456.789");
  EXPECT_EQ(formatBasePrice(Variant::decimal("7.5"), 3), "2.5");
  EXPECT_EQ(formatBasePrice(Variant("45"), 2), "22.5");
}

TEST(BasePriceTest, ZeroFactorAndNonNumbersFail) {
  EXPECT_THROW(formatBasePrice(money("30"), 0), std::domain_error);
  EXPECT_THROW(formatBasePrice(Variant(30.0), 0), std::domain_error);
  EXPECT_THROW(formatBasePrice(Variant("abc"), 2), VariantError);
  EXPECT_THROW(formatBasePrice(Variant::null(), 2), VariantError);
}

TEST(TodayTextTest, IsoYearMonthDay) {
  const std::string t = todayText();
  ASSERT_EQ(t.size(), 10u);
  DateTime parsed;
  ASSERT_TRUE(DateTime::parse(t, &parsed));
  EXPECT_EQ(parsed, DateTime::today());
}

}  // namespace
}  // namespace qz::services
