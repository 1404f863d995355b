// The invoice entry window and the master-data editors on a copy of the
// demo installation, driven as a clerk drives them: a new invoice typed
// with a case from a template and trips through the trip window, billed by
// "&Start"; an invoice viewed; the editors of the "Verwaltung" tab.

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "billing/Version21Rules.h"
#include "common/QtDialogScript.h"
#include "common/TempDir.h"
#include "entry/frm_leistung.h"
#include "entry/frm_tarife.h"
#include "entry/qt_Muster4.h"
#include "lib/base/Cp1252.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "mainwindow/main.h"
#include "mainwindow/qt_Program.h"

using namespace brenvo;

namespace {

// Keys typed one after the other; letters beyond ASCII as a German keyboard sends them.
void Keys(QWidget* w, const QString& text) {
    for (const QChar ch : text) {
        if (ch.unicode() < 128)
            QTest::keyClick(w, char(ch.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

class EntryWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy(std::string(BRENVO_SOURCE_DIR) + "/demo", dir.path(),
                              std::filesystem::copy_options::recursive);
        program = TProgram::Create(dir.path());
        program->frmMain->SetPauseScale(0);
        program->frmMain->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return program->frmMain->StartupFinished(); }, 20000));
    }

    TformXMLRechnung6& W() { return *program->formXMLRechnung6; }
    template <class T = QLineEdit>
    T* Field(const std::string& field) {
        T* w = qobject_cast<T*>(W().FieldWidget(field));
        EXPECT_NE(w, nullptr) << field;
        return w;
    }
    // Types into a field as a user does: the cursor into it, the old text
    // selected and replaced, Enter.
    void Type(const std::string& field, const QString& text, bool enter = true) {
        QWidget* w = W().FieldWidget(field);
        ASSERT_NE(w, nullptr) << field;
        if (auto* c = qobject_cast<QComboBox*>(w); c && c->isEditable()) w = c->lineEdit();
        w->setFocus();
        QApplication::processEvents();
        if (auto* e = qobject_cast<QLineEdit*>(w)) e->selectAll();
        Keys(w, text);
        if (enter) QTest::keyClick(w, Qt::Key_Return);
        QApplication::processEvents();
    }
    QWidget* Focused() { return QApplication::focusWidget(); }

    TempDir dir;
    std::unique_ptr<TProgram> program;
};

// The trip window as a clerk fills it: the dates, the vehicle, the times,
// the km and the tariff, then the chosen button.
struct TripInput {
    std::vector<QDate> dates;
    QString wagen, zeit1, zeit2, km, tariff;
    const char* button;
};

TripEntryResult FillTripWindow(TTripEntry& entry, QWidget* parent, const TripInput& in) {
    TfrmLeistung window(entry, parent);
    QTimer::singleShot(0, &window, [&] {
        auto edit = [&](const char* name) { return window.findChild<QLineEdit*>(QString::fromUtf8(name)); };
        auto* date = window.findChild<QDateEdit*>(QStringLiteral("dtTermin"));
        for (const QDate& d : in.dates) {
            date->setDate(d);
            QTest::keyClick(date, Qt::Key_Return);
        }
        QTest::keyClicks(edit("edWagenNr"), in.wagen);
        QTest::keyClicks(edit("edZeit1"), in.zeit1);
        QTest::keyClicks(edit("edZeit2"), in.zeit2);
        QLineEdit* km = edit("edKM");
        km->setFocus();
        km->selectAll();
        QTest::keyClicks(km, in.km);
        auto* tariff = window.findChild<QComboBox*>(QStringLiteral("cbTarif"));
        tariff->setFocus();   // leaving the km field takes it over
        const int index = tariff->findText(in.tariff);
        tariff->setCurrentIndex(index);
        emit tariff->activated(index);
        window.findChild<QPushButton*>(QString::fromUtf8(in.button))->click();
    });
    window.exec();
    return window.Result();
}

// The segments of the SLLA message part of one case (from its INV segment
// to its BES segment), UTF-8, one per line without the terminator.
std::vector<std::string> CaseSegments(const std::string& billing, const std::string& inv) {
    std::vector<std::string> out;
    bool in = false;
    for (std::string line : SplitLines(Cp1252ToUtf8(billing))) {
        if (!line.empty() && line.back() == '\'') line.pop_back();
        if (StartsWith(line, inv)) in = true;
        if (!in) continue;
        out.push_back(line);
        if (StartsWith(line, "BES+")) break;
    }
    return out;
}

} // namespace

