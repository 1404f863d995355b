#include "DataPacket.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../base/Cp1252.h"
#include "../base/Error.h"
#include "../base/Files.h"
#include "../base/Strings.h"
#include "XmlScanner.h"

namespace brenvo::detail {

namespace {

// ---------------------------------------------------------------------------
// Calendar arithmetic on day numbers (days since 30.12.1899), fast enough for
// millions of values.

constexpr int64_t kMsPerDay = 86400000;

constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

constexpr int64_t kEpochShift = DaysFromCivil(1899, 12, 30);   // 30.12.1899 relative to 01.01.1970

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yy + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool ValidDate(int y, int m, int d) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    return d <= days[m - 1] + (m == 2 && IsLeap(y) ? 1 : 0);
}

double DayValue(int64_t day, int64_t ms) {
    double t = double(ms) / double(kMsPerDay);
    return day < 0 ? double(day) - t : double(day) + t;
}

// Splits a value into the day number and the milliseconds of the day,
// rounded to the nearest millisecond.
void SplitDayValue(double v, int64_t& day, int64_t& ms) {
    double whole;
    double frac = std::modf(v, &whole);
    day = int64_t(whole);
    ms = std::llround(std::fabs(frac) * double(kMsPerDay));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        day += 1;
    }
}

// ---------------------------------------------------------------------------
// Reading values

enum class Kind : uint8_t { Text, Int, Float, Bool, Date, Time, DateTime, Nested };

Kind KindOf(const FieldDef& f) {
    switch (f.type) {
    case FieldType::String:
    case FieldType::Memo: return Kind::Text;
    case FieldType::Integer: return Kind::Int;
    case FieldType::Float: return Kind::Float;
    case FieldType::Boolean: return Kind::Bool;
    case FieldType::Nested: return Kind::Nested;
    case FieldType::DateTime: break;
    }
    std::string x = EffectiveXmlType(f);
    if (SameText(x, "date")) return Kind::Date;
    if (SameText(x, "time")) return Kind::Time;
    return Kind::DateTime;
}

bool Digits(const char* s, int n, int& out) {
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    out = v;
    return true;
}

bool ReadDay(const char* s, size_t n, int64_t& day) {
    int y, m, d;
    if (n < 8 || !Digits(s, 4, y) || !Digits(s + 4, 2, m) || !Digits(s + 6, 2, d) || !ValidDate(y, m, d))
        return false;
    day = DaysFromCivil(y, unsigned(m), unsigned(d)) - kEpochShift;
    return true;
}

// HH:NN:SS followed by three digits of milliseconds (which may be left out).
bool ReadTimeOfDay(const char* s, size_t n, int64_t& ms) {
    int h, mi, se, z = 0;
    if ((n != 8 && n != 11) || s[2] != ':' || s[5] != ':' || !Digits(s, 2, h) || !Digits(s + 3, 2, mi) ||
        !Digits(s + 6, 2, se))
        return false;
    if (n == 11 && !Digits(s + 8, 3, z)) return false;
    if (h > 23 || mi > 59 || se > 59) return false;
    ms = ((int64_t(h) * 60 + mi) * 60 + se) * 1000 + z;
    return true;
}

// A number of type T filling all of [s, e), an optional "+" before it.
template <typename T>
bool ReadNumber(const char* s, const char* e, Value& out) {
    const char* b = (*s == '+') ? s + 1 : s;
    T v;
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || p != e || b == e) return false;
    out = v;
    return true;
}

