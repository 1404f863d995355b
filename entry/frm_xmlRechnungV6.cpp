#include "entry/frm_xmlRechnungV6.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "entry/TripEntry.h"
#include "entry/frm_leistung.h"
#include "entry/frm_versicherte.h"
#include "entry/qt_Muster4.h"
#include "lib/Basics/qt_Dialogs.h"
#include "lib/Basics/qt_TableModel.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

using L = InvoiceLevel;

int WidthOf(L level, const char* field) {
    const std::vector<FieldDef> fields = level == L::Rechnung ? InvoiceHeaderFields() : InvoiceCaseFields();
    for (const FieldDef& f : fields)
        if (f.name == field) {
            if (f.type == FieldType::String) return f.width;
            if (f.type == FieldType::DateTime) return 10;
            return 12;
        }
    return 0;
}

QLabel* Caption(const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text);
    l->setBuddy(buddy);
    return l;
}

TGridColumns TripColumns(bool editable) {
    TGridColumns c = TGridColumns::FromFields(InvoiceTripFields());
    for (TGridColumn& col : c.All()) col.Visible = false;
    struct Col {
        const char* field;
        const char* caption;
        int width;
        ColumnAlign align;
    };
    const Col shown[] = {{"Datum", "Datum", 78, ColumnAlign::Left},
                         {"WagenNr", "Taxi", 45, ColumnAlign::Right},
                         {"BruttoSum", "Preis", 70, ColumnAlign::Right},
                         {"ZuZaArt", "Z.Art", 40, ColumnAlign::Center},
                         {"ZuZaBetrag", "Zu-Betrag", 70, ColumnAlign::Right},
                         {"KM", "km", 55, ColumnAlign::Right},
                         {"VON_STRASSE", "von", 170, ColumnAlign::Left},
                         {"NACH_STRASSE", "nach", 170, ColumnAlign::Left},
                         {"EinzelReNr", "E-Re-Nr", 55, ColumnAlign::Right},
                         {"IKLE", "LE", 80, ColumnAlign::Left}};
    std::vector<TGridColumn> ordered;
    for (const Col& s : shown) {
        c.SetGridColumn(s.field, s.caption, s.width, s.align);
        TGridColumn col = *c.Find(s.field);
        col.Editable = editable && TInvoiceEntry::IsTripListEditable(s.field);
        if (col.Field == "Datum") col.Format = ColumnFormat::Date;
        if (col.Field == "BruttoSum" || col.Field == "ZuZaBetrag") {
            col.Format = ColumnFormat::Amount;
            col.Pattern = "#,##0.00";
        }
        ordered.push_back(col);
    }
    return TGridColumns(std::move(ordered));
}

TGridColumns PositionColumns() {
    TGridColumns c = TGridColumns::FromFields(InvoicePositionFields());
    for (TGridColumn& col : c.All()) col.Visible = false;
    c.SetGridColumn("Tarif", "Tarif", 70);
    c.SetGridColumn("PosNum", "PosNum", 70);
    c.SetGridColumn("Menge", "Menge", 60, ColumnAlign::Right);
    c.SetGridColumn("EPreis", "EPreis", 70, ColumnAlign::Right);
    c.SetGridColumn("Text", "Text", 300);
    c.SetGridColumn("USt", "USt", 45, ColumnAlign::Right);
    c.Find("EPreis")->Pattern = "#,##0.00";
    std::vector<TGridColumn> ordered;
    for (const char* f : {"Tarif", "PosNum", "Menge", "EPreis", "Text", "USt"}) ordered.push_back(*c.Find(f));
    return TGridColumns(std::move(ordered));
}

} // namespace

// ============================================================ construction

TformXMLRechnung6::TformXMLRechnung6(TdmVerwaltung& dm, IInvoiceEntryHost& host, QWidget* parent)
    : QDialog(parent), ui_(this), logic_(dm, ui_, host) {
    setObjectName(QStringLiteral("formXMLRechnung6"));
    setWindowTitle(QStringLiteral("Rechnung"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);

    tripWindow_ = [this](TTripEntry& e) { return TfrmLeistung::Execute(e, this); };
    logic_.EditTrips = [this](TTripEntry& e) {
        DetachGrids();
        return tripWindow_(e);
    };
    logic_.OnFocus = [this](InvoiceLevel level, const std::string& field) { FocusField(level, field); };
    logic_.OnReset = [this] { RefreshGrids(); };

    BuildActions();
    auto* data = new QWidget;
    auto* dataLayout = new QVBoxLayout(data);
    dataLayout->setContentsMargins(4, 4, 4, 4);
    auto* top = new QHBoxLayout;
    top->addWidget(BuildHeader(), 0);
    top->addWidget(BuildCase(), 1);
    dataLayout->addLayout(top);
    dataLayout->addWidget(BuildTrips(), 1);

    picture_ = new TMuster4View;
    pages_ = new QTabWidget;
    pages_->setObjectName(QStringLiteral("pcSeiten"));
    pages_->addTab(data, QStringLiteral("Daten"));
    pages_->addTab(picture_, QStringLiteral("Bild"));

    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("lblStatus"));
    status_->setFrameShape(QFrame::StyledPanel);
    status_->setFrameShadow(QFrame::Sunken);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setMenuBar(menu_);
    layout->addWidget(pages_, 1);
    layout->addWidget(status_);
    resize(1180, 800);
    ApplyMode();
}

TformXMLRechnung6::~TformXMLRechnung6() {
    logic_.OnReset = nullptr;
    logic_.OnFocus = nullptr;
    DetachGrids();
}

