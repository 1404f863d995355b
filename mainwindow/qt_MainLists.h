#pragma once

// The lists and grids of the main window at work: the input basket, the
// inbox and the outbox with their keys, double click and context menus, the
// pages of "Archiv Rechnung" and "Archiv Aufträge", and the handlers of the
// invoice and order actions. Each handler hands the controller what is
// selected in the list or grid the action works on: the one the active tab
// shows (the shared context menu opens only on a list or grid of the active
// tab).

#include <QObject>

#include <cstdint>
#include <string>
#include <vector>

#include "mainwindow/BasketActions.h"
#include "mainwindow/MainView.h"
#include "mainwindow/OrderActions.h"

class QListView;
class QMenu;

namespace brenvo {

class TfrmMain;
class TInvoiceArchivePage;
class TOrderArchivePage;

class TMainLists : public QObject {
    Q_OBJECT
public:
    // Puts the archive pages into their tabs and wires the lists and actions.
    explicit TMainLists(TfrmMain& main);

    TInvoiceArchivePage* InvoicePage() const { return invoicePage_; }
    TOrderArchivePage* OrderPage() const { return orderPage_; }
    // The context menu of the input basket.
    QMenu* InputBasketMenu() const { return inputMenu_; }

    // The captions of a list's selected items, in list order.
    std::vector<std::string> SelectedCaptions(BasketKind basket) const;
    // The order ids of the outbox's selected items, in list order.
    std::vector<int64_t> SelectedOutboxIds() const;
    // What the shared actions work on now: the inbox or the invoice grid,
    // the outbox or the order grid, as the active tab shows.
    TInvoiceSelection InvoiceSelection() const;
    TOrderSelection OrderSelection() const;

    // The controller's notifications, passed on by the window.
    void SelectItem(BasketKind basket, long index);
    void ArchiveTablesAvailable(bool available);
    void InvoiceArchiveFilterChanged();

private:
    void WireLists();
    void WireHandlers();
    QListView* List(BasketKind basket) const;

    TfrmMain& main_;
    TInvoiceArchivePage* invoicePage_ = nullptr;
    TOrderArchivePage* orderPage_ = nullptr;
    QMenu* inputMenu_ = nullptr;
};

} // namespace brenvo
