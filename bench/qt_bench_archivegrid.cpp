// The grids of "Archiv Rechnung" and "Archiv Aufträge" over archives of
// 100,000 rows, on Qt's offscreen platform: opening a grid (model, view,
// first paint), scrolling a page, jumping to the end, sorting by a click on a
// column title, and switching the date filter. Every step ends with the grid
// painted (QWidget::grab), so the times are what a user waits for.

#include <QApplication>
#include <QScrollBar>
#include <QTableView>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "archive/U_AuftragStore.h"
#include "archive/U_RechStore.h"
#include "lib/Basics/qt_TableModel.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "mainwindow/ArchiveGrids.h"
#include "mainwindow/qt_ArchivePages.h"

using namespace brenvo;

namespace {

constexpr int64_t kRows = 100000;

std::string BenchDir() {
    static const std::string dir = [] {
        auto p = std::filesystem::temp_directory_path() / ("brenvo-bench-grid-" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        return p.string();
    }();
    return dir;
}

std::string HandleOf(int64_t i) { return "109000001_2024" + IntToStr(10000000000 + i); }

// The invoice archive as the program loads it: 100,000 rows over a year.
TRechStore& Invoices() {
    static std::unique_ptr<TRechStore> store;
    if (!store) {
        Table t(TRechStore::DefaultFields());
        const TDateTime day = EncodeDate(2024, 1, 1);
        for (int64_t i = 1; i <= kRows; ++i) {
            t.Append();
            t.SetInteger("R_ID", i);
            t.SetString("R_NUMMER", "R" + IntToStr(100000000 + (i * 7919) % kRows));
            t.SetDateTime("R_DATUM", IncDays(day, double(i % 365)));
            t.SetFloat("R_BETRAG", 12.5 + double(i % 1000));
            t.SetString("R_FILENAME", "Rechnung_" + IntToStr(i) + ".xml");
            t.SetString("R_HANDLE", HandleOf(i / 10));
            t.Post();
        }
        const std::string file = PathJoin(BenchDir(), "Rechnungen.xml");
        t.SaveToFile(file);
        store = std::make_unique<TRechStore>();
        store->InitStore(BenchDir(), BenchDir(), nullptr);
        store->Load(file);
    }
    return *store;
}

TAuftragSTore& Orders() {
    static std::unique_ptr<TAuftragSTore> store;
    if (!store) {
        Table t(TAuftragSTore::DefaultFields());
        for (int64_t i = 1; i <= kRows; ++i) {
            t.Append();
            t.SetInteger("A_ID", i);
            t.SetString("A_HANDLE", HandleOf(i));
            t.SetDateTime("A_ERZEUGT", IncDays(EncodeDateTime(2024, 1, 1, 9, 30), double(i % 365)));
            t.SetString("A_ABS_EIGN_IK", "510512345");
            t.SetString("A_EMPF_IK", "109910014");
            t.SetString("A_EMPF_NAME", "Rheinische OKK");
            t.SetString("A_EMPF_EMAIL", "daten@okk.example");
            t.SetString("A_TRANSFER", "ESOL" + IntToStr(1000 + i % 999).substr(1));
            t.Post();
        }
        const std::string file = PathJoin(BenchDir(), "Auftraege.xml");
        t.SaveToFile(file);
        store = std::make_unique<TAuftragSTore>();
        store->InitStore(BenchDir(), BenchDir(), BenchDir(), BenchDir(), BenchDir());
        store->Load(file);
    }
    return *store;
}

// The invoice grid as its page builds it.
struct InvoiceGrid {
    QTableView view;
    TTableModel model;
    explicit InvoiceGrid(Table& table) {
        model.SetColumns(InvoiceArchiveColumns(table.Fields()));
        model.SetTable(&table);
        model.AttachView(&view);
        view.resize(880, 460);
        view.show();
        view.grab();
    }
    ~InvoiceGrid() { model.SetTable(nullptr); }
};

void BM_InvoiceGridOpen(benchmark::State& state) {
    Table& t = Invoices().GetTable();
    for (auto _ : state) {
        InvoiceGrid grid(t);
        benchmark::DoNotOptimize(grid.model.rowCount());
    }
    state.counters["rows"] = double(t.RecordCount());
}
BENCHMARK(BM_InvoiceGridOpen)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InvoiceGridPageDown(benchmark::State& state) {
    InvoiceGrid grid(Invoices().GetTable());
    QScrollBar* bar = grid.view.verticalScrollBar();
    for (auto _ : state) {
        const int next = bar->value() + bar->pageStep();
        bar->setValue(next > bar->maximum() ? 0 : next);
        grid.view.grab();
    }
}
BENCHMARK(BM_InvoiceGridPageDown)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InvoiceGridJumpToEnd(benchmark::State& state) {
    InvoiceGrid grid(Invoices().GetTable());
    bool end = false;
    for (auto _ : state) {
        end = !end;
        if (end)
            grid.view.scrollToBottom();
        else
            grid.view.scrollToTop();
        grid.view.grab();
    }
}
BENCHMARK(BM_InvoiceGridJumpToEnd)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InvoiceGridSortByClick(benchmark::State& state) {
    InvoiceGrid grid(Invoices().GetTable());
    const int columns[] = {grid.model.ColumnOf("R_NUMMER"), grid.model.ColumnOf("R_DATUM")};
    int i = 0;
    for (auto _ : state) {
        grid.model.sort(columns[i++ % 2]);
        grid.view.grab();
    }
    grid.model.sort(grid.model.ColumnOf("R_ID"));
}
BENCHMARK(BM_InvoiceGridSortByClick)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InvoiceGridDateFilter(benchmark::State& state) {
    Table& t = Invoices().GetTable();
    InvoiceGrid grid(t);
    TInvoiceArchiveFilter f = TInvoiceArchiveFilter::Initial(EncodeDate(2024, 6, 30));
    f.From = EncodeDate(2024, 6, 1);
    for (auto _ : state) {
        f.Filtern = !f.Filtern;
        f.Apply(t);
        grid.view.grab();
    }
    f.Filtern = false;
    f.Apply(t);
}
BENCHMARK(BM_InvoiceGridDateFilter)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OrderGridOpen(benchmark::State& state) {
    Table& t = Orders().GetTable();
    for (auto _ : state) {
        TOrderArchivePage page;
        page.SetTable(&t);
        page.resize(880, 460);
        page.show();
        page.grab();
        benchmark::DoNotOptimize(page.Model()->rowCount());
        page.SetTable(nullptr);
    }
}
BENCHMARK(BM_OrderGridOpen)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(BenchDir());
    return 0;
}
