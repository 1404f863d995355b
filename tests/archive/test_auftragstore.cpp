#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "archive/U_AuftragStore.h"
#include "billing/JobFixture.h"
#include "billing/U_SGBAuftrag.h"

using namespace brenvo;
using namespace jobtest;

namespace {

class AuftragStoreTest : public DataDirTest {
protected:
    void SetUp() override {
        DataDirTest::SetUp();
        store.InitStore(Dir("import"), Dir("ArchivA"), Dir("dakota-out"), Dir("dakota"), Dir("export"));
        store.SetCallback([this](const void* sender, const std::string& a, int64_t v, const std::string& t) {
            EXPECT_EQ(sender, &store);
            heard.push_back({a, v, t});
        });
    }

    // A new order to D1 (physical recipient P1) with its files in "ArchivA".
    TSGBAuftrag& NewOrder(const std::string& sender = kSender1, bool withFiles = true) {
        orders.push_back(std::make_unique<TSGBAuftrag>(kt));
        TSGBAuftrag& a = *orders.back();
        a.Init(sender, sender, kD1, kP1, 2, Dir("temp"), Dir("export"), counter,
               [this](const std::string& h) { return store.HasHandle(h); });
        a.SetDtaRef(1234);
        if (withFiles) {
            const std::string base = In("ArchivA", a.Handle());
            AtomicWriteFile(base, "DATEN " + a.Handle());
            AtomicWriteFile(base + ".AUF", "AUF " + a.Handle());
            AtomicWriteFile(base + ".ENC", "ENC " + a.Handle());
        }
        return a;
    }
    void Add(TSGBAuftrag& a) { store.AddOrder(a); }

