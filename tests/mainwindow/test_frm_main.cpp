// The main window on a copy of the demo installation, driven as a user
// drives it: start-up after the first paint, the tabs, menus and context
// menu, the dialogs with their German buttons, closing during a run.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <filesystem>

#include "MainWindowFixture.h"
#include "common/QtDialogScript.h"
#include "lib/Basics/qt_Logo.h"

using namespace ctltest;


TEST_F(MainWindowTest, StartsUpAfterTheWindowIsPainted) {
    bool exposedAtFirstLine = false;
    QListView* log = List("lbProtokoll");
    ASSERT_NE(log, nullptr);
    QObject::connect(log->model(), &QAbstractItemModel::rowsInserted, [&] {
        if (log->model()->rowCount() == 1) exposedAtFirstLine = Main().windowHandle()->isExposed();
    });
    EXPECT_FALSE(Logged("Init Start..."));   // nothing before the window shows
    Start();
    EXPECT_TRUE(exposedAtFirstLine);
    EXPECT_TRUE(Logged("Startup beendet."));
    EXPECT_TRUE(C().StartupSucceeded());
    EXPECT_EQ(Main().windowTitle(), "Brenvo");
    EXPECT_EQ(Main().LoadPanel(), LoadPanelMode::Hidden);
    EXPECT_EQ(Main().width(), 900);
    EXPECT_EQ(Main().Tabs()->currentIndex(), int(MainTab::Eingangskorb));
    EXPECT_EQ(List("lvEingangskorb")->model()->rowCount(), 6);
    EXPECT_EQ(log->model()->rowCount(), int(C().ActivityLog().size()));   // the log is shown as it grows
    EXPECT_EQ(Main().StatusPanel(3), "Dakota nicht aktiviert");
    // Idle after start-up: the actions work, those of DAKOTA only with DAKOTA_AKTIV.
    EXPECT_TRUE(Action(MainAction::ProzessStart)->isEnabled());
    EXPECT_TRUE(Action(MainAction::Hilfe)->isEnabled());
    EXPECT_TRUE(Action(MainAction::ArchivDrucken)->isEnabled());
    EXPECT_FALSE(Action(MainAction::DakotaExport)->isEnabled());
}

TEST_F(MainWindowTest, EveryTabShowsInItsOrder) {
    Start();
    const char* captions[] = {"&Eingabe",        "Eingangs&korb",   "&Verarbeitung",      "&Protokoll",
                              "&Ausgangskorb",   "Archiv Rechnung", "Archiv Aufträge",    "Kostenträger-Daten",
                              "Einstellungen",   "Verwaltung"};
    QTabWidget* tabs = Main().Tabs();
    ASSERT_EQ(tabs->count(), 10);
    QListView* outbox = List("lvAusgangskorb");
    for (int i = 0; i < 10; ++i) {
        Main().ShowTab(MainTab(i));
        QCoreApplication::processEvents();
        EXPECT_EQ(tabs->tabText(i), QString::fromUtf8(captions[i]));
        EXPECT_TRUE(tabs->widget(i)->isVisible()) << captions[i];
        // The one outbox list sits on "&Verarbeitung" or "&Ausgangskorb", whichever is shown.
        if (MainTab(i) == MainTab::Verarbeitung || MainTab(i) == MainTab::Ausgangskorb) {
            EXPECT_TRUE(tabs->widget(i)->isAncestorOf(outbox));
        }
    }
    for (const char* name : {"btnVerwaltungTarife", "btnVerwaltungAdressen", "btnVerwaltungVersicherte"})
        EXPECT_TRUE(Child<QPushButton>(name)->isVisible()) << name;
}

