// The processing run ("&Start") driven end to end on copies of the demo
// installation: checks, error marking, collective and single jobs, giving
// back the invoices of a failed job, the billing month, the decimal-separator
// conversion, and the end of the program after the run.

#include "ControllerFixture.h"

#include <fstream>

using namespace brenvo;
using namespace ctltest;

namespace {

// The lines of the run (prefix "Prozess: ") without the prefix.
std::vector<std::string> RunLines(const RecordingView& v) {
    std::vector<std::string> out;
    for (const auto& l : v.LinesWith("Prozess: ")) out.push_back(l.substr(9));
    return out;
}

} // namespace

class RunTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        EmptyInbox();
    }
    void Mode(bool collective) { SetSettings({{"SYST_ZUSF", collective ? "T" : "F"}}); }
    const TDateTime nov22 = EncodeDate(2024, 11, 22);
};

// ------------------------------------------------------------------ empty inbox

TEST_F(RunTest, EmptyInboxInSingleModeOnlySaysFertig) {
    Mode(false);
    auto c = Started();
    c->actProzessStartExecute();
    EXPECT_EQ(RunLines(view), (std::vector<std::string>{"Fertig,"}));
    EXPECT_TRUE(c->LastRun().Completed);
    EXPECT_EQ(c->CurrentJob(), nullptr);
    EXPECT_TRUE(view.tabs.empty());
    EXPECT_EQ(Rows("Auftraege.xml"), 0);
    // Closing steps: transfer number and the three tables saved.
    EXPECT_TRUE(view.Logged("Init Rechnungen speichern ... "));
    EXPECT_TRUE(view.Logged("Init KT-Daten speichern ... "));
    EXPECT_EQ(Setting("MAXTRANSFER"), "0");
    EXPECT_TRUE(c->StartEnabled());
}

TEST_F(RunTest, EmptyInboxInCollectiveModeStillOpensAndWritesAJob) {
    Mode(true);
    auto c = Started();
    c->actProzessStartExecute();
    EXPECT_EQ(RunLines(view), (std::vector<std::string>{"Schreibe Dateien... ", "Fertig,", "Fertig,"}));
    ASSERT_NE(c->CurrentJob(), nullptr);   // kept until the next run
    EXPECT_EQ(c->CurrentJob()->Count(), 0u);
    EXPECT_EQ(view.tabs, (std::vector<MainTab>{MainTab::Ausgangskorb}));
    EXPECT_TRUE(Files("ArchivA").empty());
}

// ------------------------------------------------------------------ the demo inbox

TEST_F(RunTest, DemoInboxBillsTheGoodInvoicesAndMarksTheOthers) {
    std::filesystem::remove_all(Path("import"));
    std::filesystem::copy(DemoDir() + "/import", Path("import"));
    auto c = Started();
    c->actProzessStartExecute();
    const std::vector<std::string> expected = {
        "Prüfe Rechnung 2024-1046.xml",
        "FEHLER Rechnung 2024-1046.xml TRechStore Rechnung bereits vorhanden ",
        "Prüfe Rechnung 2024-1101.xml",
        "Prüfe Rechnung 2024-1102.xml",
        "Prüfe Rechnung 2024-1103.xml",
        "Prüfe Rechnung 2024-1104.xml",
        "Prüfe Rechnung 2024-1105.xml",
        "FEHLER Rechnung 2024-1105.xml Summenprüfung Rechnung Netto: 19570 <> 19571",
        "Prüfung beendet. FEHLER.",
        "Ignoriere FEHLER2024-1046.xml",
        "Verarbeite Rechnung 2024-1101.xml",
        "Verarbeite Rechnung 2024-1102.xml",
        "Verarbeite Rechnung 2024-1103.xml",
        "Verarbeite Rechnung 2024-1104.xml",
        "Ignoriere FEHLER2024-1105.xml",
        "Schreibe Dateien... ",
        "Fertig,",
        "Fertig,"};
    EXPECT_EQ(RunLines(view), expected);
    const TRunResult& r = c->LastRun();
    EXPECT_TRUE(r.Completed);
    EXPECT_EQ(r.Failed, 2);
    EXPECT_EQ(r.Billed, 4);
    EXPECT_EQ(r.BillingMonth, 11);
    EXPECT_EQ(Files("import"), (std::vector<std::string>{"FEHLER2024-1046.xml", "FEHLER2024-1105.xml"}));
    EXPECT_EQ(Files("ArchivR").size(), 5u);
    EXPECT_EQ(Rows("Rechnungen.xml"), 5);
    EXPECT_EQ(Rows("Auftraege.xml"), 2);   // one order per data recipient
    EXPECT_EQ(Setting("MAXTRANSFER"), "2");
    // The settings tab is told that the transfer number it shows changed.
    EXPECT_EQ(c->SettingsForm().MAXTRANSFER, "2");
    EXPECT_EQ(view.transferNumberChanges, 1);
    EXPECT_EQ(c->Outbox().Count(), 2u);
    EXPECT_EQ(c->Outbox().Item(0).Icon, ItemIcon::NotSent);
    // Inbox view: processed icons, error captions.
    EXPECT_EQ(c->Inbox().Item(size_t(c->Inbox().FindCaption("2024-1101.xml"))).Icon, ItemIcon::Processed);
    EXPECT_GE(c->Inbox().FindCaption("FEHLER2024-1105.xml"), 0);
    EXPECT_EQ(c->Inbox().Item(size_t(c->Inbox().FindCaption("FEHLER2024-1105.xml"))).Mark, 2);
    // The order files are in ArchivA; the recipients' interchange references
    // advanced by one each (checks draw none).
    EXPECT_EQ(Files("ArchivA").size(), 12u);
    Table kt;
    kt.LoadFromFile(Stamm("KT_BASE.XML"));
    ASSERT_TRUE(kt.Locate("K_IK", {Value(std::string("109910014"))}));
    EXPECT_EQ(kt.AsString("DTAREF"), "1042");

    // A second run ignores the error files and bills nothing.
    view.log.clear();
    c->actProzessStartExecute();
    EXPECT_EQ(RunLines(view)[0], "Ignoriere FEHLER2024-1046.xml");
    EXPECT_EQ(c->LastRun().Failed, 0);
    EXPECT_EQ(c->LastRun().Ignored, 2);
}

