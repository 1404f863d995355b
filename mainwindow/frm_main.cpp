#include "mainwindow/frm_main.h"

#include <QAbstractListModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QEventLoop>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPrintDialog>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "entry/frm_input.h"
#include "entry/frm_modal.h"
#include "lib/Basics/qt_Dialogs.h"
#include "lib/Basics/qt_Widgets.h"
#include "mainwindow/frm_Busy.h"
#include "mainwindow/frm_Einstellungen.h"
#include "mainwindow/frm_KTDaten.h"
#include "mainwindow/frm_UpdateDlg.h"
#include "mainwindow/frm_Verwaltung.h"
#include "mainwindow/main.h"
#include "mainwindow/qt_BasketModel.h"
#include "mainwindow/qt_MainLists.h"

namespace brenvo {

// The activity log as a list, read from the controller's log without a copy.
class TLogModel : public QAbstractListModel {
public:
    TLogModel(const std::vector<std::string>& log, QObject* parent) : QAbstractListModel(parent), log_(log) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : rows_; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || size_t(index.row()) >= log_.size()) return {};
        return ToQ(log_[size_t(index.row())]);
    }
    void Added() {
        const int n = int(log_.size());
        if (n <= rows_) return;
        beginInsertRows({}, rows_, n - 1);
        rows_ = n;
        endInsertRows();
    }

private:
    const std::vector<std::string>& log_;
    int rows_ = 0;
};

namespace {

struct TabCaption {
    MainTab tab;
    const char* caption;
};

// The tabs in their order.
constexpr TabCaption kTabs[] = {
    {MainTab::Eingabe, "&Eingabe"},
    {MainTab::Eingangskorb, "Eingangs&korb"},
    {MainTab::Verarbeitung, "&Verarbeitung"},
    {MainTab::Protokoll, "&Protokoll"},
    {MainTab::Ausgangskorb, "&Ausgangskorb"},
    {MainTab::ArchivRechnung, "Archiv Rechnung"},
    {MainTab::ArchivAuftraege, "Archiv Aufträge"},
    {MainTab::KostentraegerDaten, "Kostenträger-Daten"},
    {MainTab::Einstellungen, "Einstellungen"},
    {MainTab::Verwaltung, "Verwaltung"},
};

constexpr int kClientWidth = 900;
constexpr int kClientHeight = 550;

QString FirstLine(const QString& text) { return text.section(u'\n', 0, 0).trimmed(); }

} // namespace

// ============================================================ construction

TfrmMain::TfrmMain(const std::string& dataDir, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(ToQ(TMainController::Caption));
    controller_ = std::make_unique<TMainController>(*this, dataDir);

    // Workers (the import watcher, DAKOTA's runner) hand their notifications
    // to the controller's queue; the window's event loop runs them.
    pump_ = std::make_shared<std::function<void()>>([this] { PumpQueue(); });
    std::weak_ptr<std::function<void()>> pump = pump_;
    controller_->Queue()->SetWakeupCallback([pump] {
        QMetaObject::invokeMethod(
            qApp,
            [pump] {
                if (auto p = pump.lock(); p && *p) (*p)();
            },
            Qt::QueuedConnection);
    });

    BuildActions();
    BuildMenus();
    BuildTabs();
    BuildStatusBar();
    BuildLoadPanel();
    lists_ = new TMainLists(*this);

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabs_);
    layout->addWidget(loadPage_);
    loadPage_->hide();
    setCentralWidget(central);

    tabs_->setCurrentIndex(int(MainTab::Eingangskorb));
    UpdatePrinterCaptions(false);
    ResizeClient(kClientWidth, kClientHeight);
    ActionStateChanged();
}

TfrmMain::~TfrmMain() {
    controller_->Queue()->SetWakeupCallback({});
    pump_.reset();
    if (busyCursor_) QApplication::restoreOverrideCursor();
    // The grids let go of the archives' tables before the controller frees them.
    lists_->ArchiveTablesAvailable(false);
    controller_.reset();
}