TEST_F(EntryWindowTest, ANewInvoiceTypedWithATemplateAndTwoTripEntriesIsBilledAsTyped) {
    TMainController& c = program->frmMain->Controller();
    const std::string file = PathJoin(c.Paths().Eingabe, "2024-1200.xml");
    ForceDirectories(c.Paths().Eingabe);
    ASSERT_TRUE(CopyFileTo(c.Paths().StammdatenFile("eingabe_vorlage.xml"), file, true));

    // What the main window does for a new invoice, then the window as the user sees it.
    W().Open(file);
    W().SetMode(EntryMode::Edit);
    TNewInvoiceHeader header = c.NewInvoiceHeader("2024-1200");
    W().PrepareNewInvoice(header);
    W().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&W()));
    EXPECT_EQ(W().windowTitle(), "Rechnung: 2024-1200");
    EXPECT_EQ(Focused(), Field("RechDatum"));
    EXPECT_EQ(Field("Name1")->text(), "Taxi Rheinufer GmbH");

    // Header: the date, then Enter through the provider's lines to the cost bearer.
    Type("RechDatum", "18.11.2024");
    EXPECT_EQ(Focused(), Field("Name1"));
    for (int i = 0; i < 5; ++i) QTest::keyClick(Focused(), Qt::Key_Return);
    Type("IKKT", "103110016");
    EXPECT_EQ(program->frmMain->Controller().ReadIniValue("Letzte_KT_IK"), "103110016");
    EXPECT_EQ(W().findChild<QLabel*>(QStringLiteral("lblKTName"))->text(), "Rheinische OKK");
    QTest::keyClick(Focused(), Qt::Key_Return);   // in the name list: the first case comes
    ASSERT_TRUE(W().Logic().HasCase());
    EXPECT_EQ(Focused(), Field("VONum"));

    // The case: the prescription, then the patient from the templates.
    Type("VONum", "2411001");
    Type("VODatum", "1.11.24");   // a short form of the date
    EXPECT_EQ(Field("VODatum")->text(), "01.11.2024");
    {
        DialogScript script;
        script.Ignore("formXMLRechnung6");
        script.Answer("Filter (Nachname)", "Auswahl in Verordnung übernehmen");
        script.Answer("Dialyse Mo/Mi/Fr", "OK");
        Type("Nachname", "Mü", false);
        EXPECT_EQ(Field("Nachname")->toolTip(), "Patient Nachname -> Übereinstimmungen in Vorlagen gefunden");
        QTest::keyClick(Field("Nachname"), Qt::Key_Down);
        ASSERT_TRUE(script.Done()) << script.Report();
    }
    EXPECT_EQ(Field("Vorname")->text(), "Jürgen");
    EXPECT_EQ(Field("Geb")->text(), "17.04.1938");
    EXPECT_EQ(Field("VODatum")->text(), "01.11.2024");
    EXPECT_EQ(Field("FallInfo")->toolTip(), "Dialyse Mo/Mi/Fr, Rollator mitnehmen");

    // Two entries in the trip window: one date there and back, then one date.
    int entries = 0;
    W().SetTripWindow([&](TTripEntry& entry) {
        EXPECT_EQ(entry.destination.strasse, "Schloßstraße 5");   // the template's destination
        if (entries++ == 0)
            return FillTripWindow(entry, &W(), {{QDate(2024, 11, 4)}, "7", "0800", "0830", "12",
                                                "Rheinische OKK Taxi Stadt", "btnHinZurueck"});
        return FillTripWindow(entry, &W(), {{QDate(2024, 11, 6)}, "7", "1400", "1425", "14",
                                            "Rheinische OKK Taxi Stadt", "btnSpeichern"});
    });
    W().findChild<QPushButton*>(QStringLiteral("btnLeistungNeu"))->click();
    W().findChild<QPushButton*>(QStringLiteral("btnLeistungNeu"))->click();
    ASSERT_EQ(entries, 2);
    EXPECT_EQ(W().TripGrid()->model()->rowCount(), 3);
    EXPECT_EQ(W().PositionGrid()->model()->rowCount(), 2);   // km and flat rate; nothing of quantity 0

    // Stored, recomputed, saved, closed.
    W().Action(QStringLiteral("actSpeichernExit"))->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !W().isVisible(); }, 5000));
    EXPECT_FALSE(W().DeleteRequested());
    InvoiceDocument saved = InvoiceDocument::FromFile(file);
    EXPECT_DOUBLE_EQ(saved.Rechnung().AsFloat("RBetragBrutto"), 71.64);
    EXPECT_DOUBLE_EQ(saved.Rechnung().AsFloat("RBetragNetto"), 56.64);

    // Into the inbox and billed.
    ASSERT_TRUE(CopyFileTo(file, PathJoin(c.ImportDir(), "2024-1200.xml"), true));
    ASSERT_TRUE(DeleteFile(file));
    c.ReadInbox();
    program->frmMain->Action(MainAction::ProzessStart)->trigger();
    ASSERT_TRUE(c.LastRun().Completed) << c.LastRun().Failure;
    EXPECT_EQ(c.LastRun().Billed, 5);
    EXPECT_FALSE(FileExists(PathJoin(c.ImportDir(), "FEHLER2024-1200.xml")));

    std::string billing;
    for (const std::string& auf : ListFiles(c.Paths().ArchivA, "*.AUF")) {
        const std::string bytes = ReadFileBytes(PathJoin(c.Paths().ArchivA, auf.substr(0, auf.size() - 4)));
        if (Contains(bytes, "REC+2024-1200:0+20241118+1'")) billing = bytes;
    }
    ASSERT_FALSE(billing.empty());
    EXPECT_EQ(Join(brenvo::test::Version21Problems(billing), "\n"), "");
    const std::vector<std::string> expected = {
        "INV+M123456789+10000++2411001",
        "NAD+Müller+Jürgen+19380417+Hauptstraße 9+50996+Köln",
        "KTL+1+Hauptstraße 9+50996++Köln+Schloßstraße 5+50667++Köln",
        "EKT+46:01001+610002+12,00+1,53+20241104+12,00+0800+0830",
        "TXT+Besetztkilometer",
        "EKT+46:01001+610001+1,00+4,50+20241104+12,00+0800+0830",
        "TXT+Grundpauschale Taxi",
        "ZUK+1+22,86+02+5,00",
        "KTL+2+Schloßstraße 5+50667++Köln+Hauptstraße 9+50996++Köln",
        "EKT+46:01001+610002+12,00+1,53+20241104+12,00+0800+0830",
        "TXT+Besetztkilometer",
        "EKT+46:01001+610001+1,00+4,50+20241104+12,00+0800+0830",
        "TXT+Grundpauschale Taxi",
        "ZUK+2+22,86+02+5,00",
        "KTL+3+Hauptstraße 9+50996++Köln+Schloßstraße 5+50667++Köln",
        "EKT+46:01001+610002+14,00+1,53+20241106+14,00+1400+1425",
        "TXT+Besetztkilometer",
        "EKT+46:01001+610001+1,00+4,50+20241106+14,00+1400+1425",
        "TXT+Grundpauschale Taxi",
        "ZUK+3+25,92+02+5,00",
        "ZKT+271234500+123456701+3+20241101",
        "BES+71,64+15,00",
    };
    EXPECT_EQ(CaseSegments(billing, "INV+M123456789"), expected);
}

