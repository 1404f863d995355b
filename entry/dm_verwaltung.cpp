#include "dm_verwaltung.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

constexpr const char* kTarifeOrder = "Tarifbez";
constexpr const char* kTarifdetailOrder = "Art;Tarif";
constexpr const char* kAdressenOrder = "strasse;plz;ort";
constexpr const char* kVersicherteOrder = "Nachname;Vorname";

FieldDef I4(const char* name) { return FieldDef::Int(name).WithXmlType("i4"); }
FieldDef R8(const char* name) { return FieldDef::Flt(name).WithXmlType("r8"); }
FieldDef Day(const char* name) { return FieldDef::Date(name).WithXmlType("date"); }

const FieldDef* FindField(const std::vector<FieldDef>& fields, std::string_view name) {
    for (const auto& f : fields)
        if (SameText(f.name, name)) return &f;
    return nullptr;
}

// The columns of a file, with the columns of the layout that it lacks added
// at the end (nested tables alike). Sets `missing` when anything was added.
std::vector<FieldDef> WithMissingColumns(const std::vector<FieldDef>& fileFields, const std::vector<FieldDef>& layout,
                                         bool& missing) {
    std::vector<FieldDef> out;
    for (const auto& f : fileFields) {
        FieldDef g = f;
        if (f.type == FieldType::Nested)
            if (const FieldDef* l = FindField(layout, f.name); l && l->type == FieldType::Nested)
                g.nested = WithMissingColumns(f.nested, l->nested, missing);
        out.push_back(std::move(g));
    }
    for (const auto& l : layout) {
        if (!FindField(fileFields, l.name)) {
            out.push_back(l);
            missing = true;
        }
    }
    return out;
}

// Copies every row of src (in its current order) into dst, whose columns
// include all of src's.
void CopyRows(Table& src, Table& dst) {
    for (src.First(); !src.Eof(); src.Next()) {
        dst.Append();
        for (int i = 0; i < src.FieldCount(); ++i) {
            const FieldDef& f = src.Field(i);
            if (f.type == FieldType::Nested)
                CopyRows(src.Nested(f.name), dst.Nested(f.name));
            else
                dst.SetValue(f.name, src.GetValue(i));
        }
        dst.Post();
    }
}

// Runs f over every row of t (the filter switched off) without disturbing
// the views: no events while it runs, the current row restored afterwards.
// Only in Browse state.
template <class F>
void ForEachRow(Table& t, F&& f) {
    Table::Bookmark current = t.GetBookmark();
    bool filtered = t.Filtered();
    t.BeginUpdate();
    try {
        if (filtered) t.SetFiltered(false);
        for (t.First(); !t.Eof(); t.Next()) f(t);
        if (filtered) t.SetFiltered(true);
        if (current) t.GotoBookmark(current);
    } catch (...) {
        t.EndUpdate();
        throw;
    }
    t.EndUpdate();
}

} // namespace

// What the indexes know about the state of the tables they were built from.
// Shared with the table listeners, which mark an index stale when its table
// changes.
struct TdmVerwaltung::Watch {
    bool suppress = false;   // events caused by the module itself

    bool kindsValid = false;
    std::unordered_map<std::string, PositionKind> kinds;
    // The nested position tables already watched, by the bookmark of their tariff.
    std::unordered_map<Table::Bookmark, Table*> watchedPositions;

    bool prefixesValid = false;
    std::vector<std::string> prefixes;   // Nachname of every template in upper case, sorted
};

TdmVerwaltung::TdmVerwaltung(std::string stammdatenDir) : dir_(std::move(stammdatenDir)), watch_(std::make_shared<Watch>()) {
    std::shared_ptr<Watch> w = watch_;
    tarife_.Subscribe([this, w](TableEvent ev, Table::Bookmark b) {
        if (w->suppress || ev == TableEvent::Scrolled) return;
        w->kindsValid = false;
        if (ev == TableEvent::Reset) w->watchedPositions.clear();   // rows may have been replaced
        if (ev == TableEvent::RowDeleted) w->watchedPositions.erase(b);
        // A new tariff's positions follow the order of all positions.
        if (ev == TableEvent::RowInserted && tarife_.GetBookmark() == b) {
            w->suppress = true;
            try {
                tarife_.Nested(kTarifdetail).SetIndexFieldNames(kTarifdetailOrder);
            } catch (...) {
            }
            w->suppress = false;
        }
    });
    versicherte_.Subscribe([w](TableEvent ev, Table::Bookmark) {
        if (ev != TableEvent::Scrolled) w->prefixesValid = false;
    });
}

