#include "InvoiceDocument.h"

#include <pugixml.hpp>

#include <cmath>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "lib/base/Cp1252.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

enum class Kind { Text, Integer, Number, Money, Date };

struct FieldLayout {
    const char* name;
    Kind kind;
    int width;       // texts only
    bool required;
};

// The fields of each level in file order (the nested field is added by the
// builders below).
const FieldLayout kHeader[] = {
    {"RechID", Kind::Integer, 0, true},
    {"SaRechNr", Kind::Text, 14, true},
    {"EinzelRechNr", Kind::Text, 6, true},
    {"RechDatum", Kind::Date, 0, true},
    {"IKLE", Kind::Text, 9, true},
    {"IKKT", Kind::Text, 9, true},
    {"IKPat", Kind::Text, 9, true},
    {"RBetragBrutto", Kind::Money, 0, false},
    {"RBetragNetto", Kind::Money, 0, false},
    {"RBetragZuZa", Kind::Money, 0, false},
    {"Name1", Kind::Text, 30, false},
    {"Name2", Kind::Text, 30, false},
    {"Name3", Kind::Text, 30, false},
    {"Name4", Kind::Text, 30, false},
    {"Steuernummer", Kind::Text, 20, false},
    {"UStBefreit", Kind::Text, 1, false},
    {"SkontoProzent", Kind::Number, 0, false},
    {"SkontoTage", Kind::Integer, 0, false},
};

const FieldLayout kCase[] = {
    {"ARechID", Kind::Integer, 0, false},
    {"AbrFallID", Kind::Integer, 0, true},
    {"IKPat", Kind::Text, 9, true},
    {"IKLE", Kind::Text, 9, false},
    {"VersNum", Kind::Text, 12, false},
    {"Status", Kind::Text, 5, false},
    {"VONum", Kind::Text, 10, true},
    {"Nachname", Kind::Text, 47, true},
    {"Vorname", Kind::Text, 30, true},
    {"Geb", Kind::Date, 0, true},
    {"Strasse", Kind::Text, 30, false},
    {"Plz", Kind::Text, 5, false},
    {"Ort", Kind::Text, 25, false},
    {"ArztN", Kind::Text, 9, false},
    {"BSN", Kind::Text, 9, false},
    {"VODatum", Kind::Date, 0, false},
    {"ZuzaKennz", Kind::Text, 1, false},
    {"Unfall", Kind::Text, 1, false},
    {"BVG", Kind::Text, 1, false},
    {"GenZeich", Kind::Text, 12, false},
    {"GenDatum", Kind::Date, 0, false},
    {"GenArt", Kind::Text, 2, false},
    {"FallInfo", Kind::Text, 500, false},
    {"BetragBrutto", Kind::Money, 0, false},
    {"BetragZuZaSum", Kind::Money, 0, false},
    {"BetragZuZaPausch", Kind::Money, 0, false},
    {"Land", Kind::Text, 3, false},
    {"BelegInfo", Kind::Text, 1, false},
    {"BesVersForm", Kind::Text, 25, false},
    {"EVO_ID", Kind::Text, 256, false},
    {"IMG_Jahr", Kind::Text, 4, false},
    {"IMG_Monat", Kind::Text, 2, false},
    {"IMG_IK", Kind::Text, 9, false},
};

const FieldLayout kTrip[] = {
    {"LRechID", Kind::Integer, 0, false},
    {"LAbrFallID", Kind::Integer, 0, true},
    {"LeistID", Kind::Integer, 0, true},
    {"Datum", Kind::Date, 0, true},
    {"ZuZaArt", Kind::Text, 2, false},
    {"ZuZaBetrag", Kind::Money, 0, false},
    {"BruttoSum", Kind::Money, 0, true},
    {"KM", Kind::Number, 0, false},
    {"ZEIT1", Kind::Text, 4, false},
    {"ZEIT2", Kind::Text, 4, false},
    {"DAUER", Kind::Integer, 0, false},
    {"VON_LAND", Kind::Text, 3, false},
    {"VON_PLZ", Kind::Text, 7, false},
    {"VON_ORT", Kind::Text, 25, false},
    {"VON_STRASSE", Kind::Text, 30, false},
    {"NACH_LAND", Kind::Text, 3, false},
    {"NACH_PLZ", Kind::Text, 7, false},
    {"NACH_ORT", Kind::Text, 25, false},
    {"NACH_STRASSE", Kind::Text, 30, false},
    {"IKLE", Kind::Text, 9, false},
    {"EinzelReNr", Kind::Integer, 0, false},
    {"WagenNr", Kind::Integer, 0, false},
};

