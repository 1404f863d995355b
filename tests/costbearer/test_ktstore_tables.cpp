// The cost-bearer tables: loading, sort orders honoured by the lookups,
// ResetIndexes, the report's restoring of positions, the DTAREF counter,
// saving, the DTAREF column patch, and the generator of large directories.

#include "KtFixture.h"

#include <filesystem>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "tools/KtDirGenerator.h"

using namespace brenvo;
using kttest::KtStoreTest;

namespace {
const std::string K1 = "103110016";
const std::string K6 = "103660010";

std::vector<std::string> Column(Table& t, const char* name) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.AsString(name));
    return out;
}

// A KT_BASE file of an older installation: no DTAREF column.
void WriteOldBase(const std::string& path) {
    Table t({FieldDef::Str("K_IK", 9), FieldDef::Str("KT_KURZBEZ", 40), FieldDef::Str("ISKT", 1)});
    for (const char* ik : {"109910014", "103110016"}) {
        t.Append();
        t.SetString("K_IK", ik);
        t.SetString("KT_KURZBEZ", "Kasse");
        t.SetString("ISKT", "T");
        t.Post();
    }
    t.SaveToFile(path);
}
} // namespace

// ---------------------------------------------------------------- loading

TEST_F(KtStoreTest, LoadsTheFiveTablesWithTheirOrdersAndNames) {
    EXPECT_EQ(store.KTBase().RecordCount(), 34);
    EXPECT_EQ(store.KTZuordn().RecordCount(), 37);
    EXPECT_EQ(store.KTAnschrift().RecordCount(), 33);
    EXPECT_EQ(store.KTTransfer().RecordCount(), 11);
    EXPECT_EQ(store.KTBase().IndexFieldNames(), "K_IK");
    EXPECT_EQ(store.KTZuordn().IndexFieldNames(), TSGBKTStore::KTZuordnLoadOrder);
    EXPECT_EQ(store.KTAnschrift().IndexFieldNames(), "K_IK");
    EXPECT_EQ(store.KTTransfer().IndexFieldNames(), "K_IK");
    EXPECT_EQ(store.KTKey().IndexFieldNames(), "KTS_SNAME;KTS_KEY");
    EXPECT_EQ(store.KTBaseFileName(), dir.file("KT_BASE.XML"));
    EXPECT_EQ(store.KTAnschriftFileName(), dir.file("KT_ANSCHRIFT.XML"));
    EXPECT_EQ(store.KTTransferFileName(), dir.file("KT_TRANSFER.XML"));
    EXPECT_EQ(store.KTKeyFileName(), dir.file("KT_KEY.XML"));
    // the rows of one IK lie together
    std::vector<std::string> iks = Column(store.KTBase(), "K_IK");
    EXPECT_TRUE(std::is_sorted(iks.begin(), iks.end()));
}

TEST_F(KtStoreTest, KeyListKT804HoldsTheSixteenStatesInKeyOrder) {
    Table& k = store.KTKey();
    k.SetFilter("KTS_SNAME = 'KT804'");
    k.SetFiltered(true);
    std::vector<std::string> entries;
    for (k.First(); !k.Eof(); k.Next()) entries.push_back(k.AsString("KTS_KEY") + " " + k.AsString("KTS_TEXT"));
    k.SetFiltered(false);
    ASSERT_EQ(entries.size(), 16u);
    EXPECT_EQ(entries.front(), "01 Schleswig-Holstein");
    EXPECT_EQ(entries[4], "05 Nordrhein-Westfalen");
    EXPECT_EQ(entries[7], "08 Baden-Württemberg");
    EXPECT_EQ(entries.back(), "16 Thüringen");
}

TEST_F(KtStoreTest, ReloadReadsTheFileAgainAndAFailedLoadKeepsTheTable) {
    EXPECT_THROW(store.LoadKTBase(dir.file("FEHLT.XML")), Error);
    EXPECT_EQ(store.KTBase().RecordCount(), 34);
    EXPECT_EQ(store.KTBaseFileName(), dir.file("KT_BASE.XML"));

    WriteOldBase(dir.file("ALT.XML"));
    store.LoadKTBase(dir.file("ALT.XML"));
    EXPECT_EQ(store.KTBase().RecordCount(), 2);
    EXPECT_EQ(store.KTBaseFileName(), dir.file("ALT.XML"));
    EXPECT_EQ(Column(store.KTBase(), "K_IK"), (std::vector<std::string>{"103110016", "109910014"}));
    EXPECT_EQ(store.GetKurzBez("103110016"), "Kasse");   // columns looked up again
}

// ---------------------------------------------------------------- sort orders and filters

