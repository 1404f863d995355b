#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

// A free TCP port on 127.0.0.1 (bound once by the kernel's choice, then released).
inline int PickFreePort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("no free port");
    ::close(s);
    return ntohs(a.sin_port);
}

// Debian's pyftpdlib serving a directory to the anonymous user on 127.0.0.1,
// on a port the test picks; stopped (or killed) by the test.
class FtpTestServer {
public:
    explicit FtpTestServer(const std::string& root, long writeLimit = 0) : port_(PickFreePort()) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        std::string script = std::string(BRENVO_SOURCE_DIR) + "/tests/mainwindow/ftp_server.py";
        std::string port = std::to_string(port_), limit = std::to_string(writeLimit);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 2);
            ::close(out[0]);
            ::close(out[1]);
            if (devnull > 2) ::close(devnull);
            ::execl("/usr/bin/python3", "python3", script.c_str(), root.c_str(), port.c_str(), limit.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        // wait for "READY" (the server listens from then on)
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (got.find("READY\n") == std::string::npos) {
            int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                 std::chrono::steady_clock::now())
                               .count());
            pollfd p{out[0], POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) <= 0) break;
            char buf[64];
            ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, size_t(n));
        }
        // the pipe stays open while the server runs: a late write to it must not kill the server
        pipe_ = out[0];
        if (got.find("READY\n") == std::string::npos) {
            Kill();
            throw std::runtime_error("FTP test server did not start");
        }
    }
    ~FtpTestServer() { Stop(); }
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    int port() const { return port_; }
    void Stop() { End(SIGTERM); }
    void Kill() { End(SIGKILL); }

private:
    void End(int sig) {
        if (pid_ <= 0) return;
        ::kill(pid_, sig);
        int status;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        if (pipe_ >= 0) ::close(pipe_);
        pipe_ = -1;
    }

    int port_;
    pid_t pid_ = -1;
    int pipe_ = -1;
};