TEST_F(RunTest, ErrorPrefixOnlyInExactLetterCase) {
    Mode(false);
    WriteInvoice("R-1", kRheinOKK, nov22, false, "FEHLERR-1.xml");
    WriteInvoice("R-2", kRheinOKK, nov22, false, "Fehler_R-2.xml");
    auto c = Started();
    c->actProzessStartExecute();
    const std::vector<std::string> lines = RunLines(view);
    EXPECT_EQ(lines[0], "Ignoriere FEHLERR-1.xml");
    EXPECT_EQ(lines[1], "Prüfe Rechnung Fehler_R-2.xml");
    EXPECT_TRUE(view.Logged("Prozess: Ignoriere Rechnung FEHLERR-1.xml"));
    EXPECT_TRUE(view.Logged("Prozess: Verarbeite Rechnung Fehler_R-2.xml"));
    EXPECT_EQ(Files("import"), (std::vector<std::string>{"FEHLERR-1.xml"}));
    EXPECT_EQ(c->LastRun().Failed, 0);
}

TEST_F(RunTest, CheckFailuresMarkOnlyTheirFile) {
    Mode(false);
    WriteInvoice("R-1", kNoRecipient, nov22);
    WriteInvoice("R-2", kRheinOKK, nov22, true);
    WriteInvoice("R-3", kIKKThuer, nov22);
    std::ofstream(Path("import/R-4.xml")) << "<Rechnungen><Rechnung>";   // not an invoice file
    auto c = Started();
    c->actProzessStartExecute();
    const std::vector<std::string> fails = view.LinesWith("Prozess: FEHLER Rechnung ");
    ASSERT_EQ(fails.size(), 3u) << Joined();
    EXPECT_TRUE(StartsWith(fails[0], "Prozess: FEHLER Rechnung R-1.xml TSGBKTSTore GetDatenIKLog Keine IK"));
    EXPECT_TRUE(StartsWith(fails[1], "Prozess: FEHLER Rechnung R-2.xml Summenprüfung Rechnung"));
    EXPECT_TRUE(StartsWith(fails[2], "Prozess: FEHLER Rechnung R-4.xml "));
    EXPECT_EQ(Files("import"), (std::vector<std::string>{"FEHLERR-1.xml", "FEHLERR-2.xml", "FEHLERR-4.xml"}));
    EXPECT_EQ(Files("ArchivR"), (std::vector<std::string>{"2024-1046.xml", "R-3.xml"}));
    EXPECT_EQ(c->LastRun().Failed, 3);
    EXPECT_TRUE(c->LastRun().Completed);
}

