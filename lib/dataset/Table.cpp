#include "Table.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "../base/Error.h"
#include "../base/Files.h"
#include "../base/Format.h"
#include "../base/Money.h"
#include "../base/Strings.h"
#include "DataPacket.h"
#include "FilterExpr.h"
#include "TableImpl.h"

namespace brenvo {

using detail::LogState;
using detail::Row;
using detail::RowPtr;

namespace {
// Distance between the positions of neighbouring rows in the order of
// loading and insertion, leaving room for rows inserted between them.
constexpr uint64_t kSeqGap = uint64_t(1) << 16;
} // namespace

// ---------------------------------------------------------------------------
// Values

int CompareValues(const Value& a, const Value& b) {
    size_t ia = a.index(), ib = b.index();
    if (ia == 0 || ib == 0) return (ia == 0 && ib == 0) ? 0 : (ia == 0 ? -1 : 1);
    auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    if (ia == ib) {
        switch (ia) {
        case 1: {
            int c = std::get<std::string>(a).compare(std::get<std::string>(b));
            return c < 0 ? -1 : (c > 0 ? 1 : 0);
        }
        case 2: return sign(std::get<int64_t>(a), std::get<int64_t>(b));
        case 3: return sign(std::get<double>(a), std::get<double>(b));
        case 4: return sign(std::get<bool>(a), std::get<bool>(b));
        case 5: return sign(std::get<TDateTime>(a).Value(), std::get<TDateTime>(b).Value());
        }
    }
    // Numbers of different kinds compare by their amount.
    auto number = [](const Value& v, double& out) {
        if (auto* i = std::get_if<int64_t>(&v)) out = double(*i);
        else if (auto* d = std::get_if<double>(&v)) out = *d;
        else if (auto* t = std::get_if<TDateTime>(&v)) out = t->Value();
        else return false;
        return true;
    };
    double x, y;
    if (number(a, x) && number(b, y)) return sign(x, y);
    return ia < ib ? -1 : 1;
}

namespace detail {

namespace {
unsigned char AsciiUpper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }
} // namespace

bool SameName(std::string_view a, std::string_view b) {
    bool ascii = true;
    if (a.size() == b.size()) {
        for (size_t i = 0; i < a.size(); ++i) {
            unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
            if ((x | y) & 0x80) {
                ascii = false;
                break;
            }
            if (AsciiUpper(x) != AsciiUpper(y)) return false;
        }
        if (ascii) return true;
    } else {
        for (char c : a) if (static_cast<unsigned char>(c) & 0x80) ascii = false;
        for (char c : b) if (static_cast<unsigned char>(c) & 0x80) ascii = false;
        if (ascii) return false;
    }
    return SameText(a, b);
}

size_t NameHash(std::string_view s) {
    // FNV-1a over the ASCII letters folded to upper case; other bytes are left
    // out so that names differing only in the case of an umlaut hash alike.
    size_t h = 1469598103934665603ull;
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c & 0x80) continue;
        h ^= AsciiUpper(c);
        h *= 1099511628211ull;
    }
    return h;
}

void NameIndex::Build(const std::vector<FieldDef>& fields) {
    map_.clear();
    map_.reserve(fields.size() * 2);
    for (size_t i = 0; i < fields.size(); ++i) map_.emplace(std::string_view(fields[i].name), int(i));
}

int NameIndex::Find(std::string_view name) const {
    auto it = map_.find(name);
    return it == map_.end() ? -1 : it->second;
}

std::shared_ptr<const Schema> Schema::Build(std::vector<FieldDef> fields) {
    static std::atomic<uint64_t> lastId{0};
    auto s = std::make_shared<Schema>();
    s->id = ++lastId;
    s->fields = std::move(fields);
    s->names.Build(s->fields);
    s->nestedSlot.assign(s->fields.size(), -1);
    for (size_t i = 0; i < s->fields.size(); ++i) {
        if (s->fields[i].type != FieldType::Nested) continue;
        s->nestedSlot[i] = s->nestedCount++;
        s->nestedSchemas.push_back(Build(s->fields[i].nested));
    }
    return s;
}

const std::shared_ptr<const Schema>& Schema::Empty() {
    static const std::shared_ptr<const Schema> empty = Build({});
    return empty;
}

std::string EffectiveXmlType(const FieldDef& f) {
    const std::string& x = f.xmlType;
    auto is = [&](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (SameText(x, n)) return true;
        return false;
    };
    switch (f.type) {
    case FieldType::String:
        if (is({"string", "string.uni"})) return x;
        return "string";
    case FieldType::Memo:
        if (is({"bin.hex"})) return x;
        return "bin.hex";
    case FieldType::Integer:
        if (is({"i1", "i2", "i4", "i8", "ui1", "ui2", "ui4", "ui8"})) return x;
        return "i4";
    case FieldType::Float:
        if (is({"r8", "r4", "fixed", "fixedFMT"})) return x;
        return "r8";
    case FieldType::Boolean: return "boolean";
    case FieldType::DateTime:
        if (is({"date", "time", "dateTime"})) return x;
        return "dateTime";
    case FieldType::Nested: return "nested";
    }
    return "string";
}

std::optional<TDateTime> ParseGermanDateTime(std::string_view s) {
    std::string t = Trim(s);
    size_t blank = t.find(' ');
    auto date = ParseDDMMYYYY(blank == std::string::npos ? t : t.substr(0, blank));
    if (!date) return std::nullopt;
    if (blank == std::string::npos) return date;
    std::vector<std::string> parts = Split(Trim(t.substr(blank + 1)), ':');
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    int hms[3] = {0, 0, 0};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (!IsDigits(parts[i]) || parts[i].size() > 2) return std::nullopt;
        hms[i] = int(*ParseInt(parts[i]));
    }
    if (hms[0] > 23 || hms[1] > 59 || hms[2] > 59) return std::nullopt;
    double day = date->Value();
    double time = EncodeTime(hms[0], hms[1], hms[2]);
    return TDateTime::FromValue(day < 0 ? day - time : day + time);
}

Value CoerceToColumn(const FieldDef& f, const Value& v) {
    if (IsNullValue(v)) return v;
    switch (f.type) {
    case FieldType::String:
    case FieldType::Memo:
        if (auto* i = std::get_if<int64_t>(&v)) return IntToStr(*i);
        if (auto* d = std::get_if<double>(&v)) return FloatToText(*d);
        if (auto* b = std::get_if<bool>(&v)) return std::string(*b ? "True" : "False");
        if (auto* t = std::get_if<TDateTime>(&v)) return FormatDateTimeDE(*t);
        return v;
    case FieldType::Integer:
        if (auto* d = std::get_if<double>(&v)) {
            if (std::nearbyint(*d) == *d && std::fabs(*d) < 9.2e18) return int64_t(*d);
            return v;
        }
        if (auto* b = std::get_if<bool>(&v)) return int64_t(*b ? 1 : 0);
        if (auto* s = std::get_if<std::string>(&v)) {
            std::string t = Trim(*s);
            if (auto i = ParseInt(t)) return *i;
            if (auto d = ParseDecimal(t)) return *d;
        }
        return v;
    case FieldType::Float:
        if (auto* i = std::get_if<int64_t>(&v)) return double(*i);
        if (auto* s = std::get_if<std::string>(&v)) {
            if (auto d = ParseDecimal(Trim(*s))) return *d;
        }
        return v;
    case FieldType::Boolean:
        if (auto* i = std::get_if<int64_t>(&v)) return *i != 0;
        if (auto* s = std::get_if<std::string>(&v)) {
            std::string t = Trim(*s);
            if (SameText(t, "T") || SameText(t, "True")) return true;
            if (SameText(t, "F") || SameText(t, "False")) return false;
        }
        return v;
    case FieldType::DateTime:
        if (auto* d = std::get_if<double>(&v)) return TDateTime::FromValue(*d);
        if (auto* t = std::get_if<TDateTime>(&v)) return t->IsNull() ? Value() : v;
        if (auto* s = std::get_if<std::string>(&v)) {
            if (auto dt = ParseGermanDateTime(*s)) return *dt;
        }
        return v;
    case FieldType::Nested: return v;
    }
    return v;
}

int CompareSearch(const Value& rowValue, const Value& key, bool text) {
    if (text) {
        static const std::string empty;
        const std::string* a = std::get_if<std::string>(&rowValue);
        const std::string* b = std::get_if<std::string>(&key);
        if ((a || IsNullValue(rowValue)) && (b || IsNullValue(key))) {
            int c = (a ? *a : empty).compare(b ? *b : empty);
            return c < 0 ? -1 : (c > 0 ? 1 : 0);
        }
    }
    return CompareValues(rowValue, key);
}

} // namespace detail