bool ReadValue(Kind kind, std::string_view text, Value& out) {
    const char* s = text.data();
    size_t n = text.size();
    switch (kind) {
    case Kind::Text:
        out.emplace<std::string>(s, n);
        return true;
    case Kind::Nested: return true;
    default: break;
    }
    if (n == 0) {   // an empty value of another type counts as null
        out = Value();
        return true;
    }
    const char* e = s + n;
    switch (kind) {
    case Kind::Int: return ReadNumber<int64_t>(s, e, out);
    case Kind::Float: return ReadNumber<double>(s, e, out);
    case Kind::Bool:
        if (SameText(text, "TRUE") || text == "1") out = true;
        else if (SameText(text, "FALSE") || text == "0") out = false;
        else return false;
        return true;
    case Kind::Date: {
        int64_t day;
        if (n != 8 || !ReadDay(s, n, day)) return false;
        out = TDateTime::FromValue(double(day));
        return true;
    }
    case Kind::Time: {
        int64_t ms;
        if (!ReadTimeOfDay(s, n, ms)) return false;
        out = TDateTime::FromValue(DayValue(0, ms));
        return true;
    }
    case Kind::DateTime: {
        int64_t day, ms = 0;
        if (!ReadDay(s, n, day)) return false;
        if (n != 8 && (s[8] != 'T' || !ReadTimeOfDay(s + 9, n - 9, ms))) return false;
        out = TDateTime::FromValue(DayValue(day, ms));
        return true;
    }
    default: return false;
    }
}

// ---------------------------------------------------------------------------
// Reading the packet

struct Level {
    std::vector<FieldDef> fields;
    std::vector<Kind> kinds;
    std::vector<int> nestedSlot;                 // per column, -1 when not nested
    std::vector<std::unique_ptr<Level>> nested;  // per nested slot
    std::string rowName;                         // "ROW" or "ROW" + column name
    std::shared_ptr<const Schema> schema;        // of the nested tables of this level, built once
};

class Reader {
public:
    Reader(XmlScanner& x, const std::string& name) : x_(x), name_(name) {}

    [[noreturn]] void NotAPacket(const std::string& detail = {}) const {
        throw Error("Die Datei \"" + name_ + "\" ist kein XML-Datenpaket." + (detail.empty() ? "" : " (" + detail + ")"));
    }

