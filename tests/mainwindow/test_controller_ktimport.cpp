// "Kostenträgerdateien einlesen" on a copy of the demo installation: the
// directory replaced and in use at once, counters kept, the question
// before rows changed by hand go, broken files replacing nothing, and an
// import a crash interrupted completed at the next start.

#include <gtest/gtest.h>

#include "costbearer/KotrImport.h"
#include "lib/base/Error.h"
#include "mainwindow/ControllerFixture.h"

using namespace ctltest;

namespace {

const TDateTime kToday = EncodeDateTime(2026, 12, 10, 9, 30);

std::string Kotr2022(const std::string& name) {
    return std::string(BRENVO_SOURCE_DIR) + "/tests/costbearer/data/kotr-2022/" + name;
}

std::vector<std::string> Files2022() {
    std::vector<std::string> files;
    for (const char* f :
         {"AO05Q122.ke1", "BK05Q122.ke6", "BN05Q122.ke0", "EK05Q122.ke0", "IK05Q122.ke0", "LK05Q321.ke0"})
        files.push_back(Kotr2022(f));
    return files;
}

const char* const kKtFiles[] = {"KT_BASE.XML", "KT_ZUORDN.XML", "KT_ANSCHRIFT.XML", "KT_TRANSFER.XML", "KT_KEY.XML"};

class KtImportTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        SetFixedNow(kToday);
    }
    std::string Bytes() const {
        std::string all;
        for (const char* f : kKtFiles) all += ReadFileBytes(Stamm(f));
        return all;
    }
    static std::string Column(Table& t, const std::string& ik, const char* column) {
        AllRows all(t);
        return t.Locate("K_IK", {Value(ik)}) ? t.AsString(column) : "<keine Zeile>";
    }
};

} // namespace

TEST_F(KtImportTest, TheNewDirectoryIsUsedAtOnceAndCountersStay) {
    auto c = Started();
    TSGBKTStore& kt = *c->KTStore();
    EXPECT_EQ(kt.NextDtaRef("109910014", 0), 1042);   // advanced, not yet saved
    WriteInvoice("2026-0001", "101519213", EncodeDate(2026, 11, 30));   // AOK Rheinland/Hamburg
    c->ResetCostBearerIndexes();
    EXPECT_NE(c->CheckInvoiceFile(Path("import/2026-0001.xml")), "");

    ASSERT_TRUE(c->ImportCostBearerFiles(Files2022(), false)) << Joined();
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(view.Logged("Kostenträger-Import: beendet."));
    EXPECT_FALSE(view.LinesWith("Kostenträger-Import: von Hand geänderte Angaben zu").empty());
    EXPECT_FALSE(view.LinesWith("Kostenträger-Import: geschrieben: KT_BASE 1038 Zeilen, KT_ZUORDN 2115").empty())
        << Joined();

    // Used at once: the run's checks and the lookups see the new directory.
    c->ResetCostBearerIndexes();
    EXPECT_EQ(c->CheckInvoiceFile(Path("import/2026-0001.xml")), "");
    const TKTInfo aok = kt.GetKTInfo("101519213", "05", "38", kToday);
    EXPECT_EQ(aok.DatenIKPhys, "104212516");
    EXPECT_EQ(aok.Email, "da@dta.aok.de");
    // The demo's offices are not in the files; their counters stay, the one
    // advanced in memory too.
    EXPECT_EQ(Column(kt.KTBase(), "109910014", "DTAREF"), "1042");
    EXPECT_EQ(Column(kt.KTBase(), "109910036", "DTAREF"), "A12");
    EXPECT_EQ(kt.NextDtaRef("109910014", 0), 1043);

    // What the shut-down saves and the next start loads is the new directory.
    ASSERT_TRUE(c->Shutdown());
    c.reset();
    auto again = Started();
    EXPECT_EQ(again->KTStore()->KTZuordn().RecordCount(), 2115);
    EXPECT_EQ(Column(again->KTStore()->KTBase(), "109910014", "DTAREF"), "1043");
    EXPECT_EQ(again->SettingsForm().FederalStates.size(), 16u);
}

