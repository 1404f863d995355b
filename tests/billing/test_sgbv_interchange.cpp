// Whole interchanges: invoice files in, billing file, log and accompanying
// slip out, compared byte for byte with files written by hand from the
// message rules (tests/billing/data), and the limits of the segments.

#include <gtest/gtest.h>

#include <algorithm>

#include "EngineFixture.h"
#include "lib/base/Cp1252.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

using namespace brenvo;
using namespace brenvo::test;

namespace {

const std::string kHandle = "20141020_093015000";

std::string DataDir(const std::string& name) { return std::string(BRENVO_SOURCE_DIR) + "/tests/billing/data/" + name + "/"; }

// Equal bytes; otherwise the first line that differs, readable.
void ExpectSameFile(const std::string& expectedPath, const std::string& actualPath) {
    std::string expected = ReadFileBytes(expectedPath), actual = ReadFileBytes(actualPath);
    if (expected == actual) return;
    std::vector<std::string> e = Split(expected, '\n'), a = Split(actual, '\n');
    size_t i = 0;
    while (i < e.size() && i < a.size() && e[i] == a[i]) ++i;
    ADD_FAILURE() << ExtractFileName(expectedPath) << " differs at line " << i + 1 << "\n  expected: "
                  << (i < e.size() ? e[i] : "<end>") << "\n  actual:   " << (i < a.size() ? a[i] : "<end>")
                  << "\n  (sizes " << expected.size() << " and " << actual.size() << ")";
}

} // namespace

class InterchangeTest : public EngineTest {
protected:
    // Loads the files one by one as a billing job does, then checks,
    // generates and writes. Handed over: each file is loaded and checked by
    // an engine of its own, as a collective run's check does, and its records
    // are taken from there.
    void Bill(const std::string& data, const std::vector<std::string>& files, const EngineSettings& s,
              const std::string& transferName, bool handedOver = false) {
        auto e = NewEngine(s);
        e->SetHandle(kHandle);
        for (const auto& f : files) {
            InvoiceDocument doc = InvoiceDocument::FromFile(DataDir(data) + f);
            if (handedOver) {
                EngineSettings checking = s;
                checking.seed = -1;
                auto check = NewEngine(checking);
                check->LoadRechnungen(doc);
                check->CheckData();
                e->AddRecords(check->TakeRecords());
                EXPECT_TRUE(check->Rechnungen().empty());
            } else {
                e->LoadRechnungen(doc);
            }
        }
        e->CheckData();
        e->Generate();
        e->SetTransferName(transferName);
        e->WriteFiles();
        for (const char* ext : {"", ".LOG", ".BGL"})
            ExpectSameFile(DataDir(data) + kHandle + ext, dir.file(kHandle + ext));
    }

    // An engine with its handle that has generated the default invoice's interchange.
    std::unique_ptr<TSgbv> GeneratedDefaultInvoice() {
        auto e = NewEngine();
        e->SetHandle(kHandle);
        InvoiceDocument doc = BuildDocument(InvoicePlan{});
        e->LoadRechnungen(doc);
        e->CheckData();
        e->Generate();
        return e;
    }
};

// A single provider with two invoices to two cost bearers of one data
// recipient; version "09", version date 01.10.2014 (status normalised);
// co-payments per trip and flat, an approval with derived kind and cases
// without; texts to escape; a discount position; no transfer name.
TEST_F(InterchangeTest, SingleProviderTwoInvoicesVersion09) {
    Bill("einzel_v09", {"rechnung1.xml", "rechnung2.xml"},
         EngineSettings{.version = "09", .versionDate = EncodeDate(2014, 10, 1), .sender = "510123456",
                        .recipient = "109910014", .number = 10, .seed = 5, .kind = 0, .testIndicator = 1},
         "");
}

// Records taken over from the engines that checked them bill byte for byte
// as if loaded here: sums are not counted twice, the log keeps its order.
// They are checked again against the engine's own recipient.
TEST_F(InterchangeTest, RecordsHandedOverFromTheCheckBillAsIfLoadedHere) {
    Bill("einzel_v09", {"rechnung1.xml", "rechnung2.xml"},
         EngineSettings{.version = "09", .versionDate = EncodeDate(2014, 10, 1), .sender = "510123456",
                        .recipient = "109910014", .number = 10, .seed = 5, .kind = 0, .testIndicator = 1},
         "", true);
    Bill("zentrum_v06", {"rechnung.xml"},
         EngineSettings{.version = "06", .versionDate = EncodeDate(2014, 9, 29), .sender = "330123456",
                        .recipient = "109910025", .number = 9, .seed = 42, .kind = 1, .testIndicator = 2},
         "ESOL0042", true);

    auto check = NewEngine();
    InvoiceDocument doc = BuildDocument(InvoicePlan{});
    check->LoadRechnungen(doc);
    auto other = NewEngine(EngineSettings{.recipient = "109910025"});
    EXPECT_TRUE(StartsWith(ErrorOf([&] { other->AddRecords(check->TakeRecords()); }),
                           "TSGBV Rechnung: Daten-Empfaenger kann nicht bestätigt werden. Angegeben=109910025"));
}

