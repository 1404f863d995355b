#include "costbearer/U_SGBKTStore.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

// A column position remembered between calls. It is checked against the
// table's column on every use, so a table that was reloaded with other
// columns (or closed) is resolved again instead of read at a stale position.
struct CachedColumn {
    std::string_view name;
    int index = -1;
    uint64_t columns = 0;   // the table's ColumnsId when `index` was found
};

int Resolve(const Table& t, CachedColumn& c) {
    const uint64_t id = t.ColumnsId();
    if (c.columns == id) return c.index;
    c.index = t.FieldIndex(c.name);
    c.columns = id;
    return c.index;
}

const std::string kEmpty;

// The text of a column of the current row without copying; a null value and
// a missing column read as "". Non-text columns are converted into `scratch`.
std::string_view CellText(const Table& t, CachedColumn& c, std::string& scratch) {
    int i = Resolve(t, c);
    if (i < 0) return kEmpty;
    const Value& v = t.GetValue(i);
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (IsNullValue(v)) return kEmpty;
    scratch = t.AsString(i);
    return scratch;
}

std::string CellString(const Table& t, CachedColumn& c) {
    std::string scratch;
    return std::string(CellText(t, c, scratch));
}

// A validity date of the current row; null when empty. Files of other
// installations may carry the dates as text.
TDateTime CellDate(const Table& t, CachedColumn& c) {
    int i = Resolve(t, c);
    if (i < 0) return TDateTime();
    const Value& v = t.GetValue(i);
    if (const auto* d = std::get_if<TDateTime>(&v)) return *d;
    if (const auto* s = std::get_if<std::string>(&v)) {
        std::string text = Trim(*s);
        if (text.empty()) return TDateTime();
        if (auto d = ParseDDMMYYYY(text)) return *d;
        if (auto d = ParseYYYYMMDD(text.substr(0, 8))) return *d;
    }
    return TDateTime();
}

// Valid on `day` (midnight): the start is null or not later, the end is null
// (open-ended) or not earlier.
bool ValidOn(TDateTime from, TDateTime to, TDateTime day) {
    if (!from.IsNull() && from.Value() > day.Value()) return false;
    if (!to.IsNull() && to.Value() < day.Value()) return false;
    return true;
}

// The positions of a table's index columns, parsed again only when the
// table's sort order changed.
struct IndexColumns {
    std::string names;
    std::vector<int> cols;
    bool valid = false;
    std::vector<Value> lead;   // the search values, kept to save allocations
};

const std::vector<int>& IndexOf(const Table& t, IndexColumns& ic) {
    const std::string& names = t.IndexFieldNames();
    if (!ic.valid || ic.names != names) {
        ic.cols.clear();
        for (const std::string& part : Split(names, ';')) {
            std::string n = Trim(part);
            if (!n.empty()) ic.cols.push_back(t.FieldIndex(n));
        }
        ic.names = names;
        ic.valid = true;
    }
    return ic.cols;
}

struct Key {
    CachedColumn* col;
    std::string_view value;
};

// Makes current the first visible row, in the table's current order, whose
// key columns hold the given texts: the row Locate would find. The leading
// index columns that are key columns are found by binary search (FindKey);
// from there the rows are visited while those columns still hold their
// values, until one matches the other key columns too. Only when the index
// does not start with a key column is the search left to Locate.
template <size_t N>
bool Seek(Table& t, IndexColumns& ic, const std::array<Key, N>& keys) {
    if (!t.Active()) return false;
    const std::vector<int>& index = IndexOf(t, ic);
    std::array<int, N> pos{};
    for (size_t i = 0; i < N; ++i) pos[i] = Resolve(t, *keys[i].col);
    std::vector<Value>& lead = ic.lead;
    lead.clear();
    std::array<bool, N> leading{};
    for (int c : index) {
        size_t k = 0;
        while (k < N && (pos[k] != c || pos[k] < 0)) ++k;
        if (k == N || leading[k]) break;
        leading[k] = true;
        lead.emplace_back(std::string(keys[k].value));
    }
    if (lead.empty()) {
        std::string names;
        std::vector<Value> values;
        for (const Key& k : keys) {
            names += (names.empty() ? "" : ";") + std::string(k.col->name);
            values.emplace_back(std::string(k.value));
        }
        return t.Locate(names, values);
    }
    if (!t.FindKey(lead)) return false;
    std::string scratch;
    for (; !t.Eof(); t.Next()) {
        bool all = true;
        for (size_t i = 0; i < N; ++i) {
            if (CellText(t, *keys[i].col, scratch) == keys[i].value) continue;
            if (leading[i]) return false;   // past the rows with these leading values
            all = false;
        }
        if (all) return true;
    }
    return false;
}

