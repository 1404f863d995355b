#include <gtest/gtest.h>

#include <cmath>

#include "DakotaTestKit.h"
#include "dakota/U_Dakota.h"
#include "dakota/U_Extprocess.h"
#include "dakota/dbx_access_connect.h"
#include "dakota/dm_dakota.h"
#include "lib/base/Error.h"
#include "lib/base/Format.h"

using namespace brenvo;
using namespace dakota_test;
using namespace std::chrono_literals;

namespace {

struct ProtocolFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_FALSE(OdbcSetup::Get().Driver().empty()) << "SQLite ODBC driver (libsqliteodbc) not installed";
        OdbcSetup::Get().ResetTable();
    }

    // One protocol row, written as DAKOTA writes it.
    void Insert(const std::string& index, int pnr, TDateTime datum, bool ok, const std::string& versenden,
                const std::string& aktion = "V") {
        OdbcEnvironment env;
        OdbcConnection conn(env);
        conn.Connect(std::string("DSN=") + OdbcSetup::Dsn + ";");
        OdbcStatement st(conn);
        st.Prepare("INSERT INTO tblProtokoll (\"INDEX\", PNR, DATUM, ERGEBNIS, Versenden, AKTION, DATEINAME) "
                   "VALUES (?, ?, ?, ?, ?, ?, ?)");
        st.BindText(1, index);
        st.BindInt(2, pnr);
        st.BindTimestamp(3, datum);
        st.BindInt(4, ok ? 1 : 0);
        st.BindText(5, versenden);
        st.BindText(6, aktion);
        st.BindText(7, index.substr(0, 8));
        st.Execute();
    }

    TdmDakota dm;
    std::string reason;
};

const TDateTime Created = EncodeDateTime(2014, 10, 15, 12, 0);

} // namespace

TEST(ProtocolConnectionTest, ConnectionStringsForAFileAndADataSource) {
    const std::string options = "DriverId=25;FIL=MS Access;MaxBufferSize=2048;PageTimeout=17;coSafeMode=1;"
                                "coBlobFragmntns=1;coEnableUnicode=0;";
    EXPECT_EQ(AccessFileConnectionString("/daten/dakota/Protokoll.mdb"),
              "DRIVER={Microsoft Access Driver (*.mdb)};DBQ=/daten/dakota/Protokoll.mdb;" + options);
    EXPECT_EQ(AccessDsnConnectionString("DakotaProt"), "DSN=DakotaProt;" + options);
    // a long path is never cut short
    std::string longPath = "/" + std::string(300, 'p') + ".mdb";
    EXPECT_NE(AccessFileConnectionString(longPath).find(longPath + ";"), std::string::npos);
}

TEST(ProtocolConnectionTest, OpenProtocolRefusesEmptyAndMissingSourcesWithTheirReasons) {
    OdbcSetup::Get();
    TempDir tmp;
    TdmDakota dm;
    std::string reason;
    EXPECT_FALSE(dm.OpenProtocol("   ", reason));
    EXPECT_EQ(reason, "Keine Zugriffs-Information verfügbar. ");
    for (const std::string name : {"prot.mdb", "PROT.MDB", "Mdb-Protokoll.dat"}) {
        EXPECT_FALSE(dm.OpenProtocol(tmp.file(name), reason));
        EXPECT_EQ(reason, "Datei " + tmp.file(name) + " nicht gefunden.");
    }
    EXPECT_FALSE(dm.Active());
    // without "MDB" the source is a data source name, whatever it looks like
    EXPECT_FALSE(dm.OpenProtocol("prot.accdb", reason));
    EXPECT_TRUE(Contains(reason, "[IM002]")) << reason;   // the driver manager's own message
    EXPECT_FALSE(dm.OpenProtocol("KeineSolcheQuelle", reason));
    EXPECT_TRUE(Contains(reason, "Data source name not found")) << reason;
}

