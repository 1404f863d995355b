#pragma once

// Internal layout of a Table, shared by the table engine's own sources
// (Table.cpp, DataPacket.cpp, FilterExpr.cpp). Not for use outside lib/dataset.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Table.h"

namespace brenvo {

namespace detail {

class FilterExpr;

// Letter case ignored for ASCII letters; other characters (umlauts in column
// names) fall back to the full comparison of lib/base.
bool SameName(std::string_view a, std::string_view b);
size_t NameHash(std::string_view s);

// Column names to positions, ignoring letter case, without allocating on a lookup.
class NameIndex {
public:
    void Build(const std::vector<FieldDef>& fields);
    int Find(std::string_view name) const;

private:
    struct Hash {
        size_t operator()(std::string_view s) const { return NameHash(s); }
    };
    struct Eq {
        bool operator()(std::string_view a, std::string_view b) const { return SameName(a, b); }
    };
    std::unordered_map<std::string_view, int, Hash, Eq> map_;
};

// The columns of a table with their lookup structures. Built once and never
// changed afterwards, so that every table of one shape (the nested tables of
// all rows of a column) shares it instead of building its own.
struct Schema {
    uint64_t id = 0;                 // unique for every schema built
    std::vector<FieldDef> fields;
    NameIndex names;                 // views into `fields`
    std::vector<int> nestedSlot;     // per column: index into Row::nested, -1 when not nested
    int nestedCount = 0;
    std::vector<std::shared_ptr<const Schema>> nestedSchemas;   // per nested slot

    // Builds the schema and those of its nested columns; the names are not
    // checked here (CreateDataSet and the file reader do that).
    static std::shared_ptr<const Schema> Build(std::vector<FieldDef> fields);
    static const std::shared_ptr<const Schema>& Empty();
};

enum class LogState : uint8_t { Unchanged, Inserted, Modified };

// Rows read from one file are placed one after another in blocks instead of
// one heap allocation each, so that the rows of a loaded table lie in memory
// in the order of the file, however scattered the heap's free space was
// before. A block is given back when its last row is deleted and the arena
// that filled it is gone. Rows may be deleted on any thread.
class RowArena {
public:
    struct Block {
        std::atomic<uint32_t> refs;   // rows in the block, plus one while the arena fills it
    };

    RowArena() = default;
    ~RowArena() { Release(); }
    RowArena(const RowArena&) = delete;
    RowArena& operator=(const RowArena&) = delete;

    // Room for `bytes` in the current block, counted for `block`; null when
    // the piece is too big for a block (it then goes on the heap).
    void* Allocate(size_t bytes, Block*& block) {
        bytes = (bytes + kAlign - 1) & ~(kAlign - 1);
        if (bytes > kMaxPiece) return nullptr;
        if (!cur_ || size_t(end_ - next_) < bytes) NewBlock(bytes);
        void* p = next_;
        next_ += bytes;
        cur_->refs.fetch_add(1, std::memory_order_relaxed);
        block = cur_;
        return p;
    }

    // One reference less; the last one frees the block.
    static void Drop(Block* b) {
        if (b->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            b->~Block();
            ::operator delete(static_cast<void*>(b));
        }
    }

private:
    static constexpr size_t kAlign = 16;
    static constexpr size_t kHeader = 16;
    static constexpr size_t kFirstBlock = 16 * 1024;
    static constexpr size_t kMaxBlock = 1024 * 1024;
    static constexpr size_t kMaxPiece = 64 * 1024;
    static_assert(sizeof(Block) <= kHeader);

    void NewBlock(size_t bytes) {
        Release();
        const size_t size = std::max(blockSize_, bytes + kHeader);
        blockSize_ = std::min(blockSize_ * 2, kMaxBlock);
        char* mem = static_cast<char*>(::operator new(size));
        cur_ = ::new (mem) Block{};
        cur_->refs.store(1, std::memory_order_relaxed);
        next_ = mem + kHeader;
        end_ = mem + size;
    }
    void Release() {
        if (cur_) Drop(cur_);
        cur_ = nullptr;
    }

