#pragma once

// What the program start decides before any window exists: the arguments,
// the data directory and the name under which the one running copy of a
// program file registers itself.

#include <string>
#include <vector>

namespace brenvo {

// The program's name and version, as "Programm" shows them.
inline constexpr const char* ProgramName = "Brenvo";
inline constexpr const char* ProgramVersion = "1.9.04 September 2014";
std::string ProgramVersionText();   // "Version: 1.9.04 September 2014"

struct TProgramArguments {
    std::string DataDir;   // -d DIR; "" when not given
    bool Help = false;     // -h, --help
    std::string Error;     // why the arguments are wrong; "" when they are right
};

// brenvo [-d DATENVERZEICHNIS] [-h|--help]
TProgramArguments ParseProgramArguments(const std::vector<std::string>& args);

// The usage text of the window program.
std::string ProgramUsage();

// The data directory when none is given: the program file's directory when
// it holds "Stammdaten" (a portable installation), otherwise the user's data
// directory, $XDG_DATA_HOME/brenvo, or ~/.local/share/brenvo when that
// variable is unset or not an absolute path. xdgDataHome and home are the
// values of XDG_DATA_HOME and HOME ("" when unset).
std::string DefaultDataDirectory(const std::string& programDir, const std::string& xdgDataHome,
                                 const std::string& home);
// The same for this process: its program file's directory and its
// environment.
std::string DefaultDataDirectory();

// The name of the running copy of a program file: "brenvo-" and a hash of
// its full path, compared without regard to letter case. The same program
// file always gives the same name; another path gives another one.
std::string InstanceName(const std::string& programPath);

// The message a second start sends to the running copy.
inline constexpr const char* RaiseRequest = "raise";

} // namespace brenvo
