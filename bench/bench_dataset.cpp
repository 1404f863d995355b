// The table engine on a table of 100,000 rows and 20 columns of mixed types:
// load, save, sort, filter and positioning on the sort columns.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/dataset/Table.h"

using namespace brenvo;

namespace {

constexpr int kRows = 100000;

std::vector<FieldDef> Columns() {
    return {FieldDef::Int("R_ID"),         FieldDef::Str("K_IK", 9),        FieldDef::Str("Z_ART", 2),
            FieldDef::Str("KT_NAME1", 40), FieldDef::Str("KT_NAME2", 40),   FieldDef::Str("ANS_STRASSE", 40),
            FieldDef::Str("ANS_PLZ", 5),   FieldDef::Str("ANS_ORT", 30),    FieldDef::Date("R_DATUM"),
            FieldDef::Date("VALIDFROM"),   FieldDef::Date("VALIDTO"),       FieldDef::Money("R_BETRAG"),
            FieldDef::Flt("MENGE"),        FieldDef::Int("ANZAHL"),         FieldDef::Str("ISKT", 1),
            FieldDef::Bool("AKTIV"),       FieldDef::Str("KASSENART", 2),   FieldDef::Str("LAND", 2),
            FieldDef::Str("EMAIL", 100),   FieldDef::Str("BEMERKUNG", 200)};
}

struct Data {
    std::string dir;
    std::string file;
    std::vector<std::string> iks;   // the distinct K_IK values
};

// Builds the table once and writes it to a temporary file.
const Data& TestData() {
    static Data data = [] {
        Data d;
        d.dir = (std::filesystem::temp_directory_path() / ("brenvo-bench-" + std::to_string(::getpid()))).string();
        std::filesystem::create_directories(d.dir);
        d.file = d.dir + "/bench.xml";
        std::mt19937 rng(302);
        const char* names[] = {"AOK Nordost", "Techniker Krankenkasse", "BARMER", "DAK-Gesundheit",
                               "IKK classic", "Knappschaft", "BKK Müller & Söhne", "Südzucker BKK"};
        const char* towns[] = {"Berlin", "München", "Köln", "Düsseldorf", "Würzburg", "Hamburg"};
        for (int i = 0; i < kRows / 4; ++i) d.iks.push_back(std::to_string(100000000 + int(rng() % 899999999)));
        Table t(Columns());
        TDateTime base = EncodeDate(2022, 1, 1);
        for (int i = 0; i < kRows; ++i) {
            t.Append();
            t.SetInteger("R_ID", i + 1);
            t.SetString("K_IK", d.iks[rng() % d.iks.size()]);
            t.SetString("Z_ART", (const char*[]){"01", "02", "03", "09"}[rng() % 4]);
            t.SetString("KT_NAME1", names[rng() % 8]);
            t.SetString("KT_NAME2", std::string("Geschäftsstelle ") + towns[rng() % 6]);
            t.SetString("ANS_STRASSE", "Hauptstraße " + std::to_string(rng() % 200 + 1));
            t.SetString("ANS_PLZ", std::to_string(10000 + rng() % 89999));
            t.SetString("ANS_ORT", towns[rng() % 6]);
            t.SetDateTime("R_DATUM", IncMilliseconds(base, int64_t(rng() % 1000000) * 60000));
            t.SetDateTime("VALIDFROM", base);
            if (rng() % 4 == 0) t.SetDateTime("VALIDTO", EncodeDate(2030, 12, 31));
            t.SetFloat("R_BETRAG", double(rng() % 100000) / 100.0);
            t.SetFloat("MENGE", double(rng() % 1000) / 8.0);
            t.SetInteger("ANZAHL", rng() % 50);
            t.SetString("ISKT", rng() % 3 ? "T" : "F");
            t.SetBoolean("AKTIV", rng() % 2);
            t.SetString("KASSENART", (const char*[]){"AO", "BK", "IK", "EK"}[rng() % 4]);
            t.SetString("LAND", std::to_string(10 + rng() % 7).substr(0, 2));
            t.SetString("EMAIL", "da302-" + std::to_string(rng() % 1000) + "@beispiel-annahmestelle.de");
            if (rng() % 5 == 0) t.SetString("BEMERKUNG", "Hinweis: Abrechnung <nur> über \"Datenannahme\"");
            t.Post();
        }
        t.SaveToFile(d.file);
        return d;
    }();
    return data;
}

struct Cleanup {
    ~Cleanup() {
        std::error_code ec;
        if (!dirToRemove.empty()) std::filesystem::remove_all(dirToRemove, ec);
    }
    std::string dirToRemove;
} gCleanup;

Table& Loaded() {
    static Table t = [] {
        Table x;
        x.LoadFromFile(TestData().file);
        gCleanup.dirToRemove = TestData().dir;
        return x;
    }();
    return t;
}

void BM_LoadFromFile(benchmark::State& state) {
    const std::string& file = TestData().file;
    for (auto _ : state) {
        Table t;
        t.LoadFromFile(file);
        benchmark::DoNotOptimize(t.RecordCount());
    }
    state.counters["MB"] = double(FileSize(file)) / 1e6;
}
BENCHMARK(BM_LoadFromFile)->Unit(benchmark::kMillisecond);

void BM_SaveToXml(benchmark::State& state) {
    Table& t = Loaded();
    for (auto _ : state) benchmark::DoNotOptimize(t.SaveToXml());
}
BENCHMARK(BM_SaveToXml)->Unit(benchmark::kMillisecond);

void BM_SaveToFile(benchmark::State& state) {
    Table& t = Loaded();
    std::string out = TestData().dir + "/saved.xml";
    for (auto _ : state) t.SaveToFile(out);
}
BENCHMARK(BM_SaveToFile)->Unit(benchmark::kMillisecond);

// Changes one row, so that the next sort cannot reuse an order kept from before.
void TouchRow(Table& t) {
    t.First();
    t.Edit();
    t.SetString("BEMERKUNG", t.AsString("BEMERKUNG") == "x" ? "y" : "x");
    t.Post();
}

void BM_SortTwoTextColumns(benchmark::State& state) {
    Table& t = Loaded();
    for (auto _ : state) {
        t.SetIndexFieldNames("K_IK;Z_ART");
        state.PauseTiming();
        t.SetIndexFieldNames("");
        TouchRow(t);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SortTwoTextColumns)->Unit(benchmark::kMillisecond);

void BM_SortDateColumn(benchmark::State& state) {
    Table& t = Loaded();
    for (auto _ : state) {
        t.SetIndexFieldNames("R_DATUM");
        state.PauseTiming();
        t.SetIndexFieldNames("");
        TouchRow(t);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SortDateColumn)->Unit(benchmark::kMillisecond);

void BM_FilterDateRange(benchmark::State& state) {
    Table& t = Loaded();
    t.SetIndexFieldNames("");
    for (auto _ : state) {
        t.SetFilter("r_datum >= '01.03.2022' and r_datum <= '31.03.2022' AND ISKT = 'T'");
        t.SetFiltered(true);
        benchmark::DoNotOptimize(t.RecordCount());
        state.PauseTiming();
        t.SetFiltered(false);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FilterDateRange)->Unit(benchmark::kMillisecond);

void BM_FindKeyOnSortColumns(benchmark::State& state) {
    Table& t = Loaded();
    t.SetFiltered(false);
    t.SetIndexFieldNames("K_IK;Z_ART");
    const auto& iks = TestData().iks;
    std::mt19937 rng(1);
    int64_t found = 0;
    for (auto _ : state) {
        found += t.FindKey({iks[rng() % iks.size()], std::string("03")});
    }
    state.counters["found"] = double(found) / double(state.iterations());
}
BENCHMARK(BM_FindKeyOnSortColumns);

void BM_LocateOnSortColumns(benchmark::State& state) {
    Table& t = Loaded();
    t.SetFiltered(false);
    t.SetIndexFieldNames("K_IK");
    const auto& iks = TestData().iks;
    std::mt19937 rng(2);
    int64_t found = 0;
    for (auto _ : state) {
        found += t.Locate("K_IK;Z_ART", {iks[rng() % iks.size()], std::string("09")});
    }
    state.counters["found"] = double(found) / double(state.iterations());
}
BENCHMARK(BM_LocateOnSortColumns);

void BM_LocateCaseInsensitiveScan(benchmark::State& state) {
    Table& t = Loaded();
    t.SetFiltered(false);
    t.SetIndexFieldNames("K_IK");
    for (auto _ : state) {
        benchmark::DoNotOptimize(t.Locate("EMAIL", {std::string("DA302-999@BEISPIEL")}, {.caseInsensitive = true, .partialKey = true}));
    }
}
BENCHMARK(BM_LocateCaseInsensitiveScan)->Unit(benchmark::kMillisecond);

void BM_EditKeyKeepsIndex(benchmark::State& state) {
    Table& t = Loaded();
    t.SetFiltered(false);
    t.SetIndexFieldNames("K_IK;Z_ART");
    const auto& iks = TestData().iks;
    std::mt19937 rng(3);
    for (auto _ : state) {
        t.SetRecNo(int(rng() % kRows) + 1);
        t.Edit();
        t.SetString("K_IK", iks[rng() % iks.size()]);
        t.Post();
    }
    t.MergeChangeLog();
}
BENCHMARK(BM_EditKeyKeepsIndex);

} // namespace

BENCHMARK_MAIN();
