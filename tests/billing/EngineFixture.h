#pragma once

// A billing engine over the demo installation's cost-bearer directory
// (read from demo/Stammdaten, never written), with the clock fixed at
// 20.10.2014 09:30:15 and a fresh temporary directory for the engine's files.
//
// IKs of the directory used here: 103330011 "EK Gärtner" and 103110016
// "Rheinische OKK" both have the logical data recipient 109910014
// "DAS Rhein-Ruhr" (DTAREF 1041) when asked without state and district;
// 104000014 "KK Thüringer Wald" has 109910025 "Datenannahme Westfalen"
// (DTAREF empty); 103110027 refers to 103110016.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "InvoiceBuilder.h"
#include "billing/U_sgbv.h"
#include "common/TempDir.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/Error.h"
#include "lib/base/Settings.h"

namespace brenvo::test {

inline std::string DemoStammdaten() { return std::string(BRENVO_SOURCE_DIR) + "/demo/Stammdaten/"; }

struct EngineSettings {
    std::string version = "09";
    TDateTime versionDate = EncodeDate(2014, 10, 1);
    std::string sender = "510123456";
    std::string recipient = "109910014";
    int number = 10;
    int64_t seed = -1;
    int kind = 0;
    int testIndicator = 1;
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetFixedNow(EncodeDateTime(2014, 10, 20, 9, 30, 15));
        store.LoadKTBase(DemoStammdaten() + "KT_BASE.XML");
        store.LoadKTZuordn(DemoStammdaten() + "KT_ZUORDN.XML");
        store.LoadKTAnschrift(DemoStammdaten() + "KT_ANSCHRIFT.XML");
        store.LoadKTTransfer(DemoStammdaten() + "KT_TRANSFER.XML");
        store.LoadKTKey(DemoStammdaten() + "KT_KEY.XML");
        einrichtung.EINR_LAND = "05";
        einrichtung.EINR_BEZIRK = "38";
    }
    void TearDown() override { SetFixedNow(std::nullopt); }

    std::unique_ptr<TSgbv> NewEngine(const EngineSettings& s = {}) {
        auto e = std::make_unique<TSgbv>(store, einrichtung);
        e->Init(s.version, s.sender, s.versionDate, s.recipient, s.number, s.seed, s.kind, s.testIndicator, dir.path());
        return e;
    }

    // The message of the Error that f throws; "" when it does not throw.
    template <class F>
    static std::string ErrorOf(F&& f) {
        try {
            f();
        } catch (const Error& e) {
            return e.what();
        }
        return "";
    }

    // Loads the invoice into a fresh engine; the message of the failure or "".
    std::string LoadError(const InvoicePlan& plan, const EngineSettings& s = {}) {
        auto e = NewEngine(s);
        InvoiceDocument doc = BuildDocument(plan);
        return ErrorOf([&] { e->LoadRechnungen(doc); });
    }

    TempDir dir;
    TSystem system;
    TSGBKTStore store{system};
    TEinrichtung einrichtung;
};

} // namespace brenvo::test