// One entry in the trip window: three appointment dates from the date
// picker and the month calendar, the destination from the address list,
// km and tariff by the keyboard, written there and back.
TEST_F(EntryWindowTest, TheTripWindowWritesThreeDatesThereAndBackIntoTheInvoice) {
    TMainController& c = program->frmMain->Controller();
    const std::string file = PathJoin(c.ImportDir(), "2024-1101.xml");
    W().Open(file);
    W().SetMode(EntryMode::Edit);
    W().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&W()));
    const int tripsBefore = W().TripGrid()->model()->rowCount();

    bool done = false;
    std::unique_ptr<DialogScript> others;   // what saving the invoice shows
    W().SetTripWindow([&](TTripEntry& entry) {
        TfrmLeistung window(entry, &W());
        QTimer::singleShot(0, &window, [&] {
            auto edit = [&](const char* name) { return window.findChild<QLineEdit*>(QString::fromUtf8(name)); };
            auto combo = [&](const char* name) { return window.findChild<QComboBox*>(QString::fromUtf8(name)); };
            auto button = [&](const char* name) { return window.findChild<QPushButton*>(QString::fromUtf8(name)); };
            auto activate = [&] {
                window.activateWindow();
                EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
            };
            activate();
            EXPECT_EQ(window.windowTitle(), "Leistung(en) eingeben, Verordnung-Nr.: 187398");
            EXPECT_EQ(combo("edVonStrasse")->currentText(), "Gerresheimer Landstraße 70");   // the patient's home

            // Nothing entered yet: every warning, and the window stays.
            {
                DialogScript script;
                script.Ignore("frmLeistung");
                script.Answer("Leistungsdatum bitte angeben!", "OK")
                    .Answer("Abhol- und Zielort bitte angeben!", "OK")
                    .Answer("Preis oder Fahrstrecke bitte angeben!", "OK")
                    .Answer("Leistungspositionen bitte angeben!", "OK");
                button("btnHinZurueck")->click();
                EXPECT_TRUE(QTest::qWaitFor([&] { return script.Done(); }, 5000)) << script.Report();
            }
            EXPECT_TRUE(window.isVisible());
            activate();

            // The dates: Monday and Friday from the picker, Wednesday from the calendar.
            auto* date = window.findChild<QDateEdit*>(QStringLiteral("dtTermin"));
            for (const QDate& d : {QDate(2024, 11, 8), QDate(2024, 11, 4)}) {
                date->setFocus();
                date->setDate(d);
                QTest::keyClick(date, Qt::Key_Return);
            }
            EXPECT_EQ(Focused(), edit("edWagenNr"));
            window.MonthCalendar()->setSelectedDate(QDate(2024, 11, 6));
            QTest::keyClick(window.MonthCalendar()->findChild<QTableView*>(), Qt::Key_Return);
            auto* dates = window.findChild<QListWidget*>(QStringLiteral("lbTermine"));
            ASSERT_EQ(dates->count(), 3);
            EXPECT_EQ(dates->item(0)->text(), "Mo, 04.11.2024");
            EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lblTermine"))->text(), "    Leistungsdatum: 3 Termine");

            // Vehicle, then Enter through the pickup to the destination, picked from the list.
            edit("edWagenNr")->setFocus();
            Keys(Focused(), "7");
            QTest::keyClick(Focused(), Qt::Key_Return);
            EXPECT_EQ(Focused(), combo("edVonStrasse"));
            for (int i = 0; i < 3; ++i) QTest::keyClick(Focused(), Qt::Key_Return);
            ASSERT_EQ(Focused(), combo("edNachStrasse"));
            Keys(Focused(), "schl");   // completed from the list
            QTest::keyClick(Focused(), Qt::Key_Return);
            EXPECT_EQ(combo("edNachStrasse")->currentText(), "Schloßstraße 5");
            EXPECT_EQ(edit("edNachPlz")->text(), "50667");
            EXPECT_EQ(edit("edNachOrt")->text(), "Köln");
            EXPECT_EQ(edit("edNachInfo")->text(), "Dialysezentrum am Schloßgarten");
            ASSERT_EQ(Focused(), edit("edKM"));

            // km and tariff; Enter puts the cursor into the quantity of the first row.
            Keys(Focused(), "12");
            QTest::keyClick(Focused(), Qt::Key_Return);
            QComboBox* tariff = combo("cbTarif");
            EXPECT_EQ(Focused(), tariff);
            const int index = tariff->findText(QStringLiteral("Rheinische OKK Taxi Stadt"));
            tariff->setCurrentIndex(index);
            emit tariff->activated(index);
            QTest::keyClick(tariff, Qt::Key_Return);
            QTableView* grid = window.PositionGrid();
            EXPECT_EQ(Focused(), grid);
            EXPECT_EQ(grid->model()->headerData(grid->currentIndex().column(), Qt::Horizontal).toString(), "Menge");
            EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lblSumme"))->text(), "€ 22,86");
            EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lblZuzahlung"))->text(), "Zuzahlungsfrei");
            QTest::keyClick(grid, Qt::Key_Return);   // no co-payment: on to "Speichern"
            EXPECT_EQ(Focused(), button("btnSpeichern"));

            done = true;
            others = std::make_unique<DialogScript>();
            others->Ignore("formXMLRechnung6").Ignore("frmLeistung");
            others->Answer("Wenn eine Genehmigung vorliegt", "OK");   // the invoice's approval lacks its date
            button("btnHinZurueck")->click();
        });
        window.exec();
        return window.Result();
    });
    W().findChild<QPushButton*>(QStringLiteral("btnLeistungNeu"))->click();
    ASSERT_TRUE(done);
    EXPECT_TRUE(others->Done()) << others->Report();
    EXPECT_EQ(W().TripGrid()->model()->rowCount(), tripsBefore + 6);

    // In the file: three trips to the dialysis, three back, each with its two positions.
    InvoiceDocument saved = InvoiceDocument::FromFile(file);
    Table& cases = saved.Rechnung().Nested(CaseNestName);
    cases.First();
    Table& trips = cases.Nested(TripNestName);
    std::vector<std::string> there, back;
    for (trips.First(); !trips.Eof(); trips.Next()) {
        if (trips.AsInteger("WagenNr") != 7) continue;
        const std::string day = FormatDDMMYYYY(trips.AsDateTime("Datum"));
        (trips.AsString("VON_STRASSE") == "Schloßstraße 5" ? back : there).push_back(day);
        EXPECT_EQ(trips.AsString(trips.AsString("VON_STRASSE") == "Schloßstraße 5" ? "NACH_STRASSE" : "VON_STRASSE"),
                  "Gerresheimer Landstraße 70");
        EXPECT_DOUBLE_EQ(trips.AsFloat("BruttoSum"), 22.86);
        EXPECT_DOUBLE_EQ(trips.AsFloat("KM"), 12);
        Table& ef = trips.Nested(PositionNestName);
        std::vector<std::string> positions;
        for (ef.First(); !ef.Eof(); ef.Next()) {
            positions.push_back(ef.AsString("PosNum") + " " + FloatToText(ef.AsFloat("Menge")) + " x " +
                                FloatToText(ef.AsFloat("EPreis")));
            EXPECT_EQ(ef.AsInteger("EFLeistID"), trips.AsInteger("LeistID"));
        }
        std::sort(positions.begin(), positions.end());
        EXPECT_EQ(positions, (std::vector<std::string>{"610001 1 x 4.5", "610002 12 x 1.53"}));
    }
    std::sort(there.begin(), there.end());
    std::sort(back.begin(), back.end());
    const std::vector<std::string> days = {"04.11.2024", "06.11.2024", "08.11.2024"};
    EXPECT_EQ(there, days);
    EXPECT_EQ(back, days);
}

