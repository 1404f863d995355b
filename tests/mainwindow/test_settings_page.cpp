// The "Einstellungen" tab's logic on copies of the demo installation: what
// the user types reaches brenvo.XML and comes back, the rules between the
// fields, and the entries that are refused before anything is saved.

#include "ControllerFixture.h"

#include "lib/base/Error.h"
#include "mainwindow/SettingsPage.h"

using namespace brenvo;
using ctltest::ControllerTest;

namespace {

class SettingsPageTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        c = Started();
        page.Load(c->SettingsForm());
    }
    std::string SettingsFile() const { return ReadFileBytes(Stamm("brenvo.XML")); }

    std::unique_ptr<TMainController> c;
    TSettingsPage page;
};

} // namespace

TEST_F(SettingsPageTest, EveryFieldOfTheTabIsASettingAndSavingUnchangedKeepsEveryValue) {
    std::vector<std::pair<std::string, std::string>> before;
    for (const TSettingGroup& g : TSettingsPage::Groups())
        for (const TSettingField& f : g.Fields) before.emplace_back(f.Key, Setting(f.Key));
    EXPECT_EQ(before.size(), 47u);
    EXPECT_FALSE(page.Modified());
    page.Save(*c);
    // Keys the demo's file lacks are written with their defaults.
    for (const auto& [key, value] : before)
        EXPECT_EQ(Setting(key), value != "<fehlt>" ? value : key == "EMAIL_TLS" ? "STARTTLS" : key == "KRYPT_AKTIV" ? "F" : "")
            << key;
    // The demo's values as the tab shows them.
    EXPECT_EQ(page.Value("SYST_VERF"), "Test");
    EXPECT_EQ(page.Value("SYST_ART"), "Einzelleistungserbringer");
    EXPECT_EQ(page.Value("VERSION_DATUM"), "01.10.2014");
    EXPECT_EQ(page.Value("EMAIL_TLS"), "STARTTLS");
    EXPECT_EQ(page.Choices("EINR_LAND").size(), 16u);
    EXPECT_EQ(page.ChoiceIndex("EINR_LAND"), 4);   // "05 Nordrhein-Westfalen"
}

TEST_F(SettingsPageTest, ChangedEntriesAreSavedAndReadBackAtTheNextStart) {
    page.SetValue("EINR_NAME1", "Taxi Rheinufer KG");
    page.Choose("EINR_LAND", 8);   // "09 Bayern"
    page.Choose("SYST_VERF", 2);
    page.Choose("VERSION", 3);
    page.SetValue("VERSION_DATUM", "1.4.2025");
    page.SetFlag("EMAIL_SMTP", true);
    page.SetValue("EMAIL_SERVER", " mail.example.org ");
    page.SetValue("EMAIL_PORT", "587");
    page.SetValue("BRIEFKOPF", "Zeile 1\nZeile 2");
    page.SetFlag("SIK_AUTO", true);
    EXPECT_TRUE(page.Modified());
    page.Save(*c);
    EXPECT_FALSE(page.Modified());   // the tab shows what was read back

    c->Shutdown();
    c = Started();
    const TSettingsForm& f = c->SettingsForm();
    EXPECT_EQ(c->Einrichtung().EINR_NAME1, "Taxi Rheinufer KG");
    EXPECT_EQ(c->Einrichtung().EINR_LAND, "09");
    EXPECT_EQ(f.FederalStateIndex, 8);
    EXPECT_EQ(c->System().SYST_VERF, 2);
    EXPECT_EQ(c->System().VERSION, "09");
    EXPECT_EQ(c->System().VERSION_DATUM, EncodeDate(2025, 4, 1));
    EXPECT_TRUE(c->System().EMAIL_SMTP);
    EXPECT_EQ(c->System().EMAIL_SERVER, "mail.example.org");
    EXPECT_EQ(c->System().EMAIL_PORT, "587");
    EXPECT_EQ(c->Einrichtung().BRIEFKOPF, "Zeile 1\nZeile 2");
    EXPECT_TRUE(c->Values().SIK_AUTO);
    EXPECT_EQ(Setting("VERSION_DATUM"), "01.04.2025");
}

