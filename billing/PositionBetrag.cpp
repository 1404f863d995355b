#include "PositionBetrag.h"

#include <cmath>

#include "lib/base/Error.h"
#include "lib/base/Format.h"
#include "lib/base/Money.h"

namespace brenvo {

namespace {
constexpr double kMaxHundredths = 1e9;   // 10,000,000.00
constexpr double kMaxCents = 1e11;       // 1,000,000,000.00 €
} // namespace

int64_t MengeHundertstel(double menge) {
    double h = menge * 100.0;
    if (!std::isfinite(h) || std::fabs(h) > kMaxHundredths)
        throw Error(Format("Menge %s ist zu groß.", {FloatToText(menge)}));
    return RoundHalfEven(h);
}

namespace {
int64_t PriceCents(double ePreisEuro) {
    double c = ePreisEuro * 100.0;
    if (!std::isfinite(c) || std::fabs(c) > kMaxCents)
        throw Error(Format("Einzelpreis %s ist zu groß.", {FloatToText(ePreisEuro)}));
    return RoundHalfEven(c);
}
} // namespace

int64_t PositionBetragCents(double ePreisEuro, double menge) {
    int64_t p = PriceCents(ePreisEuro);
    int64_t m = MengeHundertstel(menge);
    // |p × m| < 1e11 × 1e9 = 1e20 would overflow; the bounds keep it below 9.2e18.
    if (p != 0 && std::llabs(m) > INT64_MAX / std::llabs(p))
        throw Error(Format("Betrag von %s × %s ist zu groß.", {FloatToText(ePreisEuro), FloatToText(menge)}));
    return DivRoundHalfAway(p * m, 100);
}

int64_t PositionMwStCents(double ePreisEuro, double menge, int64_t satzHundertstel) {
    // 10^11 × 10^9 × rate stays far inside 128 bits; the quotient is bounded
    // like the rate.
    __int128 n = __int128(PriceCents(ePreisEuro)) * MengeHundertstel(menge) * satzHundertstel;
    const __int128 d = 1000000;
    __int128 q = n / d, r = n % d;
    if (2 * (r < 0 ? -r : r) >= d) q += n < 0 ? -1 : 1;
    if (q > INT64_MAX || q < -INT64_MAX) throw Error("Mehrwertsteuer ist zu groß.");
    return int64_t(q);
}

int64_t PositionMwStCents(double ePreisEuro, double menge, double satzProzent) {
    double h = satzProzent * 100.0;
    if (!std::isfinite(h) || std::fabs(h) > 1e9)
        throw Error(Format("Mehrwertsteuersatz %s ist zu groß.", {FloatToText(satzProzent)}));
    return PositionMwStCents(ePreisEuro, menge, RoundHalfEven(h));
}

} // namespace brenvo
