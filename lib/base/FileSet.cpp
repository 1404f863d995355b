#include "FileSet.h"

#include <mutex>

#include "Error.h"
#include "Files.h"
#include "Strings.h"

namespace brenvo {

namespace {

constexpr std::string_view kStagedSuffix = ".NEU";

std::mutex gHookMutex;
std::function<void(const std::string&)> gHook;

void RunHook(const std::string& step) {
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lock(gHookMutex);
        hook = gHook;
    }
    if (hook) hook(step);
}

std::string Staged(const std::string& dir, const std::string& name) {
    return PathJoin(dir, name + std::string(kStagedSuffix));
}

// Renames every staged file that is still there over its target.
void RenameStaged(const std::string& dir, const std::vector<std::string>& names, bool hook) {
    for (const std::string& name : names) {
        const std::string staged = Staged(dir, name);
        if (!FileExists(staged)) continue;
        if (!ReplaceFile(staged, PathJoin(dir, name)))
            throw Error("Datei kann nicht ersetzt werden: " + PathJoin(dir, name));
        if (hook) RunHook("renamed " + name);
    }
}

// A removal is on the disk only once its directory is synced.
void RemoveSynced(const std::string& path) {
    if (!DeleteFile(path)) throw Error("Datei kann nicht gelöscht werden: " + path);
    const std::string dir = ExtractFileDir(path);
    SyncDirectory(dir.empty() ? std::string(".") : dir);
}

std::vector<std::string> JournalNames(const std::string& path) {
    std::vector<std::string> names;
    for (const std::string& line : SplitLines(ReadFileBytes(path))) {
        std::string name = Trim(line);
        // Only plain names of this directory.
        if (!name.empty() && name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
            name != "." && name != "..")
            names.push_back(name);
    }
    return names;
}

} // namespace

FileSetReplace::FileSetReplace(std::string dir, std::string journalName)
    : dir_(std::move(dir)), journal_(PathJoin(dir_, journalName)) {
    // A journal left by an interrupted replacement is completed first, so
    // that it can never name files of this one.
    if (FileExists(journal_)) {
        RenameStaged(dir_, JournalNames(journal_), false);
        RemoveSynced(journal_);
    }
}

FileSetReplace::~FileSetReplace() {
    if (committed_) return;
    for (const std::string& name : names_) DeleteFile(Staged(dir_, name));
}

std::string FileSetReplace::StagedPath(const std::string& name) const { return Staged(dir_, name); }

void FileSetReplace::Add(const std::string& name) {
    if (!FileExists(StagedPath(name))) throw Error("Datei fehlt: " + StagedPath(name));
    names_.push_back(name);
}

void FileSetReplace::Stage(const std::string& name, std::string_view bytes) {
    AtomicWriteFile(StagedPath(name), bytes);
    names_.push_back(name);
}

void FileSetReplace::Commit() {
    RunHook("staged");
    AtomicWriteFile(journal_, Join(names_, "\n") + "\n");
    committed_ = true;   // from here on the new files count
    RunHook("journal");
    try {
        RenameStaged(dir_, names_, true);
    } catch (const std::exception& e) {
        throw Error(std::string(e.what()) + " Die neuen Dateien werden beim nächsten Programmstart übernommen.");
    }
    RemoveSynced(journal_);
    RunHook("done");
}

FileSetRecovery RecoverFileSet(const std::string& dir, const std::string& journalName,
                               const std::vector<std::string>& names) {
    const std::string journal = PathJoin(dir, journalName);
    if (FileExists(journal)) {
        RenameStaged(dir, JournalNames(journal), false);
        RemoveSynced(journal);
        return FileSetRecovery::Completed;
    }
    bool removed = false;
    for (const std::string& name : names) {
        const std::string staged = Staged(dir, name);
        if (!FileExists(staged)) continue;
        RemoveSynced(staged);
        removed = true;
    }
    return removed ? FileSetRecovery::RolledBack : FileSetRecovery::Nothing;
}

void SetFileSetHook(std::function<void(const std::string& step)> hook) {
    std::lock_guard<std::mutex> lock(gHookMutex);
    gHook = std::move(hook);
}

} // namespace brenvo