TEST_F(EntryWindowTest, TheInputBasketOpensANewInvoiceAndDropsItWhenClosedUntouched) {
    // "Rechnung neu erstellen" asks for the number and opens the entry
    // window with the header filled in; closed without saving, the blank
    // invoice goes after the question.
    TMainController& c = program->frmMain->Controller();
    DialogScript script;
    script.Ignore("formXMLRechnung6");
    script.Answer("Geben Sie nun die Rechnungsnummer ein", "OK", "2024-1300");
    script.Answer("endgültig löschen?", "Ja");
    std::string title, date;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() != &W() || !W().isVisible()) return;
        poll.stop();
        title = W().windowTitle().toStdString();
        date = Field("RechDatum")->text().toStdString();
        EXPECT_TRUE(FileExists(PathJoin(c.Paths().Eingabe, "2024-1300.xml")));
        W().reject();
    });
    poll.start(10);
    program->frmMain->ShowTab(MainTab::Eingabe);
    ASSERT_TRUE(program->frmMain->Action(MainAction::RechnungNeu)->isEnabled());
    program->frmMain->Action(MainAction::RechnungNeu)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.Done(); }, 5000)) << script.Report();
    EXPECT_EQ(title, "Rechnung: 2024-1300");
    EXPECT_EQ(date, FormatDDMMYYYY(Today()));
    EXPECT_FALSE(FileExists(PathJoin(c.Paths().Eingabe, "2024-1300.xml")));
}

