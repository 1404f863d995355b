#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "TariffBuilder.h"
#include "common/TempDir.h"
#include "entry/dm_verwaltung.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"

using namespace brenvo;
using brenvo::test::AddTarif;

namespace {

std::vector<std::string> Column(Table& t, const char* field) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.AsString(field));
    return out;
}

} // namespace

// ------------------------------------------------------------- id counters

TEST(DmVerwaltungCounterTest, FirstIdOnAnEmptyCounterFileIsOneAndOnlyThatCounterIsSet) {
    TempDir dir;
    {
        TdmVerwaltung dm(dir.path());
        EXPECT_EQ(dm.NextID("LeistID"), 1);
    }
    Table seq;
    seq.LoadFromFile(dir.file("SEQ.xml"));
    ASSERT_EQ(seq.RecordCount(), 1);
    seq.First();
    EXPECT_EQ(seq.AsInteger("LeistID"), 1);
    for (const char* other : {"RechID", "SaRechNr", "ARechID", "AbrFallID", "VONum", "MEINEID"})
        EXPECT_TRUE(seq.IsNull(other)) << other;
    EXPECT_EQ(seq.Field(seq.FieldIndex("LeistID")).xmlType, "i4");
}

TEST(DmVerwaltungCounterTest, ConsecutiveIdsAndTheFileHoldsEachValueJustReturned) {
    TempDir dir;
    TdmVerwaltung dm(dir.path());
    for (int64_t expected : {1, 2, 3}) {
        EXPECT_EQ(dm.NextID("leistid"), expected);   // the name in any letter case
        Table seq;
        seq.LoadFromFile(dm.SeqFile());
        seq.First();
        EXPECT_EQ(seq.AsInteger("LeistID"), expected);
    }
    EXPECT_EQ(dm.NextID("MEINEID"), 1);
    // A second module (the next program run) goes on from the file.
    TdmVerwaltung again(dir.path());
    EXPECT_EQ(again.NextID("LeistID"), 4);
    EXPECT_EQ(again.NextID("MEINEID"), 2);
}

TEST(DmVerwaltungCounterTest, UnknownCounterAndUnwritableFileLoseNothing) {
    TempDir dir;
    TdmVerwaltung dm(dir.path());
    EXPECT_EQ(dm.NextID("RechID"), 1);
    EXPECT_THROW(dm.NextID("Kundennummer"), Error);

    // A crash between writing and replacing the file: the call fails, and
    // neither the file nor the counter in memory has moved on.
    SetAtomicWriteHook([](const std::string&) { throw Error("Schreibfehler"); });
    EXPECT_THROW(dm.NextID("RechID"), Error);
    SetAtomicWriteHook(nullptr);
    Table seq;
    seq.LoadFromFile(dm.SeqFile());
    seq.First();
    EXPECT_EQ(seq.AsInteger("RechID"), 1);
    EXPECT_EQ(dm.NextID("RechID"), 2);
}

TEST(DmVerwaltungCounterTest, FailedFirstWriteLeavesTheCounterTableEmpty) {
    TempDir dir;
    TdmVerwaltung dm(dir.path());
    SetAtomicWriteHook([](const std::string&) { throw Error("Schreibfehler"); });
    EXPECT_THROW(dm.NextID("VONum"), Error);
    SetAtomicWriteHook(nullptr);
    EXPECT_TRUE(dm.Seq().IsEmpty());
    EXPECT_EQ(dm.NextID("VONum"), 1);
}

// ------------------------------------------------------------ files, order

