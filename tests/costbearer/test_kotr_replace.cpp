// Replacing the directory: what outlives an import (counters, the rows of
// "Annahmestellen lesen", DAKOTA marks), which rows count as changed by
// hand, and a replacement stopped at any step.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "common/TempDir.h"
#include "costbearer/KotrBuilder.h"
#include "costbearer/KotrImport.h"
#include "costbearer/KtFixture.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/Files.h"

using namespace brenvo;
using kttest::Entry;
using kttest::KotrText;

namespace {

const TDateTime kToday = EncodeDate(2026, 12, 10);

std::string Mail(const std::string& address) { return "DFU+01+070+++++" + address; }

// The demo directory's offices as the files of a later quarter name them.
std::unique_ptr<KotrImport> LaterQuarter() {
    auto import = std::make_unique<KotrImport>(false, kToday);
    const std::vector<kttest::Segments> messages = {
        Entry("109910014", "DAS Rhein-Ruhr"),                                                   // DTAREF 1041
        Entry("109910025", "Westfalen", {}, {"UEM+1+00+I8", Mail("annahme@das-westfalen.example")}),   // "2"
        Entry("109920017", "RZ Hafen", {}, {"UEM+1+00+I8", Mail("neu@rz-hafen.example")}),      // "2", new address
        Entry("109920040", "Nord-RZ", {}, {"UEM+1+00+I8", Mail("dta@nordrechenzentrum-luebeck.example")}),   // "1"
    };
    import->AddFile(ParseKotrFile(KotrText("AO05Q426.ke0", messages), "AO05Q426.ke0"));
    import->Build();
    return import;
}

std::string At(Table& t, const std::string& ik, const char* column) {
    t.SetIndexFieldNames("K_IK");
    if (!t.FindKey({ik})) return "<keine Zeile>";
    return t.AsString(column);
}

} // namespace

class KotrReplaceTest : public kttest::KtStoreTest {};

TEST_F(KotrReplaceTest, CountersAndAcceptanceOfficeRowsOutliveTheImport) {
    std::unique_ptr<KotrImport> import = LaterQuarter();
    store.KTTransfer().SetFilter("DAKOTA = '2'");   // a view's filter does not hide rows from the import
    store.KTTransfer().SetFiltered(true);
    import->CarryOver(store.KTBase(), store.KTTransfer());
    CostBearerTables t = import->Tables();

    EXPECT_EQ(At(t.KTBase, "109910014", "DTAREF"), "1041");
    // An IK the files no longer name keeps its counter in a row that ended yesterday.
    EXPECT_EQ(At(t.KTBase, "109910036", "DTAREF"), "A12");
    EXPECT_EQ(At(t.KTBase, "109910036", "KT_KURZBEZ"), "Datenzentrum Süd");
    EXPECT_EQ(At(t.KTBase, "109910036", "KT_VALIDTO"), "09.12.2026");
    EXPECT_EQ(At(t.KTBase, "109910036", "ISDATEN"), "F");
    EXPECT_EQ(t.KTBase.RecordCount(), 5);

    // DAKOTA marks: same address stays "2", a changed or differing one is "1".
    EXPECT_EQ(At(t.KTTransfer, "109910025", "DAKOTA"), "2");
    EXPECT_EQ(At(t.KTTransfer, "109920017", "DAKOTA"), "1");
    EXPECT_EQ(At(t.KTTransfer, "109920040", "DAKOTA"), "1");
    // The row "Annahmestellen lesen" created, for an office the files give no channel.
    EXPECT_EQ(At(t.KTTransfer, "109920028", "DFU_KANAL"), "edi-annahme@rechenzentrum-koeln-deutz.example");
    EXPECT_EQ(At(t.KTTransfer, "109920028", "DAKOTA"), "3");
    EXPECT_EQ(At(t.KTTransfer, "109920028", "UEM_ZEICHENSATZ"), "I7");
    EXPECT_EQ(t.KTTransfer.RecordCount(), 4);
}

