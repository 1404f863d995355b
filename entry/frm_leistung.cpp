#include "entry/frm_leistung.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

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
    c.SetGridColumn("Text", "Leistungsposition", 260);
    c.SetGridColumn("USt", "USt", 45, ColumnAlign::Right);
    for (const char* f : {"Menge", "EPreis", "USt"}) {
        c.Find(f)->Editable = true;
        c.Find(f)->Format = ColumnFormat::Amount;
        c.Find(f)->Pattern = "#,##0.00";
    }
    std::vector<TGridColumn> ordered;
    for (const char* f : {"Tarif", "PosNum", "Menge", "EPreis", "Text", "USt"}) ordered.push_back(*c.Find(f));
    for (const TGridColumn& col : c.All())
        if (!col.Visible) ordered.push_back(col);
    return TGridColumns(std::move(ordered));
}

QDate ToQDate(TDateTime d) {
    const DateParts p = Decode(d);
    return QDate(p.year, p.month, p.day);
}

TDateTime FromQDate(const QDate& d) { return EncodeDate(d.year(), d.month(), d.day()); }

} // namespace

TfrmLeistung::TfrmLeistung(TTripEntry& entry, QWidget* parent) : QDialog(parent), entry_(entry), ui_(this) {
    setObjectName(QStringLiteral("frmLeistung"));
    setWindowTitle(ToQ(entry.Title()));
    const bool newTrips = entry.GetMode() == TTripEntry::Mode::NewTrips;

    auto* info = new QLabel(QStringLiteral("Versicherteninfo.. ") + ToQ(entry.InsuredInfo()));
    info->setObjectName(QStringLiteral("lblVersicherteninfo"));
    info->setWordWrap(true);

    // ---- appointment dates
    datePanel_ = new QGroupBox(QStringLiteral("Termine"));
    auto* dateLayout = new QVBoxLayout(datePanel_);
    date_ = new QDateEdit(QDate::currentDate());
    date_->setObjectName(QStringLiteral("dtTermin"));
    date_->setCalendarPopup(true);
    date_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    date_->installEventFilter(this);
    auto* add = new QPushButton(QStringLiteral("Termin hinzufügen"));
    add->setObjectName(QStringLiteral("btnTerminHinzufuegen"));
    add->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, [this] { AddDate(); });
    dates_ = new QListWidget;
    dates_->setObjectName(QStringLiteral("lbTermine"));
    dates_->installEventFilter(this);
    datesLabel_ = new QLabel;
    auto* clear = new QPushButton(QStringLiteral("alle Termine löschen"));
    clear->setObjectName(QStringLiteral("btnTermineLoeschen"));
    clear->setAutoDefault(false);
    connect(clear, &QPushButton::clicked, this, [this] {
        entry_.dates.clear();
        ShowValues();
    });
    auto* dateRow = new QHBoxLayout;
    dateRow->addWidget(date_);
    dateRow->addWidget(add);
    dateLayout->addLayout(dateRow);
    dateLayout->addWidget(dates_);
    dateLayout->addWidget(datesLabel_);
    dateLayout->addWidget(clear);
    datePanel_->setVisible(newTrips);

    // ---- trip
    wagen_ = Line("edWagenNr", 9);
    zeit1_ = Line("edZeit1", 4, QStringLiteral("Uhrzeit Beginn, Beispiel 0900 für 9 Uhr "));
    zeit2_ = Line("edZeit2", 4, QStringLiteral("Uhrzeit Ende, Beispiel 0933 für 9:33 Uhr "));
    auto* times = new QHBoxLayout;
    times->addWidget(zeit1_);
    times->addWidget(new QLabel(QStringLiteral("-")));
    times->addWidget(zeit2_);
    auto place = [&](const QString& title, const char* prefix, QLineEdit* (&edits)[4], const QString& hintSide) {
        auto* box = new QGroupBox(title);
        auto* form = new QFormLayout(box);
        const char* names[4] = {"Strasse", "Plz", "Ort", "Land"};
        const int widths[4] = {30, 7, 25, 3};
        const QString captions[4] = {QStringLiteral("Strasse"), QStringLiteral("PLZ"), QStringLiteral("Ort"),
                                     QStringLiteral("Land")};
        const QString hints[4] = {QStringLiteral("Fahrt %1 Strasse, 30 Stellen").arg(hintSide),
                                  QStringLiteral("Fahrt %1 PLZ, 7 Stellen").arg(hintSide),
                                  QStringLiteral("Fahrt %1 Ort, 25 Stellen").arg(hintSide),
                                  QStringLiteral("Fahrt %1 Land, 3 Stellen (NUR wenn Ausland)").arg(hintSide)};
        for (int i = 0; i < 4; ++i) {
            edits[i] = Line((std::string(prefix) + names[i]).c_str(), widths[i], hints[i]);
            form->addRow(captions[i], edits[i]);
        }
        return box;
    };
    QGroupBox* fromBox = place(QStringLiteral("Abholort"), "edVon", from_, QStringLiteral("Abholort"));
    QGroupBox* toBox = place(QStringLiteral("Zielort"), "edNach", to_, QStringLiteral("Zielort"));
    km_ = Line("edKM", 10);
    connect(km_, &QLineEdit::editingFinished, this, [this] {
        if (!km_->isModified()) return;
        km_->setModified(false);
        const auto km = ParseGermanNumber(FromQ(km_->text()));
        entry_.SetKm(km ? *km : 0);
        ShowValues();
    });
    tariff_ = new QComboBox;
    tariff_->setObjectName(QStringLiteral("cbTarif"));
    tariff_->addItem(QString());
    for (const std::string& n : entry_.TariffNames()) tariff_->addItem(ToQ(n));
    connect(tariff_, &QComboBox::activated, this, [this](int index) {
        if (index <= 0) return;
        Collect();
        entry_.ChooseTariff(FromQ(tariff_->itemText(index)));
        ShowValues();
    });

    auto* trip = new QFormLayout;
    trip->addRow(QStringLiteral("Taxi (Wagen) Nr."), wagen_);
    trip->addRow(QStringLiteral("Fahrzeit (von-bis)"), times);
    trip->addRow(QStringLiteral("Fahrstrecke"), km_);
    trip->addRow(QStringLiteral("Tarif (Vorlage)"), tariff_);

    // ---- positions and price
    rows_ = NewGrid("grdLeistungsposition");
    rowsModel_ = new TTableModel(&entry_.Rows(), RowColumns(entry_.Rows()), this);
    rowsModel_->SetCellWriter([this](Table& t, const TGridColumn& c, const std::string& text) {
        StoreCell(t, c, text);
        entry_.ComputePrice();
        ShowPrice();
    });
    rowsModel_->AttachView(rows_);
    sum_ = new QLabel;
    sum_->setObjectName(QStringLiteral("lblSumme"));
    coPaymentCaption_ = new QLabel;
    coPayment_ = Line("edZuzahlung", 10);
    connect(coPayment_, &QLineEdit::textEdited, this, [this] { entry_.coPaymentTyped = true; });
    coPaymentKind_ = new QComboBox;
    coPaymentKind_->setObjectName(QStringLiteral("cbZuzahlungsart"));
    coPaymentKind_->addItems({QStringLiteral("prozentual"), QStringLiteral("Grenzbetrag")});
    amount_ = new QLabel;
    amount_->setObjectName(QStringLiteral("lblRechnungsbetrag"));
    auto* price = new QGridLayout;
    price->addWidget(new QLabel(QStringLiteral("Summe Leistungspos.")), 0, 0);
    price->addWidget(sum_, 0, 1, Qt::AlignRight);
    price->addWidget(coPaymentCaption_, 1, 0);
    auto* co = new QHBoxLayout;
    co->addWidget(coPayment_);
    co->addWidget(coPaymentKind_);
    price->addLayout(co, 1, 1);
    price->addWidget(new QLabel(QStringLiteral("Rechnungsbetrag")), 2, 0);
    price->addWidget(amount_, 2, 1, Qt::AlignRight);

    // ---- commands
    auto* save = new QPushButton(QStringLiteral("Speichern"));
    save->setObjectName(QStringLiteral("btnSpeichern"));
    save->setAutoDefault(false);
    save->setShortcut(QKeySequence(Qt::Key_F10));
    connect(save, &QPushButton::clicked, this, [this] { Save(false); });
    saveReturn_ = new QPushButton(QStringLiteral("Hin-&& Zurück Speichern"));
    saveReturn_->setObjectName(QStringLiteral("btnHinZurueck"));
    saveReturn_->setAutoDefault(false);
    saveReturn_->setShortcut(QKeySequence(Qt::Key_F11));
    saveReturn_->setVisible(newTrips);
    connect(saveReturn_, &QPushButton::clicked, this, [this] { Save(true); });
    auto* swap = new QPushButton(QStringLiteral("Rückfahrt (Abhol- Ziel- Ort tauschen)"));
    swap->setObjectName(QStringLiteral("btnTauschen"));
    swap->setAutoDefault(false);
    swap->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
    connect(swap, &QPushButton::clicked, this, [this] {
        Collect();
        entry_.SwapPlaces();
        ShowValues();
    });
    auto* cancel = new QPushButton(QStringLiteral("Abbrechen"));
    cancel->setObjectName(QStringLiteral("btnAbbrechen"));
    cancel->setAutoDefault(false);
    cancel->setShortcut(QKeySequence(QStringLiteral("Ctrl+Del")));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* places = new QHBoxLayout;
    places->addWidget(fromBox);
    places->addWidget(toBox);
    auto* right = new QVBoxLayout;
    right->addLayout(trip);
    right->addLayout(places);
    auto* top = new QHBoxLayout;
    top->addWidget(datePanel_);
    top->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(swap);
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(saveReturn_);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(info);
    layout->addLayout(top);
    layout->addWidget(new QLabel(QStringLiteral("Leistungsposition")));
    layout->addWidget(rows_, 1);
    layout->addLayout(price);
    layout->addLayout(buttons);

    ShowValues();
    resize(940, 640);
    if (newTrips)
        date_->setFocus();
    else
        from_[0]->setFocus();
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