// ---------------------------------------------------------------------------
// Internals

namespace {

using Impl = Table::Impl;

const char* kNotOpen = "Die Tabelle ist nicht geöffnet.";
const char* kNoRow = "Die Tabelle hat keinen aktuellen Datensatz.";
const char* kNotEditing = "Die Tabelle ist nicht im Bearbeitungs- oder Einfügemodus.";

[[noreturn]] void FailNoField(std::string_view name) {
    throw Error("Feld \"" + std::string(name) + "\" nicht gefunden.");
}

struct KeyLess {
    const std::vector<int>& cols;
    bool operator()(const Row* a, const Row* b) const {
        for (int c : cols) {
            int r = CompareValues(a->Values()[size_t(c)], b->Values()[size_t(c)]);
            if (r != 0) return r < 0;
        }
        return a->seq < b->seq;
    }
};

std::vector<Row*>& Vis(Impl& I) { return I.filtering ? I.view : I.order; }
const std::vector<Row*>& Vis(const Impl& I) { return I.filtering ? I.view : I.order; }

Row* CurRow(const Impl& I) {
    const auto& v = Vis(I);
    return I.cur < v.size() ? v[I.cur] : nullptr;
}

// Position of a row in a vector ordered by the index; size() when absent.
size_t FindPos(const std::vector<Row*>& v, const Row* r, const std::vector<int>& keys) {
    auto it = std::lower_bound(v.begin(), v.end(), r, KeyLess{keys});
    if (it != v.end() && *it == r) return size_t(it - v.begin());
    return v.size();
}

void EraseFrom(std::vector<Row*>& v, const Row* r, const std::vector<int>& keys) {
    size_t p = FindPos(v, r, keys);
    if (p < v.size()) v.erase(v.begin() + std::ptrdiff_t(p));
}

void InsertInto(std::vector<Row*>& v, Row* r, const std::vector<int>& keys) {
    v.insert(std::upper_bound(v.begin(), v.end(), r, KeyLess{keys}), r);
}

size_t PosBySeq(const std::vector<RowPtr>& rows, uint64_t seq) {
    auto it = std::lower_bound(rows.begin(), rows.end(), seq,
                               [](const RowPtr& r, uint64_t s) { return r->seq < s; });
    return size_t(it - rows.begin());
}

bool FilterActive(const Impl& I) { return I.filtered && (I.filterExpr || I.recordFilter); }

bool Passes(const Table& t, const Impl& I, std::span<const Value> values) {
    if (I.filterExpr && !I.filterExpr->Matches(values)) return false;
    if (I.recordFilter) {
        struct Guard {
            const Impl& I;
            const std::span<const Value>* saved;
            ~Guard() { I.evalValues = saved; }
        } guard{I, I.evalValues};
        I.evalValues = &values;
        return I.recordFilter(t);
    }
    return true;
}

// Someone listens and is not to be spared the events.
bool Listening(const Impl& I) { return I.updateDepth == 0 && !I.listeners.empty(); }

// oldRow, newRow: the row's visible positions before and after, -1 when none.
void Notify(Impl& I, TableEvent ev, Table::Bookmark b, size_t oldRow = SIZE_MAX, size_t newRow = SIZE_MAX) {
    if (!Listening(I)) return;
    const Table::Change change{ev, b, oldRow == SIZE_MAX ? -1 : int(oldRow), newRow == SIZE_MAX ? -1 : int(newRow)};
    auto copy = I.listeners;
    for (auto& [id, l] : copy)
        if (l) l(change);
}

// A number whose order agrees with the order of the first key column's values
// (null lowest); equal numbers leave the decision to the full comparison.
uint64_t SortPrefix(const Value& v) {
    switch (v.index()) {
    case 1: {
        const std::string& s = std::get<std::string>(v);
        uint64_t p = 0;
        for (size_t i = 0; i < 8; ++i) p = (p << 8) | (i < s.size() ? static_cast<unsigned char>(s[i]) : 0u);
        return p;
    }
    case 2: return uint64_t(std::get<int64_t>(v)) ^ (uint64_t(1) << 63);
    case 4: return std::get<bool>(v) ? 2 : 1;
    case 3:
    case 5: {
        double d = v.index() == 3 ? std::get<double>(v) : std::get<TDateTime>(v).Value();
        if (d == 0.0) d = 0.0;   // -0 and +0 are equal
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return (bits & (uint64_t(1) << 63)) ? ~bits : bits | (uint64_t(1) << 63);
    }
    }
    return 0;
}

void RebuildOrder(Impl& I) {
    I.orderPrefix.valid = false;
    I.order.clear();
    I.order.reserve(I.rows.size());
    if (I.keyCols.empty()) {
        for (auto& r : I.rows) I.order.push_back(r.get());
        return;
    }
    // Sorted by the keys, then by the position in the order of loading and
    // insertion, which makes the sort stable. Most comparisons are decided by
    // a number taken from the first key, without reaching into the rows.
    struct Item {
        uint64_t prefix;
        Row* row;
    };
    std::vector<Item> items;
    items.reserve(I.rows.size());
    size_t first = size_t(I.keyCols.front());
    size_t kind = 0;
    bool mixed = false;
    for (auto& r : I.rows) {
        const Value& v = r->Values()[first];
        if (v.index() != 0 && v.index() != kind) {
            if (kind != 0) mixed = true;
            kind = v.index();
        }
        items.push_back({SortPrefix(v), r.get()});
    }
    if (mixed)   // values of several kinds: the numbers would not agree
        for (Item& it : items) it.prefix = 0;
    KeyLess less{I.keyCols};
    std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return less(a.row, b.row);
    });
    for (const Item& it : items) I.order.push_back(it.row);
}

// Sorts by the index starting from the order of an index that began with the
// same columns: that order is sorted by those already, so only the runs of
// rows equal in them are sorted, which makes a switch between such orders
// nearly linear. The result is that of RebuildOrder; false (and nothing done)
// when there is no common column or the order is not what it should be.
bool RebuildOrderFrom(Impl& I, const std::vector<int>& prevCols, const std::vector<Row*>& prevOrder) {
    size_t common = 0;
    while (common < prevCols.size() && common < I.keyCols.size() && prevCols[common] == I.keyCols[common]) ++common;
    if (common == 0 || prevOrder.size() != I.rows.size()) return false;
    auto comparePrefix = [&](const Row* a, const Row* b) {
        for (size_t k = 0; k < common; ++k) {
            const size_t c = size_t(I.keyCols[k]);
            if (int r = CompareValues(a->Values()[c], b->Values()[c])) return r;
        }
        return 0;
    };
    std::vector<Row*> order(prevOrder);
    KeyLess less{I.keyCols};
    size_t start = 0;
    for (size_t i = 1; i <= order.size(); ++i) {
        if (i < order.size()) {
            const int r = comparePrefix(order[i - 1], order[i]);
            if (r > 0) return false;
            if (r == 0) continue;
        }
        if (i - start > 1) std::sort(order.begin() + std::ptrdiff_t(start), order.begin() + std::ptrdiff_t(i), less);
        start = i;
    }
    I.orderPrefix.valid = false;
    I.order = std::move(order);
    return true;
}

// Re-evaluates the filter of every row when `evaluate`, otherwise reuses the
// rows' visible flags (after a re-sort).
void RebuildView(const Table& t, Impl& I, bool evaluate) {
    I.filtering = FilterActive(I);
    I.view.clear();
    if (!I.filtering) return;
    I.view.reserve(I.order.size());
    for (Row* r : I.order) {
        if (evaluate) r->visible = Passes(t, I, r->Values());
        if (r->visible) I.view.push_back(r);
    }
}

// Makes `r` current when it is visible, otherwise the first row.
void PositionOn(Impl& I, const Row* r) {
    auto& v = Vis(I);
    size_t p = r ? FindPos(v, r, I.keyCols) : v.size();
    I.cur = p < v.size() ? p : 0;
    I.eof = v.empty();
    I.bof = v.empty() || p >= v.size();
}

void CheckActive(const Impl& I) {
    if (!I.active) throw Error(kNotOpen);
}

int Col(const Impl& I, std::string_view name) {
    int i = I.schema->names.Find(name);
    if (i < 0) {
        if (!I.active) throw Error(kNotOpen);
        FailNoField(name);
    }
    return i;
}

std::span<const Value> ReadValues(const Impl& I) {
    if (I.evalValues) return *I.evalValues;
    if (I.state == Table::State::Insert) return I.pending->Values();
    if (I.state == Table::State::Edit) return I.buffer;
    CheckActive(I);
    Row* r = CurRow(I);
    if (!r) throw Error(kNoRow);
    return r->Values();
}