    Block* cur_ = nullptr;
    char* next_ = nullptr;
    char* end_ = nullptr;
    size_t blockSize_ = kFirstBlock;
};

// A row: its bookkeeping and, in the same allocation right behind it, one
// value per column (nested columns stay null). A value is reached from the
// row's address without reading the row first, and a row with its values is
// one piece of memory, on the heap or in a RowArena's block. Rows are made by
// Make and deleted as usual (RowPtr).
struct Row {
    std::vector<std::unique_ptr<Table>> nested;    // one per nested column, in column order
    std::unique_ptr<std::vector<Value>> original;  // Modified: the values at the last merge
    uint64_t id = 0;                               // the bookmark
    uint64_t seq = 0;                              // position in the order of loading and insertion
    LogState log = LogState::Unchanged;
    bool visible = true;                           // passes the filter (while filtering)

private:
    uint32_t count_;                               // values behind the row
    RowArena::Block* block_;                       // null: the row is on the heap

public:
    // A row of `count` null values, placed in `arena` when one is given.
    static std::unique_ptr<Row> Make(size_t count, RowArena* arena = nullptr) {
        const size_t bytes = sizeof(Row) + count * sizeof(Value);
        RowArena::Block* block = nullptr;
        void* p = arena ? arena->Allocate(bytes, block) : nullptr;
        if (!p) p = ::operator new(bytes);
        return std::unique_ptr<Row>(::new (p) Row(count, block));   // constructing a row cannot throw
    }
    std::span<Value> Values() { return {Data(), count_}; }
    std::span<const Value> Values() const { return {Data(), count_}; }
    // Takes over the values of a row of the same width.
    void MoveValuesFrom(std::span<Value> from) {
        std::move(from.begin(), from.begin() + std::ptrdiff_t(std::min<size_t>(from.size(), count_)), Data());
    }

    ~Row() { std::destroy_n(Data(), count_); }
    Row(const Row&) = delete;
    Row& operator=(const Row&) = delete;
    static void operator delete(Row* r, std::destroying_delete_t) {
        RowArena::Block* block = r->block_;
        r->~Row();
        if (block) RowArena::Drop(block);
        else ::operator delete(static_cast<void*>(r));
    }

private:
    Row(size_t count, RowArena::Block* block) noexcept : count_(uint32_t(count)), block_(block) {
        std::uninitialized_value_construct_n(reinterpret_cast<Value*>(this + 1), count);
    }
    Value* Data() { return std::launder(reinterpret_cast<Value*>(this + 1)); }
    const Value* Data() const { return std::launder(reinterpret_cast<const Value*>(this + 1)); }
};
static_assert(sizeof(Row) == 64, "a row's bookkeeping fills one cache line");
static_assert(sizeof(Row) % alignof(Value) == 0, "the values follow the row without a gap");
static_assert(alignof(Row) <= 16 && alignof(Value) <= 16, "arena pieces are aligned to 16 bytes");

using RowPtr = std::unique_ptr<Row>;

// Text columns compare a null value like "" when searching and filtering.
inline bool IsTextType(FieldType t) { return t == FieldType::String || t == FieldType::Memo; }

// A name that can stand as an element or attribute name in XML.
bool IsXmlName(std::string_view s);

// The data-packet type a column is written with ("string", "i4", "dateTime", ...).
std::string EffectiveXmlType(const FieldDef& f);

// Turns a value given by a caller into the column's type where that is
// possible without loss ("12" for an integer column, 3 for a float column);
// anything else is returned unchanged.
Value CoerceToColumn(const FieldDef& f, const Value& v);

// A date written DD.MM.YYYY (also D.M.YYYY), optionally followed by a blank
// and a time HH:NN or HH:NN:SS.
std::optional<TDateTime> ParseGermanDateTime(std::string_view s);

// Compares a row value with a search value of the same column; a null text
// counts as "".
int CompareSearch(const Value& rowValue, const Value& key, bool text);

} // namespace detail

struct Table::Impl {
    // --- structure
    bool active = false;
    State state = State::Inactive;
    std::shared_ptr<const detail::Schema> schema = detail::Schema::Empty();

    // --- rows
    std::vector<detail::RowPtr> rows;   // order of loading and insertion (seq ascending)
    std::vector<detail::Row*> order;    // index order: keys, then seq
    std::vector<detail::Row*> view;     // the visible rows while filtering, in index order
    bool filtering = false;             // `view` is in use
    // Rows by bookmark, built on first use and kept up to date from then on.
    mutable std::unordered_map<uint64_t, detail::Row*> byId;
    mutable bool byIdBuilt = false;
    detail::Row* FindRow(uint64_t id) const;
    uint64_t nextId = 1;

