#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lib/dataset/Table.h"

namespace brenvo {

// Hash indexes on some columns of a table, kept beside it, so that the
// archives answer "is there a row with this value" and "make that row
// current" in constant time on tables of any size, whatever sort order or
// filter the views put on the table.
//
// The index covers every row, including rows a filter hides. It follows the
// table through the table's notifications: a posted or inserted row is
// re-read, a removed row is dropped, and anything it cannot follow exactly (a
// reset after loading, emptying, cancelling, sorting or filtering) marks it
// stale; the next lookup then rebuilds it in one pass over the table. A
// rebuild moves the cursor, so it runs inside BeginUpdate/EndUpdate and puts
// the current row back.
class TableKeyIndex {
public:
    enum class Kind {
        Exact,     // the text as it stands; null counts as ""
        FoldCase,  // the text ignoring letter case (exact values kept beside it)
        Integer    // an integer column (or a text holding one), as decimal text
    };
    struct Slot {
        std::string column;
        Kind kind = Kind::Exact;
    };
    using Bookmark = Table::Bookmark;

    TableKeyIndex(Table& table, std::vector<Slot> slots);
    ~TableKeyIndex();
    TableKeyIndex(const TableKeyIndex&) = delete;
    TableKeyIndex& operator=(const TableKeyIndex&) = delete;

    // Reads every row afresh.
    void Rebuild();
    void Invalidate() { stale_ = true; }

    // Bookmarks of the rows whose slot value equals key (folded for FoldCase
    // slots), in no particular order; empty when there is none. Valid until
    // the index changes.
    std::span<const Bookmark> Find(int slot, std::string_view key);
    bool Contains(int slot, std::string_view key) { return !Find(slot, key).empty(); }
    // A row whose FoldCase slot value equals key exactly (case included).
    bool ContainsExact(int slot, std::string_view key);
    // The slot values recorded for a row, exactly as the row holds them
    // (integers as decimal text); nullptr for an unknown bookmark.
    const std::vector<std::string>* ValuesOf(Bookmark b);
    // Makes the first row with the key current that is visible under the
    // table's filter; false (and no move) when there is none.
    bool GotoFirst(int slot, std::string_view key);

    // While a Suspend guard lives, the index ignores the table's resets: for
    // the stores' own sorting and filter switching, which change no value.
    class Suspend {
    public:
        explicit Suspend(TableKeyIndex& ix) : ix_(ix) { ++ix_.ignoreResets_; }
        ~Suspend() { --ix_.ignoreResets_; }
        Suspend(const Suspend&) = delete;
        Suspend& operator=(const Suspend&) = delete;
    private:
        TableKeyIndex& ix_;
    };

    // Row count covered (for tests and checks).
    size_t Size();
    // Visits the recorded values of every row (all rows, filter or not).
    template <class Fn> void ForEach(Fn&& fn) {
        EnsureFresh();
        for (const auto& [b, values] : rows_) fn(b, values);
    }

private:
    void OnEvent(TableEvent ev, Bookmark b);
    void EnsureFresh();
    void Add(Bookmark b, std::vector<std::string> values);
    void Remove(Bookmark b);
    std::vector<std::string> ReadCurrent() const;
    std::string KeyOf(int slot, const std::string& value) const;

    Table& table_;
    std::vector<Slot> slots_;
    std::vector<int> columns_;   // column positions, resolved at each rebuild
    // The rows of one key: most keys have one, which is held without a list.
    struct Rows {
        Bookmark one = 0;              // the only row while `more` is empty
        std::vector<Bookmark> more;    // every row once there are two or more
        std::span<const Bookmark> All() const {
            return more.empty() ? std::span<const Bookmark>(&one, one != 0 ? 1 : 0) : std::span<const Bookmark>(more);
        }
        void Add(Bookmark b);
        bool Remove(Bookmark b);   // true when no row is left
    };
    std::vector<std::unordered_map<std::string, Rows>> maps_;
    std::unordered_map<Bookmark, std::vector<std::string>> rows_;
    int listener_ = 0;
    int ignoreResets_ = 0;
    bool rebuilding_ = false;
    bool stale_ = true;
};

// Switches a table's filter off for the life of the guard and back on after,
// keeping the current row, without disturbing the index.
class UnfilteredScope {
public:
    UnfilteredScope(Table& table, TableKeyIndex& index);
    ~UnfilteredScope();
    UnfilteredScope(const UnfilteredScope&) = delete;
    UnfilteredScope& operator=(const UnfilteredScope&) = delete;

private:
    Table& table_;
    TableKeyIndex& index_;
    bool wasFiltered_ = false;
};

// The highest integer of a column over all rows whatever a view's filter,
// read as an Integer slot reads it (0 when there is none), without building
// the index: a store just loaded leaves its index to the first search.
int64_t HighestInteger(Table& table, TableKeyIndex& index, const std::string& column);

// The first row of each key found in index slot `slot`, over all rows
// whatever a view's filter: fn sees the key and the table on that row.
void ReadKeyedRows(Table& table, TableKeyIndex& index, int slot, const std::vector<std::string>& keys,
                   const std::function<void(const std::string&, const Table&)>& fn);
// Appends a row filled by `fill` unless slot `slot` holds the key already
// (false then). A fill that fails leaves no row and passes the failure on.
bool AppendKeyedRow(Table& table, TableKeyIndex& index, int slot, const std::string& key,
                    const std::function<void(Table&)>& fill);

// The purge of both archives: sorts the table by a date column (the sort
// stays) and, over all rows whatever a view's filter, removes from the first
// row on every row dated before `limit` (the table's removal rule applies to
// each). After step k of n it calls step(k, n, removed so far, whether step
// k removed its row).
void PurgeByDate(Table& table, TableKeyIndex& index, const std::string& column, TDateTime limit,
                 const std::function<void(int k, int n, int removed, bool removedThis)>& step);

} // namespace brenvo