const FieldLayout kPosition[] = {
    {"EFRechID", Kind::Integer, 0, false},
    {"EFAbrFallID", Kind::Integer, 0, true},
    {"EFLeistID", Kind::Integer, 0, false},
    {"MEINEID", Kind::Integer, 0, false},
    {"Tarif", Kind::Text, 7, true},
    {"PosNum", Kind::Text, 10, true},
    {"Menge", Kind::Number, 0, true},
    {"EPreis", Kind::Money, 0, true},
    {"USt", Kind::Number, 0, false},
    {"Text", Kind::Text, 70, false},
    {"BPosNum", Kind::Text, 6, false},
    {"MwStSatz", Kind::Number, 0, false},
};

template <size_t N>
std::vector<FieldDef> Defs(const FieldLayout (&layout)[N], bool withGenArt = true) {
    std::vector<FieldDef> out;
    for (const auto& s : layout) {
        if (!withGenArt && std::string_view(s.name) == "GenArt") continue;
        switch (s.kind) {
        case Kind::Text: out.push_back(FieldDef::Str(s.name, s.width)); break;
        case Kind::Integer: out.push_back(FieldDef::Int(s.name)); break;
        case Kind::Number: out.push_back(FieldDef::Flt(s.name)); break;
        case Kind::Money: out.push_back(FieldDef::Money(s.name)); break;
        case Kind::Date: out.push_back(FieldDef::Date(s.name)); break;
        }
    }
    return out;
}

template <size_t N>
std::vector<std::string> Required(const FieldLayout (&layout)[N]) {
    std::vector<std::string> out;
    for (const auto& s : layout)
        if (s.required) out.emplace_back(s.name);
    return out;
}

// ---------------------------------------------------------------- dates

bool TwoDigits(std::string_view s, size_t at, int& out) {
    if (at + 2 > s.size() || !std::isdigit(static_cast<unsigned char>(s[at])) ||
        !std::isdigit(static_cast<unsigned char>(s[at + 1])))
        return false;
    out = (s[at] - '0') * 10 + (s[at + 1] - '0');
    return true;
}

// YYYY-MM-DD, optionally followed by THH:MM:SS and a fraction of 1 to 3 digits.
std::optional<TDateTime> ParseIsoDate(std::string_view s) {
    if (s.size() < 10 || s[4] != '-' || s[7] != '-') return std::nullopt;
    if (!IsDigits(s.substr(0, 4))) return std::nullopt;
    int y = std::stoi(std::string(s.substr(0, 4))), mo = 0, d = 0;
    if (!TwoDigits(s, 5, mo) || !TwoDigits(s, 8, d)) return std::nullopt;
    int h = 0, mi = 0, sec = 0, ms = 0;
    if (s.size() > 10) {
        if (s.size() < 19 || s[10] != 'T' || s[13] != ':' || s[16] != ':') return std::nullopt;
        if (!TwoDigits(s, 11, h) || !TwoDigits(s, 14, mi) || !TwoDigits(s, 17, sec)) return std::nullopt;
        if (s.size() > 19) {
            std::string_view frac = s.substr(20);
            if (s[19] != '.' || frac.empty() || frac.size() > 3 || !IsDigits(frac)) return std::nullopt;
            ms = std::stoi(std::string(frac));
            for (size_t i = frac.size(); i < 3; ++i) ms *= 10;
        }
        if (h > 23 || mi > 59 || sec > 59) return std::nullopt;
    }
    TDateTime out;
    if (!TryEncodeDate(y, mo, d, out)) return std::nullopt;
    if (s.size() > 10) out = TDateTime::FromValue(out.Value() + EncodeTime(h, mi, sec, ms));
    return out;
}

std::optional<TDateTime> ParseInvoiceDate(const std::string& s) {
    if (auto d = ParseIsoDate(s)) return d;
    if (s.size() == 8 && IsDigits(s)) return ParseYYYYMMDD(s);
    if (s.find('.') != std::string::npos) return ParseDDMMYYYY(s);
    return std::nullopt;
}

