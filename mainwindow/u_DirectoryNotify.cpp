#include "mainwindow/u_DirectoryNotify.h"

#include <atomic>
#include <condition_variable>
#include <cerrno>
#include <cstring>
#include <map>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "lib/base/Error.h"
#include "lib/base/Files.h"

namespace brenvo {

namespace {
constexpr int kCollectMs = 20;
}

// What the worker and the posted notifications share with the watcher. It
// lives as long as any of them holds it; `alive` turns false when the
// watcher goes, so a notification still queued then does nothing.
struct TCustomShellChangeNotifier::Shared {
    mutable std::mutex mutex;
    std::string root = "/";
    bool subTree = true;
    unsigned filters = nfFileNameChange | nfDirNameChange;
    // Touched on the owner thread only.
    ChangeHandler handler;
    bool alive = true;
    // A notification is queued and has not run yet.
    std::atomic<bool> pending{false};
    // Every (re)configuration counts up `requested`; the worker sets `armed`
    // to the count it watches with once its watches are in place.
    uint64_t requested = 1;
    uint64_t armed = 0;
    std::condition_variable armedCv;
};

class TCustomShellChangeNotifier::TShellChangeThread {
public:
    TShellChangeThread(std::shared_ptr<Shared> shared, std::shared_ptr<MessageQueue> queue)
        : shared_(std::move(shared)), queue_(std::move(queue)) {
        control_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (control_ < 0) throw Error(std::string("Verzeichnisüberwachung: ") + std::strerror(errno));
        thread_ = std::thread([this] { Run(); });
    }

    ~TShellChangeThread() {
        stop_ = true;
        Signal();
        if (thread_.joinable()) thread_.join();
        ::close(control_);
    }

    // Root, subdirectory flag or filters changed: re-open the watch.
    void Signal() {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(control_, &one, sizeof one);
    }

private:
    struct Config {
        std::string root;
        bool subTree;
        unsigned filters;
        uint64_t generation;
    };

    uint32_t Mask(const Config& c) const {
        uint32_t mask = 0;
        if (c.filters & (nfFileNameChange | nfDirNameChange))
            mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
        if (c.filters & nfAttributeChange) mask |= IN_ATTRIB;
        if (c.filters & (nfSizeChange | nfLastWriteChange)) mask |= IN_MODIFY | IN_CLOSE_WRITE;
        // New subdirectories must be seen to be watched too.
        if (c.subTree) mask |= IN_CREATE | IN_MOVED_TO;
        return mask | IN_ONLYDIR;
    }

    void AddWatches(int fd, const std::string& dir, const Config& c, std::map<int, std::string>& watches) {
        int wd = ::inotify_add_watch(fd, dir.c_str(), Mask(c));
        if (wd < 0) return;
        watches[wd] = dir;
        if (!c.subTree) return;
        for (const std::string& sub : ListDirectories(dir)) AddWatches(fd, PathJoin(dir, sub), c, watches);
    }

    bool Relevant(const inotify_event& e, const Config& c) const {
        if (e.mask & IN_Q_OVERFLOW) return true;
        const bool isDir = (e.mask & IN_ISDIR) != 0;
        if (e.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF))
            if (c.filters & (isDir ? nfDirNameChange : nfFileNameChange)) return true;
        if ((e.mask & IN_ATTRIB) && (c.filters & nfAttributeChange)) return true;
        if ((e.mask & (IN_MODIFY | IN_CLOSE_WRITE)) && (c.filters & (nfSizeChange | nfLastWriteChange))) return true;
        return false;
    }

    void Notify() {
        if (shared_->pending.exchange(true)) return;
        std::shared_ptr<Shared> shared = shared_;
        bool posted = queue_->Post([shared] {
            shared->pending = false;
            if (shared->alive && shared->handler) shared->handler();
        });
        if (!posted) shared_->pending = false;
    }

    // Reads what the control object holds; true when the thread is to end.
    bool DrainControl() {
        uint64_t v;
        while (::read(control_, &v, sizeof v) > 0) {
        }
        return stop_;
    }

