#include <gtest/gtest.h>

#include <vector>

#include "archive/U_RechStore.h"
#include "billing/JobFixture.h"
#include "common/TempDir.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/dataset/Table.h"

using namespace brenvo;
using jobtest::ErrorOf;
using jobtest::Heard;

namespace {

class RechStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ForceDirectories(importDir());
        ForceDirectories(archiveDir());
        store.InitStore(importDir(), archiveDir(), [this](const void* sender, const std::string& a, int64_t v,
                                                          const std::string& t) {
            EXPECT_EQ(sender, &store);
            heard.push_back({a, v, t});
        });
    }
    void TearDown() override { SetFixedNow(std::nullopt); }

    std::string importDir() const { return dir.file("import"); }
    std::string archiveDir() const { return dir.file("ArchivR"); }
    std::string InImport(const std::string& n) const { return PathJoin(importDir(), n); }
    std::string InArchive(const std::string& n) const { return PathJoin(archiveDir(), n); }

    // The invoice header of a document, as the job hands it over.
    static Table& Header(Table& h, const std::string& number, double brutto, TDateTime date = EncodeDate(2024, 3, 1)) {
        if (!h.Active())
            h.CreateDataSet({FieldDef::Str("SaRechNr", 14), FieldDef::Date("RechDatum"),
                             FieldDef::Money("RBetragBrutto"), FieldDef::Money("RBetragNetto")});
        h.EmptyTable();
        h.Append();
        h.SetString("SaRechNr", number);
        h.SetDateTime("RechDatum", date);
        h.SetFloat("RBetragBrutto", brutto);
        h.SetFloat("RBetragNetto", brutto - 1);
        h.Post();
        return h;
    }
    // A job takes an invoice whose file lies in the import directory.
    void Take(const std::string& number, const std::string& file, const std::string& handle = "H1",
              TDateTime date = EncodeDate(2024, 3, 1)) {
        AtomicWriteFile(InImport(file), "<Rechnungen>" + number + "</Rechnungen>");
        Table h;
        store.AddBilled(Header(h, number, 12.5, date), file, handle);
    }
    // The run commits what its jobs took (the inbox's files stay here).
    void Commit() {
        for (const TRechStore::StagedInvoice& s : store.Staged())
            TRechStore::PublishStaged(importDir(), archiveDir(), s.ImportName, s.ArchiveName);
        store.ClearStaged();
    }
    void Bill(const std::string& number, const std::string& file, const std::string& handle = "H1",
              TDateTime date = EncodeDate(2024, 3, 1)) {
        Take(number, file, handle, date);
        Commit();
    }

    TempDir dir;
    TRechStore store;
    std::vector<Heard> heard;
};

TEST_F(RechStoreTest, AddBilledStagesRecordsAndAnnouncesInsertThenBearbeitet) {
    Take("R-100", "r100.xml", "109000001_20240305_142233123");
    // Until the run commits, the file is only staged.
    EXPECT_FALSE(FileExists(InArchive("r100.xml")));
    EXPECT_EQ(ReadFileBytes(PathJoin(store.StagingDir(), "r100.xml")), "<Rechnungen>R-100</Rechnungen>");
    ASSERT_EQ(store.Staged().size(), 1u);
    EXPECT_EQ(store.Staged()[0].ArchiveName, "r100.xml");
    Commit();
    EXPECT_EQ(ReadFileBytes(InArchive("r100.xml")), "<Rechnungen>R-100</Rechnungen>");
    EXPECT_FALSE(FileExists(PathJoin(store.StagingDir(), "r100.xml")));
    EXPECT_TRUE(FileExists(InImport("r100.xml"))) << "the run's commit deletes the source, not the archive";
    Table& t = store.GetTable();
    ASSERT_EQ(t.RecordCount(), 1);
    t.First();
    EXPECT_EQ(t.AsInteger("R_ID"), 1);
    EXPECT_EQ(t.AsString("R_NUMMER"), "R-100");
    EXPECT_EQ(t.AsDateTime("R_DATUM"), EncodeDate(2024, 3, 1));
    EXPECT_DOUBLE_EQ(t.AsFloat("R_BETRAG"), 12.5) << "billing archives the gross amount";
    EXPECT_EQ(t.AsString("R_FILENAME"), "r100.xml");
    EXPECT_EQ(t.AsString("R_HANDLE"), "109000001_20240305_142233123");
    EXPECT_EQ(heard, (std::vector<Heard>{{"insert", 1, "r100.xml"}, {"bearbeitet", 1, "r100.xml"}}));
}

