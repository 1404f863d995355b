// DAKOTA, maintenance and update from the main window's buttons and menus,
// on copies of the demo installation: the questions, the tab, progress and
// caption they show, the DAKOTA stand-in driven through a whole run with its
// busy dialog and status line, and the update's download dialog against a
// local FTP server (stopped, without news, and complete).

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <set>

#include "MainWindowFixture.h"
#include "common/QtDialogScript.h"
#include "dakota/DakotaTestKit.h"
#include "mainwindow/frm_Busy.h"
#include "tests/mainwindow/FtpTestServer.h"
#include "tests/mainwindow/ZipTestUtil.h"

using namespace ctltest;
using dakota_test::OdbcSetup;

namespace {

// Looks at the window every few milliseconds while an action runs (its
// progress pumps the events) and keeps what it saw.
class Watch : public QObject {
public:
    explicit Watch(std::function<void()> look) : look_(std::move(look)) {
        connect(&timer_, &QTimer::timeout, this, [this] { look_(); });
        timer_.start(2);
    }

private:
    std::function<void()> look_;
    QTimer timer_;
};

QString Text(QWidget* w, const char* label) { return w->findChild<QLabel*>(label)->text(); }

QWidget* TopLevel(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name)) return w;
    return nullptr;
}

} // namespace

// ------------------------------------------------------------------ maintenance

TEST_F(MainWindowTest, MaintenanceButtonsAskFirstAndShowTheirOutcome) {
    AtomicWriteFile(dir.file("ArchivR/verwaist.XML"), "<Rechnung/>");
    Start();
    Action(MainAction::ProzessStart)->trigger();
    ASSERT_EQ(C().LastRun().Billed, 4);
    Main().ShowTab(MainTab::Einstellungen);

    DialogScript script;
    script.Answer("Daten (Rechnungen und Aufträge) älter als 200 Tage löschen?", "Nein");
    script.Answer("Fortfahren?", "Ja");   // "Archiv bereinigen"
    QTest::mouseClick(Child<QPushButton>("btnDatenBereinigen"), Qt::LeftButton);
    EXPECT_EQ(Main().Tabs()->currentIndex(), int(MainTab::Einstellungen));   // "Nein" changes nothing
    QTest::mouseClick(Child<QPushButton>("btnArchivBereinigen"), Qt::LeftButton);
    ASSERT_TRUE(script.Done()) << script.Report();
    EXPECT_EQ(script.SeenDialogs()[0].buttons, (std::vector<std::string>{"Ja", "Nein"}));
    EXPECT_EQ(script.SeenDialogs()[1].text.rfind("Dateien zu allen Rechnungen und Aufträgen", 0), 0u);
    EXPECT_EQ(Main().Tabs()->currentIndex(), int(MainTab::Verarbeitung));
    EXPECT_EQ(Child<QLabel>("lblProgress")->text(), "Dateien-Bereinigung beendet.");
    EXPECT_TRUE(Logged("Prozess: 1 Rechnungs-Dateien gelöscht"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("ArchivR/verwaist.XML")));

    // An order table that lost its rows: "Daten Import" rebuilds them from the run's order
    // files and links the invoices to them, each step in the window's title.
    CloseProgram();
    Table orders;
    orders.LoadFromFile(dir.file("Stammdaten/Auftraege.xml"));
    for (orders.First(); !orders.Eof();) orders.Delete();
    orders.MergeChangeLog();
    orders.SaveToFile(dir.file("Stammdaten/Auftraege.xml"));
    program = TProgram::Create(dir.path());
    Main().SetPauseScale(0);
    Start();
    std::vector<QString> titles;
    QObject::connect(&Main(), &QWidget::windowTitleChanged, [&](const QString& t) { titles.push_back(t); });
    DialogScript import;
    import.Answer("Fehlende Tabellen-Einträge zu Rechnungen und Aufträgen", "Ja");
    QTest::mouseClick(Child<QPushButton>("btnDatenImport"), Qt::LeftButton);
    ASSERT_TRUE(import.Done()) << import.Report();
    ASSERT_GE(titles.size(), 2u);
    EXPECT_TRUE(titles[0].endsWith(" Rechnungen verknüpft OK")) << titles[0].toStdString();
    EXPECT_EQ(titles.back(), "Brenvo");
    EXPECT_FALSE(C().Busy());

    // "DB Funktion" reports what each table file had.
    QTest::mouseClick(Child<QPushButton>("btnDBFunktion"), Qt::LeftButton);
    EXPECT_EQ(std::count_if(C().ActivityLog().begin(), C().ActivityLog().end(),
                            [](const std::string& l) { return StartsWith(l, "DB Funktion: Spalte DTAREF"); }),
              2);

    // "Datensicherung erstellen" works behind the load panel and brings the tabs back.
    std::set<LoadPanelMode> panels;
    {
        Watch watch([&] { panels.insert(Main().LoadPanel()); });
        Action(MainAction::DatensicherungErstellen)->trigger();
    }
    EXPECT_TRUE(panels.count(LoadPanelMode::Full));
    EXPECT_EQ(Main().LoadPanel(), LoadPanelMode::Hidden);
    EXPECT_TRUE(Main().Tabs()->isVisible());
    EXPECT_EQ(Files("Datensicherung").size(), 1u);
    EXPECT_TRUE(Logged("Datensicherung fertig."));
    EXPECT_EQ(C().ActivityLog().back(), "Init Lade Stammdaten Aufträge ...");   // both archives read again
}

