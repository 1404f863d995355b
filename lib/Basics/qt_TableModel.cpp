#include "lib/Basics/qt_TableModel.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>

#include "lib/Basics/qt_Dialogs.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

Qt::Alignment AlignmentOf(ColumnAlign a) {
    switch (a) {
    case ColumnAlign::Left: return Qt::AlignLeft | Qt::AlignVCenter;
    case ColumnAlign::Right: return Qt::AlignRight | Qt::AlignVCenter;
    case ColumnAlign::Center: return Qt::AlignHCenter | Qt::AlignVCenter;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

} // namespace

TTableModel::TTableModel(QObject* parent) : QAbstractTableModel(parent) {}

TTableModel::TTableModel(Table* table, TGridColumns columns, QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)) {
    SetTable(table);
}

TTableModel::~TTableModel() { Unsubscribe(); }

void TTableModel::Subscribe() {
    if (!table_) return;
    listener_ = table_->SubscribeChanges([this](const Table::Change& c) { OnChange(c); });
}

void TTableModel::Unsubscribe() {
    if (table_ && listener_) table_->Unsubscribe(listener_);
    listener_ = 0;
}

void TTableModel::SetTable(Table* table) {
    beginResetModel();
    Unsubscribe();
    table_ = table;
    Subscribe();
    ResolveColumns();
    rows_ = table_ && table_->Active() ? table_->RecordCount() : 0;
    endResetModel();
    emit CurrentRowChanged(CurrentRow());
}

void TTableModel::SetColumns(TGridColumns columns) {
    beginResetModel();
    columns_ = std::move(columns);
    ResolveColumns();
    endResetModel();
    if (view_) AttachView(view_);
}

void TTableModel::ResolveColumns() {
    shown_ = columns_.VisibleColumns();
    fieldIndex_.assign(shown_.size(), -1);
    fieldType_.assign(shown_.size(), FieldType::String);
    columnsId_ = table_ ? table_->ColumnsId() : 0;
    if (!table_ || !table_->Active()) return;
    for (size_t i = 0; i < shown_.size(); ++i) {
        const int f = table_->FieldIndex(shown_[i].Field);
        fieldIndex_[i] = f;
        if (f >= 0) fieldType_[i] = table_->Field(f).type;
    }
}

std::string TTableModel::FieldOf(int column) const {
    return column >= 0 && size_t(column) < shown_.size() ? shown_[size_t(column)].Field : std::string();
}

int TTableModel::ColumnOf(const std::string& field) const {
    for (size_t i = 0; i < shown_.size(); ++i)
        if (SameText(shown_[i].Field, field)) return int(i);
    return -1;
}

int TTableModel::CurrentRow() const {
    if (!table_ || !table_->Active() || table_->IsEmpty()) return -1;
    return table_->RecNo() - 1;
}

int TTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int TTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(shown_.size()); }

QVariant TTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !table_ || index.row() >= rows_ || size_t(index.column()) >= shown_.size()) return {};
    const size_t c = size_t(index.column());
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(AlignmentOf(shown_[c].Align));
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::EditRole) return {};
    const int f = fieldIndex_[c];
    const int row = TableRow(index.row());
    if (f < 0 || row < 0 || row >= table_->RecordCount()) return {};
    const QString text = ToQ(FormatCell(table_->ValueAt(row, f), shown_[c], fieldType_[c]));
    if (role == Qt::ToolTipRole && text.isEmpty()) return {};
    return text;
}

QVariant TTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || size_t(section) >= shown_.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole) return ToQ(shown_[size_t(section)].Title());
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(AlignmentOf(shown_[size_t(section)].Align));
    if (role == Qt::FontRole && section == marked_) {
        QFont font;
        font.setUnderline(true);
        return font;
    }
    return {};
}

void TTableModel::SetMarkedColumn(int column) {
    if (column == marked_) return;
    const int before = marked_;
    marked_ = column;
    if (before >= 0) emit headerDataChanged(Qt::Horizontal, before, before);
    if (column >= 0) emit headerDataChanged(Qt::Horizontal, column, column);
}

void TTableModel::SetEditable(bool editable) {
    if (editable == editable_) return;
    editable_ = editable;
    if (rows_ > 0 && !shown_.empty()) emit dataChanged(index(0, 0), index(rows_ - 1, int(shown_.size()) - 1));
}

Qt::ItemFlags TTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (!index.isValid() || !editable_ || !table_ || size_t(index.column()) >= shown_.size()) return f;
    const size_t c = size_t(index.column());
    if (!shown_[c].ReadOnly && fieldIndex_[c] >= 0 && fieldType_[c] != FieldType::Nested) f |= Qt::ItemIsEditable;
    return f;
}

bool TTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable) || index.row() >= rows_) return false;
    const size_t c = size_t(index.column());
    const int f = fieldIndex_[c];
    const std::string text = FromQ(value.toString());
    if (text == FormatCell(table_->ValueAt(index.row(), f), shown_[c], fieldType_[c])) return true;   // nothing changed
    try {
        const Value v = ParseCell(text, table_->Field(f));
        if (!table_->GotoBookmark(table_->BookmarkAt(index.row()))) return false;
        if (editCheck_) editCheck_(shown_[c].Field, v);
        table_->Edit();
        try {
            table_->SetValue(shown_[c].Field, v);
            table_->Post();
        } catch (...) {
            table_->Cancel();
            throw;
        }
    } catch (const std::exception& e) {
        emit EditRefused(ToQ(e.what()));
        return false;
    }
    return true;
}

