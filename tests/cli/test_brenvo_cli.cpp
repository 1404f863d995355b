// The built brenvo-cli, run as a user runs it: arguments, exit codes and
// output, on copies of the demo installation in temporary folders.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "tests/billing/Version21Rules.h"
#include "tests/cli/CliRunner.h"
#include "tools/InvoiceGenerator.h"

using namespace brenvo;
using namespace clitest;
namespace fs = std::filesystem;

namespace {

// Every file below dir with its contents.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) files[fs::relative(e.path(), dir).string()] = ReadFileBytes(e.path().string());
    return files;
}

class CliTest : public DemoCliTest {
protected:
    void RemoveFromInbox(const std::string& name) { fs::remove(Data("import/" + name)); }
};

} // namespace

TEST_F(CliTest, HelpInGermanAndUsageErrors) {
    CliResult help = RunCli({"--help"}, elsewhere.path());
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(Contains(help.out, "Aufruf:"));
    EXPECT_TRUE(Contains(help.out, "brenvo-cli [-d DATENVERZEICHNIS] kt-info IK [--datum TT.MM.JJJJ]"));
    EXPECT_TRUE(Contains(help.out, "Rückgabewerte:"));

    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> wrong = {
        {{}, "Kein Befehl angegeben"},
        {{"abrechnen"}, "Unbekannter Befehl: abrechnen"},
        {{"-x", "verarbeiten"}, "Unbekannte Option: -x"},
        {{"verarbeiten", "--schnell"}, "Unbekannte Option: --schnell"},
        {{"-d"}, "Option -d ohne Datenverzeichnis"},
        {{"pruefen"}, "pruefen erwartet mindestens eine Datei"},
        {{"kt-info"}, "kt-info erwartet genau eine IK"},
        {{"kt-info", "103110016", "--land"}, "Option --land ohne Wert"},
        {{"pruefen", "--datum", "01.01.2024", "a.xml"}, "Unbekannte Option: --datum"},
    };
    for (const Case& c : wrong) {
        CliResult r = RunCli(c.args, elsewhere.path());
        EXPECT_EQ(r.code, 2) << c.message;
        EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
        EXPECT_TRUE(Contains(r.err, "Aufruf: brenvo-cli")) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    CliResult missing = RunCli({"-d", data.file("gibt-es-nicht"), "verarbeiten"}, elsewhere.path());
    EXPECT_EQ(missing.code, 2);
    EXPECT_TRUE(Contains(missing.err, "existiert nicht"));
    EXPECT_FALSE(fs::exists(data.file("gibt-es-nicht")));
}

TEST_F(CliTest, VerarbeitenOnTheDemoPrintsTheLogAndReportsTheFailedInvoices) {
    CliResult r = Cli({"verarbeiten"});
    EXPECT_EQ(r.code, 1) << r.err;
    const std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Init Start...");
    EXPECT_EQ(lines.back(), "Init Programm wird beendet.");
    EXPECT_TRUE(Contains(r.out, "\nStartup beendet.\n"));
    EXPECT_TRUE(Contains(r.out, "\nProzess: FEHLER Rechnung 2024-1105.xml Summenprüfung"));
    EXPECT_TRUE(Contains(r.out, "\nProzess: Verarbeite Rechnung 2024-1104.xml\n"));
    // The log file holds the same lines up to the writing of the log.
    const std::vector<std::string> logs = ListFiles(Data("Logs"), "*.log");
    ASSERT_EQ(logs.size(), 1u);
    const std::vector<std::string> logged = SplitLines(ReadFileBytes(Data("Logs/" + logs[0])));
    EXPECT_EQ(logged, std::vector<std::string>(lines.begin(), lines.end() - 1));
    EXPECT_EQ(ListFiles(Data("import"), "*"), (std::vector<std::string>{"FEHLER2024-1046.xml", "FEHLER2024-1105.xml"}));
    EXPECT_EQ(ListFiles(Data("ArchivA"), "*.AUF").size(), 2u);
    // The demo bills in message version 21, keeping its rules.
    for (const std::string& auf : ListFiles(Data("ArchivA"), "*.AUF")) {
        const std::string billing = ReadFileBytes(Data("ArchivA/" + auf.substr(0, auf.size() - 4)));
        EXPECT_TRUE(Contains(billing, "UNH+00001+SLGA:21:0:0'")) << auf;
        EXPECT_EQ(Join(brenvo::test::Version21Problems(billing), "\n"), "") << auf;
    }

    // Nothing new to do, and the error files do not count: success.
    CliResult again = Cli({"verarbeiten"});
    EXPECT_EQ(again.code, 0) << again.out;
    EXPECT_TRUE(Contains(again.out, "Prozess: Ignoriere FEHLER2024-1046.xml"));
}

TEST_F(CliTest, VerarbeitenWithOnlyGoodInvoicesSucceeds) {
    RemoveFromInbox("2024-1046.xml");
    RemoveFromInbox("2024-1105.xml");
    CliResult r = Cli({"verarbeiten"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_TRUE(ListFiles(Data("import"), "*").empty());
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(CliTest, VerarbeitenEndedByAFailureExitsWithOne) {
    for (const auto& f : ListFiles(Data("import"), "*")) fs::remove(Data("import/" + f));
    GeneratedInvoice g;
    g.number = "X-1";
    g.date = EncodeDate(2024, 11, 20);
    g.providerIK = "510512345";
    g.costBearerIK = "103110016";
    WriteGeneratedInvoice(Data("import/a.xml"), g);
    WriteGeneratedInvoice(Data("import/b.xml"), g);   // same number: the job refuses it
    CliResult r = Cli({"verarbeiten"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "TRechStore Rechnung bereits vorhanden")) << r.err;
    EXPECT_TRUE(Contains(r.out, "Prozess: Rechnung zurück in den Eingangskorb: a.xml\n"));
    EXPECT_EQ(ListFiles(Data("import"), "*"), (std::vector<std::string>{"a.xml", "FEHLERb.xml"}));
}

TEST_F(CliTest, VerarbeitenWithoutSettingsIsAFailedStartUp) {
    fs::remove(Data("Stammdaten/brenvo.XML"));
    CliResult r = Cli({"verarbeiten"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(Contains(r.out, "\nInit ABBRUCH ")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\nStartup beendet.\n"));
    EXPECT_TRUE(Contains(r.err, "Programmstart fehlgeschlagen"));
    EXPECT_EQ(ListFiles(Data("import"), "*").size(), 6u);   // nothing processed
}

TEST_F(CliTest, PruefenChecksWithoutTouchingAnything) {
    const auto before = Snapshot(data.path());
    CliResult r = RunCli({"-d", data.path(), "pruefen", Data("import/2024-1101.xml"), "import/2024-1105.xml",
                    Data("import/2024-1046.xml"), "fehlt.xml"},
                   data.path());
    EXPECT_EQ(r.code, 1);
    const std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0], "OK " + Data("import/2024-1101.xml"));
    EXPECT_EQ(lines[1], "FEHLER import/2024-1105.xml Summenprüfung Rechnung Netto: 19570 <> 19571");
    EXPECT_EQ(lines[2], "FEHLER " + Data("import/2024-1046.xml") + " TRechStore Rechnung bereits vorhanden ");
    EXPECT_TRUE(StartsWith(lines[3], "FEHLER fehlt.xml Datei ")) << lines[3];
    auto expected = before;
    expected["brenvo.lock"] = "";   // the data directory's lock: empty, it only carries the lock
    EXPECT_EQ(Snapshot(data.path()), expected);

    CliResult ok = Cli({"pruefen", Data("import/2024-1102.xml"), Data("import/2024-1103.xml")});
    EXPECT_EQ(ok.code, 0);
}

TEST_F(CliTest, KtInfoResolvesWithTheFacilitysLocationOrTheGivenOne) {
    CliResult r = Cli({"kt-info", "103110038"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "103110016")) << r.out;   // the cost bearer behind the referral
    EXPECT_TRUE(Contains(r.out, "109920017")) << r.out;   // physical recipient in 05/38

    CliResult other = Cli({"kt-info", "103110016", "--land", "05", "--bezirk", "20", "--datum", "01.03.2024"});
    EXPECT_EQ(other.code, 0) << other.err;
    EXPECT_TRUE(Contains(other.out, "109910025")) << other.out;

    CliResult bad = Cli({"kt-info", "103110016", "--datum", "2024-03-01"});
    EXPECT_EQ(bad.code, 2);
    EXPECT_TRUE(Contains(bad.err, "--datum"));
}

TEST_F(CliTest, WithoutDataDirectoryOptionTheProgramsDirectoryIsUsed) {
    fs::copy_file(BRENVO_CLI, Data("brenvo-cli"));
    fs::permissions(Data("brenvo-cli"), fs::perms::owner_exec, fs::perm_options::add);
    CliResult r = RunCli({"pruefen", Data("import/2024-1101.xml")}, elsewhere.path(), Data("brenvo-cli"));
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "OK " + Data("import/2024-1101.xml") + "\n");
}
