#include "Files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "Error.h"
#include "Strings.h"

namespace fs = std::filesystem;

namespace brenvo {

namespace {

std::mutex gHookMutex;
std::function<void(const std::string&)> gAtomicHook;
std::atomic<bool> gOpHookSet{false};
FileOpHook gOpHook;   // guarded by gHookMutex

// A name for a temporary file beside `path` that no other writer uses.
std::string TempNameBeside(const std::string& path) {
    static std::mutex m;
    static std::mt19937_64 rng{std::random_device{}()};
    uint64_t r;
    {
        std::lock_guard<std::mutex> lock(m);
        r = rng();
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, ".%d.%016llx.tmp", int(getpid()), static_cast<unsigned long long>(r));
    std::string dir = ExtractFilePath(path);
    return dir + "." + ExtractFileName(path) + buf;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The open sync group of this thread, if any.
thread_local SyncGroup::Pending* tGroup = nullptr;

bool SyncDir(const std::string& dir) {
    if (!FileOpPermitted(FileOp::Sync, dir)) return false;
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

void NoteDirectory(const std::string& dir);
void NoteFile(const std::string& path);

// Syncs the directory holding path now, or, for a new file written in an
// open sync group, notes it (and the file) for the group's sync.
void SyncDirectoryOf(const std::string& path, bool deferred = false) {
    std::string dir = ExtractFileDir(path);
    if (dir.empty()) dir = ".";
    if (deferred) {
        NoteFile(path);
        NoteDirectory(dir);
    } else {
        SyncDir(dir);
    }
}

// A new file written while a sync group is open waits for the group's sync;
// a file that replaces another is synced at once, as outside a group.
bool DeferSync(const std::string& target) { return tGroup && !FileExists(target); }

// Removes a file of our own making; a refused delete leaves it, as a
// program that stopped at that moment would.
void RemoveOwn(const std::string& path) {
    if (FileOpPermitted(FileOp::Delete, path)) ::unlink(path.c_str());
}

// Writes bytes to a new temporary file beside target and syncs it (unless
// the sync is deferred to a sync group); returns its name, or "" on failure
// (nothing left behind).
std::string WriteTemp(const std::string& target, std::string_view bytes, mode_t mode, bool deferred = false) {
    std::string tmp = TempNameBeside(target);
    if (!FileOpPermitted(FileOp::Write, tmp)) return "";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return "";
    bool ok = WriteAll(fd, bytes.data(), bytes.size()) &&
              (deferred || (FileOpPermitted(FileOp::Sync, tmp) && ::fsync(fd) == 0));
    const int err = errno;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        RemoveOwn(tmp);
        errno = err;
        return "";
    }
    return tmp;
}

void RunHook(const std::string& tmp) {
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lock(gHookMutex);
        hook = gAtomicHook;
    }
    if (hook) hook(tmp);
}

std::string SysError() { return std::strerror(errno); }

bool MaskMatch(std::string_view n, std::string_view m) {
    // Iterative wildcard match on upper-cased texts.
    size_t ni = 0, mi = 0, starM = std::string_view::npos, starN = 0;
    while (ni < n.size()) {
        if (mi < m.size() && (m[mi] == '?' || m[mi] == n[ni])) {
            if (m[mi] == '?') {
                // '?' stands for one character, which may be several bytes
                unsigned char c = static_cast<unsigned char>(n[ni]);
                size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
                ni += len;
            } else {
                ++ni;
            }
            ++mi;
        } else if (mi < m.size() && m[mi] == '*') {
            starM = mi++;
            starN = ni;
        } else if (starM != std::string_view::npos) {
            mi = starM + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (mi < m.size() && m[mi] == '*') ++mi;
    return mi == m.size();
}

} // namespace

std::string IncludeTrailingPathDelimiter(std::string_view dir) {
    std::string s(dir);
    if (s.empty() || s.back() != PathDelim) s += PathDelim;
    return s;
}

std::string ExcludeTrailingPathDelimiter(std::string_view dir) {
    std::string s(dir);
    while (s.size() > 1 && s.back() == PathDelim) s.pop_back();
    return s;
}

std::string PathJoin(std::string_view dir, std::string_view name) {
    if (dir.empty()) return std::string(name);
    return IncludeTrailingPathDelimiter(dir) + std::string(name);
}

std::string ExtractFileName(std::string_view path) {
    size_t p = path.find_last_of(PathDelim);
    return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

std::string ExtractFilePath(std::string_view path) {
    size_t p = path.find_last_of(PathDelim);
    return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string ExtractFileDir(std::string_view path) {
    size_t p = path.find_last_of(PathDelim);
    if (p == std::string_view::npos) return std::string();
    if (p == 0) return std::string(1, PathDelim);
    return std::string(path.substr(0, p));
}

std::string ExtractFileExt(std::string_view path) {
    std::string name = ExtractFileName(path);
    size_t p = name.find_last_of('.');
    return p == std::string::npos ? std::string() : name.substr(p);
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
    std::string s(path);
    size_t slash = s.find_last_of(PathDelim);
    size_t dot = s.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) s.erase(dot);
    return s + std::string(ext);
}

std::string ExpandFileName(std::string_view path) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(std::string(path)), ec);
    return p.lexically_normal().string();
}

bool IsAbsolutePath(std::string_view path) { return fs::path(std::string(path)).is_absolute(); }

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (DirectoryExists(path)) return true;
    if (!FileOpPermitted(FileOp::MakeDirectory, path)) return false;
    std::error_code ec;
    fs::create_directories(fs::path(path), ec);
    return DirectoryExists(path);
}

bool CopyFileTo(const std::string& src, const std::string& dst, bool failIfExists) {
    if (!FileExists(src)) return false;
    if (failIfExists && (FileExists(dst) || DirectoryExists(dst))) return false;
    struct stat st;
    if (::stat(src.c_str(), &st) != 0) return false;
    std::string bytes;
    try {
        bytes = ReadFileBytes(src);
    } catch (const Error&) {
        return false;
    }
    const bool deferred = DeferSync(dst);
    std::string tmp = WriteTemp(dst, bytes, st.st_mode & 0777, deferred);
    if (tmp.empty()) return false;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (FileOpPermitted(FileOp::SetTime, tmp)) ::utimensat(AT_FDCWD, tmp.c_str(), times, 0);
    bool ok;
    if (failIfExists) {
        // link() refuses an existing target, so a file that appeared in the
        // meantime is never overwritten.
        ok = FileOpPermitted(FileOp::Link, dst) && ::link(tmp.c_str(), dst.c_str()) == 0;
        RemoveOwn(tmp);
    } else {
        ok = FileOpPermitted(FileOp::Rename, dst) && ::rename(tmp.c_str(), dst.c_str()) == 0;
        if (!ok) RemoveOwn(tmp);
    }
    if (ok) SyncDirectoryOf(dst, deferred);
    return ok;
}

bool DeleteFile(const std::string& path) {
    return FileOpPermitted(FileOp::Delete, path) && ::unlink(path.c_str()) == 0;
}

bool LinkFile(const std::string& from, const std::string& to) {
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return FileOpPermitted(FileOp::Link, to) && ::link(from.c_str(), to.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (!FileExists(from) && !DirectoryExists(from)) {
        errno = ENOENT;
        return false;
    }
    if (FileExists(to) || DirectoryExists(to)) {
        errno = EEXIST;
        return false;
    }
    if (!FileOpPermitted(FileOp::Rename, to) || ::rename(from.c_str(), to.c_str()) != 0) return false;
    SyncDirectoryOf(to);
    return true;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    if (!FileOpPermitted(FileOp::Rename, to) || ::rename(from.c_str(), to.c_str()) != 0) return false;
    SyncDirectoryOf(to);
    return true;
}

bool MoveFile(const std::string& from, const std::string& to, bool replace) {
    if (!FileOpPermitted(FileOp::Rename, to)) return false;
    if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
    // A second name that refuses an existing target, then the first name goes.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    RemoveOwn(from);
    return true;
}

bool SyncDirectory(const std::string& dir) { return SyncDir(dir); }

// ---------------------------------------------------------------- sync groups

struct SyncGroup::Pending {
    std::vector<std::string> files;
    std::set<std::string> dirs;
};

namespace {

void NoteDirectory(const std::string& dir) {
    if (tGroup) tGroup->dirs.insert(dir);
}

void NoteFile(const std::string& path) {
    if (tGroup) tGroup->files.push_back(path);
}

#ifndef __linux__
bool SyncFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;   // deleted since: nothing to keep
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}
#endif

// Makes the noted files and directories durable: on Linux one syncfs per
// file system they lie on, elsewhere each file and directory on its own.
bool SyncPending(const SyncGroup::Pending& p) {
    if (p.dirs.empty() && p.files.empty()) return true;
    const std::string& first = p.dirs.empty() ? p.files.front() : *p.dirs.begin();
    if (!FileOpPermitted(FileOp::Sync, first)) return false;
#ifdef __linux__
    std::set<dev_t> done;
    bool ok = true;
    for (const std::string& dir : p.dirs) {
        struct stat st;
        if (::stat(dir.c_str(), &st) != 0 || !done.insert(st.st_dev).second) continue;
        int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 || ::syncfs(fd) != 0) ok = false;
        if (fd >= 0) ::close(fd);
    }
    return ok;
#else
    bool ok = true;
    for (const std::string& f : p.files) ok = SyncFile(f) && ok;
    for (const std::string& d : p.dirs) ok = SyncDir(d) && ok;
    return ok;
#endif
}

} // namespace

