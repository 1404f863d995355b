// The DAKOTA actions of the main window: the status line, the notifications
// of a running DAKOTA, starting it (program, protocol, processing with a
// watcher of its hand-over directory), exporting the unsent orders to it,
// reading its protocol to mark orders sent, shortening that protocol,
// importing its list of acceptance offices, the check at start-up, the
// follow-up of the processing run with its waits, and the stop at shut-down.

#include <chrono>
#include <exception>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "mainwindow/IniFile.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

// Protocol entries older than this many days are what "Protokoll kürzen" removes.
constexpr int kProtocolKeepDays = 200;

const char* const kNotActivated = "Dakota nicht aktiviert";

// A protocol source naming a database file (the bridge's rule: "MDB" in it).
bool NamesDatabaseFile(const std::string& source) { return Contains(UpperCase(source), "MDB"); }

void SetText(Table& t, const char* field, const std::string& value) {
    t.Edit();
    t.SetString(field, value);
    t.Post();
}

TDakotaActionResult NotActivated() {
    TDakotaActionResult r;
    r.Failure = kNotActivated;
    return r;
}

} // namespace

// ============================================================ state and status line

void TMainController::SyncDakotaInfo() {
    TDakotaInfo& info = dakota_->Info;
    info.DataDir = values_.DAKOTA_DATADIR;
    info.InstDir = values_.DAKOTA_INSTDIR;
    info.ExpDir = values_.DAKOTA_EXPDIR;
    info.ProtFile = values_.DAKOTA_PROTFILE;
    info.AnnFile = values_.DAKOTA_ANN_FILE;
}

void TMainController::SetDakotaPanel(const std::string& text) {
    dakotaStatus_ = text;
    view_.StatusPanelText(3, text);
}

void TMainController::RefreshDakotaStatus() {
    if (!system_.DAKOTA_AKTIV) {
        SetDakotaPanel(kNotActivated);
    } else if (dakotaReady_) {
        const TDakotaFileCount c = dakota_->CountDakotaFiles();
        SetDakotaPanel(Format("Dakota [Eingang: %d] [Ausgang: %d] %s",
                              {c.Input, c.Output, dakotaRunning_ ? "[AKTIV]" : ""}));
    } else {
        SetDakotaPanel("Dakota meldet Fehler.");
    }
}

TDakotaActionResult TMainController::DakotaFailure(TDakotaActionResult result, const std::string& message) {
    result.Ok = false;
    result.Failure = message;
    view_.ShowMessage(MessageKind::Error, message);
    return result;
}

// ============================================================ notifications

void TMainController::RegisterDakotaNotifications() {
    // The handlers go quiet when the controller's TDakota goes, so `this`
    // never outlives them.
    TDakotaNotifications n;
    n.OnStarted = [this](TExtProcess&) { OnDakotaStarted(); };
    n.OnTerminated = [this](TExtProcess&) { OnDakotaTerminated(); };
    n.OnStartError = [this](TExtProcess&) { OnDakotaStartError(); };
    // DAKOTA's output (the runner's tick) is not shown.
    dakota_->SetDakotaNotifications(std::move(n));
}

void TMainController::OnDakotaStarted() {
    LogLine("Dakota: gestartet.");
    dakotaRunning_ = true;
    RefreshDakotaStatus();
}

void TMainController::OnDakotaStartError() {
    TLongActionGuard guard(*this);
    // First the state every waiter looks at, then what may fail.
    dakotaPending_ = false;
    dakotaStartFailed_ = true;
    dakotaProcessing_ = false;
    dakotaResult_ = dakota_->GetDakotaResult();
    // A DAKOTA stopped at shut-down leaves the window busy.
    if (!shuttingDown_) SetBusy(false);
    dakotaRunning_ = false;
    RefreshDakotaStatus();
    ShowProgress(10, 10, true, Format("Dakota: Fehler beim Starten %s (%d)", {dakotaResult_.Text, dakotaResult_.Code}));
    CloseDakotaBusyDialog();
}

