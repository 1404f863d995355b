#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lib/base/DateTime.h"

namespace brenvo {

class OdbcEnvironment;
class OdbcConnection;

// One row of DAKOTA's protocol table "tblProtokoll". Text values lose their
// trailing blanks.
struct TProtocolRow {
    std::string INDEX;        // begins with the order's transfer name
    std::string PNR;          // second sort key
    TDateTime DATUM;          // null when empty or unreadable
    bool ERGEBNIS = false;    // the transfer succeeded
    std::string Versenden;    // date and time of sending, as text
    std::string AKTION;       // kind of entry ("V" for a sending)
    std::string DATEINAME;
};

// Results of FindTransferResult.
enum : int {
    TransferNotFound = 0,
    TransferSent = 1,
    TransferFailed = 2,   // failed, or sent without a readable time
};

// Reads a date-time as the protocol databases write it: "D.M.YYYY",
// "YYYY-MM-DD" or "M/D/YY" (also with a four-digit year), each optionally
// followed by a time "H:N", "H:N:S" or "H:N:S.fff".
std::optional<TDateTime> ParseProtocolDateTime(const std::string& text);

// DAKOTA's protocol database, read over ODBC into memory. The rows can be
// walked and deleted; deletions reach the database with ApplyProtocolChanges.
// Used on one thread.
class TdmDakota {
public:
    TdmDakota();
    ~TdmDakota();
    TdmDakota(const TdmDakota&) = delete;
    TdmDakota& operator=(const TdmDakota&) = delete;

    // Opens the protocol: a source containing "MDB" (in any letter case) is a
    // database file opened with the Access driver, any other a data source
    // name. Reads every row of "tblProtokoll". False with the reason: "Keine
    // Zugriffs-Information verfügbar. ", "Datei %s nicht gefunden." or the
    // driver's message.
    bool OpenProtocol(const std::string& source, std::string& reason);
    bool Active() const;

    // Looks up an order's transfer name and creation time among the rows
    // whose INDEX begins with name and whose DATUM lies less than two days
    // from created (in the order of INDEX and PNR): 1 (sent) with the time of
    // Versenden of the first with ERGEBNIS true and a readable Versenden;
    // otherwise 2 when any row matches (failed, or no readable time); 0 when
    // none matches.
    int FindTransferResult(const std::string& name, TDateTime created, TDateTime& sent);

    // The rows in the order the database returned them, deleted ones left out.
    size_t RecordCount() const;
    void First();
    void Next();
    bool Eof() const;
    const TProtocolRow& Current() const;
    // Deletes the current row; the next one becomes current.
    void Delete();
    // Deletions not yet written to the database.
    size_t ChangeCount() const;

    // Writes the deletions to the database, in one transaction when the
    // driver supports them. The first failure ends it with an Error carrying
    // the driver's message (with a transaction, nothing is then deleted).
    void ApplyProtocolChanges();
    void CloseProtocol();

private:
    struct Entry {
        TProtocolRow row;
        std::vector<std::optional<std::string>> raw;   // every column as read
        bool deleted = false;
        bool written = false;
    };
    struct Column {
        std::string name;
        short sqlType = 0;
    };

    void ReadRows();
    void BuildIndex();
    void DeleteFromDatabase(const Entry& e);
    void SkipDeleted();

    std::unique_ptr<OdbcEnvironment> env_;
    std::unique_ptr<OdbcConnection> conn_;
    std::vector<Column> columns_;
    std::vector<Entry> rows_;
    std::vector<size_t> sorted_;   // rows_ positions by INDEX, PNR
    bool indexBuilt_ = false;
    size_t pos_ = 0;
};

} // namespace brenvo
