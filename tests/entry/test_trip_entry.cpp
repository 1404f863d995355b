// The rules of the trip entry on a case of an open invoice: quantities and
// km from a tariff, a typed unit price, the appointment dates, the address
// lists and the co-payment, as far as they decide what is written.

#include <gtest/gtest.h>

#include <memory>

#include "EntryFixture.h"
#include "billing/PositionBetrag.h"

using namespace brenvo;
using namespace brenvo::test;

namespace {

class TripEntryTest : public EntryTest {
protected:
    void SetUp() override {
        dm.OpenTarife();
        AddTarif(dm.Tarife(), "Mietwagen Land", {{"620001", "P", 2250}, {"620002", "K", 140, 0, 11}, {"620003", "W", 650}});
        AddTarif(dm.Tarife(), "Taxi Stadt", {{"610001", "P", 450}, {"610002", "K", 153}});
        AddTarif(dm.Tarife(), "Taxameter", {{"630001", "T", 0}});
        InvoicePlan plan;
        plan.faelle[0].zuzaKennz = "3";
        plan.faelle[0].fahrten.clear();
        path = Open(plan);
    }
    std::unique_ptr<TTripEntry> NewTrips() {
        auto t = std::make_unique<TTripEntry>(entry);
        t->Reset();
        t->BeginNewTrips();
        return t;
    }
    static double Quantity(TTripEntry& t, const std::string& posNum) {
        EXPECT_TRUE(t.Rows().Locate("PosNum", {Value(posNum)})) << posNum;
        return t.Rows().AsFloat("Menge");
    }
    std::string path;
};

} // namespace

TEST_F(TripEntryTest, ATariffsKmRowsTakeTheKmFromTheirThresholdAndGiveItBack) {
    auto t = NewTrips();
    t->km = 25;
    t->ChooseTariff("Mietwagen Land");
    EXPECT_DOUBLE_EQ(Quantity(*t, "620001"), 1);    // flat rate
    EXPECT_DOUBLE_EQ(Quantity(*t, "620002"), 15);   // from the 11th km on
    EXPECT_DOUBLE_EQ(Quantity(*t, "620003"), 0);    // waiting time
    EXPECT_DOUBLE_EQ(t->km, 25);                    // the rows give the trip its km back
    EXPECT_DOUBLE_EQ(t->Price(), 43.50);

    // Below the threshold nothing is charged and the km stay as typed.
    t->km = 8;
    t->ChooseTariff("Mietwagen Land");
    EXPECT_DOUBLE_EQ(Quantity(*t, "620002"), 0);
    EXPECT_DOUBLE_EQ(t->km, 8);

    // The km field moves the km rows; a km quantity typed moves the km.
    t->SetKm(30);
    EXPECT_DOUBLE_EQ(Quantity(*t, "620002"), 20);
    EXPECT_DOUBLE_EQ(t->Price(), 50.50);
    t->Rows().Edit();
    t->Rows().SetFloat("Menge", 5);
    t->Rows().Post();
    t->RowEdited();
    EXPECT_DOUBLE_EQ(t->km, 15);

    // Without threshold every km counts; 12.5 km at 1.53 € is 19.125 €, which
    // billing rounds to 19.13.
    t->km = 12.5;
    t->ChooseTariff("Taxi Stadt");
    EXPECT_DOUBLE_EQ(Quantity(*t, "610002"), 12.5);
    EXPECT_DOUBLE_EQ(t->Price(), 23.63);
}

TEST_F(TripEntryTest, ATypedUnitPriceIsTakenInCentsAndWrittenAsBillingSumsIt) {
    auto t = NewTrips();
    t->AddDate(EncodeDate(2014, 10, 6));
    t->destination = {"Kerpener Str. 62", "50937", "", "", ""};
    t->ChooseTariff("Taxameter");
    EXPECT_EQ(t->EntryColumn(), "EPreis");
    t->Rows().Edit();
    t->Rows().SetFloat("EPreis", 1.5349);
    t->Rows().SetFloat("Menge", 12.5);
    t->Rows().Post();
    t->RowEdited();
    EXPECT_DOUBLE_EQ(t->Rows().AsFloat("EPreis"), 1.53);
    EXPECT_DOUBLE_EQ(t->Price(), 19.13);

    // No destination town: the window stays open and nothing is written.
    EXPECT_FALSE(t->Save(false));
    EXPECT_EQ(ui.messages, std::vector<std::string>{TTripEntry::kNoPlaces});
    EXPECT_EQ(Trips().RecordCount(), 0);

    t->destination.ort = "Köln";
    ASSERT_TRUE(t->Save(false));
    Table& ef = Trips().Nested(PositionNestName);
    int64_t cents = 0;
    for (ef.First(); !ef.Eof(); ef.Next()) cents += PositionBetragCents(ef.AsFloat("EPreis"), ef.AsFloat("Menge"));
    EXPECT_EQ(cents, 1913);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 19.13);
}

