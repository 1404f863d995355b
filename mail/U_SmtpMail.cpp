#include "mail/U_SmtpMail.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "lib/base/Error.h"
#include "mail/MailMessage.h"

namespace brenvo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxReplySize = 64 * 1024;   // a server sending more in one reply is broken

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

void CurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Reply {
    int code = 0;
    std::string text;   // every line of the reply, joined by blanks
};

// The server closed the connection (as opposed to any other failure).
class ConnectionClosed : public Error {
public:
    using Error::Error;
};

// The SMTP address literal of the local end of a socket: "[192.0.2.1]".
std::string LocalAddressLiteral(curl_socket_t sock) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    char buf[INET6_ADDRSTRLEN] = {};
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&ss), &len) == 0) {
        if (ss.ss_family == AF_INET &&
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&ss)->sin_addr, buf, sizeof buf))
            return std::string("[") + buf + "]";
        if (ss.ss_family == AF_INET6 &&
            inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&ss)->sin6_addr, buf, sizeof buf))
            return std::string("[IPv6:") + buf + "]";
    }
    return "[127.0.0.1]";
}

// Message data as it travels after DATA: CR LF line ends (lone CR or LF
// become CR LF), a dot doubled at the start of a line, a line end at the
// end, followed by the terminating ".".
std::string DataForTransfer(const std::string& data) {
    std::string out;
    out.reserve(data.size() + data.size() / 64 + 8);
    bool lineStart = true;
    for (size_t i = 0; i < data.size(); ++i) {
        char c = data[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
            out += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = false;
    }
    if (!lineStart) out += "\r\n";
    out += ".\r\n";
    return out;
}

bool IsServerNameUsable(const std::string& host) {
    for (unsigned char c : host)
        if (c <= 0x20 || c >= 0x7F || c == '/' || c == '@' || c == '?' || c == '#' || c == '\\')
            return false;
    return true;
}

} // namespace

struct SmtpSession::Impl {
    std::string host;
    int port = 0;
    std::string user, password;
    int stepTimeoutMs = kMailStepTimeoutMs;

    std::unique_ptr<CURL, CurlDeleter> curl;
    curl_socket_t sock = CURL_SOCKET_BAD;
    std::string inbuf;

    bool Connected() const { return curl != nullptr; }

    void Drop() {
        curl.reset();
        sock = CURL_SOCKET_BAD;
        inbuf.clear();
    }

    [[noreturn]] void Fail(const std::string& message) {
        Drop();
        throw Error(message);
    }

    Clock::time_point StepDeadline() const {
        return Clock::now() + std::chrono::milliseconds(stepTimeoutMs);
    }

