#include "lib/Basics/GridColumns.h"

#include "lib/base/Cp1252.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "lib/util_string/u_strings.h"

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

// A date with a time of day: "TT.MM.JJJJ HH:MM" or "TT.MM.JJJJ HH:MM:SS"
// (the date in any short form of StrToKelmarDate); nullopt when the time is
// no such time.
std::optional<TDateTime> DateWithTime(const std::string& text, size_t blank) {
    const std::vector<std::string> parts = Split(Trim(text.substr(blank + 1)), ':');
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    int hms[3] = {0, 0, 0};
    const int limit[3] = {23, 59, 59};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].size() != 2 || !IsDigits(parts[i])) return std::nullopt;
        hms[i] = int(StrToIntDef(parts[i], 0));
        if (hms[i] > limit[i]) return std::nullopt;
    }
    const DateParts d = Decode(StrToKelmarDate(text.substr(0, blank)));
    return EncodeDateTime(d.year, d.month, d.day, hms[0], hms[1], hms[2]);
}

Value ParseDate(const std::string& text, const Value& current) {
    static const TDatumFieldOptimiser dates;
    if (text.empty()) {
        // Emptied: only the time of day stays, as with the date formatter;
        // a plain date becomes no date.
        const auto* d = std::get_if<TDateTime>(&current);
        if (d && !d->IsNull() && d->TimePart() != 0.0) return dates.TextToValue("", current);
        return Value();
    }
    const size_t blank = text.find(' ');
    if (blank == std::string::npos) return dates.TextToValue(text, current);
    std::optional<TDateTime> d;
    try {
        d = DateWithTime(text, blank);
    } catch (const Error&) {
    }
    if (d) return *d;
    throw Error(Format(MessageText("us004", "\"%s\" kann nicht in ein Datum konvertiert werden."), {text}));
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
    if (column.Optimiser) return column.Optimiser->ValueToText(value);
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

std::optional<double> ParseGermanNumber(std::string_view text) {
    std::string t = Trim(text);
    if (t.find(',') != std::string::npos) t = ReplaceAll(t, ".", "");
    return ParseDecimal(t);
}

Value ParseCell(std::string_view typed, const FieldDef& field, const Value& current) {
    const bool text = field.type == FieldType::String || field.type == FieldType::Memo;
    const std::string t = text ? TrimRight(typed) : Trim(typed);
    if (field.type == FieldType::DateTime) return ParseDate(t, current);
    if (t.empty()) return Value();
    switch (field.type) {
    case FieldType::String:
    case FieldType::Memo: {
        std::string bad;
        if (!IsCp1252Text(t, &bad))
            throw Error(Format("Das Zeichen \"%s\" ist nicht erlaubt (nur Zeichen des Zeichensatzes windows-1252).",
                               {bad}));
        if (field.type == FieldType::String && field.width > 0 && Utf8Length(t) > size_t(field.width))
            throw Error(Format("Der Text \"%s\" ist länger als %d Zeichen.", {t, field.width}));
        return t;
    }
    case FieldType::Integer:
        if (const auto i = ParseInt(t)) return *i;
        throw Error(Format("\"%s\" ist keine ganze Zahl.", {t}));
    case FieldType::Float:
        if (const auto d = ParseGermanNumber(t)) return *d;
        throw Error(Format("\"%s\" ist keine Zahl.", {t}));
    case FieldType::Boolean:
        if (SameText(t, "Ja")) return true;
        if (SameText(t, "Nein")) return false;
        throw Error(Format("\"%s\" ist weder Ja noch Nein.", {t}));
    case FieldType::DateTime:
    case FieldType::Nested:
        break;
    }
    throw Error(Format("Das Feld %s kann hier nicht geändert werden.", {field.name}));
}

Value ParseCell(std::string_view text, const TGridColumn& column, const FieldDef& field, const Value& current) {
    if (column.Optimiser) return column.Optimiser->TextToValue(text, current);
    return ParseCell(text, field, current);
}

void StoreCell(Table& table, const TGridColumn& column, std::string_view text, const CellCheck& check) {
    const int index = table.FieldIndex(column.Field);
    if (index < 0) throw Error(Format("Das Feld %s gibt es nicht.", {column.Field}));
    Value v = ParseCell(text, column, table.Field(index), table.GetValue(index));
    if (check) check(column.Field, v);
    const bool started = table.GetState() == Table::State::Browse;
    if (started) table.Edit();
    try {
        table.SetValue(column.Field, std::move(v));
        table.Post();
    } catch (...) {
        if (started) table.Cancel();
        throw;
    }
}

} // namespace brenvo
