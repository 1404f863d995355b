// The rules of invoice entry, on real invoice files and master-data tables:
// store checks of header and case with their messages, ids and defaults,
// saving and reloading, closing, the case commands, the cost bearer, and
// the fields of message version 21.

#include <gtest/gtest.h>

#include "EntryFixture.h"
#include "lib/base/Files.h"

using namespace brenvo;
using namespace brenvo::test;

namespace {

const std::string kRequired = "Folgende Pflichtfelder sind nicht ausgefüllt: \r\r<";
const std::string kRequest = ">\r\rBitte korrigieren\r ";

} // namespace

TEST_F(EntryTest, HeaderStoreDrawsTheIdChecksRequiredFieldsAndKeepsTheEdit) {
    InvoicePlan plan;
    plan.faelle.clear();
    Open(plan);
    Table& h = entry.Header();
    h.Edit();
    h.SetInteger("RechID", 99999);
    h.Post();
    EXPECT_EQ(h.AsInteger("RechID"), 101);   // 99999 is the blank invoice's: a new id is drawn

    SetHeader("RechDatum", "");
    SetHeader("IKKT", "");
    EXPECT_FALSE(entry.StoreHeader());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], kRequired + "Rechnungsdatum, IK-Kostenträger" + kRequest);
    EXPECT_EQ(focus.back(), "RechDatum");
    EXPECT_TRUE(entry.Editing(InvoiceLevel::Rechnung));

    SetHeader("RechDatum", "15.10.2014");
    SetHeader("IKKT", "101234567");
    EXPECT_TRUE(entry.StoreHeader());
    EXPECT_EQ(h.AsInteger("RechID"), 101);                // an id other than 99999 stays
    EXPECT_EQ(h.AsString("IKPat"), "101234567");          // the patients' insurer follows the cost bearer
    EXPECT_TRUE(entry.RecomputeNeeded());
}

TEST_F(EntryTest, CaseStoreChecksInOrderDrawsIdsAndCleansTheInvoiceNumber) {
    InvoicePlan plan;
    plan.saRechNr = "B 1234";
    plan.faelle.clear();
    Open(plan);
    ASSERT_TRUE(entry.InsertCase());
    EXPECT_EQ(focus.back(), "VONum");
    // Insert defaults: the provider and insurer of the header, co-payment due, ids drawn.
    EXPECT_EQ(Case("IKLE"), "510123456");
    EXPECT_EQ(Case("IKPat"), "103330011");
    EXPECT_EQ(Case("ZuzaKennz"), "3");
    EXPECT_EQ(Case("VONum"), "101");
    EXPECT_EQ(Case("AbrFallID"), "101");
    EXPECT_EQ(Case("ARechID"), "101");

    SetCase("Nachname", "Kaiser");
    SetCase("Strasse", "Am Wall 3");   // an address stands in for the insurance number
    EXPECT_FALSE(entry.StoreCase());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], kRequired + "Verordnungsdatum, Vorname, Geb, Status" + kRequest);
    EXPECT_EQ(focus.back(), "VODatum");

    SetCase("Strasse", "");
    SetCase("VODatum", "01.10.2014");
    SetCase("Vorname", "Franz");
    SetCase("Geb", "2.2.1932");
    SetCase("Status", "10000");
    EXPECT_FALSE(entry.StoreCase());
    EXPECT_EQ(ui.messages.back(), kRequired + "VersNum" + kRequest);

    SetCase("Plz", "50667");
    SetCase("GenDatum", "");   // emptied: stored as no date
    EXPECT_TRUE(entry.StoreCase());
    EXPECT_TRUE(Cases().IsNull("GenDatum"));
    EXPECT_EQ(entry.Header().AsString("SaRechNr"), "1234");
    EXPECT_TRUE(entry.Editing(InvoiceLevel::Rechnung));   // stored with the header
}

