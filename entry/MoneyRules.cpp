#include "MoneyRules.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "billing/InvoiceDocument.h"
#include "billing/PositionBetrag.h"
#include "lib/base/Money.h"

namespace brenvo {

namespace {

constexpr const char* kWarnZuzaNichtPflichtig =
    "Zuzahlung kann nur eingegeben werden wenn in der Verordnung\rdas <Zuzahlungspflichtig> angegeben wurde!\r\r ";
constexpr const char* kWarnZuzaMindestens = "Zuzahlung mindestens 5 €!\r\r ";
constexpr const char* kWarnZuzaHoechstens = "Zuzahlung höchstens 10 €!\r\r ";

constexpr double kZuzaMin = 5.0;
constexpr double kZuzaMax = 10.0;

// Euros rounded to whole cents (R of the cents).
double RoundToCents(double euro) { return CentsToEuro(RoundHalfEven(euro * 100.0)); }

// Runs f on every row of t in its order and puts the cursor back afterwards.
template <class F>
void EachRow(Table& t, F&& f) {
    Table::Bookmark current = t.GetBookmark();
    for (t.First(); !t.Eof(); t.Next()) f();
    if (current) t.GotoBookmark(current);
}

// A money field set to a new value when it differs (a null differs from
// every value). True when the field was changed.
bool SetMoneyIfDiffers(Table& t, std::string_view field, double value) {
    if (!t.IsNull(field) && t.AsFloat(field) == value) return false;
    t.SetFloat(field, value);
    return true;
}

void StoreIfChanged(Table& t, bool changed) {
    if (changed)
        t.Post();
    else
        t.Cancel();
}

} // namespace

PositionKindOfRow DocumentPositionKinds(TdmVerwaltung& dm) {
    return [&dm](const Table& positions) { return dm.KindOf(positions.AsString("PosNum")); };
}

PositionKindOfRow ScratchRowKinds(TdmVerwaltung& dm) {
    return [&dm](const Table& rows) {
        PositionKind k = dm.KindOf(rows.AsString("PosNum"));
        k.pctAbschlag = rows.AsFloat("PCT_Abschlag");
        k.freikm = rows.AsFloat("ab_km");
        return k;
    };
}

// ------------------------------------------------------------ position sum

double PositionSum(Table& positions, const PositionKindOfRow& kindOf, std::string_view leaveOutArt, DiscountRow rule) {
    double sum = 0.0;
    double pct = 0.0;
    struct DiscountPos {
        Table::Bookmark row;
        double pct;
    };
    std::vector<DiscountPos> discounts;

    EachRow(positions, [&] {
        PositionKind k = kindOf(positions);
        if (k.pctAbschlag != 0.0) {
            pct = k.pctAbschlag;
            discounts.push_back({positions.GetBookmark(), k.pctAbschlag});
        } else if (leaveOutArt.empty() || k.art != leaveOutArt) {
            sum += positions.AsFloat("Menge") * positions.AsFloat("EPreis");
        }
    });
    if (pct == 0.0) return sum;

    Table::Bookmark d = 0;
    for (const auto& p : discounts) {
        if (rule == DiscountRow::FirstDiscount || p.pct == pct) {
            d = p.row;
            break;
        }
    }
    Table::Bookmark current = positions.GetBookmark();
    if (!positions.GotoBookmark(d)) return sum;   // hidden by a filter: nothing to bring into line

    const double menge = positions.AsFloat("Menge");
    const double ePreis = positions.AsFloat("EPreis");
    double disc = 0.0;
    if (menge != 0.0) disc = -double(RoundHalfEven(sum * pct)) / 100.0;
    sum += disc;

    if (menge == 0.0 && ePreis != 0.0) {
        positions.Edit();
        positions.SetFloat("EPreis", 0.0);
        positions.Post();
    } else if (menge != 0.0 && (ePreis != disc || menge != 1.0)) {
        positions.Edit();
        positions.SetFloat("Menge", 1.0);
        positions.SetFloat("EPreis", RoundToCents(disc));
        positions.Post();
    }
    if (current) positions.GotoBookmark(current);
    return sum;
}

int64_t TripAmountCents(Table& positions, bool writtenRowsOnly) {
    int64_t cents = 0;
    const bool net = positions.HasField("MwStSatz");
    EachRow(positions, [&] {
        const double menge = positions.AsFloat("Menge");
        if (writtenRowsOnly && !(menge > 0.0)) return;
        const double ePreis = positions.AsFloat("EPreis");
        cents += PositionBetragCents(ePreis, menge);
        // A net unit price carries the VAT added to it.
        if (net && positions.AsFloat("MwStSatz") > 0.0)
            cents += PositionMwStCents(ePreis, menge, positions.AsFloat("MwStSatz"));
    });
    return cents;
}

// ----------------------------------------------------------- recomputation

RecomputeResult RecomputeInvoice(Table& rechnung) {
    RecomputeResult result;
    EachRow(rechnung, [&] {
        Table& cases = rechnung.Nested(CaseNestName);
        int64_t invoiceBrutto = 0;
        int64_t invoiceZuza = 0;
        EachRow(cases, [&] {
            ++result.cases;
            Table& trips = cases.Nested(TripNestName);
            int64_t caseBrutto = 0;
            int64_t caseZuza = 0;
            EachRow(trips, [&] {
                ++result.trips;
                // The price of the trip as billing will add up its positions.
                const int64_t cents = TripAmountCents(trips.Nested(PositionNestName));
                trips.Edit();
                StoreIfChanged(trips, SetMoneyIfDiffers(trips, "BruttoSum", CentsToEuro(cents)));
                caseBrutto += EuroToCents(trips.AsFloat("BruttoSum"));
                caseZuza += EuroToCents(trips.AsFloat("ZuZaBetrag"));
            });
            cases.Edit();
            bool changed = SetMoneyIfDiffers(cases, "BetragBrutto", CentsToEuro(caseBrutto));
            changed = SetMoneyIfDiffers(cases, "BetragZuZaSum", CentsToEuro(caseZuza)) || changed;
            StoreIfChanged(cases, changed);
            invoiceBrutto += EuroToCents(cases.AsFloat("BetragBrutto"));
            invoiceZuza += EuroToCents(cases.AsFloat("BetragZuZaSum"));
        });
        rechnung.Edit();
        bool changed = SetMoneyIfDiffers(rechnung, "RBetragBrutto", CentsToEuro(invoiceBrutto));
        changed = SetMoneyIfDiffers(rechnung, "RBetragZuZa", CentsToEuro(invoiceZuza)) || changed;
        changed = SetMoneyIfDiffers(rechnung, "RBetragNetto", CentsToEuro(invoiceBrutto - invoiceZuza)) || changed;
        StoreIfChanged(rechnung, changed);
    });
    return result;
}

// -------------------------------------------------------------- co-payment

bool CoPaymentAllowed(std::string_view zuzaKennz) { return zuzaKennz == "3" || zuzaKennz == "4" || zuzaKennz == "5"; }

CoPaymentProposal ProposeCoPayment(double positionSum) {
    const double x = positionSum * 0.1;
    if (x < kZuzaMin) return {kZuzaMin, "02"};
    if (x > kZuzaMax) return {kZuzaMax, "02"};
    return {RoundToCents(x), "01"};
}

// --------------------------------------------------------------- trip list

TripListValues RememberTripListValues(const Table& trips) {
    return {trips.AsFloat("KM"), trips.AsFloat("BruttoSum")};
}

bool StoreTripFromList(Table& trips, std::string_view caseZuzaKennz, const TripListValues& remembered,
                       TdmVerwaltung& dm, IUserInterface& ui) {
    if (trips.GetState() == Table::State::Browse) trips.Edit();
    if (trips.IsNull("Datum")) {
        trips.Cancel();
        return false;
    }

    // ---- co-payment
    auto clearZuza = [&] {
        trips.SetNull("ZuZaBetrag");
        trips.SetNull("ZuZaArt");
    };
    if (!CoPaymentAllowed(caseZuzaKennz) && trips.AsFloat("ZuZaBetrag") != 0.0) {
        ui.ShowMessage(MessageKind::Warning, kWarnZuzaNichtPflichtig);
        clearZuza();
    }
    double zuza = trips.AsFloat("ZuZaBetrag");
    if (zuza == 0.0) clearZuza();
    if (zuza != 0.0 && zuza < kZuzaMin) {
        ui.ShowMessage(MessageKind::Warning, kWarnZuzaMindestens);
        trips.SetFloat("ZuZaBetrag", kZuzaMin);
    }
    if (zuza > kZuzaMax) {
        ui.ShowMessage(MessageKind::Warning, kWarnZuzaHoechstens);
        trips.SetFloat("ZuZaBetrag", kZuzaMax);
    }
    zuza = trips.AsFloat("ZuZaBetrag");
    if (zuza != 0.0 && trips.AsString("ZuZaArt").empty())
        trips.SetString("ZuZaArt", zuza == kZuzaMin || zuza == kZuzaMax ? "02" : "01");

    // ---- km or price typed
    const double km = trips.AsFloat("KM");
    const double brutto = trips.AsFloat("BruttoSum");
    const bool kmChanged = km != remembered.km;
    const bool priceChanged = brutto != remembered.bruttoSum;

    Table& positions = trips.Nested(PositionNestName);
    const PositionKindOfRow kindOf = DocumentPositionKinds(dm);
    struct Counted {
        int count = 0;
        Table::Bookmark row = 0;
        PositionKind kind;
    };
    Counted k, s, t;
    EachRow(positions, [&] {
        PositionKind kind = kindOf(positions);
        Counted* c = kind.art == "K" ? &k : kind.art == "S" ? &s : kind.art == "T" ? &t : nullptr;
        if (!c) return;
        ++c->count;
        c->row = positions.GetBookmark();
        c->kind = std::move(kind);
    });

    // Reads or sets fields of one position; the positions keep their current row.
    auto valueAt = [&](Table::Bookmark row, const char* field) {
        Table::Bookmark current = positions.GetBookmark();
        double v = positions.GotoBookmark(row) ? positions.AsFloat(field) : 0.0;
        if (current) positions.GotoBookmark(current);
        return v;
    };
    auto adjust = [&](Table::Bookmark row, double menge, std::optional<double> ePreis = std::nullopt) {
        Table::Bookmark current = positions.GetBookmark();
        if (!positions.GotoBookmark(row)) return false;
        positions.Edit();
        positions.SetFloat("Menge", menge);
        if (ePreis) positions.SetFloat("EPreis", *ePreis);
        positions.Post();
        if (current) positions.GotoBookmark(current);
        return true;
    };
    // The quantity that makes up the typed price, to two decimals.
    auto quantityFor = [&](double rest, double ePreis) {
        return double(RoundHalfEven((brutto - rest) / ePreis * 100.0)) / 100.0;
    };
    // The K position charges from its km threshold on (the km below it are
    // free), as when the trip window fills it in: quantity = km - (threshold - 1).
    const double kmFree = k.kind.freikm > 0.0 ? k.kind.freikm - 1.0 : 0.0;

    // A quantity derived from a typed price needs a unit price to divide by.
    // At a unit price of 0 every quantity gives the same amount, so no
    // quantity makes up the typed price, and changing the tariff's unit price
    // is not what typing a trip price asks for. Such a trip is stored as
    // typed: no position is adjusted (and no later rule tried); the next
    // recomputation brings its price back in line with the positions.
    bool adjusted = false;
    if (kmChanged && k.count == 1) {
        adjusted = adjust(k.row, k.kind.freikm > 0.0 ? std::max(0.0, km - kmFree) : km);
    } else if (priceChanged && k.count == 1) {
        const double ePreis = valueAt(k.row, "EPreis");
        if (ePreis != 0.0) {
            const double menge = quantityFor(PositionSum(positions, kindOf, "K"), ePreis);
            adjusted = adjust(k.row, menge);
            if (k.kind.freikm <= 0.0)
                trips.SetFloat("KM", menge);
            else if (menge > 0.0)
                trips.SetFloat("KM", menge + kmFree);
        }
    } else if (priceChanged && t.count == 1) {
        // A unit price is an amount of whole cents.
        const double rest = PositionSum(positions, kindOf, "T");
        adjusted = adjust(t.row, 1.0, RoundToCents(brutto - rest));
    } else if (priceChanged && s.count == 1) {
        const double ePreis = valueAt(s.row, "EPreis");
        if (ePreis != 0.0) adjusted = adjust(s.row, quantityFor(PositionSum(positions, kindOf, "S"), ePreis));
    }

    // The price follows the adjusted positions: the discount position is
    // brought into line, then every position adds its amount as billing does.
    if (adjusted) {
        PositionSum(positions, kindOf);
        const double price = CentsToEuro(TripAmountCents(positions));
        if (trips.AsFloat("BruttoSum") != price) trips.SetFloat("BruttoSum", price);
    }
    trips.Post();
    return true;
}

} // namespace brenvo