// ------------------------------------------------------------------ DAKOTA

TEST_F(MainWindowTest, DakotaTakesTheRunsOrdersWithItsBusyDialogAndStatusLine) {
    dakota_test::StandIn dakota;
    OdbcSetup::Get().ResetTable();
    dakota.Configure(std::string("PROTOCOL=") + OdbcSetup::Dsn + "\nPROCESS_MS=150\n");
    WriteSettings(dir.file("Stammdaten/brenvo.XML"), {{"DAKOTA_AKTIV", "T"},
                                                      {"DAKOTA_INSTDIR", dakota.inst},
                                                      {"DAKOTA_DATADIR", dakota.data},
                                                      {"DAKOTA_EXPDIR", dakota.exp},
                                                      {"DAKOTA_PROTFILE", OdbcSetup::Dsn},
                                                      {"DAKOTA_ANN_FILE", dir.file("annahme.ini")},
                                                      {"DAKOTA_PROC_AUTO", "T"},
                                                      {"DAKOTA_PROT_READAUTO", "T"}});
    Start();
    EXPECT_EQ(Main().StatusPanel(3), "Dakota [Eingang: 0] [Ausgang: 0] ");
    EXPECT_TRUE(Action(MainAction::DakotaVerarbeitung)->isEnabled());

    // "&Start" bills, exports, lets DAKOTA process behind the busy dialog and reads its result.
    std::set<QString> busyTexts, progress, panel3;
    Watch watch([&] {
        if (QWidget* busy = TopLevel("formBusy"); busy && busy->isVisible())
            busyTexts.insert(busy->windowTitle() + ": " + Text(busy, "lblBusy"));
        progress.insert(Child<QLabel>("lblProgress")->text());
        panel3.insert(Main().StatusPanel(3));
    });
    QTest::mouseClick(Child<QPushButton>("btnProzessStart"), Qt::LeftButton);
    ASSERT_EQ(C().LastRun().Billed, 4);
    EXPECT_EQ(busyTexts, (std::set<QString>{"Verarbeitung: Dakota läuft..."}));
    EXPECT_TRUE(progress.count("Dateien werden verarbeitet...")) << Join(C().ActivityLog(), "\n");
    EXPECT_TRUE(std::any_of(panel3.begin(), panel3.end(), [](const QString& t) { return t.endsWith("[AKTIV]"); }));
    EXPECT_TRUE(Logged("Prozess: Lesen Daktota-Protokoll beendet. 2 Aufträge"));
    EXPECT_FALSE(TopLevel("formBusy")->isVisible());
    EXPECT_EQ(Main().StatusPanel(3), "Dakota [Eingang: 0] [Ausgang: 2] ");
    EXPECT_FALSE(C().Busy());

    // The buttons of group " 2 " reach the same actions as the run's follow-up.
    auto count = [&](const std::string& prefix) {
        return std::count_if(C().ActivityLog().begin(), C().ActivityLog().end(),
                             [&](const std::string& l) { return StartsWith(l, prefix); });
    };
    const auto exports = count("Prozess: Export zu Dakota beendet. "), reads = count("Prozess: Lesen Daktota-Protokoll beendet. ");
    QTest::mouseClick(Child<QPushButton>("btnDakotaExport"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>("btnDakotaReadResult"), Qt::LeftButton);
    EXPECT_EQ(count("Prozess: Export zu Dakota beendet. "), exports + 1);
    EXPECT_EQ(count("Prozess: Lesen Daktota-Protokoll beendet. "), reads + 1);

    // The settings' DAKOTA buttons: "Protokoll kürzen" asks first, "Annahmestellen lesen"
    // names a missing list; neither leaves the window busy.
    Main().ShowTab(MainTab::Einstellungen);
    DialogScript script;
    script.Answer("Protokolleinträge älter als 200 Tage löschen?", "Nein");
    script.Answer("Datei " + dir.file("annahme.ini") + " existiert nicht.", "OK");
    QTest::mouseClick(Child<QPushButton>("btnDakotaProtKuerzen"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>("btnDakotaReadAnnahme"), Qt::LeftButton);
    EXPECT_TRUE(script.Done()) << script.Report();
    EXPECT_FALSE(C().Busy());

    // Switched off on the settings tab, the DAKOTA buttons are disabled.
    Child<QCheckBox>("chkDAKOTA_AKTIV")->click();
    QTest::mouseClick(Child<QPushButton>("btnEinstellungenSpeichern"), Qt::LeftButton);
    EXPECT_EQ(Main().StatusPanel(3), "Dakota nicht aktiviert");
    for (MainAction id : {MainAction::DakotaStart, MainAction::DakotaExport, MainAction::DakotaReadAnnahme})
        EXPECT_FALSE(Action(id)->isEnabled());
}

// ------------------------------------------------------------------ update

namespace {

// The update's download dialog while it runs: its title and every label it
// showed; its button is pressed once press(bar, label) holds.
struct UpdateDialogWatch {
    explicit UpdateDialogWatch(TfrmMain& main, std::function<bool(QProgressBar&, QLabel&)> press = {})
        : watch([this, &main, press] {
              auto* d = main.findChild<QDialog*>("UpdateDlgForm");
              if (!d || !d->isVisible()) return;
              title = d->windowTitle();
              QLabel& label = *d->findChild<QLabel*>("lblUpdate");
              labels.insert(label.text());
              auto* button = d->findChild<QPushButton*>("btnUpdate");
              if (press && !pressed && press(*d->findChild<QProgressBar*>("pbUpdate"), label)) {
                  pressed = button->text();
                  button->click();
              }
          }) {}
    Watch watch;
    QString title;
    std::set<QString> labels;
    std::optional<QString> pressed;
};

class UpdateWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        std::filesystem::create_directories(ftp.file("ftp-pub"));
    }
    void UseServer(const FtpTestServer& server) {
        AtomicWriteFile(dir.file("brenvo.ini"), "Update_Server=127.0.0.1:" + std::to_string(server.port()) + "\n");
    }
    TempDir ftp;
};

} // namespace

