// brenvo-cli verarbeiten killed with SIGKILL at moments spread over a run
// (while it checks, while it bills, while it makes its result final, while
// it closes), then run again: every invoice ends up billed exactly once. And
// two programs never work on one data directory at the same time.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "archive/Staging.h"
#include "lib/base/DataDirLock.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"
#include "tests/cli/CliRunner.h"
#include "tools/InvoiceGenerator.h"

using namespace brenvo;
using namespace clitest;

namespace {

constexpr int kInvoices = 24;

// Starts `brenvo-cli -d DIR verarbeiten`, reads its output line by line and
// kills it (SIGKILL) once `stop` says so. Returns the lines it saw; killed
// tells whether it was still running then.
std::vector<std::string> RunAndKill(const std::string& dir, const std::function<bool(const std::string&, int)>& stop,
                                    bool& killed) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        std::freopen("/dev/null", "w", stderr);
        ::execl(BRENVO_CLI, "brenvo-cli", "-d", dir.c_str(), "verarbeiten", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    FILE* out = ::fdopen(fds[0], "r");
    std::vector<std::string> lines;
    killed = false;
    char* buf = nullptr;
    size_t cap = 0;
    ssize_t n;
    while ((n = ::getline(&buf, &cap, out)) > 0) {
        lines.emplace_back(buf, size_t(n) - (buf[n - 1] == '\n' ? 1 : 0));
        if (!killed && stop(lines.back(), int(lines.size()))) {
            killed = ::kill(pid, SIGKILL) == 0;
            break;
        }
    }
    std::free(buf);
    std::fclose(out);
    int status = 0;
    ::waitpid(pid, &status, 0);
    killed = killed && WIFSIGNALED(status);
    return lines;
}

// The data directory lies on a memory file system where there is one: a
// killed process leaves what it wrote in the system's cache, which is what
// the file system shows the next one; only a power cut would lose it.
class KillTest : public DemoCliTest {
protected:
    KillTest() : DemoCliTest(MemoryDiskBase()) {}
    void SetUp() override {
        DemoCliTest::SetUp();
        for (const std::string& f : ListFiles(Data("import"), "*")) DeleteFile(Data("import/" + f));
        for (int i = 1; i <= kInvoices; ++i) {
            GeneratedInvoice g;
            g.number = "K-" + std::to_string(i);
            g.date = EncodeDate(2024, 11, 22);
            g.providerIK = "510512345";
            g.costBearerIK = i % 3 == 0 ? "103440014" : "103110016";
            g.seed = uint64_t(i);
            g.cases = 1;
            g.tripsPerCase = 1;
            WriteGeneratedInvoice(Data("import/" + g.number + ".xml"), g);
        }
    }

    // After any kill and the runs that follow: each invoice once in the
    // invoice archive with its file, in exactly one billing file of an order
    // that has a row; nothing in the inbox; no transfer name twice.
    void CheckAllBilledOnce() {
        EXPECT_TRUE(ListFiles(Data("import"), "*").empty());
        EXPECT_TRUE(ListFiles(StagingDirOf(Data("ArchivR")), "*").empty());
        EXPECT_TRUE(ListFiles(StagingDirOf(Data("ArchivA")), "*").empty());
        Table rech, auf;
        rech.LoadFromFile(Data("Stammdaten/Rechnungen.xml"));
        auf.LoadFromFile(Data("Stammdaten/Auftraege.xml"));
        std::set<std::string> handles, transfers;
        for (auf.First(); !auf.Eof(); auf.Next()) {
            handles.insert(auf.AsString("A_HANDLE"));
            EXPECT_TRUE(transfers.insert(auf.AsString("A_TRANSFER")).second) << auf.AsString("A_TRANSFER");
        }
        std::map<std::string, int> rows, billed;
        for (rech.First(); !rech.Eof(); rech.Next()) {
            const std::string number = rech.AsString("R_NUMMER");
            ++rows[number];
            EXPECT_TRUE(FileExists(Data("ArchivR/" + rech.AsString("R_FILENAME")))) << number;
            if (number == "2024-1046") continue;   // archived by hand in the demo, without an order
            EXPECT_TRUE(handles.count(rech.AsString("R_HANDLE"))) << number;
        }
        for (const std::string& f : ListFiles(Data("ArchivA"), "*")) {
            EXPECT_TRUE(handles.count(f.substr(0, f.find('.')))) << f;
            if (f.find('.') != std::string::npos) continue;
            std::set<std::string> inFile;
            for (const std::string& line : SplitLines(ReadFileBytes(Data("ArchivA/" + f))))
                if (StartsWith(line, "REC+")) inFile.insert(line.substr(4, line.find(':') - 4));
            for (const std::string& number : inFile) ++billed[number];
        }
        for (int i = 1; i <= kInvoices; ++i) {
            const std::string number = "K-" + std::to_string(i);
            EXPECT_EQ(rows[number], 1) << number;
            EXPECT_EQ(billed[number], 1) << number;
        }
    }