TEST_F(TripEntryTest, AppointmentDatesAreListedOnceInOrderByDayWeekdayOrWorkingDay) {
    auto t = NewTrips();
    t->AddDate(EncodeDate(2014, 10, 8));
    t->AddDate(EncodeDate(2014, 10, 6));
    t->AddDate(EncodeDate(2014, 10, 8));
    EXPECT_EQ(t->dates, (std::vector<TDateTime>{EncodeDate(2014, 10, 6), EncodeDate(2014, 10, 8)}));
    EXPECT_EQ(TTripEntry::DateText(t->dates[0]), "Mo, 06.10.2014");

    // September 2014 has five Mondays; they go before the October dates.
    t->AddWeekdays(EncodeDate(2014, 9, 17), 1);
    ASSERT_EQ(t->dates.size(), 7u);
    EXPECT_EQ(t->dates[0], EncodeDate(2014, 9, 1));
    EXPECT_EQ(t->dates[4], EncodeDate(2014, 9, 29));

    // The working days of April 2014 stop at Wednesday the 30th.
    t->dates.clear();
    t->AddWorkingDays(EncodeDate(2014, 4, 17));
    EXPECT_EQ(t->dates.size(), 22u);
    EXPECT_EQ(t->dates.front(), EncodeDate(2014, 4, 1));
    EXPECT_EQ(t->dates.back(), EncodeDate(2014, 4, 30));
}

TEST_F(TripEntryTest, AddressEntriesOfBothLayoutsGiveBackTheirRowAndAreSavedOnce) {
    dm.OpenAdressen();
    Table& a = dm.Adressen();
    a.Append();
    a.SetString("strasse", "Hauptstr. 1");
    a.SetString("plz", "12345");
    a.SetString("ort", "Musterstadt");
    a.SetString("bem", "Dialyse");
    a.Post();
    auto t = NewTrips();
    auto same = [](const TTripAddress& x) {
        return x.strasse == "Hauptstr. 1" && x.plz == "12345" && x.ort == "Musterstadt" && x.info == "Dialyse";
    };

    // Any setting but "nach Info" lists by street.
    EXPECT_EQ(t->AddressEntries(), std::vector<std::string>{"Hauptstr. 1»12345«Musterstadt |Dialyse"});
    EXPECT_TRUE(t->TakeStreet(TTripEntry::Side::Destination, t->AddressEntries()[0]));
    EXPECT_TRUE(same(t->destination));
    t->SwitchAddressLayout();
    EXPECT_EQ(host.ini["Auswahl_Adresse"], "nach Info");
    EXPECT_EQ(ui.messages.back(), "Auaswahl der Adressen: nach Info");
    EXPECT_EQ(t->AddressEntries(), std::vector<std::string>{"Dialyse»Hauptstr. 1«12345 |Musterstadt"});
    EXPECT_TRUE(t->TakeStreet(TTripEntry::Side::Pickup, t->AddressEntries()[0]));
    EXPECT_TRUE(same(t->pickup));

    // A known address in other letters asks nothing; a new one asks for its remark.
    t->destination = {"HAUPTSTR. 1", "12345", "musterstadt", "", ""};
    EXPECT_FALSE(t->SaveAddress(TTripEntry::Side::Destination));
    EXPECT_TRUE(ui.inputs.empty());
    t->pickup = {"Domstr. 3", "50667", "Köln", "", ""};
    ui.typed = {"Hausarzt"};
    EXPECT_TRUE(t->SaveAddress(TTripEntry::Side::Pickup));
    ASSERT_EQ(ui.inputs.size(), 1u);
    EXPECT_EQ(ui.inputs[0].explanation,
              (std::vector<std::string>{"Strasse: \"Domstr. 3\"", "Plz....: \"50667\"", "Ort....: \"Köln\""}));
    t->Cancel();   // leaving the window writes the table
    Table file;
    file.LoadFromFile(dm.AdressenFile());
    EXPECT_EQ(file.RecordCount(), 2);
}

TEST_F(TripEntryTest, NewTripsCarryTheProposalUntilTypedAChangedTripItsOwnUntilThePriceMoves) {
    auto t = NewTrips();
    t->AddDate(EncodeDate(2014, 10, 6));
    t->destination = {"Kerpener Str. 62", "50937", "Köln", "", ""};
    t->km = 25;
    t->ChooseTariff("Mietwagen Land");
    EXPECT_DOUBLE_EQ(t->coPayment, 5.00);   // 10 % of 43.50 is below the limit
    t->SetKm(60);                           // 92.50 €
    EXPECT_DOUBLE_EQ(t->coPayment, 9.25);
    EXPECT_FALSE(t->coPaymentLimit);

    // Typed, the amount stays whatever the price does, and is written in cents.
    t->coPaymentTyped = true;
    t->coPayment = 3.333;
    t->coPaymentLimit = true;
    t->SetKm(25);
    t->EnteringCoPayment();
    ASSERT_TRUE(t->Save(false));
    EXPECT_DOUBLE_EQ(Trips().AsFloat("ZuZaBetrag"), 3.33);
    EXPECT_EQ(Trips().AsString("ZuZaArt"), "02");

    // A changed trip keeps its co-payment while its price is its own.
    TTripEntry c(entry);
    c.Reset();
    c.BeginChange();
    c.EnteringCoPayment();
    EXPECT_DOUBLE_EQ(c.coPayment, 3.33);
    c.SetKm(60);
    c.EnteringCoPayment();
    EXPECT_DOUBLE_EQ(c.coPayment, 9.25);
    ASSERT_TRUE(c.Save(false));
    EXPECT_EQ(Trips().RecordCount(), 1);
    EXPECT_EQ(Trips().AsString("ZuZaArt"), "01");
    EXPECT_EQ(Trips().Nested(PositionNestName).RecordCount(), 2);   // rewritten, the waiting time left out
}