    // The whole document: the columns from METADATA, the rows from ROWDATA.
    PacketData ReadDocument() {
        if (x_.Next() != XmlScanner::Event::Start || x_.Name() != "DATAPACKET") NotAPacket();
        Level top;
        top.rowName = "ROW";
        bool haveFields = false;
        PacketData data;
        while (x_.Next() == XmlScanner::Event::Start) {
            if (x_.Name() == "METADATA") {
                while (x_.Next() == XmlScanner::Event::Start) {
                    if (x_.Name() == "FIELDS" && !haveFields) {
                        ReadFields(top);
                        haveFields = true;
                    } else {
                        x_.SkipElement();
                    }
                }
            } else if (x_.Name() == "ROWDATA") {
                if (!haveFields) NotAPacket("METADATA/FIELDS fehlt");
                std::vector<RowPtr> rows = ReadRows(top);
                if (data.rows.empty()) data.rows = std::move(rows);
                else for (auto& r : rows) data.rows.push_back(std::move(r));
            } else {
                x_.SkipElement();
            }
        }
        if (!haveFields) NotAPacket("METADATA/FIELDS fehlt");
        x_.Next();   // the end of the text; fails on anything but comments and blanks
        data.fields = std::move(top.fields);
        return data;
    }

private:
    // The FIELD elements of a FIELDS element just started.
    void ReadFields(Level& L) {
        while (x_.Next() == XmlScanner::Event::Start) {
            if (x_.Name() != "FIELD") {
                x_.SkipElement();
                continue;
            }
            FieldDef def;
            std::string type;
            std::string_view an, av;
            while (x_.NextAttribute(an, av)) {
                std::string_view v = x_.Decode(av, scratch_);
                if (an == "attrname") def.name = v;
                else if (an == "fieldtype") type = v;
                else if (an == "SUBTYPE") def.subtype = v;
                else if (an == "WIDTH") std::from_chars(v.data(), v.data() + v.size(), def.width);
            }
            if (def.name.empty()) NotAPacket("eine Spalte ohne attrname");
            if (!IsXmlName(def.name)) NotAPacket("ungültiger Spaltenname \"" + def.name + "\"");
            for (const FieldDef& other : L.fields)
                if (SameName(other.name, def.name))
                    throw Error("Die Datei \"" + name_ + "\" enthält die Spalte \"" + def.name + "\" mehrfach.");
            def.xmlType = type;
            auto is = [&](std::initializer_list<const char*> names) {
                for (const char* n : names)
                    if (SameText(type, n)) return true;
                return false;
            };
            if (is({"string", "string.uni"})) def.type = FieldType::String;
            else if (is({"i1", "i2", "i4", "i8", "ui1", "ui2", "ui4", "ui8"})) def.type = FieldType::Integer;
            else if (is({"r8", "r4", "fixed", "fixedFMT"})) def.type = FieldType::Float;
            else if (is({"boolean"})) def.type = FieldType::Boolean;
            else if (is({"date", "time", "dateTime"})) def.type = FieldType::DateTime;
            else if (is({"bin.hex"})) def.type = FieldType::Memo;
            else if (is({"nested"})) def.type = FieldType::Nested;
            else
                throw Error("Die Datei \"" + name_ + "\" enthält die Spalte \"" + def.name +
                            "\" mit dem unbekannten Typ \"" + type + "\".");
            if (def.type != FieldType::String) def.width = 0;
            std::unique_ptr<Level> sub;
            if (def.type == FieldType::Nested) {
                sub = std::make_unique<Level>();
                sub->rowName = "ROW" + def.name;
            }
            while (x_.Next() == XmlScanner::Event::Start) {
                if (sub && x_.Name() == "FIELDS" && sub->fields.empty()) ReadFields(*sub);
                else x_.SkipElement();
            }
            if (sub) {
                def.nested = sub->fields;
                sub->schema = Schema::Build(sub->fields);
            }
            L.kinds.push_back(KindOf(def));
            L.nestedSlot.push_back(sub ? int(L.nested.size()) : -1);
            if (sub) L.nested.push_back(std::move(sub));
            L.fields.push_back(std::move(def));
        }
    }

    // The column an attribute or child element names; `hint` is where the
    // search starts (attributes usually follow the column order).
    static int FindColumn(const Level& L, std::string_view name, size_t& hint) {
        size_t n = L.fields.size();
        for (size_t k = 0; k < n; ++k) {
            size_t i = (hint + k) % n;
            if (L.fields[i].name == name) {
                hint = i + 1;
                return int(i);
            }
        }
        for (size_t i = 0; i < n; ++i)
            if (SameName(L.fields[i].name, name)) return int(i);
        return -1;
    }

    // One row element just started, with its nested rows.
    RowPtr ReadRow(const Level& L, std::vector<char>& present, int& rowState) {
        RowPtr r = Row::Make(L.fields.size(), &arena_);
        present.assign(L.fields.size(), 0);
        rowState = 0;
        size_t hint = 0;
        std::string_view an, av;
        while (x_.NextAttribute(an, av)) {
            int c = FindColumn(L, an, hint);
            std::string_view v = x_.Decode(av, scratch_);
            if (c < 0) {
                if (an == "RowState") std::from_chars(v.data(), v.data() + v.size(), rowState);
                continue;   // unknown attributes are ignored
            }
            Kind k = L.kinds[size_t(c)];
            if (k == Kind::Nested) continue;
            if (!ReadValue(k, v, r->Values()[size_t(c)]))
                throw Error("Die Datei \"" + name_ + "\" enthält in der Spalte \"" + L.fields[size_t(c)].name +
                            "\" den ungültigen Wert \"" + std::string(v) + "\".");
            present[size_t(c)] = 1;
        }
        if (!L.nested.empty()) r->nested.resize(L.nested.size());
        size_t childHint = 0;
        while (x_.Next() == XmlScanner::Event::Start) {
            int c = FindColumn(L, x_.Name(), childHint);
            if (c < 0 || L.nestedSlot[size_t(c)] < 0) {
                x_.SkipElement();
                continue;
            }
            size_t slot = size_t(L.nestedSlot[size_t(c)]);
            const Level& sub = *L.nested[slot];
            r->nested[slot] = MakeTable(sub, ReadRows(sub));
            present[size_t(c)] = 1;
        }
        for (size_t slot = 0; slot < r->nested.size(); ++slot)
            if (!r->nested[slot]) r->nested[slot] = MakeTable(*L.nested[slot], {});
        return r;
    }

