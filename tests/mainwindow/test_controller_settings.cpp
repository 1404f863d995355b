// Settings, "brenvo.ini", the activity log, start-up and shut-down of the
// main window's controller, on copies of the demo installation.

#include "ControllerFixture.h"

#include <fstream>

#include "common/TestPki.h"
#include "lib/base/Error.h"

using namespace brenvo;
using ctltest::ControllerTest;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) { return ReadFileBytes(path); }

} // namespace

// ------------------------------------------------------------------ settings

TEST_F(ControllerTest, SettingsWithoutAnyRowGiveTheDefaults) {
    Table empty({FieldDef::Str("KEY", 20), FieldDef::Str("VALUE", 200)});
    empty.SaveToFile(Stamm("brenvo.XML"));
    auto c = Started();
    const TSystem& s = c->System();
    const TEinrichtung& e = c->Einrichtung();
    EXPECT_EQ(e.EINR_IK, "");
    EXPECT_EQ(e.EINR_NAME1, "");
    EXPECT_EQ(e.EINR_LAND, "");
    EXPECT_EQ(e.MAXTRANSFER, 0);
    EXPECT_EQ(s.SYST_VERF, 0);
    EXPECT_EQ(s.SYST_ART, 0);
    EXPECT_FALSE(s.SYST_ZUSF || s.OPT_XMLCONVERSION || s.OPT_XMLTOCOMMA || s.EMAIL_MAPI || s.EMAIL_SMTP ||
                 s.DAKOTA_AKTIV || s.DAKOTA_EMAIL || s.DAKOTA_PROC_AUTO || s.DAKOTA_ANN_CHECK || c->Values().SIK_AUTO);
    EXPECT_EQ(s.VERSION, "21");   // a new installation bills in the current version
    EXPECT_EQ(s.VERSION_DATUM, EncodeDate(2014, 9, 29));
    EXPECT_EQ(c->ImportDir(), Path("import"));
    EXPECT_EQ(c->BackupDir(), Path("Datensicherung"));
    EXPECT_EQ(c->SettingsForm().SYST_VERF, 0);
    EXPECT_EQ(c->SettingsForm().VERSION, "21");
    EXPECT_EQ(c->SettingsForm().FederalStateIndex, -1);
    EXPECT_TRUE(c->SettingsForm().ProviderGroupVisible());
}

TEST_F(ControllerTest, DemoSettingsFillRecordsFormAndStateList) {
    auto c = Started();
    EXPECT_EQ(c->Einrichtung().EINR_IK, "510512345");
    EXPECT_EQ(c->Einrichtung().EIN_PLZORT, "40474 Düsseldorf");
    EXPECT_EQ(c->System().VERSION, "21");
    EXPECT_TRUE(view.LinesWith("Init WARNUNG").empty());
    EXPECT_TRUE(c->System().SYST_ZUSF);
    const TSettingsForm& f = c->SettingsForm();
    ASSERT_EQ(f.FederalStates.size(), 16u);
    EXPECT_EQ(f.FederalStates[4].Text, "05 Nordrhein-Westfalen");
    EXPECT_EQ(f.FederalStates[4].Value, 5);
    EXPECT_EQ(f.FederalStateIndex, 4);
    c->ChooseFederalState(8);
    EXPECT_EQ(c->SettingsForm().EINR_LAND, "09");
    // The key table is unfiltered again.
    EXPECT_GT(c->KTStore()->KTKey().RecordCount(), 16);
}

