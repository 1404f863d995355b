#include <gtest/gtest.h>

#include <cmath>

#include "common/TempDir.h"
#include "lib/base/Cp1252.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Money.h"
#include "lib/base/Strings.h"

using namespace brenvo;

// ---------------------------------------------------------------- dates

TEST(DateTimeTest, DayCountStartsAt30Dec1899AndNullIsNotZero) {
    TDateTime epoch = EncodeDate(1899, 12, 30);
    EXPECT_FALSE(epoch.IsNull());
    EXPECT_EQ(epoch.Value(), 0.0);
    EXPECT_TRUE(TDateTime().IsNull());
    EXPECT_NE(TDateTime(), epoch);
    EXPECT_LT(TDateTime(), epoch);           // null sorts first
    EXPECT_EQ(EncodeDate(1900, 1, 1).Value(), 2.0);
    EXPECT_EQ(EncodeDate(2014, 9, 29).Value(), 41911.0);
    EXPECT_EQ(EncodeDate(1899, 12, 29).Value(), -1.0);
}

TEST(DateTimeTest, NegativeValuesCountTheTimeForwardFromMidnight) {
    TDateTime d = EncodeDateTime(1899, 12, 29, 6, 0);
    EXPECT_DOUBLE_EQ(d.Value(), -1.25);
    DateParts p = Decode(TDateTime::FromValue(-1.25));
    EXPECT_EQ(p.year, 1899);
    EXPECT_EQ(p.month, 12);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.hour, 6);
    // -0.5 is noon of the epoch day itself
    p = Decode(TDateTime::FromValue(-0.5));
    EXPECT_EQ(p.day, 30);
    EXPECT_EQ(p.hour, 12);
}

TEST(DateTimeTest, LeapYearsAndMonthEnds) {
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_TRUE(IsLeapYear(2024));
    EXPECT_FALSE(IsLeapYear(2023));
    EXPECT_TRUE(IsValidDate(2024, 2, 29));
    EXPECT_FALSE(IsValidDate(2023, 2, 29));
    EXPECT_FALSE(IsValidDate(1900, 2, 29));
    EXPECT_THROW(EncodeDate(2023, 2, 29), Error);
    EXPECT_EQ(EncodeDate(2024, 3, 1).Value() - EncodeDate(2024, 2, 28).Value(), 2.0);
    EXPECT_EQ(EncodeDate(1900, 3, 1).Value() - EncodeDate(1900, 2, 28).Value(), 1.0);
}

TEST(DateTimeTest, EncodeDecodeRoundTripOverCenturies) {
    for (int y : {1, 1600, 1899, 1900, 1999, 2000, 2099, 9999}) {
        for (int m = 1; m <= 12; ++m) {
            for (int d : {1, 15, DaysInMonth(y, m)}) {
                TDateTime t = EncodeDateTime(y, m, d, 13, 45, 59, 999);
                DateParts p = Decode(t);
                ASSERT_EQ(p.year, y);
                ASSERT_EQ(p.month, m);
                ASSERT_EQ(p.day, d);
                ASSERT_EQ(p.hour, 13);
                ASSERT_EQ(p.minute, 45);
                ASSERT_EQ(p.second, 59);
                ASSERT_EQ(p.millisecond, 999);
            }
        }
    }
}

TEST(DateTimeTest, TextForms) {
    TDateTime t = EncodeDateTime(2014, 3, 2, 9, 5, 3, 7);
    EXPECT_EQ(FormatYYYYMMDD(t), "20140302");
    EXPECT_EQ(FormatDDMMYYYY(t), "02.03.2014");
    EXPECT_EQ(FormatShortDate(t), "02.03.2014");
    EXPECT_EQ(FormatStamp(t), "20140302_090503007");
    EXPECT_EQ(FormatYYYYMMDDHHNNSS(t), "20140302090503");
    EXPECT_EQ(FormatBackupName(t), "20140302-090503");
    EXPECT_EQ(FormatHHNN(t), "0905");
    EXPECT_EQ(FormatWeekdayDate(t), "So, 02.03.2014");
    EXPECT_EQ(FormatWeekdayDate(EncodeDate(2014, 10, 15)), "Mi, 15.10.2014");
    EXPECT_EQ(FormatDateTimeDE(t), "02.03.2014 09:05:03");
    EXPECT_EQ(FormatDateTimeDE(EncodeDate(2014, 3, 2)), "02.03.2014");
    EXPECT_EQ(FormatYYYYMMDD(TDateTime()), "");
    EXPECT_EQ(FormatHHNN(TDateTime()), "");
}