TEST(DmVerwaltungTablesTest, TariffsRoundTripInTheirOrderWithNestedPositions) {
    TempDir dir;
    {
        TdmVerwaltung dm(dir.path());
        dm.OpenTarife();
        AddTarif(dm.Tarife(), "Taxi Stadt", {{"2", "P", 500}, {"1", "K", 150, 0, 11}, {"9", "X", 0, 10}});
        AddTarif(dm.Tarife(), "Mietwagen", {{"3", "K", 140}});
        dm.SaveTarife();
    }
    TdmVerwaltung dm(dir.path());
    dm.OpenTarife();
    Table& t = dm.Tarife();
    EXPECT_EQ(Column(t, "Tarifbez"), (std::vector<std::string>{"Mietwagen", "Taxi Stadt"}));
    t.Last();
    Table& p = t.Nested(TdmVerwaltung::kTarifdetail);
    EXPECT_EQ(Column(p, "Art"), (std::vector<std::string>{"K", "P", "X"}));
    p.First();
    EXPECT_EQ(p.AsInteger("EPreis"), 150);
    EXPECT_EQ(p.AsFloat("freikm"), 11);
    // a tariff added now gets its positions in order too
    AddTarif(t, "Alpha", {{"5", "T", 0}, {"4", "P", 300}});
    t.First();
    EXPECT_EQ(t.AsString("Tarifbez"), "Alpha");
    EXPECT_EQ(Column(t.Nested(TdmVerwaltung::kTarifdetail), "Art"), (std::vector<std::string>{"P", "T"}));
}

TEST(DmVerwaltungTablesTest, MissingFileOpensEmptyAndUnreadableFileIsNeverOverwritten) {
    TempDir dir;
    TdmVerwaltung dm(dir.path());
    dm.OpenAdressen();
    EXPECT_TRUE(dm.Adressen().Active());
    EXPECT_TRUE(dm.Adressen().IsEmpty());
    dm.FlushAdressen();                       // nothing changed: nothing written
    EXPECT_FALSE(FileExists(dm.AdressenFile()));

    AtomicWriteFile(dm.VersicherteFile(), "<DATAPACKET><kaputt");
    EXPECT_THROW(dm.OpenVersicherte(), Error);
    EXPECT_FALSE(dm.Versicherte().Active());
    dm.FlushVersicherte();
    EXPECT_EQ(ReadFileBytes(dm.VersicherteFile()), "<DATAPACKET><kaputt");
}

TEST(DmVerwaltungTablesTest, FileLackingColumnsGetsThemAndKeepsForeignOnes) {
    TempDir dir;
    AtomicWriteFile(dir.file("Adressen.xml"),
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
                    "<FIELD attrname=\"strasse\" fieldtype=\"string\" WIDTH=\"40\"/>"
                    "<FIELD attrname=\"plz\" fieldtype=\"string\" WIDTH=\"7\"/>"
                    "<FIELD attrname=\"Telefon\" fieldtype=\"string\" WIDTH=\"20\"/>"
                    "</FIELDS><PARAMS/></METADATA><ROWDATA>"
                    "<ROW strasse=\"Zeppelinstraße 7\" plz=\"70173\" Telefon=\"0711 1\"/>"
                    "<ROW strasse=\"Am Bahnhof 1\" plz=\"70173\"/>"
                    "</ROWDATA></DATAPACKET>");
    TdmVerwaltung dm(dir.path());
    dm.OpenAdressen();
    Table& a = dm.Adressen();
    EXPECT_TRUE(a.HasField("ort"));
    EXPECT_TRUE(a.HasField("bem"));
    EXPECT_TRUE(a.HasField("Telefon"));
    EXPECT_EQ(a.Field(a.FieldIndex("strasse")).width, 40);
    EXPECT_EQ(Column(a, "strasse"), (std::vector<std::string>{"Am Bahnhof 1", "Zeppelinstraße 7"}));
    EXPECT_TRUE(dm.LocateAdresse("70173", "", "ZEPPELINSTRAßE 7"));
    EXPECT_EQ(a.AsString("Telefon"), "0711 1");
}