TEST_F(ControllerTest, SettingsEdgeCases) {
    ForceDirectories(Path("anderer_import"));
    SetSettings({{"EINR_IK", "1234567890"},
                 {"SYST_VERF", "7"},
                 {"SYST_ART", "1"},
                 {"SYST_ZUSF", "t"},
                 {"OPT_XMLCONVERSION", "True"},
                 {"EMAIL_SMTP", "T"},
                 {"MAXTRANSFER", "12a"},
                 {"SIK_DIR", "   "},
                 {"SYST_DIRIMP", "anderer_import"},
                 {"VERSION", "09x"}});
    auto c = Started();
    EXPECT_EQ(c->Einrichtung().EINR_IK, "123456789");
    EXPECT_EQ(c->SettingsForm().EINR_IK, "123456789");
    EXPECT_EQ(c->System().SYST_VERF, 0);   // 7 is no procedure: unchanged
    EXPECT_EQ(c->System().SYST_ART, 1);
    EXPECT_FALSE(c->SettingsForm().ProviderGroupVisible());
    EXPECT_FALSE(c->System().SYST_ZUSF);
    EXPECT_FALSE(c->System().OPT_XMLCONVERSION);
    EXPECT_TRUE(c->System().EMAIL_SMTP);
    EXPECT_EQ(c->Einrichtung().MAXTRANSFER, 0);
    EXPECT_EQ(c->BackupDir(), Path("Datensicherung"));
    EXPECT_EQ(c->ImportDir(), Path("anderer_import"));   // relative: below the data directory
    EXPECT_EQ(c->SettingsForm().VERSION, "");             // not a list entry
    EXPECT_EQ(c->System().VERSION, "09");

    // A valid procedure is taken; a later invalid one leaves it.
    SetSettings({{"SYST_VERF", "2"}});
    c->LoadSettings();
    EXPECT_EQ(c->System().SYST_VERF, 2);
    SetSettings({{"SYST_VERF", "x"}, {"SIK_DIR", Path("sicherung/neu/tief")}});
    c->LoadSettings();
    EXPECT_EQ(c->System().SYST_VERF, 2);
    EXPECT_TRUE(DirectoryExists(Path("sicherung/neu/tief")));
    EXPECT_EQ(c->BackupDir(), Path("sicherung/neu/tief"));
}

TEST_F(ControllerTest, AnOldVersionIsKeptButWarnedOfOnceAtStartUp) {
    SetSettings({{"VERSION", "08"}});
    auto c = Started();
    EXPECT_EQ(c->System().VERSION, "08");
    EXPECT_EQ(c->SettingsForm().VERSION, "08");
    EXPECT_EQ(TSettingsForm::VersionList().back(), "21");
    c->SaveSettings();   // reloads the settings: no second warning
    EXPECT_EQ(view.LinesWith("Init WARNUNG"),
              std::vector<std::string>{"Init WARNUNG: Version 08 der Abrechnungsdaten nehmen die Datenannahmestellen "
                                       "nicht mehr an; gültig ist Version 21 (Einstellungen, \"Version\")."});
}

TEST_F(ControllerTest, UnreadableVersionDateStopsTheStartUp) {
    SetSettings({{"VERSION_DATUM", "31.02.2014"}});
    TMainController c(view, dir.path());
    EXPECT_FALSE(c.Startup());
    EXPECT_TRUE(view.Logged("Init ABBRUCH Einstellung VERSION_DATUM ist kein Datum: 31.02.2014"));
}