    TAuftragSTore store;
    std::vector<Heard> heard;
    std::vector<std::unique_ptr<TSGBAuftrag>> orders;
    int32_t counter = 10;
};

TEST_F(AuftragStoreTest, AddOrderRecordsTheOrderAndAnnouncesIt) {
    SetFixedNow(EncodeDateTime(2024, 3, 5, 14, 22, 33, 123));
    TSGBAuftrag& a = NewOrder();
    Add(a);
    Table& t = store.GetTable();
    ASSERT_EQ(t.RecordCount(), 1);
    t.First();
    EXPECT_EQ(t.AsInteger("A_ID"), 1);
    EXPECT_EQ(t.AsString("A_HANDLE"), kD1 + "_20240305_142233123");
    EXPECT_EQ(t.AsDateTime("A_ERZEUGT"), Now());
    EXPECT_TRUE(t.IsNull("A_VERSANDT"));
    EXPECT_TRUE(t.IsNull("A_ENC"));
    EXPECT_EQ(t.AsString("A_ABS_EIGN_IK"), kSender1);
    EXPECT_EQ(t.AsString("A_EMPF_IK"), kP1);
    EXPECT_EQ(t.AsString("A_EMPF_NAME"), "Datenannahme Eins");
    EXPECT_EQ(t.AsString("A_EMPF_EMAIL"), "annahme@p1.example");
    EXPECT_EQ(t.AsString("A_TRANSFER"), "ESOL0011");
    EXPECT_EQ(t.AsString("DTAREF"), "1234");
    EXPECT_EQ(heard, (std::vector<Heard>{{"insert", 1, "ESOL0011 Datenannahme Eins"}}));

    // an older file without DTAREF still takes orders
    Table old({FieldDef::Int("A_ID"), FieldDef::Str("A_HANDLE", 40), FieldDef::Date("A_ERZEUGT"),
               FieldDef::Date("A_VERSANDT"), FieldDef::Date("A_ENC"), FieldDef::Str("A_ABS_EIGN_IK", 9),
               FieldDef::Str("A_EMPF_IK", 9), FieldDef::Str("A_EMPF_NAME", 40), FieldDef::Str("A_EMPF_EMAIL", 100),
               FieldDef::Str("A_TRANSFER", 8)});
    old.SaveToFile(In("Stammdaten", "Auftraege.xml"));
    store.Load(In("Stammdaten", "Auftraege.xml"));
    Add(NewOrder(kSender2));
    EXPECT_EQ(store.GetTable().RecordCount(), 1);
}

TEST_F(AuftragStoreTest, LoadSortsByIdAndFillOutboxAnnouncesTheUnsentOnes) {
    Table file(TAuftragSTore::DefaultFields());
    auto row = [&](int id, const std::string& transfer, bool sent, bool enc) {
        file.Append();
        file.SetInteger("A_ID", id);
        file.SetString("A_HANDLE", "H" + std::to_string(id));
        file.SetString("A_TRANSFER", transfer);
        file.SetString("A_EMPF_NAME", "Empf" + std::to_string(id));
        if (sent) file.SetDateTime("A_VERSANDT", EncodeDate(2024, 1, 2));
        if (enc) file.SetDateTime("A_ENC", EncodeDate(2024, 1, 1));
        file.Post();
    };
    row(7, "ESOL0007", false, false);
    row(3, "ESOL0003", true, false);
    row(5, "ESOL0005", false, true);
    file.SaveToFile(In("Stammdaten", "Auftraege.xml"));

    store.Load(In("Stammdaten", "Auftraege.xml"));
    EXPECT_EQ(store.LastId(), 7);
    store.FillOutbox();
    EXPECT_EQ(heard, (std::vector<Heard>{{"insert", 5, "ESOL0005 Empf5"}, {"insert", 7, "ESOL0007 Empf7"}}));

    TAuftragSTore silent;
    silent.Load(In("Stammdaten", "Auftraege.xml"));
    EXPECT_EQ(ErrorOf([&] { silent.FillOutbox(); }), "Callback muss gesetzt sein.");
}

TEST_F(AuftragStoreTest, DeletingNeedsTheCallbackAndAnnouncesDelete) {
    TSGBAuftrag& a = NewOrder();
    TSGBAuftrag& b = NewOrder();
    Add(a);
    Add(b);
    ASSERT_NE(a.Handle(), b.Handle());
    heard.clear();

    store.DeleteOrder(a);
    EXPECT_EQ(heard, (std::vector<Heard>{{"delete", 1, "null"}}));
    EXPECT_TRUE(FileExists(In("ArchivA", a.Handle()))) << "the files stay";
    EXPECT_EQ(ErrorOf([&] { store.DeleteOrder(a); }), "Cannot delete Auftrag handle=" + a.Handle());

    store.SetCallback(nullptr);
    EXPECT_EQ(ErrorOf([&] { store.DeleteOrder(b); }), "Callback muss gesetzt sein.");
    EXPECT_TRUE(store.HasHandle(b.Handle()));
    EXPECT_EQ(store.GetTable().RecordCount(), 1);
}

TEST_F(AuftragStoreTest, MarkingSentAndNotSentAnnouncesAfterPosting) {
    Add(NewOrder());
    Add(NewOrder());
    heard.clear();
    ASSERT_TRUE(store.LocateById(2));
    store.MarkSent(EncodeDateTime(2024, 3, 6, 9, 0));
    ASSERT_TRUE(store.LocateById(2));
    EXPECT_EQ(store.GetTable().AsDateTime("A_VERSANDT"), EncodeDateTime(2024, 3, 6, 9, 0));
    store.MarkNotSent();
    EXPECT_TRUE(store.GetTable().IsNull("A_VERSANDT"));
    EXPECT_EQ(heard, (std::vector<Heard>{{"emailversandt", 2, "null"}, {"emailnichtversandt", 2, "Datenannahme Eins"}}));

    store.MarkEncrypted();
    EXPECT_FALSE(store.GetTable().IsNull("A_ENC"));
    store.ClearEncrypted();
    EXPECT_TRUE(store.GetTable().IsNull("A_ENC"));

    store.SetCallback(nullptr);
    EXPECT_EQ(ErrorOf([&] { store.MarkSent(EncodeDate(2024, 3, 7)); }), "Callback muss gesetzt sein.");
    EXPECT_EQ(store.GetTable().AsDateTime("A_VERSANDT"), EncodeDate(2024, 3, 7)) << "posted before the check";
    EXPECT_FALSE(store.LocateById(99));
}

TEST_F(AuftragStoreTest, ExportHandsNewOrdersToDakotaAndSkipsEncryptedOrSent) {
    TSGBAuftrag& a = NewOrder();
    TSGBAuftrag& b = NewOrder();
    TSGBAuftrag& c = NewOrder();
    TSGBAuftrag& d = NewOrder(kSender1, false);   // files missing
    for (TSGBAuftrag* o : {&a, &b, &c, &d}) Add(*o);
    ASSERT_TRUE(store.LocateById(2));
    store.MarkEncrypted();
    ASSERT_TRUE(store.LocateById(3));
    store.MarkSent(Now());
    heard.clear();

    EXPECT_EQ(store.ExportToDakota(), 1);
    const std::string target = PathJoin(Dir("dakota"), "10900000");
    EXPECT_EQ(ReadFileBytes(PathJoin(target, a.TransferName())), "DATEN " + a.Handle());
    EXPECT_EQ(ReadFileBytes(PathJoin(target, a.TransferName() + ".AUF")), "AUF " + a.Handle());
    EXPECT_FALSE(FileExists(PathJoin(target, b.TransferName())));
    EXPECT_FALSE(FileExists(PathJoin(target, c.TransferName())));
    const std::vector<Heard> expected = {
        {"progressnolog", 100004, "Suche Dateien"},
        {"progressnolog", 200004, "Suche Dateien"},
        {"progressnolog", 300004, "Suche Dateien"},
        {"progressnolog", 400004, "Suche Dateien"},
        {"progress", 100001, "2 Datei(en) stehen zum Export an."},
        {"progress", 100004, "Auftrag 1 (" + a.TransferName() + ") zu Dakota exportiert."},
        {"progress", 400004, "Auftrag 4 NICHT zu Dakota exportiert."}};
    EXPECT_EQ(heard, expected);
    ASSERT_TRUE(store.LocateById(1));
    EXPECT_TRUE(store.GetTable().IsNull("A_VERSANDT")) << "sent only when DAKOTA reports it";

    // a second export copies the same files again
    DeleteFile(PathJoin(target, a.TransferName()));
    EXPECT_EQ(store.ExportToDakota(), 1);
    EXPECT_TRUE(FileExists(PathJoin(target, a.TransferName())));
}

TEST_F(AuftragStoreTest, PrepareEmailCopiesUnderTheTransferNameForUnsentOrdersOnly) {
    TSGBAuftrag& a = NewOrder();
    TSGBAuftrag& b = NewOrder();
    Add(a);
    Add(b);
    const std::string d = PathJoin(Dir("export"), kP1);

    TEmailData data;
    data.Extra = "bleibt";
    ASSERT_TRUE(store.LocateById(1));
    ASSERT_TRUE(store.PrepareEmail(data));
    EXPECT_EQ(data.Recipient, "annahme@p1.example");
    EXPECT_EQ(data.Extra, "bleibt");
    EXPECT_EQ(data.Subject, kSender1);
    EXPECT_EQ(data.DataFile, PathJoin(d, a.TransferName()));
    EXPECT_EQ(data.AufFile, PathJoin(d, a.TransferName() + ".AUF"));
    EXPECT_EQ(ReadFileBytes(data.DataFile), "ENC " + a.Handle()) << "the .ENC copy is what is sent";
    EXPECT_EQ(ReadFileBytes(data.AufFile), "AUF " + a.Handle());

    // an order archived without its .ENC copy sends its billing file
    DeleteFile(In("ArchivA", b.Handle() + ".ENC"));
    ASSERT_TRUE(store.LocateById(2));
    ASSERT_TRUE(store.PrepareEmail(data));
    EXPECT_EQ(ReadFileBytes(data.DataFile), "DATEN " + b.Handle());

    // sent: refused, nothing copied
    store.MarkSent(Now());
    DeleteFile(PathJoin(d, b.TransferName()));
    EXPECT_FALSE(store.PrepareEmail(data));
    EXPECT_FALSE(FileExists(PathJoin(d, b.TransferName())));

    // an order record that is missing is not mailed without it
    ASSERT_TRUE(store.LocateById(1));
    DeleteFile(In("ArchivA", a.Handle() + ".AUF"));
    EXPECT_FALSE(store.PrepareEmail(data));
}

TEST_F(AuftragStoreTest, CleanupDeletesTheFilesOfOrdersWithoutRow) {
    TSGBAuftrag& kept = NewOrder();
    Add(kept);
    const std::string orphan = kD1 + "_20230101_000000000";
    for (const char* ext : TSGBAuftrag::FileExts) AtomicWriteFile(In("ArchivA", orphan + ext), "x");
    DeleteFile(In("ArchivA", orphan + ".BGL"));
    heard.clear();

    EXPECT_EQ(store.CleanupFiles(), 5);
    for (const char* ext : TSGBAuftrag::FileExts) EXPECT_FALSE(FileExists(In("ArchivA", orphan + ext))) << ext;
    EXPECT_TRUE(FileExists(In("ArchivA", kept.Handle() + ".AUF")));
    EXPECT_EQ(heard, (std::vector<Heard>{{"progressnolog", 2, "0/1, Auftrag Löschmarke " + orphan},
                                         {"progressnolog", 100002, "1/1, Auftrag bearbeiten " + kept.Handle()},
                                         {"progressnolog", 1, "Auftrag " + orphan + " 5 Dateien gelöscht"}}));
}

TEST_F(AuftragStoreTest, PurgeRemovesOrdersCreatedBeforeTheLimit) {
    SetFixedNow(EncodeDateTime(2024, 1, 1, 8, 0));
    Add(NewOrder());
    SetFixedNow(EncodeDateTime(2024, 9, 1, 8, 0));
    Add(NewOrder());
    heard.clear();
    store.PurgeOlderThan(200);
    EXPECT_EQ(heard, (std::vector<Heard>{{"delete", 1, "null"},
                                         {"progressnolog", 100002, "1/2, Auftrag gelöscht (gelöscht 1)"},
                                         {"progressnolog", 200002, "2/2, Auftrag ignoriert (gelöscht 1)"}}));
    EXPECT_EQ(store.GetTable().IndexFieldNames(), "A_ERZEUGT");
    EXPECT_EQ(store.GetArchivePathById(1), "");
    EXPECT_EQ(store.GetArchivePathById(2), In("ArchivA", orders[1]->Handle()));
}

TEST_F(AuftragStoreTest, RebuildAddsRowsFromOrderRecordsAndPairsFromBillingFiles) {
    // an order written the way a job writes it, then forgotten by the table
    TSGBAuftrag& a = NewOrder(kSender1, false);
    const std::string billing = In("temp", a.Handle());
    AtomicWriteFile(billing, "UNB+UNOC:3+x'\r\nREC+R-7:0+20240301+1'\r\nNAM+x'\r\nREC+R-8:0+20240302+1'\r\n");
    a.SetFile(billing, "SL3456S03");
    a.WriteAuftrag();
    CopyFileTo(billing, In("ArchivA", a.Handle()), true);
    CopyFileTo(billing + ".AUF", In("ArchivA", a.Handle() + ".AUF"), true);
    // an order whose row exists, and an old record
    TSGBAuftrag& known = NewOrder();
    Add(known);
    AtomicWriteFile(In("ArchivA", "alt.AUF"), "kaputt");
    SetFileLastWriteTime(In("ArchivA", "alt.AUF"), IncDays(Now(), -30));
    heard.clear();

    std::vector<std::string> pairs{"vorher"};
    store.Rebuild(20, pairs);
    EXPECT_EQ(pairs, (std::vector<std::string>{"R-7=" + a.Handle(), "R-8=" + a.Handle()}));
    ASSERT_TRUE(store.LocateByHandle(a.Handle()));
    Table& t = store.GetTable();
    EXPECT_EQ(t.AsInteger("A_ID"), 2);
    EXPECT_EQ(t.AsString("A_TRANSFER"), a.TransferName());
    EXPECT_EQ(t.AsString("A_ABS_EIGN_IK"), kSender1);
    EXPECT_EQ(t.AsString("A_EMPF_IK"), kP1);
    EXPECT_EQ(t.AsString("A_EMPF_NAME"), "?importiert");
    EXPECT_EQ(t.AsString("A_EMPF_EMAIL"), "?importiert");
    EXPECT_EQ(FormatYYYYMMDDHHNNSS(t.AsDateTime("A_ERZEUGT")), a.CreationStamp());
    EXPECT_TRUE(t.IsNull("A_VERSANDT"));
    EXPECT_EQ(t.RecordCount(), 2) << "no row added for the known order or the old record";
    ASSERT_EQ(heard.size(), 3u) << "progress only, no insert";
    EXPECT_EQ(heard[0].text, "0/2, Auftrag bearbeiten");

    // a second rebuild finds every record known
    store.Rebuild(20, pairs);
    EXPECT_TRUE(pairs.empty());
    EXPECT_EQ(t.RecordCount(), 2);
}

TEST_F(AuftragStoreTest, SegmentElementsAreReadLikeTheBillingFilesWriteThem) {
    EXPECT_EQ(TAuftragSTore::GetSGBDataelement("REC+R-100:0+20240301+1'", 1, 0), "R-100");
    EXPECT_EQ(TAuftragSTore::GetSGBDataelement("REC+R-100:0+20240301+1'", 1, 1), "0");
    EXPECT_EQ(TAuftragSTore::GetSGBDataelement("REC+R-100:0+20240301+1'", 3, 0), "1'");
    // an empty element has no sub-element; a delimiter at the end adds one
    EXPECT_EQ(ErrorOf([] { TAuftragSTore::GetSGBDataelement("A++B", 1, 0); }),
              "GetSGBDataelement: SubelementIndex out of bound");
    EXPECT_EQ(TAuftragSTore::GetSGBDataelement("A++B", 2, 0), "B");
    EXPECT_EQ(ErrorOf([] { TAuftragSTore::GetSGBDataelement("A+", 1, 0); }),
              "GetSGBDataelement: SubelementIndex out of bound");
    EXPECT_EQ(ErrorOf([] { TAuftragSTore::GetSGBDataelement("A+", 2, 0); }),
              "GetSGBDataelement: ElementIndex out of bound");
    EXPECT_EQ(TAuftragSTore::GetSGBDataelement("REC+R 1:0", 2, 0), "1") << "a blank ends an element";
    EXPECT_EQ(TAuftragSTore::GetSGBDataelement("X+\"a+\"\"b\":c", 1, 0), "a+\"b");
    EXPECT_EQ(ErrorOf([] { TAuftragSTore::GetSGBDataelement("A+B+C", 5, 0); }),
              "GetSGBDataelement: ElementIndex out of bound");
    EXPECT_EQ(ErrorOf([] { TAuftragSTore::GetSGBDataelement("A+B:C", 1, 2); }),
              "GetSGBDataelement: SubelementIndex out of bound");
}

TEST_F(AuftragStoreTest, AufTimestampsAreReadWithOptionalTime) {
    EXPECT_EQ(TAuftragSTore::ParseAufTimestamp("20240305142233"), EncodeDateTime(2024, 3, 5, 14, 22, 33));
    EXPECT_EQ(TAuftragSTore::ParseAufTimestamp("  20240305      "), EncodeDate(2024, 3, 5));
    EXPECT_EQ(TAuftragSTore::ParseAufTimestamp("20240305xx1200"), EncodeDateTime(2024, 3, 5, 0, 12, 0));
    EXPECT_NE(ErrorOf([] { TAuftragSTore::ParseAufTimestamp("2024AB05"); }), "");
    EXPECT_NE(ErrorOf([] { TAuftragSTore::ParseAufTimestamp("20240230"); }), "") << "an impossible date";
    EXPECT_NE(ErrorOf([] { TAuftragSTore::ParseAufTimestamp(""); }), "");
}

TEST_F(AuftragStoreTest, LocatingByIdAndHandleFollowsTheTable) {
    TSGBAuftrag& a = NewOrder();
    TSGBAuftrag& b = NewOrder();
    Add(a);
    Add(b);
    Table& t = store.GetTable();
    t.SetFilter("A_ID = 1");
    t.SetFiltered(true);
    EXPECT_TRUE(store.HasHandle(b.Handle()));
    EXPECT_FALSE(store.LocateById(2)) << "hidden from the view";
    EXPECT_EQ(store.GetArchivePathById(2), In("ArchivA", b.Handle()));
    store.DeleteOrder(b);   // the job's rollback reaches hidden rows
    t.SetFiltered(false);
    EXPECT_FALSE(store.HasHandle(b.Handle()));
    ASSERT_TRUE(store.LocateByHandle(a.Handle()));
    EXPECT_EQ(store.GetArchivePath(), In("ArchivA", a.Handle()));
    t.Edit();
    t.SetString("A_HANDLE", "neu");
    t.Post();
    EXPECT_TRUE(store.LocateByHandle("neu"));
    EXPECT_FALSE(store.HasHandle(a.Handle()));
}

} // namespace
