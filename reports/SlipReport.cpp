#include "reports/SlipReport.h"

#include "lib/base/Cp1252.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

// The slip text of an order; the one line kSlipFileMissing when the order
// has no handle or its file cannot be read.
std::vector<std::string> SlipLines(const std::string& archiveDir, const std::string& handle) {
    const std::string path = PathJoin(archiveDir, handle) + ".BGL";
    if (Trim(handle).empty() || !FileExists(path)) return {kSlipFileMissing};
    try {
        std::vector<std::string> lines = TextLines(ReadCp1252Text(path));
        if (lines.size() > 1 && lines.back().empty()) lines.pop_back();   // the last line's end
        return lines;
    } catch (const std::exception&) {
        return {kSlipFileMissing};
    }
}

} // namespace

TReportDocument BuildSlipReport(Table& orders, const std::string& archiveDir, TDateTime printedOn,
                                const ITextMeasure& measure) {
    const TPageFrame frame;
    const double width = frame.ContentWidth();
    const std::string printed = Format("gedruckt am %s", {FormatShortDate(printedOn)});
    TReportPager pager(
        frame, nullptr,
        [&](int) {
            TReportBand b(measure);
            b.Text(0, 2, width, printed, TReportFont::Arial(9));
            return b;
        });
    const TReportFont courier = TReportFont::Courier(10);
    const Table::Bookmark current = orders.GetBookmark();
    for (orders.First(); !orders.Eof(); orders.Next()) {
        pager.NewPage();
        TReportBand transfer(measure);
        transfer.Text(0, 0, width, orders.AsString("A_TRANSFER"), TReportFont::Arial(10));
        pager.Add(transfer);
        // Line by line, so that a long slip goes on over the next page.
        for (const std::string& line : SlipLines(archiveDir, orders.AsString("A_HANDLE"))) {
            TReportBand b(measure);
            b.Text(0, 0, width, line, courier);
            pager.Add(b);
        }
    }
    if (current != 0) orders.GotoBookmark(current);
    return pager.Finish(kSlipReportTitle);
}

} // namespace brenvo
