#include "billing/u_SGBJob.h"

#include <algorithm>
#include <exception>
#include <future>
#include <optional>

#include "archive/U_AuftragStore.h"
#include "archive/Staging.h"
#include "archive/U_RechStore.h"
#include "billing/InvoiceDocument.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

namespace brenvo {

TSGBJob::TSGBJob(TSGBKTStore& costBearers, TRechStore& invoiceArchive, TAuftragSTore& orderArchive,
                 TEinrichtung& einrichtung, bool checkDakota)
    : kt_(costBearers), rech_(invoiceArchive), auf_(orderArchive), einr_(einrichtung), checkDakota_(checkDakota) {}

TSGBJob::~TSGBJob() = default;

void TSGBJob::Init(const std::string& version, int kind, TDateTime versionDate, int number, int testIndicator,
                   const std::string& tempDir, const std::string& outDir, const std::string& invoiceArchiveDir,
                   const std::string& orderArchiveDir) {
    version_ = Utf8Left(version, 2);
    kind_ = kind;
    versionDate_ = versionDate;
    number_ = number;
    testIndicator_ = testIndicator;
    tempDir_ = tempDir;
    outDir_ = outDir;
    invoiceArchiveDir_ = invoiceArchiveDir;
    orderArchiveDir_ = orderArchiveDir;
    if (!DirectoryExists(tempDir_)) throw Error("TSGBJob TempDir existiert nicht.");
    if (!DirectoryExists(outDir_)) throw Error("TSGBJob OutDir existiert nicht.");
    initialised_ = true;
}

int TSGBJob::FindJob(const std::string& recipientIK, const std::string& senderIK) const {
    for (size_t i = 0; i < engines_.size(); ++i)
        if (engines_[i]->RecipientIK() == recipientIK && engines_[i]->SenderIK() == senderIK) return int(i);
    return -1;
}

bool TSGBJob::HandleTaken(const std::string& handle) {
    for (const auto& order : orders_)
        if (order->Handle() == handle) return true;
    if (!orderArchiveDir_.empty() && TSGBAuftrag::OrderFilesExist(orderArchiveDir_, handle)) return true;
    return auf_.HasHandle(handle);
}

TSgbv& TSGBJob::CreateJob(const std::string& recipientIK, const std::string& senderIK, const std::string& land,
                          const std::string& bezirk) {
    // A recipient without a physical recipient of its own receives itself.
    std::string phys = Utf8Left(recipientIK, 9);
    try {
        std::string found = Utf8Left(kt_.GetDatenIKPhys(recipientIK, land, bezirk, Today()), 9);
        if (!found.empty()) phys = found;
    } catch (const std::exception&) {
    }
    if (FindJob(recipientIK, senderIK) >= 0) throw Error("TSGBJob Job für Empfänger bereits vorhanden.");

    auto order = std::make_unique<TSGBAuftrag>(kt_, checkDakota_);
    order->Init(senderIK, senderIK, recipientIK, phys, testIndicator_, tempDir_, outDir_, einr_.MAXTRANSFER,
                [this](const std::string& h) { return HandleTaken(h); });

    auto engine = std::make_unique<TSgbv>(kt_, einr_);
    engine->Init(version_, senderIK, versionDate_, recipientIK, number_, order->TransferNumber(), kind_,
                 testIndicator_, tempDir_);
    order->SetDtaRef(engine->InterchangeReference());

    auf_.AddOrder(*order);
    archivedHandles_.push_back(order->Handle());
    engine->SetHandle(order->Handle());

    engines_.push_back(std::move(engine));
    orders_.push_back(std::move(order));
    return *engines_.back();
}

TSgbv& TSGBJob::GetJob(const std::string& recipientIK, const std::string& senderIK, const std::string& land,
                       const std::string& bezirk) {
    int i = FindJob(recipientIK, senderIK);
    if (i >= 0) return *engines_[size_t(i)];
    return CreateJob(recipientIK, senderIK, land, bezirk);
}

TSgbv& TSGBJob::EngineOf(const std::string& ikkt, const std::string& ikle, const std::string& land,
                         const std::string& bezirk) {
    const std::string recipient = kt_.GetDatenIKLog(ikkt, land, bezirk, Now());
    return GetJob(recipient, ikle, land, bezirk);
}

void TSGBJob::RecordTaken(const std::string& number, TDateTime date, double amount, const std::string& path,
                          const TSgbv& engine) {
    const std::string fileName = ExtractFileName(path);
    rech_.AddBilled(number, date, amount, fileName, engine.Handle());
    taken_.push_back({number, fileName, engine.Handle()});
}

void TSGBJob::AddInvoiceFile(InvoiceDocument& doc, const std::string& path, const std::string& land,
                             const std::string& bezirk) {
    doc.RequireSingleInvoice();
    Table& header = doc.Rechnung();
    TSgbv& engine = EngineOf(header.AsString("IKKT"), header.AsString("IKLE"), land, bezirk);
    engine.LoadRechnungen(doc);
    RecordTaken(header.AsString("SaRechNr"), header.AsDateTime("RechDatum"), header.AsFloat("RBetragBrutto"), path,
                engine);
}

void TSGBJob::AddLoadedInvoice(LoadedInvoice invoice, const std::string& path, const std::string& land,
                               const std::string& bezirk) {
    if (!invoice.File.valid || IdentityOf(path) != invoice.File) {
        InvoiceDocument doc = InvoiceDocument::FromFile(path);
        AddInvoiceFile(doc, path, land, bezirk);
        return;
    }
    TSgbv& engine = EngineOf(invoice.IKKT, invoice.IKLE, land, bezirk);
    engine.AddRecords(std::move(invoice.Records));
    RecordTaken(invoice.SaRechNr, invoice.RechDatum, invoice.RBetragBrutto, path, engine);
}

void TSGBJob::WriteAll() {
    // A recipient that cannot be sealed for fails the job before any of its
    // files is written.
    if (sealer_)
        for (const auto& order : orders_) sealer_->CheckRecipient(order->EmpfEignerIK());
    const std::string staging = StagingDirOf(orderArchiveDir_);
    if (!engines_.empty() && !ForceDirectories(staging))
        throw Error("TSGBJob Verzeichnis kann nicht angelegt werden: " + staging);

    // Generating an interchange and turning it into the file's text read
    // only the engine's own records, so the next pairs' are made on other
    // threads (two at a time, one for each core the writing leaves) while
    // this one's files are written; those threads also give back the memory
    // of pairs already written. The checks and the slip, which read the
    // directory, stay on this thread. Failures surface in the order of the
    // pairs, as if one after the other: a check failing ahead is held back
    // until the pairs before it are written, and a text that cannot be made
    // ahead is made again by WriteFiles, which then fails in its place.
    constexpr size_t kAhead = 2;
    const size_t n = engines_.size();
    std::vector<std::future<std::optional<std::string>>> texts(n);
    std::exception_ptr checkFailed;
    size_t checkFailedAt = n;
    size_t launched = 0;
    auto checkAndGenerate = [&](size_t k) {
        try {
            engines_[k]->CheckData();
        } catch (...) {
            checkFailed = std::current_exception();
            checkFailedAt = k;
            return;
        }
        // Every pair before k - kAhead is written by the time k's thread runs.
        TSgbv* written = k > kAhead ? engines_[k - kAhead - 1].get() : nullptr;
        // A job of one pair (every job in single mode) has nothing to overlap.
        const auto policy = n > 1 ? std::launch::async : std::launch::deferred;
        texts[k] = std::async(policy, [&engine = *engines_[k], written]() -> std::optional<std::string> {
            if (written) written->ReleaseContent();
            engine.Generate();
            try {
                return engine.InterchangeText();
            } catch (const std::exception&) {
                return std::nullopt;
            }
        });
    };
    auto launchUpTo = [&](size_t end) {
        for (; launched < std::min(end, n) && checkFailedAt == n; ++launched) checkAndGenerate(launched);
    };
    // Should a pair fail below, the futures of std::async wait for their
    // threads as they go, before the engines are touched again.
    launchUpTo(kAhead);
    for (size_t i = 0; i < n; ++i) {
        if (i == checkFailedAt) std::rethrow_exception(checkFailed);
        std::optional<std::string> interchange = texts[i].get();
        TSgbv& engine = *engines_[i];
        TSGBAuftrag& order = *orders_[i];
        launchUpTo(i + 1 + kAhead);
        engine.SetTransferName(order.TransferName());
        engine.WriteFiles(std::move(interchange));
        order.SetFile(engine.FilePath(), engine.LogicalFileName(), sealer_);
        order.WriteAuftrag();

        // Toward the order archive; the ".ENC" copy goes along because it is
        // what the order's e-mail carries. A second name of each file is a
        // complete copy at once (the run syncs both names with its other
        // files before it relies on them); across file systems they are
        // copied.
        const std::string base = engine.FilePath();
        const std::string target = PathJoin(staging, ExtractFileName(base));
        for (const char* ext : {"", ".AUF", ".LOG", ".AUF.LOG", ".BGL", ".ENC"})
            if (!LinkFile(base + ext, target + ext)) CopyFileTo(base + ext, target + ext, false);
    }
    // A collective run's many invoices need not stay in memory once written;
    // the other threads have given back all but the last pairs.
    for (size_t i = n > kAhead + 1 ? n - kAhead - 1 : 0; i < n; ++i) engines_[i]->ReleaseContent();
}

void TSGBJob::CancelOrders() {
    std::string firstError;
    std::vector<std::string> kept;
    for (const std::string& handle : archivedHandles_) {
        try {
            auf_.DeleteOrderByHandle(handle);
        } catch (const std::exception& e) {
            if (firstError.empty()) firstError = e.what();
            kept.push_back(handle);
        }
    }
    archivedHandles_ = std::move(kept);
    if (!firstError.empty()) throw Error(firstError);
}

TSGBJob::ReturnResult TSGBJob::ReturnInvoices() {
    ReturnResult result;
    std::vector<TakenInvoice> kept;
    for (const TakenInvoice& inv : taken_) {
        try {
            std::string name;
            if (rech_.ReturnInvoice(inv.Number, &name)) result.Returned.push_back(name);
        } catch (const std::exception& e) {
            result.Errors.push_back(e.what());
            kept.push_back(inv);
        }
    }
    taken_ = std::move(kept);
    return result;
}

int TSGBJob::RemoveOrderFiles(const std::string& tempDir, const std::string& orderArchiveDir,
                              const std::string& handle) {
    const std::string staging = StagingDirOf(orderArchiveDir);
    int removed = 0;
    for (const char* ext : TSGBAuftrag::FileExts) {
        const bool written = DeleteFile(PathJoin(tempDir, handle) + ext);
        const bool staged = DeleteFile(PathJoin(staging, handle) + ext);
        if (written || staged) ++removed;
    }
    return removed;
}

std::vector<std::pair<std::string, int>> TSGBJob::DiscardOrderFiles() {
    std::vector<std::pair<std::string, int>> discarded;
    for (const auto& order : orders_) {
        const std::string& handle = order->Handle();
        // An order whose row stays keeps its files.
        if (std::find(archivedHandles_.begin(), archivedHandles_.end(), handle) != archivedHandles_.end()) continue;
        if (int removed = RemoveOrderFiles(tempDir_, orderArchiveDir_, handle); removed > 0)
            discarded.emplace_back(handle, removed);
    }
    return discarded;
}

TSGBJob::ReturnResult TSGBJob::Cancel() {
    std::string orderError;
    try {
        CancelOrders();
    } catch (const std::exception& e) {
        orderError = e.what();
    }
    ReturnResult result = ReturnInvoices();
    if (!orderError.empty()) result.Errors.insert(result.Errors.begin(), orderError);
    result.Discarded = DiscardOrderFiles();
    return result;
}

} // namespace brenvo