std::span<Value> WriteValues(Impl& I) {
    if (I.state == Table::State::Insert) return I.pending->Values();
    if (I.state == Table::State::Edit) return I.buffer;
    CheckActive(I);
    throw Error(kNotEditing);
}

std::vector<int> ResolveNames(const Impl& I, const std::string& names, const char* what) {
    std::vector<int> cols;
    for (const std::string& part : Split(names, ';')) {
        std::string n = Trim(part);
        if (n.empty()) continue;
        int c = I.schema->names.Find(n);
        if (c < 0) throw Error(std::string(what) + " \"" + n + "\" nicht gefunden.");
        cols.push_back(c);
    }
    return cols;
}

// Renumbers the positions of all rows (deleted ones of the change log too),
// keeping their order, so that there is room to insert between any two.
void Renumber(Impl& I) {
    std::vector<Row*> all;
    all.reserve(I.rows.size() + I.deleted.size());
    for (auto& r : I.rows) all.push_back(r.get());
    for (auto& r : I.deleted) all.push_back(r.get());
    std::stable_sort(all.begin(), all.end(), [](const Row* a, const Row* b) { return a->seq < b->seq; });
    uint64_t s = 0;
    for (Row* r : all) r->seq = (s += kSeqGap);
}

uint64_t SeqBefore(Impl& I, const Row* before) {
    if (!before) return I.rows.empty() ? kSeqGap : I.rows.back()->seq + kSeqGap;
    for (int attempt = 0; attempt < 2; ++attempt) {
        size_t p = PosBySeq(I.rows, before->seq);
        uint64_t prev = p == 0 ? 0 : I.rows[p - 1]->seq;
        if (before->seq - prev >= 2) return prev + (before->seq - prev) / 2;
        Renumber(I);
    }
    return before->seq;   // not reached: renumbering leaves gaps
}

Value ConvertForSet(const FieldDef& f, Value v) {
    if (IsNullValue(v)) return v;
    // A value of the column's own type that fits is taken as it is.
    switch (f.type) {
    case FieldType::String:
        if (auto* s = std::get_if<std::string>(&v); s && (f.width <= 0 || s->size() <= size_t(f.width))) return v;
        break;
    case FieldType::Memo:
        if (std::holds_alternative<std::string>(v)) return v;
        break;
    case FieldType::Integer:
        if (std::holds_alternative<int64_t>(v)) return v;
        break;
    case FieldType::Float:
        if (std::holds_alternative<double>(v)) return v;
        break;
    case FieldType::Boolean:
        if (std::holds_alternative<bool>(v)) return v;
        break;
    case FieldType::DateTime:
        if (auto* t = std::get_if<TDateTime>(&v); t && !t->IsNull()) return v;
        break;
    case FieldType::Nested: break;
    }
    auto fail = [&]() -> Value {
        std::string text;
        if (auto* s = std::get_if<std::string>(&v)) text = *s;
        else if (auto* i = std::get_if<int64_t>(&v)) text = IntToStr(*i);
        else if (auto* d = std::get_if<double>(&v)) text = FloatToText(*d);
        else if (auto* b = std::get_if<bool>(&v)) text = *b ? "True" : "False";
        else if (auto* t = std::get_if<TDateTime>(&v)) text = FormatDateTimeDE(*t);
        throw Error("Der Wert \"" + text + "\" ist für das Feld \"" + f.name + "\" ungültig.");
    };
    switch (f.type) {
    case FieldType::String:
    case FieldType::Memo: {
        Value c = detail::CoerceToColumn(f, v);
        auto* s = std::get_if<std::string>(&c);
        if (!s) return fail();
        if (f.type == FieldType::String && f.width > 0 && s->size() > size_t(f.width) &&
            Utf8Length(*s) > size_t(f.width))
            return Utf8Left(*s, size_t(f.width));
        return c;
    }
    case FieldType::Integer: {
        if (auto* s = std::get_if<std::string>(&v))
            if (Trim(*s).empty()) return Value();
        if (auto* d = std::get_if<double>(&v)) return RoundHalfEven(*d);
        Value c = detail::CoerceToColumn(f, v);
        if (std::holds_alternative<int64_t>(c)) return c;
        if (auto* d = std::get_if<double>(&c)) return RoundHalfEven(*d);
        return fail();
    }
    case FieldType::Float: {
        if (auto* s = std::get_if<std::string>(&v))
            if (Trim(*s).empty()) return Value();
        if (auto* b = std::get_if<bool>(&v)) return *b ? 1.0 : 0.0;
        if (auto* t = std::get_if<TDateTime>(&v)) return t->Value();
        Value c = detail::CoerceToColumn(f, v);
        if (std::holds_alternative<double>(c)) return c;
        return fail();
    }
    case FieldType::Boolean: {
        if (auto* s = std::get_if<std::string>(&v))
            if (Trim(*s).empty()) return Value();
        if (auto* d = std::get_if<double>(&v)) return *d != 0.0;
        Value c = detail::CoerceToColumn(f, v);
        if (std::holds_alternative<bool>(c)) return c;
        return fail();
    }
    case FieldType::DateTime: {
        if (auto* s = std::get_if<std::string>(&v))
            if (Trim(*s).empty()) return Value();
        Value c = detail::CoerceToColumn(f, v);
        if (std::holds_alternative<TDateTime>(c) || IsNullValue(c)) return c;
        return fail();
    }
    case FieldType::Nested: break;
    }
    throw Error("Das Feld \"" + f.name + "\" ist eine verschachtelte Tabelle.");
}

std::string ValueText(const Value& v) {
    switch (v.index()) {
    case 1: return std::get<std::string>(v);
    case 2: return IntToStr(std::get<int64_t>(v));
    case 3: return FloatToText(std::get<double>(v));
    case 4: return std::get<bool>(v) ? "True" : "False";
    case 5: return FormatDateTimeDE(std::get<TDateTime>(v));
    }
    return "";
}

[[noreturn]] void FailConvert(const Impl& I, int col, const std::string& text, const char* what) {
    throw Error("Der Wert \"" + text + "\" des Feldes \"" + I.schema->fields[size_t(col)].name + "\" ist " + what + ".");
}

// Deep copy of a row; the copy counts as unchanged.
RowPtr CopyRow(const Row& r) {
    RowPtr c = Row::Make(r.Values().size());
    std::copy(r.Values().begin(), r.Values().end(), c->Values().begin());
    c->nested.reserve(r.nested.size());
    for (auto& n : r.nested) c->nested.push_back(n->Clone());
    c->id = r.id;
    c->seq = r.seq;
    return c;
}

} // namespace

// ---------------------------------------------------------------------------
// Impl

RowPtr Table::Impl::NewRow() const {
    RowPtr r = Row::Make(schema->fields.size());
    r->nested.reserve(size_t(schema->nestedCount));
    for (const auto& sub : schema->nestedSchemas) r->nested.push_back(MakeTable(sub));
    return r;
}

std::unique_ptr<Table> Table::Impl::MakeTable(std::shared_ptr<const detail::Schema> schema,
                                              std::vector<detail::RowPtr> rows) {
    auto t = std::make_unique<Table>();
    t->d->Install(std::move(schema), std::move(rows));
    return t;
}

Row* Table::Impl::FindRow(uint64_t id) const {
    if (!byIdBuilt) {
        byId.clear();
        byId.reserve(rows.size());
        for (auto& r : rows) byId.emplace(r->id, r.get());
        byIdBuilt = true;
    }
    auto it = byId.find(id);
    return it == byId.end() ? nullptr : it->second;
}