TEST_F(ProtocolFixture, OpenProtocolReadsTheRowsAndNamesAMissingColumn) {
    Insert("ESOL0001  ", 1, Created, true, "15.10.2014 14:05:03");
    ASSERT_TRUE(dm.OpenProtocol(OdbcSetup::Dsn, reason)) << reason;
    EXPECT_TRUE(reason.empty());
    ASSERT_EQ(dm.RecordCount(), 1u);
    dm.First();
    const TProtocolRow& r = dm.Current();
    EXPECT_EQ(r.INDEX, "ESOL0001");   // trailing blanks are cut
    EXPECT_EQ(r.PNR, "1");
    EXPECT_EQ(r.DATUM, Created);
    EXPECT_TRUE(r.ERGEBNIS);
    EXPECT_EQ(r.Versenden, "15.10.2014 14:05:03");
    EXPECT_EQ(r.AKTION, "V");
    EXPECT_EQ(r.DATEINAME, "ESOL0001");
    dm.CloseProtocol();
    EXPECT_FALSE(dm.Active());

    OdbcSetup::Get().Execute("DROP TABLE tblProtokoll");
    OdbcSetup::Get().Execute("CREATE TABLE tblProtokoll (\"INDEX\" TEXT, PNR INTEGER, DATUM TIMESTAMP, "
                             "ERGEBNIS BIT, Versenden TEXT)");
    EXPECT_FALSE(dm.OpenProtocol(OdbcSetup::Dsn, reason));
    EXPECT_EQ(reason, "Feld 'AKTION' nicht gefunden");
    OdbcSetup::Get().Execute("DROP TABLE tblProtokoll");
    EXPECT_FALSE(dm.OpenProtocol(OdbcSetup::Dsn, reason));
    EXPECT_TRUE(Contains(reason, "no such table")) << reason;
}

TEST_F(ProtocolFixture, FindTransferResultInsideAndOutsideTheTwoDayWindow) {
    Insert("ESOL0001", 1, IncDays(Created, 1.9), true, "16.10.2014 08:30:00");
    Insert("ESOL0002", 1, IncDays(Created, -3), true, "12.10.2014 08:30:00");   // three days before
    Insert("ESOL0003", 1, IncDays(Created, 2), true, "17.10.2014 12:00:00");    // exactly two days: outside
    Insert("ESOL0004", 1, IncDays(Created, -2), true, "13.10.2014 12:00:00");
    Insert("ESOL0005", 1, TDateTime(), true, "15.10.2014 12:00:00");             // no date at all
    ASSERT_TRUE(dm.OpenProtocol(OdbcSetup::Dsn, reason)) << reason;

    TDateTime sent;
    EXPECT_EQ(dm.FindTransferResult("ESOL0001", Created, sent), TransferSent);
    EXPECT_EQ(sent, EncodeDateTime(2014, 10, 16, 8, 30));
    for (const char* n : {"ESOL0002", "ESOL0003", "ESOL0004", "ESOL0005", "ESOL0009", "ESOL000", "ESOL00011"}) {
        EXPECT_EQ(dm.FindTransferResult(n, Created, sent), TransferNotFound) << n;
        EXPECT_TRUE(sent.IsNull()) << n;
    }
    // the order created three days later finds the row of ESOL0002 too far back, the one a day later in reach
    EXPECT_EQ(dm.FindTransferResult("ESOL0002", IncDays(Created, -4), sent), TransferSent);
}

