// Templates of insured persons, new trips through the trip entry and the
// multi-person transport, on real invoice files and master-data tables.

#include <gtest/gtest.h>

#include "EntryFixture.h"

using namespace brenvo;
using namespace brenvo::test;

namespace {

class TemplateTest : public EntryTest {
protected:
    // One template: Müller with an approval, the usual destination and a remark.
    void AddTemplate(const std::string& ikPat = "103330011", const std::string& bem = "Dialyse Mo/Mi/Fr") {
        dm.OpenVersicherte();
        Table& v = dm.Versicherte();
        v.Append();
        v.SetString("IKPat", ikPat);
        v.SetString("IKLE", ikPat);
        v.SetString("VersNum", "M123456789");
        v.SetString("Status", "10000");
        v.SetString("VONum", "4711");
        v.SetString("Nachname", "Müller");
        v.SetString("Vorname", "Jürgen");
        v.SetDateTime("Geb", EncodeDate(1938, 4, 17));
        v.SetString("Strasse", "Hauptstraße 9");
        v.SetString("Plz", "50996");
        v.SetString("Ort", "Köln");
        v.SetString("ArztN", "123456701");
        v.SetString("BSN", "271234500");
        v.SetDateTime("VODatum", EncodeDate(2014, 1, 2));
        v.SetString("ZuzaKennz", "3");
        v.SetString("Unfall", "1");
        v.SetString("GenZeich", "");
        v.SetDateTime("GenDatum", EncodeDate(2014, 9, 1));
        v.SetString("bem", bem);
        v.SetString("ZStrasse", "Schloßstraße 5");
        v.SetString("ZPlz", "50667");
        v.SetString("ZOrt", "Köln");
        v.Post();
    }
};

} // namespace

TEST_F(TemplateTest, ApplyingATemplateFillsTheCaseAsksAboutTheInsurerAndKeepsTheExtras) {
    InvoicePlan plan;
    plan.faelle.clear();
    Open(plan);
    AddTemplate("101234567");
    ASSERT_TRUE(entry.InsertCase());
    SetCase("VODatum", "03.10.2014");
    EXPECT_TRUE(entry.SurnameMatchesTemplate("mü"));
    EXPECT_FALSE(entry.SurnameMatchesTemplate("Mayer"));

    ui.answers = {Answer::Yes};
    ASSERT_TRUE(entry.ApplyTemplate());
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], "Die IK Nummer der Vorlage unterscheidet sich von der Kostenträger-IK Nummer der "
                               "Rechnung!\r\rKostenträger IK - anpassen?\r ");
    EXPECT_EQ(Header("IKKT"), "101234567");
    EXPECT_EQ(Case("IKPat"), "101234567");
    EXPECT_EQ(Case("Nachname"), "Müller");
    EXPECT_EQ(Case("Geb"), "17.04.1938");
    EXPECT_EQ(Case("GenArt"), "E2");            // an approval date without mark is still long-term
    EXPECT_EQ(Case("VODatum"), "03.10.2014");   // what belongs to the prescription is not taken over
    EXPECT_NE(Case("VONum"), "4711");
    EXPECT_EQ(Case("Unfall"), "");
    EXPECT_EQ(ui.messages.back(), "Dialyse Mo/Mi/Fr");
    EXPECT_EQ(entry.RemarkHint(), "Dialyse Mo/Mi/Fr");
    EXPECT_EQ(entry.TemplateExtras().ZStrasse, "Schloßstraße 5");
    EXPECT_EQ(focus.back(), "VONum");

    // Another case becoming current takes the extras away; the hint stays.
    ASSERT_TRUE(entry.StoreCase());
    ASSERT_TRUE(entry.InsertCase());
    EXPECT_TRUE(entry.TemplateExtras().Empty());
    EXPECT_EQ(entry.RemarkHint(), "Dialyse Mo/Mi/Fr");
}

TEST_F(TemplateTest, ATemplateWithoutApprovalLeavesTheApprovalKindEmpty) {
    InvoicePlan plan;
    Open(plan);
    AddTemplate("103330011", "");
    dm.Versicherte().Edit();
    dm.Versicherte().SetNull("GenDatum");
    dm.Versicherte().Post();
    ASSERT_TRUE(entry.ApplyTemplate());
    EXPECT_EQ(Case("GenArt"), "");
    EXPECT_TRUE(ui.questions.empty());   // the template's insurer is the invoice's
    EXPECT_TRUE(ui.messages.empty());    // no remark
    EXPECT_EQ(entry.RemarkHint(), TInvoiceEntry::kRemarkHint);
}