TEST_F(SettingsPageTest, WrongEntriesAreRefusedBeforeAnythingIsSaved) {
    ForceDirectories(Path("anderer_import"));
    struct Case {
        std::vector<std::pair<std::string, std::string>> entries;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{{"VERSION_DATUM", "31.02.2014"}}, "Versionsdatum: \"31.02.2014\" ist kein Datum (TT.MM.JJJJ)."},
        {{{"VERSION_DATUM", ""}}, "Versionsdatum: \"\" ist kein Datum (TT.MM.JJJJ)."},
        {{{"EMAIL_PORT", "smtp"}}, "Port: \"smtp\" ist keine Portnummer (eine Zahl von 1 bis 65535)."},
        {{{"EMAIL_PORT", "65536"}}, "Port: \"65536\" ist keine Portnummer (eine Zahl von 1 bis 65535)."},
        {{{"EMAIL_PORT", "+25"}}, "Port: \"+25\" ist keine Portnummer (eine Zahl von 1 bis 65535)."},
        {{{"EMAIL_SMTP", "T"}, {"EMAIL_SERVER", "  "}}, "Server: Pflichtfeld, wenn Email (Smtp) gewählt ist."},
        {{{"EMAIL_SMTP", "T"}, {"EMAIL_SERVER", "mail"}, {"EMAIL_PORT", ""}},
         "Port: Pflichtfeld, wenn Email (Smtp) gewählt ist (Standardwert ist 25)."},
        {{{"EINR_IK", ""}}, "IK: zwingend anzugeben, wenn Einzelleistungserbringer."},
        {{{"EINR_IK", "51051234X"}}, "IK: \"51051234X\" ist keine neunstellige Zahl."},
        {{{"EINR_BEZIRK", "3"}}, "Bezirk: \"3\" ist kein zweistelliger Schlüssel."},
        {{{"BRIEFFUSS", std::string(201, 'x')}}, "Brieffuss: höchstens 200 Zeichen (eingegeben sind 201)."},
        {{{"SYST_DIRIMP", "gibt_es_nicht"}},
         "Abweichendes Importverzeichnis: das Verzeichnis \"gibt_es_nicht\" gibt es nicht."},
        // refused by the controller's own check: the form is given back as it was
        {{{"KRYPT_AKTIV", "T"}, {"DAKOTA_AKTIV", "T"}},
         "Die eigene Verschlüsselung (KRYPT_AKTIV) kann nicht zusammen mit Dakota (DAKOTA_AKTIV) eingeschaltet "
         "werden: Dakota verschlüsselt selbst."},
    };
    const std::string file = SettingsFile();
    for (const Case& k : cases) {
        TSettingsPage p;
        p.Load(c->SettingsForm());
        p.SetValue("EINR_NAME1", "soll nicht gespeichert werden");
        p.SetValue("SYST_DIRIMP", "anderer_import");
        for (const auto& [key, value] : k.entries) p.SetValue(key, value);
        try {
            p.Save(*c);
            ADD_FAILURE() << "not refused: " << k.message;
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), k.message);
        }
        EXPECT_EQ(SettingsFile(), file) << k.message;
        EXPECT_EQ(c->SettingsForm().EINR_NAME1, "Taxi Rheinufer GmbH") << k.message;
        EXPECT_EQ(c->SettingsForm().SYST_DIRIMP, "") << k.message;
        EXPECT_FALSE(c->SettingsForm().KRYPT_AKTIV);
        EXPECT_EQ(c->ImportDir(), Path("import"));
    }
}

TEST_F(SettingsPageTest, RulesBetweenTheFields) {
    // The three ways of sending exclude each other; all three may be off.
    EXPECT_TRUE(page.SetFlag("EMAIL_MAPI", true) == false);
    EXPECT_TRUE(page.SetFlag("EMAIL_SMTP", true));
    EXPECT_FALSE(page.Flag("EMAIL_MAPI"));
    page.SetFlag("DAKOTA_EMAIL", true);
    EXPECT_FALSE(page.Flag("EMAIL_SMTP"));
    EXPECT_FALSE(page.SetFlag("DAKOTA_EMAIL", false));
    EXPECT_FALSE(page.Flag("EMAIL_MAPI") || page.Flag("EMAIL_SMTP") || page.Flag("DAKOTA_EMAIL"));
    EXPECT_FALSE(page.SetFlag("OPT_NOEMAILDIALOG", true));
    EXPECT_TRUE(page.Flag("OPT_NOEMAILDIALOG"));

    // The state list follows the code, and a chosen entry gives its code.
    page.SetValue("EINR_LAND", "16");
    EXPECT_EQ(page.ChoiceIndex("EINR_LAND"), 15);
    page.SetValue("EINR_LAND", "99");
    EXPECT_EQ(page.ChoiceIndex("EINR_LAND"), -1);
    page.Choose("EINR_LAND", 0);
    EXPECT_EQ(page.Value("EINR_LAND"), "01");

    // A billing centre has no "Leistungserbringer": its IK is not asked for.
    page.SetValue("EINR_IK", "");
    EXPECT_NE(page.Check(c->Paths().Root), "");
    page.Choose("SYST_ART", 1);
    EXPECT_FALSE(page.GroupVisible(SettingsGroup::Leistungserbringer));
    EXPECT_EQ(page.Check(c->Paths().Root), "");

    // The transfer number is never typed; a run's new number leaves the typing alone.
    EXPECT_FALSE(page.SetValue("MAXTRANSFER", "7"));
    EXPECT_EQ(page.Value("MAXTRANSFER"), "0");
    page.SetTransferNumber("12");
    EXPECT_EQ(page.Value("MAXTRANSFER"), "12");
    EXPECT_EQ(page.Value("SYST_ART"), "Abrechnungszentrum");

    // Paths chosen below the data directory are kept relative to it.
    const std::string root = c->Paths().Root;
    EXPECT_EQ(TSettingsPage::ChosenPath(root + "/Sicherung/", root), "Sicherung");
    EXPECT_EQ(TSettingsPage::ChosenPath("/mnt/usb/Sicherung", root), "/mnt/usb/Sicherung");
    EXPECT_EQ(TSettingsPage::ChosenPath(root + "x/Sicherung", root), root + "x/Sicherung");
}
