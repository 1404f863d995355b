#pragma once

// Writes a large, realistic cost-bearer directory (the five KT_*.XML table
// files) for benchmarks and load tests. The same seed and sizes always give
// the same files.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace brenvo {

struct KtDirOptions {
    uint64_t seed = 1;
    int costBearers = 2000;          // IKs with ISKT "T"
    int referrals = 18000;           // IKs of insurance cards that refer ("01") to a cost bearer
    int logicalRecipients = 120;     // data acceptance offices (ISDATEN)
    int physicalRecipients = 60;     // their computing centres (ISDATENPHYS)
    int paperOffices = 80;           // paper acceptance offices (ISPAPIER)
};

struct KtDirSummary {
    int iks = 0;
    int links = 0;
    int addresses = 0;
    int transfers = 0;
    int keys = 0;
    std::vector<std::string> costBearers;
    std::vector<std::string> referrals;
    // Every (federal state, KV district) pair the links use.
    std::vector<std::pair<std::string, std::string>> locations;
};

// Writes "KT_BASE.XML", "KT_ZUORDN.XML", "KT_ANSCHRIFT.XML",
// "KT_TRANSFER.XML" and "KT_KEY.XML" into dir (which must exist).
KtDirSummary GenerateKtDirectory(const std::string& dir, const KtDirOptions& options);

} // namespace brenvo
