// How the processing run's result becomes final, and how the next start
// makes whole what a stopped program left: the run's record (RunJournal),
// the staging directories of both archives, the list of the orders being
// written and the order archive's change journal.
//
// The order of the steps is what keeps an invoice from being lost or billed
// twice: the record is on disk before any invoice or order file enters an
// archive directory, the archive directories and the tables are on disk
// before any invoice leaves the inbox, and the record goes last.

#include <algorithm>
#include <exception>
#include <unordered_map>

#include "archive/Staging.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "mainwindow/RunJournal.h"
#include "mainwindow/StagedFile.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

constexpr const char* kNotesFileName = "Verarbeitung.laufend";
constexpr const char* kOrderChangesFileName = "Auftraege.jnl";
constexpr const char* kRecovered = "Wiederherstellung: ";

// The handle an order file's name begins with (handles hold no dot).
std::string HandleOfFile(const std::string& name) { return name.substr(0, name.find('.')); }

bool SameInvoiceFile(const std::string& a, const std::string& b) { return SameFile(a, b) || SameFileContent(a, b); }

std::string Text(const Value& v) { return std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : ""; }

} // namespace

std::string TMainController::RunJournalPath() const { return PathJoin(paths_.Journal, RunJournal::FileName); }

std::string TMainController::RunNotesPath() const { return PathJoin(paths_.Journal, kNotesFileName); }

std::string TMainController::OrderChangesPath() const { return PathJoin(paths_.Journal, kOrderChangesFileName); }

// ============================================================ during the run

// Before a job writes its orders' files, their handles go into the notes, so
// that the next start finds the files of a job that was stopped while it
// wrote them. The system's cache suffices: without a power cut the notes
// outlive the program, and with one the files left behind lie only in the
// temporary directory, from where nothing is ever handed over.
void TMainController::NoteOrdersBeingWritten(TSGBJob& job) {
    std::string lines;
    for (size_t i = 0; i < job.Count(); ++i) lines += job.Order(i).Handle() + "\n";
    if (!lines.empty()) AppendToFile(RunNotesPath(), lines, false);
}

// A job ended well: its orders belong to the run's result.
void TMainController::KeepJobResult(TSGBJob& job) {
    for (size_t i = 0; i < job.Count(); ++i) {
        const TSGBAuftrag& order = job.Order(i);
        pendingOrders_.push_back({order.Handle(), order.EmpfEignerIK(), order.DtaRef()});
    }
}

void TMainController::CloseRunNotes() {
    if (FileExists(RunNotesPath())) DeleteFile(RunNotesPath());
}

// The end of the run's jobs: the record first, then the steps it names.
void TMainController::CommitRun(TRunResult& result, SyncGroup& jobWrites) {
    if (!rech_->HasStaged() && pendingOrders_.empty()) {
        runOpen_ = false;
        CloseRunNotes();
        return;
    }
    RunJournal journal;
    journal.ImportDir = importDir_;
    journal.InvoiceArchiveDir = rech_->ArchiveDir();
    journal.TempDir = paths_.Temp;
    journal.OrderArchiveDir = paths_.ArchivA;
    journal.MaxTransfer = einrichtung_.MAXTRANSFER;
    // Each entry's row, by its key (a handle, an invoice number).
    std::vector<std::string> keys;
    std::unordered_map<std::string, size_t> entry;
    for (const PendingOrder& p : pendingOrders_) {
        entry[p.Handle] = journal.Orders.size();
        journal.Orders.push_back({p.Handle, p.DtaRecipient, p.DtaRef, {}});
        keys.push_back(p.Handle);
    }
    auf_->ReadRows(keys, [&](const std::string& key, const Table& t) { journal.Orders[entry[key]].Row = RowOf(t); });
    keys.clear();
    entry.clear();
    for (const TRechStore::StagedInvoice& s : rech_->Staged()) {
        entry[s.Number] = journal.Invoices.size();
        journal.Invoices.push_back({s.ImportName, s.ArchiveName, {}});
        keys.push_back(s.Number);
    }
    rech_->ReadRows(keys, [&](const std::string& key, const Table& t) { journal.Invoices[entry[key]].Row = RowOf(t); });
    try {
        jobWrites.Sync();
        AtomicWriteFile(RunJournalPath(), journal.ToText());
    } catch (const std::exception& e) {
        const std::string why = e.what();
        AbandonRun(result);
        throw Error("Das Ergebnis der Verarbeitung kann nicht gesichert werden: " + why +
                    " Keine Rechnung wurde abgerechnet; alle liegen wieder offen im Eingangskorb.");
    }
    // From here on the record holds the result: should a step fail, the
    // steps are done again before the next run and at the next start.
    runOpen_ = false;
    rech_->ClearStaged();
    pendingOrders_.clear();
    try {
        FinishRun(journal, false);
    } catch (const std::exception& e) {
        throw Error(std::string("Die Verarbeitung ist gesichert, aber nicht abgeschlossen: ") + e.what() +
                    " Sie wird vor der nächsten Verarbeitung oder beim nächsten Programmstart abgeschlossen.");
    }
}

