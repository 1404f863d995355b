// brenvo-cli dakota-export, dakota-verarbeiten, dakota-ergebnis,
// dakota-status and annahmestellen: the DAKOTA actions of the program window
// as batch commands, each between a start-up and a shut-down.

#include <cstdio>
#include <string>

#include "cli/ConsoleView.h"
#include "cli/Startup.h"
#include "mainwindow/main.h"

namespace brenvo {

bool IsDakotaCommand(const std::string& command) {
    return command == "dakota-export" || command == "dakota-verarbeiten" || command == "dakota-ergebnis" ||
           command == "dakota-status" || command == "annahmestellen";
}

// Returns 0 when the action did what it was asked (dakota-status: DAKOTA is
// installed and ready), 1 when it failed, DAKOTA is not activated or the
// shut-down failed, 2 when the start-up failed.
int CmdDakota(const std::string& command, const std::string& dir) {
    // The status is two lines for scripts; every other command shows the
    // activity log as it grows.
    const bool status = command == "dakota-status";
    ConsoleView view(!status);
    TMainController c(view, dir);
    if (!StartController(c, view, OnStartupFailure::ShutDown)) return 2;

    bool ok = false;
    if (status) {
        c.RefreshDakotaStatus();
        std::printf("%s\n%s\n", c.DakotaCheckText().c_str(), c.DakotaStatusLine().c_str());
        std::fflush(stdout);
        ok = c.DakotaEnabled() && c.DakotaReady();
    } else if (!c.DakotaEnabled()) {
        std::fprintf(stderr, "brenvo-cli: Dakota ist in den Einstellungen nicht aktiviert (DAKOTA_AKTIV).\n");
    } else if (command == "dakota-export") {
        ok = c.actDakotaExportExecute().Ok;
    } else if (command == "dakota-verarbeiten") {
        ok = c.DakotaProcessing(true, false).Ok();
    } else if (command == "dakota-ergebnis") {
        ok = c.actDakotaReadResultExecute().Ok;
    } else if (command == "annahmestellen") {
        ok = c.actDakotaReadAnnahmeExecute().Ok;
    }
    const bool stopped = c.Shutdown();
    return stopped && ok ? 0 : 1;
}

} // namespace brenvo
