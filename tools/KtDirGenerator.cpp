#include "tools/KtDirGenerator.h"

#include <random>
#include <set>

#include "costbearer/KTTables.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"

namespace brenvo {

namespace {

// Random numbers that come out the same with every compiler: the engine is
// fully specified, and the reduction to a range is done here.
class Rng {
public:
    explicit Rng(uint64_t seed) : g_(seed) {}
    size_t Below(size_t n) { return size_t(g_() % n); }
    bool Percent(int p) { return Below(100) < size_t(p); }
    template <class T>
    const T& Pick(const std::vector<T>& v) { return v[Below(v.size())]; }
    std::string Digits(int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += char('0' + Below(10));
        return s;
    }

private:
    std::mt19937_64 g_;
};

// The KV districts of each federal state (KT804 key) the links use.
struct FederalState {
    const char* code;
    std::vector<const char*> districts;
};

const std::vector<FederalState>& States() {
    static const std::vector<FederalState> states = {
        {"01", {"01"}}, {"02", {"02"}}, {"03", {"17"}}, {"04", {"03"}}, {"05", {"38", "20"}}, {"06", {"46"}},
        {"07", {"51"}}, {"08", {"52"}}, {"09", {"71"}}, {"10", {"73"}}, {"11", {"72"}},       {"12", {"83"}},
        {"13", {"78"}}, {"14", {"98"}}, {"15", {"88"}}, {"16", {"93"}},
    };
    return states;
}

const std::vector<std::string> kTowns = {
    "Lüneburg", "Göttingen", "Würzburg", "Fürth", "Düsseldorf", "Köln", "Mönchengladbach", "Gütersloh",
    "Osnabrück", "Tübingen", "Zweibrücken", "Saarbrücken", "Lübeck", "Görlitz", "Jüterbog", "Münster",
    "Nürnberg", "München", "Bückeburg", "Völklingen", "Gießen", "Jülich", "Bad Dürkheim", "Straubing",
    "Weißenfels", "Plön", "Lörrach", "Überlingen", "Füssen", "Günzburg", "Schwäbisch Gmünd", "Dörpen"};
const std::vector<std::string> kStreets = {
    "Hauptstraße", "Bahnhofstraße", "Schillerstraße", "Goethestraße", "Mühlenweg", "Kirchplatz",
    "Lindenallee", "Königstraße", "Marktplatz", "Bürgermeister-Smidt-Straße", "Schloßstraße", "Grüner Weg",
    "Am Stadtgraben", "Friedrich-Ebert-Ring", "Wiesenstraße", "Brückenstraße"};
const std::vector<std::string> kInsurerKinds = {"BKK", "IKK", "Ersatzkasse", "Ortskrankenkasse",
                                                "Landwirtschaftliche KK", "Betriebskrankenkasse"};
const std::vector<std::string> kTrades = {"Stahlwerk", "Glashütte", "Mühlenwerke", "Brauerei", "Süßwaren",
                                          "Maschinenbau", "Stadtwerke", "Textil", "Porzellan", "Hüttenwerk"};
const std::vector<std::string> kKassenArten = {"AO", "BK", "EK", "IK", "LK", "KN"};

using Cells = std::vector<std::pair<const char*, Value>>;

void AddRow(Table& t, const Cells& cells) {
    t.Append();
    for (const auto& [name, value] : cells) t.SetValue(name, value);
    t.Post();
}

// Unique nine-digit IKs of one kind, ascending from base with random gaps.
std::vector<std::string> MakeIKs(Rng& rng, int64_t base, int count) {
    std::vector<std::string> out;
    out.reserve(size_t(count));
    int64_t n = base;
    for (int i = 0; i < count; ++i) {
        n += 1 + int64_t(rng.Below(40));
        out.push_back(IntToStr(n));
    }
    return out;
}

std::string MailName(std::string s) {
    std::string out;
    for (char c : LowerCase(s)) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) out += c;
        else if (c == ' ' || c == '-') out += '-';
    }
    return out;
}

} // namespace

