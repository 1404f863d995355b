#pragma once

// The main window "Brenvo": the page control with its ten tabs, the menus,
// the actions built from the action table, the shared context menu, the
// status bar with its four panels and the load panel. It owns the
// controller and is its view; everything the window decides beyond showing
// and asking lives in the controller and the action table.
//
// Extension points for the windows that fill the tabs:
// - SetTabPage(tab, widget) puts a tab's page in place of its placeholder;
// - SetActionHandler(id, handler) wires an action whose handler needs the
//   window (a selection, a dialog); actions without a handler stay disabled;
// - ShowContextMenu(control, ...) opens the shared context menu filtered for
//   the list or grid it was opened on;
// - the signals below pass the controller's notifications on to the tabs.

#include <QMainWindow>
#include <QPointer>
#include <QPrinter>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "entry/frm_modal.h"
#include "mainwindow/MainActions.h"
#include "mainwindow/MainView.h"
#include "mainwindow/frm_Busy.h"

class QAction;
class QLabel;
class QListView;
class QMenu;
class QProgressBar;
class QStackedWidget;
class QTabWidget;
class QCheckBox;

namespace brenvo {

class TBasketModel;
class TLogModel;
class TMainController;
class TMainLists;

class TfrmMain : public QMainWindow, public IMainView {
    Q_OBJECT
public:
    // dataDir: the data directory the controller works on.
    explicit TfrmMain(const std::string& dataDir, QWidget* parent = nullptr);
    ~TfrmMain() override;

    TMainController& Controller() { return *controller_; }

    // The long-lived dialogs, created after the window by the frame. Without
    // them the window makes its own when first needed.
    void SetTextDialog(TformModal* dialog) { textDialog_ = dialog; }
    void SetBusyDialog(TFormBusy* dialog) { busyDialog_ = dialog; }
    TformModal& TextDialog();
    TFormBusy& BusyDialog();

    // --- extension points
    QWidget* TabPage(MainTab tab) const;
    // Replaces the tab's page (the window takes ownership); the caption stays.
    void SetTabPage(MainTab tab, QWidget* page);
    QTabWidget* Tabs() const { return tabs_; }
    // The list of the input basket, the inbox or the outbox.
    QListView* BasketListView(BasketKind basket) const;
    // The lists and grids at work: selections, archive pages, their handlers.
    TMainLists& Lists() const { return *lists_; }
    QAction* Action(MainAction id) const;
    // The action runs handler when triggered; a failure it throws is shown
    // in an error message. An action with a handler follows the enabling
    // rule of the action table; one without stays disabled.
    void SetActionHandler(MainAction id, std::function<void()> handler);
    bool HasHandler(MainAction id) const;
    // The shared context menu, filtered for the control it opens on, at the
    // given screen position.
    void ShowContextMenu(ContextControl control, const QPoint& globalPos, bool outboxHasSelection = false);
    // Filters the shared context menu as ShowContextMenu does, without
    // opening it (the entries' visibility can then be read from the actions'
    // menu entries).
    void FilterSharedContextMenu(ContextControl control, bool outboxHasSelection = false);
    QMenu* SharedContextMenu() const { return contextMenu_; }
    // The printer of the accompanying slips, chosen in "Druckereinstellung".
    QPrinter& SlipPrinter() { return printer_; }

    // The pauses between the steps of start-up and shut-down, scaled (tests
    // and screen pictures use 0).
    void SetPauseScale(double scale) { pauseScale_ = scale; }
    // Start-up has run (whatever its outcome).
    bool StartupFinished() const { return startupFinished_; }
    // Start-up at once, without waiting for the first paint (screen pictures).
    void RunStartupNow();
    // A later start of the program asked for the window.
    void BringToFront();
    LoadPanelMode LoadPanel() const { return loadPanelMode_; }
    QString StatusPanel(int panel) const;