TEST(DmVerwaltungTablesTest, FlushStoresThePendingEditWritesAndReopens) {
    TempDir dir;
    TdmVerwaltung dm(dir.path());
    dm.OpenAdressen();
    Table& a = dm.Adressen();
    a.Append();
    a.SetString("strasse", "Königstraße 12");
    a.SetString("plz", "70173");
    a.SetString("ort", "Stuttgart");
    a.SetString("bem", "Klinikum Mitte");
    dm.FlushAdressen();                        // still in Insert state before
    EXPECT_FALSE(a.HasChanges());
    EXPECT_EQ(a.RecordCount(), 1);
    EXPECT_TRUE(dm.LocateAdresse("70173", "STUTTGART", "königstraße 12"));
    EXPECT_FALSE(dm.LocateAdresse("70174", "Stuttgart", "Königstraße 12"));

    TdmVerwaltung other(dir.path());
    EXPECT_TRUE(other.LocateAdresse("70173", "stuttgart", "KÖNIGSTRAßE 12"));
    EXPECT_EQ(other.Adressen().AsString("bem"), "Klinikum Mitte");
}

// ---------------------------------------------------------------- templates

class DmVerwaltungTemplatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dm.OpenVersicherte();
        Table& v = dm.Versicherte();
        auto add = [&](const char* nach, const char* vor, const char* versNum, TDateTime geb) {
            v.Append();
            v.SetString("Nachname", nach);
            v.SetString("Vorname", vor);
            v.SetString("VersNum", versNum);
            v.SetDateTime("Geb", geb);
            v.Post();
        };
        add("Meier", "Hans", "A123456789", EncodeDate(1940, 5, 1));
        add("Müller", "Jürgen", "B987654321", EncodeDate(1935, 1, 17));
        add("MEHRING", "Anna", "C111111111", EncodeDate(1950, 3, 3));
        add("Klemens", "Ute", "D222222222", EncodeDate(1944, 12, 24));
        add("mertens", "Özlem", "E333333333", EncodeDate(1962, 7, 8));
        add("Meier", "Erika", "F444444444", EncodeDate(1941, 2, 2));
    }
    TempDir dir;
    TdmVerwaltung dm{dir.path()};
};

TEST_F(DmVerwaltungTemplatesTest, OrderedBySurnameThenFirstName) {
    EXPECT_EQ(Column(dm.Versicherte(), "Vorname"),
              (std::vector<std::string>{"Ute", "Anna", "Erika", "Hans", "Jürgen", "Özlem"}));
}

TEST_F(DmVerwaltungTemplatesTest, FilterShowsSurnamesBeginningWithTheTextInAnyCase) {
    Table& v = dm.Versicherte();
    for (const char* typed : {"me", "ME", "Me", "mE"}) {
        EXPECT_EQ(dm.SetVorlagenFilter(typed), 4) << typed;
        for (v.First(); !v.Eof(); v.Next()) EXPECT_TRUE(StartsText("me", v.AsString("Nachname")));
    }
    // "Klemens" holds "me" further on and is not shown
    EXPECT_EQ(dm.SetVorlagenFilter("mü"), 1);
    EXPECT_EQ(dm.SetVorlagenFilter("MÜ"), 1);
    EXPECT_EQ(dm.SetVorlagenFilter("x"), 0);
    EXPECT_EQ(dm.SetVorlagenFilter("  "), -1);
    EXPECT_EQ(v.RecordCount(), 6);
}

TEST_F(DmVerwaltungTemplatesTest, SuggestionFollowsChangesAndLeavesTheCursor) {
    Table& v = dm.Versicherte();
    v.Last();
    auto current = v.GetBookmark();
    EXPECT_TRUE(dm.HasVorlageWithPrefix("mer"));
    EXPECT_TRUE(dm.HasVorlageWithPrefix("MÜLL"));
    EXPECT_TRUE(dm.HasVorlageWithPrefix("k"));
    EXPECT_FALSE(dm.HasVorlageWithPrefix("lemens"));
    EXPECT_FALSE(dm.HasVorlageWithPrefix("Meiers"));
    EXPECT_EQ(v.GetBookmark(), current);

    v.Append();
    v.SetString("Nachname", "Zörner");
    v.Post();
    EXPECT_TRUE(dm.HasVorlageWithPrefix("zö"));
    v.Edit();
    v.SetString("Nachname", "Albers");
    v.Post();
    EXPECT_FALSE(dm.HasVorlageWithPrefix("zö"));
    EXPECT_TRUE(dm.HasVorlageWithPrefix("alb"));
}

