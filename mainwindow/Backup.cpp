#include "mainwindow/Backup.h"

#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Money.h"

namespace brenvo {

void ZipProgressCounter::Reset() {
    filesDone_ = 0;
    bytesDone_ = 0;
    fileCount_ = 0;
    totalBytes_ = 0;
}

void ZipProgressCounter::OnEvent(ZipEvent event, int64_t value) {
    const bool backup = kind_ == Kind::Backup;
    switch (event) {
    case ZipEvent::NewFile:
        ++filesDone_;
        break;
    case ZipEvent::BytesDone:
        bytesDone_ += value;
        break;
    case ZipEvent::TotalFiles:
        fileCount_ = value;
        break;
    case ZipEvent::TotalBytes:
        totalBytes_ = value;
        sink_.LogLine(backup ? "Datensicherung startet. " : "Entpacken startet. ");
        break;
    case ZipEvent::EndOfBatch:
        sink_.ShowLoadProgress(100, 100, true, backup ? "Datensicherung fertig." : "Entpacken fertig.");
        return;
    }
    std::string text;
    if (backup) {
        text = Format("Datensicherung Dateien: %4.4d / %4.4d Datenmenge: %4.4d / %4.4d kB",
                      {filesDone_, fileCount_, RoundHalfEven(double(bytesDone_) / 1024.0),
                       RoundHalfEven(double(totalBytes_) / 1024.0)});
    } else {
        text = Format("Entpacke Dateien : %4.4d / %4.4d Daten : %4.4d / %4.4d ",
                      {filesDone_, fileCount_, bytesDone_, totalBytes_});
    }
    sink_.ShowLoadProgress(int(filesDone_), int(fileCount_), false, text);
}

ZipProgressHandler ZipProgressCounter::Handler() {
    return [this](ZipEvent event, int64_t value, const std::string&) { OnEvent(event, value); };
}

std::vector<std::string> BackupFileMasks(const BackupSources& s) {
    std::vector<std::string> masks;
    for (const std::string* dir : {&s.stammdaten, &s.archivR, &s.archivA, &s.importDir, &s.exportDir, &s.eingabeDir})
        masks.push_back(PathJoin(*dir, "*.*"));
    return masks;
}

std::string BackupFileName(const std::string& backupDir, TDateTime when) {
    return PathJoin(backupDir, FormatBackupName(when) + ".zip");
}

std::string CreateBackup(const BackupSources& sources, const std::string& backupDir, IProgressSink& sink) {
    sink.LogLine("Datensicherung beginnt");
    ZipProgressCounter counter(ZipProgressCounter::Kind::Backup, sink);
    std::string name = BackupFileName(backupDir, Now());
    try {
        if (!ForceDirectories(backupDir)) throw Error("Verzeichnis kann nicht angelegt werden: " + backupDir);
        ZipFiles(name, sources.programDir, BackupFileMasks(sources), counter.Handler());
    } catch (const Error& e) {
        throw Error(std::string("Datensicherung fehlgeschlagen: ") + e.what());
    }
    sink.LogLine("Datensicherung beendet " + name);
    return name;
}

} // namespace brenvo
