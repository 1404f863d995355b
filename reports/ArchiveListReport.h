#pragma once

// The printed list of the invoice archive: one line per archived invoice,
// in the order and with the filter of the archive view.

#include <optional>
#include <string>
#include <utility>

#include "lib/base/DateTime.h"
#include "lib/dataset/Table.h"
#include "reports/ReportLayout.h"

namespace brenvo {

// The list's title: "archivierte Rechnungen 01.03.2024 .. 31.03.2024" for the
// view's date filter, "Alle archivierten Rechnungen" without it.
std::string ArchiveListTitle(const std::optional<std::pair<TDateTime, TDateTime>>& filter);

// The archive view's date filter on the invoice date, from and to
// inclusive: "r_datum >= '01.03.2024' and r_datum <= '31.03.2024'".
std::string ArchiveDateFilter(TDateTime from, TDateTime to);

// The visible rows of the invoice archive table in its order: the title on
// the first page, the column headings on every page, one bold line per row
// (R_ID, R_NUMMER, R_DATUM, R_BETRAG, R_FILENAME, R_HANDLE as the fields show
// them), "Seite n" and the time printed at the foot of every page. An empty
// table gives one page with title, headings and footer. The table's current
// row is kept.
TReportDocument BuildArchiveListReport(Table& invoices, const std::string& title, TDateTime printedAt,
                                       const ITextMeasure& measure);

} // namespace brenvo
