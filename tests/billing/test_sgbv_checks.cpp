// The invoice copy and the checks of the billing engine: per-record checks
// while loading, the sums and cross-checks of CheckData, the single-invoice
// table, and that loading one invoice after another gives the results of a
// full check.

#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "lib/base/Strings.h"

using namespace brenvo;
using namespace brenvo::test;

namespace {

InvoicePlan Invoice(const std::string& nr = "2014-0815") {
    InvoicePlan r;
    r.saRechNr = nr;
    return r;
}

// An invoice of a billing centre (IK 330123456) whose trips belong to the
// providers given, numbered as given.
InvoicePlan CentreInvoice(const std::vector<std::pair<int, std::string>>& trips) {
    InvoicePlan r = Invoice();
    r.ikle = "330123456";
    r.faelle[0].fahrten.clear();
    for (const auto& [nr, ik] : trips) {
        TripPlan t;
        t.einzelReNr = nr;
        t.ikle = ik;
        r.faelle[0].fahrten.push_back(t);
    }
    return r;
}

EngineSettings Centre() {
    EngineSettings s;
    s.kind = 1;
    s.sender = "330123456";
    return s;
}

} // namespace

// ------------------------------------------------------------ the copy

TEST_F(EngineTest, CopyCutsConvertsAndSplitsTheTariff) {
    InvoicePlan r = Invoice();
    r.rechDatum = EncodeDate(2014, 10, 15);
    CasePlan& c = r.faelle[0];
    c.ikle = "";
    c.nachname = "Öztürk";
    c.arztN = "  ";
    c.bsn = "";
    c.fahrten[0].km = 12.5;   // to whole kilometres, half to even
    c.fahrten[0].positionen = {PositionPlan{" ab123 ", "1", 3, 2.45, ""}, PositionPlan{"0112345", "2", 0.333, 1.50, ""}};
    auto e = NewEngine();
    InvoiceDocument doc = BuildDocument(r);
    e->LoadRechnungen(doc);

    const TAbrechFall& f = *e->Faelle()[0];
    EXPECT_EQ(f.IKLE, "510123456");
    EXPECT_EQ(f.ArztN, "999999999");
    EXPECT_EQ(f.BSN, "999999999");
    EXPECT_EQ(f.Status, "10000");
    const TLeistung& l = *e->Leistungen()[0];
    EXPECT_EQ(l.KM, 12);
    ASSERT_EQ(e->Positionen().size(), 2u);
    const TTarifPosition& p1 = *e->Positionen()[0];
    EXPECT_EQ(p1.Abrechnungscode, "46");
    EXPECT_EQ(p1.TarifKennzeichen, "AB123");
    EXPECT_EQ(p1.Betrag, 735);
    EXPECT_EQ(p1.Datum, l.Datum);
    const TTarifPosition& p2 = *e->Positionen()[1];
    EXPECT_EQ(p2.Abrechnungscode, "01");
    EXPECT_EQ(p2.TarifKennzeichen, "12345");
    EXPECT_DOUBLE_EQ(p2.Menge, 0.33);
    EXPECT_EQ(p2.Betrag, 50);
    EXPECT_EQ(l.PosSum, 785);
    EXPECT_EQ(e->Rechnungen()[0]->SumBrutto, 785);

    std::string log = e->LogText();
    EXPECT_TRUE(StartsWith(log, "00000 Rechnung 2014-0815 Brutto=785 ZuZa=0 \r\n"
                                "00001  Fall Öztürk IKLE war leer. gesetzt auf 510123456\r\n"
                                "00002  Fall Öztürk Brutto=785 ZuZa=0\r\n"))
        << log;
}

