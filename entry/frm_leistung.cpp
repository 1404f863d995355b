#include "entry/frm_leistung.h"

#include <QAbstractItemDelegate>
#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QCompleter>
#include <QDateEdit>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

#include "lib/Basics/qt_Dialogs.h"
#include "lib/Basics/qt_TableModel.h"
#include "lib/base/DateTime.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

QString Euro(double v) { return QStringLiteral("€ ") + ToQ(FormatFloat("###,##0.00", v)); }

TGridColumns RowColumns(const Table& rows) {
    TGridColumns c = TGridColumns::FromFields(rows.Fields());
    for (TGridColumn& col : c.All()) col.Visible = false;
    c.SetGridColumn("Tarif", "Tarif-Nr.", 70);
    c.SetGridColumn("PosNum", "Pos.Nr", 65);
    c.SetGridColumn("Menge", "Menge", 60, ColumnAlign::Right);
    c.SetGridColumn("EPreis", "Einzelpreis", 80, ColumnAlign::Right);
    c.SetGridColumn("Text", "Leistungsposition", 250);
    c.SetGridColumn("USt", "USt", 45, ColumnAlign::Right);
    c.SetGridColumn("BPosNum", "Bundes-Pos.-Nr.", 95);
    c.SetGridColumn("MwStSatz", "zzgl. MwSt. %", 85, ColumnAlign::Right);
    for (const char* f : {"Menge", "EPreis", "USt", "MwStSatz"}) {
        c.Find(f)->Editable = true;
        c.Find(f)->Format = ColumnFormat::Amount;
        c.Find(f)->Pattern = "#,##0.00";
    }
    c.Find("BPosNum")->Editable = true;
    std::vector<TGridColumn> ordered;
    for (const char* f : {"Tarif", "PosNum", "Menge", "EPreis", "Text", "USt", "BPosNum", "MwStSatz"})
        ordered.push_back(*c.Find(f));
    for (const TGridColumn& col : c.All())
        if (!col.Visible) ordered.push_back(col);
    return TGridColumns(std::move(ordered));
}

// Paints the rows of discount positions in red and leaves everything else,
// editing included, to the grid's own delegate.
class TDiscountRows : public QAbstractItemDelegate {
public:
    TDiscountRows(QAbstractItemDelegate* inner, std::function<bool(int row)> discount, QObject* parent)
        : QAbstractItemDelegate(parent), inner_(inner), discount_(std::move(discount)) {
        connect(inner_, &QAbstractItemDelegate::commitData, this, &QAbstractItemDelegate::commitData);
        connect(inner_, &QAbstractItemDelegate::closeEditor, this, &QAbstractItemDelegate::closeEditor);
        connect(inner_, &QAbstractItemDelegate::sizeHintChanged, this, &QAbstractItemDelegate::sizeHintChanged);
    }
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem o(option);
        if (discount_(index.row())) {
            o.palette.setColor(QPalette::Text, Qt::red);
            o.palette.setColor(QPalette::HighlightedText, Qt::red);
        }
        inner_->paint(p, o, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& o, const QModelIndex& i) const override { return inner_->sizeHint(o, i); }
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& o, const QModelIndex& i) const override {
        return inner_->createEditor(parent, o, i);
    }
    void destroyEditor(QWidget* editor, const QModelIndex& i) const override { inner_->destroyEditor(editor, i); }
    void setEditorData(QWidget* editor, const QModelIndex& i) const override { inner_->setEditorData(editor, i); }
    void setModelData(QWidget* editor, QAbstractItemModel* m, const QModelIndex& i) const override {
        inner_->setModelData(editor, m, i);
    }
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& o, const QModelIndex& i) const override {
        inner_->updateEditorGeometry(editor, o, i);
    }
    bool editorEvent(QEvent* e, QAbstractItemModel* m, const QStyleOptionViewItem& o, const QModelIndex& i) override {
        return inner_->editorEvent(e, m, o, i);
    }
    // The view filters its editors' keys through its delegate.
    bool eventFilter(QObject* watched, QEvent* e) override {
        return static_cast<QObject*>(inner_)->eventFilter(watched, e);
    }