// What the user types on "Einstellungen" reaches brenvo.XML by
// "Einstellungen speichern" and is there again at the next start.
TEST_F(MainWindowTest, SettingChangedSavedAndReadBack) {
    Start();
    Main().ShowTab(MainTab::Einstellungen);
    EXPECT_EQ(Child<QLineEdit>("edEINR_NAME1")->text(), "Taxi Rheinufer GmbH");
    EXPECT_EQ(Child<QComboBox>("cbEINR_LAND")->currentText(), "05 Nordrhein-Westfalen");
    EXPECT_EQ(Child<QLineEdit>("edVERSION_DATUM")->text(), "01.10.2014");
    EXPECT_EQ(Child<QLineEdit>("edEMAIL_PWD")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(Child<QLineEdit>("edMAXTRANSFER")->isReadOnly());

    Retype("edEINR_NAME1", "Taxi Rheinufer KG");
    QTest::keyClick(Child<QComboBox>("cbSYST_VERF"), Qt::Key_End);   // "Echt"
    QTest::keyClick(Child<QCheckBox>("chkSIK_AUTO"), Qt::Key_Space);
    Retype("edEINR_LAND", "09");
    EXPECT_EQ(Child<QComboBox>("cbEINR_LAND")->currentText(), "09 Bayern");   // the list follows the code
    QTest::keyClick(Child<QCheckBox>("chkEMAIL_MAPI"), Qt::Key_Space);
    QTest::keyClick(Child<QCheckBox>("chkDAKOTA_EMAIL"), Qt::Key_Space);
    EXPECT_FALSE(Child<QCheckBox>("chkEMAIL_MAPI")->isChecked());             // the ways of sending exclude each other
    QTest::mouseClick(Child<QPushButton>("btnEinstellungenSpeichern"), Qt::LeftButton);
    EXPECT_EQ(C().Einrichtung().EINR_NAME1, "Taxi Rheinufer KG");
    EXPECT_EQ(C().System().SYST_VERF, 2);

    CloseProgram();
    program = TProgram::Create(dir.path());
    Main().SetPauseScale(0);
    Start();
    EXPECT_EQ(Child<QLineEdit>("edEINR_NAME1")->text(), "Taxi Rheinufer KG");
    EXPECT_EQ(Child<QComboBox>("cbSYST_VERF")->currentText(), "Echt");
    EXPECT_TRUE(Child<QCheckBox>("chkSIK_AUTO")->isChecked());
    EXPECT_EQ(Child<QComboBox>("cbEINR_LAND")->currentText(), "09 Bayern");
    EXPECT_TRUE(Child<QCheckBox>("chkDAKOTA_EMAIL")->isChecked());
    EXPECT_EQ(C().Einrichtung().EINR_LAND, "09");
    EXPECT_TRUE(C().System().DAKOTA_EMAIL);
}

// A wrong entry is named and nothing is saved; what the user typed stays on
// the tab, also when a run then advances the transfer number.
TEST_F(MainWindowTest, SettingsTabRefusesWrongEntriesAndFollowsTheRun) {
    Start();
    Main().ShowTab(MainTab::Einstellungen);
    const std::string file = ReadFileBytes(dir.file("Stammdaten/brenvo.XML"));
    Retype("edVERSION_DATUM", "31.02.2014");
    Retype("edEINR_NAME1", "Taxi Rheinufer KG");
    DialogScript script;
    script.Answer("Versionsdatum: \"31.02.2014\" ist kein Datum (TT.MM.JJJJ).", "OK");
    Action(MainAction::EinstellungenSpeichern)->trigger();
    ASSERT_TRUE(script.Done()) << script.Report();
    EXPECT_EQ(script.SeenDialogs()[0].title, "Fehler");
    EXPECT_EQ(ReadFileBytes(dir.file("Stammdaten/brenvo.XML")), file);
    EXPECT_EQ(C().SettingsForm().EINR_NAME1, "Taxi Rheinufer GmbH");

    // A billing centre has no group "Leistungserbringer".
    QGroupBox* provider = Child<QGroupBox>("gbLeistungserbringer");
    EXPECT_TRUE(provider->isVisible());
    QTest::keyClick(Child<QComboBox>("cbSYST_ART"), Qt::Key_End);
    EXPECT_FALSE(provider->isVisible());
    QTest::keyClick(Child<QComboBox>("cbSYST_ART"), Qt::Key_Home);
    EXPECT_TRUE(provider->isVisible());

    Action(MainAction::ProzessStart)->trigger();
    ASSERT_EQ(C().LastRun().Billed, 4);
    EXPECT_EQ(Child<QLineEdit>("edMAXTRANSFER")->text(), "2");
    EXPECT_EQ(Child<QLineEdit>("edVERSION_DATUM")->text(), "31.02.2014");
    EXPECT_EQ(Child<QLineEdit>("edEINR_NAME1")->text(), "Taxi Rheinufer KG");
}

TEST_F(MainWindowTest, RunFromStartAndCloseRequestDuringItWaits) {
    Start();
    // The close box is clicked while the run is under way (the run lets the
    // window's events through at every progress step).
    bool closedDuringRun = false;
    QObject::connect(List("lvEingangskorb")->model(), &QAbstractItemModel::dataChanged, &Main(), [&] {
        if (C().Running() && !closedDuringRun) {
            closedDuringRun = true;
            Main().close();
            EXPECT_TRUE(Main().isVisible());
        }
    });
    Action(MainAction::ProzessStart)->trigger();
    EXPECT_TRUE(closedDuringRun);
    EXPECT_TRUE(C().LastRun().Completed);
    EXPECT_EQ(C().LastRun().Billed, 4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Main().isVisible(); }, 20000));
    // The shut-down ran after the run's own end, not inside it.
    EXPECT_LT(IndexOf("Init KT-Daten speichern ... "), IndexOf("Init Daten speichern ..."));
    EXPECT_TRUE(Logged("Init Programm wird beendet."));
    EXPECT_EQ(Files("Logs").size(), 1u);
}

