#pragma once

#include <cstdint>

namespace brenvo {

// R(x): nearest integer, an exact half going to the even neighbour.
int64_t RoundHalfEven(double x);
// Nearest integer, an exact half going away from zero.
int64_t RoundHalfAway(double x);
// A euro amount in whole cents: R(euro × 100).
int64_t EuroToCents(double euro);
// Whole cents back to euro.
double CentsToEuro(int64_t cents);
// The commercial rounding to two decimals of the invoice document: the third
// decimal (after rounding to three decimals) decides, 5 and above rounding
// away from zero.
double CommercialRound2(double x);
// An integer quotient rounded to nearest, an exact half away from zero.
int64_t DivRoundHalfAway(int64_t numerator, int64_t denominator);

} // namespace brenvo
