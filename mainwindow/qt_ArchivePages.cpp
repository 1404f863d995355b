#include "mainwindow/qt_ArchivePages.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

#include "lib/Basics/qt_Dialogs.h"
#include "lib/Basics/qt_TableModel.h"
#include "lib/Basics/qt_Widgets.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

QDate ToQDate(TDateTime d) {
    const DateParts p = Decode(d);
    return QDate(p.year, p.month, p.day);
}

TDateTime FromQDate(const QDate& d) { return EncodeDate(d.year(), d.month(), d.day()); }

QDateEdit* DateField(const QString& name) {
    auto* edit = new QDateEdit;
    edit->setObjectName(name);
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    edit->setCalendarPopup(true);
    return edit;
}

} // namespace

// ============================================================ TArchivePage

TArchivePage::TArchivePage(const QString& gridName, QWidget* parent) : QWidget(parent) {
    grid_ = new QTableView;
    grid_->setObjectName(gridName);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setContextMenuPolicy(Qt::CustomContextMenu);
    grid_->setAlternatingRowColors(true);
    grid_->horizontalHeader()->setStretchLastSection(true);
    model_ = new TTableModel(this);
    model_->AttachView(grid_);
}

Table* TArchivePage::GetTable() const { return model_->GetTable(); }

void TArchivePage::Attach(Table* table, TGridColumns columns) {
    if (!table || table == GetTable()) {
        model_->SetTable(table);
        return;
    }
    model_->SetColumns(std::move(columns));
    model_->SetTable(table);
    const std::vector<TGridColumn> shown = model_->Columns().VisibleColumns();
    const QFontMetrics metrics = grid_->fontMetrics();
    QHeaderView* header = grid_->horizontalHeader();
    for (int i = 0; i < int(shown.size()); ++i) {
        int width = std::max(shown[size_t(i)].Width, header->sectionSizeHint(i));
        const int field = table->FieldIndex(shown[size_t(i)].Field);
        const std::string widest = field < 0 ? "" : WidestCellText(shown[size_t(i)], table->Field(field));
        if (!widest.empty()) width = std::max(width, metrics.horizontalAdvance(ToQ(widest)) + 12);
        grid_->setColumnWidth(i, width);
    }
}

// ============================================================ "Archiv Rechnung"

TInvoiceArchivePage::TInvoiceArchivePage(TMainController& controller, QAction* print, QWidget* parent)
    : TArchivePage(QStringLiteral("grdRechnungen"), parent), controller_(controller) {
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);

    search_ = new QLineEdit;
    search_->setObjectName(QStringLiteral("edSuchen"));
    search_->setClearButtonEnabled(true);
    search_->setMaximumWidth(160);
    auto* searchLabel = new QLabel(QStringLiteral("&Suchen"));
    searchLabel->setBuddy(search_);
    filter_ = new QCheckBox(QStringLiteral("&Filtern"));
    filter_->setObjectName(QStringLiteral("chkFiltern"));
    range_ = new QLabel(QStringLiteral("Rechnungsdatum:"));
    from_ = DateField(QStringLiteral("dtVon"));
    bis_ = new QLabel(QStringLiteral("bis"));
    to_ = DateField(QStringLiteral("dtBis"));

    auto* bar = new QHBoxLayout;
    bar->addWidget(searchLabel);
    bar->addWidget(search_);
    bar->addSpacing(16);
    bar->addWidget(filter_);
    bar->addWidget(range_);
    bar->addWidget(from_);
    bar->addWidget(bis_);
    bar->addWidget(to_);
    bar->addStretch();
    bar->addWidget(ActionButton(print));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(grid_, 1);

    connect(search_, &QLineEdit::textChanged, this, [this] { Changed(); });
    connect(filter_, &QCheckBox::toggled, this, [this] { Changed(); });
    connect(from_, &QDateEdit::dateChanged, this, [this] { Changed(); });
    connect(to_, &QDateEdit::dateChanged, this, [this] { Changed(); });
    ShowFilter();
}

void TInvoiceArchivePage::SetTable(Table* table) {
    Attach(table, table ? InvoiceArchiveColumns(table->Fields()) : TGridColumns());
}

void TInvoiceArchivePage::ShowFilter() {
    const TInvoiceArchiveFilter& f = controller_.InvoiceArchiveFilter();
    showing_ = true;
    if (search_->text() != ToQ(f.Search)) search_->setText(ToQ(f.Search));
    filter_->setChecked(f.Filtern);
    from_->setDate(ToQDate(f.From));
    to_->setDate(ToQDate(f.To));
    showing_ = false;
    // The date range shows while "Filtern" is checked.
    for (QWidget* w : {static_cast<QWidget*>(range_), static_cast<QWidget*>(from_), static_cast<QWidget*>(bis_),
                       static_cast<QWidget*>(to_)})
        w->setVisible(f.Filtern);
}

void TInvoiceArchivePage::Changed() {
    if (showing_) return;
    TInvoiceArchiveFilter f = controller_.InvoiceArchiveFilter();
    f.Search = FromQ(search_->text());
    f.Filtern = filter_->isChecked();
    f.From = FromQDate(from_->date());
    f.To = FromQDate(to_->date());
    controller_.SetInvoiceArchiveFilter(f);
    ShowFilter();
}

std::string TInvoiceArchivePage::CurrentNumber() const {
    Table* t = GetTable();
    if (!t || !t->Active() || t->IsEmpty()) return "";
    return t->AsString("R_NUMMER");
}

// ============================================================ "Archiv Aufträge"

TOrderArchivePage::TOrderArchivePage(QWidget* parent) : TArchivePage(QStringLiteral("grdAuftraege"), parent) {
    grid_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid_);
}

void TOrderArchivePage::SetTable(Table* table) {
    Attach(table, table ? OrderArchiveColumns(table->Fields()) : TGridColumns());
}

int64_t TOrderArchivePage::CurrentId() const {
    Table* t = GetTable();
    if (!t || !t->Active() || t->IsEmpty()) return 0;
    return t->AsInteger("A_ID");
}

std::vector<int64_t> TOrderArchivePage::SelectedIds() const {
    std::vector<int64_t> ids;
    Table* t = GetTable();
    if (!t || !t->Active()) return ids;
    const int field = t->FieldIndex("A_ID");
    QModelIndexList rows = grid_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& row : rows) {
        if (field < 0 || row.row() >= t->RecordCount()) continue;
        const Value& v = t->ValueAt(row.row(), field);
        if (const auto* i = std::get_if<int64_t>(&v)) ids.push_back(*i);
    }
    return ids;
}

} // namespace brenvo
