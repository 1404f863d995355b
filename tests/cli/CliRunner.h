#pragma once

// Runs the built brenvo-cli as a user runs it: in a working directory of the
// test's choice, without input, capturing exit code, standard output and
// standard error. BRENVO_CLI names the program.

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

namespace clitest {

struct CliResult {
    int code = -1;
    std::string out, err;
};

inline std::string ShellQuote(const std::string& s) { return "'" + brenvo::ReplaceAll(s, "'", "'\\''") + "'"; }

inline CliResult RunCli(const std::vector<std::string>& args, const std::string& cwd,
                        const std::string& program = BRENVO_CLI) {
    TempDir io;
    std::string cmd = "cd " + ShellQuote(cwd) + " && " + ShellQuote(program);
    for (const auto& a : args) cmd += " " + ShellQuote(a);
    cmd += " >" + ShellQuote(io.file("out")) + " 2>" + ShellQuote(io.file("err")) + " </dev/null";
    const int status = std::system(cmd.c_str());
    CliResult r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = brenvo::ReadFileBytes(io.file("out"));
    r.err = brenvo::ReadFileBytes(io.file("err"));
    return r;
}

} // namespace clitest
