// The DAKOTA actions of the main window's controller on copies of the demo
// installation, against the DAKOTA stand-in installed as "dakota30.exe" and a
// protocol in an SQLite ODBC data source: the start-up check, the status
// line, reading DAKOTA's result, shortening its protocol, importing its
// acceptance offices, start failures, the stop at shut-down and a whole
// processing run with DAKOTA's follow-up.

#include "ControllerFixture.h"
#include "dakota/DakotaTestKit.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>

#include "dakota/dm_dakota.h"
#include "lib/base/Format.h"
#include "mainwindow/IniFile.h"

using namespace brenvo;
using namespace ctltest;
using dakota_test::OdbcSetup;

namespace {

struct DakotaView : RecordingView {
    std::vector<std::string> panel3;    // texts of the DAKOTA status panel
    std::vector<std::string> dialogs;   // "auf <title>: <text>" and "zu"
    void StatusPanelText(int panel, const std::string& text) override {
        if (panel == 3) panel3.push_back(text);
    }
    void OpenBusyDialog(const std::string& title, const std::string& text) override {
        dialogs.push_back("auf " + title + ": " + text);
    }
    void CloseBusyDialog() override { dialogs.push_back("zu"); }
};

std::string SqlStamp(TDateTime d) {
    const DateParts p = Decode(d);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
    return buf;
}

// A row of DAKOTA's protocol.
void ProtocolRow(const std::string& index, int pnr, TDateTime datum, bool ok, const std::string& versenden,
                 const std::string& aktion = "V") {
    OdbcSetup::Get().Execute(
        "INSERT INTO tblProtokoll (\"INDEX\", PNR, DATUM, ERGEBNIS, Versenden, AKTION, DATEINAME) VALUES ('" +
        index + "', " + std::to_string(pnr) + ", '" + SqlStamp(datum) + "', " + (ok ? "1" : "0") + ", '" +
        versenden + "', '" + aktion + "', 'daten')");
}

// The INDEX of every protocol row, in the database's order.
std::vector<std::string> ProtocolIndexes() {
    TdmDakota dm;
    std::string reason;
    EXPECT_TRUE(dm.OpenProtocol(OdbcSetup::Dsn, reason)) << reason;
    std::vector<std::string> out;
    for (dm.First(); !dm.Eof(); dm.Next()) out.push_back(dm.Current().INDEX);
    return out;
}

} // namespace

class DakotaControllerTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        EmptyInbox();
        OdbcSetup::Get().ResetTable();
        s.Configure(std::string("PROTOCOL=") + OdbcSetup::Dsn + "\n");
        SetSettings({{"DAKOTA_AKTIV", "T"},
                     {"DAKOTA_INSTDIR", s.inst},
                     {"DAKOTA_DATADIR", s.data},
                     {"DAKOTA_EXPDIR", s.exp},
                     {"DAKOTA_PROTFILE", OdbcSetup::Dsn},
                     {"DAKOTA_ANN_FILE", Path("annahme.ini")}});
    }

    std::unique_ptr<TMainController> Start() {
        auto c = std::make_unique<TMainController>(dv, dir.path());
        EXPECT_TRUE(c->Startup()) << Log();
        return c;
    }
    std::string Log() const { return Join(dv.log, "\n"); }
    bool Logged(const std::string& line) const { return dv.Logged(line); }
    long At(const std::string& line) const { return dv.IndexOf(line); }

    // Pumps the controller's queue until pred holds (at most 20 s).
    bool PumpUntil(TMainController& c, const std::function<bool()>& pred) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            c.Queue()->WaitAndProcess(std::chrono::milliseconds(20));
        }
        return true;
    }

    // An order row as a job leaves it (without files).
    void AddOrder(TMainController& c, int64_t id, const std::string& transfer, TDateTime created,
                  TDateTime sent = TDateTime()) {
        Table& t = c.AuftragStore()->GetTable();
        t.Append();
        t.SetInteger("A_ID", id);
        t.SetString("A_HANDLE", "H" + std::to_string(id));
        t.SetDateTime("A_ERZEUGT", created);
        t.SetDateTime("A_VERSANDT", sent);
        t.SetString("A_EMPF_IK", "109910014");
        t.SetString("A_EMPF_NAME", "Empfänger");
        t.SetString("A_TRANSFER", transfer);
        t.Post();
    }
    TDateTime SentTime(TMainController& c, int64_t id) {
        EXPECT_TRUE(c.AuftragStore()->LocateById(id));
        return c.AuftragStore()->GetTable().AsDateTime("A_VERSANDT");
    }

    dakota_test::StandIn s;
    DakotaView dv;
};

