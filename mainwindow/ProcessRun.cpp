// The processing run of the main window ("&Start"): checks every invoice of
// the inbox, hands the good ones to billing jobs and gives back what a
// failed job had taken.

#include <exception>
#include <optional>

#include "billing/InvoiceDocument.h"
#include "billing/InvoicePrefetch.h"
#include "billing/U_sgbv.h"
#include "crypt/U_Krypt.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

// Days back to the earliest billing date the run starts from.
constexpr int kEarliestInvoiceDays = 3000;

// The orders of a run signed and encrypted by the program itself: the key
// file and the key list are read once, at the first order.
class TKryptSealer : public IOrderSealer {
public:
    explicit TKryptSealer(const TSystem& s) : krypt_(s.KRYPT_PKCS12, s.KRYPT_PASSWORT, s.KRYPT_SCHLUESSELLISTE) {}
    void CheckRecipient(const std::string& ik) override { krypt_.CheckRecipient(ik, Now()); }
    std::string Seal(std::string_view data, const std::string& ik) override { return krypt_.Seal(data, ik, Now()); }

private:
    TKrypt krypt_;
};

// The invoice files of the entries a phase works on (all but those marked
// as failed), in the phase's order: they are read ahead on a second thread.
template <class Entries>
std::vector<std::string> FilesToRead(const std::string& importDir, const Entries& entries) {
    std::vector<std::string> paths;
    for (const auto& entry : entries)
        if (entry.Mark != 2) paths.push_back(PathJoin(importDir, entry.Name));
    return paths;
}

} // namespace

// ============================================================ decimal separators

std::string TMainController::ConvertDecimalSeparatorsText(std::string_view text, bool toComma) {
    std::string s;
    s.reserve(text.size());
    for (const std::string& line : SplitLines(text)) s += line;
    const char from = toComma ? '.' : ',';
    const char to = toComma ? ',' : '.';
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    // Positions 1 to 19 hold the XML declaration's version number; positions
    // are counted from 1 as the file's characters.
    if (s.size() > 10 && s.size() >= 22) {
        for (size_t p = 20; p + 2 <= s.size(); ++p) {
            char& c = s[p - 1];
            if (c == from && digit(s[p - 2]) && digit(s[p])) c = to;
        }
    }
    return s;
}

void TMainController::ConvertDecimalSeparators(const std::string& path, bool toComma) {
    const std::string copy = path + "$$$";
    if (!CopyFileTo(path, copy, false)) throw Error("Datei " + path + " konnte nicht nach " + copy + " kopiert werden");
    const std::string converted = ConvertDecimalSeparatorsText(ReadFileBytes(copy), toComma);
    AtomicWriteFile(path, converted + "\n");
    DeleteFile(copy);
}

// ============================================================ checks

void TMainController::ResetCostBearerIndexes() {
    if (kt_) kt_->ResetIndexes();
}

// Checks one loaded invoice as the check phase does; throws the failure.
void TMainController::CheckLoadedInvoice(InvoiceDocument& doc, TDateTime& latest, RecipientMemo* memo,
                                         TSGBJob::LoadedInvoice* keep) {
    doc.RequireSingleInvoice();
    Table& header = doc.Rechnung();
    header.First();
    rech_->CheckNotArchived(header.AsString("SaRechNr"));
    const TDateTime rechDatum = header.AsDateTime("RechDatum");
    const std::string ikkt = header.AsString("IKKT");

    const TDateTime today = Today();
    if (memo && memo->day != today) {
        memo->found.clear();
        memo->day = today;
    }
    const std::pair<std::string, std::string>* recipients = nullptr;
    if (memo)
        if (auto it = memo->found.find(ikkt); it != memo->found.end()) recipients = &it->second;
    std::pair<std::string, std::string> looked;
    if (!recipients) {
        TKTInfo info = kt_->GetKTInfo(ikkt, einrichtung_.EINR_LAND, einrichtung_.EINR_BEZIRK, today);
        looked = {std::move(info.DatenIKLog), std::move(info.DatenIKPhys)};
        recipients = memo ? &memo->found.emplace(ikkt, std::move(looked)).first->second : &looked;
    }
    const std::string& datenIKLog = recipients->first;
    if (datenIKLog.empty()) throw Error(Format("Kein Daten-IK (log) für %s", {ikkt}));
    if (recipients->second.empty()) throw Error(Format("Kein Daten-IK (phy) für %s", {ikkt}));

    // A check writes no interchange, so it draws no interchange reference
    // from the recipient's counter (seed -1): only the jobs advance it.
    TSgbv engine(*kt_, einrichtung_);
    engine.Init(system_.VERSION, einrichtung_.EINR_IK, system_.VERSION_DATUM, datenIKLog, 1, -1, KindFlag(), 0,
                paths_.Temp);
    engine.LoadRechnungen(doc);
    engine.CheckData();

    if (rechDatum > latest) latest = rechDatum;
    if (keep) {
        keep->Records = engine.TakeRecords();
        keep->SaRechNr = header.AsString("SaRechNr");
        keep->IKKT = ikkt;
        keep->IKLE = header.AsString("IKLE");
        keep->RechDatum = rechDatum;
        keep->RBetragBrutto = header.AsFloat("RBetragBrutto");
    }
}

