#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <sys/types.h>

#include "lib/base/MessageQueue.h"

namespace brenvo {

class TExtProcess;
// A notification of a runner; the handler's owner is what the function captures.
using TProcessEvent = std::function<void(TExtProcess& sender)>;

// Splits a command line into program and arguments as a POSIX shell splits
// words, without running a shell: blanks, tabs and line ends separate words;
// 'single quotes' keep everything literally; "double quotes" keep everything
// but a backslash before \ " $ ` or a line end; outside quotes a backslash
// keeps the next character (a backslash before a line end removes both).
// No expansion of variables, globs or tildes. Throws Error for an unclosed
// quote or a trailing backslash.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
// The word quoted so that SplitCommandLine gives it back unchanged (as it is
// when it needs no quoting).
std::string QuoteCommandWord(std::string_view word);

// Exit codes as the runner reports them:
//  - a normal exit gives its code, 0..255 (the system keeps only the low
//    eight bits of what a program passes to exit());
//  - a process ended by signal N gives 128 + N, as a shell reports it;
//  - a process the stop sequence had to kill gives the code the stop asked for
//    (for DAKOTA 99), and a synchronous run stopped at its time limit 400;
//  - while the process runs, ExitCode() is StillActive (259), which no ended
//    process can give.
int ExitCodeFromWaitStatus(int status);

// Runs one external process, either on a worker thread of its own that starts
// and polls the process and hands its notifications to the owner thread of a
// MessageQueue (asynchronous), or on the caller's thread (synchronous).
//
// Asynchronous runners live in a shared_ptr: StartThread hands the worker a
// reference, so the runner lives until its thread ends and is freed by
// whoever lets go of it last. Their handlers run on the queue's owner thread
// while the worker waits for them. Handlers of a synchronous runner run on the
// caller's thread. A missing handler is skipped, an exception from a handler
// is swallowed, and the runner pauses 1 ms after each notification.
//
// Set the handlers and options before the process is started; the state
// getters may be called from any thread at any time.
class TExtProcess : public std::enable_shared_from_this<TExtProcess> {
public:
    static constexpr int StillActive = 259;
    static constexpr int64_t Infinite = -1;
    // Exit code of a synchronous run stopped at its time limit.
    static constexpr int TimeoutExitCode = 400;

    // Fails with "TExtProcess.Create: Dir %s does not exist." when workDir is
    // given and missing. Asynchronous runners need the queue of the thread
    // that takes their notifications.
    TExtProcess(std::string commandLine, bool async, std::string workDir = {},
                std::shared_ptr<MessageQueue> queue = nullptr);
    ~TExtProcess();
    TExtProcess(const TExtProcess&) = delete;
    TExtProcess& operator=(const TExtProcess&) = delete;

    TProcessEvent OnStarted;
    TProcessEvent OnTerminated;
    TProcessEvent OnStartError;
    TProcessEvent OnTick;
    // The process gets a session of its own, away from the program's terminal
    // (where Windows would give it a new console). Never for DAKOTA.
    bool NewConsole = false;

    const std::string& CommandLine() const { return commandLine_; }
    const std::string& WorkDir() const { return workDir_; }
    bool Async() const { return async_; }

    // Creates the process from the command line alone: the first word names
    // the program (searched in PATH when it holds no '/'). The child inherits
    // only standard input, output and error, and gets default signal handling.
    // Success: Started, error code 0, OnStarted. Failure: the error number
    // (errno) is kept and OnStartError is notified. On an asynchronous runner
    // this is the worker's first step; call it directly only on a synchronous one.
    bool StartProcess();

    // Synchronous runners only (else fails with "Only Use In Non-Threaded
    // Mode"): starts the process ("Process could not be started" when that
    // fails) and waits for its end up to limitMs (Infinite: no limit). Ended:
    // the exit code is read and OnTerminated notified. Time-out with
    // stopOnTimeout: the stop sequence runs and the exit code becomes 400;
    // without: the process is left running. A failing wait ends with
    // "Wait abandoned". Returns ExitCode().
    int RunAndWait(int64_t limitMs, bool stopOnTimeout);

    // Asks the process to end (SIGTERM), waits up to waitMs and kills it
    // (SIGKILL) when it still runs; its exit code is then `code`. Notifies
    // OnTerminated. On an asynchronous runner the request goes to the worker,
    // which runs the sequence; the caller waits for the worker to end and, on
    // the queue's owner thread, pumps the queue meanwhile. Called from inside
    // one of this runner's own notifications it only leaves the request.
    // Does nothing when the process has already ended or never started.
    void StopProcess(int code, int waitMs);

    // Asynchronous runners: starts the worker thread (once). The runner must
    // be held by a shared_ptr.
    void StartThread();
    // Waits until the worker thread has finished its work (it may still be
    // releasing its reference), pumping the queue when called on its owner
    // thread; false on time-out. True at once for a runner without a thread.
    bool WaitForThread(std::chrono::milliseconds timeout);

    // State, readable from any thread.
    bool Started() const;
    int ErrorCode() const;          // errno of a failed start, else 0
    bool Terminated() const;        // the process has ended
    int ExitCode() const;           // StillActive until it has ended
    pid_t ProcessId() const;        // 0 before the start
    bool StopRequested() const;
    bool ThreadFinished() const;
    int ReturnValue() const;        // the worker's: 0, or -1 after an internal error

private:
    enum class WaitResult { Ended, Timeout, Woken, Failed };

    void Notify(const TProcessEvent& handler);
    void ThreadMain();
    WaitResult WaitForExit(int64_t timeoutMs, bool wakeable);
    void RecordExit(int status);
    void RunStopSequence(int code, int waitMs);
    void CloseHandles();
    bool OnWorkerThread() const;

    const std::string commandLine_;
    const std::string workDir_;
    const bool async_;
    const std::shared_ptr<MessageQueue> queue_;

    // Used only by the thread that runs the process (the worker, or the
    // caller of a synchronous runner).
    int pidfd_ = -1;
    bool reaped_ = true;
    int wakeFd_ = -1;   // eventfd that wakes the worker's poll

    mutable std::mutex mutex_;
    std::condition_variable finishedCv_;
    pid_t pid_ = 0;
    bool started_ = false;
    int errorCode_ = 0;
    bool terminated_ = false;
    int exitCode_ = StillActive;
    bool stopRequested_ = false;
    int stopCode_ = TimeoutExitCode;
    int stopWaitMs_ = 1000;
    bool threadStarted_ = false;
    bool threadFinished_ = false;
    int returnValue_ = 0;
    std::thread thread_;
    // Handlers of this runner running right now (on the queue's thread, or
    // the caller's for a synchronous runner).
    std::atomic<int> handlerDepth_{0};
};

} // namespace brenvo
