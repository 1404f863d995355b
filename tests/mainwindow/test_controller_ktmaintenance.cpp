// The "Kostenträger-Daten" tab without a window, on copies of the demo
// installation: choosing and filtering tables, searching and sorting,
// editing, adding and deleting an IK with saving and reading back, the
// report and its jumps, failed saves, and closing with unsaved changes.

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include "ControllerFixture.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/Error.h"
#include "mainwindow/KTMaintenance.h"
#include "mainwindow/MainActions.h"

using namespace ctltest;

namespace {

const std::string kGlueckauf = "103990019";    // its "03" link leads to 109999991, which the directory lacks
const std::string kMissing = "109999991";
const std::string kThuerWald = "104000014";    // physical recipient 109920051, whose channel is empty

class KTMaintenanceTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        c = Started();
        kt().Enter();
    }

    TKTMaintenance& kt() { return c->KTMaintenance(); }
    TSGBKTStore& store() { return *c->KTStore(); }
    Table& shown() { return *kt().ShownTable(); }
    std::string Cell(const char* field) { return shown().AsString(field); }

    // Rows of ik in a table file on disk.
    int RowsOf(const std::string& file, const std::string& ik) const {
        Table t;
        t.LoadFromFile(Stamm(file));
        int n = 0;
        for (t.First(); !t.Eof(); t.Next()) n += t.AsString("K_IK") == ik;
        return n;
    }
    // The logical data recipient as a run resolves it ("" when it cannot).
    std::string Recipient(const std::string& ik) {
        c->ResetCostBearerIndexes();
        try {
            return store().GetDatenIKLog(ik, "05", "38", Today());
        } catch (const Error&) {
            return "";
        }
    }

    std::unique_ptr<TMainController> c;
};

} // namespace

TEST_F(KTMaintenanceTest, TablesFiltersAndColumns) {
    // Opening the tab shows "Kostenträger", unfiltered, the IK column marked.
    EXPECT_EQ(kt().Shown(), KTTable::Kostentraeger);
    EXPECT_EQ(kt().MarkedField(), "K_IK");
    const int all = shown().RecordCount();
    EXPECT_EQ(all, 34);

    kt().SetOhneVerweisungen(true);
    EXPECT_EQ(kt().FilterText(), " ISVERWEIS <> 'T'");
    const int noReferrals = shown().RecordCount();
    EXPECT_LT(noReferrals, all);
    kt().SetDatenEmpfaenger(true);
    EXPECT_EQ(kt().FilterText(), " ISVERWEIS <> 'T' AND ISDATEN = 'T'");
    for (shown().First(); !shown().Eof(); shown().Next()) EXPECT_EQ(Cell("ISDATEN"), "T");
    EXPECT_EQ(shown().RecordCount(), 6);

    // Another table is shown unfiltered, and so is the directory's base table
    // for every lookup meanwhile; coming back filters again.
    kt().ChooseTable(KTTable::Zuordnung);
    EXPECT_FALSE(shown().Filtered());
    EXPECT_EQ(shown().RecordCount(), 37);
    EXPECT_FALSE(store().KTBase().Filtered());
    kt().ChooseTable(KTTable::Kostentraeger);
    EXPECT_EQ(shown().RecordCount(), 6);

    // Leaving the tab gives the lookups their orders back, unfiltered.
    kt().SortBy("KT_KURZBEZ");
    EXPECT_EQ(shown().IndexFieldNames(), "KT_KURZBEZ");
    kt().Leave();
    EXPECT_FALSE(store().KTBase().Filtered());
    EXPECT_EQ(store().KTBase().IndexFieldNames(), "K_IK");
    kt().Enter();
    EXPECT_EQ(shown().RecordCount(), 6);

    // Columns: captions and widths as data; the key, the counter and the
    // link table are not edited in the grid.
    auto col = [&](KTTable t, const char* field) {
        kt().ChooseTable(t);
        TGridColumns cols = kt().Columns();
        return *cols.Find(field);
    };
    EXPECT_EQ(col(KTTable::Kostentraeger, "K_IK").Caption, "IK");
    EXPECT_TRUE(col(KTTable::Kostentraeger, "K_IK").ReadOnly);
    EXPECT_FALSE(col(KTTable::Kostentraeger, "KT_NAME4").Visible);
    EXPECT_EQ(col(KTTable::Kostentraeger, "DTAREF").Align, ColumnAlign::Right);
    EXPECT_TRUE(col(KTTable::Kostentraeger, "DTAREF").ReadOnly);
    EXPECT_FALSE(col(KTTable::Kostentraeger, "DATEN_IK").ReadOnly);
    EXPECT_EQ(col(KTTable::Transferdaten, "DFU_VALIDTO").Caption, "gültig bis ");
    EXPECT_EQ(col(KTTable::Anschriften, "ANS_ORT").Width, 150);
    EXPECT_TRUE(col(KTTable::Zuordnung, "Z_LEART").ReadOnly);
    EXPECT_EQ(col(KTTable::Transferdaten, "DAKOTA").Title(), "DAKOTA");   // not listed: its name
}