TEST_F(KtStoreTest, FirstMatchingLinkFollowsTheCurrentSortOrder) {
    // K6 has a "99" link (ISDATEN "F", provider kind "99") and a link for
    // state 01 / district 01 (ISDATEN "T", provider kind "00").
    EXPECT_EQ(store.GetDatenIKLog(K6, "01", "01", today), "109910014");   // order after loading
    store.ResetIndexes();
    EXPECT_EQ(store.KTZuordn().IndexFieldNames(), TSGBKTStore::KTZuordnResetOrder);
    EXPECT_EQ(store.GetDatenIKLog(K6, "01", "01", today), "109910058");   // provider kind first
    store.KTZuordn().SetIndexFieldNames(TSGBKTStore::KTZuordnLoadOrder);
    EXPECT_EQ(store.GetDatenIKLog(K6, "01", "01", today), "109910014");
    store.GetDatenIKPhys(K1, "05", "38", today);                           // re-sorts and leaves it so
    EXPECT_EQ(store.KTZuordn().IndexFieldNames(), TSGBKTStore::KTZuordnPhysOrder);
    EXPECT_EQ(store.GetDatenIKLog(K6, "01", "01", today), "109910058");   // state before "99"
}

TEST_F(KtStoreTest, KTInfoFollowsTheResortInTheMiddleOfTheResolution) {
    // Without a physical link of its own, K6's physical recipient is looked
    // up from its logical recipient, found again after the link table was
    // sorted by state: it is not the one of the first lookup.
    Table& z = store.KTZuordn();
    ASSERT_TRUE(z.Locate("K_IK;Z_ART", {Value(K6), Value(std::string("02"))}));
    z.Delete();
    TKTInfo info = store.GetKTInfo(K6, "01", "01", today);
    EXPECT_EQ(info.DatenIKLog, "109910014");    // order after loading
    EXPECT_EQ(info.DatenIKPhys, "109920040");   // of 109910058, first once sorted by state
}

TEST_F(KtStoreTest, ForeignSortAndFilterMisleadLookupsUntilResetIndexes) {
    Table& z = store.KTZuordn();
    Table& base = store.KTBase();
    z.SetIndexFieldNames("IK_PARTNER");
    base.SetIndexFieldNames("KT_KURZBEZ");
    base.SetFilter("ISDATEN = 'T'");
    base.SetFiltered(true);
    const std::string filter = base.Filter();

    // the rows of K1's "03" links no longer lie together
    // (no link found; the message's short name then fails on the filtered base table)
    EXPECT_EQ(ErrorOf([&] { store.GetDatenIKLog(K1, "05", "20", today); }),
              "TSGBKTStore IK nicht vorhanden IK=103110016");
    EXPECT_EQ(ErrorOf([&] { store.ValidateIK(K1, "x"); }), "TSGBKTStore IK nicht validiert 103110016 x");
    EXPECT_EQ(store.GetKurzBez("109910014"), "DAS Rhein-Ruhr");   // found in another order

    store.ResetIndexes();
    EXPECT_FALSE(base.Filtered());
    EXPECT_EQ(base.Filter(), filter);   // switched off, not forgotten
    EXPECT_EQ(base.IndexFieldNames(), "K_IK");
    EXPECT_EQ(store.GetDatenIKLog(K1, "05", "20", today), "109910025");
    EXPECT_EQ(ErrorOf([&] { store.ValidateIK(K1, "x"); }), "");
}

TEST_F(KtStoreTest, ReportRestoresPositionsAndKTBaseSortAndFilter) {
    Table& base = store.KTBase();
    Table& z = store.KTZuordn();
    Table& a = store.KTAnschrift();
    Table& t = store.KTTransfer();
    base.SetIndexFieldNames("KT_KURZBEZ");
    base.SetFilter("ISKT = 'T'");
    base.SetFiltered(true);
    ASSERT_TRUE(base.Locate("K_IK", {Value(std::string("103550017"))}));
    z.SetIndexFieldNames("IK_PARTNER");
    z.SetFilter("Z_ART = '09'");
    z.SetFiltered(true);
    ASSERT_TRUE(z.Locate("K_IK;Z_LEART", {Value(K1), Value(std::string("46"))}));
    ASSERT_TRUE(a.Locate("K_IK", {Value(std::string("109930024"))}));
    t.Last();
    const auto bBase = base.GetBookmark(), bZ = z.GetBookmark(), bA = a.GetBookmark(), bT = t.GetBookmark();
    std::vector<TableEvent> events;
    base.Subscribe([&](TableEvent e, Table::Bookmark) { events.push_back(e); });

    std::string report = store.GetKTReport("103110038", "05", "20", Day(2024, 3, 1));
    EXPECT_NE(report.find(" Daten logisch:  109910025 "), std::string::npos) << report;

    EXPECT_EQ(base.IndexFieldNames(), "KT_KURZBEZ");
    EXPECT_TRUE(base.Filtered());
    EXPECT_EQ(base.RecordCount(), 10);
    EXPECT_EQ(base.GetBookmark(), bBase);
    EXPECT_EQ(a.GetBookmark(), bA);
    EXPECT_EQ(t.GetBookmark(), bT);
    EXPECT_EQ(z.GetBookmark(), bZ);
    // the link table keeps the lookups' order and stays unfiltered
    EXPECT_EQ(z.IndexFieldNames(), TSGBKTStore::KTZuordnPhysOrder);
    EXPECT_FALSE(z.Filtered());
    // views saw one refresh at the end, no single moves
    EXPECT_EQ(events, std::vector<TableEvent>{TableEvent::Reset});
}