void TfrmMain::BuildActions() {
    for (const TMainActionDef& d : MainActions()) {
        auto* a = new QAction(ToQ(d.Caption), this);
        a->setObjectName(ToQ(d.Name));
        if (!d.Shortcut.empty()) {
            a->setShortcut(QKeySequence(ToQ(d.Shortcut), QKeySequence::PortableText));
            // A key that means something else in another list is heard only
            // by the control the action is added to.
            a->setShortcutContext(d.Scope == ShortcutScope::Window ? Qt::WindowShortcut : Qt::WidgetWithChildrenShortcut);
        }
        if (!d.Hint.empty()) {
            const QString hint = DisplayText(d.Hint);
            a->setToolTip(hint);
            a->setStatusTip(FirstLine(hint));
        }
        const MainAction id = d.Id;
        connect(a, &QAction::triggered, this, [this, id] { Trigger(id); });
        actions_[id] = a;
        if (d.Run) {
            auto run = d.Run;
            handlers_[id] = [this, run] { run(*controller_); };
        }
    }
    handlers_[MainAction::Hilfe] = [this] { ShowHelp(); };
    handlers_[MainAction::Programm] = [this] { ShowProgramInfo(); };
    handlers_[MainAction::Druckereinstellung] = [this] { ChoosePrinter(); };
    handlers_[MainAction::Beenden] = [this] { close(); };
    // The window shortcuts (F1) are heard wherever the focus is.
    for (const TMainActionDef& d : MainActions())
        if (d.Scope == ShortcutScope::Window && !d.Shortcut.empty()) addAction(actions_[d.Id]);
}

void TfrmMain::BuildMenus() {
    QMenu* datei = menuBar()->addMenu(QStringLiteral("Datei"));
    datei->setObjectName(QStringLiteral("mnuDatei"));
    datei->addAction(actions_[MainAction::EinstellungenSpeichern]);
    datei->addAction(actions_[MainAction::DatensicherungErstellen]);
    datei->addAction(actions_[MainAction::Druckereinstellung]);
    datei->addSeparator();
    datei->addAction(actions_[MainAction::Beenden]);

    // "Register" holds the one entry "Eingabe", which shows the input basket.
    QMenu* reg = menuBar()->addMenu(QStringLiteral("Register"));
    reg->setObjectName(QStringLiteral("mnuRegister"));
    QAction* eingabe = reg->addAction(QStringLiteral("Eingabe"));
    eingabe->setObjectName(QStringLiteral("mnuRegisterEingabe"));
    connect(eingabe, &QAction::triggered, this, [this] { ShowTab(MainTab::Eingabe); });

    QMenu* ueber = menuBar()->addMenu(QStringLiteral("Über"));
    ueber->setObjectName(QStringLiteral("mnuUeber"));
    for (MainAction id : {MainAction::Hilfe, MainAction::Programm, MainAction::UpdateDaten, MainAction::UpdateProgramm})
        ueber->addAction(actions_[id]);

    // The shared context menu: each entry a proxy of its action, so that
    // hiding an entry here leaves the action (and its key) alone elsewhere.
    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("pmShared"));
    contextTree_ = brenvo::SharedContextMenu();
    std::function<void(QMenu*, const TMenuEntry&)> fill = [&](QMenu* menu, const TMenuEntry& parent) {
        for (const TMenuEntry& e : parent.Entries) {
            QAction* entry = nullptr;
            if (e.Action) {
                QAction* action = actions_[*e.Action];
                entry = menu->addAction(action->text());
                entry->setObjectName(action->objectName() + QStringLiteral("Entry"));
                auto follow = [action, entry] {
                    entry->setText(action->text());
                    entry->setEnabled(action->isEnabled());
                    entry->setShortcut(action->shortcut());
                    entry->setToolTip(action->toolTip());
                };
                follow();
                connect(action, &QAction::changed, entry, follow);
                connect(entry, &QAction::triggered, action, &QAction::trigger);
            } else if (e.IsSubmenu()) {
                QMenu* sub = menu->addMenu(ToQ(e.Caption));
                fill(sub, e);
                entry = sub->menuAction();
            } else {
                entry = menu->addSeparator();
            }
            contextEntries_.emplace_back(&e, entry);
        }
    };
    fill(contextMenu_, contextTree_);
}

