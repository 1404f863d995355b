// The one model of every grid, over real tables of the table engine:
// German cells, rows following every change, sorting by a click, the
// current row in both directions, and a large table read only where shown.

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "lib/Basics/qt_TableModel.h"
#include "lib/base/DateTime.h"

using namespace brenvo;

namespace {

// An invoice archive as "Archiv Rechnung" shows it.
Table Archive() {
    Table t({FieldDef::Int("R_ID"), FieldDef::Str("R_NUMMER", 14), FieldDef::Date("R_DATUM"),
             FieldDef::Money("R_BETRAG"), FieldDef::Str("R_HANDLE", 40)});
    return t;
}

void Add(Table& t, int id, const std::string& nr, double amount) {
    t.Append();
    t.SetInteger("R_ID", id);
    t.SetString("R_NUMMER", nr);
    t.SetDateTime("R_DATUM", EncodeDate(2024, 11, id % 28 + 1));
    t.SetFloat("R_BETRAG", amount);
    t.Post();
}

TGridColumns Columns() {
    TGridColumns c = TGridColumns::FromFields(Archive().Fields());
    c.SetGridColumn("R_ID", "lfdNr.", 30, ColumnAlign::Right);
    c.SetGridColumn("R_NUMMER", "Nummer", 98);
    c.SetGridColumn("R_DATUM", "Datum", 60);
    c.SetGridColumn("R_BETRAG", "Betrag", 50, ColumnAlign::Right);
    c.SetGridColumn("R_HANDLE", "ID", 0);
    return c;
}

QString Cell(const QAbstractItemModel& m, int row, int col) { return m.data(m.index(row, col)).toString(); }

// Every row the model shows is the table's row at that position.
void ExpectSameRows(const TTableModel& m, const Table& t) {
    ASSERT_EQ(m.rowCount(), t.RecordCount());
    for (int r = 0; r < t.RecordCount(); ++r)
        EXPECT_EQ(Cell(m, r, 1).toStdString(), std::get<std::string>(t.ValueAt(r, t.FieldIndex("R_NUMMER"))))
            << "Zeile " << r;
}

} // namespace

