#pragma once

// Writes realistic invoice files (patient trips of a taxi company, several
// cases with trips and tariff positions) for the demo installation, load
// tests and benchmarks. The same description always gives the same file.
// Amounts are summed as the entry window sums them, so a generated invoice
// passes the billing checks unless `wrongTotal` asks for a sum error.

#include <cstdint>
#include <string>
#include <vector>

#include "lib/base/DateTime.h"

namespace brenvo {

class TSGBKTStore;

struct GeneratedInvoice {
    std::string number;            // SaRechNr
    TDateTime date;                // RechDatum
    std::string providerIK;        // IKLE
    std::string providerName = "Taxi Rheinufer GmbH";
    std::string providerStreet = "Kaiserswerther Straße 112";
    std::string providerTown = "40474 Düsseldorf";
    std::string costBearerIK;      // IKKT and the insured persons' IK
    uint64_t seed = 1;             // chooses patients, addresses and trips
    int cases = 2;
    int tripsPerCase = 2;
    std::string tarif = "4605301"; // Abrechnungscode and tariff mark
    bool wrongTotal = false;       // the invoice total is one cent off
};

// Writes the invoice file (UTF-8); test data, so the file is not synced to
// the disk.
void WriteGeneratedInvoice(const std::string& path, const GeneratedInvoice& invoice);

// The cost bearers of the directory whose invoices a provider in the given
// state and district can bill: their logical and physical data recipients
// resolve today, with and without the location. At most `limit`, in the
// order of KT_BASE.
std::vector<std::string> BillableCostBearers(TSGBKTStore& kt, const std::string& land, const std::string& bezirk,
                                             size_t limit);

} // namespace brenvo
