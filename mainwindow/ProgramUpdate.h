#pragma once

#include <string>
#include <vector>

#include "mainwindow/FtpClient.h"
#include "mainwindow/ProgressSink.h"
#include "mainwindow/UpdateDlg.h"

namespace brenvo {

// The update server is a setting of the installation: the line
// "Update_Server=host" or "Update_Server=host:port" in "brenvo.ini" (port 21
// when none is given; an IPv6 address in brackets, "[::1]:2121"). Without it
// the download ends with "Keine Verbindung".
inline constexpr const char* UpdateServerIniKey = "Update_Server";
// The FTP options of the update server from that value (anonymous, active
// mode, the default time limits). Throws Error for a port that is no number
// from 1 to 65535.
FtpOptions UpdateServerOptions(const std::string& iniValue);

inline constexpr const char* RemoteDataUpdate = "ftp-pub/updateData.zip";
inline constexpr const char* RemoteProgramUpdate = "ftp-pub/updateProg.zip";
inline constexpr const char* LocalDataUpdate = "updateKT.zip";      // in "Downloads"
inline constexpr const char* LocalProgramUpdate = "updateProg.zip";  // in "Downloads"
inline constexpr const char* ProgramUpdateDir = "TempDownload";     // below the program directory

struct UpdateLocations {
    std::string programDir;     // the root; the program update installs below it
    std::string stammdatenDir;  // full path of "Stammdaten", target of the data update
    std::string downloadsDir;   // full path of "Downloads"
};

// What the update needs of the main window. The progress texts and log
// lines go through the IProgressSink part.
class IUpdateHost : public IProgressSink {
public:
    // Shows the load panel in the full window.
    virtual void ShowLoadPanel() = 0;
    // Saves the archives and the cost-bearer base table (the shut-down's
    // "Daten speichern ...").
    virtual void SaveTables() = 0;
    // Makes a backup (CreateBackup with the window's directories).
    virtual void CreateBackup() = 0;
    // Runs the download dialog modally; true when it ended with OK. A window
    // shows UpdateDownload; without one, RunUpdateDownloadUnattended does.
    virtual bool RunDownloadDialog(const UpdateDownloadParams& params) = 0;
    // Releases the cost-bearer store and both archives, so that the
    // shut-down cannot write over the files the update brings.
    virtual void ReleaseTables() = 0;
    virtual void Pause(int milliseconds) = 0;
    // Closes the main window, which runs the shut-down sequence.
    virtual void CloseProgram() = 0;
};

// "Update [Daten]": downloads "ftp-pub/updateData.zip" (always, the local
// copy is deleted first), releases the tables, unpacks it into
// "Stammdaten" and closes the program. False when the download did not end
// with OK (nothing changed). A failure while unpacking throws Error; the
// tables stay released then.
bool UpdateData(IUpdateHost& host, const UpdateLocations& where, const FtpOptions& server);

// "Update [Programm]": backup, download of "ftp-pub/updateProg.zip" (an
// archive of the same size as the one from the last update counts as no
// newer update), release of the tables, unpacking into "TempDownload" and
// installation into the program directory. The program keeps running with
// its tables released; the user ends it. False when nothing was installed
// because the download did not end with OK.
bool UpdateProgram(IUpdateHost& host, const UpdateLocations& where, const FtpOptions& server);

struct InstallReport {
    std::vector<std::string> installed;   // relative paths replaced or added
    std::vector<std::string> unchanged;   // same content already installed
    std::vector<std::string> keptNewer;   // the installed file is newer and stays
};

// Installs every file below sourceDir (subdirectories included) into the
// same relative place below programDir:
// - a file whose installed copy holds the same bytes is left alone;
// - an installed file more than 2 seconds newer than the update's file (the
//   zip format keeps times to 2 seconds) is kept, and logged;
// - otherwise an installed file is first copied to its name + ".OLD"
//   (replacing an older ".OLD"), then replaced; a file that exists only in
//   the update is added, with its directories;
// - installed files the update does not contain stay as they are.
// Every new file is written beside its target and renamed over it (so the
// running program file is replaced safely: the running process keeps the
// old file, the next start uses the new one), keeps the update's
// modification time and the union of both files' permission bits. All files
// are staged before the first one is renamed into place, so a failure
// (disk full, no permission) installs nothing.
InstallReport InstallUpdateFiles(const std::string& sourceDir, const std::string& programDir, IProgressSink& sink);

} // namespace brenvo
