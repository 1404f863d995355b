#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "billing/JobFixture.h"
#include "billing/U_SGBAuftrag.h"
#include "lib/base/Cp1252.h"
#include "lib/base/Format.h"

using namespace brenvo;
using namespace jobtest;

namespace {

class AuftragTest : public DataDirTest {
protected:
    // An initialised order to D1/P1 from sender 1.
    void InitOrder(TSGBAuftrag& a, int testIndicator = 2, const TSGBAuftrag::HandleTaken& taken = {}) {
        a.Init(kSender1, kSender1, kD1, kP1, testIndicator, Dir("temp"), Dir("export"), counter, taken);
    }
    // Writes a billing file named after the order's handle into "temp".
    std::string WriteBillingFile(const TSGBAuftrag& a, const std::string& content = "UNB+UNOC:3'\r\n") {
        std::string path = In("temp", a.Handle());
        AtomicWriteFile(path, content);
        return path;
    }
    static std::string At(const std::string& record, int pos, int width) {
        return record.substr(size_t(pos - 1), size_t(width));
    }

    int32_t counter = 41;
};

TEST_F(AuftragTest, InitRefusesBadIKsAndDirectoriesWithTheExactMessages) {
    struct Case {
        std::string absEigner, absPhys, empfEigner, empfPhys, in, out;
        int test;
        std::string message;
    };
    const std::string t = Dir("temp"), e = Dir("export");
    const std::vector<Case> cases = {
        {"12345678", kSender1, kD1, kP1, t, e, 2, "TSGBAuftrag Init absEignerIK "},
        {"12345678X", kSender1, kD1, kP1, t, e, 2, "TSGBAuftrag Init absEignerIK "},
        {kSender1, "1234567890", kD1, kP1, t, e, 2, "TSGBAuftrag Init absPhysIK "},
        {kSender1, kSender1, "10900000", kP1, t, e, 2, "TSGBAuftrag Init EmpfEignerIK "},
        {kSender1, kSender1, "10900000A", kP1, t, e, 2, "TSGBAuftrag Init EmpfEignerIK  "},
        {kSender1, kSender1, kD1, "10900000", t, e, 2, "TSGBAuftrag Init EmpfPhys "},
        {kSender1, kSender1, kD1, "10900000A", t, e, 2, "TSGBAuftrag Init EmpfPhys "},
        {kSender1, kSender1, kD1, kP1, Dir("fehlt"), e, 2, "TSGBAuftrag Init InPath "},
        {kSender1, kSender1, kD1, kP1, t, Dir("fehlt"), 2, "TSGBAuftrag Init OutPath "},
        {kSender1, kSender1, kD1, kP1, t, e, 3, "TSGBAuftrag Init Testindikator unbekannt"},
        // the physical recipient needs an e-mail row valid today
        {kSender1, kSender1, kD3, kP3, t, e, 2, "TSGBKTSTore GetEmailAddr. Email-Satz nicht gefunden. IK=" + kP3},
    };
    for (const Case& c : cases) {
        TSGBAuftrag a(kt);
        int32_t n = 41;
        EXPECT_EQ(ErrorOf([&] { a.Init(c.absEigner, c.absPhys, c.empfEigner, c.empfPhys, c.test, c.in, c.out, n); }),
                  c.message);
        EXPECT_EQ(n, 41) << "a refused order draws no transfer number: " << c.message;
        EXPECT_FALSE(a.Initialised());
    }
}

TEST_F(AuftragTest, TransferNumberAdvancesTheCounterAndWrapsFrom999To1) {
    TSGBAuftrag a(kt);
    InitOrder(a, 2);
    EXPECT_EQ(counter, 42);
    EXPECT_EQ(a.TransferNumber(), 42);
    EXPECT_EQ(a.TransferName(), "ESOL0042");
    EXPECT_EQ(a.EmpfName(), "Datenannahme Eins");
    EXPECT_EQ(a.EmpfEmail(), "annahme@p1.example");

    counter = 999;
    TSGBAuftrag b(kt);
    InitOrder(b, 1);   // "Erprobung" is a test procedure too
    EXPECT_EQ(counter, 1);
    EXPECT_EQ(b.TransferName(), "TSOL0001");

    counter = 998;
    TSGBAuftrag c(kt);
    InitOrder(c, 0);
    EXPECT_EQ(c.TransferName(), "TSOL0999");

    // A counter that holds no valid number starts again at 1.
    counter = -7;
    TSGBAuftrag d(kt);
    InitOrder(d, 2);
    EXPECT_EQ(d.TransferName(), "ESOL0001");
}

TEST_F(AuftragTest, HandleIsRecipientAndCreationMomentToTheMillisecond) {
    SetFixedNow(EncodeDateTime(2024, 3, 5, 14, 22, 33, 123));
    TSGBAuftrag a(kt);
    InitOrder(a);
    EXPECT_EQ(a.Handle(), kD1 + "_20240305_142233123");
}

TEST_F(AuftragTest, SetFileChecksInitialisationHandleAndFileInThisOrder) {
    TSGBAuftrag fresh(kt);
    EXPECT_EQ(ErrorOf([&] { fresh.SetFile(In("temp", "x"), "SL1234S03"); }), "TSGBAuftrag nicht initialisiert ");

    TSGBAuftrag a(kt);
    InitOrder(a);
    // The handle test comes before the file is looked at: neither file exists.
    EXPECT_EQ(ErrorOf([&] { a.SetFile(In("temp", "anderer_name"), "SL1234S03"); }),
              "TSGBAuftrag Dateiname und Handle passen nicht zusammen.");
    EXPECT_EQ(ErrorOf([&] { a.SetFile(In("temp", a.Handle()), "SL1234S03"); }), "TSGBAuftrag Datei existiert nicht.");
    EXPECT_EQ(ErrorOf([&] { a.WriteAuftrag(); }), "TSGBAuftrag Datei existiert nicht.");
}

TEST_F(AuftragTest, SetFileMakesTheEncCopyReplacingAnOlderOne) {
    TSGBAuftrag a(kt);
    InitOrder(a);
    std::string path = WriteBillingFile(a, "UNB+0123456789'\r\n");
    AtomicWriteFile(path + ".ENC", "eine alte, laengere Kopie, die nicht mehr gilt");
    a.SetFile(path, "SL3456S03");
    EXPECT_EQ(ReadFileBytes(path + ".ENC"), "UNB+0123456789'\r\n");
    EXPECT_EQ(a.FileSize(), 17);
    EXPECT_EQ(a.TransferSize(), 17);
    EXPECT_EQ(a.LogicalFileName(), "  SL3456S03");
}

TEST_F(AuftragTest, RecordHoldsEveryTokenAtItsPlace) {
    SetFixedNow(EncodeDateTime(2024, 3, 5, 14, 22, 33, 123));
    TSGBAuftrag a(kt);
    InitOrder(a, 2);
    std::string path = WriteBillingFile(a, std::string(1234, 'x'));
    a.SetFile(path, "SL3456S03");
    a.WriteAuftrag();

    const std::string rec = ReadFileBytes(path + ".AUF");
    ASSERT_EQ(rec.size(), 348u) << "exactly 348 bytes, no line end";
    EXPECT_EQ(rec, a.Record());
    EXPECT_EQ(At(rec, 1, 6), "500000");
    EXPECT_EQ(At(rec, 7, 2), "01");
    EXPECT_EQ(At(rec, 9, 8), "00000348");
    EXPECT_EQ(At(rec, 17, 3), "000");
    EXPECT_EQ(At(rec, 20, 8), "ESOL0042");
    EXPECT_EQ(At(rec, 28, 5), "     ");
    EXPECT_EQ(At(rec, 33, 15), kSender1 + "      ");
    EXPECT_EQ(At(rec, 48, 15), kSender1 + "      ");
    EXPECT_EQ(At(rec, 63, 15), kD1 + "      ");
    EXPECT_EQ(At(rec, 78, 15), kP1 + "      ");
    EXPECT_EQ(At(rec, 93, 12), "000000000000");
    EXPECT_EQ(At(rec, 105, 11), "  SL3456S03");
    EXPECT_EQ(At(rec, 130, 14), "20240305142233");   // transfer start: now, local time
    EXPECT_EQ(At(rec, 144, 28), std::string(28, '0'));
    EXPECT_EQ(At(rec, 172, 7), "0000000");
    EXPECT_EQ(At(rec, 179, 12), "000000001234");
    EXPECT_EQ(At(rec, 191, 12), "000000001234");
    EXPECT_EQ(At(rec, 203, 2), "I7");
    EXPECT_EQ(At(rec, 205, 6), "000000");
    EXPECT_EQ(At(rec, 211, 3), "   ");
    EXPECT_EQ(At(rec, 214, 13), std::string(13, '0'));
    EXPECT_EQ(At(rec, 227, 3), "000");
    EXPECT_EQ(At(rec, 230, 17), std::string(17, '0')) << "the delay token is overwritten by the error token";
    EXPECT_EQ(At(rec, 247, 102), std::string(102, ' '));
    EXPECT_EQ(rec.find_first_of("\r\n"), std::string::npos);
}

TEST_F(AuftragTest, CreationStampIsTheBillingFilesTimeInUtc) {
    // Berlin is one or two hours ahead of UTC all year, so a stamp in local
    // time would differ from the UTC clock by at least an hour.
    const char* oldTz = std::getenv("TZ");
    std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    TSGBAuftrag a(kt);
    InitOrder(a);
    std::string path = WriteBillingFile(a);
    std::time_t before = std::time(nullptr);
    a.SetFile(path, "SL3456S03");
    a.WriteAuftrag();
    if (oldTz) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();

    std::string stamp = At(ReadFileBytes(path + ".AUF"), 116, 14);
    std::tm tm{};
    ASSERT_TRUE(strptime(stamp.c_str(), "%Y%m%d%H%M%S", &tm)) << stamp;
    std::time_t stampAsUtc = timegm(&tm);
    EXPECT_LE(std::abs(double(stampAsUtc - before)), 5.0) << stamp;
}

TEST_F(AuftragTest, TokenLogHasOneLinePerTokenWithLabelFilledTo30) {
    TSGBAuftrag a(kt);
    InitOrder(a);
    a.SetFile(WriteBillingFile(a), "SL3456S03");
    a.WriteAuftrag();
    std::vector<std::string> lines = ReadCp1252Lines(a.BillingFile() + ".AUF.LOG");
    ASSERT_EQ(lines.size(), 37u);
    EXPECT_EQ(lines[0], "001 Identifikator" + std::string(17, ' ') + " *500000*");
    EXPECT_EQ(lines[4], "020 VerfahrenKennung" + std::string(14, ' ') + " *ESOL0*");
    // the label keeps its five trailing blanks inside the 30 characters
    EXPECT_EQ(lines[32], "232 VersandDelay" + std::string(18, ' ') + " *0000000000*");
    EXPECT_EQ(lines[33], "241 Fehler" + std::string(24, ' ') + " *000000*");
    EXPECT_EQ(lines[36], "319 DateiZusatzinfo" + std::string(15, ' ') + " *" + std::string(30, ' ') + "*");
    std::string raw = ReadFileBytes(a.BillingFile() + ".AUF.LOG");
    EXPECT_TRUE(EndsWith(raw, "*\r\n"));
}

TEST_F(AuftragTest, PutTokenRefusesWrongWidthAndOverlongRecords) {
    TSGBAuftrag a(kt);
    EXPECT_EQ(ErrorOf([&] { a.PutToken(1, "50000", "Identifikator", 6); }),
              "TSGBAuftrag Tokenlänge stimmt nicht.Identifikator");
    EXPECT_EQ(ErrorOf([&] { a.PutToken(340, "1234567890", "Zuviel", 10); }), "TSGBAuftrag wird zu lang bei Zuviel");
    a.PutToken(339, "1234567890", "Passt", 10);
    EXPECT_EQ(a.Record().substr(338), "1234567890");
    EXPECT_EQ(a.Record().size(), 348u);
}

// Two orders created in the same millisecond would share a handle and
// overwrite each other's files; the moment moves on instead.
TEST_F(AuftragTest, HandleMovesOnByAMillisecondWhileTaken) {
    SetFixedNow(EncodeDateTime(2024, 3, 5, 14, 22, 33, 998));
    // files of that handle lie in the temporary directory already
    AtomicWriteFile(In("temp", kD1 + "_20240305_142233998.AUF"), "x");
    // and the next moment is taken elsewhere (the job says so)
    std::vector<std::string> asked;
    TSGBAuftrag a(kt);
    InitOrder(a, 2, [&](const std::string& h) {
        asked.push_back(h);
        return h == kD1 + "_20240305_142233999";
    });
    EXPECT_EQ(a.Handle(), kD1 + "_20240305_142234000");
    EXPECT_EQ(asked, (std::vector<std::string>{kD1 + "_20240305_142233999", kD1 + "_20240305_142234000"}));
}

} // namespace
