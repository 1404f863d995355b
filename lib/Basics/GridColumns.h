#pragma once

// The columns a grid shows of a table: field, caption, width, alignment and
// display form, in the order of the grid. The grids of the archives and of
// the cost-bearer directory describe their columns with this list; the
// window's table model reads it. Cells are shown in the German forms: dates
// "TT.MM.JJJJ" (with " HH:MM:SS" when they carry a time), amounts "1.234,56".

#include <optional>
#include <string>
#include <vector>

#include "lib/dataset/Table.h"

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
    bool ReadOnly = false;          // not to be changed in a grid that edits

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

// The value a text typed into a cell stands for, read as the column's type
// wants it: texts as they are (at most the column's width), dates
// "TT.MM.JJJJ" with an optional time "HH:MM" or "HH:MM:SS", numbers and
// amounts in the German form ("1.234,56"), flags "Ja"/"Nein". An empty text
// is an empty (null) value. Fails with Error, naming the text, when it is no
// such value.
Value ParseCell(const std::string& text, const FieldDef& field);

} // namespace brenvo
