#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "billing/InvoiceDocument.h"
#include "TariffBuilder.h"
#include "common/TempDir.h"
#include "entry/MoneyRules.h"
#include "entry/dm_verwaltung.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/UserInterface.h"

using namespace brenvo;
using brenvo::test::AddTarif;

namespace {

// Records what the rules tell the user.
class RecordingUi : public IUserInterface {
public:
    void ShowMessage(MessageKind kind, const std::string& text, const std::string&) override {
        messages.emplace_back(kind, text);
    }
    Answer Ask(MessageKind, const std::string&, const std::vector<Answer>&, const std::string&) override {
        ADD_FAILURE() << "no question expected";
        return Answer::Cancel;
    }
    bool InputQuery(const std::string&, const std::vector<std::string>&, const std::string&, std::string&) override {
        ADD_FAILURE() << "no input expected";
        return false;
    }
    void ShowText(const std::string&, const std::string&) override {}

    std::vector<std::pair<MessageKind, std::string>> messages;
};

const std::string kNurPflichtig =
    "Zuzahlung kann nur eingegeben werden wenn in der Verordnung\rdas <Zuzahlungspflichtig> angegeben wurde!\r\r ";
const std::string kMindestens = "Zuzahlung mindestens 5 €!\r\r ";
const std::string kHoechstens = "Zuzahlung höchstens 10 €!\r\r ";

struct Pos {
    std::string posNum;
    double menge;
    double ePreis;
};

// Position numbers of the test tariffs.
const char* const K = "1001";    // km, 1.50
const char* const P = "1002";    // flat rate, 5.00
const char* const W = "1003";    // waiting time
const char* const S = "1004";    // other
const char* const T = "1005";    // meter price
const char* const X = "1009";    // 10 % discount
const char* const K2 = "2001";   // km from the 11th km on
const char* const X5 = "2009";   // 5 % discount

class MoneyRulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dm.OpenTarife();
        Table& t = dm.Tarife();
        AddTarif(t, "Taxi Stadt", {{K, "K", 150, 0, 0}, {P, "P", 500, 0, 0}, {W, "W", 30, 0, 0}, {S, "S", 200, 0, 0},
                             {T, "T", 0, 0, 0}, {X, "X", 0, 10, 0}});
        AddTarif(t, "Taxi Land", {{K2, "K", 153, 0, 11}, {X5, "X", 0, 5, 0}});

        Table& r = doc.Rechnung();
        r.Append();
        r.SetInteger("RechID", 1);
        r.SetString("SaRechNr", "4711");
        r.Post();
    }

    Table& Cases() { return doc.Rechnung().Nested(CaseNestName); }
    Table& Trips() { return Cases().Nested(TripNestName); }
    Table& Positions() { return Trips().Nested(PositionNestName); }

    void AddCase(const char* name, const char* zuzaKennz = "3") {
        Table& c = Cases();
        c.Append();
        c.SetInteger("AbrFallID", ++caseId);
        c.SetString("Nachname", name);
        c.SetString("ZuzaKennz", zuzaKennz);
        c.Post();
    }

    void AddTrip(double km, double brutto, const std::vector<Pos>& positions, double zuza = 0) {
        Table& l = Trips();
        l.Append();
        l.SetInteger("LeistID", ++tripId);
        l.SetDateTime("Datum", EncodeDate(2014, 10, 6));
        l.SetFloat("KM", km);
        l.SetFloat("BruttoSum", brutto);
        if (zuza != 0) l.SetFloat("ZuZaBetrag", zuza);
        Table& ef = l.Nested(PositionNestName);
        for (const auto& p : positions) {
            ef.Append();
            ef.SetString("Tarif", "46ABC12");
            ef.SetString("PosNum", p.posNum);
            ef.SetFloat("Menge", p.menge);
            ef.SetFloat("EPreis", p.ePreis);
            ef.Post();
        }
        l.Post();
    }

    double PositionField(int recNo, const char* field) {
        Positions().SetRecNo(recNo);
        return Positions().AsFloat(field);
    }

    // Types into the trip list and stores the trip as the list does.
    bool TypeAndStore(const std::vector<std::pair<const char*, double>> typed, const char* zuzaKennz = "3") {
        Table& l = Trips();
        TripListValues remembered = RememberTripListValues(l);
        l.Edit();
        for (auto& [field, v] : typed) l.SetFloat(field, v);
        return StoreTripFromList(l, zuzaKennz, remembered, dm, ui);
    }

    TempDir dir;
    TdmVerwaltung dm{dir.path()};
    InvoiceDocument doc;
    RecordingUi ui;
    int caseId = 0;
    int tripId = 0;
};

} // namespace

