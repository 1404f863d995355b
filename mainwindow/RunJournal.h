#pragma once

// The record of a processing run's result. When the run's jobs are done, the
// run writes this record (synced) before it changes anything in the archive
// directories or the inbox; then it moves the staged invoices and order files
// into the archive directories, saves the tables and deletes the billed
// invoices from the inbox; last, the record goes. A program stopped anywhere
// in between finds the record at its next start and does the same steps
// again (each one is done only when it is still missing), so the run ends as
// if it had not been stopped. A run stopped before its record was written has
// changed nothing but staged files, which the next start removes.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lib/dataset/Table.h"

namespace brenvo {

// A table row as the record keeps it: column names and values (nested
// tables left out).
using JournalRow = std::vector<std::pair<std::string, Value>>;

// The current row of a table (or its edit buffer).
JournalRow RowOf(const Table& table);
// Sets the columns of a row being inserted or edited; columns the table
// lacks are left out.
void FillRow(Table& table, const JournalRow& row);
// The value of a column of the row; null when the row has none.
Value RowValue(const JournalRow& row, std::string_view column);

struct RunJournal {
    struct Invoice {
        std::string ImportName;    // in the import directory and in the staging directory
        std::string ArchiveName;   // in the invoice archive directory (R_FILENAME)
        JournalRow Row;            // the invoice archive's row
    };
    struct Order {
        std::string Handle;
        std::string DtaRecipient;  // the data recipient whose interchange reference counter the order drew
        int64_t DtaRef = 0;        // the reference it drew (0: none)
        JournalRow Row;            // the order archive's row
    };

    static constexpr const char* FileName = "Verarbeitung.jnl";

    std::string ImportDir, InvoiceArchiveDir, TempDir, OrderArchiveDir;
    int32_t MaxTransfer = 0;       // the facility's transfer counter after the run's orders
    std::vector<Invoice> Invoices;
    std::vector<Order> Orders;

    std::string ToText() const;
    // Reads a record; fails with Error (naming the file) when the text is not
    // a complete record.
    static RunJournal FromText(std::string_view text, const std::string& path);
};

} // namespace brenvo
