#include "mainwindow/frm_KTDaten.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <optional>

#include "lib/Basics/qt_Dialogs.h"
#include "lib/Basics/qt_TableModel.h"
#include "lib/Basics/qt_Widgets.h"
#include "lib/base/Strings.h"
#include "mainwindow/KTMaintenance.h"
#include "mainwindow/frm_main.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

const char* ObjectSuffix(KTTable t) {
    switch (t) {
    case KTTable::Kostentraeger: return "Kostentraeger";
    case KTTable::Zuordnung: return "Zuordnung";
    case KTTable::Anschriften: return "Anschriften";
    case KTTable::Transferdaten: return "Transferdaten";
    }
    return "";
}

} // namespace

// The widths of the columns are those of a font whose digits are six pixels
// wide (an IK fills 60); they grow with the font the grid has.
TGridColumns TfrmKTDaten::ScaledColumns(TGridColumns columns) const {
    const double factor = std::max(1.0, grid_->fontMetrics().horizontalAdvance(QLatin1Char('0')) / 6.0);
    for (TGridColumn& c : columns.All()) c.Width = int(c.Width * factor + 0.5);
    return columns;
}

TfrmKTDaten::TfrmKTDaten(TfrmMain& main, QWidget* parent)
    : QWidget(parent), main_(main), logic_(main.Controller().KTMaintenance()) {
    setObjectName(QStringLiteral("tsKTDaten"));
    auto* layout = new QVBoxLayout(this);

    // "Auswahl", the check boxes, the search field and the IK commands.
    auto* top = new QHBoxLayout;
    auto* auswahl = new QGroupBox(QStringLiteral("Auswahl"));
    auswahl->setObjectName(QStringLiteral("rgAuswahl"));
    auto* choices = new QHBoxLayout(auswahl);
    for (const TKTTableChoice& c : KTTableChoices()) {
        auto* rb = new QRadioButton(ToQ(c.Caption));
        rb->setObjectName(QStringLiteral("rb") + QLatin1String(ObjectSuffix(c.Table)));
        const KTTable table = c.Table;
        connect(rb, &QRadioButton::toggled, this, [this, table](bool on) {
            if (on && !updating_) Run([&] { Logic().ChooseTable(table); });
        });
        choices->addWidget(rb);
        choice_[table] = rb;
    }
    top->addWidget(auswahl);
    auto* checks = new QVBoxLayout;
    ohneVerweisungen_ = new QCheckBox(QStringLiteral("ohne Verweisungen"));
    ohneVerweisungen_->setObjectName(QStringLiteral("cbOhneVerweisungen"));
    datenEmpfaenger_ = new QCheckBox(QStringLiteral("Daten-Empfänger"));
    datenEmpfaenger_->setObjectName(QStringLiteral("cbDatenEmpfaenger"));
    connect(ohneVerweisungen_, &QCheckBox::toggled, this, [this](bool on) {
        if (!updating_) Run([&] { Logic().SetOhneVerweisungen(on); });
    });
    connect(datenEmpfaenger_, &QCheckBox::toggled, this, [this](bool on) {
        if (!updating_) Run([&] { Logic().SetDatenEmpfaenger(on); });
    });
    checks->addWidget(ohneVerweisungen_);
    checks->addWidget(datenEmpfaenger_);
    top->addLayout(checks);
    top->addStretch();

    auto* searchBox = new QVBoxLayout;
    auto* searchLabel = new QLabel(QStringLiteral("Sucheingabe"));
    search_ = new QLineEdit;
    search_->setObjectName(QStringLiteral("edSuche"));
    search_->setToolTip(QStringLiteral("Sucheingabe. Gesucht wird in dem Feld das unten markiert ist."));
    search_->setMinimumWidth(160);
    search_->installEventFilter(this);
    searchLabel->setBuddy(search_);
    connect(search_, &QLineEdit::textEdited, this, [this](const QString& text) { Logic().Search(FromQ(text)); });
    searchBox->addWidget(searchLabel);
    searchBox->addWidget(search_);
    top->addLayout(searchBox);
    auto* ikButtons = new QVBoxLayout;
    ikButtons->addWidget(ActionButton(main_.Action(MainAction::KTAdd)));
    ikButtons->addWidget(ActionButton(main_.Action(MainAction::KTDelete)));
    ikButtons->addWidget(ActionButton(main_.Action(MainAction::KTImport)));
    top->addLayout(ikButtons);
    layout->addLayout(top);

    // The grid above, the detail panel and the report below.
    auto* split = new QSplitter(Qt::Vertical);
    split->setObjectName(QStringLiteral("splitKTDaten"));
    grid_ = new QTableView;
    grid_->setObjectName(QStringLiteral("gridKT"));
    grid_->setToolTip(QStringLiteral("Auflösen mit Doppelklick"));
    grid_->setContextMenuPolicy(Qt::CustomContextMenu);
    // A double click resolves; a key (F2 or typing) starts an edit.
    grid_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    model_ = new TTableModel(this);
    // Typed cells are checked as the panel's fields are and taken at once.
    model_->SetCellWriter([this](Table& t, const TGridColumn& column, const std::string& text) {
        StoreCell(t, column, text, [this](const std::string& field, const Value& v) { Logic().CheckValue(field, v); });
    });
    model_->AttachView(grid_);
    connect(model_, &TTableModel::CurrentRowChanged, this, [this] { FillDetails(); });
    connect(model_, &QAbstractItemModel::dataChanged, this, [this] {
        FillDetails();
        main_.ActionStateChanged();
    });
    connect(grid_, &QAbstractItemView::doubleClicked, this,
            [this] { main_.Action(MainAction::KTDatenAnzeigen)->trigger(); });
    connect(grid_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        main_.ShowContextMenu(ContextControl::CostBearerGrid, grid_->viewport()->mapToGlobal(pos));
    });
    // The column of the current cell, or a title clicked, is the one searched.
    connect(grid_->selectionModel(), &QItemSelectionModel::currentColumnChanged, this,
            [this](const QModelIndex& current) {
                if (!updating_ && current.isValid()) Logic().MarkColumn(model_->FieldOf(current.column()));
            });
    connect(grid_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (!updating_) Logic().MarkColumn(model_->FieldOf(section));
    });
    split->addWidget(grid_);

    auto* bottom = new QWidget;
    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    BuildPanels(bottom, bottomLayout);
    auto* ikDaten = new QGroupBox(QStringLiteral("IK-Daten"));
    ikDaten->setObjectName(QStringLiteral("gbIKDaten"));
    auto* ikLayout = new QVBoxLayout(ikDaten);
    report_ = new QPlainTextEdit;
    report_->setObjectName(QStringLiteral("memoIKDaten"));
    report_->setReadOnly(true);
    report_->setLineWrapMode(QPlainTextEdit::NoWrap);
    report_->setFont(TextViewFont());
    report_->setContextMenuPolicy(Qt::CustomContextMenu);
    ikLayout->addWidget(report_);
    bottomLayout->addWidget(ikDaten, 1);
    split->addWidget(bottom);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    layout->addWidget(split, 1);

    Logic().OnChange = [this](TKTMaintenance::Change c) { OnLogicChange(int(c)); };
    Logic().OnCommit = [this] { CommitDetails(); };
    WireActions();
    connect(&main_, &TfrmMain::StartupDone, this, [this] {
        if (isVisible()) Run([&] { Logic().Enter(); });
    });
    ShowTable();
}