void Table::Impl::Install(std::shared_ptr<const detail::Schema> newSchema, std::vector<RowPtr> newRows) {
    // Everything is prepared aside; the table changes only at the end.
    const std::vector<FieldDef>& newFields = newSchema->fields;
    const detail::NameIndex& newNames = newSchema->names;
    const int newNestedCount = newSchema->nestedCount;

    std::vector<int> newKeys;
    std::string newIndexNames = indexNames;
    for (const std::string& part : Split(indexNames, ';')) {
        std::string n = Trim(part);
        if (n.empty()) continue;
        int c = newNames.Find(n);
        if (c < 0) {
            newKeys.clear();
            newIndexNames.clear();
            break;
        }
        newKeys.push_back(c);
    }
    std::unique_ptr<detail::FilterExpr> newFilter;
    std::string newFilterText = filterText;
    if (!filterText.empty()) {
        try {
            newFilter = detail::FilterExpr::Parse(filterText, newFields, newNames);
        } catch (const Error&) {
            newFilterText.clear();
        }
    }

    uint64_t id = nextId;
    uint64_t seq = 0;
    bool keepIds = !newRows.empty() && newRows.front()->id != 0;
    for (auto& r : newRows) {
        if (r->Values().size() != newFields.size()) {
            RowPtr sized = Row::Make(newFields.size());
            sized->MoveValuesFrom(r->Values());
            sized->nested = std::move(r->nested);
            sized->id = r->id;
            sized->seq = r->seq;
            r = std::move(sized);
        }
        if (r->nested.size() != size_t(newNestedCount)) {
            r->nested.clear();
            for (const auto& sub : newSchema->nestedSchemas) r->nested.push_back(MakeTable(sub));
        }
        if (!keepIds) {
            r->id = id++;
            r->seq = (seq += kSeqGap);
        } else {
            id = std::max(id, r->id + 1);
        }
        r->log = LogState::Unchanged;
        r->original.reset();
    }

    schema = std::move(newSchema);
    keyCols = std::move(newKeys);
    indexNames = std::move(newIndexNames);
    filterExpr = std::move(newFilter);
    filterText = std::move(newFilterText);
    rows = std::move(newRows);
    byId.clear();
    byIdBuilt = false;
    nextId = id;
    deleted.clear();
    ownChanges = 0;
    logged.clear();
    pending.reset();
    editRow = nullptr;
    buffer.clear();
    bufferModified = false;
    active = true;
    state = State::Browse;
    savedOrders.clear();
    RebuildOrder(*this);
    // Unfiltered and on the first row; callers with a filter rebuild the view.
    filtering = false;
    view.clear();
    cur = 0;
    eof = bof = rows.empty();
}

// ---------------------------------------------------------------------------
// Construction

Table::Table() : d(std::make_unique<Impl>()) {}

Table::Table(std::vector<FieldDef> fields) : Table() { CreateDataSet(std::move(fields)); }

Table::~Table() = default;
Table::Table(Table&&) noexcept = default;
Table& Table::operator=(Table&&) noexcept = default;

std::unique_ptr<Table> Table::Clone() const {
    auto c = std::make_unique<Table>();
    Impl& C = *c->d;
    C.indexNames = d->indexNames;
    C.filterText = d->filterText;
    C.filtered = d->filtered;
    C.recordFilter = d->recordFilter;
    C.fileName = d->fileName;
    if (!d->active) return c;
    std::vector<RowPtr> rows;
    rows.reserve(d->rows.size());
    for (auto& r : d->rows) rows.push_back(CopyRow(*r));
    C.Install(d->schema, std::move(rows));
    C.nextId = std::max(C.nextId, d->nextId);
    RebuildView(*c, C, true);
    Row* cur = CurRow(*d);
    PositionOn(C, cur ? C.FindRow(cur->id) : nullptr);
    return c;
}

// ---------------------------------------------------------------------------
// Structure and state

namespace {
// Column names must be unique (ignoring case) and usable as attribute names
// of the table file, in nested tables too.
void CheckColumns(const std::vector<FieldDef>& fields) {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!detail::IsXmlName(fields[i].name))
            throw Error("Der Spaltenname \"" + fields[i].name + "\" ist ungültig.");
        for (size_t j = 0; j < i; ++j)
            if (detail::SameName(fields[i].name, fields[j].name))
                throw Error("Die Spalte \"" + fields[i].name + "\" ist mehrfach definiert.");
        if (fields[i].type == FieldType::Nested) CheckColumns(fields[i].nested);
    }
}

// Drops every row and all that is built from the rows: the orders, the view,
// the id lookup and the change log.
void DropRows(Impl& I) {
    I.rows.clear();
    I.logged.clear();
    I.order.clear();
    I.orderPrefix.valid = false;
    I.savedOrders.clear();
    I.view.clear();
    I.byId.clear();
    I.deleted.clear();
    I.ownChanges = 0;
}
} // namespace

void Table::CreateDataSet(std::vector<FieldDef> fields) {
    CheckColumns(fields);
    d->Install(std::move(fields), {});
    RebuildView(*this, *d, true);
    PositionOn(*d, nullptr);
    Notify(*d, TableEvent::Reset, 0);
}

void Table::Close() {
    Impl& I = *d;
    I.pending.reset();
    I.editRow = nullptr;
    I.buffer.clear();
    DropRows(I);
    I.schema = detail::Schema::Empty();
    I.keyCols.clear();
    I.filterExpr.reset();
    I.filtering = false;
    I.active = false;
    I.state = State::Inactive;
    I.cur = 0;
    I.eof = I.bof = true;
    Notify(I, TableEvent::Reset, 0);
}

bool Table::Active() const { return d->active; }
Table::State Table::GetState() const { return d->state; }
const std::vector<FieldDef>& Table::Fields() const { return d->schema->fields; }
int Table::FieldCount() const { return int(d->schema->fields.size()); }
uint64_t Table::ColumnsId() const { return d->schema->id; }
int Table::FieldIndex(std::string_view name) const { return d->schema->names.Find(name); }
bool Table::HasField(std::string_view name) const { return d->schema->names.Find(name) >= 0; }

const FieldDef& Table::Field(int index) const {
    if (index < 0 || size_t(index) >= d->schema->fields.size())
        throw Error("Feldnummer " + std::to_string(index) + " ist ungültig.");
    return d->schema->fields[size_t(index)];
}

void Table::EmptyTable() {
    Impl& I = *d;
    CheckActive(I);
    Cancel();
    DropRows(I);
    PositionOn(I, nullptr);
    Notify(I, TableEvent::Reset, 0);
}

// ---------------------------------------------------------------------------
// Files

namespace {
// Takes over what was read; nothing of the table changed before this point.
void Adopt(Table& t, detail::PacketData data) {
    Impl& I = Impl::Of(t);
    t.Cancel();
    I.Install(std::move(data.fields), std::move(data.rows));
    RebuildView(t, I, true);
    PositionOn(I, nullptr);
    Notify(I, TableEvent::Reset, 0);
}
} // namespace

void Table::LoadFromFile(const std::string& path) {
    Adopt(*this, detail::ReadDataPacketFile(path));
    d->fileName = path;
}

void Table::LoadFromXml(std::string_view xml, const std::string& nameForMessages) {
    Adopt(*this, detail::ReadDataPacket(xml, nameForMessages));
}

namespace {
// The table as a data packet, the change log left as it is.
std::string WritePacket(Table& t) {
    Impl& I = Impl::Of(t);
    CheckActive(I);
    if (I.state != Table::State::Browse) {
        if (I.bufferModified) t.Post();
        else t.Cancel();
    }
    std::string out;
    detail::WriteDataPacket(I, out);
    return out;
}
} // namespace

void Table::SaveToFile(const std::string& path) {
    std::string xml = WritePacket(*this);
    AtomicWriteFile(path, xml);
    // Only a file that is safely written makes the changes the saved state.
    MergeChangeLog();
    d->fileName = path;
}

std::string Table::SaveToXml() {
    std::string xml = WritePacket(*this);
    MergeChangeLog();
    return xml;
}

const std::string& Table::FileName() const { return d->fileName; }

// ---------------------------------------------------------------------------
// Navigation

namespace {

// Posts a modified edit buffer (or drops an unmodified one) before the cursor moves.
void BrowseMode(Table& t, Impl& I) {
    if (I.state == Table::State::Edit || I.state == Table::State::Insert) {
        if (I.bufferModified) t.Post();
        else t.Cancel();
    }
}

struct ScrollGuard {
    Impl& I;
    Row* before;
    explicit ScrollGuard(Impl& i) : I(i), before(CurRow(i)) {}
    ~ScrollGuard() {
        Row* after = CurRow(I);
        // (the row itself is read only for a listener)
        if (after != before && Listening(I))
            Notify(I, TableEvent::Scrolled, after ? after->id : 0, SIZE_MAX, after ? I.cur : SIZE_MAX);
    }
};

// The start of every cursor move: an open table in Browse state.
std::vector<Row*>& BeginMove(Table& t, Impl& I) {
    CheckActive(I);
    BrowseMode(t, I);
    return Vis(I);
}

} // namespace

void Table::First() {
    auto& v = BeginMove(*this, *d);
    ScrollGuard g(*d);
    d->cur = 0;
    d->bof = true;
    d->eof = v.empty();
}

void Table::Last() {
    auto& v = BeginMove(*this, *d);
    ScrollGuard g(*d);
    d->cur = v.empty() ? 0 : v.size() - 1;
    d->eof = true;
    d->bof = v.empty();
}

