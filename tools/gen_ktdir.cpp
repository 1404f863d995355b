// gen_ktdir: writes a large, realistic cost-bearer directory for benchmarks.
//
//   gen_ktdir <Verzeichnis> [--seed N] [--kostentraeger N] [--verweise N]

#include <cstdio>
#include <exception>
#include <string>

#include "tools/KtDirGenerator.h"
#include "tools/ToolArgs.h"

namespace {
int Usage() {
    std::fprintf(stderr,
                 "Aufruf: gen_ktdir <Verzeichnis> [--seed N] [--kostentraeger N] [--verweise N]\n"
                 "Schreibt KT_BASE.XML, KT_ZUORDN.XML, KT_ANSCHRIFT.XML, KT_TRANSFER.XML und KT_KEY.XML.\n");
    return 2;
}
} // namespace

int main(int argc, char** argv) {
    using namespace brenvo;
    if (argc < 2) return Usage();
    std::string dir;
    KtDirOptions opt;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--seed") {
            const auto v = OptionCount(argc, argv, i);
            if (!v) return Usage();
            opt.seed = uint64_t(*v);
        } else if (a == "--kostentraeger") {
            const auto v = OptionCount(argc, argv, i);
            if (!v || *v < 1) return Usage();
            opt.costBearers = int(*v);
        } else if (a == "--verweise") {
            const auto v = OptionCount(argc, argv, i);
            if (!v) return Usage();
            opt.referrals = int(*v);
        } else if (!a.starts_with("--") && dir.empty()) {
            dir = a;
        } else {
            return Usage();
        }
    }
    if (dir.empty()) return Usage();
    try {
        KtDirSummary s = GenerateKtDirectory(dir, opt);
        std::printf("%d IKs, %d Zuordnungen, %d Anschriften, %d Übermittlungsdaten, %d Schlüssel in %s\n", s.iks,
                    s.links, s.addresses, s.transfers, s.keys, dir.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