std::string Digits(int v, int n) {
    std::string s = std::to_string(v < 0 ? -v : v);
    if (int(s.size()) < n) s.insert(0, size_t(n) - s.size(), '0');
    return v < 0 ? "-" + s : s;
}

std::string WriteDate(TDateTime d) {
    DateParts p = Decode(d);
    std::string s = Digits(p.year, 4) + "-" + Digits(p.month, 2) + "-" + Digits(p.day, 2);
    if (p.hour || p.minute || p.second || p.millisecond) {
        s += "T" + Digits(p.hour, 2) + ":" + Digits(p.minute, 2) + ":" + Digits(p.second, 2);
        if (p.millisecond) s += "." + Digits(p.millisecond, 3);
    }
    return s;
}

std::string WriteFloat(double v, bool money) {
    if (money) {
        // Two decimals where that is the value exactly ("47.50"), else as many
        // as the value needs.
        std::string two = FloatToText(v, 2);
        auto back = ParseDecimal(two);
        if (back && *back == v) return two;
    }
    return FloatToText(v);
}

// ---------------------------------------------------------------- reading

std::string PugiStatusText(pugi::xml_parse_status s) {
    switch (s) {
    case pugi::status_out_of_memory: return "zu wenig Speicher";
    case pugi::status_unrecognized_tag: return "unbekanntes Tag";
    case pugi::status_bad_pi: return "fehlerhafte Verarbeitungsanweisung";
    case pugi::status_bad_comment: return "fehlerhafter Kommentar";
    case pugi::status_bad_cdata: return "fehlerhafter CDATA-Abschnitt";
    case pugi::status_bad_doctype: return "fehlerhafte Dokumenttyp-Deklaration";
    case pugi::status_bad_pcdata: return "fehlerhafter Text";
    case pugi::status_bad_start_element: return "fehlerhaftes Start-Tag";
    case pugi::status_bad_attribute: return "fehlerhaftes Attribut";
    case pugi::status_bad_end_element: return "fehlerhaftes End-Tag";
    case pugi::status_end_element_mismatch: return "End-Tag passt nicht zum Start-Tag";
    case pugi::status_no_document_element: return "kein Wurzelelement";
    default: return "Syntaxfehler";
    }
}

// The encoding the bytes are in: a byte-order mark, else the XML
// declaration, else UTF-8. The mark is removed from the bytes.
std::string DetectEncoding(std::string& bytes, const std::string& file) {
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        bytes.erase(0, 3);
        return "UTF-8";
    }
    if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF')))
        throw Error(Format("Datei %s: Die Zeichenkodierung UTF-16 wird nicht unterstützt.", {file}));
    if (bytes.compare(0, 5, "<?xml") != 0) return "UTF-8";
    size_t end = bytes.find("?>");
    if (end == std::string::npos) return "UTF-8";
    std::string decl = bytes.substr(0, end);
    size_t p = decl.find("encoding");
    if (p == std::string::npos) return "UTF-8";
    p = decl.find('=', p);
    if (p == std::string::npos) return "UTF-8";
    size_t q = decl.find_first_of("\"'", p);
    if (q == std::string::npos) return "UTF-8";
    size_t r = decl.find(decl[q], q + 1);
    if (r == std::string::npos) return "UTF-8";
    return decl.substr(q + 1, r - q - 1);
}

struct Level {
    const FieldLayout* layout;
    size_t count;
    const char* nest;         // element name of the records below, or nullptr
    const Level* child;
    int depth;                // 0 for the header

    // The layout entry named `name`, or -1. Files list the fields in layout
    // order, so the search starts behind the field found last.
    int Find(std::string_view name, size_t& hint) const {
        for (size_t k = 0; k < count; ++k) {
            size_t i = hint + k < count ? hint + k : hint + k - count;
            if (name == layout[i].name) {
                hint = i + 1 < count ? i + 1 : 0;
                return int(i);
            }
        }
        return -1;
    }
};