TEST_F(RechStoreTest, IdsFollowTheLargestIdLoadedAndNeverGoDown) {
    Bill("A", "a.xml");
    EXPECT_EQ(store.LastId(), 1);

    // a file whose largest id is 17, not in order
    Table file(TRechStore::DefaultFields());
    for (int id : {3, 17, 5}) {
        file.Append();
        file.SetInteger("R_ID", id);
        file.SetString("R_NUMMER", "N" + std::to_string(id));
        file.Post();
    }
    file.SaveToFile(dir.file("Rechnungen.xml"));

    TRechStore loaded;
    loaded.InitStore(importDir(), archiveDir(), nullptr);
    loaded.Load(dir.file("Rechnungen.xml"));
    EXPECT_EQ(loaded.LastId(), 17);
    AtomicWriteFile(InImport("b.xml"), "b");
    Table h;
    loaded.AddBilled(Header(h, "B", 1), "b.xml", "");
    EXPECT_EQ(loaded.LastId(), 18);
    // removing the newest row leaves its id used for the rest of the run
    ASSERT_TRUE(loaded.LocateByNumber("B"));
    loaded.DeleteCurrent();
    AtomicWriteFile(InImport("c.xml"), "c");
    loaded.AddBilled(Header(h, "C", 1), "c.xml", "");
    EXPECT_EQ(loaded.LastId(), 19);
}

TEST_F(RechStoreTest, DuplicateNumberIsRefusedBeforeAnythingChanges) {
    Bill("R-1", "erste.xml");
    heard.clear();
    AtomicWriteFile(InImport("zweite.xml"), "zweite");
    AtomicWriteFile(InImport("erste.xml"), "neuer Inhalt");
    Table h;
    EXPECT_EQ(ErrorOf([&] { store.AddBilled(Header(h, "R-1", 3), "zweite.xml", "H"); }),
              "TRechStore Rechnung bereits vorhanden ");
    EXPECT_EQ(ErrorOf([&] { store.AddBilled(Header(h, "R-1", 3), "erste.xml", "H"); }),
              "TRechStore Rechnung bereits vorhanden ");
    EXPECT_EQ(ErrorOf([&] { store.CheckNotArchived("R-1"); }), "TRechStore Rechnung bereits vorhanden ");
    EXPECT_EQ(ErrorOf([&] { store.CheckNotArchived("r-1"); }), "") << "numbers compare exactly";
    EXPECT_EQ(store.GetTable().RecordCount(), 1);
    EXPECT_FALSE(FileExists(InArchive("zweite.xml")));
    EXPECT_EQ(ReadFileBytes(InArchive("erste.xml")), "<Rechnungen>R-1</Rechnungen>");
    EXPECT_TRUE(heard.empty());
}

// The job deletes the invoice file once AddBilled returns: without a complete
// archived copy the invoice would live on only as a table row.
TEST_F(RechStoreTest, AddBilledFailsAndAddsNothingWhenTheArchivedCopyIsMissing) {
    AtomicWriteFile(InImport("r.xml"), "Rechnung");
    TRechStore broken;
    std::vector<std::string> actions;
    const std::string missingDir = dir.file("gibt-es-nicht");
    broken.InitStore(importDir(), missingDir, [&](const void*, const std::string& a, int64_t, const std::string&) {
        actions.push_back(a);
    });
    Table h;
    EXPECT_EQ(ErrorOf([&] { broken.AddBilled(Header(h, "R-9", 5), "r.xml", "H"); }),
              "TRechStore Datei " + InImport("r.xml") + " konnte nicht nach " + PathJoin(missingDir, "r.xml") +
                  " kopiert werden");
    EXPECT_EQ(broken.GetTable().RecordCount(), 0);
    EXPECT_EQ(ErrorOf([&] { broken.CheckNotArchived("R-9"); }), "");
    EXPECT_TRUE(actions.empty());
    EXPECT_EQ(ReadFileBytes(InImport("r.xml")), "Rechnung");

    // a source that is not there is not archived either
    EXPECT_NE(ErrorOf([&] { store.AddBilled(Header(h, "R-10", 5), "fehlt.xml", "H"); }), "");
    EXPECT_EQ(store.GetTable().RecordCount(), 0);
}

