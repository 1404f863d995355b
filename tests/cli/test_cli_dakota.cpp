// The DAKOTA commands of brenvo-cli on copies of the demo installation, with
// the DAKOTA stand-in as "dakota30.exe" and its protocol in an SQLite ODBC
// data source (the program and the stand-in inherit the ODBC set-up).

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "dakota/DakotaTestKit.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"
#include "tests/cli/CliRunner.h"

using namespace brenvo;
using namespace clitest;
using dakota_test::OdbcSetup;
namespace fs = std::filesystem;

namespace {

class CliDakotaTest : public DemoCliTest {
protected:
    void SetUp() override {
        DemoCliTest::SetUp();
        // Only the demo's good invoices, so that "verarbeiten" succeeds.
        fs::remove(Data("import/2024-1046.xml"));
        fs::remove(Data("import/2024-1105.xml"));
        OdbcSetup::Get().ResetTable();
        s.Configure(std::string("PROTOCOL=") + OdbcSetup::Dsn + "\n");
    }
    void ActivateDakota() {
        SetSettings({{"DAKOTA_AKTIV", "T"},
                     {"DAKOTA_INSTDIR", s.inst},
                     {"DAKOTA_DATADIR", s.data},
                     {"DAKOTA_EXPDIR", s.exp},
                     {"DAKOTA_PROTFILE", OdbcSetup::Dsn},
                     {"DAKOTA_ANN_FILE", Data("annahme.ini")}});
    }

    // A_TRANSFER → sent, from the order archive file.
    std::map<std::string, bool> Orders() const {
        Table t;
        t.LoadFromFile(Data("Stammdaten/Auftraege.xml"));
        std::map<std::string, bool> out;
        for (t.First(); !t.Eof(); t.Next()) out[t.AsString("A_TRANSFER")] = !t.IsNull("A_VERSANDT");
        return out;
    }

    dakota_test::StandIn s;
};

} // namespace

