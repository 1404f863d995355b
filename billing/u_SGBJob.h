#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "billing/U_SGBAuftrag.h"
#include "billing/U_sgbv.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/base/Settings.h"

namespace brenvo {

class InvoiceDocument;
class Table;
class TSGBKTStore;
class TRechStore;
class TAuftragSTore;

// A billing job: takes the checked invoice files of one processing run (or of
// one invoice in single mode) and distributes them by data recipient. For
// every pair of logical data recipient and sender IK it holds one billing
// engine and one transfer order (entry i of both lists belongs together),
// loads each invoice into the engine of its pair, archives the invoice, and
// at the end writes every pair's files and copies them into the order archive
// directory.
//
// Nothing the job does is final before its owner commits the run (see
// RunJournal): a taken invoice stays in the import directory, staged in the
// invoice archive (TRechStore::Staged), and an order's files wait in the
// order archive's staging directory (StagingDirOf). The commit moves both
// into the archive directories and only then deletes the taken invoices from
// the import directory.
//
// Life: Init -> AddInvoiceFile (any number) -> WriteAll -> destroyed. When
// AddInvoiceFile or WriteAll fails, the owner cancels the job: CancelOrders
// removes its orders from the order archive, ReturnInvoices gives back every
// invoice it took, DiscardOrderFiles removes the files written for its
// cancelled orders (Cancel does all three).
class TSGBJob {
public:
    // An invoice the job has taken: recorded (staged) in the invoice archive.
    struct TakenInvoice {
        std::string Number;     // SaRechNr
        std::string FileName;   // name of the file (without directory)
        std::string Handle;     // the order that carries it
    };
    // What giving the invoices back achieved.
    struct ReturnResult {
        std::vector<std::string> Returned;   // file names now back in the import directory
        std::vector<std::string> Errors;     // messages of invoices that could not be given back
        // Orders whose files were removed (handle, number of files).
        std::vector<std::pair<std::string, int>> Discarded;
    };

    // The job reads the directory, records into both archives and advances
    // the facility's transfer counter MAXTRANSFER; all of them must outlive
    // the job. `checkDakota` is the setting DAKOTA_ANN_CHECK.
    TSGBJob(TSGBKTStore& costBearers, TRechStore& invoiceArchive, TAuftragSTore& orderArchive,
            TEinrichtung& einrichtung, bool checkDakota = false);
    ~TSGBJob();
    TSGBJob(const TSGBJob&) = delete;
    TSGBJob& operator=(const TSGBJob&) = delete;

    // kind 0 single provider, 1 billing centre; number = the run's billing
    // month (1..12); test indicator 0, 1, 2. The invoice archive directory is
    // accepted and not used: the invoice archive copies with its own.
    void Init(const std::string& version, int kind, TDateTime versionDate, int number, int testIndicator,
              const std::string& tempDir, const std::string& outDir, const std::string& invoiceArchiveDir,
              const std::string& orderArchiveDir);

