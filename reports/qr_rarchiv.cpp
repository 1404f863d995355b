#include "reports/qr_rarchiv.h"

#include "lib/base/DateTime.h"
#include "reports/ArchiveListReport.h"
#include "reports/qr_Report.h"

namespace brenvo {

TQRListForm::TQRListForm(QPrinter& printer, QWidget* parent) : printer_(printer), parent_(parent) {}

void TQRListForm::Preview(Table& invoices, const std::string& title) {
    PreviewReport(BuildArchiveListReport(invoices, title, Now(), ReportTextMeasure()), printer_, parent_);
}

void TQRListForm::Print(Table& invoices, const std::string& title) {
    PrintReportOnChosenPrinter(BuildArchiveListReport(invoices, title, Now(), ReportTextMeasure()), printer_, parent_);
}

} // namespace brenvo