SyncGroup::SyncGroup() {
    if (tGroup) return;
    tGroup = new Pending;
    owner_ = true;
}

SyncGroup::~SyncGroup() {
    if (!owner_) return;
    delete tGroup;
    tGroup = nullptr;
}

void SyncGroup::Sync() {
    if (!owner_) return;
    std::unique_ptr<Pending> pending(tGroup);
    tGroup = nullptr;
    owner_ = false;
    if (!SyncPending(*pending))
        throw Error("Dateien können nicht auf den Datenträger geschrieben werden: " + SysError());
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

void SetFileOpHook(FileOpHook hook) {
    std::lock_guard<std::mutex> lock(gHookMutex);
    gOpHookSet.store(bool(hook), std::memory_order_release);
    gOpHook = std::move(hook);
}

bool FileOpPermitted(FileOp op, const std::string& path) {
    if (!gOpHookSet.load(std::memory_order_acquire)) return true;
    FileOpHook hook;
    {
        std::lock_guard<std::mutex> lock(gHookMutex);
        hook = gOpHook;
    }
    if (!hook || hook(op, path)) return true;
    errno = EIO;
    return false;
}

int64_t FileSize(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return int64_t(st.st_size);
}

FileIdentity IdentityOf(const std::string& path) {
    struct stat st;
    FileIdentity id;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return id;
    id.device = uint64_t(st.st_dev);
    id.inode = uint64_t(st.st_ino);
    id.size = int64_t(st.st_size);
    id.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.valid = true;
    return id;
}

TDateTime FileLastWriteTime(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return TDateTime();
    return FromTimeT(int64_t(st.st_mtim.tv_sec), int(st.st_mtim.tv_nsec));
}

namespace {

// Birth time where the file system reports one, otherwise last-write time.
bool ReadCreationTime(const std::string& path, int64_t& sec, int& nsec) {
#ifdef STATX_BTIME
    struct statx stx;
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &stx) != 0) return false;
    const auto& ts = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_mtime;
    sec = int64_t(ts.tv_sec);
    nsec = int(ts.tv_nsec);
    return true;
#else
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    sec = int64_t(st.st_mtim.tv_sec);
    nsec = int(st.st_mtim.tv_nsec);
    return true;
#endif
}

} // namespace

