#include "U_Extprocess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"

extern char** environ;

namespace brenvo {

namespace {

// The runner whose worker the current thread is, if any.
thread_local const TExtProcess* tlsWorkerOf = nullptr;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Starts the program named by words[0]; 0 or the errno of the failure.
int Spawn(const std::vector<std::string>& words, const std::string& dir, bool newSession, pid_t& pid) {
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (const auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (int rc = posix_spawn_file_actions_init(&actions)) return rc;
    if (int rc = posix_spawnattr_init(&attr)) {
        posix_spawn_file_actions_destroy(&actions);
        return rc;
    }
    int rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (rc == 0 && !dir.empty()) rc = posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());

    sigset_t mask;
    sigemptyset(&mask);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s = 1; s < 32; ++s)
        if (s != SIGKILL && s != SIGSTOP) sigaddset(&defaults, s);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newSession) flags |= POSIX_SPAWN_SETSID;
    if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &mask);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &defaults);
    if (rc == 0) rc = posix_spawnattr_setflags(&attr, flags);
    if (rc == 0) {
        const bool hasSlash = words[0].find('/') != std::string::npos;
        rc = hasSlash ? posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ)
                      : posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

} // namespace

// ---------------------------------------------------------------- command line

std::vector<std::string> SplitCommandLine(std::string_view s) {
    std::vector<std::string> words;
    std::string cur;
    bool inWord = false;
    const size_t n = s.size();
    for (size_t i = 0; i < n; ++i) {
        char c = s[i];
        if (IsBlank(c)) {
            if (inWord) words.push_back(std::move(cur));
            cur.clear();
            inWord = false;
        } else if (c == '\'') {
            size_t end = s.find('\'', i + 1);
            if (end == std::string_view::npos)
                throw Error(Format("Befehlszeile: schließendes ' fehlt: %s", {s}));
            cur.append(s.substr(i + 1, end - i - 1));
            inWord = true;
            i = end;
        } else if (c == '"') {
            inWord = true;
            size_t j = i + 1;
            for (;; ++j) {
                if (j >= n) throw Error(Format("Befehlszeile: schließendes \" fehlt: %s", {s}));
                char d = s[j];
                if (d == '"') break;
                if (d == '\\' && j + 1 < n) {
                    char e = s[j + 1];
                    if (e == '\n') { ++j; continue; }
                    if (e == '\\' || e == '"' || e == '$' || e == '`') { cur += e; ++j; continue; }
                }
                cur += d;
            }
            i = j;
        } else if (c == '\\') {
            if (i + 1 >= n) throw Error(Format("Befehlszeile endet mit \\: %s", {s}));
            ++i;
            if (s[i] == '\n') continue;
            cur += s[i];
            inWord = true;
        } else {
            cur += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(cur));
    return words;
}

std::string QuoteCommandWord(std::string_view word) {
    bool plain = !word.empty();
    for (char c : word) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  std::strchr("_@%+=:,./-", c) != nullptr;
        if (!ok || c == '\0') { plain = false; break; }
    }
    if (plain) return std::string(word);
    std::string out = "'";
    for (char c : word) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    out += '\'';
    return out;
}

int ExitCodeFromWaitStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// ---------------------------------------------------------------- TExtProcess

TExtProcess::TExtProcess(std::string commandLine, bool async, std::string workDir,
                         std::shared_ptr<MessageQueue> queue)
    : commandLine_(std::move(commandLine)), workDir_(std::move(workDir)), async_(async),
      queue_(std::move(queue)) {
    if (!workDir_.empty() && !DirectoryExists(workDir_))
        throw Error(Format("%s.Create: Dir %s does not exist.", {"TExtProcess", workDir_}));
    if (async_) {
        if (!queue_) throw std::invalid_argument("TExtProcess: an asynchronous runner needs a message queue");
        wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd_ < 0) throw Error(Format("TExtProcess.Create: eventfd: %s", {std::strerror(errno)}));
    }
}