std::string TMainController::CheckInvoiceFile(const std::string& path) {
    try {
        if (!kt_ || !rech_ || !rechLoaded_) throw Error("Programmstart unvollständig, keine Prüfung möglich.");
        InvoiceDocument doc;
        if (system_.OPT_XMLCONVERSION) {
            if (!FileExists(path)) throw Error(Format("Datei %s nicht gefunden.", {path}));
            doc.LoadFromXml(ConvertDecimalSeparatorsText(ReadFileBytes(path), system_.OPT_XMLTOCOMMA), path);
        } else {
            doc.LoadFromFile(path);
        }
        TDateTime latest = IncDays(Now(), -kEarliestInvoiceDays).DateOnly();
        CheckLoadedInvoice(doc, latest);
        return "";
    } catch (const std::exception& e) {
        return e.what();
    }
}

// ============================================================ the run

void TMainController::MarkAsError(InboxEntry& entry) {
    const std::string from = PathJoin(importDir_, entry.Name);
    const std::string marked = ErrorPrefix + entry.Name;
    if (FileExists(from) && !RenameFile(from, PathJoin(importDir_, marked)))
        LogLine(Format("Datei %s konnte nicht in %s umbenannt werden.", {entry.Name, marked}));
    InboxCallback(this, "fehler", 0, entry.Name);
    entry.Name = marked;
    entry.Mark = 2;
}

std::unique_ptr<TSGBJob> TMainController::OpenJob(int billingMonth) {
    auto job = std::make_unique<TSGBJob>(*kt_, *rech_, *auf_, einrichtung_, system_.DAKOTA_ANN_CHECK);
    job->Init(system_.VERSION, KindFlag(), system_.VERSION_DATUM, billingMonth, system_.SYST_VERF, paths_.Temp,
              paths_.Export, paths_.ArchivR, paths_.ArchivA);
    job->SetSealer(sealer_.get());
    return job;
}

void TMainController::LogSealedOrders(TSGBJob& job) {
    for (size_t i = 0; i < job.Count(); ++i) {
        const TSGBAuftrag& order = job.Order(i);
        if (order.Sealed())
            ShowProgress(1, 1, true,
                         "Auftrag " + order.TransferName() + " signiert und verschlüsselt für IK " + order.EmpfEignerIK());
    }
}

// Cancels a failed job: its orders leave the order archive and every invoice
// it took goes back to the inbox (open again), each named in the log.
void TMainController::CancelJob(TSGBJob& job, TRunResult& result) {
    TSGBJob::ReturnResult back = job.Cancel();
    for (const std::string& name : back.Returned) {
        ShowProgress(1, 1, true, "Rechnung zurück in den Eingangskorb: " + name);
        ++result.Returned;
    }
    for (const std::string& error : back.Errors) ShowProgress(1, 1, true, error);
    // The files of a cancelled order must never be handed over.
    for (const auto& [handle, files] : back.Discarded)
        ShowProgress(1, 1, true, Format("Auftrag %s verworfen, %d Dateien gelöscht.", {handle, files}));
}

