// Currency, decimal and date-time conversions compared one by one with the
// PostgreSQL server's own numeric and timestamp input (and <chrono>'s
// calendar) over a few thousand generated texts and JSON numbers.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <charconv>
#include <chrono>
#include <random>

#include "platform/packet/json_values.h"
#include "tests/platform/pg_oracle.h"

namespace qz {
namespace {

using testing::PgOracle;

// The input rounded half to even at four decimals, as a scaled integer text.
constexpr char kScaledHalfEven[] = "pg_temp.half_even(x::numeric * 10000)::text";
// The input's value as canonical decimal text.
constexpr char kCanonicalDecimal[] = "trim_scale(x::numeric)::text";

// The currency the server computed, or nullopt when it leaves the currency range.
std::optional<int64_t> scaledOf(const std::string& text) {
  int64_t v;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || p != text.data() + text.size()) return std::nullopt;
  return v;
}

class ValueOracleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pg_ = PgOracle::connect();
    if (!pg_) GTEST_SKIP() << "PostgreSQL test server not configured: oracle comparisons skipped";
  }

  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  std::string digits(int n) {
    std::string s;
    while (n-- > 0) s += static_cast<char>('0' + pick(0, 9));
    return s;
  }
  const char* sign() { return pick(0, 2) == 0 ? "-" : pick(0, 5) == 0 ? "+" : ""; }

  // Decimal texts: random digits, a 5 at every position after the point
  // (alone or followed by more digits), and the currency range's ends.
  std::vector<std::string> decimalTexts() {
    std::vector<std::string> out = {"922337203685477.5807",
                                    "-922337203685477.5808",
                                    "922337203685477.5808",
                                    "-922337203685477.5809",
                                    "922337203685477.580749",
                                    "922337203685477.58075",
                                    "-922337203685477.58085",
                                    "9223372036854775807",
                                    "99999999999999999999.5",
                                    "0",
                                    "-0",
                                    "+0.00005",
                                    ".5",
                                    "5.",
                                    "-.00015",
                                    "0.000051"};
    for (int pos = 1; pos <= 9; ++pos)
      for (const char* tail : {"", "0", "000001", "9"})
        for (int k = 0; k < 4; ++k)
          out.push_back(sign() + digits(pick(1, 3)) + "." + digits(pos - 1) + "5" + tail);
    for (int i = 0; i < 3000; ++i) {
      const int whole = pick(0, 16), frac = pick(whole == 0 ? 1 : 0, 9);
      out.push_back(sign() + digits(whole) + (frac || pick(0, 3) == 0 ? "." : "") + digits(frac));
    }
    return out;
  }

  std::unique_ptr<PgOracle> pg_;
  std::mt19937_64 rng_{20261209};
};

TEST_F(ValueOracleTest, CurrencyAndDecimalTextsRoundAsPostgresNumericDoes) {
  const std::vector<std::string> texts = decimalTexts();
  const auto scaled = pg_->answers(kScaledHalfEven, texts);
  const auto canonical = pg_->answers(kCanonicalDecimal, texts);
  int failures = 0;
  for (size_t i = 0; i < texts.size() && failures < 20; ++i) {
    const std::optional<int64_t> want = scaledOf(*scaled[i]);
    Currency c{-1};
    const bool ok = Currency::parse(texts[i], &c);
    std::string decimal;
    ASSERT_TRUE(provider::normalizeDecimal(texts[i], &decimal)) << texts[i];
    if (ok != want.has_value() || (ok && c.scaled != *want) || decimal != *canonical[i]) {
      ++failures;
      ADD_FAILURE() << "'" << texts[i] << "': currency " << (ok ? c.toFixed4() : "refused")
                    << ", server " << *scaled[i] << " (scaled); decimal " << decimal << ", server "
                    << *canonical[i];
    }
  }
}