// ------------------------------------------------------------ position sum

TEST_F(MoneyRulesTest, PositionSumAddsQuantityTimesPriceAndLeavesOutOneKind) {
    AddCase("Meier");
    AddTrip(12.5, 0, {{K, 12.5, 1.50}, {P, 1, 5.00}, {W, 0, 0.30}});
    auto kinds = DocumentPositionKinds(dm);
    EXPECT_DOUBLE_EQ(PositionSum(Positions(), kinds), 23.75);
    EXPECT_DOUBLE_EQ(PositionSum(Positions(), kinds, "K"), 5.00);
    EXPECT_DOUBLE_EQ(PositionSum(Positions(), kinds, "P"), 18.75);
}

TEST_F(MoneyRulesTest, DiscountPositionIsBroughtIntoLine) {
    AddCase("Meier");
    auto kinds = DocumentPositionKinds(dm);
    // quantity 1: the discount becomes its unit price
    AddTrip(0, 0, {{P, 1, 40.00}, {X, 1, 0}});
    EXPECT_DOUBLE_EQ(PositionSum(Positions(), kinds), 36.00);
    EXPECT_DOUBLE_EQ(PositionField(2, "EPreis"), -4.00);
    EXPECT_DOUBLE_EQ(PositionField(2, "Menge"), 1);
    // quantity 0: no discount, its unit price is cleared
    AddTrip(0, 0, {{P, 1, 40.00}, {X, 0, -4.00}});
    EXPECT_DOUBLE_EQ(PositionSum(Positions(), kinds), 40.00);
    EXPECT_DOUBLE_EQ(PositionField(2, "EPreis"), 0);
    // another quantity becomes 1, and the discount is rounded to cents
    AddTrip(0, 0, {{P, 1, 33.33}, {X, 3, -1.00}});
    EXPECT_DOUBLE_EQ(PositionSum(Positions(), kinds), 30.00);
    EXPECT_DOUBLE_EQ(PositionField(2, "EPreis"), -3.33);
    EXPECT_DOUBLE_EQ(PositionField(2, "Menge"), 1);
    // leaving out a kind takes the discount from the rest only
    AddTrip(10, 0, {{K, 10, 1.50}, {P, 1, 20.00}, {X, 1, 0}});
    EXPECT_DOUBLE_EQ(PositionSum(Positions(), kinds, "K"), 18.00);
    EXPECT_DOUBLE_EQ(PositionField(3, "EPreis"), -2.00);
}

TEST_F(MoneyRulesTest, LastPercentageCountsAndTheRuleChoosesTheDiscountRow) {
    AddCase("Meier");
    AddTrip(0, 0, {{P, 1, 40.00}, {X5, 1, 0}, {X, 1, 0}});
    // document: the first discount position carries the last percentage
    EXPECT_DOUBLE_EQ(PositionSum(Positions(), DocumentPositionKinds(dm)), 36.00);
    EXPECT_DOUBLE_EQ(PositionField(2, "EPreis"), -4.00);
    EXPECT_DOUBLE_EQ(PositionField(3, "EPreis"), 0);
    // trip window rule: the first row with the percentage in force
    AddTrip(0, 0, {{P, 1, 40.00}, {X5, 1, 0}, {X, 1, 0}});
    EXPECT_DOUBLE_EQ(PositionSum(Positions(), DocumentPositionKinds(dm), {}, DiscountRow::FirstWithPctInForce), 36.00);
    EXPECT_DOUBLE_EQ(PositionField(2, "EPreis"), 0);
    EXPECT_DOUBLE_EQ(PositionField(3, "EPreis"), -4.00);
}

TEST_F(MoneyRulesTest, ScratchRowsTakeTheirPercentageFromTheRow) {
    Table rows({FieldDef::Str("PosNum", 10), FieldDef::Flt("Menge"), FieldDef::Flt("EPreis"),
                FieldDef::Flt("PCT_Abschlag"), FieldDef::Flt("ab_km")});
    auto add = [&](const char* num, double menge, double preis, double pct) {
        rows.Append();
        rows.SetString("PosNum", num);
        rows.SetFloat("Menge", menge);
        rows.SetFloat("EPreis", preis);
        rows.SetFloat("PCT_Abschlag", pct);
        rows.Post();
    };
    add(P, 1, 50.00, 0);
    add("9999", 1, 0, 20);   // a discount row the tariffs do not know
    rows.First();
    EXPECT_DOUBLE_EQ(PositionSum(rows, ScratchRowKinds(dm), {}, DiscountRow::FirstWithPctInForce), 40.00);
    EXPECT_EQ(rows.RecNo(), 1);   // the current row stays
    rows.Last();
    EXPECT_DOUBLE_EQ(rows.AsFloat("EPreis"), -10.00);
}

