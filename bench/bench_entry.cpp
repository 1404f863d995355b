// Speed of the money rules' inner lookups: the kind of a position by its
// number (once per position in every sum), and the recomputation of a large
// invoice.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "billing/InvoiceDocument.h"
#include "entry/MoneyRules.h"
#include "entry/dm_verwaltung.h"
#include "lib/base/DateTime.h"

using namespace brenvo;

namespace {

std::string PosNum(int tariff, int pos) { return std::to_string(100000 + tariff * 100 + pos); }

// 60 tariffs of 20 positions each.
void FillTariffs(TdmVerwaltung& dm) {
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

// The tariffs stay in memory; nothing is read from or written to this directory.
std::string ScratchDir() { return (std::filesystem::temp_directory_path() / "brenvo-bench-entry-unused").string(); }

void BM_KindOf(benchmark::State& state) {
    TdmVerwaltung dm(ScratchDir());
    FillTariffs(dm);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(dm.KindOf(PosNum(i % 60, i % 20)));
        ++i;
    }
}
BENCHMARK(BM_KindOf);

// An invoice of 20 cases with 50 trips of 3 positions each.
void BM_RecomputeInvoice(benchmark::State& state) {
    InvoiceDocument doc;
    Table& r = doc.Rechnung();
    r.Append();
    r.SetInteger("RechID", 1);
    r.Post();
    Table& cases = r.Nested(CaseNestName);
    for (int c = 0; c < 20; ++c) {
        cases.Append();
        cases.SetInteger("AbrFallID", c + 1);
        Table& trips = cases.Nested(TripNestName);
        for (int l = 0; l < 50; ++l) {
            trips.Append();
            trips.SetDateTime("Datum", EncodeDate(2014, 10, 1 + l % 28));
            Table& ef = trips.Nested(PositionNestName);
            for (int p = 0; p < 3; ++p) {
                ef.Append();
                ef.SetFloat("Menge", 12.5 + p);
                ef.SetFloat("EPreis", 1.53 + p);
                ef.Post();
            }
            trips.Post();
        }
        cases.Post();
    }
    for (auto _ : state) benchmark::DoNotOptimize(RecomputeInvoice(r));
}
BENCHMARK(BM_RecomputeInvoice);

} // namespace

BENCHMARK_MAIN();
