// Base price arithmetic and its text.
#include "services/posting_values.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/platform/pg_oracle.h"

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

// Currency prices over every kind of factor, compared with the server's
// exact numeric division rounded half to even: ties of both signs, large
// factors, and the currency range's ends (a result outside it is refused).
TEST(BasePriceTest, CurrencyDivisionMatchesPostgresNumeric) {
  auto pg = qz::testing::PgOracle::connect();
  if (!pg) GTEST_SKIP() << "PostgreSQL test server not configured: oracle comparison skipped";
  std::mt19937_64 rng(20261209);
  auto pick = [&](int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
  };
  const int64_t kMin = INT64_MIN, kMax = INT64_MAX;
  std::vector<std::pair<int64_t, int32_t>> cases = {{3, -2},           {-3, 2},          {kMin, -1},
                                                    {kMin, 1},         {kMax, -1},       {kMin, 2},
                                                    {kMin, INT32_MIN}, {kMax, INT32_MAX}};
  for (int i = 0; i < 3000; ++i) {
    const int64_t mag = i % 3 == 0 ? 100 : i % 3 == 1 ? 100000000 : kMax;
    const int32_t factor =
        static_cast<int32_t>(i % 5 ? pick(1, 40) : pick(1, INT32_MAX)) * (pick(0, 1) ? 1 : -1);
    cases.emplace_back(pick(-mag, mag), factor);
  }
  std::vector<std::string> inputs;
  for (auto [scaled, factor] : cases)
    inputs.push_back(Currency{scaled}.toFixed4() + "," + std::to_string(factor));
  // NULL where the quotient leaves the currency range.
  const auto want = pg->answers(
      "(select case when q between -922337203685477.5808 and 922337203685477.5807 then "
      "trim_scale(q)::text end from (select pg_temp.half_even(split_part(x, ',', 1)::numeric(40, "
      "20) * "
      "10000 / split_part(x, ',', 2)::int) / 10000 as q) r)",
      inputs);
  int failures = 0;
  for (size_t i = 0; i < cases.size() && failures < 20; ++i) {
    std::string got;
    try {
      got = formatBasePrice(Variant(Currency{cases[i].first}), cases[i].second);
    } catch (const std::exception&) {
      got = "refused";
    }
    if (got != want[i].value_or("refused")) {
      ++failures;
      ADD_FAILURE() << inputs[i] << ": ours " << got << ", server " << want[i].value_or("refused");
    }
  }
}

TEST(BasePriceTest, OtherNumbersGiveDoublesWithFifteenDigitsAndNoExponent) {
  EXPECT_EQ(formatBasePrice(Variant(30.0), 12), "2.5");
  EXPECT_EQ(formatBasePrice(Variant(int32_t{30}), 12), "2.5");
  EXPECT_EQ(formatBasePrice(Variant(1.0), 3), "0.333333333333333");
  EXPECT_EQ(formatBasePrice(Variant(2.0), 3), "0.666666666666667");
  EXPECT_EQ(formatBasePrice(Variant(1e-7), 1), "0.0000001");
  EXPECT_EQ(formatBasePrice(Variant(1e14), 1), "100000000000000");
  EXPECT_EQ(formatBasePrice(Variant(123456.789), 1), "123456.789");
  EXPECT_EQ(formatBasePrice(Variant::decimal("7.5"), 3), "2.5");
  EXPECT_EQ(formatBasePrice(Variant("45"), 2), "22.5");
}

TEST(BasePriceTest, ZeroFactorAndNonNumbersFail) {
  EXPECT_THROW(formatBasePrice(money("30"), 0), std::domain_error);
  EXPECT_THROW(formatBasePrice(Variant(30.0), 0), std::domain_error);
  EXPECT_THROW(formatBasePrice(Variant("abc"), 2), VariantError);
  EXPECT_THROW(formatBasePrice(Variant::null(), 2), VariantError);
  // The base price goes into a money column.
  EXPECT_THROW(formatBasePrice(Variant("1e308"), 1), std::range_error);
  EXPECT_THROW(formatBasePrice(Variant(1e15), 1), std::range_error);
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
