#include "mainwindow/BasketList.h"

#include "lib/base/Strings.h"

namespace brenvo {

int MarkOfFileName(std::string_view name) { return StartsWith(name, ErrorPrefix) ? 2 : 1; }

std::string CleanFileName(std::string_view name) {
    const std::string upper = UpperCase(name);
    const size_t at = upper.find(ErrorPrefix);
    std::string clean(name);
    // Upper-casing keeps the byte positions of ASCII letters.
    if (at != std::string::npos) clean.erase(at, 6);
    return clean;
}

std::string TBasketList::Key(std::string_view caption) { return UpperCase(caption); }

std::string TBasketList::Tip(size_t index) const {
    const TBasketItem& item = Item(index);
    return item.Caption + " " + IntToStr(item.Mark);
}

void TBasketList::Clear() {
    items_.clear();
    byCaption_.clear();
    byId_.clear();
    if (view_) view_->BasketReset(kind_);
}

size_t TBasketList::Add(const std::string& caption, ItemIcon icon, int64_t id) {
    const size_t index = items_.size();
    items_.push_back({caption, icon, id, MarkOfFileName(caption)});
    byCaption_[Key(caption)].insert(index);
    byId_[id].insert(index);
    if (view_) view_->BasketItemInserted(kind_, index);
    return index;
}

long TBasketList::FindCaption(std::string_view caption) const {
    auto it = byCaption_.find(Key(caption));
    if (it == byCaption_.end() || it->second.empty()) return -1;
    return long(*it->second.begin());
}

long TBasketList::FindId(int64_t id) const {
    auto it = byId_.find(id);
    if (it == byId_.end() || it->second.empty()) return -1;
    return long(*it->second.begin());
}

void TBasketList::SetIcon(size_t index, ItemIcon icon) {
    items_.at(index).Icon = icon;
    if (view_) view_->BasketItemChanged(kind_, index);
}

void TBasketList::SetCaption(size_t index, const std::string& caption) {
    TBasketItem& item = items_.at(index);
    auto old = byCaption_.find(Key(item.Caption));
    if (old != byCaption_.end()) {
        old->second.erase(index);
        if (old->second.empty()) byCaption_.erase(old);
    }
    item.Caption = caption;
    item.Mark = MarkOfFileName(caption);
    byCaption_[Key(caption)].insert(index);
    if (view_) view_->BasketItemChanged(kind_, index);
}

void TBasketList::Remove(size_t index) {
    items_.erase(items_.begin() + std::ptrdiff_t(index));
    Reindex();
    if (view_) view_->BasketItemRemoved(kind_, index);
}

void TBasketList::Reindex() {
    byCaption_.clear();
    byId_.clear();
    for (size_t i = 0; i < items_.size(); ++i) {
        byCaption_[Key(items_[i].Caption)].insert(i);
        byId_[items_[i].Id].insert(i);
    }
}

} // namespace brenvo