    // Index of the pair's engine, or -1.
    int FindJob(const std::string& recipientIK, const std::string& senderIK) const;
    // New engine and order for the pair; the order is recorded in the order
    // archive at once.
    TSgbv& CreateJob(const std::string& recipientIK, const std::string& senderIK, const std::string& land,
                     const std::string& bezirk);
    TSgbv& GetJob(const std::string& recipientIK, const std::string& senderIK, const std::string& land,
                  const std::string& bezirk);
    // Loads the invoice of the document (its header's current row is the one
    // archived) into the engine of its pair and records it in the invoice
    // archive (staged; the file at path stays until the run's commit).
    // land/bezirk: EINR_LAND, EINR_BEZIRK.
    void AddInvoiceFile(InvoiceDocument& doc, const std::string& path, const std::string& land,
                        const std::string& bezirk);
    // An invoice loaded and checked before the job: its records, taken from
    // the engine that checked it (TSgbv::TakeRecords, an engine of the job's
    // version and kind), the header values the archive keeps, and the file
    // as it was before it was read.
    struct LoadedInvoice {
        TSgbvRecords Records;
        std::string SaRechNr, IKKT, IKLE;
        TDateTime RechDatum;
        double RBetragBrutto = 0;
        FileIdentity File;
    };
    // Takes the invoice of the file at path as AddInvoiceFile does, without
    // reading the file again; its records are checked again by its pair's
    // engine. A file changed since it was read (or an invoice without a valid
    // File) is read again and taken as it is now, so that the archive keeps
    // what was billed.
    void AddLoadedInvoice(LoadedInvoice invoice, const std::string& path, const std::string& land,
                          const std::string& bezirk);
    // Writes, for every pair, the billing file with log and slip, the order
    // record with its log into the temporary directory, and puts second names
    // of the order's files (H, H.AUF, H.LOG, H.AUF.LOG, H.BGL, and H.ENC, the
    // copy that is mailed) into the order archive's staging directory; the
    // run's commit moves them into the order archive directory, never
    // replacing a file there. With a sealer, every order's recipient is
    // checked before the first file is written, and H.ENC is the sealed
    // billing file.
    void WriteAll();
    // The program's own encryption for the orders (null: ".ENC" is a copy).
    // The sealer must outlive the job.
    void SetSealer(IOrderSealer* sealer) { sealer_ = sealer; }
    // Removes every order of the job from the order archive. Goes through all
    // of them; the first failure is rethrown at the end.
    void CancelOrders();
    // Gives back every invoice the job took: its archive row is removed, and
    // the removal rule copies the file back into the import directory and
    // announces "offen". Goes through all of them and never throws.
    ReturnResult ReturnInvoices();
    // Removes the files written for the job's orders that have left the
    // order archive (in the temporary and the staging directory); returns
    // (handle, files removed) for each order that had any.
    std::vector<std::pair<std::string, int>> DiscardOrderFiles();
    // Removes an order's files from the temporary directory and from the
    // order archive's staging directory; returns how many files went (both
    // names of one file count once).
    static int RemoveOrderFiles(const std::string& tempDir, const std::string& orderArchiveDir,
                                const std::string& handle);
    // CancelOrders, ReturnInvoices and DiscardOrderFiles; errors end up in the result.
    ReturnResult Cancel();

    // --- read by the run and the tests
    bool Initialised() const { return initialised_; }
    size_t Count() const { return engines_.size(); }
    TSgbv& Engine(size_t i) { return *engines_[i]; }
    TSGBAuftrag& Order(size_t i) { return *orders_[i]; }
    const std::vector<TakenInvoice>& Taken() const { return taken_; }
    const std::string& TempDir() const { return tempDir_; }
    const std::string& OutDir() const { return outDir_; }
    const std::string& OrderArchiveDir() const { return orderArchiveDir_; }

private:
    bool HandleTaken(const std::string& handle);
    // The engine of the pair an invoice belongs to: its cost bearer's data
    // recipient and its provider.
    TSgbv& EngineOf(const std::string& ikkt, const std::string& ikle, const std::string& land,
                    const std::string& bezirk);
    // Records a taken invoice in the invoice archive (staged) and in Taken.
    void RecordTaken(const std::string& number, TDateTime date, double amount, const std::string& path,
                     const TSgbv& engine);

    TSGBKTStore& kt_;
    TRechStore& rech_;
    TAuftragSTore& auf_;
    TEinrichtung& einr_;
    bool checkDakota_;
    IOrderSealer* sealer_ = nullptr;

    bool initialised_ = false;
    std::string version_;
    int kind_ = 0;
    TDateTime versionDate_;
    int number_ = 0;
    int testIndicator_ = 0;
    std::string tempDir_, outDir_, invoiceArchiveDir_, orderArchiveDir_;

    std::vector<std::unique_ptr<TSgbv>> engines_;
    std::vector<std::unique_ptr<TSGBAuftrag>> orders_;
    // Orders recorded in the order archive and not yet removed from it.
    std::vector<std::string> archivedHandles_;
    std::vector<TakenInvoice> taken_;
};

} // namespace brenvo
