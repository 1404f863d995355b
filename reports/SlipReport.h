#pragma once

// The printed accompanying slips ("Begleitzettel") of transfer orders: one
// order after the other, each beginning a new page, with its transfer name
// and the slip text the billing job wrote into the order's ".BGL" file.

#include <string>

#include "lib/base/DateTime.h"
#include "lib/dataset/Table.h"
#include "reports/ReportLayout.h"

namespace brenvo {

inline constexpr const char* kSlipReportTitle = "Begleitzettel";
inline constexpr const char* kSlipFileMissing = "**** DATEI NICHT GEFUNDEN ***";

// One slip per visible row of the order table, in table order (A_TRANSFER,
// then the lines of archiveDir + A_HANDLE + ".BGL"); a slip longer than a
// page goes on over the next. No rows, no pages. The table's current row is
// kept. Each page's footer says "gedruckt am " and the day printed.
TReportDocument BuildSlipReport(Table& orders, const std::string& archiveDir, TDateTime printedOn,
                                const ITextMeasure& measure);

} // namespace brenvo