TEST_F(EngineTest, ApprovalKindDerivedFromTheTripsAndStoredInTheDocument) {
    auto withTrips = [](std::vector<TDateTime> days) {
        CasePlan c;
        c.genArt = "";
        c.fahrten.clear();
        for (TDateTime d : days) {
            TripPlan t;
            t.datum = d;
            c.fahrten.push_back(t);
        }
        return c;
    };
    TDateTime d = EncodeDate(2014, 10, 6);
    InvoicePlan r = Invoice();
    r.faelle = {withTrips({d, d, d, d}), withTrips({d, IncDays(d, 1), IncDays(d, 3)}), withTrips({d, IncDays(d, 4)}),
                withTrips({})};
    r.faelle[0].voNum = "1";
    r.faelle[1].voNum = "2";
    r.faelle[2].voNum = "3";
    r.faelle[3].voNum = "4";
    r.faelle.push_back(withTrips({}));
    r.faelle[4].voNum = "5";
    r.faelle[4].genArt = "E2";   // given, kept
    InvoiceDocument doc = BuildDocument(r);
    auto e = NewEngine();
    e->LoadRechnungen(doc);
    Table& cases = doc.Rechnung().Nested("AbrFall");
    std::vector<std::string> kinds;
    for (cases.First(); !cases.Eof(); cases.Next()) kinds.push_back(cases.AsString("GenArt"));
    EXPECT_EQ(kinds, (std::vector<std::string>{"E2", "E1", "E2", "E1", "E2"}));
    EXPECT_EQ(e->Faelle()[1]->GenArt, "E1");
}

TEST_F(EngineTest, FileWithoutApprovalKindFailsOnlyForVersions08And09) {
    InvoicePlan r = Invoice();
    auto e = NewEngine(EngineSettings{.version = "07"});
    InvoiceDocument old = BuildDocument(r, false);
    e->LoadRechnungen(old);
    EXPECT_EQ(e->Faelle()[0]->GenArt, "");
    auto e9 = NewEngine();
    InvoiceDocument old9 = BuildDocument(r, false);
    EXPECT_EQ(ErrorOf([&] { e9->LoadRechnungen(old9); }), "AbrechFall 1001 GenArt nicht E1 oder E2");
}

// ------------------------------------------------------------ per-record checks

TEST_F(EngineTest, InvoiceHeaderChecks) {
    InvoicePlan r = Invoice();
    r.ikle = "51012345X";
    EXPECT_EQ(LoadError(r), "TSGBV IKLeistungsE ungültig Rechnung=2014-0815");
    r = Invoice();
    r.ikkt = "";
    EXPECT_EQ(LoadError(r), "TSGBV IKKostenträger ungültig Rechnung=2014-0815");
    r = Invoice();
    r.ikle = "510123457";
    EXPECT_EQ(LoadError(r), "TSGBV IKLeistungserbringer <> IKAbsender Rechnung=2014-0815");
}

TEST_F(EngineTest, CaseChecksInTheirOrder) {
    auto caseError = [&](auto change, const EngineSettings& s = {}) {
        InvoicePlan r = Invoice();
        change(r.faelle[0]);
        return LoadError(r, s);
    };
    EXPECT_EQ(caseError([](CasePlan& c) { c.ikPat = "10333001 "; }), "AbrechFall 1001 Vers.IK ungültig.");
    EXPECT_EQ(caseError([](CasePlan& c) { c.voNum = " "; }), "AbrechFall   Verordnungsnummer (VONum) fehlt.");
    EXPECT_EQ(caseError([](CasePlan& c) { c.nachname = ""; }), "AbrechFall 1001 Vers.Nachname ungültig.");
    EXPECT_EQ(caseError([](CasePlan& c) { c.vorname = ""; }), "AbrechFall 1001 Vers.Vorname ungültig.");
    EXPECT_EQ(caseError([](CasePlan& c) { c.arztN = "12345 789"; }), "AbrechFall 1001 ArztNummer ungültig.");
    EXPECT_EQ(caseError([](CasePlan& c) { c.zuzaKennz = ""; }), "AbrechFall 1001 Zuzahlungskennzeichen fehlt.");
    EXPECT_EQ(caseError([](CasePlan& c) { c.zuzaKennz = "4"; }), "AbrechFall 1001 Zuzahlungskennzeichen ungültig.");
    EXPECT_EQ(caseError([](CasePlan& c) { c.genArt = "E3"; }), "AbrechFall 1001 GenArt nicht E1 oder E2");
    EXPECT_EQ(caseError([](CasePlan& c) { c.genArt = "E3"; }, EngineSettings{.version = "07"}), "");
    EXPECT_EQ(caseError([](CasePlan& c) { c.ikPat = "103110016"; }),
              "AbrechFall 1001 Fall.PatIK <> Rechnung.IKKrankenkasse");

    // Substitute procedure: without status or insurance number the address
    // must be complete.
    EXPECT_EQ(caseError([](CasePlan& c) {
                  c.status = "";
                  c.ort = "";
              }),
              "AbrechFall 1001 Ersatzverfahren. Adresse fehlt oder nicht vollständig.");
    EXPECT_EQ(caseError([](CasePlan& c) { c.status = ""; }), "");
    EXPECT_EQ(caseError([](CasePlan& c) {
                  c.versNum = "";
                  c.plz = "";
              }),
              "AbrechFall 1001 Ersatzverfahren. Adresse fehlt oder nicht vollständig.");
}