TEST_F(KTMaintenanceTest, SearchesTheMarkedColumnFromTheStartIgnoringCase) {
    kt().Search("1031100");
    EXPECT_EQ(Cell("K_IK"), "103110016");
    kt().MarkColumn("KT_KURZBEZ");
    kt().Search("bkk ö");
    EXPECT_EQ(shown().IndexFieldNames(), "KT_KURZBEZ");
    EXPECT_EQ(Cell("KT_KURZBEZ"), "BKK Ölmühle");
    kt().Search("gibt es nicht");
    EXPECT_EQ(Cell("KT_KURZBEZ"), "BKK Ölmühle");   // stays

    // Dates are searched as they are shown.
    kt().ChooseTable(KTTable::Transferdaten);
    kt().MarkColumn("DFU_VALIDFROM");
    kt().Search("01.01.2099");
    EXPECT_EQ(Cell("K_IK"), "109920073");
}

TEST_F(KTMaintenanceTest, EditsReachTheRunAtOnceAndBadValuesAreRefused) {
    // KK Glückauf's link leads nowhere; giving it a data recipient by hand
    // resolves it in the next check without a restart.
    WriteInvoice("R-1", kGlueckauf, EncodeDate(2024, 11, 22));
    c->ResetCostBearerIndexes();
    EXPECT_NE(c->CheckInvoiceFile(Path("import/R-1.xml")), "");
    kt().Search(kGlueckauf);
    ASSERT_EQ(Cell("K_IK"), kGlueckauf);
    EXPECT_FALSE(MainActionEnabled(*c, MainAction::KTSpeichern));

    EXPECT_EQ(ErrorOf([&] { kt().SetField("DATEN_IK", "10991002"); }), "10991002 ist keine gültige IK");
    EXPECT_EQ(Cell("DATEN_IK"), "");
    EXPECT_FALSE(kt().HasUnsavedChanges());
    kt().SetField("DATEN_IK", "109910025");
    EXPECT_TRUE(MainActionEnabled(*c, MainAction::KTSpeichern));
    c->ResetCostBearerIndexes();
    EXPECT_EQ(c->CheckInvoiceFile(Path("import/R-1.xml")), "");
    EXPECT_EQ(Recipient(kGlueckauf), "109910025");

    // A date that is no date changes nothing.
    kt().Enter();
    kt().ChooseTable(KTTable::Anschriften);
    EXPECT_EQ(ErrorOf([&] { kt().SetField("ANS_VALIDTO", "31.02.2024"); }),
              "\"31.02.2024\" ist kein gültiges Datum (TT.MM.JJJJ).");
    kt().SetField("ANS_VALIDTO", "31.12.2030");
    EXPECT_EQ(kt().FieldText("ANS_VALIDTO"), "31.12.2030");

    kt().actKTSpeichernExecute();
    EXPECT_FALSE(kt().HasUnsavedChanges());
    EXPECT_FALSE(MainActionEnabled(*c, MainAction::KTSpeichern));
    Table base;
    base.LoadFromFile(Stamm("KT_BASE.XML"));
    ASSERT_TRUE(base.Locate("K_IK", {Value(kGlueckauf)}));
    EXPECT_EQ(base.AsString("DATEN_IK"), "109910025");
}

