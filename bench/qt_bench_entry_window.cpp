// Speed of the invoice entry window as a clerk meets it (offscreen): an
// invoice of 50 cases with 200 trips opened for editing and shown (read,
// sums recomputed, fields and lists filled), and a trip's km typed into the
// trip list followed by "Neu berechnen".

#include <QAction>
#include <QApplication>
#include <QTableView>

#include <benchmark/benchmark.h>

#include "EntryBenchData.h"
#include "entry/frm_xmlRechnungV6.h"
#include "lib/Basics/qt_applicationframe.h"

using namespace brenvo;
using namespace brenvo::bench;

namespace {

struct WindowScene {
    ScratchDir dir{"entry-window"};
    TdmVerwaltung dm{dir.Path()};
    BenchHost host;
    TformXMLRechnung6 window{dm, host};
    std::string file = dir.File("2024-9000.xml");

    WindowScene() {
        FillTariffs(dm);
        LargeInvoice(50, 4).SaveToFile(file);
    }
    void Open() {
        window.Open(file);
        window.SetMode(EntryMode::Edit);
        window.show();
        QApplication::processEvents();
    }
};

void BM_WindowOpenInvoice50Cases200Trips(benchmark::State& state) {
    WindowScene s;
    for (auto _ : state) {
        s.Open();
        state.PauseTiming();
        s.window.done(QDialog::Rejected);
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowOpenInvoice50Cases200Trips)->Unit(benchmark::kMillisecond);

void BM_WindowTripKmTypedAndRecomputed(benchmark::State& state) {
    WindowScene s;
    s.Open();
    s.window.Logic().GotoCase(25);
    s.window.Action(QStringLiteral("actNeuBerechnen"))->trigger();
    QAbstractItemModel* trips = s.window.TripGrid()->model();
    int km = 10;
    for (auto _ : state) {
        trips->setData(trips->index(0, 5), QString::number(km++ % 40 + 5));
        s.window.Action(QStringLiteral("actNeuBerechnen"))->trigger();
        QApplication::processEvents();
    }
    s.window.done(QDialog::Rejected);
}
BENCHMARK(BM_WindowTripKmTypedAndRecomputed)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetUpApplication(app);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
