// brenvo-cli versenden: e-mails every order of the outbox as "Alle Emails
// versenden" in the program window does.

#include <string>

#include "cli/ConsoleView.h"
#include "cli/Startup.h"
#include "lib/base/Format.h"
#include "mainwindow/main.h"

namespace brenvo {

// Start-up, every unsent order of the outbox e-mailed (one SMTP session for
// all of them), shut-down. The mailer's status lines and the activity log
// appear on standard output as they happen.
// Returns 0 when every order was sent, 1 when one or more stay unsent (or the
// shut-down failed), 2 when the start-up failed.
int CmdVersenden(const std::string& dir) {
    ConsoleView view(true);
    TMainController c(view, dir);
    if (!StartController(c, view, OnStartupFailure::ShutDown)) return 2;
    const TMailBatchResult r = c.actAlleEmailsVersendenExecute(TOrderSelection::InOutbox({}));
    c.LogLine(Format("Email: %d von %d Aufträgen versandt.", {r.Sent, r.Orders}));
    const bool stopped = c.Shutdown();
    if (!stopped) return 1;
    return r.Sent == r.Orders ? 0 : 1;
}

} // namespace brenvo
