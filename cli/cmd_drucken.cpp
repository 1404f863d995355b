// brenvo-cli drucken: printing into PDF files. The reports are drawn with Qt,
// which brenvo-cli does not link: it hands the command over to the program
// brenvo-drucken beside it (built with the window program), which takes the
// same arguments.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lib/base/Files.h"

namespace brenvo {

int CmdDrucken(const std::string& dir, const std::vector<std::string>& rest) {
    const std::string helper = PathJoin(ProgramDirectory(), "brenvo-drucken");
    if (!FileExists(helper)) {
        std::fprintf(stderr,
                     "brenvo-cli: drucken ist nicht verfügbar: %s fehlt (das Programm wurde ohne Fensterprogramm "
                     "gebaut).\n",
                     helper.c_str());
        return 2;
    }
    std::vector<std::string> args{helper, "-d", dir};
    args.insert(args.end(), rest.begin(), rest.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    execv(helper.c_str(), argv.data());
    std::fprintf(stderr, "brenvo-cli: %s kann nicht gestartet werden: %s\n", helper.c_str(), std::strerror(errno));
    return 2;
}

} // namespace brenvo