// The length in characters; a text of only ASCII bytes is counted without decoding.
size_t Chars(std::string_view s) {
    for (char ch : s)
        if (static_cast<unsigned char>(ch) >= 0x80) return Utf8Length(s);
    return s.size();
}

// `s` cut to the capacity in place. No more bytes than the capacity: no
// more characters either.
void Cut(std::string& s, size_t capacity) {
    if (s.size() > capacity && Chars(s) > capacity) s.resize(Utf8LeftBytes(s, capacity));
}

// `s` cut to the capacity into `out`, reusing its memory.
void CutInto(std::string& out, std::string_view s, size_t capacity) {
    out.assign(s);
    Cut(out, capacity);
}

bool Visited(const std::vector<std::string>& seen, const std::string& ik) {
    return std::find(seen.begin(), seen.end(), ik) != seen.end();
}

} // namespace

struct TSGBKTStore::BaseRow {
    bool found = false;
    std::string kurzBez, isKT, datenIK, datenPhysIK, papierIK;
};

// Answers remembered while one GetKTInfo runs, which asks for the same IKs
// several times. Nothing in the tables changes meanwhile except KT_ZUORDN's
// sort order, which only GetDatenPhysDirect changes; a link scan's answer
// belongs to the order it was found in (counted by `zuordnSorts`).
struct TSGBKTStore::Memo {
    // A fixed number of entries, of which the first `baseUsed` hold answers
    // of this call: a reference to one stays valid for the whole call, and
    // the entries' strings keep their memory from call to call.
    static constexpr size_t kBaseEntries = 16;
    std::vector<std::pair<std::string, BaseRow>> base = std::vector<std::pair<std::string, BaseRow>>(kBaseEntries);
    size_t baseUsed = 0;
    struct Scan {
        std::string ik, art, land, bezirk;
        int sorts;
        double day;
        LinkFilter filter;
        std::string result;
    };
    std::vector<Scan> scans;
    int zuordnSorts = 0;
    struct Address {
        std::string ik, kind, text;
    };
    std::vector<Address> addresses;   // the first `addressesUsed` hold answers of this call
    size_t addressesUsed = 0;
};

struct TSGBKTStore::Columns {
    BaseRow scratch;
    std::string address;   // an address asked for outside GetKTInfo
    IndexColumns baseIndex, zuordnIndex, anschriftIndex, transferIndex;
    // KT_BASE
    CachedColumn bIK{"K_IK"}, bKurzBez{"KT_KURZBEZ"}, bIsKT{"ISKT"}, bDatenIK{"DATEN_IK"},
        bDatenPhysIK{"DATENPHYS_IK"}, bPapierIK{"PAPIER_IK"};
    // KT_ZUORDN
    CachedColumn zIK{"K_IK"}, zArt{"Z_ART"}, zPartner{"IK_PARTNER"}, zLand{"Z_LESTANDORTLAND"},
        zBezirk{"Z_LESTANDORTBEZIRK"}, zLeArt{"Z_LEART"}, zLieferArt{"Z_DATENLIEFERART"}, zFrom{"Z_VALIDFROM"},
        zTo{"Z_VALIDTO"};
    // KT_ANSCHRIFT
    CachedColumn aIK{"K_IK"}, aArt{"ANS_ART"}, aPlz{"ANS_PLZ"}, aOrt{"ANS_ORT"}, aStrasse{"ANS_STRASSE"};
    // KT_TRANSFER
    CachedColumn tIK{"K_IK"}, tProtokoll{"DFU_PROTOKOLL"}, tKanal{"DFU_KANAL"}, tFrom{"DFU_VALIDFROM"},
        tTo{"DFU_VALIDTO"}, tDakota{"DAKOTA"};
};

TSGBKTStore::TSGBKTStore(const TSystem& system) : system_(system), cols_(std::make_unique<Columns>()) {}

TSGBKTStore::~TSGBKTStore() = default;

// ---------------------------------------------------------------------------
// Loading, orders, saving

namespace {
void LoadInto(Table& t, const std::string& fileName, const char* order) {
    t.LoadFromFile(fileName);
    if (!SameText(t.IndexFieldNames(), order)) t.SetIndexFieldNames(order);
}

void SetOrder(Table& t, const char* order) {
    if (!t.Active()) return;
    if (t.Filtered()) t.SetFiltered(false);
    if (!SameText(t.IndexFieldNames(), order)) t.SetIndexFieldNames(order);
}
} // namespace

