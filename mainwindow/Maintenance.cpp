// Data maintenance, backup and update of the main window: "Daten bereinigen",
// "Archiv bereinigen" and "Daten Import" on the two archives, "DB Funktion",
// "Datensicherung erstellen" and the automatic backup at program end, and
// "Update [Daten]" / "Update [Programm]" with the controller as the update's
// host.

#include <exception>
#include <functional>

#include "billing/InvoiceDocument.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "mainwindow/UpdateDlg.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

constexpr const char* kDtaRefAdded = "DB Funktion: Spalte DTAREF ergänzt in ";
constexpr const char* kDtaRefPresent = "DB Funktion: Spalte DTAREF vorhanden in ";

// The line break between the pieces of a hint and before a question's last line.
constexpr const char* kLfCr = "\n\r";

constexpr const char* kDtaRefColumn = "DTAREF";

// Runs f; returns the failure's message, "" when it went through.
std::string Attempt(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// The window's title shows an action's progress; the program's own title
// comes back when the action ends, also after a failure.
class WindowTitle {
public:
    explicit WindowTitle(IMainView& view) : view_(view) {}
    ~WindowTitle() {
        if (shown_) view_.SetWindowCaption(TMainController::Caption);
    }
    WindowTitle(const WindowTitle&) = delete;
    WindowTitle& operator=(const WindowTitle&) = delete;
    void Show(const std::string& text) {
        shown_ = true;
        view_.SetWindowCaption(text);
    }

private:
    IMainView& view_;
    bool shown_ = false;
};

} // namespace

std::string TMainController::MaintenanceHint(MaintenanceAction action) {
    switch (action) {
    case MaintenanceAction::DatenBereinigen:
        return std::string("Rechnungen und Aufträge älter als 200 Tage werden ") + kLfCr +
               "aus den Tabellen gelöscht. Die Dateien bleiben " + kLfCr + "erhalten.";
    case MaintenanceAction::ArchivBereinigen:
        return std::string("Dateien zu allen Rechnungen und Aufträgen, die in den ") + kLfCr +
               "Tabellen nicht (mehr) enthalten sind, werden gelöscht.";
    case MaintenanceAction::DatenImport:
        return std::string("Fehlende Tabellen-Einträge zu Rechnungen und Aufträgen werden ") + kLfCr +
               "aus den vorhandenen Dateien rekonstruiert.";
    }
    return "";
}

// ============================================================ the frame of an operation

// A maintenance operation, a backup or an update may start once start-up has
// run, while nothing else runs and the program is not ending.
bool TMainController::OperationPossible() const {
    return startupDone_ && !busy_ && !running_ && !maintenanceRunning_ && !shuttingDown_ && !closingAllowed_;
}

// A maintenance action asks first (Yes, No); only Yes goes on.
bool TMainController::Confirmed(const std::string& question) {
    return OperationPossible() &&
           view_.Ask(MessageKind::Confirmation, question, {Answer::Yes, Answer::No}) == Answer::Yes;
}

// The end of every operation: idle again (unless the tables are gone), the
// failure shown. A close request that came meanwhile follows when the
// operation's guard goes.
bool TMainController::EndOperation(const std::string& failure, bool idle) {
    if (idle) SetBusy(false);
    if (!failure.empty()) view_.ShowMessage(MessageKind::Error, failure);
    maintenanceRunning_ = false;
    return failure.empty();
}

// An operation on the archives: refused while either is not loaded.
bool TMainController::RunMaintenance(const std::string& action, bool processingTab,
                                     const std::function<void()>& body) {
    return RunOperation(processingTab, [&] {
        RequireArchives(action);
        body();
    });
}

// The frame of a maintenance operation: busy while the body runs, its
// failure shown.
bool TMainController::RunOperation(bool processingTab, const std::function<void()>& body) {
    if (!OperationPossible()) return false;
    TLongActionGuard guard(*this);
    maintenanceRunning_ = true;
    if (processingTab) view_.ShowTab(MainTab::Verarbeitung);
    SetBusy(true);
    return EndOperation(Attempt(body), true);
}

void TMainController::SaveArchives() {
    rech_->Save();
    auf_->Save();
}

// ============================================================ "Daten bereinigen"

void TMainController::actDatenBereinigenExecute() {
    if (Confirmed(Format("Daten (Rechnungen und Aufträge) älter als %d Tage löschen?", {PurgeDays}))) PurgeOldData();
}

// The orders first, then the invoices; every invoice row that goes returns
// its file to the inbox (the invoice archive's removal rule).
bool TMainController::PurgeOldData() {
    const bool ok = RunMaintenance("Daten bereinigen", true, [this] {
        auf_->PurgeOlderThan(PurgeDays);
        rech_->PurgeOlderThan(PurgeDays);
        // The files are back in the inbox: their rows must not come back
        // with a program that ends without saving.
        SaveArchives();
    });
    view_.StatusPanelText(3, "");
    return ok;
}

