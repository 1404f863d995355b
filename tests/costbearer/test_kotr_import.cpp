// The import of the insurers' cost-bearer files: the real files of 2022
// give the reference directory row for row, the files of 2026 import and
// resolve as they say.

#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "costbearer/KotrBuilder.h"
#include "costbearer/KotrData.h"
#include "costbearer/KtFixture.h"
#include "costbearer/KotrImport.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/Error.h"
#include "lib/base/Strings.h"

using namespace brenvo;
using kttest::DataDir;
using kttest::ExpectSameRows;
using kttest::KotrFiles;

namespace {

const TDateTime kDay2026 = EncodeDate(2026, 12, 10);

struct Imported {
    std::vector<std::string> log;
    std::unique_ptr<KotrImport> import;
};

// Reads the files (with their line breaks removed when asked) and builds the tables.
Imported Import(const std::string& sub, bool allLinks, bool withoutLineBreaks = false) {
    Imported r;
    r.import = std::make_unique<KotrImport>(allLinks, kDay2026, [&r](const std::string& l) { r.log.push_back(l); });
    for (const std::string& path : KotrFiles(sub)) {
        if (!withoutLineBreaks) {
            r.import->ReadFile(path);
            continue;
        }
        std::string bytes = ReadFileBytes(path);
        std::erase(bytes, '\r');
        std::erase(bytes, '\n');
        r.import->AddFile(ParseKotrFile(bytes, path));
    }
    r.import->Build();
    return r;
}

Table Load(const std::string& path) {
    Table t;
    t.LoadFromFile(path);
    return t;
}

void ExpectDirectory(KotrImport& import, const std::string& expected, const std::string& expectedLinks) {
    CostBearerTables t = import.Tables();
    Table base = Load(expectedLinks + "/KT_BASE.XML"), zuordn = Load(expectedLinks + "/KT_ZUORDN.XML"),
          anschrift = Load(expected + "/KT_ANSCHRIFT.XML"), transfer = Load(expected + "/KT_TRANSFER.XML"),
          key = Load(expected + "/KT_KEY.XML");
    ExpectSameRows(base, t.KTBase, "KT_BASE");
    ExpectSameRows(zuordn, t.KTZuordn, "KT_ZUORDN");
    ExpectSameRows(anschrift, t.KTAnschrift, "KT_ANSCHRIFT");
    ExpectSameRows(transfer, t.KTTransfer, "KT_TRANSFER");
    ExpectSameRows(key, t.KTKey, "KT_KEY");
}

bool Logged(const std::vector<std::string>& log, const std::string& part) {
    for (const std::string& line : log)
        if (Contains(line, part)) return true;
    return false;
}

} // namespace

TEST(KotrImport2022, FilterForPatientTransportGivesTheTaxiDirectory) {
    Imported r = Import("kotr-2022", false);
    ExpectDirectory(*r.import, DataDir("kt-real"), DataDir("kt-real/taxi"));
    EXPECT_TRUE(Logged(r.log, "LK05Q321.ke0 (Landwirtschaftliche Krankenkasse, gültig ab 01.07.2021): 11 Einträge"));
}

TEST(KotrImport2022, AllLinksGiveTheFullDirectory) {
    Imported r = Import("kotr-2022", true);
    ExpectDirectory(*r.import, DataDir("kt-real"), DataDir("kt-real"));
    EXPECT_TRUE(Logged(r.log, "351 doppelte Verknüpfungen"));
}

TEST(KotrImport2022, FilesWithoutLineBreaksGiveTheSameTables) {
    Imported r = Import("kotr-2022", false, true);
    ExpectDirectory(*r.import, DataDir("kt-real"), DataDir("kt-real/taxi"));
}