TEST_F(EntryWindowTest, AnInvoiceViewedShowsItsPrescriptionAndCannotBeChanged) {
    TMainController& c = program->frmMain->Controller();
    const std::string file = PathJoin(c.ImportDir(), "2024-1101.xml");
    W().Open(file);
    W().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&W()));
    EXPECT_EQ(W().windowTitle(), "Rechnung: 2024-1101");
    EXPECT_TRUE(Field("Nachname")->isReadOnly());
    EXPECT_FALSE(W().findChild<QPushButton*>(QStringLiteral("btnLeistungNeu"))->isVisible());
    EXPECT_FALSE(W().Action(QStringLiteral("actSpeichern"))->isEnabled());
    EXPECT_TRUE(W().Pages()->isTabVisible(1));
    W().Pages()->setCurrentIndex(1);
    EXPECT_EQ(W().Picture()->Values().at("Nachname"), "Wagner");
    EXPECT_EQ(W().Picture()->Values().at("Geb"), "12.12.1968");
    EXPECT_EQ(W().Picture()->Values().at("KTName"), "Rheinische OKK");
    EXPECT_EQ(TMuster4View::Hint("Geb"), "Patient Geburtstag");
    EXPECT_EQ(W().TripGrid()->model()->flags(W().TripGrid()->model()->index(0, 2)) & Qt::ItemIsEditable, 0);

    const std::string before = ReadFileBytes(file);
    W().done(QDialog::Rejected);
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_THROW(W().Open(PathJoin(c.ImportDir(), "fehlt.xml")), Error);
}