void TSGBKTStore::LoadKTBase(const std::string& fileName) {
    LoadInto(base_, fileName, KTBaseOrder);
    baseFile_ = fileName;
    modified_ = false;   // the table holds what its file holds
}

void TSGBKTStore::LoadKTZuordn(const std::string& fileName) { LoadInto(zuordn_, fileName, KTZuordnLoadOrder); }

void TSGBKTStore::LoadKTAnschrift(const std::string& fileName) {
    LoadInto(anschrift_, fileName, KTAnschriftOrder);
    anschriftFile_ = fileName;
}

void TSGBKTStore::LoadKTTransfer(const std::string& fileName) {
    LoadInto(transfer_, fileName, KTTransferOrder);
    transferFile_ = fileName;
}

void TSGBKTStore::LoadKTKey(const std::string& fileName) {
    LoadInto(key_, fileName, KTKeyOrder);
    keyFile_ = fileName;
}

void TSGBKTStore::ResetIndexes() {
    SetOrder(base_, KTBaseOrder);
    SetOrder(zuordn_, KTZuordnResetOrder);
    SetOrder(anschrift_, KTAnschriftOrder);
    SetOrder(transfer_, KTTransferOrder);
}

int64_t TSGBKTStore::NextDtaRef(const std::string& ik, int64_t defaultValue) {
    if (!base_.Active() || !base_.HasField("DTAREF")) return defaultValue;
    if (!LocateBase(ik)) return -1;
    std::optional<int64_t> stored = ParseInt(base_.AsString("DTAREF"));
    int64_t n = (stored ? *stored : 1000) + 1;
    base_.Edit();
    base_.SetString("DTAREF", IntToStr(n));
    base_.Post();
    base_.MergeChangeLog();
    modified_ = true;
    return n;
}

bool TSGBKTStore::RaiseDtaRef(const std::string& ik, int64_t value) {
    if (!base_.Active() || !base_.HasField("DTAREF") || !LocateBase(ik)) return false;
    std::optional<int64_t> stored = ParseInt(base_.AsString("DTAREF"));
    if (stored && *stored >= value) return true;
    base_.Edit();
    base_.SetString("DTAREF", IntToStr(value));
    base_.Post();
    base_.MergeChangeLog();
    modified_ = true;
    return true;
}

void TSGBKTStore::SaveKTBase(bool force) {
    if (!(force || modified_) || !base_.Active()) return;
    // Written first, then the change log merged: a save that fails leaves
    // the changes pending.
    base_.SaveToFile(baseFile_.empty() ? base_.FileName() : baseFile_);
    modified_ = false;
}

void TSGBKTStore::EnsureDtaRefField() {
    if (AddFieldToXmlFile(base_, "DTAREF", baseFile_, DtaRefFieldElement)) modified_ = false;
}

namespace {
// Whether the FIELD definitions of a data-packet text name the column
// (attrname compared ignoring case).
bool DeclaresField(std::string_view text, std::string_view column) {
    size_t end = text.find("<ROWDATA");
    std::string_view meta = text.substr(0, end);
    static constexpr std::string_view kAttr = "attrname=";
    for (size_t p = meta.find(kAttr); p != std::string_view::npos; p = meta.find(kAttr, p + 1)) {
        size_t q = p + kAttr.size();
        if (q >= meta.size() || (meta[q] != '"' && meta[q] != '\'')) continue;
        char quote = meta[q];
        size_t close = meta.find(quote, q + 1);
        if (close == std::string_view::npos) break;
        if (SameText(meta.substr(q + 1, close - q - 1), column)) return true;
    }
    return false;
}
} // namespace

bool TSGBKTStore::AddFieldToXmlFile(Table& table, const std::string& columnName, const std::string& fileName,
                                    const std::string& fieldElement) {
    if (table.Active() && table.HasField(columnName)) return false;
    // Read before closing: a file that cannot be read leaves the table open.
    std::string text = ReadFileBytes(fileName);
    // A file that already declares the column (patched earlier in this run,
    // while the table stayed closed) must not get it twice: a duplicate
    // column would make the file unreadable.
    if (DeclaresField(text, columnName)) return false;
    table.Close();
    size_t p = text.find("</FIELDS>");
    if (p != std::string::npos) text.insert(p, fieldElement);
    AtomicWriteFile(fileName, text);
    return true;
}

// ---------------------------------------------------------------------------
// Single-table lookups