TEST_F(RechStoreTest, RemovalAnnouncesOffenAndCopiesTheFileBack) {
    Bill("R-1", "eins.xml");
    Bill("R-2", "zwei.xml");
    DeleteFile(InImport("eins.xml"));
    AtomicWriteFile(InImport("zwei.xml"), "inzwischen geaendert");
    DeleteFile(InArchive("zwei.xml"));   // archived copy lost
    heard.clear();

    Table& t = store.GetTable();
    ASSERT_TRUE(store.LocateByNumber("R-1"));
    t.Delete();   // whoever removes the row, the rule applies
    EXPECT_EQ(ReadFileBytes(InImport("eins.xml")), "<Rechnungen>R-1</Rechnungen>");
    EXPECT_TRUE(FileExists(InArchive("eins.xml"))) << "the archived copy stays";

    ASSERT_TRUE(store.LocateByNumber("R-2"));
    store.DeleteCurrent();
    EXPECT_EQ(ReadFileBytes(InImport("zwei.xml")), "inzwischen geaendert");
    EXPECT_EQ(t.RecordCount(), 0) << "a missing archive file does not keep the row";
    EXPECT_EQ(heard, (std::vector<Heard>{{"offen", 1, "eins.xml"}, {"offen", 2, "zwei.xml"}}));
    EXPECT_EQ(ErrorOf([&] { store.CheckNotArchived("R-1"); }), "");
}

// A job that fails gives back what it took before the run committed it.
TEST_F(RechStoreTest, AStagedInvoiceGoesBackWithoutCopyAndIsRestoredWhenItsFileWentMissing) {
    Take("R-1", "eins.xml");
    Take("R-2", "zwei.xml");
    AtomicWriteFile(InArchive("eins.xml"), "eine alte, nicht mehr verzeichnete Kopie");
    DeleteFile(InImport("zwei.xml"));   // deleted by someone while the run ran
    heard.clear();

    std::string name;
    ASSERT_TRUE(store.ReturnInvoice("R-1", &name));
    EXPECT_EQ(name, "eins.xml");
    EXPECT_EQ(ReadFileBytes(InImport("eins.xml")), "<Rechnungen>R-1</Rechnungen>") << "no old copy comes back";
    ASSERT_TRUE(store.LocateByNumber("R-2"));
    store.DeleteCurrent();
    EXPECT_EQ(ReadFileBytes(InImport("zwei.xml")), "<Rechnungen>R-2</Rechnungen>");
    EXPECT_TRUE(ListFiles(store.StagingDir(), "*").empty());
    EXPECT_TRUE(store.Staged().empty());
    EXPECT_EQ(heard, (std::vector<Heard>{{"offen", 1, "eins.xml"}, {"offen", 2, "zwei.xml"}}));
}

TEST_F(RechStoreTest, ReturnInvoiceGivesTheFileBackOrKeepsARowWithoutCopy) {
    Bill("R-1", "eins.xml");
    Bill("R-2", "zwei.xml");
    DeleteFile(InImport("eins.xml"));
    DeleteFile(InImport("zwei.xml"));
    heard.clear();
    // a view's filter does not hide the row from the store
    store.GetTable().SetFilter("R_NUMMER = 'keine'");
    store.GetTable().SetFiltered(true);

    EXPECT_TRUE(store.ReturnInvoice("R-1"));
    EXPECT_EQ(ReadFileBytes(InImport("eins.xml")), "<Rechnungen>R-1</Rechnungen>");
    EXPECT_FALSE(store.ReturnInvoice("R-1"));
    EXPECT_FALSE(store.ReturnInvoice("unbekannt"));

    DeleteFile(InArchive("zwei.xml"));
    EXPECT_EQ(ErrorOf([&] { store.ReturnInvoice("R-2"); }),
              "TRechStore Rechnung R-2 kann nicht zurückgegeben werden, Datei " + InArchive("zwei.xml") + " fehlt");
    EXPECT_EQ(ErrorOf([&] { store.CheckNotArchived("R-2"); }), "TRechStore Rechnung bereits vorhanden ");
    EXPECT_EQ(heard, (std::vector<Heard>{{"offen", 1, "eins.xml"}}));
    EXPECT_TRUE(store.GetTable().Filtered());
}

