#pragma once

// The money rules of invoice entry: the position sum of a trip with its
// percentage discount position, the recomputation of trip, case and invoice
// sums in whole cents, the co-payment proposal, and the rules for a trip
// whose km, price or co-payment was typed directly into the trip list.
//
// Amounts are euros held as floating-point values in the invoice document;
// every sum is formed in whole cents. A trip's price (BruttoSum) is always
// the sum of its positions' amounts as billing computes them (unit price in
// cents times the quantity in hundredths, rounded once, a half away from
// zero), so that an invoice typed in the program passes the billing sum check.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "entry/dm_verwaltung.h"
#include "lib/base/UserInterface.h"
#include "lib/dataset/Table.h"

namespace brenvo {

// What the rules need to know about the current row of a position table:
// its kind, its discount percentage and its km threshold.
using PositionKindOfRow = std::function<PositionKind(const Table& positions)>;

// Positions of the invoice document: everything is found through the tariffs
// by PosNum.
PositionKindOfRow DocumentPositionKinds(TdmVerwaltung& dm);
// Rows of the trip window: the kind through the tariffs by PosNum, the
// percentage and threshold from the row's own PCT_Abschlag and ab_km.
PositionKindOfRow ScratchRowKinds(TdmVerwaltung& dm);

// Which row is the discount position brought into line.
enum class DiscountRow {
    FirstDiscount,          // the first position with a percentage (invoice document)
    FirstWithPctInForce,    // the first row whose percentage is the one in force (trip window)
};

// The position sum of a trip (not rounded), optionally leaving out the
// positions of one kind ("K", "T" or "S"). Positions with a percentage are
// not added; the last one's percentage is in force and the discount, rounded
// to whole cents, is taken off when the discount position's quantity is not
// 0. The discount position is brought into line: quantity 1 and the
// discount as its (negative) unit price, or unit price 0 at quantity 0.
// The positions table keeps its current row.
double PositionSum(Table& positions, const PositionKindOfRow& kindOf, std::string_view leaveOutArt = {},
                   DiscountRow rule = DiscountRow::FirstDiscount);

// A trip's price in whole cents: the sum of its positions' amounts, each
// computed exactly as billing computes it (PositionBetragCents, plus
// PositionMwStCents for a position whose MwStSatz adds VAT). With
// writtenRowsOnly only rows with a quantity above 0 count (the trip window
// writes no others). The positions table keeps its current row.
int64_t TripAmountCents(Table& positions, bool writtenRowsOnly = false);

// Recomputes the sums of every invoice of the header table: each trip's
// BruttoSum from its positions, each case's BetragBrutto and BetragZuZaSum
// from its trips, the invoice's RBetragBrutto, RBetragZuZa and RBetragNetto
// from its cases, storing only records whose values change. The invoice,
// case and trip that were current stay current. Discount positions are
// summed as stored.
// A store refused by the table's store checks ends the recomputation at that
// record (which stays in edit state) by letting the refusal pass through.
struct RecomputeResult {
    int cases = 0;   // cases of the invoices
    int trips = 0;   // trips of those cases
};
RecomputeResult RecomputeInvoice(Table& rechnung);

// The co-payment proposed for a trip price: 10 % of it, at least 5 and at
// most 10 euros. The kind is "01" (percentage) for the 10 % amount and "02"
// (limit) when a limit applies. The amount is in euros, rounded to cents.
struct CoPaymentProposal {
    double amount = 0.0;
    std::string zuZaArt;
};
CoPaymentProposal ProposeCoPayment(double positionSum);

// Whether the trips of a case with this co-payment code may carry
// co-payments: "3" (due), and "4" and "5" (the patient became exempt, or
// liable again, while the prescription ran).
bool CoPaymentAllowed(std::string_view zuzaKennz);

// The km and price of the current trip as the trip list remembers them
// (when the list was opened, when the trip became current, after it was
// last stored); an edit is "changed" against these.
struct TripListValues {
    double km = 0.0;
    double bruttoSum = 0.0;
};
TripListValues RememberTripListValues(const Table& trips);

// Stores the current trip of a case's trip table after an edit in the trip
// list (the table in Edit or Insert state). A trip without a date is
// discarded instead. Otherwise: the co-payment is checked against the case's
// ZuzaKennz and the limits (warnings through ui, values corrected), a typed
// km or price is spread onto the trip's one K, T or S position, the price is
// brought into line with the positions, and the trip is stored.
// Returns false when the trip was discarded.
bool StoreTripFromList(Table& trips, std::string_view caseZuzaKennz, const TripListValues& remembered,
                       TdmVerwaltung& dm, IUserInterface& ui);

} // namespace brenvo
