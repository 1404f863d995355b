#pragma once

// The grids of "Archiv Rechnung" and "Archiv Aufträge": which columns they
// show, in which order, with which captions, widths, alignments and forms,
// and the date filter and search of the invoice archive's view with the
// title of its printed list.

#include <string>
#include <vector>

#include "lib/Basics/GridColumns.h"
#include "lib/base/DateTime.h"
#include "lib/dataset/Table.h"

namespace brenvo {

// R_ID "lfdNr.", R_NUMMER "Nummer", R_DATUM "Datum", R_FILENAME "Datei",
// R_BETRAG "Betrag" ("#.00"), R_HANDLE "ID"; every other column hidden.
TGridColumns InvoiceArchiveColumns(const std::vector<FieldDef>& fields);
// A_ID "lfdNr.", A_ABS_EIGN_IK "Abs IK", A_EMPF_IK "Empf IK", A_EMPF_NAME
// "Name", A_EMPF_EMAIL "Email", A_ERZEUGT "erzeugt", A_ENC "verschlüsselt",
// A_VERSANDT "versandt", A_HANDLE "ID", A_TRANSFER "Datei", DTAREF "Dta.Ref"
// (when the table has it); every other column hidden.
TGridColumns OrderArchiveColumns(const std::vector<FieldDef>& fields);

// The widest text a cell of the column shows when it must not be cut: dates
// and times, numbers, amounts and short codes (IKs, invoice numbers,
// transfer names) as digits; "" for a longer text, which a grid may cut
// (its tip shows it whole). A grid makes such a column at least this wide.
std::string WidestCellText(const TGridColumn& column, const FieldDef& field);

// The state of the "Archiv Rechnung" view: "Filtern" with the date range
// "Rechnungsdatum:" From "bis" To, and "Suchen".
struct TInvoiceArchiveFilter {
    bool Filtern = false;
    TDateTime From, To;   // dates without time of day
    std::string Search;

    // The range from seven days before `today` to `today`, not filtering.
    static TInvoiceArchiveFilter Initial(TDateTime today);
    // "r_datum >= 'DD.MM.YYYY' and r_datum <= 'DD.MM.YYYY'" while filtering, else "".
    std::string Expression() const;
    // The title of the printed list: "archivierte Rechnungen " + from + " .. "
    // + to while filtering, else "Alle archivierten Rechnungen".
    std::string PrintTitle() const;
    // Puts the filter on the table (or takes it off), then makes the first
    // row whose R_NUMMER starts with the search text (ignoring case) current.
    // False when a search text found no row.
    bool Apply(Table& invoices) const;
};

} // namespace brenvo
