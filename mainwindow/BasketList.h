#pragma once

// The list model behind the input basket, the inbox and the outbox: one item
// per invoice file or order, with caption, icon, attached id and mark. The
// callbacks of the archives find items by caption (ignoring letter case) or
// by id; both go through hash indexes, so a run over thousands of invoices
// does not search the list for every notification.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "mainwindow/MainView.h"

namespace brenvo {

// The error prefix of an invoice file that failed the processing run.
inline constexpr const char* ErrorPrefix = "FEHLER";

// Mark 2 (error) when the name starts with exactly "FEHLER", else 1 (open).
int MarkOfFileName(std::string_view name);
// The name without the first occurrence of "FEHLER", searched ignoring letter case.
std::string CleanFileName(std::string_view name);

struct TBasketItem {
    std::string Caption;
    ItemIcon Icon = ItemIcon::Open;
    int64_t Id = 0;
    int Mark = 1;   // 1 open, 2 error (from the caption)
};

class TBasketList {
public:
    // view may be null (no window attached).
    TBasketList(BasketKind kind, IMainView* view) : kind_(kind), view_(view) {}

    BasketKind Kind() const { return kind_; }
    size_t Count() const { return items_.size(); }
    const TBasketItem& Item(size_t index) const { return items_.at(index); }
    const std::vector<TBasketItem>& Items() const { return items_; }
    // The item's tip: caption, a blank and the mark.
    std::string Tip(size_t index) const;

    void Clear();
    // Appends an item; returns its index.
    size_t Add(const std::string& caption, ItemIcon icon, int64_t id);
    // The first item with that caption, ignoring letter case; -1 when none.
    long FindCaption(std::string_view caption) const;
    // The first item with that id; -1 when none.
    long FindId(int64_t id) const;
    void SetIcon(size_t index, ItemIcon icon);
    void SetCaption(size_t index, const std::string& caption);
    void Remove(size_t index);

private:
    void Reindex();
    static std::string Key(std::string_view caption);

    BasketKind kind_;
    IMainView* view_;
    std::vector<TBasketItem> items_;
    std::unordered_map<std::string, std::set<size_t>> byCaption_;
    std::unordered_map<int64_t, std::set<size_t>> byId_;
};

} // namespace brenvo