void TTableModel::sort(int column, Qt::SortOrder) {
    if (!table_ || !table_->Active() || column < 0 || size_t(column) >= shown_.size()) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Persistent indexes (the view's current row and selection) stay on
    // their rows, found again by bookmark.
    const QModelIndexList before = persistentIndexList();
    std::vector<Table::Bookmark> marks;
    marks.reserve(size_t(before.size()));
    for (const QModelIndex& i : before) marks.push_back(table_->BookmarkAt(i.row()));
    sorting_ = true;
    try {
        table_->SetIndexFieldNames(shown_[size_t(column)].Field);
    } catch (const std::exception&) {
        // A column the table cannot sort on: the order stays as it was.
    }
    sorting_ = false;
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const int row = table_->RowOf(marks[size_t(i)]);
        after.push_back(row < 0 ? QModelIndex() : index(row, before[i].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    FollowTable(CurrentRow());
}

void TTableModel::Reread() {
    beginResetModel();
    ResolveColumns();
    rows_ = table_ && table_->Active() ? table_->RecordCount() : 0;
    endResetModel();
    FollowTable(CurrentRow());
}

int TTableModel::TableRow(int row) const {
    const int o = pendingOld_, n = pendingNew_;
    switch (pending_) {
    case Pending::None: return row;
    case Pending::Insert: return row < n ? row : row + 1;
    case Pending::Remove: return row < o ? row : row == o ? -1 : row - 1;
    case Pending::Move:
        if (row == o) return n;
        if (o < n) return row < o || row > n ? row : row - 1;
        return row < n || row > o ? row : row + 1;
    }
    return row;
}

void TTableModel::OnChange(const Table::Change& c) {
    if (c.event == TableEvent::Reset || table_->ColumnsId() != columnsId_) {
        if (!sorting_) Reread();
        return;
    }
    if (c.event == TableEvent::Scrolled) {
        FollowTable(c.newRow);
        return;
    }
    const int lastColumn = std::max(0, int(shown_.size()) - 1);
    const int oldRow = c.event == TableEvent::RowInserted ? -1 : c.oldRow;
    const int newRow = c.event == TableEvent::RowDeleted ? -1 : c.newRow;
    pendingOld_ = oldRow;
    pendingNew_ = newRow;
    if (oldRow < 0 && newRow >= 0) {
        pending_ = Pending::Insert;
        beginInsertRows({}, newRow, newRow);
        pending_ = Pending::None;
        ++rows_;
        endInsertRows();
    } else if (oldRow >= 0 && newRow < 0) {
        pending_ = Pending::Remove;
        beginRemoveRows({}, oldRow, oldRow);
        pending_ = Pending::None;
        --rows_;
        endRemoveRows();
    } else if (oldRow >= 0 && oldRow == newRow) {
        emit dataChanged(index(newRow, 0), index(newRow, lastColumn));
    } else if (oldRow >= 0) {
        // The row moved with the sort order: Qt counts the destination
        // before the row is taken out.
        pending_ = Pending::Move;
        beginMoveRows({}, oldRow, oldRow, {}, newRow > oldRow ? newRow + 1 : newRow);
        pending_ = Pending::None;
        endMoveRows();
        emit dataChanged(index(newRow, 0), index(newRow, lastColumn));
    }
    // Whatever the table did that the events did not say (never expected):
    // read everything again rather than show wrong rows.
    if (rows_ != table_->RecordCount()) Reread();
    else if (newRow >= 0 && table_->RecNo() - 1 == newRow) FollowTable(newRow);
}

void TTableModel::FollowTable(int row) {
    emit CurrentRowChanged(row);
    if (!view_ || following_) return;
    QItemSelectionModel* sel = view_->selectionModel();
    if (!sel || row < 0 || row >= rows_) return;
    if (sel->currentIndex().row() == row) return;
    following_ = true;
    const int column = std::max(0, sel->currentIndex().column());
    const QModelIndex target = index(row, column);
    sel->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view_->scrollTo(target);
    following_ = false;
}

void TTableModel::AttachView(QTableView* view) {
    const bool first = view_ != view;
    view_ = view;
    if (!view) return;
    if (view->model() != this) view->setModel(this);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSortingEnabled(false);   // a sort only on a click: attaching must not change the table's order
    view->setWordWrap(false);
    QHeaderView* vertical = view->verticalHeader();
    vertical->setVisible(false);
    vertical->setSectionResizeMode(QHeaderView::Fixed);
    vertical->setDefaultSectionSize(view->fontMetrics().height() + 6);
    QHeaderView* header = view->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setHighlightSections(false);
    for (size_t i = 0; i < shown_.size(); ++i) view->setColumnWidth(int(i), shown_[i].Width);
    if (!first) return;
    connect(header, &QHeaderView::sectionClicked, this, [this, header](int section) {
        sort(section);
        const QSignalBlocker block(header);
        header->setSortIndicator(section, Qt::AscendingOrder);
    });
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (following_ || !table_ || !current.isValid()) return;
                following_ = true;
                table_->GotoBookmark(table_->BookmarkAt(current.row()));
                following_ = false;
            });
    FollowTable(CurrentRow());
}

} // namespace brenvo