    static std::unique_ptr<Table> MakeTable(const Level& L, std::vector<RowPtr> rows) {
        return Table::Impl::MakeTable(L.schema, std::move(rows));
    }

    // The rows inside the element just started, with a change log merged:
    // deleted rows dropped, an original image replaced by the modified image
    // that follows it.
    std::vector<RowPtr> ReadRows(const Level& L) {
        std::vector<RowPtr> out;
        std::vector<char> present;
        Row* original = nullptr;
        while (x_.Next() == XmlScanner::Event::Start) {
            std::string_view nm = x_.Name();
            if (nm != L.rowName && !SameText(nm, L.rowName)) {
                x_.SkipElement();
                continue;
            }
            int state = 0;
            RowPtr r = ReadRow(L, present, state);
            if (state & 2) {   // deleted
                original = nullptr;
                continue;
            }
            if ((state & 8) && original) {   // modified image of the row before
                for (size_t i = 0; i < L.fields.size(); ++i) {
                    if (!present[i]) continue;
                    int slot = L.nestedSlot[i];
                    if (slot >= 0) original->nested[size_t(slot)] = std::move(r->nested[size_t(slot)]);
                    else original->Values()[i] = std::move(r->Values()[i]);
                }
                original = nullptr;
                continue;
            }
            out.push_back(std::move(r));
            original = (state & 1) ? out.back().get() : nullptr;
        }
        return out;
    }

    XmlScanner& x_;
    const std::string& name_;
    RowArena arena_;   // the rows of this file, one after another
    std::string scratch_;
};

// The encoding named in the XML declaration; empty when there is none.
std::string DeclaredEncoding(std::string_view text) {
    if (!text.starts_with("<?xml")) return {};
    size_t end = text.find("?>");
    if (end == std::string_view::npos) return {};
    std::string_view decl = text.substr(0, end);
    size_t p = decl.find("encoding");
    if (p == std::string_view::npos) return {};
    p += 8;
    while (p < decl.size() && (decl[p] == ' ' || decl[p] == '=' || decl[p] == '\t')) ++p;
    if (p >= decl.size() || (decl[p] != '"' && decl[p] != '\'')) return {};
    char q = decl[p++];
    size_t e = decl.find(q, p);
    if (e == std::string_view::npos) return {};
    return std::string(decl.substr(p, e - p));
}

bool IsUtf8Name(const std::string& enc) { return enc.empty() || SameText(enc, "UTF-8") || SameText(enc, "UTF8"); }

bool IsSingleByteName(const std::string& enc) {
    for (const char* n : {"ISO-8859-1", "ISO8859-1", "LATIN1", "ISO-8859-15", "ISO8859-15", "LATIN9", "windows-1252", "CP1252"})
        if (SameText(enc, n)) return true;
    return false;
}