    // --- IMainView
    void ShowMessage(MessageKind kind, const std::string& text, const std::string& title = {}) override;
    Answer Ask(MessageKind kind, const std::string& text, const std::vector<Answer>& buttons,
               const std::string& title = {}) override;
    bool InputQuery(const std::string& title, const std::vector<std::string>& explanation, const std::string& caption,
                    std::string& value) override;
    void ShowText(const std::string& title, const std::string& text) override;
    void LogLineAdded(const std::string& line) override;
    void ProgressChanged(int position, int maximum, const std::string& text) override;
    void LoadProgressChanged(int position, int maximum, const std::string& text) override;
    void SetLoadPanel(LoadPanelMode mode) override;
    void ActionStateChanged() override;
    void ShowTab(MainTab tab) override;
    void StatusPanelText(int panel, const std::string& text) override;
    void BasketReset(BasketKind basket) override;
    void BasketItemInserted(BasketKind basket, size_t index) override;
    void BasketItemChanged(BasketKind basket, size_t index) override;
    void BasketItemRemoved(BasketKind basket, size_t index) override;
    void SelectBasketItem(BasketKind basket, long index) override;
    void ArchiveTablesAvailable(bool available) override;
    void InvoiceArchiveFilterChanged() override;
    void SettingsFormChanged() override;
    void TransferNumberChanged() override;
    void OpenBusyDialog(const std::string& title, const std::string& text) override;
    void CloseBusyDialog() override;
    void ProcessEvents() override;
    void Pause(int milliseconds) override;
    void CloseWindow() override;
    void SetWindowCaption(const std::string& caption) override;
    std::vector<std::string> ChooseFiles(const std::string& title, const std::string& filter) override;
    bool RunDownloadDialog(UpdateDownload& download, IProgressSink& log) override;

signals:
    // The controller filled the settings form anew ("Einstellungen" tab).
    void SettingsFormReloaded();
    // Only the form's MAXTRANSFER changed ("Aktuelle Transfernummer").
    void TransferNumberReloaded();
    // Start-up has run.
    void StartupDone(bool succeeded);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildActions();
    void BuildMenus();
    void BuildTabs();
    void BuildStatusBar();
    void BuildLoadPanel();
    QWidget* Placeholder(const QString& text);
    QWidget* ProcessingPage();
    QListView* BasketView(TBasketModel* model, const QString& name);
    void MoveOutbox(int tab);
    void Trigger(MainAction id);
    void RunStartup();
    void PostStartup();
    void PumpQueue();
    void ScheduleIdle();
    void ShowHelp();
    void ShowProgramInfo();
    void ChoosePrinter();
    void UpdatePrinterCaptions(bool chosen);
    TBasketModel* Model(BasketKind basket) const;
    void ResizeClient(int width, int height);

    std::unique_ptr<TMainController> controller_;
    std::shared_ptr<std::function<void()>> pump_;   // runs the controller's queue; gone with the window
    std::map<MainAction, QAction*> actions_;
    std::map<MainAction, std::function<void()>> handlers_;
    QMenu* contextMenu_ = nullptr;
    TMenuEntry contextTree_;
    std::vector<std::pair<const TMenuEntry*, QAction*>> contextEntries_;   // tree node -> menu entry

    QStackedWidget* stack_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QWidget* loadPage_ = nullptr;
    QWidget* loadPanel_ = nullptr;
    QLabel* loadLabel_ = nullptr;
    QProgressBar* loadBar_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QCheckBox* quitAfterRun_ = nullptr;
    QLabel* panels_[4] = {};
    QListView* logView_ = nullptr;
    TLogModel* logModel_ = nullptr;
    TBasketModel* inputModel_ = nullptr;
    TBasketModel* inboxModel_ = nullptr;
    TBasketModel* outboxModel_ = nullptr;
    QListView* inputView_ = nullptr;
    QListView* inboxView_ = nullptr;
    QListView* outboxView_ = nullptr;
    TMainLists* lists_ = nullptr;
    QWidget* outboxHomeProcessing_ = nullptr;   // where the outbox list sits on each tab
    QWidget* outboxHomeOutbox_ = nullptr;

    QPointer<TformModal> textDialog_;
    QPointer<TFormBusy> busyDialog_;
    QPrinter printer_;

    LoadPanelMode loadPanelMode_ = LoadPanelMode::Hidden;
    double pauseScale_ = 1.0;
    bool startupPosted_ = false;
    bool startupFinished_ = false;
    bool closeHeld_ = false;        // a close request during start-up, handled after it
    bool busyCursor_ = false;
    bool idleScheduled_ = false;
};

} // namespace brenvo
