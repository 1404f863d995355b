#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
//
// MemoryDiskBase() is /dev/shm where there is one: tests that run the
// program's file steps hundreds of times use it, since there a sync costs
// nothing (they stop the program, they do not cut its power).
class TempDir {
public:
    TempDir() : TempDir(std::filesystem::temp_directory_path()) {}
    // Below another directory (a memory file system, say, where syncing costs nothing).
    explicit TempDir(const std::filesystem::path& base) {
        std::random_device rd;
        for (int i = 0; i < 100; ++i) {
            auto p = base / ("brenvo-test-" + std::to_string(rd()) + std::to_string(rd()));
            if (std::filesystem::create_directory(p)) {
                path_ = p.string();
                return;
            }
        }
        throw std::runtime_error("cannot create a temporary directory");
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::filesystem::path MemoryDiskBase() {
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return std::filesystem::temp_directory_path();
}