TEST_F(ControllerTest, SaveSettingsWritesEveryKeyInItsOrderAndReloads) {
    Table empty({FieldDef::Str("KEY", 20), FieldDef::Str("VALUE", 200)});
    empty.SaveToFile(Stamm("brenvo.XML"));
    auto c = Started();
    TSettingsForm& f = c->SettingsForm();
    f.EINR_IK = "1234567890";
    f.SYST_VERF = 1;
    f.SYST_ZUSF = true;
    f.VERSION = "08";
    f.VERSION_DATUM = EncodeDate(2015, 1, 2);
    f.BRIEFKOPF = std::string(250, 'x');
    c->Einrichtung().MAXTRANSFER = 41;
    f.MAXTRANSFER = "999";   // the read-only field is not what is saved
    c->SaveSettings();

    Table t;
    t.LoadFromFile(Stamm("brenvo.XML"));
    std::vector<std::string> keys;
    for (t.First(); !t.Eof(); t.Next()) keys.push_back(t.AsString("KEY"));
    const std::vector<std::string> expected = {
        "EINR_IK", "EINR_NAME1", "EINR_LAND", "EINR_BEZIRK", "EINR_STRASSE", "EIN_PLZORT", "BRIEFKOPF",
        "BRIEFFUSS", "STEUERNR", "BANKVERBINDUNG", "MAXTRANSFER", "SYST_VERF", "SYST_DIRIMP", "SYST_ART",
        "SYST_ZUSF", "OPT_NOEMAILDIALOG", "OPT_XMLCONVERSION", "OPT_XMLTOCOMMA", "EMAIL_MAPI", "EMAIL_SMTP",
        "EMAIL_SERVER", "EMAIL_PORT", "EMAIL_USER", "EMAIL_PWD", "EMAIL_SENDER", "EMAIL_BCC", "EMAIL_TLS",
        "EMAIL_CAFILE", "DAKOTA_AKTIV",
        "DAKOTA_EMAIL", "DAKOTA_DATADIR", "DAKOTA_INSTDIR", "DAKOTA_EXPDIR", "DAKOTA_PROTFILE", "DAKOTA_ANN_FILE",
        "DAKOTA_PROC_AUTO", "DAKOTA_PROT_AUTO", "DAKOTA_ANN_CHECK", "DAKOTA_PROT_READAUTO", "KRYPT_AKTIV",
        "KRYPT_PKCS12", "KRYPT_PASSWORT", "KRYPT_SCHLUESSELLISTE", "SIK_AUTO", "SIK_DIR",
        "VERSION", "VERSION_DATUM"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(Setting("EINR_IK"), "1234567890");   // stored whole, cut when loaded
    EXPECT_EQ(Setting("BRIEFKOPF"), std::string(200, 'x'));
    EXPECT_EQ(Setting("MAXTRANSFER"), "41");
    EXPECT_EQ(Setting("SYST_VERF"), "1");
    EXPECT_EQ(Setting("SYST_ZUSF"), "T");
    EXPECT_EQ(Setting("OPT_XMLCONVERSION"), "F");
    EXPECT_EQ(Setting("VERSION_DATUM"), "02.01.2015");
    EXPECT_EQ(Setting("EMAIL_TLS"), "STARTTLS");
    // Loaded again afterwards.
    EXPECT_EQ(c->Einrichtung().EINR_IK, "123456789");
    EXPECT_EQ(c->SettingsForm().MAXTRANSFER, "41");
    EXPECT_EQ(c->System().VERSION, "08");
    EXPECT_EQ(c->System().SYST_VERF, 1);
    EXPECT_TRUE(c->System().SYST_ZUSF);

    c->Einrichtung().MAXTRANSFER = 42;
    c->SaveTransferNumber();
    EXPECT_EQ(Setting("MAXTRANSFER"), "42");
    EXPECT_EQ(c->SettingsForm().MAXTRANSFER, "42");
}

TEST_F(ControllerTest, ChangedImportDirectoryIsUsedAtOnceByRunAndArchive) {
    auto c = Started();
    ForceDirectories(Path("neu"));
    c->SettingsForm().SYST_DIRIMP = Path("neu");
    c->actEinstellungenSpeichernExecute();
    EXPECT_EQ(c->ImportDir(), Path("neu"));
    EXPECT_EQ(c->RechStore()->ImportDir(), Path("neu"));
    EXPECT_EQ(c->ImportWatcher().Root(), Path("neu"));
    EXPECT_EQ(c->Inbox().Count(), 0u);
    EXPECT_EQ(c->RechStore()->GetTable().RecordCount(), 1);   // the archive was reloaded, not emptied
}

TEST_F(ControllerTest, MailConnectionSecurityIsLoadedSafelyAndSavedOnlyWhenUsable) {
    auto c = Started();   // the demo settings have no EMAIL_TLS, as every older installation
    EXPECT_EQ(c->System().EMAIL_TLS, TMailTls::StartTls);
    EXPECT_EQ(c->SettingsForm().EMAIL_TLS, "STARTTLS");
    EXPECT_EQ(c->System().EMAIL_CAFILE, "");
    EXPECT_EQ(TSettingsForm::EmailTlsList(), (std::vector<std::string>{"STARTTLS", "SMTPS", "keine"}));

    SetSettings({{"EMAIL_TLS", "smtps"}, {"EMAIL_CAFILE", "Stammdaten/firma.pem"}});
    c->LoadSettings();
    EXPECT_EQ(c->System().EMAIL_TLS, TMailTls::Smtps);
    EXPECT_EQ(c->SettingsForm().EMAIL_TLS, "SMTPS");
    EXPECT_EQ(c->SettingsForm().EMAIL_CAFILE, "Stammdaten/firma.pem");
    EXPECT_EQ(c->System().EMAIL_CAFILE, Stamm("firma.pem"));   // relative: below the data directory
    SetSettings({{"EMAIL_TLS", "TLS"}});   // unknown: the safe default, never plain
    c->LoadSettings();
    EXPECT_EQ(c->System().EMAIL_TLS, TMailTls::StartTls);

    // A form the mailer could not use is refused; nothing is written, not
    // even later with the transfer number.
    auto refused = [&](const std::string& tls, const std::string& caFile, const std::string& message) {
        c->SettingsForm().EMAIL_TLS = tls;
        c->SettingsForm().EMAIL_CAFILE = caFile;
        c->SettingsForm().EMAIL_SERVER = "mail.example.org";
        try {
            c->SaveSettings();
            ADD_FAILURE() << "saved " << tls << " " << caFile;
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), message);
        }
        c->SaveTransferNumber();
        EXPECT_EQ(Setting("EMAIL_SERVER"), "");
    };
    refused("tls", "", "Verschlüsselung der Verbindung zum Mailserver: \"tls\" gibt es nicht, möglich sind "
                       "STARTTLS, SMTPS und keine.");
    refused("SMTPS", "Stammdaten/firma.pem",
            "Die Datei der vertrauenswürdigen Zertifikate (EMAIL_CAFILE) gibt es nicht: " + Stamm("firma.pem"));
    WriteText(Stamm("firma.pem"), "-----BEGIN CERTIFICATE-----\nkaputt\n-----END CERTIFICATE-----\n");
    refused("SMTPS", "Stammdaten/firma.pem",
            "Die Datei der vertrauenswürdigen Zertifikate (EMAIL_CAFILE) enthält kein Zertifikat: " +
                Stamm("firma.pem"));

    const testpki::CertKey ca = testpki::MakeRootCa(dir.path(), "firma-ca", "/CN=Firma");
    std::filesystem::copy_file(ca.cert, Stamm("firma.pem"), std::filesystem::copy_options::overwrite_existing);
    c->SettingsForm().EMAIL_TLS = "keine";
    c->SaveSettings();
    EXPECT_EQ(Setting("EMAIL_TLS"), "keine");
    EXPECT_EQ(Setting("EMAIL_CAFILE"), "Stammdaten/firma.pem");
    EXPECT_EQ(Setting("EMAIL_SERVER"), "mail.example.org");
    EXPECT_EQ(c->System().EMAIL_TLS, TMailTls::None);
}