void TMainController::OnDakotaTerminated() {
    TLongActionGuard guard(*this);
    dakotaPending_ = false;
    dakotaProcessing_ = false;
    dakotaResult_ = dakota_->GetDakotaResult();
    if (!shuttingDown_) SetBusy(false);
    dakotaRunning_ = false;
    RefreshDakotaStatus();
    if (dakotaResult_.Code != 0)
        ShowProgress(10, 10, true, Format("Dakota: beendet. Ergebnis: %s (%d)", {dakotaResult_.Text, dakotaResult_.Code}));
    else
        ShowProgress(10, 10, true, Format("Dakota: beendet. Ergebnis: %s", {dakotaResult_.Text}));
    // As the shut-down's "Daten speichern ..."; at shut-down that step has
    // just run.
    if (!shuttingDown_) {
        try {
            SaveTables();
        } catch (const std::exception& e) {
            view_.ShowMessage(MessageKind::Error, e.what());
        }
    }
    dakota_->ForgetDakotaProcess();
    CloseDakotaBusyDialog();
}

void TMainController::OnDakotaDataDirChanged() {
    // Only DAKOTA's processing moves the progress; the export fills the same
    // directory and reports by itself.
    if (!dakotaProcessing_) return;
    const int n = dakotaFiles_;
    ShowProgress(n - CountAufFiles(dakota_->Info.DataDir), n, false, "Dateien werden verarbeitet...");
}

// ============================================================ starting DAKOTA

TDakotaActionResult TMainController::StartDakotaCall(const std::string& logText, const std::string& sw) {
    TDakotaActionResult r;
    if (!DakotaEnabled()) return NotActivated();
    TLongActionGuard guard(*this);
    LogLine(logText);
    SetBusy(true);
    RegisterDakotaNotifications();
    dakotaStartFailed_ = false;
    dakotaPending_ = true;
    try {
        std::string text;
        if (sw.empty())
            dakota_->StartDakota(text);
        else
            dakota_->StartDakotaProtocol(text);
    } catch (const std::exception& e) {
        dakotaPending_ = false;
        SetBusy(false);
        return DakotaFailure(r, e.what());
    }
    r.Ok = true;
    return r;
}

TDakotaActionResult TMainController::actDakotaStartExecute() {
    return StartDakotaCall("Dakota: wird gestartet (Programm)", "");
}

TDakotaActionResult TMainController::actDakotaProtokollExecute() {
    return StartDakotaCall("Dakota: wird gestartet (Protokoll) ...", "-k");
}

TDakotaActionResult TMainController::actDakotaVerarbeitungExecute() {
    TDakotaActionResult r;
    if (!DakotaEnabled()) return NotActivated();
    TLongActionGuard guard(*this);
    SetBusy(true);
    try {
        // The watcher is made once and follows the hand-over directory of the
        // settings; it watches before DAKOTA can touch a file.
        if (!dakotaWatcher_) {
            dakotaWatcher_ = std::make_unique<TShellChangeNotifier>(queue_);
            dakotaWatcher_->SetWatchSubTree(true);
            dakotaWatcher_->SetRoot(dakota_->Info.DataDir);
            std::weak_ptr<bool> alive = alive_;
            dakotaWatcher_->SetOnChange([this, alive] {
                if (auto a = alive.lock(); a && *a) OnDakotaDataDirChanged();
            });
        } else {
            dakotaWatcher_->SetRoot(dakota_->Info.DataDir);
        }
        dakotaWatcher_->WaitUntilWatching(std::chrono::seconds(2));
        RegisterDakotaNotifications();
        LogLine("Dakota: wird gestartet (Verarbeitung)");
        ShowProgress(1, 5, false, "Dakota wird gestartet...");
        dakotaStartFailed_ = false;
        dakotaPending_ = true;
        std::string text;
        int n = 0;
        dakota_->StartDakotaProcessing(text, n);
        dakotaFiles_ = n;
        dakotaProcessing_ = true;
        r.Count = n;
        r.Ok = true;
        // Pumps: DAKOTA's first notifications may arrive here.
        ShowProgress(2, 5, true, Format("Dakota gestartet: %d Dateien", {n}));
    } catch (const std::exception& e) {
        if (!r.Ok) {
            dakotaPending_ = false;
            dakotaProcessing_ = false;
            SetBusy(false);
        }
        return DakotaFailure(r, e.what());
    }
    return r;
}

void TMainController::CloseDakotaBusyDialog() {
    if (!busyDialogOpen_) return;
    busyDialogOpen_ = false;
    view_.CloseBusyDialog();
}

