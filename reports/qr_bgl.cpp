#include "reports/qr_bgl.h"

#include "lib/base/DateTime.h"
#include "mainwindow/main.h"
#include "reports/SlipReport.h"
#include "reports/qr_Report.h"

namespace brenvo {

TqrBGLForm::TqrBGLForm(TMainController& controller, QPrinter& printer, QWidget* parent)
    : controller_(controller), printer_(printer), parent_(parent) {}

void TqrBGLForm::Run(Table& orders, bool preview) {
    const TReportDocument doc =
        BuildSlipReport(orders, controller_.Paths().ArchivA, Today(), ReportTextMeasure());
    if (doc.Pages.empty()) return;
    if (preview)
        PreviewReport(doc, printer_, parent_);
    else
        PrintReportOnChosenPrinter(doc, printer_, parent_);
}

} // namespace brenvo
