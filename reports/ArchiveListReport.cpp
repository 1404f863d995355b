#include "reports/ArchiveListReport.h"

#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

struct Column {
    const char* field;
    const char* heading;
    double width;   // mm
    ReportAlign align;
};

// The columns fill the 184.6 mm between the margins.
constexpr Column kColumns[] = {
    {"R_ID", "lfdNr.", 11, ReportAlign::Right},
    {"R_NUMMER", "Rechnung Nr.", 29, ReportAlign::Left},
    {"R_DATUM", "Datum", 20, ReportAlign::Left},
    {"R_BETRAG", "Betrag", 21, ReportAlign::Right},
    {"R_FILENAME", "Dateiname", 44, ReportAlign::Left},
    {"R_HANDLE", "ID", 59.6, ReportAlign::Left},   // an order's handle has 28 characters
};
constexpr double kGap = 1.5;   // between neighbouring columns

// The text a field of the archive shows.
std::string Cell(const Table& t, const char* field) {
    if (!t.HasField(field) || t.IsNull(field)) return {};
    const std::string_view name = field;
    if (name == "R_BETRAG") return FormatFloat("#.00", t.AsFloat(field));
    if (name == "R_DATUM") return FormatDateTimeDE(t.AsDateTime(field));
    return t.AsString(field);
}

TReportBand Row(const ITextMeasure& measure, const TReportFont& font, const std::string (&texts)[6]) {
    TReportBand b(measure);
    double x = 0;
    for (size_t i = 0; i < std::size(kColumns); ++i) {
        b.Text(x, 0, kColumns[i].width - kGap, texts[i], font, kColumns[i].align);
        x += kColumns[i].width;
    }
    return b;
}

} // namespace

std::string ArchiveListTitle(const std::optional<std::pair<TDateTime, TDateTime>>& filter) {
    if (!filter) return "Alle archivierten Rechnungen";
    return "archivierte Rechnungen " + FormatDDMMYYYY(filter->first) + " .. " + FormatDDMMYYYY(filter->second);
}

std::string ArchiveDateFilter(TDateTime from, TDateTime to) {
    return "r_datum >= '" + FormatDDMMYYYY(from) + "'" + " and r_datum <= " + "'" + FormatDDMMYYYY(to) + "'";
}

TReportDocument BuildArchiveListReport(Table& invoices, const std::string& title, TDateTime printedAt,
                                       const ITextMeasure& measure) {
    const TPageFrame frame;
    const double width = frame.ContentWidth();
    const TReportFont font = TReportFont::Arial(10);
    const std::string printed = FormatDDMMYYYY(printedAt) + " " + FormatHHNNSS(printedAt);
    TReportPager pager(
        frame,
        [&](int page) {
            TReportBand b(measure);
            double y = 0;
            if (page == 1) y = b.Text(0, 0, width, title, TReportFont::Arial(18), ReportAlign::Center, true) + 4;
            std::string headings[6];
            for (size_t i = 0; i < std::size(kColumns); ++i) headings[i] = kColumns[i].heading;
            const TReportBand h = Row(measure, font.WithUnderline(), headings);
            for (TReportText t : h.Texts()) {
                t.Y += y;
                b.Text(t.X, t.Y, t.Width, t.Text, t.Font, t.Align);
            }
            b.ExtendTo(y + h.Height() + 1.5);
            return b;
        },
        [&](int page) {
            TReportBand b(measure);
            b.Rule(0, 0, width, 0, 0.15);
            b.Text(0, 1, width / 2, "Seite " + IntToStr(page), font);
            b.Text(width / 2, 1, width / 2, printed, font, ReportAlign::Right);
            return b;
        });

    const Table::Bookmark current = invoices.Active() ? invoices.GetBookmark() : 0;
    const TReportFont bold = font.WithBold();
    if (invoices.Active())
        for (invoices.First(); !invoices.Eof(); invoices.Next()) {
            std::string texts[6];
            for (size_t i = 0; i < std::size(kColumns); ++i) texts[i] = Cell(invoices, kColumns[i].field);
            pager.Add(Row(measure, bold, texts));
        }
    if (current != 0) invoices.GotoBookmark(current);
    // An empty list still shows its frame.
    if (pager.PageCount() == 0) pager.Add(TReportBand(measure));
    return pager.Finish(title);
}

} // namespace brenvo