TEST_F(ProtocolFixture, FindTransferResultWithFailedTransfersUnreadableTimesAndTheRowOrder) {
    Insert("ESOL0001", 1, Created, false, "15.10.2014 14:00:00");
    Insert("ESOL0002", 1, Created, true, "kein Datum");
    Insert("ESOL0003", 1, Created, true, "");
    // several rows of one transfer: the first by INDEX, then PNR as a number, in the window decides
    Insert("ESOL0004", 10, Created, false, "");
    Insert("ESOL0004", 9, IncDays(Created, 5), false, "");   // outside: skipped
    Insert("ESOL0004", 8, Created, true, "15.10.2014 13:00:00");
    Insert("ESOL0005-B", 1, Created, false, "");
    Insert("ESOL0005-A", 2, Created, true, "15.10.2014 16:45");
    // a failed transfer that DAKOTA repeated with success
    Insert("ESOL0006", 1, Created, false, "");
    Insert("ESOL0006", 2, Created, true, "kaputt");
    Insert("ESOL0006", 3, IncDays(Created, 0.1), true, "15.10.2014 17:10:00");
    ASSERT_TRUE(dm.OpenProtocol(OdbcSetup::Dsn, reason)) << reason;

    TDateTime sent;
    EXPECT_EQ(dm.FindTransferResult("ESOL0001", Created, sent), TransferFailed);
    EXPECT_EQ(dm.FindTransferResult("ESOL0002", Created, sent), TransferFailed);
    EXPECT_EQ(dm.FindTransferResult("ESOL0003", Created, sent), TransferFailed);
    EXPECT_TRUE(sent.IsNull());
    EXPECT_EQ(dm.FindTransferResult("ESOL0004", Created, sent), TransferSent);
    EXPECT_EQ(sent, EncodeDateTime(2014, 10, 15, 13, 0));
    EXPECT_EQ(dm.FindTransferResult("ESOL0005", Created, sent), TransferSent);
    EXPECT_EQ(sent, EncodeDateTime(2014, 10, 15, 16, 45));
    EXPECT_EQ(dm.FindTransferResult("ESOL0006", Created, sent), TransferSent);
    EXPECT_EQ(sent, EncodeDateTime(2014, 10, 15, 17, 10));
    // the rows keep the database's order for walking
    dm.First();
    EXPECT_EQ(dm.Current().INDEX, "ESOL0001");
}

TEST_F(ProtocolFixture, DeletingRowsWalksOnAndWritesBackOnlyTheDeletedOnes) {
    const TDateTime old = IncDays(Now(), -300), recent = IncDays(Now(), -10);
    Insert("ALT00001", 1, old, true, "");
    Insert("ALT00002", 2, old, true, "");
    Insert("ALT00003", 3, old, true, "", "K");
    Insert("ALT00004", 4, old, true, "");
    Insert("NEU00001", 5, recent, true, "");
    ASSERT_TRUE(dm.OpenProtocol(OdbcSetup::Dsn, reason)) << reason;
    EXPECT_EQ(dm.RecordCount(), 5u);

    // old "V" rows from the first on, up to the first other one
    const TDateTime limit = IncDays(Now(), -200);
    int deleted = 0;
    dm.First();
    while (!dm.Eof()) {
        if (dm.Current().AKTION != "V" || !(dm.Current().DATUM < limit)) break;
        dm.Delete();
        ++deleted;
    }
    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(dm.Current().INDEX, "ALT00003");
    EXPECT_EQ(dm.RecordCount(), 3u);
    EXPECT_EQ(dm.ChangeCount(), 2u);
    TDateTime sent;
    EXPECT_EQ(dm.FindTransferResult("ALT00001", old, sent), TransferNotFound);   // deleted rows are gone
    dm.ApplyProtocolChanges();
    EXPECT_EQ(dm.ChangeCount(), 0u);
    dm.ApplyProtocolChanges();   // nothing left to write
    dm.CloseProtocol();

    ASSERT_TRUE(dm.OpenProtocol(OdbcSetup::Dsn, reason)) << reason;
    std::vector<std::string> left;
    for (dm.First(); !dm.Eof(); dm.Next()) left.push_back(dm.Current().INDEX);
    EXPECT_EQ(left, (std::vector<std::string>{"ALT00003", "ALT00004", "NEU00001"}));
}

