#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "archive/ArchiveCallback.h"
#include "archive/TableKeyIndex.h"
#include "lib/base/DateTime.h"
#include "lib/dataset/Table.h"

namespace brenvo {

// The invoice archive: one row per archived invoice in "Rechnungen.xml" and a
// copy of the invoice file in the archive directory ("ArchivR").
//
// Columns: R_ID (running number given by the store), R_NUMMER (invoice
// number, unique), R_DATUM, R_BETRAG, R_FILENAME (name of the file in the
// archive directory), R_HANDLE (handle of the order that carried it).
//
// Removal rule, for every row that goes, whoever removes it: the owner hears
// "offen" with the row's id and file name, then the archived file is copied
// back into the import directory; the archived copy stays. A file of that
// name in the import directory is replaced only when it holds the same
// bytes; a different invoice waiting there stays, and the returned file
// comes back beside it as name_2.xml (name_3.xml, ...), the name "offen"
// then carries.
//
// No archived copy is ever overwritten by another invoice: a file name that
// another row already uses (ignoring case) is archived as name_2.xml (...);
// R_FILENAME holds the name in the archive directory.
//
// An invoice a billing job takes is staged: its row exists at once, its file
// stays in the import directory, and a second name of the file waits in the
// staging directory (archive directory + StagingDirName) under its import
// name. The run's commit moves it into the archive directory under
// R_FILENAME and only then deletes it from the import directory. Removing
// the row of a staged invoice copies nothing back: the file is still in the
// import directory (or is put back there from the staging directory when it
// went missing meanwhile).
//
// Notifications through the callback (sender = this store):
//   "insert" / "bearbeitet"  R_ID, file name   after billing archived an invoice
//   "offen"                  R_ID, file name   before a row is removed
//   "progressnolog"          progress value, text   during purge, cleanup, search
//
// Lookups by number and by file name go through hash indexes over all rows
// (a filter a view has set hides nothing from them), so they cost the same on
// a table of any size.
class TRechStore {
public:
    TRechStore();
    ~TRechStore();
    TRechStore(const TRechStore&) = delete;
    TRechStore& operator=(const TRechStore&) = delete;

    // The columns of a new "Rechnungen.xml".
    static std::vector<FieldDef> DefaultFields();

    // Sets the directories and the callback; the table starts empty with the
    // default columns and carries the removal rule from now on.
    void InitStore(const std::string& importDir, const std::string& archiveDir, TArchiveCallback callback);
    // Reads the table; the last id rises to the largest R_ID (never goes down).
    void Load(const std::string& fileName);
    // Writes the table to the file it was loaded from.
    void Save();

    // Fails with "TRechStore Rechnung bereits vorhanden " when a row holds the
    // number (compared exactly).
    void CheckNotArchived(const std::string& number);

    // An invoice a billing job took and that waits for the run's commit.
    struct StagedInvoice {
        std::string Number;        // R_NUMMER
        std::string ImportName;    // its name in the import directory and in the staging directory
        std::string ArchiveName;   // R_FILENAME: its name in the archive directory after the commit
    };

    // Records an invoice the billing job takes: duplicate check, a second
    // name of import directory + fileName in the staging directory (a copy
    // across file systems; verified: it must exist with the source's size,
    // otherwise it fails with "TRechStore Datei %s konnte nicht nach %s
    // kopiert werden" and adds nothing), the row (amount RBetragBrutto, the
    // file name it will have in the archive directory, see above for a name
    // in use), then "insert" and "bearbeitet". `invoice` is the invoice header
    // table of the document (current row).
    void AddBilled(const Table& invoice, const std::string& fileName, const std::string& handle);
    // The same with the header's number (SaRechNr), date (RechDatum) and
    // amount (RBetragBrutto) given.
    void AddBilled(const std::string& number, TDateTime date, double amount, const std::string& fileName,
                   const std::string& handle);
    // The invoices staged and not yet committed, in the order they were taken.
    std::vector<StagedInvoice> Staged() const;
    bool HasStaged() const { return !staged_.empty(); }
    // The run committed them: they are part of the archive directory now.
    void ClearStaged() { staged_.clear(); }
    std::string StagingDir() const;
    // The commit's step for one staged invoice: its file moves from the
    // staging directory into the archive directory under archiveName (an
    // older file of that name, which no row names, gives way); when the
    // staged name is gone and the archive lacks the file, the import
    // directory's file is taken. Fails with Error when the file is nowhere.
    // Done again after it succeeded, it changes nothing.
    static void PublishStaged(const std::string& importDir, const std::string& archiveDir,
                              const std::string& importName, const std::string& archiveName);
    // The row only (no copy, no notification), for rows rebuilt from files.
    void AddRebuilt(const Table& invoice, const std::string& fileName, const std::string& handle);
    // Archives a file by hand (net amount, no order): duplicate check, copy
    // into the archive directory ("Datei %s konnte nicht nach %s kopiert
    // werden" when it fails), then the row. The caller deletes the source.
    void AddManual(const std::string& path, const std::string& number, double amount, TDateTime date);