TEST_F(EngineTest, PostcodeLongerThanFiveCharactersIsRefused) {
    auto e = NewEngine();
    auto r = std::make_unique<TRechnung>();
    r->IKLE = "510123456";
    r->IKKT = r->IKPAT = "103330011";
    TRechnung& rec = e->AddRechnung(std::move(r));
    auto c = std::make_unique<TAbrechFall>();
    c->IKPat = "103330011";
    c->VONum = "7";
    c->Nachname = c->Vorname = "X";
    c->Plz = "123456";
    c->ZuzaKennz = "0";
    c->GenArt = "E1";
    EXPECT_EQ(ErrorOf([&] { e->AddAbrFall(std::move(c), rec); }), "AbrechFall 7 Vers.Plz ungültig.");
}

TEST_F(EngineTest, InsuranceStatusFromOctober2014IsNormalised) {
    InvoicePlan r = Invoice();
    r.faelle[0].status = "1 000";
    r.faelle.push_back(CasePlan{});
    r.faelle[1].voNum = "1002";
    r.faelle[1].status = "     ";
    r.faelle.push_back(CasePlan{});
    r.faelle[2].voNum = "1003";
    r.faelle[2].status = "2";
    auto e = NewEngine();
    InvoiceDocument doc = BuildDocument(r);
    e->LoadRechnungen(doc);
    const auto& f = e->Faelle();
    EXPECT_EQ(f[0]->Status, "10000");
    EXPECT_EQ(e->StatusKey(*f[0]), "11");
    EXPECT_EQ(f[1]->Status, "00000");
    EXPECT_EQ(e->StatusKey(*f[1]), "99");
    EXPECT_EQ(f[2]->Status, "20000");
    EXPECT_EQ(e->StatusKey(*f[2]), "99");
}

TEST_F(EngineTest, InsuranceStatusBeforeOctober2014IsTested) {
    EngineSettings before{.versionDate = EncodeDate(2014, 9, 29)};
    auto statusError = [&](const std::string& status) {
        InvoicePlan r = Invoice();
        r.faelle[0].status = status;
        return LoadError(r, before);
    };
    EXPECT_EQ(statusError("10001"), "");
    EXPECT_EQ(statusError(" 000M"), "");
    EXPECT_EQ(statusError("20001"), "AbrechFall 1001 VersStatus Stelle 1 ungültig");
    EXPECT_EQ(statusError("1000"), "AbrechFall 1001 VersStatus Stelle 5 ungültig");
    // No "0" in the list of the fifth character: 10000 is refused.
    EXPECT_EQ(statusError("10000"), "AbrechFall 1001 VersStatus Stelle 5 ungültig");

    auto e = NewEngine(before);
    TAbrechFall c;
    auto key = [&](const std::string& s) {
        c.Status = s;
        return e->StatusKey(c);
    };
    EXPECT_EQ(key("10001"), "11");
    EXPECT_EQ(key("30009"), "39");
    EXPECT_EQ(key("10007"), "07");
    EXPECT_EQ(key("50008"), "07");
    EXPECT_EQ(key("10004"), "99");
    EXPECT_EQ(key("3000X"), "39");
    EXPECT_EQ(key("5000E"), "51");
    EXPECT_EQ(key("10000"), "99");
    EXPECT_EQ(key("100"), "99");
    EXPECT_EQ(key("  "), "99");
}

