#pragma once

// Tariffs for tests, added to the tariff table of the master-data module.

#include <string>
#include <vector>

#include "entry/dm_verwaltung.h"
#include "lib/dataset/Table.h"

namespace brenvo::test {

struct TariffPos {
    std::string posNum;
    std::string art;
    int64_t cents = 0;
    double pct = 0;
    double freikm = 0;
};

inline void AddTarif(Table& tarife, const std::string& name, const std::vector<TariffPos>& positions) {
    tarife.Append();
    tarife.SetString("Tarifbez", name);
    Table& p = tarife.Nested(TdmVerwaltung::kTarifdetail);
    for (const auto& x : positions) {
        p.Append();
        p.SetString("Detailbez", "Position " + x.posNum);
        p.SetString("Tarif", "46ABC12");
        p.SetString("PosNum", x.posNum);
        p.SetInteger("EPreis", x.cents);
        p.SetString("Art", x.art);
        p.SetFloat("Ust", 7);
        p.SetFloat("PCT_Abschlag", x.pct);
        p.SetFloat("freikm", x.freikm);
        p.Post();
    }
    tarife.Post();
}

} // namespace brenvo::test