TEST_F(KTMaintenanceTest, AddingAnIKSavesItsRowsAndResolvesBeforeAndAfterReading) {
    EXPECT_EQ(Recipient(kGlueckauf), "");   // "IK nicht validiert"

    kt().Search("12345678");
    EXPECT_EQ(ErrorOf([&] { kt().actKTAddExecute(); }), "12345678 ist keine gültige IK");
    kt().Search("1234567890");
    EXPECT_EQ(ErrorOf([&] { kt().actKTAddExecute(); }), "1234567890 ist keine gültige IK");
    kt().Search("103110016");
    EXPECT_EQ(ErrorOf([&] { kt().actKTAddExecute(); }), "Die IK 103110016 ist bereits vorhanden.");
    EXPECT_FALSE(kt().HasUnsavedChanges());

    kt().Search(kMissing);
    kt().actKTAddExecute();
    EXPECT_EQ(Cell("K_IK"), kMissing);   // the new row is shown
    EXPECT_EQ(Cell("KT_ART"), "99");
    EXPECT_EQ(Cell("KT_KASSENART"), "EK");
    EXPECT_TRUE(kt().HasUnsavedChanges());
    EXPECT_EQ(RowsOf("KT_BASE.XML", kMissing), 0);   // waits for "Speichern"
    EXPECT_EQ(Recipient(kGlueckauf), kMissing);       // the lookups see it at once

    kt().Enter();
    kt().SetField("KT_KURZBEZ", "Neue Annahmestelle");
    kt().actKTSpeichernExecute();
    EXPECT_EQ(RowsOf("KT_BASE.XML", kMissing), 1);
    EXPECT_EQ(RowsOf("KT_ANSCHRIFT.XML", kMissing), 1);
    EXPECT_EQ(RowsOf("KT_TRANSFER.XML", kMissing), 1);

    // A new start reads the files: the same answers.
    c->Shutdown();
    c.reset();
    c = Started();
    EXPECT_EQ(Recipient(kGlueckauf), kMissing);
    EXPECT_EQ(store().GetKurzBez(kMissing), "Neue Annahmestelle");
    EXPECT_EQ(store().GetEmailAddr(kMissing, true, false, Today()), KTPlaceholderEmail);
    Table& a = store().KTAnschrift();
    ASSERT_TRUE(a.Locate("K_IK", {Value(kMissing)}));
    EXPECT_EQ(a.AsString("ANS_ART"), "1");
    EXPECT_EQ(a.AsString("ANS_VALIDFROM"), "01.01.2012");
    Table& t = store().KTTransfer();
    ASSERT_TRUE(t.Locate("K_IK", {Value(kMissing)}));
    for (auto [field, value] : {std::pair{"UEM_MEDIUM", "1"}, {"UEM_PARAM", "00"}, {"UEM_ZEICHENSATZ", "I8"},
                                {"DFU_PROTOKOLL", "070"}, {"DFU_ZEITVON", "0000"}, {"DFU_ZEITBIS", "0000"},
                                {"DFU_TAGE", "1"}, {"DFU_VALIDFROM", "01.01.2012"}})
        EXPECT_EQ(t.AsString(field), value) << field;
}

TEST_F(KTMaintenanceTest, DeletingAnIKAsksThenTakesItsRowsAndSaves) {
    const std::string ik = "109920017";   // one base row, one address, two channels
    ASSERT_EQ(RowsOf("KT_TRANSFER.XML", ik), 2);
    kt().Search(ik);

    view.answers = {Answer::No};
    kt().actKTDeleteExecute();
    ASSERT_EQ(view.questions, std::vector<std::string>{"IK 109920017 löschen?"});
    EXPECT_EQ(Cell("K_IK"), ik);

    // Hidden by the filter, it is still the directory's.
    kt().SetDatenEmpfaenger(true);
    view.answers = {Answer::Yes};
    kt().actKTDeleteExecute();
    EXPECT_EQ(view.questions.size(), 2u);
    EXPECT_FALSE(kt().HasUnsavedChanges());
    EXPECT_EQ(RowsOf("KT_BASE.XML", ik), 0);
    EXPECT_EQ(RowsOf("KT_ANSCHRIFT.XML", ik), 0);
    EXPECT_EQ(RowsOf("KT_TRANSFER.XML", ik), 0);
    EXPECT_EQ(RowsOf("KT_TRANSFER.XML", "109920028"), 2);   // the neighbours stay
    EXPECT_TRUE(store().KTBase().Filtered());

    // An IK the directory does not hold: no question, nothing happens.
    kt().Search(ik);
    kt().actKTDeleteExecute();
    kt().Search("12345");
    kt().actKTDeleteExecute();
    EXPECT_EQ(view.questions.size(), 2u);
}