TEST_F(DmVerwaltungTemplatesTest, LocatePersonIgnoringCaseAndMatchingTheBirthDate) {
    Table& v = dm.Versicherte();
    EXPECT_TRUE(dm.LocateVorlage("f444444444", "MEIER", "erika", EncodeDate(1941, 2, 2)));
    EXPECT_EQ(v.AsString("Vorname"), "Erika");
    EXPECT_FALSE(dm.LocateVorlage("F444444444", "Meier", "Erika", EncodeDate(1941, 2, 3)));
    EXPECT_FALSE(dm.LocateVorlage("A123456789", "Meier", "Erika", EncodeDate(1941, 2, 2)));
    EXPECT_TRUE(dm.LocateVorlage("E333333333", "Mertens", "özlem", EncodeDate(1962, 7, 8)));

    // written when changed, and found again after reopening
    dm.FlushVersicherte();
    TdmVerwaltung other(dir.path());
    std::vector<std::string> status;
    other.OnStatus = [&](const std::string& s) { status.push_back(s); };
    EXPECT_TRUE(other.LocateVorlage("b987654321", "müller", "JÜRGEN", EncodeDate(1935, 1, 17)));
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0], "Vorlagen Versicherte laden...");
    EXPECT_EQ(status[1], "Vorlagen geladen: 00:00");
}

// -------------------------------------------------------------- kind lookup

TEST(DmVerwaltungKindTest, FirstTariffInNameOrderDecidesAndUnknownHasNoKind) {
    TempDir dir;
    TdmVerwaltung dm(dir.path());
    dm.OpenTarife();
    // inserted out of name order: "B" comes first by name
    AddTarif(dm.Tarife(), "C Dialyse", {{"100", "P", 2500}, {"300", "X", 0, 5}});
    AddTarif(dm.Tarife(), "B Stadt", {{"100", "K", 150, 0, 11}, {"200", "W", 30}});
    PositionKind k = dm.KindOf("100");
    EXPECT_EQ(k.art, "K");
    EXPECT_EQ(k.freikm, 11);
    EXPECT_FALSE(k.IsDiscount());
    EXPECT_EQ(dm.KindOf("300").pctAbschlag, 5);
    EXPECT_TRUE(dm.KindOf("300").IsDiscount());
    PositionKind none = dm.KindOf("999");
    EXPECT_EQ(none.art, "");
    EXPECT_EQ(none.pctAbschlag, 0);
    EXPECT_EQ(none.freikm, 0);
    EXPECT_EQ(dm.KindOf("10").art, "");        // exactly this number, no prefix
}

TEST(DmVerwaltungKindTest, LookupFollowsEditsOfTariffsAndPositions) {
    TempDir dir;
    TdmVerwaltung dm(dir.path());
    dm.OpenTarife();
    Table& t = dm.Tarife();
    AddTarif(t, "B Stadt", {{"100", "K", 150}});
    EXPECT_EQ(dm.KindOf("100").art, "K");

    // a position edited in its own table
    t.First();
    Table& p = t.Nested(TdmVerwaltung::kTarifdetail);
    p.First();
    p.Edit();
    p.SetString("Art", "S");
    p.Post();
    EXPECT_EQ(dm.KindOf("100").art, "S");
    p.Edit();                                 // the same row again
    p.SetString("Art", "T");
    p.Post();
    EXPECT_EQ(dm.KindOf("100").art, "T");

    // a tariff earlier by name takes over the number
    AddTarif(t, "A Land", {{"100", "P", 900}});
    EXPECT_EQ(dm.KindOf("100").art, "P");
    // renamed behind the other one
    t.First();
    t.Edit();
    t.SetString("Tarifbez", "Z Land");
    t.Post();
    EXPECT_EQ(dm.KindOf("100").art, "T");
    // its position removed
    t.First();
    t.Nested(TdmVerwaltung::kTarifdetail).First();
    t.Nested(TdmVerwaltung::kTarifdetail).Delete();
    EXPECT_EQ(dm.KindOf("100").art, "P");
    // a tariff removed
    t.Last();
    t.Delete();
    EXPECT_EQ(dm.KindOf("100").art, "");
    // reloaded from the file
    AddTarif(t, "Neu", {{"100", "W", 0}});
    dm.SaveTarife();
    dm.CloseTarife();
    EXPECT_EQ(dm.KindOf("100").art, "W");
}