// The run's result cannot be kept (its record could not be written, or the
// run stopped by a failure outside the jobs): every order of it leaves the
// order archive with its files, every invoice it took is open again.
void TMainController::AbandonRun(TRunResult& result) {
    for (const PendingOrder& p : pendingOrders_) {
        try {
            auf_->DeleteOrderByHandle(p.Handle);
        } catch (const std::exception& e) {
            ShowProgress(1, 1, true, e.what());
            continue;
        }
        if (int n = TSGBJob::RemoveOrderFiles(paths_.Temp, paths_.ArchivA, p.Handle); n > 0)
            ShowProgress(1, 1, true, Format("Auftrag %s verworfen, %d Dateien gelöscht.", {p.Handle, n}));
    }
    pendingOrders_.clear();
    const std::vector<TRechStore::StagedInvoice> staged = rech_->Staged();
    for (const TRechStore::StagedInvoice& s : staged) {
        try {
            std::string name;
            if (!rech_->ReturnInvoice(s.Number, &name)) continue;
            ShowProgress(1, 1, true, "Rechnung zurück in den Eingangskorb: " + name);
            ++result.Returned;
            if (result.Billed > 0) --result.Billed;
        } catch (const std::exception& e) {
            ShowProgress(1, 1, true, e.what());
        }
    }
    runOpen_ = false;
    CloseRunNotes();
}

// The steps of a recorded result, each done only when it is still missing:
// the staged files into the archive directories (where only the inbox's
// file is left, it is taken from there), the rows, the counters, the tables
// saved, the billed invoices out of the inbox, the record removed.
void TMainController::FinishRun(const RunJournal& j, bool recovering) {
    for (const RunJournal::Invoice& inv : j.Invoices) {
        TRechStore::PublishStaged(j.ImportDir, j.InvoiceArchiveDir, inv.ImportName, inv.ArchiveName);
        if (recovering)
            rech_->RestoreRow(Text(RowValue(inv.Row, "R_NUMMER")), [&inv](Table& t) { FillRow(t, inv.Row); });
    }
    for (const RunJournal::Order& o : j.Orders) {
        TAuftragSTore::PublishStaged(j.TempDir, j.OrderArchiveDir, o.Handle);
        if (recovering) auf_->RestoreRow(o.Handle, [&o](Table& t) { FillRow(t, o.Row); });
    }
    SyncDirectory(j.InvoiceArchiveDir);
    SyncDirectory(j.OrderArchiveDir);

    if (recovering) {
        einrichtung_.MAXTRANSFER = j.MaxTransfer;
        for (const RunJournal::Order& o : j.Orders)
            if (o.DtaRef > 0) kt_->RaiseDtaRef(o.DtaRecipient, o.DtaRef);
    }
    SaveTransferNumber();
    kt_->SaveKTBase(false);
    SaveArchives();

    for (const RunJournal::Invoice& inv : j.Invoices) {
        const std::string inbox = PathJoin(j.ImportDir, inv.ImportName);
        // A file another program put there under the same name since stays.
        if (SameInvoiceFile(inbox, PathJoin(j.InvoiceArchiveDir, inv.ArchiveName)))
            DeleteFile(inbox);
    }
    SyncDirectory(j.ImportDir);

    if (recovering)
        for (const RunJournal::Invoice& inv : j.Invoices) {
            const std::string handle = Text(RowValue(inv.Row, "R_HANDLE"));
            std::string transfer;
            for (const RunJournal::Order& o : j.Orders)
                if (o.Handle == handle) transfer = Text(RowValue(o.Row, "A_TRANSFER"));
            LogLine(kRecovered + Format("Rechnung %s (Nr. %s) ist abgerechnet im Auftrag %s (%s).",
                                        {inv.ImportName, Text(RowValue(inv.Row, "R_NUMMER")), transfer, handle}));
        }
    DeleteFile(RunJournalPath());
    CloseRunNotes();
}

