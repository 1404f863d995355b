#include "tools/InvoiceGenerator.h"

#include <fstream>
#include <set>

#include "billing/InvoiceDocument.h"
#include "billing/PositionBetrag.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/Error.h"
#include "lib/base/Money.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"

namespace brenvo {

namespace {

// A small deterministic generator (splitmix64).
struct Rng {
    uint64_t s;
    uint64_t Next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Below(int n) { return int(Next() % uint64_t(n)); }
    template <class T>
    const T& Pick(const std::vector<T>& v) { return v[size_t(Below(int(v.size())))]; }
};

const std::vector<std::string> kNachnamen = {"Schmitz", "Müller", "Hoffmann", "Becker", "Wagner", "Schäfer",
                                             "Koch", "Richter", "Klein", "Wolf", "Neumann", "Schwarz",
                                             "Zimmermann", "Krüger", "Hartmann", "Lange", "Werner", "Köhler"};
const std::vector<std::string> kVornamen = {"Gertrud", "Heinz", "Ursula", "Karl-Heinz", "Renate", "Wilhelm",
                                            "Hildegard", "Günter", "Ingrid", "Manfred", "Elfriede", "Jürgen"};
struct Address {
    const char* plz;
    const char* ort;
    const char* strasse;
};
const std::vector<Address> kWohnungen = {
    {"40477", "Düsseldorf", "Nordstraße 41"},     {"40211", "Düsseldorf", "Kurfürstenstraße 9"},
    {"40545", "Düsseldorf", "Luegallee 88"},      {"40599", "Düsseldorf", "Hasselsstraße 12"},
    {"40629", "Düsseldorf", "Gerresheimer Landstraße 70"}, {"40822", "Mettmann", "Talstraße 15"},
    {"41460", "Neuss", "Büchel 3"},               {"40878", "Ratingen", "Bechemer Straße 22"}};
const std::vector<Address> kZiele = {
    {"40225", "Düsseldorf", "Moorenstraße 5"},        {"40479", "Düsseldorf", "Kaiserswerther Str. 70"},
    {"40237", "Düsseldorf", "Grafenberger Allee 100"}, {"41464", "Neuss", "Preußenstraße 84"},
    {"40489", "Düsseldorf", "Kreuzbergstraße 79"}};

void Put(Table& t, const char* field, const std::string& value) { t.SetString(field, value); }

} // namespace

void WriteGeneratedInvoice(const std::string& path, const GeneratedInvoice& inv) {
    Rng rng{inv.seed * 7919 + 17};
    InvoiceDocument doc;
    Table& h = doc.Rechnung();
    h.Append();
    h.SetInteger("RechID", int64_t(inv.seed % 100000) + 1);
    Put(h, "SaRechNr", inv.number);
    Put(h, "EinzelRechNr", "1");
    h.SetDateTime("RechDatum", inv.date);
    Put(h, "IKLE", inv.providerIK);
    Put(h, "IKKT", inv.costBearerIK);
    Put(h, "IKPat", inv.costBearerIK);
    Put(h, "Name1", inv.providerName);
    Put(h, "Name2", inv.providerStreet);
    Put(h, "Name3", inv.providerTown);

    int64_t brutto = 0, zuza = 0;
    std::set<std::string> voNums;
    Table& cases = h.Nested(CaseNestName);
    for (int c = 0; c < inv.cases; ++c) {
        const Address& home = kWohnungen[size_t(rng.Below(int(kWohnungen.size())))];
        const Address& ziel = kZiele[size_t(rng.Below(int(kZiele.size())))];
        const bool pays = rng.Below(3) == 0;   // co-payment due
        const int64_t id = c + 1;
        cases.Append();
        cases.SetInteger("ARechID", 1);
        cases.SetInteger("AbrFallID", id);
        Put(cases, "IKPat", inv.costBearerIK);
        Put(cases, "IKLE", inv.providerIK);
        Put(cases, "VersNum", std::string(1, char('A' + rng.Below(26))) + PadLeft(IntToStr(int64_t(rng.Next() % 1000000000)), 9, '0'));
        Put(cases, "Status", pays ? "10001" : "50001");
        // Prescription numbers are unique within the invoice.
        std::string voNum;
        do voNum = IntToStr(int64_t(100000 + rng.Below(899999)));
        while (!voNums.insert(voNum).second);
        Put(cases, "VONum", voNum);
        Put(cases, "Nachname", rng.Pick(kNachnamen));
        Put(cases, "Vorname", rng.Pick(kVornamen));
        cases.SetDateTime("Geb", EncodeDate(1930 + rng.Below(40), 1 + rng.Below(12), 1 + rng.Below(28)));
        Put(cases, "Strasse", home.strasse);
        Put(cases, "Plz", home.plz);
        Put(cases, "Ort", home.ort);
        Put(cases, "ArztN", IntToStr(int64_t(100000000 + rng.Below(899999999))));
        Put(cases, "BSN", IntToStr(int64_t(100000000 + rng.Below(899999999))));
        const TDateTime firstTrip = IncDays(inv.date, -double(20 + rng.Below(8)));
        cases.SetDateTime("VODatum", IncDays(firstTrip, -double(1 + rng.Below(5))));
        Put(cases, "ZuzaKennz", pays ? "3" : "0");
        Put(cases, "GenArt", inv.tripsPerCase > 3 ? "E2" : "E1");

        int64_t caseBrutto = 0, caseZuza = 0;
        Table& trips = cases.Nested(TripNestName);
        for (int t = 0; t < inv.tripsPerCase; ++t) {
            const bool back = t % 2 == 1;
            const Address& from = back ? ziel : home;
            const Address& to = back ? home : ziel;
            const double km = 3 + rng.Below(25);
            const int start = 7 * 60 + rng.Below(9 * 60);
            const int dauer = 10 + int(km) * 2;
            struct Pos {
                const char* nr;
                double menge;
                double preis;
                const char* text;
            };
            const std::vector<Pos> positions = {{"601101", 1, 25.00, "Grundpauschale"},
                                                {"602101", km, 1.60, "Besetztkilometer"}};
            int64_t tripCents = 0;
            for (const Pos& p : positions) tripCents += PositionBetragCents(p.preis, p.menge);
            const int64_t tripZuza = pays ? std::min<int64_t>(1000, std::max<int64_t>(500, tripCents / 10)) : 0;

            trips.Append();
            trips.SetInteger("LAbrFallID", id);
            trips.SetInteger("LeistID", id * 100 + t + 1);
            trips.SetDateTime("Datum", IncDays(firstTrip, double(t / 2 * 7)));
            if (pays) Put(trips, "ZuZaArt", "01");
            trips.SetFloat("ZuZaBetrag", CentsToEuro(tripZuza));
            trips.SetFloat("BruttoSum", CentsToEuro(tripCents));
            Put(trips, "VON_PLZ", from.plz);
            Put(trips, "VON_ORT", from.ort);
            Put(trips, "VON_STRASSE", from.strasse);
            Put(trips, "NACH_PLZ", to.plz);
            Put(trips, "NACH_ORT", to.ort);
            Put(trips, "NACH_STRASSE", to.strasse);
            trips.SetFloat("KM", km);
            Put(trips, "ZEIT1", PadLeft(IntToStr(start / 60), 2, '0') + PadLeft(IntToStr(start % 60), 2, '0'));
            const int end = start + dauer;
            Put(trips, "ZEIT2", PadLeft(IntToStr(end / 60), 2, '0') + PadLeft(IntToStr(end % 60), 2, '0'));
            trips.SetInteger("DAUER", dauer);
            Put(trips, "IKLE", inv.providerIK);
            trips.SetInteger("EinzelReNr", 1);
            Table& pos = trips.Nested(PositionNestName);
            for (const Pos& p : positions) {
                pos.Append();
                pos.SetInteger("EFAbrFallID", id);
                Put(pos, "Tarif", inv.tarif);
                Put(pos, "PosNum", p.nr);
                pos.SetFloat("Menge", p.menge);
                pos.SetFloat("EPreis", p.preis);
                Put(pos, "Text", p.text);
                pos.Post();
            }
            trips.Post();
            caseBrutto += tripCents;
            caseZuza += tripZuza;
        }
        cases.SetFloat("BetragBrutto", CentsToEuro(caseBrutto));
        cases.SetFloat("BetragZuZaSum", CentsToEuro(caseZuza));
        cases.SetFloat("BetragZuZaPausch", 0);
        cases.Post();
        brutto += caseBrutto;
        zuza += caseZuza;
    }
    h.SetFloat("RBetragBrutto", CentsToEuro(brutto + (inv.wrongTotal ? 1 : 0)));
    h.SetFloat("RBetragZuZa", CentsToEuro(zuza));
    h.SetFloat("RBetragNetto", CentsToEuro(brutto - zuza + (inv.wrongTotal ? 1 : 0)));
    h.Post();
    // Test data: written plainly, without syncing every file to the disk.
    const std::string xml = doc.SaveToXml();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(xml.data(), std::streamsize(xml.size()));
    if (!out.flush()) throw Error("Datei kann nicht geschrieben werden: " + path);
}

std::vector<std::string> BillableCostBearers(TSGBKTStore& kt, const std::string& land, const std::string& bezirk,
                                             size_t limit) {
    std::vector<std::string> candidates;
    Table& base = kt.KTBase();
    for (base.First(); !base.Eof(); base.Next())
        if (base.AsString("ISKT") == "T") candidates.push_back(base.AsString("K_IK"));
    std::vector<std::string> found;
    for (const std::string& ik : candidates) {
        if (found.size() >= limit) break;
        try {
            kt.ResetIndexes();
            TKTInfo info = kt.GetKTInfo(ik, land, bezirk, Today());
            if (info.DatenIKLog.empty() || info.DatenIKPhys.empty()) continue;
            if (kt.GetDatenIKLog(ik, "", "", Now()) != info.DatenIKLog) continue;
            found.push_back(ik);
        } catch (const std::exception&) {
        }
    }
    kt.ResetIndexes();
    return found;
}

} // namespace brenvo