TEST_F(EntryWindowTest, TheVerwaltungTabOpensTheEditorsAndAPriceIsTypedInEuro) {
    program->frmMain->ShowTab(MainTab::Verwaltung);
    QAction* tarife = program->frmMain->Action(MainAction::VerwaltungTarife);
    ASSERT_TRUE(tarife->isEnabled());
    bool edited = false;
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<TfrmTarife*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->windowTitle(), "Verwaltung: Tarife");
        QTableView* grid = window->PositionGrid();
        QAbstractItemModel* m = grid->model();
        const int price = 3;   // Bezeichnung, TarifNum, PosNum, EPreis
        EXPECT_EQ(m->headerData(price, Qt::Horizontal).toString(), "EPreis");
        const QModelIndex cell = m->index(0, price);
        grid->setFocus();
        grid->setCurrentIndex(cell);
        QTest::keyClick(grid, '5');   // typing starts the edit
        auto* editor = grid->viewport()->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        QTest::keyClicks(editor, ",10");
        QTest::keyClick(editor, Qt::Key_Return);
        QApplication::processEvents();   // the cell is stored once the editor has gone
        EXPECT_EQ(m->data(cell).toString(), "€ 5,10 ");
        edited = true;
        window->findChild<QPushButton*>(QStringLiteral("btnSchliessen"))->click();
    });
    tarife->trigger();
    ASSERT_TRUE(edited);
    Table file;
    file.LoadFromFile(program->dmVerwaltung->TarifeFile());
    file.First();
    Table& positions = file.Nested(TdmVerwaltung::kTarifdetail);
    bool found = false;
    for (positions.First(); !positions.Eof(); positions.Next()) found = found || positions.AsInteger("EPreis") == 510;
    EXPECT_TRUE(found);

    // The other two open on their tables and close again.
    for (MainAction id : {MainAction::VerwaltungAdressen, MainAction::VerwaltungVersicherte}) {
        QString title;
        QTimer::singleShot(0, [&] {
            QWidget* w = QApplication::activeModalWidget();
            ASSERT_NE(w, nullptr);
            title = w->windowTitle();
            EXPECT_GT(w->findChild<QTableView*>()->model()->rowCount(), 0);
            w->findChild<QPushButton*>(QStringLiteral("btnSchliessen"))->click();
        });
        program->frmMain->Action(id)->trigger();
        EXPECT_EQ(title, id == MainAction::VerwaltungAdressen ? "Adressen" : "Vorlagen: Versicherte");
    }
}