// A record left behind (by a stopped program, or by a commit whose steps
// failed in this session) is finished; true when there was one.
bool TMainController::FinishUnfinishedRun() {
    const std::string path = RunJournalPath();
    if (!FileExists(path)) return false;
    FinishRun(RunJournal::FromText(ReadFileBytes(path), path), true);
    return true;
}

// ============================================================ at start-up

// Invoices staged by a run that was stopped before its record: their files
// never left the inbox; the staged names go (or bring a file back that went
// missing there).
void TMainController::ReturnStagedInvoices() {
    const std::string staging = rech_->StagingDir();
    bool moved = false;
    for (const std::string& name : ListFiles(staging, "*")) {
        const std::string staged = PathJoin(staging, name);
        const std::string inbox = PathJoin(importDir_, name);
        std::string back = name;
        if (FileExists(inbox) && SameInvoiceFile(inbox, staged)) {
            DeleteFile(staged);
        } else {
            // Another file took its name meanwhile: it comes back beside it.
            back = FreeName(name, [this](const std::string& n) { return FileExists(PathJoin(importDir_, n)); });
            const std::string target = PathJoin(importDir_, back);
            if (!MoveFile(staged, target, false)) {
                if (!CopyFileTo(staged, target, true))
                    throw Error(Format("Datei %s kann nicht nach %s verschoben werden", {staged, target}));
                DeleteFile(staged);
            }
            moved = true;
        }
        LogLine(kRecovered + Format("Rechnung %s war nicht fertig abgerechnet und liegt wieder offen im Eingangskorb%s.",
                                    {name, back == name ? std::string() : " als " + back}));
    }
    if (moved) SyncDirectory(importDir_);
}

// Orders of a run stopped before its record: their files (written ones in
// the temporary directory, second names in the staging directory) go.
void TMainController::DiscardUnfinishedOrders() {
    std::vector<std::string> handles;
    const std::string staging = StagingDirOf(paths_.ArchivA);
    for (const std::string& name : ListFiles(staging, "*")) handles.push_back(HandleOfFile(name));
    if (FileExists(RunNotesPath()))
        for (const std::string& line : SplitLines(ReadFileBytes(RunNotesPath())))
            if (!Trim(line).empty()) handles.push_back(Trim(line));
    std::sort(handles.begin(), handles.end());
    handles.erase(std::unique(handles.begin(), handles.end()), handles.end());
    for (const std::string& handle : handles) {
        if (auf_->HasHandle(handle)) {
            // A recorded order keeps its files; a second name left behind goes.
            for (const char* ext : TSGBAuftrag::FileExts)
                if (FileExists(PathJoin(paths_.ArchivA, handle) + ext)) DeleteFile(PathJoin(staging, handle) + ext);
            continue;
        }
        if (int n = TSGBJob::RemoveOrderFiles(paths_.Temp, paths_.ArchivA, handle); n > 0)
            LogLine(kRecovered + Format("Auftrag %s war nicht fertig geschrieben; %d Dateien gelöscht.", {handle, n}));
    }
    CloseRunNotes();
}

// Start-up step after both archives are loaded: whatever a stopped program
// left unfinished is finished or undone, each invoice and order named in
// the log.
void TMainController::RecoverAtStartup() {
    const bool record = FileExists(RunJournalPath());
    const bool stagedInvoices = !ListFiles(rech_->StagingDir(), "*").empty();
    const bool stagedOrders = !ListFiles(StagingDirOf(paths_.ArchivA), "*").empty();
    const bool notes = FileExists(RunNotesPath());
    const std::vector<std::string> replayed = auf_->Replayed();
    if (!record && !stagedInvoices && !stagedOrders && !notes && replayed.empty()) return;

    Step("Wiederherstellung nach einem Abbruch...");
    FinishUnfinishedRun();
    ReturnStagedInvoices();
    DiscardUnfinishedOrders();
    if (!replayed.empty()) {
        for (const std::string& line : replayed) LogLine(kRecovered + line);
        auf_->Save();
    }
    RebuildOutbox();
    Step("Wiederherstellung nach einem Abbruch...fertig");
}

} // namespace brenvo