// The directory a taxi company gets from the files of 2026, resolved as the
// files say: the AOK's physical office for Nordrhein and its paper office
// for patient transport, the Ersatzkasse's and the BKK's office for
// transport (not the one for other providers, which the full directory
// would give first).
TEST(KotrImport2026, FilesImportAndResolveAsTheySay) {
    Imported r = Import("kotr-2026", false);
    EXPECT_TRUE(Logged(r.log, "AO05Q426.ke0 (AOK, gültig ab 01.10.2026): 185 Einträge übernommen, 0 storniert, "
                              "1 nicht mehr gültig, 0 übersprungen"));
    EXPECT_TRUE(Logged(r.log, "IK05Q426.ke0 (Innungskrankenkassen, gültig ab 01.10.2026): 170 Einträge übernommen, "
                              "2 storniert, 35 nicht mehr gültig"));
    EXPECT_TRUE(Logged(r.log, "2 Verknüpfungen nicht übernommen: nur für das Unterverfahren HKP"));
    TempDir dir;
    r.import->Write(dir.path());
    TSystem system;
    TSGBKTStore store(system);
    kttest::LoadDirectory(store, dir.path());
    EXPECT_EQ(store.KTBase().RecordCount(), 955);
    store.ResetIndexes();

    TKTInfo aok = store.GetKTInfo("101519213", "05", "38", kDay2026);   // AOK Rheinland/Hamburg
    EXPECT_EQ(aok.KTIK, "101519213");
    EXPECT_EQ(aok.DatenIKLog, "101519213");
    EXPECT_EQ(aok.DatenIKPhys, "104212516");
    EXPECT_EQ(aok.PapierIK, "104212300");
    EXPECT_EQ(aok.Email, "da@dta.aok.de");

    TKTInfo dak = store.GetKTInfo("100167999", "05", "38", kDay2026);   // DAK, insurance-card IK
    EXPECT_EQ(dak.KTIK, "105830016");
    EXPECT_EQ(dak.DatenIKLog, "107436557");
    EXPECT_EQ(dak.DatenIKPhys, "107436557");
    EXPECT_EQ(dak.PapierIK, "107436557");
    EXPECT_EQ(dak.Email, "inbox@tp5.arz-emmendingen.de");

    TKTInfo bkk = store.GetKTInfo("103192656", "05", "38", kDay2026);   // atlas BKK, two referrals to vivida BKK
    EXPECT_EQ(bkk.KTIK, "107536262");
    EXPECT_EQ(bkk.DatenIKLog, "107436557");
    EXPECT_EQ(bkk.PapierIK, "107436557");
    EXPECT_EQ(bkk.Email, "inbox@tp5.arz-emmendingen.de");

    Imported all = Import("kotr-2026", true);
    Table links = std::move(all.import->Tables().KTZuordn);
    links.SetIndexFieldNames(TSGBKTStore::KTZuordnResetOrder);
    ASSERT_TRUE(links.FindKey({std::string("105830016"), std::string("03")}));
    EXPECT_EQ(links.AsString("IK_PARTNER"), "661430035");   // the office for aids suppliers (10)
}

// ---------------------------------------------------------------------------
// Files written for the test

namespace {

using kttest::Entry;
using kttest::KotrText;

struct SmallImport {
    std::vector<std::string> log;
    KotrImport import;
    SmallImport(bool allLinks, TDateTime today = kDay2026)
        : import(allLinks, today, [this](const std::string& l) { log.push_back(l); }) {}
    void Add(const std::string& name, const std::vector<kttest::Segments>& messages) {
        import.AddFile(ParseKotrFile(KotrText(name, messages), "/daten/" + name));
    }
};

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// Value of a column in the row whose leading index columns hold `key`.
std::string At(Table& t, const std::string& order, const std::vector<Value>& key, const char* column) {
    t.SetIndexFieldNames(order);
    if (!t.FindKey(key)) return "<keine Zeile>";
    return t.AsString(column);
}

} // namespace

TEST(KotrImportRules, OfSeveralFilesOfOneKindTheOneInForceIsUsed) {
    SmallImport s(false);
    s.Add("LK05Q226.ke0", {Entry("101234567", "LKK Q2")});
    s.Add("LK05Q426.ke1", {Entry("101234567", "LKK Q4 Nachtrag")});
    s.Add("LK05Q426.ke0", {Entry("101234567", "LKK Q4")});
    s.Add("LK05Q127.ke0", {Entry("101234567", "LKK 2027")});
    s.import.Build();
    CostBearerTables t = s.import.Tables();
    EXPECT_EQ(At(t.KTBase, "K_IK", {std::string("101234567")}, "KT_KURZBEZ"), "LKK Q4 Nachtrag");
    EXPECT_TRUE(Logged(s.log, "LK05Q226.ke0 nicht verwendet (gültig ab 01.04.2026): es gilt LK05Q426.ke1"));
    EXPECT_TRUE(Logged(s.log, "LK05Q426.ke0 nicht verwendet (gültig ab 01.10.2026): es gilt LK05Q426.ke1"));
    EXPECT_TRUE(Logged(s.log, "LK05Q127.ke0 nicht verwendet: gilt erst ab 01.01.2027."));
    EXPECT_TRUE(Logged(s.log, "keine Datei für AOK (AO)"));

    SmallImport future(false);
    future.Add("LK05Q127.ke0", {Entry("101234567", "LKK 2027")});
    EXPECT_EQ(ErrorOf([&] { future.import.Build(); }),
              "Für Landwirtschaftliche Krankenkasse gilt noch keine der Dateien: LK05Q127.ke0 gilt erst ab "
              "01.01.2027. Es wurde nichts übernommen.");
    SmallImport care(false);
    care.Add("LK06Q426.ke0", {Entry("101234567", "LKK Pflege")});
    EXPECT_EQ(ErrorOf([&] { care.import.Build(); }),
              "LK06Q426.ke0 ist eine Kostenträgerdatei des Verfahrens 06, nicht der Sonstigen Leistungserbringer "
              "(05). Es wurde nichts übernommen.");
}