void TfrmLeistung::AddDate() {
    entry_.AddDate(FromQDate(date_->date()));
    ShowValues();
}

bool TfrmLeistung::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (watched == date_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            AddDate();
            wagen_->setFocus();
            return true;
        }
        if (watched == dates_ && key == Qt::Key_Delete && dates_->currentRow() >= 0) {
            entry_.dates.erase(entry_.dates.begin() + dates_->currentRow());
            ShowValues();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// What the fields hold goes into the entry.
void TfrmLeistung::Collect() {
    auto text = [](QLineEdit* e) { return Trim(FromQ(e->text())); };
    entry_.pickup = {text(from_[0]), text(from_[1]), text(from_[2]), UpperCase(text(from_[3]))};
    entry_.destination = {text(to_[0]), text(to_[1]), text(to_[2]), UpperCase(text(to_[3]))};
    entry_.zeit1 = text(zeit1_);
    entry_.zeit2 = text(zeit2_);
    entry_.wagenNr = StrToIntDef(text(wagen_), 0);
    if (auto km = ParseGermanNumber(text(km_)); km && *km != entry_.km) entry_.SetKm(*km);
    if (entry_.coPaymentTyped)
        if (auto co = ParseGermanNumber(text(coPayment_))) entry_.coPayment = *co;
    entry_.coPaymentLimit = coPaymentKind_->currentIndex() == 1;
}

void TfrmLeistung::ShowValues() {
    dates_->clear();
    for (const TDateTime& d : entry_.dates) dates_->addItem(ToQ(TTripEntry::DateText(d)));
    datesLabel_->setText(ToQ(entry_.DatesLabel()));
    if (!entry_.dates.empty()) date_->setDate(ToQDate(entry_.dates.back()));
    wagen_->setText(entry_.wagenNr ? QString::number(entry_.wagenNr) : QString());
    zeit1_->setText(ToQ(entry_.zeit1));
    zeit2_->setText(ToQ(entry_.zeit2));
    const TTripAddress* sides[2] = {&entry_.pickup, &entry_.destination};
    QLineEdit* const* edits[2] = {from_, to_};
    for (int s = 0; s < 2; ++s) {
        edits[s][0]->setText(ToQ(sides[s]->strasse));
        edits[s][1]->setText(ToQ(sides[s]->plz));
        edits[s][2]->setText(ToQ(sides[s]->ort));
        edits[s][3]->setText(ToQ(sides[s]->land));
    }
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