TEST_F(KTMaintenanceTest, ReportAndItsJumps) {
    kt().MarkColumn("K_IK");
    kt().Search("103110038");   // a referral two steps from the Rheinische OKK
    kt().actKTDatenAnzeigenExecute();
    const std::vector<std::string> lines = SplitLines(kt().ReportText());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_TRUE(StartsWith(lines[0], "Für IK 103110038 " + FormatDDMMYYYY(Today()) + " Land=05 Bezirk=38"));
    EXPECT_TRUE(StartsWith(lines[2], " Kostenträger:   103110016 Rheinische OKK"));

    kt().actKTZeigeKostentraegerExecute();
    EXPECT_EQ(kt().SearchText(), "103110016");
    EXPECT_EQ(Cell("K_IK"), "103110016");
    // The card jump takes the report as it stands, without resolving again.
    kt().actKTZeigeVersichertenkarteExecute();
    EXPECT_EQ(Cell("K_IK"), "103110038");

    kt().actKTZeigeAnschriftExecute();
    EXPECT_EQ(kt().Shown(), KTTable::Anschriften);
    EXPECT_EQ(kt().SearchText(), "109930013");   // the paper office of the Rheinische OKK
    EXPECT_EQ(Cell("K_IK"), "109930013");

    // The channel jump skips rows without a channel, eleven at most.
    kt().ChooseTable(KTTable::Kostentraeger);
    kt().Search(kThuerWald);
    kt().actKTZeigeVersandkanalExecute();
    EXPECT_EQ(kt().Shown(), KTTable::Transferdaten);
    EXPECT_EQ(Cell("K_IK"), "109920062");   // 109920051's one row has none
    Table& transfer = store().KTTransfer();
    for (int i = 0; i < 12; ++i) {
        transfer.Append();
        transfer.SetString("K_IK", "109920051");
        transfer.SetString("DFU_PROTOKOLL", "070");
        transfer.Post();
    }
    kt().ChooseTable(KTTable::Kostentraeger);
    kt().Search(kThuerWald);
    kt().actKTZeigeVersandkanalExecute();
    EXPECT_EQ(Cell("K_IK"), "109920051");
    EXPECT_EQ(Cell("DFU_KANAL"), "");
    kt().Search("109920051");
    const int first = shown().RecNo();
    kt().ChooseTable(KTTable::Kostentraeger);
    kt().Search(kThuerWald);
    kt().actKTZeigeVersandkanalExecute();
    EXPECT_EQ(shown().RecNo(), first + 11);   // the twelfth row
}

TEST_F(KTMaintenanceTest, AFailedSaveKeepsTheFileAndTheChanges) {
    kt().ChooseTable(KTTable::Transferdaten);
    kt().Search("109920039");
    kt().SetField("DFU_KANAL", "neu@datenzentrale-bayern.example");
    const std::string before = ReadFileBytes(Stamm("KT_TRANSFER.XML"));
    const std::vector<std::string> files = Files("Stammdaten");

    // The disk takes no more than a few hundred bytes of any file.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit tight = old;
    tight.rlim_cur = 512;
    setrlimit(RLIMIT_FSIZE, &tight);
    const std::string failure = ErrorOf([&] { kt().actKTSpeichernExecute(); });
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, SIG_DFL);

    EXPECT_TRUE(StartsWith(failure, "Die Kostenträger-Daten wurden nicht gespeichert: ")) << failure;
    EXPECT_TRUE(Contains(failure, "Die Änderungen sind nicht verloren")) << failure;
    EXPECT_EQ(ReadFileBytes(Stamm("KT_TRANSFER.XML")), before);
    EXPECT_EQ(Files("Stammdaten"), files);   // nothing half-written left beside it
    EXPECT_TRUE(kt().HasUnsavedChanges());
    EXPECT_TRUE(MainActionEnabled(*c, MainAction::KTSpeichern));
    EXPECT_EQ(store().GetEmailAddr("109920039", true, false, Today()), "neu@datenzentrale-bayern.example");

    kt().actKTSpeichernExecute();
    EXPECT_FALSE(kt().HasUnsavedChanges());
    EXPECT_TRUE(Contains(ReadFileBytes(Stamm("KT_TRANSFER.XML")), "neu@datenzentrale-bayern.example"));
}

