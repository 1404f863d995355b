#include "mainwindow/MainActions.h"

#include <stdexcept>

#include "mainwindow/DakotaActions.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

using C = TMainController;
using P = ActionPlace;
using Cat = ActionCategory;

TMainActionDef Def(MainAction id, std::string name, std::string caption, ActionPlace place, Cat category = Cat::None,
                   std::string shortcut = "", std::string hint = "", std::function<void(C&)> run = nullptr) {
    TMainActionDef d;
    d.Id = id;
    d.Name = std::move(name);
    d.Caption = std::move(caption);
    d.Place = place;
    d.Category = category;
    d.Shortcut = std::move(shortcut);
    d.Hint = std::move(hint);
    d.Run = std::move(run);
    return d;
}

TMainActionDef InMenu(TMainActionDef d, std::string submenu) {
    d.Submenu = std::move(submenu);
    return d;
}

TMainActionDef OnTab(TMainActionDef d, MainTab tab) {
    d.Tab = tab;
    return d;
}

TMainActionDef WindowWide(TMainActionDef d) {
    d.Scope = ShortcutScope::Window;
    return d;
}

// A DAKOTA action: caption and hint from the controller's list.
TMainActionDef Dakota(MainAction id, std::string name, size_t index, MainTab tab, TDakotaActionResult (C::*op)()) {
    const TDakotaActionText& t = kDakotaActions[index];
    return OnTab(Def(id, std::move(name), t.Caption, P::Button, Cat::Dakota, "", t.Hint,
                     [op](C& c) { (c.*op)(); }),
                 tab);
}