void TMainController::CheckPhase(std::vector<InboxEntry>& entries, TRunResult& result, TDateTime& latest) {
    const int n = int(entries.size());
    bool errorSeen = false;
    // Files converted first are read one by one, after their conversion.
    std::optional<InvoicePrefetch> ahead;
    if (!system_.OPT_XMLCONVERSION) ahead.emplace(FilesToRead(importDir_, entries));
    RecipientMemo recipients;
    // A collective job takes all invoices at once and keeps them until its
    // files are written, so it may as well take them as the check loaded
    // them; single mode bills one at a time and reads each again.
    const bool keep = system_.SYST_ZUSF;
    for (int i = 1; i <= n; ++i) {
        InboxEntry& entry = entries[size_t(i - 1)];
        if (entry.Mark == 2) {
            ShowProgress(i, n, true, "Ignoriere " + entry.Name);
            ++result.Ignored;
            continue;
        }
        const std::string path = PathJoin(importDir_, entry.Name);
        std::optional<InvoicePrefetch::Result> read;
        if (ahead) read = ahead->Next();
        try {
            if (system_.OPT_XMLCONVERSION) {
                ShowProgress(i, n, true, "Konvertiere Datei " + entry.Name);
                ConvertDecimalSeparators(path, system_.OPT_XMLTOCOMMA);
            }
            ShowProgress(i, n, true, "Prüfe Rechnung " + entry.Name);
            auto loaded = keep ? std::make_unique<TSGBJob::LoadedInvoice>() : nullptr;
            if (loaded) loaded->File = read ? read->Identity() : IdentityOf(path);
            InvoiceDocument doc = read ? read->Document() : InvoiceDocument::FromFile(path);
            CheckLoadedInvoice(doc, latest, &recipients, loaded.get());
            entry.Loaded = std::move(loaded);
        } catch (const std::exception& e) {
            ShowProgress(i, n, true, "FEHLER Rechnung " + entry.Name + " " + e.what());
            MarkAsError(entry);
            ++result.Failed;
            errorSeen = true;
        }
    }
    if (errorSeen) ShowProgress(n, n, true, "Prüfung beendet. FEHLER.");
}

void TMainController::ProcessCollective(std::vector<InboxEntry>& entries, TRunResult& result, int billingMonth) {
    const int n = int(entries.size());
    InboxEntry* adding = nullptr;
    try {
        job_ = OpenJob(billingMonth);
        for (int i = 1; i <= n; ++i) {
            InboxEntry& entry = entries[size_t(i - 1)];
            if (entry.Mark == 2) {
                ShowProgress(i, n, true, "Ignoriere " + entry.Name);
                continue;
            }
            ShowProgress(i, n, true, "Verarbeite Rechnung " + entry.Name);
            adding = &entry;
            const std::string path = PathJoin(importDir_, entry.Name);
            // Without what the check loaded, the job reads the file itself.
            std::unique_ptr<TSGBJob::LoadedInvoice> loaded = std::move(entry.Loaded);
            job_->AddLoadedInvoice(loaded ? std::move(*loaded) : TSGBJob::LoadedInvoice{}, path,
                                   einrichtung_.EINR_LAND, einrichtung_.EINR_BEZIRK);
            adding = nullptr;
        }
        ShowProgress(1, 1, true, "Schreibe Dateien... ");
        NoteOrdersBeingWritten(*job_);
        job_->WriteAll();
        KeepJobResult(*job_);
        LogSealedOrders(*job_);
    } catch (const std::exception& e) {
        // A failing job (opening, adding or writing) is cancelled as a whole:
        // no order stays, and every invoice it took is open again.
        const std::string message = e.what();
        ShowProgress(1, 1, true, "Abgebrochen mit Fehler bei Datei  " + (adding ? adding->Name : std::string()) + message);
        if (job_) CancelJob(*job_, result);
        if (adding) {
            MarkAsError(*adding);
            ++result.Failed;
        }
        job_.reset();
        throw Error(message);
    }
    result.Billed += int(job_->Taken().size());
    view_.ShowTab(MainTab::Ausgangskorb);
    ShowProgress(1, 1, true, "Fertig,");
}