// ------------------------------------------------------------------ brenvo.ini

TEST_F(ControllerTest, IniValuesFollowTheFirstNonEmptyLine) {
    TMainController c(view, dir.path());
    EXPECT_EQ(c.IniFilePath(), Path("brenvo.ini"));
    EXPECT_EQ(c.ReadIniValue("Letzte_KT_IK"), "");   // no file
    WriteText(Path("brenvo.ini"), "Letzte_KT_IK=\r\nAuswahl_Adresse=3\r\nLetzte_KT_IK=103110016\r\n");
    EXPECT_EQ(c.ReadIniValue("Letzte_KT_IK"), "103110016");
    EXPECT_EQ(c.ReadIniValue("Auswahl_Adresse"), "3");
    EXPECT_EQ(c.ReadIniValue("Unbekannt"), "");

    c.WriteIniValue("Letzte_KT_IK", "103440014");   // replaces the first of the two lines
    EXPECT_EQ(SplitLines(ReadText(Path("brenvo.ini"))),
              (std::vector<std::string>{"Letzte_KT_IK=103440014", "Auswahl_Adresse=3", "Letzte_KT_IK=103110016"}));
    c.WriteIniValue("Neu", "a=b");
    EXPECT_EQ(c.ReadIniValue("Neu"), "a=b");   // after the first "=" of the line
    c.WriteIniValue("Lang", std::string(1200, 'z'));
    EXPECT_EQ(c.ReadIniValue("Lang"), std::string(999, 'z'));
}