// ------------------------------------------------------------------ the ini reader

TEST(IniFileTest, SectionsInFileOrderWithTheWindowsRules) {
    const std::string text =
        "\xEF\xBB\xBFkey=vor jedem Abschnitt\r\n"
        "; Kommentar\r\n"
        "[ Erste ]\r\n"
        "  IK = 109920017  \r\n"
        "Name=\"  Stelle mit Blanks  \"\r\n"
        "ohne Gleichheitszeichen\r\n"
        "ik=zweiter Wert\r\n"
        "\r\n"
        "[zweite]\n"
        "Email=a@b.example\n"
        "[ERSTE]\n"
        "Email=c@d.example\n"
        "# auch Kommentar\n";
    const std::vector<TIniSection> s = ParseIniText(text);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].Name, "Erste");
    EXPECT_EQ(s[0].Value("ik"), "109920017");
    EXPECT_EQ(s[0].Value("Name"), "  Stelle mit Blanks  ");
    EXPECT_EQ(s[0].Value("EMAIL"), "c@d.example");   // the repeated section joins the first
    EXPECT_EQ(s[0].Values.size(), 3u);
    EXPECT_EQ(s[1].Name, "zweite");
    EXPECT_EQ(s[1].Value("Email"), "a@b.example");
    EXPECT_EQ(s[1].Value("IK"), "");
    EXPECT_FALSE(s[1].HasValue("IK"));

    // windows-1252 text (as DAKOTA writes it) becomes UTF-8.
    const std::vector<TIniSection> w = ParseIniText("[K\xF6ln]\r\nName=Stra\xDF" "e\r\n");
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].Name, "Köln");
    EXPECT_EQ(w[0].Value("Name"), "Straße");
}

// ------------------------------------------------------------------ start-up, status line, enabling

TEST_F(DakotaControllerTest, StartupCheckWithReadyDakotaShowsTheCountsAndEnablesTheActions) {
    s.AddOrder("10991001", "TESTA001");
    std::filesystem::create_directories(s.exp + "/sub");
    dakota_test::WriteText(s.exp + "/sub/X.AUF", "x");
    auto c = Start();
    EXPECT_TRUE(Logged("Init Dakota prüfen..."));
    EXPECT_LT(At("Init Dakota prüfen..."), At("Init Dakota prüfen...fertig: Dakota installiert und bereit"));
    EXPECT_LT(At("Init Dakota prüfen...fertig: Dakota installiert und bereit"), At("Init Eingabe Verzeichnis lesen..."));
    EXPECT_TRUE(Contains(s.Log(), "start -s\nende 0\n"));
    EXPECT_TRUE(c->DakotaReady());
    EXPECT_TRUE(c->DakotaEnabled());
    EXPECT_TRUE(c->ActionEnabled(ActionCategory::Dakota));
    EXPECT_EQ(c->DakotaStatusLine(), "Dakota [Eingang: 1] [Ausgang: 1] ");
    EXPECT_EQ(dv.panel3.back(), "Dakota [Eingang: 1] [Ausgang: 1] ");
    c->SetBusy(true);
    EXPECT_FALSE(c->ActionEnabled(ActionCategory::Dakota));
}

TEST_F(DakotaControllerTest, StartupCheckWithoutInstallationOrWithAnErrorCodeReportsDakotaAsFaulty) {
    std::filesystem::remove(s.program);
    {
        auto c = Start();
        EXPECT_TRUE(Logged("Init Dakota prüfen...fertig: Dakota nicht installiert."));
        EXPECT_FALSE(c->DakotaReady());
        EXPECT_EQ(c->DakotaStatusLine(), "Dakota meldet Fehler.");
        EXPECT_TRUE(c->ActionEnabled(ActionCategory::Dakota));   // activated, though not ready
    }
    std::filesystem::copy_file(BRENVO_DAKOTA_STANDIN, s.program);
    s.Configure("STATUS=9\n");
    dv.log.clear();
    auto c = Start();
    EXPECT_TRUE(Logged("Init Dakota prüfen...fertig: Dakota installiert aber nicht bereit (Dakota: 9 - Kein "
                       "Zertifikat. (Antwort auf Antrag noch nicht eingelesen))"))
        << Log();
    EXPECT_EQ(c->DakotaStatusLine(), "Dakota meldet Fehler.");
    EXPECT_TRUE(Logged("Startup beendet."));
}