// Invoice files of other programs often carry the same name run after run.
TEST_F(RechStoreTest, AnInvoiceNeverOverwritesTheArchivedCopyOfAnother) {
    Bill("R-1", "export.xml");
    Bill("R-2", "EXPORT.xml");
    Bill("R-3", "export.xml");
    EXPECT_EQ(ReadFileBytes(InArchive("export.xml")), "<Rechnungen>R-1</Rechnungen>");
    ASSERT_TRUE(store.LocateByNumber("R-2"));
    EXPECT_EQ(store.GetTable().AsString("R_FILENAME"), "EXPORT_2.xml");
    EXPECT_EQ(ReadFileBytes(InArchive("EXPORT_2.xml")), "<Rechnungen>R-2</Rechnungen>");
    ASSERT_TRUE(store.LocateByNumber("R-3"));
    EXPECT_EQ(store.GetTable().AsString("R_FILENAME"), "export_3.xml");
    EXPECT_EQ(ReadFileBytes(InArchive("export_3.xml")), "<Rechnungen>R-3</Rechnungen>");
    // the inbox hears the name it shows
    EXPECT_EQ(heard.back(), (Heard{"bearbeitet", 3, "export.xml"}));

    // a row that is gone frees its name again
    ASSERT_TRUE(store.LocateByNumber("R-1"));
    store.DeleteCurrent();
    Bill("R-4", "export.xml");
    ASSERT_TRUE(store.LocateByNumber("R-4"));
    EXPECT_EQ(store.GetTable().AsString("R_FILENAME"), "export.xml");

    AtomicWriteFile(dir.file("export.xml"), "von Hand");
    store.AddManual(dir.file("export.xml"), "M-1", 1, Today());
    EXPECT_EQ(ReadFileBytes(InArchive("export.xml")), "<Rechnungen>R-4</Rechnungen>");
    EXPECT_TRUE(store.LocateByNumber("M-1"));
    EXPECT_EQ(store.GetTable().AsString("R_FILENAME"), "export_4.xml") << "EXPORT_2.xml counts as taken";
}

TEST_F(RechStoreTest, AReturnedInvoiceNeverOverwritesADifferentOneWaitingInTheInbox) {
    Bill("R-1", "eins.xml");
    Bill("R-2", "zwei.xml");
    AtomicWriteFile(InImport("eins.xml"), "eine neue Rechnung");   // a new invoice under the old name
    heard.clear();

    std::string name;
    ASSERT_TRUE(store.ReturnInvoice("R-1", &name));
    EXPECT_EQ(name, "eins_2.xml");
    EXPECT_EQ(ReadFileBytes(InImport("eins.xml")), "eine neue Rechnung");
    EXPECT_EQ(ReadFileBytes(InImport("eins_2.xml")), "<Rechnungen>R-1</Rechnungen>");
    // the same invoice still lying there is simply replaced
    ASSERT_TRUE(store.ReturnInvoice("R-2", &name));
    EXPECT_EQ(name, "zwei.xml");
    EXPECT_FALSE(FileExists(InImport("zwei_2.xml")));
    EXPECT_EQ(heard, (std::vector<Heard>{{"offen", 1, "eins_2.xml"}, {"offen", 2, "zwei.xml"}}));
}

TEST_F(RechStoreTest, FileNamesIgnoreCaseWhenAskedAndCountExactlyInCleanup) {
    Bill("R-1", "Rechnung1.XML");
    Bill("R-2", "r2.xml");
    EXPECT_TRUE(store.IsArchivedFile("rechnung1.xml"));
    EXPECT_TRUE(store.IsArchivedFile("R2.XML"));
    EXPECT_FALSE(store.IsArchivedFile("r3.xml"));

    // archive files: one named exactly, one differing in case, one without row
    AtomicWriteFile(InArchive("rechnung1.xml"), "x");
    AtomicWriteFile(InArchive("waise.xml"), "x");
    AtomicWriteFile(InArchive("notiz.txt"), "x");
    heard.clear();
    EXPECT_EQ(store.CleanupFiles(), 2);
    EXPECT_TRUE(FileExists(InArchive("Rechnung1.XML")));
    EXPECT_TRUE(FileExists(InArchive("r2.xml")));
    EXPECT_FALSE(FileExists(InArchive("rechnung1.xml")));
    EXPECT_FALSE(FileExists(InArchive("waise.xml")));
    EXPECT_TRUE(FileExists(InArchive("notiz.txt")));
    EXPECT_EQ(heard, (std::vector<Heard>{{"progressnolog", 4, "0/3, Rechnung bearbeiten r2.xml"},
                                         {"progressnolog", 100004, "1/3, Rechnung bearbeiten Rechnung1.XML"},
                                         {"progressnolog", 200004, "2/3, Rechnung löschen OK rechnung1.xml"},
                                         {"progressnolog", 300004, "3/3, Rechnung löschen OK waise.xml"}}));
}