private:
    QAbstractItemDelegate* inner_;
    std::function<bool(int)> discount_;
};

TDateTime FromQDate(const QDate& d) { return EncodeDate(d.year(), d.month(), d.day()); }

bool IsEnter(QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

TfrmLeistung::TfrmLeistung(TTripEntry& entry, QWidget* parent) : QDialog(parent), entry_(entry), ui_(this) {
    setObjectName(QStringLiteral("frmLeistung"));
    setWindowTitle(ToQ(entry.Title()));
    const bool newTrips = entry.GetMode() == TTripEntry::Mode::NewTrips;

    auto* info = new QLabel(QStringLiteral("Versicherteninfo.. ") + ToQ(entry.InsuredInfo()));
    info->setObjectName(QStringLiteral("lblVersicherteninfo"));
    info->setWordWrap(true);

    datePanel_ = NewDatePanel();
    datePanel_->setVisible(newTrips);

    // ---- trip
    wagen_ = Line("edWagenNr", 9);
    zeit1_ = Line("edZeit1", 4, QStringLiteral("Uhrzeit Beginn, Beispiel 0900 für 9 Uhr "));
    zeit2_ = Line("edZeit2", 4, QStringLiteral("Uhrzeit Ende, Beispiel 0933 für 9:33 Uhr "));
    auto* times = new QHBoxLayout;
    times->addWidget(zeit1_);
    times->addWidget(new QLabel(QStringLiteral("-")));
    times->addWidget(zeit2_);
    times->addStretch();
    wagen_->setMaximumWidth(120);
    zeit1_->setMaximumWidth(60);
    zeit2_->setMaximumWidth(60);
    QWidget* fromBox = NewPlace(QStringLiteral("Abholort"), "edVon", TTripEntry::Side::Pickup, from_);
    QWidget* toBox = NewPlace(QStringLiteral("Zielort"), "edNach", TTripEntry::Side::Destination, to_);
    FillAddressLists();
    km_ = Line("edKM", 10);
    connect(km_, &QLineEdit::editingFinished, this, [this] {
        if (!km_->isModified()) return;
        km_->setModified(false);
        const auto km = ParseGermanNumber(FromQ(km_->text()));
        entry_.SetKm(km ? *km : 0);
        ShowPrice();
    });
    tariff_ = new QComboBox;
    tariff_->setObjectName(QStringLiteral("cbTarif"));
    tariff_->installEventFilter(this);
    tariff_->addItem(QString());
    for (const std::string& n : entry_.TariffNames()) tariff_->addItem(ToQ(n));
    connect(tariff_, &QComboBox::activated, this, [this](int index) {
        if (index <= 0) return;
        Collect();
        entry_.ChooseTariff(FromQ(tariff_->itemText(index)));
        ShowPrice();
    });

    auto* trip = new QFormLayout;
    trip->addRow(QStringLiteral("Taxi (Wagen) Nr."), wagen_);
    trip->addRow(QStringLiteral("Fahrzeit (von-bis)"), times);

    // ---- positions and price
    rows_ = NewGrid("grdLeistungsposition");
    rows_->installEventFilter(this);
    rowsModel_ = new TTableModel(&entry_.Rows(), RowColumns(entry_.Rows()), this);
    rowsModel_->SetCellWriter([this](Table& t, const TGridColumn& c, const std::string& text) {
        StoreCell(t, c, text);
        entry_.RowEdited();
        ShowPrice();
    });
    rowsModel_->AttachView(rows_);
    rows_->setItemDelegate(new TDiscountRows(
        rows_->itemDelegate(),
        [this](int row) {
            const Table& t = entry_.Rows();
            const Value& v = t.ValueAt(row, t.FieldIndex("PCT_Abschlag"));
            return !IsNullValue(v) && std::get<double>(v) != 0;
        },
        rows_));
    sum_ = new QLabel;
    sum_->setObjectName(QStringLiteral("lblSumme"));
    coPaymentCaption_ = new QLabel;
    coPaymentCaption_->setObjectName(QStringLiteral("lblZuzahlung"));
    coPayment_ = Line("edZuzahlung", 10);
    connect(coPayment_, &QLineEdit::textEdited, this, [this] { entry_.coPaymentTyped = true; });
    coPaymentKind_ = new QComboBox;
    coPaymentKind_->setObjectName(QStringLiteral("cbZuzahlungsart"));
    coPaymentKind_->addItems({QStringLiteral("prozentual"), QStringLiteral("Grenzbetrag")});
    connect(coPaymentKind_, &QComboBox::activated, this, [this](int index) {
        entry_.coPaymentLimit = index == 1;
        entry_.coPaymentTyped = true;
    });
    amount_ = new QLabel;
    amount_->setObjectName(QStringLiteral("lblRechnungsbetrag"));
    auto* price = new QGridLayout;
    price->addWidget(new QLabel(QStringLiteral("Fahrstrecke")), 0, 0);
    price->addWidget(km_, 0, 1);
    price->addWidget(new QLabel(QStringLiteral("Tarif (Vorlage)")), 0, 2);
    price->addWidget(tariff_, 0, 3);
    price->addWidget(new QLabel(QStringLiteral("Summe Leistungspos.")), 1, 2);
    price->addWidget(sum_, 1, 3, Qt::AlignRight);
    price->addWidget(coPaymentCaption_, 2, 2);
    auto* co = new QHBoxLayout;
    co->addWidget(coPayment_);
    co->addWidget(coPaymentKind_);
    price->addLayout(co, 2, 3);
    price->addWidget(new QLabel(QStringLiteral("Rechnungsbetrag")), 3, 2);
    price->addWidget(amount_, 3, 3, Qt::AlignRight);
    km_->setMaximumWidth(90);
    price->setColumnStretch(3, 1);

    // ---- commands
    save_ = Button("btnSpeichern", QStringLiteral("Speichern"));
    save_->setShortcut(QKeySequence(Qt::Key_F10));
    connect(save_, &QPushButton::clicked, this, [this] { Save(false); });
    saveReturn_ = Button("btnHinZurueck", QStringLiteral("Hin-&& Zurück Speichern"));
    saveReturn_->setShortcut(QKeySequence(Qt::Key_F11));
    saveReturn_->setVisible(newTrips);
    connect(saveReturn_, &QPushButton::clicked, this, [this] { Save(true); });
    auto* swap = Button("btnTauschen", QStringLiteral("Rückfahrt (Abhol- Ziel- Ort tauschen)"));
    auto* swapAction = new QAction(QStringLiteral("Start - Zielort vertauschen "), this);
    swapAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
    connect(swapAction, &QAction::triggered, this, [this] {
        Collect();
        entry_.SwapPlaces();
        ShowValues();
    });
    connect(swap, &QPushButton::clicked, swapAction, &QAction::trigger);
    auto* reset = Button("btnZuruecksetzen", QStringLiteral("Zurücksetzen"));
    connect(reset, &QPushButton::clicked, this, [this] {
        entry_.Reset();
        ShowValues();
    });
    auto* cancel = Button("btnAbbrechen", QStringLiteral("Abbrechen"));
    cancel->setShortcut(QKeySequence(QStringLiteral("Ctrl+Del")));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    // The commands also stand in the window's context menu.
    addAction(swapAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    auto* places = new QHBoxLayout;
    places->addWidget(fromBox);
    places->addWidget(toBox);
    auto* right = new QVBoxLayout;
    right->addLayout(trip);
    right->addLayout(places);
    right->addLayout(price);
    right->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(datePanel_);
    top->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(swap);
    buttons->addWidget(reset);
    buttons->addStretch();
    buttons->addWidget(save_);
    buttons->addWidget(saveReturn_);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(info);
    layout->addLayout(top);
    layout->addWidget(new QLabel(QStringLiteral("Leistungsposition")));
    layout->addWidget(rows_, 1);
    layout->addLayout(buttons);

    // The keyboard flow.
    for (QWidget* w : std::initializer_list<QWidget*>{
             wagen_, zeit1_, zeit2_, from_.plz, from_.ort, from_.land, from_.info, to_.plz, to_.ort, to_.land,
             to_.info, km_, coPayment_, save_, saveReturn_})
        w->installEventFilter(this);

    ShowValues();
    if (!entry_.dates.empty()) {
        const DateParts first = Decode(entry_.dates.front());
        date_->setDate(QDate(first.year, first.month, first.day));
        calendar_->setSelectedDate(date_->date());
    }
    resize(1000, 720);
    if (newTrips)
        date_->setFocus();
    else
        from_.street->setFocus();
}

TfrmLeistung::~TfrmLeistung() { rowsModel_->SetTable(nullptr); }

TripEntryResult TfrmLeistung::Execute(TTripEntry& entry, QWidget* parent) {
    TfrmLeistung window(entry, parent);
    window.exec();
    return window.Result();
}

QLineEdit* TfrmLeistung::Line(const char* name, int maxLength, const QString& hint) {
    auto* e = new QLineEdit;
    e->setObjectName(QString::fromUtf8(name));
    e->setMaxLength(maxLength);
    if (!hint.isEmpty()) e->setToolTip(hint);
    return e;
}

QPushButton* TfrmLeistung::Button(const char* name, const QString& caption) {
    auto* b = new QPushButton(caption);
    b->setObjectName(QString::fromUtf8(name));
    b->setAutoDefault(false);
    return b;
}

QWidget* TfrmLeistung::NewDatePanel() {
    auto* panel = new QGroupBox(QStringLiteral("Termine"));
    auto* layout = new QVBoxLayout(panel);
    date_ = new QDateEdit(QDate::currentDate());
    date_->setObjectName(QStringLiteral("dtTermin"));
    date_->setCalendarPopup(true);
    date_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    date_->installEventFilter(this);
    if (auto* line = date_->findChild<QLineEdit*>()) line->installEventFilter(this);
    // A day chosen in the drop-down calendar is added as it closes.
    connect(date_->calendarWidget(), &QCalendarWidget::clicked, this, [this](const QDate& d) { AddDate(d); });
    calendar_ = new QCalendarWidget;
    calendar_->setObjectName(QStringLiteral("calMonat"));
    calendar_->setGridVisible(true);
    calendar_->setFirstDayOfWeek(Qt::Monday);
    calendar_->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    calendar_->setSelectedDate(QDate::currentDate());
    connect(calendar_, &QCalendarWidget::activated, this, [this](const QDate& d) { AddDate(d); });

    auto* weekdays = new QHBoxLayout;
    weekdays->setSpacing(2);
    const char* names[7] = {"MO", "DI", "MI", "DO", "FR", "SA", "SO"};
    for (int day = 1; day <= 7; ++day) {
        auto* b = Button((std::string("btn") + names[day - 1]).c_str(), QString::fromLatin1(names[day - 1]));
        b->setMaximumWidth(36);
        connect(b, &QPushButton::clicked, this, [this, day] {
            entry_.AddWeekdays(FromQDate(calendar_->selectedDate()), day);
            ShowDates();
        });
        weekdays->addWidget(b);
    }
    auto* workdays = Button("btnWerktage", QStringLiteral("alle Werktage"));
    connect(workdays, &QPushButton::clicked, this, [this] {
        entry_.AddWorkingDays(FromQDate(calendar_->selectedDate()));
        ShowDates();
    });
    dates_ = new QListWidget;
    dates_->setObjectName(QStringLiteral("lbTermine"));
    dates_->installEventFilter(this);
    datesLabel_ = new QLabel;
    datesLabel_->setObjectName(QStringLiteral("lblTermine"));
    auto* clear = Button("btnTermineLoeschen", QStringLiteral("alle Termine löschen"));
    connect(clear, &QPushButton::clicked, this, [this] {
        entry_.dates.clear();
        ShowDates();
    });
    layout->addWidget(date_);
    layout->addWidget(calendar_);
    layout->addLayout(weekdays);
    layout->addWidget(workdays);
    layout->addWidget(datesLabel_);
    layout->addWidget(dates_, 1);
    layout->addWidget(clear);
    return panel;
}

QWidget* TfrmLeistung::NewPlace(const QString& title, const char* prefix, TTripEntry::Side side, PlaceEdits& e) {
    const QString hintSide = title;
    auto name = [&](const char* field) { return std::string(prefix) + field; };
    auto* box = new QGroupBox;
    auto* form = new QFormLayout(box);
    auto* label = new QLabel(title);
    label->setObjectName(QString::fromUtf8(("lbl" + std::string(prefix + 2)).c_str()));
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    form->addRow(label);
    e.street = new QComboBox;
    e.street->setObjectName(QString::fromUtf8(name("Strasse").c_str()));
    e.street->setEditable(true);
    e.street->setInsertPolicy(QComboBox::NoInsert);
    e.street->completer()->setCaseSensitivity(Qt::CaseInsensitive);
    e.street->setToolTip(QStringLiteral("Fahrt %1 Strasse, 30 Stellen").arg(hintSide));
    e.street->setMinimumContentsLength(24);
    e.street->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // The list takes the keys and passes them to its line, which has the mouse.
    e.street->installEventFilter(this);
    e.street->lineEdit()->installEventFilter(this);
    connect(e.street, &QComboBox::activated, this, [this, side] { LeaveStreet(side); });
    e.plz = Line(name("Plz").c_str(), 7, QStringLiteral("Fahrt %1 PLZ, 7 Stellen").arg(hintSide));
    e.ort = Line(name("Ort").c_str(), 25, QStringLiteral("Fahrt %1 Ort, 25 Stellen").arg(hintSide));
    e.land = Line(name("Land").c_str(), 3, QStringLiteral("Fahrt %1 Land, 3 Stellen (NUR wenn Ausland)").arg(hintSide));
    e.info = Line(name("Info").c_str(), 180);
    form->addRow(QStringLiteral("Strasse"), e.street);
    form->addRow(QStringLiteral("PLZ"), e.plz);
    form->addRow(QStringLiteral("Ort"), e.ort);
    form->addRow(QStringLiteral("Land"), e.land);
    form->addRow(QStringLiteral("Info"), e.info);

    const bool pickup = side == TTripEntry::Side::Pickup;
    auto* saveAddress = Button(pickup ? "btnAbholortSpeichern" : "btnZielortSpeichern",
                               QStringLiteral("Adresse speichern"));
    auto* action =
        new QAction(pickup ? QStringLiteral("Abholort speichern") : QStringLiteral("Zielort speichern"), this);
    action->setShortcut(QKeySequence(pickup ? QStringLiteral("Ctrl+A") : QStringLiteral("Ctrl+Z")));
    connect(action, &QAction::triggered, this, [this, side] {
        Collect();
        if (entry_.SaveAddress(side)) FillAddressLists();
    });
    connect(saveAddress, &QPushButton::clicked, action, &QAction::trigger);
    addAction(action);
    form->addRow(QString(), saveAddress);
    if (pickup) {
        fromLabel_ = label;
        label->installEventFilter(this);
    }
    return box;
}

// Both lists hold every address in the layout in force; what the street
// fields hold stays.
void TfrmLeistung::FillAddressLists() {
    QStringList entries;
    for (const std::string& e : entry_.AddressEntries()) entries << ToQ(e);
    for (QComboBox* box : {from_.street, to_.street}) {
        const QSignalBlocker block(box);
        const QString text = box->currentText();
        box->clear();
        box->addItems(entries);
        box->setCurrentIndex(-1);
        box->setEditText(text);
    }
}

// The street field's text; an entry completed from the typed letters in
// their case is the list's entry.
QString TfrmLeistung::StreetText(PlaceEdits& e) {
    const QString text = e.street->currentText();
    const int listed = e.street->findText(text, Qt::MatchFixedString);
    return listed >= 0 ? e.street->itemText(listed) : text;
}

void TfrmLeistung::LeaveStreet(TTripEntry::Side side) {
    PlaceEdits& e = Edits(side);
    if (entry_.TakeStreet(side, FromQ(StreetText(e)))) ShowPlace(entry_.Place(side), e);
}

void TfrmLeistung::AddDate(const QDate& date) {
    if (!date.isValid()) return;
    entry_.AddDate(FromQDate(date));
    calendar_->setSelectedDate(date);
    ShowDates();
    const QList<QListWidgetItem*> found = dates_->findItems(ToQ(TTripEntry::DateText(FromQDate(date))), Qt::MatchExactly);
    if (!found.isEmpty()) dates_->setCurrentItem(found.first());
}

// Enter moves the cursor on through the window; true when it was taken.
bool TfrmLeistung::EnterPressed(QObject* watched) {
    auto go = [](QWidget* w) {
        w->setFocus(Qt::TabFocusReason);
        if (auto* e = qobject_cast<QLineEdit*>(w)) e->selectAll();
        return true;
    };
    auto afterPrice = [&] { return go(coPayment_->isVisible() ? static_cast<QWidget*>(coPayment_) : save_); };
    if (watched == date_) {
        AddDate(date_->date());
        return go(wagen_);
    }
    if (watched == wagen_) return go(from_.street);
    for (TTripEntry::Side side : {TTripEntry::Side::Pickup, TTripEntry::Side::Destination}) {
        PlaceEdits& e = Edits(side);
        const bool pickup = side == TTripEntry::Side::Pickup;
        if (watched == e.street || watched == e.street->lineEdit()) {
            const bool wasEntry = e.street->currentText().contains(QStringLiteral("«"));
            LeaveStreet(side);
            if (wasEntry) return go(pickup ? static_cast<QWidget*>(to_.street) : km_);
            return go(e.plz);
        }
        if (watched == e.plz) return go(e.ort);
        if (watched == e.ort) return go(pickup ? static_cast<QWidget*>(to_.street) : km_);
        if (watched == e.land) return go(e.plz);
        if (watched == e.info) return go(pickup ? static_cast<QWidget*>(to_.street) : km_);
    }
    if (watched == zeit1_ || watched == zeit2_) return go(km_);
    if (watched == km_) return go(tariff_);
    if (watched == tariff_) {
        if (tariff_->view()->isVisible()) return false;
        rows_->setFocus(Qt::TabFocusReason);
        return true;
    }
    // While a cell is edited its editor has the keys, not the grid.
    if (watched == rows_) return afterPrice();
    if (watched == coPayment_) return go(saveReturn_->isVisible() ? saveReturn_ : save_);
    if (watched == save_ || watched == saveReturn_) {
        static_cast<QPushButton*>(watched)->click();
        return true;
    }
    return false;
}

bool TfrmLeistung::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // The window's Ctrl keys go before the fields' own (select all, undo, delete word).
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::ControlModifier &&
            (key->key() == Qt::Key_A || key->key() == Qt::Key_Z || key->key() == Qt::Key_T ||
             key->key() == Qt::Key_Delete))
            return true;
        break;
    }
    case QEvent::KeyPress:
        if (IsEnter(event) && EnterPressed(watched)) return true;
        if (watched == dates_ && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete && dates_->currentRow() >= 0) {
            entry_.RemoveDate(size_t(dates_->currentRow()));
            ShowDates();
            return true;
        }
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == date_ || (watched->parent() == date_ && qobject_cast<QLineEdit*>(watched))) {
            AddDate(date_->date());
            return true;
        }
        if (watched == fromLabel_ || watched == from_.street->lineEdit()) {
            Collect();
            entry_.SwitchAddressLayout();
            FillAddressLists();
            return true;
        }
        break;
    case QEvent::FocusIn: {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (watched == coPayment_) {
            Collect();
            entry_.EnteringCoPayment();
            ShowPrice();
            coPayment_->selectAll();
        } else if (watched == rows_ && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) &&
                   !entry_.Rows().IsEmpty()) {
            // Into the unit price of a meter-price row, else into the quantity.
            const int row = std::max(0, rowsModel_->CurrentRow());
            rows_->setCurrentIndex(rowsModel_->index(row, rowsModel_->ColumnOf(entry_.EntryColumn())));
        }
        break;
    }
    case QEvent::FocusOut: {
        if (static_cast<QFocusEvent*>(event)->reason() == Qt::PopupFocusReason) break;
        if (watched == from_.street) LeaveStreet(TTripEntry::Side::Pickup);
        if (watched == to_.street) LeaveStreet(TTripEntry::Side::Destination);
        if (watched == coPayment_ || watched == rows_) {
            Collect();
            entry_.ComputePrice();
            ShowPrice();
        }
        break;
    }
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