TEST_F(KtStoreTest, ReportLeavesAFilterThatWasOffSwitchedOff) {
    Table& base = store.KTBase();
    base.SetFiltered(false);
    base.SetFilter("ISDATEN = 'T'");   // text set, filter off: stays off
    ASSERT_TRUE(base.Locate("K_IK", {Value(K1)}));
    store.GetKTReport(K1, "05", "38", today);
    EXPECT_FALSE(base.Filtered());
    EXPECT_EQ(base.AsString("K_IK"), K1);
}

// ---------------------------------------------------------------- DTAREF counter and saving

TEST_F(KtStoreTest, DtaRefCounterFromStoredEmptyAndNonNumericValues) {
    EXPECT_FALSE(store.Modified());
    EXPECT_EQ(store.NextDtaRef("109910014", 7), 1042);   // stored "1041"
    EXPECT_EQ(store.NextDtaRef("109910014", 7), 1043);
    EXPECT_EQ(store.NextDtaRef("109910025", 7), 1001);   // ""
    EXPECT_EQ(store.NextDtaRef("109910036", 7), 1001);   // "A12"
    EXPECT_EQ(store.NextDtaRef("109920017", 7), 1001);   // null
    EXPECT_EQ(store.NextDtaRef("109920017", 7), 1002);
    Table& base = store.KTBase();
    ASSERT_TRUE(base.Locate("K_IK", {Value(std::string("109920028"))}));
    base.Edit();
    base.SetString("DTAREF", " 7");   // blanks make it no number
    base.Post();
    EXPECT_EQ(store.NextDtaRef("109920028", 7), 1001);
    EXPECT_TRUE(store.Modified());
    EXPECT_EQ(base.ChangeCount(), 0);   // merged at once
}

TEST_F(KtStoreTest, DtaRefCounterForUnknownIKAndOldFiles) {
    EXPECT_EQ(store.NextDtaRef("109999991", 7), -1);
    EXPECT_FALSE(store.Modified());

    WriteOldBase(dir.file("KT_BASE.XML"));
    store.LoadKTBase(dir.file("KT_BASE.XML"));
    EXPECT_EQ(store.NextDtaRef("109910014", 4711), 4711);
    EXPECT_EQ(store.NextDtaRef("109999991", -1), -1);
    EXPECT_FALSE(store.Modified());
}

TEST_F(KtStoreTest, SaveKTBaseWritesOnlyWhenACounterAdvancedOrForced) {
    const std::string file = dir.file("KT_BASE.XML");
    const std::string before = ReadFileBytes(file);
    Table& base = store.KTBase();
    ASSERT_TRUE(base.Locate("K_IK", {Value(K1)}));
    base.Edit();
    base.SetString("KT_ASP", "Frau Özdemir");
    base.Post();
    store.SaveKTBase(false);
    EXPECT_EQ(ReadFileBytes(file), before);

    EXPECT_EQ(store.NextDtaRef("109910014", 0), 1042);
    store.SaveKTBase(false);
    EXPECT_FALSE(store.Modified());
    TSGBKTStore again(system);
    again.LoadKTBase(file);
    EXPECT_EQ(again.NextDtaRef("109910014", 0), 1043);
    ASSERT_TRUE(again.KTBase().Locate("K_IK", {Value(K1)}));
    EXPECT_EQ(again.KTBase().AsString("KT_ASP"), "Frau Özdemir");   // the whole table is saved

    store.SaveKTBase(true);   // forced: written although nothing changed
    TSGBKTStore third(system);
    third.LoadKTBase(file);
    EXPECT_EQ(third.KTBase().RecordCount(), 34);
}

// ---------------------------------------------------------------- DTAREF column patch

