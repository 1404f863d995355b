#include "Money.h"

#include <cfenv>
#include <cmath>

namespace brenvo {

int64_t RoundHalfEven(double x) {
    // nearbyint follows the current rounding mode, which the program never
    // changes from round-to-nearest-even.
    return static_cast<int64_t>(std::nearbyint(x));
}

int64_t RoundHalfAway(double x) { return static_cast<int64_t>(std::llround(x)); }

int64_t EuroToCents(double euro) { return RoundHalfEven(euro * 100.0); }

double CentsToEuro(int64_t cents) { return double(cents) / 100.0; }

double CommercialRound2(double x) {
    double a = std::fabs(x);
    int64_t d3 = RoundHalfEven(a * 1000.0);
    int64_t d2 = RoundHalfEven(a * 100.0);
    int64_t digit = d3 - 10 * d2;
    if (digit >= 5) {
        double sign = x > 0 ? 1.0 : (x < 0 ? -1.0 : 0.0);
        return sign * (std::trunc(a * 100.0) + 1.0) / 100.0;
    }
    return double(RoundHalfEven(x * 100.0)) / 100.0;
}

int64_t DivRoundHalfAway(int64_t numerator, int64_t denominator) {
    if (denominator < 0) {
        numerator = -numerator;
        denominator = -denominator;
    }
    int64_t q = numerator / denominator;
    int64_t r = numerator % denominator;
    int64_t twice = 2 * (r < 0 ? -r : r);
    if (twice >= denominator) q += numerator < 0 ? -1 : 1;
    return q;
}

} // namespace brenvo