// ----------------------------------------------- amounts as billing has them

TEST_F(MoneyRulesTest, TripAmountRoundsEachPositionOnceWithHalvesAwayFromZero) {
    AddCase("Meier");
    AddTrip(12.5, 0, {{K2, 12.5, 1.53}});
    EXPECT_EQ(TripAmountCents(Positions()), 1913);           // 1912.5 cents
    AddTrip(0, 0, {{W, 0.5, 0.25}});
    EXPECT_EQ(TripAmountCents(Positions()), 13);             // 12.5 cents
    AddTrip(0, 0, {{W, 0.99, 1.51}});
    EXPECT_EQ(TripAmountCents(Positions()), 149);            // 149.49 cents
    AddTrip(0, 0, {{P, 1, 40.00}, {X, 1, -4.00}, {W, -1, 0.30}, {W, 0, 9.99}});
    EXPECT_EQ(TripAmountCents(Positions()), 3600 - 30);
    EXPECT_EQ(TripAmountCents(Positions(), true), 3600);     // only rows with a quantity above 0
    // A net unit price carries the VAT added to it: 19 % of 1.51 € × 0.99 is 28.4 cents.
    AddTrip(0, 0, {{W, 0.99, 1.51}});
    Positions().Edit();
    Positions().SetFloat("MwStSatz", 19);
    Positions().Post();
    EXPECT_EQ(TripAmountCents(Positions()), 149 + 28);
}

// ---------------------------------------------------------- recomputation

TEST_F(MoneyRulesTest, RecomputationFollowsTripsUpToTheInvoice) {
    AddCase("Meier");
    AddTrip(0, 20.00, {{P, 1, 15.00}, {W, 1, 4.99}}, 5.00);   // positions 19.99
    AddTrip(12.5, 23.75, {{K, 12.5, 1.50}, {P, 1, 5.00}}, 5.00);
    AddCase("Müller", "1");
    AddTrip(0, 0, {{W, 0.5, 0.25}});
    // the second case's trip and the first case stay current
    Cases().First();
    Trips().Last();
    auto tripMark = Trips().GetBookmark();

    RecomputeResult r = RecomputeInvoice(doc.Rechnung());
    EXPECT_EQ(r.cases, 2);
    EXPECT_EQ(r.trips, 3);
    EXPECT_EQ(Cases().RecNo(), 1);
    EXPECT_EQ(Trips().GetBookmark(), tripMark);

    Trips().First();
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 19.99);
    EXPECT_DOUBLE_EQ(Cases().AsFloat("BetragBrutto"), 43.74);
    EXPECT_DOUBLE_EQ(Cases().AsFloat("BetragZuZaSum"), 10.00);
    Cases().Last();
    Trips().First();
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 0.13);
    EXPECT_DOUBLE_EQ(Cases().AsFloat("BetragBrutto"), 0.13);
    EXPECT_DOUBLE_EQ(Cases().AsFloat("BetragZuZaSum"), 0);
    Table& h = doc.Rechnung();
    EXPECT_DOUBLE_EQ(h.AsFloat("RBetragBrutto"), 43.87);
    EXPECT_DOUBLE_EQ(h.AsFloat("RBetragZuZa"), 10.00);
    EXPECT_DOUBLE_EQ(h.AsFloat("RBetragNetto"), 33.87);
}

TEST_F(MoneyRulesTest, RecomputationStoresNothingWhenTheSumsAreRight) {
    AddCase("Meier");
    AddTrip(0, 0, {{P, 1, 15.00}});
    RecomputeInvoice(doc.Rechnung());
    doc.Rechnung().MergeChangeLog();
    int trips = 0;
    Trips().Subscribe([&](TableEvent ev, Table::Bookmark) { trips += ev == TableEvent::RowChanged; });
    RecomputeInvoice(doc.Rechnung());
    EXPECT_EQ(doc.Rechnung().ChangeCount(), 0);
    EXPECT_EQ(trips, 0);
}

TEST_F(MoneyRulesTest, RefusedStoreEndsTheRecomputationAtThatRecord) {
    AddCase("Meier");
    AddTrip(0, 1.00, {{P, 1, 15.00}});
    AddTrip(0, 2.00, {{P, 1, 16.00}});
    Trips().BeforePost = [](Table&) { throw Error("Pflichtfelder fehlen"); };
    EXPECT_THROW(RecomputeInvoice(doc.Rechnung()), Error);
    EXPECT_EQ(Trips().GetState(), Table::State::Edit);
    EXPECT_EQ(Trips().RecNo(), 1);
    Trips().Cancel();
    Trips().BeforePost = nullptr;
    EXPECT_TRUE(Cases().IsNull("BetragBrutto"));
}

