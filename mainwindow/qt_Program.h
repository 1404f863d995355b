#pragma once

// The long-lived objects of the window program, created in this order and
// living until the program ends: the main window, the text dialog, the busy
// dialog, the master-data module and the invoice entry window
// (TformXMLRechnung6). The print-list window of the reports (TQRListForm)
// joins them here, after the entry window, once it exists.

#include <memory>
#include <string>

#include "entry/dm_verwaltung.h"
#include "entry/frm_modal.h"
#include "entry/frm_xmlRechnungV6.h"
#include "mainwindow/EntryHost.h"
#include "mainwindow/frm_Busy.h"
#include "mainwindow/frm_main.h"

namespace brenvo {

struct TProgram {
    std::unique_ptr<TfrmMain> frmMain;
    std::unique_ptr<TformModal> formModal;
    std::unique_ptr<TFormBusy> formBusy;
    std::unique_ptr<TdmVerwaltung> dmVerwaltung;
    std::unique_ptr<TEntryHost> entryHost;
    std::unique_ptr<TformXMLRechnung6> formXMLRechnung6;

    // Creates the objects for the data directory; nothing is shown yet.
    static std::unique_ptr<TProgram> Create(const std::string& dataDir);
    ~TProgram();

    // An invoice file in the entry window, shown modally: in view mode, in
    // edit mode, or (with a header) as a new invoice whose header is filled
    // in first. Returns the window's delete request: the user deleted the
    // invoice, or closed a blank one ("99999" without date) unsaved.
    bool ShowInvoice(const std::string& path, EntryMode mode, const TNewInvoiceHeader* newInvoice = nullptr);
};

} // namespace brenvo
