#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "archive/U_AuftragStore.h"
#include "archive/U_RechStore.h"
#include "billing/JobFixture.h"
#include "billing/u_SGBJob.h"
#include "lib/base/Cp1252.h"

using namespace brenvo;
using namespace jobtest;

namespace {

class JobTest : public DataDirTest {
protected:
    void SetUp() override {
        DataDirTest::SetUp();
        rech.InitStore(Dir("import"), Dir("ArchivR"),
                       [this](const void*, const std::string& a, int64_t v, const std::string& t) {
                           inbox.push_back({a, v, t});
                       });
        auf.InitStore(Dir("import"), Dir("ArchivA"), Dir("dakota-out"), Dir("dakota"), Dir("export"));
        auf.SetCallback([this](const void*, const std::string& a, int64_t v, const std::string& t) {
            outbox.push_back({a, v, t});
        });
        einr.MAXTRANSFER = 41;
        einr.EINR_LAND = "11";
        einr.EINR_BEZIRK = "72";
    }

    std::unique_ptr<TSGBJob> NewJob() {
        auto job = std::make_unique<TSGBJob>(kt, rech, auf, einr);
        job->Init("09xx", 0, EncodeDate(2014, 10, 1), 3, 2, Dir("temp"), Dir("export"), Dir("ArchivR"),
                  Dir("ArchivA"));
        return job;
    }
    // Writes an invoice file into the import directory and hands it to the job.
    void Add(TSGBJob& job, const InvoiceFacts& facts, const std::string& file) {
        WriteInvoiceFile(In("import", file), facts);
        InvoiceDocument doc = InvoiceDocument::FromFile(In("import", file));
        job.AddInvoiceFile(doc, In("import", file), einr.EINR_LAND, einr.EINR_BEZIRK);
    }
    // What the run's commit does with a job's result: the staged invoices and
    // order files into the archive directories, the taken invoices out of
    // the inbox.
    void Commit(TSGBJob& job) {
        for (const TRechStore::StagedInvoice& s : rech.Staged()) {
            TRechStore::PublishStaged(Dir("import"), Dir("ArchivR"), s.ImportName, s.ArchiveName);
            DeleteFile(In("import", s.ImportName));
        }
        rech.ClearStaged();
        for (size_t i = 0; i < job.Count(); ++i) TAuftragSTore::PublishStaged(Dir("temp"), Dir("ArchivA"), job.Order(i).Handle());
    }
    static int CountLines(const std::string& path, const std::string& prefix) {
        int n = 0;
        for (const std::string& line : ReadCp1252Lines(path))
            if (StartsWith(line, prefix)) ++n;
        return n;
    }

