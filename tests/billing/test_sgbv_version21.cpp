// Message version 21: whole interchanges compared byte for byte with files
// written by hand from the insurers' field tables (tests/billing/data/v21_*),
// every file held against those tables and the envelope and sum rules
// (Version21Rules.h), and the invoices the checks refuse before anything is
// written.

#include <gtest/gtest.h>

#include <functional>

#include "EngineFixture.h"
#include "Version21Rules.h"
#include "lib/base/Cp1252.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

using namespace brenvo;
using namespace brenvo::test;

namespace {

const std::string kHandle = "20141020_093015000";

std::string DataFile(const std::string& dir, const std::string& name) {
    return std::string(BRENVO_SOURCE_DIR) + "/tests/billing/data/" + dir + "/" + name;
}

// The hand-written file: UTF-8 with LF in the repository, windows-1252 with
// CR LF as the program writes it.
std::string Expected(const std::string& dir) {
    return Utf8ToCp1252(ReplaceAll(ReadFileBytes(DataFile(dir, "expected.txt")), "\n", "\r\n"));
}

std::string Lines(const std::vector<std::string>& v) { return Join(v, "\n"); }

// A single provider's invoice that version 21 accepts: the builder's
// defaults with a six-digit position number and a tariff of area 01.
InvoicePlan Valid21() {
    InvoicePlan r;
    r.faelle[0].fahrten[0].positionen[0].tarif = "4601001";
    r.faelle[0].fahrten[0].positionen[0].posNum = "610001";
    return r;
}

EngineSettings V21() { return EngineSettings{.version = "21"}; }

} // namespace

class Version21Test : public EngineTest {
protected:
    // Bills the invoice file of the data directory and returns the billing file.
    std::string Bill(const std::string& data, const EngineSettings& s) {
        auto e = NewEngine(s);
        e->SetHandle(kHandle);
        InvoiceDocument doc = InvoiceDocument::FromFile(DataFile(data, "rechnung.xml"));
        e->LoadRechnungen(doc);
        e->CheckData();
        e->Generate();
        e->WriteFiles();
        return ReadFileBytes(dir.file(kHandle));
    }

    // The written file equals the hand-written one. Both are held against the
    // rules too: the hand-written one, so that it says what the field tables
    // say, and the written one.
    void ExpectInterchange(const std::string& data, const EngineSettings& s) {
        const std::string expected = Expected(data);
        EXPECT_EQ(Lines(Version21Problems(expected)), "");
        const std::string written = Bill(data, s);
        EXPECT_EQ(Cp1252ToUtf8(written), Cp1252ToUtf8(expected));
        EXPECT_EQ(Lines(Version21Problems(written)), "");
    }

    // Loads the invoice built from the plan, with edits of the document, in
    // an engine of the given settings: the message of the refusal or "".
    std::string Refusal(const InvoicePlan& plan, const std::function<void(Table& header)>& edit,
                        const EngineSettings& s = V21()) {
        InvoiceDocument doc = BuildDocument(plan);
        Table& h = doc.Rechnung();
        h.First();
        edit(h);
        auto e = NewEngine(s);
        return ErrorOf([&] {
            e->LoadRechnungen(doc);
            e->Generate();
        });
    }
};

// A single provider with two cases: co-payments of both kinds, km flat
// rates with their kilometres, an eVerordnung, an accident mark, a federal
// position number given beside the tariff's own.
TEST_F(Version21Test, SingleProviderWithTwoCases) {
    ExpectInterchange("v21_einzel", EngineSettings{.version = "21", .sender = "510123456", .recipient = "109910014",
                                                      .number = 10, .seed = 5, .kind = 0, .testIndicator = 1});
}

// A billing centre with two providers sharing one case: cash discount on
// the collective invoice, image archive, document information.
TEST_F(Version21Test, BillingCentreWithTwoProviders) {
    ExpectInterchange("v21_zentrum", EngineSettings{.version = "21", .sender = "330123456", .recipient = "109910025",
                                                       .number = 9, .seed = 42, .kind = 1, .testIndicator = 2});
}

// VAT added to net prices, with tax number and cash discount.
TEST_F(Version21Test, VatAddedToNetPrices) {
    ExpectInterchange("v21_mwst", EngineSettings{.version = "21", .sender = "510123456", .recipient = "109910014",
                                                    .number = 10, .seed = 5, .kind = 0, .testIndicator = 1});
}

