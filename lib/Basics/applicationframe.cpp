#include "lib/Basics/applicationframe.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "lib/base/Files.h"
#include "lib/base/Strings.h"

namespace brenvo {

std::string ProgramVersionText() { return std::string("Version: ") + ProgramVersion; }

TProgramArguments ParseProgramArguments(const std::vector<std::string>& args) {
    TProgramArguments a;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            a.Help = true;
        } else if (arg == "-d") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                a.Error = "Option -d ohne Datenverzeichnis";
                return a;
            }
            if (!a.DataDir.empty()) {
                a.Error = "Option -d mehrfach angegeben";
                return a;
            }
            a.DataDir = args[++i];
        } else if (StartsWith(arg, "-")) {
            a.Error = "Unbekannte Option: " + arg;
            return a;
        } else {
            a.Error = "Unerwartete Angabe: " + arg;
            return a;
        }
    }
    return a;
}

std::string ProgramUsage() {
    return "Aufruf: brenvo [-d DATENVERZEICHNIS]\n"
           "\n"
           "Startet das Programmfenster. Ohne -d ist das Datenverzeichnis das Verzeichnis der\n"
           "Programmdatei, wenn es \"Stammdaten\" enthält, sonst $XDG_DATA_HOME/brenvo\n"
           "(~/.local/share/brenvo); dort wird beim ersten Start eine leere Installation angelegt.\n"
           "Läuft das Programm bereits, wird sein Fenster nach vorn geholt.\n";
}

std::string DefaultDataDirectory(const std::string& programDir, const std::string& xdgDataHome,
                                 const std::string& home) {
    if (DirectoryExists(PathJoin(programDir, "Stammdaten"))) return programDir;
    if (IsAbsolutePath(xdgDataHome)) return PathJoin(xdgDataHome, "brenvo");
    return PathJoin(PathJoin(home.empty() ? std::string(".") : home, ".local/share"), "brenvo");
}

std::string DefaultDataDirectory() {
    auto env = [](const char* name) {
        const char* v = std::getenv(name);
        return std::string(v ? v : "");
    };
    return DefaultDataDirectory(ProgramDirectory(), env("XDG_DATA_HOME"), env("HOME"));
}

std::string InstanceName(const std::string& programPath) {
    // FNV-1a over the lower-cased path: the same in every process and build.
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : LowerCase(programPath)) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return std::string("brenvo-") + buf;
}

} // namespace brenvo
