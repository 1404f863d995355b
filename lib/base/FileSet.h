#pragma once

// Several files of one directory replaced as one step: afterwards the
// directory holds either all old files or all new ones, whenever the program
// or the machine stops.
//
// The new version of every file is written completely (and synced) beside
// it as name + ".NEU". Then a journal naming the files is written
// atomically: from that moment the replacement counts as done. The ".NEU"
// files are renamed over the old ones and the journal is removed. A stop
// before the journal exists leaves the old files and some ".NEU" files,
// which RecoverFileSet removes; a stop after it leaves renames undone, which
// RecoverFileSet completes. Whoever reads the files calls RecoverFileSet
// first.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

class FileSetReplace {
public:
    // dir: the directory; journalName: the journal's file name in it.
    FileSetReplace(std::string dir, std::string journalName);
    // Removes the ".NEU" files of a replacement that was not committed.
    ~FileSetReplace();
    FileSetReplace(const FileSetReplace&) = delete;
    FileSetReplace& operator=(const FileSetReplace&) = delete;

    // Where the new version of `name` is to be written (atomically, e.g. by
    // AtomicWriteFile or Table::SaveToFile); Add it afterwards.
    std::string StagedPath(const std::string& name) const;
    void Add(const std::string& name);
    // Writes the new version of `name` and adds it.
    void Stage(const std::string& name, std::string_view bytes);

    // Makes the replacement happen. When a rename fails after the journal
    // was written, the replacement is completed as far as possible and an
    // Error says that the next start completes it.
    void Commit();

private:
    std::string dir_, journal_;
    std::vector<std::string> names_;
    bool committed_ = false;
};

enum class FileSetRecovery {
    Nothing,      // no replacement was interrupted
    Completed,    // an interrupted replacement was completed: the new files are in place
    RolledBack    // one that stopped before its journal was written: the old files stay
};

// Completes or rolls back a replacement of the files `names` in dir that
// was interrupted. Fails with Error when a file cannot be renamed or removed.
FileSetRecovery RecoverFileSet(const std::string& dir, const std::string& journalName,
                               const std::vector<std::string>& names);

// For tests: called at each step of Commit with "staged" (before the
// journal is written), "journal" (after it), "renamed NAME" (after each
// rename) and "done"; a test ends the process in it to simulate a crash.
void SetFileSetHook(std::function<void(const std::string& step)> hook);

} // namespace brenvo
