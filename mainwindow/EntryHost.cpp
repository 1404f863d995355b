#include "mainwindow/EntryHost.h"

#include "lib/base/Error.h"
#include "mainwindow/main.h"

namespace brenvo {

std::string TEntryHost::CostBearerName(const std::string& ik) {
    TSGBKTStore* kt = c_.KTStore();
    if (!kt) throw Error("Das Kostenträgerverzeichnis ist nicht geladen.");
    return kt->GetIKPretty(ik, false);
}

std::vector<TCostBearerChoice> TEntryHost::CostBearers() {
    std::vector<TCostBearerChoice> out;
    TSGBKTStore* kt = c_.KTStore();
    if (!kt || !kt->KTBase().Active()) return out;
    // A copy: the directory's own order and filter stay as its lookups need them.
    auto base = kt->KTBase().Clone();
    base->SetFiltered(false);
    const int ik = base->FieldIndex("K_IK"), isKt = base->FieldIndex("ISKT"), name = base->FieldIndex("KT_KURZBEZ");
    if (ik < 0 || isKt < 0 || name < 0) return out;
    for (base->First(); !base->Eof(); base->Next())
        if (base->AsString(isKt) == "T") out.push_back({base->AsString(ik), base->AsString(name)});
    return out;
}

void TEntryHost::RememberCostBearer(const std::string& ik) { c_.WriteIniValue("Letzte_KT_IK", ik); }

std::string TEntryHost::IniValue(const std::string& name) { return c_.ReadIniValue(name); }

void TEntryHost::SetIniValue(const std::string& name, const std::string& value) { c_.WriteIniValue(name, value); }

} // namespace brenvo
