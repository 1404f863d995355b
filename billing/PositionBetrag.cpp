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

int64_t PositionBetragCents(double ePreisEuro, double menge) {
    double c = ePreisEuro * 100.0;
    if (!std::isfinite(c) || std::fabs(c) > kMaxCents)
        throw Error(Format("Einzelpreis %s ist zu groß.", {FloatToText(ePreisEuro)}));
    int64_t p = RoundHalfEven(c);
    int64_t m = MengeHundertstel(menge);
    // |p × m| < 1e11 × 1e9 = 1e20 would overflow; the bounds keep it below 9.2e18.
    if (p != 0 && std::llabs(m) > INT64_MAX / std::llabs(p))
        throw Error(Format("Betrag von %s × %s ist zu groß.", {FloatToText(ePreisEuro), FloatToText(menge)}));
    return DivRoundHalfAway(p * m, 100);
}

} // namespace brenvo