QAction* TformXMLRechnung6::NewAction(const char* name, const QString& caption, const QString& key,
                                      std::function<void()> run) {
    auto* a = new QAction(caption, this);
    a->setObjectName(QString::fromUtf8(name));
    if (!key.isEmpty()) {
        a->setShortcut(QKeySequence(key, QKeySequence::PortableText));
        a->setShortcutContext(Qt::WindowShortcut);
    }
    connect(a, &QAction::triggered, this, [this, run] { Run(run); });
    addAction(a);
    actions_.push_back(a);
    return a;
}

QAction* TformXMLRechnung6::Action(const QString& objectName) const {
    for (QAction* a : actions_)
        if (a->objectName() == objectName) return a;
    return nullptr;
}

void TformXMLRechnung6::BuildActions() {
    menu_ = new QMenuBar;
    menu_->setObjectName(QStringLiteral("mnuRechnung"));
    QMenu* rechnung = menu_->addMenu(QStringLiteral("Rechnung"));
    rechnung->addAction(NewAction("actSpeichern", QStringLiteral("Speichern"), QStringLiteral("F10"),
                                  [this] { logic_.Speichern(); }));
    rechnung->addAction(NewAction("actRechnungVerwerfen", QStringLiteral("Änderungen verwerfen"), QStringLiteral("F3"),
                                  [this] {
                                      keepText_ = nullptr;
                                      logic_.CancelHeader();
                                  }));
    rechnung->addSeparator();
    auto print = [this](bool detailed) {
        if (!print_) return;
        if (detailed ? logic_.PrepareDetailedPrint() : logic_.PrepareShortPrint()) print_(logic_, detailed);
    };
    rechnung->addAction(NewAction("actDrucken", QStringLiteral("Drucken"), QStringLiteral("Ctrl+D"),
                                  [print] { print(false); }));
    rechnung->addAction(NewAction("actDruckenKurz", QStringLiteral("Drucken (Kurzform)"), {}, [print] { print(false); }));
    rechnung->addAction(NewAction("actDruckenLang", QStringLiteral("Drucken (ausführliche Version)"), {},
                                  [print] { print(true); }));
    rechnung->addSeparator();
    rechnung->addAction(NewAction("actNeuLaden", QStringLiteral("Neu laden"), {}, [this] { logic_.NeuLaden(); }));
    rechnung->addAction(NewAction("actNeuBerechnen", QStringLiteral("Neu berechnen"), QStringLiteral("Ctrl+B"),
                                  [this] { logic_.Recompute(); }));
    rechnung->addSeparator();
    rechnung->addAction(NewAction("actSpeichernExit", QStringLiteral("Speichern und E&xit"), {}, [this] {
        if (logic_.SpeichernUndExit()) QTimer::singleShot(0, this, &QDialog::accept);
    }));
    for (const char* name : {"actDrucken", "actDruckenKurz", "actDruckenLang"}) Action(QString::fromUtf8(name))->setEnabled(false);

    QMenu* verordnung = menu_->addMenu(QStringLiteral("Verordnung"));
    verordnung->addAction(NewAction("actVerordnungNeu", QStringLiteral("Hinzufügen"), QStringLiteral("Ctrl+F2"),
                                    [this] { logic_.InsertCase(); }));
    verordnung->addAction(NewAction("actVerordnungLoeschen", QStringLiteral("Löschen"), {}, [this] { logic_.DeleteCase(); }));
    verordnung->addSeparator();
    verordnung->addAction(NewAction("actNaechste", QStringLiteral("Nächste (vorwärts Blättern)"), {},
                                    [this] { logic_.NextCase(); }));
    verordnung->addAction(NewAction("actVorige", QStringLiteral("Vorige (rückwärts Blättern)"), {},
                                    [this] { logic_.PriorCase(); }));
    verordnung->addSeparator();
    verordnung->addAction(NewAction("actVerordnungUebernehmen", QStringLiteral("Änderungen übernehmen"), {},
                                    [this] { logic_.StoreCase(); }));
    verordnung->addAction(NewAction("actVerordnungVerwerfen", QStringLiteral("Änderungen verwerfen"), {}, [this] {
        keepText_ = nullptr;
        logic_.CancelCase();
    }));
    verordnung->addSeparator();
    verordnung->addAction(NewAction("actAlsVorlage", QStringLiteral("als Vorlage speichern"), {},
                                    [this] { logic_.SaveAsTemplate(); }));
    verordnung->addAction(
        NewAction("actAusVorlage", QStringLiteral("aus Vorlage auswählen"), QStringLiteral("F9"), [this] { ChooseTemplate(); }));
    verordnung->addAction(NewAction("actMehrpersonen", QStringLiteral("Mehrpersonentransport"), {},
                                    [this] { logic_.MultiPersonTransport(); }));

    QMenu* leistungen = menu_->addMenu(QStringLiteral("Leistungen"));
    leistungen->addAction(NewAction("actLeistungNeu", QStringLiteral("Hinzufügen"), QStringLiteral("F2"),
                                    [this] { logic_.AddTrips(); }));
    leistungen->addAction(NewAction("actLeistungAendern", QStringLiteral("Ändern"), QStringLiteral("F5"),
                                    [this] { logic_.ChangeTrip(); }));
    QAction* remove = NewAction("actLeistungLoeschen", QStringLiteral("Löschen"), QStringLiteral("Ctrl+Del"),
                                [this] { logic_.DeleteTrip(); });
    leistungen->addAction(remove);
    // The key deletes a trip only where the trips are: in their list.
    removeAction(remove);
    remove->setShortcutContext(Qt::WidgetWithChildrenShortcut);

    // The header navigator.
    NewAction("actRechnungLoeschen", QStringLiteral("Rechnung löschen"), {}, [this] {
        logic_.RequestDelete();
        QTimer::singleShot(0, this, &QDialog::reject);
    });
    NewAction("actRechnungEintragen", QStringLiteral("Änderungen eintragen"), {}, [this] { logic_.StoreHeader(); });
}

