#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "DateTime.h"

namespace brenvo {

// The platform's path separator.
#ifdef _WIN32
inline constexpr char PathDelim = '\\';
#else
inline constexpr char PathDelim = '/';
#endif

// Paths are joined with a separator added when the directory does not end with one.
std::string IncludeTrailingPathDelimiter(std::string_view dir);
std::string ExcludeTrailingPathDelimiter(std::string_view dir);
std::string PathJoin(std::string_view dir, std::string_view name);
std::string ExtractFileName(std::string_view path);   // "a.xml"
std::string ExtractFilePath(std::string_view path);   // directory with trailing separator, "" when none
std::string ExtractFileDir(std::string_view path);    // directory without trailing separator
std::string ExtractFileExt(std::string_view path);    // ".xml", "" when none
std::string ChangeFileExt(std::string_view path, std::string_view ext);
std::string ExpandFileName(std::string_view path);    // absolute, "." and ".." resolved
bool IsAbsolutePath(std::string_view path);

bool FileExists(const std::string& path);             // a regular file (or a link to one)
bool DirectoryExists(const std::string& path);
// Creates the directory and every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

// Every operation of this file layer that changes the disk.
enum class FileOp { Write, Sync, Rename, Link, Delete, MakeDirectory, SetTime };
// Runs before every such operation, here and in the few places that write
// files piece by piece (StagedFile). When it returns false the operation is
// not done and fails as if the disk had refused it (errno EIO). Tests use it
// to stop the program's disk at any operation, as a kill would; it must not
// throw (it is also asked in destructors).
using FileOpHook = std::function<bool(FileOp op, const std::string& path)>;
void SetFileOpHook(FileOpHook hook);
// Asks the hook; true when none is set.
bool FileOpPermitted(FileOp op, const std::string& path);

// Copies a file with its last-write time. With failIfExists an existing target
// is left alone and the call returns false. The copy is written beside the
// target and renamed into place, so a crash never leaves a half-written target.
bool CopyFileTo(const std::string& src, const std::string& dst, bool failIfExists);
bool DeleteFile(const std::string& path);
// Renames (moves) a file; refuses, returning false, when the target exists.
bool RenameFile(const std::string& from, const std::string& to);
// Renames and replaces an existing target.
bool ReplaceFile(const std::string& from, const std::string& to);
// Moves a file to another name on the same file system, replacing an
// existing target only when `replace` is set; the directories are not
// synced (several moves are made durable at once with SyncDirectory).
bool MoveFile(const std::string& from, const std::string& to, bool replace);
// Flushes a directory's entries to disk, so that files created, renamed or
// deleted in it survive a power cut. False when the directory cannot be synced.
bool SyncDirectory(const std::string& dir);
// Whether both names lead to the same file (second names of one file).
bool SameFile(const std::string& a, const std::string& b);
// Gives a regular file a second name (a hard link) without copying its data:
// both names show the same bytes at once, so nothing has to be synced for the
// content, and deleting either name later leaves the other intact. False
// (and nothing done) when `to` exists, `from` is no regular file, or the
// file system cannot link them (another file system, no hard links); the
// caller then copies instead.
bool LinkFile(const std::string& from, const std::string& to);

int64_t FileSize(const std::string& path);            // -1 when missing
// What tells one state of a regular file from another: device, inode, size
// and time of the last write (a file put in another's place is another
// inode). Not valid when the file is missing.
struct FileIdentity {
    uint64_t device = 0, inode = 0;
    int64_t size = -1, modifiedNs = 0;
    bool valid = false;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityOf(const std::string& path);
TDateTime FileLastWriteTime(const std::string& path); // null when missing
// The file system's birth time where it reports one (statx), otherwise the
// last-write time; null when missing.
TDateTime FileCreationTime(const std::string& path);
// The same moment in coordinated universal time (not converted to local time).
TDateTime FileCreationTimeUtc(const std::string& path);
bool SetFileLastWriteTime(const std::string& path, TDateTime t);

// name when taken(name) is false, otherwise name with "_2", "_3", ... before
// its extension, the first that is not taken.
std::string FreeName(const std::string& name, const std::function<bool(const std::string&)>& taken);

// File-name masks with '*' and '?', compared ignoring letter case
// ("*.XML" matches "a.xml"; "*.*" matches every name).
bool MatchesMask(std::string_view name, std::string_view mask);
// Orders names as the original platform lists them: ignoring letter case,
// ties broken by the exact name.
bool FileNameLess(std::string_view a, std::string_view b);

// Names (not paths) of the regular files in dir matching mask, in listing order.
std::vector<std::string> ListFiles(const std::string& dir, std::string_view mask);
// Full paths of matching files in dir and all its subdirectories: a
// directory's own files first, then its subdirectories, each in listing order.
std::vector<std::string> ListFilesRecursive(const std::string& dir, std::string_view mask);
// Names of the subdirectories of dir, in listing order.
std::vector<std::string> ListDirectories(const std::string& dir);

// Whole-file reading and writing of bytes. ReadFileBytes throws Error when
// the file cannot be read.
std::string ReadFileBytes(const std::string& path);
// Writes a temporary file in the same directory, flushes it to disk and
// renames it over the target: the target is either the old or the new file.
void AtomicWriteFile(const std::string& path, std::string_view bytes);
// For tests: a hook run after the temporary file is written and before the
// rename; throwing from it simulates a crash at that moment.
void SetAtomicWriteHook(std::function<void(const std::string& tempPath)> hook);
// Syncs put off to one moment. While a group is open on a thread, the new
// files that thread writes with AtomicWriteFile and CopyFileTo and the
// directories their names go into are not synced one by one: they are
// noted, and Sync makes all of them durable at once (one sync of each file
// system where the system offers it, else file by file). A file that
// replaces another is synced at once, as outside a group. Nothing new
// written in the group may be relied upon before Sync returns; closing a
// group without Sync leaves its files to the system's cache. Groups do not
// nest; one opened inside another joins it.
class SyncGroup {
public:
    SyncGroup();
    ~SyncGroup();
    SyncGroup(const SyncGroup&) = delete;
    SyncGroup& operator=(const SyncGroup&) = delete;
    // Syncs everything noted so far and closes the group; throws Error when
    // the disk refuses.
    void Sync();

    struct Pending;

private:
    bool owner_ = false;
};

// Appends bytes to a file (created when missing). With `sync` the bytes are
// on disk when the call returns (and a new file's name with them); without,
// they are in the system's cache, which outlives the program but not a
// power cut. Throws Error when the disk refuses them.
void AppendToFile(const std::string& path, std::string_view bytes, bool sync);
// Deletes a directory with everything below it; false when something stays.
bool DeleteTree(const std::string& dir);

// The directory holding the running program file, without trailing separator.
std::string ProgramDirectory();
std::string ProgramFileName();
std::string GetCurrentDir();

} // namespace brenvo
