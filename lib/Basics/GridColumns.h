#pragma once

// The columns a grid shows of a table: field, caption, width, alignment,
// display form and whether the grid may change it, in the order of the grid.
// Every grid describes its columns with this list; the window's table model
// reads it. Cells are shown in the German forms: dates
// "TT.MM.JJJJ" (with " HH:MM:SS" when they carry a time), amounts "1.234,56".

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/dataset/Table.h"
#include "lib/util_oracle/dbFieldOptimiser.h"

namespace brenvo {

enum class ColumnAlign { Left, Right, Center };

enum class ColumnFormat {
    Auto,      // by the column's type: dates and numbers German, flags "Ja"/"Nein", money as Amount
    Text,      // the stored text as it is
    Date,      // "TT.MM.JJJJ", the time of day left out
    DateTime,  // "TT.MM.JJJJ HH:MM:SS" when there is a time of day
    Amount,    // a number pattern (Pattern, "#,##0.00" when empty) with German separators
};

struct TGridColumn {
    std::string Field;              // the table's column
    std::string Caption;            // the title; the field name when empty
    int Width = 64;                 // in pixels at 96 dpi
    ColumnAlign Align = ColumnAlign::Left;
    ColumnFormat Format = ColumnFormat::Auto;
    std::string Pattern;            // Amount: "#.00", "#,##0.00", ...
    bool Visible = true;
    bool Editable = false;          // the grid may change it (when its model has a cell writer)
    // Shows the value, and reads typed text, through a field formatter
    // (currency in whole cents, dates in short forms) instead of Format.
    std::shared_ptr<const TFieldOptimiser> Optimiser;
    // The values an editable column offers to choose from (a drop-down); empty: free text.
    std::vector<std::string> Choices;

    const std::string& Title() const { return Caption.empty() ? Field : Caption; }
};

class TGridColumns {
public:
    TGridColumns() = default;
    TGridColumns(std::vector<TGridColumn> columns) : columns_(std::move(columns)) {}
    // Every column of the table in its order, titled with its name; money
    // columns right-aligned as amounts, numbers right-aligned.
    static TGridColumns FromFields(const std::vector<FieldDef>& fields);

    // The way the grids set up a column: a column found by field name (any
    // letter case) and given a width is shown with that caption, alignment
    // and width; a width of 0 hides it; a field the list does not hold is
    // ignored. False when the field was not found.
    bool SetGridColumn(const std::string& field, const std::string& caption, int width,
                       ColumnAlign align = ColumnAlign::Left);

    const std::vector<TGridColumn>& All() const { return columns_; }
    std::vector<TGridColumn>& All() { return columns_; }
    // The shown columns, in grid order.
    std::vector<TGridColumn> VisibleColumns() const;
    TGridColumn* Find(const std::string& field);

private:
    std::vector<TGridColumn> columns_;
};

// The text a grid cell shows for a value of a column of the given type.
std::string FormatCell(const Value& value, const TGridColumn& column, FieldType type);

// A number as a German user types it, blanks around it ignored: "12,5" and
// "1.234,56" (with a comma, points group the thousands), or "12.5" (without
// a comma a point is the decimal mark); nullopt when the text is no number.
std::optional<double> ParseGermanNumber(std::string_view text);

// Text typed into a window (a cell, an edit field) becomes a field's value,
// read as the field's type wants it; `current` is the value the field holds.
//  - A blank text is no value (null); a date that carries a time of day keeps
//    only the time, as the date formatter does.
//  - Texts as typed without trailing blanks, at most the field's width (in
//    characters) and only characters that windows-1252, the code page of
//    invoice and billing files, has.
//  - Dates in the short forms of the date formatter ("5.12.24", "0512",
//    "05.12.2024"), keeping the current time of day, or "TT.MM.JJJJ" followed
//    by a time "HH:MM" or "HH:MM:SS".
//  - Integers; numbers and amounts in the German form ("12,5", "1.234,56").
//  - Flags "Ja"/"Nein".
// Fails with Error carrying the German message, naming the text, when it is
// no such value.
Value ParseCell(std::string_view text, const FieldDef& field, const Value& current = Value());
// The same for a grid column: through its field formatter when it has one.
Value ParseCell(std::string_view text, const TGridColumn& column, const FieldDef& field, const Value& current);

// An owner's check of a value before it is stored; throws Error with the
// message to refuse it.
using CellCheck = std::function<void(const std::string& field, const Value& value)>;
// Stores typed text in the column's field of the table's current row: read
// (ParseCell), checked, then edit, set, post. On a failure the row is left
// as it was and the failure passes on.
void StoreCell(Table& table, const TGridColumn& column, std::string_view text, const CellCheck& check = {});

} // namespace brenvo
