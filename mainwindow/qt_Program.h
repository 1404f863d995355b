#pragma once

// The long-lived objects of the window program, created in this order and
// living until the program ends: the main window, the text dialog, the busy
// dialog, the master-data module and the print-list window of the reports
// (TQRListForm). The invoice entry window (TformXMLRechnung6) joins them
// here, between the master-data module and the print-list window, once it
// exists. The slip report serves the controller's slip printing; the
// invoice report is made when it is first used and then kept.

#include <memory>
#include <string>

#include "entry/dm_verwaltung.h"
#include "entry/frm_modal.h"
#include "mainwindow/frm_Busy.h"
#include "mainwindow/frm_main.h"
#include "reports/InvoiceReport.h"
#include "reports/qr_bgl.h"
#include "reports/qr_rarchiv.h"
#include "reports/qr_rechnung.h"

namespace brenvo {

struct TProgram {
    std::unique_ptr<TfrmMain> frmMain;
    std::unique_ptr<TformModal> formModal;
    std::unique_ptr<TFormBusy> formBusy;
    std::unique_ptr<TdmVerwaltung> dmVerwaltung;
    std::unique_ptr<TQRListForm> qrListForm;
    std::unique_ptr<TqrBGLForm> qrBGLForm;

    // The printed invoice (TQRRechnungForm), made on first use; it prints on
    // the printer chosen under "Druckereinstellung".
    TQRRechnungForm& RechnungReport();
    // The entry window's "Drucken" commands on an invoice file.
    void PrintInvoice(const std::string& file, InvoicePrintForm form, bool preview);
    // "Drucken" of "Archiv Rechnung": the print preview of the invoice
    // archive's rows as the view has filtered and ordered them, with the
    // view's title (ArchiveListTitle: "Alle archivierten Rechnungen" or
    // "archivierte Rechnungen 01.03.2024 .. 31.03.2024").
    void PrintInvoiceArchive(const std::string& title);

    // Creates the objects for the data directory; nothing is shown yet.
    static std::unique_ptr<TProgram> Create(const std::string& dataDir);
    ~TProgram();

private:
    static void WireSlipPrinting(TfrmMain& main);

    std::unique_ptr<TQRRechnungForm> qrRechnung_;
};

} // namespace brenvo