TEST_F(TemplateTest, SavingACaseAsTemplateUpdatesOrAddsAndTakesTheTripsPlaces) {
    InvoicePlan plan;
    CasePlan& c = plan.faelle[0];
    c.nachname = "Müller";
    c.vorname = "Jürgen";
    c.versNum = "M123456789";
    c.geb = EncodeDate(1938, 4, 17);
    c.strasse = "";
    c.plz = "";
    c.ort = "";
    c.fahrten[0].vonStrasse = "Hauptstraße 9";
    c.fahrten[0].nachStrasse = "Klinikweg 2";
    Open(plan);
    AddTemplate();
    dm.Versicherte().Edit();
    dm.Versicherte().SetString("Nachname", "MÜLLER");   // found ignoring letter case
    dm.Versicherte().Post();

    ui.answers = {Answer::Yes};
    ASSERT_TRUE(entry.SaveAsTemplate());
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], "Bestehende Vorlage aktualisieren?\r\r<Jürgen Müller Geb.: 17.04.1938 VersNr. "
                               "M123456789>\r\r( \"Nein\" legt eine neue Vorlage an..)\r ");
    EXPECT_EQ(ui.messages.back(), "Vorlage wurde gespeichert.");
    Table& v = dm.Versicherte();
    EXPECT_EQ(v.RecordCount(), 1);
    EXPECT_EQ(v.AsString("Nachname"), "Müller");
    EXPECT_EQ(v.AsString("IKLE"), "103330011");
    EXPECT_EQ(v.AsString("ZStrasse"), "Klinikweg 2");   // the end of the trip that is not home
    EXPECT_EQ(v.AsString("bem"), "Dialyse Mo/Mi/Fr");   // untouched

    ui.answers = {Answer::No};
    ASSERT_TRUE(entry.SaveAsTemplate());
    EXPECT_EQ(v.RecordCount(), 2);
    entry.Close();   // the templates reach their file
    Table file;
    file.LoadFromFile(dm.VersicherteFile());
    EXPECT_EQ(file.RecordCount(), 2);
}

TEST_F(TemplateTest, NewTripsAndReturnTripsAreWrittenSavedAndPriced) {
    dm.OpenTarife();
    AddTarif(dm.Tarife(), "Mietwagen Land", {{"620001", "P", 2250}, {"620002", "K", 140, 0, 11}, {"620003", "W", 650}});
    InvoicePlan plan;
    plan.faelle[0].zuzaKennz = "3";
    plan.faelle[0].fahrten.clear();
    const std::string path = Open(plan);
    AddTemplate();
    ASSERT_TRUE(entry.ApplyTemplate());

    TripEntryResult answer = TripEntryResult::SavedWithReturn;
    entry.EditTrips = [&](TTripEntry& t) {
        EXPECT_EQ(t.Title(), "Leistung(en) eingeben, Verordnung-Nr.: " + Case("VONum"));
        EXPECT_EQ(t.pickup.strasse, "Hauptstraße 9");        // the patient's home
        EXPECT_EQ(t.destination.strasse, "Schloßstraße 5");  // the template's destination
        EXPECT_FALSE(t.Save(false));                         // no date, no price, no rows
        EXPECT_EQ(ui.messages.size(), 4u);
        t.AddDate(EncodeDate(2014, 10, 8));
        t.AddDate(EncodeDate(2014, 10, 6));
        t.AddDate(EncodeDate(2014, 10, 8));
        t.km = 25;
        t.ChooseTariff("Mietwagen Land");
        t.wagenNr = 7;
        t.zeit1 = "0900";
        EXPECT_DOUBLE_EQ(t.Price(), 43.50);   // 22.50 + 15 km × 1.40
        EXPECT_DOUBLE_EQ(t.coPayment, 5.00);  // proposed: 10 % is below the limit
        EXPECT_TRUE(t.Save(true));
        return answer;
    };
    ASSERT_TRUE(entry.AddTrips());
    EXPECT_EQ(ui.messages[1], TTripEntry::kNoDate);
    EXPECT_EQ(ui.messages[2], TTripEntry::kNoPrice);
    EXPECT_EQ(ui.messages[3], TTripEntry::kNoRows);

    // Saved and read again: two dates, each there and back.
    InvoiceDocument saved = Reread(path);
    Table& trips = saved.Rechnung().Nested(CaseNestName).Nested(TripNestName);
    ASSERT_EQ(trips.RecordCount(), 4);
    trips.First();
    EXPECT_EQ(trips.AsDateTime("Datum"), EncodeDate(2014, 10, 6));
    EXPECT_EQ(trips.AsString("VON_STRASSE"), "Hauptstraße 9");
    trips.Last();
    EXPECT_EQ(trips.AsString("VON_STRASSE"), "Schloßstraße 5");   // the return trip
    EXPECT_DOUBLE_EQ(trips.AsFloat("BruttoSum"), 43.50);
    EXPECT_DOUBLE_EQ(trips.AsFloat("KM"), 25);
    EXPECT_DOUBLE_EQ(trips.AsFloat("ZuZaBetrag"), 5.00);
    EXPECT_EQ(trips.AsString("ZuZaArt"), "02");
    EXPECT_EQ(trips.AsInteger("WagenNr"), 7);
    EXPECT_EQ(trips.AsString("IKLE"), "510123456");
    EXPECT_EQ(trips.AsInteger("LAbrFallID"), 1);
    Table& ef = trips.Nested(PositionNestName);
    ASSERT_EQ(ef.RecordCount(), 2);   // the waiting time with quantity 0 is not written
    for (ef.First(); !ef.Eof(); ef.Next()) {
        EXPECT_EQ(ef.AsInteger("EFLeistID"), trips.AsInteger("LeistID"));
        EXPECT_GT(ef.AsInteger("MEINEID"), 100);
    }
    EXPECT_TRUE(entry.RecomputeNeeded());
    EXPECT_EQ(entry.CurrentCaseId(), 1);

    // Changing a trip rewrites its positions; cancelling writes nothing.
    answer = TripEntryResult::Saved;
    entry.EditTrips = [&](TTripEntry& t) {
        EXPECT_EQ(t.GetMode(), TTripEntry::Mode::Change);
        EXPECT_EQ(t.Tariff(), "");
        t.SetKm(30);
        EXPECT_TRUE(t.Save(false));
        return answer;
    };
    ASSERT_TRUE(entry.ChangeTrip());
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 50.50);
    entry.EditTrips = [](TTripEntry&) { return TripEntryResult::Cancelled; };
    EXPECT_FALSE(entry.ChangeTrip());
}