TEST_F(EntryTest, FieldsTakeShortDatesGermanNumbersAndRefuseWhatTheFileCannotHold) {
    InvoicePlan plan;
    Open(plan);
    SetCase("VODatum", "3.10.2014");
    EXPECT_EQ(Case("VODatum"), "03.10.2014");
    SetCase("GenArt", "e2");
    EXPECT_EQ(Case("GenArt"), "E2");
    try {
        SetCase("GenArt", "E3");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Gültig: E1 oder E2");
    }
    EXPECT_EQ(Case("GenArt"), "E2");
    EXPECT_THROW(SetCase("VODatum", "31.02.2014"), Error);
    EXPECT_THROW(SetCase("Nachname", "Ωmega"), Error);   // no windows-1252 character
    EXPECT_EQ(Case("Nachname"), "Mustermann");

    // The optional fields of message version 21.
    SetCase("Land", "nl");
    SetCase("Unfall", "2");
    SetHeader("SkontoProzent", "2,5");
    SetHeader("SkontoTage", "14");
    EXPECT_EQ(Case("Land"), "NL");
    EXPECT_EQ(Header("SkontoProzent"), "2,5");
    EXPECT_THROW(SetHeader("SkontoTage", "zwei"), Error);
    EXPECT_THROW(entry.SetFieldText(InvoiceLevel::Rechnung, "RBetragBrutto", "1"), Error);   // computed, not typed

    entry.Open(entry.Path());   // view mode
    EXPECT_THROW(SetCase("Nachname", "X"), Error);
}

TEST_F(EntryTest, SavingWritesOnlyChangesAtomicallyWithGenArtAndKeepsTheCurrentRecords) {
    InvoicePlan plan;
    plan.faelle.resize(2);
    plan.faelle[1].voNum = "1002";
    plan.faelle[1].fahrten.resize(2);
    plan.faelle[1].fahrten[1].datum = EncodeDate(2014, 10, 8);
    const std::string path = Open(plan, /*withGenArt=*/false);
    const std::string before = ReadFileBytes(path);

    // Nothing changed: nothing written, reloaded all the same.
    ASSERT_TRUE(entry.Speichern());
    EXPECT_EQ(ReadFileBytes(path), before);

    ASSERT_TRUE(entry.NextCase());
    Trips().Last();
    Trips().Edit();
    Trips().SetInteger("LeistID", 77);
    Trips().Post();
    SetCase("FallInfo", "Rollstuhl");
    ASSERT_TRUE(entry.Speichern());
    EXPECT_EQ(entry.CurrentCaseId(), 2);
    EXPECT_EQ(Trips().AsInteger("LeistID"), 77);
    EXPECT_EQ(Trips().AsDateTime("Datum"), EncodeDate(2014, 10, 8));
    EXPECT_NE(ReadFileBytes(path).find("<GenArt"), std::string::npos);   // written in today's layout
    EXPECT_EQ(Reread(path).Rechnung().Nested(CaseNestName).RecordCount(), 2);

    // A file that cannot be written stays as it was; the typed text is kept.
    const std::string saved = ReadFileBytes(path);
    SetCase("FallInfo", "Tragestuhl");
    SetAtomicWriteHook([](const std::string&) { throw Error("Datenträger voll"); });
    EXPECT_FALSE(entry.NeuLaden());
    EXPECT_FALSE(entry.SpeichernUndExit());
    SetAtomicWriteHook(nullptr);
    EXPECT_EQ(ui.messages.back(),
              "Beim Speichern der Änderungen ist ein Fehler aufgetreten.\r\rBitte überprüfen Sie die Eingaben.\r\r"
              "Wenn das Problem weiterhin auftritt, geben Sie eine neue Rechnung ein.\r");
    EXPECT_EQ(ReadFileBytes(path), saved);
    EXPECT_EQ(Case("FallInfo"), "Tragestuhl");
    EXPECT_TRUE(entry.Speichern());
    EXPECT_EQ(Reread(path).Rechnung().Nested(CaseNestName).RecordCount(), 2);
}

