#pragma once

// Builds invoice documents for tests from plain descriptions. Amounts left
// unset (NaN) are filled in as the entry window would: a trip's gross amount
// from its positions, a case's from its trips, the header totals from the
// cases; so a built invoice passes the sum checks unless a test sets a
// wrong amount on purpose.

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "billing/InvoiceDocument.h"
#include "billing/PositionBetrag.h"
#include "lib/base/DateTime.h"
#include "lib/base/Money.h"
#include "lib/dataset/Table.h"

namespace brenvo::test {

inline constexpr double Unset = std::numeric_limits<double>::quiet_NaN();

struct PositionPlan {
    std::string tarif = "46ABCDE";
    std::string posNum = "4711";
    double menge = 1;
    double ePreis = 10.0;
    std::string text;
    double ust = 0;        // VAT contained in the price (not billed)
    double mwstSatz = 0;   // VAT added to a net price; 0: none
};

struct TripPlan {
    TDateTime datum = EncodeDate(2014, 10, 6);
    std::string ikle = "510123456";
    int64_t einzelReNr = 1;
    std::string zuZaArt;
    double zuZaBetrag = 0;
    double bruttoSum = Unset;
    double km = 12;
    std::string zeit1 = "0800", zeit2 = "0830";
    int64_t dauer = 30;
    std::string vonPlz = "50667", vonOrt = "Köln", vonStrasse = "Domstraße 1", vonLand;
    std::string nachPlz = "50937", nachOrt = "Köln", nachStrasse = "Kerpener Str. 62", nachLand;
    std::vector<PositionPlan> positionen = {PositionPlan{}};
};

struct CasePlan {
    std::string ikPat = "103330011";
    std::string ikle;
    std::string versNum = "A123456789";
    std::string status = "1";
    std::string voNum = "1001";
    std::string nachname = "Mustermann";
    std::string vorname = "Erika";
    TDateTime geb = EncodeDate(1940, 5, 1);
    std::string strasse = "Hauptstr. 5", plz = "50667", ort = "Köln";
    std::string arztN = "123456701", bsn = "987654300";
    TDateTime voDatum = EncodeDate(2014, 10, 1);
    std::string zuzaKennz = "1";
    std::string genZeich;
    TDateTime genDatum;
    std::string genArt = "E1";
    double betragBrutto = Unset, betragZuZaSum = Unset, betragZuZaPausch = 0;
    std::vector<TripPlan> fahrten = {TripPlan{}};
};

struct InvoicePlan {
    std::string saRechNr = "2014-0815";
    std::string einzelRechNr = "1";
    TDateTime rechDatum = EncodeDate(2014, 10, 15);
    std::string ikle = "510123456";
    std::string ikkt = "103330011";
    std::string ikPat = "103330011";
    double rBrutto = Unset, rNetto = Unset, rZuZa = Unset;
    std::string name1 = "Taxi Beispiel GmbH", name2 = "Hauptstr. 1", name3 = "12345 Musterstadt", name4;
    std::vector<CasePlan> faelle = {CasePlan{}};
};

inline int64_t TripCents(const TripPlan& t) {
    if (!std::isnan(t.bruttoSum)) return EuroToCents(t.bruttoSum);
    int64_t s = 0;
    for (const auto& p : t.positionen)
        s += PositionBetragCents(p.ePreis, p.menge) + PositionMwStCents(p.ePreis, p.menge, p.mwstSatz);
    return s;
}

inline void SetText(Table& t, const char* name, const std::string& v) {
    if (!v.empty()) t.SetString(name, v);
}

inline void AddInvoice(InvoiceDocument& doc, const InvoicePlan& r) {
    Table& h = doc.Rechnung();
    h.Append();
    h.SetInteger("RechID", 17);
    SetText(h, "SaRechNr", r.saRechNr);
    SetText(h, "EinzelRechNr", r.einzelRechNr);
    h.SetDateTime("RechDatum", r.rechDatum);
    SetText(h, "IKLE", r.ikle);
    SetText(h, "IKKT", r.ikkt);
    SetText(h, "IKPat", r.ikPat);
    SetText(h, "Name1", r.name1);
    SetText(h, "Name2", r.name2);
    SetText(h, "Name3", r.name3);
    SetText(h, "Name4", r.name4);
    int64_t brutto = 0, zuza = 0;
    Table& cases = h.Nested(CaseNestName);
    int64_t id = 1;
    for (const auto& c : r.faelle) {
        cases.Append();
        cases.SetInteger("ARechID", 5);
        cases.SetInteger("AbrFallID", id);
        SetText(cases, "IKPat", c.ikPat);
        SetText(cases, "IKLE", c.ikle);
        SetText(cases, "VersNum", c.versNum);
        SetText(cases, "Status", c.status);
        SetText(cases, "VONum", c.voNum);
        SetText(cases, "Nachname", c.nachname);
        SetText(cases, "Vorname", c.vorname);
        cases.SetDateTime("Geb", c.geb);
        SetText(cases, "Strasse", c.strasse);
        SetText(cases, "Plz", c.plz);
        SetText(cases, "Ort", c.ort);
        SetText(cases, "ArztN", c.arztN);
        SetText(cases, "BSN", c.bsn);
        cases.SetDateTime("VODatum", c.voDatum);
        SetText(cases, "ZuzaKennz", c.zuzaKennz);
        SetText(cases, "GenZeich", c.genZeich);
        cases.SetDateTime("GenDatum", c.genDatum);
        if (cases.HasField("GenArt")) SetText(cases, "GenArt", c.genArt);
        int64_t cb = 0, cz = 0;
        Table& trips = cases.Nested(TripNestName);
        for (const auto& t : c.fahrten) {
            trips.Append();
            trips.SetInteger("LAbrFallID", id);
            trips.SetInteger("LeistID", 33);
            trips.SetDateTime("Datum", t.datum);
            SetText(trips, "ZuZaArt", t.zuZaArt);
            trips.SetFloat("ZuZaBetrag", t.zuZaBetrag);
            int64_t tb = TripCents(t);
            trips.SetFloat("BruttoSum", CentsToEuro(tb));
            trips.SetFloat("KM", t.km);
            SetText(trips, "ZEIT1", t.zeit1);
            SetText(trips, "ZEIT2", t.zeit2);
            trips.SetInteger("DAUER", t.dauer);
            SetText(trips, "VON_LAND", t.vonLand);
            SetText(trips, "VON_PLZ", t.vonPlz);
            SetText(trips, "VON_ORT", t.vonOrt);
            SetText(trips, "VON_STRASSE", t.vonStrasse);
            SetText(trips, "NACH_LAND", t.nachLand);
            SetText(trips, "NACH_PLZ", t.nachPlz);
            SetText(trips, "NACH_ORT", t.nachOrt);
            SetText(trips, "NACH_STRASSE", t.nachStrasse);
            SetText(trips, "IKLE", t.ikle);
            trips.SetInteger("EinzelReNr", t.einzelReNr);
            Table& pos = trips.Nested(PositionNestName);
            for (const auto& p : t.positionen) {
                pos.Append();
                pos.SetInteger("EFAbrFallID", id);
                SetText(pos, "Tarif", p.tarif);
                SetText(pos, "PosNum", p.posNum);
                pos.SetFloat("Menge", p.menge);
                pos.SetFloat("EPreis", p.ePreis);
                SetText(pos, "Text", p.text);
                if (p.ust != 0) pos.SetFloat("USt", p.ust);
                if (p.mwstSatz != 0) pos.SetFloat("MwStSatz", p.mwstSatz);
                pos.Post();
            }
            trips.Post();
            cb += tb;
            cz += EuroToCents(t.zuZaBetrag);
        }
        cz += EuroToCents(c.betragZuZaPausch);
        double caseBrutto = std::isnan(c.betragBrutto) ? CentsToEuro(cb) : c.betragBrutto;
        double caseZuza = std::isnan(c.betragZuZaSum) ? CentsToEuro(cz) : c.betragZuZaSum;
        cases.SetFloat("BetragBrutto", caseBrutto);
        cases.SetFloat("BetragZuZaSum", caseZuza);
        cases.SetFloat("BetragZuZaPausch", c.betragZuZaPausch);
        cases.Post();
        brutto += EuroToCents(caseBrutto);
        zuza += EuroToCents(caseZuza);
        ++id;
    }
    h.SetFloat("RBetragBrutto", std::isnan(r.rBrutto) ? CentsToEuro(brutto) : r.rBrutto);
    h.SetFloat("RBetragZuZa", std::isnan(r.rZuZa) ? CentsToEuro(zuza) : r.rZuZa);
    h.SetFloat("RBetragNetto", std::isnan(r.rNetto) ? CentsToEuro(brutto - zuza) : r.rNetto);
    h.Post();
}

inline InvoiceDocument BuildDocument(const InvoicePlan& r, bool withGenArt = true) {
    InvoiceDocument doc(withGenArt);
    AddInvoice(doc, r);
    return doc;
}

} // namespace brenvo::test
