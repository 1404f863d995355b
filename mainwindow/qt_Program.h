#pragma once

// The long-lived objects of the window program, created in this order and
// living until the program ends: the main window, the text dialog, the busy
// dialog and the master-data module. The invoice entry window
// (TformXMLRechnung6) and the print-list window of the reports (TQRListForm)
// join them here, after the master-data module, once they exist.

#include <memory>
#include <string>

#include "entry/dm_verwaltung.h"
#include "entry/frm_modal.h"
#include "mainwindow/frm_Busy.h"
#include "mainwindow/frm_main.h"

namespace brenvo {

struct TProgram {
    std::unique_ptr<TfrmMain> frmMain;
    std::unique_ptr<TformModal> formModal;
    std::unique_ptr<TFormBusy> formBusy;
    std::unique_ptr<TdmVerwaltung> dmVerwaltung;

    // Creates the objects for the data directory; nothing is shown yet.
    static std::unique_ptr<TProgram> Create(const std::string& dataDir);
    ~TProgram();
};

} // namespace brenvo