bool TSGBKTStore::LocateBase(const std::string& ik) {
    return Seek(base_, cols_->baseIndex, std::array<Key, 1>{{{&cols_->bIK, ik}}});
}

const TSGBKTStore::BaseRow& TSGBKTStore::Base(const std::string& ik) {
    BaseRow* r = &cols_->scratch;
    if (memo_) {
        for (size_t i = 0; i < memo_->baseUsed; ++i)
            if (memo_->base[i].first == ik) return memo_->base[i].second;
        if (memo_->baseUsed < memo_->base.size()) {
            auto& entry = memo_->base[memo_->baseUsed++];
            entry.first = ik;
            r = &entry.second;
        }
    }
    // Emptied first: a failing search leaves an empty answer, as no row would.
    Columns& c = *cols_;
    const std::pair<CachedColumn*, std::string*> cells[] = {{&c.bKurzBez, &r->kurzBez},
                                                            {&c.bIsKT, &r->isKT},
                                                            {&c.bDatenIK, &r->datenIK},
                                                            {&c.bDatenPhysIK, &r->datenPhysIK},
                                                            {&c.bPapierIK, &r->papierIK}};
    r->found = false;
    for (auto [column, text] : cells) text->clear();
    if (LocateBase(ik)) {
        r->found = true;
        std::string scratch;
        for (auto [column, text] : cells) text->assign(CellText(base_, *column, scratch));
    }
    return *r;
}

void TSGBKTStore::ValidateIK(const std::string& ik, const std::string& context) {
    if (Chars(ik) != 9) throw Error("TSGBKTStore ValidateIK IK nicht Laenge 9 ");
    if (!Base(ik).found) throw Error("TSGBKTStore IK nicht validiert " + ik + " " + context);
}

namespace {
constexpr std::string_view kKeineAngaben = "*** keine Angaben ***";
}  // namespace

std::string TSGBKTStore::GetIKPretty(const std::string& ik, bool raiseOnError) {
    if (raiseOnError && Chars(ik) != 9) throw Error("TSGBKTStore GetIKPretty IK nicht Laenge 9 ");
    const BaseRow& r = Base(ik);
    if (r.found) return r.kurzBez;
    if (raiseOnError) throw Error("TSGBKTStore IK nicht vorhanden IK=" + ik);
    return std::string(kKeineAngaben);
}

std::string_view TSGBKTStore::PrettyRef(const std::string& ik) {
    const BaseRow& r = Base(ik);
    return r.found ? std::string_view(r.kurzBez) : kKeineAngaben;
}

std::string TSGBKTStore::GetKurzBez(const std::string& ik) {
    const BaseRow& r = Base(ik);
    return r.kurzBez.empty() ? "***" : r.kurzBez;
}

bool TSGBKTStore::IsKostentraeger(const std::string& ik) {
    const BaseRow& r = Base(ik);
    return r.found && r.isKT == "T";
}

std::string TSGBKTStore::GetBaseDatenIK(const std::string& ik) {
    const BaseRow& r = Base(ik);
    return r.datenIK == "*" ? "" : r.datenIK;
}

std::string TSGBKTStore::GetPapierDirect(const std::string& ik) { return Base(ik).papierIK; }

// ---------------------------------------------------------------------------
// Link scans over KT_ZUORDN

std::string TSGBKTStore::ScanLinks(const std::string& ik, const char* art, const std::string& land,
                                   const std::string& bezirk, TDateTime date, LinkFilter filter) {
    const TDateTime day = date.DateOnly();
    if (memo_) {
        for (const Memo::Scan& m : memo_->scans)
            if (m.ik == ik && m.art == art && m.land == land && m.bezirk == bezirk && m.day == day.Value() &&
                m.filter == filter && m.sorts == memo_->zuordnSorts)
                return m.result;
        std::string result = ScanLinksUncached(ik, art, land, bezirk, day, filter);
        memo_->scans.push_back({ik, art, land, bezirk, memo_->zuordnSorts, day.Value(), filter, result});
        return result;
    }
    return ScanLinksUncached(ik, art, land, bezirk, day, filter);
}

