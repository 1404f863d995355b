#pragma once

#include <cstdint>
#include <memory>
#include <string>
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

    // Records an invoice the billing job takes: duplicate check, copy of
    // import directory + fileName into the archive directory (see above for
    // a name already in use; verified: the
    // copy must exist with the source's size, otherwise it fails with
    // "TRechStore Datei %s konnte nicht nach %s kopiert werden" and adds
    // nothing), the row (amount RBetragBrutto), then "insert" and "bearbeitet".
    // `invoice` is the invoice header table of the document (current row).
    void AddBilled(const Table& invoice, const std::string& fileName, const std::string& handle);
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
    // Gives an archived invoice back: removes the row with the number, which
    // by the removal rule announces "offen" and copies the archived file back
    // into the import directory. True when the row was removed and the file
    // is in the import directory afterwards; false when no row has the number
    // (nothing changes then). Works whatever filter a view has set. Fails,
    // keeping the row, when the archived copy is missing; fails when the copy
    // did not arrive (the row is gone then, the archived copy stays).
    // returnedName receives the file's name in the import directory.
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
};

} // namespace brenvo