TEST(DateTimeTest, MillisecondsAreRoundedNotCut) {
    // 09:05:03.007 is not exactly representable; the text must still show 007.
    for (int ms = 0; ms < 1000; ms += 7) {
        TDateTime t = EncodeDateTime(2026, 12, 31, 23, 59, 59, ms);
        ASSERT_EQ(Decode(t).millisecond, ms);
    }
    TDateTime last = TDateTime::FromValue(EncodeDate(2026, 12, 31).Value() + 0.99999999999);
    DateParts p = Decode(last);
    EXPECT_EQ(p.year, 2027);
    EXPECT_EQ(p.hour, 0);
}

TEST(DateTimeTest, Parsers) {
    EXPECT_EQ(*ParseYYYYMMDD("20140929"), EncodeDate(2014, 9, 29));
    EXPECT_FALSE(ParseYYYYMMDD("20140230"));
    EXPECT_FALSE(ParseYYYYMMDD("2014092"));
    EXPECT_EQ(*ParseDDMMYYYY("29.09.2014"), EncodeDate(2014, 9, 29));
    EXPECT_EQ(*ParseDDMMYYYY("1.2.2014"), EncodeDate(2014, 2, 1));
    EXPECT_FALSE(ParseDDMMYYYY("29.02.2023"));
    EXPECT_FALSE(ParseDDMMYYYY("29.09.14"));
    EXPECT_FALSE(ParseDDMMYYYY(" 29.09.2014"));
    EXPECT_EQ(*ParseStamp("20140302_090503007"), EncodeDateTime(2014, 3, 2, 9, 5, 3, 7));
    EXPECT_FALSE(ParseStamp("20140302-090503007"));
    EXPECT_EQ(*ParseYYYYMMDDHHNNSS("20141015140503"), EncodeDateTime(2014, 10, 15, 14, 5, 3));
}

TEST(DateTimeTest, FixedClockAndMillisecondSteps) {
    TDateTime fixed = EncodeDateTime(2014, 12, 31, 23, 59, 59, 999);
    SetFixedNow(fixed);
    EXPECT_EQ(Now(), fixed);
    EXPECT_EQ(Today(), EncodeDate(2014, 12, 31));
    SetFixedNow(std::nullopt);
    TDateTime next = IncMilliseconds(fixed, 1);
    EXPECT_EQ(FormatStamp(next), "20150101_000000000");
    EXPECT_EQ(FormatStamp(IncMilliseconds(next, -1)), "20141231_235959999");
}

TEST(DateTimeTest, TimeTConversionKeepsLocalTime) {
    TDateTime t = EncodeDateTime(2021, 7, 14, 10, 20, 30);
    EXPECT_EQ(FromTimeT(ToTimeT(t)), t);
}

// ---------------------------------------------------------------- money

TEST(MoneyTest, RoundHalfEvenAndEuroToCents) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(-3.5), -4);
    EXPECT_EQ(RoundHalfEven(2.4999), 2);
    EXPECT_EQ(RoundHalfAway(2.5), 3);
    EXPECT_EQ(RoundHalfAway(-2.5), -3);
    EXPECT_EQ(EuroToCents(47.50), 4750);
    EXPECT_EQ(EuroToCents(0.07), 7);
    EXPECT_EQ(EuroToCents(-12.34), -1234);
    EXPECT_EQ(EuroToCents(19.99), 1999);
    // 0.125 € is an exact binary half: to the even cent
    EXPECT_EQ(EuroToCents(0.125), 12);
    EXPECT_EQ(EuroToCents(0.375), 38);
    // Every amount with two decimals converts exactly.
    for (int c = -100000; c <= 100000; c += 37) ASSERT_EQ(EuroToCents(c / 100.0), c) << c;
}

