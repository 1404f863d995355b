#include "mainwindow/qt_Program.h"

#include <QListView>

#include <algorithm>
#include <functional>
#include <vector>

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
    WireSlipPrinting(main);
    return p;
}

void TProgram::WireSlipPrinting(TfrmMain& main) {
    // The outbox's slip printing, unless the outbox's own actions are wired
    // already. The list's selected items, in list order.
    auto outboxSelection = [&main] {
        std::vector<int64_t> ids;
        auto* view = main.findChild<QListView*>(QStringLiteral("lvAusgangskorb"));
        if (!view || !view->selectionModel()) return ids;
        QModelIndexList rows = view->selectionModel()->selectedIndexes();
        std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
        const auto& items = main.Controller().Outbox().Items();
        for (const QModelIndex& row : rows)
            if (size_t(row.row()) < items.size()) ids.push_back(items[size_t(row.row())].Id);
        return ids;
    };
    auto wire = [&main](MainAction id, std::function<void()> handler) {
        if (!main.HasHandler(id)) main.SetActionHandler(id, std::move(handler));
    };
    TMainController& c = main.Controller();
    wire(MainAction::BegleitzettelDrucken,
         [&c, outboxSelection] { c.actBegleitzettelDruckenExecute(TOrderSelection::InOutbox(outboxSelection())); });
    wire(MainAction::AlleBegleitzettelDrucken,
         [&c] { c.actAlleBegleitzettelDruckenExecute(TOrderSelection::InOutbox({}), false); });
    wire(MainAction::AlleBegleitzettelDruckenVorschau,
         [&c] { c.actAlleBegleitzettelDruckenExecute(TOrderSelection::InOutbox({}), true); });
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