void Table::Next() {
    auto& v = BeginMove(*this, *d);
    ScrollGuard g(*d);
    if (!v.empty() && d->cur + 1 < v.size()) {
        ++d->cur;
        d->eof = false;
    } else {
        d->eof = true;
    }
    d->bof = v.empty();
}

void Table::Prior() {
    auto& v = BeginMove(*this, *d);
    ScrollGuard g(*d);
    if (!v.empty() && d->cur > 0) {
        --d->cur;
        d->bof = false;
    } else {
        d->bof = true;
    }
    d->eof = v.empty();
}

bool Table::Eof() const { return d->eof || Vis(*d).empty(); }
bool Table::Bof() const { return d->bof || Vis(*d).empty(); }
bool Table::IsEmpty() const { return Vis(*d).empty(); }
int Table::RecordCount() const { return int(Vis(*d).size()); }
int Table::RecNo() const { return Vis(*d).empty() ? 0 : int(d->cur) + 1; }

void Table::SetRecNo(int recNo) {
    auto& v = BeginMove(*this, *d);
    ScrollGuard g(*d);
    if (v.empty()) return;
    d->cur = size_t(std::clamp(recNo, 1, int(v.size())) - 1);
    d->eof = d->bof = false;
}

Table::Bookmark Table::GetBookmark() const {
    Row* r = CurRow(*d);
    return r ? r->id : 0;
}

bool Table::BookmarkValid(Bookmark b) const {
    Row* r = b ? d->FindRow(b) : nullptr;
    return r && (!d->filtering || r->visible);
}

bool Table::GotoBookmark(Bookmark b) {
    if (!d->active || !BookmarkValid(b)) return false;
    BrowseMode(*this, *d);
    if (!BookmarkValid(b)) return false;
    ScrollGuard g(*d);
    PositionOn(*d, d->FindRow(b));
    return true;
}

// ---------------------------------------------------------------------------
// Index and filter

void Table::SetIndexFieldNames(const std::string& names) {
    Impl& I = *d;
    if (!I.active) {
        I.indexNames = names;
        return;
    }
    std::vector<int> cols = ResolveNames(I, names, "Indexfeld");
    BrowseMode(*this, I);
    Row* cur = CurRow(I);
    I.indexNames = names;
    if (cols != I.keyCols) {
        // The current order is kept for a switch back; an order kept from
        // before is taken instead of sorting again.
        Impl::SavedOrder previous{std::move(I.keyCols), std::move(I.order), std::move(I.orderPrefix)};
        I.keyCols = std::move(cols);
        I.orderPrefix = Impl::SearchPrefix();
        auto saved = std::find_if(I.savedOrders.begin(), I.savedOrders.end(),
                                  [&](const Impl::SavedOrder& o) { return o.keyCols == I.keyCols; });
        if (saved != I.savedOrders.end()) {
            I.order = std::move(saved->order);
            I.orderPrefix = std::move(saved->prefix);
            I.savedOrders.erase(saved);
        } else if (!RebuildOrderFrom(I, previous.keyCols, previous.order)) {
            RebuildOrder(I);
        }
        if (!previous.keyCols.empty()) {
            if (I.savedOrders.size() >= 4) I.savedOrders.erase(I.savedOrders.begin());
            I.savedOrders.push_back(std::move(previous));
        }
    }
    RebuildView(*this, I, false);
    PositionOn(I, cur);
    Notify(I, TableEvent::Reset, 0);
}

const std::string& Table::IndexFieldNames() const { return d->indexNames; }

namespace {
void Refilter(Table& t, Impl& I) {
    Row* cur = CurRow(I);
    RebuildView(t, I, true);
    PositionOn(I, cur);
    Notify(I, TableEvent::Reset, 0);
}
} // namespace

void Table::SetFilter(const std::string& expr) {
    Impl& I = *d;
    if (!I.active) {
        I.filterText = expr;
        return;
    }
    auto parsed = detail::FilterExpr::Parse(expr, I.schema->fields, I.schema->names);
    BrowseMode(*this, I);
    I.filterText = expr;
    I.filterExpr = std::move(parsed);
    if (I.filtered) Refilter(*this, I);
}

const std::string& Table::Filter() const { return d->filterText; }

void Table::SetFiltered(bool on) {
    Impl& I = *d;
    if (!I.active) {
        I.filtered = on;
        return;
    }
    BrowseMode(*this, I);
    bool was = I.filtered;
    I.filtered = on;
    if (was != on || on) Refilter(*this, I);
}

bool Table::Filtered() const { return d->filtered; }

void Table::SetRecordFilter(RecordFilter f) {
    Impl& I = *d;
    if (I.active) BrowseMode(*this, I);
    I.recordFilter = std::move(f);
    if (I.active && I.filtered) Refilter(*this, I);
}

// ---------------------------------------------------------------------------
// Searching

namespace {

// Sign of the row's leading key columns against the search keys.
int CompareKeys(const Impl& I, const Row* r, const std::vector<Value>& keys, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        int c = I.keyCols[i];
        int s = detail::CompareSearch(r->Values()[size_t(c)], keys[i], detail::IsTextType(I.schema->fields[size_t(c)].type));
        if (s != 0) return s;
    }
    return 0;
}

// The search values in the types of the index columns, held in a buffer
// the table lends to one search at a time and gets back at its end. A search
// started meanwhile (by a listener, while the edit buffer is posted) finds
// no buffer to borrow and uses one of its own.
class SearchKeys {
public:
    SearchKeys(const Impl& i, const std::vector<Value>& values) : I(i) {
        if (I.keyCols.empty()) throw Error("Die Tabelle hat keinen Index.");
        if (values.size() > I.keyCols.size()) throw Error("Mehr Suchwerte als Indexfelder.");
        keys_.swap(I.searchKeys);
        keys_.resize(values.size());
        for (size_t i = 0; i < values.size(); ++i)
            keys_[i] = detail::CoerceToColumn(I.schema->fields[size_t(I.keyCols[i])], values[i]);
    }
    ~SearchKeys() { keys_.swap(I.searchKeys); }
    SearchKeys(const SearchKeys&) = delete;
    SearchKeys& operator=(const SearchKeys&) = delete;
    const std::vector<Value>& Keys() const { return keys_; }

private:
    const Impl& I;
    std::vector<Value> keys_;
};

using KeyImage = Impl::KeyImage;

// Writes texts one after the other into a key image: a zero byte as 0x00
// 0xFF, the end of each text as 0x00 0x00. No text's encoding starts another
// text's, so comparing images byte by byte orders them as the texts, column
// after column. What does not fit into the 16 bytes is only counted.
class KeyImageWriter {
public:
    void Text(std::string_view s) {
        for (char ch : s) {
            Put(static_cast<unsigned char>(ch));
            if (ch == 0) Put(0xFF);
        }
        Put(0);
        Put(0);
    }
    size_t Length() const { return len_; }   // also the bytes that did not fit
    bool Full() const { return len_ >= 16; }
    KeyImage Image() const {
        KeyImage k;
        for (size_t i = 0; i < 8; ++i) k.hi = (k.hi << 8) | bytes_[i];
        for (size_t i = 8; i < 16; ++i) k.lo = (k.lo << 8) | bytes_[i];
        return k;
    }

private:
    void Put(unsigned char b) {
        if (len_ < 16) bytes_[len_] = b;
        ++len_;
    }
    unsigned char bytes_[16] = {};
    size_t len_ = 0;
};

// The first `bytes` bytes of an image (at most 16), the rest zero.
KeyImage Head(const KeyImage& k, size_t bytes) {
    auto keep = [](size_t n) { return n >= 8 ? ~uint64_t(0) : n == 0 ? 0 : ~uint64_t(0) << (8 * (8 - n)); };
    return {k.hi & keep(bytes), k.lo & keep(bytes > 8 ? bytes - 8 : 0)};
}

// The number of leading key columns that are text columns.
size_t LeadingTextColumns(const Impl& I) {
    size_t n = 0;
    while (n < I.keyCols.size() && detail::IsTextType(I.schema->fields[size_t(I.keyCols[n])].type)) ++n;
    return n;
}

