#pragma once

#include <memory>
#include <string>

#include "dakota/U_Extprocess.h"
#include "lib/base/MessageQueue.h"

namespace brenvo {

// What the program knows about DAKOTA: whether it is installed and was ready
// at the last status query, and its directories and files from the settings
// DAKOTA_DATADIR, DAKOTA_INSTDIR, DAKOTA_EXPDIR, DAKOTA_PROTFILE and
// DAKOTA_ANN_FILE.
struct TDakotaInfo {
    bool Installed = false;
    bool Ready = false;
    std::string DataDir;    // hand-over directory
    std::string InstDir;    // installation directory holding "dakota30.exe"
    std::string ExpDir;     // output directory
    std::string ProtFile;   // protocol: database file or ODBC data source name
    std::string AnnFile;    // acceptance-office list
};

// The four notifications every asynchronous DAKOTA start hands to its runner.
// They run on the thread that owns the message queue.
struct TDakotaNotifications {
    TProcessEvent OnStartError;
    TProcessEvent OnTerminated;
    TProcessEvent OnTick;
    TProcessEvent OnStarted;
};

struct TDakotaResult {
    int Code = -1;
    std::string Text;
};

struct TDakotaFileCount {
    int Input = 0;    // "*.AUF" in DataDir and its subdirectories
    int Output = 0;   // "*.AUF" in ExpDir and its subdirectories
};

// The text for a DAKOTA exit code.
std::string DakotaStatusText(int code);

// Counts the files matching "*.AUF" in dir and all its subdirectories; 0 when
// the directory does not exist.
int CountAufFiles(const std::string& dir);

// DAKOTA's state and its one runner, owned by the main window's controller
// for the whole program run. Everything here is called on the thread that
// owns the message queue, which is also where the notifications arrive.
class TDakota {
public:
    static constexpr const char* ProgramName = "dakota30.exe";
    static constexpr int StopExitCode = 99;
    static constexpr int StopWaitMs = 1000;

    explicit TDakota(std::shared_ptr<MessageQueue> queue);
    // Stops a DAKOTA that still runs, without notifying anyone.
    ~TDakota();
    TDakota(const TDakota&) = delete;
    TDakota& operator=(const TDakota&) = delete;

    TDakotaInfo Info;

    // InstDir joined with "dakota30.exe"; "" when InstDir is empty.
    std::string ProgramPath() const;
    // Whether the program file exists; sets Info.Installed.
    bool IsDakotaInstalled();
    // Runs "-s" and waits for its end (blocking this thread); sets
    // Info.Ready to (code = 0) and returns the code.
    int QueryDakotaStatus();
    // The start-up check: false with "Dakota nicht installiert.", false with
    // "Dakota installiert aber nicht bereit (Dakota: %d - %s)", or true with
    // "Dakota installiert und bereit".
    bool CheckDakotaReady(std::string& text);
    // Starts DAKOTA with the switch ("" for the plain start). Asynchronous: the
    // new runner replaces the DAKOTA runner, code 0, text " started "; whether
    // DAKOTA really started arrives as OnStarted or OnStartError. Waiting: the
    // exit code and "Dakota: (%d - %s)".
    TDakotaResult RunDakota(const std::string& sw, bool async);
    // The plain start, asynchronous; true when it was set going.
    bool StartDakota(std::string& text);
    // "-k", asynchronous; always true.
    bool StartDakotaProtocol(std::string& text);
    // "-x", asynchronous; fileCount gets the number of "*.AUF" files in
    // DataDir (subdirectories included) before the start.
    bool StartDakotaProcessing(std::string& text, int& fileCount);
    // No runner: -1. A runner whose process was created: its exit code
    // (259 while it runs) and its text. One whose process could not be
    // created: the error number (errno) and "Startfehler".
    TDakotaResult GetDakotaResult() const;
    // Ends the DAKOTA process of the runner (quit request, killed with exit
    // code 99 after 1000 ms) and lets go of the runner. The runner's
    // OnTerminated still arrives, while this call pumps the queue. Errors are
    // ignored.
    void StopDakota();
    // Lets go of the DAKOTA runner (called from the end notification; the
    // start-failure notification does it by itself once the handler returned).
    void ForgetDakotaProcess();
    void SetDakotaNotifications(TDakotaNotifications notifications);
    TDakotaFileCount CountDakotaFiles() const;

    // The current DAKOTA runner (null when none), e.g. to wait for it.
    std::shared_ptr<TExtProcess> DakotaProcess() const { return runner_; }

private:
    // Shared with the handlers handed to the runners, which may outlive
    // this object by a moment.
    struct Hub {
        bool alive = true;
        std::shared_ptr<TExtProcess> runner;
    };

    std::string CommandLine(const std::string& sw) const;

    std::shared_ptr<MessageQueue> queue_;
    std::shared_ptr<Hub> hub_;
    std::shared_ptr<TExtProcess>& runner_ = hub_->runner;
    TDakotaNotifications notifications_;
};

} // namespace brenvo