    TRechStore rech;
    TAuftragSTore auf;
    TEinrichtung einr;
    std::vector<Heard> inbox, outbox;
};

TEST_F(JobTest, InitNeedsTheTemporaryAndTheOutputDirectory) {
    TSGBJob job(kt, rech, auf, einr);
    EXPECT_EQ(ErrorOf([&] { job.Init("09", 0, Today(), 3, 2, Dir("fehlt"), Dir("export"), "", ""); }),
              "TSGBJob TempDir existiert nicht.");
    EXPECT_EQ(ErrorOf([&] { job.Init("09", 0, Today(), 3, 2, Dir("temp"), Dir("fehlt"), "", ""); }),
              "TSGBJob OutDir existiert nicht.");
    EXPECT_FALSE(job.Initialised());
}

TEST_F(JobTest, TwoInvoicesOfOneRecipientAndSenderMakeOneOrderAndOneBillingFile) {
    auto job = NewJob();
    Add(*job, {.number = "R-1", .ikkt = kKT1}, "r1.xml");
    Add(*job, {.number = "R-2", .ikkt = kKT2}, "r2.xml");   // another cost bearer, same recipient
    ASSERT_EQ(job->Count(), 1u);
    EXPECT_EQ(job->FindJob(kD1, kSender1), 0);
    EXPECT_EQ(job->FindJob(kD1, kSender2), -1);
    EXPECT_EQ(einr.MAXTRANSFER, 42) << "one transfer number for the one order";

    // taken: recorded with the order's handle and staged; the inbox keeps its
    // files until the run commits
    const std::string h = job->Order(0).Handle();
    EXPECT_TRUE(FileExists(In("import", "r1.xml")));
    EXPECT_TRUE(FileExists(In("ArchivR/.Verarbeitung", "r1.xml")));
    EXPECT_FALSE(FileExists(In("ArchivR", "r1.xml")));
    ASSERT_TRUE(rech.LocateByNumber("R-2"));
    EXPECT_EQ(rech.GetTable().AsString("R_HANDLE"), h);
    EXPECT_EQ(inbox, (std::vector<Heard>{{"insert", 1, "r1.xml"},
                                         {"bearbeitet", 1, "r1.xml"},
                                         {"insert", 2, "r2.xml"},
                                         {"bearbeitet", 2, "r2.xml"}}));
    // the order is recorded when it is created, before anything is written
    EXPECT_EQ(outbox, (std::vector<Heard>{{"insert", 1, "ESOL0042 Datenannahme Eins"}}));
    EXPECT_FALSE(FileExists(In("temp", h)));

    job->WriteAll();
    const std::string billing = In("temp", h);
    EXPECT_EQ(CountLines(billing, "UNH+"), 4) << "an SLGA and an SLLA message per invoice";
    EXPECT_EQ(CountLines(billing, "UNB+"), 1);
    EXPECT_FALSE(FileExists(In("ArchivA", h + ".AUF"))) << "staged until the commit";
    Commit(*job);
    for (const char* ext : {"", ".LOG", ".BGL", ".ENC", ".AUF", ".AUF.LOG"}) {
        EXPECT_TRUE(FileExists(billing + ext)) << ext;
        EXPECT_EQ(ReadFileBytes(In("ArchivA", h + ext)), ReadFileBytes(billing + ext)) << ext;
    }
    EXPECT_TRUE(ListFiles(Dir("ArchivA/.Verarbeitung"), "*").empty());
    EXPECT_FALSE(FileExists(In("import", "r1.xml")));
    EXPECT_TRUE(FileExists(In("ArchivR", "r1.xml")));
    const std::string rec = ReadFileBytes(billing + ".AUF");
    EXPECT_EQ(rec.substr(19, 8), "ESOL0042");
    EXPECT_EQ(rec.substr(62, 9), kD1);
    EXPECT_EQ(rec.substr(77, 9), kP1);
    EXPECT_EQ(rec.substr(104, 11), PadLeft(job->Engine(0).LogicalFileName(), 11));
    EXPECT_EQ(std::stoll(rec.substr(178, 12)), FileSize(billing));
    EXPECT_EQ(job->Engine(0).TransferName(), "ESOL0042");
}

TEST_F(JobTest, EverySenderAndRecipientPairGetsItsOwnOrder) {
    auto job = NewJob();
    Add(*job, {.number = "A", .ikle = kSender1, .ikkt = kKT1}, "a.xml");
    Add(*job, {.number = "B", .ikle = kSender2, .ikkt = kKT1}, "b.xml");   // same recipient, other sender
    Add(*job, {.number = "C", .ikle = kSender1, .ikkt = kKT3}, "c.xml");   // D2: no physical recipient
    Add(*job, {.number = "D", .ikle = kSender1, .ikkt = kKT2}, "d.xml");   // joins A
    ASSERT_EQ(job->Count(), 3u);
    EXPECT_EQ(einr.MAXTRANSFER, 44);
    EXPECT_EQ(job->Order(0).EmpfEignerIK(), kD1);
    EXPECT_EQ(job->Order(1).EmpfEignerIK(), kD1);
    EXPECT_EQ(job->Order(1).AbsEignerIK(), kSender2);
    // the failed physical lookup: the logical recipient receives itself
    EXPECT_EQ(job->Order(2).EmpfPhysIK(), kD2);
    EXPECT_EQ(job->Order(2).EmpfEmail(), "annahme@d2.example");
    std::vector<std::string> handles;
    for (size_t i = 0; i < 3; ++i) handles.push_back(job->Order(i).Handle());
    EXPECT_NE(handles[0], handles[1]);

    job->WriteAll();
    Commit(*job);
    EXPECT_EQ(CountLines(In("temp", handles[0]), "UNH+"), 4);
    EXPECT_EQ(CountLines(In("temp", handles[1]), "UNH+"), 2);
    EXPECT_EQ(CountLines(In("temp", handles[2]), "UNH+"), 2);
    const std::string rec = ReadFileBytes(In("ArchivA", handles[2] + ".AUF"));
    EXPECT_EQ(rec.substr(62, 9), kD2);
    EXPECT_EQ(rec.substr(77, 9), kD2);
    EXPECT_EQ(auf.GetTable().RecordCount(), 3);
}

// The pairs' interchanges are generated ahead of their files; a pair that
// cannot be generated still fails the job at its own turn: the pairs before
// it are written, none after it.
TEST_F(JobTest, APairThatCannotBeGeneratedFailsAfterThePairsBeforeItAreWritten) {
    auto job = NewJob();
    Add(*job, {.number = "A", .ikle = kSender1, .ikkt = kKT1}, "a.xml");
    Add(*job, {.number = "B", .ikle = kSender2, .ikkt = kKT1}, "b.xml");
    Add(*job, {.number = "C", .ikle = kSender1, .ikkt = kKT3}, "c.xml");
    ASSERT_EQ(job->Count(), 3u);
    // a value no segment can hold, set after the loading checks
    job->Engine(1).Faelle().front()->VersNum = std::string(40, '9');
    const std::string error = ErrorOf([&] { job->WriteAll(); });
    EXPECT_TRUE(StartsWith(error, "TSGBV Wert zu lang.")) << error;
    EXPECT_TRUE(FileExists(In("temp", job->Order(0).Handle() + ".AUF")));
    EXPECT_TRUE(FileExists(In("ArchivA/.Verarbeitung", job->Order(0).Handle() + ".ENC")));
    for (size_t i : {1u, 2u}) EXPECT_FALSE(FileExists(In("temp", job->Order(i).Handle()))) << i;
    TSGBJob::ReturnResult r = job->Cancel();
    EXPECT_EQ(r.Discarded, (std::vector<std::pair<std::string, int>>{{job->Order(0).Handle(), 6}}));
    EXPECT_TRUE(ListFiles(Dir("temp"), "*").empty());
}

// An invoice checked before the job is taken without reading its file again,
// unless the file changed since: then it is taken as it reads now, so that
// the archive keeps the file that was billed.
TEST_F(JobTest, AnInvoiceTakenAsCheckedUnlessItsFileChangedSince) {
    auto checked = [&](const std::string& file) {
        TSGBJob::LoadedInvoice loaded;
        loaded.File = IdentityOf(In("import", file));
        InvoiceDocument doc = InvoiceDocument::FromFile(In("import", file));
        TSgbv check(kt, einr);
        check.Init("09", kSender1, EncodeDate(2014, 10, 1), kD1, 1, -1, 0, 2, Dir("temp"));
        check.LoadRechnungen(doc);
        loaded.Records = check.TakeRecords();
        Table& h = doc.Rechnung();
        loaded.SaRechNr = h.AsString("SaRechNr");
        loaded.IKKT = h.AsString("IKKT");
        loaded.IKLE = h.AsString("IKLE");
        loaded.RechDatum = h.AsDateTime("RechDatum");
        loaded.RBetragBrutto = h.AsFloat("RBetragBrutto");
        return loaded;
    };
    auto job = NewJob();
    WriteInvoiceFile(In("import", "a.xml"), {.number = "A", .cents = 1000});
    WriteInvoiceFile(In("import", "b.xml"), {.number = "B", .cents = 1000});
    TSGBJob::LoadedInvoice a = checked("a.xml"), b = checked("b.xml");
    WriteInvoiceFile(In("import", "b.xml"), {.number = "B", .cents = 12345});
    job->AddLoadedInvoice(std::move(a), In("import", "a.xml"), einr.EINR_LAND, einr.EINR_BEZIRK);
    job->AddLoadedInvoice(std::move(b), In("import", "b.xml"), einr.EINR_LAND, einr.EINR_BEZIRK);
    ASSERT_EQ(job->Count(), 1u);
    const std::vector<TRechnung*>& billed = job->Engine(0).Rechnungen();
    ASSERT_EQ(billed.size(), 2u);
    EXPECT_EQ(billed[0]->RBetragBrutto, 1000);
    EXPECT_EQ(billed[1]->RBetragBrutto, 12345);
    ASSERT_TRUE(rech.LocateByNumber("B"));
    EXPECT_DOUBLE_EQ(rech.GetTable().AsFloat("R_BETRAG"), 123.45);
}

// The checks before writing run ahead of the writing; a pair that fails them
// still fails only after the pairs before it are written.
TEST_F(JobTest, APairFailingItsCheckBeforeWritingFailsAfterThePairsBeforeItAreWritten) {
    auto job = NewJob();
    Add(*job, {.number = "A", .ikle = kSender1, .ikkt = kKT1}, "a.xml");
    Add(*job, {.number = "B", .ikle = kSender2, .ikkt = kKT1}, "b.xml");
    Add(*job, {.number = "C", .ikle = kSender1, .ikkt = kKT3}, "c.xml");
    Add(*job, {.number = "D", .ikle = kSender2, .ikkt = kKT3}, "d.xml");
    ASSERT_EQ(job->Count(), 4u);
    // the third pair's amount no longer adds up, and a changed directory
    // order makes every pair check its records again
    job->Engine(2).Rechnungen().front()->RBetragNetto += 1;
    kt.KTBase().SetIndexFieldNames("KT_KURZBEZ");
    const std::string error = ErrorOf([&] { job->WriteAll(); });
    EXPECT_TRUE(StartsWith(error, "Summenprüfung Rechnung Netto")) << error;
    for (size_t i : {0u, 1u}) EXPECT_TRUE(FileExists(In("temp", job->Order(i).Handle() + ".AUF"))) << i;
    for (size_t i : {2u, 3u}) EXPECT_FALSE(FileExists(In("temp", job->Order(i).Handle()))) << i;
}

// Two senders billing one recipient in the same millisecond: without care the
// second order would get the first one's handle and overwrite its files.
TEST_F(JobTest, OrdersCreatedInTheSameMillisecondGetDifferentHandles) {
    SetFixedNow(EncodeDateTime(2024, 3, 5, 14, 22, 33, 500));
    auto job = NewJob();
    Add(*job, {.number = "A", .ikle = kSender1}, "a.xml");
    Add(*job, {.number = "B", .ikle = kSender2}, "b.xml");
    ASSERT_EQ(job->Count(), 2u);
    EXPECT_EQ(job->Order(0).Handle(), kD1 + "_20240305_142233500");
    EXPECT_EQ(job->Order(1).Handle(), kD1 + "_20240305_142233501");
    job->WriteAll();
    Commit(*job);
    EXPECT_EQ(CountLines(In("ArchivA", job->Order(0).Handle()), "UNB+"), 1);
    EXPECT_TRUE(Contains(ReadFileBytes(In("ArchivA", job->Order(0).Handle())), kSender1));
    EXPECT_TRUE(Contains(ReadFileBytes(In("ArchivA", job->Order(1).Handle())), kSender2));

    // a later job in that same millisecond keeps clear of both and of the archive
    auto next = NewJob();
    Add(*next, {.number = "C", .ikle = kSender1}, "c.xml");
    EXPECT_EQ(next->Order(0).Handle(), kD1 + "_20240305_142233502");
}

TEST_F(JobTest, CopiesIntoTheOrderArchiveNeverReplaceAFile) {
    auto job = NewJob();
    Add(*job, {.number = "A"}, "a.xml");
    const std::string h = job->Order(0).Handle();
    AtomicWriteFile(In("ArchivA", h + ".BGL"), "war schon da");
    job->WriteAll();
    Commit(*job);
    EXPECT_EQ(ReadFileBytes(In("ArchivA", h + ".BGL")), "war schon da");
    EXPECT_TRUE(FileExists(In("ArchivA", h + ".AUF")));
}

TEST_F(JobTest, WriteAllOfAJobWithoutPairsWritesNothing) {
    auto job = NewJob();
    job->WriteAll();
    EXPECT_TRUE(ListFiles(Dir("temp"), "*").empty());
    EXPECT_TRUE(ListFiles(Dir("ArchivA"), "*").empty());
    EXPECT_EQ(einr.MAXTRANSFER, 41);
}

TEST_F(JobTest, ARecipientWithoutEmailRowRefusesTheOrder) {
    auto job = NewJob();
    WriteInvoiceFile(In("import", "x.xml"), {.number = "X", .ikkt = kKT4});
    InvoiceDocument doc = InvoiceDocument::FromFile(In("import", "x.xml"));
    EXPECT_EQ(ErrorOf([&] { job->AddInvoiceFile(doc, In("import", "x.xml"), "11", "72"); }),
              "TSGBKTSTore GetEmailAddr. Email-Satz nicht gefunden. IK=" + kP3);
    EXPECT_EQ(job->Count(), 0u);
    EXPECT_TRUE(FileExists(In("import", "x.xml")));
    EXPECT_EQ(auf.GetTable().RecordCount(), 0);
    EXPECT_EQ(rech.GetTable().RecordCount(), 0);
}

TEST_F(JobTest, CreateJobRefusesASecondJobForThePair) {
    auto job = NewJob();
    job->CreateJob(kD1, kSender1, "11", "72");
    EXPECT_EQ(ErrorOf([&] { job->CreateJob(kD1, kSender1, "11", "72"); }),
              "TSGBJob Job für Empfänger bereits vorhanden.");
    EXPECT_EQ(&job->GetJob(kD1, kSender1, "11", "72"), &job->Engine(0));
    EXPECT_EQ(job->Count(), 1u);
}

// A run in collective mode fails at its second invoice: the orders go, and
// (beyond what the job did before) the first invoice comes back.
TEST_F(JobTest, CancellingAfterAFailureInTheSecondInvoiceRemovesOrdersAndReturnsInvoices) {
    auto job = NewJob();
    Add(*job, {.number = "R-1"}, "r1.xml");
    Add(*job, {.number = "R-2", .ikkt = kKT3}, "r2.xml");
    ASSERT_EQ(job->Count(), 2u);
    EXPECT_NE(ErrorOf([&] { Add(*job, {.number = "R-3", .cents = 1000, .tripCents = 999}, "r3.xml"); }), "");
    EXPECT_TRUE(FileExists(In("import", "r3.xml"))) << "the failing invoice was not taken";
    outbox.clear();
    inbox.clear();

    job->CancelOrders();
    EXPECT_EQ(auf.GetTable().RecordCount(), 0);
    EXPECT_EQ(outbox, (std::vector<Heard>{{"delete", 1, "null"}, {"delete", 2, "null"}}));
    // the orders alone leave the taken invoices recorded
    EXPECT_TRUE(FileExists(In("import", "r1.xml")));
    EXPECT_NE(ErrorOf([&] { rech.CheckNotArchived("R-1"); }), "");

    TSGBJob::ReturnResult back = job->ReturnInvoices();
    EXPECT_EQ(back.Returned, (std::vector<std::string>{"r1.xml", "r2.xml"}));
    EXPECT_TRUE(back.Errors.empty());
    EXPECT_EQ(inbox, (std::vector<Heard>{{"offen", 1, "r1.xml"}, {"offen", 2, "r2.xml"}}));
    EXPECT_TRUE(FileExists(In("import", "r1.xml")));
    EXPECT_TRUE(FileExists(In("import", "r2.xml")));
    EXPECT_EQ(rech.GetTable().RecordCount(), 0);
    EXPECT_EQ(ErrorOf([&] { rech.CheckNotArchived("R-1"); }), "");
    EXPECT_TRUE(ListFiles(Dir("ArchivR/.Verarbeitung"), "*").empty());
    // the returned file is the invoice as it was
    InvoiceDocument doc = InvoiceDocument::FromFile(In("import", "r1.xml"));
    EXPECT_EQ(doc.Rechnung().AsString("SaRechNr"), "R-1");
    // the numbers drawn stay used
    EXPECT_EQ(einr.MAXTRANSFER, 43);
    // cancelling again changes nothing and fails nowhere
    TSGBJob::ReturnResult again = job->Cancel();
    EXPECT_TRUE(again.Returned.empty());
    EXPECT_TRUE(again.Errors.empty());
}

TEST_F(JobTest, CancelGoesOnPastOrdersAndInvoicesThatCannotBeRemoved) {
    auto job = NewJob();
    Add(*job, {.number = "R-1"}, "r1.xml");
    Add(*job, {.number = "R-2", .ikkt = kKT3}, "r2.xml");
    // someone removed the first order already, and the second invoice's file is gone
    ASSERT_TRUE(auf.LocateById(1));
    auf.DeleteCurrent();
    DeleteFile(In("import", "r2.xml"));
    DeleteFile(In("ArchivR/.Verarbeitung", "r2.xml"));

    TSGBJob::ReturnResult r = job->Cancel();
    EXPECT_EQ(auf.GetTable().RecordCount(), 0) << "the second order went although the first failed";
    EXPECT_EQ(r.Returned, (std::vector<std::string>{"r1.xml"}));
    ASSERT_EQ(r.Errors.size(), 2u);
    EXPECT_EQ(r.Errors[0], "Cannot delete Auftrag handle=" + job->Order(0).Handle());
    EXPECT_TRUE(StartsWith(r.Errors[1], "TRechStore Rechnung R-2 kann nicht zurückgegeben werden"));
    EXPECT_EQ(ErrorOf([&] { rech.CheckNotArchived("R-2"); }), "TRechStore Rechnung bereits vorhanden ")
        << "its row stays, the only trace of the invoice";
}

// A cancelled order's files must never be handed over: none stays where the
// commit or a user could find it.
TEST_F(JobTest, ACancelledJobLeavesNoFileOfItsOrders) {
    auto job = NewJob();
    Add(*job, {.number = "R-1"}, "r1.xml");
    const std::string h = job->Order(0).Handle();
    job->WriteAll();
    ASSERT_TRUE(FileExists(In("ArchivA/.Verarbeitung", h + ".AUF")));
    TSGBJob::ReturnResult r = job->Cancel();
    EXPECT_EQ(r.Discarded, (std::vector<std::pair<std::string, int>>{{h, 6}}));
    EXPECT_TRUE(ListFiles(Dir("temp"), "*").empty());
    EXPECT_TRUE(ListFiles(Dir("ArchivA/.Verarbeitung"), "*").empty());
    EXPECT_TRUE(ListFiles(Dir("ArchivR/.Verarbeitung"), "*").empty());
    EXPECT_EQ(ListFiles(Dir("import"), "*"), (std::vector<std::string>{"r1.xml"}));
}

TEST_F(JobTest, AnInvoiceWhoseArchivedCopyFailsStaysInTheImportDirectory) {
    TRechStore broken;
    broken.InitStore(Dir("import"), Dir("gibt-es-nicht"), nullptr);
    TSGBJob job(kt, broken, auf, einr);
    job.Init("09", 0, EncodeDate(2014, 10, 1), 3, 2, Dir("temp"), Dir("export"), Dir("ArchivR"), Dir("ArchivA"));
    WriteInvoiceFile(In("import", "r.xml"), {.number = "R-1"});
    InvoiceDocument doc = InvoiceDocument::FromFile(In("import", "r.xml"));
    EXPECT_TRUE(StartsWith(ErrorOf([&] { job.AddInvoiceFile(doc, In("import", "r.xml"), "11", "72"); }),
                           "TRechStore Datei "));
    EXPECT_TRUE(FileExists(In("import", "r.xml")));
    EXPECT_EQ(broken.GetTable().RecordCount(), 0);
    EXPECT_TRUE(job.Taken().empty());
}

} // namespace
