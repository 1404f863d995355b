// Lookups of the two archives on tables of growing size: the duplicate check
// and the file test of the invoice archive, locating an order by id and by
// handle, each next to a plain Locate on the table (a scan) for comparison.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>

#include "archive/U_AuftragStore.h"
#include "archive/U_RechStore.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"

using namespace brenvo;

namespace {

std::string BenchDir() {
    static const std::string dir = [] {
        auto p = std::filesystem::temp_directory_path() / ("brenvo-bench-archive-" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        return p.string();
    }();
    return dir;
}

std::string Number(int64_t i) { return "R" + IntToStr(100000000 + i); }
std::string FileOf(int64_t i) { return "Rechnung_" + IntToStr(i) + ".xml"; }
std::string HandleOf(int64_t i) { return "109000001_2024" + IntToStr(10000000000 + i); }

TRechStore& Invoices(int64_t n) {
    static std::map<int64_t, std::unique_ptr<TRechStore>> stores;
    auto& s = stores[n];
    if (!s) {
        Table t(TRechStore::DefaultFields());
        const TDateTime day = EncodeDate(2024, 1, 1);
        for (int64_t i = 1; i <= n; ++i) {
            t.Append();
            t.SetInteger("R_ID", i);
            t.SetString("R_NUMMER", Number(i));
            t.SetDateTime("R_DATUM", IncDays(day, double(i % 365)));
            t.SetFloat("R_BETRAG", 12.5);
            t.SetString("R_FILENAME", FileOf(i));
            t.SetString("R_HANDLE", HandleOf(i / 10));
            t.Post();
        }
        const std::string file = PathJoin(BenchDir(), "Rechnungen" + IntToStr(n) + ".xml");
        t.SaveToFile(file);
        s = std::make_unique<TRechStore>();
        s->InitStore(BenchDir(), BenchDir(), nullptr);
        s->Load(file);
    }
    return *s;
}

TAuftragSTore& Orders(int64_t n) {
    static std::map<int64_t, std::unique_ptr<TAuftragSTore>> stores;
    auto& s = stores[n];
    if (!s) {
        Table t(TAuftragSTore::DefaultFields());
        for (int64_t i = 1; i <= n; ++i) {
            t.Append();
            t.SetInteger("A_ID", i);
            t.SetString("A_HANDLE", HandleOf(i));
            t.SetDateTime("A_ERZEUGT", EncodeDate(2024, 1, 1));
            t.SetString("A_EMPF_IK", "109000002");
            t.SetString("A_TRANSFER", "ESOL0001");
            t.Post();
        }
        const std::string file = PathJoin(BenchDir(), "Auftraege" + IntToStr(n) + ".xml");
        t.SaveToFile(file);
        s = std::make_unique<TAuftragSTore>();
        s->InitStore(BenchDir(), BenchDir(), BenchDir(), BenchDir(), BenchDir());
        s->Load(file);
    }
    return *s;
}

void BM_CheckNotArchived(benchmark::State& state) {
    TRechStore& s = Invoices(state.range(0));
    int64_t i = 0;
    for (auto _ : state) {
        // a number not archived: the common case of the processing run
        s.CheckNotArchived("N" + IntToStr(i++));
    }
}

void BM_IsArchivedFileOtherCase(benchmark::State& state) {
    const int64_t n = state.range(0);
    TRechStore& s = Invoices(n);
    int64_t i = 0;
    for (auto _ : state) {
        bool found = s.IsArchivedFile(UpperCase(FileOf(1 + (i++ * 7919) % n)));
        benchmark::DoNotOptimize(found);
    }
}

void BM_LocateOrderById(benchmark::State& state) {
    const int64_t n = state.range(0);
    TAuftragSTore& s = Orders(n);
    int64_t i = 0;
    for (auto _ : state) {
        bool found = s.LocateById(1 + (i++ * 7919) % n);
        benchmark::DoNotOptimize(found);
    }
}

void BM_LocateOrderByHandle(benchmark::State& state) {
    const int64_t n = state.range(0);
    TAuftragSTore& s = Orders(n);
    int64_t i = 0;
    for (auto _ : state) {
        bool found = s.LocateByHandle(HandleOf(1 + (i++ * 7919) % n));
        benchmark::DoNotOptimize(found);
    }
}

// For comparison: what the same question costs as a Locate on the table.
void BM_TableLocateNumberScan(benchmark::State& state) {
    const int64_t n = state.range(0);
    Table& t = Invoices(n).GetTable();
    int64_t i = 0;
    for (auto _ : state) {
        bool found = t.Locate("R_NUMMER", {Value(Number(1 + (i++ * 7919) % n))});
        benchmark::DoNotOptimize(found);
    }
}

} // namespace

BENCHMARK(BM_CheckNotArchived)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_IsArchivedFileOtherCase)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_LocateOrderById)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_LocateOrderByHandle)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_TableLocateNumberScan)->Arg(1000)->Arg(10000)->Arg(100000);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(BenchDir(), ec);
    return 0;
}
