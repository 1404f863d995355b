#pragma once

// A store loaded from a private copy of the demo installation's cost-bearer
// files (demo/Stammdaten); the originals are never touched.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/TempDir.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Settings.h"

namespace kttest {

inline const char* const kFiles[] = {"KT_BASE.XML", "KT_ZUORDN.XML", "KT_ANSCHRIFT.XML", "KT_TRANSFER.XML",
                                     "KT_KEY.XML"};

inline std::string DemoDir() { return std::string(BRENVO_SOURCE_DIR) + "/demo/Stammdaten"; }

// Loads the five files of a directory into the store.
inline void LoadDirectory(brenvo::TSGBKTStore& s, const std::string& dir) {
    s.LoadKTBase(dir + "/KT_BASE.XML");
    s.LoadKTZuordn(dir + "/KT_ZUORDN.XML");
    s.LoadKTAnschrift(dir + "/KT_ANSCHRIFT.XML");
    s.LoadKTTransfer(dir + "/KT_TRANSFER.XML");
    s.LoadKTKey(dir + "/KT_KEY.XML");
}

class KtStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* f : kFiles)
            std::filesystem::copy_file(DemoDir() + "/" + f, dir.file(f));
        Load(store);
    }

    void Load(brenvo::TSGBKTStore& s) { LoadDirectory(s, dir.path()); }

    // The message of the Error that `f` throws; "" when it does not throw.
    template <class F>
    static std::string ErrorOf(F&& f) {
        try {
            f();
        } catch (const brenvo::Error& e) {
            return e.what();
        }
        return "";
    }

    static brenvo::TDateTime Day(int y, int m, int d) { return brenvo::EncodeDate(y, m, d); }

    TempDir dir;
    brenvo::TSystem system;
    brenvo::TSGBKTStore store{system};
    const brenvo::TDateTime today = brenvo::Today();
};

} // namespace kttest
