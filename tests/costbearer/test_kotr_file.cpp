// Reading the cost-bearer files: the forms they come in, and the refusal of
// files that are no cost-bearer files, are cut short or hold broken segments.

#include <gtest/gtest.h>

#include "costbearer/KotrBuilder.h"
#include "costbearer/KotrFile.h"
#include "lib/base/Error.h"

using namespace brenvo;
using kttest::Entry;
using kttest::KotrForm;
using kttest::KotrText;

namespace {

// The message of the Error the parse throws; "" when it reads the text.
std::string Refusal(const std::string& text, const std::string& path = "/daten/BK05Q426.ke0") {
    try {
        ParseKotrFile(text, path);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

const KotrSegment& Segment(const KotrFile& f, const std::string& tag, int nth = 0) {
    for (const KotrSegment& s : f.Messages.at(0).Segments)
        if (s.Tag == tag && nth-- == 0) return s;
    throw Error("no segment " + tag);
}

} // namespace

TEST(KotrFileName, QuarterOrMonthKindAndVersion) {
    auto q = KotrFileName::Parse("AO05Q426.ke0");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->Kassenart, "AO");
    EXPECT_EQ(q->Verfahren, "05");
    EXPECT_EQ(q->ValidFrom, EncodeDate(2026, 10, 1));
    EXPECT_EQ(q->Version, 0);
    auto m = KotrFileName::Parse("BN050526.KE3");   // letter case does not matter
    ASSERT_TRUE(m);
    EXPECT_EQ(m->ValidFrom, EncodeDate(2026, 5, 1));
    EXPECT_EQ(m->Version, 3);
    auto inside = KotrFileName::Parse("EK05Q122ke1");   // as UNB names it
    ASSERT_TRUE(inside);
    EXPECT_EQ(inside->ValidFrom, EncodeDate(2022, 1, 1));
    for (const char* bad : {"AO05Q526.ke0", "AO051326.ke0", "AO05Q426.txt", "Rechnung.xml", "AO05Q426_KE0.txt"})
        EXPECT_FALSE(KotrFileName::Parse(bad)) << bad;
}

TEST(KotrFile, ReadsEveryFormTheFilesComeIn) {
    const std::vector<kttest::Segments> messages = {
        Entry("101234567", "R?+V BKK", {"VKG+01+101234567+5++++++00"},
              {"ANS+1+24103+Kiel+L?'felder Str. 1", "UEM+1+00+I8", "DFU+01+016+++++ftam.host.de?:5000"})};
    for (const KotrForm& form :
         {KotrForm{true, true, "\r\n"}, KotrForm{false, false, "\n"}, KotrForm{true, false, ""}}) {
        const KotrFile f = ParseKotrFile(KotrText("BK05Q426.ke0", messages, form), "/daten/BK05Q426.ke0");
        EXPECT_EQ(f.DisplayName, "BK05Q426.ke0");
        EXPECT_EQ(f.Name.Kassenart, "BK");
        EXPECT_EQ(f.Name.ValidFrom, EncodeDate(2026, 10, 1));
        EXPECT_EQ(f.Sender, "109908701");
        ASSERT_EQ(f.Messages.size(), 1u);
        EXPECT_EQ(f.Messages[0].Type, "KOTR");
        EXPECT_EQ(Segment(f, "IDK").Element(3), "R+V BKK");
        EXPECT_EQ(Segment(f, "ANS").Element(4), "L'felder Str. 1");
        EXPECT_EQ(Segment(f, "DFU").Element(7), "ftam.host.de:5000");
        EXPECT_EQ(Segment(f, "VKG").ElementCount(), 9u);
    }
    // ISO 8859-1 as published; a file saved again as UTF-8 reads the same.
    const std::vector<kttest::Segments> latin = {Entry("101234567", "L\xFC" "becker BKK")};
    EXPECT_EQ(Segment(ParseKotrFile(KotrText("BK05Q426.ke0", latin), "x"), "IDK").Element(3), "Lübecker BKK");
    const std::vector<kttest::Segments> utf8 = {Entry("101234567", "Lübecker BKK")};
    EXPECT_EQ(Segment(ParseKotrFile(KotrText("BK05Q426.ke0", utf8), "x"), "IDK").Element(3), "Lübecker BKK");
}

TEST(KotrFile, ValidityBelongsToTheSegmentBeforeIt) {
    const std::vector<kttest::Segments> messages = {Entry(
        "101234567", "BKK", {"VKG+03+109999999+5++07++99++00++HKP", "VDT+20261101+20271231"},
        {"UEM+1+00+I8", "VDT+20260101", "DFU+01+070+++++da@example.org", "VDT+20261201"})};
    const KotrFile f = ParseKotrFile(KotrText("BK05Q426.ke0", messages), "x");
    const KotrSegment& idk = Segment(f, "IDK");
    ASSERT_TRUE(idk.Validity);
    EXPECT_EQ(idk.Validity->From, EncodeDate(2005, 1, 1));
    EXPECT_TRUE(idk.Validity->To.IsNull());
    const KotrSegment& vkg = Segment(f, "VKG");
    ASSERT_TRUE(vkg.Validity);
    EXPECT_EQ(vkg.Validity->To, EncodeDate(2027, 12, 31));
    EXPECT_EQ(vkg.ElementCount(), 11u);
    EXPECT_EQ(vkg.Element(11), "HKP");
    EXPECT_EQ(Segment(f, "UEM").Validity->From, EncodeDate(2026, 1, 1));
    EXPECT_EQ(Segment(f, "DFU").Validity->From, EncodeDate(2026, 12, 1));
    for (const KotrSegment& s : f.Messages[0].Segments) EXPECT_NE(s.Tag, "VDT");
}

TEST(KotrFile, RefusesWhatIsNoCompleteCostBearerFile) {
    const std::string good = KotrText("BK05Q426.ke0", {Entry("101234567", "BKK"), Entry("101234568", "BKK 2")});
    ASSERT_EQ(Refusal(good), "");

    // Cut short inside a segment (line 11, the tenth segment after UNA) and after whole segments.
    const size_t cut = good.find("IDK+101234568") + 6;
    EXPECT_EQ(Refusal(good.substr(0, cut)), "BK05Q426.ke0: Zeile 11, Segment 10 (IDK): Datei unvollständig: das Segment "
                                            "ist nicht abgeschlossen (Segmentende ' fehlt).");
    EXPECT_NE(Refusal(good.substr(0, good.find("UNZ"))).find("Datei unvollständig: das Dateiende (UNZ) fehlt."),
              std::string::npos);
    EXPECT_NE(Refusal(good.substr(0, good.find("UNT"))).find("endet nicht mit UNT"), std::string::npos);

    // Other kinds of file.
    EXPECT_EQ(Refusal("<?xml version=\"1.0\"?><DATAPACKET/>", "/daten/Rechnung.xml"),
              "Rechnung.xml: Die Datei ist keine Kostenträgerdatei (KOTR): sie beginnt nicht mit UNA oder UNB.");
    std::string billing = good;
    billing.replace(billing.find("BK05Q426ke0"), 11, "SLGA0001");
    EXPECT_NE(Refusal(billing, "/daten/E0001.AUF").find("E0001.AUF: Zeile 2, Segment 1 (UNB): Die Datei ist keine "
                                                        "Kostenträgerdatei"),
              std::string::npos);

    // Broken segments, named with their line.
    std::string ik = good;
    ik.replace(ik.find("IDK+101234568"), 13, "IDK+10123456");
    EXPECT_EQ(Refusal(ik), "BK05Q426.ke0: Zeile 11, Segment 10 (IDK): \"10123456\" ist keine IK (neun Ziffern).");
    std::string date = good;
    date.replace(date.find("VDT+20050101"), 12, "VDT+20051301");
    EXPECT_EQ(Refusal(date), "BK05Q426.ke0: Zeile 5, Segment 4 (VDT): \"20051301\" ist kein Datum (JJJJMMTT).");
    std::string count = good;
    count.replace(count.find("UNT+000007"), 10, "UNT+000008");
    EXPECT_EQ(Refusal(count), "BK05Q426.ke0: Zeile 9, Segment 8 (UNT): UNT nennt 000008 Segmente, die Nachricht hat 7.");
    std::string tag = good;
    tag.replace(tag.find("NAM+01+BKK'"), 3, "XYZ");
    EXPECT_NE(Refusal(tag).find("Zeile 7, Segment 6 (XYZ): Unbekanntes Segment"), std::string::npos);
}
