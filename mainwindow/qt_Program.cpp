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
    return p;
}

// Released in the reverse order of creation; the dialogs leave the main
// window before it goes.
TProgram::~TProgram() {
    dmVerwaltung.reset();
    formBusy.reset();
    formModal.reset();
    frmMain.reset();
}

} // namespace brenvo