    // Waits until the socket is ready for events; false when the deadline passed.
    bool Wait(short events, Clock::time_point deadline) const {
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd p{sock, events, 0};
            int n = poll(&p, 1, int(left.count()));
            if (n > 0) return true;
            if (n == 0) return false;
            if (errno != EINTR) return true;   // let the following call report the fault
        }
    }

    void SendAll(std::string_view bytes) {
        if (!Connected()) throw Error("Keine Verbindung zum Server.");
        auto deadline = StepDeadline();
        size_t done = 0;
        while (done < bytes.size()) {
            size_t n = 0;
            CURLcode rc = curl_easy_send(curl.get(), bytes.data() + done, bytes.size() - done, &n);
            if (rc == CURLE_AGAIN) {
                if (!Wait(POLLOUT, deadline))
                    Fail("Zeitüberschreitung beim Senden an den Server (" + std::to_string(stepTimeoutMs) +
                         " ms).");
                continue;
            }
            if (rc != CURLE_OK) Fail(std::string("Fehler beim Senden an den Server: ") + curl_easy_strerror(rc));
            done += n;
            deadline = StepDeadline();   // the limit applies to a standstill, not to the whole data
        }
    }

    std::string ReadLine(Clock::time_point deadline) {
        for (;;) {
            size_t nl = inbuf.find('\n');
            if (nl != std::string::npos) {
                std::string line = inbuf.substr(0, nl);
                inbuf.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            if (inbuf.size() > kMaxReplySize) Fail("Ungültige Antwort des Servers.");
            if (!Wait(POLLIN, deadline))
                Fail("Zeitüberschreitung: keine Antwort des Servers (" + std::to_string(stepTimeoutMs) + " ms).");
            char buf[4096];
            size_t n = 0;
            CURLcode rc = curl_easy_recv(curl.get(), buf, sizeof buf, &n);
            if (rc == CURLE_AGAIN) continue;
            if (rc != CURLE_OK) Fail(std::string("Fehler beim Lesen vom Server: ") + curl_easy_strerror(rc));
            if (n == 0) {
                Drop();
                throw ConnectionClosed("Der Server hat die Verbindung beendet.");
            }
            inbuf.append(buf, n);
        }
    }

    // One reply, possibly of several lines ("250-...", "250 ..."). A 421 reply
    // means the server is closing the connection; the session closes too.
    Reply ReadReply() {
        if (!Connected()) throw Error("Keine Verbindung zum Server.");
        auto deadline = StepDeadline();
        Reply r;
        size_t total = 0;
        for (;;) {
            std::string line = ReadLine(deadline);
            total += line.size();
            bool ok = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                      std::isdigit(static_cast<unsigned char>(line[1])) &&
                      std::isdigit(static_cast<unsigned char>(line[2])) &&
                      (line.size() == 3 || line[3] == ' ' || line[3] == '-');
            if (!ok || total > kMaxReplySize) Fail("Ungültige Antwort des Servers: " + line.substr(0, 200));
            int code = std::stoi(line.substr(0, 3));
            if (r.code != 0 && code != r.code) Fail("Ungültige Antwort des Servers: " + line.substr(0, 200));
            r.code = code;
            if (!r.text.empty()) r.text += ' ';
            r.text += line;
            if (line.size() == 3 || line[3] == ' ') break;
        }
        if (r.code == 421) Drop();
        return r;
    }

    Reply Command(const std::string& line) {
        SendAll(line + "\r\n");
        return ReadReply();
    }

    // A command of a mail transaction was refused: the transaction is reset
    // and the session stays for the next message.
    [[noreturn]] void Refused(const std::string& message) {
        if (Connected()) {
            try {
                if (Command("RSET").code != 250) Drop();
            } catch (const Error&) {
                // the session is closed already; the refusal is what counts
            }
        }
        throw Error(message);
    }

    void Open(int connectTimeoutMs) {
        if (host.empty()) throw Error("Kein Mailserver angegeben.");
        if (!IsServerNameUsable(host)) throw Error("Ungültiger Servername \"" + host + "\".");
        if (port < 1 || port > 65535) throw Error("Ungültige Portnummer " + std::to_string(port) + ".");

        CurlGlobalInit();
        curl.reset(curl_easy_init());
        if (!curl) throw Error("Die Verbindung kann nicht angelegt werden.");
        CURL* c = curl.get();
        // CONNECT_ONLY with an http URL makes libcurl stop after the TCP
        // connection; it sends nothing. Proxies from the environment are not used.
        std::string url = "http://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
                          ":" + std::to_string(port) + "/";
        char errbuf[CURL_ERROR_SIZE] = {};
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L);
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(connectTimeoutMs > 0 ? connectTimeoutMs : 1));
        curl_easy_setopt(c, CURLOPT_PROXY, "");
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_TCP_NODELAY, 1L);
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
        CURLcode rc = curl_easy_perform(c);
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
        if (rc != CURLE_OK) {
            std::string detail = errbuf[0] ? errbuf : curl_easy_strerror(rc);
            std::string what;
            switch (rc) {
            case CURLE_COULDNT_RESOLVE_HOST: what = "Der Servername ist unbekannt."; break;
            case CURLE_COULDNT_CONNECT: what = "Der Server nimmt keine Verbindung an."; break;
            case CURLE_OPERATION_TIMEDOUT:
                what = "Zeitüberschreitung beim Verbindungsaufbau (" + std::to_string(connectTimeoutMs) + " ms).";
                break;
            default: what = "Verbindungsfehler."; break;
            }
            Fail(what + " (" + detail + ")");
        }
        curl_socket_t s = CURL_SOCKET_BAD;
        if (curl_easy_getinfo(c, CURLINFO_ACTIVESOCKET, &s) != CURLE_OK || s == CURL_SOCKET_BAD)
            Fail("Die Verbindung zum Server ist nicht verfügbar.");
        sock = s;

        Reply r = ReadReply();
        if (r.code != 220) Fail("Der Server verweigert die Verbindung: " + r.text);
        const std::string me = LocalAddressLiteral(sock);
        r = Command("EHLO " + me);
        if (r.code != 250 && Connected()) r = Command("HELO " + me);
        if (r.code != 250) Fail("Der Server verweigert die Begrüßung: " + r.text);
        if (!user.empty()) {
            r = Command("AUTH LOGIN");
            if (r.code == 334) r = Command(Base64Encode(user));
            if (r.code == 334) r = Command(Base64Encode(password));
            if (r.code != 235) Fail("Anmeldung abgelehnt: " + r.text);
        }
    }

    bool IsOpen() {
        if (!Connected()) return false;
        if (!inbuf.empty()) {   // something the server sent unasked: it is giving up
            Drop();
            return false;
        }
        pollfd p{sock, POLLIN, 0};
        int n = poll(&p, 1, 0);
        if (n <= 0) return true;
        // Readable while no reply is due: the server closed the connection
        // or announced that it does (421).
        Drop();
        return false;
    }

    void SendMail(const std::string& from, const std::vector<std::string>& recipients,
                  const std::string& data) {
        if (!IsOpen()) throw Error("Keine Verbindung zum Server.");
        if (!IsValidMailAddress(from)) throw Error("Ungültige Absenderadresse: \"" + from + "\"");
        if (recipients.empty()) throw Error("Keine Empfängeradresse angegeben.");
        for (const std::string& rcpt : recipients)
            if (!IsValidMailAddress(rcpt)) throw Error("Ungültige Empfängeradresse: \"" + rcpt + "\"");

        Reply r = Command("MAIL FROM:<" + from + ">");
        if (r.code != 250) Refused("Absender " + from + " abgelehnt: " + r.text);
        for (const std::string& rcpt : recipients) {
            r = Command("RCPT TO:<" + rcpt + ">");
            if (r.code != 250 && r.code != 251) Refused("Empfänger " + rcpt + " abgelehnt: " + r.text);
        }
        r = Command("DATA");
        if (r.code != 354) Refused("Der Server nimmt die Nachricht nicht an: " + r.text);
        SendAll(DataForTransfer(data));
        r = ReadReply();
        if (r.code != 250) throw Error("Der Server hat die Nachricht abgelehnt: " + r.text);
    }

    void Close() {
        if (!Connected()) return;
        try {
            Command("QUIT");
        } catch (const ConnectionClosed&) {
            // closing right away instead of answering is fine
        } catch (...) {
            Drop();
            throw;
        }
        Drop();
    }
};