bool TMainController::WaitForDakota(const std::string& title, const std::string& text) {
    // Ended or failed to start already: nothing to wait for.
    if (!dakotaPending_) return !dakotaStartFailed_;
    TLongActionGuard guard(*this);
    const std::shared_ptr<TExtProcess> runner = dakota_->DakotaProcess();
    if (!busyDialogOpen_) {
        busyDialogOpen_ = true;
        view_.OpenBusyDialog(title, text);
    }
    // The end and start-failure handlers clear dakotaPending_. A runner whose
    // thread has ended without either (it could no longer be watched) or a
    // queue that was shut down would otherwise keep the dialog for ever.
    auto done = [&] { return !dakotaPending_ || !runner || runner->ThreadFinished() || queue_->IsShutDown(); };
    while (!done()) {
        view_.ProcessEvents();
        queue_->ProcessUntil(done, std::chrono::milliseconds(50));
    }
    if (dakotaPending_) {
        dakotaPending_ = false;
        dakotaProcessing_ = false;
        dakotaRunning_ = false;
        dakotaResult_ = TDakotaResult{-1, DakotaStatusText(-1)};
        if (!shuttingDown_) SetBusy(false);
        RefreshDakotaStatus();
    }
    CloseDakotaBusyDialog();
    return !dakotaStartFailed_;
}

// ============================================================ export

TDakotaActionResult TMainController::actDakotaExportExecute() {
    TDakotaActionResult r;
    if (!DakotaEnabled()) return NotActivated();
    TLongActionGuard guard(*this);
    if (const std::string refusal = ArchivesRefusal("Export zu Dakota"); !refusal.empty())
        return DakotaFailure(r, refusal);
    SetBusy(true);
    int count = 0;
    try {
        ShowProgress(1, 3, true, "Export zu Dakota starten... ");
        // An empty setting would put the orders below the working directory.
        if (Trim(auf_->DakotaHandoverDir()).empty())
            throw Error("Export zu Dakota nicht möglich: kein Übergabeverzeichnis (DAKOTA_DATADIR) eingestellt.");
        count = auf_->ExportToDakota();
        ShowProgress(2, 3, true, "Export zu Dakota beendet.");
        r.Ok = true;
    } catch (const std::exception& e) {
        count = 0;
        r.Failure = e.what();
    }
    r.Count = count;
    ShowProgress(3, 3, true, Format("Export zu Dakota beendet. %d Aufträge exportiert.", {count}));
    SetBusy(false);
    RefreshDakotaStatus();
    RebuildOutbox();
    if (!r.Ok) return DakotaFailure(r, r.Failure);
    return r;
}

// ============================================================ the protocol

TDakotaActionResult TMainController::actDakotaReadResultExecute() {
    TDakotaActionResult r;
    if (!DakotaEnabled()) return NotActivated();
    TLongActionGuard guard(*this);
    if (const std::string refusal = ArchivesRefusal("Dakota-Ergebnis lesen"); !refusal.empty())
        return DakotaFailure(r, refusal);
    if (!dmDakota_) dmDakota_ = std::make_unique<TdmDakota>();
    std::string reason;
    if (!dmDakota_->OpenProtocol(values_.DAKOTA_PROTFILE, reason))
        return DakotaFailure(r, "Kein Zugriff auf Dakota-Protokoll. " + reason);

    SetBusy(true);
    int count = 0;
    try {
        ShowProgress(1, 3, true, "Lesen Dakota-Protokoll starten... ");
        // The unsent orders are listed first: marking one sent must not move
        // the walk past its neighbour.
        struct Unsent {
            int64_t id;
            std::string transfer;
            TDateTime created;
        };
        std::vector<Unsent> unsent;
        {
            Table& t = auf_->GetTable();
            AllRows all(t);
            for (t.First(); !t.Eof(); t.Next())
                if (t.IsNull("A_VERSANDT"))
                    unsent.push_back({t.AsInteger("A_ID"), t.AsString("A_TRANSFER"), t.AsDateTime("A_ERZEUGT")});
        }
        const int m = int(unsent.size());
        for (int k = 1; k <= m; ++k) {
            const Unsent& u = unsent[size_t(k - 1)];
            ShowProgress(k, m, false, "prüfe " + IntToStr(k) + u.transfer);
            TDateTime sent;
            if (dmDakota_->FindTransferResult(u.transfer, u.created, sent) != TransferSent) continue;
            Table& t = auf_->GetTable();
            AllRows all(t);
            // Still unsent: an e-mail action may have run while progress pumped.
            if (!auf_->LocateById(u.id) || !t.IsNull("A_VERSANDT")) continue;
            auf_->MarkSent(sent);
            ++count;
        }
        dmDakota_->CloseProtocol();
        ShowProgress(2, 3, true, "Lesen Dakota-Protokoll beendet");
        // The marks are written at once, so that no crash can lose them.
        if (count > 0) auf_->Save();
        r.Ok = true;
    } catch (const std::exception& e) {
        r.Failure = e.what();
    }
    dmDakota_->CloseProtocol();
    r.Count = count;
    ShowProgress(3, 3, true, Format("Lesen Daktota-Protokoll beendet. %d Aufträge", {count}));
    SetBusy(false);
    RefreshDakotaStatus();
    if (!r.Ok) return DakotaFailure(r, r.Failure);
    return r;
}