// JSON numbers for currency and decimal fields take the value of their
// text. Numbers keep at most 15 significant digits, all a double holds.
TEST_F(ValueOracleTest, JsonNumbersRoundAsTheirTextDoes) {
  std::vector<std::string> texts = {
      "19.99",         "0.00015", "-0.00015", "0.000051",   "1234567890.12345",
      "123456789.123", "1e-11",   "2.5e-4",   "-1.99995E2", "922337203685477"};
  for (int i = 0; i < 2000; ++i) {
    const int whole = pick(1, 11), frac = pick(0, 15 - whole);
    std::string t = (pick(0, 2) ? "" : "-") +
                    (whole == 1 ? digits(1) : std::to_string(pick(1, 9)) + digits(whole - 1));
    if (frac) t += "." + digits(frac - 1) + (pick(0, 2) ? "5" : digits(1));
    if (pick(0, 9) == 0) t += "e" + std::to_string(pick(-6, 3));
    texts.push_back(t);
  }
  const auto scaled = pg_->answers(kScaledHalfEven, texts);
  const auto canonical = pg_->answers(kCanonicalDecimal, texts);
  std::string json = "[";
  for (const std::string& t : texts) json += (json.size() > 1 ? "," : "") + t;
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseFullPrecisionFlag>((json + "]").c_str());
  ASSERT_FALSE(doc.HasParseError());
  db::FieldDef money, decimal;
  money.name = "price";
  money.type = db::FieldType::Currency;
  decimal.name = "rate";
  decimal.type = db::FieldType::Decimal;
  int failures = 0;
  for (size_t i = 0; i < texts.size() && failures < 20; ++i) {
    const Variant c = provider::readTypedValue(doc[static_cast<unsigned>(i)], money);
    const Variant d = provider::readTypedValue(doc[static_cast<unsigned>(i)], decimal);
    if (c.asCurrency().scaled != scaledOf(*scaled[i]) || d.asString() != *canonical[i]) {
      ++failures;
      ADD_FAILURE() << texts[i] << ": currency " << c.asCurrency().toFixed4() << ", server "
                    << *scaled[i] << " (scaled); decimal " << d.asString() << ", server "
                    << *canonical[i];
    }
  }
}

// Date-time texts in the forms DateTime::parse reads, with fields at and
// beyond their limits. Ours accepts what the server accepts, except two
// readings the server allows and we refuse: 24:00:00 as the next midnight
// and second 60 as a leap second. Sub-millisecond digits are dropped.
TEST_F(ValueOracleTest, DateTimeTextsReadAsPostgresTimestampAndChronoDo) {
  struct Parts {
    int y, mo, d, h, mi, s;
  };
  std::vector<std::string> texts;
  std::vector<Parts> parts;
  const int years[] = {1, 4, 100, 1600, 1700, 1900, 2000, 2023, 2024, 2100, 9999};
  auto two = [](int v) { return std::string(1, char('0' + v / 10)) + char('0' + v % 10); };
  for (int i = 0; i < 3000; ++i) {
    Parts p{
        pick(0, 1) ? years[pick(0, 10)] : pick(1, 9999), pick(0, 13),
        pick(0, 3) ? pick(27, 32) : pick(0, 32),         pick(0, 1) ? pick(22, 25) : pick(0, 23),
        pick(0, 1) ? pick(58, 61) : pick(0, 59),         pick(0, 1) ? pick(58, 61) : pick(0, 59)};
    char y[8];
    std::snprintf(y, sizeof y, "%04d", p.y);
    std::string t = std::string(y) + "-" + two(p.mo) + "-" + two(p.d);
    const int form = pick(0, 3);  // date; + HH:MM; + :SS; + .fraction
    if (form == 0) p.h = p.mi = p.s = 0;
    if (form >= 1) t += (pick(0, 1) ? " " : "T") + two(p.h) + ":" + two(p.mi);
    if (form == 1) p.s = 0;
    if (form >= 2) t += ":" + two(p.s);
    if (form == 3) t += "." + digits(pick(1, 6));
    texts.push_back(t);
    parts.push_back(p);
  }
  const auto server = pg_->answers("pg_temp.try_timestamp(x)", texts);
  int failures = 0;
  for (size_t i = 0; i < texts.size() && failures < 20; ++i) {
    const Parts& p = parts[i];
    namespace c = std::chrono;
    const c::year_month_day ymd{c::year(p.y), c::month(p.mo), c::day(p.d)};
    const bool calendarOk = ymd.ok() && p.h < 24 && p.mi < 60 && p.s < 60;
    const bool serverOk = server[i].has_value() && p.h < 24 && p.s < 60;
    ASSERT_EQ(serverOk, calendarOk) << texts[i] << ": the two oracles disagree";
    DateTime t{-1};
    const bool ok = DateTime::parse(texts[i], &t);
    const int64_t fromChrono = calendarOk ? (c::sys_days(ymd).time_since_epoch().count() * 86400LL +
                                             p.h * 3600 + p.mi * 60 + p.s) *
                                                1000
                                          : 0;
    if (ok != serverOk || (ok && (t.toIso() != *server[i] ||
                                  t.msecs - (t.msecs % 1000 + 1000) % 1000 != fromChrono))) {
      ++failures;
      ADD_FAILURE() << texts[i] << ": ours " << (ok ? t.toIso() : "refused") << ", server "
                    << server[i].value_or("refused");
    }
  }
}

}  // namespace
}  // namespace qz