TEST(TableModel, ShowsTheColumnsInGermanForms) {
    Table t = Archive();
    Add(t, 3, "2024-1101", 1234.5);
    TTableModel m(&t, Columns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(m.columnCount(), 4);   // R_HANDLE hidden
    EXPECT_EQ(m.headerData(0, Qt::Horizontal).toString(), "lfdNr.");
    EXPECT_EQ(Cell(m, 0, 0), "3");
    EXPECT_EQ(Cell(m, 0, 2), "04.11.2024");
    EXPECT_EQ(Cell(m, 0, 3), "1.234,50");
    EXPECT_EQ(m.data(m.index(0, 3), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight, Qt::AlignRight);
    EXPECT_EQ(m.FieldOf(3), "R_BETRAG");
    EXPECT_EQ(m.ColumnOf("r_datum"), 2);
}

TEST(TableModel, FollowsInsertsEditsFiltersAndDeletes) {
    Table t = Archive();
    t.SetIndexFieldNames("R_NUMMER");
    for (int i = 0; i < 6; ++i) Add(t, i + 1, "2024-11" + std::to_string(10 + i * 2), 10.0 * i);
    TTableModel m(&t, Columns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QTableView view;
    m.AttachView(&view);

    Add(t, 7, "2024-1115", 1);   // between two rows
    ExpectSameRows(m, t);
    ASSERT_TRUE(t.Locate("R_NUMMER", {Value(std::string("2024-1110"))}));
    t.Edit();
    t.SetString("R_NUMMER", "2024-1199");   // moves from the first row to the last
    t.Post();
    ExpectSameRows(m, t);
    EXPECT_EQ(view.currentIndex().row(), t.RecordCount() - 1);   // the view stays on the edited row

    t.SetFilter("R_BETRAG >= 20");
    t.SetFiltered(true);
    ExpectSameRows(m, t);
    t.First();
    t.Edit();
    t.SetFloat("R_BETRAG", 5);   // leaves the filter
    t.Post();
    ExpectSameRows(m, t);
    Add(t, 8, "2024-1100", 1);   // added, but filtered out
    ExpectSameRows(m, t);
    t.Last();
    t.Delete();
    ExpectSameRows(m, t);
    t.SetFiltered(false);
    ExpectSameRows(m, t);
    t.EmptyTable();
    EXPECT_EQ(m.rowCount(), 0);
}

TEST(TableModel, ClickOnATitleSortsAndTheCurrentRowGoesBothWays) {
    Table t = Archive();
    for (int i = 0; i < 5; ++i) Add(t, i + 1, "2024-11" + std::to_string(50 - i), 100.0 - i);
    TTableModel m(&t, Columns());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QTableView view;
    m.AttachView(&view);
    EXPECT_EQ(t.IndexFieldNames(), "");   // showing a table does not sort it
    EXPECT_EQ(view.columnWidth(1), 98);

    // The view's current row moves the table.
    view.setCurrentIndex(m.index(1, 0));
    EXPECT_EQ(t.AsString("R_NUMMER"), "2024-1149");
    // A click on "Nummer" sorts by R_NUMMER; the view stays on that invoice.
    emit view.horizontalHeader()->sectionClicked(1);
    EXPECT_EQ(t.IndexFieldNames(), "R_NUMMER");
    EXPECT_EQ(Cell(m, 0, 1), "2024-1146");
    EXPECT_EQ(Cell(m, view.currentIndex().row(), 1), "2024-1149");
    // The table's current row moves the view.
    ASSERT_TRUE(t.Locate("R_NUMMER", {Value(std::string("2024-1150"))}));
    EXPECT_EQ(view.currentIndex().row(), 4);
    EXPECT_TRUE(view.selectionModel()->isRowSelected(4, {}));
}

TEST(TableModel, EditedCellsArePostedOrRefusedWithTheRowUnchanged) {
    Table t = Archive();
    for (int i = 0; i < 3; ++i) Add(t, i + 1, "2024-110" + std::to_string(i), 10.0 * (i + 1));
    t.SetIndexFieldNames("R_NUMMER");
    t.MergeChangeLog();
    TGridColumns cols = Columns();
    cols.Find("R_ID")->ReadOnly = true;
    TTableModel m(&t, cols);
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QStringList refused;
    QObject::connect(&m, &TTableModel::EditRefused, [&](const QString& message) { refused << message; });
    std::vector<std::string> checked;
    m.SetEditCheck([&](const std::string& field, const Value& v) {
        checked.push_back(field);
        if (field == "R_NUMMER" && std::get<std::string>(v) == "gesperrt") throw std::runtime_error("Nicht erlaubt.");
    });

    EXPECT_FALSE(m.flags(m.index(0, 1)) & Qt::ItemIsEditable);   // not until the grid edits
    m.SetEditable(true);
    EXPECT_TRUE(m.flags(m.index(0, 1)) & Qt::ItemIsEditable);
    EXPECT_FALSE(m.flags(m.index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_FALSE(m.setData(m.index(0, 0), "9"));

    // Typed into the view's editor and taken with Enter: the row is posted
    // and moves to its place in the order.
    QTableView view;
    m.AttachView(&view);
    view.show();
    view.setCurrentIndex(m.index(0, 1));
    view.edit(m.index(0, 1));
    auto* editor = view.findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText("2024-1199");
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return t.ChangeCount() == 1; }, 2000));   // the delegate commits queued
    EXPECT_EQ(Cell(m, 2, 1), "2024-1199");
    EXPECT_EQ(t.AsString("R_NUMMER"), "2024-1199");
    EXPECT_EQ(t.ChangeCount(), 1);
    ExpectSameRows(m, t);

    EXPECT_TRUE(m.setData(m.index(0, 2), "29.02.2024"));
    EXPECT_EQ(Cell(m, 0, 2), "29.02.2024");
    EXPECT_TRUE(m.setData(m.index(0, 3), "1.234,50"));
    EXPECT_EQ(Cell(m, 0, 3), "1.234,50");
    const int changes = t.ChangeCount();

    // Refused: not a date, not an amount, the owner's check says no.
    EXPECT_FALSE(m.setData(m.index(1, 2), "30.02.2024"));
    EXPECT_FALSE(m.setData(m.index(1, 3), "zwölf"));
    EXPECT_FALSE(m.setData(m.index(1, 1), "gesperrt"));
    ASSERT_EQ(refused.size(), 3);
    EXPECT_EQ(refused[0], "\"30.02.2024\" ist kein gültiges Datum (TT.MM.JJJJ).");
    EXPECT_EQ(refused[2], "Nicht erlaubt.");
    EXPECT_EQ(t.ChangeCount(), changes);
    EXPECT_EQ(t.GetState(), Table::State::Browse);
    ExpectSameRows(m, t);
    EXPECT_EQ(checked.back(), "R_NUMMER");
}

namespace {

// Counts the cells the view asks for.
class CountingModel : public TTableModel {
public:
    using TTableModel::TTableModel;
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::DisplayRole) ++reads;
        return TTableModel::data(index, role);
    }
    mutable int reads = 0;
};

} // namespace

TEST(TableModel, ALargeTableIsReadOnlyWhereItIsShown) {
    // The rows written as a data packet and read as a table file is read.
    std::string xml = Archive().SaveToXml();
    std::string rows = "<ROWDATA>";
    for (int i = 0; i < 100000; ++i)
        rows += "<ROW R_ID=\"" + std::to_string(i) + "\" R_NUMMER=\"R" + std::to_string(1000000 + i) +
                "\" R_DATUM=\"20241104T00:00:00000\" R_BETRAG=\"" + std::to_string(i) + "\"/>";
    rows += "</ROWDATA>";
    const size_t at = xml.find("<ROWDATA/>");   // an empty table's rows
    ASSERT_NE(at, std::string::npos);
    xml.replace(at, 10, rows);
    Table t;
    t.LoadFromXml(xml, "Rechnungen.xml");
    ASSERT_EQ(t.RecordCount(), 100000);
    CountingModel m(&t, Columns());
    QTableView view;
    view.resize(900, 550);
    m.AttachView(&view);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(m.rowCount(), 100000);
    EXPECT_LT(m.reads, 2000);
    view.scrollToBottom();
    QCoreApplication::processEvents();
    EXPECT_LT(m.reads, 4000);
    EXPECT_EQ(Cell(m, 99999, 1), "R1099999");
}