std::string TSGBKTStore::ScanLinksUncached(const std::string& ik, const char* art, const std::string& land,
                                           const std::string& bezirk, TDateTime day, LinkFilter filter) {
    Columns& c = *cols_;
    if (!Seek(zuordn_, c.zuordnIndex, std::array<Key, 2>{{{&c.zIK, ik}, {&c.zArt, art}}})) return "";
    std::string s1, s2;
    for (; !zuordn_.Eof(); zuordn_.Next()) {
        if (CellText(zuordn_, c.zIK, s1) != ik || CellText(zuordn_, c.zArt, s2) != art) break;
        std::string_view rowLand = CellText(zuordn_, c.zLand, s1);
        if (!land.empty() && rowLand != land && rowLand != "99") continue;
        std::string_view rowBezirk = CellText(zuordn_, c.zBezirk, s1);
        if (!bezirk.empty() && rowBezirk != bezirk && rowBezirk != "99") continue;
        if (!ValidOn(CellDate(zuordn_, c.zFrom), CellDate(zuordn_, c.zTo), day)) continue;
        if (filter == LinkFilter::Paper) {
            // Paper offices only for the delivery kinds and provider kinds of
            // patient transport.
            std::string_view lieferArt = CellText(zuordn_, c.zLieferArt, s1);
            if (!(lieferArt == "99" ||
                  (!lieferArt.empty() && std::string_view(" 21 24 26 27 28 ").find(lieferArt) != std::string_view::npos)))
                continue;
            std::string_view leArt = CellText(zuordn_, c.zLeArt, s1);
            if (leArt != "00" && leArt != "99" && leArt != "40" && leArt != "46") continue;
        }
        return CellString(zuordn_, c.zPartner);
    }
    return "";
}

std::string TSGBKTStore::FindDatenLink(const std::string& ik, const std::string& land, const std::string& bezirk,
                                       TDateTime date) {
    return ScanLinks(ik, "03", land, bezirk, date, LinkFilter::Plain);
}

std::string TSGBKTStore::GetVerweisIK(const std::string& ik) {
    std::string partner;
    if (Seek(zuordn_, cols_->zuordnIndex, std::array<Key, 2>{{{&cols_->zIK, ik}, {&cols_->zArt, "01"}}}))
        partner = CellString(zuordn_, cols_->zPartner);
    if (partner.empty()) throw Error("TSGBKTStore GetVerweisIK Keine IK zu ermitteln für IK=" + ik);
    ValidateIK(partner, "GetVerweisIK ");
    return partner;
}

std::string TSGBKTStore::GetKostentraegerIK(const std::string& ik) {
    if (IsKostentraeger(ik)) return ik;
    try {
        // Follow the "01" referrals until a cost bearer is reached. A
        // self-referral ends the chain; so does a referral back to any IK
        // already passed (A -> B -> A): such a ring holds no cost bearer,
        // since every IK on it was tested, and ends in the failure below.
        std::vector<std::string> seen{ik};
        std::string c = ik;
        for (;;) {
            std::string p = c;
            c = GetVerweisIK(c);
            if (IsKostentraeger(c)) return c;
            if (c.empty() || c == p || Visited(seen, c)) break;
            seen.push_back(c);
        }
    } catch (const Error&) {
        // the underlying message is replaced by the one below
    }
    throw Error("Kein Kostentraeger gefunden für IK=" + ik);
}

void TSGBKTStore::ValidateVerweis(const std::string& ikFrom, const std::string& ikTo) {
    if (ikFrom == ikTo) return;
    std::string v = GetVerweisIK(ikFrom);
    if (!v.empty() && v != ikTo)
        throw Error("TSGBKTStore ValidateVerweis IKvon=" + ikFrom + " IKnach=" + ikTo + " gefundenes IKnach=" + v);
}

std::string TSGBKTStore::GetDatenIKLog(const std::string& ik, const std::string& land, const std::string& bezirk,
                                       TDateTime date) {
    // The base column ends the search; the found IK's own columns are not
    // consulted.
    std::string r = GetBaseDatenIK(ik);
    if (r.empty()) {
        // Follow the "03" links. A self-link ends the chain at that IK. A
        // link back to an IK passed before (A -> B -> A) ends it too: the
        // result is the last IK reached before the chain would repeat (B).
        std::vector<std::string> seen{ik};
        std::string c = ik;
        for (;;) {
            std::string n = FindDatenLink(c, land, bezirk, date);
            if (n.empty()) break;
            if (n == c) {
                r = n;
                break;
            }
            if (Visited(seen, n)) break;
            r = n;
            c = n;
            seen.push_back(n);
        }
        if (r.empty())
            throw Error("TSGBKTSTore GetDatenIKLog Keine IK zu ermitteln für IK=" + ik + GetIKPretty(ik, true));
    }
    ValidateIK(r, "GetDAtenIKLog ");
    return r;
}