TEST_F(RunTest, DuplicateOfAnArchivedInvoiceFailsItsCheck) {
    Mode(false);
    WriteInvoice("R-1", kRheinOKK, nov22);
    auto c = Started();
    c->actProzessStartExecute();
    ASSERT_EQ(Files("import").size(), 0u);
    WriteInvoice("R-1", kRheinOKK, nov22, false, "R-1-nochmal.xml");
    view.log.clear();
    c->ReadInbox();
    c->actProzessStartExecute();
    EXPECT_TRUE(view.Logged("Prozess: FEHLER Rechnung R-1-nochmal.xml TRechStore Rechnung bereits vorhanden "));
    EXPECT_EQ(Files("import"), (std::vector<std::string>{"FEHLERR-1-nochmal.xml"}));
}

TEST_F(RunTest, AFileWithSeveralInvoicesIsRefusedAsAWholeByTheRunAndByTheCheck) {
    Mode(true);
    WriteInvoice("R-1", kRheinOKK, nov22);
    WriteInvoice("R-2", kRheinOKK, nov22);
    WriteInvoice("R-3", kIKKThuer, nov22);
    // Another program put R-3's invoice into R-2's file as a second record.
    const std::string second = ReadFileBytes(Path("import/R-3.xml"));
    const size_t from = second.find("<Rechnung>"), to = second.find("</Rechnungen>");
    std::string both = ReadFileBytes(Path("import/R-2.xml"));
    both.insert(both.find("</Rechnungen>"), second.substr(from, to - from));
    AtomicWriteFile(Path("import/R-2.xml"), both);
    std::filesystem::remove(Path("import/R-3.xml"));

    const std::string refusal = "Datei " + Path("import/R-2.xml") +
                                " enthält 2 Rechnungen; eine Datei darf nur eine Rechnung enthalten.";
    auto c = Started();
    c->ResetCostBearerIndexes();
    EXPECT_EQ(c->CheckInvoiceFile(Path("import/R-2.xml")), refusal);   // as "pruefen" shows it

    c->actProzessStartExecute();
    EXPECT_TRUE(view.Logged("Prozess: FEHLER Rechnung R-2.xml " + refusal)) << Joined();
    EXPECT_EQ(c->LastRun().Failed, 1);
    EXPECT_EQ(c->LastRun().Billed, 1);
    EXPECT_EQ(Files("import"), (std::vector<std::string>{"FEHLERR-2.xml"}));
    EXPECT_EQ(Files("ArchivR"), (std::vector<std::string>{"2024-1046.xml", "R-1.xml"}));
    EXPECT_EQ(Rows("Rechnungen.xml"), 2);
    ASSERT_NE(c->CurrentJob(), nullptr);
    EXPECT_EQ(c->CurrentJob()->Count(), 1u);   // no order for R-3's data recipient
}

// ------------------------------------------------------------------ failing jobs give their invoices back

TEST_F(RunTest, CollectiveFailureInTheSecondInvoiceCancelsAndReturns) {
    Mode(true);
    // Both pass the checks (neither is archived yet); the job refuses the second.
    WriteInvoice("R-1", kRheinOKK, nov22, false, "a.xml");
    WriteInvoice("R-1", kIKKThuer, nov22, false, "b.xml");
    WriteInvoice("R-3", kIKKThuer, nov22, false, "c.xml");
    auto c = Started();
    c->actProzessStartExecute();
    const TRunResult& r = c->LastRun();
    EXPECT_FALSE(r.Completed);
    EXPECT_EQ(r.Failure, "TRechStore Rechnung bereits vorhanden ");
    EXPECT_EQ(r.Failed, 1);
    EXPECT_EQ(r.Returned, 1);
    // Run ended: no "Verarbeite" for c.xml, no "Fertig,".
    EXPECT_FALSE(view.Logged("Prozess: Verarbeite Rechnung c.xml"));
    EXPECT_FALSE(view.Logged("Prozess: Fertig,"));
    const long failLine =
        view.IndexOf("Prozess: Abgebrochen mit Fehler bei Datei  b.xmlTRechStore Rechnung bereits vorhanden ");
    const long backLine = view.IndexOf("Prozess: Rechnung zurück in den Eingangskorb: a.xml");
    ASSERT_GE(failLine, 0) << Joined();
    EXPECT_GT(backLine, failLine);
    // Orders cancelled, first invoice back in the inbox and out of the archive,
    // second marked, third untouched.
    EXPECT_EQ(Rows("Auftraege.xml"), 0);
    EXPECT_EQ(Rows("Rechnungen.xml"), 1);
    EXPECT_EQ(Files("import"), (std::vector<std::string>{"a.xml", "c.xml", "FEHLERb.xml"}));
    EXPECT_EQ(c->Inbox().Item(size_t(c->Inbox().FindCaption("a.xml"))).Icon, ItemIcon::Open);
    EXPECT_EQ(c->Outbox().Count(), 0u);
    EXPECT_EQ(c->CurrentJob(), nullptr);
    // Closing steps ran, then the failure was shown.
    EXPECT_TRUE(view.Logged("Init Rechnungen speichern ... "));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "TRechStore Rechnung bereits vorhanden ");
    // The transfer numbers the cancelled orders used are not used again.
    EXPECT_EQ(Setting("MAXTRANSFER"), "2");

    // The returned invoice is billed by the next run.
    view.log.clear();
    c->actProzessStartExecute();
    EXPECT_TRUE(c->LastRun().Completed);
    EXPECT_EQ(Files("import"), (std::vector<std::string>{"FEHLERb.xml"}));
    EXPECT_EQ(Rows("Rechnungen.xml"), 3);
}