    // True when a row names the file, ignoring letter case.
    bool IsArchivedFile(const std::string& fileName);

    // Deletes the "*.XML" files of the archive directory that no row names
    // (case counts); returns how many were deleted.
    int CleanupFiles();
    // Fills list with the "*.XML" files of the archive directory written in
    // the last `days` days that no row names (case counts).
    void FindUnlistedFiles(int days, std::vector<std::string>& list);
    // Removes the rows dated more than `days` days ago (the removal rule
    // applies to each); the table stays sorted by R_DATUM.
    void PurgeOlderThan(int days);

    // --- for the windows, the processing run and maintenance
    Table& GetTable() { return table_; }
    const std::string& FileName() const { return fileName_; }
    const std::string& ImportDir() const { return importDir_; }
    const std::string& ArchiveDir() const { return archiveDir_; }
    int64_t LastId() const { return lastId_; }

    // Makes the row with the number current (false when there is none or a
    // filter hides it).
    bool LocateByNumber(const std::string& number);
    // Makes a row with that order handle current (first in the view's order).
    bool LocateByHandle(const std::string& handle);
    // Makes a row naming the file current, ignoring letter case.
    bool LocateByFileName(const std::string& fileName);
    // The same questions whatever filter a view has set: is there a row with
    // the number, with the order handle; the row with the number, or the row
    // naming the file (ignoring letter case), with its R_FILENAME and
    // R_HANDLE (false when there is none). Nothing moves.
    bool HasNumber(const std::string& number);
    bool HasHandle(const std::string& handle);
    bool FindByNumber(const std::string& number, std::string* fileName, std::string* handle);
    bool FindByFileName(const std::string& fileName, std::string* archivedName, std::string* handle);
    // Sets R_HANDLE of the row with the number and posts it; false when no row
    // has the number ("Daten Import" links rebuilt invoices to their orders).
    bool LinkHandle(const std::string& number, const std::string& handle);
    // Removes the current row (the removal rule applies).
    void DeleteCurrent();
    // Runs fn on the row of each number that has one, whatever filter a view
    // has set (it is switched off once for all of them).
    void ReadRows(const std::vector<std::string>& numbers,
                  const std::function<void(const std::string& number, const Table&)>& fn);
    // Adds a row unless one holds the number already (true when added):
    // fill sets its columns. The last id rises to its R_ID. For rows a
    // stopped run had recorded and the table file lacks.
    bool RestoreRow(const std::string& number, const std::function<void(Table&)>& fill);
    // Gives an archived invoice back: removes the row with the number, which
    // by the removal rule announces "offen" and copies the archived file back
    // into the import directory. True when the row was removed and the file
    // is in the import directory afterwards; false when no row has the number
    // (nothing changes then). Works whatever filter a view has set. Fails,
    // keeping the row, when the archived copy is missing; fails when the copy
    // did not arrive (the row is gone then, the archived copy stays).
    // returnedName receives the file's name in the import directory. A staged
    // invoice is only forgotten: its file never left the import directory.
    bool ReturnInvoice(const std::string& number, std::string* returnedName = nullptr);

private:
    void InstallRemovalRule();
    std::string ArchiveNameFor(const std::string& fileName);
    void Notify(const std::string& action, int64_t value, const std::string& text);
    void AppendRow(const std::string& number, TDateTime date, double amount, const std::string& fileName,
                   const std::string& handle);
    bool FindRow(int slot, const std::string& key, std::string* fileName, std::string* handle);

    Table table_;
    TableKeyIndex index_;   // declared after table_: goes first, while the table still lives
    std::string fileName_;
    std::string importDir_;
    std::string archiveDir_;
    int64_t lastId_ = 0;
    TArchiveCallback callback_;
    std::string lastReturned_;   // where the removal rule put the last file back
    // By number: the order of taking and the invoice.
    std::unordered_map<std::string, std::pair<uint64_t, StagedInvoice>> staged_;
    uint64_t stagedCount_ = 0;
    bool stagingReady_ = false;  // the staging directory was made
};

} // namespace brenvo