TEST_F(EntryTest, IncompleteApprovalWarnsAndIsSavedAnyway) {
    InvoicePlan plan;
    plan.faelle[0].genArt = "";
    const std::string path = Open(plan);
    SetCase("GenDatum", "01.10.2014");
    ASSERT_TRUE(entry.Speichern());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Pflichtfelder sind nicht ausgefüllt: \r\r<Wenn eine Genehmigung vorliegt, bitte alle "
                              "Felder (Datum, Zeichen und Art) ausfüllen>\r\rBitte korrigieren\r ");
    EXPECT_FALSE(Reread(path).Rechnung().Nested(CaseNestName).IsNull("GenDatum"));

    SetCase("GenDatum", "");
    ASSERT_TRUE(entry.Speichern());
    EXPECT_EQ(ui.messages.size(), 1u);   // all three empty: no warning
}

TEST_F(EntryTest, ClosingDropsWhatWasNotSavedAndAsksToDeleteABlankInvoice) {
    InvoicePlan plan;
    const std::string path = Open(plan);
    const std::string before = ReadFileBytes(path);
    SetCase("Nachname", "Anders");
    ASSERT_TRUE(entry.StoreCase());
    entry.Close();
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_FALSE(entry.DeleteRequested());

    // The blank template with a number typed for a new invoice, closed unsaved.
    const std::string blank = dir.file("2024-1200.xml");
    WriteBlank(blank);
    entry.Open(blank);
    entry.SetMode(EntryMode::Edit);
    entry.PrepareNewInvoice({"2024-1200", "1", Today(), "510123456", "Taxi", "Weg 1", "12345 Ort", "103330011"});
    EXPECT_EQ(entry.Title(), "Rechnung: 2024-1200");
    EXPECT_EQ(focus.back(), "RechDatum");
    entry.Close();
    EXPECT_TRUE(entry.DeleteRequested());

    // Saved with its date, it stays.
    entry.Open(blank);
    entry.SetMode(EntryMode::Edit);
    entry.PrepareNewInvoice({"2024-1200", "1", Today(), "510123456", "Taxi", "Weg 1", "12345 Ort", "103330011"});
    ASSERT_TRUE(entry.Speichern());
    entry.Close();
    EXPECT_FALSE(entry.DeleteRequested());
    EXPECT_EQ(Reread(blank).Rechnung().AsString("SaRechNr"), "2024-1200");
}

TEST_F(EntryTest, CasesAreInsertedDeletedAndCounted) {
    InvoicePlan plan;
    plan.faelle.resize(2);
    plan.faelle[0].ikle = "510123456";   // the second case has no provider IK
    const std::string path = Open(plan);
    ASSERT_TRUE(entry.InsertCase());   // the case without provider IK goes first
    CompleteCase();
    ASSERT_TRUE(entry.StoreCase());
    EXPECT_EQ(Cases().RecordCount(), 2);
    ASSERT_TRUE(entry.Recompute());
    EXPECT_EQ(entry.CountText(), "2 Verord. mit 1 Fahrten");

    ui.answers = {Answer::Cancel};
    EXPECT_FALSE(entry.DeleteCase());
    ui.answers = {Answer::Ok};
    ASSERT_TRUE(entry.PriorCase());
    ASSERT_TRUE(entry.DeleteCase());
    EXPECT_EQ(ui.questions.back(), "Datensatz löschen?");
    EXPECT_EQ(Cases().RecordCount(), 1);
    ASSERT_TRUE(entry.Speichern());
    InvoiceDocument saved = Reread(path);
    EXPECT_EQ(saved.Rechnung().Nested(CaseNestName).AsString("Nachname"), "Kaiser");
    EXPECT_EQ(saved.Rechnung().Nested(CaseNestName).Nested(TripNestName).RecordCount(), 0);
}