TEST_F(ProtocolFixture, AFailedWriteBackReportsTheErrorAndDeletesNothing) {
    const TDateTime old = IncDays(Now(), -300);
    Insert("ALT00001", 1, old, true, "");
    Insert("ALT00002", 2, old, true, "");
    ASSERT_TRUE(dm.OpenProtocol(OdbcSetup::Dsn, reason)) << reason;
    dm.First();
    dm.Delete();
    dm.Delete();
    EXPECT_TRUE(dm.Eof());
    // meanwhile DAKOTA changes the second row
    OdbcSetup::Get().Execute("UPDATE tblProtokoll SET AKTION = 'K' WHERE PNR = 2");
    try {
        dm.ApplyProtocolChanges();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Protokolleintrag ALT00002 nicht gefunden oder geändert.");
    }
    EXPECT_EQ(dm.ChangeCount(), 2u);
    dm.CloseProtocol();
    ASSERT_TRUE(dm.OpenProtocol(OdbcSetup::Dsn, reason)) << reason;
    EXPECT_EQ(dm.RecordCount(), 2u);   // the first deletion went back too

    dm.First();
    dm.Delete();
    OdbcSetup::Get().Execute("DROP TABLE tblProtokoll");
    try {
        dm.ApplyProtocolChanges();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_TRUE(Contains(e.what(), "no such table")) << e.what();
    }
}

TEST_F(ProtocolFixture, TheStandInWritesRowsThatTheProtocolFinds) {
    StandIn s;
    s.Configure("PROTOCOL=" + std::string(OdbcSetup::Dsn) + "\nFAIL=ESOL0002\n");
    s.AddOrder("10101010", "ESOL0001");
    s.AddOrder("10101010", "ESOL0002");
    s.AddOrder("30303030", "ESOL0003");
    const TDateTime created = Now();
    TExtProcess p("'" + s.program + "' -x", false);
    EXPECT_EQ(p.RunAndWait(30000, true), 0);

    ASSERT_TRUE(dm.OpenProtocol(OdbcSetup::Dsn, reason)) << reason;
    EXPECT_EQ(dm.RecordCount(), 3u);
    TDateTime sent;
    EXPECT_EQ(dm.FindTransferResult("ESOL0001", created, sent), TransferSent);
    EXPECT_LT(std::fabs(sent.Value() - created.Value()), 1.0 / 24);
    EXPECT_EQ(dm.FindTransferResult("ESOL0002", created, sent), TransferFailed);
    EXPECT_EQ(dm.FindTransferResult("ESOL0003", created, sent), TransferSent);
    EXPECT_EQ(dm.FindTransferResult("ESOL0003", IncDays(created, 3), sent), TransferNotFound);
    for (dm.First(); !dm.Eof(); dm.Next()) {
        EXPECT_EQ(dm.Current().AKTION, "V");
        EXPECT_EQ(dm.Current().DATEINAME, dm.Current().INDEX);
    }
}

TEST(ProtocolDateTest, DateTextsOfTheProtocolDatabases) {
    EXPECT_EQ(ParseProtocolDateTime("15.10.2014 14:05:03"), EncodeDateTime(2014, 10, 15, 14, 5, 3));
    EXPECT_EQ(ParseProtocolDateTime("5.1.2014"), EncodeDate(2014, 1, 5));
    EXPECT_EQ(ParseProtocolDateTime("05.01.2014 7:05"), EncodeDateTime(2014, 1, 5, 7, 5));
    EXPECT_EQ(ParseProtocolDateTime("2014-10-15 14:05:03.250"), EncodeDateTime(2014, 10, 15, 14, 5, 3, 250));
    EXPECT_EQ(ParseProtocolDateTime("2014-10-15T14:05:03"), EncodeDateTime(2014, 10, 15, 14, 5, 3));
    EXPECT_EQ(ParseProtocolDateTime("2014-10-15"), EncodeDate(2014, 10, 15));
    EXPECT_EQ(ParseProtocolDateTime("10/15/14 14:05:03"), EncodeDateTime(2014, 10, 15, 14, 5, 3));
    EXPECT_EQ(ParseProtocolDateTime("10/15/1999"), EncodeDate(1999, 10, 15));
    for (const char* bad : {"", "kein Datum", "31.02.2014", "15.10.14", "15.10.2014 25:00", "2014-10-15 x",
                            "15.10.2014 14:05:03 Uhr", "1410152014"})
        EXPECT_FALSE(ParseProtocolDateTime(bad).has_value()) << bad;
}