QPushButton* TformXMLRechnung6::Button(const char* name, const QString& caption, QAction* action) {
    auto* b = new QPushButton(caption);
    b->setObjectName(QString::fromUtf8(name));
    b->setAutoDefault(false);
    b->setToolTip(action->text().remove(u'&'));
    connect(b, &QPushButton::clicked, action, &QAction::trigger);
    return b;
}

QLineEdit* TformXMLRechnung6::Line(InvoiceLevel level, const char* field, int maxLength) {
    auto* e = new QLineEdit;
    e->setObjectName(QStringLiteral("ed") + QString::fromUtf8(field));
    e->setMaxLength(maxLength > 0 ? maxLength : WidthOf(level, field));
    const std::string hint = TInvoiceEntry::FieldHint(field);
    if (!hint.empty()) e->setToolTip(DisplayText(hint));
    e->installEventFilter(this);
    bindings_.push_back({level, field, e});
    connect(e, &QLineEdit::editingFinished, this, [this, e] {
        if (const Binding* b = BindingOf(e)) WriteField(*b);
    });
    return e;
}

QComboBox* TformXMLRechnung6::Choice(InvoiceLevel level, const char* field) {
    auto* c = new QComboBox;
    c->setObjectName(QStringLiteral("cb") + QString::fromUtf8(field));
    for (const TCodeChoice& choice : TInvoiceEntry::Choices(field)) c->addItem(ToQ(choice.text), ToQ(choice.value));
    const std::string hint = TInvoiceEntry::FieldHint(field);
    if (!hint.empty()) c->setToolTip(DisplayText(hint));
    c->installEventFilter(this);
    bindings_.push_back({level, field, c});
    connect(c, &QComboBox::activated, this, [this, c] {
        if (const Binding* b = BindingOf(c)) {
            WriteField(*b);
            Refresh();
        }
    });
    return c;
}

QWidget* TformXMLRechnung6::BuildHeader() {
    auto* box = new QGroupBox(QStringLiteral("Rechnung"));
    box->setObjectName(QStringLiteral("grpRechnung"));
    auto* g = new QGridLayout(box);
    int row = 0;
    auto add = [&](const QString& caption, QWidget* w, int span = 3) {
        g->addWidget(Caption(caption, w), row, 0);
        g->addWidget(w, row++, 1, 1, span);
    };

    QLineEdit* number = Line(L::Rechnung, "SaRechNr", 0);
    number->setReadOnly(true);
    number->setFocusPolicy(Qt::ClickFocus);
    add(QStringLiteral("Rechnungsnummer"), number);
    add(QStringLiteral("Rechnungs&datum"), Line(L::Rechnung, "RechDatum", 10));
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    for (const char* n : {"Name1", "Name2", "Name3", "Name4"}) names->addWidget(Line(L::Rechnung, n, 0));
    g->addWidget(new QLabel(QStringLiteral("Leistungserbringer")), row, 0, Qt::AlignTop);
    g->addLayout(names, row++, 1, 1, 3);
    add(QStringLiteral("IK Leistungserbr."), Line(L::Rechnung, "IKLE", 0));

    ikList_ = new QComboBox;
    ikList_->setObjectName(QStringLiteral("cbIKKT"));
    ikList_->setEditable(true);
    ikList_->setInsertPolicy(QComboBox::NoInsert);
    ikList_->lineEdit()->setMaxLength(9);
    ikList_->installEventFilter(this);
    ikList_->lineEdit()->installEventFilter(this);
    bindings_.push_back({L::Rechnung, "IKKT", ikList_});
    auto commitIk = [this] {
        if (logic_.EditMode() && logic_.FieldText(L::Rechnung, "IKKT") != FromQ(ikList_->currentText())) Run([] {});
    };
    connect(ikList_, &QComboBox::activated, this, commitIk);
    connect(ikList_->lineEdit(), &QLineEdit::editingFinished, this, commitIk);
    ikText_ = new QLineEdit;
    ikText_->setObjectName(QStringLiteral("edIKKT"));
    ikText_->setReadOnly(true);
    auto* ik = new QHBoxLayout;
    ik->addWidget(ikList_);
    ik->addWidget(ikText_);
    g->addWidget(Caption(QStringLiteral("IK Kostenträger"), ikList_), row, 0);
    g->addLayout(ik, row++, 1, 1, 3);

    nameList_ = new QComboBox;
    nameList_->setObjectName(QStringLiteral("cbKTName"));
    nameList_->setEditable(true);
    nameList_->setInsertPolicy(QComboBox::NoInsert);
    nameList_->setMinimumContentsLength(24);
    nameList_->installEventFilter(this);
    nameList_->lineEdit()->installEventFilter(this);
    connect(nameList_->lineEdit(), &QLineEdit::textEdited, this, [this] { nameListChanged_ = true; });
    connect(nameList_, &QComboBox::activated, this, [this] {
        nameListChanged_ = true;
        Run([] {});
    });
    connect(nameList_->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (nameListChanged_) Run([] {});
    });
    add(QStringLiteral("Kostenträger"), nameList_);
    ktName_ = new QLabel;
    ktName_->setObjectName(QStringLiteral("lblKTName"));
    add(QString(), ktName_);

    const char* sumNames[3] = {"RBetragBrutto", "RBetragZuZa", "RBetragNetto"};
    const QString sumCaptions[3] = {QStringLiteral("Betrag"), QStringLiteral("Zuzahlung"), QStringLiteral("Netto")};
    auto* sums = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        sums_[i] = new QLabel;
        sums_[i]->setObjectName(QStringLiteral("lbl") + QString::fromUtf8(sumNames[i]));
        sums_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        sums_[i]->setFrameShape(QFrame::StyledPanel);
        sums_[i]->setMinimumWidth(70);
        sums->addWidget(new QLabel(sumCaptions[i]));
        sums->addWidget(sums_[i]);
    }
    g->addLayout(sums, row++, 0, 1, 4);

    // Needed by message version 21 for invoices with VAT or a cash discount.
    auto* tax = Line(L::Rechnung, "Steuernummer", 0);
    add(QStringLiteral("Steuernummer/USt-IdNr."), tax);
    auto* exempt = new QCheckBox(QStringLiteral("USt-befreit (§ 4 UStG)"));
    exempt->setObjectName(QStringLiteral("chkUStBefreit"));
    exempt->setToolTip(DisplayText(TInvoiceEntry::FieldHint("UStBefreit")));
    bindings_.push_back({L::Rechnung, "UStBefreit", exempt});
    connect(exempt, &QCheckBox::clicked, this, [this, exempt] {
        if (const Binding* b = BindingOf(exempt)) WriteField(*b);
    });
    g->addWidget(exempt, row++, 1, 1, 3);
    auto* skonto = new QHBoxLayout;
    QLineEdit* pct = Line(L::Rechnung, "SkontoProzent", 6);
    QLineEdit* days = Line(L::Rechnung, "SkontoTage", 3);
    skonto->addWidget(pct);
    skonto->addWidget(Caption(QStringLiteral("Skonto-Frist (Tage)"), days));
    skonto->addWidget(days);
    g->addWidget(Caption(QStringLiteral("Skonto %"), pct), row, 0);
    g->addLayout(skonto, row++, 1, 1, 3);

    auto* nav = new QHBoxLayout;
    QPushButton* del = Button("btnRechnungLoeschen", QStringLiteral("Rechnung löschen"), Action(QStringLiteral("actRechnungLoeschen")));
    QPushButton* post = Button("btnRechnungEintragen", QStringLiteral("Änderungen eintragen"), Action(QStringLiteral("actRechnungEintragen")));
    nav->addWidget(del);
    nav->addWidget(post);
    nav->addStretch();
    editOnly_.push_back(del);
    editOnly_.push_back(post);
    g->addLayout(nav, row++, 0, 1, 4);
    g->setRowStretch(row, 1);
    box->setMaximumWidth(400);
    return box;
}