TEST_F(DakotaControllerTest, NotActivatedRunsNoCheckAndTheActionsDoNothing) {
    SetSettings({{"DAKOTA_AKTIV", "F"}});
    auto c = Start();
    EXPECT_TRUE(Logged("Init Dakota nicht aktiviert."));
    EXPECT_FALSE(Logged("Init Dakota prüfen..."));
    EXPECT_TRUE(s.Log().empty());
    EXPECT_EQ(c->DakotaStatusLine(), "Dakota nicht aktiviert");
    EXPECT_FALSE(c->ActionEnabled(ActionCategory::Dakota));
    EXPECT_TRUE(c->ActionEnabled(ActionCategory::Rechnung));
    for (auto r : {c->actDakotaStartExecute(), c->actDakotaExportExecute(), c->actDakotaReadResultExecute(),
                   c->actDakotaReadAnnahmeExecute(), c->actDakotaVerarbeitungExecute()}) {
        EXPECT_FALSE(r.Ok);
        EXPECT_EQ(r.Failure, "Dakota nicht aktiviert");
    }
    EXPECT_TRUE(dv.messages.empty());
    EXPECT_TRUE(s.Log().empty());

    // Switched on later: no check has run, so the line reports an error.
    c->SettingsForm().DAKOTA_AKTIV = true;
    c->actEinstellungenSpeichernExecute();
    EXPECT_EQ(c->DakotaStatusLine(), "Dakota meldet Fehler.");
    EXPECT_TRUE(c->ActionEnabled(ActionCategory::Dakota));
    EXPECT_EQ(c->Dakota().Info.InstDir, s.inst);   // the paths follow the settings
}

TEST_F(DakotaControllerTest, AProgramThatCannotRunEndsTheStartUp) {
    std::filesystem::permissions(s.program, std::filesystem::perms::owner_read);
    auto c = std::make_unique<TMainController>(dv, dir.path());
    EXPECT_FALSE(c->Startup());
    EXPECT_TRUE(Logged("Init Dakota prüfen..."));
    EXPECT_EQ(dv.LinesWith("Init ABBRUCH ").size(), 1u) << Log();
    EXPECT_FALSE(Logged("Init Eingabe Verzeichnis lesen..."));
    EXPECT_TRUE(Logged("Startup beendet."));
}

// ------------------------------------------------------------------ "Dakota-Ergebnis lesen"