TEST_F(KTMaintenanceTest, ClosingWithUnsavedChangesAsks) {
    kt().Search("103110016");
    kt().SetField("KT_KURZBEZ", "Rheinische OKK neu");
    const std::string question = "Die Änderungen der Kostenträger-Daten sind noch nicht gespeichert.\rJetzt speichern?";

    view.answers = {Answer::Cancel};
    EXPECT_FALSE(c->Shutdown());
    EXPECT_EQ(view.questions.back(), question);
    EXPECT_EQ(view.closed, 0);
    EXPECT_FALSE(c->ClosingAllowed());

    view.answers = {Answer::No};
    EXPECT_TRUE(c->Shutdown());
    EXPECT_EQ(view.closed, 1);
    Table base;
    base.LoadFromFile(Stamm("KT_BASE.XML"));
    ASSERT_TRUE(base.Locate("K_IK", {Value("103110016")}));
    EXPECT_EQ(base.AsString("KT_KURZBEZ"), "Rheinische OKK");
}

TEST_F(KTMaintenanceTest, ClosingCanSaveTheChanges) {
    kt().Search("103110016");
    kt().SetField("KT_KURZBEZ", "Rheinische OKK neu");
    view.answers = {Answer::Yes};
    EXPECT_TRUE(c->Shutdown());
    Table base;
    base.LoadFromFile(Stamm("KT_BASE.XML"));
    ASSERT_TRUE(base.Locate("K_IK", {Value("103110016")}));
    EXPECT_EQ(base.AsString("KT_KURZBEZ"), "Rheinische OKK neu");
}

// ------------------------------------------------------------------ the real directory

namespace {

// The demo installation with the insurers' real directory (2022) in place of its own.
class KTMaintenanceRealTest : public KTMaintenanceTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        const std::string real = std::string(BRENVO_SOURCE_DIR) + "/tests/costbearer/data/kt-real/";
        for (const char* f : {"KT_BASE.XML", "KT_ZUORDN.XML", "KT_ANSCHRIFT.XML", "KT_TRANSFER.XML", "KT_KEY.XML"})
            std::filesystem::copy_file(real + f, Stamm(f), std::filesystem::copy_options::overwrite_existing);
        c = Started();
        kt().Enter();
    }
    // Cost bearer, data recipients and paper office of an IK; "" when it cannot be resolved.
    std::string Resolved(const std::string& ik) {
        c->ResetCostBearerIndexes();
        try {
            const TKTInfo i = store().GetKTInfo(ik, "05", "38", Today());
            return i.KTIK + " " + i.DatenIKLog + " " + i.DatenIKPhys + " " + i.PapierIK;
        } catch (const Error&) {
            return "";
        }
    }
    void Restart() {
        EXPECT_TRUE(c->Shutdown());
        c.reset();
        c = Started();
        kt().Enter();
    }
};

const std::string kTK = "101575519";     // Techniker Krankenkasse, a cost bearer
const std::string kTKCard = "100177504"; // one of its insurance-card IKs, referring to it

} // namespace

TEST_F(KTMaintenanceRealTest, DeleteAndAddACostBearerThenReadTheFilesAgain) {
    const std::string before = Resolved(kTKCard);
    ASSERT_TRUE(StartsWith(before, kTK + " 661430035 ")) << before;
    kt().MarkColumn("KT_NAME1");
    kt().Search("techniker");
    EXPECT_TRUE(StartsText("techniker krankenkasse", Cell("KT_NAME1"))) << Cell("KT_NAME1");

    // Gone from the directory: its cards resolve to nothing, after a new start too.
    kt().MarkColumn("K_IK");
    kt().Search(kTK);
    view.answers = {Answer::Yes};
    kt().actKTDeleteExecute();
    EXPECT_EQ(Resolved(kTKCard), "");
    Restart();
    EXPECT_EQ(Resolved(kTKCard), "");
    EXPECT_EQ(RowsOf("KT_BASE.XML", kTK), 0);

    // Added again by hand as a cost bearer: the links still in the directory
    // resolve its cards as before, now and after the files are read again.
    kt().Search(kTK);
    kt().actKTAddExecute();
    kt().SetField("ISKT", "T");
    kt().SetField("KT_KURZBEZ", "TK");
    EXPECT_EQ(Resolved(kTKCard), before);
    kt().actKTSpeichernExecute();
    Restart();
    EXPECT_EQ(Resolved(kTKCard), before);
    EXPECT_EQ(store().GetKurzBez(kTK), "TK");
    EXPECT_EQ(RowsOf("KT_ANSCHRIFT.XML", kTK), 1);
}
