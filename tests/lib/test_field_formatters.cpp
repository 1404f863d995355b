#include <gtest/gtest.h>

#include <string>

#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/dataset/Table.h"
#include "lib/util_oracle/dbFieldOptimiser.h"
#include "lib/util_string/u_strings.h"

using namespace brenvo;

namespace {

// Fixes the clock for one test and frees it afterwards.
class FixedToday {
public:
    FixedToday(int y, int m, int d) { SetFixedNow(EncodeDateTime(y, m, d, 14, 30)); }
    ~FixedToday() { SetFixedNow(std::nullopt); }
};

std::string DateText(TDateTime d) { return FormatDDMMYYYY(d); }

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

// ------------------------------------------------------------ date reader

TEST(StrToKelmarDateTest, AllFormsOfOneDateAgree) {
    FixedToday today(2010, 6, 15);
    for (const char* typed : {"0512", "051210", "05122010", "5.12.2010", "05.12.10", " 5.12.2010 "})
        EXPECT_EQ(DateText(StrToKelmarDate(typed)), "05.12.2010") << typed;
}

TEST(StrToKelmarDateTest, DDMMTakesThisYearEvenWhenTheDayHasPassed) {
    FixedToday today(2010, 12, 31);
    EXPECT_EQ(DateText(StrToKelmarDate("0512")), "05.12.2010");
    EXPECT_EQ(DateText(StrToKelmarDate("0101")), "01.01.2010");
}

TEST(StrToKelmarDateTest, DateWithoutYearBeforeTodayIsNextYears) {
    {
        FixedToday today(2010, 12, 10);
        EXPECT_EQ(DateText(StrToKelmarDate("5.12")), "05.12.2011");
        EXPECT_EQ(DateText(StrToKelmarDate("5.12.")), "05.12.2011");
        EXPECT_EQ(DateText(StrToKelmarDate("10.12")), "10.12.2010");   // today itself stays
        EXPECT_EQ(DateText(StrToKelmarDate("11.12.")), "11.12.2010");
    }
    {
        FixedToday today(2010, 12, 1);
        EXPECT_EQ(DateText(StrToKelmarDate("5.12")), "05.12.2010");
    }
    {
        // around the turn of the year
        FixedToday today(2010, 12, 31);
        EXPECT_EQ(DateText(StrToKelmarDate("2.1.")), "02.01.2011");
        EXPECT_EQ(DateText(StrToKelmarDate("31.12")), "31.12.2010");
    }
    {
        FixedToday today(2011, 1, 1);
        EXPECT_EQ(DateText(StrToKelmarDate("31.12")), "31.12.2011");
        EXPECT_EQ(DateText(StrToKelmarDate("1.1")), "01.01.2011");
    }
    {
        // 29 February without year, typed before it in a leap year
        FixedToday today(2024, 2, 1);
        EXPECT_EQ(DateText(StrToKelmarDate("29.2")), "29.02.2024");
    }
}

TEST(StrToKelmarDateTest, TwoDigitYearsAreThisCentury) {
    FixedToday today(2010, 6, 15);
    EXPECT_EQ(DateText(StrToKelmarDate("01.01.50")), "01.01.2050");
    EXPECT_EQ(DateText(StrToKelmarDate("01.01.1950")), "01.01.1950");
    EXPECT_EQ(DateText(StrToKelmarDate("010150")), "01.01.2050");
    EXPECT_EQ(DateText(StrToKelmarDate("01011950")), "01.01.1950");
    EXPECT_EQ(DateText(StrToKelmarDate("1.1.0")), "01.01.2000");
}

TEST(StrToKelmarDateTest, FailuresCarryTheUs004MessageWithTheTrimmedText) {
    FixedToday today(2010, 6, 15);
    EXPECT_EQ(ErrorOf([] { StrToKelmarDate(" 31.02.2010 "); }),
              "\"31.02.2010\" kann nicht in ein Datum konvertiert werden.");
    for (const char* bad : {"5.", "12345", "123", "abcd", "5.x.2010", "1.13.2010", "0.1.2010", "-1.1.2010",
                            "5..2010", "1.1.-5", "", "5.12.2010.1", "3202"})
        EXPECT_EQ(ErrorOf([&] { StrToKelmarDate(bad); }),
                  "\"" + std::string(bad) + "\" kann nicht in ein Datum konvertiert werden.")
            << bad;
}

TEST(StrToKelmarDateTest, TranslatedMessageReplacesTheDefault) {
    SetMessageText("us004", "Kein Datum: %s");
    EXPECT_EQ(ErrorOf([] { StrToKelmarDate("xx"); }), "Kein Datum: xx");
    SetMessageText("us004", "");
    EXPECT_EQ(MessageText("us004", "Vorgabe"), "Vorgabe");
}

// ------------------------------------------------------------ date fields

TEST(DatumFieldOptimiserTest, ShowsDatesAndHidesEmptyAndTinyValues) {
    TDatumFieldOptimiser f;
    EXPECT_EQ(f.ValueToText(EncodeDate(2014, 10, 15)), "15.10.2014");
    EXPECT_EQ(f.ValueToText(EncodeDateTime(2014, 10, 15, 9, 30)), "15.10.2014");
    EXPECT_EQ(f.ValueToText(std::monostate{}), "");
    EXPECT_EQ(f.ValueToText(TDateTime()), "");
    EXPECT_EQ(f.ValueToText(TDateTime::FromValue(0)), "");
    EXPECT_EQ(f.ValueToText(TDateTime::FromValue(1)), "");
    EXPECT_EQ(f.ValueToText(TDateTime::FromValue(1.5)), "31.12.1899");
    EXPECT_EQ(f.ValueToText(TDateTime::FromValue(2)), "01.01.1900");
}

TEST(DatumFieldOptimiserTest, TypingKeepsTheTimeOfDayAndEmptyingKeepsOnlyIt) {
    FixedToday today(2010, 6, 15);
    TDatumFieldOptimiser f;
    Value withTime = EncodeDateTime(2009, 3, 1, 18, 0);
    Value v = f.TextToValue("0512", withTime);
    ASSERT_TRUE(std::holds_alternative<TDateTime>(v));
    EXPECT_EQ(std::get<TDateTime>(v), EncodeDateTime(2010, 12, 5, 18, 0));

    Value cleared = f.TextToValue("  ", withTime);
    EXPECT_DOUBLE_EQ(std::get<TDateTime>(cleared).Value(), 0.75);
    EXPECT_EQ(f.ValueToText(cleared), "");

    Value plain = f.TextToValue("", Value(EncodeDate(2009, 3, 1)));
    EXPECT_FALSE(std::get<TDateTime>(plain).IsNull());
    EXPECT_EQ(std::get<TDateTime>(plain).Value(), 0.0);

    EXPECT_EQ(std::get<TDateTime>(f.TextToValue("1.1.2010", std::monostate{})), EncodeDate(2010, 1, 1));
}

TEST(DatumFieldOptimiserTest, FieldKeepsItsValueWhenTheInputFails) {
    Table t({FieldDef::Date("Geb")});
    t.Append();
    t.SetDateTime("Geb", EncodeDate(1940, 5, 1));
    t.Post();
    TDatumFieldOptimiser f;
    t.Edit();
    EXPECT_THROW(f.SetText(t, "Geb", "31.02.1940"), Error);
    EXPECT_EQ(f.GetText(t, "Geb"), "01.05.1940");
    f.SetText(t, "Geb", "2.5.1940");
    t.Post();
    EXPECT_EQ(t.AsDateTime("Geb"), EncodeDate(1940, 5, 2));
    EXPECT_EQ(f.EditMask(), "");
}

// -------------------------------------------------------- currency fields

TEST(WaehrungFieldOptimiserTest, ShowsCurrencyWordAmountAndTrailingBlank) {
    TWaehrungFieldOptimiser f;
    EXPECT_EQ(f.ValueToText(int64_t(1234)), "€ 12,34 ");
    EXPECT_EQ(f.ValueToText(int64_t(0)), "€ 0,00 ");
    EXPECT_EQ(f.ValueToText(int64_t(-50)), "€ -0,50 ");
    EXPECT_EQ(f.ValueToText(int64_t(123456789)), "€ 1.234.567,89 ");
    EXPECT_EQ(f.ValueToText(std::monostate{}), "");
}

TEST(WaehrungFieldOptimiserTest, AcceptsEveryFormOfTheList) {
    TWaehrungFieldOptimiser f;
    const std::pair<const char*, int64_t> cases[] = {
        {"10,34", 1034},  {"10,5", 1050},    {"10.15", 1015}, {"1.234,56", 123456}, {"1000", 100000},
        {"€10.15", 1015}, {"10 EUR", 1000},  {"10eur", 1000}, {"123ct", 123},       {"5 Cent", 5},
        {"-0,50", -50},   {"-1,05", -105},   {" € 7 ", 700},  {"10,34 eur", 1034},  {"0", 0},
        {"€ 12,34 ", 1234}};   // the text shown reads back
    for (auto& [typed, cents] : cases) {
        auto v = f.ParseCents(typed);
        ASSERT_TRUE(v.has_value()) << typed;
        EXPECT_EQ(*v, cents) << typed;
    }
    EXPECT_FALSE(f.ParseCents("").has_value());
    EXPECT_FALSE(f.ParseCents("   ").has_value());
}

TEST(WaehrungFieldOptimiserTest, RefusesWithTheTextAsTyped) {
    TWaehrungFieldOptimiser f;
    for (const char* bad : {"10,345", "1.000", "12,5ct", "abc", " x1 ", "10,-5", ",50", "€", "1,2,3",
                            "99999999999", "30000000,00", "1e3"})
        EXPECT_EQ(ErrorOf([&] { f.ParseCents(bad); }),
                  "\"" + std::string(bad) +
                      "\" ist kein gültiger Ausdruck für die Währung.\rBeispiele: €10.15 10EUR 123ct 10,34 eur")
            << bad;
}

TEST(WaehrungFieldOptimiserTest, WritesWholeCentsIntoTheIntegerFieldAndClearsOnEmpty) {
    Table t({FieldDef::Int("EPreis")});
    t.Append();
    TWaehrungFieldOptimiser f;
    f.SetText(t, "EPreis", "1,53");
    t.Post();
    EXPECT_EQ(t.AsInteger("EPreis"), 153);
    EXPECT_EQ(f.GetText(t, "EPreis"), "€ 1,53 ");
    t.Edit();
    EXPECT_THROW(f.SetText(t, "EPreis", "1,534"), Error);
    EXPECT_EQ(t.AsInteger("EPreis"), 153);
    f.SetText(t, "EPreis", "");
    t.Post();
    EXPECT_TRUE(t.IsNull("EPreis"));
}