    // Kills a run at each of the moments, runs the program again until a
    // run completes, and checks.
    void KillAtSpreadMoments(bool collective) {
        SetSettings({{"SYST_ZUSF", collective ? "T" : "F"}});
        TempDir pristine{MemoryDiskBase()};
        std::filesystem::copy(data.path(), pristine.path(), std::filesystem::copy_options::recursive);
        bool killed = false;
        const std::vector<std::string> whole = RunAndKill(data.path(), [](const std::string&, int) { return false; }, killed);
        const int total = int(whole.size());
        ASSERT_GT(total, 2 * kInvoices);
        const std::string writing = "Prozess: Schreibe Dateien... ";
        const long writes = std::count(whole.begin(), whole.end(), writing);

        // Spread over the lines of a whole run, and the moments when the
        // last job writes and the result is made final (in collective mode
        // the first "Fertig," comes just before) and when the program closes.
        std::vector<std::function<bool(const std::string&, int)>> moments;
        for (int k = 1; k <= 5; ++k) {
            const int at = total * k / 6;
            moments.push_back([at](const std::string&, int line) { return line == at; });
        }
        moments.push_back([writing, writes, seen = 0L](const std::string& l, int) mutable {
            return l == writing && ++seen == writes;
        });
        moments.push_back([](const std::string& l, int) { return l == "Prozess: Fertig,"; });
        moments.push_back([](const std::string& l, int) { return l == "Init Daten speichern ..."; });

        int kills = 0;
        for (size_t m = 0; m < moments.size(); ++m) {
            SCOPED_TRACE("Zeitpunkt " + std::to_string(m));
            for (const auto& e : std::filesystem::directory_iterator(data.path())) std::filesystem::remove_all(e.path());
            std::filesystem::copy(pristine.path(), data.path(), std::filesystem::copy_options::recursive);
            RunAndKill(data.path(), moments[m], killed);
            kills += killed;   // near its end the program may be gone before the signal comes
            // The killed program holds no lock: the next one starts.
            CliResult again = Cli({"verarbeiten"});
            for (int runs = 0; again.code != 0 && runs < 2; ++runs) again = Cli({"verarbeiten"});
            EXPECT_EQ(again.code, 0) << again.out << again.err;
            CheckAllBilledOnce();
            if (HasFailure()) break;
        }
        EXPECT_GE(kills, int(moments.size()) - 1);
    }
};

} // namespace

TEST_F(KillTest, CollectiveRunKilledAtSpreadMoments) { KillAtSpreadMoments(true); }

TEST_F(KillTest, SingleModeRunKilledAtSpreadMoments) { KillAtSpreadMoments(false); }

TEST_F(KillTest, ASecondProgramOnTheSameDataDirectoryRefusesToStart) {
    auto lock = DataDirLock::Acquire(data.path());   // as the window program holds it
    const auto before = ListFilesRecursive(data.path(), "*");
    CliResult r = Cli({"verarbeiten"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(Contains(r.out, "Init ABBRUCH Das Datenverzeichnis " + data.path() +
                                    " wird bereits von einem anderen Brenvo-Programm verwendet"))
        << r.out;
    EXPECT_TRUE(Contains(r.err, "Programmstart fehlgeschlagen."));
    EXPECT_EQ(ListFilesRecursive(data.path(), "*"), before) << "it wrote nothing, not even its log";
    lock.reset();
    EXPECT_EQ(Cli({"verarbeiten"}).code, 0);
}
