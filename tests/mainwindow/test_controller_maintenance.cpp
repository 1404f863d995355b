// Data maintenance, backup and update through the main window's controller,
// on copies of the demo installation: "Daten bereinigen", "Archiv
// bereinigen", "Daten Import", "Datensicherung erstellen", the automatic
// backup at program end, "DB Funktion", and both updates against a local FTP
// server.

#include "ControllerFixture.h"

#include <regex>

#include "archive/U_AuftragStore.h"
#include "archive/U_RechStore.h"
#include "tests/mainwindow/FtpTestServer.h"
#include "tests/mainwindow/ZipTestUtil.h"

using namespace brenvo;
using namespace ctltest;
namespace fs = std::filesystem;

namespace {

struct InvoiceRow {
    std::string number;
    int daysAgo;
    std::string file;
};

struct OrderRow {
    std::string handle;
    int daysAgo;
    bool sent = false;
};

// The entry names of a zip archive.
std::vector<std::string> ZipEntries(const std::string& zip) {
    std::vector<std::string> names;
    for (const std::string& line : SplitLines(RunCommand("zipinfo -1 '" + zip + "'")))
        if (!line.empty()) names.push_back(line);
    return names;
}

bool HasEntry(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

class MaintenanceTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        EmptyInbox();
    }

    // "Rechnungen.xml" with these rows; each file is put into "ArchivR".
    void WriteInvoiceArchive(const std::vector<InvoiceRow>& rows) {
        fs::remove(Path("ArchivR/2024-1046.xml"));
        Table t;
        t.CreateDataSet(TRechStore::DefaultFields());
        int id = 0;
        for (const InvoiceRow& r : rows) {
            t.Append();
            t.SetInteger("R_ID", ++id);
            t.SetString("R_NUMMER", r.number);
            t.SetDateTime("R_DATUM", IncDays(Now(), -r.daysAgo));
            t.SetFloat("R_BETRAG", 10.0);
            t.SetString("R_FILENAME", r.file);
            t.SetString("R_HANDLE", "");
            t.Post();
            WriteTextFile(Path("ArchivR/" + r.file), "<Rechnungen>" + r.number + "</Rechnungen>");
        }
        t.SaveToFile(Stamm("Rechnungen.xml"));
    }

    void WriteOrderArchive(const std::vector<OrderRow>& rows) {
        Table t;
        t.CreateDataSet(TAuftragSTore::DefaultFields());
        int id = 0;
        for (const OrderRow& r : rows) {
            t.Append();
            t.SetInteger("A_ID", ++id);
            t.SetString("A_HANDLE", r.handle);
            t.SetDateTime("A_ERZEUGT", IncDays(Now(), -r.daysAgo));
            if (r.sent) t.SetDateTime("A_VERSANDT", IncDays(Now(), -r.daysAgo));
            t.SetString("A_EMPF_NAME", "Empfänger " + r.handle);
            t.SetString("A_TRANSFER", "EAC00" + IntToStr(id));
            t.Post();
        }
        t.SaveToFile(Stamm("Auftraege.xml"));
    }

    void WriteTextFile(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        Spit(path, text);
    }

    // The numbers of the invoice archive's rows, in table order.
    static std::vector<std::string> Numbers(TRechStore& store) {
        std::vector<std::string> out;
        Table& t = store.GetTable();
        for (t.First(); !t.Eof(); t.Next()) out.push_back(t.AsString("R_NUMMER"));
        return out;
    }
    static std::vector<std::string> Handles(TAuftragSTore& store) {
        std::vector<std::string> out;
        Table& t = store.GetTable();
        for (t.First(); !t.Eof(); t.Next()) out.push_back(t.AsString("A_HANDLE"));
        return out;
    }
    bool Shown(const std::string& text) const {
        return std::find(view.progressTexts.begin(), view.progressTexts.end(), text) != view.progressTexts.end();
    }
    std::vector<std::string> Backups(const std::string& dir = "Datensicherung") const {
        return Exists(dir) ? ListFiles(Path(dir), "*.zip") : std::vector<std::string>{};
    }
};

// ------------------------------------------------------------------ "Daten bereinigen"

