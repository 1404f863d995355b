#pragma once

#include <memory>
#include <string>

namespace brenvo {

// The lock of a data directory: the window program and brenvo-cli never work
// on one data directory at the same time, since each would save its tables
// over the other's rows. It is an advisory lock of the operating system on
// the file "brenvo.lock" in the directory (flock): the system lets it go
// when the process ends, however it ends, so a killed program never blocks
// the next start. The file itself stays and holds nothing.
class DataDirLock {
public:
    static constexpr const char* FileName = "brenvo.lock";

    // Takes the lock of the directory; throws Error with a German message
    // naming the directory when another program holds it or it cannot be
    // taken. Never waits.
    static std::unique_ptr<DataDirLock> Acquire(const std::string& dir);
    ~DataDirLock();
    DataDirLock(const DataDirLock&) = delete;
    DataDirLock& operator=(const DataDirLock&) = delete;

    const std::string& Directory() const { return dir_; }

private:
    DataDirLock(std::string dir, int fd) : dir_(std::move(dir)), fd_(fd) {}
    std::string dir_;
    int fd_;
};

} // namespace brenvo