TEST_F(DakotaControllerTest, ReadingTheResultMarksExactlyTheTransmittedOrdersWithDakotasTime) {
    auto c = Start();
    const TDateTime t0 = EncodeDateTime(2025, 2, 3, 10, 0, 0);
    AddOrder(*c, 1, "TESTA001", IncDays(t0, -1));                       // sent one day later
    AddOrder(*c, 2, "TESTB002", IncDays(t0, -3));                       // the row lies three days later
    AddOrder(*c, 3, "TESTC003", t0);                                    // DAKOTA reports a failure
    AddOrder(*c, 4, "TESTD004", t0);                                    // unreadable time of sending
    AddOrder(*c, 5, "TESTE005", IncDays(t0, -30), IncDays(t0, -29));    // sent long ago
    AddOrder(*c, 6, "TESTF006", t0);                                    // not in the protocol
    AddOrder(*c, 7, "TESTG007", t0);                                    // two neighbours, both sent
    AddOrder(*c, 8, "TESTH008", IncDays(t0, 1.5));
    AddOrder(*c, 9, "TESTI009", t0);                                    // failed, then repeated
    c->RebuildOutbox();
    ASSERT_EQ(c->Outbox().Count(), 8u);

    ProtocolRow("TESTA001", 1, t0, true, "03.02.2025 10:11:12");
    ProtocolRow("TESTB002", 2, t0, true, "03.02.2025 10:11:13");
    ProtocolRow("TESTC003", 3, t0, false, "");
    ProtocolRow("TESTD004", 4, t0, true, "gestern");
    ProtocolRow("TESTE005", 5, t0, true, "03.02.2025 10:11:15");
    ProtocolRow("TESTG007", 6, t0, true, "2025-02-03 11:00:00");
    ProtocolRow("TESTH008xx", 7, t0, true, "04.02.2025 09:30:00");
    ProtocolRow("TESTI009", 8, t0, false, "");
    ProtocolRow("TESTI009", 9, t0, true, "03.02.2025 12:00:00");

    const TDakotaActionResult r = c->actDakotaReadResultExecute();
    EXPECT_TRUE(r.Ok) << r.Failure;
    EXPECT_EQ(r.Count, 4);
    EXPECT_TRUE(dv.messages.empty());
    EXPECT_EQ(SentTime(*c, 1), EncodeDateTime(2025, 2, 3, 10, 11, 12));
    EXPECT_EQ(SentTime(*c, 7), EncodeDateTime(2025, 2, 3, 11, 0, 0));
    EXPECT_EQ(SentTime(*c, 8), EncodeDateTime(2025, 2, 4, 9, 30, 0));
    EXPECT_EQ(SentTime(*c, 9), EncodeDateTime(2025, 2, 3, 12, 0, 0));
    for (int64_t id : {2, 3, 4, 6}) EXPECT_TRUE(SentTime(*c, id).IsNull()) << id;
    EXPECT_EQ(SentTime(*c, 5), IncDays(t0, -29));

    // The outbox shows them sent, and the archive file holds the marks.
    for (int64_t id : {1, 7, 8}) EXPECT_EQ(c->Outbox().Item(size_t(c->Outbox().FindId(id))).Icon, ItemIcon::Sent);
    EXPECT_EQ(c->Outbox().Item(size_t(c->Outbox().FindId(2))).Icon, ItemIcon::NotSent);
    Table saved;
    saved.LoadFromFile(Stamm("Auftraege.xml"));
    ASSERT_TRUE(saved.Locate("A_ID", {Value(int64_t(7))}));
    EXPECT_FALSE(saved.IsNull("A_VERSANDT"));

    EXPECT_TRUE(Logged("Prozess: Lesen Dakota-Protokoll starten... "));
    EXPECT_LT(At("Prozess: Lesen Dakota-Protokoll beendet"), At("Prozess: Lesen Daktota-Protokoll beendet. 4 Aufträge"));
    EXPECT_NE(std::find(dv.progressTexts.begin(), dv.progressTexts.end(), "prüfe 1TESTA001"), dv.progressTexts.end());
    EXPECT_FALSE(c->Busy());

    // Read again: nothing new.
    EXPECT_EQ(c->actDakotaReadResultExecute().Count, 0);
}

TEST_F(DakotaControllerTest, AProtocolThatCannotBeOpenedIsReportedAndChangesNothing) {
    auto c = Start();
    AddOrder(*c, 1, "TESTA001", Now());
    c->Values().DAKOTA_PROTFILE = s.inst + "/fehlt.MDB";
    TDakotaActionResult r = c->actDakotaReadResultExecute();
    EXPECT_FALSE(r.Ok);
    ASSERT_EQ(dv.messages.size(), 1u);
    EXPECT_EQ(dv.messages[0].text, "Kein Zugriff auf Dakota-Protokoll. Datei " + s.inst + "/fehlt.MDB nicht gefunden.");
    EXPECT_EQ(dv.messages[0].kind, MessageKind::Error);

    c->Values().DAKOTA_PROTFILE = "";
    r = c->actDakotaReadResultExecute();
    EXPECT_EQ(r.Failure, "Kein Zugriff auf Dakota-Protokoll. Keine Zugriffs-Information verfügbar. ");
    c->Values().DAKOTA_PROTFILE = "GibtEsNicht";
    r = c->actDakotaReadResultExecute();
    EXPECT_TRUE(StartsWith(r.Failure, "Kein Zugriff auf Dakota-Protokoll. ")) << r.Failure;
    EXPECT_GT(r.Failure.size(), std::string("Kein Zugriff auf Dakota-Protokoll. ").size());
    EXPECT_TRUE(SentTime(*c, 1).IsNull());
    EXPECT_FALSE(c->Busy());
    EXPECT_FALSE(Logged("Prozess: Lesen Dakota-Protokoll starten... "));
}

// ------------------------------------------------------------------ "Protokoll kürzen"

