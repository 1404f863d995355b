// The main window's commands as data (captions, keys, categories, the
// enabling rule, the shared context menu) and the installation a new user
// starts with, all without a window.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "ControllerFixture.h"
#include "mainwindow/Installation.h"
#include "mainwindow/MainActions.h"

using namespace ctltest;

namespace {

// The captions of the visible action entries, submenus included.
std::vector<std::string> VisibleActions(const TMenuEntry& menu) {
    std::vector<std::string> out;
    for (const TMenuEntry& e : menu.Entries) {
        if (!e.Visible) continue;
        if (e.Action) out.push_back(MainActionDef(*e.Action).Caption);
        for (const std::string& s : VisibleActions(e)) out.push_back(s);
    }
    return out;
}

bool AnySeparatorVisible(const TMenuEntry& menu) {
    for (const TMenuEntry& e : menu.Entries)
        if ((e.IsSeparator() && e.Visible) || AnySeparatorVisible(e)) return true;
    return false;
}

} // namespace

TEST(MainActions, NamesAreUniqueAndKeysDoNotClashWhereTheyAreHeard) {
    std::set<std::string> names;
    // A key may serve two actions only when they are heard by different
    // controls (F5 edits in the input basket and reloads the inbox).
    std::map<std::pair<std::string, std::string>, std::string> keys;
    for (const TMainActionDef& d : MainActions()) {
        EXPECT_TRUE(names.insert(d.Name).second) << d.Name;
        EXPECT_EQ(d.Name.rfind("act", 0), 0u) << d.Name;
        EXPECT_EQ(FindMainAction(d.Name), &d);
        if (d.Shortcut.empty()) continue;
        const std::string heardBy = d.Scope == ShortcutScope::Window ? "window"
                                    : d.Place == ActionPlace::Button  ? "tab" + std::to_string(int(d.Tab))
                                                                      : "menu" + std::to_string(int(d.Place));
        auto [it, fresh] = keys.emplace(std::make_pair(heardBy, d.Shortcut), d.Name);
        EXPECT_TRUE(fresh) << d.Shortcut << ": " << it->second << " und " << d.Name;
    }
    // Every context-menu action belongs to a category the menu can show.
    for (const TMainActionDef& d : MainActions()) {
        if (d.Place != ActionPlace::SharedContextMenu) continue;
        EXPECT_TRUE(d.Category == ActionCategory::Rechnung || d.Category == ActionCategory::Auftrag ||
                    d.Category == ActionCategory::Kostentraeger)
            << d.Name;
    }
    EXPECT_EQ(MainActionDef(MainAction::Hilfe).Shortcut, "F1");
    EXPECT_EQ(MainActionDef(MainAction::Hilfe).Scope, ShortcutScope::Window);
}

TEST(MainActions, ContextMenuShowsOnlyTheCategoryOfItsControl) {
    TMenuEntry menu = SharedContextMenu();
    ASSERT_FALSE(VisibleActions(menu).empty());

    FilterContextMenu(menu, ContextControl::Outbox, false);
    EXPECT_TRUE(VisibleActions(menu).empty());   // no selection: no order action
    EXPECT_FALSE(AnySeparatorVisible(menu));

    FilterContextMenu(menu, ContextControl::CostBearerGrid, false);
    EXPECT_EQ(VisibleActions(menu), std::vector<std::string>{"Daten anzeigen"});
    EXPECT_FALSE(AnySeparatorVisible(menu));

    FilterContextMenu(menu, ContextControl::Outbox, true);
    const auto orders = VisibleActions(menu);
    EXPECT_EQ(orders.size(), 13u);
    EXPECT_EQ(orders.front(), "Löschen");
    EXPECT_EQ(orders.back(), "Gehe zu Rechnung");
    for (const TMenuEntry& e : menu.Entries) {
        if (e.IsSubmenu()) {
            EXPECT_TRUE(e.Visible) << e.Caption;   // "Email", "Begleitzettel", "Daten ... "
        }
    }
    EXPECT_FALSE(AnySeparatorVisible(menu));

    // Another control leaves the menu as it was.
    FilterContextMenu(menu, ContextControl::Other, false);
    EXPECT_EQ(VisibleActions(menu), orders);

    FilterContextMenu(menu, ContextControl::Inbox, false);
    const auto invoices = VisibleActions(menu);
    EXPECT_EQ(invoices, (std::vector<std::string>{"Rechnung ansehen", "Rechnung korrigieren", "Rechnung löschen",
                                                  "Fehler-Markierung entfernen", "Gehe zu Auftrag", "Neu laden"}));
    for (const TMenuEntry& e : menu.Entries) {
        if (e.IsSubmenu()) {
            EXPECT_FALSE(e.Visible) << e.Caption;
        }
    }
    FilterContextMenu(menu, ContextControl::InvoiceGrid, false);
    EXPECT_EQ(VisibleActions(menu), invoices);
}

