#pragma once

#include <cstdint>

namespace brenvo {

// The quantity of a tariff position in hundredths: round(menge × 100), an
// exact half going to the even neighbour. Fails with Error for a quantity
// that no invoice can hold (more than ten million).
int64_t MengeHundertstel(double menge);

// The amount of a tariff position in whole cents, computed exactly: with
// p = the unit price in cents (round(ePreis × 100), half to even) and m the
// quantity in hundredths, the amount in hundredths of a cent is p × m, and
// the result is that divided by 100 with an exact half going away from zero.
// 1.51 € × 0.99 gives 149 cents; 0.25 € × 0.5 gives 13 cents.
// Invoice entry and billing both use this, so an invoice typed in the program
// passes the billing sum check.
int64_t PositionBetragCents(double ePreisEuro, double menge);

// The VAT added to a position whose unit price is net, in whole cents: the
// unit price in cents × the quantity in hundredths × the rate in hundredths
// of a percent, divided by 10^6 and rounded once, an exact half away from
// zero (19 % of 1.51 € × 0.99 gives 28 cents). The position's gross amount
// is PositionBetragCents plus this.
int64_t PositionMwStCents(double ePreisEuro, double menge, int64_t satzHundertstel);
// The same with the rate in percent (R(rate × 100) hundredths); 0 for a
// rate of 0.
int64_t PositionMwStCents(double ePreisEuro, double menge, double satzProzent);

} // namespace brenvo
