// brenvo-cli sicherung, bereinigen, archiv-bereinigen, daten-import,
// update-daten, update-programm, kt-import: the data maintenance, the
// backup, the update and the cost-bearer import of the program window,
// without questions.

#include <string>
#include <vector>

#include "cli/ConsoleView.h"
#include "cli/Startup.h"
#include "mainwindow/main.h"

namespace brenvo {

bool IsMaintenanceCommand(const std::string& command) {
    return command == "sicherung" || command == "bereinigen" || command == "archiv-bereinigen" ||
           command == "daten-import" || command == "update-daten" || command == "update-programm";
}

// Start-up, the command, shut-down. The activity log appears on standard
// output as it is written, messages on standard error.
// Returns 0 when the command did its work, 1 when it failed (or, for the
// updates, installed nothing) or the shut-down failed, 2 when the start-up
// failed.
int CmdMaintenance(const std::string& command, const std::string& dir) {
    ConsoleView view(true);
    TMainController c(view, dir);
    if (!StartController(c, view, OnStartupFailure::ShutDown)) return 2;
    bool ok = false;
    if (command == "sicherung")
        ok = c.actDatensicherungErstellenExecute();
    else if (command == "bereinigen")
        ok = c.PurgeOldData();
    else if (command == "archiv-bereinigen")
        ok = c.CleanupArchiveFiles();
    else if (command == "daten-import")
        ok = c.ImportArchiveData();
    else if (command == "update-daten")
        ok = c.actUpdateDatenExecute();
    else if (command == "update-programm")
        ok = c.actUpdateProgrammExecute();
    const bool stopped = c.Shutdown();
    return ok && stopped ? 0 : 1;
}

int CmdKtImport(const std::string& dir, const std::vector<std::string>& files, bool allLinks) {
    ConsoleView view(true);
    TMainController c(view, dir);
    if (!StartController(c, view, OnStartupFailure::ShutDown)) return 2;
    const bool ok = c.ImportCostBearerFiles(files, allLinks);
    const bool stopped = c.Shutdown();
    return ok && stopped ? 0 : 1;
}

} // namespace brenvo
