#pragma once

// The printed invoice (TQRRechnungForm): the invoice open in the entry window
// or an invoice file, in the short or the detailed form, shown in the print
// preview or printed on the printer chosen under "Druckereinstellung". The
// entry window's "Drucken" and "Drucken (Kurzform)" print the short form,
// "Drucken (ausführliche Version)" the detailed one.

#include <QPointer>
#include <QWidget>

#include <string>

#include "reports/InvoiceReport.h"

class QPrinter;

namespace brenvo {

class InvoiceDocument;
class TMainController;

class TQRRechnungForm {
public:
    // The settings (letterhead, footer, tax number, bank) and the
    // cost-bearer directory come from the controller when printing.
    TQRRechnungForm(TMainController& controller, QPrinter& printer, QWidget* parent = nullptr);

    // The pages of the document's invoice. Fails (Error) before anything is
    // printed when the footer's height in BRIEFFUSS is no number.
    TReportDocument Build(const InvoiceDocument& doc, InvoicePrintForm form) const;
    void Print(const InvoiceDocument& doc, InvoicePrintForm form, bool preview);
    // The same for an invoice file (read as the entry window reads it).
    void PrintInvoice(const std::string& file, InvoicePrintForm form, bool preview);

private:
    TMainController& controller_;
    QPrinter& printer_;
    QPointer<QWidget> parent_;
};

} // namespace brenvo