TdmVerwaltung::~TdmVerwaltung() = default;

std::string TdmVerwaltung::TarifeFile() const { return PathJoin(dir_, "tarife.xml"); }
std::string TdmVerwaltung::AdressenFile() const { return PathJoin(dir_, "Adressen.xml"); }
std::string TdmVerwaltung::VersicherteFile() const { return PathJoin(dir_, "Versicherte.xml"); }
std::string TdmVerwaltung::SeqFile() const { return PathJoin(dir_, "SEQ.xml"); }

// ----------------------------------------------------------------- layouts

std::vector<FieldDef> TdmVerwaltung::TarifdetailFields() {
    return {FieldDef::Str("Detailbez", 80), FieldDef::Str("Tarif", 7), FieldDef::Str("PosNum", 10), I4("EPreis"),
            FieldDef::Str("Art", 1),        R8("Ust"),                  R8("PCT_Abschlag"),           R8("freikm")};
}

std::vector<FieldDef> TdmVerwaltung::TarifeFields() {
    return {FieldDef::Str("Tarifbez", 80), FieldDef::NestedF(kTarifdetail, TarifdetailFields())};
}

std::vector<FieldDef> TdmVerwaltung::AdressenFields() {
    return {FieldDef::Str("strasse", 30), FieldDef::Str("plz", 7), FieldDef::Str("ort", 25), FieldDef::Str("bem", 180)};
}

std::vector<FieldDef> TdmVerwaltung::VersicherteFields() {
    return {I4("AbrFallID"),
            FieldDef::Str("IKPat", 9),
            FieldDef::Str("IKLE", 9),
            FieldDef::Str("LENAME", 32),
            FieldDef::Str("VersNum", 12),
            FieldDef::Str("Status", 5),
            FieldDef::Str("VONum", 10),
            FieldDef::Str("Nachname", 47),
            FieldDef::Str("Vorname", 30),
            Day("Geb"),
            FieldDef::Str("Strasse", 30),
            FieldDef::Str("Plz", 7),
            FieldDef::Str("Ort", 25),
            FieldDef::Str("ArztN", 9),
            FieldDef::Str("BSN", 9),
            Day("VODatum"),
            FieldDef::Str("ZuzaKennz", 1),
            FieldDef::Str("Unfall", 1),
            FieldDef::Str("BVG", 1),
            FieldDef::Str("GenZeich", 12),
            Day("GenDatum"),
            FieldDef::Str("bem", 180),
            FieldDef::Str("ZStrasse", 30),
            FieldDef::Str("ZPlz", 7),
            FieldDef::Str("ZOrt", 25)};
}

std::vector<FieldDef> TdmVerwaltung::SeqFields() {
    return {I4("RechID"), I4("SaRechNr"), I4("ARechID"), I4("AbrFallID"), I4("VONum"), I4("LeistID"), I4("MEINEID")};
}

// ------------------------------------------------------- opening and writing

void TdmVerwaltung::Open(Table& t, const std::string& path, const std::vector<FieldDef>& layout) {
    if (t.Active()) return;
    if (!FileExists(path)) {
        t.CreateDataSet(layout);
        return;
    }
    t.LoadFromFile(path);
    bool missing = false;
    std::vector<FieldDef> fields = WithMissingColumns(t.Fields(), layout, missing);
    if (!missing) return;
    // A file of an older or foreign layout: the missing columns are added
    // empty, the rows keep the order of the file.
    try {
        auto src = t.Clone();
        src->SetFiltered(false);
        src->SetIndexFieldNames("");
        Table conformed(std::move(fields));
        CopyRows(*src, conformed);
        t.LoadFromXml(conformed.SaveToXml(), path);
    } catch (...) {
        t.Close();
        throw;
    }
}

void TdmVerwaltung::Flush(Table& t, const std::string& path, const std::vector<FieldDef>& layout) {
    if (!t.Active()) return;
    if (t.GetState() == Table::State::Edit || t.GetState() == Table::State::Insert) t.Post();
    if (!t.HasChanges()) return;
    t.SaveToFile(path);
    t.Close();
    Open(t, path, layout);
}