TEST_F(TemplateTest, MultiPersonTransportTakesTheFirstCasesTripsForTheNextPerson) {
    dm.OpenTarife();
    AddTarif(dm.Tarife(), "Taxi", {{"610001", "P", 450}, {"610002", "K", 153}});
    InvoicePlan plan;
    plan.faelle.resize(2);
    plan.faelle[0].ikle = plan.faelle[1].ikle = "510123456";
    plan.faelle[1].voNum = "1002";
    plan.faelle[1].fahrten.clear();
    TripPlan second = plan.faelle[0].fahrten[0];
    second.datum = EncodeDate(2014, 10, 8);
    plan.faelle[0].fahrten.push_back(second);
    plan.faelle[0].fahrten[0].positionen = {PositionPlan{"4601001", "610002", 12, 1.40, "Besetztkilometer (Sammelfahrt)"}};
    const std::string path = Open(plan);

    bool opened = false;
    entry.EditTrips = [&](TTripEntry& t) {
        opened = true;
        EXPECT_EQ(t.dates, (std::vector<TDateTime>{EncodeDate(2014, 10, 6), EncodeDate(2014, 10, 8)}));
        EXPECT_EQ(t.destination.strasse, "Kerpener Str. 62");
        EXPECT_EQ(t.zeit1, "0800");
        EXPECT_EQ(t.Tariff(), "Taxi");
        t.Rows().Last();   // the tariff's last row holds the first person's position
        EXPECT_DOUBLE_EQ(t.Rows().AsFloat("EPreis"), 1.40);
        EXPECT_EQ(t.Rows().AsString("Text"), "Besetztkilometer (Sammelfahrt)");
        EXPECT_TRUE(t.Save(false));
        return TripEntryResult::Saved;
    };

    entry.Activate();   // counts two cases
    ASSERT_EQ(entry.CaseCount(), 2);
    EXPECT_FALSE(entry.MultiPersonTransport());   // on the first person's own case
    EXPECT_NE(ui.messages.back().find("Funktion kann nur ausgeführt werden, wenn Sie eine weitere Verordnung"),
              std::string::npos);
    EXPECT_FALSE(opened);

    ASSERT_TRUE(entry.GotoCase(2));
    ASSERT_TRUE(entry.MultiPersonTransport());
    EXPECT_TRUE(opened);
    EXPECT_EQ(entry.CurrentCaseId(), 2);
    InvoiceDocument saved = Reread(path);
    Table& cases = saved.Rechnung().Nested(CaseNestName);
    cases.Last();
    EXPECT_EQ(cases.Nested(TripNestName).RecordCount(), 2);

    // With one case there is nothing to take over.
    InvoicePlan single;
    Open(single);
    entry.Activate();
    EXPECT_FALSE(entry.MultiPersonTransport());
    EXPECT_EQ(ui.messages.back().rfind("Mehrpersonentransporte:\r\r1. Verordnung für erste Person komplett eingeben", 0),
              0u);
}