QWidget* TfrmMain::Placeholder(const QString& text) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* label = new QLabel(text);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setEnabled(false);
    layout->addWidget(label);
    return page;
}

QListView* TfrmMain::BasketView(TBasketModel* model, const QString& name) {
    auto* view = new QListView;
    view->setObjectName(name);
    view->setModel(model);
    view->setViewMode(QListView::IconMode);
    view->setIconSize(QSize(32, 32));
    view->setGridSize(QSize(150, 64));
    view->setMovement(QListView::Static);
    view->setResizeMode(QListView::Adjust);
    view->setUniformItemSizes(true);
    view->setWordWrap(true);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    return view;
}

QWidget* TfrmMain::ProcessingPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    auto group = [](const QString& number, const QString& title) {
        auto* box = new QGroupBox(number);
        auto* v = new QVBoxLayout(box);
        auto* caption = new QLabel(title);
        QFont bold = caption->font();
        bold.setBold(true);
        caption->setFont(bold);
        v->addWidget(caption);
        return std::make_pair(box, v);
    };
    auto* groups = new QHBoxLayout;
    auto [g1, l1] = group(QStringLiteral(" 1 "), QStringLiteral("SGB5-Daten erzeugen"));
    l1->addWidget(ActionButton(actions_[MainAction::ProzessStart]));
    quitAfterRun_ = new QCheckBox(QStringLiteral("Programm beenden"));
    quitAfterRun_->setObjectName(QStringLiteral("chkProgrammBeenden"));
    quitAfterRun_->setToolTip(QStringLiteral("Programm nach Ablauf aller Vorgänge automatisch beenden."));
    connect(quitAfterRun_, &QCheckBox::toggled, this, [this](bool on) { controller_->SetQuitAfterRun(on); });
    l1->addWidget(quitAfterRun_);
    l1->addStretch();
    auto [g2, l2] = group(QStringLiteral(" 2 "), QStringLiteral("Dakota"));
    for (MainAction id : {MainAction::DakotaExport, MainAction::DakotaVerarbeitung, MainAction::DakotaProtokoll,
                          MainAction::DakotaReadResult})
        l2->addWidget(ActionButton(actions_[id]));
    l2->addStretch();
    auto [g3, l3] = group(QStringLiteral(" 3 "), QStringLiteral("Begleitzettel"));
    l3->addWidget(ActionButton(actions_[MainAction::AlleBegleitzettelDruckenVorschau]));
    l3->addStretch();
    groups->addWidget(g1, 1);
    groups->addWidget(g2, 1);
    groups->addWidget(g3, 1);
    layout->addLayout(groups);

    progressLabel_ = new QLabel;
    progressLabel_->setObjectName(QStringLiteral("lblProgress"));
    progressBar_ = new QProgressBar;
    progressBar_->setObjectName(QStringLiteral("pbProgress"));
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    layout->addWidget(progressLabel_);
    layout->addWidget(progressBar_);

    outboxHomeProcessing_ = new QWidget;
    auto* home = new QVBoxLayout(outboxHomeProcessing_);
    home->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(outboxHomeProcessing_, 1);
    return page;
}

