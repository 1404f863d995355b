// The cost-bearer directory on a large generated directory (about 20,000 IKs
// and 110,000 links): loading the five files, resolving IKs (GetKTInfo) and
// the resolution report (GetKTReport); the tab "Kostenträger-Daten" over it
// (switching tables, filtering, searching). And the import of the insurers'
// six cost-bearer files of 2026.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "costbearer/KotrImport.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Settings.h"
#include "mainwindow/KTMaintenance.h"
#include "tools/KtDirGenerator.h"

using namespace brenvo;

namespace {

struct BigDirectory {
    std::string dir;
    KtDirSummary summary;
    // IKs as invoices name them as cost bearers: half of them the cost
    // bearer itself, half an insurance-card IK that refers to it.
    std::vector<std::string> queries;
    BigDirectory() {
        dir = (std::filesystem::temp_directory_path() / ("brenvo-bench-kt-" + std::to_string(::getpid()))).string();
        std::filesystem::create_directories(dir);
        summary = GenerateKtDirectory(dir, KtDirOptions{});
        for (size_t i = 0; i < 4000; ++i)
            queries.push_back(i % 2 == 0 ? summary.costBearers[(i * 7919) % summary.costBearers.size()]
                                         : summary.referrals[(i * 104729) % summary.referrals.size()]);
    }
    ~BigDirectory() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

BigDirectory& Big() {
    static BigDirectory big;
    return big;
}

void LoadAll(TSGBKTStore& s, const std::string& dir) {
    s.LoadKTBase(PathJoin(dir, "KT_BASE.XML"));
    s.LoadKTZuordn(PathJoin(dir, "KT_ZUORDN.XML"));
    s.LoadKTAnschrift(PathJoin(dir, "KT_ANSCHRIFT.XML"));
    s.LoadKTTransfer(PathJoin(dir, "KT_TRANSFER.XML"));
    s.LoadKTKey(PathJoin(dir, "KT_KEY.XML"));
}

TSystem& System() {
    static TSystem sys;
    return sys;
}

TSGBKTStore& LoadedStore() {
    static std::unique_ptr<TSGBKTStore> store = [] {
        auto s = std::make_unique<TSGBKTStore>(System());
        LoadAll(*s, Big().dir);
        s->ResetIndexes();
        return s;
    }();
    return *store;
}

void BM_LoadAllFiveFiles(benchmark::State& state) {
    const std::string dir = Big().dir;
    for (auto _ : state) {
        TSGBKTStore s(System());
        LoadAll(s, dir);
        benchmark::DoNotOptimize(s.KTZuordn().RecordCount());
    }
    state.counters["rows"] = double(Big().summary.iks + Big().summary.links + Big().summary.addresses +
                                    Big().summary.transfers + Big().summary.keys);
}
BENCHMARK(BM_LoadAllFiveFiles)->Unit(benchmark::kMillisecond)->Iterations(5);

// Argument: how many different IKs are asked for in turn. 4,000 spread over
// the whole directory; 40 is what a processing run meets (the cost bearers
// of one provider's invoices), whose rows stay in the processor's caches.
void BM_GetKTInfo(benchmark::State& state) {
    TSGBKTStore& s = LoadedStore();
    const std::vector<std::string> q(Big().queries.begin(), Big().queries.begin() + state.range(0));
    const auto& loc = Big().summary.locations;
    const TDateTime today = Today();
    size_t i = 0, failed = 0;
    TKTInfo info;
    for (auto _ : state) {
        const auto& [land, bezirk] = loc[i % loc.size()];
        try {
            s.GetKTInfo(q[i % q.size()], land, bezirk, today, info);
        } catch (const Error&) {
            ++failed;
        }
        benchmark::DoNotOptimize(info.Email.data());
        ++i;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.counters["failed"] = double(failed);
}
BENCHMARK(BM_GetKTInfo)->Arg(4000)->Arg(40);

void BM_GetKTReport(benchmark::State& state) {
    TSGBKTStore& s = LoadedStore();
    const auto& q = Big().queries;
    const auto& loc = Big().summary.locations;
    const TDateTime today = Today();
    size_t i = 0;
    for (auto _ : state) {
        const auto& [land, bezirk] = loc[i % loc.size()];
        std::string r = s.GetKTReport(q[i % q.size()], land, bezirk, today);
        benchmark::DoNotOptimize(r.data());
        ++i;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_GetKTReport);

// ---- the tab "Kostenträger-Daten"

struct NoUser : IUserInterface {
    void ShowMessage(MessageKind, const std::string&, const std::string&) override {}
    Answer Ask(MessageKind, const std::string&, const std::vector<Answer>&, const std::string&) override {
        return Answer::No;
    }
    bool InputQuery(const std::string&, const std::vector<std::string>&, const std::string&, std::string&) override {
        return false;
    }
    void ShowText(const std::string&, const std::string&) override {}
};

// The tab's logic over the loaded store, showing "Kostenträger" unfiltered.
TKTMaintenance& Tab() {
    static TEinrichtung einrichtung;
    static NoUser user;
    static TKTMaintenance tab([] { return &LoadedStore(); }, einrichtung, user);
    tab.SetOhneVerweisungen(false);
    tab.SetDatenEmpfaenger(false);
    tab.ChooseTable(KTTable::Kostentraeger);
    return tab;
}

// One switch of "Auswahl" to the next table, round the four ("Kostenträger"
// with "ohne Verweisungen" on, so that its filter is applied each time).
void BM_KTSwitchTable(benchmark::State& state) {
    TKTMaintenance& tab = Tab();
    tab.SetOhneVerweisungen(true);
    const KTTable order[] = {KTTable::Zuordnung, KTTable::Anschriften, KTTable::Transferdaten, KTTable::Kostentraeger};
    size_t i = 0;
    for (auto _ : state) {
        tab.ChooseTable(order[i++ % 4]);
        benchmark::DoNotOptimize(tab.ShownTable()->RecordCount());
    }
    tab.SetOhneVerweisungen(false);
}
BENCHMARK(BM_KTSwitchTable)->Unit(benchmark::kMillisecond);

// A check box ticked or cleared on "Kostenträger" (20,260 rows).
void BM_KTFilter(benchmark::State& state) {
    TKTMaintenance& tab = Tab();
    bool on = false;
    for (auto _ : state) {
        on = !on;
        tab.SetOhneVerweisungen(on);
        benchmark::DoNotOptimize(tab.ShownTable()->RecordCount());
    }
    tab.SetOhneVerweisungen(false);
}
BENCHMARK(BM_KTFilter)->Unit(benchmark::kMillisecond);

// Leaving the tab and coming back: the lookups' orders given back, the
// choice applied again.
void BM_KTLeaveAndEnter(benchmark::State& state) {
    TKTMaintenance& tab = Tab();
    tab.SetOhneVerweisungen(true);
    for (auto _ : state) {
        tab.Leave();
        tab.Enter();
    }
    tab.SetOhneVerweisungen(false);
}
BENCHMARK(BM_KTLeaveAndEnter)->Unit(benchmark::kMillisecond);

// A key typed into "Sucheingabe": the name column of "Kostenträger", and
// the IK of "Zuordnung" (114,174 rows) with a text found near the end.
void BM_KTSearch(benchmark::State& state) {
    TKTMaintenance& tab = Tab();
    const bool links = state.range(0) == 1;
    if (links) tab.ChooseTable(KTTable::Zuordnung);
    tab.MarkColumn(links ? "K_IK" : "KT_KURZBEZ");
    const std::string last = links ? Big().summary.referrals.back() : "zz";
    for (auto _ : state) {
        tab.Search(last);
        benchmark::DoNotOptimize(tab.ShownTable()->RecNo());
    }
}
BENCHMARK(BM_KTSearch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The six files of 2026 (590 kB) read, checked, mapped onto the tables and,
// with argument 1, written into a directory as one step (each file synced).
// Second argument 1: every link (--alle), 0: the links for patient transport.
void BM_KotrImport2026(benchmark::State& state) {
    const std::string data = std::string(BRENVO_SOURCE_DIR) + "/tests/costbearer/data/kotr-2026";
    std::vector<std::string> files;
    for (const std::string& name : ListFiles(data, "*.ke*")) files.push_back(PathJoin(data, name));
    const std::string dir =
        (std::filesystem::temp_directory_path() / ("brenvo-bench-kotr-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    const bool write = state.range(0) == 1;
    const bool allLinks = state.range(1) == 1;
    for (auto _ : state) {
        KotrImport import(allLinks, EncodeDate(2026, 12, 10));
        for (const std::string& f : files) import.ReadFile(f);
        import.Build();
        if (write) import.Write(dir);
        else benchmark::DoNotOptimize(import.Tables().KTZuordn.RecordCount());
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_KotrImport2026)->Args({0, 0})->Args({1, 0})->Args({1, 1})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