// The import watcher's thread reports through the controller's queue,
// which the window's event loop runs; the inbox is read again when idle.
TEST_F(MainWindowTest, InboxFollowsItsDirectoryWhileIdle) {
    Start();
    ASSERT_EQ(List("lvEingangskorb")->model()->rowCount(), 6);
    ASSERT_TRUE(C().ImportWatcher().WaitUntilWatching(std::chrono::seconds(10)));
    std::filesystem::copy_file(dir.file("import/2024-1101.xml"), dir.file("import/2024-1199.xml"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return List("lvEingangskorb")->model()->rowCount() == 7; }, 10000));
}

TEST_F(MainWindowTest, CloseRequestDuringStartUpWaitsForItsEnd) {
    Main().show();
    Main().close();   // before the posted start-up ran
    EXPECT_TRUE(Main().isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Main().isVisible(); }, 20000));
    EXPECT_LT(IndexOf("Startup beendet."), IndexOf("Init Daten speichern ..."));
    EXPECT_TRUE(C().ClosingAllowed());
}

TEST_F(MainWindowTest, BusyDisablesEveryAction) {
    Start();
    C().SetBusy(true);
    for (const TMainActionDef& d : MainActions()) EXPECT_FALSE(Action(d.Id)->isEnabled()) << d.Name;
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    C().SetBusy(false);
    EXPECT_TRUE(Action(MainAction::Beenden)->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, HelpAndQuestionsHaveGermanButtons) {
    Start();
    DialogScript script;
    script.Answer("Funktionsumfang", "OK");
    script.Answer("älter als 200 Tage löschen?", "Nein");
    Action(MainAction::Hilfe)->trigger();
    Action(MainAction::DatenBereinigen)->trigger();
    ASSERT_TRUE(script.Done()) << script.Report();
    const auto& seen = script.SeenDialogs();
    EXPECT_EQ(seen[0].title, "Information");
    EXPECT_EQ(seen[0].text,
              "Abrechnung im Datenträgeraustauschverfahren (nach §302 SGB V)\n\nFunktionsumfang: \n"
              "* Eingabe und Prüfung der erforderlichen Daten\n* Aufbereitung der Daten (inkl. Verschlüsselung)\n"
              "* Versand der Daten an die Annahmestellen\n ");
    EXPECT_EQ(seen[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(seen[1].buttons, (std::vector<std::string>{"Ja", "Nein"}));
    EXPECT_EQ(Rows("Rechnungen.xml"), 1);   // "Nein" deleted nothing
    EXPECT_EQ(Main().Ask(MessageKind::Warning, "?", {Answer::Yes, Answer::No, Answer::Cancel}), Answer::Cancel);
    EXPECT_EQ(script.SeenDialogs().back().buttons, (std::vector<std::string>{"Ja", "Nein", "Abbrechen"}));
}

TEST_F(MainWindowTest, ProgramInfoTextViewAndInputDialog) {
    Start();
    DialogScript script;
    script.Answer("Version: 1.9.04 September 2014", "");
    script.Answer("Zeile 1\nZeile 2", "");
    script.Answer("Geben Sie nun die Rechnungsnummer ein", "OK", "2024-1200");
    Action(MainAction::Programm)->trigger();
    const QPixmap logo = ProgramLogo(360);
    EXPECT_EQ(program->formModal->size(), QSize(logo.width(), logo.height() + 150));
    Main().ShowText("Begleitzettel", "Zeile 1\r\nZeile 2");
    EXPECT_TRUE(program->formModal->findChild<QPlainTextEdit*>()->font().fixedPitch() ||
                program->formModal->findChild<QPlainTextEdit*>()->font().family().contains("Mono"));
    std::string number;
    EXPECT_TRUE(Main().InputQuery("Neue Rechnung anlegen", {"Geben Sie nun die Rechnungsnummer ein"},
                                  "Rechnungsnummer:", number));
    EXPECT_EQ(number, "2024-1200");
    ASSERT_TRUE(script.Done()) << script.Report();
    EXPECT_EQ(script.SeenDialogs()[0].title, "Programm");
    EXPECT_EQ(script.SeenDialogs()[2].buttons, (std::vector<std::string>{"OK", "Abbrechen"}));
}

TEST_F(MainWindowTest, PrinterSetupNamesThePrinterInTheCaptions) {
    Start();
    EXPECT_EQ(Action(MainAction::Druckereinstellung)->text(), "Druckereinstellung");
    DialogScript script;
    script.Answer("", "Abbrechen");
    Action(MainAction::Druckereinstellung)->trigger();
    ASSERT_TRUE(script.Done()) << script.Report();
    const QString printer = Action(MainAction::Druckereinstellung)->text();
    EXPECT_TRUE(printer.startsWith("Druckereinstellung (aktiv: ")) << printer.toStdString();
    const QString name = printer.mid(QString("Druckereinstellung (aktiv: ").size()).chopped(1);
    EXPECT_EQ(Action(MainAction::BegleitzettelDrucken)->text(), "Begleitzettel drucken.. auf: " + name);
}

TEST_F(MainWindowTest, SharedContextMenuFiltersByControl) {
    Start();
    auto visible = [&] {
        std::vector<std::string> out;
        for (QAction* a : Main().SharedContextMenu()->findChildren<QAction*>())
            if (a->isVisible() && !a->isSeparator() && a->menu() == nullptr && a->objectName().endsWith("Entry"))
                out.push_back(a->text().toStdString());
        return out;
    };
    Main().FilterSharedContextMenu(ContextControl::CostBearerGrid);
    EXPECT_EQ(visible(), std::vector<std::string>{"Daten anzeigen"});
    Main().FilterSharedContextMenu(ContextControl::Outbox, false);
    EXPECT_TRUE(visible().empty());
    for (QAction* a : Main().SharedContextMenu()->actions()) EXPECT_FALSE(a->isVisible()) << a->text().toStdString();
    Main().FilterSharedContextMenu(ContextControl::InvoiceGrid);
    EXPECT_EQ(visible(), (std::vector<std::string>{"Rechnung ansehen", "Rechnung korrigieren", "Rechnung löschen",
                                                   "Fehler-Markierung entfernen", "Gehe zu Auftrag", "Neu laden"}));
    Main().FilterSharedContextMenu(ContextControl::OrderGrid);
    const auto orders = visible();
    EXPECT_EQ(orders.size(), 13u);
    for (QMenu* sub : Main().SharedContextMenu()->findChildren<QMenu*>()) EXPECT_TRUE(sub->menuAction()->isVisible());
    // Hiding an entry of the menu leaves its action (and key) working elsewhere.
    EXPECT_TRUE(Action(MainAction::NeuLaden)->isVisible());
}

TEST_F(MainWindowTest, LoadPanelCompactAndFull) {
    Start();
    Main().SetLoadPanel(LoadPanelMode::Compact);
    QWidget* panel = Main().findChild<QWidget*>("pnlLoad");
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(Main().Tabs()->isVisible());
    EXPECT_LT(Main().width(), 600);
    Main().SetLoadPanel(LoadPanelMode::Hidden);
    EXPECT_EQ(Main().width(), 900);
    Main().SetLoadPanel(LoadPanelMode::Full);
    EXPECT_EQ(Main().width(), 900);
    EXPECT_TRUE(panel->isVisible());
    Main().SetLoadPanel(LoadPanelMode::Hidden);
    EXPECT_TRUE(Main().Tabs()->isVisible());
}