// ============================================================ "Archiv bereinigen"

void TMainController::actArchivBereinigenExecute() {
    if (Confirmed(MaintenanceHint(MaintenanceAction::ArchivBereinigen) + kLfCr + "Fortfahren?")) CleanupArchiveFiles();
}

bool TMainController::CleanupArchiveFiles() {
    return RunMaintenance("Archiv bereinigen", true, [this] {
        ShowProgress(1, 6, true, "Dateien-Bereinigung startet...");
        ShowProgress(2, 6, true, "Rechnungen");
        const int invoiceFiles = rech_->CleanupFiles();
        ShowProgress(3, 6, true, Format("%d Rechnungs-Dateien gelöscht", {invoiceFiles}));
        ShowProgress(4, 6, true, "Aufträge");
        const int orderFiles = auf_->CleanupFiles();
        ShowProgress(5, 6, true, Format("%d Auftags-Dateien gelöscht.", {orderFiles}));
        ShowProgress(6, 6, true, "Dateien-Bereinigung beendet.");
    });
}

// ============================================================ "Daten Import"

void TMainController::actDatenImportExecute() {
    if (Confirmed(MaintenanceHint(MaintenanceAction::DatenImport) + kLfCr + "Fortfahren?")) ImportArchiveData();
}

bool TMainController::ImportArchiveData() {
    return RunMaintenance("Daten Import", true, [this] {
        ShowProgress(5, 10, false, "Lese Verzeichnis Rechnungs-Archiv " + rech_->ArchiveDir());
        const int failed = RebuildInvoiceRows();
        ShowProgress(5, 10, false, "Lese Verzeichnis Auftrags-Archiv " + auf_->ArchiveDir());
        LinkRebuiltOrders();
        SaveArchives();
        if (failed > 0)
            throw Error(Format("%d Rechnungs-Dateien konnten nicht übernommen werden (siehe Protokoll).", {failed}));
    });
}

// Adds a row for every invoice file of the last days in "ArchivR" that no
// row names. A file that cannot be read or whose number is archived already
// is logged and skipped, so that the others still come in; returns how many
// were skipped.
int TMainController::RebuildInvoiceRows() {
    std::vector<std::string> files;
    rech_->FindUnlistedFiles(RebuildDays, files);
    const int n = int(files.size());
    int failed = 0;
    for (int i = 0; i < n; ++i) {
        const std::string& name = files[size_t(i)];
        ShowProgress(i, n - 1, false, Format("%d/%d Rechnungen bearbeitet", {i, n}));
        try {
            InvoiceDocument doc;
            doc.LoadFromFile(PathJoin(rech_->ArchiveDir(), name));
            Table& header = doc.Rechnung();
            if (header.RecordCount() == 0) throw Error("Die Datei enthält keine Rechnung.");
            header.First();
            rech_->AddRebuilt(header, name, "");
        } catch (const std::exception& e) {
            ++failed;
            ShowProgress(i, n - 1, true, Format("Rechnung %s nicht übernommen: %s", {name, e.what()}));
        }
    }
    return failed;
}

