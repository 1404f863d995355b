#include "lib/Basics/GridColumns.h"

#include <optional>

#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

constexpr const char* kDefaultAmount = "#,##0.00";

bool IsMoney(const FieldDef& f) { return f.type == FieldType::Float && SameText(f.subtype, "Money"); }

std::string Number(const Value& v) {
    if (const auto* i = std::get_if<int64_t>(&v)) return IntToStr(*i);
    if (const auto* d = std::get_if<double>(&v)) {
        std::string s = FloatToText(*d);
        for (char& c : s)
            if (c == '.') c = ',';
        return s;
    }
    return "";
}

std::string Amount(const Value& v, const std::string& pattern) {
    const std::string& p = pattern.empty() ? std::string(kDefaultAmount) : pattern;
    if (const auto* d = std::get_if<double>(&v)) return FormatFloat(p, *d);
    if (const auto* i = std::get_if<int64_t>(&v)) return FormatFloat(p, double(*i));
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    return "";
}

// "TT.MM.JJJJ", optionally followed by "HH:MM" or "HH:MM:SS".
std::optional<TDateTime> ParseDateCell(const std::string& text) {
    const size_t blank = text.find(' ');
    const auto day = ParseDDMMYYYY(text.substr(0, blank));
    if (!day || blank == std::string::npos) return day;
    const std::vector<std::string> parts = Split(Trim(text.substr(blank + 1)), ':');
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    int hms[3] = {0, 0, 0};
    const int limit[3] = {23, 59, 59};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].size() != 2 || !IsDigits(parts[i])) return std::nullopt;
        hms[i] = int(StrToIntDef(parts[i], 0));
        if (hms[i] > limit[i]) return std::nullopt;
    }
    const DateParts d = Decode(*day);
    return EncodeDateTime(d.year, d.month, d.day, hms[0], hms[1], hms[2]);
}

// "1.234,56", "1234,56", "1234.56", "-3".
std::optional<double> ParseGermanNumber(std::string text) {
    if (text.find(',') != std::string::npos) text = ReplaceAll(text, ".", "");
    return ParseDecimal(text);
}

} // namespace

TGridColumns TGridColumns::FromFields(const std::vector<FieldDef>& fields) {
    std::vector<TGridColumn> cols;
    for (const FieldDef& f : fields) {
        if (f.type == FieldType::Nested) continue;
        TGridColumn c;
        c.Field = f.name;
        if (IsMoney(f)) {
            c.Format = ColumnFormat::Amount;
            c.Align = ColumnAlign::Right;
        } else if (f.type == FieldType::Integer || f.type == FieldType::Float) {
            c.Align = ColumnAlign::Right;
        }
        cols.push_back(std::move(c));
    }
    return TGridColumns(std::move(cols));
}

bool TGridColumns::SetGridColumn(const std::string& field, const std::string& caption, int width, ColumnAlign align) {
    TGridColumn* c = Find(field);
    if (!c) return false;
    if (width == 0) {
        c->Visible = false;
        return true;
    }
    c->Visible = true;
    c->Caption = caption;
    c->Align = align;
    c->Width = width;
    return true;
}

std::vector<TGridColumn> TGridColumns::VisibleColumns() const {
    std::vector<TGridColumn> out;
    for (const TGridColumn& c : columns_)
        if (c.Visible) out.push_back(c);
    return out;
}

TGridColumn* TGridColumns::Find(const std::string& field) {
    for (TGridColumn& c : columns_)
        if (SameText(c.Field, field)) return &c;
    return nullptr;
}

std::string FormatCell(const Value& value, const TGridColumn& column, FieldType type) {
    if (IsNullValue(value)) return "";
    switch (column.Format) {
    case ColumnFormat::Text:
        break;
    case ColumnFormat::Date:
        if (const auto* d = std::get_if<TDateTime>(&value)) return d->IsNull() ? "" : FormatDDMMYYYY(*d);
        break;
    case ColumnFormat::DateTime:
        if (const auto* d = std::get_if<TDateTime>(&value)) return d->IsNull() ? "" : FormatDateTimeDE(*d);
        break;
    case ColumnFormat::Amount:
        return Amount(value, column.Pattern);
    case ColumnFormat::Auto:
        if (const auto* d = std::get_if<TDateTime>(&value)) return d->IsNull() ? "" : FormatDateTimeDE(*d);
        if (const auto* b = std::get_if<bool>(&value)) return *b ? "Ja" : "Nein";
        if (type == FieldType::Integer || type == FieldType::Float) return Number(value);
        break;
    }
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    if (const auto* d = std::get_if<TDateTime>(&value)) return d->IsNull() ? "" : FormatDateTimeDE(*d);
    if (const auto* b = std::get_if<bool>(&value)) return *b ? "Ja" : "Nein";
    return Number(value);
}

Value ParseCell(const std::string& typed, const FieldDef& field) {
    const std::string text = field.type == FieldType::String || field.type == FieldType::Memo ? typed : Trim(typed);
    if (text.empty()) return Value();
    switch (field.type) {
    case FieldType::String:
        if (field.width > 0 && Utf8Length(text) > size_t(field.width))
            throw Error(Format("\"%s\" ist zu lang: höchstens %d Zeichen.", {text, field.width}));
        return text;
    case FieldType::Memo:
        return text;
    case FieldType::DateTime:
        if (const auto d = ParseDateCell(text)) return *d;
        throw Error(Format("\"%s\" ist kein gültiges Datum (TT.MM.JJJJ).", {text}));
    case FieldType::Integer:
        if (const auto i = ParseInt(text)) return *i;
        throw Error(Format("\"%s\" ist keine gültige ganze Zahl.", {text}));
    case FieldType::Float:
        if (const auto d = ParseGermanNumber(text)) return *d;
        throw Error(Format("\"%s\" ist keine gültige Zahl.", {text}));
    case FieldType::Boolean:
        if (SameText(text, "Ja")) return true;
        if (SameText(text, "Nein")) return false;
        throw Error(Format("\"%s\" ist kein gültiger Wert: \"Ja\" oder \"Nein\".", {text}));
    case FieldType::Nested:
        break;
    }
    throw Error(Format("Das Feld %s kann hier nicht geändert werden.", {field.name}));
}

} // namespace brenvo