TEST_F(RechStoreTest, FindUnlistedFilesListsRecentFilesWithoutRow) {
    Bill("R-1", "eins.xml");
    AtomicWriteFile(InArchive("neu.xml"), "x");
    AtomicWriteFile(InArchive("EINS.xml"), "x");
    AtomicWriteFile(InArchive("alt.xml"), "x");
    SetFileLastWriteTime(InArchive("alt.xml"), IncDays(Now(), -30));
    heard.clear();
    std::vector<std::string> list{"vorher"};
    store.FindUnlistedFiles(20, list);
    EXPECT_EQ(list, (std::vector<std::string>{"EINS.xml", "neu.xml"}));
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[0], (Heard{"progressnolog", 4, "0/3, Rechnung bearbeiten"}));
    EXPECT_EQ(heard[3], (Heard{"progressnolog", 300004, "3/3, Rechnung bearbeiten"}));
}

TEST_F(RechStoreTest, PurgeRemovesOldRowsReturnsTheirFilesAndReportsEachStep) {
    SetFixedNow(EncodeDateTime(2024, 6, 1, 12, 0));
    const TDateTime now = Now();
    Bill("NEU", "neu.xml", "H", IncDays(now, -10));
    Bill("ALT", "alt.xml", "H", IncDays(now, -250));
    Bill("MITTE", "mitte.xml", "H", IncDays(now, -199));
    DeleteFile(InImport("alt.xml"));
    heard.clear();

    store.PurgeOlderThan(200);
    EXPECT_EQ(heard, (std::vector<Heard>{{"offen", 2, "alt.xml"},
                                         {"progressnolog", 100003, "1/3, Rechnung gelöscht 1"},
                                         {"progressnolog", 200003, "2/3, Rechnung gelöscht 1"},
                                         {"progressnolog", 300003, "3/3, Rechnung gelöscht 1"}}));
    EXPECT_TRUE(FileExists(InImport("alt.xml")));
    Table& t = store.GetTable();
    EXPECT_EQ(t.IndexFieldNames(), "R_DATUM");
    t.First();
    EXPECT_EQ(t.AsString("R_NUMMER"), "MITTE");
    t.Next();
    EXPECT_EQ(t.AsString("R_NUMMER"), "NEU");
}

TEST_F(RechStoreTest, AddManualCopiesWithNetAmountAndNoHandle) {
    AtomicWriteFile(dir.file("eingabe.xml"), "manuell");
    store.AddManual(dir.file("eingabe.xml"), "M-1", 9.5, EncodeDate(2024, 2, 2));
    EXPECT_EQ(ReadFileBytes(InArchive("eingabe.xml")), "manuell");
    Table& t = store.GetTable();
    t.First();
    EXPECT_EQ(t.AsString("R_FILENAME"), "eingabe.xml");
    EXPECT_EQ(t.AsString("R_HANDLE"), "");
    EXPECT_DOUBLE_EQ(t.AsFloat("R_BETRAG"), 9.5);
    EXPECT_TRUE(heard.empty());

    EXPECT_EQ(ErrorOf([&] { store.AddManual(dir.file("fehlt.xml"), "M-2", 1, Today()); }),
              "Datei " + dir.file("fehlt.xml") + " konnte nicht nach " + InArchive("fehlt.xml") +
                  " kopiert werden");
    EXPECT_EQ(ErrorOf([&] { store.AddManual(dir.file("eingabe.xml"), "M-1", 1, Today()); }),
              "TRechStore Rechnung bereits vorhanden ");
    EXPECT_EQ(t.RecordCount(), 1);
}

