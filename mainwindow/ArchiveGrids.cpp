#include "mainwindow/ArchiveGrids.h"

namespace brenvo {

namespace {

struct ShownColumn {
    const char* field;
    const char* caption;
    int width;
    ColumnAlign align;
};

// The table's columns in the order given, set up as they say; the columns
// not named follow, hidden. A column whose field the table lacks is left
// out.
TGridColumns Arranged(const std::vector<FieldDef>& fields, std::initializer_list<ShownColumn> shown) {
    TGridColumns all = TGridColumns::FromFields(fields);
    std::vector<TGridColumn> ordered;
    for (const ShownColumn& s : shown) {
        TGridColumn* c = all.Find(s.field);
        if (!c) continue;
        all.SetGridColumn(s.field, s.caption, s.width, s.align);
        ordered.push_back(*c);
        c->Field.clear();   // taken
    }
    for (TGridColumn& c : all.All()) {
        if (c.Field.empty()) continue;
        c.Visible = false;
        ordered.push_back(c);
    }
    return TGridColumns(std::move(ordered));
}

} // namespace

TGridColumns InvoiceArchiveColumns(const std::vector<FieldDef>& fields) {
    using A = ColumnAlign;
    TGridColumns cols = Arranged(fields, {{"R_ID", "lfdNr.", 30, A::Right},
                                          {"R_NUMMER", "Nummer", 98, A::Left},
                                          {"R_DATUM", "Datum", 60, A::Left},
                                          {"R_FILENAME", "Datei", 200, A::Left},
                                          {"R_BETRAG", "Betrag", 50, A::Right},
                                          {"R_HANDLE", "ID", 200, A::Left}});
    if (TGridColumn* c = cols.Find("R_DATUM")) c->Format = ColumnFormat::Date;
    if (TGridColumn* c = cols.Find("R_BETRAG")) {
        c->Format = ColumnFormat::Amount;
        c->Pattern = "#.00";
    }
    return cols;
}

TGridColumns OrderArchiveColumns(const std::vector<FieldDef>& fields) {
    using A = ColumnAlign;
    return Arranged(fields, {{"A_ID", "lfdNr.", 30, A::Right},
                             {"A_ABS_EIGN_IK", "Abs IK", 60, A::Right},
                             {"A_EMPF_IK", "Empf IK", 60, A::Right},
                             {"A_EMPF_NAME", "Name", 100, A::Left},
                             {"A_EMPF_EMAIL", "Email", 100, A::Left},
                             {"A_ERZEUGT", "erzeugt", 60, A::Left},
                             {"A_ENC", "verschlüsselt", 60, A::Left},
                             {"A_VERSANDT", "versandt", 80, A::Left},
                             {"A_HANDLE", "ID", 200, A::Left},
                             {"A_TRANSFER", "Datei", 60, A::Left},
                             {"DTAREF", "Dta.Ref", 60, A::Right}});
}

// Texts up to this many characters are codes and numbers, never cut.
constexpr int kShortText = 14;

std::string WidestCellText(const TGridColumn& column, const FieldDef& field) {
    switch (column.Format) {
    case ColumnFormat::Date: return "00.00.0000";
    case ColumnFormat::DateTime: return "00.00.0000 00:00:00";
    case ColumnFormat::Amount: return "000.000,00";
    case ColumnFormat::Text: break;
    case ColumnFormat::Auto:
        if (field.type == FieldType::DateTime) return "00.00.0000 00:00:00";
        if (field.type == FieldType::Integer) return "0000000";
        if (field.type == FieldType::Float) return "000.000,00";
        break;
    }
    if (field.type == FieldType::String && field.width > 0 && field.width <= kShortText)
        return std::string(size_t(field.width), '0');
    return "";
}

// ------------------------------------------------------------ the invoice archive's view

TInvoiceArchiveFilter TInvoiceArchiveFilter::Initial(TDateTime today) {
    TInvoiceArchiveFilter f;
    f.To = today.DateOnly();
    f.From = IncDays(f.To, -7);
    return f;
}

std::string TInvoiceArchiveFilter::Expression() const {
    if (!Filtern) return "";
    return "r_datum >= '" + FormatDDMMYYYY(From) + "'" + " and r_datum <= " + "'" + FormatDDMMYYYY(To) + "'";
}

std::string TInvoiceArchiveFilter::PrintTitle() const {
    if (!Filtern) return "Alle archivierten Rechnungen";
    return "archivierte Rechnungen " + FormatDDMMYYYY(From) + " .. " + FormatDDMMYYYY(To);
}

bool TInvoiceArchiveFilter::Apply(Table& invoices) const {
    // Only what changed is switched: every switch makes the grids read the
    // table anew.
    const std::string expr = Expression();
    if (expr.empty()) {
        if (invoices.Filtered()) invoices.SetFiltered(false);
        if (!invoices.Filter().empty()) invoices.SetFilter("");
    } else {
        if (invoices.Filter() != expr) invoices.SetFilter(expr);
        if (!invoices.Filtered()) invoices.SetFiltered(true);
    }
    if (Search.empty()) return true;
    LocateOptions opt;
    opt.caseInsensitive = true;
    opt.partialKey = true;
    return invoices.Locate("R_NUMMER", {Value(Search)}, opt);
}

} // namespace brenvo