TDateTime FileCreationTime(const std::string& path) {
    int64_t sec = 0;
    int nsec = 0;
    if (!ReadCreationTime(path, sec, nsec)) return TDateTime();
    return FromTimeT(sec, nsec);
}

TDateTime FileCreationTimeUtc(const std::string& path) {
    int64_t sec = 0;
    int nsec = 0;
    if (!ReadCreationTime(path, sec, nsec)) return TDateTime();
    std::time_t t = std::time_t(sec);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec > 59 ? 59 : tm.tm_sec, nsec / 1000000);
}

bool SetFileLastWriteTime(const std::string& path, TDateTime t) {
    if (t.IsNull()) return false;
    DateParts p = Decode(t);
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(ToTimeT(t));
    times[1].tv_nsec = long(p.millisecond) * 1000000L;
    return FileOpPermitted(FileOp::SetTime, path) && ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::string FreeName(const std::string& name, const std::function<bool(const std::string&)>& taken) {
    if (!taken(name)) return name;
    const std::string ext = ExtractFileExt(name);
    const std::string stem = name.substr(0, name.size() - ext.size());
    for (int i = 2;; ++i) {
        std::string candidate = stem + "_" + std::to_string(i) + ext;
        if (!taken(candidate)) return candidate;
    }
}

bool MatchesMask(std::string_view name, std::string_view mask) {
    if (mask == "*.*" || mask == "*") return true;
    return MaskMatch(UpperCase(name), UpperCase(mask));
}

bool FileNameLess(std::string_view a, std::string_view b) {
    int c = CompareText(a, b);
    if (c != 0) return c < 0;
    return a < b;
}

namespace {

std::vector<std::string> ListEntries(const std::string& dir, std::string_view mask, bool wantDirs) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(fs::path(dir), fs::directory_options::skip_permission_denied, ec);
    if (ec) return names;
    for (const auto& e : it) {
        std::error_code ec2;
        bool isDir = e.is_directory(ec2);
        bool isFile = e.is_regular_file(ec2);
        std::string name = e.path().filename().string();
        if (wantDirs ? !isDir : !isFile) continue;
        if (!wantDirs && !MatchesMask(name, mask)) continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return FileNameLess(a, b); });
    return names;
}