const Level& PositionLevel() {
    static const Level l{kPosition, std::size(kPosition), nullptr, nullptr, 3};
    return l;
}
const Level& TripLevel() {
    static const Level l{kTrip, std::size(kTrip), PositionNestName, &PositionLevel(), 2};
    return l;
}
const Level& CaseLevel() {
    static const Level l{kCase, std::size(kCase), TripNestName, &TripLevel(), 1};
    return l;
}
const Level& HeaderLevel() {
    static const Level l{kHeader, std::size(kHeader), CaseNestName, &CaseLevel(), 0};
    return l;
}
constexpr int kLevels = 4;
static_assert(std::size(kCase) <= 64, "a record's fields are marked in one word");

class Reader {
public:
    Reader(const std::string& file, const std::string& buffer, bool withGenArt)
        : file_(file), buffer_(buffer), withGenArt_(withGenArt) {}

    // Reads the record element e of the given level into the row being
    // inserted in t.
    void ReadRecord(pugi::xml_node e, const Level& level, Table& t) {
        const std::vector<int>& columns = Columns(level, t);
        uint64_t seen = 0;
        size_t hint = 0;
        for (pugi::xml_node c = e.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element) continue;
            std::string_view name = c.name();
            if (level.nest && name == level.nest) continue;
            const int i = level.Find(name, hint);
            if (i < 0) continue;
            const FieldLayout& f = level.layout[i];
            if (!withGenArt_ && name == "GenArt") continue;
            const uint64_t bit = uint64_t(1) << i;
            if (seen & bit) Fail(c, f.name, "Das Feld kommt mehrfach vor.");
            seen |= bit;
            Value v = ReadValue(c, f);
            if (!IsNullValue(v)) t.SetValue(columns[size_t(i)], std::move(v));
        }
        if (!level.nest) return;
        Table& sub = t.Nested(level.nest);
        int n = 0;
        for (pugi::xml_node c = e.child(level.nest); c; c = c.next_sibling(level.nest)) {
            path_.push_back({level.nest, ++n});
            sub.Append();
            ReadRecord(c, *level.child, sub);
            sub.Post();
            path_.pop_back();
        }
    }

    void PushRecord(const char* name, int number) { path_.push_back({name, number}); }
    void PopRecord() { path_.pop_back(); }

private:
    // The column of each layout entry in the tables of a level (all tables
    // of a level share their columns); -1 for GenArt in the older layout.
    const std::vector<int>& Columns(const Level& level, const Table& t) {
        std::vector<int>& columns = columns_[size_t(level.depth)];
        if (columns.empty())
            for (size_t i = 0; i < level.count; ++i) columns.push_back(t.FieldIndex(level.layout[i].name));
        return columns;
    }

    Value ReadValue(pugi::xml_node c, const FieldLayout& f) {
        // Mostly one piece of text; several (text around a comment or CDATA)
        // are joined.
        std::string joined;
        std::string_view text;
        int pieces = 0;
        for (pugi::xml_node n = c.first_child(); n; n = n.next_sibling()) {
            if (n.type() != pugi::node_pcdata && n.type() != pugi::node_cdata) continue;
            if (++pieces == 1) {
                text = n.value();
            } else {
                if (pieces == 2) joined = text;
                joined += n.value();
                text = joined;
            }
        }
        if (f.kind == Kind::Text) {
            if (text.empty()) return {};
            std::string bad;
            if (!IsCp1252Text(text, &bad))
                Fail(c, f.name, Format("Das Zeichen \"%s\" gibt es im Zeichensatz windows-1252 nicht.", {bad}));
            if (text.size() > size_t(f.width) && Utf8Length(text) > size_t(f.width))
                Fail(c, f.name, Format("Der Text \"%s\" ist länger als %d Zeichen.", {std::string(text), f.width}));
            return std::string(text);
        }
        std::string t = Trim(text);
        if (t.empty()) return {};
        switch (f.kind) {
        case Kind::Integer:
            if (auto v = ParseInt(t)) return *v;
            Fail(c, f.name, Format("\"%s\" ist keine ganze Zahl.", {t}));
        case Kind::Number:
        case Kind::Money:
            if (auto v = ParseDecimal(t); v && std::isfinite(*v)) return *v;
            Fail(c, f.name, Format("\"%s\" ist keine Zahl.", {t}));
        case Kind::Date:
            if (auto v = ParseInvoiceDate(t)) return *v;
            Fail(c, f.name, Format("\"%s\" ist kein gültiges Datum.", {t}));
        case Kind::Text: break;
        }
        return {};
    }

    [[noreturn]] void Fail(pugi::xml_node at, const char* field, const std::string& what) {
        std::vector<std::string> path;
        for (const auto& [name, number] : path_) path.push_back(Format("%s %d", {name, number}));
        throw Error(Format("Datei %s, %s, Feld %s (Zeile %d): %s",
                           {file_, Join(path, ", "), field, LineOf(at.offset_debug()), what}));
    }

    int LineOf(ptrdiff_t offset) const {
        if (offset < 0) return 0;
        int line = 1;
        for (ptrdiff_t i = 0; i < offset && size_t(i) < buffer_.size(); ++i)
            if (buffer_[size_t(i)] == '\n') ++line;
        return line;
    }

    const std::string& file_;
    const std::string& buffer_;
    bool withGenArt_;
    std::vector<std::pair<const char*, int>> path_;
    std::vector<int> columns_[kLevels];
};