TEST(MoneyTest, CommercialRoundingOfTheInvoiceDocument) {
    EXPECT_DOUBLE_EQ(CommercialRound2(2.45 * 3), 7.35);
    EXPECT_DOUBLE_EQ(CommercialRound2(1.50 * 0.33), 0.50);   // 0.495 goes up
    EXPECT_DOUBLE_EQ(CommercialRound2(0.125), 0.13);
    EXPECT_DOUBLE_EQ(CommercialRound2(-0.125), -0.13);
    EXPECT_DOUBLE_EQ(CommercialRound2(0.124), 0.12);
    EXPECT_DOUBLE_EQ(CommercialRound2(0.0), 0.0);
}

TEST(MoneyTest, IntegerDivisionRoundsHalvesAwayFromZero) {
    EXPECT_EQ(DivRoundHalfAway(1250, 100), 13);
    EXPECT_EQ(DivRoundHalfAway(1249, 100), 12);
    EXPECT_EQ(DivRoundHalfAway(-1250, 100), -13);
    EXPECT_EQ(DivRoundHalfAway(-1249, 100), -12);
    EXPECT_EQ(DivRoundHalfAway(14949, 100), 149);   // 1.51 € × 0.99
    EXPECT_EQ(DivRoundHalfAway(7, -2), -4);
}

// ---------------------------------------------------------------- formatting

TEST(FormatTest, PrintfFormsWithDecimalComma) {
    EXPECT_EQ(Format("%5.2f", {3.5}), " 3,50");
    EXPECT_EQ(Format("%.2f", {-0.004}), "0,00");
    EXPECT_EQ(Format("%.2f", {2.675}), "2,68");
    EXPECT_EQ(Format("%n", {1234567.891}), "1.234.567,89");
    EXPECT_EQ(Format("%5.5d ", {42}), "00042 ");
    EXPECT_EQ(Format("%d/%d", {-5, 7}), "-5/7");
    EXPECT_EQ(Format("%9.9s|", {"1234567890"}), "123456789|");
    EXPECT_EQ(Format("%-6s|", {"Jürgen"}), "Jürgen|");
    EXPECT_EQ(Format("%-8s|", {"Jürgen"}), "Jürgen  |");
    EXPECT_EQ(Format("%8s|", {"€"}), "       €|");
    EXPECT_EQ(Format("100%% %s", {"fertig"}), "100% fertig");
    EXPECT_EQ(Format("Datei %s nicht gefunden.", {"/tmp/a.xml"}), "Datei /tmp/a.xml nicht gefunden.");
    EXPECT_THROW(Format("%d", {"x"}), Error);
    EXPECT_THROW(Format("%s %s", {"x"}), Error);
}

TEST(FormatTest, FloatPatterns) {
    EXPECT_EQ(FormatFloat("###,##0.00", 1234.5), "1.234,50");
    EXPECT_EQ(FormatFloat("###,##0.00", 0), "0,00");
    EXPECT_EQ(FormatFloat("###,##0.00", -1234567.125), "-1.234.567,13");
    EXPECT_EQ(FormatFloat("###0.00", 1234.5), "1234,50");
    EXPECT_EQ(FormatFloat("#.00", 0.5), ",50");
    EXPECT_EQ(FormatFloat("#.00", 12.345), "12,35");
    EXPECT_EQ(FormatFloat("##0.00", 7), "7,00");
    EXPECT_EQ(FormatFloat("0.##", 2.5), "2,5");
    EXPECT_EQ(FormatFloat("0.##", 2), "2");
    EXPECT_EQ(FormatFloat("##0.00 €", 3.1), "3,10 €");
    EXPECT_EQ(FormatFloat("0.00", -0.001), "0,00");
    EXPECT_EQ(FloatToText(12.5), "12.5");
    EXPECT_EQ(FloatToText(0.1 + 0.2, 2), "0.30");
}

// ---------------------------------------------------------------- strings

