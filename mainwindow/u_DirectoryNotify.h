#pragma once

// Directory watcher: a worker thread waits for changes of file and directory
// names in a directory (inotify) and hands each change to the thread that
// owns the message queue, where the change handler runs. The main window
// watches the import directory with it; the DAKOTA processing watches
// DAKOTA's hand-over directory with a second one.
//
// Changes that arrive while a notification is still waiting for the owner
// thread are folded into it, so a burst of renames causes one handler call.
// The handler never runs after the watcher is destroyed.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "lib/base/MessageQueue.h"

namespace brenvo {

// What the watcher reports.
enum TNotifyFilter : unsigned {
    nfFileNameChange = 1,   // files created, deleted, renamed
    nfDirNameChange = 2,    // directories created, deleted, renamed
    nfAttributeChange = 4,
    nfSizeChange = 8,
    nfLastWriteChange = 16
};

class TCustomShellChangeNotifier {
public:
    using ChangeHandler = std::function<void()>;

    explicit TCustomShellChangeNotifier(std::shared_ptr<MessageQueue> queue);
    // Ends the worker thread.
    virtual ~TCustomShellChangeNotifier();
    TCustomShellChangeNotifier(const TCustomShellChangeNotifier&) = delete;
    TCustomShellChangeNotifier& operator=(const TCustomShellChangeNotifier&) = delete;

    // A change of these re-opens the watch with the new values.
    void SetRoot(const std::string& root);
    void SetWatchSubTree(bool on);
    void SetNotifyFilters(unsigned filters);
    // Setting a handler starts the watch; an empty one stops it.
    void SetOnChange(ChangeHandler handler);

    std::string Root() const;
    bool WatchSubTree() const;
    unsigned NotifyFilters() const;
    // The worker thread runs.
    bool Watching() const;
    // Waits until the worker watches with the current root, subdirectory
    // flag and filters (changes made from then on are reported); false when
    // it does not within the time or no handler is set.
    bool WaitUntilWatching(std::chrono::milliseconds timeout) const;

private:
    struct Shared;
    class TShellChangeThread;

    template <class T>
    void Change(T Shared::*field, T value);

    std::shared_ptr<MessageQueue> queue_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<TShellChangeThread> thread_;
};

// The watcher with its default settings: root "/", subdirectories watched,
// file-name and directory-name changes reported.
class TShellChangeNotifier : public TCustomShellChangeNotifier {
public:
    using TCustomShellChangeNotifier::TCustomShellChangeNotifier;
};

} // namespace brenvo
