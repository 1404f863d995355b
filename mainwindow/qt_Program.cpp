#include "mainwindow/qt_Program.h"

#include <functional>

#include "entry/frm_adressen.h"
#include "entry/frm_tarife.h"
#include "entry/frm_versicherte.h"
#include "lib/Basics/qt_Dialogs.h"
#include "lib/base/Files.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

// A master-data editor, modal; its tables are opened by the editor and the
// window is released when closed.
template <class Window, class... Args>
void RunEditor(TProgram& p, Args&&... args) {
    Window window(*p.dmVerwaltung, std::forward<Args>(args)..., p.frmMain.get());
    window.exec();
}

} // namespace

std::unique_ptr<TProgram> TProgram::Create(const std::string& dataDir) {
    auto p = std::make_unique<TProgram>();
    p->frmMain = std::make_unique<TfrmMain>(dataDir);
    p->formModal = std::make_unique<TformModal>(p->frmMain.get());
    p->formBusy = std::make_unique<TFormBusy>(p->frmMain.get());
    p->frmMain->SetTextDialog(p->formModal.get());
    p->frmMain->SetBusyDialog(p->formBusy.get());
    p->dmVerwaltung = std::make_unique<TdmVerwaltung>(PathJoin(p->frmMain->Controller().Paths().Root,
                                                               TDataPaths{}.Stammdaten));
    p->entryHost = std::make_unique<TEntryHost>(p->frmMain->Controller());
    p->formXMLRechnung6 =
        std::make_unique<TformXMLRechnung6>(*p->dmVerwaltung, *p->entryHost, p->frmMain.get());

    TProgram* program = p.get();
    TfrmMain& main = *p->frmMain;
    main.SetActionHandler(MainAction::VerwaltungTarife, [program] { RunEditor<TfrmTarife>(*program); });
    main.SetActionHandler(MainAction::VerwaltungAdressen, [program] { RunEditor<TfrmAdressen>(*program); });
    main.SetActionHandler(MainAction::VerwaltungVersicherte,
                          [program] { RunEditor<TfrmVersicherte>(*program, TVersicherteEditor::Mode::Maintenance); });
    program->formXMLRechnung6->SetPrintHandler([program](TInvoiceEntry& entry, bool detailed) {
        try {
            program->PrintInvoice(entry.Path(), detailed ? InvoicePrintForm::Detailed : InvoicePrintForm::Short, true);
        } catch (const std::exception& e) {
            ShowMessageDialog(program->formXMLRechnung6.get(), MessageKind::Error, e.what());
        }
    });

    p->qrListForm = std::make_unique<TQRListForm>(main.SlipPrinter(), &main);
    p->qrBGLForm = std::make_unique<TqrBGLForm>(main.Controller(), main.SlipPrinter(), &main);
    main.Controller().SetSlipReport(p->qrBGLForm.get());
    main.SetActionHandler(MainAction::ArchivDrucken, [program] {
        program->PrintInvoiceArchive(program->frmMain->Controller().InvoiceArchivePrintTitle());
    });
    main.Controller().SetInvoiceEditor(program);
    return p;
}

bool TProgram::ShowInvoice(const std::string& path, EntryMode mode, const TNewInvoiceHeader* newInvoice) {
    TformXMLRechnung6& w = *formXMLRechnung6;
    w.Open(path);
    w.SetMode(newInvoice ? EntryMode::Edit : mode);
    if (newInvoice) w.PrepareNewInvoice(*newInvoice);
    w.ShowModal();
    return w.DeleteRequested();
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
    if (frmMain) {
        frmMain->Controller().SetSlipReport(nullptr);
        frmMain->Controller().SetInvoiceEditor(nullptr);
    }
    qrRechnung_.reset();
    qrBGLForm.reset();
    qrListForm.reset();
    formXMLRechnung6.reset();
    entryHost.reset();
    dmVerwaltung.reset();
    formBusy.reset();
    formModal.reset();
    frmMain.reset();
}

} // namespace brenvo