SmtpSession::SmtpSession() : impl_(std::make_unique<Impl>()) {}
SmtpSession::~SmtpSession() = default;

void SmtpSession::SetServer(const std::string& host, int port) {
    impl_->host = host;
    impl_->port = port;
}

void SmtpSession::SetLogin(const std::string& user, const std::string& password) {
    impl_->user = user;
    impl_->password = password;
}

void SmtpSession::SetStepTimeout(int milliseconds) { impl_->stepTimeoutMs = milliseconds > 0 ? milliseconds : 1; }

void SmtpSession::Open(int connectTimeoutMs) {
    if (impl_->IsOpen()) return;
    impl_->Open(connectTimeoutMs);
}

bool SmtpSession::IsOpen() { return impl_->IsOpen(); }

void SmtpSession::SendMail(const std::string& envelopeFrom, const std::vector<std::string>& recipients,
                           const std::string& data) {
    impl_->SendMail(envelopeFrom, recipients, data);
}

void SmtpSession::Close() { impl_->Close(); }

TSmtpEmail::TSmtpEmail(const std::string& host, int port, const std::string& user,
                       const std::string& password, int connectTimeoutMs)
    : user_(user), password_(password) {
    SetupMailer(host, port, password, user, connectTimeoutMs);
}

} // namespace brenvo
