#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace brenvo {

// A new version of a file, written to a temporary file beside its target and
// renamed over the target only by Commit. Until then the target is untouched;
// an object destroyed without Commit removes its temporary file. Used where a
// file is written piece by piece (downloads, unpacking, installing), so that a
// crash or a failure never leaves a half-written target.
class StagedFile {
public:
    // Creates the temporary file with exactly the permission bits of mode.
    // Throws Error when it cannot be created.
    explicit StagedFile(std::string target, mode_t mode = 0644);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;

    const std::string& Target() const { return target_; }
    const std::string& TempPath() const { return temp_; }

    // Appends bytes; throws Error when the disk refuses them.
    void Write(const char* data, size_t size);
    void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
    // Sets the modification time of the new file (seconds since the epoch).
    void SetModificationTime(time_t mtime);
    // Closes the temporary file so that other code may write (or replace)
    // it through TempPath.
    void HandOver();
    // Closes the file with the data flushed to disk. A file written by some
    // other means (after HandOver) is flushed here as well.
    void Finish();
    // Renames the finished file over the target and flushes the directory.
    void Commit();

private:
    void CloseFd();
    void Discard() noexcept;

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    bool finished_ = false;
    bool committed_ = false;
};

// Reads the whole file in pieces handed to the callback; throws Error when
// it cannot be read.
void ReadFileInPieces(const std::string& path, const std::function<void(const char*, size_t)>& piece);

// Copies src into a staged file for target, with the source's modification time.
void CopyIntoStaged(const std::string& src, StagedFile& staged);

// True when both files exist and hold the same bytes.
bool SameFileContent(const std::string& a, const std::string& b);

} // namespace brenvo