TDakotaActionResult TMainController::actDakotaProtKuerzenExecute() {
    TDakotaActionResult r;
    if (!DakotaEnabled()) return NotActivated();
    TLongActionGuard guard(*this);
    if (view_.Ask(MessageKind::Confirmation, Format("Protokolleinträge älter als %d Tage löschen?", {kProtocolKeepDays}),
                  {Answer::Yes, Answer::No}) != Answer::Yes) {
        r.Cancelled = true;
        return r;
    }
    SetBusy(true);
    if (!dmDakota_) dmDakota_ = std::make_unique<TdmDakota>();
    int count = 0;
    try {
        const std::string source = values_.DAKOTA_PROTFILE;
        // A database file must exist; a data source name is no file and goes
        // to the driver as it is.
        if ((Trim(source).empty() || NamesDatabaseFile(source)) && !FileExists(source))
            throw Error(Format("Protokolldatei [%s] nicht gefunden.", {source}));
        std::string reason;
        if (!dmDakota_->OpenProtocol(source, reason)) throw Error("Kein Zugriff auf Dakota-Protokoll. " + reason);
        const TDateTime limit = IncDays(Now(), -kProtocolKeepDays);
        for (dmDakota_->First(); !dmDakota_->Eof();) {
            const TProtocolRow& row = dmDakota_->Current();
            // A row without a readable date counts as not old: it stays, and
            // the walk ends there.
            if (row.AKTION != "V" || row.DATUM.IsNull() || !(row.DATUM < limit)) break;
            dmDakota_->Delete();
            ++count;
            view_.StatusPanelText(3, IntToStr(count));
            PumpMessages();
        }
        if (count > 0) dmDakota_->ApplyProtocolChanges();
        dmDakota_->CloseProtocol();
        r.Ok = true;
    } catch (const std::exception& e) {
        r.Failure = e.what();
        count = 0;
    }
    dmDakota_->CloseProtocol();
    r.Count = count;
    SetBusy(false);
    SetDakotaPanel("");
    if (!r.Ok) return DakotaFailure(r, r.Failure);
    return r;
}

// ============================================================ acceptance offices