// ---------------------------------------------------------------- writing

void WriteRecords(Table& t, const Level& level, pugi::xml_node parent, const char* element) {
    t.SetFiltered(false);
    std::vector<int> index;
    for (size_t i = 0; i < level.count; ++i) index.push_back(t.FieldIndex(level.layout[i].name));
    for (t.First(); !t.Eof(); t.Next()) {
        pugi::xml_node rec = parent.append_child(element);
        for (size_t i = 0; i < level.count; ++i) {
            if (index[i] < 0) continue;   // GenArt of an old layout
            const FieldLayout& f = level.layout[i];
            pugi::xml_node el = rec.append_child(f.name);
            const Value& v = t.GetValue(index[i]);
            std::string text;
            if (const auto* s = std::get_if<std::string>(&v)) text = *s;
            else if (const auto* n = std::get_if<int64_t>(&v)) text = IntToStr(*n);
            else if (const auto* d = std::get_if<double>(&v)) text = WriteFloat(*d, f.kind == Kind::Money);
            else if (const auto* b = std::get_if<bool>(&v)) text = *b ? "True" : "False";
            else if (const auto* dt = std::get_if<TDateTime>(&v)) text = dt->IsNull() ? "" : WriteDate(*dt);
            if (!text.empty()) el.text().set(text.c_str());
        }
        if (level.nest) WriteRecords(t.Nested(level.nest), *level.child, rec, level.nest);
    }
}

} // namespace

std::vector<FieldDef> InvoicePositionFields() { return Defs(kPosition); }

std::vector<FieldDef> InvoiceTripFields() {
    auto f = Defs(kTrip);
    f.push_back(FieldDef::NestedF(PositionNestName, InvoicePositionFields()));
    return f;
}

std::vector<FieldDef> InvoiceCaseFields(bool withGenArt) {
    auto f = Defs(kCase, withGenArt);
    f.push_back(FieldDef::NestedF(TripNestName, InvoiceTripFields()));
    return f;
}

std::vector<FieldDef> InvoiceHeaderFields(bool withGenArt) {
    auto f = Defs(kHeader);
    f.push_back(FieldDef::NestedF(CaseNestName, InvoiceCaseFields(withGenArt)));
    return f;
}

const std::vector<std::string>& InvoiceRequiredFields(InvoiceLevel level) {
    static const std::vector<std::string> header = Required(kHeader), cases = Required(kCase),
                                          trips = Required(kTrip), positions = Required(kPosition);
    switch (level) {
    case InvoiceLevel::Rechnung: return header;
    case InvoiceLevel::AbrFall: return cases;
    case InvoiceLevel::Leistung: return trips;
    case InvoiceLevel::Position: break;
    }
    return positions;
}