TEST_F(RunTest, CollectiveWriteFailureReturnsEveryInvoice) {
    Mode(true);
    WriteInvoice("R-1", kRheinOKK, nov22);
    WriteInvoice("R-2", kIKKThuer, nov22);
    auto c = Started();
    // The scratch directory disappears just before the files are written.
    view.onProgress = [&](const std::string& text) {
        if (text == "Schreibe Dateien... ") std::filesystem::remove_all(Path("temp"));
    };
    c->actProzessStartExecute();
    EXPECT_FALSE(c->LastRun().Completed);
    EXPECT_EQ(c->LastRun().Returned, 2);
    EXPECT_EQ(c->LastRun().Failed, 0);   // no file was being added
    EXPECT_TRUE(view.Logged("Prozess: Rechnung zurück in den Eingangskorb: R-1.xml"));
    EXPECT_TRUE(view.Logged("Prozess: Rechnung zurück in den Eingangskorb: R-2.xml"));
    EXPECT_EQ(Files("import"), (std::vector<std::string>{"R-1.xml", "R-2.xml"}));
    EXPECT_EQ(Rows("Rechnungen.xml"), 1);
    EXPECT_EQ(Rows("Auftraege.xml"), 0);
}

TEST_F(RunTest, SingleModeJobFailureReturnsAndMarksOnlyThatInvoice) {
    Mode(false);
    WriteInvoice("R-1", kRheinOKK, nov22);
    WriteInvoice("R-2", kIKKThuer, nov22);
    WriteInvoice("R-3", kIKKThuer, nov22);
    auto c = Started();
    int writes = 0;
    view.onProgress = [&](const std::string& text) {
        if (text == "Schreibe Dateien... " && ++writes == 2) std::filesystem::remove_all(Path("temp"));
        if (StartsWith(text, "Fehler bei ")) ForceDirectories(Path("temp"));
    };
    c->actProzessStartExecute();
    const TRunResult& r = c->LastRun();
    EXPECT_TRUE(r.Completed);
    EXPECT_EQ(r.Failed, 1);
    EXPECT_EQ(r.Returned, 1);
    EXPECT_EQ(r.Billed, 2);
    const std::vector<std::string> fails = view.LinesWith("Prozess: Fehler bei R-2.xml");
    ASSERT_EQ(fails.size(), 1u) << Joined();
    EXPECT_GT(view.IndexOf("Prozess: Rechnung zurück in den Eingangskorb: R-2.xml"), view.IndexOf(fails[0]));
    EXPECT_EQ(Files("import"), (std::vector<std::string>{"FEHLERR-2.xml"}));
    EXPECT_EQ(Rows("Rechnungen.xml"), 3);   // the archived invoice and
    EXPECT_EQ(Rows("Auftraege.xml"), 2);
    EXPECT_EQ(c->Outbox().Count(), 2u);
    EXPECT_EQ(Setting("MAXTRANSFER"), "3");
}

// ------------------------------------------------------------------ billing month

TEST_F(RunTest, BillingMonthFollowsTheLatestInvoiceDate) {
    Mode(true);
    SetFixedNow(EncodeDateTime(2025, 3, 10, 12, 0));
    WriteInvoice("R-1", kRheinOKK, EncodeDate(2024, 12, 30));
    WriteInvoice("R-2", kRheinOKK, EncodeDate(2025, 2, 3));
    WriteInvoice("R-3", kRheinOKK, EncodeDate(2025, 1, 15));
    auto c = Started();
    c->actProzessStartExecute();
    EXPECT_EQ(c->LastRun().BillingMonth, 2);
    ASSERT_NE(c->CurrentJob(), nullptr);
    ASSERT_EQ(c->CurrentJob()->Count(), 1u);
    EXPECT_EQ(c->CurrentJob()->Engine(0).LogicalFileName(), "SL051234S02");
}

