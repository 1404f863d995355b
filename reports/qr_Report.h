#pragma once

// The one drawing path of the reports: a built report (ReportLayout.h) is
// drawn page by page with QPainter, the same way for the print preview, for
// the printer and for a PDF file. Arial and Courier New are drawn with their
// metric-compatible Liberation fonts.

#include <QFont>
#include <QString>

#include <memory>
#include <string>

#include "reports/ReportLayout.h"

class QPagedPaintDevice;
class QPainter;
class QPrinter;
class QWidget;

namespace brenvo {

QFont ReportQFont(const TReportFont& font);

// Text sizes of the Liberation fonts, taken at 1200 dpi, so that the layout
// is the same for every device. Needs a QGuiApplication.
class TQtTextMeasure : public ITextMeasure {
public:
    TQtTextMeasure();
    ~TQtTextMeasure() override;
    double LineHeight(const TReportFont& font) const override;
    double TextWidth(const TReportFont& font, std::string_view utf8) const override;
    // Lets go of the fonts' metrics (they are made again when needed).
    void Forget();

private:
    struct Cache;
    std::unique_ptr<Cache> cache_;   // the metrics of each font used, made once
};
// The program's measure; its metrics go with the application object.
const ITextMeasure& ReportTextMeasure();

// Draws one page on a painter whose device shows the whole paper (its top
// left corner at 0, 0).
void PaintReportPage(QPainter& painter, const TReportPage& page);

// Sets A4 portrait, the whole paper as the drawing area, and the document
// name on the printer.
void PrepareReportPrinter(QPrinter& printer, const TReportDocument& doc);

// Prints every page on the printer as it is set up. Fails (Error) when the
// printer cannot be opened. A report without pages prints nothing.
void PrintReport(const TReportDocument& doc, QPrinter& printer);

// Prints on the printer chosen under "Druckereinstellung". Where there is no
// printer and the printer writes PDF files, the user is asked for the file
// first (false when he cancels).
bool PrintReportOnChosenPrinter(const TReportDocument& doc, QPrinter& printer, QWidget* parent);

// The print preview (caption: the report's title); the user prints from it
// on the chosen printer. A report without pages opens nothing.
void PreviewReport(const TReportDocument& doc, QPrinter& printer, QWidget* parent);

// Writes the report as a PDF file (A4, fonts embedded), atomically: the file
// is there whole or not at all. Fails (Error) with "Datei %s kann nicht
// geschrieben werden." when it cannot be written, and for a report without
// pages.
void WriteReportPdf(const TReportDocument& doc, const std::string& path);

} // namespace brenvo