void TfrmMain::BuildTabs() {
    tabs_ = new QTabWidget;
    tabs_->setObjectName(QStringLiteral("pcMain"));
    inputModel_ = new TBasketModel(controller_->InputBasket(), this);
    inboxModel_ = new TBasketModel(controller_->Inbox(), this);
    outboxModel_ = new TBasketModel(controller_->Outbox(), this);
    logModel_ = new TLogModel(controller_->ActivityLog(), this);

    const QString later = QStringLiteral("Diese Ansicht folgt in einer späteren Version.");
    for (const TabCaption& t : kTabs) {
        QWidget* page = nullptr;
        switch (t.tab) {
        case MainTab::Eingabe:
            inputView_ = BasketView(inputModel_, QStringLiteral("lvEingabe"));
            page = inputView_;
            break;
        case MainTab::Eingangskorb: {
            QListView* inbox = BasketView(inboxModel_, QStringLiteral("lvEingangskorb"));
            connect(inbox, &QWidget::customContextMenuRequested, this, [this, inbox](const QPoint& pos) {
                ShowContextMenu(ContextControl::Inbox, inbox->viewport()->mapToGlobal(pos));
            });
            inboxView_ = inbox;
            page = inbox;
            break;
        }
        case MainTab::Verarbeitung:
            page = ProcessingPage();
            break;
        case MainTab::Protokoll:
            logView_ = new QListView;
            logView_->setObjectName(QStringLiteral("lbProtokoll"));
            logView_->setModel(logModel_);
            logView_->setUniformItemSizes(true);
            logView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
            logView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
            page = logView_;
            break;
        case MainTab::KostentraegerDaten:
            page = new TfrmKTDaten(*this);
            break;
        case MainTab::Ausgangskorb: {
            outboxHomeOutbox_ = new QWidget;
            auto* home = new QVBoxLayout(outboxHomeOutbox_);
            home->setContentsMargins(0, 0, 0, 0);
            page = outboxHomeOutbox_;
            break;
        }
        case MainTab::Einstellungen:
            page = new TfrmEinstellungen(*this);
            break;
        case MainTab::Verwaltung:
            page = new TfrmVerwaltung(*this);
            break;
        default:
            page = Placeholder(later);
            break;
        }
        tabs_->addTab(page, ToQ(t.caption));
    }

    // One outbox list, shown on whichever of its two tabs is active.
    outboxView_ = BasketView(outboxModel_, QStringLiteral("lvAusgangskorb"));
    outboxView_->setGridSize(QSize(260, 64));
    connect(outboxView_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        ShowContextMenu(ContextControl::Outbox, outboxView_->viewport()->mapToGlobal(pos),
                        outboxView_->selectionModel()->hasSelection());
    });
    MoveOutbox(int(MainTab::Ausgangskorb));
    connect(tabs_, &QTabWidget::currentChanged, this, &TfrmMain::MoveOutbox);
}

void TfrmMain::MoveOutbox(int tab) {
    QWidget* home = tab == int(MainTab::Verarbeitung) ? outboxHomeProcessing_
                    : tab == int(MainTab::Ausgangskorb) ? outboxHomeOutbox_
                                                         : nullptr;
    if (!home || outboxView_->parentWidget() == home) return;
    home->layout()->addWidget(outboxView_);
    outboxView_->show();
}

void TfrmMain::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("sbMain"));
    bar->setSizeGripEnabled(true);
    const int stretch[4] = {0, 0, 0, 1};
    const int width[4] = {220, 110, 260, 0};
    for (int i = 0; i < 4; ++i) {
        panels_[i] = new QLabel;
        panels_[i]->setObjectName(QStringLiteral("sbPanel%1").arg(i + 1));
        panels_[i]->setFrameShape(QFrame::StyledPanel);
        panels_[i]->setFrameShadow(QFrame::Sunken);
        if (width[i]) panels_[i]->setFixedWidth(width[i]);
        bar->addWidget(panels_[i], stretch[i]);
    }
    const QString dir = ToQ(controller_->Paths().Root);
    panels_[0]->setText(panels_[0]->fontMetrics().elidedText(dir, Qt::ElideMiddle, width[0] - 8));
    panels_[0]->setToolTip(QStringLiteral("Datenverzeichnis: ") + dir);
}

void TfrmMain::BuildLoadPanel() {
    loadPage_ = new QWidget;
    loadPage_->setObjectName(QStringLiteral("pnlLoadPage"));
    auto* grid = new QGridLayout(loadPage_);
    loadPanel_ = new QFrame;
    loadPanel_->setObjectName(QStringLiteral("pnlLoad"));
    static_cast<QFrame*>(loadPanel_)->setFrameShape(QFrame::StyledPanel);
    loadPanel_->setFixedSize(420, 90);
    auto* v = new QVBoxLayout(loadPanel_);
    loadLabel_ = new QLabel;
    loadLabel_->setObjectName(QStringLiteral("lblLoad"));
    loadBar_ = new QProgressBar;
    loadBar_->setObjectName(QStringLiteral("pbLoad"));
    loadBar_->setRange(0, 10);
    loadBar_->setTextVisible(false);
    v->addWidget(loadLabel_);
    v->addWidget(loadBar_);
    // The panel stays in the middle of the window, however it is sized.
    grid->addWidget(loadPanel_, 1, 1);
    grid->setRowStretch(0, 1);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
}