QWidget* TformXMLRechnung6::BuildCase() {
    auto* box = new QGroupBox(QStringLiteral("Verordnung"));
    box->setObjectName(QStringLiteral("grpVerordnung"));
    auto* v = new QVBoxLayout(box);

    // Navigator: previous, next, insert, delete, store, cancel.
    auto* nav = new QHBoxLayout;
    auto tool = [&](const char* name, QStyle::StandardPixmap icon, const char* action) {
        auto* b = new QToolButton;
        b->setObjectName(QString::fromUtf8(name));
        b->setIcon(style()->standardIcon(icon));
        QAction* a = Action(QString::fromUtf8(action));
        b->setToolTip(a->text().remove(u'&'));
        connect(b, &QToolButton::clicked, a, &QAction::trigger);
        nav->addWidget(b);
        return b;
    };
    tool("btnVorige", QStyle::SP_ArrowLeft, "actVorige");
    tool("btnNaechste", QStyle::SP_ArrowRight, "actNaechste");
    QToolButton* insert = tool("btnVerordnungEinfuegen", QStyle::SP_FileDialogNewFolder, "actVerordnungNeu");
    insert->setToolTip(QStringLiteral("Verordnung einfügen"));
    QToolButton* remove = tool("btnVerordnungLoeschen", QStyle::SP_TrashIcon, "actVerordnungLoeschen");
    remove->setToolTip(QStringLiteral("Verordnung löschen"));
    QToolButton* post = tool("btnVerordnungUebernehmen", QStyle::SP_DialogApplyButton, "actVerordnungUebernehmen");
    QToolButton* cancel = tool("btnVerordnungVerwerfen", QStyle::SP_DialogCancelButton, "actVerordnungVerwerfen");
    for (QWidget* w : {static_cast<QWidget*>(insert), static_cast<QWidget*>(remove), static_cast<QWidget*>(post),
                       static_cast<QWidget*>(cancel)})
        editOnly_.push_back(w);
    counts_ = new QLabel;
    counts_->setObjectName(QStringLiteral("lblAnzahl"));
    nav->addSpacing(12);
    nav->addWidget(counts_);
    nav->addStretch();
    QPushButton* save = Button("btnAlsVorlage", QStringLiteral("als Vorlage speichern"), Action(QStringLiteral("actAlsVorlage")));
    QPushButton* choose = Button("btnAusVorlage", QStringLiteral("aus &Vorlage auswählen"), Action(QStringLiteral("actAusVorlage")));
    nav->addWidget(save);
    nav->addWidget(choose);
    editOnly_.push_back(save);
    editOnly_.push_back(choose);
    v->addLayout(nav);

    auto* g = new QGridLayout;
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(3);
    int row = 0, col = 0;
    auto put = [&](const QString& caption, QWidget* w, int span = 1) {
        g->addWidget(Caption(caption, w), row, col);
        g->addWidget(w, row, col + 1, 1, span);
        col += 1 + span;
    };
    auto next = [&] {
        ++row;
        col = 0;
    };
    put(QStringLiteral("Verordnungs-Nr."), Line(L::AbrFall, "VONum", 0));
    put(QStringLiteral("Verordn.-Datum"), Line(L::AbrFall, "VODatum", 10));
    put(QStringLiteral("Arzt-Nr."), Line(L::AbrFall, "ArztN", 0));
    next();
    put(QStringLiteral("Betriebsst.-Nr."), Line(L::AbrFall, "BSN", 0));
    put(QStringLiteral("Genehm.-Datum"), Line(L::AbrFall, "GenDatum", 10));
    put(QStringLiteral("Genehm.-Zeichen"), Line(L::AbrFall, "GenZeich", 0));
    next();
    put(QStringLiteral("Genehm.-Art"), Choice(L::AbrFall, "GenArt"));
    put(QStringLiteral("Zuzahlung"), Choice(L::AbrFall, "ZuzaKennz"));
    QLineEdit* ikPat = Line(L::AbrFall, "IKPat", 0);
    ikPat->setReadOnly(true);
    ikPat->setFocusPolicy(Qt::ClickFocus);
    put(QStringLiteral("IK Krankenkasse"), ikPat);
    next();
    surname_ = Line(L::AbrFall, "Nachname", 0);
    connect(surname_, &QLineEdit::textEdited, this, [this](const QString& text) {
        const bool match = logic_.SurnameMatchesTemplate(FromQ(text));
        surname_->setStyleSheet(match ? QStringLiteral("QLineEdit { background: #fff2a8; }") : QString());
        surname_->setToolTip(ToQ(match ? TInvoiceEntry::kSurnameMatchHint : TInvoiceEntry::kSurnameHint));
    });
    auto* surnameRow = new QHBoxLayout;
    surnameRow->setSpacing(2);
    surnameRow->addWidget(surname_);
    auto* v9 = new QToolButton;
    v9->setObjectName(QStringLiteral("btnVorlageV"));
    v9->setText(QStringLiteral("v"));
    v9->setToolTip(QStringLiteral("aus Vorlage auswählen (F9, Pfeil nach unten)"));
    connect(v9, &QToolButton::clicked, Action(QStringLiteral("actAusVorlage")), &QAction::trigger);
    editOnly_.push_back(v9);
    surnameRow->addWidget(v9);
    g->addWidget(Caption(QStringLiteral("Nachname"), surname_), row, 0);
    g->addLayout(surnameRow, row, 1);
    col = 2;
    put(QStringLiteral("Vorname"), Line(L::AbrFall, "Vorname", 0));
    put(QStringLiteral("Geb.-Datum"), Line(L::AbrFall, "Geb", 10));
    next();
    put(QStringLiteral("Strasse"), Line(L::AbrFall, "Strasse", 0));
    auto* plzOrt = new QHBoxLayout;
    QLineEdit* plz = Line(L::AbrFall, "Plz", 0);
    plz->setMaximumWidth(60);
    plzOrt->addWidget(plz);
    plzOrt->addWidget(Line(L::AbrFall, "Ort", 0), 1);
    g->addWidget(new QLabel(QStringLiteral("PLZ / Ort")), row, col);
    g->addLayout(plzOrt, row, col + 1);
    col += 2;
    put(QStringLiteral("Land"), Line(L::AbrFall, "Land", 0));
    next();
    put(QStringLiteral("Versicherten-Nr."), Line(L::AbrFall, "VersNum", 0));
    put(QStringLiteral("Status"), Line(L::AbrFall, "Status", 0));
    put(QStringLiteral("Unfall"), Choice(L::AbrFall, "Unfall"));
    next();
    put(QStringLiteral("BVG/SER"), Choice(L::AbrFall, "BVG"));
    put(QStringLiteral("Beleginformation"), Choice(L::AbrFall, "BelegInfo"));
    put(QStringLiteral("Bes. Versorgungsform"), Line(L::AbrFall, "BesVersForm", 0));
    next();
    put(QStringLiteral("eVerordnung-ID"), Line(L::AbrFall, "EVO_ID", 0));
    auto* image = new QHBoxLayout;
    QLineEdit* year = Line(L::AbrFall, "IMG_Jahr", 0);
    QLineEdit* month = Line(L::AbrFall, "IMG_Monat", 0);
    year->setMaximumWidth(50);
    month->setMaximumWidth(34);
    image->addWidget(year);
    image->addWidget(month);
    image->addWidget(Line(L::AbrFall, "IMG_IK", 0), 1);
    g->addWidget(new QLabel(QStringLiteral("Image: Jahr/Monat/IK")), row, col);
    g->addLayout(image, row, col + 1, 1, 3);
    next();
    remark_ = Line(L::AbrFall, "FallInfo", 0);
    put(QStringLiteral("Bemerkungen"), remark_, 5);
    next();
    for (int i = 0; i < 2; ++i) {
        caseSums_[i] = new QLabel;
        caseSums_[i]->setObjectName(i == 0 ? QStringLiteral("lblBetragBrutto") : QStringLiteral("lblBetragZuZaSum"));
        caseSums_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        caseSums_[i]->setFrameShape(QFrame::StyledPanel);
    }
    put(QStringLiteral("Brutto"), caseSums_[0]);
    put(QStringLiteral("Zuzahlung"), caseSums_[1]);
    g->setColumnStretch(1, 1);
    g->setColumnStretch(3, 1);
    g->setColumnStretch(5, 1);
    v->addLayout(g);
    v->addStretch();
    return box;
}

