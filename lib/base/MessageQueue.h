#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace brenvo {

// Hands notifications from worker threads to the one thread that owns the
// queue: the program's window thread. All business logic runs on that thread;
// workers only watch (directories, external processes) and report here.
//
// A worker either waits until the owner has run its handler (Synchronize) or
// leaves it queued (Post). The owner runs what is pending when it pumps
// messages (ProcessMessages), or waits for work with a time limit
// (WaitAndProcess, ProcessUntil). A GUI event loop drives the same queue: it
// sets a wake-up callback that schedules ProcessMessages on its own loop.
//
// Shutdown makes every waiting and every later Synchronize return false
// without running its handler, so a worker can never block on an owner that
// no longer pumps. Keep the queue in a shared_ptr when workers may outlive
// its owner's other objects; they then call a queue that is shut down, never
// a destroyed one.
class MessageQueue {
public:
    using Handler = std::function<void()>;
    // For the timeouts: wait without limit.
    static constexpr std::chrono::milliseconds Infinite = std::chrono::milliseconds::max();

    // The calling thread becomes the owner.
    MessageQueue();
    // Shuts down.
    ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    bool IsOwnerThread() const { return std::this_thread::get_id() == owner_; }
    std::thread::id OwnerThreadId() const { return owner_; }

    // --- any thread

    // Runs handler on the owner thread and returns once it has run; called on
    // the owner thread itself, it runs the handler at once (and returns true).
    // An exception thrown by the handler is thrown again here. From another
    // thread it returns false, without running the handler, when the queue
    // is (or gets) shut down before the owner got to it.
    bool Synchronize(Handler handler);
    // Queues handler for the owner and returns at once; false when shut down.
    bool Post(Handler handler);
    // Wakes an owner waiting in WaitAndProcess or ProcessUntil without
    // giving it anything to run (for example when a worker has ended).
    void Wake();
    // Called after every Post, Synchronize and Wake, on the calling thread and
    // outside the queue's lock: a GUI loop uses it to schedule
    // ProcessMessages on its own thread. An empty function removes it.
    void SetWakeupCallback(std::function<void()> callback);
    bool IsShutDown() const;
    size_t PendingCount() const;

    // --- owner thread only (other threads get std::logic_error)

    // Runs the handlers that were pending when called, oldest first, and
    // returns how many ran. Handlers may pump again (nested calls keep the
    // order). An exception from a posted handler leaves this call; the
    // handlers behind it stay queued.
    size_t ProcessMessages();
    // Waits up to timeout until something is pending (or Wake is called),
    // then runs what is pending. Returns how many handlers ran.
    size_t WaitAndProcess(std::chrono::milliseconds timeout);
    // Pumps until done() returns true or the time is up; returns done().
    // done() is checked after every pump, on this thread; whoever makes it
    // true from another thread must call Wake (or Post) afterwards.
    bool ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Drops every pending handler and releases every waiting worker; later
    // Post and Synchronize calls return false.
    void Shutdown();

private:
    struct SyncState {
        bool done = false;
        bool cancelled = false;
        std::exception_ptr error;
    };
    struct Message {
        Handler handler;
        std::shared_ptr<SyncState> sync;   // null for posted handlers
    };

    void CheckOwner(const char* what) const;
    void CallWakeup();
    // Waits under lock until something is pending, the queue shuts down or
    // the wake counter moved past seenWake; false on time-out.
    bool WaitLocked(std::unique_lock<std::mutex>& lock, uint64_t seenWake,
                    std::chrono::steady_clock::time_point deadline, bool infinite);

    const std::thread::id owner_;
    mutable std::mutex mutex_;
    std::condition_variable ownerCv_;   // the owner waits for work
    std::condition_variable syncCv_;    // workers wait for their handler to run
    std::deque<Message> queue_;
    bool closed_ = false;
    uint64_t wakeCount_ = 0;
    std::shared_ptr<std::function<void()>> wakeup_;
};

} // namespace brenvo
