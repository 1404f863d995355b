// Invoices typed in the program pass the billing engine's sum checks.

#include <gtest/gtest.h>

#include "TariffBuilder.h"
#include "billing/EngineFixture.h"
#include "entry/MoneyRules.h"
#include "entry/dm_verwaltung.h"

using namespace brenvo;
using namespace brenvo::test;

namespace {

class SilentUi : public IUserInterface {
public:
    void ShowMessage(MessageKind, const std::string& text, const std::string&) override { ADD_FAILURE() << text; }
    Answer Ask(MessageKind, const std::string&, const std::vector<Answer>&, const std::string&) override {
        return Answer::Cancel;
    }
    bool InputQuery(const std::string&, const std::vector<std::string>&, const std::string&, std::string&) override {
        return false;
    }
    void ShowText(const std::string&, const std::string&) override {}
};

class EntryToBillingTest : public EngineTest {
protected:
    // One case with a taxi trip of 12.5 km at 1.53 € and a trip with a
    // position of 0.5 × 0.25 €, priced the way rounding each position to
    // the even cent would price them.
    InvoicePlan Invoice() {
        InvoicePlan plan;
        CasePlan& c = plan.faelle[0];
        TripPlan taxi;
        taxi.km = 12.5;
        taxi.bruttoSum = 19.12;
        taxi.positionen = {PositionPlan{"46ABCDE", "4711", 12.5, 1.53, "Besetztkilometer"}};
        TripPlan wait;
        wait.bruttoSum = 0.12;
        wait.positionen = {PositionPlan{"46ABCDE", "4713", 0.5, 0.25, "Wartezeit"}};
        c.fahrten = {taxi, wait};
        return plan;
    }
};

} // namespace

TEST_F(EntryToBillingTest, PricesRoundedToTheEvenCentAreRefusedByBilling) {
    // What the recomputation has to prevent.
    EXPECT_NE(LoadError(Invoice()).find("b1=1912 b2=1913"), std::string::npos) << LoadError(Invoice());
}

TEST_F(EntryToBillingTest, RecomputedInvoicePassesTheSumChecks) {
    InvoiceDocument doc = BuildDocument(Invoice());
    RecomputeInvoice(doc.Rechnung());
    Table& trips = doc.Rechnung().Nested(CaseNestName).Nested(TripNestName);
    trips.First();
    EXPECT_DOUBLE_EQ(trips.AsFloat("BruttoSum"), 19.13);
    trips.Next();
    EXPECT_DOUBLE_EQ(trips.AsFloat("BruttoSum"), 0.13);
    EXPECT_DOUBLE_EQ(doc.Rechnung().AsFloat("RBetragBrutto"), 19.26);

    auto engine = NewEngine();
    EXPECT_EQ(ErrorOf([&] { engine->LoadRechnungen(doc); }), "");
}

TEST_F(EntryToBillingTest, KmTypedInTheTripListPassesTheSumChecks) {
    TempDir stammdaten;
    TdmVerwaltung dm(stammdaten.path());
    dm.OpenTarife();
    AddTarif(dm.Tarife(), "Taxi", {{"4711", "K", 153}});

    InvoicePlan plan = Invoice();
    plan.faelle[0].fahrten.resize(1);
    plan.faelle[0].fahrten[0].km = 10;
    plan.faelle[0].fahrten[0].bruttoSum = 15.30;
    plan.faelle[0].fahrten[0].positionen[0].menge = 10;
    InvoiceDocument doc = BuildDocument(plan);

    Table& trips = doc.Rechnung().Nested(CaseNestName).Nested(TripNestName);
    trips.First();
    TripListValues remembered = RememberTripListValues(trips);
    trips.Edit();
    trips.SetFloat("KM", 12.5);
    SilentUi ui;
    ASSERT_TRUE(StoreTripFromList(trips, "1", remembered, dm, ui));
    EXPECT_DOUBLE_EQ(trips.AsFloat("BruttoSum"), 19.13);
    RecomputeInvoice(doc.Rechnung());

    auto engine = NewEngine();
    EXPECT_EQ(ErrorOf([&] { engine->LoadRechnungen(doc); }), "");
}