std::string TSGBKTStore::GetDatenPhysDirect(const std::string& ik, const std::string& land,
                                            const std::string& bezirk) {
    const std::string& p = Base(ik).datenPhysIK;
    if (!p.empty()) return p;
    // Ordered by state and district, a row for a specific state or district
    // comes before the "99" row. The order stays for later lookups.
    if (zuordn_.Active() && !SameText(zuordn_.IndexFieldNames(), KTZuordnPhysOrder)) {
        zuordn_.SetIndexFieldNames(KTZuordnPhysOrder);
        if (memo_) ++memo_->zuordnSorts;
    }
    return ScanLinks(ik, "02", land, bezirk, Today(), LinkFilter::Plain);
}

std::string TSGBKTStore::GetDatenIKPhys(const std::string& ik, const std::string& land, const std::string& bezirk,
                                        TDateTime date) {
    std::string p = GetDatenPhysDirect(ik, land, bezirk);
    std::string g;
    if (p.empty()) {
        g = GetDatenIKLog(ik, land, bezirk, date);
        if (!g.empty()) p = GetDatenPhysDirect(g, land, bezirk);
    }
    if (p.empty()) p = g;
    return p;
}

std::string TSGBKTStore::GetPapierIK(const std::string& ik, const std::string& land, const std::string& bezirk,
                                     TDateTime date) {
    std::string p = GetPapierDirect(ik);
    if (!p.empty()) return p;
    p = ScanLinks(ik, "09", land, bezirk, date, LinkFilter::Paper);
    return p.empty() ? ik : p;
}

// ---------------------------------------------------------------------------
// E-mail and addresses

std::string TSGBKTStore::GetEmailAddr(const std::string& ik, bool raiseOnError, bool checkDakota, TDateTime date) {
    Columns& c = *cols_;
    const TDateTime day = date.DateOnly();
    bool found = false;
    std::string s1;
    if (Seek(transfer_, c.transferIndex, std::array<Key, 2>{{{&c.tIK, ik}, {&c.tProtokoll, "070"}}})) {
        for (; !transfer_.Eof(); transfer_.Next()) {
            if (CellText(transfer_, c.tIK, s1) != ik) break;
            if (CellText(transfer_, c.tProtokoll, s1) != "070") continue;
            if (ValidOn(CellDate(transfer_, c.tFrom), CellDate(transfer_, c.tTo), day)) {
                found = true;
                break;
            }
        }
    }
    if (!found) {
        if (raiseOnError) throw Error("TSGBKTSTore GetEmailAddr. Email-Satz nicht gefunden. IK=" + ik);
        return "*** keine Email ***";
    }
    std::string result = Trim(CellText(transfer_, c.tKanal, s1));
    if (checkDakota && raiseOnError && Trim(CellText(transfer_, c.tDakota, s1)) < "2")
        throw Error("TSGBKTSTore GetEmailAddr. Dakota-Satz nicht gefunden. IK=" + ik);
    if (raiseOnError && result.empty()) throw Error("TSGBKTSTore GetEmailAddr. Email-Satz ist leer. IK=" + ik);
    return result;
}

std::string TSGBKTStore::GetAnschrift(const std::string& ik, const std::string& kind) {
    return AnschriftRef(ik, kind);
}

const std::string& TSGBKTStore::AnschriftRef(const std::string& ik, const std::string& kind) {
    if (!memo_) {
        AnschriftInto(ik, kind, cols_->address);
        return cols_->address;
    }
    for (size_t i = 0; i < memo_->addressesUsed; ++i) {
        const Memo::Address& a = memo_->addresses[i];
        if (a.ik == ik && a.kind == kind) return a.text;
    }
    if (memo_->addressesUsed == memo_->addresses.size()) memo_->addresses.emplace_back();
    Memo::Address& a = memo_->addresses[memo_->addressesUsed];
    AnschriftInto(ik, kind, a.text);
    a.ik = ik;
    a.kind = kind;
    ++memo_->addressesUsed;
    return a.text;
}

