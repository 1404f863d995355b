#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>
#include <thread>
#include <vector>

#include "DakotaTestKit.h"
#include "dakota/U_Extprocess.h"
#include "lib/base/Error.h"

using namespace brenvo;
using namespace dakota_test;
using namespace std::chrono_literals;

// ---------------------------------------------------------------- command line

TEST(CommandLineTest, SplitsWordsAsAShellWould) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine("prog -x"), (V{"prog", "-x"}));
    EXPECT_EQ(SplitCommandLine("  prog \t -x  "), (V{"prog", "-x"}));
    EXPECT_EQ(SplitCommandLine("prog "), (V{"prog"}));
    EXPECT_EQ(SplitCommandLine(""), V{});
    EXPECT_EQ(SplitCommandLine("'/opt/da kota/d.exe' -s"), (V{"/opt/da kota/d.exe", "-s"}));
    EXPECT_EQ(SplitCommandLine("\"a \\\"b\\\" \\$x \\n\" c"), (V{"a \"b\" $x \\n", "c"}));
    EXPECT_EQ(SplitCommandLine("a\\ b c\\\\d"), (V{"a b", "c\\d"}));
    EXPECT_EQ(SplitCommandLine("x'y z'\"w\"v"), (V{"xy zwv"}));
    EXPECT_EQ(SplitCommandLine("a '' \"\" b"), (V{"a", "", "", "b"}));
    EXPECT_EQ(SplitCommandLine("'$HOME' *.AUF ~"), (V{"$HOME", "*.AUF", "~"}));   // nothing is expanded
    EXPECT_EQ(SplitCommandLine("a\\\nb"), (V{"ab"}));
    EXPECT_THROW(SplitCommandLine("prog 'offen"), Error);
    EXPECT_THROW(SplitCommandLine("prog \"offen"), Error);
    EXPECT_THROW(SplitCommandLine("prog \\"), Error);
}

TEST(CommandLineTest, QuotedWordsComeBackUnchanged) {
    for (std::string w : {"plain", "/opt/dakota inst/dakota30.exe", "it's", "a\"b", "back\\slash", "", "$x `y`",
                          "tab\there", "ümlaut"}) {
        auto words = SplitCommandLine(QuoteCommandWord(w) + " -s");
        ASSERT_EQ(words.size(), 2u) << w;
        EXPECT_EQ(words[0], w);
    }
    EXPECT_EQ(QuoteCommandWord("/usr/bin/dakota30.exe"), "/usr/bin/dakota30.exe");
}

// ---------------------------------------------------------------- synchronous runs

TEST(ExtProcessTest, ExitCodesOfNormalEndsAndSignals) {
    auto run = [](const std::string& cmd) {
        TExtProcess p(cmd, false);
        return p.RunAndWait(TExtProcess::Infinite, true);
    };
    EXPECT_EQ(run("/bin/true"), 0);
    EXPECT_EQ(run("false"), 1);   // found in PATH
    EXPECT_EQ(run("/bin/sh -c 'exit 9'"), 9);
    EXPECT_EQ(run("/bin/sh -c 'exit 300'"), 300 & 0xFF);
    EXPECT_EQ(run("/bin/sh -c 'kill -KILL $$'"), 128 + 9);
    EXPECT_EQ(run("/bin/sh -c 'kill -TERM $$'"), 128 + 15);
}

TEST(ExtProcessTest, ArgumentsWorkingDirectoryAndNoInheritedHandles) {
    TempDir tmp;
    std::string out = tmp.file("out.txt");
    WriteText(tmp.file("offen.txt"), "x");
    // deliberately without O_CLOEXEC, and above what the child opens itself
    int fd = open(tmp.file("offen.txt").c_str(), O_RDONLY);
    int leaked = dup2(fd, 57);
    close(fd);
    ASSERT_EQ(leaked, 57);
    // the argument with blanks arrives as one word; the process runs in the working directory
    TExtProcess p("/bin/sh -c 'printf \"%s|\" \"$1\" \"$(pwd)\" > out.txt; ls /proc/self/fd > fds.txt' sh 'a b'",
                  false, tmp.path());
    EXPECT_EQ(p.RunAndWait(TExtProcess::Infinite, true), 0);
    EXPECT_EQ(ReadText(out), "a b|" + std::filesystem::canonical(tmp.path()).string() + "|");
    // only 0, 1, 2 and the directory listing's own descriptor
    auto fds = SplitLines(ReadText(tmp.file("fds.txt")));
    EXPECT_LE(fds.size(), 4u) << ReadText(tmp.file("fds.txt"));
    EXPECT_EQ(std::count(fds.begin(), fds.end(), std::to_string(leaked)), 0);
    close(leaked);

    try {
        TExtProcess bad("/bin/true", false, tmp.file("fehlt"));
        FAIL() << "missing directory accepted";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "TExtProcess.Create: Dir " + tmp.file("fehlt") + " does not exist.");
    }
}