// The controller (with the logic and the tables) is gone by now; the logic
// said so (Gone) and the model let go of its table then.
TfrmKTDaten::~TfrmKTDaten() = default;

void TfrmKTDaten::BuildPanels(QWidget* parent, QHBoxLayout* layout) {
    for (const TKTTableChoice& c : KTTableChoices()) {
        const TKTDetailPanel* panel = KTDetailPanel(c.Table);
        if (!panel) continue;
        auto* box = new QGroupBox(parent);
        box->setObjectName(QStringLiteral("pnl") + QLatin1String(ObjectSuffix(c.Table)));
        auto* form = new QFormLayout(box);
        for (const TKTDetailGroup& g : panel->Groups) {
            // The first field of a group on its line, the others below it
            // side by side (Name 2 and 3; postcode and town).
            auto* lines = new QVBoxLayout;
            QHBoxLayout* row = nullptr;
            QLineEdit* first = nullptr;
            for (const char* field : g.Fields) {
                auto* edit = new QLineEdit;
                edit->setObjectName(QStringLiteral("ed") + QLatin1String(field));
                edit->setEnabled(false);
                // Typing marks the table as being edited; Enter or leaving the
                // field takes the text into the row.
                connect(edit, &QLineEdit::textEdited, this, [this] { Logic().SetEditing(true); });
                connect(edit, &QLineEdit::editingFinished, this, [this, edit] { CommitDetail(edit); });
                details_[field] = edit;
                if (!first) {
                    first = edit;
                    lines->addWidget(edit);
                    continue;
                }
                if (!row) {
                    row = new QHBoxLayout;
                    lines->addLayout(row);
                }
                row->addWidget(edit, SameText(field, "ANS_PLZ") ? 1 : 3);
            }
            auto* label = new QLabel(ToQ(g.Label));
            label->setBuddy(first);
            form->addRow(label, lines);
        }
        QPushButton* save = ActionButton(main_.Action(MainAction::KTSpeichern), ToQ(panel->ButtonCaption));
        save->setObjectName(QStringLiteral("btnSpeichern") + QLatin1String(ObjectSuffix(c.Table)));
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(save);
        form->addRow(buttons);
        box->hide();
        layout->addWidget(box, 1);
        panels_[c.Table] = box;
    }
}