void TSGBKTStore::AnschriftInto(const std::string& ik, const std::string& kind, std::string& out) {
    // Kind "3" falls back to "2" and then "1", kind "2" to "1".
    std::array<std::string_view, 3> kinds{kind, {}, {}};
    size_t kindCount = 1;
    if (kind == "3") {
        kinds = {"3", "2", "1"};
        kindCount = 3;
    } else if (kind == "2") {
        kinds = {"2", "1", {}};
        kindCount = 2;
    }
    Columns& c = *cols_;
    bool found = false;
    static const std::vector<int> kNoIndex;
    const std::vector<int>& index = anschrift_.Active() ? IndexOf(anschrift_, c.anschriftIndex) : kNoIndex;
    if (!index.empty() && index[0] >= 0 && index[0] == Resolve(anschrift_, c.aIK)) {
        // The index starts with K_IK: one search for the IK's rows, then the
        // first row of each kind among them, as a search per kind would find.
        std::vector<Value>& key = c.anschriftIndex.lead;
        key.assign(1, Value(ik));
        if (anschrift_.FindKey(key)) {
            std::array<int, 3> first{};
            std::string scratch;
            for (; !anschrift_.Eof() && CellText(anschrift_, c.aIK, scratch) == ik; anschrift_.Next()) {
                std::string_view art = CellText(anschrift_, c.aArt, scratch);
                for (size_t k = 0; k < kindCount; ++k)
                    if (first[k] == 0 && art == kinds[k]) first[k] = anschrift_.RecNo();
            }
            for (size_t k = 0; k < kindCount; ++k) {
                if (first[k] == 0) continue;
                anschrift_.SetRecNo(first[k]);
                found = true;
                break;
            }
        }
    } else {
        for (size_t k = 0; k < kindCount && !found; ++k)
            found = Seek(anschrift_, c.anschriftIndex, std::array<Key, 2>{{{&c.aIK, ik}, {&c.aArt, kinds[k]}}});
    }
    if (!found) {
        out = "*** keine Anschrift ***";
        return;
    }
    std::string s1, s2, s3;
    const std::string_view plz = CellText(anschrift_, c.aPlz, s1), ort = CellText(anschrift_, c.aOrt, s2),
                           strasse = CellText(anschrift_, c.aStrasse, s3);
    out.clear();
    out.reserve(plz.size() + ort.size() + strasse.size() + 2);
    out += plz;
    out += ' ';
    out += ort;
    out += ' ';
    out += strasse;
}

// ---------------------------------------------------------------------------
// Resolution of one IK

void TSGBKTStore::GetKTInfo(const std::string& ik, const std::string& land, const std::string& bezirk,
                            TDateTime date, TKTInfo& info) {
    // The memo lives as long as the store, so that its capacity is reused;
    // it is emptied at the start of each (outermost) call.
    Memo* const outer = memo_;
    if (!memo_) {
        if (!memoStore_) memoStore_ = std::make_unique<Memo>();
        memo_ = memoStore_.get();
        memo_->baseUsed = 0;
        memo_->scans.clear();
        memo_->addressesUsed = 0;
        memo_->zuordnSorts = 0;
    }
    struct Restore {
        Memo*& slot;
        Memo* value;
        ~Restore() { slot = value; }
    } restore{memo_, outer};

    info.Clear();
    CutInto(info.IK, ik, TKTInfo::IKCapacity);
    CutInto(info.KTIK, GetKostentraegerIK(ik), TKTInfo::IKCapacity);
    CutInto(info.DatenIKLog, GetDatenIKLog(info.KTIK, land, bezirk, date), TKTInfo::IKCapacity);
    CutInto(info.PapierIK, GetPapierIK(info.KTIK, land, bezirk, date), TKTInfo::IKCapacity);
    CutInto(info.DatenIKPhys, GetDatenIKPhys(info.KTIK, land, bezirk, date), TKTInfo::IKCapacity);
    CutInto(info.Email, GetEmailAddr(info.DatenIKPhys, false, system_.DAKOTA_ANN_CHECK, date), TKTInfo::EmailCapacity);
    auto text = [&](std::string& out, const std::string& which, const std::string& kind) {
        out.assign(PrettyRef(which));
        out += '.';
        out += AnschriftRef(which, kind);
        Cut(out, TKTInfo::TextCapacity);
    };
    const std::string one = "1", three = "3";
    text(info.IKText, info.IK, one);
    text(info.KTText, info.KTIK, one);
    text(info.DatenLogText, info.DatenIKLog, one);
    text(info.DatenPhysText, info.DatenIKPhys, one);
    text(info.PapierText, info.PapierIK, three);
}

TKTInfo TSGBKTStore::GetKTInfo(const std::string& ik, const std::string& land, const std::string& bezirk,
                               TDateTime date) {
    TKTInfo info;
    GetKTInfo(ik, land, bezirk, date, info);
    return info;
}