TEST_F(KotrReplaceTest, RowsChangedByHandSinceTheLastImportAreNamed) {
    // Before any import: the rows naming their own recipients or paper office.
    const std::vector<std::string> own =
        KotrImport::HandEditedIKs(dir.path(), store.KTBase(), store.KTAnschrift(), store.KTTransfer());
    EXPECT_FALSE(own.empty());

    std::unique_ptr<KotrImport> import = LaterQuarter();
    import->CarryOver(store.KTBase(), store.KTTransfer());
    import->Write(dir.path());
    TSGBKTStore s(system);
    Load(s);
    auto edited = [&] { return KotrImport::HandEditedIKs(dir.path(), s.KTBase(), s.KTAnschrift(), s.KTTransfer()); };
    EXPECT_EQ(edited(), std::vector<std::string>{});

    // Counters, DAKOTA marks and the rows of "Annahmestellen lesen" change without a hand.
    s.NextDtaRef("109910014", 0);
    Table& transfer = s.KTTransfer();
    ASSERT_TRUE(transfer.Locate("K_IK", {std::string("109910025")}));
    transfer.Edit();
    transfer.SetString("DAKOTA", "1");
    transfer.Post();
    transfer.Append();
    transfer.SetString("K_IK", "109999999");
    transfer.SetString("DAKOTA", "3");
    transfer.Post();
    EXPECT_EQ(edited(), std::vector<std::string>{});

    // A changed name, a deleted address.
    ASSERT_TRUE(s.KTBase().Locate("K_IK", {std::string("109920017")}));
    s.KTBase().Edit();
    s.KTBase().SetString("DATEN_IK", "109910014");
    s.KTBase().Post();
    ASSERT_TRUE(s.KTAnschrift().Locate("K_IK", {std::string("109920040")}));
    s.KTAnschrift().Delete();
    EXPECT_EQ(edited(), (std::vector<std::string>{"109920017", "109920040"}));

    // A directory from elsewhere (an update) is not the imported one any more.
    AtomicWriteFile(dir.file("KT_ZUORDN.XML"), ReadFileBytes(kttest::DemoDir() + "/KT_ZUORDN.XML"));
    EXPECT_EQ(edited(), std::vector<std::string>{"109920017"});
}

// The replacement stopped at every step (the process ends there): the next
// start finds the old directory or the new one, whole, and loads it.
TEST_F(KotrReplaceTest, AnImportStoppedAtAnyStepLeavesADirectoryThatLoads) {
    const int oldRows = store.KTBase().RecordCount();
    std::unique_ptr<KotrImport> import = LaterQuarter();
    const std::vector<std::string> steps = {"staged",
                                            "journal",
                                            "renamed KT_BASE.XML",
                                            "renamed KT_ZUORDN.XML",
                                            "renamed KT_ANSCHRIFT.XML",
                                            "renamed KT_TRANSFER.XML",
                                            "renamed KT_KEY.XML",
                                            "renamed KT_IMPORT.TXT",
                                            "done"};
    for (const std::string& step : steps) {
        TempDir d;
        for (const char* f : kttest::kFiles) AtomicWriteFile(d.file(f), ReadFileBytes(dir.file(f)));
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SetFileSetHook([&](const std::string& s) {
                if (s == step) _exit(7);
            });
            import->Write(d.path());
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << step;

        const FileSetRecovery recovery = RecoverCostBearerFiles(d.path());
        EXPECT_EQ(recovery, step == "staged" ? FileSetRecovery::RolledBack
                            : step == "done" ? FileSetRecovery::Nothing
                                             : FileSetRecovery::Completed)
            << step;
        EXPECT_TRUE(ListFiles(d.path(), "*.NEU").empty()) << step;
        EXPECT_FALSE(FileExists(d.file("KT_IMPORT.JOURNAL"))) << step;
        TSGBKTStore s(system);
        kttest::LoadDirectory(s, d.path());
        if (step == "staged") {
            EXPECT_EQ(s.KTBase().RecordCount(), oldRows);
            EXPECT_EQ(s.KTKey().RecordCount(), store.KTKey().RecordCount());
        } else {
            EXPECT_EQ(s.KTBase().RecordCount(), 4) << step;
            EXPECT_EQ(s.KTZuordn().RecordCount(), 0) << step;
            EXPECT_EQ(s.KTKey().RecordCount(), 16) << step;
        }
    }
}
