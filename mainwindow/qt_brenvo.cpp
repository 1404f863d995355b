// brenvo: the window program.
//
//   brenvo [-d DATENVERZEICHNIS]
//
// Without -d the data directory is the program file's directory when it
// holds "Stammdaten" (a portable installation), otherwise the user's data
// directory ($XDG_DATA_HOME/brenvo), where the first start creates an
// empty installation. A program file runs once: a second start brings the
// running window to the front and ends with 0.

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lib/Basics/applicationframe.h"
#include "lib/Basics/qt_Dialogs.h"
#include "lib/Basics/qt_applicationframe.h"
#include "lib/base/Files.h"
#include "mainwindow/Installation.h"
#include "mainwindow/qt_Program.h"

using namespace brenvo;

namespace {

// The program start: the running copy, the data directory, the objects in
// their order, the message loop.
int ProgramStart(int argc, char** argv) {
    const TProgramArguments args = ParseProgramArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (args.Help) {
        std::fputs(ProgramUsage().c_str(), stdout);
        return 0;
    }
    if (!args.Error.empty()) {
        std::fprintf(stderr, "brenvo: %s\n%s", args.Error.c_str(), ProgramUsage().c_str());
        return 2;
    }

    QApplication app(argc, argv);
    SetUpApplication(app);
    TApplicationFrame frame(QCoreApplication::applicationFilePath());
    if (frame.Register() == TApplicationFrame::Role::SecondCopy) return 0;

    std::string dir = args.DataDir;
    try {
        if (dir.empty()) {
            dir = DefaultDataDirectory();
            if (!IsInstallation(dir)) CreateInstallation(dir);
        } else if (!DirectoryExists(dir)) {
            ShowMessageDialog(nullptr, MessageKind::Error, "Datenverzeichnis " + dir + " existiert nicht.");
            return 2;
        }
    } catch (const std::exception& e) {
        ShowMessageDialog(nullptr, MessageKind::Error, e.what());
        return 2;
    }

    auto program = TProgram::Create(dir);
    QObject::connect(&frame, &TApplicationFrame::RaiseRequested, program->frmMain.get(), &TfrmMain::BringToFront);
    program->frmMain->show();
    return app.exec();
}

} // namespace

int main(int argc, char** argv) { return ProgramStart(argc, argv); }