TEST_F(EngineTest, TripChecks) {
    auto tripError = [&](auto change, const std::string& zuzaKennz = "3") {
        InvoicePlan r = Invoice();
        r.faelle[0].zuzaKennz = zuzaKennz;
        change(r.faelle[0].fahrten[0]);
        return LoadError(r);
    };
    auto copay = [](const std::string& art) {
        return [art](TripPlan& t) {
            t.zuZaBetrag = 5;
            t.zuZaArt = art;
        };
    };
    EXPECT_EQ(tripError(copay("02"), "0"),
              "AddLeistung: Zuzahlungsbetrag<>0 trotz Zuzahlungskennzeichen befreit ua AbrFall=1001");
    EXPECT_EQ(tripError(copay("02")), "");
    EXPECT_EQ(tripError(copay("1")), "");   // a substring of " 01 02 03 04 05 "
    EXPECT_EQ(tripError(copay("06")), "AddLeistung: ZuZaArt ungültig. AbrFall=1001");
    EXPECT_EQ(tripError(copay("")), "AddLeistung: ZuZaArt ungültig. AbrFall=1001");
    EXPECT_EQ(tripError([](TripPlan& t) { t.zuZaArt = "06"; }), "");   // no co-payment, no test
    EXPECT_EQ(tripError([](TripPlan& t) {
                  t.vonOrt = "";
                  t.nachPlz = "";
              }),
              "AddLeistung: VO=1001 Von-Ort fehlt");
    EXPECT_EQ(tripError([](TripPlan& t) { t.nachStrasse = " "; }), "AddLeistung: VO=1001 Nach-Strasse fehlt");
}

TEST_F(EngineTest, PositionChecks) {
    auto tarifError = [&](const std::string& tarif, const std::string& posNum = "4711") {
        InvoicePlan r = Invoice();
        r.faelle[0].fahrten[0].positionen[0].tarif = tarif;
        r.faelle[0].fahrten[0].positionen[0].posNum = posNum;
        return LoadError(r);
    };
    EXPECT_EQ(tarifError("0112345"), "");
    EXPECT_EQ(tarifError("46ABCD"), "Abrechnungscode ungültig.");
    EXPECT_EQ(tarifError("AB12345"), "Abrechnungscode ungültig.");
    EXPECT_EQ(tarifError("01 2345"), "TarifKennzeichen ungültig. (Länge)");
    EXPECT_EQ(tarifError("01     "), "Abrechnungscode ungültig.");   // trimmed to two characters
    EXPECT_EQ(tarifError("0112345", " "), "PosNummer ungültig.");
}

// ------------------------------------------------------------ CheckData

TEST_F(EngineTest, TripSumMustMatchItsPositions) {
    InvoicePlan r = Invoice();
    TripPlan& t = r.faelle[0].fahrten[0];
    t.positionen = {PositionPlan{"46ABCDE", "1", 1, 4.00, ""}, PositionPlan{"46ABCDE", "2", 1, 5.99, ""}};
    t.bruttoSum = 10.00;
    EXPECT_EQ(LoadError(r), "Summenprüfung Leistungen Rechnung=2014-0815  Fall=1001 Leistung=06.10.2014b1=1000 b2=999");
}

TEST_F(EngineTest, CaseAndInvoiceSums) {
    InvoicePlan r = Invoice();
    r.faelle[0].betragBrutto = 11;
    EXPECT_EQ(LoadError(r), "Summenprüfung Fälle Rechnungsbetrag");
    r = Invoice();
    r.faelle[0].betragZuZaSum = 1;
    EXPECT_EQ(LoadError(r), "Summenprüfung Fälle Zuzabetrag");

    // A flat co-payment belongs to the case's co-payments and lowers the
    // invoice's claim.
    r = Invoice();
    r.faelle[0].zuzaKennz = "3";
    r.faelle[0].betragZuZaPausch = 10;
    r.faelle[0].fahrten[0].positionen[0].ePreis = 47.50;
    EXPECT_EQ(LoadError(r), "");
    r.rNetto = 47.50;
    EXPECT_EQ(LoadError(r), "Summenprüfung Rechnung Netto: 3750 <> 4750");
    r.rNetto = 37.50;
    r.rBrutto = 47.00;
    EXPECT_EQ(LoadError(r), "Summenprüfung Rechnung Brutto: 4750 <> 4700");
    r = Invoice();
    r.rZuZa = 1;
    EXPECT_EQ(LoadError(r), "Summenprüfung Rechnung ZuZa");
}