    // --- cursor over the visible rows
    size_t cur = 0;
    bool eof = true;
    bool bof = true;

    // --- index and filter
    std::string indexNames;
    std::vector<int> keyCols;
    // Orders of earlier indexes, kept while no row is added, changed or
    // removed: switching back to one then costs nothing (a rebuilt order
    // would be the same, the sort being stable). Dropped by every row change.
    // For searches on the unfiltered order: per position an image of the
    // leading key columns (16 bytes, compared as two numbers; their order
    // agrees with the rows'), searched before the rows themselves, which
    // keeps a search in a small contiguous array and mostly spares it the
    // rows. Built by the first search after the order changed.
    struct KeyImage {
        uint64_t hi = 0;    // bytes 0..7, the first byte highest
        uint64_t lo = 0;    // bytes 8..15
        bool operator==(const KeyImage&) const = default;
        bool operator<(const KeyImage& o) const { return hi != o.hi ? hi < o.hi : lo < o.lo; }
    };
    struct SearchPrefix {
        std::vector<KeyImage> images;
        // Every kSampleStep-th image, searched first: a small array that stays
        // in the cache narrows the search in `images` to a few neighbours.
        static constexpr size_t kSampleStep = 8;
        std::vector<KeyImage> sample;
        // > 0: the images encode that many leading text key columns (as
        // KeyImageWriter in Table.cpp writes them); 0: `hi` is a number from
        // the first key column only (SortPrefix) and `lo` is 0.
        size_t textColumns = 0;
        size_t kind = 0;       // the Value alternative of the first key column
        bool valid = false;    // built for the current order
        bool usable = false;   // the column holds values of one kind (and nulls)
    };
    mutable SearchPrefix orderPrefix;
    struct SavedOrder {
        std::vector<int> keyCols;
        std::vector<detail::Row*> order;
        SearchPrefix prefix;
    };
    std::vector<SavedOrder> savedOrders;
    std::string filterText;
    std::unique_ptr<detail::FilterExpr> filterExpr;
    bool filtered = false;
    RecordFilter recordFilter;

    // --- editing
    detail::RowPtr pending;             // Insert state: the new row
    detail::Row* insertBefore = nullptr; // Insert: the row the new one goes before; null = at the end
    std::vector<Value> buffer;          // Edit state: the values being edited
    detail::Row* editRow = nullptr;
    bool bufferModified = false;

    // --- change log
    std::vector<detail::RowPtr> deleted;
    int ownChanges = 0;
    // Rows Post gave a change-log state since the last merge; emptied
    // whenever rows may go away. When they and `deleted` account for every
    // change (`ownChanges`), merging touches just them instead of every row.
    std::vector<detail::Row*> logged;

    std::string fileName;

    // --- notifications
    std::vector<std::pair<int, ChangeListener>> listeners;
    int nextListener = 1;
    int updateDepth = 0;

    // Values read by field access while the record filter runs.
    mutable const std::span<const Value>* evalValues = nullptr;

    // The values of the search under way (FindKey, FindNearest).
    mutable std::vector<Value> searchKeys;

    static Impl& Of(Table& t) { return *t.d; }
    static const Impl& Of(const Table& t) { return *t.d; }

    // Installs new columns and rows (the rows' values sized to the columns),
    // keeping index, filter, listeners and hooks. Index and filter that no
    // longer fit the columns are dropped. The rows count as unchanged.
    void Install(std::shared_ptr<const detail::Schema> newSchema, std::vector<detail::RowPtr> newRows);
    void Install(std::vector<FieldDef> newFields, std::vector<detail::RowPtr> newRows) {
        Install(detail::Schema::Build(std::move(newFields)), std::move(newRows));
    }
    // An empty, open table of the given shape (a nested table of a new row).
    static std::unique_ptr<Table> MakeTable(std::shared_ptr<const detail::Schema> schema,
                                            std::vector<detail::RowPtr> rows = {});
    std::vector<Value> NewValues() const { return std::vector<Value>(schema->fields.size()); }
    detail::RowPtr NewRow() const;
};

} // namespace brenvo