void CollectRecursive(const std::string& dir, std::string_view mask, std::vector<std::string>& out) {
    for (const auto& n : ListEntries(dir, mask, false)) out.push_back(PathJoin(dir, n));
    for (const auto& d : ListEntries(dir, "*", true)) CollectRecursive(PathJoin(dir, d), mask, out);
}

} // namespace

std::vector<std::string> ListFiles(const std::string& dir, std::string_view mask) {
    return ListEntries(dir, mask, false);
}

std::vector<std::string> ListFilesRecursive(const std::string& dir, std::string_view mask) {
    std::vector<std::string> out;
    CollectRecursive(dir, mask, out);
    return out;
}

std::vector<std::string> ListDirectories(const std::string& dir) { return ListEntries(dir, "*", true); }

std::string ReadFileBytes(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Error("Datei kann nicht gelesen werden: " + path + " (" + SysError() + ")");
    std::string data;
    char buf[65536];
    while (true) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            std::string msg = SysError();
            ::close(fd);
            throw Error("Datei kann nicht gelesen werden: " + path + " (" + msg + ")");
        }
        if (n == 0) break;
        data.append(buf, size_t(n));
    }
    ::close(fd);
    return data;
}

void AtomicWriteFile(const std::string& path, std::string_view bytes) {
    mode_t mode = 0644;
    struct stat st;
    const bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed) mode = st.st_mode & 0777;
    const bool deferred = tGroup && !existed;
    std::string tmp = WriteTemp(path, bytes, mode, deferred);
    if (tmp.empty()) throw Error("Datei kann nicht geschrieben werden: " + path + " (" + SysError() + ")");
    // A simulated crash (the hook throws) leaves the temporary file where it
    // is, as a real one would.
    RunHook(tmp);
    if (!FileOpPermitted(FileOp::Rename, path) || ::rename(tmp.c_str(), path.c_str()) != 0) {
        std::string msg = SysError();
        RemoveOwn(tmp);
        throw Error("Datei kann nicht geschrieben werden: " + path + " (" + msg + ")");
    }
    SyncDirectoryOf(path, deferred);
}

void AppendToFile(const std::string& path, std::string_view bytes, bool sync) {
    auto fail = [&path] { throw Error("Datei kann nicht geschrieben werden: " + path + " (" + SysError() + ")"); };
    const bool existed = FileExists(path);
    if (!FileOpPermitted(FileOp::Write, path)) fail();
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) fail();
    bool ok = WriteAll(fd, bytes.data(), bytes.size());
    if (ok && sync) ok = FileOpPermitted(FileOp::Sync, path) && ::fdatasync(fd) == 0;
    const int err = errno;
    ok = (::close(fd) == 0) && ok;
    errno = err;
    if (!ok) fail();
    if (sync && !existed) SyncDirectoryOf(path);
}

bool DeleteTree(const std::string& dir) {
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) return true;
    // A link is removed as a link: nothing it points to is touched.
    if (S_ISDIR(st.st_mode)) {
        std::error_code ec;
        std::vector<std::string> entries;
        for (const auto& e : fs::directory_iterator(fs::path(dir), ec)) entries.push_back(e.path().string());
        for (const std::string& entry : entries) DeleteTree(entry);
        return FileOpPermitted(FileOp::Delete, dir) && ::rmdir(dir.c_str()) == 0;
    }
    return FileOpPermitted(FileOp::Delete, dir) && ::unlink(dir.c_str()) == 0;
}

void SetAtomicWriteHook(std::function<void(const std::string& tempPath)> hook) {
    std::lock_guard<std::mutex> lock(gHookMutex);
    gAtomicHook = std::move(hook);
}

std::string ProgramFileName() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    return std::string(buf, size_t(n));
}

std::string ProgramDirectory() { return ExcludeTrailingPathDelimiter(ExtractFileDir(ProgramFileName())); }

std::string GetCurrentDir() {
    std::error_code ec;
    return fs::current_path(ec).string();
}

} // namespace brenvo