// What the fields hold goes into the entry.
void TfrmLeistung::Collect() {
    auto text = [](QLineEdit* e) { return Trim(FromQ(e->text())); };
    for (TTripEntry::Side side : {TTripEntry::Side::Pickup, TTripEntry::Side::Destination}) {
        PlaceEdits& e = Edits(side);
        TTripAddress& a = entry_.Place(side);
        a.plz = text(e.plz);
        a.ort = text(e.ort);
        a.land = UpperCase(text(e.land));
        a.info = text(e.info);
        // Last: an entry of the list brings its own postcode and town.
        if (entry_.TakeStreet(side, FromQ(StreetText(e)))) ShowPlace(a, e);
    }
    entry_.zeit1 = text(zeit1_);
    entry_.zeit2 = text(zeit2_);
    entry_.wagenNr = StrToIntDef(text(wagen_), 0);
    if (auto km = ParseGermanNumber(text(km_)); km && *km != entry_.km) entry_.SetKm(*km);
    if (entry_.coPaymentTyped)
        if (auto co = ParseGermanNumber(text(coPayment_))) entry_.coPayment = *co;
    entry_.coPaymentLimit = coPaymentKind_->currentIndex() == 1;
}

void TfrmLeistung::ShowPlace(const TTripAddress& a, PlaceEdits& e) {
    {
        const QSignalBlocker block(e.street);
        e.street->setCurrentIndex(-1);
        e.street->setEditText(ToQ(a.strasse));
    }
    e.plz->setText(ToQ(a.plz));
    e.ort->setText(ToQ(a.ort));
    e.land->setText(ToQ(a.land));
    e.info->setText(ToQ(a.info));
}