TEST_F(DakotaControllerTest, ShorteningStopsAtTheFirstRowThatIsNotAnOldSending) {
    auto c = Start();
    const TDateTime now = Now();
    ProtocolRow("ALT00001", 1, IncDays(now, -300), true, "");
    ProtocolRow("ALT00002", 2, IncDays(now, -201), true, "");
    ProtocolRow("EMPF0003", 3, IncDays(now, -300), true, "", "E");   // another kind: the walk ends
    ProtocolRow("ALT00004", 4, IncDays(now, -300), true, "");        // old, but after the stop
    ProtocolRow("NEU00005", 5, IncDays(now, -10), true, "");

    dv.answers = {Answer::No};
    TDakotaActionResult r = c->actDakotaProtKuerzenExecute();
    EXPECT_TRUE(r.Cancelled);
    EXPECT_EQ(ProtocolIndexes().size(), 5u);

    dv.answers = {Answer::Yes};
    dv.panel3.clear();
    r = c->actDakotaProtKuerzenExecute();
    EXPECT_TRUE(r.Ok) << r.Failure;
    EXPECT_EQ(r.Count, 2);
    EXPECT_EQ(ProtocolIndexes(), (std::vector<std::string>{"EMPF0003", "ALT00004", "NEU00005"}));
    EXPECT_EQ(dv.panel3, (std::vector<std::string>{"1", "2", ""}));
    EXPECT_FALSE(c->Busy());
    EXPECT_TRUE(dv.messages.empty());

    // A first row that is recent stops at once.
    OdbcSetup::Get().ResetTable();
    ProtocolRow("NEU00001", 1, IncDays(now, -199), true, "");
    ProtocolRow("ALT00002", 2, IncDays(now, -300), true, "");
    dv.answers = {Answer::Yes};
    r = c->actDakotaProtKuerzenExecute();
    EXPECT_EQ(r.Count, 0);
    EXPECT_EQ(ProtocolIndexes().size(), 2u);
}

TEST_F(DakotaControllerTest, ShorteningAMissingProtocolFileReportsIt) {
    auto c = Start();
    c->Values().DAKOTA_PROTFILE = s.inst + "/protokoll.mdb";
    dv.answers = {Answer::Yes};
    TDakotaActionResult r = c->actDakotaProtKuerzenExecute();
    EXPECT_FALSE(r.Ok);
    ASSERT_EQ(dv.messages.size(), 1u);
    EXPECT_EQ(dv.messages[0].text, "Protokolldatei [" + s.inst + "/protokoll.mdb] nicht gefunden.");
    EXPECT_FALSE(c->Busy());
    EXPECT_EQ(dv.panel3.back(), "");
}

// ------------------------------------------------------------------ "Annahmestellen lesen"

