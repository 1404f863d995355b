// The lists and archive grids of the main window as a billing clerk uses
// them on a copy of the demo installation: an invoice typed in, moved to the
// inbox, billed with "&Start", its order marked sent; the archives browsed
// with filter, search, sort and the jumps between invoice and order.

#include <QAction>
#include <QCheckBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

#include "ControllerFixture.h"
#include "common/QtDialogScript.h"
#include "lib/Basics/qt_TableModel.h"
#include "mainwindow/qt_ArchivePages.h"
#include "mainwindow/qt_MainLists.h"
#include "mainwindow/qt_Program.h"

using namespace ctltest;

namespace {

class BasketWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy(DemoDir(), dir.path(), std::filesystem::copy_options::recursive);
        program = TProgram::Create(dir.path());
        Main().SetPauseScale(0);
        Main().show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return Main().StartupFinished(); }, 20000));
        C().SetInvoiceEditor(&editor);
    }

    TfrmMain& Main() { return *program->frmMain; }
    TMainController& C() { return Main().Controller(); }
    QListView* List(const char* name) { return Main().findChild<QListView*>(name); }
    QTableView* Grid(const char* name) { return Main().findChild<QTableView*>(name); }
    MainTab Tab() { return MainTab(Main().Tabs()->currentIndex()); }
    static QString Text(QAbstractItemView* view, int row, int column = 0) {
        return view->model()->index(row, column).data().toString();
    }
    // A double click as the window system delivers it: press, release, then
    // the second press as a double click.
    static void DoubleClick(QAbstractItemView* view, const QModelIndex& item) {
        const QPointF at = view->visualRect(item).center();
        const QPointF global = view->viewport()->mapToGlobal(at);
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                  QEvent::MouseButtonRelease}) {
            const bool down = type != QEvent::MouseButtonRelease;
            QMouseEvent event(type, at, global, Qt::LeftButton, down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &event);
        }
    }
    void Show(MainTab tab) {
        Main().ShowTab(tab);
        QCoreApplication::processEvents();
    }

    TempDir dir;
    std::unique_ptr<TProgram> program;
    FakeEditor editor;
};

TEST_F(BasketWindowTest, NewInvoiceToTheInboxBilledWithStartAndMarkedSent) {
    // What the clerk types in the entry window: an invoice for the Rheinische OKK.
    editor.user = [](const std::string& path) {
        GeneratedInvoice g;
        g.number = "2024-1200";
        g.date = *ParseDDMMYYYY("26.11.2024");
        g.providerIK = kProvider;
        g.costBearerIK = kRheinOKK;
        WriteGeneratedInvoice(path, g);
    };
    Show(MainTab::Eingabe);
    QListView* input = List("lvEingabe");
    input->setFocus();
    DialogScript script;
    script.Answer("Geben Sie nun die Rechnungsnummer ein", "OK", "2024-1200");
    QTest::keyClick(input, Qt::Key_F2);
    ASSERT_TRUE(script.Done()) << script.Report();
    ASSERT_EQ(editor.calls.size(), 1u);
    ASSERT_EQ(input->model()->rowCount(), 1);
    EXPECT_EQ(Text(input, 0), "2024-1200.xml");
    EXPECT_TRUE(input->selectionModel()->isRowSelected(0, {}));
    // Enter edits the selected invoice again.
    QTest::keyClick(input, Qt::Key_Return);
    ASSERT_EQ(editor.calls.size(), 2u);
    EXPECT_EQ(editor.calls[1].mode, TInvoiceEditMode::Edit);
    EXPECT_FALSE(editor.calls[1].header);

    // From the input basket's context menu into the inbox.
    QMenu* menu = Main().Lists().InputBasketMenu();
    QAction* move = nullptr;
    for (QAction* a : menu->actions())
        if (a->objectName() == "actRechnungInEingangskorb") move = a;
    ASSERT_TRUE(move && move->isEnabled());
    script.Answer("Rechnung 2024-1200.xml in Eingangskorb ablegen?", "Ja");
    move->trigger();
    ASSERT_TRUE(script.Done()) << script.Report();
    EXPECT_EQ(Tab(), MainTab::Eingangskorb);
    EXPECT_EQ(input->model()->rowCount(), 0);
    QListView* inbox = List("lvEingangskorb");
    ASSERT_EQ(inbox->model()->rowCount(), 7);
    // A double click shows an invoice of the inbox, read-only.
    const QModelIndex item = inbox->model()->index(6, 0);
    ASSERT_EQ(item.data().toString(), "2024-1200.xml");
    QCoreApplication::processEvents();   // the list lays its items out
    inbox->scrollTo(item);
    DoubleClick(inbox, item);
    ASSERT_EQ(editor.calls.size(), 3u);
    EXPECT_EQ(editor.calls[2].mode, TInvoiceEditMode::View);
    EXPECT_EQ(editor.calls[2].path, dir.file("import/2024-1200.xml"));

    // "&Start": the run bills it with the demo's invoices; the orders wait in the outbox.
    Show(MainTab::Verarbeitung);
    QTest::mouseClick(Main().findChild<QPushButton*>("btnProzessStart"), Qt::LeftButton);
    EXPECT_EQ(C().LastRun().Billed, 5);
    EXPECT_EQ(Main().findChild<QLabel*>("lblProgress")->text(), "Fertig,");
    EXPECT_EQ(Tab(), MainTab::Ausgangskorb);
    QListView* outbox = List("lvAusgangskorb");
    ASSERT_EQ(outbox->model()->rowCount(), 2);
    EXPECT_TRUE(Main().TabPage(MainTab::Ausgangskorb)->isAncestorOf(outbox));
    // The inbox follows its directory: the two error files are left.
    EXPECT_TRUE(QTest::qWaitFor([&] { return inbox->model()->rowCount() == 2; }, 10000));
    EXPECT_TRUE(Text(inbox, 0).startsWith("FEHLER"));

    // The first order by its context menu: "Email" > "Email ist versandt".
    outbox->selectionModel()->select(outbox->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);
    Main().FilterSharedContextMenu(ContextControl::Outbox, true);
    QAction* sent = Main().SharedContextMenu()->findChild<QAction*>("actEmailVersandtEntry");
    ASSERT_TRUE(sent && sent->isVisible() && sent->isEnabled());
    sent->trigger();
    const int64_t id = C().Outbox().Item(0).Id;
    EXPECT_EQ(C().Outbox().Item(0).Icon, ItemIcon::Sent);
    ASSERT_TRUE(C().AuftragStore()->LocateById(id));
    EXPECT_FALSE(C().AuftragStore()->GetTable().IsNull("A_VERSANDT"));

    // Both archives show what the day did.
    Show(MainTab::ArchivRechnung);
    EXPECT_EQ(Grid("grdRechnungen")->model()->rowCount(), 6);
    Show(MainTab::ArchivAuftraege);
    QTableView* orders = Grid("grdAuftraege");
    ASSERT_EQ(orders->model()->rowCount(), 2);
    const int versandt = static_cast<TTableModel*>(orders->model())->ColumnOf("A_VERSANDT");
    int sentRows = 0;
    for (int r = 0; r < 2; ++r) sentRows += Text(orders, r, versandt).isEmpty() ? 0 : 1;
    EXPECT_EQ(sentRows, 1);
}

