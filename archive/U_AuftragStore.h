#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/ArchiveCallback.h"
#include "archive/TableKeyIndex.h"
#include "lib/base/DateTime.h"
#include "lib/dataset/Table.h"

namespace brenvo {

class TSGBAuftrag;

// What an order's e-mail needs, in this order: the recipient's address, a
// second text that sending does not use, the subject, the data attachment
// and the order-record attachment.
struct TEmailData {
    std::string Recipient;
    std::string Extra;
    std::string Subject;
    std::string DataFile;
    std::string AufFile;
};

// The order archive: one row per transfer order in "Auftraege.xml"; the
// order's files stay in the archive directory ("ArchivA") under its handle H:
// H (billing data), H.AUF, H.ENC, H.BGL, H.LOG, H.AUF.LOG.
//
// Order states: new (A_VERSANDT and A_ENC empty), marked encrypted (A_ENC
// set), sent (A_VERSANDT set).
//
// Removal rule, for every row that goes: it needs the callback ("Callback
// muss gesetzt sein." otherwise, and the row stays), and announces "delete".
//
// Notifications (sender = this store):
//   "insert"             A_ID, A_TRANSFER + " " + A_EMPF_NAME   AddOrder, FillOutbox
//   "delete"             A_ID, "null"                           before a row goes
//   "emailversandt"      A_ID, "null"                           after MarkSent
//   "emailnichtversandt" A_ID, A_EMPF_NAME                      after MarkNotSent
//   "progress"           progress value, text (to be logged)    ExportToDakota
//   "progressnolog"      progress value, text                   housekeeping
//
// Lookups by id and by handle go through hash indexes over all rows.
//
// The changes the user's actions make to an order (MarkSent, MarkNotSent,
// DeleteCurrent) reach the disk at once through the change journal, a small
// file beside the table (SetChangeJournal): one line each, synced before the
// call returns. Load takes over what the journal holds when the table file
// was not saved after it (the program ended without saving); Save empties it.
// So an order marked sent stays marked, whenever the program stops.
class TAuftragSTore {
public:
    TAuftragSTore();
    ~TAuftragSTore();
    TAuftragSTore(const TAuftragSTore&) = delete;
    TAuftragSTore& operator=(const TAuftragSTore&) = delete;

    // The columns of a new "Auftraege.xml".
    static std::vector<FieldDef> DefaultFields();

    // The directories: import, order archive ("ArchivA"), DAKOTA's output
    // directory, DAKOTA's hand-over directory, export ("export").
    void InitStore(const std::string& importDir, const std::string& archiveDir, const std::string& dakotaOutDir,
                   const std::string& dakotaHandoverDir, const std::string& exportDir);
    void SetCallback(TArchiveCallback callback);
    // The change journal's file; "" (the default) keeps no journal.
    void SetChangeJournal(const std::string& path) { journal_ = path; }
    // Reads the table and sorts it by A_ID; the last id is the largest A_ID.
    // Then takes over the changes of the change journal (see Replayed).
    void Load(const std::string& fileName);
    // Writes the table; then the change journal goes.
    void Save();
    // What the last Load took over from the change journal, one German line
    // per change ("Auftrag ESOL0042 (H) als versandt markiert."); the table
    // holds these changes unsaved.
    const std::vector<std::string>& Replayed() const { return replayed_; }

    // Announces every order not yet sent with "insert", in table order; the
    // last id becomes the largest A_ID. Needs the callback.
    void FillOutbox();
    // A row for a new order (A_ERZEUGT = now); "insert" when a callback is set.
    void AddOrder(const TSGBAuftrag& order);
    // Removes the order's row; "Cannot delete Auftrag handle=%s" when none.
    void DeleteOrder(const TSGBAuftrag& order);
    void DeleteOrderByHandle(const std::string& handle);

    // Makes the row with the id current; false when there is none.
    bool LocateById(int64_t id);
    // Makes the row with the handle current; false when there is none.
    bool LocateByHandle(const std::string& handle);
    bool HasHandle(const std::string& handle);

    // On the current row.
    void MarkSent(TDateTime when);
    void MarkNotSent();
    void MarkEncrypted();
    void ClearEncrypted();
    // Archive directory + A_HANDLE of the current row.
    std::string GetArchivePath();
    // The same for the row with the id, without moving; "" when none has it.
    std::string GetArchivePathById(int64_t id);
    // Removes the current row (the removal rule applies); journalled.
    void DeleteCurrent();
    // Runs fn on the row of each handle that has one, whatever filter a view
    // has set (it is switched off once for all of them).
    void ReadRows(const std::vector<std::string>& handles,
                  const std::function<void(const std::string& handle, const Table&)>& fn);
    // Adds a row unless one holds the handle already (true when added): fill
    // sets its columns. The last id rises to its A_ID. For rows a stopped run
    // had recorded and the table file lacks.
    bool RestoreRow(const std::string& handle, const std::function<void(Table&)>& fill);

    // Copies every new order (neither encrypted nor sent) into DAKOTA's
    // hand-over directory below the first eight digits of the recipient IK,
    // as A_TRANSFER + ".AUF" and A_TRANSFER; returns how many were handed over.
    int ExportToDakota();
    // For the current row, when not sent: copies the order record and the
    // billing data into export/<A_EMPF_IK>/ under the transfer name and fills
    // data. False when the order is sent or a file could not be placed.
    bool PrepareEmail(TEmailData& data);
    // Deletes the files of order records in the archive directory whose
    // handle has no row; returns how many files were deleted.
    int CleanupFiles();
    // Removes the rows created more than `days` days ago; the table stays
    // sorted by A_ERZEUGT.
    void PurgeOlderThan(int days);
    // Adds rows for order records of the last `days` days that have none, and
    // fills list (sorted, each entry once) with "invoice number=handle" for
    // every invoice of their billing files.
    void Rebuild(int days, std::vector<std::string>& list);

    // The run's commit for one order: its files move from the staging
    // directory into the archive directory, never over a file there; a file
    // whose staged name is gone is taken from the temporary directory where
    // the job wrote it. Done again after it succeeded, it changes nothing.
    static void PublishStaged(const std::string& tempDir, const std::string& archiveDir, const std::string& handle);

    // Element e, sub-element s (both from 0) of an EDIFACT segment line.
    static std::string GetSGBDataelement(const std::string& line, int e, int s);
    // "YYYYMMDDHHNNSS" to a date-time (milliseconds 0).
    static TDateTime ParseAufTimestamp(const std::string& text);

    Table& GetTable() { return table_; }
    const std::string& FileName() const { return fileName_; }
    const std::string& ArchiveDir() const { return archiveDir_; }
    const std::string& ExportDir() const { return exportDir_; }
    const std::string& DakotaHandoverDir() const { return handoverDir_; }
    const std::string& DakotaOutDir() const { return dakotaOutDir_; }
    int64_t LastId() const { return lastId_; }
    bool HasCallback() const { return bool(callback_); }

private:
    void InstallRemovalRule();
    void Notify(const std::string& action, int64_t value, const std::string& text);
    void RequireCallback() const;
    bool ExportCurrent();
    void PostField(const std::string& name, TDateTime value);
    void Journal(const std::string& line);
    void ReplayJournal();

    Table table_;
    TableKeyIndex index_;   // declared after table_: goes first, while the table still lives
    std::string fileName_;
    std::string importDir_, archiveDir_, dakotaOutDir_, handoverDir_, exportDir_;
    int64_t lastId_ = 0;
    TArchiveCallback callback_;
    std::string journal_;
    std::vector<std::string> replayed_;
};

} // namespace brenvo