QWidget* TformXMLRechnung6::BuildTrips() {
    auto* box = new QGroupBox(QStringLiteral("Leistungen"));
    box->setObjectName(QStringLiteral("grpLeistungen"));
    auto* v = new QVBoxLayout(box);
    auto* buttons = new QHBoxLayout;
    QPushButton* add = Button("btnLeistungNeu", QStringLiteral("+"), Action(QStringLiteral("actLeistungNeu")));
    QPushButton* change = Button("btnLeistungAendern", QStringLiteral("Ändern"), Action(QStringLiteral("actLeistungAendern")));
    QPushButton* remove = Button("btnLeistungLoeschen", QStringLiteral("-"), Action(QStringLiteral("actLeistungLoeschen")));
    for (QPushButton* b : {add, remove}) b->setMaximumWidth(36);
    add->installEventFilter(this);
    recompute_ = Button("btnBerechnen", QStringLiteral("&berechnen"), Action(QStringLiteral("actNeuBerechnen")));
    QPushButton* multi = Button("btnMehrpersonen", QStringLiteral("Mehrpersonentransport"), Action(QStringLiteral("actMehrpersonen")));
    for (QWidget* w : {static_cast<QWidget*>(add), static_cast<QWidget*>(change), static_cast<QWidget*>(remove),
                       static_cast<QWidget*>(multi)})
        editOnly_.push_back(w);
    buttons->addWidget(add);
    buttons->addWidget(change);
    buttons->addWidget(remove);
    buttons->addWidget(recompute_);
    buttons->addStretch();
    buttons->addWidget(multi);
    v->addLayout(buttons);

    tripGrid_ = NewGrid("grdLeistung");
    tripGrid_->setEditTriggers(QAbstractItemView::AnyKeyPressed);
    tripGrid_->setToolTip(DisplayText(TInvoiceEntry::FieldHint("Leistung")));
    tripGrid_->addAction(Action(QStringLiteral("actLeistungLoeschen")));
    tripModel_ = new TTableModel(nullptr, TripColumns(true), this);
    tripModel_->AttachView(tripGrid_);
    connect(tripGrid_, &QTableView::doubleClicked, Action(QStringLiteral("actLeistungAendern")), &QAction::trigger);
    connect(tripModel_, &TTableModel::CurrentRowChanged, this, [this] {
        // Detached trips take their positions with them: the document may go next.
        Table* positions = tripModel_->GetTable() ? logic_.Positions() : nullptr;
        if (positionModel_->GetTable() != positions) positionModel_->SetTable(positions);
    });

    positionGrid_ = NewGrid("grdPosition");
    positionGrid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    positionModel_ = new TTableModel(nullptr, PositionColumns(), this);
    positionModel_->AttachView(positionGrid_);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(tripGrid_);
    split->addWidget(positionGrid_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    v->addWidget(split, 1);
    return box;
}

// ============================================================ main window's use

void TformXMLRechnung6::Open(const std::string& path) {
    DetachGrids();
    keepText_ = nullptr;
    logic_.Open(path);
    activated_ = false;
    ApplyMode();
    Refresh();
}

void TformXMLRechnung6::SetMode(EntryMode mode) {
    logic_.SetMode(mode);
    ApplyMode();
    Refresh();
}

void TformXMLRechnung6::PrepareNewInvoice(const TNewInvoiceHeader& header) {
    Run([&] { logic_.PrepareNewInvoice(header); });
}

void TformXMLRechnung6::ShowModal() {
    if (QWidget* p = parentWidget()) {
        move(p->geometry().center() - rect().center());
    } else if (QScreen* s = screen()) {
        move(s->availableGeometry().center() - rect().center());
    }
    exec();
}

void TformXMLRechnung6::SetPrintHandler(PrintHandler handler) {
    print_ = std::move(handler);
    for (const char* name : {"actDrucken", "actDruckenKurz", "actDruckenLang"})
        Action(QString::fromUtf8(name))->setEnabled(bool(print_));
}

void TformXMLRechnung6::SetTripWindow(std::function<TripEntryResult(TTripEntry&)> window) {
    tripWindow_ = std::move(window);
}

QWidget* TformXMLRechnung6::FieldWidget(const std::string& field) const {
    if (field == "KTName") return nameList_;
    if (field == "btnLeistungNeu") return findChild<QPushButton*>(QStringLiteral("btnLeistungNeu"));
    for (const Binding& b : bindings_)
        if (b.field == field) return b.widget;
    return nullptr;
}

void TformXMLRechnung6::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (activated_) return;
    activated_ = true;
    // The window became active: the sums are brought up to date.
    Run([this] { logic_.Activate(); });
    if (logic_.EditMode()) {
        QWidget* first = FieldWidget(logic_.HasCase() ? "VONum" : "RechDatum");
        if (QApplication::focusWidget() == nullptr || !isAncestorOf(QApplication::focusWidget())) first->setFocus();
    }
}

