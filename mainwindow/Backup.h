#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/base/DateTime.h"
#include "mainwindow/ProgressSink.h"
#include "mainwindow/U_ZipUtil.h"

namespace brenvo {

// The counters of one zip run (a backup or an unpacking) and the texts they
// put on the load panel. A fresh counter (or Reset) starts at zero.
class ZipProgressCounter {
public:
    enum class Kind { Backup, Unpack };

    ZipProgressCounter(Kind kind, IProgressSink& sink) : kind_(kind), sink_(sink) {}

    void Reset();
    // Takes one event of ZipFiles or UnzipAll.
    void OnEvent(ZipEvent event, int64_t value);
    // A handler for ZipFiles / UnzipAll that feeds this counter; it refers to
    // the counter, which must outlive the zip run.
    ZipProgressHandler Handler();

    int64_t FilesDone() const { return filesDone_; }
    int64_t BytesDone() const { return bytesDone_; }
    int64_t FileCount() const { return fileCount_; }
    int64_t TotalBytes() const { return totalBytes_; }

private:
    Kind kind_;
    IProgressSink& sink_;
    int64_t filesDone_ = 0;
    int64_t bytesDone_ = 0;
    int64_t fileCount_ = 0;
    int64_t totalBytes_ = 0;
};

// The working directories a backup takes its files from.
struct BackupSources {
    std::string programDir;                 // the root: entries are stored relative to it
    std::string stammdaten = "Stammdaten";  // the next three relative to programDir (or absolute)
    std::string archivR = "ArchivR";
    std::string archivA = "ArchivA";
    std::string importDir;                  // the inbox, full path (SYST_DIRIMP or "import")
    std::string exportDir;                  // full path of "export"
    std::string eingabeDir;                 // full path of "eingabe"
};

// The six path masks of a backup: each directory followed by the
// separator and "*.*", in the order Stammdaten, ArchivR, ArchivA, import,
// export, eingabe.
std::vector<std::string> BackupFileMasks(const BackupSources& sources);

// The name of a backup made at the given local time:
// backupDir + separator + "yyyymmdd-hhnnss" + ".zip".
std::string BackupFileName(const std::string& backupDir, TDateTime when);

// Backs up the files lying directly in the six directories (none from their
// subdirectories) into a new zip archive in backupDir, which is created
// when missing. Logs "Datensicherung beginnt" and "Datensicherung beendet "
// + name, and shows the backup progress on the sink. Returns the archive's
// full name. A failure throws Error ("Datensicherung fehlgeschlagen: ...")
// and leaves no archive behind.
std::string CreateBackup(const BackupSources& sources, const std::string& backupDir, IProgressSink& sink);

} // namespace brenvo