TformModal& TfrmMain::TextDialog() {
    if (!textDialog_) textDialog_ = new TformModal(this);
    return *textDialog_;
}

TFormBusy& TfrmMain::BusyDialog() {
    if (!busyDialog_) busyDialog_ = new TFormBusy(this);
    return *busyDialog_;
}

// ============================================================ extension points

QWidget* TfrmMain::TabPage(MainTab tab) const { return tabs_->widget(int(tab)); }

QListView* TfrmMain::BasketListView(BasketKind basket) const {
    switch (basket) {
    case BasketKind::InputBasket: return inputView_;
    case BasketKind::Inbox: return inboxView_;
    case BasketKind::Outbox: return outboxView_;
    }
    return inboxView_;
}

void TfrmMain::SetTabPage(MainTab tab, QWidget* page) {
    const int i = int(tab);
    const int current = tabs_->currentIndex();
    const QString caption = tabs_->tabText(i);
    QWidget* old = tabs_->widget(i);
    const QSignalBlocker block(tabs_);
    tabs_->removeTab(i);
    tabs_->insertTab(i, page, caption);
    tabs_->setCurrentIndex(current);
    if (old != outboxHomeProcessing_ && old != outboxHomeOutbox_) old->deleteLater();
}

QAction* TfrmMain::Action(MainAction id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void TfrmMain::SetActionHandler(MainAction id, std::function<void()> handler) {
    if (handler)
        handlers_[id] = std::move(handler);
    else
        handlers_.erase(id);
    ActionStateChanged();
}

bool TfrmMain::HasHandler(MainAction id) const { return handlers_.count(id) > 0; }

void TfrmMain::Trigger(MainAction id) {
    auto it = handlers_.find(id);
    if (it == handlers_.end() || !MainActionEnabled(*controller_, id)) return;
    const std::function<void()> handler = it->second;   // the handler may replace itself
    try {
        handler();
    } catch (const std::exception& e) {
        ShowMessage(MessageKind::Error, e.what());
    }
}

void TfrmMain::FilterSharedContextMenu(ContextControl control, bool outboxHasSelection) {
    // Filtering changes only the entries' visibility, never the tree's
    // shape, so the menu entries stay paired with their tree nodes.
    FilterContextMenu(contextTree_, control, outboxHasSelection);
    for (auto& [node, entry] : contextEntries_) entry->setVisible(node->Visible);
}

void TfrmMain::ShowContextMenu(ContextControl control, const QPoint& globalPos, bool outboxHasSelection) {
    FilterSharedContextMenu(control, outboxHasSelection);
    contextMenu_->popup(globalPos);
}

// ============================================================ start-up and closing

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (startupPosted_) return;
    // Start-up begins once the window has been painted: at its first expose.
    if (QWindow* w = windowHandle()) {
        w->installEventFilter(this);
        if (w->isExposed()) PostStartup();
    } else {
        PostStartup();
    }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == windowHandle() && windowHandle()->isExposed()) PostStartup();
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::PostStartup() {
    if (startupPosted_) return;
    startupPosted_ = true;
    if (QWindow* w = windowHandle()) w->removeEventFilter(this);
    // Queued: runs after the expose that painted the window.
    QMetaObject::invokeMethod(this, [this] { RunStartup(); }, Qt::QueuedConnection);
}

void TfrmMain::RunStartupNow() {
    startupPosted_ = true;
    RunStartup();
}

