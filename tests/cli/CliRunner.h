#pragma once

// Runs the built brenvo-cli as a user runs it: in a working directory of the
// test's choice, without input, capturing exit code, standard output and
// standard error. BRENVO_CLI names the program.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/TempDir.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"

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

// A copy of the demo installation as the data directory and another
// temporary folder as the program's working directory.
class DemoCliTest : public ::testing::Test {
protected:
    DemoCliTest() = default;
    // The data directory below another base directory than the system's temporary one.
    explicit DemoCliTest(const std::filesystem::path& base) : data(base) {}
    void SetUp() override {
        std::filesystem::copy(std::string(BRENVO_SOURCE_DIR) + "/demo", data.path(),
                              std::filesystem::copy_options::recursive);
    }
    std::string Data(const std::string& rel) const { return data.file(rel); }

    // Runs the program on the data directory ("-d" before the arguments).
    CliResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"-d", data.path()});
        return RunCli(args, elsewhere.path());
    }

    // Changes rows of the demo's "brenvo.XML" (adds missing ones).
    void SetSettings(const std::vector<std::pair<std::string, std::string>>& values) {
        brenvo::Table t;
        t.LoadFromFile(Data("Stammdaten/brenvo.XML"));
        for (const auto& [k, v] : values) {
            if (t.Locate("KEY", {brenvo::Value(k)})) {
                t.Edit();
            } else {   // a setting the demo does not hold yet
                t.Append();
                t.SetString("KEY", k);
            }
            t.SetString("VALUE", v);
            t.Post();
        }
        t.SaveToFile(Data("Stammdaten/brenvo.XML"));
    }

    TempDir data;        // the data directory
    TempDir elsewhere;   // the working directory of the program
};

} // namespace clitest