const std::vector<InvoiceFieldNote>& Version21FieldNotes() {
    using L = InvoiceLevel;
    static const std::vector<InvoiceFieldNote> notes = {
        {L::Rechnung, "Steuernummer", "Steuernummer/USt-IdNr.",
         "bis 20 Zeichen; nötig, sobald eine Position Mehrwertsteuer zuschlägt"},
        {L::Rechnung, "UStBefreit", "USt-befreit (§ 4 UStG)", "\"J\" oder leer; nicht zusammen mit zugeschlagener Mehrwertsteuer"},
        {L::Rechnung, "SkontoProzent", "Skonto %", "über 0 und unter 100, zwei Nachkommastellen; nur mit Skonto-Frist"},
        {L::Rechnung, "SkontoTage", "Skonto-Frist (Tage)", "1 bis 999; nur mit Skonto %"},
        {L::AbrFall, "Land", "Länderkennzeichen", "1 bis 3 Großbuchstaben; leer oder \"D\" bei Inlandsanschrift"},
        {L::AbrFall, "BelegInfo", "Beleginformation",
         "leer, 0 (keine Belege), 1 (Belege per Post) oder 2 (Belege elektronisch)"},
        {L::AbrFall, "BesVersForm", "Besondere Versorgungsform", "bis 25 Zeichen (Vertragskennzeichen)"},
        {L::AbrFall, "EVO_ID", "eVerordnung-ID", "leer oder 22 bis 256 Zeichen"},
        {L::AbrFall, "IMG_Jahr", "Image: Abrechnungsjahr", "JJJJ; die drei Image-Felder alle oder keins"},
        {L::AbrFall, "IMG_Monat", "Image: Abrechnungsmonat", "01 bis 12"},
        {L::AbrFall, "IMG_IK", "Image: IK der erzeugenden Stelle", "9 Ziffern"},
        {L::AbrFall, "Unfall", "Unfall", "leer, 1 (Arbeitsunfall), 2 (sonstige Unfallfolgen) oder 3 (Sonstiges)"},
        {L::AbrFall, "BVG", "BVG/SER", "leer oder 6"},
        {L::AbrFall, "ZuzaKennz", "Zuzahlungskennzeichen", "0 bis 5; Zuzahlungen nur bei 3, 4 und 5"},
        {L::AbrFall, "GenDatum", "Genehmigungsdatum", "nötig, wenn ein Genehmigungszeichen angegeben ist"},
        {L::AbrFall, "BetragZuZaPausch", "Zuzahlung pauschal", "muss 0 sein; Zuzahlungen stehen bei den Fahrten"},
        {L::Leistung, "KM", "km", "0 bis 9999,99; zwei Nachkommastellen werden übermittelt"},
        {L::Leistung, "ZEIT1", "Uhrzeit von", "HHMM (0000 bis 2359) oder leer"},
        {L::Leistung, "ZEIT2", "Uhrzeit bis", "HHMM (0000 bis 2359) oder leer"},
        {L::Leistung, "DAUER", "Dauer (Minuten)", "0 bis 9999; 0 oder leer wird nicht übermittelt"},
        {L::Leistung, "ZuZaArt", "Zuzahlungsart", "01 bis 04, wenn eine Zuzahlung angegeben ist"},
        {L::Position, "BPosNum", "Bundes-Pos.-Nr.", "6 Ziffern; nötig, wenn PosNum nicht selbst sechsstellig ist"},
        {L::Position, "MwStSatz", "zzgl. MwSt. %",
         "Satz, der dem Netto-Einzelpreis zugeschlagen wird (unter 100, zwei Nachkommastellen); leer oder 0, "
         "wenn der Preis die Steuer enthält"},
    };
    return notes;
}

std::string MissingRequiredField(const Table& t, InvoiceLevel level) {
    for (const auto& name : InvoiceRequiredFields(level)) {
        if (t.IsNull(name)) return name;
        const Value v = t.GetValue(name);
        if (const auto* s = std::get_if<std::string>(&v); s && Trim(*s).empty()) return name;
    }
    return "";
}

namespace {

// An empty header table of either layout. The two layouts are built once; every
// document starts as a copy, which shares their columns instead of defining
// (and checking) all four levels anew.
std::unique_ptr<Table> EmptyInvoiceTable(bool withGenArt) {
    static const Table withField(InvoiceHeaderFields(true));
    static const Table withoutField(InvoiceHeaderFields(false));
    return (withGenArt ? withField : withoutField).Clone();
}

} // namespace

InvoiceDocument::InvoiceDocument() : InvoiceDocument(true) {}

InvoiceDocument::InvoiceDocument(bool withGenArt)
    : rechnung_(EmptyInvoiceTable(withGenArt)), withGenArt_(withGenArt) {}

InvoiceDocument::InvoiceDocument(InvoiceDocument&&) noexcept = default;
InvoiceDocument& InvoiceDocument::operator=(InvoiceDocument&&) noexcept = default;
InvoiceDocument::~InvoiceDocument() = default;

