#include "mainwindow/U_ZipUtil.h"

#include <zip.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "mainwindow/StagedFile.h"

namespace brenvo {

namespace {

std::string ZipErrorText(int code) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, code);
    std::string text = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    return text;
}

void Notify(const ZipProgressHandler& progress, ZipEvent event, int64_t value, const std::string& name = {}) {
    if (progress) progress(event, value, name);
}

// ------------------------------------------------------------------ zipping

struct FileToZip {
    std::string path;   // full path on disk
    std::string entry;  // name inside the archive
};

// One file added to the archive, read by libzip when the archive is written
// (at zip_close). Reports NewFile and BytesDone while libzip reads it.
struct ZipSourceFile {
    const FileToZip* file = nullptr;
    const ZipProgressHandler* progress = nullptr;
    int fd = -1;
    uint64_t size = 0;      // as found when libzip asked for the stat
    uint64_t done = 0;
    time_t mtime = 0;
    bool announced = false;
    zip_error_t error;
    std::string failure;            // German text of a failure
    std::exception_ptr handlerError;  // an exception thrown by the progress handler

    ZipSourceFile() { zip_error_init(&error); }
    ~ZipSourceFile() {
        if (fd >= 0) ::close(fd);
        zip_error_fini(&error);
    }

    zip_int64_t Fail(int zipError, int sysError, std::string text) {
        zip_error_set(&error, zipError, sysError);
        if (failure.empty()) failure = std::move(text);
        return -1;
    }

    bool StatFile() {
        struct stat st;
        if (::stat(file->path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        size = uint64_t(st.st_size);
        mtime = st.st_mtim.tv_sec;
        return true;
    }

    zip_int64_t Command(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            if (!StatFile()) return Fail(ZIP_ER_OPEN, errno, "Datei kann nicht gelesen werden: " + file->path);
            fd = ::open(file->path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return Fail(ZIP_ER_OPEN, errno,
                            "Datei kann nicht gelesen werden: " + file->path + " (" + std::strerror(errno) + ")");
            done = 0;
            if (!announced) {
                announced = true;
                if (!Report(ZipEvent::NewFile, 0, file->entry)) return -1;
            }
            return 0;
        case ZIP_SOURCE_READ: {
            uint64_t want = std::min<uint64_t>(len, size - done);  // a file that grew is cut at its stat size
            if (want == 0) return 0;
            ssize_t n;
            do {
                n = ::read(fd, data, size_t(want));
            } while (n < 0 && errno == EINTR);
            if (n < 0)
                return Fail(ZIP_ER_READ, errno,
                            "Datei kann nicht gelesen werden: " + file->path + " (" + std::strerror(errno) + ")");
            done += uint64_t(n);
            if (n > 0 && !Report(ZipEvent::BytesDone, n, {})) return -1;
            return n;
        }
        case ZIP_SOURCE_CLOSE:
            if (fd >= 0) ::close(fd);
            fd = -1;
            return 0;
        case ZIP_SOURCE_STAT: {
            if (len < sizeof(zip_stat_t)) return Fail(ZIP_ER_INVAL, 0, "");
            if (!StatFile()) return Fail(ZIP_ER_OPEN, errno, "Datei kann nicht gelesen werden: " + file->path);
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            st->size = size;
            st->mtime = mtime;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error, data, len);
        case ZIP_SOURCE_FREE:
            return 0;  // owned by ZipFiles
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            return Fail(ZIP_ER_OPNOTSUPP, 0, "");
        }
    }

    // Progress handlers are C++ code called from inside libzip: an exception
    // must not cross it, so it is kept and rethrown after zip_close.
    bool Report(ZipEvent event, int64_t value, const std::string& name) {
        try {
            Notify(*progress, event, value, name);
            return true;
        } catch (...) {
            handlerError = std::current_exception();
            zip_error_set(&error, ZIP_ER_CANCELLED, 0);
            return false;
        }
    }

    static zip_int64_t Callback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        return static_cast<ZipSourceFile*>(userdata)->Command(data, len, cmd);
    }
};

// The name a file gets inside the archive: relative to the root, or its
// full path without the leading separator when it lies outside.
std::string EntryNameFor(const std::string& root, const std::string& full) {
    std::string prefix = IncludeTrailingPathDelimiter(root);
    std::string rel = StartsWith(full, prefix) ? full.substr(prefix.size()) : full;
    while (!rel.empty() && rel.front() == PathDelim) rel.erase(0, 1);
    if (PathDelim != '/') rel = ReplaceAll(rel, std::string(1, PathDelim), "/");
    return rel;
}

// The end record of a zip archive without entries (libzip writes no file at
// all for an empty archive).
std::string EmptyZipArchive() {
    std::string eocd = "PK\x05\x06";
    eocd.append(18, '\0');
    return eocd;
}

// ---------------------------------------------------------------- unzipping

struct PlannedEntry {
    zip_uint64_t index = 0;
    std::string name;                 // as stored in the archive
    std::vector<std::string> parts;   // path below the target, by components
    bool isDir = false;
    uint64_t size = 0;
    time_t mtime = 0;
    mode_t mode = 0644;
};

std::string Refused(const std::string& zipName, const std::string& why) {
    return "Zip-Datei " + zipName + " abgelehnt, nichts entpackt: " + why;
}

bool IsLink(const struct stat& st) { return S_ISLNK(st.st_mode); }

// Checks the way from the target directory to one entry's path on disk:
// every step that exists must be a real directory (the last one a regular
// file, or a directory for a directory entry); no step may be a link.
void CheckExistingPath(const std::string& zipName, const std::string& target, const PlannedEntry& e) {
    std::string path = target;
    for (size_t i = 0; i < e.parts.size(); ++i) {
        path = PathJoin(path, e.parts[i]);
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) return;  // from here on everything is new
        bool last = i + 1 == e.parts.size();
        if (IsLink(st)) throw Error(Refused(zipName, "der Zielpfad " + path + " führt über einen symbolischen Link."));
        if (!last || e.isDir) {
            if (!S_ISDIR(st.st_mode))
                throw Error(Refused(zipName, "der Zielpfad " + path + " ist eine Datei, kein Verzeichnis."));
        } else if (!S_ISREG(st.st_mode)) {
            throw Error(Refused(zipName, "der Zielpfad " + path + " ist keine gewöhnliche Datei."));
        }
    }
}

