#pragma once

// The one item model of every grid over a table of the table engine. It
// holds no copy of the table: the row count comes from the table, and a
// cell is read from the table when the view paints it, so a grid over a
// table of 100,000 rows opens and scrolls at once. The model follows the
// table's notifications row by row (inserted, changed, moved by the sort
// order, filtered out, removed), re-reads everything when the table reports
// a reset (loaded, filtered, emptied), and keeps the view's current row and
// the table's current row together in both directions.
//
// The columns come from a TGridColumns list (field, caption, width,
// alignment, German display form). A click on a column title makes that
// column the table's sort order.
//
// A grid may let the user change cells (SetEditable): the text typed is read
// as the column's type wants it (ParseCell), checked by the owner's check,
// and posted to its row at once, so the table's change log holds it until
// the owner saves. A text that cannot be read or is refused leaves the row
// as it was; EditRefused carries the German message for the owner to show
// (queued: the editor is still closing when it is sent).
//
// The table must outlive the model, or be detached with SetTable(nullptr)
// before it goes (for example when the stores release their tables).

#include <QAbstractTableModel>
#include <QPointer>

#include <functional>
#include <string>
#include <vector>

#include "lib/Basics/GridColumns.h"
#include "lib/dataset/Table.h"

class QTableView;

namespace brenvo {

class TTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TTableModel(QObject* parent = nullptr);
    TTableModel(Table* table, TGridColumns columns, QObject* parent = nullptr);
    ~TTableModel() override;

    void SetTable(Table* table);
    Table* GetTable() const { return table_; }
    void SetColumns(TGridColumns columns);
    const TGridColumns& Columns() const { return columns_; }
    // The field shown in a model column; "" when out of range.
    std::string FieldOf(int column) const;
    // The model column showing a field; -1 when it is not shown.
    int ColumnOf(const std::string& field) const;

    // Sets the view up for the table: column widths, titles that sort on a
    // click, whole rows selected, the current row following the table's and
    // the table's following the view's.
    void AttachView(QTableView* view);

    // The table's current row (0-based among the visible rows), -1 when none.
    int CurrentRow() const;

    // Cells of columns that are not ReadOnly can be changed.
    void SetEditable(bool editable);
    bool Editable() const { return editable_; }
    // Runs before a changed cell is posted (the table's current row is the
    // row to change); throws Error with the message to refuse the value.
    using EditCheck = std::function<void(const std::string& field, const Value& value)>;
    void SetEditCheck(EditCheck check) { editCheck_ = std::move(check); }
    // The column whose title is underlined (the one a search looks in); -1 none.
    void SetMarkedColumn(int column);
    int MarkedColumn() const { return marked_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    // Sorts the table by the column's field (the table sorts ascending
    // only); a field that cannot be sorted on leaves the order as it was.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

signals:
    // The table's current row moved (or the rows were re-read).
    void CurrentRowChanged(int row);
    // A changed cell was not taken; the message says why.
    void EditRefused(const QString& message);

private:
    void Subscribe();
    void Unsubscribe();
    void OnChange(const Table::Change& change);
    void Reread();
    void ResolveColumns();
    void FollowTable(int row);
    // The table's row shown as model row `row`; -1 for a row already gone.
    int TableRow(int row) const;

    Table* table_ = nullptr;
    int listener_ = 0;
    TGridColumns columns_;
    std::vector<TGridColumn> shown_;
    std::vector<int> fieldIndex_;        // per shown column: the table's column, -1 when missing
    std::vector<FieldType> fieldType_;
    uint64_t columnsId_ = 0;
    int rows_ = 0;                       // the row count the views know
    bool sorting_ = false;               // inside sort(): the table's reset is a layout change
    bool following_ = false;             // moving one side after the other
    // The table tells a change after it happened, but while a view is told
    // that rows are about to be inserted, removed or moved it still reads
    // the rows as they were: the change under way, to read around it.
    enum class Pending { None, Insert, Remove, Move };
    Pending pending_ = Pending::None;
    int pendingOld_ = -1, pendingNew_ = -1;
    QPointer<QTableView> view_;
    bool editable_ = false;
    EditCheck editCheck_;
    int marked_ = -1;
};

} // namespace brenvo
