#pragma once

// The start-up every brenvo-cli command begins with.

#include "cli/ConsoleView.h"
#include "mainwindow/main.h"

namespace brenvo {

enum class OnStartupFailure {
    ShutDown,    // save and close as at the end of a run (the log file is written)
    LeaveAsIs,   // the read-only commands: nothing is saved or written
};

// Starts the controller. When the start-up fails, the reason (the "Init
// ABBRUCH " line of the log) goes to standard error unless the view shows the
// log as it grows, then the controller is shut down where asked, and
// "Programmstart fehlgeschlagen." closes the messages; the command then exits
// with 2.
bool StartController(TMainController& c, const ConsoleView& view, OnStartupFailure onFailure);

} // namespace brenvo