// Quick check of UTF-8: whole words of ASCII are skipped.
bool ValidUtf8(std::string_view s) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned char* e = p + s.size();
    while (p < e) {
        if (e - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            if ((w & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int len;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
        else return false;
        if (e - p < len) return false;
        for (int i = 1; i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += len;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Writing

// The rows are written through a cursor into a buffer made large enough for
// each row beforehand, instead of appending piece by piece.
class Cursor {
public:
    explicit Cursor(std::string& s) : s_(s), used_(s.size()) { s_.resize(s_.capacity()); }
    ~Cursor() { s_.resize(used_); }
    // A pointer with room for at least n bytes; hand the end back with Commit.
    char* Room(size_t n) {
        if (s_.size() - used_ < n) s_.resize(std::max(s_.size() * 2, used_ + n));
        return s_.data() + used_;
    }
    void Commit(char* end) { used_ = size_t(end - s_.data()); }

private:
    std::string& s_;
    size_t used_;
};

const char* const kNeedsEscape = [] {
    static char table[256] = {};
    for (int c = 0; c < 0x20; ++c) table[c] = 1;
    for (unsigned char c : {'&', '<', '>', '"'}) table[c] = 1;
    return table;
}();

// At most six bytes are written for one byte of text ("&quot;").
constexpr size_t kEscapeGrowth = 6;

char* PutText(char* p, std::string_view s) {
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
}

char* PutEscaped(char* p, std::string_view s) {
    const char* run = s.data();
    const char* e = run + s.size();
    for (const char* q = run; q < e; ++q) {
        unsigned char c = static_cast<unsigned char>(*q);
        if (!kNeedsEscape[c]) continue;
        p = PutText(p, std::string_view(run, size_t(q - run)));
        switch (c) {
        case '&': p = PutText(p, "&amp;"); break;
        case '<': p = PutText(p, "&lt;"); break;
        case '>': p = PutText(p, "&gt;"); break;
        case '"': p = PutText(p, "&quot;"); break;
        default:
            *p++ = '&';
            *p++ = '#';
            if (c >= 10) *p++ = char('0' + c / 10);
            *p++ = char('0' + c % 10);
            *p++ = ';';
        }
        run = q + 1;
    }
    return PutText(p, std::string_view(run, size_t(e - run)));
}

void Put2(char*& p, int v) {
    *p++ = char('0' + v / 10);
    *p++ = char('0' + v % 10);
}

char* PutDateTime(char* p, Kind kind, TDateTime t) {
    int64_t day, ms;
    SplitDayValue(t.Value(), day, ms);
    if (kind != Kind::Time) {
        int y, m, d;
        CivilFromDays(day + kEpochShift, y, m, d);
        y = std::clamp(y, 0, 9999);
        Put2(p, y / 100);
        Put2(p, y % 100);
        Put2(p, m);
        Put2(p, d);
        if (kind == Kind::Date) return p;
        *p++ = 'T';
    }
    int64_t sec = ms / 1000;
    Put2(p, int(sec / 3600));
    *p++ = ':';
    Put2(p, int(sec / 60 % 60));
    *p++ = ':';
    Put2(p, int(sec % 60));
    int z = int(ms % 1000);
    *p++ = char('0' + z / 100);
    Put2(p, z % 100);
    return p;
}

// Room a value needs at most.
size_t ValueRoom(const Value& v) {
    if (auto* s = std::get_if<std::string>(&v)) return s->size() * kEscapeGrowth;
    return 40;
}

char* PutValue(char* p, Kind kind, const Value& v) {
    switch (v.index()) {
    case 1: return PutEscaped(p, std::get<std::string>(v));
    case 2: return std::to_chars(p, p + 40, std::get<int64_t>(v)).ptr;
    // The shortest text that reads back as the same number.
    case 3: return std::to_chars(p, p + 40, std::get<double>(v)).ptr;
    case 4: return PutText(p, std::get<bool>(v) ? "TRUE" : "FALSE");
    case 5: return PutDateTime(p, kind == Kind::Text ? Kind::DateTime : kind, std::get<TDateTime>(v));
    }
    return p;
}

void AppendEscaped(std::string& out, std::string_view s) {
    size_t at = out.size();
    out.resize(at + s.size() * kEscapeGrowth);
    char* end = PutEscaped(out.data() + at, s);
    out.resize(size_t(end - out.data()));
}

void AppendIndent(std::string& out, int n) { out.append(size_t(n), ' '); }

void WriteFields(std::string& out, const std::vector<FieldDef>& fields, int indent) {
    AppendIndent(out, indent);
    out += "<FIELDS>\n";
    for (const FieldDef& f : fields) {
        AppendIndent(out, indent + 2);
        out += "<FIELD attrname=\"";
        AppendEscaped(out, f.name);
        out += "\" fieldtype=\"";
        std::string type = EffectiveXmlType(f);
        AppendEscaped(out, type);
        out += '"';
        if (f.type == FieldType::String && f.width > 0) {
            out += " WIDTH=\"";
            out += std::to_string(f.width);
            out += '"';
        }
        std::string subtype = f.subtype;
        if (subtype.empty() && f.type == FieldType::Memo) subtype = "Text";
        if (!subtype.empty()) {
            out += " SUBTYPE=\"";
            AppendEscaped(out, subtype);
            out += '"';
        }
        if (f.type == FieldType::Nested) {
            out += ">\n";
            WriteFields(out, f.nested, indent + 4);
            AppendIndent(out, indent + 4);
            out += "<PARAMS/>\n";
            AppendIndent(out, indent + 2);
            out += "</FIELD>\n";
        } else {
            out += "/>\n";
        }
    }
    AppendIndent(out, indent);
    out += "</FIELDS>\n";
}

void WriteRows(Cursor& out, const Table::Impl& t, std::string_view rowName, int indent) {
    const size_t n = t.schema->fields.size();
    std::vector<Kind> kinds(n);
    size_t fixedRoom = size_t(indent) + rowName.size() + 8;
    for (size_t i = 0; i < n; ++i) {
        kinds[i] = KindOf(t.schema->fields[i]);
        fixedRoom += t.schema->fields[i].name.size() + 4;
    }
    const std::string indentText(size_t(indent) + 2, ' ');
    for (const RowPtr& r : t.rows) {
        size_t room = fixedRoom;
        for (size_t i = 0; i < n; ++i) room += ValueRoom(r->Values()[i]);
        char* p = out.Room(room);
        p = PutText(p, std::string_view(indentText).substr(2));
        *p++ = '<';
        p = PutText(p, rowName);
        for (size_t i = 0; i < n; ++i) {
            const Value& v = r->Values()[i];
            if (kinds[i] == Kind::Nested || IsNullValue(v)) continue;
            *p++ = ' ';
            p = PutText(p, t.schema->fields[i].name);
            *p++ = '=';
            *p++ = '"';
            p = PutValue(p, kinds[i], v);
            *p++ = '"';
        }
        bool children = false;
        for (size_t i = 0; i < n; ++i) {
            int slot = t.schema->nestedSlot[i];
            if (slot < 0) continue;
            const Table::Impl& sub = Table::Impl::Of(*r->nested[size_t(slot)]);
            if (sub.rows.empty()) continue;
            if (!children) p = PutText(p, ">\n");
            children = true;
            const std::string& col = t.schema->fields[i].name;
            out.Commit(p);
            p = out.Room(indentText.size() + col.size() + 4);
            p = PutText(p, indentText);
            *p++ = '<';
            p = PutText(p, col);
            p = PutText(p, ">\n");
            out.Commit(p);
            WriteRows(out, sub, "ROW" + col, indent + 4);
            p = out.Room(indentText.size() + col.size() + 5 + rowName.size() + size_t(indent) + 4);
            p = PutText(p, indentText);
            p = PutText(p, "</");
            p = PutText(p, col);
            p = PutText(p, ">\n");
        }
        if (children) {
            p = PutText(p, std::string_view(indentText).substr(2));
            p = PutText(p, "</");
            p = PutText(p, rowName);
            p = PutText(p, ">\n");
        } else {
            p = PutText(p, "/>\n");
        }
        out.Commit(p);
    }
}

} // namespace

namespace {

// A table file mapped into memory read-only; its pages come from the page
// cache without being copied.
class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        if (!FileExists(path)) throw Error("Die Datei \"" + path + "\" wurde nicht gefunden.");
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size > 0) {
            void* m = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
            if (m != MAP_FAILED) {
                data_ = m;
                size_ = size_t(st.st_size);
            }
        }
        if (fd >= 0) ::close(fd);
        if (data_) return;
        try {
            copy_ = ReadFileBytes(path);
        } catch (const Error& e) {
            throw Error("Die Datei \"" + path + "\" kann nicht gelesen werden: " + e.what());
        }
    }
    ~MappedFile() {
        if (data_) ::munmap(data_, size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::string_view Text() const { return data_ ? std::string_view(static_cast<const char*>(data_), size_) : copy_; }

private:
    void* data_ = nullptr;
    size_t size_ = 0;
    std::string copy_;
};

} // namespace

PacketData ReadDataPacketFile(const std::string& path) {
    MappedFile file(path);
    return ReadDataPacket(file.Text(), path);
}

PacketData ReadDataPacket(std::string_view bytes, const std::string& name) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    std::string enc = DeclaredEncoding(bytes);
    std::string converted;
    if (IsUtf8Name(enc)) {
        if (!ValidUtf8(bytes)) throw Error("Die Datei \"" + name + "\" ist nicht gültig in UTF-8 kodiert.");
    } else if (IsSingleByteName(enc)) {
        try {
            converted = ToUtf8(bytes, enc);
        } catch (const Error&) {
            throw Error("Die Datei \"" + name + "\" ist in der Zeichenkodierung \"" + enc + "\" nicht lesbar.");
        }
        bytes = converted;
    } else {
        throw Error("Die Datei \"" + name + "\" hat die nicht unterstützte Zeichenkodierung \"" + enc + "\".");
    }
    XmlScanner scanner(bytes);
    Reader reader(scanner, name);
    try {
        return reader.ReadDocument();
    } catch (const XmlScanner::SyntaxError& e) {
        reader.NotAPacket("XML-Fehler in Zeile " + std::to_string(e.line) + ": " + e.what);
    }
}

namespace {
// Maps the pages of a large, still empty buffer in one go: touching fresh
// pages one by one costs far more on virtual machines.
void Prefault(std::string& out) {
#ifdef MADV_POPULATE_WRITE
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    uintptr_t b = (uintptr_t(out.data() + out.size()) + page - 1) & ~(page - 1);
    uintptr_t e = uintptr_t(out.data() + out.capacity()) & ~(page - 1);
    if (e > b && e - b >= (uintptr_t(1) << 20)) ::madvise(reinterpret_cast<void*>(b), e - b, MADV_POPULATE_WRITE);
#else
    (void)out;
#endif
}
} // namespace

void WriteDataPacket(const Table::Impl& table, std::string& out) {
    // Room for each column name with an average value of ten bytes.
    size_t perRow = 16;
    for (const FieldDef& f : table.schema->fields) perRow += f.name.size() + 14;
    out.reserve(out.size() + 256 + table.rows.size() * perRow);
    Prefault(out);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    out += "<DATAPACKET Version=\"2.0\">\n";
    out += "  <METADATA>\n";
    WriteFields(out, table.schema->fields, 4);
    out += "    <PARAMS/>\n";
    out += "  </METADATA>\n";
    if (table.rows.empty()) {
        out += "  <ROWDATA/>\n";
    } else {
        out += "  <ROWDATA>\n";
        {
            Cursor cursor(out);
            WriteRows(cursor, table, "ROW", 4);
        }
        out += "  </ROWDATA>\n";
    }
    out += "</DATAPACKET>\n";
}

} // namespace brenvo::detail
