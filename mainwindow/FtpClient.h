#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace brenvo {

// How to reach an FTP server. The defaults are those of the update server:
// anonymous log-in without password, port 21, active mode.
struct FtpOptions {
    std::string host;
    int port = 21;
    std::string user = "anonymous";
    std::string password;
    bool passive = false;              // active mode (PORT/EPRT) unless set
    long connectTimeoutMs = 15000;     // connecting and logging in
    long responseTimeoutMs = 30000;    // waiting for any reply of the server
    long stallTimeoutSec = 30;         // a transfer that receives nothing for this long fails
};

// An FTP session on libcurl: one control connection, opened by Connect and
// kept for the size query and the download until Disconnect. Every failure
// throws Error with a German text (the server's or libcurl's detail in
// brackets). Not for use from several threads at once, except Cancel.
class FtpClient {
public:
    explicit FtpClient(FtpOptions options);
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    const FtpOptions& Options() const { return options_; }

    // Connects and logs in.
    void Connect();
    bool Connected() const { return curl_ != nullptr; }
    // The size the server reports for a file (a path relative to the log-in
    // directory, "ftp-pub/updateData.zip"); -1 when it reports none, for
    // instance because there is no such file.
    int64_t Size(const std::string& remotePath);

    // Receives a file into localFile, replacing it. The data are written
    // beside localFile and renamed over it only when the transfer is complete
    // (and, with expectedSize >= 0, has exactly that size); after a failure
    // or a cancel the previous localFile is still there. progress receives
    // the number of bytes received so far.
    using Progress = std::function<void(int64_t received)>;
    void Get(const std::string& remotePath, const std::string& localFile, int64_t expectedSize,
             const Progress& progress);

    // Ends the running (or the next) operation with the Error "Abgebrochen".
    // May be called from any thread, or from the progress callback.
    void Cancel() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_; }
    // Closes the session (QUIT). Not from inside a running operation.
    void Disconnect();

    // Called over and over while an operation runs (also while it waits for
    // the server), on the calling thread: a window handles its pending
    // events here, so that a cancel button works.
    std::function<void()> OnWait;

private:
    struct Transfer;
    std::string Url(const std::string& remotePath) const;
    void Prepare();
    // Runs the prepared request; false only for a missing file when allowed.
    bool Perform(const std::string& what, Transfer* transfer, bool missingFileIsNoError = false);
    static int XferInfo(void* self, int64_t dltotal, int64_t dlnow, int64_t ultotal, int64_t ulnow);

    FtpOptions options_;
    void* curl_ = nullptr;  // CURL*
    std::atomic<bool> cancelled_{false};
    char errorBuffer_[256] = {};
    std::exception_ptr waitError_;
};

} // namespace brenvo
