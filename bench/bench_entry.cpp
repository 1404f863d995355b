// Speed of invoice entry: the kind of a position by its number (once per
// position in every sum), the recomputation of a large invoice, and what a
// clerk waits for in the entry window: opening an invoice of 50 cases with
// 200 trips, and a trip's km typed into the trip list with the sums
// recomputed after it.

#include <benchmark/benchmark.h>

#include "EntryBenchData.h"
#include "entry/MoneyRules.h"

using namespace brenvo;
using namespace brenvo::bench;

namespace {

class SilentUi : public IUserInterface {
public:
    void ShowMessage(MessageKind, const std::string&, const std::string&) override {}
    Answer Ask(MessageKind, const std::string&, const std::vector<Answer>&, const std::string&) override {
        return Answer::Cancel;
    }
    bool InputQuery(const std::string&, const std::vector<std::string>&, const std::string&, std::string&) override {
        return false;
    }
    void ShowText(const std::string&, const std::string&) override {}
};

void BM_KindOf(benchmark::State& state) {
    ScratchDir dir("kind");
    TdmVerwaltung dm(dir.Path());
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
    InvoiceDocument doc = LargeInvoice(20, 50);
    for (auto _ : state) benchmark::DoNotOptimize(RecomputeInvoice(doc.Rechnung()));
}
BENCHMARK(BM_RecomputeInvoice);

struct EntryScene {
    ScratchDir dir{"entry"};
    TdmVerwaltung dm{dir.Path()};
    SilentUi ui;
    BenchHost host;
    TInvoiceEntry entry{dm, ui, host};
    std::string file = dir.File("2024-9000.xml");

    EntryScene() {
        FillTariffs(dm);
        LargeInvoice(50, 4).SaveToFile(file);
    }
    // What opening for editing does: read, order, the sums brought up to date.
    void Open() {
        entry.Open(file);
        entry.SetMode(EntryMode::Edit);
        entry.Activate();
    }
};

void BM_EntryOpenInvoice50Cases200Trips(benchmark::State& state) {
    EntryScene s;
    for (auto _ : state) s.Open();
    state.SetLabel(s.entry.CountText());
}
BENCHMARK(BM_EntryOpenInvoice50Cases200Trips)->Unit(benchmark::kMillisecond);

void BM_EntryTripKmTypedAndRecomputed(benchmark::State& state) {
    EntryScene s;
    s.Open();
    s.entry.GotoCase(25);
    int km = 10;
    for (auto _ : state) {
        s.entry.EditTripCell("KM", std::to_string(km++ % 40 + 5));
        s.entry.Recompute();
    }
}
BENCHMARK(BM_EntryTripKmTypedAndRecomputed)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
