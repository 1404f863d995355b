#include "mainwindow/qt_Program.h"

#include "lib/base/Files.h"
#include "mainwindow/main.h"

namespace brenvo {

std::unique_ptr<TProgram> TProgram::Create(const std::string& dataDir) {
    auto p = std::make_unique<TProgram>();
    p->frmMain = std::make_unique<TfrmMain>(dataDir);
    p->formModal = std::make_unique<TformModal>(p->frmMain.get());
    p->formBusy = std::make_unique<TFormBusy>(p->frmMain.get());
    p->frmMain->SetTextDialog(p->formModal.get());
    p->frmMain->SetBusyDialog(p->formBusy.get());
    p->dmVerwaltung = std::make_unique<TdmVerwaltung>(PathJoin(p->frmMain->Controller().Paths().Root,
                                                               TDataPaths{}.Stammdaten));
    TfrmMain& main = *p->frmMain;
    p->qrListForm = std::make_unique<TQRListForm>(main.SlipPrinter(), &main);
    p->qrBGLForm = std::make_unique<TqrBGLForm>(main.Controller(), main.SlipPrinter(), &main);
    main.Controller().SetSlipReport(p->qrBGLForm.get());
    TProgram* program = p.get();
    main.SetActionHandler(MainAction::ArchivDrucken, [program] {
        program->PrintInvoiceArchive(program->frmMain->Controller().InvoiceArchivePrintTitle());
    });
    return p;
}

TQRRechnungForm& TProgram::RechnungReport() {
    if (!qrRechnung_)
        qrRechnung_ = std::make_unique<TQRRechnungForm>(frmMain->Controller(), frmMain->SlipPrinter(), frmMain.get());
    return *qrRechnung_;
}

void TProgram::PrintInvoice(const std::string& file, InvoicePrintForm form, bool preview) {
    RechnungReport().PrintInvoice(file, form, preview);
}

void TProgram::PrintInvoiceArchive(const std::string& title) {
    if (TRechStore* store = frmMain->Controller().RechStore()) qrListForm->Preview(store->GetTable(), title);
}

// Released in the reverse order of creation; the dialogs leave the main
// window before it goes.
TProgram::~TProgram() {
    if (frmMain) frmMain->Controller().SetSlipReport(nullptr);
    qrRechnung_.reset();
    qrBGLForm.reset();
    qrListForm.reset();
    dmVerwaltung.reset();
    formBusy.reset();
    formModal.reset();
    frmMain.reset();
}

} // namespace brenvo