TEST(ExtProcessTest, SynchronousStartFailureAndMisuse) {
    TempDir tmp;
    int startErrors = 0;
    TExtProcess p(tmp.file("gibtsnicht.exe") + " -s", false);
    p.OnStartError = [&](TExtProcess& s) {
        ++startErrors;
        EXPECT_EQ(&s, &p);
    };
    try {
        p.RunAndWait(TExtProcess::Infinite, true);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Process could not be started");
    }
    EXPECT_EQ(startErrors, 1);
    EXPECT_FALSE(p.Started());
    EXPECT_EQ(p.ErrorCode(), ENOENT);

    // not executable, and a broken command line
    WriteText(tmp.file("text.exe"), "kein Programm");
    TExtProcess q(tmp.file("text.exe"), false);
    EXPECT_FALSE(q.StartProcess());
    EXPECT_EQ(q.ErrorCode(), EACCES);
    TExtProcess r("prog 'offen", false);
    EXPECT_FALSE(r.StartProcess());
    EXPECT_EQ(r.ErrorCode(), EINVAL);

    auto queue = std::make_shared<MessageQueue>();
    TExtProcess a("/bin/true", true, "", queue);
    try {
        a.RunAndWait(100, true);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Only Use In Non-Threaded Mode");
    }
}

TEST(ExtProcessTest, TimeLimitStopsOrLeavesTheProcess) {
    StandIn s;
    auto queue = std::make_shared<MessageQueue>();
    // stopped at the limit: the quit request is honoured, the code becomes 400
    s.Configure("RUN_MS=-1\nTERM_EXIT=6\n");
    {
        TExtProcess p("'" + s.program + "' -k", false);
        int terminated = 0;
        p.OnTerminated = [&](TExtProcess&) { ++terminated; };
        EXPECT_EQ(p.RunAndWait(300, true), TExtProcess::TimeoutExitCode);
        EXPECT_TRUE(p.Terminated());
        EXPECT_EQ(terminated, 1);
    }
    // left running without the stop; a later StopProcess ends it with the program's own code
    std::filesystem::remove(s.log);
    TExtProcess p("'" + s.program + "' -k", false);
    EXPECT_EQ(p.RunAndWait(50, false), TExtProcess::StillActive);
    EXPECT_FALSE(p.Terminated());
    ASSERT_TRUE(s.WaitForLog(*queue, "start -k"));
    p.StopProcess(99, 5000);
    EXPECT_TRUE(p.Terminated());
    EXPECT_EQ(p.ExitCode(), 6);
}

// ---------------------------------------------------------------- asynchronous runs

namespace {

struct Recorder {
    std::vector<std::string> events;
    std::vector<std::thread::id> threads;
    int ticks = 0;
    bool ended = false;
    int exitCode = -100;
    int errorCode = -100;

    void Attach(TExtProcess& p) {
        p.OnStarted = [this](TExtProcess&) { Add("started"); };
        p.OnTick = [this](TExtProcess&) {
            ++ticks;
            threads.push_back(std::this_thread::get_id());
            if (events.empty() || events.back() != "tick") events.push_back("tick");
        };
        p.OnTerminated = [this](TExtProcess& s) {
            Add("terminated");
            exitCode = s.ExitCode();
            ended = true;
        };
        p.OnStartError = [this](TExtProcess& s) {
            Add("starterror");
            errorCode = s.ErrorCode();
            ended = true;
        };
    }
    void Add(const std::string& e) {
        events.push_back(e);
        threads.push_back(std::this_thread::get_id());
    }
};

// The stand-in run asynchronously, its notifications recorded.
struct AsyncRun : ::testing::Test {
    StandIn s;
    std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
    Recorder rec;

    std::shared_ptr<TExtProcess> Runner(const std::string& commandLine) {
        auto p = std::make_shared<TExtProcess>(commandLine, true, "", queue);
        rec.Attach(*p);
        return p;
    }
    std::shared_ptr<TExtProcess> StandInRunner(const std::string& sw) {
        return Runner(QuoteCommandWord(s.program) + " " + sw);
    }
};

} // namespace