void TformXMLRechnung6::done(int result) {
    DetachGrids();
    keepText_ = nullptr;
    try {
        logic_.Close();
    } catch (const std::exception& e) {
        ShowMessageDialog(this, MessageKind::Error, e.what());
    }
    activated_ = false;
    Refresh();
    QDialog::done(result);
}

// ============================================================ running the logic

bool TformXMLRechnung6::Run(const std::function<void()>& f) {
    if (!CommitFocused()) return false;
    DetachGrids();
    try {
        f();
    } catch (const TStoreRefused&) {
        // the user has been told
    } catch (const std::exception& e) {
        ShowMessageDialog(this, MessageKind::Error, e.what());
    }
    Refresh();
    return true;
}

const TformXMLRechnung6::Binding* TformXMLRechnung6::BindingOf(const QWidget* w) const {
    for (const Binding& b : bindings_)
        if (b.widget == w || (b.widget == ikList_ && w == ikList_->lineEdit())) return &b;
    return nullptr;
}

bool TformXMLRechnung6::CommitFocused() {
    if (!logic_.EditMode() || !logic_.IsOpen()) return true;
    CommitCostBearerName();
    if (logic_.FieldText(L::Rechnung, "IKKT") != FromQ(ikList_->currentText())) {
        try {
            logic_.SetCostBearerIK(FromQ(ikList_->currentText()));
        } catch (const std::exception& e) {
            ShowMessageDialog(this, MessageKind::Warning, e.what());
            return false;
        }
    }
    QWidget* focused = QApplication::focusWidget();
    const Binding* b = focused ? BindingOf(focused) : nullptr;
    return !b || WriteField(*b);
}