TEST_F(CliDakotaTest, UsageAndHelpNameTheDakotaCommands) {
    CliResult help = Cli({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* c : {"dakota-export", "dakota-verarbeiten", "dakota-ergebnis", "dakota-status", "annahmestellen"})
        EXPECT_TRUE(Contains(help.out, c)) << c;
    CliResult extra = Cli({"dakota-status", "jetzt"});
    EXPECT_EQ(extra.code, 2);
    EXPECT_TRUE(Contains(extra.err, "dakota-status erwartet keine weiteren Angaben: jetzt")) << extra.err;
    CliResult wrong = Cli({"dakota"});
    EXPECT_EQ(wrong.code, 2);
    EXPECT_TRUE(Contains(wrong.err, "Unbekannter Befehl: dakota"));
}

TEST_F(CliDakotaTest, StatusPrintsTheCheckAndTheStatusLine) {
    CliResult off = Cli({"dakota-status"});
    EXPECT_EQ(off.code, 1);
    EXPECT_EQ(off.out, "Dakota nicht aktiviert.\nDakota nicht aktiviert\n");

    ActivateDakota();
    s.AddOrder("10991001", "TESTA001");
    CliResult ready = Cli({"dakota-status"});
    EXPECT_EQ(ready.code, 0) << ready.err;
    EXPECT_EQ(ready.out, "Dakota installiert und bereit\nDakota [Eingang: 1] [Ausgang: 0] \n");
    EXPECT_EQ(ListFiles(Data("Logs"), "*.log").size(), 2u);   // start-up and shut-down as always

    s.Configure("STATUS=10\n");
    CliResult faulty = Cli({"dakota-status"});
    EXPECT_EQ(faulty.code, 1);
    EXPECT_EQ(faulty.out,
              "Dakota installiert aber nicht bereit (Dakota: 10 - Konfiguration nicht vollständig)\n"
              "Dakota meldet Fehler.\n");

    fs::remove(s.program);
    CliResult missing = Cli({"dakota-status"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.out, "Dakota nicht installiert.\nDakota meldet Fehler.\n");
}

TEST_F(CliDakotaTest, CommandsRefuseWhileDakotaIsNotActivated) {
    CliResult r = Cli({"dakota-export"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "nicht aktiviert (DAKOTA_AKTIV)")) << r.err;
    EXPECT_TRUE(Contains(r.out, "Init Programm wird beendet.")) << r.out;
    EXPECT_TRUE(s.Log().empty());
}

TEST_F(CliDakotaTest, ExportProcessAndReadMarkTheTransmittedOrdersSent) {
    ActivateDakota();
    CliResult run = Cli({"verarbeiten"});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    std::map<std::string, bool> orders = Orders();
    ASSERT_EQ(orders.size(), 2u);
    const std::string first = orders.begin()->first, second = std::next(orders.begin())->first;

    CliResult exported = Cli({"dakota-export"});
    EXPECT_EQ(exported.code, 0) << exported.err;
    EXPECT_TRUE(Contains(exported.out, "\nProzess: Export zu Dakota beendet. 2 Aufträge exportiert.\n"));
    EXPECT_EQ(ListFilesRecursive(s.data, "*.AUF").size(), 2u);

    // DAKOTA reports the first transfer as failed and ends with code 4.
    s.Configure(std::string("PROTOCOL=") + OdbcSetup::Dsn + "\nFAIL=" + first + "\nPROCESS=4\n");
    CliResult failed = Cli({"dakota-verarbeiten"});
    EXPECT_EQ(failed.code, 1) << failed.out << failed.err;
    EXPECT_TRUE(Contains(failed.out, "\nProzess: Dakota: beendet. Ergebnis: Fehler bei Verarbeitung. Siehe Protokoll (4)\n"))
        << failed.out;
    EXPECT_TRUE(Contains(failed.out, "\nProzess: Lesen Daktota-Protokoll beendet. 1 Aufträge\n"));
    EXPECT_TRUE(Contains(failed.err, "Verarbeitung: Dakota läuft..."));
    orders = Orders();
    EXPECT_FALSE(orders[first]);
    EXPECT_TRUE(orders[second]);

    // Processed again, DAKOTA transmits it; the result marks it sent.
    s.Configure(std::string("PROTOCOL=") + OdbcSetup::Dsn + "\n");
    CliResult ok = Cli({"dakota-verarbeiten"});
    EXPECT_EQ(ok.code, 0) << ok.out << ok.err;
    EXPECT_TRUE(Contains(ok.out, "\nProzess: Export zu Dakota beendet. 1 Aufträge exportiert.\n")) << ok.out;
    EXPECT_TRUE(Contains(ok.out, "\nProzess: Dakota: beendet. Ergebnis: Daten verarbeitet.\n"));
    EXPECT_TRUE(Orders()[first]);
    EXPECT_TRUE(ListFilesRecursive(s.data, "*.AUF").empty());

    CliResult again = Cli({"dakota-ergebnis"});
    EXPECT_EQ(again.code, 0);
    EXPECT_TRUE(Contains(again.out, "\nProzess: Lesen Daktota-Protokoll beendet. 0 Aufträge\n"));

    SetSettings({{"DAKOTA_PROTFILE", "KeinSolcherDatenname"}});
    CliResult noProtocol = Cli({"dakota-ergebnis"});
    EXPECT_EQ(noProtocol.code, 1);
    EXPECT_TRUE(Contains(noProtocol.err, "Fehler: Kein Zugriff auf Dakota-Protokoll. ")) << noProtocol.err;
}

TEST_F(CliDakotaTest, AcceptanceOfficesAreReadOrTheMissingFileIsReported) {
    ActivateDakota();
    CliResult missing = Cli({"annahmestellen"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(Contains(missing.err, "Datei " + Data("annahme.ini") + " existiert nicht.")) << missing.err;

    dakota_test::WriteText(Data("annahme.ini"), "[Neu]\nIK=109930011\nEmail=dta@neu.example\nName=Neue Stelle\n");
    CliResult ok = Cli({"annahmestellen"});
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_TRUE(Contains(ok.out, "\nfehlt, wird angelegt  109930011 Neue Stelle:dta@neu.example\n")) << ok.out;
    Table t;
    t.LoadFromFile(Data("Stammdaten/KT_TRANSFER.XML"));
    ASSERT_TRUE(t.Locate("K_IK", {Value(std::string("109930011"))}));
    EXPECT_EQ(t.AsString("DAKOTA"), "3");
}
