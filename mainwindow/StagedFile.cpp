#include "mainwindow/StagedFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "lib/base/Error.h"
#include "lib/base/Files.h"

namespace brenvo {

namespace {

std::string SysError() { return std::strerror(errno); }

void SyncDirectoryOf(const std::string& path) {
    const std::string dir = ExtractFileDir(path);
    SyncDirectory(dir.empty() ? std::string(".") : dir);
}

} // namespace

StagedFile::StagedFile(std::string target, mode_t mode) : target_(std::move(target)) {
    std::string pattern = ExtractFilePath(target_) + "." + ExtractFileName(target_) + ".XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!FileOpPermitted(FileOp::Write, target_))
        throw Error("Datei kann nicht geschrieben werden: " + target_ + " (" + SysError() + ")");
    fd_ = ::mkstemp(buf.data());
    if (fd_ < 0) throw Error("Datei kann nicht geschrieben werden: " + target_ + " (" + SysError() + ")");
    temp_.assign(buf.data());
    ::fchmod(fd_, mode & 0777);
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : target_(std::move(other.target_)), temp_(std::move(other.temp_)), fd_(other.fd_),
      finished_(other.finished_), committed_(other.committed_) {
    other.fd_ = -1;
    other.temp_.clear();
    other.committed_ = true;
}

StagedFile::~StagedFile() { Discard(); }

void StagedFile::Discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!committed_ && !temp_.empty() && FileOpPermitted(FileOp::Delete, temp_)) ::unlink(temp_.c_str());
}

void StagedFile::CloseFd() {
    if (fd_ < 0) return;
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) throw Error("Datei kann nicht geschrieben werden: " + target_ + " (" + SysError() + ")");
}

void StagedFile::Write(const char* data, size_t size) {
    if (fd_ < 0) throw Error("Datei kann nicht geschrieben werden: " + target_);
    if (!FileOpPermitted(FileOp::Write, temp_))
        throw Error("Datei kann nicht geschrieben werden: " + target_ + " (" + SysError() + ")");
    while (size > 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Error("Datei kann nicht geschrieben werden: " + target_ + " (" + SysError() + ")");
        }
        data += n;
        size -= size_t(n);
    }
}

void StagedFile::SetModificationTime(time_t mtime) {
    struct timespec times[2];
    times[0].tv_sec = mtime;
    times[0].tv_nsec = 0;
    times[1] = times[0];
    if (!FileOpPermitted(FileOp::SetTime, temp_)) return;
    if (fd_ >= 0)
        ::futimens(fd_, times);
    else
        ::utimensat(AT_FDCWD, temp_.c_str(), times, 0);
}

void StagedFile::HandOver() { CloseFd(); }

void StagedFile::Finish() {
    if (finished_) return;
    if (fd_ < 0) fd_ = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0 || !FileOpPermitted(FileOp::Sync, temp_) || ::fsync(fd_) != 0)
        throw Error("Datei kann nicht geschrieben werden: " + target_ + " (" + SysError() + ")");
    CloseFd();
    finished_ = true;
}

void StagedFile::Commit() {
    if (committed_) return;
    Finish();
    if (!FileOpPermitted(FileOp::Rename, target_) || ::rename(temp_.c_str(), target_.c_str()) != 0)
        throw Error("Datei kann nicht ersetzt werden: " + target_ + " (" + SysError() + ")");
    committed_ = true;
    SyncDirectoryOf(target_);
}

void ReadFileInPieces(const std::string& path, const std::function<void(const char*, size_t)>& piece) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Error("Datei kann nicht gelesen werden: " + path + " (" + SysError() + ")");
    std::vector<char> buf(1 << 16);
    try {
        while (true) {
            ssize_t n = ::read(fd, buf.data(), buf.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                throw Error("Datei kann nicht gelesen werden: " + path + " (" + SysError() + ")");
            }
            if (n == 0) break;
            piece(buf.data(), size_t(n));
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

void CopyIntoStaged(const std::string& src, StagedFile& staged) {
    ReadFileInPieces(src, [&](const char* data, size_t n) { staged.Write(data, n); });
    struct stat st;
    if (::stat(src.c_str(), &st) == 0) staged.SetModificationTime(st.st_mtim.tv_sec);
}

bool SameFileContent(const std::string& a, const std::string& b) {
    int64_t size = FileSize(a);
    if (size < 0 || size != FileSize(b)) return false;
    int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    int fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
    bool same = fa >= 0 && fb >= 0;
    std::vector<char> ba(1 << 16), bb(1 << 16);
    while (same) {
        ssize_t na = ::read(fa, ba.data(), ba.size());
        if (na < 0 && errno == EINTR) continue;
        if (na <= 0) {
            same = na == 0;
            if (same) {
                char c;
                same = ::read(fb, &c, 1) == 0;
            }
            break;
        }
        size_t got = 0;
        while (got < size_t(na)) {
            ssize_t nb = ::read(fb, bb.data() + got, size_t(na) - got);
            if (nb < 0 && errno == EINTR) continue;
            if (nb <= 0) break;
            got += size_t(nb);
        }
        same = got == size_t(na) && std::memcmp(ba.data(), bb.data(), got) == 0;
    }
    if (fa >= 0) ::close(fa);
    if (fb >= 0) ::close(fb);
    return same;
}

} // namespace brenvo