void TdmVerwaltung::OpenTarife() {
    if (tarife_.Active()) return;
    Open(tarife_, TarifeFile(), TarifeFields());
    OrderTarife();
}

void TdmVerwaltung::OrderTarife() {
    tarife_.SetIndexFieldNames(kTarifeOrder);
    watch_->suppress = true;
    try {
        ForEachRow(tarife_, [](Table& t) { t.Nested(kTarifdetail).SetIndexFieldNames(kTarifdetailOrder); });
    } catch (...) {
        watch_->suppress = false;
        throw;
    }
    watch_->suppress = false;
    watch_->kindsValid = false;
    watch_->watchedPositions.clear();
}

void TdmVerwaltung::RestoreOrders() {
    if (tarife_.Active()) OrderTarife();
    if (adressen_.Active()) adressen_.SetIndexFieldNames(kAdressenOrder);
    if (versicherte_.Active()) versicherte_.SetIndexFieldNames(kVersicherteOrder);
}

void TdmVerwaltung::SaveTarife() {
    if (!tarife_.Active() || !tarife_.HasChanges()) return;
    tarife_.SaveToFile(TarifeFile());
}

void TdmVerwaltung::CloseTarife() { tarife_.Close(); }

void TdmVerwaltung::OpenAdressen() {
    if (adressen_.Active()) return;
    Open(adressen_, AdressenFile(), AdressenFields());
    adressen_.SetIndexFieldNames(kAdressenOrder);
}

void TdmVerwaltung::FlushAdressen() {
    Flush(adressen_, AdressenFile(), AdressenFields());
    if (adressen_.Active()) adressen_.SetIndexFieldNames(kAdressenOrder);
}

void TdmVerwaltung::CloseAdressen() { adressen_.Close(); }

void TdmVerwaltung::OpenVersicherte() {
    if (versicherte_.Active()) return;
    if (OnStatus) OnStatus("Vorlagen Versicherte laden...");
    auto start = std::chrono::steady_clock::now();
    Open(versicherte_, VersicherteFile(), VersicherteFields());
    versicherte_.SetIndexFieldNames(kVersicherteOrder);
    if (OnStatus) {
        auto secs = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
        OnStatus(Format("Vorlagen geladen: %.2d:%.2d", {int64_t(secs / 60), int64_t(secs % 60)}));
    }
}

void TdmVerwaltung::FlushVersicherte() {
    Flush(versicherte_, VersicherteFile(), VersicherteFields());
    if (versicherte_.Active()) versicherte_.SetIndexFieldNames(kVersicherteOrder);
}

void TdmVerwaltung::CloseVersicherte() { versicherte_.Close(); }

// ------------------------------------------------------------ kind lookup

void TdmVerwaltung::BuildKindIndex() {
    Watch& w = *watch_;
    w.kinds.clear();

    // The data comes from a copy, so that the lookup sees every tariff in
    // Tarifbez order whatever the tariff window shows.
    auto copy = tarife_.Clone();
    copy->SetFiltered(false);
    copy->SetIndexFieldNames(kTarifeOrder);
    for (copy->First(); !copy->Eof(); copy->Next()) {
        Table& positions = copy->Nested(kTarifdetail);
        positions.SetFiltered(false);
        positions.SetIndexFieldNames(kTarifdetailOrder);
        for (positions.First(); !positions.Eof(); positions.Next()) {
            PositionKind k;
            k.art = positions.AsString("Art");
            k.pctAbschlag = positions.AsFloat("PCT_Abschlag");
            k.freikm = positions.AsFloat("freikm");
            k.tarifbez = copy->AsString("Tarifbez");
            w.kinds.try_emplace(positions.AsString("PosNum"), std::move(k));
        }
    }

    // While a tariff is being edited the index serves this one call only.
    if (tarife_.GetState() != Table::State::Browse) return;

    // Edits of positions happen in the positions' own tables: watch each of
    // them, so that a change there makes the index stale too.
    std::shared_ptr<Watch> shared = watch_;
    w.suppress = true;
    try {
        ForEachRow(tarife_, [&](Table& t) {
            Table::Bookmark b = t.GetBookmark();
            Table& positions = t.Nested(kTarifdetail);
            // a tariff added while hidden by the filter gets its order here
            if (positions.IndexFieldNames().empty()) positions.SetIndexFieldNames(kTarifdetailOrder);
            auto it = w.watchedPositions.find(b);
            if (it != w.watchedPositions.end() && it->second == &positions) return;
            positions.Subscribe([shared](TableEvent ev, Table::Bookmark) {
                if (!shared->suppress && ev != TableEvent::Scrolled) shared->kindsValid = false;
            });
            w.watchedPositions[b] = &positions;
        });
    } catch (...) {
        w.suppress = false;
        throw;
    }
    w.suppress = false;
    w.kindsValid = true;
}