// The search prefix of the unfiltered order, built when missing.
const Impl::SearchPrefix& OrderPrefix(const Impl& I) {
    Impl::SearchPrefix& p = I.orderPrefix;
    if (p.valid) return p;
    p.images.clear();
    p.images.reserve(I.order.size());
    p.kind = 0;
    p.usable = !I.keyCols.empty();
    p.textColumns = LeadingTextColumns(I);
    // Text columns as images of as many columns as fit; a text column that
    // holds other values too is left out, and with it those after it.
    for (bool again = p.textColumns > 0; again;) {
        again = false;
        p.images.clear();
        for (const Row* r : I.order) {
            KeyImageWriter w;
            for (size_t i = 0; i < p.textColumns && !w.Full(); ++i) {
                const Value& v = r->Values()[size_t(I.keyCols[i])];
                if (const auto* s = std::get_if<std::string>(&v)) {
                    w.Text(*s);
                } else if (IsNullValue(v)) {
                    w.Text({});   // a null text is searched as ""
                } else {
                    p.textColumns = i;
                    again = i > 0;
                    break;
                }
            }
            if (p.textColumns == 0 || again) break;
            p.images.push_back(w.Image());
        }
    }
    if (p.textColumns == 0 && p.usable) {
        p.images.clear();
        const size_t first = size_t(I.keyCols.front());
        for (const Row* r : I.order) {
            const Value& v = r->Values()[first];
            if (v.index() != 0 && v.index() != p.kind) {
                if (p.kind != 0) p.usable = false;
                p.kind = v.index();
            }
            p.images.push_back({SortPrefix(v), 0});
        }
    }
    p.sample.clear();
    p.sample.reserve(p.images.size() / Impl::SearchPrefix::kSampleStep + 1);
    for (size_t i = 0; i < p.images.size(); i += Impl::SearchPrefix::kSampleStep) p.sample.push_back(p.images[i]);
    p.valid = true;
    return p;
}

// Asks for all cache lines of [first, last) at once, so that the searches
// that follow wait for memory once instead of once per step.
template <typename T>
void Prefetch(const T* first, const T* last) {
    const char* a = reinterpret_cast<const char*>(first);
    const char* e = reinterpret_cast<const char*>(last);
    if (a >= e) return;
    for (; a < e; a += 64) __builtin_prefetch(a);
    __builtin_prefetch(e - 1);
}

// The first position whose image is not `less` than the key (`less` holds
// for a leading part of the images): searched in the sample first, then
// among the images between two sampled ones. The rows of those positions
// (`order`) are asked for together with their images.
template <typename Less>
size_t ImageLowerBound(const Impl::SearchPrefix& p, const std::vector<Row*>& order, Less less) {
    constexpr size_t step = Impl::SearchPrefix::kSampleStep;
    const size_t s = size_t(std::partition_point(p.sample.begin(), p.sample.end(), less) - p.sample.begin());
    if (s == 0) return 0;   // the first image is not less
    // images[(s - 1) * step] is less; images[s * step] is not (or is past the end)
    const size_t lo = (s - 1) * step + 1;
    const size_t hi = std::min(s * step, p.images.size());
    Prefetch(p.images.data() + lo, p.images.data() + hi);
    Prefetch(order.data() + lo, order.data() + std::min(hi + 1, order.size()));
    return size_t(std::partition_point(p.images.begin() + std::ptrdiff_t(lo), p.images.begin() + std::ptrdiff_t(hi), less) -
                  p.images.begin());
}

// The end of the run of positions from `from` on whose images satisfy
// `in`: first in steps growing from 1, then halving, so that a short run
// costs few probes near its start.
template <typename Pred>
size_t RunEnd(const std::vector<KeyImage>& images, size_t from, Pred in) {
    const size_t n = images.size();
    if (from >= n || !in(images[from])) return from;
    size_t lo = from, hi = n;   // images[lo] is in the run; images[hi] is not (or hi == n)
    for (size_t step = 1;; step *= 2) {
        if (lo + step >= n) break;
        if (!in(images[lo + step])) {
            hi = lo + step;
            break;
        }
        lo += step;
    }
    while (hi - lo > 1) {
        size_t mid = lo + (hi - lo) / 2;
        if (in(images[mid])) lo = mid;
        else hi = mid;
    }
    return hi;
}

// The first visible position whose row's leading key columns are not less
// than the `n` keys. `equal` tells whether that row equals the keys, when the
// images decided it without the row (false: not known).
size_t LowerBound(const Impl& I, const std::vector<Value>& keys, size_t n, bool* equal = nullptr) {
    if (equal) *equal = false;
    const auto& v = Vis(I);
    size_t lo = 0, hi = v.size();
    // Rows whose image is smaller (larger) than the key's are smaller
    // (larger) than the key; only rows of an equal image need comparing, and
    // none when the key's image is complete.
    if (n > 0 && !I.filtering) {
        const Impl::SearchPrefix& p = OrderPrefix(I);
        const auto& images = p.images;
        if (p.textColumns > 0) {
            const size_t m = std::min(n, p.textColumns);
            KeyImageWriter w;
            bool texts = true;
            for (size_t i = 0; i < m && texts; ++i) {
                if (const auto* s = std::get_if<std::string>(&keys[i])) w.Text(*s);
                else if (IsNullValue(keys[i])) w.Text({});
                else texts = false;
            }
            if (texts) {
                const size_t bytes = std::min<size_t>(w.Length(), 16);
                const KeyImage key = w.Image();
                lo = ImageLowerBound(p, I.order, [&](const KeyImage& a) { return Head(a, bytes) < key; });
                if (m == n && w.Length() <= 16) {
                    if (equal) *equal = lo < images.size() && Head(images[lo], bytes) == key;
                    return lo;
                }
                hi = RunEnd(images, lo, [&](const KeyImage& a) { return Head(a, bytes) == key; });
            }
        } else if (p.usable) {
            const Value& k = keys[0];
            const bool text = detail::IsTextType(I.schema->fields[size_t(I.keyCols[0])].type);
            if (k.index() == p.kind || (text && IsNullValue(k))) {
                const KeyImage key{SortPrefix(k), 0};
                lo = ImageLowerBound(p, I.order, [&](const KeyImage& a) { return a < key; });
                hi = RunEnd(images, lo, [&](const KeyImage& a) { return a.hi == key.hi; });
            }
        }
    }
    auto it = std::lower_bound(v.begin() + std::ptrdiff_t(lo), v.begin() + std::ptrdiff_t(hi), 0,
                               [&](const Row* r, int) { return CompareKeys(I, r, keys, n) < 0; });
    return size_t(it - v.begin());
}

struct Condition {
    int col;
    Value key;
    bool text;
    bool exact;    // compared by the index order (byte order for texts)
};

bool ConditionHolds(const Condition& c, const Row* r, const LocateOptions& opt) {
    const Value& v = r->Values()[size_t(c.col)];
    if (!c.text) return CompareValues(v, c.key) == 0;
    static const std::string empty;
    const std::string* a = std::get_if<std::string>(&v);
    const std::string& sa = a ? *a : empty;
    const std::string* b = std::get_if<std::string>(&c.key);
    const std::string& sb = b ? *b : empty;
    if (opt.partialKey) return opt.caseInsensitive ? StartsText(sb, sa) : std::string_view(sa).starts_with(sb);
    return opt.caseInsensitive ? SameText(sa, sb) : sa == sb;
}

} // namespace

bool Table::Locate(const std::string& names, const std::vector<Value>& values, LocateOptions opt) {
    Impl& I = *d;
    CheckActive(I);
    std::vector<int> cols = ResolveNames(I, names, "Feld");
    if (cols.size() != values.size() || cols.empty())
        throw Error("Locate: Die Anzahl der Felder und der Werte stimmt nicht überein.");
    BrowseMode(*this, I);

    std::vector<Condition> conds;
    for (size_t i = 0; i < cols.size(); ++i) {
        const FieldDef& f = I.schema->fields[size_t(cols[i])];
        Condition c{cols[i], detail::CoerceToColumn(f, values[i]), detail::IsTextType(f.type), true};
        if (c.text) {
            if (!IsNullValue(c.key) && !std::holds_alternative<std::string>(c.key)) c.key = ValueText(c.key);
            c.exact = !opt.caseInsensitive && !opt.partialKey;
        }
        conds.push_back(std::move(c));
    }

    // The leading index columns searched for exact values narrow the search
    // to one range of the index (binary search); a case-sensitive prefix on
    // the next index column narrows it further.
    std::vector<Value> keys;
    const Condition* prefix = nullptr;
    for (int kc : I.keyCols) {
        auto it = std::find_if(conds.begin(), conds.end(), [&](const Condition& c) { return c.col == kc; });
        if (it == conds.end()) break;
        if (it->exact) {
            keys.push_back(it->key);
            continue;
        }
        if (it->text && opt.partialKey && !opt.caseInsensitive) prefix = &*it;
        break;
    }
    size_t n = keys.size();
    if (prefix) keys.push_back(prefix->key);

    const auto& v = Vis(I);
    size_t start = keys.empty() ? 0 : LowerBound(I, keys, keys.size());
    for (size_t i = start; i < v.size(); ++i) {
        const Row* r = v[i];
        if (n > 0 && CompareKeys(I, r, keys, n) != 0) break;
        if (prefix && !ConditionHolds(*prefix, r, opt)) break;
        bool all = true;
        for (const Condition& c : conds)
            if (!ConditionHolds(c, r, opt)) {
                all = false;
                break;
            }
        if (all) {
            ScrollGuard g(I);
            I.cur = i;
            I.eof = I.bof = false;
            return true;
        }
    }
    return false;
}