void TformXMLRechnung6::CommitCostBearerName() {
    if (!nameListChanged_) return;
    nameListChanged_ = false;
    try {
        logic_.ChooseCostBearerName(FromQ(nameList_->currentText()));
    } catch (const std::exception& e) {
        ShowMessageDialog(this, MessageKind::Warning, e.what());
    }
}

bool TformXMLRechnung6::WriteField(const Binding& b) {
    if (!logic_.EditMode() || !logic_.IsOpen() || !TInvoiceEntry::IsEditableField(b.level, b.field)) return true;
    if (b.level == L::AbrFall && !logic_.HasCase()) {
        // Nothing typed into an invoice without case: nothing to write.
        auto* e = qobject_cast<QLineEdit*>(b.widget);
        if (e && e->text().isEmpty()) return true;
    }
    std::string text;
    if (auto* e = qobject_cast<QLineEdit*>(b.widget))
        text = FromQ(e->text());
    else if (auto* c = qobject_cast<QComboBox*>(b.widget))
        text = c->isEditable() ? FromQ(c->currentText()) : FromQ(c->currentData().toString());
    else if (auto* x = qobject_cast<QCheckBox*>(b.widget))
        text = x->isChecked() ? "J" : "";
    if (text == logic_.FieldText(b.level, b.field)) {
        if (keepText_ == b.widget) keepText_ = nullptr;
        return true;
    }
    try {
        if (b.field == "IKKT")
            logic_.SetCostBearerIK(text);
        else
            logic_.SetFieldText(b.level, b.field, text);
    } catch (const TStoreRefused&) {
        return false;
    } catch (const std::exception& e) {
        // The typed text stays for correction, the cursor goes back to it.
        keepText_ = b.widget;
        QPointer<QWidget> w = b.widget;
        ShowMessageDialog(this, MessageKind::Warning, e.what());
        QTimer::singleShot(0, this, [w] {
            if (w) w->setFocus();
        });
        return false;
    }
    if (keepText_ == b.widget) keepText_ = nullptr;
    // What the field now shows (a date typed short, a number) and what follows from it.
    QTimer::singleShot(0, this, [this] { RefreshFields(); });
    return true;
}

void TformXMLRechnung6::DetachGrids() {
    if (tripModel_) tripModel_->SetTable(nullptr);
    if (positionModel_) positionModel_->SetTable(nullptr);
}

void TformXMLRechnung6::RefreshGrids() {
    Table* trips = logic_.Trips();
    if (tripModel_->GetTable() != trips) tripModel_->SetTable(trips);
    Table* positions = logic_.Positions();
    if (positionModel_->GetTable() != positions) positionModel_->SetTable(positions);
}

void TformXMLRechnung6::Refresh() {
    RefreshGrids();
    RefreshFields();
}

void TformXMLRechnung6::RefreshFields() {
    const bool edit = logic_.EditMode() && logic_.IsOpen();
    setWindowTitle(logic_.Title().empty() ? QStringLiteral("Rechnung") : ToQ(logic_.Title()));
    status_->setText(ToQ(logic_.Path()));

    if (ikList_->count() == 0 && logic_.IsOpen()) {
        const QSignalBlocker a(ikList_), b(nameList_);
        for (const std::string& ik : logic_.CostBearerIKs()) ikList_->addItem(ToQ(ik));
        for (const std::string& n : logic_.CostBearerNames()) nameList_->addItem(ToQ(n));
    }

    for (const Binding& b : bindings_) {
        if (b.widget == keepText_ && b.widget->hasFocus()) continue;
        const QString text = ToQ(logic_.FieldText(b.level, b.field));
        const QSignalBlocker block(b.widget);
        if (auto* e = qobject_cast<QLineEdit*>(b.widget)) {
            if (e->text() != text) e->setText(text);
            e->setCursorPosition(0);
        } else if (auto* c = qobject_cast<QComboBox*>(b.widget)) {
            if (c->isEditable())
                c->setEditText(text);
            else
                c->setCurrentIndex(std::max(0, c->findData(text)));
        } else if (auto* x = qobject_cast<QCheckBox*>(b.widget)) {
            x->setChecked(text == "J");
        }
    }
    const std::string ik = logic_.FieldText(L::Rechnung, "IKKT");
    ikText_->setText(ToQ(ik));
    if (!nameListChanged_) {
        const QSignalBlocker block(nameList_);
        const int i = ik.empty() ? -1 : nameList_->findText(ToQ("{" + ik + "}"), Qt::MatchEndsWith);
        nameList_->setCurrentIndex(i);
        nameList_->setEditText(i < 0 ? QString() : nameList_->itemText(i));
    }
    ktName_->setText(logic_.IsOpen() ? ToQ(logic_.KTName()) : QString());

    const char* sumNames[3] = {"RBetragBrutto", "RBetragZuZa", "RBetragNetto"};
    for (int i = 0; i < 3; ++i) sums_[i]->setText(ToQ(logic_.FieldText(L::Rechnung, sumNames[i])));
    caseSums_[0]->setText(ToQ(logic_.FieldText(L::AbrFall, "BetragBrutto")));
    caseSums_[1]->setText(ToQ(logic_.FieldText(L::AbrFall, "BetragZuZaSum")));
    counts_->setText(ToQ(logic_.CountText()));
    recompute_->setVisible(edit && logic_.RecomputeNeeded());
    remark_->setToolTip(ToQ(logic_.RemarkHint()));
    if (!surname_->hasFocus()) {
        surname_->setStyleSheet(QString());
        surname_->setToolTip(ToQ(TInvoiceEntry::kSurnameHint));
    }

    // What can be done now.
    const bool hasCase = logic_.HasCase();
    const bool caseEditing = logic_.Editing(L::AbrFall);
    Action(QStringLiteral("actVerordnungLoeschen"))->setEnabled(edit && hasCase && !caseEditing);
    Action(QStringLiteral("actVerordnungUebernehmen"))->setEnabled(edit && caseEditing);
    Action(QStringLiteral("actVerordnungVerwerfen"))->setEnabled(edit && caseEditing);
    Action(QStringLiteral("actLeistungNeu"))->setEnabled(edit && hasCase);
    Action(QStringLiteral("actLeistungAendern"))->setEnabled(logic_.CanChangeTrip());
    Action(QStringLiteral("actLeistungLoeschen"))->setEnabled(logic_.CanChangeTrip());
    Action(QStringLiteral("actAlsVorlage"))->setEnabled(edit && hasCase);
    Action(QStringLiteral("actRechnungEintragen"))->setEnabled(edit);
    for (QAction* a : actions_) {
        const QString n = a->objectName();
        if (n == QLatin1String("actVorige") || n == QLatin1String("actNaechste")) a->setEnabled(hasCase);
    }

    // The picture of the prescription.
    std::map<std::string, QString> values;
    for (const char* f : {"Nachname", "Vorname", "Geb", "Strasse", "Plz", "Ort", "VersNum", "Status", "ArztN", "BSN",
                          "VODatum", "Unfall", "BVG", "IKPat"})
        values[f] = ToQ(logic_.FieldText(L::AbrFall, f));
    values["KTName"] = ktName_->text();
    picture_->SetValues(std::move(values));
}