// A billing centre's invoice with single invoices 1 and 2 of two providers,
// one case with trips of both; version "06", version date 29.09.2014
// (status keys from the fifth character); a file in windows-1252 without
// GenArt.
TEST_F(InterchangeTest, BillingCentreWithTwoSingleInvoicesVersion06) {
    Bill("zentrum_v06", {"rechnung.xml"},
         EngineSettings{.version = "06", .versionDate = EncodeDate(2014, 9, 29), .sender = "330123456",
                        .recipient = "109910025", .number = 9, .seed = 42, .kind = 1, .testIndicator = 2},
         "ESOL0042");
}

TEST_F(InterchangeTest, TripNumberLimitDependsOnTheVersion) {
    InvoicePlan r;
    CasePlan& c = r.faelle[0];
    c.fahrten.assign(100, TripPlan{});
    auto generate = [&](const std::string& version) {
        return ErrorOf([&] {
            auto e = NewEngine(EngineSettings{.version = version});
            InvoiceDocument doc = BuildDocument(r);
            e->LoadRechnungen(doc);
            e->Generate();
        });
    };
    EXPECT_EQ(generate("06"), "TSGBV Wert zu lang. Len=2 Name=KTL.02 Value=100");
    EXPECT_EQ(generate("07"), "");
}

TEST_F(InterchangeTest, EscapingCanMakeATextTooLong) {
    InvoicePlan r;
    r.faelle[0].nachname = "O'" + std::string(45, 'x');   // 47 characters, 48 escaped
    auto e = NewEngine();
    InvoiceDocument doc = BuildDocument(r);
    e->LoadRechnungen(doc);
    EXPECT_EQ(ErrorOf([&] { e->Generate(); }),
              "TSGBV Wert zu lang. Len=47 Name=NAD.02 Value=O?'" + std::string(45, 'x'));
}

TEST_F(InterchangeTest, ApprovalKindOnlyFromVersion08AndSmallNegativeAmountsWithSign) {
    InvoicePlan r;
    r.faelle[0].genZeich = "G1";
    r.faelle[0].genDatum = EncodeDate(2014, 9, 1);
    r.faelle[0].fahrten[0].positionen.push_back(PositionPlan{"46ABCDE", "9", 1, -0.5, ""});
    auto segmentsFor = [&](const std::string& version) {
        auto e = NewEngine(EngineSettings{.version = version});
        InvoiceDocument doc = BuildDocument(r);
        e->LoadRechnungen(doc);
        e->Generate();
        return e->SegmentsText();
    };
    std::string v08 = segmentsFor("08");
    EXPECT_TRUE(Contains(v08, "\r\nSKZ+G1+20140901+E1'\r\n"));
    EXPECT_TRUE(Contains(v08, "\r\nEKT+46:ABCDE+9+1,00+-0,50+20141006+12,00+0800+0830+30'\r\n"));
    EXPECT_TRUE(Contains(v08, "\r\nBES+9,50+0,00'\r\n"));
    EXPECT_TRUE(Contains(segmentsFor("07"), "\r\nSKZ+G1+20140901'\r\n"));
    r.faelle[0].genDatum = TDateTime();
    EXPECT_FALSE(Contains(segmentsFor("07"), "SKZ"));
}

TEST_F(InterchangeTest, AFailingSlipLeavesNoFilesBehind) {
    auto e = GeneratedDefaultInvoice();
    // The cost bearer disappears from the directory before the slip asks.
    store.KTBase().SetFilter("K_IK <> '103330011'");
    store.KTBase().SetFiltered(true);
    EXPECT_EQ(ErrorOf([&] { e->WriteFiles(); }), "Kein Kostentraeger gefunden für IK=103330011");
    EXPECT_TRUE(ListFiles(dir.path(), "*").empty());
}

TEST_F(InterchangeTest, DirectoryTextsThatWindows1252CannotHoldBecomeQuestionMarksOnTheSlip) {
    // The cost bearer's short name carries a typographic hyphen (U+2010); it
    // stands on the slip twice, as cost bearer and as health insurer.
    Table& base = store.KTBase();
    ASSERT_TRUE(base.Locate("K_IK", {Value("103330011")}));
    base.Edit();
    base.SetString("KT_KURZBEZ", "EK\u2010Gärtner");
    base.Post();

    auto e = GeneratedDefaultInvoice();
    e->WriteFiles();
    const std::string slip = ReadCp1252Text(dir.file(kHandle + ".BGL"));
    EXPECT_TRUE(Contains(slip, "     Kostenträger  103330011 EK?Gärtner\r\n")) << slip;
    EXPECT_TRUE(Contains(slip, "     Krankenkasse  103330011 EK?Gärtner\r\n"));
    const std::vector<std::string> log = ReadCp1252Lines(dir.file(kHandle + ".LOG"));
    const auto named = std::count_if(log.begin(), log.end(), [](const std::string& l) {
        return Contains(l, "103330011") && Contains(l, "Begleitzettel");
    });
    EXPECT_EQ(named, 1) << Join(log, "\n");
}