void TMainController::ProcessSingle(std::vector<InboxEntry>& entries, TRunResult& result, int billingMonth) {
    const int n = int(entries.size());
    InvoicePrefetch ahead(FilesToRead(importDir_, entries));
    for (int i = 1; i <= n; ++i) {
        InboxEntry& entry = entries[size_t(i - 1)];
        if (entry.Mark == 2) {
            ShowProgress(i, n, true, "Ignoriere Rechnung " + entry.Name);
            continue;
        }
        InvoicePrefetch::Result read = ahead.Next();
        try {
            job_ = OpenJob(billingMonth);
            ShowProgress(i, n, true, "Verarbeite Rechnung " + entry.Name);
            InvoiceDocument doc = read.Document();
            const std::string path = PathJoin(importDir_, entry.Name);
            job_->AddInvoiceFile(doc, path, einrichtung_.EINR_LAND, einrichtung_.EINR_BEZIRK);
            ShowProgress(1, 1, true, "Schreibe Dateien... ");
            NoteOrdersBeingWritten(*job_);
            job_->WriteAll();
            KeepJobResult(*job_);
            LogSealedOrders(*job_);
            result.Billed += int(job_->Taken().size());
        } catch (const std::exception& e) {
            ShowProgress(1, 1, true, "Fehler bei " + entry.Name + e.what());
            // The invoice comes back first, so that the marking finds its file.
            if (job_) CancelJob(*job_, result);
            MarkAsError(entry);
            ++result.Failed;
        }
        job_.reset();
    }
}

void TMainController::RunPhases(TRunResult& result) {
    kt_->ResetIndexes();
    job_.reset();
    // A result whose commit failed earlier in this session is finished first.
    FinishUnfinishedRun();
    // Changed key files count from the next run on.
    sealer_.reset();
    if (system_.KRYPT_AKTIV) sealer_ = std::make_unique<TKryptSealer>(system_);

    ReadInbox();
    std::vector<InboxEntry> entries;
    entries.reserve(inbox_.Count());
    for (const TBasketItem& item : inbox_.Items()) entries.push_back({item.Caption, item.Mark, nullptr});
    result.Files = int(entries.size());

    TDateTime latest = IncDays(Now(), -kEarliestInvoiceDays).DateOnly();
    CheckPhase(entries, result, latest);

    const int billingMonth = Decode(latest).month;
    result.BillingMonth = billingMonth;
    // From the first job on, nothing the jobs do is final until CommitRun.
    // Their files need to be on the disk only when the run's record is
    // written, so they are synced together then, not one by one.
    {
        SyncGroup jobWrites;
        runOpen_ = true;
        try {
            if (system_.SYST_ZUSF)
                ProcessCollective(entries, result, billingMonth);
            else
                ProcessSingle(entries, result, billingMonth);
        } catch (...) {
            AbandonRun(result);
            throw;
        }
        CommitRun(result, jobWrites);
    }

    if (DakotaEnabled() && system_.DAKOTA_PROC_AUTO) RunDakotaFollowUp();

    RebuildOutbox();
    ShowProgress(1, 1, true, "Fertig,");
}

void TMainController::ClosingSteps(TRunResult& result) {
    startEnabled_ = true;
    running_ = false;
    view_.ActionStateChanged();
    try {
        SaveTransferNumber();
        SaveTables();
    } catch (const std::exception& e) {
        if (result.Failure.empty()) result.Failure = e.what();
        result.Completed = false;
        view_.ShowMessage(MessageKind::Error, e.what());
    }
    // "Programm beenden": a close request the run's guard carries out at its end.
    if (quitAfterRun_) closePending_ = true;
}

void TMainController::actProzessStartExecute() {
    if (running_ || busy_ || shuttingDown_ || closingAllowed_) return;
    TLongActionGuard guard(*this);
    TRunResult result;
    std::string refusal;
    if (!startupOk_ || !kt_)
        refusal = "Verarbeitung nicht möglich: der Programmstart ist nicht abgeschlossen.";
    else
        refusal = ArchivesRefusal("Verarbeitung");
    if (!refusal.empty()) {
        result.Failure = refusal;
        lastRun_ = result;
        view_.ShowMessage(MessageKind::Error, refusal);
        return;
    }
    startEnabled_ = false;
    running_ = true;
    view_.ActionStateChanged();
    PumpMessages();
    result.Started = true;

    std::string failure;
    try {
        RunPhases(result);
        result.Completed = true;
    } catch (const std::exception& e) {
        failure = e.what();
        result.Failure = failure;
    }
    ClosingSteps(result);
    lastRun_ = result;
    if (!failure.empty()) view_.ShowMessage(MessageKind::Error, failure);
}

} // namespace brenvo
