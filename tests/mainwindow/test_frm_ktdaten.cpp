// The tab "Kostenträger-Daten" in the window program, as a clerk uses it:
// search, edit in the grid and in the detail panel, save, resolve, jump;
// adding and deleting an IK with the keys of the search field; bad input
// answered with a message.

#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include "MainWindowFixture.h"
#include "common/QtDialogScript.h"
#include "lib/Basics/qt_TableModel.h"
#include "mainwindow/frm_KTDaten.h"

using namespace ctltest;

namespace {

class KTDatenTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        Start();
        Main().ShowTab(MainTab::KostentraegerDaten);
        page = qobject_cast<TfrmKTDaten*>(Main().TabPage(MainTab::KostentraegerDaten));
        ASSERT_NE(page, nullptr);
        grid = page->Grid();
        model = page->Model();
    }

    template <class W>
    W* Child(const char* name) {
        W* w = page->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // The grid's cell of the current row in the column of the field.
    QString Current(const char* field) {
        return model->data(model->index(grid->currentIndex().row(), model->ColumnOf(field))).toString();
    }
    // Types into a cell of the current row as a user does: F2, the text, Enter.
    void TypeIntoCell(const char* field, const QString& text) {
        grid->setFocus();
        grid->setCurrentIndex(model->index(grid->currentIndex().row(), model->ColumnOf(field)));
        QTest::keyClick(grid, Qt::Key_F2);
        auto* editor = grid->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::qWait(0);   // the grid takes the text queued
    }
    void Search(const QString& text) {
        page->SearchField()->setFocus();
        page->SearchField()->selectAll();
        QTest::keyClicks(page->SearchField(), text);
    }
    std::string Stored(const std::string& file, const std::string& ik, const char* field) {
        Table t;
        t.LoadFromFile(dir.file("Stammdaten/" + file));
        return t.Locate("K_IK", {Value(ik)}) ? t.AsString(field) : "<fehlt>";
    }

    TfrmKTDaten* page = nullptr;
    QTableView* grid = nullptr;
    TTableModel* model = nullptr;
};

} // namespace

TEST_F(KTDatenTest, SearchEditSaveAndResolve) {
    EXPECT_TRUE(Child<QRadioButton>("rbKostentraeger")->isChecked());
    EXPECT_EQ(model->rowCount(), 34);
    QPushButton* save = Child<QPushButton>("btnSpeichernKostentraeger");
    EXPECT_EQ(save->text(), "Änderungen speichern");
    EXPECT_FALSE(save->isEnabled());

    // A click on "Bezeichnung" sorts by it and marks it for the search.
    const int kurzbez = model->ColumnOf("KT_KURZBEZ");
    ASSERT_EQ(model->headerData(kurzbez, Qt::Horizontal).toString(), "Bezeichnung");
    QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(grid->horizontalHeader()->sectionViewportPosition(kurzbez) + 5, 5));
    EXPECT_EQ(C().KTMaintenance().MarkedField(), "KT_KURZBEZ");
    EXPECT_TRUE(model->headerData(kurzbez, Qt::Horizontal, Qt::FontRole).value<QFont>().underline());
    EXPECT_FALSE(model->headerData(0, Qt::Horizontal, Qt::FontRole).value<QFont>().underline());
    Search("rheinische");
    EXPECT_EQ(Current("K_IK"), "103110016");

    // Edited in the grid and in the panel; "Änderungen speichern" writes both.
    TypeIntoCell("KT_NAME2", "Hauptverwaltung");
    EXPECT_EQ(Current("KT_NAME2"), "Hauptverwaltung");
    EXPECT_TRUE(save->isEnabled());
    QLineEdit* daten = page->DetailField("DATEN_IK");
    ASSERT_NE(daten, nullptr);
    daten->setFocus();
    QTest::keyClicks(daten, "109910025");
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_FALSE(save->isEnabled());
    EXPECT_EQ(Stored("KT_BASE.XML", "103110016", "KT_NAME2"), "Hauptverwaltung");
    EXPECT_EQ(Stored("KT_BASE.XML", "103110016", "DATEN_IK"), "109910025");

    // A double click resolves the row; the report leads to the paper office's address.
    const QModelIndex row = grid->currentIndex();
    grid->scrollTo(row);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(row).center());
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(row).center());
    const QString report = page->Report()->toPlainText();
    EXPECT_TRUE(report.startsWith("Für IK 103110016 ")) << report.toStdString();
    EXPECT_TRUE(report.contains(" Daten logisch:  109910025 ")) << report.toStdString();
    Action(MainAction::KTZeigeAnschrift)->trigger();
    EXPECT_TRUE(Child<QRadioButton>("rbAnschriften")->isChecked());
    EXPECT_EQ(page->SearchField()->text(), "109930013");
    EXPECT_EQ(Current("K_IK"), "109930013");
    EXPECT_TRUE(Child<QPushButton>("btnSpeichernAnschriften")->isVisible());
    EXPECT_FALSE(save->isVisible());
}

TEST_F(KTDatenTest, KeysOfTheSearchFieldAndBadInput) {
    DialogScript script;
    script.Answer("12345678 ist keine gültige IK", "OK");
    Search("12345678");
    QTest::keyClick(page->SearchField(), Qt::Key_Insert, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.Done(); }, 2000)) << script.Report();

    Search("109999991");
    QTest::keyClick(page->SearchField(), Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(Current("K_IK"), "109999991");
    EXPECT_TRUE(Action(MainAction::KTSpeichern)->isEnabled());

    // In the grid: an address's date that is no date, in the panel an IK that is none.
    QTest::mouseClick(Child<QRadioButton>("rbAnschriften"), Qt::LeftButton);
    Search("109999991");
    EXPECT_EQ(Current("K_IK"), "109999991");
    script.Answer("\"31.02.2024\" ist kein gültiges Datum (TT.MM.JJJJ).", "OK");
    TypeIntoCell("ANS_VALIDTO", "31.02.2024");
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.Done(); }, 2000)) << script.Report();
    EXPECT_EQ(Current("ANS_VALIDTO"), "");
    QTest::mouseClick(Child<QRadioButton>("rbKostentraeger"), Qt::LeftButton);
    Search("109999991");
    script.Answer("1099 ist keine gültige IK", "OK");
    QLineEdit* papier = page->DetailField("PAPIER_IK");
    papier->setFocus();
    QTest::keyClicks(papier, "1099");
    QTest::keyClick(papier, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.Done(); }, 2000)) << script.Report();
    EXPECT_EQ(papier->text(), "");

    // Ctrl+Delete asks, deletes and saves.
    script.Answer("IK 109999991 löschen?", "Ja");
    Search("109999991");
    QTest::keyClick(page->SearchField(), Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.Done(); }, 2000)) << script.Report();
    EXPECT_EQ(Stored("KT_BASE.XML", "109999991", "K_IK"), "<fehlt>");
    EXPECT_FALSE(Action(MainAction::KTSpeichern)->isEnabled());
    EXPECT_EQ(script.SeenDialogs().back().buttons, (std::vector<std::string>{"Ja", "Nein"}));
}