TEST_F(BasketWindowTest, ArchiveGridsFilterSearchSortAndLeadFromInvoiceToOrder) {
    Main().Action(MainAction::ProzessStart)->trigger();
    ASSERT_EQ(C().LastRun().Billed, 4);
    Show(MainTab::ArchivRechnung);
    QTableView* grid = Grid("grdRechnungen");
    auto* model = static_cast<TTableModel*>(grid->model());
    ASSERT_EQ(model->columnCount(), 6);
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Nummer");
    EXPECT_EQ(grid->columnWidth(3), 200);
    const int betrag = model->ColumnOf("R_BETRAG");
    EXPECT_TRUE(Text(grid, 0, betrag).contains(','));
    EXPECT_EQ(model->ColumnOf("R_DATUM"), 2);

    // A click on "Datei" sorts by the file name.
    QHeaderView* header = grid->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(3) + 5, header->height() / 2));
    EXPECT_EQ(C().RechStore()->GetTable().IndexFieldNames(), "R_FILENAME");

    // "Filtern" shows the date range; the range and the search narrow the grid.
    auto* page = Main().Lists().InvoicePage();
    EXPECT_FALSE(page->FromDate()->isVisibleTo(page));
    page->FilterBox()->click();
    EXPECT_TRUE(page->FromDate()->isVisibleTo(page));
    page->FromDate()->setDate(QDate(2024, 11, 1));
    page->ToDate()->setDate(QDate(2024, 11, 22));
    EXPECT_EQ(model->rowCount(), 4);
    EXPECT_EQ(C().InvoiceArchivePrintTitle(), "archivierte Rechnungen 01.11.2024 .. 22.11.2024");
    QTest::keyClicks(page->SearchField(), "2024-1103");
    EXPECT_EQ(Text(grid, grid->currentIndex().row(), 1), "2024-1103");

    // "Gehe zu Auftrag" from the grid, then "Gehe zu Rechnung" back.
    Main().Action(MainAction::GeheZuAuftrag)->trigger();
    EXPECT_EQ(Tab(), MainTab::ArchivAuftraege);
    QTableView* orders = Grid("grdAuftraege");
    std::string handle;
    ASSERT_TRUE(C().RechStore()->FindByNumber("2024-1103", nullptr, &handle));
    const int handleColumn = static_cast<TTableModel*>(orders->model())->ColumnOf("A_HANDLE");
    EXPECT_EQ(Text(orders, orders->currentIndex().row(), handleColumn).toStdString(), handle);
    page->FilterBox()->click();   // off again
    page->SearchField()->clear();
    Main().Action(MainAction::GeheZuRechnung)->trigger();
    EXPECT_EQ(Tab(), MainTab::ArchivRechnung);
    EXPECT_EQ(Text(grid, grid->currentIndex().row(), model->ColumnOf("R_HANDLE")).toStdString(), handle);

    // Two rows marked in the order grid: "Email nicht versandt" asks first.
    Show(MainTab::ArchivAuftraege);
    orders->selectAll();
    DialogScript script;
    script.Answer("Liste mit 2 Einträgen bearbeiten?", "Nein");
    Main().Action(MainAction::EmailNichtVersandt)->trigger();
    ASSERT_TRUE(script.Done()) << script.Report();
    EXPECT_EQ(script.SeenDialogs()[0].buttons, (std::vector<std::string>{"Ja", "Nein"}));
}

} // namespace