void InvoiceDocument::LoadFromFile(const std::string& path) {
    if (!FileExists(path)) throw Error(Format("Datei %s nicht gefunden.", {path}));
    LoadFromXml(ReadFileBytes(path), path);
}

InvoiceDocument InvoiceDocument::FromFile(const std::string& path) {
    InvoiceDocument d;
    d.LoadFromFile(path);
    return d;
}

void InvoiceDocument::LoadFromXml(std::string_view bytes, const std::string& file) { Load(bytes, file, false); }

void InvoiceDocument::UpgradeLayout() {
    if (withGenArt_) return;
    const std::string file = fileName_;
    Load(SaveToXml(), file, true);
}

void InvoiceDocument::Load(std::string_view bytes, const std::string& file, bool forceGenArt) {
    std::string raw(bytes);
    std::string encoding = DetectEncoding(raw, file);
    std::string utf8;
    try {
        utf8 = ToUtf8(raw, encoding);
    } catch (const Error& e) {
        throw Error(Format("Datei %s: %s", {file, e.what()}));
    }

    pugi::xml_document xml;
    pugi::xml_parse_result res = xml.load_buffer(utf8.data(), utf8.size(),
                                                 pugi::parse_default | pugi::parse_ws_pcdata_single, pugi::encoding_utf8);
    if (!res) {
        int line = 1;
        for (ptrdiff_t i = 0; i < res.offset && size_t(i) < utf8.size(); ++i)
            if (utf8[size_t(i)] == '\n') ++line;
        throw Error(Format("Datei %s ist keine wohlgeformte XML-Datei (Zeile %d: %s).",
                           {file, line, PugiStatusText(res.status)}));
    }
    pugi::xml_node root = xml.document_element();
    if (std::string_view(root.name()) != "Rechnungen")
        throw Error(Format("Datei %s ist keine Rechnungsdatei: Das Wurzelelement heißt <%s> statt <Rechnungen>.",
                           {file, root.name()}));
    if (!root.child("Rechnung")) throw Error(Format("Datei %s enthält keine Rechnung.", {file}));

    // The case level has GenArt when a case of the file has it. A file
    // without any case (such as the blank template) has nothing of an older
    // layout to keep and gets the current one.
    bool anyCase = false, withGenArt = false;
    for (pugi::xml_node r = root.child("Rechnung"); r && !withGenArt; r = r.next_sibling("Rechnung"))
        for (pugi::xml_node c = r.child(CaseNestName); c && !withGenArt; c = c.next_sibling(CaseNestName)) {
            anyCase = true;
            if (c.child("GenArt")) withGenArt = true;
        }
    if (!anyCase || forceGenArt) withGenArt = true;

    std::unique_ptr<Table> freshTable = EmptyInvoiceTable(withGenArt);
    Table& fresh = *freshTable;
    Reader reader(file, utf8, withGenArt);
    int n = 0;
    for (pugi::xml_node r = root.child("Rechnung"); r; r = r.next_sibling("Rechnung")) {
        reader.PushRecord("Rechnung", ++n);
        fresh.Append();
        reader.ReadRecord(r, HeaderLevel(), fresh);
        fresh.Post();
        reader.PopRecord();
    }
    fresh.MergeChangeLog();
    fresh.First();

    *rechnung_ = std::move(fresh);
    withGenArt_ = withGenArt;
    fileName_ = file;
}

void InvoiceDocument::RequireSingleInvoice() const {
    const int n = rechnung_->RecordCount();
    if (n > 1)
        throw Error(Format("Datei %s enthält %d Rechnungen; eine Datei darf nur eine Rechnung enthalten.",
                           {fileName_, n}));
}

std::string InvoiceDocument::SaveToXml() const {
    std::unique_ptr<Table> copy = rechnung_->Clone();
    pugi::xml_document xml;
    pugi::xml_node decl = xml.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node root = xml.append_child("Rechnungen");
    WriteRecords(*copy, HeaderLevel(), root, "Rechnung");
    std::ostringstream os;
    xml.save(os, "  ", pugi::format_default, pugi::encoding_utf8);
    return os.str();
}

void InvoiceDocument::SaveToFile(const std::string& path) const {
    AtomicWriteFile(path, SaveToXml());
    fileName_ = path;
}

} // namespace brenvo