TEST_F(DakotaControllerTest, AcceptanceOfficesMarkListedDifferentMissingAndUnlistedRows) {
    dakota_test::WriteText(Path("annahme.ini"),
                           "[Hafen]\r\nIK=109920017\r\nEmail= ANNAHME@rz-duesseldorf-hafen.example\r\nName=RZ Hafen\r\n"
                           "[Westfalen]\r\nIK=109910025\r\nEmail=neu@das-westfalen.example\r\nName=DAS Westfalen\r\n"
                           "[Westfalen alt]\r\nIK=109910025\r\nEmail=annahme@das-westfalen.example\r\nName=DAS W\r\n"
                           "[Allgemein]\r\nVersion=3\r\n"
                           "[Neu]\r\nIK=109930011\r\nEmail=dta@neu.example\r\nName=Neue Stelle\r\n");
    auto c = Start();
    TDakotaActionResult r = c->actDakotaReadAnnahmeExecute();
    EXPECT_TRUE(r.Ok) << r.Failure;
    EXPECT_EQ(r.Count, 4);

    const std::vector<std::string> expected = {
        "Import Dakota-Annahmestellen: alle zurücksetzen...",
        "Import Dakota-Annahmestellen: alle zurücksetzen fertig.",
        "Import Dakota-Annahmestellen: Lese Daten aus der Dakota-Datei...",
        "gefunden    109920017 RZ Hafen:ANNAHME@rz-duesseldorf-hafen.example RZ Düsseldorf-Hafen",
        "Abweichung   109910025 DAS Westfalen Dakota:neu@das-westfalen.example brenvo:annahme@das-westfalen.example "
        "Datenannahme Westfalen",
        "gefunden    109910025 DAS W:annahme@das-westfalen.example Datenannahme Westfalen",
        "Import Dakota-Annahmestellen: Abschnitt [Allgemein] ohne gültige IK übersprungen (IK=)",
        "fehlt, wird angelegt  109930011 Neue Stelle:dta@neu.example",
        "Import Dakota-Annahmestellen: Import beendet."};
    const long first = At(expected.front());
    ASSERT_GE(first, 0) << Log();
    EXPECT_EQ(std::vector<std::string>(dv.log.begin() + first, dv.log.end()), expected);

    // The file: only e-mail rows; the marks; the new row; the address kept.
    Table t;
    t.LoadFromFile(Stamm("KT_TRANSFER.XML"));
    std::map<std::string, std::vector<std::string>> marks;
    for (t.First(); !t.Eof(); t.Next()) {
        EXPECT_EQ(t.AsString("DFU_PROTOKOLL"), "070");
        marks[t.AsString("K_IK")].push_back(t.AsString("DAKOTA"));
    }
    EXPECT_EQ(t.RecordCount(), 9);
    EXPECT_EQ(marks["109920017"], std::vector<std::string>{"2"});
    EXPECT_EQ(marks["109910025"], std::vector<std::string>{"1"});   // a later equal section keeps the "1"
    EXPECT_EQ(marks["109920028"], (std::vector<std::string>{" ", " "}));
    EXPECT_EQ(marks["109920040"], std::vector<std::string>{" "});   // was "1", not listed
    EXPECT_EQ(marks["109930011"], std::vector<std::string>{"3"});
    ASSERT_TRUE(t.Locate("K_IK", {Value(std::string("109930011"))}));
    EXPECT_EQ(t.AsString("DFU_KANAL"), "dta@neu.example");
    EXPECT_EQ(t.AsString("UEM_MEDIUM"), "1");
    EXPECT_EQ(t.AsString("UEM_ZEICHENSATZ"), "I7");
    EXPECT_EQ(t.AsString("UEM_PARAM"), "00");
    ASSERT_TRUE(t.Locate("K_IK", {Value(std::string("109910025"))}));
    EXPECT_EQ(t.AsString("DFU_KANAL"), "annahme@das-westfalen.example");

    // The e-mail lookup sees the new row at once.
    EXPECT_EQ(c->KTStore()->GetEmailAddr("109930011", true, true, Today()), "dta@neu.example");
}

TEST_F(DakotaControllerTest, AcceptanceOfficesWithoutTheFileFailAndLeaveTheFileAlone) {
    const std::string before = ReadFileBytes(Stamm("KT_TRANSFER.XML"));
    auto c = Start();
    TDakotaActionResult r = c->actDakotaReadAnnahmeExecute();
    EXPECT_FALSE(r.Ok);
    ASSERT_EQ(dv.messages.size(), 1u);
    EXPECT_EQ(dv.messages[0].text, "Datei " + Path("annahme.ini") + " existiert nicht.");
    EXPECT_EQ(ReadFileBytes(Stamm("KT_TRANSFER.XML")), before);
    EXPECT_EQ(c->KTStore()->KTTransfer().RecordCount(), 8);   // the other protocols are gone in memory
}

// ------------------------------------------------------------------ starting, failing, stopping

TEST_F(DakotaControllerTest, AStartFailureEndsTheBusyStateAndTheWaitBeginsNot) {
    auto c = Start();
    c->Values().DAKOTA_INSTDIR = s.inst + "/leer";
    c->SettingsForm().DAKOTA_INSTDIR = s.inst + "/leer";
    c->SaveSettings();
    TDakotaActionResult r = c->actDakotaVerarbeitungExecute();
    EXPECT_TRUE(r.Ok);
    ASSERT_TRUE(PumpUntil(*c, [&] { return !c->DakotaPending(); }));
    EXPECT_TRUE(c->LastDakotaStartFailed());
    EXPECT_FALSE(c->Busy());
    EXPECT_TRUE(Logged("Prozess: Dakota: Fehler beim Starten Startfehler (2)")) << Log();
    EXPECT_FALSE(c->WaitForDakota("Verarbeitung", "Dakota läuft..."));
    EXPECT_TRUE(dv.dialogs.empty());
    EXPECT_EQ(c->Dakota().DakotaProcess(), nullptr);
}