namespace {
// Remembers where the tables stand and puts them back: the current rows of
// the four lookup tables and KT_BASE's sort order and filter. The filter is
// switched on again only when it was on before: a filter text that the view
// had switched off stays off. Views are not told about the moves in between.
class PositionKeeper {
public:
    PositionKeeper(Table& base, Table& zuordn, Table& anschrift, Table& transfer)
        : tables_{&base, &zuordn, &anschrift, &transfer} {
        for (size_t i = 0; i < tables_.size(); ++i) {
            Table* t = tables_[i];
            if (!t->Active()) continue;
            marks_[i] = t->GetBookmark();
            t->BeginUpdate();
            updating_[i] = true;
        }
        baseOrder_ = base.IndexFieldNames();
        baseFiltered_ = base.Filtered();
    }
    ~PositionKeeper() {
        Table& base = *tables_[0];
        try {
            if (base.Active()) {
                if (base.IndexFieldNames() != baseOrder_) base.SetIndexFieldNames(baseOrder_);
                if (baseFiltered_ && !base.Filtered()) base.SetFiltered(true);
            }
        } catch (const std::exception&) {
            // an order or filter that no longer applies is left off
        }
        for (size_t i = 0; i < tables_.size(); ++i) {
            Table* t = tables_[i];
            if (marks_[i] != 0 && t->Active() && t->BookmarkValid(marks_[i])) t->GotoBookmark(marks_[i]);
            if (updating_[i]) t->EndUpdate();
        }
    }
    PositionKeeper(const PositionKeeper&) = delete;
    PositionKeeper& operator=(const PositionKeeper&) = delete;

private:
    std::array<Table*, 4> tables_;
    std::array<Table::Bookmark, 4> marks_{};
    std::array<bool, 4> updating_{};
    std::string baseOrder_;
    bool baseFiltered_ = false;
};
} // namespace

std::string TSGBKTStore::GetKTReport(const std::string& ik, const std::string& land, const std::string& bezirk,
                                     TDateTime date) {
    PositionKeeper keep(base_, zuordn_, anschrift_, transfer_);
    ResetIndexes();
    TKTInfo info;
    std::vector<std::string> lines;
    try {
        GetKTInfo(ik, land, bezirk, date, info);
        lines.push_back(Format("Für IK %9.9s %s Land=%s Bezirk=%s", {ik, FormatShortDate(date), land, bezirk}));
    } catch (const Error& e) {
        lines.push_back(Format("Für IK %9.9s ", {ik}));
        lines.push_back(Format(" Fehler  :   %s", {std::string(e.what())}));
    }
    lines.push_back(Format(" Vers.Karte  :   %9.9s %-80s", {info.IK, info.IKText}));
    lines.push_back(Format(" Kostenträger:   %9.9s %-80s", {info.KTIK, info.KTText}));
    lines.push_back(Format(" Daten logisch:  %9.9s %-80s", {info.DatenIKLog, info.DatenLogText}));
    lines.push_back(Format(" Daten physisch: %9.9s %-80s ", {info.DatenIKPhys, info.DatenPhysText}));
    lines.push_back(Format("   Email          %-40.40s ", {info.Email}));
    lines.push_back(Format(" Papier:         %9.9s %-80s ", {info.PapierIK, info.PapierText}));
    return Join(lines, "\r\n");
}

TKTPrintAddresses TSGBKTStore::GetPrintAddresses(const std::string& ik, const std::string& land,
                                                 const std::string& bezirk, TDateTime date) {
    PositionKeeper keep(base_, zuordn_, anschrift_, transfer_);
    ResetIndexes();
    TKTPrintAddresses out;
    out.PapierIK = GetPapierIK(ik, land, bezirk, date);
    out.Kostentraeger = PostalAddress(ik);
    out.Papier = PostalAddress(out.PapierIK);
    return out;
}

TKTPostalAddress TSGBKTStore::PostalAddress(const std::string& ik) {
    TKTPostalAddress a;
    const BaseRow& base = Base(ik);
    a.Found = base.found;
    a.KurzBez = base.kurzBez;
    Columns& c = *cols_;
    for (const char* kind : {"2", "1"}) {
        if (!Seek(anschrift_, c.anschriftIndex, std::array<Key, 2>{{{&c.aIK, ik}, {&c.aArt, kind}}})) continue;
        std::string scratch;
        a.Art = kind;
        a.Strasse = CellText(anschrift_, c.aStrasse, scratch);
        a.Plz = CellText(anschrift_, c.aPlz, scratch);
        a.Ort = CellText(anschrift_, c.aOrt, scratch);
        break;
    }
    return a;
}

} // namespace brenvo
