#pragma once

// Runs tests/mail/smtp_server.py (Debian's python3-aiosmtpd) on 127.0.0.1
// and reads what it received.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/TempDir.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

extern char** environ;

// A port on 127.0.0.1 that nobody listens on (bound once by the system, then freed).
inline int FreeLoopbackPort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("no free port");
    close(s);
    return ntohs(a.sin_port);
}

struct ReceivedPart {
    std::string contentType, disposition, fileName, charset, payload;
};

struct ReceivedMail {
    std::string from;
    std::vector<std::string> rcpt;
    std::string peer;
    bool tls = false;                // came through an encrypted connection
    std::vector<std::string> auth;   // mechanism, login, password; empty without AUTH
    std::vector<std::pair<std::string, std::string>> headers;
    std::string date;                // the Date header as ISO 8601
    std::vector<ReceivedPart> parts;
    std::vector<std::string> defects;
    std::string raw;

    int HeaderCount(const std::string& name) const {
        int n = 0;
        for (const auto& h : headers) n += brenvo::SameText(h.first, name);
        return n;
    }
    std::string Header(const std::string& name) const {
        for (const auto& h : headers)
            if (brenvo::SameText(h.first, name)) return h.second;
        return "";
    }
};

struct SmtpServerOptions {
    int port = 0;   // 0: a free one
    std::string user, password;
    std::vector<std::string> refuse;
    bool mute = false;
    bool hangData = false;
    // TLS: the server's certificate and key (PEM files); STARTTLS offered,
    // or required before any mail, or TLS from the start.
    std::string cert, key;
    bool starttls = false, requireStarttls = false, smtps = false;
};

class SmtpTestServer {
public:
    explicit SmtpTestServer(SmtpServerOptions opt = {}) : opt_(std::move(opt)) {
        port_ = opt_.port ? opt_.port : FreeLoopbackPort();
        std::vector<std::string> args = {"/usr/bin/python3", std::string(BRENVO_SOURCE_DIR) + "/tests/mail/smtp_server.py",
                                         "--port", std::to_string(port_), "--dir", dir_.path()};
        if (!opt_.user.empty()) {
            args.insert(args.end(), {"--user", opt_.user, "--password", opt_.password});
        }
        for (const auto& r : opt_.refuse) args.insert(args.end(), {"--refuse", r});
        if (opt_.mute) args.push_back("--mute");
        if (opt_.hangData) args.push_back("--hang-data");
        if (!opt_.cert.empty()) args.insert(args.end(), {"--cert", opt_.cert, "--key", opt_.key});
        if (opt_.starttls) args.push_back("--starttls");
        if (opt_.requireStarttls) args.push_back("--require-starttls");
        if (opt_.smtps) args.push_back("--smtps");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start the SMTP test server");
        // Wait for the server to say it listens (or to die).
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!brenvo::FileExists(dir_.file("ready"))) {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = -1;
                throw std::runtime_error("the SMTP test server ended at start");
            }
            if (std::chrono::steady_clock::now() > until) {
                Stop();
                throw std::runtime_error("the SMTP test server does not start");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~SmtpTestServer() { Stop(); }
    SmtpTestServer(const SmtpTestServer&) = delete;
    SmtpTestServer& operator=(const SmtpTestServer&) = delete;

    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int st = 0;
        waitpid(pid_, &st, 0);
        pid_ = -1;
    }

    int port() const { return port_; }

    std::vector<ReceivedMail> Messages() const {
        std::vector<ReceivedMail> out;
        for (int n = 1; brenvo::FileExists(dir_.file("msg-" + std::to_string(n) + ".txt")); ++n) {
            ReceivedMail m;
            const std::string base = "msg-" + std::to_string(n);
            m.raw = brenvo::ReadFileBytes(dir_.file(base + ".eml"));
            for (const auto& f : Lines(base + ".txt")) {
                const std::string& k = f[0];
                if (k == "from") m.from = f.at(1);
                else if (k == "rcpt") m.rcpt.push_back(f.at(1));
                else if (k == "peer") m.peer = f.at(1);
                else if (k == "tls") m.tls = f.at(1) == "yes";
                else if (k == "auth") m.auth.assign(f.begin() + 1, f.end());
                else if (k == "header") m.headers.emplace_back(f.at(1), f.at(2));
                else if (k == "date") m.date = f.at(1);
                else if (k == "defect") m.defects.push_back(f.at(1));
                else if (k == "part")
                    m.parts.push_back({f.at(1), f.at(2), f.at(3), f.at(4),
                                       brenvo::ReadFileBytes(dir_.file(f.at(5)))});
            }
            out.push_back(std::move(m));
        }
        return out;
    }

    // Client end of each accepted connection.
    std::vector<std::string> Connections() const {
        std::vector<std::string> out;
        for (const auto& f : Lines("connections.txt")) out.push_back(f[0]);
        return out;
    }

    // Mechanism, login, password, "ok"/"refused" and "tls"/"plain" of each AUTH attempt.
    std::vector<std::vector<std::string>> AuthAttempts() const { return Lines("auth.txt"); }

private:
    static std::string Unescape(const std::string& s) {
        std::string out;
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] != '\\' || i + 1 == s.size()) {
                out += s[i];
                continue;
            }
            char c = s[++i];
            out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        }
        return out;
    }

    std::vector<std::vector<std::string>> Lines(const std::string& name) const {
        std::vector<std::vector<std::string>> out;
        if (!brenvo::FileExists(dir_.file(name))) return out;
        std::ifstream in(dir_.file(name), std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> fields;
            for (const auto& f : brenvo::Split(line, '\t')) fields.push_back(Unescape(f));
            out.push_back(std::move(fields));
        }
        return out;
    }

    SmtpServerOptions opt_;
    TempDir dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};