TEST_F(EngineTest, DirectoryChecks) {
    InvoicePlan r = Invoice();
    r.ikPat = r.faelle[0].ikPat = "109999999";
    EXPECT_EQ(LoadError(r), "TSGBKTStore IK nicht validiert 109999999 IKPatient");

    // The insurer must be the cost bearer or refer to it.
    r = Invoice();
    r.ikPat = r.faelle[0].ikPat = "103110027";
    EXPECT_EQ(LoadError(r), "TSGBKTStore ValidateVerweis IKvon=103110027 IKnach=103330011 gefundenes IKnach=103110016");
    r.ikkt = "103110016";
    EXPECT_EQ(LoadError(r), "");

    // The directory names another data recipient than the engine's.
    EXPECT_EQ(LoadError(Invoice(), EngineSettings{.recipient = "109910025"}),
              "TSGBV Rechnung: Daten-Empfaenger kann nicht bestätigt werden. Angegeben=109910025 gefunden=109910014");
}

TEST_F(EngineTest, SingleInvoiceNumbering) {
    EXPECT_EQ(LoadError(CentreInvoice({{1, "510000011"}, {2, "520000022"}, {1, "510000011"}}), Centre()), "");
    EXPECT_EQ(LoadError(CentreInvoice({{1, "510000011"}, {3, "520000022"}}), Centre()),
              "PrepareLEListForREchnung: Einzelrechnungsnummern nicht fortlaufend.");
    EXPECT_EQ(LoadError(CentreInvoice({{2, "510000011"}, {3, "520000022"}}), Centre()),
              "PrepareLEListForREchnung: Erste EinzelReNr ist nicht 1");
    EXPECT_EQ(LoadError(CentreInvoice({{1, "510000011"}, {1, "520000022"}}), Centre()),
              "PrepareLEListForRechnung: EinzelReNr und IKLE nicht konsistent(1)");
    EXPECT_EQ(LoadError(CentreInvoice({{1, "510000011"}, {2, "510000011"}}), Centre()),
              "PrepareLEListForRechnung: EinzelReNr und IKLE nicht konsistent(2) ");
    EXPECT_EQ(LoadError(CentreInvoice({}), Centre()),
              "PrepareLEListForREchnung: Rechnung ohne Leistungen. Rechnung=2014-0815");
    // Ten single invoices: "0010" comes last.
    std::vector<std::pair<int, std::string>> ten;
    for (int i = 10; i >= 1; --i) ten.push_back({i, "5100000" + std::to_string(10 + i)});
    auto e = NewEngine(Centre());
    InvoiceDocument doc = BuildDocument(CentreInvoice(ten));
    e->LoadRechnungen(doc);
    ASSERT_EQ(e->EinzelRechnungen().size(), 10u);
    EXPECT_EQ(e->EinzelRechnungen().rbegin()->first, "0010");
}

// A single provider's invoice is billed with the trips of its own IK only;
// a trip of another provider would be dropped from the billing file.
TEST_F(EngineTest, SingleProviderInvoiceWithATripOfAnotherProviderIsRefused) {
    InvoicePlan r = Invoice();
    r.faelle[0].fahrten.push_back(TripPlan{});
    r.faelle[0].fahrten[1].ikle = "520000022";
    r.faelle[0].fahrten[1].einzelReNr = 2;
    EXPECT_EQ(LoadError(r), "TSGBV Leistung eines anderen Leistungserbringers. Rechnung=2014-0815 Fall=1001 "
                            "IKLE Leistung=520000022 IKLE Rechnung=510123456");
    r.faelle[0].fahrten[1].ikle = "";
    EXPECT_EQ(LoadError(r), "TSGBV Leistung eines anderen Leistungserbringers. Rechnung=2014-0815 Fall=1001 "
                            "IKLE Leistung= IKLE Rechnung=510123456");
    // A billing centre's invoice holds several providers' trips.
    EngineSettings centre = Centre();
    r.ikle = "330123456";
    r.faelle[0].fahrten[0].ikle = "510123456";
    r.faelle[0].fahrten[1].ikle = "520000022";
    EXPECT_EQ(LoadError(r, centre), "");
}

TEST_F(EngineTest, InvoicesSortedByCostBearerThenSingleInvoiceNumber) {
    auto e = NewEngine();
    auto add = [&](const std::string& nr, const std::string& ikkt, const std::string& einzel) {
        InvoicePlan r = Invoice(nr);
        r.ikkt = r.ikPat = r.faelle[0].ikPat = ikkt;
        r.einzelRechNr = einzel;
        InvoiceDocument doc = BuildDocument(r);
        e->LoadRechnungen(doc);
    };
    add("A", "103330011", "10");
    add("B", "103330011", "9");
    add("C", "103110016", "2");
    add("D", "103330011", "09");
    std::string order;
    for (const TRechnung* r : e->Rechnungen()) order += r->SaRechNr;
    EXPECT_EQ(order, "CBDA");
}