bool Table::FindKey(const std::vector<Value>& values) {
    Impl& I = *d;
    CheckActive(I);
    const SearchKeys search(I, values);
    const std::vector<Value>& keys = search.Keys();
    BrowseMode(*this, I);
    bool equal = false;
    size_t p = LowerBound(I, keys, keys.size(), &equal);
    const auto& v = Vis(I);
    if (!equal && (p >= v.size() || CompareKeys(I, v[p], keys, keys.size()) != 0)) return false;
    ScrollGuard g(I);
    I.cur = p;
    I.eof = I.bof = false;
    return true;
}

void Table::FindNearest(const std::vector<Value>& values) {
    Impl& I = *d;
    CheckActive(I);
    const SearchKeys search(I, values);
    const std::vector<Value>& keys = search.Keys();
    BrowseMode(*this, I);
    ScrollGuard g(I);
    size_t p = LowerBound(I, keys, keys.size());
    const auto& v = Vis(I);
    if (p >= v.size()) {
        I.cur = v.empty() ? 0 : v.size() - 1;
        I.eof = true;
        I.bof = v.empty();
        return;
    }
    I.cur = p;
    I.eof = I.bof = false;
}

// ---------------------------------------------------------------------------
// Field access

bool Table::IsNull(std::string_view name) const { return IsNull(Col(*d, name)); }
Value Table::GetValue(std::string_view name) const { return GetValue(Col(*d, name)); }
std::string Table::AsString(std::string_view name) const { return AsString(Col(*d, name)); }

int64_t Table::AsInteger(std::string_view name) const {
    int c = Col(*d, name);
    const Value& v = GetValue(c);
    switch (v.index()) {
    case 0: return 0;
    case 1: {
        const std::string& s = std::get<std::string>(v);
        if (s.empty()) return 0;
        if (auto i = ParseInt(s)) return *i;
        FailConvert(*d, c, s, "keine ganze Zahl");
    }
    case 2: return std::get<int64_t>(v);
    case 3: return RoundHalfEven(std::get<double>(v));
    case 4: return std::get<bool>(v) ? 1 : 0;
    default: return std::get<TDateTime>(v).DatePart();
    }
}

double Table::AsFloat(std::string_view name) const {
    int c = Col(*d, name);
    const Value& v = GetValue(c);
    switch (v.index()) {
    case 0: return 0.0;
    case 1: {
        const std::string& s = std::get<std::string>(v);
        if (s.empty()) return 0.0;
        if (auto x = ParseDecimal(Trim(s))) return *x;
        FailConvert(*d, c, s, "keine Zahl");
    }
    case 2: return double(std::get<int64_t>(v));
    case 3: return std::get<double>(v);
    case 4: return std::get<bool>(v) ? 1.0 : 0.0;
    default: return std::get<TDateTime>(v).Value();
    }
}

bool Table::AsBoolean(std::string_view name) const {
    int c = Col(*d, name);
    const Value& v = GetValue(c);
    switch (v.index()) {
    case 0: return false;
    case 1: {
        const std::string& s = std::get<std::string>(v);
        if (SameText(s, "T") || SameText(s, "True")) return true;
        if (s.empty() || SameText(s, "F") || SameText(s, "False")) return false;
        FailConvert(*d, c, s, "kein Wahrheitswert");
    }
    case 2: return std::get<int64_t>(v) != 0;
    case 3: return std::get<double>(v) != 0.0;
    case 4: return std::get<bool>(v);
    default: FailConvert(*d, c, ValueText(v), "kein Wahrheitswert");
    }
}

TDateTime Table::AsDateTime(std::string_view name) const {
    int c = Col(*d, name);
    const Value& v = GetValue(c);
    switch (v.index()) {
    case 0: return TDateTime();
    case 1: {
        const std::string& s = std::get<std::string>(v);
        if (Trim(s).empty()) return TDateTime();
        if (auto t = detail::ParseGermanDateTime(s)) return *t;
        FailConvert(*d, c, s, "kein Datum");
    }
    case 2: return TDateTime::FromValue(double(std::get<int64_t>(v)));
    case 3: return TDateTime::FromValue(std::get<double>(v));
    case 4: FailConvert(*d, c, ValueText(v), "kein Datum");
    default: return std::get<TDateTime>(v);
    }
}

bool Table::IsNull(int index) const { return IsNullValue(GetValue(index)); }

const Value& Table::GetValue(int index) const {
    const auto& values = ReadValues(*d);
    if (index < 0 || size_t(index) >= values.size()) throw Error("Feldnummer " + std::to_string(index) + " ist ungültig.");
    return values[size_t(index)];
}

std::string Table::AsString(int index) const { return ValueText(GetValue(index)); }

Table& Table::Nested(std::string_view name) {
    Impl& I = *d;
    int c = Col(I, name);
    int slot = I.schema->nestedSlot[size_t(c)];
    if (slot < 0) throw Error("Das Feld \"" + I.schema->fields[size_t(c)].name + "\" ist keine verschachtelte Tabelle.");
    if (I.state == State::Insert) return *I.pending->nested[size_t(slot)];
    if (I.state == State::Edit) return *I.editRow->nested[size_t(slot)];
    Row* r = CurRow(I);
    if (!r) throw Error(kNoRow);
    return *r->nested[size_t(slot)];
}

const Table& Table::Nested(std::string_view name) const { return const_cast<Table*>(this)->Nested(name); }

// ---------------------------------------------------------------------------
// Editing

void Table::Append() {
    Impl& I = *d;
    CheckActive(I);
    BrowseMode(*this, I);
    I.pending = I.NewRow();
    I.insertBefore = nullptr;
    I.bufferModified = false;
    I.state = State::Insert;
}

void Table::Insert() {
    Impl& I = *d;
    CheckActive(I);
    BrowseMode(*this, I);
    I.pending = I.NewRow();
    I.insertBefore = CurRow(I);
    I.bufferModified = false;
    I.state = State::Insert;
}

void Table::Edit() {
    Impl& I = *d;
    CheckActive(I);
    if (I.state == State::Edit || I.state == State::Insert) return;
    Row* r = CurRow(I);
    if (!r) throw Error(kNoRow);
    I.buffer.assign(r->Values().begin(), r->Values().end());
    I.editRow = r;
    I.bufferModified = false;
    I.state = State::Edit;
}

void Table::Post() {
    Impl& I = *d;
    if (I.state != State::Edit && I.state != State::Insert) return;
    if (BeforePost) BeforePost(*this);
    if (I.state == State::Insert) {
        bool visible = !I.filtering || Passes(*this, I, I.pending->Values());
        RowPtr owned = std::move(I.pending);
        Row* r = owned.get();
        r->id = I.nextId++;
        r->seq = SeqBefore(I, I.insertBefore);
        r->log = LogState::Inserted;
        r->visible = visible;
        I.logged.push_back(r);
        I.rows.insert(I.rows.begin() + std::ptrdiff_t(PosBySeq(I.rows, r->seq)), std::move(owned));
        if (I.byIdBuilt) I.byId.emplace(r->id, r);
        I.savedOrders.clear();
        I.orderPrefix.valid = false;
        InsertInto(I.order, r, I.keyCols);
        if (I.filtering && visible) InsertInto(I.view, r, I.keyCols);
        ++I.ownChanges;
        I.state = State::Browse;
        I.insertBefore = nullptr;
        I.bufferModified = false;
        if (visible) PositionOn(I, r);
        else I.cur = std::min(I.cur, Vis(I).empty() ? 0 : Vis(I).size() - 1);
        I.eof = I.bof = Vis(I).empty();
        Notify(I, TableEvent::RowInserted, r->id, SIZE_MAX, visible ? I.cur : SIZE_MAX);
        return;
    }
    Row* r = I.editRow;
    if (I.bufferModified && !std::ranges::equal(I.buffer, r->Values())) {
        bool visible = !I.filtering || Passes(*this, I, I.buffer);
        size_t oldPos = FindPos(Vis(I), r, I.keyCols);   // the size when it was filtered out
        const size_t oldRow = oldPos < Vis(I).size() ? oldPos : SIZE_MAX;
        // An edit that leaves the key columns alone (a counter kept beside
        // the key) keeps the row's place in the order and the order's
        // search images; orders on columns it changed are dropped.
        auto changed = [&](int c) { return !(I.buffer[size_t(c)] == r->Values()[size_t(c)]); };
        const bool keysKept = std::ranges::none_of(I.keyCols, changed);
        std::erase_if(I.savedOrders,
                      [&](const Impl::SavedOrder& o) { return std::ranges::any_of(o.keyCols, changed); });
        const bool wasVisible = r->visible;
        const bool samePlaceInView = keysKept && wasVisible && visible;
        if (!keysKept) {
            I.orderPrefix.valid = false;
            EraseFrom(I.order, r, I.keyCols);
        }
        if (I.filtering && wasVisible && !samePlaceInView) EraseFrom(I.view, r, I.keyCols);
        if (r->log == LogState::Unchanged) {
            r->original = std::make_unique<std::vector<Value>>(std::make_move_iterator(r->Values().begin()),
                                                                std::make_move_iterator(r->Values().end()));
            r->log = LogState::Modified;
            ++I.ownChanges;
            I.logged.push_back(r);
        }
        r->MoveValuesFrom(I.buffer);
        r->visible = visible;
        if (!keysKept) InsertInto(I.order, r, I.keyCols);
        if (I.filtering && visible && !samePlaceInView) InsertInto(I.view, r, I.keyCols);
        I.state = State::Browse;
        I.editRow = nullptr;
        I.buffer.clear();
        I.bufferModified = false;
        if (visible) {
            PositionOn(I, r);
        } else {
            // The row left the filter: the one that followed it becomes current.
            auto& v = Vis(I);
            I.cur = v.empty() ? 0 : std::min(oldPos, v.size() - 1);
            I.eof = I.bof = v.empty();
        }
        Notify(I, TableEvent::RowChanged, r->id, oldRow, visible ? I.cur : SIZE_MAX);
        return;
    }
    I.state = State::Browse;
    I.editRow = nullptr;
    I.buffer.clear();
    I.bufferModified = false;
}

