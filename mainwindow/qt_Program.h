#pragma once

// The long-lived objects of the window program, created in this order and
// living until the program ends: the main window, the text dialog, the busy
// dialog, the master-data module, the invoice entry window
// (TformXMLRechnung6) and the print-list window of the reports
// (TQRListForm). The slip report serves the controller's slip printing; the
// invoice report is made when it is first used and then kept.

#include <memory>
#include <string>

#include "entry/dm_verwaltung.h"
#include "entry/frm_modal.h"
#include "entry/frm_xmlRechnungV6.h"
#include "mainwindow/BasketActions.h"
#include "mainwindow/EntryHost.h"
#include "mainwindow/frm_Busy.h"
#include "mainwindow/frm_main.h"
#include "reports/InvoiceReport.h"
#include "reports/qr_bgl.h"
#include "reports/qr_rarchiv.h"
#include "reports/qr_rechnung.h"

namespace brenvo {

struct TProgram : IInvoiceEditor {
    std::unique_ptr<TfrmMain> frmMain;
    std::unique_ptr<TformModal> formModal;
    std::unique_ptr<TFormBusy> formBusy;
    std::unique_ptr<TdmVerwaltung> dmVerwaltung;
    std::unique_ptr<TEntryHost> entryHost;
    std::unique_ptr<TformXMLRechnung6> formXMLRechnung6;

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
    ~TProgram() override;

    // The invoice actions of the main window open invoices here: an invoice
    // file in the entry window, shown modally: in view mode, in edit mode,
    // or (with a header) as a new invoice whose header is filled in first.
    // Returns the window's delete request: the user deleted the invoice, or
    // closed a blank one ("99999" without date) unsaved.
    bool ShowInvoice(const std::string& path, EntryMode mode, const TNewInvoiceHeader* newInvoice) override;

private:
    std::unique_ptr<TQRRechnungForm> qrRechnung_;
};

} // namespace brenvo