TEST_F(KtImportTest, AsksBeforeRowsChangedByHandAreReplaced) {
    auto c = Started();
    const std::string before = Bytes();
    view.answers = {Answer::No};
    EXPECT_FALSE(c->actKTImportExecute(Files2022(), false));
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_TRUE(StartsWith(view.questions[0], "Die Kostenträgerdaten enthalten von Hand geänderte Angaben zu "))
        << view.questions[0];
    EXPECT_TRUE(Contains(view.questions[0], "Der Import ersetzt sie. Fortfahren?"));
    EXPECT_EQ(Bytes(), before);
    EXPECT_TRUE(view.Logged("Kostenträger-Import: abgebrochen, die Kostenträgerdaten bleiben unverändert."));
    EXPECT_FALSE(c->Busy());

    view.answers = {Answer::Yes};
    EXPECT_TRUE(c->actKTImportExecute(Files2022(), true));
    EXPECT_EQ(c->KTStore()->KTZuordn().RecordCount(), 6783);

    // Since that import nothing was changed by hand: no question.
    EXPECT_TRUE(c->actKTImportExecute(Files2022(), false));
    EXPECT_EQ(view.questions.size(), 2u);
}

TEST_F(KtImportTest, ABrokenFileOrAnUnsavedEditReplacesNothing) {
    auto c = Started();
    const std::string before = Bytes();
    const int rows = c->KTStore()->KTBase().RecordCount();
    std::string text = ReadFileBytes(Kotr2022("EK05Q122.ke0"));
    AtomicWriteFile(Path("EK05Q122.ke0"), text.substr(0, text.size() / 2));
    std::vector<std::string> files = Files2022();
    files[3] = Path("EK05Q122.ke0");

    EXPECT_FALSE(c->ImportCostBearerFiles(files, false));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_TRUE(StartsWith(view.messages[0].text, "EK05Q122.ke0: Zeile ")) << view.messages[0].text;
    EXPECT_TRUE(Contains(view.messages[0].text, "Datei unvollständig")) << view.messages[0].text;
    EXPECT_EQ(Bytes(), before);
    EXPECT_EQ(c->KTStore()->KTBase().RecordCount(), rows);
    EXPECT_FALSE(c->Busy());

    // A file of another kind (an invoice) is refused the same way.
    files[3] = Path("import/2024-1101.xml");
    EXPECT_FALSE(c->ImportCostBearerFiles(files, false));
    EXPECT_EQ(view.messages.back().text,
              "2024-1101.xml: Die Datei ist keine Kostenträgerdatei (KOTR): sie beginnt nicht mit UNA oder UNB.");
    EXPECT_EQ(Bytes(), before);

    // So does a row the maintenance view is still editing.
    c->KTStore()->KTAnschrift().Edit();
    EXPECT_FALSE(c->ImportCostBearerFiles(Files2022(), false));
    EXPECT_TRUE(StartsWith(view.messages.back().text, "Kostenträger-Import nicht möglich: eine Änderung"));
    EXPECT_EQ(c->KTStore()->KTAnschrift().GetState(), Table::State::Edit);
    EXPECT_EQ(Bytes(), before);
}

TEST_F(KtImportTest, StartupCompletesOrDiscardsAnInterruptedImport) {
    // New files complete and the journal written: the import counts.
    const std::string real = std::string(BRENVO_SOURCE_DIR) + "/tests/costbearer/data/kt-real/";
    for (const char* f : kKtFiles) AtomicWriteFile(Stamm(std::string(f) + ".NEU"), ReadFileBytes(real + f));
    AtomicWriteFile(Stamm("KT_BASE.XML"), ReadFileBytes(real + "KT_BASE.XML"));   // renamed already
    std::filesystem::remove(Stamm("KT_BASE.XML.NEU"));
    AtomicWriteFile(Stamm("KT_IMPORT.JOURNAL"),
                    "KT_BASE.XML\nKT_ZUORDN.XML\nKT_ANSCHRIFT.XML\nKT_TRANSFER.XML\nKT_KEY.XML\n");
    {
        auto c = Started();
        EXPECT_TRUE(
            view.Logged("Init Unterbrochener Kostenträger-Import abgeschlossen: die neuen Kostenträgerdaten gelten."));
        EXPECT_EQ(c->KTStore()->KTZuordn().RecordCount(), 6783);
        EXPECT_EQ(c->KTStore()->KTBase().RecordCount(), 1036);
        EXPECT_FALSE(Exists("Stammdaten/KT_IMPORT.JOURNAL"));
        c->Shutdown();
    }
    // Stopped before the journal: the new files are discarded.
    AtomicWriteFile(Stamm("KT_ZUORDN.XML.NEU"), ReadFileBytes(DemoDir() + "/Stammdaten/KT_ZUORDN.XML"));
    view.log.clear();
    auto c = Started();
    EXPECT_TRUE(
        view.Logged("Init Unterbrochener Kostenträger-Import verworfen: die bisherigen Kostenträgerdaten gelten."));
    EXPECT_EQ(c->KTStore()->KTZuordn().RecordCount(), 6783);
    EXPECT_FALSE(Exists("Stammdaten/KT_ZUORDN.XML.NEU"));
}