TEST_F(ControllerTest, WritingTheIniFileCreatesIt) {
    TMainController c(view, dir.path());
    c.WriteIniValue("Auswahl_Adresse", "7");
    EXPECT_EQ(ReadText(Path("brenvo.ini")), "Auswahl_Adresse=7\n");
}

// ------------------------------------------------------------------ log and progress

TEST_F(ControllerTest, ActivityLogFileIsNamedByTheTime) {
    TMainController c(view, dir.path());
    c.Startup();
    c.LogLine("eine Zeile");
    const std::string file = c.WriteActivityLog(EncodeDateTime(2014, 3, 2, 9, 5, 3, 7));
    EXPECT_EQ(file, Path("Logs/20140302_090503007.log"));
    const std::vector<std::string> lines = SplitLines(ReadText(file));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Init Start...");
    EXPECT_EQ(lines.back(), "eine Zeile");
}

TEST_F(ControllerTest, ProgressCorrectsRangeAndLogsWithPrefix) {
    TMainController c(view, dir.path());
    c.ShowProgress(5, 0, true, "a");
    EXPECT_EQ(c.ProgressMaximum(), 100);
    EXPECT_EQ(c.ProgressPosition(), 5);
    c.ShowProgress(12, 10, false, "b");
    EXPECT_EQ(c.ProgressPosition(), 10);
    c.ShowProgress(-1, 10, false, "c");
    EXPECT_EQ(c.ProgressPosition(), 10);
    c.ShowLoadProgress(12, 10, true, "d");
    EXPECT_EQ(c.LoadPosition(), 12);   // no correction on the load panel
    EXPECT_EQ(view.log, (std::vector<std::string>{"Prozess: a", "d"}));
}

// ------------------------------------------------------------------ start-up and shut-down

TEST_F(ControllerTest, StartUpLogsEveryStepInOrder) {
    auto c = Started();
    const std::vector<std::string> expected = {"Init Start...",
                                               "Init Lade Prüfe Verzeichnisse...",
                                               "Init Lade Einstellungen...",
                                               "Init Lade Stammdaten Kostenträger Base...",
                                               "Init Lade Stammdaten Kostenträger Zuordnungen...",
                                               "Init Lade Stammdaten Kostenträger Anschriften...",
                                               "Init Lade Stammdaten Kostenträger Übermittlungsdaten...",
                                               "Init Lade Stammdaten Schlüssel...",
                                               "Init Lade Stammdaten Rechnungen...",
                                               "Init Lade Stammdaten Aufträge ...",
                                               "Init Import Verzeichnis lesen...",
                                               "Init Import Verzeichnis lesen...fertig",
                                               "Init Dakota nicht aktiviert.",
                                               "Init Eingabe Verzeichnis lesen...",
                                               "Init Eingabe Verzeichnis lesen...fertig",
                                               "Startup beendet."};
    EXPECT_EQ(view.log, expected);
    for (const char* d : {"import", "temp", "export", "ArchivR", "ArchivA", "Logs", "Downloads"})
        EXPECT_TRUE(DirectoryExists(Path(d))) << d;
    EXPECT_FALSE(DirectoryExists(Path("Datensicherung")));
    EXPECT_FALSE(DirectoryExists(Path("eingabe")));
    EXPECT_EQ(c->Paths().Stammdaten, Path("Stammdaten"));
    EXPECT_EQ(c->Inbox().Count(), 6u);
    EXPECT_EQ(c->Inbox().Item(0).Caption, "2024-1046.xml");
    EXPECT_EQ(c->Inbox().Item(0).Icon, ItemIcon::Open);
    EXPECT_EQ(c->Inbox().Tip(0), "2024-1046.xml 1");
    EXPECT_EQ(c->Outbox().Count(), 0u);
    EXPECT_TRUE(c->ImportWatcher().Watching());
    EXPECT_FALSE(c->Busy());
}