TEST_F(MaintenanceTest, PurgeBy200DaysRemovesOrdersThenInvoicesAndReturnsTheInvoiceFiles) {
    WriteInvoiceArchive({{"R-250", 250, "R-250.xml"}, {"R-199", 199, "R-199.xml"}, {"R-10", 10, "R-10.xml"}});
    WriteOrderArchive({{"H250", 250}, {"H199", 199, true}, {"H10", 10}});
    auto c = Started();
    EXPECT_EQ(c->Outbox().Count(), 2u);

    // No: nothing changes.
    view.answers = {Answer::No};
    c->actDatenBereinigenExecute();
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0], "Daten (Rechnungen und Aufträge) älter als 200 Tage löschen?");
    EXPECT_EQ(c->RechStore()->GetTable().RecordCount(), 3);
    EXPECT_TRUE(view.tabs.empty());

    view.answers = {Answer::Yes};
    c->actDatenBereinigenExecute();
    EXPECT_EQ(view.tabs, std::vector<MainTab>{MainTab::Verarbeitung});
    EXPECT_EQ(Numbers(*c->RechStore()), (std::vector<std::string>{"R-199", "R-10"}));
    EXPECT_EQ(Handles(*c->AuftragStore()), (std::vector<std::string>{"H199", "H10"}));
    // The removed invoice's file is back in the inbox (and still archived); the others are not.
    EXPECT_EQ(Files("import"), std::vector<std::string>{"R-250.xml"});
    EXPECT_TRUE(Exists("ArchivR/R-250.xml"));
    EXPECT_GE(c->Inbox().FindCaption("R-250.xml"), 0);
    // The purged unsent order left the outbox.
    EXPECT_EQ(c->Outbox().Count(), 1u);

    // Orders first, then invoices; every step shown, none logged.
    const std::vector<std::string> expected = {
        "1/3, Auftrag gelöscht (gelöscht 1)", "2/3, Auftrag ignoriert (gelöscht 1)",
        "3/3, Auftrag ignoriert (gelöscht 1)", "1/3, Rechnung gelöscht 1",
        "2/3, Rechnung gelöscht 1",           "3/3, Rechnung gelöscht 1"};
    EXPECT_EQ(view.progressTexts, expected);
    EXPECT_TRUE(view.LinesWith("Prozess: ").empty());
    EXPECT_FALSE(c->Busy());
    EXPECT_TRUE(view.messages.empty());

    // The shut-down saves what is left.
    ASSERT_TRUE(c->Shutdown());
    EXPECT_EQ(Rows("Rechnungen.xml"), 2);
    EXPECT_EQ(Rows("Auftraege.xml"), 2);
}

TEST_F(MaintenanceTest, CloseRequestDuringMaintenanceWaitsForItsEnd) {
    WriteInvoiceArchive({{"R-250", 250, "R-250.xml"}, {"R-10", 10, "R-10.xml"}});
    auto c = Started();
    bool granted = true;
    view.onProgress = [&](const std::string&) {
        if (granted) granted = c->RequestClose();
        c->PumpMessages();   // a posted shut-down must not run in the middle
        EXPECT_EQ(view.closed, 0);
    };
    EXPECT_TRUE(c->PurgeOldData());
    EXPECT_FALSE(granted);
    EXPECT_EQ(view.closed, 0);
    view.onProgress = nullptr;
    c->PumpMessages();
    EXPECT_EQ(view.closed, 1);
    EXPECT_EQ(Rows("Rechnungen.xml"), 1);
}

// ------------------------------------------------------------------ "Archiv bereinigen"

