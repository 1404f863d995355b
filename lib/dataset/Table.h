#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "../base/DateTime.h"

namespace brenvo {

class Table;

enum class FieldType {
    String,    // text with a width (characters)
    Memo,      // text without width
    Integer,   // 64-bit integer
    Float,     // double
    Boolean,
    DateTime,  // TDateTime
    Nested     // a table of its own in every row
};

struct FieldDef {
    std::string name;
    FieldType type = FieldType::String;
    int width = 0;                    // String only
    // The data-packet spelling, kept so that a table written back keeps its
    // column types ("i4", "r8", "date", ...). Empty: the default for `type`.
    std::string xmlType;
    std::string subtype;              // SUBTYPE attribute ("Money", "Text"), may be empty
    std::vector<FieldDef> nested;     // Nested only: the columns of the nested table

    static FieldDef Str(std::string n, int w) { FieldDef f; f.name = std::move(n); f.type = FieldType::String; f.width = w; return f; }
    static FieldDef Int(std::string n) { FieldDef f; f.name = std::move(n); f.type = FieldType::Integer; return f; }
    static FieldDef Flt(std::string n) { FieldDef f; f.name = std::move(n); f.type = FieldType::Float; return f; }
    static FieldDef Money(std::string n) { FieldDef f = Flt(std::move(n)); f.subtype = "Money"; return f; }
    static FieldDef Bool(std::string n) { FieldDef f; f.name = std::move(n); f.type = FieldType::Boolean; return f; }
    static FieldDef Date(std::string n) { FieldDef f; f.name = std::move(n); f.type = FieldType::DateTime; return f; }
    static FieldDef MemoF(std::string n) { FieldDef f; f.name = std::move(n); f.type = FieldType::Memo; return f; }
    static FieldDef NestedF(std::string n, std::vector<FieldDef> cols) { FieldDef f; f.name = std::move(n); f.type = FieldType::Nested; f.nested = std::move(cols); return f; }
    // This column with the given data-packet spelling ("i4", "r8", "dateTime", ...).
    FieldDef WithXmlType(std::string type) const { FieldDef f = *this; f.xmlType = std::move(type); return f; }
};

// One field value. Nested tables are not values; reach them with Table::Nested.
using Value = std::variant<std::monostate, std::string, int64_t, double, bool, TDateTime>;
inline bool IsNullValue(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// Order of two values of one column: null first, then by value; texts by
// their bytes (case matters).
int CompareValues(const Value& a, const Value& b);

struct LocateOptions {
    bool caseInsensitive = false;   // texts compared ignoring letter case
    bool partialKey = false;        // a text matches when it starts with the value
};

// What a table reports to whoever shows it (the windows' item models).
enum class TableEvent {
    Reset,        // structure, sort order, filter or all rows changed: re-read everything
    RowChanged,   // the row `bookmark` was posted
    RowInserted,  // the row `bookmark` was added
    RowDeleted,   // the row `bookmark` was removed
    Scrolled      // the current row moved
};

// A table file held in memory: typed columns, rows, a current row, a sort
// order (the index), a filter, and a change log.
//
// Rows are visible in the order of the index (stable: rows with equal keys
// keep their order of loading or insertion); rows hidden by the filter are
// skipped by navigation and counting. Positioning on key values of the
// leading index columns is a binary search, never a scan.
//
// Field access reads the current row, or the edit buffer while the table is
// in Edit or Insert state. Writing fields needs Edit or Insert state.
class Table {
public:
    enum class State { Inactive, Browse, Edit, Insert };
    using Bookmark = uint64_t;        // 0 is never a valid bookmark

    Table();
    explicit Table(std::vector<FieldDef> fields);   // creates an open, empty table
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    Table(Table&&) noexcept;
    Table& operator=(Table&&) noexcept;

    // A deep copy: columns, rows, nested tables, index and filter; the copy
    // has no change log (its rows count as unchanged).
    std::unique_ptr<Table> Clone() const;

    // --- structure and state
    // Defines the columns and opens the table empty. Fails with Error on a
    // duplicate column name (ignoring case).
    void CreateDataSet(std::vector<FieldDef> fields);
    void Close();                                  // drops columns and rows; Inactive
    bool Active() const;
    State GetState() const;
    const std::vector<FieldDef>& Fields() const;
    int FieldCount() const;
    int FieldIndex(std::string_view name) const;  // ignoring case; -1 when missing
    bool HasField(std::string_view name) const;
    const FieldDef& Field(int index) const;
    // Identifies the current set of columns: it changes whenever the columns
    // may have changed (CreateDataSet, a load, Close), so a caller may keep
    // column positions while it stays the same.
    uint64_t ColumnsId() const;
    // Empties the table (rows, change log) and keeps the columns.
    void EmptyTable();

    // --- files (XML data packets)
    // Reads the file into the table. On any failure (missing file, not a data
    // packet, unreadable value, duplicate column) it throws Error with a
    // German message naming the file, and the table keeps what it held.
    // Sort order, filter, hooks and listeners stay in force; a sort order or
    // filter naming a column the new content lacks is dropped.
    void LoadFromFile(const std::string& path);
    void LoadFromXml(std::string_view xml, const std::string& nameForMessages);
    // Merges the change log, then writes the whole table atomically as UTF-8.
    void SaveToFile(const std::string& path);
    std::string SaveToXml();                       // merges the change log too
    const std::string& FileName() const;           // the last file loaded or saved

    // --- navigation over the visible rows
    void First();
    void Last();
    void Next();
    void Prior();
    bool Eof() const;          // after Next on the last row, or when empty
    bool Bof() const;          // after Prior on the first row, or when empty
    bool IsEmpty() const;      // no visible row
    int RecordCount() const;   // visible rows
    int RecNo() const;         // 1-based position among the visible rows; 0 when empty
    void SetRecNo(int recNo);  // clamped to 1..RecordCount

    Bookmark GetBookmark() const;                  // of the current row; 0 when none
    bool BookmarkValid(Bookmark b) const;          // the row still exists and is visible
    bool GotoBookmark(Bookmark b);                 // false (and no move) when invalid

    // --- index and filter
    // Column names separated by ";" (ignoring case); "" = order of loading and
    // insertion. Fails with Error when a column does not exist. The current
    // row stays current.
    void SetIndexFieldNames(const std::string& names);
    const std::string& IndexFieldNames() const;

    // Filter expressions: comparisons = <> < <= > >= between a column and a
    // quoted text ('it''s'), a number or a date written 'DD.MM.YYYY' (for
    // date columns), joined with AND, OR, NOT and parentheses; keywords and
    // column names in any letter case. A null text compares as "", any other
    // null as smaller than every value. Fails with Error on a malformed
    // expression, leaving the previous filter in force.
    void SetFilter(const std::string& expr);
    const std::string& Filter() const;
    void SetFiltered(bool on);                     // SetFilter does not switch it on
    bool Filtered() const;
    // A record filter evaluated in addition to the expression while Filtered;
    // it reads the row through the table handed to it.
    using RecordFilter = std::function<bool(const Table&)>;
    void SetRecordFilter(RecordFilter f);

    // --- searching
    // Makes the first visible row (in index order) whose columns hold the
    // values current; false and no move when there is none. `names` are
    // ";"-separated. Exact searches on leading index columns use the index.
    bool Locate(const std::string& names, const std::vector<Value>& values, LocateOptions opt = {});
    // Positions on the first visible row whose leading index columns equal
    // the values (as many values as given, at most the index columns);
    // binary search on the index. False and no move when there is none.
    bool FindKey(const std::vector<Value>& values);
    // Positions on the first visible row whose leading index columns are not
    // less than the values (FindNearest); Eof when there is none.
    void FindNearest(const std::vector<Value>& values);

    // --- field access (current row, or edit buffer in Edit/Insert state)
    // Each fails with Error when the column is missing or there is no row.
    bool IsNull(std::string_view name) const;
    Value GetValue(std::string_view name) const;
    std::string AsString(std::string_view name) const;   // null = ""; numbers as decimal text with ".";
                                                         // dates "DD.MM.YYYY" (+ " HH:NN:SS" with a time); "True"/"False"
    int64_t AsInteger(std::string_view name) const;      // null = 0; fails on text that is no number
    double AsFloat(std::string_view name) const;         // null = 0
    bool AsBoolean(std::string_view name) const;         // null = false
    TDateTime AsDateTime(std::string_view name) const;   // null = null TDateTime
    // By column index, for hot loops.
    bool IsNull(int index) const;
    const Value& GetValue(int index) const;
    std::string AsString(int index) const;

    // The nested table of the current row (or of the row being inserted).
    Table& Nested(std::string_view name);
    const Table& Nested(std::string_view name) const;

    // --- editing
    void Append();             // new row after the last; Insert state
    void Insert();             // new row before the current one; Insert state
    void Edit();               // Edit state on the current row
    void Post();               // writes the buffer; Browse state; the row stays current
    void Cancel();             // drops the buffer; Browse state
    // Removes the current row; the following row becomes current. BeforeDelete
    // runs first and vetoes the removal by throwing.
    void Delete();
    void SetValue(std::string_view name, Value v);
    void SetValue(int index, Value v);   // by column index, for hot loops
    void SetString(std::string_view name, std::string_view v);   // longer texts are cut to the width
    void SetInteger(std::string_view name, int64_t v);
    void SetFloat(std::string_view name, double v);
    void SetBoolean(std::string_view name, bool v);
    void SetDateTime(std::string_view name, TDateTime v);         // a null TDateTime sets null
    void SetNull(std::string_view name);

    std::function<void(Table&)> BeforeDelete;    // current row = the row to go
    std::function<void(Table&)> BeforePost;      // may throw to refuse the post

    // --- change log
    int ChangeCount() const;    // unmerged inserted, modified and deleted rows (nested included)
    bool HasChanges() const { return ChangeCount() > 0; }
    void MergeChangeLog();      // the current contents become the unchanged state
    void CancelUpdates();       // back to the state of the last merge

    // --- notifications for views
    using Listener = std::function<void(TableEvent, Bookmark)>;
    int Subscribe(Listener l);
    // The same events with the row's position among the visible rows before
    // and after the change (0-based, -1 when it was or is not visible), so
    // that a view can follow a single row instead of re-reading everything.
    // Scrolled gives the new current row as `newRow`; Reset gives -1 twice.
    struct Change {
        TableEvent event;
        Bookmark bookmark;
        int oldRow;
        int newRow;
    };
    using ChangeListener = std::function<void(const Change&)>;
    int SubscribeChanges(ChangeListener l);
    void Unsubscribe(int id);   // either kind of listener

    // --- reading rows for views, without moving the current row
    // `row` is the 0-based position among the visible rows (0 .. RecordCount-1),
    // `column` a field index; both must be in range.
    const Value& ValueAt(int row, int column) const;
    Bookmark BookmarkAt(int row) const;
    // The visible position of a row; -1 when it does not exist or is filtered out.
    int RowOf(Bookmark b) const;
    // Between BeginUpdate and EndUpdate no events are sent; EndUpdate sends Reset.
    void BeginUpdate();
    void EndUpdate();

    struct Impl;
private:
    std::unique_ptr<Impl> d;
};

// Every row of a table visible for as long as it lives (its filter switched
// off), then the filter in force again as before.
class AllRows {
public:
    explicit AllRows(Table& t) : t_(t), filtered_(t.Filtered()) {
        if (filtered_) t_.SetFiltered(false);
    }
    ~AllRows() {
        if (filtered_) t_.SetFiltered(true);
    }
    AllRows(const AllRows&) = delete;
    AllRows& operator=(const AllRows&) = delete;

private:
    Table& t_;
    bool filtered_;
};

} // namespace brenvo