std::vector<TMainActionDef> Build() {
    using A = MainAction;
    using M = C::MaintenanceAction;
    std::vector<TMainActionDef> a;
    // "Datei"
    a.push_back(Def(A::EinstellungenSpeichern, "actEinstellungenSpeichern", "Einstellungen speichern", P::DateiMenu,
                    Cat::None, "", "", [](C& c) { c.actEinstellungenSpeichernExecute(); }));
    a.push_back(Def(A::DatensicherungErstellen, "actDatensicherungErstellen", "Datensicherung erstellen", P::DateiMenu,
                    Cat::None, "", "", [](C& c) { c.actDatensicherungErstellenExecute(); }));
    a.push_back(Def(A::Druckereinstellung, "actDruckereinstellung", "Druckereinstellung", P::DateiMenu));
    a.push_back(Def(A::Beenden, "actBeenden", "Beenden", P::DateiMenu));
    // "Über"
    a.push_back(WindowWide(Def(A::Hilfe, "actHilfe", "Hilfe", P::UeberMenu, Cat::About, "F1")));
    a.push_back(Def(A::Programm, "actProgramm", "Programm", P::UeberMenu, Cat::About));
    a.push_back(Def(A::UpdateDaten, "actUpdateDaten", "Update [Daten]", P::UeberMenu, Cat::None, "", "",
                    [](C& c) { c.actUpdateDatenExecute(); }));
    a.push_back(Def(A::UpdateProgramm, "actUpdateProgramm", "Update [Programm]", P::UeberMenu, Cat::None, "", "",
                    [](C& c) { c.actUpdateProgrammExecute(); }));
    // "&Verarbeitung"
    a.push_back(OnTab(Def(A::ProzessStart, "actProzessStart", "&Start", P::Button, Cat::None, "",
                          "Verarbeitung starten.", [](C& c) { c.actProzessStartExecute(); }),
                      MainTab::Verarbeitung));
    // input basket
    a.push_back(Def(A::RechnungNeu, "actRechnungNeu", "Rechnung neu erstellen", P::InputBasketMenu, Cat::None, "F2"));
    a.push_back(Def(A::RechnungBearbeiten, "actRechnungBearbeiten", "Rechnung bearbeiten", P::InputBasketMenu,
                    Cat::None, "F5"));
    a.push_back(Def(A::EingabeRechnungLoeschen, "actEingabeRechnungLoeschen", "Rechnung löschen", P::InputBasketMenu,
                    Cat::None, "Ctrl+Del"));
    a.push_back(Def(A::RechnungInEingangskorb, "actRechnungInEingangskorb", "Rechnung in Eingangskorb ablegen",
                    P::InputBasketMenu));
    a.push_back(Def(A::RechnungInArchiv, "actRechnungInArchiv", "Rechnung in Archiv verschieben", P::InputBasketMenu));
    a.push_back(Def(A::RechnungKopieren, "actRechnungKopieren", "Rechnung kopieren", P::InputBasketMenu, Cat::None,
                    "Ctrl+K"));
    a.push_back(Def(A::RechnungUmbenennen, "actRechnungUmbenennen", "Rechnung umbenennen", P::InputBasketMenu));
    a.push_back(Def(A::EingabeAktualisieren, "actEingabeAktualisieren", "Ansicht aktualisieren", P::InputBasketMenu,
                    Cat::None, "F8"));
    // inbox and invoice-archive grid
    const auto rechnung = [](MainAction id, std::string name, std::string caption, std::string key = "") {
        return Def(id, std::move(name), std::move(caption), P::SharedContextMenu, Cat::Rechnung, std::move(key));
    };
    a.push_back(rechnung(A::RechnungAnsehen, "actRechnungAnsehen", "Rechnung ansehen"));
    a.push_back(rechnung(A::RechnungKorrigieren, "actRechnungKorrigieren", "Rechnung korrigieren"));
    a.push_back(rechnung(A::RechnungLoeschen, "actRechnungLoeschen", "Rechnung löschen"));
    a.push_back(rechnung(A::FehlerMarkierungEntfernen, "actFehlerMarkierungEntfernen", "Fehler-Markierung entfernen"));
    a.push_back(rechnung(A::GeheZuAuftrag, "actGeheZuAuftrag", "Gehe zu Auftrag"));
    a.push_back(rechnung(A::NeuLaden, "actNeuLaden", "Neu laden", "F5"));
    a.push_back(OnTab(Def(A::ArchivDrucken, "actArchivDrucken", "Drucken", P::Button), MainTab::ArchivRechnung));
    // outbox and order-archive grid
    const auto auftrag = [](MainAction id, std::string name, std::string caption, std::string submenu = "") {
        return InMenu(Def(id, std::move(name), std::move(caption), P::SharedContextMenu, Cat::Auftrag),
                      std::move(submenu));
    };
    a.push_back(auftrag(A::AuftragLoeschen, "actAuftragLoeschen", "Löschen"));
    a.push_back(auftrag(A::EmailVersandt, "actEmailVersandt", "Email ist versandt", "Email"));
    a.push_back(auftrag(A::EmailNichtVersandt, "actEmailNichtVersandt", "Email nicht versandt", "Email"));
    a.push_back(auftrag(A::AlleEmailsVersandt, "actAlleEmailsVersandt", "Alle Emails sind versandt", "Email"));
    a.push_back(auftrag(A::EmailErzeugen, "actEmailErzeugen", "Email erzeugen", "Email"));
    a.push_back(auftrag(A::AlleEmailsVersenden, "actAlleEmailsVersenden", "Alle Emails versenden", "Email"));
    a.push_back(auftrag(A::BegleitzettelAnsehen, "actBegleitzettelAnsehen", "Begleitzettel ansehen", "Begleitzettel"));
    a.push_back(auftrag(A::BegleitzettelDrucken, "actBegleitzettelDrucken", SlipPrintCaption(""), "Begleitzettel"));
    a.push_back(auftrag(A::AlleBegleitzettelDrucken, "actAlleBegleitzettelDrucken", "Alle Begleitzettel drucken",
                        "Begleitzettel"));
    a.push_back(auftrag(A::AlleBegleitzettelDruckenVorschau, "actAlleBegleitzettelDruckenVorschau",
                        "Alle Begleitzettel drucken (Vorschau)", "Begleitzettel"));
    a.push_back(auftrag(A::AuftragsdateiAnzeigen, "actAuftragsdateiAnzeigen", "Auftragsdatei anzeigen", "Daten ... "));
    a.push_back(auftrag(A::NutzdatenAnzeigen, "actNutzdatenAnzeigen", "Nutzdaten anzeigen", "Daten ... "));
    a.push_back(auftrag(A::GeheZuRechnung, "actGeheZuRechnung", "Gehe zu Rechnung"));
    // "Kostenträger-Daten"
    a.push_back(Def(A::KTDatenAnzeigen, "actKTDatenAnzeigen", "Daten anzeigen", P::SharedContextMenu,
                    Cat::Kostentraeger, "F12"));
    a.push_back(OnTab(Def(A::KTSpeichern, "actKTSpeichern", "Speichern", P::Button), MainTab::KostentraegerDaten));
    a.push_back(OnTab(Def(A::KTAdd, "actKTAdd", "IK anlegen", P::Button, Cat::None, "Ctrl+Ins"),
                      MainTab::KostentraegerDaten));
    a.push_back(OnTab(Def(A::KTDelete, "actKTDelete", "IK löschen", P::Button, Cat::None, "Ctrl+Del"),
                      MainTab::KostentraegerDaten));
    a.push_back(OnTab(Def(A::KTImport, "actKTImport", "KOTR einlesen ...", P::Button, Cat::None, "",
                          "Die Kostenträgerdateien der Krankenkassen (KOTR) ersetzen die Kostenträger-Daten",
                          [](C& c) { c.actKTDateienImportierenExecute(); }),
                      MainTab::KostentraegerDaten));
    a.push_back(Def(A::KTZeigeKostentraeger, "actKTZeigeKostentraeger", "IK-Kostenträger anzeigen", P::ReportMenu));
    a.push_back(Def(A::KTZeigeVersichertenkarte, "actKTZeigeVersichertenkarte", "IK-Versichertenkarte anzeigen",
                    P::ReportMenu));
    a.push_back(Def(A::KTZeigeAnschrift, "actKTZeigeAnschrift", "Anschrift anzeigen", P::ReportMenu));
    a.push_back(Def(A::KTZeigeVersandkanal, "actKTZeigeVersandkanal", "Versandkanal (E-Mailadresse) anzeigen",
                    P::ReportMenu));
    // "Einstellungen": maintenance
    a.push_back(OnTab(Def(A::DatenBereinigen, "actDatenBereinigen", "Daten bereinigen", P::Button, Cat::None, "",
                          C::MaintenanceHint(M::DatenBereinigen), [](C& c) { c.actDatenBereinigenExecute(); }),
                      MainTab::Einstellungen));
    a.push_back(OnTab(Def(A::ArchivBereinigen, "actArchivBereinigen", "Archiv bereinigen", P::Button, Cat::None, "",
                          C::MaintenanceHint(M::ArchivBereinigen), [](C& c) { c.actArchivBereinigenExecute(); }),
                      MainTab::Einstellungen));
    a.push_back(OnTab(Def(A::DatenImport, "actDatenImport", "Daten Import", P::Button, Cat::None, "",
                          C::MaintenanceHint(M::DatenImport), [](C& c) { c.actDatenImportExecute(); }),
                      MainTab::Einstellungen));
    a.push_back(OnTab(Def(A::DBFunktion, "actDBFunktion", "DB Funktion", P::Button, Cat::None, "", "",
                          [](C& c) { c.actDBFunktionExecute(); }),
                      MainTab::Einstellungen));
    // DAKOTA: group " 2 " of "&Verarbeitung", the others on "Einstellungen"
    a.push_back(Dakota(A::DakotaExport, "actDakotaExport", 0, MainTab::Verarbeitung, &C::actDakotaExportExecute));
    a.push_back(Dakota(A::DakotaVerarbeitung, "actDakotaVerarbeitung", 1, MainTab::Verarbeitung,
                       &C::actDakotaVerarbeitungExecute));
    a.push_back(Dakota(A::DakotaProtokoll, "actDakotaProtokoll", 2, MainTab::Verarbeitung,
                       &C::actDakotaProtokollExecute));
    a.push_back(Dakota(A::DakotaReadResult, "actDakotaReadResult", 3, MainTab::Verarbeitung,
                       &C::actDakotaReadResultExecute));
    a.push_back(Dakota(A::DakotaStart, "actDakotaStart", 4, MainTab::Einstellungen, &C::actDakotaStartExecute));
    a.push_back(Dakota(A::DakotaProtKuerzen, "actDakotaProtKuerzen", 5, MainTab::Einstellungen,
                       &C::actDakotaProtKuerzenExecute));
    a.push_back(Dakota(A::DakotaReadAnnahme, "actDakotaReadAnnahme", 6, MainTab::Einstellungen,
                       &C::actDakotaReadAnnahmeExecute));
    // "Verwaltung"
    a.push_back(OnTab(Def(A::VerwaltungTarife, "actVerwaltungTarife", "Tarife", P::Button), MainTab::Verwaltung));
    a.push_back(OnTab(Def(A::VerwaltungAdressen, "actVerwaltungAdressen", "Adressen", P::Button), MainTab::Verwaltung));
    a.push_back(
        OnTab(Def(A::VerwaltungVersicherte, "actVerwaltungVersicherte", "Versicherte", P::Button), MainTab::Verwaltung));
    return a;
}

} // namespace