// -------------------------------------------------------------- co-payment

TEST(CoPaymentProposalTest, TenPercentBetweenTheLimits) {
    struct Case {
        double sum, amount;
        const char* art;
    } cases[] = {{30.00, 5.00, "02"}, {49.99, 5.00, "02"}, {50.00, 5.00, "01"}, {75.00, 7.50, "01"},
                 {75.05, 7.50, "01"}, {100.00, 10.00, "01"}, {100.01, 10.00, "02"}, {150.00, 10.00, "02"}};
    for (const auto& c : cases) {
        CoPaymentProposal p = ProposeCoPayment(c.sum);
        EXPECT_DOUBLE_EQ(p.amount, c.amount) << c.sum;
        EXPECT_EQ(p.zuZaArt, c.art) << c.sum;
    }
}

TEST_F(MoneyRulesTest, CoPaymentTypedInTheTripListIsHeldToItsLimits) {
    AddCase("Meier");
    struct Case {
        double typed;
        std::vector<std::string> warnings;
        double stored;
        const char* art;
    } cases[] = {{3, {kMindestens}, 5.00, "02"},  {12, {kHoechstens}, 10.00, "02"}, {7.30, {}, 7.30, "01"},
                 {5, {}, 5.00, "02"},             {10, {}, 10.00, "02"},           {-2, {kMindestens}, 5.00, "02"}};
    for (const auto& c : cases) {
        AddTrip(0, 5.00, {{P, 1, 5.00}});
        ui.messages.clear();
        ASSERT_TRUE(TypeAndStore({{"ZuZaBetrag", c.typed}}));
        ASSERT_EQ(ui.messages.size(), c.warnings.size()) << c.typed;
        for (size_t i = 0; i < c.warnings.size(); ++i) {
            EXPECT_EQ(ui.messages[i].first, MessageKind::Warning);
            EXPECT_EQ(ui.messages[i].second, c.warnings[i]);
        }
        EXPECT_EQ(Trips().GetState(), Table::State::Browse);
        EXPECT_DOUBLE_EQ(Trips().AsFloat("ZuZaBetrag"), c.stored) << c.typed;
        EXPECT_EQ(Trips().AsString("ZuZaArt"), c.art) << c.typed;
    }
}

TEST_F(MoneyRulesTest, CoPaymentKindChosenByTheUserStaysAndZeroClearsBoth) {
    AddCase("Meier");
    AddTrip(0, 5.00, {{P, 1, 5.00}});
    Trips().Edit();
    Trips().SetString("ZuZaArt", "01");
    Trips().Post();
    ASSERT_TRUE(TypeAndStore({{"ZuZaBetrag", 5}}));
    EXPECT_EQ(Trips().AsString("ZuZaArt"), "01");

    ASSERT_TRUE(TypeAndStore({{"ZuZaBetrag", 0}}));
    EXPECT_TRUE(Trips().IsNull("ZuZaBetrag"));
    EXPECT_TRUE(Trips().IsNull("ZuZaArt"));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(MoneyRulesTest, CoPaymentForACaseWithoutDutyIsRefusedAndCleared) {
    AddCase("Meier", "1");
    AddTrip(0, 5.00, {{P, 1, 5.00}});
    ASSERT_TRUE(TypeAndStore({{"ZuZaBetrag", 7}}, "1"));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].first, MessageKind::Warning);
    EXPECT_EQ(ui.messages[0].second, kNurPflichtig);
    EXPECT_TRUE(Trips().IsNull("ZuZaBetrag"));
    EXPECT_TRUE(Trips().IsNull("ZuZaArt"));
}

// ------------------------------------------------------ km and price typed

TEST_F(MoneyRulesTest, KmTypedSetsTheKmQuantityAndThePrice) {
    AddCase("Meier");
    AddTrip(10, 20.00, {{K, 10, 1.50}, {P, 1, 5.00}});
    ASSERT_TRUE(TypeAndStore({{"KM", 14}}));
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 14);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 26.00);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("KM"), 14);
}

TEST_F(MoneyRulesTest, PriceTypedDerivesTheKmQuantityAndTheKm) {
    AddCase("Meier");
    AddTrip(10, 20.00, {{K, 10, 1.50}, {P, 1, 5.00}});
    ASSERT_TRUE(TypeAndStore({{"BruttoSum", 26.00}}));
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 14);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("KM"), 14);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 26.00);

    // a price the unit price does not divide: the quantity is taken to two
    // decimals and the price follows the positions
    ASSERT_TRUE(TypeAndStore({{"BruttoSum", 26.01}}));
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 14.01);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 26.02);   // 5.00 + 21.015 rounded up
}