void TfrmKTDaten::WireActions() {
    const auto handler = [this](MainAction id, std::function<void(TKTMaintenance&)> run) {
        main_.SetActionHandler(id, [this, run] {
            CommitDetails();
            run(Logic());
        });
    };
    handler(MainAction::KTDatenAnzeigen, [](TKTMaintenance& l) { l.actKTDatenAnzeigenExecute(); });
    handler(MainAction::KTSpeichern, [](TKTMaintenance& l) { l.actKTSpeichernExecute(); });
    handler(MainAction::KTAdd, [](TKTMaintenance& l) { l.actKTAddExecute(); });
    handler(MainAction::KTDelete, [](TKTMaintenance& l) { l.actKTDeleteExecute(); });
    handler(MainAction::KTZeigeKostentraeger, [](TKTMaintenance& l) { l.actKTZeigeKostentraegerExecute(); });
    handler(MainAction::KTZeigeVersichertenkarte, [](TKTMaintenance& l) { l.actKTZeigeVersichertenkarteExecute(); });
    handler(MainAction::KTZeigeAnschrift, [](TKTMaintenance& l) { l.actKTZeigeAnschriftExecute(); });
    handler(MainAction::KTZeigeVersandkanal, [](TKTMaintenance& l) { l.actKTZeigeVersandkanalExecute(); });

    // F12 on the grid; the jumps in the report's context menu.
    grid_->addAction(main_.Action(MainAction::KTDatenAnzeigen));
    auto* menu = new QMenu(report_);
    menu->setObjectName(QStringLiteral("pmIKDaten"));
    for (MainAction id : {MainAction::KTZeigeKostentraeger, MainAction::KTZeigeVersichertenkarte,
                          MainAction::KTZeigeAnschrift, MainAction::KTZeigeVersandkanal})
        menu->addAction(main_.Action(id));
    connect(report_, &QWidget::customContextMenuRequested, this,
            [this, menu](const QPoint& pos) { menu->popup(report_->viewport()->mapToGlobal(pos)); });

    // Nothing on this page can be changed while the program is busy (a run
    // reads these tables); "Daten anzeigen" is enabled exactly when not.
    QAction* resolve = main_.Action(MainAction::KTDatenAnzeigen);
    const auto follow = [this, resolve] {
        for (QWidget* w : {static_cast<QWidget*>(grid_), static_cast<QWidget*>(search_)}) w->setEnabled(resolve->isEnabled());
        for (auto& [t, rb] : choice_) rb->setEnabled(resolve->isEnabled());
        ohneVerweisungen_->setEnabled(resolve->isEnabled());
        datenEmpfaenger_->setEnabled(resolve->isEnabled());
        FillDetails();
    };
    connect(resolve, &QAction::changed, this, follow);
    follow();
}

void TfrmKTDaten::Run(const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& e) {
        ShowMessageDialog(this, MessageKind::Error, e.what());
    }
}

// ============================================================ from the logic

void TfrmKTDaten::OnLogicChange(int change) {
    switch (TKTMaintenance::Change(change)) {
    case TKTMaintenance::Change::Table:
        ShowTable();
        break;
    case TKTMaintenance::Change::Column:
        model_->SetMarkedColumn(model_->ColumnOf(Logic().MarkedField()));
        break;
    case TKTMaintenance::Change::Search:
        search_->setText(ToQ(Logic().SearchText()));
        break;
    case TKTMaintenance::Change::Report:
        report_->setPlainText(DisplayText(Logic().ReportText()));
        break;
    case TKTMaintenance::Change::Data:
        FillDetails();
        main_.ActionStateChanged();
        break;
    case TKTMaintenance::Change::Gone:
        gone_ = true;
        model_->SetTable(nullptr);
        break;
    }
}