const std::vector<TMainActionDef>& MainActions() {
    static const std::vector<TMainActionDef> actions = Build();
    return actions;
}

const TMainActionDef& MainActionDef(MainAction id) {
    for (const TMainActionDef& d : MainActions())
        if (d.Id == id) return d;
    throw std::logic_error("unknown main action");
}

const TMainActionDef* FindMainAction(const std::string& name) {
    for (const TMainActionDef& d : MainActions())
        if (d.Name == name) return &d;
    return nullptr;
}

bool MainActionEnabled(const TMainController& controller, MainAction id) {
    if (id == MainAction::ProzessStart) return controller.StartEnabled();
    if (id == MainAction::KTSpeichern)
        return controller.ActionEnabled(ActionCategory::None) && controller.KTMaintenance().SaveEnabled();
    return controller.ActionEnabled(MainActionDef(id).Category);
}

std::string PrinterSetupCaption(const std::string& printer) { return "Druckereinstellung (aktiv: " + printer + ")"; }

std::string SlipPrintCaption(const std::string& printer) { return "Begleitzettel drucken.. auf: " + printer; }

std::string HelpText() {
    return "Abrechnung im Datenträgeraustauschverfahren (nach §302 SGB V)\r\r"
           "Funktionsumfang: \r"
           "* Eingabe und Prüfung der erforderlichen Daten\r"
           "* Aufbereitung der Daten (inkl. Verschlüsselung)\r"
           "* Versand der Daten an die Annahmestellen\r ";
}

