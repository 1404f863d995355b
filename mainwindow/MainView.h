#pragma once

// What the main window's controller needs of a window. The controller holds
// the state (lists, progress, log, settings form); the view shows it and
// hands the user's answers back. The Qt main window implements this, the
// console program implements it with standard output, the tests record it.

#include <cstddef>
#include <string>
#include <vector>

#include "lib/base/UserInterface.h"

namespace brenvo {

class IProgressSink;
class UpdateDownload;

// The tabs of the main window, in their order.
enum class MainTab {
    Eingabe,           // "&Eingabe": input basket
    Eingangskorb,      // "Eingangs&korb": inbox
    Verarbeitung,      // "&Verarbeitung": processing run, outbox
    Protokoll,         // "&Protokoll": activity log
    Ausgangskorb,      // "&Ausgangskorb": outbox
    ArchivRechnung,    // "Archiv Rechnung"
    ArchivAuftraege,   // "Archiv Aufträge"
    KostentraegerDaten,
    Einstellungen,
    Verwaltung
};

// The three lists of the main window.
enum class BasketKind { InputBasket, Inbox, Outbox };

// The images of the lists' one image list.
enum class ItemIcon { NotSent = 0, Sent = 1, Open = 2, Processed = 3 };

// The load panel shown while the program starts, stops, updates or backs up.
enum class LoadPanelMode {
    Hidden,     // normal view: page control shown, client area 900 x 550
    Compact,    // the window shrunk around the panel (start-up, shut-down)
    Full        // the panel in the full window (update, backup)
};

// Categories of the main window's actions.
enum class ActionCategory { None, Rechnung, Auftrag, Kostentraeger, Dakota, About };

class IMainView : public IUserInterface {
public:
    // One line was appended to the activity log ("Protokoll" tab).
    virtual void LogLineAdded(const std::string& line) = 0;
    // The "Verarbeitung" tab's bar (range 0..maximum, position inside it)
    // and label, and the fourth status panel.
    virtual void ProgressChanged(int position, int maximum, const std::string& text) = 0;
    // The load panel's bar and label.
    virtual void LoadProgressChanged(int position, int maximum, const std::string& text) = 0;
    virtual void SetLoadPanel(LoadPanelMode mode) = 0;
    // Busy state, the "&Start" action or the running state changed: the view
    // sets the cursor and asks the controller which actions are enabled.
    virtual void ActionStateChanged() = 0;
    virtual void ShowTab(MainTab tab) = 0;
    // Text of a status-bar panel (1-based; 3 = DAKOTA status).
    virtual void StatusPanelText(int panel, const std::string& text) = 0;

    // The controller's list models changed (see TBasketList).
    virtual void BasketReset(BasketKind basket) = 0;
    virtual void BasketItemInserted(BasketKind basket, size_t index) = 0;
    virtual void BasketItemChanged(BasketKind basket, size_t index) = 0;
    virtual void BasketItemRemoved(BasketKind basket, size_t index) = 0;

    // The item of a list the controller made current (a new invoice); -1
    // clears the list's selection.
    virtual void SelectBasketItem(BasketKind /*basket*/, long /*index*/) {}
    // The archives' tables are there (true: created and loaded), or are about
    // to go (false: before an update releases them): grids showing them
    // attach or let go.
    virtual void ArchiveTablesAvailable(bool /*available*/) {}
    // The controller changed the view of "Archiv Rechnung" (filter, dates,
    // search); the window shows InvoiceArchiveFilter() anew.
    virtual void InvoiceArchiveFilterChanged() {}

    // The settings form record was filled anew (after loading the settings).
    virtual void SettingsFormChanged() = 0;
    // The settings form's MAXTRANSFER changed (the transfer number was saved
    // after jobs advanced it); the other fields are as they were.
    virtual void TransferNumberChanged() = 0;

    // The modal busy dialog without close button (title, one bold line).
    virtual void OpenBusyDialog(const std::string& title, const std::string& text) = 0;
    virtual void CloseBusyDialog() = 0;

    // Handles pending window events (repaint, input); called at every
    // progress update of a long operation.
    virtual void ProcessEvents() = 0;
    // A pause between the steps of start-up and shut-down, so that the user
    // can read them; a view without a window may return at once.
    virtual void Pause(int milliseconds) = 0;
    // The shut-down has finished: close the window and end the program.
    virtual void CloseWindow() = 0;
    // The window's title: a long action may show its progress there and
    // gives TMainController::Caption back when it ends.
    virtual void SetWindowCaption(const std::string& caption) = 0;
    // The file chooser: files to open, several at once; `filter` in the form
    // "Beschreibung (*.a *.b)". Empty when the user cancels.
    virtual std::vector<std::string> ChooseFiles(const std::string& title, const std::string& filter) = 0;
    // Shows the download dialog of an update ("Update läuft...") until it
    // ends; true when the file arrived completely. A view without windows
    // runs it unattended and puts its closing message into log.
    virtual bool RunDownloadDialog(UpdateDownload& download, IProgressSink& log);
};

} // namespace brenvo
