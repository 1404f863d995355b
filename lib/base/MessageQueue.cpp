#include "MessageQueue.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace brenvo {

MessageQueue::MessageQueue() : owner_(std::this_thread::get_id()) {}

MessageQueue::~MessageQueue() { Shutdown(); }

void MessageQueue::CheckOwner(const char* what) const {
    if (!IsOwnerThread())
        throw std::logic_error(std::string("MessageQueue::") + what + " outside the owner thread");
}

void MessageQueue::CallWakeup() {
    std::shared_ptr<std::function<void()>> cb;
    {
        std::lock_guard lock(mutex_);
        cb = wakeup_;
    }
    if (cb && *cb) (*cb)();
}

void MessageQueue::SetWakeupCallback(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    if (callback)
        wakeup_ = std::make_shared<std::function<void()>>(std::move(callback));
    else
        wakeup_.reset();
}

bool MessageQueue::IsShutDown() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

size_t MessageQueue::PendingCount() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

bool MessageQueue::Synchronize(Handler handler) {
    if (IsOwnerThread()) {
        handler();
        return true;
    }
    auto state = std::make_shared<SyncState>();
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        queue_.push_back(Message{std::move(handler), state});
    }
    ownerCv_.notify_all();
    CallWakeup();
    std::unique_lock lock(mutex_);
    syncCv_.wait(lock, [&] { return state->done || state->cancelled; });
    if (state->error) std::rethrow_exception(state->error);
    return state->done;
}

bool MessageQueue::Post(Handler handler) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        queue_.push_back(Message{std::move(handler), nullptr});
    }
    ownerCv_.notify_all();
    CallWakeup();
    return true;
}

void MessageQueue::Wake() {
    {
        std::lock_guard lock(mutex_);
        ++wakeCount_;
    }
    ownerCv_.notify_all();
    CallWakeup();
}

size_t MessageQueue::ProcessMessages() {
    CheckOwner("ProcessMessages");
    size_t pending;
    {
        std::lock_guard lock(mutex_);
        pending = queue_.size();
    }
    // Only what was pending on entry runs, so a handler that posts again
    // cannot keep this call going for ever.
    size_t ran = 0;
    for (; ran < pending; ++ran) {
        Message msg;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) break;
            msg = std::move(queue_.front());
            queue_.pop_front();
        }
        if (!msg.sync) {
            msg.handler();
            continue;
        }
        std::exception_ptr error;
        try {
            msg.handler();
        } catch (...) {
            error = std::current_exception();
        }
        // The handler's captures go before the worker is released: they may
        // refer to the worker's stack.
        msg.handler = nullptr;
        {
            std::lock_guard lock(mutex_);
            msg.sync->done = true;
            msg.sync->error = error;
        }
        syncCv_.notify_all();
    }
    return ran;
}

bool MessageQueue::WaitLocked(std::unique_lock<std::mutex>& lock, uint64_t seenWake,
                              std::chrono::steady_clock::time_point deadline, bool infinite) {
    auto ready = [&] { return !queue_.empty() || closed_ || wakeCount_ != seenWake; };
    if (infinite) {
        ownerCv_.wait(lock, ready);
        return true;
    }
    return ownerCv_.wait_until(lock, deadline, ready);
}

size_t MessageQueue::WaitAndProcess(std::chrono::milliseconds timeout) {
    CheckOwner("WaitAndProcess");
    const bool infinite = timeout == Infinite;
    const auto deadline = infinite ? std::chrono::steady_clock::time_point::max()
                                   : std::chrono::steady_clock::now() + timeout;
    {
        std::unique_lock lock(mutex_);
        WaitLocked(lock, wakeCount_, deadline, infinite);
    }
    return ProcessMessages();
}

bool MessageQueue::ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    CheckOwner("ProcessUntil");
    const bool infinite = timeout == Infinite;
    const auto deadline = infinite ? std::chrono::steady_clock::time_point::max()
                                   : std::chrono::steady_clock::now() + timeout;
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard lock(mutex_);
            seen = wakeCount_;
        }
        // The wake counter is read before done() is asked, so a Wake that
        // follows a change of done() is never missed.
        ProcessMessages();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        if (closed_ && queue_.empty()) {
            // Nothing will be queued any more; only a Wake can still help.
            auto woken = [&] { return wakeCount_ != seen; };
            if (infinite)
                ownerCv_.wait(lock, woken);
            else if (!ownerCv_.wait_until(lock, deadline, woken))
                break;
            continue;
        }
        if (!WaitLocked(lock, seen, deadline, infinite)) break;
    }
    ProcessMessages();
    return done();
}

void MessageQueue::Shutdown() {
    std::deque<Message> dropped;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        dropped.swap(queue_);
    }
    // The handlers go before their workers are released (their captures may
    // refer to a worker's stack), and outside the lock.
    for (auto& m : dropped) m.handler = nullptr;
    {
        std::lock_guard lock(mutex_);
        for (auto& m : dropped)
            if (m.sync) m.sync->cancelled = true;
    }
    syncCv_.notify_all();
    ownerCv_.notify_all();
}

} // namespace brenvo