void TfrmMain::RunStartup() {
    bool ok = false;
    try {
        ok = controller_->Startup();
    } catch (const std::exception& e) {
        ShowMessage(MessageKind::Error, e.what());
    }
    startupFinished_ = true;
    ActionStateChanged();
    emit StartupDone(ok);
    if (closeHeld_) close();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    // A close request during start-up waits for its end; every other one
    // goes to the controller, which closes at once only once the shut-down
    // has run and otherwise posts it (or holds it until a run ends).
    if (!startupFinished_) {
        closeHeld_ = true;
        event->ignore();
        return;
    }
    if (controller_->RequestClose()) {
        if (textDialog_) textDialog_->hide();
        if (busyDialog_) busyDialog_->Close();
        event->accept();
    } else {
        event->ignore();
    }
}

void TfrmMain::CloseWindow() { close(); }

void TfrmMain::BringToFront() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

// ============================================================ the queue and idle time

void TfrmMain::PumpQueue() {
    try {
        controller_->Queue()->ProcessMessages();
    } catch (const std::exception& e) {
        ShowMessage(MessageKind::Error, e.what());
    }
    ScheduleIdle();
}

void TfrmMain::ScheduleIdle() {
    if (idleScheduled_ || !controller_->InboxChanged()) return;
    idleScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        idleScheduled_ = false;
        controller_->OnIdle();
    });
}

// ============================================================ commands of the window

void TfrmMain::ShowHelp() { ShowMessage(MessageKind::Information, HelpText()); }

void TfrmMain::ShowProgramInfo() { TextDialog().ShowProgramInfo(); }

void TfrmMain::ChoosePrinter() {
    QPrintDialog dialog(&printer_, this);
    dialog.setObjectName(QStringLiteral("dlgDruckereinstellung"));
    dialog.setWindowTitle(QStringLiteral("Druckereinstellung"));
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    dialog.exec();
    UpdatePrinterCaptions(true);
}

void TfrmMain::UpdatePrinterCaptions(bool chosen) {
    QString name = printer_.printerName();
    if (name.isEmpty()) name = printer_.outputFormat() == QPrinter::PdfFormat ? QStringLiteral("PDF-Datei") : QStringLiteral("kein Drucker");
    const std::string printer = FromQ(name);
    // The set-up entry names the printer only once it has been chosen.
    if (chosen) actions_[MainAction::Druckereinstellung]->setText(ToQ(PrinterSetupCaption(printer)));
    actions_[MainAction::BegleitzettelDrucken]->setText(ToQ(SlipPrintCaption(printer)));
}

// ============================================================ IMainView

void TfrmMain::ShowMessage(MessageKind kind, const std::string& text, const std::string& title) {
    ShowMessageDialog(this, kind, text, title);
}

Answer TfrmMain::Ask(MessageKind kind, const std::string& text, const std::vector<Answer>& buttons,
                     const std::string& title) {
    return MessageDialog(this, kind, text, buttons, title);
}

bool TfrmMain::InputQuery(const std::string& title, const std::vector<std::string>& explanation,
                          const std::string& caption, std::string& value) {
    return TfrmInput::Execute(this, title, explanation, caption, value);
}

void TfrmMain::ShowText(const std::string& title, const std::string& text) { TextDialog().ShowText(title, text); }

void TfrmMain::LogLineAdded(const std::string&) {
    QScrollBar* bar = logView_->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    logModel_->Added();
    if (atEnd) logView_->scrollToBottom();
}

void TfrmMain::ProgressChanged(int position, int maximum, const std::string& text) {
    progressBar_->setRange(0, maximum);
    progressBar_->setValue(position);
    progressLabel_->setText(ToQ(text));
    panels_[3]->setText(ToQ(text));
}

void TfrmMain::LoadProgressChanged(int position, int maximum, const std::string& text) {
    loadBar_->setRange(0, std::max(maximum, 1));
    loadBar_->setValue(std::clamp(position, 0, std::max(maximum, 1)));
    loadLabel_->setText(ToQ(text));
}

void TfrmMain::ResizeClient(int width, int height) {
    if (isMaximized() || isFullScreen()) return;
    const int menu = menuBar()->sizeHint().height();
    resize(width, height + menu);
}

