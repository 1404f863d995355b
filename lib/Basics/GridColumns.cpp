#include "lib/Basics/GridColumns.h"

#include "lib/base/Cp1252.h"
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

Value TextToFieldValue(const FieldDef& field, std::string_view text, const Value& current) {
    const std::string trimmed = Trim(text);
    if (field.type == FieldType::DateTime) {
        static const TDatumFieldOptimiser dates;
        return dates.TextToValue(text, current);
    }
    if (trimmed.empty()) return Value();
    switch (field.type) {
    case FieldType::Integer:
        if (auto v = ParseInt(trimmed)) return *v;
        throw Error(Format("\"%s\" ist keine ganze Zahl.", {trimmed}));
    case FieldType::Float:
        if (auto v = ParseGermanNumber(trimmed)) return *v;
        throw Error(Format("\"%s\" ist keine Zahl.", {trimmed}));
    case FieldType::Boolean:
        if (SameText(trimmed, "Ja") || SameText(trimmed, "True")) return true;
        if (SameText(trimmed, "Nein") || SameText(trimmed, "False")) return false;
        throw Error(Format("\"%s\" ist weder Ja noch Nein.", {trimmed}));
    case FieldType::String:
    case FieldType::Memo: {
        std::string s = TrimRight(text);
        std::string bad;
        if (!IsCp1252Text(s, &bad))
            throw Error(Format("Das Zeichen \"%s\" ist nicht erlaubt (nur Zeichen des Zeichensatzes windows-1252).",
                               {bad}));
        if (field.type == FieldType::String && field.width > 0 && Utf8Length(s) > size_t(field.width))
            throw Error(Format("Der Text \"%s\" ist länger als %d Zeichen.", {s, field.width}));
        return s;
    }
    default: break;
    }
    throw Error(Format("Das Feld %s kann nicht eingegeben werden.", {field.name}));
}

Value CellValue(const TGridColumn& column, const FieldDef& field, std::string_view text, const Value& current) {
    if (column.Optimiser) return column.Optimiser->TextToValue(text, current);
    return TextToFieldValue(field, text, current);
}

void StoreCell(Table& table, const TGridColumn& column, std::string_view text) {
    const int index = table.FieldIndex(column.Field);
    if (index < 0) throw Error(Format("Das Feld %s gibt es nicht.", {column.Field}));
    Value v = CellValue(column, table.Field(index), text, table.GetValue(index));
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