void TfrmLeistung::ShowDates() {
    const int current = dates_->currentRow();
    dates_->clear();
    for (const TDateTime& d : entry_.dates) dates_->addItem(ToQ(TTripEntry::DateText(d)));
    if (current >= 0 && current < dates_->count()) dates_->setCurrentRow(current);
    datesLabel_->setText(ToQ(entry_.DatesLabel()));
}

void TfrmLeistung::ShowValues() {
    ShowDates();
    wagen_->setText(entry_.wagenNr ? QString::number(entry_.wagenNr) : QString());
    zeit1_->setText(ToQ(entry_.zeit1));
    zeit2_->setText(ToQ(entry_.zeit2));
    ShowPlace(entry_.pickup, from_);
    ShowPlace(entry_.destination, to_);
    const int t = tariff_->findText(ToQ(entry_.Tariff()));
    tariff_->setCurrentIndex(t < 0 ? 0 : t);
    ShowPrice();
}

void TfrmLeistung::ShowPrice() {
    km_->setText(ToQ(ReplaceAll(FloatToText(entry_.km), ".", ",")));
    sum_->setText(Euro(entry_.Price()));
    const bool shown = entry_.CoPaymentShown();
    coPaymentCaption_->setText(shown ? QStringLiteral("abzgl. Zuzahlung") : QStringLiteral("Zuzahlungsfrei"));
    coPayment_->setVisible(shown);
    coPaymentKind_->setVisible(shown);
    coPayment_->setText(ToQ(FormatFloat("0.00", entry_.coPayment)));
    coPaymentKind_->setCurrentIndex(entry_.coPaymentLimit ? 1 : 0);
    amount_->setText(Euro(entry_.InvoiceAmount()));
}

void TfrmLeistung::Save(bool withReturnTrips) {
    Collect();
    if (!entry_.Save(withReturnTrips)) {
        ShowValues();
        return;
    }
    result_ = withReturnTrips ? TripEntryResult::SavedWithReturn : TripEntryResult::Saved;
    accept();
}

} // namespace brenvo