TEST_F(UpdateWindowTest, AStoppedDownloadOrNoNewUpdateLeaveTheProgramAsItWas) {
    // A data update large enough to be stopped in the middle of its transfer.
    std::string noise;
    for (int i = 0; noise.size() < 1500000; ++i) noise += std::to_string(i * 7919LL % 100003);
    MakeZip(ftp.file("ftp-pub/updateData.zip"), {{"KT_BASE.XML", noise}});
    MakeZip(ftp.file("ftp-pub/updateProg.zip"), {{"brenvo", "neues Programm"}});
    FtpTestServer server(ftp.path(), 100000);
    UseServer(server);
    Start();
    const std::string base = ReadFileBytes(dir.file("Stammdaten/KT_BASE.XML"));

    {
        UpdateDialogWatch d(Main(), [](QProgressBar& bar, QLabel&) { return bar.value() > 0; });
        Action(MainAction::UpdateDaten)->trigger();
        EXPECT_EQ(d.title, "Update läuft...");
        EXPECT_EQ(d.pressed, "Abbruch");
        EXPECT_TRUE(d.labels.count("Login..."));
    }
    EXPECT_TRUE(Files("Downloads").empty());   // no part of the file is left
    EXPECT_EQ(ReadFileBytes(dir.file("Stammdaten/KT_BASE.XML")), base);
    EXPECT_NE(C().KTStore(), nullptr);
    EXPECT_EQ(Main().LoadPanel(), LoadPanelMode::Hidden);
    EXPECT_TRUE(Main().Tabs()->isVisible());
    EXPECT_TRUE(Action(MainAction::ProzessStart)->isEnabled());

    // The program update whose archive is the one of the last update: nothing to install.
    std::filesystem::copy_file(ftp.file("ftp-pub/updateProg.zip"), dir.file("Downloads/updateProg.zip"));
    {
        UpdateDialogWatch d(Main(), [](QProgressBar&, QLabel& label) {
            return label.text() == "Kein neueres Update verfügbar.";
        });
        Action(MainAction::UpdateProgramm)->trigger();
        EXPECT_EQ(d.pressed, " Schliessen ");
    }
    EXPECT_TRUE(Logged("Update...beendet: Kein Update installiert."));
    EXPECT_FALSE(std::filesystem::exists(dir.file("brenvo")));
    EXPECT_EQ(Main().LoadPanel(), LoadPanelMode::Hidden);
    EXPECT_FALSE(C().Busy());
}

TEST_F(UpdateWindowTest, ACompleteDataUpdateInstallsAndEndsTheProgram) {
    std::string base = ReadFileBytes(dir.file("Stammdaten/KT_BASE.XML"));
    base = ReplaceAll(base, "DAS Rhein-Ruhr", "DAS Rhein-Ruhr neu");
    MakeZip(ftp.file("ftp-pub/updateData.zip"), {{"KT_BASE.XML", base}});
    FtpTestServer server(ftp.path());
    UseServer(server);
    Start();
    {
        UpdateDialogWatch d(Main());
        Action(MainAction::UpdateDaten)->trigger();
        EXPECT_FALSE(d.pressed);
        EXPECT_TRUE(std::any_of(d.labels.begin(), d.labels.end(),
                                [](const QString& l) { return l.contains("kB von "); }));
    }
    EXPECT_EQ(Text(&Main(), "lblLoad"), "Programm wird beendet. Bitte neu starten");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Main().isVisible(); }, 20000));
    EXPECT_EQ(ReadFileBytes(dir.file("Stammdaten/KT_BASE.XML")), base);
}