// What the published files of 2022 do not show: validity of single
// segments, cancelled and expired entries, links for a sub-procedure, new
// provider codes, channels counted within their medium.
TEST(KotrImportRules, EntriesAndLinksLeftOutAreCountedNewCodesKept) {
    const kttest::Segments links = {
        "VKG+01+101234567+5++++++00",
        "VKG+03+109900001+5++07++++00",
        "VDT+20261201",                                   // this link only from December
        "VKG+03+109900002+5++07++++40",
        "VDT+20200101+20260630",                          // ended before the list
        "VKG+03+109900003+5++07++++ZZ",                   // a code nobody knows yet
        "VKG+03+109900004+5++07++99++30++HKP",            // home nursing's sub-procedure only
        "VKG+09+109900005+5++21++++00",
        "VKG+09+109900005+5++26++++00",
        "VKG+09+109900005+5++27++++00",                   // three single keys: one row "28"
        "VKG+02+109900006+5++07+++17+00"};                // KV region Niedersachsen
    const kttest::Segments tail = {"UEM+4+09+I8",       "UEM+1+00+I8", "DFU+02+070+++++zweite@example.org",
                                   "DFU+01+070+++++erste@example.org", "UEM+1+00+I8",
                                   "DFU+01+070+++++dritte@example.org"};
    for (bool allLinks : {false, true}) {
        SmallImport s(allLinks);
        s.Add("BK05Q426.ke0", {Entry("101234567", "BKK Test", links, tail),
                               Entry("101234568", "BKK storniert", {}, {}, "03"),
                               Entry("101234569", "BKK alt", {}, {}, "01", "20050101+20260930")});
        s.import.Build();
        EXPECT_TRUE(Logged(s.log, "BK05Q426.ke0 (Betriebskrankenkassen, gültig ab 01.10.2026): 1 Einträge übernommen, "
                                  "1 storniert, 1 nicht mehr gültig, 0 übersprungen"));
        EXPECT_TRUE(Logged(s.log, "1 Verknüpfungen nicht übernommen: nur für das Unterverfahren HKP"));
        EXPECT_TRUE(Logged(s.log, "1 Verknüpfungen, Anschriften oder Kanäle nicht mehr gültig"));
        EXPECT_TRUE(Logged(s.log, "Verknüpfungen mit unbekanntem Abrechnungscode übernommen: ZZ (1)"));
        CostBearerTables t = s.import.Tables();
        Table& z = t.KTZuordn;
        const std::string order = "K_IK;Z_ART;IK_PARTNER";
        auto key = [](const char* art, const char* partner) {
            return std::vector<Value>{std::string("101234567"), std::string(art), std::string(partner)};
        };
        EXPECT_EQ(At(z, order, key("03", "109900001"), "Z_VALIDFROM"), "01.12.2026");
        EXPECT_EQ(At(z, order, key("03", "109900002"), "Z_ART"), "<keine Zeile>");
        EXPECT_EQ(At(z, order, key("03", "109900003"), "Z_LEART"), allLinks ? "ZZ" : "<keine Zeile>");
        EXPECT_EQ(At(z, order, key("03", "109900004"), "Z_ART"), "<keine Zeile>");
        EXPECT_EQ(At(z, order, key("09", "109900005"), "Z_DATENLIEFERART"), "28");
        EXPECT_EQ(At(z, order, key("02", "109900006"), "Z_LESTANDORTLAND"), "03");
        EXPECT_EQ(z.RecordCount(), allLinks ? 5 : 4);
        EXPECT_EQ(At(t.KTTransfer, "K_IK", {std::string("101234567")}, "DFU_KANAL"), "erste@example.org");
        EXPECT_EQ(t.KTBase.RecordCount(), 1);
    }
}