void TformXMLRechnung6::ApplyMode() {
    const bool edit = logic_.EditMode();
    menu_->setVisible(edit);
    for (QAction* a : actions_) {
        const QString n = a->objectName();
        const bool print = n.startsWith(QLatin1String("actDrucken"));
        a->setEnabled(edit && (!print || print_));
    }
    for (const Binding& b : bindings_) {
        const bool writable = edit && TInvoiceEntry::IsEditableField(b.level, b.field);
        if (auto* e = qobject_cast<QLineEdit*>(b.widget))
            e->setReadOnly(!writable);
        else
            b.widget->setEnabled(writable);
    }
    ikList_->setVisible(edit);
    ikText_->setVisible(!edit);
    nameList_->setEnabled(edit);
    for (QWidget* w : editOnly_) w->setVisible(edit);
    tripModel_->SetColumns(TripColumns(edit));
    if (edit)
        tripModel_->SetCellWriter(
            [this](Table&, const TGridColumn& c, const std::string& text) { EditTripCell(c.Field, text); });
    else
        tripModel_->SetCellWriter(nullptr);
    pages_->setTabVisible(1, !edit);
    if (edit) pages_->setCurrentIndex(0);
}

void TformXMLRechnung6::EditTripCell(const std::string& field, const std::string& text) {
    logic_.EditTripCell(field, text);
    QTimer::singleShot(0, this, [this] { RefreshFields(); });
}

void TformXMLRechnung6::FocusField(InvoiceLevel level, const std::string& field) {
    QPointer<QWidget> target;
    if (level == L::Leistung) {
        target = tripGrid_;
    } else {
        for (const Binding& b : bindings_)
            if (b.level == level && b.field == field) target = b.widget;
    }
    QTimer::singleShot(0, this, [target] {
        if (target && target->isVisible()) target->setFocus();
    });
}

// Enter moves the cursor along the fields of the entry.
void TformXMLRechnung6::FocusNext(QWidget* from) {
    std::string field;
    if (from == nameList_ || from == nameList_->lineEdit()) field = "KTName";
    else if (from == ikList_ || from == ikList_->lineEdit()) field = "IKKT";
    else if (const Binding* b = BindingOf(from)) field = b->field;
    for (std::string next = TInvoiceEntry::NextInFlow(field); !next.empty(); next = TInvoiceEntry::NextInFlow(next)) {
        QWidget* w = FieldWidget(next);
        if (w && w->isVisible() && w->isEnabled()) {
            w->setFocus();
            if (auto* e = qobject_cast<QLineEdit*>(w)) e->selectAll();
            return;
        }
    }
}

void TformXMLRechnung6::ChooseTemplate() {
    if (!logic_.EditMode()) return;
    DetachGrids();
    const std::string surname = logic_.FieldText(L::AbrFall, "Nachname");
    if (TfrmVersicherte::Choose(logic_.Verwaltung(), surname, this)) logic_.ApplyTemplate();
}

bool TformXMLRechnung6::eventFilter(QObject* watched, QEvent* event) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || !logic_.EditMode()) return QDialog::eventFilter(watched, event);
    const Binding* b = BindingOf(w);
    if (event->type() == QEvent::FocusIn && b && b->field == "VONum") {
        // The cursor enters the prescription number of an invoice without case: it gets one.
        if (!logic_.HasCase()) Run([this] { logic_.EnteringPrescriptionNumber(); });
    }
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (w == surname_ && key->key() == Qt::Key_Down) {
        Action(QStringLiteral("actAusVorlage"))->trigger();
        return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        if (w == findChild<QPushButton*>(QStringLiteral("btnLeistungNeu"))) {
            Action(QStringLiteral("actLeistungNeu"))->trigger();
            return true;
        }
        const bool nameList = w == nameList_ || w == nameList_->lineEdit();
        if (!Run([this, nameList] {
                if (nameList) logic_.EnterInCostBearerName();
            }))
            return true;   // the field refused what was typed
        if (nameList && logic_.HasCase() && logic_.Editing(L::AbrFall)) {
            FieldWidget("VONum")->setFocus();
            return true;
        }
        FocusNext(w);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace brenvo
