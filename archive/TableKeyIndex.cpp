#include "archive/TableKeyIndex.h"

#include <algorithm>

#include "lib/base/Strings.h"

namespace brenvo {

namespace {

std::string ValueText(const Value& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (const auto* i = std::get_if<int64_t>(&v)) return IntToStr(*i);
    if (const auto* f = std::get_if<double>(&v)) {
        // An integer column read from a file written as floating point.
        if (*f == static_cast<double>(static_cast<int64_t>(*f))) return IntToStr(static_cast<int64_t>(*f));
    }
    return std::string();
}

} // namespace

TableKeyIndex::TableKeyIndex(Table& table, std::vector<Slot> slots)
    : table_(table), slots_(std::move(slots)), maps_(slots_.size()) {
    listener_ = table_.Subscribe([this](TableEvent ev, Bookmark b) { OnEvent(ev, b); });
}

TableKeyIndex::~TableKeyIndex() { table_.Unsubscribe(listener_); }

std::string TableKeyIndex::KeyOf(int slot, const std::string& value) const {
    return slots_[size_t(slot)].kind == Kind::FoldCase ? UpperCase(value) : value;
}

std::vector<std::string> TableKeyIndex::ReadCurrent() const {
    std::vector<std::string> values(slots_.size());
    for (size_t i = 0; i < slots_.size(); ++i) {
        int col = columns_[i];
        if (col < 0) continue;
        std::string text = ValueText(table_.GetValue(col));
        if (slots_[i].kind == Kind::Integer) {
            if (auto n = ParseInt(Trim(text))) text = IntToStr(*n);
        }
        values[i] = std::move(text);
    }
    return values;
}

void TableKeyIndex::Rows::Add(Bookmark b) {
    if (one == 0 && more.empty()) {
        one = b;
        return;
    }
    if (more.empty()) more.push_back(one);
    more.push_back(b);
}

bool TableKeyIndex::Rows::Remove(Bookmark b) {
    if (more.empty()) {
        if (one == b) one = 0;
        return one == 0;
    }
    more.erase(std::remove(more.begin(), more.end(), b), more.end());
    if (more.size() == 1) {
        one = more.front();
        more.clear();
    } else if (more.empty()) {
        one = 0;
    }
    return one == 0 && more.empty();
}

void TableKeyIndex::Add(Bookmark b, std::vector<std::string> values) {
    for (size_t i = 0; i < slots_.size(); ++i) maps_[i][KeyOf(int(i), values[i])].Add(b);
    rows_[b] = std::move(values);
}

void TableKeyIndex::Remove(Bookmark b) {
    auto it = rows_.find(b);
    if (it == rows_.end()) return;
    for (size_t i = 0; i < slots_.size(); ++i) {
        auto m = maps_[i].find(KeyOf(int(i), it->second[i]));
        if (m != maps_[i].end() && m->second.Remove(b)) maps_[i].erase(m);
    }
    rows_.erase(it);
}

void TableKeyIndex::OnEvent(TableEvent ev, Bookmark b) {
    if (rebuilding_) return;
    switch (ev) {
    case TableEvent::Reset:
        if (ignoreResets_ == 0) stale_ = true;
        break;
    case TableEvent::RowInserted:
    case TableEvent::RowChanged:
        if (stale_) break;
        // The posted row is the current one; anything else is re-read in full.
        if (b != 0 && table_.GetState() == Table::State::Browse && table_.GetBookmark() == b) {
            Remove(b);
            Add(b, ReadCurrent());
        } else {
            stale_ = true;
        }
        break;
    case TableEvent::RowDeleted:
        if (!stale_) Remove(b);
        break;
    case TableEvent::Scrolled:
        break;
    }
}

void TableKeyIndex::Rebuild() {
    for (auto& m : maps_) m.clear();
    rows_.clear();
    columns_.assign(slots_.size(), -1);
    if (!table_.Active()) {
        stale_ = false;
        return;
    }
    // A row being edited is posted first, as any positioning does.
    if (table_.GetState() != Table::State::Browse) table_.Post();
    for (size_t i = 0; i < slots_.size(); ++i) columns_[i] = table_.FieldIndex(slots_[i].column);
    const size_t rows = size_t(std::max(0, table_.RecordCount()));
    for (auto& m : maps_) m.reserve(rows);
    rows_.reserve(rows);

    rebuilding_ = true;
    const Bookmark saved = table_.GetBookmark();
    const bool wasFiltered = table_.Filtered();
    table_.BeginUpdate();
    try {
        if (wasFiltered) table_.SetFiltered(false);
        for (table_.First(); !table_.Eof(); table_.Next()) Add(table_.GetBookmark(), ReadCurrent());
        if (wasFiltered) table_.SetFiltered(true);
        if (saved == 0 || !table_.GotoBookmark(saved)) table_.First();
    } catch (...) {
        if (wasFiltered && !table_.Filtered()) table_.SetFiltered(true);
        table_.EndUpdate();
        rebuilding_ = false;
        stale_ = true;
        throw;
    }
    table_.EndUpdate();
    rebuilding_ = false;
    stale_ = false;
}

void TableKeyIndex::EnsureFresh() {
    if (stale_) Rebuild();
}

std::span<const TableKeyIndex::Bookmark> TableKeyIndex::Find(int slot, std::string_view key) {
    EnsureFresh();
    const auto& m = maps_[size_t(slot)];
    auto it = m.find(KeyOf(slot, std::string(key)));
    return it == m.end() ? std::span<const Bookmark>() : it->second.All();
}

bool TableKeyIndex::ContainsExact(int slot, std::string_view key) {
    for (Bookmark b : Find(slot, key)) {
        auto it = rows_.find(b);
        if (it != rows_.end() && it->second[size_t(slot)] == key) return true;
    }
    return false;
}

const std::vector<std::string>* TableKeyIndex::ValuesOf(Bookmark b) {
    EnsureFresh();
    auto it = rows_.find(b);
    return it == rows_.end() ? nullptr : &it->second;
}

bool TableKeyIndex::GotoFirst(int slot, std::string_view key) {
    const std::span<const Bookmark> hits = Find(slot, key);
    std::vector<Bookmark> found(hits.begin(), hits.end());
    std::sort(found.begin(), found.end());
    for (Bookmark b : found) {
        if (table_.BookmarkValid(b) && table_.GotoBookmark(b)) return true;
    }
    return false;
}

size_t TableKeyIndex::Size() {
    EnsureFresh();
    return rows_.size();
}

UnfilteredScope::UnfilteredScope(Table& table, TableKeyIndex& index)
    : table_(table), index_(index), wasFiltered_(table.Active() && table.Filtered()) {
    if (wasFiltered_) {
        TableKeyIndex::Suspend quiet(index_);
        table_.SetFiltered(false);
    }
}

UnfilteredScope::~UnfilteredScope() {
    if (!wasFiltered_) return;
    try {
        TableKeyIndex::Suspend quiet(index_);
        table_.SetFiltered(true);
    } catch (...) {
        // The filter expression was valid when it was set; nothing to report.
    }
}

void PurgeByDate(Table& table, TableKeyIndex& index, const std::string& column, TDateTime limit,
                 const std::function<void(int, int, int, bool)>& step) {
    UnfilteredScope all(table, index);
    {
        TableKeyIndex::Suspend sorting(index);
        table.SetIndexFieldNames(column);
    }
    const int n = table.RecordCount();
    int removed = 0;
    table.First();
    for (int k = 1; k <= n && !table.Eof(); ++k) {
        const bool old = table.AsDateTime(column) < limit;
        if (old) {
            table.Delete();
            ++removed;
        } else {
            table.Next();
        }
        step(k, n, removed, old);
    }
}

int64_t HighestInteger(Table& table, TableKeyIndex& index, const std::string& column) {
    int64_t highest = 0;
    const int col = table.FieldIndex(column);
    if (!table.Active() || col < 0) return highest;
    UnfilteredScope all(table, index);
    const Table::Bookmark saved = table.GetBookmark();
    table.BeginUpdate();
    for (table.First(); !table.Eof(); table.Next())
        if (auto n = ParseInt(Trim(ValueText(table.GetValue(col))))) highest = std::max(highest, *n);
    if (saved == 0 || !table.GotoBookmark(saved)) table.First();
    table.EndUpdate();
    return highest;
}

void ReadKeyedRows(Table& table, TableKeyIndex& index, int slot, const std::vector<std::string>& keys,
                   const std::function<void(const std::string&, const Table&)>& fn) {
    UnfilteredScope all(table, index);
    for (const std::string& key : keys)
        if (index.GotoFirst(slot, key)) fn(key, table);
}

bool AppendKeyedRow(Table& table, TableKeyIndex& index, int slot, const std::string& key,
                    const std::function<void(Table&)>& fill) {
    if (index.Contains(slot, key)) return false;
    table.Append();
    try {
        fill(table);
        table.Post();
    } catch (...) {
        table.Cancel();
        throw;
    }
    return true;
}

} // namespace brenvo