TEST_F(DakotaControllerTest, ShutDownStopsARunningDakota) {
    s.Configure(std::string("PROTOCOL=") + OdbcSetup::Dsn + "\nRUN_MS=-1\nTERM_EXIT=6\n");
    auto c = Start();
    TDakotaActionResult r = c->actDakotaStartExecute();
    EXPECT_TRUE(r.Ok);
    EXPECT_TRUE(c->Busy());
    ASSERT_TRUE(PumpUntil(*c, [&] { return c->DakotaRunning(); }));
    ASSERT_TRUE(s.WaitForLog(*c->Queue(), "start \n"));
    EXPECT_TRUE(Logged("Dakota: wird gestartet (Programm)"));
    EXPECT_TRUE(Logged("Dakota: gestartet."));
    EXPECT_EQ(c->DakotaStatusLine(), "Dakota [Eingang: 0] [Ausgang: 0] [AKTIV]");
    EXPECT_TRUE(c->ActionEnabled(ActionCategory::Rechnung) == false);

    EXPECT_TRUE(c->Shutdown());
    EXPECT_TRUE(Contains(s.Log(), "ende 6\n"));
    EXPECT_LT(At("Init Dakota ..."), At("Prozess: Dakota: beendet. Ergebnis: Aktion abgebrochen (6)")) << Log();
    EXPECT_LT(At("Prozess: Dakota: beendet. Ergebnis: Aktion abgebrochen (6)"), At("Init Protkoll schreiben ..."));
    EXPECT_EQ(c->Dakota().DakotaProcess(), nullptr);
    EXPECT_FALSE(c->DakotaRunning());
    EXPECT_EQ(dv.closed, 1);
}

TEST_F(DakotaControllerTest, CloseRequestsWaitForTheDakotaActions) {
    s.Configure(std::string("PROTOCOL=") + OdbcSetup::Dsn + "\nRUN_MS=300\n");
    struct Action {
        std::function<void(TMainController&)> run;
        std::string lastLine;
    };
    const std::vector<Action> actions = {
        {[](TMainController& c) { EXPECT_TRUE(c.actDakotaExportExecute().Ok); },
         "Prozess: Export zu Dakota beendet. 0 Aufträge exportiert."},
        {[](TMainController& c) { EXPECT_TRUE(c.actDakotaReadResultExecute().Ok); },
         "Prozess: Lesen Daktota-Protokoll beendet. 0 Aufträge"},
        {[&](TMainController& c) {
             dv.answers = {Answer::Yes};
             ProtocolRow("ALT00001", 1, IncDays(Now(), -300), true, "");
             EXPECT_EQ(c.actDakotaProtKuerzenExecute().Count, 1);
         },
         ""},
        // The wait for DAKOTA's protocol view, started before the request comes.
        {[](TMainController& c) { EXPECT_TRUE(c.WaitForDakota("Protokoll", "Dakota-Protokoll wird angezeigt...")); },
         "Prozess: Dakota: beendet. Ergebnis: Daten verarbeitet."},
        {[](TMainController& c) { EXPECT_TRUE(c.DakotaProcessing(true, false).Ok()); },
         "Prozess: Lesen Daktota-Protokoll beendet. 0 Aufträge"}};
    for (size_t i = 0; i < actions.size(); ++i) {
        SCOPED_TRACE(i);
        dv = DakotaView();
        auto c = Start();
        if (i == 3) {
            ASSERT_TRUE(c->actDakotaProtokollExecute().Ok);
        }
        ExpectCloseWaitsFor(*c, dv, [&] { actions[i].run(*c); }, actions[i].lastLine);
    }
}

// ------------------------------------------------------------------ the run's follow-up