PositionKind TdmVerwaltung::KindOf(std::string_view posNum) {
    OpenTarife();
    if (!watch_->kindsValid) BuildKindIndex();
    auto it = watch_->kinds.find(std::string(posNum));
    return it == watch_->kinds.end() ? PositionKind{} : it->second;
}

// --------------------------------------------------------------- searching

bool TdmVerwaltung::LocateAdresse(std::string_view plz, std::string_view ort, std::string_view strasse) {
    OpenAdressen();
    LocateOptions opt;
    opt.caseInsensitive = true;
    return adressen_.Locate("plz;ort;strasse", {std::string(plz), std::string(ort), std::string(strasse)}, opt);
}

void TdmVerwaltung::BuildPrefixIndex() {
    Watch& w = *watch_;
    w.prefixes.clear();
    auto copy = versicherte_.Clone();
    copy->SetFiltered(false);
    for (copy->First(); !copy->Eof(); copy->Next()) w.prefixes.push_back(UpperCase(copy->AsString("Nachname")));
    std::sort(w.prefixes.begin(), w.prefixes.end());
    w.prefixesValid = true;
}

bool TdmVerwaltung::HasVorlageWithPrefix(std::string_view nachnamePrefix) {
    OpenVersicherte();
    if (!watch_->prefixesValid) BuildPrefixIndex();
    const std::string key = UpperCase(nachnamePrefix);
    const auto& p = watch_->prefixes;
    auto it = std::lower_bound(p.begin(), p.end(), key);
    return it != p.end() && StartsWith(*it, key);
}

int TdmVerwaltung::SetVorlagenFilter(std::string_view nachnamePrefix) {
    OpenVersicherte();
    if (Trim(nachnamePrefix).empty()) {
        versicherte_.SetFiltered(false);
        versicherte_.SetRecordFilter(nullptr);
        return -1;
    }
    std::string prefix(nachnamePrefix);
    versicherte_.SetRecordFilter(
        [prefix](const Table& t) { return StartsText(prefix, t.AsString("Nachname")); });
    // A new record filter takes effect when filtering is switched on.
    versicherte_.SetFiltered(false);
    versicherte_.SetFiltered(true);
    return versicherte_.RecordCount();
}

bool TdmVerwaltung::LocateVorlage(std::string_view versNum, std::string_view nachname, std::string_view vorname,
                                  TDateTime geb) {
    OpenVersicherte();
    LocateOptions opt;
    opt.caseInsensitive = true;
    std::vector<Value> key{std::string(versNum), std::string(nachname), std::string(vorname), Value()};
    if (!geb.IsNull()) key[3] = geb;
    return versicherte_.Locate("VersNum;Nachname;Vorname;Geb", key, opt);
}

// -------------------------------------------------------------- id counters

int64_t TdmVerwaltung::NextID(std::string_view counterName) {
    Open(seq_, SeqFile(), SeqFields());
    int col = seq_.FieldIndex(counterName);
    if (col < 0 || seq_.Field(col).type != FieldType::Integer)
        throw Error(Format("Den Zähler \"%s\" gibt es nicht.", {std::string(counterName)}));
    const std::string field = seq_.Field(col).name;

    if (seq_.GetState() != Table::State::Browse) seq_.Cancel();
    const bool empty = seq_.IsEmpty();
    Value old;
    if (empty) {
        seq_.Append();
    } else {
        seq_.First();
        old = seq_.GetValue(field);
        seq_.Edit();
    }
    const int64_t next = seq_.AsInteger(field) + 1;
    seq_.SetInteger(field, next);
    seq_.Post();
    try {
        seq_.SaveToFile(SeqFile());
    } catch (...) {
        // The file still holds the old value; so does the table again.
        if (empty) {
            seq_.First();
            seq_.Delete();
        } else {
            seq_.First();
            seq_.Edit();
            seq_.SetValue(field, old);
            seq_.Post();
        }
        seq_.MergeChangeLog();
        throw;
    }
    return next;
}

} // namespace brenvo