TEST_F(RunTest, BillingMonthWithoutAGoodInvoiceIsThatOf3000DaysAgo) {
    Mode(true);
    SetFixedNow(EncodeDateTime(2025, 3, 10, 12, 0));   // 3000 days earlier: 22.12.2016
    WriteInvoice("R-1", kRheinOKK, EncodeDate(2016, 5, 1));   // older: does not count
    WriteInvoice("R-2", kRheinOKK, EncodeDate(2025, 2, 3), true);
    auto c = Started();
    c->actProzessStartExecute();
    EXPECT_EQ(Decode(IncDays(EncodeDate(2025, 3, 10), -3000)).month, 12);
    EXPECT_EQ(c->LastRun().BillingMonth, 12);
    EXPECT_EQ(c->CurrentJob()->Engine(0).LogicalFileName(), "SL051234S12");
}

// ------------------------------------------------------------------ decimal separators

TEST(DecimalSeparators, BothDirectionsLeaveTheDeclarationAndTheLastCharacter) {
    const std::string toComma = TMainController::ConvertDecimalSeparatorsText(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a>\r\n  <b>12.50</b><c>1.5.</c><d>x.5</d></a>1.2", true);
    EXPECT_EQ(toComma, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>  <b>12,50</b><c>1,5.</c><d>x.5</d></a>1.2");
    EXPECT_EQ(TMainController::ConvertDecimalSeparatorsText(toComma, false),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>  <b>12.50</b><c>1.5.</c><d>x.5</d></a>1.2");
    // Positions 1 to 19 are never changed; short texts not at all.
    EXPECT_EQ(TMainController::ConvertDecimalSeparatorsText("1.2 3.4 5.6 7.8 9.0 1.2 3.4", true),
              "1.2 3.4 5.6 7.8 9.0 1,2 3.4");
    EXPECT_EQ(TMainController::ConvertDecimalSeparatorsText("1.2", true), "1.2");
}

TEST_F(RunTest, ConversionRewritesTheFileAsOneLineAndTheRunReadsIt) {
    Mode(false);
    SetSettings({{"OPT_XMLCONVERSION", "T"}, {"OPT_XMLTOCOMMA", "T"}});
    WriteInvoice("R-1", kRheinOKK, nov22);
    auto c = Started();
    // pruefen's check converts the text it reads, never the file.
    const std::string before = ReadFileBytes(Path("import/R-1.xml"));
    c->ResetCostBearerIndexes();
    EXPECT_EQ(c->CheckInvoiceFile(Path("import/R-1.xml")), "");
    EXPECT_EQ(ReadFileBytes(Path("import/R-1.xml")), before);

    c->actProzessStartExecute();
    EXPECT_TRUE(view.Logged("Prozess: Konvertiere Datei R-1.xml"));
    EXPECT_EQ(c->LastRun().Billed, 1);
    const std::string archived = ReadFileBytes(Path("ArchivR/R-1.xml"));
    EXPECT_EQ(SplitLines(archived).size(), 1u);
    EXPECT_TRUE(Contains(archived, "<EPreis>25,00</EPreis>"));
    EXPECT_TRUE(StartsWith(archived, "<?xml version=\"1.0\""));
    EXPECT_FALSE(Exists("import/R-1.xml$$$"));
}

// ------------------------------------------------------------------ archives that are not loaded

TEST_F(RunTest, NothingWritesIntoTheArchivesWhileOneIsNotLoaded) {
    Mode(false);
    SetSettings({{"DAKOTA_AKTIV", "T"}, {"DAKOTA_DATADIR", Path("dakota")}, {"DAKOTA_INSTDIR", Path("dakota")}});
    WriteInvoice("R-1", kRheinOKK, nov22);
    auto c = Started();
    c->actProzessStartExecute();
    ASSERT_EQ(c->LastRun().Billed, 1) << Joined();
    ASSERT_EQ(c->Outbox().Count(), 1u);
    // An invoice that is archived already comes again.
    std::filesystem::copy_file(DemoDir() + "/import/2024-1046.xml", Path("import/2024-1046.xml"));
    c->ReadInbox();

    // The backup reloads the archives from their files; the invoice archive's
    // file went bad in between, so it is not loaded afterwards.
    view.onProcessEvents = [&] {
        if (c->LoadText() == "Datensicherung fertig.") AtomicWriteFile(Stamm("Rechnungen.xml"), "kaputt");
    };
    EXPECT_FALSE(c->actDatensicherungErstellenExecute());
    view.onProcessEvents = nullptr;
    ASSERT_FALSE(c->ArchivesLoaded());

    auto snapshot = [&] {
        std::vector<std::string> s = {Setting("MAXTRANSFER"), ReadFileBytes(Stamm("Rechnungen.xml")),
                                      ReadFileBytes(Stamm("Auftraege.xml"))};
        for (const char* d : {"import", "ArchivR", "ArchivA", "export", "temp", "dakota"})
            for (const std::string& f : Files(d)) s.push_back(std::string(d) + "/" + f);
        return s;
    };
    const std::vector<std::string> before = snapshot();
    view.messages.clear();
    c->actProzessStartExecute();
    EXPECT_FALSE(c->LastRun().Started);
    c->actEmailVersandtExecute(TOrderSelection::InOutbox({1}));
    c->actAuftragLoeschenExecute(TOrderSelection::InGrid(1));
    c->actAlleEmailsVersendenExecute(TOrderSelection::InOutbox({}));
    EXPECT_FALSE(c->PurgeOldData());
    EXPECT_FALSE(c->actDakotaExportExecute().Ok);
    EXPECT_FALSE(c->actDakotaReadResultExecute().Ok);
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(c->AuftragStore()->LocateById(1));
    EXPECT_TRUE(c->AuftragStore()->GetTable().IsNull("A_VERSANDT"));

    const std::string why = " nicht möglich: das Rechnungsarchiv ist nicht geladen. Bitte das Programm neu starten.";
    std::vector<std::string> shown;
    for (const auto& m : view.messages) shown.push_back(m.text);
    EXPECT_EQ(shown, (std::vector<std::string>{"Verarbeitung" + why, "Versandstatus ändern" + why,
                                               "Auftrag löschen" + why, "Email-Versand" + why,
                                               "Daten bereinigen" + why, "Export zu Dakota" + why,
                                               "Dakota-Ergebnis lesen" + why}));
}

// ------------------------------------------------------------------ end of the program after the run

TEST_F(RunTest, ProgramEndsAfterTheRunEvenAfterACollectiveFailure) {
    Mode(true);
    WriteInvoice("R-1", kRheinOKK, nov22, false, "a.xml");
    WriteInvoice("R-1", kRheinOKK, nov22, false, "b.xml");
    auto c = Started();
    c->SetQuitAfterRun(true);
    c->actProzessStartExecute();
    EXPECT_FALSE(c->LastRun().Completed);
    EXPECT_EQ(view.closed, 0);   // posted, runs when the loop is next pumped
    c->PumpMessages();
    EXPECT_EQ(view.closed, 1);
    EXPECT_EQ(Files("Logs").size(), 1u);
}

TEST_F(RunTest, CloseRequestDuringTheRunWaitsForItsEnd) {
    Mode(false);
    WriteInvoice("R-1", kRheinOKK, nov22);
    auto c = Started();
    bool asked = false;
    view.onProgress = [&](const std::string& text) {
        if (!asked && StartsWith(text, "Prüfe Rechnung")) {
            asked = true;
            EXPECT_FALSE(c->RequestClose());
        }
    };
    c->actProzessStartExecute();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(c->LastRun().Completed);
    EXPECT_EQ(view.closed, 0);
    c->PumpMessages();
    EXPECT_EQ(view.closed, 1);
}

TEST_F(RunTest, MarkingThatCannotRenameIsLoggedAndTheFileIsSkipped) {
    Mode(false);
    WriteInvoice("R-1", kRheinOKK, nov22, true);
    WriteInvoice("R-1", kRheinOKK, nov22, true, "FEHLERR-1.xml");
    auto c = Started();
    c->actProzessStartExecute();
    EXPECT_TRUE(view.Logged("Datei R-1.xml konnte nicht in FEHLERR-1.xml umbenannt werden."));
    EXPECT_TRUE(view.Logged("Prozess: Ignoriere Rechnung FEHLERR-1.xml"));
    EXPECT_FALSE(view.Logged("Prozess: Verarbeite Rechnung R-1.xml"));
    EXPECT_EQ(c->LastRun().Failed, 1);
}