// ------------------------------------------------------------ loading one by one

TEST_F(EngineTest, EachLoadChecksEverythingLoadedSoFarWhenTheDayChanges) {
    // 103440014 sends its data to 109910014 until 31.12.2015, then to 109910025.
    SetFixedNow(EncodeDateTime(2015, 12, 31, 23, 59, 0));
    auto e = NewEngine();
    InvoicePlan old = Invoice("ALT");
    old.ikkt = old.ikPat = old.faelle[0].ikPat = "103440014";
    InvoiceDocument d1 = BuildDocument(old);
    e->LoadRechnungen(d1);

    SetFixedNow(EncodeDateTime(2016, 1, 1, 0, 1, 0));
    InvoiceDocument d2 = BuildDocument(Invoice("NEU"));
    EXPECT_EQ(ErrorOf([&] { e->LoadRechnungen(d2); }),
              "TSGBV Rechnung: Daten-Empfaenger kann nicht bestätigt werden. Angegeben=109910014 gefunden=109910025");
    // Checked again, the engine gives the same answer.
    EXPECT_EQ(ErrorOf([&] { e->CheckData(); }),
              "TSGBV Rechnung: Daten-Empfaenger kann nicht bestätigt werden. Angegeben=109910014 gefunden=109910025");
}

TEST_F(EngineTest, AFailedCheckFailsAgainWithTheFirstFailureInCheckOrder) {
    auto e = NewEngine();
    InvoiceDocument good = BuildDocument(Invoice("A"));
    e->LoadRechnungen(good);
    InvoicePlan bad = Invoice("B");
    bad.faelle[0].betragBrutto = 11;
    InvoiceDocument badDoc = BuildDocument(bad);
    EXPECT_EQ(ErrorOf([&] { e->LoadRechnungen(badDoc); }), "Summenprüfung Fälle Rechnungsbetrag");

    // A later invoice whose case sorts before the failing one and fails its
    // own case check reports first; one whose trip sum is wrong reports
    // before any case.
    InvoicePlan earlier = Invoice("C");
    earlier.ikkt = earlier.ikPat = "103110016";
    earlier.faelle[0].ikPat = "103110016";
    earlier.faelle[0].betragZuZaSum = 1;
    InvoiceDocument earlierDoc = BuildDocument(earlier);
    EXPECT_EQ(ErrorOf([&] { e->LoadRechnungen(earlierDoc); }), "Summenprüfung Fälle Zuzabetrag");
    InvoicePlan tripSum = Invoice("D");
    tripSum.faelle[0].fahrten[0].bruttoSum = 1;
    InvoiceDocument tripDoc = BuildDocument(tripSum);
    EXPECT_EQ(ErrorOf([&] { e->LoadRechnungen(tripDoc); }),
              "Summenprüfung Leistungen Rechnung=D  Fall=1001 Leistung=06.10.2014b1=100 b2=1000");
    EXPECT_EQ(ErrorOf([&] { e->CheckData(); }),
              "Summenprüfung Leistungen Rechnung=D  Fall=1001 Leistung=06.10.2014b1=100 b2=1000");
}

TEST_F(EngineTest, TheSameInvoicesLoadedTogetherOrOneByOneGiveTheSameFile) {
    std::vector<InvoicePlan> plans;
    for (int i = 0; i < 4; ++i) {
        InvoicePlan r = Invoice("R" + std::to_string(i));
        r.einzelRechNr = std::to_string(4 - i);
        if (i % 2) r.ikkt = r.ikPat = r.faelle[0].ikPat = "103110016";
        r.faelle[0].voNum = std::to_string(100 - i);
        plans.push_back(r);
    }
    auto together = NewEngine();
    InvoiceDocument all;
    for (const auto& s : plans) AddInvoice(all, s);
    together->LoadRechnungen(all);
    together->CheckData();
    together->Generate();

    auto single = NewEngine();
    for (const auto& s : plans) {
        InvoiceDocument d = BuildDocument(s);
        single->LoadRechnungen(d);
    }
    single->CheckData();
    single->Generate();
    EXPECT_EQ(single->SegmentsText(), together->SegmentsText());
    EXPECT_EQ(single->GetBegleitzettel(), together->GetBegleitzettel());
}