    void Run() {
        while (!stop_) {
            Config c;
            {
                std::lock_guard<std::mutex> lock(shared_->mutex);
                c = {shared_->root, shared_->subTree, shared_->filters, shared_->requested};
            }
            int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            std::map<int, std::string> watches;
            if (fd >= 0) AddWatches(fd, c.root, c, watches);
            {
                std::lock_guard<std::mutex> lock(shared_->mutex);
                shared_->armed = c.generation;
            }
            shared_->armedCv.notify_all();
            bool reopen = false;
            while (!reopen && !stop_) {
                pollfd fds[2] = {{control_, POLLIN, 0}, {fd, POLLIN, 0}};
                int n = ::poll(fds, fd >= 0 ? 2 : 1, -1);
                if (n < 0) {
                    if (errno == EINTR) continue;
                    break;
                }
                if (fds[0].revents & POLLIN) {
                    if (DrainControl()) break;
                    reopen = true;
                    continue;
                }
                if (fd >= 0 && (fds[1].revents & POLLIN)) {
                    if (ReadEvents(fd, c, watches)) Notify();
                    // While the notification waits to be handled, more changes
                    // add nothing to it: they are collected for a moment, so a
                    // run deleting thousands of files wakes this thread a few
                    // times instead of once a file.
                    pollfd control{control_, POLLIN, 0};
                    if (shared_->pending) ::poll(&control, 1, kCollectMs);
                }
            }
            if (fd >= 0) ::close(fd);
        }
    }

    // Reads every pending event; true when one of them is to be reported.
    bool ReadEvents(int fd, const Config& c, std::map<int, std::string>& watches) {
        alignas(inotify_event) char buf[16384];
        bool relevant = false;
        while (true) {
            ssize_t len = ::read(fd, buf, sizeof buf);
            if (len <= 0) break;
            for (char* p = buf; p < buf + len;) {
                auto* e = reinterpret_cast<inotify_event*>(p);
                if (Relevant(*e, c)) relevant = true;
                if (e->mask & IN_IGNORED) watches.erase(e->wd);
                if (c.subTree && (e->mask & IN_ISDIR) && (e->mask & (IN_CREATE | IN_MOVED_TO)) && e->len > 0) {
                    auto it = watches.find(e->wd);
                    if (it != watches.end()) AddWatches(fd, PathJoin(it->second, e->name), c, watches);
                }
                p += sizeof(inotify_event) + e->len;
            }
        }
        return relevant;
    }

    std::shared_ptr<Shared> shared_;
    std::shared_ptr<MessageQueue> queue_;
    int control_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TCustomShellChangeNotifier::TCustomShellChangeNotifier(std::shared_ptr<MessageQueue> queue)
    : queue_(std::move(queue)), shared_(std::make_shared<Shared>()) {
    if (!queue_) throw Error("Verzeichnisüberwachung ohne Nachrichtenwarteschlange");
}

TCustomShellChangeNotifier::~TCustomShellChangeNotifier() {
    shared_->alive = false;
    shared_->handler = nullptr;
    thread_.reset();
}

// Changes one setting of the watch; a worker that runs re-opens it.
template <class T>
void TCustomShellChangeNotifier::Change(T Shared::*field, T value) {
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if ((*shared_).*field == value) return;
        (*shared_).*field = std::move(value);
        ++shared_->requested;
    }
    if (thread_) thread_->Signal();
}

void TCustomShellChangeNotifier::SetRoot(const std::string& root) { Change(&Shared::root, root); }
void TCustomShellChangeNotifier::SetWatchSubTree(bool on) { Change(&Shared::subTree, on); }
void TCustomShellChangeNotifier::SetNotifyFilters(unsigned filters) { Change(&Shared::filters, filters); }

void TCustomShellChangeNotifier::SetOnChange(ChangeHandler handler) {
    shared_->handler = std::move(handler);
    if (!shared_->handler) {
        thread_.reset();
        return;
    }
    if (thread_) return;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        ++shared_->requested;
    }
    thread_ = std::make_unique<TShellChangeThread>(shared_, queue_);
}

std::string TCustomShellChangeNotifier::Root() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->root;
}

bool TCustomShellChangeNotifier::WatchSubTree() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->subTree;
}

unsigned TCustomShellChangeNotifier::NotifyFilters() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->filters;
}

bool TCustomShellChangeNotifier::Watching() const { return thread_ != nullptr; }

bool TCustomShellChangeNotifier::WaitUntilWatching(std::chrono::milliseconds timeout) const {
    if (!thread_) return false;
    std::unique_lock<std::mutex> lock(shared_->mutex);
    return shared_->armedCv.wait_for(lock, timeout, [this] { return shared_->armed == shared_->requested; });
}

} // namespace brenvo