TEST(StringsTest, NumbersFromTextAreSignAndDigitsOnly) {
    EXPECT_EQ(*ParseInt("1001"), 1001);
    EXPECT_EQ(*ParseInt("-7"), -7);
    EXPECT_EQ(*ParseInt("+7"), 7);
    EXPECT_FALSE(ParseInt(""));
    EXPECT_FALSE(ParseInt(" 12"));
    EXPECT_FALSE(ParseInt("12 "));
    EXPECT_FALSE(ParseInt("1e3"));
    EXPECT_FALSE(ParseInt("-"));
    EXPECT_FALSE(ParseInt("99999999999999999999"));
    EXPECT_EQ(StrToIntDef("abc", 1000), 1000);
    EXPECT_EQ(*ParseDecimal("12,50"), 12.5);
    EXPECT_EQ(*ParseDecimal("47.5"), 47.5);
    EXPECT_FALSE(ParseDecimal("1.234,5"));
    EXPECT_FALSE(ParseDecimal("abc"));
}

TEST(StringsTest, CaseAndCharactersOfGermanTexts) {
    EXPECT_EQ(UpperCase("müller straße"), "MÜLLER STRAßE");
    EXPECT_EQ(LowerCase("ÄÖÜ Èa"), "äöü èa");
    EXPECT_TRUE(SameText("Müller", "MÜLLER"));
    EXPECT_TRUE(StartsText("me", "Meier"));
    EXPECT_TRUE(StartsText("ME", "meier"));
    EXPECT_FALSE(StartsText("me", "Hamel"));
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_EQ(Utf8Length("Grüße €"), 7u);
    EXPECT_EQ(Utf8Left("Grüße", 3), "Grü");
    EXPECT_EQ(Utf8Copy("Grüße", 3, 2), "üß");
    EXPECT_EQ(Utf8Right("Grüße", 2), "ße");
    EXPECT_EQ(Trim("  a b \t\r\n"), "a b");
    EXPECT_EQ(SplitLines("a\r\nb\nc\r\n"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb"), (std::vector<std::string>{"a", "", "b"}));
}

TEST(StringsTest, CodePointsOfEveryLengthEncodeAsUtf8) {
    std::string s;
    for (char32_t cp : {char32_t(0x41), char32_t(0x7F), char32_t(0x80), char32_t(0xFC), char32_t(0x7FF), char32_t(0x800),
                        char32_t(0x20AC), char32_t(0xFFFF), char32_t(0x10000), char32_t(0x1F600), char32_t(0x10FFFF)})
        AppendUtf8(s, cp);
    EXPECT_EQ(s, "A\x7F\u0080ü\u07FF\u0800€\uFFFF\U00010000\U0001F600\U0010FFFF");
    EXPECT_TRUE(IsValidUtf8(s));
    EXPECT_EQ(Utf8Length(s), 11u);
}

TEST(StringsTest, ABrokenSequenceIsFoundWhereverItStandsInALongText) {
    const std::string ascii = "Rechnung Nr. 4711 vom 01.02.2025";
    for (size_t at = 0; at <= ascii.size(); ++at) {
        std::string text = ascii;
        EXPECT_TRUE(IsValidUtf8(text.insert(at, "ü"))) << at;
        text = ascii;
        EXPECT_FALSE(IsValidUtf8(text.insert(at, "\xFC"))) << at;                  // windows-1252 "ü"
        text = ascii;
        EXPECT_FALSE(IsValidUtf8(text.insert(at, "\xE2\x82"))) << at;              // "€" cut short
    }
    EXPECT_FALSE(IsValidUtf8(ascii + "\xC3"));
}

// ---------------------------------------------------------------- windows-1252

TEST(Cp1252Test, EuroSignUmlautsAndRoundTrip) {
    std::string text = "Straße 5 – 10 € Ärger „zitiert“";
    std::string bytes = Utf8ToCp1252(text);
    EXPECT_EQ(bytes.size(), Utf8Length(text));
    EXPECT_NE(bytes.find('\x80'), std::string::npos);   // €
    EXPECT_NE(bytes.find('\xDF'), std::string::npos);   // ß
    EXPECT_EQ(Cp1252ToUtf8(bytes), text);
}

TEST(Cp1252Test, UnrepresentableCharacterIsAnErrorNamingIt) {
    try {
        Utf8ToCp1252("Łódź");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("\"Ł\""), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("U+0141"), std::string::npos) << e.what();
    }
    std::string bad;
    EXPECT_FALSE(IsCp1252Text("abc ☺", &bad));
    EXPECT_EQ(bad, "☺");
    EXPECT_TRUE(IsCp1252Text("Grüße €"));
}

// Every character windows-1252 holds passes the check and converts back to
// its byte, the umlauts without the converter as the rest with it; the C1
// controls it does not hold are refused.
TEST(Cp1252Test, EveryCharacterOfTheCodePageRoundTrips) {
    for (int b = 0x20; b <= 0xFF; ++b) {
        if (b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;
        const std::string byte(1, char(b));
        const std::string text = "a" + Cp1252ToUtf8(byte) + "ä";
        EXPECT_TRUE(IsCp1252Text(text)) << b;
        EXPECT_EQ(Utf8ToCp1252(text), "a" + byte + "\xE4") << b;
    }
    EXPECT_FALSE(IsCp1252Text("\xC2\x81"));
    std::string bad;
    EXPECT_FALSE(IsCp1252Text("Größe \xC2\x9F", &bad));
    EXPECT_EQ(bad, "\xC2\x9F");
    EXPECT_FALSE(IsCp1252Text("\xC3"));   // a sequence cut short
}

TEST(Cp1252Test, UnassignedBytesReadWithoutLoss) {
    std::string bytes = "a\x81z";
    std::string utf8 = Cp1252ToUtf8(bytes);
    EXPECT_EQ(utf8, "a\xC2\x81z");
}

TEST(Cp1252Test, OtherDeclaredEncodings) {
    EXPECT_EQ(ToUtf8("M\xFCller", "ISO-8859-1"), "Müller");
    EXPECT_EQ(ToUtf8("\xA4", "ISO-8859-15"), "€");
    EXPECT_EQ(ToUtf8("\x80", "windows-1252"), "€");
    EXPECT_THROW(ToUtf8("M\xFCller", "UTF-8"), Error);
    EXPECT_THROW(ToUtf8("x", "EBCDIC"), Error);
}

TEST(Cp1252Test, TextFilesAreSingleByteWithCrLf) {
    TempDir dir;
    std::string path = dir.file("a.LOG");
    WriteCp1252Lines(path, {"Müller", "", "10 €"});
    EXPECT_EQ(ReadFileBytes(path), "M\xFCller\r\n\r\n10 \x80\r\n");
    EXPECT_EQ(ReadCp1252Lines(path), (std::vector<std::string>{"Müller", "", "10 €"}));
    EXPECT_THROW(WriteCp1252Text(dir.file("b.txt"), "☺"), Error);
    EXPECT_FALSE(FileExists(dir.file("b.txt")));
}

// ---------------------------------------------------------------- files

TEST(FilesTest, PathPieces) {
    EXPECT_EQ(PathJoin("/a/b", "c.xml"), "/a/b/c.xml");
    EXPECT_EQ(PathJoin("/a/b/", "c.xml"), "/a/b/c.xml");
    EXPECT_EQ(ExtractFileName("/a/b/c.xml"), "c.xml");
    EXPECT_EQ(ExtractFilePath("/a/b/c.xml"), "/a/b/");
    EXPECT_EQ(ExtractFileDir("/a/b/c.xml"), "/a/b");
    EXPECT_EQ(ExtractFileExt("/a/b.d/c"), "");
    EXPECT_EQ(ExtractFileExt("c.tar.XML"), ".XML");
    EXPECT_EQ(ChangeFileExt("/a/H1.AUF", ".ENC"), "/a/H1.ENC");
    EXPECT_EQ(ChangeFileExt("/a.b/H1", ".ENC"), "/a.b/H1.ENC");
}

TEST(FilesTest, MasksIgnoreCase) {
    EXPECT_TRUE(MatchesMask("a.xml", "*.XML"));
    EXPECT_TRUE(MatchesMask("A.XML", "*.xml"));
    EXPECT_TRUE(MatchesMask("FEHLERä.xml", "fehler*.xml"));
    EXPECT_TRUE(MatchesMask("anything", "*.*"));
    EXPECT_TRUE(MatchesMask("H1.AUF", "H?.auf"));
    EXPECT_TRUE(MatchesMask("Hü.AUF", "H?.auf"));
    EXPECT_FALSE(MatchesMask("a.xml.bak", "*.xml"));
    EXPECT_FALSE(MatchesMask("a.xm", "*.xml"));
}

TEST(FilesTest, ListingIsSortedIgnoringCaseThenExactly) {
    TempDir dir;
    for (const char* n : {"b.xml", "A.xml", "a.xml", "C.XML", "d.txt"}) AtomicWriteFile(dir.file(n), "x");
    ForceDirectories(dir.file("sub/deeper"));
    AtomicWriteFile(dir.file("sub/z.xml"), "x");
    AtomicWriteFile(dir.file("sub/deeper/y.xml"), "x");
    EXPECT_EQ(ListFiles(dir.path(), "*.xml"), (std::vector<std::string>{"A.xml", "a.xml", "b.xml", "C.XML"}));
    auto rec = ListFilesRecursive(dir.path(), "*.XML");
    ASSERT_EQ(rec.size(), 6u);
    EXPECT_EQ(rec[4], dir.file("sub/z.xml"));
    EXPECT_EQ(rec[5], dir.file("sub/deeper/y.xml"));
    EXPECT_EQ(ListDirectories(dir.path()), (std::vector<std::string>{"sub"}));
    EXPECT_TRUE(ListFiles(dir.file("missing"), "*.*").empty());
}

TEST(FilesTest, CopyKeepsTimeAndRefusesToOverwriteWhenAsked) {
    TempDir dir;
    std::string a = dir.file("a.xml"), b = dir.file("b.xml");
    AtomicWriteFile(a, "neu");
    TDateTime old = EncodeDateTime(2020, 1, 2, 3, 4, 5);
    ASSERT_TRUE(SetFileLastWriteTime(a, old));
    AtomicWriteFile(b, "alt");
    EXPECT_FALSE(CopyFileTo(a, b, true));
    EXPECT_EQ(ReadFileBytes(b), "alt");
    EXPECT_TRUE(CopyFileTo(a, b, false));
    EXPECT_EQ(ReadFileBytes(b), "neu");
    EXPECT_EQ(FileLastWriteTime(b), old);
    EXPECT_TRUE(CopyFileTo(a, dir.file("c.xml"), true));
    EXPECT_FALSE(CopyFileTo(dir.file("missing"), dir.file("d.xml"), false));
    EXPECT_EQ(FileSize(dir.file("c.xml")), 3);
    EXPECT_EQ(FileSize(dir.file("missing")), -1);
    // no temporary files left behind
    EXPECT_EQ(ListFiles(dir.path(), "*.tmp").size(), 0u);
}

TEST(FilesTest, LinkGivesASecondNameThatOutlivesTheFirst) {
    TempDir dir;
    AtomicWriteFile(dir.file("a.xml"), "eins");
    AtomicWriteFile(dir.file("b.xml"), "zwei");
    EXPECT_FALSE(LinkFile(dir.file("a.xml"), dir.file("b.xml")));   // never over an existing name
    EXPECT_EQ(ReadFileBytes(dir.file("b.xml")), "zwei");
    EXPECT_FALSE(LinkFile(dir.file("fehlt.xml"), dir.file("c.xml")));
    EXPECT_FALSE(LinkFile(dir.path(), dir.file("d")));               // no directories
    std::filesystem::create_symlink(dir.file("a.xml"), dir.file("s.xml"));
    EXPECT_FALSE(LinkFile(dir.file("s.xml"), dir.file("e.xml")));    // no symbolic links
    ASSERT_TRUE(LinkFile(dir.file("a.xml"), dir.file("c.xml")));
    EXPECT_TRUE(DeleteFile(dir.file("a.xml")));
    EXPECT_EQ(ReadFileBytes(dir.file("c.xml")), "eins");
}

TEST(FilesTest, RenameRefusesAnExistingTarget) {
    TempDir dir;
    AtomicWriteFile(dir.file("a"), "1");
    AtomicWriteFile(dir.file("b"), "2");
    EXPECT_FALSE(RenameFile(dir.file("a"), dir.file("b")));
    EXPECT_EQ(ReadFileBytes(dir.file("b")), "2");
    EXPECT_TRUE(RenameFile(dir.file("a"), dir.file("FEHLERa")));
    EXPECT_FALSE(FileExists(dir.file("a")));
    EXPECT_TRUE(DeleteFile(dir.file("FEHLERa")));
    EXPECT_FALSE(DeleteFile(dir.file("FEHLERa")));
}

TEST(FilesTest, CreationTimeIsKnownAndNotAfterLastWrite) {
    TempDir dir;
    std::string a = dir.file("a");
    AtomicWriteFile(a, "1");
    TDateTime c = FileCreationTime(a);
    ASSERT_FALSE(c.IsNull());
    EXPECT_LE(c.Value(), FileLastWriteTime(a).Value() + 1e-6);
    EXPECT_TRUE(FileCreationTime(dir.file("none")).IsNull());
}

TEST(FilesTest, CrashBeforeRenameLeavesTheOldFileIntact) {
    TempDir dir;
    std::string path = dir.file("brenvo.XML");
    AtomicWriteFile(path, "alt");
    std::string temp;
    SetAtomicWriteHook([&](const std::string& t) {
        temp = t;
        throw std::runtime_error("simulated crash");
    });
    EXPECT_THROW(AtomicWriteFile(path, "neu und länger"), std::runtime_error);
    SetAtomicWriteHook(nullptr);
    EXPECT_EQ(ReadFileBytes(path), "alt");
    EXPECT_TRUE(FileExists(temp));   // left as a real crash would leave it
    EXPECT_EQ(ReadFileBytes(temp), "neu und länger");
    AtomicWriteFile(path, "neu");
    EXPECT_EQ(ReadFileBytes(path), "neu");
}

// In a sync group new files wait for the group's one sync; a file that
// replaces another is synced at once; a refused group sync is a failure.
TEST(FilesTest, SyncGroupSyncsNewFilesTogether) {
    TempDir dir;
    AtomicWriteFile(dir.file("alt.xml"), "alt");
    std::vector<std::string> syncs;
    SetFileOpHook([&](FileOp op, const std::string& path) {
        if (op == FileOp::Sync) syncs.push_back(path);
        return true;
    });
    {
        SyncGroup group;
        AtomicWriteFile(dir.file("neu.xml"), "neu");
        EXPECT_TRUE(CopyFileTo(dir.file("neu.xml"), dir.file("kopie.xml"), true));
        EXPECT_TRUE(syncs.empty());
        AtomicWriteFile(dir.file("alt.xml"), "ersetzt");
        EXPECT_EQ(syncs.size(), 2u);   // the file and its directory
        syncs.clear();
        group.Sync();
        EXPECT_FALSE(syncs.empty());
        syncs.clear();
        AtomicWriteFile(dir.file("danach.xml"), "x");   // the group is closed
        EXPECT_EQ(syncs.size(), 2u);
    }
    SetFileOpHook([](FileOp op, const std::string&) { return op != FileOp::Sync; });
    {
        SyncGroup group;
        AtomicWriteFile(dir.file("noch.xml"), "y");
        EXPECT_THROW(group.Sync(), Error);
    }
    SetFileOpHook(nullptr);
    EXPECT_EQ(ReadFileBytes(dir.file("kopie.xml")), "neu");
    EXPECT_EQ(ReadFileBytes(dir.file("alt.xml")), "ersetzt");
}

TEST(FilesTest, ForceDirectoriesMakesParents) {
    TempDir dir;
    EXPECT_TRUE(ForceDirectories(dir.file("x/y/z")));
    EXPECT_TRUE(DirectoryExists(dir.file("x/y")));
    EXPECT_TRUE(ForceDirectories(dir.file("x/y/z")));
    AtomicWriteFile(dir.file("f"), "");
    EXPECT_FALSE(ForceDirectories(dir.file("f/g")));
    EXPECT_THROW(ReadFileBytes(dir.file("nix")), Error);
}
