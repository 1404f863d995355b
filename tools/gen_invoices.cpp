// gen_invoices: writes good invoice files into the inbox of a data directory,
// for load tests and benchmarks of the processing run.
//
//   gen_invoices <Datenverzeichnis> <Anzahl> [--seed N] [--erste-nummer N]
//
// The provider (EINR_IK, name, state and district) comes from the settings
// "Stammdaten/brenvo.XML"; the cost bearers are those of the directory in
// "Stammdaten" that a provider there can bill. Invoice numbers are
// "G" followed by seven digits, counting up from --erste-nummer (1).

#include <cstdio>
#include <exception>
#include <string>

#include "costbearer/U_SGBKTStore.h"
#include "lib/base/Files.h"
#include "lib/base/Settings.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"
#include "tools/InvoiceGenerator.h"
#include "tools/ToolArgs.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "Aufruf: gen_invoices <Datenverzeichnis> <Anzahl> [--seed N] [--erste-nummer N]\n"
                 "Schreibt <Anzahl> fehlerfreie Rechnungsdateien nach <Datenverzeichnis>/import.\n");
    return 2;
}

std::string Setting(brenvo::Table& t, const std::string& key) {
    return t.Locate("KEY", {brenvo::Value(key)}) ? t.AsString("VALUE") : "";
}

} // namespace

int main(int argc, char** argv) {
    using namespace brenvo;
    std::string dir;
    int64_t count = -1, seed = 1, first = 1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--seed") {
            const auto v = OptionCount(argc, argv, i);
            if (!v) return Usage();
            seed = *v;
        } else if (a == "--erste-nummer") {
            const auto v = OptionCount(argc, argv, i);
            if (!v) return Usage();
            first = *v;
        } else if (dir.empty() && !a.starts_with("--")) {
            dir = a;
        } else if (count < 0 && !a.starts_with("--")) {
            const auto v = ParseCount(a);
            if (!v) return Usage();
            count = *v;
        } else {
            return Usage();
        }
    }
    if (dir.empty() || count < 0) return Usage();
    try {
        const std::string stamm = PathJoin(dir, "Stammdaten");
        Table settings;
        settings.LoadFromFile(PathJoin(stamm, "brenvo.XML"));
        const std::string ik = Setting(settings, "EINR_IK");
        const std::string land = Setting(settings, "EINR_LAND");
        const std::string bezirk = Setting(settings, "EINR_BEZIRK");

        TSystem system;
        TSGBKTStore kt(system);
        kt.LoadKTBase(PathJoin(stamm, "KT_BASE.XML"));
        kt.LoadKTZuordn(PathJoin(stamm, "KT_ZUORDN.XML"));
        kt.LoadKTAnschrift(PathJoin(stamm, "KT_ANSCHRIFT.XML"));
        kt.LoadKTTransfer(PathJoin(stamm, "KT_TRANSFER.XML"));
        const std::vector<std::string> bearers = BillableCostBearers(kt, land, bezirk, 40);
        if (bearers.empty()) {
            std::fprintf(stderr, "Kein Kostenträger für Land %s Bezirk %s abrechenbar.\n", land.c_str(), bezirk.c_str());
            return 1;
        }
        const std::string import = PathJoin(dir, "import");
        ForceDirectories(import);
        const TDateTime today = Today();
        for (int64_t n = 0; n < count; ++n) {
            GeneratedInvoice inv;
            inv.number = "G" + PadLeft(IntToStr(first + n), 7, '0');
            inv.date = IncDays(today, -double(n % 20));
            inv.providerIK = ik;
            const std::string name = Setting(settings, "EINR_NAME1");
            if (!name.empty()) inv.providerName = name;
            inv.costBearerIK = bearers[size_t(n) % bearers.size()];
            inv.seed = uint64_t(seed) * 1000003u + uint64_t(n);
            inv.cases = 1 + int(n % 3);
            inv.tripsPerCase = 2;
            WriteGeneratedInvoice(PathJoin(import, inv.number + ".xml"), inv);
        }
        std::printf("%lld Rechnungen für %zu Kostenträger in %s\n", static_cast<long long>(count), bearers.size(),
                    import.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