TEST_F(ControllerTest, ActionsFollowBusyStateAndDakotaSwitch) {
    auto c = Started();
    EXPECT_TRUE(MainActionEnabled(*c, MainAction::ProzessStart));
    EXPECT_TRUE(MainActionEnabled(*c, MainAction::Hilfe));
    EXPECT_FALSE(MainActionEnabled(*c, MainAction::DakotaExport));   // DAKOTA_AKTIV is off
    c->SetBusy(true);
    for (const TMainActionDef& d : MainActions()) EXPECT_FALSE(MainActionEnabled(*c, d.Id)) << d.Name;
    c->SetBusy(false);

    c->SettingsForm().DAKOTA_AKTIV = true;
    c->actEinstellungenSpeichernExecute();
    EXPECT_TRUE(MainActionEnabled(*c, MainAction::DakotaExport));
    EXPECT_TRUE(MainActionEnabled(*c, MainAction::DakotaStart));
    EXPECT_EQ(Setting("DAKOTA_AKTIV"), "T");
}

TEST(MainActions, HelpText) {
    EXPECT_EQ(HelpText(),
              "Abrechnung im Datenträgeraustauschverfahren (nach §302 SGB V)\r\rFunktionsumfang: \r"
              "* Eingabe und Prüfung der erforderlichen Daten\r* Aufbereitung der Daten (inkl. Verschlüsselung)\r"
              "* Versand der Daten an die Annahmestellen\r ");
    EXPECT_EQ(PrinterSetupCaption("HP LaserJet"), "Druckereinstellung (aktiv: HP LaserJet)");
    EXPECT_EQ(SlipPrintCaption("HP LaserJet"), "Begleitzettel drucken.. auf: HP LaserJet");
}

// A new user's first start: an empty installation that starts up cleanly
// and asks for the settings.
TEST(Installation, NewInstallationStartsWithEmptyTablesAndDefaultSettings) {
    TempDir home;
    const std::string root = home.file("daten/brenvo");
    ASSERT_FALSE(IsInstallation(root));
    std::filesystem::create_directories(root + "/Stammdaten.neu");   // left by an interrupted first start
    CreateInstallation(root);
    ASSERT_TRUE(IsInstallation(root));
    EXPECT_FALSE(std::filesystem::exists(root + "/Stammdaten.neu"));

    RecordingView view;
    TMainController c(view, root);
    ASSERT_TRUE(c.Startup()) << Join(view.log, "\n");
    EXPECT_TRUE(view.Logged("Startup beendet."));
    EXPECT_EQ(c.Inbox().Count(), 0u);
    EXPECT_EQ(c.Outbox().Count(), 0u);
    EXPECT_EQ(c.RechStore()->GetTable().RecordCount(), 0);
    EXPECT_EQ(c.SettingsForm().FederalStates.size(), 16u);
    EXPECT_EQ(c.SettingsForm().FederalStates[4].Text, "05 Nordrhein-Westfalen");
    EXPECT_EQ(FormatShortDate(c.System().VERSION_DATUM), "29.09.2014");
    EXPECT_EQ(c.Einrichtung().MAXTRANSFER, 0);

    // The settings a user then saves are there at the next start.
    c.SettingsForm().EINR_IK = "510512345";
    c.SettingsForm().VERSION = "09";
    c.actEinstellungenSpeichernExecute();
    ASSERT_TRUE(c.Shutdown());
    RecordingView again;
    TMainController c2(again, root);
    ASSERT_TRUE(c2.Startup());
    EXPECT_EQ(c2.Einrichtung().EINR_IK, "510512345");
    EXPECT_EQ(c2.System().VERSION, "09");
}

TEST(Installation, AnExistingInstallationIsLeftAsItIs) {
    TempDir dir;
    std::filesystem::copy(DemoDir(), dir.path(), std::filesystem::copy_options::recursive);
    const std::string settings = ReadFileBytes(dir.file("Stammdaten/brenvo.XML"));
    std::filesystem::remove(dir.file("Stammdaten/KT_KEY.XML"));
    CreateInstallation(dir.path());
    EXPECT_EQ(ReadFileBytes(dir.file("Stammdaten/brenvo.XML")), settings);
    EXPECT_FALSE(std::filesystem::exists(dir.file("Stammdaten/KT_KEY.XML")));   // a damaged one is not papered over
    EXPECT_TRUE(DirectoryExists(dir.file("eingabe")));
}