TExtProcess::~TExtProcess() {
    if (thread_.joinable()) {
        // The worker holds a reference until its very end, so it is either
        // done (join returns at once) or this is the worker itself.
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
    if (!reaped_ && pid_ > 0) {
        // A process left running after a time-out: reap it when it ends so
        // it does not linger as a zombie.
        pid_t pid = pid_;
        std::thread([pid] {
            int st;
            while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
        }).detach();
    }
    CloseHandles();
    if (wakeFd_ >= 0) close(wakeFd_);
}

bool TExtProcess::OnWorkerThread() const { return tlsWorkerOf == this; }

bool TExtProcess::Started() const { std::lock_guard l(mutex_); return started_; }
int TExtProcess::ErrorCode() const { std::lock_guard l(mutex_); return errorCode_; }
bool TExtProcess::Terminated() const { std::lock_guard l(mutex_); return terminated_; }
int TExtProcess::ExitCode() const { std::lock_guard l(mutex_); return exitCode_; }
pid_t TExtProcess::ProcessId() const { std::lock_guard l(mutex_); return pid_; }
bool TExtProcess::StopRequested() const { std::lock_guard l(mutex_); return stopRequested_; }
bool TExtProcess::ThreadFinished() const { std::lock_guard l(mutex_); return threadFinished_; }
int TExtProcess::ReturnValue() const { std::lock_guard l(mutex_); return returnValue_; }

void TExtProcess::Notify(const TProcessEvent& handler) {
    if (!handler) return;
    auto call = [this, &handler] {
        ++handlerDepth_;
        try {
            handler(*this);
        } catch (...) {
            // a failing handler does not stop the runner
        }
        --handlerDepth_;
    };
    if (async_ && OnWorkerThread()) {
        queue_->Synchronize(call);   // false after shut-down: the handler is skipped
    } else {
        call();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool TExtProcess::StartProcess() {
    {
        std::lock_guard l(mutex_);
        if (started_ || errorCode_ != 0) return started_;   // only one attempt
    }
    int err = 0;
    pid_t pid = 0;
    std::vector<std::string> words;
    try {
        words = SplitCommandLine(commandLine_);
    } catch (const Error&) {
        err = EINVAL;
    }
    if (err == 0 && words.empty()) err = EINVAL;
    if (err == 0) err = Spawn(words, workDir_, NewConsole, pid);
    if (err == 0) {
        reaped_ = false;
        pidfd_ = OpenPidFd(pid);   // -1 on old kernels: the waits then poll
    }
    {
        std::lock_guard l(mutex_);
        if (err == 0) {
            pid_ = pid;
            started_ = true;
        } else {
            errorCode_ = err;
        }
    }
    Notify(err == 0 ? OnStarted : OnStartError);
    return err == 0;
}

void TExtProcess::RecordExit(int status) {
    reaped_ = true;
    std::lock_guard l(mutex_);
    terminated_ = true;
    exitCode_ = ExitCodeFromWaitStatus(status);
}

TExtProcess::WaitResult TExtProcess::WaitForExit(int64_t timeoutMs, bool wakeable) {
    using namespace std::chrono;
    if (reaped_) return WaitResult::Ended;
    const bool infinite = timeoutMs < 0;
    const auto deadline = steady_clock::now() + milliseconds(infinite ? 0 : timeoutMs);
    pid_t pid;
    {
        std::lock_guard l(mutex_);
        pid = pid_;
    }
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            RecordExit(status);
            return WaitResult::Ended;
        }
        if (r < 0) {
            if (errno == EINTR) continue;
            return WaitResult::Failed;
        }
        int pollMs = -1;
        if (!infinite) {
            auto left = ceil<milliseconds>(deadline - steady_clock::now()).count();
            if (left <= 0) return WaitResult::Timeout;
            pollMs = static_cast<int>(std::min<int64_t>(left, 1000 * 60 * 60));
        }
        // Without a pid file descriptor the end of the process cannot be
        // waited for, only polled.
        if (pidfd_ < 0 && (pollMs < 0 || pollMs > 10)) pollMs = 10;
        pollfd fds[2];
        nfds_t nfds = 0;
        if (pidfd_ >= 0) fds[nfds++] = pollfd{pidfd_, POLLIN, 0};
        int wakeIndex = -1;
        if (wakeable && wakeFd_ >= 0) {
            wakeIndex = static_cast<int>(nfds);
            fds[nfds++] = pollfd{wakeFd_, POLLIN, 0};
        }
        int rc = poll(fds, nfds, pollMs);
        if (rc < 0 && errno != EINTR) return WaitResult::Failed;
        if (rc > 0 && wakeIndex >= 0 && (fds[wakeIndex].revents & POLLIN)) {
            uint64_t v;
            while (read(wakeFd_, &v, sizeof v) > 0) {}
            return WaitResult::Woken;
        }
    }
}

void TExtProcess::CloseHandles() {
    if (pidfd_ >= 0) {
        close(pidfd_);
        pidfd_ = -1;
    }
}

void TExtProcess::RunStopSequence(int code, int waitMs) {
    pid_t pid;
    {
        std::lock_guard l(mutex_);
        stopRequested_ = true;
        stopCode_ = code;
        stopWaitMs_ = waitMs;
        pid = pid_;
    }
    if (!reaped_) {
        // The quit request; a program that handles it ends with its own code.
        kill(pid, SIGTERM);
        WaitResult r = WaitForExit(waitMs, false);
        if (r != WaitResult::Ended) {
            kill(pid, SIGKILL);
            int status;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
            reaped_ = true;
            std::lock_guard l(mutex_);
            terminated_ = true;
            exitCode_ = code;
        }
    }
    Notify(OnTerminated);
    CloseHandles();
}

void TExtProcess::StopProcess(int code, int waitMs) {
    if (!async_ || OnWorkerThread()) {
        if (!Started() || reaped_) return;
        RunStopSequence(code, waitMs);
        return;
    }
    {
        std::lock_guard l(mutex_);
        if (!threadStarted_ || threadFinished_) return;
        stopRequested_ = true;
        stopCode_ = code;
        stopWaitMs_ = waitMs;
    }
    uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) < 0) {
        // the counter cannot overflow here; the worker sees the request at its next poll anyway
    }
    // Inside one of our own notifications the worker waits for this very
    // handler; it carries out the request once the handler has returned.
    if (handlerDepth_ > 0 && queue_->IsOwnerThread()) return;
    WaitForThread(std::chrono::milliseconds(static_cast<int64_t>(waitMs) + 5000));
}