// The lookups use an index beside the table; it must follow whatever the
// views and the maintenance do to the table.
TEST_F(RechStoreTest, LookupsFollowEditsFiltersSortsAndLoads) {
    Bill("R-1", "eins.xml", "HA");
    Bill("R-2", "zwei.xml", "HB");
    Table& t = store.GetTable();

    // a view edits a number and a file name
    ASSERT_TRUE(store.LocateByNumber("R-1"));
    t.Edit();
    t.SetString("R_NUMMER", "R-1a");
    t.SetString("R_FILENAME", "EINS-neu.xml");
    t.Post();
    EXPECT_EQ(ErrorOf([&] { store.CheckNotArchived("R-1"); }), "");
    EXPECT_NE(ErrorOf([&] { store.CheckNotArchived("R-1a"); }), "");
    EXPECT_FALSE(store.IsArchivedFile("eins.xml"));
    EXPECT_TRUE(store.IsArchivedFile("eins-neu.xml"));

    // a filter hides rows from the view, not from the duplicate check
    t.SetFilter("R_NUMMER = 'R-2'");
    t.SetFiltered(true);
    EXPECT_NE(ErrorOf([&] { store.CheckNotArchived("R-1a"); }), "");
    EXPECT_FALSE(store.LocateByNumber("R-1a")) << "a hidden row cannot become current";
    EXPECT_TRUE(store.LocateByHandle("HB"));
    t.SetFiltered(false);

    // a sort and a cancelled edit change nothing
    t.SetIndexFieldNames("R_FILENAME");
    t.First();
    t.Edit();
    t.SetString("R_NUMMER", "verworfen");
    t.Cancel();
    EXPECT_EQ(ErrorOf([&] { store.CheckNotArchived("verworfen"); }), "");

    // linking a rebuilt invoice to its order
    EXPECT_TRUE(store.LinkHandle("R-2", "HNEU"));
    EXPECT_FALSE(store.LinkHandle("R-3", "HNEU"));
    EXPECT_TRUE(store.LocateByHandle("HNEU"));
    EXPECT_EQ(t.AsString("R_NUMMER"), "R-2");

    // saved and loaded into another store, and emptied
    EXPECT_EQ(ErrorOf([&] { store.Save(); }), "TRechStore Save: keine Tabellendatei geladen");
    t.SaveToFile(dir.file("Rechnungen.xml"));
    TRechStore other;
    other.InitStore(importDir(), archiveDir(), nullptr);
    other.Load(dir.file("Rechnungen.xml"));
    EXPECT_NE(ErrorOf([&] { other.CheckNotArchived("R-2"); }), "");
    other.GetTable().EmptyTable();
    EXPECT_EQ(ErrorOf([&] { other.CheckNotArchived("R-2"); }), "");
}

TEST_F(RechStoreTest, ATableThatFailedToLoadIsNeverSavedOverItsFile) {
    AtomicWriteFile(dir.file("Rechnungen.xml"), "kein Datenpaket");
    TRechStore s;
    s.InitStore(importDir(), archiveDir(), nullptr);
    EXPECT_NE(ErrorOf([&] { s.Load(dir.file("Rechnungen.xml")); }), "");
    EXPECT_NE(ErrorOf([&] { s.Save(); }), "");
    EXPECT_EQ(ReadFileBytes(dir.file("Rechnungen.xml")), "kein Datenpaket");
}

} // namespace

namespace {

// The receiver splits the value at 100000: a maximum of six digits would
// spill into the position, so both are scaled down together.
TEST(ArchiveProgressTest, ProgressValuesSplitBackIntoPositionAndMaximum) {
    EXPECT_EQ(EncodeProgress(1, 3), 100003);
    EXPECT_EQ(EncodeProgress(0, 1), 1);
    EXPECT_EQ(EncodeProgress(99999, 99999), 9999999999);
    const int64_t v = EncodeProgress(150000, 200000);
    EXPECT_EQ(ProgressMaximum(v), 99999);
    EXPECT_EQ(ProgressPosition(v), 74999);
    EXPECT_EQ(ProgressPosition(EncodeProgress(200000, 200000)), 99999);
}

} // namespace