// Reads the archive's directory and checks every entry; nothing is written.
std::vector<PlannedEntry> PlanExtraction(zip_t* za, const std::string& zipName, const std::string& target) {
    std::vector<PlannedEntry> plan;
    zip_int64_t count = zip_get_num_entries(za, 0);
    std::map<std::string, size_t> files;  // relative path -> plan index
    std::set<std::string> dirs;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
            throw Error("Zip-Datei " + zipName + " kann nicht gelesen werden (" + zip_strerror(za) + ")");
        PlannedEntry e;
        e.index = zip_uint64_t(i);
        e.name = st.name;
        std::string name = ReplaceAll(e.name, "\\", "/");  // archives made on Windows may use backslashes
        if (name.empty() || name == "/") throw Error(Refused(zipName, "ein Eintrag hat keinen Namen."));
        bool drive = name.size() >= 2 && name[1] == ':' &&
                     ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
        if (name.front() == '/' || drive)
            throw Error(Refused(zipName, "der Eintrag \"" + e.name + "\" hat einen absoluten Pfad."));
        e.isDir = name.back() == '/';
        for (const std::string& part : Split(name, '/')) {
            if (part.empty() || part == ".") continue;
            if (part == "..")
                throw Error(Refused(zipName, "der Eintrag \"" + e.name + "\" führt aus dem Zielverzeichnis heraus."));
            e.parts.push_back(part);
        }
        if (e.parts.empty()) {
            if (e.isDir) continue;  // "./" names the target itself
            throw Error(Refused(zipName, "der Eintrag \"" + e.name + "\" hat keinen Dateinamen."));
        }

        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(za, e.index, 0, &opsys, &attributes) == 0 && opsys == ZIP_OPSYS_UNIX) {
            mode_t unixMode = mode_t(attributes >> 16);
            mode_t type = unixMode & S_IFMT;
            if (type == S_IFLNK)
                throw Error(Refused(zipName, "der Eintrag \"" + e.name + "\" ist ein symbolischer Link."));
            if (type != 0 && type != S_IFREG && type != S_IFDIR)
                throw Error(Refused(zipName, "der Eintrag \"" + e.name + "\" ist keine gewöhnliche Datei."));
            if (type == S_IFDIR) e.isDir = true;
            if ((unixMode & 0777) != 0) e.mode = unixMode & 0777;
        }
        if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
            throw Error(Refused(zipName, "der Eintrag \"" + e.name + "\" ist verschlüsselt."));
        e.size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
        e.mtime = (st.valid & ZIP_STAT_MTIME) ? st.mtime : 0;

        std::string rel = Join(e.parts, "/");
        // every parent of an entry is a directory; a file may not stand where
        // another entry needs a directory, nor the other way round
        std::string parent;
        for (size_t k = 0; k + 1 < e.parts.size(); ++k) {
            parent = parent.empty() ? e.parts[k] : parent + "/" + e.parts[k];
            if (files.count(parent))
                throw Error(Refused(zipName, "der Eintrag \"" + e.name + "\" liegt unter einer Datei des Archivs."));
            dirs.insert(parent);
        }
        if (e.isDir) {
            if (files.count(rel))
                throw Error(Refused(zipName, "der Eintrag \"" + e.name + "\" ist zugleich Datei und Verzeichnis."));
            dirs.insert(rel);
            plan.push_back(std::move(e));
        } else {
            if (dirs.count(rel))
                throw Error(Refused(zipName, "der Eintrag \"" + e.name + "\" ist zugleich Datei und Verzeichnis."));
            auto it = files.find(rel);
            if (it != files.end()) {
                plan[it->second] = std::move(e);  // a name stored twice: the later entry counts
            } else {
                files.emplace(rel, plan.size());
                plan.push_back(std::move(e));
            }
        }
    }
    for (const PlannedEntry& e : plan) CheckExistingPath(zipName, target, e);
    return plan;
}