TEST_F(DakotaControllerTest, AFullRunHandsTheOrdersToDakotaAndMarksThemSent) {
    SetSettings({{"SYST_ZUSF", "T"},
                 {"DAKOTA_PROC_AUTO", "T"},
                 {"DAKOTA_PROT_READAUTO", "T"},
                 {"DAKOTA_PROT_AUTO", "T"}});
    s.Configure(std::string("PROTOCOL=") + OdbcSetup::Dsn + "\nPROCESS_MS=30\n");
    WriteInvoice("D-1", kRheinOKK, EncodeDate(2024, 11, 20));
    WriteInvoice("D-2", kIKKThuer, EncodeDate(2024, 11, 21));
    auto c = Start();
    c->actProzessStartExecute();
    EXPECT_TRUE(c->LastRun().Completed) << c->LastRun().Failure;
    EXPECT_EQ(c->LastRun().Billed, 2);

    // Both orders went through DAKOTA and are marked sent with its times.
    Table orders;
    orders.LoadFromFile(Stamm("Auftraege.xml"));
    ASSERT_EQ(orders.RecordCount(), 2);
    for (orders.First(); !orders.Eof(); orders.Next()) {
        EXPECT_FALSE(orders.IsNull("A_VERSANDT")) << orders.AsString("A_TRANSFER");
        EXPECT_LT(std::abs(orders.AsDateTime("A_VERSANDT").Value() - Now().Value()), 1.0 / 24);
    }
    EXPECT_EQ(c->Outbox().Count(), 0u);
    EXPECT_TRUE(ListFilesRecursive(s.data, "*.AUF").empty());
    EXPECT_EQ(ListFilesRecursive(s.exp, "*.AUF").size(), 2u);
    EXPECT_EQ(ProtocolIndexes().size(), 2u);
    EXPECT_EQ(s.Log(), "start -s\nende 0\nstart -x\nende 0\nstart -k\nende 0\n");

    const std::vector<std::string> steps = {
        "Prozess: Export zu Dakota starten... ",
        "Prozess: Export zu Dakota beendet. 2 Aufträge exportiert.",
        "Dakota: wird gestartet (Verarbeitung)",
        "Prozess: Dakota gestartet: 2 Dateien",
        "Prozess: Dakota: beendet. Ergebnis: Daten verarbeitet.",
        "Prozess: Lesen Daktota-Protokoll beendet. 2 Aufträge",
        "Dakota: wird gestartet (Protokoll) ..."};
    long last = -1;
    for (const auto& step : steps) {
        const long at = At(step);
        EXPECT_GT(at, last) << step << "\n" << Log();
        last = at;
    }
    // The outbox is rebuilt after the follow-up.
    const auto fertig = std::find(dv.log.rbegin(), dv.log.rend(), "Prozess: Fertig,");
    ASSERT_NE(fertig, dv.log.rend());
    EXPECT_LT(last, long(dv.log.rend() - fertig) - 1);
    EXPECT_EQ(dv.LinesWith("Dakota: gestartet.").size(), 2u);
    EXPECT_EQ(dv.dialogs, (std::vector<std::string>{"auf Verarbeitung: Dakota läuft...", "zu",
                                                     "auf Protokoll: Dakota-Protokoll wird angezeigt...", "zu"}));
    EXPECT_NE(std::find(dv.progressTexts.begin(), dv.progressTexts.end(), "Dateien werden verarbeitet..."),
              dv.progressTexts.end());
    EXPECT_EQ(c->DakotaStatusLine(), "Dakota [Eingang: 0] [Ausgang: 2] ");
    EXPECT_FALSE(c->Busy());
    EXPECT_TRUE(c->StartEnabled());
}

TEST_F(DakotaControllerTest, ARunWhoseDakotaCannotStartDoesNotWaitAndLeavesTheOrdersUnsent) {
    SetSettings({{"SYST_ZUSF", "T"}, {"DAKOTA_PROC_AUTO", "T"}, {"DAKOTA_PROT_READAUTO", "T"}});
    std::filesystem::remove(s.program);
    WriteInvoice("D-1", kRheinOKK, EncodeDate(2024, 11, 20));
    auto c = Start();
    c->actProzessStartExecute();
    EXPECT_TRUE(c->LastRun().Completed);
    EXPECT_TRUE(Logged("Prozess: Dakota: Fehler beim Starten Startfehler (2)")) << Log();
    // The failure may arrive just before or just after the wait begins.
    EXPECT_TRUE(dv.dialogs.empty() || dv.dialogs == (std::vector<std::string>{"auf Verarbeitung: Dakota läuft...", "zu"}));
    EXPECT_TRUE(Logged("Prozess: Lesen Daktota-Protokoll beendet. 0 Aufträge"));
    EXPECT_EQ(c->Outbox().Count(), 1u);
    EXPECT_EQ(ListFilesRecursive(s.data, "*.AUF").size(), 1u);   // exported, waiting for DAKOTA
    EXPECT_FALSE(c->Busy());
}