TEST_F(KtStoreTest, PatchAddsTheColumnToAnOldFileAndClosesTheTable) {
    const std::string file = dir.file("KT_BASE.XML");
    WriteOldBase(file);
    store.LoadKTBase(file);
    store.EnsureDtaRefField();
    EXPECT_FALSE(store.KTBase().Active());
    EXPECT_FALSE(store.Modified());
    const std::string text = ReadFileBytes(file);
    const std::string element = TSGBKTStore::DtaRefFieldElement;
    EXPECT_NE(text.find(element + "</FIELDS>"), std::string::npos) << text;

    // the closed table counts as empty; nothing crashes
    EXPECT_EQ(store.NextDtaRef(K1, 5), 5);
    EXPECT_EQ(ErrorOf([&] { store.ValidateIK(K1, "x"); }), "TSGBKTStore IK nicht validiert 103110016 x");
    store.SaveKTBase(true);
    EXPECT_EQ(ReadFileBytes(file), text);

    // patching again while the table is closed must not declare the column twice
    EXPECT_FALSE(TSGBKTStore::AddFieldToXmlFile(store.KTBase(), "DTAREF", file, element));
    EXPECT_EQ(ReadFileBytes(file), text);

    // the next start reads the column; existing rows count from 1001
    TSGBKTStore next(system);
    next.LoadKTBase(file);
    EXPECT_TRUE(next.KTBase().HasField("DTAREF"));
    EXPECT_EQ(next.NextDtaRef(K1, 5), 1001);
}

TEST_F(KtStoreTest, PatchLeavesAFileThatHasTheColumnAlone) {
    const std::string file = dir.file("KT_BASE.XML");
    const std::string before = ReadFileBytes(file);
    store.EnsureDtaRefField();
    EXPECT_TRUE(store.KTBase().Active());
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_EQ(store.GetKurzBez(K1), "Rheinische OKK");
}

TEST_F(KtStoreTest, PatchOfAFileWithoutFieldsSectionRewritesItUnchanged) {
    const std::string file = dir.file("kaputt.xml");
    AtomicWriteFile(file, "<DATAPACKET><METADATA/></DATAPACKET>");
    Table t({FieldDef::Str("A_HANDLE", 40)});
    EXPECT_TRUE(TSGBKTStore::AddFieldToXmlFile(t, "DTAREF", file, TSGBKTStore::DtaRefFieldElement));
    EXPECT_FALSE(t.Active());
    EXPECT_EQ(ReadFileBytes(file), "<DATAPACKET><METADATA/></DATAPACKET>");
}

TEST_F(KtStoreTest, PatchOfAMissingFileFailsAndKeepsTheTableOpen) {
    Table t({FieldDef::Str("A_HANDLE", 40)});
    EXPECT_THROW(TSGBKTStore::AddFieldToXmlFile(t, "DTAREF", dir.file("fehlt.xml"), TSGBKTStore::DtaRefFieldElement),
                 Error);
    EXPECT_TRUE(t.Active());
}

// ---------------------------------------------------------------- the generator

TEST(KtDirGenerator, WritesAConsistentDirectoryDeterministically) {
    TempDir d1, d2, d3;
    KtDirOptions opt;
    opt.seed = 7;
    opt.costBearers = 30;
    opt.referrals = 120;
    opt.logicalRecipients = 6;
    opt.physicalRecipients = 3;
    opt.paperOffices = 4;
    KtDirSummary sum = GenerateKtDirectory(d1.path(), opt);
    GenerateKtDirectory(d2.path(), opt);
    opt.seed = 8;
    GenerateKtDirectory(d3.path(), opt);
    for (const char* f : kttest::kFiles)
        EXPECT_EQ(ReadFileBytes(d1.file(f)), ReadFileBytes(d2.file(f))) << f;
    EXPECT_NE(ReadFileBytes(d1.file("KT_ZUORDN.XML")), ReadFileBytes(d3.file("KT_ZUORDN.XML")));

    TSystem sys;
    TSGBKTStore s(sys);
    kttest::LoadDirectory(s, d1.path());
    EXPECT_EQ(s.KTBase().RecordCount(), sum.iks);
    EXPECT_EQ(sum.iks, 30 + 120 + 6 + 3 + 4);
    EXPECT_EQ(s.KTZuordn().RecordCount(), sum.links);
    EXPECT_EQ(s.KTAnschrift().RecordCount(), sum.addresses);
    EXPECT_EQ(s.KTTransfer().RecordCount(), sum.transfers);
    EXPECT_EQ(s.KTKey().RecordCount(), 16);

    // every IK of an insurance card resolves to a cost bearer with a data
    // recipient, in every location
    for (const std::string& ik : sum.referrals) {
        for (const auto& [land, bezirk] : sum.locations) {
            TKTInfo info = s.GetKTInfo(ik, land, bezirk, Today());
            ASSERT_TRUE(s.IsKostentraeger(info.KTIK)) << ik;
            ASSERT_EQ(info.DatenIKLog.size(), 9u) << ik;
            ASSERT_EQ(info.DatenIKPhys.size(), 9u) << ik;
            ASSERT_EQ(info.PapierIK.size(), 9u) << ik;
        }
    }
}