KtDirSummary GenerateKtDirectory(const std::string& dir, const KtDirOptions& opt) {
    Rng rng(opt.seed);
    KtDirSummary sum;
    Table base(KTBaseFields()), zuordn(KTZuordnFields()), anschrift(KTAnschriftFields()),
        transfer(KTTransferFields()), key(KTKeyFields());

    const TDateTime start = EncodeDate(2012, 1, 1);
    const Value T(std::string("T")), F(std::string("F")), none;
    auto str = [](std::string s) { return Value(std::move(s)); };
    auto flag = [&](bool b) { return b ? T : F; };

    for (const auto& st : States())
        for (const char* d : st.districts) sum.locations.emplace_back(st.code, d);

    const std::vector<std::string> logical = MakeIKs(rng, 109100000, opt.logicalRecipients);
    const std::vector<std::string> physical = MakeIKs(rng, 109300000, opt.physicalRecipients);
    const std::vector<std::string> paper = MakeIKs(rng, 109500000, opt.paperOffices);
    sum.costBearers = MakeIKs(rng, 101000000, opt.costBearers);
    sum.referrals = MakeIKs(rng, 103000000, opt.referrals);

    auto addBase = [&](const std::string& ik, const std::string& kurz, const char* art, const std::string& kassenart,
                       const std::string& name1, const std::string& name2, bool isKT, bool isDaten, bool isPhys,
                       bool isPapier, bool isVerweis, const std::string& datenIK, const std::string& physIK,
                       const std::string& finalIK, Value dtaref) {
        std::string town = rng.Pick(kTowns);
        AddRow(base, {{"K_IK", str(ik)},
                      {"KT_ART", str(art)},
                      {"KT_KURZBEZ", str(kurz)},
                      {"KT_KASSENART", str(kassenart)},
                      {"KT_NAME1", str(name1)},
                      {"KT_NAME2", str(name2)},
                      {"KT_NAME3", str(town)},
                      {"KT_KTO_KONTONUMMER", str(isKT ? rng.Digits(10) : "")},
                      {"KT_KTO_BANKBLZ", str(isKT ? rng.Digits(8) : "")},
                      {"KT_KTO_BANKBEZ", str(isKT ? "Sparkasse " + town : "")},
                      {"KT_KTO_INHABER", str(isKT ? name1 : "")},
                      {"PAPIER_IK", str("")},
                      {"DATEN_IK", str(datenIK)},
                      {"DATENPHYS_IK", str(physIK)},
                      {"ISKT", flag(isKT)},
                      {"ISDATEN", flag(isDaten)},
                      {"ISDATENPHYS", flag(isPhys)},
                      {"ISPAPIER", flag(isPapier)},
                      {"ISVERWEIS", flag(isVerweis)},
                      {"FINAL_IK", str(finalIK)},
                      {"KOSTENTR_IK", str(finalIK)},
                      {"KT_VALIDFROM", Value(start)},
                      {"DTAREF", std::move(dtaref)}});
        ++sum.iks;
    };
    auto addAddresses = [&](const std::string& ik) {
        std::string town = rng.Pick(kTowns);
        std::string plz = IntToStr(1067 + int64_t(rng.Below(98000)));
        plz = PadLeft(plz, 5, '0');
        AddRow(anschrift, {{"K_IK", str(ik)}, {"ANS_ART", str("1")}, {"ANS_PLZ", str(plz)}, {"ANS_ORT", str(town)},
                           {"ANS_STRASSE", str(rng.Pick(kStreets) + " " + IntToStr(1 + int64_t(rng.Below(150))))},
                           {"ANS_VALIDFROM", Value(start)}});
        ++sum.addresses;
        if (rng.Percent(40)) {
            AddRow(anschrift, {{"K_IK", str(ik)}, {"ANS_ART", str("2")}, {"ANS_PLZ", str(plz)}, {"ANS_ORT", str(town)},
                               {"ANS_STRASSE", str("Postfach " + rng.Digits(2) + " " + rng.Digits(2) + " " + rng.Digits(2))},
                               {"ANS_VALIDFROM", Value(start)}});
            ++sum.addresses;
        }
        if (rng.Percent(10)) {
            AddRow(anschrift, {{"K_IK", str(ik)}, {"ANS_ART", str("3")}, {"ANS_PLZ", str(plz)}, {"ANS_ORT", str(town)},
                               {"ANS_STRASSE", str("")}, {"ANS_VALIDFROM", Value(start)}});
            ++sum.addresses;
        }
    };
    auto addMail = [&](const std::string& ik, const std::string& name) {
        if (rng.Percent(30)) {
            AddRow(transfer, {{"K_IK", str(ik)}, {"UEM_MEDIUM", str("1")}, {"UEM_PARAM", str("00")},
                              {"UEM_ZEICHENSATZ", str("I8")}, {"UEM_KOMPRIMIERUNG", str("00")},
                              {"DFU_PROTOKOLL", str("011")}, {"DFU_BENUTZER", str("")}, {"DFU_ZEITVON", str("0000")},
                              {"DFU_ZEITBIS", str("0000")}, {"DFU_TAGE", str("1")},
                              {"DFU_KANAL", str("ftp." + MailName(name) + ".example")},
                              {"DFU_VALIDFROM", Value(start)}, {"DAKOTA", str(" ")}});
            ++sum.transfers;
        }
        static const char* marks[] = {" ", "1", "2", "2", "3"};
        AddRow(transfer, {{"K_IK", str(ik)}, {"UEM_MEDIUM", str("1")}, {"UEM_PARAM", str("00")},
                          {"UEM_ZEICHENSATZ", str("I7")}, {"UEM_KOMPRIMIERUNG", str("00")},
                          {"DFU_PROTOKOLL", str("070")}, {"DFU_BENUTZER", str("")}, {"DFU_ZEITVON", str("0000")},
                          {"DFU_ZEITBIS", str("0000")}, {"DFU_TAGE", str("1")},
                          {"DFU_KANAL", str("annahme@" + MailName(name) + ".example")},
                          {"DFU_VALIDFROM", Value(start)}, {"DAKOTA", str(marks[rng.Below(5)])}});
        ++sum.transfers;
    };
    auto addLink = [&](const std::string& ik, const char* art, const std::string& partner, const std::string& land,
                       const std::string& bezirk, const std::string& leart, const std::string& lieferart,
                       TDateTime from, TDateTime to) {
        AddRow(zuordn, {{"K_IK", str(ik)},
                        {"Z_ART", str(art)},
                        {"IK_PARTNER", str(partner)},
                        {"Z_LEGRUPPE", str("06")},
                        {"IK_ABRECHNUNGSTELLE", str("")},
                        {"Z_LEART", str(leart)},
                        {"Z_DATENLIEFERART", str(lieferart)},
                        {"Z_MEDIUM", str(std::string(art) == "09" ? "2" : "1")},
                        {"Z_LESTANDORTLAND", str(land)},
                        {"Z_LESTANDORTBEZIRK", str(bezirk)},
                        {"ISDATEN", flag(std::string(art) == "02" || std::string(art) == "03")},
                        {"ISPAPIER", flag(std::string(art) == "09")},
                        {"Z_VALIDFROM", Value(from)},
                        {"Z_VALIDTO", to.IsNull() ? none : Value(to)}});
        ++sum.links;
    };
    // Mostly open-ended; some links expired, a few start in the future.
    auto validity = [&](TDateTime& from, TDateTime& to) {
        size_t r = rng.Below(100);
        from = start;
        to = TDateTime();
        if (r < 10) {
            to = EncodeDate(2015 + int(rng.Below(8)), 12, 31);
        } else if (r < 13) {
            from = EncodeDate(2090 + int(rng.Below(9)), 1, 1);
        }
    };

    // Data acceptance offices: logical recipients refer to themselves ("03")
    // and to one computing centre per state or for every state ("02").
    for (const std::string& ik : physical) {
        std::string name = "Rechenzentrum " + rng.Pick(kTowns);
        addBase(ik, "RZ " + ik.substr(5), "03", "", name, "Datenübermittlung", false, false, true, false, false, "",
                "", "", Value());
        addAddresses(ik);
        addMail(ik, name + " " + ik.substr(5));
    }
    for (const std::string& ik : logical) {
        std::string name = "Datenannahmestelle " + rng.Pick(kTowns);
        addBase(ik, "DAS " + ik.substr(5), "02", "", name, "Annahme von Abrechnungsdaten", false, true, false, false,
                false, "", "", "", rng.Percent(50) ? str(IntToStr(1000 + int64_t(rng.Below(5000)))) : str(""));
        addAddresses(ik);
        if (rng.Percent(50)) addMail(ik, name + " " + ik.substr(5));
        addLink(ik, "03", ik, "99", "99", "99", "99", start, TDateTime());
        int specific = int(rng.Below(4));
        for (int i = 0; i < specific; ++i) {
            const FederalState& st = rng.Pick(States());
            addLink(ik, "02", rng.Pick(physical), st.code, rng.Percent(50) ? std::string(rng.Pick(st.districts)) : "99",
                    "99", "99", start, TDateTime());
        }
        addLink(ik, "02", rng.Pick(physical), "99", "99", "00", "99", start, TDateTime());
    }
    for (const std::string& ik : paper) {
        std::string name = "Belegannahme " + rng.Pick(kTowns);
        addBase(ik, "Papier " + ik.substr(5), "04", "", name, "Papierannahmestelle", false, false, false, true, false,
                "", "", "", Value());
        addAddresses(ik);
    }

    // Cost bearers: a "99" data link plus state- and district-specific ones,
    // some expired or future; paper links for several provider and delivery
    // kinds; now and then a physical link of their own.
    static const std::vector<std::string> leArts = {"00", "40", "41", "46", "99"};
    static const std::vector<std::string> lieferArts = {"21", "24", "26", "27", "28", "99", "07", ""};
    for (size_t i = 0; i < sum.costBearers.size(); ++i) {
        const std::string& ik = sum.costBearers[i];
        std::string kind = rng.Pick(kInsurerKinds);
        std::string name = kind + " " + rng.Pick(kTrades) + " " + rng.Pick(kTowns);
        std::string datenIK = rng.Percent(5) ? rng.Pick(logical) : (rng.Percent(10) ? "*" : "");
        addBase(ik, Utf8Left(name, 40), "01", rng.Pick(kKassenArten), Utf8Left(name, 40), "Die Gesundheitskasse", true,
                false, false, false, false, datenIK, rng.Percent(3) ? rng.Pick(physical) : "", "", Value());
        addAddresses(ik);
        if (rng.Percent(20)) addMail(ik, name + " " + ik.substr(5));
        TDateTime from, to;
        int states = int(rng.Below(17));
        std::set<std::string> used;
        for (int s = 0; s < states; ++s) {
            const FederalState& st = rng.Pick(States());
            if (!used.insert(st.code).second) continue;
            validity(from, to);
            addLink(ik, "03", rng.Pick(logical), st.code, "99", "99", "99", from, to);
            if (rng.Percent(30)) {
                validity(from, to);
                addLink(ik, "03", rng.Pick(logical), st.code, rng.Pick(st.districts), "99", "99", from, to);
            }
        }
        addLink(ik, "03", rng.Pick(logical), "99", "99", "99", "99", start, TDateTime());
        int papers = 2 + int(rng.Below(3));
        for (int p = 0; p < papers; ++p) {
            validity(from, to);
            const FederalState& st = rng.Pick(States());
            addLink(ik, "09", rng.Pick(paper), rng.Percent(60) ? "99" : st.code, "99", rng.Pick(leArts),
                    rng.Pick(lieferArts), from, to);
        }
        if (rng.Percent(30)) addLink(ik, "02", rng.Pick(physical), "99", "99", "99", "99", start, TDateTime());
    }

    // IKs of the insurance cards: each refers to a cost bearer, now and then
    // through another referral; they carry the data and paper links of
    // their cost bearer as well, as the delivered files do.
    for (size_t i = 0; i < sum.referrals.size(); ++i) {
        const std::string& ik = sum.referrals[i];
        bool viaReferral = i > 0 && rng.Percent(20);
        const std::string& kt = sum.costBearers[rng.Below(sum.costBearers.size())];
        std::string target = viaReferral ? sum.referrals[rng.Below(i)] : kt;
        std::string name = rng.Pick(kInsurerKinds) + " Geschäftsstelle " + rng.Pick(kTowns);
        addBase(ik, Utf8Left(name, 40), "05", rng.Pick(kKassenArten), Utf8Left(name, 40), "", false, false, false,
                false, true, "", "", viaReferral ? "" : kt, Value());
        if (rng.Percent(30)) addAddresses(ik);
        addLink(ik, "01", target, "99", "99", "99", "99", start, TDateTime());
        TDateTime from, to;
        int n = 2 + int(rng.Below(3));
        for (int k = 0; k < n; ++k) {
            validity(from, to);
            const FederalState& st = rng.Pick(States());
            addLink(ik, "03", rng.Pick(logical), k == 0 ? "99" : st.code, "99", "99", "99", from, to);
        }
        addLink(ik, "09", rng.Pick(paper), "99", "99", "99", "99", start, TDateTime());
    }

    for (const TKTKeyEntry& st : FederalStateKeys()) {
        AddRow(key, {{"KTS_SNAME", str("KT804")}, {"KTS_KEY", str(st.Key)}, {"KTS_TEXT", str(st.Text)}});
        ++sum.keys;
    }

    ForceDirectories(dir);
    base.SaveToFile(PathJoin(dir, "KT_BASE.XML"));
    zuordn.SaveToFile(PathJoin(dir, "KT_ZUORDN.XML"));
    anschrift.SaveToFile(PathJoin(dir, "KT_ANSCHRIFT.XML"));
    transfer.SaveToFile(PathJoin(dir, "KT_TRANSFER.XML"));
    key.SaveToFile(PathJoin(dir, "KT_KEY.XML"));
    return sum;
}

} // namespace brenvo