// ------------------------------------------------------------ context menu

TMenuEntry SharedContextMenu() {
    TMenuEntry menu;
    menu.Caption = "Kontextmenü";
    std::optional<ActionCategory> lastCategory;
    for (const TMainActionDef& d : MainActions()) {
        if (d.Place != ActionPlace::SharedContextMenu) continue;
        if (lastCategory && *lastCategory != d.Category) menu.Entries.push_back(TMenuEntry{});
        lastCategory = d.Category;
        TMenuEntry entry;
        entry.Action = d.Id;
        if (d.Submenu.empty()) {
            menu.Entries.push_back(std::move(entry));
            continue;
        }
        TMenuEntry* sub = nullptr;
        for (TMenuEntry& e : menu.Entries)
            if (e.IsSubmenu() && e.Caption == d.Submenu) sub = &e;
        if (!sub) {
            TMenuEntry s;
            s.Caption = d.Submenu;
            menu.Entries.push_back(std::move(s));
            sub = &menu.Entries.back();
        }
        sub->Entries.push_back(std::move(entry));
    }
    return menu;
}

std::optional<ActionCategory> ContextCategory(ContextControl control, bool outboxHasSelection) {
    switch (control) {
    case ContextControl::OrderGrid: return ActionCategory::Auftrag;
    case ContextControl::InvoiceGrid: return ActionCategory::Rechnung;
    case ContextControl::Outbox: return outboxHasSelection ? ActionCategory::Auftrag : ActionCategory::None;
    case ContextControl::Inbox: return ActionCategory::Rechnung;
    case ContextControl::CostBearerGrid: return ActionCategory::Kostentraeger;
    case ContextControl::Other: return std::nullopt;
    }
    return std::nullopt;
}

ContextControl ControlOfTab(MainTab tab) {
    switch (tab) {
    case MainTab::Eingangskorb: return ContextControl::Inbox;
    case MainTab::Verarbeitung:
    case MainTab::Ausgangskorb: return ContextControl::Outbox;
    case MainTab::ArchivRechnung: return ContextControl::InvoiceGrid;
    case MainTab::ArchivAuftraege: return ContextControl::OrderGrid;
    case MainTab::KostentraegerDaten: return ContextControl::CostBearerGrid;
    default: return ContextControl::Other;
    }
}

std::optional<MainAction> ItemActivatedAction(BasketKind basket) {
    switch (basket) {
    case BasketKind::InputBasket: return MainAction::RechnungBearbeiten;
    case BasketKind::Inbox: return MainAction::RechnungAnsehen;
    case BasketKind::Outbox: return std::nullopt;
    }
    return std::nullopt;
}

namespace {

// Sets the visibility below entry; true when something in it shows.
bool Filter(TMenuEntry& entry, ActionCategory category) {
    if (entry.Action) {
        entry.Visible = MainActionDef(*entry.Action).Category == category && category != ActionCategory::None;
        return entry.Visible;
    }
    bool any = false;
    for (TMenuEntry& e : entry.Entries) any = Filter(e, category) || any;
    entry.Visible = any;
    return any;
}

} // namespace

void FilterContextMenu(TMenuEntry& menu, ContextControl control, bool outboxHasSelection) {
    const std::optional<ActionCategory> category = ContextCategory(control, outboxHasSelection);
    if (!category) return;
    for (TMenuEntry& e : menu.Entries) Filter(e, *category);
}

} // namespace brenvo
