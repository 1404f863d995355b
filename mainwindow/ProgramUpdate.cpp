#include "mainwindow/ProgramUpdate.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "mainwindow/Backup.h"
#include "mainwindow/StagedFile.h"
#include "mainwindow/U_ZipUtil.h"

namespace brenvo {

namespace {

// The zip format stores modification times in steps of 2 seconds.
constexpr time_t ZipTimeResolution = 2;

void RemoveLocalFile(const std::string& path) {
    DeleteFile(path);
    if (FileExists(path)) throw Error("Datei kann nicht gelöscht werden: " + path);
}

// Runs the download dialog; a missing server setting is named in the log
// (the dialog itself then shows "Keine Verbindung").
bool Download(IUpdateHost& host, const UpdateDownloadParams& params) {
    if (Trim(params.server.host).empty())
        host.LogLine(std::string("Kein Update-Server eingetragen (brenvo.ini: ") + UpdateServerIniKey + "=...)");
    return host.RunDownloadDialog(params);
}

void Unpack(IProgressSink& sink, const std::string& zipName, const std::string& targetDir) {
    ZipProgressCounter counter(ZipProgressCounter::Kind::Unpack, sink);
    UnzipAll(zipName, targetDir, counter.Handler());
}

} // namespace

FtpOptions UpdateServerOptions(const std::string& iniValue) {
    FtpOptions o;
    const std::string v = Trim(iniValue);
    const std::string invalid = "Ungültiger Update-Server in brenvo.ini: " + iniValue;
    bool hasPort = false;
    std::string port;
    if (StartsWith(v, "[")) {
        size_t close = v.find(']');
        if (close == std::string::npos) throw Error(invalid);
        o.host = v.substr(1, close - 1);
        std::string rest = v.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') throw Error(invalid);
            hasPort = true;
            port = rest.substr(1);
        }
    } else if (size_t colon = v.find(':'); colon != std::string::npos && colon == v.rfind(':')) {
        o.host = v.substr(0, colon);
        hasPort = true;
        port = v.substr(colon + 1);
    } else {
        o.host = v;  // a name, or an IPv6 address without a port
    }
    if (hasPort) {
        auto p = ParseInt(port);
        if (!p || *p < 1 || *p > 65535) throw Error(invalid);
        o.port = int(*p);
    }
    return o;
}

bool UpdateData(IUpdateHost& host, const UpdateLocations& where, const FtpOptions& server) {
    host.ShowLoadPanel();
    host.SaveTables();
    ForceDirectories(where.downloadsDir);
    UpdateDownloadParams params{server, RemoteDataUpdate, PathJoin(where.downloadsDir, LocalDataUpdate)};
    RemoveLocalFile(params.localFile);
    if (!Download(host, params)) return false;
    host.ReleaseTables();
    Unpack(host, params.localFile, where.stammdatenDir);
    host.ShowLoadProgress(10, 10, true, "Programm wird beendet. Bitte neu starten");
    host.Pause(1500);
    host.CloseProgram();
    return true;
}

bool UpdateProgram(IUpdateHost& host, const UpdateLocations& where, const FtpOptions& server) {
    host.ShowLoadPanel();
    host.SaveTables();
    host.CreateBackup();
    host.ShowLoadProgress(1, 8, true, "Update...");
    host.ShowLoadProgress(2, 8, true, "Update...Download");
    ForceDirectories(where.downloadsDir);
    UpdateDownloadParams params{server, RemoteProgramUpdate, PathJoin(where.downloadsDir, LocalProgramUpdate)};
    if (!Download(host, params)) {
        host.ShowLoadProgress(8, 8, true, "Update...beendet: Kein Update installiert.");
        return false;
    }
    host.ShowLoadProgress(3, 8, true, "Update...Download: OK");
    host.ReleaseTables();

    host.ShowLoadProgress(4, 8, true, "Update...Dateien entpacken");
    std::string tempDir = PathJoin(where.programDir, ProgramUpdateDir);
    if (!DeleteTree(tempDir))
        throw Error("Verzeichnis kann nicht gelöscht werden: " + tempDir + " (" + std::strerror(errno) + ")");
    Unpack(host, params.localFile, tempDir);
    host.ShowLoadProgress(5, 8, true, "Update...Dateien entpacken: OK");

    host.ShowLoadProgress(6, 8, true, "Update...Dateien installieren");
    InstallUpdateFiles(tempDir, where.programDir, host);
    host.ShowLoadProgress(7, 8, true, "Update...Dateien installieren:OK");

    host.ShowLoadProgress(10, 10, true, "Bitte Programm beenden und neu starten ... ");
    host.Pause(1500);
    return true;
}

InstallReport InstallUpdateFiles(const std::string& sourceDir, const std::string& programDir, IProgressSink& sink) {
    InstallReport report;
    const std::string source = ExcludeTrailingPathDelimiter(ExpandFileName(sourceDir));
    const std::string prefix = IncludeTrailingPathDelimiter(source);
    std::vector<StagedFile> staged;
    std::vector<std::string> stagedRel;
    for (const std::string& file : ListFilesRecursive(source, "*")) {
        if (!StartsWith(file, prefix)) continue;
        std::string rel = file.substr(prefix.size());
        std::string target = PathJoin(programDir, rel);
        struct stat src, dst;
        if (::stat(file.c_str(), &src) != 0) throw Error("Datei kann nicht gelesen werden: " + file);
        mode_t mode = src.st_mode & 0777;
        if (::stat(target.c_str(), &dst) == 0) {
            if (!S_ISREG(dst.st_mode))
                throw Error("Update kann nicht installiert werden: " + target + " ist keine Datei.");
            if (SameFileContent(file, target)) {
                report.unchanged.push_back(rel);
                continue;
            }
            if (dst.st_mtim.tv_sec > src.st_mtim.tv_sec + ZipTimeResolution) {
                sink.LogLine("Nicht ersetzt, installierte Datei ist neuer: " + rel);
                report.keptNewer.push_back(rel);
                continue;
            }
            std::string old = target + ".OLD";
            DeleteFile(old);
            if (!CopyFileTo(target, old, false)) throw Error("Sicherungskopie kann nicht angelegt werden: " + old);
            mode |= dst.st_mode & 0777;
        } else if (!ForceDirectories(ExtractFileDir(target))) {
            throw Error("Verzeichnis kann nicht angelegt werden: " + ExtractFileDir(target));
        }
        StagedFile out(target, mode);
        CopyIntoStaged(file, out);
        out.Finish();
        staged.push_back(std::move(out));
        stagedRel.push_back(rel);
    }
    for (size_t i = 0; i < staged.size(); ++i) {
        staged[i].Commit();
        sink.LogLine("Installiert: " + stagedRel[i]);
        report.installed.push_back(stagedRel[i]);
    }
    return report;
}

} // namespace brenvo