void TfrmKTDaten::ShowTable() {
    TKTMaintenance& logic = Logic();
    updating_ = true;
    Table* table = logic.ShownTable();
    model_->SetTable(table);
    model_->SetColumns(ScaledColumns(logic.Columns()));
    model_->SetMarkedColumn(model_->ColumnOf(logic.MarkedField()));
    if (logic.HasChoice()) choice_[logic.Shown()]->setChecked(true);
    ohneVerweisungen_->setChecked(logic.OhneVerweisungen());
    datenEmpfaenger_->setChecked(logic.DatenEmpfaenger());
    // The detail fields of other tables are let go; the shown table's panel
    // takes the current row, each field no longer than its column.
    for (auto& [t, box] : panels_) box->setVisible(table && logic.HasChoice() && t == logic.Shown());
    for (auto& [field, edit] : details_) {
        const int i = table ? table->FieldIndex(field) : -1;
        edit->setMaxLength(i >= 0 && table->Field(i).width > 0 ? table->Field(i).width : 32767);
    }
    // The first column is the marked one: the current cell moves there.
    const QModelIndex current = grid_->selectionModel()->currentIndex();
    if (model_->rowCount() > 0)
        grid_->selectionModel()->setCurrentIndex(model_->index(std::max(0, current.row()), 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    updating_ = false;
    FillDetails();
}

void TfrmKTDaten::FillDetails() {
    TKTMaintenance& logic = Logic();
    Table* table = logic.ShownTable();
    const bool enabled = main_.Action(MainAction::KTDatenAnzeigen)->isEnabled();
    for (auto& [field, edit] : details_) {
        const bool shown = table && table->HasField(field) && !table->IsEmpty() && edit->isVisibleTo(this);
        // A field the user is typing in keeps what is typed.
        if (edit->isModified()) continue;
        edit->setText(shown ? ToQ(logic.FieldText(field)) : QString());
        edit->setCursorPosition(0);   // a long name shows its beginning
        edit->setModified(false);
        edit->setEnabled(shown && enabled);
    }
}

// ============================================================ detail fields

QLineEdit* TfrmKTDaten::DetailField(const std::string& field) const {
    auto it = details_.find(field);
    return it == details_.end() || !it->second->isVisibleTo(this) ? nullptr : it->second;
}

bool TfrmKTDaten::CommitDetail(QLineEdit* edit) {
    if (!edit->isModified()) return true;
    std::string field;
    for (auto& [f, e] : details_)
        if (e == edit) field = f;
    edit->setModified(false);
    try {
        Logic().SetField(field, FromQ(edit->text()));
    } catch (const std::exception& e) {
        // The row keeps its value; the field shows it again.
        FillDetails();
        ShowMessageDialog(this, MessageKind::Error, e.what());
        return false;
    }
    return true;
}

bool TfrmKTDaten::CommitDetails() {
    bool ok = true;
    for (auto& [field, edit] : details_)
        if (edit->isModified()) ok = CommitDetail(edit) && ok;
    return ok;
}

// ============================================================ events

void TfrmKTDaten::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous() && !gone_) Run([&] { Logic().Enter(); });
}

void TfrmKTDaten::hideEvent(QHideEvent* event) {
    if (!event->spontaneous() && !gone_) {
        CommitDetails();
        Logic().Leave();
    }
    QWidget::hideEvent(event);
}

bool TfrmKTDaten::eventFilter(QObject* watched, QEvent* event) {
    // Ctrl+Insert and Ctrl+Delete in the search field add and delete the IK
    // typed there (the field would otherwise copy and delete a word).
    if (watched == search_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool ctrl = key->modifiers() == Qt::ControlModifier;
        std::optional<MainAction> id;
        if (ctrl && key->key() == Qt::Key_Insert) id = MainAction::KTAdd;
        if (ctrl && key->key() == Qt::Key_Delete) id = MainAction::KTDelete;
        if (id) {
            event->accept();
            if (event->type() == QEvent::KeyPress) main_.Action(*id)->trigger();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace brenvo