// The checker itself finds what it is there to find.
TEST_F(Version21Test, TheRulesFindBrokenFiles) {
    const std::string good = Expected("v21_mwst");
    auto problems = [&](const std::string& from, const std::string& to) {
        return Lines(Version21Problems(ReplaceFirst(good, from, to)));
    };
    EXPECT_EQ(problems("", ""), "");
    EXPECT_EQ(problems("NAM+Fahrdienst Wei\xDF", "NAM+" + std::string(31, 'x')),
              "Zeile 9 NAM: Element 2: \"" + std::string(31, 'x') + "\" hat die falsche Länge");
    EXPECT_EQ(problems("+42,00+", "+10042,00+"), "Zeile 17 EKT: Element 7: \"10042,00\" hat mehr als 4 Vorkommastellen");
    EXPECT_EQ(problems("ZKT+345678900+234567801+0+20141002'", "ZKT+345678900+234567801+0+20141002+'"),
              "Zeile 22 ZKT: leeres Datenelement am Segmentende");
    EXPECT_EQ(problems("MWS+7,00+4,44'", "MWS+7,00+4,4'"),
              "Zeile 18 MWS: Element 3: \"4,4\" ist kein Betrag mit zwei Nachkommastellen");
    EXPECT_EQ(problems("TXT+Tragehilfe'", "TXT+Trage'hilfe'"), "Zeile 20: kein einzelnes Segment mit Endezeichen");
    EXPECT_EQ(problems("UNT+000014+00002'", "UNT+000013+00002'"), "UNT 00002 passt nicht");
    EXPECT_EQ(problems("UNZ+000002", "UNZ+000003"), "UNZ passt nicht zu UNB und den Nachrichten");
    EXPECT_EQ(problems("TXT+Tragehilfe'\r\nMWS+19,00+1,90'", "MWS+19,00+1,90'\r\nTXT+Tragehilfe'"),
              "UNH 00002: Segmentfolge FKT REC INV NAD KTL EKT MWS EKT MWS TXT ZKT BES ");
    EXPECT_EQ(problems("SLLA:21:0:0", "SLLA:09:0:0"), "UNH 00002: Nachrichtenkennung UNH+00002+SLLA:09:0:0");
}

TEST_F(Version21Test, TextsCountWithoutTheirEscapesAndEndAfterTheLastValue) {
    InvoicePlan r = Valid21();
    r.faelle[0].nachname = "O'" + std::string(45, 'x');   // 47 characters, 48 escaped
    r.name4 = "";
    auto e = NewEngine(V21());
    InvoiceDocument doc = BuildDocument(r);
    e->LoadRechnungen(doc);
    e->Generate();
    const std::string segments = e->SegmentsText();
    EXPECT_TRUE(Contains(segments, "\r\nNAD+O?'" + std::string(45, 'x') + "+Erika+19400501+Hauptstr. 5+50667+Köln'\r\n"));
    EXPECT_TRUE(Contains(segments, "\r\nNAM+Taxi Beispiel GmbH+Hauptstr. 1+12345 Musterstadt'\r\n"));
    EXPECT_TRUE(Contains(segments, "\r\nZKT+987654300+123456701+1+20141001'\r\n"));
    EXPECT_EQ(Lines(Version21Problems(Utf8ToCp1252(segments))), "");
}