TEST_F(MaintenanceTest, ArchiveCleanupDeletesFilesWithoutRowsAndReportsBothCounts) {
    WriteInvoiceArchive({{"R-1", 10, "R-1.xml"}});
    WriteOrderArchive({{"HKEEP", 10}});
    WriteTextFile(Path("ArchivR/verwaist.xml"), "x");
    WriteTextFile(Path("ArchivR/ALT.XML"), "x");
    for (const char* ext : {"", ".AUF", ".LOG", ".BGL"}) WriteTextFile(Path(std::string("ArchivA/HGONE") + ext), "x");
    for (const char* ext : {"", ".AUF"}) WriteTextFile(Path(std::string("ArchivA/HKEEP") + ext), "x");
    auto c = Started();

    view.answers = {Answer::No};
    c->actArchivBereinigenExecute();
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0],
              "Dateien zu allen Rechnungen und Aufträgen, die in den \n\r"
              "Tabellen nicht (mehr) enthalten sind, werden gelöscht.\n\rFortfahren?");
    EXPECT_TRUE(Exists("ArchivR/verwaist.xml"));

    view.answers = {Answer::Yes};
    c->actArchivBereinigenExecute();
    EXPECT_EQ(view.LinesWith("Prozess: "),
              (std::vector<std::string>{"Prozess: Dateien-Bereinigung startet...", "Prozess: Rechnungen",
                                        "Prozess: 2 Rechnungs-Dateien gelöscht", "Prozess: Aufträge",
                                        "Prozess: 4 Auftags-Dateien gelöscht.",
                                        "Prozess: Dateien-Bereinigung beendet."}));
    EXPECT_EQ(Files("ArchivR"), std::vector<std::string>{"R-1.xml"});
    EXPECT_EQ(Files("ArchivA"), (std::vector<std::string>{"HKEEP", "HKEEP.AUF"}));
    EXPECT_EQ(c->ProgressPosition(), 6);
    EXPECT_EQ(c->ProgressMaximum(), 6);
    EXPECT_EQ(view.tabs, std::vector<MainTab>{MainTab::Verarbeitung});
    EXPECT_FALSE(c->Busy());
}

// ------------------------------------------------------------------ "Daten Import"

TEST_F(MaintenanceTest, DataImportWithoutRecentFilesShowsOnlyTheTwoDirectoryMessages) {
    auto c = Started();
    view.answers = {Answer::No};
    c->actDatenImportExecute();
    EXPECT_EQ(view.questions.back(),
              "Fehlende Tabellen-Einträge zu Rechnungen und Aufträgen werden \n\raus den vorhandenen Dateien "
              "rekonstruiert.\n\rFortfahren?");
    EXPECT_TRUE(view.progressTexts.empty());

    view.answers = {Answer::Yes};
    c->actDatenImportExecute();
    std::vector<std::string> own;   // the action's texts, without the archives' per-file steps
    for (const std::string& t : view.progressTexts)
        if (!Contains(t, ", Rechnung bearbeiten") && !Contains(t, ", Auftrag bearbeiten")) own.push_back(t);
    EXPECT_EQ(own, (std::vector<std::string>{"Lese Verzeichnis Rechnungs-Archiv " + Path("ArchivR"),
                                             "Lese Verzeichnis Auftrags-Archiv " + Path("ArchivA")}));
    EXPECT_TRUE(view.LinesWith("Prozess: ").empty());
    EXPECT_EQ(c->RechStore()->GetTable().RecordCount(), 1);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(MaintenanceTest, DataImportRebuildsRecentRowsAndLinksThemToTheirOrders) {
    // Two invoices billed in single mode: two orders, each naming its invoice.
    SetSettings({{"SYST_ZUSF", "F"}});
    WriteInvoice("2026-0001", kRheinOKK, EncodeDate(2024, 11, 22));
    WriteInvoice("2026-0002", kIKKThuer, EncodeDate(2024, 11, 22));
    {
        auto c = Started();
        c->actProzessStartExecute();
        ASSERT_EQ(c->LastRun().Billed, 2) << Joined();
        ASSERT_TRUE(c->Shutdown());
    }
    // The tables lose every row; one archived invoice file is older than 20 days,
    // and a file that is no invoice lies beside them.
    WriteInvoiceArchive({});
    WriteOrderArchive({});
    SetFileLastWriteTime(Path("ArchivR/2026-0002.xml"), IncDays(Now(), -30));
    WriteTextFile(Path("ArchivR/kaputt.xml"), "kein XML");
    ASSERT_TRUE(Exists("ArchivR/2026-0001.xml"));
    view = RecordingView();

    auto c = Started();
    view.answers = {Answer::Yes};
    c->actDatenImportExecute();

    TRechStore& rech = *c->RechStore();
    EXPECT_EQ(Numbers(rech), std::vector<std::string>{"2026-0001"});
    ASSERT_TRUE(rech.LocateByNumber("2026-0001"));
    const std::string handle = rech.GetTable().AsString("R_HANDLE");
    EXPECT_FALSE(handle.empty());
    EXPECT_EQ(rech.GetTable().AsString("R_FILENAME"), "2026-0001.xml");
    TAuftragSTore& auf = *c->AuftragStore();
    EXPECT_EQ(auf.GetTable().RecordCount(), 2);
    ASSERT_TRUE(auf.LocateByHandle(handle));
    EXPECT_EQ(auf.GetTable().AsString("A_EMPF_NAME"), "?importiert");

    // Each pair logged; the invoice of the old file has no row to link.
    EXPECT_EQ(view.LinesWith("Prozess: 0/2 Rechnungen verknüpft OK").size(), 1u) << Joined();
    EXPECT_EQ(view.LinesWith("Prozess: 1/2 Rechnungen verknüpft nicht OK: Auftrag nicht gefunden").size(), 1u);
    // The link messages stand in the window's title while the action runs.
    EXPECT_EQ(view.captions, (std::vector<std::string>{"0/2 Rechnungen verknüpft OK",
                                                        "1/2 Rechnungen verknüpft nicht OK: Auftrag nicht gefunden",
                                                        TMainController::Caption}));
    EXPECT_TRUE(Shown("0/2 Rechnungen bearbeitet"));
    EXPECT_TRUE(Shown("1/2 Rechnungen bearbeitet"));
    // The file that is no invoice is skipped, logged and reported; the others still come in.
    EXPECT_EQ(view.LinesWith("Prozess: Rechnung kaputt.xml nicht übernommen: ").size(), 1u);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "1 Rechnungs-Dateien konnten nicht übernommen werden (siehe Protokoll).");
    EXPECT_FALSE(c->Busy());

    ASSERT_TRUE(c->Shutdown());
    EXPECT_EQ(Rows("Rechnungen.xml"), 1);
    EXPECT_EQ(Rows("Auftraege.xml"), 2);
}