TEST(DmVerwaltungKindTest, LookupSeesFilteredOutTariffsAndKeepsTheWindowsCursor) {
    TempDir dir;
    TdmVerwaltung dm(dir.path());
    dm.OpenTarife();
    Table& t = dm.Tarife();
    AddTarif(t, "A Land", {{"7", "K", 100}});
    AddTarif(t, "B Stadt", {{"8", "P", 500}});
    t.SetFilter("Tarifbez = 'B Stadt'");
    t.SetFiltered(true);
    t.First();
    auto current = t.GetBookmark();
    EXPECT_EQ(dm.KindOf("7").art, "K");
    EXPECT_EQ(t.GetBookmark(), current);
    EXPECT_EQ(t.RecordCount(), 1);
    // positions of the visible tariff edited while the lookup was built
    Table& p = t.Nested(TdmVerwaltung::kTarifdetail);
    p.First();
    p.Edit();
    p.SetString("PosNum", "9");
    p.Post();
    EXPECT_EQ(dm.KindOf("9").art, "P");
    EXPECT_EQ(dm.KindOf("8").art, "");

    // a tariff added behind the filter is found, and its positions are in order
    AddTarif(t, "C Land", {{"12", "T", 0}, {"11", "P", 700}});
    EXPECT_EQ(t.RecordCount(), 1);
    EXPECT_EQ(dm.KindOf("12").art, "T");
    t.SetFiltered(false);
    t.Last();
    EXPECT_EQ(Column(t.Nested(TdmVerwaltung::kTarifdetail), "Art"), (std::vector<std::string>{"P", "T"}));
}

// ---------------------------------------------------------------- demo data

TEST(DmVerwaltungDemoTest, ShippedMasterDataIsCompleteAndReadable) {
    TempDir dir;
    for (const char* f : {"tarife.xml", "Adressen.xml", "Versicherte.xml", "SEQ.xml"})
        ASSERT_TRUE(CopyFileTo(std::string(BRENVO_SOURCE_DIR) + "/demo/Stammdaten/" + f, dir.file(f), false)) << f;
    TdmVerwaltung dm(dir.path());
    dm.OpenTarife();
    Table& t = dm.Tarife();
    EXPECT_GE(t.RecordCount(), 3);
    std::set<std::string> arts;
    std::set<double> vat;
    bool threshold = false, discount = false;
    for (t.First(); !t.Eof(); t.Next()) {
        EXPECT_FALSE(t.AsString("Tarifbez").empty());
        Table& p = t.Nested(TdmVerwaltung::kTarifdetail);
        for (p.First(); !p.Eof(); p.Next()) {
            arts.insert(p.AsString("Art"));
            vat.insert(p.AsFloat("Ust"));
            threshold |= p.AsString("Art") == "K" && p.AsFloat("freikm") > 0;
            discount |= p.AsString("Art") == "X" && p.AsFloat("PCT_Abschlag") > 0;
            EXPECT_EQ(dm.KindOf(p.AsString("PosNum")).art, p.AsString("Art"));
            EXPECT_EQ(p.AsString("Tarif").size(), 7u);
        }
    }
    EXPECT_EQ(arts, (std::set<std::string>{"K", "P", "W", "S", "X", "T"}));
    EXPECT_EQ(vat, (std::set<double>{7, 19}));
    EXPECT_TRUE(threshold);
    EXPECT_TRUE(discount);

    dm.OpenAdressen();
    EXPECT_GE(dm.Adressen().RecordCount(), 3);
    EXPECT_TRUE(dm.HasVorlageWithPrefix("mü"));
    EXPECT_GE(dm.Versicherte().RecordCount(), 3);
    const int64_t rechId = dm.NextID("RechID");
    EXPECT_GT(rechId, 1);
    EXPECT_EQ(dm.NextID("RechID"), rechId + 1);
}
