#pragma once

// The data of the entry benchmarks: 60 tariffs of 20 positions each, and an
// invoice file of 50 cases with 4 trips of 3 positions each (200 trips),
// written into a scratch directory of its own.

#include <filesystem>
#include <string>

#include "billing/InvoiceDocument.h"
#include "entry/InvoiceEntry.h"
#include "entry/dm_verwaltung.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"

namespace brenvo::bench {

inline std::string PosNum(int tariff, int pos) { return std::to_string(100000 + tariff * 100 + pos); }

inline void FillTariffs(TdmVerwaltung& dm) {
    dm.OpenTarife();
    Table& t = dm.Tarife();
    static const char* arts[] = {"K", "P", "W", "S", "T"};
    for (int i = 0; i < 60; ++i) {
        t.Append();
        t.SetString("Tarifbez", "Tarif " + std::to_string(60 - i));
        Table& p = t.Nested(TdmVerwaltung::kTarifdetail);
        for (int j = 0; j < 20; ++j) {
            p.Append();
            p.SetString("PosNum", PosNum(i, j));
            p.SetString("Art", arts[j % 5]);
            p.SetInteger("EPreis", 100 + j);
            p.Post();
        }
        t.Post();
    }
}

// A complete invoice: every case passes the store checks.
inline InvoiceDocument LargeInvoice(int cases, int tripsPerCase) {
    InvoiceDocument doc;
    Table& r = doc.Rechnung();
    r.Append();
    r.SetInteger("RechID", 1);
    r.SetString("SaRechNr", "2024-9000");
    r.SetString("EinzelRechNr", "1");
    r.SetDateTime("RechDatum", EncodeDate(2024, 11, 18));
    r.SetString("IKLE", "510512345");
    r.SetString("IKKT", "103110016");
    r.Post();
    Table& c = r.Nested(CaseNestName);
    for (int i = 0; i < cases; ++i) {
        c.Append();
        c.SetInteger("AbrFallID", i + 1);
        c.SetInteger("ARechID", i + 1);
        c.SetString("IKLE", "510512345");
        c.SetString("IKPat", "103110016");
        c.SetString("VONum", std::to_string(5000 + i));
        c.SetString("Nachname", "Patient " + std::to_string(i));
        c.SetString("Vorname", "Vorname");
        c.SetDateTime("Geb", EncodeDate(1940, 1, 1 + i % 28));
        c.SetDateTime("VODatum", EncodeDate(2024, 10, 1));
        c.SetString("VersNum", "A" + std::to_string(100000000 + i));
        c.SetString("Status", "10000");
        c.SetString("ZuzaKennz", "3");
        Table& trips = c.Nested(TripNestName);
        for (int l = 0; l < tripsPerCase; ++l) {
            trips.Append();
            trips.SetInteger("LeistID", i * tripsPerCase + l + 1);
            trips.SetDateTime("Datum", EncodeDate(2024, 10, 1 + l % 28));
            trips.SetFloat("KM", 12.5);
            trips.SetString("IKLE", "510512345");
            trips.SetInteger("EinzelReNr", 1);
            Table& ef = trips.Nested(PositionNestName);
            for (int p = 0; p < 3; ++p) {
                ef.Append();
                ef.SetString("Tarif", "4601001");
                ef.SetString("PosNum", PosNum(p, p));
                ef.SetFloat("Menge", p == 0 ? 12.5 : 1);
                ef.SetFloat("EPreis", 1.53 + p);
                ef.Post();
            }
            trips.Post();
        }
        c.Post();
    }
    return doc;
}

// The cost-bearer directory of the benchmarks: one name for every IK.
class BenchHost : public IInvoiceEntryHost {
public:
    std::string CostBearerName(const std::string&) override { return "Rheinische OKK"; }
    std::vector<TCostBearerChoice> CostBearers() override { return {{"103110016", "Rheinische OKK"}}; }
    void RememberCostBearer(const std::string&) override {}
};

// A scratch directory that goes with the object.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name)
        : path_((std::filesystem::temp_directory_path() / ("brenvo-bench-" + name)).string()) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return PathJoin(path_, name); }

private:
    std::string path_;
};

} // namespace brenvo::bench
