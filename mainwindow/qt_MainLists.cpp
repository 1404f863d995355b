#include "mainwindow/qt_MainLists.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QListView>
#include <QMenu>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>

#include "mainwindow/frm_main.h"
#include "mainwindow/main.h"
#include "mainwindow/qt_ArchivePages.h"

namespace brenvo {

namespace {

std::vector<int> SelectedRows(const QListView* list) {
    std::vector<int> rows;
    for (const QModelIndex& i : list->selectionModel()->selectedIndexes()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

} // namespace

TMainLists::TMainLists(TfrmMain& main) : QObject(&main), main_(main) {
    invoicePage_ = new TInvoiceArchivePage(main.Controller(), main.Action(MainAction::ArchivDrucken));
    orderPage_ = new TOrderArchivePage;
    main.SetTabPage(MainTab::ArchivRechnung, invoicePage_);
    main.SetTabPage(MainTab::ArchivAuftraege, orderPage_);
    WireLists();
    WireHandlers();
}

QListView* TMainLists::List(BasketKind basket) const { return main_.BasketListView(basket); }

void TMainLists::WireLists() {
    // The input basket: its own context menu, its keys (F2, F5, Ctrl+Del,
    // Ctrl+K, F8) heard by the list only.
    QListView* input = List(BasketKind::InputBasket);
    inputMenu_ = new QMenu(input);
    inputMenu_->setObjectName(QStringLiteral("pmEingabe"));
    for (const TMainActionDef& d : MainActions()) {
        if (d.Place != ActionPlace::InputBasketMenu) continue;
        QAction* a = main_.Action(d.Id);
        inputMenu_->addAction(a);
        if (!d.Shortcut.empty()) input->addAction(a);
    }
    connect(input, &QWidget::customContextMenuRequested, this,
            [this, input](const QPoint& pos) { inputMenu_->popup(input->viewport()->mapToGlobal(pos)); });
    List(BasketKind::Inbox)->addAction(main_.Action(MainAction::NeuLaden));

    // Enter and double click (the view's "activated").
    for (BasketKind basket : {BasketKind::InputBasket, BasketKind::Inbox}) {
        const std::optional<MainAction> action = ItemActivatedAction(basket);
        if (!action) continue;
        QAction* a = main_.Action(*action);
        connect(List(basket), &QAbstractItemView::activated, a, [a] {
            if (a->isEnabled()) a->trigger();
        });
    }

    QTableView* invoices = invoicePage_->Grid();
    connect(invoices, &QWidget::customContextMenuRequested, this, [this, invoices](const QPoint& pos) {
        main_.ShowContextMenu(ContextControl::InvoiceGrid, invoices->viewport()->mapToGlobal(pos));
    });
    QTableView* orders = orderPage_->Grid();
    connect(orders, &QWidget::customContextMenuRequested, this, [this, orders](const QPoint& pos) {
        main_.ShowContextMenu(ContextControl::OrderGrid, orders->viewport()->mapToGlobal(pos));
    });
}

void TMainLists::WireHandlers() {
    TMainController& c = main_.Controller();
    using A = MainAction;
    auto set = [this](MainAction id, std::function<void()> handler) { main_.SetActionHandler(id, std::move(handler)); };
    auto input = [this] { return SelectedCaptions(BasketKind::InputBasket); };

    // input basket
    set(A::RechnungNeu, [&c] { c.actRechnungNeuExecute(); });
    set(A::RechnungBearbeiten, [&c, input] { c.actRechnungBearbeitenExecute(input()); });
    set(A::EingabeRechnungLoeschen, [&c, input] { c.actEingabeRechnungLoeschenExecute(input()); });
    set(A::RechnungInEingangskorb, [&c, input] { c.actRechnungInEingangskorbExecute(input()); });
    set(A::RechnungInArchiv, [&c, input] { c.actRechnungInArchivExecute(input()); });
    set(A::RechnungKopieren, [&c, input] { c.actRechnungKopierenExecute(input()); });
    set(A::RechnungUmbenennen, [&c, input] { c.actRechnungUmbenennenExecute(input()); });
    set(A::EingabeAktualisieren, [&c] { c.actEingabeAktualisierenExecute(); });

    // inbox and invoice-archive grid
    set(A::RechnungAnsehen, [this, &c] { c.actRechnungAnsehenExecute(InvoiceSelection()); });
    set(A::RechnungKorrigieren, [this, &c] { c.actRechnungKorrigierenExecute(InvoiceSelection()); });
    set(A::RechnungLoeschen, [this, &c] { c.actRechnungLoeschenExecute(InvoiceSelection()); });
    set(A::FehlerMarkierungEntfernen, [this, &c] { c.actFehlerMarkierungEntfernenExecute(InvoiceSelection()); });
    set(A::GeheZuAuftrag, [this, &c] { c.actGeheZuAuftragExecute(InvoiceSelection()); });
    set(A::NeuLaden, [this, &c] { c.actNeuLadenExecute(InvoiceSelection()); });

    // outbox and order-archive grid
    set(A::AuftragLoeschen, [this, &c] { c.actAuftragLoeschenExecute(OrderSelection()); });
    set(A::EmailVersandt, [this, &c] { c.actEmailVersandtExecute(OrderSelection()); });
    set(A::EmailNichtVersandt, [this, &c] { c.actEmailNichtVersandtExecute(OrderSelection()); });
    set(A::AlleEmailsVersandt, [this, &c] { c.actAlleEmailsVersandtExecute(OrderSelection()); });
    set(A::EmailErzeugen, [this, &c] { c.actEmailErzeugenExecute(OrderSelection()); });
    set(A::AlleEmailsVersenden, [this, &c] { c.actAlleEmailsVersendenExecute(OrderSelection()); });
    set(A::BegleitzettelAnsehen, [this, &c] { c.actBegleitzettelAnsehenExecute(OrderSelection()); });
    set(A::BegleitzettelDrucken, [this, &c] { c.actBegleitzettelDruckenExecute(OrderSelection()); });
    set(A::AlleBegleitzettelDrucken, [this, &c] { c.actAlleBegleitzettelDruckenExecute(OrderSelection(), false); });
    set(A::AlleBegleitzettelDruckenVorschau,
        [this, &c] { c.actAlleBegleitzettelDruckenExecute(OrderSelection(), true); });
    set(A::AuftragsdateiAnzeigen, [this, &c] { c.actAuftragsdateiAnzeigenExecute(OrderSelection()); });
    set(A::NutzdatenAnzeigen, [this, &c] { c.actNutzdatenAnzeigenExecute(OrderSelection()); });
    set(A::GeheZuRechnung, [this, &c] { c.actGeheZuRechnungExecute(OrderSelection()); });
}

std::vector<std::string> TMainLists::SelectedCaptions(BasketKind basket) const {
    const TBasketList& list = basket == BasketKind::InputBasket ? main_.Controller().InputBasket()
                              : basket == BasketKind::Inbox     ? main_.Controller().Inbox()
                                                                : main_.Controller().Outbox();
    std::vector<std::string> names;
    for (int row : SelectedRows(List(basket)))
        if (size_t(row) < list.Count()) names.push_back(list.Item(size_t(row)).Caption);
    return names;
}

std::vector<int64_t> TMainLists::SelectedOutboxIds() const {
    const TBasketList& list = main_.Controller().Outbox();
    std::vector<int64_t> ids;
    for (int row : SelectedRows(List(BasketKind::Outbox)))
        if (size_t(row) < list.Count()) ids.push_back(list.Item(size_t(row)).Id);
    return ids;
}

TInvoiceSelection TMainLists::InvoiceSelection() const {
    if (ControlOfTab(MainTab(main_.Tabs()->currentIndex())) == ContextControl::InvoiceGrid)
        return TInvoiceSelection::InGrid(invoicePage_->CurrentNumber());
    return TInvoiceSelection::InInbox(SelectedCaptions(BasketKind::Inbox));
}

TOrderSelection TMainLists::OrderSelection() const {
    if (ControlOfTab(MainTab(main_.Tabs()->currentIndex())) == ContextControl::OrderGrid)
        return TOrderSelection::InGridRows(orderPage_->CurrentId(), orderPage_->SelectedIds());
    return TOrderSelection::InOutbox(SelectedOutboxIds());
}

void TMainLists::SelectItem(BasketKind basket, long index) {
    QListView* list = List(basket);
    QItemSelectionModel* sel = list->selectionModel();
    if (index < 0 || index >= list->model()->rowCount()) {
        sel->clearSelection();
        return;
    }
    const QModelIndex item = list->model()->index(int(index), 0);
    sel->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
    list->scrollTo(item);
}

void TMainLists::ArchiveTablesAvailable(bool available) {
    TMainController& c = main_.Controller();
    invoicePage_->SetTable(available && c.RechStore() ? &c.RechStore()->GetTable() : nullptr);
    orderPage_->SetTable(available && c.AuftragStore() ? &c.AuftragStore()->GetTable() : nullptr);
}

void TMainLists::InvoiceArchiveFilterChanged() { invoicePage_->ShowFilter(); }

} // namespace brenvo