TEST_F(EntryTest, AnInvoiceWithoutCaseGetsOneWhenTheCursorReachesIt) {
    InvoicePlan plan;
    plan.faelle.clear();
    Open(plan);
    EXPECT_FALSE(entry.HasCase());
    entry.EnterInCostBearerName();
    EXPECT_TRUE(entry.HasCase());
    entry.CancelCase();
    EXPECT_FALSE(entry.HasCase());
    entry.EnteringPrescriptionNumber();
    EXPECT_TRUE(entry.HasCase());
    EXPECT_EQ(TInvoiceEntry::NextInFlow("KTName"), "VONum");
    EXPECT_EQ(TInvoiceEntry::NextInFlow("Status"), "btnLeistungNeu");
    EXPECT_EQ(TInvoiceEntry::NextInFlow("btnLeistungNeu"), "");
}

TEST_F(EntryTest, CostBearerNameListsAndTheRememberedCostBearer) {
    InvoicePlan plan;
    Open(plan);
    EXPECT_EQ(entry.KTName(), "AOK Rheinland");
    EXPECT_EQ(entry.CostBearerIKs(), (std::vector<std::string>{"101234567", "103330011", "109910014"}));
    EXPECT_EQ(entry.CostBearerNames(),
              (std::vector<std::string>{"AOK Rheinland {103330011}", "BKK Muster {101234567}",
                                        "Rheinische OKK {109910014}"}));
    entry.ChooseCostBearerName("Rheinische OKK {109910014}");
    EXPECT_EQ(Header("IKKT"), "109910014");
    EXPECT_EQ(host.remembered, "109910014");
    entry.SetCostBearerIK("999999999");
    EXPECT_EQ(entry.KTName(), "*** keine Angaben ***");
    host.failing = true;
    EXPECT_EQ(entry.KTName(), "???");
}

TEST_F(EntryTest, TripListEditsFollowTheMoneyRulesAndRecomputationFollowsThem) {
    dm.OpenTarife();
    AddTarif(dm.Tarife(), "Taxi", {{"610002", "K", 150}, {"610001", "P", 500}});
    InvoicePlan plan;
    plan.faelle[0].zuzaKennz = "3";
    TripPlan& t = plan.faelle[0].fahrten[0];
    t.km = 10;
    t.positionen = {PositionPlan{"46ABC12", "610002", 10, 1.50, ""}, PositionPlan{"46ABC12", "610001", 1, 5.00, ""}};
    const std::string path = Open(plan);
    entry.EditTripCell("KM", "14");
    Table& ef = Trips().Nested(PositionNestName);
    ef.First();
    EXPECT_DOUBLE_EQ(ef.AsFloat("Menge"), 14);
    EXPECT_DOUBLE_EQ(Trips().AsFloat("BruttoSum"), 26.00);
    entry.EditTripCell("ZuZaBetrag", "3");
    EXPECT_EQ(ui.messages.back(), "Zuzahlung mindestens 5 €!\r\r ");
    EXPECT_EQ(Trips().AsString("ZuZaArt"), "02");
    EXPECT_THROW(entry.EditTripCell("Datum", "01.10.2014"), Error);

    ASSERT_TRUE(entry.Recompute());
    EXPECT_FALSE(entry.RecomputeNeeded());
    EXPECT_EQ(Header("RBetragBrutto"), "26,00");
    EXPECT_EQ(Header("RBetragZuZa"), "5,00");
    EXPECT_EQ(Header("RBetragNetto"), "21,00");
    ASSERT_TRUE(entry.Speichern());
    EXPECT_DOUBLE_EQ(Reread(path).Rechnung().AsFloat("RBetragNetto"), 21.00);
}

TEST_F(EntryTest, RecomputationStopsAtACaseTheChecksRefuse) {
    InvoicePlan plan;
    plan.faelle[0].status = "";
    plan.faelle[0].fahrten[0].bruttoSum = 99;   // the case's sums change: it is stored
    Open(plan);
    EXPECT_FALSE(entry.Recompute());
    EXPECT_EQ(ui.messages.back(), kRequired + "Status" + kRequest);
    EXPECT_TRUE(entry.RecomputeNeeded());
}