void TExtProcess::StartThread() {
    if (!async_) throw std::logic_error("TExtProcess::StartThread on a synchronous runner");
    std::shared_ptr<TExtProcess> self = weak_from_this().lock();
    if (!self) throw std::logic_error("TExtProcess::StartThread needs a runner held by a shared_ptr");
    {
        std::lock_guard l(mutex_);
        if (threadStarted_) return;
        threadStarted_ = true;
    }
    try {
        thread_ = std::thread([self]() mutable {
            self->ThreadMain();
            self.reset();   // may free the runner, on this thread
        });
    } catch (...) {
        std::lock_guard l(mutex_);
        threadStarted_ = false;
        throw;
    }
}

void TExtProcess::ThreadMain() {
    tlsWorkerOf = this;
    int rv = 0;
    try {
        if (StartProcess()) {
            for (;;) {
                Notify(OnTick);
                WaitResult r = WaitForExit(100, true);
                if (r == WaitResult::Ended) {
                    Notify(OnTerminated);
                    break;
                }
                if (r == WaitResult::Failed) {
                    // The process can no longer be watched (someone else
                    // reaped it). Report an end with an unknown code rather
                    // than leave the owner waiting for ever.
                    {
                        std::lock_guard l(mutex_);
                        terminated_ = true;
                        exitCode_ = -1;
                    }
                    reaped_ = true;
                    Notify(OnTerminated);
                    break;
                }
                int code, waitMs;
                bool stop;
                {
                    std::lock_guard l(mutex_);
                    stop = stopRequested_;
                    code = stopCode_;
                    waitMs = stopWaitMs_;
                }
                if (stop) {
                    RunStopSequence(code, waitMs);
                    break;
                }
            }
        }
    } catch (...) {
        rv = -1;
    }
    CloseHandles();
    {
        std::lock_guard l(mutex_);
        returnValue_ = rv;
        threadFinished_ = true;
    }
    finishedCv_.notify_all();
    queue_->Wake();
    tlsWorkerOf = nullptr;
}

bool TExtProcess::WaitForThread(std::chrono::milliseconds timeout) {
    {
        std::lock_guard l(mutex_);
        if (!threadStarted_) return true;
    }
    auto finished = [this] {
        std::lock_guard l(mutex_);
        return threadFinished_;
    };
    if (queue_ && queue_->IsOwnerThread()) return queue_->ProcessUntil(finished, timeout);
    std::unique_lock l(mutex_);
    if (timeout == MessageQueue::Infinite) {
        finishedCv_.wait(l, [this] { return threadFinished_; });
        return true;
    }
    return finishedCv_.wait_for(l, timeout, [this] { return threadFinished_; });
}

int TExtProcess::RunAndWait(int64_t limitMs, bool stopOnTimeout) {
    if (async_) throw Error("Only Use In Non-Threaded Mode");
    if (!StartProcess()) throw Error("Process could not be started");
    // A Linux process has no "ready for input" state to wait for; the wait
    // is for its end.
    switch (WaitForExit(limitMs, false)) {
    case WaitResult::Ended:
        Notify(OnTerminated);
        CloseHandles();
        break;
    case WaitResult::Failed:
        CloseHandles();
        throw Error("Wait abandoned");
    case WaitResult::Timeout:
    case WaitResult::Woken:
        if (stopOnTimeout) {
            int code, waitMs;
            {
                std::lock_guard l(mutex_);
                code = stopCode_;
                waitMs = stopWaitMs_;
            }
            RunStopSequence(code, waitMs);
            std::lock_guard l(mutex_);
            exitCode_ = TimeoutExitCode;
        }
        break;
    }
    return ExitCode();
}

} // namespace brenvo