TEST_F(ControllerTest, StartUpWithoutSettingsFileStopsWithAbbruch) {
    std::filesystem::remove(Stamm("brenvo.XML"));
    TMainController c(view, dir.path());
    EXPECT_FALSE(c.Startup());
    ASSERT_EQ(view.log.size(), 5u) << Joined();
    EXPECT_EQ(view.log[0], "Init Start...");
    EXPECT_EQ(view.log[1], "Init Lade Prüfe Verzeichnisse...");
    EXPECT_EQ(view.log[2], "Init Lade Einstellungen...");
    EXPECT_TRUE(StartsWith(view.log[3], "Init ABBRUCH ")) << view.log[3];
    EXPECT_TRUE(Contains(view.log[3], "brenvo.XML")) << view.log[3];
    EXPECT_EQ(view.log[4], "Startup beendet.");
    EXPECT_EQ(c.KTStore(), nullptr);
    EXPECT_EQ(c.RechStore(), nullptr);
    EXPECT_FALSE(c.Busy());

    // The run refuses to start; the shut-down saves nothing and writes the log.
    c.actProzessStartExecute();
    EXPECT_FALSE(c.LastRun().Started);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_TRUE(c.Shutdown());
    EXPECT_EQ(Files("Logs").size(), 1u);
    EXPECT_FALSE(view.Logged("Init Rechnungen speichern ... "));
}

TEST_F(ControllerTest, MissingCostBearerFileStopsAfterTheSettings) {
    std::filesystem::remove(Stamm("KT_ZUORDN.XML"));
    TMainController c(view, dir.path());
    EXPECT_FALSE(c.Startup());
    EXPECT_EQ(view.log[view.log.size() - 3], "Init Lade Stammdaten Kostenträger Zuordnungen...");
    EXPECT_TRUE(StartsWith(view.log[view.log.size() - 2], "Init ABBRUCH "));
    EXPECT_EQ(c.Einrichtung().EINR_IK, "510512345");   // what was loaded stays loaded
    EXPECT_EQ(c.RechStore(), nullptr);
}

// The invoice archive is read beside the cost-bearer directory; a broken
// archive still stops the start at its own step, after the directory's.
TEST_F(ControllerTest, BrokenInvoiceArchiveStopsAtItsStep) {
    AtomicWriteFile(Stamm("Rechnungen.xml"), "<DATAPACKET");
    TMainController c(view, dir.path());
    EXPECT_FALSE(c.Startup());
    EXPECT_EQ(view.log[view.log.size() - 4], "Init Lade Stammdaten Schlüssel...");
    EXPECT_EQ(view.log[view.log.size() - 3], "Init Lade Stammdaten Rechnungen...");
    EXPECT_TRUE(StartsWith(view.log[view.log.size() - 2], "Init ABBRUCH ")) << view.log[view.log.size() - 2];
    ASSERT_NE(c.KTStore(), nullptr);
    c.actProzessStartExecute();
    EXPECT_FALSE(c.LastRun().Started);
    EXPECT_TRUE(c.Shutdown());
    EXPECT_EQ(ReadFileBytes(Stamm("Rechnungen.xml")), "<DATAPACKET");
}

TEST_F(ControllerTest, ShutDownSavesWritesTheLogAndCloses) {
    auto c = Started();
    EXPECT_FALSE(c->RequestClose());   // posted
    EXPECT_EQ(view.closed, 0);
    c->PumpMessages();
    EXPECT_EQ(view.closed, 1);
    EXPECT_TRUE(c->ClosingAllowed());
    EXPECT_TRUE(c->RequestClose());   // granted at once from now on
    const std::vector<std::string> tail = {"Init Daten speichern ...",      "Init Rechnungen speichern ... ",
                                           "Init Aufträge speichern ... ",  "Init KT-Daten speichern ... ",
                                           "Init Dakota ...",               "Init Protkoll schreiben ...",
                                           "Init Programm wird beendet."};
    ASSERT_GE(view.log.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(view.log.end() - long(tail.size()), view.log.end()), tail);
    const std::vector<std::string> logs = Files("Logs");
    ASSERT_EQ(logs.size(), 1u);
    const std::vector<std::string> lines = SplitLines(ReadText(Path("Logs/" + logs[0])));
    EXPECT_EQ(lines.back(), "Init Protkoll schreiben ...");
    EXPECT_EQ(lines.size(), view.log.size() - 1);
}