// Rebuilds the missing order rows from the order records of the last days and
// links every archived invoice their billing files name to its order. The
// pairs found before a failing record are still linked.
void TMainController::LinkRebuiltOrders() {
    std::vector<std::string> pairs;
    std::string failure;
    try {
        auf_->Rebuild(RebuildDays, pairs);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    const int n = int(pairs.size());
    WindowTitle title(view_);
    for (int i = 0; i < n; ++i) {
        const std::string& pair = pairs[size_t(i)];
        const size_t eq = pair.rfind('=');
        const std::string number = eq == std::string::npos ? pair : pair.substr(0, eq);
        const std::string handle = eq == std::string::npos ? "" : pair.substr(eq + 1);
        const bool linked = rech_->LinkHandle(number, handle);
        const std::string message = Format(linked ? "%d/%d Rechnungen verknüpft OK"
                                                  : "%d/%d Rechnungen verknüpft nicht OK: Auftrag nicht gefunden",
                                           {i, n});
        title.Show(message);
        ShowProgress(i, n - 1, true, message);
    }
    if (!failure.empty()) throw Error(failure);
}

// ============================================================ "DB Funktion"

// Older installations lack the DTAREF column in KT_BASE and in the order
// archive. The patch closes a table; it is read again at once, so that the
// run and the outbox go on working. The order archive is saved first, so
// that closing it loses no change of this session.
void TMainController::actDBFunktionExecute() {
    RunMaintenance("DB Funktion", false, [this] {
        if (!kt_) throw Error("Nicht möglich: das Kostenträgerverzeichnis ist nicht geladen.");

        Table& base = kt_->KTBase();
        const bool baseHad = base.Active() && base.HasField(kDtaRefColumn);
        kt_->EnsureDtaRefField();
        if (!base.Active()) kt_->LoadKTBase(kt_->KTBaseFileName());
        LogLine((baseHad ? kDtaRefPresent : kDtaRefAdded) + kt_->KTBaseFileName());

        Table& orders = auf_->GetTable();
        const std::string file = auf_->FileName();
        if (orders.HasField(kDtaRefColumn)) {
            LogLine(kDtaRefPresent + file);
            return;
        }
        auf_->Save();
        const bool patched =
            TSGBKTStore::AddFieldToXmlFile(orders, kDtaRefColumn, file, TSGBKTStore::DtaRefFieldElement);
        if (!orders.Active()) {
            aufLoaded_ = false;
            auf_->Load(file);
            aufLoaded_ = true;
            RebuildOutbox();
        }
        LogLine((patched ? kDtaRefAdded : kDtaRefPresent) + file);
    });
}

// ============================================================ backup

BackupSources TMainController::BackupSourceDirs() const {
    BackupSources s;
    s.programDir = paths_.Root;
    // "Stammdaten", "ArchivR" and "ArchivA" are named below the program
    // directory (the defaults of BackupSources); the others by full path.
    s.importDir = importDir_;
    s.exportDir = paths_.Export;
    s.eingabeDir = paths_.Eingabe;
    return s;
}

std::string TMainController::MakeBackup() {
    lastBackup_ = brenvo::CreateBackup(BackupSourceDirs(), backupDir_, *this);
    return lastBackup_;
}

void TMainController::CreateBackup() { MakeBackup(); }

bool TMainController::actDatensicherungErstellenExecute() {
    if (!OperationPossible()) return false;
    TLongActionGuard guard(*this);
    maintenanceRunning_ = true;
    view_.SetLoadPanel(LoadPanelMode::Full);
    SetBusy(true);
    // Only what was loaded is read again (never a table an update released).
    const bool invoicesLoaded = rech_ && rechLoaded_;
    const bool ordersLoaded = auf_ && aufLoaded_;
    std::string failure = Attempt([this] {
        loadPos_ = 0;
        SaveTables();
        MakeBackup();
    });
    view_.SetLoadPanel(LoadPanelMode::Hidden);
    if (failure.empty())
        failure = Attempt([&] {
            if (invoicesLoaded) CreateInvoiceArchive();
            if (ordersLoaded) CreateOrderArchive();   // clears the outbox before filling it again
        });
    return EndOperation(failure, true);
}

// The shut-down's step "Datensicherung ..." (only with SIK_AUTO).
void TMainController::ShutdownBackup() {
    if (!values_.SIK_AUTO) return;
    Step("Datensicherung ...");
    MakeBackup();
    view_.Pause(100);
}

// ============================================================ update

void TMainController::ShowLoadPanel() { view_.SetLoadPanel(LoadPanelMode::Full); }

void TMainController::Pause(int milliseconds) { view_.Pause(milliseconds); }

// The window closes once the update's handler has returned.
void TMainController::CloseProgram() { RequestClose(); }

bool TMainController::RunDownloadDialog(const UpdateDownloadParams& params) {
    UpdateDownload dialog(params);
    dialog.OnChange = [this] { PumpMessages(); };
    updateDownloaded_ = view_.RunDownloadDialog(dialog, *this);
    return updateDownloaded_;
}

bool IMainView::RunDownloadDialog(UpdateDownload& download, IProgressSink& log) {
    return RunUpdateDownloadUnattended(download, &log);
}

bool TMainController::actUpdateDatenExecute() { return RunUpdate(false); }

bool TMainController::actUpdateProgrammExecute() { return RunUpdate(true); }

// Both updates release the tables right after a complete download. From
// then on the program only ends: it stays busy behind the load panel, and
// its shut-down saves nothing. An update that stopped before (no newer
// archive, no connection) changed nothing: the normal view comes back.
bool TMainController::RunUpdate(bool program) {
    if (!OperationPossible()) return false;
    TLongActionGuard guard(*this);
    maintenanceRunning_ = true;
    updateDownloaded_ = false;
    SetBusy(true);
    bool done = false;
    const std::string failure = Attempt([&] {
        const FtpOptions server = UpdateServerOptions(ReadIniValue(UpdateServerIniKey));
        const UpdateLocations where{paths_.Root, paths_.Stammdaten, paths_.Downloads};
        done = program ? UpdateProgram(*this, where, server) : UpdateData(*this, where, server);
    });
    if (!updateDownloaded_) view_.SetLoadPanel(LoadPanelMode::Hidden);
    return EndOperation(failure, !updateDownloaded_) && done;
}

} // namespace brenvo