// ------------------------------------------------------------------ backups

TEST_F(MaintenanceTest, BackupSavesFirstHoldsTheDirectFilesAndReloadsBothArchives) {
    WriteOrderArchive({{"HOPEN", 5}});
    WriteTextFile(Path("export/direkt.txt"), "x");
    WriteTextFile(Path("export/109910014/EAC00001.AUF"), "x");   // a per-recipient copy
    WriteTextFile(Path("eingabe/neu.xml"), "x");
    auto c = Started();
    // An invoice archived in this session, not saved yet.
    WriteTextFile(Path("hand.xml"), "<Rechnungen/>");
    c->RechStore()->AddManual(Path("hand.xml"), "HAND-1", 12.5, Today());
    ASSERT_EQ(c->Outbox().Count(), 1u);
    const size_t logBefore = view.log.size();

    ASSERT_TRUE(c->actDatensicherungErstellenExecute()) << Joined();
    const std::vector<std::string> zips = Backups();
    ASSERT_EQ(zips.size(), 1u);
    EXPECT_EQ(c->LastBackup(), Path("Datensicherung/" + zips[0]));
    const std::vector<std::string> entries = ZipEntries(c->LastBackup());
    for (const char* name : {"Stammdaten/Rechnungen.xml", "Stammdaten/KT_BASE.XML", "ArchivR/hand.xml",
                             "export/direkt.txt", "eingabe/neu.xml"})
        EXPECT_TRUE(HasEntry(entries, name)) << name;
    for (const std::string& e : entries) EXPECT_FALSE(StartsWith(e, "export/109910014")) << e;
    // The table in the backup holds the invoice of this session.
    EXPECT_TRUE(Contains(RunCommand("unzip -p '" + c->LastBackup() + "' Stammdaten/Rechnungen.xml"), "HAND-1"));

    // Save, back up, then read both archives again; the outbox is filled anew, not twice.
    const std::vector<std::string> after(view.log.begin() + long(logBefore), view.log.end());
    const std::vector<std::string> expected = {"Init Rechnungen speichern ... ",
                                               "Init Aufträge speichern ... ",
                                               "Init KT-Daten speichern ... ",
                                               "Datensicherung beginnt",
                                               "Datensicherung startet. ",
                                               "Datensicherung fertig.",
                                               "Datensicherung beendet " + c->LastBackup(),
                                               "Init Lade Stammdaten Rechnungen...",
                                               "Init Lade Stammdaten Aufträge ..."};
    EXPECT_EQ(after, expected);
    EXPECT_EQ(c->Outbox().Count(), 1u);
    EXPECT_TRUE(c->RechStore()->LocateByNumber("HAND-1"));
    EXPECT_EQ(view.loadPanels.back(), LoadPanelMode::Hidden);
    EXPECT_FALSE(c->Busy());
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(MaintenanceTest, CloseRequestDuringTheBackupWaitsForTheArchivesToBeReadAgain) {
    auto c = Started();
    ExpectCloseWaitsFor(*c, view, [&] { EXPECT_TRUE(c->actDatensicherungErstellenExecute()); },
                        "Init Lade Stammdaten Aufträge ...");
}

TEST_F(MaintenanceTest, FailedBackupIsShownAndNothingIsReloaded) {
    // The backup directory lies below a file: it cannot be made.
    SetSettings({{"SIK_DIR", Stamm("brenvo.XML") + "/sik"}});
    auto c = Started();
    const size_t logBefore = view.log.size();
    EXPECT_FALSE(c->actDatensicherungErstellenExecute());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_TRUE(StartsWith(view.messages[0].text, "Datensicherung fehlgeschlagen: ")) << view.messages[0].text;
    const std::vector<std::string> after(view.log.begin() + long(logBefore), view.log.end());
    EXPECT_EQ(std::count(after.begin(), after.end(), "Init Lade Stammdaten Rechnungen..."), 0);
    EXPECT_EQ(view.loadPanels.back(), LoadPanelMode::Hidden);
    EXPECT_FALSE(c->Busy());
    EXPECT_TRUE(c->ActionEnabled(ActionCategory::Rechnung));
}

TEST_F(MaintenanceTest, ShutDownBacksUpOnlyWithSikAuto) {
    {
        auto c = Started();
        ASSERT_TRUE(c->Shutdown());
        EXPECT_FALSE(view.Logged("Init Datensicherung ..."));
        EXPECT_TRUE(Backups().empty());
    }
    view = RecordingView();
    TempDir elsewhere;
    SetSettings({{"SIK_AUTO", "T"}, {"SIK_DIR", elsewhere.path()}});
    auto c = Started();
    ASSERT_TRUE(c->Shutdown());
    // After the DAKOTA step and before the log is written.
    const long backupStep = view.IndexOf("Init Datensicherung ...");
    ASSERT_GE(backupStep, 0) << Joined();
    EXPECT_LT(view.IndexOf("Init Dakota ..."), backupStep);
    EXPECT_LT(backupStep, view.IndexOf("Init Protkoll schreiben ..."));
    EXPECT_EQ(ListFiles(elsewhere.path(), "*.zip").size(), 1u);
    EXPECT_TRUE(Backups().empty());
    EXPECT_EQ(view.closed, 1);
}

// ------------------------------------------------------------------ "DB Funktion"

TEST_F(MaintenanceTest, DbFunctionAddsTheColumnToOlderFilesWithoutLosingUnsavedOrders) {
    // Files from before the DTAREF column.
    const std::regex field(R"(<FIELD attrname="DTAREF"[^>]*/>)"), value(R"( DTAREF="[^"]*")");
    WriteOrderArchive({{"HOPEN", 5}});
    for (const char* name : {"KT_BASE.XML", "Auftraege.xml"}) {
        const std::string text = Slurp(Stamm(name));
        Spit(Stamm(name), std::regex_replace(std::regex_replace(text, field, ""), value, ""));
    }
    auto c = Started();
    ASSERT_FALSE(c->KTStore()->KTBase().HasField("DTAREF"));
    ASSERT_FALSE(c->AuftragStore()->GetTable().HasField("DTAREF"));
    EXPECT_EQ(c->KTStore()->NextDtaRef("109910014", -7), -7);
    // The order is marked sent in this session; the file does not know it yet.
    ASSERT_TRUE(c->AuftragStore()->LocateById(1));
    c->AuftragStore()->MarkSent(Now());

    c->actDBFunktionExecute();
    EXPECT_TRUE(view.messages.empty()) << view.messages[0].text;
    const std::string element = R"(<FIELD attrname="DTAREF" fieldtype="string" WIDTH="9"/></FIELDS>)";
    EXPECT_TRUE(Contains(Slurp(Stamm("KT_BASE.XML")), element));
    EXPECT_TRUE(Contains(Slurp(Stamm("Auftraege.xml")), element));
    EXPECT_TRUE(view.Logged("DB Funktion: Spalte DTAREF ergänzt in " + Stamm("KT_BASE.XML")));
    EXPECT_TRUE(view.Logged("DB Funktion: Spalte DTAREF ergänzt in " + Stamm("Auftraege.xml")));
    // Both tables are open again with the column; the sending was not lost.
    EXPECT_EQ(c->KTStore()->NextDtaRef("109910014", -7), 1001);
    ASSERT_TRUE(c->AuftragStore()->GetTable().HasField("DTAREF"));
    ASSERT_TRUE(c->AuftragStore()->LocateById(1));
    EXPECT_FALSE(c->AuftragStore()->GetTable().IsNull("A_VERSANDT"));
    EXPECT_EQ(c->Outbox().Count(), 0u);

    // A second time changes nothing.
    const std::string kt = Slurp(Stamm("KT_BASE.XML")), orders = Slurp(Stamm("Auftraege.xml"));
    c->actDBFunktionExecute();
    EXPECT_EQ(Slurp(Stamm("KT_BASE.XML")), kt);
    EXPECT_EQ(Slurp(Stamm("Auftraege.xml")), orders);
    EXPECT_TRUE(view.Logged("DB Funktion: Spalte DTAREF vorhanden in " + Stamm("Auftraege.xml")));

    ASSERT_TRUE(c->Shutdown());
    Table t;
    t.LoadFromFile(Stamm("KT_BASE.XML"));
    ASSERT_TRUE(t.Locate("K_IK", {Value("109910014")}));
    EXPECT_EQ(t.AsString("DTAREF"), "1001");
}

// ------------------------------------------------------------------ update

class ControllerUpdateTest : public MaintenanceTest {
protected:
    void SetUp() override {
        MaintenanceTest::SetUp();
        fs::create_directories(ftpRoot + "/ftp-pub");
    }
    void UseServer(const FtpTestServer& server) {
        WriteTextFile(Path("brenvo.ini"), "Update_Server=127.0.0.1:" + std::to_string(server.port()) + "\n");
    }
    TempDir ftp;
    std::string ftpRoot = ftp.path();
};

TEST_F(ControllerUpdateTest, DataUpdateReplacesMasterDataAndEndsWithoutTheShutDownOverwritingThem) {
    // The update brings a new cost-bearer base table and (to catch any later save) an invoice table.
    std::string base = Slurp(Stamm("KT_BASE.XML"));
    base = ReplaceAll(base, "DAS Rhein-Ruhr", "DAS Rhein-Ruhr neu");
    WriteInvoiceArchive({{"UPD-1", 3, "UPD-1.xml"}});
    const std::string invoices = Slurp(Stamm("Rechnungen.xml"));
    MakeZip(ftpRoot + "/ftp-pub/updateData.zip", {{"KT_BASE.XML", base}, {"Rechnungen.xml", invoices}});
    WriteInvoiceArchive({});
    FtpTestServer server(ftpRoot);
    UseServer(server);

    auto c = Started();
    // Unsaved work the shut-down would otherwise write: a counter and an invoice.
    ASSERT_GT(c->KTStore()->NextDtaRef("109910014", 0), 0);
    WriteTextFile(Path("hand.xml"), "<Rechnungen/>");
    c->RechStore()->AddManual(Path("hand.xml"), "HAND-1", 1.0, Today());

    ASSERT_TRUE(c->actUpdateDatenExecute()) << Joined();
    server.Stop();
    EXPECT_EQ(Slurp(Stamm("KT_BASE.XML")), base);
    EXPECT_EQ(Slurp(Stamm("Rechnungen.xml")), invoices);
    EXPECT_EQ(c->KTStore(), nullptr);
    EXPECT_EQ(c->RechStore(), nullptr);
    EXPECT_TRUE(view.Logged("Programm wird beendet. Bitte neu starten"));
    EXPECT_EQ(view.closed, 0);   // the shut-down follows once the handler has returned

    c->PumpMessages();
    EXPECT_EQ(view.closed, 1);
    const long shutdown = view.IndexOf("Init Daten speichern ...");
    ASSERT_GE(shutdown, 0);
    const std::vector<std::string> after(view.log.begin() + shutdown, view.log.end());
    EXPECT_EQ(std::count(after.begin(), after.end(), "Init Rechnungen speichern ... "), 0) << Joined();
    EXPECT_EQ(std::count(after.begin(), after.end(), "Init KT-Daten speichern ... "), 0);
    EXPECT_EQ(Slurp(Stamm("KT_BASE.XML")), base);
    EXPECT_EQ(Slurp(Stamm("Rechnungen.xml")), invoices);
    EXPECT_TRUE(Exists("Downloads/updateKT.zip"));

    // The next start reads the new files.
    c.reset();
    view = RecordingView();
    auto next = Started();
    EXPECT_EQ(next->KTStore()->GetKurzBez("109910014"), "DAS Rhein-Ruhr neu");
    EXPECT_TRUE(next->RechStore()->LocateByNumber("UPD-1"));
}

TEST_F(ControllerUpdateTest, ProgramUpdateInstallsWithOldCopiesAndLeavesOnlyTheEnd) {
    WriteTextFile(Path("brenvo"), "old program");
    SetFileLastWriteTime(Path("brenvo"), FromTimeT(1300000000));
    const time_t newer = 1400000000;
    MakeZip(ftpRoot + "/ftp-pub/updateProg.zip",
            {{"brenvo", "new program", newer, 0100755}, {"doc/liesmich.txt", "only in the update", newer}});
    FtpTestServer server(ftpRoot);
    UseServer(server);

    auto c = Started();
    ASSERT_TRUE(c->actUpdateProgrammExecute()) << Joined();
    EXPECT_EQ(Slurp(Path("brenvo")), "new program");
    EXPECT_EQ(Slurp(Path("brenvo.OLD")), "old program");
    EXPECT_EQ(Slurp(Path("doc/liesmich.txt")), "only in the update");
    EXPECT_FALSE(Exists("doc/liesmich.txt.OLD"));
    EXPECT_EQ(Backups().size(), 1u);
    EXPECT_TRUE(view.Logged("Update...Dateien installieren:OK"));
    EXPECT_TRUE(view.Logged("Bitte Programm beenden und neu starten ... "));
    // The program keeps running with its tables released: only ending it is left.
    EXPECT_EQ(c->KTStore(), nullptr);
    EXPECT_TRUE(c->Busy());
    EXPECT_FALSE(c->ActionEnabled(ActionCategory::Rechnung));
    EXPECT_EQ(view.loadPanels.back(), LoadPanelMode::Full);
    EXPECT_FALSE(c->actDatensicherungErstellenExecute());
    EXPECT_EQ(view.closed, 0);
    const std::string invoices = Slurp(Stamm("Rechnungen.xml"));
    ASSERT_TRUE(c->Shutdown());
    EXPECT_EQ(Slurp(Stamm("Rechnungen.xml")), invoices);
    c.reset();

    // The same archive again: no newer update, nothing installed, the window comes back.
    view = RecordingView();
    auto again = Started();
    EXPECT_FALSE(again->actUpdateProgrammExecute());
    EXPECT_TRUE(view.Logged("Kein neueres Update verfügbar.")) << Joined();
    EXPECT_TRUE(view.Logged("Update...beendet: Kein Update installiert."));
    EXPECT_NE(again->KTStore(), nullptr);
    EXPECT_FALSE(again->Busy());
    EXPECT_EQ(view.loadPanels.back(), LoadPanelMode::Hidden);
}

TEST_F(ControllerUpdateTest, WithoutServerSettingNothingChanges) {
    auto c = Started();
    const std::string base = Slurp(Stamm("KT_BASE.XML"));
    EXPECT_FALSE(c->actUpdateDatenExecute());
    EXPECT_TRUE(view.Logged("Kein Update-Server eingetragen (brenvo.ini: Update_Server=...)"));
    EXPECT_EQ(view.LinesWith("Keine Verbindung").size(), 1u) << Joined();
    EXPECT_NE(c->KTStore(), nullptr);
    EXPECT_FALSE(c->Busy());
    EXPECT_EQ(Slurp(Stamm("KT_BASE.XML")), base);

    // A server setting that is no address is shown, and nothing starts.
    WriteTextFile(Path("brenvo.ini"), "Update_Server=host:keinport\n");
    EXPECT_FALSE(c->actUpdateProgrammExecute());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Ungültiger Update-Server in brenvo.ini: host:keinport");
    EXPECT_TRUE(Backups().empty());
    EXPECT_FALSE(c->Busy());

    // A close request while it tries waits for its end.
    ExpectCloseWaitsFor(*c, view, [&] { EXPECT_FALSE(c->actUpdateDatenExecute()); },
                        "Kein Update-Server eingetragen (brenvo.ini: Update_Server=...)");
}
