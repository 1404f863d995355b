#pragma once

// The commands of the main window as data: every action with its name,
// caption, shortcut, category, hint, the place where it shows and the
// controller operation it runs. The window builds its menus, buttons and
// shortcuts from this table; the enabling rule and the filtering of the
// shared context menu are decided here, without a window.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mainwindow/MainView.h"

namespace brenvo {

class TMainController;

enum class MainAction {
    // "Datei" menu
    EinstellungenSpeichern,
    DatensicherungErstellen,
    Druckereinstellung,
    Beenden,
    // "Über" menu
    Hilfe,
    Programm,
    UpdateDaten,
    UpdateProgramm,
    // "&Verarbeitung" tab
    ProzessStart,
    // input basket ("&Eingabe")
    RechnungNeu,
    RechnungBearbeiten,
    EingabeRechnungLoeschen,
    RechnungInEingangskorb,
    RechnungInArchiv,
    RechnungKopieren,
    RechnungUmbenennen,
    EingabeAktualisieren,
    // inbox and invoice-archive grid (category "Rechnung")
    RechnungAnsehen,
    RechnungKorrigieren,
    RechnungLoeschen,
    FehlerMarkierungEntfernen,
    GeheZuAuftrag,
    NeuLaden,
    ArchivDrucken,
    // outbox and order-archive grid (category "Auftrag")
    AuftragLoeschen,
    EmailVersandt,
    EmailNichtVersandt,
    AlleEmailsVersandt,
    EmailErzeugen,
    AlleEmailsVersenden,
    BegleitzettelAnsehen,
    BegleitzettelDrucken,
    AlleBegleitzettelDrucken,
    AlleBegleitzettelDruckenVorschau,
    AuftragsdateiAnzeigen,
    NutzdatenAnzeigen,
    GeheZuRechnung,
    // "Kostenträger-Daten" tab
    KTDatenAnzeigen,
    KTSpeichern,
    KTAdd,
    KTDelete,
    KTZeigeKostentraeger,
    KTZeigeVersichertenkarte,
    KTZeigeAnschrift,
    KTZeigeVersandkanal,
    // "Einstellungen" tab: maintenance
    DatenBereinigen,
    ArchivBereinigen,
    DatenImport,
    DBFunktion,
    // DAKOTA (category "Dakota")
    DakotaExport,
    DakotaVerarbeitung,
    DakotaProtokoll,
    DakotaReadResult,
    DakotaStart,
    DakotaProtKuerzen,
    DakotaReadAnnahme,
    // "Verwaltung" tab
    VerwaltungTarife,
    VerwaltungAdressen,
    VerwaltungVersicherte,
};

// Where an action shows besides its shortcut.
enum class ActionPlace {
    DateiMenu,            // main menu "Datei"
    UeberMenu,            // main menu "Über"
    SharedContextMenu,    // the context menu shared by the lists and grids (Submenu names its submenu)
    InputBasketMenu,      // the context menu of the input basket
    ReportMenu,           // the context menu of the cost-bearer report ("IK-Daten")
    Button,               // a button on a tab (Tab names it)
};

// Who hears a shortcut: the whole window, or only the control the action
// belongs to (the same key means different things in different lists).
enum class ShortcutScope { Window, Control };

struct TMainActionDef {
    MainAction Id;
    std::string Name;        // the handler's name without "Execute": "actProzessStart"; the QAction's object name
    std::string Caption;     // with "&" before the accelerator letter
    std::string Shortcut;    // in the portable form of key sequences ("F2", "Ctrl+Del"); "" when none
    ShortcutScope Scope = ShortcutScope::Control;
    ActionCategory Category = ActionCategory::None;
    std::string Hint;        // "" when none
    ActionPlace Place = ActionPlace::Button;
    std::string Submenu;     // SharedContextMenu: the submenu ("Email", ...), "" for the menu itself
    MainTab Tab = MainTab::Eingangskorb;   // Button: the tab that shows it
    // The controller operation of an action that needs nothing from the
    // window (no selection, no dialog of its own); null for the others,
    // whose handler the window supplies.
    std::function<void(TMainController&)> Run;
};

// Every action of the main window, in menu order.
const std::vector<TMainActionDef>& MainActions();
const TMainActionDef& MainActionDef(MainAction id);
// The action with that name ("actProzessStart"); null when there is none.
const TMainActionDef* FindMainAction(const std::string& name);

// Whether the action may be used now: never while busy or during a run;
// "&Start" only while the controller allows it; the "Dakota" actions only
// while DAKOTA_AKTIV is set; "Speichern" of the cost-bearer tab only while
// a change there is not saved.
bool MainActionEnabled(const TMainController& controller, MainAction id);

// Captions that carry the name of the printer chosen in "Druckereinstellung".
std::string PrinterSetupCaption(const std::string& printer);   // "Druckereinstellung (aktiv: NAME)"
std::string SlipPrintCaption(const std::string& printer);      // "Begleitzettel drucken.. auf: NAME"

// The text of "Hilfe" (line breaks as CR).
std::string HelpText();

// ------------------------------------------------------------ context menu

// The shared context menu as a tree: an entry is an action, a submenu with
// entries of its own, or a separator (neither).
struct TMenuEntry {
    std::optional<MainAction> Action;
    std::string Caption;                // a submenu's caption
    std::vector<TMenuEntry> Entries;    // a submenu's entries
    bool Visible = true;

    bool IsSubmenu() const { return !Action && !Caption.empty(); }
    bool IsSeparator() const { return !Action && Caption.empty(); }
};

// The shared context menu as built from MainActions(): the entries of the
// actions placed there, grouped into their submenus, a separator between
// the categories.
TMenuEntry SharedContextMenu();

// The controls the shared context menu can be opened on.
enum class ContextControl { OrderGrid, InvoiceGrid, Outbox, Inbox, CostBearerGrid, Other };

// The list or grid a tab shows, which the actions of the shared context
// menu work on while the tab is active (the outbox on "&Verarbeitung" and
// "&Ausgangskorb"); Other for the tabs without one.
ContextControl ControlOfTab(MainTab tab);
// What a double click or Enter on a list item does: edit in the input
// basket, show in the inbox; nothing in the outbox.
std::optional<MainAction> ItemActivatedAction(BasketKind basket);

// The category the menu shows for a control; none when the menu stays as it
// was (another control). The outbox shows its order actions only while an
// item is selected, otherwise no action at all.
std::optional<ActionCategory> ContextCategory(ContextControl control, bool outboxHasSelection);

// Makes exactly the entries of the control's category visible: an action
// entry when its category is the chosen one, a submenu when one of its
// entries is, separators never. Another control leaves the menu unchanged.
void FilterContextMenu(TMenuEntry& menu, ContextControl control, bool outboxHasSelection);

} // namespace brenvo