// Creates the missing directories of a path below the target, remembering
// each one it made so that a failed extraction can remove them again.
void MakeDirectories(const std::string& target, const std::vector<std::string>& parts, size_t count,
                     std::vector<std::string>& created) {
    std::string path = target;
    for (size_t i = 0; i < count; ++i) {
        path = PathJoin(path, parts[i]);
        if (::mkdir(path.c_str(), 0755) == 0) {
            created.push_back(path);
            continue;
        }
        struct stat st;
        if (errno != EEXIST || ::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            throw Error("Verzeichnis kann nicht angelegt werden: " + path);
    }
}

struct ZipArchive {
    zip_t* za = nullptr;
    ~ZipArchive() {
        if (za) zip_discard(za);
    }
};

struct ZipEntryFile {
    zip_file_t* zf = nullptr;
    ~ZipEntryFile() {
        if (zf) zip_fclose(zf);
    }
};

} // namespace

int ZipFiles(const std::string& zipName, const std::string& rootDir, const std::vector<std::string>& fileMasks,
             const ZipProgressHandler& progress) {
    const std::string root = ExcludeTrailingPathDelimiter(ExpandFileName(rootDir));
    const std::string zipFull = ExpandFileName(zipName);

    std::vector<FileToZip> files;
    std::set<std::string> entries;
    int64_t totalBytes = 0;
    for (const std::string& pattern : fileMasks) {
        std::string dir = ExtractFileDir(pattern);
        std::string mask = ExtractFileName(pattern);
        if (mask.empty()) mask = "*.*";
        if (dir.empty() || !IsAbsolutePath(dir)) dir = PathJoin(root, dir);
        dir = ExcludeTrailingPathDelimiter(ExpandFileName(dir));
        for (const std::string& name : ListFiles(dir, mask)) {
            std::string full = PathJoin(dir, name);
            if (full == zipFull) continue;
            std::string entry = EntryNameFor(root, full);
            if (!entries.insert(entry).second) continue;
            totalBytes += std::max<int64_t>(0, FileSize(full));
            files.push_back({full, entry});
        }
    }

    Notify(progress, ZipEvent::TotalFiles, int64_t(files.size()));
    Notify(progress, ZipEvent::TotalBytes, totalBytes);

    if (files.empty()) {
        AtomicWriteFile(zipName, EmptyZipArchive());
        Notify(progress, ZipEvent::EndOfBatch, 0);
        return 0;
    }

    // libzip writes the archive to a temporary file of its own and renames it
    // to the name it was given; that name is itself a staged file beside the
    // real target, flushed and renamed only after libzip is done.
    StagedFile staged(zipName, 0644);
    staged.HandOver();
    std::vector<std::unique_ptr<ZipSourceFile>> sources;
    ZipArchive archive;
    int err = 0;
    archive.za = zip_open(staged.TempPath().c_str(), ZIP_TRUNCATE, &err);
    if (!archive.za) throw Error("Zip-Datei kann nicht angelegt werden: " + zipName + " (" + ZipErrorText(err) + ")");
    for (const FileToZip& f : files) {
        auto src = std::make_unique<ZipSourceFile>();
        src->file = &f;
        src->progress = &progress;
        zip_source_t* zs = zip_source_function(archive.za, &ZipSourceFile::Callback, src.get());
        if (!zs) throw Error("Zip-Datei kann nicht angelegt werden: " + zipName + " (" + zip_strerror(archive.za) + ")");
        zip_int64_t idx = zip_file_add(archive.za, f.entry.c_str(), zs, ZIP_FL_ENC_GUESS);
        if (idx < 0) {
            zip_source_free(zs);
            throw Error("Datei kann nicht ins Archiv aufgenommen werden: " + f.path + " (" +
                        zip_strerror(archive.za) + ")");
        }
        struct stat st;
        mode_t perms = ::stat(f.path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
        zip_file_set_external_attributes(archive.za, zip_uint64_t(idx), 0, ZIP_OPSYS_UNIX,
                                         zip_uint32_t(S_IFREG | perms) << 16);
        sources.push_back(std::move(src));
    }
    if (zip_close(archive.za) != 0) {
        std::string detail = zip_strerror(archive.za);
        for (const auto& s : sources) {
            if (s->handlerError) std::rethrow_exception(s->handlerError);
            if (!s->failure.empty()) detail = s->failure;
        }
        throw Error("Zip-Datei kann nicht geschrieben werden: " + zipName + " (" + detail + ")");
    }
    archive.za = nullptr;
    staged.Finish();
    staged.Commit();
    Notify(progress, ZipEvent::EndOfBatch, 0);
    return int(files.size());
}

int UnzipAll(const std::string& zipName, const std::string& targetDir, const ZipProgressHandler& progress) {
    ZipArchive archive;
    int err = 0;
    archive.za = zip_open(zipName.c_str(), ZIP_RDONLY, &err);
    if (!archive.za) throw Error("Zip-Datei kann nicht geöffnet werden: " + zipName + " (" + ZipErrorText(err) + ")");
    struct stat tst;
    if (::stat(targetDir.c_str(), &tst) == 0 && !S_ISDIR(tst.st_mode))
        throw Error("Zielverzeichnis ist eine Datei: " + targetDir);
    const std::string target = ExcludeTrailingPathDelimiter(ExpandFileName(targetDir));

    std::vector<PlannedEntry> plan = PlanExtraction(archive.za, zipName, target);

    int64_t fileCount = 0, totalBytes = 0;
    for (const PlannedEntry& e : plan) {
        if (e.isDir) continue;
        ++fileCount;
        totalBytes += int64_t(e.size);
    }
    if (!ForceDirectories(target)) throw Error("Verzeichnis kann nicht angelegt werden: " + target);
    Notify(progress, ZipEvent::TotalFiles, fileCount);
    Notify(progress, ZipEvent::TotalBytes, totalBytes);

    std::vector<std::string> createdDirs;
    std::vector<StagedFile> staged;
    staged.reserve(size_t(fileCount));
    try {
        for (const PlannedEntry& e : plan)
            MakeDirectories(target, e.parts, e.isDir ? e.parts.size() : e.parts.size() - 1, createdDirs);
        std::vector<char> buf(1 << 16);
        for (const PlannedEntry& e : plan) {
            if (e.isDir) continue;
            Notify(progress, ZipEvent::NewFile, 0, e.name);
            StagedFile out(PathJoin(target, Join(e.parts, std::string(1, PathDelim))), e.mode);
            ZipEntryFile in;
            in.zf = zip_fopen_index(archive.za, e.index, 0);
            if (!in.zf)
                throw Error("Zip-Datei " + zipName + " kann nicht entpackt werden: Eintrag \"" + e.name + "\" (" +
                            zip_strerror(archive.za) + ")");
            uint64_t done = 0;
            while (true) {
                zip_int64_t n = zip_fread(in.zf, buf.data(), buf.size());
                if (n < 0)
                    throw Error("Zip-Datei " + zipName + " ist beschädigt: Eintrag \"" + e.name + "\" (" +
                                zip_file_strerror(in.zf) + ")");
                if (n == 0) break;
                out.Write(buf.data(), size_t(n));
                done += uint64_t(n);
                Notify(progress, ZipEvent::BytesDone, n);
            }
            if (done != e.size)
                throw Error("Zip-Datei " + zipName + " ist beschädigt: Eintrag \"" + e.name + "\" ist unvollständig.");
            if (e.mtime != 0) out.SetModificationTime(e.mtime);
            out.Finish();
            staged.push_back(std::move(out));
        }
        // Everything has been read back with good checksums: now the files
        // take their places.
        for (StagedFile& s : staged) s.Commit();
    } catch (...) {
        staged.clear();
        for (auto it = createdDirs.rbegin(); it != createdDirs.rend(); ++it) ::rmdir(it->c_str());
        throw;
    }
    Notify(progress, ZipEvent::EndOfBatch, 0);
    return int(fileCount);
}

} // namespace brenvo