TEST_F(Version21Test, InvoicesThatBreakARuleAreRefusedNamingInvoiceCaseAndField) {
    using Edit = std::function<void(Table&)>;
    // An edit of the first record of a level: the header, or the nested
    // tables named from it.
    auto at = [](std::vector<const char*> path, std::function<void(Table&)> f) -> Edit {
        return [path, f](Table& h) {
            Table* t = &h;
            for (const char* nested : path) {
                t = &t->Nested(nested);
                t->First();
            }
            t->Edit();
            f(*t);
            t->Post();
        };
    };
    const auto onHeader = [&](std::function<void(Table&)> f) { return at({}, f); };
    const auto onCase = [&](std::function<void(Table&)> f) { return at({"AbrFall"}, f); };
    const auto onTrip = [&](std::function<void(Table&)> f) { return at({"AbrFall", "Leistung"}, f); };
    const auto onPosition = [&](std::function<void(Table&)> f) { return at({"AbrFall", "Leistung", "EF"}, f); };
    const std::string invoice = "TSGBV Rechnung=2014-0815 ";
    const std::string trip = invoice + "Fall=1001 Fahrt=06.10.2014 ";
    struct Case {
        Edit edit;
        std::string message;
    };
    const Case cases[] = {
        {[](Table&) {}, ""},
        {onHeader([](Table& h) { h.SetString("SaRechNr", "2014--0815"); }),
         "TSGBV Rechnung=2014--0815 Feld SaRechNr: Die Rechnungsnummer \"2014--0815\" darf nur Buchstaben, Ziffern und "
         "einzelne Gliederungszeichen - oder / enthalten, nicht am Anfang oder Ende."},
        {onHeader([](Table& h) { h.SetString("Name2", "Kasse 5 €"); }),
         invoice + "Feld Name2: Das Zeichen \"€\" ist in Abrechnungsdaten nicht erlaubt."},
        {onHeader([](Table& h) { h.SetFloat("SkontoProzent", 2); }),
         invoice + "Feld SkontoTage: Die Skonto-Frist muss 1 bis 999 Tage betragen."},
        {onCase([](Table& c) { c.SetNull("Geb"); }), invoice + "Fall=1001 Feld Geb: Das Geburtsdatum fehlt."},
        {onCase([](Table& c) { c.SetString("GenZeich", "G-1"); }),
         invoice + "Fall=1001 Feld GenDatum: Zum Genehmigungszeichen fehlt das Datum der Genehmigung."},
        {onCase([](Table& c) { c.SetString("Unfall", "4"); }),
         invoice + "Fall=1001 Feld Unfall: Erlaubt sind 1, 2, 3 oder nichts, nicht \"4\"."},
        {onCase([](Table& c) { c.SetString("EVO_ID", "160.000.100"); }),
         invoice + "Fall=1001 Feld EVO_ID: Die ID der eVerordnung hat mindestens 22 Zeichen."},
        {onCase([](Table& c) { c.SetString("IMG_Jahr", "2014"); }),
         invoice + "Fall=1001 Feld IMG_Monat: Der Abrechnungsmonat des Images \"\" ist ungültig."},
        {onCase([](Table& c) {
             c.SetFloat("BetragZuZaPausch", 5);
             c.SetString("ZuzaKennz", "3");
         }),
         invoice + "Fall=1001 Feld BetragZuZaPausch: Eine pauschale Zuzahlung des Falls lässt sich nicht übermitteln; "
                   "Zuzahlungen stehen bei den Fahrten."},
        {onTrip([](Table& t) { t.SetString("ZEIT1", "2460"); }), trip + "Feld ZEIT1: \"2460\" ist keine Uhrzeit HHMM."},
        {onTrip([](Table& t) { t.SetString("NACH_PLZ", "5093"); }),
         trip + "Feld NACH_PLZ: Ein Ort im Inland hat eine fünfstellige Postleitzahl, nicht \"5093\"."},
        {onTrip([](Table& t) { t.SetFloat("KM", 10000); }), trip + "Feld KM: Die Kilometer liegen zwischen 0 und 9999,99."},
        {onPosition([](Table& p) { p.SetString("PosNum", "4711"); }),
         trip + "Position=1 Feld PosNum: \"4711\" ist keine sechsstellige bundeseinheitliche Positionsnummer."},
        {onPosition([](Table& p) { p.SetString("BPosNum", "61000A"); }),
         trip + "Position=1 Feld BPosNum: \"61000A\" ist keine sechsstellige bundeseinheitliche Positionsnummer."},
        {onPosition([](Table& p) { p.SetString("Tarif", "1101001"); }),
         trip + "Position=1 Feld Tarif: Der Abrechnungscode \"11\" gehört nicht zu Krankentransportleistungen (41 bis 49)."},
        {onPosition([](Table& p) { p.SetFloat("MwStSatz", 100); }),
         trip + "Position=1 Feld MwStSatz: Der Mehrwertsteuersatz muss zwischen 0 und 100 Prozent liegen."},
    };
    for (const Case& c : cases) EXPECT_EQ(Refusal(Valid21(), c.edit), c.message);

    // Sums and repetitions of the whole invoice.
    InvoicePlan twoCases = Valid21();
    twoCases.faelle.push_back(twoCases.faelle[0]);
    EXPECT_EQ(Refusal(twoCases, [](Table&) {}),
              invoice + "Fall=1001 Feld VONum: Die Belegnummer 1001 hat schon ein anderer Fall der Rechnung.");
    InvoicePlan copay = Valid21();
    copay.faelle[0].zuzaKennz = "5";   // a transition to liable: co-payments allowed
    copay.faelle[0].fahrten[0].zuZaArt = "02";
    copay.faelle[0].fahrten[0].zuZaBetrag = 10.01;
    EXPECT_EQ(Refusal(copay, [](Table&) {}), trip + "Feld ZuZaBetrag: Die Zuzahlung 10,01 ist höher als der Preis der Fahrt 10,00.");
    copay.faelle[0].fahrten[0].zuZaArt = "05";
    EXPECT_EQ(Refusal(copay, [](Table&) {}), "AddLeistung: ZuZaArt ungültig. AbrFall=1001");
    const auto netPrice = onPosition([](Table& p) { p.SetFloat("MwStSatz", 7); });
    InvoicePlan vat = Valid21();
    vat.faelle[0].fahrten[0].bruttoSum = 10.70;
    vat.faelle[0].betragBrutto = 10.70;
    vat.rBrutto = vat.rNetto = 10.70;
    EXPECT_EQ(Refusal(vat, netPrice),
              invoice + "Feld Steuernummer: Positionen mit zugeschlagener Mehrwertsteuer verlangen die Steuernummer.");
    EXPECT_EQ(Refusal(Valid21(), netPrice, EngineSettings{}),
              trip + "Position=1 Feld MwStSatz: Zugeschlagene Mehrwertsteuer wird erst ab Version 21 übermittelt.");
}
