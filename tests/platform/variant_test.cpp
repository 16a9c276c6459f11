// The variant's conversions with the platform's semantics: banker's
// rounding, range checks, Null versus Unassigned, date-time and money text.
#include "platform/core/variant.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qz {
namespace {

TEST(VariantTest, NullAndUnassignedAreDifferentKindsAndNeitherConverts) {
  EXPECT_FALSE(Variant() == Variant::null());
  EXPECT_TRUE(Variant().isEmpty() && Variant::null().isEmpty());
  EXPECT_THROW(Variant::null().toInt32(), VariantError);
  EXPECT_THROW(Variant().toText(), VariantError);
  EXPECT_THROW(Variant::null().toDouble(), VariantError);
  EXPECT_FALSE(Variant::null().equalsNumber(0));
  EXPECT_FALSE(Variant().equalsNumber(0));
  EXPECT_THROW(Variant(VariantArray{Variant(1)}).toInt32(), VariantError);
}

TEST(VariantTest, IntegerConversionRoundsHalfToEvenAndChecksRange) {
  EXPECT_EQ(Variant(2.5).toInt32(), 2);
  EXPECT_EQ(Variant(3.5).toInt32(), 4);
  EXPECT_EQ(Variant(-2.5).toInt32(), -2);
  EXPECT_EQ(Variant(Currency{25000}).toInt32(), 2);    // 2.5
  EXPECT_EQ(Variant(Currency{35000}).toInt32(), 4);    // 3.5
  EXPECT_EQ(Variant(Currency{-15000}).toInt32(), -2);  // -1.5
  EXPECT_EQ(Variant(" 17 ").toInt32(), 17);
  EXPECT_EQ(Variant("2.5").toInt32(), 2);
  EXPECT_THROW(Variant("abc").toInt32(), VariantError);
  EXPECT_THROW(Variant(int64_t(1) << 40).toInt32(), VariantError);
  EXPECT_THROW(Variant(1e30).toInt64(), VariantError);
  EXPECT_EQ(Variant(true).toInt32(), -1);
  EXPECT_EQ(Variant(int16_t(-3)).toInt64(), -3);
}

TEST(VariantTest, CurrencyParsesRoundsAndPrints) {
  Currency c;
  ASSERT_TRUE(Currency::parse("12.34", &c));
  EXPECT_EQ(c.toFixed4(), "12.3400");
  EXPECT_EQ(c.toPlain(), "12.34");
  ASSERT_TRUE(Currency::parse("-0.00005", &c));  // half to even at four decimals
  EXPECT_EQ(c.scaled, 0);
  ASSERT_TRUE(Currency::parse("0.00015", &c));
  EXPECT_EQ(c.scaled, 2);
  EXPECT_FALSE(Currency::parse("1.2.3", &c));
  EXPECT_FALSE(Currency::parse("", &c));
  EXPECT_EQ(Currency::fromDouble(0.1 + 0.2).toFixed4(), "0.3000");
  EXPECT_EQ(Currency{-5}.toFixed4(), "-0.0005");
  EXPECT_EQ(Variant(Currency{30000}).toText(), "3");
}

TEST(VariantTest, CurrencyConversionsRefuseValuesOutsideTheRange) {
  Currency c;
  struct Text {
    const char* text;
    bool ok;
  };
  for (const Text& t : {Text{"922337203685477.5807", true}, Text{"-922337203685477.5808", true},
                        Text{"922337203685477.5808", false}, Text{"-922337203685477.5809", false},
                        Text{"1000000000000000", false}})
    EXPECT_EQ(Currency::parse(t.text, &c), t.ok) << t.text;
  struct Number {
    double d;
    bool ok;
  };
  for (const Number& n : {Number{922337203685477.0, true}, Number{-922337203685477.0, true},
                          Number{922337203685477.6, false}, Number{1e15, false},
                          Number{-1e300, false}, Number{HUGE_VAL, false}, Number{NAN, false}})
    EXPECT_EQ(Currency::fromDouble(n.d, &c), n.ok) << n.d;
  EXPECT_TRUE(Currency::fromUnits(922337203685477, &c));
  EXPECT_FALSE(Currency::fromUnits(922337203685478, &c));
  EXPECT_FALSE(Currency::fromUnits(INT64_MIN, &c));
}

TEST(VariantTest, DateTimeParsesWireAndDatabaseFormsAndRejectsOthers) {
  DateTime d;
  ASSERT_TRUE(DateTime::parse("2026-12-09T10:15:30.007", &d));
  EXPECT_EQ(d.toIso(), "2026-12-09T10:15:30.007");
  EXPECT_EQ(d.toSql(), "2026-12-09 10:15:30.007");
  ASSERT_TRUE(DateTime::parse("2026-12-09", &d));
  EXPECT_EQ(d.toIso(), "2026-12-09T00:00:00.000");
  EXPECT_EQ(Variant(d).toText(), "2026-12-09");
  ASSERT_TRUE(DateTime::parse("2024-02-29 23:59", &d));
  EXPECT_EQ(d.dateText(), "2024-02-29");
  ASSERT_TRUE(DateTime::parse("2000-02-29", &d));  // a leap century
  EXPECT_EQ(d.dateText(), "2000-02-29");
  const DateTime kept = d;
  for (const char* bad : {"2026-13-01", "2026-02-30", "2023-02-29", "1900-02-29", "2026-04-31",
                          "2026-12-00", "09/12/2026", "2026-12-09X", ""}) {
    EXPECT_FALSE(DateTime::parse(bad, &d)) << bad;
    EXPECT_EQ(d, kept) << bad << " changed the output";
  }
  for (const char* good : {"2026-01-31", "2026-12-31 23:59:59.999", "0000-02-29"})
    EXPECT_TRUE(DateTime::parse(good, &d)) << good;
  DateTime before = DateTime::fromParts(1899, 12, 30);
  int y, m, day, h, mi, s, ms;
  before.toParts(&y, &m, &day, &h, &mi, &s, &ms);
  EXPECT_EQ(y * 10000 + m * 100 + day, 18991230);
  EXPECT_LT(before, DateTime::fromParts(1970, 1, 1));
}

// Every reader of date texts goes through ParseDateText: the table says what
// it takes, what it refuses, and which texts are the canonical form.
TEST(DateTextTest, AcceptsTheDayAndTimeFormsAndRefusesDaysNoCalendarHas) {
  struct Case {
    const char* text;
    bool ok;
    int ymd = 0;  // year * 10000 + month * 100 + day
    bool canonical = false;
    int hmsm = 0;  // hour * 10000000 + minute * 100000 + second * 1000 + millisecond
  };
  for (const Case& c :
       std::initializer_list<Case>{{"2026-01-31", true, 20260131, true},
                                   {" 2026-1-5\t", true, 20260105, false},
                                   {"2024/2/29", true, 20240229, false},
                                   {"26/01/31", true, 260131, false},
                                   {"2026-12-09T10:15:30.0079", true, 20261209, true, 101530007},
                                   {"2026/12/9 23:59", true, 20261209, false, 235900000},
                                   {"0000-02-29", true, 229, true},
                                   {"2026-02-30", false},
                                   {"2026-13-01", false},
                                   {"2023-02-29", false},
                                   {"1900-02-29", false},
                                   {"2026-00-10", false},
                                   {"2026-01-00", false},
                                   {"2026-01/01", false},
                                   {"20260-01-01", false},
                                   {"2026-001-01", false},
                                   {"+2026-01-01", false},
                                   {"2026-01-01x", false},
                                   {"2026-01-01 24:00", false},
                                   {"2026-01-01 10:60", false},
                                   {"2026-01-01 1:05", false},
                                   {"2026-01-01 10:05:", false},
                                   {"2026-01-01 10:05:07.", false},
                                   {"09/12/2026", false},
                                   {"", false}}) {
    DateText t;
    t.hour = -1;
    ASSERT_EQ(ParseDateText(c.text, &t), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_EQ(t.hour, -1) << c.text << " changed the output";
      continue;
    }
    const int ymd = static_cast<int>(t.day.year()) * 10000 +
                    static_cast<int>(unsigned{t.day.month()}) * 100 +
                    static_cast<int>(unsigned{t.day.day()});
    EXPECT_EQ(ymd, c.ymd) << c.text;
    EXPECT_EQ(t.canonical, c.canonical) << c.text;
    EXPECT_EQ(t.hour * 10000000 + t.minute * 100000 + t.second * 1000 + t.msec, c.hmsm) << c.text;
    DateTime d;
    EXPECT_EQ(DateTime::parse(c.text, &d), c.canonical) << c.text;
  }
}

TEST(VariantTest, NumericComparisonFollowsThePlatform) {
  EXPECT_TRUE(Variant(int32_t(0)).equalsNumber(0));
  EXPECT_TRUE(Variant("0").equalsNumber(0));
  EXPECT_TRUE(Variant(" 0.0 ").equalsNumber(0));
  EXPECT_FALSE(Variant("abc").equalsNumber(0));
  EXPECT_TRUE(Variant(Currency{0}).equalsNumber(0));
  EXPECT_FALSE(Variant(DateTime{}).equalsNumber(0));
}

TEST(VariantTest, ArraysCompareByElementsAndShareStorage) {
  Variant a(VariantArray{Variant("购进"), Variant(int32_t(-1))});
  Variant b = a;
  EXPECT_EQ(a, b);
  EXPECT_EQ(&a.asArray(), &b.asArray());
  EXPECT_EQ(a.asArray()[0].toText(), "购进");
  EXPECT_FALSE(a == Variant(VariantArray{Variant("购进")}));
}

}  // namespace
}  // namespace qz