TEST_F(MoneyRulesTest, KmThresholdIsHonouredBothWays) {
    AddCase("Meier");
    AddTrip(25, 22.95, {{K2, 15, 1.53}});
    ASSERT_TRUE(TypeAndStore({{"KM", 30}}));
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 20);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 30.60);
    ASSERT_TRUE(TypeAndStore({{"KM", 8}}));
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 0);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 0);

    ASSERT_TRUE(TypeAndStore({{"BruttoSum", 15.30}}));
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 10);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("KM"), 20);
}

TEST_F(MoneyRulesTest, PriceTypedSetsTheMeterPosition) {
    AddCase("Meier");
    AddTrip(0, 17.00, {{T, 2, 6.00}, {P, 1, 5.00}});
    ASSERT_TRUE(TypeAndStore({{"BruttoSum", 30.00}}));
    EXPECT_DOUBLE_EQ(PositionField(1, "EPreis"), 25.00);
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 1);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 30.00);
}

TEST_F(MoneyRulesTest, PriceTypedDerivesTheOtherPositionsQuantity) {
    AddCase("Meier");
    AddTrip(0, 5.00, {{S, 0, 2.00}, {P, 1, 5.00}});
    ASSERT_TRUE(TypeAndStore({{"BruttoSum", 9.00}}));
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 2);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 9.00);
}

TEST_F(MoneyRulesTest, TwoKmPositionsOrAZeroUnitPriceAdjustNothing) {
    AddCase("Meier");
    AddTrip(10, 30.00, {{K, 10, 1.50}, {K2, 10, 1.50}});
    ASSERT_TRUE(TypeAndStore({{"KM", 14}}));
    ASSERT_TRUE(TypeAndStore({{"BruttoSum", 50.00}}));
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 10);
    EXPECT_DOUBLE_EQ(PositionField(2, "Menge"), 10);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 50.00);   // stored as typed

    // K without unit price beside a meter position: the K rule applies and
    // adjusts nothing; the meter position is not touched either
    AddTrip(10, 5.00, {{K, 10, 0}, {T, 1, 5.00}});
    ASSERT_TRUE(TypeAndStore({{"BruttoSum", 12.00}}));
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 10);
    EXPECT_DOUBLE_EQ(PositionField(2, "EPreis"), 5.00);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 12.00);

    AddTrip(0, 5.00, {{S, 3, 0}, {P, 1, 5.00}});
    ASSERT_TRUE(TypeAndStore({{"BruttoSum", 8.00}}));
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 3);
}

TEST_F(MoneyRulesTest, DiscountFollowsATypedKm) {
    AddCase("Meier");
    AddTrip(10, 18.00, {{K, 10, 1.50}, {P, 1, 5.00}, {X, 1, -2.00}});
    ASSERT_TRUE(TypeAndStore({{"KM", 14}}));
    EXPECT_DOUBLE_EQ(PositionField(3, "EPreis"), -2.60);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 23.40);
}

TEST_F(MoneyRulesTest, UnchangedKmAndPriceLeaveThePositions) {
    AddCase("Meier");
    AddTrip(10, 99.00, {{K, 10, 1.50}, {P, 1, 5.00}});
    ASSERT_TRUE(TypeAndStore({{"ZuZaBetrag", 6}}));
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 99.00);
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 10);
}

TEST_F(MoneyRulesTest, TripWithoutDateIsDiscarded) {
    AddCase("Meier");
    AddTrip(10, 20.00, {{K, 10, 1.50}, {P, 1, 5.00}});
    Table& l = Trips();
    TripListValues remembered = RememberTripListValues(l);
    l.Append();
    l.SetFloat("KM", 14);
    EXPECT_FALSE(StoreTripFromList(l, "3", remembered, dm, ui));
    EXPECT_EQ(l.GetState(), Table::State::Browse);
    EXPECT_EQ(l.RecordCount(), 1);
}

TEST_F(MoneyRulesTest, TypedKmGivesThePriceBillingComputes) {
    AddCase("Meier");
    AddTrip(0, 0, {{K2, 0, 1.53}});
    ASSERT_TRUE(TypeAndStore({{"KM", 22.5}}));                // 12.5 km charged
    EXPECT_DOUBLE_EQ(PositionField(1, "Menge"), 12.5);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 19.13);
}
