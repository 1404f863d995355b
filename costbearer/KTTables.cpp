#include "costbearer/KTTables.h"

#include <utility>

#include "lib/base/Files.h"

namespace brenvo {

namespace {

using Widths = std::vector<std::pair<const char*, int>>;

std::vector<FieldDef> Texts(const Widths& widths) {
    std::vector<FieldDef> f;
    for (auto [name, width] : widths) f.push_back(FieldDef::Str(name, width));
    return f;
}

} // namespace

std::vector<FieldDef> KTBaseFields() {
    std::vector<FieldDef> f = Texts(
        {{"K_IK", 9},           {"KT_ART", 2},         {"KT_KURZBEZ", 40},     {"KT_KASSENART", 2},
         {"KT_NAME1", 40},      {"KT_NAME2", 40},      {"KT_NAME3", 40},       {"KT_NAME4", 40},
         {"KT_KTO_KONTONUMMER", 10}, {"KT_KTO_BANKBLZ", 8}, {"KT_KTO_BANKBEZ", 30}, {"KT_KTO_INHABER", 40},
         {"KT_ASP", 40},        {"PAPIER_IK", 9},      {"DATEN_IK", 9},        {"DATENPHYS_IK", 9},
         {"ISKT", 1},           {"ISDATEN", 1},        {"ISDATENPHYS", 1},     {"ISPAPIER", 1},
         {"ISVERWEIS", 1},      {"VERWEISE", 3},       {"ZIELVERWEIS", 3},     {"FINAL_IK", 9},
         {"KOSTENTR_IK", 9}});
    f.push_back(FieldDef::Date("KT_VALIDFROM"));
    f.push_back(FieldDef::Date("KT_VALIDTO"));
    f.push_back(FieldDef::Str("DTAREF", 9));
    return f;
}

std::vector<FieldDef> KTZuordnFields() {
    std::vector<FieldDef> f = Texts({{"K_IK", 9}, {"Z_ART", 2}, {"IK_PARTNER", 9}, {"Z_LEGRUPPE", 2},
                                     {"IK_ABRECHNUNGSTELLE", 9}, {"Z_LEART", 2}, {"Z_DATENLIEFERART", 2},
                                     {"Z_MEDIUM", 1}, {"Z_LESTANDORTLAND", 2}, {"Z_LESTANDORTBEZIRK", 2},
                                     {"ISDATEN", 1}, {"ISPAPIER", 1}});
    f.push_back(FieldDef::Date("Z_VALIDFROM"));
    f.push_back(FieldDef::Date("Z_VALIDTO"));
    return f;
}

std::vector<FieldDef> KTAnschriftFields() {
    std::vector<FieldDef> f =
        Texts({{"K_IK", 9}, {"ANS_ART", 1}, {"ANS_PLZ", 10}, {"ANS_ORT", 40}, {"ANS_STRASSE", 40}});
    f.push_back(FieldDef::Date("ANS_VALIDFROM"));
    f.push_back(FieldDef::Date("ANS_VALIDTO"));
    return f;
}

std::vector<FieldDef> KTTransferFields() {
    std::vector<FieldDef> f = Texts({{"K_IK", 9}, {"UEM_MEDIUM", 1}, {"UEM_PARAM", 2}, {"UEM_ZEICHENSATZ", 2},
                                     {"UEM_KOMPRIMIERUNG", 2}, {"DFU_PROTOKOLL", 3}, {"DFU_BENUTZER", 20},
                                     {"DFU_ZEITVON", 4}, {"DFU_ZEITBIS", 4}, {"DFU_TAGE", 1}, {"DFU_KANAL", 70}});
    f.push_back(FieldDef::Date("DFU_VALIDFROM"));
    f.push_back(FieldDef::Date("DFU_VALIDTO"));
    f.push_back(FieldDef::Str("DAKOTA", 1));
    return f;
}

std::vector<FieldDef> KTKeyFields() {
    return Texts({{"KTS_SNAME", 10}, {"KTS_KEY", 10}, {"KTS_TEXT", 60}});
}

const std::vector<TKTKeyEntry>& FederalStateKeys() {
    static const std::vector<TKTKeyEntry> states = {
        {"01", "Schleswig-Holstein"}, {"02", "Hamburg"},          {"03", "Niedersachsen"},
        {"04", "Bremen"},             {"05", "Nordrhein-Westfalen"}, {"06", "Hessen"},
        {"07", "Rheinland-Pfalz"},    {"08", "Baden-Württemberg"}, {"09", "Bayern"},
        {"10", "Saarland"},           {"11", "Berlin"},           {"12", "Brandenburg"},
        {"13", "Mecklenburg-Vorpommern"}, {"14", "Sachsen"},      {"15", "Sachsen-Anhalt"},
        {"16", "Thüringen"},
    };
    return states;
}

void WriteEmptyKTDirectory(const std::string& dir) {
    Table(KTBaseFields()).SaveToFile(PathJoin(dir, "KT_BASE.XML"));
    Table(KTZuordnFields()).SaveToFile(PathJoin(dir, "KT_ZUORDN.XML"));
    Table(KTAnschriftFields()).SaveToFile(PathJoin(dir, "KT_ANSCHRIFT.XML"));
    Table(KTTransferFields()).SaveToFile(PathJoin(dir, "KT_TRANSFER.XML"));
    Table key(KTKeyFields());
    for (const TKTKeyEntry& e : FederalStateKeys()) {
        key.Append();
        key.SetString("KTS_SNAME", "KT804");
        key.SetString("KTS_KEY", e.Key);
        key.SetString("KTS_TEXT", e.Text);
        key.Post();
    }
    key.SaveToFile(PathJoin(dir, "KT_KEY.XML"));
}

} // namespace brenvo