void TfrmMain::SetLoadPanel(LoadPanelMode mode) {
    loadPanelMode_ = mode;
    switch (mode) {
    case LoadPanelMode::Hidden:
        loadPage_->hide();
        tabs_->show();
        ResizeClient(kClientWidth, kClientHeight);
        break;
    case LoadPanelMode::Compact:
        tabs_->hide();
        loadPage_->show();
        ResizeClient(loadPanel_->width() + 100, loadPanel_->height() + 100 + statusBar()->sizeHint().height());
        break;
    case LoadPanelMode::Full:
        tabs_->hide();
        loadPage_->show();
        break;
    }
}

void TfrmMain::ActionStateChanged() {
    for (auto& [id, action] : actions_)
        action->setEnabled(startupFinished_ && HasHandler(id) && MainActionEnabled(*controller_, id));
    const bool busy = controller_->Busy() || controller_->Running();
    if (busy && !busyCursor_) QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!busy && busyCursor_) QApplication::restoreOverrideCursor();
    busyCursor_ = busy;
    if (!busy) ScheduleIdle();
}

void TfrmMain::ShowTab(MainTab tab) { tabs_->setCurrentIndex(int(tab)); }

void TfrmMain::StatusPanelText(int panel, const std::string& text) {
    if (panel >= 1 && panel <= 4) panels_[panel - 1]->setText(ToQ(text));
}

QString TfrmMain::StatusPanel(int panel) const {
    return panel >= 1 && panel <= 4 ? panels_[panel - 1]->text() : QString();
}

TBasketModel* TfrmMain::Model(BasketKind basket) const {
    switch (basket) {
    case BasketKind::InputBasket: return inputModel_;
    case BasketKind::Inbox: return inboxModel_;
    case BasketKind::Outbox: return outboxModel_;
    }
    return inboxModel_;
}

void TfrmMain::BasketReset(BasketKind basket) { Model(basket)->Reset(); }
void TfrmMain::BasketItemInserted(BasketKind basket, size_t index) { Model(basket)->Inserted(index); }
void TfrmMain::BasketItemChanged(BasketKind basket, size_t index) { Model(basket)->Changed(index); }
void TfrmMain::BasketItemRemoved(BasketKind basket, size_t index) { Model(basket)->Removed(index); }
void TfrmMain::SelectBasketItem(BasketKind basket, long index) { lists_->SelectItem(basket, index); }
void TfrmMain::ArchiveTablesAvailable(bool available) { lists_->ArchiveTablesAvailable(available); }
void TfrmMain::InvoiceArchiveFilterChanged() { lists_->InvoiceArchiveFilterChanged(); }

void TfrmMain::SettingsFormChanged() { emit SettingsFormReloaded(); }

void TfrmMain::TransferNumberChanged() { emit TransferNumberReloaded(); }

void TfrmMain::SetWindowCaption(const std::string& caption) { setWindowTitle(ToQ(caption)); }

std::vector<std::string> TfrmMain::ChooseFiles(const std::string& title, const std::string& filter) {
    std::vector<std::string> files;
    for (const QString& f : QFileDialog::getOpenFileNames(this, ToQ(title), QString(), ToQ(filter)))
        files.push_back(FromQ(f));
    return files;
}

bool TfrmMain::RunDownloadDialog(UpdateDownload& download, IProgressSink& log) {
    TUpdateDlgForm dialog(download, this);
    dialog.SetInterval(int(1000 * pauseScale_));
    const bool ok = dialog.Execute();
    // What the dialog said stays in the log, as without a window.
    if (const std::string text = download.LogText(); !text.empty()) log.LogLine(text);
    return ok;
}

void TfrmMain::OpenBusyDialog(const std::string& title, const std::string& text) { BusyDialog().Open(title, text); }

void TfrmMain::CloseBusyDialog() { BusyDialog().Close(); }

void TfrmMain::ProcessEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TfrmMain::Pause(int milliseconds) {
    const int ms = int(milliseconds * pauseScale_);
    if (ms <= 0) {
        ProcessEvents();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace brenvo
