#include "reports/qr_rechnung.h"

#include "billing/InvoiceDocument.h"
#include "lib/base/DateTime.h"
#include "mainwindow/main.h"
#include "reports/qr_Report.h"

namespace brenvo {

TQRRechnungForm::TQRRechnungForm(TMainController& controller, QPrinter& printer, QWidget* parent)
    : controller_(controller), printer_(printer), parent_(parent) {}

TReportDocument TQRRechnungForm::Build(const InvoiceDocument& doc, InvoicePrintForm form) const {
    const TEinrichtung& e = controller_.Einrichtung();
    const Table& head = doc.Rechnung();
    const std::string ikkt = head.Active() && !head.IsEmpty() ? head.AsString("IKKT") : std::string();
    const TKTPrintAddresses addresses =
        InvoicePrintAddresses(controller_.KTStore(), ikkt, e.EINR_LAND, e.EINR_BEZIRK, Today());
    return BuildInvoiceReport(doc, TInvoicePrintSettings::From(e), controller_.KTStore() ? &addresses : nullptr, form,
                              ReportTextMeasure());
}

void TQRRechnungForm::Print(const InvoiceDocument& doc, InvoicePrintForm form, bool preview) {
    const TReportDocument report = Build(doc, form);
    if (preview)
        PreviewReport(report, printer_, parent_);
    else
        PrintReportOnChosenPrinter(report, printer_, parent_);
}

void TQRRechnungForm::PrintInvoice(const std::string& file, InvoicePrintForm form, bool preview) {
    Print(InvoiceDocument::FromFile(file), form, preview);
}

} // namespace brenvo
