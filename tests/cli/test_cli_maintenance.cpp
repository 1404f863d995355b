// brenvo-cli sicherung, bereinigen, archiv-bereinigen, daten-import on copies
// of the demo installation: exit codes, output and what they leave on disk.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/TempDir.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"
#include "tests/cli/CliRunner.h"

using namespace brenvo;
using namespace clitest;
namespace fs = std::filesystem;

namespace {

class CliMaintenanceTest : public DemoCliTest {
protected:
    std::vector<std::string> InvoiceNumbers() const {
        Table t;
        t.LoadFromFile(Data("Stammdaten/Rechnungen.xml"));
        std::vector<std::string> out;
        for (t.First(); !t.Eof(); t.Next()) out.push_back(t.AsString("R_NUMMER"));
        return out;
    }
};

} // namespace

TEST_F(CliMaintenanceTest, HelpNamesTheCommandsAndOperandsAreRefused) {
    CliResult help = RunCli({"--help"}, elsewhere.path());
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(
        Contains(help.out, "brenvo-cli [-d DATENVERZEICHNIS] sicherung|bereinigen|archiv-bereinigen|daten-import"));
    for (const char* command : {"sicherung", "bereinigen", "archiv-bereinigen", "daten-import"})
        EXPECT_TRUE(Contains(help.out, std::string("\n  ") + command)) << command;

    CliResult extra = RunCli({"-d", data.path(), "bereinigen", "jetzt"}, elsewhere.path());
    EXPECT_EQ(extra.code, 2);
    EXPECT_TRUE(Contains(extra.err, "bereinigen erwartet keine weiteren Angaben: jetzt")) << extra.err;
}

TEST_F(CliMaintenanceTest, SicherungBacksUpBetweenStartAndEnd) {
    CliResult r = Cli({"sicherung"});
    EXPECT_EQ(r.code, 0) << r.err;
    const std::vector<std::string> zips = ListFiles(Data("Datensicherung"), "*.zip");
    ASSERT_EQ(zips.size(), 1u);
    EXPECT_TRUE(Contains(r.out, "\nDatensicherung beendet " + Data("Datensicherung/" + zips[0]) + "\n")) << r.out;
    const std::vector<std::string> lines = SplitLines(r.out);
    EXPECT_EQ(lines.front(), "Init Start...");
    EXPECT_EQ(lines.back(), "Init Programm wird beendet.");

    fs::remove(Data("Stammdaten/brenvo.XML"));
    CliResult failed = Cli({"sicherung"});
    EXPECT_EQ(failed.code, 2);
    EXPECT_TRUE(Contains(failed.err, "Programmstart fehlgeschlagen."));
}

TEST_F(CliMaintenanceTest, PurgeCleanupAndImportOnTheDemo) {
    // The demo's archived invoice is older than 200 days: it leaves the table
    // and its file comes back into the inbox.
    fs::remove(Data("import/2024-1046.xml"));
    CliResult purge = Cli({"bereinigen"});
    EXPECT_EQ(purge.code, 0) << purge.err;
    EXPECT_TRUE(InvoiceNumbers().empty());
    EXPECT_TRUE(FileExists(Data("import/2024-1046.xml")));
    EXPECT_TRUE(FileExists(Data("ArchivR/2024-1046.xml")));

    // Now no row names the archived file.
    CliResult cleanup = Cli({"archiv-bereinigen"});
    EXPECT_EQ(cleanup.code, 0) << cleanup.err;
    EXPECT_TRUE(Contains(cleanup.out, "\nProzess: 1 Rechnungs-Dateien gelöscht\n")) << cleanup.out;
    EXPECT_TRUE(Contains(cleanup.out, "\nProzess: 0 Auftags-Dateien gelöscht.\n"));
    EXPECT_TRUE(ListFiles(Data("ArchivR"), "*").empty());

    // A recent invoice file in the archive gets its row back.
    fs::copy_file(Data("import/2024-1101.xml"), Data("ArchivR/2024-1101.xml"));
    CliResult import = Cli({"daten-import"});
    EXPECT_EQ(import.code, 0) << import.err;
    EXPECT_EQ(InvoiceNumbers(), std::vector<std::string>{"2024-1101"});

    // A file that is no invoice: the others are still taken, the exit code says it failed.
    fs::copy_file(Data("import/2024-1102.xml"), Data("ArchivR/2024-1102.xml"));
    AtomicWriteFile(Data("ArchivR/kaputt.xml"), "kein XML");
    CliResult broken = Cli({"daten-import"});
    EXPECT_EQ(broken.code, 1);
    EXPECT_TRUE(Contains(broken.err, "1 Rechnungs-Dateien konnten nicht übernommen werden")) << broken.err;
    EXPECT_TRUE(Contains(broken.out, "Prozess: Rechnung kaputt.xml nicht übernommen: "));
    EXPECT_EQ(InvoiceNumbers(), (std::vector<std::string>{"2024-1101", "2024-1102"}));
}

TEST_F(CliMaintenanceTest, KtImportReplacesTheDirectoryOrNothing) {
    const std::string kotr = std::string(BRENVO_SOURCE_DIR) + "/tests/costbearer/data/kotr-2022/";
    std::vector<std::string> files;
    for (const std::string& name : ListFiles(kotr, "*.ke*")) files.push_back(kotr + name);
    const std::string before = ReadFileBytes(Data("Stammdaten/KT_ZUORDN.XML"));

    EXPECT_EQ(Cli({"kt-import"}).code, 2);
    const std::string cut = Data("AO05Q122.ke1");
    AtomicWriteFile(cut, ReadFileBytes(files[0]).substr(0, 5000));
    std::vector<std::string> broken = files;
    broken[0] = cut;
    broken.insert(broken.begin(), "kt-import");
    CliResult refused = Cli(broken);
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(Contains(refused.err, "AO05Q122.ke1: Zeile ")) << refused.err;
    EXPECT_TRUE(Contains(refused.out, "Kostenträger-Import: nichts ersetzt: AO05Q122.ke1: Zeile ")) << refused.out;
    EXPECT_EQ(ReadFileBytes(Data("Stammdaten/KT_ZUORDN.XML")), before);

    files.insert(files.begin(), {"kt-import", "--alle"});
    CliResult r = Cli(files);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "\nKostenträger-Import: beendet.\n")) << r.out;
    Table links;
    links.LoadFromFile(Data("Stammdaten/KT_ZUORDN.XML"));
    EXPECT_EQ(links.RecordCount(), 6783);
    CliResult info = Cli({"kt-info", "100180008", "--land", "05", "--bezirk", "99"});
    EXPECT_TRUE(Contains(info.out, " Daten logisch:  660510336 ")) << info.out;
}
