// The billing engine in collective mode: one engine receives n invoices one
// by one, and every load checks everything loaded so far. Loading must grow
// linearly with n (10,000 invoices at most about ten times 1,000); the second
// benchmark gives invoices per second for load, check, generate and write.
//
// Invoices of 3 cases with 2 trips of 2 positions each, to two cost bearers
// of one data recipient of the demo cost-bearer directory; in message
// versions 09 and 21 (the second argument).

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "billing/U_sgbv.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/Files.h"
#include "tests/billing/InvoiceBuilder.h"

using namespace brenvo;
using namespace brenvo::test;

namespace {

struct Fixture {
    TSystem system;
    TSGBKTStore store{system};
    std::vector<InvoiceDocument> docs;   // a pool the loads cycle through
    std::string dir;

    Fixture() {
        const std::string d = std::string(BRENVO_SOURCE_DIR) + "/demo/Stammdaten/";
        store.LoadKTBase(d + "KT_BASE.XML");
        store.LoadKTZuordn(d + "KT_ZUORDN.XML");
        store.LoadKTAnschrift(d + "KT_ANSCHRIFT.XML");
        store.LoadKTTransfer(d + "KT_TRANSFER.XML");
        store.LoadKTKey(d + "KT_KEY.XML");
        for (int i = 0; i < 32; ++i) {
            InvoicePlan r;
            r.saRechNr = "2014-" + std::to_string(1000 + i);
            r.einzelRechNr = std::to_string(i % 7 + 1);
            if (i % 2) r.ikkt = r.ikPat = "103110016";
            r.faelle.clear();
            for (int c = 0; c < 3; ++c) {
                CasePlan cs;
                cs.ikPat = r.ikPat;
                cs.voNum = std::to_string(100 * i + c + 1);
                cs.fahrten.assign(2, TripPlan{});
                for (auto& t : cs.fahrten)
                    t.positionen = {PositionPlan{"4615T01", "150102", 12.5, 1.53, ""},
                                    PositionPlan{"4615T04", "150401", 1, 12, "Zuschlag"}};
                r.faelle.push_back(cs);
            }
            docs.push_back(BuildDocument(r));
        }
        dir = (std::filesystem::temp_directory_path() / "brenvo-bench-billing").string();
        std::filesystem::create_directories(dir);
    }
    ~Fixture() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    // version: 9 or 21
    std::unique_ptr<TSgbv> Engine(int64_t version) {
        auto e = std::make_unique<TSgbv>(store);
        e->Init(version == 21 ? "21" : "09", "510123456", EncodeDate(2014, 10, 1), "109910014", 10, -1, 0, 0, dir);
        return e;
    }
    void Load(TSgbv& e, int64_t n) {
        for (int64_t i = 0; i < n; ++i) e.LoadRechnungen(docs[size_t(i) % docs.size()]);
    }
};

Fixture& Data() {
    static Fixture f;
    return f;
}

void BM_LoadCollective(benchmark::State& state) {
    Fixture& f = Data();
    const int64_t n = state.range(0);
    for (auto _ : state) {
        auto e = f.Engine(state.range(1));
        f.Load(*e, n);
        benchmark::DoNotOptimize(e->Rechnungen().size());
        state.PauseTiming();
        e.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["invoices/s"] = benchmark::Counter(double(state.iterations() * n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadCollective)->ArgsProduct({{1000, 10000}, {9, 21}})->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_LoadCheckGenerateWrite(benchmark::State& state) {
    Fixture& f = Data();
    const int64_t n = state.range(0);
    int run = 0;
    for (auto _ : state) {
        auto e = f.Engine(state.range(1));
        e->SetHandle("bench_" + std::to_string(run++));
        f.Load(*e, n);
        e->CheckData();
        e->Generate();
        e->WriteFiles();
        state.PauseTiming();
        e.reset();
        state.ResumeTiming();
    }
    state.counters["invoices/s"] = benchmark::Counter(double(state.iterations() * n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadCheckGenerateWrite)->ArgsProduct({{1000, 10000}, {9, 21}})->Unit(benchmark::kMillisecond)->MinTime(3);

} // namespace

BENCHMARK_MAIN();
