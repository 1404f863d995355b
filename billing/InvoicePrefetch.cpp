#include "billing/InvoicePrefetch.h"

#include "lib/base/Error.h"

namespace brenvo {

InvoicePrefetch::InvoicePrefetch(std::vector<std::string> paths, size_t ahead)
    : paths_(std::move(paths)), ahead_(ahead < 1 ? 1 : ahead) {
    if (!paths_.empty()) thread_ = std::thread([this] { Run(); });
}

InvoicePrefetch::~InvoicePrefetch() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void InvoicePrefetch::Run() {
    for (const std::string& path : paths_) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || ready_.size() < ahead_; });
            if (stop_) return;
        }
        Result r;
        r.identity_ = IdentityOf(path);
        try {
            r.doc_.emplace();
            r.doc_->LoadFromFile(path);
        } catch (...) {
            r.doc_.reset();
            r.failure_ = std::current_exception();
        }
        // Only a taker waiting on an empty queue needs waking.
        bool wasEmpty;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            wasEmpty = ready_.empty();
            ready_.push_back(std::move(r));
        }
        if (wasEmpty) changed_.notify_all();
    }
}

InvoicePrefetch::Result InvoicePrefetch::Next() {
    if (taken_ >= paths_.size()) throw Error("Keine weitere Rechnungsdatei zu lesen.");
    Result r;
    // Only the reading thread waiting for room in a full queue needs waking.
    bool wasFull;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !ready_.empty(); });
        wasFull = ready_.size() >= ahead_;
        r = std::move(ready_.front());
        ready_.pop_front();
    }
    if (wasFull) changed_.notify_all();
    ++taken_;
    return r;
}

InvoiceDocument InvoicePrefetch::Result::Document() {
    if (failure_) std::rethrow_exception(failure_);
    return std::move(*doc_);
}

} // namespace brenvo