void Table::Cancel() {
    Impl& I = *d;
    if (I.state == State::Insert) {
        I.pending.reset();
        I.insertBefore = nullptr;
    } else if (I.state == State::Edit) {
        I.buffer.clear();
        I.editRow = nullptr;
    } else {
        return;
    }
    I.bufferModified = false;
    I.state = State::Browse;
}

void Table::Delete() {
    Impl& I = *d;
    CheckActive(I);
    if (I.state == State::Insert) {
        Cancel();
        return;
    }
    Cancel();
    Row* r = CurRow(I);
    if (!r) throw Error(kNoRow);
    if (BeforeDelete) BeforeDelete(*this);   // throws to keep the row
    BrowseMode(*this, I);
    size_t pos = FindPos(Vis(I), r, I.keyCols);
    if (pos >= Vis(I).size()) return;   // the hook removed it already
    uint64_t id = r->id;
    I.savedOrders.clear();
    I.orderPrefix.valid = false;
    EraseFrom(I.order, r, I.keyCols);
    if (I.filtering) EraseFrom(I.view, r, I.keyCols);
    if (I.byIdBuilt) I.byId.erase(id);
    size_t at = PosBySeq(I.rows, r->seq);
    I.logged.clear();   // the row may be among them and is gone next
    RowPtr owned = std::move(I.rows[at]);
    I.rows.erase(I.rows.begin() + std::ptrdiff_t(at));
    if (owned->log == LogState::Inserted) {
        --I.ownChanges;
    } else {
        if (owned->log == LogState::Unchanged) ++I.ownChanges;
        I.deleted.push_back(std::move(owned));
    }
    auto& v = Vis(I);
    I.cur = v.empty() ? 0 : std::min(pos, v.size() - 1);
    I.eof = I.bof = v.empty();
    Notify(I, TableEvent::RowDeleted, id, pos);
}

void Table::SetValue(std::string_view name, Value v) { SetValue(Col(*d, name), std::move(v)); }

void Table::SetValue(int index, Value v) {
    Impl& I = *d;
    if (index < 0 || size_t(index) >= I.schema->fields.size())
        throw Error("Feldnummer " + std::to_string(index) + " ist ungültig.");
    std::span<Value> values = WriteValues(I);
    values[size_t(index)] = ConvertForSet(I.schema->fields[size_t(index)], std::move(v));
    I.bufferModified = true;
}

void Table::SetString(std::string_view name, std::string_view v) { SetValue(name, std::string(v)); }
void Table::SetInteger(std::string_view name, int64_t v) { SetValue(name, v); }
void Table::SetFloat(std::string_view name, double v) { SetValue(name, v); }
void Table::SetBoolean(std::string_view name, bool v) { SetValue(name, v); }
void Table::SetDateTime(std::string_view name, TDateTime v) {
    SetValue(name, v.IsNull() ? Value() : Value(v));
}
void Table::SetNull(std::string_view name) { SetValue(name, Value()); }

// ---------------------------------------------------------------------------
// Change log

int Table::ChangeCount() const {
    const Impl& I = *d;
    int n = I.ownChanges;
    if (I.schema->nestedCount > 0)
        for (auto& r : I.rows)
            for (auto& t : r->nested) n += t->ChangeCount();
    return n;
}

void Table::MergeChangeLog() {
    Impl& I = *d;
    if (I.schema->nestedCount == 0 && size_t(I.ownChanges) == I.logged.size() + I.deleted.size()) {
        for (Row* r : I.logged) {
            r->log = LogState::Unchanged;
            r->original.reset();
        }
    } else {
        for (auto& r : I.rows) {
            r->log = LogState::Unchanged;
            r->original.reset();
            for (auto& t : r->nested) t->MergeChangeLog();
        }
    }
    I.logged.clear();
    I.deleted.clear();
    I.ownChanges = 0;
}

void Table::CancelUpdates() {
    Impl& I = *d;
    if (!I.active) return;
    Cancel();
    Row* cur = CurRow(I);
    uint64_t curId = cur ? cur->id : 0;
    std::vector<RowPtr> kept;
    kept.reserve(I.rows.size() + I.deleted.size());
    for (auto& r : I.rows) {
        if (r->log == LogState::Inserted) {
            continue;
        }
        kept.push_back(std::move(r));
    }
    for (auto& r : I.deleted) {
        kept.push_back(std::move(r));
    }
    I.deleted.clear();
    std::stable_sort(kept.begin(), kept.end(), [](const RowPtr& a, const RowPtr& b) { return a->seq < b->seq; });
    for (auto& r : kept) {
        if (r->log == LogState::Modified && r->original) r->MoveValuesFrom(*r->original);
        r->original.reset();
        r->log = LogState::Unchanged;
        for (auto& t : r->nested) t->CancelUpdates();
    }
    I.rows = std::move(kept);
    I.ownChanges = 0;
    I.logged.clear();
    I.savedOrders.clear();
    RebuildOrder(I);
    RebuildView(*this, I, true);
    I.byIdBuilt = false;
    PositionOn(I, curId ? I.FindRow(curId) : nullptr);
    Notify(I, TableEvent::Reset, 0);
}

// ---------------------------------------------------------------------------
// Notifications

int Table::Subscribe(Listener l) {
    return SubscribeChanges([l = std::move(l)](const Change& c) { l(c.event, c.bookmark); });
}

int Table::SubscribeChanges(ChangeListener l) {
    int id = d->nextListener++;
    d->listeners.emplace_back(id, std::move(l));
    return id;
}

const Value& Table::ValueAt(int row, int column) const {
    const auto& v = Vis(*d);
    if (row < 0 || size_t(row) >= v.size() || column < 0 || column >= FieldCount())
        throw Error("Zeile oder Spalte außerhalb der Tabelle");
    return v[size_t(row)]->Values()[size_t(column)];
}

Table::Bookmark Table::BookmarkAt(int row) const {
    const auto& v = Vis(*d);
    return row >= 0 && size_t(row) < v.size() ? v[size_t(row)]->id : 0;
}

int Table::RowOf(Bookmark b) const {
    const Row* r = b ? d->FindRow(b) : nullptr;
    if (!r || (d->filtering && !r->visible)) return -1;
    const auto& v = Vis(*d);
    const size_t p = FindPos(v, r, d->keyCols);
    return p < v.size() ? int(p) : -1;
}

void Table::Unsubscribe(int id) {
    auto& ls = d->listeners;
    ls.erase(std::remove_if(ls.begin(), ls.end(), [id](const auto& p) { return p.first == id; }), ls.end());
}

void Table::BeginUpdate() { ++d->updateDepth; }

void Table::EndUpdate() {
    if (d->updateDepth > 0 && --d->updateDepth == 0) Notify(*d, TableEvent::Reset, 0);
}

} // namespace brenvo