TEST_F(ControllerTest, CloseRequestDuringStartUpWaitsForItsEnd) {
    TMainController c(view, dir.path());
    ExpectCloseWaitsFor(c, view, [&] { EXPECT_TRUE(c.Startup()); }, "Startup beendet.");
    EXPECT_TRUE(view.Logged("Init Rechnungen speichern ... "));
}

TEST_F(ControllerTest, FailingShutDownStepShowsItAndTheNextCloseIsGranted) {
    auto c = Started();
    ASSERT_TRUE(c->RechStore()->LinkHandle("2024-1046", "geaendert"));   // something to save
    std::filesystem::remove_all(Path("Stammdaten"));
    std::filesystem::create_directory(Path("Stammdaten"));
    std::filesystem::create_directory(Stamm("Rechnungen.xml"));   // cannot be written over
    EXPECT_FALSE(c->Shutdown());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.closed, 0);
    EXPECT_TRUE(Files("Logs").empty());
    EXPECT_TRUE(c->RequestClose());
}

// ------------------------------------------------------------------ the import watcher

TEST_F(ControllerTest, WatcherFlagsTheInboxAndTheIdleHandlerReloadsIt) {
    auto c = Started();
    ASSERT_TRUE(c->ImportWatcher().WaitUntilWatching(std::chrono::seconds(5)));
    WriteText(Path("import/neu.xml"), "<Rechnungen/>");
    ASSERT_TRUE(c->Queue()->ProcessUntil([&] { return c->InboxChanged(); }, std::chrono::seconds(5)));
    EXPECT_EQ(c->Inbox().FindCaption("neu.xml"), -1);   // not before the idle handler
    c->OnIdle();
    EXPECT_GE(c->Inbox().FindCaption("NEU.XML"), 0);
    EXPECT_FALSE(c->InboxChanged());
}

TEST(ShellChangeNotifier, WatchesNewSubdirectoriesAndFoldsBursts) {
    TempDir dir;
    auto queue = std::make_shared<MessageQueue>();
    int calls = 0;
    TShellChangeNotifier w(queue);
    EXPECT_EQ(w.Root(), "/");
    EXPECT_TRUE(w.WatchSubTree());
    w.SetRoot(dir.path());
    EXPECT_FALSE(w.Watching());   // no handler yet
    w.SetOnChange([&] { ++calls; });
    ASSERT_TRUE(w.WaitUntilWatching(std::chrono::seconds(5)));

    std::filesystem::create_directory(dir.file("sub"));
    ASSERT_TRUE(queue->ProcessUntil([&] { return calls > 0; }, std::chrono::seconds(5)));
    // The new subdirectory is watched too.
    const int before = calls;
    for (int tries = 0; tries < 50 && calls == before; ++tries) {
        WriteText(dir.file("sub/a" + std::to_string(tries) + ".txt"), "x");
        queue->ProcessUntil([&] { return calls > before; }, std::chrono::milliseconds(100));
    }
    EXPECT_GT(calls, before);

    // A burst of changes while nothing is pumped is one notification.
    const int burst = calls;
    for (int i = 0; i < 20; ++i) WriteText(dir.file("f" + std::to_string(i)), "x");
    queue->ProcessUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_GE(calls, burst + 1);
    EXPECT_LE(calls, burst + 3);
}

TEST(ShellChangeNotifier, NoHandlerRunsAfterTheWatcherWent) {
    TempDir dir;
    auto queue = std::make_shared<MessageQueue>();
    int calls = 0;
    {
        TShellChangeNotifier w(queue);
        w.SetRoot(dir.path());
        w.SetWatchSubTree(false);
        w.SetOnChange([&] { ++calls; });
        ASSERT_TRUE(w.WaitUntilWatching(std::chrono::seconds(5)));
        WriteText(dir.file("a"), "x");
        // Wait until the notification is queued, without running it.
        for (int i = 0; i < 500 && queue->PendingCount() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_EQ(queue->PendingCount(), 1u);
    }
    queue->ProcessMessages();
    EXPECT_EQ(calls, 0);
}