TDakotaActionResult TMainController::actDakotaReadAnnahmeExecute() {
    TDakotaActionResult r;
    if (!DakotaEnabled()) return NotActivated();
    try {
        if (!kt_) throw Error("Annahmestellen lesen nicht möglich: die Kostenträgerdaten sind nicht geladen.");
        Table& t = kt_->KTTransfer();
        AllRows all(t);

        // Only e-mail channels stay.
        t.First();
        while (!t.Eof()) {
            if (t.AsString("DFU_PROTOKOLL") != "070")
                t.Delete();
            else
                t.Next();
        }
        t.MergeChangeLog();

        const std::string file = values_.DAKOTA_ANN_FILE;
        if (!FileExists(file)) throw Error(Format("Datei %s existiert nicht.", {file}));
        const std::vector<TIniSection> sections = ReadIniFile(file);

        LogLine("Import Dakota-Annahmestellen: alle zurücksetzen...");
        for (t.First(); !t.Eof(); t.Next()) SetText(t, "DAKOTA", " ");
        LogLine("Import Dakota-Annahmestellen: alle zurücksetzen fertig.");

        LogLine("Import Dakota-Annahmestellen: Lese Daten aus der Dakota-Datei...");
        for (const TIniSection& s : sections) {
            const std::string ik = Trim(s.Value("IK"));
            const std::string email = s.Value("Email");
            const std::string name = s.Value("Name");
            // A row needs a real IK: the column holds nine characters.
            if (ik.size() != 9 || !IsDigits(ik)) {
                LogLine(Format("Import Dakota-Annahmestellen: Abschnitt [%s] ohne gültige IK übersprungen (IK=%s)",
                               {s.Name, ik}));
                continue;
            }
            if (t.Locate("K_IK", {Value(ik)})) {
                const std::string kanal = t.AsString("DFU_KANAL");
                const std::string pretty = kt_->GetIKPretty(ik, false);
                if (UpperCase(Trim(email)) != UpperCase(Trim(kanal))) {
                    LogLine(Format("Abweichung   %s %s Dakota:%s brenvo:%s %s", {ik, name, email, kanal, pretty}));
                    SetText(t, "DAKOTA", "1");
                } else {
                    LogLine(Format("gefunden    %s %s:%s %s", {ik, name, email, pretty}));
                    if (t.AsString("DAKOTA") == " ") SetText(t, "DAKOTA", "2");
                }
            } else {
                LogLine(Format("fehlt, wird angelegt  %s %s:%s", {ik, name, email}));
                t.Append();
                t.SetString("K_IK", ik);
                t.SetString("DFU_KANAL", email);
                t.SetString("DFU_PROTOKOLL", "070");
                t.SetString("UEM_MEDIUM", "1");
                t.SetString("UEM_ZEICHENSATZ", "I7");
                t.SetString("UEM_PARAM", "00");
                t.SetString("DAKOTA", "3");
                t.Post();
            }
            ++r.Count;
        }
        t.MergeChangeLog();
        t.SaveToFile(kt_->KTTransferFileName());
        LogLine("Import Dakota-Annahmestellen: Import beendet.");
        r.Ok = true;
    } catch (const std::exception& e) {
        return DakotaFailure(r, e.what());
    }
    return r;
}

// ============================================================ start-up, run, shut-down

void TMainController::StartupCheckDakota() {
    if (!DakotaEnabled()) {
        dakotaCheckText_ = "Dakota nicht aktiviert.";
        Step(dakotaCheckText_);
        return;
    }
    Step("Dakota prüfen...");
    std::string text;
    dakotaReady_ = dakota_->CheckDakotaReady(text);
    dakotaCheckText_ = text;
    Step("Dakota prüfen...fertig: " + text);
    RefreshDakotaStatus();
}

TDakotaProcessing TMainController::DakotaProcessing(bool readResult, bool showProtocol) {
    TDakotaProcessing p;
    if (!DakotaEnabled()) {
        p.Export = NotActivated();
        return p;
    }
    TLongActionGuard guard(*this);
    if (const std::string refusal = ArchivesRefusal("Dakota-Verarbeitung"); !refusal.empty()) {
        p.Export = DakotaFailure(p.Export, refusal);
        return p;
    }
    p.Export = actDakotaExportExecute();
    if (actDakotaVerarbeitungExecute().Ok) {
        WaitForDakota("Verarbeitung", "Dakota läuft...");
        p.Started = !dakotaStartFailed_;
        p.Ended = p.Started && !dakotaPending_;
        p.Result = dakotaResult_;
    }
    if (readResult) {
        p.ResultRead = true;
        p.Read = actDakotaReadResultExecute();
    }
    if (showProtocol && actDakotaProtokollExecute().Ok)
        WaitForDakota("Protokoll", "Dakota-Protokoll wird angezeigt...");
    return p;
}

void TMainController::RunDakotaFollowUp() {
    DakotaProcessing(system_.DAKOTA_PROT_READAUTO, system_.DAKOTA_PROT_AUTO);
}

void TMainController::ShutdownStopDakota() {
    dakotaProcessing_ = false;
    dakotaWatcher_.reset();
    dakota_->StopDakota();
}

} // namespace brenvo