TEST_F(AsyncRun, NotifiesStartTicksAndEndOnTheOwnerThread) {
    s.Configure("RUN_MS=350\nRUN_EXIT=3\n");
    auto p = StandInRunner("-k");
    std::weak_ptr<TExtProcess> weak = p;
    p->StartThread();
    p.reset();   // the runner lives on while its thread runs

    ASSERT_TRUE(queue->ProcessUntil([&] { return rec.ended; }, 20s));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"started", "tick", "terminated"}));
    EXPECT_GE(rec.ticks, 2);
    for (auto id : rec.threads) EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_EQ(rec.exitCode, 3);
    // and frees itself when its thread has ended
    EXPECT_TRUE(WaitUntilFreed(*queue, weak));
}

TEST_F(AsyncRun, StartFailureReachesTheOwnerThread) {
    auto p = Runner(s.tmp.file("dakota30.exe") + " -x");
    p->StartThread();
    ASSERT_TRUE(queue->ProcessUntil([&] { return rec.ended; }, 20s));
    EXPECT_EQ(rec.events, std::vector<std::string>{"starterror"});
    EXPECT_EQ(rec.threads.at(0), std::this_thread::get_id());
    EXPECT_EQ(rec.errorCode, ENOENT);
    EXPECT_TRUE(p->WaitForThread(10s));
    EXPECT_FALSE(p->Started());
    EXPECT_EQ(p->ReturnValue(), 0);
}

TEST_F(AsyncRun, StoppingAProcessThatIgnoresTheQuitRequestKillsItWithTheGivenCode) {
    s.Configure("RUN_MS=-1\nIGNORE_TERM=1\n");
    auto p = StandInRunner("");
    p->StartThread();
    ASSERT_TRUE(s.WaitForLog(*queue, "start \n"));
    auto t0 = std::chrono::steady_clock::now();
    p->StopProcess(99, 300);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 300ms);
    EXPECT_TRUE(p->ThreadFinished());
    EXPECT_TRUE(rec.ended);
    EXPECT_EQ(rec.exitCode, 99);
    EXPECT_EQ(p->ExitCode(), 99);
    EXPECT_EQ(std::count(rec.events.begin(), rec.events.end(), "terminated"), 1);
    EXPECT_FALSE(Contains(s.Log(), "ende"));   // it never ended by itself
}

TEST_F(AsyncRun, StoppingAProcessThatHonoursTheQuitRequestKeepsItsCode) {
    s.Configure("RUN_MS=-1\nTERM_EXIT=6\n");
    auto p = StandInRunner("-k");
    p->StartThread();
    ASSERT_TRUE(s.WaitForLog(*queue, "start -k"));
    p->StopProcess(99, 5000);
    EXPECT_TRUE(rec.ended);
    EXPECT_EQ(rec.exitCode, 6);
    EXPECT_TRUE(Contains(s.Log(), "ende 6"));
    // stopping again, or a runner that has ended, does nothing
    p->StopProcess(99, 5000);
    EXPECT_EQ(std::count(rec.events.begin(), rec.events.end(), "terminated"), 1);
}

TEST_F(AsyncRun, AStopAskedForInsideANotificationDoesNotDeadlock) {
    s.Configure("RUN_MS=-1\nIGNORE_TERM=1\n");
    auto p = StandInRunner("-k");
    bool asked = false;
    p->OnTick = [&](TExtProcess& self) {
        if (!asked && Contains(s.Log(), "start")) {
            asked = true;
            self.StopProcess(99, 100);   // the worker waits for this handler
        }
    };
    p->StartThread();
    ASSERT_TRUE(queue->ProcessUntil([&] { return rec.ended; }, 20s));
    EXPECT_EQ(rec.exitCode, 99);
}

TEST_F(AsyncRun, AShutDownQueueNeverBlocksTheWorker) {
    s.Configure("RUN_MS=200\n");
    auto p = StandInRunner("-k");
    queue->Shutdown();   // nobody will pump: the notifications are skipped
    p->StartThread();
    EXPECT_TRUE(p->WaitForThread(20s));
    EXPECT_TRUE(rec.events.empty());
    EXPECT_TRUE(p->Terminated());
    EXPECT_EQ(p->ExitCode(), 0);
}
